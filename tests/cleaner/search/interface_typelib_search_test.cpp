// SearchInterfaces and SearchTypeLibs on small registries, after records found by the earlier
// searches.
#include "tests/cleaner/search/search_fixture.h"

namespace cleaner::testing {
namespace {

// Type-library ids are GUIDs; the follow-ups compare nothing else.
#define T1 "{AB000000-0000-0000-0000-0000000000CD}"
#define T1_LOWER "{ab000000-0000-0000-0000-0000000000cd}"
#define T2 "{00000000-0000-0000-0000-0000000000F2}"
#define T5 "{00000000-0000-0000-0000-0000000000F5}"
#define T9 "{00000000-0000-0000-0000-0000000000F9}"

class InterfaceSearch : public SearchTest {
protected:
    void FoundClass(const std::string& id, const std::string& typeLib) {
        fennick.FoundKeys.push_back(FoundKey{"CLSID\\", "", id, typeLib});
    }
    void FoundRootKey(const std::string& name) {
        fennick.FoundKeys.push_back(FoundKey{name, "", "", ""});
    }
};

using TypeLibSearch = InterfaceSearch;

TEST_F(InterfaceSearch, AFoundClassBringsInEveryInterfaceOfItsTypeLibraryIgnoringCaseAndBraces) {
    Interface("{I1}", T1);
    Interface("{I2}", T2);
    Interface("{I3}", "ab000000-0000-0000-0000-0000000000cd");
    Interface("{I4}", "");
    Interface("{I5}", T1 " 1.0");  // holds the GUID but is none
    FoundRootKey("Acme.Doc");
    FoundClass("{C1}", "{Ab000000-0000-0000-0000-0000000000Cd}");
    fennick.SearchInterfaces();
    EXPECT_EQ(Found(), (Lines{"Acme.Doc|||", "CLSID\\||{C1}|{Ab000000-0000-0000-0000-0000000000Cd}",
                              "INTERFACE\\||{I1}|" T1,
                              "INTERFACE\\||{I3}|ab000000-0000-0000-0000-0000000000cd"}));
}

TEST_F(InterfaceSearch, ATypeLibIdThatIsNoGuidFollowsNothing) {
    // A found class whose TypeLib value is "-" once brought in every interface whose library
    // id holds a hyphen, which is all of them.
    Interface("{I1}", T1);
    Interface("{I2}", T2);
    Interface("{I3}", "-");
    Default("TypeLib\\-\\1.0", "a key of that name");
    FoundClass("{C1}", "-");
    FoundClass("{C2}", "{");
    FoundClass("{C3}", "0000-0000-0000-0000-0000000000F2");
    UseKeywords({"acme"});
    fennick.Keywords[0].TypeLibId = "-";
    fennick.SearchInterfaces();
    fennick.SearchTypeLibs();
    EXPECT_EQ(Found().size(), 3u);
}

TEST_F(InterfaceSearch, KeywordsRepeatTheMatchesOfTheirClassesAndTheDuplicatesStay) {
    Interface("{I1}", T1);
    Interface("{I2}", T2);
    FoundClass("{C1}", T1);
    FoundClass("{C2}", T2);
    UseKeywords({"acme", "none"});
    fennick.Keywords[0].TypeLibId = T1;
    fennick.SearchInterfaces();
    EXPECT_EQ(Found(), (Lines{"CLSID\\||{C1}|" T1, "CLSID\\||{C2}|" T2,
                              "INTERFACE\\||{I1}|" T1, "INTERFACE\\||{I2}|" T2,
                              "INTERFACE\\||{I1}|" T1}));
    // One yield per record present at the start and per keyword; the walk does not yield.
    EXPECT_EQ(view.calls, (Lines{"yield", "keyword:" T1, "yield", "keyword:" T2, "yield",
                                 "keyword:acme", "yield", "keyword:none"}));
}

TEST_F(InterfaceSearch, NothingFoundBeforeAndNoKeywordTypeLibFindsNothing) {
    Interface("{I1}", T1);
    FoundRootKey("Acme");  // a root-key find has no TypeLibId and brings in nothing
    UseKeywords({"acme"});
    fennick.SearchInterfaces();
    EXPECT_EQ(Found(), (Lines{"Acme|||"}));
    EXPECT_EQ(view.calls, (Lines{"yield", "keyword:", "yield", "keyword:acme"}));
}

TEST_F(InterfaceSearch, WithoutAnInterfaceBranchNothingIsAppended) {
    FoundClass("{C1}", T1);
    fennick.SearchInterfaces();
    EXPECT_EQ(Found(), (Lines{"CLSID\\||{C1}|" T1}));
}

TEST_F(InterfaceSearch, AnInterfaceThatCannotBeOpenedHasNoTypeLib) {
    Interface("{I1}", T1);
    Interface("{I2}", T1);
    faulty.FailOpen(platform::kHkeyClassesRoot, "Interface\\{I1}",
                      platform::kErrorAccessDenied);
    FoundClass("{C1}", T1);
    fennick.SearchInterfaces();
    EXPECT_EQ(Found(), (Lines{"CLSID\\||{C1}|" T1, "INTERFACE\\||{I2}|" T1}));
}

TEST_F(TypeLibSearch, EachRecordCarryingARegisteredTypeLibAppendsIt) {
    Default("TypeLib\\" T1 "\\1.0", "Acme types");
    FoundClass("{C1}", T1);
    FoundClass("{C2}", T9);  // not registered: not appended
    fennick.FoundKeys.push_back(FoundKey{"INTERFACE\\", "", "{I1}", T1_LOWER});
    fennick.FoundKeys.push_back(FoundKey{"INTERFACE\\", "", "{I2}", T1});
    // Without braces it names the same library, whose key has them.
    fennick.FoundKeys.push_back(FoundKey{"INTERFACE\\", "", "{I3}",
                                         "AB000000-0000-0000-0000-0000000000CD"});
    fennick.SearchTypeLibs();
    Lines found = Found();
    EXPECT_EQ(Lines(found.begin() + 5, found.end()),
              (Lines{"TYPELIB\\|||" T1, "TYPELIB\\|||" T1_LOWER, "TYPELIB\\|||" T1,
                     "TYPELIB\\|||" T1}));
}

TEST_F(TypeLibSearch, ALibraryThatRefusesToOpenIsReportedForEachRecordAndNotAppended) {
    Key("TypeLib\\" T5 "\\1.0");
    faulty.FailOpen(platform::kHkeyClassesRoot, "TYPELIB\\" T5, platform::kErrorAccessDenied);
    FoundClass("{C1}", T5);
    FoundClass("{C2}", T5);
    fennick.SearchTypeLibs();
    EXPECT_EQ(Found().size(), 2u);
    // Once for each record, and once more when the walk over TYPELIB searches below it.
    EXPECT_EQ(view.Matching("message:").size(), 3u);
}

TEST_F(TypeLibSearch, AKeywordInTheWin32PathFindsTheLibraryWithoutAnyClass) {
    Default("TypeLib\\{L1}\\1.0\\0\\win32", "C:\\Program Files\\ACME\\acme.tlb");
    Default("TypeLib\\{L2}\\1.0\\0\\win64", "C:\\acme\\acme64.tlb");  // no win32 path
    Default("TypeLib\\{L3}\\1.0\\0\\Win32", "C:\\other\\x.tlb");
    Default("TypeLib\\{L4}\\1.0\\0\\WIN32", "c:\\acme\\old.tlb");
    UseKeywords({"acme", "x.TLB", "acme64"});
    fennick.SearchTypeLibs();
    EXPECT_EQ(Found(), (Lines{"TYPELIB\\|||{L1}", "TYPELIB\\|||{L4}", "TYPELIB\\|||{L3}"}));
}

TEST_F(TypeLibSearch, AnEmptyFirstWin32ValueGivesWayToTheNextWin32Key) {
    Default("TypeLib\\{L1}\\1.0\\0\\win32", "");
    Default("TypeLib\\{L1}\\2.0\\0\\win32", "c:\\acme\\v2.tlb");
    Default("TypeLib\\{L2}\\1.0\\0\\win32", "");
    UseKeywords({"acme"});
    fennick.SearchTypeLibs();
    EXPECT_EQ(Found(), (Lines{"TYPELIB\\|||{L1}"}));
}

TEST_F(TypeLibSearch, TheWalkOverTypeLibKeepsItsPlaceAroundEachSearchBelowALibrary) {
    // The search below a library moves the shared subkey position (to 2 after {L1}, to 4 after
    // {L3}); a walk that did not restore it would see {L1} and {L3} only.
    Default("TypeLib\\{L1}\\1.0\\0\\win32", "c:\\acme\\one.tlb");
    Key("TypeLib\\{L1}\\2.0\\FLAGS");
    Default("TypeLib\\{L2}\\1.0\\0\\win32", "c:\\acme\\two.tlb");
    Default("TypeLib\\{L3}\\1.0\\0\\win16", "c:\\acme\\old.tlb");
    Key("TypeLib\\{L3}\\2.0\\HELPDIR");
    Default("TypeLib\\{L3}\\3.0\\0\\win32", "c:\\acme\\three.tlb");
    Key("TypeLib\\{L3}\\4.0\\FLAGS");
    Default("TypeLib\\{L4}\\1.0\\0\\win32", "c:\\acme\\four.tlb");
    UseKeywords({"acme"});
    fennick.SearchTypeLibs();
    EXPECT_EQ(Found(), (Lines{"TYPELIB\\|||{L1}", "TYPELIB\\|||{L2}", "TYPELIB\\|||{L3}",
                              "TYPELIB\\|||{L4}"}));
}

TEST_F(TypeLibSearch, ShowsEachRecordEachLibraryAndEachKeyword) {
    Default("TypeLib\\" T1 "\\win32", "c:\\acme.tlb");
    FoundClass("{C1}", T1);
    UseKeywords({"acme"});
    fennick.SearchTypeLibs();
    // Step 1 yields per record; the walk shows each library without a yield of its own (the
    // search below it yields once per subkey it visits); then one yield per keyword.
    EXPECT_EQ(view.calls, (Lines{"yield", "keyword:" T1, "keyword:" T1, "yield", "yield",
                                 "keyword:acme"}));
    EXPECT_EQ(Found(), (Lines{"CLSID\\||{C1}|" T1, "TYPELIB\\|||" T1, "TYPELIB\\|||" T1}));
}

TEST_F(TypeLibSearch, WithoutKeywordsOnlyTheFoundRecordsAreFollowed) {
    Default("TypeLib\\" T1 "\\1.0\\0\\win32", "c:\\acme.tlb");
    FoundClass("{C1}", T1);
    UseKeywords({});
    fennick.SearchTypeLibs();
    EXPECT_EQ(Found(), (Lines{"CLSID\\||{C1}|" T1, "TYPELIB\\|||" T1}));
}

}  // namespace
}  // namespace cleaner::testing
