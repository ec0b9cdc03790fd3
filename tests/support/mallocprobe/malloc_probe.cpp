// Counts the C runtime's allocations of a program linked with the probe: FreeImage,
// libpng and zlib allocate there, outside the graphics library's memory functions.
#include "malloc_probe.h"

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
