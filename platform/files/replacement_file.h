// Replacing a file whole and safely: the new contents go to a temporary file beside the target,
// reach the disc, and are renamed over the target only when complete, so that after a crash the
// target is either the old file or the new one.
#pragma once

#include <sys/stat.h>

#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/files/posix_file.h"

namespace platform {

// A failed step: what() says which ("cannot write it"), Error() is the errno.
class FileError : public std::runtime_error {
public:
    FileError(const std::string& what, int error) : std::runtime_error(what), error_(error) {}
    int Error() const { return error_; }

private:
    int error_;
};

class ReplacementFile {
public:
    // Creates the temporary file ".<name>.<tag>-XXXXXX" beside the target (beside the file a
    // symbolic link names: the link keeps pointing where it did), with the target's mode and
    // owner. The file is locked (flock) while this object lives, so that a process that dies
    // while writing leaves a file that RemoveAbandonedReplacements can tell from a live one.
    ReplacementFile(const std::string& target, const std::string& tag);
    // Removes the temporary file unless it was committed.
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // The file that is replaced (a symbolic link's target).
    const std::string& Target() const { return target_; }

    void Write(std::string_view data);
    // Puts the written contents on the disc.
    void Finish();
    // Renames the temporary file over the target and syncs the folder. Returns the status of
    // the new file.
    struct stat Commit();

private:
    std::string target_, folder_, temp_;
    FileDescriptor file_;
    FileDescriptor lock_;  // holds the lock until the rename is done
};

// Removes the temporary files that ReplacementFiles of this tag left beside the target when
// their process died: regular files of that name that no process holds locked.
void RemoveAbandonedReplacements(const std::string& target, const std::string& tag);

}  // namespace platform
