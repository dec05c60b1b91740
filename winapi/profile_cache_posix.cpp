#include "winapi/profile_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "winapi/read_file.h"

namespace {

bool IsDirectory(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// A file absent from an existing directory reads as an empty profile; any
// other failure to open makes the file unreadable.
bool IsMissingFromExistingDirectory(const std::string& path, int open_error) {
  if (open_error != ENOENT) return false;
  const size_t slash = path.rfind('/');
  return IsDirectory(slash == 0 ? "/" : path.substr(0, slash));
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

ProfileCache::ProfileCache() = default;
ProfileCache::~ProfileCache() = default;

bool ProfileCache::Identity::operator==(const Identity& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         SameTime(modified, other.modified) && SameTime(changed, other.changed);
}

ProfileCache::Identity ProfileCache::IdentityOf(const struct stat& status) {
  return Identity{status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

uint32_t ProfileCache::GetString(const std::string& path, const char* section, const char* key,
                                 const char* fallback, char* buffer, uint32_t size) {
  // O_NONBLOCK does not affect reads from a regular file.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (IsMissingFromExistingDirectory(path, errno)) {
      return ReadProfileString("", section, key, fallback, buffer, size);
    }
    return CopyUnreadableFallback(fallback, buffer, size);
  }
  const ProfileText* text = TextOf(fd, path);
  close(fd);
  if (text == nullptr) return CopyUnreadableFallback(fallback, buffer, size);
  return text->ReadString(section, key, fallback, buffer, size);
}

const ProfileText* ProfileCache::TextOf(int fd, const std::string& path) {
  struct stat before;
  if (fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) return nullptr;
  const Identity identity = IdentityOf(before);
  if (reusable_ && path == path_ && identity == identity_) return text_.get();
  // The old text goes first, so that two never take memory at once.
  text_.reset();
  reusable_ = false;
  std::string contents;
  if (!ReadToEnd(fd, &contents)) return nullptr;
  ++files_read_;
  text_ = std::make_unique<ProfileText>(std::move(contents));
  struct stat after;
  path_ = path;
  identity_ = identity;
  reusable_ = fstat(fd, &after) == 0 && IdentityOf(after) == identity;
  return text_.get();
}
