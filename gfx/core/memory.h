// Memory functions, memory hints, free lists and the resources arena.
#pragma once

#include "rwtypes.h"

// Memory hint: bits 16-23 lifetime, bits 0-15 module or object, bit 24 realloc.
enum : RwUInt32 {
    rwMEMHINTDUR_FUNCTION = 0x10000,
    rwMEMHINTDUR_FRAME = 0x20000,
    rwMEMHINTDUR_EVENT = 0x30000,
    rwMEMHINTDUR_GLOBAL = 0x40000,
    rwMEMHINTFLAG_RESIZABLE = 0x1000000,
};

struct RwMemoryFunctions {
    void *(*rwmalloc)(size_t size, RwUInt32 hint);
    void (*rwfree)(void *mem);
    void *(*rwrealloc)(void *mem, size_t newSize, RwUInt32 hint);
    void *(*rwcalloc)(size_t count, size_t size);
};
static_assert(sizeof(RwMemoryFunctions) == 16, "four function pointers");

struct RwFreeList {
    RwUInt32 entrySize;
    RwUInt32 entriesPerBlock;
    RwUInt32 heapSize;        // bitmap bytes per block
    RwUInt32 alignment;
    RwLinkList blockList;
    RwUInt32 flags;           // bit 0 caller storage, bit 1 release empty blocks
    RwLLLink link;            // in the memory module's list of all free lists
};
static_assert(sizeof(RwFreeList) == 36, "free-list header is 36 bytes");

enum : RwUInt32 {
    rwFREELISTFLAG_STATIC = 0x1,
    rwFREELISTFLAG_FREEBLOCKS = 0x2,
};

typedef void (*RwFreeListCallBack)(void *entry, void *data);

RwFreeList *RwFreeListCreate(RwInt32 entrySize, RwInt32 entriesPerBlock, RwInt32 alignment, RwUInt32 hint);
RwFreeList *RwFreeListCreateAndPreallocate(RwInt32 entrySize, RwInt32 entriesPerBlock, RwInt32 alignment,
                                           RwInt32 numBlocksToPrealloc, RwFreeList *inPlaceSpace,
                                           RwUInt32 hint);
RwBool RwFreeListDestroy(RwFreeList *freelist);
RwInt32 RwFreeListPurge(RwFreeList *freelist);
RwInt32 RwFreeListPurgeAll(void);
RwFreeList *RwFreeListForAllUsed(RwFreeList *freelist, RwFreeListCallBack fpCallBack, void *data);

// The real free-list allocate and free, installed in the engine object unless
// the engine was initialised without free lists.
void *RwFreeListAllocReal(RwFreeList *freelist, RwUInt32 hint);
RwFreeList *RwFreeListFreeReal(RwFreeList *freelist, void *entry);

// Memory module, opened by RwEngineInit and closed by RwEngineTerm.
RwBool RwMemoryOpen(const RwMemoryFunctions *memFuncs);
void RwMemoryClose(void);
// TRUE when the engine runs without free lists (RwEngineInit flag bit 0).
RwBool RwFreeListsDisabled(void);
// Installs the real or the direct free-list functions in the engine object.
void RwFreeListsSetDisabled(RwBool disabled);

// Allocation through the engine object's tables.
void *RwMalloc(size_t size, RwUInt32 hint);
void RwFree(void *mem);
void *RwRealloc(void *mem, size_t size, RwUInt32 hint);
void *RwCalloc(size_t count, size_t size);
void *RwFreeListAlloc(RwFreeList *freelist, RwUInt32 hint);
void RwFreeListFree(RwFreeList *freelist, void *entry);

// Resources arena.
struct RwResourceEntry;
typedef void (*RwResourceEntryDestroyNotify)(RwResourceEntry *resEntry);

struct RwResourceEntry {
    RwLLLink link;                 // NULL next: not taken from the arena
    RwInt32 size;                  // data bytes
    void *owner;
    RwResourceEntry **ownerRef;
    RwResourceEntryDestroyNotify destroyNotify;
};
static_assert(sizeof(RwResourceEntry) == 24, "resource entry header is 24 bytes");

// The entry's data follows its header.
inline void *RwResourceEntryData(RwResourceEntry *entry) { return entry + 1; }

RwResourceEntry *RwResourcesAllocateEntry(void *owner, RwResourceEntry **ownerRef, RwInt32 size,
                                          RwResourceEntryDestroyNotify destroyNotify);
// Form without an owner reference.
RwResourceEntry *RwResourcesAllocateEntry(void *owner, RwInt32 size, RwResourceEntryDestroyNotify destroyNotify);
RwBool RwResourcesFreeEntry(RwResourceEntry *entry);
// Moves the entry to the head of the current frame's list (it was just used).
void RwResourcesUseResEntry(RwResourceEntry *entry);
void RwResourcesNextFrame(void);
RwBool RwResourcesEmptyArena(void);
RwInt32 RwResourcesGetArenaUsage(void);
RwInt32 RwResourcesGetEvictedThisFrame(void);

