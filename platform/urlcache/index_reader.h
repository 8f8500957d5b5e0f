// Reader of one WinINet URL cache index file ("index.dat") as Wine writes it, and as Windows
// wrote it before the cache moved to WebCacheV01.dat (the "Client UrlCache MMF Ver 5.2" layout).
//
// The file is read wholly into memory by the caller; the reader only looks at those bytes. It
// trusts nothing in them: every offset is checked against the size with 64-bit arithmetic, the
// chain of hash tables may not loop, and a string must end inside its record.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace urlcache {

// The largest index file there can be: its allocation bitmap (0x250 to 0x4000) covers at most
// 126,336 blocks of 128 bytes after the 0x4000-byte header. A larger file is damaged, whatever
// it holds, and is not read.
inline constexpr std::uint64_t kMaxIndexFileSize = 0x4000 + (0x4000 - 0x250) * 8 * 128;

// How a walk ended.
enum class WalkEnd {
    Finished,  // every entry was visited
    Stopped,   // the visitor asked to stop
    Damaged,   // the file is not a valid index (nothing after the damage was visited)
};

// Receives the source URL of one entry (its bytes as stored, without the terminating zero);
// returns true to stop the walk.
using UrlVisitor = std::function<bool(std::string_view url)>;

// Visits the source URL of every entry in the order in which Wine's FindFirstUrlCacheEntryA and
// FindNextUrlCacheEntryA return them: hash tables by id (0, 1, 2, ...), slots 0 to 447 of each,
// skipping free and deleted slots and every record that is not a "URL " record.
//
// A file that Wine would refuse when it maps it (too small, wrong size field, unknown version,
// inconsistent capacity or allocation bitmap) is Damaged before anything is visited.
WalkEnd WalkIndex(std::span<const std::uint8_t> file, const UrlVisitor& visit);

// The size that the file's own header claims (0 when the file is too short to hold it). A reader
// that finds it different from the bytes it read has caught Wine growing the file mid-read.
std::uint64_t DeclaredFileSize(std::span<const std::uint8_t> file);

}  // namespace urlcache
