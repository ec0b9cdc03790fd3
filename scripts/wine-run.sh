#!/usr/bin/env bash
# Runs a Windows program of the build under Wine, in the build tree's own
# prefix, with the Korean locale (code page 949) the game's text needs.
# WINEPREFIX and DISPLAY come from the caller when set; without a DISPLAY the
# virtual display of a running test session (scripts/wine-session.sh) is used.
set -e
if [ -z "${WINEPREFIX:-}" ]; then
    dir=$(cd "$(dirname "$1")" && pwd)
    while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
    export WINEPREFIX="$dir/wineprefix"
fi
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
