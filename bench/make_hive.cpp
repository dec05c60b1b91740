// brindlex_make_hive: writes a generated hive (bench/hive_shape.h) to a file,
// for the whole-program timings (scripts/perf/) and the stress tests.
//
// Usage: brindlex_make_hive OUT.reg --keys N [--tree M] [--targets K]
//                           [--order sorted|random] [--seed S] [--setup FILE]
//
// --tree: keys of the target patch's tree (default: a tenth of the keys);
// --targets: products with a patch in all, the target included (default 1);
// --setup: also write a setup information file naming the target.
// Prints "N keys", then for each target a line
// "target PRODUCT PATCH LAST_TREE_KEY" (the others' last key is their patch
// key's path). Exits with 2 on a usage error, 1 when a file cannot be written.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/hive_shape.h"

namespace {

struct Options {
  std::string hive;
  std::string setup;
  HiveRecipe recipe;
  bool tree_given = false;
  size_t targets = 1;
};

bool ParseCount(const char* text, size_t* count) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0') return false;
  *count = static_cast<size_t>(value);
  return true;
}

// Returns false on a usage error.
bool ParseOption(const std::string& name, const char* value, Options* options) {
  size_t count = 0;
  if (name == "--setup") {
    options->setup = value;
    return true;
  }
  if (name == "--order") {
    options->recipe.random_order = std::strcmp(value, "random") == 0;
    return options->recipe.random_order || std::strcmp(value, "sorted") == 0;
  }
  if (!ParseCount(value, &count)) return false;
  if (name == "--keys") {
    options->recipe.key_count = count;
  } else if (name == "--tree") {
    options->recipe.tree_size = count;
    options->tree_given = true;
  } else if (name == "--targets") {
    options->targets = count;
  } else if (name == "--seed") {
    options->recipe.seed = static_cast<unsigned>(count);
  } else {
    return false;
  }
  return true;
}

bool ParseArguments(int argc, char** argv, Options* options) {
  if (argc < 2 || argv[1][0] == '-') return false;
  options->hive = argv[1];
  for (int i = 2; i < argc; i += 2) {
    if (i + 1 >= argc || !ParseOption(argv[i], argv[i + 1], options)) return false;
  }
  if (!options->tree_given) options->recipe.tree_size = options->recipe.key_count / 10;
  if (options->targets == 0) return false;
  options->recipe.other_targets = options->targets - 1;
  return true;
}

bool WriteFile(const std::string& name, const std::string& bytes) {
  FILE* file = std::fopen(name.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

std::string SetupFor(const std::string& product, const std::string& patch) {
  return "[Upgrade]\r\nProductKey=" + product + "\r\nPatchKey1=" + patch + "\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: brindlex_make_hive OUT.reg --keys N [--tree M] [--targets K] "
                 "[--order sorted|random] [--seed S] [--setup FILE]\n");
    return 2;
  }
  const GeneratedHive hive = MakeHive(options.recipe);
  if (!WriteFile(options.hive, hive.text) ||
      (!options.setup.empty() && !WriteFile(options.setup, SetupFor(hive.product, hive.patch)))) {
    std::perror("brindlex_make_hive");
    return 1;
  }
  std::printf("%zu keys\n", hive.key_count);
  std::printf("target %s %s %s\n", hive.product.c_str(), hive.patch.c_str(),
              hive.last_tree_key.c_str());
  for (const HiveTarget& other : hive.others) {
    std::printf("target %s %s Installer\\Patches\\%s\n", other.product.c_str(),
                other.patch.c_str(), other.patch.c_str());
  }
  return 0;
}
