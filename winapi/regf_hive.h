// The POSIX build's registry kept in a binary registry hive ("regf", the
// format of the platform's own files such as System32\config\SOFTWARE),
// read and written through libhivex. HKEY_CLASSES_ROOT is the hive's
// "Classes" key when its root holds one (a SOFTWARE hive), otherwise the
// hive's root (a hive saved from HKLM\SOFTWARE\Classes itself).
//
// RegfHive has the shape of HiveDocument (hive_format.h), so that the
// registry file store can hold either: it decides by IsRegfHive on the
// bytes it read under its lock, calls Parse with them, and on saving calls
// Write (or WriteToFile) for the new file it then syncs and renames.
//
// A hive is refused, and never written, when it is not one the platform
// would load as it stands or when changing it could lose what it holds:
// a bad base block (signature, major version, checksum), a dirty hive (its
// two sequence numbers differ: its transaction logs were not applied, as
// after a crash or with a hibernated system), a file shorter than its
// base block says, anything libhivex refuses, a key reached twice or whose
// parent link names another key, a Classes key that cannot be read, two
// subkeys of one key with the same name, a key name that is empty, longer
// than 256 characters or holds a backslash or a zero character, a key more
// than 512 levels below HKEY_CLASSES_ROOT.
#ifndef BRINDLEX_WINAPI_REGF_HIVE_H_
#define BRINDLEX_WINAPI_REGF_HIVE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "winapi/hive_format.h"
#include "winapi/key_tree.h"

// Whether `bytes` (a file's contents) begin with the hive signature "regf".
bool IsRegfHive(std::string_view bytes);

// What the base block of a hive says; see CheckHiveHeader.
struct RegfHeader {
  uint32_t sequence1 = 0;
  uint32_t sequence2 = 0;
  uint32_t major_version = 0;
  uint32_t minor_version = 0;
  uint32_t root_offset = 0;  // from the start of the hive bins
  uint32_t bins_size = 0;    // the hive bins' length
};

// Reads the base block of `bytes` into `*header` and checks it: the
// signature, major version 1, the checksum, equal sequence numbers and a
// file that holds all the hive bins the block counts. Returns true when the
// hive may be loaded; else false with the reason in `*error` (a sentence
// fragment without a file name).
bool CheckHiveHeader(std::string_view bytes, RegfHeader* header, std::string* error);
// The same for a file of `file_size` bytes that begins with `start` (its
// base block, or all of it when shorter).
bool CheckHiveHeader(std::string_view start, uint64_t file_size, RegfHeader* header,
                     std::string* error);

class RegfHive {
 public:
  RegfHive();
  ~RegfHive();
  RegfHive(const RegfHive&) = delete;
  RegfHive& operator=(const RegfHive&) = delete;

  // Loads the hive file contents `bytes`: every key below HKEY_CLASSES_ROOT
  // goes into `tree`, which must hold no key yet, must outlive this object
  // and may lose keys only by deletes. The tree is switched to the added
  // order (KeyTree::UseAddedOrder), so that it lists subkeys in the hive's
  // stored order. Names are converted as the platform's ANSI calls convert
  // them: a name with an exact ANSI (Windows-1252) form gets it; a name
  // without one is added with AddUnmatchableChild, shown with the code
  // page's best-fit substitutes or '?', so that it is listed but can be
  // neither opened nor deleted (its parent then cannot be deleted either).
  // Returns true on success. On failure returns false with the reason in
  // `error->message` (`error->line` is 0); the tree may hold some keys and
  // the object is unusable.
  bool Parse(std::string bytes, KeyTree* tree, HiveError* error);

  // The same for the hive in `file`, an open regular file, which libhivex
  // reads. The file must stay open until the last Write, and the caller
  // must hold it unchanged (under its lock) and check, after this call and
  // before keeping any Write, that it did not change since: the deletes
  // are checked against the cells read from it again, a window at a time,
  // so that the hive is not held in memory twice.
  bool ParseFile(int file, KeyTree* tree, HiveError* error);

  // Writes the whole hive as it is after the deletes made in the tree since
  // Parse: each deleted key that is the top of a deleted subtree is removed
  // with libhivex's delete, which frees the cells of the keys below it and
  // their values, class names and (when no other key uses them) security
  // descriptors; nothing else changes. The base block's sequence numbers
  // are both raised by one and its checksum is recomputed (libhivex's
  // commit). May be called again, also after further deletes. Returns false
  // when `sink` did, when a delete failed (then every later call fails too)
  // or when the hive could not be produced.
  bool Write(const HiveSink& sink) const;

  // The same, into the file open for writing as `fd`, at its offset, which
  // ends past the hive; what the file held there is overwritten and nothing
  // is truncated (not synced). Spares the copy that Write makes. Returns
  // false with errno set on failure.
  bool WriteToFile(int fd) const;

  // The number of keys below HKEY_CLASSES_ROOT that Parse read.
  size_t key_count() const;
  // Whether HKEY_CLASSES_ROOT is the root's Classes key (false: the root).
  bool classes_below_root() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

#endif  // BRINDLEX_WINAPI_REGF_HIVE_H_
