// The backup's files with the standard library alone; see standard_files.h.
#include "platform/files/standard_files.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <utility>

namespace platform {
namespace {

namespace fs = std::filesystem;

// The system's text for errno, and, when the file's folder is missing, that simpler fact.
std::string OpenFailureReason(const std::string& path, int error) {
    const fs::path parent = fs::path(path).parent_path();
    std::error_code ec;
    if (!parent.empty() && !fs::exists(parent, ec)) {
        return "the folder \"" + parent.string() + "\" does not exist";
    }
    return std::strerror(error);
}

class StandardFileWriter : public FileWriter {
public:
    StandardFileWriter(std::FILE* file, std::string path, std::uint64_t size)
        : file_(file), path_(std::move(path)), size_(size) {}
    ~StandardFileWriter() override {
        if (file_ != nullptr) std::fclose(file_);
    }
    StandardFileWriter(const StandardFileWriter&) = delete;
    StandardFileWriter& operator=(const StandardFileWriter&) = delete;

    bool Write(std::string_view data, std::string& reason) override {
        if (file_ == nullptr) {
            reason = failure_.empty() ? "the file is closed" : failure_;
            return false;
        }
        errno = 0;
        const bool written = std::fwrite(data.data(), 1, data.size(), file_) == data.size() &&
                             std::fflush(file_) == 0;
        if (written) {
            size_ += data.size();
            return true;
        }
        failure_ = errno != 0 ? std::strerror(errno) : "the data could not be written";
        CutBack();
        reason = failure_;
        return false;
    }

    std::uint64_t Size() const override { return size_; }

    bool Close(std::string& reason) override {
        if (file_ == nullptr) {
            reason = failure_.empty() ? "the file is closed" : failure_;
            return failure_.empty();
        }
        errno = 0;
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!closed) {
            failure_ = errno != 0 ? std::strerror(errno) : "the file could not be closed";
            reason = failure_;
        }
        return closed;
    }

private:
    // Drops what a failed write left behind, so the file ends after the last whole block.
    void CutBack() {
        std::fclose(file_);
        file_ = nullptr;
        std::error_code ec;
        fs::resize_file(path_, size_, ec);
    }

    std::FILE* file_;
    std::string path_;
    std::uint64_t size_;
    std::string failure_;
};

std::unique_ptr<FileWriter> OpenWriter(const std::string& path, const char* mode,
                                       std::string& reason) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), mode);
    if (file == nullptr) {
        reason = OpenFailureReason(path, errno);
        return nullptr;
    }
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    return std::make_unique<StandardFileWriter>(file, path, ec ? 0 : size);
}

}  // namespace

// A link that leads nowhere is told by its own status, a link that leads somewhere by the
// status of what it leads to.
bool StandardBackupFiles::Look(const std::string& path, PathFacts& facts, std::string& reason) {
    facts = PathFacts{};
    facts.file = path;
    std::error_code ec;
    const fs::path native = NativePath(path);
    const fs::file_status own = fs::symlink_status(native, ec);
    if (own.type() == fs::file_type::not_found) return true;
    if (ec) {
        reason = ec.message();
        return false;
    }
    fs::file_status status = own;
    if (fs::is_symlink(own)) {
        status = fs::status(native, ec);
        if (status.type() == fs::file_type::not_found) {
            facts.kind = PathFacts::Kind::DanglingLink;
            facts.file = NarrowPath(fs::read_symlink(native, ec));
            return true;
        }
        facts.file = NarrowPath(fs::canonical(native, ec));
        if (ec) {
            reason = ec.message();
            return false;
        }
    }
    if (fs::is_directory(status)) {
        facts.kind = PathFacts::Kind::Folder;
    } else if (!fs::is_regular_file(status)) {
        facts.kind = PathFacts::Kind::Other;
    } else {
        facts.kind = PathFacts::Kind::RegularFile;
        const fs::path file = NativePath(facts.file);
        facts.size = fs::file_size(file, ec);
        const fs::file_time_type written = fs::last_write_time(file, ec);
        if (!ec) facts.modified = std::chrono::file_clock::to_sys(written);
    }
    return true;
}

bool StandardBackupFiles::ReadStart(const std::string& path, std::size_t limit, std::string& bytes,
                                    std::string& reason) {
    errno = 0;
    std::ifstream in(NativePath(path), std::ios::binary);
    if (in.is_open()) {
        bytes.assign(limit, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(limit));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        if (!in.bad()) return true;
    }
    reason = errno != 0 ? std::strerror(errno) : "it could not be read";
    return false;
}

// The standard library's rename replaces what it finds at the new name, so that name is looked
// at first (nothing else names files in the backup's folder between the two steps).
bool StandardBackupFiles::Rename(const std::string& from, const std::string& to,
                                 std::string& reason) {
    std::error_code ec;
    if (fs::symlink_status(NativePath(to), ec).type() != fs::file_type::not_found) {
        reason = "\"" + to + "\" is there already";
        return false;
    }
    fs::rename(NativePath(from), NativePath(to), ec);
    if (ec) {
        reason = ec.message();
        return false;
    }
    return true;
}

bool StandardBackupFiles::Remove(const std::string& path, std::string& reason) {
    std::error_code ec;
    const fs::path native = NativePath(path);
    const fs::file_status status = fs::symlink_status(native, ec);
    if (!fs::exists(status)) return true;
    if (fs::is_directory(status)) {
        reason = "\"" + path + "\" is a folder";
        return false;
    }
    if (!fs::remove(native, ec) && ec) {
        reason = ec.message();
        return false;
    }
    return true;
}

std::unique_ptr<FileWriter> StandardBackupFiles::Create(const std::string& path,
                                                        std::string& reason) {
    return OpenWriter(path, "wb", reason);
}

std::unique_ptr<FileWriter> StandardBackupFiles::Append(const std::string& path,
                                                        std::string& reason) {
    return OpenWriter(path, "ab", reason);
}

BackupFiles& StandardFiles() {
    static StandardBackupFiles files;
    return files;
}

}  // namespace platform
