// Keeping what a removal deleted: the registry's changes are saved at the end of each removal
// operation (the RegistryCommit that modFennick calls) and once more when the program ends,
// however it ends; each run of the window reads the registry again first (the RunStore).
#pragma once

#include "cleaner/run/run.h"
#include "cleaner/search/modFennick.h"
#include "cleaner/startup/startup_platform.h"

#include <functional>
#include <string>

namespace cleaner {

class StoreCommit : public RegistryCommit, public RunStore {
public:
    // report shows why a save failed (the store's message, with the run's backup file named).
    StoreCommit(RegistryStore& store, std::function<void(const std::string&)> report);

    void CommitRegistry() override;
    void Refresh() override;
    void UseBackupFile(const std::string& path) override;

    // Saves the changes, if any. False when changes are left unsaved. A failure is reported
    // unless it is the one reported last, with nothing saved or read again since: the removal
    // commits when it ends and the program when it ends, and the user needs to read it once.
    bool Save();

    // True while the last save has failed (its changes are not in the files).
    bool Failed() const override { return failed_; }

private:
    RegistryStore& store_;
    std::function<void(const std::string&)> report_;
    std::string backupFile_;
    std::string lastReport_;
    bool failed_ = false;
};

}  // namespace cleaner
