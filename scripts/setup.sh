#!/usr/bin/env bash
# Prepares a Debian 12 machine (as root) for building and testing: the i686
# MinGW cross tools, Wine with its 32-bit parts, Xvfb with software OpenGL
# (and xdpyinfo, which tells a display that answers from one that does not),
# the fonts the game's Korean text needs, strace (a test holds programs' exits
# with it), and the source packages of the third-party libraries. Does nothing
# when everything is already there.
set -euo pipefail

packages=(
    cmake make patch xz-utils dpkg-dev
    g++-mingw-w64-i686-posix mingw-w64-i686-dev libz-mingw-w64-dev
    googletest
    wine wine32:i386
    xvfb xauth x11-utils libgl1:i386 libglx0:i386 libglx-mesa0:i386 libgl1-mesa-dri:i386
    libxrandr2:i386 libxrender1:i386 libxi6:i386 libxcursor1:i386 libxinerama1:i386 libxcomposite1:i386
    fonts-nanum locales strace
)

# Prints the packages of the list that are not installed.
missing() {
    local installed p
    installed=$(dpkg-query -W -f='${Package}:${Architecture} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null |
        awk '$2 == "installed" { print $1 }') || true
    for p in "${packages[@]}"; do
        case $p in
            *:*) grep -qx "$p" <<<"$installed" || echo "$p" ;;
            *) grep -q "^$p:" <<<"$installed" || echo "$p" ;;
        esac
    done
}

# Only changes need root: a machine that is ready passes as any user.
as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    need_update=1
fi

# Source entries for the same Debian archives as the binary ones, for
# apt-get source: deb822 stanzas (*.sources) and one-line entries (*.list).
src822=/etc/apt/sources.list.d/kiv-src.sources
srclist=/etc/apt/sources.list.d/kiv-src.list
if [ ! -f $src822 ] && [ ! -f $srclist ] &&
    ! grep -rqsE '^[[:space:]]*(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    stanzas=$(for f in /etc/apt/sources.list.d/*.sources; do
        [ ! -f "$f" ] || awk 'BEGIN { RS = ""; ORS = "\n\n" }
            /(^|\n)Types:([^\n]*[ \t])?deb([ \t\n]|$)/ && /(^|\n)URIs:[^\n]*debian/ && !/(^|\n)Enabled: *no/ {
                sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f"
    done)
    lines=$(for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ ! -f "$f" ] || sed -n 's/^[[:space:]]*deb[[:space:]]\+\(.*debian.*\)$/deb-src \1/p' "$f"
    done)
    if [ -z "$stanzas$lines" ]; then
        lines="deb-src http://deb.debian.org/debian bookworm main
deb-src http://deb.debian.org/debian-security bookworm-security main"
    fi
    [ -z "$stanzas" ] || as_root tee $src822 >/dev/null <<<"$stanzas"
    [ -z "$lines" ] || as_root tee $srclist >/dev/null <<<"$lines"
    need_update=1
fi

todo=$(missing)
if [ -n "$todo" ] || [ $need_update = 1 ] || [ -z "$(apt-cache showsrc lua5.1 2>/dev/null)" ]; then
    # A broken third-party entry must not stop the set-up; a missing package
    # still fails below.
    as_root apt-get update -qq || echo "setup: apt-get update reported errors" >&2
    if [ -n "$todo" ]; then
        # shellcheck disable=SC2086
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $todo >/dev/null
    fi
fi

# Wine takes its code page from the locale: the tests run under ko_KR.UTF-8.
if ! locale -a 2>/dev/null | grep -qix 'ko_KR\.utf-\?8'; then
    as_root sed -i 's/^# *\(ko_KR.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ko_KR.UTF-8 UTF-8' /etc/locale.gen || echo 'ko_KR.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
fi
