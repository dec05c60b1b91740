#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "inf/system_setup_files.h"
#include "winapi/profile_cache.h"
#include "winapi/profile_reader.h"

// Only '/' separates the parts of a path here; a backslash is an ordinary
// character of a file name.
namespace {

// The platform's path limit, terminator included. A name of more than 260
// characters is refused outright, and a full path must fit in 260 bytes with
// its terminator.
constexpr size_t kMaxPath = 260;

bool CurrentDirectory(std::string* directory) {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return false;
    buffer.resize(buffer.size() * 2);
  }
  *directory = buffer.data();
  return true;
}

// `name` made absolute against `directory`, with "." and ".." resolved on
// the text alone, as Windows does: "missing/../x" is "x" whether or not
// "missing" exists, and ".." stops at the root. Repeated separators count as
// one; a trailing separator stays.
std::string LexicalFullPath(const std::string& directory, std::string_view name) {
  const std::string joined =
      name.front() == '/' ? std::string(name) : directory + "/" + std::string(name);
  std::vector<std::string_view> parts;
  std::string_view rest = joined;
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string full;
  for (std::string_view part : parts) full.append("/").append(part);
  if (full.empty()) return "/";
  if (name.back() == '/') full += '/';
  return full;
}

// Fails for a null, empty or over-long name.
bool FullPathOf(const char* name, std::string* full) {
  if (name == nullptr || name[0] == '\0' || std::strlen(name) > kMaxPath) return false;
  std::string directory;
  if (!CurrentDirectory(&directory)) return false;
  *full = LexicalFullPath(directory, name);
  return true;
}

class SystemSetupFiles : public SetupFiles {
 public:
  int Access(const char* name) override {
    std::string full;
    struct stat status;
    return FullPathOf(name, &full) && stat(full.c_str(), &status) == 0 ? 0 : -1;
  }

  uint32_t GetFullPathName(const char* name, uint32_t capacity, char* buffer) override {
    std::string full;
    if (!FullPathOf(name, &full) || full.size() >= kMaxPath) return 0;
    const uint32_t length = static_cast<uint32_t>(full.size());
    if (length >= capacity) return length + 1;
    std::memcpy(buffer, full.c_str(), full.size() + 1);
    return length;
  }

  uint32_t GetPrivateProfileString(const char* section, const char* key, const char* fallback,
                                   char* buffer, uint32_t size, const char* path) override {
    std::string full;
    if (!FullPathOf(path, &full) || full.size() >= kMaxPath) {
      return CopyUnreadableFallback(fallback, buffer, size);
    }
    return profiles_.GetString(full, section, key, fallback, buffer, size);
  }

 private:
  // A run reads all its keys from one file: it is read once.
  ProfileCache profiles_;
};

}  // namespace

std::unique_ptr<SetupFiles> MakeSystemSetupFiles() { return std::make_unique<SystemSetupFiles>(); }
