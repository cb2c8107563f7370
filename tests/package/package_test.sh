#!/usr/bin/env bash
# The Debian package holds the programs, the desktop entry, metadata, icons and manual
# pages, and the installed command line works. As root (CI) it is installed into the
# machine with apt-get and purged again; otherwise it is unpacked into a scratch folder.
#   package_test.sh BUILD-FOLDER
set -euo pipefail
build="$(realpath "$1")"
work="$(mktemp -d /tmp/reririDuruv-package.XXXXXX)"
installed=no
fail() {
    echo "package test: FAILED: $*" >&2
    exit 1
}
cleanup() {
    [ "$installed" = yes ] && apt-get purge -y -q -o DPkg::Lock::Timeout=300 reririduruv >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$work/cpack.log")"
deb="$(echo "$work"/cpack/*.deb)"
id=io.github.reririduruv.reririduruv
expected="$(printf '%s ' /usr/bin/reririduruv{,-cli} /usr/share/applications/$id.desktop \
    /usr/share/icons/hicolor/{128x128,16x16,22x22,24x24,256x256,32x32,48x48,64x64}/apps/reririduruv.png \
    /usr/share/icons/hicolor/scalable/apps/reririduruv.svg /usr/share/man/man1/reririduruv{-cli,}.1.gz \
    /usr/share/metainfo/$id.metainfo.xml)"
files="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\./, "", $6); print $6}' | LC_ALL=C sort | tr '\n' ' ')"
[ "$files" = "$expected" ] || fail "the package holds $files"

root="$work/root"
if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W reririduruv >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o DPkg::Lock::Timeout=300 "$deb" \
        >"$work/apt.log" 2>&1 || fail "apt-get install: $(cat "$work/apt.log")"
    installed=yes
    root=""
else
    dpkg-deb -x "$deb" "$root"
fi
mkdir -p "$work/site/sub"
printf 'nav\r\n' >"$work/site/nav.inc"
printf '<reririduruv=../nav.inc>\r\nold\r\n</reririduruv>\r\n' >"$work/site/sub/page.htm"
out="$("$root/usr/bin/reririduruv-cli" --recursive "$work/site")" || fail "the run failed: $out"
[ "$out" = $'sub/page.htm,1\n>1 file(s) processed. \n>0 file(s) skipped.' ] || fail "it printed $out"
echo "package test: passed"
