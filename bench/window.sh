#!/usr/bin/env bash
# Benchmarks the main window's batch run (offscreen) against reririduruv-cli on the same
# generated site, in the same run: alternating runs on fresh copies, medians, and the cost
# of letting window events through during a run. Settings through the environment: RUNS
# (default 5), PAGES (default 2000), SIZE_KB (default 40), BENCH_DIR (default $TMPDIR or /tmp).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${RUNS:-5}"
pages="${PAGES:-2000}"
size_kb="${SIZE_KB:-40}"
export QT_QPA_PLATFORM=offscreen

fail() {
    echo "bench: $*" >&2
    exit 1
}

echo "== Building reririduruv-cli and window_bench (Release) in build-bench-window"
log="$(mktemp)"
if ! bash "$root/scripts/build.sh" build-bench-window -DCMAKE_BUILD_TYPE=Release -DRERIRIDURUV_BENCH=ON \
    -DBUILD_TESTING=OFF >"$log" 2>&1; then
    cat "$log" >&2
    fail "the build failed"
fi
rm -f "$log"
cli="$root/build-bench-window/cli/reririduruv-cli"
window="$root/build-bench-window/bench/window_bench"

parent="${BENCH_DIR:-${TMPDIR:-/tmp}}"
work="$(mktemp -d "$parent/reririduruv-window-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
bash "$root/bench/gen_site.sh" "$work/site" "$pages" "$size_kb" >/dev/null
echo "   $pages pages of about $size_kb KB"

now() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.0f\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

fresh() {
    rm -rf "$work/run"
    cp -r "$work/site" "$work/run"
    sync
}

: >"$work/window" && : >"$work/quiet" && : >"$work/cli"
for ((run = 0; run <= runs; run++)); do
    fresh
    window_ns=$("$window" "$work/run")
    grep -q stale "$work/run"/page*.*html && fail "the window left stale blocks"
    fresh
    quiet_ns=$("$window" "$work/run" --no-events)
    fresh
    start=$(now)
    "$cli" "$work/run" >/dev/null
    cli_ns=$(($(now) - start))
    echo "   run $run: window $(seconds "$window_ns") s, window without events $(seconds "$quiet_ns") s, cli $(seconds "$cli_ns") s"
    if [ "$run" -gt 0 ]; then # the first round only warms the caches
        echo "$window_ns" >>"$work/window"
        echo "$quiet_ns" >>"$work/quiet"
        echo "$cli_ns" >>"$work/cli"
    fi
done

w=$(median <"$work/window")
q=$(median <"$work/quiet")
c=$(median <"$work/cli")
echo
echo "median window run               $(seconds "$w") s"
echo "median window run, no events    $(seconds "$q") s"
echo "median reririduruv-cli          $(seconds "$c") s"
echo "window / cli                    $(ratio "$w" "$c")"
echo "window / window without events  $(ratio "$w" "$q")   (target <= 1.10: letting events through costs at most 10%)"
