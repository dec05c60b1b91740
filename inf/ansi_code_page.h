// Text conversions of the setup information reader. The reader works on
// UTF-16 code units, as the platform's profile functions do: a file is
// decoded from its encoding into units, and a value goes back to the
// system's ANSI code page (Windows-1252) on its way out.
#ifndef BRINDLEX_INF_ANSI_CODE_PAGE_H_
#define BRINDLEX_INF_ANSI_CODE_PAGE_H_

#include <string>
#include <string_view>

// One unit per byte: the Windows-1252 character of the byte. The five bytes
// the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1
// control of the same number, so every byte survives a round trip.
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

#endif  // BRINDLEX_INF_ANSI_CODE_PAGE_H_
