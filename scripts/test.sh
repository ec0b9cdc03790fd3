#!/usr/bin/env bash
# The test command: prepares the machine, builds everything, and runs every
# test program under Wine on a virtual display with the Korean locale.
# Exits with CTest's status.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/build.sh --quiet

export WINEPREFIX=$root/build/wineprefix WINEARCH=win32 WINEDEBUG=-all
# Wine uses code page 949 and the Korean locale only when the Unix locale says so.
export LC_ALL=ko_KR.UTF-8
# Every test process must see this display: the session fixture
# (scripts/wine-session.sh) restarts the prefix's wineserver with it.
read -r display xvfb_pid < <(scripts/xvfb-start.sh)
export DISPLAY=$display
finish() {
    wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb_pid" 2>/dev/null || true
}
trap finish EXIT

status=0
(cd build && ctest -j"$(nproc)" --output-on-failure) || status=$?
exit $status
