// The four searches on a registry with a 32-bit node beside its own: a prefix written here in
// Wine's file format, once as a 64-bit prefix and once, unchanged but for its #arch line, as a
// 32-bit one, which must give the results of searching one node; and registries whose 32-bit
// node is missing or made of links.
#include "tests/cleaner/search/search_fixture.h"

#include "platform/wine/wine_store.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace cleaner::testing {
namespace {

#define C64 "{0A000000-0000-0000-0000-000000000C64}"
#define C32 "{0A000000-0000-0000-0000-000000000C32}"
#define I64 "{0A000000-0000-0000-0000-000000000164}"
#define I32 "{0A000000-0000-0000-0000-000000000132}"
#define T1 "{0A000000-0000-0000-0000-0000000000A1}"
#define T2 "{0A000000-0000-0000-0000-0000000000A2}"
#define CLASSES "\n[Software\\\\Classes\\\\"
#define TIME "] 1796115600\n"

// A link key's value as Wine writes it: the target's NT path in UTF-16.
std::string LinkBlock(const std::string& path, const std::string& target) {
    std::string line = "\n[" + path + TIME + "#link\n\"SymbolicLinkValue\"=hex(6):";
    for (std::size_t i = 0; i < target.size(); ++i) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "%s%02x,00", i == 0 ? "" : ",",
                      static_cast<unsigned char>(target[i]));
        line += byte;
    }
    return line + "\n";
}

std::string SystemReg(const char* arch) {
    return std::string("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n"
                       "#arch=") + arch + "\n" +
           CLASSES "Acme.Doc" TIME "@=\"Acme Document\"\n"
           CLASSES "CLSID\\\\" C64 TIME "@=\"Acme Viewer\"\n"
           CLASSES "CLSID\\\\" C64 "\\\\TypeLib" TIME "@=\"" T1 "\"\n"
           CLASSES "Interface\\\\" I64 "\\\\TypeLib" TIME "@=\"" T2 "\"\n"
           CLASSES "TypeLib\\\\" T1 "\\\\1.0\\\\0\\\\win32" TIME "@=\"c:\\\\other\\\\x.tlb\"\n"
           CLASSES "TypeLib\\\\" T2 "\\\\1.0\\\\0\\\\win32" TIME "@=\"c:\\\\acme\\\\a32.tlb\"\n"
           CLASSES "Wow6432Node\\\\Acme.Doc32" TIME "@=\"Acme Document\"\n" +
           LinkBlock("Software\\\\Classes\\\\Wow6432Node\\\\AcmeLink",
                     "\\Registry\\Machine\\Software\\Classes\\Acme.Doc") +
           CLASSES "Wow6432Node\\\\CLSID\\\\" C32 TIME "@=\"Acme Ledger\"\n"
           CLASSES "Wow6432Node\\\\CLSID\\\\" C32 "\\\\TypeLib" TIME "@=\"" T2 "\"\n"
           CLASSES "Wow6432Node\\\\Interface\\\\" I32 "\\\\TypeLib" TIME "@=\"" T1 "\"\n" +
           LinkBlock("Software\\\\Classes\\\\Wow6432Node\\\\TypeLib",
                     "\\Registry\\Machine\\Software\\Classes\\TypeLib");
}

struct SearchedPrefix {
    Lines found;
    Lines hives;
    Lines messages;
};

SearchedPrefix SearchPrefix(const char* arch) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("sorvel-both-nodes-" + std::to_string(::getpid()) + "-" + arch);
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "system.reg", std::ios::binary) << SystemReg(arch);
    std::ofstream(folder / "user.reg", std::ios::binary)
        << "WINE REGISTRY Version 2\n;; All keys relative to "
           "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=" << arch << "\n";
    SearchedPrefix result;
    {
        auto store = platform::WinePrefixStore::Open(folder.string());
        FakeView view;
        modRegFuncs reg(store->Registry(), view);
        modFennick fennick(reg, view);
        fennick.Keywords = {{"acme", ""}, {"6432", ""}};
        fennick.SearchRootKeys();
        fennick.SearchClassIds();
        fennick.SearchInterfaces();
        fennick.SearchTypeLibs();
        for (const FoundKey& k : fennick.FoundKeys) {
            result.found.push_back(k.Branch + "|" + k.ProgId + "|" + k.SubKey + "|" + k.TypeLibId);
        }
        EXPECT_EQ(static_cast<std::size_t>(fennick.FoundKeyCount()), fennick.FoundKeys.size());
        result.hives = view.Matching("hive:");
        result.messages = view.Matching("message:");
    }
    std::filesystem::remove_all(folder);
    return result;
}

TEST(BothNodes, A64BitPrefixIsSearchedInBothNodesAndA32BitOneInItsOnlyNode) {
    const SearchedPrefix win64 = SearchPrefix("win64");
    EXPECT_EQ(win64.found, (Lines{
        // Root keys: the 64-bit node, then the 32-bit node. Wow6432Node is the node, not a find;
        // AcmeLink is a link.
        "Acme.Doc|||",
        "Wow6432Node\\Acme.Doc32|||",
        "CLSID\\||" C64 "|" T1,
        "Wow6432Node\\CLSID\\||" C32 "|" T2,
        // Interfaces: each node follows the classes of both and the keyword, whose type library
        // is that of the class found last (the 32-bit one).
        "INTERFACE\\||" I64 "|" T2,
        "INTERFACE\\||" I64 "|" T2,
        "Wow6432Node\\INTERFACE\\||" I32 "|" T1,
        // The shared type libraries, once each record that carries one, then by path.
        "TYPELIB\\|||" T1, "TYPELIB\\|||" T2, "TYPELIB\\|||" T2, "TYPELIB\\|||" T2,
        "TYPELIB\\|||" T1, "TYPELIB\\|||" T2}));
    EXPECT_EQ(win64.hives, (Lines{"hive:HKEY_CLASSES_ROOT\\Wow6432Node",
                                  "hive:HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID",
                                  "hive:HKEY_CLASSES_ROOT\\Wow6432Node\\INTERFACE"}));
    EXPECT_EQ(win64.messages, Lines{});

    // One node: Wow6432Node is a root key like any other, and nothing below it is searched.
    const SearchedPrefix win32 = SearchPrefix("win32");
    EXPECT_EQ(win32.found, (Lines{"Acme.Doc|||", "Wow6432Node|||", "CLSID\\||" C64 "|" T1,
                                  "TYPELIB\\|||" T1, "TYPELIB\\|||" T2}));
    EXPECT_EQ(win32.hives, Lines{});
    EXPECT_EQ(win32.messages, Lines{});
}

// A 32-bit node that is missing, a link, or holds links (to itself, to the 64-bit node, with a
// damaged target) is searched without a loop or a message, and nothing is found through a link.
TEST_F(SearchTest, ABrokenOr32BitNodeOfLinksFindsNothingThroughThem) {
    const auto link = [&](const std::string& path, const std::string& target) {
        std::string utf16;
        for (char c : target) utf16 += std::string{c, '\0'};
        registry.SetValue(platform::kHkeyClassesRoot, path, "SymbolicLinkValue",
                          platform::kRegLink, utf16);
    };
    const std::string classes = "\\Registry\\Machine\\Software\\Classes";
    registry.SetWow64Node(true);
    Default("Acme.Doc", "x");
    Class("{C1}", "Acme");
    UseKeywords({"acme", "wow"});
    const Lines only64 = {"Acme.Doc|||", "CLSID\\||{C1}|"};
    const auto search = [&] {
        fennick.FoundKeys.clear();
        fennick.SearchRootKeys();
        fennick.SearchClassIds();
        fennick.SearchInterfaces();
        fennick.SearchTypeLibs();
        return Found();
    };

    EXPECT_EQ(search(), only64) << "no Wow6432Node key";

    link("Wow6432Node", classes);
    EXPECT_EQ(search(), only64) << "Wow6432Node a link to the 64-bit node";

    registry.RegDeleteKeyA(platform::kHkeyClassesRoot, "Wow6432Node");
    link("Wow6432Node\\AcmeLink", classes + "\\Acme.Doc");
    link("Wow6432Node\\CLSID", classes + "\\Wow6432Node\\CLSID");
    link("Wow6432Node\\Interface", classes + "\\Interface");
    registry.SetValue(platform::kHkeyClassesRoot, "Wow6432Node\\AcmeBroken", "SymbolicLinkValue",
                      platform::kRegLink, "\x01\x02\x03");
    Default("Wow6432Node\\Acme32", "x");
    EXPECT_EQ(search(), (Lines{"Acme.Doc|||", "Wow6432Node\\Acme32|||", "CLSID\\||{C1}|"}))
        << "links inside the node";
    EXPECT_EQ(view.Matching("message:"), Lines{});
}

}  // namespace
}  // namespace cleaner::testing
