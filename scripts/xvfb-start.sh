#!/usr/bin/env bash
# Starts a virtual X display for the tests (1024x768, 24-bit, GLX for
# Direct3D) on a free display number and prints ":N PID" once it accepts
# clients. The server is detached from the caller's output. Ended by a signal
# before it has printed, it ends the server it started.
set -euo pipefail
# The work folder is named first and made once the traps that remove it are set.
work=$(mktemp -d -u)
trap 'rm -rf "$work"' EXIT
# $! names the server from the moment it is made, before any line after it runs.
trap '[ -z "${!:-}" ] || kill "$!" 2>/dev/null; exit 143' TERM
trap '[ -z "${!:-}" ] || kill "$!" 2>/dev/null; exit 129' HUP
trap '[ -z "${!:-}" ] || kill "$!" 2>/dev/null; exit 130' INT
mkdir -m 700 "$work"
command -v Xvfb >/dev/null || {
    echo "xvfb-start: there is no Xvfb on this machine: scripts/setup.sh installs it (as root)" >&2
    exit 1
}
# -displayfd picks the first free number itself and reports it when ready,
# so concurrent starts cannot collide.
setsid Xvfb -displayfd 3 -screen 0 1024x768x24 +extension GLX -nolisten tcp \
    3>"$work/number" </dev/null >/dev/null 2>"$work/said" &
pid=$!
# No command substitution from here on: a signal whose trap runs while bash
# reads one can leave the trap a syntax error instead of ending the server.
for ((tries = 0; tries < 100; tries++)); do
    if [ -s "$work/number" ]; then
        read -r number <"$work/number" || true
        echo ":${number//[^0-9]/} $pid"
        exit 0
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill "$pid" 2>/dev/null || true
echo "xvfb-start: Xvfb did not start within 10 s; it said:" >&2
sed 's/^/    /' "$work/said" | tail -n 10 >&2
echo "xvfb-start: with a display of your own, set DISPLAY to it and the commands use it instead" >&2
exit 1
