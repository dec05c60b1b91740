#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "registry/registry_contract_test.h"
#include "registry/system_registry.h"

namespace {

// Deletes `path` below `parent` with everything under it; missing is fine.
void DeleteTree(HKEY parent, const char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  char name[300];
  for (;;) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    DeleteTree(key, name);
  }
  RegCloseKey(key);
  RegDeleteKeyA(parent, path);
}

// The contract run against the real registry: keys go under
// HKEY_CLASSES_ROOT\BrindlexContract, which is removed before and after.
struct SystemHarness {
  SystemHarness() : system(MakeSystemRegistry()) { DeleteTree(HKEY_CLASSES_ROOT, kContractBase); }
  ~SystemHarness() { DeleteTree(HKEY_CLASSES_ROOT, kContractBase); }

  // Created one level at a time: a whole path may be longer than the
  // platform takes in one call.
  void AddKey(const std::string& path) {
    HKEY key = HKEY_CLASSES_ROOT;
    size_t start = 0;
    while (start < path.size()) {
      size_t end = path.find('\\', start);
      if (end == std::string::npos) end = path.size();
      HKEY child = nullptr;
      ASSERT_EQ(ERROR_SUCCESS,
                RegCreateKeyExA(key, path.substr(start, end - start).c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &child, nullptr))
          << path;
      if (key != HKEY_CLASSES_ROOT) RegCloseKey(key);
      key = child;
      start = end + 1;
    }
    if (key != HKEY_CLASSES_ROOT) RegCloseKey(key);
  }

  Registry& registry() { return *system; }
  void Reload() {}

  std::unique_ptr<Registry> system;
};

INSTANTIATE_TYPED_TEST_SUITE_P(System, RegistryContract, SystemHarness);

}  // namespace
