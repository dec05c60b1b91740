#include "winapi/key_tree.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

#include "winapi/code_page.h"

namespace {

constexpr size_t kNameBlockSize = 64 * 1024;
constexpr size_t kInitialIndexSlots = 64;

constexpr uint64_t kEveryByte = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// For hashing names: per byte, the smallest byte that folds as it does
// (upper case for the ASCII letters), so that names that match without
// regard to case hash alike.
const std::array<unsigned char, 256>& HashFoldTable() {
  static const std::array<unsigned char, 256> table = [] {
    std::array<unsigned char, 256> made{};
    for (int byte = 0; byte < 256; ++byte) {
      const char16_t folded = FoldedAnsi(static_cast<unsigned char>(byte));
      int smallest = 0;
      while (FoldedAnsi(static_cast<unsigned char>(smallest)) != folded) ++smallest;
      made[byte] = static_cast<unsigned char>(smallest);
    }
    return made;
  }();
  return table;
}

// Up to 8 bytes of a name, each replaced by its HashFoldTable byte, in one
// word (zero beyond `size`). Words of ASCII only, the common case, are
// folded a word at a time.
uint64_t FoldedWord(const char* bytes, size_t size) {
  uint64_t word = 0;
  std::memcpy(&word, bytes, size);
  if ((word & kHighBits) == 0) {
    // A lower-case letter's byte plus 0x80 - 'a' has its high bit set, and
    // plus 0x80 - 'z' - 1 has not; no byte carries into the next.
    const uint64_t from_a = word + kEveryByte * (0x80 - 'a');
    const uint64_t past_z = word + kEveryByte * (0x80 - 'z' - 1);
    const uint64_t lower = from_a & ~past_z & kHighBits;
    return word - (lower >> 2);  // 0x80 >> 2 is the case bit, 0x20
  }
  const std::array<unsigned char, 256>& fold = HashFoldTable();
  unsigned char folded[8] = {};
  for (size_t at = 0; at < size; ++at) folded[at] = fold[static_cast<unsigned char>(bytes[at])];
  std::memcpy(&word, folded, sizeof folded);  // laid out as the ASCII words are
  return word;
}

// Calls `visit` with each name of `path` between backslashes, skipping empty
// ones; stops early when `visit` returns a status other than 0.
template <typename Visit>
RegStatus ForEachName(std::string_view path, Visit visit) {
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      RegStatus status = visit(path.substr(start, end - start));
      if (status != kRegSuccess) return status;
    }
    start = end + 1;
  }
  return kRegSuccess;
}

}  // namespace

int CompareKeyNames(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    char16_t left = FoldedAnsi(static_cast<unsigned char>(a[i]));
    char16_t right = FoldedAnsi(static_cast<unsigned char>(b[i]));
    if (left != right) return left < right ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

namespace {

// Names found are mostly spelled alike: that is tested first.
bool SameKeyName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && (a == b || CompareKeyNames(a, b) == 0);
}

}  // namespace

bool KeyNameLess::operator()(const KeyNode* a, const KeyNode* b) const {
  return CompareKeyNames(a->name(), b->name()) < 0;
}
bool KeyNameLess::operator()(const KeyNode* a, std::string_view b) const {
  return CompareKeyNames(a->name(), b) < 0;
}
bool KeyNameLess::operator()(std::string_view a, const KeyNode* b) const {
  return CompareKeyNames(a, b->name()) < 0;
}

bool ListingLess::operator()(const KeyNode* a, const KeyNode* b) const {
  if (by_added) return a->added_ < b->added_;
  return CompareKeyNames(a->name(), b->name()) < 0;
}

static_assert(sizeof(KeyNode) <= 48, "a node per key: keep it small");

KeyNode* KeyTree::NodeStore::Add() {
  if ((size_ & (kBlock - 1)) == 0) blocks_.push_back(std::make_unique<KeyNode[]>(kBlock));
  return At(size_++);
}

KeyTree::KeyTree() { nodes_.Add(); }

KeyTree::~KeyTree() = default;

bool KeyTree::UseAddedOrder() {
  if (added_count_ != 0) return false;
  listing_.by_added = true;
  return true;
}

bool KeyTree::IsValidName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxNameLength &&
         name.find('\\') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

KeyNode* KeyTree::AddChild(KeyNode* parent, std::string_view name) {
  return AddChild(parent, name, ChildHash(parent->hash_, name));
}

KeyNode* KeyTree::AddChild(KeyNode* parent, std::string_view name, uint32_t hash) {
  if (parent->deleted_ || !IsValidName(name)) return nullptr;
  if (KeyNode* existing = FindHashedChild(parent, name, hash)) return existing;
  KeyNode* child = NewChild(parent, name);
  child->hash_ = hash;
  IndexInsert(nodes_.size() - 1, hash);
  return child;
}

void KeyTree::Prefetch(const uint32_t* hashes, size_t count, PrefetchStage stage) const {
  if (index_.empty()) return;
  const size_t mask = index_.size() - 1;
  for (size_t i = 0; i < count; ++i) {
    if (stage == PrefetchStage::kSlot) {
      __builtin_prefetch(&index_[hashes[i] & mask]);
    } else if (const IndexSlot* slot = FirstSlotWith(hashes[i])) {
      const KeyNode* key = nodes_.At(slot->node);
      __builtin_prefetch(stage == PrefetchStage::kKey ? static_cast<const void*>(key) : key->name_);
    }
  }
}

const KeyTree::IndexSlot* KeyTree::FirstSlotWith(uint32_t hash) const {
  const size_t mask = index_.size() - 1;
  for (size_t slot = hash & mask; index_[slot].node != 0; slot = (slot + 1) & mask) {
    if (index_[slot].hash == hash) return &index_[slot];
  }
  return nullptr;
}

KeyNode* KeyTree::AddUnmatchableChild(KeyNode* parent, std::string_view shown_name) {
  if (!listing_.by_added || parent->deleted_ || !IsValidName(shown_name)) return nullptr;
  KeyNode* child = NewChild(parent, shown_name);
  child->matchable_ = false;
  child->hash_ = ChildHash(parent->hash_, shown_name);  // spreads its subkeys' hashes
  return child;
}

KeyNode* KeyTree::NewChild(KeyNode* parent, std::string_view name) {
  KeyNode* child = nodes_.Add();
  child->name_ = StoreName(name);
  child->length_ = static_cast<uint16_t>(name.size());
  child->parent_ = parent;
  child->added_ = added_count_++;
  // Once a key's subkeys are in order they stay so: it is being enumerated.
  if (!parent->ordered_ || parent->ordered_->empty()) {
    child->next_unordered_ = parent->last_unordered_;
    parent->last_unordered_ = nodes_.size() - 1;
  } else {
    parent->ordered_->insert(parent->ordered_->end(), child);  // the place when by added
  }
  ++parent->child_count_;
  ++key_count_;
  ++generation_;
  return child;
}

KeyNode* KeyTree::AddPath(std::string_view path) {
  KeyNode* key = root();
  RegStatus status = ForEachName(path, [&](std::string_view name) {
    key = AddChild(key, name);
    return key != nullptr ? kRegSuccess : kRegInvalidParameter;
  });
  return status == kRegSuccess ? key : nullptr;
}

RegStatus KeyTree::Open(KeyNode* from, const char* path, KeyNode** key) const {
  if (from->deleted_) return kRegKeyDeleted;
  std::string_view rest = path != nullptr ? path : "";
  if (rest.size() > kMaxPathLength) return kRegMoreData;
  if (!rest.empty() && rest.front() == '\\') {
    // Only the root's predefined handle takes a path that starts at the top.
    if (from != root()) return kRegBadPathname;
    rest.remove_prefix(1);
    if (!rest.empty() && rest.front() == '\\') return kRegBadPathname;
  }
  return Walk(from, rest, key);
}

RegStatus KeyTree::Delete(KeyNode* from, const char* path) {
  if (path == nullptr) return kRegInvalidParameter;
  if (from->deleted_) return kRegKeyDeleted;
  std::string_view rest = path;
  if (rest.size() > kMaxPathLength) return kRegMoreData;
  if (!rest.empty() && rest.front() == '\\') return kRegBadPathname;
  KeyNode* target = nullptr;
  RegStatus status = Walk(from, rest, &target);
  if (status != kRegSuccess) return status;
  if (target == root() || target->child_count() != 0) return kRegAccessDenied;
  Remove(target);
  return kRegSuccess;
}

RegStatus KeyTree::EnumName(const KeyNode* key, uint32_t index, char* name,
                            uint32_t* capacity) const {
  if (key->deleted_) return kRegKeyDeleted;
  const KeyNode* child = ChildAt(key, index);
  if (child == nullptr) return kRegNoMoreItems;
  const uint32_t length = child->length_;
  if (*capacity < length + 1) return kRegMoreData;
  std::memcpy(name, child->name_, length);
  name[length] = '\0';
  *capacity = length;
  return kRegSuccess;
}

KeyNode* KeyTree::FindChild(const KeyNode* parent, std::string_view name) const {
  return FindHashedChild(parent, name, ChildHash(parent->hash_, name));
}

KeyNode* KeyTree::FindHashedChild(const KeyNode* parent, std::string_view name,
                                  uint32_t hash) const {
  if (parent->child_count_ == 0 || index_.empty()) return nullptr;
  const size_t mask = index_.size() - 1;
  for (size_t slot = hash & mask; index_[slot].node != 0; slot = (slot + 1) & mask) {
    if (index_[slot].hash != hash) continue;
    KeyNode* node = nodes_.At(index_[slot].node);
    if (node->parent_ == parent && SameKeyName(node->name(), name)) return node;
  }
  return nullptr;
}

KeyNode* KeyTree::ChildAt(const KeyNode* parent, uint32_t index) const {
  if (index >= parent->child_count()) return nullptr;
  const KeyNode::ChildSet& ordered = Ordered(parent);
  if (cursor_.parent != parent || cursor_.generation != generation_ || cursor_.index > index) {
    cursor_.parent = parent;
    cursor_.index = 0;
    cursor_.position = ordered.begin();
    cursor_.generation = generation_;
  }
  std::advance(cursor_.position, index - cursor_.index);
  cursor_.index = index;
  return *cursor_.position;
}

std::string KeyTree::PathOf(const KeyNode* key) const {
  std::vector<std::string_view> names;
  for (const KeyNode* node = key; node != nullptr && node != root(); node = node->parent_) {
    names.push_back(node->name());
  }
  std::string path;
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    if (!path.empty()) path += '\\';
    path.append(name->data(), name->size());
  }
  return path;
}

std::vector<std::string> KeyTree::ListPaths() const {
  std::vector<std::string> paths;
  std::vector<std::pair<const KeyNode*, std::string>> pending;
  pending.emplace_back(root(), std::string());
  while (!pending.empty()) {
    auto [node, path] = std::move(pending.back());
    pending.pop_back();
    if (node != root()) paths.push_back(path);
    if (node->child_count() == 0) continue;
    // Pushed in reverse so that the first subkey is visited first.
    const KeyNode::ChildSet& children = Ordered(node);
    for (auto child = children.rbegin(); child != children.rend(); ++child) {
      std::string child_path = path.empty() ? std::string() : path + '\\';
      child_path += (*child)->name();
      pending.emplace_back(*child, std::move(child_path));
    }
  }
  return paths;
}

RegStatus KeyTree::Walk(KeyNode* from, std::string_view path, KeyNode** key) const {
  KeyNode* node = from;
  RegStatus status = ForEachName(path, [&](std::string_view name) {
    if (name.size() > kMaxNameLength) return kRegInvalidParameter;
    node = FindChild(node, name);
    return node != nullptr ? kRegSuccess : kRegFileNotFound;
  });
  if (status == kRegSuccess) *key = node;
  return status;
}

const char* KeyTree::StoreName(std::string_view name) {
  if (name_blocks_.empty() || name_block_used_ + name.size() > kNameBlockSize) {
    name_blocks_.push_back(std::make_unique<char[]>(kNameBlockSize));
    name_block_used_ = 0;
  }
  char* stored = name_blocks_.back().get() + name_block_used_;
  std::memcpy(stored, name.data(), name.size());
  name_block_used_ += name.size();
  return stored;
}

void KeyTree::Remove(KeyNode* key) {
  // Put in order first, where the erase can find it.
  (void)Ordered(key->parent_).erase(key);
  --key->parent_->child_count_;
  if (key->matchable_) IndexErase(key);
  key->deleted_ = true;
  key->ordered_.reset();
  --key_count_;
  ++delete_count_;
  ++generation_;
}

KeyNode::ChildSet& KeyTree::Ordered(const KeyNode* parent) const {
  if (!parent->ordered_) parent->ordered_ = std::make_unique<KeyNode::ChildSet>(listing_);
  if (parent->last_unordered_ != 0) {
    std::vector<KeyNode*> unordered;
    for (uint32_t number = parent->last_unordered_; number != 0;) {
      KeyNode* child = nodes_.At(number);
      unordered.push_back(child);
      number = child->next_unordered_;
    }
    parent->last_unordered_ = 0;
    // The list holds the last added first: reversed, it is in the listing
    // order already when that is the added order.
    std::reverse(unordered.begin(), unordered.end());
    if (!listing_.by_added) std::sort(unordered.begin(), unordered.end(), KeyNameLess());
    for (KeyNode* child : unordered) parent->ordered_->insert(parent->ordered_->end(), child);
    // The cursor may stand in the set that just grew.
    cursor_ = EnumCursor();
  }
  return *parent->ordered_;
}

uint32_t KeyTree::ChildHash(uint32_t parent_hash, std::string_view name) {
  // A multiply-xor hash of the parent's hash and the folded name, a word of
  // 8 bytes at a time.
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
  uint64_t hash = ((uint64_t{parent_hash} << 16) ^ name.size()) * kMultiplier;
  for (size_t at = 0; at < name.size(); at += 8) {
    const uint64_t word = FoldedWord(name.data() + at, std::min<size_t>(8, name.size() - at));
    hash = (hash ^ word) * kMultiplier;
    hash ^= hash >> 29;
  }
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

size_t KeyTree::SlotOf(const KeyNode* node) const {
  const size_t mask = index_.size() - 1;
  size_t slot = node->hash_ & mask;
  while (nodes_.At(index_[slot].node) != node) slot = (slot + 1) & mask;
  return slot;
}

void KeyTree::IndexInsert(uint32_t node, uint32_t hash) {
  if ((indexed_ + 1) * 2 > index_.size()) {
    std::vector<IndexSlot> old(std::max(kInitialIndexSlots, index_.size() * 2));
    old.swap(index_);
    indexed_ = 0;
    for (const IndexSlot& kept : old) {
      if (kept.node != 0) IndexInsert(kept.node, kept.hash);
    }
  }
  const size_t mask = index_.size() - 1;
  size_t slot = hash & mask;
  while (index_[slot].node != 0) slot = (slot + 1) & mask;
  index_[slot] = IndexSlot{node, hash};
  ++indexed_;
}

void KeyTree::IndexErase(const KeyNode* node) {
  // Backward-shift deletion: the entries after the freed slot that cannot be
  // found past it any more move into it, so no probe meets a gap.
  const size_t mask = index_.size() - 1;
  size_t hole = SlotOf(node);
  index_[hole] = IndexSlot();
  --indexed_;
  for (size_t next = (hole + 1) & mask; index_[next].node != 0; next = (next + 1) & mask) {
    const size_t home = index_[next].hash & mask;
    // Whether `home` lies cyclically in (hole, next]: then it stays.
    const bool stays = hole <= next ? (home > hole && home <= next) : (home > hole || home <= next);
    if (stays) continue;
    index_[hole] = index_[next];
    index_[next] = IndexSlot();
    hole = next;
  }
}
