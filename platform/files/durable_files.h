// The backup's files on a POSIX system, written so that each block is on the disc (not only
// handed to the system) before Write returns: a key deleted after its block was written is
// in the backup even after a power cut. A file that is created has its folder entry synced too.
#pragma once

#include "platform/files/backup_files.h"

namespace platform {

class DurableBackupFiles : public BackupFiles {
public:
    bool Remove(const std::string& path, std::string& reason) override;
    std::unique_ptr<FileWriter> Create(const std::string& path, std::string& reason) override;
    std::unique_ptr<FileWriter> Append(const std::string& path, std::string& reason) override;
};

}  // namespace platform
