// The two functions the library exports, with C linkage; everything else stays inside it.
#include "fetchel.h"

#include "cache_lookup.h"
#include "download.h"
#include "platform/urlcache/cache_files.h"

extern "C" FETCHEL_API int32_t taDownloadFile(const char* url, const char* localPath,
                                              char* errorText, int32_t /*reserved*/) {
    return fetchel::DownloadFile(url, localPath, errorText);
}

extern "C" FETCHEL_API int32_t taFindCacheEntry(const char* part, char* foundUrl, uint32_t size) {
    return fetchel::FindCacheEntry(urlcache::WinePrefix(), urlcache::WineUserName(), part,
                                   foundUrl, size);
}
