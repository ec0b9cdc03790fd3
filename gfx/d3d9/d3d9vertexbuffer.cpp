// Vertex buffers shared by the pipelines: static space and the dynamic ring.
#include "d3d9vertexbuffer.h"

// No buffers are kept yet: nothing lives in video memory across a reset.

RwBool RwD3D9VertexBufferOpen(void)
{
    return TRUE;
}

void RwD3D9VertexBufferClose(void)
{
}

void RwD3D9VertexBufferReleaseVideoMemory(void)
{
}

RwBool RwD3D9VertexBufferRestoreVideoMemory(void)
{
    return TRUE;
}

void RwD3D9DynamicVertexBufferNewFrame(void)
{
}
