// Reads keys from arbitrary profile file bytes the way the setup information
// reader does, with several names, fallbacks and buffer sizes, and checks
// what comes back: the result fits the buffer and is terminated where the
// returned length says, and a buffer one byte larger gives the same value
// or that value and one more byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "winapi/profile_reader.h"

namespace {

struct Lookup {
  const char* section;
  const char* key;
  const char* fallback;
  uint32_t size;
};

constexpr Lookup kLookups[] = {
    {"Upgrade", "ProductKey", "", 255},
    {"Upgrade", "PatchKey1", "", 255},
    {"upgrade", "PATCHKEY10", "DEF  ", 255},
    {" Upgrade ", "ProductKey", "\"quoted\"", 4},
    {"Upgrade", "ProductKey", nullptr, 1},
    {"", "", "fallback", 3},
    {"Upgrade", "", "", 2},
    {"Upgrade", "ProductKey", "", 0},
};

void Check(bool condition) {
  if (!condition) std::abort();
}

// Reads into a heap buffer of exactly `lookup.size` bytes, so that a write
// past its end is caught.
uint32_t Read(std::string_view file, const Lookup& lookup, std::vector<char>* value) {
  value->assign(lookup.size, '\x7F');
  const uint32_t length = ReadProfileString(file, lookup.section, lookup.key, lookup.fallback,
                                            value->data(), lookup.size);
  if (lookup.size == 0) {
    Check(length == 0);
  } else {
    Check(length < lookup.size);
    Check((*value)[length] == '\0');
  }
  return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  std::vector<char> value;
  std::vector<char> wider;
  for (const Lookup& lookup : kLookups) {
    const uint32_t length = Read(file, lookup, &value);
    const Lookup one_more{lookup.section, lookup.key, lookup.fallback, lookup.size + 1};
    const uint32_t wider_length = Read(file, one_more, &wider);
    Check(wider_length == length || wider_length == length + 1);
    Check(length == 0 || std::memcmp(value.data(), wider.data(), length) == 0);
  }
  return 0;
}
