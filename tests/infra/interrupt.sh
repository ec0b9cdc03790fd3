#!/usr/bin/env bash
# SIGTERM or SIGHUP to the test command ends CTest and everything it started.
# scripts/run-ctest.sh (what scripts/test.sh runs once the build is done) runs
# a CTest tree of two entries: each writes into its folder as the tests write
# into the build tree, one of them through a busy loop in a process group of
# its own (as infra_endings starts them). Once both write, the command gets the
# signal: it must exit with 128 + the signal within a few seconds, and by then
# nothing of the run may be left: no process, no more writing, no display.
# usage: interrupt.sh RUN_CTEST
set -u
run_ctest=$1
work=$(mktemp -d)
cleanup() {
    local pid
    for pid in $(cat "$work"/tree/*.pid 2>/dev/null); do
        kill -KILL "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/tree"
cat >"$work/tree/writer.sh" <<'WRITER'
# writer.sh NAME [own]: writes NAME.alive every tenth of a second, in a process
# group of its own with "own", and records its pid and the display it was given.
cd "$(dirname "$0")"
echo "$DISPLAY" >"$1.display"
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
set_tests_properties(plain grouped PROPERTIES TIMEOUT 120)
TREE

failed=0
for signal in TERM HUP; do
    rm -f "$work"/tree/*.alive "$work"/tree/*.pid "$work"/tree/*.display
    bash "$run_ctest" "$work/tree" -j2 >"$work/printed-$signal" 2>&1 </dev/null &
    command=$!
    for _ in $(seq 300); do
        [ -s "$work/tree/plain.alive" ] && [ -s "$work/tree/grouped.alive" ] && break
        sleep 0.1
    done
    kill -"$signal" "$command"
    ended=false
    for _ in $(seq 100); do
        kill -0 "$command" 2>/dev/null || { ended=true; break; }
        sleep 0.1
    done
    if ! $ended; then
        failed=1
        echo "SIG$signal: the command is still running after 10 s"
        continue
    fi
    wait "$command"
    status=$?
    want=$((128 + $(kill -l "$signal")))
    [ "$status" = "$want" ] || { failed=1; echo "SIG$signal: the command exited with $status, not $want"; }
    for pid in $(cat "$work"/tree/*.pid 2>/dev/null); do
        if kill -0 "$pid" 2>/dev/null; then
            failed=1
            echo "SIG$signal: $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) ($pid) still runs"
        fi
    done
    before=$(cat "$work"/tree/*.alive 2>/dev/null)
    sleep 0.5
    [ "$(cat "$work"/tree/*.alive 2>/dev/null)" = "$before" ] ||
        { failed=1; echo "SIG$signal: the run goes on writing after the command has ended"; }
    display=$(cat "$work/tree/plain.display" 2>/dev/null)
    xvfb=$(tr -dc 0-9 2>/dev/null <"/tmp/.X${display#:}-lock")
    if [ -n "$xvfb" ] && kill -0 "$xvfb" 2>/dev/null; then
        failed=1
        echo "SIG$signal: the display $display (Xvfb $xvfb) still runs"
    fi
    [ "$failed" = 0 ] || sed 's/^/    | /' "$work/printed-$signal"
done
[ "$failed" = 0 ] && echo "SIGTERM and SIGHUP end the test command and everything it started"
exit "$failed"
