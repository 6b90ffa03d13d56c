#!/usr/bin/env bash
# Makes the Debian package of the native bridge: the program in /usr/bin, its systemd unit, its
# settings file /etc/default/korba-vizoza and the browsers' policy files.
# Usage: scripts/package-deb.sh PROGRAM OUTPUT_FOLDER   (prints the package's path)
set -euo pipefail
program=$(realpath "$1")
out=$(realpath "$2")
cd "$(dirname "$0")/.."

version=$(sed -n 's/.*APP_VERSION = "\([^"]*\)".*/\1/p' src/common/constants.h)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/korba-vizoza

install -D -m 0755 "$program" "$root/usr/bin/korba-vizoza"
install -D -m 0644 packaging/debian/korba-vizoza.service "$root/usr/lib/systemd/system/korba-vizoza.service"
install -D -m 0644 packaging/debian/korba-vizoza.default "$root/etc/default/korba-vizoza"
install -D -m 0644 README.md "$root/usr/share/doc/korba-vizoza/README.md"
KORBA_POLICY_ROOT=$root scripts/browser-policy.sh install
chmod -R go-w "$root"

# The libraries' packages, as dpkg-shlibdeps finds them for the program.
mkdir -p "$stage/debian"
printf 'Source: korba-vizoza\n\nPackage: korba-vizoza\nArchitecture: amd64\n' >"$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O korba-vizoza/usr/bin/korba-vizoza 2>/dev/null |
          sed -n 's/^shlibs:Depends=//p')

mkdir -p "$root/DEBIAN"
install -m 0755 packaging/debian/postinst packaging/debian/prerm packaging/debian/postrm "$root/DEBIAN/"
(cd "$root" && find etc -type f | sed 's|^|/|' | sort) >"$root/DEBIAN/conffiles"
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
cat >"$root/DEBIAN/control" <<CONTROL
Package: korba-vizoza
Version: $version
Architecture: amd64
Maintainer: KORBA <soporte@korba.app>
Installed-Size: $size
Depends: $depends, init-system-helpers
Recommends: cups
Section: misc
Priority: optional
Homepage: https://korba.app
Description: local print bridge of the KORBA point of sale
 Lets the KORBA web application print ESC/POS tickets on the shop's receipt printer
 and open the cash drawer: the page sends HTTP requests to 127.0.0.1:9230, the bridge
 hands the bytes untouched to CUPS as raw jobs. Runs as a sandboxed systemd service.
CONTROL

deb=$out/korba-vizoza_${version}_amd64.deb
dpkg-deb --root-owner-group --build "$root" "$deb" >/dev/null
echo "$deb"
