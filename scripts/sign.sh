#!/usr/bin/env bash
# Signs a Windows program in place (Authenticode, SHA-256) with the publisher's certificate, or
# leaves it unsigned; says which. The certificate comes only from the environment:
#   KORBA_SIGN_PKCS12     the PKCS#12 file (.p12 / .pfx) with the key and its certificate chain
#   KORBA_SIGN_PASSWORD   its password (read by osslsigncode from a pipe, never on a command line)
#   KORBA_SIGN_TIMESTAMP  optional: an RFC 3161 time-stamp server, so the signature outlives the certificate
# Usage: scripts/sign.sh FILE.exe|FILE.msi
set -euo pipefail
file=$1

if [[ -z ${KORBA_SIGN_PKCS12:-} ]]; then
  echo "sin firmar: $file (KORBA_SIGN_PKCS12 no esta definido)"
  exit 0
fi
if [[ ! -r $KORBA_SIGN_PKCS12 || -z ${KORBA_SIGN_PASSWORD+set} ]]; then
  echo "FALLO la firma de $file: hacen falta KORBA_SIGN_PKCS12 (un fichero legible) y KORBA_SIGN_PASSWORD" >&2
  exit 1
fi

# The name Windows shows for the signed program, from the program's own constants.
name=$(sed -n 's/^inline constexpr const char\* PRODUCT_NAME = "\(.*\)";$/\1/p' "$(dirname "$0")/../src/common/constants.h")
timestamp=()
[[ -n ${KORBA_SIGN_TIMESTAMP:-} ]] && timestamp=(-ts "$KORBA_SIGN_TIMESTAMP")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
signed=$work/$(basename "$file")
if ! log=$(printf '%s' "$KORBA_SIGN_PASSWORD" |
           osslsigncode sign -pkcs12 "$KORBA_SIGN_PKCS12" -readpass - -h sha256 -n "$name" \
             "${timestamp[@]}" -in "$file" -out "$signed" 2>&1); then
  echo "$log" >&2
  echo "FALLO la firma de $file" >&2
  exit 1
fi
chmod --reference="$file" "$signed"
mv "$signed" "$file"
echo "firmado: $file"
