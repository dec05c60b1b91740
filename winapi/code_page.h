// The system's ANSI code page (Windows-1252) as the platform converts it:
// the strict byte/UTF-16 mapping and the case folding of registry key names,
// the best-fit conversion that profile values go through on their way out,
// and the UTF-8 and UTF-16 decoders of profile files.
#ifndef BRINDLEX_WINAPI_CODE_PAGE_H_
#define BRINDLEX_WINAPI_CODE_PAGE_H_

#include <array>
#include <string>
#include <string_view>

// The UTF-16 code unit of ANSI byte `byte`. Every byte has one; the five
// bytes that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map
// to the C1 control of the same number, as the platform's conversion does.
char16_t AnsiToUtf16(unsigned char byte);

// The ANSI byte of `unit`. Returns false, leaving `*byte` unchanged, for a
// unit that has no byte of its own in the code page.
bool Utf16ToAnsi(char16_t unit, unsigned char* byte);

namespace code_page_internal {
extern const std::array<char16_t, 256> kFoldedAnsi;
}  // namespace code_page_internal

// The lower-case UTF-16 unit of ANSI byte `byte` (A-Z, the Latin-1 capitals,
// and S/Z/OE with caron or ligature and Y with diaeresis fold; every other
// character is its own). Key names are ordered and matched by this folding.
inline char16_t FoldedAnsi(unsigned char byte) { return code_page_internal::kFoldedAnsi[byte]; }

// AnsiToUtf16 of every byte: one unit per byte, so every byte survives a
// round trip through Utf16ToAnsi.
std::u16string AnsiToUnits(std::string_view bytes);

// One byte per unit: the unit's own byte in Windows-1252; else the platform's
// best-fit byte for it (U+0100 and U+FF21 give 'A', U+2000 gives ' '); else
// '?'. Surrogates, paired or not, give '?' each.
std::string UnitsToAnsi(std::u16string_view units);

// UTF-8 decoded as the platform decodes it when it does not reject bad input:
// a malformed or truncated sequence gives one U+FFFD for its lead byte and
// the continuation bytes accepted so far, and decoding resumes at the byte
// that broke it; a sequence cut short by the end of the text swallows the
// rest of the text into one U+FFFD. Characters above U+FFFF become
// surrogate pairs.
std::u16string Utf8ToUnits(std::string_view bytes);

// UTF-16 in the given byte order. A last odd byte b gives the unit U+00bb
// (so a cut CR still ends the line and a cut 'A' stays an 'A').
std::u16string Utf16ToUnits(std::string_view bytes, bool big_endian);

#endif  // BRINDLEX_WINAPI_CODE_PAGE_H_
