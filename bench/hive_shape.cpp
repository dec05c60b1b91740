#include "bench/hive_shape.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <utility>

namespace {

constexpr char kRoot[] = "Installer";

// One section: a key path below HKEY_CLASSES_ROOT and its value lines, each
// ending in CRLF.
struct Block {
  std::string path;
  std::string values;
};

class ShapeRandom {
 public:
  explicit ShapeRandom(unsigned seed) : engine_(seed) {}

  // A number in [low, high).
  unsigned Range(unsigned low, unsigned high) {
    return low + static_cast<unsigned>(engine_() % (high - low));
  }

  // A key name as products, patches and components have: 32 hex digits.
  std::string Guid() {
    char text[33];
    std::snprintf(text, sizeof text, "%016llX%016llX",
                  static_cast<unsigned long long>(engine_()),
                  static_cast<unsigned long long>(engine_()));
    return text;
  }

 private:
  std::mt19937_64 engine_;
};

std::string Line(const std::string& text) { return text + "\r\n"; }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Dword(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "dword:%08x", value);
  return text;
}

void AddProduct(ShapeRandom& random, const std::string& product,
                const std::vector<std::string>& patches, std::vector<Block>* blocks) {
  const std::string key = std::string(kRoot) + "\\Products\\" + product;
  blocks->push_back(
      {key, Line("\"ProductName\"=\"Example Product " + std::to_string(random.Range(0, 1000)) +
                 "\"") +
                Line("\"PackageCode\"=" + Quoted(random.Guid())) +
                Line("\"Language\"=" + Dword(0x409)) +
                Line("\"Version\"=" + Dword(0x0c000000u + random.Range(0, 256))) +
                Line("\"Assignment\"=" + Dword(1)) + Line("\"AdvertiseFlags\"=" + Dword(0x184)) +
                Line("\"ProductIcon\"=\"C:\\\\Windows\\\\Installer\\\\{" + random.Guid() +
                     "}\\\\icon.exe\"") +
                Line("\"InstanceType\"=" + Dword(0)) + Line("\"AuthorizedLUAApp\"=" + Dword(0)) +
                Line("\"Clients\"=hex(7):3a,00,00,00,00,00")});
  std::string patch_values = Line("\"Patches\"=hex(7):00,00,00,00");
  for (const std::string& patch : patches) {
    patch_values += Line(Quoted(patch) + "=\":" + std::to_string(random.Range(0, 99)) + ".mst\"");
  }
  blocks->push_back({key + "\\Patches", patch_values});
  blocks->push_back({key + "\\SourceList",
                     Line("\"PackageName\"=\"product" + std::to_string(random.Range(0, 99999)) +
                          ".msi\"") +
                         Line("\"LastUsedSource\"=hex(2):6e,00,3b,00,31,00,00,00")});
  blocks->push_back({key + "\\SourceList\\Media",
                     Line("\"DiskPrompt\"=\"Example Disk\"") + Line("\"1\"=\";1\"")});
  blocks->push_back({key + "\\SourceList\\Net", Line("\"1\"=hex(2):43,00,3a,00,5c,00,00,00")});
}

void AddPatch(ShapeRandom& random, const std::string& patch, std::vector<Block>* blocks) {
  const std::string key = std::string(kRoot) + "\\Patches\\" + patch;
  const std::string kb = std::to_string(random.Range(0, 1000000));
  blocks->push_back({key, Line("\"PatchType\"=" + Dword(0)) + Line("\"LUAEnabled\"=" + Dword(0)) +
                              Line("\"MsiPatchMetadata\"=\"KB" + kb + "\"")});
  blocks->push_back({key + "\\SourceList",
                     Line("\"PackageName\"=\"KB" + kb + ".msp\"") +
                         Line("\"LastUsedSource\"=\"n;1;c:\\\\updates\\\\\"")});
  blocks->push_back({key + "\\SourceList\\Media",
                     Line("\"DiskPrompt\"=\"\"") + Line("\"100\"=\";\"")});
  blocks->push_back({key + "\\SourceList\\Net", Line("\"1\"=\"c:\\\\updates\\\\\"")});
}

void AddFeatures(ShapeRandom& random, const std::string& product, std::vector<Block>* blocks) {
  std::string values;
  for (unsigned i = 0, count = random.Range(2, 8); i < count; ++i) {
    values += Line("\"Feature" + std::to_string(i) + "\"=" + Quoted(random.Guid().substr(0, 20)));
  }
  blocks->push_back({std::string(kRoot) + "\\Features\\" + product, values});
}

void AddComponent(ShapeRandom& random, std::vector<Block>* blocks) {
  const std::string key = std::string(kRoot) + "\\Components\\" + random.Guid();
  blocks->push_back({key, Line(Quoted(random.Guid()) + "=\"C:\\\\Program Files\\\\Example\\\\file" +
                               std::to_string(random.Range(0, 100000)) + ".dll\"")});
}

// A product with its patches, features, upgrade code and components.
void AddInstallation(ShapeRandom& random, std::vector<Block>* blocks) {
  const std::string product = random.Guid();
  std::vector<std::string> patches(random.Range(0, 3));
  for (std::string& patch : patches) patch = random.Guid();
  AddProduct(random, product, patches, blocks);
  for (const std::string& patch : patches) AddPatch(random, patch, blocks);
  AddFeatures(random, product, blocks);
  blocks->push_back({std::string(kRoot) + "\\UpgradeCodes\\" + random.Guid(),
                     Line(Quoted(product) + "=\"\"")});
  for (unsigned i = 0, count = random.Range(5, 15); i < count; ++i) AddComponent(random, blocks);
}

unsigned char Folded(char c) {
  // The separator sorts before every name character, so that paths compare
  // name by name.
  if (c == '\\') return 0;
  return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// Export order: a parent before its subkeys, siblings by their names folded
// to lower case (the generated names are ASCII).
bool ExportOrder(const Block& a, const Block& b) {
  return std::lexicographical_compare(
      a.path.begin(), a.path.end(), b.path.begin(), b.path.end(),
      [](char x, char y) { return Folded(x) < Folded(y); });
}

void AppendUtf16(const std::string& ascii, std::string* out) {
  for (char c : ascii) {
    out->push_back(c);
    out->push_back('\0');
  }
}

std::string Render(const std::vector<Block>& blocks) {
  std::string ascii = "Windows Registry Editor Version 5.00\r\n\r\n";
  std::string text = "\xFF\xFE";
  for (const Block& block : blocks) {
    ascii += "[HKEY_CLASSES_ROOT\\" + block.path + "]\r\n" + block.values + "\r\n";
    if (ascii.size() > (1u << 16)) {
      AppendUtf16(ascii, &text);
      ascii.clear();
    }
  }
  AppendUtf16(ascii, &text);
  return text;
}

}  // namespace

std::vector<std::string> PatchTreePaths(const std::string& patch, size_t size) {
  const std::string key = std::string(kRoot) + "\\Patches\\" + patch;
  std::vector<std::string> paths = {key, key + "\\SourceList", key + "\\SourceList\\Media",
                                    key + "\\SourceList\\Net"};
  const size_t width = std::max<size_t>(1, static_cast<size_t>(std::sqrt(size)));
  char name[64];
  for (size_t group = 0; group < width && paths.size() < size; ++group) {
    std::snprintf(name, sizeof name, "Disk%05zu", group);
    const std::string group_path =
        key + "\\SourceList\\Media\\" + name + std::string(group % 40, 'x');
    paths.push_back(group_path);
    for (size_t file = 0; file < width && paths.size() < size; ++file) {
      std::snprintf(name, sizeof name, "\\File%05zu", file);
      paths.push_back(group_path + name);
    }
  }
  return paths;
}

GeneratedHive MakeHive(const HiveRecipe& recipe) {
  ShapeRandom random(recipe.seed);
  GeneratedHive hive;
  hive.product = random.Guid();
  hive.patch = random.Guid();
  const std::string root = kRoot;
  std::vector<Block> blocks = {{root, ""},
                               {root + "\\Components", ""},
                               {root + "\\Features", ""},
                               {root + "\\Patches", ""},
                               {root + "\\Products", ""},
                               {root + "\\UpgradeCodes", ""}};
  AddProduct(random, hive.product, {hive.patch}, &blocks);
  std::vector<std::string> tree = PatchTreePaths(hive.patch, recipe.tree_size);
  hive.last_tree_key = tree.back();
  for (std::string& path : tree) blocks.push_back({std::move(path), Line("\"Label\"=\"disk\"")});
  for (size_t i = 0; i < recipe.other_targets; ++i) {
    HiveTarget target{random.Guid(), random.Guid()};
    AddProduct(random, target.product, {target.patch}, &blocks);
    AddPatch(random, target.patch, &blocks);
    hive.others.push_back(std::move(target));
  }
  while (blocks.size() < recipe.key_count) AddInstallation(random, &blocks);
  if (recipe.random_order) {
    std::shuffle(blocks.begin(), blocks.end(), std::mt19937_64(recipe.seed));
  } else {
    std::sort(blocks.begin(), blocks.end(), ExportOrder);
  }
  hive.key_count = blocks.size();
  hive.text = Render(blocks);
  return hive;
}

GeneratedHive MakeHive(size_t key_count, size_t tree_size, unsigned seed) {
  HiveRecipe recipe;
  recipe.key_count = key_count;
  recipe.tree_size = tree_size;
  recipe.seed = seed;
  return MakeHive(recipe);
}
