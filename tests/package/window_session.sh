#!/usr/bin/env bash
# Runs the installed window on an X server of its own (Xvfb) and drives it with xdotool, as
# a user would, in two sessions:
#
# 1. First start: the main window is shown under its title, with the X11 window class that
#    the desktop entry names and, as its icon, exactly the pictures of the installed icon
#    theme; Options, "Backup originals" is chosen and File, "Exit" ends the program, which
#    stores the options in the user's settings file.
# 2. A problem goes to the error log: Options, "Error msgs off" is chosen, a folder is
#    taken from File, "Recent folders...", and Process runs over a page whose include
#    file is missing. The problem must be appended to error.log in the user's data folder
#    ($XDG_DATA_HOME/reririDuruv), and nothing may appear beside the program or anywhere
#    in the installation, also when the program runs as root.
#
# usage: window_session.sh PROGRAM INSTALL-ROOT WORK-FOLDER SOURCE-FOLDER
#
# INSTALL-ROOT is "/" for a package installed into the machine, or the scratch root it was
# unpacked into; the desktop entry and the icons are read below it. Home, configuration
# and data folders are made inside WORK-FOLDER.

set -euo pipefail

if [ $# -ne 4 ]; then
    echo "usage: $0 PROGRAM INSTALL-ROOT WORK-FOLDER SOURCE-FOLDER" >&2
    exit 2
fi
program="$1"
install_root="${2%/}"
work="$3"
source_dir="$4"
here="$(cd "$(dirname "$0")" && pwd)"

# Waits are generous: a loaded two-core machine may take seconds to map a window.
readonly window_timeout=30

step="starting the X server (Xvfb)"
program_pid=""
xvfb_pid=""
session=0

cleanup() {
    if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
        kill "$program_pid" 2>/dev/null || true
        wait "$program_pid" 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

fail() {
    echo "window session: FAILED at step \"$step\": $*" >&2
    if [ -n "$xvfb_pid" ] && [ -n "${DISPLAY:-}" ]; then
        echo "window session: windows on the screen at that moment:" >&2
        for window in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
            echo "    $window \"$(xdotool getwindowname "$window" 2>/dev/null)\"" >&2
        done
    fi
    if [ "$session" -gt 0 ] && [ -s "$work/program-$session.out" ]; then
        echo "window session: the program printed:" >&2
        sed 's/^/    /' "$work/program-$session.out" >&2
    fi
    exit 1
}

begin() {
    step="$1"
    echo "-- $step"
}

mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home"
export XDG_CONFIG_HOME="$work/home/config"
export XDG_DATA_HOME="$work/home/data"
export XDG_CACHE_HOME="$work/home/cache"
export XDG_RUNTIME_DIR="$work/runtime"
# The test command runs everything else offscreen; this window is a real X11 one.
export QT_QPA_PLATFORM=xcb
settings="$XDG_CONFIG_HOME/reririDuruv/settings.ini"
error_log="$XDG_DATA_HOME/reririDuruv/error.log"

# Xvfb picks a free display itself and writes its number once it accepts connections, so
# tests that run at the same time never race for one.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 200); do
    [ -s "$work/display" ] && break
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        cat "$work/xvfb.log" >&2
        xvfb_pid=""
        fail "Xvfb ended at once (its output is above)"
    fi
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not report its display within 20 s"
DISPLAY=":$(cat "$work/display")"
export DISPLAY

# ---------------------------------------------------------------------------------------
# Driving the program

start_program() {
    session=$((session + 1))
    "$program" >"$work/program-$session.out" 2>&1 &
    program_pid=$!
    main="$(wait_window '^reririDuruv$')"
}

# The first visible window whose name matches, once there is one; the program must not
# end meanwhile.
wait_window() {
    local pattern="$1" found
    for _ in $(seq $((window_timeout * 10))); do
        found="$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n 1)" || true
        if [ -n "$found" ]; then
            echo "$found"
            return
        fi
        kill -0 "$program_pid" 2>/dev/null ||
            fail "the program ended before a window \"$pattern\" showed"
        sleep 0.1
    done
    fail "no window \"$pattern\" showed within ${window_timeout} s"
}

# The first visible window named "reririDuruv" other than the main window: a message box
# with the program's title.
wait_message_box() {
    local window
    for _ in $(seq $((window_timeout * 10))); do
        for window in $(xdotool search --onlyvisible --name '^reririDuruv$' 2>/dev/null); do
            if [ "$window" != "$main" ]; then
                echo "$window"
                return
            fi
        done
        kill -0 "$program_pid" 2>/dev/null || fail "the program ended before its message box showed"
        sleep 0.1
    done
    fail "no message box showed within ${window_timeout} s"
}

wait_gone() {
    local window="$1"
    for _ in $(seq $((window_timeout * 10))); do
        if ! xdotool search --onlyvisible --name '' 2>/dev/null | grep -qx "$window"; then
            return
        fi
        sleep 0.1
    done
    fail "window $window was still shown after ${window_timeout} s"
}

# Keys go to the window that has the keyboard focus; the program gives it to each window it
# opens, so a key is sent only once that has happened.
wait_focus() {
    local window="$1"
    for _ in $(seq $((window_timeout * 10))); do
        [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ] && return
        sleep 0.1
    done
    fail "window $window did not get the keyboard focus within ${window_timeout} s"
}

# Opens the File menu with a click on its title at the left of the menu bar (the menus
# have no access keys) and then presses the given keys: the open menu takes them, Right
# moves on to the Options menu with its first entry highlighted, and Up from no entry
# highlights the last one. The main window gets the focus first, as a window manager would
# give it on the click.
menu_keys() {
    xdotool windowfocus --sync "$main"
    xdotool mousemove --window "$main" 15 9 click 1
    xdotool key --delay 100 "$@"
}

# Waits until the program has ended and checks that it ended well.
wait_exit() {
    local status=0
    for _ in $(seq $((window_timeout * 10))); do
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$program_pid" 2>/dev/null; then
        fail "the program was still running ${window_timeout} s after File, Exit"
    fi
    wait "$program_pid" || status=$?
    program_pid=""
    [ "$status" -eq 0 ] || fail "the program ended with status $status"
}

# The stored text of a key of the settings file: the String line under [KEY].
setting() {
    KEY="[$1]" awk '$0 == ENVIRON["KEY"] { inside = 1; next }
                    /^\[/ { inside = 0 }
                    inside && /^String=/ { print substr($0, 8); exit }' "$settings"
}

expect_setting() {
    local key="$1" expected="$2" stored
    stored="$(setting "$key")"
    [ "$stored" = "$expected" ] ||
        fail "the settings file holds \"$stored\" for $key, not \"$expected\""
}

# ---------------------------------------------------------------------------------------
# Session 1: first start

begin "first start: the main window shows"
start_program
echo "   window $main on display $DISPLAY"

begin "first start: the window class is the desktop entry's"
desktop="$install_root/usr/share/applications/reririduruv.desktop"
wm_class="$(xprop -id "$main" WM_CLASS)"
startup_class="$(sed -n 's/^StartupWMClass=//p' "$desktop")"
[ "$wm_class" = "WM_CLASS(STRING) = \"reririduruv\", \"$startup_class\"" ] ||
    fail "the window's $wm_class, while the desktop entry says StartupWMClass=$startup_class"

begin "first start: the window's icon is the installed icon theme's"
xprop -len 100000000 -id "$main" -notype 32c _NET_WM_ICON >"$work/window-icon.txt"
python3 "$here/window_icon.py" "$work/window-icon.txt" "$install_root/usr/share/icons/hicolor" \
    "$source_dir/scripts" || fail "the window's icon is not the installed one"

begin "first start: Options, Backup originals, then File, Exit"
[ ! -e "$settings" ] || fail "a settings file is there before the first start"
menu_keys Right Return
menu_keys Up Return
wait_exit

begin "first start: the options were stored"
[ -f "$settings" ] || fail "no settings file $settings after the program ended"
expect_setting 'Software\reririDuruv\backup' True
expect_setting 'Software\reririDuruv\errmsgoff' False
[ ! -e "$error_log" ] || fail "an error log was written although nothing went wrong"

# ---------------------------------------------------------------------------------------
# Session 2: a problem goes to the error log

begin "second start: a problem goes to the error log"
site="$work/log-site"
mkdir -p "$site"
printf '<nav>new</nav>\n' >"$site/nav.inc"
printf '%s\n' '<reririduruv=nav.inc>' 'old' '</reririduruv>' >"$site/good.htm"
printf '%s\n' '<reririduruv=gone.inc>' 'old' '</reririduruv>' >"$site/broken.htm"
cp "$site/broken.htm" "$work/broken.htm"
# The folder is offered in the recent-folders list, with the HTML-only filter on, as the
# program itself stores them.
printf '\n[%s]\nString=%s\n' 'Software\reririDuruv\html' 1 \
    'Software\reririDuruv\recent files\0' 1 \
    'Software\reririDuruv\recent files\1' "$site/" >>"$settings"
touch "$work/started"
start_program

echo "   Options, Error msgs off"
menu_keys Right Down Return
echo "   File, Recent folders..., and a double-click on the folder"
menu_keys Down Down Down Return
recent="$(wait_window '^Recent Folders$')"
wait_focus "$recent"
xdotool mousemove --window "$recent" 60 40 click --repeat 2 --delay 100 1
wait_gone "$recent"
echo "   Process (the main window's default button), confirmed twice"
wait_focus "$main"
xdotool key Return
box="$(wait_window '^Error Message Off$')"
wait_focus "$box"
xdotool key Return
box="$(wait_window '^No files selected$')"
wait_focus "$box"
xdotool key Return
echo "   the closing message"
box="$(wait_message_box)"
wait_focus "$box"
xdotool key Return
wait_gone "$box"
echo "   File, Exit"
menu_keys Up Return
wait_exit

begin "second start: the run refreshed the good page and left the broken one"
printf '%s\n' '<reririduruv=nav.inc><nav>new</nav>' '</reririduruv>' >"$work/good.htm"
cmp -s "$site/good.htm" "$work/good.htm" || fail "good.htm holds: $(cat "$site/good.htm")"
cmp -s "$site/broken.htm" "$work/broken.htm" || fail "broken.htm was changed"

begin "second start: nothing was written beside the program or into the installation"
[ ! -e "$(dirname "$program")/error.log" ] || fail "an error log lies beside the program"
[ ! -e "$HOME/.local/share/reririDuruv" ] ||
    fail "the program wrote into $HOME/.local/share although XDG_DATA_HOME is $XDG_DATA_HOME"
written="$(find "$install_root/usr" -newer "$work/started" -print 2>/dev/null | head -n 20)"
[ -z "$written" ] || fail "files in the installation changed while the program ran: $written"
# Nor anywhere else a program might put a log when it gets its folders wrong (as root, the
# real home is /root).
others=()
for folder in /etc /opt /srv /var /root /home "$install_root/usr"; do
    [ -d "$folder" ] && others+=("$folder")
done
strays="$(find "${others[@]}" -name error.log -newer "$work/started" -print 2>/dev/null |
    head -n 20)" || true
[ -z "$strays" ] || fail "an error log appeared outside the user's data folder: $strays"

begin "second start: the error log is in the user's data folder"
[ -f "$error_log" ] || fail "no error log $error_log"
problem=" -Could not locate replacement file ${site}/gone.inc in broken.htm"
tr -d '\r' <"$error_log" | grep -qxF -- "$problem" ||
    fail "the error log does not hold \"$problem\"; it holds: $(cat -A "$error_log")"
tr -d '\r' <"$error_log" | grep -q "^Processing path: ${site}/ - " ||
    fail "the error log has no header line for the run; it holds: $(cat -A "$error_log")"
expect_setting 'Software\reririDuruv\errmsgoff' True
expect_setting 'Software\reririDuruv\backup' True
expect_setting 'Software\reririDuruv\recent files\1' "$site/"

echo "window session: passed (program ran as user $(id -un))"
