// The file a download writes: a temporary file beside the target (platform::ReplacementFile),
// renamed over the target only when the whole body is in it and on disc. Until then the target
// is untouched, and a download that fails removes its temporary file.
//
// The target is the file that localPath names: when localPath is a symbolic link (or a chain of
// them), the file it points to is written and the link stays, as fopen(localPath, "wb") would.
#pragma once

#include "platform/files/replacement_file.h"

#include <cstddef>
#include <optional>
#include <string>

namespace fetchel {

class OutputFile {
public:
    // Creates the temporary file for a download into localPath; nothing when the target could
    // not be written there (a missing folder, no permission, a name too long for the file
    // system, a folder, a device, a FIFO or a socket in the way, a file the caller may not
    // write, a loop of links). First removes the temporary files that downloads killed before
    // they finished left in that folder.
    static std::optional<OutputFile> CreateFor(const std::string& localPath);

    // Appends all the bytes; false when the system refuses any of them (a full disc).
    bool Write(const char* data, std::size_t size);

    // Flushes the file to disc, closes it and renames it over the target.
    bool Commit();

private:
    explicit OutputFile(platform::ReplacementFile file) : file_(std::move(file)) {}

    platform::ReplacementFile file_;
};

// Makes sure no file is left at localPath (after its links): what a download of an empty body
// leaves. False when a file is there and cannot be removed.
bool RemoveTarget(const std::string& localPath);

}  // namespace fetchel
