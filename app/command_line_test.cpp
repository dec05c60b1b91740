#include "app/command_line.h"

#include <string>

#include "gtest/gtest.h"

namespace {

struct SkipCase {
  const char* command_line;
  const char* arguments;
};

class SkipProgramNameTest : public testing::TestWithParam<SkipCase> {};

TEST_P(SkipProgramNameTest, LeavesTheArgumentText) {
  EXPECT_STREQ(SkipProgramName(GetParam().command_line), GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, SkipProgramNameTest,
    testing::Values(SkipCase{"Brindlex.exe -p:a.inf -l", "-p:a.inf -l"},
                    SkipCase{"\"C:\\Program Files\\Brindlex.exe\" -l", "-l"},
                    SkipCase{"\"C:\\Program Files\\Brindlex.exe\"-l", "-l"},
                    SkipCase{"Brindlex.exe", ""}, SkipCase{"\"Brindlex.exe\"", ""},
                    SkipCase{"Brindlex.exe \t\x01 -s  ", "-s  "},
                    SkipCase{"\"unterminated name -l", ""},
                    // Blanks inside the arguments are kept as they are.
                    SkipCase{"x.exe   -p:a.inf   -l", "-p:a.inf   -l"}, SkipCase{"", ""}));

TEST(JoinArgumentsTest, JoinsWithSingleSpaces) {
  const char* argv[] = {"brindlex", "-p:a.inf", "", "-l"};
  EXPECT_EQ(JoinArguments(4, argv), "-p:a.inf  -l");
  EXPECT_EQ(JoinArguments(1, argv), "");
}

}  // namespace
