// The render-state cache: shadows of render, texture-stage and sampler states,
// the engine-level render states, texture binding per stage and the material.
#include "d3d9renderstate.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "d3d9device.h"
#include "d3d9raster.h"
#include "d3d9state.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"

RwRGBAReal rwD3D9AmbientColour = {0.0f, 0.0f, 0.0f, 1.0f};

// ---------------------------------------------------------------------------
// Direct3D state shadows

struct WantedState {
    RwUInt32 value;
    RwUInt32 queued;
};

// What the device holds. Every value a state can take is a real value, the
// "not sent" marker included (a white border colour, a stencil reference of
// all ones), so whether the device holds a known value is kept beside it.
struct SentState {
    RwUInt32 value;
    RwBool known;
};

static const SentState UnknownState = {rwD3D9STATEUNSENT, FALSE};

static WantedState RenderStates[rwD3D9RENDERSTATES];
static SentState SentRenderStates[rwD3D9RENDERSTATES];
static RwUInt32 RenderStateQueue[rwD3D9RENDERSTATES];
static RwUInt32 NumQueuedRenderStates;

static const RwUInt32 NumStageStates = rwD3D9TEXTURESTAGES * rwD3D9STAGESTATES;
static WantedState StageStates[NumStageStates];
static SentState SentStageStates[NumStageStates];
static RwUInt32 StageStateQueue[NumStageStates];
static RwUInt32 NumQueuedStageStates;

static SentState SamplerStates[rwD3D9TEXTURESTAGES * rwD3D9SAMPLERSTATES];

// A state that is not queued wants what was last sent; it needs nothing more
// when the device is known to hold that, or when it is queued already.
static RwBool Settled(const WantedState &w, const SentState &sent, RwUInt32 value)
{
    return w.value == value && (w.queued || sent.known);
}

// Records a value sent to the device; TRUE when it must be sent.
static RwBool Send(SentState &sent, RwUInt32 value)
{
    if (sent.known && sent.value == value)
        return FALSE;
    sent = {value, TRUE};
    return TRUE;
}

void RwD3D9SetRenderState(RwUInt32 state, RwUInt32 value)
{
    if (state >= rwD3D9RENDERSTATES)
        return;
    WantedState &w = RenderStates[state];
    if (Settled(w, SentRenderStates[state], value)) {
        rwD3D9FilteredStateCalls++;
        return;
    }
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

// A colour or alpha operation the device does not define stops a later draw
// inside Direct3D itself: it is refused here, and the stage keeps its own.
static RwBool KnownStageValue(RwUInt32 type, RwUInt32 value)
{
    if (type == D3DTSS_COLOROP || type == D3DTSS_ALPHAOP)
        return value >= D3DTOP_DISABLE && value <= D3DTOP_LERP;
    return TRUE;
}

void RwD3D9SetTextureStageState(RwUInt32 stage, RwUInt32 type, RwUInt32 value)
{
    if (stage >= rwD3D9TEXTURESTAGES || type >= rwD3D9STAGESTATES || !KnownStageValue(type, value))
        return;
    RwUInt32 index = stage * rwD3D9STAGESTATES + type;
    WantedState &w = StageStates[index];
    if (Settled(w, SentStageStates[index], value)) {
        rwD3D9FilteredStateCalls++;
        return;
    }
    w.value = value;
    if (!w.queued) {
        w.queued = TRUE;
        StageStateQueue[NumQueuedStageStates++] = index;
    }
}

void RwD3D9GetTextureStageState(RwUInt32 stage, RwUInt32 type, void *value)
{
    if (stage < rwD3D9TEXTURESTAGES && type < rwD3D9STAGESTATES && value)
        *static_cast<RwUInt32 *>(value) = StageStates[stage * rwD3D9STAGESTATES + type].value;
}

void RwD3D9SetSamplerState(RwUInt32 sampler, RwUInt32 type, RwUInt32 value)
{
    if (sampler >= rwD3D9TEXTURESTAGES || type >= rwD3D9SAMPLERSTATES)
        return;
    if (!Send(SamplerStates[sampler * rwD3D9SAMPLERSTATES + type], value)) {
        rwD3D9FilteredStateCalls++;
        return;
    }
    if (rwD3D9Driver.device)
        rwD3D9Driver.device->SetSamplerState(sampler, static_cast<D3DSAMPLERSTATETYPE>(type), value);
}

void RwD3D9GetSamplerState(RwUInt32 sampler, RwUInt32 type, void *value)
{
    if (sampler < rwD3D9TEXTURESTAGES && type < rwD3D9SAMPLERSTATES && value)
        *static_cast<RwUInt32 *>(value) = SamplerStates[sampler * rwD3D9SAMPLERSTATES + type].value;
}

static RwBool HandedOut;
static void SendHeldAgain(IDirect3DDevice9 *device);

void RwD3D9RenderStateCacheHandOut(void)
{
    HandedOut = TRUE;
}

void RwD3D9FlushRenderStates(void)
{
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    if (device == nullptr)
        return;
    if (HandedOut)
        SendHeldAgain(device);
    for (RwUInt32 i = 0; i < NumQueuedRenderStates; i++) {
        RwUInt32 state = RenderStateQueue[i];
        WantedState &w = RenderStates[state];
        w.queued = FALSE;
        if (Send(SentRenderStates[state], w.value))
            device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(state), w.value);
    }
    NumQueuedRenderStates = 0;
    for (RwUInt32 i = 0; i < NumQueuedStageStates; i++) {
        RwUInt32 index = StageStateQueue[i];
        WantedState &w = StageStates[index];
        w.queued = FALSE;
        if (Send(SentStageStates[index], w.value))
            device->SetTextureStageState(index / rwD3D9STAGESTATES,
                                         static_cast<D3DTEXTURESTAGESTATETYPE>(index % rwD3D9STAGESTATES), w.value);
    }
    NumQueuedStageStates = 0;
}

// ---------------------------------------------------------------------------
// Engine-level state

struct StageRecord {
    RwRaster *raster;
    RwUInt32 addressU;
    RwUInt32 addressV;
    RwUInt32 filterMode;
    RwUInt32 borderColour;
    RwUInt32 maxAnisotropy;
};

struct EngineStates {
    RwBool zWrite;
    RwBool zTest;
    RwUInt32 stencilEnable;
    RwUInt32 stencilFail;
    RwUInt32 stencilZFail;
    RwUInt32 stencilPass;
    RwUInt32 stencilFunction;
    RwUInt32 stencilReference;
    RwUInt32 stencilMask;
    RwUInt32 stencilWriteMask;
    RwBool vertexAlpha;
    RwBool textureAlpha;
    RwUInt32 cullMode;
    RwBool fogEnable;
    RwUInt32 fogType;
    RwReal fogDensity;
    RwUInt32 fogColour;
    RwUInt32 shadeMode;
    RwUInt32 srcBlend;
    RwUInt32 destBlend;
    RwUInt32 alphaTestFunction;
    RwUInt32 alphaTestEnable;   // 1 unless the function is "always"
};

// What the last material was made from.
struct MaterialInputs {
    RwReal diffuse;
    RwReal ambient;
    RwRGBA colour;
    RwUInt32 flags;
    RwReal lightRed, lightGreen, lightBlue;
};

static StageRecord Stages[rwD3D9TEXTURESTAGES];
static EngineStates Engine;
static D3DMATERIAL9 Material;
static MaterialInputs MaterialCache;

// The render states the last material goes with. Others set some of them
// too (the lighting callbacks clear the ambient state before every object),
// so a material that is still current checks them before it draws again.
struct MaterialStates {
    RwUInt32 ambient;
    RwUInt32 colourVertex;
    RwUInt32 ambientSource;
    RwUInt32 emissiveSource;
};
static MaterialStates MaterialStateCache;

enum : RwUInt32 {
    CompareAlways = 8,
    AnisotropicFilter = 3,
    MaxFilterMode = 13,
};

// Engine codes that map one to one onto Direct3D values: valid from 1 to the limit.
static RwBool InTable(RwUInt32 value, RwUInt32 last)
{
    return value >= 1 && value <= last;
}

static const RwUInt32 FogModes[4] = {0, D3DFOG_LINEAR, D3DFOG_EXP, D3DFOG_EXP2};

// Filter mode -> (minification and magnification, mip filter); modes 7-13 minify anisotropically.
static void FilterFor(RwUInt32 mode, RwUInt32 *minMag, RwUInt32 *mip)
{
    static const RwUInt8 rows[7][2] = {
        {D3DTEXF_NONE, D3DTEXF_NONE},   {D3DTEXF_POINT, D3DTEXF_NONE},  {D3DTEXF_LINEAR, D3DTEXF_NONE},
        {D3DTEXF_POINT, D3DTEXF_POINT}, {D3DTEXF_LINEAR, D3DTEXF_POINT}, {D3DTEXF_POINT, D3DTEXF_LINEAR},
        {D3DTEXF_LINEAR, D3DTEXF_LINEAR},
    };
    RwUInt32 row = mode > 6 ? mode - 7 : mode;
    *minMag = mode > 6 ? static_cast<RwUInt32>(AnisotropicFilter) : rows[row][0];
    *mip = rows[row][1];
}

static RwUInt32 ValueOf(void *value)
{
    return static_cast<RwUInt32>(reinterpret_cast<uintptr_t>(value));
}

static void SendStageFilter(RwUInt32 stage, RwUInt32 mode)
{
    RwUInt32 minMag, mip;
    FilterFor(mode, &minMag, &mip);
    RwUInt32 mag = minMag;
    if (minMag == AnisotropicFilter &&
        !(rwD3D9Driver.caps.TextureFilterCaps & D3DPTFILTERCAPS_MAGFANISOTROPIC))
        mag = D3DTEXF_LINEAR;
    RwD3D9SetSamplerState(stage, D3DSAMP_MINFILTER, minMag);
    RwD3D9SetSamplerState(stage, D3DSAMP_MAGFILTER, mag);
    RwD3D9SetSamplerState(stage, D3DSAMP_MIPFILTER, mip);
}

static void SetStageAddressU(RwUInt32 stage, RwUInt32 address)
{
    if (Stages[stage].addressU != address) {
        Stages[stage].addressU = address;
        RwD3D9SetSamplerState(stage, D3DSAMP_ADDRESSU, address);
    }
}

static void SetStageAddressV(RwUInt32 stage, RwUInt32 address)
{
    if (Stages[stage].addressV != address) {
        Stages[stage].addressV = address;
        RwD3D9SetSamplerState(stage, D3DSAMP_ADDRESSV, address);
    }
}

static void SetStageFilter(RwUInt32 stage, RwUInt32 mode)
{
    if (Stages[stage].filterMode != mode) {
        Stages[stage].filterMode = mode;
        SendStageFilter(stage, mode);
    }
}

// Blending is on while vertex or texture alpha is; alpha test follows it.
static void SendBlending(RwBool on)
{
    RwD3D9SetRenderState(D3DRS_ALPHABLENDENABLE, on ? TRUE : FALSE);
    RwD3D9SetRenderState(D3DRS_ALPHATESTENABLE, on ? Engine.alphaTestEnable : FALSE);
}

static void SetTextureAlpha(RwBool on)
{
    if (Engine.textureAlpha == on)
        return;
    Engine.textureAlpha = on;
    if (!Engine.vertexAlpha)
        SendBlending(on);
}

RwBool RwD3D9SetVertexAlphaEnable(RwBool enable)
{
    enable = enable ? TRUE : FALSE;
    if (Engine.vertexAlpha == enable)
        return TRUE;
    Engine.vertexAlpha = enable;
    if (!Engine.textureAlpha)
        SendBlending(enable);
    return TRUE;
}

RwBool RwD3D9GetVertexAlphaEnable(void)
{
    return Engine.vertexAlpha;
}

static RwBool SetTableState(RwUInt32 *engineValue, RwUInt32 value, RwUInt32 last, RwUInt32 d3dState)
{
    if (!InTable(value, last))
        return FALSE;
    if (*engineValue == value) {
        rwD3D9FilteredStateCalls++;
        return TRUE;
    }
    *engineValue = value;
    RwD3D9SetRenderState(d3dState, value);
    return TRUE;
}

static RwBool SetRawState(RwUInt32 *engineValue, RwUInt32 value, RwUInt32 d3dState)
{
    if (*engineValue == value) {
        rwD3D9FilteredStateCalls++;
        return TRUE;
    }
    *engineValue = value;
    RwD3D9SetRenderState(d3dState, value);
    return TRUE;
}

RwBool RwD3D9SetSrcBlend(RwUInt32 blend)
{
    return SetTableState(&Engine.srcBlend, blend, D3DBLEND_SRCALPHASAT, D3DRS_SRCBLEND);
}

RwBool RwD3D9SetDestBlend(RwUInt32 blend)
{
    return SetTableState(&Engine.destBlend, blend, D3DBLEND_SRCALPHASAT, D3DRS_DESTBLEND);
}

RwBool RwD3D9SetShadeMode(RwUInt32 mode)
{
    return SetTableState(&Engine.shadeMode, mode, D3DSHADE_GOURAUD, D3DRS_SHADEMODE);
}

RwBool RwD3D9SetCullMode(RwUInt32 mode)
{
    return SetTableState(&Engine.cullMode, mode, D3DCULL_CCW, D3DRS_CULLMODE);
}

RwBool RwD3D9SetStencilEnable(RwBool enable)
{
    return SetRawState(&Engine.stencilEnable, enable ? TRUE : FALSE, D3DRS_STENCILENABLE);
}

RwBool RwD3D9SetStencilFail(RwUInt32 operation)
{
    return SetTableState(&Engine.stencilFail, operation, D3DSTENCILOP_DECR, D3DRS_STENCILFAIL);
}

RwBool RwD3D9SetStencilZFail(RwUInt32 operation)
{
    return SetTableState(&Engine.stencilZFail, operation, D3DSTENCILOP_DECR, D3DRS_STENCILZFAIL);
}

RwBool RwD3D9SetStencilPass(RwUInt32 operation)
{
    return SetTableState(&Engine.stencilPass, operation, D3DSTENCILOP_DECR, D3DRS_STENCILPASS);
}

RwBool RwD3D9SetStencilFunction(RwUInt32 function)
{
    return SetTableState(&Engine.stencilFunction, function, D3DCMP_ALWAYS, D3DRS_STENCILFUNC);
}

RwBool RwD3D9SetStencilReference(RwUInt32 reference)
{
    return SetRawState(&Engine.stencilReference, reference, D3DRS_STENCILREF);
}

RwBool RwD3D9SetStencilMask(RwUInt32 mask)
{
    return SetRawState(&Engine.stencilMask, mask, D3DRS_STENCILMASK);
}

RwBool RwD3D9SetStencilWriteMask(RwUInt32 mask)
{
    return SetRawState(&Engine.stencilWriteMask, mask, D3DRS_STENCILWRITEMASK);
}

// Depth is enabled while either testing or writing is; testing off keeps
// writing by comparing with "always".
RwBool RwD3D9SetZTestEnable(RwBool enable)
{
    enable = enable ? TRUE : FALSE;
    if (Engine.zTest == enable)
        return TRUE;
    Engine.zTest = enable;
    if (!Engine.zWrite)
        RwD3D9SetRenderState(D3DRS_ZENABLE, enable);
    RwD3D9SetRenderState(D3DRS_ZFUNC, enable ? D3DCMP_LESSEQUAL : D3DCMP_ALWAYS);
    return TRUE;
}

RwBool RwD3D9SetZWriteEnable(RwBool enable)
{
    enable = enable ? TRUE : FALSE;
    if (Engine.zWrite == enable)
        return TRUE;
    Engine.zWrite = enable;
    if (!Engine.zTest)
        RwD3D9SetRenderState(D3DRS_ZENABLE, enable);
    RwD3D9SetRenderState(D3DRS_ZWRITEENABLE, enable);
    return TRUE;
}

RwBool RwD3D9SetTextureFilterMode(RwUInt32 mode)
{
    if (mode > MaxFilterMode)
        return FALSE;
    if (Stages[0].maxAnisotropy > 1) {
        Stages[0].maxAnisotropy = 1;
        RwD3D9SetSamplerState(0, D3DSAMP_MAXANISOTROPY, 1);
    }
    SetStageFilter(0, mode);
    return TRUE;
}

static RwBool SetFogEnable(RwBool enable)
{
    enable = enable ? TRUE : FALSE;
    if (Engine.fogEnable == enable)
        return TRUE;
    // A device without fog cannot have it on: that is no success.
    if (enable && !(rwD3D9Driver.caps.RasterCaps & (D3DPRASTERCAPS_FOGVERTEX | D3DPRASTERCAPS_FOGTABLE)))
        return FALSE;
    Engine.fogEnable = enable;
    RwD3D9SetRenderState(D3DRS_FOGENABLE, enable);
    return TRUE;
}

// Table fog where the device does it per pixel with w, vertex fog otherwise.
static void SendFogType(RwUInt32 type)
{
    const RwUInt32 wanted = D3DPRASTERCAPS_FOGTABLE | D3DPRASTERCAPS_WFOG;
    if ((rwD3D9Driver.caps.RasterCaps & wanted) == wanted) {
        RwD3D9SetRenderState(D3DRS_FOGTABLEMODE, FogModes[type]);
        RwD3D9SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_NONE);
    } else {
        RwD3D9SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
        RwD3D9SetRenderState(D3DRS_FOGVERTEXMODE, FogModes[type]);
    }
}

static RwBool SetFogType(RwUInt32 type)
{
    if (!InTable(type, 3))
        return FALSE;
    if (Engine.fogType != type) {
        Engine.fogType = type;
        SendFogType(type);
    }
    return TRUE;
}

static RwUInt32 RealBits(RwReal value)
{
    RwUInt32 bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

static RwBool SetFogDensity(const RwReal *density)
{
    if (density == nullptr)
        return FALSE;
    if (RealBits(Engine.fogDensity) != RealBits(*density)) {
        Engine.fogDensity = *density;
        RwD3D9SetRenderState(D3DRS_FOGDENSITY, RealBits(*density));
    }
    return TRUE;
}

static RwBool SetAlphaTestFunction(RwUInt32 function)
{
    if (!InTable(function, D3DCMP_ALWAYS))
        return FALSE;
    if (Engine.alphaTestFunction == function)
        return TRUE;
    Engine.alphaTestFunction = function;
    Engine.alphaTestEnable = function != CompareAlways;
    if (Engine.vertexAlpha || Engine.textureAlpha)
        RwD3D9SetRenderState(D3DRS_ALPHATESTENABLE, Engine.alphaTestEnable);
    RwD3D9SetRenderState(D3DRS_ALPHAFUNC, function);
    return TRUE;
}

// ---------------------------------------------------------------------------
// Texture binding

RwRaster *RwD3D9GetTextureRaster(RwUInt32 stage)
{
    return stage < rwD3D9TEXTURESTAGES ? Stages[stage].raster : nullptr;
}

RwBool RwD3D9SetTextureRaster(RwRaster *raster, RwUInt32 stage)
{
    if (stage >= rwD3D9TEXTURESTAGES)
        return FALSE;
    // A sub-raster draws from its top raster's texture.
    RwD3D9RasterExtension *ext = raster ? RwD3D9RasterGetExtension(RwD3D9RasterGetTop(raster)) : nullptr;
    if (stage == 0)
        SetTextureAlpha(ext && ext->alpha);
    if (Stages[stage].raster == raster) {
        rwD3D9FilteredStateCalls++;
        return TRUE;
    }
    Stages[stage].raster = raster;
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    if (device == nullptr)
        return TRUE;
    device->SetTexture(stage, ext ? static_cast<IDirect3DBaseTexture9 *>(ext->texture) : nullptr);
    if (ext && ext->palette)
        device->SetCurrentTexturePalette(static_cast<const RwD3D9Palette *>(ext->palette)->number);
    return TRUE;
}

RwBool RwD3D9SetTexture(const RwTexture *texture, RwUInt32 stage)
{
    if (stage >= rwD3D9TEXTURESTAGES)
        return FALSE;
    if (texture == nullptr) {
        if (stage == 0)
            SetTextureAlpha(FALSE);
        if (Stages[stage].raster) {
            Stages[stage].raster = nullptr;
            if (rwD3D9Driver.device)
                rwD3D9Driver.device->SetTexture(stage, nullptr);
        }
        return TRUE;
    }
    // Codes outside the tables are left as the stage has them.
    RwUInt32 u = texture->addressing & 0x0F;
    RwUInt32 v = (texture->addressing >> 4) & 0x0F;
    if (InTable(u, D3DTADDRESS_BORDER))
        SetStageAddressU(stage, u);
    if (InTable(v, D3DTADDRESS_BORDER))
        SetStageAddressV(stage, v);
    if (texture->filterMode <= MaxFilterMode)
        SetStageFilter(stage, texture->filterMode);
    return RwD3D9SetTextureRaster(texture->raster, stage);
}

// ---------------------------------------------------------------------------
// Engine render-state entries

static RwBool SetTextureAddress(RwUInt32 address, RwBool u, RwBool v)
{
    if (!InTable(address, D3DTADDRESS_BORDER))
        return FALSE;
    if (u)
        SetStageAddressU(0, address);
    if (v)
        SetStageAddressV(0, address);
    return TRUE;
}

RwBool RwD3D9RenderStateSetHandler(RwInt32 state, void *value)
{
    RwUInt32 v = ValueOf(value);
    switch (state) {
    case rwRENDERSTATETEXTURERASTER:
        return RwD3D9SetTextureRaster(static_cast<RwRaster *>(value), 0);
    case rwRENDERSTATETEXTUREADDRESS:
        return SetTextureAddress(v, TRUE, TRUE);
    case rwRENDERSTATETEXTUREADDRESSU:
        return SetTextureAddress(v, TRUE, FALSE);
    case rwRENDERSTATETEXTUREADDRESSV:
        return SetTextureAddress(v, FALSE, TRUE);
    case rwRENDERSTATETEXTUREPERSPECTIVE:
        return v != 0;
    case rwRENDERSTATEZTESTENABLE:
        return RwD3D9SetZTestEnable(v);
    case rwRENDERSTATESHADEMODE:
        return RwD3D9SetShadeMode(v);
    case rwRENDERSTATEZWRITEENABLE:
        return RwD3D9SetZWriteEnable(v);
    case rwRENDERSTATETEXTUREFILTER:
        return RwD3D9SetTextureFilterMode(v);
    case rwRENDERSTATESRCBLEND:
        return RwD3D9SetSrcBlend(v);
    case rwRENDERSTATEDESTBLEND:
        return RwD3D9SetDestBlend(v);
    case rwRENDERSTATEVERTEXALPHAENABLE:
        return RwD3D9SetVertexAlphaEnable(v);
    case rwRENDERSTATEBORDERCOLOR:
        if (Stages[0].borderColour != v) {
            Stages[0].borderColour = v;
            RwD3D9SetSamplerState(0, D3DSAMP_BORDERCOLOR, v);
        }
        return TRUE;
    case rwRENDERSTATEFOGENABLE:
        return SetFogEnable(v);
    case rwRENDERSTATEFOGCOLOR:
        return SetRawState(&Engine.fogColour, v, D3DRS_FOGCOLOR);
    case rwRENDERSTATEFOGTYPE:
        return SetFogType(v);
    case rwRENDERSTATEFOGDENSITY:
        return SetFogDensity(static_cast<const RwReal *>(value));
    case rwRENDERSTATECULLMODE:
        return RwD3D9SetCullMode(v);
    case rwRENDERSTATESTENCILENABLE:
        return RwD3D9SetStencilEnable(v);
    case rwRENDERSTATESTENCILFAIL:
        return RwD3D9SetStencilFail(v);
    case rwRENDERSTATESTENCILZFAIL:
        return RwD3D9SetStencilZFail(v);
    case rwRENDERSTATESTENCILPASS:
        return RwD3D9SetStencilPass(v);
    case rwRENDERSTATESTENCILFUNCTION:
        return RwD3D9SetStencilFunction(v);
    case rwRENDERSTATESTENCILFUNCTIONREF:
        return RwD3D9SetStencilReference(v);
    case rwRENDERSTATESTENCILFUNCTIONMASK:
        return RwD3D9SetStencilMask(v);
    case rwRENDERSTATESTENCILFUNCTIONWRITEMASK:
        return RwD3D9SetStencilWriteMask(v);
    case rwRENDERSTATEALPHATESTFUNCTION:
        return SetAlphaTestFunction(v);
    case rwRENDERSTATEALPHATESTFUNCTIONREF:
        RwD3D9SetRenderState(D3DRS_ALPHAREF, v);
        return TRUE;
    default:
        return FALSE;
    }
}

RwBool RwD3D9RenderStateGetHandler(RwInt32 state, void *value)
{
    if (value == nullptr)
        return FALSE;
    RwUInt32 *out = static_cast<RwUInt32 *>(value);
    switch (state) {
    case rwRENDERSTATETEXTURERASTER:
        *static_cast<RwRaster **>(value) = Stages[0].raster;
        return TRUE;
    case rwRENDERSTATETEXTUREADDRESS:
        if (Stages[0].addressU != Stages[0].addressV) {
            *out = 0;
            return FALSE;
        }
        *out = Stages[0].addressU;
        return TRUE;
    case rwRENDERSTATETEXTUREADDRESSU: *out = Stages[0].addressU; return TRUE;
    case rwRENDERSTATETEXTUREADDRESSV: *out = Stages[0].addressV; return TRUE;
    case rwRENDERSTATEZTESTENABLE: *out = Engine.zTest; return TRUE;
    case rwRENDERSTATESHADEMODE: *out = Engine.shadeMode; return TRUE;
    case rwRENDERSTATEZWRITEENABLE: *out = Engine.zWrite; return TRUE;
    case rwRENDERSTATETEXTUREFILTER: *out = Stages[0].filterMode; return TRUE;
    case rwRENDERSTATESRCBLEND: *out = Engine.srcBlend; return TRUE;
    case rwRENDERSTATEDESTBLEND: *out = Engine.destBlend; return TRUE;
    case rwRENDERSTATEVERTEXALPHAENABLE: *out = Engine.vertexAlpha; return TRUE;
    case rwRENDERSTATEBORDERCOLOR: *out = Stages[0].borderColour; return TRUE;
    case rwRENDERSTATEFOGENABLE: *out = Engine.fogEnable; return TRUE;
    case rwRENDERSTATEFOGCOLOR: *out = Engine.fogColour; return TRUE;
    case rwRENDERSTATEFOGTYPE: *out = Engine.fogType; return TRUE;
    case rwRENDERSTATEFOGDENSITY: *out = RealBits(Engine.fogDensity); return TRUE;
    case rwRENDERSTATECULLMODE: *out = Engine.cullMode; return TRUE;
    case rwRENDERSTATESTENCILENABLE: *out = Engine.stencilEnable; return TRUE;
    case rwRENDERSTATESTENCILFAIL: *out = Engine.stencilFail; return TRUE;
    case rwRENDERSTATESTENCILZFAIL: *out = Engine.stencilZFail; return TRUE;
    case rwRENDERSTATESTENCILPASS: *out = Engine.stencilPass; return TRUE;
    case rwRENDERSTATESTENCILFUNCTION: *out = Engine.stencilFunction; return TRUE;
    case rwRENDERSTATESTENCILFUNCTIONREF: *out = Engine.stencilReference; return TRUE;
    case rwRENDERSTATESTENCILFUNCTIONMASK: *out = Engine.stencilMask; return TRUE;
    case rwRENDERSTATESTENCILFUNCTIONWRITEMASK: *out = Engine.stencilWriteMask; return TRUE;
    case rwRENDERSTATEALPHATESTFUNCTION: *out = Engine.alphaTestFunction; return TRUE;
    case rwRENDERSTATEALPHATESTFUNCTIONREF: *out = RenderStates[D3DRS_ALPHAREF].value; return TRUE;
    default:
        return FALSE;
    }
}

// ---------------------------------------------------------------------------
// Material

static D3DCOLORVALUE Colour(RwReal r, RwReal g, RwReal b, RwReal a)
{
    return D3DCOLORVALUE{r, g, b, a};
}

static RwBool SameInputs(const MaterialInputs &a, const MaterialInputs &b)
{
    return a.diffuse == b.diffuse && a.ambient == b.ambient && a.colour.red == b.colour.red &&
           a.colour.green == b.colour.green && a.colour.blue == b.colour.blue && a.colour.alpha == b.colour.alpha &&
           a.flags == b.flags && a.lightRed == b.lightRed && a.lightGreen == b.lightGreen &&
           a.lightBlue == b.lightBlue;
}

enum : RwUInt32 {
    GeometryPrelit = 0x08,
    GeometryModulate = 0x40,
};

// The device holds no known material (after a reset, or a material it
// refused): inputs that never compare equal, so that the next call sends one.
// Zeroed inputs would not do: a material built from them differs from the
// zero material a reset device holds.
static void ForgetMaterial(void)
{
    std::memset(&MaterialCache, 0, sizeof(MaterialCache));
    MaterialCache.diffuse = std::numeric_limits<RwReal>::quiet_NaN();
    // The states that an unmodulated material goes with.
    MaterialStateCache = {0xFFFFFFFF, FALSE, D3DMCS_MATERIAL, D3DMCS_MATERIAL};
}

static void SetMaterialStates(const MaterialStates &states)
{
    RwD3D9SetRenderState(D3DRS_AMBIENT, states.ambient);
    RwD3D9SetRenderState(D3DRS_COLORVERTEX, states.colourVertex);
    RwD3D9SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, states.ambientSource);
    RwD3D9SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, states.emissiveSource);
}

RwBool RwD3D9SetSurfaceProperties(const RwSurfaceProperties *surfaceProps, const RwRGBA *colour, RwUInt32 flags)
{
    if (surfaceProps == nullptr || colour == nullptr || rwD3D9Driver.device == nullptr)
        return FALSE;
    const RwRGBAReal &light = rwD3D9AmbientColour;
    MaterialInputs in = {surfaceProps->diffuse, surfaceProps->ambient, *colour,
                         flags & (GeometryPrelit | GeometryModulate), light.red, light.green, light.blue};
    if (SameInputs(in, MaterialCache)) {
        rwD3D9FilteredStateCalls++;
        const MaterialStates &states = MaterialStateCache;
        if (RenderStates[D3DRS_AMBIENT].value != states.ambient ||
            RenderStates[D3DRS_COLORVERTEX].value != states.colourVertex ||
            RenderStates[D3DRS_AMBIENTMATERIALSOURCE].value != states.ambientSource ||
            RenderStates[D3DRS_EMISSIVEMATERIALSOURCE].value != states.emissiveSource)
            SetMaterialStates(states);
        return TRUE;
    }
    MaterialCache = in;

    D3DMATERIAL9 &m = Material;
    MaterialStates &states = MaterialStateCache;
    m.Specular = Colour(0, 0, 0, 1);
    m.Power = 0;
    const RwBool prelit = (in.flags & GeometryPrelit) != 0;
    const RwBool white = colour->red == 255 && colour->green == 255 && colour->blue == 255 && colour->alpha == 255;
    if (!(in.flags & GeometryModulate) || white) {
        const RwReal d = in.diffuse;
        m.Diffuse = Colour(d, d, d, 1);
        states = {0xFFFFFFFF, static_cast<RwUInt32>(prelit), D3DMCS_MATERIAL,
                  static_cast<RwUInt32>(prelit ? D3DMCS_COLOR1 : D3DMCS_MATERIAL)};
        if (in.ambient == 1.0f)
            m.Ambient = Colour(light.red, light.green, light.blue, 1);
        else
            m.Ambient = Colour(light.red * in.ambient, light.green * in.ambient, light.blue * in.ambient, 1);
        m.Emissive = Colour(0, 0, 0, 1);
    } else {
        const RwReal s = in.diffuse / 255.0f;
        const RwReal a = in.ambient / 255.0f;
        m.Diffuse = Colour(colour->red * s, colour->green * s, colour->blue * s, colour->alpha / 255.0f);
        const D3DCOLORVALUE lit =
            Colour(colour->red * light.red * a, colour->green * light.green * a, colour->blue * light.blue * a, 1);
        if (prelit) {
            states = {D3DCOLOR_ARGB(colour->alpha, colour->red, colour->green, colour->blue), TRUE, D3DMCS_COLOR1,
                      D3DMCS_MATERIAL};
            m.Ambient = Colour(0, 0, 0, 1);
            m.Emissive = lit;
        } else {
            states = {0xFFFFFFFF, FALSE, D3DMCS_MATERIAL, D3DMCS_MATERIAL};
            m.Ambient = lit;
            m.Emissive = Colour(0, 0, 0, 1);
        }
    }
    SetMaterialStates(states);
    if (FAILED(rwD3D9Driver.device->SetMaterial(&m))) {
        // The device does not hold this material: the next call must try again.
        ForgetMaterial();
        return FALSE;
    }
    return TRUE;
}

// ---------------------------------------------------------------------------
// Hand-out, open and restore

// Requeues a state whose wanted value someone asked for (it is queued, or the
// device was sent it) so that the next flush sends it whatever the device
// holds; a state nobody set keeps the "not sent" marker, which is no value.
static void Requeue(WantedState *wanted, SentState *sent, RwUInt32 *queue, RwUInt32 *count, RwUInt32 index)
{
    WantedState &w = wanted[index];
    if (!w.queued && !sent[index].known)
        return;
    sent[index] = UnknownState;
    if (!w.queued) {
        w.queued = TRUE;
        queue[(*count)++] = index;
    }
}

// Outside code has had the device: everything the cache believes the device
// holds is sent again, as the engine has it, before the next draw.
static void SendHeldAgain(IDirect3DDevice9 *device)
{
    HandedOut = FALSE;
    for (RwUInt32 s = 0; s < rwD3D9RENDERSTATES; s++)
        Requeue(RenderStates, SentRenderStates, RenderStateQueue, &NumQueuedRenderStates, s);
    for (RwUInt32 i = 0; i < NumStageStates; i++)
        Requeue(StageStates, SentStageStates, StageStateQueue, &NumQueuedStageStates, i);
    for (RwUInt32 i = 0; i < rwD3D9TEXTURESTAGES * rwD3D9SAMPLERSTATES; i++) {
        if (SamplerStates[i].known)
            device->SetSamplerState(i / rwD3D9SAMPLERSTATES, static_cast<D3DSAMPLERSTATETYPE>(i % rwD3D9SAMPLERSTATES),
                                    SamplerStates[i].value);
    }
    for (RwUInt32 stage = 0; stage < rwD3D9TEXTURESTAGES; stage++) {
        RwRaster *raster = Stages[stage].raster;
        RwD3D9RasterExtension *ext = raster ? RwD3D9RasterGetExtension(RwD3D9RasterGetTop(raster)) : nullptr;
        device->SetTexture(stage, ext ? static_cast<IDirect3DBaseTexture9 *>(ext->texture) : nullptr);
        if (ext && ext->palette)
            device->SetCurrentTexturePalette(static_cast<const RwD3D9Palette *>(ext->palette)->number);
    }
    // A material the device was given goes again; none given, none sent.
    if (MaterialCache.diffuse == MaterialCache.diffuse && FAILED(device->SetMaterial(&Material)))
        ForgetMaterial();
}

// Forgets everything the device holds. Fog start and end and the alpha
// reference keep their wanted values when asked to (they are queued again).
static void ResetTables(RwBool keepCameraStates)
{
    static const RwUInt32 kept[] = {D3DRS_FOGSTART, D3DRS_FOGEND, D3DRS_ALPHAREF};
    RwUInt32 keptValues[3];
    RwBool asked[3];
    for (int i = 0; i < 3; i++) {
        keptValues[i] = RenderStates[kept[i]].value;
        asked[i] = RenderStates[kept[i]].queued || SentRenderStates[kept[i]].known;
    }

    // Fog colour and ambient hold 0 on a new or reset device. The stencil
    // masks hold all ones there, so they are not taken as 0: a mask of 0 must
    // still reach the device.
    for (SentState &s : SentRenderStates)
        s = UnknownState;
    SentRenderStates[D3DRS_FOGCOLOR] = {0, TRUE};
    SentRenderStates[D3DRS_AMBIENT] = {0, TRUE};
    for (RwUInt32 s = 0; s < rwD3D9RENDERSTATES; s++)
        RenderStates[s] = {SentRenderStates[s].value, FALSE};
    NumQueuedRenderStates = 0;
    for (RwUInt32 i = 0; i < NumStageStates; i++) {
        StageStates[i] = {rwD3D9STATEUNSENT, FALSE};
        SentStageStates[i] = UnknownState;
    }
    NumQueuedStageStates = 0;
    for (SentState &s : SamplerStates)
        s = UnknownState;
    std::memset(&Material, 0, sizeof(Material));
    ForgetMaterial();

    // Only values someone asked for: the wanted value of a state never set is
    // the "not sent" marker, which is no value to send.
    for (int i = 0; i < 3; i++) {
        if (keepCameraStates && asked[i])
            RwD3D9SetRenderState(kept[i], keptValues[i]);
    }
}

// Sends every engine-level value and stage record, with every texture unbound,
// and the fixed settings that nothing else changes.
static void SendEverything(void)
{
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    const D3DCAPS9 &caps = rwD3D9Driver.caps;
    EngineStates &e = Engine;

    RwD3D9SetRenderState(D3DRS_FOGDENSITY, RealBits(e.fogDensity));
    RwD3D9SetRenderState(D3DRS_FOGENABLE, e.fogEnable);
    SendFogType(e.fogType);
    RwD3D9SetRenderState(D3DRS_FOGCOLOR, e.fogColour);
    RwD3D9SetRenderState(D3DRS_SHADEMODE, e.shadeMode);
    RwD3D9SetRenderState(D3DRS_ZENABLE, e.zTest || e.zWrite);
    RwD3D9SetRenderState(D3DRS_ZFUNC, e.zTest ? D3DCMP_LESSEQUAL : D3DCMP_ALWAYS);
    RwD3D9SetRenderState(D3DRS_ZWRITEENABLE, e.zWrite);
    RwD3D9SetRenderState(D3DRS_STENCILENABLE, e.stencilEnable);
    RwD3D9SetRenderState(D3DRS_STENCILFAIL, e.stencilFail);
    RwD3D9SetRenderState(D3DRS_STENCILZFAIL, e.stencilZFail);
    RwD3D9SetRenderState(D3DRS_STENCILPASS, e.stencilPass);
    RwD3D9SetRenderState(D3DRS_STENCILFUNC, e.stencilFunction);
    RwD3D9SetRenderState(D3DRS_STENCILREF, e.stencilReference);
    RwD3D9SetRenderState(D3DRS_STENCILMASK, e.stencilMask);
    RwD3D9SetRenderState(D3DRS_STENCILWRITEMASK, e.stencilWriteMask);
    RwD3D9SetRenderState(D3DRS_SRCBLEND, e.srcBlend);
    RwD3D9SetRenderState(D3DRS_DESTBLEND, e.destBlend);
    RwD3D9SetRenderState(D3DRS_ALPHAFUNC, e.alphaTestFunction);
    e.textureAlpha = FALSE;
    SendBlending(e.vertexAlpha);
    RwD3D9SetRenderState(D3DRS_LIGHTING, FALSE);
    RwD3D9SetRenderState(D3DRS_CULLMODE, e.cullMode);

    for (RwUInt32 stage = 0; stage < rwD3D9TEXTURESTAGES; stage++) {
        StageRecord &s = Stages[stage];
        if (device)
            device->SetTexture(stage, nullptr);
        s.raster = nullptr;
        SendStageFilter(stage, s.filterMode);
        RwD3D9SetSamplerState(stage, D3DSAMP_ADDRESSU, s.addressU);
        RwD3D9SetSamplerState(stage, D3DSAMP_ADDRESSV, s.addressV);
        RwD3D9SetSamplerState(stage, D3DSAMP_BORDERCOLOR, s.borderColour);
        RwD3D9SetSamplerState(stage, D3DSAMP_MAXANISOTROPY, s.maxAnisotropy);
        if (stage > 0) {
            RwD3D9SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
            RwD3D9SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        }
    }

    RwD3D9SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    RwD3D9SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    RwD3D9SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    RwD3D9SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    RwD3D9SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    RwD3D9SetRenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL);
    RwD3D9SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL);
    RwD3D9SetRenderState(D3DRS_DITHERENABLE, (caps.RasterCaps & D3DPRASTERCAPS_DITHER) ? TRUE : FALSE);
    RwD3D9SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    RwD3D9SetRenderState(D3DRS_LOCALVIEWER, FALSE);
    RwD3D9SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
    RwD3D9SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
    RwD3D9FlushRenderStates();
}

RwBool RwD3D9RenderStateCacheOpen(void)
{
    HandedOut = FALSE;
    ResetTables(FALSE);
    EngineStates &e = Engine;
    e.fogEnable = FALSE;
    e.fogType = 1;
    e.fogDensity = 1.0f;
    e.fogColour = 0;
    e.shadeMode = D3DSHADE_GOURAUD;
    e.zTest = TRUE;
    e.zWrite = TRUE;
    e.stencilEnable = FALSE;
    e.stencilFail = e.stencilZFail = e.stencilPass = D3DSTENCILOP_KEEP;
    e.stencilFunction = D3DCMP_ALWAYS;
    e.stencilReference = 0;
    e.stencilMask = e.stencilWriteMask = 0xFFFFFFFF;
    e.srcBlend = D3DBLEND_SRCALPHA;
    e.destBlend = D3DBLEND_INVSRCALPHA;
    e.alphaTestFunction = D3DCMP_GREATER;
    e.alphaTestEnable = 1;
    e.vertexAlpha = FALSE;
    e.textureAlpha = FALSE;
    e.cullMode = D3DCULL_CW;

    const RwUInt32 filter =
        (rwD3D9Driver.caps.TextureFilterCaps & D3DPTFILTERCAPS_MINFLINEAR) ? D3DTEXF_LINEAR : D3DTEXF_POINT;
    for (StageRecord &s : Stages)
        s = {nullptr, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, filter, 0xFF000000, 1};
    RwD3D9SetRenderState(D3DRS_ALPHAREF, 0);
    SendEverything();
    return TRUE;
}

RwBool RwD3D9RenderStateCacheRestore(void)
{
    HandedOut = FALSE;
    ResetTables(TRUE);
    SendEverything();
    return TRUE;
}
