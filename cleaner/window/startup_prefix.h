// Keeping what a removal deleted: the prefix's changed registry files are saved at the end of
// each removal operation (this is the RegistryCommit that modFennick calls) and once more when
// the program ends, however it ends. Header only, so the window and the start-up share it
// without a library of their own.
#pragma once

#include "cleaner/search/modFennick.h"
#include "platform/registry/wine_store.h"

#include <functional>
#include <string>
#include <utility>

namespace cleaner {

class PrefixCommit : public RegistryCommit {
public:
    // report shows the store's message when a save fails (the old files then stay).
    PrefixCommit(platform::WinePrefixStore& store, std::function<void(const std::string&)> report)
        : store_(store), report_(std::move(report)) {}

    void CommitRegistry() override { Save(); }

    // Saves the changed files, if any. False when changes are left unsaved.
    bool Save() {
        try {
            if (store_.HasChanges()) store_.Save();
            failed_ = false;
            return true;
        } catch (const std::exception& failure) {
            failed_ = true;
            report_(failure.what());
            return false;
        }
    }

    // True while the last save has failed (its changes are not in the files).
    bool Failed() const { return failed_; }

private:
    platform::WinePrefixStore& store_;
    std::function<void(const std::string&)> report_;
    bool failed_ = false;
};

}  // namespace cleaner
