#!/usr/bin/env bash
# Makes the packed form of the engine sample's data tree:
#   scripts/pack-sample.sh VIEWER_EXE PCL_EXE FOLDER
# The viewer writes a fresh tree into FOLDER/tree (it needs a display: the
# caller's DISPLAY or the running test session's), and the pack tool packs it
# into FOLDER/data.pcl under the names the engine asks for ("Data/...", the
# forward slash being part of a name inside the archive). `viewer --packed
# --sample FOLDER` then reads everything from that one file.
# FOLDER is the packing's own: one not there yet, an empty one, one it packed
# into before (marked as the viewer marks its sample folders), or one inside
# the viewer's build tree. Any other is refused before anything is written,
# its files left as they are. FOLDER is a Unix path: a Windows-style name (a
# drive letter, a backslash) names another folder here than in the viewer,
# and is refused.
set -euo pipefail
if [ $# -ne 3 ] || [ -z "$3" ]; then
    echo "usage: $0 VIEWER_EXE PCL_EXE FOLDER" >&2
    exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
case $3 in
    [A-Za-z]:* | *\\*)
        echo "pack-sample: '$3' is a Windows-style folder name; --packed packs on the Unix side, where it names" \
            "another folder than the viewer's: name it as a Unix path (/... or relative, with /)" >&2
        exit 1 ;;
esac
viewer=$(realpath "$1")
pcl=$(realpath "$2")
folder=$(realpath -m "$3")
# The same line as the viewer's mark (viewer/main.cpp).
mark=.kiv-sample
mark_text="kiv sample folder: written by the viewer, which may write into it again"
build=$(dirname "$viewer")
while [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do build=$(dirname "$build"); done
if [ -e "$folder" ] && ! { [ -d "$folder" ] && { [ "$(cat "$folder/$mark" 2>/dev/null)" = "$mark_text" ] ||
    [ -z "$(ls -A "$folder")" ] || { [ "$build" != / ] && [[ $folder/ == "$build"/* ]]; }; }; }; then
    echo "pack-sample: $3 holds files that are not the packing's; it packs only into a new or empty folder, or" \
        "one it packed into before: name another" >&2
    exit 1
fi
mkdir -p "$folder"
cd "$folder"
printf '%s\n' "$mark_text" >"$mark"
# Only what this script makes goes: the folder may hold other things.
rm -rf tree data.pcl
"$root/scripts/wine-run.sh" "$viewer" --write-sample tree
"$root/scripts/wine-run.sh" "$pcl" pack -c tree data.pcl
