#!/usr/bin/env bash
# Installs what is missing, builds reririDuruv and runs every test: the normal build with
# warnings as errors, the same tests under AddressSanitizer and UndefinedBehaviorSanitizer,
# the engine's and the command line's under ThreadSanitizer (the run flushes pages on
# threads of its own), and a short run of the fuzz target.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
"$root/scripts/install-deps.sh"

echo "== Build and test"
"$root/scripts/build.sh" build -DRERIRIDURUV_WERROR=ON
ctest --test-dir "$root/build" --output-on-failure -j"$(nproc)"

echo "== Build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
"$root/scripts/build.sh" build-asan -DRERIRIDURUV_WERROR=ON -DRERIRIDURUV_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "$root/build-asan" --output-on-failure -j"$(nproc)"

echo "== Build and test the engine and the command line under ThreadSanitizer"
"$root/scripts/build.sh" build-tsan -DRERIRIDURUV_WERROR=ON -DRERIRIDURUV_TSAN=ON -DRERIRIDURUV_GUI=OFF
TSAN_OPTIONS="halt_on_error=1 exitcode=66" ctest --test-dir "$root/build-tsan" --output-on-failure -j"$(nproc)"

echo "== Fuzz the page pass"
"$root/scripts/fuzz.sh" 60
