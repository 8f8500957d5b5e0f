#!/usr/bin/env bash
# Makes what a Windows build ships, for one architecture:
#   package.sh ARCH BUILD_DIR [OUTPUT_DIR]      ARCH: i686 or x86_64; OUTPUT_DIR: BUILD_DIR
# - installs the build (its programs without their debugging symbols) into
#   OUTPUT_DIR/package/sorvel-<version>-windows-<arch>/;
# - signs sorvel.exe and fetchel.dll there when a certificate is given (sign.sh says how);
# - zips that folder: OUTPUT_DIR/sorvel-<version>-windows-<arch>.zip;
# - builds the Windows Installer package of the same files (msi.sh), signed likewise:
#   OUTPUT_DIR/sorvel-<version>-x86.msi (i686) or sorvel-<version>-x64.msi (x86_64).
# The programs are signed before they are packed, and never stripped after: stripping would
# break their signatures.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 ARCH BUILD_DIR [OUTPUT_DIR] (ARCH: i686 or x86_64)" >&2
  exit 2
fi
arch=$1 build=$2 output=${3:-$2}
mkdir -p "$output"
output=$(cd "$output" && pwd)
case $arch in
  i686) msi_arch=x86 ;;
  x86_64) msi_arch=x64 ;;
  *) echo "$0: unknown architecture '$arch': give i686 or x86_64" >&2; exit 2 ;;
esac
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
if [ -z "$version" ]; then
  echo "$0: $build is not a configured build: run bash scripts/build-windows.sh" >&2
  exit 1
fi
command -v zip >/dev/null || { echo "$0: zip is missing: run scripts/install-deps.sh windows" >&2; exit 1; }

name=sorvel-$version-windows-$arch
stage=$output/package/$name
rm -rf "$output/package"
mkdir -p "$output/package"
cmake --install "$build" --prefix "$stage" --strip >/dev/null
bash "$here/sign.sh" "$stage/bin/sorvel.exe" "$stage/bin/fetchel.dll"

zip=$output/$name.zip
rm -f "$zip.partial"
(cd "$output/package" && zip -qrX "$zip.partial" "$name") ||
  { rm -f "$zip.partial"; echo "$0: could not write $zip" >&2; exit 1; }
mv "$zip.partial" "$zip"
echo "$zip: $(stat -c %s "$zip") bytes"

bash "$here/msi.sh" "$stage" "$arch" "$version" "$output/sorvel-$version-$msi_arch.msi"
