// The behaviour every Registry must share, as typed tests. An
// implementation's test file instantiates them with a harness type:
//
//   struct Harness {
//     // Creates `path` (below the root) and the keys above it. Called
//     // before registry() is first used.
//     void AddKey(const std::string& path);
//     Registry& registry();
//     // Makes the registry show what a later run would see (for a file:
//     // commit, then read the file again).
//     void Reload();
//   };
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(Memory, RegistryContract, MemoryHarness);
//
// Every key lives under kContractBase, so a harness on a real registry only
// touches that key.
#ifndef BRINDLEX_REGISTRY_REGISTRY_CONTRACT_TEST_H_
#define BRINDLEX_REGISTRY_REGISTRY_CONTRACT_TEST_H_

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "registry/registry.h"

constexpr char kContractBase[] = "BrindlexContract";

template <typename Harness>
class RegistryContract : public ::testing::Test {
 protected:
  static std::string Path(const std::string& below_base) {
    return std::string(kContractBase) + "\\" + below_base;
  }

  void Add(const std::string& below_base) { harness_.AddKey(Path(below_base)); }

  Registry& registry() { return harness_.registry(); }

  // Opens `path` below the root, failing the test unless that gives 0.
  RegKey Open(const std::string& path) {
    RegKey key = nullptr;
    EXPECT_EQ(kRegSuccess, registry().OpenKey(ClassesRootKey(), path.c_str(), &key)) << path;
    return key;
  }

  RegKey OpenBase() { return Open(kContractBase); }

  RegStatus OpenStatus(RegKey parent, const std::string& path) {
    RegKey key = nullptr;
    RegStatus status = registry().OpenKey(parent, path.c_str(), &key);
    if (status == kRegSuccess && key != ClassesRootKey()) (void)registry().CloseKey(key);
    return status;
  }

  bool Exists(const std::string& below_base) {
    return OpenStatus(ClassesRootKey(), Path(below_base)) == kRegSuccess;
  }

  // The names of the subkeys of `key`, by index from 0.
  std::vector<std::string> SubkeyNames(RegKey key) {
    std::vector<std::string> names;
    for (uint32_t index = 0;; ++index) {
      char name[260];
      uint32_t capacity = sizeof name;
      RegStatus status = registry().EnumKey(key, index, name, &capacity);
      if (status != kRegSuccess) {
        EXPECT_EQ(kRegNoMoreItems, status);
        return names;
      }
      EXPECT_EQ(std::strlen(name), capacity);
      names.push_back(name);
    }
  }

  Harness harness_;
};

TYPED_TEST_SUITE_P(RegistryContract);

TYPED_TEST_P(RegistryContract, OpenMatchesNamesWithoutRegardToCase) {
  this->Add("Mixed\\Kid\xC9");  // E acute, capital
  RegKey key = this->Open(std::string(kContractBase) + "\\mIXED\\KID\xE9");
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(key));
}

TYPED_TEST_P(RegistryContract, OpenIgnoresTrailingAndDoubledBackslashes) {
  this->Add("A\\B");
  const std::string base = kContractBase;
  EXPECT_EQ(kRegSuccess, this->OpenStatus(ClassesRootKey(), base + "\\A\\B\\"));
  EXPECT_EQ(kRegSuccess, this->OpenStatus(ClassesRootKey(), base + "\\\\A\\\\\\B\\\\"));
  RegKey base_key = this->OpenBase();
  EXPECT_EQ(kRegSuccess, this->OpenStatus(base_key, "A\\\\B\\"));
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(base_key));
}

TYPED_TEST_P(RegistryContract, LeadingBackslashIsAcceptedOnceFromTheRootOnly) {
  this->Add("A");
  const std::string base = kContractBase;
  EXPECT_EQ(kRegSuccess, this->OpenStatus(ClassesRootKey(), "\\" + base + "\\A"));
  EXPECT_EQ(kRegBadPathname, this->OpenStatus(ClassesRootKey(), "\\\\" + base));
  RegKey base_key = this->OpenBase();
  EXPECT_EQ(kRegBadPathname, this->OpenStatus(base_key, "\\A"));
  EXPECT_EQ(kRegBadPathname, this->OpenStatus(base_key, "\\"));
  EXPECT_EQ(kRegBadPathname, this->registry().DeleteKey(base_key, "\\A"));
  EXPECT_EQ(kRegBadPathname,
            this->registry().DeleteKey(ClassesRootKey(), ("\\" + base + "\\A").c_str()));
  EXPECT_TRUE(this->Exists("A"));
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(base_key));
}

TYPED_TEST_P(RegistryContract, EmptyPathOpensTheKeyItself) {
  this->Add("A\\Kid");
  RegKey root = nullptr;
  EXPECT_EQ(kRegSuccess, this->registry().OpenKey(ClassesRootKey(), "", &root));
  EXPECT_EQ(ClassesRootKey(), root);
  RegKey top = nullptr;  // "\\" gives a handle of its own to the root
  ASSERT_EQ(kRegSuccess, this->registry().OpenKey(ClassesRootKey(), "\\", &top));
  EXPECT_EQ(kRegSuccess, this->OpenStatus(top, std::string(kContractBase) + "\\A"));
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(top));
  RegKey a = this->Open(std::string(kContractBase) + "\\A");
  RegKey again = nullptr;
  ASSERT_EQ(kRegSuccess, this->registry().OpenKey(a, "", &again));
  EXPECT_NE(a, again);
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(a));
  EXPECT_EQ(std::vector<std::string>{"Kid"}, this->SubkeyNames(again));
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(again));
}

TYPED_TEST_P(RegistryContract, DotsSpacesSlashesAndWildcardsAreOrdinaryNames) {
  this->Add("P1\\sub");
  this->Add(" ");
  this->Add("P1 ");
  RegKey base = this->OpenBase();
  for (const char* missing : {".", "..", "P1\\..", "..\\P1", " P1", "P1/sub", "P?", "*"}) {
    EXPECT_EQ(kRegFileNotFound, this->OpenStatus(base, missing)) << missing;
  }
  EXPECT_EQ(kRegSuccess, this->registry().DeleteKey(base, " "));
  EXPECT_TRUE(this->Exists("P1 "));
  EXPECT_TRUE(this->Exists("P1"));
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(base));
}

TYPED_TEST_P(RegistryContract, NameAndPathLengthLimits) {
  const std::string name256(256, 'n');
  this->Add(name256);
  RegKey base = this->OpenBase();
  EXPECT_EQ(kRegSuccess, this->OpenStatus(base, name256));
  EXPECT_EQ(kRegInvalidParameter, this->OpenStatus(base, std::string(257, 'n')));
  EXPECT_EQ(kRegInvalidParameter, this->OpenStatus(base, std::string(257, 'n') + "\\x"));
  // The walk stops at the first missing key before it meets the long name.
  EXPECT_EQ(kRegFileNotFound, this->OpenStatus(base, "m\\" + std::string(257, 'n')));
  EXPECT_EQ(kRegMoreData, this->OpenStatus(base, std::string(261, 'n')));
  // Components are short but the whole path string is 261 bytes.
  EXPECT_EQ(kRegMoreData, this->OpenStatus(base, name256 + std::string(5, '\\')));
  EXPECT_EQ(kRegSuccess, this->OpenStatus(base, name256 + std::string(4, '\\')));
  EXPECT_EQ(kRegMoreData,
            this->registry().DeleteKey(base, (name256 + std::string(5, '\\')).c_str()));
  EXPECT_EQ(kRegInvalidParameter, this->registry().DeleteKey(base, std::string(257, 'n').c_str()));

  char name[260];
  uint32_t capacity = sizeof name;
  EXPECT_EQ(kRegSuccess, this->registry().EnumKey(base, 0, name, &capacity));
  EXPECT_EQ(256u, capacity);
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(base));
}

TYPED_TEST_P(RegistryContract, SubkeysAreListedByCaseFoldedCodeUnits) {
  // Created in this order; the listing is sorted by each character's UTF-16
  // code unit folded to lower case, whatever the creation order.
  for (const char* name :
       {"b",    "A",    "a1", "_x",  "Z",  "10",  "9",    "\xE9", "[",    "~",   "`",
        "^",    "{",    "e",  "f",   "-",  "zz",  "Zy",   " sp",  "!",    "a_",  "aZ",
        "\xDF", "\xFF", "1",  "100", "09", "a.b", "\x8A", "\x80", "\xD7", "\x9F"}) {
    this->Add(std::string("Order\\") + name);
  }
  RegKey key = this->Open(std::string(kContractBase) + "\\Order");
  const std::vector<std::string> expected = {
      " sp", "!", "-",   "09",   "1",    "10",   "100",  "9",    "[",   "^", "_x",
      "`",   "A", "a.b", "a1",   "a_",   "aZ",   "b",    "e",    "f",   "Z", "Zy",
      "zz",  "{", "~",   "\xD7", "\xDF", "\xE9", "\xFF", "\x8A", "\x80"};
  EXPECT_EQ(expected, this->SubkeyNames(key));
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(key));
}

TYPED_TEST_P(RegistryContract, TheCaseOfTheFirstCreationIsKept) {
  this->Add("Case\\Mixed");
  this->Add("Case\\MIXED\\Kid");
  this->Add("Case\\\xC9t\xE9");
  this->Add("Case\\\xE9T\xC9");
  RegKey key = this->Open(std::string(kContractBase) + "\\Case");
  EXPECT_EQ((std::vector<std::string>{"Mixed", "\xC9t\xE9"}), this->SubkeyNames(key));
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(key));
}

TYPED_TEST_P(RegistryContract, EnumerationLeavesBuffersAloneOnFailure) {
  this->Add("E\\bbbb");
  this->Add("E\\a");
  RegKey key = this->Open(std::string(kContractBase) + "\\E");
  char name[16] = "UNTOUCHED";
  uint32_t capacity = 4;
  EXPECT_EQ(kRegMoreData, this->registry().EnumKey(key, 1, name, &capacity));
  EXPECT_STREQ("UNTOUCHED", name);
  EXPECT_EQ(4u, capacity);
  capacity = 5;
  EXPECT_EQ(kRegSuccess, this->registry().EnumKey(key, 1, name, &capacity));
  EXPECT_STREQ("bbbb", name);
  EXPECT_EQ(4u, capacity);
  std::strcpy(name, "UNTOUCHED");
  capacity = 16;
  EXPECT_EQ(kRegNoMoreItems, this->registry().EnumKey(key, 2, name, &capacity));
  EXPECT_STREQ("UNTOUCHED", name);
  EXPECT_EQ(16u, capacity);
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(key));
}

TYPED_TEST_P(RegistryContract, DeleteRefusesKeysWithSubkeysAndMissingKeys) {
  this->Add("D\\Kid");
  RegKey base = this->OpenBase();
  EXPECT_EQ(kRegAccessDenied, this->registry().DeleteKey(base, "D"));
  EXPECT_TRUE(this->Exists("D\\Kid"));
  EXPECT_EQ(kRegFileNotFound, this->registry().DeleteKey(base, "Nope"));
  EXPECT_EQ(kRegFileNotFound, this->registry().DeleteKey(base, "Nope\\Kid"));
  EXPECT_EQ(kRegInvalidParameter, this->registry().DeleteKey(base, nullptr));
  EXPECT_EQ(kRegAccessDenied, this->registry().DeleteKey(ClassesRootKey(), ""));
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(base));
}

TYPED_TEST_P(RegistryContract, DeleteTakesPathsOfSeveralLevelsInAnyCase) {
  this->Add("A2\\B2");
  this->Add("Tb");
  this->Add("Tb2\\Kid");
  RegKey base = this->OpenBase();
  EXPECT_EQ(kRegSuccess, this->registry().DeleteKey(base, "a2\\b2"));
  EXPECT_FALSE(this->Exists("A2\\B2"));
  EXPECT_TRUE(this->Exists("A2"));
  EXPECT_EQ(kRegSuccess, this->registry().DeleteKey(base, "Tb\\"));
  EXPECT_EQ(kRegSuccess, this->registry().DeleteKey(base, "Tb2\\\\Kid"));
  EXPECT_FALSE(this->Exists("Tb"));
  EXPECT_FALSE(this->Exists("Tb2\\Kid"));
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(base));
}

TYPED_TEST_P(RegistryContract, HandleOfADeletedKeyReportsKeyDeleted) {
  this->Add("Gone");
  RegKey gone = this->Open(std::string(kContractBase) + "\\Gone");
  RegKey base = this->OpenBase();
  ASSERT_EQ(kRegSuccess, this->registry().DeleteKey(base, "Gone"));
  char name[16] = "UNTOUCHED";
  uint32_t capacity = sizeof name;
  EXPECT_EQ(kRegKeyDeleted, this->registry().EnumKey(gone, 0, name, &capacity));
  EXPECT_EQ(kRegKeyDeleted, this->OpenStatus(gone, "x"));
  EXPECT_EQ(kRegKeyDeleted, this->OpenStatus(gone, ""));
  EXPECT_EQ(kRegKeyDeleted, this->registry().DeleteKey(gone, "x"));
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(gone));
  EXPECT_EQ(kRegInvalidHandle, this->registry().CloseKey(gone));
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(base));
}

TYPED_TEST_P(RegistryContract, DeleteThroughTheKeysOwnHandle) {
  this->Add("Self\\Kid");
  RegKey self = this->Open(std::string(kContractBase) + "\\Self");
  EXPECT_EQ(kRegAccessDenied, this->registry().DeleteKey(self, ""));
  EXPECT_EQ(kRegSuccess, this->registry().DeleteKey(self, "Kid"));
  EXPECT_EQ(kRegSuccess, this->registry().DeleteKey(self, ""));
  EXPECT_FALSE(this->Exists("Self"));
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(self));
}

TYPED_TEST_P(RegistryContract, ClosedHandlesAreInvalid) {
  this->Add("A");
  RegKey base = this->OpenBase();
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(base));
  char name[16];
  uint32_t capacity = sizeof name;
  EXPECT_EQ(kRegInvalidHandle, this->registry().EnumKey(base, 0, name, &capacity));
  EXPECT_EQ(kRegInvalidHandle, this->OpenStatus(base, "A"));
  EXPECT_EQ(kRegInvalidHandle, this->registry().DeleteKey(base, "A"));
  EXPECT_EQ(kRegInvalidHandle, this->registry().CloseKey(base));
  EXPECT_EQ(kRegInvalidHandle, this->registry().CloseKey(nullptr));
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(ClassesRootKey()));
  EXPECT_TRUE(this->Exists("A"));
}

TYPED_TEST_P(RegistryContract, DeletesLastForTheNextRun) {
  this->Add("Keep\\Kid");
  this->Add("Drop\\Kid");
  RegKey base = this->OpenBase();
  EXPECT_EQ(kRegSuccess, this->registry().DeleteKey(base, "Drop\\Kid"));
  EXPECT_EQ(kRegSuccess, this->registry().DeleteKey(base, "Drop"));
  EXPECT_EQ(kRegSuccess, this->registry().CloseKey(base));
  this->harness_.Reload();
  EXPECT_FALSE(this->Exists("Drop"));
  EXPECT_TRUE(this->Exists("Keep\\Kid"));
}

REGISTER_TYPED_TEST_SUITE_P(
    RegistryContract, OpenMatchesNamesWithoutRegardToCase, OpenIgnoresTrailingAndDoubledBackslashes,
    LeadingBackslashIsAcceptedOnceFromTheRootOnly, EmptyPathOpensTheKeyItself,
    DotsSpacesSlashesAndWildcardsAreOrdinaryNames, NameAndPathLengthLimits,
    SubkeysAreListedByCaseFoldedCodeUnits, TheCaseOfTheFirstCreationIsKept,
    EnumerationLeavesBuffersAloneOnFailure, DeleteRefusesKeysWithSubkeysAndMissingKeys,
    DeleteTakesPathsOfSeveralLevelsInAnyCase, HandleOfADeletedKeyReportsKeyDeleted,
    DeleteThroughTheKeysOwnHandle, ClosedHandlesAreInvalid, DeletesLastForTheNextRun);

#endif  // BRINDLEX_REGISTRY_REGISTRY_CONTRACT_TEST_H_
