// FakeSetupFiles: an in-memory SetupFiles. Files and directories live at
// full paths under a fixed current directory ('/' separated); profiles are
// read with the portable profile reader, so lookups behave as the real
// reader does. Every profile lookup is recorded.
#ifndef BRINDLEX_TESTS_DOUBLES_FAKE_SETUP_FILES_H_
#define BRINDLEX_TESTS_DOUBLES_FAKE_SETUP_FILES_H_

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "winapi/profile_reader.h"
#include "inf/setup_files.h"

class FakeSetupFiles : public SetupFiles {
 public:
  explicit FakeSetupFiles(std::string current_directory = "/work")
      : current_directory_(std::move(current_directory)) {}

  // `name` is taken from the current directory unless it starts with '/'.
  void AddFile(const std::string& name, const std::string& contents) {
    files_[FullPathOf(name)] = contents;
  }
  void AddDirectory(const std::string& name) { directories_.insert(FullPathOf(name)); }

  int Access(const char* name) override {
    const std::string full = FullPathOf(name);
    return name[0] != '\0' && (files_.count(full) || directories_.count(full)) ? 0 : -1;
  }

  uint32_t GetFullPathName(const char* name, uint32_t capacity, char* buffer) override {
    const std::string full = FullPathOf(name);
    if (name[0] == '\0' || full.size() >= kMaxPath) return 0;
    if (full.size() >= capacity) return static_cast<uint32_t>(full.size() + 1);
    std::memcpy(buffer, full.c_str(), full.size() + 1);
    return static_cast<uint32_t>(full.size());
  }

  uint32_t GetPrivateProfileString(const char* section, const char* key, const char* fallback,
                                   char* buffer, uint32_t size, const char* path) override {
    lookups.push_back(std::string(section) + "." + key + " in " + path);
    if (directories_.count(path)) return CopyUnreadableFallback(fallback, buffer, size);
    const auto file = files_.find(path);
    const std::string contents = file == files_.end() ? std::string() : file->second;
    return ReadProfileString(contents, section, key, fallback, buffer, size);
  }

  // "Section.Key in /full/path" for each profile lookup, in order.
  std::vector<std::string> lookups;

 private:
  static constexpr size_t kMaxPath = 260;

  std::string FullPathOf(const std::string& name) const {
    return !name.empty() && name[0] == '/' ? name : current_directory_ + "/" + name;
  }

  std::string current_directory_;
  std::map<std::string, std::string> files_;
  std::set<std::string> directories_;
};

#endif  // BRINDLEX_TESTS_DOUBLES_FAKE_SETUP_FILES_H_
