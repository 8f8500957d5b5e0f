// The forms of registry data that both registry text formats write alike: the Wine prefix's
// files and the REGEDIT4 backup. Data is written "hex:" (REG_BINARY) or "hex(N):" (any other
// type, N in lowercase hex), then its bytes as two lowercase hex digits each, separated by commas;
// a line wraps after the comma that takes it to kHexWrapColumn characters, with a backslash, and
// goes on after two blanks. A REG_DWORD is "dword:" and eight hex digits.
//
// Header only and standard C++: the backup's writer (cleaner/registry, also built for Windows)
// uses it without linking the store.
#pragma once

#include "platform/registry/registry_api.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::hexdata {

inline constexpr std::size_t kHexWrapColumn = 77;
inline constexpr char kHexDigits[] = "0123456789abcdef";

// "hex:" for REG_BINARY, "hex(N):" for every other type.
inline void AppendHexPrefix(std::string& out, DWORD type) {
    if (type == kRegBinary) {
        out += "hex:";
        return;
    }
    out += "hex(";
    char digits[8];
    std::size_t count = 0;
    do {
        digits[count++] = kHexDigits[type & 0x0F];
        type >>= 4;
    } while (type != 0);
    while (count > 0) out += digits[--count];
    out += "):";
}

// "00" to "ff": two characters for each byte.
struct HexPairs {
    char pairs[256][2];
    constexpr HexPairs() : pairs() {
        for (int b = 0; b < 256; ++b) {
            pairs[b][0] = kHexDigits[b >> 4];
            pairs[b][1] = kHexDigits[b & 0x0F];
        }
    }
};
inline constexpr HexPairs kHexPairs;

// The bytes, after column characters already on the line (the name part and the prefix); a
// wrapped line ends in a backslash and lineEnd. Written through one reservation, a line's run of
// bytes at a time: a blob of data is the largest thing either file holds.
inline void AppendHexBytes(std::string& out, std::size_t column, std::string_view bytes,
                           std::string_view lineEnd) {
    if (bytes.empty()) return;
    const std::size_t start = out.size();
    const std::size_t wrap = 1 + lineEnd.size() + 2;  // backslash, line end, two blanks
    out.resize(start + bytes.size() * 3 + (bytes.size() / 25 + 1) * wrap);
    char* at = out.data() + start;
    const std::size_t last = bytes.size() - 1;
    // Bytes on this line, each with its comma, before it wraps.
    std::size_t perLine = column < kHexWrapColumn ? (kHexWrapColumn - column + 2) / 3 : 1;
    std::size_t i = 0;
    for (;;) {
        const bool wraps = i + perLine <= last;
        const std::size_t lineStop = wraps ? i + perLine : last;
        for (; i < lineStop; ++i) {
            const char* pair = kHexPairs.pairs[static_cast<unsigned char>(bytes[i])];
            at[0] = pair[0];
            at[1] = pair[1];
            at[2] = ',';
            at += 3;
        }
        if (!wraps) break;
        *at++ = '\\';
        for (const char c : lineEnd) *at++ = c;
        *at++ = ' ';
        *at++ = ' ';
        perLine = (kHexWrapColumn - 2 + 2) / 3;
    }
    const char* pair = kHexPairs.pairs[static_cast<unsigned char>(bytes[last])];
    at[0] = pair[0];
    at[1] = pair[1];
    at += 2;
    out.resize(static_cast<std::size_t>(at - out.data()));
}

// "dword:" and the value of four little-endian bytes in eight hex digits.
inline void AppendDword(std::string& out, std::string_view bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    out += "dword:";
    for (int shift = 28; shift >= 0; shift -= 4) out += kHexDigits[(value >> shift) & 0x0F];
}

}  // namespace platform::hexdata
