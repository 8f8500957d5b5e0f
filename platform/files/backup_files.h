// The file access behind the removal's backup file. The removal writes each key's block and
// makes sure it is on the disc before it deletes that key, and it must be able to tell the user
// why a file could not be made or written; tests make those failures happen on purpose.
//
// Standard library only: the removal that uses it builds for Windows too. durable_files.h has
// the implementation that flushes to the disc (POSIX); removal_files.cpp in cleaner/search has
// a standard-library one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

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

    // Deletes the file at path. A path where nothing is counts as done; a folder is not deleted.
    virtual bool Remove(const std::string& path, std::string& reason) = 0;

    // Creates the file anew, empty, for writing. Null with a reason when it cannot.
    virtual std::unique_ptr<FileWriter> Create(const std::string& path, std::string& reason) = 0;

    // Opens the file for writing at its end, creating it when it is missing.
    virtual std::unique_ptr<FileWriter> Append(const std::string& path, std::string& reason) = 0;
};

}  // namespace platform
