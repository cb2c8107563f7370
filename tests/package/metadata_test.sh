#!/usr/bin/env bash
# The desktop entry and the AppStream description validate strictly, without a remark.
#   metadata_test.sh SOURCE-FOLDER
set -euo pipefail
resources="$1/resources"
id=io.github.reririduruv.reririduruv
remarks="$(desktop-file-validate "$resources/$id.desktop" 2>&1)" ||
    { echo "desktop-file-validate: $remarks" >&2; exit 1; }
[ -z "$remarks" ] || { echo "desktop-file-validate: $remarks" >&2; exit 1; }
appstreamcli validate --no-net --strict --pedantic "$resources/$id.metainfo.xml" |
    tee /dev/stderr | grep -qx "✔ Validation was successful."
grep -qF "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$resources/$id.metainfo.xml"
echo "metadata test: passed"
