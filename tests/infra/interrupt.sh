#!/usr/bin/env bash
# SIGTERM or SIGHUP to the test command ends CTest and everything it started,
# whenever it comes. scripts/run-ctest.sh (what scripts/test.sh runs once the
# build is done) runs a CTest tree of two entries: each writes into its folder
# as the tests write into the build tree, one of them through a busy loop in a
# process group of its own (as infra_endings starts them). Once both write, and
# again at moments in its first half second (the display starting, CTest
# starting), the command gets the signal: it must exit with 128 + the signal
# (in seconds, with room for a busy machine), and by then nothing of the run
# may be left: no process started with its environment (the display among
# them), no more writing, nothing in its $TMPDIR, and the folder of an entry
# whose own clean-up takes a while removed by that clean-up; a second signal
# while the first one's clean-up runs (a second Ctrl-C to the whole process
# group), even while a helper of that clean-up runs, changes none of that.
# Over a tree with a
# failing entry it exits with CTest's status, 8, and the entry ran in the
# caller's locale (only the Wine programs get the Korean one). Killed, the
# command leaves CTest its display, and both go once CTest has ended.
# usage: interrupt.sh RUN_CTEST
set -u
run_ctest=$1
work=$(mktemp -d -u)   # made below, once the trap that removes it is set
mark=kiv-interrupt-$$-$RANDOM
# Every process started by a run of the command, whatever session it is in.
of_the_run() {
    grep -lzsx "KIV_RUN_MARK=$mark-$1" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 | grep -vx "$BASHPID"
}
cleanup() {
    local pids
    # Only this script's own shell: a copy of it forked for a command and
    # signalled before it became that command leaves the test's folder alone.
    [ "$BASHPID" = $$ ] || return 0
    for _ in $(seq 50); do
        pids=$(of_the_run '.*')
        [ -n "$pids" ] || break
        kill -KILL $pids 2>/dev/null
        sleep 0.1
    done
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 700 "$work" || exit 1
mkdir -p "$work/tree"
cat >"$work/tree/writer.sh" <<'WRITER'
# writer.sh NAME [own|tidy]: writes NAME.alive every tenth of a second, in a
# process group of its own with "own", and records its pid and the display it
# was given. With "tidy" it has a folder NAME.copy that its clean-up, which
# takes a while, removes when it is ended.
cd "$(dirname "$0")"
echo "$DISPLAY" >"$1.display"
if [ "${2:-}" = tidy ]; then
    trap 'sleep 1.5; rm -rf "$1.copy"' EXIT
    mkdir -p "$1.copy"
fi
if [ "${2:-}" = own ]; then
    timeout 120 bash -c 'echo $$ >"$0.pid"; while :; do date +%s%N >"$0.alive"; sleep 0.1; done' "$1" &
    wait
else
    echo $$ >"$1.pid"
    while :; do date +%s%N >"$1.alive"; sleep 0.1; done
fi
WRITER
cat >"$work/tree/CTestTestfile.cmake" <<TREE
add_test(plain "bash" "$work/tree/writer.sh" "plain")
add_test(grouped "bash" "$work/tree/writer.sh" "grouped" "own")
add_test(tidy "bash" "$work/tree/writer.sh" "tidy" "tidy")
set_tests_properties(plain grouped tidy PROPERTIES TIMEOUT 120)
TREE

# A separate tree whose one entry fails: the command exits with CTest's status.
mkdir -p "$work/failing"
echo "add_test(fails \"bash\" \"-c\" \"echo \\\${LC_ALL-unset} >$work/failing/locale; exit 1\")" \
    >"$work/failing/CTestTestfile.cmake"
failed=0
KIV_RUN_MARK=$mark-failing bash "$run_ctest" "$work/failing" >"$work/printed-failing" 2>&1 </dev/null
status=$?
[ "$status" = 8 ] || { failed=1; echo "over a failing entry the command exited with $status, not CTest's 8"; }
[ "$(cat "$work/failing/locale" 2>/dev/null)" = "${LC_ALL-unset}" ] ||
    { failed=1; echo "the entry ran with LC_ALL=$(cat "$work/failing/locale" 2>/dev/null), not the caller's ${LC_ALL-unset}"; }

# The clean-up's last step, removing the command's work folder (the one with
# the display in it), made slow and announced: a second signal then comes while
# a helper of the clean-up runs, which must not end it half-way.
mkdir -p "$work/slow"
printf '#!/bin/sh\nfor a; do [ ! -e "$a/display" ] || { : >"%s"; sleep 1; }; done\nexec %s "$@"\n' \
    "$work/removing" "$(command -v rm)" >"$work/slow/rm"
chmod +x "$work/slow/rm"

# interrupt ROUND SIGNAL [DELAY|-] [AGAIN]: the signal once both entries write,
# or DELAY seconds after the start. With AGAIN the command runs in a process
# group of its own, as a terminal starts it, and the signal goes to the whole
# group twice, AGAIN seconds apart, as a second Ctrl-C does, while the first
# one's clean-up runs; AGAIN "removing": once the clean-up removes its folder.
interrupt() {
    local round=$1 signal=$2 delay=${3:-} again=${4:-} command ended status want left target
    [ "$delay" != - ] || delay=""
    rm -rf "$work"/tree/*.alive "$work"/tree/*.pid "$work"/tree/*.display "$work"/tree/*.copy "$work/removing"
    mkdir -p "$work/tmp-$round"
    local path=$PATH
    [ "$again" != removing ] || path=$work/slow:$PATH
    # With AGAIN job control gives it a group of its own, with SIGINT as a
    # terminal leaves it.
    [ -z "$again" ] || set -m
    KIV_RUN_MARK=$mark-$round TMPDIR=$work/tmp-$round PATH=$path bash "$run_ctest" "$work/tree" -j3 \
        >"$work/printed-$round" 2>&1 </dev/null &
    command=$!
    set +m
    target=$command
    [ -z "$again" ] || target=-$command
    if [ -n "$delay" ]; then
        # From the moment the command runs: before, the signal would find this
        # script's copy, whose own arguments name the command too.
        until [ "$(tr '\0' '\n' <"/proc/$command/cmdline" 2>/dev/null | sed -n 2p)" = "$run_ctest" ] ||
            ! kill -0 "$command" 2>/dev/null; do
            sleep 0.01
        done
        sleep "$delay"
    else
        for _ in $(seq 300); do
            [ -s "$work/tree/plain.alive" ] && [ -s "$work/tree/grouped.alive" ] && [ -s "$work/tree/tidy.alive" ] &&
                break
            sleep 0.1
        done
    fi
    kill -"$signal" -- "$target"
    if [ "$again" = removing ]; then
        for _ in $(seq 300); do
            [ ! -e "$work/removing" ] || break
            sleep 0.1
        done
        kill -"$signal" -- "$target" 2>/dev/null
    elif [ -n "$again" ]; then
        sleep "$again"
        kill -"$signal" -- "$target" 2>/dev/null
    fi
    ended=false
    for _ in $(seq 300); do
        kill -0 "$command" 2>/dev/null || { ended=true; break; }
        sleep 0.1
    done
    if ! $ended; then
        echo "$round: the command is still running 30 s after SIG$signal"
        return 1
    fi
    wait "$command"
    status=$?
    want=$((128 + $(kill -l "$signal")))
    [ "$status" = "$want" ] || { echo "$round: the command exited with $status, not $want"; return 1; }
    # What was told to end has a moment to go (a display takes one).
    for _ in $(seq 100); do
        left=$(of_the_run "$round")
        [ -n "$left" ] || break
        sleep 0.1
    done
    if [ -n "$left" ]; then
        for pid in $left; do
            echo "$round: $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) ($pid) still runs"
        done
        return 1
    fi
    before=$(cat "$work"/tree/*.alive 2>/dev/null)
    sleep 0.5
    [ "$(cat "$work"/tree/*.alive 2>/dev/null)" = "$before" ] ||
        { echo "$round: the run goes on writing after the command has ended"; return 1; }
    [ -z "$(ls -A "$work/tmp-$round")" ] ||
        { echo "$round: the run left in its \$TMPDIR: $(ls -A "$work/tmp-$round")"; return 1; }
    [ ! -e "$work/tree/tidy.copy" ] ||
        { echo "$round: an entry's own clean-up was cut short (tidy.copy is still there)"; return 1; }
}
for round in "TERM" "HUP" "TERM 0" "TERM 0.05" "TERM 0.1" "HUP 0.2" "TERM 0.4" "INT - 0.2" "INT - 1" "HUP - 0.5" \
    "INT - removing"; do
    read -r signal delay again <<<"$round"
    name=SIG$signal
    [ "${delay:--}" = - ] || name+=" after $delay s"
    case $again in
        "") ;;
        removing) name+=" and again while the clean-up removes its folder" ;;
        *) name+=" and again $again s later" ;;
    esac
    if ! interrupt "${name// /-}" "$signal" $delay $again; then
        failed=1
        sed 's/^/    | /' "$work/printed-${name// /-}"
    fi
done
# SIGKILL cannot be caught: CTest runs on alone, on its display, and once it
# has ended the display and the command's work folder go all the same.
rm -rf "$work"/tree/*.alive "$work"/tree/*.pid "$work"/tree/*.display "$work"/tree/*.copy
mkdir -p "$work/tmp-killed"
KIV_RUN_MARK=$mark-killed TMPDIR=$work/tmp-killed bash "$run_ctest" "$work/tree" -j3 >/dev/null 2>&1 </dev/null &
command=$!
for _ in $(seq 300); do
    [ -s "$work/tree/plain.alive" ] && [ -s "$work/tree/grouped.alive" ] && [ -s "$work/tree/tidy.alive" ] && break
    sleep 0.1
done
kill -KILL "$command"
wait "$command" 2>/dev/null
sleep 1
display=$(cat "$work/tree/plain.display")
xvfb=$(of_the_run killed | while read -r pid; do grep -qs '^Xvfb' "/proc/$pid/cmdline" && echo "$pid"; done)
[ -n "$xvfb" ] || { failed=1; echo "SIGKILL: the display $display went while CTest still ran"; }
# CTest and its entries (its session) end.
for pid in $(of_the_run killed); do
    grep -qs '^ctest' "/proc/$pid/cmdline" &&
        kill -KILL $(ps -e -o pid=,sid= | awk -v sid="$pid" '$2 == sid { print $1 }') 2>/dev/null
done
for _ in $(seq 100); do
    [ -n "$(of_the_run killed)" ] || [ -n "$(ls -A "$work/tmp-killed")" ] || break
    sleep 0.1
done
for pid in $(of_the_run killed); do
    failed=1
    echo "SIGKILL: $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) ($pid) still runs after CTest ended"
done
[ -z "$(ls -A "$work/tmp-killed")" ] ||
    { failed=1; echo "SIGKILL: left in \$TMPDIR after CTest ended: $(ls -A "$work/tmp-killed")"; }
[ "$failed" = 0 ] && echo "SIGTERM, SIGHUP and SIGINT at any moment, once or twice, end the test command and everything it started"
exit "$failed"
