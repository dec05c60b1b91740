#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>

#include "winapi/posix_file.h"
#include "tests/support/pipe_capture.h"
#include "tests/support/scratch_dir.h"

namespace {

std::string RandomBytes(size_t size) {
  std::mt19937 random(42);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

// Gives `out` pieces of every kind, crossing its buffer's boundaries, and
// returns the bytes they make.
std::string WriteMixed(int source, const std::string& source_bytes, DirectWriter* out) {
  std::string expected;
  const auto copy = [&](uint64_t offset, uint64_t size) {
    EXPECT_TRUE(out->AppendFrom(source, offset, size).ok());
    expected += source_bytes.substr(offset, size);
  };
  const auto put = [&](const std::string& bytes) {
    EXPECT_TRUE(out->Append(bytes.data(), bytes.size()).ok());
    expected += bytes;
  };
  put("head");
  copy(10, 5 << 20);
  for (int i = 0; i < 1000; ++i) {
    copy(static_cast<uint64_t>(i) * 4099, 97);
    put(std::string(static_cast<size_t>(i % 13), 'x'));
  }
  put(source_bytes.substr(0, 3 << 20));
  const size_t filled = std::min<size_t>(out->room_size(), 1234);
  std::fill_n(out->room(), filled, 'r');
  EXPECT_TRUE(out->Took(filled).ok());
  expected.append(filled, 'r');
  copy(source_bytes.size() - 777, 777);
  EXPECT_TRUE(out->Finish().ok());
  return expected;
}

// A regular file from its start (written directly), a regular file from an
// offset that is not a block's (through the page cache) and a pipe (which
// cannot seek) all receive the same bytes, and each keeps its flags.
TEST(DirectWriterTest, EveryKindOfOutputReceivesEveryPieceInOrder) {
  ScratchDir dir;
  const std::string source_bytes = RandomBytes(9 << 20);
  dir.Write("source", source_bytes);
  const int source = open(dir.File("source").c_str(), O_RDONLY);
  ASSERT_GE(source, 0);

  for (const std::string prefix : {"", "abc"}) {
    const int fd = open(dir.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(static_cast<ssize_t>(prefix.size()), write(fd, prefix.data(), prefix.size()));
    const int flags = fcntl(fd, F_GETFL);
    std::string expected;
    {
      DirectWriter out(fd);
      expected = prefix + WriteMixed(source, source_bytes, &out);
    }
    EXPECT_EQ(flags, fcntl(fd, F_GETFL));
    close(fd);
    EXPECT_TRUE(dir.Read("out") == expected) << "to a file after " << prefix.size() << " bytes";
  }

  std::string expected;
  const std::string piped = CapturePipe([&](int fd) {
    DirectWriter out(fd);
    expected = WriteMixed(source, source_bytes, &out);
    return true;
  });
  EXPECT_TRUE(piped == expected) << "through a pipe";
  close(source);
}

TEST(DirectWriterTest, CopyPastTheEndOfItsSourceFails) {
  ScratchDir dir;
  dir.Write("source", "0123456789");
  dir.Write("out", "");
  const int source = open(dir.File("source").c_str(), O_RDONLY);
  const int fd = open(dir.File("out").c_str(), O_WRONLY);
  {
    DirectWriter out(fd);
    EXPECT_TRUE(out.AppendFrom(source, 4, 6).ok());
    EXPECT_EQ("the file ended before the bytes to copy", out.AppendFrom(source, 8, 3).ToString());
  }
  close(fd);
  close(source);
}

}  // namespace
