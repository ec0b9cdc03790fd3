// Immediate-mode drawing on the device: the 2D entry points and the 3D buffers.
#pragma once

#include "gfx/core/rwtypes.h"

RwBool RwD3D9Im2DOpen(void);
void RwD3D9Im2DClose(void);
RwBool RwD3D9Im2DRenderLine(void *vertices, RwInt32 numVertices, RwInt32 vert1, RwInt32 vert2);
RwBool RwD3D9Im2DRenderTriangle(void *vertices, RwInt32 numVertices, RwInt32 vert1, RwInt32 vert2,
                                RwInt32 vert3);
RwBool RwD3D9Im2DRenderPrimitive(RwInt32 primType, void *vertices, RwInt32 numVertices);
RwBool RwD3D9Im2DRenderIndexedPrimitive(RwInt32 primType, void *vertices, RwInt32 numVertices,
                                        RwUInt16 *indices, RwInt32 numIndices);
RwBool RwD3D9Im3DCreateBuffers(void);
void RwD3D9Im3DReleaseBuffers(void);
