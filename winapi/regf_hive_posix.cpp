#include <fcntl.h>
#include <hivex.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "winapi/code_page.h"
#include "winapi/regf_hive.h"

namespace {

constexpr size_t kCopyChunk = 1 << 20;

struct HiveCloser {
  void operator()(hive_h* hive) const { hivex_close(hive); }
};
using HiveHandle = std::unique_ptr<hive_h, HiveCloser>;

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};
using NodeList = std::unique_ptr<hive_node_h[], FreeDeleter>;
using CName = std::unique_ptr<char[], FreeDeleter>;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// libhivex takes only file names: "/proc/self/fd/N" names an open file.
std::string PathOf(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t put = write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

std::string ErrnoText() { return errno != 0 ? std::strerror(errno) : "unknown error"; }

bool IsAsciiClasses(const char* name) {
  static const char kClasses[] = "classes";
  for (size_t i = 0; i < sizeof kClasses; ++i) {
    const char c = name[i];
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
    if (lower != kClasses[i]) return false;
  }
  return true;
}

// The ANSI form of a hive name: exact when every character has a byte of
// its own (`*exact` true), else with substitutes as the platform's ANSI
// calls show it.
std::string AnsiNameOf(const char* utf8, bool* exact) {
  const std::u16string units = Utf8ToUnits(utf8);
  std::string ansi;
  ansi.reserve(units.size());
  *exact = true;
  for (char16_t unit : units) {
    unsigned char byte = 0;
    if (!Utf16ToAnsi(unit, &byte)) {
      *exact = false;
      return UnitsToAnsi(units);
    }
    ansi.push_back(static_cast<char>(byte));
  }
  return ansi;
}

}  // namespace

class RegfHive::Impl {
 public:
  bool Parse(std::string bytes, KeyTree* tree, std::string* error);
  bool Write(const HiveSink& sink);
  bool WriteToFile(int fd);
  size_t key_count() const { return keys_.size(); }
  bool classes_below_root() const { return classes_below_root_; }

 private:
  struct Loaded {
    KeyNode* key;
    hive_node_h node;
  };
  struct Pending {
    KeyNode* key;
    hive_node_h node;
    size_t level;  // of `key`; 0 for HKEY_CLASSES_ROOT
  };

  bool Open(std::string bytes, std::string* error);
  bool FindClassesRoot(hive_node_h* top, std::string* error);
  bool LoadKeys(hive_node_h top, std::string* error);
  bool LoadChildren(const Pending& parent, std::vector<Pending>* pending, std::string* error);
  bool AddKey(const Pending& parent, hive_node_h node, std::string* error);
  bool MarkSeen(hive_node_h node);
  std::string Describe(const KeyNode* key) const;
  bool ApplyDeletes();
  bool Commit(int fd);

  HiveHandle hive_;
  KeyTree* tree_ = nullptr;
  size_t size_ = 0;
  std::vector<Loaded> keys_;  // every parent before its subkeys
  std::vector<bool> removed_;  // per key: no longer in the hive
  std::vector<bool> seen_;     // per 8-byte cell offset: a key already read
  bool classes_below_root_ = false;
  bool broken_ = false;
};

bool RegfHive::Impl::Parse(std::string bytes, KeyTree* tree, std::string* error) {
  RegfHeader header;
  if (!CheckHiveHeader(bytes, &header, error)) return false;
  if (!tree->UseAddedOrder()) {
    *error = "the registry already holds keys";
    return false;
  }
  tree_ = tree;
  size_ = bytes.size();
  if (!Open(std::move(bytes), error)) return false;
  hive_node_h top = 0;
  return FindClassesRoot(&top, error) && LoadKeys(top, error);
}

bool RegfHive::Impl::Open(std::string bytes, std::string* error) {
  // The bytes are what the caller read under its lock: the hive is loaded
  // from them, not from the file again.
  Descriptor copy(memfd_create("brindlex-hive", MFD_CLOEXEC));
  if (copy.get() < 0 || !WriteAll(copy.get(), bytes.data(), bytes.size())) {
    *error = "cannot hold the hive in memory: " + ErrnoText();
    return false;
  }
  bytes = std::string();
  errno = 0;
  hive_.reset(hivex_open(PathOf(copy.get()).c_str(), HIVEX_OPEN_WRITE));
  if (!hive_) {
    *error = "libhivex cannot read the hive: " + ErrnoText();
    return false;
  }
  seen_.assign(size_ / 8 + 1, false);
  return true;
}

bool RegfHive::Impl::FindClassesRoot(hive_node_h* top, std::string* error) {
  const hive_node_h root = hivex_root(hive_.get());
  errno = 0;
  NodeList children(root != 0 ? hivex_node_children(hive_.get(), root) : nullptr);
  if (!children) {
    *error = "the hive's root key cannot be read: " + ErrnoText();
    return false;
  }
  *top = root;
  for (size_t i = 0; children[i] != 0; ++i) {
    CName name(hivex_node_name(hive_.get(), children[i]));
    if (!name) {
      *error = "a key name below the hive's root cannot be read: " + ErrnoText();
      return false;
    }
    if (!IsAsciiClasses(name.get())) continue;
    if (classes_below_root_) {
      *error = "the hive's root holds two Classes keys";
      return false;
    }
    classes_below_root_ = true;
    *top = children[i];
  }
  MarkSeen(*top);
  return true;
}

bool RegfHive::Impl::LoadKeys(hive_node_h top, std::string* error) {
  std::vector<Pending> pending{{tree_->root(), top, 0}};
  while (!pending.empty()) {
    const Pending parent = pending.back();
    pending.pop_back();
    if (!LoadChildren(parent, &pending, error)) {
      if (parent.key == tree_->root() && classes_below_root_) {
        *error = "the hive's Classes key cannot be used: " + *error;
      }
      return false;
    }
  }
  removed_.assign(keys_.size(), false);
  return true;
}

bool RegfHive::Impl::LoadChildren(const Pending& parent, std::vector<Pending>* pending,
                                  std::string* error) {
  errno = 0;
  NodeList children(hivex_node_children(hive_.get(), parent.node));
  if (!children) {
    *error = "the subkeys of " + Describe(parent.key) + " cannot be read: " + ErrnoText();
    return false;
  }
  const size_t first = keys_.size();
  for (size_t i = 0; children[i] != 0; ++i) {
    if (!AddKey(parent, children[i], error)) return false;
  }
  if (first != keys_.size() && parent.level + 1 > KeyTree::kMaxDepth) {
    *error = "key nested deeper than 512 levels below " + Describe(parent.key);
    return false;
  }
  for (size_t i = keys_.size(); i > first; --i) {
    pending->push_back({keys_[i - 1].key, keys_[i - 1].node, parent.level + 1});
  }
  return true;
}

bool RegfHive::Impl::AddKey(const Pending& parent, hive_node_h node, std::string* error) {
  const std::string where = "below " + Describe(parent.key);
  // Deleting a key changes the list of the parent its own link names, and
  // frees everything below it: a key must have one place in the tree.
  if (!MarkSeen(node) || hivex_node_parent(hive_.get(), node) != parent.node) {
    *error = "a key " + where + " is linked from more than one place";
    return false;
  }
  CName utf8(hivex_node_name(hive_.get(), node));
  if (!utf8) {
    *error = "a key name " + where + " cannot be read: " + ErrnoText();
    return false;
  }
  bool exact = false;
  const std::string name = AnsiNameOf(utf8.get(), &exact);
  if (name.size() > KeyTree::kMaxNameLength) {
    *error = "key name longer than 256 characters " + where;
    return false;
  }
  if (exact && tree_->FindChild(parent.key, name) != nullptr) {
    *error = "two keys named \"" + name + "\" " + where;
    return false;
  }
  KeyNode* key = exact ? tree_->AddChild(parent.key, name)
                       : tree_->AddUnmatchableChild(parent.key, name);
  if (key == nullptr) {
    *error = "a key name " + where + " is empty or holds a backslash";
    return false;
  }
  keys_.push_back({key, node});
  return true;
}

bool RegfHive::Impl::MarkSeen(hive_node_h node) {
  const size_t slot = node / 8;
  if (slot >= seen_.size() || seen_[slot]) return false;
  seen_[slot] = true;
  return true;
}

std::string RegfHive::Impl::Describe(const KeyNode* key) const {
  const std::string path = tree_->PathOf(key);
  return path.empty() ? "HKEY_CLASSES_ROOT" : "HKEY_CLASSES_ROOT\\" + path;
}

bool RegfHive::Impl::ApplyDeletes() {
  if (broken_) return false;
  // Parents come before their subkeys, so the top of a deleted subtree is
  // met before anything below it; the tree deletes only keys without
  // subkeys, so everything below a deleted key is deleted too.
  for (size_t i = 0; i < keys_.size(); ++i) {
    const KeyNode* key = keys_[i].key;
    if (!key->deleted() || removed_[i]) continue;
    if (key->parent()->deleted()) {
      removed_[i] = true;  // freed with the top of its subtree
      continue;
    }
    if (hivex_node_delete_child(hive_.get(), keys_[i].node) != 0) {
      broken_ = true;  // the hive in memory may be half changed
      return false;
    }
    removed_[i] = true;
  }
  return true;
}

bool RegfHive::Impl::Commit(int fd) {
  if (!ApplyDeletes()) return false;
  return hivex_commit(hive_.get(), PathOf(fd).c_str(), 0) == 0;
}

bool RegfHive::Impl::WriteToFile(int fd) { return Commit(fd); }

bool RegfHive::Impl::Write(const HiveSink& sink) {
  Descriptor copy(memfd_create("brindlex-hive-out", MFD_CLOEXEC));
  if (copy.get() < 0 || !Commit(copy.get())) return false;
  std::vector<char> chunk(kCopyChunk);
  off_t at = 0;
  for (;;) {
    const ssize_t got = pread(copy.get(), chunk.data(), chunk.size(), at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!sink(chunk.data(), static_cast<size_t>(got))) return false;
    at += got;
  }
}

RegfHive::RegfHive() : impl_(std::make_unique<Impl>()) {}
RegfHive::~RegfHive() = default;

bool RegfHive::Parse(std::string bytes, KeyTree* tree, HiveError* error) {
  error->line = 0;
  return impl_->Parse(std::move(bytes), tree, &error->message);
}

bool RegfHive::Write(const HiveSink& sink) const { return impl_->Write(sink); }
bool RegfHive::WriteToFile(int fd) const { return impl_->WriteToFile(fd); }
size_t RegfHive::key_count() const { return impl_->key_count(); }
bool RegfHive::classes_below_root() const { return impl_->classes_below_root(); }
