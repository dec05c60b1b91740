#include "winapi/read_file.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace {

constexpr size_t kLargePage = 2 << 20;

// Asks for large pages for the whole large pages within `size` bytes at
// `data`: 512 times fewer page faults than with small ones.
void AdviseLargePages(char* data, size_t size) {
  if (size < 2 * kLargePage) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kLargePage - 1);
  if (end > begin) (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

void ReserveForReading(std::string* buffer, size_t size) {
  buffer->clear();
  buffer->reserve(size);
  AdviseLargePages(buffer->data(), buffer->capacity());
}

bool ReadToEnd(int fd, std::string* contents) {
  contents->clear();
  struct stat info;
  if (fstat(fd, &info) == 0 && info.st_size > 0) {
    ReserveForReading(contents, static_cast<size_t>(info.st_size));
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
