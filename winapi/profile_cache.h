// The POSIX build's GetPrivateProfileStringA for profile files on disk. As
// the platform does, it keeps the profile file it read last, decoded, and
// reads it again only when it changed: a run looks up all its keys in one
// reading of the file, however large the file is.
#ifndef BRINDLEX_WINAPI_PROFILE_CACHE_H_
#define BRINDLEX_WINAPI_PROFILE_CACHE_H_

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "winapi/profile_reader.h"

class ProfileCache {
 public:
  ProfileCache();
  ~ProfileCache();
  ProfileCache(const ProfileCache&) = delete;
  ProfileCache& operator=(const ProfileCache&) = delete;

  // GetPrivateProfileStringA(section, key, fallback, buffer, size, path) for
  // the file at the absolute path `path` (preconditions as for
  // ReadProfileString). A file absent from an existing directory reads as
  // an empty profile (ReadProfileString of no bytes); one that cannot be
  // opened or read, or is not a regular file (a directory, a FIFO, a device:
  // opened without blocking, so a FIFO cannot stall the run), gives
  // CopyUnreadableFallback. Returns the bytes written, terminator excluded.
  //
  // The file read last is kept while the same path names the same file
  // unchanged: same device and inode, same size, same modification and
  // status-change times. Any change to those, a file renamed over the path
  // included, makes the next lookup read it again; so does a change seen
  // while it was being read. (A rewrite of the same size within the file
  // system's timestamp granularity goes unseen, as on the platform.)
  uint32_t GetString(const std::string& path, const char* section, const char* key,
                     const char* fallback, char* buffer, uint32_t size);

  // How many times a file was read so far.
  uint64_t files_read() const { return files_read_; }

 private:
  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified = {};
    timespec changed = {};
    bool operator==(const Identity& other) const;
  };

  // The text of the regular file open as `fd`, named `path`: the kept one
  // when it is still that file, else read now. Null when `fd` is not a
  // regular file or cannot be read.
  const ProfileText* TextOf(int fd, const std::string& path);
  static Identity IdentityOf(const struct stat& status);

  std::string path_;
  Identity identity_;
  bool reusable_ = false;
  std::unique_ptr<ProfileText> text_;
  uint64_t files_read_ = 0;
};

#endif  // BRINDLEX_WINAPI_PROFILE_CACHE_H_
