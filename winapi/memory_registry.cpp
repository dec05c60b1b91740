#include "winapi/memory_registry.h"

namespace {
// Handle values look like the platform's: small multiples of four, well
// away from the predefined root handle.
constexpr uintptr_t kFirstHandle = 0x1000;
constexpr uintptr_t kHandleStep = 4;
}  // namespace

MemoryRegistry::MemoryRegistry() : next_handle_(kFirstHandle) {}

MemoryRegistry::~MemoryRegistry() = default;

RegStatus MemoryRegistry::OpenKey(RegKey parent, const char* path, RegKey* key) {
  if (parent == ClassesRootKey() && (path == nullptr || *path == '\0')) {
    *key = ClassesRootKey();
    return kRegSuccess;
  }
  KeyNode* from = Resolve(parent);
  if (from == nullptr) return kRegInvalidHandle;
  KeyNode* found = nullptr;
  RegStatus status = tree_.Open(from, path, &found);
  if (status != kRegSuccess) return status;
  const uintptr_t handle = next_handle_;
  next_handle_ += kHandleStep;
  handles_.emplace(handle, found);
  *key = reinterpret_cast<RegKey>(handle);
  return kRegSuccess;
}

RegStatus MemoryRegistry::EnumKey(RegKey key, uint32_t index, char* name, uint32_t* capacity) {
  KeyNode* node = Resolve(key);
  if (node == nullptr) return kRegInvalidHandle;
  return tree_.EnumName(node, index, name, capacity);
}

RegStatus MemoryRegistry::DeleteKey(RegKey parent, const char* path) {
  KeyNode* from = Resolve(parent);
  if (from == nullptr) return kRegInvalidHandle;
  return tree_.Delete(from, path);
}

RegStatus MemoryRegistry::CloseKey(RegKey key) {
  if (key == ClassesRootKey()) return kRegSuccess;
  return handles_.erase(reinterpret_cast<uintptr_t>(key)) == 1 ? kRegSuccess : kRegInvalidHandle;
}

RegStatus MemoryRegistry::Flush() { return kRegSuccess; }

KeyNode* MemoryRegistry::Resolve(RegKey handle) {
  if (handle == ClassesRootKey()) return tree_.root();
  auto found = handles_.find(reinterpret_cast<uintptr_t>(handle));
  return found != handles_.end() ? found->second : nullptr;
}
