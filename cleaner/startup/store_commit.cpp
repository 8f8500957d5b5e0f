#include "cleaner/startup/store_commit.h"

#include <exception>
#include <utility>

namespace cleaner {

StoreCommit::StoreCommit(RegistryStore& store, std::function<void(const std::string&)> report)
    : store_(store), report_(std::move(report)) {}

void StoreCommit::CommitRegistry() { Save(); }

void StoreCommit::Refresh() {
    backupFile_.clear();
    lastReport_.clear();
    store_.Refresh();
    failed_ = false;
}

void StoreCommit::UseBackupFile(const std::string& path) { backupFile_ = path; }

bool StoreCommit::Save() {
    try {
        if (store_.HasChanges()) store_.Save();
        failed_ = false;
        lastReport_.clear();
        return true;
    } catch (const std::exception& failure) {
        failed_ = true;
        std::string text = failure.what();
        // The store says what it saved and what it left; a file it left still holds every key
        // the run took out of it, so the backup is a copy, not the only place they are.
        if (!backupFile_.empty()) {
            text += "\nKeys that this run took out of a file that was not saved are still in "
                    "that file. Every key it took out is also in its backup file \"" +
                    backupFile_ + "\".";
        }
        if (text != lastReport_) report_(text);
        lastReport_ = std::move(text);
        return false;
    }
}

}  // namespace cleaner
