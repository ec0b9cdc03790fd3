// Immediate-mode drawing on the device: the 2D entry points and the 3D buffers.
#include "d3d9im2d.h"

// No immediate-mode buffers are kept yet, and 2D drawing is refused.

RwBool RwD3D9Im2DOpen(void)
{
    return TRUE;
}

void RwD3D9Im2DClose(void)
{
}

RwBool RwD3D9Im2DRenderLine(void *, RwInt32, RwInt32, RwInt32)
{
    return FALSE;
}

RwBool RwD3D9Im2DRenderTriangle(void *, RwInt32, RwInt32, RwInt32, RwInt32)
{
    return FALSE;
}

RwBool RwD3D9Im2DRenderPrimitive(RwInt32, void *, RwInt32)
{
    return FALSE;
}

RwBool RwD3D9Im2DRenderIndexedPrimitive(RwInt32, void *, RwInt32, RwUInt16 *, RwInt32)
{
    return FALSE;
}

RwBool RwD3D9Im3DCreateBuffers(void)
{
    return TRUE;
}

void RwD3D9Im3DReleaseBuffers(void)
{
}
