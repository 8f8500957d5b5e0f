#include "platform/files/replacement_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace platform {
namespace {

constexpr std::string_view kUniqueChars = "XXXXXX";  // mkstemp's letters and digits

// The file a symbolic link names; any other path as it is.
std::string Resolved(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved)) return resolved;
    }
    return path;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TempPrefix(const std::string& target, const std::string& tag) {
    return "." + NameOf(target) + "." + tag + "-";
}

bool IsTempName(std::string_view name, std::string_view prefix) {
    if (name.size() != prefix.size() + kUniqueChars.size() || name.substr(0, prefix.size()) != prefix) return false;
    for (const char c : name.substr(prefix.size()))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

[[noreturn]] void Fail(const std::string& what) { throw FileError(what, errno); }

}  // namespace

ReplacementFile::ReplacementFile(const std::string& target, const std::string& tag)
    : target_(Resolved(target)), folder_(FolderOf(target_)) {
    std::string pattern = folder_ + "/" + TempPrefix(target_, tag) + std::string(kUniqueChars);
    file_ = FileDescriptor(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!file_.Valid()) Fail("cannot create a temporary file beside it");
    temp_ = pattern;
    // A second descriptor on the same open file keeps the lock while the first is closed
    // (closing is the last check that the data was written).
    lock_ = FileDescriptor(::fcntl(file_.Get(), F_DUPFD_CLOEXEC, 0));
    if (!lock_.Valid() || ::flock(lock_.Get(), LOCK_EX) != 0) Fail("cannot lock its temporary file");
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0) {
        ::fchmod(file_.Get(), st.st_mode & 07777);
        if (::fchown(file_.Get(), st.st_uid, st.st_gid) != 0) { /* keeps our own owner */ }
    }
}

ReplacementFile::~ReplacementFile() {
    if (!temp_.empty()) ::unlink(temp_.c_str());
}

void ReplacementFile::Write(std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(file_.Get(), data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;
        if (n <= 0) Fail("cannot write it");
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

void ReplacementFile::Finish() {
    if (::fsync(file_.Get()) != 0) Fail("cannot flush it to disc");
    if (const int error = file_.Close(); error != 0) {
        errno = error;
        Fail("cannot close it");
    }
}

struct stat ReplacementFile::Commit() {
    struct stat written {};
    if (::fstat(lock_.Get(), &written) != 0) Fail("cannot check the written file");
    if (::rename(temp_.c_str(), target_.c_str()) != 0) Fail("cannot replace it");
    temp_.clear();
    const FileDescriptor folder = FileDescriptor::Open(folder_, O_RDONLY | O_DIRECTORY);
    if (folder.Valid()) ::fsync(folder.Get());  // best effort: some file systems refuse
    // The rename changed the file's status time; the rest is as written.
    struct stat now {};
    if (::fstat(lock_.Get(), &now) == 0) written = now;
    lock_.Reset();
    return written;
}

void RemoveAbandonedReplacements(const std::string& target, const std::string& tag) {
    const std::string resolved = Resolved(target);
    const std::string folder = FolderOf(resolved);
    const std::string prefix = TempPrefix(resolved, tag);
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!IsTempName(entry->d_name, prefix)) continue;
        const std::string path = folder + "/" + entry->d_name;
        const FileDescriptor file = FileDescriptor::Open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        struct stat st {};
        if (!file.Valid() || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        // Held: a live process is still writing it.
        if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0) continue;
        ::unlink(path.c_str());
    }
}

}  // namespace platform
