// The system's registry: HKEY_CLASSES_ROOT as the program finds it on the
// platform it runs on.
#ifndef BRINDLEX_REGISTRY_SYSTEM_REGISTRY_H_
#define BRINDLEX_REGISTRY_SYSTEM_REGISTRY_H_

#include <memory>

#include "registry/registry.h"

// On Windows, advapi32: OpenKey is RegOpenKeyExA with KEY_ALL_ACCESS,
// EnumKey RegEnumKeyExA, DeleteKey RegDeleteKeyA and CloseKey RegCloseKey,
// each returning the platform's code unchanged; Flush returns 0, since the
// system makes its changes durable itself. On POSIX, the registry file of
// winapi/hive_registry.h that RegistryFileName() names (BRINDLEX_REGISTRY,
// else the build-time BRINDLEX_HIVE_FILE), relative to the current
// directory. ClassesRootKey() is HKEY_CLASSES_ROOT. Never
// returns null.
std::unique_ptr<Registry> MakeSystemRegistry();

#endif  // BRINDLEX_REGISTRY_SYSTEM_REGISTRY_H_
