// Small helpers for the POSIX build's file stores: one status type for
// their internal calls and an owner for file descriptors.
#ifndef BRINDLEX_WINAPI_POSIX_FILE_H_
#define BRINDLEX_WINAPI_POSIX_FILE_H_

#include <unistd.h>

#include <cerrno>
#include <cstring>
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

#endif  // BRINDLEX_WINAPI_POSIX_FILE_H_
