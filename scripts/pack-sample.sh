#!/usr/bin/env bash
# Makes the packed form of the engine sample's data tree:
#   scripts/pack-sample.sh VIEWER_EXE PCL_EXE FOLDER
# The viewer writes a fresh tree into FOLDER/tree (it needs a display: the
# caller's DISPLAY or the running test session's), and the pack tool packs it
# into FOLDER/data.pcl under the names the engine asks for ("Data/...", the
# forward slash being part of a name inside the archive). `viewer --packed
# --sample FOLDER` then reads everything from that one file.
set -euo pipefail
if [ $# -ne 3 ]; then
    echo "usage: $0 VIEWER_EXE PCL_EXE FOLDER" >&2
    exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
viewer=$(realpath "$1")
pcl=$(realpath "$2")
folder=$(realpath -m "$3")
mkdir -p "$folder"
cd "$folder"
# Only what this script makes goes: the folder may hold other things.
rm -rf tree data.pcl
"$root/scripts/wine-run.sh" "$viewer" --write-sample tree
"$root/scripts/wine-run.sh" "$pcl" pack -c tree data.pcl
