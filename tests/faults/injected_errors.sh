#!/usr/bin/env bash
# System calls of the refresh made to fail with strace: whatever fails, each page is then
# exactly its old or its new version, the failure is reported, and no file is left over.
source "$(dirname "$0")/lib.sh"
init "$@"

site="$work/site"

two_pages() { make_site "$site" index.htm news.htm; }
one_page() { make_site "$site" index.htm; }

# index.htm fails to be replaced; news.htm, refreshed after it, shows the run goes on.
expect_index_not_replaced() {
    expect_rc 1
    expect_stdout ">index.htm,create error" "news.htm,2" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not create replaced file index.htm"
    expect_page "$site" index.htm old
    expect_page "$site" news.htm new
    expect_entries "$site" index.htm news.htm inc.txt
}

temp_file="$(on_file 'reririDuruv\.tmp')"
page_file="$(on_file 'index\.htm')"
include_file="$(on_file 'inc\.txt')"

failed_flush_of_new_page_keeps_old_page() {
    inject two_pages "fsync;$new_file;error=EIO" -- "$site" index.htm news.htm
    expect_index_not_replaced
}

failed_rename_keeps_old_page_and_removes_new_file() {
    inject two_pages "rename,renameat,renameat2;index\.htm\";error=EIO" -- "$site" index.htm news.htm
    expect_index_not_replaced
}

failed_naming_of_new_file_keeps_old_page() {
    inject two_pages "linkat;\.reririDuruv-;error=ENOSPC" -- "$site" index.htm news.htm
    expect_index_not_replaced
}

failed_close_of_new_file_keeps_old_page() {
    # Late write errors of network file systems show at close.
    inject two_pages "close;$new_file;error=EIO" -- "$site" index.htm news.htm
    expect_index_not_replaced
}

failed_permission_bits_keep_old_page() {
    inject two_pages "fchmod;$new_file;error=EPERM" -- "$site" index.htm news.htm
    expect_index_not_replaced
}

full_disk_while_copying_to_page_keeps_old_page() {
    inject two_pages "copy_file_range;$temp_file;error=ENOSPC" -- "$site" index.htm news.htm
    expect_index_not_replaced
}

full_disk_while_writing_temporary_file_keeps_old_page() {
    inject two_pages "write;$temp_file;error=ENOSPC" -- "$site" index.htm news.htm
    expect_index_not_replaced
}

failed_close_of_temporary_file_keeps_old_page() {
    inject two_pages "close;$temp_file;error=EIO" -- "$site" index.htm news.htm
    expect_index_not_replaced
}

kernel_copy_refused_falls_back_to_reading_and_writing() {
    inject two_pages "copy_file_range;$temp_file;error=EXDEV" -- "$site" index.htm news.htm
    expect_rc 0
    expect_stdout "index.htm,1" "news.htm,2" ">2 file(s) processed. " ">0 file(s) skipped."
    expect_page "$site" index.htm new
    expect_page "$site" news.htm new
    expect_entries "$site" index.htm news.htm inc.txt
}

full_disk_in_copy_by_reading_and_writing_keeps_old_page() {
    inject two_pages \
        "copy_file_range;$temp_file;error=EXDEV" \
        "write;$new_file;error=ENOSPC" \
        -- "$site" index.htm news.htm
    expect_index_not_replaced
}

nameless_file_refused_falls_back_to_hidden_named_file() {
    inject two_pages "openat,open;O_TMPFILE;error=EOPNOTSUPP" -- "$site" index.htm news.htm
    grep -q 'reririDuruv-[A-Za-z0-9]\{6\}' "$work/trace.log" ||
        fail "the copy did not fall back to a named new file"
    expect_rc 0
    expect_stdout "index.htm,1" "news.htm,2" ">2 file(s) processed. " ">0 file(s) skipped."
    expect_page "$site" index.htm new
    expect_page "$site" news.htm new
    expect_entries "$site" index.htm news.htm inc.txt
}

failed_rename_of_hidden_named_file_removes_it() {
    inject two_pages \
        "openat,open;O_TMPFILE;error=EOPNOTSUPP" \
        "rename,renameat,renameat2;index\.htm\";error=EIO" \
        -- "$site" index.htm news.htm
    expect_index_not_replaced
}

failed_flush_of_hidden_named_file_removes_it() {
    inject two_pages \
        "openat,open;O_TMPFILE;error=EOPNOTSUPP" \
        "fsync;\.reririDuruv-;error=EIO" \
        -- "$site" index.htm news.htm
    expect_index_not_replaced
}

failed_read_of_page_reports_read_error() {
    inject two_pages "read;$page_file;error=EIO" -- "$site" index.htm news.htm
    expect_rc 1
    expect_stdout ">index.htm,read error" "news.htm,2" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not read file index.htm"
    expect_page "$site" index.htm old
    expect_page "$site" news.htm new
    expect_entries "$site" index.htm news.htm inc.txt
}

failed_read_of_include_file_reports_missing_include() {
    inject two_pages "pread64,read;$include_file;error=EIO" -- "$site" index.htm news.htm
    expect_rc 1
    expect_stdout ">index.htm,missing repl. file" "news.htm,2" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not locate replacement file $site/inc.txt"
    expect_page "$site" index.htm old
    expect_page "$site" news.htm new
    expect_entries "$site" index.htm news.htm inc.txt
}

failed_flush_of_backup_reports_backup_error() {
    inject two_pages "fsync;$new_file;error=EIO" -- --backup "$site" index.htm news.htm
    expect_rc 1
    expect_stdout ">index.htm,backup err" "news.htm,2" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not backup file index.htm"
    expect_page "$site" index.htm old
    expect_page "$site" news.htm new
    # news.bak is the old news.htm; index.bak was never completed.
    expect_entries "$site" index.htm news.htm news.bak inc.txt
    cmp -s "$site/news.bak" "$work/expected/old/news.htm" || fail "news.bak is not the old news.htm"
}

failed_rename_of_backup_reports_backup_error() {
    inject two_pages "rename,renameat,renameat2;index\.bak\";error=EIO" -- --backup "$site" index.htm news.htm
    expect_rc 1
    expect_stdout ">index.htm,backup err" "news.htm,2" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not backup file index.htm"
    expect_page "$site" index.htm old
    expect_entries "$site" index.htm news.htm news.bak inc.txt
}

failed_delete_of_temporary_file_is_a_problem() {
    # Only the delete after the page fails; the run's last delete then succeeds.
    inject one_page "unlink,unlinkat;reririDuruv\.tmp;error=EACCES" -- "$site" index.htm
    expect_stderr "Could not delete temporary file"
    expect_stdout "index.htm,1" ">1 file(s) processed. " ">0 file(s) skipped."
    expect_page "$site" index.htm new
    expect_entries "$site" index.htm inc.txt
    # A reported problem must show in the exit status.
    expect_rc 1
}

temporary_file_that_cannot_be_deleted_stays_and_is_reported() {
    # Every delete fails: after the page and at the end of the run. The temporary file is
    # the one file allowed to remain, as it is reported.
    inject one_page "unlink,unlinkat;reririDuruv\.tmp;error=EACCES+" -- "$site" index.htm
    expect_rc 1
    expect_stderr "Could not delete temporary file" "Could not delete temporary file"
    expect_stdout "index.htm,1" ">1 file(s) processed. " ">0 file(s) skipped."
    expect_page "$site" index.htm new
    expect_entries "$site" index.htm inc.txt reririDuruv.tmp
}

run_case "failed flush of the new page keeps the old page" failed_flush_of_new_page_keeps_old_page
run_case "failed rename keeps the old page and removes the new file" failed_rename_keeps_old_page_and_removes_new_file
run_case "failed naming of the new file keeps the old page" failed_naming_of_new_file_keeps_old_page
run_case "failed close of the new file keeps the old page" failed_close_of_new_file_keeps_old_page
run_case "failed permission bits keep the old page" failed_permission_bits_keep_old_page
run_case "full disk while copying to the page keeps the old page" full_disk_while_copying_to_page_keeps_old_page
run_case "full disk while writing the temporary file keeps the old page" full_disk_while_writing_temporary_file_keeps_old_page
run_case "failed close of the temporary file keeps the old page" failed_close_of_temporary_file_keeps_old_page
run_case "kernel copy refused falls back to reading and writing" kernel_copy_refused_falls_back_to_reading_and_writing
run_case "full disk in the copy by reading and writing keeps the old page" full_disk_in_copy_by_reading_and_writing_keeps_old_page
run_case "nameless file refused falls back to a hidden named file" nameless_file_refused_falls_back_to_hidden_named_file
run_case "failed rename of the hidden named file removes it" failed_rename_of_hidden_named_file_removes_it
run_case "failed flush of the hidden named file removes it" failed_flush_of_hidden_named_file_removes_it
run_case "failed read of the page reports a read error" failed_read_of_page_reports_read_error
run_case "failed read of the include file reports it missing" failed_read_of_include_file_reports_missing_include
run_case "failed flush of the backup reports a backup error" failed_flush_of_backup_reports_backup_error
run_case "failed rename of the backup reports a backup error" failed_rename_of_backup_reports_backup_error
run_case "failed delete of the temporary file is a problem" failed_delete_of_temporary_file_is_a_problem
run_case "temporary file that cannot be deleted stays and is reported" temporary_file_that_cannot_be_deleted_stays_and_is_reported
finish
