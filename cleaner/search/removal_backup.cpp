#include "cleaner/search/removal_backup.h"

#include "cleaner/registry/backup_format.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <exception>
#include <filesystem>
#include <string_view>
#include <system_error>
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

// An earlier file larger than this holds more than a header and empty lines could make.
constexpr std::size_t kLongestEmptyBackup = 64 * 1024;
// How many earlier files written in the same second can be kept (-2, -3, ... after the first).
constexpr int kMostNamesPerSecond = 99;

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

// Calls onLine for each line of text, lines ended by CR, LF or CR LF.
template <typename OnLine>
void ForEachLine(std::string_view text, OnLine onLine) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            onLine(text.substr(start));
            return;
        }
        onLine(text.substr(start, end - start));
        start = end + 1;
    }
}

bool IsHeaderLine(std::string_view line) {
    bool found = false;
    ForEachLine(kBackupFileHeader, [&](std::string_view header) { found |= header == line; });
    return found;
}

// What a removal that found nothing leaves, a header and empty lines, holds nothing to restore;
// anything else (key blocks, or a file that was never a backup) is kept. A file that cannot be
// read counts as holding something.
bool HoldsSomethingToRestore(platform::BackupFiles& files, const platform::PathFacts& old) {
    if (old.size == 0) return false;
    if (old.size > kLongestEmptyBackup) return true;
    std::string bytes;
    std::string reason;
    if (!files.ReadStart(old.file, kLongestEmptyBackup, bytes, reason)) return true;
    bool holds = false;
    ForEachLine(bytes, [&](std::string_view line) {
        holds |= !line.empty() && !IsHeaderLine(line);
    });
    return holds;
}

// The local time a file was last written, as it goes into a file name: 20261208-091500.
std::string NameStamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const std::tm* local = std::localtime(&seconds);
    char text[32] = "00000000-000000";
    if (local != nullptr) std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", local);
    return text;
}

// taDeletedRegKeys.reg -> taDeletedRegKeys-20261208-091500.reg (then -2, -3, ... for more
// files of the same second): beside the file, with its extension, so it still imports as .reg.
std::string AsideName(const std::string& file, const std::string& stamp, int number) {
    const std::size_t separator = file.find_last_of("/\\");
    const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
    std::size_t dot = file.rfind('.');
    if (dot == std::string::npos || dot < nameStart) dot = file.size();
    std::string name = file.substr(0, dot);
    name.append(1, '-').append(stamp);
    if (number > 1) name.append(1, '-').append(std::to_string(number));
    return name.append(file, dot, std::string::npos);
}

// Wine's registry files in a prefix. Their names are compared without regard to case: under
// Wine a Windows program reaches them by any case.
constexpr const char* kRegistryFileNames[] = {"system.reg", "user.reg", "userdef.reg"};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}
bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// A registry file, a temporary file of this program's saves (".user.reg.<tag>-XXXXXX") or
// one of the Wine server's ("reg<pid><count>.tmp"), by its name in the prefix folder.
bool IsRegistryFileName(const std::string& name) {
    const std::string lower = Lower(name);
    const std::string_view hidden = lower.empty() || lower[0] != '.'
                                        ? std::string_view()
                                        : std::string_view(lower).substr(1);
    for (const std::string_view registryName : kRegistryFileNames) {
        if (lower == registryName) return true;
        if (hidden.size() > registryName.size() && StartsWith(hidden, registryName) &&
            hidden[registryName.size()] == '.')
            return true;
    }
    return StartsWith(lower, "reg") && EndsWith(lower, ".tmp");
}

}  // namespace

bool IsRegistryFile(const std::string& registryFolder, const std::string& file) {
    namespace fs = std::filesystem;
    if (registryFolder.empty() || file.empty()) return false;
    std::error_code ec;
    // The same file by another name (a hard link, a link to the folder, "..").
    for (const char* registryName : kRegistryFileNames) {
        if (fs::equivalent(fs::path(registryFolder) / registryName, file, ec)) return true;
    }
    // A file that is not there yet, in the prefix folder: a temporary file is made under such a
    // name, and the save renames it over the registry file.
    const fs::path path(file);
    if (!IsRegistryFileName(path.filename().string())) return false;
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    return fs::equivalent(folder, registryFolder, ec);
}

BackupFile::BackupFile(platform::BackupFiles& files, const std::string& path, FennickView& ui,
                       std::string registryFolder)
    : files_(files), path_(path), ui_(ui), registryFolder_(std::move(registryFolder)) {}

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
    if (IsRegistryFile(registryFolder_, path_) || IsRegistryFile(registryFolder_, file_)) {
        return RefuseRegistryFile(file_);
    }
    // A file made here, or one at the path itself that a new backup emptied, goes again when
    // the start fails after opening it; through a link the file stays, so that the link still
    // leads somewhere.
    removeOnFailure_ = old.kind == Kind::Nothing || (startNewFile && file_ == path_);
    if (startNewFile && old.kind == Kind::RegularFile && HoldsSomethingToRestore(files_, old)) {
        if (!KeepAside(old)) return false;
        removeOnFailure_ = true;
    }

    writer_ = startNewFile ? files_.Create(file_, reason) : files_.Append(file_, reason);
    if (writer_ == nullptr) return FailStart(startNewFile ? "created" : "opened", reason);
    if (writer_->Size() == 0 && !writer_->Write(kBackupFileHeader, reason)) {
        return FailStart("written", reason);
    }
    return true;
}

// Undoes a start that failed (the file it made goes, the earlier backup gets its name back)
// and says why. Always false.
bool BackupFile::FailStart(const char* failed, const std::string& reason) {
    const bool opened = writer_ != nullptr;
    writer_.reset();
    std::string ignored;
    if (removeOnFailure_ && opened) files_.Remove(file_, ignored);
    if (!keptAs_.empty() && files_.Rename(keptAs_, file_, ignored)) keptAs_.clear();
    std::string text = "The backup file " + Quoted(path_) + " could not be " + failed + ": " +
                       reason + ".\n" + kNothingDeleted;
    if (!keptAs_.empty()) text += "\nThe earlier backup is kept as " + Quoted(keptAs_) + ".";
    Report(text);
    return false;
}

// The registry's own files are never a backup: writing there would destroy the registry, and the
// keys the run removed would be in no backup at all.
bool BackupFile::RefuseRegistryFile(const std::string& file) {
    std::string text = "The backup file " + Quoted(path_);
    if (file != path_) text += " leads to " + Quoted(file) + ", which";
    Report(text + " is a registry file of the Wine prefix " + Quoted(registryFolder_) +
           " (or a temporary file of its saves): a backup written there would destroy the "
           "registry.\n" + kChooseAFile);
    return false;
}

// Gives the earlier file the first free name that says when it was written.
bool BackupFile::KeepAside(const platform::PathFacts& old) {
    const std::string stamp = NameStamp(old.modified);
    std::string reason = "every name for it is taken";
    std::string name;
    for (int number = 1; number <= kMostNamesPerSecond; ++number) {
        name = AsideName(old.file, stamp, number);
        platform::PathFacts there;
        if (!files_.Look(name, there, reason)) break;
        if (there.kind != Kind::Nothing) continue;
        if (IsRegistryFile(registryFolder_, name)) {
            reason = "that is a registry file of the Wine prefix " + Quoted(registryFolder_);
            break;
        }
        if (!files_.Rename(old.file, name, reason)) break;
        keptAs_ = name;
        return true;
    }
    Report("The backup file " + Quoted(path_) + " holds what an earlier removal took, and it " +
           "could not be kept as " + Quoted(name) + ": " + reason + ".\n" + kNothingDeleted);
    return false;
}

bool BackupFile::Write(const std::string& text, const std::string& keyName) {
    if (!Wanted()) return true;
    std::string reason = "it is not open";
    if (writer_ != nullptr && writer_->Write(BackupFileLine(text), reason)) return true;
    Report("The backup file " + Quoted(path_) + " could not be written: " + reason + ".\n" +
           "The removal stopped before deleting " + FileTextOfRegistryText(keyName) +
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
    if (!keptAs_.empty()) {
        ui_.ShowFileMessage("The backup file " + Quoted(path_) +
                        " held what an earlier removal took; it is kept as " + Quoted(keptAs_) +
                        ". Import that file to bring those keys back (" + RestoreCommand(keptAs_) +
                        "). What this removal took is in " + Quoted(path_) + ".");
    }
}

// Every report names the backup file: the platform's text.
void BackupFile::Report(const std::string& text) {
    reported_ = true;
    ui_.ShowFileMessage(text);
}

}  // namespace cleaner
