// The cleaning run without a window: a fake window records what the run shows and asks, and
// answers the questions from a script; the registry is in memory.
#include "cleaner/run/run.h"

#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "tests/cleaner/run/run_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cleaner::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kTime = "10:11:12";

struct ProgramEnded {};  // thrown by the fake window where the real one ends the process

class FakeWindow : public RunWindow {
public:
    // What happened, in order: "status:...", "hive:...", "ask:...", "text1:...", "refresh", ...
    std::vector<std::string> log;
    std::vector<std::string> statuses;
    std::vector<std::string> hives;
    std::vector<std::string> questions;
    std::vector<std::string> messages;
    std::deque<Answer> answers;  // the script; an unscripted question is answered Cancel
    std::function<void()> onDoEvents;
    int check1 = 1;
    int check2 = 0;
    std::string keyFile;
    std::string regFile;
    std::string text1 = "old start";
    std::string text2 = "old end";
    int doEventsCalls = 0;
    bool unloaded = false;
    bool ended = false;

    void UpdateRegistryHiveText(const std::string& text) override {
        hives.push_back(text);
        log.push_back("hive:" + text);
    }
    void UpdateStatusText(const std::string& text) override {
        statuses.push_back(text);
        log.push_back("status:" + text);
    }
    void UpdateKeywordText(const std::string&) override {}
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void ShowPlatformMessage(const std::string& text) override { messages.push_back(text); }
    void DoEvents() override {
        ++doEventsCalls;
        if (onDoEvents) {
            auto once = std::move(onDoEvents);
            onDoEvents = nullptr;
            once();
        }
    }
    int Check1Value() const override { return check1; }
    int Check2Value() const override { return check2; }
    std::string KeyFileText() const override { return keyFile; }
    std::string RegFileText() const override { return regFile; }
    void SetText1(const std::string& text) override {
        text1 = text;
        log.push_back("text1:" + text);
    }
    void SetText2(const std::string& text) override {
        text2 = text;
        log.push_back("text2:" + text);
    }
    std::string TimeOfDayText() override { return kTime; }
    void RefreshWindow() override { log.push_back("refresh"); }
    Answer Ask(const std::string& question) override {
        questions.push_back(question);
        log.push_back("ask:" + question);
        if (answers.empty()) {
            return Answer::Cancel;
        }
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void UnloadWindow() override { unloaded = true; }
    void EndProgram() override {
        ended = true;
        throw ProgramEnded{};
    }
};

constexpr auto kOk = RunWindow::Answer::Ok;
constexpr auto kCancel = RunWindow::Answer::Cancel;

class RunTest : public ::testing::Test {
protected:
    RunTest() {
        RegisterSuite(registry);
        RegisterOthers(registry);
        folder.Write("taRegKeywords.txt", "Tarvo\r\n");
        window.keyFile = folder.File("taRegKeywords.txt");
        window.regFile = folder.File("taDeletedRegKeys.reg");
    }

    std::string Backup() const { return folder.Read("taDeletedRegKeys.reg"); }

    TempFolder folder;
    platform::MemoryRegistry registry;
    FakeWindow window;
    modRegFuncs reg{registry, window};
    modFennick fennick{reg, window};
    FennickRun run{fennick, window};
};

TEST_F(RunTest, NeitherBoxTickedOnlyClearsAndResets) {
    window.check1 = 0;
    fennick.Keywords.push_back({"Stale", "{X}"});
    fennick.FoundKeys.push_back({"Stale", "", "", ""});

    run.cmdRemove_Click();

    EXPECT_THAT(window.log, ElementsAre("text1:", "text2:", "refresh"));
    EXPECT_TRUE(fennick.RunStarted);
    EXPECT_THAT(fennick.Keywords, IsEmpty());
    EXPECT_THAT(fennick.FoundKeys, IsEmpty());
    EXPECT_THAT(window.questions, IsEmpty());
    EXPECT_THAT(window.messages, IsEmpty());
    EXPECT_TRUE(SuiteClassesThere(registry) && SettingsThere(registry));
}

TEST_F(RunTest, BothOkRemovesKeysThenAppendsSettingsToTheSameBackup) {
    window.check2 = 1;
    window.answers = {kOk, kOk};
    folder.Write("taDeletedRegKeys.reg", "an old backup\r\n");

    run.cmdRemove_Click();

    EXPECT_THAT(window.statuses,
                ElementsAre(runtext::kSearchStarted, runtext::kSearchCompleted,
                            runtext::kRemoveKeysStarted, runtext::kRemoveKeysCompleted,
                            runtext::kRemoveSettingsStarted, runtext::kRemoveSettingsCompleted));
    EXPECT_THAT(window.hives, ElementsAre(kHiveClassesRoot, kHiveClsid, kHiveInterface,
                                          kHiveTypeLib));
    EXPECT_THAT(window.questions,
                ElementsAre(runtext::kAskRemoveKeys, runtext::kAskRemoveSettings));
    EXPECT_EQ(window.text1, kTime);
    EXPECT_EQ(window.text2, kTime);
    EXPECT_TRUE(SuiteClassesGone(registry));
    EXPECT_FALSE(registry.KeyExists(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98"));
    EXPECT_FALSE(registry.KeyExists(kHkeyCurrentUser, "SOFTWARE\\Tarvo\\98"));
    EXPECT_TRUE(OthersThere(registry));

    // Settings removal got the flag False: one header, the key blocks, then the settings.
    const std::string backup = Backup();
    EXPECT_EQ(backup.rfind("REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT]\r\n\r\n", 0), 0u);
    EXPECT_EQ(Count(backup, "REGEDIT4"), 1u);
    EXPECT_THAT(backup, ::testing::Not(HasSubstr("an old backup")));
    const auto classBlock = backup.find(kSuiteClsid);
    const auto settingsBlock = backup.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvo\\98");
    ASSERT_NE(classBlock, std::string::npos);
    ASSERT_NE(settingsBlock, std::string::npos);
    EXPECT_LT(classBlock, settingsBlock);
    EXPECT_THAT(backup, HasSubstr("[HKEY_CURRENT_USER\\SOFTWARE\\Tarvo\\98"));
}

TEST_F(RunTest, TheTimeFieldsAreWrittenAroundTheKeyBranch) {
    window.answers = {kOk};

    run.cmdRemove_Click();

    // Start time before the first status, a second repaint after it, end time after the keys.
    ASSERT_GE(window.log.size(), 6u);
    EXPECT_THAT(std::vector<std::string>(window.log.begin(), window.log.begin() + 6),
                ElementsAre("text1:", "text2:", "refresh", std::string("text1:") + kTime,
                            std::string("status:") + runtext::kSearchStarted, "refresh"));
    EXPECT_EQ(window.log.back(), std::string("text2:") + kTime);
    EXPECT_THAT(window.questions, ElementsAre(runtext::kAskRemoveKeys));
}

TEST_F(RunTest, CancelToTheKeysStillOffersSettingsWithANewBackup) {
    window.check2 = 1;
    window.answers = {kCancel, kOk};
    folder.Write("taDeletedRegKeys.reg", "an old backup\r\n");

    run.cmdRemove_Click();

    EXPECT_THAT(window.statuses,
                ElementsAre(runtext::kSearchStarted, runtext::kSearchCompleted,
                            runtext::kRemoveKeysCancelled, runtext::kRemoveSettingsStarted,
                            runtext::kRemoveSettingsCompleted));
    EXPECT_EQ(window.text2, kTime);
    EXPECT_TRUE(SuiteClassesThere(registry));
    EXPECT_FALSE(registry.KeyExists(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98"));

    // The flag stayed True: the old file is gone and a header of its own begins the new one.
    const std::string backup = Backup();
    EXPECT_EQ(backup.rfind("REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT]\r\n\r\n", 0), 0u);
    EXPECT_THAT(backup, ::testing::Not(HasSubstr("an old backup")));
    EXPECT_THAT(backup, ::testing::Not(HasSubstr(kSuiteClsid)));
    EXPECT_THAT(backup, HasSubstr("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvo\\98"));
}

TEST_F(RunTest, CancelToBothDeletesNothing) {
    window.check2 = 1;
    window.answers = {kCancel, kCancel};

    run.cmdRemove_Click();

    EXPECT_THAT(window.statuses,
                ElementsAre(runtext::kSearchStarted, runtext::kSearchCompleted,
                            runtext::kRemoveKeysCancelled, runtext::kRemoveSettingsCancelled));
    EXPECT_TRUE(SuiteClassesThere(registry) && SettingsThere(registry) && OthersThere(registry));
    EXPECT_FALSE(folder.Exists("taDeletedRegKeys.reg"));
}

TEST_F(RunTest, OnlySettingsReadsNoKeywordsAndStartsANewBackup) {
    window.check1 = 0;
    window.check2 = 1;
    window.keyFile = folder.File("no such keywords.txt");
    window.answers = {kOk};
    folder.Write("taDeletedRegKeys.reg", "an old backup\r\n");

    run.cmdRemove_Click();

    EXPECT_THAT(window.statuses,
                ElementsAre(runtext::kRemoveSettingsStarted, runtext::kRemoveSettingsCompleted));
    EXPECT_THAT(window.questions, ElementsAre(runtext::kAskRemoveSettings));
    EXPECT_EQ(window.text1, "");
    EXPECT_EQ(window.text2, "");
    EXPECT_THAT(window.hives, IsEmpty());  // no search ran
    EXPECT_TRUE(SuiteClassesThere(registry));
    EXPECT_EQ(Backup().rfind("REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT]\r\n\r\n", 0), 0u);
    EXPECT_THAT(Backup(), ::testing::Not(HasSubstr("an old backup")));
}

TEST_F(RunTest, AMissingKeywordFileSkipsTheKeyBranchButNotTheSettings) {
    window.check2 = 1;
    window.keyFile = folder.File("missing.txt");
    window.answers = {kCancel};

    run.cmdRemove_Click();

    // The loader's own status, then straight to the settings question.
    EXPECT_THAT(window.statuses,
                ElementsAre("Error opening keywords file", runtext::kRemoveSettingsCancelled));
    EXPECT_THAT(window.questions, ElementsAre(runtext::kAskRemoveSettings));
    EXPECT_THAT(window.hives, IsEmpty());
    EXPECT_EQ(window.text1, "");
    EXPECT_EQ(window.text2, "");
    EXPECT_TRUE(SuiteClassesThere(registry) && SettingsThere(registry));
}

TEST_F(RunTest, AGreyedCheckBoxCountsAsTicked) {
    window.check1 = 2;
    window.answers = {kCancel};

    run.cmdRemove_Click();

    EXPECT_THAT(window.questions, ElementsAre(runtext::kAskRemoveKeys));
}

TEST_F(RunTest, CancelDuringASearchEndsTheProgramThere) {
    window.check2 = 1;
    window.answers = {kOk, kOk};
    window.onDoEvents = [this] { run.cmdCancel_Click(); };

    EXPECT_THROW(run.cmdRemove_Click(), ProgramEnded);

    EXPECT_TRUE(window.unloaded);
    EXPECT_TRUE(window.ended);
    EXPECT_THAT(window.statuses, ElementsAre(runtext::kSearchStarted));
    EXPECT_THAT(window.questions, IsEmpty());
    EXPECT_EQ(window.text2, "");
    EXPECT_TRUE(SuiteClassesThere(registry) && SettingsThere(registry));
    EXPECT_FALSE(run.Running());
}

TEST_F(RunTest, CancelWhenIdleUnloadsAndEnds) {
    EXPECT_THROW(run.cmdCancel_Click(), ProgramEnded);
    EXPECT_TRUE(window.unloaded);
    EXPECT_FALSE(fennick.RunStarted);
}

TEST_F(RunTest, ASecondPressDuringARunIsIgnored) {
    window.answers = {kCancel};
    std::size_t logSizeAtPress = 0;
    std::size_t logSizeAfterPress = 0;
    window.onDoEvents = [&] {
        EXPECT_TRUE(run.Running());
        logSizeAtPress = window.log.size();
        run.cmdRemove_Click();
        logSizeAfterPress = window.log.size();
    };

    run.cmdRemove_Click();

    EXPECT_EQ(logSizeAtPress, logSizeAfterPress);  // the nested press did nothing at all
    EXPECT_THAT(window.questions, ElementsAre(runtext::kAskRemoveKeys));
    EXPECT_FALSE(run.Running());

    // The lists are those of one run, not doubled by the nested press.
    const auto oneRunFinds = fennick.FoundKeys.size();
    window.answers = {kCancel};
    run.cmdRemove_Click();
    EXPECT_EQ(fennick.FoundKeys.size(), oneRunFinds);
}

TEST_F(RunTest, ASecondRunStartsFromEmptyLists) {
    folder.Write("taRegKeywords.txt", "Tarvo\r\nLedger\r\n");
    window.answers = {kCancel};
    run.cmdRemove_Click();
    const auto firstFinds = fennick.FoundKeys;
    ASSERT_FALSE(firstFinds.empty());
    ASSERT_EQ(fennick.Keywords.size(), 2u);
    EXPECT_EQ(fennick.FoundKeyCount(), static_cast<std::int32_t>(firstFinds.size()));

    window.answers = {kCancel};
    run.cmdRemove_Click();

    EXPECT_EQ(fennick.Keywords.size(), 2u);
    EXPECT_EQ(fennick.FoundKeyCount(), static_cast<std::int32_t>(firstFinds.size()));
    ASSERT_EQ(fennick.FoundKeys.size(), firstFinds.size());
    for (std::size_t i = 0; i < firstFinds.size(); ++i) {
        EXPECT_EQ(fennick.FoundKeys[i].Branch, firstFinds[i].Branch);
        EXPECT_EQ(fennick.FoundKeys[i].SubKey, firstFinds[i].SubKey);
        EXPECT_EQ(fennick.FoundKeys[i].TypeLibId, firstFinds[i].TypeLibId);
    }

    // And a second run with OK removes what the first left.
    window.answers = {kOk};
    run.cmdRemove_Click();
    EXPECT_TRUE(SuiteClassesGone(registry));
    EXPECT_TRUE(OthersThere(registry));
}

TEST_F(RunTest, TreesTheBackupCannotHoldAreKeptAndNamedOnceAfterTheBackupHasEnded) {
    registry.SetString(kHkeyClassesRoot, "Tarvo.Ledger\\Line\nBreak", "", "x");
    folder.Write("taDeletedRegKeys.reg", "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\Tarvo.Old]\r\n\r\n");
    window.answers = {kOk};

    run.cmdRemove_Click();

    // The backup's own last word (where the older file went) comes first.
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_THAT(window.messages[0], HasSubstr("it is kept as"));
    EXPECT_THAT(window.messages[1], HasSubstr("These keys were not deleted"));
    EXPECT_THAT(window.messages[1], HasSubstr("\nHKEY_CLASSES_ROOT\\Tarvo.Ledger\n"));
    EXPECT_TRUE(registry.KeyExists(kHkeyClassesRoot, "Tarvo.Ledger\\Line\nBreak"));
    EXPECT_FALSE(registry.KeyExists(kHkeyClassesRoot, ClsidKey(kSuiteClsid)));
}

// Windows' class keys that TrustedInstaller owns grant administrators reads only. A run opens
// keys for what it does with them: every key it only reads is read without a word, the keys the
// user may delete go, and what really refuses (a key that cannot be read, one that cannot be
// deleted) is reported, once.
TEST_F(RunTest, ReadOnlyKeysAreSearchedAndExportedWithoutABoxAndOnlyWhatRefusesIsReported) {
    constexpr platform::DWORD kAllAccess = 0xF003F;
    registry.GrantOnly(kHkeyClassesRoot, "", platform::kKeyRead);
    for (const std::string& suiteKey : {std::string("Tarvo.Ledger"), ClsidKey(kSuiteClsid),
                                        LibidKey(kSuiteLibid)}) {
        registry.GrantOnly(kHkeyClassesRoot, suiteKey, kAllAccess);
    }
    registry.GrantOnly(kHkeyClassesRoot, ClsidKey(kOtherClsid), 0);  // not even readable
    window.answers = {kOk};

    run.cmdRemove_Click();

    // The interface is in FoundKeys twice (duplicates stay), so its delete is refused twice.
    const std::string unreadable =
        "Open Reg:CLSID\\" + std::string(kOtherClsid) + " -  5 - Access is denied.\r\n";
    const std::string undeletable =
        "Open Reg:INTERFACE\\" + std::string(kSuiteIid) + " -  5 - Access is denied.\r\n";
    EXPECT_THAT(window.messages, ElementsAre(unreadable, undeletable, undeletable));
    EXPECT_FALSE(registry.KeyExists(kHkeyClassesRoot, "Tarvo.Ledger"));
    EXPECT_FALSE(registry.KeyExists(kHkeyClassesRoot, ClsidKey(kSuiteClsid)));
    EXPECT_FALSE(registry.KeyExists(kHkeyClassesRoot, LibidKey(kSuiteLibid)));
    EXPECT_TRUE(registry.KeyExists(kHkeyClassesRoot, IidKey(kSuiteIid)));
    EXPECT_THAT(Backup(), HasSubstr("[HKEY_CLASSES_ROOT\\INTERFACE\\" + std::string(kSuiteIid) + "]"));
    EXPECT_TRUE(OthersThere(registry));
}

// The registry's files as another program leaves them: reading them again can bring in what it
// wrote, or be refused.
class FakeStore : public RunStore {
public:
    std::function<void()> onRefresh;
    std::string refusal;
    std::vector<std::string> backupFiles;

    void Refresh() override {
        if (!refusal.empty()) throw std::runtime_error(refusal);
        if (onRefresh) onRefresh();
    }
    void UseBackupFile(const std::string& path) override { backupFiles.push_back(path); }
    bool Failed() const override { return false; }
};

TEST_F(RunTest, EachRunStartsFromTheRegistryOnDiscAndTellsTheStoreItsBackup) {
    FakeStore store;
    run.UseStore(store);
    window.check2 = 1;
    window.answers = {kOk, kOk};
    store.onRefresh = [&] { registry.SetString(kHkeyClassesRoot, "Tarvo.Late", "", "Tarvo Late"); };

    run.cmdRemove_Click();

    EXPECT_FALSE(registry.KeyExists(kHkeyClassesRoot, "Tarvo.Late"));
    EXPECT_THAT(Backup(), HasSubstr("[HKEY_CLASSES_ROOT\\Tarvo.Late]"));
    EXPECT_THAT(store.backupFiles, ElementsAre(window.regFile, window.regFile));
}

TEST_F(RunTest, ARefusedStoreIsReportedAndTheRunDoesNothing) {
    FakeStore store;
    run.UseStore(store);
    window.check2 = 1;
    window.answers = {kOk, kOk};
    store.refusal = "The Wine server of the prefix \"/p\" is running.";

    run.cmdRemove_Click();

    EXPECT_THAT(window.messages, ElementsAre("The Wine server of the prefix \"/p\" is running.\n"
                                             "Nothing was deleted."));
    EXPECT_THAT(window.log, IsEmpty());
    EXPECT_FALSE(run.Running());
    EXPECT_TRUE(SuiteClassesThere(registry) && SettingsThere(registry));
    EXPECT_FALSE(folder.Exists("taDeletedRegKeys.reg"));
}

}  // namespace
}  // namespace cleaner::test
