// Geometry: vertices shared by morph targets, triangles with materials, the mesh header and the geometry stream.
#pragma once

#include "gfx/core/plugin.h"
#include "gfx/core/rwtypes.h"
#include "material.h"

struct RwMeshHeader;
struct RwResourceEntry;
struct RwStream;
struct RxPipeline;

enum : RwUInt8 { rwGEOMETRY = 8 };

// Format flags.
enum : RwUInt32 {
    rwGEOMETRYTRISTRIP = 0x00000001,
    rwGEOMETRYPOSITIONS = 0x00000002,
    rwGEOMETRYTEXTURED = 0x00000004,   // exactly one texture-coordinate set
    rwGEOMETRYPRELIT = 0x00000008,
    rwGEOMETRYNORMALS = 0x00000010,
    rwGEOMETRYLIGHT = 0x00000020,
    rwGEOMETRYMODULATEMATERIALCOLOR = 0x00000040,
    rwGEOMETRYTEXTURED2 = 0x00000080,  // two or more sets
    rwGEOMETRYTEXCOORDSETSMASK = 0x00FF0000,
    rwGEOMETRYNATIVE = 0x01000000,
    rwGEOMETRYNATIVEFLAGSMASK = 0x0F000000,
    rwGEOMETRYCREATEFLAGSMASK = 0x0000007B,
};

// Lock modes.
enum : RwUInt16 {
    rwGEOMETRYLOCKPOLYGONS = 0x0001,
    rwGEOMETRYLOCKVERTICES = 0x0002,
    rwGEOMETRYLOCKNORMALS = 0x0004,
    rwGEOMETRYLOCKPRELIGHT = 0x0008,
    rwGEOMETRYLOCKTEXCOORDS = 0x0010,
    rwGEOMETRYLOCKALL = 0x0FFF,
};

enum : RwInt32 {
    rwMAXTEXTURECOORDS = 8,
    rwGEOMETRYMAXVERTICES = 65535,
};
enum : RwUInt16 { rwGEOMETRYNOMATERIAL = 0xFFFF };
enum : RwUInt32 {
    rwMEMHINT_GEOMETRY = 0x3000F,
    rwMEMHINT_UNLOCKTEXTURES = 0x10006,
    rwMEMHINT_UNLOCKLISTS = 0x10503,
};

struct RwTexCoords {
    RwReal u;
    RwReal v;
};
static_assert(sizeof(RwTexCoords) == 8, "one (u, v) pair");

struct RwTriangle {
    RwUInt16 vertIndex[3];
    RwUInt16 matIndex;                // rwGEOMETRYNOMATERIAL: none
};
static_assert(sizeof(RwTriangle) == 8, "triangle is 8 bytes");

struct RwGeometry;

struct RwMorphTarget {
    RwGeometry *parentGeom;
    RwSphere boundingSphere;
    RwV3d *verts;                     // NULL for a native geometry or one without vertices
    RwV3d *normals;                   // NULL without rwGEOMETRYNORMALS
};
static_assert(sizeof(RwMorphTarget) == 28, "morph target is 28 bytes");

// One block: this base part, plug-in data, then the colours, texture
// coordinates and triangles. The morph targets live in a second block.
struct RwGeometry {
    RwObject object;
    RwUInt32 flags;
    RwUInt16 lockedSinceLastInst;     // cleared by the device when it instances
    RwInt16 refCount;
    RwInt32 numTriangles;
    RwInt32 numVertices;
    RwInt32 numMorphTargets;
    RwInt32 numTexCoordSets;
    RwMaterialList matList;
    RwTriangle *triangles;
    RwRGBA *preLitLum;
    RwTexCoords *texCoords[rwMAXTEXTURECOORDS];
    RwMeshHeader *mesh;               // NULL until unlocked
    RwResourceEntry *repEntry;        // the device's instanced copy
    RwMorphTarget *morphTarget;
};
static_assert(sizeof(RwGeometry) == 96, "geometry base data is 96 bytes");

typedef RwGeometry *(*RwGeometryCallBack)(RwGeometry *geometry, void *data);

// Engine module 0x503 (4 bytes of globals).
void *RwGeometryModuleOpen(void *instance, RwInt32 offset, RwInt32 size);
void *RwGeometryModuleClose(void *instance, RwInt32 offset, RwInt32 size);

// The set count rides in format bits 16-23 (or 0x80 for two, 0x04 for one).
RwInt32 RwGeometryFormatTexCoordSets(RwUInt32 format);
RwGeometry *RwGeometryCreate(RwInt32 numVerts, RwInt32 numTriangles, RwUInt32 format);
// For stream readers: all morph targets at once, arrays left uncleared for the
// reader to fill whole.
RwGeometry *RwGeometryCreateUncleared(RwInt32 numVerts, RwInt32 numTriangles, RwUInt32 format,
                                      RwInt32 numMorphTargets);
RwGeometry *RwGeometryCreateEmpty(RwReal radius);
RwBool RwGeometryDestroy(RwGeometry *geometry);
RwGeometry *RwGeometryAddRef(RwGeometry *geometry);
// Index of the first new morph target, or -1.
RwInt32 RwGeometryAddMorphTargets(RwGeometry *geometry, RwInt32 count);
RwGeometry *RwGeometryLock(RwGeometry *geometry, RwUInt16 lockMode);
RwGeometry *RwGeometryUnlock(RwGeometry *geometry);
RwGeometry *RwGeometryTriangleSetMaterial(RwGeometry *geometry, RwTriangle *triangle, RwMaterial *material);
RwGeometry *RwGeometryForAllMaterials(RwGeometry *geometry, RwMaterialCallBack callback, void *data);
RwInt32 RwGeometryRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                                 RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB);
RwInt32 RwGeometryRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                       RwPluginDataChunkWriteCallBack writeCB,
                                       RwPluginDataChunkGetSizeCallBack getSizeCB);
RwInt32 RwGeometryGetPluginOffset(RwUInt32 pluginID);
// Adds the triangles to the builder, each with material entry (materialBase +
// its index) of the list and the sort keys of that material's texture, raster
// and pipeline; triangles naming no listed material are left out. The builder,
// or NULL (out of memory, or the builder failed).
struct RwMeshBuilder;
RwMeshBuilder *RwMeshBuilderAddPolygons(RwMeshBuilder *builder, const RwMaterialList *matList,
                                        const RwTriangle *triangles, RwInt32 numTriangles, RwInt32 materialBase);
// The registry itself, for the stream code.
const RwPluginRegistry *RwGeometryGetPluginRegistry(void);

inline RwMorphTarget *RwGeometryGetMorphTarget(const RwGeometry *geometry, RwInt32 index)
{
    return &geometry->morphTarget[index];
}
inline RwMaterial *RwGeometryGetMaterial(const RwGeometry *geometry, RwInt32 index)
{
    return RwMaterialListGetMaterial(&geometry->matList, index);
}

// Geometry chunk (0x0F): the size of its body, the chunk with its header, and
// the reader that takes the stream just after the header.
RwUInt32 RwGeometryStreamGetSize(const RwGeometry *geometry);
const RwGeometry *RwGeometryStreamWrite(const RwGeometry *geometry, RwStream *stream);
RwGeometry *RwGeometryStreamRead(RwStream *stream);

// Callbacks that carry a geometry's mesh header as its bin-mesh extension
// (0x50E), against the geometry's material list.
RwStream *RwGeometryBinMeshStreamRead(RwStream *stream, RwInt32 length, void *geometry, RwInt32 offset,
                                      RwInt32 size);
RwStream *RwGeometryBinMeshStreamWrite(RwStream *stream, RwInt32 length, const void *geometry, RwInt32 offset,
                                       RwInt32 size);
RwInt32 RwGeometryBinMeshStreamGetSize(const void *geometry, RwInt32 offset, RwInt32 size);
