#!/usr/bin/env bash
# Two runs in one folder at the same time, as a parallel site build starts them (one run
# per page): each page must end up exactly its old or its new version, whatever the order
# in which the two runs' steps come. The order is forced, not left to timing: strace stops
# a run (SIGSTOP) at a chosen call, and the test lets the runs go on one after the other.
source "$(dirname "$0")/lib.sh"
init "$@"

site="$work/site"

two_pages() { make_site "$site" index.htm news.htm; }

# plain_ordinal SYSCALLS PATTERN CLI-ARGUMENTS... : "NAME ORDINAL" of the first matching
# call in a plain traced run on a fresh site.
plain_ordinal() {
    local syscalls="$1" pattern="$2"
    shift 2
    two_pages
    run_cli_traced -e trace="$syscalls" -- "$@"
    nth_call "$work/trace.log" "$syscalls" "$pattern" 1
}

# The state letter of process PID (R, S, T, Z, ...), empty once it is gone.
state_of() {
    sed -E 's/^.*\) ([A-Za-z]).*$/\1/' "/proc/$1/stat" 2>/dev/null
}

# Waits until CONDITION (a command) holds. This waits for a state, not for a time: the
# bound only ends a hung test.
wait_until() {
    local tries=0
    until "$@"; do
        [ "$tries" -lt 600 ] || return 1
        sleep 0.1
        tries=$((tries + 1))
    done
}

job_stopped() { [ "$(state_of "$1")" = T ]; }
ended() {
    local state
    state="$(state_of "$1")"
    [ -z "$state" ] || [ "$state" = Z ]
}

# What a run started by start_run is doing, as its trace shows.
stopped_here() { grep -qx -- '--- stopped by SIGSTOP ---' "$work/$1.trace" 2>/dev/null; }
tracer_of() { local var="${1}_tracer"; echo "${!var}"; }
run_over() { ended "$(tracer_of "$1")"; }
# A run that finds the folder taken by the other waits; a failed attempt to lock shows it.
waiting_for_folder() {
    grep -qE '^(flock|fcntl)\(.* = -1 (EAGAIN|EWOULDBLOCK|EACCES)' "$work/$1.trace" 2>/dev/null
}
stopped_or_over() { stopped_here "$1" || run_over "$1"; }
stopped_waiting_or_over() { stopped_here "$1" || waiting_for_folder "$1" || run_over "$1"; }

child_of() { ps --ppid "$1" -o pid= | tr -d ' '; }
child_or_end() { [ -n "$(child_of "$1")" ] || ended "$1"; }

# start_run LABEL "NAME ORDINAL" CLI-ARGUMENTS... : starts the CLI in the background under
# strace, which stops it with SIGSTOP at that call. Leaves the tracer's pid in
# ${LABEL}_tracer and the CLI's in ${LABEL}_pid.
start_run() {
    local label="$1" call="$2"
    shift 2
    local name="${call% *}" ordinal="${call#* }"
    # A log of an earlier case must not be read as this run's.
    rm -f "$work/$label.trace"
    ASAN_OPTIONS="$traced_asan_options" strace -qq -o "$work/$label.trace" -e trace="$name,flock,fcntl" \
        -e inject="$name:signal=STOP:when=$ordinal" -- "$CLI" "$@" \
        </dev/null >"$work/$label.out" 2>"$work/$label.err" &
    local tracer=$!
    printf -v "${label}_tracer" '%s' "$tracer"
    wait_until child_or_end "$tracer"
    local pid
    pid="$(child_of "$tracer")"
    [ -n "$pid" ] || setup_failed "run $label did not start"
    echo "$pid" >>"$work/started"
    printf -v "${label}_pid" '%s' "$pid"
}

# Once a run's stop has taken hold, ends its tracer: the CLI then stays stopped as any
# stopped job, and a plain SIGCONT lets it go on, with no tracer in between.
hold() {
    local label="$1"
    local pid_var="${label}_pid" tracer
    tracer="$(tracer_of "$label")"
    # A SIGSTOP of our own waits, pending, in case the end of the tracer lets the CLI go
    # on: it stops again before its next instruction, at the same call.
    kill -STOP "${!pid_var}"
    kill -KILL "$tracer"
    wait "$tracer" 2>/dev/null
    wait_until job_stopped "${!pid_var}" || setup_failed "run $label did not stay stopped"
}

# Lets a held run go on and waits until it has ended.
release() {
    local label="$1"
    local pid_var="${label}_pid"
    kill -CONT "${!pid_var}"
    wait_until ended "${!pid_var}" || setup_failed "run $label did not end after SIGCONT"
}

# Brings a run that was not held to its end, holding and releasing it if it still meets
# its stop.
finish_free_run() {
    local label="$1"
    wait_until stopped_or_over "$label" || setup_failed "run $label neither stopped nor ended"
    if stopped_here "$label" && ! run_over "$label"; then
        hold "$label"
        release "$label"
    fi
    wait "$(tracer_of "$label")" 2>/dev/null
}

# A case that ends early must not leave its stopped runs behind.
end_started_runs() {
    local pid
    [ -f "$work/started" ] || return 0
    while read -r pid; do
        kill -KILL "$pid" 2>/dev/null
    done <"$work/started"
    rm -f "$work/started"
}

# A run that reports its page refreshed must have left it new; one that reports a problem
# must have left it old.
expect_run_consistent() {
    local label="$1" page="$2" version
    version="$(which_version "$site" "$page")"
    if grep -qx "$page,[0-9]*" "$work/$label.out"; then
        [ "$version" = new ] || fail "run $label reports $page refreshed, but $page is $version"
    else
        [ "$version" = old ] || fail "run $label reports a problem with $page, but $page is $version"
    fi
}

# interleave A-STOP B-STOP : run A (index.htm) is held at A-STOP; run B (news.htm) goes
# until B-STOP, or until it waits for the folder, or to its end; then A finishes, then B.
interleave() {
    local a_stop="$1" b_stop="$2"
    trap end_started_runs EXIT
    two_pages
    start_run A "$a_stop" "$site" index.htm
    wait_until stopped_or_over A && stopped_here A || setup_failed "run A did not stop at call ${a_stop#* } of ${a_stop% *}"
    hold A
    start_run B "$b_stop" "$site" news.htm
    wait_until stopped_waiting_or_over B || setup_failed "run B neither stopped, waited nor ended"
    local b_held=no
    if stopped_here B && ! run_over B; then
        hold B
        b_held=yes
        echo "   run B reached its stop while A was held"
    elif waiting_for_folder B; then
        echo "   run B waited for the folder while A was held"
    else
        echo "   run B ended while A was held"
    fi
    release A
    if [ "$b_held" = yes ]; then
        release B
    else
        finish_free_run B
    fi

    if cmp -s "$site/index.htm" "$work/expected/new/news.htm"; then
        fail "index.htm was replaced by the other run's refreshed news.htm"
    fi
    expect_old_or_new "$site" index.htm
    expect_old_or_new "$site" news.htm
    expect_run_consistent A index.htm
    expect_run_consistent B news.htm
    local strays
    strays="$(comm -13 <(printf '%s\n' inc.txt index.htm news.htm) <(entries_of "$site") | tr '\n' ' ')"
    [ -z "$strays" ] || fail "stray files $strays"
}

# A is held after it created the temporary file; B would, unguarded, replace that file
# with its own complete one and stop before copying it.
second_run_taking_the_temporary_file_loses_no_page() {
    require_strace
    local a_stop
    a_stop="$(plain_ordinal openat '/inc\.txt", O_RDONLY' "$site" index.htm)"
    [ -n "$a_stop" ] || setup_failed "the plain run opens no include file"
    interleave "$a_stop" "copy_file_range 1"
}

# A is held while it copies the temporary file into place; B would, unguarded, take the
# temporary file's name meanwhile.
second_run_starting_during_the_copy_loses_no_page() {
    require_strace
    interleave "copy_file_range 1" "copy_file_range 1"
}

run_case "a second run taking the temporary file loses no page" second_run_taking_the_temporary_file_loses_no_page
run_case "a second run starting during the copy loses no page" second_run_starting_during_the_copy_loses_no_page
finish
