// taFindCacheEntry on prefixes whose index files the test writes.
#include "tests/fetchel/child_process.h"
#include "fetchel.h"
#include "index_builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using urlcache_test::IndexBuilder;
using urlcache_test::IndexPath;
using urlcache_test::WriteIndex;

namespace {

std::vector<std::uint8_t> IndexOf(const std::vector<std::string>& urls) {
    IndexBuilder b;
    for (const auto& url : urls) b.AddUrl(url);
    return b.Bytes();
}

const std::string kLongShared = "http://long.example/" + std::string(1500, 'p');

class CacheLookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix_ = fs::temp_directory_path() /
                  ("fetchel-lookup-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(prefix_);
        fs::create_directories(prefix_);
        setenv("WINEPREFIX", prefix_.c_str(), 1);
        setenv("USER", "carol", 1);
        WriteIndex(IndexPath(prefix_, "carol", urlcache_test::kCookies),
                   IndexOf({"Cookie:carol@shop.example/"}));
        WriteIndex(IndexPath(prefix_, "carol", urlcache_test::kContent),
                   IndexOf({"http://Downloads.Example/Setup.EXE", "http://downloads.example/setup.exe",
                            kLongShared + "/first-tail", kLongShared + "/second-tail",
                            "http://x.example/abc"}));
    }
    void TearDown() override { fs::remove_all(prefix_); }

    // Looks part up with a buffer of size bytes followed by guard bytes.
    int Find(const std::string& part, std::uint32_t size, std::string* found = nullptr) {
        buffer_.assign(size + 8, '#');
        const int result = taFindCacheEntry(part.c_str(), buffer_.data(), size);
        if (found) *found = std::string(buffer_.data(), strnlen(buffer_.data(), size));
        return result;
    }

    fs::path prefix_;
    std::vector<char> buffer_;
};

TEST_F(CacheLookupTest, FirstEntryInWineOrderWinsAndKeepsItsOwnLetterCase) {
    std::string found;
    EXPECT_EQ(Find("", 4096, &found), 1);
    EXPECT_EQ(found, "Cookie:carol@shop.example/");
    EXPECT_EQ(Find("SETUP.exe", 4096, &found), 1);
    EXPECT_EQ(found, "http://Downloads.Example/Setup.EXE");
    EXPECT_EQ(Find("shop", 4096, &found), 1);
    EXPECT_EQ(found, "Cookie:carol@shop.example/");
    EXPECT_EQ(Find("ABC", 4096, &found), 1);
    EXPECT_EQ(found, "http://x.example/abc");
}

TEST_F(CacheLookupTest, MissIsSuccessWithAnEmptyText) {
    std::string found = "unchanged";
    EXPECT_EQ(Find("not-cached", 64, &found), 1);
    EXPECT_EQ(found, "");
    EXPECT_EQ(buffer_[0], '\0');
    fs::remove_all(prefix_);
    EXPECT_EQ(Find("", 64, &found), 1);
    EXPECT_EQ(found, "");
    EXPECT_FALSE(fs::exists(prefix_));  // the lookup never creates cache files
}

TEST_F(CacheLookupTest, TextsLongerThanOneKilobyteAreComparedWhole) {
    std::string found;
    // Both long URLs share their first 1520 bytes; only a whole comparison tells them apart.
    const std::string part = "LONG.EXAMPLE/" + std::string(1500, 'P') + "/SECOND";
    EXPECT_EQ(Find(part, 4096, &found), 1);
    EXPECT_EQ(found, kLongShared + "/second-tail");
    EXPECT_EQ(Find(std::string(1600, 'p'), 4096, &found), 1);
    EXPECT_EQ(found, "");
}

TEST_F(CacheLookupTest, CopyIsBoundedBySizeAndPaddedWithZeros) {
    const std::string url = "http://x.example/abc";  // 20 bytes
    // A larger buffer: the URL, then zeros up to size, and nothing written beyond.
    EXPECT_EQ(Find("abc", 32), 1);
    EXPECT_EQ(std::string(buffer_.data(), 20), url);
    for (std::size_t i = 20; i < 32; ++i) EXPECT_EQ(buffer_[i], '\0') << i;
    EXPECT_EQ(buffer_[32], '#');
    // Exactly as long as size: filled, without a terminating zero.
    EXPECT_EQ(Find("abc", 20), 1);
    EXPECT_EQ(std::string(buffer_.data(), 20), url);
    EXPECT_EQ(buffer_[20], '#');
    // Longer than size: cut, without a terminating zero.
    EXPECT_EQ(Find("abc", 7), 1);
    EXPECT_EQ(std::string(buffer_.data(), 8), "http://#");
    // Size zero: nothing is written at all.
    EXPECT_EQ(Find("abc", 0), 1);
    EXPECT_EQ(buffer_[0], '#');
}

TEST_F(CacheLookupTest, DamagedIndexIsAFailureWithAnEmptyText) {
    auto content = IndexOf({"http://a/"});
    content[0x24] ^= 1;  // capacity no longer fits the size
    WriteIndex(IndexPath(prefix_, "carol", urlcache_test::kContent), content);
    std::string found = "unchanged";
    EXPECT_EQ(Find("http://a/", 64, &found), 0);
    EXPECT_EQ(found, "");
    // A match in an earlier container is still found: the walk stops before the damage.
    EXPECT_EQ(Find("cookie:", 64, &found), 1);
    EXPECT_EQ(found, "Cookie:carol@shop.example/");
}

TEST_F(CacheLookupTest, IndexThatIsAFifoOrLargerThanAnyIndexFailsWithoutBeingRead) {
    // "http" is in no cookie, so the walk goes on to the content index.
    const fs::path index = IndexPath(prefix_, "carol", urlcache_test::kContent);
    fs::remove(index);
    ASSERT_EQ(mkfifo(index.c_str(), 0600), 0);
    auto lookup = std::async(std::launch::async, [] {
        char out[64];
        return taFindCacheEntry("http", out, sizeof out);
    });
    const bool returned = lookup.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!returned) close(open(index.c_str(), O_WRONLY));  // let a reader stuck in open go
    EXPECT_TRUE(returned) << "the lookup waited for a writer of the FIFO";
    EXPECT_EQ(lookup.get(), 0);

    // 3 GB, sparse: read whole, it would take 3 GB of memory.
    fs::remove(index);
    std::ofstream(index).close();
    fs::resize_file(index, std::uintmax_t{3} << 30);
    const int outcome = fetchel_test::RunWithLittleMemory(
        [] {
            char out[64];
            return taFindCacheEntry("http", out, sizeof out) == 0 && out[0] == '\0' ? 0 : 1;
        },
        32 << 20);
    EXPECT_EQ(outcome, 0) << "99: an exception left the library";
}

TEST_F(CacheLookupTest, TheCurrentUsersCacheIsRead) {
    WriteIndex(IndexPath(prefix_, "dave", urlcache_test::kContent), IndexOf({"http://daves/"}));
    std::string found;
    EXPECT_EQ(Find("daves", 64, &found), 1);
    EXPECT_EQ(found, "");
    setenv("USER", "dave", 1);
    EXPECT_EQ(Find("daves", 64, &found), 1);
    EXPECT_EQ(found, "http://daves/");
}

TEST_F(CacheLookupTest, NullArgumentsDoNotCrash) {
    char out[16];
    EXPECT_EQ(taFindCacheEntry(nullptr, out, sizeof out), 1);  // as an empty part
    EXPECT_EQ(std::string(out, sizeof out), "Cookie:carol@sho");
    EXPECT_EQ(taFindCacheEntry("x", nullptr, 16), 0);
    EXPECT_EQ(taFindCacheEntry("x", nullptr, 0), 1);
}

TEST_F(CacheLookupTest, ConcurrentLookupsAgree) {
    std::vector<std::thread> threads;
    std::vector<int> wrong(6, 0);
    for (std::size_t t = 0; t < wrong.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                char out[4096];
                if (taFindCacheEntry("setup", out, sizeof out) != 1 ||
                    std::string(out) != "http://Downloads.Example/Setup.EXE") {
                    ++wrong[t];
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, std::vector<int>(6, 0));
}

}  // namespace
