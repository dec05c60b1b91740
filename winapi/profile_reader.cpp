#include "winapi/profile_reader.h"

#include <cstring>
#include <string>

#include "winapi/code_page.h"

namespace {

enum class KeyState { kAbsent, kWithoutValue, kWithValue };

// One non-empty, trimmed line of a profile, split into its parts.
struct KeyLine {
  std::u16string_view name;
  bool has_value = false;
  std::u16string_view value;
};

// Ctrl-Z is a blank too: old files end with it.
bool IsBlank(char16_t unit) {
  return (unit >= 0x09 && unit <= 0x0D) || unit == u' ' || unit == 0x1A;
}

std::u16string_view TrimStart(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::u16string_view TrimEnd(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::u16string_view Trim(std::u16string_view text) { return TrimEnd(TrimStart(text)); }

std::u16string_view UpToNul(std::u16string_view text) {
  return text.substr(0, text.find(u'\0'));
}

char16_t FoldAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}

// A name from the file ends at its first NUL; `wanted` holds none.
bool NamesMatch(std::u16string_view in_file, std::u16string_view wanted) {
  in_file = UpToNul(in_file);
  if (in_file.size() != wanted.size()) return false;
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (FoldAscii(in_file[i]) != FoldAscii(wanted[i])) return false;
  }
  return true;
}

std::u16string DecodeProfile(std::string_view file) {
  auto starts_with = [file](std::string_view mark) { return file.substr(0, mark.size()) == mark; };
  if (starts_with("\xEF\xBB\xBF")) return Utf8ToUnits(file.substr(3));
  if (starts_with("\xFF\xFE")) return Utf16ToUnits(file.substr(2), /*big_endian=*/false);
  if (starts_with("\xFE\xFF")) return Utf16ToUnits(file.substr(2), /*big_endian=*/true);
  return AnsiToUnits(file);
}

// Takes the next line from `*text` (CR and LF each end one) and returns it
// trimmed. Precondition: `*text` is not empty.
std::u16string_view TakeLine(std::u16string_view* text) {
  const size_t end = text->find_first_of(u"\r\n");
  const std::u16string_view line = text->substr(0, end);
  text->remove_prefix(end == std::u16string_view::npos ? text->size() : end + 1);
  return Trim(line);
}

// Whether `line` is a section header; if so, sets `*name` to its name.
bool ParseHeader(std::u16string_view line, std::u16string_view* name) {
  if (line.empty() || line.front() != u'[') return false;
  const size_t close = line.rfind(u']');
  if (close == std::u16string_view::npos || close == 0) return false;
  *name = Trim(line.substr(1, close - 1));
  return true;
}

KeyLine ParseKey(std::u16string_view line) {
  const size_t equals = line.find(u'=');
  if (equals == std::u16string_view::npos) return KeyLine{line, false, {}};
  return KeyLine{TrimEnd(line.substr(0, equals)), true, TrimStart(line.substr(equals + 1))};
}

// Looks `key` up in the first section named `section`; sets `*value` when
// the key has one.
KeyState FindKey(std::u16string_view text, std::u16string_view section, std::u16string_view key,
                 std::u16string_view* value) {
  bool in_section = section.empty();  // the lines before the first header
  while (!text.empty()) {
    const std::u16string_view line = TakeLine(&text);
    if (line.empty()) continue;
    std::u16string_view header;
    if (ParseHeader(line, &header)) {
      if (in_section) return KeyState::kAbsent;  // later sections of the name are not searched
      in_section = NamesMatch(header, section);
      continue;
    }
    if (!in_section) continue;
    const KeyLine entry = ParseKey(line);
    if (!NamesMatch(entry.name, key)) continue;
    if (!entry.has_value) return KeyState::kWithoutValue;
    *value = UpToNul(entry.value);
    return KeyState::kWithValue;
  }
  return KeyState::kAbsent;
}

std::u16string NameUnits(const char* name) { return std::u16string(Trim(AnsiToUnits(name))); }

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

}  // namespace

uint32_t ReadProfileString(std::string_view file, const char* section, const char* key,
                           const char* fallback, char* buffer, uint32_t size) {
  if (size == 0) return 0;
  const std::u16string text = DecodeProfile(file);
  const std::u16string fallback_units = FallbackUnits(fallback);
  std::u16string_view value;
  if (FindKey(text, NameUnits(section), NameUnits(key), &value) != KeyState::kWithValue) {
    value = fallback_units;
  }
  return WriteAnsi(CutValue(value, size), buffer);
}

uint32_t CopyUnreadableFallback(const char* fallback, char* buffer, uint32_t size) {
  if (size == 0) return 0;
  const std::u16string units = FallbackUnits(fallback);
  return WriteAnsi(std::u16string_view(units).substr(0, size - 1), buffer);
}
