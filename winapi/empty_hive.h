// An empty registry hive file in the platform's binary format ("regf"): the
// base block, then one hive bin holding the root key, the root's security
// descriptor and free space. Used to start hives that are then filled
// through the hive library (fixtures, benchmarks); the program itself never
// creates a hive.
//
// The layout written:
//   0x0000  base block (4096 bytes): "regf", two equal sequence numbers,
//           the last-written time, version 1.minor, type 0 (primary),
//           format 1, the root cell's offset, the hive bins' length,
//           clustering factor 1, the file name (UTF-16), and at 0x1FC the
//           XOR of the 127 words before it.
//   0x1000  hive bin (4096 bytes): "hbin", its offset 0, its size, the time;
//           at 0x1020 the root key cell ("nk", flags: hive entry, not
//           deletable, ASCII name), then its security cell ("sk", a
//           self-relative descriptor: owner Administrators, group SYSTEM,
//           full control for Administrators and SYSTEM, read for
//           Everyone), then one free cell up to the end of the bin.
// Offsets inside the hive bins count from the first bin (file offset 4096).
#ifndef BRINDLEX_WINAPI_EMPTY_HIVE_H_
#define BRINDLEX_WINAPI_EMPTY_HIVE_H_

#include <cstdint>
#include <string>
#include <string_view>

struct EmptyHiveOptions {
  uint32_t minor_version = 5;  // 3 (older systems) or 5 (leaf-hash lists)
  uint32_t sequence = 1;       // both sequence numbers
  // Last-written time, in 100 ns units since 1601 (a FILETIME).
  uint64_t timestamp = 0x01D9000000000000ULL;
  std::string root_name = "ROOT";  // ASCII, 1 to 255 characters
  std::string file_name = "\\REGISTRY\\MACHINE\\SOFTWARE";  // ASCII, at most 31 kept
};

namespace empty_hive {
constexpr size_t kBaseBlockSize = 4096;
constexpr size_t kBinSize = 4096;
constexpr size_t kChecksumOffset = 0x1FC;
constexpr uint32_t kRootCellOffset = 0x20;  // the first cell of the first bin
}  // namespace empty_hive

// The hive format's numbers are little-endian. The value of the bytes at
// `at` of `bytes`, which must hold them, and its store there.
namespace hive_bytes {
inline uint32_t Get32(std::string_view bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= uint32_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
  return value;
}
template <typename T>
void Put(std::string* bytes, size_t at, T value) {
  for (size_t i = 0; i < sizeof(T); ++i) (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}
inline void Put16(std::string* bytes, size_t at, uint16_t value) { Put(bytes, at, value); }
inline void Put32(std::string* bytes, size_t at, uint32_t value) { Put(bytes, at, value); }
inline void Put64(std::string* bytes, size_t at, uint64_t value) { Put(bytes, at, value); }
}  // namespace hive_bytes

// The bytes of the hive file. Returns an empty string when an option is out
// of range (another minor version, a root name that is empty, too long or
// not ASCII).
std::string MakeEmptyHive(const EmptyHiveOptions& options = {});

// The base block's checksum of `base_block` (at least 508 bytes): the XOR
// of its first 127 little-endian words, with 0 given as 1 and 0xFFFFFFFF as
// 0xFFFFFFFE, as the platform stores it.
uint32_t HiveHeaderChecksum(const std::string& base_block);

#endif  // BRINDLEX_WINAPI_EMPTY_HIVE_H_
