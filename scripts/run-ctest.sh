#!/usr/bin/env bash
# Runs CTest over a build tree as the test command does: on a virtual display
# of its own (Xvfb, 1024x768, 24-bit, GLX), in the build's Wine prefix, then
# stops Wine and the display. The Wine programs get the Korean locale from
# scripts/wine-run.sh and scripts/wine-session.sh; CTest, the test scripts and
# their shells keep the caller's, so what they say is in the caller's language.
#   scripts/run-ctest.sh BUILD_DIR [CTEST_ARGUMENT...]   (exits with CTest's status)
# SIGTERM, SIGHUP or SIGINT at any moment ends CTest and everything it started
# before the script exits (143, 129, 130): the display and CTest each run as a
# session of their own (scripts/own.sh), which the processes they start keep
# even in process groups of their own (the busy loops of infra_endings), so
# none of them goes on writing into the build tree or starts Wine again on a
# display that is gone.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [CTEST_ARGUMENT...]" >&2; exit 2; }
[ -d "$1" ] || { echo "run-ctest: there is no build folder $1 (scripts/build.sh makes build/)" >&2; exit 1; }
build=$(realpath "$1")
shift
# The work folder's name comes first and the folder after the clean-up that
# removes it is in place: a signal at any moment finds it named.
work=$(mktemp -d -u)
# The signal traps come after the last command substitution this script
# reads: a trap the shell runs while it still parses one breaks that parse,
# and the signal is then lost. A signal before them ends the script with
# nothing started.
source "$root/scripts/own.sh"
ctest_pid=""
finish() {
    local xvfb
    # The test session of this run, should CTest have been ended before its
    # cleanup step (its own watch would end it a moment later).
    [ -z "$ctest_pid" ] || [ ! -d "$build/wineprefix" ] || KIV_SESSION_OWNER=$ctest_pid "$root/scripts/wine-session.sh" stop "$build" >/dev/null 2>&1
    [ -s "$work/display" ] && read -r _ xvfb <"$work/display" && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
own_cleanup finish
own_leftovers "$work"
mkdir -m 700 "$work" || exit 1

own_run "$root/scripts/xvfb-start.sh" >"$work/display" || exit 1
read -r display _ <"$work/display"
cd "$build" || exit 1
# Every test process must see this display: the session fixture
# (scripts/wine-session.sh) starts the prefix's wineserver with it.
own_start env DISPLAY="$display" WINEPREFIX="$build/wineprefix" WINEARCH=win32 WINEDEBUG=-all ctest "$@"
ctest_pid=$!
wait "$ctest_pid"
