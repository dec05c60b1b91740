// Generated registry hives for the benchmarks, shaped like a real
// HKEY_CLASSES_ROOT\Installer export: products with their patch and source
// lists, patches with source lists, features, components and upgrade codes,
// with values of the usual kinds. One patch (the target) carries a large
// tree of subkeys, as the patch a run deletes. brindlex_make_hive writes
// these hives to files for the whole-program timings and the stress tests.
#ifndef BRINDLEX_BENCH_HIVE_SHAPE_H_
#define BRINDLEX_BENCH_HIVE_SHAPE_H_

#include <cstddef>
#include <string>
#include <vector>

// A product and the one patch registered with it.
struct HiveTarget {
  std::string product;  // key name under Installer\Products
  std::string patch;    // key name under Installer\Patches
};

struct GeneratedHive {
  std::string text;         // the file: UTF-16LE with a byte order mark, CRLF
  size_t key_count = 0;     // keys below HKEY_CLASSES_ROOT, Installer included
  std::string product;      // the target product's key name
  std::string patch;        // the target patch's key name
  std::string last_tree_key;  // the last key path of the target patch's tree
  std::vector<HiveTarget> others;  // the further targets asked for
};

// What to generate.
struct HiveRecipe {
  size_t key_count = 0;  // about this many keys (never fewer)
  size_t tree_size = 0;  // keys of the target patch's tree
  // Further products with a patch each (four keys, as any patch), to be
  // deleted by runs of their own.
  size_t other_targets = 0;
  // Sections in a random order instead of the order an export lists them.
  bool random_order = false;
  unsigned seed = 1;  // the same seed gives the same hive
};

// The key paths (below HKEY_CLASSES_ROOT, parents first) of the target
// patch `patch` with `size` keys in all, the patch's own key included: its
// source list, and below the source list's Media key two levels of subkeys
// of different name lengths. Returns at least the patch's four own keys.
std::vector<std::string> PatchTreePaths(const std::string& patch, size_t size);

// The hive `recipe` asks for.
GeneratedHive MakeHive(const HiveRecipe& recipe);

// A hive of about `key_count` keys (never fewer), in the order an export
// lists them, whose target patch has a tree of `tree_size` keys. The same
// `seed` gives the same hive.
GeneratedHive MakeHive(size_t key_count, size_t tree_size, unsigned seed = 1);

#endif  // BRINDLEX_BENCH_HIVE_SHAPE_H_
