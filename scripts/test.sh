#!/usr/bin/env bash
# The test command: prepares the machine, builds everything, and runs every
# test program under Wine on a virtual display with the Korean locale
# (scripts/run-ctest.sh). Exits with CTest's status; SIGTERM, SIGHUP or SIGINT
# at any moment, the build included, ends everything it started first.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/own.sh"
cd "$root"
own_run bash scripts/build.sh --quiet
exec bash scripts/run-ctest.sh build -j"$(nproc)" --output-on-failure
