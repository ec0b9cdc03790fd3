#!/usr/bin/env bash
# Prepares the machine (scripts/setup.sh), then configures and builds the
# whole project into build/ with the i686 MinGW toolchain. The first build
# also builds the third-party libraries and creates the Wine prefix.
# With --quiet the build's steps go to build/build.log and only a summary is
# printed; when the build fails its steps are printed after all.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
quiet=false
[ "${1:-}" = --quiet ] && quiet=true
bash scripts/setup.sh
mkdir -p build
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >build/configure.log 2>&1 || {
    cat build/configure.log >&2
    exit 1
}
if ! $quiet; then
    cmake --build build -j"$(nproc)"
    exit 0
fi

echo "Building (steps in build/build.log; the first build takes several minutes)..."
if ! cmake --build build -j"$(nproc)" >build/build.log 2>&1; then
    cat build/build.log >&2
    echo "The build failed: its steps are above and in build/build.log." >&2
    exit 1
fi
# What came out: the programs a newcomer runs by name, the rest counted.
built=$(find build -path build/deps/work -prune -o -path build/googletest -prune -o -name CMakeFiles -prune -o \
    -path 'build/wineprefix*' -prune -o \( -name '*.exe' -o -name '*.a' ! -name '*.dll.a' \) -type f -print | sort)
count() { grep -c "$1" <<<"$built" || true; }
echo "Built into build/:"
grep -v -e '^build/tests/' -e '^build/bench/' -e '\.a$' <<<"$built" | sed 's/^/  /'
echo "  and $(count '^build/tests/.*\.exe$') test programs, $(count '^build/bench/.*\.exe$') benchmarks," \
    "$(count '\.a$') libraries; run any program with scripts/wine-run.sh PROGRAM"
warnings=$(grep -E 'warning:' build/build.log || true)
if [ -n "$warnings" ]; then
    echo "Compiler warnings:"
    echo "$warnings"
fi
