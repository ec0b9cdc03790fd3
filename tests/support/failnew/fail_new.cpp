// Replaces the program's operator new and wraps the C runtime's malloc,
// calloc, realloc and free (the program links with the linker's --wrap for
// them), so that a test can make one thread's allocations fail, as they would
// with memory used up, whichever allocator asks: the engine's C++ objects,
// and the graphics library, Lua, FreeImage, libpng and zlib, which take their
// memory from malloc. It also counts the blocks alive and catches reads and
// writes of freed C++ blocks.
#include "fail_new.h"
#include "malloc_probe.h"

#include <windows.h>
#include <malloc.h>

#include <atomic>
#include <new>

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *block, size_t size);
void __real_free(void *block);
void *__real___cxa_allocate_exception(size_t size);
void *__real___emutls_get_address(void *control);
}

namespace {

// No thread_local here: its first use on a thread allocates through malloc.
// The counting state belongs to the one thread a test sweeps, and only that
// thread touches it.
enum Kinds { kNew = 1, kMalloc = 2, kGrowingRealloc = 4, kAll = 7 };
std::atomic<unsigned long> sweptThread{0};
int kinds = 0;             // the allocators that fail for the swept thread
bool failing = false;
size_t allowed = 0;
long remaining = -1;       // allocations left before failing; -1: not counting
long refused = 0;
long granted = 0;          // allocations let through while counting
int inRuntime = 0;         // the C++ runtime's own memory: never refused
int failingInRuntime = 0;  // the same, on the thread that FailNewOnThread names

std::atomic<long> live{0};
std::atomic<long> mallocLive{0};
std::atomic<size_t> largest{0};
std::atomic<unsigned long> failingThread{0};
std::atomic<bool> failingThreadData{false};   // its thread-local data refused too

bool Refuse(int kind, size_t size)
{
    const unsigned long thread = GetCurrentThreadId();
    const unsigned long target = failingThread.load();
    if (target && target == thread)
        return !failingInRuntime;
    if (sweptThread.load() != thread || !(kinds & kind) || inRuntime)
        return false;
    bool refuse = false;
    if (remaining >= 0) {
        refuse = remaining == 0;
        if (!refuse) {
            remaining--;
            granted++;
        }
    } else {
        refuse = failing && size != allowed;
    }
    refused += refuse;
    return refuse;
}

void Asked(size_t size)
{
    size_t seen = largest.load();
    while (size > seen && !largest.compare_exchange_weak(seen, size)) {
    }
}

// The C++ runtime makes its per-thread state and its tables on first use,
// through malloc: done before anything is refused, and on the main thread
// before the program's first test counts the blocks alive.
void WarmRuntime()
{
    try {
        throw 0;
    } catch (int) {
    }
}

const struct WarmAtStart {
    WarmAtStart() { WarmRuntime(); }
} warmAtStart;

void Sweep(int which)
{
    WarmRuntime();
    kinds = which;
    refused = 0;
    granted = 0;
    sweptThread = GetCurrentThreadId();
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

void FailNewBegin(size_t allowedSize, bool mallocToo)
{
    Sweep(mallocToo ? kAll : kNew);
    allowed = allowedSize;
    remaining = -1;
    failing = true;
}

void FailNewAfter(long count, bool mallocToo)
{
    Sweep(mallocToo ? kAll : kNew);
    failing = false;
    remaining = count < 0 ? 0 : count;
}

void FailNewEnd()
{
    sweptThread = 0;
    failing = false;
    remaining = -1;
}

long FailNewRefused()
{
    return refused;
}

long FailNewGranted()
{
    return granted;
}

void FailNewOnThread(unsigned long threadId, bool threadDataToo)
{
    failingThreadData = threadDataToo;
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

bool GuardFreedOutOfRoom()
{
    return overflowed;
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
    if (Refuse(kNew, size))
        throw std::bad_alloc();
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

extern "C" void *__wrap_malloc(size_t size)
{
    Asked(size);
    if (Refuse(kMalloc, size))
        return nullptr;
    void *block = __real_malloc(size);
    if (block)
        ++mallocLive;
    return block;
}

extern "C" void *__wrap_calloc(size_t count, size_t size)
{
    const size_t total = size && count > static_cast<size_t>(-1) / size ? static_cast<size_t>(-1) : count * size;
    Asked(total);
    if (Refuse(kMalloc, total))
        return nullptr;
    void *block = __real_calloc(count, size);
    if (block)
        ++mallocLive;
    return block;
}

// A shrink keeps its block: only a new or growing one may be refused.
extern "C" void *__wrap_realloc(void *block, size_t size)
{
    Asked(size);
    if (size && (!block || size > _msize(block)) && Refuse(block ? kGrowingRealloc : kMalloc | kGrowingRealloc, size))
        return nullptr;
    void *moved = __real_realloc(block, size);
    if (!block && moved)
        ++mallocLive;
    else if (block && !size)
        --mallocLive;
    return moved;
}

extern "C" void __wrap_free(void *block)
{
    if (block)
        --mallocLive;
    __real_free(block);
}

// An exception's own memory, and a thread's first use of thread-local data,
// are the C++ runtime's: a real process unwinds with them as it runs out.
namespace {
// The runtime depth of the calling thread when its allocations may fail.
int *RuntimeDepth()
{
    const unsigned long thread = GetCurrentThreadId();
    if (sweptThread.load() == thread)
        return &inRuntime;
    if (failingThread.load() == thread)
        return &failingInRuntime;
    return nullptr;
}
} // namespace

extern "C" void *__wrap___cxa_allocate_exception(size_t size)
{
    int *depth = RuntimeDepth();
    if (depth)
        ++*depth;
    void *object = __real___cxa_allocate_exception(size);
    if (depth)
        --*depth;
    return object;
}

extern "C" void *__wrap___emutls_get_address(void *control)
{
    int *depth = RuntimeDepth();
    if (depth == &failingInRuntime && failingThreadData)
        depth = nullptr;
    if (depth)
        ++*depth;
    void *address = __real___emutls_get_address(control);
    if (depth)
        --*depth;
    return address;
}

long MallocProbeLive() { return mallocLive.load(); }
size_t MallocProbeLargest() { return largest.load(); }
void MallocProbeResetLargest() { largest = 0; }

void MallocProbeFailReallocAfter(long count)
{
    Sweep(kGrowingRealloc);
    failing = false;
    remaining = count < 0 ? 0 : count;
}

long MallocProbeFailEnd()
{
    const long count = refused;
    FailNewEnd();
    return count;
}
