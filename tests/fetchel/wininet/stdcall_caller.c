/*
 * A C caller of fetchel.dll built against its import library (by dll_exports_test.sh), with
 * the declarations classic Windows callers write themselves, __stdcall by name:
 *   -DOWN_DECLARATIONS               plain declarations
 *   -DOWN_DECLARATIONS -DDLLIMPORT   the same, marked __declspec(dllimport)
 * and, without either, those of fetchel.h.
 */
#include <stdint.h>

#if defined(OWN_DECLARATIONS)
#if defined(DLLIMPORT)
#define IMPORTED __declspec(dllimport)
#else
#define IMPORTED
#endif
IMPORTED int32_t __stdcall taDownloadFile(const char* url, const char* localPath, char* errorText,
                                          int32_t reserved);
IMPORTED int32_t __stdcall taFindCacheEntry(const char* part, char* foundUrl, uint32_t size);
#else
#include "fetchel.h"
#endif

int main(void) {
    char errorText[307];
    char url[1024];
    return (int)(taDownloadFile("http://localhost/", "file.bin", errorText, 0) +
                 taFindCacheEntry("localhost", url, sizeof url));
}
