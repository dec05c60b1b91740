// Reading files through POSIX descriptors; used by the POSIX build's
// stand-ins for the platform's profile files and registry.
#ifndef BRINDLEX_WINAPI_READ_FILE_H_
#define BRINDLEX_WINAPI_READ_FILE_H_

#include <string>

// Replaces `*contents` with everything from the current position of `fd` to
// the end of the file. Returns false with errno set when a read fails; then
// `*contents` holds what was read before.
bool ReadToEnd(int fd, std::string* contents);

#endif  // BRINDLEX_WINAPI_READ_FILE_H_
