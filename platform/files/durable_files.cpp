#include "platform/files/durable_files.h"

#include "platform/files/posix_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string SystemText(int error) { return std::strerror(error); }

// What the user needs to hear about a file that could not be opened: a missing folder is named
// as such, since the system's own text ("No such file or directory") hides which part is missing.
std::string OpenFailureReason(const std::string& path, int error) {
    if (error == ENOENT) {
        const fs::path parent = fs::path(path).parent_path();
        std::error_code ec;
        if (!parent.empty() && !fs::is_directory(parent, ec)) {
            return "the folder \"" + parent.string() + "\" does not exist";
        }
    }
    return SystemText(error);
}

std::string WriteFailureReason(int error) {
    if (error == ENOSPC || error == EDQUOT) return "the disc is full (" + SystemText(error) + ")";
    return SystemText(error);
}

// A newly made folder entry reaches the disc only when the folder itself is synced.
void SyncFolderOf(const std::string& path) {
    fs::path parent = fs::path(path).parent_path();
    if (parent.empty()) parent = ".";
    const FileDescriptor dir = FileDescriptor::Open(parent.string(), O_RDONLY | O_DIRECTORY);
    if (dir.Valid()) ::fsync(dir.Get());  // best effort: some file systems refuse to sync a folder
}

class DurableFileWriter : public FileWriter {
public:
    DurableFileWriter(FileDescriptor fd, std::uint64_t size) : fd_(std::move(fd)), size_(size) {}

    bool Write(std::string_view data, std::string& reason) override {
        if (!failure_.empty()) {
            reason = failure_;
            return false;
        }
        if (!fd_.Valid()) {
            reason = "the file is closed";
            return false;
        }
        if (!WriteAll(data) || ::fdatasync(fd_.Get()) != 0) {
            failure_ = WriteFailureReason(errno);
            // Whatever part of the data got into the file goes again: no half block.
            if (::ftruncate(fd_.Get(), static_cast<off_t>(size_)) == 0) ::fdatasync(fd_.Get());
            reason = failure_;
            return false;
        }
        size_ += data.size();
        return true;
    }

    std::uint64_t Size() const override { return size_; }

    bool Close(std::string& reason) override {
        std::string closing;
        if (!fd_.Close(closing)) {
            reason = WriteFailureReason(errno);
            return false;
        }
        return true;
    }

private:
    bool WriteAll(std::string_view data) {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(fd_.Get(), data.data() + done, data.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (n == 0) {
                errno = ENOSPC;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    FileDescriptor fd_;
    std::uint64_t size_;
    std::string failure_;
};

std::unique_ptr<FileWriter> OpenWriter(const std::string& path, int flags, std::string& reason) {
    // O_NONBLOCK: a pipe without a reader fails instead of waiting for ever.
    FileDescriptor fd = FileDescriptor::Open(path, flags | O_WRONLY | O_CREAT | O_NONBLOCK, 0666);
    if (!fd.Valid()) {
        reason = OpenFailureReason(path, errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        reason = SystemText(errno);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = "it is not a regular file";
        return nullptr;
    }
    SyncFolderOf(path);
    return std::make_unique<DurableFileWriter>(std::move(fd), static_cast<std::uint64_t>(info.st_size));
}

}  // namespace

// Never replaces a file at the new name, not even one that appears between a look and the
// rename; a file system that cannot promise that gets the standard library's look-then-rename.
bool DurableBackupFiles::Rename(const std::string& from, const std::string& to,
                                std::string& reason) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS) {
            reason = errno == EEXIST ? "\"" + to + "\" is there already" : SystemText(errno);
            return false;
        }
        if (!StandardBackupFiles::Rename(from, to, reason)) return false;
    }
    SyncFolderOf(to);
    return true;
}

std::unique_ptr<FileWriter> DurableBackupFiles::Create(const std::string& path,
                                                       std::string& reason) {
    return OpenWriter(path, O_TRUNC, reason);
}

std::unique_ptr<FileWriter> DurableBackupFiles::Append(const std::string& path,
                                                       std::string& reason) {
    return OpenWriter(path, O_APPEND, reason);
}

}  // namespace platform
