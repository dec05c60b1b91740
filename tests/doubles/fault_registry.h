// Test doubles around a Registry: a forwarding wrapper, and a recording
// wrapper that makes chosen calls fail.
#ifndef BRINDLEX_TESTS_DOUBLES_FAULT_REGISTRY_H_
#define BRINDLEX_TESTS_DOUBLES_FAULT_REGISTRY_H_

#include <map>
#include <string>
#include <vector>

#include "registry/registry.h"

// Forwards every call to `target`; a test overrides what it wants to change.
class RegistryWrapper : public Registry {
 public:
  explicit RegistryWrapper(Registry& target) : target_(target) {}

  RegStatus OpenKey(RegKey parent, const char* path, RegKey* key) override {
    return target_.OpenKey(parent, path, key);
  }
  RegStatus EnumKey(RegKey key, uint32_t index, char* name, uint32_t* capacity) override {
    return target_.EnumKey(key, index, name, capacity);
  }
  RegStatus DeleteKey(RegKey parent, const char* path) override {
    return target_.DeleteKey(parent, path);
  }
  RegStatus CloseKey(RegKey key) override { return target_.CloseKey(key); }
  RegStatus Flush() override { return target_.Flush(); }

 protected:
  Registry& target_;
};

// Records every call as one line and fails the calls a test names. A key is
// named by the path the calls spelled it with: the path its parent handle was
// opened with, a backslash, and the path given to the call (just the path
// given, below the root). Names are compared exactly.
class FaultRegistry : public RegistryWrapper {
 public:
  using RegistryWrapper::RegistryWrapper;

  // Every open of `path` returns `status` and opens nothing.
  void FailOpen(const std::string& path, RegStatus status) { open_faults_[path] = status; }
  // Every enumeration of the key opened as `path` returns `status` and leaves
  // the buffer and the capacity as they were.
  void FailEnum(const std::string& path, RegStatus status) { enum_faults_[path] = status; }
  // Every delete of `path` returns `status` and deletes nothing.
  void FailDelete(const std::string& path, RegStatus status) { delete_faults_[path] = status; }

  RegStatus OpenKey(RegKey parent, const char* path, RegKey* key) override {
    const std::string full = Join(parent, path);
    RegStatus status = Injected(open_faults_, full);
    if (status == kRegSuccess) status = target_.OpenKey(parent, path, key);
    if (status == kRegSuccess && *key != ClassesRootKey()) paths_[*key] = full;
    return Record("OpenKey " + full, status);
  }

  RegStatus EnumKey(RegKey key, uint32_t index, char* name, uint32_t* capacity) override {
    const std::string path = PathOf(key);
    RegStatus status = Injected(enum_faults_, path);
    if (status == kRegSuccess) status = target_.EnumKey(key, index, name, capacity);
    return Record("EnumKey " + path + " #" + std::to_string(index), status);
  }

  RegStatus DeleteKey(RegKey parent, const char* path) override {
    const std::string full = Join(parent, path);
    RegStatus status = Injected(delete_faults_, full);
    if (status == kRegSuccess) status = target_.DeleteKey(parent, path);
    return Record("DeleteKey " + full, status);
  }

  RegStatus CloseKey(RegKey key) override {
    const std::string path = PathOf(key);
    RegStatus status = target_.CloseKey(key);
    if (status == kRegSuccess) paths_.erase(key);
    return Record("CloseKey " + path, status);
  }

  // One line per call, "OpenKey Installer\Patches\P = 0", in call order.
  const std::vector<std::string>& calls() const { return calls_; }
  // The calls whose line starts with `prefix`.
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const {
    std::vector<std::string> matching;
    for (const std::string& call : calls_) {
      if (call.compare(0, prefix.size(), prefix) == 0) matching.push_back(call);
    }
    return matching;
  }
  // Handles opened through this wrapper and not closed.
  size_t open_handle_count() const { return paths_.size(); }

 private:
  static RegStatus Injected(const std::map<std::string, RegStatus>& faults,
                            const std::string& path) {
    auto found = faults.find(path);
    return found != faults.end() ? found->second : kRegSuccess;
  }

  std::string PathOf(RegKey key) const {
    auto found = paths_.find(key);
    return found != paths_.end() ? found->second : std::string();
  }

  std::string Join(RegKey parent, const char* path) const {
    const std::string base = PathOf(parent);
    const std::string tail = path != nullptr ? path : "";
    return base.empty() ? tail : base + "\\" + tail;
  }

  RegStatus Record(const std::string& call, RegStatus status) {
    calls_.push_back(call + " = " + std::to_string(status));
    return status;
  }

  std::map<std::string, RegStatus> open_faults_;
  std::map<std::string, RegStatus> enum_faults_;
  std::map<std::string, RegStatus> delete_faults_;
  std::map<RegKey, std::string> paths_;  // open handles but the root, each with its path
  std::vector<std::string> calls_;
};

#endif  // BRINDLEX_TESTS_DOUBLES_FAULT_REGISTRY_H_
