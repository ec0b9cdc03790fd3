// Counts the C runtime's allocations of a program linked with the probe: FreeImage,
// libpng and zlib allocate there, outside the graphics library's memory functions.
#include "malloc_probe.h"

#include <windows.h>
#include <malloc.h>

#include <atomic>

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *block, size_t size);
void __real_free(void *block);
}

namespace {

std::atomic<long> live{0};
std::atomic<size_t> largest{0};
// No thread_local here: its first use on a thread allocates through malloc.
std::atomic<unsigned long> failingThread{0};
long failAfter = 0;   // allocations left before failing, for that thread only
long refused = 0;

bool Refuse()
{
    const unsigned long thread = failingThread.load();
    if (!thread || thread != GetCurrentThreadId())
        return false;
    if (failAfter == 0) {
        refused++;
        return true;
    }
    failAfter--;
    return false;
}

void Asked(size_t size)
{
    size_t seen = largest.load();
    while (size > seen && !largest.compare_exchange_weak(seen, size)) {
    }
}

} // namespace

extern "C" void *__wrap_malloc(size_t size)
{
    Asked(size);
    void *block = __real_malloc(size);
    if (block)
        ++live;
    return block;
}

extern "C" void *__wrap_calloc(size_t count, size_t size)
{
    Asked(size && count > static_cast<size_t>(-1) / size ? static_cast<size_t>(-1) : count * size);
    void *block = __real_calloc(count, size);
    if (block)
        ++live;
    return block;
}

extern "C" void *__wrap_realloc(void *block, size_t size)
{
    Asked(size);
    if (size && (!block || size > _msize(block)) && Refuse())
        return nullptr;
    void *moved = __real_realloc(block, size);
    if (!block && moved)
        ++live;
    else if (block && !size)
        --live;
    return moved;
}

extern "C" void __wrap_free(void *block)
{
    if (block)
        --live;
    __real_free(block);
}

long MallocProbeLive() { return live.load(); }
size_t MallocProbeLargest() { return largest.load(); }
void MallocProbeResetLargest() { largest = 0; }

void MallocProbeFailReallocAfter(long count)
{
    refused = 0;
    failAfter = count < 0 ? 0 : count;
    failingThread = GetCurrentThreadId();
}

long MallocProbeFailEnd()
{
    failingThread = 0;
    return refused;
}
