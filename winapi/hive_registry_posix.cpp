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
#include "winapi/posix_file.h"

namespace {

constexpr int kTempNameAttempts = 100;
constexpr size_t kWriteChunk = 1 << 20;

void Report(const std::string& message) { std::fprintf(stderr, "Brindlex: %s\n", message.c_str()); }

// Waits for an exclusive lock on `fd`.
FileStatus LockExclusive(int fd, const std::string& path) {
  int locked;
  do {
    locked = flock(fd, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  return locked == 0 ? FileStatus::Ok() : FileStatus::Errno("cannot lock the registry file " + path);
}

// Opens `file_name` into `*fd` and takes an exclusive lock on it, waiting for
// another holder to let go. Fails with ENOENT when there is no such file.
FileStatus OpenLocked(const std::string& file_name, ScopedFd* fd) {
  for (;;) {
    fd->Reset(open(file_name.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd->valid()) return FileStatus::Errno("cannot read the registry file " + file_name);
    FileStatus status = LockExclusive(fd->get(), file_name);
    if (!status.ok()) return status;
    struct stat held, named;
    if (fstat(fd->get(), &held) != 0) return FileStatus::Errno("cannot read the registry file " + file_name);
    // The holder we waited for may have renamed a new file over the name;
    // then the lock is on a file nobody will read again.
    if (stat(file_name.c_str(), &named) == 0) {
      if (named.st_dev == held.st_dev && named.st_ino == held.st_ino) return FileStatus::Ok();
    } else if (errno != ENOENT) {
      return FileStatus::Errno("cannot read the registry file " + file_name);
    }
  }
}

FileStatus WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t put = write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return FileStatus::Errno("cannot write");
    data += put;
    size -= static_cast<size_t>(put);
  }
  return FileStatus::Ok();
}

FileStatus FillAndSync(int fd, mode_t mode, const HiveDocument& document) {
  // The document comes in a piece per section: gather them into large writes.
  std::string pending;
  FileStatus status = FileStatus::Ok();
  const auto flush = [&] {
    status = WriteAll(fd, pending.data(), pending.size());
    pending.clear();
    return status.ok();
  };
  const bool written = document.Write([&](const char* data, size_t size) {
    if (pending.size() + size > kWriteChunk && !flush()) return false;
    if (size >= kWriteChunk) {
      status = WriteAll(fd, data, size);
      return status.ok();
    }
    pending.append(data, size);
    return true;
  });
  if (!written || !flush()) return status;
  if (fchmod(fd, mode) != 0) return FileStatus::Errno("cannot set the mode");
  if (fsync(fd) != 0) return FileStatus::Errno("cannot sync");
  return FileStatus::Ok();
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

// An unnamed file in `directory` (O_TMPFILE) into `*fd`; fails where there is
// none.
FileStatus OpenUnnamedTemp(const std::string& directory, ScopedFd* fd) {
#ifdef O_TMPFILE
  fd->Reset(open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
#else
  errno = EOPNOTSUPP;
#endif
  return fd->valid() ? FileStatus::Ok() : FileStatus::Errno("cannot make a file in " + directory);
}

// Gives the unnamed file `fd` a fresh name beside `path`, into `*temp`. No
// name is made when it fails.
FileStatus LinkUnnamedTemp(int fd, const std::string& path, std::string* temp) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    const std::string name = TempName(path, attempt);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      *temp = name;
      return FileStatus::Ok();
    }
    if (errno != EEXIST) break;
  }
  return FileStatus::Errno("cannot name a new file beside " + path);
}

// Writes the new contents to a new named file beside `path`, its name into
// `*temp`; removes it again on failure.
FileStatus WriteNamedTemp(const std::string& path, mode_t mode, const HiveDocument& document,
                          std::string* temp) {
  ScopedFd fd;
  std::string name;
  for (int attempt = 0; attempt < kTempNameAttempts && !fd.valid(); ++attempt) {
    name = TempName(path, attempt);
    fd.Reset(open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid() && errno != EEXIST) break;
  }
  if (!fd.valid()) return FileStatus::Errno("cannot make a file beside " + path);
  FileStatus status = FillAndSync(fd.get(), mode, document);
  if (!fd.Close() && status.ok()) status = FileStatus::Errno("cannot write " + name);
  if (!status.ok()) {
    const int error = errno;
    (void)unlink(name.c_str());
    errno = error;
    return status;
  }
  *temp = name;
  return FileStatus::Ok();
}

void SyncDirectory(const std::string& directory) {
  ScopedFd fd(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) (void)fsync(fd.get());
}

// Replaces `path` by the document's contents, all or nothing; when it fails,
// the old file stays.
FileStatus ReplaceFile(const std::string& path, mode_t mode, const HiveDocument& document) {
  std::string temp;
  ScopedFd unnamed;
  bool named = !OpenUnnamedTemp(DirectoryOf(path), &unnamed).ok();
  if (!named) {
    FileStatus status = FillAndSync(unnamed.get(), mode, document);
    if (!status.ok()) return status;  // the unnamed file vanishes with its descriptor
    named = !LinkUnnamedTemp(unnamed.get(), path, &temp).ok();
    unnamed.Reset();
  }
  if (named) {
    FileStatus status = WriteNamedTemp(path, mode, document, &temp);
    if (!status.ok()) return status;
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    FileStatus status = FileStatus::Errno("cannot rename the new file over " + path);
    (void)unlink(temp.c_str());
    return status;
  }
  // The new file is in place; a failed directory sync only weakens how
  // durable the rename is, so it is not reported as a lost change.
  SyncDirectory(DirectoryOf(path));
  return FileStatus::Ok();
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
  FileStatus ReadAndParse();
  RegStatus Commit();
  void Unload();

  const std::string file_name_;
  bool loaded_ = false;
  bool unusable_ = false;
  ScopedFd lock_;  // the open, locked file; closing it drops the lock
  mode_t mode_ = 0644;
  std::unique_ptr<MemoryRegistry> engine_;
  std::unique_ptr<HiveDocument> document_;  // null for a missing file
};

RegStatus HiveRegistry::Load() {
  if (!loaded_) {
    loaded_ = true;
    engine_ = std::make_unique<MemoryRegistry>();
    FileStatus status = ReadAndParse();
    unusable_ = !status.ok();
    if (unusable_) {
      Report(status.ToString());
      // Nothing will be written, so nobody needs to wait for this run.
      lock_.Reset();
      document_.reset();
    }
  }
  return unusable_ ? kRegBadKey : kRegSuccess;
}

FileStatus HiveRegistry::ReadAndParse() {
  FileStatus status = OpenLocked(file_name_, &lock_);
  if (!status.ok() && status.error() == ENOENT) return FileStatus::Ok();  // an empty registry
  if (status.ok()) RemoveLeftoverTemps(file_name_);
  std::string text;
  struct stat info;
  if (status.ok() && (fstat(lock_.get(), &info) != 0 || !ReadToEnd(lock_.get(), &text))) {
    status = FileStatus::Errno("cannot read the registry file " + file_name_);
  }
  if (!status.ok()) return status.Adding("no key can be opened");
  mode_ = info.st_mode & 07777;
  document_ = std::make_unique<HiveDocument>();
  HiveError error;
  if (!document_->Parse(std::move(text), &engine_->tree(), &error)) {
    return FileStatus::Failure(file_name_ + ":" + std::to_string(error.line) + ": " +
                               error.message)
        .Adding("the registry file is left unchanged and no key can be opened");
  }
  return FileStatus::Ok();
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
  FileStatus status = ReplaceFile(file_name_, mode_, *document_);
  if (status.ok()) return kRegSuccess;
  Report("cannot save the changes to the registry file " + file_name_ + ": " +
         status.Adding("the file is left as it was").ToString());
  return kRegIoFailed;
}

void HiveRegistry::Unload() {
  lock_.Reset();  // closing the descriptor drops the lock
  document_.reset();
  engine_.reset();
  loaded_ = false;
  unusable_ = false;
}

}  // namespace

std::unique_ptr<Registry> MakeHiveRegistry(const std::string& file_name) {
  return std::make_unique<HiveRegistry>(file_name);
}
