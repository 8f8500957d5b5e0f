// The two functions the library exports, with C linkage; everything else stays inside it.
// No C++ exception leaves them: a caller written in C (or any other language) could not catch
// it, and running out of memory is a failure like any other.
#include "fetchel.h"

#include "cache_lookup.h"
#include "download.h"
#include "platform/files/wine_prefix.h"
#include "platform/urlcache/cache_files.h"
#include "wininet_errors.h"

extern "C" FETCHEL_API int32_t taDownloadFile(const char* url, const char* localPath,
                                              char* errorText, int32_t /*reserved*/) {
    try {
        return fetchel::DownloadFile(url, localPath, errorText);
    } catch (...) {
        // Before the transfer began: the transfer reports its own, naming its step.
        fetchel::WriteErrorReport(errorText, fetchel::kStepOpen,
                                  fetchel::WinInetErrorFromCode(fetchel::kErrorNotEnoughMemory));
        return 0;
    }
}

extern "C" FETCHEL_API int32_t taFindCacheEntry(const char* part, char* foundUrl, uint32_t size) {
    try {
        return fetchel::FindCacheEntry(platform::DefaultWinePrefix(), urlcache::WineUserName(), part,
                                       foundUrl, size);
    } catch (...) {
        if (foundUrl && size > 0) foundUrl[0] = '\0';
        return 0;
    }
}
