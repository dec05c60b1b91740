#include "registry/key_name.h"

#include <cstring>

bool IsSingleKeyName(const char* value) {
  return value != nullptr && *value != '\0' && std::strchr(value, '\\') == nullptr;
}
