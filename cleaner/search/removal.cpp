// Removal of the keys the searches found, of the suite's settings keys (both with a backup), and
// the silent removal of the suite's keys started from the command line.
//
// No key is deleted unless its block is in the backup file first, when a backup was asked for:
// the file is the user's only way back.
#include "cleaner/search/modFennick.h"
#include "cleaner/search/removal_backup.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace cleaner {
namespace {

using platform::kHkeyClassesRoot;
using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;

// A found key as the removal addresses it below HKEY_CLASSES_ROOT, and the name it shows.
struct KeyAddress {
    std::string keyPath;
    std::string subKey;
    std::string name;
};

// The branch names compare exactly, letter case included: in other case they fall to the last
// row. A find of the 32-bit node is removed by its path in the 64-bit view, so its backup block
// is restored into the 32-bit node by a 64-bit registry editor.
KeyAddress AddressOf(const FoundKey& key) {
    if (key.Branch == kClassBranch) return {kClsidKey, key.SubKey, key.SubKey};
    if (key.Branch == kClassBranch32) return {kClsidKey32, key.SubKey, key.SubKey};
    if (key.Branch == kInterfaceBranch) return {kInterfaceKey, key.SubKey, key.SubKey};
    if (key.Branch == kInterfaceBranch32) return {kInterfaceKey32, key.SubKey, key.SubKey};
    if (key.Branch == kTypeLibBranch) return {kTypeLibKey, key.TypeLibId, key.TypeLibId};
    return {key.Branch, "", key.Branch};
}

// Whether text, put after a key path and a backslash, names a key below that path. The registry
// skips empty names in a path, so an empty text, or one with an empty name at either end or
// inside (\x, x\, a\\b), would address the key above, and its whole tree would go.
// Such a text can come from registry data (a type-library value), a branch name in other letter
// case ("clsid\" is no key's name) or the command line, never from a key's own name.
bool NamesKeyBelow(const std::string& text) {
    if (text.empty() || text.front() == '\\' || text.back() == '\\') return false;
    return text.find("\\\\") == std::string::npos;
}

std::string FullName(const std::string& hive, const std::string& keyPath,
                     const std::string& subKey) {
    return hive + "\\" + keyPath + (subKey.empty() ? "" : "\\" + subKey);
}

// With a backup file asked for, a failure raised inside a step is passed over: the step counts
// as failed and the removal goes on with the next one. Without one, it ends the operation.
template <typename Step>
bool Attempt(bool passOver, Step&& step) {
    if (!passOver) return std::forward<Step>(step)();
    try {
        return std::forward<Step>(step)();
    } catch (...) {
        return false;
    }
}

// Commits the registry's changes when a removal operation ends, however it ends: also while a
// failure or the end of the program is on its way out, so that what was deleted is kept. The
// commit reports its own failures, here and not from a destructor.
void Commit(RegistryCommit* commit) {
    if (commit == nullptr) return;
    try {
        commit->CommitRegistry();
    } catch (...) {
        // Reported by the commit; the operation's own outcome is what goes on.
    }
}

template <typename Operation>
void CommitAtEnd(RegistryCommit* commit, Operation&& operation) {
    try {
        std::forward<Operation>(operation)();
    } catch (...) {
        Commit(commit);
        throw;
    }
    Commit(commit);
}

// A handle on a hive's root, closed when the removal leaves the hive.
class OpenRoot {
public:
    OpenRoot(modRegFuncs& reg, platform::HKEY hive) : reg_(reg) {
        opened_ = reg_.RegOpen(hive, "", "", handle_);
    }
    ~OpenRoot() {
        if (opened_) reg_.RegClose(handle_);
    }
    OpenRoot(const OpenRoot&) = delete;
    OpenRoot& operator=(const OpenRoot&) = delete;
    bool Opened() const { return opened_; }
    platform::HKEY Handle() const { return handle_; }

private:
    modRegFuncs& reg_;
    platform::HKEY handle_ = 0;
    bool opened_ = false;
};

// The suite's keys below a hive's Software key that the command line removes whatever it says;
// the uninstall entries only in HKEY_LOCAL_MACHINE.
const char* const kCompanyKey = "Zelk Company";
const char* const kUninstallKeys[] = {
    "Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarvoNexbay",
    "Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarvoNexbay 98",
    "Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo Nexbay 1.0",
};

// The Software keys of a hive that hold the suite's settings: HKEY_LOCAL_MACHINE\Software, and
// on a registry with a 32-bit node also Software\Wow6432Node, where a 32-bit installer writes
// them (unless that key is a link, whose target is reached by its own path); HKEY_CURRENT_USER
// is not split. softwareKey is "SOFTWARE" or "Software" as each removal has always named it.
std::vector<std::string> SoftwareKeys(modRegFuncs& reg, platform::HKEY hive,
                                      const std::string& softwareKey) {
    std::vector<std::string> keys{softwareKey};
    const std::string node = softwareKey + "\\" + kWow64NodeKey;
    if (hive == kHkeyLocalMachine && reg.HasWow64Node() && !reg.IsLinkKey(hive, node, "")) {
        keys.push_back(node);
    }
    return keys;
}

// How one removal operation takes each key: export it, write its block, and only then delete it.
// A tree whose names or text the backup cannot hold exactly is kept whole, and when the
// operation ends one message names every such key (ReportKeptTrees).
class KeyRemoval {
public:
    enum class Result { Deleted, Kept, Stopped };

    KeyRemoval(modRegFuncs& reg, BackupFile& backup, RegistryUi& ui)
        : reg_(reg), backup_(backup), ui_(ui), passOver_(backup.Wanted()) {}
    KeyRemoval(const KeyRemoval&) = delete;
    KeyRemoval& operator=(const KeyRemoval&) = delete;

    // Called once the backup has ended, so that each operation shows at most one message for
    // the trees it kept. Not reached while a failure or the end of the program is on its way
    // out: the user is not asked to read a list then.
    void ReportKeptTrees() {
        if (keptForText_.empty()) return;
        std::string text =
            "These keys were not deleted: names or text in their trees hold characters outside "
            "the Windows-1252 code page, or key names hold line breaks, and the cleaner can "
            "neither name such keys exactly nor write them to the backup file as they are; or "
            "their trees hold a key with a class name, or a key whose full name is longer than "
            "a registry editor reads (" +
            std::to_string(modRegFuncs::kLongestRestoredKeyName) +
            " characters), which importing the backup file would not give back.";
        for (const std::string& key : keptForText_) text += "\n" + key;
        text += "\nRemove them with a registry editor if they must go.";
        keptForText_.clear();
        ui_.ShowMessage(text);
    }

    // Runs one step by the operation's rule for failures raised inside it (see Attempt).
    template <typename Step>
    bool Try(Step&& step) const {
        return Attempt(passOver_, std::forward<Step>(step));
    }

    // One export, block and delete of the key. Kept: its export failed (its block would lack
    // part of the tree, or hold it wrongly) or its delete did. Stopped: the backup could not
    // take the block, and nothing more may be deleted. Without a backup, a tree is still kept
    // when its names are not exact: those keys could not be deleted, and the tree would be
    // left half removed. With a backup, a tree is kept too when the backup could not give it
    // back whole (a class name, a key name too long for the registry editor).
    Result RemoveOnce(platform::HKEY hive, const std::string& displayRoot,
                      const std::string& keyPath, const std::string& subKey, std::string& text) {
        modRegFuncs::ExportFindings found;
        const bool exported = Try(
            [&] { return reg_.RegExportTree(hive, displayRoot, keyPath, subKey, text, found); });
        if (!found.namesExact ||
            (backup_.Wanted() && (!found.textExact || !found.restorable))) {
            KeepForText(FullName(displayRoot, keyPath, subKey));
            return Result::Kept;
        }
        if (backup_.Wanted() && !exported) return Result::Kept;
        if (!backup_.Write(text, FullName(displayRoot, keyPath, subKey))) return Result::Stopped;
        return Try([&] { return reg_.RegDeleteTree(hive, keyPath, subKey); }) ? Result::Deleted
                                                                             : Result::Kept;
    }

    // The removal pass of a found key, repeated while the key still opens after a delete that
    // worked; a delete that failed would fail again, so the key is then left. The export text
    // is not emptied between passes: a second pass appends to what the first left. False when
    // the removal must stop.
    //
    // Where HKEY_CLASSES_ROOT merges the user's classes, a key with a user's copy is taken copy
    // by copy under each copy's own root, the user's first (the merged view shows it), so that
    // the backup gives each back to its own hive: a block under HKEY_CLASSES_ROOT would go to
    // the user's copy when that is there again, else to the machine's. A key with no user's copy
    // keeps its HKEY_CLASSES_ROOT block, the same as where nothing is merged. Each copy's passes
    // have an export text of their own: one copy's block is never written again with the other's.
    bool RemovePasses(const KeyAddress& key) {
        std::string text;
        bool userCopySeen = false;
        platform::HKEY lastHive = kHkeyClassesRoot;
        for (;;) {
            if (!Opens(kHkeyClassesRoot, key.keyPath, key.subKey)) return true;
            platform::HKEY hive = kHkeyClassesRoot;
            const char* displayRoot = "HKEY_CLASSES_ROOT";
            std::string keyPath = key.keyPath;
            if (reg_.MergesUserClasses()) {
                const std::string userPath = std::string(kUserClassesKey) + "\\" + key.keyPath;
                if (Opens(kHkeyCurrentUser, userPath, key.subKey)) {
                    userCopySeen = true;
                    hive = kHkeyCurrentUser;
                    displayRoot = "HKEY_CURRENT_USER";
                    keyPath = userPath;
                } else if (userCopySeen) {
                    hive = kHkeyLocalMachine;
                    displayRoot = "HKEY_LOCAL_MACHINE";
                    keyPath = std::string(kMachineClassesKey) + "\\" + key.keyPath;
                }
            }
            if (hive != lastHive) text.clear();
            lastHive = hive;
            const Result result = RemoveOnce(hive, displayRoot, keyPath, key.subKey, text);
            if (result == Result::Stopped) return false;
            if (result == Result::Kept) return true;
        }
    }

private:
    static constexpr const char* kUserClassesKey = "Software\\Classes";
    static constexpr const char* kMachineClassesKey = "SOFTWARE\\Classes";

    bool Opens(platform::HKEY hive, const std::string& keyPath, const std::string& subKey) const {
        platform::HKEY handle = 0;
        if (!Try([&] { return reg_.RegOpen(hive, keyPath, subKey, handle); })) return false;
        Try([&] { return reg_.RegClose(handle); });
        return true;
    }

    void KeepForText(const std::string& name) {
        if (std::find(keptForText_.begin(), keptForText_.end(), name) == keptForText_.end())
            keptForText_.push_back(name);
    }

    modRegFuncs& reg_;
    BackupFile& backup_;
    RegistryUi& ui_;
    bool passOver_;
    std::vector<std::string> keptForText_;
};

}  // namespace

void modFennick::UseBackupFiles(platform::BackupFiles& files) { backupFiles_ = &files; }

void modFennick::UseRegistryCommit(RegistryCommit* commit) { registryCommit_ = commit; }

void modFennick::RemoveFoundKeys(const std::string& backupPath) {
    CommitAtEnd(registryCommit_, [&] {
        BackupFile backup(*backupFiles_, backupPath, view_, registryFolder_);
        if (!backup.Begin(true)) return;
        KeyRemoval removal(reg_, backup, view_);

        // By position and by copy: the window's events run during the export and may touch the
        // list.
        for (std::size_t i = 0; i < FoundKeys.size(); ++i) {
            const KeyAddress key = AddressOf(FoundKeys[i]);
            if (key.name.empty()) continue;
            removal.Try([&] {
                view_.UpdateKeywordText(key.name);
                return true;
            });
            // The name is the last part of the key's path ("clsid\" in the last row included).
            if (!NamesKeyBelow(key.name)) continue;
            if (!removal.RemovePasses(key)) break;
        }
        backup.End();
        removal.ReportKeptTrees();
    });
}

void modFennick::RemoveSettings(const std::string& backupPath, bool& startNewFile) {
    CommitAtEnd(registryCommit_, [&] {
        BackupFile backup(*backupFiles_, backupPath, view_, registryFolder_);
        if (!backup.Begin(startNewFile)) return;
        KeyRemoval removal(reg_, backup, view_);

        // No test that the keys exist and no second pass: one export and one delete each, the
        // machine's settings in each node with a block of their own.
        const std::pair<platform::HKEY, const char*> hives[] = {
            {kHkeyLocalMachine, "HKEY_LOCAL_MACHINE"},
            {kHkeyCurrentUser, "HKEY_CURRENT_USER"},
        };
        const auto removeEach = [&] {
            for (const auto& [hive, displayRoot] : hives) {
                for (const std::string& software : SoftwareKeys(reg_, hive, "SOFTWARE")) {
                    std::string text;
                    if (removal.RemoveOnce(hive, displayRoot, software, "Tarvo\\98", text) ==
                        KeyRemoval::Result::Stopped) {
                        return;  // the backup cannot take more: delete nothing more
                    }
                }
            }
        };
        removeEach();
        backup.End();
        removal.ReportKeptTrees();
    });
}

void modFennick::RemoveSuiteKeys(const std::string& commandLine) {
    CommitAtEnd(registryCommit_, [&] {
        const bool namesKey = NamesKeyBelow(commandLine);
        if (!namesKey) {
            view_.ShowMessage("The command line \"" + commandLine +
                              "\" does not name a key, so nothing below Software\\Tarvo and "
                              "Software\\Zelk was deleted.");
        }

        // A tree the delete could not take whole stays with its key, silently as far as the
        // registry layer goes (a subkey whose name the narrow code page cannot carry is given
        // out with '?' and so is never found again by that name): each such key is named, and
        // the report makes the exit status say that not all was done.
        std::vector<std::string> stayed;
        auto removeTree = [&](const OpenRoot& root, const char* hiveName, const std::string& keyPath,
                              const std::string& subKey) {
            if (reg_.RegDeleteTree(root.Handle(), keyPath, subKey)) return;
            platform::HKEY handle = 0;
            if (!reg_.RegOpen(root.Handle(), keyPath, subKey, handle)) return;  // not there
            reg_.RegClose(handle);
            stayed.push_back(std::string(hiveName) + "\\" + keyPath + (subKey.empty() ? "" : "\\") + subKey);
        };
        for (const platform::HKEY hive : {kHkeyCurrentUser, kHkeyLocalMachine}) {
            const OpenRoot root(reg_, hive);
            if (!root.Opened()) continue;  // nothing is deleted in a hive whose root does not open
            const char* hiveName = hive == kHkeyCurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
            for (const std::string& software : SoftwareKeys(reg_, hive, "Software")) {
                if (namesKey) {
                    removeTree(root, hiveName, software + "\\Tarvo", commandLine);
                    removeTree(root, hiveName, software + "\\Zelk", commandLine);
                }
                removeTree(root, hiveName, software + "\\" + kCompanyKey, "");
                if (hive == kHkeyLocalMachine) {
                    for (const char* uninstallKey : kUninstallKeys) {
                        removeTree(root, hiveName, software + "\\" + uninstallKey, "");
                    }
                }
            }
        }
        if (!stayed.empty()) {
            std::string text =
                "These keys are still there, with what below them could not be deleted (a "
                "subkey whose name the system's code page cannot carry, or one that is "
                "protected):";
            for (const std::string& key : stayed) text.append("\n").append(key);
            view_.ShowMessage(text);
        }
    });
}

}  // namespace cleaner
