// The removal swept through its failures, as SQLite's fault tests sweep theirs: the found keys'
// removal and then the settings' removal, run with the Nth registry call failing, and then with
// the Nth write to the backup's files failing, for N = 1 upward until a run meets no fault.
// After every run, each key that left the registry is in the backup file on the disc with its
// whole tree, and no key outside the suite left.
#include "tests/cleaner/search/removal_fakes.h"

#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "platform/files/durable_files.h"
#include "platform/registry/memory_registry.h"
#include "tests/support/faulty_registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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

    bool Failed() const { return changes_ >= failAt_; }

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
    std::unique_ptr<platform::FileWriter> Create(const std::string& path,
                                                 std::string& reason) override {
        if (Fails(reason)) return nullptr;
        return Wrap(inner_.Create(path, reason));
    }
    std::unique_ptr<platform::FileWriter> Append(const std::string& path,
                                                 std::string& reason) override {
        if (Fails(reason)) return nullptr;
        return Wrap(inner_.Append(path, reason));
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
        if (!writer) return nullptr;
        return std::make_unique<Writer>(*this, std::move(writer));
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

// One key of the registry the sweep runs on, and the block the backup must hold for it.
struct SuiteKey {
    HKEY root;
    const char* display;  // the root's name in the backup
    std::string path;
    std::vector<std::pair<std::string, std::string>> values;  // name (empty: default), text
    bool suite;           // the removal is to take it
};

const std::vector<SuiteKey>& Keys() {
    static const std::vector<SuiteKey> keys = {
        {kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "CLSID\\{A}", {{"", "Suite A"}}, true},
        {kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "CLSID\\{A}\\InprocServer32",
         {{"", "a.dll"}, {"ThreadingModel", "Apartment"}}, true},
        {kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "CLSID\\{A}\\ProgID", {{"", "Tarvo.A"}}, true},
        {kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "CLSID\\{B}", {{"", "Suite B"}}, true},
        {kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "CLSID\\{K}", {{"", "Keep"}}, false},
        {kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "INTERFACE\\{I}", {{"", "ISuite"}}, true},
        {kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "INTERFACE\\{I}\\TypeLib", {{"", "{T}"}}, true},
        {kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "TYPELIB\\{T}", {{"", "Library"}}, true},
        {kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "TYPELIB\\{T}\\1.0", {{"", "Suite 1.0"}}, true},
        {kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "TYPELIB\\{T}\\1.0\\0", {{"", "zero"}}, true},
        {kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "TYPELIB\\{T}\\1.0\\0\\win32", {{"", "s.tlb"}}, true},
        {kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "Tarvo.A", {{"", "Tarvo A"}}, true},
        {kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "Tarvo.A\\CLSID", {{"", "{A}"}}, true},
        {kHkeyLocalMachine, "HKEY_LOCAL_MACHINE", "SOFTWARE\\Tarvo\\98", {{"Path", "here"}}, true},
        {kHkeyLocalMachine, "HKEY_LOCAL_MACHINE", "SOFTWARE\\Tarvo\\98\\Options", {{"", "on"}}, true},
        {kHkeyLocalMachine, "HKEY_LOCAL_MACHINE", "SOFTWARE\\Tarvo\\Other", {{"Keep", "yes"}}, false},
        {kHkeyCurrentUser, "HKEY_CURRENT_USER", "SOFTWARE\\Tarvo\\98", {{"User", "me"}}, true},
    };
    return keys;
}

// The key's block as a REGEDIT4 file holds it, from its key line to the blank line after it.
std::string Block(const SuiteKey& key) {
    std::string block = "\r\n[" + std::string(key.display) + "\\" + key.path + "]\r\n";
    for (const auto& [name, text] : key.values)
        block += (name.empty() ? std::string("@") : "\"" + name + "\"") + "=\"" + text + "\"\r\n";
    return block + "\r\n";
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class FaultSweepTest : public ::testing::Test {
protected:
    FaultSweepTest() {
        char pattern[] = "/tmp/sorvel-fault-sweep-XXXXXX";
        folder_ = ::mkdtemp(pattern);
    }
    ~FaultSweepTest() override { fs::remove_all(folder_); }

    struct Outcome {
        bool registryFaultHit = false;
        bool filesFaultHit = false;
        std::vector<std::string> messages;
        std::size_t gone = 0;  // keys that left the registry
    };

    // One run on a fresh registry and without a backup file: the found keys' removal, then the
    // settings' removal into the same file, as the window's run does them. The registry's call
    // failRegistryAt, or the files' change failFilesAt, fails (0: none).
    Outcome RunRemoval(int failRegistryAt, int failFilesAt, const std::string& when) {
        for (const auto& entry : fs::directory_iterator(folder_)) fs::remove_all(entry.path());
        platform::MemoryRegistry registry;
        for (const SuiteKey& key : Keys())
            for (const auto& [name, text] : key.values) registry.SetString(key.root, key.path, name, text);
        testsupport::FaultyRegistry faulty(registry);
        if (failRegistryAt > 0) faulty.FailNthCall(failRegistryAt, platform::kErrorAccessDenied);
        FaultyFiles files(durable_, failFilesAt > 0 ? failFilesAt : -1);
        RecordingView view;
        cleaner::modRegFuncs reg(faulty, view);
        cleaner::modFennick fennick(reg, view);
        fennick.UseBackupFiles(files);
        fennick.FoundKeys = {
            {"CLSID\\", "Tarvo.A", "{A}", ""},
            {"CLSID\\", "", "{B}", ""},
            {"INTERFACE\\", "", "{I}", ""},
            {"TYPELIB\\", "", "{T}", "{T}"},
            {"Tarvo.A", "Tarvo.A", "", ""},
        };
        const std::string backupPath = (folder_ / "taDeletedRegKeys.reg").string();
        bool startNewFile = false;
        EXPECT_NO_THROW({
            fennick.RemoveFoundKeys(backupPath);
            fennick.RemoveSettings(backupPath, startNewFile);
        }) << when;

        const std::string backup = ReadAll(backupPath);
        Outcome outcome{faulty.NthCallFailed(), files.Failed(), view.messages};
        bool lost = false;
        for (const SuiteKey& key : Keys()) {
            if (registry.KeyExists(key.root, key.path)) continue;
            ++outcome.gone;
            EXPECT_TRUE(key.suite) << when << ": " << key.path << " is not the suite's, yet gone";
            const bool inBackup = backup.find(Block(key)) != std::string::npos;
            EXPECT_TRUE(inBackup) << when << ": " << key.display << "\\" << key.path
                                  << " is gone but not whole in the backup";
            lost = lost || !inBackup;
        }
        if (lost) ADD_FAILURE() << when << ": the backup holds:\n" << backup;
        return outcome;
    }

    // Runs with the Nth fault for N = 1 upward until a run meets none; returns the runs made.
    int Sweep(bool registry) {
        for (int n = 1;; ++n) {
            const std::string when = (registry ? "registry call " : "backup change ") + std::to_string(n) + " failing";
            const Outcome outcome = registry ? RunRemoval(n, 0, when) : RunRemoval(0, n, when);
            if (::testing::Test::HasFailure()) return n;
            if (!(registry ? outcome.registryFaultHit : outcome.filesFaultHit)) return n;
            if (n == 100000) {
                ADD_FAILURE() << "the sweep does not end";
                return n;
            }
        }
    }

    fs::path folder_;
    platform::DurableBackupFiles durable_;
};

TEST_F(FaultSweepTest, NoKeyLeavesTheRegistryWithoutItsWholeTreeInTheBackup) {
    // Without faults the whole suite goes, silently: the sweeps below test a real removal.
    const Outcome clean = RunRemoval(0, 0, "without faults");
    EXPECT_TRUE(clean.messages.empty()) << clean.messages.front();
    EXPECT_EQ(clean.gone, Keys().size() - 2);  // all but {K} and Tarvo\Other
    const int registryRuns = Sweep(true);
    const int filesRuns = Sweep(false);
    std::printf("swept %d runs with a registry call failing, %d with a backup change failing\n",
                registryRuns, filesRuns);
    EXPECT_GT(registryRuns, static_cast<int>(Keys().size()));
    EXPECT_GT(filesRuns, 3);
}

}  // namespace
}  // namespace removal_test
