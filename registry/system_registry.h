// The Windows build's registry: advapi32 on HKEY_CLASSES_ROOT.
#ifndef BRINDLEX_REGISTRY_SYSTEM_REGISTRY_H_
#define BRINDLEX_REGISTRY_SYSTEM_REGISTRY_H_

#include <memory>

#include "registry/registry.h"

// OpenKey is RegOpenKeyExA with KEY_ALL_ACCESS, EnumKey RegEnumKeyExA,
// DeleteKey RegDeleteKeyA and CloseKey RegCloseKey; each returns the
// platform's code unchanged. ClassesRootKey() is HKEY_CLASSES_ROOT. Flush
// returns 0: the system makes its changes durable itself.
std::unique_ptr<Registry> MakeSystemRegistry();

#endif  // BRINDLEX_REGISTRY_SYSTEM_REGISTRY_H_
