#include "cache_lookup.h"

#include "platform/urlcache/cache_files.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

namespace fetchel {
namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

struct FoldedHash {
    std::size_t operator()(char c) const { return std::hash<char>{}(AsciiUpper(c)); }
};
struct FoldedEqual {
    bool operator()(char a, char b) const { return AsciiUpper(a) == AsciiUpper(b); }
};

// A search for one text inside URLs of any length, letters a to z compared without regard to
// case; built once per lookup.
class FoldedSearch {
public:
    explicit FoldedSearch(std::string_view text)
        : text_(text), searcher_(text_.begin(), text_.end(), FoldedHash{}, FoldedEqual{}) {}

    bool FoundIn(std::string_view url) const {
        return std::search(url.begin(), url.end(), searcher_) != url.end() || text_.empty();
    }

private:
    std::string_view text_;
    std::boyer_moore_horspool_searcher<std::string_view::const_iterator, FoldedHash, FoldedEqual>
        searcher_;
};

}  // namespace

void CopyBounded(std::string_view url, char* foundUrl, std::uint32_t size) {
    const std::size_t copied = std::min<std::size_t>(url.size(), size);
    std::memcpy(foundUrl, url.data(), copied);
    std::memset(foundUrl + copied, 0, size - copied);
}

std::int32_t FindCacheEntry(const std::string& prefix, const std::string& user, const char* part,
                            char* foundUrl, std::uint32_t size) {
    if (foundUrl && size > 0) foundUrl[0] = '\0';
    if (!foundUrl && size > 0) return 0;
    const FoldedSearch search(part ? part : "");
    std::string match;
    const auto end = urlcache::WalkUrlCache(prefix, user, [&](std::string_view url) {
        if (!search.FoundIn(url)) return false;
        match = url;
        return true;
    });
    if (end == urlcache::CacheWalkEnd::Failed) return 0;
    if (end == urlcache::CacheWalkEnd::Stopped && foundUrl) CopyBounded(match, foundUrl, size);
    return 1;
}

}  // namespace fetchel
