#!/usr/bin/env bash
# Benchmarks `reririduruv-cli --recursive --only-changed` over an up-to-date site against a
# refresh of the same site that rewrites every page, and checks that the only-changed run
# makes no changing system call at all (strace) and leaves every file as it was. See
# bench/README.md. Needs cmake, a C++ compiler, CLI11, dtl, awk, GNU time and strace
# (scripts/install-deps.sh installs all of them).
#
# Environment: RUNS (timed runs of each command, default 7), PAGES (default 2000),
# SIZE_KB (default 40), BENCH_DIR (where the site is made, default a new folder in $TMPDIR
# or /tmp; it is removed afterwards).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${RUNS:-7}"
pages="${PAGES:-2000}"
size_kb="${SIZE_KB:-40}"

# shellcheck source=bench/common.sh
. "$root/bench/common.sh"
command -v strace >/dev/null || fail "strace is missing (apt-get install strace)"
strace -f -qq -o /dev/null true 2>/dev/null || fail "strace cannot trace here (ptrace forbidden?)"
build_cli
make_site "$pages" "$size_kb"

# Every entry of the site with what a write would alter: inode, size, modification and
# change times.
snapshot() {
    find "$site" -printf '%p %i %s %T@ %C@\n' | LC_ALL=C sort
}

echo "== First refresh, which brings every page up to date"
"$cli" --recursive "$site" >"$work/out" || fail "the first refresh failed: $(tail -n 3 "$work/out")"
grep -q "stale" "$site"/page*.*html && fail "a page still holds stale block content"
sync

echo "== No writes: --recursive --only-changed under strace"
snapshot >"$work/before"
strace -f -y -qq -o "$work/trace.log" "$cli" --recursive --only-changed "$site" >"$work/out" ||
    fail "the only-changed run failed"
snapshot >"$work/after"
changing="$(awk '
    {
        line = $0
        sub(/^[0-9]+ +/, "", line)
        name = line
        sub(/\(.*/, "", name)
    }
    name ~ /^(open|openat|openat2|creat)$/ && line ~ /O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|O_TMPFILE/ { print; next }
    name ~ /^(write|pwrite64|writev|pwritev|pwritev2)$/ && line !~ /^[a-z0-9]+\(([12]<|[0-9]+<pipe:)/ { print; next }
    name ~ /^(unlink|unlinkat|rename|renameat|renameat2|link|linkat|symlink|symlinkat|mkdir|mkdirat|rmdir|mknod|mknodat|truncate|ftruncate|fallocate|chmod|fchmod|fchmodat|chown|fchown|fchownat|lchown|utime|utimes|utimensat|futimesat|copy_file_range|sendfile|splice|fsync|fdatasync|sync_file_range|setxattr|fsetxattr|lsetxattr|removexattr|fremovexattr|lremovexattr)$/ { print }
' "$work/trace.log")"
[ -z "$changing" ] || fail "the only-changed run made changing calls: $(echo "$changing" | head -n 5)"
cmp -s "$work/before" "$work/after" || fail "the only-changed run changed the site: $(diff "$work/before" "$work/after" | head -n 4)"
reads=$(grep -c 'openat(.*page[0-9]*\.s\?html' "$work/trace.log" || true)
[ "$reads" -ge "$pages" ] || fail "the traced run opened only $reads pages"
echo "   $reads pages opened, no changing system call, every file as it was"
tail -n 2 "$work/out" | sed 's/^/   /'

# Alternating runs on the same up-to-date site: a refresh rewrites every page (each has
# blocks), after which the site is up to date again for the only-changed run. Dirty data
# is flushed between timings.
: >"$work/full.times"
: >"$work/only.times"
: >"$work/full.cpu"
: >"$work/only.cpu"
probe="$(find "$site" -maxdepth 1 -name 'page*html' -print -quit)"
echo "== Timing: refresh of every page vs --only-changed, $runs alternating runs each (after one warm-up)"
for ((run = 0; run <= runs; run++)); do
    inode=$(stat -c %i "$probe")
    measure "$cli" --recursive "$site"
    full_ns=$elapsed_ns full_cpu=$cpu_ns
    [ "$(stat -c %i "$probe")" != "$inode" ] || fail "the refresh did not rewrite $probe"
    sync
    inode=$(stat -c %i "$probe")
    measure "$cli" --recursive --only-changed "$site"
    only_ns=$elapsed_ns only_cpu=$cpu_ns
    [ "$(stat -c %i "$probe")" = "$inode" ] || fail "the only-changed run rewrote $probe"
    sync
    if [ "$run" -gt 0 ]; then
        echo "$full_ns" >>"$work/full.times"
        echo "$only_ns" >>"$work/only.times"
        echo "$full_cpu" >>"$work/full.cpu"
        echo "$only_cpu" >>"$work/only.cpu"
        echo "   run $run: refresh $(seconds "$full_ns") s, --only-changed $(seconds "$only_ns") s; load $(cut -d' ' -f1 /proc/loadavg)"
    fi
done
full_median=$(median <"$work/full.times")
only_median=$(median <"$work/only.times")
full_cpu=$(median <"$work/full.cpu")
only_cpu=$(median <"$work/only.cpu")

echo
echo "Summary ($pages pages of about $size_kb KB, up to date)"
echo "  median refresh of every page           $(seconds "$full_median") s"
echo "  median --recursive --only-changed      $(seconds "$only_median") s"
echo "  speed-up                                $(ratio "$full_median" "$only_median")x  (target >= 3)"
echo "  processor time (user + system), medians: refresh $(seconds "$full_cpu") s, --only-changed $(seconds "$only_cpu") s"
echo "  writes of the only-changed run          none (strace: no changing call; files unchanged)"
