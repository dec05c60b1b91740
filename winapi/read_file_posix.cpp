#include "winapi/read_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool ReadToEnd(int fd, std::string* contents) {
  contents->clear();
  struct stat info;
  if (fstat(fd, &info) == 0 && info.st_size > 0) {
    contents->reserve(static_cast<size_t>(info.st_size));
  }
  // Through a small reused buffer: on the machines measured, the kernel
  // copies into one large buffer more slowly.
  char chunk[1 << 16];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got == 0) return true;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    contents->append(chunk, static_cast<size_t>(got));
  }
}
