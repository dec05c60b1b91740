#include "winapi/hive_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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
  std::string cr = lf;
  for (char& byte : cr) byte = byte == '\n' ? '\r' : byte;
  std::u16string utf16_text;
  for (char byte : std::string(kExportCrLf)) utf16_text.push_back(static_cast<unsigned char>(byte));
  utf16_text += u"[HKEY_CLASSES_ROOT\\Installer\\Patches\\\u00e9\u20ac]\r\n\"v\"=\"\u4e2d\"\r\n";
  for (const std::string& text : {lf, cr, regedit4, Utf16File(utf16_text)}) {
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

// The same in ANSI and UTF-16 files, also with a name that the code page
// converts (the euro sign becomes 0x80), which UTF-16 names split apart.
TEST_F(HiveFormatTest, SectionNamesFollowTheImportRules) {
  // "%" stands for the first name.
  const std::string sections =
      "  [HKEY_CLASSES_ROOT\\%\\key]bracket]  \n"
      "[HKEY_CLASSES_ROOT\\%\\trail ]\n"
      "[HKEY_CLASSES_ROOT\\%\\\\doubled\\\\]\n"
      "[HKEY_CLASSES_ROOT\\%\\key\"q\\sl/ash]\n"
      "[HKEY_CLASSES_ROOT]\n";
  const std::vector<std::string> paths = {"%",         "%\\doubled",    "%\\key\"q",
                                          "%\\key\"q\\sl/ash", "%\\key]bracket", "%\\trail "};
  struct Variant {
    std::u16string name;  // the first name in the file
    std::string ansi;     // and in the tree
  };
  for (const Variant& first : {Variant{u"K", "K"}, Variant{u"K\u20ac", "K\x80"}}) {
    std::u16string text = u"REGEDIT4\n";
    std::string ansi_text = "REGEDIT4\n";
    for (char byte : sections) {
      if (byte == '%') {
        text += first.name;
        ansi_text += first.ansi;
      } else {
        text.push_back(static_cast<unsigned char>(byte));
        ansi_text.push_back(byte);
      }
    }
    std::vector<std::string> expected;
    for (std::string path : paths) expected.push_back(path.replace(0, 1, first.ansi));
    for (const std::string& file : {ansi_text, Utf16File(text)}) {
      KeyTree tree;
      HiveDocument document;
      HiveError error;
      ASSERT_TRUE(document.Parse(file, &tree, &error)) << error.message;
      EXPECT_EQ(expected, tree.ListPaths())
          << first.ansi << (file == ansi_text ? " in ANSI" : " in UTF-16");
    }
  }
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
  Delete("Installer\\Patches\\P1\\SourceList");  // the text before it, and after it
  int pieces = 0;
  EXPECT_FALSE(document_.Write([&pieces](const char*, size_t) { return ++pieces < 2; }));
  EXPECT_EQ(2, pieces);
}

struct RefusedFile {
  std::string text;
  size_t line;
};

TEST_F(HiveFormatTest, FilesTheImportRefusesOrCannotBeKeptAreRefused) {
  const std::string v5 = "Windows Registry Editor Version 5.00\r\n";
  const std::string key = "[HKEY_CLASSES_ROOT\\K]\r\n";
  const std::vector<RefusedFile> files = {
      {"", 1},
      {"windows registry editor version 5.00\r\n", 1},
      {"Windows Registry Editor Version 5.00 \r\n" + key, 1},  // the import refuses it
      {"REGEDIT4\t\r\n" + key, 1},                              // the import reads nothing
      {"REGEDIT 4\r\n" + key, 1},
      {"\r\n" + v5 + key, 1},
      {"\xEF\xBB\xBF" + v5, 1},               // UTF-8 byte order mark
      {std::string("\xFE\xFF\0W", 4), 1},     // UTF-16BE
      {Utf16File(u"REGEDIT4\r\n") + "x", 1},  // odd byte count
      {std::string("W\0i\0n\0", 6), 1},       // UTF-16 without byte order mark
      {v5 + key + "[-HKEY_CLASSES_ROOT\\K]\r\n", 3},
      {v5 + key + "  [-HKEY_CLASSES_ROOT\\K]\r\n", 3},
      {v5 + key + "[- HKEY_CLASSES_ROOT\\K]\r\n", 3},  // deletes nothing, ends the section
      {v5 + key + "\"v\"=hex:01\r[-HKEY_CLASSES_ROOT\\K] x\r", 4},
      {v5 + "[HKEY_CLASSES_ROOT\\" + std::string(257, 'k') + "]\r\n", 2},
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

struct ImportRule {
  const char* rule;
  std::string body;  // the lines after the header
  std::vector<std::string> keys;
};

// Each file reads as the platform's import reads it (the keys it creates,
// measured with "reg import"), and writes back byte for byte.
TEST_F(HiveFormatTest, ReadsWhatTheImportReads) {
  const std::vector<ImportRule> rules = {
      {"line ends of CR alone", "[HKCR\\A]\r\"v\"=\"1\"\r[HKCR\\B]\r", {"A", "B"}},
      {"mixed line ends", "[HKCR\\A]\r\r\n\"v\"=hex:01,\\\r  02\n[HKCR\\B]\r\n", {"A", "B"}},
      {"comment after a continuation backslash",
       "[HKCR\\A]\n\"v\"=hex:01,\\ ;note\n[HKCR\\Eaten]\n\"w\"=hex:01,\\;note\n  02\n[HKCR\\B]\n",
       {"A", "B"}},
      {"blank, blank-only and ; comment lines inside a continued value",
       "[HKCR\\A]\n\"v\"=hex:01,\\\n\n  \n\t\n;c\n  ;c\n  02,\\\n\n[HKCR\\Eaten]\n", {"A"}},
      {"# comment ends a continued value",
       "[HKCR\\A]\n\"v\"=hex:01,\\\n  #c\n[HKCR\\B]\n\"w\"=hex:01,\\ #c\n[HKCR\\C]\n",
       {"A", "B", "C"}},
      {"a section line continues a value and is lost",
       "[HKCR\\A]\n\"v\"=hex(7):41,00,\\\n[HKCR\\Eaten]\n\"w\"=\"x\"\n", {"A"}},
      {"blanks after dword:", "[HKCR\\A]\n\"v\"=dword: 1\n\"w\"=dword:\t2 ;c\n", {"A"}},
      {"value deletion followed by a comment", "[HKCR\\A]\n\"v\"=- ;c\n\"w\"=-;c\n", {"A"}},
      {"file ends right after a continuation backslash", "[HKCR\\A]\n\"v\"=hex:01,\\", {"A"}},
      {"file ends inside a continued value", "[HKCR\\A]\n\"v\"=hex:01,\\\r\n  \r\n", {"A"}},
      {"section line without ] is passed over",
       "[HKCR\\A]\n[HKEY_CLASSES_ROOT\\B\n\"v\"=\"1\"\n[HKCR\\C]\n", {"A", "C"}},
      {"section line with a blank after [ is passed over",
       "[HKCR\\A]\n[ HKCR\\B]\n[\t-HKCR\\A]\n", {"A"}},
      {"sections the import cannot open name no key",
       "[HKCR\\A]\n[HKEY_CLASSES_ROOTX\\B]\n[]\n[HKCR\\\\C]\n[HKEY_CLASSES_ROOT\\\\]\n[HKLM\\D]\n"
       "[HKEY_DYN_DATA\\E]\n",
       {"A"}},
      {"text after the last ] is passed over", "[HKCR\\A] x\n[HKCR\\B]];c\n", {"A", "B]"}},
      {"bad value data and lines of unknown form are passed over",
       "[HKCR\\A]\ngarbage\n\"a\"=\"unterminated\n\"b\" \"x\"\n\"c\"=word:1\n\"d\"=hex:1,234\n"
       "\"e\"=hex:01 02\n\"f\"=dword:123456789\nNoQuote=\"x\"\n\"g\"=\"ok\"\n",
       {"A"}},
      {"values before the first section", "\"v\"=\"1\"\n@=hex:01,\\\n[HKCR\\Eaten]\n[HKCR\\A]\n",
       {"A"}},
      {"hex tags are lower case only",
       "[HKCR\\A]\n\"v\"=HEX:01,\\\n[HKCR\\B]\n\"w\"=Hex(2):01,\\\n[HKCR\\C]\n", {"A", "B", "C"}},
      {"a backslash continues only where a byte may start",
       "[HKCR\\A]\n\"v\"=hex:01 ,\\\n[HKCR\\B]\n\"w\"=hex:01\\\n[HKCR\\C]\n\"x\"=hex:01,\\\\\n"
       "[HKCR\\D]\n\"y\"=hex:01;c,\\\n[HKCR\\E]\n\"z\"=hex:01, \\\n[HKCR\\Eaten]\n",
       {"A", "B", "C", "D", "E"}},
      {"bytes are read as wcstoul reads them",
       "[HKCR\\A]\n\"v\"=hex:+1,0x2,\v03,-0,\xA0" "004,\\\n[HKCR\\Eaten]\n"
       "\"w\"=hex:\x85" "01,\\\n[HKCR\\B]\n\"x\"=hex:ff,100,\\\n[HKCR\\C]\n",
       {"A", "B", "C"}},
      {"hex types",
       "[HKCR\\A]\n\"v\"=hex():01,\\\n[HKCR\\E1]\n\"v\"=hex( 2):01,\\\n[HKCR\\E2]\n"
       "\"v\"=hex(-1):\\\n[HKCR\\E3]\n\"v\"=hex(0x2):01,\\\n[HKCR\\B]\n"
       "\"v\"=hex(100000000):01,\\\n[HKCR\\C]\n\"v\"=hex(2 ):01,\\\n[HKCR\\D]\n",
       {"A", "B", "C", "D"}},
      {"value names",
       "[HKCR\\A]\n\"a\\0b\"=hex:01,\\\n[HKCR\\B]\n\"h\\\"=hex:01,\\\n[HKCR\\C]\n"
       "@x=hex:01,\\\n[HKCR\\D]\n\"q\\qb\" = hex:01,\\\n[HKCR\\Eaten]\n",
       {"A", "B", "C", "D"}},
  };
  for (const ImportRule& rule : rules) {
    for (const char* header : {"Windows Registry Editor Version 5.00\n", " \tREGEDIT4\n"}) {
      const std::string text = header + rule.body;
      KeyTree tree;
      HiveDocument document;
      HiveError error;
      ASSERT_TRUE(document.Parse(text, &tree, &error))
          << rule.rule << ": " << error.line << ": " << error.message;
      EXPECT_EQ(rule.keys, tree.ListPaths()) << rule.rule;
      EXPECT_EQ(text, document.ToString()) << rule.rule;
    }
  }
}

TEST_F(HiveFormatTest, PassedOverSectionLinesGoWithTheSectionTheyAreIn) {
  // The import adds the values after "[...B" to A, and the values after a
  // section it cannot open to no key.
  Load(
      "REGEDIT4\r\r"
      "[HKCR\\A]\r[HKCR\\B\r\"a\"=\"1\"\r\r"
      "[HKCR\\A\\X]\r\r"
      "[HKEY_CLASSES_ROOT\\\\C]\r\"c\"=\"3\"\r\r"
      "[HKCR\\D\\E]\r\"e\"=hex:01,\\\r[HKCR\\F]\r");
  EXPECT_EQ((std::vector<std::string>{"A", "A\\X", "D", "D\\E"}), tree_.ListPaths());
  Delete("A\\X");
  Delete("A");
  Delete("D\\E");
  EXPECT_EQ(
      "REGEDIT4\r\r"
      "[HKEY_CLASSES_ROOT\\\\C]\r\"c\"=\"3\"\r\r"
      "[HKEY_CLASSES_ROOT\\D]\r\r",
      document_.ToString());
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
      "  Windows Registry Editor Version 5.00\n"
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

// What reading `text` gives: whether it was read, the error, the keys, and
// the file written after deleting the first key that has no subkeys.
struct ReadOutcome {
  bool read = false;
  size_t error_line = 0;
  std::string error;
  std::vector<std::string> keys;
  std::string written;
  bool operator==(const ReadOutcome& other) const {
    return read == other.read && error_line == other.error_line && error == other.error &&
           keys == other.keys && written == other.written;
  }
};

// Reads `text` from a source that gives `piece` bytes at a time (all of
// it at once for 0), then deletes and writes it, copying from `text`.
// `size_hint` is the size the reader is told (0: the text's).
ReadOutcome ReadInPieces(const std::string& text, size_t piece, uint64_t size_hint = 0) {
  KeyTree tree;
  HiveDocument document;
  HiveError error;
  size_t offset = 0;
  ReadOutcome outcome;
  outcome.read = document.Read(
      [&](char* buffer, size_t capacity) {
        const size_t count = std::min({capacity, text.size() - offset, piece ? piece : capacity});
        std::memcpy(buffer, text.data() + offset, count);
        offset += count;
        return static_cast<ptrdiff_t>(count);
      },
      size_hint != 0 ? size_hint : text.size(), &tree, &error);
  outcome.error_line = error.line;
  outcome.error = error.message;
  if (!outcome.read) return outcome;
  outcome.keys = tree.ListPaths();
  for (const std::string& key : outcome.keys) {
    if (tree.Delete(tree.root(), key.c_str()) == kRegSuccess) break;
  }
  (void)document.Write(HiveWriter{[&](uint64_t from, uint64_t size) {
                                    outcome.written.append(text, from, size);
                                    return true;
                                  },
                                  [&](const char* data, size_t size) {
                                    outcome.written.append(data, size);
                                    return true;
                                  }});
  return outcome;
}

// A file is read a window at a time: where the pieces it comes in end
// (inside a CR LF, a UTF-16 unit, a section line, a line longer than the
// window) changes nothing.
TEST_F(HiveFormatTest, ReadsTheSameInWhateverPiecesTheFileComes) {
  const std::string long_value = "\"v\"=\"" + std::string((1 << 20) + 5, 'x') + "\"";
  const std::vector<std::string> files = {
      kExportCrLf,
      "REGEDIT4\r[HKCR\\A]\r\"v\"=\"1\"\r[HKCR\\A\\B]\r\r[HKCR\\C]",
      "REGEDIT4\n[HKCR\\A]\n\"h\"=hex:01,\\\n  02\n[HKCR\\B\n[HKCR\\A\\D]\n",
      "REGEDIT4\r\n[HKCR\\A]\r\n" + long_value + "\r\n[HKCR\\B]\r\n",
      Utf16File(u"Windows Registry Editor Version 5.00\r\n[HKCR\\A\u00e9]\r\n@=\"x\"\r\n"
                u"[HKCR\\A\u00c9\\B]\r[HKCR\\C]\r\n"),
      Utf16File(u"REGEDIT4\r\n[HKCR\\A]\r\n") + "x",
      "REGEDIT4\r\n[HKCR\\A]\r\n[-HKCR\\A]\r\n",
      std::string("REGEDIT4\r\n[HKCR\\A]\r\n@=\"a\0b\"\r\n", 26),
      "REGEDIT4\n\n; x]\n\"P1\"=-\n\n[HKEY_CLASSES_ROOT\\Installer\\Products\\PROD\\SourceList]\x02",
  };
  for (const std::string& text : files) {
    const ReadOutcome whole = ReadInPieces(text, 0);
    for (size_t piece : {1, 2, 3, 7, 64}) {
      EXPECT_TRUE(ReadInPieces(text, piece) == whole) << "pieces of " << piece << ":\n"
                                                      << text.substr(0, 200);
    }
  }
  EXPECT_TRUE(ReadInPieces(files[3], 0).read);
  EXPECT_EQ(4u, ReadInPieces(files.back(), 0).keys.size());  // a last line without its end
}

// Thousands of sections in no order, sharing names in other spellings,
// some under another root: the spelling of a name is that of the first
// section to name it, so the keys show whether sections were taken in order.
std::string ManySectionsFile(size_t sections) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  uint32_t state = 12345;
  for (size_t index = 0; index < sections; ++index) {
    state = state * 1103515245 + 12345;
    const uint32_t pick = state >> 8;
    const std::string root = pick % 17 == 0 ? "HKEY_LOCAL_MACHINE" : "HKEY_CLASSES_ROOT";
    const std::string first = pick % 2 ? "Installer" : "INSTALLER";
    text += "[" + root + "\\" + first + "\\K" + std::to_string(pick % 997) + "\\" +
            (pick % 3 ? "sub" : "SUB") + std::to_string(pick % 7) + "]\r\n\"v\"=\"" +
            std::to_string(index) + "\"\r\n\r\n";
  }
  return text;
}

// A large file's keys are added on a second thread as the file is parsed:
// the outcome is the same as a small file's, read on one thread, also when
// the file fails part of the way through.
TEST_F(HiveFormatTest, LargeFileReadsAsASmallOne) {
  const std::string many = ManySectionsFile(20000);
  for (const std::string& text : {many, many + "[-HKCR\\A]\r\n" + many}) {
    const ReadOutcome alone = ReadInPieces(text, 0);
    const ReadOutcome threaded = ReadInPieces(text, 0, HiveDocument::kThreadedReadSize);
    EXPECT_TRUE(threaded == alone);
    EXPECT_TRUE(ReadInPieces(text, 4096, HiveDocument::kThreadedReadSize) == alone);
  }
  ASSERT_LT(many.size(), HiveDocument::kThreadedReadSize);
  EXPECT_GT(ReadInPieces(many, 0).keys.size(), 3000u);
  EXPECT_FALSE(ReadInPieces(many + "[-HKCR\\A]\r\n", 0).read);
}

TEST_F(HiveFormatTest, FileThatCannotBeReadIsNotRead) {
  bool given = false;
  HiveError error;
  EXPECT_FALSE(document_.Read(
      [&given](char* buffer, size_t) -> ptrdiff_t {
        if (given) return -1;
        given = true;
        std::memcpy(buffer, "REGEDIT4\n[HKCR\\A]\n", 18);
        return 18;
      },
      100, &tree_, &error));
  EXPECT_EQ("read error", error.message);
}

}  // namespace
