#!/usr/bin/env bash
# Quillstow as a person uses it: the real executable in a real X server
# (Xvfb, with openbox as the window manager), driven with xdotool and wmctrl.
# Every check is on files: the settings file a run leaves, byte for byte, and
# the files a backup copies. Screenshots of each window go to
# <build>/screenshots/e2e/.
#   test_end_to_end.sh <quillstow executable> <build dir>
# Exit 77 (skipped) only where no X server can be started.
set -euo pipefail

EXE=$(readlink -f "$1")
BUILD=$(readlink -f "$2")
HERE=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
# shellcheck source=x_session.sh
source "$HERE/x_session.sh"
# shellcheck source=settings_dat.sh
source "$HERE/settings_dat.sh"

T=$(mktemp -d /tmp/quillstow-e2e.XXXXXX)
SHOTS=$BUILD/screenshots/e2e
APP_PID=""
cleanup() {
    local rc=$?
    xs_stop
    if [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ] && [ -s "$T/app.log" ]; then
        echo "--- program output ---" >&2
        tail -n 40 "$T/app.log" >&2
    fi
    rm -rf "$T"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$SHOTS" "$T/x"
rc=0
xs_start "$T/x" || rc=$?
[ "$rc" -eq 0 ] || exit "$rc"

# ---- a home of its own, a mapped drive and folders to back up ----
# The program's folder is a copy, so BackupSettings.dat lands there and
# nowhere near the build folder or the real user's files.
APP=$T/app
USERS=$T/users
HOME_DIR=$USERS/ann
NAS=$T/nas # what drive D: stands for: a mounted share, here a plain folder
mkdir -p "$APP" "$HOME_DIR/.config/quillstow/drives" "$HOME_DIR/.local/share" "$HOME_DIR/.cache" \
    "$T/run" "$NAS" "$T/backup" "$T/exchange" "$T/data/docs/sub" "$T/data/photos" "$HOME_DIR/old"
chmod 700 "$T/run"
cp "$EXE" "$APP/quillstow"
# ... with the windows program it hands over to beside it.
cp "$(dirname "$EXE")/quillstow-panel" "$APP/quillstow-panel"
# The default registry store lies beside the program (from the source tree
# where the build folder has none).
for store in "$(dirname "$EXE")/registry.reg" "$HERE/../../data/registry.reg"; do
    if [ -f "$store" ]; then
        cp "$store" "$APP/registry.reg"
        break
    fi
done
ln -s "$NAS" "$HOME_DIR/.config/quillstow/drives/d:"

printf 'alpha\n' >"$T/data/docs/a.txt"
printf 'bravo\n' >"$T/data/docs/b.txt"
printf 'hidden\n' >"$T/data/docs/.secret"
printf 'deeper\n' >"$T/data/docs/sub/c.txt"
head -c 70000 /dev/urandom >"$T/data/photos/p.jpg"
printf 'from photos\n' >"$T/data/photos/report.txt"
printf 'notes\n' >"$HOME_DIR/notes.txt"
printf 'from ann\n' >"$HOME_DIR/report.txt"
printf 'old\n' >"$HOME_DIR/old/x.txt"
printf 'shell\n' >"$HOME_DIR/.profile"

dos() { local p=${1//\//\\}; printf 'C:%s' "$p"; } # POSIX -> drive letter C:
DOCS=$(dos "$T/data/docs")
PHOTOS=$(dos "$T/data/photos")
# The folder list reaches ann through the users' junction and names it so.
ANN='C:\Documents and Settings\ann'
BACKUP=$(dos "$T/backup")\\
SETTINGS=$APP/BackupSettings.dat

start_app() {
    (
        cd "$APP"
        exec env -i PATH="$PATH" HOME="$HOME_DIR" LANG=C.UTF-8 DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb \
            XDG_CONFIG_HOME="$HOME_DIR/.config" XDG_DATA_HOME="$HOME_DIR/.local/share" \
            XDG_CACHE_HOME="$HOME_DIR/.cache" XDG_RUNTIME_DIR="$T/run" \
            ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS${NO_LEAK_CHECK:+:detect_leaks=0}"} \
            ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} \
            LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$HERE/lsan.supp" \
            "$APP/quillstow"
    ) >>"$T/app.log" 2>&1 &
    APP_PID=$!
    XS_PIDS+=("$APP_PID")
    PANEL=$(xs_wait_window "Quillstow Control Panel" 15) || xs_fail "the control panel did not appear"
    # The client area below the menu bar is 4755 twips high.
    MENU_H=$(($(xs_height "$PANEL") - $(tw 4755)))
}

# The program must end by itself (last window closed, or File > Exit), with
# the status given (0 unless said; "0|143" allows either).
wait_app_end() {
    local what=$1 expected=${2:-0}
    for _ in $(seq 100); do
        kill -0 "$APP_PID" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$APP_PID" 2>/dev/null && xs_fail "$what: the program is still running"
    local status=0
    wait "$APP_PID" || status=$?
    [[ $status =~ ^($expected)$ ]] || xs_fail "$what: the program ended with status $status"
    APP_PID=""
}

tw() { echo $((($1 + 7) / 15)); } # twips to pixels, as the program places controls
# The centre of a control placed at (left, top, width, height) twips, offset by
# its frame's position and the menu bar.
centre() { # window left top width height [frame-left frame-top] [menu-height]
    local id=$1 l=$2 t=$3 w=$4 h=$5 fl=${6:-0} ft=${7:-0} mh=${8:-0}
    xs_click "$id" $(($(tw "$fl") + $(tw "$l") + $(tw "$w") / 2)) $((mh + $(tw "$ft") + $(tw "$t") + $(tw "$h") / 2))
}
# Control panel controls: Frame1 at 120,120; Frame2 at 120,3480.
panel_click() { centre "$PANEL" "$@"; }
click_files_row0() { xs_click "$PANEL" 60 $((MENU_H + $(tw 120) + $(tw 240) + 10)); }
click_delete() { panel_click 5880 2880 1335 255 120 120 "$MENU_H"; }
click_add_directory() { panel_click 120 2880 1215 255 120 120 "$MENU_H"; }
click_change_location() { panel_click 120 840 2055 255 120 3480 "$MENU_H"; }
click_auto_backup() { panel_click 2280 840 1695 255 120 3480 "$MENU_H"; }
click_backup_now() { panel_click 5880 840 1335 255 120 3480 "$MENU_H"; }

# Delete Directory on the first line, confirmed in the message box.
delete_first_line() {
    click_files_row0
    click_delete
    local box
    box=$(xs_wait_window "Confirm Removal") || xs_fail "Delete Directory asked nothing"
    [ -n "${1:-}" ] && xs_screenshot "$box" "$SHOTS/$1.png"
    xs_key "$box" Return
    xs_wait_gone "Confirm Removal" || xs_fail "the removal question stayed open"
}

# File > Exit through the menu, as a person picks it: the last item.
file_exit() {
    xs_click "$PANEL" 15 $((MENU_H / 2))
    xs_key "$PANEL" Up Return
}

# ==== 1. A prepared list is shown, and the close box saves it ====
xs_log "1. start on a prepared settings file"
sd_make "$T/prepared.dat" "$BACKUP" "$DOCS" "$PHOTOS"
cp "$T/prepared.dat" "$SETTINGS"
sd_scribble "$SETTINGS" # unused bytes that only a real save clears
start_app
xs_screenshot "$PANEL" "$SHOTS/control-panel.png"

# The window icon comes from the program's own SVG.
icon=$(xprop -id "$PANEL" _NET_WM_ICON)
[[ $icon == "_NET_WM_ICON(CARDINAL) = "* ]] \
    || xs_fail "the control panel has no window icon (is libqt6svg6 installed?): $icon"
class=$(xprop -id "$PANEL" WM_CLASS)
[[ $class == *'"quillstow"'* ]] || xs_fail "WM_CLASS does not match the launcher's StartupWMClass: $class"

click_auto_backup
win=$(xs_wait_window "Auto Sync Settings") || xs_fail "Auto Backup Interval opened no window"
xs_screenshot "$win" "$SHOTS/auto-sync-settings.png"
xs_close "$win"
xs_wait_gone "Auto Sync Settings" || xs_fail "the auto sync window did not close"

# Help > About: the menu bar's third menu, reached from the first.
xs_click "$PANEL" 15 $((MENU_H / 2))
xs_key "$PANEL" Right Right Return
win=$(xs_wait_window "About Quillstow") || xs_fail "Help > About opened no window"
xs_screenshot "$win" "$SHOTS/about.png"
xs_close "$win"
xs_wait_gone "About Quillstow" || xs_fail "the About box did not close"

xs_close "$PANEL"
wait_app_end "closing the control panel"
sd_expect_same "the close box saves the list it loaded" "$T/prepared.dat" "$SETTINGS"

# ==== 2. File > Exit saves nothing ====
xs_log "2. a change, then File > Exit"
touch -d '2001-01-01 00:00' "$SETTINGS"
start_app
delete_first_line confirm-removal
file_exit
wait_app_end "File > Exit"
sd_expect_same "File > Exit leaves the settings file as it was" "$T/prepared.dat" "$SETTINGS"
[ "$(stat -c %Y "$SETTINGS")" = "$(date -d '2001-01-01 00:00' +%s)" ] || xs_fail "File > Exit rewrote the settings file"

# ==== 3. Add Directory, a location on mapped drive D:, Backup NOW ====
xs_log "3. edit the list, choose D:, back up"
start_app
delete_first_line # DOCS goes; PHOTOS stays

click_add_directory
win=$(xs_wait_window "Add Directory") || xs_fail "Add Directory opened no window"
xs_screenshot "$win" "$SHOTS/add-directory.png"
centre "$win" 4680 600 1215 375 # "My Documents": the folder of the users' folders, $T/users
xs_key "$win" Tab End           # into the folder list; its last entry is the one sub-folder, ann
centre "$win" 3360 2520 1215 375 # "Add Directory"
xs_wait_gone "Add Directory" || xs_fail "Add Directory stayed open after adding"

click_change_location
win=$(xs_wait_window "Change Backup Folder") || xs_fail "Change Backup Location opened no window"
centre "$win" 960 120 3495 315 # the drive list drops down: C:, then D:
xs_key "$win" Down Return
sleep 0.4 # the chosen-folder line follows the folder list on a 100 ms timer
xs_screenshot "$win" "$SHOTS/change-backup-folder.png"
centre "$win" 3600 2880 855 255 # "Ok"
xs_wait_gone "Change Backup Folder" || xs_fail "Ok left the Change Backup Folder window open"

click_backup_now
# The run holds the window until it is done; its copies are what counts.
expect_copy() { # source, name in the backup
    local copy=$NAS/$2
    for _ in $(seq 100); do
        [ -f "$copy" ] && cmp -s "$1" "$copy" && return 0
        sleep 0.1
    done
    xs_fail "Backup NOW: $copy is not a copy of $1"
}
expect_copy "$T/data/photos/p.jpg" p.jpg
expect_copy "$HOME_DIR/report.txt" report.txt # the later directory wins a name clash
expect_copy "$HOME_DIR/notes.txt" notes.txt
for absent in a.txt b.txt x.txt c.txt .profile .secret old sub; do
    [ ! -e "$NAS/$absent" ] || xs_fail "Backup NOW copied $absent, which is not a listed directory's visible file"
done
[ -z "$(ls -A "$T/backup")" ] || xs_fail "Backup NOW wrote into the old location"
# The earlier directory's report.txt is not in the backup: the run says so.
box=$(xs_wait_window "Quillstow") || xs_fail "Backup NOW did not tell of the report.txt that a later one replaced"
xs_screenshot "$box" "$SHOTS/backup-replaced.png"
xs_key "$box" Return
xs_wait_gone "Quillstow" || xs_fail "the box about the replaced file stayed open"
xs_screenshot "$PANEL" "$SHOTS/control-panel-after-backup.png"

xs_close "$PANEL"
wait_app_end "closing the control panel"
sd_make "$T/edited.dat" 'D:\\' "$PHOTOS" "$ANN"
sd_expect_same "the list and location chosen in the dialogs are saved" "$T/edited.dat" "$SETTINGS"

# ==== 3b. The restore window on the location just backed up ====
xs_log "3b. quillstow --restore: search, restore into a folder"
mkdir -p "$T/restored"
(
    cd "$APP"
    exec env -i PATH="$PATH" HOME="$HOME_DIR" LANG=C.UTF-8 DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb \
        XDG_CONFIG_HOME="$HOME_DIR/.config" XDG_DATA_HOME="$HOME_DIR/.local/share" \
        XDG_CACHE_HOME="$HOME_DIR/.cache" XDG_RUNTIME_DIR="$T/run" \
        ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} \
        LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$HERE/lsan.supp" \
        "$APP/quillstow" --restore
) >>"$T/app.log" 2>&1 &
APP_PID=$!
XS_PIDS+=("$APP_PID")
win=$(xs_wait_window "Restore Files" 15) || xs_fail "quillstow --restore opened no window"
xs_type "$win" "notes" # the search has the focus
xs_key "$win" Return    # ... and Enter picks the first file it found
xs_key "$win" alt+h     # Choose... the folder to restore into
dlg=$(xs_wait_window "Choose a Folder") || xs_fail "Choose... opened no folder dialog"
xs_type "$dlg" "$T/restored"
xs_key "$dlg" Return
xs_wait_gone "Choose a Folder" || xs_fail "the folder dialog did not take the typed folder"
xs_screenshot "$win" "$SHOTS/restore-window.png"
xs_key "$win" alt+r
box=$(xs_wait_window "Restore Preview") || xs_fail "Restore... showed no preview"
[ ! -e "$T/restored/notes.txt" ] || xs_fail "the preview wrote the file"
xs_screenshot "$box" "$SHOTS/restore-preview.png"
xs_key "$box" Return
# The end's message bears the window's title: the other window of that title.
box=""
for _ in $(seq 75); do
    box=$( (xdotool search --onlyvisible --name '^Restore Files$' 2>/dev/null || true) | (grep -vx "$win" || true) | head -n 1)
    [ -n "$box" ] && break
    sleep 0.2
done
[ -n "$box" ] || xs_fail "the restore did not tell how it went"
xs_screenshot "$box" "$SHOTS/restore-done.png"
xs_key "$box" Return
cmp -s "$HOME_DIR/notes.txt" "$T/restored/notes.txt" || xs_fail "the restore window did not restore notes.txt into the folder"
[ "$(ls -A "$T/restored")" = notes.txt ] || xs_fail "the restore wrote more than notes.txt: $(ls -A "$T/restored")"
xs_close "$win"
wait_app_end "closing the restore window"

# ==== 4. Export the list, change it, import the export ====
xs_log "4. export, change, import"
start_app
xs_key "$PANEL" ctrl+e
win=$(xs_wait_window "Export Directory List") || xs_fail "File > Export opened no window"
centre "$win" 3480 1200 1095 255 # "Browse..."
dlg=$(xs_wait_window "Save As") || xs_fail "Browse... opened no file dialog"
xs_screenshot "$dlg" "$SHOTS/export-save-as.png"
xs_type "$dlg" "$T/exchange/list.DEXP"
xs_key "$dlg" Return
xs_wait_gone "Save As" || xs_fail "the file dialog did not take the typed name"
xs_screenshot "$win" "$SHOTS/export-directory-list.png"
centre "$win" 3360 1680 1215 255 # "Export"
box=$(xs_wait_window "Quillstow") || xs_fail "Export reported nothing"
xs_screenshot "$box" "$SHOTS/export-done.png"
xs_key "$box" Return
xs_wait_gone "Export Directory List" || xs_fail "the export dialog stayed open after exporting"
sd_expect_same "the export is the list as it was saved" "$T/edited.dat" "$T/exchange/list.DEXP"

delete_first_line # PHOTOS goes; the close saves that
xs_close "$PANEL"
wait_app_end "closing the control panel"
sd_make "$T/changed.dat" 'D:\\' "$ANN"
sd_expect_same "the change after the export is saved" "$T/changed.dat" "$SETTINGS"

start_app
xs_key "$PANEL" ctrl+i
win=$(xs_wait_window "Import Directory List") || xs_fail "File > Import opened no window"
xs_key "$win" ctrl+a
xs_type "$win" "$(dos "$T/exchange/list.DEXP")"
xs_screenshot "$win" "$SHOTS/import-directory-list.png"
centre "$win" 3360 1440 1215 255 # "Import"
box=$(xs_wait_window "Import Directory") || xs_fail "Import asked nothing"
xs_screenshot "$box" "$SHOTS/import-question.png"
xs_key "$box" Return # Yes is the default
box=$(xs_wait_window "Quillstow") || xs_fail "Import reported nothing"
xs_screenshot "$box" "$SHOTS/import-done.png"
xs_key "$box" Return
wait_app_end "the end after an import" # at once, without saving the list in memory
sd_expect_same "the import replaces the settings file with the export" "$T/exchange/list.DEXP" "$SETTINGS"

# ==== 5. A long run: the progress window comes and goes ====
xs_log "5. a long run shows its progress"
cp "$SETTINGS" "$T/imported.dat"
mkdir -p "$T/many" "$T/many-backup"
# Files with bytes in them, so that a copy cut short would show.
head -c $((60000 * 16)) /dev/urandom | (cd "$T/many" && split -b 16 -a 5 -d - f)
sd_make "$SETTINGS" "$(dos "$T/many-backup")\\" "$(dos "$T/many")"
start_app
click_backup_now
win=$(xs_wait_window "Quillstow" 60) || xs_fail "a long run showed no progress window"
xs_screenshot "$win" "$SHOTS/backup-progress.png"
xs_wait_gone "Quillstow" 240 || xs_fail "the progress window stayed after the run"
copied=$(find "$T/many-backup" -maxdepth 1 -type f | wc -l)
[ "$copied" -eq 60000 ] || xs_fail "the long run copied $copied of 60000 files"
xs_close "$PANEL"
wait_app_end "closing the control panel after a long run"

# ==== 5b. Stopping a long run: Esc, Stop, the close box, SIGTERM, SIGHUP ====
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# The copies a stopped run made: fewer than all, each whole, no temporary left.
expect_stopped_copies() {
    local what=$1 copied
    copied=$(find "$STOPPED" -maxdepth 1 -type f | wc -l)
    [ "$copied" -lt 60000 ] || xs_fail "$what: the run was not stopped (all 60000 files copied)"
    [ -z "$(find "$STOPPED" -name '.quillstow-*')" ] || xs_fail "$what: a copy under way was left unfinished"
    (cd "$STOPPED" && find . -maxdepth 1 -type f -print0 | xargs -0 -r md5sum) >"$T/sums"
    (cd "$T/many" && md5sum -c --quiet "$T/sums") || xs_fail "$what: a copy differs from its file"
    xs_log "$what: $copied of 60000 files copied"
}
# Each into a folder of its own: removing many files costs more than making them.
STOP_RUNS=0
fresh_long_run() {
    STOP_RUNS=$((STOP_RUNS + 1))
    STOPPED=$T/stopped-$STOP_RUNS
    mkdir "$STOPPED"
    sd_make "$SETTINGS" "$(dos "$STOPPED")\\" "$(dos "$T/many")"
    sd_scribble "$SETTINGS"
    start_app
    click_backup_now
}
# Stops the run from its progress window and says how long it took to go.
stop_from_progress() {
    local how=$1 win t0 ms
    fresh_long_run
    win=$(xs_wait_window "Quillstow" 30) || xs_fail "$how: the long run showed no progress window"
    xs_activate "$win"
    t0=$(now_ms)
    case $how in
        Esc) xdotool key --clearmodifiers Escape ;;
        Stop) # the button at the window's lower right corner
            eval "$(xdotool getwindowgeometry --shell "$win")"
            xdotool mousemove --window "$win" $((WIDTH - 45)) $((HEIGHT - 20)) click 1 ;;
        close) xs_close "$win" ;;
    esac
    # A second on, the copying is over: what is there then is all there
    # will be. The window goes once the copies are flushed to the disk.
    local gone=0 atSecond=""
    while xdotool search --onlyvisible --name '^Quillstow$' 2>/dev/null | grep -qx "$win"; do
        ms=$(($(now_ms) - t0))
        [ "$ms" -lt 10000 ] || xs_fail "$how: the run went on for 10 s after it was stopped"
        [ -z "$atSecond" ] && [ "$ms" -ge 1000 ] && atSecond=$(find "$STOPPED" -maxdepth 1 -type f | wc -l)
        sleep 0.05
    done
    gone=$(($(now_ms) - t0))
    [ -n "$atSecond" ] || atSecond=$(find "$STOPPED" -maxdepth 1 -type f | wc -l)
    xs_log "$how: the progress window went ${gone} ms after the stop"
    [ "$(find "$STOPPED" -maxdepth 1 -type f | wc -l)" -eq "$atSecond" ] || xs_fail "$how: files were still being copied a second after the stop"
    expect_stopped_copies "$how"
    box=$(xs_wait_window "Quillstow") || xs_fail "$how: the stopped run said nothing"
    if [ "$how" = Esc ]; then xs_screenshot "$box" "$SHOTS/backup-stopped.png"; fi
    xs_key "$box" Return
    xs_close "$PANEL"
    wait_app_end "closing the control panel after a stopped run"
}
for how in Esc Stop close; do
    xs_log "5b. a long run stopped by $how"
    stop_from_progress "$how"
done

# The session ends during a run: it stops, the list is saved (the scribble
# goes), the program exits; a second signal changes nothing of that.
# A second signal comes while the first is still stopping the run; one that
# comes once the list is saved and the program is on its way out ends it
# as the system's default would (status 143).
session_ends_in_run() {
    local what=$1 t0 ms status=0
    shift
    t0=$(now_ms)
    kill -"$1" "$APP_PID"
    if [ $# -gt 1 ]; then
        sleep 0.05
        kill -"$2" "$APP_PID" 2>/dev/null || xs_log "$what: the program had exited before the second signal"
        status="0|143"
    fi
    wait_app_end "$what" "$status"
    ms=$(($(now_ms) - t0))
    xs_log "$what: the program exited ${ms} ms after the signal"
    [ "$ms" -le 3000 ] || xs_fail "$what: the program took $ms ms to exit"
    sd_make "$T/long.dat" "$(dos "$STOPPED")\\" "$(dos "$T/many")"
    sd_expect_same "$what: the list is saved" "$T/long.dat" "$SETTINGS"
    expect_stopped_copies "$what"
}
xs_log "5b. SIGTERM as the run starts"
fresh_long_run # Backup NOW was clicked 0.3 s ago
session_ends_in_run "SIGTERM before the progress window" TERM
xs_log "5b. SIGTERM twice as the run starts"
fresh_long_run
session_ends_in_run "SIGTERM twice before the progress window" TERM TERM
xs_log "5b. SIGHUP, then SIGTERM, with the progress window"
fresh_long_run
xs_wait_window "Quillstow" 30 >/dev/null || xs_fail "the long run showed no progress window"
session_ends_in_run "SIGHUP and SIGTERM with the progress window" HUP TERM
cp "$T/imported.dat" "$SETTINGS"

# ==== 6. Shutdown, a closed terminal, the display going away: all save ====
xs_log "6. SIGHUP with a question open"
sd_scribble "$SETTINGS"
start_app
click_files_row0
click_delete
xs_wait_window "Confirm Removal" >/dev/null || xs_fail "Delete Directory asked nothing"
kill -HUP "$APP_PID"
wait_app_end "SIGHUP during Confirm Removal"
sd_expect_same "SIGHUP answers the question as its close box (nothing removed) and saves" \
    "$T/exchange/list.DEXP" "$SETTINGS"

xs_log "6. SIGTERM after a change"
start_app
delete_first_line # PHOTOS goes
kill -TERM "$APP_PID"
wait_app_end "SIGTERM"
sd_expect_same "SIGTERM saves as the close box does" "$T/changed.dat" "$SETTINGS"

# Last: the X server goes, taking the window manager with it. Qt's xcb
# plugin then calls exit(1) without closing any window.
xs_log "6. the X server goes away"
# The plugin exits without tearing the toolkit down: what the toolkit still
# holds then (fontconfig's cache) is no leak of the program's.
NO_LEAK_CHECK=1 start_app
delete_first_line # ANN goes
kill -TERM "${XS_PIDS[0]}"
wait_app_end "the X server going away" 1
grep -q "The X11 connection broke" "$T/app.log" || xs_fail "the program did not end through the broken connection"
sd_make "$T/emptied.dat" 'D:\\'
sd_expect_same "the list is saved when the display goes away" "$T/emptied.dat" "$SETTINGS"

xs_log "passed"
