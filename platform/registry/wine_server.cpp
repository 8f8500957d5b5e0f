#include "platform/registry/wine_server.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace platform::detail {
namespace {

std::string ServerFolderName(const struct stat& prefixStatus) {
    char name[64];
    std::snprintf(name, sizeof name, "server-%lx-%lx", static_cast<unsigned long>(prefixStatus.st_dev),
                  static_cast<unsigned long>(prefixStatus.st_ino));
    return name;
}

struct ServerFolder {
    std::string base;    // made by Wine when missing
    std::string server;  // base/server-<dev>-<ino>
    bool own = false;    // where a Wine started from here would put its server
    std::string Lock() const { return server + "/lock"; }
};

// Debian's name for the prefix's base folder, kept in <prefix>/wineserver; empty when none.
std::string DebianName(const std::string& prefix) {
    std::string name;
    if (std::string reason; !ReadWholeFile(prefix + "/wineserver", name, reason) || name.size() > 255) return {};
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return {};
    return name;
}

std::vector<ServerFolder> KnownFolders(const std::string& prefix, const struct stat& prefixStatus) {
    const std::string leaf = ServerFolderName(prefixStatus);
    std::vector<ServerFolder> folders;
    const auto add = [&](std::string base, bool own) {
        for (const ServerFolder& f : folders)
            if (f.base == base) return;
        folders.push_back({base, base + "/" + leaf, own});
    };
    if (const std::string name = DebianName(prefix); !name.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        const bool hasTmp = tmp && *tmp;
        if (hasTmp) add(std::string(tmp) + "/" + name, true);
        add("/tmp/" + name, !hasTmp);
    }
    add("/tmp/.wine-" + std::to_string(::getuid()), false);
    return folders;
}

// The process that holds the server lock on this file, 0 when none does.
long LockHolder(int fd) {
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    query.l_start = 0;
    query.l_len = 1;
    if (::fcntl(fd, F_GETLK, &query) != 0 || query.l_type == F_UNLCK) return 0;
    return query.l_pid > 0 ? static_cast<long>(query.l_pid) : -1;
}

long LockHolder(const std::string& lockFile) {
    const FileDescriptor fd = FileDescriptor::Open(lockFile, O_RDONLY | O_NONBLOCK);
    return fd.Valid() ? LockHolder(fd.Get()) : 0;
}

bool IsNumber(const char* name) {
    if (!*name) return false;
    for (; *name; ++name)
        if (*name < '0' || *name > '9') return false;
    return true;
}

bool IsWineServerProgram(const std::string& process) {
    const std::string program = LinkText(process + "/exe");
    return program.substr(program.rfind('/') + 1).starts_with("wineserver");
}

// A server started with another TMPDIR (or by upstream Wine, or from another runtime folder)
// is found by its working folder: its server folder, or the prefix itself while it reads or
// writes the registry files.
long ServerByWorkingFolder(const std::string& leaf, const struct stat& prefixStatus) {
    const std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) return 0;
    constexpr std::string_view kDeleted = " (deleted)";
    while (const dirent* entry = ::readdir(proc.get())) {
        if (!IsNumber(entry->d_name)) continue;
        const std::string process = std::string("/proc/") + entry->d_name;
        std::string folder = LinkText(process + "/cwd");  // unreadable for other users' processes
        if (folder.empty()) continue;
        if (folder.ends_with(kDeleted)) folder.resize(folder.size() - kDeleted.size());
        struct stat status {};
        const bool inPrefix = ::stat((process + "/cwd").c_str(), &status) == 0 &&
                              status.st_dev == prefixStatus.st_dev && status.st_ino == prefixStatus.st_ino;
        const bool inServerFolder = folder.ends_with("/" + leaf);
        if (!inPrefix && !inServerFolder) continue;
        const long pid = std::strtol(entry->d_name, nullptr, 10);
        if (inServerFolder && LockHolder(process + "/cwd/lock") == pid) return pid;
        if (IsWineServerProgram(process)) return pid;
    }
    return 0;
}

}  // namespace

long RunningWineServer(const std::string& prefix, const struct stat& prefixStatus) {
    for (const ServerFolder& folder : KnownFolders(prefix, prefixStatus))
        if (const long pid = LockHolder(folder.Lock())) return pid;
    return ServerByWorkingFolder(ServerFolderName(prefixStatus), prefixStatus);
}

WineServerLock::WineServerLock(const std::string& prefix, const struct stat& prefixStatus) {
    for (const ServerFolder& folder : KnownFolders(prefix, prefixStatus)) {
        if (folder.own) {
            // As Wine makes them: private to the user.
            ::mkdir(folder.base.c_str(), 0700);
            ::mkdir(folder.server.c_str(), 0700);
        }
        FileDescriptor fd = FileDescriptor::Open(folder.Lock(), O_RDWR | (folder.own ? O_CREAT : 0), 0600);
        if (!fd.Valid()) continue;
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 0;
        lock.l_len = 1;
        if (::fcntl(fd.Get(), F_SETLK, &lock) != 0) {
            holder_ = LockHolder(fd.Get());
            if (holder_ == 0) holder_ = -1;
            return;
        }
        held_.push_back(std::move(fd));
    }
}

}  // namespace platform::detail
