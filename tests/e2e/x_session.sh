# Sourced by the end-to-end scripts: a private X server with a window manager,
# the steps a person takes in it (click, type, close), and clean-up of every
# process started here. Bash only; needs Xvfb, openbox, xdotool, wmctrl,
# xprop and ImageMagick's import.

XS_PIDS=()      # every process started here, stopped by xs_stop
XS_LOG_DIR=""

xs_log() { printf '[e2e %(%T)T] %s\n' -1 "$*"; }
xs_fail() {
    printf 'FAIL: %s\n' "$*" >&2
    exit 1
}

# Stops what this script started, newest first, by process id.
xs_stop() {
    local i pid
    for ((i = ${#XS_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${XS_PIDS[i]}
        kill -TERM "$pid" 2>/dev/null || continue
        for _ in $(seq 30); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    XS_PIDS=()
}

# Starts Xvfb on a display number it finds free itself, then openbox.
# Returns 77 (after saying why) when no X server can be started.
xs_start() {
    XS_LOG_DIR=$1
    local tool
    if ! command -v Xvfb >/dev/null; then
        echo "SKIP: Xvfb is not installed, so no X server can be started (apt-get install xvfb)"
        return 77
    fi
    for tool in openbox xdotool wmctrl xprop import; do
        command -v "$tool" >/dev/null || xs_fail "$tool is missing; ./dev.sh test installs what the end-to-end test needs"
    done

    : >"$XS_LOG_DIR/display"
    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp -noreset \
        9>"$XS_LOG_DIR/display" >"$XS_LOG_DIR/xvfb.log" 2>&1 &
    XS_PIDS+=($!)
    local xvfb=$!
    for _ in $(seq 100); do
        [ -s "$XS_LOG_DIR/display" ] && break
        kill -0 "$xvfb" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -s "$XS_LOG_DIR/display" ]; then
        echo "SKIP: Xvfb could not be started:"
        cat "$XS_LOG_DIR/xvfb.log"
        return 77
    fi
    export DISPLAY=":$(tr -dc 0-9 <"$XS_LOG_DIR/display")"
    xs_log "Xvfb on $DISPLAY"

    openbox --sm-disable >"$XS_LOG_DIR/openbox.log" 2>&1 &
    XS_PIDS+=($!)
    for _ in $(seq 100); do
        wmctrl -m >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    cat "$XS_LOG_DIR/openbox.log" >&2
    xs_fail "openbox did not come up on $DISPLAY"
}

# Waits for a visible top-level window of that exact title; prints its id.
xs_wait_window() {
    local title=$1 timeout=${2:-10} id
    for _ in $(seq $((timeout * 10))); do
        id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Waits until no visible window of that title is left.
xs_wait_gone() {
    local title=$1 timeout=${2:-10}
    for _ in $(seq $((timeout * 10))); do
        xdotool search --onlyvisible --name "^${title}\$" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    return 1
}

xs_activate() {
    xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus --sync "$1"
    sleep 0.2
}

# Clicks at a point given in pixels inside the window's client area.
xs_click() {
    local id=$1 x=$2 y=$3
    xs_activate "$id"
    xdotool mousemove --window "$id" "$x" "$y"
    sleep 0.1
    xdotool click 1
    sleep 0.3
}

# Keys to the focused window of the given one ("ctrl+e", "Return", "End").
xs_key() {
    local id=$1
    shift
    xs_activate "$id"
    xdotool key --clearmodifiers "$@"
    sleep 0.3
}

xs_type() {
    xs_activate "$1"
    xdotool type --delay 10 -- "$2"
    sleep 0.2
}

# The close box, as the window manager sends it.
xs_close() {
    wmctrl -i -c "$1"
}

# The client area's height in pixels.
xs_height() {
    xdotool getwindowgeometry --shell "$1" | sed -n 's/^HEIGHT=//p'
}

# A picture of one window with its frame, for the README and for a look.
xs_screenshot() {
    local id=$1 file=$2
    sleep 0.3
    import -frame -window "$id" "$file" 2>/dev/null || import -window "$id" "$file"
    xs_log "screenshot $file"
}
