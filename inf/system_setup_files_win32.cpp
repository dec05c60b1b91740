#include <io.h>
#include <windows.h>

// windows.h maps these names to their ANSI functions; the interface's
// methods carry the plain names.
#undef GetFullPathName
#undef GetPrivateProfileString

#include "inf/system_setup_files.h"

namespace {

class SystemSetupFiles : public SetupFiles {
 public:
  int Access(const char* name) override { return _access(name, /*mode=exists*/ 0); }

  uint32_t GetFullPathName(const char* name, uint32_t capacity, char* buffer) override {
    return GetFullPathNameA(name, capacity, buffer, /*lpFilePart=*/nullptr);
  }

  uint32_t GetPrivateProfileString(const char* section, const char* key, const char* fallback,
                                   char* buffer, uint32_t size, const char* path) override {
    return GetPrivateProfileStringA(section, key, fallback, buffer, size, path);
  }
};

}  // namespace

std::unique_ptr<SetupFiles> MakeSystemSetupFiles() { return std::make_unique<SystemSetupFiles>(); }
