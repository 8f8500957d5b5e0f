// Stand-ins for what the removal drivers use: backup files held in memory that can be made to
// fail and that log their writes (beside the registry's deletes, to check which came first), and
// a window that records what it was told.
#pragma once

#include "cleaner/search/modFennick.h"
#include "platform/files/backup_files.h"
#include "platform/registry/memory_registry.h"

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace removal_test {

// Writes to the backup and deletes in the registry, in the order they happened.
using EventLog = std::vector<std::string>;

class FakeFiles : public platform::BackupFiles {
public:
    explicit FakeFiles(EventLog& log) : log_(log) {}

    std::map<std::string, std::string> files;
    std::optional<std::string> createFails;  // reason
    std::optional<std::string> appendFails;  // reason
    // After this many successful writes (all writers together), the disc is full.
    std::optional<int> writesBeforeDiscFull;
    int calls = 0;

    bool Look(const std::string& path, platform::PathFacts& facts, std::string&) override {
        ++calls;
        facts = platform::PathFacts{};
        facts.file = path;
        if (const auto it = files.find(path); it != files.end()) {
            facts.kind = platform::PathFacts::Kind::RegularFile;
            facts.size = it->second.size();
        }
        return true;
    }
    bool ReadStart(const std::string& path, std::size_t limit, std::string& bytes,
                   std::string&) override {
        ++calls;
        bytes = files[path].substr(0, limit);
        return true;
    }
    bool Rename(const std::string& from, const std::string& to, std::string& reason) override {
        ++calls;
        if (files.count(to) != 0) {
            reason = "it is there already";
            return false;
        }
        files[to] = files[from];
        files.erase(from);
        return true;
    }
    bool Remove(const std::string& path, std::string&) override {
        ++calls;
        files.erase(path);
        return true;
    }
    std::unique_ptr<platform::FileWriter> Create(const std::string& path,
                                                 std::string& reason) override {
        ++calls;
        if (createFails) {
            reason = *createFails;
            return nullptr;
        }
        files[path].clear();
        return std::make_unique<Writer>(*this, path);
    }
    std::unique_ptr<platform::FileWriter> Append(const std::string& path,
                                                 std::string& reason) override {
        ++calls;
        if (appendFails) {
            reason = *appendFails;
            return nullptr;
        }
        files[path];
        return std::make_unique<Writer>(*this, path);
    }

private:
    class Writer : public platform::FileWriter {
    public:
        Writer(FakeFiles& owner, std::string path) : owner_(owner), path_(std::move(path)) {}
        bool Write(std::string_view data, std::string& reason) override {
            if (owner_.writesBeforeDiscFull && *owner_.writesBeforeDiscFull <= 0) {
                reason = "the disc is full";
                return false;
            }
            if (owner_.writesBeforeDiscFull) --*owner_.writesBeforeDiscFull;
            owner_.files[path_].append(data);
            owner_.log_.push_back("write " + std::string(data));
            return true;
        }
        std::uint64_t Size() const override { return owner_.files[path_].size(); }
        bool Close(std::string&) override { return true; }

    private:
        FakeFiles& owner_;
        std::string path_;
    };

    EventLog& log_;
};

class RecordingView : public cleaner::FennickView {
public:
    std::vector<std::string> messages;
    std::vector<std::string> keywords;
    bool throwOnKeyword = false;

    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void DoEvents() override {}
    void UpdateRegistryHiveText(const std::string&) override {}
    void UpdateStatusText(const std::string&) override {}
    void UpdateKeywordText(const std::string& text) override {
        keywords.push_back(text);
        if (throwOnKeyword) throw std::runtime_error("the window is gone");
    }
};

class CountingCommit : public cleaner::RegistryCommit {
public:
    int commits = 0;
    void CommitRegistry() override { ++commits; }
};

}  // namespace removal_test
