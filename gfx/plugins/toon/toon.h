// Toon plug-in: inks and paints, their dictionaries, toon data of geometries, sectors and materials.
#pragma once

#include "gfx/core/rwtypes.h"

struct RwAtomic;
struct RwGeometry;
struct RwMaterial;
struct RwStream;
struct RwTexture;
struct RwWorldSector;
struct RxPipeline;

enum : RwUInt32 {
    rwID_TOONPLUGIN = 0x12E,
    rwMEMHINT_TOON = 0x3012E,
    rwTOONINKDICTIONARYVERSION = 0x56780001,
    rwTOONPAINTDICTIONARYVERSION = 0xBCDE0001,
    rwTOONINKVERSION = 0x12340002,
    rwTOONPAINTVERSION = 0x43210001,
    rwTOONGEOVERSION = 0xABCD0002,
    rwTOONMATERIALVERSION = 0x67890002,
};

enum : RwInt32 {
    rwTOONNAMELENGTH = 32,
    rwTOONMAXVERTICES = 65535,        // also the most triangles
    rwTOONPAINTTEXTURED = 1,
    rwTOONMATERIALSTREAMSIZE = 44,
};

enum : RwUInt16 { rwTOONNOINDEX = 0xFFFF };   // no second triangle, no neighbouring edge

struct RwToonInk {
    RwInt32 refCount;
    RwChar name[rwTOONNAMELENGTH];
    RwReal width;                     // pixels
    RwRGBA colour;
    RwReal nearFactor;                // width multiplier at the front of the bounding sphere
    RwReal farFactor;                 // width multiplier at the far clip distance
    // Per rendered atomic, not streamed.
    RwReal depthBase;
    RwReal depthSlope;
    RwReal depthOrigin;
    RwReal screenWidth;
    RwReal halfScreenWidth;
};
static_assert(sizeof(RwToonInk) == 72, "ink is 72 bytes");

struct RwToonPaint {
    RwInt32 refCount;
    RwInt32 type;                     // rwTOONPAINTTEXTURED or untextured
    RwChar name[rwTOONNAMELENGTH];
    RwTexture *texture;
};
static_assert(sizeof(RwToonPaint) == 44, "paint is 44 bytes");

struct RwToonInkDictionary {
    RwInt32 count;
    RwToonInk **inks;                 // one reference held per entry
};

struct RwToonPaintDictionary {
    RwInt32 count;
    RwToonPaint **paints;
};

struct RwToonEdge {
    RwUInt16 vertex[2];               // A, B
    RwUInt16 triangle[2];             // triangle[1] rwTOONNOINDEX: a border edge
    RwUInt16 link[4];                 // (tri 1, A), (tri 1, B), (tri 2, A), (tri 2, B)
};
static_assert(sizeof(RwToonEdge) == 16, "edge is eight 16-bit fields");

struct RwToonTriangle {
    RwUInt16 vertex[3];
};
static_assert(sizeof(RwToonTriangle) == 6, "triangle is three indices");

struct RwToonInkIndex {
    RwUInt8 silhouette;
    RwUInt8 crease;
};

typedef RwAtomic *(*RwToonRenderCallBack)(RwAtomic *atomic);

struct RwToonGeo {
    RwInt32 numVertices;              // V
    RwInt32 numTriangles;             // T
    RwToonTriangle *triangles;
    RwGeometry *geometry;             // owner, or NULL for a sector's data
    RwWorldSector *sector;
    RwToonRenderCallBack savedRenderCallBack;
    RwInt32 savedWord;
    RwBool skinned;
    RwBool verticesChanged;
    RwInt32 numEdges;                 // E
    RwInt32 numCreaseEdges;           // C: the first C edges
    RwToonEdge *edges;
    RwReal *widthFactors;             // V
    RwInt32 numInks;                  // N
    RwChar (*inkNames)[rwTOONNAMELENGTH];
    RwToonInk **inks;                 // one reference per bound slot
    RwToonInkIndex *edgeInks;         // E
    RwInt32 one;
    RwChar paintName[rwTOONNAMELENGTH];
    RwToonPaint *paint;               // one reference when bound
    RwV3d *triangleNormals;           // T
    RwV3d *vertexNormals;             // V
};

struct RwToonMaterial {
    RwInt32 hasPaint;
    RwChar paintName[rwTOONNAMELENGTH];
    RwToonPaint *paint;               // one reference when bound
    RwInt32 extra;                    // streamed back unchanged
};
static_assert(sizeof(RwToonMaterial) == 44, "material toon data is 44 bytes");

// Pipelines the device builds at the first open; NULL while closed or without a device.
struct RwToonPipelines {
    RxPipeline *atomic;
    RxPipeline *sector;
};
extern RwToonPipelines rwToonPipelines;

// TRUE only when every registration succeeded.
RwBool RwToonPluginAttach(void);
void *RwToonPluginOpen(void *instance, RwInt32 offset, RwInt32 size);
void *RwToonPluginClose(void *instance, RwInt32 offset, RwInt32 size);

RwToonGeo *RwToonGeometryGetToonGeo(const RwGeometry *geometry);
RwToonGeo *RwToonWorldSectorGetToonGeo(const RwWorldSector *sector);
RwToonMaterial *RwToonMaterialGetToonMaterial(const RwMaterial *material);

// Toon data of V vertices and T triangles with two unnamed ink slots; NULL on a bad count or no memory.
RwToonGeo *RwToonGeoCreate(RwInt32 numVertices, RwInt32 numTriangles);
// Replaces the edge table (ink pairs zeroed); FALSE on a bad count or no memory, nothing changed.
RwBool RwToonGeoSetEdges(RwToonGeo *toon, RwInt32 numEdges, RwInt32 numCreaseEdges);
// Replaces the ink slots (names and pointers zeroed, old inks released).
RwBool RwToonGeoSetNumInks(RwToonGeo *toon, RwInt32 numInks);
void RwToonGeoDestroy(RwToonGeo *toon);
// Stores toon data in an object's slot (the old data destroyed); the owner link is set.
// Refused (FALSE) for data of more vertices than the object has.
RwBool RwToonGeometrySetToonGeo(RwGeometry *geometry, RwToonGeo *toon);
RwBool RwToonWorldSectorSetToonGeo(RwWorldSector *sector, RwToonGeo *toon);
// Gives a material toon data of its own paint name (NULL name: none); FALSE without memory.
RwBool RwToonMaterialSetPaintName(RwMaterial *material, const RwChar *name);

// Toon chunk payload of toon data: its size, its writer, and the reader that
// refuses data that does not fit the owner's vertex count or its own chunk.
RwInt32 RwToonGeoStreamGetSize(const RwToonGeo *toon);
RwStream *RwToonGeoStreamWrite(RwStream *stream, const RwToonGeo *toon);
RwToonGeo *RwToonGeoStreamRead(RwStream *stream, RwInt32 length, RwInt32 ownerVertices);

RwToonInk *RwToonInkCreate(void);
RwToonPaint *RwToonPaintCreate(void);
void *RwToonAddRef(void *inkOrPaint);
void RwToonInkRelease(RwToonInk *ink);
void RwToonPaintRelease(RwToonPaint *paint);

RwToonInkDictionary *RwToonInkDictionaryStreamRead(RwStream *stream);
RwToonPaintDictionary *RwToonPaintDictionaryStreamRead(RwStream *stream);
void RwToonInkDictionaryDestroy(RwToonInkDictionary *dictionary);
void RwToonPaintDictionaryDestroy(RwToonPaintDictionary *dictionary);
RwToonInk *RwToonInkDictionaryFindInk(const RwToonInkDictionary *dictionary, const RwChar *name);
RwToonPaint *RwToonPaintDictionaryFindPaint(const RwToonPaintDictionary *dictionary, const RwChar *name);

RwToonGeo *RwToonGeoApplyInkDictionary(RwToonGeo *toon, const RwToonInkDictionary *dictionary);
RwToonGeo *RwToonGeoApplyPaintDictionary(RwToonGeo *toon, const RwToonPaintDictionary *dictionary);

// FALSE, nothing changed, when the atomic's geometry has no toon data.
RwBool RwToonAtomicEnable(RwAtomic *atomic);
// The same for a skinned atomic, whose skinning pipeline stays: marks the toon data skinned.
RwBool RwToonSkinAtomicEnable(RwAtomic *atomic);
RwReal RwToonGetInkScale(void);

// Supplied by the device driver (or a stand-in in tests).
RwBool RwToonPipelinesCreate(void);
RwBool RwToonPipelinesDestroy(void);
RwAtomic *RwToonAtomicRenderCallBack(RwAtomic *atomic);
