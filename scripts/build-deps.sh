#!/usr/bin/env bash
# Builds the third-party libraries for the i686 MinGW target from Debian's own
# source packages, as static libraries with their headers in PREFIX:
# Lua 5.1 (liblua.a), libpng 1.6 (libpng16.a) and FreeImage 3.18
# (libFreeImage.a). zlib comes from the MinGW package. A library whose stamp
# matches the current recipe is left alone, so a second run costs nothing.
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: $0 PREFIX" >&2; exit 2; }
prefix=$(realpath -m "$1")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$prefix/work
jobs=${KIV_JOBS:-$(nproc)}

triple=i686-w64-mingw32
toolchain=$root/cmake/mingw-i686.cmake
# The same code generation as the project's own sources.
arch_flags="-march=pentium4 -msse2 -mfpmath=sse -mstackrealign"
mingw_root=/usr/$triple

# A recipe change (this script or FreeImage's build files) rebuilds everything.
recipe=$(cat "${BASH_SOURCE[0]}" "$root"/scripts/freeimage/* | sha1sum | cut -c1-16)

log() { echo "build-deps: $*"; }

# logged LOGFILE COMMAND...: runs quietly, shows the log's end when it fails.
logged() {
    local logfile=$1; shift
    "$@" >"$logfile" 2>&1 && return 0
    tail -n 40 "$logfile" >&2
    echo "build-deps: failed: $* (full output in $logfile)" >&2
    return 1
}

done_already() { [ "$(cat "$prefix/.$1.stamp" 2>/dev/null)" = "$recipe" ]; }
mark_done() { echo "$recipe" >"$prefix/.$1.stamp"; }

# fetch PACKAGE: unpacks Debian's source package (patches applied) into
# $work/PACKAGE and prints the source folder. The archive sometimes lists a
# newer version than it still serves, so older listed versions are tried too.
fetch() {
    local pkg=$1 dir=$work/$1 v
    rm -rf "$dir" && mkdir -p "$dir"
    for v in $(apt-cache showsrc "$pkg" 2>/dev/null | awk '/^Version:/ { print $2 }' | sort -u -r -V); do
        if (cd "$dir" && apt-get source -qq "$pkg=$v" >"$dir/fetch.log" 2>&1); then
            find "$dir" -mindepth 2 -maxdepth 2 -type d -name debian -printf '%h\n' | head -n 1
            return 0
        fi
        rm -rf "${dir:?}"/* && log "$pkg $v is not available, trying an older version" >&2
    done
    echo "build-deps: cannot fetch the source of $pkg (are deb-src entries set up? run scripts/setup.sh)" >&2
    return 1
}

build_lua() {
    done_already lua && return 0
    log "Lua 5.1"
    local src
    src=$(fetch lua5.1)
    # Debian's build-system patch replaces the static library rule with a
    # libtool one; undo it and use the plain upstream rule. The other patches
    # (extern "C" API, vararg stack fix) stay.
    (cd "$src" && patch -R -s -p1 <"$(ls debian/patches/*debian_make*.patch)")
    # Compiled as C++ (g++ takes .c files as C++), Lua raises its errors with
    # throw instead of longjmp, so they unwind the engine's C++ frames between
    # a protected call and the error: destructors run, and no exception
    # handler registration is left behind on a dead frame. The API keeps C
    # linkage through Debian's extern "C" patch.
    logged "$src/build.log" make -C "$src/src" -j"$jobs" liblua.a \
        CC=$triple-g++ AR="$triple-ar rcu" RANLIB=$triple-ranlib \
        CFLAGS="-O2 -Wall $arch_flags"
    install -d "$prefix/include" "$prefix/lib"
    install -m 644 "$src"/src/{lua.h,luaconf.h,lualib.h,lauxlib.h} "$prefix/include/"
    if [ -f "$src/etc/lua.hpp" ]; then install -m 644 "$src/etc/lua.hpp" "$prefix/include/"; fi
    install -m 644 "$src/src/liblua.a" "$prefix/lib/"
    mark_done lua
}

build_png() {
    done_already png && return 0
    log "libpng 1.6"
    local src
    src=$(fetch libpng1.6)
    logged "$src/configure.log" cmake -S "$src" -B "$src/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_C_FLAGS="$arch_flags" \
        -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
        -DZLIB_INCLUDE_DIR=$mingw_root/include -DZLIB_LIBRARY=$mingw_root/lib/libz.a
    logged "$src/build.log" cmake --build "$src/build" -j"$jobs"
    install -d "$prefix/include" "$prefix/lib"
    install -m 644 "$src"/{png.h,pngconf.h} "$src/build/pnglibconf.h" "$prefix/include/"
    install -m 644 "$(find "$src/build" -maxdepth 1 -name 'libpng16*.a' | head -n 1)" "$prefix/lib/libpng16.a"
    mark_done png
}

build_freeimage() {
    done_already freeimage && return 0
    log "FreeImage 3.18"
    local src
    src=$(fetch freeimage)
    # The project's mends: a bitmap whose metadata list cannot be made is not
    # handed out, and a plug-in that finds no room in the list is not leaked.
    local p
    for p in "$root"/scripts/freeimage/*.patch; do
        (cd "$src" && patch -s -p1 <"$p")
    done
    logged "$src/configure.log" cmake -S "$root/scripts/freeimage" -B "$src/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DFREEIMAGE_SOURCE="$src" -DKIV_DEPS_PREFIX="$prefix" \
        -DCMAKE_C_FLAGS="$arch_flags" -DCMAKE_CXX_FLAGS="$arch_flags"
    logged "$src/build.log" cmake --build "$src/build" -j"$jobs"
    install -d "$prefix/include" "$prefix/lib"
    install -m 644 "$src/Source/FreeImage.h" "$prefix/include/"
    install -m 644 "$src/build/libFreeImage.a" "$prefix/lib/"
    mark_done freeimage
}

mkdir -p "$prefix" "$work"
build_lua
build_png
build_freeimage   # needs libpng's headers in PREFIX
