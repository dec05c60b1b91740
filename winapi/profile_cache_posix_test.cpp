#include "winapi/profile_cache.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/scratch_dir.h"

namespace {

class ProfileCacheTest : public testing::Test {
 protected:
  std::string Value(const std::string& name, const char* key = "ProductKey") {
    char buffer[255];
    cache_.GetString(dir_.File(name), "Upgrade", key, "DEF", buffer, sizeof buffer);
    return buffer;
  }

  // Sets the modification time of `name` to `seconds` after the epoch.
  void SetModified(const std::string& name, time_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, dir_.File(name).c_str(), times, 0), 0);
  }

  ScratchDir dir_;
  ProfileCache cache_;
};

TEST_F(ProfileCacheTest, AnUnchangedFileIsReadOnceForAllItsKeys) {
  dir_.Write("a.inf", "[Upgrade]\r\nProductKey=PROD\r\nPatchKey1=P1\r\n[Other]\r\nPatchKey2=X\r\n");
  EXPECT_EQ(Value("a.inf"), "PROD");
  EXPECT_EQ(Value("a.inf", "PatchKey1"), "P1");
  for (int n = 2; n <= 10; ++n) {
    EXPECT_EQ(Value("a.inf", ("PatchKey" + std::to_string(n)).c_str()), "DEF");
  }
  EXPECT_EQ(cache_.files_read(), 1u);
}

TEST_F(ProfileCacheTest, AChangedFileIsReadAgain) {
  dir_.Write("a.inf", "[Upgrade]\r\nProductKey=PROD\r\n");
  SetModified("a.inf", 1000000000);
  EXPECT_EQ(Value("a.inf"), "PROD");

  dir_.Write("a.inf", "[Upgrade]\r\nProductKey=LONGER\r\n");  // another size
  EXPECT_EQ(Value("a.inf"), "LONGER");
  EXPECT_EQ(cache_.files_read(), 2u);

  dir_.Write("a.inf", "[Upgrade]\r\nProductKey=SAMESZ\r\n");  // same size, another time
  SetModified("a.inf", 1000000001);
  EXPECT_EQ(Value("a.inf"), "SAMESZ");
  EXPECT_EQ(cache_.files_read(), 3u);

  dir_.Write("b.inf", "[Upgrade]\r\nProductKey=RENAME\r\n");  // another file, same size
  SetModified("b.inf", 1000000001);
  ASSERT_EQ(std::rename(dir_.File("b.inf").c_str(), dir_.File("a.inf").c_str()), 0);
  EXPECT_EQ(Value("a.inf"), "RENAME");
  EXPECT_EQ(cache_.files_read(), 4u);
  EXPECT_EQ(Value("a.inf"), "RENAME");
  EXPECT_EQ(cache_.files_read(), 4u);
}

TEST_F(ProfileCacheTest, OnlyTheFileReadLastIsKept) {
  dir_.Write("a.inf", "[Upgrade]\r\nProductKey=A\r\n");
  dir_.Write("b.inf", "[Upgrade]\r\nProductKey=B\r\n");
  EXPECT_EQ(Value("a.inf"), "A");
  EXPECT_EQ(Value("b.inf"), "B");
  EXPECT_EQ(Value("a.inf"), "A");
  EXPECT_EQ(cache_.files_read(), 3u);
}

TEST_F(ProfileCacheTest, AKeptFileThatIsGoneOrUnreadableIsNotUsed) {
  dir_.Write("a.inf", "[Upgrade]\r\nProductKey=A\r\n");
  EXPECT_EQ(Value("a.inf"), "A");
  ASSERT_EQ(std::remove(dir_.File("a.inf").c_str()), 0);
  EXPECT_EQ(Value("a.inf"), "DEF");  // a missing file is an empty profile
  ASSERT_EQ(mkdir(dir_.File("a.inf").c_str(), 0700), 0);
  char buffer[255];
  cache_.GetString(dir_.File("a.inf"), "Upgrade", "ProductKey", "\"Q\"", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "\"Q\"");  // a directory gives the bare fallback
  EXPECT_EQ(Value("missing/a.inf"), "DEF");
  EXPECT_EQ(cache_.files_read(), 1u);
}

// A setup file of 200 MB whose [Upgrade] section comes last: all eleven
// keys of a run cost one reading of it.
TEST_F(ProfileCacheTest, AHugeFileIsReadOnce) {
  constexpr size_t kMegabyte = 1 << 20;
  std::string chunk = "[Filler]\r\n";
  while (chunk.size() < kMegabyte) chunk += "Filler=" + std::string(89, 'x') + "\r\n";
  {
    FILE* file = std::fopen(dir_.File("huge.inf").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(std::fwrite(chunk.data(), chunk.size(), 1, file), 1u);
    const std::string tail = "[Upgrade]\r\nProductKey=PROD\r\nPatchKey10=P10\r\n";
    ASSERT_EQ(std::fwrite(tail.data(), tail.size(), 1, file), 1u);
    ASSERT_EQ(std::fclose(file), 0);
  }
  EXPECT_EQ(Value("huge.inf"), "PROD");
  for (int n = 1; n <= 9; ++n) {
    EXPECT_EQ(Value("huge.inf", ("PatchKey" + std::to_string(n)).c_str()), "DEF");
  }
  EXPECT_EQ(Value("huge.inf", "PatchKey10"), "P10");
  EXPECT_EQ(cache_.files_read(), 1u);
}

}  // namespace
