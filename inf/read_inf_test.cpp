#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "gtest/gtest.h"
#include "tests/doubles/fake_setup_files.h"
#include "tests/doubles/null_services.h"
#include "tests/support/scratch_dir.h"

namespace {

const char kSetupPath[] = "/work/setup.inf";

// Runs ReadINF over an in-memory current directory "/work", with the trace
// going to a log file in a scratch directory.
class ReadInfTest : public testing::Test {
 protected:
  explicit ReadInfTest(std::string current_directory = "/work")
      : files_(std::move(current_directory)) {}

  int Run(const char* inf_file_name) {
    CMainDlg dlg(Services{registry_, files_});
    dlg.m_InfFileName = inf_file_name;
    dlg.m_LogMode = TRUE;
    dlg.m_pStringList.reset(new CStringList);
    dlg.m_pLogFile.reset(new CLogFile(dir_.File("trace.log").c_str(), nullptr));
    const int result = dlg.ReadINF();
    keys_.clear();
    for (const CString& key : *dlg.m_pStringList) keys_.push_back(key.str());
    return result;
  }

  std::string Log() const {
    return std::regex_replace(dir_.Read("trace.log"), std::regex("\r\n"), "\n");
  }

  std::vector<std::string> Lookups(const std::vector<std::string>& keys) const {
    std::vector<std::string> lookups;
    for (const std::string& key : keys) lookups.push_back("Upgrade." + key + " in " + kSetupPath);
    return lookups;
  }

  ScratchDir dir_;
  NullRegistry registry_;
  FakeSetupFiles files_;
  std::vector<std::string> keys_;
};

TEST_F(ReadInfTest, ReadsProductKeyThenPatchKeysInNumberOrder) {
  files_.AddFile("setup.inf",
                 "[UPGRADE]\r\nPatchKey10=P10\r\nPatchKey2=P2\r\nproductkey=PROD\r\n"
                 "PatchKey3=\r\nPatchKey1=P1\r\n");
  EXPECT_EQ(Run("setup.inf"), 1);
  EXPECT_EQ(keys_, (std::vector<std::string>{"PROD", "P1", "P2", "P10"}));
  EXPECT_EQ(Log(),
            "CALLING: ReadINF()\n"
            "\tsetup.inf == /work/setup.inf\n"
            "\tSection == Upgrade \n"
            "\tProductKey == PROD Adding to Head of StringList\n"
            "\tPatchKey1 ==  P1 Adding to Tail of StringList\n"
            "\tPatchKey2 ==  P2 Adding to Tail of StringList\n"
            "\tPatchKey10 ==  P10 Adding to Tail of StringList\n"
            "LEAVING: ReadINF()\n");
}

TEST_F(ReadInfTest, ReadsOnlyTheElevenKnownKeys) {
  files_.AddFile("setup.inf", "[Upgrade]\nProductKey=PROD\nPatchKey0=Z\nPatchKey11=Z\n");
  EXPECT_EQ(Run("setup.inf"), 1);
  EXPECT_EQ(keys_, (std::vector<std::string>{"PROD"}));
  EXPECT_EQ(files_.lookups,
            Lookups({"ProductKey", "PatchKey1", "PatchKey2", "PatchKey3", "PatchKey4",
                     "PatchKey5", "PatchKey6", "PatchKey7", "PatchKey8", "PatchKey9",
                     "PatchKey10"}));
  EXPECT_EQ(Log(),
            "CALLING: ReadINF()\n"
            "\tsetup.inf == /work/setup.inf\n"
            "\tSection == Upgrade \n"
            "\tProductKey == PROD Adding to Head of StringList\n"
            "LEAVING: ReadINF()\n");
}

TEST_F(ReadInfTest, KeepsRepeatedValues) {
  files_.AddFile("setup.inf", "[Upgrade]\nProductKey=SAME\nPatchKey1=SAME\nPatchKey2=SAME\n");
  EXPECT_EQ(Run("setup.inf"), 1);
  EXPECT_EQ(keys_, (std::vector<std::string>{"SAME", "SAME", "SAME"}));
}

TEST_F(ReadInfTest, PatchKeysWithoutProductKeyAreNotRead) {
  files_.AddFile("setup.inf", "[Upgrade]\nProductKey=\nPatchKey1=P1\n");
  EXPECT_EQ(Run("setup.inf"), 0);
  EXPECT_TRUE(keys_.empty());
  EXPECT_EQ(files_.lookups, Lookups({"ProductKey"}));
  EXPECT_EQ(Log(),
            "CALLING: ReadINF()\n"
            "\tsetup.inf == /work/setup.inf\n"
            "\tSection == Upgrade \n"
            "\tERROR: No Product Key\n"
            "LEAVING: ReadINF()\n");
}

TEST_F(ReadInfTest, DirectoryPassesTheExistenceTestButHoldsNoProductKey) {
  files_.AddDirectory("adir");
  EXPECT_EQ(Run("adir"), 0);
  EXPECT_EQ(Log(),
            "CALLING: ReadINF()\n"
            "\tadir == /work/adir\n"
            "\tSection == Upgrade \n"
            "\tERROR: No Product Key\n"
            "LEAVING: ReadINF()\n");
}

TEST_F(ReadInfTest, MissingFileIsReportedAndNothingIsRead) {
  for (const char* name : {"missing.inf", ""}) {
    dir_.Write("trace.log", "");
    EXPECT_EQ(Run(name), 0);
    EXPECT_TRUE(keys_.empty());
    EXPECT_EQ(Log(), std::string("CALLING: ReadINF()\n"
                                 "\tERROR: File does not Exist --> ") +
                         name + "\nLEAVING: ReadINF()\n");
  }
  EXPECT_TRUE(files_.lookups.empty());
}

// A current directory so deep that the full path of "setup.inf" is 260
// characters long: one too many for the 260-byte buffer and its terminator.
class ReadInfDeepDirectoryTest : public ReadInfTest {
 protected:
  ReadInfDeepDirectoryTest() : ReadInfTest("/" + std::string(249, 'd')) {}
};

TEST_F(ReadInfDeepDirectoryTest, FullPathThatDoesNotFitStopsTheRead) {
  files_.AddFile("setup.inf", "[Upgrade]\nProductKey=PROD\n");
  EXPECT_EQ(Run("setup.inf"), 0);
  EXPECT_TRUE(keys_.empty());
  EXPECT_TRUE(files_.lookups.empty());
  EXPECT_EQ(Log(),
            "CALLING: ReadINF()\n"
            "\tERROR: Full path too long --> setup.inf\n"
            "LEAVING: ReadINF()\n");
}

}  // namespace
