#!/usr/bin/env bash
# The systemd user units of the automatic backup, as `cmake --install` lays
# them out: the timer enabled for every user by its link, the service naming
# the installed program, and both accepted by systemd-analyze verify.
#   test_systemd_units.sh <quillstow executable> <build dir>
# Exit 77 (skipped) where systemd-analyze is not installed.
set -euo pipefail

EXE=$(readlink -f "$1")
BUILD=$(readlink -f "$2")
fail() {
    printf 'FAIL: %s\n' "$*" >&2
    exit 1
}
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed (package systemd): skipped"; exit 77; }

T=$(mktemp -d /tmp/quillstow-units.XXXXXX)
trap 'rm -rf "$T"' EXIT

DESTDIR=$T/stage cmake --install "$BUILD" --prefix /usr >"$T/install.log" 2>&1 ||
    { cat "$T/install.log"; fail "cmake --install failed"; }
UNITS=$T/stage/usr/lib/systemd/user
[ -f "$UNITS/quillstow-backup.timer" ] || fail "no timer in /usr/lib/systemd/user"
[ -f "$UNITS/quillstow-backup.service" ] || fail "no service in /usr/lib/systemd/user"
[ "$(readlink "$UNITS/timers.target.wants/quillstow-backup.timer")" = ../quillstow-backup.timer ] ||
    fail "the timer is not enabled for every user by a link in timers.target.wants"
grep -qx 'ExecStart=/usr/bin/quillstow --backup --if-due' "$UNITS/quillstow-backup.service" ||
    fail "the service does not start the installed program: $(grep ExecStart "$UNITS/quillstow-backup.service")"
[ "$(stat -c %a "$UNITS/quillstow-backup.service")" = 644 ] || fail "the service is not mode 644"

# Checked against this build's program, since none is installed here; the
# manual page is checked by the package check, where it is installed.
mkdir -p "$T/verify" "$T/run"
chmod 700 "$T/run"
cp "$UNITS/quillstow-backup.timer" "$T/verify/"
sed "s|^ExecStart=/usr/bin/quillstow |ExecStart=$EXE |" "$UNITS/quillstow-backup.service" >"$T/verify/quillstow-backup.service"
rc=0
(cd "$T/verify" && XDG_RUNTIME_DIR=$T/run systemd-analyze --user verify --man=no \
    quillstow-backup.timer quillstow-backup.service) >"$T/verify.log" 2>&1 || rc=$?
cat "$T/verify.log"
[ "$rc" -eq 0 ] || fail "systemd-analyze verify rejects the units (status $rc)"
[ ! -s "$T/verify.log" ] || fail "systemd-analyze verify has remarks on the units"
echo "the units are installed, enabled for users and verified"
