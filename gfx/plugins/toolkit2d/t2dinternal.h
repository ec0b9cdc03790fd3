// Module state shared by the 2D toolkit's files, and its vertex batches.
#pragma once

#include "gfx/core/im3d.h"
#include "gfx/core/memory.h"
#include "toolkit2d.h"

struct RwFreeList;
struct RwTextureDictionary;

enum : RwInt32 {
    rw2DVERTEXBUFFER = 256,
    rw2DQUADS = 64,
    rw2DQUADINDICES = rw2DQUADS * 6,
};

enum : RwUInt32 {
    rwMEMHINT_2DOBJECT = rwMEMHINTDUR_EVENT | 0x2D0,
    rwMEMHINT_2DMODULE = rwMEMHINTDUR_GLOBAL | 0x2D0,
};

struct Rw2dGlobals {
    RwBool open;
    RwCamera *camera;
    RwCameraEndUpdateFunc savedEndUpdate;
    RwReal rasterW, rasterH, viewW, viewH;
    RwReal metricX, metricY, metricW, metricH;
    RwMatrix base;
    RwMatrix *stack[rw2DCTMSTACKSIZE];
    RwInt32 top;
    RwMatrix device, deviceInv;
    RwBool deviceValid;
    RwMatrix deviceToWorld;
    RwReal tolerance;
    RwBool toleranceValid;
    RwReal layerDepth;
    RwReal flatness;
    RwInt32 subdivision;

    RwFreeList *objectList, *brushList, *pathList, *fontList, *fontCacheList, *string8List, *string20List;
    Rw2dPath *scratch;
    RwIm3DVertex vertices[rw2DVERTEXBUFFER];   // 2D positions at the layer depth

    RwChar *searchPath;
    RwTextureDictionary *fontDict;
    RwGrowArray *glyphCodes;
    RwUInt16 quadIndices[rw2DQUADINDICES];
    void *fontCache;
};

extern Rw2dGlobals rw2dGlobals;

// An entry of one of the module's free lists (NULL while the module is closed).
inline void *Rw2dTake(RwFreeList *list)
{
    return list ? RwFreeListAlloc(list, rwMEMHINT_2DOBJECT) : nullptr;
}
inline void Rw2dFreeListClose(RwFreeList **list)
{
    if (*list)
        RwFreeListDestroy(*list);
    *list = nullptr;
}

// Module parts opened and closed by Rw2dOpen and Rw2dClose.
RwBool Rw2dStringModuleOpen(void);
void Rw2dStringModuleClose(void);
RwBool Rw2dPathModuleOpen(void);
void Rw2dPathModuleClose(void);
RwBool Rw2dBrushModuleOpen(void);
void Rw2dBrushModuleClose(void);
RwBool Rw2dFontModuleOpen(void);
void Rw2dFontModuleClose(void);
RwBool Rw2dObjectModuleOpen(void);
void Rw2dObjectModuleClose(void);

// Kind operations behind the common dispatch; the in-place forms leave the
// record where it is (inline children of a scene).
RwBool Rw2dShapeDestroyInPlace(Rw2dObject *shape);
RwBool Rw2dSceneDestroyInPlace(Rw2dObject *scene);
RwBool Rw2dStringDestroyInPlace(Rw2dObject *string);
RwBool Rw2dPickRegionDestroyInPlace(Rw2dObject *region);
// Destroys what the object owns, by kind, without freeing its record.
RwBool Rw2dObjectDestroyInPlace(Rw2dObject *object);
Rw2dObject *Rw2dShapeRenderKind(Rw2dObject *shape, const RwRGBAReal *mult, const RwRGBAReal *offs);
Rw2dObject *Rw2dSceneRenderKind(Rw2dObject *scene, const RwRGBAReal *mult, const RwRGBAReal *offs);
Rw2dObject *Rw2dStringRenderKind(Rw2dObject *string, const RwRGBAReal *mult, const RwRGBAReal *offs);
Rw2dObject *Rw2dPickRegionRenderKind(Rw2dObject *region, const RwRGBAReal *mult, const RwRGBAReal *offs);

// Render protocol, visibility and transformation: TRUE when the object is
// visible and its transformation was pushed (the caller pops it); *recomputed
// tells whether the absolute matrix was rebuilt.
RwBool Rw2dObjectBeginRender(Rw2dObject *object, RwBool *recomputed);
// Effective colour of a shape-like object: multiplier and 0..255 offset.
void Rw2dObjectEffectiveColor(const Rw2dObject *object, const RwRGBAReal *parentMult,
                              const RwRGBAReal *parentOffs, RwRGBAReal *mult, RwRGBAReal *offs);

// Brush colour vectors saved around a colour transform.
struct Rw2dBrushColors {
    RwRGBAReal colorA, deltaA, colorB, deltaB;
    RwRGBA flat;
};
void Rw2dBrushSaveColors(const Rw2dBrush *brush, Rw2dBrushColors *saved);
void Rw2dBrushRestoreColors(Rw2dBrush *brush, const Rw2dBrushColors *saved);
// Packs a colour, each channel truncated into 0..255.
RwUInt32 Rw2dPackColor(RwReal r, RwReal g, RwReal b, RwReal a);
// Colour of a brush side at s (0..1): side A (top) or side B (bottom).
void Rw2dBrushSideColor(const Rw2dBrush *brush, RwBool sideA, RwReal s, RwRGBAReal *out);
// Sets the texture render states of the brush (or none).
void Rw2dSetTextureStates(RwTexture *texture);

// Draws one batch of toolkit vertices in the current transformation through
// the library's immediate mode (rwIM3D_ flags), which clips it to the camera.
RwBool Rw2dImDraw(RwIm3DVertex *vertices, RwInt32 count, RwPrimitiveType primType, const RwUInt16 *indices,
                  RwInt32 numIndices, RwUInt32 flags);
