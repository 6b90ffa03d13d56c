#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, and any named ones, when missing,
# and the pinned npm packages of the JavaScript client's tests.
# Usage: scripts/deps.sh [--run] [package...]   (--run: only what building and running the native
# bridge need, with its demo printer and ticket viewer)
set -euo pipefail
cd "$(dirname "$0")/.."

run_packages=(cmake g++ make googletest libcups2-dev cups cups-client cups-bsd python3 curl)
test_packages=(
  pkg-config g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 osslsigncode openssl nodejs
  python3-pytest python3-yaml python3-jsonschema python3-pefile
  chromium chromium-driver python3-selenium librsvg2-bin zbar-tools fonts-dejavu-core fonts-wqy-zenhei
  clang libclang-rt-14-dev dpkg-dev systemd init-system-helpers wixl
)
testing=true
if [[ ${1:-} == --run ]]; then
  shift
  testing=false
  packages=("${run_packages[@]}" "$@")
else
  packages=("${run_packages[@]}" "${test_packages[@]}" "$@")
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Debian's nodejs comes without npm; other builds of it bring their own.
$testing && ! command -v npm >/dev/null && missing+=(npm)
if ((${#missing[@]})); then
  echo "Instalando: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
$testing || exit 0

# Pinned by their lock files: the TypeScript compiler that checks the JavaScript client's types,
# and the ESC/POS encoder that makes the renderer's test tickets.
for folder in client/test/types client/test/render; do
  if ! npm ls --prefix "$folder" >/dev/null 2>&1; then
    npm ci --prefix "$folder" --no-audit --no-fund --loglevel=error >/dev/null
  fi
done
