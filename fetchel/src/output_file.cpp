#include "output_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fetchel {
namespace {

constexpr std::size_t kMaxNameLength = 255;

// A name no other call (in this or another process) is using: pid, a counter and a random word.
std::string TemporaryNameFor(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".part-%ld-%u-%08x", static_cast<long>(getpid()),
                  counter.fetch_add(1), static_cast<unsigned>(random()));
    // A long file name plus the suffix could pass the system's limit on one name.
    const auto slash = target.rfind('/');
    const std::size_t nameLength = slash == std::string::npos ? target.size() : target.size() - slash - 1;
    if (nameLength + std::strlen(suffix) <= kMaxNameLength) return target + suffix;
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
    return folder + "/.fetchel" + suffix;
}

}  // namespace

std::optional<OutputFile> OutputFile::CreateBeside(const std::string& target) {
    if (target.empty()) return std::nullopt;
    struct stat existing {};
    const bool targetExists = stat(target.c_str(), &existing) == 0;
    if (targetExists && S_ISDIR(existing.st_mode)) return std::nullopt;
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string path = TemporaryNameFor(target);
        // 0666 under the umask, as fopen(path, "wb") would create it.
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // A replaced file keeps its permission bits.
            if (targetExists && S_ISREG(existing.st_mode)) fchmod(fd, existing.st_mode & 07777);
            return OutputFile(fd, std::move(path), target);
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

OutputFile::OutputFile(int fd, std::string temporaryPath, std::string target)
    : fd_(fd), temporaryPath_(std::move(temporaryPath)), target_(std::move(target)) {}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      temporaryPath_(std::move(other.temporaryPath_)),
      target_(std::move(other.target_)) {
    other.temporaryPath_.clear();
}

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
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temporaryPath_.empty()) unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
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
    const int fd = std::exchange(fd_, -1);
    if (close(fd) != 0) return false;
    if (rename(temporaryPath_.c_str(), target_.c_str()) != 0) return false;
    temporaryPath_.clear();
    return true;
}

}  // namespace fetchel
