#!/usr/bin/env bash
# Builds the Debian package from the build folder $1 into $2 and checks it as
# apt and the desktops see it: its name, fields and files, and the desktop
# entry and metainfo it installs (a warning fails as well as an error).
set -euo pipefail
build=$1 out=$2
rm -rf "$out" && mkdir -p "$out"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" || { cat "$out/cpack.log"; exit 1; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb="$out/tovrel_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "no $deb"; ls "$out"; exit 1; }

fail() { echo "FAIL: $*"; exit 1; }
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tovrel ] || fail "Package: $(field Package)"
[ "$(field Section)" = sound ] || fail "Section: $(field Section)"
for library in libqt6widgets6 libqt6network6 libtag1v5 libc6; do
    field Depends | grep -q "$library" || fail "Depends lacks $library: $(field Depends)"
done
[ "$(field Description | wc -l)" -gt 3 ] || fail "no long description"

dpkg-deb -x "$deb" "$out/root"
for file in usr/bin/tovrel usr/share/applications/tovrel.desktop usr/share/icons/hicolor/scalable/apps/tovrel.svg \
    usr/share/metainfo/org.valdromekestu.tovrel.metainfo.xml; do
    [ -f "$out/root/$file" ] || fail "missing /$file"
done
[ -z "$(dpkg-deb -c "$deb" | grep -v -e ' \./usr/bin/' -e ' \./usr/share/' -e ' \./usr/$' -e ' \./$')" ] ||
    fail "files outside /usr/bin and /usr/share"

desktop=$(desktop-file-validate "$out/root/usr/share/applications/tovrel.desktop" 2>&1) || fail "$desktop"
[ -z "$desktop" ] || fail "$desktop"
appstreamcli validate --no-net --pedantic "$out/root/usr/share/metainfo/org.valdromekestu.tovrel.metainfo.xml"
echo "$deb: good"
