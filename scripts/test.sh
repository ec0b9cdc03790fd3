#!/usr/bin/env bash
# The test command: prepares the machine, builds everything, and runs every
# test program under Wine on a virtual display with the Korean locale
# (scripts/run-ctest.sh). Exits with CTest's status; SIGTERM or SIGHUP ends
# CTest and everything it started.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/build.sh --quiet
exec bash scripts/run-ctest.sh build -j"$(nproc)" --output-on-failure
