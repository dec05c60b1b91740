#include "winapi/hive_format.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "winapi/code_page.h"
#include "winapi/hand_off.h"

// The file being read, a window of it at a time: the bytes from offset
// base() on that are in memory.
class HiveInput {
 public:
  // `size_hint`: the file's size as far as known, so that a small file
  // takes a small window.
  HiveInput(const HiveSource& source, uint64_t size_hint)
      : source_(source), first_window_(static_cast<size_t>(std::min<uint64_t>(size_hint + 1, kChunk))) {}

  const char* data() const { return buffer_.data(); }
  size_t size() const { return filled_; }
  uint64_t base() const { return base_; }
  // Whether the file could not be read to its end.
  bool failed() const { return failed_; }

  // Drops the window's bytes before `keep`, then reads more of the file
  // into it. Returns false at the end of the file or when it cannot be read.
  bool Extend(size_t keep);

 private:
  static constexpr size_t kChunk = 1 << 20;

  const HiveSource& source_;
  const size_t first_window_;
  std::vector<char> buffer_;
  size_t filled_ = 0;
  uint64_t base_ = 0;
  bool exhausted_ = false;
  bool failed_ = false;
};

bool HiveInput::Extend(size_t keep) {
  if (keep > 0) {
    std::memmove(buffer_.data(), buffer_.data() + keep, filled_ - keep);
    filled_ -= keep;
    base_ += keep;
  }
  if (exhausted_) return false;
  // A line longer than the window makes it grow.
  if (filled_ == buffer_.size()) buffer_.resize(std::max(first_window_, buffer_.size() * 2));
  const ptrdiff_t got = source_(buffer_.data() + filled_, buffer_.size() - filled_);
  if (got <= 0) {
    exhausted_ = true;
    failed_ = got < 0;
    return false;
  }
  filled_ += static_cast<size_t>(got);
  return true;
}

namespace {

constexpr std::string_view kRootName = "HKEY_CLASSES_ROOT";
constexpr bool kBigEndianHost = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

// The UTF-16 code units of a stretch of a file, read where they lie in its
// bytes (no copy): an ANSI byte as the unit of its character, or a UTF-16LE
// pair of bytes.
template <HiveEncoding kEncoding>
class Units {
 public:
  static constexpr size_t kUnitSize = kEncoding == HiveEncoding::kAnsi ? 1 : 2;
  static constexpr size_t npos = std::string_view::npos;

  Units() = default;
  Units(const char* bytes, size_t count) : bytes_(bytes), count_(count) {}

  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  const char* bytes() const { return bytes_; }

  char16_t operator[](size_t index) const {
    if constexpr (kEncoding == HiveEncoding::kAnsi) {
      const unsigned char byte = static_cast<unsigned char>(bytes_[index]);
      return byte < 0x80 ? byte : AnsiToUtf16(byte);
    }
    uint16_t unit;
    std::memcpy(&unit, bytes_ + index * kUnitSize, sizeof unit);
    return kBigEndianHost ? __builtin_bswap16(unit) : unit;
  }
  char16_t front() const { return (*this)[0]; }

  // The units from `from` (at most the size), `count` of them at most.
  Units substr(size_t from, size_t count = npos) const {
    from = from < count_ ? from : count_;
    const size_t rest = count_ - from;
    return Units(bytes_ + from * kUnitSize, count < rest ? count : rest);
  }

  size_t find(char16_t unit, size_t from = 0) const {
    for (size_t at = from; at < count_; ++at) {
      if ((*this)[at] == unit) return at;
    }
    return npos;
  }
  size_t rfind(char16_t unit) const {
    for (size_t at = count_; at-- > 0;) {
      if ((*this)[at] == unit) return at;
    }
    return npos;
  }

  // True when the units start with, or are, the ASCII text `text`.
  bool StartsWith(std::string_view text) const {
    if (count_ < text.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
      if ((*this)[i] != static_cast<unsigned char>(text[i])) return false;
    }
    return true;
  }
  bool Is(std::string_view text) const { return count_ == text.size() && StartsWith(text); }

 private:
  const char* bytes_ = "";
  size_t count_ = 0;
};

// The blanks that the import skips between the parts of a line.
bool IsBlank(char16_t unit) { return unit == u' ' || unit == u'\t'; }

// The white space that the C runtime's wcstoul skips before a number (the
// import reads hex bytes and types with it): measured, U+00A0 and the
// Unicode spaces included, U+001C..U+001F, U+200B and U+FEFF not.
bool IsCrtSpace(char16_t unit) {
  return (unit >= u'\t' && unit <= u'\r') || unit == u' ' || unit == 0x85 || unit == 0xA0 ||
         unit == 0x1680 || (unit >= 0x2000 && unit <= 0x200A) || unit == 0x2028 ||
         unit == 0x2029 || unit == 0x202F || unit == 0x205F || unit == 0x3000;
}

int HexValue(char16_t unit) {
  if (unit >= u'0' && unit <= u'9') return unit - u'0';
  if (unit >= u'a' && unit <= u'f') return unit - u'a' + 10;
  if (unit >= u'A' && unit <= u'F') return unit - u'A' + 10;
  return -1;
}

bool IsHexDigit(char16_t unit) { return HexValue(unit) >= 0; }

template <typename Text>
Text SkipBlanks(Text units) {
  size_t count = 0;
  while (count < units.size() && IsBlank(units[count])) ++count;
  return units.substr(count);
}

// True when `units` is the ASCII text `text`, letters in any case.
template <typename Text>
bool EqualsAscii(Text units, std::string_view text) {
  if (units.size() != text.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t unit = units[i];
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit + 0x20);
    char expected = text[i];
    if (expected >= 'A' && expected <= 'Z') expected = static_cast<char>(expected + 0x20);
    if (unit != static_cast<unsigned char>(expected)) return false;
  }
  return true;
}

// A hex number read as wcstoul(text, &end, 16) reads it: white space, a
// sign, a "0x" prefix, digits (a 32-bit unsigned long, as on Windows).
template <typename Text>
struct CrtNumber {
  bool converted = false;  // false: no digits, `rest` is the whole text
  bool overflow = false;
  uint32_t value = 0;
  Text rest;
};

template <typename Text>
CrtNumber<Text> ReadCrtHex(Text text) {
  CrtNumber<Text> number;
  number.rest = text;
  size_t at = 0;
  while (at < text.size() && IsCrtSpace(text[at])) ++at;
  const bool negative = at < text.size() && text[at] == u'-';
  if (at < text.size() && (text[at] == u'-' || text[at] == u'+')) ++at;
  // "0x" is a prefix only before a digit: "0xg" reads as 0 followed by "xg".
  if (at + 2 < text.size() && text[at] == u'0' && (text[at + 1] == u'x' || text[at + 1] == u'X') &&
      IsHexDigit(text[at + 2])) {
    at += 2;
  }
  if (at >= text.size() || !IsHexDigit(text[at])) return number;
  uint64_t value = 0;
  for (; at < text.size() && IsHexDigit(text[at]); ++at) {
    value = value * 16 + static_cast<uint64_t>(HexValue(text[at]));
    if (value > 0xFFFFFFFFu) number.overflow = true;
  }
  number.converted = true;
  number.value = number.overflow ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
  if (negative && !number.overflow) number.value = 0u - number.value;
  number.rest = text.substr(at);
  return number;
}

// True when `bytes`, the comma-separated hex bytes of a value, end with a
// backslash that continues them on the next line, as the import reads them:
// a byte is a number up to 0xff; where a byte should start, blanks and "\"
// continue the value, blanks and nothing or ";..." after it allowed
// (`...,\ ;note`); ";" ends the value; after a byte come "," or blanks
// and the end or ";...". Anything else makes the value invalid, so the next
// line is not read as part of it.
template <typename Text>
bool HexBytesContinue(Text bytes) {
  // Most values end on their own line: without a backslash they cannot go on.
  if (bytes.rfind(u'\\') == Text::npos) return false;
  while (!bytes.empty()) {
    const CrtNumber<Text> number = ReadCrtHex(bytes);
    if (!number.converted) {
      const Text rest = SkipBlanks(bytes);
      if (rest.empty() || rest.front() != u'\\') return false;
      const Text after = SkipBlanks(rest.substr(1));
      return after.empty() || after.front() == u';';
    }
    if (number.overflow || number.value > 0xFF) return false;
    if (number.rest.empty() || number.rest.front() != u',') return false;
    bytes = number.rest.substr(1);
  }
  return false;
}

// The hex bytes of value data "hex:..." or "hex(type):...", the tags in
// lower case only. Returns false for other data and for a bad type (no
// "0x" prefix, at most 32 bits; an empty type is 0).
template <typename Text>
bool HexBytesOf(Text data, Text* bytes) {
  if (data.StartsWith("hex:")) {
    *bytes = data.substr(4);
    return true;
  }
  if (!data.StartsWith("hex(")) return false;
  const Text type = data.substr(4);
  if (type.empty() || (type.size() > 1 && (type[1] == u'x' || type[1] == u'X'))) return false;
  const CrtNumber<Text> number = ReadCrtHex(type);
  if (number.overflow || !number.rest.StartsWith("):")) return false;
  *bytes = number.rest.substr(2);
  return true;
}

// Skips the name of a value line: "@", or a quoted name in which a
// backslash escapes the character after it ("\0" and a backslash at the
// end make it invalid). Returns false when the name is invalid.
template <typename Text>
bool SkipValueName(Text* line) {
  if (line->front() == u'@') {
    *line = line->substr(1);
    return true;
  }
  for (size_t at = 1; at < line->size(); ++at) {
    const char16_t unit = (*line)[at];
    if (unit == u'"') {
      *line = line->substr(at + 1);
      return true;
    }
    if (unit == u'\\' && (++at == line->size() || (*line)[at] == u'0')) return false;
  }
  return false;
}

// How a line ends.
enum class LineEnd { kNone, kLf, kCr, kCrLf };

// Little-endian 64-bit word of the 8 bytes at `bytes`.
uint64_t LoadWord(const char* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return kBigEndianHost ? __builtin_bswap64(word) : word;
}

// The lanes (units of `kUnitSize` bytes) of `word` that hold a unit below 14
// (the units a line can end at, zero, LF and CR, are among them): the top
// bit of each such lane is set. Lanes above the lowest flagged one may be
// flagged wrongly (a borrow); the lowest is always right.
template <size_t kUnitSize>
uint64_t LanesBelow14(uint64_t word) {
  constexpr uint64_t kOnes = kUnitSize == 1 ? 0x0101010101010101u : 0x0001000100010001u;
  constexpr uint64_t kTops = kOnes << (8 * kUnitSize - 1);
  return (word - kOnes * 14) & ~word & kTops;
}

// The index of the first unit at or after `from` that is zero, LF or CR;
// the size when there is none. Looks at a word of units at a time.
template <HiveEncoding kEncoding>
size_t FindLineBreak(Units<kEncoding> units, size_t from) {
  constexpr size_t kUnitSize = Units<kEncoding>::kUnitSize;
  constexpr size_t kPerWord = 8 / kUnitSize;
  size_t at = from;
  while (at < units.size()) {
    if (units.size() - at >= kPerWord) {
      const uint64_t lanes = LanesBelow14<kUnitSize>(LoadWord(units.bytes() + at * kUnitSize));
      if (lanes == 0) {
        at += kPerWord;
        continue;
      }
      at += static_cast<size_t>(__builtin_ctzll(lanes)) / (8 * kUnitSize);
    }
    const char16_t unit = units[at];
    if (unit == 0 || unit == u'\n' || unit == u'\r') return at;
    ++at;
  }
  return units.size();
}

// Reads the UTF-16 units of one file, line by line, where they lie in the
// input's window. Lines end in CR LF, LF or CR alone, as the import splits
// them.
template <HiveEncoding kEncoding>
class LineReader {
 public:
  using Text = Units<kEncoding>;

  // `start` is the byte of the window the first line starts at.
  LineReader(HiveInput* input, size_t start) : input_(*input), position_(start / Text::kUnitSize) {
    Refresh();
  }

  bool AtEnd() {
    while (position_ >= all_.size()) {
      if (!More(position_)) return true;
    }
    return false;
  }
  // The byte of the file the next line starts at.
  uint64_t position() const { return input_.base() + position_ * Text::kUnitSize; }
  size_t line_number() const { return line_number_; }
  LineEnd line_end() const { return line_end_; }
  // The bytes after the last whole unit at the end of the file.
  size_t trailing_bytes() const { return input_.size() % Text::kUnitSize; }

  // Gives the next line, without its line end, in `*line`: valid until the
  // next call. Returns false, with `*error` set, for a zero character.
  bool Next(Text* line, std::string* error);

 private:
  // Reads more of the file, keeping the units from `keep` on: positions
  // move down by `keep`, also when it returns false at the end of the file.
  bool More(size_t keep);
  void Refresh() { all_ = Text(input_.data(), input_.size() / Text::kUnitSize); }

  HiveInput& input_;
  Text all_;  // the whole units of the window
  size_t position_;  // in units of the window
  size_t line_number_ = 0;
  LineEnd line_end_ = LineEnd::kNone;
};

template <HiveEncoding kEncoding>
bool LineReader<kEncoding>::More(size_t keep) {
  const bool more = input_.Extend(keep * Text::kUnitSize);
  position_ -= keep;
  Refresh();
  return more;
}

template <HiveEncoding kEncoding>
bool LineReader<kEncoding>::Next(Text* line, std::string* error) {
  ++line_number_;
  size_t end = FindLineBreak(all_, position_);
  // Until the line's end is in the window, and with it the LF that may
  // follow a CR.
  while (end == all_.size() || (end + 1 == all_.size() && all_[end] == u'\r')) {
    const size_t kept = position_;
    const bool more = More(kept);
    end -= kept;
    if (!more) break;
    end = FindLineBreak(all_, end);
  }
  *line = all_.substr(position_, end - position_);
  position_ = end;
  line_end_ = LineEnd::kNone;
  if (end == all_.size()) return true;
  const char16_t unit = all_[end];
  if (unit == 0) {
    *error = "zero character";
    return false;
  }
  ++position_;
  line_end_ = LineEnd::kLf;
  if (unit == u'\r') {
    line_end_ = LineEnd::kCr;
    if (position_ < all_.size() && all_[position_] == u'\n') {
      ++position_;
      line_end_ = LineEnd::kCrLf;
    }
  }
  return true;
}

// Adds the keys of the sections' paths to the tree a few sections after
// each is read, in the order read. A path's lookups read memory one after
// another (a slot of the index, a key, its name, then the next name's);
// reading ahead starts those of the sections in between at the same time.
class KeyPathQueue {
 public:
  KeyPathQueue(KeyTree* tree, std::vector<HiveSection>* sections)
      : tree_(*tree), sections_(*sections) {}

  // Queues the path of ANSI key names `names` (checked: each one the
  // registry can hold) of the section at index `section`.
  void Add(const std::vector<std::string_view>& names, size_t section);
  // Adds the keys of every path queued.
  void Finish() {
    while (added_ < queued_) AddKeys(ring_[added_++ % kLength]);
  }

 private:
  // How many paths are read ahead, and when the later stages start.
  static constexpr size_t kLength = 12;
  static constexpr size_t kKeyStageAge = 4;
  static constexpr size_t kNameStageAge = 8;

  struct Path {
    std::string names;  // one after another
    std::vector<size_t> ends;  // where each name ends in `names`
    std::vector<uint32_t> hashes;  // each key's KeyTree hash
    size_t shared = 0;  // names the same as in the path before
    size_t section = 0;
    std::string_view Name(size_t depth) const {
      const size_t begin = depth == 0 ? 0 : ends[depth - 1];
      return std::string_view(names).substr(begin, ends[depth] - begin);
    }
    size_t depth() const { return ends.size(); }
  };

  void Fill(Path* path, const std::vector<std::string_view>& names, const Path* previous);
  void Prefetch(size_t age, KeyTree::PrefetchStage stage) const;
  void AddKeys(const Path& path);

  KeyTree& tree_;
  std::vector<HiveSection>& sections_;
  std::array<Path, kLength> ring_;
  size_t queued_ = 0;  // paths ever queued; the last is ring_[(queued_ - 1) % kLength]
  size_t added_ = 0;   // of them, those whose keys are in the tree
  // The keys of the last path added: paths that follow each other mostly
  // share their first names.
  std::vector<KeyNode*> previous_keys_;
};

void KeyPathQueue::Add(const std::vector<std::string_view>& names, size_t section) {
  if (queued_ - added_ == kLength) AddKeys(ring_[added_++ % kLength]);
  Path& path = ring_[queued_ % kLength];
  Fill(&path, names, queued_ == 0 ? nullptr : &ring_[(queued_ - 1) % kLength]);
  path.section = section;
  ++queued_;
  Prefetch(0, KeyTree::PrefetchStage::kSlot);
  Prefetch(kKeyStageAge, KeyTree::PrefetchStage::kKey);
  Prefetch(kNameStageAge, KeyTree::PrefetchStage::kName);
}

void KeyPathQueue::Fill(Path* path, const std::vector<std::string_view>& names,
                        const Path* previous) {
  path->names.clear();
  path->ends.clear();
  path->hashes.clear();
  path->shared = 0;
  bool same = previous != nullptr;
  uint32_t hash = tree_.root()->hash();
  for (size_t depth = 0; depth < names.size(); ++depth) {
    same = same && depth < previous->depth() && previous->Name(depth) == names[depth];
    if (same) ++path->shared;
    hash = same ? previous->hashes[depth] : KeyTree::ChildHash(hash, names[depth]);
    path->names.append(names[depth]);
    path->ends.push_back(path->names.size());
    path->hashes.push_back(hash);
  }
}

void KeyPathQueue::Prefetch(size_t age, KeyTree::PrefetchStage stage) const {
  if (queued_ - added_ <= age) return;
  const Path& path = ring_[(queued_ - 1 - age) % kLength];
  tree_.Prefetch(path.hashes.data() + path.shared, path.depth() - path.shared, stage);
}

void KeyPathQueue::AddKeys(const Path& path) {
  HiveSection& section = sections_[path.section];
  previous_keys_.resize(path.shared);
  KeyNode* node = path.shared == 0 ? tree_.root() : previous_keys_.back();
  for (size_t depth = path.shared; depth < path.depth(); ++depth) {
    const size_t keys_before = tree_.key_count();
    node = tree_.AddChild(node, path.Name(depth), path.hashes[depth]);
    if (tree_.key_count() != keys_before && section.created_from == HiveSection::kCreatedNone) {
      section.created_from = static_cast<uint16_t>(depth + 1);
    }
    previous_keys_.push_back(node);
  }
  section.key = node;
}

// Sections as the parser read them, on their way to the tree, with the
// names of their paths. Aligned so that the parser filling one batch and a
// thread reading another do not share a cache line: their writes to it
// would take it from each other's cache at every name.
struct alignas(64) SectionBatch {
  struct Entry {
    HiveSection section;
    bool names_keys = false;  // whether the section names a key of the tree
    size_t names_end = 0;     // its path's names end before name_ends[names_end]
  };
  // A batch is handed over when it holds this many sections or names.
  static constexpr size_t kEntries = 2048;
  static constexpr size_t kNameBytes = 256 << 10;

  bool full() const { return entries.size() >= kEntries || names.size() >= kNameBytes; }
  void clear() {
    entries.clear();
    names.clear();
    name_ends.clear();
  }

  std::vector<Entry> entries;
  std::string names;  // the names of every path, one after another
  std::vector<size_t> name_ends;  // where each name ends in `names`
};

// Records the sections of batches and adds their keys to the tree.
class SectionAdder {
 public:
  SectionAdder(KeyTree* tree, std::vector<HiveSection>* sections)
      : sections_(*sections), paths_(tree, sections) {}

  void Add(const SectionBatch& batch);
  // Adds the keys of the paths still queued.
  void Finish() { paths_.Finish(); }

 private:
  std::vector<HiveSection>& sections_;
  KeyPathQueue paths_;
  std::vector<std::string_view> names_;
};

void SectionAdder::Add(const SectionBatch& batch) {
  const std::string_view names(batch.names);
  const size_t* const name_ends = batch.name_ends.data();
  size_t name = 0;
  size_t begin = 0;
  for (const SectionBatch::Entry& entry : batch.entries) {
    sections_.push_back(entry.section);
    if (!entry.names_keys) continue;
    names_.clear();
    for (; name < entry.names_end; ++name) {
      names_.push_back(names.substr(begin, name_ends[name] - begin));
      begin = name_ends[name];
    }
    paths_.Add(names_, sections_.size() - 1);
  }
}

// Takes the parser's sections in batches to a SectionAdder: on a thread of
// its own for a large file, where adding keys costs as much as parsing.
class SectionPipe {
 public:
  SectionPipe(KeyTree* tree, std::vector<HiveSection>* sections, bool threaded)
      : adder_(tree, sections),
        hand_off_(HandOff::Make(
            kSlots,
            [this](size_t slot) {
              adder_.Add(batches_[slot]);
              batches_[slot].clear();
            },
            threaded)),
        filling_(hand_off_->Take()) {}

  // Queues `section` with the ANSI key names of its path, or without keys
  // when `names` is null.
  void Add(const HiveSection& section, const std::vector<std::string_view>* names);
  // Records every section queued and adds its keys; call once, at the end.
  void Finish() {
    hand_off_->Send(filling_);
    hand_off_->Finish();
    adder_.Finish();
  }

 private:
  static constexpr size_t kSlots = 3;

  SectionAdder adder_;
  std::array<SectionBatch, kSlots> batches_;
  std::unique_ptr<HandOff> hand_off_;  // after what it consumes: it ends first
  size_t filling_;
};

void SectionPipe::Add(const HiveSection& section, const std::vector<std::string_view>* names) {
  SectionBatch& batch = batches_[filling_];
  SectionBatch::Entry entry;
  entry.section = section;
  entry.names_keys = names != nullptr;
  if (names != nullptr) {
    for (const std::string_view name : *names) {
      batch.names.append(name);
      batch.name_ends.push_back(batch.names.size());
    }
  }
  entry.names_end = batch.name_ends.size();
  batch.entries.push_back(entry);
  if (batch.full()) {
    hand_off_->Send(filling_);
    filling_ = hand_off_->Take();
  }
}

// Parses the lines after the header as the import reads them and records
// the sections. Lines that the import skips (of unknown form, bad value
// data, a section line without "]" or with a blank after "[") are passed
// over and stay where they are, in the section they are in.
template <HiveEncoding kEncoding>
class HiveParser {
 public:
  using Text = Units<kEncoding>;

  // Records the sections in `sections`; adds their keys on a thread of its
  // own when `threaded`.
  HiveParser(LineReader<kEncoding>* reader, KeyTree* tree, std::vector<HiveSection>* sections,
             bool threaded)
      : reader_(*reader), sections_(tree, sections, threaded) {}

  // Returns false with `*error` set at the first fault.
  bool Run(std::string* error);

 private:
  bool ParseLine(Text line, uint64_t begin, std::string* error);
  void ContinueHexBytes(Text line);
  bool ParseSection(Text line, uint64_t begin, std::string* error);
  bool SplitNames(Text path, std::string* error);
  bool PathBytes(Text path, std::string_view* bytes);
  bool SplitConvertedNames(Text path, std::string* error);
  bool AddName(std::string_view name, std::string* error);
  bool AnsiName(Text name, std::string_view* ansi, std::string* error);
  void ParseValue(Text line);

  LineReader<kEncoding>& reader_;
  SectionPipe sections_;
  bool continued_ = false;  // the previous line ended hex bytes with "\"
  // The names of the section's path, and a UTF-16 file's names in ANSI.
  std::vector<std::string_view> names_;
  std::string ansi_names_;
};

template <HiveEncoding kEncoding>
bool HiveParser<kEncoding>::Run(std::string* error) {
  Text line;
  while (!reader_.AtEnd()) {
    const uint64_t begin = reader_.position();
    if (!reader_.Next(&line, error) || !ParseLine(line, begin, error)) return false;
  }
  // A value continued past the end of the file ends there.
  sections_.Finish();
  return true;
}

template <HiveEncoding kEncoding>
bool HiveParser<kEncoding>::ParseLine(Text line, uint64_t begin, std::string* error) {
  const Text text = SkipBlanks(line);
  if (continued_) {
    ContinueHexBytes(text);
    return true;
  }
  if (text.empty()) return true;
  const char16_t first = text.front();
  if (first == u'[') return ParseSection(text, begin, error);
  if (first == u'"' || first == u'@') ParseValue(text);
  // Anything else (comments ";..." and "#...", lines of unknown form) is
  // passed over.
  return true;
}

// A line after "\": blank lines, blank-only lines and ";" comments are
// passed over and the value goes on; hex bytes go on with it; anything else
// ("#" comments, a section line) ends the value as invalid, and the line
// goes with it.
template <HiveEncoding kEncoding>
void HiveParser<kEncoding>::ContinueHexBytes(Text text) {
  if (text.empty() || text.front() == u';') return;
  continued_ = IsHexDigit(text.front()) && HexBytesContinue(text);
}

template <HiveEncoding kEncoding>
bool HiveParser<kEncoding>::ParseSection(Text line, uint64_t begin, std::string* error) {
  const Text inside = line.substr(1);
  // The last "]" closes the name: "]" is an ordinary name character, and
  // what follows the last one is passed over.
  const size_t close = inside.rfind(u']');
  if (inside.empty() || IsBlank(inside.front()) || close == Text::npos) {
    return true;  // the import passes the line over; the section goes on
  }
  if (inside.front() == u'-') {
    *error = "deletion sections \"[-...]\" are not supported";
    return false;
  }
  const Text name = inside.substr(0, close);
  const size_t separator = name.find(u'\\');
  const Text root = name.substr(0, separator);
  const Text path = separator == Text::npos ? Text() : name.substr(separator + 1);
  HiveSection section;
  section.begin = begin;
  section.created_from = HiveSection::kCreatedNone;
  // A section under another root, an unknown root or a path that starts
  // with "\" (the import cannot open it) names no key of the tree; its
  // values belong to no key either.
  const bool names_keys = (EqualsAscii(root, kRootName) || EqualsAscii(root, "HKCR")) &&
                         (path.empty() || path.front() != u'\\');
  if (names_keys && !SplitNames(path, error)) return false;
  // The section's key is set when its path's keys are added.
  sections_.Add(section, names_keys ? &names_ : nullptr);
  return true;
}

// The names of `path` (between backslashes, empty ones skipped) in ANSI, in
// `names_`. Fails at the first that the platform's registry could not hold.
template <HiveEncoding kEncoding>
bool HiveParser<kEncoding>::SplitNames(Text path, std::string* error) {
  names_.clear();
  std::string_view bytes;
  if (!PathBytes(path, &bytes)) return SplitConvertedNames(path, error);
  for (size_t start = 0; start <= bytes.size();) {
    const void* found = std::memchr(bytes.data() + start, '\\', bytes.size() - start);
    const size_t end = found ? static_cast<size_t>(static_cast<const char*>(found) - bytes.data())
                             : bytes.size();
    if (end > start && !AddName(bytes.substr(start, end - start), error)) return false;
    start = end + 1;
  }
  return true;
}

// The ANSI bytes of `path` when each of its units is its own byte: always in
// an ANSI file, and in a UTF-16 file when every unit is below U+0080 or from
// U+00A0 to U+00FF (they are then put in `ansi_names_`). The units are
// narrowed in one pass that the compiler can vectorize.
template <HiveEncoding kEncoding>
bool HiveParser<kEncoding>::PathBytes(Text path, std::string_view* bytes) {
  if constexpr (kEncoding == HiveEncoding::kAnsi) {
    *bytes = std::string_view(path.bytes(), path.size());
    return true;
  }
  ansi_names_.resize(path.size());
  char* out = ansi_names_.data();
  unsigned needs_code_page = 0;
  for (size_t at = 0; at < path.size(); ++at) {
    const char16_t unit = path[at];
    needs_code_page |=
        static_cast<unsigned>(unit - 0x80u < 0x20u) | static_cast<unsigned>(unit > 0xFF);
    out[at] = static_cast<char>(unit);
  }
  *bytes = ansi_names_;
  return needs_code_page == 0;
}

// SplitNames for a UTF-16 path with characters that the code page converts.
template <HiveEncoding kEncoding>
bool HiveParser<kEncoding>::SplitConvertedNames(Text path, std::string* error) {
  ansi_names_.clear();
  ansi_names_.reserve(path.size());  // the names stay where they are put
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == Text::npos) end = path.size();
    std::string_view name;
    if (end > start && !(AnsiName(path.substr(start, end - start), &name, error) &&
                         AddName(name, error))) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

template <HiveEncoding kEncoding>
bool HiveParser<kEncoding>::AddName(std::string_view name, std::string* error) {
  if (name.size() > KeyTree::kMaxNameLength) {
    *error = "key name longer than 256 characters";
    return false;
  }
  if (names_.size() >= KeyTree::kMaxDepth) {
    *error = "key nested deeper than 512 levels";
    return false;
  }
  names_.push_back(name);
  return true;
}

// The ANSI bytes of the UTF-16 key name `name`, put after the others in
// `ansi_names_`.
template <HiveEncoding kEncoding>
bool HiveParser<kEncoding>::AnsiName(Text name, std::string_view* ansi, std::string* error) {
  const size_t first = ansi_names_.size();
  for (size_t at = 0; at < name.size(); ++at) {
    const char16_t unit = name[at];
    unsigned char byte = static_cast<unsigned char>(unit);
    // Below U+0080 and from U+00A0 to U+00FF a unit is its own byte.
    if ((unit >= 0x80 && unit < 0xA0) || unit > 0xFF) {
      if (!Utf16ToAnsi(unit, &byte)) {
        *error = "key name has a character outside the ANSI code page";
        return false;
      }
    }
    ansi_names_.push_back(static_cast<char>(byte));
  }
  *ansi = std::string_view(ansi_names_).substr(first);
  return true;
}

// Only hex bytes ending in "\" matter here: the next line continues them.
// Every other value, valid or not, takes its own line only (with or without
// a key to go to, as before the first section).
template <HiveEncoding kEncoding>
void HiveParser<kEncoding>::ParseValue(Text line) {
  Text rest = line;
  if (!SkipValueName(&rest)) return;
  rest = SkipBlanks(rest);
  if (rest.empty() || rest.front() != u'=') return;
  Text bytes;
  if (HexBytesOf(SkipBlanks(rest.substr(1)), &bytes)) continued_ = HexBytesContinue(bytes);
}

// Works out the encoding from the first bytes and where the header starts.
bool DetectEncoding(std::string_view text, HiveEncoding* encoding, size_t* start,
                    std::string* error) {
  const auto starts_with = [&](const char* prefix, size_t size) {
    return text.size() >= size && std::memcmp(text.data(), prefix, size) == 0;
  };
  if (starts_with("\xFF\xFE", 2)) {
    *encoding = HiveEncoding::kUtf16Le;
    *start = 2;
    return true;
  }
  if (starts_with("\xEF\xBB\xBF", 3) || starts_with("\xFE\xFF", 2)) {
    *error = "unsupported encoding (only UTF-16LE with a byte order mark, or ANSI)";
    return false;
  }
  *encoding = HiveEncoding::kAnsi;
  *start = 0;
  return true;
}

template <typename Text>
bool IsHeader(Text line) {
  // The import takes the header in this exact spelling, after blanks but
  // with none after it: it refuses "Windows Registry Editor Version 5.00 "
  // and reads nothing from "REGEDIT4 ".
  const Text header = SkipBlanks(line);
  return header.Is("Windows Registry Editor Version 5.00") || header.Is("REGEDIT4");
}

const char* LineEndText(LineEnd end) {
  switch (end) {
    case LineEnd::kCrLf:
      return "\r\n";
    case LineEnd::kCr:
      return "\r";
    case LineEnd::kLf:
    case LineEnd::kNone:
      break;
  }
  return "\n";
}

// Room for the sections of a file of `units` units without growing the
// list on the way, for files with up to a section per 64 units (exports
// hold one per 150 or more): memory reserved and never written costs none.
size_t EstimatedSectionCount(uint64_t units) { return static_cast<size_t>(units / 64 + 16); }

// Enough of a file's first bytes to tell its encoding.
constexpr size_t kLongestByteOrderMark = 3;

}  // namespace

template <HiveEncoding kEncoding>
bool HiveDocument::ParseAs(HiveInput* input, size_t start, uint64_t size_hint, HiveError* error) {
  LineReader<kEncoding> reader(input, start);
  Units<kEncoding> header;
  if (!reader.Next(&header, &error->message)) return false;
  if (!IsHeader(header)) {
    error->message =
        "the first line is not \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"";
    return false;
  }
  line_end_ = LineEndText(reader.line_end());
  sections_.reserve(EstimatedSectionCount(size_hint / Units<kEncoding>::kUnitSize));
  HiveParser<kEncoding> parser(&reader, tree_, &sections_, size_hint >= kThreadedReadSize);
  const bool parsed = parser.Run(&error->message);
  error->line = reader.line_number();
  if (!parsed) return false;
  if (reader.trailing_bytes() != 0) {
    error->message = "UTF-16 file with an odd number of bytes";
    return false;
  }
  return true;
}

bool HiveDocument::Read(const HiveSource& source, uint64_t size_hint, KeyTree* tree,
                        HiveError* error) {
  tree_ = tree;
  sections_.clear();
  error->message.clear();
  error->line = 1;
  HiveInput input(source, size_hint);
  while (input.size() < kLongestByteOrderMark && input.Extend(0)) {
  }
  size_t start = 0;
  bool parsed = DetectEncoding(std::string_view(input.data(), input.size()), &encoding_, &start,
                               &error->message);
  if (parsed) {
    parsed = encoding_ == HiveEncoding::kAnsi
                 ? ParseAs<HiveEncoding::kAnsi>(&input, start, size_hint, error)
                 : ParseAs<HiveEncoding::kUtf16Le>(&input, start, size_hint, error);
  }
  size_ = input.base() + input.size();
  if (input.failed()) {
    error->message = "read error";
    return false;
  }
  return parsed;
}

bool HiveDocument::Parse(std::string text, KeyTree* tree, HiveError* error) {
  text_ = std::move(text);
  size_t offset = 0;
  return Read(
      [this, &offset](char* buffer, size_t capacity) {
        const size_t count = std::min(capacity, text_.size() - offset);
        std::memcpy(buffer, text_.data() + offset, count);
        offset += count;
        return static_cast<ptrdiff_t>(count);
      },
      text_.size(), tree, error);
}

bool HiveDocument::Write(const HiveWriter& out) const {
  // Kept sections lie one after another in the file: each run of them, with
  // the text before the first section, is copied in one piece.
  uint64_t kept_from = 0;
  for (size_t index = 0; index < sections_.size(); ++index) {
    const HiveSection& section = sections_[index];
    if (section.key == nullptr || !section.key->deleted()) continue;
    if (section.begin > kept_from && !out.copy(kept_from, section.begin - kept_from)) return false;
    kept_from = index + 1 < sections_.size() ? sections_[index + 1].begin : size_;
    if (!WriteReplacement(section, out.put)) return false;
  }
  return kept_from == size_ || out.copy(kept_from, size_ - kept_from);
}

bool HiveDocument::Write(const HiveSink& sink) const {
  return Write(HiveWriter{[&](uint64_t offset, uint64_t size) {
                            return sink(text_.data() + offset, static_cast<size_t>(size));
                          },
                          sink});
}

std::string HiveDocument::ToString() const {
  std::string out;
  (void)Write([&out](const char* data, size_t size) {  // appending cannot fail
    out.append(data, size);
    return true;
  });
  return out;
}

bool HiveDocument::WriteReplacement(const HiveSection& section, const HiveSink& sink) const {
  // Each key is created by one section only, so it is restored at most once.
  const KeyNode* kept = DeepestKeptKeyCreatedBy(section);
  if (kept == nullptr) return true;
  const std::string replacement = EncodeSectionFor(kept);
  return sink(replacement.data(), replacement.size());
}

const KeyNode* HiveDocument::DeepestKeptKeyCreatedBy(const HiveSection& section) {
  size_t depth = 0;
  for (const KeyNode* node = section.key; node->parent() != nullptr; node = node->parent()) {
    ++depth;
  }
  for (const KeyNode* node = section.key; depth >= section.created_from; node = node->parent()) {
    if (!node->deleted()) return node;
    --depth;
  }
  return nullptr;
}

std::string HiveDocument::EncodeSectionFor(const KeyNode* key) const {
  const std::string ansi =
      "[" + std::string(kRootName) + "\\" + tree_->PathOf(key) + "]" + line_end_ + line_end_;
  if (encoding_ == HiveEncoding::kAnsi) return ansi;
  std::string utf16;
  utf16.reserve(ansi.size() * 2);
  for (char byte : ansi) {
    const char16_t unit = AnsiToUtf16(static_cast<unsigned char>(byte));
    utf16.push_back(static_cast<char>(unit & 0xFF));
    utf16.push_back(static_cast<char>(unit >> 8));
  }
  return utf16;
}
