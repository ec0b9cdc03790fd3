// Mesh headers (triangles grouped per material as lists or strips), the mesh builder and bin-mesh streams.
#pragma once

#include "gfx/core/im3d.h"   // the primitive type codes that mesh types stand for
#include "gfx/core/rwtypes.h"

struct RwMaterial;
struct RwMaterialList;
struct RwStream;

// Mesh types (the header's flags).
enum : RwUInt32 {
    rwMESHHEADERTRILIST = 0x00,
    rwMESHHEADERTRISTRIP = 0x01,
    rwMESHHEADERTRIFAN = 0x02,
    rwMESHHEADERLINELIST = 0x04,
    rwMESHHEADERPOLYLINE = 0x08,
    rwMESHHEADERPOINTLIST = 0x10,
};

enum : RwUInt32 {
    rwMEMHINT_MESH = 0x30502,
    rwMEMHINT_MESHARRAY = 0x1030502,
    rwMEMHINT_MESHTEMP = 0x10502,
    rwMEMHINT_MESHFREELIST = 0x40502,
};

// The meshes, then all their indices, follow the header in its allocation.
struct RwMeshHeader {
    RwUInt32 flags;
    RwUInt16 numMeshes;
    RwUInt16 serialNum;               // tells rebuilt headers apart
    RwUInt32 totalIndicesInMesh;
    RwUInt32 firstMeshOffset;         // 0: meshes right after the header
};
static_assert(sizeof(RwMeshHeader) == 16, "mesh header is 16 bytes");

struct RwMesh {
    RwUInt16 *indices;
    RwUInt32 numIndices;
    RwMaterial *material;             // not referenced
};
static_assert(sizeof(RwMesh) == 12, "mesh is 12 bytes");

inline RwMesh *RwMeshHeaderGetMeshes(RwMeshHeader *header)
{
    return reinterpret_cast<RwMesh *>(reinterpret_cast<RwUInt8 *>(header + 1) + header->firstMeshOffset);
}

// One collected triangle: vertices, material and four sort keys (k[2] counts
// most, then k[3], k[1], k[0]).
struct RwBuildMeshTriangle {
    RwUInt16 vertIndex[3];
    RwUInt16 pad;
    RwMaterial *material;
    RwUInt16 key[4];
};
static_assert(sizeof(RwBuildMeshTriangle) == 20, "builder record is 20 bytes");

struct RwMeshBuilder {
    RwInt32 capacity;
    RwInt32 numTriangles;
    RwBuildMeshTriangle *triangles;
};
static_assert(sizeof(RwMeshBuilder) == 12, "builder is 12 bytes");

typedef RwMesh *(*RwMeshCallBack)(RwMesh *mesh, RwMeshHeader *header, void *data);
// Turns a builder's sorted triangles into a strip header; data is the slot's word.
typedef RwMeshHeader *(*RwMeshStripBuilder)(RwMeshBuilder *builder, RwUInt32 data);

// Engine module 0x502 (48 bytes of globals).
void *RwMeshModuleOpen(void *instance, RwInt32 offset, RwInt32 size);
void *RwMeshModuleClose(void *instance, RwInt32 offset, RwInt32 size);

RwMeshBuilder *RwMeshBuilderCreate(RwInt32 triangleCount);
RwMeshBuilder *RwMeshBuilderAddTriangle(RwMeshBuilder *builder, RwMaterial *material, RwInt32 i0, RwInt32 i1,
                                        RwInt32 i2, RwUInt16 k1, RwUInt16 k2, RwUInt16 k3, RwUInt16 k4);
RwBool RwMeshBuilderDestroy(RwMeshBuilder *builder);

// Builds strips when flags bit 0 is set, else lists. Consumes the builder on
// success; on failure the builder stays the caller's.
RwMeshHeader *RwMeshHeaderBuild(RwMeshBuilder *builder, RwUInt32 flags);
RwBool RwMeshHeaderDestroy(RwMeshHeader *header);
RwMeshHeader *RwMeshHeaderForAllMeshes(RwMeshHeader *header, RwMeshCallBack callback, void *data);
// The shared header that stands for no meshes; destroying it frees nothing.
RwMeshHeader *RwMeshHeaderGetEmpty(void);
// TRUE when every index of every mesh is below vertexCount.
RwBool RwMeshHeaderIndicesBelow(const RwMeshHeader *header, RwUInt32 vertexCount);

// Transparent materials (alpha below 255, or a texture whose raster has an
// alpha pixel format) sort after opaque ones.
RwBool RwMaterialIsTransparent(const RwMaterial *material);

// The strip-builder slot: the default is RwMeshBuildTriStrips with data 0.
void RwMeshSetStripBuilder(RwMeshStripBuilder builder, RwUInt32 data);
RwMeshStripBuilder RwMeshGetStripBuilder(RwUInt32 *data);
// The default strip builder: one strip per material. Data 0 starts each strip
// at the first free triangle's best side; any other value tries all three
// sides and keeps the longest strip.
RwMeshHeader *RwMeshBuildTriStrips(RwMeshBuilder *builder, RwUInt32 data);

// Primitive type of a mesh type and back (NA for values without one).
RwInt32 RwMeshTypeGetPrimitive(RwUInt32 meshType);
RwUInt32 RwMeshPrimitiveGetType(RwInt32 primType);

// Bin-mesh extension (0x50E). The owner is the geometry, or the world that
// holds a sector: an object header followed by its format flags, whose bit 24
// (native) leaves the indices out of the stream.
RwInt32 RwBinMeshStreamGetSize(const RwMeshHeader *header, const void *owner);
RwStream *RwBinMeshStreamWrite(const RwMeshHeader *header, const void *owner, RwStream *stream,
                               const RwMaterialList *materialList);
// Indices must lie below vertexLimit (at most 0x10000: they are kept in 16 bits).
RwMeshHeader *RwBinMeshStreamRead(RwStream *stream, const void *owner, const RwMaterialList *materialList,
                                  RwUInt32 vertexLimit = 0x10000);
