# shellcheck shell=bash
# Shared by the tests that drive the desktop program in a real X window: the X server of
# their own (Xvfb), step reporting with loud failures, waits for the program's windows and
# for its end, keys and clicks through xdotool, and the settings the program stored.
#
# A test script sources this file once it has read its arguments, then:
#   - sets test_name (the start of its messages), and may set screen_on_failure (where a
#     picture of the whole screen goes when a step fails) and define on_exit (what it
#     cleans up itself, after the program and the X server have been stopped);
#   - calls need_tools with the commands it runs, begin before each step, and
#     start_x_server with a folder for the server's display number and log;
#   - starts the program in the background, with program_pid set to its process and
#     program_output to the file that receives what it prints;
#   - sets settings_file to where the program stores its settings, to read them back.
#
# The window helpers set window to the id of the window they found. Every wait ends with a
# failure when the program ends meanwhile.

# Waits are generous: a loaded two-core machine may take seconds to map a window.
readonly window_timeout=30

test_name="window test"
step="checking the tools"
program_pid=""
program_output=""
xvfb_pid=""
screen_on_failure=""
settings_file=""
failure_reported=""
main=""
window=""
exit_status=""

x_session_cleanup() {
    local status=$?
    # A command that failed outside the checks still names the step it broke.
    if [ "$status" -ne 0 ] && [ -z "$failure_reported" ]; then
        echo "$test_name: FAILED at step \"$step\": a command failed (exit status $status)" >&2
    fi
    if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
        kill "$program_pid" 2>/dev/null || true
        wait "$program_pid" 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    if declare -F on_exit >/dev/null; then
        on_exit
    fi
}
trap x_session_cleanup EXIT

# Reports the step that broke with the reason given, what the screen shows and what the
# program printed, and ends the test.
fail() {
    failure_reported=yes
    echo "$test_name: FAILED at step \"$step\": $*" >&2
    if [ -n "$xvfb_pid" ] && [ -n "${DISPLAY:-}" ]; then
        echo "$test_name: windows on the screen at that moment:" >&2
        local id
        for id in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
            echo "    $id \"$(xdotool getwindowname "$id" 2>/dev/null)\"" >&2
        done
        if [ -n "$screen_on_failure" ]; then
            if import -window root "$screen_on_failure" 2>/dev/null; then
                echo "$test_name: the screen at that moment is in $screen_on_failure" >&2
            fi
        fi
    fi
    if [ -n "$program_output" ] && [ -s "$program_output" ]; then
        echo "$test_name: the program printed:" >&2
        sed 's/^/    /' "$program_output" >&2
    fi
    exit 1
}

begin() {
    step="$1"
    echo "-- $step"
}

need_tools() {
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null; then
            fail "$tool is not installed (bash scripts/install-deps.sh installs it)"
        fi
    done
}

# Runs the command given every tenth of a second until it succeeds; returns 1 when it has
# not within $1 seconds.
poll() {
    local seconds="$1"
    shift
    for _ in $(seq $((seconds * 10))); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# ---------------------------------------------------------------------------------------
# The X server

# Whether Xvfb has written its display number into $1/display; fails when it has ended.
x_server_ready() {
    grep -q '^[0-9][0-9]*$' "$1/display" 2>/dev/null && return 0
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        cat "$1/xvfb.log" >&2
        xvfb_pid=""
        fail "Xvfb ended at once (its output is above)"
    fi
    return 1
}

# Starts Xvfb and sets DISPLAY to it. Xvfb picks a free display itself and writes its
# number into $1/display once it accepts connections, so tests that run at the same time
# never race for one.
start_x_server() {
    local folder="$1"
    # Until our own server answers, nothing may reach the display the test was started from.
    unset DISPLAY
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$folder/display" \
        >"$folder/xvfb.log" 2>&1 &
    xvfb_pid=$!
    poll 20 x_server_ready "$folder" || fail "Xvfb did not report its display within 20 s"
    DISPLAY=":$(cat "$folder/display")"
    export DISPLAY
    echo "   display $DISPLAY"
}

# ---------------------------------------------------------------------------------------
# The program's windows

check_program_running() {
    local status
    if [ -z "$program_pid" ]; then
        fail "the program is not running"
    fi
    if ! kill -0 "$program_pid" 2>/dev/null; then
        wait "$program_pid" && status=0 || status=$?
        program_pid=""
        fail "the program ended unexpectedly with exit status $status"
    fi
}

# Every visible window titled exactly $1 (xdotool takes the title as a regular expression,
# so its special characters are escaped).
visible_windows() {
    local pattern
    pattern="$(printf '%s' "$1" | sed 's/[][\\.^$*+?(){}|]/\\&/g')"
    xdotool search --onlyvisible --name "^${pattern}\$" 2>/dev/null || true
}

# Sets window to the first visible window titled exactly $1; returns 1 when there is none.
find_window() {
    window="$(visible_windows "$1" | head -n 1)"
    [ -n "$window" ] && return 0
    check_program_running
    return 1
}

# Sets window to the first visible window titled exactly $1, waiting for it to appear.
# Fails with $2 as the reason when none appears in time.
wait_window() {
    local title="$1" reason="$2"
    poll "$window_timeout" find_window "$title" ||
        fail "$reason (no window titled \"$title\" within $window_timeout s)"
}

# Sets main to the main window, waiting for it to appear.
wait_main_window() {
    wait_window reririDuruv "the main window did not appear"
    main="$window"
}

# Sets window to the first visible window titled "reririDuruv" other than the main window:
# a message box with the program's title. Returns 1 when there is none.
find_message_box() {
    window="$(visible_windows reririDuruv | grep -vx "$main" | head -n 1)" || true
    [ -n "$window" ] && return 0
    check_program_running
    return 1
}

# Sets window to the first message box with the program's title, waiting for it to appear.
wait_message_box() {
    poll "$window_timeout" find_message_box ||
        fail "no message box titled \"reririDuruv\" appeared within $window_timeout s"
}

window_gone() {
    ! xdotool search --onlyvisible --name '' 2>/dev/null | grep -qx "$1"
}

# Waits until window $1 is no longer on screen; $2 says what it is.
wait_gone() {
    poll "$window_timeout" window_gone "$1" || fail "$2 stayed on screen for $window_timeout s"
}

has_focus() {
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]
}

# Waits until window $1 has the keyboard focus. Keys go to the window that has it; the
# program gives it to each window it opens, so a key is sent only once that has happened.
wait_focus() {
    poll "$window_timeout" has_focus "$1" ||
        fail "window $1 did not get the keyboard focus within $window_timeout s"
}

# Gives window $1 the keyboard focus, as a click on it would.
focus() {
    if ! timeout 10 xdotool windowfocus --sync "$1"; then
        fail "window $1 did not take the keyboard focus"
    fi
}

# Presses the keys named, in the window that has the keyboard focus.
press() {
    if ! timeout 10 xdotool key --delay 100 "$@"; then
        fail "xdotool could not press $*"
    fi
}

# Clicks at x, y within window $1 ($4 times, once when not given), then moves the pointer
# out of the way so that no tooltip covers the windows.
click() {
    if ! timeout 10 xdotool mousemove --sync --window "$1" "$2" "$3" \
        click --repeat "${4:-1}" --delay 100 1 ||
        ! timeout 10 xdotool mousemove --sync 0 0; then
        fail "xdotool could not click at $2,$3 in window $1"
    fi
}

# Whether the program has ended; sets exit_status to its exit status when it has.
program_ended() {
    kill -0 "$program_pid" 2>/dev/null && return 1
    wait "$program_pid" && exit_status=0 || exit_status=$?
    program_pid=""
}

program_windows() {
    xdotool search --onlyvisible --pid "$program_pid" 2>/dev/null | wc -l
}

more_program_windows_than() {
    [ "$(program_windows)" -gt "$1" ]
}

# Opens the menu named $1 with a click on its title at x, y in the main window (the menus
# have no access keys) and waits until it shows: one window more of the program.
open_menu() {
    local before
    before="$(program_windows)"
    click "$main" "$2" "$3"
    poll "$window_timeout" more_program_windows_than "$before" ||
        fail "the $1 menu did not open within $window_timeout s"
}

# Waits until the program has ended after $1 (what ends it) and checks that it ended well.
wait_exit() {
    poll "$window_timeout" program_ended ||
        fail "the program was still running $window_timeout s after $1"
    if [ "$exit_status" -ne 0 ]; then
        fail "the program ended with exit status $exit_status"
    fi
}

# ---------------------------------------------------------------------------------------
# The settings the program stored

# The stored text of a key: the String line under [KEY], as the program writes them, one
# line for each time the key is there.
setting() {
    # The key goes through the environment: awk -v would read its backslashes as escapes.
    SECTION="[$1]" awk '
        $0 == ENVIRON["SECTION"] { inside = 1; next }
        /^\[/ { inside = 0 }
        inside && index($0, "String=") == 1 { print substr($0, 8) }' "$settings_file"
}

expect_setting() {
    local key="$1" expected="$2" stored
    stored="$(setting "$key")"
    if [ "$stored" != "$expected" ]; then
        cat "$settings_file" >&2
        fail "the setting \"$key\" holds \"$stored\", not \"$expected\""
    fi
}
