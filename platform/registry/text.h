// Text as the registry keeps it (UTF-16, as Wine's files and Windows do) and as the narrow
// functions give it out (Windows-1252, one byte a character), and the comparison of names that
// a Wine prefix uses for its sorted key and value lists.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::text {

// Each byte is one character; the five bytes that Windows-1252 leaves undefined map to the
// control characters of the same number, as Windows does.
std::u16string FromCp1252(std::string_view narrow);
void AppendFromCp1252(std::u16string& out, std::string_view narrow);

// One byte per UTF-16 unit; a unit with no Windows-1252 byte becomes '?'.
char ToCp1252(char16_t unit);
std::string ToCp1252(std::u16string_view wide);

// Wine's lowercase mapping (its l_intl.nls table when Wine is installed; otherwise a built-in
// table for the Latin, Greek and Cyrillic letters).
char16_t ToLowerWine(char16_t unit);
// The whole name lowercased as Wine compares it: a key for lookups that ignore case.
std::u16string FoldWine(std::u16string_view name);

// Wine's order of names: unit by unit after lowercasing, a prefix before the longer name.
int CompareNames(std::u16string_view a, std::u16string_view b);
bool NamesEqual(std::u16string_view a, std::u16string_view b);

}  // namespace platform::text

// UTF-8: the encoding of Linux file names, arguments and terminals, and of Wine's files.
namespace platform::text {

// Decodes the UTF-8 sequence at pos into code and moves pos past it. False, with pos unchanged,
// when the bytes at pos are not a whole, shortest-form sequence of a Unicode scalar value.
bool DecodeUtf8(std::string_view bytes, std::size_t& pos, char32_t& code);
// Appends a scalar value as one UTF-16 unit, or as a surrogate pair beyond U+FFFF.
void AppendUtf16(std::u16string& out, char32_t code);
// UTF-8 to UTF-16; each byte that does not begin a valid sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view bytes);
// UTF-16 to UTF-8; a surrogate without its partner becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);

}  // namespace platform::text
