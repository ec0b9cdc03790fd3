// Replaces the program's operator new so that a test can make the C++
// allocations of one thread fail, as they would with memory used up, count
// the blocks alive, and catch reads and writes of freed blocks.
#pragma once

#include <cstddef>

// From now on the calling thread's allocations fail (throw std::bad_alloc),
// except those of exactly the size let through (0 lets none through).
void FailNewBegin(size_t allowedSize);
// From now on the calling thread's next count allocations succeed and every
// later one fails: a test walks a call through each of its allocations.
void FailNewAfter(long count);
// Ends either mode on the calling thread.
void FailNewEnd();
// Allocations refused on the calling thread since its last FailNewBegin or
// FailNewAfter: 0 means the call under test ran whole.
long FailNewRefused();

// Every allocation of the thread with that id fails, whoever is running
// there (a worker thread the test cannot reach); 0 stops it.
void FailNewOnThread(unsigned long threadId);

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
