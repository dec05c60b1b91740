// KeyTree: an in-memory hierarchy of registry keys below one root that
// behaves as the platform's registry does for the operations the cleaner
// uses: names matched without regard to case (the case of the first creation
// is kept), subkeys listed in the platform's order, and the platform's rules
// and status codes for key paths, deletes and deleted keys. Names are ANSI
// (Windows-1252) byte strings. Built for millions of keys, added in any
// order: keys are found by name through one hash index of the tree, and a
// key's subkeys are put in order only when they are first enumerated or
// lose one of them (so reading a file costs no ordered insert per key).
// A tree loaded from a binary hive lists subkeys in the order they were
// added instead (the hive's stored order), and may hold keys that are
// listed but that no name finds.
#ifndef BRINDLEX_WINAPI_KEY_TREE_H_
#define BRINDLEX_WINAPI_KEY_TREE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry.h"

// Orders key names as the platform lists them: by the UTF-16 code units of
// their characters folded to lower case, a prefix before longer names.
// Returns <0, 0 or >0. Names that compare 0 name the same key.
int CompareKeyNames(std::string_view a, std::string_view b);

class KeyNode;

struct KeyNameLess {
  using is_transparent = void;
  bool operator()(const KeyNode* a, const KeyNode* b) const;
  bool operator()(const KeyNode* a, std::string_view b) const;
  bool operator()(std::string_view a, const KeyNode* b) const;
};

// The listing order of a key's subkeys: the platform's name order, or the
// order in which they were added.
struct ListingLess {
  bool by_added = false;
  bool operator()(const KeyNode* a, const KeyNode* b) const;
};

// One key. Nodes are owned by their tree and stay valid as long as it lives,
// deleted ones included, so a handle to a deleted key can still be asked.
class KeyNode {
 public:
  KeyNode() = default;
  KeyNode(const KeyNode&) = delete;
  KeyNode& operator=(const KeyNode&) = delete;

  // The name as first created; empty for the root.
  std::string_view name() const { return std::string_view(name_, length_); }
  // The key that holds this one; null for the root. Kept after a delete.
  KeyNode* parent() const { return parent_; }
  bool deleted() const { return deleted_; }
  // Whether a name can find this key: false for a key added with
  // AddUnmatchableChild.
  bool matchable() const { return matchable_; }
  size_t child_count() const { return child_count_; }
  // What the tree finds this key by: KeyTree::ChildHash of its parent's
  // hash and its name (0 for the root).
  uint32_t hash() const { return hash_; }

 private:
  friend class KeyTree;
  friend struct ListingLess;
  using ChildSet = std::set<KeyNode*, ListingLess>;

  // 48 bytes: a tree holds a node per key of files of millions of keys.
  // A key's subkeys are a list of those added since they were last put in
  // order (the last added first, linked by node number: 0, the root's,
  // ends it) and a set of those in order, made only for a key whose subkeys
  // are listed or lose one, a few of all keys.
  const char* name_ = "";
  KeyNode* parent_ = nullptr;
  mutable std::unique_ptr<ChildSet> ordered_;
  uint32_t added_ = 0;  // the tree's count of keys when this one was added
  uint32_t hash_ = 0;
  mutable uint32_t last_unordered_ = 0;  // the list's first: the subkey added last
  uint32_t next_unordered_ = 0;  // in the parent's list: the subkey added before
  uint32_t child_count_ = 0;
  uint16_t length_ = 0;
  bool deleted_ = false;
  bool matchable_ = true;
};

class KeyTree {
 public:
  // Longest key name (one path component) the platform accepts.
  static constexpr size_t kMaxNameLength = 256;
  // Longest key path string, in bytes, that the platform's ANSI calls accept.
  static constexpr size_t kMaxPathLength = 260;
  // Deepest level below the root at which the platform's registry holds a
  // key. Not enforced by the tree; a registry that loads keys from a file
  // refuses deeper ones, so that a recursive delete stays within the stack.
  static constexpr size_t kMaxDepth = 512;

  KeyTree();
  ~KeyTree();
  KeyTree(const KeyTree&) = delete;
  KeyTree& operator=(const KeyTree&) = delete;

  KeyNode* root() { return nodes_.At(0); }
  const KeyNode* root() const { return nodes_.At(0); }

  // --- Building ---

  // Lists subkeys in the order they were added instead of the platform's
  // sorted order, as a registry that keeps its keys in a binary hive does
  // (it lists them in the order the hive stores them). Returns false, and
  // changes nothing, once the tree holds a key.
  bool UseAddedOrder();
  bool uses_added_order() const { return listing_.by_added; }

  // The subkey of `parent` named `name` without regard to case; created with
  // that spelling when there is none. Returns null, creating nothing, when
  // `parent` is deleted or `name` is empty, longer than kMaxNameLength or
  // holds a backslash or a zero byte.
  KeyNode* AddChild(KeyNode* parent, std::string_view name);

  // --- Building many keys ---
  // A key is found by a hash of its path that a caller can work out from
  // the names alone, so that it can have the lookups of a whole path wait
  // for memory at once instead of one after another.

  // The hash of the key named `name` below a key whose hash is
  // `parent_hash` (its KeyNode::hash()).
  static uint32_t ChildHash(uint32_t parent_hash, std::string_view name);
  // Starts reading into the cache what finding the keys of `hashes` reads,
  // for AddChild calls to come; changes nothing. A lookup reads three
  // things one after another: its slot of the index, the key found there
  // and that key's name. Each stage starts one of them, and reads the one
  // before, best started some time before.
  enum class PrefetchStage { kSlot, kKey, kName };
  void Prefetch(const uint32_t* hashes, size_t count, PrefetchStage stage) const;
  // AddChild with `hash` = ChildHash(parent->hash(), name).
  KeyNode* AddChild(KeyNode* parent, std::string_view name, uint32_t hash);

  // Adds a subkey of `parent`, listed as `shown_name` after the subkeys
  // added before it, that no name finds: a key whose real name has no form
  // in the ANSI code page, so that an ANSI call can list it (with the
  // code page's substitutes) but never open or delete it. It counts as a
  // subkey, so its parent cannot be deleted. Returns null, adding nothing,
  // unless the tree uses the added order, or when AddChild would refuse
  // `parent` or `shown_name`.
  KeyNode* AddUnmatchableChild(KeyNode* parent, std::string_view shown_name);

  // Adds every key on `path` below the root (names separated by
  // backslashes; empty names are skipped). Returns the last key, the root
  // when the path names none, or null when a name is refused by AddChild
  // (keys before it stay).
  KeyNode* AddPath(std::string_view path);

  // --- Platform operations (RegOpenKeyExA, RegDeleteKeyA, RegEnumKeyExA) ---
  // `from` is the key a path starts at; the root stands for the root's
  // predefined handle. A null path is read as "".

  // Finds `path` below `from`. Returns 0 and stores the key in `*key` (the
  // root or `from` itself for a path without names). Else `*key` is left
  // unchanged and the result is: 1018 when `from` is deleted; 234 when the
  // path is longer than kMaxPathLength; 161 when it starts with a backslash
  // (the root accepts one leading backslash); 87 when a name on the way is
  // longer than kMaxNameLength; 2 when a key on the way does not exist.
  // Backslashes at the end and doubled ones are ignored.
  RegStatus Open(KeyNode* from, const char* path, KeyNode** key) const;

  // Deletes the key that Open(from, path) would find. Returns 0 when it was
  // deleted; 87 for a null path; Open's codes, except that a leading
  // backslash always gives 161; 5 when the key still has subkeys or is the
  // root. On failure nothing changes.
  RegStatus Delete(KeyNode* from, const char* path);

  // Names the subkey of `key` at `index` in the platform's order. `*capacity`
  // is the size of `name` in bytes. Returns 0, the name with its terminator
  // in `name` and its length (terminator excluded) in `*capacity`; 1018 when
  // `key` is deleted, 259 when there is no such subkey and 234 when the name
  // and terminator do not fit, each leaving `name` and `*capacity` unchanged.
  RegStatus EnumName(const KeyNode* key, uint32_t index, char* name, uint32_t* capacity) const;

  // --- Inspection ---

  // The subkey of `parent` named `name` without regard to case, or null.
  KeyNode* FindChild(const KeyNode* parent, std::string_view name) const;
  // The subkey at `index` in the platform's order, or null. Walking the
  // indexes upwards costs constant time per step.
  KeyNode* ChildAt(const KeyNode* parent, uint32_t index) const;
  // The names from below the root down to `key`, joined by backslashes;
  // empty for the root.
  std::string PathOf(const KeyNode* key) const;
  // The path of every existing key below the root: each key before its
  // subkeys, subkeys in the platform's order.
  std::vector<std::string> ListPaths() const;
  // Existing keys below the root.
  size_t key_count() const { return key_count_; }
  // Successful deletes so far.
  uint64_t delete_count() const { return delete_count_; }

 private:
  struct EnumCursor {
    const KeyNode* parent = nullptr;
    uint32_t index = 0;
    KeyNode::ChildSet::const_iterator position;
    uint64_t generation = 0;
  };

  RegStatus Walk(KeyNode* from, std::string_view path, KeyNode** key) const;
  static bool IsValidName(std::string_view name);
  // A new subkey of `parent`, put into its listing but not into the index.
  KeyNode* NewChild(KeyNode* parent, std::string_view name);
  const char* StoreName(std::string_view name);
  void Remove(KeyNode* key);
  // The subkeys of `parent` in the platform's order (`parent` has some).
  KeyNode::ChildSet& Ordered(const KeyNode* parent) const;

  // Every node ever made, by number in the order made (the root is 0), in
  // blocks that never move.
  class NodeStore {
   public:
    // A new node; its number is size() - 1 afterwards.
    KeyNode* Add();
    KeyNode* At(uint32_t number) const { return &blocks_[number >> kShift][number & (kBlock - 1)]; }
    uint32_t size() const { return size_; }

   private:
    static constexpr uint32_t kShift = 12;
    static constexpr uint32_t kBlock = 1u << kShift;
    std::vector<std::unique_ptr<KeyNode[]>> blocks_;
    uint32_t size_ = 0;
  };

  // The index: every existing key but the root, by its hash (of its path,
  // names folded), in an open-addressing table (linear probing, at most
  // half full) of node numbers. A slot holds the key's hash beside it, so
  // that a probe past other keys does not have to read them.
  struct IndexSlot {
    uint32_t node = 0;  // 0, the root's, never indexed: free
    uint32_t hash = 0;
  };
  // FindChild with `hash` = ChildHash(parent->hash(), name) already known.
  KeyNode* FindHashedChild(const KeyNode* parent, std::string_view name, uint32_t hash) const;
  size_t SlotOf(const KeyNode* node) const;
  // The first slot of the index that holds a key of hash `hash`, or null.
  const IndexSlot* FirstSlotWith(uint32_t hash) const;
  // Puts the node numbered `node`, whose hash is `hash`, into the index.
  void IndexInsert(uint32_t node, uint32_t hash);
  void IndexErase(const KeyNode* node);

  NodeStore nodes_;
  std::vector<IndexSlot> index_;  // a power of two of slots
  size_t indexed_ = 0;
  std::vector<std::unique_ptr<char[]>> name_blocks_;
  size_t name_block_used_ = 0;
  size_t key_count_ = 0;
  uint64_t delete_count_ = 0;
  uint64_t generation_ = 0;  // changes with every insert and delete
  uint32_t added_count_ = 0;  // keys ever added (a node each: far fewer than 2^32 fit in memory)
  ListingLess listing_;
  mutable EnumCursor cursor_;
};

#endif  // BRINDLEX_WINAPI_KEY_TREE_H_
