#include "winapi/hive_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The bytes of `text` in UTF-16LE, with the byte order mark.
std::string Utf16File(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

class HiveFormatTest : public ::testing::Test {
 protected:
  // Parses `text`, failing the test when it is refused.
  void Load(const std::string& text) {
    HiveError error;
    ASSERT_TRUE(document_.Parse(text, &tree_, &error)) << error.line << ": " << error.message;
  }

  void Delete(const char* path) { ASSERT_EQ(kRegSuccess, tree_.Delete(tree_.root(), path)); }

  KeyTree tree_;
  HiveDocument document_;
};

const char kExportCrLf[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\Installer]\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\Installer\\Patches]\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\Installer\\Patches\\P1]\r\n"
    "@=\"default\"\r\n"
    "\"Name with \\\"quote\\\" and \\\\bs\"=\"a\\\\b\\n\"\r\n"
    "\"dw\"=dword:000012ab\r\n"
    "\"bin\"=hex:01,02,ff\r\n"
    "\"empty\"=hex:\r\n"
    "\"long\"=hex(2):41,00,42,00,43,00,44,00,45,00,46,00,47,00,48,00,49,00,4a,00,4b,\\\r\n"
    "  00,4c,00,00,00\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\Installer\\Patches\\P1\\SourceList]\r\n"
    "\"PackageName\"=\"p1.msp\"\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\Installer\\Patches\\P2]\r\n"
    "\r\n";

TEST_F(HiveFormatTest, AnsiExportRoundTripsByteForByte) {
  Load(kExportCrLf);
  EXPECT_EQ(HiveEncoding::kAnsi, document_.encoding());
  EXPECT_EQ(kExportCrLf, document_.ToString());
  EXPECT_EQ(
      (std::vector<std::string>{"Installer", "Installer\\Patches", "Installer\\Patches\\P1",
                                "Installer\\Patches\\P1\\SourceList", "Installer\\Patches\\P2"}),
      tree_.ListPaths());
}

TEST_F(HiveFormatTest, EveryEncodingAndLineEndRoundTrips) {
  std::string lf = kExportCrLf;
  for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
  const std::string regedit4 = "REGEDIT4" + lf.substr(lf.find('\n'));
  std::u16string utf16_text;
  for (char byte : std::string(kExportCrLf)) utf16_text.push_back(static_cast<unsigned char>(byte));
  utf16_text += u"[HKEY_CLASSES_ROOT\\Installer\\Patches\\\u00e9\u20ac]\r\n\"v\"=\"\u4e2d\"\r\n";
  for (const std::string& text : {lf, regedit4, Utf16File(utf16_text)}) {
    KeyTree tree;
    HiveDocument document;
    HiveError error;
    ASSERT_TRUE(document.Parse(text, &tree, &error)) << error.line << ": " << error.message;
    EXPECT_EQ(text, document.ToString());
    EXPECT_EQ(5u + (text[0] == '\xFF'), tree.key_count());
  }
}

TEST_F(HiveFormatTest, Utf16NamesBecomeAnsiBytes) {
  Load(
      Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"
                u"[HKEY_CLASSES_ROOT\\Caf\u00e9\\\u20ac\u0160]\r\n"));
  EXPECT_EQ((std::vector<std::string>{"Caf\xE9", "Caf\xE9\\\x80\x8A"}), tree_.ListPaths());
  EXPECT_EQ(HiveEncoding::kUtf16Le, document_.encoding());
}

TEST_F(HiveFormatTest, AnsiNamesAreTakenAsTheyAre) {
  // UTF-8 bytes in a file without a byte order mark are ANSI characters.
  Load("Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\Caf\xC3\xA9]\n");
  EXPECT_EQ(std::vector<std::string>{"Caf\xC3\xA9"}, tree_.ListPaths());
}

TEST_F(HiveFormatTest, SectionsImplyTheKeysAboveThem) {
  Load("REGEDIT4\n[HKEY_CLASSES_ROOT\\A\\B\\C]\n[hkcr\\a\\X]\n");
  EXPECT_EQ((std::vector<std::string>{"A", "A\\B", "A\\B\\C", "A\\X"}), tree_.ListPaths());
}

TEST_F(HiveFormatTest, SectionNamesFollowTheImportRules) {
  Load(
      "REGEDIT4\n"
      "  [HKEY_CLASSES_ROOT\\K\\key]bracket]  \n"
      "[HKEY_CLASSES_ROOT\\K\\trail ]\n"
      "[HKEY_CLASSES_ROOT\\K\\\\doubled\\\\]\n"
      "[HKEY_CLASSES_ROOT\\K\\key\"q\\sl/ash]\n"
      "[HKEY_CLASSES_ROOT]\n");
  EXPECT_EQ((std::vector<std::string>{"K", "K\\doubled", "K\\key\"q", "K\\key\"q\\sl/ash",
                                      "K\\key]bracket", "K\\trail "}),
            tree_.ListPaths());
}

TEST_F(HiveFormatTest, OtherRootsAreKeptButNotRead) {
  const std::string text =
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Classes\\Installer\\Patches\\P1]\r\n\"a\"=\"b\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Installer\\Patches\\P1]\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software]\r\n@=\"x\"\r\n";
  Load(text);
  EXPECT_EQ(3u, tree_.key_count());
  Delete("Installer\\Patches\\P1");
  EXPECT_EQ(
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Classes\\Installer\\Patches\\P1]\r\n\"a\"=\"b\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Installer\\Patches]\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software]\r\n@=\"x\"\r\n",
      document_.ToString());
}

TEST_F(HiveFormatTest, DeletedKeyTakesItsValuesAndWhatFollowsThemAlong) {
  Load(
      "REGEDIT4\n\n"
      "[HKEY_CLASSES_ROOT\\Keep]\n\"k\"=\"1\"\n\n"
      "[HKEY_CLASSES_ROOT\\Keep\\Drop]\n\"d\"=hex:01,\\\n  02\n; about drop\n\n"
      "[HKEY_CLASSES_ROOT\\Keep\\Stay]\n\"s\"=\"3\"\n");
  Delete("Keep\\Drop");
  EXPECT_EQ(
      "REGEDIT4\n\n"
      "[HKEY_CLASSES_ROOT\\Keep]\n\"k\"=\"1\"\n\n"
      "[HKEY_CLASSES_ROOT\\Keep\\Stay]\n\"s\"=\"3\"\n",
      document_.ToString());
}

TEST_F(HiveFormatTest, EverySectionOfADeletedKeyGoes) {
  Load(
      "REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"1\"=\"x\"\n[HKEY_CLASSES_ROOT\\B]\n"
      "[HKCR\\a]\n\"2\"=\"y\"\n");
  Delete("A");
  EXPECT_EQ("REGEDIT4\n[HKEY_CLASSES_ROOT\\B]\n", document_.ToString());
}

TEST_F(HiveFormatTest, KeyLeftWithoutSectionGetsOneWhereItsSubkeysWere) {
  Load(
      Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"
                u"[HKEY_CLASSES_ROOT\\Installer\\Patches\\P\u00e9\\SourceList\\Media]\r\n"
                u"\"1\"=\"disk\"\r\n\r\n"
                u"[HKEY_CLASSES_ROOT\\Installer\\Patches\\P\u00e9\\SourceList\\Net]\r\n\r\n"
                u"[HKEY_CLASSES_ROOT\\Installer\\Products]\r\n\r\n"));
  Delete("Installer\\Patches\\P\xE9\\SourceList\\Media");
  Delete("Installer\\Patches\\P\xE9\\SourceList\\Net");
  const std::string written = document_.ToString();
  EXPECT_EQ(Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"
                      u"[HKEY_CLASSES_ROOT\\Installer\\Patches\\P\u00e9\\SourceList]\r\n\r\n"
                      u"[HKEY_CLASSES_ROOT\\Installer\\Products]\r\n\r\n"),
            written);

  KeyTree reread;
  HiveDocument document;
  HiveError error;
  ASSERT_TRUE(document.Parse(written, &reread, &error));
  EXPECT_EQ(tree_.ListPaths(), reread.ListPaths());
}

TEST_F(HiveFormatTest, KeysKeepTheSpellingOfTheirFirstSection) {
  Load("REGEDIT4\n[HKEY_CLASSES_ROOT\\Foo\\Bar]\n[HKCR\\FOO\\Baz]\n[HKCR\\D\\E]\n");
  Delete("Foo\\Bar");
  Delete("D\\E");
  Delete("D");
  const std::string written = document_.ToString();
  EXPECT_EQ("REGEDIT4\n[HKEY_CLASSES_ROOT\\Foo]\n\n[HKCR\\FOO\\Baz]\n", written);
  KeyTree reread;
  HiveDocument document;
  HiveError error;
  ASSERT_TRUE(document.Parse(written, &reread, &error));
  EXPECT_EQ((std::vector<std::string>{"Foo", "Foo\\Baz"}), reread.ListPaths());
}

TEST_F(HiveFormatTest, ExportsNeedNoAddedSections) {
  // An export names every key, parents first: each section creates only
  // its own key.
  Load(kExportCrLf);
  Delete("Installer\\Patches\\P1\\SourceList");
  Delete("Installer\\Patches\\P1");
  Delete("Installer\\Patches\\P2");
  const std::string text = kExportCrLf;
  EXPECT_EQ(text.substr(0, text.find("[HKEY_CLASSES_ROOT\\Installer\\Patches\\P1]")),
            document_.ToString());
}

TEST_F(HiveFormatTest, StopsWhenTheSinkFails) {
  Load(kExportCrLf);
  int pieces = 0;
  EXPECT_FALSE(document_.Write([&pieces](const char*, size_t) { return ++pieces < 2; }));
  EXPECT_EQ(2, pieces);
}

struct RefusedFile {
  std::string text;
  size_t line;
};

TEST_F(HiveFormatTest, MalformedFilesAreRefused) {
  const std::string v5 = "Windows Registry Editor Version 5.00\r\n";
  const std::string key = "[HKEY_CLASSES_ROOT\\K]\r\n";
  const std::vector<RefusedFile> files = {
      {"", 1},
      {"windows registry editor version 5.00\r\n", 1},
      {"\xEF\xBB\xBF" + v5, 1},               // UTF-8 byte order mark
      {std::string("\xFE\xFF\0W", 4), 1},     // UTF-16BE
      {Utf16File(u"REGEDIT4\r\n") + "x", 1},  // odd byte count
      {std::string("W\0i\0n\0", 6), 1},       // UTF-16 without byte order mark
      {v5 + "\"v\"=\"x\"\r\n", 2},            // value before any section
      {v5 + key + "garbage\r\n", 3},
      {v5 + key + "[-HKEY_CLASSES_ROOT\\K]\r\n", 3},
      {v5 + "[HKEY_CLASSES_ROOT\\K\r\n", 2},
      {v5 + "[HKEY_CLASSES_ROOT\\K] x\r\n", 2},
      {v5 + "[HKEY_CLASSES_ROOTX\\K]\r\n", 2},
      {v5 + "[]\r\n", 2},
      {v5 + "[HKEY_CLASSES_ROOT\\" + std::string(257, 'k') + "]\r\n", 2},
      {v5 + key + "\"v\"=\"unterminated\r\n", 3},
      {v5 + key + "\"v=\"x\"\r\n", 3},
      {v5 + key + "\"v\" \"x\"\r\n", 3},
      {v5 + key + "\"v\"=dword:123456789\r\n", 3},
      {v5 + key + "\"v\"=dword:\r\n", 3},
      {v5 + key + "\"v\"=hex:1,234\r\n", 3},
      {v5 + key + "\"v\"=hex:01 02\r\n", 3},
      {v5 + key + "\"v\"=hex(2:01\r\n", 3},
      {v5 + key + "\"v\"=word:1\r\n", 3},
      {v5 + key + "\"v\"=hex:01,\\\r\n[HKEY_CLASSES_ROOT\\L]\r\n", 4},
      {v5 + key + "\"v\"=hex:01,\\\r\n", 3},  // continued past the end
      {v5 + key + "@=\"a\rb\"\r\n", 3},       // CR without LF
      {v5 + key + std::string("@=\"a\0b\"\r\n", 9), 3},
      {Utf16File(u"REGEDIT4\r\n[HKEY_CLASSES_ROOT\\\u4e2d]\r\n"), 2},
      {Utf16File(u"REGEDIT4\r\n[HKEY_CLASSES_ROOT\\\u0080]\r\n"), 2},
  };
  for (const RefusedFile& file : files) {
    KeyTree tree;
    HiveDocument document;
    HiveError error;
    EXPECT_FALSE(document.Parse(file.text, &tree, &error)) << file.text;
    EXPECT_EQ(file.line, error.line) << file.text << "\n" << error.message;
    EXPECT_FALSE(error.message.empty());
  }
}

// A deeper key would make a run's recursive delete overflow the stack.
TEST_F(HiveFormatTest, KeysDeeperThanThePlatformHoldsAreRefused) {
  const auto nested = [](size_t depth) {
    std::string path = "[HKCR";
    for (size_t level = 0; level < depth; ++level) path += "\\k";
    return path + "]\n";
  };
  Load("REGEDIT4\n" + nested(KeyTree::kMaxDepth) + nested(3));
  EXPECT_EQ(KeyTree::kMaxDepth, tree_.key_count());

  KeyTree tree;
  HiveDocument document;
  HiveError error;
  EXPECT_FALSE(document.Parse("REGEDIT4\n" + nested(3) + nested(KeyTree::kMaxDepth + 1), &tree,
                              &error));
  EXPECT_EQ(3u, error.line);
  EXPECT_EQ("key nested deeper than 512 levels", error.message);
}

TEST_F(HiveFormatTest, AcceptsWhatTheImportAccepts) {
  const std::string text =
      "Windows Registry Editor Version 5.00  \n"
      "; comment\n"
      "# other comment\n"
      "\t\n"
      "  [HKEY_CLASSES_ROOT\\K]\n"
      "  \"b\" = \"x\" ; trailing\n"
      "\"gone\"=-\n"
      "@=DWORD:1\n"
      "\"h\"=hex(b):01, 02 ,\\\n"
      "\t03 \n"
      "\"n\"=hex(0):\n"
      "[HKEY_USERS\\.DEFAULT]\n"
      "[HKU\\x]\n"
      "[HKEY_CLASSES_ROOT\\Last]";  // no line end at the end
  Load(text);
  EXPECT_EQ(text, document_.ToString());
  EXPECT_EQ(2u, tree_.key_count());
}

}  // namespace
