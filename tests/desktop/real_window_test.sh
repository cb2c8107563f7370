#!/usr/bin/env bash
# One whole run of the built program in a real window, driven from the keyboard as a user
# drives it: Select path, OK in the folder dialog, Process, "Process all", "Done!", File,
# Exit. Then every page is checked byte for byte, and the settings stored.
#   real_window_test.sh PROGRAM SHOTS-FOLDER
program="$(realpath "$1")"
shots="$2"
test_name="real window test"
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/x_session.sh"
mkdir -p "$shots"
work="$(mktemp -d /tmp/reririDuruv-desktop.XXXXXX)"
site="$work/hillside"
mkdir -p "$site" "$work/runtime"
chmod 700 "$work/runtime"

begin "writing the site"
printf '<nav>Home | About</nav>\r\n' >"$site/menu.inc"
printf '<html>\r\n<reririduruv=menu.inc>\r\nold menu\r\n</reririduruv>\r\n</html>\r\n' >"$site/index.htm"
printf '<html>\n<REriRIDURUV=menu.inc>\n</reririDURUV> <!-- menu -->\n</html>\n' >"$site/about.html"

begin "starting the program in the site's folder"
start_x_server "$work"
(cd "$site" && HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb exec "$program") >"$work/output" 2>&1 &
program_pid=$!
wait_window reririDuruv
main="$window"

begin "Enter on Select path, then Tab, Tab and Enter on the folder dialog's OK"
keys "$main" Return
wait_window "Select Folder"
keys "$window" Tab Tab Return

begin "Enter on Process, Enter on \"Process all?\""
keys "$main" Return
wait_window "No files selected"
keys "$window" Return

begin "Enter on the closing message box"
wait_window reririDuruv "$main"
keys "$window" Return
photograph "$main" "$shots/main-window.png"

begin "File, Exit"
xdotool mousemove --window "$main" 20 10 click 1
sleep 0.5
xdotool key Up Return
poll 30 bash -c "! kill -0 $program_pid 2>/dev/null" || fail "the program did not end"
wait "$program_pid" || fail "the program ended with exit status $?"
program_pid=""

begin "checking the site and the settings"
expected_index=$'<html>\r\n<reririduruv=menu.inc><nav>Home | About</nav>\r\n</reririduruv>\r\n</html>\r\n'
expected_about=$'<html>\n<REriRIDURUV=menu.inc><nav>Home | About</nav>\n</reririDURUV> <!-- menu -->\n</html>\n'
[ "$(cat "$site/index.htm"; echo .)" = "$expected_index." ] || fail "index.htm: $(od -c "$site/index.htm")"
[ "$(cat "$site/about.html"; echo .)" = "$expected_about." ] || fail "about.html: $(od -c "$site/about.html")"
[ "$(ls -A "$site" | tr '\n' ' ')" = "about.html index.htm menu.inc " ] || fail "left: $(ls -A "$site")"
grep -qxF "String=$site/" "$work/config/reririDuruv/settings.ini" || fail "no recent folder stored"
rm -rf "$work"
echo "$test_name: passed (pictures in $shots)"
