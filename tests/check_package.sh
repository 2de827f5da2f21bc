#!/usr/bin/env bash
# Builds the Debian package from the build folder $1 into $2 and checks it as apt and the desktops see it: its
# fields and files, and the desktop entry and metainfo it installs (a warning fails as well as an error).
set -euo pipefail
fail() { echo "FAIL: $*"; exit 1; }
rm -rf "$2" && mkdir -p "$2" && cd "$2"
cpack -G DEB --config "$1/CPackConfig.cmake" -B . >cpack.log || fail "$(cat cpack.log)"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$1/CPackConfig.cmake")
deb=tovrel_${version}_$(dpkg --print-architecture).deb
[ "$(dpkg-deb -f "$deb" Package Section)" = $'Package: tovrel\nSection: sound' ] || fail "fields of $deb"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6.*libtag1v5' || fail "Depends: $(dpkg-deb -f "$deb" Depends)"
[ "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 3 ] || fail "no long description"
dpkg-deb -x "$deb" root
[ "$(cd root && find . -type f | sort)" = "./usr/bin/tovrel
./usr/lib/systemd/user/tovrel.service
./usr/libexec/tovrel/tovrel-tag-reader
./usr/share/applications/tovrel.desktop
./usr/share/icons/hicolor/scalable/apps/tovrel.svg
./usr/share/metainfo/org.valdromekestu.tovrel.metainfo.xml" ] || fail "files: $(cd root && find . -type f)"
desktop=$(desktop-file-validate root/usr/share/applications/tovrel.desktop 2>&1) && [ -z "$desktop" ] || fail "$desktop"
grep -qx 'ExecStart=/usr/bin/tovrel --headless' root/usr/lib/systemd/user/tovrel.service ||
    fail "$(cat root/usr/lib/systemd/user/tovrel.service)"
appstreamcli validate --no-net --pedantic root/usr/share/metainfo/org.valdromekestu.tovrel.metainfo.xml
