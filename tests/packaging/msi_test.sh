#!/usr/bin/env bash
# The Windows Installer packages under Wine's own msiexec, each in a fresh prefix, as an
# administrator's silent deployment meets them:
#   msi_test.sh CASE WINDOWS_BUILDS SOURCE_DIR
#   CASE: x64-win64 (the x64 package, 64-bit prefix), x86-wow64 (the x86 package, 64-bit
#         prefix), x86-win32 (the x86 package, 32-bit prefix)
# `msiexec /i FILE /qn` installs the files, the shortcut and the Add/Remove Programs entry, and
# the installed sorvel.exe runs; a package of a higher version installed over it leaves one
# entry and its own files, and an older one is refused; `msiexec /x FILE /qn` removes every file
# and the entry, and leaves the rest of the registry as it was.
set -uo pipefail
case=$1 builds=$2 source=$3

status=0
fail() { echo "FAIL [$case]: $*"; status=1; }
die() { echo "FAIL [$case]: $*"; exit 1; }

winearch=win64 loader=/usr/lib/wine/wine64 uninstall_node=
case $case in
  x64-win64) arch=x86_64 msi_arch=x64 program_files="Program Files" name="sorvel (64-bit)" ;;
  x86-wow64) arch=i686 msi_arch=x86 program_files="Program Files (x86)" name=sorvel
             uninstall_node='Wow6432Node\\' ;;
  x86-win32) arch=i686 msi_arch=x86 program_files="Program Files" name=sorvel
             winearch=win32 loader=/usr/lib/wine/wine ;;
  *) die "unknown case: give x64-win64, x86-wow64 or x86-win32" ;;
esac
# 32-bit programs, in either kind of prefix, need 32-bit Wine.
if [ "$arch" = i686 ] && [ ! -x /usr/lib/wine/wine ]; then
  die "the 32-bit Wine loader /usr/lib/wine/wine is missing: install wine32:i386" \
      "(bash scripts/install-deps.sh)"
fi

build=$builds/windows-$arch
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null)
msi=$build/sorvel-$version-$msi_arch.msi
stage=$build/package/sorvel-$version-windows-$arch
[ -n "$version" ] && [ -f "$msi" ] && [ -d "$stage" ] ||
  die "no package in $build: run bash scripts/build-windows.sh"

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEARCH=$winearch WINEDEBUG=-all DISPLAY=
# No menu entries in the desktop of the user who runs the tests, and no Mono or Gecko prompt.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
cleanup() {
  timeout 60 wineserver -k >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

in_wine() { "$loader" "$@" </dev/null; }
settle() { timeout 60 wineserver -w; }
product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }
# A registry file as "[key]<TAB>value" lines (and "[key]<TAB>" for the key itself), without the
# times Wine writes with each key, continued lines joined: two states compare with comm.
registry_lines() {
  awk '
    function flush() { if (pending != "") print key "\t" pending; pending = "" }
    /^\[/ { flush(); key = $0; sub(/ [0-9]+$/, "", key); print key "\t"; next }
    key == "" || /^#time=/ { next }
    /^$/ { flush(); next }
    { line = $0
      if (pending != "") { sub(/^ +/, "", line); pending = substr(pending, 1, length(pending) - 1) line }
      else pending = line
      if (pending !~ /\\$/) flush() }
    END { flush() }' "$1" | LC_ALL=C sort
}
snapshot() { settle; registry_lines "$WINEPREFIX/system.reg" >"$1.system"; registry_lines "$WINEPREFIX/user.reg" >"$1.user"; }
uninstall_key() { printf '[Software\\\\%sMicrosoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\%s]' "$uninstall_node" "$1"; }
# The Add/Remove Programs entries named as this package, in either registry node.
entries_named() {
  settle
  awk -v name="\"DisplayName\"=\"$1\"" '
    /^\[/ { key = $1 } $0 == name && key ~ /\\\\Uninstall\\\\[^\\]+\]$/ { print key }' \
    "$WINEPREFIX/system.reg"
}
entry_value() {  # KEY VALUE-NAME: the value's line in the entry
  settle
  # Through the environment: awk -v would take the key's backslashes for escapes.
  KEY=$1 VALUE="\"$2\"=" awk '
    /^\[/ { inside = ($1 == ENVIRON["KEY"]) }
    inside && index($0, ENVIRON["VALUE"]) == 1 { print; exit }' "$WINEPREFIX/system.reg"
}
msiexec() {  # ARGS...: runs Wine's msiexec, prints its exit status
  in_wine msiexec "$@" >/dev/null 2>&1
  echo $?
}

echo "[$case] a fresh $winearch prefix"
in_wine wineboot -i >/dev/null 2>&1 || die "wineboot failed for a $winearch prefix"
settle
# Wine finishes some of its own keys at the next start: the state to compare with is after it.
in_wine cmd /c exit >/dev/null 2>&1
snapshot "$work/before"

# The package as built, and one of the next version whose README.txt differs: what an upgrade
# must bring.
major=${version%%.*} rest=${version#*.}
next="$major.${rest%%.*}.$(( ${version##*.} + 1 ))"
cp -r "$stage" "$work/next-tree"
echo "The next version." >>"$work/next-tree/README.txt"
SORVEL_SIGN_PKCS12='' SORVEL_SIGN_PASSWORD='' \
  bash "$source/packaging/windows/msi.sh" "$work/next-tree" "$arch" "$next" \
  "$WINEPREFIX/drive_c/packages/next.msi" >/dev/null || die "could not build a package of $next"
cp "$msi" "$WINEPREFIX/drive_c/packages/this.msi"
this_code=$(product_code "$msi")
next_code=$(product_code "$WINEPREFIX/drive_c/packages/next.msi")
[ "$this_code" != "$next_code" ] || fail "versions $version and $next have one product code"

installed="$WINEPREFIX/drive_c/$program_files/sorvel"
files=(bin/sorvel.exe bin/fetchel.dll README.txt LICENSE.txt include/fetchel.h lib/fetchel.def
       lib/libfetchel.dll.a)
check_files() {  # TREE: the installed files are that tree's
  local file
  for file in "${files[@]}"; do
    cmp -s "$1/$file" "$installed/$file" || fail "C:\\$program_files\\sorvel\\$file is not the package's"
  done
}
shortcuts() {
  # Per machine, the shortcut belongs in the common Start menu; Wine 8 puts it in the user's.
  find "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu" \
       "$WINEPREFIX/drive_c/users" -name 'Tarvo Registry Cleaner.lnk' 2>/dev/null
}

echo "[$case] msiexec /i sorvel-$version-$msi_arch.msi /qn"
rc=$(msiexec /i 'C:\packages\this.msi' /qn)
[ "$rc" = 0 ] || die "msiexec /i exited with $rc"
check_files "$stage"
[ -n "$(shortcuts)" ] || fail "no Start-menu shortcut 'Tarvo Registry Cleaner'"
key=$(uninstall_key "$this_code")
[ "$(entries_named "$name")" = "$key" ] ||
  fail "the Add/Remove Programs entries named '$name' are [$(entries_named "$name")], not $key"
for expected in "\"DisplayName\"=\"$name\"" '"Publisher"="The sorvel authors"' \
                "\"DisplayVersion\"=\"$version\"" '"NoModify"=dword:00000001'; do
  [ "$(entry_value "$key" "$(cut -d'"' -f2 <<<"$expected")")" = "$expected" ] ||
    fail "the entry lacks $expected"
done
printed=$(in_wine "C:\\$program_files\\sorvel\\bin\\sorvel.exe" --version 2>&1 | tr -d '\r')
[ "$printed" = "sorvel $version" ] || fail "the installed sorvel.exe --version printed [$printed]"

echo "[$case] msiexec /i of version $next over it"
rc=$(msiexec /i 'C:\packages\next.msi' /qn)
[ "$rc" = 0 ] || fail "msiexec /i of $next exited with $rc"
next_key=$(uninstall_key "$next_code")
[ "$(entries_named "$name")" = "$next_key" ] ||
  fail "after the upgrade the entries named '$name' are [$(entries_named "$name")], not $next_key alone"
[ "$(entry_value "$next_key" DisplayVersion)" = "\"DisplayVersion\"=\"$next\"" ] ||
  fail "after the upgrade the entry says $(entry_value "$next_key" DisplayVersion)"
check_files "$work/next-tree"

echo "[$case] msiexec /i of version $version again: refused"
rc=$(msiexec /i 'C:\packages\this.msi' /qn)
[ "$rc" != 0 ] || fail "an older package was installed over a newer one"
[ "$(entries_named "$name")" = "$next_key" ] || fail "a refused downgrade changed the entries"
check_files "$work/next-tree"

echo "[$case] msiexec /x next.msi /qn"
rc=$(msiexec /x 'C:\packages\next.msi' /qn)
[ "$rc" = 0 ] || fail "msiexec /x exited with $rc"
[ ! -e "$installed" ] || fail "left behind: $(cd "$installed" && find . | tr '\n' ' ')"
[ -z "$(shortcuts)" ] || fail "left behind: $(shortcuts)"
[ -z "$(entries_named "$name")" ] || fail "left the entry $(entries_named "$name")"
snapshot "$work/after"
for hive in system user; do
  # Windows Installer keeps its own empty containers (Installer\Products, ...) once it has been
  # used, as Windows does, and Wine's display driver writes the display adapters' and monitors'
  # device classes anew at each start; anything else that differs is the package's doing.
  changed=$(LC_ALL=C comm -3 "$work/before.$hive" "$work/after.$hive" |
            grep -Ev '^	\[[^]]*\\\\Installer\\\\[^]]*\]	$' |
            grep -Ev '^	?\[System\\\\CurrentControlSet\\\\Control\\\\Class\\\\')
  [ -z "$changed" ] || fail "the removal left $hive.reg otherwise than it was (< before, > after):
$(sed -e 's/^\t/> /' -e 's/^\([^>]\)/< \1/' <<<"$changed" | head -20)"
done

echo "[$case] msiexec /i ... ADDLOCAL=Programs: without the developer files"
rc=$(msiexec /i 'C:\packages\this.msi' /qn ADDLOCAL=Programs)
[ "$rc" = 0 ] || fail "msiexec /i ADDLOCAL=Programs exited with $rc"
[ -f "$installed/bin/sorvel.exe" ] || fail "ADDLOCAL=Programs did not install sorvel.exe"
[ ! -e "$installed/include/fetchel.h" ] || fail "ADDLOCAL=Programs installed the developer files"
rc=$(msiexec /x 'C:\packages\this.msi' /qn)
[ "$rc" = 0 ] && [ ! -e "$installed" ] || fail "the programs alone were not removed (status $rc)"

[ $status -eq 0 ] && echo "[$case] installed, upgraded, refused the downgrade and removed cleanly"
exit $status
