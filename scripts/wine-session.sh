#!/usr/bin/env bash
# A test session on the build tree's Wine prefix (CTest fixture, or by hand:
# scripts/wine-session.sh start|stop [BUILD_DIR]).
# start: brings the prefix's settings up to date (scripts/wine-prefix.sh), then
#   starts a persistent wineserver warmed up by one throw-away process, so later
#   programs start fast, and Wine's desktop process, held for the whole session
#   by the build's infra_session_desktop.exe (or the program KIV_SESSION_DESKTOP
#   names): a test program that started the desktop would have its output held
#   open by it. Without a DISPLAY it also starts a virtual display, recorded in
#   the prefix so that scripts/wine-run.sh uses it.
# stop: ends the server, its services, the desktop and the display it started.
# The prefix is always BUILD_DIR's (this checkout's build/ by default), whatever
# WINEPREFIX the caller has, as scripts/wine-run.sh chooses it.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX
WINEPREFIX=$(realpath -m "${2:-$root/build}")/wineprefix
session=$WINEPREFIX/.kiv-session
export WINEARCH=win32 WINEDEBUG=-all LC_ALL=ko_KR.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

stop_display() {
    [ -f "$session" ] || return 0
    local pid
    pid=$(sed -n 's/^XVFB_PID=//p' "$session")
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    rm -f "$session"
}

case "${1:-}" in
    start)
        [ -d "$WINEPREFIX" ] || { echo "wine-session: no prefix $WINEPREFIX (build first)" >&2; exit 1; }
        "$root/scripts/wine-prefix.sh" "$WINEPREFIX" || exit 1
        # A server already on the prefix may have another display or none.
        wineserver -k >/dev/null 2>&1
        stop_display
        if [ -z "${DISPLAY:-}" ]; then
            read -r display pid < <("$root/scripts/xvfb-start.sh") || exit 1
            printf 'DISPLAY=%s\nXVFB_PID=%s\n' "$display" "$pid" >"$session"
            export DISPLAY=$display
        fi
        # The server and everything it starts (the desktop process among them)
        # keep this environment: output away from the caller, or it waits forever.
        wineserver -p >/dev/null 2>&1 </dev/null
        wine cmd /c exit >/dev/null 2>&1 </dev/null
        desktop=${KIV_SESSION_DESKTOP:-$(dirname "$WINEPREFIX")/tests/infra/infra_session_desktop.exe}
        if [ ! -f "$desktop" ]; then
            echo "wine-session: no $desktop: the first test program with a window starts the desktop" >&2
        elif ! wine "$desktop" >/dev/null 2>&1 </dev/null; then
            echo "wine-session: the desktop did not start" >&2
            exit 1
        fi
        exit 0 ;;
    stop)
        wineserver -k >/dev/null 2>&1
        stop_display
        exit 0 ;;
    *) echo "usage: $0 start|stop [BUILD_DIR]" >&2; exit 2 ;;
esac
