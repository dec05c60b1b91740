// Reading files through POSIX descriptors; used by the POSIX build's
// stand-ins for the platform's profile files and registry.
#ifndef BRINDLEX_WINAPI_READ_FILE_H_
#define BRINDLEX_WINAPI_READ_FILE_H_

#include <cstddef>
#include <string>

// Replaces `*contents` with everything from the current position of `fd` to
// the end of the file. Returns false with errno set when a read fails; then
// `*contents` holds what was read before.
bool ReadToEnd(int fd, std::string* contents);

// Empties `*buffer` and makes room in it for `size` bytes, asking for large
// pages for a large buffer: filling fresh memory costs a page fault per page
// touched, which on the virtual machines measured takes longer than reading
// the file. Only advice; where it is not taken the buffer works as well.
void ReserveForReading(std::string* buffer, size_t size);

#endif  // BRINDLEX_WINAPI_READ_FILE_H_
