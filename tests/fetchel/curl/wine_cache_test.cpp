// The cache reader on index files that Wine itself wrote: a Windows program fetches URLs from a
// loopback server through Wine's WinINet, sets a cookie and records a visit, and writes Wine's
// own FindFirst/FindNextUrlCacheEntryA walk; the reader must give the same URLs in the same
// order, and taFindCacheEntry the same first match.
#include "fetchel.h"
#include "tests/fetchel/loopback_server.h"
#include "platform/urlcache/cache_files.h"
#include "tests/support/wine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using fetchel_test::Connection;
using fetchel_test::LoopbackServer;
using fetchel_test::Request;

namespace {

constexpr const char* kUser = "fetchelwine";
constexpr std::size_t kBulkUrls = 520;  // enough for Wine to chain a second hash table

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return Upper(c); });
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class WineCacheTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        prefix_ = std::make_unique<testsupport::WinePrefix>();
        // Set only now: the shared template prefix is made under the usual user.
        setenv("USER", kUser, 1);
        server_ = std::make_unique<LoopbackServer>([](Connection& c, const Request& r) {
            const bool missing = r.target.rfind("/missing/", 0) == 0;
            c.SendResponse(missing ? 404 : 200, "body of " + r.target.substr(0, 40));
        });
        const std::string base = server_->Url("");
        longA_ = base + "/long/" + std::string(1200, 'a') + "/Tail-One";
        longB_ = base + "/long/" + std::string(1200, 'a') + "/tail-two";
        huge_ = base + "/huge/" + std::string(5000, 'c') + "?End=1";

        std::vector<std::string> fetch = {"fetch",
                                          base + "/Docs/ReadMe.TXT",
                                          base + "/docs/readme.txt?Lang=EN",
                                          base + "/Setup/Package-1.0.MSI",
                                          longA_, longB_, huge_,
                                          base + "/missing/page.html"};
        for (std::size_t i = 0; i < kBulkUrls; ++i) fetch.push_back(base + "/bulk/" + std::to_string(i));
        Run(fetch);
        Run({"cookie", base + "/Shop/", "basket=42; expires=Fri, 01 Jan 2038 00:00:00 GMT"});
        Run({"visit", base + "/History/Page.html"});

        const std::string walkFile = prefix_->Path() + "/wine-walk.txt";
        Run({"walk", "Z:" + walkFile});
        wineWalk_ = Lines(testsupport::ReadFile(walkFile));
    }

    static void TearDownTestSuite() {
        server_.reset();
        prefix_.reset();
    }

    static void Run(std::vector<std::string> args) {
        args.insert(args.begin(), FETCHEL_CACHEWALK_EXE);
        const auto result = testsupport::RunWine(prefix_->Path(), args);
        ASSERT_EQ(result.status, 0) << args[1] << ": " << result.output;
    }

    // The first URL of Wine's walk that contains part, letter case aside.
    static std::string WineFirstMatch(const std::string& part) {
        for (const auto& url : wineWalk_) {
            if (Upper(url).find(Upper(part)) != std::string::npos) return url;
        }
        return {};
    }

    static std::string CacheFolder(const std::string& prefix) {
        return prefix + "/drive_c/users/" + kUser + "/AppData/Local/Microsoft/Windows";
    }

    static std::unique_ptr<testsupport::WinePrefix> prefix_;
    static std::unique_ptr<LoopbackServer> server_;
    static std::vector<std::string> wineWalk_;
    static std::string longA_, longB_, huge_;
};

std::unique_ptr<testsupport::WinePrefix> WineCacheTest::prefix_;
std::unique_ptr<LoopbackServer> WineCacheTest::server_;
std::vector<std::string> WineCacheTest::wineWalk_;
std::string WineCacheTest::longA_, WineCacheTest::longB_, WineCacheTest::huge_;

TEST_F(WineCacheTest, ReaderWalksWinesFilesInWinesOrder) {
    ASSERT_GE(wineWalk_.size(), kBulkUrls + 8);
    EXPECT_EQ(wineWalk_.front().rfind("Cookie:", 0), 0u) << wineWalk_.front();
    EXPECT_EQ(wineWalk_[1].rfind("Visited: ", 0), 0u) << wineWalk_[1];

    std::vector<std::string> ours;
    const auto end = urlcache::WalkUrlCache(prefix_->Path(), kUser, [&](std::string_view url) {
        ours.emplace_back(url);
        return false;
    });
    EXPECT_EQ(end, urlcache::CacheWalkEnd::Finished);
    EXPECT_EQ(ours, wineWalk_);

    // The content index has more than one hash table, so the chain was walked too.
    const std::string content =
        testsupport::ReadFile(CacheFolder(prefix_->Path()) + "/INetCache/Content.IE5/index.dat");
    const auto u32 = [&](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(static_cast<unsigned char>(content.at(at + i))) << (8 * i);
        return value;
    };
    EXPECT_NE(u32(u32(0x20) + 8), 0u) << "Wine wrote a single hash table";
}

TEST_F(WineCacheTest, FirstMatchIsWinesFirstMatch) {
    setenv("WINEPREFIX", prefix_->Path().c_str(), 1);
    const std::vector<std::string> parts = {
        "", "readme.TXT", "README.TXT?LANG", "package-1.0.msi", "TAIL-TWO", "cookie:", "VISITED:",
        "/Missing/", "/BULK/37", "/bulk/5", "shop", "no-such-text",
        "/LONG/" + std::string(1200, 'A') + "/TAIL-T",  // longer than 1 KB
        std::string(5000, 'C'),                         // longer than the 4 KB entry buffer
    };
    for (const auto& part : parts) {
        SCOPED_TRACE(part.substr(0, 60));
        std::vector<char> found(8192, '#');
        EXPECT_EQ(taFindCacheEntry(part.c_str(), found.data(), static_cast<std::uint32_t>(found.size())), 1);
        EXPECT_EQ(std::string(found.data()), WineFirstMatch(part));
    }
    EXPECT_EQ(WineFirstMatch("tail-two"), longB_);
    EXPECT_EQ(WineFirstMatch(std::string(5000, 'c')), huge_);
}

TEST_F(WineCacheTest, CopiedIndexFilesGiveTheSameAnswerAndDamageFailsTheLookup) {
    // Only the three index files, in a prefix of their own.
    const std::string copy = testsupport::MakeTempDir("fetchel-cache");
    const std::string from = CacheFolder(prefix_->Path());
    const std::string to = CacheFolder(copy);
    for (const char* container : {"INetCookies", "History/History.IE5", "INetCache/Content.IE5"}) {
        fs::create_directories(to + "/" + container);
        fs::copy_file(from + "/" + container + "/index.dat", to + "/" + container + "/index.dat");
    }
    setenv("WINEPREFIX", copy.c_str(), 1);
    char found[8192];
    EXPECT_EQ(taFindCacheEntry("package-1.0", found, sizeof found), 1);
    EXPECT_EQ(std::string(found), WineFirstMatch("package-1.0"));

    // Cut the content index short: the entries before it still match, the content fails.
    const std::string content = to + "/INetCache/Content.IE5/index.dat";
    fs::resize_file(content, fs::file_size(content) / 2);
    EXPECT_EQ(taFindCacheEntry("package-1.0", found, sizeof found), 0);
    EXPECT_EQ(std::string(found), "");
    EXPECT_EQ(taFindCacheEntry("Cookie:", found, sizeof found), 1);
    EXPECT_EQ(std::string(found), WineFirstMatch("Cookie:"));

    // Point the first hash table's chain back at itself: a loop, not a hang.
    fs::copy_file(from + "/INetCache/Content.IE5/index.dat", content,
                  fs::copy_options::overwrite_existing);
    std::string bytes = testsupport::ReadFile(content);
    const std::size_t table = static_cast<unsigned char>(bytes[0x20]) |
                              static_cast<unsigned char>(bytes[0x21]) << 8 |
                              static_cast<std::size_t>(static_cast<unsigned char>(bytes[0x22])) << 16;
    bytes.replace(table + 8, 4, bytes.substr(0x20, 4));
    testsupport::WriteFile(content, bytes);
    EXPECT_EQ(taFindCacheEntry("package-1.0", found, sizeof found), 0);
    testsupport::RemoveTree(copy);
}

}  // namespace
