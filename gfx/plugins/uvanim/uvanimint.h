// UV animation inside the plug-in: the custom data, the two schemes and the material stream callbacks.
#pragma once

#include "gfx/core/plugin.h"
#include "uvanim.h"

extern const RwAnimInterpolatorInfo rwUVAnimLinearScheme;
extern const RwAnimInterpolatorInfo rwUVAnimParamScheme;

// Clears the animation's custom data and gives it one reference.
RwUVAnimCustomData *RwUVAnimInitCustomData(RwAnimAnimation *animation);

RwStream *RwUVAnimMaterialStreamRead(RwStream *stream, RwInt32 length, void *material, RwInt32 offset,
                                     RwInt32 size);
RwStream *RwUVAnimMaterialStreamWrite(RwStream *stream, RwInt32 length, const void *material, RwInt32 offset,
                                      RwInt32 size);
RwInt32 RwUVAnimMaterialStreamGetSize(const void *material, RwInt32 offset, RwInt32 size);
// Releases a slot's animation reference and interpolator.
void RwUVAnimMaterialClearSlot(RwUVAnimMaterialData *data, RwInt32 slot);
// The material extension's copy callback.
void *RwUVAnimMaterialCopy(void *dst, const void *src, RwInt32 offset, RwInt32 size);
