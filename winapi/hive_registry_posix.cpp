#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "winapi/hive_format.h"
#include "winapi/hive_registry.h"
#include "winapi/memory_registry.h"
#include "winapi/posix_file.h"
#include "winapi/regf_hive.h"

namespace {

constexpr int kTempNameAttempts = 100;
// Marks the name of a new file: no other program makes such names.
constexpr char kTempMark[] = ".brindlex-new.";
constexpr size_t kWriteChunk = 1 << 20;

void Report(const std::string& message) { std::fprintf(stderr, "Brindlex: %s\n", message.c_str()); }

std::string Duration(std::chrono::milliseconds wait) {
  return wait.count() % 1000 == 0 ? std::to_string(wait.count() / 1000) + " s"
                                  : std::to_string(wait.count()) + " ms";
}

// Whether the open file `fd` begins with the hive signature.
bool StartsAsHive(int fd) {
  char start[4];
  return ReadAt(fd, start, sizeof start, 0) == static_cast<ssize_t>(sizeof start) && IsRegfHive(std::string_view(start, sizeof start));
}

// The file `file_name` names, symbolic links followed, in `*target`.
FileStatus ResolveTarget(const std::string& file_name, std::string* target) {
  char* real = realpath(file_name.c_str(), nullptr);
  if (real == nullptr) return FileStatus::Errno("cannot read the registry file " + file_name);
  *target = real;
  std::free(real);
  return FileStatus::Ok();
}

// Opens the regular file `target` into `*fd` without blocking: a FIFO or a
// device is not a registry file, and opening one could wait for ever or
// read without end.
FileStatus OpenRegular(const std::string& file_name, const std::string& target, ScopedFd* fd) {
  const FileStatus not_regular =
      FileStatus::Failure("the registry file " + file_name + " is not a regular file");
  struct stat info;
  if (stat(target.c_str(), &info) != 0) {
    return FileStatus::Errno("cannot read the registry file " + file_name);
  }
  if (!S_ISREG(info.st_mode)) return not_regular;
  fd->Reset(open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd->valid() || fstat(fd->get(), &info) != 0) {
    return FileStatus::Errno("cannot read the registry file " + file_name);
  }
  return S_ISREG(info.st_mode) ? FileStatus::Ok() : not_regular;
}

// Takes the lock on the open registry file `fd`, waiting at most `wait`.
FileStatus Lock(const std::string& file_name, int fd, std::chrono::milliseconds wait) {
  FileStatus locked = LockExclusiveWithin(fd, wait);
  if (locked.ok() || locked.error() != EWOULDBLOCK) return locked;
  struct stat info;
  const std::string holder = fstat(fd, &info) == 0 ? FlockHolder(info) : std::string();
  return FileStatus::Failure("the registry file " + file_name + " is locked by " +
                             (holder.empty() ? "another program" : holder) +
                             "; gave up waiting after " + Duration(wait));
}

// Opens the file `file_name` names into `*fd`, its path in `*target`, and
// takes an exclusive lock on it, waiting for another holder to let go for
// at most `wait`. Fails with ENOENT when there is no such file.
FileStatus OpenLocked(const std::string& file_name, std::chrono::milliseconds wait,
                      std::string* target, ScopedFd* fd) {
  for (;;) {
    FileStatus status = ResolveTarget(file_name, target);
    if (status.ok()) status = OpenRegular(file_name, *target, fd);
    if (status.ok()) status = Lock(file_name, fd->get(), wait);
    if (!status.ok()) return status;
    struct stat held, named;
    if (fstat(fd->get(), &held) != 0) return FileStatus::Errno("cannot read the registry file " + file_name);
    // The holder we waited for may have renamed a new file over the name;
    // then the lock is on a file nobody will read again.
    if (stat(target->c_str(), &named) == 0) {
      if (named.st_dev == held.st_dev && named.st_ino == held.st_ino) return FileStatus::Ok();
    } else if (errno != ENOENT) {
      return FileStatus::Errno("cannot read the registry file " + file_name);
    }
  }
}

bool InGroup(gid_t group) {
  if (getegid() == group) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}

// Whether this process may replace the file `target` (read as `info`) by a
// new one without losing anything of it: the new file takes over its name
// and must take its owner, group and mode, and no other name may keep the
// old content.
FileStatus CheckReplaceable(const std::string& target, const struct stat& info) {
  if (info.st_nlink != 1) {
    return FileStatus::Failure("it has " + std::to_string(info.st_nlink) +
                               " hard links, which would keep the old keys");
  }
  // The superuser passes every access check, but a file without a write bit
  // is read-only for it too.
  if ((info.st_mode & 0222) == 0) return FileStatus::Failure("it is read-only");
  if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    return FileStatus::Errno("it cannot be written");
  }
  if (geteuid() != 0 && (geteuid() != info.st_uid || !InGroup(info.st_gid))) {
    return FileStatus::Failure("its owner and group could not be kept");
  }
  const std::string directory = DirectoryOf(target);
  if (faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    return FileStatus::Errno("its folder " + directory + " cannot be written");
  }
  return FileStatus::Ok();
}

// ".BASE.brindlex-new.PID.TICKS.ATTEMPT.tmp" beside `path`.
std::string TempName(const std::string& path, int attempt) {
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return DirectoryOf(path) + "/." + BaseNameOf(path) + kTempMark + std::to_string(getpid()) +
         "." + std::to_string(ticks) + "." + std::to_string(attempt) + ".tmp";
}

// Whether `entry` is a name that TempName gives for a file named `base`.
bool IsTempNameOf(const std::string& base, const std::string& entry) {
  const std::string prefix = "." + base + kTempMark;
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
// where unnamed files are not available, after making it) leaves that file
// behind. Only the holder of the lock on `path` makes such files, so while
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

// Reads pieces of a file that mostly follow each other, a window of
// `window` bytes at a time.
class WindowReader {
 public:
  WindowReader(int fd, size_t window) : fd_(fd), window_(window) {}

  // Appends the `size` bytes of the file from byte `offset` to `out`.
  // Fails with errno on a read or write error, with a Failure when the file
  // ends before them.
  FileStatus CopyTo(uint64_t offset, size_t size, DirectWriter* out) {
    while (size > 0) {
      if (offset < start_ || offset >= start_ + bytes_.size()) {
        FileStatus status = ReadWindowAt(offset);
        if (!status.ok()) return status;
      }
      const size_t from = static_cast<size_t>(offset - start_);
      const size_t piece = std::min(size, bytes_.size() - from);
      FileStatus status = out->Append(bytes_.data() + from, piece);
      if (!status.ok()) return status;
      offset += piece;
      size -= piece;
    }
    return FileStatus::Ok();
  }

 private:
  FileStatus ReadWindowAt(uint64_t offset) {
    bytes_.resize(window_);
    const ssize_t got = ReadAt(fd_, &bytes_[0], bytes_.size(), offset);
    bytes_.resize(got > 0 ? static_cast<size_t>(got) : 0);
    start_ = offset;
    if (got < 0) return FileStatus::Errno("cannot read");
    if (got == 0) return FileStatus::Failure("the file ended before the bytes to copy");
    return FileStatus::Ok();
  }

  const int fd_;
  const size_t window_;
  std::string bytes_;
  uint64_t start_ = 0;
};

// The new file that replaces the registry file. It is made when the file is
// read, with room for the old file's size reserved and the old file's owner,
// group, mode and extended attributes, so that whatever would stop the
// replacement, short of a write error, shows before any key is changed.
class Replacement {
 public:
  Replacement() = default;
  ~Replacement() { Discard(); }
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Makes the new file beside `target`, whose open descriptor is `old_fd`
  // and status `old`.
  FileStatus Prepare(const std::string& target, int old_fd, const struct stat& old);
  // Writes what `write` gives its writer into the new file, from its start
  // over the reserved room, and syncs it; the pieces it copies come from
  // the old file `old_fd`.
  FileStatus Fill(int old_fd, const std::function<bool(const HiveWriter&)>& write);
  // The same with `write` writing into the new file's descriptor itself,
  // at its offset; it returns false with errno set on failure.
  FileStatus FillDirectly(const std::function<bool(int fd)>& write);
  // Renames the new file over `target`; it is gone either way.
  FileStatus Install(const std::string& target);
  // Removes the new file, if any.
  void Discard();

 private:
  FileStatus Create(const std::string& target);
  FileStatus Reserve(const std::string& target, off_t size);
  FileStatus TakeOver(int old_fd, const struct stat& old);
  FileStatus Link(const std::string& target);
  // Cuts the reserved room beyond the new content and syncs the file.
  FileStatus Finish();

  ScopedFd fd_;
  std::string name_;  // empty while the file has no name
};

FileStatus Replacement::Prepare(const std::string& target, int old_fd, const struct stat& old) {
  FileStatus status = Create(target);
  if (status.ok()) status = Reserve(target, old.st_size);
  if (status.ok()) status = TakeOver(old_fd, old);
  if (!status.ok()) Discard();
  return status;
}

FileStatus Replacement::Create(const std::string& target) {
  const std::string directory = DirectoryOf(target);
#ifdef O_TMPFILE
  // Unnamed until complete, so that a run killed before the rename leaves
  // nothing; it is named later through /proc.
  if (access("/proc/self/fd", X_OK) == 0) {
    fd_.Reset(open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (fd_.valid()) return FileStatus::Ok();
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      return FileStatus::Errno("cannot make a file in " + directory);
    }
  }
#endif
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    const std::string name = TempName(target, attempt);
    fd_.Reset(open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd_.valid()) {
      name_ = name;
      return FileStatus::Ok();
    }
    if (errno != EEXIST) break;
  }
  return FileStatus::Errno("cannot make a file in " + directory);
}

FileStatus Replacement::Reserve(const std::string& target, off_t size) {
  // Deleting keys never makes the file larger: a text file loses lines, and
  // a binary hive keeps its size (libhivex frees the cells of deleted keys
  // in place; it adds hive bins only for new data).
  if (size == 0) return FileStatus::Ok();
  const int error = posix_fallocate(fd_.get(), 0, size);
  if (error == 0) return FileStatus::Ok();
  return FileStatus::Error(error, "cannot reserve " + std::to_string(size) +
                                      " bytes for its new copy in " + DirectoryOf(target));
}

FileStatus Replacement::TakeOver(int old_fd, const struct stat& old) {
  struct stat made;
  if (fstat(fd_.get(), &made) != 0) return FileStatus::Errno("cannot read its new copy");
  if ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
      fchown(fd_.get(), old.st_uid, old.st_gid) != 0) {
    return FileStatus::Errno("cannot give its new copy its owner and group");
  }
  // After fchown, which may clear set-id bits; the access control list
  // among the attributes then sets the group bits as the old file has them.
  if (fchmod(fd_.get(), old.st_mode & 07777) != 0) {
    return FileStatus::Errno("cannot give its new copy its mode");
  }
  return CopyExtendedAttributes(old_fd, fd_.get());
}

FileStatus Replacement::Fill(int old_fd, const std::function<bool(const HiveWriter&)>& write) {
  if (lseek(fd_.get(), 0, SEEK_SET) != 0) return FileStatus::Errno("cannot write its new copy");
  // Small pieces of the old file (between many deleted sections) are read
  // a window at a time; large ones straight into the writer's buffer.
  DirectWriter new_file(fd_.get());
  WindowReader old_file(old_fd, kWriteChunk);
  FileStatus status = FileStatus::Ok();
  const HiveWriter out{
      [&](uint64_t offset, uint64_t size) {
        const size_t piece = static_cast<size_t>(size);
        status = size >= kWriteChunk ? new_file.AppendFrom(old_fd, offset, size)
                                     : old_file.CopyTo(offset, piece, &new_file);
        return status.ok();
      },
      [&](const char* data, size_t size) {
        status = new_file.Append(data, size);
        return status.ok();
      }};
  if (!write(out) && status.ok()) return FileStatus::Errno("cannot make its new content");
  if (status.ok()) status = new_file.Finish();
  return status.ok() ? Finish() : status;
}

FileStatus Replacement::FillDirectly(const std::function<bool(int fd)>& write) {
  if (lseek(fd_.get(), 0, SEEK_SET) != 0) return FileStatus::Errno("cannot write its new copy");
  if (!write(fd_.get())) return FileStatus::Errno("cannot write its new copy");
  return Finish();
}

FileStatus Replacement::Finish() {
  const off_t end = lseek(fd_.get(), 0, SEEK_CUR);
  if (end < 0 || ftruncate(fd_.get(), end) != 0) return FileStatus::Errno("cannot write");
  if (fsync(fd_.get()) != 0) return FileStatus::Errno("cannot sync");
  return FileStatus::Ok();
}

FileStatus Replacement::Link(const std::string& target) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    const std::string name = TempName(target, attempt);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      name_ = name;
      return FileStatus::Ok();
    }
    if (errno != EEXIST) break;
  }
  return FileStatus::Errno("cannot name the new file beside it");
}

FileStatus Replacement::Install(const std::string& target) {
  FileStatus status = name_.empty() ? Link(target) : FileStatus::Ok();
  if (status.ok() && rename(name_.c_str(), target.c_str()) != 0) {
    status = FileStatus::Errno("cannot rename the new file over it");
  }
  if (!status.ok()) {
    Discard();
    return status;
  }
  name_.clear();
  fd_.Reset();
  // The new file is in place; a failed directory sync only weakens how
  // durable the rename is, so it is not reported as a lost change.
  SyncDirectory(DirectoryOf(target));
  return FileStatus::Ok();
}

void Replacement::Discard() {
  if (!name_.empty()) (void)unlink(name_.c_str());
  name_.clear();
  fd_.Reset();  // an unnamed file vanishes with its descriptor
}

class HiveRegistry : public Registry {
 public:
  HiveRegistry(const std::string& file_name, std::chrono::milliseconds lock_wait)
      : file_name_(file_name), lock_wait_(lock_wait) {}
  ~HiveRegistry() override { Unload(); }

  RegStatus OpenKey(RegKey parent, const char* path, RegKey* key) override {
    RegStatus status = Load();
    if (status != kRegSuccess) return status;
    return changeable_ ? engine_->OpenKey(parent, path, key) : DenyFullAccess(parent, path);
  }
  RegStatus EnumKey(RegKey key, uint32_t index, char* name, uint32_t* capacity) override {
    RegStatus status = Load();
    return status != kRegSuccess ? status : engine_->EnumKey(key, index, name, capacity);
  }
  RegStatus DeleteKey(RegKey parent, const char* path) override {
    RegStatus status = Load();
    if (status != kRegSuccess) return status;
    return changeable_ ? engine_->DeleteKey(parent, path) : DenyFullAccess(parent, path);
  }
  RegStatus CloseKey(RegKey key) override {
    // Only an open registry has handles; the root needs no closing.
    if (!loaded_ || unusable_ != kRegSuccess) {
      return key == ClassesRootKey() ? kRegSuccess : kRegInvalidHandle;
    }
    return engine_->CloseKey(key);
  }
  RegStatus Flush() override;

 private:
  // Reads the file on the first call. Returns 0 when the keys are there
  // (also for a missing file or one that cannot be changed), 1009 or 1012
  // when the file is unusable.
  RegStatus Load();
  // Reads and parses the file; `*unusable` tells which code a failure gives.
  FileStatus Read(RegStatus* unusable);
  // Loads the locked file, which begins with the hive signature, through
  // libhivex; `*unusable` as for Read.
  FileStatus ReadHive(RegStatus* unusable);
  // What a binary hive that libhivex or the load refused gives.
  FileStatus UnusableHive(const HiveError& error) const;
  // Whether a file was read (false: a missing file, an empty registry).
  bool HasFile() const { return document_ != nullptr || regf_ != nullptr; }
  void DropFile();
  FileStatus PrepareChange();
  // What a key that exists gives when the file cannot be changed: 5, as
  // for a key without full access.
  RegStatus DenyFullAccess(RegKey parent, const char* path);
  FileStatus CheckUnchanged() const;
  // Whether the locked file is as it was when read; a Failure if not.
  FileStatus CheckReadAgainUnchanged() const;
  RegStatus Commit();
  // Writes the new file, synced, as the file is after the deletes.
  FileStatus WriteReplacement();
  void Unload();

  const std::string file_name_;
  const std::chrono::milliseconds lock_wait_;
  bool loaded_ = false;
  RegStatus unusable_ = kRegSuccess;
  bool changeable_ = true;
  std::string target_;  // the file read, symbolic links followed
  ScopedFd lock_;       // the open, locked file; closing it drops the lock
  struct stat read_info_ = {};  // the file as it was read
  Replacement replacement_;
  std::unique_ptr<MemoryRegistry> engine_;
  // The file read: a text file or a binary hive; both null for a missing file.
  std::unique_ptr<HiveDocument> document_;
  std::unique_ptr<RegfHive> regf_;
};

RegStatus HiveRegistry::Load() {
  if (loaded_) return unusable_;
  loaded_ = true;
  engine_ = std::make_unique<MemoryRegistry>();
  FileStatus status = Read(&unusable_);
  if (!status.ok()) {
    Report(status.Adding("no key can be opened").ToString());
  } else if (HasFile()) {
    status = PrepareChange();
    changeable_ = status.ok();
    if (!changeable_) {
      Report("the registry file " + file_name_ + " cannot be changed: " +
             status.Adding("no key can be opened with full access").ToString());
    }
  }
  if (unusable_ != kRegSuccess) DropFile();
  // A file that is never written needs no lock: nobody waits for this run.
  if (unusable_ != kRegSuccess || !changeable_) lock_.Reset();
  return unusable_;
}

FileStatus HiveRegistry::Read(RegStatus* unusable) {
  *unusable = kRegCantRead;
  FileStatus status = OpenLocked(file_name_, lock_wait_, &target_, &lock_);
  if (!status.ok() && status.error() == ENOENT) {
    *unusable = kRegSuccess;
    return FileStatus::Ok();  // an empty registry
  }
  if (!status.ok()) return status;
  RemoveLeftoverTemps(target_);
  if (StartsAsHive(lock_.get())) return ReadHive(unusable);
  HiveError error;
  bool parsed = false;
  status = ReadUnchanging(
      lock_.get(), "the registry file " + file_name_,
      [&](const FileChunkSource& source, uint64_t size) {
        // Each try starts from no keys.
        engine_ = std::make_unique<MemoryRegistry>();
        document_ = std::make_unique<HiveDocument>();
        parsed = document_->Read(source, size, &engine_->tree(), &error);
        return parsed;
      },
      &read_info_);
  if (!status.ok()) return status;
  // The kind of file is told by its content alone, as the platform's own
  // loader tells a hive: one that became a hive after StartsAsHive looked
  // at it is read as one.
  if (!parsed && StartsAsHive(lock_.get())) {
    document_.reset();
    engine_ = std::make_unique<MemoryRegistry>();
    return ReadHive(unusable);
  }
  *unusable = kRegBadDb;
  if (!parsed) {
    return FileStatus::Failure(file_name_ + ":" + std::to_string(error.line) + ": " +
                               error.message)
        .Adding("the registry file is left unchanged");
  }
  *unusable = kRegSuccess;
  return FileStatus::Ok();
}

FileStatus HiveRegistry::ReadHive(RegStatus* unusable) {
  // libhivex reads the locked file itself, so it is read once, not first
  // into memory here and then again by libhivex.
  if (fstat(lock_.get(), &read_info_) != 0) {
    return FileStatus::Errno("cannot read the registry file " + file_name_);
  }
  *unusable = kRegBadDb;
  regf_ = std::make_unique<RegfHive>();
  HiveError error;
  if (!regf_->ParseFile(lock_.get(), &engine_->tree(), &error)) return UnusableHive(error);
  *unusable = kRegCantRead;
  FileStatus status = CheckReadAgainUnchanged();
  if (!status.ok()) return status;
  *unusable = kRegSuccess;
  return FileStatus::Ok();
}

FileStatus HiveRegistry::UnusableHive(const HiveError& error) const {
  return FileStatus::Failure(file_name_ + ": not a usable registry hive: " + error.message)
      .Adding("the registry file is left unchanged");
}

void HiveRegistry::DropFile() {
  document_.reset();
  regf_.reset();
}

FileStatus HiveRegistry::PrepareChange() {
  FileStatus status = CheckReplaceable(target_, read_info_);
  return status.ok() ? replacement_.Prepare(target_, lock_.get(), read_info_) : status;
}

RegStatus HiveRegistry::DenyFullAccess(RegKey parent, const char* path) {
  RegKey found = nullptr;
  const RegStatus status = engine_->OpenKey(parent, path, &found);
  if (status != kRegSuccess) return status;
  (void)engine_->CloseKey(found);  // only looked for
  return kRegAccessDenied;
}

FileStatus HiveRegistry::CheckReadAgainUnchanged() const {
  struct stat held;
  if (fstat(lock_.get(), &held) != 0) {
    return FileStatus::Errno("cannot read the registry file " + file_name_);
  }
  if (!SameFileUnchanged(read_info_, held)) {
    return FileStatus::Failure("the registry file " + file_name_ +
                               " changed while it was read (another program is writing it)");
  }
  return FileStatus::Ok();
}

FileStatus HiveRegistry::CheckUnchanged() const {
  // Programs that do not take the lock (an editor, a script) may have
  // written the file or put another in its place since it was read.
  struct stat held, named;
  if (fstat(lock_.get(), &held) != 0 || stat(target_.c_str(), &named) != 0) {
    return FileStatus::Errno("cannot check it is unchanged");
  }
  if (!SameFileUnchanged(read_info_, held) || !SameFileUnchanged(held, named)) {
    return FileStatus::Failure("another program changed it after this run read it");
  }
  if (OpenForWritingElsewhere(lock_.get())) {
    return FileStatus::Failure("another program has it open for writing");
  }
  return FileStatus::Ok();
}

RegStatus HiveRegistry::Flush() {
  RegStatus status = kRegSuccess;
  if (loaded_ && unusable_ == kRegSuccess && engine_->tree().delete_count() != 0) status = Commit();
  Unload();
  return status;
}

RegStatus HiveRegistry::Commit() {
  // A missing file holds no key, so a file was read whenever a key was
  // deleted.
  FileStatus status = WriteReplacement();
  // A program that changed the file can also have made the copying of its
  // pieces fail: that it changed is what tells why.
  const FileStatus unchanged = CheckUnchanged();
  if (!unchanged.ok()) status = unchanged;
  if (status.ok()) status = replacement_.Install(target_);
  if (status.ok()) return kRegSuccess;
  Report("cannot save the changes to the registry file " + file_name_ + ": " +
         status.Adding("the file is left as it was, without this run's deletions").ToString());
  return kRegIoFailed;
}

FileStatus HiveRegistry::WriteReplacement() {
  if (document_) {
    return replacement_.Fill(lock_.get(),
                             [this](const HiveWriter& out) { return document_->Write(out); });
  }
  // The checks made before libhivex deletes read the hive's cells from the
  // file again: it must still be the one libhivex read.
  FileStatus status = CheckReadAgainUnchanged();
  if (!status.ok()) return status;
  return replacement_.FillDirectly([this](int fd) { return regf_->WriteToFile(fd); });
}

void HiveRegistry::Unload() {
  replacement_.Discard();
  lock_.Reset();  // closing the descriptor drops the lock
  DropFile();
  engine_.reset();
  loaded_ = false;
  unusable_ = kRegSuccess;
  changeable_ = true;
}

}  // namespace

std::unique_ptr<Registry> MakeHiveRegistry(const std::string& file_name,
                                           std::chrono::milliseconds lock_wait) {
  return std::make_unique<HiveRegistry>(file_name, lock_wait);
}
