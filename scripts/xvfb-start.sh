#!/usr/bin/env bash
# Starts a virtual X display for the tests (1024x768, 24-bit, GLX for
# Direct3D) on a free display number and prints ":N PID" once it accepts
# clients. The server is detached from the caller's output.
set -euo pipefail
numfile=$(mktemp)
trap 'rm -f "$numfile"' EXIT
# -displayfd picks the first free number itself and reports it when ready,
# so concurrent starts cannot collide.
setsid Xvfb -displayfd 3 -screen 0 1024x768x24 +extension GLX -nolisten tcp \
    3>"$numfile" </dev/null >/dev/null 2>&1 &
pid=$!
for _ in $(seq 100); do
    if [ -s "$numfile" ]; then
        echo ":$(tr -dc 0-9 <"$numfile") $pid"
        exit 0
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill "$pid" 2>/dev/null || true
echo "xvfb-start: Xvfb did not start" >&2
exit 1
