// The backup file of one removal operation, as the removal drivers use it: begun with its header
// (or continued at its end), one block per key written and on the disc before that key is
// deleted, and a single message to the user when it cannot take a block, after which nothing more
// may be deleted.
//
// The backup path names a regular file or nothing; a symbolic link to a regular file is written
// through, as the registry's own files are. A new backup never replaces a file that holds
// anything to restore: that file is kept beside it, named after the time it was last written.
#pragma once

#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "platform/files/backup_files.h"

#include <memory>
#include <string>

namespace cleaner {

// Whether writing at file would write over the registry whose files are in registryFolder (a
// Wine prefix): one of the registry files there, or a temporary file of a save of them (this
// program's or the Wine server's), however the name leads there (links, "..", another name of
// the folder). An empty registryFolder protects nothing.
bool IsRegistryFile(const std::string& registryFolder, const std::string& file);

class BackupFile {
public:
    // An empty path means no backup: every call then succeeds and touches no file. No file in
    // registryFolder that IsRegistryFile names is ever written, renamed or removed.
    BackupFile(platform::BackupFiles& files, const std::string& path, FennickView& ui,
               std::string registryFolder = {});
    BackupFile(const BackupFile&) = delete;
    BackupFile& operator=(const BackupFile&) = delete;

    bool Wanted() const { return !path_.empty(); }

    // Starts a new file with the header (an earlier file kept aside when it holds anything to
    // restore, else replaced), or opens the file for adding to its end. A file that is empty or
    // missing when it is to be continued gets the header too, so that it can still be imported.
    // False after telling the user why: delete nothing. A start that fails leaves the files as
    // they were, without an empty file of its own.
    bool Begin(bool startNewFile);

    // Writes one key's export text as one line. False after telling the user why, naming
    // keyName (registry text) as the key that was not deleted: delete nothing more.
    bool Write(const std::string& text, const std::string& keyName);

    // Closes the file (a close that fails is reported unless a report was already shown), and
    // tells the user where an earlier backup was kept.
    void End();

private:
    bool Start(bool startNewFile);
    bool KeepAside(const platform::PathFacts& old);
    bool FailStart(const char* failed, const std::string& reason);
    bool RefuseRegistryFile(const std::string& file);
    void Report(const std::string& text);

    platform::BackupFiles& files_;
    std::string path_;
    FennickView& ui_;
    std::string registryFolder_;
    std::string file_;     // what is written: the path, or the file its link leads to
    std::string keptAs_;   // where an earlier backup was kept, when one was
    bool removeOnFailure_ = false;  // the start made or replaced file_
    std::unique_ptr<platform::FileWriter> writer_;
    bool reported_ = false;
};

}  // namespace cleaner
