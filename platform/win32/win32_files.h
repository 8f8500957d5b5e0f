// The backup's files on Windows: the standard library's looking, reading and deleting, with
// files written through Windows itself, so that each block is on the disc (FlushFileBuffers)
// before Write returns and a key deleted after it is in the backup even after a power cut.
// Only a file on a disc is written (not a device such as NUL or COM1, nor a pipe), and a rename
// never replaces a file already at the new name.
#pragma once

#include "platform/files/standard_files.h"

#include <string>

namespace platform {

class Win32BackupFiles : public StandardBackupFiles {
public:
    // Narrow paths are in the system's ANSI code page, as the A functions read them.
    std::filesystem::path NativePath(const std::string& narrow) const override;
    std::string NarrowPath(const std::filesystem::path& path) const override;
    bool Rename(const std::string& from, const std::string& to, std::string& reason) override;
    std::unique_ptr<FileWriter> Create(const std::string& path, std::string& reason) override;
    std::unique_ptr<FileWriter> Append(const std::string& path, std::string& reason) override;
};

// Windows' own text for an error code (GetLastError), as words that can follow "because":
// without the line end and the full stop it ends in.
std::string SystemErrorText(unsigned long code);

}  // namespace platform
