// The keyword list, the four searches and a whole run on a real Wine prefix: a 64-bit prefix made
// by wineboot holding two small suites of classes, interfaces and type libraries, one imported
// with Wine's regedit into the 64-bit node, one as a 32-bit installer writes it (reg import
// /reg:32) with a few keys of its own in the 64-bit node, loaded through the Wine-prefix store.
// The expected records were worked out by hand from the search rules; Wine's own hundreds of
// registrations around them (and its link keys) must add nothing.
#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "platform/wine/wine_store.h"
#include "tests/cleaner/search/fake_view.h"
#include "tests/support/wine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace cleaner::testing {
namespace {

// Identifiers of the suite; no Wine registration uses them.
#define C1 "{5A0F0001-7E11-4C2B-9A10-0000000000C1}"
#define C2 "{5A0F0002-7E11-4C2B-9A10-0000000000C2}"
#define C3 "{5A0F0003-7E11-4C2B-9A10-0000000000C3}"
#define CD "{5A0F0DA5-7E11-4C2B-9A10-0000000000C4}"
#define I1 "{5A0F1001-7E11-4C2B-9A10-0000000000A1}"
#define I2 "{5A0F1002-7E11-4C2B-9A10-0000000000A2}"
#define I3 "{5A0F1003-7E11-4C2B-9A10-0000000000A3}"
#define LA "{5A0FAAAA-7E11-4C2B-9A10-00000000AAAA}"
#define LA_LOWER "{5a0faaaa-7e11-4c2b-9a10-00000000aaaa}"
#define LB "{5A0FBBBB-7E11-4C2B-9A10-00000000BBBB}"
#define LC "{5A0FCCCC-7E11-4C2B-9A10-00000000CCCC}"
#define CLASSES "[HKEY_LOCAL_MACHINE\\Software\\Classes\\"

const char kSuite[] =
    "REGEDIT4\r\n\r\n"
    // Root keys: two ProgIDs of Quorvex, one of Zelbrin, and a file type whose value (not its
    // name) names Quorvex.
    CLASSES "Quorvex.Ledger]\r\n@=\"Quorvex Ledger\"\r\n\r\n"
    CLASSES "Quorvex.Ledger\\CLSID]\r\n@=\"" C1 "\"\r\n\r\n"
    CLASSES "Quorvex.Ledger.1]\r\n@=\"Quorvex Ledger\"\r\n\r\n"
    CLASSES "ZelbrinTools.Viewer]\r\n@=\"Viewer\"\r\n\r\n"
    CLASSES ".qvx]\r\n@=\"Quorvex.Ledger\"\r\n\r\n"
    // C1: found by its description; carries type library A.
    CLASSES "CLSID\\" C1 "]\r\n@=\"Quorvex Ledger Control\"\r\n\r\n"
    CLASSES "CLSID\\" C1 "\\ProgID]\r\n@=\"Quorvex.Ledger.1\"\r\n\r\n"
    CLASSES "CLSID\\" C1 "\\InprocServer32]\r\n@=\"C:\\\\Program Files\\\\Quorvex\\\\ledger.dll\"\r\n"
    "\"ThreadingModel\"=\"Apartment\"\r\n\r\n"
    CLASSES "CLSID\\" C1 "\\TypeLib]\r\n@=\"" LA "\"\r\n\r\n"
    // C2: its local server names Zelbrin; its in-process server, which names Quorvex, is not
    // looked at.
    CLASSES "CLSID\\" C2 "]\r\n@=\"Report Engine\"\r\n\r\n"
    CLASSES "CLSID\\" C2 "\\LocalServer32]\r\n@=\"C:\\\\Program Files\\\\Zelbrin\\\\report.exe\"\r\n\r\n"
    CLASSES "CLSID\\" C2 "\\InprocServer32]\r\n@=\"C:\\\\Program Files\\\\Quorvex\\\\report.dll\"\r\n\r\n"
    // C3: found by its ProgId; carries type library B.
    CLASSES "CLSID\\" C3 "]\r\n@=\"Helper\"\r\n\r\n"
    CLASSES "CLSID\\" C3 "\\ProgID]\r\n@=\"ZelbrinTools.Viewer\"\r\n\r\n"
    CLASSES "CLSID\\" C3 "\\TypeLib]\r\n@=\"" LB "\"\r\n\r\n"
    // Interfaces of A (one spelled in lower case) and of B.
    CLASSES "Interface\\" I1 "]\r\n@=\"ILedger\"\r\n\r\n"
    CLASSES "Interface\\" I1 "\\TypeLib]\r\n@=\"" LA "\"\r\n\"Version\"=\"1.0\"\r\n\r\n"
    CLASSES "Interface\\" I2 "]\r\n@=\"ILedgerRows\"\r\n\r\n"
    CLASSES "Interface\\" I2 "\\TypeLib]\r\n@=\"" LA_LOWER "\"\r\n\r\n"
    CLASSES "Interface\\" I3 "]\r\n@=\"IViewer\"\r\n\r\n"
    CLASSES "Interface\\" I3 "\\TypeLib]\r\n@=\"" LB "\"\r\n\r\n"
    // Type libraries: A with a win32 path naming Quorvex, B with a win64 path only, C with a
    // win32 path naming Zelbrin that nothing else refers to.
    CLASSES "TypeLib\\" LA "\\1.0]\r\n@=\"Quorvex Ledger Types\"\r\n\r\n"
    CLASSES "TypeLib\\" LA "\\1.0\\0\\win32]\r\n@=\"C:\\\\Program Files\\\\Quorvex\\\\ledger.tlb\"\r\n\r\n"
    CLASSES "TypeLib\\" LA "\\1.0\\FLAGS]\r\n@=\"0\"\r\n\r\n"
    CLASSES "TypeLib\\" LB "\\1.0]\r\n@=\"Viewer Types\"\r\n\r\n"
    CLASSES "TypeLib\\" LB "\\1.0\\0\\win64]\r\n@=\"C:\\\\Program Files\\\\Zelbrin\\\\viewer64.tlb\"\r\n\r\n"
    CLASSES "TypeLib\\" LC "\\2.0]\r\n@=\"Extra Types\"\r\n\r\n"
    CLASSES "TypeLib\\" LC "\\2.0\\0\\win32]\r\n@=\"C:\\\\Program Files\\\\Zelbrin\\\\extra.tlb\"\r\n\r\n"
    // A class whose TypeLib value names no type library.
    CLASSES "CLSID\\" CD "]\r\n@=\"Dashlib Widget\"\r\n\r\n"
    CLASSES "CLSID\\" CD "\\TypeLib]\r\n@=\"-\"\r\n\r\n";

// The second suite, Nexbay by Tarvo, as its 32-bit installer writes it: in the 32-bit view.
#define N1 "{5A0F0E01-7E11-4C2B-9A10-0000000000D1}"
#define N2 "{5A0F0E02-7E11-4C2B-9A10-0000000000D2}"
#define NI "{5A0F0E03-7E11-4C2B-9A10-0000000000D3}"
#define NL "{5A0F0E04-7E11-4C2B-9A10-0000000000D4}"

const char kSuite32[] =
    "REGEDIT4\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\Nexbay.Document]\r\n@=\"Nexbay Document\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\Nexbay.Document\\CLSID]\r\n@=\"" N1 "\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\" N1 "]\r\n@=\"Nexbay Document Class\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\" N1 "\\InprocServer32]\r\n"
    "@=\"C:\\\\Program Files\\\\Tarvo\\\\nexbay.dll\"\r\n\"ThreadingModel\"=\"Apartment\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\" N1 "\\ProgID]\r\n@=\"Nexbay.Document\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\" N1 "\\TypeLib]\r\n@=\"" NL "\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\Interface\\" NI "]\r\n@=\"INexbayDocument\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\Interface\\" NI "\\TypeLib]\r\n@=\"" NL "\"\r\n\"Version\"=\"1.0\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\" NL "\\1.0]\r\n@=\"Nexbay Types\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\" NL "\\1.0\\0\\win32]\r\n"
    "@=\"C:\\\\Program Files\\\\Tarvo\\\\nexbay.tlb\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\98]\r\n\"Path\"=\"C:\\\\Tarvo\"\r\n"
    "\"Seats\"=dword:00000005\r\n\"Key\"=hex:01,02,03\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\98\\Empty]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\97]\r\n\"Keep\"=\"yes\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarvoNexbay 98]\r\n"
    "\"DisplayName\"=\"Tarvo Nexbay 98\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Tarvo\\98]\r\n\"Window\"=dword:00000078\r\n\r\n";

// And what it put in the 64-bit node: a shell extension and its ProgID, and 64-bit settings.
const char kSuite64[] =
    "REGEDIT4\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\Nexbay.Shell]\r\n@=\"Nexbay Shell\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\" N2 "]\r\n@=\"Nexbay Shell Extension\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\" N2 "\\InprocServer32]\r\n"
    "@=\"C:\\\\Program Files\\\\Tarvo\\\\nexshell64.dll\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\98]\r\n\"Path64\"=\"C:\\\\Tarvo64\"\r\n\r\n";

// Texts in the paths of the second suite's keys, and of no other key.
const char* const kSuite32Markers[] = {"{5a0f0e0", "nexbay.", "\\tarvo\\98"};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A reg export without the blocks of the second suite's keys.
std::string WithoutSuite(const std::string& exported) {
    std::string kept;
    std::size_t begin = 0;
    while (begin < exported.size()) {
        std::size_t end = exported.find("\r\n[", begin);
        end = end == std::string::npos ? exported.size() : end + 2;
        const std::string block = exported.substr(begin, end - begin);
        const std::string path = Lower(block.substr(0, block.find('\n')));
        if (std::none_of(std::begin(kSuite32Markers), std::end(kSuite32Markers),
                         [&](const char* m) { return path.find(m) != std::string::npos; })) {
            kept += block;
        }
        begin = end;
    }
    return kept;
}

// The blocks of Wine's link keys in a registry file.
std::vector<std::string> LinkBlocks(const std::string& file) {
    std::vector<std::string> links;
    std::size_t begin = 0;
    while (begin < file.size()) {
        std::size_t end = file.find("\n\n[", begin);
        end = end == std::string::npos ? file.size() : end + 1;
        const std::string block = file.substr(begin, end - begin);
        if (block.find("\n#link\n") != std::string::npos) links.push_back(block);
        begin = end;
    }
    return links;
}

// One prefix for the whole program: Wine starts cost seconds.
class WineSearch : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        prefix_ = new testsupport::WinePrefix;
        testsupport::RegImport(prefix_->Path(), kSuite);
        testsupport::RegImport(prefix_->Path(), kSuite64);
        const std::string file = prefix_->File("suite32.reg");
        testsupport::WriteFile(file, kSuite32);
        const testsupport::WineResult imported =
            testsupport::RunWine(prefix_->Path(), {"reg", "import", "Z:" + file, "/reg:32"});
        ASSERT_EQ(imported.status, 0) << imported.output;
    }
    static void TearDownTestSuite() {
        delete prefix_;
        prefix_ = nullptr;
    }
    static testsupport::WinePrefix* prefix_;
};

testsupport::WinePrefix* WineSearch::prefix_ = nullptr;

TEST_F(WineSearch, FindsTheImportedSuiteAndNothingOfWinesOwn) {
    const testsupport::WinePrefix& prefix = *prefix_;
    auto store = platform::WinePrefixStore::Open(prefix.Path());
    FakeView view;
    modRegFuncs reg(store->Registry(), view);
    modFennick fennick(reg, view);

    const std::string keywordFile = prefix.File("taRegKeywords.txt");
    testsupport::WriteFile(keywordFile, "  quorvex\r\n\r\nZelbrin \r\n");
    ASSERT_TRUE(fennick.LoadKeywords(keywordFile));
    fennick.SearchRootKeys();
    fennick.SearchClassIds();
    fennick.SearchInterfaces();
    fennick.SearchTypeLibs();

    std::vector<std::string> found;
    for (const FoundKey& k : fennick.FoundKeys) {
        found.push_back(k.Branch + "|" + k.ProgId + "|" + k.SubKey + "|" + k.TypeLibId);
    }
    const std::vector<std::string> expected = {
        // Root keys: names only, each keyword in turn.
        "Quorvex.Ledger|||",
        "Quorvex.Ledger.1|||",
        "ZelbrinTools.Viewer|||",
        // Classes: quorvex finds C1; Zelbrin finds C2 (local server) and C3 (ProgId).
        "CLSID\\|Quorvex.Ledger.1|" C1 "|" LA,
        "CLSID\\||" C2 "|",
        "CLSID\\|ZelbrinTools.Viewer|" C3 "|" LB,
        // Interfaces following the found classes, then following the keywords' type libraries.
        "INTERFACE\\||" I1 "|" LA,
        "INTERFACE\\||" I2 "|" LA_LOWER,
        "INTERFACE\\||" I3 "|" LB,
        "INTERFACE\\||" I1 "|" LA,
        "INTERFACE\\||" I2 "|" LA_LOWER,
        "INTERFACE\\||" I3 "|" LB,
        // Type libraries of every record that carries one, registered under TYPELIB ...
        "TYPELIB\\|||" LA,
        "TYPELIB\\|||" LB,
        "TYPELIB\\|||" LA,
        "TYPELIB\\|||" LA_LOWER,
        "TYPELIB\\|||" LB,
        "TYPELIB\\|||" LA,
        "TYPELIB\\|||" LA_LOWER,
        "TYPELIB\\|||" LB,
        // ... then those whose win32 path holds a keyword (B has a win64 path only).
        "TYPELIB\\|||" LA,
        "TYPELIB\\|||" LC,
    };
    EXPECT_EQ(found, expected);
    EXPECT_EQ(fennick.FoundKeyCount(), 22);
    EXPECT_EQ(fennick.Keywords[0].TypeLibId, LA);
    EXPECT_EQ(fennick.Keywords[1].TypeLibId, LB);
    EXPECT_TRUE(view.Matching("message:").empty());
    EXPECT_TRUE(view.Matching("status:").empty());

    // The suite stood among Wine's own registrations.
    HKEY clsid = 0;
    ASSERT_TRUE(reg.RegOpen(platform::kHkeyClassesRoot, "CLSID", "", clsid));
    int classes = 0;
    std::string name;
    for (bool more = reg.RegFirstKey(clsid, name); more; more = reg.RegNextKey(clsid, name)) {
        ++classes;
    }
    reg.RegClose(clsid);
    EXPECT_GT(classes, 300);  // a fresh Wine 8 prefix registers some 600 classes
}


TEST_F(WineSearch, AClassWhoseTypeLibIsNoGuidBringsInNoInterfaceOfWines) {
    // Wine's own interfaces name their libraries by GUIDs, each holding hyphens.
    auto store = platform::WinePrefixStore::Open(prefix_->Path());
    FakeView view;
    modRegFuncs reg(store->Registry(), view);
    modFennick fennick(reg, view);
    fennick.Keywords = {{"Dashlib", ""}};
    fennick.SearchClassIds();
    fennick.SearchInterfaces();
    fennick.SearchTypeLibs();
    ASSERT_EQ(fennick.FoundKeys.size(), 1u);
    EXPECT_EQ(fennick.FoundKeys[0].TypeLibId, "-");
}

TEST_F(WineSearch, AWholeRunRemovesTheSuiteFromBothNodesAndRegeditRestoresIt) {
    const std::string prefix = prefix_->Path();
    const std::string machineBefore = testsupport::RegExport(prefix, "HKLM\\Software");
    const std::string userBefore = testsupport::RegExport(prefix, "HKCU\\Software");
    const std::vector<std::string> linksBefore =
        LinkBlocks(testsupport::ReadFile(prefix_->File("system.reg")));
    ASSERT_GT(linksBefore.size(), 40u);  // a fresh 64-bit prefix has some fifty
    const std::string backup = prefix_->File("taDeletedRegKeys.reg");
    {
        auto store = platform::WinePrefixStore::Open(prefix);
        FakeView view;
        modRegFuncs reg(store->Registry(), view);

        // The 32-bit node's AppId, Protocols and TypeLib are links to the 64-bit keys.
        modFennick links(reg, view);
        links.Keywords = {{"AppID", ""}, {"Protocols", ""}, {"TypeLib", ""}};
        links.SearchRootKeys();
        std::vector<std::string> linkFinds;
        for (const FoundKey& k : links.FoundKeys) linkFinds.push_back(k.Branch);
        EXPECT_EQ(linkFinds, (std::vector<std::string>{"AppID", "PROTOCOLS", "Scriptlet.TypeLib",
                                                       "Typelib"}));

        modFennick fennick(reg, view);
        const std::string keywordFile = prefix_->File("taRegKeywords.txt");
        testsupport::WriteFile(keywordFile, "Nexbay\r\nTarvo\r\n");
        ASSERT_TRUE(fennick.LoadKeywords(keywordFile));
        fennick.SearchRootKeys();
        fennick.SearchClassIds();
        fennick.SearchInterfaces();
        fennick.SearchTypeLibs();
        std::set<std::string> keys;
        for (const FoundKey& k : fennick.FoundKeys) {
            keys.insert(k.Branch + k.SubKey + (k.Branch == kTypeLibBranch ? k.TypeLibId : ""));
        }
        EXPECT_EQ(keys, (std::set<std::string>{"CLSID\\" N2, "Nexbay.Shell", "TYPELIB\\" NL,
                                               "Wow6432Node\\CLSID\\" N1,
                                               "Wow6432Node\\INTERFACE\\" NI,
                                               "Wow6432Node\\Nexbay.Document"}));

        fennick.RemoveFoundKeys(backup);
        bool startNewFile = false;
        fennick.RemoveSettings(backup, startNewFile);
        store->Save();
        EXPECT_EQ(view.Matching("message:"), std::vector<std::string>{});
    }
    const std::string backupText = testsupport::ReadFile(backup);
    EXPECT_THAT(backupText, ::testing::HasSubstr("\r\n[HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID\\" N1 "]\r\n"));
    EXPECT_THAT(backupText, ::testing::HasSubstr("\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Tarvo\\98]\r\n"));

    EXPECT_EQ(LinkBlocks(testsupport::ReadFile(prefix_->File("system.reg"))), linksBefore);
    EXPECT_EQ(testsupport::RegExport(prefix, "HKLM\\Software"), WithoutSuite(machineBefore));
    EXPECT_EQ(testsupport::RegExport(prefix, "HKCU\\Software"), WithoutSuite(userBefore));

    const testsupport::WineResult restored =
        testsupport::RunWine(prefix, {"regedit", "/s", "Z:" + backup});
    ASSERT_EQ(restored.status, 0) << restored.output;
    EXPECT_EQ(testsupport::RegExport(prefix, "HKLM\\Software"), machineBefore);
    EXPECT_EQ(testsupport::RegExport(prefix, "HKCU\\Software"), userBefore);
}
}  // namespace
}  // namespace cleaner::testing
