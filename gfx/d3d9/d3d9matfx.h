// Material effects on the device: capabilities, pixel shaders, the effects pipelines and the per-mesh renderers.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include "d3d9instance.h"
#include "gfx/plugins/matfx/matfx.h"

struct RwMeshHeader;
struct RwResourceEntry;

enum : RwInt32 {
    rwMATFXNUMSHADERS = 6,
    rwMATFXBUMPSTRIDE = 44,         // position, normal, colour, two coordinate sets
    rwMATFXBUMPFVF = 0x252,
};

// What the device offers, read when the pipelines are made; tests may change
// the flags to reach the other branches of the renderers.
struct RwMatFxDeviceGlobals {
    void *shaders[rwMATFXNUMSHADERS];   // shader n at index n - 1; NULL when not made
    RwBool twoTextures;
    RwBool multiplyAdd;
    RwBool modulate2x;
    RwUInt32 blendStages;
    RwBool pixelShaders;
    RwBool validateDual;                // the MODULATE2X dual set-up waits for the device's verdict
    RwBool validateEnvAdd;              // likewise the environment map's ADD set-up
    RwBool envAddValid;
    D3DMATRIX texMatrix;                // a UV matrix as a texture transform
};
extern RwMatFxDeviceGlobals rwMatFxDevice;

// The six ps_1_1 programs as assembly text and as token code.
extern const char *const rwMatFxShaderText[rwMATFXNUMSHADERS];
extern const DWORD *const rwMatFxShaderTokens[rwMATFXNUMSHADERS];

// Reads the capabilities into rwMatFxDevice and makes the shaders the device allows.
void RwMatFxDeviceOpen(void);
void RwMatFxDeviceClose(void);

RwBool RwMatFxAtomicInstanceCallback(void *atomic, RwD3D9InstanceHeader *header, RwBool reinstance);
RwBool RwMatFxWorldSectorInstanceCallback(void *sector, RwD3D9InstanceHeader *header, RwBool reinstance);
// The all-in-one nodes' render callback: objectType 1 atomic, 255 world sector; flags: the format flags.
void RwMatFxRenderCallback(RwResourceEntry *entry, void *object, RwUInt8 objectType, RwUInt32 flags);

// The mesh list of the object being drawn: the bump renderer walks its CPU-side indices.
void RwMatFxSetDrawnMeshes(RwMeshHeader *meshes);

void RwMatFxRenderDefault(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, RwUInt32 flags,
                          RwInt32 effectType);
void RwMatFxRenderNoColour(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh);
void RwMatFxRenderEnvMap(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, RwUInt32 flags,
                         RwInt32 index, const RwMatFxEnvMapData *env);
void RwMatFxRenderBumpMap(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, RwUInt32 flags,
                          RwTexture *bumped, const RwMatFxEnvMapData *env);
void RwMatFxRenderDual(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, RwUInt32 flags,
                       RwInt32 effectType);
void RwMatFxSetupEnvMapStage(RwTexture *texture, RwUInt32 stage, RwFrame *frame);
// Fills numVertices 44-byte vertices of the mesh with shifted second coordinates; FALSE when the
// instance cannot be read.
RwBool RwMatFxBumpMapVertices(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, void *out);

// Shared steps of the renderers.
RwBool RwMatFxMeshTextured(const RwD3D9InstanceMesh *mesh, RwUInt32 flags);
void RwMatFxStageZero(RwTexture *baseTexture);
void RwMatFxStageOp(RwUInt32 stage, RwUInt32 op, RwUInt32 arg1, RwUInt32 arg2);
void RwMatFxStageAlphaOp(RwUInt32 stage, RwUInt32 op, RwUInt32 arg1, RwUInt32 arg2);
void RwMatFxSetUVMatrix(RwUInt32 stage, const RwMatrix *matrix);
// TRUE for no matrix or one flagged identity.
RwBool RwMatFxMatrixIsIdentity(const RwMatrix *matrix);
// A palettised effect texture over a different palettised base cannot share
// the device's one palette: it is converted.
void RwMatFxDepalettise(RwTexture *base, RwTexture *effect);
// The coefficient as a byte, clamped to 0..255.
RwUInt32 RwMatFxCoefficientByte(RwReal coefficient);
