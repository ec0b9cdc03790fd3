#!/usr/bin/env bash
# Creates the build tree's Wine prefix once: 32-bit, no Mono/Gecko prompts,
# no crash dialog (a crashing test must fail, not wait for a click).
set -euo pipefail
prefix=$1
[ -f "$prefix/.kiv-ready" ] && exit 0
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wineserver -w
touch "$prefix/.kiv-ready"
