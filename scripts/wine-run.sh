#!/usr/bin/env bash
# Runs a Windows program of the build under Wine, in the build tree's own
# prefix, with the Korean locale (code page 949) the game's text needs.
# The prefix is that of the program's build tree (the folder above it that
# holds CMakeCache.txt), else that of this checkout's build/: never one the
# caller's WINEPREFIX names, whose crash debugger could end a crashing program
# with status 0 and whose settings the tests do not rely on. DISPLAY comes from
# the caller when set; without one the virtual display of a running test
# session (scripts/wine-session.sh) is used.
set -e
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=$(cd "$(dirname "$1")" 2>/dev/null && pwd || echo /)
while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
[ "$dir" != / ] || dir=$root/build
export WINEPREFIX="$dir/wineprefix"
if [ -z "${DISPLAY:-}" ] && [ -f "$WINEPREFIX/.kiv-session" ]; then
    display=$(sed -n 's/^DISPLAY=//p' "$WINEPREFIX/.kiv-session")
    pid=$(sed -n 's/^XVFB_PID=//p' "$WINEPREFIX/.kiv-session")
    if [ -n "$display" ] && kill -0 "$pid" 2>/dev/null; then
        export DISPLAY=$display
    fi
fi
export LC_ALL=ko_KR.UTF-8
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# Where no sound device can open, Wine's audio drivers fill the console with
# the sound library's errors on every start: Wine gets no audio driver then,
# and the program's wave output finds no device, as it would anyway. A machine
# with a device (or a sound server) keeps its drivers.
audio_device() {
    local run=${XDG_RUNTIME_DIR:-/run/user/$(id -u)} pcm
    for pcm in /dev/snd/pcmC*D*p; do
        [ -w "$pcm" ] && return 0
    done
    [ -n "${PULSE_SERVER:-}" ] || [ -S "$run/pulse/native" ] || [ -S "$run/pipewire-0" ]
}
overrides="mscoree,mshtml=;winemenubuilder.exe=d"
audio_device || overrides="$overrides;winealsa.drv,winepulse.drv,wineoss.drv=d"
export WINEDLLOVERRIDES=$overrides
exec wine "$@"
