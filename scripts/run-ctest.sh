#!/usr/bin/env bash
# Runs CTest over a build tree as the test command does: on a virtual display
# of its own (Xvfb, 1024x768, 24-bit, GLX), with the Korean locale and the
# build's Wine prefix, then stops Wine and the display.
#   scripts/run-ctest.sh BUILD_DIR [CTEST_ARGUMENT...]   (exits with CTest's status)
# SIGTERM, SIGHUP or SIGINT ends CTest and everything it started before the
# script exits (143, 129, 130): CTest runs as a session of its own, which the
# processes it starts keep even in process groups of their own (the busy loops
# of infra_endings), so none of them goes on writing into the build tree or
# starts Wine again on a display that is gone.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath "$1")
shift

export WINEPREFIX=$build/wineprefix WINEARCH=win32 WINEDEBUG=-all
# Wine uses code page 949 and the Korean locale only when the Unix locale says so.
export LC_ALL=ko_KR.UTF-8
# Every test process must see this display: the session fixture
# (scripts/wine-session.sh) restarts the prefix's wineserver with it.
read -r display xvfb_pid < <("$root/scripts/xvfb-start.sh") || exit 1
export DISPLAY=$display

session=""
work=$(mktemp -d)
in_session() {
    ps -e -o pid=,sid= | awk -v s="$session" '$2 == s { print $1 }'
}
# Asked first, then made to: a process may start others until it is gone.
stop_session() {
    [ -n "$session" ] || return 0
    local pids round
    for round in 1 2 3 4 5 6 7 8 9 10; do
        pids=$(in_session)
        [ -n "$pids" ] || return 0
        if [ "$round" -le 4 ]; then
            kill -TERM $pids 2>/dev/null
        else
            kill -KILL $pids 2>/dev/null
        fi
        sleep 0.25
    done
    echo "run-ctest: processes of the run still there: $(in_session | paste -sd ' ')" >&2
}
finish() {
    stop_session
    wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap finish EXIT
trap 'exit 143' TERM
trap 'exit 129' HUP
trap 'exit 130' INT

cd "$build" || exit 1
# The session's id is the pid of the shell that setsid starts (or forks first,
# when it must), which then becomes CTest.
setsid -w bash -c 'echo $$ >"$0"; exec ctest "$@"' "$work/session" "$@" &
starter=$!
for _ in $(seq 100); do
    [ -s "$work/session" ] && break
    kill -0 "$starter" 2>/dev/null || break
    sleep 0.05
done
session=$(cat "$work/session" 2>/dev/null)
wait "$starter"
exit $?
