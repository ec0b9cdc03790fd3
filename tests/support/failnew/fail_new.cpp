// Replaces the program's operator new so that a test can make the C++
// allocations of one thread fail, as they would with memory used up, count
// the blocks alive, and catch reads and writes of freed blocks.
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

// The guard's blocks come from one reserved range, page by page, and no
// address in it is ever handed out twice.
const size_t PageBytes = 4096;
const size_t RangePages = 65536;  // 256 MB of addresses, reserved only
const size_t HeaderBytes = 16;   // the block's page count, keeping 16-byte alignment
char *range = nullptr;
std::atomic<size_t> nextPage{0};
std::atomic<bool> guarding{false};
std::atomic<bool> overflowed{false};
std::atomic<long> touches{0};

bool InRange(const void *address)
{
    const char *p = static_cast<const char *>(address);
    return range && p >= range && p < range + RangePages * PageBytes;
}

// A touch of a freed block: counted, and its page made usable again so the
// faulting instruction runs as it would have.
LONG CALLBACK OnFault(EXCEPTION_POINTERS *info)
{
    const EXCEPTION_RECORD *record = info->ExceptionRecord;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    char *address = reinterpret_cast<char *>(record->ExceptionInformation[1]);
    if (!InRange(address))
        return EXCEPTION_CONTINUE_SEARCH;
    char *page = range + (address - range) / PageBytes * PageBytes;
    DWORD old = 0;
    if (!VirtualProtect(page, PageBytes, PAGE_READWRITE, &old))
        return EXCEPTION_CONTINUE_SEARCH;
    ++touches;
    return EXCEPTION_CONTINUE_EXECUTION;
}

void *GuardedBlock(size_t size)
{
    const size_t pages = (size + HeaderBytes + PageBytes - 1) / PageBytes;
    const size_t first = nextPage.fetch_add(pages);
    if (first + pages > RangePages) {
        overflowed = true;
        return nullptr;
    }
    char *block = static_cast<char *>(VirtualAlloc(range + first * PageBytes, pages * PageBytes, MEM_COMMIT,
                                                   PAGE_READWRITE));
    if (!block)
        return nullptr;
    *reinterpret_cast<size_t *>(block) = pages;
    return block + HeaderBytes;
}

void FreeGuardedBlock(void *user)
{
    char *block = static_cast<char *>(user) - HeaderBytes;
    const size_t pages = *reinterpret_cast<size_t *>(block);
    DWORD old = 0;
    VirtualProtect(block, pages * PageBytes, PAGE_NOACCESS, &old);
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

void GuardFreedBegin()
{
    if (!range) {
        range = static_cast<char *>(VirtualAlloc(nullptr, RangePages * PageBytes, MEM_RESERVE, PAGE_NOACCESS));
        AddVectoredExceptionHandler(1, OnFault);
    }
    touches = 0;
    overflowed = !range;
    guarding = true;
}

long GuardFreedEnd()
{
    guarding = false;
    if (!range)
        return -1;
    // Freed blocks are the unreadable committed pages; their addresses stay reserved.
    char *const end = range + (nextPage.load() < RangePages ? nextPage.load() : RangePages) * PageBytes;
    for (char *p = range; p < end;) {
        MEMORY_BASIC_INFORMATION info;
        if (!VirtualQuery(p, &info, sizeof(info)))
            break;
        char *next = static_cast<char *>(info.BaseAddress) + info.RegionSize;
        if (next > end)
            next = end;
        if (info.State == MEM_COMMIT && info.Protect == PAGE_NOACCESS)
            VirtualFree(p, next - p, MEM_DECOMMIT);
        p = next;
    }
    return overflowed ? -1 : touches.load();
}

// The process heap rather than malloc, so that the C runtime's own counts
// (and any wrapping of them) see nothing of this.
void *operator new(size_t size)
{
    if (Refuse(size)) {
        refused++;
        throw std::bad_alloc();
    }
    void *block = guarding ? GuardedBlock(size) : nullptr;
    if (!block)
        block = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
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
    if (InRange(block))
        FreeGuardedBlock(block);
    else
        HeapFree(GetProcessHeap(), 0, block);
}

void operator delete(void *block, size_t) noexcept
{
    operator delete(block);
}
