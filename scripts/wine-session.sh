#!/usr/bin/env bash
# A test session on the build tree's Wine prefix (CTest fixture, or by hand:
# scripts/wine-session.sh start|stop [BUILD_DIR]).
# start: brings the prefix's settings up to date (scripts/wine-prefix.sh), then
#   starts a persistent wineserver warmed up by one throw-away process, so later
#   programs start fast, and Wine's desktop process, held for the whole session
#   by the build's infra_session_desktop.exe (or the program KIV_SESSION_DESKTOP
#   names): a test program that started the desktop would have its output held
#   open by it. Without a DISPLAY it also starts a virtual display, recorded in
#   the prefix so that scripts/wine-run.sh uses it; a DISPLAY that does not
#   answer is refused.
# stop: ends the server, its services, the desktop and the display it started.
# The session belongs to the process that started it (CTest, or the shell the
# command was typed in; KIV_SESSION_OWNER names another): a watch ends it a
# moment after that process is gone, so a CTest run interrupted or killed before
# its cleanup step leaves nothing running. While the owner lives, another start
# on the prefix is refused, naming the run that has it, and another owner's
# stop leaves it alone: one test run per build tree at a time, even for two
# starts at the same moment (the owner check and the owner's record are one
# step under a lock; the engine sample and the benchmarks have a prefix of
# their own, scripts/wine-run.sh).
# The prefix is always BUILD_DIR's (this checkout's build/ by default), whatever
# WINEPREFIX the caller has, as scripts/wine-run.sh chooses it.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX
WINEPREFIX=$(realpath -m "${2:-$root/build}")/wineprefix
session=$WINEPREFIX/.kiv-session
owner=${KIV_SESSION_OWNER:-$PPID}
export WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

recorded() {
    sed -n "/^$1=/{s/^$1=//p;q}" "$session" 2>/dev/null
}

# Starts and stops on one prefix take turns. The lock goes with the script's
# file descriptor 8, which no program started while it is held may keep: a
# server holding it would hold every later start.
lock_session() {
    exec 8>>"$WINEPREFIX/.kiv-session.lock"
    flock -w 120 8 || { echo "wine-session: $WINEPREFIX stays locked by another start or stop" >&2; exit 1; }
}
unlock_session() {
    exec 8>&-
}

# The session's owner when it is another process that still runs.
other_owner() {
    local other
    other=$(recorded OWNER)
    [ -n "$other" ] && [ "$other" != "$owner" ] && [ "$other" != $$ ] && kill -0 "$other" 2>/dev/null && echo "$other"
}

stop_session() {
    local pid
    # The watch goes with the session it watches (unless it is the watch stopping it).
    pid=$(recorded WATCH_PID)
    [ -z "$pid" ] || [ "$pid" = $$ ] || ! grep -qsF "$session" "/proc/$pid/cmdline" || kill -- -"$pid" 2>/dev/null
    wineserver -k >/dev/null 2>&1 8>&-
    pid=$(recorded XVFB_PID)
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    # The end marks of test programs killed before they could remove them.
    rm -rf "$WINEPREFIX/.kiv-end"
    rm -f "$session"
}

# Wine takes the Korean locale from the Unix one; this script's own messages
# (and the shell's) stay in the caller's.
korean() {
    LC_ALL=ko_KR.UTF-8 "$@"
}

case "${1:-}" in
    start)
        [ -d "$WINEPREFIX" ] || { echo "wine-session: no prefix $WINEPREFIX (build first)" >&2; exit 1; }
        lock_session
        other=$(other_owner)
        if [ -n "$other" ]; then
            echo "wine-session: a test run ($other: $(tr '\0\n' '  ' <"/proc/$other/cmdline" 2>/dev/null)) has" \
                "the session on $WINEPREFIX; one test run per build tree at a time" >&2
            exit 1
        fi
        # A session whose owner is gone, or a server started outside one (it
        # may have another display or none).
        stop_session
        echo "OWNER=$owner" >"$session"
        unlock_session
        "$root/scripts/wine-prefix.sh" "$WINEPREFIX" || { stop_session; exit 1; }
        # The watch is a session of its own, out of reach of a Ctrl-C to
        # CTest's group, and on no output of the caller, who would wait for it.
        setsid bash -c 'while kill -0 "$1" 2>/dev/null && [ "$(sed -n "s/^OWNER=//p" "$2" 2>/dev/null)" = "$1" ]; do
                            sleep 0.5
                        done
                        [ "$(sed -n "s/^OWNER=//p" "$2" 2>/dev/null)" != "$1" ] ||
                            KIV_SESSION_OWNER=$1 exec "$0" stop "$3"' \
            "$0" "$owner" "$session" "$(dirname "$WINEPREFIX")" </dev/null >/dev/null 2>&1 &
        echo "WATCH_PID=$!" >>"$session"
        if [ -z "${DISPLAY:-}" ]; then
            read -r display pid < <("$root/scripts/xvfb-start.sh") || { stop_session; exit 1; }
            printf 'DISPLAY=%s\nXVFB_PID=%s\n' "$display" "$pid" >>"$session"
            export DISPLAY=$display
        elif command -v xdpyinfo >/dev/null && ! timeout 10 xdpyinfo >/dev/null 2>&1; then
            echo "wine-session: the display $DISPLAY does not answer: start it, or unset DISPLAY and a" \
                "virtual one is started" >&2
            stop_session
            exit 1
        fi
        # The server and everything it starts (the desktop process among them)
        # keep this environment: output away from the caller, or it waits forever.
        korean wineserver -p >/dev/null 2>&1 </dev/null
        korean wine cmd /c exit >/dev/null 2>&1 </dev/null
        desktop=${KIV_SESSION_DESKTOP:-$(dirname "$WINEPREFIX")/tests/infra/infra_session_desktop.exe}
        if [ ! -f "$desktop" ]; then
            echo "wine-session: no $desktop: the first test program with a window starts the desktop" >&2
        elif ! korean wine "$desktop" >/dev/null 2>&1 </dev/null; then
            echo "wine-session: the desktop did not start" >&2
            stop_session
            exit 1
        fi
        exit 0 ;;
    stop)
        [ -d "$WINEPREFIX" ] || exit 0
        lock_session
        other=$(other_owner)
        if [ -n "$other" ]; then
            echo "wine-session: the session on $WINEPREFIX belongs to another run ($other); left alone" >&2
            exit 0
        fi
        stop_session
        exit 0 ;;
    *) echo "usage: $0 start|stop [BUILD_DIR]" >&2; exit 2 ;;
esac
