#!/usr/bin/env bash
# A crash is a failure whatever Wine prefix the caller's environment names: a
# user's everyday prefix has Wine's crash debugger, which races a crashing
# program and can end it with status 0. The crashing case of infra_ending runs
# with WINEPREFIX naming a prefix of the user's own, through the build's CTest
# entry (as `ctest` by hand runs it) and through scripts/wine-run.sh; both must
# fail, in the build tree's prefix, leaving the foreign one untouched.
# usage: foreign_prefix.sh CTEST TESTS_DIR RUN PROGRAM
set -u
ctest=$1 tests=$2 run=$3 program=$4
work=$(mktemp -d -u)   # made below, once the trap that removes it is set
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work" || exit 1
foreign=$work/users-own-prefix
crash=Ends.DISABLED_WritingThroughNull
failed=0

WINEPREFIX=$foreign "$run" "$program" --gtest_also_run_disabled_tests --gtest_filter=$crash \
    >"$work/by-hand" 2>&1 </dev/null
got=$?
if [ "$got" != 5 ]; then
    failed=1
    echo "run by hand, the crash ended with Unix status $got, not 5:"
    sed 's/^/    | /' "$work/by-hand" | tail -n 20
fi

WINEPREFIX=$foreign GTEST_ALSO_RUN_DISABLED_TESTS=1 GTEST_FILTER=$crash \
    "$ctest" --test-dir "$tests" -R '^infra_ending_entry$' --timeout 120 --output-on-failure \
    >"$work/ctest" 2>&1 </dev/null
got=$?
if [ "$got" = 0 ] || ! grep -q 'tests passed, 1 tests failed out of 1' "$work/ctest"; then
    failed=1
    echo "through CTest the crash was not a failure (status $got):"
    sed 's/^/    | /' "$work/ctest" | tail -n 30
fi

if [ -e "$foreign" ]; then
    failed=1
    echo "Wine made or used the caller's prefix $foreign"
fi
[ "$failed" = 0 ] && echo "a crash fails with WINEPREFIX=$foreign, by hand and through CTest"
exit "$failed"
