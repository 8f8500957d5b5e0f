#include "cleaner/search/removal_backup.h"

#include "cleaner/registry/backup_format.h"

#include <exception>
#include <utility>

namespace cleaner {
namespace {

using Kind = platform::PathFacts::Kind;

constexpr const char* kNothingDeleted =
    "Nothing was deleted. Choose a backup file in a folder that exists and that you may write "
    "to, or leave the file name empty to remove without a backup.";
constexpr const char* kChooseAFile =
    "Nothing was deleted. Choose a new file or an earlier backup file as the backup file, or "
    "leave the file name empty to remove without a backup.";

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// Why nothing can be written at a path, in words that follow "The backup file X"; empty when
// the path names a regular file or nothing. Writing to a device or pipe keeps no backup, and
// deleting it to make room would destroy what the user (or the system) had there.
std::string WhyNoBackupThere(const platform::PathFacts& there) {
    switch (there.kind) {
        case Kind::Nothing:
        case Kind::RegularFile:
            return "";
        case Kind::Folder:
            return "is a folder";
        case Kind::DanglingLink:
            return "is a symbolic link to " + Quoted(there.file) + ", which does not exist";
        case Kind::Other:
            break;
    }
    return "is not a regular file but a device, a pipe or a socket";
}

}  // namespace

BackupFile::BackupFile(platform::BackupFiles& files, const std::string& path, RegistryUi& ui)
    : files_(files), path_(path), ui_(ui) {}

bool BackupFile::Begin(bool startNewFile) {
    if (!Wanted()) return true;
    try {
        return Start(startNewFile);
    } catch (const std::exception& e) {
        return FailStart(startNewFile ? "created" : "opened", e.what());
    }
}

bool BackupFile::Start(bool startNewFile) {
    std::string reason;
    platform::PathFacts old;
    if (!files_.Look(path_, old, reason)) {
        Report("The backup file " + Quoted(path_) + " could not be looked at: " + reason + ".\n" +
               kNothingDeleted);
        return false;
    }
    if (const std::string why = WhyNoBackupThere(old); !why.empty()) {
        Report("The backup file " + Quoted(path_) + " " + why + ".\n" + kChooseAFile);
        return false;
    }
    file_ = old.file;
    // A file made here, or one at the path itself that a new backup emptied, goes again when
    // the start fails after opening it; through a link the file stays, so that the link still
    // leads somewhere.
    removeOnFailure_ = old.kind == Kind::Nothing || (startNewFile && file_ == path_);

    writer_ = startNewFile ? files_.Create(file_, reason) : files_.Append(file_, reason);
    if (writer_ == nullptr) return FailStart(startNewFile ? "created" : "opened", reason);
    if (writer_->Size() == 0 && !writer_->Write(kBackupFileHeader, reason)) {
        return FailStart("written", reason);
    }
    return true;
}

// Undoes a start that failed (the file it made goes) and says why. Always false.
bool BackupFile::FailStart(const char* failed, const std::string& reason) {
    const bool opened = writer_ != nullptr;
    writer_.reset();
    std::string ignored;
    if (removeOnFailure_ && opened) files_.Remove(file_, ignored);
    std::string text = "The backup file " + Quoted(path_) + " could not be " + failed + ": " +
                       reason + ".\n" + kNothingDeleted;
    Report(text);
    return false;
}

bool BackupFile::Write(const std::string& text, const std::string& keyName) {
    if (!Wanted()) return true;
    std::string reason = "it is not open";
    if (writer_ != nullptr && writer_->Write(BackupFileLine(text), reason)) return true;
    Report("The backup file " + Quoted(path_) + " could not be written: " + reason + ".\n" +
           "The removal stopped before deleting " + keyName +
           "; every key deleted before it is in the backup file.");
    writer_.reset();
    return false;
}

void BackupFile::End() {
    if (writer_ != nullptr) {
        std::string reason;
        const bool closed = writer_->Close(reason);
        writer_.reset();
        if (!closed && !reported_) {
            Report("The backup file " + Quoted(path_) + " could not be closed: " + reason + ".");
        }
    }
}

void BackupFile::Report(const std::string& text) {
    reported_ = true;
    ui_.ShowMessage(text);
}

}  // namespace cleaner
