// The 2D toolkit: device camera and metric, transformation stack, 2D objects,
// paths, brushes, shapes, scenes, fonts, text strings and pick regions.
#pragma once

#include "gfx/core/camera.h"
#include "gfx/core/growarray.h"
#include "gfx/core/matrix.h"
#include "gfx/core/rwtypes.h"

struct RwTexture;
struct Rw2dBrush;
struct Rw2dFont;

// Object kinds and flags.
enum : RwInt32 {
    rw2DOBJECTSCENE = 1,
    rw2DOBJECTSHAPE = 2,
    rw2DOBJECTPICKREGION = 3,
    rw2DOBJECTSTRING = 4,
};
enum : RwUInt32 {
    rw2DOBJECTFLAGKIND = 0x1,           // scene: locked for editing; shape: set at creation
    rw2DOBJECTFLAGMATRIXCHANGED = 0x2,
    rw2DOBJECTFLAGVISIBLE = 0x4,
    rw2DOBJECTFLAGCOLORCHANGED = 0x8,
    rw2DOBJECTFLAGSTRINGHIDDEN = 0x1000000,
    rw2DCTMSTACKSIZE = 32,
    rw2DOBJECTDEPTH = 666,
};

// A sub-path: the first record is the path.
struct Rw2dPath {
    void *segments;         // RwGrowArray while locked, plain array while unlocked
    RwInt32 count;          // -1 while locked
    RwInt32 closed;
    RwInt32 flat;           // no curve in this sub-path
    RwReal inset;
    Rw2dPath *next;
    Rw2dPath *current;      // first record: where new segments go
};
static_assert(sizeof(Rw2dPath) == 28, "path record is 28 bytes");

enum : RwInt32 { rw2DSEGMOVE = 0, rw2DSEGLINE = 1, rw2DSEGCURVE = 2 };

struct Rw2dSegment {
    RwInt32 type;
    RwReal x, y;
    RwReal nx, ny;
    RwReal distance;
};
static_assert(sizeof(Rw2dSegment) == 24, "segment is 24 bytes");

enum : RwUInt32 { rw2DBRUSHGRADIENT = 0x1, rw2DBRUSHUV = 0x2 };

struct Rw2dBrush {
    RwRGBAReal colorA;      // corner 4
    RwV2d uvA;
    RwRGBAReal deltaA;      // corner 3 minus corner 4
    RwV2d duvA;
    RwRGBAReal colorB;      // corner 1
    RwV2d uvB;
    RwRGBAReal deltaB;      // corner 2 minus corner 1
    RwV2d duvB;
    RwRGBA flat;
    RwUInt32 flags;
    RwTexture *texture;
    RwReal halfWidth;
    RwInt32 refCount;
    RwInt32 reserved;
};
static_assert(sizeof(Rw2dBrush) == 120, "brush is 120 bytes");

// The record every 2D object shares; kind data follows the colours.
struct Rw2dObject {
    RwInt32 type;
    RwInt32 depth;
    RwUInt32 flags;
    RwMatrix matrix;
    RwMatrix absMatrix;
    RwRGBAReal colorMult;
    RwRGBAReal colorOffs;   // 0..255 units
    RwUInt8 kindData[84];
};
static_assert(sizeof(Rw2dObject) == 256, "2D object is 256 bytes");

struct Rw2dShapeNode {
    RwUInt32 flags;         // bit 0: filled, else stroked
    Rw2dPath *path;
    Rw2dBrush *brush;
};
static_assert(sizeof(Rw2dShapeNode) == 12, "shape node is 12 bytes");

struct Rw2dShapeNodeList {
    RwGrowArray *nodes;
    RwInt32 refCount;
};

struct Rw2dShapeData {
    Rw2dShapeNodeList *list;
};

struct Rw2dSceneData {
    RwGrowArray *children;  // locked: object pointers; unlocked: inline records
    RwInt32 count;
    RwGrowArray *depthIndex;
    RwInt32 resort;
};

struct Rw2dDepthEntry {
    Rw2dObject *object;
    RwInt32 depth;
};

struct Rw2dFontRef {
    void *reserved;
    Rw2dFont *font;
};

struct Rw2dStringData {
    RwChar *string;
    Rw2dBrush *brush;
    RwReal height;
    Rw2dFontRef *fontRef;
};

struct Rw2dPickRegionData {
    Rw2dPath *path;
    RwMatrix inverse;
};
static_assert(sizeof(Rw2dPickRegionData) <= 84, "pick region fits the kind data");

inline Rw2dSceneData *Rw2dSceneGetData(Rw2dObject *o) { return reinterpret_cast<Rw2dSceneData *>(o->kindData); }
inline Rw2dShapeData *Rw2dShapeGetData(Rw2dObject *o) { return reinterpret_cast<Rw2dShapeData *>(o->kindData); }
inline Rw2dStringData *Rw2dStringGetData(Rw2dObject *o) { return reinterpret_cast<Rw2dStringData *>(o->kindData); }
inline Rw2dPickRegionData *Rw2dPickRegionGetData(Rw2dObject *o)
{
    return reinterpret_cast<Rw2dPickRegionData *>(o->kindData);
}

// Bounding box of a sub-path.
struct Rw2dBBox {
    RwReal minX, minY, maxX, maxY;
};

// Module.
RwBool Rw2dOpen(RwCamera *camera);
RwBool Rw2dClose(void);

// Device camera and metric.
RwBool Rw2dDeviceSetCamera(RwCamera *camera);
RwCamera *Rw2dDeviceGetCamera(void);
RwCamera *Rw2dDeviceEndUpdateForward(RwCamera *camera);
RwBool Rw2dDeviceSetMetric(RwReal x, RwReal y, RwReal w, RwReal h);
RwBool Rw2dDeviceGetMetric(RwReal *x, RwReal *y, RwReal *w, RwReal *h);
RwBool Rw2dDeviceGetStep(RwV2d *xStep, RwV2d *yStep, RwV2d *origin);
RwReal Rw2dDeviceGetFlatTolerance(void);
RwMatrix *Rw2dDeviceGetTransform(void);
RwReal Rw2dDeviceGetLayerDepth(void);

// Transformation stack.
RwBool Rw2dCTMPush(void);
RwBool Rw2dCTMPushConcat(const RwMatrix *matrix);
RwBool Rw2dCTMPushSet(const RwMatrix *matrix);
RwBool Rw2dCTMPop(void);
RwBool Rw2dCTMSetIdentity(void);
RwBool Rw2dCTMScale(RwReal sx, RwReal sy);
RwBool Rw2dCTMTranslate(RwReal tx, RwReal ty);
RwMatrix *Rw2dCTMRead(void);
RwInt32 Rw2dCTMGetDepth(void);

// Objects.
Rw2dObject *Rw2dObjectAlloc(void);
void Rw2dObjectFree(Rw2dObject *object);
Rw2dObject *Rw2dObjectInit(Rw2dObject *object, RwInt32 type);
Rw2dObject *Rw2dObjectCopy(Rw2dObject *to, const Rw2dObject *from);
RwBool Rw2dObjectDestroy(Rw2dObject *object);
Rw2dObject *Rw2dObjectRender(Rw2dObject *object, const RwRGBAReal *parentMult, const RwRGBAReal *parentOffs);
Rw2dObject *Rw2dObjectSetVisible(Rw2dObject *object, RwInt32 flag);
RwMatrix *Rw2dObjectGetMatrix(Rw2dObject *object);
Rw2dObject *Rw2dObjectMarkMatrixChanged(Rw2dObject *object);
Rw2dObject *Rw2dObjectSetIdentity(Rw2dObject *object);
Rw2dObject *Rw2dObjectScale(Rw2dObject *object, RwReal sx, RwReal sy);
Rw2dObject *Rw2dObjectTranslate(Rw2dObject *object, RwReal tx, RwReal ty);
Rw2dObject *Rw2dObjectRotate(Rw2dObject *object, RwReal degrees);
RwRGBAReal *Rw2dObjectGetColorMultiplier(Rw2dObject *object);
Rw2dObject *Rw2dObjectSetColorMultiplier(Rw2dObject *object, const RwRGBAReal *multiplier);

// Paths.
Rw2dPath *Rw2dPathCreate(void);
RwBool Rw2dPathDestroy(Rw2dPath *path);
Rw2dPath *Rw2dPathLock(Rw2dPath *path);
Rw2dPath *Rw2dPathUnlock(Rw2dPath *path);
Rw2dPath *Rw2dPathMoveto(Rw2dPath *path, RwReal x, RwReal y);
Rw2dPath *Rw2dPathLineto(Rw2dPath *path, RwReal x, RwReal y);
Rw2dPath *Rw2dPathCurveto(Rw2dPath *path, RwReal x1, RwReal y1, RwReal x2, RwReal y2, RwReal x3, RwReal y3);
Rw2dPath *Rw2dPathClosepath(Rw2dPath *path);
Rw2dPath *Rw2dPathRect(Rw2dPath *path, RwReal x, RwReal y, RwReal w, RwReal h);
Rw2dPath *Rw2dPathGetBBox(Rw2dPath *path, Rw2dBBox *box);
Rw2dPath *Rw2dPathPrune(Rw2dPath *path);
Rw2dPath *Rw2dPathFlatten(Rw2dPath *target, Rw2dPath *source);
Rw2dPath *Rw2dPathGetScratch(void);
// The segments of one sub-path, locked or not.
Rw2dSegment *Rw2dPathGetSegments(Rw2dPath *path, RwInt32 *count);
Rw2dPath *Rw2dPathFill(Rw2dPath *path, Rw2dBrush *brush);
Rw2dPath *Rw2dPathFillSubPath(Rw2dPath *path, Rw2dBrush *brush);
Rw2dPath *Rw2dPathStroke(Rw2dPath *path, Rw2dBrush *brush);

// Brushes.
Rw2dBrush *Rw2dBrushCreate(void);
RwBool Rw2dBrushDestroy(Rw2dBrush *brush);
Rw2dBrush *Rw2dBrushAddRef(Rw2dBrush *brush);
Rw2dBrush *Rw2dBrushSetRGBA(Rw2dBrush *brush, const RwRGBA *c1, const RwRGBA *c2, const RwRGBA *c3,
                            const RwRGBA *c4);
Rw2dBrush *Rw2dBrushSetUV(Rw2dBrush *brush, const RwV2d *uv1, const RwV2d *uv2, const RwV2d *uv3,
                          const RwV2d *uv4);
Rw2dBrush *Rw2dBrushSetTexture(Rw2dBrush *brush, RwTexture *texture);
Rw2dBrush *Rw2dBrushSetWidth(Rw2dBrush *brush, RwReal halfWidth);
Rw2dBrush *Rw2dBrushApplyColorTransform(Rw2dBrush *brush, const RwRGBAReal *mult, const RwRGBAReal *offs);

// Shapes.
Rw2dObject *Rw2dShapeCreate(void);
Rw2dObject *Rw2dShapeAddNode(Rw2dObject *shape, RwUInt32 flags, Rw2dPath *path, Rw2dBrush *brush);
RwBool Rw2dShapeDestroy(Rw2dObject *shape);
Rw2dObject *Rw2dShapeRender(Rw2dObject *shape);

// Scenes.
Rw2dObject *Rw2dSceneCreate(void);
Rw2dObject *Rw2dSceneAddChild(Rw2dObject *scene, Rw2dObject *object);
Rw2dObject *Rw2dSceneLock(Rw2dObject *scene);
Rw2dObject *Rw2dSceneUnlock(Rw2dObject *scene);
RwBool Rw2dSceneDestroy(Rw2dObject *scene);
Rw2dObject *Rw2dSceneRender(Rw2dObject *scene);
RwInt32 Rw2dSceneGetNumChildren(Rw2dObject *scene);
// Child i in drawing order (the depth index) of an unlocked scene, in
// insertion order of a locked one.
Rw2dObject *Rw2dSceneGetChild(Rw2dObject *scene, RwInt32 index);

// Text strings and pick regions.
Rw2dObject *Rw2dStringCreate(Rw2dFont *font, const RwChar *string, RwInt32 bytes, RwReal height,
                             Rw2dBrush *brush);
Rw2dObject *Rw2dPickRegionCreate(Rw2dPath *path);
// TRUE when the 2D point of the space the region was last rendered in lies
// inside its closed outline.
RwBool Rw2dPickRegionIsPointIn(Rw2dObject *region, const RwV2d *point);
