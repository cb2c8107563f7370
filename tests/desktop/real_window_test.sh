#!/usr/bin/env bash
# Drives one whole run of the desktop program in a real X window, as a user would: the
# program starts on its own X server (Xvfb), the folder dialog opens the generated site's
# folder with the HTML-only filter on, two of its three pages are selected in the main
# window, Process is clicked and both message boxes are answered, and File, Exit ends the
# program. The keys and clicks come from xdotool; the main window is photographed after the
# run. Then every file of the site is compared byte for byte with what it must hold, and
# the settings file with what the run and the exit must have stored.
#
# usage: real_window_test.sh PROGRAM ARTIFACTS-FOLDER [WORK-FOLDER]
#
# ARTIFACTS-FOLDER receives main-window.png (the main window after the run), the other
# screenshots taken on the way, the program's output and, when a step fails, screen.png
# (the whole screen at that moment). The user's own settings are never touched: the
# program runs with a home, configuration and data folder of its own, in a new temporary
# folder, or in WORK-FOLDER, which must not exist yet (a fixed one gives the same picture
# each time). It is removed at the end.

set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: $0 PROGRAM ARTIFACTS-FOLDER [WORK-FOLDER]" >&2
    exit 2
fi
program="$(realpath "$1")"
artifacts="$2"
work_folder="${3:-}"
work=""

# shellcheck source=SCRIPTDIR/../support/x_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/x_session.sh"
test_name="real window test"
on_exit() {
    if [ -n "$work" ]; then
        rm -rf "$work"
    fi
}

need_tools Xvfb xdotool import identify timeout cmp
if [ ! -x "$program" ]; then
    fail "the program $program does not exist or cannot be run"
fi
mkdir -p "$artifacts"
rm -f "$artifacts"/*.png "$artifacts/program-output.txt"
screen_on_failure="$artifacts/screen.png"

if [ -n "$work_folder" ]; then
    if ! mkdir "$work_folder"; then
        fail "cannot make the work folder $work_folder (it must not exist yet)"
    fi
    work="$(realpath "$work_folder")"
else
    work="$(mktemp -d /tmp/reririDuruv-desktop.XXXXXX)"
fi
home="$work/home"
site="$home/hillside"
mkdir -p "$home" "$site" "$work/expected" "$work/runtime"
chmod 700 "$work/runtime"

# ---------------------------------------------------------------------------------------
# The site: two include files, three pages with stale blocks, and files the HTML-only
# filter keeps out of the list. An opening tag's line is kept up to its ">", the include
# file's lines follow with the page's line ends, then the closing tag's line.

begin "writing the site"
printf '\n<header><h1>Hillside Allotments</h1></header>\n' >"$site/header.inc"
printf '\r\n<nav><a href="index.htm">Home</a> | <a href="about.html">About</a></nav>\r\n' \
    >"$site/menu.inc"
printf 'body { font-family: serif; }\n' >"$site/style.css"

# index.htm: CR+LF line ends, two blocks, selected.
printf '%s\r\n' '<html><head><title>Home</title></head><body>' \
    '<reririduruv=header.inc>' '<header>old header</header>' '</reririduruv>' \
    '<reririduruv=menu.inc>' '<nav>old menu</nav>' 'more old menu' '</reririduruv>' \
    '<p>Plots are free again this spring.</p>' '</body></html>' >"$site/index.htm"
printf '%s\r\n' '<html><head><title>Home</title></head><body>' \
    '<reririduruv=header.inc>' '<header><h1>Hillside Allotments</h1></header>' \
    '</reririduruv>' '<reririduruv=menu.inc>' \
    '<nav><a href="index.htm">Home</a> | <a href="about.html">About</a></nav>' \
    '</reririduruv>' '<p>Plots are free again this spring.</p>' '</body></html>' \
    >"$work/expected/index.htm"

# about.html: LF line ends, one block with tags in another letter case and text after the
# closing tag, selected.
printf '%s\n' '<html><body>' '<REriRIDURUV=menu.inc>' '<nav>old menu</nav>' \
    '</reririDURUV> <!-- menu -->' '<p>Founded 1962.</p>' '</body></html>' >"$site/about.html"
printf '%s\n' '<html><body>' '<REriRIDURUV=menu.inc>' \
    '<nav><a href="index.htm">Home</a> | <a href="about.html">About</a></nav>' \
    '</reririDURUV> <!-- menu -->' '<p>Founded 1962.</p>' '</body></html>' \
    >"$work/expected/about.html"

# contact.htm: a stale block as well, but not selected, so it must stay as it is.
printf '%s\r\n' '<html><body>' '<reririduruv=menu.inc>' 'stale menu' '</reririduruv>' \
    '<p>Write to the secretary.</p>' '</body></html>' >"$site/contact.htm"

for file in header.inc menu.inc style.css contact.htm; do
    cp "$site/$file" "$work/expected/$file"
done

# ---------------------------------------------------------------------------------------
# The X server and the program

begin "starting the X server (Xvfb)"
start_x_server "$work"

begin "starting the program"
program_output="$artifacts/program-output.txt"
# The program finds the site below its current folder, as a user's home holds their sites.
(
    cd "$home"
    export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
    export XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$work/runtime"
    # Nothing of the desktop the test was started from: no session bus, input method,
    # style or scaling of its own.
    unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER WAYLAND_DISPLAY QT_IM_MODULE XMODIFIERS \
        QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS \
        QT_AUTO_SCREEN_SCALE_FACTOR QT_ENABLE_HIGHDPI_SCALING QT_FONT_DPI
    exec env QT_QPA_PLATFORM=xcb "$program"
) >"$program_output" 2>&1 &
program_pid=$!
settings_file="$home/.config/reririDuruv/settings.ini"

# Photographs window $1 into $2 once two shots in a row agree, so that a repaint that is
# still under way is not what gets kept.
photograph() {
    local id="$1" target="$2" previous="" current
    for _ in $(seq 1 50); do
        # Without the time chunks the same picture gives the same file.
        if ! import -window "$id" -define png:exclude-chunks=date,time "$work/shot.png" \
            2>"$work/import.log"; then
            cat "$work/import.log" >&2
            fail "import could not photograph window $id"
        fi
        current="$(identify -format '%#' "$work/shot.png")"
        if [ "$current" = "$previous" ]; then
            mv "$work/shot.png" "$target"
            return 0
        fi
        previous="$current"
        sleep 0.2
    done
    fail "window $id kept changing for 10 s; no steady picture of it"
}

begin "waiting for the main window"
wait_main_window
if ! geometry="$(xdotool getwindowgeometry --shell "$main")"; then
    fail "xdotool could not read the main window's geometry"
fi
eval "$geometry"
echo "   main window $main: ${WIDTH}x${HEIGHT} at $X,$Y"
# The window's controls keep their designed places in a 505 x 326 area below the menu bar.
menu_bar_height=$((HEIGHT - 326))
if [ "$WIDTH" -ne 505 ] || [ "$menu_bar_height" -lt 10 ] || [ "$menu_bar_height" -gt 80 ]; then
    fail "the main window is ${WIDTH}x${HEIGHT}, not 505 pixels wide with a menu bar above a 326 pixels high area"
fi
top="$menu_bar_height"

# ---------------------------------------------------------------------------------------
# Step 1: the folder

begin "opening the folder dialog with the Select path button"
click "$main" 20 $((top + 20))
wait_window "Select Folder" "the folder dialog did not open"
dialog="$window"

begin "opening the site's folder in the folder dialog"
# The directory list has the focus and shows the folders from the root down to the
# current one (the home folder), then its sub-folders. Typing the site's name highlights
# it, Enter opens it.
focus "$dialog"
if ! timeout 10 xdotool type --delay 100 hillside; then
    fail "xdotool could not type the folder's name"
fi
press Return

begin "switching the HTML-only filter on and pressing OK"
click "$dialog" 40 36
# The files of the opened folder, filtered, show in the dialog's preview list.
photograph "$dialog" "$artifacts/folder-dialog.png"
click "$dialog" 376 20
wait_gone "$dialog" "the folder dialog"

# ---------------------------------------------------------------------------------------
# Step 2: the pages. The available-files list shows about.html, contact.htm and index.htm;
# a click selects the first, Ctrl+Down moves on without selecting, Ctrl+Space adds the
# third.

begin "selecting about.html and index.htm in the available-files list"
click "$main" 60 $((top + 99 + 8))
focus "$main"
press ctrl+Down ctrl+Down ctrl+space

# ---------------------------------------------------------------------------------------
# Step 3: Process, and the message boxes

begin "clicking Process"
click "$main" 44 $((top + 20))
# The program asks "No files selected. Process all?" instead when the selection was lost.
confirmation_shown() {
    if [ -n "$(visible_windows "No files selected")" ]; then
        fail "no page was selected: the program asks \"No files selected. Process all?\""
    fi
    find_window "Are you sure?"
}
poll "$window_timeout" confirmation_shown ||
    fail "the confirmation \"Process selected file(s)?\" did not appear within $window_timeout s"
box="$window"

begin "answering OK to \"Process selected file(s)?\""
photograph "$box" "$artifacts/confirmation.png"
focus "$box"
press Return
wait_gone "$box" "the confirmation box"

begin "answering the closing message box"
# The closing "Done!" box carries the program's title, as a problem report would: a second
# box after the first means the first reported a problem.
boxes=0
poll "$window_timeout" find_message_box ||
    fail "no closing message box (\"Done!\") appeared within $window_timeout s"
while :; do
    box="$window"
    boxes=$((boxes + 1))
    photograph "$box" "$artifacts/message-box-$boxes.png"
    focus "$box"
    press Return
    wait_gone "$box" "message box $boxes"
    # Another box would follow at once; none is to come after "Done!".
    poll 3 find_message_box || break
done
if [ "$boxes" -gt 1 ]; then
    fail "the run showed $boxes message boxes instead of \"Done!\" alone: the others reported problems (see $artifacts/message-box-*.png)"
fi

begin "photographing the main window after the run"
photograph "$main" "$artifacts/main-window.png"
colours="$(identify -format '%k' "$artifacts/main-window.png")"
size="$(identify -format '%wx%h' "$artifacts/main-window.png")"
if [ "$size" != "${WIDTH}x${HEIGHT}" ] || [ "$colours" -lt 16 ]; then
    fail "the screenshot is ${size} with $colours colours: not a picture of the main window"
fi
echo "   $artifacts/main-window.png"

# ---------------------------------------------------------------------------------------
# Leaving by File, Exit stores the options.

begin "ending the program with File, Exit"
open_menu "File" 20 $((top / 2))
# The opened menu takes the keys: Up reaches its last entry, Exit.
press Up Return
wait_exit "File, Exit"

# ---------------------------------------------------------------------------------------
# What the run left behind

begin "checking the site byte for byte"
for file in about.html index.htm contact.htm header.inc menu.inc style.css; do
    if ! cmp "$work/expected/$file" "$site/$file"; then
        echo "expected:" >&2
        od -c "$work/expected/$file" | head -n 40 >&2
        echo "found:" >&2
        od -c "$site/$file" | head -n 40 >&2
        fail "$file does not hold what the run must have left in it"
    fi
done
left="$(cd "$site" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort | tr '\n' ' ')"
if [ "$left" != "about.html contact.htm header.inc index.htm menu.inc style.css " ]; then
    fail "the site folder holds \"$left\": a temporary file or backup was left behind"
fi

begin "checking the settings the program stored"
if [ ! -f "$settings_file" ]; then
    fail "the program wrote no settings file at $settings_file"
fi
for expectation in "html=1" "backup=False" "errmsgoff=False" 'recent files\0=1' \
    "recent files\\1=$site/"; do
    expect_setting "Software\\reririDuruv\\${expectation%%=*}" "${expectation#*=}"
done

echo "real window test: passed (screenshot: $artifacts/main-window.png)"
