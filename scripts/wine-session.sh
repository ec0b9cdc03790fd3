#!/usr/bin/env bash
# start: a persistent wineserver for the prefix, warmed up by one throw-away
# process so later programs start fast; stop: ends the server and its services.
set -u
export WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
case "${1:-}" in
    start) wineserver -p >/dev/null 2>&1 </dev/null && wine cmd /c exit >/dev/null 2>&1 </dev/null; exit 0 ;;
    stop) wineserver -k; exit 0 ;;
    *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
