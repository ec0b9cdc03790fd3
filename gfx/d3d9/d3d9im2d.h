// Immediate-mode drawing on the device: the 2D entry points and the 3D buffers.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include "gfx/core/rwtypes.h"

RwBool RwD3D9Im2DOpen(void);
void RwD3D9Im2DClose(void);
RwBool RwD3D9Im2DRenderLine(void *vertices, RwInt32 numVertices, RwInt32 vert1, RwInt32 vert2);
RwBool RwD3D9Im2DRenderTriangle(void *vertices, RwInt32 numVertices, RwInt32 vert1, RwInt32 vert2,
                                RwInt32 vert3);
RwBool RwD3D9Im2DRenderPrimitive(RwInt32 primType, void *vertices, RwInt32 numVertices);
RwBool RwD3D9Im2DRenderIndexedPrimitive(RwInt32 primType, void *vertices, RwInt32 numVertices,
                                        RwUInt16 *indices, RwInt32 numIndices);
// The 2D vertex buffer as it stands (for tests and diagnostics).
RwBool RwD3D9Im2DUsesOwnVertexBuffer(void);
RwUInt32 RwD3D9Im2DGetNextVertex(void);

// The 3D index buffer and declarations (d3d9im3d.cpp).
RwBool RwD3D9Im3DCreateBuffers(void);
void RwD3D9Im3DReleaseBuffers(void);

// Shared by 2D and 3D: the device's primitive type of an immediate-mode type
// (0 for none), the primitive count of n vertices or indices (0 when none
// would be drawn), the index check, and stage 0 set to modulate the bound
// texture by the diffuse colour (or to take the diffuse colour alone).
D3DPRIMITIVETYPE RwD3D9PrimitiveTypeMap(RwInt32 primType);
RwInt32 RwD3D9PrimitiveCount(RwInt32 primType, RwInt32 count);
RwBool RwD3D9IndicesInRange(const RwUInt16 *indices, RwInt32 count, RwInt32 numVertices);
void RwD3D9SetStageZeroForDiffuse(void);
