#!/usr/bin/env bash
# The two Debian packages hold what they should, each with its own copyright and changelog:
# reririduruv-cli the command line, its manual page and bash completion, and no Qt or X in
# its Depends; reririduruv the desktop program, desktop entry, metadata, icons and manual
# page, and it depends on reririduruv-cli of its own version. The completion and the
# programs work. As root (CI) the command line is installed alone with apt-get first (it
# must pull in no Qt), then the desktop program, and both are purged again; otherwise the
# packages are unpacked into a scratch folder.
#   package_test.sh BUILD-FOLDER
set -euo pipefail
build="$(realpath "$1")"
work="$(mktemp -d /tmp/reririDuruv-package.XXXXXX)"
installed=()
fail() { echo "package test: FAILED: $*" >&2; exit 1; }
trap '[ ${#installed[@]} -eq 0 ] || apt-get purge -y -q -o DPkg::Lock::Timeout=300 "${installed[@]}" >/dev/null 2>&1
    rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$work/cpack.log")"
cli_deb="$(echo "$work"/cpack/reririduruv-cli_*.deb)"
window_deb="$(echo "$work"/cpack/reririduruv_*.deb)"
id=io.github.reririduruv.reririduruv
root="$work/root"
while read -r deb package expected; do
    expected="$(printf '%s\n' $expected /usr/share/doc/$package/{changelog.Debian.gz,copyright} |
        LC_ALL=C sort | tr '\n' ' ')"
    files="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\./, "", $6); print $6}' | LC_ALL=C sort | tr '\n' ' ')"
    [ "$files" = "$expected" ] || fail "$package holds $files"
    dpkg-deb -x "$deb" "$root"
    doc="$root/usr/share/doc/$package"
    # Read as dpkg reads it; a warning of its parser is a fault too.
    changelog="$(gunzip -c "$doc/changelog.Debian.gz" | dpkg-parsechangelog -l - 2>&1)" || :
    [ "$(awk '/^(Source|Version):/ {printf "%s ", $2} /warning|error/' <<<"$changelog")" = \
        "$(dpkg-deb -W --showformat='${Package} ${Version} ' "$deb")" ] || fail "the changelog of $package: $changelog"
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$doc/copyright" ||
        fail "the copyright of $package"
done <<EOF
$cli_deb reririduruv-cli $(echo /usr/bin/reririduruv-cli /usr/share/{bash-completion/completions/reririduruv-cli,man/man1/reririduruv-cli.1.gz})
$window_deb reririduruv $(echo /usr/bin/reririduruv /usr/share/applications/$id.desktop /usr/share/metainfo/$id.metainfo.xml \
    /usr/share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/reririduruv.png \
    /usr/share/icons/hicolor/scalable/apps/reririduruv.svg /usr/share/man/man1/reririduruv.1.gz)
EOF
depends="$(dpkg-deb -f "$cli_deb" Depends)"
! grep -qiE 'qt|libgl|libx' <<<"$depends" || fail "reririduruv-cli depends on $depends"
version="$(dpkg-deb -f "$window_deb" Version)"
[[ "$(dpkg-deb -f "$window_deb" Depends)," == *"reririduruv-cli (= $version),"* &&
    "$(dpkg-deb -f "$cli_deb" Version)" = "$version" ]] || fail "reririduruv needs another reririduruv-cli"

apt_install() {
    installed+=("$1")
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o DPkg::Lock::Timeout=300 "$2" \
        >"$work/apt.log" 2>&1 || fail "apt-get install $1: $(cat "$work/apt.log")"
}
if [ "$(id -u)" -eq 0 ] && [ -z "$(dpkg-query -W reririduruv reririduruv-cli 2>/dev/null)" ]; then
    plan="$(apt-get install -s -q "$cli_deb" | awk '/^Inst / {print $2}')"
    ! grep -qiE 'qt|libgl|libx' <<<"$plan" || fail "installing reririduruv-cli would install $plan"
    apt_install reririduruv-cli "$cli_deb"
    root=""
fi
mkdir -p "$work/site/sub/pages.htm"
printf 'nav\r\n' >"$work/site/nav.inc"
printf '<reririduruv=../nav.inc>\r\nold\r\n</reririduruv>\r\n' >"$work/site/sub/page.htm"
touch "$work/site/sub/"{page.txt,.page.htm}
out="$("$root/usr/bin/reririduruv-cli" --recursive "$work/site")" || fail "the run failed: $out"
[ "$out" = $'sub/page.htm,1\n>1 file(s) processed. \n>0 file(s) skipped.' ] || fail "it printed $out"
source "$root/usr/share/bash-completion/completions/reririduruv-cli"
while IFS='|' read -r words expected; do
    eval "COMP_WORDS=(reririduruv-cli $words)"
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _reririduruv_cli
    [ "${COMPREPLY[*]}" = "$expected" ] || fail "completing $words gave ${COMPREPLY[*]}"
done <<EOF
--ver|--verbose --version
--log $work/si $work/si|$work/site
-r $work/site/sub ''|page.htm
EOF
[ -z "$root" ] && apt_install reririduruv "$window_deb"
[ "$(timeout 60 "$root/usr/bin/reririduruv" --version)" = "reririduruv $version" ] ||
    fail "reririduruv --version did not answer"
echo "package test: passed"
