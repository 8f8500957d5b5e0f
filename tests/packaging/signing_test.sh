#!/usr/bin/env bash
# Signing of what a Windows build ships, with a throwaway certificate made here:
#   signing_test.sh WINDOWS_BUILDS SOURCE_DIR
# With SORVEL_SIGN_PKCS12 and SORVEL_SIGN_PASSWORD, packaging/windows/package.sh signs sorvel.exe
# and fetchel.dll before it packs them (the copies in the zip and in the package carry the
# signature) and signs the package, and `osslsigncode verify` accepts every signature. A wrong
# password fails and leaves nothing; without a certificate the build says it left them unsigned.
set -uo pipefail
builds=$1 source=$2
status=0
fail() { echo "FAIL: $*"; status=1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=sorvel throwaway test signer" -addext "extendedKeyUsage=codeSigning" \
  -addext "keyUsage=digitalSignature" 2>/dev/null &&
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/signer.p12" \
  -passout pass:'a pass with spaces' || { echo "FAIL: openssl could not make a certificate"; exit 1; }

verify() {  # FILE WHAT: the file carries a signature by the throwaway certificate
  local log
  # By its exit status and the signer's name: the wording around them differs between
  # osslsigncode's versions (Debian 12 has 2.5, its backports 2.9).
  if ! log=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$1" 2>&1) ||
     ! grep -q 'CN=sorvel throwaway test signer' <<<"$log"; then
    fail "$2 is not signed by the given certificate:"
    tail -n 5 <<<"$log"
  fi
}

for arch in i686 x86_64; do
  build=$builds/windows-$arch
  [ -f "$build/CMakeCache.txt" ] || { fail "no build in $build: run bash scripts/build-windows.sh"; continue; }
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  msi_arch=x86; [ "$arch" = i686 ] || msi_arch=x64
  out=$work/$arch
  name=sorvel-$version-windows-$arch

  if ! log=$(SORVEL_SIGN_PKCS12=$work/signer.p12 SORVEL_SIGN_PASSWORD='a pass with spaces' \
             bash "$source/packaging/windows/package.sh" "$arch" "$build" "$out" 2>&1); then
    fail "$arch: packaging with a certificate failed:"; echo "$log"; continue
  fi
  verify "$out/package/$name/bin/sorvel.exe" "$arch sorvel.exe"
  verify "$out/package/$name/bin/fetchel.dll" "$arch fetchel.dll"
  verify "$out/sorvel-$version-$msi_arch.msi" "sorvel-$version-$msi_arch.msi"
  mkdir "$out/from-zip" "$out/from-msi"
  python3 -m zipfile -e "$out/$name.zip" "$out/from-zip" || fail "$arch: the zip does not unpack"
  verify "$out/from-zip/$name/bin/sorvel.exe" "the sorvel.exe in $name.zip"
  msiextract -C "$out/from-msi" "$out/sorvel-$version-$msi_arch.msi" >/dev/null ||
    fail "$arch: msiextract cannot unpack the package"
  exe=$(find "$out/from-msi" -name sorvel.exe | head -1)
  [ -n "$exe" ] && verify "$exe" "the sorvel.exe in sorvel-$version-$msi_arch.msi"

  # A wrong password stops the build with the reason, before anything is packed.
  if log=$(SORVEL_SIGN_PKCS12=$work/signer.p12 SORVEL_SIGN_PASSWORD=wrong \
           bash "$source/packaging/windows/package.sh" "$arch" "$build" "$work/wrong-$arch" 2>&1); then
    fail "$arch: packaging with a wrong password succeeded"
  fi
  grep -q 'could not sign .*is the password right' <<<"$log" ||
    fail "$arch: a wrong password did not say so: $log"
  ls "$work/wrong-$arch"/*.zip "$work/wrong-$arch"/*.msi >/dev/null 2>&1 &&
    fail "$arch: a failed signing left packages: $(ls "$work/wrong-$arch")"

  # Without a certificate: unsigned, and said.
  if ! log=$(env -u SORVEL_SIGN_PKCS12 -u SORVEL_SIGN_PASSWORD \
             bash "$source/packaging/windows/package.sh" "$arch" "$build" "$work/unsigned-$arch" 2>&1); then
    fail "$arch: packaging without a certificate failed:"; echo "$log"; continue
  fi
  [ "$(grep -c '^Left unsigned' <<<"$log")" = 2 ] ||
    fail "$arch: without a certificate the build did not say it left the files unsigned: $log"
  osslsigncode verify -in "$work/unsigned-$arch/package/$name/bin/sorvel.exe" >/dev/null 2>&1 &&
    fail "$arch: sorvel.exe is signed without a certificate"
done
[ $status -eq 0 ] && echo "signed with the given certificate, verified by osslsigncode; unsigned and said so without one"
exit $status
