#include "cleaner/registry/backup_format.h"

#include <algorithm>
#include <cstdint>

namespace cleaner {

namespace {

using platform::DWORD;

// Hex lines wrap once they reach this many characters, as the registry editors write them:
// the line then ends in a backslash and the data goes on after two blanks.
constexpr std::size_t kHexWrapColumn = 77;

constexpr char kHexDigits[] = "0123456789abcdef";

// "hex:" for REG_BINARY, "hex(N):" with N in lowercase hex for every other type.
void AppendHexPrefix(std::string& out, DWORD type) {
    if (type == platform::kRegBinary) {
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
    while (count > 0) {
        out += digits[--count];
    }
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
constexpr HexPairs kHexPairs;

// column: characters already on the line (name part and prefix). Each byte but the last is
// followed by a comma, and the line wraps after the comma that takes it to kHexWrapColumn.
// Written through one reservation, a line's run of bytes at a time: a blob of data is the
// largest thing a backup holds.
void AppendHexBytes(std::string& out, std::size_t column, std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    const std::size_t start = out.size();
    out.resize(start + bytes.size() * 3 + (bytes.size() / 25 + 1) * 5);
    char* at = out.data() + start;
    const std::size_t last = bytes.size() - 1;
    // Bytes on this line, each with its comma, before it wraps.
    std::size_t perLine = column < kHexWrapColumn ? (kHexWrapColumn - column + 2) / 3 : 1;
    std::size_t i = 0;
    for (;;) {
        const bool wraps = i + perLine <= last;
        const std::size_t lineEnd = wraps ? i + perLine : last;
        for (; i < lineEnd; ++i) {
            const char* pair = kHexPairs.pairs[static_cast<unsigned char>(bytes[i])];
            at[0] = pair[0];
            at[1] = pair[1];
            at[2] = ',';
            at += 3;
        }
        if (!wraps) {
            break;
        }
        for (const char c : std::string_view("\\\r\n  ")) {
            *at++ = c;
        }
        perLine = (kHexWrapColumn - 2 + 2) / 3;
    }
    const char* pair = kHexPairs.pairs[static_cast<unsigned char>(bytes[last])];
    at[0] = pair[0];
    at[1] = pair[1];
    at += 2;
    out.resize(static_cast<std::size_t>(at - out.data()));
}

// A string value that the quoted form gives back exactly: one terminating NUL and nothing in
// the text that a quoted line cannot carry (another NUL, a line break).
bool IsPlainString(std::string_view bytes) {
    if (bytes.empty() || bytes.back() != '\0') {
        return false;
    }
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\0' || c == '\r' || c == '\n') {
            return false;
        }
    }
    return true;
}

void AppendDword(std::string& out, std::string_view bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) {
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    out += "dword:";
    for (int shift = 28; shift >= 0; shift -= 4) {
        out += kHexDigits[(value >> shift) & 0x0F];
    }
}

}  // namespace

std::string BackupFileLine(std::string_view exportText) {
    std::string line;
    line.reserve(exportText.size() + 2);
    line.append(exportText).append("\r\n");
    return line;
}

void AppendKeyLine(std::string& out, std::string_view path) {
    out += "\r\n[";
    out += path;
    out += "]\r\n";
}

void AppendEscaped(std::string& out, std::string_view text) {
    std::size_t plain = 0;  // start of the run of characters that go as they are
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' && c != '"' && c != '\r' && c != '\n') {
            continue;
        }
        out.append(text.data() + plain, i - plain);
        out += '\\';
        out += c == '\r' ? 'r' : c == '\n' ? 'n' : c;
        plain = i + 1;
    }
    out.append(text.data() + plain, text.size() - plain);
}

void AppendValueLine(std::string& out, std::string_view name, DWORD type,
                     std::string_view bytes) {
    const std::size_t lineStart = out.size();
    if (name.empty()) {
        out += "@=";
    } else {
        out += '"';
        AppendEscaped(out, name);
        out += "\"=";
    }
    if (type == platform::kRegSz && IsPlainString(bytes)) {
        out += '"';
        AppendEscaped(out, bytes.substr(0, bytes.size() - 1));
        out += '"';
    } else if (type == platform::kRegDword && bytes.size() == 4) {
        AppendDword(out, bytes);
    } else {
        AppendHexPrefix(out, type);
        AppendHexBytes(out, out.size() - lineStart, bytes);
    }
    out += "\r\n";
}

}  // namespace cleaner
