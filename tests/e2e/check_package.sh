#!/usr/bin/env bash
# Builds the .deb, checks it with lintian, desktop-file-validate and
# appstreamcli, installs it with apt-get, starts the program from its
# launcher's Exec line under Xvfb as an ordinary user, and removes it again.
# It changes the machine (installs and purges the package), so it is not part
# of the test command. Run as root on a Debian 12 machine:
#   tests/e2e/check_package.sh <build dir>
set -euo pipefail

BUILD=$(readlink -f "$1")
HERE=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
# shellcheck source=x_session.sh
source "$HERE/x_session.sh"

[ "$(id -u)" -eq 0 ] || xs_fail "run as root: it installs and removes the package"
for tool in lintian desktop-file-validate appstreamcli setpriv; do
    command -v "$tool" >/dev/null || xs_fail "$tool is missing (apt-get install lintian desktop-file-utils appstream)"
done
status() { dpkg-query -W -f='${Status}' quillstow 2>/dev/null || true; }
if [ "$(status)" = "install ok installed" ]; then
    xs_fail "quillstow is installed already; this check must not replace someone's copy"
fi

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

xs_log "building the package"
cmake --build "$BUILD" --target quillstow quillstow_package_docs >/dev/null
(cd "$BUILD" && rm -f quillstow_*.deb && cpack -G DEB >/dev/null)
DEB=$(ls "$BUILD"/quillstow_*.deb)
dpkg-deb -I "$DEB" | sed -n '/Package:/,$p'
dpkg-deb -c "$DEB" | awk '{print $1, $6}'

xs_log "lintian"
lintian -I -E --pedantic "$DEB" 2>&1 | grep -v 'running with root privileges' || true
lintian --fail-on error,warning "$DEB" >/dev/null 2>&1 || xs_fail "lintian reports errors or warnings"

xs_log "desktop-file-validate and appstreamcli"
dpkg-deb -x "$DEB" "$T/tree"
desktop-file-validate "$T/tree/usr/share/applications/quillstow.desktop"
appstreamcli validate --no-net "$T/tree"/usr/share/metainfo/*.metainfo.xml

xs_log "apt-get install $DEB"
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$DEB" 2>&1 | grep -v '^W: Download is performed unsandboxed' | tail -n 3
for f in /usr/bin/quillstow /usr/share/quillstow/registry.reg /usr/share/applications/quillstow.desktop \
    /usr/share/icons/hicolor/scalable/apps/quillstow.svg; do
    [ -f "$f" ] || xs_fail "the package did not install $f"
done

rc=0
xs_start "$T" || rc=$?
[ "$rc" -eq 0 ] || exit "$rc"

# An ordinary user, as from a desktop's menu: the launcher's Exec line.
EXEC=$(sed -n 's/^Exec=//p' /usr/share/applications/quillstow.desktop)
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

# /usr/bin cannot be written by this user, so App.Path is the per-user folder.
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
for f in /usr/bin/quillstow /usr/share/quillstow /usr/share/applications/quillstow.desktop \
    /usr/share/icons/hicolor/scalable/apps/quillstow.svg /usr/share/doc/quillstow; do
    [ ! -e "$f" ] || xs_fail "$f is left after the purge"
done
xs_log "package check passed"
