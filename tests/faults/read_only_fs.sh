#!/usr/bin/env bash
# A site on a file system mounted read-only (a tmpfs remounted read-only in a private
# mount namespace; root cannot write there either): every page with blocks is reported,
# every page stays as it was, and --check still works.
source "$(dirname "$0")/lib.sh"
enter_private_mount_namespace "$@"
init "$@"

disk="$work/disk"

# Mounts a fresh tmpfs on $disk with the given pages, runs EXTRA (a command, may be
# true) on it, and remounts it read-only.
read_only_disk_with() {
    local extra="$1"
    shift
    umount "$disk" 2>/dev/null
    mount_tmpfs "$disk" size=1m
    make_site "$disk" "$@"
    $extra
    mount -o remount,ro "$disk" || setup_failed "cannot remount the tmpfs read-only"
    if touch "$disk/probe" 2>/dev/null; then
        setup_failed "the read-only tmpfs takes new files"
    fi
}

leave_temporary_file() { printf 'left by a killed run\r\n' >"$disk/reririDuruv.tmp"; }

each_page_gives_create_error() {
    read_only_disk_with true index.htm news.htm
    run_cli "$disk" index.htm news.htm
    expect_rc 1
    expect_stdout ">index.htm,create error" ">news.htm,create error" ">0 file(s) processed. " ">2 file(s) skipped."
    expect_stderr "Could not create replaced file index.htm" "Could not create replaced file news.htm"
    expect_page "$disk" index.htm old
    expect_page "$disk" news.htm old
    expect_entries "$disk" index.htm news.htm inc.txt
}

backup_on_read_only_disk_gives_an_error() {
    read_only_disk_with true index.htm
    run_cli --backup "$disk" index.htm
    expect_rc 1
    # The temporary file is made first, so that is what fails.
    expect_stdout ">index.htm,create error" ">0 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not create replaced file index.htm"
    expect_page "$disk" index.htm old
    expect_entries "$disk" index.htm inc.txt
}

leftover_temporary_file_that_cannot_be_removed_is_reported() {
    read_only_disk_with leave_temporary_file index.htm
    run_cli "$disk" index.htm
    expect_rc 1
    expect_stdout ">index.htm,create error" ">0 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not create replaced file index.htm" "Could not delete temporary file"
    expect_page "$disk" index.htm old
    [ "$(cat "$disk/reririDuruv.tmp")" = $'left by a killed run\r' ] || fail "the leftover temporary file changed"
    expect_entries "$disk" index.htm inc.txt reririDuruv.tmp
}

check_works_on_read_only_disk() {
    read_only_disk_with true index.htm news.htm plain.htm
    run_cli --check "$disk"
    expect_rc 1
    expect_stdout index.htm news.htm
    expect_stderr
    expect_entries "$disk" index.htm news.htm plain.htm inc.txt
}

# A page that is itself a read-only mount point cannot be renamed over (EBUSY), on an
# otherwise writable folder: the new file must not stay behind.
page_that_is_mount_point_gives_create_error() {
    local site="$work/site"
    make_site "$site" index.htm news.htm
    mount --bind "$site/index.htm" "$site/index.htm" || setup_failed "cannot bind-mount the page"
    echo "$site/index.htm" >>"$mounts_file"
    mount -o remount,bind,ro "$site/index.htm" || setup_failed "cannot make the page's mount read-only"
    run_cli "$site" index.htm news.htm
    expect_rc 1
    expect_stdout ">index.htm,create error" "news.htm,2" ">1 file(s) processed. " ">1 file(s) skipped."
    expect_stderr "Could not create replaced file index.htm"
    expect_page "$site" index.htm old
    expect_page "$site" news.htm new
    expect_entries "$site" index.htm news.htm inc.txt
    umount "$site/index.htm"
}

run_case "each page gives a create error" each_page_gives_create_error
run_case "a backup on a read-only disk gives an error" backup_on_read_only_disk_gives_an_error
run_case "a leftover temporary file that cannot be removed is reported" leftover_temporary_file_that_cannot_be_removed_is_reported
run_case "--check works on a read-only disk" check_works_on_read_only_disk
run_case "a page that is a mount point gives a create error" page_that_is_mount_point_gives_create_error
finish
