#include "winapi/key_tree.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "winapi/code_page.h"

namespace {

constexpr size_t kNameBlockSize = 64 * 1024;

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

bool KeyNameLess::operator()(const KeyNode* a, const KeyNode* b) const {
  return CompareKeyNames(a->name(), b->name()) < 0;
}
bool KeyNameLess::operator()(const KeyNode* a, std::string_view b) const {
  return CompareKeyNames(a->name(), b) < 0;
}
bool KeyNameLess::operator()(std::string_view a, const KeyNode* b) const {
  return CompareKeyNames(a, b->name()) < 0;
}

KeyTree::KeyTree() { nodes_.emplace_back(); }

KeyTree::~KeyTree() = default;

bool KeyTree::UseAddedOrder() {
  if (key_count_ != 0 || root()->child_count() != 0) return false;
  added_order_ = true;
  return true;
}

bool KeyTree::IsValidName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxNameLength &&
         name.find('\\') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

KeyNode* KeyTree::AddChild(KeyNode* parent, std::string_view name) {
  if (parent->deleted_ || !IsValidName(name)) return nullptr;
  if (KeyNode* existing = FindChild(parent, name)) return existing;
  KeyNode* child = NewChild(parent, name);
  auto placed = parent->children_->by_name.insert(child).first;
  KeyNode* previous = parent->children_->last;
  if (!added_order_) {
    previous = placed == parent->children_->by_name.begin() ? nullptr : *std::prev(placed);
  }
  LinkAfter(parent, previous, child);
  return child;
}

KeyNode* KeyTree::AddUnmatchableChild(KeyNode* parent, std::string_view shown_name) {
  if (!added_order_ || parent->deleted_ || !IsValidName(shown_name)) return nullptr;
  KeyNode* child = NewChild(parent, shown_name);
  child->matchable_ = false;
  LinkAfter(parent, parent->children_->last, child);
  return child;
}

KeyNode* KeyTree::NewChild(KeyNode* parent, std::string_view name) {
  nodes_.emplace_back();
  KeyNode* child = &nodes_.back();
  child->name_ = StoreName(name);
  child->length_ = static_cast<uint16_t>(name.size());
  child->parent_ = parent;
  if (!parent->children_) parent->children_ = std::make_unique<KeyNode::Children>();
  ++key_count_;
  ++generation_;
  return child;
}

void KeyTree::LinkAfter(KeyNode* parent, KeyNode* previous, KeyNode* child) {
  KeyNode::Children& children = *parent->children_;
  KeyNode* next = previous != nullptr ? previous->next_ : children.first;
  child->previous_ = previous;
  child->next_ = next;
  (previous != nullptr ? previous->next_ : children.first) = child;
  (next != nullptr ? next->previous_ : children.last) = child;
  ++children.count;
}

void KeyTree::Unlink(KeyNode* child) {
  KeyNode::Children& children = *child->parent_->children_;
  (child->previous_ != nullptr ? child->previous_->next_ : children.first) = child->next_;
  (child->next_ != nullptr ? child->next_->previous_ : children.last) = child->previous_;
  child->previous_ = child->next_ = nullptr;
  --children.count;
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
  if (!parent->children_) return nullptr;
  auto found = parent->children_->by_name.find(name);
  return found != parent->children_->by_name.end() ? *found : nullptr;
}

KeyNode* KeyTree::ChildAt(const KeyNode* parent, uint32_t index) const {
  if (index >= parent->child_count()) return nullptr;
  if (cursor_.parent != parent || cursor_.generation != generation_ || cursor_.index > index) {
    cursor_.parent = parent;
    cursor_.index = 0;
    cursor_.position = parent->children_->first;
    cursor_.generation = generation_;
  }
  for (; cursor_.index < index; ++cursor_.index) cursor_.position = cursor_.position->next_;
  return cursor_.position;
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
    if (!node->children_) continue;
    // Pushed in reverse so that the first subkey is visited first.
    for (KeyNode* child = node->children_->last; child != nullptr; child = child->previous_) {
      std::string child_path = path.empty() ? std::string() : path + '\\';
      child_path += child->name();
      pending.emplace_back(child, std::move(child_path));
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
  if (key->matchable_) key->parent_->children_->by_name.erase(key);
  Unlink(key);
  key->deleted_ = true;
  key->children_.reset();
  --key_count_;
  ++delete_count_;
  ++generation_;
}
