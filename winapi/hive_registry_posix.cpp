#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "winapi/read_file.h"
#include "winapi/hive_format.h"
#include "winapi/hive_registry.h"
#include "winapi/memory_registry.h"

namespace {

constexpr int kTempNameAttempts = 100;
constexpr size_t kWriteChunk = 1 << 20;

std::string ErrnoText(int error) { return std::strerror(error); }

void Report(const std::string& message) { std::fprintf(stderr, "Brindlex: %s\n", message.c_str()); }

// Waits for an exclusive lock on `fd`. Returns false with errno set.
bool LockExclusive(int fd) {
  int locked;
  do {
    locked = flock(fd, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  return locked == 0;
}

// Opens `file_name` and takes an exclusive lock on it, waiting for another
// holder to let go. Returns the descriptor, or -1 with errno set (ENOENT when
// there is no such file).
int OpenLocked(const std::string& file_name) {
  for (;;) {
    const int fd = open(file_name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat held, named;
    if (!LockExclusive(fd) || fstat(fd, &held) != 0) {
      const int error = errno;
      close(fd);
      errno = error;
      return -1;
    }
    // The holder we waited for may have renamed a new file over the name;
    // then the lock is on a file nobody will read again.
    const bool named_ok = stat(file_name.c_str(), &named) == 0;
    const int error = errno;
    if (named_ok && named.st_dev == held.st_dev && named.st_ino == held.st_ino) return fd;
    close(fd);
    if (!named_ok && error != ENOENT) {
      errno = error;
      return -1;
    }
  }
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t put = write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

bool FillAndSync(int fd, mode_t mode, const HiveDocument& document) {
  // The document comes in a piece per section: gather them into large writes.
  std::string pending;
  const auto flush = [&] {
    const bool written = WriteAll(fd, pending.data(), pending.size());
    pending.clear();
    return written;
  };
  const bool written = document.Write([&](const char* data, size_t size) {
    if (pending.size() + size > kWriteChunk && !flush()) return false;
    if (size >= kWriteChunk) return WriteAll(fd, data, size);
    pending.append(data, size);
    return true;
  });
  return written && flush() && fchmod(fd, mode) == 0 && fsync(fd) == 0;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ".BASE.PID.TICKS.ATTEMPT.tmp" beside `path`.
std::string TempName(const std::string& path, int attempt) {
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return DirectoryOf(path) + "/." + BaseNameOf(path) + "." + std::to_string(getpid()) + "." +
         std::to_string(ticks) + "." + std::to_string(attempt) + ".tmp";
}

// Whether `entry` is a name that TempName gives for a file named `base`.
bool IsTempNameOf(const std::string& base, const std::string& entry) {
  const std::string prefix = "." + base + ".";
  const std::string suffix = ".tmp";
  if (entry.size() <= prefix.size() + suffix.size() ||
      entry.compare(0, prefix.size(), prefix) != 0 ||
      entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  int numbers = 0;
  bool in_number = false;
  for (size_t i = prefix.size(); i < entry.size() - suffix.size(); ++i) {
    const char c = entry[i];
    if (c >= '0' && c <= '9') {
      numbers += in_number ? 0 : 1;
      in_number = true;
    } else if (c == '.' && in_number) {
      in_number = false;
    } else {
      return false;
    }
  }
  return in_number && numbers == 3;
}

// A run killed between naming its new file and renaming it over `path` (or,
// where unnamed files are not available, while writing it) leaves that file
// behind. Only the holder of the lock on `path` writes such files, so while
// it holds the lock any others it finds are leftovers.
void RemoveLeftoverTemps(const std::string& path) {
  DIR* directory = opendir(DirectoryOf(path).c_str());
  if (directory == nullptr) return;
  const std::string base = BaseNameOf(path);
  while (const dirent* entry = readdir(directory)) {
    if (IsTempNameOf(base, entry->d_name)) (void)unlinkat(dirfd(directory), entry->d_name, 0);
  }
  closedir(directory);
}

// An unnamed file in `directory` (O_TMPFILE), or -1 where there is none.
int OpenUnnamedTemp(const std::string& directory) {
#ifdef O_TMPFILE
  return open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
#else
  (void)directory;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

// Gives the unnamed file `fd` a fresh name beside `path`. Returns false when
// it could not be linked (then no name was made).
bool LinkUnnamedTemp(int fd, const std::string& path, std::string* temp) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    const std::string name = TempName(path, attempt);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      *temp = name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Writes the new contents to an unnamed file and links it beside `path`.
// Returns 1 with the name in `*temp`, 0 on a write failure, -1 where unnamed
// files cannot be used.
int WriteUnnamedTemp(const std::string& path, mode_t mode, const HiveDocument& document,
                     std::string* temp) {
  const int fd = OpenUnnamedTemp(DirectoryOf(path));
  if (fd < 0) return -1;
  if (!FillAndSync(fd, mode, document)) {
    const int error = errno;
    close(fd);  // the unnamed file vanishes with its descriptor
    errno = error;
    return 0;
  }
  const bool linked = LinkUnnamedTemp(fd, path, temp);
  close(fd);
  return linked ? 1 : -1;
}

// Writes the new contents to a new named file beside `path`; removes it
// again on failure. Returns true with the name in `*temp`.
bool WriteNamedTemp(const std::string& path, mode_t mode, const HiveDocument& document,
                    std::string* temp) {
  int fd = -1;
  std::string name;
  for (int attempt = 0; attempt < kTempNameAttempts && fd < 0; ++attempt) {
    name = TempName(path, attempt);
    fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool saved = FillAndSync(fd, mode, document);
  int error = errno;
  if (close(fd) != 0 && saved) {
    saved = false;
    error = errno;
  }
  if (!saved) {
    unlink(name.c_str());
    errno = error;
    return false;
  }
  *temp = name;
  return true;
}

bool SyncDirectory(const std::string& directory) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
}

// Replaces `path` by the document's contents, all or nothing. Returns false
// with errno set when the old file stays.
bool ReplaceFile(const std::string& path, mode_t mode, const HiveDocument& document) {
  std::string temp;
  const int unnamed = WriteUnnamedTemp(path, mode, document, &temp);
  if (unnamed == 0) return false;
  if (unnamed < 0 && !WriteNamedTemp(path, mode, document, &temp)) return false;
  if (rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    unlink(temp.c_str());
    errno = error;
    return false;
  }
  // The new file is in place; a failed directory sync only weakens how
  // durable the rename is, so it is not reported as a lost change.
  (void)SyncDirectory(DirectoryOf(path));
  return true;
}

class HiveRegistry : public Registry {
 public:
  explicit HiveRegistry(const std::string& file_name) : file_name_(file_name) {}
  ~HiveRegistry() override { Unload(); }

  RegStatus OpenKey(RegKey parent, const char* path, RegKey* key) override {
    RegStatus status = Load();
    return status != kRegSuccess ? status : engine_->OpenKey(parent, path, key);
  }
  RegStatus EnumKey(RegKey key, uint32_t index, char* name, uint32_t* capacity) override {
    RegStatus status = Load();
    return status != kRegSuccess ? status : engine_->EnumKey(key, index, name, capacity);
  }
  RegStatus DeleteKey(RegKey parent, const char* path) override {
    RegStatus status = Load();
    return status != kRegSuccess ? status : engine_->DeleteKey(parent, path);
  }
  RegStatus CloseKey(RegKey key) override {
    // Only an open registry has handles; the root needs no closing.
    if (!loaded_ || unusable_) return key == ClassesRootKey() ? kRegSuccess : kRegInvalidHandle;
    return engine_->CloseKey(key);
  }
  RegStatus Flush() override;

 private:
  // Reads the file on the first call. Returns 0 when the keys are there
  // (also for a missing file), 1010 when the file is unusable.
  RegStatus Load();
  bool ReadAndParse();
  RegStatus Commit();
  void Unload();

  const std::string file_name_;
  bool loaded_ = false;
  bool unusable_ = false;
  int lock_fd_ = -1;
  mode_t mode_ = 0644;
  std::unique_ptr<MemoryRegistry> engine_;
  std::unique_ptr<HiveDocument> document_;  // null for a missing file
};

RegStatus HiveRegistry::Load() {
  if (!loaded_) {
    loaded_ = true;
    engine_ = std::make_unique<MemoryRegistry>();
    unusable_ = !ReadAndParse();
    if (unusable_) {
      // Nothing will be written, so nobody needs to wait for this run.
      if (lock_fd_ >= 0) close(lock_fd_);
      lock_fd_ = -1;
      document_.reset();
    }
  }
  return unusable_ ? kRegBadKey : kRegSuccess;
}

bool HiveRegistry::ReadAndParse() {
  lock_fd_ = OpenLocked(file_name_);
  if (lock_fd_ < 0 && errno == ENOENT) return true;  // an empty registry
  if (lock_fd_ >= 0) RemoveLeftoverTemps(file_name_);
  std::string text;
  struct stat info;
  if (lock_fd_ < 0 || fstat(lock_fd_, &info) != 0 || !ReadToEnd(lock_fd_, &text)) {
    Report("cannot read the registry file " + file_name_ + ": " + ErrnoText(errno) +
           "; no key can be opened");
    return false;
  }
  mode_ = info.st_mode & 07777;
  document_ = std::make_unique<HiveDocument>();
  HiveError error;
  if (!document_->Parse(std::move(text), &engine_->tree(), &error)) {
    Report(file_name_ + ":" + std::to_string(error.line) + ": " + error.message +
           "; the registry file is left unchanged and no key can be opened");
    return false;
  }
  return true;
}

RegStatus HiveRegistry::Flush() {
  RegStatus status = kRegSuccess;
  if (loaded_ && !unusable_ && engine_->tree().delete_count() != 0) status = Commit();
  Unload();
  return status;
}

RegStatus HiveRegistry::Commit() {
  // A missing file holds no key, so there is a document whenever a key was
  // deleted.
  if (ReplaceFile(file_name_, mode_, *document_)) return kRegSuccess;
  Report("cannot save the changes to the registry file " + file_name_ + ": " + ErrnoText(errno) +
         "; the file is left as it was");
  return kRegIoFailed;
}

void HiveRegistry::Unload() {
  if (lock_fd_ >= 0) close(lock_fd_);  // closing the descriptor drops the lock
  lock_fd_ = -1;
  document_.reset();
  engine_.reset();
  loaded_ = false;
  unusable_ = false;
}

}  // namespace

std::unique_ptr<Registry> MakeHiveRegistry(const std::string& file_name) {
  return std::make_unique<HiveRegistry>(file_name);
}
