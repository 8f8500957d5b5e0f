// Replacing a file whole and safely: the new contents go to a temporary file beside the target,
// reach the disc, and are renamed over the target only when complete, so that after a crash the
// target is either the old file or the new one. The registry store saves its files this way and
// libfetchel.so its downloads.
//
// Each step answers false with a reason (what failed and the system's text for it, "cannot
// write it (No space left on device)"); errno is then the failing call's.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>
#include <string_view>

#include "platform/files/posix_file.h"

namespace platform {

class ReplacementFile {
public:
    ReplacementFile() = default;
    // Removes the temporary file unless it was committed.
    ~ReplacementFile();
    ReplacementFile(ReplacementFile&& other) noexcept;
    ReplacementFile& operator=(ReplacementFile&& other) noexcept;
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Creates the temporary file temporaryName in the folder of the file that target names (the
    // file a symbolic link leads to, so the link keeps pointing where it did: see FileBehindLinks).
    // A name that ends in "XXXXXX" gets those letters made unique, as mkstemp does; any other
    // name that is taken fails with EEXIST, for the caller to choose another. The file has the
    // target's mode and owner when the target exists (else 0666 under the umask), and is locked
    // (flock) while this object holds it, so that a process that dies while writing leaves a
    // file that RemoveAbandonedTemporaries can tell from a live one.
    bool Create(const std::string& target, const std::string& temporaryName, std::string& reason);

    bool Write(std::string_view data, std::string& reason);
    // Puts the written contents on the disc and closes the file.
    bool Finish(std::string& reason);
    // Renames the temporary file over the target and syncs the folder; written receives the
    // status of the new file.
    bool Commit(struct stat& written, std::string& reason);

private:
    bool Fail(const char* what, std::string& reason);
    void Discard();

    std::string target_, folder_, temp_;
    FileDescriptor file_;
    FileDescriptor lock_;  // holds the lock until the rename is done
};

// The temporary name the registry store gives its replacements: ".<name>.<tag>-XXXXXX".
std::string ReplacementName(const std::string& target, const std::string& tag);

// Removes, from folder, the regular files whose names isAbandoned accepts and that no process
// holds locked: the temporary files of ReplacementFiles whose process died.
void RemoveAbandonedTemporaries(const std::string& folder,
                                const std::function<bool(std::string_view name)>& isAbandoned);

// The same for the registry store's names of that tag beside the target.
void RemoveAbandonedReplacements(const std::string& target, const std::string& tag);

}  // namespace platform
