// Vertex buffers shared by the pipelines: static space and the dynamic ring.
#pragma once

#include "gfx/core/rwtypes.h"

RwBool RwD3D9VertexBufferOpen(void);
void RwD3D9VertexBufferClose(void);
void RwD3D9VertexBufferReleaseVideoMemory(void);
RwBool RwD3D9VertexBufferRestoreVideoMemory(void);
void RwD3D9DynamicVertexBufferNewFrame(void);
