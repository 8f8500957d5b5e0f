// Plain POSIX file access shared by the parts that read a Wine prefix's files: a descriptor that
// closes itself, the read of a whole file, and the following of symbolic links.
//
// As everywhere in platform/files, a failure is false with a reason (the system's text for it,
// or a plainer one); errno is then the failing call's, for a caller that must tell a missing
// file from other failures.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A file descriptor, closed when it goes. Movable, not copyable.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { Reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    // Opens path with open(2)'s flags (O_CLOEXEC is added); invalid on failure (errno says why).
    static FileDescriptor Open(const std::string& path, int flags, mode_t mode = 0);

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int Release();
    // Closes the descriptor; false with a reason when close(2) reports that data was lost.
    bool Close(std::string& reason);
    // Closes it, whatever close(2) says.
    void Reset();

private:
    int fd_ = -1;
};

// No limit on the size of a file that ReadWholeFile reads.
inline constexpr std::uint64_t kAnySize = UINT64_MAX;

// Reads an open regular file from its start to its end, whatever size it had when it was
// opened (a file that grows meanwhile is read to its new end). info, when given, receives the
// file's status as it was when the read began. A folder fails with EISDIR and what is not a
// regular file at all (a device, a pipe) with EINVAL, so that a reader never blocks on one; a
// file that is, or grows, larger than maxSize bytes with EFBIG (nothing more than maxSize + 1
// bytes is then held).
bool ReadWholeFile(int fd, std::string& contents, std::string& reason, struct stat* info = nullptr,
                   std::uint64_t maxSize = kAnySize);
bool ReadWholeFile(int fd, std::vector<std::uint8_t>& contents, std::string& reason,
                   struct stat* info = nullptr, std::uint64_t maxSize = kAnySize);

// The same for a path (ENOENT when nothing is there, ENOTDIR when a folder on the way is none).
// What is not a regular file is refused before it is opened.
bool ReadWholeFile(const std::string& path, std::string& contents, std::string& reason,
                   struct stat* info = nullptr, std::uint64_t maxSize = kAnySize);
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& contents, std::string& reason,
                   struct stat* info = nullptr, std::uint64_t maxSize = kAnySize);

// What the symbolic link at path holds (where it points); empty when path is no link or cannot be
// read.
std::string LinkText(const std::string& path);

// The file that path names once every symbolic link at its end is followed, as writing at path
// would reach it (a link may lead to a file that does not exist yet); nothing for a loop of
// links or a link that cannot be read.
std::optional<std::string> FileBehindLinks(std::string path);

}  // namespace platform
