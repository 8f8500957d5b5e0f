#include "cleaner/startup/store_commit.h"

#include <exception>
#include <utility>

namespace cleaner {

StoreCommit::StoreCommit(RegistryStore& store, std::function<void(const std::string&)> report)
    : store_(store), report_(std::move(report)) {}

void StoreCommit::CommitRegistry() { Save(); }

bool StoreCommit::Save() {
    try {
        if (store_.HasChanges()) store_.Save();
        failed_ = false;
        lastReport_.clear();
        return true;
    } catch (const std::exception& failure) {
        failed_ = true;
        std::string text = failure.what();
        if (text != lastReport_) report_(text);
        lastReport_ = std::move(text);
        return false;
    }
}

}  // namespace cleaner
