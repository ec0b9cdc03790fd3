// Counts the C runtime's allocations of a program linked with the probe: FreeImage,
// libpng and zlib allocate there, outside the graphics library's memory functions.
#pragma once

#include <cstddef>

// Blocks handed out and not yet freed, counted from the program's start.
long MallocProbeLive();
// The largest single request since the last reset.
size_t MallocProbeLargest();
void MallocProbeResetLargest();
