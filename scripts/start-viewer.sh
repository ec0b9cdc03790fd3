#!/usr/bin/env bash
# Starts the engine sample of a build tree under Wine, as scripts/run.sh does
# once the build is done:
#   scripts/start-viewer.sh BUILD_DIR [VIEWER_ARGUMENT...]
# The viewer runs in the folder this was started from, so the files and folders
# its arguments name are taken from there. Without a display it runs on a
# virtual one: 120 frames (unless --frames says how many), the last written to
# BUILD_DIR/viewer/last-frame.png (unless --png names a file); --write-sample
# only writes the tree. With --packed the tree is first packed into
# BUILD_DIR/viewer/packed/data.pcl (scripts/pack-sample.sh).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath "$1")
shift
export WINEPREFIX=$build/wineprefix
viewer=$build/viewer/viewer.exe
packed=false frames=false png=false write=false
for a in "$@"; do
    case "$a" in
        --packed) packed=true ;;
        --frames) frames=true ;;
        --png) png=true ;;
        --write-sample) write=true ;;
    esac
done
# The viewer, after packing the tree when the packed mode is asked for.
start_viewer() {
    if $packed; then
        echo "Packing the sample tree into $build/viewer/packed/data.pcl."
        "$root/scripts/pack-sample.sh" "$viewer" "$build/archive/tools/pcl.exe" "$build/viewer/packed"
    fi
    "$root/scripts/wine-run.sh" "$viewer" "$@"
}
if [ -n "${DISPLAY:-}" ]; then
    $write || echo "Starting the engine sample $viewer: drag with the left mouse button to orbit, wheel to zoom, Escape quits."
    start_viewer "$@"
else
    read -r display xvfb_pid < <("$root/scripts/xvfb-start.sh")
    trap 'wineserver -k >/dev/null 2>&1 || true; kill "$xvfb_pid" 2>/dev/null || true' EXIT
    export DISPLAY=$display
    # 120 frames unless counted; the last goes to BUILD_DIR/viewer/last-frame.png unless named.
    if ! $frames && ! $write; then
        $png || set -- "$@" --png "$build/viewer/last-frame.png"
        set -- "$@" --frames 120
    fi
    echo "No display: running the engine sample $viewer on a virtual one ($*)."
    start_viewer "$@"
fi
