#!/usr/bin/env bash
# The run command as people use it: started from a folder of their own, the
# viewer's files and folders named relative to it land there, and what it says
# names them as they were given (a Korean name in the Unix side's UTF-8): a
# counted run with its picture, the sample tree written alone, frames asked
# into a folder that is not there (one line saying so, before anything is
# drawn), the packed sample in the folder --sample names, sample folders it
# cannot use, and without a display the option the user left without a value
# and a counted run that exits 0 with nothing left (no display, no Wine
# program, nothing in $TMPDIR), even when a process it lists to end has
# already gone. A name outside the code page is refused, naming it, as is a
# checkout in such a folder, in one with a character Windows names cannot
# hold, or at too long a path, and run.sh --help answers at once, wherever it
# is asked. A folder of the user's is refused for --write-sample, --sample and
# --packed with nothing in it changed, the viewer's own is written again, an
# empty value is no value, and a Windows-style folder with --packed is refused.
# Beside the test session it runs in a prefix of its own and ends none of the
# session's programs, nor another run's viewer in its own prefix; every run
# leaves nothing behind, Wine's server included; a SIGTERM ends the viewer with
# it, and two Ctrl-C end everything.
# usage: run_command.sh START_VIEWER BUILD_DIR (scripts/start-viewer.sh, what
# scripts/run.sh runs once the build is done)
set -u
start=$1 build=$2
work=$(mktemp -d -u)   # made below, once the trap that removes it is set
mark=kiv-run-command-$$-$RANDOM
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work" || exit 1
# The test session's wineserver: the process working in the prefix's server
# folder (named after the prefix folder's device and inode).
session_server() {
    local prefix=$build/wineprefix server proc
    server=server-$(stat -c '%d %i' "$prefix" | awk '{ printf "%x-%x", $1, $2 }')
    for proc in /proc/[0-9]*; do
        case $(readlink "$proc/cwd" 2>/dev/null) in */"$server") echo "${proc#/proc/}" ;; esac
    done
}
if [ -z "${DISPLAY:-}" ]; then
    # The test session's display: without one the command would start a
    # virtual display and a server of its own.
    DISPLAY=$(sed -n 's/^DISPLAY=//p' "$build/wineprefix/.kiv-session" 2>/dev/null)
    export DISPLAY
fi
[ -n "$DISPLAY" ] || { echo "no display: run this with the test session"; exit 1; }
cd "$work" || exit 1
server=$(session_server)
[ -n "$server" ] || { echo "no wineserver on $build/wineprefix: run this with the test session"; exit 1; }
failed=0
# The processes started with the mark, Wine's server and services among them.
marked() {
    grep -lzsx "KIV_RUN_MARK=$1" /proc/[0-9]*/environ | cut -d/ -f3 |
        while read -r pid; do echo "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) ($pid)"; done
}
# check NAME WANT_STATUS WANT_LAST_LINE VIEWER_ARGUMENT...: and nothing of the
# run left once it has exited.
check() {
    local name=$1 want=$2 line=$3 got last
    shift 3
    KIV_RUN_MARK=${check_mark:-$mark} bash "$start" "$build" "$@" >"$work/$name.printed" 2>&1 </dev/null
    got=$?
    # A refusal's usage text follows it.
    last=$(tr -d '\r' <"$work/$name.printed" | sed '/^usage: viewer/,$d' | tail -n 1)
    if [ "$got" != "$want" ] || [ "$last" != "$line" ]; then
        failed=1
        echo "$name: status $got (not $want), last line '$last', not '$line':"
        sed 's/^/    | /' "$work/$name.printed" | tail -n 20
    fi
    left=$(marked "${check_mark:-$mark}")
    [ -z "$left" ] || { failed=1; echo "$name: still there after the run: $left"; }
}
check counted 0 "viewer: drew 2 frames; the last is in 마지막.png" --frames 2 --png 마지막.png --sample tree
[ -s "$work/마지막.png" ] || { failed=1; echo "counted: no 마지막.png in the folder it was started from"; }
check written 0 "viewer: wrote the sample tree into written" --write-sample written
[ -d "$work/written/Data" ] || { failed=1; echo "written: no tree in the folder it was started from"; }
[ -z "$(ls "$work/written" | grep -x -e Texture.txt -e Object.txt -e Lua.log)" ] ||
    { failed=1; echo "written: the engine's logs were left in the tree"; }
check pngs 1 "viewer: there is no folder missing for --pngs; make it first" --frames 3 --pngs missing --sample tree
[ "$(grep -c '^viewer:' "$work/pngs.printed")" = 1 ] ||
    { failed=1; echo "pngs: more than one line for the missing folder"; }
check packed 0 "viewer: drew 1 frame; the last is in packed.png" --packed --sample own --frames 1 --png packed.png
[ -s "$work/own/data.pcl" ] || { failed=1; echo "packed: no data.pcl in the folder --sample named"; }
check refused 1 "viewer: unknown argument '--bogus'" --packed --bogus
! grep -q Packing "$work/refused.printed" || { failed=1; echo "refused: the sample was packed before the refusal"; }
# A sample folder the viewer cannot use, each named as what it is: a damaged
# archive (not the first file the scene misses in it), a folder without one,
# a file where the loose tree would go.
mkdir -p "$work/damaged" "$work/unpacked"
head -c 4096 /dev/urandom >"$work/damaged/data.pcl"
: >"$work/a-file"
for case in "damaged|--packed|viewer: data.pcl in damaged is not an archive the engine can read" \
    "unpacked|--packed|viewer: no data.pcl in unpacked (scripts/pack-sample.sh makes it)" \
    "a-file||viewer: cannot use the folder a-file"; do
    IFS='|' read -r folder mode line <<<"$case"
    "$(dirname "$start")/wine-run.sh" "$build/viewer/viewer.exe" $mode --sample "$folder" --frames 1 \
        >"$work/$folder.printed" 2>&1 </dev/null
    grep -q "^$line" "$work/$folder.printed" ||
        { failed=1; echo "$folder: not named as '$line':"; sed 's/^/    | /' "$work/$folder.printed"; }
done
# A name outside the code page is refused by name: the viewer would get it as
# a look-alike and write into the user's folder of that name.
mkdir -p "$work/cafe"
echo mine >"$work/cafe/mine.txt"
check outside 1 "viewer: 'café' has letters the system code page (949) cannot hold; name files and folders without them" \
    --write-sample café
[ "$(ls -A "$work/cafe")" = mine.txt ] || { failed=1; echo "outside: the folder cafe was written into"; }
for option in --png --sample; do
    DISPLAY="" check "headless$option" 1 "viewer: $option needs a value" "$option"
done
# An empty value (an unset variable) is no value, never the default nor nowhere.
for option in --png --pngs --sample --write-sample; do
    DISPLAY="" check "empty$option" 1 "viewer: $option needs a value" --frames 1 "$option" ""
done

# A folder of the user's is never written into: the tree, the engine's logs
# and the packing would overwrite or remove what is there. Refused, naming it,
# with everything left as it was.
mkdir -p "$work/mine/Data/Scripts" "$work/mine/tree"
for file in Texture.txt Object.txt Lua.log cloth.png Data/Scripts/Sample.lua tree/mine.txt data.pcl; do
    echo "mine: $file" >"$work/mine/$file"
done
before=$(cd "$work/mine" && find . -printf '%p %s\n' | sort && cat $(find . -type f | sort))
check mine-written 1 "viewer: the folder mine holds files that are not the viewer's; the sample goes only into a new or empty folder, or one the viewer wrote it into before: name another" \
    --write-sample mine
check mine-sample 1 "viewer: the folder mine holds files that are not the viewer's; the sample goes only into a new or empty folder, or one the viewer wrote it into before: name another" \
    --sample mine --frames 2
check mine-packed 1 "pack-sample: mine holds files that are not the packing's; it packs only into a new or empty folder, or one it packed into before: name another" \
    --packed --sample mine --frames 1
[ "$(cd "$work/mine" && find . -printf '%p %s\n' | sort && cat $(find . -type f | sort))" = "$before" ] ||
    { failed=1; echo "mine: the user's folder was changed:"; (cd "$work/mine" && find . | sort | sed 's/^/    | /'); }
# A tree the viewer wrote, and a packed folder it packed, are its own to write again.
check written-again 0 "viewer: wrote the sample tree into written" --write-sample written
check packed-again 0 "viewer: drew 1 frame; the last is in packed.png" --packed --sample own --frames 1 --png packed.png
# A Windows-style name with --packed names one folder for the packing and
# another for the viewer: refused before anything is written.
check windows 1 "pack-sample: 'C:\kivsample' is a Windows-style folder name; --packed packs on the Unix side, where it names another folder than the viewer's: name it as a Unix path (/... or relative, with /)" \
    --packed --sample 'C:\kivsample' --frames 1
[ -z "$(ls -A "$build/wineprefix-player/drive_c/windows" | grep -ix -e data.pcl -e tree)" ] && [ ! -e "$work/C:\kivsample" ] ||
    { failed=1; echo "windows: the packing wrote into another folder"; }

# run.sh --help gives the usage at once, with no build before it; a checkout
# whose path the code page cannot hold is refused before the build, naming it.
scripts=$(dirname "$start")
for asked in "--help" "--frames 1 --help"; do
    said=$(bash "$scripts/run.sh" $asked 2>&1 </dev/null)
    got=$?
    [ "$got" = 0 ] && [ "$(head -n 1 <<<"$said")" = "usage: scripts/run.sh [VIEWER_ARGUMENT...]" ] ||
        { failed=1; echo "run.sh $asked: status $got, not 0 with the usage:"; sed 's/^/    | /' <<<"$said" | tail -n 5; }
done
# So is one no Wine program can start in, or whose files' paths would be too
# long for the Windows programs.
long=$(printf 'x%.0s' $(seq 130))
for case in "café|has letters the Korean code page (949)" "a\"b|has a character Windows file names cannot hold ('\"'" \
    "$long|is $((${#work} + 131)) bytes long in the Korean code page"; do
    IFS='|' read -r folder refusal <<<"$case"
    mkdir -p "$work/$folder"
    cp -r "$scripts" "$work/$folder/scripts"
    said=$(bash "$work/$folder/scripts/build.sh" --quiet 2>&1 </dev/null)
    got=$?
    [ "$got" = 1 ] && grep -qF "checkout, $work/$folder, $refusal" <<<"$said" ||
        { failed=1; echo "a checkout in $folder: status $got, path not refused:"; sed 's/^/    | /' <<<"$said" | tail -n 5; }
done

# ps as the command sees it when a process ends between being listed and being
# signalled: each session the command starts (named by the setsid it runs)
# has one more process, already gone.
mkdir -p "$work/bin" "$work/tmp"
printf '#!/bin/sh\necho $$ >>"%s"\nexec %s "$@"\n' "$work/sessions" "$(command -v setsid)" >"$work/bin/setsid"
printf '#!/bin/sh\n%s "$@"\n[ "$1" != -e ] || sed "s/^/4194304 /; s/$/ S/" "%s"\n' "$(command -v ps)" \
    "$work/sessions" >"$work/bin/ps"
chmod +x "$work/bin/setsid" "$work/bin/ps"
DISPLAY="" PATH="$work/bin:$PATH" TMPDIR="$work/tmp" check_mark=$mark-headless check headless 0 \
    "viewer: drew 2 frames; the last is in 혼자.png" --frames 2 --png 혼자.png --sample tree
[ -s "$work/혼자.png" ] || { failed=1; echo "headless: no 혼자.png"; }
# Wine keeps its servers' sockets in a folder of its own there (wine-*), as X
# keeps its displays' in /tmp/.X11-unix: that is Wine's, not the command's.
left=$(ls -A "$work/tmp" | grep -v '^wine-')
[ -z "$left" ] || { failed=1; echo "headless: left in \$TMPDIR: $left"; }

# Another run's viewer in the player prefix keeps it, and its server: the
# command ends only what is its own.
"$(dirname "$start")/wine-run.sh" "$build/viewer/viewer.exe" --frames 100000 --sample other >/dev/null 2>&1 </dev/null &
other=$!
for _ in $(seq 300); do
    grep -qs 'viewer\.exe' "/proc/$other/cmdline" && [ -e "$work/other/.kiv-sample" ] && break
    sleep 0.1
done
check beside 0 "viewer: drew 1 frame; the last is in beside.png" --frames 1 --png beside.png --sample tree
kill -0 "$other" 2>/dev/null || { failed=1; echo "beside: another run's viewer was ended"; }
kill "$other" 2>/dev/null
wait "$other" 2>/dev/null

# A long run ended by SIGTERM ends its viewer.
KIV_RUN_MARK=$mark-long bash "$start" "$build" --frames 100000 --sample tree >"$work/long.printed" 2>&1 </dev/null &
long=$!
viewer() { grep -lzsx "KIV_RUN_MARK=$mark-long" /proc/[0-9]*/environ | cut -d/ -f3 |
               while read -r pid; do grep -qs 'viewer\.exe' "/proc/$pid/cmdline" && echo "$pid"; done; }
for _ in $(seq 300); do
    [ -n "$(viewer)" ] && break
    sleep 0.1
done
sleep 1
kill -TERM "$long"
wait "$long"
for _ in $(seq 30); do
    [ -n "$(viewer)" ] || break
    sleep 0.1
done
[ -z "$(viewer)" ] || { failed=1; echo "the viewer runs on after SIGTERM to the command: $(viewer)"; }

# Ctrl-C twice to a headless run, as a terminal sends it to the command's
# process group, the second while the first one's clean-up runs: the viewer,
# the display and the work folder all go.
mkdir -p "$work/tmp-twice"
set -m
DISPLAY="" TMPDIR="$work/tmp-twice" KIV_RUN_MARK=$mark-twice bash "$start" "$build" --frames 100000 --sample tree \
    >"$work/twice.printed" 2>&1 </dev/null &
twice=$!
set +m
for _ in $(seq 300); do
    grep -lzsx "KIV_RUN_MARK=$mark-twice" /proc/[0-9]*/environ | cut -d/ -f3 |
        while read -r pid; do grep -qs 'viewer\.exe' "/proc/$pid/cmdline" && echo "$pid"; done | grep -q . && break
    sleep 0.1
done
kill -INT -- -"$twice"
sleep 0.3
kill -INT -- -"$twice" 2>/dev/null
wait "$twice"
got=$?
[ "$got" = 130 ] || { failed=1; echo "twice: status $got, not 130"; sed 's/^/    | /' "$work/twice.printed"; }
# What the command started, Wine's server of the player prefix and its
# services too, goes: what was told to end has a moment to go.
for _ in $(seq 100); do
    left=$(marked "$mark-twice")
    [ -n "$left" ] || break
    sleep 0.1
done
[ -z "$left" ] || { failed=1; echo "twice: still there after two interrupts: $left"; }
left=$(ls -A "$work/tmp-twice" | grep -v '^wine-')
[ -z "$left" ] || { failed=1; echo "twice: left in \$TMPDIR: $left"; }
[ "$(session_server)" = "$server" ] || { failed=1; echo "the test session's wineserver $server was ended"; }
[ "$failed" = 0 ] && echo "the run command takes its paths from where it was started, and leaves the session alone"
exit "$failed"
