# An X server of the script's own (Xvfb) and a program driven in it with xdotool, as a user
# drives it, for the picture scripts and the real-window test. A script sets test_name,
# sources this file and calls start_x_server; every failure names the step and keeps a
# picture of the screen.

set -euo pipefail
step="starting"
program_pid=""
xvfb_pid=""
shots="${shots:-/tmp}"
# Ends the program and the X server, and waits until the server is gone: a server on its
# way down still holds its display's socket, which would cut the next session's server off
# from its clients.
x_session_cleanup() {
    kill $program_pid $xvfb_pid 2>/dev/null || true
    [ -z "$xvfb_pid" ] || wait "$xvfb_pid" 2>/dev/null || true
}
trap x_session_cleanup EXIT

fail() {
    echo "$test_name: FAILED at step \"$step\": $*" >&2
    import -window root "$shots/screen.png" 2>/dev/null && echo "    screen: $shots/screen.png" >&2
    exit 1
}
begin() { step="$1" && echo "-- $step"; }
for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || fail "$tool is missing (bash scripts/install-deps.sh installs it)"
done

# Repeats a command every 0.1 s until it succeeds, for at most $1 seconds.
poll() {
    for ((tries = $1 * 10; tries > 0; tries--)); do
        "${@:2}" && return 0
        sleep 0.1
    done
    return 1
}
start_x_server() {
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$1/display" 2>/dev/null &
    xvfb_pid=$!
    poll 20 grep -q '^[0-9]' "$1/display" || fail "Xvfb reported no display within 20 s"
    export DISPLAY=":$(cat "$1/display")"
    poll 20 xdpyinfo >/dev/null 2>&1 || fail "the X server at $DISPLAY takes no connection"
}
# The visible window titled exactly $1 (but window $2), into $window; fails after 30 s.
wait_window() {
    find() {
        window="$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -vx "${2:-none}" | head -n 1)"
        [ -n "$window" ]
    }
    poll 30 find "$@" || fail "no window titled \"$1\" within 30 s"
}
# Keys pressed in window $1, which gets the focus first.
keys() {
    local id="$1"
    shift
    xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus --sync "$id"
    xdotool key --delay 150 "$@"
    sleep 0.3
}
photograph() {
    sleep 0.5
    import -window "$1" -define png:exclude-chunks=date,time "$2" || fail "no picture of window $1"
}
