#include "winapi/profile_reader.h"

#include <cstring>
#include <map>
#include <string>
#include <type_traits>
#include <utility>

#include "winapi/code_page.h"

namespace {

enum class KeyState { kAbsent, kWithoutValue, kWithValue };

template <typename Char>
using Text = std::basic_string_view<Char>;

// One non-empty, trimmed line of a profile, split into its parts.
template <typename Char>
struct KeyLine {
  Text<Char> name;
  bool has_value = false;
  Text<Char> value;
};

// Ctrl-Z is a blank too: old files end with it. (A file without a
// byte-order mark is searched in its own bytes: every blank, line end and
// mark of the format is ASCII, which the code page maps to itself, and no
// other byte maps to ASCII.)
template <typename Char>
bool IsBlank(Char unit) {
  const auto code = static_cast<std::make_unsigned_t<Char>>(unit);
  return (code >= 0x09 && code <= 0x0D) || code == ' ' || code == 0x1A;
}

template <typename Char>
Text<Char> TrimStart(Text<Char> text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

template <typename Char>
Text<Char> TrimEnd(Text<Char> text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

template <typename Char>
Text<Char> Trim(Text<Char> text) {
  return TrimEnd(TrimStart(text));
}

template <typename Char>
Text<Char> UpToNul(Text<Char> text) {
  return text.substr(0, text.find(Char{0}));
}

template <typename Char>
Char FoldAscii(Char unit) {
  return unit >= 'A' && unit <= 'Z' ? static_cast<Char>(unit + ('a' - 'A')) : unit;
}

// A name from the file ends at its first NUL; `wanted` holds none.
template <typename Char>
bool NamesMatch(Text<Char> in_file, Text<Char> wanted) {
  in_file = UpToNul(in_file);
  if (in_file.size() != wanted.size()) return false;
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (FoldAscii(in_file[i]) != FoldAscii(wanted[i])) return false;
  }
  return true;
}

std::u16string DecodeMarkedProfile(std::string_view file) {
  if (file.substr(0, 3) == "\xEF\xBB\xBF") return Utf8ToUnits(file.substr(3));
  return Utf16ToUnits(file.substr(2), /*big_endian=*/file[0] == '\xFE');
}

bool HasByteOrderMark(std::string_view file) {
  return file.substr(0, 3) == "\xEF\xBB\xBF" || file.substr(0, 2) == "\xFF\xFE" ||
         file.substr(0, 2) == "\xFE\xFF";
}

// The offset just past the line that starts at `begin` (CR and LF each end
// one), and the line itself, trimmed, in `*line`.
template <typename Char>
size_t TakeLine(Text<Char> text, size_t begin, Text<Char>* line) {
  size_t end = begin;
  while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
  *line = Trim(text.substr(begin, end - begin));
  return end < text.size() ? end + 1 : end;
}

// Whether `line` is a section header; if so, sets `*name` to its name.
template <typename Char>
bool ParseHeader(Text<Char> line, Text<Char>* name) {
  if (line.empty() || line.front() != '[') return false;
  const size_t close = line.rfind(Char{']'});
  if (close == Text<Char>::npos || close == 0) return false;
  *name = Trim(line.substr(1, close - 1));
  return true;
}

template <typename Char>
KeyLine<Char> ParseKey(Text<Char> line) {
  const size_t equals = line.find(Char{'='});
  if (equals == Text<Char>::npos) return KeyLine<Char>{line, false, {}};
  return KeyLine<Char>{TrimEnd(line.substr(0, equals)), true, TrimStart(line.substr(equals + 1))};
}

// Where the lines of the first section named `section` start: after its
// header, or at the top for the lines before the first header (section "").
// npos when there is no such section.
template <typename Char>
size_t FindSection(Text<Char> text, Text<Char> section) {
  if (section.empty()) return 0;
  size_t next = 0;
  while (next < text.size()) {
    Text<Char> line, header;
    next = TakeLine(text, next, &line);
    if (ParseHeader(line, &header) && NamesMatch(header, section)) return next;
  }
  return Text<Char>::npos;
}

// Looks `key` up in the section whose lines start at `begin`; sets `*value`
// when the key has one. The section ends at the next header.
template <typename Char>
KeyState FindKey(Text<Char> text, size_t begin, Text<Char> key, Text<Char>* value) {
  size_t next = begin;
  while (next < text.size()) {
    Text<Char> line, header;
    next = TakeLine(text, next, &line);
    if (line.empty()) continue;
    if (ParseHeader(line, &header)) return KeyState::kAbsent;
    const KeyLine<Char> entry = ParseKey(line);
    if (!NamesMatch(entry.name, key)) continue;
    if (!entry.has_value) return KeyState::kWithoutValue;
    *value = UpToNul(entry.value);
    return KeyState::kWithValue;
  }
  return KeyState::kAbsent;
}

// A section or key name as the caller gives it: ANSI, trimmed.
std::string_view NameBytes(const char* name) { return Trim(std::string_view(name)); }

std::string FoldedBytes(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = FoldAscii(c);
  return folded;
}

std::u16string FallbackUnits(const char* fallback) {
  std::u16string units = AnsiToUnits(fallback ? fallback : "");
  while (units.size() > 1 && units.back() == u' ') units.pop_back();
  return units;
}

bool IsQuoted(std::u16string_view value) {
  return value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
         value.back() == value.front();
}

// The value as it lands in a buffer of `size` units (size > 0), terminator
// excluded. The closing quote is dropped by cutting one unit off a copy that
// would have held it, so a cut copy that could only just hold it loses a
// real character instead.
std::u16string CutValue(std::u16string_view value, uint32_t size) {
  const bool quoted = IsQuoted(value);
  if (quoted) value.remove_prefix(1);
  std::u16string kept(value.substr(0, size - 1));
  if (quoted && size >= value.size() && !kept.empty()) kept.pop_back();
  return kept;
}

uint32_t WriteAnsi(std::u16string_view units, char* buffer) {
  const std::string bytes = UnitsToAnsi(units);
  std::memcpy(buffer, bytes.data(), bytes.size());
  buffer[bytes.size()] = '\0';
  return static_cast<uint32_t>(bytes.size());
}

// A name as the caller gives it (ANSI bytes), in the characters of the
// text searched.
std::string NameIn(std::string_view bytes, char) { return std::string(bytes); }
std::u16string NameIn(std::string_view bytes, char16_t) { return AnsiToUnits(bytes); }

std::u16string ValueUnits(std::string_view bytes) { return AnsiToUnits(bytes); }
std::u16string ValueUnits(std::u16string_view units) { return std::u16string(units); }

// The value of `key` in the first section named `section` (both trimmed
// ANSI names) of `text`, in `*value`; false when there is none. The start
// of each section looked up is kept in `*section_starts`, under its folded
// name, for the next lookup.
template <typename Char>
bool FindValue(Text<Char> text, std::string_view section, std::string_view key,
               std::map<std::string, size_t>* section_starts, std::u16string* value) {
  const std::string folded = FoldedBytes(section);
  auto start = section_starts->find(folded);
  if (start == section_starts->end()) {
    const size_t begin = FindSection<Char>(text, NameIn(section, Char{}));
    start = section_starts->emplace(folded, begin).first;
  }
  if (start->second == Text<Char>::npos) return false;
  Text<Char> found;
  if (FindKey<Char>(text, start->second, NameIn(key, Char{}), &found) != KeyState::kWithValue) {
    return false;
  }
  *value = ValueUnits(found);
  return true;
}

}  // namespace

ProfileText::ProfileText(std::string file) {
  if (HasByteOrderMark(file)) {
    units_ = DecodeMarkedProfile(file);
  } else {
    bytes_ = std::move(file);
    is_ansi_ = true;
  }
}

uint32_t ProfileText::ReadString(const char* section, const char* key, const char* fallback,
                                 char* buffer, uint32_t size) const {
  if (size == 0) return 0;
  std::u16string value;
  const std::string_view section_name = NameBytes(section), key_name = NameBytes(key);
  const bool found =
      is_ansi_ ? FindValue<char>(bytes_, section_name, key_name, &section_starts_, &value)
               : FindValue<char16_t>(units_, section_name, key_name, &section_starts_, &value);
  if (!found) value = FallbackUnits(fallback);
  return WriteAnsi(CutValue(value, size), buffer);
}

uint32_t ReadProfileString(std::string_view file, const char* section, const char* key,
                           const char* fallback, char* buffer, uint32_t size) {
  if (size == 0) return 0;
  return ProfileText(std::string(file)).ReadString(section, key, fallback, buffer, size);
}

uint32_t CopyUnreadableFallback(const char* fallback, char* buffer, uint32_t size) {
  if (size == 0) return 0;
  const std::u16string units = FallbackUnits(fallback);
  return WriteAnsi(std::u16string_view(units).substr(0, size - 1), buffer);
}
