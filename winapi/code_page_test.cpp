#include "winapi/code_page.h"

#include <string>

#include "gtest/gtest.h"

namespace {

TEST(AnsiCodePage, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
  EXPECT_EQ(UnitsToAnsi(AnsiToUnits(all)), all);
  EXPECT_EQ(AnsiToUnits("\x80\x81\x9F"), u"\u20AC\u0081\u0178");
}

TEST(AnsiCodePage, UnitsOutsideTheCodePageTakeTheirBestFitOrAQuestionMark) {
  EXPECT_EQ(UnitsToAnsi(u"\u0100\u0141\u0130\uFF21\u212A\u2000\u3000"), "ALIAK  ");
  EXPECT_EQ(UnitsToAnsi(u"\u212B\u2013\u2122\u0152\u2248\u03B2"), "\xC5\x96\x99\x8C\x98\xDF");
  EXPECT_EQ(UnitsToAnsi(u"\u0080\u009F\u0391\u4E2D\uFFFD"), "?????");
  const char16_t lone_surrogates[] = {0xD800, 0xDC00, 0};
  EXPECT_EQ(UnitsToAnsi(lone_surrogates), "??");
  EXPECT_EQ(UnitsToAnsi(u"\u0081\u008D\u008F\u0090\u009D"), "\x81\x8D\x8F\x90\x9D");
}

TEST(AnsiCodePage, Utf8DecodingReplacesEachBrokenSequenceWithOneReplacement) {
  struct { const char* bytes; std::u16string expected; } cases[] = {
      {"\xC3\xA9\xE4\xB8\xAD", u"\u00E9\u4E2D"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"<\xE9X>", u"<\uFFFDX>"},
      {"\xE4\xB8X", u"\uFFFDX"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},             // overlong two-byte form
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD"},         // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD"},         // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
      {"\xE1\x80\xC3\xA9", u"\uFFFD\u00E9"},
      {"\xC2\xC2\xA9", u"\uFFFD\u00A9"},
      {"\xE4\r\n", u"\uFFFD\r\n"},
      {"<\xE4>", u"<\uFFFD"},  // cut short by the end: the end goes with it
      {"\xF0\x9F>>", u"\uFFFD>>"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToUnits(c.bytes), c.expected) << c.bytes;
}

TEST(AnsiCodePage, Utf16DecodingHonoursByteOrderAndAnOddByte) {
  EXPECT_EQ(Utf16ToUnits(std::string("A\0\xE9\x00", 4), false), u"A\u00E9");
  EXPECT_EQ(Utf16ToUnits(std::string("\0A\x4E\x2D", 4), true), u"A\u4E2D");
  // A file cut in the middle of its last character keeps that byte.
  EXPECT_EQ(Utf16ToUnits(std::string("A\0C", 3), false), u"AC");
  EXPECT_EQ(Utf16ToUnits(std::string("\0A\xE9", 3), true), u"A\u00E9");
  EXPECT_EQ(Utf16ToUnits(std::string("A\0\r", 3), false), u"A\r");
}

}  // namespace
