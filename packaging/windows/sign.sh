#!/usr/bin/env bash
# Signs Windows programs, libraries and packages in place with osslsigncode (Authenticode, SHA-256)
# when a certificate is given, and says so when none is:
#   SORVEL_SIGN_PKCS12     a PKCS#12 file with the certificate and its private key
#   SORVEL_SIGN_PASSWORD   its password (read from the environment, never put on a command line)
#   SORVEL_SIGN_TIMESTAMP  optional: the URL of an RFC 3161 time-stamping server, so that the
#                          signatures stay valid after the certificate expires
# A file is replaced only by its signed copy: a failure leaves it as it was, and fails.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 FILE..." >&2; exit 2; }
if [ -z "${SORVEL_SIGN_PKCS12:-}" ]; then
  if [ -n "${SORVEL_SIGN_PASSWORD:-}" ]; then
    echo "$0: SORVEL_SIGN_PASSWORD is set but SORVEL_SIGN_PKCS12 is not: name the PKCS#12 file" \
         "too, or unset both to build unsigned files" >&2
    exit 1
  fi
  echo "Left unsigned (no certificate: set SORVEL_SIGN_PKCS12 and SORVEL_SIGN_PASSWORD to sign):" \
       "$(for f in "$@"; do basename "$f"; done | paste -sd ' ')"
  exit 0
fi
if [ ! -r "$SORVEL_SIGN_PKCS12" ]; then
  echo "$0: cannot read the certificate SORVEL_SIGN_PKCS12=$SORVEL_SIGN_PKCS12" >&2
  exit 1
fi
if [ -z "${SORVEL_SIGN_PASSWORD+set}" ]; then
  echo "$0: SORVEL_SIGN_PASSWORD is not set: give the password of $SORVEL_SIGN_PKCS12" \
       "(set it empty for a file without one)" >&2
  exit 1
fi
command -v osslsigncode >/dev/null ||
  { echo "$0: osslsigncode is missing: run scripts/install-deps.sh windows" >&2; exit 1; }

timestamp=()
[ -z "${SORVEL_SIGN_TIMESTAMP:-}" ] || timestamp=(-ts "$SORVEL_SIGN_TIMESTAMP")
# The password reaches osslsigncode in a file only this user reads, not in its arguments, which
# every user of the machine sees.
password=$(mktemp)
trap 'rm -f "$password"' EXIT
printf '%s' "$SORVEL_SIGN_PASSWORD" >"$password"
for file in "$@"; do
  # A package's signature covers its streams' metadata too (MsiDigitalSignatureEx), not only
  # their contents.
  extra=()
  [[ $file != *.msi ]] || extra=(-add-msi-dse)
  signed=$(mktemp "$file.XXXXXX.signed")
  rm -f "$signed"  # osslsigncode writes a new file and refuses to overwrite
  if ! log=$(osslsigncode sign -pkcs12 "$SORVEL_SIGN_PKCS12" -readpass "$password" -h sha256 \
               -n "sorvel" "${timestamp[@]}" "${extra[@]}" -in "$file" -out "$signed" 2>&1); then
    rm -f "$signed"
    echo "$0: could not sign $file with $SORVEL_SIGN_PKCS12 (is the password right?):" >&2
    echo "$log" >&2
    exit 1
  fi
  chmod --reference="$file" "$signed"
  mv "$signed" "$file"
  echo "Signed: $(basename "$file")"
done
