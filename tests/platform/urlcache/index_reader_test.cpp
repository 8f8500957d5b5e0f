// The index reader on files built the way Wine lays them out, then damaged on purpose.
#include "platform/urlcache/index_reader.h"

#include "index_builder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using urlcache::WalkEnd;
using urlcache_test::IndexBuilder;
using urlcache_test::kKeyDeleted;
using urlcache_test::kKeyFree;

struct Walk {
    WalkEnd end;
    std::vector<std::string> urls;
};

Walk WalkAll(const std::vector<std::uint8_t>& file) {
    Walk walk{WalkEnd::Finished, {}};
    walk.end = urlcache::WalkIndex(file, [&](std::string_view url) {
        walk.urls.emplace_back(url);
        return false;
    });
    return walk;
}

using Urls = std::vector<std::string>;

TEST(IndexReader, FreshFileWithoutTablesOrSlotsIsEmpty) {
    IndexBuilder empty;
    EXPECT_EQ(WalkAll(empty.Bytes()).end, WalkEnd::Finished);
    EXPECT_TRUE(WalkAll(empty.Bytes()).urls.empty());
    IndexBuilder oneTable;
    oneTable.AddHashTable();
    const Walk walk = WalkAll(oneTable.Bytes());
    EXPECT_EQ(walk.end, WalkEnd::Finished);
    EXPECT_TRUE(walk.urls.empty());
}

TEST(IndexReader, EntriesComeInSlotOrderNotInTheOrderTheyWereWritten) {
    IndexBuilder b;
    const auto table = b.AddHashTable();
    b.SetSlot(table, 399, 0xD92A3040, b.AddRecord("http://host/a.txt"));
    b.SetSlot(table, 238, 0xE8610800, b.AddRecord("http://host/B.txt?Q=1"));
    b.SetSlot(table, 0, 0x12345600, b.AddRecord("http://host/first"));
    b.SetSlot(table, 447, 0x12345600, b.AddRecord("http://host/last"));
    const Walk walk = WalkAll(b.Bytes());
    EXPECT_EQ(walk.end, WalkEnd::Finished);
    EXPECT_EQ(walk.urls, (Urls{"http://host/first", "http://host/B.txt?Q=1", "http://host/a.txt",
                               "http://host/last"}));
}

TEST(IndexReader, TablesAreVisitedByIdUntilTheFirstMissingId) {
    IndexBuilder b;
    for (int i = 0; i < 3; ++i) {
        b.SetSlot(b.AddHashTable(), 5, 0x100, b.AddRecord("table-" + std::to_string(i)));
    }
    const auto t = b.Tables();
    EXPECT_EQ(WalkAll(b.Bytes()).urls, (Urls{"table-0", "table-1", "table-2"}));

    // Chain t0 -> t2 -> t1 with ids 0, 2, 1: Wine still goes by id.
    b.Put32(t[0] + 8, t[2]);
    b.Put32(t[2] + 8, t[1]);
    b.Put32(t[1] + 8, 0);
    EXPECT_EQ(WalkAll(b.Bytes()).urls, (Urls{"table-0", "table-1", "table-2"}));

    // Ids 0, 2, 5: no table has id 1, so the walk ends after table 0.
    b.Put32(t[1] + 12, 5);
    EXPECT_EQ(WalkAll(b.Bytes()).urls, (Urls{"table-0"}));
}

TEST(IndexReader, SkipsFreeAndDeletedSlotsByKeyAndRecordsThatAreNotUrls) {
    IndexBuilder b;
    const auto table = b.AddHashTable();
    const auto live = b.AddRecord("http://live/");
    b.SetSlot(table, 0, kKeyDeleted, live);               // stale offset of a deleted slot
    b.SetSlot(table, 1, 0xAAAA0001, live);                 // flag bits 1, but not the key 1
    b.SetSlot(table, 2, kKeyFree, live);                   // free, whatever the offset says
    b.SetSlot(table, 3, 0x77777702, b.AddRecord("http://locked/"));       // locked: returned
    b.SetSlot(table, 4, 0x77777705, b.AddRecord("http://redr-flag/"));    // flag 5, URL record
    b.SetSlot(table, 5, 0x77777700, b.AddRecord("http://leak/", "LEAK"));
    b.SetSlot(table, 6, 0x77777700, b.AddRecord("http://redr/", "REDR"));
    b.SetSlot(table, 7, 0x77777700, live);
    const Walk walk = WalkAll(b.Bytes());
    EXPECT_EQ(walk.end, WalkEnd::Finished);
    EXPECT_EQ(walk.urls, (Urls{"http://live/", "http://locked/", "http://redr-flag/", "http://live/"}));
}

TEST(IndexReader, LongUrlsAndRawBytesComeBackWhole) {
    IndexBuilder b;
    const std::string longUrl = "http://example.test/" + std::string(5000, 'q') + "?end";
    const std::string rawBytes = "http://caf\xC3\xA9-\xE9/";
    b.AddUrl(longUrl);
    b.AddUrl(rawBytes);
    b.AddUrl("");
    EXPECT_EQ(WalkAll(b.Bytes()).urls, (Urls{longUrl, rawBytes, ""}));
}

TEST(IndexReader, VisitorCanStopTheWalk) {
    IndexBuilder b;
    for (int i = 0; i < 1000; ++i) b.AddUrl("u" + std::to_string(i));  // three tables
    int seen = 0;
    const auto end = urlcache::WalkIndex(b.Bytes(), [&](std::string_view url) {
        ++seen;
        return url == "u700";
    });
    EXPECT_EQ(end, WalkEnd::Stopped);
    EXPECT_EQ(seen, 701);
    EXPECT_EQ(WalkAll(b.Bytes()).urls.size(), 1000u);
}

TEST(IndexReader, AcceptsTheWindowsLayoutAndRefusesOtherVersions) {
    IndexBuilder windows("Client UrlCache MMF Ver 5.2");
    windows.AddUrl("http://w/");
    EXPECT_EQ(WalkAll(windows.Bytes()).urls, Urls{"http://w/"});
    for (const char* signature : {"WINE URLCache Ver 0.2005001", "Client UrlCache MMF Ver 4.7",
                                  "something else entirely...."}) {
        IndexBuilder other(signature);
        other.AddUrl("http://w/");
        EXPECT_EQ(WalkAll(other.Bytes()).end, WalkEnd::Damaged) << signature;
    }
}

// A valid file with two tables and a few entries, for damaging.
std::vector<std::uint8_t> Sample(IndexBuilder& b) {
    for (int i = 0; i < 500; ++i) b.AddUrl("http://sample/" + std::to_string(i));
    return b.Bytes();
}

TEST(IndexReader, HeaderThatWineWouldRejectIsDamaged) {
    IndexBuilder b;
    const auto good = Sample(b);
    ASSERT_EQ(WalkAll(good).end, WalkEnd::Finished);
    const auto damaged = [&](auto change) {
        auto file = good;
        change(file);
        return WalkAll(file).end == WalkEnd::Damaged;
    };
    const auto put = [](std::vector<std::uint8_t>& f, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) f[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    EXPECT_TRUE(damaged([](auto& f) { f.resize(0x7FFF); }));
    EXPECT_TRUE(damaged([](auto& f) { f.resize(0x100); }));
    EXPECT_TRUE(damaged([](auto& f) { f.clear(); }));
    EXPECT_TRUE(damaged([](auto& f) { f.push_back(0); }));                        // size field
    EXPECT_TRUE(damaged([&](auto& f) { put(f, 0x24, 7); }));                      // capacity
    EXPECT_TRUE(damaged([&](auto& f) { put(f, 0x24, 0xFFFFFFFF); }));
    EXPECT_TRUE(damaged([&](auto& f) { put(f, 0x28, 3); }));                      // blocks in use
    EXPECT_TRUE(damaged([](auto& f) { f[0x250] ^= 0x10; }));                      // bitmap
    EXPECT_TRUE(damaged([](auto& f) { f[0x3FFF] = 1; }));                         // past capacity
}

TEST(IndexReader, TableChainThatLeavesTheFileOrLoopsIsDamaged) {
    IndexBuilder b;
    const auto good = Sample(b);
    const auto t = b.Tables();
    ASSERT_EQ(t.size(), 2u);
    const auto damaged = [&](std::size_t at, std::uint32_t value) {
        IndexBuilder copy = b;
        copy.Put32(at, value);
        return WalkAll(copy.Bytes()).end == WalkEnd::Damaged;
    };
    EXPECT_TRUE(damaged(0x20, static_cast<std::uint32_t>(good.size())));          // past the end
    EXPECT_TRUE(damaged(0x20, static_cast<std::uint32_t>(good.size()) - 0x80));   // table cut off
    EXPECT_TRUE(damaged(0x20, 0xFFFFFF80));
    EXPECT_TRUE(damaged(0x20, 0x200));                                             // in the header
    EXPECT_TRUE(damaged(0x20, t[0] + 4));                                          // not aligned
    EXPECT_TRUE(damaged(t[1] + 8, t[0]));                                          // loop to start
    EXPECT_TRUE(damaged(t[1] + 8, t[1]));                                          // loop to self
    EXPECT_TRUE(damaged(t[1], 0x48534148 ^ 1));                                    // not "HASH"
}

TEST(IndexReader, LiveSlotPointingOutsideTheFileOrAtAnUnendedUrlIsDamaged) {
    IndexBuilder b;
    const auto good = Sample(b);
    const auto table = b.Tables()[0];
    const auto slot = [&](std::uint32_t n) { return table + 0x10 + n * 8 + 4; };
    const auto record = static_cast<std::uint32_t>(good[slot(3)] | good[slot(3) + 1] << 8 |
                                                   good[slot(3) + 2] << 16 | good[slot(3) + 3] << 24);
    const auto damaged = [&](std::size_t at, std::uint32_t value) {
        IndexBuilder copy = b;
        copy.Put32(at, value);
        return WalkAll(copy.Bytes()).end == WalkEnd::Damaged;
    };
    const auto size = static_cast<std::uint32_t>(good.size());
    EXPECT_TRUE(damaged(slot(3), size));
    EXPECT_TRUE(damaged(slot(3), size - 0x40));          // fixed part runs past the end
    EXPECT_TRUE(damaged(slot(3), 0xFFFFFFF0));
    EXPECT_TRUE(damaged(slot(3), 0x100));                // inside the header
    EXPECT_TRUE(damaged(record + 0x34, 0xFFFFFFFF));     // URL offset out of the record
    EXPECT_TRUE(damaged(record + 0x34, 128));            // URL offset at the record's end
    // A URL without its zero inside the record's blocks, even when a zero follows later.
    IndexBuilder unended = b;
    for (std::uint32_t at = record + 0x68; at < record + 128; at += 4) unended.Put32(at, 0x41414141);
    EXPECT_EQ(WalkAll(unended.Bytes()).end, WalkEnd::Damaged);
    // A block count of zero or beyond the file is clamped, not trusted.
    EXPECT_FALSE(damaged(record + 4, 0));
    EXPECT_FALSE(damaged(record + 4, 0xFFFFFFFF));
}

TEST(IndexReader, EntriesBeforeTheDamageAreStillVisitedInOrder) {
    IndexBuilder b;
    const auto table = b.AddHashTable();
    b.SetSlot(table, 0, 0x100, b.AddRecord("http://before/"));
    b.SetSlot(table, 1, 0x100, 0x7FFFFF80);
    const Walk walk = WalkAll(b.Bytes());
    EXPECT_EQ(walk.end, WalkEnd::Damaged);
    EXPECT_EQ(walk.urls, Urls{"http://before/"});
}

TEST(IndexReader, RandomlyDamagedFilesNeverCrashTheReader) {
    IndexBuilder b;
    const auto good = Sample(b);
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        auto file = good;
        const int changes = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < changes; ++i) {
            // Mostly the header, the tables and the first records, where offsets live.
            const std::size_t at = random() % 2 ? random() % 0x300 : 0x4000 + random() % 0x3000;
            file[at] = static_cast<std::uint8_t>(random());
        }
        if (random() % 10 == 0) file.resize(random() % file.size());
        const Walk walk = WalkAll(file);
        for (const auto& url : walk.urls) EXPECT_LE(url.size(), file.size());
    }
}

TEST(IndexReader, DeclaredFileSizeReadsTheHeaderField) {
    IndexBuilder b;
    const auto file = b.Bytes();
    EXPECT_EQ(urlcache::DeclaredFileSize(file), file.size());
    EXPECT_EQ(urlcache::DeclaredFileSize(std::vector<std::uint8_t>(0x1F, 0xFF)), 0u);
}

}  // namespace
