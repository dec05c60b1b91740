#include "winapi/regf_hive.h"

#include "winapi/empty_hive.h"

namespace {

using hive_bytes::Get32;

constexpr size_t kBaseBlockSize = empty_hive::kBaseBlockSize;


RegfHeader ReadHeader(std::string_view bytes) {
  RegfHeader header;
  header.sequence1 = Get32(bytes, 0x04);
  header.sequence2 = Get32(bytes, 0x08);
  header.major_version = Get32(bytes, 0x14);
  header.minor_version = Get32(bytes, 0x18);
  header.root_offset = Get32(bytes, 0x24);
  header.bins_size = Get32(bytes, 0x28);
  return header;
}

}  // namespace

bool IsRegfHive(std::string_view bytes) { return bytes.substr(0, 4) == "regf"; }

bool CheckHiveHeader(std::string_view bytes, RegfHeader* header, std::string* error) {
  return CheckHiveHeader(bytes, bytes.size(), header, error);
}

bool CheckHiveHeader(std::string_view bytes, uint64_t file_size, RegfHeader* header,
                     std::string* error) {
  if (!IsRegfHive(bytes)) {
    *error = "not a registry hive (no \"regf\" signature)";
    return false;
  }
  if (bytes.size() < kBaseBlockSize || file_size < kBaseBlockSize) {
    *error = "the hive is cut short inside its base block";
    return false;
  }
  *header = ReadHeader(bytes);
  if (header->major_version != 1) {
    *error = "unknown hive format version " + std::to_string(header->major_version) + "." +
             std::to_string(header->minor_version);
    return false;
  }
  const std::string block(bytes.substr(0, kBaseBlockSize));
  if (HiveHeaderChecksum(block) != Get32(bytes, empty_hive::kChecksumOffset)) {
    *error = "the hive's base block is damaged (bad checksum)";
    return false;
  }
  if (header->sequence1 != header->sequence2) {
    *error = "the hive is dirty: its sequence numbers differ (" + std::to_string(header->sequence1) +
             " and " + std::to_string(header->sequence2) +
             "): its transaction logs were not applied (Windows crashed, or is hibernated or "
             "fast-started); boot Windows and shut it down fully, with Fast Startup off, first";
    return false;
  }
  if (header->bins_size == 0 || header->bins_size % empty_hive::kBinSize != 0 ||
      header->root_offset >= header->bins_size) {
    *error = "the hive's base block is damaged (bad hive bins size or root offset)";
    return false;
  }
  if (file_size - kBaseBlockSize < header->bins_size) {
    *error = "the hive is cut short: its base block counts " + std::to_string(header->bins_size) +
             " bytes of hive bins, the file holds " + std::to_string(file_size - kBaseBlockSize);
    return false;
  }
  return true;
}
