// The backup text: header, value lines in each type, escaping, hex wrapping, and the
// documented example byte for byte.
#include "cleaner/registry/backup_format.h"
#include "layer_fixture.h"

#include <sstream>

namespace cleaner::testing {
namespace {

std::string ValueLine(std::string_view name, DWORD type, std::string_view bytes) {
    std::string out;
    AppendValueLine(out, name, type, bytes);
    return out;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

TEST(BackupFormat, HeaderAndFraming) {
    EXPECT_EQ(kBackupFileHeader, "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT]\r\n\r\n");
    EXPECT_EQ(BackupFileLine("\r\n[K]\r\n"), "\r\n[K]\r\n\r\n");
    EXPECT_EQ(BackupFileLine(""), "\r\n");  // a removed tree with nothing in it
    std::string out;
    AppendKeyLine(out, "HKEY_CLASSES_ROOT\\CLSID\\{K}");
    EXPECT_EQ(out, "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{K}]\r\n");
}

TEST(BackupFormat, StringsAndNamesEscapeBackslashAndQuote) {
    using platform::kRegSz;
    EXPECT_EQ(ValueLine("", kRegSz, std::string("c:\\x\\a.dll\0", 11)),
              "@=\"c:\\\\x\\\\a.dll\"\r\n");
    EXPECT_EQ(ValueLine("say \"hi\"\\", kRegSz, std::string("a \"q\" \\\0", 8)),
              "\"say \\\"hi\\\"\\\\\"=\"a \\\"q\\\" \\\\\"\r\n");
    EXPECT_EQ(ValueLine("empty", kRegSz, std::string(1, '\0')), "\"empty\"=\"\"\r\n");
    // Narrow characters above 127 stay as they are (the file is in the narrow code page).
    EXPECT_EQ(ValueLine("caf\xe9", kRegSz, std::string("\xe9t\xe9\0", 4)),
              "\"caf\xe9\"=\"\xe9t\xe9\"\r\n");
    // A line cannot hold a line break: names get \r and \n.
    EXPECT_EQ(ValueLine("two\r\nlines", kRegSz, std::string("x\0", 2)),
              "\"two\\r\\nlines\"=\"x\"\r\n");
}

TEST(BackupFormat, StringsTheQuotedFormCannotCarryAreWrittenAsHex) {
    using platform::kRegSz;
    // No terminating NUL, an embedded NUL, a line break, or no data at all.
    EXPECT_EQ(ValueLine("a", kRegSz, "ab"), "\"a\"=hex(1):61,62\r\n");
    EXPECT_EQ(ValueLine("a", kRegSz, std::string("a\0b\0", 4)), "\"a\"=hex(1):61,00,62,00\r\n");
    EXPECT_EQ(ValueLine("a", kRegSz, std::string("a\nb\0", 4)), "\"a\"=hex(1):61,0a,62,00\r\n");
    EXPECT_EQ(ValueLine("a", kRegSz, ""), "\"a\"=hex(1):\r\n");
}

TEST(BackupFormat, EachTypeIsWrittenInItsOwnForm) {
    using namespace platform;
    EXPECT_EQ(ValueLine("d", kRegDword, std::string("\x04\x03\x02\x01", 4)),
              "\"d\"=dword:01020304\r\n");
    EXPECT_EQ(ValueLine("d", kRegDword, std::string("\xff\xff\xff\xff", 4)),
              "\"d\"=dword:ffffffff\r\n");
    EXPECT_EQ(ValueLine("d", kRegDword, std::string("\x01\x02", 2)), "\"d\"=hex(4):01,02\r\n");
    EXPECT_EQ(ValueLine("b", kRegBinary, std::string("\x00\xab", 2)), "\"b\"=hex:00,ab\r\n");
    EXPECT_EQ(ValueLine("b", kRegBinary, ""), "\"b\"=hex:\r\n");
    EXPECT_EQ(ValueLine("e", kRegExpandSz, std::string("%P%\0", 4)),
              "\"e\"=hex(2):25,50,25,00\r\n");
    EXPECT_EQ(ValueLine("m", kRegMultiSz, std::string("a\0b\0\0", 5)),
              "\"m\"=hex(7):61,00,62,00,00\r\n");
    EXPECT_EQ(ValueLine("q", kRegQword, std::string(8, '\x01')),
              "\"q\"=hex(b):01,01,01,01,01,01,01,01\r\n");
    EXPECT_EQ(ValueLine("n", kRegNone, ""), "\"n\"=hex(0):\r\n");
    EXPECT_EQ(ValueLine("x", 0xffff0012u, std::string(1, '\x01')), "\"x\"=hex(ffff0012):01\r\n");
}

TEST(BackupFormat, LongHexWrapsAsTheRegistryEditorWritesIt) {
    const std::string bytes(100, '\x5a');
    const std::vector<std::string> lines =
        SplitCrLf(ValueLine("", platform::kRegBinary, bytes));
    // @=hex: and 24 bytes, then lines of two blanks and 25 bytes, each ended by a backslash.
    ASSERT_EQ(lines.size(), 6u);  // 24 + 25 + 25 + 25 + 1, and the empty rest after CR LF
    EXPECT_EQ(lines[0], "@=hex:" + [] {
        std::string s;
        for (int i = 0; i < 24; ++i) s += "5a,";
        return s;
    }() + "\\");
    // Without the wrapping, the bytes are all there, in order.
    std::string joined = lines[0].substr(6, lines[0].size() - 7);
    for (std::size_t i = 1; i < 5; ++i) {
        EXPECT_EQ(lines[i].substr(0, 2), "  ");
        const bool wrapped = i < 4;
        EXPECT_EQ(lines[i].size(), wrapped ? 78u : 4u);
        joined += lines[i].substr(2, lines[i].size() - (wrapped ? 3 : 2));
    }
    EXPECT_EQ(lines[4], "  5a");
    EXPECT_EQ(lines[5], "");
    std::string expected;
    for (int i = 0; i < 99; ++i) expected += "5a,";
    EXPECT_EQ(joined, expected + "5a");

    // The name counts towards the first line: a long name leaves room for fewer bytes.
    const std::vector<std::string> named =
        SplitCrLf(ValueLine(std::string(70, 'n'), platform::kRegBinary, bytes));
    EXPECT_EQ(named[0], "\"" + std::string(70, 'n') + "\"=hex:5a,\\");
}

class BackupExample : public LayerTest {};

TEST_F(BackupExample, TheDocumentedRemovalGivesTheseBytes) {
    registry.SetString(kHkcr, "CLSID\\{K}", "", "Thing");
    registry.SetString(kHkcr, "CLSID\\{K}\\InprocServer32", "", "c:\\x\\a.dll");
    registry.SetString(kHkcr, "CLSID\\{K}\\InprocServer32", "ThreadingModel", "Apartment");
    registry.SetString(kHkcr, "CLSID\\{K}\\ProgID", "", "Lib.Thing");

    std::string text;
    ASSERT_TRUE(reg.RegExportTree(kHkcr, "HKEY_CLASSES_ROOT", "CLSID\\{K}", "", text));
    const std::string file = std::string(kBackupFileHeader) + BackupFileLine(text);
    EXPECT_EQ(file,
              "REGEDIT4\r\n"
              "\r\n"
              "[HKEY_CLASSES_ROOT]\r\n"
              "\r\n"
              "\r\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{K}\\InprocServer32]\r\n"
              "@=\"c:\\\\x\\\\a.dll\"\r\n"
              "\"ThreadingModel\"=\"Apartment\"\r\n"
              "\r\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{K}\\ProgID]\r\n"
              "@=\"Lib.Thing\"\r\n"
              "\r\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{K}]\r\n"
              "@=\"Thing\"\r\n"
              "\r\n");
    ExpectNoMessages();
    ExpectNoLeaks();
}

}  // namespace
}  // namespace cleaner::testing
