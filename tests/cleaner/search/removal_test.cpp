// The removal drivers on an in-memory registry: which key each found record names, the backup
// they write, and what happens when the backup or the registry fails.
#include "tests/cleaner/search/removal_fakes.h"

#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "tests/support/faulty_registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace removal_test {
namespace {

using cleaner::FoundKey;
using platform::kHkeyClassesRoot;
using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;
using ::testing::EndsWith;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const std::string kHeader = "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT]\r\n\r\n";
constexpr const char* kBackup = "taDeletedRegKeys.reg";

// The export text of a key with one default string value and no subkeys, as one file line.
std::string Block(const std::string& path, const std::string& value) {
    return "\r\n[" + path + "]\r\n@=\"" + value + "\"\r\n\r\n";
}

class RemovalTest : public ::testing::Test {
protected:
    RemovalTest() {
        fennick.UseBackupFiles(files);
        fennick.UseRegistryCommit(&commit);
        faulty.onDeleted = [this](const std::string& subKey) { log.push_back("delete " + subKey); };
    }

    void AddClassKey(const std::string& path, const std::string& value) {
        registry.SetString(kHkeyClassesRoot, path, "", value);
    }
    bool ClassKeyExists(const std::string& path) const {
        return registry.KeyExists(kHkeyClassesRoot, path);
    }
    std::string& File() { return files.files[kBackup]; }
    // The events that concern one key: its block written, and its own delete.
    long Position(const std::string& event) const {
        const auto it = std::find(log.begin(), log.end(), event);
        return it == log.end() ? -1 : static_cast<long>(it - log.begin());
    }

    EventLog log;
    platform::MemoryRegistry registry;
    testsupport::FaultyRegistry faulty{registry};
    FakeFiles files{log};
    RecordingView view;
    CountingCommit commit;
    cleaner::modRegFuncs reg{faulty, view};
    cleaner::modFennick fennick{reg, view};
};

// --- Which key a record names

TEST_F(RemovalTest, EachBranchFormNamesItsKeyAndShowsItsName) {
    AddClassKey("CLSID\\{C}", "class");
    AddClassKey("CLSID\\{C}\\InprocServer32", "c:\\x.dll");
    AddClassKey("INTERFACE\\{I}", "iface");
    AddClassKey("TYPELIB\\{T}", "lib");
    AddClassKey("TYPELIB\\{NOT-T}", "other lib");
    AddClassKey("Acme.Thing", "progid");
    AddClassKey("Acme.Thing\\CLSID", "{C}");
    fennick.FoundKeys = {
        {"CLSID\\", "Acme.Thing", "{C}", ""},
        {"INTERFACE\\", "", "{I}", ""},
        {"TYPELIB\\", "", "{NOT-T}", "{T}"},  // the library's own id names the key
        {"Acme.Thing", "Acme.Thing", "", ""},  // any other text: a key directly below the hive
    };

    fennick.RemoveFoundKeys(kBackup);

    EXPECT_FALSE(ClassKeyExists("CLSID\\{C}"));
    EXPECT_FALSE(ClassKeyExists("INTERFACE\\{I}"));
    EXPECT_FALSE(ClassKeyExists("TYPELIB\\{T}"));
    EXPECT_TRUE(ClassKeyExists("TYPELIB\\{NOT-T}"));
    EXPECT_FALSE(ClassKeyExists("Acme.Thing"));
    EXPECT_TRUE(ClassKeyExists("CLSID"));
    EXPECT_THAT(view.keywords, ElementsAre("{C}", "{I}", "{T}", "Acme.Thing"));
    EXPECT_EQ(File(),
              kHeader +
                  "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{C}\\InprocServer32]\r\n@=\"c:\\\\x.dll\"\r\n"
                  "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{C}]\r\n@=\"class\"\r\n\r\n" +
                  Block("HKEY_CLASSES_ROOT\\INTERFACE\\{I}", "iface") +
                  Block("HKEY_CLASSES_ROOT\\TYPELIB\\{T}", "lib") +
                  "\r\n[HKEY_CLASSES_ROOT\\Acme.Thing\\CLSID]\r\n@=\"{C}\"\r\n"
                  "\r\n[HKEY_CLASSES_ROOT\\Acme.Thing]\r\n@=\"progid\"\r\n\r\n");
    EXPECT_THAT(view.messages, IsEmpty());
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(RemovalTest, BranchNamesCompareWithTheirLetterCase) {
    AddClassKey("CLSID\\{C}", "class");
    AddClassKey("TYPELIB\\{T}", "lib");
    // In other letter case a branch name falls to the last row: a key below the hive named
    // "clsid\", which no key can be. It must not be read as CLSID itself.
    fennick.FoundKeys = {{"clsid\\", "", "{C}", ""}, {"TypeLib\\", "", "", "{T}"}};

    fennick.RemoveFoundKeys(kBackup);

    EXPECT_TRUE(ClassKeyExists("CLSID\\{C}"));
    EXPECT_TRUE(ClassKeyExists("TYPELIB\\{T}"));
    EXPECT_THAT(view.keywords, ElementsAre("clsid\\", "TypeLib\\"));
    EXPECT_EQ(File(), kHeader);
}

TEST_F(RemovalTest, RecordsWithoutANameAreSkippedWithoutTouchingTheWindow) {
    AddClassKey("CLSID\\{C}", "class");
    AddClassKey("TYPELIB\\{T}", "lib");
    fennick.FoundKeys = {
        {"CLSID\\", "", "", "{T}"},        // empty SubKey
        {"INTERFACE\\", "", "", ""},       // empty SubKey
        {"TYPELIB\\", "", "{C}", ""},      // empty TypeLibId
        {"", "", "", ""},                  // empty branch: no name
    };

    fennick.RemoveFoundKeys(kBackup);

    EXPECT_THAT(view.keywords, IsEmpty());
    EXPECT_TRUE(ClassKeyExists("CLSID\\{C}"));
    EXPECT_TRUE(ClassKeyExists("TYPELIB\\{T}"));
    EXPECT_EQ(File(), kHeader);
}

TEST_F(RemovalTest, ATypeLibraryIdThatWouldAddressTheBranchItselfDeletesNothing) {
    AddClassKey("TYPELIB\\{T}", "lib");
    // The id comes from a value's data; with an empty name at an end it would name TYPELIB.
    fennick.FoundKeys = {{"TYPELIB\\", "", "", "\\"}, {"TYPELIB\\", "", "", "{T}\\"},
                         {"CLSID\\", "", "\\\\", ""}};

    fennick.RemoveFoundKeys(kBackup);

    EXPECT_TRUE(ClassKeyExists("TYPELIB\\{T}"));
    EXPECT_EQ(File(), kHeader);
}

TEST_F(RemovalTest, AFindOfThe32BitNodeIsBackedUpAndRemovedByItsPathInThe64BitView) {
    registry.SetWow64Node(true);
    AddClassKey("CLSID\\{C}", "64-bit class");
    AddClassKey("Wow6432Node\\CLSID\\{C}", "32-bit class");
    AddClassKey("Wow6432Node\\Interface\\{I}", "iface");
    AddClassKey("Wow6432Node\\Acme.Doc", "progid");
    fennick.FoundKeys = {{cleaner::kClassBranch32, "", "{C}", ""},
                         {cleaner::kInterfaceBranch32, "", "{I}", ""},
                         {"Wow6432Node\\Acme.Doc", "", "", ""}};

    fennick.RemoveFoundKeys(kBackup);

    EXPECT_TRUE(ClassKeyExists("CLSID\\{C}"));
    EXPECT_FALSE(ClassKeyExists("Wow6432Node\\CLSID\\{C}"));
    EXPECT_FALSE(ClassKeyExists("Wow6432Node\\Interface\\{I}"));
    EXPECT_FALSE(ClassKeyExists("Wow6432Node\\Acme.Doc"));
    EXPECT_TRUE(ClassKeyExists("Wow6432Node\\CLSID"));
    EXPECT_THAT(view.keywords, ElementsAre("{C}", "{I}", "Wow6432Node\\Acme.Doc"));
    EXPECT_EQ(File(), kHeader + Block("HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID\\{C}", "32-bit class") +
                          Block("HKEY_CLASSES_ROOT\\Wow6432Node\\INTERFACE\\{I}", "iface") +
                          Block("HKEY_CLASSES_ROOT\\Wow6432Node\\Acme.Doc", "progid"));
}

// Imports blocks as Block writes them (one default string value each) into the hive each block
// names; a block under HKEY_CLASSES_ROOT goes to the machine's classes.
void ImportBlocks(platform::MemoryRegistry& registry, const std::string& file) {
    const std::pair<const char*, platform::HKEY> roots[] = {
        {"HKEY_CLASSES_ROOT\\", kHkeyClassesRoot},
        {"HKEY_CURRENT_USER\\", kHkeyCurrentUser},
        {"HKEY_LOCAL_MACHINE\\", kHkeyLocalMachine}};
    for (std::size_t at = file.find("\r\n["); at != std::string::npos;
         at = file.find("\r\n[", at + 1)) {
        const std::size_t close = file.find("]\r\n@=\"", at);
        if (close == std::string::npos) continue;
        const std::string name = file.substr(at + 3, close - at - 3);
        const std::size_t valueStart = close + 6;
        const std::string value = file.substr(valueStart, file.find('"', valueStart) - valueStart);
        for (const auto& [prefix, root] : roots) {
            if (name.rfind(prefix, 0) == 0) registry.SetString(root, name.substr(std::strlen(prefix)), "", value);
        }
    }
}

// Windows' HKEY_CLASSES_ROOT shows the user's copy of a class over the machine's: each copy is
// backed up and removed under its own root, and comes back from the backup where it was.
TEST_F(RemovalTest, WhereTheUsersClassesAreMergedEachCopyComesBackToItsOwnHive) {
    registry.MergeUserClasses(true);
    AddClassKey("CLSID\\{B}", "machine copy");
    registry.SetString(kHkeyCurrentUser, "Software\\Classes\\CLSID\\{B}", "", "user copy");
    registry.SetString(kHkeyCurrentUser, "Software\\Classes\\CLSID\\{U}", "", "user only");
    AddClassKey("CLSID\\{M}", "machine only");
    fennick.FoundKeys = {{cleaner::kClassBranch, "", "{B}", ""},
                         {cleaner::kClassBranch, "", "{U}", ""},
                         {cleaner::kClassBranch, "", "{M}", ""}};

    fennick.RemoveFoundKeys(kBackup);

    EXPECT_FALSE(ClassKeyExists("CLSID\\{B}"));
    EXPECT_FALSE(ClassKeyExists("CLSID\\{U}"));
    EXPECT_FALSE(ClassKeyExists("CLSID\\{M}"));
    EXPECT_EQ(File(), kHeader +
                          Block("HKEY_CURRENT_USER\\Software\\Classes\\CLSID\\{B}", "user copy") +
                          Block("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{B}", "machine copy") +
                          Block("HKEY_CURRENT_USER\\Software\\Classes\\CLSID\\{U}", "user only") +
                          Block("HKEY_CLASSES_ROOT\\CLSID\\{M}", "machine only"));

    ImportBlocks(registry, File());
    registry.MergeUserClasses(false);  // each hive's own copies, as Wine shows them
    const auto copy = [&](platform::HKEY root, const std::string& path) {
        platform::HKEY key = 0;
        if (registry.RegOpenKeyExA(root, path.c_str(), 0, platform::kKeyRead, &key) != 0) return std::string("-");
        char data[64] = {};
        platform::DWORD size = sizeof data;
        registry.RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<unsigned char*>(data), &size);
        registry.RegCloseKey(key);
        return std::string(data);
    };
    EXPECT_EQ(copy(kHkeyCurrentUser, "Software\\Classes\\CLSID\\{B}"), "user copy");
    EXPECT_EQ(copy(kHkeyLocalMachine, "Software\\Classes\\CLSID\\{B}"), "machine copy");
    EXPECT_EQ(copy(kHkeyCurrentUser, "Software\\Classes\\CLSID\\{U}"), "user only");
    EXPECT_EQ(copy(kHkeyLocalMachine, "Software\\Classes\\CLSID\\{U}"), "-");
    EXPECT_EQ(copy(kHkeyLocalMachine, "Software\\Classes\\CLSID\\{M}"), "machine only");
    EXPECT_EQ(copy(kHkeyCurrentUser, "Software\\Classes\\CLSID\\{M}"), "-");
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

// --- The backup

TEST_F(RemovalTest, TwoRecordsForOneKeyBackItUpOnce) {
    AddClassKey("TYPELIB\\{T}", "lib");
    fennick.FoundKeys = {{"TYPELIB\\", "", "", "{T}"}, {"TYPELIB\\", "", "{X}", "{T}"}};

    fennick.RemoveFoundKeys(kBackup);

    EXPECT_FALSE(ClassKeyExists("TYPELIB\\{T}"));
    EXPECT_EQ(File(), kHeader + Block("HKEY_CLASSES_ROOT\\TYPELIB\\{T}", "lib"));
    EXPECT_THAT(view.keywords, ElementsAre("{T}", "{T}"));
}

TEST_F(RemovalTest, AnOldBackupIsReplacedAndNoKeysGiveTheHeaderAlone) {
    File() = "old content";
    fennick.RemoveFoundKeys(kBackup);
    EXPECT_EQ(File(), kHeader);
    EXPECT_EQ(commit.commits, 1);
}

TEST_F(RemovalTest, EachBlockIsWrittenBeforeItsKeyIsDeleted) {
    for (const char* id : {"{A}", "{B}", "{C}"}) AddClassKey(std::string("CLSID\\") + id, id);
    fennick.FoundKeys = {{"CLSID\\", "", "{A}", ""}, {"CLSID\\", "", "{B}", ""},
                         {"CLSID\\", "", "{C}", ""}};

    fennick.RemoveFoundKeys(kBackup);

    for (const char* id : {"{A}", "{B}", "{C}"}) {
        const long written =
            Position("write " + Block(std::string("HKEY_CLASSES_ROOT\\CLSID\\") + id, id));
        const long deleted = Position(std::string("delete CLSID\\") + id);
        ASSERT_GE(written, 0) << id;
        ASSERT_GE(deleted, 0) << id;
        EXPECT_LT(written, deleted) << id;
    }
}

TEST_F(RemovalTest, WithoutABackupPathNoFileIsTouchedAndKeysAreStillRemoved) {
    AddClassKey("CLSID\\{A}", "a");
    fennick.FoundKeys = {{"CLSID\\", "", "{A}", ""}};

    fennick.RemoveFoundKeys("");

    EXPECT_FALSE(ClassKeyExists("CLSID\\{A}"));
    EXPECT_EQ(files.calls, 0);
    EXPECT_EQ(commit.commits, 1);
}

// --- Failures

TEST_F(RemovalTest, ABackupThatCannotBeCreatedStopsBeforeAnyDelete) {
    AddClassKey("CLSID\\{A}", "a");
    fennick.FoundKeys = {{"CLSID\\", "", "{A}", ""}};
    files.createFails = "the folder \"missing\" does not exist";

    fennick.RemoveFoundKeys("missing\\backup.reg");

    EXPECT_TRUE(ClassKeyExists("CLSID\\{A}"));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_THAT(view.messages[0], HasSubstr("\"missing\\backup.reg\""));
    EXPECT_THAT(view.messages[0], HasSubstr("the folder \"missing\" does not exist"));
    EXPECT_THAT(view.messages[0], HasSubstr("Nothing was deleted"));
    EXPECT_THAT(view.keywords, IsEmpty());
}

TEST_F(RemovalTest, ADiscThatFillsAfterTheSecondBlockStopsBeforeTheThirdDelete) {
    for (const char* id : {"{A}", "{B}", "{C}", "{D}"}) {
        AddClassKey(std::string("CLSID\\") + id, id);
    }
    fennick.FoundKeys = {{"CLSID\\", "", "{A}", ""}, {"CLSID\\", "", "{B}", ""},
                         {"CLSID\\", "", "{C}", ""}, {"CLSID\\", "", "{D}", ""}};
    files.writesBeforeDiscFull = 3;  // the header and two blocks

    fennick.RemoveFoundKeys(kBackup);

    EXPECT_FALSE(ClassKeyExists("CLSID\\{A}"));
    EXPECT_FALSE(ClassKeyExists("CLSID\\{B}"));
    EXPECT_TRUE(ClassKeyExists("CLSID\\{C}"));
    EXPECT_TRUE(ClassKeyExists("CLSID\\{D}"));
    EXPECT_EQ(File(), kHeader + Block("HKEY_CLASSES_ROOT\\CLSID\\{A}", "{A}") +
                          Block("HKEY_CLASSES_ROOT\\CLSID\\{B}", "{B}"));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_THAT(view.messages[0], HasSubstr(kBackup));
    EXPECT_THAT(view.messages[0], HasSubstr("the disc is full"));
    EXPECT_THAT(view.messages[0], HasSubstr("HKEY_CLASSES_ROOT\\CLSID\\{C}"));
    EXPECT_EQ(commit.commits, 1);  // the two deletes are kept

    // The run goes on to the settings: still no room, so they stay too, with one more message.
    registry.SetString(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98", "Path", "c:\\tarvo");
    bool startNewFile = false;
    fennick.RemoveSettings(kBackup, startNewFile);
    EXPECT_TRUE(registry.KeyExists(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98"));
    EXPECT_EQ(view.messages.size(), 2u);
}

TEST_F(RemovalTest, AKeyThatRefusesDeletionIsBackedUpOnceAndTheRunGoesOn) {
    AddClassKey("CLSID\\{A}", "a");
    AddClassKey("CLSID\\{A}\\Locked", "locked");
    AddClassKey("CLSID\\{B}", "b");
    faulty.FailDelete(kHkeyLocalMachine, "Software\\Classes\\CLSID\\{A}\\Locked",
                        platform::kErrorAccessDenied);
    fennick.FoundKeys = {{"CLSID\\", "", "{A}", ""}, {"CLSID\\", "", "{B}", ""}};

    fennick.RemoveFoundKeys(kBackup);  // must end: the key keeps opening

    EXPECT_TRUE(ClassKeyExists("CLSID\\{A}\\Locked"));
    EXPECT_FALSE(ClassKeyExists("CLSID\\{B}"));
    EXPECT_EQ(File(), kHeader +
                          "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{A}\\Locked]\r\n@=\"locked\"\r\n"
                          "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{A}]\r\n@=\"a\"\r\n\r\n" +
                          Block("HKEY_CLASSES_ROOT\\CLSID\\{B}", "b"));
}

TEST_F(RemovalTest, AKeyThatCannotBeReadWhollyIsKept) {
    AddClassKey("CLSID\\{A}", "a");
    AddClassKey("CLSID\\{A}\\Secret", "s");
    AddClassKey("CLSID\\{B}", "b");
    faulty.FailOpen(kHkeyLocalMachine, "Software\\Classes\\CLSID\\{A}\\Secret",
                      platform::kErrorAccessDenied);
    fennick.FoundKeys = {{"CLSID\\", "", "{A}", ""}, {"CLSID\\", "", "{B}", ""}};

    fennick.RemoveFoundKeys(kBackup);

    // Its backup would lack the part that could not be read, so nothing of it goes.
    EXPECT_TRUE(ClassKeyExists("CLSID\\{A}"));
    EXPECT_FALSE(ClassKeyExists("CLSID\\{B}"));
    EXPECT_THAT(File(), HasSubstr("{B}"));
    ASSERT_FALSE(view.messages.empty());
    EXPECT_THAT(view.messages[0], HasSubstr("Open Reg:"));  // the registry layer's own report
}

TEST_F(RemovalTest, AWindowFailureIsPassedOverOnlyWhenABackupIsWritten) {
    AddClassKey("CLSID\\{A}", "a");
    fennick.FoundKeys = {{"CLSID\\", "", "{A}", ""}};
    view.throwOnKeyword = true;

    fennick.RemoveFoundKeys(kBackup);
    EXPECT_FALSE(ClassKeyExists("CLSID\\{A}"));

    AddClassKey("CLSID\\{A}", "a");
    EXPECT_THROW(fennick.RemoveFoundKeys(""), std::runtime_error);
    EXPECT_TRUE(ClassKeyExists("CLSID\\{A}"));
    EXPECT_EQ(commit.commits, 2);  // the commit runs however the operation ends
}

// --- Settings removal

class RemoveSettingsTest : public RemovalTest {
protected:
    RemoveSettingsTest() {
        registry.SetString(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98", "Path", "c:\\tarvo");
        registry.SetString(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\Other", "Keep", "yes");
        registry.SetString(kHkeyCurrentUser, "SOFTWARE\\Tarvo\\98", "User", "me");
    }
    static constexpr const char* kMachineBlock =
        "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvo\\98]\r\n\"Path\"=\"c:\\\\tarvo\"\r\n\r\n";
    static constexpr const char* kUserBlock =
        "\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Tarvo\\98]\r\n\"User\"=\"me\"\r\n\r\n";
};

TEST_F(RemoveSettingsTest, AfterKeyRemovalTheBlocksAreAppendedWithoutASecondHeader) {
    AddClassKey("CLSID\\{A}", "a");
    fennick.FoundKeys = {{"CLSID\\", "", "{A}", ""}};
    fennick.RemoveFoundKeys(kBackup);
    bool startNewFile = false;

    fennick.RemoveSettings(kBackup, startNewFile);

    EXPECT_EQ(File(), kHeader + Block("HKEY_CLASSES_ROOT\\CLSID\\{A}", "a") + kMachineBlock +
                          kUserBlock);
    EXPECT_FALSE(registry.KeyExists(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98"));
    EXPECT_FALSE(registry.KeyExists(kHkeyCurrentUser, "SOFTWARE\\Tarvo\\98"));
    EXPECT_TRUE(registry.KeyExists(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\Other"));
    EXPECT_EQ(commit.commits, 2);
}

TEST_F(RemoveSettingsTest, WithoutKeyRemovalAnOldFileIsReplacedWithTheClassesHeader) {
    File() = "an old backup";
    bool startNewFile = true;

    fennick.RemoveSettings(kBackup, startNewFile);

    EXPECT_EQ(File(), kHeader + kMachineBlock + kUserBlock);
    EXPECT_TRUE(startNewFile);
}

TEST_F(RemoveSettingsTest, The32BitNodeOfTheMachineGetsABlockOfItsOwn) {
    registry.SetWow64Node(true);
    registry.SetString(kHkeyLocalMachine, "SOFTWARE\\Wow6432Node\\Tarvo\\98", "Path", "c:\\t32");
    registry.SetString(kHkeyLocalMachine, "SOFTWARE\\Wow6432Node\\Tarvo\\97", "Keep", "yes");
    bool startNewFile = true;

    fennick.RemoveSettings(kBackup, startNewFile);

    EXPECT_EQ(File(), kHeader + kMachineBlock +
                          "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Tarvo\\98]\r\n"
                          "\"Path\"=\"c:\\\\t32\"\r\n\r\n" +
                          kUserBlock);
    EXPECT_FALSE(registry.KeyExists(kHkeyLocalMachine, "SOFTWARE\\Wow6432Node\\Tarvo\\98"));
    EXPECT_TRUE(registry.KeyExists(kHkeyLocalMachine, "SOFTWARE\\Wow6432Node\\Tarvo\\97"));
}

TEST_F(RemoveSettingsTest, MissingSettingsKeysGiveTwoEmptyLines) {
    bool startNewFile = true;
    fennick.RemoveSettings(kBackup, startNewFile);
    File().clear();
    fennick.RemoveSettings(kBackup, startNewFile);
    EXPECT_EQ(File(), kHeader + "\r\n\r\n");
    EXPECT_THAT(view.messages, IsEmpty());
}

TEST_F(RemoveSettingsTest, AFileToContinueThatIsGoneGetsItsHeaderBack) {
    bool startNewFile = false;
    fennick.RemoveSettings(kBackup, startNewFile);
    EXPECT_EQ(File(), kHeader + kMachineBlock + kUserBlock);
}

TEST_F(RemoveSettingsTest, AFailedWriteKeepsTheSettingsNotYetBackedUp) {
    files.writesBeforeDiscFull = 2;  // header and the machine's block
    bool startNewFile = true;

    fennick.RemoveSettings(kBackup, startNewFile);

    EXPECT_FALSE(registry.KeyExists(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98"));
    EXPECT_TRUE(registry.KeyExists(kHkeyCurrentUser, "SOFTWARE\\Tarvo\\98"));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_THAT(view.messages[0], HasSubstr("HKEY_CURRENT_USER\\SOFTWARE\\Tarvo\\98"));
}

TEST_F(RemoveSettingsTest, AFileThatCannotBeOpenedForAddingDeletesNothing) {
    files.appendFails = "Permission denied";
    bool startNewFile = false;

    fennick.RemoveSettings(kBackup, startNewFile);

    EXPECT_TRUE(registry.KeyExists(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98"));
    EXPECT_TRUE(registry.KeyExists(kHkeyCurrentUser, "SOFTWARE\\Tarvo\\98"));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_THAT(view.messages[0], HasSubstr("Permission denied"));
}

// --- The silent removal of the command line

class RemoveSuiteKeysTest : public RemovalTest {
protected:
    RemoveSuiteKeysTest() {
        for (const platform::HKEY hive : {kHkeyCurrentUser, kHkeyLocalMachine}) {
            for (const char* path :
                 {"Software\\Tarvo\\My App\\Sub", "Software\\Tarvo\\Other", "Software\\Zelk\\My App",
                  "Software\\Zelk\\Other", "Software\\Zelk Company\\Sub",
                  "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarvoNexbay",
                  "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarvoNexbay 98",
                  "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo Nexbay 1.0",
                  "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Another"}) {
                registry.SetString(hive, path, "", "x");
            }
        }
    }
    // The deletes of whole keys by their path from the hive's root, in order.
    std::vector<std::string> RootDeletes() const {
        std::vector<std::string> out;
        for (const std::string& event : log) {
            if (event.rfind("delete Software\\", 0) == 0) out.push_back(event.substr(7));
        }
        return out;
    }
};

TEST_F(RemoveSuiteKeysTest, DeletesTheTableInOrderAndTheUninstallKeysOnlyForTheMachine) {
    fennick.RemoveSuiteKeys("My App");

    const std::string uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    EXPECT_THAT(RootDeletes(),
                ElementsAre("Software\\Tarvo\\My App", "Software\\Zelk\\My App",
                            "Software\\Zelk Company", "Software\\Tarvo\\My App",
                            "Software\\Zelk\\My App", "Software\\Zelk Company",
                            uninstall + "TarvoNexbay", uninstall + "TarvoNexbay 98",
                            uninstall + "Tarvo Nexbay 1.0"));
    for (const platform::HKEY hive : {kHkeyCurrentUser, kHkeyLocalMachine}) {
        EXPECT_TRUE(registry.KeyExists(hive, "Software\\Tarvo\\Other"));
        EXPECT_TRUE(registry.KeyExists(hive, "Software\\Zelk\\Other"));
        EXPECT_TRUE(registry.KeyExists(hive, uninstall + "Another"));
    }
    EXPECT_TRUE(registry.KeyExists(kHkeyCurrentUser, uninstall + "TarvoNexbay"));
    EXPECT_THAT(view.messages, IsEmpty());
    EXPECT_EQ(commit.commits, 1);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(RemoveSuiteKeysTest, TheMachinesKeysGoInBothNodesTheUsersOnce) {
    registry.SetWow64Node(true);
    const std::string uninstall = "Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    for (const char* path : {"Tarvo\\My App", "Tarvo\\Other", "Zelk\\My App", "Zelk Company\\Sub"}) {
        registry.SetString(kHkeyLocalMachine, std::string("Software\\Wow6432Node\\") + path, "", "x");
    }
    registry.SetString(kHkeyLocalMachine, "Software\\Wow6432Node\\" + uninstall + "TarvoNexbay 98",
                       "", "x");

    fennick.RemoveSuiteKeys("My App");

    const std::string node = "Software\\Wow6432Node\\";
    EXPECT_THAT(RootDeletes(),
                ElementsAre("Software\\Tarvo\\My App", "Software\\Zelk\\My App",
                            "Software\\Zelk Company", "Software\\Tarvo\\My App",
                            "Software\\Zelk\\My App", "Software\\Zelk Company",
                            "Software\\" + uninstall + "TarvoNexbay",
                            "Software\\" + uninstall + "TarvoNexbay 98",
                            "Software\\" + uninstall + "Tarvo Nexbay 1.0", node + "Tarvo\\My App",
                            node + "Zelk\\My App", node + "Zelk Company",
                            node + uninstall + "TarvoNexbay 98"));
    EXPECT_TRUE(registry.KeyExists(kHkeyLocalMachine, node + "Tarvo\\Other"));
    EXPECT_THAT(view.messages, IsEmpty());
}

TEST_F(RemoveSuiteKeysTest, ACommandLineThatNamesNoKeyLeavesTheSettingsKeysWhole) {
    for (const char* commandLine : {"\\", "My App\\", "\\My App", "a\\\\b"}) {
        log.clear();
        view.messages.clear();
        fennick.RemoveSuiteKeys(commandLine);
        EXPECT_TRUE(registry.KeyExists(kHkeyCurrentUser, "Software\\Tarvo\\My App")) << commandLine;
        EXPECT_TRUE(registry.KeyExists(kHkeyLocalMachine, "Software\\Zelk\\My App")) << commandLine;
        ASSERT_EQ(view.messages.size(), 1u) << commandLine;
        EXPECT_THAT(view.messages[0], HasSubstr(commandLine));
    }
    // What does not depend on the command line is still removed.
    EXPECT_FALSE(registry.KeyExists(kHkeyCurrentUser, "Software\\Zelk Company"));
}

// A profile "Ωmega" (no Windows-1252 form): the narrow functions give its name out as "?mega",
// which finds nothing, so it stays and so does the key above it. That is said, key by key.
TEST_F(RemoveSuiteKeysTest, AKeyLeftByASubkeyTheCodePageCannotNameIsNamedInAReport) {
    registry.SetStringW(kHkeyCurrentUser, u"Software\\Tarvo\\My App\\\u03A9mega", u"", u"x");

    fennick.RemoveSuiteKeys("My App");

    EXPECT_TRUE(registry.KeyExists(kHkeyCurrentUser, "Software\\Tarvo\\My App"));
    EXPECT_FALSE(registry.KeyExists(kHkeyCurrentUser, "Software\\Tarvo\\My App\\Sub"));
    EXPECT_FALSE(registry.KeyExists(kHkeyLocalMachine, "Software\\Tarvo\\My App"));
    EXPECT_FALSE(registry.KeyExists(kHkeyCurrentUser, "Software\\Zelk\\My App"));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_THAT(view.messages[0], HasSubstr("still there"));
    EXPECT_THAT(view.messages[0], EndsWith("\nHKEY_CURRENT_USER\\Software\\Tarvo\\My App"));
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(RemoveSuiteKeysTest, AHiveWhoseRootDoesNotOpenIsLeftAlone) {
    faulty.FailOpen(kHkeyCurrentUser, "", platform::kErrorAccessDenied);

    fennick.RemoveSuiteKeys("My App");

    EXPECT_TRUE(registry.KeyExists(kHkeyCurrentUser, "Software\\Zelk Company"));
    EXPECT_FALSE(registry.KeyExists(kHkeyLocalMachine, "Software\\Zelk Company"));
}

}  // namespace
}  // namespace removal_test
