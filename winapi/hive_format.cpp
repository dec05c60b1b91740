#include "winapi/hive_format.h"

#include <cstring>
#include <string_view>
#include <utility>

#include "winapi/code_page.h"

namespace {

using Units = std::u16string_view;

constexpr std::string_view kRootName = "HKEY_CLASSES_ROOT";

// Roots whose sections are kept as they are.
constexpr std::string_view kOtherRoots[] = {"HKEY_LOCAL_MACHINE",  "HKLM",
                                            "HKEY_CURRENT_USER",   "HKCU",
                                            "HKEY_USERS",          "HKU",
                                            "HKEY_CURRENT_CONFIG", "HKCC",
                                            "HKEY_DYN_DATA",       "HKEY_PERFORMANCE_DATA"};

bool IsBlank(char16_t unit) { return unit == u' ' || unit == u'\t'; }

bool IsHexDigit(char16_t unit) {
  return (unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'f') ||
         (unit >= u'A' && unit <= u'F');
}

Units SkipBlanks(Units units) {
  size_t count = 0;
  while (count < units.size() && IsBlank(units[count])) ++count;
  return units.substr(count);
}

bool AllBlank(Units units) { return SkipBlanks(units).empty(); }

// True when `units` starts with the ASCII text `prefix`, letters in any case.
bool StartsWithAscii(Units units, std::string_view prefix) {
  if (units.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char16_t unit = units[i];
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit + 0x20);
    char expected = prefix[i];
    if (expected >= 'A' && expected <= 'Z') expected = static_cast<char>(expected + 0x20);
    if (unit != static_cast<unsigned char>(expected)) return false;
  }
  return true;
}

bool EqualsAscii(Units units, std::string_view text) {
  return units.size() == text.size() && StartsWithAscii(units, text);
}

// Skips a run of 1 to `max_digits` hex digits. Returns false when there is none.
bool SkipHexDigits(Units* units, size_t max_digits) {
  size_t count = 0;
  while (count < units->size() && count < max_digits && IsHexDigit((*units)[count])) ++count;
  if (count == 0) return false;
  *units = units->substr(count);
  return true;
}

// Skips a quoted text whose opening quote `units` starts with; a backslash
// escapes the character after it. Returns false when it is not closed.
bool SkipQuoted(Units* units) {
  size_t index = 1;
  while (index < units->size()) {
    char16_t unit = (*units)[index];
    if (unit == u'"') {
      *units = units->substr(index + 1);
      return true;
    }
    index += unit == u'\\' ? 2 : 1;
  }
  return false;
}

// True when nothing but blanks, or blanks and a ";" comment, is left.
bool IsLineRest(Units units) {
  units = SkipBlanks(units);
  return units.empty() || units.front() == u';';
}

// Reads the UTF-16 units of one file, line by line.
class LineReader {
 public:
  LineReader(const std::string& text, HiveEncoding encoding, size_t start)
      : text_(text), encoding_(encoding), position_(start) {}

  bool AtEnd() const { return position_ >= text_.size(); }
  size_t position() const { return position_; }
  size_t line_number() const { return line_number_; }
  bool ended_with_cr_lf() const { return ended_with_cr_lf_; }

  // Decodes the next line, without its line end, into `*line` (ANSI bytes
  // as units of the same value). Returns false, with `*error` set, for a
  // zero character or a CR that is not followed by LF.
  bool Next(std::u16string* line, std::string* error);

 private:
  char16_t UnitAt(size_t offset) const;

  const std::string& text_;
  HiveEncoding encoding_;
  size_t position_;
  size_t line_number_ = 0;
  bool ended_with_cr_lf_ = false;
};

char16_t LineReader::UnitAt(size_t offset) const {
  const unsigned char low = static_cast<unsigned char>(text_[offset]);
  if (encoding_ == HiveEncoding::kAnsi) return low;
  const unsigned char high = static_cast<unsigned char>(text_[offset + 1]);
  return static_cast<char16_t>(low | (high << 8));
}

bool LineReader::Next(std::u16string* line, std::string* error) {
  const size_t unit_size = encoding_ == HiveEncoding::kAnsi ? 1 : 2;
  ++line_number_;
  line->clear();
  bool ended = false;
  while (position_ < text_.size() && !ended) {
    const char16_t unit = UnitAt(position_);
    position_ += unit_size;
    if (unit == u'\n') {
      ended = true;
    } else if (unit == 0) {
      *error = "zero character";
      return false;
    } else {
      line->push_back(unit);
    }
  }
  ended_with_cr_lf_ = ended && !line->empty() && line->back() == u'\r';
  if (ended_with_cr_lf_) line->pop_back();
  if (line->find(u'\r') != std::u16string::npos) {
    *error = "carriage return without line feed";
    return false;
  }
  return true;
}

// Parses the lines after the header and records the sections.
class HiveParser {
 public:
  HiveParser(LineReader* reader, HiveEncoding encoding, KeyTree* tree)
      : reader_(*reader), encoding_(encoding), tree_(*tree) {}

  // Returns false with `*error` set at the first fault.
  bool Run(std::vector<HiveSection>* sections, std::string* error);

 private:
  bool ParseLine(Units line, size_t begin, std::string* error);
  bool ParseSection(Units line, size_t begin, std::string* error);
  bool AddClassesRootKey(Units path, HiveSection* section, std::string* error);
  bool AddChild(Units name, size_t depth, KeyNode* parent, std::string* error);
  bool ToAnsiName(Units name, std::string* ansi, std::string* error) const;
  bool ParseValue(Units line, std::string* error);
  bool ParseData(Units data, std::string* error);
  bool ParseHexBytes(Units bytes, std::string* error);

  LineReader& reader_;
  HiveEncoding encoding_;
  KeyTree& tree_;
  std::vector<HiveSection>* sections_ = nullptr;
  bool in_section_ = false;
  bool continued_ = false;  // the previous line ended a hex value with "\"
  // The names of the last section's path and their keys: sections that
  // follow each other mostly share the start of their paths.
  std::vector<std::pair<std::u16string, KeyNode*>> previous_path_;
};

bool HiveParser::Run(std::vector<HiveSection>* sections, std::string* error) {
  sections_ = sections;
  std::u16string line;
  while (!reader_.AtEnd()) {
    const size_t begin = reader_.position();
    if (!reader_.Next(&line, error) || !ParseLine(line, begin, error)) return false;
  }
  if (continued_) {
    *error = "the file ends inside a value continued with a backslash";
    return false;
  }
  return true;
}

bool HiveParser::ParseLine(Units line, size_t begin, std::string* error) {
  const Units text = SkipBlanks(line);
  if (continued_) {
    continued_ = false;
    return ParseHexBytes(text, error);
  }
  if (text.empty() || text.front() == u';' || text.front() == u'#') return true;
  if (text.front() == u'[') return ParseSection(text, begin, error);
  if (text.front() == u'"' || text.front() == u'@') {
    if (!in_section_) {
      *error = "value line before the first section";
      return false;
    }
    return ParseValue(text, error);
  }
  *error = "line is not a section, a value, a comment or blank";
  return false;
}

bool HiveParser::ParseSection(Units line, size_t begin, std::string* error) {
  if (line.size() > 1 && line[1] == u'-') {
    *error = "deletion sections \"[-...]\" are not supported";
    return false;
  }
  // The last "]" closes the name: "]" is an ordinary name character.
  const size_t close = line.rfind(u']');
  if (close == Units::npos || !AllBlank(line.substr(close + 1))) {
    *error = "section line does not end with \"]\"";
    return false;
  }
  const Units name = line.substr(1, close - 1);
  const size_t separator = name.find(u'\\');
  const Units root = name.substr(0, separator);
  const Units path = separator == Units::npos ? Units() : name.substr(separator + 1);
  HiveSection section;
  section.begin = begin;
  if (EqualsAscii(root, kRootName) || EqualsAscii(root, "HKCR")) {
    if (!AddClassesRootKey(path, &section, error)) return false;
  } else {
    bool known = false;
    for (std::string_view other : kOtherRoots) known = known || EqualsAscii(root, other);
    if (!known) {
      *error = "section under an unknown root";
      return false;
    }
  }
  sections_->push_back(section);
  in_section_ = true;
  return true;
}

bool HiveParser::AddClassesRootKey(Units path, HiveSection* section, std::string* error) {
  KeyNode* node = tree_.root();
  size_t depth = 0;
  bool same_so_far = true;  // as the previous section's path, name for name
  section->created_from = HiveSection::kCreatedNone;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == Units::npos) end = path.size();
    if (end > start) {
      const Units name = path.substr(start, end - start);
      same_so_far =
          same_so_far && depth < previous_path_.size() && previous_path_[depth].first == name;
      if (!same_so_far) {
        const size_t keys_before = tree_.key_count();
        if (!AddChild(name, depth, node, error)) return false;
        if (tree_.key_count() != keys_before &&
            section->created_from == HiveSection::kCreatedNone) {
          section->created_from = static_cast<uint16_t>(depth + 1);
        }
      }
      node = previous_path_[depth].second;
      ++depth;
    }
    start = end + 1;
  }
  section->key = node;
  return true;
}

bool HiveParser::AddChild(Units name, size_t depth, KeyNode* parent, std::string* error) {
  std::string ansi;
  if (!ToAnsiName(name, &ansi, error)) return false;
  if (ansi.size() > KeyTree::kMaxNameLength) {
    *error = "key name longer than 256 characters";
    return false;
  }
  if (depth >= KeyTree::kMaxDepth) {
    *error = "key nested deeper than 512 levels";
    return false;
  }
  previous_path_.resize(depth + 1);
  previous_path_[depth] = {std::u16string(name), tree_.AddChild(parent, ansi)};
  return true;
}

bool HiveParser::ToAnsiName(Units name, std::string* ansi, std::string* error) const {
  ansi->clear();
  for (char16_t unit : name) {
    unsigned char byte = static_cast<unsigned char>(unit);
    if (encoding_ == HiveEncoding::kUtf16Le && !Utf16ToAnsi(unit, &byte)) {
      *error = "key name has a character outside the ANSI code page";
      return false;
    }
    ansi->push_back(static_cast<char>(byte));
  }
  return true;
}

bool HiveParser::ParseValue(Units line, std::string* error) {
  Units rest = line;
  if (rest.front() == u'@') {
    rest = rest.substr(1);
  } else if (!SkipQuoted(&rest)) {
    *error = "value name without closing quote";
    return false;
  }
  rest = SkipBlanks(rest);
  if (rest.empty() || rest.front() != u'=') {
    *error = "value name not followed by \"=\"";
    return false;
  }
  return ParseData(SkipBlanks(rest.substr(1)), error);
}

bool HiveParser::ParseData(Units data, std::string* error) {
  if (!data.empty() && data.front() == u'-' && AllBlank(data.substr(1))) return true;
  if (!data.empty() && data.front() == u'"') {
    if (SkipQuoted(&data) && IsLineRest(data)) return true;
    *error = "string value without closing quote";
    return false;
  }
  if (StartsWithAscii(data, "dword:")) {
    data = data.substr(6);
    if (SkipHexDigits(&data, 8) && IsLineRest(data)) return true;
    *error = "dword value is not 1 to 8 hex digits";
    return false;
  }
  if (StartsWithAscii(data, "hex")) {
    data = data.substr(3);
    if (!data.empty() && data.front() == u'(') {
      data = data.substr(1);
      if (!SkipHexDigits(&data, 8) || data.empty() || data.front() != u')') {
        *error = "hex value type is not 1 to 8 hex digits in parentheses";
        return false;
      }
      data = data.substr(1);
    }
    if (!data.empty() && data.front() == u':') return ParseHexBytes(data.substr(1), error);
  }
  *error = "value data of unknown form";
  return false;
}

bool HiveParser::ParseHexBytes(Units bytes, std::string* error) {
  bool byte_expected = true;
  for (;;) {
    bytes = SkipBlanks(bytes);
    if (bytes.empty() || bytes.front() == u';') return true;
    if (bytes.front() == u'\\' && AllBlank(bytes.substr(1))) {
      continued_ = true;
      return true;
    }
    if (!byte_expected || !SkipHexDigits(&bytes, 2)) {
      *error = "hex data is not two-digit bytes separated by commas";
      return false;
    }
    bytes = SkipBlanks(bytes);
    byte_expected = !bytes.empty() && bytes.front() == u',';
    if (byte_expected) bytes = bytes.substr(1);
  }
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

bool IsHeader(Units line) {
  size_t end = line.size();
  while (end > 0 && IsBlank(line[end - 1])) --end;
  const Units header = line.substr(0, end);
  // The import takes the header only in this exact spelling.
  return header == u"Windows Registry Editor Version 5.00" || header == u"REGEDIT4";
}

}  // namespace

bool HiveDocument::Parse(std::string text, KeyTree* tree, HiveError* error) {
  text_ = std::move(text);
  tree_ = tree;
  sections_.clear();
  error->message.clear();
  error->line = 1;
  size_t start = 0;
  if (!DetectEncoding(text_, &encoding_, &start, &error->message)) return false;
  LineReader reader(text_, encoding_, start);
  std::u16string header;
  if (!reader.Next(&header, &error->message)) return false;
  if (!IsHeader(header)) {
    error->message =
        "the first line is not \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"";
    return false;
  }
  line_end_ = reader.ended_with_cr_lf() ? "\r\n" : "\n";
  HiveParser parser(&reader, encoding_, tree);
  if (!parser.Run(&sections_, &error->message)) {
    error->line = reader.line_number();
    return false;
  }
  return true;
}

bool HiveDocument::Write(const HiveSink& sink) const {
  const size_t prologue_end = sections_.empty() ? text_.size() : sections_.front().begin;
  if (!sink(text_.data(), prologue_end)) return false;
  for (size_t index = 0; index < sections_.size(); ++index) {
    if (!WriteSection(index, sink)) return false;
  }
  return true;
}

std::string HiveDocument::ToString() const {
  std::string out;
  (void)Write([&out](const char* data, size_t size) {  // appending cannot fail
    out.append(data, size);
    return true;
  });
  return out;
}

bool HiveDocument::WriteSection(size_t index, const HiveSink& sink) const {
  const HiveSection& section = sections_[index];
  if (section.key == nullptr || !section.key->deleted()) {
    const size_t end = index + 1 < sections_.size() ? sections_[index + 1].begin : text_.size();
    return sink(text_.data() + section.begin, end - section.begin);
  }
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
