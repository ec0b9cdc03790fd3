// The chunk-group module: its pool of 33-byte chunk-group records.
#include "chunkgroup.h"

#include "engine.h"
#include "modules.h"

struct RwChunkGroupGlobals {
    RwFreeList *freeList;
};
static_assert(sizeof(RwChunkGroupGlobals) == 4, "chunk-group globals are one word");

enum : RwInt32 {
    rwCHUNKGROUPENTRYSIZE = 33,
    rwCHUNKGROUPENTRIESPERBLOCK = 16,
    rwCHUNKGROUPPREALLOCBLOCKS = 1,
};

static RwFreeList chunkGroupFreeList;
static RwInt32 chunkGroupModuleOffset = -1;
static RwInt32 chunkGroupModuleOpenCount = 0;

RwFreeList *RwChunkGroupGetFreeList(void)
{
    if (chunkGroupModuleOpenCount <= 0) {
        return nullptr;
    }
    return RwEngineModuleGlobals<RwChunkGroupGlobals>(chunkGroupModuleOffset)->freeList;
}

void *RwChunkGroupModuleOpen(void *instance, RwInt32 offset, RwInt32 size)
{
    RwChunkGroupGlobals *g = reinterpret_cast<RwChunkGroupGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    g->freeList = RwFreeListCreateAndPreallocate(rwCHUNKGROUPENTRYSIZE, rwCHUNKGROUPENTRIESPERBLOCK, 4,
                                                 rwCHUNKGROUPPREALLOCBLOCKS, &chunkGroupFreeList, 0x40412);
    if (!g->freeList) {
        return nullptr;
    }
    chunkGroupModuleOffset = offset;
    ++chunkGroupModuleOpenCount;
    return instance;
}

void *RwChunkGroupModuleClose(void *instance, RwInt32 offset, RwInt32 size)
{
    RwChunkGroupGlobals *g = reinterpret_cast<RwChunkGroupGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    if (g->freeList) {
        RwFreeListDestroy(g->freeList);
        g->freeList = nullptr;
    }
    --chunkGroupModuleOpenCount;
    return instance;
}
