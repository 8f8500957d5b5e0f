// Registry text is Windows-1252 bytes; Qt text is QString. Qt 6 has no Windows-1252 codec
// without ICU, so the conversion uses the code page's own table, the one the registry uses.
#pragma once

#include <QString>

#include <string>

namespace cleaner {

// Every byte maps to one character. The five bytes the code page leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) map to the control characters of the same number, as Windows does, so
// every byte string comes back unchanged from ToCp1252.
QString FromCp1252(const std::string& bytes);

// Characters outside the code page become '?', as Windows' default character does (one for
// each UTF-16 unit, so a character beyond U+FFFF gives two).
std::string ToCp1252(const QString& text);

}  // namespace cleaner
