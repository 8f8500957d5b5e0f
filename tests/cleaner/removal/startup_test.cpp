// The command-line mode of the start-up on prefixes in temporary folders: the command-line
// text, a refused prefix, the saved result and where reports go; and the program itself.
#include "cleaner/window/startup.h"
#include "cleaner/window/startup_prefix.h"
#include "prefix_files.h"
#include "removal_fakes.h"
#include "run_program.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace removal_test {
namespace {

using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

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

TEST(StartupCommandLineTextTest, JoinsTheArgumentsInTheNarrowCodePage) {
    const char* none[] = {"sorvel"};
    EXPECT_EQ(cleaner::CommandLineText(1, none), "");
    const char* words[] = {"sorvel", "My", "App"};
    EXPECT_EQ(cleaner::CommandLineText(3, words), "My App");
    const char* blanks[] = {"sorvel", " a  b "};
    EXPECT_EQ(cleaner::CommandLineText(2, blanks), " a  b ");
    // UTF-8 arguments become Windows-1252; what the code page lacks becomes '?'.
    const char* text[] = {"sorvel", "Prod\xC3\xBC" "kt \xE2\x82\xAC", "\xD0\x96\xFF"};
    EXPECT_EQ(cleaner::CommandLineText(3, text), "Prod\xFCkt \x80 ??");
}

TEST(StartupConsoleUiTest, WritesEachReportAsUtf8LinesOnTheErrorStream) {
    std::ostringstream errors;
    const auto ui = cleaner::MakeConsoleUi(errors);
    ui->ShowMessage("Open Reg:caf\xE9 -  5 - Access denied.\r\n");
    ui->ShowMessage("Delete - error # 7 : out of memory\rPlease exit and try again.");
    EXPECT_EQ(errors.str(),
              "sorvel: Open Reg:caf\xC3\xA9 -  5 - Access denied.\n\n\n"
              "sorvel: Delete - error # 7 : out of memory\nPlease exit and try again.\n");
}

class StartupCommandLineTest : public ::testing::Test {
protected:
    StartupCommandLineTest() { prefix.Change(AddSuiteKeys); }

    TempPrefix prefix;
    RecordingView ui;
    std::ostringstream errors;
};

TEST_F(StartupCommandLineTest, RemovesTheSuiteKeysAndSavesThePrefix) {
    EXPECT_EQ(cleaner::RunCommandLine("My App", prefix.Path(), ui, errors), cleaner::kExitDone);

    EXPECT_EQ(errors.str(), "");
    EXPECT_THAT(ui.messages, IsEmpty());
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
    EXPECT_EQ(cleaner::RunCommandLine("My App", missing, ui, errors), cleaner::kExitFailed);
    EXPECT_THAT(errors.str(), HasSubstr("sorvel: "));
    EXPECT_THAT(errors.str(), HasSubstr(missing));
    EXPECT_THAT(ui.messages, IsEmpty());
}

TEST_F(StartupCommandLineTest, APrefixInUseIsRefusedAndNothingIsDeleted) {
    const std::string systemBefore = prefix.Read("system.reg");
    const std::string userBefore = prefix.Read("user.reg");
    {
        const auto other = platform::WinePrefixStore::Open(prefix.Path());
        EXPECT_EQ(cleaner::RunCommandLine("My App", prefix.Path(), ui, errors),
                  cleaner::kExitFailed);
    }
    EXPECT_THAT(errors.str(), HasSubstr(prefix.Path()));
    EXPECT_EQ(prefix.Read("system.reg"), systemBefore);
    EXPECT_EQ(prefix.Read("user.reg"), userBefore);
}

TEST_F(StartupCommandLineTest, ReportsMakeTheExitStatusSaySoAndTheRestIsStillSaved) {
    EXPECT_EQ(cleaner::RunCommandLine("\\", prefix.Path(), ui, errors), cleaner::kExitReported);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(prefix.KeyExists(kHkeyCurrentUser, "Software\\Tarvo\\My App"));
    EXPECT_FALSE(prefix.KeyExists(kHkeyCurrentUser, "Software\\Zelk Company"));
}

// --- Saving

class FailingStore : public platform::WinePrefixStore {
public:
    platform::MemoryRegistry registry;
    bool changed = true;
    bool fail = true;
    int saves = 0;
    std::string prefix = "/p";

    platform::RegistryApi& Registry() override { return registry; }
    void Save() override {
        if (fail) throw platform::StoreError("Could not save system.reg: the disc is full");
        ++saves;
        changed = false;
    }
    bool HasChanges() const override { return changed; }
    void Refresh() override {}
    const std::string& Prefix() const override { return prefix; }
};

TEST(StartupPrefixCommitTest, AFailedSaveIsReportedAndALaterOneClearsIt) {
    FailingStore store;
    std::vector<std::string> reports;
    cleaner::PrefixCommit commit(store, [&](const std::string& text) { reports.push_back(text); });

    commit.CommitRegistry();
    EXPECT_TRUE(commit.Failed());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0], HasSubstr("the disc is full"));

    store.fail = false;
    EXPECT_TRUE(commit.Save());
    EXPECT_FALSE(commit.Failed());
    EXPECT_TRUE(commit.Save());  // nothing changed: nothing written
    EXPECT_EQ(store.saves, 1);
}

// --- The program

#ifdef SORVEL_PROGRAM
TEST_F(StartupCommandLineTest, TheProgramRunsWithoutAWindowAndWithoutADisplay) {
    // A display that is not there: a program that tried to show anything would fail on it.
    const ProgramResult result =
        RunProgram(SORVEL_PROGRAM, {"My", "App"},
                   {{"WINEPREFIX", prefix.Path()}, {"DISPLAY", ":97"}, {"WAYLAND_DISPLAY", {}}});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(result.errors, "");
    EXPECT_FALSE(prefix.KeyExists(kHkeyLocalMachine, "Software\\Tarvo\\My App"));
    EXPECT_TRUE(prefix.KeyExists(kHkeyLocalMachine, "Software\\Tarvo\\Other"));
}

TEST_F(StartupCommandLineTest, TheProgramWritesARefusalToStandardError) {
    const std::string missing = prefix.Path() + "/nothing";
    const ProgramResult result = RunProgram(
        SORVEL_PROGRAM, {"x"},
        {{"WINEPREFIX", missing}, {"DISPLAY", {}}, {"WAYLAND_DISPLAY", {}}});
    EXPECT_EQ(result.status, cleaner::kExitFailed);
    EXPECT_THAT(result.errors, HasSubstr(missing));
}

TEST_F(StartupCommandLineTest, WithoutADisplayTheWindowModeSaysWhyAndDeletesNothing) {
    const std::map<std::string, std::optional<std::string>> noDisplay = {
        {"WINEPREFIX", prefix.Path()}, {"DISPLAY", {}}, {"WAYLAND_DISPLAY", {}},
        {"QT_QPA_PLATFORM", {}}};
    ProgramResult result = RunProgram(SORVEL_PROGRAM, {}, noDisplay);
    EXPECT_EQ(result.status, 1) << result.errors;  // an ordinary end, not an abort
    EXPECT_THAT(result.errors, ::testing::AnyOf(HasSubstr("sorvel: there is no display"),
                                                HasSubstr("sorvel: this build has no window")));
    EXPECT_TRUE(prefix.KeyExists(kHkeyLocalMachine, "Software\\Tarvo\\My App"));

    // A refused prefix is named too.
    auto refused = noDisplay;
    refused["WINEPREFIX"] = prefix.Path() + "/nothing";
    result = RunProgram(SORVEL_PROGRAM, {}, refused);
    EXPECT_EQ(result.status, 1) << result.errors;
    EXPECT_THAT(result.errors, HasSubstr(prefix.Path() + "/nothing"));
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

TEST_F(StartupCommandLineTest, WithADisplayTheProgramsReportsAreMessageBoxesTitledSorvel) {
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

TEST_F(StartupCommandLineTest, WithoutADisplayTheProgramsReportsGoToStandardError) {
    const ProgramResult result = RunProgram(
        SORVEL_PROGRAM, {"\\"},
        {{"WINEPREFIX", prefix.Path()}, {"DISPLAY", {}}, {"WAYLAND_DISPLAY", {}}});
    EXPECT_EQ(result.status, cleaner::kExitReported);
    EXPECT_THAT(result.errors, HasSubstr("sorvel: The command line \"\\\" does not name a key"));
}
#endif

}  // namespace
}  // namespace removal_test
