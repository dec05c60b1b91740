#include <fcntl.h>
#include <hivex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "winapi/code_page.h"
#include "winapi/empty_hive.h"
#include "winapi/posix_file.h"
#include "winapi/regf_hive.h"

namespace {

struct HiveCloser {
  void operator()(hive_h* hive) const { hivex_close(hive); }
};
using HiveHandle = std::unique_ptr<hive_h, HiveCloser>;

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};
using NodeList = std::unique_ptr<hive_node_h[], FreeDeleter>;
using CName = std::unique_ptr<char[], FreeDeleter>;

// libhivex takes only file names: "/proc/self/fd/N" names an open file.
std::string PathOf(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

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
  const char* end = utf8;
  while (*end != '\0' && static_cast<unsigned char>(*end) < 0x80) ++end;
  if (*end == '\0') {  // ASCII, as nearly every name is: the bytes themselves
    *exact = true;
    return std::string(utf8, end);
  }
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


using PipeReader = std::function<bool(int pipe)>;

constexpr size_t kPipeSize = 1 << 20;

// Reads `pipe` up to its end, a chunk at a time, into `take`. Returns false
// with errno set when a read fails, or when `take` returned false.
bool ReadEach(int pipe, const HiveSink& take) {
  std::vector<char> chunk(kPipeSize);
  for (;;) {
    const ssize_t got = read(pipe, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got == 0;
    if (!take(chunk.data(), static_cast<size_t>(got))) return false;
  }
}

// Writes what `pipe` delivers, up to its end, to `fd` at its offset.
// Returns false with errno set.
bool WriteFromPipe(int pipe, int fd) {
  DirectWriter out(fd);
  for (;;) {
    const ssize_t got = read(pipe, out.room(), out.room_size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    FileStatus status = got > 0 ? out.Took(static_cast<size_t>(got)) : out.Finish();
    if (!status.ok()) errno = status.error();
    if (!status.ok() || got == 0) return status.ok();
  }
}

// Runs libhivex's commit of `hive` into a pipe that `drain`, on a second
// thread, reads to its end. libhivex writes only to a file it opens by name
// and truncates, which would give up the room reserved for the new file and
// would need a copy of the whole hive in memory first. Returns false with
// errno set when the commit or `drain` failed.
bool CommitThroughPipe(hive_h* hive, const PipeReader& drain) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  ScopedFd read_end(ends[0]);
  ScopedFd write_end(ends[1]);
  (void)fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(kPipeSize));  // fewer, larger moves
  bool drained = false;
  int drain_error = 0;
  std::thread reader;
  try {
    reader = std::thread([&] {
      drained = drain(read_end.get());
      drain_error = errno;
      // The commit blocks on a full pipe: take the rest of what it writes.
      if (!drained) (void)ReadEach(read_end.get(), [](const char*, size_t) { return true; });
    });
  } catch (const std::system_error& error) {
    errno = error.code().value();
    return false;
  }
  const bool committed = hivex_commit(hive, PathOf(ends[1]).c_str(), 0) == 0;
  const int commit_error = errno;
  write_end.Reset();  // the reader sees the end of the pipe
  reader.join();
  if (!committed) errno = commit_error;
  if (committed && !drained) errno = drain_error;
  return committed && drained;
}

constexpr size_t kBins = 0x1000;        // file offset of the first hive bin
constexpr uint32_t kNone = 0xFFFFFFFF;  // a cell reference to nothing

// The hive's bytes as they were loaded, for the checks made before libhivex
// deletes anything: the caller's copy in memory, or the locked file read
// again a window at a time, so that a large hive is not held in memory a
// second time beside libhivex's own copy.
class HiveImage {
 public:
  explicit HiveImage(size_t size) : size_(size) {}
  virtual ~HiveImage() = default;
  HiveImage(const HiveImage&) = delete;
  HiveImage& operator=(const HiveImage&) = delete;

  size_t size() const { return size_; }
  // The `length` bytes at `at`, valid until the next call; shorter (empty)
  // when they lie beyond the end or cannot be read.
  virtual std::string_view Read(size_t at, size_t length) = 0;

 private:
  size_t size_;
};

class MemoryImage : public HiveImage {
 public:
  explicit MemoryImage(std::string bytes) : HiveImage(bytes.size()), bytes_(std::move(bytes)) {}
  std::string_view Read(size_t at, size_t length) override {
    return at < bytes_.size() ? std::string_view(bytes_).substr(at, length) : std::string_view();
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// Windows of the file in a small direct-mapped cache: the checks read a few
// fields of each cell of the keys deleted and the cell sizes of the bins
// those cells are in, which lie close together.
class FileImage : public HiveImage {
 public:
  FileImage(int fd, size_t size) : HiveImage(size), fd_(fd), windows_(kWindows) {}

  std::string_view Read(size_t at, size_t length) override {
    if (at >= size()) return {};
    length = std::min(length, size() - at);
    const size_t first = at / kWindowSize;
    if ((at + length - 1) / kWindowSize != first) return ReadAlone(at, length);
    const std::string& window = Window(first);
    const size_t offset = at - first * kWindowSize;
    return std::string_view(window).substr(offset, length);
  }

 private:
  static constexpr size_t kWindowSize = 64 * 1024;
  static constexpr size_t kWindows = 256;
  struct Slot {
    size_t number = SIZE_MAX;
    std::string bytes;
  };

  const std::string& Window(size_t number) {
    Slot& slot = windows_[number % kWindows];
    if (slot.number != number) {
      const size_t start = number * kWindowSize;
      slot.bytes.resize(std::min(kWindowSize, size() - start));
      if (!ReadInto(start, &slot.bytes)) slot.bytes.clear();
      slot.number = number;
    }
    return slot.bytes;
  }

  // Bytes across two windows: the file is read for them alone.
  std::string_view ReadAlone(size_t at, size_t length) {
    if (at >= size()) return {};
    alone_.resize(std::min(length, size() - at));
    if (!ReadInto(at, &alone_)) alone_.clear();
    return alone_;
  }

  bool ReadInto(size_t at, std::string* bytes) {
    size_t done = 0;
    while (done < bytes->size()) {
      const ssize_t got = ReadAt(fd_, bytes->data() + done, bytes->size() - done, at + done);
      if (got <= 0) return false;
      done += static_cast<size_t>(got);
    }
    return true;
  }

  int fd_;
  std::vector<Slot> windows_;
  std::string alone_;
};

// Checks, before libhivex deletes anything, that every cell its delete of
// some keys will free is a cell in use and is freed once: libhivex aborts
// the process on freeing a cell that is not (a damaged hive can share a
// value list or data cell between keys), and it fails half-way through
// when a parent's subkey list is of a kind it cannot unlink from.
class DeleteCheck {
 public:
  explicit DeleteCheck(HiveImage* image)
      : image_(*image), used_(image->size() / 8 + 1), claimed_(used_.size()) {
    ListBins();
  }

  // Claims the cells that deleting the key cell `node` itself frees.
  bool ClaimKey(size_t node) {
    return Claim(node, "nk") && ClaimSubkeyLists(Field(node, 0x1C)) &&
           ClaimValues(Field(node, 0x24), Field(node, 0x28)) && ClaimOptional(Field(node, 0x30)) &&
           UseSecurity(Field(node, 0x2C));
  }

  // Whether the subkey lists of the key cell `parent` hold `node` in a
  // leaf list ("lf" or "lh"), the only kind libhivex unlinks from.
  bool ParentListHolds(size_t parent, size_t node) {
    const uint32_t list = Field(parent, 0x1C);
    if (list == kNone || !IsUsed(kBins + list)) return false;
    const size_t at = kBins + list;
    if (Is(at, "ri")) {
      for (uint16_t i = 0; i < Count(at); ++i) {
        const uint32_t sub = Get32(at + 8 + 4 * i);
        if (IsUsed(kBins + sub) && LeafHolds(kBins + sub, node)) return true;
      }
      return false;
    }
    return LeafHolds(at, node);
  }

 private:
  struct Bin {
    size_t start;
    size_t size;
    bool mapped;  // its cells are in used_
  };

  // The hive bins, from the first up to one that is not a bin: only their
  // headers are read (the file's windows one after another), and a bin's
  // cells are mapped only when a claim reaches into it.
  void ListBins() {
    for (size_t bin = kBins; bin + 0x20 <= image_.size();) {
      const std::string_view header = image_.Read(bin, 12);
      if (header.size() != 12 || header.substr(0, 4) != "hbin") return;
      const uint32_t size = hive_bytes::Get32(header, 8);
      if (size < 0x20 || bin + size > image_.size()) return;
      bins_.push_back({bin, size, false});
      bin += size;
    }
  }

  // Marks the cells in use of `bin`, up to one whose size is impossible.
  void MapCells(const Bin& bin) {
    const size_t end = bin.start + bin.size;
    for (size_t cell = bin.start + 0x20; cell + 4 <= end;) {
      const int32_t length = static_cast<int32_t>(Get32(cell));
      const size_t span = length < 0 ? 0 - static_cast<size_t>(length) : static_cast<size_t>(length);
      if (span < 8 || cell + span > end) break;
      if (length < 0) used_[cell / 8] = true;
      cell += span;
    }
  }

  // Whether a cell in use starts at the file offset `at`.
  bool IsUsed(size_t at) {
    if (at % 8 != 0 || at / 8 >= used_.size()) return false;
    auto after = std::upper_bound(bins_.begin(), bins_.end(), at,
                                  [](size_t offset, const Bin& bin) { return offset < bin.start; });
    if (after == bins_.begin()) return false;
    Bin& bin = *(after - 1);
    if (at >= bin.start + bin.size) return false;
    if (!bin.mapped) {
      MapCells(bin);
      bin.mapped = true;
    }
    return used_[at / 8];
  }

  uint32_t Get32(size_t at) const {
    const std::string_view bytes = image_.Read(at, 4);
    return bytes.size() == 4 ? hive_bytes::Get32(bytes, 0) : kNone;
  }
  uint16_t Count(size_t cell) const { return static_cast<uint16_t>(Get32(cell + 6) & 0xFFFF); }
  uint32_t Field(size_t cell, size_t offset) const { return Get32(cell + 4 + offset); }
  bool Is(size_t cell, const char* id) const { return image_.Read(cell + 4, 2) == id; }

  bool Claim(size_t cell, const char* id = nullptr) {
    if (!IsUsed(cell) || (id != nullptr && !Is(cell, id))) return false;
    return ClaimOnce(cell);
  }
  // Cells are 8-byte aligned (IsUsed checked it): one bit each.
  bool ClaimOnce(size_t cell) {
    if (claimed_[cell / 8]) return false;
    claimed_[cell / 8] = true;
    return true;
  }
  bool ClaimOptional(uint32_t offset) { return offset == kNone || Claim(kBins + offset); }

  bool ClaimSubkeyLists(uint32_t offset) {
    if (offset == kNone) return true;
    const size_t list = kBins + offset;
    if (!Claim(list)) return false;
    if (!Is(list, "ri")) return true;
    for (uint16_t i = 0; i < Count(list); ++i) {
      if (!Claim(kBins + Get32(list + 8 + 4 * i))) return false;
    }
    return true;
  }

  bool ClaimValues(uint32_t count, uint32_t offset) {
    if (offset == kNone) return true;
    const size_t list = kBins + offset;
    if (!Claim(list)) return false;
    for (uint32_t i = 0; i < count; ++i) {
      const size_t value = kBins + Get32(list + 4 + 4 * size_t{i});
      if (!Claim(value, "vk")) return false;
      const uint32_t length = Field(value, 0x04);
      if ((length & 0x80000000u) == 0 && !Claim(kBins + size_t{Field(value, 0x08)})) return false;
    }
    return true;
  }

  bool UseSecurity(uint32_t offset) {
    if (offset == kNone) return true;
    const size_t cell = kBins + offset;
    if (!IsUsed(cell) || !Is(cell, "sk")) return false;
    const uint32_t users = Field(cell, 0x0C);
    uint32_t& released = security_uses_[cell];
    if (released >= users) return false;
    return ++released < users || ClaimOnce(cell);
  }

  bool LeafHolds(size_t list, size_t node) const {
    if (!Is(list, "lf") && !Is(list, "lh")) return false;
    for (uint16_t i = 0; i < Count(list); ++i) {
      if (kBins + Get32(list + 8 + 8 * size_t{i}) == node) return true;
    }
    return false;
  }

  HiveImage& image_;
  std::vector<Bin> bins_;
  std::vector<bool> used_;  // per 8 bytes: a cell in use starts there
  std::vector<bool> claimed_;
  std::unordered_map<size_t, uint32_t> security_uses_;
};

}  // namespace

class RegfHive::Impl {
 public:
  bool ParseBytes(std::string bytes, KeyTree* tree, std::string* error);
  bool ParseFile(int file, KeyTree* tree, std::string* error);
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

  // Loads the hive libhivex reads from `file`, whose bytes `image` holds.
  bool Load(std::unique_ptr<HiveImage> image, int file, KeyTree* tree, std::string* error);
  bool FindClassesRoot(hive_node_h* top, std::string* error);
  bool LoadKeys(hive_node_h top, std::string* error);
  bool LoadChildren(const Pending& parent, std::vector<Pending>* pending, std::string* error);
  bool AddKey(const Pending& parent, hive_node_h node, std::string* error);
  bool MarkSeen(hive_node_h node);
  std::string Describe(const KeyNode* key) const;
  bool ApplyDeletes();
  // The indexes of the tops of the deleted subtrees not yet removed, when
  // libhivex can delete all of them safely; false (and none) otherwise.
  bool SafeDeletes(std::vector<size_t>* tops);
  bool Commit(const PipeReader& drain);

  HiveHandle hive_;
  std::unique_ptr<HiveImage> image_;  // the hive as loaded
  std::unique_ptr<DeleteCheck> check_;  // made with the first delete
  KeyTree* tree_ = nullptr;
  std::vector<Loaded> keys_;  // every parent before its subkeys
  std::vector<bool> removed_;  // per key: no longer in the hive
  std::vector<bool> seen_;     // per 8-byte cell offset: a key already read
  bool classes_below_root_ = false;
  bool broken_ = false;
};

bool RegfHive::Impl::ParseBytes(std::string bytes, KeyTree* tree, std::string* error) {
  RegfHeader header;
  if (!CheckHiveHeader(bytes, &header, error)) return false;
  auto image = std::make_unique<MemoryImage>(std::move(bytes));
  // libhivex reads only files: it loads the bytes from a file in memory.
  ScopedFd copy(memfd_create("brindlex-hive", MFD_CLOEXEC));
  if (copy.get() < 0 || !WriteAll(copy.get(), image->bytes().data(), image->size()).ok()) {
    *error = "cannot hold the hive in memory: " + ErrnoText();
    return false;
  }
  return Load(std::move(image), copy.get(), tree, error);
}

bool RegfHive::Impl::ParseFile(int file, KeyTree* tree, std::string* error) {
  struct stat info;
  if (fstat(file, &info) != 0) {
    *error = "the hive cannot be read: " + ErrnoText();
    return false;
  }
  auto image = std::make_unique<FileImage>(file, static_cast<size_t>(info.st_size));
  const std::string base_block(image->Read(0, kBins));
  RegfHeader header;
  if (!CheckHiveHeader(base_block, image->size(), &header, error)) return false;
  return Load(std::move(image), file, tree, error);
}

bool RegfHive::Impl::Load(std::unique_ptr<HiveImage> image, int file, KeyTree* tree,
                          std::string* error) {
  if (!tree->UseAddedOrder()) {
    *error = "the registry already holds keys";
    return false;
  }
  tree_ = tree;
  image_ = std::move(image);  // kept for checking deletes against the cells
  errno = 0;
  hive_.reset(hivex_open(PathOf(file).c_str(), HIVEX_OPEN_WRITE));
  if (!hive_) {
    *error = "libhivex cannot read the hive: " + ErrnoText();
    return false;
  }
  seen_.assign(image_->size() / 8 + 1, false);
  hive_node_h top = 0;
  return FindClassesRoot(&top, error) && LoadKeys(top, error);
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
  // Only a failure names the place: a path costs a walk to the root.
  const auto where = [&] { return "below " + Describe(parent.key); };
  // Deleting a key changes the list of the parent its own link names, and
  // frees everything below it: a key must have one place in the tree.
  if (!MarkSeen(node) || hivex_node_parent(hive_.get(), node) != parent.node) {
    *error = "a key " + where() + " is linked from more than one place";
    return false;
  }
  CName utf8(hivex_node_name(hive_.get(), node));
  if (!utf8) {
    *error = "a key name " + where() + " cannot be read: " + ErrnoText();
    return false;
  }
  bool exact = false;
  const std::string name = AnsiNameOf(utf8.get(), &exact);
  if (name.size() > KeyTree::kMaxNameLength) {
    *error = "key name longer than 256 characters " + where();
    return false;
  }
  const size_t keys_before = tree_->key_count();
  KeyNode* key = exact ? tree_->AddChild(parent.key, name)
                       : tree_->AddUnmatchableChild(parent.key, name);
  if (key == nullptr) {
    *error = "a key name " + where() + " is empty or holds a backslash";
    return false;
  }
  if (tree_->key_count() == keys_before) {  // AddChild found one of that name
    *error = "two keys named \"" + name + "\" " + where();
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

bool RegfHive::Impl::SafeDeletes(std::vector<size_t>* tops) {
  // Parents come before their subkeys, so the top of a deleted subtree is
  // met before anything below it; the tree deletes only keys without
  // subkeys, so everything below a deleted key is deleted too. The cells
  // are checked as they were loaded: deletes already written freed none of
  // the cells of the keys still to delete.
  // The claims of earlier writes stay: a cell is never freed twice.
  for (size_t i = 0; i < keys_.size(); ++i) {
    const KeyNode* key = keys_[i].key;
    if (!key->deleted() || removed_[i]) continue;
    if (!check_) check_ = std::make_unique<DeleteCheck>(image_.get());
    if (!check_->ClaimKey(keys_[i].node)) return false;
    if (key->parent()->deleted()) continue;  // freed with the top of its subtree
    const hive_node_h parent = hivex_node_parent(hive_.get(), keys_[i].node);
    if (!check_->ParentListHolds(parent, keys_[i].node)) return false;
    tops->push_back(i);
  }
  return true;
}

bool RegfHive::Impl::ApplyDeletes() {
  std::vector<size_t> tops;
  if (broken_ || !SafeDeletes(&tops)) {
    broken_ = true;  // some cells are claimed: a later try would refuse them
    errno = EINVAL;
    return false;
  }
  for (size_t top : tops) {
    if (hivex_node_delete_child(hive_.get(), keys_[top].node) != 0) {
      broken_ = true;  // the hive in memory may be half changed
      return false;
    }
  }
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i].key->deleted()) removed_[i] = true;
  }
  return true;
}

bool RegfHive::Impl::Commit(const PipeReader& drain) {
  return ApplyDeletes() && CommitThroughPipe(hive_.get(), drain);
}

bool RegfHive::Impl::WriteToFile(int fd) {
  return Commit([fd](int pipe) { return WriteFromPipe(pipe, fd); });
}

bool RegfHive::Impl::Write(const HiveSink& sink) {
  return Commit([&sink](int pipe) { return ReadEach(pipe, sink); });
}

RegfHive::RegfHive() : impl_(std::make_unique<Impl>()) {}
RegfHive::~RegfHive() = default;

bool RegfHive::Parse(std::string bytes, KeyTree* tree, HiveError* error) {
  error->line = 0;
  return impl_->ParseBytes(std::move(bytes), tree, &error->message);
}

bool RegfHive::ParseFile(int file, KeyTree* tree, HiveError* error) {
  error->line = 0;
  if (file < 0) {
    error->message = "no file to read the hive from";
    return false;
  }
  return impl_->ParseFile(file, tree, &error->message);
}

bool RegfHive::Write(const HiveSink& sink) const { return impl_->Write(sink); }
bool RegfHive::WriteToFile(int fd) const { return impl_->WriteToFile(fd); }
size_t RegfHive::key_count() const { return impl_->key_count(); }
bool RegfHive::classes_below_root() const { return impl_->classes_below_root(); }
