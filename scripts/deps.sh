#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, and any named ones, when missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config googletest
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64
  libcups2-dev cups cups-client cups-bsd
  python3 python3-pytest python3-yaml python3-jsonschema
  chromium chromium-driver python3-selenium openssl
  clang libclang-rt-14-dev
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Instalando: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
