// brindlex_make_regf_hive: writes a SOFTWARE-shaped binary registry hive for
// the offline-hive timings (scripts/perf/regf_perf.py): the keys of a
// generated HKEY_CLASSES_ROOT\Installer hive (bench/hive_shape.h, at most
// 150,000 keys, the target patch's tree among them) below the root's
// Classes key, and as many keys again as the rest of the count asks for,
// half of them class registrations (Classes\CLSID\{guid}\InprocServer32
// and the like), half outside Classes (below Microsoft); each key with a
// string and a DWORD value. No key has more than 60,000 subkeys: libhivex
// refuses a key with more than 70,000. The format is written directly, as Windows
// keeps it: subkey lists sorted by the upper-case names, as "lh" leaves of
// at most 512 keys under an "ri" index when a key has more; one security
// descriptor shared by every key. (Filling a hive of a million keys
// through libhivex's insertions takes hours.) The file is then opened with
// libhivex and its keys counted, so that a hive libhivex would not read is
// never used.
//
// Usage: brindlex_make_regf_hive OUT --keys N [--tree M] [--setup FILE]
// (--tree: keys of the target patch's tree, default a tenth of the keys).
// Prints "N keys" (all of the hive's) and "target PRODUCT PATCH".
#include <hivex.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/hive_shape.h"
#include "winapi/empty_hive.h"
#include "winapi/hive_format.h"
#include "winapi/key_tree.h"

namespace {

using hive_bytes::Get32;
using hive_bytes::Put16;
using hive_bytes::Put32;

constexpr uint32_t kNoCell = 0xFFFFFFFF;
constexpr size_t kBinHeader = 0x20;
constexpr size_t kKeyFixed = 0x4C;
constexpr size_t kLeafMax = 512;
constexpr uint64_t kTime = 0x01D9000000000000ULL;


char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool UpperLess(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const unsigned char x = Upper(a[i]), y = Upper(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

uint32_t LeafHash(std::string_view name) {
  uint32_t hash = 0;
  for (char c : name) hash = hash * 37 + static_cast<unsigned char>(Upper(c));
  return hash;
}

// The hive bins, filled cell by cell; a cell that does not fit the rest of
// the current bin starts a new one (the rest becomes a free cell).
class Bins {
 public:
  // Appends a used cell of `payload` bytes; returns its offset.
  uint32_t Cell(size_t payload) {
    const size_t size = (4 + payload + 7) & ~size_t{7};
    if (used_ + size > bin_size_) NewBin(size);
    const size_t at = bin_start_ + used_;
    Put32(&bins_, at, static_cast<uint32_t>(-static_cast<int32_t>(size)));
    used_ += size;
    return static_cast<uint32_t>(at);
  }
  std::string& bytes() { return bins_; }
  // Ends the last bin with a free cell.
  void Finish() { CloseBin(); }

 private:
  void NewBin(size_t cell) {
    if (bin_size_ != 0) CloseBin();
    bin_start_ = bins_.size();
    bin_size_ = std::max<size_t>(4096, (kBinHeader + cell + 4095) & ~size_t{4095});
    bins_.resize(bin_start_ + bin_size_, '\0');
    bins_.replace(bin_start_, 4, "hbin");
    Put32(&bins_, bin_start_ + 4, static_cast<uint32_t>(bin_start_));
    Put32(&bins_, bin_start_ + 8, static_cast<uint32_t>(bin_size_));
    used_ = kBinHeader;
  }
  void CloseBin() {
    if (used_ < bin_size_) Put32(&bins_, bin_start_ + used_, static_cast<uint32_t>(bin_size_ - used_));
    used_ = bin_size_;
  }

  std::string bins_;
  size_t bin_start_ = 0;
  size_t bin_size_ = 0;
  size_t used_ = 0;
};

class HiveWriter {
 public:
  explicit HiveWriter(uint32_t security) : security_(security) {}

  Bins& bins() { return bins_; }

  // Writes the key `name` below the key cell `parent` with its values and,
  // recursively, `key`'s subkeys in `tree`; returns its cell.
  uint32_t Key(const KeyTree& tree, const KeyNode* key, std::string_view name, uint32_t parent,
               uint16_t flags = 0x0020, bool with_values = true) {
    const uint32_t values = with_values ? Values(name) : kNoCell;
    const uint32_t cell = bins_.Cell(kKeyFixed + name.size());
    std::string& b = bins_.bytes();
    const size_t at = cell + 4;
    b.replace(at, 2, "nk");
    Put16(&b, at + 0x02, flags);
    Put32(&b, at + 0x10, parent);
    Put32(&b, at + 0x1C, kNoCell);
    Put32(&b, at + 0x20, kNoCell);
    Put32(&b, at + 0x24, with_values ? 2 : 0);
    Put32(&b, at + 0x28, values);
    Put32(&b, at + 0x2C, security_);
    Put32(&b, at + 0x30, kNoCell);
    Put32(&b, at + 0x3C, 2 * 5);
    Put32(&b, at + 0x40, 2 * 49);
    Put16(&b, at + 0x48, static_cast<uint16_t>(name.size()));
    b.replace(at + kKeyFixed, name.size(), name.data(), name.size());
    ++keys_;
    if (key != nullptr) Subkeys(tree, key, cell);
    return cell;
  }

  // Links the key cells `children` (with their names) as the subkeys of the
  // key cell `parent`.
  void Link(uint32_t parent, std::vector<std::pair<std::string, uint32_t>> children) {
    if (children.empty()) return;
    std::sort(children.begin(), children.end(),
              [](const auto& a, const auto& b) { return UpperLess(a.first, b.first); });
    std::vector<uint32_t> leaves;
    size_t longest = 0;
    for (size_t first = 0; first < children.size(); first += kLeafMax) {
      const size_t count = std::min(kLeafMax, children.size() - first);
      const uint32_t leaf = bins_.Cell(4 + 8 * count);
      std::string& b = bins_.bytes();
      b.replace(leaf + 4, 2, "lh");
      Put16(&b, leaf + 6, static_cast<uint16_t>(count));
      for (size_t i = 0; i < count; ++i) {
        const auto& [name, cell] = children[first + i];
        Put32(&b, leaf + 8 + 8 * i, cell);
        Put32(&b, leaf + 12 + 8 * i, LeafHash(name));
        longest = std::max(longest, name.size());
      }
      leaves.push_back(leaf);
    }
    uint32_t list = leaves.front();
    if (leaves.size() > 1) {
      list = bins_.Cell(4 + 4 * leaves.size());
      std::string& b = bins_.bytes();
      b.replace(list + 4, 2, "ri");
      Put16(&b, list + 6, static_cast<uint16_t>(leaves.size()));
      for (size_t i = 0; i < leaves.size(); ++i) Put32(&b, list + 8 + 4 * i, leaves[i]);
    }
    std::string& b = bins_.bytes();
    Put32(&b, parent + 4 + 0x14, static_cast<uint32_t>(children.size()));
    Put32(&b, parent + 4 + 0x1C, list);
    Put32(&b, parent + 4 + 0x34, static_cast<uint32_t>(2 * longest));
  }

  size_t keys() const { return keys_; }

 private:
  void Subkeys(const KeyTree& tree, const KeyNode* key, uint32_t cell) {
    // Listed first: the tree walks a listing in constant time per step only
    // while nothing else is listed.
    std::vector<const KeyNode*> listed;
    for (uint32_t i = 0; const KeyNode* child = tree.ChildAt(key, i); ++i) listed.push_back(child);
    std::vector<std::pair<std::string, uint32_t>> children;
    for (const KeyNode* child : listed) {
      children.emplace_back(std::string(child->name()), Key(tree, child, child->name(), cell));
    }
    Link(cell, std::move(children));
  }

  // A REG_SZ "Value" of 48 characters and an inline REG_DWORD "State".
  uint32_t Values(std::string_view name) {
    std::string text = "C:\\Windows\\Installer\\" + std::string(name.substr(0, 16));
    text.resize(48, '_');
    const uint32_t data = bins_.Cell(2 * (text.size() + 1));
    std::string& b = bins_.bytes();
    for (size_t i = 0; i < text.size(); ++i) b[data + 4 + 2 * i] = text[i];
    const uint32_t string_value = Value("Value", 1, static_cast<uint32_t>(2 * (text.size() + 1)), data);
    const uint32_t dword_value = Value("State", 4, 0x80000004u, 1);
    const uint32_t list = bins_.Cell(8);
    Put32(&bins_.bytes(), list + 4, string_value);
    Put32(&bins_.bytes(), list + 8, dword_value);
    return list;
  }

  uint32_t Value(const char* name, uint32_t type, uint32_t size, uint32_t data) {
    const size_t length = std::strlen(name);
    const uint32_t cell = bins_.Cell(0x14 + length);
    std::string& b = bins_.bytes();
    const size_t at = cell + 4;
    b.replace(at, 2, "vk");
    Put16(&b, at + 0x02, static_cast<uint16_t>(length));
    Put32(&b, at + 0x04, size);
    Put32(&b, at + 0x08, data);
    Put32(&b, at + 0x0C, type);
    Put16(&b, at + 0x10, 1);  // ASCII name
    b.replace(at + 0x14, length, name);
    return cell;
  }

  Bins bins_;
  uint32_t security_;
  size_t keys_ = 0;
};

size_t outside_keys_ = 0;  // keys written below Microsoft

// Adds about `count` keys to `tree`: a GUID-named key with an
// InprocServer32 subkey below each of `parents` in turn.
void AddFiller(KeyTree* tree, const std::vector<std::string>& parents, size_t count) {
  for (size_t i = 0; 2 * i < count; ++i) {
    const uint64_t x = (i + 1) * 0x9E3779B97F4A7C15ull;
    char guid[64];
    std::snprintf(guid, sizeof guid, "{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(x >> 32),
                  static_cast<unsigned>(x >> 16) & 0xFFFF, static_cast<unsigned>(x) & 0xFFFF,
                  static_cast<unsigned>(i & 0xFFFF), static_cast<unsigned long long>(i * 7919 + 17));
    tree->AddPath(parents[i % parents.size()] + "\\" + guid + "\\InprocServer32");
  }
}

// The hive of `text` (a generated regedit file) below Classes, with
// `filler` keys beside it.
std::string MakeRegfHive(const std::string& text, size_t filler, size_t* classes_keys) {
  KeyTree tree;
  HiveDocument document;
  HiveError error;
  if (!document.Parse(text, &tree, &error)) {
    std::fprintf(stderr, "generated hive: line %zu: %s\n", error.line, error.message.c_str());
    std::exit(1);
  }
  AddFiller(&tree, {"CLSID", "Interface", "WOW6432Node\\CLSID", "WOW6432Node\\Interface"},
            filler / 2);
  KeyTree outside;
  AddFiller(&outside, {"Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components",
                       "Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products",
                       "Windows\\CurrentVersion\\Uninstall", "Windows NT\\CurrentVersion\\Fonts"},
            filler - filler / 2);
  *classes_keys = tree.key_count();
  // The empty hive gives the base block and the security cell, copied
  // to the same offset (right after the root cell, whose size is the same).
  const std::string empty = MakeEmptyHive();
  const size_t base = empty_hive::kBaseBlockSize;
  const uint32_t root_at = empty_hive::kRootCellOffset;
  const uint32_t security_at = root_at + (0 - Get32(empty, base + root_at));
  const uint32_t security_size = 0 - Get32(empty, base + security_at);
  HiveWriter writer(security_at);
  Bins& bins = writer.bins();
  // The root: written as any key, then it takes the security cell's place.
  const uint32_t root = writer.Key(tree, nullptr, "ROOT", kNoCell, 0x002C, false);
  const uint32_t security = bins.Cell(security_size - 4);
  if (root != root_at || security != security_at) std::exit(3);
  bins.bytes().replace(security, security_size, empty, base + security_at, security_size);
  const uint32_t classes = writer.Key(tree, tree.root(), "Classes", root);
  const uint32_t microsoft = writer.Key(outside, outside.root(), "Microsoft", root);
  writer.Link(root, {{"Classes", classes}, {"Microsoft", microsoft}});
  *classes_keys = tree.key_count();
  outside_keys_ = outside.key_count();
  bins.Finish();
  Put32(&bins.bytes(), security + 4 + 0x0C, static_cast<uint32_t>(writer.keys()));
  std::string hive = empty.substr(0, base);
  Put32(&hive, 0x24, root_at);
  Put32(&hive, 0x28, static_cast<uint32_t>(bins.bytes().size()));
  Put32(&hive, empty_hive::kChecksumOffset, HiveHeaderChecksum(hive));
  return hive + bins.bytes();
}

size_t CountKeys(hive_h* hive, hive_node_h node) {
  hive_node_h* children = hivex_node_children(hive, node);
  if (children == nullptr) return 0;
  size_t count = 1;
  for (size_t i = 0; children[i] != 0; ++i) count += CountKeys(hive, children[i]);
  std::free(children);
  return count;
}

bool WriteFile(const std::string& name, const std::string& bytes) {
  FILE* file = std::fopen(name.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  HiveRecipe recipe;
  std::string out, setup;
  bool tree_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg[0] != '-' && out.empty()) {
      out = arg;
    } else if (i + 1 < argc && arg == "--keys") {
      recipe.key_count = std::strtoull(argv[++i], nullptr, 10);
    } else if (i + 1 < argc && arg == "--tree") {
      recipe.tree_size = std::strtoull(argv[++i], nullptr, 10);
      tree_given = true;
    } else if (i + 1 < argc && arg == "--setup") {
      setup = argv[++i];
    } else {
      out.clear();
      break;
    }
  }
  if (out.empty() || recipe.key_count == 0) {
    std::fprintf(stderr, "usage: brindlex_make_regf_hive OUT --keys N [--tree M] [--setup FILE]\n");
    return 2;
  }
  if (!tree_given) recipe.tree_size = recipe.key_count / 10;
  const size_t total = recipe.key_count;
  recipe.key_count = std::min<size_t>(total, std::max<size_t>(150000, recipe.tree_size + 50000));
  const GeneratedHive generated = MakeHive(recipe);
  size_t keys = 0;
  const std::string hive = MakeRegfHive(generated.text, total - std::min(total, generated.key_count), &keys);
  if (!WriteFile(out, hive) ||
      (!setup.empty() && !WriteFile(setup, "[Upgrade]\r\nProductKey=" + generated.product +
                                               "\r\nPatchKey1=" + generated.patch + "\r\n"))) {
    std::perror("brindlex_make_regf_hive");
    return 1;
  }
  hive_h* opened = hivex_open(out.c_str(), 0);
  const size_t read = opened != nullptr ? CountKeys(opened, hivex_root(opened)) : 0;
  if (opened != nullptr) hivex_close(opened);
  // The root, Classes and Microsoft besides.
  const size_t written = keys + outside_keys_ + 3;
  if (read != written) {
    std::fprintf(stderr, "libhivex reads %zu keys of the %zu written\n", read, written);
    return 1;
  }
  std::printf("%zu keys\ntarget %s %s\n", written, generated.product.c_str(), generated.patch.c_str());
  return 0;
}
