#!/usr/bin/env bash
# Files and folders the user may not read or write, met by an unprivileged user (root
# would pass every permission check): each problem is reported for its page, the page
# stays exactly as it was, the run goes on, and nothing is left behind.
source "$(dirname "$0")/lib.sh"
init "$@"

site="$work/site"
nobody="$nobody_uid:$nobody_uid"

# A site the unprivileged user owns and may change.
own_site() {
    make_site "$site" "$@"
    chown -R "$nobody" "$site"
}

# Fails the case unless the unprivileged user is refused COMMAND.
expect_refused() {
    if as_nobody "$@" 2>/dev/null; then
        setup_failed "the unprivileged user may: $*"
    fi
}

read_only_folder_gives_create_error_for_each_page() {
    require_nobody
    make_site "$site" index.htm news.htm
    chmod 755 "$site"
    expect_refused touch "$site/probe"
    run_cli_as_nobody "$site" index.htm news.htm
    expect_rc 1
    expect_stdout ">index.htm,create error" ">news.htm,create error" ">0 file(s) processed. " ">2 file(s) skipped."
    expect_stderr "Could not create replaced file index.htm" "Could not create replaced file news.htm"
    expect_page "$site" index.htm old
    expect_page "$site" news.htm old
    expect_entries "$site" index.htm news.htm inc.txt
}

read_only_folder_leaves_page_without_blocks_alone() {
    require_nobody
    make_site "$site" plain.htm
    chmod 755 "$site"
    expect_refused touch "$site/probe"
    run_cli_as_nobody "$site" plain.htm
    # Whether the page is reported before or after it is found to have no block, it is
    # counted as skipped and left as it is.
    case "$(head -n 1 "$work/out")" in
    "plain.htm,0" | ">plain.htm,create error") ;;
    *) fail "unexpected entry [$(head -n 1 "$work/out")]" ;;
    esac
    [ "$(tail -n 2 "$work/out")" = "$(printf '>0 file(s) processed. \n>1 file(s) skipped.')" ] ||
        fail "unexpected summary [$(tail -n 2 "$work/out" | tr '\n' '|')]"
    expect_page "$site" plain.htm old
    expect_entries "$site" plain.htm inc.txt
}

problem_that_cannot_be_logged_goes_to_stderr() {
    require_nobody
    make_site "$site" index.htm
    chmod 755 "$site"
    run_cli_as_nobody --log "$site/error.log" "$site" index.htm
    expect_rc 1
    expect_stdout ">index.htm,create error" ">0 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not create replaced file index.htm"
    expect_page "$site" index.htm old
    expect_entries "$site" index.htm inc.txt
}

unreadable_page_gives_read_error() {
    require_nobody
    own_site index.htm news.htm
    chmod 000 "$site/index.htm"
    expect_refused cat "$site/index.htm"
    run_cli_as_nobody "$site" index.htm news.htm
    expect_rc 1
    expect_stdout ">index.htm,read error" "news.htm,2" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not read file index.htm"
    expect_page "$site" index.htm old
    expect_page "$site" news.htm new
    expect_entries "$site" index.htm news.htm inc.txt
    [ "$(stat -c %a "$site/index.htm")" = 0 ] || fail "the unreadable page's permission bits changed"
}

unreadable_include_file_gives_missing_include() {
    require_nobody
    own_site index.htm plain.htm
    chmod 000 "$site/inc.txt"
    expect_refused cat "$site/inc.txt"
    run_cli_as_nobody "$site" index.htm plain.htm
    expect_rc 1
    expect_stdout ">index.htm,missing repl. file" "plain.htm,0" ">0 file(s) processed. " ">2 file(s) skipped."
    expect_stderr "Could not locate replacement file $site/inc.txt"
    expect_page "$site" index.htm old
    expect_page "$site" plain.htm old
    expect_entries "$site" index.htm plain.htm inc.txt
}

unreadable_include_file_is_logged() {
    require_nobody
    own_site index.htm
    chmod 000 "$site/inc.txt"
    local logs="$work/logs"
    mkdir -p "$logs"
    rm -f "$logs/error.log"
    chown "$nobody" "$logs"
    run_cli_as_nobody --log "$logs/error.log" "$site" index.htm
    expect_rc 1
    expect_stdout ">index.htm,missing repl. file" ">0 file(s) processed. " ">1 file(s) skipped."
    expect_stderr
    local logged
    logged="$(sed -n '3,$p' "$logs/error.log")"
    [ "$logged" = " -Could not locate replacement file $site/inc.txt in index.htm"$'\r' ] ||
        fail "the log's problem lines are [$(echo "$logged" | tr '\r\n' '^|')]"
    expect_page "$site" index.htm old
    expect_entries "$site" index.htm inc.txt
}

# The folder is like /tmp: everyone may add files, but only a file's owner may replace
# it. The page is the user's; the earlier backup is root's.
backup_owned_by_another_user_gives_backup_error() {
    require_nobody
    own_site index.htm
    chown root:root "$site"
    chmod 1777 "$site"
    printf 'an earlier backup\r\n' >"$site/index.bak"
    chown root:root "$site/index.bak"
    as_nobody touch "$site/probe" || setup_failed "the unprivileged user cannot add files to the folder"
    expect_refused mv -f "$site/probe" "$site/index.bak"
    rm -f "$site/probe"
    run_cli_as_nobody --backup "$site" index.htm
    expect_rc 1
    expect_stdout ">index.htm,backup err" ">0 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not backup file index.htm"
    expect_page "$site" index.htm old
    [ "$(cat "$site/index.bak")" = $'an earlier backup\r' ] || fail "the earlier backup changed"
    expect_entries "$site" index.htm index.bak inc.txt
}

# A copy onto a folder goes into it, as the shell's does; into this one the user may not
# write.
backup_name_taken_by_closed_folder_gives_backup_error() {
    require_nobody
    own_site index.htm
    mkdir "$site/index.bak"
    chmod 755 "$site/index.bak"
    expect_refused touch "$site/index.bak/probe"
    run_cli_as_nobody --backup "$site" index.htm
    expect_rc 1
    expect_stdout ">index.htm,backup err" ">0 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not backup file index.htm"
    expect_page "$site" index.htm old
    [ -d "$site/index.bak" ] && [ -z "$(ls -A "$site/index.bak")" ] || fail "the folder index.bak changed"
    expect_entries "$site" index.htm index.bak inc.txt
}

backup_linked_into_read_only_folder_gives_backup_error() {
    require_nobody
    own_site index.htm
    local archive="$work/archive"
    mkdir -p "$archive"
    chmod 755 "$archive"
    printf 'an earlier backup\r\n' >"$archive/index.bak"
    chown "$nobody" "$archive/index.bak"
    ln -s "$archive/index.bak" "$site/index.bak"
    expect_refused touch "$archive/probe"
    run_cli_as_nobody --backup "$site" index.htm
    expect_rc 1
    expect_stdout ">index.htm,backup err" ">0 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not backup file index.htm"
    expect_page "$site" index.htm old
    [ -L "$site/index.bak" ] || fail "index.bak is no longer a link"
    [ "$(cat "$archive/index.bak")" = $'an earlier backup\r' ] || fail "the earlier backup changed"
    expect_entries "$site" index.htm index.bak inc.txt
    expect_entries "$archive" index.bak
}

page_linked_into_read_only_folder_gives_create_error() {
    require_nobody
    own_site news.htm
    local shared="$work/shared"
    rm -rf "$shared"
    mkdir -p "$shared"
    cp "$work/expected/old/index.htm" "$shared/index.htm"
    chown "$nobody" "$shared/index.htm"
    chmod 755 "$shared"
    ln -s "$shared/index.htm" "$site/index.htm"
    ln -s "$site/inc.txt" "$shared/inc.txt"
    expect_refused touch "$shared/probe"
    run_cli_as_nobody "$site" index.htm news.htm
    expect_rc 1
    expect_stdout ">index.htm,create error" "news.htm,2" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not create replaced file index.htm"
    [ -L "$site/index.htm" ] || fail "index.htm is no longer a link"
    expect_page "$shared" index.htm old
    expect_page "$site" news.htm new
    expect_entries "$site" index.htm news.htm inc.txt
    expect_entries "$shared" index.htm inc.txt
}

read_only_sub_folder_gives_create_error_for_its_pages() {
    require_nobody
    own_site index.htm
    make_site "$site/sub" index.htm
    chmod 755 "$site/sub"
    expect_refused touch "$site/sub/probe"
    run_cli_as_nobody --recursive "$site"
    expect_rc 1
    expect_stdout "index.htm,1" ">sub/index.htm,create error" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not create replaced file sub/index.htm"
    expect_page "$site" index.htm new
    expect_page "$site/sub" index.htm old
    expect_entries "$site" index.htm inc.txt sub
    expect_entries "$site/sub" index.htm inc.txt
}

run_case "read-only folder gives a create error for each page" read_only_folder_gives_create_error_for_each_page
run_case "read-only sub-folder gives a create error for its pages" read_only_sub_folder_gives_create_error_for_its_pages
run_case "read-only folder leaves a page without blocks alone" read_only_folder_leaves_page_without_blocks_alone
run_case "a problem that cannot be logged goes to stderr" problem_that_cannot_be_logged_goes_to_stderr
run_case "unreadable page gives a read error" unreadable_page_gives_read_error
run_case "unreadable include file gives a missing include" unreadable_include_file_gives_missing_include
run_case "unreadable include file is logged" unreadable_include_file_is_logged
run_case "backup owned by another user gives a backup error" backup_owned_by_another_user_gives_backup_error
run_case "backup name taken by a closed folder gives a backup error" backup_name_taken_by_closed_folder_gives_backup_error
run_case "backup linked into a read-only folder gives a backup error" backup_linked_into_read_only_folder_gives_backup_error
run_case "page linked into a read-only folder gives a create error" page_linked_into_read_only_folder_gives_create_error
finish
