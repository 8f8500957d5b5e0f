#include "cleaner/search/removal_backup.h"

#include "cleaner/registry/backup_format.h"

#include <exception>
#include <utility>

namespace cleaner {
namespace {

constexpr const char* kNothingDeleted =
    "Nothing was deleted. Choose a backup file in a folder that exists and that you may write "
    "to, or leave the file name empty to remove without a backup.";

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

}  // namespace

BackupFile::BackupFile(platform::BackupFiles& files, const std::string& path, RegistryUi& ui)
    : files_(files), path_(path), ui_(ui) {}

bool BackupFile::Begin(bool startNewFile) {
    if (!Wanted()) return true;
    std::string reason;
    try {
        if (startNewFile) {
            std::string ignored;  // an old file that cannot go shows itself when it is created
            files_.Remove(path_, ignored);
            writer_ = files_.Create(path_, reason);
        } else {
            writer_ = files_.Append(path_, reason);
        }
    } catch (const std::exception& e) {
        writer_.reset();
        reason = e.what();
    }
    if (writer_ == nullptr) {
        Report("The backup file " + Quoted(path_) + " could not be " +
               (startNewFile ? "created" : "opened") + ": " + reason + ".\n" + kNothingDeleted);
        return false;
    }
    if (writer_->Size() == 0 && !writer_->Write(kBackupFileHeader, reason)) {
        Report("The backup file " + Quoted(path_) + " could not be written: " + reason + ".\n" +
               kNothingDeleted);
        writer_.reset();
        return false;
    }
    return true;
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
    if (writer_ == nullptr) return;
    std::string reason;
    const bool closed = writer_->Close(reason);
    writer_.reset();
    if (!closed && !reported_) {
        Report("The backup file " + Quoted(path_) + " could not be closed: " + reason + ".");
    }
}

void BackupFile::Report(const std::string& text) {
    reported_ = true;
    ui_.ShowMessage(text);
}

}  // namespace cleaner
