// The backup's files on a POSIX system, written so that each block is on the disc (not only
// handed to the system) before Write returns: a key deleted after its block was written is
// in the backup even after a power cut. A file that is created or renamed has its folder entry
// synced too. Looking, reading and deleting are the standard library's.
#pragma once

#include "platform/files/standard_files.h"

namespace platform {

class DurableBackupFiles : public StandardBackupFiles {
public:
    bool Rename(const std::string& from, const std::string& to, std::string& reason) override;
    std::unique_ptr<FileWriter> Create(const std::string& path, std::string& reason) override;
    std::unique_ptr<FileWriter> Append(const std::string& path, std::string& reason) override;
};

}  // namespace platform
