#!/usr/bin/env bash
# Makes docs/main-window.png afresh: builds the desktop program in FOLDER (default build),
# drives one run in a real window under Xvfb with the desktop test and keeps that test's
# picture of the main window after the run.
#   bash scripts/screenshot.sh [FOLDER]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
folder="${1:-build}"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/$folder" -j"$(nproc)" --target reririduruv

artifacts="$(mktemp -d /tmp/reririDuruv-shots.XXXXXX)"
trap 'rm -rf "$artifacts"' EXIT
bash "$root/tests/desktop/real_window_test.sh" "$root/$folder/app/reririduruv" "$artifacts"
mkdir -p "$root/docs"
cp "$artifacts/main-window.png" "$root/docs/main-window.png"
echo "docs/main-window.png written"
