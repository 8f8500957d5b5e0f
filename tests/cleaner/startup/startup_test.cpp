// The start-up's decisions with a platform of the test's own (the command-line text, the help,
// a refused prefix, where reports go, what is kept), on prefixes in temporary folders; and the
// program itself, with the Linux platform it links.
#include "cleaner/linux/linux_platform.h"
#include "cleaner/startup/startup.h"
#include "cleaner/startup/store_commit.h"
#include "cleaner/startup/usage.h"
#include "platform/registry/text.h"
#include "tests/cleaner/startup/prefix_files.h"
#include "tests/cleaner/search/removal_fakes.h"
#include "tests/support/run_program.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <utility>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef SORVEL_PROGRAM
#error "SORVEL_PROGRAM must name the sorvel program"
#endif

namespace removal_test {
namespace {

using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

const char* const kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The suite's keys in both hives, and neighbours that must stay.
void AddSuiteKeys(platform::MemoryRegistry& registry) {
    for (const platform::HKEY hive : {kHkeyCurrentUser, kHkeyLocalMachine}) {
        registry.SetString(hive, "Software\\Tarvo\\My App\\Options", "Level", "3");
        registry.SetString(hive, "Software\\Tarvo\\Other", "Keep", "yes");
        registry.SetString(hive, "Software\\Zelk\\My App", "", "zelk");
        registry.SetString(hive, "Software\\Zelk Company\\Anything", "", "x");
        registry.SetString(hive, std::string(kUninstall) + "TarvoNexbay 98", "DisplayName", "T");
    }
}

// A registry in memory whose saves can be made to fail, and which counts what is asked of it.
class FakeStore : public cleaner::RegistryStore {
public:
    platform::MemoryRegistry registry;
    std::string saveFails;  // the store's message; empty: saves succeed
    int saves = 0;
    int refreshes = 0;

    platform::RegistryApi& Registry() override { return registry; }
    void Refresh() override { ++refreshes; }
    bool HasChanges() const override { return true; }
    void Save() override {
        if (!saveFails.empty()) throw std::runtime_error(saveFails);
        ++saves;
    }
};

// The test's platform: records what the start-up writes, shows and asks for.
class TestPlatform : public cleaner::StartupPlatform {
public:
    std::string commandLine;
    std::function<std::unique_ptr<cleaner::RegistryStore>()> open;
    std::function<std::unique_ptr<cleaner::MainWindow>()> makeWindow;
    std::string windowProblem;  // empty: boxes and the window can be shown
    std::string output;
    std::string errors;
    std::vector<std::string> reports;
    int opens = 0;
    EventLog fileLog;
    FakeFiles files{fileLog};

    std::string CommandLine() override { return commandLine; }
    void WriteOutput(const std::string& text) override { output += text; }
    void WriteError(const std::string& text) override { errors += text; }
    std::unique_ptr<cleaner::RegistryStore> OpenRegistry() override {
        ++opens;
        return open();
    }
    platform::BackupFiles& BackupFiles() override { return files; }
    std::string WindowProblem() override { return windowProblem; }
    void ShowReport(const std::string& text) override { reports.push_back(text); }
    void ProcessEvents() override {}
    std::unique_ptr<cleaner::MainWindow> CreateMainWindow() override { return makeWindow(); }
    void EndProgram(int) override {}
};

TEST(StartupCommandLineTextTest, JoinsTheArgumentsInTheNarrowCodePage) {
    const char* none[] = {"sorvel"};
    EXPECT_EQ(cleaner::CommandLineText(1, none), "");
    const char* words[] = {"sorvel", "My", "App"};
    EXPECT_EQ(cleaner::CommandLineText(3, words), "My App");
    const char* blanks[] = {"sorvel", " a  b "};
    EXPECT_EQ(cleaner::CommandLineText(2, blanks), " a  b ");
    // UTF-8 arguments become Windows-1252; what the code page lacks becomes '?', one for each
    // UTF-16 unit, and so does each byte that is not UTF-8.
    const char* text[] = {"sorvel", "Prod\xC3\xBC" "kt \xE2\x82\xAC",
                          "\xD0\x96\xFF\xF0\x9F\x98\x80\xC3"};
    EXPECT_EQ(cleaner::CommandLineText(3, text), "Prod\xFCkt \x80 ?????");
}

TEST(StartupTextTest, Utf8AndUtf16ConvertEveryScalarValueAndOnlyThose) {
    using platform::text::Utf16ToUtf8;
    using platform::text::Utf8ToUtf16;
    const std::u16string text = u"caf\u00E9 \u20AC \U0001F600";
    EXPECT_EQ(Utf16ToUtf8(text), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
    EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");  // a surrogate without its partner
    // An overlong sequence and an encoded surrogate: one U+FFFD for each byte.
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF\xED\xA0\x80"), std::u16string(5, u'\uFFFD'));
}

TEST(StartupRequestTest, OnlyTheHelpAndVersionOptionsAndOtherOptionsAreNotARemoval) {
    using cleaner::Request;
    for (const char* help : {"--help", "-h", "/?", " --help "}) {
        EXPECT_EQ(cleaner::RequestOf(help), Request::Usage) << help;
    }
    EXPECT_EQ(cleaner::RequestOf("--version"), Request::Version);
    EXPECT_EQ(cleaner::RequestOf("--verbose"), Request::UnknownOption);
    EXPECT_EQ(cleaner::RequestOf("--clean --settings"), Request::Unattended);
    EXPECT_EQ(cleaner::RequestOf(" --preview"), Request::Unattended);
    EXPECT_EQ(cleaner::RequestOf("--cleaner"), Request::UnknownOption);
    // Their words, as a Windows command line holds them.
    EXPECT_EQ(cleaner::CommandLineWords(R"(--clean  --keywords "C:\My Files\k.txt" a\\\"b "c d")"),
              (std::vector<std::string>{"--clean", "--keywords", R"(C:\My Files\k.txt)",
                                        R"(a\"b)", "c d"}));
    EXPECT_EQ(cleaner::RequestOf(""), Request::Window);
    // What the suite's uninstaller passes: a subkey's name, whatever it holds.
    for (const char* name : {"Nexbay 3", "98", " ", "-", "-x", "My --help", "/"}) {
        EXPECT_EQ(cleaner::RequestOf(name), Request::SuiteRemoval) << name;
    }
}

class StartupCommandLineTest : public ::testing::Test {
protected:
    StartupCommandLineTest() {
        prefix.Change(AddSuiteKeys);
        platform.open = [this] { return cleaner::OpenWinePrefix(prefix.Path()); };
    }

    int Run(const std::string& commandLine) {
        platform.commandLine = commandLine;
        return cleaner::Startup(platform);
    }

    TempPrefix prefix;
    TestPlatform platform;
};

TEST_F(StartupCommandLineTest, RemovesTheSuiteKeysAndSavesThePrefix) {
    EXPECT_EQ(Run("My App"), cleaner::kExitDone);

    EXPECT_EQ(platform.errors, "");
    EXPECT_THAT(platform.reports, IsEmpty());
    for (const platform::HKEY hive : {kHkeyCurrentUser, kHkeyLocalMachine}) {
        EXPECT_FALSE(prefix.KeyExists(hive, "Software\\Tarvo\\My App"));
        EXPECT_FALSE(prefix.KeyExists(hive, "Software\\Zelk\\My App"));
        EXPECT_FALSE(prefix.KeyExists(hive, "Software\\Zelk Company"));
        EXPECT_TRUE(prefix.KeyExists(hive, "Software\\Tarvo\\Other"));
    }
    EXPECT_TRUE(prefix.KeyExists(kHkeyCurrentUser, std::string(kUninstall) + "TarvoNexbay 98"));
    EXPECT_FALSE(prefix.KeyExists(kHkeyLocalMachine, std::string(kUninstall) + "TarvoNexbay 98"));
}

TEST_F(StartupCommandLineTest, AMissingPrefixIsReportedOnTheErrorStream) {
    const std::string missing = prefix.Path() + "/nothing";
    platform.open = [&] { return cleaner::OpenWinePrefix(missing); };
    EXPECT_EQ(Run("My App"), cleaner::kExitFailed);
    EXPECT_THAT(platform.errors, StartsWith("sorvel: "));
    EXPECT_THAT(platform.errors, HasSubstr(missing));
    EXPECT_THAT(platform.reports, IsEmpty());
}

TEST_F(StartupCommandLineTest, APrefixInUseIsRefusedAndNothingIsDeleted) {
    const std::string systemBefore = prefix.Read("system.reg");
    const std::string userBefore = prefix.Read("user.reg");
    {
        const auto other = platform::WinePrefixStore::Open(prefix.Path());
        EXPECT_EQ(Run("My App"), cleaner::kExitFailed);
    }
    EXPECT_THAT(platform.errors, HasSubstr(prefix.Path()));
    EXPECT_EQ(prefix.Read("system.reg"), systemBefore);
    EXPECT_EQ(prefix.Read("user.reg"), userBefore);
}

TEST_F(StartupCommandLineTest, ReportsMakeTheExitStatusSaySoAndTheRestIsStillSaved) {
    EXPECT_EQ(Run("\\"), cleaner::kExitReported);
    ASSERT_EQ(platform.reports.size(), 1u);
    EXPECT_TRUE(prefix.KeyExists(kHkeyCurrentUser, "Software\\Tarvo\\My App"));
    EXPECT_FALSE(prefix.KeyExists(kHkeyCurrentUser, "Software\\Zelk Company"));
}

// A registry whose keys cannot be opened for a reason nobody expects.
class BrokenRegistry : public platform::MemoryRegistry {
public:
    platform::LONG RegOpenKeyExA(platform::HKEY, const char*, platform::DWORD, platform::DWORD,
                                 platform::HKEY*) override {
        throw std::runtime_error("out of memory");
    }
};

TEST(StartupReportsTest, WithoutBoxesReportsAreUtf8LinesOnTheErrorStream) {
    TestPlatform platform;
    platform.windowProblem = "no display";
    platform.open = [] { return std::make_unique<FakeStore>(); };
    EXPECT_EQ(cleaner::RunCommandLine(platform, "caf\xE9\\"), cleaner::kExitReported);
    EXPECT_EQ(platform.errors, "sorvel: The command line \"caf\xC3\xA9\\\" does not name a key, so "
                               "nothing below Software\\Tarvo and Software\\Zelk was deleted.\n");

    // The unexpected-failure report breaks its line with a CR alone: a line end on a terminal.
    struct BrokenStore : FakeStore {
        BrokenRegistry broken;
        platform::RegistryApi& Registry() override { return broken; }
    };
    platform.errors.clear();
    platform.open = [] { return std::make_unique<BrokenStore>(); };
    cleaner::RunCommandLine(platform, "My App");
    EXPECT_THAT(platform.errors, HasSubstr("(out of memory)\nPlease exit and try again.\n"));
    EXPECT_EQ(platform.errors.find('\r'), std::string::npos);
    EXPECT_THAT(platform.reports, IsEmpty());
}

TEST(StartupReportsTest, AFailedSaveIsWrittenOnceAndFailsTheRun) {
    TestPlatform platform;
    platform.open = [] {
        auto store = std::make_unique<FakeStore>();
        store->saveFails = "Could not save system.reg: the prefix is read-only";
        return store;
    };
    EXPECT_EQ(cleaner::RunCommandLine(platform, "My App"), cleaner::kExitFailed);
    EXPECT_EQ(platform.errors, "sorvel: Could not save system.reg: the prefix is read-only\n");
}

TEST(StartupStoreCommitTest, AFailureIsReportedOnceUntilASaveOrARefreshAndNamesTheBackup) {
    FakeStore store;
    store.saveFails = "the disc is full";
    std::vector<std::string> reports;
    cleaner::StoreCommit commit(store, [&](const std::string& text) { reports.push_back(text); });

    commit.UseBackupFile("taDeletedRegKeys.reg");
    commit.CommitRegistry();
    EXPECT_FALSE(commit.Save());
    EXPECT_TRUE(commit.Failed());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "the disc is full\nKeys that this run took out of a file that was not "
                          "saved are still in that file. Every key it took out is also in its "
                          "backup file \"taDeletedRegKeys.reg\".");

    commit.Refresh();  // a new run, with no backup yet
    EXPECT_FALSE(commit.Save());
    EXPECT_EQ(reports.back(), "the disc is full");
    store.saveFails.clear();
    EXPECT_TRUE(commit.Save());
    EXPECT_FALSE(commit.Failed());
    EXPECT_EQ(store.saves, 1);
    EXPECT_EQ(reports.size(), 2u);
}

// --- The window mode

// The fake store, kept by the test beyond the start-up's end.
class LentStore : public cleaner::RegistryStore {
public:
    explicit LentStore(FakeStore& store) : store_(store) {}
    platform::RegistryApi& Registry() override { return store_.Registry(); }
    void Refresh() override { store_.Refresh(); }
    bool HasChanges() const override { return store_.HasChanges(); }
    void Save() override { store_.Save(); }

private:
    FakeStore& store_;
};

// A window that, once shown, makes one run that removes only the settings, answering OK.
class OneRunWindow : public cleaner::MainWindow {
public:
    explicit OneRunWindow(std::vector<std::string>& messages,
                          std::string regFile = "/backups/taDeletedRegKeys.reg")
        : messages_(messages), regFile_(std::move(regFile)) {}

    void Attach(cleaner::FennickRun& run) override { run_ = &run; }
    void SetEnder(std::function<void(int)>) override {}
    int Exec() override {
        run_->cmdRemove_Click();
        return 0;
    }
    void ShowPlatformMessage(const std::string& text) override { messages_.push_back(text); }
    void ShowMessage(const std::string& text) override { messages_.push_back(text); }
    void DoEvents() override {}
    void UpdateRegistryHiveText(const std::string&) override {}
    void UpdateStatusText(const std::string&) override {}
    void UpdateKeywordText(const std::string&) override {}
    int Check1Value() const override { return 0; }
    int Check2Value() const override { return 1; }
    std::string KeyFileText() const override { return "taRegKeywords.txt"; }
    std::string RegFileText() const override { return regFile_; }
    void SetText1(const std::string&) override {}
    void SetText2(const std::string&) override {}
    std::string TimeOfDayText() override { return "10:11:12"; }
    void RefreshWindow() override {}
    Answer Ask(const std::string&) override { return Answer::Ok; }
    void UnloadWindow() override {}
    void EndProgram() override {}

private:
    std::vector<std::string>& messages_;
    std::string regFile_;
    cleaner::FennickRun* run_ = nullptr;
};

TEST(StartupWindowModeTest, ARunReadsTheStoreAgainAndARefusedSaveNamesTheBackupOnce) {
    FakeStore store;
    store.registry.SetString(kHkeyCurrentUser, "SOFTWARE\\Tarvo\\98", "Left", "120");
    store.saveFails = "user.reg was changed by another program since it was read.";
    std::vector<std::string> messages;
    TestPlatform platform;
    platform.open = [&] { return std::make_unique<LentStore>(store); };
    platform.makeWindow = [&] { return std::make_unique<OneRunWindow>(messages); };

    // The run's save is refused, and so is the save as the program ends: one message.
    EXPECT_EQ(cleaner::RunWindowMode(platform), cleaner::kExitFailed);
    EXPECT_EQ(store.refreshes, 1);
    EXPECT_THAT(platform.files.files[std::string("/backups/taDeletedRegKeys.reg")],
                HasSubstr("[HKEY_CURRENT_USER\\SOFTWARE\\Tarvo\\98]"));
    EXPECT_THAT(messages, ::testing::ElementsAre(
                              "user.reg was changed by another program since it was read.\n"
                              "Keys that this run took out of a file that was not saved are "
                              "still in that file. Every key it took out is also in its backup "
                              "file \"/backups/taDeletedRegKeys.reg\"."));
}

// The run knows the prefix it works on: a backup named as one of its registry files is refused
// and nothing is deleted.
TEST(StartupWindowModeTest, ABackupNamedAsThePrefixsRegistryFileIsRefused) {
    TempPrefix prefix;
    prefix.Change([](platform::MemoryRegistry& registry) {
        registry.SetString(kHkeyCurrentUser, "Software\\Tarvo\\98", "Left", "120");
    });
    const std::string userReg = prefix.Read("user.reg");
    std::vector<std::string> messages;
    TestPlatform platform;
    platform.open = [&] { return cleaner::OpenWinePrefix(prefix.Path()); };
    platform.makeWindow = [&] {
        return std::make_unique<OneRunWindow>(messages, prefix.Path() + "/./user.reg");
    };
    EXPECT_EQ(cleaner::RunWindowMode(platform), 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_THAT(messages[0], HasSubstr("is a registry file of the Wine prefix"));
    EXPECT_TRUE(platform.files.files.empty());
    EXPECT_EQ(prefix.Read("user.reg"), userReg);
    EXPECT_TRUE(prefix.KeyExists(kHkeyCurrentUser, "Software\\Tarvo\\98"));
}

// A run with both boxes ticked whose first question finds the prefix changed on disc (another
// program imported a file while it was open).
class ChangedAtTheQuestionWindow : public OneRunWindow {
public:
    ChangedAtTheQuestionWindow(std::vector<std::string>& messages,
                               std::vector<std::string>& questions, const TempPrefix& prefix)
        : OneRunWindow(messages), questions_(questions), prefix_(prefix) {}

    int Check1Value() const override { return 1; }
    std::string KeyFileText() const override { return prefix_.Path() + "/taRegKeywords.txt"; }
    Answer Ask(const std::string& question) override {
        if (questions_.empty()) std::ofstream(prefix_.Path() + "/system.reg", std::ios::app) << "\n";
        questions_.push_back(question);
        return Answer::Ok;
    }

private:
    std::vector<std::string>& questions_;
    const TempPrefix& prefix_;
};

// The save is refused, so nothing was removed from the prefix: the message says so and does not
// claim the backup is the only copy, and the settings are not asked about, since the run could
// not keep what it removed.
TEST(StartupWindowModeTest, ASaveRefusedAtTheQuestionSaysWhatIsTrueAndAsksNoMore) {
    TempPrefix prefix;
    prefix.Change([](platform::MemoryRegistry& registry) {
        registry.SetString(kHkeyLocalMachine, "Software\\Classes\\Tarvo.Ledger", "", "Ledger");
        registry.SetString(kHkeyLocalMachine, "Software\\Tarvo\\98", "Seats", "5");
    });
    std::ofstream(prefix.Path() + "/taRegKeywords.txt") << "Tarvo\r\n";
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    TestPlatform platform;
    platform.open = [&] { return cleaner::OpenWinePrefix(prefix.Path()); };
    platform.makeWindow = [&] {
        return std::make_unique<ChangedAtTheQuestionWindow>(messages, questions, prefix);
    };

    EXPECT_EQ(cleaner::RunWindowMode(platform), cleaner::kExitFailed);
    EXPECT_THAT(questions, ::testing::ElementsAre(cleaner::runtext::kAskRemoveKeys));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_THAT(messages[0], StartsWith("Nothing was saved: "));
    EXPECT_THAT(messages[0], HasSubstr("still in that file"));
    EXPECT_THAT(messages[0], Not(HasSubstr("Every key this run removed")));
    EXPECT_TRUE(prefix.KeyExists(kHkeyLocalMachine, "Software\\Classes\\Tarvo.Ledger"));
    EXPECT_TRUE(prefix.KeyExists(kHkeyLocalMachine, "Software\\Tarvo\\98"));
    EXPECT_THAT(platform.files.files["/backups/taDeletedRegKeys.reg"],
                HasSubstr("[HKEY_CLASSES_ROOT\\Tarvo.Ledger]"));
}

TEST(StartupWindowModeTest, WithoutAWindowBothTheProblemAndARefusalGoToTheErrorStream) {
    TestPlatform platform;
    platform.open = []() -> std::unique_ptr<cleaner::RegistryStore> {
        throw std::runtime_error("The Wine prefix \"/nowhere\" does not exist.");
    };
    platform.windowProblem = "cannot open the display \":97\"";
    EXPECT_EQ(cleaner::Startup(platform), cleaner::kExitFailed);
    EXPECT_EQ(platform.errors, "sorvel: The Wine prefix \"/nowhere\" does not exist.\n"
                               "sorvel: cannot open the display \":97\"\n");
    platform.windowProblem.clear();
    EXPECT_EQ(cleaner::Startup(platform), cleaner::kExitFailed);
    EXPECT_THAT(platform.reports, ::testing::ElementsAre(
                                      "The Wine prefix \"/nowhere\" does not exist."));
}

// --- The program

using Environment = std::map<std::string, std::optional<std::string>>;

class StartupProgramTest : public ::testing::Test {
protected:
    StartupProgramTest() { prefix.Change(AddSuiteKeys); }

    TempPrefix prefix;
};

TEST_F(StartupProgramTest, HelpPrintsTheUsageAndDeletesNothing) {
    for (const char* help : {"--help", "-h", "/?", "--version"}) {
        const ProgramResult result = RunProgram(SORVEL_PROGRAM, {help},
                                                {{"WINEPREFIX", prefix.Path()}, {"DISPLAY", {}}});
        EXPECT_EQ(result.status, 0) << help;
        EXPECT_THAT(result.output, StartsWith(help == std::string("--version") ? "sorvel 0."
                                                                              : "Usage: sorvel\n"));
        EXPECT_EQ(result.errors, "");
    }
    const ProgramResult unknown = RunProgram(SORVEL_PROGRAM, {"--verbose"},
                                             {{"WINEPREFIX", prefix.Path()}, {"DISPLAY", {}}});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_THAT(unknown.errors, HasSubstr("unknown option \"--verbose\"; nothing was deleted."));
    EXPECT_TRUE(prefix.KeyExists(kHkeyLocalMachine, "Software\\Zelk Company"));
    EXPECT_TRUE(prefix.KeyExists(kHkeyLocalMachine, std::string(kUninstall) + "TarvoNexbay 98"));
}

TEST_F(StartupProgramTest, TheProgramRunsWithoutAWindowAndWithoutADisplay) {
    // A display that is not there: a program that tried to show anything would fail on it.
    const ProgramResult result =
        RunProgram(SORVEL_PROGRAM, {"My", "App"},
                   {{"WINEPREFIX", prefix.Path()}, {"DISPLAY", ":97"}, {"WAYLAND_DISPLAY", {}}});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(result.errors, "");
    EXPECT_FALSE(prefix.KeyExists(kHkeyLocalMachine, "Software\\Tarvo\\My App"));
    EXPECT_TRUE(prefix.KeyExists(kHkeyLocalMachine, "Software\\Tarvo\\Other"));
}

TEST_F(StartupProgramTest, TheProgramWritesARefusalToStandardError) {
    const std::string missing = prefix.Path() + "/nothing";
    const ProgramResult result = RunProgram(
        SORVEL_PROGRAM, {"x"},
        {{"WINEPREFIX", missing}, {"DISPLAY", {}}, {"WAYLAND_DISPLAY", {}}});
    EXPECT_EQ(result.status, cleaner::kExitFailed);
    EXPECT_THAT(result.errors, HasSubstr(missing));
}

TEST_F(StartupProgramTest, WithoutADisplayTheWindowModeSaysWhyAndDeletesNothing) {
    const Environment noDisplay = {{"WINEPREFIX", prefix.Path()}, {"DISPLAY", {}},
                                   {"WAYLAND_DISPLAY", {}}, {"QT_QPA_PLATFORM", {}}};
    ProgramResult result = RunProgram(SORVEL_PROGRAM, {}, noDisplay);
    EXPECT_EQ(result.status, 1) << result.errors;  // an ordinary end, not an abort
    EXPECT_THAT(result.errors,
                ::testing::AnyOf(HasSubstr("sorvel: there is no display"),
                                 HasSubstr("sorvel: this build of sorvel has no window")));
    EXPECT_TRUE(prefix.KeyExists(kHkeyLocalMachine, "Software\\Tarvo\\My App"));

    // A refused prefix is named too.
    auto refused = noDisplay;
    refused["WINEPREFIX"] = prefix.Path() + "/nothing";
    result = RunProgram(SORVEL_PROGRAM, {}, refused);
    EXPECT_EQ(result.status, 1) << result.errors;
    EXPECT_THAT(result.errors, HasSubstr(prefix.Path() + "/nothing"));
}

// A display that names no running X server: the window mode says so, the command-line mode
// removes and writes its reports on standard error.
TEST_F(StartupProgramTest, ADisplayNobodyServesIsNamedAndTheRemovalStillRuns) {
    const Environment deadDisplay = {{"WINEPREFIX", prefix.Path()}, {"DISPLAY", ":97"},
                                     {"WAYLAND_DISPLAY", {}}, {"QT_QPA_PLATFORM", {}}};
    ProgramResult result = RunProgram(SORVEL_PROGRAM, {}, deadDisplay);
    EXPECT_EQ(result.status, 1) << result.errors;
    EXPECT_THAT(result.errors, HasSubstr("sorvel: cannot open the display \":97\""));

    result = RunProgram(SORVEL_PROGRAM, {"\\"}, deadDisplay);
    EXPECT_EQ(result.status, cleaner::kExitReported) << result.errors;
    EXPECT_THAT(result.errors, HasSubstr("sorvel: The command line \"\\\" does not name a key"));
    EXPECT_FALSE(prefix.KeyExists(kHkeyLocalMachine, "Software\\Zelk Company"));
}

// An X server of its own on a free display, ended with the object.
class XServer {
public:
    XServer() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", nullptr);
            std::_Exit(127);
        }
        ::close(fds[1]);
        // The number may come in more than one write: read up to its line end.
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
        ::close(fds[0]);
        if (!number.empty() && c == '\n') display_ = ":" + number;
    }
    ~XServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    const std::string& Display() const { return display_; }

    // The top-level window list, as xwininfo prints it.
    std::string Windows() const {
        std::string out;
        FILE* pipe = ::popen(("xwininfo -root -tree -display " + display_ + " 2>&1").c_str(), "r");
        if (pipe == nullptr) return out;
        char buffer[4096];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
        ::pclose(pipe);
        return out;
    }

private:
    pid_t pid_ = -1;
    std::string display_;
};

TEST_F(StartupProgramTest, WithADisplayTheProgramsReportsAreMessageBoxesTitledSorvel) {
    const XServer server;
    ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("WINEPREFIX", prefix.Path().c_str(), 1);
        ::setenv("DISPLAY", server.Display().c_str(), 1);
        ::unsetenv("WAYLAND_DISPLAY");
        ::unsetenv("QT_QPA_PLATFORM");
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDERR_FILENO);
        ::execl(SORVEL_PROGRAM, SORVEL_PROGRAM, "\\", nullptr);
        std::_Exit(127);
    }
    // The box waits for its OK: look for it while it is there, then end the program.
    bool shown = false;
    for (int i = 0; i < 150 && !shown; ++i) {
        ::usleep(100 * 1000);
        shown = server.Windows().find("\"sorvel\": (\"sorvel\" \"sorvel\")") != std::string::npos;
    }
    int status = 0;
    const bool stillWaiting = ::waitpid(child, &status, WNOHANG) == 0;
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(shown) << server.Windows();
    EXPECT_TRUE(stillWaiting);
}

TEST_F(StartupProgramTest, WithoutADisplayTheProgramsReportsGoToStandardError) {
    const ProgramResult result = RunProgram(
        SORVEL_PROGRAM, {"\\"},
        {{"WINEPREFIX", prefix.Path()}, {"DISPLAY", {}}, {"WAYLAND_DISPLAY", {}}});
    EXPECT_EQ(result.status, cleaner::kExitReported);
    EXPECT_THAT(result.errors, HasSubstr("sorvel: The command line \"\\\" does not name a key"));
}

}  // namespace
}  // namespace removal_test
