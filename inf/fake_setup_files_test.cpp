#include "tests/doubles/fake_setup_files.h"

#include <gtest/gtest.h>

#include <string>

#include "inf/setup_files_contract_test.h"

namespace {

constexpr char kCurrentDirectory[] = "/scratch/cwd";

struct FakeAdapter {
  static constexpr char kSeparator = '/';
  static constexpr bool kCaseSensitiveNames = true;

  std::string CurrentDirectory() { return kCurrentDirectory; }
  void AddFile(const std::string& name, const std::string& contents) {
    fake.AddFile(name, contents);
  }
  void AddDirectory(const std::string& name) { fake.AddDirectory(name); }
  SetupFiles& files() { return fake; }

  FakeSetupFiles fake{kCurrentDirectory};
};

INSTANTIATE_TYPED_TEST_SUITE_P(Fake, SetupFilesContract, FakeAdapter);

}  // namespace
