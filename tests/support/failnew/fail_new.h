// Replaces the program's operator new so that a test can make the C++
// allocations of one thread fail, as they would with memory used up, count
// the blocks alive, and catch reads and writes of freed blocks.
#pragma once

#include <cstddef>

// From now on the calling thread's allocations fail (throw std::bad_alloc),
// except those of exactly the size let through (0 lets none through).
void FailNewBegin(size_t allowedSize);
void FailNewEnd();

// C++ blocks alive in the whole program (nothrow and array forms included).
long KivLiveHeapBlocks();

// From now on every thread's C++ blocks get pages of their own, and a freed
// block's pages are made unreadable instead of being given back: a later read
// or write of it is counted, then let through so the test runs on.
void GuardFreedBegin();
// Ends the guard and gives back the freed blocks' pages. The touches of freed
// blocks seen since the guard began, or -1 when it ran out of room and some
// blocks went unguarded.
long GuardFreedEnd();
