// Registry: the four operations on the registry that the cleaner uses, with
// the platform's status codes. The Windows build calls advapi32 on
// HKEY_CLASSES_ROOT; the POSIX build works on a hive file; tests use an
// in-memory tree.
#ifndef BRINDLEX_REGISTRY_REGISTRY_H_
#define BRINDLEX_REGISTRY_REGISTRY_H_

#include <cstdint>

// A registry status code: 0 for success, else a Windows system error code.
typedef long RegStatus;

constexpr RegStatus kRegSuccess = 0;            // ERROR_SUCCESS
constexpr RegStatus kRegFileNotFound = 2;       // ERROR_FILE_NOT_FOUND: no such key
constexpr RegStatus kRegAccessDenied = 5;       // ERROR_ACCESS_DENIED: e.g. delete of a key with subkeys
constexpr RegStatus kRegInvalidHandle = 6;      // ERROR_INVALID_HANDLE
constexpr RegStatus kRegInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
constexpr RegStatus kRegBadPathname = 161;      // ERROR_BAD_PATHNAME
constexpr RegStatus kRegMoreData = 234;         // ERROR_MORE_DATA: name or path too long
constexpr RegStatus kRegNoMoreItems = 259;      // ERROR_NO_MORE_ITEMS
constexpr RegStatus kRegBadDb = 1009;           // ERROR_BADDB: the registry's store is corrupt
constexpr RegStatus kRegBadKey = 1010;          // ERROR_BADKEY
constexpr RegStatus kRegCantRead = 1012;        // ERROR_CANTREAD: the registry's store cannot be read
constexpr RegStatus kRegKeyDeleted = 1018;      // ERROR_KEY_DELETED: handle of a deleted key

// An open key. Opaque; the value of the root below is the platform's
// HKEY_CLASSES_ROOT, (HKEY)(LONG)0x80000000, sign-extended on 64-bit builds.
typedef struct RegKeyOpaque* RegKey;

inline RegKey ClassesRootKey() {
  return reinterpret_cast<RegKey>(static_cast<intptr_t>(static_cast<int32_t>(0x80000000u)));
}

class Registry {
 public:
  Registry() = default;
  virtual ~Registry() = default;
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Opens `path` (one or more key names separated by backslashes) below
  // `parent` with full access (RegOpenKeyExA, KEY_ALL_ACCESS). Returns 0 and
  // stores the handle in `*key`; on failure returns the platform's code
  // (2 when a key on the path does not exist) and leaves `*key` unchanged.
  virtual RegStatus OpenKey(RegKey parent, const char* path, RegKey* key) = 0;

  // Names the subkey at `index` of `key` in the platform's order
  // (RegEnumKeyExA). `*capacity` is the buffer's size in bytes, terminator
  // included. Returns 0 with the name and its length (terminator excluded)
  // in `*capacity`; 259 when there is no such subkey and 234 when the name
  // does not fit, both leaving `name` and `*capacity` unchanged.
  virtual RegStatus EnumKey(RegKey key, uint32_t index, char* name, uint32_t* capacity) = 0;

  // Deletes the key `path` below `parent` (RegDeleteKeyA). Returns 0 when it
  // was deleted; 5 when it still has subkeys and 2 when it does not exist,
  // deleting nothing.
  virtual RegStatus DeleteKey(RegKey parent, const char* path) = 0;

  // Closes a handle returned by OpenKey. Returns 0, or 6 for a handle that is
  // not open.
  virtual RegStatus CloseKey(RegKey key) = 0;

  // Makes every change so far durable and releases what the run held. Called
  // once, when the run's work is done and before the window appears. The
  // system registry persists its own changes, so there this returns 0 and
  // does nothing.
  virtual RegStatus Flush() = 0;
};

#endif  // BRINDLEX_REGISTRY_REGISTRY_H_
