// The render-state cache: shadows of render, texture-stage and sampler states.
#pragma once

#include "gfx/core/rwtypes.h"

enum : RwUInt32 {
    rwD3D9RENDERSTATES = 210,
    rwD3D9TEXTURESTAGES = 8,
    rwD3D9STAGESTATES = 33,
    rwD3D9SAMPLERSTATES = 14,
    rwD3D9STATEUNSENT = 0xFFFFFFFFu,
};

void RwD3D9SetRenderState(RwUInt32 state, RwUInt32 value);
void RwD3D9GetRenderState(RwUInt32 state, void *value);
void RwD3D9SetTextureStageState(RwUInt32 stage, RwUInt32 type, RwUInt32 value);
void RwD3D9SetSamplerState(RwUInt32 sampler, RwUInt32 type, RwUInt32 value);
void RwD3D9FlushRenderStates(void);

struct RwRaster;
// Binds a raster's Direct3D texture (and palette) to a stage; NULL unbinds.
RwBool RwD3D9SetTextureRaster(RwRaster *raster, RwUInt32 stage);
RwRaster *RwD3D9GetTextureRaster(RwUInt32 stage);

// The device block's engine-level render-state entries.
RwBool RwD3D9RenderStateSetHandler(RwInt32 state, void *value);
RwBool RwD3D9RenderStateGetHandler(RwInt32 state, void *value);

RwBool RwD3D9RenderStateCacheOpen(void);
RwBool RwD3D9RenderStateCacheRestore(void);
