// What a file held when a program read (or wrote) it, to tell later whether another program has
// changed it since. A file replaced by renaming has a new inode; a file written in place has a
// new size or modification time. Where the status alone cannot tell (the file was changed too
// recently when it was read for its time to prove anything), the bytes are compared.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>

namespace platform {

class FileVersion {
public:
    // Nothing known: every file counts as changed.
    FileVersion() = default;
    // A file as read: its status when the read began (fstat of the descriptor read), and the
    // bytes read, kept to compare with.
    FileVersion(const struct stat& status, std::shared_ptr<const std::string> contents);
    // A file as written: its status once written; its bytes are not kept.
    explicit FileVersion(const struct stat& status);

    // Whether the file at path (a symbolic link: the file it names) still holds what this
    // version held. A file that is gone or cannot be read counts as changed.
    bool Matches(const std::string& path);

private:
    bool SameStatus(const struct stat& status) const;
    bool SameBytes(int fd) const;
    void Trust(const struct stat& status);

    struct stat status_ {};
    bool known_ = false;
    bool statusProves_ = false;  // an unchanged status means unchanged bytes
    std::shared_ptr<const std::string> contents_;
};

}  // namespace platform
