#include "winapi/memory_registry.h"

#include <gtest/gtest.h>

#include <string>

#include "registry/registry_contract_test.h"

namespace {

struct MemoryHarness {
  void AddKey(const std::string& path) { ASSERT_NE(nullptr, memory.tree().AddPath(path)); }
  Registry& registry() { return memory; }
  void Reload() {}

  MemoryRegistry memory;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Memory, RegistryContract, MemoryHarness);

TEST(MemoryRegistry, HandlesAreNeverReused) {
  MemoryRegistry registry;
  registry.tree().AddPath("A");
  RegKey first = nullptr;
  RegKey second = nullptr;
  ASSERT_EQ(kRegSuccess, registry.OpenKey(ClassesRootKey(), "A", &first));
  ASSERT_EQ(kRegSuccess, registry.CloseKey(first));
  ASSERT_EQ(kRegSuccess, registry.OpenKey(ClassesRootKey(), "A", &second));
  EXPECT_NE(first, second);
  EXPECT_EQ(kRegInvalidHandle, registry.CloseKey(first));
  EXPECT_EQ(1u, registry.open_handle_count());
}

TEST(MemoryRegistry, FailedOpenLeavesTheOutParameterAlone) {
  MemoryRegistry registry;
  RegKey key = reinterpret_cast<RegKey>(uintptr_t{0x1234});
  EXPECT_EQ(kRegFileNotFound, registry.OpenKey(ClassesRootKey(), "Missing", &key));
  EXPECT_EQ(reinterpret_cast<RegKey>(uintptr_t{0x1234}), key);
  EXPECT_EQ(0u, registry.open_handle_count());
}

}  // namespace
