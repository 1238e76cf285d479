#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and builds Quillstow.
#   ./dev.sh run    installs what is missing, builds, starts the program
#   ./dev.sh test   installs what is missing, builds, runs every test headless
#   ./dev.sh bench  installs what is missing, builds, runs every benchmark
# QUILLSTOW_SANITIZE=1 ./dev.sh test builds with AddressSanitizer and
# UndefinedBehaviorSanitizer in a folder of its own; QUILLSTOW_SANITIZE=thread
# ./dev.sh test builds only the tests that run threads, with ThreadSanitizer,
# and runs them. The test builds treat every compiler warning as an error.
set -euo pipefail
cd "$(dirname "$0")"

# libxxhash-dev: XXH128, the checksum of every copy.
build_packages=(qt6-base-dev cmake g++ make libxxhash-dev)
# libqt6svg6: the SVG icon engine that draws the window icon; qt6-wayland: a
# Wayland session (QT_QPA_PLATFORM=wayland aborts without it).
run_packages=(hardinfo libqt6svg6 qt6-wayland)
# xxhash: xxhsum, which checks the location's checksum lists as a person would.
# e2fsprogs: full-disk tests on ext4; dosfstools, fusefat: long names and kept times on FAT; rsync: benchmark reference; Xvfb, openbox, xdotool, wmctrl, x11-apps,
# imagemagick: the end-to-end test in a real X server. dbus-daemon: the
# private bus of the notification test; systemd: systemd-analyze verify of the units.
# openssh-server, sshfs, fuse3: the network share of bench_share.
bench_packages=(rsync openssh-server openssh-client sshfs fuse3)
test_packages=(xxhash dbus-daemon systemd e2fsprogs dosfstools fusefat rsync xvfb openbox xdotool wmctrl x11-utils x11-apps imagemagick xauth libqt6svg6)

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

# The tests whose code runs on more than one thread: the copy workers of a
# backup run, the run beside a live event loop, the restore window's reading
# and restoring beside its event loop, and a restore's read-ahead and
# write-behind.
threaded_tests=(tst_backup_run tst_live_run tst_file_copier tst_control_panel_window tst_copy_schedule tst_quick_check tst_shutdown_during_run tst_restore_window tst_restore tst_read_ahead)

# Line tables are enough for a backtrace or a profile and build in far less
# time than full debug information; the sanitizer builds, which only run the
# tests, are optimised less and build faster still.
configure() {
    local dir=$1; shift
    local flags="-O2 -g1 -DNDEBUG"
    [ "${QUILLSTOW_SANITIZE:-0}" != 0 ] && flags="-O1 -g1 -DNDEBUG"
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$flags" "$@" >/dev/null
}

build() {
    configure "$@"
    cmake --build "$1" -j"$(nproc)"
}

case "${1:-}" in
run)
    install_missing "${build_packages[@]}" "${run_packages[@]}"
    build build
    exec ./build/src/quillstow
    ;;
test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    case "${QUILLSTOW_SANITIZE:-0}" in
    1)
        dir=build-sanitize
        # The benchmarks are built and warned about in the first pass.
        build "$dir" -DQUILLSTOW_SANITIZE=ON -DQUILLSTOW_WERROR=ON -DQUILLSTOW_BENCH=OFF
        export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
        ;;
    thread)
        dir=build-tsan
        configure "$dir" -DQUILLSTOW_SANITIZE=thread -DQUILLSTOW_WERROR=ON -DQUILLSTOW_BENCH=OFF
        cmake --build "$dir" -j"$(nproc)" --target "${threaded_tests[@]}"
        export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$PWD/tests/tsan.supp"
        ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" \
            -R "^($(IFS='|'; echo "${threaded_tests[*]}"))\$"
        ;;
    *)
        dir=build
        build "$dir" -DQUILLSTOW_WERROR=ON
        ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
        ;;
    esac
    ;;
bench)
    install_missing "${build_packages[@]}" "${bench_packages[@]}"
    build build
    export QT_QPA_PLATFORM=offscreen
    status=0
    for b in bench_backup bench_share bench_liveness bench_due_check; do
        echo "== $b"
        ./build/bench/$b || status=1
    done
    echo "== bench_backup --memory"
    ./build/bench/bench_backup --memory || status=1
    echo "== bench_liveness --timed"
    ./build/bench/bench_liveness --timed || status=1
    exit $status
    ;;
*)
    echo "usage: $0 run|test|bench" >&2
    exit 2
    ;;
esac
