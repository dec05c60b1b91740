#include "registry/system_registry.h"

#include "winapi/hive_registry.h"
#include "winapi/registry_file.h"

std::unique_ptr<Registry> MakeSystemRegistry() { return MakeHiveRegistry(RegistryFileName()); }
