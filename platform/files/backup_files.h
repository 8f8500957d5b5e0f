// The file access behind the removal's backup file. The removal writes each key's block and
// makes sure it is on the disc before it deletes that key, and it must be able to tell the user
// why a file could not be made or written; tests make those failures happen on purpose.
//
// Standard library only: the removal that uses it builds for Windows too. standard_files.h has
// the implementation with the standard library alone; durable_files.h (POSIX) and
// platform/win32/win32_files.h (Windows) build on it with writes that reach the disc.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// What is at a path, as the backup needs to know it before writing there.
struct PathFacts {
    enum class Kind {
        Nothing,       // no file of that name
        RegularFile,   // a regular file, or a symbolic link that leads to one
        Folder,        // a folder, or a link that leads to one
        DanglingLink,  // a symbolic link that leads nowhere
        Other,         // a device, a pipe, a socket
    };
    Kind kind = Kind::Nothing;
    // The file that writing at the path reaches: the path itself, or the file a symbolic link
    // leads to (where a dangling link points).
    std::string file;
    // Of a regular file: its size and when it was last written.
    std::uint64_t size = 0;
    std::chrono::system_clock::time_point modified{};
};

// One file open for writing, closed when destroyed.
class FileWriter {
public:
    virtual ~FileWriter() = default;

    // Writes data at the end of the file and flushes it, so that it is in the file before the
    // call returns. On failure reason says why, the file is cut back to where it ended before
    // this call (a backup never ends in half a block), and every later call fails too.
    virtual bool Write(std::string_view data, std::string& reason) = 0;

    // Bytes in the file (what it held when opened plus what was written).
    virtual std::uint64_t Size() const = 0;

    // Closes the file; false with a reason when the last data could not be written.
    virtual bool Close(std::string& reason) = 0;
};

class BackupFiles {
public:
    virtual ~BackupFiles() = default;

    // The path that the standard library's file functions (std::filesystem, the file streams)
    // take for a narrow path of this program, and back. Linux: the same bytes. Windows: narrow
    // text is in the ANSI code page, which the standard library there does not read (it takes
    // narrow text for UTF-8), so Win32BackupFiles converts; a path outside that code page (the
    // current folder on another system's) is only exact as a std::filesystem::path.
    virtual std::filesystem::path NativePath(const std::string& narrow) const {
        return std::filesystem::path(narrow);
    }
    virtual std::string NarrowPath(const std::filesystem::path& path) const { return path.string(); }

    // Says what is at path, following symbolic links. False with a reason when that cannot be
    // told (a folder on the way that may not be read).
    virtual bool Look(const std::string& path, PathFacts& facts, std::string& reason) = 0;

    // Reads at most limit bytes from the start of the file at path.
    virtual bool ReadStart(const std::string& path, std::size_t limit, std::string& bytes,
                           std::string& reason) = 0;

    // Gives the file at from the name to. Never replaces anything already called to: that is a
    // failure.
    virtual bool Rename(const std::string& from, const std::string& to, std::string& reason) = 0;

    // Deletes the file at path. A path where nothing is counts as done; a folder is not deleted.
    virtual bool Remove(const std::string& path, std::string& reason) = 0;

    // Creates the file anew, empty, for writing. Null with a reason when it cannot.
    virtual std::unique_ptr<FileWriter> Create(const std::string& path, std::string& reason) = 0;

    // Opens the file for writing at its end, creating it when it is missing.
    virtual std::unique_ptr<FileWriter> Append(const std::string& path, std::string& reason) = 0;
};

}  // namespace platform
