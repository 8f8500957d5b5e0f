// fetchel.dll under Wine, called by a Windows program through LoadLibraryA and GetProcAddress
// (the i686 one a 32-bit __stdcall caller): the shared table of download cases against the
// loopback server, and taFindCacheEntry against Wine's own FindFirst/FindNextUrlCacheEntryA walk
// of the same prefix, by a walker of the prefix's own kind. Three Windows: the x86_64 DLL in a
// 64-bit one, the i686 DLL there through WOW64, and the i686 DLL in a 32-bit one. All calls of a
// DLL run in one start of the program, with the prefix's Wine server held for the suite.
#include "tests/fetchel/download_cases.h"
#include "tests/fetchel/loopback_server.h"
#include "tests/support/wine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

namespace fs = std::filesystem;
using fetchel_test::Connection;
using fetchel_test::LoopbackServer;
using fetchel_test::Request;
using testsupport::Quote;

namespace {

// The Windows name of a Linux path, through Wine's drive Z:.
std::string WindowsPath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool ContainsLetterCaseAside(const std::string& text, const std::string& part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [](char a, char b) { return Upper(a) == Upper(b); }) != text.end();
}

struct Call {
    int result = -1;
    std::string text;  // errorText, or the foundUrl buffer
};

// Runs Windows programs in a prefix whose Wine server is held for as long as the object lives,
// so that each start costs a fraction of a second; the server is ended afterwards.
class WineSession {
public:
    WineSession(std::string prefix, std::string loader) : prefix_(std::move(prefix)), loader_(std::move(loader)) {
        std::system((Env() + "wineserver -p </dev/null >/dev/null 2>&1").c_str());
    }
    ~WineSession() { std::system((Env() + "wineserver -k >/dev/null 2>&1").c_str()); }
    WineSession(const WineSession&) = delete;
    WineSession& operator=(const WineSession&) = delete;

    // The program's exit status, and its output in output. The output goes through a file:
    // the Windows services Wine starts on the way would hold a pipe open long after the program.
    int Run(const std::vector<std::string>& args, std::string& output,
            const std::string& extraEnv = "") const {
        const std::string outputFile = prefix_ + "/../program-output.txt";
        std::string command = Env() + extraEnv + " " + loader_;
        for (const auto& arg : args) command += " " + Quote(arg);
        const int status = std::system((command + " </dev/null >" + Quote(outputFile) + " 2>&1").c_str());
        output = testsupport::ReadFile(outputFile);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    std::string Env() const { return "env WINEPREFIX=" + Quote(prefix_) + " WINEDEBUG=-all DISPLAY= "; }
    std::string prefix_, loader_;
};

// A DLL, its caller and the prefix it runs in; the walk is Wine's own of that prefix's cache.
struct Target {
    const char* name;
    const char* caller;
    const char* dll;
    std::size_t prefix;  // 0: the 64-bit Windows, 1: the 32-bit one
    std::vector<Call> calls;
};

class FetchelDllTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* dll : {FETCHEL_DLL, FETCHEL_DLL_I686})
            ASSERT_TRUE(fs::exists(dll)) << dll << " is missing: run bash scripts/build-windows.sh";
        server_ = std::make_unique<LoopbackServer>([](Connection& c, const Request& r) {
            if (r.target.starts_with("/Docs/") || r.target.starts_with("/Setup/") ||
                r.target.starts_with("/missing/") || r.target.starts_with("/huge/")) {
                c.SendResponse(r.target.starts_with("/missing/") ? 404 : 200, "cached " + r.target.substr(0, 40));
            } else {
                fetchel_test::ServeDownloadCase(c, r);
            }
        });
        folder_ = testsupport::MakeTempDir("fetchel-dll");
        const testsupport::WindowsKind kinds[] = {testsupport::WindowsKind::Win64, testsupport::WindowsKind::Win32};
        const char* walkers[] = {FETCHEL_CACHEWALK_EXE, FETCHEL_CACHEWALK32_EXE};
        // The two Windows side by side: most rows wait for a time bound, not for the processor.
        const auto runIn = [&](std::size_t p) {
            prefixes_[p] = std::make_unique<testsupport::WinePrefix>(kinds[p]);
            const WineSession wine(prefixes_[p]->Path(), testsupport::WineLoader(prefixes_[p]->Path()));
            walks_[p] = FillAndWalkWinesCache(wine, walkers[p], folder_ + "/walk" + std::to_string(p) + ".txt");
            for (Target& target : targets_) {
                if (target.prefix != p) continue;
                const std::string root = folder_ + "/" + target.name;
                target.calls = RunCalls(wine, target.caller, target.dll, root);
            }
        };
        std::thread win32([&] { runIn(1); });
        runIn(0);
        win32.join();
    }

    static void TearDownTestSuite() {
        server_.reset();
        for (auto& prefix : prefixes_) prefix.reset();
        if (!folder_.empty()) testsupport::RemoveTree(folder_);
    }

    static std::vector<std::string> FillAndWalkWinesCache(const WineSession& wine, const char* walker,
                                                          const std::string& walkFile) {
        const std::string base = server_->Url("");
        std::string output;
        EXPECT_EQ(wine.Run({walker, "fetch", base + "/Docs/ReadMe.TXT", base + "/Setup/Package-1.0.MSI",
                            base + "/missing/page.html", base + "/huge/" + std::string(5000, 'c') + "?End=1"},
                           output), 0) << output;
        EXPECT_EQ(wine.Run({walker, "walk", WindowsPath(walkFile)}, output), 0) << output;
        std::vector<std::string> walk;
        std::istringstream lines(testsupport::ReadFile(walkFile));
        for (std::string line; std::getline(lines, line);) walk.push_back(line);
        return walk;
    }

    // Every call of one DLL in one start of the program: the table's rows, each with its own time
    // bound, then the lookups. Beside the first row's target, a temporary file of a process that
    // is gone.
    static std::vector<Call> RunCalls(const WineSession& wine, const char* caller, const char* dll,
                                      const std::string& root) {
        const auto& rows = fetchel_test::DownloadCases();
        std::vector<std::string> args = {caller, WindowsPath(dll), WindowsPath(root + "/calls.txt")};
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::string target = fetchel_test::PrepareCase(root, i);
            args.insert(args.end(), {"limit", rows[i].limitMs.empty() ? "60000" : rows[i].limitMs, "download",
                                     fetchel_test::CaseUrl(rows[i], *server_), WindowsPath(target)});
        }
        testsupport::WriteFile(root + "/case-0/target.bin.part-w4000000000-0-0123abcd", "left by a killed download");
        for (const auto& part : FindParts()) {
            args.insert(args.end(), {"find", part, std::to_string(kFoundSize)});
        }
        args.insert(args.end(), {"find", "readme", "10"});  // shorter than the URL
        std::string output;
        EXPECT_EQ(wine.Run(args, output), 0) << output;
        std::vector<Call> calls;
        std::istringstream lines(testsupport::ReadFile(root + "/calls.txt"));
        for (std::string line; std::getline(lines, line);) {
            const auto space = line.find(' ');
            calls.push_back({std::stoi(line.substr(0, space)), FromHex(line.substr(space + 1))});
        }
        return calls;
    }

    static std::vector<std::string> FindParts() {
        return {"", "readme.txt", "PACKAGE-1.0.msi", "/Missing/", std::string(5000, 'C'), "no-such-text"};
    }

    // The first URL of a walk that contains part, letter case aside.
    static std::string FirstMatch(const std::vector<std::string>& walk, const std::string& part) {
        for (const auto& url : walk) {
            if (ContainsLetterCaseAside(url, part)) return url;
        }
        return {};
    }

    static constexpr std::uint32_t kFoundSize = 8192;
    static std::size_t Downloads() { return fetchel_test::DownloadCases().size(); }
    static std::size_t Calls() { return Downloads() + FindParts().size() + 1; }

    static std::unique_ptr<testsupport::WinePrefix> prefixes_[2];
    static std::vector<std::string> walks_[2];
    static std::unique_ptr<LoopbackServer> server_;
    static std::string folder_;
    static Target targets_[3];
};

std::unique_ptr<testsupport::WinePrefix> FetchelDllTest::prefixes_[2];
std::vector<std::string> FetchelDllTest::walks_[2];
std::unique_ptr<LoopbackServer> FetchelDllTest::server_;
std::string FetchelDllTest::folder_;
Target FetchelDllTest::targets_[3] = {
    {"x86_64", FETCHEL_DLL_CALLER_EXE, FETCHEL_DLL, 0, {}},
    {"i686_wow64", FETCHEL_DLL_CALLER32_EXE, FETCHEL_DLL_I686, 0, {}},
    {"i686_win32", FETCHEL_DLL_CALLER32_EXE, FETCHEL_DLL_I686, 1, {}},
};

// One test, so that the calls are made once: downloads as the table says, lookups as Wine's walk.
TEST_F(FetchelDllTest, EveryCaseOfTheSharedTableEndsAsTheTableSaysAndLookupsMatchWinesWalk) {
    for (const Target& target : targets_) {
        ASSERT_EQ(target.calls.size(), Calls()) << target.name;
        for (std::size_t i = 0; i < Downloads(); ++i) {
            const std::string name = std::string(target.name) + " " + fetchel_test::CaseName(i);
            const std::string mismatch = fetchel_test::Mismatch(folder_ + "/" + target.name, i, target.calls[i].result,
                                                                target.calls[i].text, true);
            if (const std::string why = fetchel_test::WhyWineCannot(i); !why.empty()) {
                // Printed, so that a Wine that learns it shows here.
                std::printf("%s: %s under Wine (%s)\n", name.c_str(), mismatch.empty() ? "met" : "not met",
                            why.c_str());
                continue;
            }
            EXPECT_EQ(mismatch, "") << name;
        }
    }

    const auto parts = FindParts();
    for (const Target& target : targets_) {
        SCOPED_TRACE(target.name);
        ASSERT_EQ(target.calls.size(), Calls());
        const std::vector<std::string>& walk = walks_[target.prefix];
        ASSERT_GE(walk.size(), 4u);
        for (std::size_t i = 0; i < parts.size(); ++i) {
            SCOPED_TRACE(parts[i].substr(0, 40));
            const Call& call = target.calls[Downloads() + i];
            EXPECT_EQ(call.result, 1);
            const std::string match = FirstMatch(walk, parts[i]);
            // A match fills the buffer with the URL and zero bytes; a miss leaves it empty.
            if (match.empty()) {
                EXPECT_EQ(call.text.at(0), '\0');
            } else {
                EXPECT_EQ(call.text, match + std::string(kFoundSize - match.size(), '\0'));
            }
        }
        EXPECT_EQ(FirstMatch(walk, "no-such-text"), "");
        EXPECT_EQ(FirstMatch(walk, std::string(5000, 'C')).size(), server_->Url("").size() + 5012);

        // A buffer smaller than the URL holds its first bytes, without a terminating zero.
        EXPECT_EQ(target.calls.back().text, FirstMatch(walk, "readme").substr(0, 10));
    }
}

}  // namespace
