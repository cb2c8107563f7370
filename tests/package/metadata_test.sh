#!/usr/bin/env bash
# Validates the files through which desktops and software centres know the program: the
# desktop entry with desktop-file-validate, the AppStream description with appstreamcli
# (offline), and that both name the same program.
#
# usage: metadata_test.sh SOURCE-FOLDER
#
# Exits with 77 (a skip in ctest's summary) when appstreamcli is not installed, after the
# desktop entry's checks have passed; any other missing tool is a failure.

set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 SOURCE-FOLDER" >&2
    exit 2
fi
resources="$1/resources"
desktop="$resources/reririduruv.desktop"
metainfo="$resources/reririduruv.metainfo.xml"

fail() {
    echo "metadata test: FAILED: $*" >&2
    exit 1
}

command -v desktop-file-validate >/dev/null ||
    fail "desktop-file-validate is not installed (bash scripts/install-deps.sh installs it)"
echo "-- desktop-file-validate reririduruv.desktop"
desktop-file-validate "$desktop" || fail "the desktop entry is not valid"
# desktop-file-validate passes some problems with a hint only.
if desktop-file-validate "$desktop" | grep -q .; then
    fail "desktop-file-validate has remarks on the desktop entry"
fi

echo "-- the AppStream description launches the desktop entry"
grep -qF '<launchable type="desktop-id">reririduruv.desktop</launchable>' "$metainfo" ||
    fail "the AppStream file does not launch reririduruv.desktop"
grep -qF '<id>reririduruv</id>' "$metainfo" || fail "the AppStream id is not reririduruv"

if ! command -v appstreamcli >/dev/null; then
    echo "metadata test: SKIPPED: appstreamcli is not installed, so the AppStream file was" \
        "not validated (bash scripts/install-deps.sh installs it)" >&2
    exit 77
fi
echo "-- appstreamcli validate --no-net reririduruv.metainfo.xml"
# Strict: infos fail as well. The id is the desktop file's name, "reririduruv", which the
# program has no domain of its own to turn into the reverse-DNS form that AppStream
# recommends; that one remark alone is lowered to a pedantic one.
appstreamcli validate --no-net --strict --override=cid-desktopapp-is-not-rdns=pedantic \
    "$metainfo" || fail "the AppStream file is not valid"
