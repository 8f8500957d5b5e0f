// The removal swept through its failures, as SQLite's fault tests sweep theirs: the found keys'
// removal and then the settings' removal, run with the Nth registry call failing (with a code,
// then by throwing std::bad_alloc), and then with the Nth write to the backup's files failing,
// for N = 1 upward until a run meets no fault.
// After every run, each key that left the registry is in the backup file on the disc with its
// whole tree, and no key outside the suite left.
#include "tests/cleaner/search/removal_fakes.h"

#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "platform/files/durable_files.h"
#include "platform/registry/memory_registry.h"
#include "tests/support/faulty_registry.h"
#include "tests/support/wine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace removal_test {
namespace {

namespace fs = std::filesystem;
using platform::HKEY;
using platform::kHkeyClassesRoot;
using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;

// The backup's files on the disc, with the Nth call that changes them (a create, an append, a
// write, a close, a rename, a remove) failing as a full or broken disc makes it fail: nothing of
// that call reaches the file, and a writer that failed fails from then on.
class FaultyFiles : public platform::BackupFiles {
public:
    explicit FaultyFiles(platform::BackupFiles& inner, int failAt) : inner_(inner), failAt_(failAt) {}

    bool Failed() const { return failAt_ > 0 && changes_ >= failAt_; }

    bool Look(const std::string& path, platform::PathFacts& facts, std::string& reason) override {
        return inner_.Look(path, facts, reason);
    }
    bool ReadStart(const std::string& path, std::size_t limit, std::string& bytes,
                   std::string& reason) override {
        return inner_.ReadStart(path, limit, bytes, reason);
    }
    bool Rename(const std::string& from, const std::string& to, std::string& reason) override {
        return !Fails(reason) && inner_.Rename(from, to, reason);
    }
    bool Remove(const std::string& path, std::string& reason) override {
        return !Fails(reason) && inner_.Remove(path, reason);
    }
    std::unique_ptr<platform::FileWriter> Create(const std::string& path, std::string& reason) override {
        return Fails(reason) ? nullptr : Wrap(inner_.Create(path, reason));
    }
    std::unique_ptr<platform::FileWriter> Append(const std::string& path, std::string& reason) override {
        return Fails(reason) ? nullptr : Wrap(inner_.Append(path, reason));
    }

private:
    class Writer : public platform::FileWriter {
    public:
        Writer(FaultyFiles& owner, std::unique_ptr<platform::FileWriter> inner)
            : owner_(owner), inner_(std::move(inner)) {}
        bool Write(std::string_view data, std::string& reason) override {
            if (broken_ || owner_.Fails(reason)) {
                broken_ = true;
                if (reason.empty()) reason = "an earlier write failed";
                return false;
            }
            broken_ = !inner_->Write(data, reason);
            return !broken_;
        }
        std::uint64_t Size() const override { return inner_->Size(); }
        bool Close(std::string& reason) override {
            std::string ignored;
            if (owner_.Fails(reason)) return inner_->Close(ignored), false;
            return inner_->Close(reason);
        }

    private:
        FaultyFiles& owner_;
        std::unique_ptr<platform::FileWriter> inner_;
        bool broken_ = false;
    };

    std::unique_ptr<platform::FileWriter> Wrap(std::unique_ptr<platform::FileWriter> writer) {
        return writer ? std::make_unique<Writer>(*this, std::move(writer)) : nullptr;
    }
    bool Fails(std::string& reason) {
        if (++changes_ != failAt_) return false;
        reason = "the disc failed here on purpose";
        return true;
    }

    platform::BackupFiles& inner_;
    int failAt_;
    int changes_ = 0;
};

// The registry the sweep runs on: each key with one string value, and whether the removal is
// to take it.
struct SuiteKey {
    HKEY root;
    const char* path;
    const char* name;  // "": the default value
    const char* text;
    bool suite;
};
constexpr SuiteKey kKeys[] = {
    {kHkeyClassesRoot, "CLSID\\{A}", "", "Suite A", true},
    {kHkeyClassesRoot, "CLSID\\{A}\\InprocServer32", "ThreadingModel", "Apartment", true},
    {kHkeyClassesRoot, "CLSID\\{A}\\ProgID", "", "Tarvo.A", true},
    {kHkeyClassesRoot, "CLSID\\{B}", "", "Suite B", true},
    {kHkeyClassesRoot, "CLSID\\{K}", "", "Keep", false},
    {kHkeyClassesRoot, "INTERFACE\\{I}", "", "ISuite", true},
    {kHkeyClassesRoot, "INTERFACE\\{I}\\TypeLib", "", "{T}", true},
    {kHkeyClassesRoot, "TYPELIB\\{T}", "", "Library", true},
    {kHkeyClassesRoot, "TYPELIB\\{T}\\1.0", "", "Suite 1.0", true},
    {kHkeyClassesRoot, "TYPELIB\\{T}\\1.0\\0", "", "zero", true},
    {kHkeyClassesRoot, "TYPELIB\\{T}\\1.0\\0\\win32", "", "s.tlb", true},
    {kHkeyClassesRoot, "Tarvo.A", "", "Tarvo A", true},
    {kHkeyClassesRoot, "Tarvo.A\\CLSID", "", "{A}", true},
    {kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98", "Path", "here", true},
    {kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98\\Options", "", "on", true},
    {kHkeyLocalMachine, "SOFTWARE\\Tarvo\\Other", "Keep", "yes", false},
    {kHkeyCurrentUser, "SOFTWARE\\Tarvo\\98", "User", "me", true},
};

// The key's block as a REGEDIT4 file holds it, from its key line to the blank line after it.
std::string Block(const SuiteKey& key) {
    const char* root = key.root == kHkeyClassesRoot    ? "HKEY_CLASSES_ROOT"
                       : key.root == kHkeyLocalMachine ? "HKEY_LOCAL_MACHINE"
                                                       : "HKEY_CURRENT_USER";
    const std::string name = *key.name ? "\"" + std::string(key.name) + "\"" : "@";
    return "\r\n[" + std::string(root) + "\\" + key.path + "]\r\n" + name + "=\"" + key.text + "\"\r\n\r\n";
}

class FaultSweepTest : public ::testing::Test {
protected:
    FaultSweepTest() {
        char pattern[] = "/tmp/sorvel-fault-sweep-XXXXXX";
        folder_ = ::mkdtemp(pattern);
    }
    ~FaultSweepTest() override { fs::remove_all(folder_); }

    // One run on a fresh registry, without an earlier backup: the found keys' removal, then the
    // settings' removal into the same file, as the window's run does them, with the registry's
    // call failRegistryAt (with code, or 0: throwing) or the files' change failFilesAt failing
    // (0: none). True when the fault was met; gone_ counts the keys that left, messages_ holds
    // what the user was told.
    bool RunRemoval(int failRegistryAt, platform::LONG code, int failFilesAt, const std::string& when) {
        for (const auto& entry : fs::directory_iterator(folder_)) fs::remove_all(entry.path());
        platform::MemoryRegistry registry;
        for (const SuiteKey& key : kKeys) registry.SetString(key.root, key.path, key.name, key.text);
        testsupport::FaultyRegistry faulty(registry);
        if (failRegistryAt > 0) faulty.FailNthCall(failRegistryAt, code);
        FaultyFiles files(durable_, failFilesAt);
        RecordingView view;
        cleaner::modRegFuncs reg(faulty, view);
        cleaner::modFennick fennick(reg, view);
        fennick.UseBackupFiles(files);
        fennick.FoundKeys = {{"CLSID\\", "Tarvo.A", "{A}", ""}, {"CLSID\\", "", "{B}", ""},
                             {"INTERFACE\\", "", "{I}", ""}, {"TYPELIB\\", "", "{T}", "{T}"},
                             {"Tarvo.A", "Tarvo.A", "", ""}};
        const std::string backupPath = (folder_ / "taDeletedRegKeys.reg").string();
        bool startNewFile = false;
        EXPECT_NO_THROW({
            fennick.RemoveFoundKeys(backupPath);
            fennick.RemoveSettings(backupPath, startNewFile);
        }) << when;

        const std::string backup = fs::exists(backupPath) ? testsupport::ReadFile(backupPath) : "";
        gone_ = 0;
        bool lost = false;
        for (const SuiteKey& key : kKeys) {
            if (registry.KeyExists(key.root, key.path)) continue;
            ++gone_;
            EXPECT_TRUE(key.suite) << when << ": " << key.path << " is not the suite's, yet gone";
            const bool inBackup = backup.find(Block(key)) != std::string::npos;
            EXPECT_TRUE(inBackup) << when << ": " << key.path << " is gone but not whole in the backup";
            lost = lost || !inBackup;
        }
        if (lost) ADD_FAILURE() << when << ": the backup holds:\n" << backup;
        messages_ = view.messages;
        return failRegistryAt > 0 ? faulty.NthCallFailed() : files.Failed();
    }

    // Runs with the Nth fault for N = 1 upward until a run meets none (or one fails): of the
    // registry's calls, giving code (or throwing, with 0), or of the backup's changes (code -1).
    // Returns the runs made.
    int Sweep(platform::LONG code) {
        int n = 1;
        for (;; ++n) {
            const std::string when = (code < 0 ? "backup change " : "registry call ") + std::to_string(n) +
                                     (code == 0 ? " throwing" : "");
            const bool met = code < 0 ? RunRemoval(0, 0, n, when) : RunRemoval(n, code, 0, when);
            if (!met || HasFailure() || n == 100000) break;
        }
        return n;
    }

    fs::path folder_;
    platform::DurableBackupFiles durable_;
    std::size_t gone_ = 0;
    std::vector<std::string> messages_;
};

TEST_F(FaultSweepTest, NoKeyLeavesTheRegistryWithoutItsWholeTreeInTheBackup) {
    // Without faults the whole suite goes, silently: the sweeps below test a real removal.
    RunRemoval(0, 0, 0, "without faults");
    EXPECT_EQ(messages_, std::vector<std::string>());
    EXPECT_EQ(gone_, std::size(kKeys) - 2);  // all but {K} and Tarvo\Other
    const int registryRuns = Sweep(platform::kErrorAccessDenied);
    const int throwingRuns = Sweep(0);
    const int filesRuns = Sweep(-1);
    std::printf("swept %d runs with a registry call failing, %d with one throwing, %d with a "
                "backup change failing\n", registryRuns, throwingRuns, filesRuns);
    EXPECT_GT(registryRuns, static_cast<int>(std::size(kKeys)));
    EXPECT_EQ(throwingRuns, registryRuns);
    EXPECT_GT(filesRuns, 3);
}

}  // namespace
}  // namespace removal_test
