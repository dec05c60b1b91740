// Small helpers for the POSIX build's file stores: one status type for
// their internal calls and an owner for file descriptors.
#ifndef BRINDLEX_WINAPI_POSIX_FILE_H_
#define BRINDLEX_WINAPI_POSIX_FILE_H_

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>

// The outcome of a file operation: ok, or what failed (a sentence part such
// as "cannot read /x/registry.reg") with the errno of the failing call, or
// with no errno when the failure is not a system call's.
class [[nodiscard]] FileStatus {
 public:
  static FileStatus Ok() { return FileStatus(); }
  // `what` with the current errno.
  static FileStatus Errno(std::string what) { return FileStatus(errno, std::move(what)); }
  static FileStatus Error(int error, std::string what) { return FileStatus(error, std::move(what)); }
  // `what` alone: a failure found by the caller, not by the system.
  static FileStatus Failure(std::string what) { return FileStatus(0, std::move(what)); }

  bool ok() const { return what_.empty(); }
  int error() const { return error_; }  // 0 for Ok and Failure
  // "cannot read /x/registry.reg: Permission denied", followed by
  // "; " and the consequences added; empty for Ok.
  std::string ToString() const {
    return (error_ == 0 ? what_ : what_ + ": " + std::strerror(error_)) + consequence_;
  }
  // The same failure, with what follows from it added to its text.
  FileStatus Adding(const std::string& consequence) const {
    FileStatus status = *this;
    if (!ok()) status.consequence_ += "; " + consequence;
    return status;
  }

 private:
  FileStatus() = default;
  FileStatus(int error, std::string what) : error_(error), what_(std::move(what)) {}

  int error_ = 0;
  std::string what_;
  std::string consequence_;
};

// Owns a file descriptor (or none, -1) and closes it when destroyed or reset.
// A close in the destructor keeps errno as it was, so that a failure being
// reported is not overwritten by the clean-up.
class ScopedFd {
 public:
  ScopedFd() = default;
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    const int saved = errno;
    Reset();
    errno = saved;
  }
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.Release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  // Closes the descriptor held (its close status is not looked at) and holds `fd`.
  void Reset(int fd = -1) {
    if (fd_ >= 0) (void)close(fd_);
    fd_ = fd;
  }
  // Hands the descriptor to the caller.
  int Release() { return std::exchange(fd_, -1); }
  // Closes the descriptor and reports whether the close succeeded (errno set
  // when not); for files whose last writes a failed close can reveal.
  bool Close() { return close(Release()) == 0; }

 private:
  int fd_ = -1;
};

// The folder part of `path` ("." for a bare name, "/" for one right below
// the root) and its last part.
std::string DirectoryOf(const std::string& path);
std::string BaseNameOf(const std::string& path);

// Writes all `size` bytes of `data` to `fd`, retrying short writes.
FileStatus WriteAll(int fd, const char* data, size_t size);

// pread(2) of up to `size` bytes at `offset`, done again when a signal
// interrupts it. Returns how many were read, 0 at the end of the file, -1
// with errno set on an error.
ssize_t ReadAt(int fd, char* buffer, size_t size, uint64_t offset);

// Syncs the folder `directory` so that a rename in it is durable. Failures
// are ignored: they weaken durability, they do not lose a change.
void SyncDirectory(const std::string& directory);

// Whether `a` and `b` describe the same file with the same size, modification
// and change times: a write, truncation, chmod, chown, new link or extended
// attribute set in between changes one of them.
bool SameFileUnchanged(const struct stat& a, const struct stat& b);

// Whether another open of `fd`'s file may write it: a program that keeps it
// open for writing may be half way through a rewrite. Told by a read lease,
// which the system grants only while nobody has the file open for writing;
// false when no lease can be taken here (another file system, no right).
bool OpenForWritingElsewhere(int fd);

// Takes an exclusive flock on `fd` without waiting longer than `limit`,
// trying again every few milliseconds. Fails with EWOULDBLOCK when another
// holder kept it all that time; other errors as flock's.
FileStatus LockExclusiveWithin(int fd, std::chrono::milliseconds limit);

// Who holds a flock on the file `info` describes, as "process 4242 (vi)",
// found in `locks`, the text of /proc/locks; empty when none is listed (or
// the holder's process id is not known here). `comm` gives a process's name
// from its id, empty when unknown.
std::string FlockHolderIn(const std::string& locks, const struct stat& info,
                          std::string (*comm)(long pid));
// The same from this system's /proc/locks and /proc/PID/comm.
std::string FlockHolder(const struct stat& info);

// Gives the bytes of a file from its start, a piece at a time: at most
// `capacity` of them in `buffer`. Returns how many: 0 at the end of the
// file, -1 on a read error.
using FileChunkSource = std::function<ptrdiff_t(char* buffer, size_t capacity)>;
// Reads a file with `source`, whose size is `size` as the file's status
// gives it. Returns true when it read to the end, false when it stopped
// before.
using FileReading = std::function<bool(const FileChunkSource& source, uint64_t size)>;

// Reads the regular file `fd` from its start by calling `read`, with the
// file's status then in `*info`. A read during which the file changed
// (another program writing it) is done again by a new call, a few times.
// Fails with a Failure when the file changed during every try; with errno
// on a read error.
FileStatus ReadUnchanging(int fd, const std::string& name, const FileReading& read,
                          struct stat* info);

// Writes a new file's content at `fd`'s offset, which advances, gathered
// into large pieces that go past the page cache (O_DIRECT) where the file
// and its file system allow it: on a VM, filling a few hundred MB of fresh
// page-cache pages can cost more than the disk's own writes, and a new file
// is synced anyway. A last piece shorter than a block, and everything once
// the file system refuses a direct write, goes through the page cache.
class DirectWriter {
 public:
  explicit DirectWriter(int fd);
  ~DirectWriter();  // gives `fd` back its flags
  DirectWriter(const DirectWriter&) = delete;
  DirectWriter& operator=(const DirectWriter&) = delete;

  // The free room after what is gathered, never empty unless the writer has
  // no buffer (then Took fails); a caller fills some of it and says how much
  // with Took, which writes out a full buffer. Fails with errno.
  char* room() { return buffer_.get() + used_; }
  size_t room_size() const { return buffer_ ? kBufferSize - used_ : 0; }
  FileStatus Took(size_t size);

  FileStatus Append(const char* data, size_t size);
  // Appends the `size` bytes of the file `from` that start at its byte
  // `offset`. Fails with errno, or with a Failure when `from` ends before them.
  FileStatus AppendFrom(int from, uint64_t offset, uint64_t size);
  // Writes what is still gathered. Fails with errno.
  FileStatus Finish();

 private:
  static constexpr size_t kBlock = 4096;  // a multiple of any disk's logical block
  static constexpr size_t kBufferSize = 4 << 20;
  struct FreeBuffer {
    void operator()(char* buffer) const;
  };

  // Writes the gathered bytes: only whole blocks of them, kept at the
  // buffer's start, while writing directly unless `all`.
  FileStatus WriteGathered(bool all);

  const int fd_;
  int flags_ = -1;
  bool direct_ = false;
  std::unique_ptr<char[], FreeBuffer> buffer_;
  size_t used_ = 0;
};

// Gives `to` every extended attribute of `from` (access control lists and
// security labels are such attributes). Fails when one cannot be read or set.
FileStatus CopyExtendedAttributes(int from, int to);

#endif  // BRINDLEX_WINAPI_POSIX_FILE_H_
