// The behaviour every SetupFiles must share, as typed tests. An
// implementation's test file instantiates them with an adapter type:
//
//   struct Adapter {
//     // What separates the parts of a path, and whether two names that
//     // differ only in case name different files.
//     static constexpr char kSeparator = '/';
//     static constexpr bool kCaseSensitiveNames = true;
//     // The full path of the current directory, an empty scratch directory,
//     // without a trailing separator.
//     std::string CurrentDirectory();
//     // Create a file or directory; `name` is relative to the current
//     // directory and its parts are separated by kSeparator. Called before
//     // files() is first used.
//     void AddFile(const std::string& name, const std::string& contents);
//     void AddDirectory(const std::string& name);
//     SetupFiles& files();
//   };
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(Fake, SetupFilesContract, FakeAdapter);
//
// Profile files are always named by their full path: how a bare relative
// profile name is found differs between platforms.
#ifndef BRINDLEX_INF_SETUP_FILES_CONTRACT_TEST_H_
#define BRINDLEX_INF_SETUP_FILES_CONTRACT_TEST_H_

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "inf/setup_files.h"
#include "inf/system_setup_files.h"
#include "tests/support/scratch_dir.h"

constexpr char kContractProfile[] =
    "[UpGrade]\r\nproductKEY=PROD\r\nLong=ABCDEFGHIJ\r\nQuoted=\"Q\"\r\n";

// Every test starts from a current directory holding the profile
// "setup.inf", the directory "adir" and in it the empty file "inner.inf".
// The adapter of the system's own SetupFiles (MakeSystemSetupFiles), in a
// scratch current directory, for a platform whose names are separated by
// `Separator` and compared with or without regard to case.
template <char Separator, bool CaseSensitiveNames>
struct SystemSetupFilesAdapter {
  static constexpr char kSeparator = Separator;
  static constexpr bool kCaseSensitiveNames = CaseSensitiveNames;

  std::string CurrentDirectory() { return std::filesystem::current_path().string(); }
  void AddFile(const std::string& name, const std::string& contents) {
    cwd.dir.Write(name, contents);
  }
  void AddDirectory(const std::string& name) {
    ASSERT_TRUE(std::filesystem::create_directory(cwd.dir.path() / name)) << name;
  }
  SetupFiles& files() { return *system; }

  ScratchCurrentDirectory cwd;
  std::unique_ptr<SetupFiles> system = MakeSystemSetupFiles();
};

template <typename Adapter>
class SetupFilesContract : public ::testing::Test {
 protected:
  SetupFilesContract() {
    adapter_.AddFile("setup.inf", kContractProfile);
    adapter_.AddDirectory("adir");
    adapter_.AddFile(In("adir", "inner.inf"), "");
    cwd_ = adapter_.CurrentDirectory();
  }

  SetupFiles& files() { return adapter_.files(); }

  // The parts joined with the platform's separator.
  template <typename... Parts>
  static std::string In(const std::string& first, const Parts&... rest) {
    std::string joined = first;
    ((joined += Adapter::kSeparator, joined += rest), ...);
    return joined;
  }

  // `name` (relative) as a full path below the current directory.
  std::string Full(const std::string& name) const { return In(cwd_, name); }

  int Access(const std::string& name) { return files().Access(name.c_str()); }

  // The full path of `name`, "<0>" when the call fails, or "<needs N>" when
  // the buffer is too small; the buffer must be left alone unless the call
  // succeeds.
  std::string FullPath(const std::string& name, uint32_t capacity = 260) {
    char buffer[1024] = "UNTOUCHED";
    const uint32_t result = files().GetFullPathName(name.c_str(), capacity, buffer);
    if (result == 0 || result >= capacity) {
      EXPECT_STREQ("UNTOUCHED", buffer) << name;
      return result == 0 ? "<0>" : "<needs " + std::to_string(result) + ">";
    }
    EXPECT_EQ(std::strlen(buffer), result) << name;
    return buffer;
  }

  // What a profile lookup writes; its result must be the length written.
  std::string Profile(const std::string& path, const char* section, const char* key,
                      const char* fallback = "\"DEF\"  ", uint32_t size = 255) {
    char buffer[300];
    std::memset(buffer, 'x', sizeof buffer);
    const uint32_t length =
        files().GetPrivateProfileString(section, key, fallback, buffer, size, path.c_str());
    EXPECT_LT(length, size) << path << " " << section << "." << key;
    EXPECT_EQ(std::strlen(buffer), length) << path << " " << section << "." << key;
    return buffer;
  }

  std::string Product(const std::string& path) { return Profile(path, "Upgrade", "ProductKey"); }

  // A relative name of exactly `length` bytes for the file `name` in the
  // current directory, padded with "." parts and repeated separators.
  static std::string NameOfLength(size_t length, const std::string& name) {
    std::string padded;
    while (padded.size() + 3 + name.size() <= length) padded += In(".", "");
    while (padded.size() + name.size() < length) padded += Adapter::kSeparator;
    return padded + name;
  }

  Adapter adapter_;
  std::string cwd_;
};

TYPED_TEST_SUITE_P(SetupFilesContract);

TYPED_TEST_P(SetupFilesContract, AccessFindsFilesAndDirectories) {
  this->adapter_.AddFile("empty.inf", "");
  for (const std::string& name :
       {std::string("setup.inf"), std::string("empty.inf"), std::string("adir"),
        this->In("adir", ""), this->In("adir", "inner.inf"), std::string("."),
        this->Full("setup.inf"), this->Full("adir")}) {
    EXPECT_EQ(0, this->Access(name)) << name;
  }
  for (const std::string& name : {std::string("missing.inf"), this->In("adir", "missing.inf"),
                                  this->In("missing", "inner.inf"), this->In("setup.inf", ""),
                                  this->Full("missing.inf"), std::string()}) {
    EXPECT_EQ(-1, this->Access(name)) << name;
  }
}

TYPED_TEST_P(SetupFilesContract, FileNamesFollowThePlatformsCaseRule) {
  const int found = TypeParam::kCaseSensitiveNames ? -1 : 0;
  EXPECT_EQ(found, this->Access("SETUP.INF"));
  EXPECT_EQ(found, this->Access(this->In("ADIR", "Inner.inf")));
  EXPECT_EQ(TypeParam::kCaseSensitiveNames ? "DEF" : "PROD",
            this->Product(this->Full("SETUP.INF")));
  // The full path keeps the case it was given.
  EXPECT_EQ(this->Full("SETUP.INF"), this->FullPath("SETUP.INF"));
}

TYPED_TEST_P(SetupFilesContract, FullPathIsTakenFromTheCurrentDirectory) {
  const std::string full = this->Full("setup.inf");
  EXPECT_EQ(full, this->FullPath("setup.inf"));
  EXPECT_EQ(full, this->FullPath(full));
  EXPECT_EQ(this->Full("missing.inf"), this->FullPath("missing.inf"));  // need not exist
  EXPECT_EQ(this->Full(this->In("adir", "inner.inf")),
            this->FullPath(this->In("adir", "inner.inf")));
  EXPECT_EQ(this->Full(this->In("adir", "")), this->FullPath(this->In("adir", "")));
  EXPECT_EQ("<0>", this->FullPath(""));
}

TYPED_TEST_P(SetupFilesContract, DotsAndRepeatedSeparatorsAreResolvedOnTheTextAlone) {
  const std::string full = this->Full("setup.inf");
  EXPECT_EQ(full, this->FullPath(this->In(".", "setup.inf")));
  EXPECT_EQ(full, this->FullPath(this->In("missing", "..", "setup.inf")));
  EXPECT_EQ(this->Full(this->In("a", "b", "c", "")),
            this->FullPath(this->In("a", "", "b", ".", "c", "")));
  EXPECT_EQ(this->cwd_, this->FullPath("."));
  EXPECT_EQ(this->cwd_.substr(0, this->cwd_.rfind(TypeParam::kSeparator)), this->FullPath(".."));

  EXPECT_EQ(0, this->Access(this->In("missing", "..", "setup.inf")));
  EXPECT_EQ(0, this->Access(this->In(".", "adir", "", "inner.inf")));
  EXPECT_EQ(0, this->Access(this->In("setup.inf", ".")));
  EXPECT_EQ("PROD", this->Product(this->Full(this->In("adir", "..", "setup.inf"))));
}

TYPED_TEST_P(SetupFilesContract, NamesOfMoreThan260BytesAreRefused) {
  const std::string fits = this->NameOfLength(260, "setup.inf");
  const std::string too_long = this->NameOfLength(261, "setup.inf");
  ASSERT_EQ(260u, fits.size());
  ASSERT_EQ(261u, too_long.size());
  EXPECT_EQ(0, this->Access(fits));
  EXPECT_EQ(-1, this->Access(too_long));
  EXPECT_EQ(this->Full("setup.inf"), this->FullPath(fits));
  EXPECT_EQ("<0>", this->FullPath(too_long));
  EXPECT_EQ("<0>", this->FullPath(too_long, 1000));
}

TYPED_TEST_P(SetupFilesContract, FullPathsOf260BytesOrMoreAreRefused) {
  ASSERT_LT(this->cwd_.size(), 200u) << "the scratch directory is too deep for this test";
  const std::string name259 = std::string(259 - this->cwd_.size() - 1, 'p');
  const std::string name260 = name259 + "p";
  ASSERT_EQ(259u, this->Full(name259).size());
  EXPECT_EQ(this->Full(name259), this->FullPath(name259));
  EXPECT_EQ(this->Full(name259), this->FullPath(this->Full(name259)));
  // No buffer is large enough: the size needed is never reported.
  for (uint32_t capacity : {260u, 261u, 1000u}) {
    EXPECT_EQ("<0>", this->FullPath(name260, capacity)) << capacity;
    EXPECT_EQ("<0>", this->FullPath(this->Full(name260), capacity)) << capacity;
  }
}

TYPED_TEST_P(SetupFilesContract, SmallBufferGetsTheSizeNeededAndIsLeftAlone) {
  const std::string full = this->Full("setup.inf");
  const std::string needed = "<needs " + std::to_string(full.size() + 1) + ">";
  EXPECT_EQ(needed, this->FullPath("setup.inf", 8));
  EXPECT_EQ(needed, this->FullPath("setup.inf", static_cast<uint32_t>(full.size())));
  EXPECT_EQ(full, this->FullPath("setup.inf", static_cast<uint32_t>(full.size() + 1)));
}

TYPED_TEST_P(SetupFilesContract, ProfileSectionsAndKeysMatchWithoutRegardToCase) {
  const std::string path = this->Full("setup.inf");
  EXPECT_EQ("PROD", this->Profile(path, "Upgrade", "ProductKey"));
  EXPECT_EQ("PROD", this->Profile(path, "UPGRADE", "productkey"));
  EXPECT_EQ("ABCDEFGHIJ", this->Profile(path, "upgrade", "LONG"));
  EXPECT_EQ("Q", this->Profile(path, "Upgrade", "Quoted"));
}

TYPED_TEST_P(SetupFilesContract, ProfileValueIsCutToOneByteLessThanTheBuffer) {
  const std::string path = this->Full("setup.inf");
  EXPECT_EQ("ABCD", this->Profile(path, "Upgrade", "Long", "", 5));
  EXPECT_EQ("ABCDEFGHI", this->Profile(path, "Upgrade", "Long", "", 10));
  EXPECT_EQ("ABCDEFGHIJ", this->Profile(path, "Upgrade", "Long", "", 11));
  EXPECT_EQ("", this->Profile(path, "Upgrade", "Long", "", 1));
}

TYPED_TEST_P(SetupFilesContract, MissingSectionOrKeyGivesTheFallbackAsAValue) {
  const std::string path = this->Full("setup.inf");
  // As a value, the fallback loses its trailing blanks and its quotes.
  EXPECT_EQ("DEF", this->Profile(path, "Upgrade", "PatchKey1"));
  EXPECT_EQ("DEF", this->Profile(path, "Other", "ProductKey"));
  EXPECT_EQ("DEF", this->Profile(path, "Upgrade", "PatchKey1", "DEFAULT", 4));
  EXPECT_EQ("", this->Profile(path, "Upgrade", "PatchKey1", ""));
  // A file that does not exist in an existing directory reads as empty.
  EXPECT_EQ("DEF", this->Product(this->Full("missing.inf")));
  EXPECT_EQ("DEF", this->Product(this->Full(this->In("adir", "missing.inf"))));
  EXPECT_EQ("DEF", this->Product(this->Full(this->In("adir", "inner.inf"))));
}

TYPED_TEST_P(SetupFilesContract, FileThatIsNoProfileGivesTheFallbackWithoutQuoteHandling) {
  // Only the fallback's trailing spaces go.
  for (const std::string& path :
       {this->Full("adir"), this->Full(this->In("missing", "setup.inf")), std::string()}) {
    EXPECT_EQ("\"DEF\"", this->Product(path)) << path;
  }
  EXPECT_EQ("\"DEF", this->Profile(this->Full("adir"), "Upgrade", "ProductKey", "\"DEFAULT\"", 5));
}

REGISTER_TYPED_TEST_SUITE_P(
    SetupFilesContract, AccessFindsFilesAndDirectories, FileNamesFollowThePlatformsCaseRule,
    FullPathIsTakenFromTheCurrentDirectory, DotsAndRepeatedSeparatorsAreResolvedOnTheTextAlone,
    NamesOfMoreThan260BytesAreRefused, FullPathsOf260BytesOrMoreAreRefused,
    SmallBufferGetsTheSizeNeededAndIsLeftAlone, ProfileSectionsAndKeysMatchWithoutRegardToCase,
    ProfileValueIsCutToOneByteLessThanTheBuffer, MissingSectionOrKeyGivesTheFallbackAsAValue,
    FileThatIsNoProfileGivesTheFallbackWithoutQuoteHandling);

#endif  // BRINDLEX_INF_SETUP_FILES_CONTRACT_TEST_H_
