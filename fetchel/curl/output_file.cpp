#include "output_file.h"

#include "part_files.h"

#include <atomic>
#include <cerrno>
#include <limits>
#include <random>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fetchel {
namespace {

constexpr std::size_t kMaxNameLength = 255;
constexpr int kCreateAttempts = 16;

std::string_view FolderOf(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string_view NameOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A file can be written at target, as fopen(target, "wb") would: the lookup of its name fails
// only because nothing is there, or finds a regular file the caller may write. A name too long
// for the file system (ENAMETOOLONG), a file where a folder should be (ENOTDIR), a folder, a
// device, a FIFO or a socket in the way (which a rename would replace), a file the caller may
// not write and a read-only file (no write permission for anyone: what Windows and Wine call
// read-only, which even an administrator's download leaves alone) are caught here, before the
// body is fetched; a missing folder or one without permission, when the temporary file is made.
bool CanBeWritten(const std::string& target) {
    const std::string_view name = NameOf(target);
    if (name.empty() || name == "." || name == "..") return false;
    struct stat st {};
    if (lstat(target.c_str(), &st) != 0) return errno == ENOENT;
    return S_ISREG(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
           faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0;
}

// A name no other call (in this or another process) is using: pid, a counter and a random word.
std::string TemporaryNameFor(const std::string& target) {
    static std::atomic<std::uint32_t> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    return PartFileName(NameOf(target), kPosixPartMarker, static_cast<std::uint64_t>(getpid()),
                        counter.fetch_add(1), static_cast<std::uint32_t>(random()), kMaxNameLength);
}

bool ProcessIsGone(std::uint64_t pid) {
    if (pid > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max())) return false;  // no such id here
    return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace

std::optional<OutputFile> OutputFile::CreateFor(const std::string& localPath) {
    const std::optional<std::string> target = platform::FileBehindLinks(localPath);
    if (!target || !CanBeWritten(*target)) return std::nullopt;
    const std::string_view folder = FolderOf(*target);
    platform::RemoveAbandonedTemporaries(std::string(folder), [](std::string_view name) {
        return IsAbandonedPartFile(name, kPosixPartMarker, static_cast<std::uint64_t>(getpid()), ProcessIsGone);
    });
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        platform::ReplacementFile file;
        std::string reason;
        if (file.Create(*target, TemporaryNameFor(*target), reason)) return OutputFile(std::move(file));
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

bool RemoveTarget(const std::string& localPath) {
    const std::optional<std::string> target = platform::FileBehindLinks(localPath);
    if (!target) return true;  // a loop of links names no file
    struct stat st {};
    if (lstat(target->c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return true;
    // What a download may not replace it may not remove either.
    if (!CanBeWritten(*target)) return false;
    return unlink(target->c_str()) == 0 || errno == ENOENT;
}

bool OutputFile::Write(const char* data, std::size_t size) {
    std::string reason;
    return file_.Write({data, size}, reason);
}

bool OutputFile::Commit() {
    std::string reason;
    struct stat written {};
    return file_.Finish(reason) && file_.Commit(written, reason);
}

}  // namespace fetchel
