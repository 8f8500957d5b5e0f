#include "output_file.h"

#include "part_files.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string_view>
#include <utility>

#include <windows.h>

namespace fetchel::win32 {
namespace {

constexpr int kCreateAttempts = 16;
constexpr DWORD kMostPerWrite = 1u << 30;

// Where the name of the last path element starts: after the last '\', '/' or the ':' of a drive.
std::size_t NameStart(std::string_view path) {
    const auto separator = path.find_last_of("\\/:");
    return separator == std::string_view::npos ? 0 : separator + 1;
}

// The folder part of a path, with its separator, ready to have a name appended ("" for a bare
// name in the current folder, "C:" for one in drive C's current folder).
std::string FolderPrefix(std::string_view path) { return std::string(path.substr(0, NameStart(path))); }

std::string_view NameOf(std::string_view path) { return path.substr(NameStart(path)); }

// Windows' own form of a path from GetFinalPathNameByHandle: "\\?\C:\..." or "\\?\UNC\server\...".
std::string WithoutLongPathPrefix(std::string path) {
    if (path.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + path.substr(8);
    if (path.rfind("\\\\?\\", 0) == 0) return path.substr(4);
    return path;
}

// The file that path names once the links on the way are followed, when it exists; otherwise
// path itself. Asked of every existing file, not only of those marked as reparse points: Wine
// shows a Linux symbolic link as a plain file, yet resolves it here.
std::string FileBehindLinks(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return path;
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return path;
    char final[MAX_PATH + 8] = {};
    const DWORD length = GetFinalPathNameByHandleA(file, final, sizeof final,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    if (length == 0 || length >= sizeof final) return path;
    return WithoutLongPathPrefix(final);
}

// A file can be created at target, as fopen(target, "wb") would: its folder exists and nothing
// is there but a writable file to replace. A missing folder, a name Windows refuses or one too
// long for the narrow functions, a folder or a read-only file in the way are caught here,
// before anything is downloaded; no permission, when the temporary file is made.
bool CanBeCreated(const std::string& target) {
    const std::string_view name = NameOf(target);
    if (name.empty() || name == "." || name == ".." || target.size() >= MAX_PATH) return false;
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
    return !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
}

// A word that differs between calls and processes; the process id and a counter already make
// the name unique within a machine, this keeps a reused id from meeting an old leftover.
std::uint32_t RandomWord(std::uint32_t counter) {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    std::uint64_t x = static_cast<std::uint64_t>(now.QuadPart) ^ (std::uint64_t{GetCurrentThreadId()} << 32) ^
                      (std::uint64_t{counter} * 0x9E3779B97F4A7C15ull) ^ GetTickCount64();
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::uint32_t>(x ^ (x >> 31));
}

// A name no other call (in this or another process) is using.
std::string TemporaryNameFor(const std::string& target) {
    static std::atomic<std::uint32_t> counter{0};
    const std::uint32_t n = counter.fetch_add(1);
    const std::string folder = FolderPrefix(target);
    const std::size_t room = folder.size() + 1 < MAX_PATH ? MAX_PATH - 1 - folder.size() : 0;
    return folder + PartFileName(NameOf(target), kWindowsPartMarker, GetCurrentProcessId(), n, RandomWord(n), room);
}

bool ProcessIsGone(std::uint64_t pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
    DWORD exitCode = 0;
    const bool gone = GetExitCodeProcess(process, &exitCode) && exitCode != STILL_ACTIVE;
    CloseHandle(process);
    return gone;
}

// Removes the temporary files in the folder whose downloads ended without cleaning up (the
// process was killed). A running download holds its file open without letting anyone delete
// it, so the delete fails for those even when their process id was reused; files of this
// process and of processes that still run are not even tried.
void RemoveAbandonedPartFiles(const std::string& folderPrefix) {
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folderPrefix + "*" + std::string(kWindowsPartMarker) + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!IsAbandonedPartFile(found.cFileName, kWindowsPartMarker, GetCurrentProcessId(), ProcessIsGone)) continue;
        DeleteFileA((folderPrefix + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

}  // namespace

std::optional<OutputFile> OutputFile::CreateFor(const std::string& localPath) {
    const std::string target = FileBehindLinks(localPath);
    if (!CanBeCreated(target)) return std::nullopt;
    RemoveAbandonedPartFiles(FolderPrefix(target));
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::string path = TemporaryNameFor(target);
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return OutputFile(file, std::move(path), target);
        if (GetLastError() != ERROR_FILE_EXISTS) return std::nullopt;
    }
    return std::nullopt;
}

bool RemoveTarget(const std::string& localPath) {
    const std::string target = FileBehindLinks(localPath);
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    return DeleteFileA(target.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

OutputFile::OutputFile(void* handle, std::string temporaryPath, std::string target)
    : handle_(handle), temporaryPath_(std::move(temporaryPath)), target_(std::move(target)) {}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)),
      temporaryPath_(std::exchange(other.temporaryPath_, {})),
      target_(std::move(other.target_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        Discard();
        handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        temporaryPath_ = std::exchange(other.temporaryPath_, {});
        target_ = std::move(other.target_);
    }
    return *this;
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
    if (!temporaryPath_.empty()) DeleteFileA(temporaryPath_.c_str());
    temporaryPath_.clear();
}

bool OutputFile::Write(const char* data, std::size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(size, kMostPerWrite));
        if (!WriteFile(handle_, data, part, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

bool OutputFile::Commit() {
    if (!FlushFileBuffers(handle_)) return false;
    // Closed first: Windows does not move a file that is open without sharing for deletion.
    // Until it is moved, a running process id in its name keeps other downloads away from it.
    const bool closed = CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
    if (!closed || !MoveFileExA(temporaryPath_.c_str(), target_.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return false;
    }
    temporaryPath_.clear();
    return true;
}

}  // namespace fetchel::win32
