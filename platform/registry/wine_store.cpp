#include "platform/registry/wine_store.h"

#include "platform/registry/registry_tree.h"
#include "platform/registry/wine_reg_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace platform {
namespace {

using detail::Hive;

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string ErrnoText(int error) { return std::strerror(error); }

// A file descriptor, closed when it goes.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

std::string PrefixMessage(const std::string& prefix) { return "the Wine prefix " + Quoted(prefix); }

std::string TryAgainAfterWine(const std::string& prefix) {
    return "Close every Wine program that uses it (or run `WINEPREFIX=" + prefix +
           " wineserver -k`), then try again.";
}

// Wine's server for a prefix lives in a folder named by the prefix's device and inode. Debian
// puts it below $TMPDIR (else /tmp) under the name kept in <prefix>/wineserver; upstream Wine
// uses /tmp/.wine-<uid>.
class ServerFolders {
public:
    ServerFolders(const std::string& prefix, const struct stat& st) {
        char leaf[64];
        std::snprintf(leaf, sizeof leaf, "server-%lx-%lx", static_cast<unsigned long>(st.st_dev),
                      static_cast<unsigned long>(st.st_ino));
        const std::string name = DebianName(prefix);
        if (!name.empty()) {
            const char* tmp = std::getenv("TMPDIR");
            if (tmp && *tmp) Add(std::string(tmp) + "/" + name, leaf, true);
            Add("/tmp/" + name, leaf, !(tmp && *tmp));
        }
        Add("/tmp/.wine-" + std::to_string(::getuid()), leaf, false);
    }

    struct Folder {
        std::string base;    // made by Wine when missing
        std::string server;  // base/server-<dev>-<ino>
        bool own = false;    // where a Wine started from here would put its server
        std::string Lock() const { return server + "/lock"; }
    };
    const std::vector<Folder>& All() const { return folders_; }

private:
    static std::string DebianName(const std::string& prefix) {
        Fd fd(::open((prefix + "/wineserver").c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd.Valid()) return {};
        char buffer[256];
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer - 1);
        if (n <= 0) return {};
        std::string name(buffer, static_cast<std::size_t>(n));
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
        if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return {};
        return name;
    }

    void Add(std::string base, const char* leaf, bool own) {
        for (const Folder& f : folders_)
            if (f.base == base) return;
        folders_.push_back({base, base + "/" + leaf, own});
    }

    std::vector<Folder> folders_;
};

// The process id of the Wine server that holds this lock file, 0 when none does.
long LockHolder(int fd) {
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    query.l_start = 0;
    query.l_len = 1;
    if (::fcntl(fd, F_GETLK, &query) != 0 || query.l_type == F_UNLCK) return 0;
    return query.l_pid > 0 ? static_cast<long>(query.l_pid) : -1;
}

long RunningServer(const ServerFolders& folders) {
    for (const auto& folder : folders.All()) {
        Fd fd(::open(folder.Lock().c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd.Valid()) continue;
        if (long pid = LockHolder(fd.Get())) return pid;
    }
    return 0;
}

[[noreturn]] void ThrowServerRunning(const std::string& prefix, long pid) {
    std::string who = pid > 0 ? " (wineserver, process " + std::to_string(pid) + ")" : "";
    throw StoreError("Wine is running in " + PrefixMessage(prefix) + who +
                     ": it would overwrite the registry files when it ends, so nothing was changed. " +
                     TryAgainAfterWine(prefix));
}

// Holds Wine's own server lock for the prefix while the files are written: a Wine started
// meanwhile finds the lock taken and gives up instead of reading half-saved files.
class ServerLock {
public:
    ServerLock(const std::string& prefix, const ServerFolders& folders) {
        for (const auto& folder : folders.All()) {
            if (folder.own) MakeFolder(folder);
            Fd fd(::open(folder.Lock().c_str(), O_RDWR | O_CLOEXEC | (folder.own ? O_CREAT : 0), 0600));
            if (!fd.Valid()) continue;
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_start = 0;
            lock.l_len = 1;
            if (::fcntl(fd.Get(), F_SETLK, &lock) != 0) ThrowServerRunning(prefix, LockHolder(fd.Get()));
            held_.push_back(std::move(fd));
        }
    }

private:
    // As Wine makes them: private to the user.
    static void MakeFolder(const ServerFolders::Folder& folder) {
        ::mkdir(folder.base.c_str(), 0700);
        ::mkdir(folder.server.c_str(), 0700);
    }

    std::vector<Fd> held_;
};

std::string ReadWholeFile(const std::string& path, const std::string& prefix) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0)
        throw StoreError("Cannot read " + Quoted(path) + " of " + PrefixMessage(prefix) + ": " +
                         ErrnoText(errno) + ". Check that you may read it, then try again.");
    // Read straight into the text; a file that grows meanwhile is read to its end.
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) text.resize(text.size() + (1 << 16));
        const ssize_t n = ::read(fd.Get(), text.data() + used, text.size() - used);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            throw StoreError("Cannot read " + Quoted(path) + " of " + PrefixMessage(prefix) + ": " +
                             ErrnoText(errno) + ". Nothing was changed; try again.");
        }
        used += static_cast<std::size_t>(n);
    }
    text.resize(used);
    return text;
}

// A file written beside its target and renamed over it only when complete and on disc.
class ReplacementFile {
public:
    ReplacementFile(std::string target, std::string prefix)
        : target_(std::move(target)), prefix_(std::move(prefix)) {
        ResolveTarget();
        const std::size_t slash = target_.rfind('/');
        folder_ = slash == std::string::npos ? "." : target_.substr(0, slash);
        temp_ = folder_ + "/." + target_.substr(slash + 1) + ".sorvel-XXXXXX";
        fd_ = Fd(::mkstemp(temp_.data()));
        if (!fd_.Valid()) {
            temp_.clear();
            Fail("cannot create a temporary file beside it");
        }
        struct stat st {};
        if (::stat(target_.c_str(), &st) == 0) {
            ::fchmod(fd_.Get(), st.st_mode & 07777);
            if (::fchown(fd_.Get(), st.st_uid, st.st_gid) != 0) { /* keeps our own owner */ }
        }
    }
    ~ReplacementFile() {
        if (!temp_.empty()) ::unlink(temp_.c_str());
    }
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    void Write(std::string& chunk) {
        const char* data = chunk.data();
        std::size_t left = chunk.size();
        while (left > 0) {
            const ssize_t n = ::write(fd_.Get(), data, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) Fail("cannot write it");
            data += n;
            left -= static_cast<std::size_t>(n);
        }
        chunk.clear();
    }

    // Flushes the file to disc and closes it.
    void Finish() {
        if (::fsync(fd_.Get()) != 0) Fail("cannot flush it to disc");
        if (::close(fd_.Release()) != 0) Fail("cannot close it");
    }

    void Commit() {
        if (::rename(temp_.c_str(), target_.c_str()) != 0) Fail("cannot replace it");
        temp_.clear();
        Fd folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.Valid()) ::fsync(folder.Get());
    }

private:
    void ResolveTarget() {
        // A symbolic link keeps pointing where it did: the file it names is replaced.
        struct stat st {};
        if (::lstat(target_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            char resolved[PATH_MAX];
            if (::realpath(target_.c_str(), resolved)) target_ = resolved;
        }
    }

    [[noreturn]] void Fail(const std::string& what) {
        const int error = errno;
        throw StoreError("Could not save " + Quoted(target_) + " of " + PrefixMessage(prefix_) + ": " +
                         what + " (" + ErrnoText(error) +
                         "). The registry files were left as they were; free some space or fix the "
                         "permissions, then try again.");
    }

    std::string target_, prefix_, folder_, temp_;
    Fd fd_;
};

struct HiveFile {
    Hive hive;
    const char* name;
    std::string path;
    std::string_view header;
    std::string arch;
};

class PrefixStore final : public WinePrefixStore {
public:
    explicit PrefixStore(std::string prefix)
        : prefix_(std::move(prefix)),
          tree_(registry_.Tree()),
          files_{{Hive::kMachine, "system.reg", prefix_ + "/system.reg", {}, {}},
                 {Hive::kUser, "user.reg", prefix_ + "/user.reg", {}, {}}} {
        CheckPrefix();
        LockPrefix();
        for (HiveFile& file : files_) CheckPresent(file);
        if (long pid = RunningServer(ServerFolders(prefix_, prefixStat_))) ThrowServerRunning(prefix_, pid);
        for (HiveFile& file : files_) Load(file);
        if (!files_[0].arch.empty() && !files_[1].arch.empty() && files_[0].arch != files_[1].arch)
            throw StoreError("The registry files of " + PrefixMessage(prefix_) +
                             " disagree about the prefix's architecture (system.reg: " + files_[0].arch +
                             ", user.reg: " + files_[1].arch +
                             "). Nothing was changed; restore the files from a backup, then try again.");
        registry_.SetWow64Node(files_[0].arch == "win64");
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
        ServerFolders folders(prefix_, prefixStat_);
        ServerLock serverLock(prefix_, folders);
        // Both files are written and on disc before either replaces its old one.
        std::vector<std::unique_ptr<ReplacementFile>> written;
        std::vector<HiveFile*> saved;
        for (HiveFile& file : files_) {
            if (!tree_.Changed(file.hive)) continue;
            auto out = std::make_unique<ReplacementFile>(file.path, prefix_);
            std::string buffer;
            buffer.reserve(1 << 21);
            detail::WriteHiveFile(tree_, file.hive, file.header, buffer,
                                  [&](std::string& chunk) { out->Write(chunk); });
            out->Finish();
            written.push_back(std::move(out));
            saved.push_back(&file);
        }
        for (auto& out : written) out->Commit();
        for (HiveFile* file : saved) tree_.MarkSaved(file->hive);
    }

    void Refresh() override {}

private:
    void CheckPrefix() {
        if (prefix_.empty() || prefix_[0] != '/')
            throw StoreError("The Wine prefix " + Quoted(prefix_) +
                             " is not an absolute path, which Wine requires. Set WINEPREFIX to the "
                             "prefix's full path, then try again.");
        if (::stat(prefix_.c_str(), &prefixStat_) != 0 || !S_ISDIR(prefixStat_.st_mode))
            throw StoreError("The Wine prefix " + Quoted(prefix_) +
                             " does not exist. Set WINEPREFIX to the prefix to clean (without it, "
                             "~/.wine is used), then try again.");
    }

    // One program at a time changes a prefix: an exclusive lock on the prefix folder, held
    // while this store lives.
    void LockPrefix() {
        prefixLock_ = Fd(::open(prefix_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!prefixLock_.Valid())
            throw StoreError("Cannot open " + PrefixMessage(prefix_) + ": " + ErrnoText(errno) +
                             ". Check that you may read it, then try again.");
        if (::flock(prefixLock_.Get(), LOCK_EX | LOCK_NB) != 0)
            throw StoreError("Another program is already changing " + PrefixMessage(prefix_) +
                             ". Wait until it has finished, then try again.");
    }

    void CheckPresent(const HiveFile& file) const {
        struct stat st {};
        if (::stat(file.path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return;
        throw StoreError("The Wine prefix " + Quoted(prefix_) + " has no registry file " + file.name +
                         ", so it is not a complete Wine prefix. Start a Wine program in it once "
                         "(for example `WINEPREFIX=" + prefix_ + " wineboot`), then try again.");
    }

    void Load(HiveFile& file) {
        const std::string& text = tree_.KeepText(ReadWholeFile(file.path, prefix_));
        detail::LoadedFile loaded;
        detail::FileProblem problem;
        if (!detail::LoadHiveFile(tree_, file.hive, text, loaded, problem))
            throw StoreError("The registry file " + Quoted(file.path) + " of " + PrefixMessage(prefix_) +
                             " is damaged or is not a Wine registry file: line " +
                             std::to_string(problem.line) + ": " + problem.what +
                             ". Nothing was changed; restore the file from a backup (or let Wine "
                             "repair it by starting a Wine program in the prefix), then try again.");
        file.header = loaded.header;
        file.arch = loaded.arch;
    }

    std::string prefix_;
    struct stat prefixStat_ {};
    Fd prefixLock_;
    MemoryRegistry registry_;
    detail::Tree& tree_;
    HiveFile files_[2];
};

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string DefaultWinePrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix)
        return WithoutTrailingSlashes(prefix);
    const char* home = std::getenv("HOME");
    std::string base = home && *home ? home : "";
    if (base.empty())
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) base = pw->pw_dir;
    return WithoutTrailingSlashes(base + "/.wine");
}

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
