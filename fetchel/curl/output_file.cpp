#include "output_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string_view>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fetchel {
namespace {

constexpr std::size_t kMaxNameLength = 255;
constexpr int kMaxLinkHops = 40;  // as many as the system follows before it gives up (ELOOP)

// Temporary files are named "<target name>.part-<pid>-<counter>-<8 hex digits>", or, when that
// would be too long a name, ".fetchel.part-<pid>-<counter>-<8 hex digits>".
constexpr std::string_view kPartMarker = ".part-";
constexpr std::size_t kRandomDigits = 8;

std::string_view FolderOf(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string_view NameOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string Join(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    std::string path(folder);
    if (path.back() != '/') path += '/';
    return path += name;
}

// The file that path names once every symbolic link at its end is followed (a link may point at
// a file that does not exist yet); nothing for a loop of links.
std::optional<std::string> FollowLinks(std::string path) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t length = readlink(path.c_str(), link.data(), link.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) return std::nullopt;
        link.resize(static_cast<std::size_t>(length));
        path = link.front() == '/' ? link : Join(FolderOf(path), link);
    }
    return std::nullopt;
}

// A file can be created at target: the lookup of its name fails only because nothing is there,
// or finds a file (not a folder) to replace. A name too long for the file system
// (ENAMETOOLONG) or a file where a folder should be (ENOTDIR) is caught here, before anything
// is downloaded; a missing folder or one without permission, when the temporary file is made.
bool CanBeCreated(const std::string& target) {
    const std::string_view name = NameOf(target);
    if (name.empty() || name == "." || name == "..") return false;
    struct stat st {};
    if (lstat(target.c_str(), &st) == 0) return !S_ISDIR(st.st_mode);
    return errno == ENOENT;
}

// A name no other call (in this or another process) is using: pid, a counter and a random word.
std::string TemporaryNameFor(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "%.*s%ld-%u-%08x", static_cast<int>(kPartMarker.size()),
                  kPartMarker.data(), static_cast<long>(getpid()), counter.fetch_add(1),
                  static_cast<unsigned>(random()));
    // A long file name plus the suffix could pass the system's limit on one name.
    if (NameOf(target).size() + std::strlen(suffix) <= kMaxNameLength) return target + suffix;
    return Join(FolderOf(target), std::string(".fetchel") + suffix);
}

bool IsDigits(std::string_view text, bool hex = false) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [hex](char c) {
        return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
    });
}

// The process that made a temporary file, read from its name; 0 for any other name.
pid_t PartFileOwner(std::string_view name) {
    const auto marker = name.rfind(kPartMarker);
    if (marker == std::string_view::npos || marker == 0) return 0;
    const std::string_view rest = name.substr(marker + kPartMarker.size());  // pid-counter-random
    const auto first = rest.find('-');
    if (first == std::string_view::npos) return 0;
    const auto second = rest.find('-', first + 1);
    if (second == std::string_view::npos) return 0;
    const std::string_view pid = rest.substr(0, first);
    const std::string_view counter = rest.substr(first + 1, second - first - 1);
    const std::string_view random = rest.substr(second + 1);
    if (!IsDigits(pid) || pid.size() > 9 || !IsDigits(counter) || random.size() != kRandomDigits ||
        !IsDigits(random, true)) {
        return 0;
    }
    pid_t owner = 0;
    for (const char c : pid) owner = owner * 10 + (c - '0');
    return owner;
}

bool ProcessIsGone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

// Removes the temporary files in folder whose downloads ended without cleaning up (the process
// was killed). A download holds a lock on its temporary file for as long as it runs, so a file
// is removed only when the process named in it is gone and nobody holds that lock: a file of a
// running download, or of a process elsewhere that only shares the folder, is left alone.
void RemoveAbandonedPartFiles(std::string_view folder) {
    const std::string folderPath = folder.empty() ? "." : std::string(folder);
    DIR* dir = opendir(folderPath.c_str());
    if (!dir) return;
    while (const dirent* entry = readdir(dir)) {
        const pid_t owner = PartFileOwner(entry->d_name);
        if (owner <= 0 || owner == getpid() || !ProcessIsGone(owner)) continue;
        const int fd = openat(dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0) {
            unlinkat(dirfd(dir), entry->d_name, 0);
        }
        close(fd);
    }
    closedir(dir);
}

}  // namespace

std::optional<OutputFile> OutputFile::CreateFor(const std::string& localPath) {
    const std::optional<std::string> target = FollowLinks(localPath);
    if (!target || !CanBeCreated(*target)) return std::nullopt;
    struct stat existing {};
    const bool replacing = stat(target->c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    RemoveAbandonedPartFiles(FolderOf(*target));
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string path = TemporaryNameFor(*target);
        // 0666 under the umask, as fopen(path, "wb") would create it.
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return std::nullopt;
        if (fd < 0) continue;
        // Held until the file is renamed or removed: it tells a later download that this one is
        // still running. Another process can only hold it if it is cleaning up this very name.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            continue;
        }
        // A replaced file keeps its permission bits.
        if (replacing) fchmod(fd, existing.st_mode & 07777);
        return OutputFile(fd, std::move(path), *target);
    }
    return std::nullopt;
}

bool RemoveTarget(const std::string& localPath) {
    const std::optional<std::string> target = FollowLinks(localPath);
    if (!target) return true;  // a loop of links names no file
    struct stat st {};
    if (lstat(target->c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return true;
    return unlink(target->c_str()) == 0 || errno == ENOENT;
}

OutputFile::OutputFile(int fd, std::string temporaryPath, std::string target)
    : fd_(fd), temporaryPath_(std::move(temporaryPath)), target_(std::move(target)) {}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      temporaryPath_(std::exchange(other.temporaryPath_, {})),
      target_(std::move(other.target_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        Discard();
        fd_ = std::exchange(other.fd_, -1);
        temporaryPath_ = std::exchange(other.temporaryPath_, {});
        target_ = std::move(other.target_);
    }
    return *this;
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
    // Removed before it is closed, so the lock protects the name until it is gone.
    if (!temporaryPath_.empty()) unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool OutputFile::Write(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd_, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool OutputFile::Commit() {
    if (fsync(fd_) != 0) return false;
    if (rename(temporaryPath_.c_str(), target_.c_str()) != 0) return false;
    temporaryPath_.clear();
    close(std::exchange(fd_, -1));  // the data is on disc already; the lock ends here
    return true;
}

}  // namespace fetchel
