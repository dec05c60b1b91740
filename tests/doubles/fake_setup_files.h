// FakeSetupFiles: an in-memory SetupFiles. Files and directories live at
// full paths under a fixed current directory ('/' separated, names
// case-sensitive); "." and ".." and repeated separators are resolved on the
// text, and the 260-byte limits hold as on the platform. Profiles are read
// with the portable profile reader, so lookups behave as the real reader
// does. Every profile lookup is recorded.
#ifndef BRINDLEX_TESTS_DOUBLES_FAKE_SETUP_FILES_H_
#define BRINDLEX_TESTS_DOUBLES_FAKE_SETUP_FILES_H_

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "inf/setup_files.h"
#include "winapi/profile_reader.h"

class FakeSetupFiles : public SetupFiles {
 public:
  // `current_directory` is a full path; it and the directories above it
  // exist.
  explicit FakeSetupFiles(std::string current_directory = "/work")
      : current_directory_(std::move(current_directory)) {
    AddDirectoryAndParents(current_directory_);
  }

  // `name` is taken from the current directory unless it starts with '/';
  // the directories above it are created too.
  void AddFile(const std::string& name, const std::string& contents) {
    const std::string full = Resolve(name);
    files_[full] = contents;
    AddDirectoryAndParents(ParentOf(full));
  }
  void AddDirectory(const std::string& name) { AddDirectoryAndParents(Resolve(name)); }

  int Access(const char* name) override {
    std::string full;
    if (!FullPathOf(name, &full)) return -1;
    return IsDirectory(full) || (IsFile(full) && full.back() != '/') ? 0 : -1;
  }

  uint32_t GetFullPathName(const char* name, uint32_t capacity, char* buffer) override {
    std::string full;
    if (!FullPathOf(name, &full) || full.size() >= kMaxPath) return 0;
    if (full.size() >= capacity) return static_cast<uint32_t>(full.size() + 1);
    std::memcpy(buffer, full.c_str(), full.size() + 1);
    return static_cast<uint32_t>(full.size());
  }

  // A missing file in an existing directory reads as an empty profile; a
  // directory or a path through a missing directory is no profile.
  uint32_t GetPrivateProfileString(const char* section, const char* key, const char* fallback,
                                   char* buffer, uint32_t size, const char* path) override {
    lookups.push_back(std::string(section) + "." + key + " in " + path);
    std::string full;
    if (!FullPathOf(path, &full) || full.back() == '/' || IsDirectory(full) ||
        !IsDirectory(ParentOf(full))) {
      return CopyUnreadableFallback(fallback, buffer, size);
    }
    const auto file = files_.find(full);
    const std::string contents = file == files_.end() ? std::string() : file->second;
    return ReadProfileString(contents, section, key, fallback, buffer, size);
  }

  // "Section.Key in path" for each profile lookup, in order, with the path
  // as it was passed.
  std::vector<std::string> lookups;

 private:
  // The path limit, terminator included.
  static constexpr size_t kMaxPath = 260;

  // Fails for an empty name and a name of more than 260 bytes.
  bool FullPathOf(const char* name, std::string* full) const {
    if (name == nullptr || name[0] == '\0' || std::strlen(name) > kMaxPath) return false;
    *full = Resolve(name);
    return true;
  }

  // `name` made absolute with "." and ".." resolved and repeated '/'
  // collapsed; a trailing '/' stays.
  std::string Resolve(const std::string& name) const {
    const std::string joined = name[0] == '/' ? name : current_directory_ + "/" + name;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= joined.size()) {
      size_t end = joined.find('/', start);
      if (end == std::string::npos) end = joined.size();
      const std::string part = joined.substr(start, end - start);
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      start = end + 1;
    }
    std::string full;
    for (const std::string& part : parts) full += "/" + part;
    if (full.empty()) return "/";
    if (name.back() == '/') full += '/';
    return full;
  }

  static std::string ParentOf(const std::string& full) {
    const std::string trimmed = WithoutTrailingSlash(full);
    const size_t slash = trimmed.rfind('/');
    return slash == 0 ? "/" : trimmed.substr(0, slash);
  }

  static std::string WithoutTrailingSlash(const std::string& full) {
    return full.size() > 1 && full.back() == '/' ? full.substr(0, full.size() - 1) : full;
  }

  bool IsFile(const std::string& full) const {
    return files_.count(WithoutTrailingSlash(full)) != 0;
  }
  bool IsDirectory(const std::string& full) const {
    return directories_.count(WithoutTrailingSlash(full)) != 0;
  }

  void AddDirectoryAndParents(const std::string& full) {
    for (std::string directory = WithoutTrailingSlash(full); directories_.insert(directory).second;
         directory = ParentOf(directory)) {
      if (directory == "/") break;
    }
  }

  std::string current_directory_;
  std::map<std::string, std::string> files_;
  std::set<std::string> directories_;
};

#endif  // BRINDLEX_TESTS_DOUBLES_FAKE_SETUP_FILES_H_
