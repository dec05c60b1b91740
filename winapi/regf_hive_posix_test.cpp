#include "winapi/regf_hive.h"

#include <fcntl.h>
#include <hivex.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/pipe_capture.h"
#include "tests/support/regf_builder.h"
#include "tests/support/scratch_dir.h"
#include "winapi/empty_hive.h"

namespace {

using hive_bytes::Get32;
using hive_bytes::Put32;

constexpr size_t kCell = 4;           // a cell's size field comes before its data
constexpr size_t kSubkeyList = 0x1C;  // fields of a key cell
constexpr size_t kKeyName = 0x4C;

void FixChecksum(std::string* bytes) {
  Put32(bytes, empty_hive::kChecksumOffset, HiveHeaderChecksum(bytes->substr(0, 4096)));
}
// The file offset of the subkey list of the key cell at `node`.
size_t SubkeyListOf(const std::string& bytes, hive_node_h node) {
  return Get32(bytes, node + kCell + kSubkeyList) + 0x1000;
}

// ReadHiveKeys of the hive `bytes`.
std::vector<std::string> ReadBack(const std::string& bytes) {
  ScratchDir dir;
  dir.Write("hive", bytes);
  return ReadHiveKeys(dir.File("hive"));
}

std::vector<std::string> Names(const KeyTree& tree, const KeyNode* parent) {
  std::vector<std::string> names;
  for (uint32_t index = 0; const KeyNode* child = tree.ChildAt(parent, index); ++index) {
    names.emplace_back(child->name());
  }
  return names;
}

std::string Software(std::initializer_list<const char*> classes_paths) {
  RegfBuilder builder;
  builder.Add("Microsoft\\Windows\\CurrentVersion");
  for (const char* path : classes_paths) builder.Add(std::string("Classes\\") + path);
  return builder.Bytes();
}

std::string Parsed(const std::string& bytes, KeyTree* tree, RegfHive* hive) {
  HiveError error;
  if (!hive->Parse(bytes, tree, &error)) return error.message;
  EXPECT_EQ(error.line, 0u);
  return "";
}

std::string Written(const RegfHive& hive) {
  std::string out;
  EXPECT_TRUE(hive.Write([&](const char* data, size_t size) {
    out.append(data, size);
    return true;
  }));
  return out;
}

TEST(RegfHiveLoad, ClassesOfASoftwareHiveOrTheRootOfAClassesHive) {
  KeyTree tree;
  RegfHive hive;
  ASSERT_EQ("", Parsed(Software({"Installer\\Patches\\P1", ".txt"}), &tree, &hive));
  EXPECT_TRUE(hive.classes_below_root());
  EXPECT_EQ((std::vector<std::string>{".txt", "Installer", "Installer\\Patches",
                                      "Installer\\Patches\\P1"}),
            tree.ListPaths());
  EXPECT_EQ(4u, hive.key_count());

  RegfBuilder classes;  // a hive saved from SOFTWARE\Classes: no Classes key
  classes.Add("Installer\\Products\\X");
  classes.Add("CLSID");
  KeyTree root_tree;
  RegfHive root_hive;
  ASSERT_EQ("", Parsed(classes.Bytes(), &root_tree, &root_hive));
  EXPECT_FALSE(root_hive.classes_below_root());
  EXPECT_EQ((std::vector<std::string>{"CLSID", "Installer", "Installer\\Products",
                                      "Installer\\Products\\X"}),
            root_tree.ListPaths());
  KeyNode* found = nullptr;
  EXPECT_EQ(kRegSuccess, root_tree.Open(root_tree.root(), "INSTALLER\\products\\x", &found));
}

TEST(RegfHiveLoad, SubkeysComeInTheHivesStoredOrderNotSorted) {
  RegfBuilder builder;
  const hive_node_h parent = builder.Add("Classes\\P");
  for (const char* name : {"a", "b", "c"}) builder.Add(std::string("Classes\\P\\") + name);
  std::string bytes = builder.Bytes();
  // Reverse the three entries (offset and hash, 8 bytes each) of P's list.
  const size_t entries = SubkeyListOf(bytes, parent) + kCell + 4;
  ASSERT_EQ(bytes.substr(entries - 4, 2), "lh");
  const std::string first = bytes.substr(entries, 8);
  bytes.replace(entries, 8, bytes.substr(entries + 16, 8));
  bytes.replace(entries + 16, 8, first);

  KeyTree tree;
  RegfHive hive;
  ASSERT_EQ("", Parsed(bytes, &tree, &hive));
  const KeyNode* p = tree.FindChild(tree.root(), "p");
  EXPECT_EQ((std::vector<std::string>{"c", "b", "a"}), Names(tree, p));
}

TEST(RegfHiveLoad, NamesTakeTheirAnsiFormOrAreListedWithSubstitutesAndNeverFound) {
  // e-acute and the euro sign have bytes of their own; a-macron has a
  // best-fit 'a', the CJK character only '?'.
  KeyTree tree;
  RegfHive hive;
  ASSERT_EQ("", Parsed(Software({"P\\\xC3\xA9t\xC3\xA9", "P\\\xE2\x82\xAC", "P\\\xC4\x81",
                                 "P\\x\xE4\xB8\xAD"}),
                       &tree, &hive));
  KeyNode* p = tree.FindChild(tree.root(), "P");
  ASSERT_NE(nullptr, p);
  std::vector<std::string> names = Names(tree, p);
  std::vector<std::string> expected{"\x80", "a", "x?", "\xE9t\xE9"};
  std::sort(names.begin(), names.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, names);
  KeyNode* found = nullptr;
  EXPECT_EQ(kRegSuccess, tree.Open(p, "\xC9T\xC9", &found));
  EXPECT_EQ(kRegSuccess, tree.Open(p, "\x80", &found));
  EXPECT_EQ(kRegFileNotFound, tree.Open(p, "a", &found));
  EXPECT_EQ(kRegFileNotFound, tree.Delete(p, "x?"));
  ASSERT_EQ(kRegSuccess, tree.Delete(p, "\xE9t\xE9"));
  ASSERT_EQ(kRegSuccess, tree.Delete(p, "\x80"));
  EXPECT_EQ(kRegAccessDenied, tree.Delete(tree.root(), "P"));
}

TEST(RegfHiveWrite, DeletedSubtreesLeaveTheHiveAndEverythingElseStays) {
  RegfBuilder builder;
  builder.SetString("Microsoft\\Windows", "ProgramFilesDir", "C:\\Program Files");
  builder.SetString("Classes\\Installer\\Products\\PR\\Patches", "AllPatches", "x");
  builder.SetString("Classes\\Installer\\Products\\PR", "ProductName", "Example");
  builder.SetString("Classes\\Installer\\Patches\\PA\\SourceList", "PackageName", "a.msp");
  builder.Add("Classes\\Installer\\Patches\\PA\\SourceList\\Net");
  builder.Add("Classes\\Installer\\Patches\\Other");
  const std::string before = builder.Bytes();
  RegfHeader header_before;
  std::string error;
  ASSERT_TRUE(CheckHiveHeader(before, &header_before, &error));

  KeyTree tree;
  RegfHive hive;
  ASSERT_EQ("", Parsed(before, &tree, &hive));
  std::string unchanged = Written(hive);  // nothing deleted: only the counts move
  Put32(&unchanged, 4, Get32(unchanged, 4) - 1);
  Put32(&unchanged, 8, Get32(unchanged, 8) - 1);
  FixChecksum(&unchanged);
  EXPECT_EQ(before, unchanged);
  for (const char* path : {"Installer\\Products\\PR\\Patches",
                           "Installer\\Patches\\PA\\SourceList\\Net",
                           "Installer\\Patches\\PA\\SourceList", "Installer\\Patches\\PA"}) {
    ASSERT_EQ(kRegSuccess, tree.Delete(tree.root(), path)) << path;
  }
  const std::string after = Written(hive);
  RegfHeader header_after;
  ASSERT_TRUE(CheckHiveHeader(after, &header_after, &error)) << error;
  EXPECT_EQ(header_after.sequence1, header_before.sequence1 + 2);  // one commit per Write
  EXPECT_EQ(header_after.sequence2, header_after.sequence1);
  EXPECT_EQ((std::vector<std::string>{
                "Classes", "Classes\\Installer", "Classes\\Installer\\Patches",
                "Classes\\Installer\\Patches\\Other", "Classes\\Installer\\Products",
                "Classes\\Installer\\Products\\PR",
                "Classes\\Installer\\Products\\PR ProductName=Example", "Microsoft",
                "Microsoft\\Windows", "Microsoft\\Windows ProgramFilesDir=C:\\Program Files"}),
            ReadBack(after));
}

TEST(RegfHiveWrite, LaterDeletesAddToEarlierWritesAndAFileTakesTheSameBytes) {
  KeyTree tree;
  RegfHive hive;
  ASSERT_EQ("", Parsed(Software({"A\\B\\C", "D"}), &tree, &hive));
  ASSERT_EQ(kRegSuccess, tree.Delete(tree.root(), "A\\B\\C"));
  EXPECT_EQ((std::vector<std::string>{"Classes", "Classes\\A", "Classes\\A\\B", "Classes\\D",
                                      "Microsoft", "Microsoft\\Windows",
                                      "Microsoft\\Windows\\CurrentVersion"}),
            ReadBack(Written(hive)));
  ASSERT_EQ(kRegSuccess, tree.Delete(tree.root(), "A\\B"));
  ASSERT_EQ(kRegSuccess, tree.Delete(tree.root(), "A"));
  ScratchDir dir;
  dir.Write("out", "");
  const int fd = open(dir.File("out").c_str(), O_WRONLY);
  ASSERT_TRUE(hive.WriteToFile(fd));
  close(fd);
  const std::string written = dir.Read("out");
  EXPECT_EQ((std::vector<std::string>{"Classes", "Classes\\D", "Microsoft",
                                      "Microsoft\\Windows", "Microsoft\\Windows\\CurrentVersion"}),
            ReadBack(written));
  std::string again = Written(hive);  // the next commit: only the counts differ
  Put32(&again, 4, Get32(again, 4) - 1);
  Put32(&again, 8, Get32(again, 8) - 1);
  FixChecksum(&again);
  EXPECT_EQ(written, again);
}

TEST(RegfHiveWrite, AnOutputThatTakesNothingFailsTheWriteWithoutHanging) {
  KeyTree tree;
  RegfHive hive;
  ASSERT_EQ("", Parsed(Software({"A", "B"}), &tree, &hive));
  ASSERT_EQ(kRegSuccess, tree.Delete(tree.root(), "A"));
  size_t taken = 0;
  EXPECT_FALSE(hive.Write([&](const char*, size_t size) {
    taken += size;
    return false;
  }));
  EXPECT_GT(taken, 0u);
  ScratchDir dir;
  dir.Write("out", "");
  const int read_only = open(dir.File("out").c_str(), O_RDONLY);
  EXPECT_FALSE(hive.WriteToFile(read_only));
  close(read_only);
  // What is written lands at the offset and leaves what lies before it.
  const int fd = open(dir.File("out").c_str(), O_WRONLY);
  ASSERT_EQ(3, write(fd, "abc", 3));
  ASSERT_TRUE(hive.WriteToFile(fd));
  close(fd);
  const std::string written = dir.Read("out");
  EXPECT_EQ("abc", written.substr(0, 3));
  EXPECT_EQ((std::vector<std::string>{"Classes", "Classes\\B", "Microsoft", "Microsoft\\Windows",
                                      "Microsoft\\Windows\\CurrentVersion"}),
            ReadBack(written.substr(3)));
}

// The bytes of two commits of the same hive, but for the commit counts and
// the header checksum that covers them.
void ExpectSameButCounts(std::string expected, std::string written) {
  ASSERT_EQ(expected.size(), written.size());
  for (std::string* bytes : {&expected, &written}) {
    Put32(bytes, 4, 0);
    Put32(bytes, 8, 0);
    Put32(bytes, empty_hive::kChecksumOffset, 0);
  }
  EXPECT_TRUE(expected == written);
}

// A large hive goes to a regular file a few MB at a time past the page
// cache, even with a last piece shorter than a disk block, and through the
// page cache to an output that takes no direct writes (here a pipe).
TEST(RegfHiveWrite, EveryKindOfOutputTakesTheSameBytes) {
  RegfBuilder builder;
  for (int index = 0; index < 12; ++index) {
    builder.SetString("Classes\\Big" + std::to_string(index), "Data",
                      std::string(400000, static_cast<char>('a' + index)));
  }
  builder.Add("Classes\\Gone\\X");
  const std::string whole_blocks = builder.Bytes();
  ASSERT_GT(whole_blocks.size(), size_t{8} << 20);
  for (const std::string& bytes : {whole_blocks, whole_blocks + "tail"}) {
    KeyTree tree;
    RegfHive hive;
    ASSERT_EQ("", Parsed(bytes, &tree, &hive));
    ASSERT_EQ(kRegSuccess, tree.Delete(tree.root(), "Gone\\X"));
    const std::string expected = Written(hive);
    ASSERT_EQ(bytes.size(), expected.size());

    ScratchDir dir;
    dir.Write("out", "");
    const int fd = open(dir.File("out").c_str(), O_WRONLY);
    ASSERT_TRUE(hive.WriteToFile(fd));
    EXPECT_EQ(0, fsync(fd));
    close(fd);
    ExpectSameButCounts(expected, dir.Read("out"));

    bool written = false;
    const std::string piped =
        CapturePipe([&hive](int fd) { return hive.WriteToFile(fd); }, &written);
    EXPECT_TRUE(written);
    ExpectSameButCounts(expected, piped);
  }
}

TEST(RegfHiveWrite, AHiveReadThroughItsFileLoadsAndWritesAsItsBytesDo) {
  const std::string bytes = Software({"Installer\\Patches\\P1\\SourceList", ".txt"});
  ScratchDir dir;
  dir.Write("hive", bytes);
  const int fd = open(dir.File("hive").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  KeyTree from_file, from_bytes;
  RegfHive file_hive, bytes_hive;
  HiveError error;
  ASSERT_TRUE(file_hive.ParseFile(fd, &from_file, &error)) << error.message;
  ASSERT_EQ("", Parsed(bytes, &from_bytes, &bytes_hive));
  EXPECT_EQ(from_bytes.ListPaths(), from_file.ListPaths());
  for (KeyTree* tree : {&from_file, &from_bytes}) {
    ASSERT_EQ(kRegSuccess, tree->Delete(tree->root(), "Installer\\Patches\\P1\\SourceList"));
    ASSERT_EQ(kRegSuccess, tree->Delete(tree->root(), "Installer\\Patches\\P1"));
  }
  EXPECT_EQ(Written(bytes_hive), Written(file_hive));
  close(fd);

  KeyTree unused;
  RegfHive no_file;
  EXPECT_FALSE(no_file.ParseFile(-1, &unused, &error));
}

// The delete checks map the cells of a bin only when a deleted key's cells
// lie in it: keys in the first and in later bins of a hive of many bins.
TEST(RegfHiveWrite, KeysInAnyBinOfALargeHiveAreDeletedFromItsFile) {
  RegfBuilder builder;
  builder.Add("Classes\\Early\\X");
  for (int index = 0; index < 400; ++index) builder.Add("Classes\\Many\\K" + std::to_string(index));
  builder.Add("Classes\\Late\\X");
  const std::string bytes = builder.Bytes();
  size_t bins = 0;
  for (size_t at = 0x1000; at + 4 <= bytes.size(); at += 0x1000) bins += bytes.compare(at, 4, "hbin") == 0;
  ASSERT_GT(bins, 3u);
  ScratchDir dir;
  dir.Write("hive", bytes);
  const int fd = open(dir.File("hive").c_str(), O_RDONLY);
  KeyTree tree;
  RegfHive hive;
  HiveError error;
  ASSERT_TRUE(hive.ParseFile(fd, &tree, &error)) << error.message;
  for (const char* path : {"Early\\X", "Early", "Late\\X", "Late"}) {
    ASSERT_EQ(kRegSuccess, tree.Delete(tree.root(), path)) << path;
  }
  const std::vector<std::string> left = ReadBack(Written(hive));
  close(fd);
  EXPECT_EQ(0, std::count_if(left.begin(), left.end(), [](const std::string& path) {
              return path.find("Early") != std::string::npos || path.find("Late") != std::string::npos;
            }));
  EXPECT_EQ(401, std::count_if(left.begin(), left.end(), [](const std::string& path) {
              return path.rfind("Classes\\Many", 0) == 0;
            }));
}

TEST(RegfHiveWrite, CellsADamagedHiveSharesBetweenDeletedKeysFailTheWriteInsteadOfAborting) {
  RegfBuilder builder;
  builder.SetString("Classes\\P\\A", "v", "one");
  builder.SetString("Classes\\P\\B", "v", "two");
  const hive_node_h a = builder.Add("Classes\\P\\A");
  const hive_node_h b = builder.Add("Classes\\P\\B");
  std::string bytes = builder.Bytes();
  constexpr size_t kValueList = 0x28;
  Put32(&bytes, b + kCell + kValueList, Get32(bytes, a + kCell + kValueList));
  // The cells are checked in the bytes given, or read again from the file.
  ScratchDir dir;
  dir.Write("hive", bytes);
  const int fd = open(dir.File("hive").c_str(), O_RDONLY);
  for (const bool from_file : {false, true}) {
    SCOPED_TRACE(from_file ? "file" : "bytes");
    KeyTree tree;
    RegfHive hive;
    HiveError error;
    ASSERT_TRUE(from_file ? hive.ParseFile(fd, &tree, &error) : hive.Parse(bytes, &tree, &error))
        << error.message;
    ASSERT_EQ(kRegSuccess, tree.Delete(tree.root(), "P\\A"));
    std::string out;
    const auto sink = [&](const char* data, size_t size) {
      out.append(data, size);
      return true;
    };
    ASSERT_TRUE(hive.Write(sink));  // A alone frees the list once
    ASSERT_EQ(kRegSuccess, tree.Delete(tree.root(), "P\\B"));
    EXPECT_FALSE(hive.Write(sink));  // B would free it again
    EXPECT_FALSE(hive.Write(sink));
  }
  close(fd);
}

struct BadHive {
  const char* what;
  std::function<void(std::string*, RegfBuilder*)> damage;  // builder: before Bytes()
  const char* message;  // expected to occur in the error
};

class RegfHiveRefuses : public ::testing::TestWithParam<BadHive> {};

TEST_P(RegfHiveRefuses, WithAReasonAndWithoutChangingIt) {
  const BadHive& bad = GetParam();
  RegfBuilder builder;
  builder.Add("Classes\\Installer\\Patches\\ab\\x");
  builder.Add("Classes\\Installer\\Patches\\ac");
  std::string bytes;
  bad.damage(&bytes, &builder);
  const std::string kept = bytes;
  KeyTree tree;
  RegfHive hive;
  HiveError error;
  EXPECT_FALSE(hive.Parse(bytes, &tree, &error));
  EXPECT_NE(std::string::npos, error.message.find(bad.message)) << error.message;
  EXPECT_EQ(kept, bytes);
}

hive_node_h NodeOf(RegfBuilder* builder, const std::string& path) { return builder->Add(path); }

const BadHive kBadHives[] = {
    {"text", [](std::string* b, RegfBuilder*) { *b = "REGEDIT4\r\n"; }, "no \"regf\" signature"},
    {"cut in the base block",
     [](std::string* b, RegfBuilder* r) { *b = r->Bytes().substr(0, 1000); }, "base block"},
    {"cut in the bins",
     [](std::string* b, RegfBuilder* r) {
       *b = r->Bytes();
       b->resize(b->size() - 4096);
     },
     "cut short"},
    {"dirty",
     [](std::string* b, RegfBuilder* r) {
       *b = r->Bytes();
       Put32(b, 8, Get32(*b, 4) - 1);
       FixChecksum(b);
     },
     "dirty"},
    {"bad checksum",
     [](std::string* b, RegfBuilder* r) {
       *b = r->Bytes();
       (*b)[0x30] ^= 1;
     },
     "bad checksum"},
    {"version 2",
     [](std::string* b, RegfBuilder* r) {
       *b = r->Bytes();
       Put32(b, 0x14, 2);
       FixChecksum(b);
     },
     "version 2"},
    {"damaged key cell",
     [](std::string* b, RegfBuilder* r) {
       const hive_node_h node = NodeOf(r, "Classes\\Installer\\Patches\\ab");
       *b = r->Bytes();
       b->replace(node + kCell, 2, "zz");
     },
     "cannot be read"},
    {"damaged Classes list",
     [](std::string* b, RegfBuilder* r) {
       const hive_node_h node = NodeOf(r, "Classes");
       *b = r->Bytes();
       b->replace(SubkeyListOf(*b, node) + kCell, 2, "zz");
     },
     "Classes key cannot be used"},
    {"a key linked twice",
     [](std::string* b, RegfBuilder* r) {
       const hive_node_h node = NodeOf(r, "Classes\\Installer\\Patches");
       *b = r->Bytes();
       const size_t entries = SubkeyListOf(*b, node) + kCell + 4;
       b->replace(entries + 8, 8, b->substr(entries, 8));
     },
     "more than one place"},
    {"two keys of one name",
     [](std::string* b, RegfBuilder* r) {
       const hive_node_h node = NodeOf(r, "Classes\\Installer\\Patches\\ac");
       *b = r->Bytes();
       b->replace(node + kCell + kKeyName, 2, "AB");
     },
     "two keys named"},
    {"nested 513 levels",
     [](std::string* b, RegfBuilder* r) {
       std::string path = "Classes";
       for (int level = 0; level < 513; ++level) path += "\\k";
       r->Add(path);
       *b = r->Bytes();
     },
     "deeper than 512"},
};

INSTANTIATE_TEST_SUITE_P(BadHives, RegfHiveRefuses, ::testing::ValuesIn(kBadHives),
                         [](const auto& info) {
                           std::string name;
                           for (const char* c = info.param.what; *c; ++c) {
                             if (isalnum(static_cast<unsigned char>(*c))) name += *c;
                           }
                           return name;
                         });

TEST(RegfHiveLoad, TakesAKey512LevelsDown) {
  RegfBuilder builder;
  std::string path = "Classes";
  for (int level = 0; level < 512; ++level) path += "\\k";
  builder.Add(path);
  KeyTree tree;
  RegfHive hive;
  EXPECT_EQ("", Parsed(builder.Bytes(), &tree, &hive));
  EXPECT_EQ(512u, tree.key_count());
}

TEST(RegfHiveLoad, AnEmptyHiveIsAnEmptyRegistry) {
  KeyTree tree;
  RegfHive hive;
  ASSERT_EQ("", Parsed(MakeEmptyHive(), &tree, &hive));
  EXPECT_EQ(0u, tree.key_count());
  EXPECT_FALSE(hive.classes_below_root());
}

}  // namespace
