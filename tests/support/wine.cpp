#include "tests/support/wine.h"

#include "platform/registry/text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {
namespace {

namespace fs = std::filesystem;

const char* const kWine64 = "/usr/lib/wine/wine64";
const char* const kWine32 = "/usr/lib/wine/wine";

const char* KindName(WindowsKind kind) { return kind == WindowsKind::Win32 ? "win32" : "win64"; }

std::string WineEnv(const std::string& prefix) {
    return "env WINEPREFIX=" + Quote(prefix) + " WINEDEBUG=-all DISPLAY= ";
}

// Runs a shell command, returns its status and combined output.
WineResult Shell(const std::string& command) {
    WineResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run: " + command);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void Check(const WineResult& result, const std::string& what) {
    if (result.status != 0)
        throw std::runtime_error(what + " failed (status " + std::to_string(result.status) + "): " + result.output);
}

// An exclusive flock held for the object's life.
class FileLock {
public:
    explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + path);
    }
    ~FileLock() { ::close(fd_); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_;
};

// The template prefix of a kind, made once per machine and user by that kind's loader.
std::string TemplatePrefix(WindowsKind kind) {
    const std::string base = "/tmp/sorvel-wine-template-" + std::to_string(::getuid()) + "-" + KindName(kind);
    FileLock lock(base + ".lock");
    const std::string prefix = base + "/prefix";
    if (fs::exists(base + "/ready")) return prefix;
    RemoveTree(base);
    fs::create_directories(base);
    const char* loader = kind == WindowsKind::Win32 ? kWine32 : kWine64;
    Check(Shell(WineEnv(prefix) + "WINEARCH=" + KindName(kind) + " " + loader + " wineboot -i"),
          std::string("wineboot -i with ") + loader);
    WaitForWineServer(prefix);
    if (!fs::exists(prefix + "/system.reg") || !fs::exists(prefix + "/user.reg"))
        throw std::runtime_error("wineboot made no registry in " + prefix);
    if (WineLoader(prefix) != loader)
        throw std::runtime_error(std::string("wineboot made no ") + KindName(kind) + " prefix in " + prefix);
    WriteFile(base + "/ready", "");
    return prefix;
}

// Copies a prefix; the Windows system folders, which Wine only reads, are hard links to save
// the 1.2 GB a full copy takes (syswow64 is there when 32-bit Wine made the prefix).
void CopyPrefix(const std::string& from, const std::string& to) {
    const std::string windows = "/drive_c/windows/";
    std::string command = "mkdir -p " + Quote(to) + " && cd " + Quote(from) + " && "
                          "tar --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/syswow64 "
                          "--exclude=./drive_c/windows/winsxs -cf - . | (cd " + Quote(to) + " && tar -xpf -)";
    for (const char* shared : {"system32", "syswow64", "winsxs"}) {
        command += " && { [ ! -e " + Quote(from + windows + shared) + " ] || cp -al " +
                   Quote(from + windows + shared) + " " + Quote(to + windows + shared) + "; }";
    }
    Check(Shell(command), "copying the prefix " + from);
}

// reg's UTF-16 (little-endian, with or without its byte-order mark) as UTF-8.
std::string FromRegsUtf16(const std::string& bytes) {
    std::size_t i = (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                     static_cast<unsigned char>(bytes[1]) == 0xFE) ? 2 : 0;
    std::u16string units;
    for (; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return platform::text::Utf16ToUtf8(units);
}

}  // namespace

WinePrefix::WinePrefix(WindowsKind kind) : folder_(MakeTempDir("wine")), path_(folder_ + "/prefix") {
    CopyPrefix(TemplatePrefix(kind), path_);
}

WinePrefix::~WinePrefix() {
    try {
        WaitForWineServer(path_);
        RemoveTree(folder_);
    } catch (...) {
    }
}

std::string WinePrefix::CopyTo(const std::string& folder) const {
    WaitForWineServer(path_);
    const std::string copy = folder + "/prefix";
    CopyPrefix(path_, copy);
    return copy;
}

std::string WineLoader(const std::string& prefix) {
    std::ifstream registry(prefix + "/system.reg");
    std::string line;
    while (std::getline(registry, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "#arch=win32") return kWine32;
        if (line.rfind("#arch=", 0) == 0) break;
    }
    return kWine64;
}

WineResult RunWine(const std::string& prefix, const std::vector<std::string>& args) {
    std::string command = WineEnv(prefix) + WineLoader(prefix);
    for (const std::string& arg : args) command += " " + Quote(arg);
    WineResult result = Shell(command);
    WaitForWineServer(prefix);
    return result;
}

void WaitForWineServer(const std::string& prefix) {
    Shell(WineEnv(prefix) + "wineserver -w");
}

std::string RegExport(const std::string& prefix, const std::string& key) {
    const std::string folder = MakeTempDir("export");
    const std::string file = folder + "/export.reg";
    WineResult result = RunWine(prefix, {"reg", "export", key, "Z:" + file, "/y"});
    std::string text = result.status == 0 ? ReadFile(file) : std::string();
    RemoveTree(folder);
    Check(result, "reg export " + key);
    return FromRegsUtf16(text);
}

void RegImport(const std::string& prefix, const std::string& regText) {
    const std::string folder = MakeTempDir("import");
    const std::string file = folder + "/import.reg";
    WriteFile(file, regText);
    WineResult result = RunWine(prefix, {"regedit", "/s", "Z:" + file});
    RemoveTree(folder);
    Check(result, "regedit /s");
}

bool RegKeyExists(const std::string& prefix, const std::string& key) {
    return RunWine(prefix, {"reg", "query", key}).status == 0;
}

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out.push_back(c);
    }
    return out + "'";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string MakeTempDir(const std::string& tag) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/sorvel-" + tag + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    return pattern;
}

void RemoveTree(const std::string& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

}  // namespace testsupport
