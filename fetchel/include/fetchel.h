/*
 * fetchel: download a URL into a file, and find a URL in the WinINet URL cache.
 *
 * On Linux the internet client is libcurl, and the URL cache is the one that Wine keeps for the
 * current user in the Wine prefix ($WINEPREFIX, else ~/.wine). Both functions may be called from
 * several threads at once; neither keeps state between calls.
 *
 * Build against it with:  cc prog.c $(pkg-config --cflags --libs fetchel)
 */
#ifndef FETCHEL_H
#define FETCHEL_H

#include <stdint.h>

#if defined(_WIN32) && defined(FETCHEL_BUILDING)
#define FETCHEL_API __declspec(dllexport)
#elif defined(_WIN32)
#define FETCHEL_API __declspec(dllimport)
#elif defined(__GNUC__)
#define FETCHEL_API __attribute__((visibility("default")))
#else
#define FETCHEL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The size errorText must have: the longest failure report with its terminating zero. */
#define FETCHEL_ERROR_TEXT_SIZE 307

/*
 * Fetches url and stores its body, byte for byte, in the file localPath.
 *
 * Returns 1 when the whole body arrived and was written (an empty body creates no file), 0 on
 * any failure. errorText (at least FETCHEL_ERROR_TEXT_SIZE bytes) is set to the empty string at
 * entry and receives, on failure, either a report
 *     "<step> error code: <WinINet code>\nMessage: <text>\n"
 * with step "InternetOpen", "InternetOpenUrl" or "InternetReadFile", or one of the texts
 * "File Not Accessable or Does Not Exist" (an HTTP status of 400 or more, or the text
 * "404 Object Not Found" in any letter case in the first 1023 bytes of the body),
 * "File Open Failed" or "File Write Failed".
 *
 * The body is written to a temporary file beside localPath and renamed over it only when it is
 * complete, so a failure never leaves a partial file nor changes an existing one.
 * reserved is ignored.
 */
FETCHEL_API int32_t taDownloadFile(const char* url, const char* localPath, char* errorText,
                                   int32_t reserved);

/*
 * Walks the URL cache from its first entry and returns the source URL of the first entry whose
 * URL contains part, letters a to z compared without regard to case. An empty part matches the
 * first entry.
 *
 * foundUrl is set to the empty string at entry. On a match the URL is copied into it in its own
 * letter case, bounded by size: a shorter URL is padded with zero bytes up to size; a URL of
 * size bytes or more fills foundUrl WITHOUT a terminating zero.
 *
 * Returns 1 when the walk ended normally, with a match or without one (foundUrl empty; a missing
 * cache is an empty cache), and 0 when the cache could not be read or is damaged.
 */
FETCHEL_API int32_t taFindCacheEntry(const char* part, char* foundUrl, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* FETCHEL_H */
