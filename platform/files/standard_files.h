// The backup's files with the standard library alone: each block is handed to the system before
// the key it saves is deleted, so a program that ends early (Cancel, a crash, a kill) leaves every
// block it wrote in the file. It survives the end of the program, not a power cut;
// durable_files.h (POSIX) and platform/win32/win32_files.h (Windows) add the flush to the disc.
#pragma once

#include "platform/files/backup_files.h"

namespace platform {

class StandardBackupFiles : public BackupFiles {
public:
    bool Look(const std::string& path, PathFacts& facts, std::string& reason) override;
    bool ReadStart(const std::string& path, std::size_t limit, std::string& bytes,
                   std::string& reason) override;
    bool Rename(const std::string& from, const std::string& to, std::string& reason) override;
    bool Remove(const std::string& path, std::string& reason) override;
    std::unique_ptr<FileWriter> Create(const std::string& path, std::string& reason) override;
    std::unique_ptr<FileWriter> Append(const std::string& path, std::string& reason) override;
};

// One shared instance, for callers that choose no other (it keeps no state).
BackupFiles& StandardFiles();

}  // namespace platform
