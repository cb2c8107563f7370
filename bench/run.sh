#!/usr/bin/env bash
# Benchmarks reririduruv-cli: a refresh of a generated site against the floor of any
# durable refresh (every page read, written to a new file, flushed and renamed over it,
# without parsing: one page at a time, and 8 at once so that the flushes overlap) and
# against `cp -r` (wall time, alternating runs on fresh copies), and the peak memory of a
# refresh of very large pages.
# See bench/README.md. Needs cmake, a C++ compiler, CLI11, awk and GNU time
# (Debian: apt-get install build-essential cmake libcli11-dev time).
#
# Environment: RUNS (timed runs of each command, default 7), PAGES (default 2000),
# SIZE_KB (default 40), BIG_MB (size of the large pages, default 200), BENCH_DIR (where the
# sites are made, default a new folder in $TMPDIR or /tmp; it is removed afterwards),
# STRACE=1 (also print the system calls of one refresh, needs strace), CLI (time this
# reririduruv-cli instead of the one built here), BEFORE (also time this reririduruv-cli,
# say an earlier build, in the same alternating runs, and print the two side by side).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${RUNS:-7}"
pages="${PAGES:-2000}"
size_kb="${SIZE_KB:-40}"
big_mb="${BIG_MB:-200}"

# shellcheck source=bench/common.sh
. "$root/bench/common.sh"
build_cli
make_site "$pages" "$size_kb"
page_count=$(find "$site" -maxdepth 1 -type f \( -name '*.html' -o -name '*.shtml' \) | wc -l)

# Writes SOURCE again and again to TARGET until it holds exactly BYTES bytes.
repeat_to() {
    local source="$1" bytes="$2" target="$3" size
    size=$(stat -c %s "$source")
    for ((i = 0; i * size < bytes; i++)); do cat "$source"; done >"$target"
    truncate -s "$bytes" "$target"
}

copy_and_sync() {
    cp -r "$1" "$2"
    find "$2" -type f -exec sync -- {} +
    sync -- "$2" "$2/includes"
}
export -f copy_and_sync

# Each refresh gets a fresh copy of the site, made before its timing starts, so that every
# run rewrites every page from stale blocks. Dirty data of earlier runs is flushed between
# timings.
refresh_copy="$work/refresh"
cp_copy="$work/copy"
: >"$work/refresh.times"
: >"$work/cp.times"
: >"$work/cpsync.times"
: >"$work/refresh.rss"
: >"$work/refresh.cpu"
: >"$work/cp.cpu"
: >"$work/cpsync.cpu"
: >"$work/floor1.times"
: >"$work/floor8.times"
: >"$work/before.times"
before_cli="${BEFORE:-}"
echo "== Timing: refresh vs the durable floor (one page at a time, 8 at once) vs cp -r vs cp -r + fsync,"
echo "   $runs alternating runs each (after one warm-up), each on a fresh copy"
for ((run = 0; run <= runs; run++)); do
    rm -rf "$refresh_copy" "$cp_copy"
    cp -r "$site" "$refresh_copy"
    sync
    measure "$cli" "$refresh_copy"
    ns=$elapsed_ns kb=$peak_kb cpu=$cpu_ns
    if [ "$run" -eq 1 ] && grep -q "stale" "$refresh_copy"/page*.*html; then
        fail "a page still holds stale block content after the refresh"
    fi
    rm -rf "$refresh_copy"
    sync
    if [ -n "$before_cli" ]; then
        cp -r "$site" "$refresh_copy"
        sync
        measure "$before_cli" "$refresh_copy"
        before_ns=$elapsed_ns
        rm -rf "$refresh_copy"
        sync
    fi
    measure cp -r "$site" "$cp_copy"
    cp_ns=$elapsed_ns cp_cpu=$cpu_ns
    rm -rf "$cp_copy"
    sync
    measure bash -c 'copy_and_sync "$1" "$2"' _ "$site" "$cp_copy"
    cpsync_ns=$elapsed_ns cpsync_cpu=$cpu_ns
    rm -rf "$cp_copy"
    sync
    for threads in 1 8; do
        cp -r "$site" "$cp_copy"
        sync
        measure "$floor" "$cp_copy" "$threads"
        eval "floor${threads}_ns=\$elapsed_ns"
        rm -rf "$cp_copy"
        sync
    done
    if [ "$run" -gt 0 ]; then
        echo "$ns" >>"$work/refresh.times"
        echo "$kb" >>"$work/refresh.rss"
        echo "$cp_ns" >>"$work/cp.times"
        echo "$cpsync_ns" >>"$work/cpsync.times"
        echo "$cpu" >>"$work/refresh.cpu"
        echo "$cp_cpu" >>"$work/cp.cpu"
        echo "$cpsync_cpu" >>"$work/cpsync.cpu"
        echo "$floor1_ns" >>"$work/floor1.times"
        echo "$floor8_ns" >>"$work/floor8.times"
        [ -z "$before_cli" ] || echo "$before_ns" >>"$work/before.times"
        echo "   run $run: refresh $(seconds "$ns") s, floor $(seconds "$floor1_ns") s, overlapped floor $(seconds "$floor8_ns") s, cp -r $(seconds "$cp_ns") s, cp -r + fsync $(seconds "$cpsync_ns") s; load $(cut -d' ' -f1 /proc/loadavg)"
    fi
done
refresh_median=$(median <"$work/refresh.times")
cp_median=$(median <"$work/cp.times")
cpsync_median=$(median <"$work/cpsync.times")
floor1_median=$(median <"$work/floor1.times")
floor8_median=$(median <"$work/floor8.times")
site_peak_kb=$(sort -n "$work/refresh.rss" | tail -n1)
refresh_cpu=$(median <"$work/refresh.cpu")
cp_cpu=$(median <"$work/cp.cpu")
cpsync_cpu=$(median <"$work/cpsync.cpu")

echo
echo "Site: $page_count pages, $(du -sm "$site" | cut -f1) MB"
echo "median refresh            $(seconds "$refresh_median") s   ($(awk -v n="$page_count" -v ns="$refresh_median" 'BEGIN { printf "%.0f", n / (ns / 1e9) }') pages/s)"
echo "median durable floor      $(seconds "$floor1_median") s   (read, new file, fsync, rename; one page at a time)"
echo "median overlapped floor   $(seconds "$floor8_median") s   (the same, 8 pages at once)"
echo "median cp -r              $(seconds "$cp_median") s"
echo "median cp -r + fsync      $(seconds "$cpsync_median") s"
echo "ratio refresh / floor            $(ratio "$refresh_median" "$floor1_median")"
echo "ratio refresh / overlapped floor $(ratio "$refresh_median" "$floor8_median")   (target <= 1.25)"
echo "ratio refresh / cp -r          $(ratio "$refresh_median" "$cp_median")"
if [ -n "$before_cli" ]; then
    before_median=$(median <"$work/before.times")
    echo "median refresh of $before_cli   $(seconds "$before_median") s"
    echo "ratio refresh / that refresh   $(ratio "$refresh_median" "$before_median")"
    echo "ratio that refresh / overlapped floor $(ratio "$before_median" "$floor8_median")"
fi
echo "ratio refresh / (cp -r+fsync)  $(ratio "$refresh_median" "$cpsync_median")"
echo "peak RSS of the refresh   $site_peak_kb KB"
echo "processor time (user + system), medians: refresh $(seconds "$refresh_cpu") s, cp -r $(seconds "$cp_cpu") s, cp -r + fsync $(seconds "$cpsync_cpu") s"
echo "   (GNU time counts in 10 ms steps; a busy machine stretches wall times more than these)"

if [ "${STRACE:-0}" = 1 ]; then
    command -v strace >/dev/null || fail "strace is missing (apt-get install strace)"
    echo
    echo "== System calls of one refresh"
    rm -rf "$refresh_copy"
    cp -r "$site" "$refresh_copy"
    sync
    strace -c -o "$work/strace.txt" "$cli" "$refresh_copy" >/dev/null
    head -n 25 "$work/strace.txt"
    rm -rf "$refresh_copy"
fi

# --- Peak memory on very large pages ---------------------------------------------------
big_bytes=$((big_mb * 1024 * 1024))
echo
echo "== Memory: one ${big_mb} MB page with many blocks"
# Whole pages of the site one after another, so that every block stays intact.
many="$work/many"
mkdir -p "$many"
cp -r "$site/includes" "$many/"
chunk="$work/chunk"
: >"$chunk"
while [ "$(stat -c %s "$chunk")" -lt $((10 * 1024 * 1024)) ]; do
    for page in "$site"/page*.*html; do
        cat "$page" >>"$chunk"
        [ "$(stat -c %s "$chunk")" -lt $((10 * 1024 * 1024)) ] || break
    done
done
chunk_bytes=$(stat -c %s "$chunk")
for ((i = 0; i * chunk_bytes < big_bytes; i++)); do cat "$chunk"; done >"$many/big.html"
blocks=$(grep -o "<reririduruv=" "$many/big.html" | wc -l)
many_before=$(stat -c %s "$many/big.html")
sync
measure "$cli" "$many"
many_ns=$elapsed_ns many_kb=$peak_kb
if grep -q "stale" "$many/big.html"; then
    fail "the large page still holds stale block content after the refresh"
fi
echo "   $((many_before / 1024 / 1024)) MB page, $blocks blocks ($(($(stat -c %s "$many/big.html") / 1024 / 1024)) MB after the refresh): $(seconds "$many_ns") s, peak RSS $many_kb KB (target < 32768 KB)"
rm -rf "$many"

echo "== Memory: one ${big_mb} MB page that is a single line, with a 50 MB include file"
line="$work/line"
mkdir -p "$line"
# Site text without tags: as it stands for the include file, without line ends for the line.
sed -e 's/<\/*reririduruv[^>]*>//g' "$chunk" >"$work/plain"
tr -d '\r\n' <"$work/plain" >"$work/flat"
repeat_to "$work/plain" $((50 * 1024 * 1024)) "$line/big.inc"
half=$((big_bytes / 2))
repeat_to "$work/flat" "$half" "$work/filler"
{
    printf '<p>a page of one line: <reririduruv=big.inc>'
    cat "$work/filler"
    printf '</reririduruv>'
    cat "$work/filler"
} >"$line/line.html"
rm -f "$work/plain" "$work/flat" "$work/filler" "$chunk"
[ "$(tr -d -c '\r\n' <"$line/line.html" | wc -c)" -eq 0 ] || fail "the long line has a line end"
before=$(stat -c %s "$line/line.html")
sync
measure "$cli" "$line"
line_ns=$elapsed_ns line_kb=$peak_kb
after=$(stat -c %s "$line/line.html")
[ "$after" -ne "$before" ] || fail "the single-line page was not refreshed"
echo "   $((before / 1024 / 1024)) MB line -> $((after / 1024 / 1024)) MB page: $(seconds "$line_ns") s, peak RSS $line_kb KB (target < 32768 KB)"
rm -rf "$line"

echo
echo "Summary"
echo "  refresh / cp -r               $(ratio "$refresh_median" "$cp_median")  (target <= 3)"
echo "  refresh / (cp -r + fsync)     $(ratio "$refresh_median" "$cpsync_median")"
echo "  processor time refresh / cp -r  $(ratio "$refresh_cpu" "$cp_cpu")"
echo "  pages per second              $(awk -v n="$page_count" -v ns="$refresh_median" 'BEGIN { printf "%.0f", n / (ns / 1e9) }')"
echo "  peak RSS, site refresh        $site_peak_kb KB"
echo "  peak RSS, ${big_mb} MB page         $many_kb KB  (target < 32768 KB)"
echo "  peak RSS, ${big_mb} MB single line  $line_kb KB  (target < 32768 KB)"
