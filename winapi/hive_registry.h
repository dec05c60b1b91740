// The POSIX build's registry: HKEY_CLASSES_ROOT kept in a file in the
// registry editor's text format (see hive_format.h).
#ifndef BRINDLEX_WINAPI_HIVE_REGISTRY_H_
#define BRINDLEX_WINAPI_HIVE_REGISTRY_H_

#include <memory>
#include <string>

#include "registry/registry.h"

// ERROR_REGISTRY_IO_FAILED: Flush could not write the file.
constexpr RegStatus kRegIoFailed = 1016;

// A registry over the hive file `file_name`, which is read when a call first
// needs a key and locked (flock, exclusive) from then until Flush, so that
// runs at the same time take turns. A missing file is an empty registry and
// is never created. The operations behave as MemoryRegistry's.
//
// A file that cannot be read or parsed is never changed: one message naming
// the file and the line goes to stderr and every call that takes a key then
// returns 1010 (the store itself is bad; 2 would claim the key is missing).
//
// Deletes stay in memory until Flush, which writes them to the file: a whole
// new file is written beside it, synced and renamed over it, so that the
// file is always either the old one or the new one. When nothing was deleted
// the file is left as it was. Flush returns 0, or 1016 when the file could
// not be replaced (the old one stays, a message goes to stderr); either way
// it releases the lock, and a later call reads the file again, handles from
// before being closed. Destroying the registry without Flush drops the
// deletes. No lock or temporary file is left behind in any case. Only a run
// killed while it replaced the file can leave its new file beside it, as
// ".NAME.PID.TICKS.N.tmp": the next run to read the file removes such files
// once it holds the lock.
std::unique_ptr<Registry> MakeHiveRegistry(const std::string& file_name);

#endif  // BRINDLEX_WINAPI_HIVE_REGISTRY_H_
