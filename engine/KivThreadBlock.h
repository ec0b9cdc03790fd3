// A block of memory of each thread's own, made at the thread's first use and freed when the thread ends normally.
#pragma once

#include <cstddef>

// The block comes from malloc, so running out of memory is a null answer the
// caller can report, never a failure inside the C runtime's thread-local data.
// A thread that returns or calls ExitThread frees its block as it ends; one
// ended by TerminateThread does not (nor does it leave any lock it held):
// the engine's threads are never ended that way.
class KivThreadBlock
{
public:
    explicit KivThreadBlock(size_t size);
    KivThreadBlock(const KivThreadBlock &) = delete;
    KivThreadBlock &operator=(const KivThreadBlock &) = delete;

    // The calling thread's block, zero-filled when first made; null when
    // memory (or a thread slot) runs out. A later call tries again.
    void *Get();
    // Blocks made and not yet freed, over every object and thread.
    static long LiveBlocks();

private:
    size_t m_size;
    unsigned long m_index;
};
