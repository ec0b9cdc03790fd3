#!/usr/bin/env bash
# The run command as people use it: started from a folder of their own, the
# viewer's files and folders named relative to it land there, and what it says
# names them as they were given: a counted run with its picture, the sample
# tree written alone, and frames asked into a folder that is not there (one
# line saying so, before anything is drawn).
# usage: run_command.sh START_VIEWER BUILD_DIR (scripts/start-viewer.sh, what
# scripts/run.sh runs once the build is done)
set -u
start=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "${DISPLAY:-}" ]; then
    # The test session's display: without one the command would start a
    # virtual display and a server of its own.
    DISPLAY=$(sed -n 's/^DISPLAY=//p' "$build/wineprefix/.kiv-session" 2>/dev/null)
    export DISPLAY
fi
[ -n "$DISPLAY" ] || { echo "no display: run this with the test session"; exit 1; }
cd "$work" || exit 1
failed=0
# check NAME WANT_STATUS WANT_LAST_LINE VIEWER_ARGUMENT...
check() {
    local name=$1 want=$2 line=$3 got last
    shift 3
    bash "$start" "$build" "$@" >"$work/$name.printed" 2>&1 </dev/null
    got=$?
    last=$(tr -d '\r' <"$work/$name.printed" | tail -n 1)
    if [ "$got" != "$want" ] || [ "$last" != "$line" ]; then
        failed=1
        echo "$name: status $got (not $want), last line '$last', not '$line':"
        sed 's/^/    | /' "$work/$name.printed" | tail -n 20
    fi
}
check counted 0 "viewer: drew 2 frames; the last is in out.png" --frames 2 --png out.png --sample tree
[ -s "$work/out.png" ] || { failed=1; echo "counted: no out.png in the folder it was started from"; }
check written 0 "viewer: wrote the sample tree into written" --write-sample written
[ -d "$work/written/Data" ] || { failed=1; echo "written: no tree in the folder it was started from"; }
check pngs 1 "viewer: there is no folder missing for --pngs; make it first" --frames 3 --pngs missing --sample tree
[ "$(grep -c '^viewer:' "$work/pngs.printed")" = 1 ] ||
    { failed=1; echo "pngs: more than one line for the missing folder"; }
[ "$failed" = 0 ] && echo "the run command takes its paths from where it was started"
exit "$failed"
