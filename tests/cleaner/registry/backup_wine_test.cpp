// The backup restores what the removal took, as the real Wine sees it: whole trees of a
// prefix made by wineboot (real classes with server paths, and keys added here with every value
// type, long data, quotes, backslashes and empty subkeys) are exported and deleted through the
// Wine-prefix store, the prefix is saved, the backup is imported with `regedit /s`, and
// `reg export` of the prefix afterwards is what it was before. Trees that the backup cannot
// carry are not removed at all, and the prefix's link keys stay as they are.
#include "cleaner/registry/backup_format.h"
#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "platform/wine/wine_store.h"
#include "tests/support/wine.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace cleaner::testing {
namespace {

using platform::HKEY;

class CollectingUi : public RegistryUi {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void DoEvents() override {}
    std::vector<std::string> messages;
};

// Hex data as a .reg file holds it, written here by hand so that the setup does not depend on
// the code under test; wrapped after every 16 bytes.
std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
        if (i + 1 < bytes.size()) out += (i % 16 == 15) ? ",\\\r\n  " : ",";
    }
    return out;
}

std::string AllBytes(std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i) bytes += static_cast<char>(i * 7 % 256);
    return bytes;
}

constexpr const char* kOwnClass = "{5053E1A0-0000-4000-8000-00000000A001}";

// Keys this test adds to the fresh prefix. Windows-1252 bytes, CR LF, as REGEDIT4 wants them.
std::string SetupText() {
    const std::string cls = std::string("[HKEY_CLASSES_ROOT\\CLSID\\") + kOwnClass;
    std::vector<std::string> lines = {
        "REGEDIT4",
        "",
        "[HKEY_CLASSES_ROOT\\SorvelTest.Interop]",
        "@=\"c:\\\\x\\\\a.dll\"",
        "\"Quote\\\"Name\"=\"say \\\"hi\\\" to c:\\\\temp\\\\\"",
        "\"Back\\\\slash\"=\"a\\\\b\"",
        "\"Empty\"=\"\"",
        "\"Long\"=\"" + std::string(400, 'L') + "\"",
        "\"Caf\xe9\"=\"\xe9t\xe9 \x80 \xff\"",
        "\"Lines\"=hex(1):" + Hex(std::string("one\r\ntwo\0", 9)),
        "\"Expand\"=hex(2):" + Hex(std::string("%SystemRoot%\\system32\\x.dll\0", 28)),
        "\"Multi\"=hex(7):" + Hex(std::string("first\0s\xe9\x63ond\0\0", 14)),
        "\"Dword\"=dword:12345678",
        "\"Qword\"=hex(b):" + Hex(std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)),
        "\"Binary\"=hex:" + Hex(AllBytes(600)),
        "\"EmptyBinary\"=hex:",
        "\"None\"=hex(0):",
        "\"BigEndian\"=hex(5):01,02,03,04",
        "\"ShortDword\"=hex(4):01,02",
        "\"Custom\"=hex(ffff0012):01",
        "",
        "[HKEY_CLASSES_ROOT\\SorvelTest.Interop\\Empty]",
        "",
        "[HKEY_CLASSES_ROOT\\SorvelTest.Interop\\Nested\\Deeper\\EmptyLeaf]",
        "",
        "[HKEY_CLASSES_ROOT\\SorvelTest.Interop\\Br]acket \"quoted\"]",
        "\"x\"=\"1\"",
        "",
        cls + "]",
        "@=\"Sorvel Test Class\"",
        "",
        cls + "\\InprocServer32]",
        "@=\"C:\\\\Program Files\\\\Suite\\\\bin\\\\suite.dll\"",
        "\"ThreadingModel\"=\"Apartment\"",
        "",
        cls + "\\ProgID]",
        "@=\"SorvelTest.Interop.1\"",
        "",
        cls + "\\Implemented Categories\\{40FC6ED5-2438-11CF-A3DB-080036F12502}]",
        "",
        "[HKEY_CURRENT_USER\\Software\\SorvelSuite\\Settings]",
        "\"Path\"=\"c:\\\\suite\\\\\"",
        "\"Count\"=dword:00000003",
        "",
        "[HKEY_CURRENT_USER\\Software\\SorvelSuite\\Empty]",
        "",
        "[HKEY_LOCAL_MACHINE\\Software\\SorvelSuite]",
        "\"InstallDir\"=hex(2):" + Hex(std::string("%ProgramFiles%\\Suite\0", 21)),
        "",
    };
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

struct Removal {
    HKEY root;
    const char* displayRoot;
    std::string keyPath;
    std::string subKey;
};

std::vector<Removal> Removals() {
    return {
        // Real registrations of the fresh prefix, with server and type-library paths.
        {platform::kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "CLSID",
         "{0D43FE01-F093-11CF-8940-00A0C9054228}"},
        {platform::kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "Scripting.FileSystemObject", ""},
        {platform::kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "CLSID",
         "{00020420-0000-0000-C000-000000000046}"},
        {platform::kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "INTERFACE",
         "{00020400-0000-0000-C000-000000000046}"},
        {platform::kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "TYPELIB",
         "{00020430-0000-0000-C000-000000000046}"},
        // Keys added here.
        {platform::kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "SorvelTest.Interop", ""},
        {platform::kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "CLSID", kOwnClass},
        {platform::kHkeyCurrentUser, "HKEY_CURRENT_USER", "Software\\SorvelSuite", ""},
        {platform::kHkeyLocalMachine, "HKEY_LOCAL_MACHINE", "Software\\SorvelSuite", ""},
    };
}

// What `reg export` shows of the areas the removal touches.
std::vector<std::string> ExportAreas(const std::string& prefix) {
    return {
        testsupport::RegExport(prefix, "HKEY_CLASSES_ROOT"),
        testsupport::RegExport(prefix, "HKEY_CURRENT_USER\\Software\\SorvelSuite"),
        testsupport::RegExport(prefix, "HKEY_LOCAL_MACHINE\\Software\\SorvelSuite"),
    };
}

// The first line where two exports differ, with its neighbours, for the failure message.
std::string FirstDifference(const std::string& before, const std::string& after) {
    std::size_t at = 0;
    while (at < before.size() && at < after.size() && before[at] == after[at]) ++at;
    const std::size_t from = before.rfind('\n', at == 0 ? 0 : at - 1);
    const std::size_t start = from == std::string::npos ? 0 : from + 1;
    return "before: " + before.substr(start, 300) + "\n after: " + after.substr(start, 300);
}

TEST(BackupWithWine, ImportingTheBackupGivesBackEveryRemovedTreeExactly) {
    testsupport::WinePrefix prefix;
    testsupport::RegImport(prefix.Path(), SetupText());
    const std::vector<std::string> before = ExportAreas(prefix.Path());
    // The setup arrived as meant (so that the comparison below proves something).
    ASSERT_NE(before[0].find("\"Long\"=\"" + std::string(400, 'L') + "\""), std::string::npos);
    ASSERT_NE(before[0].find("scrrun.dll"), std::string::npos);
    ASSERT_NE(before[1].find("\"Count\"=dword:00000003"), std::string::npos);

    std::string backup(kBackupFileHeader);
    {
        const auto store = platform::WinePrefixStore::Open(prefix.Path());
        CollectingUi ui;
        modRegFuncs reg(store->Registry(), ui);
        for (const Removal& removal : Removals()) {
            SCOPED_TRACE(removal.keyPath + "\\" + removal.subKey);
            HKEY handle = 0;
            ASSERT_TRUE(reg.RegOpen(removal.root, removal.keyPath, removal.subKey, handle));
            reg.RegClose(handle);
            std::string text;
            ASSERT_TRUE(reg.RegExportTree(removal.root, removal.displayRoot, removal.keyPath,
                                          removal.subKey, text));
            backup += BackupFileLine(text);
            EXPECT_TRUE(reg.RegDeleteTree(removal.root, removal.keyPath, removal.subKey));
        }
        EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
        store->Save();
    }
    // The server path of a real class, written so that an import gives it back.
    EXPECT_NE(backup.find("@=\"C:\\\\windows\\\\system32\\\\scrrun.dll\""), std::string::npos);
    EXPECT_FALSE(testsupport::RegKeyExists(
        prefix.Path(), "HKEY_CLASSES_ROOT\\CLSID\\{0D43FE01-F093-11CF-8940-00A0C9054228}"));
    EXPECT_FALSE(testsupport::RegKeyExists(prefix.Path(), "HKEY_CLASSES_ROOT\\SorvelTest.Interop"));
    EXPECT_FALSE(
        testsupport::RegKeyExists(prefix.Path(), "HKEY_CURRENT_USER\\Software\\SorvelSuite"));

    testsupport::RegImport(prefix.Path(), backup);
    const std::vector<std::string> after = ExportAreas(prefix.Path());
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_TRUE(after[i] == before[i])
            << "area " << i << " differs after the import\n" << FirstDifference(before[i], after[i]);
    }
}

// --- What the backup cannot carry

class RecordingView : public FennickView {
public:
    void UpdateRegistryHiveText(const std::string&) override {}
    void UpdateStatusText(const std::string&) override {}
    void UpdateKeywordText(const std::string&) override {}
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void DoEvents() override {}
    std::vector<std::string> messages;
};

// A registry editor file of version 5 (UTF-16, which holds any character), from UTF-16 text.
std::string Utf16RegFile(std::u16string_view text) {
    std::string bytes = "\xff\xfe";
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// The link keys of a registry file: each one's key line (without its time) and its lines up to
// the next block.
std::vector<std::string> LinkBlocks(const std::string& file) {
    std::vector<std::string> links;
    std::istringstream lines(file);
    std::string line;
    std::string block;
    bool isLink = false;
    const auto finish = [&] {
        if (isLink) links.push_back(block);
        block.clear();
        isLink = false;
    };
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] == '[') {
            finish();
            line = line.substr(0, line.rfind(']') + 1);
        }
        if (line == "#link") isLink = true;
        if (line.rfind("#time=", 0) != 0) block += line + "\n";
    }
    finish();
    return links;
}

TEST(BackupWithWine, TreesTheBackupCannotCarryAreKeptWholeAndLinksStay) {
    testsupport::WinePrefix prefix;
    testsupport::RegImport(prefix.Path(), Utf16RegFile(
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        // A key name and a value name outside Windows-1252, and a value named '?' that a
        // narrow backup would overwrite.
        u"[HKEY_CLASSES_ROOT\\SorvelWide]\r\n@=\"top\"\r\n\"?\"=\"question\"\r\n"
        u"\"\u03a9\"=\"omega\"\r\n\r\n"
        u"[HKEY_CLASSES_ROOT\\SorvelWide\\\u03a9key]\r\n\"x\"=\"1\"\r\n\r\n"
        u"[HKEY_CLASSES_ROOT\\SorvelWide\\Plain]\r\n\"y\"=\"2\"\r\n\r\n"
        // Only string data outside it.
        u"[HKEY_CLASSES_ROOT\\SorvelText\\Sub]\r\n\"t\"=\"\u20ac and \u03a9\"\r\n\r\n"
        // All of it inside: removed, and restored by the backup.
        u"[HKEY_CLASSES_ROOT\\SorvelFine\\Sub]\r\n\"caf\u00e9\"=\"\u20ac \u00ff\"\r\n"
        u"\"a\\nb\"=\"line\\nbreak\"\r\n"));
    // A key name with a line break, which no key line of a .reg file can hold.
    ASSERT_EQ(testsupport::RunWine(prefix.Path(), {"reg", "add", "HKCR\\SorvelBreak\\a\nb",
                                                   "/v", "v", "/d", "1", "/f"})
                  .status,
              0);
    const std::string before = testsupport::RegExport(prefix.Path(), "HKEY_CLASSES_ROOT");
    ASSERT_NE(before.find("\u03a9key"), std::string::npos);  // (UTF-8 of the exported text)
    const std::vector<std::string> linksBefore =
        LinkBlocks(testsupport::ReadFile(prefix.File("system.reg")));
    ASSERT_GT(linksBefore.size(), 3u);

    const std::string folder = testsupport::MakeTempDir("backup");
    const std::string backupPath = folder + "/taDeletedRegKeys.reg";
    RecordingView view;
    {
        const auto store = platform::WinePrefixStore::Open(prefix.Path());
        modRegFuncs reg(store->Registry(), view);
        modFennick fennick(reg, view);
        // Wow6432Node holds links (TypeLib, AppID, ...) beside keys of its own.
        for (const char* key : {"SorvelWide", "SorvelText", "SorvelBreak", "SorvelFine",
                                "Wow6432Node"}) {
            fennick.FoundKeys.push_back(FoundKey{key, "", "", ""});
        }
        fennick.RemoveFoundKeys(backupPath);
        store->Save();
    }
    ASSERT_EQ(view.messages.size(), 1u);
    for (const char* kept : {"SorvelWide", "SorvelText", "SorvelBreak"}) {
        EXPECT_NE(view.messages[0].find(std::string("HKEY_CLASSES_ROOT\\") + kept),
                  std::string::npos) << kept;
    }
    EXPECT_EQ(view.messages[0].find("SorvelFine"), std::string::npos);
    EXPECT_FALSE(testsupport::RegKeyExists(prefix.Path(), "HKEY_CLASSES_ROOT\\SorvelFine"));
    EXPECT_TRUE(testsupport::RegKeyExists(prefix.Path(), "HKEY_CLASSES_ROOT\\SorvelWide\\Plain"));
    EXPECT_FALSE(testsupport::RegKeyExists(prefix.Path(), "HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID"));
    EXPECT_EQ(LinkBlocks(testsupport::ReadFile(prefix.File("system.reg"))), linksBefore);

    testsupport::RegImport(prefix.Path(), testsupport::ReadFile(backupPath));
    const std::string after = testsupport::RegExport(prefix.Path(), "HKEY_CLASSES_ROOT");
    EXPECT_TRUE(after == before) << FirstDifference(before, after);
    EXPECT_EQ(LinkBlocks(testsupport::ReadFile(prefix.File("system.reg"))), linksBefore);
    testsupport::RemoveTree(folder);
}

}  // namespace
}  // namespace cleaner::testing
