// The pipeline heap: superblocks of 32-byte-headed blocks that coalesce with free neighbours when freed.
#include <cstring>

#include "error.h"
#include "memory.h"
#include "modules.h"
#include "pipelineint.h"

enum : RwUInt32 {
    rxHEAPHINT = rwMEMHINTDUR_GLOBAL | rwID_PIPEMODULE,
    rxHEAPBLOCKHINT = rwMEMHINTFLAG_RESIZABLE | rwMEMHINTDUR_GLOBAL | rwID_PIPEMODULE,
    rxHEAPTABLEHINT = rwMEMHINTFLAG_RESIZABLE | rwMEMHINTDUR_EVENT | rwID_PIPEMODULE,
    rxHEAPALIGN = 128,
    rxHEAPTABLEGROW = 32,
};

struct RxHeapFreeBlock;

// Head and tail headers of a superblock are never free, so merging stops at them.
struct RxHeapBlockHeader {
    RxHeapBlockHeader *prev;
    RxHeapBlockHeader *next;
    RwUInt32 size;                  // payload bytes
    RxHeapFreeBlock *freeEntry;     // NULL while in use
    RwUInt32 pad[4];
};
static_assert(sizeof(RxHeapBlockHeader) == 32, "block header is 32 bytes");

struct RxHeapFreeBlock {
    RwUInt32 size;
    RxHeapBlockHeader *ptr;
};
static_assert(sizeof(RxHeapFreeBlock) == 8, "free-table entry is 8 bytes");

// Start of the raw allocation; the usable area begins at the next 128-byte boundary.
struct RxHeapSuperBlock {
    RxHeapSuperBlock *next;
    RwUInt32 size;
    RwUInt8 *area;
};

struct RxHeap {
    RwUInt32 superBlockSize;
    RxHeapSuperBlock *head;
    RxHeapBlockHeader *headBlock;
    RxHeapFreeBlock *freeBlocks;
    RwUInt32 entriesAlloced;
    RwUInt32 entriesUsed;
    RwBool dirty;
};
static_assert(sizeof(RxHeap) == 28, "heap header is 28 bytes");

static RxHeapFreeBlock *AddFreeEntry(RxHeap *heap, RxHeapBlockHeader *block)
{
    if (heap->entriesUsed == heap->entriesAlloced) {
        const RwUInt32 capacity = heap->entriesAlloced + rxHEAPTABLEGROW;
        RxHeapFreeBlock *table = static_cast<RxHeapFreeBlock *>(
            RwRealloc(heap->freeBlocks, capacity * sizeof(RxHeapFreeBlock), rxHEAPTABLEHINT));
        if (!table) {
            RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
            return nullptr;
        }
        heap->freeBlocks = table;
        heap->entriesAlloced = capacity;
        for (RwUInt32 i = 0; i < heap->entriesUsed; ++i) {
            table[i].ptr->freeEntry = &table[i];
        }
    }
    RxHeapFreeBlock *entry = &heap->freeBlocks[heap->entriesUsed++];
    entry->size = block->size;
    entry->ptr = block;
    block->freeEntry = entry;
    return entry;
}

// The last entry moves into the hole.
static void RemoveFreeEntry(RxHeap *heap, RxHeapFreeBlock *entry)
{
    RxHeapFreeBlock *last = &heap->freeBlocks[--heap->entriesUsed];
    entry->ptr->freeEntry = nullptr;
    if (entry != last) {
        *entry = *last;
        entry->ptr->freeEntry = entry;
    }
}

// One free block between the head and tail headers, chained after prevTail.
static RwBool InitSuperBlock(RxHeap *heap, RxHeapSuperBlock *sb, RxHeapBlockHeader *prevTail)
{
    RxHeapBlockHeader *head = reinterpret_cast<RxHeapBlockHeader *>(sb->area);
    RxHeapBlockHeader *block = head + 1;
    RxHeapBlockHeader *tail = reinterpret_cast<RxHeapBlockHeader *>(sb->area + sb->size) - 1;
    memset(head, 0, sizeof *head);
    head->prev = prevTail;
    head->next = block;
    memset(block, 0, sizeof *block);
    block->prev = head;
    block->next = tail;
    block->size = sb->size - 3 * sizeof(RxHeapBlockHeader);
    memset(tail, 0, sizeof *tail);
    tail->prev = block;
    if (prevTail) {
        prevTail->next = head;
    }
    return AddFreeEntry(heap, block) != nullptr;
}

static RxHeapBlockHeader *TailOf(RxHeapSuperBlock *sb)
{
    return reinterpret_cast<RxHeapBlockHeader *>(sb->area + sb->size) - 1;
}

static RxHeapSuperBlock *AddSuperBlock(RxHeap *heap, RwUInt32 size)
{
    RwUInt8 *raw = static_cast<RwUInt8 *>(RwMalloc(size + sizeof(RxHeapSuperBlock) + rxHEAPALIGN - 1, rxHEAPBLOCKHINT));
    if (!raw) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    RxHeapSuperBlock *sb = reinterpret_cast<RxHeapSuperBlock *>(raw);
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw + sizeof(RxHeapSuperBlock));
    sb->area = reinterpret_cast<RwUInt8 *>((start + rxHEAPALIGN - 1) & ~static_cast<uintptr_t>(rxHEAPALIGN - 1));
    sb->size = size;
    sb->next = nullptr;
    RxHeapSuperBlock *last = heap->head;
    while (last && last->next) {
        last = last->next;
    }
    if (!InitSuperBlock(heap, sb, last ? TailOf(last) : nullptr)) {
        if (last) {
            TailOf(last)->next = nullptr;
        }
        RwFree(raw);
        return nullptr;
    }
    if (last) {
        last->next = sb;
    } else {
        heap->head = sb;
        heap->headBlock = reinterpret_cast<RxHeapBlockHeader *>(sb->area);
    }
    return sb;
}

static RwUInt32 RoundUp32(RwUInt32 n)
{
    return (n + 31u) & ~31u;
}

RxHeap *RwHeapCreate(RwUInt32 size)
{
    size = RoundUp32(size < 1024 ? 1024 : size);
    RxHeap *heap = static_cast<RxHeap *>(RwMalloc(sizeof(RxHeap), rxHEAPHINT));
    if (!heap) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    memset(heap, 0, sizeof *heap);
    heap->superBlockSize = size;
    if (!AddSuperBlock(heap, size)) {
        RwFree(heap->freeBlocks);
        RwFree(heap);
        return nullptr;
    }
    return heap;
}

void RwHeapDestroy(RxHeap *heap)
{
    if (!heap) {
        return;
    }
    RwFree(heap->freeBlocks);
    for (RxHeapSuperBlock *sb = heap->head; sb;) {
        RxHeapSuperBlock *next = sb->next;
        RwFree(sb);
        sb = next;
    }
    RwFree(heap);
}

RwBool RwHeapReset(RxHeap *heap)
{
    if (!heap) {
        return FALSE;
    }
    heap->entriesUsed = 0;
    RxHeapBlockHeader *prevTail = nullptr;
    for (RxHeapSuperBlock *sb = heap->head; sb; sb = sb->next) {
        // The table already had room for one entry per superblock.
        InitSuperBlock(heap, sb, prevTail);
        prevTail = TailOf(sb);
    }
    heap->dirty = FALSE;
    return TRUE;
}

void *RwHeapMalloc(RxHeap *heap, RwUInt32 size)
{
    if (!heap || size > 0x7FFFFF00u) {
        return nullptr;
    }
    size = RoundUp32(size == 0 ? 1 : size);
    // Best fit keeps the large free blocks whole.
    RxHeapFreeBlock *entry = nullptr;
    for (RwUInt32 i = 0; i < heap->entriesUsed; ++i) {
        RxHeapFreeBlock *e = &heap->freeBlocks[i];
        if (e->size >= size && (!entry || e->size < entry->size)) {
            entry = e;
        }
    }
    if (!entry) {
        const RwUInt32 needed = size + 3 * sizeof(RxHeapBlockHeader);
        if (!AddSuperBlock(heap, needed > heap->superBlockSize ? needed : heap->superBlockSize)) {
            return nullptr;
        }
        entry = &heap->freeBlocks[heap->entriesUsed - 1];
    }
    RxHeapBlockHeader *block = entry->ptr;
    if (block->size >= size + 2 * sizeof(RxHeapBlockHeader)) {
        // Split: the rest stays free under the same table entry.
        RxHeapBlockHeader *rest = reinterpret_cast<RxHeapBlockHeader *>(reinterpret_cast<RwUInt8 *>(block + 1) + size);
        memset(rest, 0, sizeof *rest);
        rest->prev = block;
        rest->next = block->next;
        rest->size = block->size - size - sizeof(RxHeapBlockHeader);
        block->next->prev = rest;
        block->next = rest;
        block->size = size;
        rest->freeEntry = entry;
        entry->ptr = rest;
        entry->size = rest->size;
        block->freeEntry = nullptr;
    } else {
        RemoveFreeEntry(heap, entry);
    }
    heap->dirty = TRUE;
    return block + 1;
}

// The live block header behind p, or NULL when p is not a block this heap handed out.
static RxHeapBlockHeader *LiveBlock(const RxHeap *heap, void *p)
{
    RwUInt8 *bytes = static_cast<RwUInt8 *>(p);
    for (RxHeapSuperBlock *sb = heap->head; sb; sb = sb->next) {
        RwUInt8 *first = sb->area + 2 * sizeof(RxHeapBlockHeader);
        RwUInt8 *end = sb->area + sb->size - sizeof(RxHeapBlockHeader);
        if (bytes < first || bytes >= end) {
            continue;
        }
        if ((bytes - sb->area) % sizeof(RxHeapBlockHeader) != 0) {
            return nullptr;
        }
        RxHeapBlockHeader *h = reinterpret_cast<RxHeapBlockHeader *>(bytes) - 1;
        RwUInt8 *prev = reinterpret_cast<RwUInt8 *>(h->prev);
        RwUInt8 *next = reinterpret_cast<RwUInt8 *>(h->next);
        const bool linked = prev >= sb->area && prev < bytes && next > bytes && next <= end &&
                            h->prev->next == h && h->next->prev == h;
        return linked && !h->freeEntry ? h : nullptr;
    }
    return nullptr;
}

void RwHeapFree(RxHeap *heap, void *p)
{
    if (!heap || !p) {
        return;
    }
    RxHeapBlockHeader *h = LiveBlock(heap, p);
    if (!h) {
        return;
    }
    RxHeapBlockHeader *l = h->prev;
    RxHeapBlockHeader *r = h->next;
    const RwUInt32 header = sizeof(RxHeapBlockHeader);
    if (l->freeEntry && r->freeEntry) {
        RemoveFreeEntry(heap, r->freeEntry);
        l->size += h->size + r->size + 2 * header;
        l->freeEntry->size = l->size;
        l->next = r->next;
        r->next->prev = l;
    } else if (l->freeEntry) {
        l->size += h->size + header;
        l->freeEntry->size = l->size;
        l->next = r;
        r->prev = l;
    } else if (r->freeEntry) {
        h->size += r->size + header;
        h->freeEntry = r->freeEntry;
        h->freeEntry->ptr = h;
        h->freeEntry->size = h->size;
        h->next = r->next;
        r->next->prev = h;
    } else {
        AddFreeEntry(heap, h);   // on failure the block stays taken until the next reset
    }
}

RwUInt32 RwHeapGetFreeBlockCount(const RxHeap *heap)
{
    return heap ? heap->entriesUsed : 0;
}

RwBool RwHeapIsDirty(const RxHeap *heap)
{
    return heap && heap->dirty;
}
