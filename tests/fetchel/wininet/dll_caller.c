/*
 * A Windows program that calls fetchel.dll as its users do: LoadLibraryA, then GetProcAddress by
 * the plain names, through __stdcall pointers.
 *
 *   dll_caller DLL OUTPUT (download URL PATH | find PART SIZE | limit MILLISECONDS)...
 *
 * ("limit" sets the library's time bound for the calls after it, through the environment
 * variable that tests use) and writes one line per call to OUTPUT (a file, because Wine may add
 * its own text to stdout):
 *   download: "<result> <errorText in hex>"
 *   find:     "<result> <the first SIZE bytes of foundUrl in hex>"
 * The buffers have guard bytes after them; a call that writes past its buffer ends the program
 * with status 3.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fetchel.h"

typedef int32_t(FETCHEL_CALL* DownloadFunction)(const char*, const char*, char*, int32_t);
typedef int32_t(FETCHEL_CALL* FindFunction)(const char*, char*, uint32_t);

enum { kGuard = 16 };

static void write_hex(FILE* out, const char* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) fprintf(out, "%02x", (unsigned char)bytes[i]);
}

static int guard_intact(const char* guard) {
    for (int i = 0; i < kGuard; ++i) {
        if (guard[i] != '#') return 0;
    }
    return 1;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: dll_caller DLL OUTPUT (download URL PATH | find PART SIZE | limit MS)...\n");
        return 2;
    }
    HMODULE dll = LoadLibraryA(argv[1]);
    if (!dll) {
        fprintf(stderr, "LoadLibraryA(%s): error %lu\n", argv[1], GetLastError());
        return 1;
    }
    DownloadFunction download = (DownloadFunction)(void (*)(void))GetProcAddress(dll, "taDownloadFile");
    FindFunction find = (FindFunction)(void (*)(void))GetProcAddress(dll, "taFindCacheEntry");
    if (!download || !find) {
        fprintf(stderr, "GetProcAddress: the plain names are missing\n");
        return 1;
    }
    FILE* out = fopen(argv[2], "wb");
    if (!out) return 1;
    for (int i = 3; i < argc; ++i) {
        if (strcmp(argv[i], "download") == 0 && i + 2 < argc) {
            char text[FETCHEL_ERROR_TEXT_SIZE + kGuard];
            memset(text, '#', sizeof text);
            const int32_t result = download(argv[i + 1], argv[i + 2], text, 0);
            if (!guard_intact(text + FETCHEL_ERROR_TEXT_SIZE)) return 3;
            fprintf(out, "%d ", (int)result);
            write_hex(out, text, strlen(text));
            i += 2;
        } else if (strcmp(argv[i], "find") == 0 && i + 2 < argc) {
            const uint32_t size = (uint32_t)strtoul(argv[i + 2], NULL, 10);
            char* url = malloc(size + kGuard);
            if (!url) return 1;
            memset(url, '#', size + kGuard);
            const int32_t result = find(argv[i + 1], url, size);
            if (!guard_intact(url + size)) return 3;
            fprintf(out, "%d ", (int)result);
            write_hex(out, url, size);
            free(url);
            i += 2;
        } else if (strcmp(argv[i], "limit") == 0 && i + 1 < argc) {
            SetEnvironmentVariableA("FETCHEL_TEST_STALL_MS", argv[i + 1]);
            i += 1;
            continue;
        } else {
            fprintf(stderr, "dll_caller: cannot read the call at \"%s\"\n", argv[i]);
            return 2;
        }
        fputc('\n', out);
    }
    return fclose(out) == 0 ? 0 : 1;
}
