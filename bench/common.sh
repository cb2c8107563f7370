# Shared by the benchmark scripts: sourced after `root` is set. Builds reririduruv-cli
# (Release) in build-bench, makes a work folder with a generated site and provides the
# timing helpers.

fail() {
    echo "bench: $*" >&2
    exit 1
}
[ -x /usr/bin/time ] || fail "GNU time is missing (apt-get install time)"
command -v cmake >/dev/null || fail "cmake is missing (apt-get install cmake)"
command -v awk >/dev/null || fail "awk is missing (apt-get install mawk)"

# Builds the command line and sets cli to it.
build_cli() {
    echo "== Building reririduruv-cli (Release) in build-bench"
    local build_log
    build_log="$(mktemp)"
    if ! bash "$root/scripts/build.sh" build-bench -DCMAKE_BUILD_TYPE=Release \
        -DRERIRIDURUV_GUI=OFF -DBUILD_TESTING=OFF -DRERIRIDURUV_BENCH=ON >"$build_log" 2>&1; then
        cat "$build_log" >&2
        fail "the build failed"
    fi
    rm -f "$build_log"
    cli="$root/build-bench/cli/reririduruv-cli"
    floor="$root/build-bench/bench/durable_floor"
    cli="${CLI:-$cli}"
    [ -x "$cli" ] || fail "no reririduruv-cli at $cli"
}

# Makes the work folder (removed on exit) and a site of PAGES pages of SIZE_KB in it; sets
# work and site.
make_site() {
    local pages="$1" size_kb="$2" parent="${BENCH_DIR:-${TMPDIR:-/tmp}}"
    mkdir -p "$parent"
    work="$(mktemp -d "$parent/reririduruv-bench.XXXXXX")"
    trap 'rm -rf "$work"' EXIT
    site="$work/site"
    echo "== Generating $pages pages of about $size_kb KB in $work"
    bash "$root/bench/gen_site.sh" "$site" "$pages" "$size_kb"
    echo "   $(du -sm "$site" | cut -f1) MB, on $(df --output=source,fstype "$work" | tail -n1)"
}

# Runs a command under GNU time and sets elapsed_ns (wall time), peak_kb (peak resident
# memory) and cpu_ns (user + system time, which a busy machine disturbs less than the wall
# time). A command that fails ends the benchmark.
measure() {
    local start end
    start=$(date +%s%N)
    if ! /usr/bin/time -f "%M %U %S" -o "$work/time" "$@" >"$work/out" 2>&1; then
        cat "$work/out" "$work/time" >&2
        fail "failed: $*"
    fi
    end=$(date +%s%N)
    elapsed_ns=$((end - start))
    read -r peak_kb cpu_ns < <(tail -n1 "$work/time" | awk '{ printf "%d %.0f\n", $1, ($2 + $3) * 1e9 }')
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { printf "%.0f\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "n/a" }'; }
