// The resources arena: cached per-object data, least recently used evicted first.
#include "memory.h"

#include <cstring>

#include "engine.h"
#include "modules.h"

struct RwResHeapBlock;

// Heap header at the start of the arena memory.
struct RwResHeap {
    RwResHeapBlock *firstBlock;
    RwResHeapBlock *firstFree;   // no free block lies before it
};

struct RwResHeapBlock {
    RwResHeap *heap;
    RwResHeapBlock *next;
    RwResHeapBlock *prev;
    RwUInt32 size;               // data bytes, a multiple of 32
    RwUInt32 inUse;
    RwUInt32 spare[3];
};
static_assert(sizeof(RwResHeapBlock) == 32, "heap block header is 32 bytes");

struct RwResourcesGlobals {
    RwUInt32 arenaSize;
    RwInt32 bytesInUse;
    RwInt32 evictedThisFrame;
    RwResHeap *arena;
    RwLinkList listA;
    RwLinkList listB;
    RwLinkList *older;
    RwLinkList *current;
};
static_assert(sizeof(RwResourcesGlobals) == 40, "resources globals are ten words");

enum : RwUInt32 {
    rwRESHEAPGRANULE = 32,
    rwRESHEAPSPLITSLACK = 64,
    rwMEMHINT_RESOURCESARENA = 0x4040B,
    rwMEMHINT_RESOURCESENTRY = 0x3040B,
};

static RwInt32 resourcesModuleOffset = -1;
static RwInt32 resourcesModuleOpenCount = 0;

static RwResourcesGlobals *Globals(void)
{
    if (resourcesModuleOpenCount <= 0) {
        return nullptr;
    }
    return RwEngineModuleGlobals<RwResourcesGlobals>(resourcesModuleOffset);
}

static void RaiseFull(void)
{
    RwErrorRaise(rwID_COREPLUGIN, static_cast<RwUInt32>(E_RW_RESOURCES_FULL));
}

// --- Heap ---

static void *BlockData(RwResHeapBlock *block)
{
    return block + 1;
}

static RwResHeapBlock *BlockOfData(void *data)
{
    return static_cast<RwResHeapBlock *>(data) - 1;
}

static RwUInt32 RoundUpGranule(RwUInt32 n)
{
    return (n + rwRESHEAPGRANULE - 1) & ~(rwRESHEAPGRANULE - 1);
}

// First and end of the block area of an arena of the given size.
static void HeapBounds(void *memory, RwUInt32 size, uintptr_t *start, uintptr_t *end)
{
    uintptr_t base = reinterpret_cast<uintptr_t>(memory);
    *start = (base + sizeof(RwResHeap) + rwRESHEAPGRANULE - 1) & ~uintptr_t(rwRESHEAPGRANULE - 1);
    *end = (base + size) & ~uintptr_t(rwRESHEAPGRANULE - 1);
}

static RwResHeap *HeapSetUp(void *memory, RwUInt32 size)
{
    uintptr_t start, end;
    HeapBounds(memory, size, &start, &end);
    if (end < start || end - start < sizeof(RwResHeapBlock) + rwRESHEAPGRANULE) {
        return nullptr;
    }
    RwResHeap *heap = static_cast<RwResHeap *>(memory);
    RwResHeapBlock *block = reinterpret_cast<RwResHeapBlock *>(start);
    memset(block, 0, sizeof(*block));
    block->heap = heap;
    block->size = static_cast<RwUInt32>(end - start - sizeof(RwResHeapBlock));
    heap->firstBlock = block;
    heap->firstFree = block;
    return heap;
}

// Data bytes of the one block that an empty heap is.
static RwUInt32 HeapCapacity(RwResHeap *heap, RwUInt32 size)
{
    uintptr_t start, end;
    HeapBounds(heap, size, &start, &end);
    return static_cast<RwUInt32>(end - start - sizeof(RwResHeapBlock));
}

// Joins next into block (both free, adjacent).
static void HeapMerge(RwResHeap *heap, RwResHeapBlock *block, RwResHeapBlock *next)
{
    block->size += sizeof(RwResHeapBlock) + next->size;
    block->next = next->next;
    if (next->next) {
        next->next->prev = block;
    }
    if (heap->firstFree == next) {
        heap->firstFree = block;
    }
}

static void *HeapAlloc(RwResHeap *heap, RwUInt32 size)
{
    RwUInt32 need = RoundUpGranule(size);
    if (need < size) {
        return nullptr;
    }
    RwResHeapBlock *block = heap->firstFree;
    while (block && (block->inUse || block->size < need)) {
        block = block->next;
    }
    if (!block) {
        return nullptr;
    }
    if (block->size > need + rwRESHEAPSPLITSLACK) {
        RwResHeapBlock *rest =
            reinterpret_cast<RwResHeapBlock *>(static_cast<RwUInt8 *>(BlockData(block)) + need);
        memset(rest, 0, sizeof(*rest));
        rest->heap = heap;
        rest->size = block->size - need - sizeof(RwResHeapBlock);
        rest->prev = block;
        rest->next = block->next;
        if (block->next) {
            block->next->prev = rest;
        }
        block->next = rest;
        block->size = need;
        if (rest->next && !rest->next->inUse) {
            HeapMerge(heap, rest, rest->next);
        }
    }
    block->inUse = 1;
    if (heap->firstFree == block) {
        RwResHeapBlock *f = block->next;
        while (f && f->inUse) {
            f = f->next;
        }
        heap->firstFree = f;
    }
    return BlockData(block);
}

static void HeapFree(RwResHeap *heap, void *data)
{
    RwResHeapBlock *block = BlockOfData(data);
    block->inUse = 0;
    if (!heap->firstFree || block < heap->firstFree) {
        heap->firstFree = block;
    }
    if (block->prev && !block->prev->inUse) {
        RwResHeapBlock *prev = block->prev;
        HeapMerge(heap, prev, block);
        block = prev;
    }
    if (block->next && !block->next->inUse) {
        HeapMerge(heap, block, block->next);
    }
}

// --- Entries ---

static void ClearOwnerRef(RwResourceEntry *entry)
{
    // The owner may already hold a newer entry in the same place.
    if (entry->ownerRef && *entry->ownerRef == entry) {
        *entry->ownerRef = nullptr;
    }
}

static void ReleaseEntry(RwResourcesGlobals *g, RwResourceEntry *entry)
{
    if (entry->destroyNotify) {
        entry->destroyNotify(entry);
    }
    ClearOwnerRef(entry);
    if (!entry->link.next) {
        RwFree(entry);
        return;
    }
    RwLLLinkRemove(&entry->link);
    if (g) {
        g->bytesInUse -= entry->size;
        if (g->arena) {
            HeapFree(g->arena, entry);
        }
    }
}

static RwResourceEntry *EvictOne(RwResourcesGlobals *g)
{
    RwLinkList *list = g->older;
    if (RwLinkListEmpty(list)) {
        list = g->current;
        if (RwLinkListEmpty(list)) {
            return nullptr;
        }
    }
    RwResourceEntry *victim = rwLLLinkGetData(list->prev, RwResourceEntry, link);
    if (list == g->current) {
        g->evictedThisFrame += victim->size;
    }
    ReleaseEntry(g, victim);
    return victim;
}

RwResourceEntry *RwResourcesAllocateEntry(void *owner, RwResourceEntry **ownerRef, RwInt32 size,
                                          RwResourceEntryDestroyNotify destroyNotify)
{
    RwResourcesGlobals *g = Globals();
    if (!g) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_BADOPEN);
        return nullptr;
    }
    if (size < 0 || static_cast<RwUInt32>(size) > 0x7FFFFFFFu - sizeof(RwResourceEntry) - rwRESHEAPGRANULE) {
        RaiseFull();
        return nullptr;
    }
    RwUInt32 bytes = static_cast<RwUInt32>(size) + sizeof(RwResourceEntry);
    RwResourceEntry *entry = nullptr;
    if (!g->arena) {
        // Without an arena the entry is a plain block that no list holds.
        entry = static_cast<RwResourceEntry *>(RwMalloc(bytes, rwMEMHINT_RESOURCESENTRY));
        if (!entry) {
            RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
            return nullptr;
        }
        entry->link.next = nullptr;
        entry->link.prev = nullptr;
    } else {
        // Evicting everything would not make room for it.
        if (RoundUpGranule(bytes) > HeapCapacity(g->arena, g->arenaSize)) {
            RaiseFull();
            return nullptr;
        }
        while (!(entry = static_cast<RwResourceEntry *>(HeapAlloc(g->arena, bytes)))) {
            if (!EvictOne(g)) {
                RaiseFull();
                return nullptr;
            }
        }
        RwLinkListAddLLLink(g->current, &entry->link);
        g->bytesInUse += size;
    }
    entry->size = size;
    entry->owner = owner;
    entry->ownerRef = ownerRef;
    entry->destroyNotify = destroyNotify;
    if (ownerRef) {
        *ownerRef = entry;
    }
    return entry;
}

RwResourceEntry *RwResourcesAllocateEntry(void *owner, RwInt32 size, RwResourceEntryDestroyNotify destroyNotify)
{
    return RwResourcesAllocateEntry(owner, nullptr, size, destroyNotify);
}

RwBool RwResourcesFreeEntry(RwResourceEntry *entry)
{
    if (!entry) {
        return FALSE;
    }
    ReleaseEntry(Globals(), entry);
    return TRUE;
}

void RwResourcesUseResEntry(RwResourceEntry *entry)
{
    RwResourcesGlobals *g = Globals();
    if (!g || !entry || !entry->link.next) {
        return;
    }
    RwLLLinkRemove(&entry->link);
    RwLinkListAddLLLink(g->current, &entry->link);
}

void RwResourcesNextFrame(void)
{
    RwResourcesGlobals *g = Globals();
    if (!g) {
        return;
    }
    RwLinkList *older = g->older;
    RwLinkList *current = g->current;
    if (!RwLinkListEmpty(older)) {
        RwLLLink *first = older->next;
        RwLLLink *last = older->prev;
        first->prev = current->prev;
        current->prev->next = first;
        last->next = current;
        current->prev = last;
        RwLinkListInitialize(older);
    }
    g->older = current;
    g->current = older;
    g->evictedThisFrame = 0;
}

static void EmptyList(RwResourcesGlobals *g, RwLinkList *list)
{
    while (!RwLinkListEmpty(list)) {
        ReleaseEntry(g, rwLLLinkGetData(list->next, RwResourceEntry, link));
    }
}

RwBool RwResourcesEmptyArena(void)
{
    RwResourcesGlobals *g = Globals();
    if (!g) {
        return FALSE;
    }
    EmptyList(g, &g->listA);
    EmptyList(g, &g->listB);
    RwLinkListInitialize(&g->listA);
    RwLinkListInitialize(&g->listB);
    g->evictedThisFrame = 0;
    return TRUE;
}

RwInt32 RwResourcesGetArenaUsage(void)
{
    RwResourcesGlobals *g = Globals();
    return g ? g->bytesInUse : 0;
}

RwInt32 RwResourcesGetEvictedThisFrame(void)
{
    RwResourcesGlobals *g = Globals();
    return g ? g->evictedThisFrame : 0;
}

void *RwResourcesModuleOpen(void *instance, RwInt32 offset, RwInt32 size)
{
    RwResourcesGlobals *g = reinterpret_cast<RwResourcesGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    g->arenaSize = static_cast<RwGlobals *>(instance)->resArenaInitSize;
    g->bytesInUse = 0;
    g->evictedThisFrame = 0;
    g->arena = nullptr;
    if (g->arenaSize != 0) {
        void *memory = RwMalloc(g->arenaSize, rwMEMHINT_RESOURCESARENA);
        if (!memory) {
            RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
            return nullptr;
        }
        g->arena = HeapSetUp(memory, g->arenaSize);
        if (!g->arena) {
            RwFree(memory);
            RaiseFull();
            return nullptr;
        }
    }
    RwLinkListInitialize(&g->listA);
    RwLinkListInitialize(&g->listB);
    g->older = &g->listB;
    g->current = &g->listA;
    resourcesModuleOffset = offset;
    ++resourcesModuleOpenCount;
    return instance;
}

void *RwResourcesModuleClose(void *instance, RwInt32 offset, RwInt32 size)
{
    RwResourcesGlobals *g = reinterpret_cast<RwResourcesGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    RwResourcesEmptyArena();
    RwReturnTrue();
    if (g->arena) {
        RwFree(g->arena);
        g->arena = nullptr;
    }
    --resourcesModuleOpenCount;
    return instance;
}
