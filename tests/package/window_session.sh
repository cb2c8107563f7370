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

# shellcheck source=SCRIPTDIR/../support/x_session.sh
source "$here/../support/x_session.sh"
test_name="window session"
session=0

need_tools Xvfb xdotool xprop python3 timeout

mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home"
export XDG_CONFIG_HOME="$work/home/config"
export XDG_DATA_HOME="$work/home/data"
export XDG_CACHE_HOME="$work/home/cache"
export XDG_RUNTIME_DIR="$work/runtime"
# The test command runs everything else offscreen; this window is a real X11 one.
export QT_QPA_PLATFORM=xcb
settings_file="$XDG_CONFIG_HOME/reririDuruv/settings.ini"
error_log="$XDG_DATA_HOME/reririDuruv/error.log"

begin "starting the X server (Xvfb)"
start_x_server "$work"

# ---------------------------------------------------------------------------------------
# Driving the program

start_program() {
    session=$((session + 1))
    program_output="$work/program-$session.out"
    "$program" >"$program_output" 2>&1 &
    program_pid=$!
    wait_main_window
}

# Opens the File menu at the left of the menu bar and then presses the given keys: the open
# menu takes them, Right moves on to the Options menu with its first entry highlighted, and
# Up from no entry highlights the last one. The main window gets the focus first, as a
# window manager would give it on the click.
menu_keys() {
    focus "$main"
    open_menu File 15 9
    press "$@"
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
[ ! -e "$settings_file" ] || fail "a settings file is there before the first start"
menu_keys Right Return
menu_keys Up Return
wait_exit "File, Exit"

begin "first start: the options were stored"
[ -f "$settings_file" ] || fail "no settings file $settings_file after the program ended"
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
    'Software\reririDuruv\recent files\1' "$site/" >>"$settings_file"
touch "$work/started"
start_program

echo "   Options, Error msgs off"
menu_keys Right Down Return
echo "   File, Recent folders..., and a double-click on the folder"
menu_keys Down Down Down Return
wait_window "Recent Folders" "the Recent Folders dialog did not open"
recent="$window"
wait_focus "$recent"
click "$recent" 60 40 2
wait_gone "$recent" "the Recent Folders dialog"
echo "   Process (the main window's default button), confirmed twice"
wait_focus "$main"
press Return
wait_window "Error Message Off" \
    "the question \"Error Messages Off option is active. Continue?\" did not appear"
wait_focus "$window"
press Return
wait_window "No files selected" \
    "the question \"No files selected. Process all?\" did not appear"
wait_focus "$window"
press Return
echo "   the closing message"
wait_message_box
box="$window"
wait_focus "$box"
press Return
wait_gone "$box" "the closing message box"
echo "   File, Exit"
menu_keys Up Return
wait_exit "File, Exit"

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
