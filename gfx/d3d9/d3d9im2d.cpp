// Immediate-mode drawing on the device: the 2D entry points and the 3D buffers.
#include "d3d9im2d.h"

#include "gfx/core/im3d.h"

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

// The default 3D immediate pipelines are not made yet: the slots stay empty,
// so 3D batches are refused until a caller installs its own pipelines.
RwBool RwD3D9Im3DTransformPipelineCreate(RxPipeline **slot)
{
    *slot = nullptr;
    return TRUE;
}

void RwD3D9Im3DTransformPipelineDestroy(RxPipeline **slot)
{
    *slot = nullptr;
}

RwBool RwD3D9Im3DRenderPipelinesCreate(RxPipeline **slots)
{
    for (int i = 0; i < 6; ++i) {
        slots[i] = nullptr;
    }
    return TRUE;
}

void RwD3D9Im3DRenderPipelinesDestroy(RxPipeline **slots)
{
    for (int i = 0; i < 6; ++i) {
        slots[i] = nullptr;
    }
}
