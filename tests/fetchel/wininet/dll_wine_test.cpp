// fetchel.dll under Wine, called by a Windows program through LoadLibraryA and GetProcAddress:
// the shared table of download cases against the loopback server (the x86_64 DLL in a 64-bit
// Windows, the i686 one in a 32-bit Windows), and taFindCacheEntry against Wine's own
// FindFirst/FindNextUrlCacheEntryA walk of the same prefix. All calls of a DLL run in one start of
// the program, with the prefix's Wine server held for the suite.
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
#include <vector>

#include <sys/wait.h>

namespace fs = std::filesystem;
using fetchel_test::Connection;
using fetchel_test::LoopbackServer;
using fetchel_test::Request;
using testsupport::Quote;

namespace {

constexpr const char* kWine64 = "/usr/lib/wine/wine64";

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

class FetchelDllTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* dll : {FETCHEL_DLL, FETCHEL_DLL_I686})
            ASSERT_TRUE(fs::exists(dll)) << dll << " is missing: run bash scripts/build-windows.sh";
        prefix_ = std::make_unique<testsupport::WinePrefix>();
        prefix32_ = std::make_unique<testsupport::WinePrefix>(testsupport::WindowsKind::Win32);
        server_ = std::make_unique<LoopbackServer>([](Connection& c, const Request& r) {
            if (r.target.starts_with("/Docs/") || r.target.starts_with("/Setup/") ||
                r.target.starts_with("/missing/") || r.target.starts_with("/huge/")) {
                c.SendResponse(r.target.starts_with("/missing/") ? 404 : 200, "cached " + r.target.substr(0, 40));
            } else {
                fetchel_test::ServeDownloadCase(c, r);
            }
        });
        folder_ = testsupport::MakeTempDir("fetchel-dll");
        wine_ = std::make_unique<WineSession>(prefix_->Path(), kWine64);
        FillAndWalkWinesCache();
        calls_ = RunCalls(*wine_, FETCHEL_DLL_CALLER_EXE, FETCHEL_DLL, folder_ + "/x86_64", true);
        const WineSession wine32(prefix32_->Path(), "/usr/lib/wine/wine");
        calls32_ = RunCalls(wine32, FETCHEL_DLL_CALLER32_EXE, FETCHEL_DLL_I686, folder_ + "/i686", false);
    }

    static void TearDownTestSuite() {
        wine_.reset();
        server_.reset();
        prefix_.reset();
        prefix32_.reset();
        if (!folder_.empty()) testsupport::RemoveTree(folder_);
    }

    static void FillAndWalkWinesCache() {
        const std::string base = server_->Url("");
        std::string output;
        ASSERT_EQ(wine_->Run({FETCHEL_CACHEWALK_EXE, "fetch", base + "/Docs/ReadMe.TXT",
                              base + "/Setup/Package-1.0.MSI", base + "/missing/page.html",
                              base + "/huge/" + std::string(5000, 'c') + "?End=1"},
                             output), 0) << output;
        const std::string walkFile = folder_ + "/wine-walk.txt";
        ASSERT_EQ(wine_->Run({FETCHEL_CACHEWALK_EXE, "walk", WindowsPath(walkFile)}, output), 0) << output;
        std::istringstream walk(testsupport::ReadFile(walkFile));
        for (std::string line; std::getline(walk, line);) wineWalk_.push_back(line);
    }

    // Every call of one DLL in one start of the program: the table's rows, each with its own time
    // bound, then the lookups. Beside the first row's target, a temporary file of a process that
    // is gone.
    static std::vector<Call> RunCalls(const WineSession& wine, const char* caller, const char* dll,
                                      const std::string& root, bool finds) {
        const auto& rows = fetchel_test::DownloadCases();
        std::vector<std::string> args = {caller, WindowsPath(dll), WindowsPath(root + "/calls.txt")};
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::string target = fetchel_test::PrepareCase(root, i);
            args.insert(args.end(), {"limit", rows[i].limitMs.empty() ? "60000" : rows[i].limitMs, "download",
                                     fetchel_test::CaseUrl(rows[i], *server_), WindowsPath(target)});
        }
        testsupport::WriteFile(root + "/case-0/target.bin.part-w4000000000-0-0123abcd", "left by a killed download");
        for (const auto& part : finds ? FindParts() : std::vector<std::string>{}) {
            args.insert(args.end(), {"find", part, std::to_string(kFoundSize)});
        }
        if (finds) args.insert(args.end(), {"find", "readme", "10"});  // shorter than the URL
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

    // The first URL of Wine's walk that contains part, letter case aside.
    static std::string WineFirstMatch(const std::string& part) {
        for (const auto& url : wineWalk_) {
            if (ContainsLetterCaseAside(url, part)) return url;
        }
        return {};
    }

    static constexpr std::uint32_t kFoundSize = 8192;
    static std::size_t Downloads() { return fetchel_test::DownloadCases().size(); }

    static std::unique_ptr<testsupport::WinePrefix> prefix_, prefix32_;
    static std::unique_ptr<LoopbackServer> server_;
    static std::unique_ptr<WineSession> wine_;
    static std::string folder_;
    static std::vector<std::string> wineWalk_;
    static std::vector<Call> calls_, calls32_;
};

std::unique_ptr<testsupport::WinePrefix> FetchelDllTest::prefix_, FetchelDllTest::prefix32_;
std::unique_ptr<LoopbackServer> FetchelDllTest::server_;
std::unique_ptr<WineSession> FetchelDllTest::wine_;
std::string FetchelDllTest::folder_;
std::vector<std::string> FetchelDllTest::wineWalk_;
std::vector<Call> FetchelDllTest::calls_, FetchelDllTest::calls32_;

TEST_F(FetchelDllTest, EveryCaseOfTheSharedTableEndsAsTheTableSays) {
    ASSERT_EQ(calls_.size(), Downloads() + FindParts().size() + 1);
    ASSERT_EQ(calls32_.size(), Downloads());
    for (const auto& [arch, calls] : {std::pair{"x86_64", &calls_}, std::pair{"i686", &calls32_}}) {
        for (std::size_t i = 0; i < Downloads(); ++i) {
            const std::string name = std::string(arch) + " " + fetchel_test::CaseName(i);
            const std::string mismatch =
                fetchel_test::Mismatch(folder_ + "/" + arch, i, (*calls)[i].result, (*calls)[i].text, true);
            if (const std::string why = fetchel_test::WhyWineCannot(i); !why.empty()) {
                // Printed, so that a Wine that learns it shows here.
                std::printf("%s: %s under Wine (%s)\n", name.c_str(), mismatch.empty() ? "met" : "not met",
                            why.c_str());
                continue;
            }
            EXPECT_EQ(mismatch, "") << name;
        }
    }
}

TEST_F(FetchelDllTest, FindCacheEntryGivesTheFirstMatchOfWinesOwnWalk) {
    ASSERT_EQ(calls_.size(), Downloads() + FindParts().size() + 1);
    ASSERT_GE(wineWalk_.size(), 4u);
    const auto parts = FindParts();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        SCOPED_TRACE(parts[i].substr(0, 40));
        const Call& call = calls_[Downloads() + i];
        EXPECT_EQ(call.result, 1);
        const std::string match = WineFirstMatch(parts[i]);
        // A match fills the buffer with the URL and zero bytes; a miss leaves it empty.
        if (match.empty()) {
            EXPECT_EQ(call.text.at(0), '\0');
        } else {
            EXPECT_EQ(call.text, match + std::string(kFoundSize - match.size(), '\0'));
        }
    }
    EXPECT_EQ(WineFirstMatch("no-such-text"), "");
    EXPECT_EQ(WineFirstMatch(std::string(5000, 'C')).size(), server_->Url("").size() + 5012);

    // A buffer smaller than the URL holds its first bytes, without a terminating zero.
    EXPECT_EQ(calls_.back().text, WineFirstMatch("readme").substr(0, 10));
}

}  // namespace
