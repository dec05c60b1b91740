#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "inf/system_setup_files.h"
#include "tests/support/scratch_dir.h"

namespace {

// Works in a scratch directory holding the file "setup.inf" and the
// directory "adir".
class SystemSetupFilesTest : public testing::Test {
 protected:
  SystemSetupFilesTest() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.path());
    cwd_ = std::filesystem::current_path().string();
    dir_.Write("setup.inf", "[Upgrade]\nProductKey=PROD\n");
    std::filesystem::create_directory(dir_.path() / "adir");
  }
  ~SystemSetupFilesTest() override { std::filesystem::current_path(previous_); }

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

  ScratchDir dir_;
  std::filesystem::path previous_;
  std::string cwd_;
  std::unique_ptr<SetupFiles> files_ = MakeSystemSetupFiles();
};

TEST_F(SystemSetupFilesTest, FullPathResolvesDotsOnTheTextAlone) {
  EXPECT_EQ(FullPath("setup.inf"), cwd_ + "/setup.inf");
  EXPECT_EQ(FullPath("./setup.inf"), cwd_ + "/setup.inf");
  EXPECT_EQ(FullPath("missing/../setup.inf"), cwd_ + "/setup.inf");
  EXPECT_EQ(FullPath("a//b/./c/"), cwd_ + "/a/b/c/");
  EXPECT_EQ(FullPath("a\\b"), cwd_ + "/a\\b");
  EXPECT_EQ(FullPath("."), cwd_);
  EXPECT_EQ(FullPath("./"), cwd_ + "/");
  EXPECT_EQ(FullPath(".."), std::filesystem::path(cwd_).parent_path().string());
  EXPECT_EQ(FullPath("/x/./y/../z"), "/x/z");
  EXPECT_EQ(FullPath("/../.."), "/");
  EXPECT_EQ(FullPath(""), "<0>");
}

TEST_F(SystemSetupFilesTest, FullPathRefusesLongNamesAndResultsButReportsASmallBuffer) {
  std::string dots;
  while (dots.size() < 248) dots += "./";
  EXPECT_EQ(FullPath(dots + ".//setup.inf"), cwd_ + "/setup.inf");  // a 260-byte name
  EXPECT_EQ(FullPath(dots + ".///setup.inf"), "<0>");
  EXPECT_EQ(FullPath("/" + std::string(258, 'p')), "/" + std::string(258, 'p'));
  EXPECT_EQ(FullPath("/" + std::string(259, 'p')), "<0>");

  char buffer[8] = "UNTOUCH";
  const std::string full = cwd_ + "/setup.inf";
  EXPECT_EQ(files_->GetFullPathName("setup.inf", 8, buffer), full.size() + 1);
  EXPECT_STREQ(buffer, "UNTOUCH");
}

TEST_F(SystemSetupFilesTest, AccessFindsFilesAndDirectories) {
  EXPECT_EQ(files_->Access("setup.inf"), 0);
  EXPECT_EQ(files_->Access("adir"), 0);
  EXPECT_EQ(files_->Access("adir/"), 0);
  EXPECT_EQ(files_->Access("."), 0);
  EXPECT_EQ(files_->Access("missing/../setup.inf"), 0);
  EXPECT_EQ(files_->Access("setup.inf/."), 0);
  EXPECT_EQ(files_->Access("setup.inf/"), -1);
  EXPECT_EQ(files_->Access("missing.inf"), -1);
  EXPECT_EQ(files_->Access(""), -1);
  EXPECT_EQ(files_->Access((std::string(256, 'x') + "/../setup.inf").c_str()), -1);
}

TEST_F(SystemSetupFilesTest, ProfileIsReadFromAnyRegularFile) {
  EXPECT_EQ(Profile("setup.inf"), "PROD");
  EXPECT_EQ(Profile(cwd_ + "/adir/../setup.inf"), "PROD");
  EXPECT_EQ(Profile("missing.inf"), "DEF");  // an absent file reads as an empty profile
}

TEST_F(SystemSetupFilesTest, ProfileThatCannotBeOpenedGivesTheBareFallback) {
  ASSERT_EQ(mkfifo("pipe.inf", 0600), 0);
  EXPECT_EQ(Profile("adir"), "\"DEF\"");
  EXPECT_EQ(Profile("pipe.inf"), "\"DEF\"");
  EXPECT_EQ(Profile("setup.inf/"), "\"DEF\"");
  EXPECT_EQ(Profile("missing/x.inf"), "\"DEF\"");
  EXPECT_EQ(Profile(""), "\"DEF\"");
}

}  // namespace
