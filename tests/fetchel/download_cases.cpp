#include "tests/fetchel/download_cases.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace fetchel_test {
namespace {

// Bytes of every value, the same for the same size.
std::string Pattern(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>(((i * 7919) ^ (i >> 11)) & 0xFF);
    return body;
}

const std::string kBody = Pattern(3000);
const std::string kNotFoundPage = "404 Object Not Found";
// The not-found text where the first chunk's test must not see it: in the second chunk, across
// the boundary, after a zero byte.
const std::string kLateNotFound[] = {std::string(1023, 'a') + kNotFoundPage, std::string(1010, 'a') + kNotFoundPage,
                                     std::string("abc\0", 4) + kNotFoundPage + "!"};

std::string Report(const std::string& step, int code, const std::string& message) {
    return step + " error code: " + std::to_string(code) + "\nMessage: " + message + "\r\n\n";
}

const std::string kNotFound = "File Not Accessable or Does Not Exist";
const std::string kOpenFailed = "File Open Failed";
const std::string kAborted =
    Report("InternetReadFile", 12030, "The connection with the server was terminated abnormally");
const std::string kRedirectFailed = Report("InternetOpenUrl", 12156, "The HTTP redirect request failed");
const std::string kInvalidUrl = Report("InternetOpenUrl", 12005, "The URL is invalid");
const std::string kUnknownScheme = Report("InternetOpenUrl", 12006, "The URL does not use a recognized protocol");

std::mutex seenMutex;
std::set<std::string> seen;

std::string ChunkedHead() {
    return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
}

std::string Folder(const std::string& root, std::size_t index) { return root + "/case-" + std::to_string(index); }

std::string TargetPath(const std::string& root, std::size_t index) {
    const bool missing = DownloadCases()[index].target == Target::MissingFolder;
    return Folder(root, index) + (missing ? "/missing/target.bin" : "/target.bin");
}

void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

}  // namespace

const std::vector<DownloadCase>& DownloadCases() {
    static const std::vector<DownloadCase> rows = {
        {"/body", Target::OlderFile, 1, "", kBody, "", ""},
        // Around the first chunk's size, and one large enough for many reads.
        {"/size-1", Target::Missing, 1, "", Pattern(1), "", ""},
        {"/size-1022", Target::Missing, 1, "", Pattern(1022), "", ""},
        {"/size-1023", Target::Missing, 1, "", Pattern(1023), "", ""},
        {"/size-1024", Target::Missing, 1, "", Pattern(1024), "", ""},
        {"/size-2047", Target::Missing, 1, "", Pattern(2047), "", ""},
        {"/size-6000000", Target::Missing, 1, "", Pattern(6'000'000), "", ""},
        {"/late-notfound-0", Target::Missing, 1, "", kLateNotFound[0], "", ""},
        {"/late-notfound-1", Target::Missing, 1, "", kLateNotFound[1], "", ""},
        {"/late-notfound-2", Target::Missing, 1, "", kLateNotFound[2], "", ""},
        {"/empty", Target::OlderFile, 1, "", kNoFile, "", ""},
        {"/notfound-text", Target::OlderFile, 0, kNotFound, kOlder, "", ""},
        {"/status-404", Target::OlderFile, 0, kNotFound, kOlder, "", ""},
        {"/status-500", Target::OlderFile, 0, kNotFound, kOlder, "", ""},
        {"/moved-nowhere", Target::OlderFile, 0, kNotFound, kOlder, "", ""},  // 301 without Location
        {"/redirect-10", Target::Missing, 1, "", kBody, "", ""},              // as many as are followed
        {"/redirect-11", Target::OlderFile, 0, kRedirectFailed, kOlder, "", ""},
        {"/redirect-loop", Target::OlderFile, 0, kRedirectFailed, kOlder, "", ""},
        {"/redirect-to-file", Target::OlderFile, 0, kRedirectFailed, kOlder, "", ""},
        {"/length-cut", Target::OlderFile, 0, kAborted, kOlder, "", ""},
        {"/length-surplus", Target::Missing, 1, "", kBody.substr(0, 2000), "", ""},
        {"/chunked", Target::OlderFile, 1, "", kBody, "", ""},
        {"/chunked-cut", Target::OlderFile, 0, kAborted, kOlder, "", ""},
        {"/chunked-short", Target::OlderFile, 0, kAborted, kOlder, "", ""},
        {"/chunked-bad-hex", Target::OlderFile, 0, kAborted, kOlder, "", ""},
        {"/reset", Target::OlderFile, 0,
         Report("InternetReadFile", 12031, "The connection with the server was reset"), kOlder, "", ""},
        {"/not-http", Target::OlderFile, 0,
         Report("InternetOpenUrl", 12152, "The server returned an invalid or unrecognized response"), kOlder, "", ""},
        {"/crlf", Target::OlderFile, 0, kInvalidUrl, kOlder, "", "{}/crlf HTTP/1.1\r\nX-Injected: yes\r\n\r\n"},
        {"/tab", Target::OlderFile, 0, kInvalidUrl, kOlder, "", "{}/tab\there"},
        {"/silent", Target::OlderFile, 0, Report("InternetOpenUrl", 12002, "The operation timed out"), kOlder,
         "1000", ""},
        {"/head-trickle", Target::OlderFile, 0, Report("InternetOpenUrl", 12002, "The operation timed out"), kOlder,
         "1000", ""},
        {"/body-trickle", Target::OlderFile, 0, Report("InternetReadFile", 12002, "The operation timed out"),
         kOlder, "1000", ""},
        {"/stall", Target::OlderFile, 0, Report("InternetReadFile", 12002, "The operation timed out"), kOlder,
         "1000", ""},
        {"/paced", Target::Missing, 1, "", std::string(20 * 1024, 'p'), "1000", ""},
        {"/no-such-host", Target::OlderFile, 0,
         Report("InternetOpenUrl", 12007, "The server name or address could not be resolved"), kOlder, "",
         "http://no-such-host.invalid/file"},
        {"/closed-port", Target::OlderFile, 0,
         Report("InternetOpenUrl", 12029, "A connection with the server could not be established"), kOlder, "",
         "http://127.0.0.1:1/"},
        {"/no-host", Target::OlderFile, 0, kInvalidUrl, kOlder, "", "http://"},
        {"/no-scheme", Target::OlderFile, 0, kUnknownScheme, kOlder, "", "example.com/file"},
        {"/gopher", Target::OlderFile, 0, kUnknownScheme, kOlder, "", "gopher://example.com/"},
        {"/body", Target::MissingFolder, 0, kOpenFailed, kNoFile, "", ""},
        {"/body", Target::ReadOnly, 0, kOpenFailed, kOlder, "", ""},
        {"/empty", Target::ReadOnly, 0, kOpenFailed, kOlder, "", ""},
        {"/body", Target::Fifo, 0, kOpenFailed, kNoFile, "", ""},
        {"/body", Target::Socket, 0, kOpenFailed, kNoFile, "", ""},
        {"/body", Target::Device, 0, kOpenFailed, kNoFile, "", ""},
        {"/body", Target::Link, 1, "", kBody, "", ""},
    };
    return rows;
}

void ServeDownloadCase(Connection& c, const Request& r) {
    {
        const std::lock_guard lock(seenMutex);
        seen.insert(r.target.substr(0, r.target.find_first_of("?")));
    }
    const std::string& path = r.target;
    if (path == "/body") {
        c.SendResponse(200, kBody);
    } else if (path.starts_with("/size-")) {
        c.SendResponse(200, Pattern(std::stoul(path.substr(6))));
    } else if (path.starts_with("/late-notfound-")) {
        c.SendResponse(200, kLateNotFound[std::stoul(path.substr(15))]);
    } else if (path == "/empty") {
        c.SendResponse(200, "");
    } else if (path == "/notfound-text") {
        c.SendResponse(200, "<html><h1>404 object not found</h1></html>" + std::string(2000, ' '));
    } else if (path.starts_with("/status-")) {
        c.SendResponse(std::stoi(path.substr(8)), "<html>the server's own page</html>");
    } else if (path == "/moved-nowhere") {
        c.SendResponse(301, "<html>moved, but not said where</html>");
    } else if (path.starts_with("/redirect-") && path != "/redirect-loop" && path != "/redirect-to-file") {
        // /redirect-N redirects N times in all before the body.
        const int left = std::stoi(path.substr(10));
        if (left == 0) {
            c.SendResponse(200, kBody);
        } else {
            c.SendResponse(302, "moved", "Location: /redirect-" + std::to_string(left - 1) + "\r\n");
        }
    } else if (path == "/redirect-loop") {
        c.SendResponse(302, "moved", "Location: /redirect-loop\r\n");
    } else if (path == "/redirect-to-file") {
        c.SendResponse(302, "moved", "Location: file:///etc/hostname\r\n");
    } else if (path == "/length-cut") {
        c.SendHead(200, 100);  // then ends the connection after 10 of the 100 bytes
        c.Send("ten bytes!");
    } else if (path == "/length-surplus") {
        c.SendHead(200, 2000);
        c.Send(kBody + std::string(6200, 'x'));  // 9,200 bytes for 2,000 announced
    } else if (path == "/chunked") {
        c.Send(ChunkedHead() + "100\r\n" + kBody.substr(0, 256) + "\r\n" + "AB8\r\n" + kBody.substr(256) +
               "\r\n0\r\n\r\n");
    } else if (path == "/chunked-cut") {
        c.Send(ChunkedHead() + "100\r\n" + kBody.substr(0, 256) + "\r\n");  // no last chunk
    } else if (path == "/chunked-short") {
        c.Send(ChunkedHead() + "BB8\r\n" + kBody.substr(0, 1500));  // half the chunk it announced
    } else if (path == "/chunked-bad-hex") {
        c.Send(ChunkedHead() + "100\r\n" + kBody.substr(0, 256) + "\r\nzz\r\n" + kBody.substr(256) + "\r\n0\r\n\r\n");
    } else if (path == "/reset") {
        c.SendHead(200, 1'000'000);
        c.Send(kBody);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        c.Reset();
    } else if (path == "/not-http") {
        c.Send("SSH-2.0-OpenSSH_9.2\r\n");
    } else if (path == "/paced") {
        c.SendHead(200, 20 * 1024);  // 10 KB/s: slow, but ten times what the bound asks
        c.Trickle(std::string(1024, 'p'), std::chrono::milliseconds(100), 20);
    } else if (path == "/head-trickle") {  // one header line at a time, never the end of the head
        c.Send("HTTP/1.1 200 OK\r\n");
        c.Trickle("X-Line: more\r\n", std::chrono::milliseconds(100), 200);
    } else if (path == "/body-trickle") {  // a byte at a time: alive, but far below the bound
        c.SendHead(200, 100'000);
        c.Trickle("a", std::chrono::milliseconds(100), 200);
    } else if (path == "/silent") {
        c.Stall(std::chrono::seconds(60));
    } else if (path == "/stall") {
        c.SendHead(200, 100'000);
        c.Send(std::string(500, 's'));
        c.Stall(std::chrono::seconds(60));
    } else {
        c.SendResponse(404, "no such case");
    }
}

std::string CaseUrl(const DownloadCase& row, const LoopbackServer& server) {
    if (row.rawUrl.empty()) return server.Url(row.route);
    std::string url = row.rawUrl;
    const auto at = url.find("{}");
    return at == std::string::npos ? url : url.replace(at, 2, server.Url(""));
}

std::string PrepareCase(const std::string& root, std::size_t index) {
    const std::string folder = Folder(root, index);
    fs::create_directories(folder);
    const std::string target = TargetPath(root, index);
    switch (DownloadCases()[index].target) {
        case Target::Missing:
        case Target::MissingFolder:
            break;
        case Target::OlderFile:
        case Target::ReadOnly:
            Write(target, kOlder);
            if (DownloadCases()[index].target == Target::ReadOnly) chmod(target.c_str(), 0444);
            break;
        case Target::Fifo:
            mkfifo(target.c_str(), 0666);
            break;
        case Target::Socket: {
            // Bound and left: a socket file, as a server leaves it.
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            target.copy(address.sun_path, sizeof address.sun_path - 1);
            bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
            close(fd);
            break;
        }
        case Target::Device:
            // The null device of the system, made here: a regression then replaces only this one.
            if (mknod(target.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) fs::create_symlink("/dev/null", target);
            break;
        case Target::Link:
            Write(folder + "/real.bin", kOlder);
            fs::create_symlink("real.bin", target);
            break;
    }
    return target;
}

namespace {

std::string StoredAt(const std::string& root, std::size_t index) {
    const std::string target = TargetPath(root, index);
    std::error_code ec;
    if (!fs::is_regular_file(target, ec)) return kNoFile;
    std::ifstream in(target, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> NamesIn(const std::string& root, std::size_t index) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Folder(root, index))) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ExpectedNames(const DownloadCase& row) {
    if (row.target == Target::MissingFolder) return {};
    if (row.target == Target::Link) return {"real.bin", "target.bin"};
    return row.stored == kNoFile && row.target <= Target::OlderFile ? std::vector<std::string>{}
                                                                     : std::vector<std::string>{"target.bin"};
}

// Long bodies shortened; gtest shows the rest escaped.
std::string Printable(const std::string& text) {
    return text.size() > 80 ? text.substr(0, 80) + "... (" + std::to_string(text.size()) + " bytes)" : text;
}

// Whether the server saw a request for the route (a refused URL must send nothing).
bool ServerSaw(const std::string& route) {
    const std::lock_guard lock(seenMutex);
    return seen.count(route) > 0;
}

}  // namespace

std::string CaseName(std::size_t index) {
    const DownloadCase& row = DownloadCases()[index];
    return "row " + std::to_string(index) + " " + row.route + " into target kind " +
           std::to_string(static_cast<int>(row.target));
}

std::string WhyWineCannot(std::size_t index) {
    if (DownloadCases()[index].route.starts_with("/chunked-")) {
        return "Wine's WinINet ends a chunked body that is cut off, too short or has a size that is "
               "not hex as if it had ended, and says nothing that would tell them apart";
    }
    return {};
}

std::string Mismatch(const std::string& root, std::size_t index, int result, const std::string& text,
                     bool dll) {
    const DownloadCase& row = DownloadCases()[index];
    std::string wrong;
    if (result != row.result) wrong += " result " + std::to_string(result) + " for " + std::to_string(row.result) + ";";
    const auto message = row.text.find("\nMessage: ");
    const bool sameReport = message != std::string::npos && text.size() > message + 12 &&
                            text.compare(0, message + 10, row.text, 0, message + 10) == 0 && text.ends_with("\n");
    if (text != row.text && !(dll && sameReport))
        wrong += " text \"" + Printable(text) + "\" for \"" + Printable(row.text) + "\";";
    if (row.target == Target::Link && !fs::is_symlink(TargetPath(root, index))) wrong += " the link was replaced;";
    const std::string stored = StoredAt(root, index);
    if (stored != row.stored) wrong += " stored \"" + Printable(stored) + "\" for \"" + Printable(row.stored) + "\";";
    std::vector<std::string> names = NamesIn(root, index);
    if (dll && row.text.find(" 12002\n") != std::string::npos) {
        std::erase_if(names, [](const std::string& name) { return name.find(".part-w") != std::string::npos; });
    }
    if (names != ExpectedNames(row)) {
        wrong += " the folder holds";
        for (const auto& name : names) wrong += " " + name;
        wrong += ";";
    }
    if (row.text == kInvalidUrl && ServerSaw(row.route)) wrong += " the refused URL reached the server;";
    return wrong;
}

}  // namespace fetchel_test
