// fetchel.dll under Wine, called by a Windows program through LoadLibraryA and GetProcAddress:
// the download cases of the Linux library against the loopback server, and taFindCacheEntry
// against Wine's own FindFirst/FindNextUrlCacheEntryA walk of the same prefix. All calls run in
// one start of the program, with the prefix's Wine server held for the suite.
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

namespace {

constexpr const char* kWine64 = "/usr/lib/wine/wine64";
const std::string kNotFound = "File Not Accessable or Does Not Exist";

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

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
    explicit WineSession(std::string prefix) : prefix_(std::move(prefix)) {
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
        std::string command = Env() + extraEnv + " " + kWine64;
        for (const auto& arg : args) command += " " + Quote(arg);
        const int status = std::system((command + " </dev/null >" + Quote(outputFile) + " 2>&1").c_str());
        output = testsupport::ReadFile(outputFile);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    std::string Env() const { return "env WINEPREFIX=" + Quote(prefix_) + " WINEDEBUG=-all DISPLAY= "; }
    std::string prefix_;
};

class FetchelDllTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(fs::exists(FETCHEL_DLL)) << FETCHEL_DLL
                                             << " is missing: run bash scripts/build-windows.sh";
        prefix_ = std::make_unique<testsupport::WinePrefix>();
        server_ = std::make_unique<LoopbackServer>(Serve);
        folder_ = testsupport::MakeTempDir("fetchel-dll");
        wine_ = std::make_unique<WineSession>(prefix_->Path());
        FillAndWalkWinesCache();
        RunCalls();
    }

    static void TearDownTestSuite() {
        wine_.reset();
        server_.reset();
        prefix_.reset();
        if (!folder_.empty()) testsupport::RemoveTree(folder_);
    }

    static std::string Body() {
        std::string body;
        for (int i = 0; i < 3000; ++i) body.push_back(static_cast<char>((i * 7919) & 0xFF));
        return body;
    }

    static void Serve(Connection& c, const Request& r) {
        const std::string& path = r.target;
        if (path == "/body") {
            c.SendResponse(200, Body());
        } else if (path == "/empty") {
            c.SendResponse(200, "");
        } else if (path == "/notfound") {
            c.SendResponse(200, "<html><h1>404 object not found</h1></html>" + std::string(2000, ' '));
        } else if (path == "/404" || path == "/500") {
            c.SendResponse(std::stoi(path.substr(1)), "<html>the server's own page</html>");
        } else if (path == "/cut") {
            c.SendHead(200, 100);  // then ends the connection after 10 of the 100 bytes
            c.Send("ten bytes!");
        } else if (path == "/nonhttp") {
            c.Send("SSH-2.0-OpenSSH_9.2\r\n");
        } else if (path == "/paced") {
            c.SendHead(200, 20 * 1024);  // 10 KB/s: slow, but ten times what the bound asks
            c.Trickle(std::string(1024, 'p'), std::chrono::milliseconds(100), 20);
        } else if (path == "/stall") {
            c.SendHead(200, 100'000);
            c.Send(std::string(500, 's'));
            c.Stall(std::chrono::seconds(60));
        } else {
            c.SendResponse(path.rfind("/missing/", 0) == 0 ? 404 : 200, "cached " + path.substr(0, 40));
        }
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

    // Every call in one start of the program. The targets that failures must leave alone hold
    // an older file; beside the first, a temporary file of a process that is gone.
    static void RunCalls() {
        fs::create_directories(folder_ + "/out");
        fs::create_directories(folder_ + "/stalled");
        fs::create_directories(folder_ + "/linked");
        testsupport::WriteFile(folder_ + "/linked/real.bin", "an older version");
        fs::create_symlink("real.bin", folder_ + "/linked/link.bin");
        testsupport::WriteFile(folder_ + "/out/body.bin", "an older and longer version of the body");
        testsupport::WriteFile(folder_ + "/out/body.bin.part-w4000000000-0-0123abcd", "left by a killed download");
        testsupport::WriteFile(folder_ + "/out/empty.bin", "an older version");
        testsupport::WriteFile(folder_ + "/out/kept.txt", "previous");
        testsupport::WriteFile(folder_ + "/stalled/kept.txt", "previous");
        const std::string kept = WindowsPath(folder_ + "/out/kept.txt");
        std::vector<std::string> args = {
            WindowsPath(FETCHEL_DLL), WindowsPath(folder_ + "/calls.txt"),
            "download", server_->Url("/body"), WindowsPath(folder_ + "/out/body.bin"),
            "download", server_->Url("/empty"), WindowsPath(folder_ + "/out/empty.bin"),
            "download", server_->Url("/notfound"), kept,
            "download", server_->Url("/404"), kept,
            "download", server_->Url("/500"), kept,
            "download", "http://no-such-host.invalid/file", kept,
            "download", server_->Url("/body"), WindowsPath(folder_ + "/out/no-such-folder/body.bin"),
            "download", server_->Url("/cut"), kept,
            "download", server_->Url("/nonhttp"), kept,
            "download", server_->Url("/body"), WindowsPath(folder_ + "/linked/link.bin"),
            "limit", "1000",
            "download", server_->Url("/paced"), WindowsPath(folder_ + "/out/paced.bin"),
            "download", server_->Url("/stall"), WindowsPath(folder_ + "/stalled/kept.txt"),
        };
        for (const auto& part : FindParts()) {
            args.insert(args.end(), {"find", part, std::to_string(kFoundSize)});
        }
        args.insert(args.end(), {"find", "readme", "10"});  // shorter than the URL
        args.insert(args.begin(), FETCHEL_DLL_CALLER_EXE);
        std::string output;
        ASSERT_EQ(wine_->Run(args, output), 0) << output;
        std::istringstream lines(testsupport::ReadFile(folder_ + "/calls.txt"));
        for (std::string line; std::getline(lines, line);) {
            const auto space = line.find(' ');
            calls_.push_back({std::stoi(line.substr(0, space)), FromHex(line.substr(space + 1))});
        }
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

    static std::vector<std::string> Names(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    static constexpr std::uint32_t kFoundSize = 8192;
    static constexpr std::size_t kDownloads = 12;

    static std::unique_ptr<testsupport::WinePrefix> prefix_;
    static std::unique_ptr<LoopbackServer> server_;
    static std::unique_ptr<WineSession> wine_;
    static std::string folder_;
    static std::vector<std::string> wineWalk_;
    static std::vector<Call> calls_;
};

std::unique_ptr<testsupport::WinePrefix> FetchelDllTest::prefix_;
std::unique_ptr<LoopbackServer> FetchelDllTest::server_;
std::unique_ptr<WineSession> FetchelDllTest::wine_;
std::string FetchelDllTest::folder_;
std::vector<std::string> FetchelDllTest::wineWalk_;
std::vector<Call> FetchelDllTest::calls_;

TEST_F(FetchelDllTest, DownloadsSucceedFailAndLeaveFilesAsTheLinuxLibraryDoes) {
    ASSERT_EQ(calls_.size(), kDownloads + FindParts().size() + 1);
    const auto expect = [](std::size_t call, int result, const std::string& text) {
        SCOPED_TRACE(call);
        EXPECT_EQ(calls_[call].result, result);
        // A report is the step, the code and wininet.dll's text for it (none for some codes).
        if (text.find(" error code: ") != std::string::npos) {
            EXPECT_EQ(calls_[call].text.substr(0, text.size()), text);
            EXPECT_TRUE(calls_[call].text.ends_with("\n")) << calls_[call].text;
        } else {
            EXPECT_EQ(calls_[call].text, text);
        }
    };
    expect(0, 1, "");
    expect(1, 1, "");
    expect(2, 0, kNotFound);
    expect(3, 0, kNotFound);
    expect(4, 0, kNotFound);
    expect(5, 0, "InternetOpenUrl error code: 12007\nMessage: ");
    EXPECT_TRUE(calls_[5].text.ends_with(".\r\n\n")) << calls_[5].text;  // the module's own text
    expect(6, 0, "File Open Failed");
    expect(7, 0, "InternetReadFile error code: 12030\nMessage: ");
    expect(8, 0, "InternetOpenUrl error code: 12152\nMessage: ");
    expect(9, 1, "");
    expect(10, 1, "");
    expect(11, 0, "InternetReadFile error code: 12002\nMessage: ");

    // The body replaced the older file whole, the empty one removed its older file, the leftover
    // of the killed download is gone, and every failure left the file it would have replaced.
    EXPECT_TRUE(testsupport::ReadFile(folder_ + "/out/body.bin") == Body());
    EXPECT_EQ(testsupport::ReadFile(folder_ + "/out/paced.bin"), std::string(20 * 1024, 'p'));
    EXPECT_EQ(testsupport::ReadFile(folder_ + "/out/kept.txt"), "previous");
    EXPECT_EQ(Names(folder_ + "/out"), (std::vector<std::string>{"body.bin", "kept.txt", "paced.bin"}));
    EXPECT_EQ(testsupport::ReadFile(folder_ + "/stalled/kept.txt"), "previous");

    // A Linux symbolic link, which Wine shows as a plain file, is written through and stays.
    EXPECT_TRUE(fs::is_symlink(folder_ + "/linked/link.bin"));
    EXPECT_TRUE(testsupport::ReadFile(folder_ + "/linked/real.bin") == Body());
}

TEST_F(FetchelDllTest, FindCacheEntryGivesTheFirstMatchOfWinesOwnWalk) {
    ASSERT_EQ(calls_.size(), kDownloads + FindParts().size() + 1);
    ASSERT_GE(wineWalk_.size(), 4u);
    const auto parts = FindParts();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        SCOPED_TRACE(parts[i].substr(0, 40));
        const Call& call = calls_[kDownloads + i];
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
