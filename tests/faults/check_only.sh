#!/usr/bin/env bash
# --check changes nothing: no file is created, written, renamed, removed or touched, not
# even the temporary file, whatever the pages hold.
source "$(dirname "$0")/lib.sh"
init "$@"

site="$work/site"

# Every entry of DIR with what a change would alter: inode, type, mode, owner, size,
# modification and change times, and the content's checksum.
snapshot() {
    local dir="$1"
    (
        cd "$dir" || exit 1
        find . -printf '%p %i %y %m %U:%G %s %T@ %C@\n' | LC_ALL=C sort
        find . -type f -exec sha256sum {} + | LC_ALL=C sort -k 2
    )
}

# Fails for every call in the trace log that could change a file: an open for writing or
# creating, a write to anything but stdout, stderr or a pipe, and every call that names,
# removes, copies into, flushes or changes a file.
expect_no_changing_call() {
    local changing
    changing="$(numbered_calls "$work/trace.log" | awk -F '\t' '
        $1 ~ /^(open|openat|openat2|creat)$/ && $3 ~ /O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|O_TMPFILE/ { print; next }
        $1 ~ /^(write|pwrite64|writev|pwritev|pwritev2)$/ && $3 !~ /^[a-z0-9]+\(([12]<|[0-9]+<pipe:)/ { print; next }
        $1 ~ /^(unlink|unlinkat|rename|renameat|renameat2|link|linkat|symlink|symlinkat|mkdir|mkdirat|rmdir|mknod|mknodat|truncate|ftruncate|fallocate|chmod|fchmod|fchmodat|chown|fchown|fchownat|lchown|utime|utimes|utimensat|futimesat|copy_file_range|sendfile|splice|fsync|fdatasync|sync_file_range|setxattr|fsetxattr|lsetxattr|removexattr|fremovexattr|lremovexattr)$/ { print }
    ' | cut -f 3 | head -5)"
    [ -z "$changing" ] || fail "--check made changing calls: $(echo "$changing" | tr '\n' '|')"
    local opened
    opened="$(grep -m1 -E '^[0-9]+ +(open|openat|openat2|creat)\(.*reririDuruv\.tmp' "$work/trace.log")"
    [ -z "$opened" ] || fail "--check opened the temporary file: $opened"
}

# Runs --check with ARGUMENTS under strace and compares the site before and after.
check_traced() {
    require_strace
    snapshot "$site" >"$work/before"
    run_cli_traced -e trace=all -- --check "$@"
    snapshot "$site" >"$work/after"
    if ! cmp -s "$work/before" "$work/after"; then
        fail "--check changed the folder: $(diff "$work/before" "$work/after" | grep '^[<>]' | head -4 | tr '\n' '|')"
    fi
    expect_no_changing_call
}

pages_to_refresh_are_listed_and_nothing_changes() {
    make_site "$site" index.htm news.htm plain.htm
    check_traced "$site"
    expect_rc 1
    expect_stdout index.htm news.htm
    expect_stderr
    expect_entries "$site" index.htm news.htm plain.htm inc.txt
}

refreshed_site_passes_and_nothing_changes() {
    make_site "$site" index.htm news.htm plain.htm
    run_cli "$site"
    [ "$rc" -eq 0 ] || setup_failed "the refresh before the check failed (exit status $rc)"
    check_traced "$site"
    expect_rc 0
    expect_stdout ""
    expect_stderr
}

backup_option_makes_no_backup() {
    make_site "$site" index.htm news.htm
    check_traced --backup "$site"
    expect_rc 1
    expect_stdout index.htm news.htm
    expect_entries "$site" index.htm news.htm inc.txt
}

leftover_temporary_file_is_left_alone() {
    make_site "$site" index.htm
    printf 'left by a killed run\r\n' >"$site/reririDuruv.tmp"
    check_traced "$site" index.htm
    expect_rc 1
    expect_stdout index.htm
    expect_entries "$site" index.htm inc.txt reririDuruv.tmp
}

page_with_problem_is_reported_and_nothing_changes() {
    make_site "$site" index.htm
    printf '<reririduruv=missing.txt>x</reririduruv>\n' >"$site/broken.htm"
    check_traced "$site" broken.htm index.htm
    expect_rc 1
    expect_stdout index.htm
    expect_stderr "Could not locate replacement file $site/missing.txt"
    expect_entries "$site" broken.htm index.htm inc.txt
}

diff_of_every_folder_changes_nothing() {
    make_site "$site" index.htm plain.htm
    make_site "$site/sub" news.htm
    check_traced --diff --recursive "$site"
    expect_rc 1
    grep -qx 'index.htm' "$work/out" && grep -qx 'sub/news.htm' "$work/out" ||
        fail "the pages to refresh are not listed: [$(tr '\n' '|' <"$work/out")]"
    grep -q '^+NEW 2' "$work/out" || fail "no diff printed: [$(tr '\n' '|' <"$work/out")]"
    expect_stderr
    expect_entries "$site" index.htm plain.htm inc.txt sub
    expect_entries "$site/sub" news.htm inc.txt
}

run_case "pages to refresh are listed and nothing changes" pages_to_refresh_are_listed_and_nothing_changes
run_case "a refreshed site passes and nothing changes" refreshed_site_passes_and_nothing_changes
run_case "a diff of every folder changes nothing" diff_of_every_folder_changes_nothing
run_case "--backup makes no backup" backup_option_makes_no_backup
run_case "a leftover temporary file is left alone" leftover_temporary_file_is_left_alone
run_case "a page with a problem is reported and nothing changes" page_with_problem_is_reported_and_nothing_changes
finish
