#include "cleaner/run/run.h"

#include <exception>

namespace cleaner {

namespace {

// Marks a run as under way for as long as it lives, also when the run is left by an exception.
class RunningMark {
public:
    explicit RunningMark(bool& running) : running_(running) { running_ = true; }
    ~RunningMark() { running_ = false; }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

private:
    bool& running_;
};

bool Ticked(int checkValue) { return checkValue != 0; }  // a greyed box counts as ticked

}  // namespace

FennickRun::FennickRun(modFennick& fennick, RunWindow& window)
    : fennick_(fennick), window_(window) {}

void FennickRun::UseStore(RunStore& store) { store_ = &store; }

void FennickRun::cmdRemove_Click() {
    if (running_) {
        return;  // the press came in while the run let the window process its events
    }
    RunningMark mark(running_);
    if (!ReadRegistryFromDisc()) {
        return;  // said why; the window stays as it was and nothing is deleted
    }

    window_.SetText1("");
    window_.SetText2("");
    window_.RefreshWindow();
    fennick_.ResetLists();
    fennick_.RunStarted = true;
    // True until key removal begins the backup file; settings removal then appends to it.
    bool startNewFile = true;

    if (Ticked(window_.Check1Value())) {
        RunKeyBranch(startNewFile);
    }
    // After a save that failed the run can keep nothing it removes: no question it cannot act on.
    if (Ticked(window_.Check2Value()) && !SaveFailed()) {
        RunSettingsBranch(startNewFile);
    }
}

bool FennickRun::SaveFailed() const { return store_ != nullptr && store_->Failed(); }

// Another program (a Windows program in the prefix, say) may have changed the registry since
// the last run or since the window opened: working on an older copy would bring back on saving
// what it wrote.
bool FennickRun::ReadRegistryFromDisc() {
    if (store_ == nullptr) return true;
    try {
        store_->Refresh();
        return true;
    } catch (const std::exception& refusal) {
        window_.ShowPlatformMessage(std::string(refusal.what()) + "\nNothing was deleted.");
        return false;
    }
}

// The text of txtRegFile, read when the removal begins; the store learns it too, so that a save
// that fails can say where the removed keys are.
std::string FennickRun::BackupFileForRemoval() {
    std::string path = window_.RegFileText();
    if (store_ != nullptr) store_->UseBackupFile(path);
    return path;
}

void FennickRun::RunKeyBranch(bool& startNewFile) {
    if (!fennick_.LoadKeywords(window_.KeyFileText())) {
        return;  // the loader has shown why; no search runs and the time fields stay empty
    }
    window_.SetText1(window_.TimeOfDayText());
    window_.UpdateStatusText(runtext::kSearchStarted);
    window_.RefreshWindow();

    window_.UpdateRegistryHiveText(kHiveClassesRoot);
    fennick_.SearchRootKeys();
    window_.UpdateRegistryHiveText(kHiveClsid);
    fennick_.SearchClassIds();
    window_.UpdateRegistryHiveText(kHiveInterface);
    fennick_.SearchInterfaces();
    window_.UpdateRegistryHiveText(kHiveTypeLib);
    fennick_.SearchTypeLibs();
    window_.UpdateStatusText(runtext::kSearchCompleted);

    if (window_.Ask(runtext::kAskRemoveKeys) == RunWindow::Answer::Ok) {
        startNewFile = false;
        window_.UpdateStatusText(runtext::kRemoveKeysStarted);
        fennick_.RemoveFoundKeys(BackupFileForRemoval());
        window_.UpdateStatusText(runtext::kRemoveKeysCompleted);
    } else {
        window_.UpdateStatusText(runtext::kRemoveKeysCancelled);
    }
    window_.SetText2(window_.TimeOfDayText());
}

void FennickRun::RunSettingsBranch(bool& startNewFile) {
    if (window_.Ask(runtext::kAskRemoveSettings) == RunWindow::Answer::Ok) {
        window_.UpdateStatusText(runtext::kRemoveSettingsStarted);
        fennick_.RemoveSettings(BackupFileForRemoval(), startNewFile);
        window_.UpdateStatusText(runtext::kRemoveSettingsCompleted);
    } else {
        window_.UpdateStatusText(runtext::kRemoveSettingsCancelled);
    }
}

void FennickRun::cmdCancel_Click() {
    window_.UnloadWindow();
    window_.EndProgram();
}

}  // namespace cleaner
