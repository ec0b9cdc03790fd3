#!/usr/bin/env bash
# A test session belongs to the process that started it, as the session of a
# `ctest` typed by hand belongs to that CTest: while it runs, another start on
# the prefix is refused and another's stop leaves it alone; of two starts at
# the same moment one is refused, naming the other run; killed (Ctrl-C,
# SIGPIPE), within seconds nothing of its session is left: no server, service,
# desktop holder or display. A DISPLAY that does not answer is refused. All on
# a prefix of its own, linked from the build's (the server is per prefix
# folder), but for the registry files, which the server writes into in place
# when they have other links.
# usage: session_watch.sh WINE_SESSION BUILD_DIR DESKTOP_EXE
set -u
session=$1 build=$2
export KIV_SESSION_DESKTOP=$3
work=$(mktemp -d -u)   # made below, once the trap that removes it is set
mark=kiv-session-watch-$$-$RANDOM
of_the_session() {
    grep -lzsx "KIV_RUN_MARK=$mark" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3
}
# Every process of the test's sessions, until none is left (a start that is
# still going on makes more), but the server, which is asked to end first.
end_all() {
    local pids
    for _ in $(seq 100); do
        pids=$(of_the_session | while read -r pid; do
            [ "$1" = all ] || ! grep -qs wineserver "/proc/$pid/cmdline" && echo "$pid"; done)
        [ -n "$pids" ] || return 0
        kill -KILL $pids 2>/dev/null
        sleep 0.1
    done
}
cleanup() {
    end_all scripts
    WINEPREFIX=$work/build/wineprefix wineserver -k >/dev/null 2>&1
    end_all all
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 700 "$work" || exit 1
mkdir -p "$work/build"
cp -al "$build/wineprefix" "$work/build/wineprefix" || exit 1
for f in "$work"/build/wineprefix/*.reg; do
    cp --remove-destination "$build/wineprefix/${f##*/}" "$f" || exit 1
done
rm -f "$work/build/wineprefix/.kiv-session" "$work/build/wineprefix/.kiv-session.lock"
unset DISPLAY
failed=0

# The owner: a shell that starts the session, then waits as CTest would.
KIV_RUN_MARK=$mark setsid bash -c '"$0" start "$1" && exec sleep 600' "$session" "$work/build" \
    >"$work/start" 2>&1 </dev/null &
owner=$!
for _ in $(seq 600); do
    [ "$(cat "/proc/$owner/comm" 2>/dev/null)" = sleep ] && break
    kill -0 "$owner" 2>/dev/null || break
    sleep 0.1
done
if [ "$(cat "/proc/$owner/comm" 2>/dev/null)" != sleep ]; then
    echo "the session did not start:"
    sed 's/^/    | /' "$work/start"
    exit 1
fi
# What makes the session: its server and the desktop holder.
held() {
    local pid
    for pid in $(of_the_session); do
        grep -qsE 'wineserver|session_desktop' "/proc/$pid/cmdline" && echo "$pid"
    done | sort
}
up=$(held)

KIV_SESSION_OWNER=$$ "$session" start "$work/build" >"$work/second" 2>&1 </dev/null &&
    { failed=1; echo "a second start on the prefix of a running session passed"; }
grep -q "one test run per build tree at a time" "$work/second" ||
    { failed=1; echo "the second start did not say why it was refused:"; sed 's/^/    | /' "$work/second"; }
KIV_SESSION_OWNER=$$ "$session" stop "$work/build" >/dev/null 2>&1
sleep 1
[ "$(held)" = "$up" ] ||
    { failed=1; echo "another run's start or stop ended programs of the session"; }

kill -KILL "$owner"
wait "$owner" 2>/dev/null
left=""
for _ in $(seq 50); do
    left=$(of_the_session)
    [ -n "$left" ] || break
    sleep 0.1
done
for pid in $left; do
    failed=1
    echo "5 s after its owner was killed: $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) ($pid) still runs"
done

# Two owners starting at the same moment: one session, the other refused.
owners=()
for n in 1 2; do
    KIV_RUN_MARK=$mark setsid bash -c 'until [ -e "$2" ]; do sleep 0.01; done
                                       "$0" start "$1" && exec sleep 600' "$session" "$work/build" "$work/go" \
        >"$work/start-$n" 2>&1 </dev/null &
    owners+=($!)
done
touch "$work/go"
for _ in $(seq 600); do
    up=0
    for n in 0 1; do
        [ "$(cat "/proc/${owners[n]}/comm" 2>/dev/null)" = sleep ] && up=$((up + 1))
        kill -0 "${owners[n]}" 2>/dev/null || up=$((up + 10))
    done
    [ "$up" -ge 11 ] || [ "$up" = 2 ] && break
    sleep 0.1
done
if [ "$up" != 11 ]; then
    failed=1
    echo "two starts at the same moment: not one session and one refusal ($up):"
    sed 's/^/    | start 1: /' "$work/start-1"
    sed 's/^/    | start 2: /' "$work/start-2"
else
    refused=$(cat "$work/start-1" "$work/start-2")
    grep -qE "a test run \((${owners[0]}|${owners[1]}): .*one test run per build tree at a time" <<<"$refused" ||
        { failed=1; echo "the start refused at the same moment did not name the other run: $refused"; }
fi
kill -KILL "${owners[@]}" 2>/dev/null
wait "${owners[@]}" 2>/dev/null
for _ in $(seq 50); do
    [ -n "$(of_the_session)" ] || break
    sleep 0.1
done
owners=()

DISPLAY=:9999 "$session" start "$work/build" >"$work/dead" 2>&1 </dev/null
got=$?
if [ "$got" = 0 ] || ! grep -q "the display :9999 does not answer" "$work/dead"; then
    failed=1
    echo "a display that does not answer was taken (status $got):"
    sed 's/^/    | /' "$work/dead"
fi
[ "$failed" = 0 ] && echo "the session is its owner's alone, and ends with it"
exit "$failed"
