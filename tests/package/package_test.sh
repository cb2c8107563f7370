#!/usr/bin/env bash
# The Debian package: its control fields and files, and the installed command line at work.
# As root (CI) it is installed into the machine with apt-get and purged again; otherwise
# it is unpacked into a scratch folder.
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

echo "-- cpack"
cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$work/cpack.log")"
deb="$(echo "$work"/cpack/*.deb)"
[ "$(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version)" = \
    "reririduruv $("$build/cli/reririduruv-cli" --version | awk '{print $NF}')" ] ||
    fail "Package and Version are $(dpkg-deb -f "$deb" Package Version)"
for dependency in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
    dpkg-deb -f "$deb" Depends | grep -q "$dependency" || fail "Depends lacks $dependency"
done

echo "-- the package's files"
id=io.github.reririduruv.reririduruv
expected="/usr/bin/reririduruv /usr/bin/reririduruv-cli /usr/share/applications/$id.desktop"
expected+=" /usr/share/icons/hicolor/128x128/apps/reririduruv.png"
for size in 16 22 24 256 32 48 64; do
    expected+=" /usr/share/icons/hicolor/${size}x${size}/apps/reririduruv.png"
done
expected+=" /usr/share/icons/hicolor/scalable/apps/reririduruv.svg"
expected+=" /usr/share/man/man1/reririduruv-cli.1.gz /usr/share/man/man1/reririduruv.1.gz"
expected+=" /usr/share/metainfo/$id.metainfo.xml"
files="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\./, "", $6); print $6}' | LC_ALL=C sort | tr '\n' ' ')"
[ "$files" = "$expected " ] || fail "the package holds $files"

echo "-- the installed reririduruv-cli refreshes a site"
root="$work/root"
if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W reririduruv >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o DPkg::Lock::Timeout=300 "$deb" >"$work/apt.log" 2>&1 ||
        fail "apt-get install: $(cat "$work/apt.log")"
    installed=yes
    root=""
else
    dpkg-deb -x "$deb" "$root"
fi
file -b "$root/usr/bin/reririduruv-cli" | grep -q ", stripped" || fail "the programs are not stripped"
site="$work/site"
mkdir -p "$site/sub"
printf 'nav\r\n' >"$site/nav.inc"
printf '<reririduruv=../nav.inc>\r\nold\r\n</reririduruv>\r\n' >"$site/sub/page.htm"
out="$("$root/usr/bin/reririduruv-cli" --recursive "$site")" || fail "the run failed: $out"
[ "$out" = $'sub/page.htm,1\n>1 file(s) processed. \n>0 file(s) skipped.' ] || fail "it printed $out"
[ "$(cat "$site/sub/page.htm")" = $'<reririduruv=../nav.inc>nav\r\n</reririduruv>\r' ] ||
    fail "the page is $(od -c "$site/sub/page.htm")"
echo "package test: passed"
