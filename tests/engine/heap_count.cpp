// The program's operator new and delete, counting the blocks alive: every
// C++ allocation of the engine, nothrow and array forms included, ends here.
#include "heap_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> live{0};

} // namespace

long KivLiveHeapBlocks()
{
    return live.load();
}

void *operator new(std::size_t size)
{
    void *block = std::malloc(size ? size : 1);
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
    std::free(block);
}

void operator delete(void *block, std::size_t) noexcept
{
    operator delete(block);
}
