#include "cleaner/startup/startup.h"

#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/run/run.h"
#include "cleaner/search/modFennick.h"
#include "cleaner/startup/store_commit.h"
#include "cleaner/startup/usage.h"
#include "platform/registry/text.h"

#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

namespace cleaner {
namespace {

// A line for standard error, in the form the platform's tools use.
void WriteErrorLine(StartupPlatform& platform, const std::string& text) {
    platform.WriteError("sorvel: " + text + "\n");
}

// A registry report (narrow code page) as a line for standard error: the unexpected-failure
// report's CR alone, which a terminal would use to overwrite the line, becomes a line end.
std::string ReportLine(StartupPlatform& platform, const std::string& narrow) {
    std::string line = platform.NarrowToUtf8(narrow);
    for (char& c : line) {
        if (c == '\r') c = '\n';
    }
    return line;
}

// The registry layer's reports in the command-line mode. A silent run must never wait for an
// answer that nobody can give, and a run that has nothing to report must not touch the
// display: whether boxes can be shown is asked with the first report.
class CommandLineView : public FennickView {
public:
    explicit CommandLineView(StartupPlatform& platform) : platform_(platform) {}

    void ShowMessage(const std::string& text) override {
        ++reports_;
        if (!boxes_) boxes_ = platform_.WindowProblem().empty();
        if (*boxes_) {
            platform_.ShowReport(platform_.NarrowToUtf8(text));
        } else {
            WriteErrorLine(platform_, ReportLine(platform_, text));
        }
    }
    void DoEvents() override {
        if (boxes_.value_or(false)) platform_.ProcessEvents();
    }
    // No window: the field updates go nowhere (they only write while a window run has started).
    void UpdateRegistryHiveText(const std::string&) override {}
    void UpdateStatusText(const std::string&) override {}
    void UpdateKeywordText(const std::string&) override {}

    int Reports() const { return reports_; }

private:
    StartupPlatform& platform_;
    std::optional<bool> boxes_;
    int reports_ = 0;
};

std::unique_ptr<RegistryStore> OpenRegistry(StartupPlatform& platform, std::string& refusal) {
    try {
        return platform.OpenRegistry();
    } catch (const std::exception& failure) {
        refusal = failure.what();
        return nullptr;
    }
}

}  // namespace

std::string StartupPlatform::NarrowToUtf8(const std::string& narrow) {
    return platform::text::Utf16ToUtf8(platform::text::FromCp1252(narrow));
}

std::string RegistryFilesFolder(const RegistryStore& store) {
    std::string folder = store.FilesFolder();
#ifdef _WIN32
    // Under Wine a Windows program's registry is the prefix's files, which the Wine server
    // writes; Wine names the prefix to its programs as "\??\Z:\home\me\.wine".
    if (const char* wine = std::getenv("WINECONFIGDIR"); folder.empty() && wine != nullptr) {
        folder = wine;
        if (folder.rfind("\\??\\", 0) == 0) folder.erase(0, 4);
    }
#endif
    return folder;
}

int RunCommandLine(StartupPlatform& platform, const std::string& commandLine) {
    std::string refusal;
    const std::unique_ptr<RegistryStore> store = OpenRegistry(platform, refusal);
    if (store == nullptr) {
        WriteErrorLine(platform, refusal);
        return kExitFailed;
    }

    CommandLineView view(platform);
    StoreCommit commit(*store, [&platform](const std::string& failure) {
        WriteErrorLine(platform, failure);
    });
    modRegFuncs reg(store->Registry(), view);
    modFennick fennick(reg, view);
    fennick.UseRegistryCommit(&commit);

    bool ended = true;
    try {
        fennick.RemoveSuiteKeys(commandLine);
    } catch (const std::exception& failure) {
        WriteErrorLine(platform, std::string("the removal ended early: ") + failure.what());
        ended = false;
    }
    // The removal has saved what it deleted as it ended, however it ended.
    if (commit.Failed() || !ended) return kExitFailed;
    return view.Reports() == 0 ? kExitDone : kExitReported;
}

int RunWindowMode(StartupPlatform& platform) {
    std::string refusal;
    const std::unique_ptr<RegistryStore> store = OpenRegistry(platform, refusal);
    if (const std::string problem = platform.WindowProblem(); !problem.empty()) {
        if (store == nullptr) WriteErrorLine(platform, refusal);
        WriteErrorLine(platform, problem);
        return kExitFailed;
    }
    if (store == nullptr) {
        platform.ShowReport(refusal);  // and end before anything could be deleted
        return kExitFailed;
    }

    const std::unique_ptr<MainWindow> window = platform.CreateMainWindow();
    MainWindow& shown = *window;
    // Each removal saves the registry when it ends; the end of the program saves once more, so
    // that nothing deleted is left unsaved however the program ends.
    StoreCommit commit(*store, [&shown](const std::string& failure) {
        shown.ShowPlatformMessage(failure);
    });
    modRegFuncs reg(store->Registry(), shown);
    modFennick fennick(reg, shown);
    fennick.UseBackupFiles(platform.BackupFiles());
    fennick.UseRegistryCommit(&commit);
    fennick.UseRegistryFolder(RegistryFilesFolder(*store));
    FennickRun run(fennick, shown);
    run.UseStore(commit);
    shown.Attach(run);
    // Cancel ends the program at once, also from the middle of a run. Every key deleted is in
    // the backup before it goes, so saving the registry now loses nothing.
    shown.SetEnder([&commit, &platform](int exitStatus) {
        const bool saved = commit.Save();
        platform.EndProgram(saved ? exitStatus : kExitFailed);
    });

    const int exitStatus = shown.Exec();
    return commit.Save() ? exitStatus : kExitFailed;
}

int Startup(StartupPlatform& platform, UnattendedModes unattended) {
    const std::string commandLine = platform.CommandLine();
    Request request = RequestOf(commandLine);
    if (request == Request::Unattended && unattended == nullptr) request = Request::UnknownOption;
    switch (request) {
        case Request::Window:
            return RunWindowMode(platform);
        case Request::Usage:
            platform.WriteOutput(UsageText());
            return kExitDone;
        case Request::Version:
            platform.WriteOutput(VersionText());
            return kExitDone;
        case Request::Unattended:
            return unattended(platform, platform.Arguments());
        case Request::UnknownOption:
            WriteErrorLine(platform, "unknown option \"" + platform.NarrowToUtf8(commandLine) +
                                         "\"; nothing was deleted. \"sorvel --help\" shows "
                                         "how to use sorvel.");
            return kExitFailed;
        case Request::SuiteRemoval:
            break;
    }
    return RunCommandLine(platform, commandLine);
}

}  // namespace cleaner
