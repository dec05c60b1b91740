#include "winapi/empty_hive.h"

#include <cstring>

namespace {

using hive_bytes::Put16;
using hive_bytes::Put32;
using hive_bytes::Put64;

using empty_hive::kBaseBlockSize;
using empty_hive::kBinSize;

constexpr uint32_t kNoCell = 0xFFFFFFFF;
constexpr size_t kBinHeaderSize = 0x20;
constexpr size_t kKeyFixedSize = 0x4C;  // an nk cell's fields before its name
constexpr uint16_t kKeyHiveEntry = 0x0004;
constexpr uint16_t kKeyNoDelete = 0x0008;
constexpr uint16_t kKeyAsciiName = 0x0020;

void PutBytes(std::string* out, size_t at, const std::string& bytes) {
  out->replace(at, bytes.size(), bytes);
}

size_t RoundToCell(size_t size) { return (size + 7) & ~size_t{7}; }

// A SID in its binary form: revision 1, the count, the 48-bit authority
// (big-endian) and the subauthorities.
std::string Sid(uint8_t authority, std::initializer_list<uint32_t> subauthorities) {
  std::string sid(8 + 4 * subauthorities.size(), '\0');
  sid[0] = 1;
  sid[1] = static_cast<char>(subauthorities.size());
  sid[7] = static_cast<char>(authority);
  size_t at = 8;
  for (uint32_t sub : subauthorities) {
    Put32(&sid, at, sub);
    at += 4;
  }
  return sid;
}

// An ACCESS_ALLOWED ACE that subkeys inherit.
std::string AllowAce(uint32_t mask, const std::string& sid) {
  std::string ace(8, '\0');
  ace[0] = 0;     // ACCESS_ALLOWED_ACE_TYPE
  ace[1] = 0x02;  // CONTAINER_INHERIT_ACE
  Put16(&ace, 2, static_cast<uint16_t>(8 + sid.size()));
  Put32(&ace, 4, mask);
  return ace + sid;
}

std::string SecurityDescriptor() {
  constexpr uint32_t kKeyAllAccess = 0xF003F;
  constexpr uint32_t kKeyRead = 0x20019;
  const std::string administrators = Sid(5, {32, 544});
  const std::string system = Sid(5, {18});
  const std::string everyone = Sid(1, {0});
  const std::string aces = AllowAce(kKeyAllAccess, administrators) +
                           AllowAce(kKeyAllAccess, system) + AllowAce(kKeyRead, everyone);
  std::string acl(8, '\0');
  acl[0] = 2;  // ACL_REVISION
  Put16(&acl, 2, static_cast<uint16_t>(8 + aces.size()));
  Put16(&acl, 4, 3);
  acl += aces;

  std::string header(20, '\0');
  header[0] = 1;                      // revision
  Put16(&header, 2, 0x8004);          // SE_SELF_RELATIVE | SE_DACL_PRESENT
  const uint32_t dacl = 20;
  const uint32_t owner = dacl + static_cast<uint32_t>(acl.size());
  const uint32_t group = owner + static_cast<uint32_t>(administrators.size());
  Put32(&header, 4, owner);
  Put32(&header, 8, group);
  Put32(&header, 16, dacl);
  return header + acl + administrators + system;
}

// The root key cell at `at` (a bin offset) in `bins`, naming `security`.
size_t PutRootKey(std::string* bins, size_t at, const EmptyHiveOptions& options,
                  uint32_t security) {
  const size_t size = RoundToCell(4 + kKeyFixedSize + options.root_name.size());
  Put32(bins, at, static_cast<uint32_t>(-static_cast<int32_t>(size)));  // in use
  const size_t key = at + 4;
  PutBytes(bins, key, "nk");
  Put16(bins, key + 0x02, kKeyHiveEntry | kKeyNoDelete | kKeyAsciiName);
  Put64(bins, key + 0x04, options.timestamp);
  Put32(bins, key + 0x10, kNoCell);  // parent: none
  Put32(bins, key + 0x1C, kNoCell);  // subkey list
  Put32(bins, key + 0x20, kNoCell);  // volatile subkey list
  Put32(bins, key + 0x28, kNoCell);  // value list
  Put32(bins, key + 0x2C, security);
  Put32(bins, key + 0x30, kNoCell);  // class name
  Put16(bins, key + 0x48, static_cast<uint16_t>(options.root_name.size()));
  PutBytes(bins, key + kKeyFixedSize, options.root_name);
  return size;
}

// The security cell at `at`, the only one: its list links point to itself.
size_t PutSecurity(std::string* bins, size_t at) {
  const std::string descriptor = SecurityDescriptor();
  const size_t size = RoundToCell(4 + 0x14 + descriptor.size());
  Put32(bins, at, static_cast<uint32_t>(-static_cast<int32_t>(size)));
  const size_t cell = at + 4;
  PutBytes(bins, cell, "sk");
  Put32(bins, cell + 0x04, static_cast<uint32_t>(at));  // previous
  Put32(bins, cell + 0x08, static_cast<uint32_t>(at));  // next
  Put32(bins, cell + 0x0C, 1);                          // keys using it
  Put32(bins, cell + 0x10, static_cast<uint32_t>(descriptor.size()));
  PutBytes(bins, cell + 0x14, descriptor);
  return size;
}

std::string MakeBin(const EmptyHiveOptions& options) {
  std::string bin(kBinSize, '\0');
  PutBytes(&bin, 0, "hbin");
  Put32(&bin, 0x04, 0);  // offset of this bin
  Put32(&bin, 0x08, static_cast<uint32_t>(kBinSize));
  Put64(&bin, 0x14, options.timestamp);
  const size_t key_size = RoundToCell(4 + kKeyFixedSize + options.root_name.size());
  const size_t security_at = kBinHeaderSize + key_size;
  PutRootKey(&bin, kBinHeaderSize, options, static_cast<uint32_t>(security_at));
  const size_t free_at = security_at + PutSecurity(&bin, security_at);
  Put32(&bin, free_at, static_cast<uint32_t>(kBinSize - free_at));  // free
  return bin;
}

uint32_t PlainChecksum(const std::string& block) {
  uint32_t sum = 0;
  for (size_t at = 0; at < empty_hive::kChecksumOffset; at += 4) {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) word |= uint32_t{static_cast<unsigned char>(block[at + i])} << (8 * i);
    sum ^= word;
  }
  return sum;
}

std::string MakeBaseBlock(EmptyHiveOptions options) {
  std::string block(kBaseBlockSize, '\0');
  for (;;) {
    PutBytes(&block, 0, "regf");
    Put32(&block, 0x04, options.sequence);
    Put32(&block, 0x08, options.sequence);
    Put64(&block, 0x0C, options.timestamp);
    Put32(&block, 0x14, 1);  // major version
    Put32(&block, 0x18, options.minor_version);
    Put32(&block, 0x1C, 0);  // primary file
    Put32(&block, 0x20, 1);  // direct memory load
    Put32(&block, 0x24, empty_hive::kRootCellOffset);
    Put32(&block, 0x28, static_cast<uint32_t>(kBinSize));
    Put32(&block, 0x2C, 1);  // clustering factor
    const std::string name = options.file_name.substr(0, 31);
    for (size_t i = 0; i < name.size(); ++i) Put16(&block, 0x30 + 2 * i, static_cast<unsigned char>(name[i]));
    // Readers that take the plain XOR would refuse the two values the
    // platform stores differently; a later time avoids them.
    const uint32_t sum = PlainChecksum(block);
    if (sum != 0 && sum != 0xFFFFFFFF) {
      Put32(&block, empty_hive::kChecksumOffset, sum);
      return block;
    }
    ++options.timestamp;
  }
}

bool IsPrintableAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

}  // namespace

uint32_t HiveHeaderChecksum(const std::string& base_block) {
  const uint32_t sum = PlainChecksum(base_block);
  if (sum == 0) return 1;
  if (sum == 0xFFFFFFFF) return 0xFFFFFFFE;
  return sum;
}

std::string MakeEmptyHive(const EmptyHiveOptions& options) {
  if (options.minor_version != 3 && options.minor_version != 5) return std::string();
  if (options.root_name.empty() || options.root_name.size() > 255 ||
      !IsPrintableAscii(options.root_name) || options.root_name.find('\\') != std::string::npos ||
      !IsPrintableAscii(options.file_name)) {
    return std::string();
  }
  return MakeBaseBlock(options) + MakeBin(options);
}
