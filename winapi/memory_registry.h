// MemoryRegistry: the Registry over an in-memory KeyTree. Tests build the
// keys through tree(); the hive registry uses it as its engine.
#ifndef BRINDLEX_WINAPI_MEMORY_REGISTRY_H_
#define BRINDLEX_WINAPI_MEMORY_REGISTRY_H_

#include <cstdint>
#include <unordered_map>

#include "registry/registry.h"
#include "winapi/key_tree.h"

class MemoryRegistry : public Registry {
 public:
  // Starts with only the root, ClassesRootKey().
  MemoryRegistry();
  ~MemoryRegistry() override;

  KeyTree& tree() { return tree_; }
  const KeyTree& tree() const { return tree_; }

  // The Registry operations follow KeyTree's rules and codes. In addition
  // every call that takes a handle returns 6 for one that is not open (never
  // returned by OpenKey, or closed). Opening an empty or null path below
  // ClassesRootKey() gives ClassesRootKey() itself, which never needs closing
  // (closing it returns 0); any other open gives a new handle, never reused.
  // Handles of deleted keys stay open: using them gives 1018, closing them 0.
  RegStatus OpenKey(RegKey parent, const char* path, RegKey* key) override;
  RegStatus EnumKey(RegKey key, uint32_t index, char* name, uint32_t* capacity) override;
  RegStatus DeleteKey(RegKey parent, const char* path) override;
  RegStatus CloseKey(RegKey key) override;
  // Nothing to make durable: returns 0.
  RegStatus Flush() override;

  // Handles opened and not yet closed.
  size_t open_handle_count() const { return handles_.size(); }

 private:
  // The key behind `handle`, or null when it is not open.
  KeyNode* Resolve(RegKey handle);

  KeyTree tree_;
  std::unordered_map<uintptr_t, KeyNode*> handles_;
  uintptr_t next_handle_;
};

#endif  // BRINDLEX_WINAPI_MEMORY_REGISTRY_H_
