// Reading files through POSIX descriptors; used by the POSIX build's
// stand-ins for the platform's profile files and registry.
#ifndef BRINDLEX_FRAMEWORK_FILE_DESCRIPTOR_H_
#define BRINDLEX_FRAMEWORK_FILE_DESCRIPTOR_H_

#include <string>

// Replaces `*contents` with everything from the current position of `fd` to
// the end of the file. Returns false with errno set when a read fails; then
// `*contents` holds what was read before.
bool ReadToEnd(int fd, std::string* contents);

#endif  // BRINDLEX_FRAMEWORK_FILE_DESCRIPTOR_H_
