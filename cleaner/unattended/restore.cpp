#include "cleaner/unattended/restore.h"

#include <cctype>
#include <cstdint>

namespace cleaner {
namespace {

std::string Trimmed(const std::string& line) {
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = line.find_last_not_of(" \t\r");
    return line.substr(first, last - first + 1);
}

// The text of a quoted name or string starting at text[at] == '"': \\ and \" stand for themselves
// (as this program's backup writes them); any other backslash is kept, as the registry editor
// keeps it. at ends after the closing quote.
bool Quoted(const std::string& text, std::size_t& at, std::string& out) {
    out.clear();
    for (++at; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '"') {
            ++at;
            return true;
        }
        if (c == '\\' && at + 1 < text.size() && (text[at + 1] == '\\' || text[at + 1] == '"')) {
            out.push_back(text[++at]);
        } else {
            out.push_back(c);
        }
    }
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "01,02,ab": bytes separated by commas, blanks allowed around them; empty: no bytes.
bool HexBytes(const std::string& text, std::string& bytes) {
    bytes.clear();
    std::size_t at = 0;
    for (;;) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
        if (at >= text.size()) return true;  // no bytes, or a comma at the end
        if (at + 1 >= text.size()) return false;
        const int high = HexDigit(text[at]);
        const int low = HexDigit(text[at + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<char>(high * 16 + low));
        at += 2;
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
        if (at >= text.size()) return true;
        if (text[at] != ',') return false;
        ++at;
    }
}

bool RootOf(const std::string& name, platform::HKEY& root, std::string& path) {
    const std::pair<const char*, platform::HKEY> roots[] = {
        {"HKEY_CLASSES_ROOT", platform::kHkeyClassesRoot},
        {"HKEY_CURRENT_USER", platform::kHkeyCurrentUser},
        {"HKEY_LOCAL_MACHINE", platform::kHkeyLocalMachine},
    };
    for (const auto& [rootName, handle] : roots) {
        const std::string prefix = rootName;
        if (name.size() < prefix.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < prefix.size() && same; ++i) {
            same = std::toupper(static_cast<unsigned char>(name[i])) == prefix[i];
        }
        if (!same) continue;
        if (name.size() == prefix.size()) {
            root = handle;
            path.clear();
            return true;
        }
        if (name[prefix.size()] != '\\') continue;
        root = handle;
        path = name.substr(prefix.size() + 1);
        return !path.empty() && path.back() != '\\' && path.find("\\\\") == std::string::npos;
    }
    return false;
}

bool ValueData(const std::string& data, RegFileValue& value) {
    if (!data.empty() && data[0] == '"') {
        std::size_t at = 0;
        if (!Quoted(data, at, value.bytes) || !Trimmed(data.substr(at)).empty()) return false;
        value.type = platform::kRegSz;
        value.bytes.push_back('\0');
        return true;
    }
    if (data.rfind("dword:", 0) == 0) {
        const std::string digits = data.substr(6);
        if (digits.empty() || digits.size() > 8) return false;
        std::uint32_t number = 0;
        for (const char c : digits) {
            if (HexDigit(c) < 0) return false;
            number = number * 16 + static_cast<std::uint32_t>(HexDigit(c));
        }
        value.type = platform::kRegDword;
        value.bytes.clear();
        for (int i = 0; i < 4; ++i) value.bytes.push_back(static_cast<char>((number >> (8 * i)) & 0xFF));
        return true;
    }
    if (data.rfind("hex:", 0) == 0) {
        value.type = platform::kRegBinary;
        return HexBytes(data.substr(4), value.bytes);
    }
    if (data.rfind("hex(", 0) == 0) {
        const auto close = data.find("):");
        if (close == std::string::npos || close == 4 || close > 12) return false;
        std::uint32_t type = 0;
        for (std::size_t i = 4; i < close; ++i) {
            if (HexDigit(data[i]) < 0) return false;
            type = type * 16 + static_cast<std::uint32_t>(HexDigit(data[i]));
        }
        value.type = type;
        return HexBytes(data.substr(close + 2), value.bytes);
    }
    return false;
}

}  // namespace

bool ParseRegFile(const std::string& text, std::vector<RegFileKey>& keys, std::string& error) {
    keys.clear();
    std::vector<std::string> lines;
    std::vector<std::size_t> numbers;  // the file's line number where each joined line starts
    std::size_t at = 0;
    std::size_t number = 0;
    bool continued = false;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ++number;
        at = end + 1;
        if (continued) {
            lines.back() += Trimmed(line);
        } else {
            lines.push_back(line);
            numbers.push_back(number);
        }
        // Hex data goes on after a backslash at the end of its line; key lines and strings end
        // otherwise.
        const std::string& joined = lines.back();
        continued = !joined.empty() && joined.back() == '\\' && joined[0] != '[' &&
                    joined.find("=hex") != std::string::npos;
        if (continued) lines.back().pop_back();
        if (end == text.size()) break;
    }

    const auto fail = [&](std::size_t i, const std::string& why) {
        error = "line " + std::to_string(numbers[i]) + ": " + why;
        return false;
    };
    bool header = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string line = Trimmed(lines[i]);
        if (line.empty() || line[0] == ';') continue;
        if (!header) {
            if (line != "REGEDIT4") return fail(i, "the file does not begin with REGEDIT4");
            header = true;
            continue;
        }
        if (line[0] == '[') {
            if (line.size() > 1 && line[1] == '-') {
                return fail(i, "the file deletes a key (" + line +
                                   "): it is no backup, and nothing of it was restored");
            }
            if (line.back() != ']') return fail(i, "a key line must end with ]");
            RegFileKey key;
            key.name = line.substr(1, line.size() - 2);
            if (!RootOf(key.name, key.root, key.path)) {
                return fail(i, "\"" + key.name + "\" is not a key below HKEY_CLASSES_ROOT, "
                               "HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE");
            }
            keys.push_back(std::move(key));
            continue;
        }
        if (keys.empty()) return fail(i, "a value before the first key line");
        RegFileValue value;
        std::size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (line[0] != '"' || !Quoted(line, pos, value.name)) {
            return fail(i, "not a key line, nor a value");
        }
        while (pos < line.size() && line[pos] == ' ') ++pos;
        if (pos >= line.size() || line[pos] != '=') return fail(i, "a value without =");
        const std::string data = Trimmed(line.substr(pos + 1));
        if (data == "-") {
            return fail(i, "the file deletes a value: it is no backup, and nothing of it was "
                           "restored");
        }
        if (!ValueData(data, value)) return fail(i, "value data this program cannot read");
        keys.back().values.push_back(std::move(value));
    }
    if (!header) {
        error = "the file is empty: it does not begin with REGEDIT4";
        return false;
    }
    return true;
}

}  // namespace cleaner
