#!/usr/bin/env bash
# fetchel.dll of both Windows builds: exactly the two plain export names; no imported DLL
# outside Windows' own; a C caller that declares the functions __stdcall (itself, or through
# fetchel.h) links against the import library and imports them by their plain names; the zip
# holds the DLL and what C callers need.
# Usage: dll_exports_test.sh BUILD_DIR stdcall_caller.c   (the Windows builds: BUILD_DIR/windows-<arch>)
set -uo pipefail
builds=$1
caller=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() {
  echo "$arch: $*"
  status=1
}

# The names in an objdump -p listing of exports, or of the imports from one DLL.
export_names() { sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ {print $NF}'; }
imports_from() { awk -v dll="$1" '/DLL Name:/ {inside = (tolower($3) == tolower(dll)); next}
                                  inside && /^$/ {inside = 0}
                                  inside && $1 ~ /^[0-9a-f]+$/ && NF >= 3 {print $NF}' | sort; }

# DLLs every Windows has; anything else (libstdc++-6.dll, libgcc_s_*.dll, libwinpthread-1.dll)
# would keep the DLL from loading.
windows_dlls='^(kernel32|user32|advapi32|msvcrt|wininet|ws2_32|ntdll|shell32|ole32)\.dll$'

for arch in i686 x86_64; do
  dir=$builds/windows-$arch
  if [ ! -f "$dir/fetchel.dll" ]; then
    fail "$dir/fetchel.dll is missing: run bash scripts/build-windows.sh"
    continue
  fi
  dump=$(objdump -p "$dir/fetchel.dll")
  exports=$(export_names <<<"$dump" | sort | tr '\n' ' ')
  [ "$exports" = "taDownloadFile taFindCacheEntry " ] || fail "exports [$exports]"
  while read -r dll; do
    grep -Eqi "$windows_dlls" <<<"$dll" || fail "imports $dll, which Windows does not have"
  done < <(awk '/DLL Name:/ {print $3}' <<<"$dump")

  for declarations in "-DOWN_DECLARATIONS" "-DOWN_DECLARATIONS -DDLLIMPORT" ""; do
    # shellcheck disable=SC2086
    if ! "$arch-w64-mingw32-gcc" -std=c99 -Wall -Wextra -Werror $declarations -I"$dir" \
         -o "$work/caller.exe" "$caller" -L"$dir" -lfetchel 2>"$work/link.txt"; then
      fail "a caller with [${declarations:-fetchel.h}] does not link:"
      cat "$work/link.txt"
      continue
    fi
    imported=$(objdump -p "$work/caller.exe" | imports_from fetchel.dll | tr '\n' ' ')
    [ "$imported" = "taDownloadFile taFindCacheEntry " ] ||
      fail "a caller with [${declarations:-fetchel.h}] imports [$imported] from fetchel.dll"
  done

  zip=$(ls "$dir"/sorvel-*-windows-"$arch".zip 2>/dev/null | head -1)
  if [ -z "$zip" ]; then
    fail "no zip in $dir: run bash scripts/build-windows.sh"
    continue
  fi
  listing=$(python3 -m zipfile -l "$zip")
  for file in bin/fetchel.dll include/fetchel.h lib/fetchel.def lib/libfetchel.dll.a README.txt; do
    grep -q "/$file " <<<"$listing" || fail "$(basename "$zip") lacks $file"
  done
done
[ $status -eq 0 ] && echo "fetchel.dll: exports, imports, import library and zip as they should be"
exit $status
