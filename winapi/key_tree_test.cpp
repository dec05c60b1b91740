#include "winapi/key_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Names(const KeyTree& tree, const KeyNode* parent) {
  std::vector<std::string> names;
  for (uint32_t index = 0; const KeyNode* child = tree.ChildAt(parent, index); ++index) {
    names.emplace_back(child->name());
  }
  return names;
}

std::string Hex(const std::vector<std::string>& names) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const std::string& name : names) {
    for (unsigned char byte : name) {
      text += kDigits[byte >> 4];
      text += kDigits[byte & 15];
    }
    text += ' ';
  }
  return text;
}

TEST(KeyNameOrder, MatchesThePlatformForEverySingleByteName) {
  // Every byte from 0x20 but the backslash created as a key, in byte order,
  // then listed: the order and the merged letters measured on the platform.
  KeyTree tree;
  for (int byte = 0x20; byte <= 0xFF; ++byte) {
    if (byte != '\\') tree.AddChild(tree.root(), std::string(1, static_cast<char>(byte)));
  }
  EXPECT_EQ(
      "20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F 30 31 32 33 34 35 36 37 38 39 3A 3B 3C "
      "3D 3E 3F 40 5B 5D 5E 5F 60 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 53 54 "
      "55 56 57 58 59 5A 7B 7C 7D 7E 7F 81 8D 8F 90 9D A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC "
      "AD AE AF B0 B1 B2 B3 B4 B5 B6 B7 B8 B9 BA BB BC BD BE BF D7 DF C0 C1 C2 C3 C4 C5 C6 C7 "
      "C8 C9 CA CB CC CD CE CF D0 D1 D2 D3 D4 D5 D6 F7 D8 D9 DA DB DC DD DE 9F 8C 8A 8E 83 88 "
      "98 96 97 91 92 82 93 94 84 86 87 95 85 89 8B 9B 80 99 ",
      Hex(Names(tree, tree.root())));
}

TEST(KeyNameOrder, PrefixFirstAndNoNumericOrLocaleRules) {
  EXPECT_LT(CompareKeyNames("1", "10"), 0);
  EXPECT_LT(CompareKeyNames("10", "9"), 0);
  EXPECT_LT(CompareKeyNames("a_", "aZ"), 0);
  EXPECT_EQ(0, CompareKeyNames("Product", "pRODUCT"));
  EXPECT_EQ(0, CompareKeyNames("\xC9T\xC9", "\xE9t\xE9"));
  EXPECT_NE(0, CompareKeyNames("P1", "P1 "));
}

TEST(KeyTreeBuild, AddChildRefusesNamesThePlatformCannotHold) {
  KeyTree tree;
  EXPECT_EQ(nullptr, tree.AddChild(tree.root(), ""));
  EXPECT_EQ(nullptr, tree.AddChild(tree.root(), "a\\b"));
  EXPECT_EQ(nullptr, tree.AddChild(tree.root(), std::string("a\0b", 3)));
  EXPECT_EQ(nullptr, tree.AddChild(tree.root(), std::string(257, 'x')));
  EXPECT_NE(nullptr, tree.AddChild(tree.root(), std::string(256, 'x')));
  EXPECT_EQ(1u, tree.key_count());
}

TEST(KeyTreeBuild, AddPathSkipsEmptyNamesAndReusesKeysOfAnyCase) {
  KeyTree tree;
  KeyNode* leaf = tree.AddPath("\\A\\\\B\\C\\");
  ASSERT_NE(nullptr, leaf);
  EXPECT_EQ("A\\B\\C", tree.PathOf(leaf));
  EXPECT_EQ(tree.root(), tree.AddPath("\\\\"));
  EXPECT_EQ(leaf, tree.AddPath("a\\b\\c"));
  EXPECT_EQ(3u, tree.key_count());
}

// Names are hashed a word of 8 bytes at a time, ASCII words apart from the
// others: every pair of bytes that fold alike must find each other in any
// place of a word and in a name's last, partial word, next to ASCII and to
// other bytes.
TEST(KeyTreeBuild, BytesThatFoldAlikeFindEachOtherAnywhereInAName) {
  int pairs = 0;
  for (int first = 1; first < 256; ++first) {
    for (int second = first + 1; second < 256; ++second) {
      const std::string a(1, static_cast<char>(first)), b(1, static_cast<char>(second));
      if (first == '\\' || CompareKeyNames(a, b) != 0) continue;
      ++pairs;
      for (const char* filler : {"x", "\xE9"}) {
        for (size_t place : {0, 5, 7, 8, 12}) {
          KeyTree tree;
          std::string name(13, filler[0]);
          std::string other = name;
          name[place] = a[0];
          other[place] = b[0];
          KeyNode* added = tree.AddChild(tree.root(), name);
          EXPECT_EQ(added, tree.FindChild(tree.root(), other)) << first << " " << second << " at " << place;
        }
      }
    }
  }
  EXPECT_EQ(26 + 30 + 4, pairs);  // A-Z, the Latin-1 capitals, S/Z/OE with caron or ligature, Y
}

TEST(KeyTreeBuild, NoKeyIsAddedBelowADeletedKey) {
  KeyTree tree;
  KeyNode* gone = tree.AddPath("Gone");
  ASSERT_EQ(kRegSuccess, tree.Delete(tree.root(), "Gone"));
  EXPECT_TRUE(gone->deleted());
  EXPECT_EQ(tree.root(), gone->parent());
  EXPECT_EQ(nullptr, tree.AddChild(gone, "Kid"));
  EXPECT_NE(gone, tree.AddPath("Gone"));  // a new key of the same name
}

TEST(KeyTreeListing, ParentsBeforeSubkeysSiblingsInPlatformOrder) {
  KeyTree tree;
  for (const char* path : {"b\\z", "B\\a", "a", "_\\x\\y"}) tree.AddPath(path);
  EXPECT_EQ((std::vector<std::string>{"_", "_\\x", "_\\x\\y", "a", "b", "b\\a", "b\\z"}),
            tree.ListPaths());
}

TEST(KeyTreeListing, IndexWalkStaysRightAcrossDeletes) {
  KeyTree tree;
  for (const char* name : {"d", "a", "c", "b", "e"}) tree.AddPath(name);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d", "e"}), Names(tree, tree.root()));
  EXPECT_EQ("c", tree.ChildAt(tree.root(), 2)->name());
  ASSERT_EQ(kRegSuccess, tree.Delete(tree.root(), "b"));
  EXPECT_EQ("d", tree.ChildAt(tree.root(), 2)->name());
  EXPECT_EQ("a", tree.ChildAt(tree.root(), 0)->name());
  EXPECT_EQ(nullptr, tree.ChildAt(tree.root(), 4));
  EXPECT_EQ(4u, tree.key_count());
  EXPECT_EQ(1u, tree.delete_count());
}

TEST(KeyTreeAddedOrder, ListsSubkeysAsAddedAndStillMatchesWithoutRegardToCase) {
  KeyTree tree;
  ASSERT_TRUE(tree.UseAddedOrder());
  for (const char* name : {"Zeta", "_under", "apple", "[x]", "B"}) tree.AddPath(name);
  EXPECT_EQ(tree.AddChild(tree.root(), "APPLE"), tree.FindChild(tree.root(), "apple"));
  EXPECT_EQ((std::vector<std::string>{"Zeta", "_under", "apple", "[x]", "B"}),
            Names(tree, tree.root()));
  ASSERT_EQ(kRegSuccess, tree.Delete(tree.root(), "APPLE"));
  EXPECT_EQ("[x]", tree.ChildAt(tree.root(), 2)->name());
  EXPECT_EQ((std::vector<std::string>{"Zeta", "_under", "[x]", "B"}), tree.ListPaths());
  EXPECT_FALSE(tree.UseAddedOrder());  // too late: the tree holds keys
  KeyTree sorted;
  sorted.AddPath("a");
  EXPECT_FALSE(sorted.UseAddedOrder());
  EXPECT_FALSE(sorted.uses_added_order());
}

TEST(KeyTreeAddedOrder, UnmatchableKeysAreListedButNeverFoundAndKeepTheirParent) {
  KeyTree tree;
  EXPECT_EQ(nullptr, tree.AddUnmatchableChild(tree.root(), "?"));  // sorted trees hold none
  ASSERT_TRUE(tree.UseAddedOrder());
  KeyNode* parent = tree.AddPath("P");
  KeyNode* shown_as_a = tree.AddChild(parent, "a");
  ASSERT_NE(nullptr, tree.AddUnmatchableChild(parent, "a"));  // a best-fit twin
  ASSERT_NE(nullptr, tree.AddUnmatchableChild(parent, "?"));
  EXPECT_EQ(nullptr, tree.AddUnmatchableChild(parent, ""));
  EXPECT_EQ((std::vector<std::string>{"a", "a", "?"}), Names(tree, parent));
  EXPECT_EQ(3u, parent->child_count());
  EXPECT_EQ(shown_as_a, tree.FindChild(parent, "A"));
  KeyNode* found = nullptr;
  EXPECT_EQ(kRegFileNotFound, tree.Open(parent, "?", &found));
  ASSERT_EQ(kRegSuccess, tree.Delete(parent, "a"));
  EXPECT_EQ(kRegFileNotFound, tree.Delete(parent, "a"));
  EXPECT_EQ(kRegAccessDenied, tree.Delete(tree.root(), "P"));
  EXPECT_FALSE(tree.ChildAt(parent, 0)->matchable());
}

TEST(KeyTreeScale, ManySiblingsAreAddedFoundAndDeletedFromTheFront) {
  KeyTree tree;
  KeyNode* parent = tree.AddPath("Installer\\Patches");
  constexpr int kCount = 200000;
  for (int index = kCount; index > 0; --index) {
    ASSERT_NE(nullptr, tree.AddChild(parent, "Patch" + std::to_string(index)));
  }
  EXPECT_NE(nullptr, tree.FindChild(parent, "PATCH4711"));
  char name[260];
  for (int deleted = 0; deleted < kCount; ++deleted) {
    uint32_t capacity = sizeof name;
    ASSERT_EQ(kRegSuccess, tree.EnumName(parent, 0, name, &capacity));
    ASSERT_EQ(kRegSuccess, tree.Delete(parent, name));
  }
  EXPECT_EQ(0u, parent->child_count());
}

// A hive's stored order survives the listing that orders a key's subkeys
// midway through the load, and unmatchable keys keep their place in it.
TEST(KeyTreeScale, AddedOrderHoldsForManySiblingsListedWhileTheyAreAdded) {
  KeyTree tree;
  ASSERT_TRUE(tree.UseAddedOrder());
  KeyNode* parent = tree.AddPath("Installer\\Patches");
  constexpr int kCount = 100000;
  std::vector<std::string> expected;
  for (int index = 0; index < kCount; ++index) {
    // Names descending, so that the name order would list them backwards.
    std::string name = "Patch" + std::to_string(kCount - index);
    ASSERT_NE(nullptr, index % 1000 == 7 ? tree.AddUnmatchableChild(parent, name)
                                         : tree.AddChild(parent, name));
    expected.push_back(name);
    if (index == kCount / 2) {
      ASSERT_EQ(expected.front(), tree.ChildAt(parent, 0)->name());
    }
  }
  EXPECT_EQ(expected, Names(tree, parent));
  char name[260];
  for (const std::string& next : expected) {
    uint32_t capacity = sizeof name;
    ASSERT_EQ(kRegSuccess, tree.EnumName(parent, 0, name, &capacity));
    ASSERT_EQ(next, name);
    if (!tree.ChildAt(parent, 0)->matchable()) break;
    ASSERT_EQ(kRegSuccess, tree.Delete(parent, name));
  }
  EXPECT_EQ(kCount - 7u, parent->child_count());
  EXPECT_EQ(kRegFileNotFound, tree.Delete(parent, expected[7].c_str()));
}

// Keys added in random order under a few parents, deleted and added again
// in turns, against a plain model: every key stays findable by any case of
// its name, a deleted one is gone, and each parent lists its subkeys in
// order, whether or not it was listed before.
TEST(KeyTreeScale, RandomAddsAndDeletesKeepEveryKeyFindableAndInOrder) {
  KeyTree tree;
  std::vector<KeyNode*> parents = {tree.AddPath("A"), tree.AddPath("B"), tree.AddPath("D\\C")};
  std::vector<std::vector<std::string>> model(parents.size());
  std::mt19937 random(5);
  const auto name_of = [](unsigned n) { return "Key" + std::to_string(n % 7919) + "x"; };
  for (int round = 0; round < 4; ++round) {
    for (int i = 0; i < 6000; ++i) {
      const size_t p = random() % parents.size();
      const std::string name = name_of(static_cast<unsigned>(random()));
      ASSERT_NE(nullptr, tree.AddChild(parents[p], name));
      if (std::find(model[p].begin(), model[p].end(), name) == model[p].end()) {
        model[p].push_back(name);
      }
    }
    for (size_t p = 0; p < parents.size(); ++p) {
      std::shuffle(model[p].begin(), model[p].end(), random);
      const size_t keep = model[p].size() / 2;
      for (size_t i = keep; i < model[p].size(); ++i) {
        ASSERT_EQ(kRegSuccess, tree.Delete(parents[p], model[p][i].c_str()));
        EXPECT_EQ(nullptr, tree.FindChild(parents[p], model[p][i]));
      }
      model[p].resize(keep);
      for (const std::string& name : model[p]) {
        std::string upper = name;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        ASSERT_NE(nullptr, tree.FindChild(parents[p], upper)) << name;
      }
      std::vector<std::string> expected = model[p];
      std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
        return CompareKeyNames(a, b) < 0;
      });
      if (round % 2 == 0) {
        EXPECT_EQ(expected, Names(tree, parents[p]));
      }
    }
  }
  EXPECT_EQ(4 + model[0].size() + model[1].size() + model[2].size(), tree.key_count());
}

}  // namespace
