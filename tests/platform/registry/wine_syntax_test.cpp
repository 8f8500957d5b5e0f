// Wine's text forms, as the writer writes them (the forms below are the ones Wine 8 writes).
#include "platform/registry/wine_syntax.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::detail::AppendEscaped;
using platform::detail::AppendValueLine;
using platform::detail::Value;

std::string Escaped(std::u16string_view units, std::string_view extra = "\"") {
    std::string out;
    AppendEscaped(out, units, extra);
    return out;
}

std::string Utf16Bytes(std::u16string_view units, bool terminate = true) {
    std::string out;
    for (char16_t u : units) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    }
    if (terminate) out.append(2, '\0');
    return out;
}

std::string Line(const Value& value) {
    std::string out;
    AppendValueLine(out, value);
    return out;
}

TEST(WineSyntax, EscapesTextAsWineDoes) {
    // Control characters: C escapes, else the shortest octal unless a digit 0-7 follows.
    const std::u16string ctl = u"A\tB\nC\rD\x01" u"5\x01x\x1b\a\b\v\f\x7f\x1f" u"8";
    EXPECT_EQ(Escaped(ctl), "A\\tB\\nC\\rD\\0015\\1x\\e\\a\\b\\v\\f\x7f\\378");
    // Non-ASCII: the shortest hex unless an ASCII hex digit follows; surrogates one by one.
    EXPECT_EQ(Escaped(u"\u00e9a\u00e9z\u20ac"), "\\x00e9a\\xe9z\\x20ac");
    EXPECT_EQ(Escaped(u"\U0001F30E"), "\\xd83c\\xdf0e");
    EXPECT_EQ(Escaped(u"q\"b\\s[x]"), "q\\\"b\\\\s[x]");
    EXPECT_EQ(Escaped(u"Key[br]ack\"", "[]"), "Key\\[br\\]ack\"");
    EXPECT_EQ(Escaped(u"\0", "\""), "");  // an empty view writes nothing
    EXPECT_EQ(Escaped(std::u16string(1, u'\0') + u"7"), "\\0007");
}

TEST(WineSyntax, WritesEachValueTypeInItsForm) {
    EXPECT_EQ(Line({u"", platform::kRegSz, Utf16Bytes(u"default")}), "@=\"default\"\n");
    EXPECT_EQ(Line({u"e", platform::kRegSz, Utf16Bytes(u"")}), "\"e\"=\"\"\n");
    EXPECT_EQ(Line({u"x", platform::kRegExpandSz, Utf16Bytes(u"%PATH%")}), "\"x\"=str(2):\"%PATH%\"\n");
    EXPECT_EQ(Line({u"m", platform::kRegMultiSz, Utf16Bytes(std::u16string(u"a\0b\0", 4))}),
              "\"m\"=str(7):\"a\\0b\\0\"\n");
    EXPECT_EQ(Line({u"d", platform::kRegDword, std::string("\xcd\xab\0\0", 4)}), "\"d\"=dword:0000abcd\n");
    EXPECT_EQ(Line({u"b", platform::kRegBinary, ""}), "\"b\"=hex:\n");
    EXPECT_EQ(Line({u"n", platform::kRegNone, ""}), "\"n\"=hex(0):\n");
    EXPECT_EQ(Line({u"q", platform::kRegQword, std::string("\1\2\3\4\5\6\7\x08", 8)}),
              "\"q\"=hex(b):01,02,03,04,05,06,07,08\n");
    EXPECT_EQ(Line({u"p", 0xffff0012u, "\x01"}), "\"p\"=hex(ffff0012):01\n");
    // Strings that are not properly terminated, and dwords of the wrong size, are raw hex.
    EXPECT_EQ(Line({u"odd", platform::kRegSz, std::string("A\0\0\0\0", 5)}), "\"odd\"=hex(1):41,00,00,00,00\n");
    EXPECT_EQ(Line({u"z", platform::kRegSz, ""}), "\"z\"=hex(1):\n");
    EXPECT_EQ(Line({u"m", platform::kRegMultiSz, Utf16Bytes(u"ab", false)}), "\"m\"=hex(7):61,00,62,00\n");
    EXPECT_EQ(Line({u"s", platform::kRegDword, "\x01\x02"}), "\"s\"=hex(4):01,02\n");
}

TEST(WineSyntax, WrapsHexDataAfterColumn76) {
    const std::string line = Line({u"long", platform::kRegBinary, std::string(300, '\x5a')});
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < line.size();) {
        const std::size_t end = line.find('\n', start);
        lines.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_GT(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("\"long\"=hex:5a,", 0), 0u);
    EXPECT_EQ(lines[0].size(), 78u);  // 11 characters of name and tag, 22 bytes, the backslash
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        EXPECT_EQ(lines[i].size(), 78u) << i;  // two spaces, 25 bytes, the backslash
        EXPECT_EQ(lines[i].substr(0, 4), "  5a");
        EXPECT_EQ(lines[i].back(), '\\');
    }
    EXPECT_NE(lines.back().back(), '\\');
    // A name longer than the line leaves one byte on the first line.
    const std::string named = Line({std::u16string(80, u'N'), platform::kRegBinary, "\x01\x02\x03"});
    EXPECT_EQ(named, "\"" + std::string(80, 'N') + "\"=hex:01,\\\n  02,03\n");
}

}  // namespace
