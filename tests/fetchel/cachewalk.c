/*
 * A Windows program that fills a Wine prefix's URL cache through WinINet itself and prints
 * Wine's own walk of it, for comparing the Linux reader with Wine.
 *
 *   cachewalk fetch URL...             GET each URL with InternetOpenUrlA and read the body
 *   cachewalk cookie URL NAME=VALUE    set a persistent cookie (stored in the cookie container)
 *   cachewalk visit URL                record URL in the history container ("Visited: ...")
 *   cachewalk walk FILE                write FindFirst/FindNextUrlCacheEntryA's URLs to FILE, one a
 *                                      line (a file, because Wine may add its own text to stdout)
 */
#include <windows.h>
#include <wininet.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int fetch(const char* url) {
    HINTERNET internet = InternetOpenA("cachewalk", INTERNET_OPEN_TYPE_DIRECT, NULL, NULL, 0);
    if (!internet) return 0;
    HINTERNET request = InternetOpenUrlA(internet, url, NULL, 0, INTERNET_FLAG_RELOAD, 0);
    int ok = request != NULL;
    if (request) {
        char buffer[4096];
        DWORD got = 0;
        while (InternetReadFile(request, buffer, sizeof buffer, &got) && got > 0) {
        }
        InternetCloseHandle(request);
    } else {
        fprintf(stderr, "fetch %s: error %lu\n", url, GetLastError());
    }
    InternetCloseHandle(internet);
    return ok;
}

static int visit(const char* url) {
    char key[8192];
    snprintf(key, sizeof key, "Visited: %s", url);
    FILETIME zero = {0, 0};
    if (!CommitUrlCacheEntryA(key, NULL, zero, zero, NORMAL_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY,
                              NULL, 0, NULL, NULL)) {
        fprintf(stderr, "visit %s: error %lu\n", url, GetLastError());
        return 0;
    }
    return 1;
}

static int walk(FILE* out) {
    DWORD size = 0;
    INTERNET_CACHE_ENTRY_INFOA* entry = NULL;
    HANDLE find = NULL;
    for (;;) {
        BOOL ok;
        if (!find) {
            find = FindFirstUrlCacheEntryA(NULL, entry, &size);
            ok = find != NULL;
        } else {
            ok = FindNextUrlCacheEntryA(find, entry, &size);
        }
        if (!ok) {
            DWORD error = GetLastError();
            if (error == ERROR_INSUFFICIENT_BUFFER) {
                free(entry);
                entry = malloc(size);
                entry->dwStructSize = size;
                continue;
            }
            if (error == ERROR_NO_MORE_ITEMS) break;
            fprintf(stderr, "walk: error %lu\n", error);
            return 0;
        }
        fwrite(entry->lpszSourceUrlName, 1, strlen(entry->lpszSourceUrlName), out);
        fputc('\n', out);
    }
    if (find) FindCloseUrlCache(find);
    free(entry);
    return 1;
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "walk") == 0) {
        FILE* out = fopen(argv[2], "wb");
        if (!out) return 1;
        const int ok = walk(out);
        return fclose(out) == 0 && ok ? 0 : 1;
    }
    if (argc >= 3 && strcmp(argv[1], "fetch") == 0) {
        int ok = 1;
        for (int i = 2; i < argc; ++i) ok = fetch(argv[i]) && ok;
        return ok ? 0 : 1;
    }
    if (argc == 4 && strcmp(argv[1], "cookie") == 0) {
        return InternetSetCookieA(argv[2], NULL, argv[3]) ? 0 : 1;
    }
    if (argc == 3 && strcmp(argv[1], "visit") == 0) return visit(argv[2]) ? 0 : 1;
    fprintf(stderr, "usage: cachewalk fetch URL... | cookie URL NAME=VALUE | visit URL | walk FILE\n");
    return 2;
}
