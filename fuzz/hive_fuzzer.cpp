// Parses arbitrary bytes as a hive file, also a few bytes at a time (the
// outcome must not change). When they parse: no key is deeper
// than the platform allows (a run's recursive delete relies on it), and
// writing the file back without deletes gives the same bytes. Then some key
// trees are deleted through the registry operations, as a run deletes a
// patch (open, enumerate index 0, delete the subkeys first), and the file
// written after that must read back as exactly the tree that remains and
// write itself unchanged.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/tree_depth.h"
#include "winapi/hive_format.h"
#include "winapi/memory_registry.h"

namespace {

constexpr size_t kMaxTrees = 32;
constexpr uint32_t kNameCapacity = 260;

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> names;
  size_t start = 0;
  for (size_t end; (end = path.find('\\', start)) != std::string::npos; start = end + 1) {
    names.push_back(path.substr(start, end - start));
  }
  names.push_back(path.substr(start));
  return names;
}

// Opens the key that holds the last name of `names`, one name at a time: a
// whole deep path would be longer than an open accepts. Returns false when
// a key on the way no longer exists (an earlier delete took it).
bool OpenParent(Registry* registry, const std::vector<std::string>& names, RegKey* parent) {
  RegKey key = ClassesRootKey();
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    RegKey next = nullptr;
    const RegStatus status = registry->OpenKey(key, names[i].c_str(), &next);
    Check(registry->CloseKey(key) == kRegSuccess);
    if (status != kRegSuccess) return false;
    key = next;
  }
  *parent = key;
  return true;
}

struct Frame {
  RegKey parent;
  RegKey key;
  std::string name;
};

// Deletes `name` below `parent` with all its subkeys, deepest first, without
// recursion: fuzzed trees can be nested far deeper than the stack allows.
void DeleteTree(Registry* registry, RegKey parent, const std::string& name) {
  RegKey key = nullptr;
  if (registry->OpenKey(parent, name.c_str(), &key) != kRegSuccess) return;
  std::vector<Frame> stack{{parent, key, name}};
  while (!stack.empty()) {
    const Frame top = stack.back();
    char child[kNameCapacity];
    uint32_t capacity = kNameCapacity;
    const RegStatus status = registry->EnumKey(top.key, 0, child, &capacity);
    if (status == kRegNoMoreItems) {
      Check(registry->DeleteKey(top.parent, top.name.c_str()) == kRegSuccess);
      Check(registry->CloseKey(top.key) == kRegSuccess);
      stack.pop_back();
      continue;
    }
    Check(status == kRegSuccess);
    RegKey sub = nullptr;
    Check(registry->OpenKey(top.key, child, &sub) == kRegSuccess);
    stack.push_back({top.key, sub, child});
  }
}

// Deletes every `stride`-th key of the tree (with its subkeys), from `first`.
void DeleteSomeTrees(MemoryRegistry* registry, size_t first, size_t stride) {
  const std::vector<std::string> paths = registry->tree().ListPaths();
  size_t trees = 0;
  for (size_t i = first; i < paths.size() && trees < kMaxTrees; i += stride, ++trees) {
    const std::vector<std::string> names = SplitPath(paths[i]);
    RegKey parent = nullptr;
    if (!OpenParent(registry, names, &parent)) continue;
    DeleteTree(registry, parent, names.back());
    Check(registry->CloseKey(parent) == kRegSuccess);
  }
  Check(registry->open_handle_count() == 0);
}

// Reads `text` from a source that gives `piece` bytes at a time and checks
// that the outcome is `parsed` with `error`, or the keys of `tree`.
void CheckReadInPieces(const std::string& text, size_t piece, uint64_t size_hint, bool parsed,
                       const HiveError& error, const KeyTree& tree) {
  KeyTree pieces_tree;
  HiveDocument document;
  HiveError pieces_error;
  size_t offset = 0;
  const bool read = document.Read(
      [&](char* buffer, size_t capacity) {
        const size_t count = std::min({capacity, piece, text.size() - offset});
        std::memcpy(buffer, text.data() + offset, count);
        offset += count;
        return static_cast<ptrdiff_t>(count);
      },
      size_hint, &pieces_tree, &pieces_error);
  Check(read == parsed);
  if (!read) {
    Check(pieces_error.line == error.line && pieces_error.message == error.message);
    return;
  }
  Check(document.size() == text.size());
  Check(pieces_tree.ListPaths() == tree.ListPaths());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  MemoryRegistry registry;
  HiveDocument document;
  HiveError error;
  const bool parsed = document.Parse(text, &registry.tree(), &error);
  const size_t selector = size == 0 ? 0 : data[size - 1];
  constexpr size_t kPieces[] = {1, 2, 3, 5, 8, 13, 64, 4096};
  // Half the inputs are read as a large file is: keys added on a thread of
  // their own.
  const uint64_t size_hint = selector & 8 ? HiveDocument::kThreadedReadSize : text.size();
  CheckReadInPieces(text, kPieces[selector % 8], size_hint, parsed, error, registry.tree());
  if (!parsed) {
    Check(error.line >= 1 && !error.message.empty());
    return 0;
  }
  Check(document.ToString() == text);
  Check(DeepestLevel(registry.tree()) <= KeyTree::kMaxDepth);

  DeleteSomeTrees(&registry, selector % 3, 1 + selector / 3 % 5);
  const std::string written = document.ToString();
  KeyTree reread;
  HiveDocument again;
  Check(again.Parse(written, &reread, &error));
  Check(again.encoding() == document.encoding());
  Check(reread.ListPaths() == registry.tree().ListPaths());
  Check(again.ToString() == written);
  return 0;
}
