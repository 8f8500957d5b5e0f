#include "platform/files/replacement_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace platform {
namespace {

constexpr std::string_view kUniqueChars = "XXXXXX";  // mkstemp's letters and digits

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsUniqueName(std::string_view name, std::string_view prefix) {
    if (name.size() != prefix.size() + kUniqueChars.size() || name.substr(0, prefix.size()) != prefix) return false;
    for (const char c : name.substr(prefix.size()))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

}  // namespace

ReplacementFile::~ReplacementFile() { Discard(); }

ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept
    : target_(std::move(other.target_)), folder_(std::move(other.folder_)),
      temp_(std::exchange(other.temp_, {})), file_(std::move(other.file_)), lock_(std::move(other.lock_)) {}

ReplacementFile& ReplacementFile::operator=(ReplacementFile&& other) noexcept {
    if (this != &other) {
        Discard();
        target_ = std::move(other.target_);
        folder_ = std::move(other.folder_);
        temp_ = std::exchange(other.temp_, {});
        file_ = std::move(other.file_);
        lock_ = std::move(other.lock_);
    }
    return *this;
}

void ReplacementFile::Discard() {
    // Removed before the lock ends, so the lock protects the name until it is gone.
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    file_.Reset();
    lock_.Reset();
}

bool ReplacementFile::Fail(const char* what, std::string& reason) {
    const int error = errno;
    reason = std::string(what) + " (" + std::strerror(error) + ")";
    errno = error;
    return false;
}

bool ReplacementFile::Create(const std::string& target, const std::string& temporaryName, std::string& reason) {
    Discard();
    const std::optional<std::string> behind = FileBehindLinks(target);
    if (!behind) return Fail("cannot follow its links", reason);
    target_ = *behind;
    folder_ = FolderOf(target_);
    std::string path = folder_ + "/" + temporaryName;
    if (temporaryName.ends_with(kUniqueChars)) {
        file_ = FileDescriptor(::mkostemp(path.data(), O_CLOEXEC));
    } else {
        // 0666 under the umask, as fopen(path, "wb") would create it.
        file_ = FileDescriptor::Open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
    }
    if (!file_.Valid()) return Fail("cannot create a temporary file beside it", reason);
    temp_ = std::move(path);
    // A second descriptor on the same open file keeps the lock while the first is closed
    // (closing is the last check that the data was written). Another process holds it only
    // while it clears this very name away: the name is then not ours to use.
    lock_ = FileDescriptor(::fcntl(file_.Get(), F_DUPFD_CLOEXEC, 0));
    if (!lock_.Valid()) return Fail("cannot lock its temporary file", reason);
    if (::flock(lock_.Get(), LOCK_EX | LOCK_NB) != 0) {
        lock_.Reset();
        temp_.clear();  // whoever holds the lock removes the file
        file_.Reset();
        errno = EEXIST;
        return Fail("cannot lock its temporary file", reason);
    }
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        ::fchmod(file_.Get(), st.st_mode & 07777);
        if (::fchown(file_.Get(), st.st_uid, st.st_gid) != 0) { /* keeps our own owner */ }
    }
    return true;
}

bool ReplacementFile::Write(std::string_view data, std::string& reason) {
    while (!data.empty()) {
        const ssize_t n = ::write(file_.Get(), data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;
        if (n <= 0) return Fail("cannot write it", reason);
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ReplacementFile::Finish(std::string& reason) {
    if (::fsync(file_.Get()) != 0) return Fail("cannot flush it to disc", reason);
    std::string closing;
    if (!file_.Close(closing)) return Fail("cannot close it", reason);
    return true;
}

bool ReplacementFile::Commit(struct stat& written, std::string& reason) {
    if (::fstat(lock_.Get(), &written) != 0) return Fail("cannot check the written file", reason);
    if (::rename(temp_.c_str(), target_.c_str()) != 0) return Fail("cannot replace it", reason);
    temp_.clear();
    const FileDescriptor folder = FileDescriptor::Open(folder_, O_RDONLY | O_DIRECTORY);
    if (folder.Valid()) ::fsync(folder.Get());  // best effort: some file systems refuse
    // The rename changed the file's status time; the rest is as written.
    struct stat now {};
    if (::fstat(lock_.Get(), &now) == 0) written = now;
    lock_.Reset();
    return true;
}

std::string ReplacementName(const std::string& target, const std::string& tag) {
    const std::optional<std::string> behind = FileBehindLinks(target);
    return "." + NameOf(behind ? *behind : target) + "." + tag + "-" + std::string(kUniqueChars);
}

void RemoveAbandonedTemporaries(const std::string& folder,
                                const std::function<bool(std::string_view name)>& isAbandoned) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!isAbandoned(entry->d_name)) continue;
        const int fd = ::openat(::dirfd(dir.get()), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        const FileDescriptor file(fd);
        struct stat st {};
        if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        // Held: a live process is still writing it.
        if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0) continue;
        ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
    }
}

void RemoveAbandonedReplacements(const std::string& target, const std::string& tag) {
    const std::optional<std::string> behind = FileBehindLinks(target);
    const std::string resolved = behind ? *behind : target;
    std::string prefix = ReplacementName(resolved, tag);
    prefix.resize(prefix.size() - kUniqueChars.size());
    RemoveAbandonedTemporaries(FolderOf(resolved),
                               [&prefix](std::string_view name) { return IsUniqueName(name, prefix); });
}

}  // namespace platform
