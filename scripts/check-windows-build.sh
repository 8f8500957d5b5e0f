#!/usr/bin/env bash
# The registry layer, the searches, the cleaning run and the start-up must build unchanged for
# 32-bit Windows: compile their sources with the MinGW cross compiler (objects only; the Windows
# programs are linked later).
set -euo pipefail
cd "$(dirname "$0")/.."
cxx=${MINGW_CXX:-i686-w64-mingw32-g++}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
status=0
for src in cleaner/registry/*.cpp cleaner/search/*.cpp platform/files/standard_files.cpp \
           cleaner/run/*.cpp cleaner/startup/*.cpp; do
  [ -e "$src" ] || continue
  if ! "$cxx" -std=c++20 -Wall -Wextra -Werror -I. -DSORVEL_VERSION='"0"' -c "$src" \
       -o "$out/$(basename "$src").o"; then
    status=1
  fi
done
[ $status -eq 0 ] && echo "built for Windows: $(ls "$out" | wc -l) objects"
exit $status
