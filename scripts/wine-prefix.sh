#!/usr/bin/env bash
# Creates or updates the build tree's Wine prefix: 32-bit, no Mono/Gecko
# prompts, no crash debugger or dialog, Direct3D on the calling thread, and the
# Korean system font names mapped onto the Nanum fonts, so text set in "돋움"
# draws with real Hangul glyphs.
# Redone whenever this script changes, so older prefixes get new settings too.
set -euo pipefail
prefix=$(realpath -m "$1")
self=$(sha1sum "${BASH_SOURCE[0]}" | cut -c1-16)
[ "$(cat "$prefix/.kiv-ready" 2>/dev/null)" = "$self" ] && exit 0

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
    sed 's/$/\r/' <<'REG' | iconv -f UTF-8 -t UTF-16LE
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

; Direct3D runs on the calling thread, not on a command-stream thread of its
; own: the caller and that thread wait for each other by spinning, and on a
; busy machine each wait can last the whole time slice of the one that is not
; running. Tests that create and destroy device objects over and over (the
; allocation-failure sweeps) then ran eight times slower than the rest beside
; busy loops, burning fifteen times the processor time.
[HKEY_CURRENT_USER\Software\Wine\Direct3D]
"csmt"=dword:00000000

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
