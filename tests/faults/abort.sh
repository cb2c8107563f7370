#!/usr/bin/env bash
# SIGINT and SIGTERM, delivered by strace at a chosen call, press Abort: the run stops
# before the page's next line, leaves that page as it was and not listed, and ends with
# the aborted line and the summary, exit status 130.
source "$(dirname "$0")/lib.sh"
init "$@"

site="$work/site"

# big.htm takes several reads, so a signal at its second read comes mid-page.
three_pages() { make_site "$site" index.htm big.htm news.htm; }

# A read of big.htm that brings data (its last read brings none), so lines follow it.
big_page="$(on_file 'big\.htm').* = [1-9][0-9]*$"

expect_stopped_inside_big_page() {
    expect_rc 130
    expect_stdout "index.htm,1" ">>processing aborted!" ">1 file(s) processed. " ">0 file(s) skipped."
    expect_stderr
    expect_page "$site" index.htm new
    expect_page "$site" big.htm old
    expect_page "$site" news.htm old
}

interrupt_in_middle_of_page_leaves_it_unchanged() {
    inject three_pages "read;$big_page;signal=INT;2" -- "$site" index.htm big.htm news.htm
    expect_stopped_inside_big_page
    expect_entries "$site" index.htm big.htm news.htm inc.txt
}

terminate_in_middle_of_page_leaves_it_unchanged() {
    inject three_pages "read;$big_page;signal=TERM;2" -- --backup "$site" index.htm big.htm news.htm
    expect_stopped_inside_big_page
    # Only the page finished before the signal was backed up.
    expect_entries "$site" index.htm index.bak big.htm news.htm inc.txt
    cmp -s "$site/index.bak" "$work/expected/old/index.htm" || fail "index.bak is not the old index.htm"
}

interrupted_write_in_middle_of_page_is_retried_and_stops() {
    # big.htm's new version outgrows the output buffer, so the temporary file is written
    # while the page is read; the signal cuts that write short with EINTR.
    inject three_pages "write;$(on_file 'reririDuruv\.tmp');error=EINTR:signal=INT;2" -- "$site" index.htm big.htm news.htm
    expect_stopped_inside_big_page
    expect_entries "$site" index.htm big.htm news.htm inc.txt
}

interrupt_while_saving_finishes_that_page() {
    # The second new file is big.htm's; the abort is seen before the next page.
    inject three_pages "fsync;$new_file;signal=INT;2" -- "$site" index.htm big.htm news.htm
    expect_rc 130
    expect_stdout "index.htm,1" "big.htm,1" ">>processing aborted!" ">2 file(s) processed. " ">0 file(s) skipped."
    expect_stderr
    expect_page "$site" index.htm new
    expect_page "$site" big.htm new
    expect_page "$site" news.htm old
    expect_entries "$site" index.htm big.htm news.htm inc.txt
}

interrupt_between_pages_starts_no_further_page() {
    # The temporary file is deleted as index.htm ends.
    inject three_pages "unlink,unlinkat;reririDuruv\.tmp;signal=INT" -- "$site" index.htm big.htm news.htm
    expect_rc 130
    expect_stdout "index.htm,1" ">>processing aborted!" ">1 file(s) processed. " ">0 file(s) skipped."
    expect_stderr
    expect_page "$site" index.htm new
    expect_page "$site" big.htm old
    expect_page "$site" news.htm old
    expect_entries "$site" index.htm big.htm news.htm inc.txt
}

log="$work/logs/error.log"
three_pages_and_no_log() {
    three_pages
    mkdir -p "$work/logs"
    rm -f "$log"
}

interrupt_with_log_writes_no_problem() {
    # An abort is no problem: the log gets its header and nothing else.
    inject three_pages_and_no_log "read;$big_page;signal=INT;2" -- --log "$log" "$site" index.htm big.htm news.htm
    expect_stopped_inside_big_page
    expect_entries "$site" index.htm big.htm news.htm inc.txt
    if ! grep -qaE $'^ \r$' "$log" || ! grep -qaE $'^Processing path: .*/site/ - [0-9]+/[0-9]+/[0-9]{2} [0-9]{2}:[0-9]{2} [AP]M\r$' "$log" ||
        [ "$(wc -l <"$log")" -ne 2 ]; then
        fail "the log is [$(tr '\r\n' '^|' <"$log")], expected its two header lines only"
    fi
}

run_case "SIGINT in the middle of a page leaves it unchanged" interrupt_in_middle_of_page_leaves_it_unchanged
run_case "SIGTERM in the middle of a page leaves it unchanged" terminate_in_middle_of_page_leaves_it_unchanged
run_case "SIGINT cutting a write short in the middle of a page stops it" interrupted_write_in_middle_of_page_is_retried_and_stops
run_case "SIGINT while saving a page finishes that page" interrupt_while_saving_finishes_that_page
run_case "SIGINT between pages starts no further page" interrupt_between_pages_starts_no_further_page
run_case "SIGINT with a log file writes no problem to it" interrupt_with_log_writes_no_problem
finish
