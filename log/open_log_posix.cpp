#include "log/open_log.h"

#include <cerrno>

#include "winapi/registry_file.h"

std::FILE* OpenLogStream(const char* name, const char* mode) {
  if (IsRegistryFile(name)) {
    errno = EACCES;
    return nullptr;
  }
  return std::fopen(name, mode);
}
