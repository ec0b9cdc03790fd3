// Vertex-declaration types: writers that pack source arrays into vertex streams, readers, and the tangent generator.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include "gfx/core/rwtypes.h"

// Size in bytes of a declaration type 0-14; 0 for any other.
RwUInt32 RwD3D9DeclTypeGetSize(RwUInt32 type);

// Writers: count source elements into dest, one element every stride bytes;
// each returns the type's element size (0 for a type it cannot write).
// Normalised types clamp to their range instead of wrapping.
RwUInt32 RwD3D9DeclTypeWriteV3d(RwUInt32 type, void *dest, const RwV3d *src, RwUInt32 count, RwUInt32 stride);
// Three signed bytes per 4-byte source element, each a component times 128.
RwUInt32 RwD3D9DeclTypeWritePackedNormals(RwUInt32 type, void *dest, const RwUInt8 *src, RwUInt32 count,
                                          RwUInt32 stride);
// start + (end - start) * t, for morph targets.
RwUInt32 RwD3D9DeclTypeWriteInterpolatedV3d(RwUInt32 type, void *dest, const RwV3d *start, const RwV3d *end,
                                            RwReal t, RwUInt32 count, RwUInt32 stride);
// Two reals (u, v) per source element.
RwUInt32 RwD3D9DeclTypeWriteTexCoords(RwUInt32 type, void *dest, const RwReal *texCoords, RwUInt32 count,
                                      RwUInt32 stride);
// Four blend weights per source element; normalised types store weights
// that sum exactly to the full scale.
RwUInt32 RwD3D9DeclTypeWriteV4d(RwUInt32 type, void *dest, const RwReal *weights, RwUInt32 count, RwUInt32 stride);
// 0xAARRGGBB per colour; TRUE when any alpha is below 255.
RwBool RwD3D9DeclTypeWriteColors(void *dest, const RwRGBA *colours, RwUInt32 count, RwUInt32 stride);
// Four index bytes per vertex, each replaced by remap[index]; types 4-7 only.
RwUInt32 RwD3D9DeclTypeWriteBlendIndices(RwUInt32 type, void *dest, const RwUInt8 *indices, const RwUInt8 *remap,
                                         RwUInt32 count, RwUInt32 stride);

// One mesh of CPU-side indices for the tangent generator: each index plus
// minVertex names a vertex.
struct RwD3D9TangentMesh {
    const RwUInt16 *indices;
    RwUInt32 numIndices;
    RwUInt32 minVertex;
};

// Per-vertex tangents of numVertices vertices from positions, normals (float
// or packed, either may be NULL) and texture coordinates (u, v pairs), over
// triangle lists or strips (primType D3DPT_TRIANGLESTRIP). Takes the meshes'
// processor-side indices rather than an instance's index buffer, because
// index buffers are created write-only and cannot be read back. Returns the
// element size, or 0 when an index is out of range or memory ran out.
RwUInt32 RwD3D9DeclTypeWriteTangents(RwUInt32 type, void *dest, const RwV3d *positions, const RwV3d *normals,
                                     const RwUInt8 *packedNormals, const RwReal *texCoords, RwUInt32 numVertices,
                                     D3DPRIMITIVETYPE primType, const RwD3D9TangentMesh *meshes, RwUInt32 numMeshes,
                                     RwUInt32 stride);

struct RwMeshHeader;
// The same over a mesh list's own indices (absolute vertex numbers), with the
// mesh list's primitive type.
RwUInt32 RwD3D9DeclTypeWriteMeshTangents(RwUInt32 type, void *dest, const RwV3d *positions, const RwV3d *normals,
                                         const RwUInt8 *packedNormals, const RwReal *texCoords, RwUInt32 numVertices,
                                         const RwMeshHeader *meshHeader, RwUInt32 stride);

// Readers: one stored element back into reals. They take the element before
// the reals it gives (the writers take their destination first): a reader
// turns one element where a writer fills an array, and the material-effects
// and toon callers read element by element in this order.
void RwD3D9DeclTypeReadV3d(RwUInt32 type, const void *element, RwV3d *out);
void RwD3D9DeclTypeReadTexCoords(RwUInt32 type, const void *element, RwReal *uv);

// The most compact type for a set of texture coordinates (u, v pairs) that
// the device's declaration caps allow.
RwUInt32 RwD3D9DeclTypeFindForTexCoords(const RwReal *texCoords, RwUInt32 count);

// qsort order of declaration elements: by stream, then offset.
int RwD3D9VertexElementCompare(const void *a, const void *b);
