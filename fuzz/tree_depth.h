// What the fuzz targets check of every key tree a parser builds.
#ifndef BRINDLEX_FUZZ_TREE_DEPTH_H_
#define BRINDLEX_FUZZ_TREE_DEPTH_H_

#include <algorithm>
#include <cstddef>
#include <string>

#include "winapi/key_tree.h"

// How many levels below the root the deepest key of `tree` is.
inline size_t DeepestLevel(const KeyTree& tree) {
  size_t deepest = 0;
  for (const std::string& path : tree.ListPaths()) {
    deepest = std::max<size_t>(deepest, 1 + std::count(path.begin(), path.end(), '\\'));
  }
  return deepest;
}

#endif  // BRINDLEX_FUZZ_TREE_DEPTH_H_
