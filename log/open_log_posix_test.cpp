#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "log/log_file.h"
#include "tests/support/scratch_dir.h"
#include "winapi/registry_file.h"

namespace {

// Runs in a scratch directory, where the registry file's relative name lands.
class LogBesideTheRegistryTest : public testing::Test {
 protected:
  LogBesideTheRegistryTest() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.path());
  }
  ~LogBesideTheRegistryTest() override { std::filesystem::current_path(previous_); }

  // Whether a log opened as `name` takes a line.
  static bool Writable(const std::string& name) {
    CLogFile log(name.c_str(), nullptr);
    return log.Write("line\n") == 1;
  }

  ScratchDir dir_;
  std::filesystem::path previous_;
};

// The registry's file can never be a log: writing into it would make it
// unreadable for this and every later run.
TEST_F(LogBesideTheRegistryTest, LogThatNamesTheRegistryFileIsNotOpened) {
  const std::string registry = RegistryFileName();
  EXPECT_FALSE(Writable(registry));  // missing: not made either
  EXPECT_FALSE(std::filesystem::exists(registry));
  dir_.Write(registry, "REGEDIT4\n\n");
  ASSERT_EQ(0, symlink(registry.c_str(), "link.log"));
  ASSERT_TRUE(std::filesystem::create_directory("sub"));
  for (const std::string& name : {registry, "./" + registry, "sub/../" + registry,
                                  dir_.File(registry), std::string("link.log")}) {
    EXPECT_FALSE(Writable(name)) << name;
  }
  EXPECT_EQ("REGEDIT4\n\n", dir_.Read(registry));
  EXPECT_TRUE(Writable("other.log"));
  EXPECT_TRUE(Writable("sub/" + registry));
}

// The platform's setting names another registry file; the log refuses that
// one, and the build's name is an ordinary file again. An empty setting is
// no setting.
TEST_F(LogBesideTheRegistryTest, TheRegistryNamedByTheEnvironmentIsRefusedInstead) {
  const std::string built_in = RegistryFileName();
  ASSERT_EQ(0, setenv("BRINDLEX_REGISTRY", "SOFTWARE", 1));
  EXPECT_EQ("SOFTWARE", RegistryFileName());
  dir_.Write("SOFTWARE", "regf");
  EXPECT_FALSE(Writable("./SOFTWARE"));
  EXPECT_TRUE(Writable(built_in));
  ASSERT_EQ(0, setenv("BRINDLEX_REGISTRY", "", 1));
  EXPECT_EQ(built_in, RegistryFileName());
  ASSERT_EQ(0, unsetenv("BRINDLEX_REGISTRY"));
  EXPECT_EQ("regf", dir_.Read("SOFTWARE"));
}

}  // namespace
