// Memory functions of the engine object and free lists of fixed-size entries.
#include "memory.h"

#include <cstdlib>
#include <cstring>

#include "engine.h"
#include "modules.h"

// A block is two link words, the in-use bitmap, padding up to the alignment,
// then the entries.
struct RwFreeListBlock {
    RwLLLink link;
};

static RwFreeList freeListFreeList;  // headers of lists made without caller storage
static RwBool freeListFreeListMade = FALSE;
static RwBool memoryOpen = FALSE;          // between RwMemoryOpen and RwMemoryClose
static RwLinkList allFreeLists = {&allFreeLists, &allFreeLists};

// --- C runtime memory functions (the hint is not used) ---

static void *CrtMalloc(size_t size, RwUInt32 hint)
{
    return malloc(size);
}

static void CrtFree(void *mem)
{
    free(mem);
}

static void *CrtRealloc(void *mem, size_t size, RwUInt32 hint)
{
    return realloc(mem, size);
}

static void *CrtCalloc(size_t count, size_t size)
{
    return calloc(count, size);
}

// Used when a caller's table has no zeroed allocation of its own.
static void *CallerCalloc(size_t count, size_t size)
{
    if (size != 0 && count > SIZE_MAX / size) {
        return nullptr;
    }
    void *mem = RwEngineInstance->memoryFuncs.rwmalloc(count * size, 0);
    if (mem) {
        memset(mem, 0, count * size);
    }
    return mem;
}

void *RwMalloc(size_t size, RwUInt32 hint)
{
    return RwEngineInstance->memoryFuncs.rwmalloc(size, hint);
}

void RwFree(void *mem)
{
    RwEngineInstance->memoryFuncs.rwfree(mem);
}

void *RwRealloc(void *mem, size_t size, RwUInt32 hint)
{
    return RwEngineInstance->memoryFuncs.rwrealloc(mem, size, hint);
}

void *RwCalloc(size_t count, size_t size)
{
    return RwEngineInstance->memoryFuncs.rwcalloc(count, size);
}

void *RwFreeListAlloc(RwFreeList *freelist, RwUInt32 hint)
{
    return RwEngineInstance->memoryAlloc.rwFreeListAlloc(freelist, hint);
}

void RwFreeListFree(RwFreeList *freelist, void *entry)
{
    RwEngineInstance->memoryAlloc.rwFreeListFree(freelist, entry);
}

RwBool RwFreeListsDisabled(void)
{
    return RwEngineInstance->memoryAlloc.rwFreeListAlloc != RwFreeListAllocReal;
}

// --- Block geometry ---

static RwUInt8 *BlockBitmap(RwFreeListBlock *block)
{
    return reinterpret_cast<RwUInt8 *>(block + 1);
}

static RwUInt8 *BlockEntries(const RwFreeList *fl, RwFreeListBlock *block)
{
    uintptr_t p = reinterpret_cast<uintptr_t>(BlockBitmap(block)) + fl->heapSize;
    uintptr_t rem = p % fl->alignment;
    if (rem != 0) {
        p += fl->alignment - rem;
    }
    return reinterpret_cast<RwUInt8 *>(p);
}

static size_t BlockBytes(const RwFreeList *fl)
{
    return static_cast<size_t>(fl->entriesPerBlock) * fl->entrySize + fl->alignment + fl->heapSize + 7;
}

static RwFreeListBlock *BlockFromLink(RwLLLink *link)
{
    return rwLLLinkGetData(link, RwFreeListBlock, link);
}

static RwFreeListBlock *NewBlock(RwFreeList *fl, RwUInt32 hint)
{
    RwFreeListBlock *block = static_cast<RwFreeListBlock *>(RwMalloc(BlockBytes(fl), hint));
    if (!block) {
        return nullptr;
    }
    memset(BlockBitmap(block), 0, fl->heapSize);
    RwLinkListAddLLLink(&fl->blockList, &block->link);
    return block;
}

static RwBool BlockIsEmpty(const RwFreeList *fl, RwFreeListBlock *block)
{
    const RwUInt8 *bitmap = BlockBitmap(block);
    for (RwUInt32 i = 0; i < fl->heapSize; ++i) {
        if (bitmap[i] != 0) {
            return FALSE;
        }
    }
    return TRUE;
}

static void FreeAllBlocks(RwFreeList *fl)
{
    RwLLLink *link = fl->blockList.next;
    while (link != &fl->blockList) {
        RwLLLink *next = link->next;
        RwFree(BlockFromLink(link));
        link = next;
    }
    RwLinkListInitialize(&fl->blockList);
}

// --- Free lists ---

RwFreeList *RwFreeListCreateAndPreallocate(RwInt32 entrySize, RwInt32 entriesPerBlock, RwInt32 alignment,
                                           RwInt32 numBlocksToPrealloc, RwFreeList *inPlaceSpace,
                                           RwUInt32 hint)
{
    if (!memoryOpen || entrySize <= 0 || entriesPerBlock <= 0 || alignment < 0 || numBlocksToPrealloc < 0) {
        return nullptr;
    }
    if (RwFreeListsDisabled()) {
        numBlocksToPrealloc = 0;
    }
    RwUInt32 align = alignment == 0 ? 4 : static_cast<RwUInt32>(alignment);
    RwUInt32 size = ((static_cast<RwUInt32>(entrySize) + align - 1) / align) * align;
    // A block must stay far below the 32-bit address space.
    if (static_cast<uint64_t>(size) * static_cast<RwUInt32>(entriesPerBlock) + align > 0x40000000u) {
        return nullptr;
    }

    RwFreeList *fl = inPlaceSpace;
    RwUInt32 flags = rwFREELISTFLAG_FREEBLOCKS;
    if (fl) {
        flags |= rwFREELISTFLAG_STATIC;
    } else if (freeListFreeListMade) {
        fl = static_cast<RwFreeList *>(RwFreeListAlloc(&freeListFreeList, hint & 0xFF0000));
    } else {
        fl = static_cast<RwFreeList *>(RwMalloc(sizeof(RwFreeList), hint & 0xFF0000));
    }
    if (!fl) {
        return nullptr;
    }
    fl->entrySize = size;
    fl->entriesPerBlock = static_cast<RwUInt32>(entriesPerBlock);
    fl->heapSize = (fl->entriesPerBlock + 7) / 8;
    fl->alignment = align;
    fl->flags = flags;
    RwLinkListInitialize(&fl->blockList);
    RwLinkListInitialize(&fl->link);

    for (RwInt32 i = 0; i < numBlocksToPrealloc; ++i) {
        if (!NewBlock(fl, hint)) {
            FreeAllBlocks(fl);
            if (!(flags & rwFREELISTFLAG_STATIC)) {
                if (freeListFreeListMade) {
                    RwFreeListFree(&freeListFreeList, fl);
                } else {
                    RwFree(fl);
                }
            }
            return nullptr;
        }
    }
    RwLinkListAddLLLink(&allFreeLists, &fl->link);
    return fl;
}

RwFreeList *RwFreeListCreate(RwInt32 entrySize, RwInt32 entriesPerBlock, RwInt32 alignment, RwUInt32 hint)
{
    return RwFreeListCreateAndPreallocate(entrySize, entriesPerBlock, alignment, 1, nullptr, hint);
}

RwBool RwFreeListDestroy(RwFreeList *freelist)
{
    if (!freelist) {
        return FALSE;
    }
    FreeAllBlocks(freelist);
    // The link of a list off the list of all lists points at itself.
    RwLLLinkRemove(&freelist->link);
    RwLinkListInitialize(&freelist->link);
    if (!(freelist->flags & rwFREELISTFLAG_STATIC)) {
        if (freeListFreeListMade && freelist != &freeListFreeList) {
            RwFreeListFree(&freeListFreeList, freelist);
        } else {
            RwFree(freelist);
        }
    }
    return TRUE;
}

void *RwFreeListAllocReal(RwFreeList *fl, RwUInt32 hint)
{
    if (!fl) {
        return nullptr;
    }
    for (RwLLLink *link = fl->blockList.next; link != &fl->blockList; link = link->next) {
        RwFreeListBlock *block = BlockFromLink(link);
        RwUInt8 *bitmap = BlockBitmap(block);
        for (RwUInt32 byte = 0; byte < fl->heapSize; ++byte) {
            if (bitmap[byte] == 0xFF) {
                continue;
            }
            for (RwUInt32 bit = 0; bit < 8; ++bit) {
                RwUInt32 index = byte * 8 + bit;
                if (index >= fl->entriesPerBlock) {
                    break;
                }
                RwUInt8 mask = static_cast<RwUInt8>(0x80u >> bit);
                if (!(bitmap[byte] & mask)) {
                    bitmap[byte] |= mask;
                    return BlockEntries(fl, block) + index * fl->entrySize;
                }
            }
        }
    }
    RwFreeListBlock *block = NewBlock(fl, hint);
    if (!block) {
        return nullptr;
    }
    BlockBitmap(block)[0] = 0x80;
    return BlockEntries(fl, block);
}

RwFreeList *RwFreeListFreeReal(RwFreeList *fl, void *entry)
{
    if (!fl || !entry) {
        return fl;
    }
    RwUInt8 *p = static_cast<RwUInt8 *>(entry);
    size_t areaBytes = static_cast<size_t>(fl->entriesPerBlock) * fl->entrySize;
    for (RwLLLink *link = fl->blockList.next; link != &fl->blockList; link = link->next) {
        RwFreeListBlock *block = BlockFromLink(link);
        RwUInt8 *area = BlockEntries(fl, block);
        if (p < area || p >= area + areaBytes) {
            continue;
        }
        size_t distance = static_cast<size_t>(p - area);
        if (distance % fl->entrySize != 0) {
            return fl;  // not the start of an entry: ignored
        }
        RwUInt32 index = static_cast<RwUInt32>(distance / fl->entrySize);
        BlockBitmap(block)[index / 8] &= static_cast<RwUInt8>(~(0x80u >> (index % 8)));
        if ((fl->flags & rwFREELISTFLAG_FREEBLOCKS) && BlockIsEmpty(fl, block)) {
            RwLLLinkRemove(&block->link);
            RwFree(block);
        }
        return fl;
    }
    return fl;
}

// Entries of lists made while the engine runs without free lists.
static void *DirectAlloc(RwFreeList *fl, RwUInt32 hint)
{
    return RwMalloc(fl->entrySize, hint);
}

static RwFreeList *DirectFree(RwFreeList *fl, void *entry)
{
    if (entry) {
        RwFree(entry);
    }
    return fl;
}

void RwFreeListsSetDisabled(RwBool disabled)
{
    RwFreeListFunctions &f = RwEngineInstance->memoryAlloc;
    f.rwFreeListAlloc = disabled ? DirectAlloc : RwFreeListAllocReal;
    f.rwFreeListFree = disabled ? DirectFree : RwFreeListFreeReal;
}

RwInt32 RwFreeListPurge(RwFreeList *freelist)
{
    if (!freelist) {
        return 0;
    }
    // The list is emptied and each kept block goes back at its head as the
    // walk meets it, so the kept blocks end up in reverse order.
    RwLinkList *blocks = &freelist->blockList;
    RwLLLink *link = blocks->next;
    RwLinkListInitialize(blocks);
    RwInt32 freed = 0;
    while (link != blocks) {
        RwLLLink *next = link->next;
        RwFreeListBlock *block = BlockFromLink(link);
        if (BlockIsEmpty(freelist, block)) {
            RwFree(block);
            ++freed;
        } else {
            RwLinkListAddLLLink(blocks, link);
        }
        link = next;
    }
    return freed * static_cast<RwInt32>(freelist->entrySize);
}

RwInt32 RwFreeListPurgeAll(void)
{
    RwInt32 total = 0;
    for (RwLLLink *link = allFreeLists.next; link != &allFreeLists; link = link->next) {
        total += RwFreeListPurge(rwLLLinkGetData(link, RwFreeList, link));
    }
    return total;
}

// In place, with no memory of its own: teardown runs it when none may be
// left. Each entry is looked at in the live bitmap as the walk reaches it,
// so one an earlier callback freed is not handed out again. While the walk
// runs no block is given back, so the callback may free any entries; blocks
// left empty go afterwards, when the list gives them back.
RwFreeList *RwFreeListForAllUsed(RwFreeList *freelist, RwFreeListCallBack fpCallBack, void *data)
{
    if (!freelist || !fpCallBack) {
        return nullptr;
    }
    const RwUInt32 flags = freelist->flags;
    freelist->flags &= ~static_cast<RwUInt32>(rwFREELISTFLAG_FREEBLOCKS);
    const RwUInt32 entries = freelist->entriesPerBlock;
    const RwUInt32 size = freelist->entrySize;
    for (RwLLLink *link = freelist->blockList.next; link != &freelist->blockList; link = link->next) {
        RwFreeListBlock *block = BlockFromLink(link);
        RwUInt8 *area = BlockEntries(freelist, block);
        for (RwUInt32 i = 0; i < entries; ++i) {
            if (BlockBitmap(block)[i / 8] & (0x80u >> (i % 8))) {
                fpCallBack(area + i * size, data);
            }
        }
    }
    freelist->flags = flags;
    if (flags & rwFREELISTFLAG_FREEBLOCKS) {
        RwLLLink *link = freelist->blockList.next;
        while (link != &freelist->blockList) {
            RwLLLink *next = link->next;
            RwFreeListBlock *block = BlockFromLink(link);
            if (BlockIsEmpty(freelist, block)) {
                RwLLLinkRemove(link);
                RwFree(block);
            }
            link = next;
        }
    }
    return freelist;
}

// --- Module ---

RwBool RwMemoryOpen(const RwMemoryFunctions *memFuncs)
{
    RwMemoryFunctions funcs = {CrtMalloc, CrtFree, CrtRealloc, CrtCalloc};
    if (memFuncs) {
        if (!memFuncs->rwmalloc || !memFuncs->rwfree || !memFuncs->rwrealloc) {
            RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
            return FALSE;
        }
        funcs = *memFuncs;
        if (!funcs.rwcalloc) {
            funcs.rwcalloc = CallerCalloc;
        }
    }
    RwEngineInstance->memoryFuncs = funcs;
    RwLinkListInitialize(&allFreeLists);
    memoryOpen = TRUE;
    freeListFreeListMade = FALSE;
    if (!RwFreeListCreateAndPreallocate(sizeof(RwFreeList), 16, 4, 0, &freeListFreeList, rwMEMHINTDUR_GLOBAL)) {
        memoryOpen = FALSE;
        return FALSE;
    }
    RwLLLinkRemove(&freeListFreeList.link);
    RwLinkListInitialize(&freeListFreeList.link);
    freeListFreeListMade = TRUE;
    return TRUE;
}

void RwMemoryClose(void)
{
    if (!memoryOpen) {
        return;
    }
    while (!RwLinkListEmpty(&allFreeLists)) {
        RwFreeListDestroy(rwLLLinkGetData(allFreeLists.next, RwFreeList, link));
    }
    if (freeListFreeListMade) {
        freeListFreeListMade = FALSE;
        RwFreeListDestroy(&freeListFreeList);
    }
    memoryOpen = FALSE;
}
