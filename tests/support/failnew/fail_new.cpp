// Replaces the program's operator new so that a test can make the C++
// allocations of one thread fail, as they would with memory used up, and
// count the blocks alive.
#include "fail_new.h"

#include <windows.h>

#include <atomic>
#include <new>

namespace {

std::atomic<long> live{0};
std::atomic<unsigned long> failingThread{0};
thread_local bool failing = false;
thread_local size_t allowed = 0;
thread_local long remaining = -1;   // allocations left before failing; -1: not counting
thread_local long refused = 0;

bool Refuse(size_t size)
{
    const unsigned long target = failingThread.load();
    if (target && target == GetCurrentThreadId())
        return true;
    if (remaining >= 0) {
        if (remaining == 0)
            return true;
        remaining--;
        return false;
    }
    return failing && size != allowed;
}

} // namespace

long KivLiveHeapBlocks()
{
    return live.load();
}

void FailNewBegin(size_t allowedSize)
{
    allowed = allowedSize;
    remaining = -1;
    refused = 0;
    failing = true;
}

void FailNewAfter(long count)
{
    failing = false;
    refused = 0;
    remaining = count < 0 ? 0 : count;
}

void FailNewEnd()
{
    failing = false;
    remaining = -1;
}

long FailNewRefused()
{
    return refused;
}

void FailNewOnThread(unsigned long threadId)
{
    failingThread = threadId;
}

// The process heap rather than malloc, so that the C runtime's own counts
// (and any wrapping of them) see nothing of this.
void *operator new(size_t size)
{
    if (Refuse(size)) {
        refused++;
        throw std::bad_alloc();
    }
    void *block = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
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
