#!/usr/bin/env bash
# How a test run sees each way a program ends, checked as CTest sees it: the
# Unix exit status of the program started through scripts/wine-run.sh, and the
# pipe its output goes to, which must be free once the program has ended (CTest
# waits for it). Several programs run at a time beside one busy loop per
# processor, as on a busy machine, where a crash debugger racing the crashing
# program could end it with status 0.
# usage: endings.sh RUN PROGRAM (RUN: scripts/wine-run.sh, PROGRAM: infra_ending.exe)
set -u
run=$1 program=$2
work=$(mktemp -d -u)   # made below, once the trap that removes it is set
loops=()
finish() {
    kill "${loops[@]}" 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT
mkdir -m 700 "$work" || exit 1
for _ in $(seq "$(nproc)"); do
    timeout 300 bash -c 'while :; do :; done' &
    loops+=($!)
done

# The processes other than this one that can still write to the pipe $1 names.
writers() {
    local inode=${1//[^0-9]/} fd pid flags
    for fd in $(find /proc/[0-9]*/fd -lname "pipe:\[$inode\]" 2>/dev/null); do
        pid=${fd#/proc/}
        pid=${pid%%/*}
        flags=$(sed -n 's/^flags:[[:space:]]*//p' "/proc/$pid/fdinfo/${fd##*/}" 2>/dev/null)
        if [ -n "$flags" ] && (((8#$flags & 3) != 0)); then
            echo "$pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
        fi
    done
}

# run_case CASE STATUS TAG: runs the case Ends.DISABLED_CASE with its output in a pipe
# of its own, and says what is wrong with how it ended, if anything.
run_case() {
    local case=$1 want=$2 tag=$3 got pipe held reader
    local unclosed=$work/unclosed-$tag.txt
    exec 3> >(cat >"$work/printed-$tag")
    reader=$!
    pipe=$(readlink "/proc/$BASHPID/fd/3")
    KIV_CHECK_END=1 KIV_UNCLOSED_FILE="Z:${unclosed//\//\\}" "$run" "$program" --gtest_also_run_disabled_tests \
        --gtest_filter="Ends.DISABLED_$case" >&3 2>&3 </dev/null
    got=$?
    exec 3>&-
    # The server lets go of a program's streams once it has seen the program
    # end, which on a busy machine may come a moment after the Unix exit.
    for _ in 1 2 3 4 5; do
        held=$(writers "$pipe" | sort -u | paste -sd ';')
        [ -n "$held" ] || break
        sleep 0.2
    done
    [ -n "$held" ] || wait "$reader" 2>/dev/null
    if [ "$got" != "$want" ]; then
        echo "$case ended with Unix status $got, not $want"
    fi
    if [ -n "$held" ]; then
        echo "$case has ended, but its output pipe is held by: $held"
    fi
    if [ "$case" = PassingWithAnUnclosedStream ] &&
        [ "$(tr -d '\r' <"$unclosed" 2>/dev/null)" != $'written before the end\nwritten at exit' ]; then
        echo "$case: what it left in the stream is not in the file"
    fi
}

# The prefix's desktop processes, each with its output streams, which must not
# be pipes: a desktop started by a test program holds that program's pipe.
desktops() {
    local system32 proc stream
    system32=$(realpath -m "$WINEPREFIX/drive_c/windows/system32")
    for proc in /proc/[0-9]*; do
        [ "$(readlink "$proc/cwd" 2>/dev/null)" = "$system32" ] || continue
        tr '\0' ' ' <"$proc/cmdline" 2>/dev/null | grep -qi 'explorer\.exe /desktop' || continue
        echo -n "${proc#/proc/}"
        for stream in 0 1 2; do
            echo -n " $stream:$(readlink "$proc/fd/$stream" 2>/dev/null)"
        done
        echo
    done
}

failed=0
# Up before any program needs it, on no program's output.
desktop=$(desktops)
case $desktop in
"" | *pipe:* | *socket:*)
    failed=1
    echo "the session's desktop process is not up, or is on a program's output: '$desktop'" ;;
esac

# Access violations are the cases a racing debugger could end with status 0:
# several of them in every round.
# A program that vanishes with status 0 before the end of its run (as some
# crashes make it) fails as CTest runs it (KIV_CHECK_END).
cases=("WritingThroughNull 5" "WritingThroughNull 5" "WritingThroughNull 5" "WritingThroughNull 5"
       "Aborting 3" "LettingAnExceptionOut 3" "PassingWithAWindow 0" "PassingWithAnUnclosedStream 0"
       "VanishingWithStatus0 1")
for round in 1 2 3 4; do
    jobs=()
    for i in "${!cases[@]}"; do
        read -r case want <<<"${cases[$i]}"
        run_case "$case" "$want" "$round-$i" >"$work/report-$round-$i" &
        jobs+=($!)
    done
    wait "${jobs[@]}"
    for i in "${!cases[@]}"; do
        if [ -s "$work/report-$round-$i" ]; then
            failed=1
            cat "$work/report-$round-$i"
            sed 's/^/    | /' "$work/printed-$round-$i" | tail -n 20
        fi
    done
done

# A build tree under a folder with a Korean name and a space (its prefix the
# session's own, through a link): the program works in its folder, and its end
# mark, kept in the tree's prefix, is found, so a pass and a vanishing program
# are told apart all the same.
tree="$work/내 작업/build"
mkdir -p "$tree/tests/infra"
: >"$tree/CMakeCache.txt"
ln -s "$WINEPREFIX" "$tree/wineprefix"
cp "$program" "$tree/tests/infra/"
for case in "PassingWithAnUnclosedStream 0" "VanishingWithStatus0 1" "WritingThroughNull 5"; do
    read -r case want <<<"$case"
    program="$tree/tests/infra/${program##*/}" run_case "$case" "$want" "korean-$case" >"$work/report-korean-$case"
    if [ -s "$work/report-korean-$case" ]; then
        failed=1
        sed 's/^/under a Korean folder: /' "$work/report-korean-$case"
        sed 's/^/    | /' "$work/printed-korean-$case" | tail -n 20
    fi
done

kill "${loops[@]}" 2>/dev/null
loops=()

# The session holds the desktop for its whole life, with the same process:
# after a pause longer than the one after which Wine closes a desktop nobody is
# on, it is still the one that was up before any of these programs ran.
sleep 2
if [ "$(desktops)" != "$desktop" ]; then
    failed=1
    echo "the desktop process was $desktop before the programs ran and is now $(desktops):" \
        "the session does not hold it"
fi
[ "$failed" = 0 ] && echo "every ending reported truly (4 rounds of ${#cases[@]} beside $(nproc) busy loops)"
exit "$failed"
