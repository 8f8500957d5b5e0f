// taFindCacheEntry: the first URL in the Wine prefix's URL cache that contains a given text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fetchel {

// Looks part up in the URL cache of user in the Wine prefix (see urlcache::WalkUrlCache).
std::int32_t FindCacheEntry(const std::string& prefix, const std::string& user, const char* part,
                            char* foundUrl, std::uint32_t size);

// Copies url into foundUrl bounded by size: zero bytes pad a shorter URL up to size, and a URL
// of size bytes or more fills foundUrl without a terminating zero.
void CopyBounded(std::string_view url, char* foundUrl, std::uint32_t size);

}  // namespace fetchel
