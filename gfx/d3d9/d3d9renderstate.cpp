// The render-state cache: shadows of render, texture-stage and sampler states.
#include "d3d9renderstate.h"

#include "d3d9device.h"
#include "d3d9raster.h"

struct WantedState {
    RwUInt32 value;
    RwUInt32 queued;
};

static WantedState RenderStates[rwD3D9RENDERSTATES];
static RwUInt32 SentRenderStates[rwD3D9RENDERSTATES];
static RwUInt32 RenderStateQueue[rwD3D9RENDERSTATES];
static RwUInt32 NumQueuedRenderStates;

static const RwUInt32 NumStageStates = rwD3D9TEXTURESTAGES * rwD3D9STAGESTATES;
static WantedState StageStates[NumStageStates];
static RwUInt32 SentStageStates[NumStageStates];
static RwUInt32 StageStateQueue[NumStageStates];
static RwUInt32 NumQueuedStageStates;

static RwUInt32 SamplerStates[rwD3D9TEXTURESTAGES * rwD3D9SAMPLERSTATES];
static RwRaster *StageRasters[rwD3D9TEXTURESTAGES];

RwBool RwD3D9SetTextureRaster(RwRaster *raster, RwUInt32 stage)
{
    if (stage >= rwD3D9TEXTURESTAGES || StageRasters[stage] == raster)
        return TRUE;
    StageRasters[stage] = raster;
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    if (raster == nullptr) {
        device->SetTexture(stage, nullptr);
        return TRUE;
    }
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(RwD3D9RasterGetTop(raster));
    device->SetTexture(stage, static_cast<IDirect3DBaseTexture9 *>(ext->texture));
    if (ext->palette)
        device->SetCurrentTexturePalette(static_cast<RwD3D9Palette *>(ext->palette)->number);
    return TRUE;
}

RwRaster *RwD3D9GetTextureRaster(RwUInt32 stage)
{
    return stage < rwD3D9TEXTURESTAGES ? StageRasters[stage] : nullptr;
}

void RwD3D9SetRenderState(RwUInt32 state, RwUInt32 value)
{
    if (state >= rwD3D9RENDERSTATES)
        return;
    WantedState &w = RenderStates[state];
    if (w.value == value)
        return;
    w.value = value;
    if (!w.queued) {
        w.queued = TRUE;
        RenderStateQueue[NumQueuedRenderStates++] = state;
    }
}

void RwD3D9GetRenderState(RwUInt32 state, void *value)
{
    if (state < rwD3D9RENDERSTATES && value)
        *static_cast<RwUInt32 *>(value) = RenderStates[state].value;
}

void RwD3D9SetTextureStageState(RwUInt32 stage, RwUInt32 type, RwUInt32 value)
{
    if (stage >= rwD3D9TEXTURESTAGES || type >= rwD3D9STAGESTATES)
        return;
    RwUInt32 index = stage * rwD3D9STAGESTATES + type;
    WantedState &w = StageStates[index];
    if (w.value == value)
        return;
    w.value = value;
    if (!w.queued) {
        w.queued = TRUE;
        StageStateQueue[NumQueuedStageStates++] = index;
    }
}

void RwD3D9SetSamplerState(RwUInt32 sampler, RwUInt32 type, RwUInt32 value)
{
    if (sampler >= rwD3D9TEXTURESTAGES || type >= rwD3D9SAMPLERSTATES)
        return;
    RwUInt32 &sent = SamplerStates[sampler * rwD3D9SAMPLERSTATES + type];
    if (sent == value)
        return;
    sent = value;
    rwD3D9Driver.device->SetSamplerState(sampler, static_cast<D3DSAMPLERSTATETYPE>(type), value);
}

void RwD3D9FlushRenderStates(void)
{
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    for (RwUInt32 i = 0; i < NumQueuedRenderStates; i++) {
        RwUInt32 state = RenderStateQueue[i];
        WantedState &w = RenderStates[state];
        w.queued = FALSE;
        if (w.value != SentRenderStates[state]) {
            SentRenderStates[state] = w.value;
            device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(state), w.value);
        }
    }
    NumQueuedRenderStates = 0;
    for (RwUInt32 i = 0; i < NumQueuedStageStates; i++) {
        RwUInt32 index = StageStateQueue[i];
        WantedState &w = StageStates[index];
        w.queued = FALSE;
        if (w.value != SentStageStates[index]) {
            SentStageStates[index] = w.value;
            device->SetTextureStageState(index / rwD3D9STAGESTATES,
                                         static_cast<D3DTEXTURESTAGESTATETYPE>(index % rwD3D9STAGESTATES), w.value);
        }
    }
    NumQueuedStageStates = 0;
}

// Engine-level render states are not handled by this cache.
RwBool RwD3D9RenderStateSetHandler(RwInt32, void *)
{
    return FALSE;
}

RwBool RwD3D9RenderStateGetHandler(RwInt32, void *)
{
    return FALSE;
}

// Forgets what the device holds; wanted values that were set are queued again.
static void ForgetSentStates(void)
{
    NumQueuedRenderStates = 0;
    for (RwUInt32 s = 0; s < rwD3D9RENDERSTATES; s++) {
        SentRenderStates[s] = rwD3D9STATEUNSENT;
        RenderStates[s].queued = FALSE;
        if (RenderStates[s].value != rwD3D9STATEUNSENT) {
            RenderStates[s].queued = TRUE;
            RenderStateQueue[NumQueuedRenderStates++] = s;
        }
    }
    NumQueuedStageStates = 0;
    for (RwUInt32 i = 0; i < NumStageStates; i++) {
        SentStageStates[i] = rwD3D9STATEUNSENT;
        StageStates[i].queued = FALSE;
        if (StageStates[i].value != rwD3D9STATEUNSENT) {
            StageStates[i].queued = TRUE;
            StageStateQueue[NumQueuedStageStates++] = i;
        }
    }
    for (RwUInt32 &s : SamplerStates)
        s = rwD3D9STATEUNSENT;
    // Every stage is unbound by the device reset or open.
    for (RwRaster *&r : StageRasters)
        r = nullptr;
}

RwBool RwD3D9RenderStateCacheOpen(void)
{
    for (WantedState &w : RenderStates)
        w = {rwD3D9STATEUNSENT, FALSE};
    for (WantedState &w : StageStates)
        w = {rwD3D9STATEUNSENT, FALSE};
    ForgetSentStates();
    RwD3D9FlushRenderStates();
    return TRUE;
}

RwBool RwD3D9RenderStateCacheRestore(void)
{
    ForgetSentStates();
    RwD3D9FlushRenderStates();
    return TRUE;
}
