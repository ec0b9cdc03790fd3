// The render-state cache: shadows of render, texture-stage and sampler states,
// the engine-level render states, texture binding per stage and the material.
#pragma once

#include "gfx/core/rwtypes.h"
#include "gfx/world/material.h"   // RwSurfaceProperties

struct RwRaster;
struct RwTexture;

enum : RwUInt32 {
    rwD3D9RENDERSTATES = 210,
    rwD3D9TEXTURESTAGES = 8,
    rwD3D9STAGESTATES = 33,
    rwD3D9SAMPLERSTATES = 14,
    rwD3D9STATEUNSENT = 0xFFFFFFFFu,
};

// Engine-level render-state codes of the device block's set and get entries.
enum RwRenderState : RwInt32 {
    rwRENDERSTATETEXTURERASTER = 1,
    rwRENDERSTATETEXTUREADDRESS = 2,
    rwRENDERSTATETEXTUREADDRESSU = 3,
    rwRENDERSTATETEXTUREADDRESSV = 4,
    rwRENDERSTATETEXTUREPERSPECTIVE = 5,
    rwRENDERSTATEZTESTENABLE = 6,
    rwRENDERSTATESHADEMODE = 7,
    rwRENDERSTATEZWRITEENABLE = 8,
    rwRENDERSTATETEXTUREFILTER = 9,
    rwRENDERSTATESRCBLEND = 10,
    rwRENDERSTATEDESTBLEND = 11,
    rwRENDERSTATEVERTEXALPHAENABLE = 12,
    rwRENDERSTATEBORDERCOLOR = 13,
    rwRENDERSTATEFOGENABLE = 14,
    rwRENDERSTATEFOGCOLOR = 15,
    rwRENDERSTATEFOGTYPE = 16,
    rwRENDERSTATEFOGDENSITY = 17,
    rwRENDERSTATECULLMODE = 20,
    rwRENDERSTATESTENCILENABLE = 21,
    rwRENDERSTATESTENCILFAIL = 22,
    rwRENDERSTATESTENCILZFAIL = 23,
    rwRENDERSTATESTENCILPASS = 24,
    rwRENDERSTATESTENCILFUNCTION = 25,
    rwRENDERSTATESTENCILFUNCTIONREF = 26,
    rwRENDERSTATESTENCILFUNCTIONMASK = 27,
    rwRENDERSTATESTENCILFUNCTIONWRITEMASK = 28,
    rwRENDERSTATEALPHATESTFUNCTION = 29,
    rwRENDERSTATEALPHATESTFUNCTIONREF = 30,
};

// The summed ambient light (alpha 1), written by the device lighting and read
// when the material is built.
extern RwRGBAReal rwD3D9AmbientColour;

// Direct3D states: render and texture-stage states are queued until the next
// flush; sampler states go to the device at once. Values are passed on as
// given (the device's own checks apply), but for colour and alpha operations
// outside D3DTOP_DISABLE..D3DTOP_LERP, which are refused: the device would
// stop inside its next draw. The engine-level setters below compare with the
// engine's own record, not with the device: a raw set of the same Direct3D
// state between them is not seen by them.
void RwD3D9SetRenderState(RwUInt32 state, RwUInt32 value);
void RwD3D9GetRenderState(RwUInt32 state, void *value);
void RwD3D9SetTextureStageState(RwUInt32 stage, RwUInt32 type, RwUInt32 value);
void RwD3D9GetTextureStageState(RwUInt32 stage, RwUInt32 type, void *value);
void RwD3D9SetSamplerState(RwUInt32 sampler, RwUInt32 type, RwUInt32 value);
void RwD3D9GetSamplerState(RwUInt32 sampler, RwUInt32 type, void *value);
void RwD3D9FlushRenderStates(void);

// The device block's engine-level render-state entries.
RwBool RwD3D9RenderStateSetHandler(RwInt32 state, void *value);
RwBool RwD3D9RenderStateGetHandler(RwInt32 state, void *value);

// Texture binding per stage.
RwBool RwD3D9SetTexture(const RwTexture *texture, RwUInt32 stage);
RwBool RwD3D9SetTextureRaster(RwRaster *raster, RwUInt32 stage);
RwRaster *RwD3D9GetTextureRaster(RwUInt32 stage);

// Engine-level setters, one render state each; FALSE for a code outside the state's table.
RwBool RwD3D9SetVertexAlphaEnable(RwBool enable);
RwBool RwD3D9GetVertexAlphaEnable(void);
RwBool RwD3D9SetSrcBlend(RwUInt32 blend);
RwBool RwD3D9SetDestBlend(RwUInt32 blend);
RwBool RwD3D9SetShadeMode(RwUInt32 mode);
RwBool RwD3D9SetCullMode(RwUInt32 mode);
RwBool RwD3D9SetZTestEnable(RwBool enable);
RwBool RwD3D9SetZWriteEnable(RwBool enable);
RwBool RwD3D9SetTextureFilterMode(RwUInt32 mode);
RwBool RwD3D9SetStencilEnable(RwBool enable);
RwBool RwD3D9SetStencilFail(RwUInt32 operation);
RwBool RwD3D9SetStencilZFail(RwUInt32 operation);
RwBool RwD3D9SetStencilPass(RwUInt32 operation);
RwBool RwD3D9SetStencilFunction(RwUInt32 function);
RwBool RwD3D9SetStencilReference(RwUInt32 reference);
RwBool RwD3D9SetStencilMask(RwUInt32 mask);
RwBool RwD3D9SetStencilWriteMask(RwUInt32 mask);

// Builds the device material from surface properties, the material colour and
// the geometry flags (0x08 pre-lit, 0x40 modulate by the material colour).
// Takes the surface properties before the colour, the one order that the
// driver's render callbacks and the material-effects renderer all use.
RwBool RwD3D9SetSurfaceProperties(const RwSurfaceProperties *surfaceProps, const RwRGBA *colour, RwUInt32 flags);

// The device has been handed to outside code (RwD3D9GetCurrentD3DDevice):
// the next flush sends every state, sampler state, stage texture and the
// material the cache holds again, as the engine has them.
void RwD3D9RenderStateCacheHandOut(void);

// Device start: every default applied and flushed. After a reset: the
// engine-level values sent again.
RwBool RwD3D9RenderStateCacheOpen(void);
RwBool RwD3D9RenderStateCacheRestore(void);
