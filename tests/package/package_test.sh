#!/usr/bin/env bash
# Builds the Debian package with cpack, checks what it declares and holds, installs it and
# runs the installed programs: reririduruv-cli on a small site, and the window on an X
# server of its own (window_session.sh), which also proves where its error log goes.
#
# usage: package_test.sh BUILD-FOLDER SOURCE-FOLDER
#
# As root, where apt-get is at hand, the package is installed into the machine, so apt-get
# also resolves its dependencies, and removed again at the end. Otherwise, or when a
# reririduruv package is installed already (it stays as it is), the package is unpacked
# into a scratch root and the programs run from there. RERIRIDURUV_PACKAGE_INSTALL=scratch
# asks for the scratch root also as root. The user's own settings and files are never
# touched: the programs run with a home, configuration and data folder of their own.

set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD-FOLDER SOURCE-FOLDER" >&2
    exit 2
fi
build="$(realpath "$1")"
source_dir="$(realpath "$2")"
here="$(cd "$(dirname "$0")" && pwd)"

step="checking the tools"
work=""
installed_here=no

cleanup() {
    local status=$?
    if [ "$installed_here" = yes ]; then
        echo "-- removing the package from the machine again"
        if ! DEBIAN_FRONTEND=noninteractive apt-get purge -y -q -o DPkg::Lock::Timeout=300 \
            reririduruv >"$work/remove.log" 2>&1; then
            cat "$work/remove.log" >&2
            echo "package test: FAILED: could not remove the package reririduruv again" >&2
            status=1
        fi
    fi
    if [ -n "$work" ]; then
        rm -rf "$work"
    fi
    exit "$status"
}
trap cleanup EXIT

fail() {
    echo "package test: FAILED at step \"$step\": $*" >&2
    exit 1
}

begin() {
    step="$1"
    echo "-- $step"
}

for tool in cpack dpkg dpkg-deb dpkg-shlibdeps dpkg-query file gzip cmp Xvfb xdotool xprop \
    python3 timeout; do
    if ! command -v "$tool" >/dev/null; then
        fail "$tool is not installed (bash scripts/install-deps.sh installs it)"
    fi
done
if [ ! -f "$build/CPackConfig.cmake" ]; then
    fail "$build is not a configured build folder (no CPackConfig.cmake)"
fi

mode="${RERIRIDURUV_PACKAGE_INSTALL:-}"
if [ -z "$mode" ]; then
    mode=scratch
    if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
        mode=machine
        if dpkg-query -W -f='${Status}' reririduruv 2>/dev/null |
            grep -q "install ok installed"; then
            echo "   NOTE: a reririduruv package is installed on this machine already; it stays" \
                "as it is, and the package under test goes into a scratch root instead"
            mode=scratch
        fi
    fi
fi
case "$mode" in
machine | scratch) ;;
*) fail "RERIRIDURUV_PACKAGE_INSTALL is \"$mode\"; it can be machine or scratch" ;;
esac

work="$(mktemp -d /tmp/reririDuruv-package.XXXXXX)"
chmod 755 "$work"
export PYTHONDONTWRITEBYTECODE=1

# ---------------------------------------------------------------------------------------
# The package and what it declares

begin "building the package with cpack"
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    fail "cpack failed (its output is above)"
fi
packages=("$work"/cpack/*.deb)
if [ ${#packages[@]} -ne 1 ] || [ ! -f "${packages[0]}" ]; then
    cat "$work/cpack.log" >&2
    fail "cpack wrote ${#packages[@]} .deb files instead of one"
fi
deb="${packages[0]}"
echo "   $(basename "$deb")"

begin "reading the package's control fields"
field() {
    dpkg-deb -f "$deb" "$1"
}
version="$("$build/cli/reririduruv-cli" --version | awk '{print $NF}')"
[ "$(field Package)" = reririduruv ] || fail "Package is \"$(field Package)\", not reririduruv"
[ "$(field Version)" = "$version" ] ||
    fail "Version is \"$(field Version)\", the programs say $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
    fail "Architecture is \"$(field Architecture)\""
for name in Maintainer Section Description; do
    [ -n "$(field "$name")" ] || fail "the package has no $name field"
done
depends="$(field Depends)"
echo "   Depends: $depends"
# The libraries the programs link to, each from its Debian package; Qt's X11 platform
# plugin comes with libqt6gui6.
depended_on="$(tr ',' '\n' <<<"$depends" | sed 's/(.*//; s/|.*//' | tr -d ' ')"
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
    grep -qxF "$package" <<<"$depended_on" || fail "Depends does not name $package"
done
# Every dependency is a package of this machine, where the programs were built and tested.
for package in $depended_on; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        fail "the dependency $package is not a package installed here"
    fi
done

begin "listing the package's files"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' | sort >"$work/files"
{
    echo /usr/bin/reririduruv
    echo /usr/bin/reririduruv-cli
    echo /usr/share/applications/reririduruv.desktop
    echo /usr/share/metainfo/reririduruv.metainfo.xml
    echo /usr/share/icons/hicolor/scalable/apps/reririduruv.svg
    for size in 16 22 24 32 48 64 128 256; do
        echo "/usr/share/icons/hicolor/${size}x${size}/apps/reririduruv.png"
    done
    echo /usr/share/man/man1/reririduruv.1.gz
    echo /usr/share/man/man1/reririduruv-cli.1.gz
} | sort >"$work/expected-files"
if ! diff -u "$work/expected-files" "$work/files" >&2; then
    fail "the package holds other files than expected (- expected, + in the package)"
fi

begin "checking the package's files"
unpacked="$work/unpacked"
dpkg-deb -x "$deb" "$unpacked"
for program in reririduruv reririduruv-cli; do
    description="$(file -b "$unpacked/usr/bin/$program")"
    [[ "$description" == ELF*executable* || "$description" == ELF*shared\ object* ]] ||
        fail "/usr/bin/$program is not a program: $description"
    [[ "$description" == *", stripped"* ]] || fail "/usr/bin/$program is not stripped: $description"
done
# The theme's icons are the pictures drawn for the window, and the desktop entry names them.
for size in 16 22 24 32 48 64 128 256; do
    icon="$unpacked/usr/share/icons/hicolor/${size}x${size}/apps/reririduruv.png"
    [[ "$(file -b "$icon")" == "PNG image data, $size x $size,"* ]] ||
        fail "the ${size}x$size icon is $(file -b "$icon")"
    cmp -s "$icon" "$source_dir/resources/reririduruv-$size.png" ||
        fail "the ${size}x$size icon is not resources/reririduruv-$size.png"
done
svg="$unpacked/usr/share/icons/hicolor/scalable/apps/reririduruv.svg"
[[ "$(file -b "$svg")" == "SVG Scalable Vector Graphics image"* ]] ||
    fail "the scalable icon is $(file -b "$svg")"
cmp -s "$svg" "$source_dir/resources/reririduruv.svg" ||
    fail "the scalable icon is not resources/reririduruv.svg"
desktop="$unpacked/usr/share/applications/reririduruv.desktop"
cmp -s "$desktop" "$source_dir/resources/reririduruv.desktop" ||
    fail "the desktop entry is not resources/reririduruv.desktop"
cmp -s "$unpacked/usr/share/metainfo/reririduruv.metainfo.xml" \
    "$source_dir/resources/reririduruv.metainfo.xml" ||
    fail "the AppStream file is not resources/reririduruv.metainfo.xml"
desktop_key() {
    sed -n "s/^$1=//p" "$desktop"
}
[ "$(desktop_key Exec)" = reririduruv ] || fail "the desktop entry runs \"$(desktop_key Exec)\""
[ "$(desktop_key Icon)" = reririduruv ] ||
    fail "the desktop entry shows the icon \"$(desktop_key Icon)\""
for source_page in app/reririduruv.1 cli/reririduruv-cli.1; do
    page="$(basename "$source_page")"
    manual="$unpacked/usr/share/man/man1/$page.gz"
    gzip -t "$manual" || fail "the manual page $page.gz is not a good gzip file"
    gzip -dc "$manual" | cmp -s - "$source_dir/$source_page" ||
        fail "the manual page $page.gz is not $source_page"
done

# ---------------------------------------------------------------------------------------
# Installing

if [ "$mode" = machine ]; then
    begin "installing the package into the machine with apt-get"
    # Taken as installed by this test from here on, so that a half-done installation is
    # removed as well.
    installed_here=yes
    # Another apt-get at work (an installation of test tools, say) is waited for.
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        -o DPkg::Lock::Timeout=300 "$deb" >"$work/install.log" 2>&1; then
        cat "$work/install.log" >&2
        fail "apt-get could not install the package (its output is above)"
    fi
    dpkg-query -W -f='${Status} ${Version}' reririduruv | grep -q "install ok installed $version" ||
        fail "dpkg does not list reririduruv $version as installed"
    root=""
    for program in reririduruv reririduruv-cli; do
        [ "$(command -v "$program")" = "/usr/bin/$program" ] ||
            fail "$program on PATH is \"$(command -v "$program")\", not /usr/bin/$program"
    done
else
    begin "unpacking the package into a scratch root"
    root="$work/root"
    dpkg-deb -x "$deb" "$root"
fi
bin="$root/usr/bin"
echo "   programs in $bin"

# ---------------------------------------------------------------------------------------
# The installed command line on a small site

begin "refreshing a small site with the installed reririduruv-cli"
site="$work/site"
expected="$work/expected"
mkdir -p "$site/blog" "$expected/blog"
printf '<nav>home | blog</nav>\n' >"$site/nav.inc"
printf '%s\n' '<html>' '<reririduruv=nav.inc>' 'old menu' '</reririduruv>' '</html>' \
    >"$site/index.htm"
printf '%s\n' '<html>' '<reririduruv=nav.inc><nav>home | blog</nav>' '</reririduruv>' \
    '</html>' >"$expected/index.htm"
printf '%s\r\n' '<p>post</p>' '<reririduruv=../nav.inc>' '</reririduruv>' >"$site/blog/post.html"
printf '%s\r\n' '<p>post</p>' '<reririduruv=../nav.inc><nav>home | blog</nav>' '</reririduruv>' \
    >"$expected/blog/post.html"
printf '%s\n' '<reririduruv=gone.inc>' 'kept' '</reririduruv>' >"$site/blog/broken.htm"
cp "$site/blog/broken.htm" "$expected/blog/broken.htm"
cp "$site/nav.inc" "$expected/nav.inc"
printf '%s\n' 'index.htm,1' '>blog/broken.htm,missing repl. file' 'blog/post.html,1' \
    '>2 file(s) processed. ' '>1 file(s) skipped.' >"$work/cli.expected"

said="$("$bin/reririduruv-cli" --version)"
[ "$said" = "reririduruv-cli $version" ] || fail "reririduruv-cli --version says \"$said\""
status=0
(cd "$work" && "$bin/reririduruv-cli" --recursive "$site") >"$work/cli.out" 2>"$work/cli.err" ||
    status=$?
diff -u "$work/cli.expected" "$work/cli.out" >&2 ||
    fail "the processed-files list differs (- expected, + printed)"
[ "$(cat "$work/cli.err")" = "Could not locate replacement file $site/blog/gone.inc" ] ||
    fail "reririduruv-cli reported: $(cat "$work/cli.err")"
[ "$status" -eq 1 ] || fail "reririduruv-cli ended with status $status, not 1 (for broken.htm)"
# Every file of the site as it must be now, and nothing else (no temporary file left).
diff -r "$expected" "$site" >&2 || fail "the site differs from what the refresh must make of it"
status=0
"$bin/reririduruv-cli" --check --quiet "$site/blog" post.html >/dev/null 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "reririduruv-cli --check finds the refreshed page still out of date"

# ---------------------------------------------------------------------------------------
# The installed window

begin "running the installed window on an X server of its own"
if ! bash "$here/window_session.sh" "$bin/reririduruv" "${root:-/}" "$work/window" \
    "$source_dir"; then
    fail "the window's session failed (its output is above)"
fi

echo "package test: passed ($mode installation)"
