// Memory functions for tests: they count live blocks, record the last request
// and fail the allocations a test chooses.
#include "test_memory.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <vector>

RwTestMemoryState rwTestMemory;

namespace {

bool Refused(size_t size, RwUInt32 hint)
{
    rwTestMemory.lastHint = hint;
    rwTestMemory.lastSize = size;
    if (size > rwTestMemory.largest) {
        rwTestMemory.largest = size;
    }
    return rwTestMemory.failHint != 0 && hint == rwTestMemory.failHint;
}

void *Allocate(size_t size, RwUInt32 hint)
{
    if (Refused(size, hint) || rwTestMemory.failAfter == 0) {
        return nullptr;
    }
    if (rwTestMemory.failAfter > 0) {
        --rwTestMemory.failAfter;
    }
    void *p = malloc(size);
    if (p) {
        ++rwTestMemory.live;
        ++rwTestMemory.mallocs;
    }
    return p;
}

const unsigned char kPoison = 0xDB;
std::vector<void *> held;

void Release(void *p)
{
    if (p) {
        --rwTestMemory.live;
    }
    if (p && rwTestMemory.quarantine) {
        std::memset(p, kPoison, _msize(p));
        held.push_back(p);
        return;
    }
    free(p);
}

void *Reallocate(void *p, size_t size, RwUInt32 hint)
{
    if (!p) {
        return Allocate(size, hint);
    }
    if (Refused(size, hint) || rwTestMemory.failRealloc) {
        return nullptr;
    }
    return realloc(p, size);
}

void *AllocateZeroed(size_t count, size_t size)
{
    void *p = calloc(count, size);
    if (p) {
        ++rwTestMemory.live;
    }
    return p;
}

}  // namespace

const RwMemoryFunctions rwTestMemoryFunctions = {Allocate, Release, Reallocate, AllocateZeroed};

void RwTestMemoryReset(void)
{
    rwTestMemory = RwTestMemoryState();
}

RwInt32 RwTestMemoryReleaseQuarantine(void)
{
    RwInt32 damaged = 0;
    for (void *p : held) {
        const unsigned char *bytes = static_cast<const unsigned char *>(p);
        const size_t size = _msize(p);
        for (size_t i = 0; i < size; i++) {
            if (bytes[i] != kPoison) {
                ++damaged;
                break;
            }
        }
        free(p);
    }
    held.clear();
    return damaged;
}
