// Replaces the program's operator new so that a test can make the C++
// allocations of one thread fail, as they would with memory used up, and
// count the blocks alive.
#pragma once

#include <cstddef>

// From now on the calling thread's allocations fail (throw std::bad_alloc),
// except those of exactly the size let through (0 lets none through).
void FailNewBegin(size_t allowedSize);
void FailNewEnd();

// C++ blocks alive in the whole program (nothrow and array forms included).
long KivLiveHeapBlocks();
