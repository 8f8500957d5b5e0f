// The backup's files with the standard library alone: each block is handed to the system before
// the key it saves is deleted, so a program that ends early (Cancel, a crash, a kill) leaves every
// block it wrote in the file. The start-up chooses a writer that also flushes to the disc.
#include "cleaner/search/modFennick.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace cleaner {
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

class StandardFileWriter : public platform::FileWriter {
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

class StandardFiles : public platform::BackupFiles {
public:
    bool Remove(const std::string& path, std::string& reason) override {
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(path, ec);
        if (!fs::exists(status)) return true;
        if (fs::is_directory(status)) {
            reason = "\"" + path + "\" is a folder";
            return false;
        }
        if (!fs::remove(path, ec) && ec) {
            reason = ec.message();
            return false;
        }
        return true;
    }

    std::unique_ptr<platform::FileWriter> Create(const std::string& path,
                                                 std::string& reason) override {
        return Open(path, "wb", reason);
    }

    std::unique_ptr<platform::FileWriter> Append(const std::string& path,
                                                 std::string& reason) override {
        return Open(path, "ab", reason);
    }

private:
    static std::unique_ptr<platform::FileWriter> Open(const std::string& path, const char* mode,
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
};

}  // namespace

platform::BackupFiles& StandardBackupFiles() {
    static StandardFiles files;
    return files;
}

}  // namespace cleaner
