#!/usr/bin/env bash
# Pictures of every window of the program as a desktop shows them at its default font:
# the main window, the folder dialog, the recent-folders dialog, the help window, the
# About box and a message box, each from a real X server (Xvfb), into FOLDER.
#   bash scripts/window_shots.sh [BUILD-FOLDER] [FOLDER]
root="$(cd "$(dirname "$0")/.." && pwd)"
program="$(realpath "${1:-$root/build}")/app/reririduruv"
shots="$(realpath -m "${2:-$root/build/window-shots}")"
test_name="window pictures"
source "$root/scripts/x_session.sh"
mkdir -p "$shots"
work="$(mktemp -d /tmp/reririDuruv-shots.XXXXXX)"
trap 'x_session_cleanup; rm -rf "$work"' EXIT
start_x_server "$work"
(cd "$work" && HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    QT_QPA_PLATFORM=xcb exec "$program") >/dev/null 2>&1 &
program_pid=$!
wait_window reririDuruv
main="$window"
photograph "$main" "$shots/main-window.png"

# Opens menu entry $2 of the menu at x = $1 and photographs the window titled $3 as $4.
from_menu() {
    begin "$3"
    xdotool mousemove --window "$main" "$1" 10 click 1
    sleep 0.5
    xdotool key --delay 150 $(printf 'Down %.0s' $(seq "$2")) Return
    wait_window "$3" "$main"
    photograph "$window" "$shots/$4.png"
}
from_menu 20 1 "Select Folder" folder-dialog
keys "$window" Tab Tab Tab Return
from_menu 20 3 "Recent Folders" recent-folders
keys "$window" Tab Return
from_menu 120 1 "reririDuruv Help" help
keys "$window" Return
from_menu 120 2 "About reririDuruv" about
keys "$window" Return
from_menu 20 2 "No files selected" message-box
keys "$window" Escape
echo "pictures in $shots"
