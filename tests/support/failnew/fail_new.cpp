// Replaces the program's operator new so that a test can make the C++
// allocations of one thread fail, as they would with memory used up, and
// count the blocks alive.
#include "fail_new.h"

#include <windows.h>

#include <atomic>
#include <new>

namespace {

std::atomic<long> live{0};
thread_local bool failing = false;
thread_local size_t allowed = 0;

} // namespace

long KivLiveHeapBlocks()
{
    return live.load();
}

void FailNewBegin(size_t allowedSize)
{
    allowed = allowedSize;
    failing = true;
}

void FailNewEnd()
{
    failing = false;
}

// The process heap rather than malloc, so that the C runtime's own counts
// (and any wrapping of them) see nothing of this.
void *operator new(size_t size)
{
    void *block = failing && size != allowed ? nullptr : HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    ++live;
    return block;
}

void operator delete(void *block) noexcept
{
    if (!block)
        return;
    --live;
    HeapFree(GetProcessHeap(), 0, block);
}

void operator delete(void *block, size_t) noexcept
{
    operator delete(block);
}
