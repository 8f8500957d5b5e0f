// The keyword list and the four searches on a real Wine prefix: a prefix made by wineboot, a
// small suite of classes, interfaces and type libraries imported with Wine's regedit, loaded
// through the Wine-prefix store. The expected records were worked out by hand from the search
// rules; Wine's own hundreds of registrations around them must add nothing.
#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "platform/registry/wine_store.h"
#include "tests/cleaner/search/fake_view.h"
#include "tests/support/wine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cleaner::testing {
namespace {

// Identifiers of the suite; no Wine registration uses them.
#define C1 "{5A0F0001-7E11-4C2B-9A10-0000000000C1}"
#define C2 "{5A0F0002-7E11-4C2B-9A10-0000000000C2}"
#define C3 "{5A0F0003-7E11-4C2B-9A10-0000000000C3}"
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
    CLASSES "TypeLib\\" LC "\\2.0\\0\\win32]\r\n@=\"C:\\\\Program Files\\\\Zelbrin\\\\extra.tlb\"\r\n\r\n";

TEST(WineSearch, FindsTheImportedSuiteAndNothingOfWinesOwn) {
    testsupport::WinePrefix prefix;
    testsupport::RegImport(prefix.Path(), kSuite);
    testsupport::WaitForWineServer(prefix.Path());

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
    EXPECT_EQ(fennick.FoundKeyCount, 22);
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

}  // namespace
}  // namespace cleaner::testing
