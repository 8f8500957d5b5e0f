#include "platform/registry/wine_syntax.h"

#include "platform/registry/hex_data.h"
#include "platform/registry/text.h"

#include <algorithm>
#include <charconv>

namespace platform::detail {
namespace {

// Reads Wine-escaped text from pos up to the unescaped `end` character (Wine's parse_strW),
// handing each UTF-16 unit to put. Returns the position after `end`, or npos with a reason.
template <typename Put>
std::size_t Decode(std::string_view s, std::size_t pos, char end, Put put, std::string& why) {
    while (pos < s.size() && s[pos] != end) {
        const char c = s[pos];
        if (c != '\\' && static_cast<unsigned char>(c) < 0x80) {
            put(static_cast<char16_t>(c));
            ++pos;
            continue;
        }
        if (c != '\\' || (pos + 1 < s.size() && static_cast<unsigned char>(s[pos + 1]) >= 0x80)) {
            // Raw UTF-8; an escaped UTF-8 character stands for itself.
            if (c == '\\') ++pos;
            char32_t cp = 0;
            if (!text::DecodeUtf8(s, pos, cp)) {
                why = "text that is not valid UTF-8";
                return std::string_view::npos;
            }
            if (cp >= 0x10000) {
                cp -= 0x10000;
                put(static_cast<char16_t>(0xD800 + (cp >> 10)));
                put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
            } else {
                put(static_cast<char16_t>(cp));
            }
            continue;
        }
        if (++pos >= s.size()) break;
        const char e = s[pos++];
        switch (e) {
            case 'a': put(7); break;
            case 'b': put(8); break;
            case 'e': put(27); break;
            case 'f': put(12); break;
            case 'n': put(10); break;
            case 'r': put(13); break;
            case 't': put(9); break;
            case 'v': put(11); break;
            case 'x': {
                unsigned value = 0;
                int digits = 0;
                while (digits < 4 && pos < s.size() && HexDigit(s[pos]) >= 0) {
                    value = value * 16 + static_cast<unsigned>(HexDigit(s[pos++]));
                    ++digits;
                }
                put(digits ? static_cast<char16_t>(value) : u'x');
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    unsigned value = static_cast<unsigned>(e - '0');
                    for (int digits = 1; digits < 3 && pos < s.size() && s[pos] >= '0' && s[pos] <= '7'; ++digits)
                        value = value * 8 + static_cast<unsigned>(s[pos++] - '0');
                    put(static_cast<char16_t>(value));
                } else {
                    put(static_cast<char16_t>(e));
                }
        }
    }
    if (pos >= s.size()) {
        why = std::string("text without its closing ") + end;
        return std::string_view::npos;
    }
    return pos + 1;
}

void AppendUtf16Bytes(std::string& out, std::u16string_view units) {
    for (char16_t u : units) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    }
}

// Hex bytes separated by commas, continued on the next line after a backslash (Wine's parse_hex
// and the loop around it in load_value).
bool ParseHexData(Lines* lines, std::string_view line, std::size_t pos, std::string* data,
                  std::string& why) {
    for (;;) {
        while (pos < line.size() && HexDigit(line[pos]) >= 0) {
            unsigned value = 0;
            while (pos < line.size() && HexDigit(line[pos]) >= 0) {
                value = value * 16 + static_cast<unsigned>(HexDigit(line[pos++]));
                if (value > 0xFF) {
                    why = "a hex byte greater than ff";
                    return false;
                }
            }
            if (data) data->push_back(static_cast<char>(value));
            pos = SkipSpace(line, pos);
            if (pos < line.size() && line[pos] == ',') ++pos;
            pos = SkipSpace(line, pos);
        }
        pos = SkipSpace(line, pos);
        if (pos == line.size()) return true;
        if (line[pos] != '\\') {
            why = "hex data with an unexpected character";
            return false;
        }
        if (!lines || !lines->Next(line)) {
            why = "hex data that continues past the end of the file";
            return false;
        }
        pos = SkipSpace(line, 0);
    }
}

void AppendHex(std::string& out, std::uint64_t value, int minDigits) {
    char buffer[20];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
    for (auto digits = result.ptr - buffer; digits < minDigits; ++digits) out.push_back('0');
    out.append(buffer, result.ptr);
}

void AppendDecimal(std::string& out, std::uint64_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void AppendOctal(std::string& out, unsigned value, int minDigits) {
    char buffer[12];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, 8);
    for (auto digits = result.ptr - buffer; digits < minDigits; ++digits) out.push_back('0');
    out.append(buffer, result.ptr);
}

std::u16string_view Units(const std::string& bytes, std::u16string& storage) {
    storage.clear();
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        storage.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                static_cast<unsigned char>(bytes[i + 1]) << 8));
    return storage;
}


// Visits the block's option lines (after trimming): those before the first value, or with
// wholeBlock every one. The key line is not visited.
template <typename Visit>
void ForEachOption(std::string_view block, bool wholeBlock, Visit visit) {
    Lines lines(block);
    std::string_view line;
    lines.Next(line);
    while (lines.Next(line)) {
        line = TrimLeft(line);
        if (line.empty()) continue;
        if (line[0] == '#') visit(line);
        else if ((line[0] == '"' || line[0] == '@') && !wholeBlock) return;
    }
}

}  // namespace

std::size_t Unescape(std::string_view s, std::size_t pos, char end, std::u16string& out,
                     std::string& why) {
    // Every unit takes at least one byte of input, so this is room enough.
    out.resize(s.size() - std::min(pos, s.size()) + 1);
    char16_t* write = out.data();
    const std::size_t next = Decode(s, pos, end, [&write](char16_t unit) { *write++ = unit; }, why);
    out.resize(static_cast<std::size_t>(write - out.data()));
    return next;
}

// Checks escaped text as Decode reads it, without keeping it: the common characters are
// stepped over, and only raw UTF-8 is decoded.
std::size_t SkipEscaped(std::string_view s, std::size_t pos, char end, std::string& why) {
    const auto stop = static_cast<unsigned char>(end);
    while ((pos = FindSpecial(s, pos, end)) < s.size()) {
        const auto c = static_cast<unsigned char>(s[pos]);
        if (c == stop) return pos + 1;
        if (c == '\\') {
            if (pos + 1 >= s.size()) break;
            if (static_cast<unsigned char>(s[pos + 1]) < 0x80) {
                pos += 2;
                continue;
            }
            ++pos;  // an escaped UTF-8 character stands for itself
        }
        char32_t cp = 0;
        if (!text::DecodeUtf8(s, pos, cp)) {
            why = "text that is not valid UTF-8";
            return std::string_view::npos;
        }
    }
    why = std::string("text without its closing ") + end;
    return std::string_view::npos;
}

// One value line (and its continuation lines), as Wine's load_value reads it.
// With keep false the value is only checked: its name and data are not filled in.
bool ParseValue(Lines* lines, std::string_view line, Value& value, bool keep, std::string& why) {
    value.data.clear();
    std::size_t pos = 0;
    if (line[0] == '@') {
        value.name.clear();
        pos = 1;
    } else {
        pos = keep ? Unescape(line, 1, '"', value.name, why) : SkipEscaped(line, 1, '"', why);
        if (pos == std::string_view::npos) return false;
    }
    pos = SkipSpace(line, pos);
    if (pos >= line.size() || line[pos] != '=') {
        why = "a value name without '=' after it";
        return false;
    }
    pos = SkipSpace(line, pos + 1);

    struct StringForm { std::string_view tag; DWORD type; };
    static constexpr StringForm kStrings[] = {
        {"\"", kRegSz}, {"str:\"", kRegSz}, {"str(2):\"", kRegExpandSz}, {"str(7):\"", kRegMultiSz}};
    for (const StringForm& form : kStrings) {
        if (!StartsWith(line, pos, form.tag)) continue;
        value.type = form.type;
        std::u16string units;
        pos = keep ? Unescape(line, pos + form.tag.size(), '"', units, why)
                   : SkipEscaped(line, pos + form.tag.size(), '"', why);
        if (pos == std::string_view::npos) return false;
        if (!OnlySpaceFrom(line, pos)) {
            why = "unexpected text after a string value";
            return false;
        }
        if (keep) {
            units.push_back(0);
            AppendUtf16Bytes(value.data, units);
        }
        return true;
    }
    if (StartsWith(line, pos, "dword:")) {
        pos += 6;
        std::uint64_t number = 0;
        const std::size_t first = pos;
        while (pos < line.size() && HexDigit(line[pos]) >= 0) {
            number = number * 16 + static_cast<unsigned>(HexDigit(line[pos++]));
            if (number > 0xFFFFFFFFull) {
                why = "a dword value greater than ffffffff";
                return false;
            }
        }
        if (pos == first || !OnlySpaceFrom(line, pos)) {
            why = "a dword value that is not hex digits";
            return false;
        }
        value.type = kRegDword;
        for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<char>((number >> (8 * i)) & 0xFF));
        return true;
    }
    if (StartsWith(line, pos, "hex:")) {
        value.type = kRegBinary;
        return ParseHexData(lines, line, pos + 4, keep ? &value.data : nullptr, why);
    }
    if (StartsWith(line, pos, "hex(")) {
        pos += 4;
        std::uint64_t type = 0;
        const std::size_t first = pos;
        while (pos < line.size() && HexDigit(line[pos]) >= 0 && pos - first < 8)
            type = type * 16 + static_cast<unsigned>(HexDigit(line[pos++]));
        if (pos == first || !StartsWith(line, pos, "):")) {
            why = "a value type hex(...) that is not a hex number";
            return false;
        }
        value.type = static_cast<DWORD>(type);
        return ParseHexData(lines, line, pos + 2, keep ? &value.data : nullptr, why);
    }
    why = "a value of unknown type";
    return false;
}

void ValueSet::Put(const Value& value) {
    const std::u16string key = text::FoldWine(value.name);
    if (values_.size() < kIndexFrom) {
        for (Value& existing : values_)
            if (text::NamesEqual(existing.name, value.name)) return Replace(existing, value);
    } else {
        if (index_.empty())
            for (std::size_t i = 0; i < values_.size(); ++i) index_.emplace(text::FoldWine(values_[i].name), i);
        if (auto it = index_.find(key); it != index_.end()) return Replace(values_[it->second], value);
        index_.emplace(key, values_.size());
    }
    values_.push_back(value);
}

void ParseBlockValues(std::string_view block, std::vector<Value>& values) {
    Lines lines(block);
    std::string_view line;
    lines.Next(line);  // the key line
    ValueSet set(values);
    Value value;
    std::string why;
    while (lines.Next(line)) {
        line = TrimLeft(line);
        if (line.empty() || (line[0] != '@' && line[0] != '"')) continue;
        if (ParseValue(&lines, line, value, true, why)) set.Put(value);
    }
}

std::optional<std::uint64_t> BlockTime(std::string_view block, bool wholeBlock) {
    std::optional<std::uint64_t> time;
    ForEachOption(block, wholeBlock, [&time](std::string_view line) {
        if (StartsWith(line, 0, "#time=")) time = OptionTime(line);
    });
    if (time) return time;
    // The key line's seconds, after the name and its closing bracket.
    const std::string_view keyLine = TrimLeft(block.substr(0, block.find('\n')));
    std::string why;
    std::size_t pos = SkipEscaped(keyLine, 1, ']', why);
    if (pos == std::string_view::npos) return std::nullopt;
    pos = SkipSpace(keyLine, pos);
    if (pos >= keyLine.size() || keyLine[pos] < '0' || keyLine[pos] > '9') return std::nullopt;
    std::uint64_t seconds = 0;
    while (pos < keyLine.size() && keyLine[pos] >= '0' && keyLine[pos] <= '9')
        seconds = seconds * 10 + static_cast<unsigned>(keyLine[pos++] - '0');
    return seconds * kTicksPerSecond + kTicksTo1970;
}

std::optional<std::u16string> BlockClass(std::string_view block, bool wholeBlock) {
    std::optional<std::u16string> className;
    ForEachOption(block, wholeBlock, [&className](std::string_view line) {
        if (!StartsWith(line, 0, "#class=\"")) return;
        std::u16string units;
        std::string why;
        if (Unescape(line, 8, '"', units, why) != std::string_view::npos) className = std::move(units);
    });
    return className;
}

void AppendEscaped(std::string& out, std::u16string_view units, std::string_view extraEscapes) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        const bool hasNext = i + 1 < units.size();
        const char16_t next = hasNext ? units[i + 1] : 0;
        if (c > 0x7F) {
            out += "\\x";
            const bool nextIsHex = hasNext && next < 0x80 && HexDigit(static_cast<char>(next)) >= 0;
            AppendHex(out, c, nextIsHex ? 4 : 1);
        } else if (c < 0x20) {
            out.push_back('\\');
            switch (c) {
                case 7: out.push_back('a'); break;
                case 8: out.push_back('b'); break;
                case 9: out.push_back('t'); break;
                case 10: out.push_back('n'); break;
                case 11: out.push_back('v'); break;
                case 12: out.push_back('f'); break;
                case 13: out.push_back('r'); break;
                case 27: out.push_back('e'); break;
                default: AppendOctal(out, c, hasNext && next >= u'0' && next <= u'7' ? 3 : 1);
            }
        } else {
            const char a = static_cast<char>(c);
            if (a == '\\' || extraEscapes.find(a) != std::string_view::npos) out.push_back('\\');
            out.push_back(a);
        }
    }
}

void AppendValueLine(std::string& out, const Value& value) {
    const std::size_t lineStart = out.size();
    if (value.name.empty()) {
        out += "@=";
    } else {
        out.push_back('"');
        AppendEscaped(out, value.name, "\"");
        out += "\"=";
    }
    const std::size_t size = value.data.size();
    switch (value.type) {
        case kRegSz:
        case kRegExpandSz:
        case kRegMultiSz:
            // Only a properly terminated string is written as text.
            if (size >= 2 && size % 2 == 0 && value.data[size - 1] == 0 && value.data[size - 2] == 0) {
                if (value.type != kRegSz) {
                    out += "str(";
                    AppendHex(out, value.type, 1);
                    out += "):";
                }
                std::u16string storage;
                std::u16string_view units = Units(value.data, storage);
                out.push_back('"');
                AppendEscaped(out, units.substr(0, units.size() - 1), "\"");
                out += "\"\n";
                return;
            }
            break;
        case kRegDword:
            if (size == 4) {
                hexdata::AppendDword(out, value.data);
                out.push_back('\n');
                return;
            }
            break;
        default: break;
    }
    hexdata::AppendHexPrefix(out, value.type);
    hexdata::AppendHexBytes(out, out.size() - lineStart, value.data, "\n");
    out.push_back('\n');
}

void AppendKeyTimes(std::string& out, std::uint64_t time) {
    const auto seconds = (static_cast<std::int64_t>(time) - static_cast<std::int64_t>(kTicksTo1970)) /
                         static_cast<std::int64_t>(kTicksPerSecond);
    out.push_back(' ');
    AppendDecimal(out, static_cast<std::uint32_t>(seconds));
    out += "\n#time=";
    AppendHex(out, time >> 32, 1);
    AppendHex(out, time & 0xFFFFFFFFu, 8);
    out.push_back('\n');
}

void AppendClassOption(std::string& out, std::u16string_view className) {
    out += "#class=\"";
    AppendEscaped(out, className, "\"");
    out += "\"\n";
}

}  // namespace platform::detail
