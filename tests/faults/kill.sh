#!/usr/bin/env bash
# The process killed (SIGKILL, injected by strace) at each step of a refresh: every page is
# then exactly its old or its new version, and a later run finishes the work.
#
# What a kill may leave in the page folder, and why:
# - reririDuruv.tmp, the program's own temporary file: it is removed only when the run
#   ends, and the next run removes or replaces it.
# - one hidden ".reririDuruv-" + 8 letters, holding the complete new file, only when the
#   kill comes after the new file got that name (linkat) and no later than the rename
#   over its target (the steps between are the close of the new file and the rename):
#   nothing can remove it once the process is gone. A kill at any other step leaves no
#   hidden file, because the new file has no name until then.
# - with a file system that refuses nameless files, the hidden ".reririDuruv-" + 6 letters
#   of the fallback, from its creation up to the rename.
# Anything else is a stray.
source "$(dirname "$0")/lib.sh"
init "$@"

site="$work/site"

one_page() { make_site "$site" index.htm; }

# Kills the CLI at the first call of SYSCALLS matching PATTERN, refreshing index.htm.
kill_at() {
    local syscalls="$1" pattern="$2"
    shift 2
    inject one_page "$syscalls;$pattern;signal=KILL" -- "$@" "$site" index.htm
    [ "$rc" -eq 137 ] || setup_failed "the CLI was not killed (exit status $rc)"
}

# After a kill, a plain run refreshes the page and takes the temporary file away; only the
# hidden file named in $1, if any, stays.
expect_next_run_finishes() {
    run_cli "$site" index.htm
    expect_rc 0
    expect_stdout "index.htm,1" ">1 file(s) processed. " ">0 file(s) skipped."
    expect_page "$site" index.htm new
    expect_entries "$site" index.htm inc.txt "$@"
}

# Prints the one hidden copy in the site; fails when there is none or several.
the_hidden_copy() {
    local hidden
    hidden="$(hidden_copies_in "$site")"
    if [ -z "$hidden" ] || [ "$(echo "$hidden" | wc -l)" -ne 1 ]; then
        fail "expected one hidden copy, found [$(echo "$hidden" | tr '\n' ' ')]"
        return 1
    fi
    echo "$hidden"
}

kill_while_writing_temporary_file_keeps_old_page() {
    kill_at write "$(on_file 'reririDuruv\.tmp')"
    expect_page "$site" index.htm old
    expect_entries "$site" index.htm inc.txt reririDuruv.tmp
    expect_next_run_finishes
}

kill_at_flush_of_new_file_keeps_old_page() {
    kill_at fsync "$new_file"
    expect_page "$site" index.htm old
    expect_entries "$site" index.htm inc.txt reririDuruv.tmp
    expect_next_run_finishes
}

kill_at_naming_of_new_file_keeps_old_page() {
    kill_at linkat '\.reririDuruv-'
    expect_page "$site" index.htm old
    expect_entries "$site" index.htm inc.txt reririDuruv.tmp
    expect_next_run_finishes
}

kill_at_rename_keeps_old_page_and_leaves_complete_hidden_copy() {
    kill_at rename,renameat,renameat2 'index\.htm"'
    expect_page "$site" index.htm old
    local hidden
    hidden="$(the_hidden_copy)" || return
    [[ "$hidden" =~ ^\.reririDuruv-[A-Za-z0-9]{8}$ ]] || fail "hidden copy $hidden is not a named nameless file"
    cmp -s "$site/$hidden" "$work/expected/new/index.htm" || fail "hidden copy $hidden is not the complete new page"
    expect_entries "$site" index.htm inc.txt reririDuruv.tmp "$hidden"
    expect_next_run_finishes "$hidden"
}

kill_after_rename_leaves_new_page() {
    # The kill comes at whatever call follows the rename over the page.
    require_strace
    one_page
    run_cli_traced -- "$site" index.htm
    local next
    next="$(numbered_calls "$work/trace.log" |
        awk -F '\t' 'renamed { print $1, $2; exit } $1 ~ /^rename/ && $3 ~ /index\.htm"/ { renamed = 1 }')"
    [ -n "$next" ] || setup_failed "no call follows the rename of index.htm in a plain run"
    one_page
    run_cli_traced -e trace="${next% *}" -e inject="${next% *}:signal=KILL:when=${next#* }" -- "$site" index.htm
    [ "$rc" -eq 137 ] || setup_failed "the CLI was not killed (exit status $rc)"
    expect_page "$site" index.htm new
    expect_entries "$site" index.htm inc.txt reririDuruv.tmp
    expect_next_run_finishes
}

kill_at_rename_of_backup_keeps_old_page() {
    kill_at rename,renameat,renameat2 'index\.bak"' --backup
    expect_page "$site" index.htm old
    local hidden
    hidden="$(the_hidden_copy)" || return
    cmp -s "$site/$hidden" "$work/expected/old/index.htm" || fail "hidden copy $hidden is not the complete backup"
    expect_entries "$site" index.htm inc.txt reririDuruv.tmp "$hidden"
    expect_next_run_finishes "$hidden"
}

kill_in_fallback_leaves_hidden_named_file() {
    inject one_page \
        "openat,open;O_TMPFILE;error=EOPNOTSUPP" \
        "fsync;/\.reririDuruv-[A-Za-z0-9]+>;signal=KILL" \
        -- "$site" index.htm
    [ "$rc" -eq 137 ] || setup_failed "the CLI was not killed (exit status $rc)"
    expect_page "$site" index.htm old
    local hidden
    hidden="$(the_hidden_copy)" || return
    [[ "$hidden" =~ ^\.reririDuruv-[A-Za-z0-9]{6}$ ]] || fail "hidden copy $hidden is not the fallback's"
    cmp -s "$site/$hidden" "$work/expected/new/index.htm" || fail "hidden copy $hidden is not the complete new page"
    expect_entries "$site" index.htm inc.txt reririDuruv.tmp "$hidden"
    expect_next_run_finishes "$hidden"
}

# The call of a trace line reduced to what stays the same from run to run: its name and
# first argument, without numbers that change (addresses, inodes, random names).
call_shape() {
    sed -E 's/^([a-z0-9_]+\([^,)]*).*/\1/; s/0x[0-9a-f]+/0x/g; s/#[0-9]+/#/g; s/\[[0-9]+\]/[]/g; s/reririDuruv-[A-Za-z0-9]+/reririDuruv-X/g'
}

# The calls that change what is on disk, or the order in which it reaches the disk. A
# kill between two of them leaves the same files as a kill at the later one, so killing
# at each of these covers every state a kill can leave.
changing_calls='^(open|openat|creat|write|pwrite64|close|copy_file_range|fchmod|fchown|fsync|fdatasync|link|linkat|rename|renameat|renameat2|unlink|unlinkat|ftruncate|mkdir)$'

# kill_everywhere SETUP FIRST-PAGE PAGES -- CLI-ARGUMENTS...
# Kills the CLI at every call that changes the disk from the opening of FIRST-PAGE on, one
# run per call, and checks the folder after each kill and after a following plain run.
# PAGES is the space-separated list of the site's pages.
kill_everywhere() {
    local setup="$1" first_page="$2" pages="$3"
    shift 4
    require_strace
    "$setup"
    run_cli_traced -- "$@"
    [ "$rc" -eq 0 ] || setup_failed "the plain traced run failed (exit status $rc)"
    # Each call with a flag: 1 when it comes after a new file got its hidden name (linkat)
    # and no later than the rename that takes the name away.
    numbered_calls "$work/trace.log" |
        awk -F '\t' -v page="/$first_page\"" -v changing="$changing_calls" '
            index($3, page) { started = 1 }
            {
                window = named + 0
                if ($1 == "linkat" && $3 ~ /\) = 0$/) named = 1
                if ($1 ~ /^rename/) named = 0
            }
            # Pipes carry the sanitizer runtime traffic, not files.
            started && $1 ~ changing && $3 !~ /^[a-z0-9_]+\([0-9]+<pipe:/ { print $1 "\t" $2 "\t" window "\t" $3 }' >"$work/calls"
    [ -s "$work/calls" ] || setup_failed "no call opens $first_page in the plain run"

    local name ordinal window line kills=0
    while IFS=$'\t' read -r name ordinal window line; do
        local where="killed at call $ordinal of $name ($line)"
        "$setup"
        run_cli_traced -e trace="$name" -e inject="$name:signal=KILL:when=$ordinal" -- "$@"
        if [ "$rc" -ne 137 ]; then
            fail "$where: not killed (exit status $rc)"
            continue
        fi
        local hit
        hit="$(call_line "$work/trace.log" "$name" "$ordinal")"
        if [ "$(echo "$hit" | call_shape)" != "$(echo "$line" | call_shape)" ]; then
            fail "$where: the kill met '$hit' instead"
            continue
        fi
        kills=$((kills + 1))
        check_folder_after_kill "$window" "$pages" "$where"
        run_cli "$@"
        [ "$rc" -eq 0 ] || fail "$where: the next run ended with status $rc"
        local page
        for page in $pages; do
            cmp -s "$site/$page" "$work/expected/new/$page" ||
                fail "$where: after the next run $page is $(which_version "$site" "$page")"
        done
        if [ -e "$site/reririDuruv.tmp" ]; then
            fail "$where: the next run left reririDuruv.tmp"
        fi
    done <"$work/calls"
    echo "   $kills kills checked"
}

# Each page old or new, each backup the complete old page, and nothing else but what the
# comment at the top of this file allows.
check_folder_after_kill() {
    local in_named_window="$1" pages="$2" where="$3"
    local page allowed=(inc.txt reririDuruv.tmp)
    for page in $pages; do
        local version
        version="$(which_version "$site" "$page")"
        case "$version" in
        old | new) ;;
        *) fail "$where: $page is $version" ;;
        esac
        allowed+=("$page")
        local backup="${page%.*}.bak"
        if [ -e "$site/$backup" ]; then
            cmp -s "$site/$backup" "$work/expected/old/$page" || fail "$where: $backup is not the old $page"
            allowed+=("$backup")
        fi
    done
    local hidden
    hidden="$(hidden_copies_in "$site")"
    if [ -n "$hidden" ]; then
        if [ "$in_named_window" != 1 ] || [ "$(echo "$hidden" | wc -l)" -ne 1 ]; then
            fail "$where: stray hidden file(s) $(echo "$hidden" | tr '\n' ' ')"
        else
            local complete=no version
            for page in $pages; do
                for version in old new; do
                    cmp -s "$site/$hidden" "$work/expected/$version/$page" && complete=yes
                done
            done
            [ "$complete" = yes ] || fail "$where: hidden file $hidden is not a complete page"
        fi
        allowed+=("$hidden")
    fi
    local strays
    strays="$(comm -13 <(printf '%s\n' "${allowed[@]}" | LC_ALL=C sort) <(entries_of "$site") | tr '\n' ' ')"
    [ -z "$strays" ] || fail "$where: stray files $strays"
}

two_pages() { make_site "$site" index.htm news.htm; }

kill_at_every_step_of_two_pages() {
    kill_everywhere two_pages index.htm "index.htm news.htm" -- "$site" index.htm news.htm
}

kill_at_every_step_with_backup() {
    kill_everywhere one_page index.htm "index.htm" -- --backup "$site" index.htm
}

three_pages() { make_site "$site" fresh.htm index.htm news.htm; }

kill_at_every_step_of_changed_pages_only() {
    # The up-to-date page is looked at without being written; the others are written.
    kill_everywhere three_pages fresh.htm "fresh.htm index.htm news.htm" -- --only-changed "$site" fresh.htm index.htm news.htm
}

run_case "kill while writing the temporary file keeps the old page" kill_while_writing_temporary_file_keeps_old_page
run_case "kill at the flush of the new file keeps the old page" kill_at_flush_of_new_file_keeps_old_page
run_case "kill at the naming of the new file keeps the old page" kill_at_naming_of_new_file_keeps_old_page
run_case "kill at the rename keeps the old page and leaves a complete hidden copy" kill_at_rename_keeps_old_page_and_leaves_complete_hidden_copy
run_case "kill after the rename leaves the new page" kill_after_rename_leaves_new_page
run_case "kill at the rename of the backup keeps the old page" kill_at_rename_of_backup_keeps_old_page
run_case "kill in the fallback leaves its hidden named file" kill_in_fallback_leaves_hidden_named_file
run_case "kill at every step of two pages" kill_at_every_step_of_two_pages
run_case "kill at every step with a backup" kill_at_every_step_with_backup
run_case "kill at every step of changed pages only" kill_at_every_step_of_changed_pages_only
finish
