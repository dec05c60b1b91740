// The POSIX build's registry: HKEY_CLASSES_ROOT kept in a file, either a
// binary registry hive (a file that begins with "regf", see regf_hive.h) or
// else a file in the registry editor's text format (see hive_format.h).
#ifndef BRINDLEX_WINAPI_HIVE_REGISTRY_H_
#define BRINDLEX_WINAPI_HIVE_REGISTRY_H_

#include <chrono>
#include <memory>
#include <string>

#include "registry/registry.h"

// ERROR_REGISTRY_IO_FAILED: Flush could not write the file.
constexpr RegStatus kRegIoFailed = 1016;

// How long a run waits for another to release the registry file.
constexpr std::chrono::milliseconds kHiveLockWait{30000};

// A registry over the hive file `file_name` (a symbolic link is followed:
// the file it names is read and replaced). The file is read when a call
// first needs a key and locked (flock, exclusive) from then until Flush, so
// that runs at the same time take turns; a run waits at most `lock_wait`
// for the lock. A missing file is an empty registry and is never created.
// The operations behave as MemoryRegistry's, except as below.
//
// A file that cannot be used is never changed: one message naming the file
// (and the line, or the holder of the lock) goes to stderr and every call
// that takes a key returns 1009 when the file is not in its format (for a
// hive: one RegfHive refuses, such as a dirty or damaged one), 1012
// when it cannot be read: not a regular file (nothing blocks on a FIFO or
// reads a device), a read error, the lock still held by another after
// `lock_wait`, or the file changing during every one of a few reads (a
// read during which it changed is done again).
//
// A file that this process cannot replace with all it holds is read but
// never changed: OpenKey and DeleteKey of an existing key return 5, as for
// a key without full access, and one message saying why goes to stderr.
// That is a file with more than one hard link, without a write bit or not
// writable for this process, whose owner and group it could not give the
// new file (it is not the superuser, nor the owner in the file's group), in
// a folder it cannot write (or on a read-only file system), or without room
// on the disk for a new copy: the new file is made, with the old one's size
// reserved, owner, group, mode and extended attributes (access control
// lists among them), when the file is read.
//
// Deletes stay in memory until Flush, which writes them to that new file
// (a text file's kept bytes are copied from the old file: they are not held
// in memory), syncs it and renames it over the file, so that the file is
// always either the old one or the new one. Before the rename it checks, under the lock,
// that the file is still the one read, unchanged (inode, size, modification
// and change times) and, where the system can tell, that no other program
// has it open for writing: a program that wrote it meanwhile without the
// lock keeps its changes, and this run's are not saved. When nothing was deleted
// the file is left as it was. Flush returns 0, or 1016 when the file could
// not be replaced (the old one stays, a message goes to stderr); either way
// it releases the lock, and a later call reads the file again, handles from
// before being closed. Destroying the registry without Flush drops the
// deletes. No lock or temporary file is left behind in any case. Only a run
// killed while it replaced the file can leave its new file beside it, as
// ".NAME.brindlex-new.PID.TICKS.N.tmp": the next run to read the file
// removes such files, and only those, once it holds the lock.
std::unique_ptr<Registry> MakeHiveRegistry(const std::string& file_name,
                                           std::chrono::milliseconds lock_wait = kHiveLockWait);

#endif  // BRINDLEX_WINAPI_HIVE_REGISTRY_H_
