// Material effects inside the plug-in: extension offsets, stream callbacks and texture helpers shared by its files.
#pragma once

#include "matfx.h"

struct RwStream;

struct RwMatFxOffsets {
    RwInt32 material;
    RwInt32 atomic;
    RwInt32 sector;
};
extern RwMatFxOffsets rwMatFxOffsets;

// Releases the textures a slot holds (by its kind), leaving their pointers NULL.
void RwMatFxSlotReleaseTextures(RwMatFxEffectSlot *slot);
// *held takes a reference of texture (may be NULL) and drops the one it had.
void RwMatFxReplaceTexture(RwTexture **held, RwTexture *texture);

RwStream *RwMatFxMaterialStreamRead(RwStream *stream, RwInt32 length, void *material, RwInt32 offset, RwInt32 size);
RwStream *RwMatFxMaterialStreamWrite(RwStream *stream, RwInt32 length, const void *material, RwInt32 offset,
                                     RwInt32 size);
RwInt32 RwMatFxMaterialStreamGetSize(const void *material, RwInt32 offset, RwInt32 size);
RwStream *RwMatFxAtomicStreamRead(RwStream *stream, RwInt32 length, void *atomic, RwInt32 offset, RwInt32 size);
RwStream *RwMatFxSectorStreamRead(RwStream *stream, RwInt32 length, void *sector, RwInt32 offset, RwInt32 size);
RwStream *RwMatFxFlagStreamWrite(RwStream *stream, RwInt32 length, const void *object, RwInt32 offset, RwInt32 size);
RwInt32 RwMatFxFlagStreamGetSize(const void *object, RwInt32 offset, RwInt32 size);
// 1 / the width of the texture's raster; 0 without one or for width 0.
RwReal RwMatFxInverseWidth(const RwTexture *texture);
// The material extension's copy callback.
void *RwMatFxMaterialCopy(void *dst, const void *src, RwInt32 offset, RwInt32 size);
