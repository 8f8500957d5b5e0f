#include "platform/registry/text.h"

#include <array>
#include <cstdio>
#include <vector>

namespace platform::text {
namespace {

constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t AsciiLower(char16_t unit) { return (unit >= u'A' && unit <= u'Z') ? char16_t(unit + 0x20) : unit; }

char16_t FromCp1252Byte(unsigned char byte) {
    if (byte >= 0x80 && byte < 0xA0) return kCp1252High[byte - 0x80u];
    return byte;
}

// Wine's case tables are three-level: the unit's high byte, then its next four bits, pick a
// block of sixteen differences to add.
class LowerTable {
public:
    LowerTable() { LoadWineTable("/usr/share/wine/nls/l_intl.nls"); }

    char16_t Lower(char16_t unit) const {
        if (unit < 0x80) return (unit >= u'A' && unit <= u'Z') ? char16_t(unit + 0x20) : unit;
        if (table_.empty()) return BuiltInLower(unit);
        const std::size_t level1 = table_[unit >> 8];
        const std::size_t level2 = table_[level1 + ((unit >> 4) & 0x0F)];
        return static_cast<char16_t>(unit + table_[level2 + (unit & 0x0F)]);
    }

private:
    void LoadWineTable(const char* path) {
        std::FILE* file = std::fopen(path, "rb");
        if (!file) return;
        std::vector<std::uint16_t> words;
        unsigned char pair[2];
        while (std::fread(pair, 1, 2, file) == 2) words.push_back(std::uint16_t(pair[0] | pair[1] << 8));
        std::fclose(file);
        // Word 1 is the size of the uppercase table that follows the two header words; the
        // lowercase table comes after it.
        if (words.size() < 2 || std::size_t(words[1]) + 2 + 256 > words.size()) return;
        std::vector<std::uint16_t> lower(words.begin() + 2 + words[1], words.end());
        if (!Consistent(lower)) return;
        table_ = std::move(lower);
    }

    // Every index the lookup can take must lie inside the table.
    static bool Consistent(const std::vector<std::uint16_t>& t) {
        for (unsigned high = 0; high < 256; ++high) {
            const std::size_t level1 = t[high];
            if (level1 + 16 > t.size()) return false;
            for (unsigned mid = 0; mid < 16; ++mid)
                if (std::size_t(t[level1 + mid]) + 16 > t.size()) return false;
        }
        return true;
    }

    static char16_t BuiltInLower(char16_t u) {
        if ((u >= 0xC0 && u <= 0xDE && u != 0xD7) || (u >= 0x410 && u <= 0x42F) ||
            (u >= 0x391 && u <= 0x3AB && u != 0x3A2))
            return char16_t(u + 0x20);
        if (u >= 0x400 && u <= 0x40F) return char16_t(u + 0x50);
        if (u == 0x178) return 0xFF;
        if ((u >= 0x100 && u <= 0x137) || (u >= 0x14A && u <= 0x177))
            return (u % 2 == 0) ? char16_t(u + 1) : u;
        if ((u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E))
            return (u % 2 == 1) ? char16_t(u + 1) : u;
        return u;
    }

    std::vector<std::uint16_t> table_;
};

const LowerTable& Table() {
    static const LowerTable table;
    return table;
}

}  // namespace

void AppendFromCp1252(std::u16string& out, std::string_view narrow) {
    out.reserve(out.size() + narrow.size());
    for (char c : narrow) out.push_back(FromCp1252Byte(static_cast<unsigned char>(c)));
}

std::u16string FromCp1252(std::string_view narrow) {
    std::u16string out;
    AppendFromCp1252(out, narrow);
    return out;
}

char ToCp1252(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<char>(unit);
    for (std::size_t i = 0; i < kCp1252High.size(); ++i)
        if (kCp1252High[i] == unit) return static_cast<char>(0x80 + i);
    return '?';
}

std::string ToCp1252(std::u16string_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (char16_t unit : wide) out.push_back(ToCp1252(unit));
    return out;
}

char16_t ToLowerWine(char16_t unit) { return Table().Lower(unit); }

std::u16string FoldWine(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out) c = ToLowerWine(c);
    return out;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        if (a[i] == b[i]) continue;
        const char16_t la = a[i] < 0x80 ? AsciiLower(a[i]) : ToLowerWine(a[i]);
        const char16_t lb = b[i] < 0x80 ? AsciiLower(b[i]) : ToLowerWine(b[i]);
        if (la != lb) return la < lb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && CompareNames(a, b) == 0;
}

}  // namespace platform::text

namespace platform::text {

bool DecodeUtf8(std::string_view bytes, std::size_t& pos, char32_t& code) {
    if (pos >= bytes.size()) return false;
    const auto lead = static_cast<unsigned char>(bytes[pos]);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead < 0x80) { length = 1; value = lead; }
    else if (lead >= 0xC2 && lead <= 0xDF) { length = 2; value = lead & 0x1Fu; least = 0x80; }
    else if (lead >= 0xE0 && lead <= 0xEF) { length = 3; value = lead & 0x0Fu; least = 0x800; }
    else if (lead >= 0xF0 && lead <= 0xF4) { length = 4; value = lead & 0x07u; least = 0x10000; }
    else return false;
    if (length > bytes.size() - pos) return false;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(bytes[pos + k]);
        if ((next & 0xC0u) != 0x80u) return false;
        value = (value << 6) | (next & 0x3Fu);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    code = value;
    pos += length;
    return true;
}

void AppendUtf16(std::u16string& out, char32_t code) {
    if (code < 0x10000) {
        out.push_back(static_cast<char16_t>(code));
        return;
    }
    code -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
}

std::u16string Utf8ToUtf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        char32_t code = 0;
        if (DecodeUtf8(bytes, pos, code)) {
            AppendUtf16(out, code);
        } else {
            out.push_back(u'\uFFFD');
            ++pos;
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t code = units[i];
        const bool high = code >= 0xD800 && code <= 0xDBFF;
        const bool low = code >= 0xDC00 && code <= 0xDFFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (units[++i] - 0xDC00u);
        } else if (high || low) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

}  // namespace platform::text
