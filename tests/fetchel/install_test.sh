#!/usr/bin/env bash
# libfetchel.so exports exactly its two functions, and a C program builds against the installed
# library with nothing but `pkg-config --cflags --libs fetchel`.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1

exported=$(nm -D --defined-only "$build/libfetchel.so" | awk '{print $2, $3}' | sort)
expected=$'T taDownloadFile\nT taFindCacheEntry'
if [ "$exported" != "$expected" ]; then
    echo "libfetchel.so exports:"; echo "$exported"; echo "expected:"; echo "$expected"
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --component fetchel --prefix "$work/usr" >/dev/null
pc=$(find "$work/usr" -name fetchel.pc)
[ -n "$pc" ] || { echo "fetchel.pc was not installed"; exit 1; }
export PKG_CONFIG_PATH=$(dirname "$pc")

cat > "$work/use.c" <<'EOF'
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
EOF
# shellcheck disable=SC2046
gcc -std=c99 -Wall -Wextra -Wpedantic -Werror "$work/use.c" -o "$work/use" $(pkg-config --cflags --libs fetchel)
mkdir -p "$work/empty-prefix"
LD_LIBRARY_PATH=$(pkg-config --variable=libdir fetchel) WINEPREFIX="$work/empty-prefix" "$work/use"
