// RegExportTree, RegDeleteTree, RegFindSubkeyValue: the walk rules, the failures, depth.
#include "cleaner/registry/backup_format.h"
#include "layer_fixture.h"

namespace cleaner::testing {
namespace {

using Op = testsupport::FaultyRegistry::Op;

std::string Block(const std::string& path, const std::string& values = "") {
    return "\r\n[" + path + "]\r\n" + values;
}

// --- Export

class Export : public LayerTest {
protected:
    std::string text;
    bool ExportKey(const std::string& keyPath, const std::string& subKey = "") {
        return reg.RegExportTree(kHkcr, "HKEY_CLASSES_ROOT", keyPath, subKey, text);
    }
};

TEST_F(Export, SubtreesComeBeforeTheirKeyAndEveryKeyHasABlock) {
    // K: A (values), B (no values; C with values), D (empty leaf).
    registry.SetString(kHkcr, "K", "", "k");
    registry.SetString(kHkcr, "K\\A", "v", "a");
    registry.SetString(kHkcr, "K\\B\\C", "", "c");
    registry.CreateKey(kHkcr, "K\\D");
    text = "before";
    ASSERT_TRUE(ExportKey("K"));
    EXPECT_EQ(text, "before" + Block("HKEY_CLASSES_ROOT\\K\\A", "\"v\"=\"a\"\r\n") +
                        Block("HKEY_CLASSES_ROOT\\K\\B\\C", "@=\"c\"\r\n") +
                        Block("HKEY_CLASSES_ROOT\\K\\B") + Block("HKEY_CLASSES_ROOT\\K\\D") +
                        Block("HKEY_CLASSES_ROOT\\K", "@=\"k\"\r\n"));
    ExpectNoMessages();
    ExpectNoLeaks();
}

TEST_F(Export, KeyPathAndSubKeyAreJoinedAndAnEmptyKeyGetsItsLine) {
    registry.CreateKey(kHkcr, "CLSID\\{E}");
    ASSERT_TRUE(ExportKey("CLSID", "{E}"));
    EXPECT_EQ(text, Block("HKEY_CLASSES_ROOT\\CLSID\\{E}"));
}

TEST_F(Export, ValuesKeepTheirTypeAndAllTheirData) {
    const std::string big(1000, '\x7f');
    registry.SetValue(kHkcr, "T", "bin", platform::kRegBinary, big);
    registry.SetString(kHkcr, "T", "long", std::string(400, 's'));
    registry.SetDword(kHkcr, "T", "num", 0x1234);
    text.clear();
    ASSERT_TRUE(ExportKey("T"));
    std::string expected = "\r\n[HKEY_CLASSES_ROOT\\T]\r\n";
    AppendValueLine(expected, "bin", platform::kRegBinary, big);
    expected += "\"long\"=\"" + std::string(400, 's') + "\"\r\n\"num\"=dword:00001234\r\n";
    EXPECT_EQ(text, expected);
}

TEST_F(Export, AMissingKeyIsSilentAndAddsNothing) {
    text = "kept";
    EXPECT_TRUE(ExportKey("NoSuchKey"));
    EXPECT_EQ(text, "kept");
    ExpectNoMessages();
}

TEST_F(Export, ThePositionIsSavedAndRestoredAroundEachSubtree) {
    registry.CreateKey(kHkcr, "K\\A\\A1");
    registry.CreateKey(kHkcr, "K\\A\\A2");
    registry.CreateKey(kHkcr, "K\\B");
    // Events run a walk of their own, saving and restoring the position as they must.
    ui.onDoEvents = [this] {
        const std::int32_t saved = reg.RegGetKeyIndex();
        HKEY other = 0;
        std::string name;
        if (reg.RegOpen(kHkcr, "K\\A", "", other)) {
            reg.RegFirstKey(other, name);
            reg.RegClose(other);
        }
        reg.RegSetKeyIndex(saved);
    };
    ASSERT_TRUE(ExportKey("K"));
    EXPECT_EQ(ui.doEventsCalls, 4);  // once per subkey
    EXPECT_EQ(text, Block("HKEY_CLASSES_ROOT\\K\\A\\A1") + Block("HKEY_CLASSES_ROOT\\K\\A\\A2") +
                        Block("HKEY_CLASSES_ROOT\\K\\A") + Block("HKEY_CLASSES_ROOT\\K\\B") +
                        Block("HKEY_CLASSES_ROOT\\K"));
    // K at 0 (A); the events read at 0; A at 0 (A1); events; A1 at 0 (end); A goes on at 1
    // (A2); events; A2 at 0 (end); A at 2 (end); K goes on at 1 (B); events; B at 0 (end);
    // K at 2 (end).
    const std::vector<DWORD> walk = {0, 0, 0, 0, 0, 1, 0, 0, 2, 1, 0, 0, 2};
    EXPECT_EQ(faulty.enumKeyIndexes, walk);
    EXPECT_EQ(reg.RegGetKeyIndex(), 2);
}

TEST_F(Export, ASubkeyThatCannotBeOpenedIsReportedAndTheResultIsFalse) {
    registry.SetString(kHkcr, "K\\A", "", "a");
    registry.SetString(kHkcr, "K\\Locked", "", "secret");
    registry.SetString(kHkcr, "K\\Z", "", "z");
    faulty.FailOpen(kHkcr, "K\\Locked", platform::kErrorAccessDenied);
    EXPECT_FALSE(ExportKey("K"));  // the backup lacks Locked: it must not pass for whole
    EXPECT_EQ(text, Block("HKEY_CLASSES_ROOT\\K\\A", "@=\"a\"\r\n") +
                        Block("HKEY_CLASSES_ROOT\\K\\Z", "@=\"z\"\r\n") +
                        Block("HKEY_CLASSES_ROOT\\K"));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Open Reg:Locked -  5 - Access is denied.\r\n");
    ExpectNoLeaks();
}

TEST_F(Export, AStartKeyThatCannotBeOpenedIsReportedAndFalse) {
    registry.CreateKey(kHkcr, "K");
    faulty.FailOpen(kHkcr, "K", platform::kErrorAccessDenied);
    EXPECT_FALSE(ExportKey("K"));
    EXPECT_EQ(text, "");
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(Export, AWalkThatFailsMidWayIsReportedAndTheResultIsFalse) {
    registry.SetString(kHkcr, "K\\A", "", "a");
    registry.SetString(kHkcr, "K\\B", "", "b");
    faulty.FailEnumKey(kHkcr, "K", 1, platform::kErrorAccessDenied);
    EXPECT_FALSE(ExportKey("K"));
    EXPECT_EQ(text, Block("HKEY_CLASSES_ROOT\\K\\A", "@=\"a\"\r\n") + Block("HKEY_CLASSES_ROOT\\K"));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Next Reg : -  5 - Access is denied.\r\n");
    ExpectNoLeaks();
}

TEST_F(Export, AValueWalkCutShortMakesTheResultFalse) {
    registry.SetString(kHkcr, "K", "a", "1");
    registry.SetString(kHkcr, "K", "b", "2");
    faulty.enumValue = [](HKEY, DWORD index) -> std::optional<LONG> {
        if (index == 1) return platform::kErrorKeyDeleted;
        return std::nullopt;
    };
    EXPECT_FALSE(ExportKey("K"));
    EXPECT_EQ(text, Block("HKEY_CLASSES_ROOT\\K", "\"a\"=\"1\"\r\n"));
}

TEST_F(Export, AnUnexpectedFailureLeavesOnlyWholeBlocks) {
    registry.SetString(kHkcr, "K\\A", "", "a");
    registry.SetString(kHkcr, "K\\B", "one", "1");
    registry.SetString(kHkcr, "K\\B", "two", "2");
    // A's value, A's end, B's first value, then the failure while reading B's second.
    faulty.ThrowOnCall(Op::EnumValue, 4);
    text = "x";
    EXPECT_FALSE(ExportKey("K"));
    EXPECT_EQ(text, "x" + Block("HKEY_CLASSES_ROOT\\K\\A", "@=\"a\"\r\n"));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], OutOfMemoryReport("Delete - error #"));
    ExpectNoLeaks();
}

// --- Delete

class Delete : public LayerTest {
protected:
    void BuildThreeByTwo() {
        for (const char* child : {"A", "B", "C"}) {
            for (const char* grandchild : {"1", "2"}) {
                registry.SetString(kHkcr, std::string("K\\") + child + "\\" + grandchild, "",
                                   "v");
            }
        }
    }
};

TEST_F(Delete, DeletesEveryKeyAfterItsSubkeys) {
    BuildThreeByTwo();
    registry.CreateKey(kHkcr, "Keep");
    EXPECT_TRUE(reg.RegDeleteTree(kHkcr, "K", ""));
    // The registry refuses to delete a key that still has subkeys, so ten successful deletes
    // mean each key went after its own subkeys.
    EXPECT_EQ(faulty.deleted.size(), 10u);
    EXPECT_EQ(faulty.Calls(Op::Delete), 10);
    EXPECT_FALSE(registry.KeyExists(kHkcr, "K"));
    EXPECT_TRUE(registry.KeyExists(kHkcr, "Keep"));
    EXPECT_EQ(ui.doEventsCalls, 0);
    ExpectNoMessages();
    ExpectNoLeaks();
}

TEST_F(Delete, ThePositionStepsBackAfterEachDeletedSubkey) {
    registry.CreateKey(kHkcr, "K\\A");
    registry.CreateKey(kHkcr, "K\\B");
    registry.CreateKey(kHkcr, "K\\C");
    EXPECT_FALSE(reg.RegDeleteTree(kHkcr, "K", "Z"));  // K\Z does not exist: tried, false
    EXPECT_TRUE(reg.RegDeleteTree(kHkcr, "", "K"));
    // Every read of K is at 0: each subkey's followers moved down into its place. Between
    // them, each subkey's own (empty) walk.
    const std::vector<DWORD> reads = {0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(faulty.enumKeyIndexes, reads);
}

TEST_F(Delete, AProtectedSubkeyEndsItsWalkInsteadOfRepeatingIt) {
    registry.CreateKey(kHkcr, "K\\A");
    registry.CreateKey(kHkcr, "K\\B\\B1");
    registry.CreateKey(kHkcr, "K\\C");
    faulty.FailDelete(kHkcr, "K\\B", platform::kErrorAccessDenied);
    EXPECT_FALSE(reg.RegDeleteTree(kHkcr, "K", ""));
    EXPECT_FALSE(registry.KeyExists(kHkcr, "K\\A"));
    EXPECT_FALSE(registry.KeyExists(kHkcr, "K\\B\\B1"));
    EXPECT_TRUE(registry.KeyExists(kHkcr, "K\\B"));
    EXPECT_FALSE(registry.KeyExists(kHkcr, "K\\C"));
    EXPECT_TRUE(registry.KeyExists(kHkcr, "K"));
    EXPECT_LE(faulty.Calls(Op::EnumKey), 10);
    ExpectNoMessages();  // a failed delete shows nothing
    ExpectNoLeaks();
}

TEST_F(Delete, ASubkeyThatDoesNotOpenIsStillDeleted) {
    registry.CreateKey(kHkcr, "K\\Locked");
    faulty.FailOpen(kHkcr, "K\\Locked", platform::kErrorAccessDenied);
    EXPECT_TRUE(reg.RegDeleteTree(kHkcr, "K", ""));
    EXPECT_FALSE(registry.KeyExists(kHkcr, "K"));
    ASSERT_EQ(ui.messages.size(), 1u);  // the open's report
    EXPECT_EQ(ui.messages[0], "Open Reg:Locked -  5 - Access is denied.\r\n");
}

TEST_F(Delete, AnUnexpectedFailureEndsItAndClosesWhatItOpened) {
    BuildThreeByTwo();
    faulty.ThrowOnCall(Op::Delete, 3);
    EXPECT_FALSE(reg.RegDeleteTree(kHkcr, "K", ""));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], OutOfMemoryReport("Delete - error #"));
    EXPECT_EQ(faulty.deleted.size(), 2u);
    EXPECT_TRUE(registry.KeyExists(kHkcr, "K\\A"));
    ExpectNoLeaks();
}

// --- Find

class Find : public LayerTest {
protected:
    std::string result;
    bool FindWin32(const std::string& library) {
        return reg.RegFindSubkeyValue(kHkcr, "WIN32", "TYPELIB", library, result);
    }
};

TEST_F(Find, FindsTheLibraryPathInAnyCase) {
    registry.SetString(kHkcr, "TYPELIB\\{L1}\\1.0\\0\\win32", "", "c:\\one.tlb");
    registry.SetString(kHkcr, "TYPELIB\\{L2}\\1.0\\0\\Win32", "", "c:\\two.tlb");
    registry.SetString(kHkcr, "TYPELIB\\{L3}\\1.0\\0\\WIN32", "", "c:\\three.tlb");
    for (const auto& [library, path] : std::vector<std::pair<std::string, std::string>>{
             {"{L1}", "c:\\one.tlb"}, {"{L2}", "c:\\two.tlb"}, {"{L3}", "c:\\three.tlb"}}) {
        result.clear();
        EXPECT_TRUE(FindWin32(library));
        EXPECT_EQ(result, path);
    }
    ExpectNoMessages();
    ExpectNoLeaks();
}

TEST_F(Find, FoldsWindows1252LettersAsTheKeywordMatchesDo) {
    // E acute and S caron in capitals find their small letters; the multiplication sign is no
    // capital of the division sign.
    registry.SetString(kHkcr, "TYPELIB\\{L}\\1.0\\fil\xE9\x9A\xF7", "", "c:\\lib.tlb");
    EXPECT_TRUE(reg.RegFindSubkeyValue(kHkcr, "FIL\xC9\x8A", "TYPELIB", "{L}", result));
    EXPECT_EQ(result, "c:\\lib.tlb");
    result.clear();
    EXPECT_TRUE(reg.RegFindSubkeyValue(kHkcr, "\xD7", "TYPELIB", "{L}", result));
    EXPECT_EQ(result, "");
    ExpectNoMessages();
}

TEST_F(Find, TheFirstNonEmptyMatchInDepthFirstOrderWins) {
    // 1.0 is searched before 2.0; in 1.0, the empty win32 does not count.
    registry.CreateKey(kHkcr, "TYPELIB\\{L}\\1.0\\0\\win32");
    registry.SetString(kHkcr, "TYPELIB\\{L}\\1.0\\9\\win32", "", "c:\\deep.tlb");
    registry.SetString(kHkcr, "TYPELIB\\{L}\\2.0\\win32", "", "c:\\later.tlb");
    EXPECT_TRUE(FindWin32("{L}"));
    EXPECT_EQ(result, "c:\\deep.tlb");
}

TEST_F(Find, AMatchingSubkeyIsNotSearchedBelow) {
    registry.CreateKey(kHkcr, "TYPELIB\\{L}\\1.0\\win32\\win32x");
    registry.SetString(kHkcr, "TYPELIB\\{L}\\1.0\\win32\\win32x", "", "c:\\below.tlb");
    EXPECT_TRUE(FindWin32("{L}"));
    EXPECT_EQ(result, "");
}

TEST_F(Find, TheSearchStopsAfterAMatchAndRestoresPositions) {
    registry.SetString(kHkcr, "TYPELIB\\{L}\\1.0\\0\\win32", "", "c:\\a.tlb");
    registry.CreateKey(kHkcr, "TYPELIB\\{L}\\1.0\\1");
    registry.CreateKey(kHkcr, "TYPELIB\\{L}\\2.0");
    EXPECT_TRUE(FindWin32("{L}"));
    EXPECT_EQ(result, "c:\\a.tlb");
    // {L} at 0 (1.0); 1.0 at 0 (0); 0 at 0 (win32, the match); 0 reads on at 1 (end);
    // 1.0 goes on at 1 (1) and stops; {L} goes on at 1 (2.0) and stops.
    const std::vector<DWORD> reads = {0, 0, 0, 1, 1, 1};
    EXPECT_EQ(faulty.enumKeyIndexes, reads);
    EXPECT_EQ(ui.doEventsCalls, 3);
    ExpectNoLeaks();
}

TEST_F(Find, AnEmptyPartMatchesNothing) {
    registry.SetString(kHkcr, "TYPELIB\\{L}\\1.0", "", "version one");
    registry.SetString(kHkcr, "TYPELIB\\{L}\\1.0\\0\\win32", "", "c:\\a.tlb");
    EXPECT_TRUE(reg.RegFindSubkeyValue(kHkcr, "", "TYPELIB", "{L}", result));
    EXPECT_EQ(result, "");
}

TEST_F(Find, AMissingStartKeyLeavesTheResult) {
    result = "kept";
    EXPECT_TRUE(FindWin32("{none}"));
    EXPECT_EQ(result, "kept");
    ExpectNoMessages();
}

TEST_F(Find, AnUnexpectedFailureIsReportedUnderTheTreeLabel) {
    registry.SetString(kHkcr, "TYPELIB\\{L}\\1.0\\0\\win32", "", "c:\\a.tlb");
    ui.onDoEvents = [] { throw std::bad_alloc(); };
    EXPECT_FALSE(FindWin32("{L}"));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], OutOfMemoryReport("Delete - error #"));
    ExpectNoLeaks();
}

TEST_F(Find, AnythingElseThrownByTheWindowPassesThroughWithKeysClosed) {
    registry.SetString(kHkcr, "TYPELIB\\{L}\\1.0\\0\\win32", "", "c:\\a.tlb");
    struct EndProgram {};
    ui.onDoEvents = [] { throw EndProgram(); };
    EXPECT_THROW(FindWin32("{L}"), EndProgram);
    ExpectNoMessages();
    ExpectNoLeaks();
}

// --- Link keys

class Links : public LayerTest {
protected:
    // K: A (a plain key), Bad (a link whose target cannot be read), Fake (SymbolicLinkValue of
    // another type: data, no link), L (a link to K\A), Self (a link to itself), and win32 (a
    // link that the find would match).
    void SetUp() override {
        registry.SetString(kHkcr, "K", "", "k");
        registry.SetString(kHkcr, "K\\A", "", "a");
        registry.SetValue(kHkcr, "K\\Bad", "SymbolicLinkValue", platform::kRegLink, "\x01");
        registry.SetString(kHkcr, "K\\Fake", "SymbolicLinkValue", "not a link");
        Link("K\\L", u"\\REGISTRY\\MACHINE\\Software\\Classes\\K\\A");
        Link("K\\Self", u"\\REGISTRY\\MACHINE\\Software\\Classes\\K\\Self");
        Link("K\\win32", u"\\REGISTRY\\MACHINE\\Software\\Classes\\K\\A");
    }
    void Link(const std::string& path, std::u16string_view target) {
        std::string bytes;
        for (const char16_t unit : target) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
        registry.SetValue(kHkcr, path, "SymbolicLinkValue", platform::kRegLink, bytes);
    }
};

TEST_F(Links, AreNeverEnteredExportedDeletedOrFollowed) {
    std::string text;
    EXPECT_TRUE(reg.RegExportTree(kHkcr, "HKEY_CLASSES_ROOT", "K", "", text));
    EXPECT_EQ(text, Block("HKEY_CLASSES_ROOT\\K\\A", "@=\"a\"\r\n") +
                        Block("HKEY_CLASSES_ROOT\\K\\Fake",
                              "\"SymbolicLinkValue\"=\"not a link\"\r\n") +
                        Block("HKEY_CLASSES_ROOT\\K", "@=\"k\"\r\n"));
    std::string found;
    EXPECT_TRUE(reg.RegFindSubkeyValue(kHkcr, "WIN32", "K", "", found));
    EXPECT_EQ(found, "");

    EXPECT_FALSE(reg.RegDeleteTree(kHkcr, "K", ""));  // its links keep it
    for (const char* kept : {"K", "K\\Bad", "K\\L", "K\\Self", "K\\win32"}) {
        EXPECT_TRUE(registry.KeyExists(kHkcr, kept)) << kept;
    }
    EXPECT_FALSE(registry.KeyExists(kHkcr, "K\\A"));
    EXPECT_FALSE(registry.KeyExists(kHkcr, "K\\Fake"));

    // Started on a link, each does nothing to it.
    text.clear();
    EXPECT_TRUE(reg.RegExportTree(kHkcr, "HKEY_CLASSES_ROOT", "K", "Self", text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(reg.RegDeleteTree(kHkcr, "K", "Self"));
    EXPECT_TRUE(registry.KeyExists(kHkcr, "K\\Self"));
    // Windows opens a link's target unless asked for the link itself.
    for (const DWORD options : faulty.openOptions) {
        EXPECT_EQ(options, platform::kRegOptionOpenLink);
    }
    ExpectNoMessages();
    ExpectNoLeaks();
}

// --- Text the backup cannot carry

TEST_F(Export, TellsNamesAndTextThatTheNarrowCodePageCannotCarry) {
    registry.SetString(kHkcr, "Fine\\Sub", "caf\xe9", "\x80 \xff");  // all Windows-1252
    registry.SetStringW(kHkcr, u"KeyName\\\u03a9", u"x", u"1");
    registry.SetStringW(kHkcr, u"ValueName", u"\u03a9", u"1");
    registry.SetStringW(kHkcr, u"Text\\Sub", u"x", u"\u03a9");
    registry.CreateKey(kHkcr, "Break\\a\nb");  // a key line cannot hold a line break
    struct Case {
        const char* key;
        bool namesExact;
        bool textExact;
    };
    for (const Case& c : {Case{"Fine", true, true}, Case{"KeyName", false, true},
                          Case{"ValueName", false, true}, Case{"Text", true, false},
                          Case{"Break", false, true}}) {
        modRegFuncs::ExportFindings findings;
        text.clear();
        const bool exact = reg.RegExportTree(kHkcr, "HKEY_CLASSES_ROOT", c.key, "", text, findings);
        EXPECT_EQ(exact, c.namesExact && c.textExact) << c.key;
        EXPECT_TRUE(findings.read) << c.key;
        EXPECT_EQ(findings.namesExact, c.namesExact) << c.key;
        EXPECT_EQ(findings.textExact, c.textExact) << c.key;
    }
    ExpectNoMessages();
}

// --- Windows' answer to a short name buffer: no size needed, so the layer grows and retries.

TEST_F(LayerTest, UnderWindowsBufferRulesNamesUpToTheRegistrysLimitsAreReadWhole) {
    const std::string key255(255, 'k');
    const std::string value16383(16383, 'v');
    registry.SetString(kHkcr, "Long\\" + key255, std::string(300, 'n'), "x");
    registry.SetValue(kHkcr, "Long", value16383, platform::kRegBinary, std::string(5000, 'd'));
    std::string told;
    ASSERT_TRUE(reg.RegExportTree(kHkcr, "HKEY_CLASSES_ROOT", "Long", "", told));

    registry.SetNameBufferRules(platform::MemoryRegistry::NameBufferRules::kWindows);
    std::string windows;
    ASSERT_TRUE(reg.RegExportTree(kHkcr, "HKEY_CLASSES_ROOT", "Long", "", windows));
    EXPECT_EQ(windows, told);
    const HKEY key = Open(kHkcr, "Long");
    std::string name;
    std::string data;
    ASSERT_TRUE(reg.RegFirstKey(key, name));
    EXPECT_EQ(name, key255);
    ASSERT_TRUE(reg.RegFirstValue(key, name, data));
    EXPECT_EQ(name, value16383);
    reg.RegClose(key);

    // A longer key name (a Wine file can hold one) reaches no key: the tree is not whole, and
    // no cut-off name stands in for it.
    registry.CreateKey(kHkcr, "Long\\" + std::string(300, 'x'));
    EXPECT_FALSE(reg.RegExportTree(kHkcr, "HKEY_CLASSES_ROOT", "Long", "", windows));
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
    ExpectNoMessages();
}

// --- Depth

TEST_F(LayerTest, ATreeTenThousandLevelsDeepIsExportedFoundAndDeleted) {
    constexpr int kDepth = 10000;
    std::string path = "Deep";
    for (int i = 1; i < kDepth; ++i) {
        path += "\\k";
    }
    registry.SetString(kHkcr, path, "", "bottom");
    registry.SetString(kHkcr, path + "\\win32", "", "found");

    std::string text;
    ASSERT_TRUE(reg.RegExportTree(kHkcr, "HKEY_CLASSES_ROOT", "Deep", "", text));
    const std::string last = Block("HKEY_CLASSES_ROOT\\Deep");
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
    const std::string first = Block("HKEY_CLASSES_ROOT\\" + path + "\\win32", "@=\"found\"\r\n");
    EXPECT_EQ(text.substr(0, first.size()), first);

    std::string result;
    ASSERT_TRUE(reg.RegFindSubkeyValue(kHkcr, "WIN32", "Deep", "", result));
    EXPECT_EQ(result, "found");

    EXPECT_TRUE(reg.RegDeleteTree(kHkcr, "Deep", ""));
    EXPECT_FALSE(registry.KeyExists(kHkcr, "Deep"));
    EXPECT_EQ(faulty.deleted.size(), static_cast<std::size_t>(kDepth + 1));
    ExpectNoMessages();
    ExpectNoLeaks();
}

}  // namespace
}  // namespace cleaner::testing
