// The allocation-failure sweep of one call: its allocations (operator new and
// the C runtime's alike) fail in turn, each of them once, until the call runs
// whole; no exception may leave it. A long call is swept at each of its first
// allocations and at every eighth after them, so that it costs what a short one does.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "support/failnew/fail_new.h"

// KIV_FULL_SWEEPS in the environment sweeps every allocation of every call:
// a check run by hand, too slow for the suite.
inline bool FailNewFullSweeps()
{
    static const bool full = std::getenv("KIV_FULL_SWEEPS") != nullptr;
    return full;
}

// The runs that let an exception out (each also a test failure).
inline int FailNewSweep(const char *name, const std::function<void()> &call, long most = 3000)
{
    const long everyOne = 100, thenEvery = FailNewFullSweeps() ? 1 : 8;
    int escaped = 0;
    long refused = 1;
    for (long n = 0; refused && n < most; n += n < everyOne ? 1 : thenEvery) {
        bool threw = false;
        FailNewAfter(n);
        try {
            call();
        } catch (...) {
            threw = true;
        }
        refused = FailNewRefused();
        FailNewEnd();
        escaped += threw;
        EXPECT_FALSE(threw) << name << " threw after " << n << " allocations";
    }
    EXPECT_EQ(0, refused) << name << " never ran whole";
    return escaped;
}
