#include "cleaner/registry/backup_format.h"

#include "platform/registry/hex_data.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace cleaner {

namespace {

using platform::DWORD;

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
        platform::hexdata::AppendDword(out, bytes);
    } else {
        platform::hexdata::AppendHexPrefix(out, type);
        platform::hexdata::AppendHexBytes(out, out.size() - lineStart, bytes, "\r\n");
    }
    out += "\r\n";
}

std::string RestoreCommand(std::string_view file) {
#ifdef _WIN32
    std::string command = "reg import ";
#else
    std::string command = "wine reg import ";
#endif
    // Quoted when it holds what a shell or cmd would split or read (a space, most often).
    const bool plain = !file.empty() && std::all_of(file.begin(), file.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("._-/\\:+@").find(c) != std::string_view::npos;
    });
    if (plain) {
        command.append(file);
    } else {
        command.append("\"").append(file).append("\"");
    }
    return command + " /reg:64";
}

}  // namespace cleaner
