// The two functions fetchel.dll exports, __stdcall under their plain names (see fetchel.def).
// No C++ exception leaves them: a caller written in C (or any other language) could not catch
// it, and running out of memory is a failure like any other.
#include "fetchel.h"

#include "cache_lookup.h"
#include "download.h"
#include "error_report.h"

#include <cstring>

extern "C" FETCHEL_API int32_t FETCHEL_CALL taDownloadFile(const char* url, const char* localPath,
                                                           char* errorText, int32_t /*reserved*/) {
    using namespace fetchel;
    using namespace fetchel::win32;
    try {
        return DownloadFile(url, localPath, errorText);
    } catch (...) {
        // Before the worker began: the worker reports its own, naming its step.
        if (errorText) std::strcpy(errorText, ErrorReport(kStepOpen, kErrorNotEnoughMemory).data());
        return 0;
    }
}

extern "C" FETCHEL_API int32_t FETCHEL_CALL taFindCacheEntry(const char* part, char* foundUrl,
                                                             uint32_t size) {
    try {
        return fetchel::win32::FindCacheEntry(part, foundUrl, size);
    } catch (...) {
        if (foundUrl && size > 0) foundUrl[0] = '\0';
        return 0;
    }
}
