#include "registry/system_registry.h"

#include "winapi/hive_registry.h"

std::unique_ptr<Registry> MakeSystemRegistry() { return MakeHiveRegistry(BRINDLEX_HIVE_FILE); }
