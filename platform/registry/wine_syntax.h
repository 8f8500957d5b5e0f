// Wine's registry text syntax, as its files hold it and its server reads it back: escaped text
// (names, string data, #class), value lines with their continuation lines, and a key block's
// option lines (#time, #class). The key tree reads a block's values through it only when they
// are asked for; the loader and the writer of whole files (platform/wine) read and write every
// line through it.
#pragma once

#include "platform/registry/registry_api.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::detail {

struct Value {
    std::u16string name;  // empty: the default value
    DWORD type = kRegNone;
    std::string data;     // exact bytes; string types are UTF-16LE
};

// A FILETIME's ticks at 1970 and per second: key lines give seconds since 1970.
inline constexpr std::uint64_t kTicksTo1970 = 116444736000000000ull;
inline constexpr std::uint64_t kTicksPerSecond = 10000000ull;

// The helpers below run on every line of a file of a million keys: inline.

inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n'; }

inline int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

inline std::size_t SkipSpace(std::string_view s, std::size_t pos) {
    while (pos < s.size() && IsSpace(s[pos])) ++pos;
    return pos;
}

inline bool OnlySpaceFrom(std::string_view s, std::size_t pos) { return SkipSpace(s, pos) == s.size(); }

// The file's lines; the LF and one CR before it are not part of a line.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}

    bool Next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        start_ = pos_;
        std::size_t nl = text_.find('\n', pos_);
        std::size_t stop = nl == std::string_view::npos ? text_.size() : nl;
        end_ = nl == std::string_view::npos ? text_.size() : nl + 1;
        line = text_.substr(start_, stop - start_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos_ = end_;
        ++number_;
        return true;
    }

    std::size_t Number() const { return number_; }
    std::size_t Start() const { return start_; }  // of the current line
    std::size_t End() const { return end_; }      // after the current line's LF

private:
    std::string_view text_;
    std::size_t pos_ = 0, start_ = 0, end_ = 0, number_ = 0;
};

// Short prefixes, on every line: compared in place rather than through memcmp.
inline bool StartsWith(std::string_view s, std::size_t pos, std::string_view prefix) {
    if (s.size() - pos < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (s[pos + i] != prefix[i]) return false;
    return true;
}

inline std::string_view TrimLeft(std::string_view line) { return line.substr(SkipSpace(line, 0)); }

// The position of the first character from pos on that is `end`, a backslash or a byte of
// UTF-8 (s.size() when none is), eight characters at a time.
inline std::size_t FindSpecial(std::string_view s, std::size_t pos, char end) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    const std::uint64_t ends = kOnes * static_cast<unsigned char>(end), backslashes = kOnes * '\\';
    // Flags each zero byte; the lowest flag is exact, which is all that is used.
    const auto zeroBytes = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighs; };
    for (; pos + 8 <= s.size(); pos += 8) {
        std::uint64_t word;
        std::memcpy(&word, s.data() + pos, 8);
        if (const std::uint64_t special = (word & kHighs) | zeroBytes(word ^ ends) | zeroBytes(word ^ backslashes))
            return pos + static_cast<std::size_t>(std::countr_zero(special)) / 8;
    }
    for (; pos < s.size(); ++pos) {
        const auto c = static_cast<unsigned char>(s[pos]);
        if (c == static_cast<unsigned char>(end) || c == '\\' || c >= 0x80) return pos;
    }
    return pos;
}

// Reads Wine-escaped text from pos up to the unescaped `end` character (Wine's parse_strW) into
// out. Returns the position after `end`, or npos with a reason.
std::size_t Unescape(std::string_view s, std::size_t pos, char end, std::u16string& out,
                     std::string& why);
// Checks escaped text as Unescape reads it, without keeping it: the common characters are
// stepped over, and only raw UTF-8 is decoded.
std::size_t SkipEscaped(std::string_view s, std::size_t pos, char end, std::string& why);

// One value line (and its continuation lines, which it reads from lines when given), as Wine's
// load_value reads it. With keep false the value is only checked: its name and data are not
// filled in.
bool ParseValue(Lines* lines, std::string_view line, Value& value, bool keep, std::string& why);

// Adds a value, or replaces the one of the same name (a name given twice: the later wins, in
// the earlier one's place, as in Wine).
class ValueSet {
public:
    explicit ValueSet(std::vector<Value>& values) : values_(values) {}
    void Put(const Value& value);

private:
    static constexpr std::size_t kIndexFrom = 16;

    static void Replace(Value& existing, const Value& value) {
        existing.type = value.type;
        existing.data = value.data;
    }
    std::vector<Value>& values_;
    std::unordered_map<std::u16string, std::size_t> index_;
};

// The #time option's FILETIME: the hex digits after "#time=" (Wine's load_key_option).
inline std::uint64_t OptionTime(std::string_view line) {
    std::uint64_t time = 0;
    for (std::size_t pos = 6; pos < line.size() && HexDigit(line[pos]) >= 0; ++pos)
        time = (time << 4) | static_cast<unsigned>(HexDigit(line[pos]));
    return time;
}

// What one key block, as the loader checked it, holds. Options (#time, #class) are looked for
// among the lines before the first value unless wholeBlock says the block has some after them.
void ParseBlockValues(std::string_view block, std::vector<Value>& values);
// The block's #time, else the time of its key line's seconds; none when it has neither.
std::optional<std::uint64_t> BlockTime(std::string_view block, bool wholeBlock);
std::optional<std::u16string> BlockClass(std::string_view block, bool wholeBlock);

// Writing. Text escaped as Wine writes it, with a backslash also before each of extraEscapes.
void AppendEscaped(std::string& out, std::u16string_view units, std::string_view extraEscapes);
// A value line and its continuation lines, each ending in LF.
void AppendValueLine(std::string& out, const Value& value);
// What follows a key line's name and its closing bracket: " ", the seconds, LF, and the #time
// option with its LF.
void AppendKeyTimes(std::string& out, std::uint64_t time);
// A #class option with its LF.
void AppendClassOption(std::string& out, std::u16string_view className);

}  // namespace platform::detail
