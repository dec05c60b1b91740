#include <windows.h>

#include "registry/system_registry.h"

namespace {

HKEY ToHkey(RegKey key) { return reinterpret_cast<HKEY>(key); }

class SystemRegistry : public Registry {
 public:
  RegStatus OpenKey(RegKey parent, const char* path, RegKey* key) override {
    HKEY opened = nullptr;
    LONG status = RegOpenKeyExA(ToHkey(parent), path, /*options=*/0, KEY_ALL_ACCESS, &opened);
    if (status == ERROR_SUCCESS) *key = reinterpret_cast<RegKey>(opened);
    return status;
  }

  RegStatus EnumKey(RegKey key, uint32_t index, char* name, uint32_t* capacity) override {
    DWORD size = *capacity;
    LONG status = RegEnumKeyExA(ToHkey(key), index, name, &size, /*reserved=*/nullptr,
                                /*class=*/nullptr, /*class_size=*/nullptr,
                                /*last_write=*/nullptr);
    *capacity = size;  // the platform leaves it unchanged on failure
    return status;
  }

  RegStatus DeleteKey(RegKey parent, const char* path) override {
    return RegDeleteKeyA(ToHkey(parent), path);
  }

  RegStatus CloseKey(RegKey key) override { return RegCloseKey(ToHkey(key)); }

  RegStatus Flush() override { return ERROR_SUCCESS; }
};

}  // namespace

std::unique_ptr<Registry> MakeSystemRegistry() { return std::make_unique<SystemRegistry>(); }
