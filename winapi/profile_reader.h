// The profile (INI) reader of the POSIX build: what GetPrivateProfileStringA
// returns for one key of a profile file, given the file's bytes. Plain C++,
// built and tested everywhere.
//
// The format, as the platform reads it:
// - Encoding: a UTF-8 byte-order mark (EF BB BF) means UTF-8, FF FE means
//   UTF-16LE and FE FF UTF-16BE; any other file is ANSI (Windows-1252) bytes.
//   The text is read as UTF-16 and the value converted back to ANSI, so a
//   character outside the code page comes back as its best-fit byte or '?'.
// - Lines end at every CR and every LF. Blanks (space, tab, LF, VT, FF, CR
//   and Ctrl-Z) are stripped from both ends of each line, of section and key
//   names and of values; no other character is a blank.
// - A line that begins with '[' and has a ']' after it is a section header;
//   the name runs to the last ']' and the rest of the line is ignored. A '['
//   line without a later ']' is an ordinary line. Lines before the first
//   header belong to a section named "".
// - Any other line is a key: the name is the text before the first '=', the
//   value everything after it. A line without '=' is a key without a value.
//   There is no comment syntax: ";x=1" is the key ";x".
// - Section and key names match without regard to the case of A-Z only.
//   Only the first section of a name is searched, and in it the first key
//   of the name counts, even when it has no value.
// - A NUL character ends a name or a value where it stands.
// - A value that starts and ends with the same quote character (" or '),
//   and is at least two characters long, loses those two characters.
#ifndef BRINDLEX_WINAPI_PROFILE_READER_H_
#define BRINDLEX_WINAPI_PROFILE_READER_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// GetPrivateProfileStringA(section, key, fallback, buffer, size) for a
// profile file whose bytes are `file`; a missing file reads as an empty one.
// Preconditions: `section` and `key` are not null; `buffer` holds `size`
// bytes.
//
// Writes the value of `key` in the first section named `section` to
// `buffer`, or, when there is no such section or key or the key has no '=',
// `fallback` (null reads as ""). The fallback first loses its trailing
// spaces (not other blanks; its first character always stays), then is
// treated as a value. The result is cut to size - 1 bytes and terminated.
// When the value was quoted and the cut string would take the closing quote
// (size >= the value's length without its opening quote), the last byte
// kept is dropped as well: "ABC" in 4 bytes gives AB.
//
// Returns the number of bytes written, terminator excluded. With `size` 0,
// writes nothing and returns 0.
uint32_t ReadProfileString(std::string_view file, const char* section, const char* key,
                           const char* fallback, char* buffer, uint32_t size);

// A profile file held for any number of lookups: decoded once (a file
// without a byte-order mark is searched in its own bytes), and the start of
// each section once found remembered, so that a lookup costs a pass over
// its section only.
class ProfileText {
 public:
  // `file`: the file's bytes.
  explicit ProfileText(std::string file);
  ProfileText(const ProfileText&) = delete;
  ProfileText& operator=(const ProfileText&) = delete;

  // ReadProfileString(file, section, key, fallback, buffer, size), with the
  // same preconditions and result.
  uint32_t ReadString(const char* section, const char* key, const char* fallback, char* buffer,
                      uint32_t size) const;

 private:
  bool is_ansi_ = false;
  std::string bytes_;      // an ANSI file's bytes
  std::u16string units_;   // a marked file's decoded text
  // Where each section looked up so far starts, by its name folded to lower
  // case (npos: no such section).
  mutable std::map<std::string, size_t> section_starts_;
};

// What GetPrivateProfileStringA gives when the file exists but cannot be
// read as a profile (a directory, a file without read permission, a path
// through a missing directory): `fallback` without its trailing spaces and
// without quote handling, cut to size - 1 bytes and terminated. Returns the
// number of bytes written, terminator excluded; 0 without writing when
// `size` is 0.
uint32_t CopyUnreadableFallback(const char* fallback, char* buffer, uint32_t size);

#endif  // BRINDLEX_WINAPI_PROFILE_READER_H_
