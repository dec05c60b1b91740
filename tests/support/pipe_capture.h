// Captures what a test's code writes into a pipe (POSIX only).
#ifndef BRINDLEX_TESTS_SUPPORT_PIPE_CAPTURE_H_
#define BRINDLEX_TESTS_SUPPORT_PIPE_CAPTURE_H_

#include <unistd.h>

#include <functional>
#include <string>
#include <thread>

// Calls `write` with the write end of a new pipe, which is closed after it,
// while a second thread reads the pipe to its end. Returns what was read,
// with what `write` returned in `*written` when given; empty when no pipe
// can be made.
inline std::string CapturePipe(const std::function<bool(int fd)>& write,
                               bool* written = nullptr) {
  if (written != nullptr) *written = false;
  int ends[2];
  if (pipe(ends) != 0) return std::string();
  std::string captured;
  std::thread reader([&] {
    char chunk[65536];
    for (ssize_t got; (got = read(ends[0], chunk, sizeof chunk)) > 0;) captured.append(chunk, got);
  });
  const bool wrote = write(ends[1]);
  if (written != nullptr) *written = wrote;
  close(ends[1]);
  reader.join();
  close(ends[0]);
  return captured;
}

#endif  // BRINDLEX_TESTS_SUPPORT_PIPE_CAPTURE_H_
