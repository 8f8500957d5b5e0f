#!/usr/bin/env bash
# libfetchel.so exports exactly its two functions, and a C program builds against the installed
# library with nothing but `pkg-config --cflags --libs fetchel`.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1

# The loader tells incompatible versions apart by the SONAME.
soname=$(objdump -p "$build/libfetchel.so" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = libfetchel.so.0 ] || { echo "libfetchel.so has the SONAME \"$soname\""; exit 1; }

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

# shellcheck disable=SC2046
gcc -std=c99 -Wall -Wextra -Wpedantic -Werror "$(dirname "$0")/pkg_config_caller.c" -o "$work/use" $(pkg-config --cflags --libs fetchel)
mkdir -p "$work/empty-prefix"
LD_LIBRARY_PATH=$(pkg-config --variable=libdir fetchel) WINEPREFIX="$work/empty-prefix" "$work/use"
