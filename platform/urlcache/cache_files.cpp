#include "platform/urlcache/cache_files.h"

#include "platform/files/posix_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace urlcache {
namespace {

// Folders below C:\users\<user>\AppData\Local\Microsoft\Windows, in walk order.
struct ContainerFolder {
    std::vector<std::string_view> components;
};
const std::vector<ContainerFolder>& ContainerFolders() {
    static const std::vector<ContainerFolder> folders = {
        {{"INetCookies"}},
        {{"History", "History.IE5"}},
        {{"INetCache", "Content.IE5"}},
    };
    return folders;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualLetterCaseAside(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

class DirHandle {
public:
    explicit DirHandle(const std::string& path) : dir_(opendir(path.c_str())) {}
    ~DirHandle() {
        if (dir_) closedir(dir_);
    }
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;
    DIR* get() const { return dir_; }

private:
    DIR* dir_;
};

bool Exists(const std::string& path, int& error) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return true;
    error = errno;
    return false;
}

bool IsMissingError(int error) { return error == ENOENT || error == ENOTDIR; }

// The entry of folder whose name equals name letter case aside; the exact name wins.
IndexFile FindEntry(const std::string& folder, std::string_view name) {
    const std::string exact = folder + "/" + std::string(name);
    int error = 0;
    if (Exists(exact, error)) return {Lookup::Found, exact};
    if (!IsMissingError(error)) return {Lookup::Failed, exact};
    DirHandle dir(folder);
    if (!dir.get()) return {IsMissingError(errno) ? Lookup::Missing : Lookup::Failed, folder};
    while (const dirent* entry = readdir(dir.get())) {
        if (EqualLetterCaseAside(entry->d_name, name)) {
            return {Lookup::Found, folder + "/" + entry->d_name};
        }
    }
    return {Lookup::Missing, exact};
}

IndexFile FindPath(const std::string& base, const std::vector<std::string_view>& components) {
    IndexFile found{Lookup::Found, base};
    for (const std::string_view component : components) {
        found = FindEntry(found.path, component);
        if (found.lookup != Lookup::Found) return found;
    }
    return found;
}

// C: as Wine resolves it: through dosdevices/c:, which a normal prefix links to drive_c.
std::string DriveC(const std::string& prefix) {
    const std::string dosDevice = prefix + "/dosdevices/c:";
    int error = 0;
    return Exists(dosDevice, error) ? dosDevice : prefix + "/drive_c";
}

// Reads the file from its start to its end, whatever its size was when it was opened. Only a
// regular file is read (reading a FIFO or a device could wait forever), and only one no larger
// than an index file can be.
ReadResult ReadWhole(const std::string& path, std::vector<std::uint8_t>& bytes) {
    if (std::string reason; platform::ReadWholeFile(path, bytes, reason, nullptr, kMaxIndexFileSize)) {
        return ReadResult::Read;
    }
    return IsMissingError(errno) ? ReadResult::Missing : ReadResult::Failed;
}

}  // namespace

std::string WineUserName() {
    std::string name;
    if (const char* user = std::getenv("USER"); user && *user) {
        name = user;
    } else if (const passwd* account = getpwuid(getuid()); account && account->pw_name) {
        name = account->pw_name;
    } else {
        name = "wine";
    }
    const auto slash = name.find_last_of("/\\");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::vector<IndexFile> ContainerIndexFiles(const std::string& prefix, const std::string& user) {
    const std::vector<std::string_view> windowsFolder = {"users",     user,        "AppData",
                                                         "Local",     "Microsoft", "Windows"};
    const IndexFile windows = FindPath(DriveC(prefix), windowsFolder);
    std::vector<IndexFile> files;
    for (const ContainerFolder& container : ContainerFolders()) {
        if (windows.lookup != Lookup::Found) {
            files.push_back({windows.lookup, {}});
            continue;
        }
        auto components = container.components;
        components.push_back("index.dat");
        IndexFile file = FindPath(windows.path, components);
        if (file.lookup == Lookup::Missing) file.path.clear();
        files.push_back(std::move(file));
    }
    return files;
}

ReadResult ReadIndexFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    constexpr int kAttempts = 20;
    for (int attempt = 1;; ++attempt) {
        const ReadResult result = ReadWhole(path, bytes);
        if (result != ReadResult::Read) return result;
        if (DeclaredFileSize(bytes) == bytes.size() || attempt == kAttempts) return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

CacheWalkEnd WalkUrlCache(const std::string& prefix, const std::string& user,
                          const UrlVisitor& visit) {
    std::vector<std::uint8_t> bytes;
    for (const IndexFile& file : ContainerIndexFiles(prefix, user)) {
        if (file.lookup == Lookup::Missing) continue;
        if (file.lookup == Lookup::Failed) return CacheWalkEnd::Failed;
        const ReadResult read = ReadIndexFile(file.path, bytes);
        if (read == ReadResult::Missing) continue;
        if (read == ReadResult::Failed) return CacheWalkEnd::Failed;
        switch (WalkIndex(bytes, visit)) {
            case WalkEnd::Finished:
                break;
            case WalkEnd::Stopped:
                return CacheWalkEnd::Stopped;
            case WalkEnd::Damaged:
                return CacheWalkEnd::Failed;
        }
    }
    return CacheWalkEnd::Finished;
}

}  // namespace urlcache
