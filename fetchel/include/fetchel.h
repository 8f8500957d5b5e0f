/*
 * fetchel: download a URL into a file, and find a URL in the WinINet URL cache.
 *
 * On Linux the internet client is libcurl, and the URL cache is the one that Wine keeps for the
 * current user in the Wine prefix ($WINEPREFIX, else ~/.wine). On Windows (fetchel.dll) both are
 * WinINet's own, and the cache is the current user's. Both functions may be called from several
 * threads at once; neither keeps state between calls.
 *
 * Build against it with:  cc prog.c $(pkg-config --cflags --libs fetchel)
 * On Windows, link the import library (libfetchel.dll.a) or load fetchel.dll and look the
 * functions up by their plain names, "taDownloadFile" and "taFindCacheEntry".
 */
#ifndef FETCHEL_H
#define FETCHEL_H

#include <stdint.h>

/* On Windows the functions are __stdcall, the convention of the system's own DLLs, and are
 * exported under their plain names (fetchel.def); the DLL itself exports only what its .def
 * names, so nothing is marked for export while it is built. */
#if defined(_WIN32) && defined(FETCHEL_BUILDING)
#define FETCHEL_API
#elif defined(_WIN32)
#define FETCHEL_API __declspec(dllimport)
#elif defined(__GNUC__)
#define FETCHEL_API __attribute__((visibility("default")))
#else
#define FETCHEL_API
#endif

#if defined(_WIN32)
#define FETCHEL_CALL __stdcall
#else
#define FETCHEL_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The size errorText must have: the longest failure report with its terminating zero. */
#define FETCHEL_ERROR_TEXT_SIZE 307

/*
 * Fetches url and stores its body, byte for byte, in the file localPath.
 *
 * Returns 1 when the whole body arrived and was written, 0 on any failure. A body of 0 bytes
 * succeeds and leaves no file at localPath: an older file there is removed, so that it cannot
 * pass for what was fetched. errorText (at least FETCHEL_ERROR_TEXT_SIZE bytes) is set to the
 * empty string at entry and receives, on failure, either a report
 *     "<step> error code: <WinINet code>\nMessage: <text>\n"
 * or one of the texts below. The step is the WinINet call that would have failed:
 *   "InternetOpen"      nothing could be set up (out of memory: code 8, empty message);
 *   "InternetOpenUrl"   until the head of the final response is in: a refused URL (12005,
 *                       12006; a URL with a control character, a CR LF for one, is refused with
 *                       12005 before anything is sent), the name (12007), the connection
 *                       (12029), a reply that is not HTTP (12152), a failed redirect (12156:
 *                       more than 10 redirects, a loop, or one to a scheme other than http,
 *                       https and ftp), a head not complete in time;
 *   "InternetReadFile"  once the head is in: the connection lost (12030) or reset (12031), the
 *                       body stalling.
 * The body ends where its Content-Length says: bytes a server sends past it are not stored.
 * Time: the head (redirects included) must be in within 60 seconds of the start, however it
 * trickles in; after that each further 1024 bytes of the body must arrive within 60 seconds.
 * Otherwise the download fails with 12002 at the step it is in.
 * Texts:
 *   "File Not Accessable or Does Not Exist"  a final HTTP status outside 200-299 (a 3xx without
 *       a Location too), or the text "404 Object Not Found" in any letter case in the first
 *       1023 bytes of the body;
 *   "File Open Failed"  the file cannot be created (a missing folder, no permission, a name too
 *       long, a folder, a device, a FIFO or a socket in the way, a loop of links), or an existing
 *       file may not be written (the caller lacks permission, or it is read-only: no write
 *       permission for anyone, which is refused even to root). This is checked as soon as the
 *       head is in, and reported once the first 1023 bytes passed the not-found test: the rest
 *       of the body is not fetched. Also: a 0-byte body when the older file cannot be removed;
 *   "File Write Failed"  the file could not be written in full (a full disc).
 *
 * When localPath is a symbolic link, the file it points to is written (created if missing) and
 * the link stays. The body is written to a temporary file beside that file,
 * "<name>.part-<pid>-<n>-<8 hex digits>", locked while the download runs, and renamed over the
 * file only when complete and flushed to disc: a failure never leaves a partial file nor changes
 * an existing one. A process killed mid-download leaves its temporary file; the next download
 * into the same folder removes those whose process is gone and whose lock is free.
 * No C++ exception leaves this function. reserved is ignored.
 *
 * On Windows the message is wininet.dll's own text for the code; for a code it has no text for,
 * Windows' English text as the Linux library gives it (none for 8). Under Wine, a chunked body
 * that is cut off, too short or has a chunk size that is not hex is stored as if it had ended:
 * Wine's WinINet ends such a body as it ends a whole one and tells the caller nothing else.
 * The temporary file is "<name>.part-w<pid>-<n>-<8 hex digits>"; its lock is that the
 * download holds it open without letting others write or delete it, and it is moved over the
 * file with MoveFileEx. A dangling symbolic link is replaced by the file. A path of 260
 * characters or more (MAX_PATH) cannot be created. The body is read in pieces sized to its
 * recent rate (what arrives in an eighth of the bound), so a body that slows down abruptly to a
 * small fraction of that rate can run out of time although it still brings 1024 bytes within
 * each 60 seconds. A download that runs out of time returns at once; its WinINet exchange, which
 * WinINet may not let go of sooner, ends in the background and removes its temporary file (or
 * leaves it to the next download into that folder, when the process ends first).
 */
FETCHEL_API int32_t FETCHEL_CALL taDownloadFile(const char* url, const char* localPath,
                                                char* errorText, int32_t reserved);

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
 * cache is an empty cache), and 0 (foundUrl empty) when the cache could not be read or is
 * damaged. On Linux, an index file that is not a regular file (a FIFO, a device), or that is
 * larger than any index can be (16,187,392 bytes: the most its allocation bitmap can describe),
 * counts as damaged and is not read. On Windows the walk is WinINet's own
 * (FindFirstUrlCacheEntryA, FindNextUrlCacheEntryA), and any error of it but the end of the cache
 * returns 0. No C++ exception leaves this function (out of memory returns 0).
 */
FETCHEL_API int32_t FETCHEL_CALL taFindCacheEntry(const char* part, char* foundUrl, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* FETCHEL_H */
