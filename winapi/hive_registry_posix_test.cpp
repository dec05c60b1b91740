#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "winapi/code_page.h"
#include "winapi/empty_hive.h"
#include "winapi/hive_registry.h"
#include "winapi/posix_file.h"
#include "winapi/regf_hive.h"
#include "registry/registry_contract_test.h"
#include "tests/support/regf_builder.h"
#include "tests/support/scratch_dir.h"

namespace {

// The ANSI text `ansi` as a UTF-16LE file with a byte order mark, as the
// platform's export writes it.
std::string Utf16File(const std::string& ansi) {
  std::string bytes = "\xFF\xFE";
  for (char byte : ansi) {
    const char16_t unit = AnsiToUtf16(static_cast<unsigned char>(byte));
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

struct HiveHarness {
  void AddKey(const std::string& path) { text += "[HKEY_CLASSES_ROOT\\" + path + "]\r\n\r\n"; }

  Registry& registry() {
    if (!hive) {
      dir.Write("registry.reg", Utf16File(text));
      hive = MakeHiveRegistry(dir.File("registry.reg"));
    }
    return *hive;
  }

  void Reload() {
    EXPECT_EQ(kRegSuccess, registry().Flush());
    hive = MakeHiveRegistry(dir.File("registry.reg"));
  }

  ScratchDir dir;
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  std::unique_ptr<Registry> hive;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Hive, RegistryContract, HiveHarness);

const char kHive[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\Installer\\Patches\\P1]\r\n\"a\"=\"1\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\Installer\\Patches\\P1\\SourceList]\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\Installer\\Patches\\P2]\r\n\r\n";

class HiveRegistryTest : public ::testing::Test {
 protected:
  std::string File() const { return dir_.File("registry.reg"); }

  std::unique_ptr<Registry> Hive() { return MakeHiveRegistry(File()); }

  // The names in the scratch directory.
  std::set<std::string> Listing() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  ino_t Inode() const {
    struct stat info;
    return stat(File().c_str(), &info) == 0 ? info.st_ino : 0;
  }

  // True when another open of the file can take the lock at once.
  bool Lockable() const {
    const int fd = open(File().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return locked;
  }

  static RegStatus Open(Registry& registry, const char* path) {
    RegKey key = nullptr;
    RegStatus status = registry.OpenKey(ClassesRootKey(), path, &key);
    if (status == kRegSuccess) (void)registry.CloseKey(key);
    return status;
  }

  ScratchDir dir_;
};

TEST_F(HiveRegistryTest, MissingFileIsAnEmptyRegistryAndIsNeverCreated) {
  std::unique_ptr<Registry> hive = Hive();
  EXPECT_EQ(kRegFileNotFound, Open(*hive, "Installer"));
  EXPECT_EQ(kRegAccessDenied, hive->DeleteKey(ClassesRootKey(), ""));
  EXPECT_EQ(kRegSuccess, hive->Flush());
  EXPECT_TRUE(Listing().empty());
}

TEST_F(HiveRegistryTest, FileIsNotTouchedWhenNothingWasDeleted) {
  dir_.Write("registry.reg", kHive);
  const ino_t before = Inode();
  std::unique_ptr<Registry> hive = Hive();
  EXPECT_EQ(kRegSuccess, Open(*hive, "Installer\\Patches\\P1"));
  EXPECT_EQ(kRegAccessDenied, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P1"));
  EXPECT_EQ(kRegFileNotFound, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P9"));
  EXPECT_EQ(kRegSuccess, hive->Flush());
  EXPECT_EQ(before, Inode());
  EXPECT_EQ(kHive, dir_.Read("registry.reg"));
}

TEST_F(HiveRegistryTest, FlushCommitsTheDeletesKeepingTheFileMode) {
  dir_.Write("registry.reg", kHive);
  ASSERT_EQ(0, chmod(File().c_str(), 0640));
  std::unique_ptr<Registry> hive = Hive();
  ASSERT_EQ(kRegSuccess, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P1\\SourceList"));
  ASSERT_EQ(kRegSuccess, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P2"));
  EXPECT_EQ(kHive, dir_.Read("registry.reg"));  // nothing written before Flush
  EXPECT_EQ(kRegSuccess, hive->Flush());
  EXPECT_EQ(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Installer\\Patches\\P1]\r\n\"a\"=\"1\"\r\n\r\n",
      dir_.Read("registry.reg"));
  struct stat info;
  ASSERT_EQ(0, stat(File().c_str(), &info));
  EXPECT_EQ(0640u, info.st_mode & 07777);
  EXPECT_EQ(std::set<std::string>{"registry.reg"}, Listing());
}

TEST_F(HiveRegistryTest, DeletesAreDroppedWithoutFlush) {
  dir_.Write("registry.reg", kHive);
  {
    std::unique_ptr<Registry> hive = Hive();
    ASSERT_EQ(kRegSuccess, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P2"));
  }
  EXPECT_EQ(kHive, dir_.Read("registry.reg"));
  EXPECT_TRUE(Lockable());
  EXPECT_EQ(std::set<std::string>{"registry.reg"}, Listing());
}

TEST_F(HiveRegistryTest, LargeFileKeepsEveryByteAroundTheDeletedKeys) {
  // Megabytes of sections, so that reading and writing span many buffers;
  // the deleted keys are the first, two in the middle, the last, and many
  // close together (the old file is copied in pieces large and small).
  const std::string header =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\Installer]\r\n\r\n";
  std::string text = header;
  std::string expected = header;
  std::vector<std::string> deleted;
  const int kKeys = 30000;
  for (int i = 0; i < kKeys; ++i) {
    const std::string name = "Installer\\K" + std::to_string(100000 + i);
    const std::string section =
        "[HKEY_CLASSES_ROOT\\" + name + "]\r\n\"v\"=\"" + std::string(100, 'x') + "\"\r\n\r\n";
    text += section;
    if (i % 10000 == 0 || i == kKeys - 1 || (i > 15000 && i < 25000 && i % 7 == 0)) {
      deleted.push_back(name);
    } else {
      expected += section;
    }
  }
  dir_.Write("registry.reg", text);
  std::unique_ptr<Registry> hive = Hive();
  for (const std::string& name : deleted) {
    ASSERT_EQ(kRegSuccess, hive->DeleteKey(ClassesRootKey(), name.c_str())) << name;
  }
  ASSERT_EQ(kRegSuccess, hive->Flush());
  EXPECT_TRUE(dir_.Read("registry.reg") == expected) << "the file differs from the expected";
}

TEST_F(HiveRegistryTest, AfterFlushTheFileIsReadAgain) {
  dir_.Write("registry.reg", kHive);
  std::unique_ptr<Registry> hive = Hive();
  RegKey key = nullptr;
  ASSERT_EQ(kRegSuccess, hive->OpenKey(ClassesRootKey(), "Installer\\Patches", &key));
  ASSERT_EQ(kRegSuccess, hive->DeleteKey(key, "P2"));
  ASSERT_EQ(kRegSuccess, hive->Flush());
  EXPECT_EQ(kRegInvalidHandle, hive->CloseKey(key));
  EXPECT_EQ(kRegFileNotFound, Open(*hive, "Installer\\Patches\\P2"));
  EXPECT_EQ(kRegSuccess, Open(*hive, "Installer\\Patches\\P1"));
}

TEST_F(HiveRegistryTest, UnparsableFileIsLeftAloneAndNoKeyOpensAsACorruptRegistry) {
  const std::string broken = std::string(kHive) + "[-HKEY_CLASSES_ROOT\\Installer]\r\n";
  dir_.Write("registry.reg", broken);
  std::unique_ptr<Registry> hive = Hive();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(kRegBadDb, Open(*hive, "Installer\\Patches\\P1"));
  EXPECT_EQ(kRegBadDb, Open(*hive, ""));
  char name[260];
  uint32_t capacity = sizeof name;
  EXPECT_EQ(kRegBadDb, hive->EnumKey(ClassesRootKey(), 0, name, &capacity));
  EXPECT_EQ(kRegBadDb, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P2"));
  EXPECT_TRUE(Lockable());  // a file that is never written needs no lock
  EXPECT_EQ(kRegSuccess, hive->Flush());
  const std::string message = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, message.find(File() + ":10: ")) << message;
  EXPECT_EQ(1, std::count(message.begin(), message.end(), '\n')) << message;
  EXPECT_EQ(broken, dir_.Read("registry.reg"));
  EXPECT_EQ(std::set<std::string>{"registry.reg"}, Listing());
}

// Only a regular file is a registry file, and finding out never blocks: a
// FIFO would wait for a writer in open, a device read without end.
TEST_F(HiveRegistryTest, WhatIsNotARegularFileCannotBeReadAndNothingWaits) {
  const std::vector<std::function<int()>> makers = {
      [&] { return mkdir(File().c_str(), 0755); },
      [&] { return mkfifo(File().c_str(), 0644); },
      [&] { return symlink("/dev/zero", File().c_str()); },
  };
  for (const auto& make : makers) {
    std::filesystem::remove_all(File());
    ASSERT_EQ(0, make());
    std::unique_ptr<Registry> hive = Hive();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(kRegCantRead, Open(*hive, "Installer"));
    EXPECT_EQ(kRegCantRead, Open(*hive, "Installer"));  // reported once
    const std::string message = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, message.find(File() + " is not a regular file")) << message;
    EXPECT_EQ(1, std::count(message.begin(), message.end(), '\n')) << message;
    EXPECT_EQ(kRegSuccess, hive->Flush());
  }
}

TEST_F(HiveRegistryTest, LockHeldTooLongMakesTheRegistryUnreadableAndNamesTheHolder) {
  dir_.Write("registry.reg", kHive);
  ScopedFd other(open(File().c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(0, flock(other.get(), LOCK_EX));
  std::unique_ptr<Registry> hive = MakeHiveRegistry(File(), std::chrono::milliseconds(300));
  ::testing::internal::CaptureStderr();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kRegCantRead, Open(*hive, "Installer"));
  const auto waited = std::chrono::steady_clock::now() - start;
  const std::string message = ::testing::internal::GetCapturedStderr();
  EXPECT_GE(waited, std::chrono::milliseconds(300));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_NE(std::string::npos,
            message.find("locked by process " + std::to_string(getpid()) + " ("))
      << message;
  EXPECT_NE(std::string::npos, message.find("300 ms")) << message;
  // Let go in time, and the next registry gets in.
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    other.Reset();
  });
  std::unique_ptr<Registry> next = MakeHiveRegistry(File(), std::chrono::seconds(10));
  EXPECT_EQ(kRegSuccess, Open(*next, "Installer"));
  release.join();
}

TEST(FlockHolderTest, FindsTheHolderOfTheFileAmongTheLocks) {
  struct stat info = {};
  info.st_dev = makedev(0xfe, 0x01);
  info.st_ino = 4711;
  const auto comm = [](long pid) { return pid == 42 ? std::string("vi") : std::string(); };
  EXPECT_EQ("process 42 (vi)",
            FlockHolderIn("1: POSIX  ADVISORY  WRITE 7 fe:01:4711 0 EOF\n"
                          "2: FLOCK  ADVISORY  WRITE 9 fe:01:4712 0 EOF\n"
                          "3: FLOCK  ADVISORY  WRITE 8 fe:00:4711 0 EOF\n"
                          "4: FLOCK  ADVISORY  WRITE 42 fe:01:4711 0 EOF\n"
                          "4: -> FLOCK  ADVISORY  WRITE 43 fe:01:4711 0 EOF\n",
                          info, comm));
  EXPECT_EQ("process 43", FlockHolderIn("5: FLOCK  ADVISORY  WRITE 43 fe:01:4711 0 EOF\n", info, comm));
  // A holder in another process namespace shows without its id.
  EXPECT_EQ("", FlockHolderIn("6: FLOCK  ADVISORY  WRITE 0 fe:01:4711 0 EOF\n", info, comm));
}

TEST_F(HiveRegistryTest, LockIsHeldFromTheFirstReadUntilFlush) {
  dir_.Write("registry.reg", kHive);
  std::unique_ptr<Registry> hive = Hive();
  EXPECT_TRUE(Lockable());  // nothing read yet
  EXPECT_EQ(kRegSuccess, Open(*hive, "Installer"));
  EXPECT_FALSE(Lockable());
  EXPECT_EQ(kRegSuccess, hive->Flush());
  EXPECT_TRUE(Lockable());
}

TEST_F(HiveRegistryTest, RunsAtTheSameTimeLoseNoDelete) {
  dir_.Write("registry.reg", kHive);
  std::unique_ptr<Registry> first = Hive();
  std::unique_ptr<Registry> second = Hive();
  ASSERT_EQ(kRegSuccess, first->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P2"));
  RegStatus second_delete = -1;
  std::thread waiter([&] {
    // Waits for the lock, then must see the file the first run wrote.
    second_delete = second->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P1\\SourceList");
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(kRegSuccess, first->Flush());
  waiter.join();
  ASSERT_EQ(kRegSuccess, second_delete);
  ASSERT_EQ(kRegSuccess, second->Flush());
  EXPECT_EQ(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Installer\\Patches\\P1]\r\n\"a\"=\"1\"\r\n\r\n",
      dir_.Read("registry.reg"));
}

TEST_F(HiveRegistryTest, FailedCommitKeepsTheOldFileAndLeavesNoTemporaryFile) {
  dir_.Write("registry.reg", kHive);
  std::unique_ptr<Registry> hive = Hive();
  ASSERT_EQ(kRegSuccess, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P2"));
  // A directory now stands where the file was, so the rename must fail.
  ASSERT_EQ(0, rename(File().c_str(), dir_.File("moved.reg").c_str()));
  ASSERT_EQ(0, mkdir(File().c_str(), 0755));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(kRegIoFailed, hive->Flush());
  const std::string message = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, message.find(File())) << message;
  EXPECT_EQ((std::set<std::string>{"moved.reg", "registry.reg"}), Listing());
  EXPECT_EQ(kHive, dir_.Read("moved.reg"));
}

// A run killed between linking its new file and renaming it leaves the file
// under a temporary name; the next run that holds the lock removes it, and
// nothing that merely looks alike (a user's own ".registry.reg.2026.12.09.tmp").
TEST_F(HiveRegistryTest, NextRunRemovesTemporaryFilesOfAKilledRun) {
  dir_.Write("registry.reg", kHive);
  const std::set<std::string> others = {
      "registry.reg",
      ".registry.reg.2026.12.09.tmp",               // not this program's
      ".registry.reg.4242.987654321.0.tmp",         // nor of its earlier versions
      ".registry.reg.brindlex-new.1.2.tmp",         // two numbers
      ".registry.reg.brindlex-new.1.2.3.4.tmp",     // four
      ".registry.reg.brindlex-new.x.2.3.tmp",       // not a number
      ".other.reg.brindlex-new.1.2.3.tmp",          // another file's
      "registry.reg.brindlex-new.1.2.3.tmp",        // not hidden
      ".registry.reg.brindlex-new.1.2.3.tmp.keep",  // another suffix
  };
  for (const std::string& name : others) {
    if (name != "registry.reg") dir_.Write(name, "x");
  }
  dir_.Write(".registry.reg.brindlex-new.4242.987654321.0.tmp", kHive);
  dir_.Write(".registry.reg.brindlex-new.17.5.99.tmp", "");
  std::unique_ptr<Registry> hive = Hive();
  EXPECT_EQ(kRegSuccess, Open(*hive, "Installer"));
  EXPECT_EQ(others, Listing());
  EXPECT_EQ(kRegSuccess, hive->Flush());
  EXPECT_EQ(kHive, dir_.Read("registry.reg"));
}

TEST_F(HiveRegistryTest, ImpliedKeyOutlivesItsLastListedSubkey) {
  dir_.Write("registry.reg",
             "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Installer\\Patches\\P1\\SourceList]\n\n");
  std::unique_ptr<Registry> hive = Hive();
  ASSERT_EQ(kRegSuccess, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P1\\SourceList"));
  ASSERT_EQ(kRegSuccess, hive->Flush());
  EXPECT_EQ("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Installer\\Patches\\P1]\n\n",
            dir_.Read("registry.reg"));
  EXPECT_EQ(kRegSuccess, Open(*hive, "Installer\\Patches\\P1"));
}

// A file this process cannot replace with all it holds is read, but no key
// of it opens with full access: what the run would delete it could not save.
TEST_F(HiveRegistryTest, FileThatCannotBeReplacedWhollyOpensNoKeyWithFullAccess) {
  struct Case {
    const char* name;
    std::function<void()> make;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"read-only", [&] { ASSERT_EQ(0, chmod(File().c_str(), 0444)); }, "it is read-only"},
      {"hard link",
       [&] { ASSERT_EQ(0, link(File().c_str(), dir_.File("other.reg").c_str())); },
       "it has 2 hard links"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    std::filesystem::remove(dir_.File("other.reg"));
    std::filesystem::remove(File());
    dir_.Write("registry.reg", kHive);
    test.make();
    std::unique_ptr<Registry> hive = Hive();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(kRegAccessDenied, Open(*hive, "Installer\\Patches\\P1"));
    EXPECT_EQ(kRegFileNotFound, Open(*hive, "Installer\\Patches\\P9"));
    EXPECT_EQ(kRegAccessDenied, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P2"));
    char name[260];
    uint32_t capacity = sizeof name;
    EXPECT_EQ(kRegSuccess, hive->EnumKey(ClassesRootKey(), 0, name, &capacity));
    EXPECT_TRUE(Lockable());  // nothing will be written
    EXPECT_EQ(kRegSuccess, hive->Flush());
    const std::string message = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, message.find(File() + " cannot be changed: " + test.reason))
        << message;
    EXPECT_EQ(1, std::count(message.begin(), message.end(), '\n')) << message;
    EXPECT_EQ(kHive, dir_.Read("registry.reg"));
  }
}

TEST_F(HiveRegistryTest, SymbolicLinkIsFollowedAndStaysALink) {
  ASSERT_TRUE(std::filesystem::create_directory(dir_.path() / "real"));
  dir_.Write("real/hive.reg", kHive);
  ASSERT_EQ(0, symlink("real/hive.reg", File().c_str()));
  std::unique_ptr<Registry> hive = Hive();
  ASSERT_EQ(kRegSuccess, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P2"));
  ASSERT_EQ(kRegSuccess, hive->Flush());
  EXPECT_TRUE(std::filesystem::is_symlink(File()));
  EXPECT_EQ(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Installer\\Patches\\P1]\r\n\"a\"=\"1\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Installer\\Patches\\P1\\SourceList]\r\n\r\n",
      dir_.Read("real/hive.reg"));
  EXPECT_EQ((std::set<std::string>{"real", "registry.reg"}), Listing());
}

TEST_F(HiveRegistryTest, NewFileKeepsOwnerGroupModeAndExtendedAttributes) {
  dir_.Write("registry.reg", kHive);
  ASSERT_EQ(0, chmod(File().c_str(), 0604));
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, chown(File().c_str(), 4321, 8765));
  }
  const char kValue[] = "kept";
  if (setxattr(File().c_str(), "user.brindlex.test", kValue, 4, 0) != 0) {
    GTEST_SKIP() << "no user extended attributes here";
  }
  std::unique_ptr<Registry> hive = Hive();
  const ino_t before = Inode();
  ASSERT_EQ(kRegSuccess, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P2"));
  ASSERT_EQ(kRegSuccess, hive->Flush());
  ASSERT_NE(before, Inode());  // a new file
  struct stat info;
  ASSERT_EQ(0, stat(File().c_str(), &info));
  EXPECT_EQ(0604u, info.st_mode & 07777);
  EXPECT_EQ(1u, info.st_nlink);
  if (root) {
    EXPECT_EQ(4321u, info.st_uid);
    EXPECT_EQ(8765u, info.st_gid);
  }
  char value[16] = {};
  EXPECT_EQ(4, getxattr(File().c_str(), "user.brindlex.test", value, sizeof value));
  EXPECT_STREQ(kValue, value);
}

// Programs that do not take the lock (an editor, a script) may change the
// file while a run holds it: their change is kept, the run's is not saved.
// Cut short in place, as `>` in a shell does before writing, the file the
// run still reads from must not stop the run either.
TEST_F(HiveRegistryTest, FileChangedByAnotherProgramAfterTheReadIsNotReplaced) {
  const std::string appended = std::string(kHive) + "[HKEY_CLASSES_ROOT\\Installer\\New]\r\n\r\n";
  const std::vector<std::pair<std::function<void()>, std::string>> writers = {
      {[&] { std::ofstream(File(), std::ios::binary | std::ios::app) << "[HKEY_CLASSES_ROOT\\Installer\\New]\r\n\r\n"; },
       appended},
      {[&] {
         dir_.Write("edited.reg", appended);
         ASSERT_EQ(0, rename(dir_.File("edited.reg").c_str(), File().c_str()));
       },
       appended},
      {[&] { ASSERT_EQ(0, truncate(File().c_str(), 10)); }, std::string(kHive).substr(0, 10)},
  };
  for (const auto& [write, left] : writers) {
    dir_.Write("registry.reg", kHive);
    std::unique_ptr<Registry> hive = Hive();
    ASSERT_EQ(kRegSuccess, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P2"));
    write();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(kRegIoFailed, hive->Flush());
    const std::string message = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, message.find("another program changed it")) << message;
    EXPECT_EQ(left, dir_.Read("registry.reg"));
    EXPECT_EQ(std::set<std::string>{"registry.reg"}, Listing());
  }
}

// A writer half way through a rewrite, between two writes, still holds the
// file open for writing: what the run read may be half a file.
TEST_F(HiveRegistryTest, FileOpenForWritingElsewhereIsNotReplaced) {
  dir_.Write("registry.reg", kHive);
  ScopedFd writer(open(File().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  ASSERT_TRUE(writer.valid());
  std::unique_ptr<Registry> hive = Hive();
  ASSERT_EQ(kRegSuccess, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P2"));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(kRegIoFailed, hive->Flush());
  const std::string message = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, message.find("has it open for writing")) << message;
  EXPECT_EQ(kHive, dir_.Read("registry.reg"));
  writer.Reset();
  hive = Hive();
  ASSERT_EQ(kRegSuccess, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P2"));
  EXPECT_EQ(kRegSuccess, hive->Flush());
}

// --- Binary hives: the same store, the file told apart by its signature ---

// A SOFTWARE hive: HKEY_CLASSES_ROOT is its Classes key.
std::string SoftwareHive() {
  RegfBuilder builder;
  builder.Add("Microsoft\\Windows");
  builder.SetString("Classes\\Installer\\Patches\\P1", "a", "1");
  builder.Add("Classes\\Installer\\Patches\\P1\\SourceList");
  builder.Add("Classes\\Installer\\Patches\\P2");
  builder.SetString("Classes\\.txt", "", "txtfile");
  return builder.Bytes();
}

TEST_F(HiveRegistryTest, HiveFileLosesTheDeletedKeysAndStaysAHiveOfTheSameSize) {
  const std::string before = SoftwareHive();
  dir_.Write("registry.reg", before);  // the content decides, not the name
  std::unique_ptr<Registry> hive = Hive();
  ASSERT_EQ(kRegSuccess, hive->DeleteKey(ClassesRootKey(), "installer\\patches\\p1\\sourcelist"));
  ASSERT_EQ(kRegSuccess, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P1"));
  EXPECT_EQ(kRegAccessDenied, hive->DeleteKey(ClassesRootKey(), "Installer"));
  EXPECT_EQ(kRegSuccess, hive->Flush());
  const std::string after = dir_.Read("registry.reg");
  EXPECT_EQ(before.size(), after.size());
  std::string header_error;
  RegfHeader header;
  EXPECT_TRUE(CheckHiveHeader(after, &header, &header_error)) << header_error;
  EXPECT_EQ((std::vector<std::string>{"Classes", "Classes\\.txt", "Classes\\.txt =txtfile",
                                      "Classes\\Installer", "Classes\\Installer\\Patches",
                                      "Classes\\Installer\\Patches\\P2", "Microsoft",
                                      "Microsoft\\Windows"}),
            ReadHiveKeys(File()));
  EXPECT_EQ(std::set<std::string>{"registry.reg"}, Listing());
  // Read again: the hive written is one the store takes.
  hive = Hive();
  EXPECT_EQ(kRegSuccess, Open(*hive, "Installer\\Patches\\P2"));
  EXPECT_EQ(kRegFileNotFound, Open(*hive, "Installer\\Patches\\P1"));
  EXPECT_EQ(kRegSuccess, hive->Flush());
}

// A hive the store cannot take as it stands is never written, whatever the
// run asks for: every key call says the registry is corrupt, and stderr
// says why in one line.
TEST_F(HiveRegistryTest, HiveThatCannotBeUsedIsLeftAloneAndNoKeyOpensAsACorruptRegistry) {
  const std::string good = SoftwareHive();
  struct Bad {
    std::string bytes;
    const char* reason;
  };
  std::string dirty = good;
  dirty[8] ^= 1;  // the second sequence number
  const uint32_t sum = HiveHeaderChecksum(dirty.substr(0, 4096));
  for (int i = 0; i < 4; ++i) dirty[empty_hive::kChecksumOffset + i] = static_cast<char>(sum >> (8 * i));
  std::string damaged = good;
  damaged.replace(0x1020 + 4, 2, "zz");  // the root key cell, first in the first bin
  const Bad bads[] = {
      {dirty, "dirty"},
      {good.substr(0, good.size() - 4096), "cut short"},
      {good.substr(0, 100), "base block"},
      {damaged, "libhivex"},
  };
  for (const Bad& bad : bads) {
    dir_.Write("registry.reg", bad.bytes);
    std::unique_ptr<Registry> hive = Hive();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(kRegBadDb, Open(*hive, "Installer\\Patches\\P1"));
    EXPECT_EQ(kRegBadDb, hive->DeleteKey(ClassesRootKey(), "Installer\\Patches\\P2"));
    EXPECT_TRUE(Lockable());
    EXPECT_EQ(kRegSuccess, hive->Flush());
    const std::string message = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, message.find(File() + ": not a usable registry hive: "))
        << message;
    EXPECT_NE(std::string::npos, message.find(bad.reason)) << message;
    EXPECT_EQ(1, std::count(message.begin(), message.end(), '\n')) << message;
    EXPECT_TRUE(bad.bytes == dir_.Read("registry.reg")) << bad.reason;
    EXPECT_EQ(std::set<std::string>{"registry.reg"}, Listing());
  }
}

}  // namespace
