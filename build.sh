#!/usr/bin/env bash
# Installs the Debian packages that are missing, builds, and then:
#   ./build.sh run     starts the program
#   ./build.sh test    runs every test
#   ./build.sh bench   runs the benchmarks
#   ./build.sh         only builds
set -euo pipefail
cd "$(dirname "$0")"

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libtag1-dev)
# The tray test runs a private X server with a notification area and clicks the icon.
# The filing test formats a FAT image (mkfs.vfat) to mount as the outbox.
[ "${1:-}" = test ] && packages+=(xvfb xauth trayer xdotool dosfstools)

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
cmake --build build -j2

case "${1:-}" in
run)
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
        echo "No display: Tovrel runs its service on Qt's offscreen platform (stop it with Ctrl+C or kill)."
        export QT_QPA_PLATFORM=offscreen
    fi
    exec build/window/tovrel
    ;;
test) cd build && exec ctest --output-on-failure -j2 ;;
bench) for benchmark in build/bench/bench_filing build/bench/bench_scan; do "$benchmark"; done ;;
"") ;;
*) echo "usage: $0 [run|test|bench]" >&2; exit 2 ;;
esac
