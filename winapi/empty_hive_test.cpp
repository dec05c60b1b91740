#include "winapi/empty_hive.h"

#include <string>

#include "gtest/gtest.h"
#include "winapi/regf_hive.h"

namespace {

TEST(EmptyHive, IsABaseBlockAndOneBinThatItsOwnHeaderCheckAccepts) {
  for (uint32_t minor : {3u, 5u}) {
    EmptyHiveOptions options;
    options.minor_version = minor;
    options.sequence = 7;
    const std::string hive = MakeEmptyHive(options);
    ASSERT_EQ(hive.size(), 8192u);
    EXPECT_TRUE(IsRegfHive(hive));
    EXPECT_EQ(hive.substr(4096, 4), "hbin");
    RegfHeader header;
    std::string error;
    ASSERT_TRUE(CheckHiveHeader(hive, &header, &error)) << error;
    EXPECT_EQ(header.sequence1, 7u);
    EXPECT_EQ(header.sequence2, 7u);
    EXPECT_EQ(header.major_version, 1u);
    EXPECT_EQ(header.minor_version, minor);
    EXPECT_EQ(header.root_offset, 0x20u);
    EXPECT_EQ(header.bins_size, 4096u);
    EXPECT_EQ(hive.substr(4096 + 0x24, 2), "nk");
  }
}

TEST(EmptyHive, ChecksumAvoidsTheValuesThePlatformStoresDifferently) {
  for (uint64_t time = 0; time < 64; ++time) {
    EmptyHiveOptions options;
    options.timestamp = time;
    const std::string hive = MakeEmptyHive(options);
    RegfHeader header;
    std::string error;
    EXPECT_TRUE(CheckHiveHeader(hive, &header, &error)) << error;
  }
  std::string zeros(512, '\0');
  EXPECT_EQ(HiveHeaderChecksum(zeros), 1u);
  std::string ones(512, '\xFF');
  EXPECT_EQ(HiveHeaderChecksum(ones), 0xFFFFFFFEu);  // 127 words: the XOR is all ones
}

TEST(EmptyHive, RefusesOptionsOutOfRange) {
  EmptyHiveOptions options;
  options.minor_version = 4;
  EXPECT_EQ(MakeEmptyHive(options), "");
  options = EmptyHiveOptions();
  options.root_name = "";
  EXPECT_EQ(MakeEmptyHive(options), "");
  options.root_name = std::string(256, 'r');
  EXPECT_EQ(MakeEmptyHive(options), "");
  options.root_name = "bad\\name";
  EXPECT_EQ(MakeEmptyHive(options), "");
}

}  // namespace
