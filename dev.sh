#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and builds Quillstow.
#   ./dev.sh run    installs what is missing, builds, starts the program
#   ./dev.sh test   installs what is missing, builds, runs every test headless
#   ./dev.sh bench  installs what is missing, builds, runs every benchmark
# QUILLSTOW_SANITIZE=1 ./dev.sh test builds with AddressSanitizer and
# UndefinedBehaviorSanitizer in a folder of its own.
set -euo pipefail
cd "$(dirname "$0")"

build_packages=(qt6-base-dev cmake g++ make)
# libqt6svg6: the SVG icon engine that draws the window icon; qt6-wayland: a
# Wayland session (QT_QPA_PLATFORM=wayland aborts without it).
run_packages=(hardinfo libqt6svg6 qt6-wayland)
# e2fsprogs: full-disk tests on ext4; dosfstools: long names on FAT; rsync: benchmark reference; Xvfb, openbox, xdotool, wmctrl, x11-apps,
# imagemagick: the end-to-end test in a real X server. dbus-daemon: the
# private bus of the notification test; systemd: systemd-analyze verify of the units.
# openssh-server, sshfs, fuse3: the network share of bench_share.
bench_packages=(rsync openssh-server openssh-client sshfs fuse3)
test_packages=(dbus-daemon systemd e2fsprogs dosfstools rsync xvfb openbox xdotool wmctrl x11-utils x11-apps imagemagick xauth libqt6svg6)

install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
    local dir=$1; shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}

case "${1:-}" in
run)
    install_missing "${build_packages[@]}" "${run_packages[@]}"
    build build
    exec ./build/src/quillstow
    ;;
test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    if [ "${QUILLSTOW_SANITIZE:-0}" = 1 ]; then
        dir=build-sanitize
        build "$dir" -DQUILLSTOW_SANITIZE=ON
        export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    else
        dir=build
        build "$dir"
    fi
    ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
    ;;
bench)
    install_missing "${build_packages[@]}" "${bench_packages[@]}"
    build build
    export QT_QPA_PLATFORM=offscreen
    status=0
    for b in bench_backup bench_share bench_liveness; do
        echo "== $b"
        ./build/bench/$b || status=1
    done
    echo "== bench_backup --memory"
    ./build/bench/bench_backup --memory || status=1
    exit $status
    ;;
*)
    echo "usage: $0 run|test|bench" >&2
    exit 2
    ;;
esac
