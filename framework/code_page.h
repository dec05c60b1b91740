// The system's ANSI code page (Windows-1252): how a byte becomes a UTF-16
// code unit and back, and the case folding that orders and matches registry
// key names.
#ifndef BRINDLEX_FRAMEWORK_CODE_PAGE_H_
#define BRINDLEX_FRAMEWORK_CODE_PAGE_H_

#include <array>

// The UTF-16 code unit of ANSI byte `byte`. Every byte has one; the five
// bytes that Windows-1252 leaves undefined map to the C1 control of the same
// number, as the platform's conversion does.
char16_t AnsiToUtf16(unsigned char byte);

// The ANSI byte of `unit`. Returns false, leaving `*byte` unchanged, for a
// unit that has no byte of its own in the code page.
bool Utf16ToAnsi(char16_t unit, unsigned char* byte);

// The lower-case form of `unit` for every character of the code page
// (A-Z, the Latin-1 capitals, and S/Z/OE with caron or ligature and Y with
// diaeresis); any other unit unchanged. Key names are ordered and matched by
// this folding of their UTF-16 code units.
char16_t FoldToLower(char16_t unit);

namespace code_page_internal {
extern const std::array<char16_t, 256> kFoldedAnsi;
}  // namespace code_page_internal

// FoldToLower(AnsiToUtf16(byte)), from a table: name comparison is hot.
inline char16_t FoldedAnsi(unsigned char byte) { return code_page_internal::kFoldedAnsi[byte]; }

#endif  // BRINDLEX_FRAMEWORK_CODE_PAGE_H_
