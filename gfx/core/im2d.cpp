// Immediate-mode 2D drawing: screen-space vertices drawn through the device block.
#include "im2d.h"

#include "engine.h"

RwReal RwIm2DGetNearScreenZ(void)
{
    return RwEngineInstance ? RwEngineInstance->dOpenDevice.zBufferNear : 0.0f;
}

RwReal RwIm2DGetFarScreenZ(void)
{
    return RwEngineInstance ? RwEngineInstance->dOpenDevice.zBufferFar : 1.0f;
}

RwBool RwIm2DRenderPrimitive(RwInt32 primType, RwIm2DVertex *vertices, RwInt32 numVertices)
{
    if (!vertices || numVertices <= 0 || !RwEngineInstance ||
        !RwEngineInstance->dOpenDevice.fpIm2DRenderPrimitive) {
        return FALSE;
    }
    return RwEngineInstance->dOpenDevice.fpIm2DRenderPrimitive(primType, vertices, numVertices);
}
