#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "gtest/gtest.h"
#include "tests/doubles/null_services.h"

namespace {

struct Parsed {
  int result;
  std::string inf_file;
  std::string log_file;
  BOOL log_mode;
  BOOL silent_mode;
  std::vector<std::string> startup;
};

Parsed Parse(std::string argument_text) {
  NullServices services;
  CMainDlg dlg(services.services());
  dlg.m_pCmdLine = &argument_text[0];
  CStringList startup;
  Parsed parsed{dlg.ParseCmdLine(&startup), dlg.m_InfFileName.str(), dlg.m_LogFileName.str(),
                dlg.m_LogMode, dlg.m_SilentMode, {}};
  for (const CString& entry : startup) parsed.startup.push_back(entry.str());
  return parsed;
}

std::vector<std::string> Trace(const std::string& argument_text,
                               const std::vector<std::string>& middle) {
  std::vector<std::string> trace = {"CALLING: ParseCmdLine()\n", "\tCommand Line --> ",
                                    argument_text, "\n"};
  trace.insert(trace.end(), middle.begin(), middle.end());
  trace.push_back("LEAVING: ParseCmdLine()\n");
  return trace;
}

struct SettingsCase {
  const char* argument_text;
  int result;
  const char* inf_file;
  const char* log_file;
  BOOL log_mode;
  BOOL silent_mode;
};

class ParseCmdLineSettings : public testing::TestWithParam<SettingsCase> {};

TEST_P(ParseCmdLineSettings, SetsTheRunSettings) {
  const SettingsCase& c = GetParam();
  Parsed parsed = Parse(c.argument_text);
  EXPECT_EQ(parsed.result, c.result);
  EXPECT_EQ(parsed.inf_file, c.inf_file);
  EXPECT_EQ(parsed.log_file, c.log_file);
  EXPECT_EQ(parsed.log_mode, c.log_mode);
  EXPECT_EQ(parsed.silent_mode, c.silent_mode);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, ParseCmdLineSettings,
    testing::Values(
        SettingsCase{"-p:C:\\Setup\\Product.inf -l:C:\\Temp\\run.log", 1, "C:\\Setup\\Product.inf",
                     "C:\\Temp\\run.log", TRUE, TRUE},
        SettingsCase{"-P:X.INF -L", 1, "X.INF", "Brindlex.log", TRUE, TRUE},
        SettingsCase{"-p -l -s", 1, "OLMSETUP.INF", "Brindlex.log", TRUE, FALSE},
        SettingsCase{"-p:", 1, "", "", FALSE, TRUE},
        SettingsCase{"-l:", 1, "", "", TRUE, TRUE},
        SettingsCase{"-p:a.inf -p", 1, "OLMSETUP.INF", "", FALSE, TRUE},
        SettingsCase{"-p -p:b.inf", 1, "b.inf", "", FALSE, TRUE},
        SettingsCase{"-l:x.log -l", 1, "", "Brindlex.log", TRUE, TRUE},
        // The rest of a token after a matched switch is ignored.
        SettingsCase{"-silent -log -pfile", 1, "OLMSETUP.INF", "Brindlex.log", TRUE, FALSE},
        SettingsCase{"-S", 1, "", "", FALSE, FALSE},
        SettingsCase{"  -p:a.inf    -l  ", 1, "a.inf", "Brindlex.log", TRUE, TRUE},
        // Tabs are no separators: the tab belongs to the file name.
        SettingsCase{"-p:a.inf\t-l", 1, "a.inf\t-l", "", FALSE, TRUE},
        // No quoting: the quotation mark is part of the name, the rest is a
        // token of its own.
        SettingsCase{"-p:\"My File.inf\"", 0, "\"My", "", FALSE, TRUE},
        SettingsCase{"/p:x.inf -l", 0, "", "Brindlex.log", TRUE, TRUE},
        SettingsCase{"", 0, "", "Brindlex.log", TRUE, TRUE},
        // Only one space is a separator; an argument text of blanks is not empty.
        SettingsCase{"   ", 1, "", "", FALSE, TRUE}));

TEST(ParseCmdLineTrace, RecordsTheArgumentTextBeforeSplittingIt) {
  EXPECT_EQ(Parse("-p:a.inf -l").startup, Trace("-p:a.inf -l", {}));
}

TEST(ParseCmdLineTrace, EmptyArgumentTextTurnsTheLogOn) {
  EXPECT_EQ(Parse("").startup, Trace("", {"ERROR: No Cmd line define\n"}));
}

TEST(ParseCmdLineTrace, EveryInvalidTokenIsReportedAndTheRestStillApplies) {
  Parsed parsed = Parse("/p:x.inf -l bad -s");
  EXPECT_EQ(parsed.startup,
            Trace("/p:x.inf -l bad -s", {"ERROR: invaild param -->", "/p:x.inf", "\n",
                                         "ERROR: invaild param -->", "bad", "\n"}));
  EXPECT_EQ(parsed.log_mode, TRUE);
  EXPECT_EQ(parsed.silent_mode, FALSE);
}

TEST(ParseCmdLineTrace, PercentSignsAreKeptAsText) {
  EXPECT_EQ(Parse("-p:%s%n.inf").startup, Trace("-p:%s%n.inf", {}));
}

TEST(ParseCmdLineLength, TextOf256BytesOrMoreIsAnErrorButStillApplied) {
  std::string text = "-p:" + std::string(252, 'a') + " -s";  // 258 bytes
  Parsed parsed = Parse(text);
  EXPECT_EQ(parsed.result, 0);
  EXPECT_EQ(parsed.startup, Trace(text, {"ERROR: Cmd Line over 255 char\n"}));
  EXPECT_EQ(parsed.inf_file, std::string(252, 'a'));
  EXPECT_EQ(parsed.silent_mode, FALSE);
}

TEST(ParseCmdLineLength, TextOf255BytesIsAccepted) {
  std::string text = "-p:" + std::string(252, 'a');
  EXPECT_EQ(Parse(text).result, 1);
  EXPECT_EQ(Parse(text + "b").result, 0);
}

TEST(ParseCmdLineSwitchBytes, BytesAboveAsciiNeverMatchASwitch) {
  // 0xCC folds to nothing: "-\xCC" is no "-l" whatever the code page.
  Parsed parsed = Parse("-\xCC -\xD0:x");
  EXPECT_EQ(parsed.result, 0);
  EXPECT_EQ(parsed.log_mode, FALSE);
  EXPECT_EQ(parsed.inf_file, "");
}

}  // namespace
