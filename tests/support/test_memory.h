// Memory functions for tests: they count live blocks, record the last request
// and fail the allocations a test chooses.
#pragma once

#include <cstddef>

#include "gfx/core/memory.h"

struct RwTestMemoryState {
    RwInt32 live = 0;          // blocks handed out and not yet freed
    RwInt32 mallocs = 0;       // allocations that succeeded
    RwUInt32 lastHint = 0;     // hint of the last allocation or reallocation
    size_t lastSize = 0;       // size of the last allocation or reallocation
    size_t largest = 0;        // largest allocation or reallocation asked for
    RwInt32 failAfter = -1;    // this many more allocations succeed, then every one fails (-1: none fails)
    RwUInt32 failHint = 0;     // allocations and reallocations with this hint fail (0: none)
    bool failRealloc = false;  // every reallocation of a block fails
    bool quarantine = false;   // freed blocks are poisoned and held, not given back
};

extern RwTestMemoryState rwTestMemory;
// The table to give RwEngineInit.
extern const RwMemoryFunctions rwTestMemoryFunctions;

// Counters to zero, no failures.
void RwTestMemoryReset(void);

// Gives back the blocks held in quarantine; the result is how many of them
// were written to after they were freed.
RwInt32 RwTestMemoryReleaseQuarantine(void);
