#!/usr/bin/env bash
# Installs the Debian packages that are missing, builds, and then:
#   ./build.sh run       builds the program only and starts it
#   ./build.sh test      builds everything and runs every test
#   ./build.sh bench     builds everything and runs the benchmarks
#   ./build.sh package   builds the program only and makes build/tovrel_<version>_<arch>.deb
#   ./build.sh           builds everything
set -euo pipefail
cd "$(dirname "$0")"

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libtag1-dev)
case "${1:-}" in
# The tray test runs a private X server with a window manager and a notification area,
# and clicks and minimizes as a user does; the package test builds the package and
# validates what desktops read from it; the filing test formats a FAT image
# (mkfs.vfat), an exFAT and an NTFS image (exfatprogs, exfat-fuse, ntfs-3g) to mount as the outbox, and encodes songs of each format it files
# (flac, oggenc, opusenc, wavpack; sox for the plain sound, mutagen to tag an AIFF)
# and mounts an encrypted folder (encfs) as an outbox that takes short names only;
# the window test runs a private session bus (dbus-run-session) to receive the
# notices sent where there is no tray.
test) packages+=(xvfb xauth openbox trayer xdotool x11-utils dosfstools exfatprogs exfat-fuse ntfs-3g flac vorbis-tools opus-tools wavpack sox python3-mutagen encfs dpkg-dev file desktop-file-utils appstream dbus-daemon) ;;
package) packages+=(dpkg-dev file) ;; # dpkg-shlibdeps finds what the package depends on
esac

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

case "${1:-}" in
run)
    cmake --build build -j2 --target tovrel
    exec build/window/tovrel
    ;;
package)
    cmake --build build -j2 --target tovrel
    cd build && exec cpack -G DEB
    ;;
test)
    cmake --build build -j2
    cd build && exec ctest --output-on-failure -j2
    ;;
bench)
    cmake --build build -j2
    for benchmark in build/bench/bench_filing build/bench/bench_scan build/bench/bench_drain build/bench/bench_album; do "$benchmark"; done
    ;;
"") cmake --build build -j2 ;;
*) echo "usage: $0 [run|test|bench|package]" >&2; exit 2 ;;
esac
