#include "platform/win32/win32_files.h"

#include "platform/win32/code_page.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>

namespace platform {
namespace {

// The most WriteFile is handed at once (its size is a DWORD).
constexpr std::size_t kLargestWrite = 1u << 30;

std::string FolderOf(const std::string& path) {
    const std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

// What the user needs to hear about a file that could not be opened: a missing folder is named
// as such, since Windows' own text does not say which part of the path is missing.
std::string OpenFailureReason(const std::string& path, DWORD error) {
    if (error == ERROR_PATH_NOT_FOUND) {
        const std::string folder = FolderOf(path);
        if (!folder.empty() && ::GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return "the folder \"" + folder + "\" does not exist";
        }
    }
    return SystemErrorText(error);
}

std::string WriteFailureReason(DWORD error) {
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
        return "the disc is full (" + SystemErrorText(error) + ")";
    }
    return SystemErrorText(error);
}

bool MoveTo(HANDLE file, std::uint64_t offset) {
    LARGE_INTEGER where{};
    where.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(file, where, nullptr, FILE_BEGIN) != 0;
}

class Win32FileWriter : public FileWriter {
public:
    Win32FileWriter(HANDLE file, std::uint64_t size) : file_(file), size_(size) {}
    ~Win32FileWriter() override {
        if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
    }
    Win32FileWriter(const Win32FileWriter&) = delete;
    Win32FileWriter& operator=(const Win32FileWriter&) = delete;

    bool Write(std::string_view data, std::string& reason) override {
        if (!failure_.empty()) {
            reason = failure_;
            return false;
        }
        if (file_ == INVALID_HANDLE_VALUE) {
            reason = "the file is closed";
            return false;
        }
        if (!WriteAll(data) || !::FlushFileBuffers(file_)) {
            failure_ = WriteFailureReason(::GetLastError());
            // Whatever part of the data got into the file goes again: no half block.
            if (MoveTo(file_, size_) && ::SetEndOfFile(file_)) ::FlushFileBuffers(file_);
            reason = failure_;
            return false;
        }
        size_ += data.size();
        return true;
    }

    std::uint64_t Size() const override { return size_; }

    bool Close(std::string& reason) override {
        if (file_ == INVALID_HANDLE_VALUE) return true;
        const HANDLE file = file_;
        file_ = INVALID_HANDLE_VALUE;
        if (!::CloseHandle(file)) {
            reason = WriteFailureReason(::GetLastError());
            return false;
        }
        return true;
    }

private:
    bool WriteAll(std::string_view data) {
        while (!data.empty()) {
            const auto chunk = static_cast<DWORD>(std::min(data.size(), kLargestWrite));
            DWORD written = 0;
            if (!::WriteFile(file_, data.data(), chunk, &written, nullptr)) return false;
            if (written == 0) {
                ::SetLastError(ERROR_DISK_FULL);
                return false;
            }
            data.remove_prefix(written);
        }
        return true;
    }

    HANDLE file_;
    std::uint64_t size_;
    std::string failure_;
};

enum class Start { Empty, AtTheEnd };

// Opens (creating when missing) a file on a disc for writing, emptied or at its end. Anything
// else at the path is refused before a byte of it is changed.
std::unique_ptr<FileWriter> OpenWriter(const std::string& path, Start start,
                                       std::string& reason) {
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = OpenFailureReason(path, ::GetLastError());
        return nullptr;
    }
    auto refuse = [&](std::string why) -> std::unique_ptr<FileWriter> {
        ::CloseHandle(file);
        reason = std::move(why);
        return nullptr;
    };
    if (::GetFileType(file) != FILE_TYPE_DISK) return refuse("it is not a regular file");
    LARGE_INTEGER size{};
    if (start == Start::Empty) {
        if (!::SetEndOfFile(file)) return refuse(WriteFailureReason(::GetLastError()));
    } else if (!::GetFileSizeEx(file, &size) || !MoveTo(file, static_cast<std::uint64_t>(size.QuadPart))) {
        return refuse(SystemErrorText(::GetLastError()));
    }
    return std::make_unique<Win32FileWriter>(file, static_cast<std::uint64_t>(size.QuadPart));
}

}  // namespace

std::string SystemErrorText(unsigned long code) {
    char text[512] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         code, 0, text, sizeof text, nullptr);
    std::string words(text, length);
    while (!words.empty() && (words.back() == '\r' || words.back() == '\n' ||
                              words.back() == ' ' || words.back() == '.')) {
        words.pop_back();
    }
    if (words.empty()) words = "Windows error " + std::to_string(code);
    return words;
}

std::filesystem::path Win32BackupFiles::NativePath(const std::string& narrow) const {
    return std::filesystem::path(WideFromCodePage(narrow, CP_ACP));
}

std::string Win32BackupFiles::NarrowPath(const std::filesystem::path& path) const {
    return CodePageFromWide(path.native(), CP_ACP);
}

// MoveFileExA without MOVEFILE_REPLACE_EXISTING fails when the new name is taken, in one step
// that nothing can come between.
bool Win32BackupFiles::Rename(const std::string& from, const std::string& to,
                              std::string& reason) {
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD error = ::GetLastError();
    reason = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
                 ? "\"" + to + "\" is there already"
                 : SystemErrorText(error);
    return false;
}

std::unique_ptr<FileWriter> Win32BackupFiles::Create(const std::string& path,
                                                     std::string& reason) {
    return OpenWriter(path, Start::Empty, reason);
}

std::unique_ptr<FileWriter> Win32BackupFiles::Append(const std::string& path,
                                                     std::string& reason) {
    return OpenWriter(path, Start::AtTheEnd, reason);
}

}  // namespace platform
