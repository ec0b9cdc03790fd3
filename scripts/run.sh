#!/usr/bin/env bash
# Builds everything (preparing the machine first) and starts the engine sample
# (build/viewer/viewer.exe) under Wine on the sample data tree it writes on its
# first run. Extra arguments go to the viewer (--frames N, --png FILE,
# --sample FOLDER, --packed). With --packed the tree is first packed by the
# pack tool into build/viewer/packed/data.pcl (scripts/pack-sample.sh) and the
# viewer reads everything from that archive. Without a display it renders 120
# frames on a virtual one (unless --frames says how many) and writes the last
# to build/viewer/last-frame.png (unless --png names another file).
# A run of N frames ends with the viewer's line saying how many it drew and
# where the last went; a picture that cannot be written fails the command.
# The build prints a summary only (its steps when it fails).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/build.sh --quiet
echo

export WINEPREFIX=$root/build/wineprefix
viewer=build/viewer/viewer.exe
packed=false frames=false png=false
for a in "$@"; do
    case "$a" in
        --packed) packed=true ;;
        --frames) frames=true ;;
        --png) png=true ;;
    esac
done
# The viewer, after packing the tree when the packed mode is asked for.
start_viewer() {
    if $packed; then
        echo "Packing the sample tree into build/viewer/packed/data.pcl."
        scripts/pack-sample.sh "$viewer" build/archive/tools/pcl.exe build/viewer/packed
    fi
    scripts/wine-run.sh "$viewer" "$@"
}
if [ -n "${DISPLAY:-}" ]; then
    echo "Starting the engine sample $viewer: drag with the left mouse button to orbit, wheel to zoom, Escape quits."
    start_viewer "$@"
else
    read -r display xvfb_pid < <(scripts/xvfb-start.sh)
    trap 'wineserver -k >/dev/null 2>&1 || true; kill "$xvfb_pid" 2>/dev/null || true' EXIT
    export DISPLAY=$display
    # 120 frames unless counted; the last goes to build/viewer/last-frame.png unless named.
    if ! $frames; then
        $png || set -- "$@" --png build/viewer/last-frame.png
        set -- "$@" --frames 120
    fi
    echo "No display: running the engine sample $viewer on a virtual one ($*)."
    start_viewer "$@"
fi
