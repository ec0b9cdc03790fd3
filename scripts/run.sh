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
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/own.sh"
own_run bash "$root/scripts/build.sh" --quiet
echo
exec bash "$root/scripts/start-viewer.sh" "$root/build" "$@"
