#include "cache_lookup.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include <windows.h>
#include <wininet.h>

namespace fetchel::win32 {
namespace {

constexpr DWORD kEntryBlockSize = 4096;
// The cache names the size an entry needs; an entry that keeps growing while it is read (another
// program writing it) is given up on after this many tries rather than chased for ever.
constexpr int kGrowAttempts = 8;

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool ContainsLetterCaseAside(std::string_view text, std::string_view part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
               return AsciiUpper(a) == AsciiUpper(b);
           }) != text.end() || part.empty();
}

// The block that receives one cache entry; grows to the size the cache asks for. Kept in units
// of max_align_t, so that the record at its start is aligned.
class EntryBlock {
public:
    EntryBlock() : units_(UnitsFor(kEntryBlockSize)) {}

    INTERNET_CACHE_ENTRY_INFOA* Entry() { return reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(units_.data()); }
    DWORD Size() const { return static_cast<DWORD>(units_.size() * sizeof(std::max_align_t)); }
    void GrowTo(DWORD size) { units_.resize(UnitsFor(size)); }

private:
    static std::size_t UnitsFor(DWORD size) { return (size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t); }
    std::vector<std::max_align_t> units_;
};

// Ends a cache walk when it goes.
class CacheWalk {
public:
    ~CacheWalk() {
        if (handle_) FindCloseUrlCache(handle_);
    }
    HANDLE handle_ = nullptr;
};

// Reads one entry with read(entry, &size), growing the block while the cache answers that it is
// too small; the error of the last attempt when it fails.
template <typename Read>
DWORD ReadEntry(EntryBlock& block, Read read) {
    for (int attempt = 0; attempt < kGrowAttempts; ++attempt) {
        DWORD size = block.Size();
        block.Entry()->dwStructSize = size;
        if (read(block.Entry(), &size)) return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || size <= block.Size()) return error;
        block.GrowTo(size);
    }
    return ERROR_INSUFFICIENT_BUFFER;
}

}  // namespace

void CopyBounded(std::string_view url, char* foundUrl, std::uint32_t size) {
    const std::size_t copied = std::min<std::size_t>(url.size(), size);
    std::memcpy(foundUrl, url.data(), copied);
    std::memset(foundUrl + copied, 0, size - copied);
}

std::int32_t FindCacheEntry(const char* part, char* foundUrl, std::uint32_t size) {
    if (foundUrl && size > 0) foundUrl[0] = '\0';
    if (!foundUrl && size > 0) return 0;
    // Compared without a fixed-size copy, so that texts and URLs of any length are compared whole.
    const std::string_view wanted = part ? part : "";
    EntryBlock block;
    CacheWalk walk;
    DWORD error = ReadEntry(block, [&walk](INTERNET_CACHE_ENTRY_INFOA* entry, DWORD* entrySize) {
        walk.handle_ = FindFirstUrlCacheEntryA(nullptr, entry, entrySize);
        return walk.handle_ != nullptr;
    });
    while (error == ERROR_SUCCESS) {
        const char* url = block.Entry()->lpszSourceUrlName;
        if (url && ContainsLetterCaseAside(url, wanted)) {
            if (foundUrl) CopyBounded(url, foundUrl, size);
            return 1;
        }
        error = ReadEntry(block, [&walk](INTERNET_CACHE_ENTRY_INFOA* entry, DWORD* entrySize) {
            return FindNextUrlCacheEntryA(walk.handle_, entry, entrySize) != FALSE;
        });
    }
    return error == ERROR_NO_MORE_ITEMS ? 1 : 0;
}

}  // namespace fetchel::win32
