# Shared set-up and checks of the fault tests of reririduruv-cli.
#
# A group script sources this file, calls `init "$@"` with the CLI binary as its first
# argument, runs its cases with `run_case NAME FUNCTION` and ends with `finish`. Every case
# runs in a subshell of its own: a failed check is recorded and the case goes on, a fault
# that cannot be set up ends the case with `setup_failed` (counted as a failure, never as
# a pass or a skip).

set -uo pipefail

# ---------------------------------------------------------------------------------------
# Run bookkeeping

init() {
    if [ $# -lt 1 ] || [ ! -x "$1" ]; then
        echo "usage: $0 PATH-OF-reririduruv-cli" >&2
        exit 2
    fi
    work="$(mktemp -d /tmp/reririDuruv-faults.XXXXXX)" || exit 2
    # The unprivileged runs must be able to reach the binary and the sites.
    chmod 755 "$work"
    trap cleanup EXIT
    mkdir -p "$work/bin" "$work/expected"
    cp "$1" "$work/bin/reririduruv-cli"
    chmod 755 "$work/bin" "$work/bin/reririduruv-cli"
    CLI="$work/bin/reririduruv-cli"
    failures_file="$work/failures"
    : >"$failures_file"
    mounts_file="$work/mounts"
    : >"$mounts_file"
    # A tracer and LeakSanitizer's own ptrace cannot share a process; the rest of the
    # sanitizer checks stay on.
    traced_asan_options="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
    write_fixtures
    cd "$work" || exit 2
}

cleanup() {
    cd /
    if [ -s "${mounts_file:-/dev/null}" ]; then
        while read -r mounted; do
            umount -l "$mounted" 2>/dev/null
        done < <(tac "$mounts_file")
    fi
    # Folders left read-only by a case must not stop the clean-up.
    chmod -R u+rwx "$work" 2>/dev/null
    rm -rf "$work"
}

run_case() {
    local name="$1" function="$2"
    echo "== $name"
    local before
    before="$(wc -l <"$failures_file")"
    (
        case_name="$name"
        "$function"
        exit 0
    )
    local status=$?
    if [ "$status" -ne 0 ] && [ "$(wc -l <"$failures_file")" -eq "$before" ]; then
        echo "$name: ended with status $status" >>"$failures_file"
        echo "FAIL [$name]: ended with status $status" >&2
    fi
}

finish() {
    local count
    count="$(wc -l <"$failures_file")"
    if [ "$count" -gt 0 ]; then
        echo "$count check(s) failed:"
        cat "$failures_file"
        exit 1
    fi
    echo "all checks passed"
    exit 0
}

fail() {
    echo "FAIL [$case_name]: $*" >&2
    echo "$case_name: $*" >>"$failures_file"
}

# Ends the current case: the fault could not be set up, so nothing was tested.
setup_failed() {
    fail "fault not set up: $*"
    exit 1
}

require_command() {
    local command="$1" package="$2"
    command -v "$command" >/dev/null 2>&1 ||
        setup_failed "'$command' is missing; install the Debian package $package"
}

# strace installed and allowed to trace (a container may forbid ptrace).
require_strace() {
    require_command strace strace
    strace -f -qq -o /dev/null true 2>"$work/strace-probe" ||
        setup_failed "strace cannot trace here: $(head -n 1 "$work/strace-probe")"
}

require_root() {
    [ "$(id -u)" -eq 0 ] || setup_failed "this fault needs root (to $1)"
}

# ---------------------------------------------------------------------------------------
# Sites: every page has a known old version and a known refreshed version.

write_fixtures() {
    local old="$work/expected/old" new="$work/expected/new"
    mkdir -p "$old" "$new"
    printf 'NEW 1\nNEW 2\n' >"$work/expected/inc.txt"

    # CR+LF page with one block.
    printf '<html>\r\n<reririduruv=inc.txt>old text</reririduruv>\r\n</html>\r\n' >"$old/index.htm"
    printf '<html>\r\n<reririduruv=inc.txt>NEW 1\r\nNEW 2\r\n</reririduruv>\r\n</html>\r\n' >"$new/index.htm"

    # LF page with two blocks; the lines inside the first block are dropped.
    printf 'top\n<reririduruv=inc.txt>\nstale\n</reririduruv> tail\n<reririduruv=inc.txt></reririduruv>\nend\n' \
        >"$old/news.htm"
    printf 'top\n<reririduruv=inc.txt>NEW 1\nNEW 2\n</reririduruv> tail\n<reririduruv=inc.txt>NEW 1\nNEW 2\n</reririduruv>\nend\n' \
        >"$new/news.htm"

    # No block: never replaced.
    printf 'just text\r\n' >"$old/plain.htm"
    cp "$old/plain.htm" "$new/plain.htm"

    # Up to date already: a refresh gives the same bytes.
    cp "$new/index.htm" "$old/fresh.htm"
    cp "$new/index.htm" "$new/fresh.htm"

    # A page of about 1.3 MB with its block on the first line, read in several chunks.
    local lines="$work/expected/lines"
    awk 'BEGIN { for (i = 0; i < 20000; i++) printf "line %06d of a long page that takes several reads\r\n", i }' >"$lines"
    { printf '<reririduruv=inc.txt>old</reririduruv>\r\n'; cat "$lines"; } >"$old/big.htm"
    { printf '<reririduruv=inc.txt>NEW 1\r\nNEW 2\r\n</reririduruv>\r\n'; cat "$lines"; } >"$new/big.htm"
    rm -f "$lines"
}

# make_site DIR PAGE... : DIR (created if missing) holds the given pages in their old
# version and inc.txt; everything else in DIR is removed.
make_site() {
    local dir="$1"
    shift
    mkdir -p "$dir"
    find "$dir" -mindepth 1 -delete 2>/dev/null
    # An earlier case may have given the folder away or changed its permission bits.
    [ "$(id -u)" -eq 0 ] && chown 0:0 "$dir"
    chmod 755 "$dir"
    local page
    for page in "$@"; do
        cp "$work/expected/old/$page" "$dir/$page"
    done
    cp "$work/expected/inc.txt" "$dir/inc.txt"
}

# Passes when DIR/PAGE is byte for byte the named version (old or new) of the page.
expect_page() {
    local dir="$1" page="$2" version="$3"
    if [ ! -f "$dir/$page" ]; then
        fail "$page is gone"
    elif ! cmp -s "$dir/$page" "$work/expected/$version/$page"; then
        fail "$page is not exactly its $version version ($(which_version "$dir" "$page"))"
    fi
}

# Prints old, new, or what else the page is.
which_version() {
    local dir="$1" page="$2"
    if [ ! -e "$dir/$page" ]; then
        echo "missing"
    elif cmp -s "$dir/$page" "$work/expected/old/$page"; then
        echo "old"
    elif cmp -s "$dir/$page" "$work/expected/new/$page"; then
        echo "new"
    else
        echo "neither old nor new: $(wc -c <"$dir/$page") bytes"
    fi
}

expect_old_or_new() {
    local dir="$1" page="$2" version
    version="$(which_version "$dir" "$page")"
    case "$version" in
    old | new) ;;
    *) fail "$page is $version" ;;
    esac
}

# The names in DIR, hidden ones included, one a line, sorted.
entries_of() {
    find "$1" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort
}

# Passes when DIR holds exactly the given names: anything else is a stray.
expect_entries() {
    local dir="$1"
    shift
    local expected actual
    expected="$(printf '%s\n' "$@" | LC_ALL=C sort)"
    actual="$(entries_of "$dir")"
    if [ "$expected" != "$actual" ]; then
        local strays missing
        strays="$(comm -13 <(echo "$expected") <(echo "$actual") | tr '\n' ' ')"
        missing="$(comm -23 <(echo "$expected") <(echo "$actual") | tr '\n' ' ')"
        fail "folder ${dir#"$work"/} holds unexpected files [${strays}] and lacks [${missing}]"
    fi
}

# The hidden new files of the atomic copy: ".reririDuruv-" and 8 (nameless file given a
# name) or 6 (fallback) letters.
hidden_copies_in() {
    entries_of "$1" | grep -E '^\.reririDuruv-[A-Za-z0-9]{6}([A-Za-z0-9]{2})?$'
}

# ---------------------------------------------------------------------------------------
# Running the command line. Each run leaves its exit status in $rc, stdout in $work/out and
# stderr in $work/err.

run_cli() {
    "$CLI" "$@" </dev/null >"$work/out" 2>"$work/err"
    rc=$?
}

nobody_uid=65534

as_nobody() {
    setpriv --reuid="$nobody_uid" --regid="$nobody_uid" --clear-groups -- "$@"
}

run_cli_as_nobody() {
    as_nobody "$CLI" "$@" </dev/null >"$work/out" 2>"$work/err"
    rc=$?
}

# Checks that the unprivileged user really meets the fault (root would not).
require_nobody() {
    require_root "switch to an unprivileged user"
    require_command setpriv util-linux
    as_nobody true || setup_failed "setpriv cannot switch to uid $nobody_uid"
}

# Runs the CLI under strace; trace log in $work/trace.log. Arguments: strace options, then
# "--", then the CLI's arguments. The shell's own notice of a killed child is dropped.
run_cli_traced() {
    local options=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do
        options+=("$1")
        shift
    done
    shift
    rm -f "$work/trace.log"
    {
        ASAN_OPTIONS="$traced_asan_options" strace -f -y -qq -o "$work/trace.log" "${options[@]}" \
            -- "$CLI" "$@" </dev/null >"$work/out" 2>"$work/err"
        rc=$?
    } 2>/dev/null
}

# The syscall lines of a trace log as "NAME<TAB>ORDINAL<TAB>LINE", ORDINAL counting the
# calls of that syscall from the start of the process, as strace's when= does.
numbered_calls() {
    awk '{
        line = $0
        sub(/^[0-9]+ +/, "", line)
        if (line !~ /^[a-z_0-9]+\(/) next
        name = line
        sub(/\(.*/, "", name)
        print name "\t" (++count[name]) "\t" line
    }' "$1"
}

# Prints "NAME ORDINAL" of the OCCURRENCE-th call in trace log LOG whose syscall is one of
# the comma-separated SYSCALLS and whose line matches the extended regular expression
# PATTERN; nothing when there is none.
nth_call() {
    local log="$1" syscalls="$2" pattern="$3" occurrence="$4"
    numbered_calls "$log" | awk -F '\t' -v names=",$syscalls," -v pattern="$pattern" -v wanted="$occurrence" \
        'index(names, "," $1 ",") && $3 ~ pattern && ++seen == wanted { print $1, $2; exit }'
}

# The line of the ORDINAL-th call of SYSCALL in trace log LOG.
call_line() {
    numbered_calls "$1" | awk -F '\t' -v name="$2" -v ordinal="$3" \
        '$1 == name && $2 == ordinal { print $3; exit }'
}

# Patterns for strace lines of a call on a descriptor of the named file (not one whose
# data merely holds the name), and on the nameless new file of the atomic copy, which
# strace shows as "/folder/#inode (deleted)".
on_file() { echo "^[a-z0-9_]+\\([0-9]+<[^>]*/$1>"; }
new_file='^[a-z0-9_]+\([0-9]+<[^>]*/#[0-9]+>\(deleted\)'

# inject SETUP FAULT... -- CLI-ARGUMENTS...
# Each FAULT is "SYSCALLS;PATTERN;ACTION[;OCCURRENCE]": the first (or OCCURRENCE-th) call
# of one of the comma-separated SYSCALLS whose strace line matches the extended regular
# expression PATTERN (which holds no ";") gets strace's ACTION (error=EIO, signal=KILL,
# ...); an ACTION ending in "+" is injected into that call and every later call of the
# syscall. Where each call comes is counted in a run with the earlier FAULTs already
# injected; SETUP is run before every run. Checks that each injection met its call; the
# last run's results are left as run_cli_traced leaves them.
inject() {
    local setup="$1"
    shift
    local faults=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do
        faults+=("$1")
        shift
    done
    shift
    require_strace
    # A name the machine's architecture lacks (rename on arm64) is no error with "?".
    local traced="" fault names syscall
    for fault in "${faults[@]}"; do
        names="${fault%%;*}"
        for syscall in ${names//,/ }; do
            traced="${traced:+$traced,}?$syscall"
        done
    done
    local injections=() checks=()
    for fault in "${faults[@]}"; do
        local syscalls pattern action occurrence from_then_on=""
        IFS=';' read -r syscalls pattern action occurrence <<<"$fault"
        if [ "${action%+}" != "$action" ]; then
            action="${action%+}"
            from_then_on="+"
        fi
        "$setup"
        run_cli_traced -e trace="$traced" "${injections[@]}" -- "$@"
        local found
        found="$(nth_call "$work/trace.log" "$syscalls" "$pattern" "${occurrence:-1}")"
        [ -n "$found" ] || setup_failed "no call of $syscalls matching /$pattern/ to inject $action into"
        local name="${found% *}" ordinal="${found#* }"
        injections+=(-e "inject=$name:$action:when=$ordinal$from_then_on")
        checks+=("$name;$ordinal;$pattern;$action")
    done
    "$setup"
    run_cli_traced -e trace="$traced" "${injections[@]}" -- "$@"
    local check
    for check in "${checks[@]}"; do
        local name ordinal pattern action hit
        IFS=';' read -r name ordinal pattern action <<<"$check"
        hit="$(call_line "$work/trace.log" "$name" "$ordinal")"
        [[ "$hit" =~ $pattern ]] ||
            setup_failed "$action meant for /$pattern/ met call $ordinal of $name: '$hit'"
    done
}

# ---------------------------------------------------------------------------------------
# Output checks

expect_rc() {
    [ "$rc" -eq "$1" ] || fail "exit status $rc, expected $1 (stderr: $(tr '\n' '|' <"$work/err"))"
}

# expect_stdout LINE... : stdout is exactly these lines.
expect_stdout() {
    local expected
    expected="$(printf '%s\n' "$@")"
    if [ "$expected" != "$(cat "$work/out")" ]; then
        fail "stdout is [$(tr '\n' '|' <"$work/out")], expected [$(echo "$expected" | tr '\n' '|')]"
    fi
}

# expect_stderr LINE... : stderr is exactly these lines (none: empty).
expect_stderr() {
    local expected=""
    [ $# -gt 0 ] && expected="$(printf '%s\n' "$@")"
    if [ "$expected" != "$(cat "$work/err")" ]; then
        fail "stderr is [$(tr '\n' '|' <"$work/err")], expected [$(echo "$expected" | tr '\n' '|')]"
    fi
}

# ---------------------------------------------------------------------------------------
# Private mounts

# Re-runs the calling script in a private mount namespace, so that its tmpfs mounts are
# seen by nothing else and vanish with it. Call before init, with the script's arguments.
enter_private_mount_namespace() {
    [ "${RERIRIDURUV_FAULTS_PRIVATE_MOUNTS:-}" = 1 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "FAIL: the file-system faults need root to mount a tmpfs in a private mount namespace" >&2
        exit 1
    fi
    if ! command -v unshare >/dev/null 2>&1; then
        echo "FAIL: 'unshare' is missing; install the Debian package util-linux" >&2
        exit 1
    fi
    if ! unshare --mount --propagation private true; then
        echo "FAIL: cannot create a private mount namespace (unshare --mount); the container needs CAP_SYS_ADMIN" >&2
        exit 1
    fi
    RERIRIDURUV_FAULTS_PRIVATE_MOUNTS=1 exec unshare --mount --propagation private bash "$0" "$@"
}

# mount_tmpfs DIR OPTIONS : a fresh tmpfs on DIR (created if missing).
mount_tmpfs() {
    local dir="$1" mount_options="$2"
    mkdir -p "$dir"
    mount -t tmpfs -o "$mount_options" reririDuruv-faults "$dir" ||
        setup_failed "cannot mount a tmpfs ($mount_options) on $dir"
    echo "$dir" >>"$mounts_file"
}
