#include "framework/code_page.h"

namespace {

// Windows-1252 bytes 0x80-0x9F; every other byte is its own code point.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char16_t ToUtf16(unsigned char byte) {
  return byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80] : char16_t{byte};
}

constexpr char16_t ToLower(char16_t unit) {
  if ((unit >= u'A' && unit <= u'Z') || (unit >= 0xC0 && unit <= 0xDE && unit != 0xD7)) {
    return static_cast<char16_t>(unit + 0x20);
  }
  switch (unit) {
    case 0x0152: return 0x0153;  // OE ligature
    case 0x0160: return 0x0161;  // S with caron
    case 0x017D: return 0x017E;  // Z with caron
    case 0x0178: return 0x00FF;  // Y with diaeresis
    default: return unit;
  }
}

constexpr std::array<char16_t, 256> MakeFoldTable() {
  std::array<char16_t, 256> table{};
  for (int byte = 0; byte < 256; ++byte) {
    table[byte] = ToLower(ToUtf16(static_cast<unsigned char>(byte)));
  }
  return table;
}

}  // namespace

namespace code_page_internal {
const std::array<char16_t, 256> kFoldedAnsi = MakeFoldTable();
}  // namespace code_page_internal

char16_t AnsiToUtf16(unsigned char byte) { return ToUtf16(byte); }

bool Utf16ToAnsi(char16_t unit, unsigned char* byte) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
    *byte = static_cast<unsigned char>(unit);
    return true;
  }
  for (int index = 0; index < 32; ++index) {
    if (kHighControls[index] == unit) {
      *byte = static_cast<unsigned char>(0x80 + index);
      return true;
    }
  }
  return false;
}

char16_t FoldToLower(char16_t unit) { return ToLower(unit); }
