#!/usr/bin/env bash
# Creates or updates a Wine prefix of the build tree: 32-bit, no Mono/Gecko
# prompts, no crash debugger or dialog, and the Korean system font names mapped
# onto the Nanum fonts, so text set in "돋움" draws with real Hangul glyphs.
#   scripts/wine-prefix.sh PREFIX [player]
# The tests' prefix runs Direct3D on the calling thread (see below); "player"
# makes the prefix of the engine sample and the benchmarks, with Wine's default
# Direct3D mode, as a player's Wine has it.
# Redone whenever this script changes, so older prefixes get new settings too.
set -euo pipefail
[ $# -ge 1 ] && [ -n "$1" ] || { echo "usage: $0 PREFIX [player]" >&2; exit 2; }
prefix=$(realpath -m "$1")
mode=${2:-tests}
self="$(sha1sum "${BASH_SOURCE[0]}" | cut -c1-16) $mode"
[ "$(cat "$prefix/.kiv-ready" 2>/dev/null)" = "$self" ] && exit 0
# Two programs of the build may start at once on a prefix not made yet.
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
[ "$(cat "$prefix/.kiv-ready" 2>/dev/null)" = "$self" ] && exit 0
csmt='"csmt"=dword:00000000'
[ "$mode" = player ] && csmt='"csmt"=-'

export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
# A server left from an older set-up (a persistent one, say) would keep the old
# settings and the display it started with.
wineserver -k >/dev/null 2>&1 || true
wineboot -i >/dev/null 2>&1

# Registry values with Hangul names must come from a UTF-16 .reg file: other
# ways of adding them go through the shell's code page and store garbage.
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
{
    printf '\xff\xfe'
    sed 's/$/\r/' <<REG | iconv -f UTF-8 -t UTF-16LE
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

; A program that crashes starts no debugger: Wine's own ("winedbg --auto")
; races with the crashing program, and when it ends the program the Unix exit
; status is 0, so a crashed test would pass. Without one the program ends at
; once with the exception code (an access violation gives status 5). Wine's
; set-up leaves a value here alone once it is there.
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"=""
"Auto"="1"

; In the tests' prefix Direct3D runs on the calling thread, not on a
; command-stream thread of its own: the caller and that thread wait for each
; other by spinning, and on a busy machine each wait can last the whole time
; slice of the one that is not running. Tests that create and destroy device
; objects over and over (the allocation-failure sweeps) then ran eight times
; slower than the rest beside busy loops, burning fifteen times the processor
; time. The player's prefix keeps Wine's default (the value removed), so the
; engine sample and the benchmarks run as a player's Wine runs them.
[HKEY_CURRENT_USER\Software\Wine\Direct3D]
$csmt

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"돋움"="NanumGothic"
"굴림"="NanumGothic"
"바탕"="NanumMyeongjo"
"돋움체"="NanumGothicCoding"
"굴림체"="NanumGothicCoding"
"Dotum"="NanumGothic"
"Gulim"="NanumGothic"
"Batang"="NanumMyeongjo"
"DotumChe"="NanumGothicCoding"
"GulimChe"="NanumGothicCoding"

REG
} >"$reg"
# Drive Z: is the Unix root.
wine regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
wineserver -w
echo "$self" >"$prefix/.kiv-ready"
