#!/usr/bin/env bash
# Builds one Windows Installer package with Debian's wixl from an installed tree of a Windows
# build (bin\, include\, lib\, README.txt, LICENSE.txt), signs it when a certificate is given
# (sign.sh), and checks it with msitools.
#   msi.sh TREE ARCH VERSION OUTPUT.msi      ARCH: i686 (an x86 package) or x86_64 (x64)
# The package is written beside OUTPUT.msi and renamed over it only once it is whole, signed
# and checked: a failed step leaves no package behind.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -ne 4 ]; then
  echo "usage: $0 TREE ARCH VERSION OUTPUT.msi (ARCH: i686 or x86_64)" >&2
  exit 2
fi
tree=$1 arch=$2 version=$3 output=$4

# The UpgradeCodes stay as they are for good: an upgrade finds the older version by them. The
# two architectures are two products, which a 64-bit Windows may hold side by side.
case $arch in
  i686)   msi_arch=x86 upgrade_code=8C4F1A62-3B7D-4E19-9A35-2D6E0B74C1F8 ;;
  x86_64) msi_arch=x64 upgrade_code=E2A9573C-61D4-4B8F-8C07-5F3A9E1D46B2 ;;
  *) echo "$0: unknown architecture '$arch': give i686 or x86_64" >&2; exit 2 ;;
esac
# Windows Installer compares the first three fields of a version, each within its bounds.
if ! [[ $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] || [ "${BASH_REMATCH[1]}" -gt 255 ] ||
   [ "${BASH_REMATCH[2]}" -gt 255 ] || [ "${BASH_REMATCH[3]}" -gt 65535 ]; then
  echo "$0: version '$version' is not one Windows Installer takes: give major.minor.patch," \
       "major and minor up to 255, patch up to 65535" >&2
  exit 2
fi
for file in bin/sorvel.exe bin/fetchel.dll include/fetchel.h lib/fetchel.def lib/libfetchel.dll.a \
            README.txt LICENSE.txt; do
  if [ ! -f "$tree/$file" ]; then
    echo "$0: $tree has no $file: give the folder that 'cmake --install' filled" >&2
    exit 1
  fi
done
for tool in wixl msiinfo msidump msibuild; do
  command -v "$tool" >/dev/null || {
    echo "$0: $tool is missing: run scripts/install-deps.sh windows" >&2; exit 1; }
done

# A name-based UUID (RFC 4122, version 5: SHA-1 of the namespace's 16 bytes and the name), so
# that the same inputs always give the same code.
uuid5() {
  local namespace=${1//-/} name=$2 hash variant
  hash=$( { printf '%b' "$(sed 's/../\\x&/g' <<<"$namespace")"; printf '%s' "$name"; } |
          sha1sum | cut -c1-32)
  variant=$(printf '%x' $(( (0x${hash:16:1} & 0x3) | 0x8 )))
  hash="${hash:0:12}5${hash:13:3}${variant}${hash:17:15}"
  hash=${hash^^}
  echo "${hash:0:8}-${hash:8:4}-${hash:12:4}-${hash:16:4}-${hash:20:12}"
}
# One version of one architecture is one product; a package with other files (another build,
# or the same build signed) is another package of it.
product_code=$(uuid5 "$upgrade_code" "$version")
content=$(cd "$tree" && find . -type f | LC_ALL=C sort | xargs -d '\n' sha256sum | sha256sum | cut -c1-64)
package_code=$(uuid5 "$product_code" "$content")

# wixl finds the files relative to the source it builds, so the source goes beside the tree.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/sorvel.wxs" "$work/"
ln -s "$(cd "$tree" && pwd)" "$work/files"
partial=$work/$(basename "$output")
# wixl says nothing when all is well; a warning (an element or attribute it does not implement,
# a property it does not know) means the package is not what the source asks for.
if ! said=$(wixl -a "$msi_arch" -o "$partial" \
              -D Arch="$msi_arch" -D Version="$version" -D SourceDir=files \
              -D ProductCode="{$product_code}" -D UpgradeCode="{$upgrade_code}" \
              "$work/sorvel.wxs" 2>&1) || [ -n "$said" ] || [ ! -s "$partial" ]; then
  echo "$0: wixl did not build packaging/windows/sorvel.wxs cleanly:" >&2
  echo "$said" >&2
  exit 1
fi
summary=$(msiinfo suminfo "$partial")
template=$(sed -n 's/^Template: //p' <<<"$summary")
subject=$(sed -n 's/^Subject: //p' <<<"$summary")
msibuild "$partial" -s "$subject" "The sorvel authors" "$template" "{$package_code}"
bash "$here/sign.sh" "$partial"

# wixl's own checks ran as it built; these make sure that the package holds what an install,
# an upgrade and a removal need, and that msitools reads every table back.
tables=$(msiinfo tables "$partial")
for table in Property Directory Feature Component FeatureComponents File Media Shortcut Upgrade \
             InstallExecuteSequence InstallUISequence; do
  grep -qx "$table" <<<"$tables" ||
    { echo "$0: the package lacks its $table table" >&2; exit 1; }
done
dump=$work/tables
mkdir "$dump"
msidump -d "$dump" "$partial" >/dev/null
properties=$(tr -d '\r' <"$dump/Property.idt")
for property in "ProductCode	{$product_code}" "UpgradeCode	{$upgrade_code}" \
                "ProductVersion	$version" "ARPNOMODIFY	1"; do
  grep -qxF "$property" <<<"$properties" ||
    { echo "$0: the package's Property table lacks '$property'" >&2; exit 1; }
done
grep -q 'RemoveExistingProducts' "$dump/InstallExecuteSequence.idt" ||
  { echo "$0: the package would not remove an older version" >&2; exit 1; }
chmod 644 "$partial"
mkdir -p "$(dirname "$output")"
cp "$partial" "$output.partial"
mv "$output.partial" "$output"
echo "$output: $(stat -c %s "$output") bytes, product code {$product_code}"
