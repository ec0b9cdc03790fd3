#!/usr/bin/env bash
# Runs a Windows program of the build under Wine, in a prefix of the program's
# build tree (the folder above it that holds CMakeCache.txt, else this
# checkout's build/), with the Korean locale (code page 949) the game's text
# needs: never one the caller's WINEPREFIX names, whose crash debugger could end
# a crashing program with status 0 and whose settings the tests do not rely on.
# The test programs (BUILD/tests/...) run in BUILD/wineprefix, the tests' prefix
# with Direct3D on the calling thread; every other program (the engine sample,
# the benchmarks, the tools) in BUILD/wineprefix-player, with Wine's default
# Direct3D mode as a player's Wine has it, made here when it is missing. Each
# prefix has its own wineserver, so the sample beside a test run ends none of
# its programs. DISPLAY comes from the caller when set; without one the
# virtual display of a running test session (scripts/wine-session.sh) is used.
set -e
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 PROGRAM [ARGUMENT...]" >&2; exit 2; }
[ -f "$1" ] || { echo "wine-run: there is no program $1 (scripts/build.sh builds into build/)" >&2; exit 127; }
command -v wine >/dev/null || { echo "wine-run: Wine is not installed (scripts/setup.sh installs it)" >&2; exit 127; }
dir=$(cd "$(dirname "$1")" && pwd)
program_dir=$dir
while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
[ "$dir" != / ] || dir=$root/build
case $program_dir/ in
    "$dir"/tests/*) export WINEPREFIX="$dir/wineprefix" ;;
    *)
        export WINEPREFIX="$dir/wineprefix-player"
        "$root/scripts/wine-prefix.sh" "$WINEPREFIX" player ;;
esac
tests_session=$dir/wineprefix/.kiv-session
if [ -z "${DISPLAY:-}" ] && [ -f "$tests_session" ]; then
    display=$(sed -n 's/^DISPLAY=//p' "$tests_session")
    pid=$(sed -n 's/^XVFB_PID=//p' "$tests_session")
    if [ -n "$display" ] && kill -0 "$pid" 2>/dev/null; then
        export DISPLAY=$display
    fi
fi
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
# The locale only now: the shell's own messages stay in the caller's language.
if [ "${KIV_CHECK_END:-}" != 1 ]; then
    LC_ALL=ko_KR.UTF-8 exec wine "$@"
fi
# A test program (KIV_CHECK_END=1, set by its CTest entry) writes its code
# where KIV_END_MARK names once it has run to its end. Some crashes end a
# program with status 0 all the same; without that mark, 0 is no pass.
# The mark lives in the prefix, whose test session removes what is left there
# when it stops: a run ended by SIGKILL (CTest's time limit) leaves nothing.
marks=$WINEPREFIX/.kiv-end
mkdir -p "$marks"
mark=$(mktemp -u -p "$marks" end.XXXXXXXXXX)
trap 'rm -f "$mark"' EXIT
(set -C; : >"$mark")
status=0
KIV_END_MARK="Z:${mark//\//\\}" LC_ALL=ko_KR.UTF-8 wine "$@" || status=$?
if [ "$status" = 0 ] && [ "$(cat "$mark")" != 0 ]; then
    echo "wine-run: $1 ended with status 0 before the end of its run (a crash the system reported as" \
        "success): counted as a failure" >&2
    exit 1
fi
exit "$status"
