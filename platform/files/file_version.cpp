#include "platform/files/file_version.h"

#include "platform/files/posix_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

namespace platform {
namespace {

// File times are kept in coarse steps; a write within the same step as the one before it
// may leave the modification time as it was. Times this close to now prove nothing yet.
constexpr std::time_t kTimeGrainSeconds = 2;

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool Settled(const timespec& time, const timespec& now) { return time.tv_sec + kTimeGrainSeconds < now.tv_sec; }

}  // namespace

FileVersion::FileVersion(const struct stat& status, std::shared_ptr<const std::string> contents)
    : status_(status), known_(true), contents_(std::move(contents)) {
    Trust(status);
}

FileVersion::FileVersion(const struct stat& status) : status_(status), known_(true), statusProves_(true) {}

void FileVersion::Trust(const struct stat& status) {
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    status_ = status;
    statusProves_ = Settled(status.st_mtim, now) && Settled(status.st_ctim, now);
}

bool FileVersion::SameStatus(const struct stat& status) const {
    return status.st_dev == status_.st_dev && status.st_ino == status_.st_ino &&
           status.st_size == status_.st_size && SameTime(status.st_mtim, status_.st_mtim) &&
           SameTime(status.st_ctim, status_.st_ctim);
}

bool FileVersion::Matches(const std::string& path) {
    if (!known_) return false;
    const FileDescriptor file = FileDescriptor::Open(path, O_RDONLY | O_NONBLOCK);
    struct stat status {};
    if (!file.Valid() || ::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    if (statusProves_ && SameStatus(status)) return true;
    if (!contents_ || static_cast<std::size_t>(status.st_size) != contents_->size()) return false;
    if (!SameBytes(file.Get())) return false;
    Trust(status);
    return true;
}

// Compares the file, read in pieces, with the bytes kept.
bool FileVersion::SameBytes(int fd) const {
    std::vector<char> piece(1 << 20);
    std::size_t at = 0;
    for (;;) {
        const ssize_t n = ::read(fd, piece.data(), piece.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return at == contents_->size();
        const auto size = static_cast<std::size_t>(n);
        if (size > contents_->size() - at || std::memcmp(piece.data(), contents_->data() + at, size) != 0)
            return false;
        at += size;
    }
}

}  // namespace platform
