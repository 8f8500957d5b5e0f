#!/usr/bin/env bash
# Shows, on a clean Debian, what a user of the packages in build/packages/ (scripts/package.sh)
# meets: `apt-get install ./*.deb` brings in their dependencies; sorvel runs from PATH and cleans
# a prefix; `man -w sorvel` finds the page; a C program built with
# `cc prog.c $(pkg-config --cflags --libs fetchel)` runs against the installed library; and
# `apt-get purge` leaves the system as it was before, file for file and package for package.
#
# The clean Debian is a chroot made with debootstrap from the mirror and release that this
# machine's apt uses, in build/clean-debian, removed at the end. Everything runs in mount and
# process namespaces of its own: nothing is mounted on this machine, nothing is left running,
# and nothing outside build/ changes. Needs root. build/debian-cache keeps the downloads for the
# next run.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
if [ "$(id -u)" -ne 0 ]; then
  echo "check-packages.sh makes a chroot, which needs root: run it as root or with sudo." >&2
  exit 1
fi
debs=("$repo"/build/packages/*.deb)
if [ ! -e "${debs[0]}" ]; then
  echo "No packages in build/packages: run bash scripts/package.sh first." >&2
  exit 1
fi
bash scripts/install-deps.sh

# The release of this machine, and the mirrors its apt fetches that release's main from (with
# its updates), one "URI RELEASE" a line; apt knows them once it has fetched their lists.
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
release_sources() {
  apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' \
      'Component: main' | sort -u | awk -v c="$codename" '$2 == c || index($2, c "-") == 1'
}
sources=$(release_sources)
[ -n "$sources" ] || { apt-get update -qq && sources=$(release_sources); }
mirror=$(awk -v c="$codename" '$2 == c {print $1; exit}' <<<"$sources")
if [ -z "$mirror" ]; then
  echo "apt on this machine fetches no \"$codename main\": add it to apt's sources." >&2
  exit 1
fi

root=$repo/build/clean-debian
cache=$repo/build/debian-cache
script=$repo/build/clean-debian-check.sh
rm -rf "$root"
mkdir -p "$root" "$cache/debootstrap" "$cache/apt"
trap 'rm -rf "$root" "$script"' EXIT

# What the chroot runs. A user's machine has a C compiler, pkg-config and man already: they come
# with debootstrap, before the first look at the system.
cat >"$script" <<'EOF'
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8
# Everything on the system but what the system makes and throws away by itself.
system_files() {
  find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp \
                  -o -path /var/cache -o -path /var/log -o -path /var/lib/apt \
                  -o -path /var/lib/dpkg -o -path /check -o -path /packages \) -prune -o -print |
    sort
}
packages() { dpkg-query -W -f='${binary:Package} ${db:Status-Abbrev}\n' | sort; }
fail() { echo "FAILED: $*" >&2; exit 1; }

apt-get update -qq
system_files >/check/files-before
packages >/check/packages-before

echo "== apt-get install ./packages/*.deb"
apt-get install -y -qq --no-install-recommends /packages/*.deb >/dev/null
[ "$(dpkg-query -W -f='${Recommends}' sorvel)" = wine ] || fail "sorvel does not recommend wine"

echo "== sorvel from PATH"
[ "$(command -v sorvel)" = /usr/bin/sorvel ] || fail "sorvel is not in PATH"
[ "$(sorvel --version)" = "sorvel $VERSION" ] || fail "sorvel --version says: $(sorvel --version)"
# The command-line mode on a small prefix: the suite's settings key goes, the rest stays.
prefix=/tmp/prefix
mkdir -p "$prefix"
header() { printf 'WINE REGISTRY Version 2\n;; All keys relative to %s\n\n#arch=win64\n' "$1"; }
{ header 'REGISTRY\\Machine'
  printf '\n[Software\\\\Tarvo\\\\98] 1700000000\n"Path"="C:\\\\Tarvo"\n'
  printf '\n[Software\\\\Other] 1700000000\n"Kept"=dword:00000001\n'; } >"$prefix/system.reg"
header 'REGISTRY\\User\\S-1-5-21-0-0-0-1000' >"$prefix/user.reg"
WINEPREFIX=$prefix sorvel 98 || fail "sorvel 98 ended with status $?"
! grep -qF '[Software\\Tarvo\\98]' "$prefix/system.reg" || fail "sorvel 98 left the suite's key"
grep -qF '[Software\\Other]' "$prefix/system.reg" || fail "sorvel 98 removed a key of another program"
rm -rf "$prefix" /tmp/.wine-*

echo "== man -w sorvel"
[ "$(man -w sorvel)" = /usr/share/man/man1/sorvel.1.gz ] || fail "man -w sorvel: $(man -w sorvel)"
[ -f /usr/share/applications/sorvel.desktop ] || fail "no desktop entry"
[ -f /usr/share/icons/hicolor/32x32/apps/sorvel.png ] || fail "no icon"

echo "== cc prog.c \$(pkg-config --cflags --libs fetchel)"
mkdir -p /tmp/use/empty-prefix
# shellcheck disable=SC2046
cc /check/pkg_config_caller.c -o /tmp/use/prog $(pkg-config --cflags --libs fetchel)
[ "$(WINEPREFIX=/tmp/use/empty-prefix /tmp/use/prog)" = ok ] || fail "the C program failed"
rm -rf /tmp/use

echo "== apt-get purge"
dpkg -L sorvel libfetchel0 libfetchel-dev | sort -u >/check/installed
apt-get purge -y -qq --autoremove sorvel libfetchel0 libfetchel-dev >/dev/null
left=$(while read -r path; do [ -e "$path" ] && [ ! -d "$path" ] && echo "$path"; done </check/installed || true)
[ -z "$left" ] || fail "purge left the packages' files: $left"
packages | diff -u /check/packages-before - || fail "purge left packages installed or half-removed"
system_files | diff -u /check/files-before - || fail "purge left the system changed"
echo "All package checks passed."
EOF

echo "Making a clean $codename in $root (from $mirror) and installing the packages there ..."
start=$SECONDS
unshare --mount --pid --fork --kill-child --propagation private bash -s -- \
    "$root" "$cache" "$codename" "$mirror" "$sources" "$script" "${debs[@]}" <<'EOF'
set -euo pipefail
root=$1 cache=$2 codename=$3 mirror=$4 sources=$5 script=$6
shift 6
debootstrap --variant=minbase --include=gcc,libc6-dev,pkgconf,man-db \
            --cache-dir="$cache/debootstrap" "$codename" "$root" "$mirror" >/dev/null
awk '{print "deb " $1 " " $2 " main"}' <<<"$sources" >"$root/etc/apt/sources.list"
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"  # no service starts in there
chmod +x "$root/usr/sbin/policy-rc.d"
mkdir -p "$root/packages" "$root/check"
cp "$@" "$root/packages/"
cp "$script" "$root/check/check.sh"
cp tests/fetchel/curl/pkg_config_caller.c "$root/check/"
mount -t proc proc "$root/proc"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
mount --bind "$cache/apt" "$root/var/cache/apt/archives"
VERSION=$(dpkg-deb -f "$root/packages/sorvel_"*.deb Version) chroot "$root" /bin/bash /check/check.sh
EOF
echo "The package checks took $((SECONDS - start)) s."
