// Finding a prefix's cache files as Wine does, and the walk over all three containers.
#include "platform/files/wine_prefix.h"
#include "platform/urlcache/cache_files.h"

#include "index_builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;
using urlcache::CacheWalkEnd;
using urlcache_test::IndexBuilder;
using urlcache_test::IndexPath;
using urlcache_test::WriteIndex;

namespace {

// Sets or unsets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::vector<std::uint8_t> IndexOf(const std::vector<std::string>& urls) {
    IndexBuilder b;
    for (const auto& url : urls) b.AddUrl(url);
    return b.Bytes();
}

class CacheFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix_ = fs::temp_directory_path() /
                  ("fetchel-cachefiles-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(prefix_);
        fs::create_directories(prefix_);
    }
    void TearDown() override { fs::remove_all(prefix_); }

    struct Walked {
        CacheWalkEnd end;
        std::vector<std::string> urls;
    };
    Walked Walk(const std::string& user) const {
        Walked walked{CacheWalkEnd::Finished, {}};
        walked.end = urlcache::WalkUrlCache(prefix_, user, [&](std::string_view url) {
            walked.urls.emplace_back(url);
            return false;
        });
        return walked;
    }

    fs::path prefix_;
};

using Urls = std::vector<std::string>;

TEST(WineEnvironment, PrefixAndUserFollowWinesOwnRules) {
    {
        ScopedEnv prefix("WINEPREFIX", "/some/prefix");
        EXPECT_EQ(platform::DefaultWinePrefix(), "/some/prefix");
    }
    {
        ScopedEnv prefix("WINEPREFIX", nullptr);
        ScopedEnv home("HOME", "/home/someone");
        EXPECT_EQ(platform::DefaultWinePrefix(), "/home/someone/.wine");
    }
    {
        ScopedEnv user("USER", "DOMAIN\\alice");
        EXPECT_EQ(urlcache::WineUserName(), "alice");
    }
    {
        ScopedEnv user("USER", "a/b/bob");
        EXPECT_EQ(urlcache::WineUserName(), "bob");
    }
    {
        ScopedEnv user("USER", nullptr);
        const passwd* account = getpwuid(getuid());
        EXPECT_EQ(urlcache::WineUserName(), account ? account->pw_name : "wine");
    }
}

TEST_F(CacheFilesTest, ContainersAreWalkedCookiesHistoryThenContent) {
    WriteIndex(IndexPath(prefix_, "alice", urlcache_test::kContent), IndexOf({"http://c1/", "http://c2/"}));
    WriteIndex(IndexPath(prefix_, "alice", urlcache_test::kHistory), IndexOf({"Visited: alice@http://h/"}));
    WriteIndex(IndexPath(prefix_, "alice", urlcache_test::kCookies), IndexOf({"Cookie:alice@k/"}));
    WriteIndex(IndexPath(prefix_, "bob", urlcache_test::kContent), IndexOf({"http://bob/"}));
    const Walked alice = Walk("alice");
    EXPECT_EQ(alice.end, CacheWalkEnd::Finished);
    EXPECT_EQ(alice.urls, (Urls{"Cookie:alice@k/", "Visited: alice@http://h/", "http://c1/", "http://c2/"}));
    EXPECT_EQ(Walk("bob").urls, Urls{"http://bob/"});
}

TEST_F(CacheFilesTest, MissingFilesAreAnEmptyCacheAndNothingIsCreated) {
    EXPECT_EQ(Walk("alice").end, CacheWalkEnd::Finished);
    fs::remove_all(prefix_);
    EXPECT_EQ(Walk("alice").end, CacheWalkEnd::Finished);
    EXPECT_FALSE(fs::exists(prefix_));

    fs::create_directories(prefix_);
    WriteIndex(IndexPath(prefix_, "alice", urlcache_test::kContent), IndexOf({"http://only/"}));
    const Walked walked = Walk("alice");
    EXPECT_EQ(walked.urls, Urls{"http://only/"});
    EXPECT_FALSE(fs::exists(IndexPath(prefix_, "alice", urlcache_test::kCookies).parent_path()));
}

TEST_F(CacheFilesTest, FolderNamesMatchLetterCaseAsideAndDriveCGoesThroughDosdevices) {
    // A prefix whose C: lives elsewhere, with folders in other letter case.
    const fs::path drive = prefix_ / "elsewhere";
    const fs::path index = drive / "USERS/alice/appdata/LOCAL/microsoft/WINDOWS/inetcache/content.ie5/INDEX.DAT";
    fs::create_directories(index.parent_path());
    WriteIndex(index, IndexOf({"http://odd-case/"}));
    fs::create_directories(prefix_ / "dosdevices");
    fs::create_directory_symlink("../elsewhere", prefix_ / "dosdevices/c:");
    EXPECT_EQ(Walk("alice").urls, Urls{"http://odd-case/"});
    EXPECT_EQ(Walk("ALICE").urls, Urls{"http://odd-case/"});
}

TEST_F(CacheFilesTest, DamagedOrUnreadableIndexFailsTheWalk) {
    WriteIndex(IndexPath(prefix_, "alice", urlcache_test::kCookies), IndexOf({"Cookie:a@b/"}));
    auto content = IndexOf({"http://c/"});
    content[0x1C] ^= 0x40;  // size field no longer the file's size
    WriteIndex(IndexPath(prefix_, "alice", urlcache_test::kContent), content);
    Walked walked = Walk("alice");
    EXPECT_EQ(walked.end, CacheWalkEnd::Failed);
    EXPECT_EQ(walked.urls, Urls{"Cookie:a@b/"});  // the cookies came before the damage

    // A folder where the file should be cannot be read.
    fs::remove(IndexPath(prefix_, "alice", urlcache_test::kContent));
    fs::create_directory(IndexPath(prefix_, "alice", urlcache_test::kContent));
    EXPECT_EQ(Walk("alice").end, CacheWalkEnd::Failed);
}

TEST_F(CacheFilesTest, ReadIndexFileReportsMissingAndReadsWholeFiles) {
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(urlcache::ReadIndexFile(prefix_ / "none.dat", bytes), urlcache::ReadResult::Missing);
    EXPECT_EQ(urlcache::ReadIndexFile(prefix_ / "none/deeper.dat", bytes), urlcache::ReadResult::Missing);
    const auto file = IndexOf({std::string(100'000, 'x')});
    WriteIndex(prefix_ / "big.dat", file);
    EXPECT_EQ(urlcache::ReadIndexFile(prefix_ / "big.dat", bytes), urlcache::ReadResult::Read);
    EXPECT_EQ(bytes, file);
    // A file whose header disagrees with its length is returned after the retries, for the
    // walk to call damaged.
    auto shortened = file;
    shortened.resize(0x9000);
    WriteIndex(prefix_ / "cut.dat", shortened);
    EXPECT_EQ(urlcache::ReadIndexFile(prefix_ / "cut.dat", bytes), urlcache::ReadResult::Read);
    EXPECT_EQ(bytes.size(), 0x9000u);
}

}  // namespace
