// The file a download writes: a temporary file beside the target, moved over the target only
// when the whole body is in it and on disc. Until then the target is untouched, and a download
// that fails removes its temporary file.
//
// The temporary file is "<target name>.part-w<process id>-<n>-<8 hex digits>" (or, when that
// path would be too long, ".fetchel.part-w..." in the same folder). It is open without sharing
// for writing or deleting while the download runs: that open handle is its lock, and a file
// that nobody holds open and whose process is gone is a leftover of a download that was killed.
// (The "w" keeps these apart from the Linux library's, whose owners are Linux process ids.)
//
// When localPath is a symbolic link to an existing file (under Wine also a Linux one), that file
// is written and the link stays; a dangling link is replaced by the downloaded file, as
// Windows' own rename does.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace fetchel::win32 {

class OutputFile {
public:
    // Creates the temporary file for a download into localPath; nothing when the target could
    // not be created there (a missing folder, no permission, a name too long, a folder or a
    // read-only file in the way). First removes the leftovers of killed downloads in that folder.
    static std::optional<OutputFile> CreateFor(const std::string& localPath);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // removes the temporary file unless it was committed

    // Appends all the bytes; false when the system refuses any of them (a full disc).
    bool Write(const char* data, std::size_t size);

    // Flushes the file to disc, closes it and moves it over the target.
    bool Commit();

private:
    OutputFile(void* handle, std::string temporaryPath, std::string target);
    void Discard();

    void* handle_;  // the Win32 file handle; INVALID_HANDLE_VALUE once closed
    std::string temporaryPath_;
    std::string target_;
};

// Makes sure no file is left at localPath: what a download of an empty body leaves. False when a
// file is there and cannot be removed.
bool RemoveTarget(const std::string& localPath);

}  // namespace fetchel::win32
