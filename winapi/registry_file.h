// Where the POSIX build keeps its registry.
#ifndef BRINDLEX_WINAPI_REGISTRY_FILE_H_
#define BRINDLEX_WINAPI_REGISTRY_FILE_H_

#include <string>

// The registry file's name: the environment variable BRINDLEX_REGISTRY when
// it is set and not empty (the platform's own setting, as a prefix is for
// an emulator), else the name given at build time (BRINDLEX_HIVE_FILE);
// relative to the current directory unless it is absolute.
std::string RegistryFileName();

// Whether `path` names the registry file: the same file (symbolic links
// followed) when both exist, else the same place once the folders are
// resolved. The registry's file is the system's alone, as on Windows, where
// no program can open it.
bool IsRegistryFile(const std::string& path);

#endif  // BRINDLEX_WINAPI_REGISTRY_FILE_H_
