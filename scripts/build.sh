#!/usr/bin/env bash
# Prepares the machine (scripts/setup.sh), then configures and builds the
# whole project into build/ with the i686 MinGW toolchain. The first build
# also builds the third-party libraries and creates the Wine prefix.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup.sh
mkdir -p build
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >build/configure.log 2>&1 || {
    cat build/configure.log >&2
    exit 1
}
cmake --build build -j"$(nproc)"
