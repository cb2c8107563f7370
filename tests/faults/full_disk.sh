#!/usr/bin/env bash
# A full disk, made with a small tmpfs in a private mount namespace, or a file-size limit
# (RLIMIT_FSIZE): the page whose new version does not fit is reported and stays exactly as
# it was, no partial file stays behind, and the next page is refreshed.
source "$(dirname "$0")/lib.sh"
enter_private_mount_namespace "$@"
init "$@"

disk="$work/disk"
includes="$work/includes" # on the ordinary disk, so the small disk's space is known
mkdir -p "$includes"

# wide.htm: its include file, outside the small disk, makes the new page WIDTH letters
# wide. fat.htm: the old page is wide and the new one small.
write_wide_pages() {
    local width="$1" letters
    letters="$(head -c "$width" /dev/zero | tr '\0' x)"
    printf '%s\n' "$letters" >"$includes/wide.txt"
    printf '<html>\r\n<reririduruv=%s/wide.txt>old</reririduruv>\r\n</html>\r\n' "$includes" \
        >"$work/expected/old/wide.htm"
    printf '<html>\r\n<reririduruv=%s/wide.txt>%s\r\n</reririduruv>\r\n</html>\r\n' "$includes" "$letters" \
        >"$work/expected/new/wide.htm"
    printf '<html>\r\n<reririduruv=inc.txt>%s</reririduruv>\r\n</html>\r\n' "$letters" >"$work/expected/old/fat.htm"
    cp "$work/expected/new/index.htm" "$work/expected/new/fat.htm"
}

# Mounts a fresh small disk of SIZE on $disk and puts the given pages on it.
small_disk_with() {
    local size="$1"
    shift
    umount "$disk" 2>/dev/null
    mount_tmpfs "$disk" "size=$size"
    make_site "$disk" "$@"
}

# The trace shows the first failed write into the temporary file or into the new file of
# the copy: prints "temporary" or "new" and the error.
first_failed_write() {
    numbered_calls "$work/trace.log" | awk -F '\t' '
        $1 ~ /^(write|copy_file_range)$/ && $3 ~ / = -1 / {
            split($3, ends, " = -1 ")
            target = $1 == "write" ? $3 : substr($3, index($3, ", NULL, ") + 8)
            if (target ~ /^[a-z_]+\([0-9]+<[^>]*\/reririDuruv\.tmp>/ || target ~ /^[0-9]+<[^>]*\/reririDuruv\.tmp>/) where = "temporary"
            else if (target ~ /#[0-9]+>\(deleted\)/) where = "new"
            else where = "other"
            split(ends[2], error, " ")
            print where, error[1]
            exit
        }'
}

temporary_file_filling_disk_gives_create_error() {
    require_strace
    write_wide_pages 64000
    small_disk_with 32k wide.htm index.htm
    run_cli_traced -e trace=write,copy_file_range -- "$disk" wide.htm index.htm
    [ "$(first_failed_write)" = "temporary ENOSPC" ] ||
        setup_failed "expected the temporary file to fill the disk, saw: $(first_failed_write)"
    expect_rc 1
    expect_stdout ">wide.htm,create error" "index.htm,1" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not create replaced file wide.htm"
    expect_page "$disk" wide.htm old
    expect_page "$disk" index.htm new
    expect_entries "$disk" wide.htm index.htm inc.txt
}

new_file_of_copy_not_fitting_gives_create_error() {
    require_strace
    # 64 kB hold the old pages (2 x 4 kB), inc.txt (4 kB) and the 32 kB temporary file,
    # but not a second 32 kB file beside them.
    write_wide_pages 30000
    small_disk_with 64k wide.htm index.htm
    run_cli_traced -e trace=write,copy_file_range -- "$disk" wide.htm index.htm
    [ "$(first_failed_write)" = "new ENOSPC" ] ||
        setup_failed "expected the new file of the copy to fill the disk, saw: $(first_failed_write)"
    expect_rc 1
    expect_stdout ">wide.htm,create error" "index.htm,1" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not create replaced file wide.htm"
    expect_page "$disk" wide.htm old
    expect_page "$disk" index.htm new
    expect_entries "$disk" wide.htm index.htm inc.txt
}

new_page_not_fitting_after_backup_keeps_backup() {
    require_strace
    write_wide_pages 30000
    small_disk_with 64k wide.htm index.htm
    run_cli_traced -e trace=write,copy_file_range -- --backup "$disk" wide.htm index.htm
    [ "$(first_failed_write)" = "new ENOSPC" ] ||
        setup_failed "expected the new file of the copy to fill the disk, saw: $(first_failed_write)"
    expect_rc 1
    expect_stdout ">wide.htm,create error" "index.htm,1" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not create replaced file wide.htm"
    expect_page "$disk" wide.htm old
    expect_page "$disk" index.htm new
    cmp -s "$disk/wide.bak" "$work/expected/old/wide.htm" || fail "wide.bak is not the complete old wide.htm"
    cmp -s "$disk/index.bak" "$work/expected/old/index.htm" || fail "index.bak is not the complete old index.htm"
    expect_entries "$disk" wide.htm wide.bak index.htm index.bak inc.txt
}

backup_not_fitting_gives_backup_error() {
    require_strace
    # The old page takes 32 kB and its backup would take as much again.
    write_wide_pages 30000
    small_disk_with 64k fat.htm index.htm
    run_cli_traced -e trace=write,copy_file_range -- --backup "$disk" fat.htm index.htm
    [ "$(first_failed_write)" = "new ENOSPC" ] ||
        setup_failed "expected the backup copy to fill the disk, saw: $(first_failed_write)"
    expect_rc 1
    expect_stdout ">fat.htm,backup err" "index.htm,1" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not backup file fat.htm"
    expect_page "$disk" fat.htm old
    expect_page "$disk" index.htm new
    expect_entries "$disk" fat.htm index.htm index.bak inc.txt
}

file_size_limit_gives_create_error() {
    write_wide_pages 30000
    local site="$work/site"
    make_site "$site" wide.htm index.htm
    # 16 kB: the pages and the include files fit, the new wide.htm does not. The CLI
    # ignores SIGXFSZ, so its write fails with EFBIG.
    bash -c 'ulimit -f 16 && exec "$@"' limit "$CLI" "$site" wide.htm index.htm \
        </dev/null >"$work/out" 2>"$work/err"
    rc=$?
    [ "$rc" -ne 153 ] || fail "the CLI was ended by SIGXFSZ"
    expect_rc 1
    expect_stdout ">wide.htm,create error" "index.htm,1" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not create replaced file wide.htm"
    expect_page "$site" wide.htm old
    expect_page "$site" index.htm new
    expect_entries "$site" wide.htm index.htm inc.txt
}

# A log on a full disk: the problem is shown on stderr instead, and a line that fitted
# only in part is taken back out, so the log keeps whole lines.
problem_not_fitting_in_log_goes_to_stderr() {
    local logs="$work/logs"
    umount "$logs" 2>/dev/null
    mount_tmpfs "$logs" size=4k
    # 4090 bytes of whole lines: room for 6 more, less than any report line.
    {
        for _ in $(seq 1021); do printf 'ab\r\n'; done
        printf 'abcd\r\n'
    } >"$logs/error.log"
    [ "$(wc -c <"$logs/error.log")" -eq 4090 ] || setup_failed "the log is not 4090 bytes"
    cp "$logs/error.log" "$work/log-before"
    local site="$work/site"
    make_site "$site" index.htm
    printf '<reririduruv=missing.txt>x</reririduruv>\r\n' >"$site/broken.htm"
    run_cli --log "$logs/error.log" "$site" broken.htm index.htm
    expect_rc 1
    expect_stdout ">broken.htm,missing repl. file" "index.htm,1" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not locate replacement file $site/missing.txt"
    cmp -s "$work/log-before" <(head -c 4090 "$logs/error.log") || fail "the log's earlier lines changed"
    # Of what was appended only the blank first header line fits whole.
    tail -c +4091 "$logs/error.log" >"$work/appended"
    if [ -s "$work/appended" ] && ! cmp -s "$work/appended" <(printf ' \r\n'); then
        fail "the log ends in a torn line: [$(od -An -c "$work/appended" | tr -s ' \n' ' ')]"
    fi
    expect_page "$site" index.htm new
    expect_entries "$site" broken.htm index.htm inc.txt
}

run_case "temporary file filling the disk gives a create error" temporary_file_filling_disk_gives_create_error
run_case "new file of the copy not fitting gives a create error" new_file_of_copy_not_fitting_gives_create_error
run_case "new page not fitting after its backup keeps the backup" new_page_not_fitting_after_backup_keeps_backup
run_case "backup not fitting gives a backup error" backup_not_fitting_gives_backup_error
run_case "file-size limit gives a create error" file_size_limit_gives_create_error
run_case "problem not fitting in the log goes to stderr" problem_not_fitting_in_log_goes_to_stderr
finish
