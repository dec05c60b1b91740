// Loads arbitrary bytes as a binary registry hive. A hive that loads has no
// key deeper than the platform allows; then some key trees are deleted as a
// run deletes a patch (enumerate index 0, delete the subkeys first), and the
// hive written after that must load again as exactly the tree that remains.
// The last input byte chooses the trees, and when odd has the base block's
// checksum made right first, so that inputs reach the hive bins.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/tree_depth.h"
#include "winapi/empty_hive.h"
#include "winapi/key_tree.h"
#include "winapi/regf_hive.h"

namespace {

constexpr size_t kMaxTrees = 16;
constexpr uint32_t kNameCapacity = 260;

void Check(bool condition) {
  if (!condition) std::abort();
}

void FixChecksum(std::string* bytes) {
  if (bytes->size() < empty_hive::kBaseBlockSize) return;
  const uint32_t sum = HiveHeaderChecksum(bytes->substr(0, empty_hive::kBaseBlockSize));
  hive_bytes::Put32(bytes, empty_hive::kChecksumOffset, sum);
}

// Deletes `top` and everything below it as a run does: the first subkey,
// deepest first, then the key itself. Stops at a key that cannot be deleted
// (one with a subkey no name finds).
void DeleteTree(KeyTree* tree, KeyNode* top) {
  std::vector<KeyNode*> stack{top};
  while (!stack.empty()) {
    KeyNode* key = stack.back();
    char name[kNameCapacity];
    uint32_t capacity = kNameCapacity;
    const RegStatus listed = tree->EnumName(key, 0, name, &capacity);
    if (listed == kRegSuccess) {
      KeyNode* child = nullptr;
      if (tree->Open(key, name, &child) == kRegSuccess) {
        stack.push_back(child);
        continue;
      }
      return;  // unmatchable: neither it nor the keys above it can go
    }
    Check(listed == kRegNoMoreItems);
    const std::string own(key->name());
    Check(tree->Delete(key->parent(), own.c_str()) == kRegSuccess);
    stack.pop_back();
  }
}

void DeleteSomeTrees(KeyTree* tree, size_t first, size_t stride) {
  std::vector<KeyNode*> tops;
  for (uint32_t i = static_cast<uint32_t>(first); tops.size() < kMaxTrees; i += stride) {
    KeyNode* child = tree->ChildAt(tree->root(), i);
    if (child == nullptr) break;
    tops.push_back(child);
  }
  for (KeyNode* top : tops) {
    if (top->matchable()) DeleteTree(tree, top);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  const unsigned selector = size == 0 ? 0 : data[size - 1];
  if (selector & 1) FixChecksum(&bytes);
  KeyTree tree;
  RegfHive hive;
  HiveError error;
  if (!hive.Parse(bytes, &tree, &error)) {
    Check(!error.message.empty());
    return 0;
  }
  Check(DeepestLevel(tree) <= KeyTree::kMaxDepth);
  DeleteSomeTrees(&tree, selector / 2 % 3, 1 + selector / 6 % 4);
  std::string written;
  if (!hive.Write([&](const char* piece, size_t length) {
        written.append(piece, length);
        return true;
      })) {
    return 0;  // a delete libhivex refused: nothing would reach the file
  }
  KeyTree reread;
  RegfHive again;
  Check(again.Parse(written, &reread, &error));
  Check(reread.ListPaths() == tree.ListPaths());
  return 0;
}
