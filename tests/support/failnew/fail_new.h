// The allocation-failure seam: makes one thread's allocations fail, as they
// would with memory used up, whether they come from operator new or from the
// C runtime's malloc, calloc and growing realloc (those of the engine and of
// every library it links); the C++ runtime's own memory for exceptions and
// thread-local data is never refused. Also counts the C++ blocks alive and
// catches reads and writes of freed ones.
#pragma once

#include <cstddef>

// From now on the calling thread's C++ allocations fail (throw
// std::bad_alloc), except those of exactly the size let through (0 lets none
// through); with mallocToo its C runtime allocations fail too (null).
void FailNewBegin(size_t allowedSize, bool mallocToo = false);
// From now on the calling thread's next count allocations succeed and every
// later one fails: a test walks a call through each of its allocations.
// Without mallocToo only operator new counts and fails.
void FailNewAfter(long count, bool mallocToo = true);
// Ends either mode on the calling thread.
void FailNewEnd();
// Allocations refused on the calling thread since its last FailNewBegin or
// FailNewAfter: 0 means the call under test ran whole.
long FailNewRefused();
// Allocations let through since the last FailNewAfter: a test that gives a
// call more than it needs learns where in the call each allocation falls.
long FailNewGranted();

// Every allocation of the thread with that id fails, operator new and the C
// runtime's alike, whoever is running there (a worker thread the test cannot
// reach); 0 stops it. With threadDataToo the first use of thread-local data
// there fails as well (the C runtime then ends the process): nothing the
// program keeps per thread may rely on it.
void FailNewOnThread(unsigned long threadId, bool threadDataToo = false);

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
// Whether the guard ran out of room since it began: blocks made since then
// are unguarded, and a freed one's address may be handed out again.
bool GuardFreedOutOfRoom();
