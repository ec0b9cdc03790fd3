// The instanced form of a geometry or world sector: its vertex streams and per-mesh draw records.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include "d3d9state.h"

struct RwMaterial;

struct RwD3D9InstanceMesh {
    RwUInt32 numIndices;
    RwUInt32 minVertexIndex;
    RwMaterial *material;
    RwBool vertexAlpha;         // some pre-lit colour of the mesh has alpha below 255
    void *vertexShader;         // NULL for fixed function
    RwUInt32 baseVertexIndex;
    RwUInt32 numVertices;
    RwUInt32 startIndex;
    RwUInt32 numPrimitives;
};
static_assert(sizeof(RwD3D9InstanceMesh) == 36, "instanced mesh is 36 bytes");

// Followed in memory by numMeshes RwD3D9InstanceMesh records.
struct RwD3D9InstanceHeader {
    RwUInt32 serialNumber;
    RwUInt32 numMeshes;
    void *indexBuffer;          // NULL when the meshes are not indexed
    D3DPRIMITIVETYPE primType;
    RwD3D9VertexStream vertexStream[2];
    RwBool useOffsets;
    void *vertexDeclaration;
    RwUInt32 totalNumIndex;
    RwUInt32 totalNumVertex;
};
static_assert(sizeof(RwD3D9InstanceHeader) == 64, "instance header is 64 bytes");
