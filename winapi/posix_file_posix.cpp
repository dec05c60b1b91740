#include "winapi/posix_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

constexpr std::chrono::milliseconds kLockRetry{10};
constexpr int kReadAttempts = 10;
constexpr std::chrono::milliseconds kReadRetry{20};

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

std::string ProcessName(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// The names of `fd`'s extended attributes, in `*names`.
FileStatus ListAttributes(int fd, std::vector<std::string>* names) {
  for (;;) {
    const ssize_t size = flistxattr(fd, nullptr, 0);
    if (size < 0 && (errno == ENOTSUP || errno == ENOSYS)) return FileStatus::Ok();
    if (size < 0) return FileStatus::Errno("cannot list the extended attributes");
    std::string list(static_cast<size_t>(size), '\0');
    const ssize_t got = flistxattr(fd, &list[0], list.size());
    if (got < 0 && errno == ERANGE) continue;  // one was added meanwhile
    if (got < 0) return FileStatus::Errno("cannot list the extended attributes");
    std::istringstream in(list.substr(0, static_cast<size_t>(got)));
    for (std::string name; std::getline(in, name, '\0');) names->push_back(name);
    return FileStatus::Ok();
  }
}

FileStatus CopyAttribute(int from, int to, const std::string& name) {
  for (;;) {
    const ssize_t size = fgetxattr(from, name.c_str(), nullptr, 0);
    if (size < 0) return FileStatus::Errno("cannot read the extended attribute " + name);
    std::string value(static_cast<size_t>(size), '\0');
    const ssize_t got = fgetxattr(from, name.c_str(), &value[0], value.size());
    if (got < 0 && errno == ERANGE) continue;
    if (got < 0) return FileStatus::Errno("cannot read the extended attribute " + name);
    if (fsetxattr(to, name.c_str(), value.data(), static_cast<size_t>(got), 0) != 0) {
      return FileStatus::Errno("cannot keep the extended attribute " + name);
    }
    return FileStatus::Ok();
  }
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
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

void SyncDirectory(const std::string& directory) {
  ScopedFd fd(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) (void)fsync(fd.get());
}

bool SameFileUnchanged(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         SameTime(a.st_mtim, b.st_mtim) && SameTime(a.st_ctim, b.st_ctim);
}

bool OpenForWritingElsewhere(int fd) {
  // A lease being broken signals its holder with SIGIO, which would end the
  // process; it is held only for this look.
  struct sigaction ignore = {}, previous;
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  (void)sigaction(SIGIO, &ignore, &previous);
  const bool leased = fcntl(fd, F_SETLEASE, F_RDLCK) == 0;
  const bool writers = !leased && errno == EAGAIN;
  if (leased) (void)fcntl(fd, F_SETLEASE, F_UNLCK);
  (void)sigaction(SIGIO, &previous, nullptr);
  return writers;
}

FileStatus LockExclusiveWithin(int fd, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return FileStatus::Ok();
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
      return FileStatus::Errno("cannot lock");
    }
    std::this_thread::sleep_for(kLockRetry);
  }
}

std::string FlockHolderIn(const std::string& locks, const struct stat& info,
                          std::string (*comm)(long pid)) {
  // Lines such as "3: FLOCK  ADVISORY  WRITE 4242 fe:00:10952814 0 EOF";
  // a process waiting for the lock has "->" after the number.
  std::istringstream lines(locks);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, device;
    long pid = 0;
    fields >> number >> kind;
    if (kind != "FLOCK" || !(fields >> mode >> access >> pid >> device) || pid <= 0) continue;
    unsigned major_number = 0, minor_number = 0;
    unsigned long long inode = 0;
    if (std::sscanf(device.c_str(), "%x:%x:%llu", &major_number, &minor_number, &inode) != 3 ||
        inode != info.st_ino || major_number != major(info.st_dev) ||
        minor_number != minor(info.st_dev)) {
      continue;
    }
    const std::string name = comm(pid);
    return "process " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
  }
  return std::string();
}

std::string FlockHolder(const struct stat& info) {
  std::ifstream in("/proc/locks");
  std::ostringstream locks;
  locks << in.rdbuf();
  return FlockHolderIn(locks.str(), info, ProcessName);
}

FileStatus ReadUnchanging(int fd, const std::string& name, const FileReading& read,
                          struct stat* info) {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(kReadRetry);
    struct stat before, after;
    if (fstat(fd, &before) != 0) return FileStatus::Errno("cannot read " + name);
    uint64_t offset = 0;
    int read_error = 0;
    const FileChunkSource source = [&](char* buffer, size_t capacity) -> ptrdiff_t {
      const ssize_t got = ReadAt(fd, buffer, capacity, offset);
      if (got < 0) {
        read_error = errno;
        return -1;
      }
      offset += static_cast<uint64_t>(got);
      return got;
    };
    const bool read_to_end = read(source, static_cast<uint64_t>(before.st_size));
    if (read_error != 0) return FileStatus::Error(read_error, "cannot read " + name);
    if (fstat(fd, &after) != 0) return FileStatus::Errno("cannot read " + name);
    if (SameFileUnchanged(before, after) &&
        (!read_to_end || offset == static_cast<uint64_t>(before.st_size))) {
      *info = before;
      return FileStatus::Ok();
    }
  }
  return FileStatus::Failure(name + " kept changing while it was read (another program is writing it)");
}

ssize_t ReadAt(int fd, char* buffer, size_t size, uint64_t offset) {
  ssize_t got;
  do {
    got = pread(fd, buffer, size, static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  return got;
}

DirectWriter::DirectWriter(int fd)
    : fd_(fd), buffer_(static_cast<char*>(std::aligned_alloc(kBlock, kBufferSize))) {
  flags_ = fcntl(fd, F_GETFL);
  const off_t offset = lseek(fd, 0, SEEK_CUR);
  direct_ = buffer_ && flags_ >= 0 && offset >= 0 && offset % kBlock == 0 &&
            fcntl(fd, F_SETFL, flags_ | O_DIRECT) == 0;
}

DirectWriter::~DirectWriter() {
  if (!direct_) return;
  const int saved = errno;
  (void)fcntl(fd_, F_SETFL, flags_);
  errno = saved;
}

void DirectWriter::FreeBuffer::operator()(char* buffer) const { std::free(buffer); }

FileStatus DirectWriter::Took(size_t size) {
  if (!buffer_) return FileStatus::Error(ENOMEM, "cannot write");
  used_ += size;
  return used_ == kBufferSize ? WriteGathered(false) : FileStatus::Ok();
}

FileStatus DirectWriter::Append(const char* data, size_t size) {
  while (size > 0) {
    const size_t piece = std::min(size, room_size());
    if (piece > 0) std::memcpy(room(), data, piece);
    FileStatus status = Took(piece);
    if (!status.ok()) return status;
    data += piece;
    size -= piece;
  }
  return FileStatus::Ok();
}

FileStatus DirectWriter::AppendFrom(int from, uint64_t offset, uint64_t size) {
  while (size > 0) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(size, room_size()));
    const ssize_t got = piece > 0 ? ReadAt(from, room(), piece, offset) : 0;
    if (got < 0) return FileStatus::Errno("cannot read");
    if (got == 0 && piece > 0) {
      return FileStatus::Failure("the file ended before the bytes to copy");
    }
    FileStatus status = Took(static_cast<size_t>(got));
    if (!status.ok()) return status;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<uint64_t>(got);
  }
  return FileStatus::Ok();
}

FileStatus DirectWriter::Finish() {
  return buffer_ ? WriteGathered(true) : FileStatus::Error(ENOMEM, "cannot write");
}

FileStatus DirectWriter::WriteGathered(bool all) {
  size_t written = 0;
  while (direct_ && used_ - written >= kBlock) {
    const size_t blocks = (used_ - written) / kBlock * kBlock;
    const ssize_t put = write(fd_, buffer_.get() + written, blocks);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EINVAL && errno != EOPNOTSUPP) return FileStatus::Errno("cannot write");
    if (put < 0) {
      // This file system takes no direct writes after all.
      direct_ = false;
      if (fcntl(fd_, F_SETFL, flags_) != 0) return FileStatus::Errno("cannot write");
      break;
    }
    written += static_cast<size_t>(put);
  }
  if (!direct_ || all) {
    if (direct_ && used_ > written) {
      // The tail shorter than a block.
      direct_ = false;
      if (fcntl(fd_, F_SETFL, flags_) != 0) return FileStatus::Errno("cannot write");
    }
    FileStatus status = WriteAll(fd_, buffer_.get() + written, used_ - written);
    if (!status.ok()) return status;
    written = used_;
  }
  std::memmove(buffer_.get(), buffer_.get() + written, used_ - written);
  used_ -= written;
  return FileStatus::Ok();
}

FileStatus CopyExtendedAttributes(int from, int to) {
  std::vector<std::string> names;
  FileStatus status = ListAttributes(from, &names);
  for (size_t i = 0; status.ok() && i < names.size(); ++i) status = CopyAttribute(from, to, names[i]);
  return status;
}
