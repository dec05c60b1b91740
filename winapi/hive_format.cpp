#include "winapi/hive_format.h"

#include <cstring>
#include <string_view>
#include <utility>

#include "winapi/code_page.h"

namespace {

constexpr std::string_view kRootName = "HKEY_CLASSES_ROOT";

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
    const unsigned char low = static_cast<unsigned char>(bytes_[index * kUnitSize]);
    if (kEncoding == HiveEncoding::kAnsi) return low < 0x80 ? low : AnsiToUtf16(low);
    const unsigned char high = static_cast<unsigned char>(bytes_[index * kUnitSize + 1]);
    return static_cast<char16_t>(low | (high << 8));
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
  uint64_t word = 0;
  for (int i = 7; i >= 0; --i) word = (word << 8) | static_cast<unsigned char>(bytes[i]);
  return word;
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

// Reads the UTF-16 units of one file, line by line, where they lie. Lines
// end in CR LF, LF or CR alone, as the import splits them.
template <HiveEncoding kEncoding>
class LineReader {
 public:
  using Text = Units<kEncoding>;

  // `start` is the byte the first line starts at.
  LineReader(const std::string& text, size_t start)
      : all_(text.data(), text.size() / Text::kUnitSize), position_(start / Text::kUnitSize) {}

  bool AtEnd() const { return position_ >= all_.size(); }
  // The byte the next line starts at.
  size_t position() const { return position_ * Text::kUnitSize; }
  size_t line_number() const { return line_number_; }
  LineEnd line_end() const { return line_end_; }

  // Gives the next line, without its line end, in `*line`. Returns false,
  // with `*error` set, for a zero character.
  bool Next(Text* line, std::string* error);

 private:
  Text all_;
  size_t position_;  // in units
  size_t line_number_ = 0;
  LineEnd line_end_ = LineEnd::kNone;
};

template <HiveEncoding kEncoding>
bool LineReader<kEncoding>::Next(Text* line, std::string* error) {
  ++line_number_;
  const size_t end = FindLineBreak(all_, position_);
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

// Parses the lines after the header as the import reads them and records
// the sections. Lines that the import skips (of unknown form, bad value
// data, a section line without "]" or with a blank after "[") are passed
// over and stay where they are, in the section they are in.
template <HiveEncoding kEncoding>
class HiveParser {
 public:
  using Text = Units<kEncoding>;

  HiveParser(LineReader<kEncoding>* reader, KeyTree* tree) : reader_(*reader), tree_(*tree) {}

  // Returns false with `*error` set at the first fault.
  bool Run(std::vector<HiveSection>* sections, std::string* error);

 private:
  bool ParseLine(Text line, size_t begin, std::string* error);
  void ContinueHexBytes(Text line);
  bool ParseSection(Text line, size_t begin, std::string* error);
  bool AddClassesRootKey(Text path, HiveSection* section, std::string* error);
  bool AnsiName(Text name, std::string_view* ansi, std::string* error);
  bool AddChild(std::string_view name, size_t depth, KeyNode* parent, std::string* error);
  void ParseValue(Text line);

  LineReader<kEncoding>& reader_;
  KeyTree& tree_;
  std::vector<HiveSection>* sections_ = nullptr;
  bool continued_ = false;  // the previous line ended hex bytes with "\"
  // The keys of the last section's path: sections that follow each other
  // mostly share the start of their paths. A name that matches the one
  // these keys were created with names the same key.
  std::vector<KeyNode*> previous_path_;
  std::string name_;  // a UTF-16 file's key name in ANSI
};

template <HiveEncoding kEncoding>
bool HiveParser<kEncoding>::Run(std::vector<HiveSection>* sections, std::string* error) {
  sections_ = sections;
  Text line;
  while (!reader_.AtEnd()) {
    const size_t begin = reader_.position();
    if (!reader_.Next(&line, error) || !ParseLine(line, begin, error)) return false;
  }
  // A value continued past the end of the file ends there.
  return true;
}

template <HiveEncoding kEncoding>
bool HiveParser<kEncoding>::ParseLine(Text line, size_t begin, std::string* error) {
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
bool HiveParser<kEncoding>::ParseSection(Text line, size_t begin, std::string* error) {
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
  if ((EqualsAscii(root, kRootName) || EqualsAscii(root, "HKCR")) &&
      (path.empty() || path.front() != u'\\')) {
    if (!AddClassesRootKey(path, &section, error)) return false;
  }
  sections_->push_back(section);
  return true;
}

template <HiveEncoding kEncoding>
bool HiveParser<kEncoding>::AddClassesRootKey(Text path, HiveSection* section,
                                              std::string* error) {
  KeyNode* node = tree_.root();
  size_t depth = 0;
  bool same_so_far = true;  // as the previous section's path, key for key
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == Text::npos) end = path.size();
    if (end > start) {
      std::string_view name;
      if (!AnsiName(path.substr(start, end - start), &name, error)) return false;
      same_so_far =
          same_so_far && depth < previous_path_.size() && previous_path_[depth]->name() == name;
      if (!same_so_far) {
        const size_t keys_before = tree_.key_count();
        if (!AddChild(name, depth, node, error)) return false;
        if (tree_.key_count() != keys_before &&
            section->created_from == HiveSection::kCreatedNone) {
          section->created_from = static_cast<uint16_t>(depth + 1);
        }
      }
      node = previous_path_[depth];
      ++depth;
    }
    start = end + 1;
  }
  section->key = node;
  return true;
}

// The ANSI bytes of key name `name`: in an ANSI file the bytes themselves.
template <HiveEncoding kEncoding>
bool HiveParser<kEncoding>::AnsiName(Text name, std::string_view* ansi, std::string* error) {
  if (kEncoding == HiveEncoding::kAnsi) {
    *ansi = std::string_view(name.bytes(), name.size());
    return true;
  }
  name_.resize(name.size());
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
    name_[at] = static_cast<char>(byte);
  }
  *ansi = name_;
  return true;
}

template <HiveEncoding kEncoding>
bool HiveParser<kEncoding>::AddChild(std::string_view name, size_t depth, KeyNode* parent,
                                     std::string* error) {
  if (name.size() > KeyTree::kMaxNameLength) {
    *error = "key name longer than 256 characters";
    return false;
  }
  if (depth >= KeyTree::kMaxDepth) {
    *error = "key nested deeper than 512 levels";
    return false;
  }
  previous_path_.resize(depth + 1);
  previous_path_[depth] = tree_.AddChild(parent, name);
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
bool DetectEncoding(const std::string& text, HiveEncoding* encoding, size_t* start,
                    std::string* error) {
  const auto starts_with = [&](const char* prefix, size_t size) {
    return text.size() >= size && std::memcmp(text.data(), prefix, size) == 0;
  };
  if (starts_with("\xFF\xFE", 2)) {
    if (text.size() % 2 != 0) {
      *error = "UTF-16 file with an odd number of bytes";
      return false;
    }
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
size_t EstimatedSectionCount(size_t units) { return units / 64 + 16; }

}  // namespace

template <HiveEncoding kEncoding>
bool HiveDocument::ParseAs(size_t start, HiveError* error) {
  LineReader<kEncoding> reader(text_, start);
  Units<kEncoding> header;
  if (!reader.Next(&header, &error->message)) return false;
  if (!IsHeader(header)) {
    error->message =
        "the first line is not \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"";
    return false;
  }
  line_end_ = LineEndText(reader.line_end());
  sections_.reserve(EstimatedSectionCount(text_.size() / Units<kEncoding>::kUnitSize));
  HiveParser<kEncoding> parser(&reader, tree_);
  if (!parser.Run(&sections_, &error->message)) {
    error->line = reader.line_number();
    return false;
  }
  return true;
}

bool HiveDocument::Parse(std::string text, KeyTree* tree, HiveError* error) {
  text_ = std::move(text);
  tree_ = tree;
  sections_.clear();
  error->message.clear();
  error->line = 1;
  size_t start = 0;
  if (!DetectEncoding(text_, &encoding_, &start, &error->message)) return false;
  if (encoding_ == HiveEncoding::kAnsi) return ParseAs<HiveEncoding::kAnsi>(start, error);
  return ParseAs<HiveEncoding::kUtf16Le>(start, error);
}

bool HiveDocument::Write(const HiveSink& sink) const {
  // Kept sections lie one after another in the text: each run of them, with
  // the text before the first section, goes out in one piece.
  size_t kept_from = 0;
  for (size_t index = 0; index < sections_.size(); ++index) {
    const HiveSection& section = sections_[index];
    if (section.key == nullptr || !section.key->deleted()) continue;
    if (section.begin > kept_from && !sink(text_.data() + kept_from, section.begin - kept_from)) {
      return false;
    }
    kept_from = index + 1 < sections_.size() ? sections_[index + 1].begin : text_.size();
    if (!WriteReplacement(section, sink)) return false;
  }
  return kept_from == text_.size() || sink(text_.data() + kept_from, text_.size() - kept_from);
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
