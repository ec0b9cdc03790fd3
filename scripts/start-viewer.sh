#!/usr/bin/env bash
# Starts the engine sample of a build tree under Wine, as scripts/run.sh does
# once the build is done:
#   scripts/start-viewer.sh BUILD_DIR [VIEWER_ARGUMENT...]
# The viewer runs in the folder this was started from, so the files and folders
# its arguments name are taken from there. Without a display it runs on a
# virtual one: 120 frames (unless --frames says how many), the last written to
# BUILD_DIR/viewer/last-frame.png (unless --png names a file); --write-sample
# only writes the tree. With --packed the tree is first packed into the sample
# folder's data.pcl (BUILD_DIR/viewer/packed/ unless --sample names one;
# scripts/pack-sample.sh), once the viewer has accepted the arguments.
# It runs in the build's player prefix (scripts/wine-run.sh), so a test run
# beside it is left alone, and ends only what it started: SIGTERM, SIGHUP or
# SIGINT at any moment ends the viewer, the packing and the virtual display,
# and the prefix's Wine server its programs started (unless another run's
# program is in the prefix); it exits once nothing it started is left.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/own.sh"
if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [VIEWER_ARGUMENT...] (scripts/run.sh builds, then runs this on build/)" >&2
    exit 2
fi
build=$(realpath -m "$1")
shift
viewer=$build/viewer/viewer.exe
[ -f "$viewer" ] || { echo "start-viewer: there is no $viewer: build first (scripts/build.sh, or scripts/run.sh)" >&2; exit 1; }
# Named first, made once its clean-up is in place (as in scripts/run-ctest.sh).
work=$(mktemp -d -u)
prefix=$build/wineprefix-player
# A program of the player prefix that is not this command's (another run's
# viewer); Wine's server and services carry the mark of the program that
# started them. Both are read at once: a process ending meanwhile, whose
# environment can no longer be read, is no other run's.
others_in_prefix() {
    local pid
    for pid in $(grep -lzsxF "WINEPREFIX=$prefix" /proc/[0-9]*/environ | cut -d/ -f3); do
        awk -v RS='\0' -v prefix="WINEPREFIX=$prefix" -v mark="KIV_OWN_MARK=$KIV_OWN_MARK" \
            '$0 == prefix { found = 1 } $0 == mark { ours = 1 } END { exit !(found && !ours) }' \
            "/proc/$pid/environ" 2>/dev/null && ! grep -qs wineserver "/proc/$pid/cmdline" && return 0
    done
    return 1
}
# The player prefix's server, when nothing in the prefix is another run's.
end_server() {
    [ -d "$prefix" ] && ! others_in_prefix && WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
}
stop_display() {
    local xvfb waited
    # The prefix's server goes by itself once its programs are gone, ending its
    # services (on the display until then); one whose programs were ended
    # while they started keeps waiting for them: this command's to end.
    if [ -d "$prefix" ] && ! others_in_prefix; then
        WINEPREFIX=$prefix timeout -s KILL 5 wineserver -w >/dev/null 2>&1 || end_server
    fi
    if [ -s "$work/display" ] && read -r _ xvfb <"$work/display"; then
        kill "$xvfb" 2>/dev/null
    fi
    # Nothing of the command is left when it exits: what was told to end has
    # gone, a server another run's programs held until now too.
    for ((waited = 0; waited < 100; waited++)); do
        own_marked | grep -q . || break
        [ "$waited" != 30 ] || end_server
        sleep 0.1
    done
    rm -rf "$work"
}
own_cleanup stop_display
own_leftovers "$work"
mkdir -m 700 "$work"

# What the arguments ask for, read as the viewer reads them: an option's value
# is never taken for an option of its own.
packed=false frames=false png=false write=false sample=$build/viewer/packed
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
    case "${args[i]}" in
        --packed) packed=true ;;
        --frames) frames=true; i=$((i + 1)) ;;
        --png) png=true; i=$((i + 1)) ;;
        --write-sample) write=true; i=$((i + 1)) ;;
        --sample) [ $((i + 1)) -ge ${#args[@]} ] || sample=${args[i + 1]}; i=$((i + 1)) ;;
        --pngs | --reset-every) i=$((i + 1)) ;;
    esac
done
# The viewer, after packing the tree when the packed mode is asked for; the
# arguments are put to it first, so that a refused one costs no packing.
start_viewer() {
    if $packed; then
        own_run "$root/scripts/wine-run.sh" "$viewer" --check "$@" || return
        echo "Packing the sample tree into $sample/data.pcl."
        own_run "$root/scripts/pack-sample.sh" "$viewer" "$build/archive/tools/pcl.exe" "$sample" || return
    fi
    own_run "$root/scripts/wine-run.sh" "$viewer" "$@"
}
if [ -n "${DISPLAY:-}" ]; then
    $write || echo "Starting the engine sample $viewer: drag with the left mouse button to orbit, wheel to zoom, Escape quits."
    start_viewer "$@"
else
    own_run "$root/scripts/xvfb-start.sh" >"$work/display" || exit 1
    read -r DISPLAY _ <"$work/display"
    export DISPLAY
    # 120 frames unless counted; the last goes to BUILD_DIR/viewer/last-frame.png
    # unless named. Put before the caller's arguments, so that an option of
    # theirs missing its value swallows none of these and is the one refused.
    if ! $frames && ! $write; then
        $png || set -- --png "$build/viewer/last-frame.png" "$@"
        set -- --frames 120 "$@"
    fi
    echo "No display: running the engine sample $viewer on a virtual one ($*)."
    start_viewer "$@"
fi
