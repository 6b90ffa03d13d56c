#!/usr/bin/env bash
# Builds the release files into dist/: korba-vizoza.exe (Windows, static, stripped),
# its MSI package for administrators (korba-vizoza-VERSION.msi, packaging/windows/korba-vizoza.wxs),
# korba-vizoza (this machine's build, stripped), its Debian package
# (korba-vizoza_VERSION_amd64.deb) and the JavaScript client's package
# (korba-vizoza-VERSION.tgz, for npm install), each with a .sha256 file beside it in
# sha256sum format (check with: cd dist && sha256sum -c korba-vizoza.exe.sha256). The .exe is
# signed when KORBA_SIGN_PKCS12 and KORBA_SIGN_PASSWORD name the publisher's certificate (scripts/sign.sh).
set -euo pipefail
# The signing password is for the signing step alone: taken out of the environment before any
# other command (package installs, cmake, compilers, npm) starts, and handed to scripts/sign.sh only.
password_given=${KORBA_SIGN_PASSWORD+set}
password=${KORBA_SIGN_PASSWORD-}
unset KORBA_SIGN_PASSWORD
cd "$(dirname "$0")/.."
scripts/deps.sh

sign() {  # sign <file>: the password in the environment of this one command (never on a command line)
  [[ -z $password_given ]] || local -x KORBA_SIGN_PASSWORD=$password
  scripts/sign.sh "$1"
}

build() {  # build <folder> <target> [cmake arguments...]
  local dir=build/$1 target=$2; shift 2
  mkdir -p build
  if ! { cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DKORBA_BUILD_TESTS=OFF "$@" &&
         cmake --build "$dir" -j2 --target "$target"; } >"$dir.log" 2>&1; then
    cat "$dir.log" >&2
    echo "FALLO la compilacion de $dir (ver $dir.log)" >&2
    exit 1
  fi
}

build release-windows korba-vizoza -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
build release-windows korba-install-action
build release-native korba-vizoza

rm -rf dist
mkdir dist
x86_64-w64-mingw32-strip -o dist/korba-vizoza.exe build/release-windows/korba-vizoza.exe
strip -o dist/korba-vizoza build/release-native/korba-vizoza

# The .exe must run on a bare Windows: no MinGW runtime DLL may be needed.
if x86_64-w64-mingw32-objdump -p dist/korba-vizoza.exe | grep -iE 'DLL Name: *lib(stdc\+\+|gcc|winpthread)'; then
  echo "FALLO: korba-vizoza.exe necesita una DLL de MinGW" >&2
  exit 1
fi

# Signed before the hashes are written, so that they are the hashes of what is published; the MSI
# carries the signed program and is signed itself.
sign dist/korba-vizoza.exe
version=$(sed -n 's/.*APP_VERSION = "\([^"]*\)".*/\1/p' src/common/constants.h)
msi=korba-vizoza-$version.msi
action=build/release-windows/install-action.dll
x86_64-w64-mingw32-strip -o "$action" build/release-windows/korba-install-action.dll
(cd dist && wixl -a x64 -D "Version=$version" -D Exe=korba-vizoza.exe -D "Action=../$action" -o "$msi" \
   ../packaging/windows/korba-vizoza.wxs)
sign "dist/$msi"
package=$(cd client && npm pack --pack-destination ../dist --silent)
deb=$(basename "$(scripts/package-deb.sh dist/korba-vizoza dist)")

cd dist
for file in korba-vizoza.exe "$msi" korba-vizoza "$deb" "$package"; do
  sha256sum "$file" >"$file.sha256"
  echo "dist/$file"
done
