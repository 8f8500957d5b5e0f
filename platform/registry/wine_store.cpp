#include "platform/registry/wine_store.h"

#include "platform/files/file_version.h"
#include "platform/files/posix_file.h"
#include "platform/files/replacement_file.h"
#include "platform/registry/registry_tree.h"
#include "platform/registry/wine_reg_file.h"
#include "platform/registry/wine_server.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace platform {
namespace {

using detail::Hive;

// The name this program's temporary files carry (".system.reg.sorvel-XXXXXX").
constexpr const char* kReplacementTag = "sorvel";

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string ErrnoText(int error) { return std::strerror(error); }

std::string PrefixMessage(const std::string& prefix) { return "the Wine prefix " + Quoted(prefix); }

std::string TryAgainAfterWine(const std::string& prefix) {
    return "Close every Wine program that uses it (or run `WINEPREFIX=" + prefix +
           " wineserver -k`), then try again.";
}

[[noreturn]] void ThrowServerRunning(const std::string& prefix, long pid) {
    std::string who = pid > 0 ? " (wineserver, process " + std::to_string(pid) + ")" : "";
    throw StoreError("Wine is running in " + PrefixMessage(prefix) + who +
                     ": it would overwrite the registry files when it ends, so nothing was changed. " +
                     TryAgainAfterWine(prefix));
}

struct HiveFile {
    Hive hive;
    const char* name;
    std::string path;
    std::string_view header;  // in the tree's copy of the file
    std::string arch;
    FileVersion version;      // what the file held when it was read or last saved
};

// A file as the loader read it, before the store takes it on.
struct LoadedHive {
    std::string_view header;
    std::string arch;
    FileVersion version;
};

class PrefixStore final : public WinePrefixStore {
public:
    explicit PrefixStore(std::string prefix)
        : prefix_(std::move(prefix)),
          tree_(registry_.Tree()),
          files_{HiveFile{Hive::kMachine, "system.reg", prefix_ + "/system.reg", {}, {}, {}},
                 HiveFile{Hive::kUser, "user.reg", prefix_ + "/user.reg", {}, {}, {}}} {
        CheckPrefix();
        LockPrefix();
        // This store holds the prefix, so no other one is saving there now: a temporary file
        // of ours that no process holds was left by one that died while saving.
        for (const HiveFile& file : files_) RemoveAbandonedReplacements(file.path, kReplacementTag);
        CheckUsable();
        Adopt(LoadFiles(tree_));
    }

    RegistryApi& Registry() override { return registry_; }
    const std::string& Prefix() const override { return prefix_; }

    bool HasChanges() const override {
        for (const HiveFile& file : files_)
            if (tree_.Changed(file.hive)) return true;
        return false;
    }

    void Save() override {
        if (!HasChanges()) return;
        const detail::WineServerLock serverLock(prefix_, prefixStat_);
        if (const long pid = serverLock.Holder()) ThrowServerRunning(prefix_, pid);
        if (const long pid = detail::RunningWineServer(prefix_, prefixStat_)) ThrowServerRunning(prefix_, pid);
        std::vector<HiveFile*> changed;
        for (HiveFile& file : files_) {
            if (!tree_.Changed(file.hive)) continue;
            if (!file.version.Matches(file.path)) ThrowChangedOnDisc(file);
            changed.push_back(&file);
        }
        // Both files are written and on disc before either replaces its old one.
        std::vector<ReplacementFile> written(changed.size());
        std::string reason;
        bool committed = false;
        for (std::size_t i = 0; i < changed.size(); ++i)
            if (!Write(*changed[i], written[i], reason)) ThrowNotSaved(*changed[i], reason, committed);
        for (std::size_t i = 0; i < changed.size(); ++i) {
            struct stat status {};
            if (!written[i].Commit(status, reason)) ThrowNotSaved(*changed[i], reason, committed);
            changed[i]->version = FileVersion(status);
            tree_.MarkSaved(changed[i]->hive);
            committed = true;
        }
    }

    // Reads the files again when another program changed one of them, or when changes are
    // left unsaved (a save that failed or was refused): a run works on the registry as it is
    // on disc. Unsaved changes are dropped; the keys they deleted are still in the files.
    void Refresh() override {
        bool stale = false;
        for (HiveFile& file : files_)
            if (tree_.Changed(file.hive) || !file.version.Matches(file.path)) stale = true;
        if (!stale) return;
        CheckUsable();
        detail::Tree fresh;
        std::array<LoadedHive, 2> loaded = LoadFiles(fresh);
        registry_.SwapTree(fresh);
        Adopt(std::move(loaded));
    }

private:
    void CheckPrefix() {
        if (prefix_.empty() || prefix_[0] != '/')
            throw StoreError("The Wine prefix " + Quoted(prefix_) +
                             " is not an absolute path, which Wine requires. Set WINEPREFIX to the "
                             "prefix's full path, then try again.");
        if (::stat(prefix_.c_str(), &prefixStat_) != 0) {
            if (errno == ENOENT || errno == ENOTDIR)
                throw StoreError("The Wine prefix " + Quoted(prefix_) +
                                 " does not exist. Set WINEPREFIX to the prefix to clean (without it, "
                                 "~/.wine is used), then try again.");
            throw StoreError("Cannot open " + PrefixMessage(prefix_) + ": " + ErrnoText(errno) +
                             ". Check that you may read it, then try again.");
        }
        if (!S_ISDIR(prefixStat_.st_mode))
            throw StoreError("The Wine prefix " + Quoted(prefix_) + " is " +
                             (S_ISREG(prefixStat_.st_mode) ? "a file" : "not a folder") +
                             ", but a prefix is the folder that holds system.reg and user.reg. Set "
                             "WINEPREFIX to the prefix's folder (without it, ~/.wine is used), then try again.");
    }

    // One program at a time changes a prefix: an exclusive lock on the prefix folder, held
    // while this store lives.
    void LockPrefix() {
        prefixLock_ = FileDescriptor::Open(prefix_, O_RDONLY | O_DIRECTORY);
        if (!prefixLock_.Valid())
            throw StoreError("Cannot open " + PrefixMessage(prefix_) + ": " + ErrnoText(errno) +
                             ". Check that you may read it, then try again.");
        if (::flock(prefixLock_.Get(), LOCK_EX | LOCK_NB) != 0)
            throw StoreError("Another program is already changing " + PrefixMessage(prefix_) +
                             ". Wait until it has finished, then try again.");
    }

    // Both registry files are there and no Wine server holds the prefix.
    void CheckUsable() const {
        for (const HiveFile& file : files_) CheckPresent(file);
        if (const long pid = detail::RunningWineServer(prefix_, prefixStat_)) ThrowServerRunning(prefix_, pid);
    }

    void CheckPresent(const HiveFile& file) const {
        struct stat st {};
        if (::stat(file.path.c_str(), &st) == 0) {
            if (S_ISREG(st.st_mode)) return;
            throw StoreError("The registry file " + Quoted(file.path) + " of " + PrefixMessage(prefix_) +
                             " is not a file (it is " + (S_ISDIR(st.st_mode) ? "a folder" : "a device or a pipe") +
                             "). Move it away and restore the file from a backup, then try again.");
        }
        const int error = errno;
        struct stat link {};
        if (::lstat(file.path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            throw StoreError("The registry file " + Quoted(file.path) + " of " + PrefixMessage(prefix_) +
                             " is a symbolic link that points nowhere: " + Quoted(LinkText(file.path)) +
                             (error == ELOOP ? " leads back to itself" : " does not exist") +
                             ". Restore the file it points to (or put the file itself in place of the "
                             "link), then try again.");
        if (error == ENOENT)
            throw StoreError("The Wine prefix " + Quoted(prefix_) + " has no registry file " + file.name +
                             ", so it is not a complete Wine prefix. Start a Wine program in it once "
                             "(for example `WINEPREFIX=" + prefix_ + " wineboot`), then try again.");
        throw StoreError("Cannot read " + Quoted(file.path) + " of " + PrefixMessage(prefix_) + ": " +
                         ErrnoText(error) + ". Check that you may read it, then try again.");
    }

    std::array<LoadedHive, 2> LoadFiles(detail::Tree& tree) const {
        std::array<LoadedHive, 2> loaded{Load(tree, files_[0]), Load(tree, files_[1])};
        if (!loaded[0].arch.empty() && !loaded[1].arch.empty() && loaded[0].arch != loaded[1].arch)
            throw StoreError("The registry files of " + PrefixMessage(prefix_) +
                             " disagree about the prefix's architecture (system.reg: " + loaded[0].arch +
                             ", user.reg: " + loaded[1].arch +
                             "). Nothing was changed; restore the files from a backup, then try again.");
        return loaded;
    }

    LoadedHive Load(detail::Tree& tree, const HiveFile& file) const {
        auto text = std::make_shared<std::string>();
        struct stat status {};
        if (std::string reason; !ReadWholeFile(file.path, *text, reason, &status))
            throw StoreError("Cannot read " + Quoted(file.path) + " of " + PrefixMessage(prefix_) + ": " + reason +
                             ". Check that you may read it, then try again.");
        std::shared_ptr<const std::string> kept = std::move(text);
        const std::string& contents = tree.KeepText(kept);
        detail::LoadedFile loaded;
        detail::FileProblem problem;
        if (!detail::LoadHiveFile(tree, file.hive, contents, loaded, problem))
            throw StoreError("The registry file " + Quoted(file.path) + " of " + PrefixMessage(prefix_) +
                             " is damaged or is not a Wine registry file: line " +
                             std::to_string(problem.line) + ": " + problem.what +
                             ". Nothing was changed; restore the file from a backup (or let Wine "
                             "repair it by starting a Wine program in the prefix), then try again.");
        return {loaded.header, loaded.arch, FileVersion(status, std::move(kept))};
    }

    void Adopt(std::array<LoadedHive, 2> loaded) {
        for (std::size_t i = 0; i < files_.size(); ++i) {
            files_[i].header = loaded[i].header;
            files_[i].arch = std::move(loaded[i].arch);
            files_[i].version = std::move(loaded[i].version);
        }
        registry_.SetWow64Node(files_[0].arch == "win64");
    }

    // Writes the hive to a temporary file beside its own, on disc, not yet in its place.
    bool Write(const HiveFile& file, ReplacementFile& out, std::string& reason) {
        if (!out.Create(file.path, ReplacementName(file.path, kReplacementTag), reason)) return false;
        std::string buffer;
        buffer.reserve(1 << 21);
        bool written = true;
        detail::WriteHiveFile(tree_, file.hive, file.header, buffer, [&](std::string& chunk) {
            written = written && out.Write(chunk, reason);
            chunk.clear();
        });
        return written && out.Finish(reason);
    }

    [[noreturn]] void ThrowNotSaved(const HiveFile& file, const std::string& reason, bool committed) const {
        throw StoreError("Could not save " + Quoted(file.path) + " of " + PrefixMessage(prefix_) + ": " + reason +
                         ". " +
                         (committed ? "That file was left as it was; the other was saved. "
                                    : "The registry files were left as they were; ") +
                         "free some space or fix the permissions, then try again.");
    }

    [[noreturn]] void ThrowChangedOnDisc(const HiveFile& file) const {
        throw StoreError("Nothing was saved: " + Quoted(file.path) + " of " + PrefixMessage(prefix_) +
                         " was changed by another program (Wine, most likely) after sorvel read it, and "
                         "saving would undo that change. Start the removal again: it works on the "
                         "registry as it is now.");
    }

    std::string prefix_;
    struct stat prefixStat_ {};
    FileDescriptor prefixLock_;
    MemoryRegistry registry_;
    detail::Tree& tree_;
    std::array<HiveFile, 2> files_;
};

}  // namespace

std::unique_ptr<WinePrefixStore> WinePrefixStore::Open(const std::string& prefix) {
    const std::string path = WithoutTrailingSlashes(prefix);
    try {
        return std::make_unique<PrefixStore>(path);
    } catch (const std::bad_alloc&) {
        throw StoreError("There is not enough memory to load the registry of the Wine prefix " + Quoted(path) +
                         ". Nothing was changed; close other programs, then try again.");
    }
}

}  // namespace platform
