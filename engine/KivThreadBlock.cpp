// A block of memory of each thread's own, made at the thread's first use and freed when the thread ends normally.
#include "engine/KivThreadBlock.h"

#include <windows.h>

#include <cstdlib>

namespace {

// The fiber-local slots free a thread's block as it ends; they are looked up
// by name since the build targets a system older than them. Without them a
// plain thread slot serves and a block lives until the process ends.
typedef void(WINAPI *FreeCallback)(void *);
typedef DWORD(WINAPI *AllocFn)(FreeCallback);
typedef void *(WINAPI *GetFn)(DWORD);
typedef BOOL(WINAPI *SetFn)(DWORD, void *);

struct SlotCalls {
    AllocFn alloc;
    GetFn get;
    SetFn set;
};

volatile LONG g_liveBlocks = 0;

void WINAPI FreeBlock(void *block)
{
    if (!block)
        return;
    free(block);
    InterlockedDecrement(&g_liveBlocks);
}

SlotCalls Lookup()
{
    SlotCalls calls = {nullptr, nullptr, nullptr};
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    calls.alloc = reinterpret_cast<AllocFn>(reinterpret_cast<void *>(GetProcAddress(kernel, "FlsAlloc")));
    calls.get = reinterpret_cast<GetFn>(reinterpret_cast<void *>(GetProcAddress(kernel, "FlsGetValue")));
    calls.set = reinterpret_cast<SetFn>(reinterpret_cast<void *>(GetProcAddress(kernel, "FlsSetValue")));
    if (!calls.alloc || !calls.get || !calls.set)
        calls = SlotCalls{nullptr, nullptr, nullptr};
    return calls;
}

// Looked up once, whichever object asks first (also while statics are made).
const SlotCalls &Calls()
{
    static const SlotCalls calls = Lookup();
    return calls;
}

const DWORD kNoSlot = 0xFFFFFFFF;

} // namespace

KivThreadBlock::KivThreadBlock(size_t size)
    : m_size(size), m_index(Calls().alloc ? Calls().alloc(FreeBlock) : TlsAlloc())
{
}

void *KivThreadBlock::Get()
{
    const SlotCalls &calls = Calls();
    if (m_index == kNoSlot)
        return nullptr;
    void *block = calls.get ? calls.get(m_index) : TlsGetValue(m_index);
    if (block)
        return block;
    block = calloc(1, m_size);
    if (!block)
        return nullptr;
    InterlockedIncrement(&g_liveBlocks);
    if (!(calls.set ? calls.set(m_index, block) : TlsSetValue(m_index, block))) {
        FreeBlock(block);
        return nullptr;
    }
    return block;
}

long KivThreadBlock::LiveBlocks()
{
    return g_liveBlocks;
}
