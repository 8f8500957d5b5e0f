// The download cases both builds must meet alike: each row names a server behaviour on the
// loopback server, what stands at the target beforehand, and the result, the error text and the
// target's contents afterwards. The Linux library runs the rows in its own process, fetchel.dll
// runs them under Wine in one start of a Windows program; a difference between the two builds
// is a failing row.
#pragma once

#include "tests/fetchel/loopback_server.h"

#include <string>
#include <vector>

namespace fetchel_test {

// What stands at the target before the download.
enum class Target {
    Missing,      // nothing
    OlderFile,    // a file with kOlder in it
    ReadOnly,     // such a file without any write permission
    MissingFolder,  // the target's folder does not exist
    Fifo,         // a FIFO
    Socket,       // a listening Unix socket
    Device,       // a character device (the null device)
    Link,         // a symbolic link to an older file beside it, "real.bin"
};

inline constexpr const char* kOlder = "an older and longer version of the file";
inline constexpr const char* kNoFile = "<no file>";

struct DownloadCase {
    std::string route;       // the path on the loopback server; the URL is made from it
    Target target;
    int result;
    std::string text;        // errorText, whole
    std::string stored;      // the target's contents afterwards (kNoFile: nothing there)
    std::string limitMs;     // the time bound for this row ("" the default)
    std::string rawUrl;      // when set, the URL instead of the route's (with {} for the server)
};

// The rows, and the server that answers them. Each row has a folder of its own, with the target
// "target.bin" in it (in "missing/" for MissingFolder).
const std::vector<DownloadCase>& DownloadCases();
void ServeDownloadCase(Connection& connection, const Request& request);

// The URL a row fetches from server; the row's folder below root with what stands at its target
// (returns the target's path).
std::string CaseUrl(const DownloadCase& row, const LoopbackServer& server);
std::string PrepareCase(const std::string& root, std::size_t index);

// What in the outcome of row index differs from the table ("" when nothing): the result, the
// text, the target's contents, a file left over, a request sent for a refused URL. For dll
// (fetchel.dll under Wine), a report's message may be the system's own (wininet.dll's, whose
// wording differs from Windows' for some codes) as long as there is one, and a download that ran
// out of time may leave its temporary file: its WinINet exchange, which the DLL cannot end,
// goes on in the background, and the caller's process here ends before it does.
std::string Mismatch(const std::string& root, std::size_t index, int result, const std::string& text,
                     bool dll = false);

// Why fetchel.dll under Wine cannot meet the row ("" for the rows it must meet).
std::string WhyWineCannot(std::size_t index);

// A row's name for messages: its route and what stood at the target.
std::string CaseName(std::size_t index);

}  // namespace fetchel_test
