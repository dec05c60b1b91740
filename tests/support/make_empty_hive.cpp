// Writes an empty registry hive (MakeEmptyHive) to the file named by its
// argument, for the scripts that build hive fixtures and benchmarks.
// Usage: make_empty_hive FILE [ROOT_NAME]
#include <cstdio>
#include <string>

#include "winapi/empty_hive.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s FILE [ROOT_NAME]\n", argv[0]);
    return 2;
  }
  EmptyHiveOptions options;
  if (argc == 3) options.root_name = argv[2];
  const std::string hive = MakeEmptyHive(options);
  FILE* out = hive.empty() ? nullptr : std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(hive.data(), 1, hive.size(), out) == hive.size();
  return std::fclose(out) == 0 && written ? 0 : 1;
}
