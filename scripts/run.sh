#!/usr/bin/env bash
# Builds everything (preparing the machine first) and lists what was built.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/build.sh
echo
echo "Built programs and libraries (run a program with scripts/wine-run.sh PROGRAM):"
find build -path build/deps/work -prune -o -path build/googletest -prune -o -name CMakeFiles -prune -o \
    -path build/wineprefix -prune -o \( -name '*.exe' -o -name '*.a' \) -type f -print | sort
