#!/usr/bin/env bash
# Builds everything (preparing the machine first) and starts the engine sample
# (build/viewer/viewer.exe) under Wine on the sample data tree it writes on its
# first run. Extra arguments go to the viewer (--frames N, --png FILE,
# --sample FOLDER, --packed, ...); the files and folders they name are taken
# from the folder the command was started in. With --packed the tree is first
# packed by the pack tool into the sample folder's data.pcl
# (scripts/pack-sample.sh; build/viewer/packed/ unless --sample names one) and
# the viewer reads everything from that archive.
# Without a display it renders 120 frames on a virtual one (unless --frames
# says how many) and writes the last to build/viewer/last-frame.png (unless
# --png names another file). A run of N frames ends with the viewer's line
# saying how many it drew and where the last went; a picture that cannot be
# written fails the command. The build prints a summary only (its steps when
# it fails). SIGTERM, SIGHUP or SIGINT at any moment ends everything it started.
set -euo pipefail
# The usage at once, before the build, wherever it is asked for (not as an
# option's value).
wants_help() {
    local i
    for ((i = 1; i <= $#; i++)); do
        case ${!i} in
            --help | -h) return 0 ;;
            --frames | --png | --pngs | --reset-every | --sample | --write-sample) i=$((i + 1)) ;;
        esac
    done
    return 1
}
if wants_help "$@"; then
    cat <<'USAGE'
usage: scripts/run.sh [VIEWER_ARGUMENT...]
Builds everything, then runs the engine sample under Wine; without a display it
draws 120 frames on a virtual one and writes the last to build/viewer/last-frame.png.
  --frames N             draw N frames (a whole number from 1) and stop
  --png FILE             write the last of them (needs --frames)
  --pngs FOLDER          write every frame into FOLDER, which must be there (needs --frames)
  --reset-every K        reset the device before every K-th frame
  --sample FOLDER        the sample tree's folder (build/viewer/sample/, packed: build/viewer/packed/)
  --packed               pack the tree into FOLDER/data.pcl and read everything from that
  --write-sample FOLDER  write the sample tree into FOLDER and stop
Files and folders are taken from the folder the command was started in.
USAGE
    exit 0
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/own.sh"
own_run bash "$root/scripts/build.sh" --quiet
echo
exec bash "$root/scripts/start-viewer.sh" "$root/build" "$@"
