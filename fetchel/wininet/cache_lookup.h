// taFindCacheEntry on Windows: the first URL in WinINet's URL cache that contains a given text.
#pragma once

#include <cstdint>
#include <string_view>

namespace fetchel::win32 {

// Walks the current user's URL cache from its first entry; see taFindCacheEntry in fetchel.h.
std::int32_t FindCacheEntry(const char* part, char* foundUrl, std::uint32_t size);

// Copies url into foundUrl bounded by size: zero bytes pad a shorter URL up to size, and a URL
// of size bytes or more fills foundUrl without a terminating zero.
void CopyBounded(std::string_view url, char* foundUrl, std::uint32_t size);

}  // namespace fetchel::win32
