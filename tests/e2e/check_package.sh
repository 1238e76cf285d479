#!/usr/bin/env bash
# Checks the .deb that the README's package command left in the build folder:
# lintian (no error or warning, no hardening or unneeded-section note), the
# hardening of the packaged binary, desktop-file-validate and appstreamcli;
# then installs it with apt-get, checks the automatic backup's systemd user
# units (installed, enabled for every user, accepted by systemd-analyze),
# starts the program from its launcher's Exec line under Xvfb as an ordinary
# user, and removes it again, leaving nothing. It builds
# nothing. It changes the machine (installs and purges the package), so it is
# not part of the test command. Run as root on a Debian 12 machine:
#   cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build && (cd build && cpack -G DEB)
#   tests/e2e/check_package.sh build
set -euo pipefail

BUILD=$(readlink -f "$1")
HERE=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
# shellcheck source=x_session.sh
source "$HERE/x_session.sh"

APP_ID=io.github.quillstow.Quillstow
LAUNCHER=/usr/share/applications/$APP_ID.desktop

[ "$(id -u)" -eq 0 ] || xs_fail "run as root: it installs and removes the package"
for tool in lintian desktop-file-validate appstreamcli readelf setpriv; do
    command -v "$tool" >/dev/null || xs_fail "$tool is missing (apt-get install lintian desktop-file-utils appstream)"
done
status() { dpkg-query -W -f='${Status}' quillstow 2>/dev/null || true; }
if [ "$(status)" = "install ok installed" ]; then
    xs_fail "quillstow is installed already; this check must not replace someone's copy"
fi

shopt -s nullglob
debs=("$BUILD"/quillstow_*.deb)
shopt -u nullglob
[ "${#debs[@]}" -eq 1 ] || xs_fail "want exactly one quillstow_*.deb in $BUILD, found ${#debs[@]}; build it with cpack -G DEB"
DEB=${debs[0]}
[ ! "$BUILD/src/quillstow" -nt "$DEB" ] || xs_fail "$DEB is older than the program it packs; run cpack -G DEB again"

T=$(mktemp -d /tmp/quillstow-package.XXXXXX)
chmod 755 "$T"
installed=0
cleanup() {
    local rc=$?
    xs_stop
    if [ "$installed" = 1 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq quillstow >/dev/null 2>&1 || true
    fi
    rm -rf "$T"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

xs_log "package $DEB"
dpkg-deb -I "$DEB" | sed -n '/Package:/,$p'
dpkg-deb -c "$DEB" | awk '{print $1, $6}'

# Every tag at every level, overridden ones included, so the log shows all.
xs_log "lintian"
lintian_rc=0
lintian --fail-on error,warning -I -E --pedantic --show-overrides "$DEB" >"$T/lintian.log" 2>&1 || lintian_rc=$?
grep -v 'running with root privileges' "$T/lintian.log" || true
[ "$lintian_rc" -eq 0 ] || xs_fail "lintian reports errors or warnings (status $lintian_rc)"
# The flags that lintian checks and the .comment section are checked at any
# level; an override that no longer matches must not linger either.
if grep -E '^[EWIPX]: .*(hardening-|binary-has-unneeded-section|unused-override|mismatched-override)' "$T/lintian.log"; then
    xs_fail "lintian finds the hardening or stripping of the program incomplete"
fi

# The one call lintian counts as fortifiable, read(), fills buffers of a size
# only known at run time, so the binary cannot show fortification; the
# build's flags can (Makefile or Ninja generator).
grep -qs -e '-D_FORTIFY_SOURCE=2' "$BUILD"/src/CMakeFiles/quillstow_core.dir/flags.make "$BUILD"/build.ninja ||
    xs_fail "the program was not compiled with -D_FORTIFY_SOURCE=2"

dpkg-deb -x "$DEB" "$T/tree"
# The command, and the windows program it hands over to.
for BIN in "$T/tree/usr/bin/quillstow" "$T/tree/usr/libexec/quillstow/quillstow-panel"; do
    xs_log "the packaged binary ${BIN#"$T/tree"}"
    [ -x "$BIN" ] || xs_fail "the package has no $BIN"
    if readelf -S -W "$BIN" | grep -F '.comment'; then
        xs_fail "the packaged binary still has a .comment section"
    fi
    if readelf -S -W "$BIN" | grep -q -F '.symtab'; then
        xs_fail "the packaged binary is not stripped"
    fi
    readelf -d "$BIN" | grep -q 'FLAGS.*BIND_NOW' || xs_fail "the packaged binary is not linked with -z now"
    readelf -l -W "$BIN" | grep -q GNU_RELRO || xs_fail "the packaged binary has no read-only relocations"
    if command -v hardening-check >/dev/null; then
        # Fortification is checked on the build's flags above; Debian 12's C
        # start-up files carry no CET marking, so the linked program cannot either.
        hardening-check --nofortify --nocfprotection "$BIN" ||
            xs_fail "hardening-check finds the packaged binary unprotected"
    else
        echo "hardening-check not installed (package devscripts): PIE and stack protector left unchecked"
    fi
done
# The command loads no window library: the timer's check stays small.
if readelf -d "$T/tree/usr/bin/quillstow" | grep -E 'NEEDED.*(Qt6Gui|Qt6Widgets)'; then
    xs_fail "the quillstow command needs the window libraries"
fi

xs_log "desktop-file-validate and appstreamcli"
desktop-file-validate "$T/tree$LAUNCHER" >"$T/desktop.log" 2>&1 || { cat "$T/desktop.log"; xs_fail "desktop-file-validate rejects the launcher"; }
[ ! -s "$T/desktop.log" ] || { cat "$T/desktop.log"; xs_fail "desktop-file-validate has remarks on the launcher"; }
appstream_rc=0
appstreamcli validate --pedantic --no-net "$T/tree/usr/share/metainfo/$APP_ID.metainfo.xml" >"$T/appstream.log" 2>&1 ||
    appstream_rc=$?
cat "$T/appstream.log"
[ "$appstream_rc" -eq 0 ] || xs_fail "appstreamcli rejects the metainfo"
# The id keeps the project's capital letter, the one pedantic remark accepted.
if grep -E '^ *[EWIP]: ' "$T/appstream.log" | grep -v 'cid-contains-uppercase-letter'; then
    xs_fail "appstreamcli has remarks on the metainfo"
fi

xs_log "apt-get install $DEB"
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$DEB" 2>&1 | grep -v '^W: Download is performed unsandboxed' | tail -n 3
for f in /usr/bin/quillstow /usr/libexec/quillstow/quillstow-panel /usr/share/quillstow/registry.reg "$LAUNCHER" /usr/share/man/man1/quillstow.1.gz \
    /usr/share/icons/hicolor/scalable/apps/quillstow.svg; do
    [ -f "$f" ] || xs_fail "the package did not install $f"
done

# The automatic backup's units, enabled for every user by the package's own
# link (nothing written under /etc, so a purge leaves nothing behind).
USER_UNITS=/usr/lib/systemd/user
for f in "$USER_UNITS/quillstow-backup.timer" "$USER_UNITS/quillstow-backup.service"; do
    [ -f "$f" ] || xs_fail "the package did not install $f"
done
[ "$(readlink "$USER_UNITS/timers.target.wants/quillstow-backup.timer")" = ../quillstow-backup.timer ] ||
    xs_fail "the timer is not enabled for users"
dpkg-query -L quillstow | grep -qx "$USER_UNITS/timers.target.wants/quillstow-backup.timer" ||
    xs_fail "the timer's link does not belong to the package"
grep -qx 'ExecStart=/usr/bin/quillstow --backup --if-due' "$USER_UNITS/quillstow-backup.service" ||
    xs_fail "the service does not start the installed program"
if command -v systemd-analyze >/dev/null; then
    mkdir -p "$T/verify-run"
    chmod 700 "$T/verify-run"
    man_check=--man=yes
    command -v man >/dev/null || { man_check=--man=no; echo "man not installed: the units' Documentation= is not checked"; }
    XDG_RUNTIME_DIR="$T/verify-run" systemd-analyze --user verify "$man_check" \
        "$USER_UNITS/quillstow-backup.timer" "$USER_UNITS/quillstow-backup.service" >"$T/verify.log" 2>&1 ||
        { cat "$T/verify.log"; xs_fail "systemd-analyze verify rejects the installed units"; }
    [ ! -s "$T/verify.log" ] || { cat "$T/verify.log"; xs_fail "systemd-analyze verify has remarks on the installed units"; }
else
    echo "systemd-analyze not installed (package systemd): the installed units are not verified"
fi

# The service's command line as an ordinary user with nothing saved yet: a
# check with nothing to do, silent, status 0, and no display needed.
SERVICE_EXEC=$(sed -n 's/^ExecStart=//p' "$USER_UNITS/quillstow-backup.service")
xs_log "running $SERVICE_EXEC as uid 65534"
CHECK_HOME=$T/check-home
mkdir -p "$CHECK_HOME" "$T/check-run"
chown -R 65534:65534 "$CHECK_HOME" "$T/check-run"
chmod 700 "$T/check-run"
check_rc=0
(
    cd "$CHECK_HOME"
    exec setpriv --reuid=65534 --regid=65534 --clear-groups \
        env -i PATH=/usr/bin:/bin HOME="$CHECK_HOME" LANG=C.UTF-8 XDG_RUNTIME_DIR="$T/check-run" \
        sh -c "exec $SERVICE_EXEC"
) >"$T/check.log" 2>&1 || check_rc=$?
cat "$T/check.log"
[ "$check_rc" -eq 0 ] || xs_fail "the service's command line ended with status $check_rc"
[ ! -s "$T/check.log" ] || xs_fail "the service's command line printed something with nothing to do"
[ ! -e "$CHECK_HOME/.local/share/quillstow/BackupSettings.dat" ] || xs_fail "the timer's check created the settings file"

rc=0
xs_start "$T" || rc=$?
[ "$rc" -eq 0 ] || exit "$rc"

# An ordinary user, as from a desktop's menu: the launcher's Exec line.
EXEC=$(sed -n 's/^Exec=//p' "$LAUNCHER")
xs_log "starting Exec=$EXEC as uid 65534"
USER_HOME=$T/home
mkdir -p "$USER_HOME" "$T/run"
chown -R 65534:65534 "$USER_HOME" "$T/run"
chmod 700 "$T/run"
(
    cd "$USER_HOME"
    exec setpriv --reuid=65534 --regid=65534 --clear-groups \
        env -i PATH=/usr/bin:/bin HOME="$USER_HOME" LANG=C.UTF-8 DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb \
        XDG_RUNTIME_DIR="$T/run" sh -c "exec $EXEC"
) >"$T/app.log" 2>&1 &
APP_PID=$!
XS_PIDS+=("$APP_PID")
PANEL=$(xs_wait_window "Quillstow Control Panel" 15) || { cat "$T/app.log"; xs_fail "the installed program showed no window"; }
mkdir -p "$BUILD/screenshots/e2e"
xs_screenshot "$PANEL" "$BUILD/screenshots/e2e/installed-control-panel.png"
xs_close "$PANEL"
for _ in $(seq 100); do
    kill -0 "$APP_PID" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$APP_PID" 2>/dev/null && xs_fail "the installed program did not end with its window"
wait "$APP_PID" || xs_fail "the installed program ended with status $?"

# /usr/bin cannot be written by this user, so the program's folder is the per-user one.
SAVED=$USER_HOME/.local/share/quillstow/BackupSettings.dat
[ -f "$SAVED" ] || xs_fail "no settings file at $SAVED"
[ "$(stat -c %s "$SAVED")" = 129536 ] || xs_fail "$SAVED is not 1012 records"
[ "$(stat -c %u "$SAVED")" = 65534 ] || xs_fail "$SAVED does not belong to the user who ran the program"
[ ! -e /usr/bin/BackupSettings.dat ] || xs_fail "the installed program wrote into /usr/bin"
ls -l "$SAVED"
# The location it starts with is the per-user folder's backup folder.
od -An -c -j $((1001 * 128 + 4)) -N 60 "$SAVED" | tr -d ' \n'
echo

xs_log "apt-get purge quillstow"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq quillstow 2>&1 | tail -n 2
installed=0
[ "$(status)" != "install ok installed" ] || xs_fail "still installed after the purge"
for f in /usr/bin/quillstow /usr/share/quillstow "$LAUNCHER" \
    /usr/share/icons/hicolor/scalable/apps/quillstow.svg /usr/share/doc/quillstow \
    "$USER_UNITS/quillstow-backup.timer" "$USER_UNITS/quillstow-backup.service" \
    "$USER_UNITS/timers.target.wants/quillstow-backup.timer" /etc/systemd/user/timers.target.wants/quillstow-backup.timer; do
    [ ! -e "$f" ] || xs_fail "$f is left after the purge"
done
xs_log "package check passed"
