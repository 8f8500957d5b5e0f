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

// column: characters already on the line (name part and prefix). Written through one
// reservation: a blob of data is the largest thing a backup holds.
void AppendHexBytes(std::string& out, std::size_t column, std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    std::size_t at = out.size();
    out.resize(at + bytes.size() * 3 + (bytes.size() / 25 + 1) * 5);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        out[at++] = kHexDigits[byte >> 4];
        out[at++] = kHexDigits[byte & 0x0F];
        if (i + 1 == bytes.size()) {
            break;
        }
        out[at++] = ',';
        column += 3;
        if (column >= kHexWrapColumn) {
            for (const char c : std::string_view("\\\r\n  ")) {
                out[at++] = c;
            }
            column = 2;
        }
    }
    out.resize(at);
}

// A string value that the quoted form gives back exactly: one terminating NUL and nothing in
// the text that a quoted line cannot carry (another NUL, a line break).
bool IsPlainString(std::string_view bytes) {
    if (bytes.empty() || bytes.back() != '\0') {
        return false;
    }
    const std::string_view text = bytes.substr(0, bytes.size() - 1);
    return text.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
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
    constexpr std::string_view kSpecial = "\\\"\r\n";
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t special = std::min(text.find_first_of(kSpecial, start), text.size());
        out.append(text.substr(start, special - start));
        if (special == text.size()) {
            break;
        }
        switch (text[special]) {
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default: out += '\\'; out += text[special]; break;
        }
        start = special + 1;
    }
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
