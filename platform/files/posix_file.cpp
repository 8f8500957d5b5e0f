#include "platform/files/posix_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        Reset();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FileDescriptor FileDescriptor::Open(const std::string& path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return FileDescriptor(fd);
}

int FileDescriptor::Release() { return std::exchange(fd_, -1); }

bool FileDescriptor::Close(std::string& reason) {
    if (fd_ < 0) return true;
    const int fd = std::exchange(fd_, -1);
    // close(2) must not be retried on EINTR: the descriptor is gone either way.
    if (::close(fd) == 0 || errno == EINTR) return true;
    const int error = errno;
    reason = std::strerror(error);
    errno = error;
    return false;
}

void FileDescriptor::Reset() {
    std::string ignored;
    Close(ignored);
}

namespace {

template <typename Buffer>
int ReadAll(int fd, Buffer& contents, struct stat* info, std::uint64_t maxSize) {
    contents.clear();
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (info) *info = st;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > maxSize) return EFBIG;
    // Read straight into the buffer; one byte more than the size, so that the end is seen
    // without growing the buffer when the file kept its size.
    const std::uint64_t most = maxSize == kAnySize ? kAnySize : maxSize + 1;
    contents.resize(static_cast<std::size_t>(size + 1));
    std::size_t used = 0;
    for (;;) {
        if (used == contents.size()) {
            if (used >= most) {
                contents.clear();
                return EFBIG;
            }
            const std::uint64_t grown = contents.size() + contents.size() / 2 + (1 << 16);
            contents.resize(static_cast<std::size_t>(std::min(grown, most)));
        }
        const ssize_t n = ::read(fd, contents.data() + used, contents.size() - used);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            contents.clear();
            return error;
        }
        used += static_cast<std::size_t>(n);
    }
    contents.resize(used);
    return 0;
}

template <typename Buffer>
int ReadPath(const std::string& path, Buffer& contents, struct stat* info, std::uint64_t maxSize) {
    contents.clear();
    // Opening a device can do things of its own, and opening a pipe can wait for a writer: only
    // a regular file is opened (O_NONBLOCK covers one that takes the file's place meanwhile).
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    const FileDescriptor file = FileDescriptor::Open(path, O_RDONLY | O_NONBLOCK);
    if (!file.Valid()) return errno;
    return ReadAll(file.Get(), contents, info, maxSize);
}

// The read's errno as the convention of this folder: false with the system's text.
bool Answer(int error, std::string& reason) {
    if (error == 0) return true;
    reason = std::strerror(error);
    errno = error;
    return false;
}

}  // namespace

bool ReadWholeFile(int fd, std::string& contents, std::string& reason, struct stat* info, std::uint64_t maxSize) {
    return Answer(ReadAll(fd, contents, info, maxSize), reason);
}

bool ReadWholeFile(int fd, std::vector<std::uint8_t>& contents, std::string& reason, struct stat* info,
                   std::uint64_t maxSize) {
    return Answer(ReadAll(fd, contents, info, maxSize), reason);
}

bool ReadWholeFile(const std::string& path, std::string& contents, std::string& reason, struct stat* info,
                   std::uint64_t maxSize) {
    return Answer(ReadPath(path, contents, info, maxSize), reason);
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& contents, std::string& reason,
                   struct stat* info, std::uint64_t maxSize) {
    return Answer(ReadPath(path, contents, info, maxSize), reason);
}

std::optional<std::string> FileBehindLinks(std::string path) {
    constexpr int kMaxLinkHops = 40;  // as many as the system follows before it gives up (ELOOP)
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) return std::nullopt;
        link.resize(static_cast<std::size_t>(length));
        if (link.front() == '/') {
            path = std::move(link);
        } else {
            const std::size_t slash = path.rfind('/');
            path = slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
        }
    }
    errno = ELOOP;
    return std::nullopt;
}

std::string LinkText(const std::string& path) {
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace platform
