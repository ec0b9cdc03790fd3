// The C runtime's allocations of a program linked with the allocation-failure
// seam (fail_new.h): FreeImage, libpng, zlib, Lua and the graphics library
// allocate there.
#pragma once

#include <cstddef>

// Blocks handed out and not yet freed, counted from the program's start.
long MallocProbeLive();
// The largest single request since the last reset.
size_t MallocProbeLargest();
void MallocProbeResetLargest();

// From now on the calling thread's next count new or growing reallocs (the
// C runtime call Lua allocates with) succeed and every later one fails;
// shrinks, frees and the other calls always succeed.
void MallocProbeFailReallocAfter(long count);
// Ends it on the calling thread; the reallocs refused since it began.
long MallocProbeFailEnd();
