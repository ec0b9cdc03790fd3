// Skin plug-in internals shared by its records and its stream code.
#pragma once

#include "skin.h"

struct RwFreeList;

struct RwSkinGlobals {
    RwInt32 geometryOffset;
    RwInt32 atomicOffset;
    RwInt32 openCount;
    RwFreeList *pool;
    void *paletteBlock;
    RwMatrix *palette;                  // 16-byte aligned inside paletteBlock
    RxPipeline *pipelines[2];           // plain (types 1 and 2), toon
};

extern RwSkinGlobals rwSkinGlobals;

// A cleared record with its data block for the counts; NULL (error set) when
// memory runs out.
RwSkin *RwSkinCreateRecord(RwUInt32 numBones, RwUInt32 usedCapacity, RwUInt32 numVertices);
void RwSkinDestroyRecord(RwSkin *skin);

RwStream *RwSkinGeometryStreamRead(RwStream *stream, RwInt32 length, void *geometry, RwInt32 offset, RwInt32 size);
RwStream *RwSkinGeometryStreamWrite(RwStream *stream, RwInt32 length, const void *geometry, RwInt32 offset,
                                    RwInt32 size);
RwInt32 RwSkinGeometryStreamSize(const void *geometry, RwInt32 offset, RwInt32 size);
RwStream *RwSkinAtomicStreamRead(RwStream *stream, RwInt32 length, void *atomic, RwInt32 offset, RwInt32 size);
