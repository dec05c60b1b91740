#include "log/log_file.h"

#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/scratch_dir.h"

namespace {

class LogFileTest : public testing::Test {
 protected:
  ScratchDir dir_;
};

TEST_F(LogFileTest, AppendsToWhatEarlierRunsWrote) {
  dir_.WriteText("run.log", "earlier\n");
  {
    CLogFile log(dir_.File("run.log").c_str(), nullptr);
    EXPECT_EQ(log.Write("first\n"), 1);
    EXPECT_EQ(log.Write("second %s\n"), 1);  // never expanded as a format
  }
  EXPECT_EQ(dir_.ReadText("run.log"), "earlier\nfirst\nsecond %s\n");
}

TEST_F(LogFileTest, EveryWriteReachesTheFileAtOnce) {
  CLogFile log(dir_.File("run.log").c_str(), nullptr);
  log.Write("one\n");
  EXPECT_EQ(dir_.ReadText("run.log"), "one\n");
}

TEST_F(LogFileTest, EmptyNameOpensNothing) {
  CLogFile log("", nullptr);
  EXPECT_EQ(log.Write("lost\n"), 0);
  EXPECT_EQ(log.Open("", nullptr), 0);
  EXPECT_EQ(log.Open(nullptr, nullptr), 0);
}

TEST_F(LogFileTest, FileThatCannotBeOpenedLeavesNoStream) {
  CLogFile log(dir_.File("missing-folder/run.log").c_str(), nullptr);
  EXPECT_EQ(log.Write("lost\n"), 0);
  EXPECT_EQ(log.WriteBanner(), 1);
}

TEST_F(LogFileTest, IsOpenedAtMostOnce) {
  CLogFile log(dir_.File("a.log").c_str(), nullptr);
  EXPECT_EQ(log.Open(dir_.File("b.log").c_str(), nullptr), 0);
  log.Write("x\n");
  EXPECT_EQ(dir_.ReadText("a.log"), "x\n");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("b.log")));
}

TEST(BannerTest, WritesEnglishNamesAndTwentyFourHourTime) {
  std::tm when{};
  when.tm_year = 2001 - 1900;
  when.tm_mon = 10;
  when.tm_mday = 2;
  when.tm_hour = 0;
  when.tm_min = 15;
  when.tm_sec = 10;
  when.tm_isdst = -1;
  EXPECT_EQ(FormatBanner(std::mktime(&when)),
            "\n[***** Today is Friday, November/02/2001 @ 00:15:10. *****]\n");
  when.tm_mon = 1;
  when.tm_mday = 29;
  when.tm_year = 2024 - 1900;
  when.tm_hour = 23;
  when.tm_min = 5;
  when.tm_sec = 9;
  EXPECT_EQ(FormatBanner(std::mktime(&when)),
            "\n[***** Today is Thursday, February/29/2024 @ 23:05:09. *****]\n");
}

struct CutCase {
  std::string message;
  std::string written;
};

class CutTraceMessageTest : public testing::TestWithParam<CutCase> {};

TEST_P(CutTraceMessageTest, KeepsTheMessageWithinTheBuffer) {
  char buffer[kTraceMessageCapacity];
  CutTraceMessage(GetParam().message, buffer);
  EXPECT_EQ(std::string(buffer), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, CutTraceMessageTest,
    testing::Values(CutCase{"short\n", "short\n"},
                    CutCase{std::string(1022, 'a') + "\n", std::string(1022, 'a') + "\n"},
                    // A cut message still ends its line, so the next one starts a new line.
                    CutCase{std::string(1023, 'a') + "\n", std::string(1022, 'a') + "\n"},
                    CutCase{std::string(5000, 'a') + "\n", std::string(1022, 'a') + "\n"},
                    CutCase{std::string(5000, 'a'), std::string(1023, 'a')}));

}  // namespace
