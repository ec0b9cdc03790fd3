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
# The Wine programs read paths in the Korean code page (949): a checkout whose
# path it cannot hold would build, then fail every program that looks for its
# files (a Korean or a space is fine; a letter such as é is not).
if ! iconv -f UTF-8 -t CP949 <<<"$root" >/dev/null 2>&1; then
    echo "build: the path of this checkout, $root, has letters the Korean code page (949) the programs" \
        "run in cannot hold; clone it into a folder whose path has none" >&2
    exit 1
fi
# Windows file names cannot hold these: Wine cannot even load a program's
# libraries from such a folder.
if [[ $root =~ [\"*?\<\>\|:\\[:cntrl:]] ]]; then
    echo "build: the path of this checkout, $root, has a character Windows file names cannot hold" \
        "('${BASH_REMATCH[0]}'; none of \" * ? < > | : \\ may appear), so no Wine program could start there;" \
        "clone it into a folder whose path has none" >&2
    exit 1
fi
# A Windows program's path holds at most 259 bytes, the drive's "Z:" included;
# the build's programs, their tests' files and the sample tree lie up to 130
# below the checkout.
length=$(iconv -f UTF-8 -t CP949 <<<"$root" | head -c -1 | wc -c)
if [ "$length" -gt 127 ]; then
    echo "build: the path of this checkout, $root, is $length bytes long in the Korean code page; the build's" \
        "files lie up to 130 below it and a Windows program cannot use a path longer than 259, so at most 127" \
        "are left for it: clone it into a folder with a shorter path" >&2
    exit 1
fi
$quiet && echo "Preparing the machine (scripts/setup.sh; the first time installs the tools and fonts)..."
bash scripts/setup.sh
if ! mkdir -p build 2>/dev/null || ! { : >>build/configure.log; } 2>/dev/null || [ ! -w build ]; then
    echo "build: cannot write into $root/build (owned by $(stat -c %U build 2>/dev/null || stat -c %U .));" \
        "run the command as that user, or clone the project into a folder of your own" >&2
    exit 1
fi
# Progress on the terminal: each third-party library as its build begins
# (the first configure builds them), and every 10 s how far the build is.
configure_progress() {
    local line
    while IFS= read -r line; do
        printf '%s\n' "$line" >>build/configure.log
        case $line in build-deps:*) echo "  $line" ;; esac
    done
}
build_progress() {
    local line last=$SECONDS built=0 percent=0
    while IFS= read -r line; do
        printf '%s\n' "$line" >>build/build.log
        case $line in "["*"%] Built target "*) built=$((built + 1)) ;; esac
        [[ ! $line =~ ^\[\ *([0-9]+)%\] ]] || percent=${BASH_REMATCH[1]}
        if ((SECONDS - last >= 10)); then
            echo "  $percent% done, $built targets built"
            last=$SECONDS
        fi
    done
}
$quiet && echo "Configuring (the first time also builds the third-party libraries, several minutes)..."
: >build/configure.log
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake 2>&1 | configure_progress || {
    cat build/configure.log >&2
    echo "The configure step failed: its output is above and in build/configure.log." >&2
    exit 1
}
if ! $quiet; then
    cmake --build build -j"$(nproc)"
    exit 0
fi

echo "Building (steps in build/build.log; the first build takes several minutes)..."
: >build/build.log
if ! cmake --build build -j"$(nproc)" 2>&1 | build_progress; then
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
