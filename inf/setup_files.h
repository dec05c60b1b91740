// SetupFiles: the file-system and profile operations that the setup
// information reader uses, with the platform's conventions (its path
// separator, and whether file names are case-sensitive). The Windows
// build calls msvcrt and kernel32; the POSIX build has its own equivalents
// that behave as those do.
#ifndef BRINDLEX_INF_SETUP_FILES_H_
#define BRINDLEX_INF_SETUP_FILES_H_

#include <cstdint>

class SetupFiles {
 public:
  SetupFiles() = default;
  virtual ~SetupFiles() = default;
  SetupFiles(const SetupFiles&) = delete;
  SetupFiles& operator=(const SetupFiles&) = delete;

  // _access(name, 0): 0 when a file or directory of that name exists (a
  // relative name is taken from the current directory; "." and ".." and
  // repeated separators are resolved on the text, as for GetFullPathName; a
  // file named with a trailing separator does not exist), -1 when not,
  // including for an empty name and a name of more than 260 bytes.
  virtual int Access(const char* name) = 0;

  // GetFullPathNameA(name, capacity, buffer, NULL): the length of the full
  // path (terminator excluded) written to `buffer`. The full path is `name`
  // taken from the current directory with "." and ".." resolved and repeated
  // separators collapsed on the text alone (the file need not exist; a
  // trailing separator stays). When the path and its terminator do not fit,
  // the size needed (terminator included) and `buffer` unchanged; 0 on
  // failure (an empty name, a name of more than 260 bytes, or a full path of
  // 260 bytes or more, whatever the capacity), `buffer` unchanged.
  virtual uint32_t GetFullPathName(const char* name, uint32_t capacity, char* buffer) = 0;

  // GetPrivateProfileStringA(section, key, fallback, buffer, size, path):
  // the value of `key` in `section` of the profile file `path`, section and
  // key matched without regard to case, cut to size - 1 bytes. When the
  // section or the key is missing, `fallback` processed as a value (its
  // trailing blanks and enclosing quotes removed); a missing file in an
  // existing directory reads as an empty profile. When the file cannot be
  // read as a profile (a directory, no permission, a path through a missing
  // directory, an empty name), `fallback` as it is but for its trailing
  // spaces. Returns the number of bytes written, terminator excluded.
  virtual uint32_t GetPrivateProfileString(const char* section, const char* key,
                                           const char* fallback, char* buffer, uint32_t size,
                                           const char* path) = 0;
};

#endif  // BRINDLEX_INF_SETUP_FILES_H_
