#include "winapi/profile_reader.h"

#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "winapi/code_page.h"

namespace {

// One lookup: the file's bytes, the names asked for and the value expected
// with the fallback "DEF" and a 255-byte buffer.
struct Row {
  std::string file;
  std::string section;
  std::string key;
  std::string expected;
};

std::string Read(const std::string& file, const std::string& section, const std::string& key,
                 const char* fallback = "DEF", uint32_t size = 255, uint32_t* length = nullptr) {
  std::vector<char> buffer(size + 1, '#');
  const uint32_t written =
      ReadProfileString(file, section.c_str(), key.c_str(), fallback, buffer.data(), size);
  if (length) *length = written;
  return size == 0 ? std::string(buffer.data(), 1) : std::string(buffer.data());
}

void ExpectRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    uint32_t length = 0;
    EXPECT_EQ(Read(row.file, row.section, row.key, "DEF", 255, &length), row.expected)
        << "file: " << testing::PrintToString(row.file);
    EXPECT_EQ(length, row.expected.size());
  }
}

// UTF-16 file bytes with a byte-order mark, from ASCII text plus escapes.
std::string Utf16(const std::u16string& text, bool big_endian = false) {
  std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += big_endian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

const std::string kUp = "[Upgrade]\r\n";

TEST(ProfileReaderNames, MatchIgnoringAsciiCaseAndOuterBlanksOnly) {
  ExpectRows({
      {"[upgrade]\r\nproductkey=ABC", "UPGRADE", "ProductKey", "ABC"},
      {" \t[ Upgrade\t]\r\n ProductKey \t= ABC", " Upgrade\x1A", "\tProductKey ", "ABC"},
      {"[Up grade]\r\nProduct Key=ABC", "Up grade", "Product Key", "ABC"},
      {"[Up grade]\r\nProduct Key=ABC", "Upgrade", "Product Key", "DEF"},
      {kUp + "PatchKey10=X", "Upgrade", "PatchKey1", "DEF"},
      {kUp + "PatchKey1=X", "Upgrade", "PatchKey10", "DEF"},
      {kUp + "\"K\"=v", "Upgrade", "K", "DEF"},
      {kUp + "\"K\"=v", "Upgrade", "\"K\"", "v"},
      {kUp + " = V", "Upgrade", "   ", "V"},
      {"[UPGRAD\xC9]\r\nK=AB", "upgrad\xE9", "K", "DEF"},  // no folding beyond A-Z
      {"[\xB5]\r\nK=AB", "\xB5", "K", "AB"},
      {Utf16(u"[Upgrade]\r\nProduct\u212Aey=AB"), "Upgrade", "ProductKey", "DEF"},
  });
}

TEST(ProfileReaderSections, HeaderRunsToTheLastBracket) {
  ExpectRows({
      {"[Upgrade] ;c\r\nK=ABC", "Upgrade", "K", "ABC"},
      {"[Upgrade]x\r\nK=ABC", "Upgrade", "K", "ABC"},
      {"[Upgrade]]\r\nK=ABC", "Upgrade]", "K", "ABC"},
      {"[Upgrade]]\r\nK=ABC", "Upgrade", "K", "DEF"},
      {"[Upgrade]x]\r\nK=ABC", "Upgrade]x", "K", "ABC"},
      {"[[Upgrade]\r\nK=ABC", "[Upgrade", "K", "ABC"},
      {kUp + "[x]=y\r\nK=1", "x", "K", "1"},
      {"[Upgrade] K=1\r\nK=2", "Upgrade", "K", "2"},
  });
}

TEST(ProfileReaderSections, BracketWithoutCloseIsAnOrdinaryLine) {
  ExpectRows({
      {"[Upgrade\r\nK=ABC", "Upgrade", "K", "DEF"},
      {"[Upgrade\r\nK=ABC", "", "K", "ABC"},
      {"[S]\r\n[Upgrade\r\nK=ABC", "S", "K", "ABC"},
      {kUp + "[\r\nK=ABC", "Upgrade", "K", "ABC"},
      {kUp + "[K=X", "Upgrade", "[K", "X"},
      {kUp + "[K=X\r\nK=Y", "Upgrade", "K", "Y"},
  });
}

TEST(ProfileReaderSections, LinesBeforeTheFirstHeaderFormTheNamelessSection) {
  ExpectRows({
      {"K=ABC\r\n[Upgrade]", "Upgrade", "K", "DEF"},
      {"K=ABC\r\n[Upgrade]", "", "K", "ABC"},
      {"[]\r\nK=ABC", "", "K", "DEF"},  // a second "" section
      {"[ ]\r\nK=2", " ", "K", "DEF"},
      {"K=1\r\n[]\r\nK=2", "", "K", "1"},
  });
}

TEST(ProfileReaderDuplicates, FirstSectionAndFirstKeyWin) {
  const std::string twice = kUp + "A=1\r\n[Other]\r\nA=9\r\n[Upgrade]\r\nB=2\r\nA=3\r\n";
  ExpectRows({
      {twice, "Upgrade", "A", "1"},
      {twice, "Upgrade", "B", "DEF"},
      {kUp + "A=1\r\n[UPGRADE]\r\nB=2", "Upgrade", "B", "DEF"},
      {kUp + "K=1\r\nK=2", "Upgrade", "K", "1"},
      {kUp + "K=1\r\nk=2", "Upgrade", "K", "1"},
      {kUp + "K=\r\nK=2", "Upgrade", "K", ""},
      {kUp + "K\r\nK=2", "Upgrade", "K", "DEF"},  // a key without '=' still counts
      {kUp + "K \r\n", "Upgrade", "K", "DEF"},
  });
}

TEST(ProfileReaderValues, BlanksAreStrippedAtBothEndsOnly) {
  ExpectRows({
      {kUp + "K=\t\v\f A B  C\x1A\f\v\t ", "Upgrade", "K", "A B  C"},
      {kUp + "K=A\tB", "Upgrade", "K", "A\tB"},
      {kUp + "K=   ", "Upgrade", "K", ""},
      {kUp + "K=a=b", "Upgrade", "K", "a=b"},
      {kUp + "K==v", "Upgrade", "K", "=v"},
      {kUp + "K=\xA0" "AB\xA0", "Upgrade", "K", "\xA0" "AB\xA0"},
      {kUp + "K=\x1C" "AB\x1F", "Upgrade", "K", "\x1C" "AB\x1F"},
      {kUp + "K=\x01" "AB\x7F", "Upgrade", "K", "\x01" "AB\x7F"},
      {kUp + "\x1CK=AB", "Upgrade", "K", "DEF"},
      {"\x1A[Upgrade]\r\nK=AB", "Upgrade", "K", "AB"},
      {kUp + "K=AB\\\r\nL=X", "Upgrade", "K", "AB\\"},
  });
}

TEST(ProfileReaderValues, OneMatchingPairOfQuotesIsRemoved) {
  ExpectRows({
      {kUp + "K=\"ABC\"", "Upgrade", "K", "ABC"},
      {kUp + "K='ABC'", "Upgrade", "K", "ABC"},
      {kUp + "K=\" ABC \"", "Upgrade", "K", " ABC "},
      {kUp + "K= \"ABC\" ", "Upgrade", "K", "ABC"},
      {kUp + "K=\"\"", "Upgrade", "K", ""},
      {kUp + "K=\"A\"B\"", "Upgrade", "K", "A\"B"},
      {kUp + "K=\"\"ABC\"\"", "Upgrade", "K", "\"ABC\""},
      {kUp + "K=\"ABC", "Upgrade", "K", "\"ABC"},
      {kUp + "K=ABC\"", "Upgrade", "K", "ABC\""},
      {kUp + "K=\"ABC'", "Upgrade", "K", "\"ABC'"},
      {kUp + "K=\"", "Upgrade", "K", "\""},
      {kUp + "K=\"v ", "Upgrade", "K", "\"v"},
      {kUp + "K=\"ABC\" ;c", "Upgrade", "K", "\"ABC\" ;c"},
  });
}

TEST(ProfileReaderValues, NothingIsAComment) {
  ExpectRows({
      {kUp + ";K=X\r\nK=Y", "Upgrade", "K", "Y"},
      {kUp + ";K=X", "Upgrade", "K", "DEF"},
      {kUp + " ;K=X", "Upgrade", ";K", "X"},
      {kUp + "#K=X", "Upgrade", "#K", "X"},
      {";[Upgrade]\r\nK=ABC", "Upgrade", "K", "DEF"},
      {kUp + "//x\r\ngarbage\r\nK=ABC", "Upgrade", "K", "ABC"},
      {kUp + "K=ABC ; comment", "Upgrade", "K", "ABC ; comment"},
      {kUp + "K=ABC#c", "Upgrade", "K", "ABC#c"},
  });
}

TEST(ProfileReaderLines, EveryCrAndEveryLfEndsALine) {
  ExpectRows({
      {"[Upgrade]\nK=A\nL=B\n", "Upgrade", "L", "B"},
      {"[Upgrade]\rK=A\rL=B\r", "Upgrade", "L", "B"},
      {"[Upgrade]\rK=A\r\nL=B\n", "Upgrade", "K", "A"},
      {"[Upgrade]\n\rK=A\n\r", "Upgrade", "K", "A"},
      {"[Upgrade]\r\r\nK=A\r\r\n", "Upgrade", "K", "A"},
      {"[Upgrade]\rK=[x]\n", "Upgrade", "K", "[x]"},
      {kUp + "K=A\rB\r\n", "Upgrade", "K", "A"},
      {kUp + "K=ABC", "Upgrade", "K", "ABC"},
      {"\r\n   \r\n[Upgrade]\r\n\r\n \t \r\nK=ABC\r\n\r\n", "Upgrade", "K", "ABC"},
      {kUp + "K=" + std::string(70000, 'z') + "\r\nL=X", "Upgrade", "L", "X"},
  });
}

TEST(ProfileReaderNul, EndsTheNameOrValueWhereItStands) {
  using namespace std::string_literals;
  ExpectRows({
      {kUp + "K=AB\0CD\r\nL=X"s, "Upgrade", "K", "AB"},
      {kUp + "K=AB\0CD\r\nL=X"s, "Upgrade", "L", "X"},
      {kUp + "ProductKey\0junk=X"s, "Upgrade", "ProductKey", "X"},
      {"[Upgrade\0x]\r\nK=X"s, "Upgrade", "K", "X"},
      {kUp + "\0K=X"s, "Upgrade", "", "X"},
      {kUp + "K=\0AB"s, "Upgrade", "K", ""},
      {kUp + "K=\"AB\0CD\""s, "Upgrade", "K", "\"AB"},
      {kUp + "K=\"\0\""s, "Upgrade", "K", "\""},
      {kUp + "K=AB\0   "s, "Upgrade", "K", "AB"},
      {Utf16(u"[Upgrade]\r\nK=AB\0CD\r\nL=X"s), "Upgrade", "K", "AB"},
  });
}

TEST(ProfileReaderEncodings, ByteOrderMarksChooseTheDecoding) {
  ExpectRows({
      {"\xEF\xBB\xBF  [Upgrade]\r\nK=\xC3\xA9", "Upgrade", "K", "\xE9"},
      {"\xEF\xBB\xBF[Upgrade]\r\nK=A\xE4\xB8\xAD" "B", "Upgrade", "K", "A?B"},
      {"\xEF\xBB\xBF[Upgrade]\r\nK=<\xE9>\r\n", "Upgrade", "K", "<?>"},
      // U+3000 is no blank: it comes back as its best fit, a space.
      {"\xEF\xBB\xBF[Upgrade]\r\nK=AB\xE3\x80\x80", "Upgrade", "K", "AB "},
      {kUp + "K=\xC3\xA9", "Upgrade", "K", "\xC3\xA9"},
      {Utf16(u"[Upgrade]\r\nK=AB\u00E9"), "Upgrade", "K", "AB\xE9"},
      {Utf16(u"[Upgrade]\r\nK=AB\u00E9", true), "Upgrade", "K", "AB\xE9"},
      {Utf16(u"[Upgrade]\r\nK=<\u0100\u20AC\u2260\U0001F600>"), "Upgrade", "K",
       "<A\x80\x3F\x3F\x3F>"},
      // Cut in the middle of the last character: its first byte stays.
      {Utf16(u"[Upgrade]\r\nK=AB") + "C", "Upgrade", "K", "ABC"},
      {Utf16(u"[Upgrade]\r\nK=AB", true) + "C", "Upgrade", "K", "ABC"},
      {Utf16(u"[Upgrade]\r\nK=AB") + "\r", "Upgrade", "K", "AB"},
      {Utf16(u"[Upgrade]\r\nK=AB").substr(2), "Upgrade", "K", "DEF"},  // UTF-16 needs its mark
      {Utf16(u"\uFEFF[Upgrade]\r\nK=AB"), "Upgrade", "K", "DEF"},
      {kUp + "\xEF\xBB\xBFK=AB", "Upgrade", "K", "DEF"},
      {"\xEF\xBB\r\n[Upgrade]\r\nK=AB", "Upgrade", "K", "AB"},
  });
}

// A file without a byte-order mark is searched in its bytes: every byte
// must behave as the character it decodes to.
TEST(ProfileReaderEncodings, AnsiFileReadsAsItsDecodedText) {
  for (int code = 1; code < 256; ++code) {
    const char byte = static_cast<char>(code);
    const std::string b(1, byte);
    const std::string ansi = "[S" + b + "]\r\nK" + b + "=" + b + "v" + b + "\r\nL=" + b + "\r\n";
    std::u16string units;
    for (char c : ansi) units += AnsiToUtf16(static_cast<unsigned char>(c));
    const std::string utf16 = Utf16(units);
    for (const auto& [section, key] : {std::pair{"S" + b, "K" + b}, {"s" + b, "k" + b},
                                        {"S" + b, std::string("L")}, {"S", "K"}}) {
      EXPECT_EQ(Read(ansi, section, key), Read(utf16, section, key)) << "byte " << code;
    }
  }
}

// A held profile answers lookups in any order as a fresh reading does.
TEST(ProfileReaderHeld, EachLookupGivesWhatAFreshReadingGives) {
  const std::string file = "K=0\r\n[A]\r\nK=1\r\n[B]\r\nK=2\r\nL=3\r\n[a]\r\nK=4\r\n[ b ]x\r\nM=5";
  const ProfileText text(file);
  const std::pair<const char*, const char*> lookups[] = {
      {"B", "L"}, {"A", "K"}, {"a", "K"}, {"b", "M"}, {"", "K"}, {"C", "K"},
      {"C", "K"}, {"B", "K"}, {" B", "L"}, {"B", "M"}, {"A", "L"}, {"", "L"}};
  for (const auto& [section, key] : lookups) {
    char held[16];
    text.ReadString(section, key, "DEF", held, sizeof held);
    EXPECT_EQ(held, Read(file, section, key)) << section << "/" << key;
  }
}

TEST(ProfileReaderBuffer, ValueIsCutToSizeMinusOne) {
  const std::string value(300, 'v');
  const std::string file = kUp + "K=" + value;
  uint32_t length = 0;
  EXPECT_EQ(Read(file, "Upgrade", "K", "DEF", 255, &length), value.substr(0, 254));
  EXPECT_EQ(length, 254u);
  EXPECT_EQ(Read(file, "Upgrade", "K", "DEF", 301, &length), value);
  EXPECT_EQ(Read(kUp + "K=ABC", "Upgrade", "K", "DEF", 3), "AB");
  EXPECT_EQ(Read(kUp + "K=ABC", "Upgrade", "K", "DEF", 1, &length), "");
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(Read(kUp + "K=ABC", "Upgrade", "K", "DEF", 0, &length), "#");
  EXPECT_EQ(length, 0u);
}

TEST(ProfileReaderBuffer, QuotedValueLosesOneMoreByteWhenTheCloseQuoteWouldFit) {
  struct { const char* value; uint32_t size; const char* expected; } cases[] = {
      {"\"ABCDEFGHIJ\"", 5, "ABCD"}, {"\"ABCDEFGHIJ\"", 11, "ABCDEFGHI"},
      {"\"ABCDEFGHIJ\"", 12, "ABCDEFGHIJ"}, {"\"ABC\"", 4, "AB"}, {"'ABC'", 4, "AB"},
      {"\"ABC\"", 5, "ABC"}, {"\"A\"", 2, ""}, {"\"\"", 1, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Read(kUp + "K=" + c.value, "Upgrade", "K", "DEF", c.size), c.expected)
        << c.value << " in " << c.size;
  }
  const std::string q(254, 'q');
  EXPECT_EQ(Read(kUp + "K=\"" + q + "\"", "Upgrade", "K"), q.substr(0, 253));
  EXPECT_EQ(Read(kUp + "K=\"" + q + "q\"", "Upgrade", "K"), q);
}

TEST(ProfileReaderFallback, IsTreatedAsAValueAfterLosingTrailingSpaces) {
  const std::string file = kUp + "ProductKey=ABC";
  EXPECT_EQ(Read(file, "Upgrade", "Nope", nullptr), "");
  EXPECT_EQ(Read(file, "Nope", "ProductKey", "DEF  "), "DEF");
  EXPECT_EQ(Read(file, "Upgrade", "Nope", "  DEF"), "  DEF");
  EXPECT_EQ(Read(file, "Upgrade", "Nope", "DEF\t"), "DEF\t");
  EXPECT_EQ(Read(file, "Upgrade", "Nope", "   "), " ");
  EXPECT_EQ(Read(file, "Upgrade", "Nope", "\"DEF\" "), "DEF");
  EXPECT_EQ(Read(file, "Upgrade", "Nope", "\"DEF\"", 4), "DE");
  EXPECT_EQ(Read(file, "Upgrade", "Nope", "DEFAULT", 4), "DEF");
  EXPECT_EQ(Read(kUp + "Nope", "Upgrade", "Nope", "'DEF'"), "DEF");
  EXPECT_EQ(Read("", "Upgrade", "Nope", "\"DEF\""), "DEF");  // a missing file reads as empty
}

TEST(ProfileReaderFallback, UnreadableFileGivesTheFallbackWithoutQuoteHandling) {
  char buffer[8] = "#######";
  EXPECT_EQ(CopyUnreadableFallback("\"DEF\"  ", buffer, 8), 5u);
  EXPECT_STREQ(buffer, "\"DEF\"");
  EXPECT_EQ(CopyUnreadableFallback("\"DEFAULT\"", buffer, 5), 4u);
  EXPECT_STREQ(buffer, "\"DEF");
  EXPECT_EQ(CopyUnreadableFallback(nullptr, buffer, 5), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(CopyUnreadableFallback("DEF", buffer, 0), 0u);
}

}  // namespace
