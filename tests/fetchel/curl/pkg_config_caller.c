/* A C program as a user of the installed library writes it: built with nothing but
   `pkg-config --cflags --libs fetchel`, it calls both functions. Prints "ok". */
#include <fetchel.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    char text[FETCHEL_ERROR_TEXT_SIZE];
    char url[64];
    if (taDownloadFile("http://", "unused", text, 0) != 0 ||
        strncmp(text, "InternetOpenUrl error code: 12005\n", 34) != 0) {
        fprintf(stderr, "taDownloadFile: [%s]\n", text);
        return 1;
    }
    if (taFindCacheEntry("anything", url, sizeof url) != 1 || url[0] != '\0') {
        fprintf(stderr, "taFindCacheEntry: [%.64s]\n", url);
        return 1;
    }
    puts("ok");
    return 0;
}
