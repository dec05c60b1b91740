#include "winapi/registry_file.h"

#include <sys/stat.h>

#include <cstdlib>

#include "winapi/posix_file.h"

namespace {

std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return std::string();
  std::string resolved = real;
  std::free(real);
  return resolved;
}

// `path` with its folders resolved; the last part resolved too when it
// exists. Empty when the folder cannot be resolved.
std::string ResolvedPlace(const std::string& path) {
  const std::string whole = RealPath(path);
  if (!whole.empty()) return whole;
  const std::string folder = RealPath(DirectoryOf(path));
  return folder.empty() ? std::string() : folder + "/" + BaseNameOf(path);
}

}  // namespace

std::string RegistryFileName() {
  const char* chosen = std::getenv("BRINDLEX_REGISTRY");
  return chosen != nullptr && *chosen != '\0' ? chosen : BRINDLEX_HIVE_FILE;
}

bool IsRegistryFile(const std::string& path) {
  const std::string registry = RegistryFileName();
  struct stat a, b;
  if (stat(path.c_str(), &a) == 0 && stat(registry.c_str(), &b) == 0) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  }
  const std::string place = ResolvedPlace(path);
  return !place.empty() && place == ResolvedPlace(registry);
}
