#!/usr/bin/env bash
# Builds the page-pass fuzz target with clang in build-fuzz and runs it for the given
# number of seconds (default 60) on a scratch copy of fuzz/corpus, so the committed corpus
# never grows. Fails when the fuzzer finds a crash or a broken invariant; the input that
# did it is kept in build-fuzz/artifacts/ and shown as a hex dump.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
build="$root/build-fuzz"

if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ not found (Debian: apt-get install clang libclang-rt-14-dev)" >&2
    exit 1
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DRERIRIDURUV_FUZZ=ON -DRERIRIDURUV_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target page_pass_fuzz

# The target's scratch folders go below one folder of this run, in memory where possible.
scratch_parent=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    scratch_parent=/dev/shm
fi
work="$(mktemp -d "$scratch_parent/reririduruv-fuzz-run.XXXXXX")"
trap 'rm -rf "$work"' EXIT
rm -rf "$build/artifacts"
mkdir -p "$work/corpus" "$work/tmp" "$build/artifacts"
cp "$root"/fuzz/corpus/* "$work/corpus/"

echo "== Fuzzing the page pass for ${seconds}s"
status=0
TMPDIR="$work/tmp" "$build/fuzz/page_pass_fuzz" \
    -max_total_time="$seconds" -timeout=30 -max_len=4096 -print_final_stats=1 \
    -dict="$root/fuzz/page_pass.dict" -artifact_prefix="$build/artifacts/" \
    "$work/corpus" >"$work/fuzz.log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    # The report starts at the broken invariant or the sanitizer's error.
    sed -n '/invariant violated\|ERROR:/,$p' "$work/fuzz.log" | head -n 80 >&2
    echo "fuzz: FAILED (exit status $status)" >&2
    for artifact in "$build"/artifacts/*; do
        [ -f "$artifact" ] || continue
        echo "-- $artifact" >&2
        od -An -c "$artifact" | head -n 40 >&2
    done
    exit 1
fi
if ! grep -q "Done [0-9]* runs" "$work/fuzz.log"; then
    echo "fuzz: the fuzzer did not report a finished run" >&2
    exit 1
fi
tail -n 8 "$work/fuzz.log"
echo "fuzz: no problem found"
