// The backup file of one removal operation, as the removal drivers use it: begun with its header
// (or continued at its end), one block per key written and on the disc before that key is
// deleted, and a single message to the user when it cannot take a block, after which nothing more
// may be deleted.
#pragma once

#include "cleaner/registry/modRegFuncs.h"
#include "platform/files/backup_files.h"

#include <memory>
#include <string>

namespace cleaner {

class BackupFile {
public:
    // An empty path means no backup: every call then succeeds and touches no file.
    BackupFile(platform::BackupFiles& files, const std::string& path, RegistryUi& ui);
    BackupFile(const BackupFile&) = delete;
    BackupFile& operator=(const BackupFile&) = delete;

    bool Wanted() const { return !path_.empty(); }

    // Starts a new file (any old one deleted) with the header, or opens the file for adding to
    // its end. A file that is empty or missing when it is to be continued gets the header too,
    // so that it can still be imported. False after telling the user why: delete nothing.
    bool Begin(bool startNewFile);

    // Writes one key's export text as one line. False after telling the user why, naming
    // keyName as the key that was not deleted: delete nothing more.
    bool Write(const std::string& text, const std::string& keyName);

    // Closes the file (a close that fails is reported unless a report was already shown).
    void End();

private:
    void Report(const std::string& text);

    platform::BackupFiles& files_;
    std::string path_;
    RegistryUi& ui_;
    std::unique_ptr<platform::FileWriter> writer_;
    bool reported_ = false;
};

}  // namespace cleaner
