#include <regex>
#include <string>

#include "app/main_dlg.h"
#include "gtest/gtest.h"
#include "tests/doubles/null_services.h"
#include "tests/support/scratch_dir.h"

namespace {

// Gives the test the dialog's initialisation, which the window layer calls.
class TestDlg : public CMainDlg {
 public:
  using CMainDlg::CMainDlg;
  using CMainDlg::OnInitDialog;
};

// Runs in a scratch directory, so that default file names land there.
class RunSequenceTest : public testing::Test {
 protected:
  RunSequenceTest() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.path());
  }
  ~RunSequenceTest() override { std::filesystem::current_path(previous_); }

  // Runs the sequence on `argument_text`; returns what OnInitDialog returned.
  BOOL Run(std::string argument_text) {
    TestDlg dlg(services_.services());
    dlg.m_pCmdLine = &argument_text[0];
    return dlg.OnInitDialog();
  }

  // The log with its line ends as "\n" and each run's banner line replaced
  // by "[BANNER]".
  std::string Log(const std::string& name = "Brindlex.log") const {
    std::string text = std::regex_replace(dir_.Read(name), std::regex("\r\n"), "\n");
    static const std::regex banner(
        R"(\[\*\*\*\*\* Today is [A-Z][a-z]+day, [A-Z][a-z]+/\d\d/\d{4} @ \d\d:\d\d:\d\d\. \*\*\*\*\*\])");
    return std::regex_replace(text, banner, "[BANNER]");
  }

  ScratchDir dir_;
  std::filesystem::path previous_;
  NullServices services_;
};

const char kSettingsForLogOnly[] =
    "m_InfFileName ==  \n"
    "m_LogFileName == Brindlex.log \n"
    "m_LogMode == TRUE \n"
    "m_SilentMode == TRUE \n";

TEST_F(RunSequenceTest, NoArgumentsLogsTheErrorAndStops) {
  EXPECT_EQ(Run(""), FALSE);
  EXPECT_EQ(Log(),
            "\n[BANNER]\n"
            "CALLING: ParseCmdLine()\n"
            "\tCommand Line --> \n"
            "ERROR: No Cmd line define\n"
            "LEAVING: ParseCmdLine()\n"
            "ERROR: ParseCmdLine() --> return 0\n");
  EXPECT_EQ(services_.setup_files.calls, 0);
  EXPECT_EQ(services_.registry.calls, 0);
}

TEST_F(RunSequenceTest, BadSwitchEndsTheRunAfterTheLogIsWritten) {
  EXPECT_EQ(Run("/p:x.inf -l"), FALSE);
  EXPECT_EQ(Log(),
            "\n[BANNER]\n"
            "CALLING: ParseCmdLine()\n"
            "\tCommand Line --> /p:x.inf -l\n"
            "ERROR: invaild param -->/p:x.inf\n"
            "LEAVING: ParseCmdLine()\n"
            "ERROR: ParseCmdLine() --> return 0\n");
  EXPECT_EQ(services_.setup_files.calls, 0);
}

TEST_F(RunSequenceTest, LogAloneReadsNoFileAndTouchesNoKey) {
  EXPECT_EQ(Run("-l"), TRUE);
  EXPECT_EQ(Log(), std::string("\n[BANNER]\n"
                               "CALLING: ParseCmdLine()\n"
                               "\tCommand Line --> -l\n"
                               "LEAVING: ParseCmdLine()\n") +
                       kSettingsForLogOnly +
                       "CALLING: ReadINF()\n"
                       "\tERROR: File does not Exist --> \n"
                       "LEAVING: ReadINF()\n"
                       "ERROR: ReadINF() return 0\n");
  EXPECT_EQ(services_.registry.calls, 0);
}

TEST_F(RunSequenceTest, WithoutLogSwitchNothingIsWrittenAnywhere) {
  EXPECT_EQ(Run("-p:setup.inf"), TRUE);
  EXPECT_GT(services_.setup_files.calls, 0);  // the job itself is still done
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(RunSequenceTest, EmptyLogNameRunsOnWithoutALog) {
  EXPECT_EQ(Run("-p:setup.inf -l:"), TRUE);
  EXPECT_GT(services_.setup_files.calls, 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(RunSequenceTest, PercentSignsInTheArgumentTextAreLoggedUnchanged) {
  Run("-l:run%d.log -p:%s%n%x");
  EXPECT_NE(Log("run%d.log").find("\tCommand Line --> -l:run%d.log -p:%s%n%x\n"),
            std::string::npos);
  EXPECT_NE(Log("run%d.log").find("m_InfFileName == %s%n%x \n"), std::string::npos);
}

TEST_F(RunSequenceTest, EachRunAppendsItsOwnBanner) {
  Run("-l");
  Run("-l -s");
  std::string log = Log();
  size_t second = log.find("\n[BANNER]\n", 1);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(log.find("\n[BANNER]\n"), 0u);
  EXPECT_NE(log.find("m_SilentMode == FALSE \n", second), std::string::npos);
  EXPECT_EQ(log.find("m_SilentMode == FALSE \n"), log.find("m_SilentMode == FALSE \n", second));
}

TEST_F(RunSequenceTest, SettingsShowTheSwitches) {
  Run("-p -l:trace.log -s");
  EXPECT_NE(Log("trace.log").find("m_InfFileName == OLMSETUP.INF \n"
                                  "m_LogFileName == trace.log \n"
                                  "m_LogMode == TRUE \n"
                                  "m_SilentMode == FALSE \n"
                                  "CALLING: ReadINF()\n"),
            std::string::npos);
}

// Deletions that never reach the registry's store must not read as done.
TEST_F(RunSequenceTest, RegistryThatCannotBeSavedEndsTheLogWithAnError) {
  services_.registry.flush_status = 1016;
  EXPECT_EQ(Run("-l"), TRUE);
  EXPECT_EQ(Log().substr(Log().find("ERROR: ReadINF() return 0\n")),
            "ERROR: ReadINF() return 0\n"
            "ERROR: Registry not saved, no deletion of this run reached the registry --> 1016\n");
}

TEST_F(RunSequenceTest, OverLongArgumentTextIsCutInTheLog) {
  std::string text = "-l -p:" + std::string(1100, 'n');
  EXPECT_EQ(Run(text), FALSE);
  EXPECT_EQ(Log(), "\n[BANNER]\n"
                   "CALLING: ParseCmdLine()\n"
                   "\tCommand Line --> " + text.substr(0, 1023) + "\n"
                   "ERROR: Cmd Line over 255 char\n"
                   "LEAVING: ParseCmdLine()\n"
                   "ERROR: ParseCmdLine() --> return 0\n");
}

}  // namespace
