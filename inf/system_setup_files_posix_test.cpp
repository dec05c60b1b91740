#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "inf/setup_files_contract_test.h"
#include "inf/system_setup_files.h"
#include "tests/support/scratch_dir.h"

namespace {

// Names are case-sensitive and '/' separates them.
using SystemAdapter = SystemSetupFilesAdapter<'/', true>;

INSTANTIATE_TYPED_TEST_SUITE_P(System, SetupFilesContract, SystemAdapter);

// What only this platform does, in a scratch current directory holding the
// file "setup.inf" and the directory "adir".
class SystemSetupFilesTest : public testing::Test {
 protected:
  SystemSetupFilesTest() : cwd_(std::filesystem::current_path().string()) {
    scratch_.dir.Write("setup.inf", "[Upgrade]\nProductKey=PROD\n");
    std::filesystem::create_directory(scratch_.dir.path() / "adir");
  }

  // The full path of `name`, or "<0>" when the call fails.
  std::string FullPath(const std::string& name) {
    char buffer[300] = "";
    const uint32_t length = files_->GetFullPathName(name.c_str(), 260, buffer);
    if (length == 0) return "<0>";
    EXPECT_EQ(length, std::string(buffer).size());
    return buffer;
  }

  std::string Profile(const std::string& path, const char* fallback = "\"DEF\" ") {
    char buffer[255];
    files_->GetPrivateProfileString("Upgrade", "ProductKey", fallback, buffer, 255, path.c_str());
    return buffer;
  }

  ScratchCurrentDirectory scratch_;
  std::string cwd_;
  std::unique_ptr<SetupFiles> files_ = MakeSystemSetupFiles();
};

TEST_F(SystemSetupFilesTest, FullPathTakesOnlySlashAsASeparatorAndStopsAtTheRoot) {
  EXPECT_EQ(FullPath("a\\b"), cwd_ + "/a\\b");
  EXPECT_EQ(FullPath("./"), cwd_ + "/");
  EXPECT_EQ(FullPath("/x/./y/../z"), "/x/z");
  EXPECT_EQ(FullPath("/../.."), "/");
}

// A relative profile name is taken from the current directory.
TEST_F(SystemSetupFilesTest, ProfileIsReadFromAnyRegularFile) {
  EXPECT_EQ(Profile("setup.inf"), "PROD");
  EXPECT_EQ(Profile("missing.inf"), "DEF");  // an absent file reads as an empty profile
}

TEST_F(SystemSetupFilesTest, ProfileThatCannotBeOpenedGivesTheBareFallback) {
  ASSERT_EQ(mkfifo("pipe.inf", 0600), 0);
  EXPECT_EQ(Profile("adir"), "\"DEF\"");
  EXPECT_EQ(Profile("pipe.inf"), "\"DEF\"");
  EXPECT_EQ(Profile("setup.inf/"), "\"DEF\"");
  EXPECT_EQ(Profile("missing/x.inf"), "\"DEF\"");
}

}  // namespace
