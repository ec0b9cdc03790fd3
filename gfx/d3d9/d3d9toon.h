// Toon drawing on the device: the paint pass, the ink passes and the state they share.
#pragma once

#include "gfx/core/matrix.h"
#include "gfx/core/rwtypes.h"

struct RwAtomic;
struct RwD3D9InstanceHeader;
struct RwResourceEntry;
struct RwToonGeo;

struct RwToonDevice {
    RwBool shaderInk;             // the ink quads extrude on the device
    RwBool multiTexture;          // paint and base texture in one draw
    RwBool shaderPaint;           // the paint pass uses the pixel shaders
    void *paintShaders[4];        // by (base texture, coloured): A yes/yes, B no/yes, C yes/no, D no/no
    void *inkShaders[2];          // per-edge colour, one ink
    void *inkDeclarations[2];
    void *quadIndexBuffer;        // 2500 quads
    RwReal lightTerm[4];          // (Lx, -Ly, -Lz, 0) of the last lit pass
    RwV3d *readBack;              // positions of morphing and skinned atomics
};
extern RwToonDevice rwToonDevice;

enum : RwInt32 {
    rwTOONQUADS = 2500,
    rwTOONBATCHVERTICES = 10000,
};

// The all-in-one nodes' render callback: type 1 atomic, 255 world sector.
void RwToonPaintRenderCallBack(RwResourceEntry *entry, void *object, RwUInt8 type, RwUInt32 flags);
// Positions read back into the read-back buffer (normals into the toon data);
// NULL when nothing could be read.
RwV3d *RwToonReadInstancedVertices(RwToonGeo *toon, RwD3D9InstanceHeader *header);

RwBool RwToonInkResourcesCreate(void);
void RwToonInkResourcesDestroy(void);
// Per-frame ink widths for the atomic under the current camera.
void RwToonGeoUpdateInks(RwToonGeo *toon, RwAtomic *atomic);
void RwToonRenderSilhouettes(RwToonGeo *toon, const RwV3d *positions, const RwV3d *normals, RwBool normalsStale,
                             const RwMatrix *objectToCamera, const RwMatrix *objectWorld);
void RwToonRenderCreases(RwToonGeo *toon, const RwV3d *positions, const RwMatrix *objectToCamera);

