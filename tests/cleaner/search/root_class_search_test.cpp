// SearchRootKeys and SearchClassIds on small registries: which records are appended, in which
// order, and what the searches show and where they yield.
#include "tests/cleaner/search/search_fixture.h"

namespace cleaner::testing {
namespace {

using RootKeySearch = SearchTest;
using ClassIdSearch = SearchTest;

TEST_F(RootKeySearch, LowerCaseKeywordFindsMixedCaseNameAsTheRegistrySpellsIt) {
    Key("AcmeLedger.Document");
    Key("Other.File");
    UseKeywords({"acmeledger"});
    fennick.SearchRootKeys();
    EXPECT_EQ(Found(), (Lines{"AcmeLedger.Document|||"}));
}

TEST_F(RootKeySearch, AllFindsOfOneKeywordComeBeforeTheNextAndDuplicatesStay) {
    Key(".acme");
    Key("Acme.Doc");
    Key("Unrelated");
    UseKeywords({"ACME", "cme", "acme"});
    fennick.SearchRootKeys();
    EXPECT_EQ(Found(), (Lines{".acme|||", "Acme.Doc|||", ".acme|||", "Acme.Doc|||", ".acme|||",
                              "Acme.Doc|||"}));
}

TEST_F(RootKeySearch, BranchKeysAreNamesLikeAnyOther) {
    Key("CLSID\\{1}");
    Key("Interface");
    Key("TypeLib");
    UseKeywords({"lsi", "typel"});
    fennick.SearchRootKeys();
    EXPECT_EQ(Found(), (Lines{"CLSID|||", "TypeLib|||"}));
}

TEST_F(RootKeySearch, FoldsWindows1252LettersButNotOtherBytes) {
    Key("\xC9" "cole");        // capital E acute
    Key("Stra\xDF" "e");       // sharp s has no capital of its own
    Key("\x8A" "koda");        // capital S caron
    Key("\x9F" "es");          // capital Y diaeresis
    Key("x\xD7y");             // multiplication sign, not a letter
    UseKeywords({"\xE9" "cole", "STRASSE", "\x9A" "KODA", "\xFF" "ES", "X\xF7Y"});
    fennick.SearchRootKeys();
    EXPECT_EQ(Found(), (Lines{"\xC9" "cole|||", "\x8A" "koda|||", "\x9F" "es|||"}));
}

TEST_F(RootKeySearch, YieldsThenShowsEachKeywordAndNothingElse) {
    Key("A");
    UseKeywords({"one", "two", "three"});
    fennick.SearchRootKeys();
    EXPECT_EQ(view.calls, (Lines{"yield", "keyword:one", "yield", "keyword:two", "yield",
                                 "keyword:three"}));
}

TEST_F(RootKeySearch, EmptyKeywordListDoesNothing) {
    Key("Anything");
    UseKeywords({});
    fennick.SearchRootKeys();
    EXPECT_TRUE(Found().empty());
    EXPECT_TRUE(view.calls.empty());
}

TEST_F(RootKeySearch, AKeywordThatFindsNothingLeavesTheCountAtZero) {
    Key("Alpha");
    UseKeywords({"zeta", "omega"});
    fennick.SearchRootKeys();
    EXPECT_TRUE(Found().empty());
    EXPECT_EQ(fennick.FoundKeyCount(), 0);
}

// Each case runs twice: as the first keyword (compared during the registry walk) and as a
// second one (compared against the cache); both must find the same classes.
class ClassIdSearchBothPasses : public SearchTest, public ::testing::WithParamInterface<bool> {
protected:
    std::vector<std::string> Search(const char* keyword) {
        if (GetParam()) {
            UseKeywords({"no-such-text", keyword});
        } else {
            UseKeywords({keyword});
        }
        fennick.SearchClassIds();
        return Found();
    }
};

TEST_P(ClassIdSearchBothPasses, ComparesDescriptionProgIdAndServerPath) {
    Class("{01}", "Acme Ledger Control");
    Class("{02}", "Something");
    ClassSub("{02}", "ProgId", "ACME.Thing.1");
    Class("{03}", "Another");
    ClassSub("{03}", "LocalServer32", "C:\\Program Files\\acme\\srv.exe");
    Class("{04}", "Fourth");
    ClassSub("{04}", "InprocServer32", "c:\\acme\\lib.dll");
    Class("{05}", "Unrelated");
    ClassSub("{05}", "ProgId", "Other.1");
    EXPECT_EQ(Search("acme"), (Lines{"CLSID\\||{01}|", "CLSID\\|ACME.Thing.1|{02}|",
                                     "CLSID\\||{03}|", "CLSID\\||{04}|"}));
}

TEST_P(ClassIdSearchBothPasses, ALocalServerHidesTheInprocServerPath) {
    Class("{01}", "Both servers");
    ClassSub("{01}", "LocalServer32", "c:\\other\\srv.exe");
    ClassSub("{01}", "InprocServer32", "c:\\acme\\lib.dll");
    // A LocalServer32 key without a default value still hides InprocServer32.
    Class("{02}", "Empty local server");
    Key("CLSID\\{02}\\LocalServer32");
    ClassSub("{02}", "InprocServer32", "c:\\acme\\lib.dll");
    Class("{03}", "Only inproc");
    ClassSub("{03}", "InprocServer32", "c:\\acme\\lib.dll");
    EXPECT_EQ(Search("ACME"), (Lines{"CLSID\\||{03}|"}));
}

TEST_P(ClassIdSearchBothPasses, ADescriptionLongerThan254BytesTakesPartInNoComparison) {
    Class("{01}", "acme " + std::string(300, 'x'));
    Class("{02}", std::string(300, 'y'));
    ClassSub("{02}", "ProgId", "Acme.Long");
    Class("{03}", "acme " + std::string(249, 'z'));  // 254 bytes: the longest that reads
    EXPECT_EQ(Search("acme"), (Lines{"CLSID\\|Acme.Long|{02}|", "CLSID\\||{03}|"}));
}

TEST_P(ClassIdSearchBothPasses, AClassThatCannotBeOpenedIsSkipped) {
    Class("{01}", "acme one");
    Class("{02}", "acme two");
    Class("{03}", "acme three");
    faulty.FailOpen(platform::kHkeyClassesRoot, "CLSID\\{02}", platform::kErrorAccessDenied);
    EXPECT_EQ(Search("acme"), (Lines{"CLSID\\||{01}|", "CLSID\\||{03}|"}));
}

INSTANTIATE_TEST_SUITE_P(FirstAndFurtherKeyword, ClassIdSearchBothPasses, ::testing::Bool());

TEST_F(ClassIdSearch, TypeLibIdGoesToTheRecordAndTheKeywordKeepsTheLastOneFound) {
    Class("{01}", "acme a");
    ClassSub("{01}", "TypeLib", "{T1}");
    Class("{02}", "acme b");  // no TypeLib: the keyword keeps {T1}
    Class("{03}", "other");
    ClassSub("{03}", "TypeLib", "{T3}");
    UseKeywords({"acme", "ACME B", "other"});
    fennick.SearchClassIds();
    EXPECT_EQ(Found(), (Lines{"CLSID\\||{01}|{T1}", "CLSID\\||{02}|", "CLSID\\||{02}|",
                              "CLSID\\||{03}|{T3}"}));
    EXPECT_EQ(fennick.Keywords[0].TypeLibId, "{T1}");
    EXPECT_EQ(fennick.Keywords[1].TypeLibId, "");
    EXPECT_EQ(fennick.Keywords[2].TypeLibId, "{T3}");
}

TEST_F(ClassIdSearch, AReadableEmptyTypeLibReplacesTheKeywordsEarlierOne) {
    Class("{01}", "acme a");
    ClassSub("{01}", "TypeLib", "{T1}");
    Class("{02}", "acme b");
    ClassSub("{02}", "TypeLib", "");
    UseKeywords({"acme"});
    fennick.SearchClassIds();
    EXPECT_EQ(Found(), (Lines{"CLSID\\||{01}|{T1}", "CLSID\\||{02}|"}));
    EXPECT_EQ(fennick.Keywords[0].TypeLibId, "");
}

TEST_F(ClassIdSearch, EveryMatchingKeywordAppendsItsOwnRecord) {
    Class("{01}", "Acme Ledger");
    ClassSub("{01}", "ProgId", "Acme.Ledger");
    Class("{02}", "Ledger only");
    UseKeywords({"acme", "ledger", "acme"});
    fennick.SearchClassIds();
    EXPECT_EQ(Found(), (Lines{"CLSID\\|Acme.Ledger|{01}|", "CLSID\\|Acme.Ledger|{01}|",
                              "CLSID\\||{02}|", "CLSID\\|Acme.Ledger|{01}|"}));
}

TEST_F(ClassIdSearch, WithoutAClsidBranchNoKeywordFindsAnything) {
    Key("AcmeLedger");
    UseKeywords({"acme", "ledger"});
    fennick.SearchClassIds();
    EXPECT_TRUE(Found().empty());
    EXPECT_EQ(view.calls, (Lines{"yield", "keyword:acme", "yield", "keyword:ledger"}));
}

TEST_F(ClassIdSearch, AClsidBranchThatRefusesToOpenIsReportedOnceAndFindsNothing) {
    Class("{01}", "acme");
    faulty.FailOpen(platform::kHkeyClassesRoot, "CLSID", platform::kErrorAccessDenied);
    UseKeywords({"acme", "acme"});
    fennick.SearchClassIds();
    EXPECT_TRUE(Found().empty());
    EXPECT_EQ(view.Matching("message:").size(), 1u);
}

TEST_F(ClassIdSearch, ReadsATypeLibOnlyForClassesThatMatched) {
    Class("{01}", "acme");
    Class("{02}", "other");
    faulty.FailOpen(platform::kHkeyClassesRoot, "CLSID\\{02}\\TypeLib",
                      platform::kErrorAccessDenied);
    UseKeywords({"acme", "acme"});
    fennick.SearchClassIds();
    EXPECT_EQ(Found().size(), 2u);
    EXPECT_TRUE(view.Matching("message:").empty());
}

}  // namespace
}  // namespace cleaner::testing
