// The 2D quad batch buffers that the engine root creates at start-up.
#include "im2dquadbatch.h"

#include "engine.h"

enum : RwUInt32 {
    rwQUADBATCHVERTICES = 4096,
    rwQUADBATCHVERTEXSIZE = 28,
    rwQUADBATCHINDICES = 6144,
    rwMEMHINT_QUADBATCH = 0x40180,
};

struct RwIm2DQuadBatch {
    void *vertices;
    RwUInt16 *indices;
    RwInt32 numVertices;
    RwInt32 numIndices;
    RwBool created;
};

static RwIm2DQuadBatch quadBatch;

RwBool RwIm2DQuadBatchCreate(void)
{
    if (quadBatch.created) {
        return TRUE;
    }
    void *vertices = RwMalloc(rwQUADBATCHVERTICES * rwQUADBATCHVERTEXSIZE, rwMEMHINT_QUADBATCH);
    if (!vertices) {
        return FALSE;
    }
    void *indices = RwMalloc(rwQUADBATCHINDICES * sizeof(RwUInt16), rwMEMHINT_QUADBATCH);
    if (!indices) {
        RwFree(vertices);
        return FALSE;
    }
    quadBatch.vertices = vertices;
    quadBatch.indices = static_cast<RwUInt16 *>(indices);
    quadBatch.numVertices = 0;
    quadBatch.numIndices = 0;
    quadBatch.created = TRUE;
    return TRUE;
}

void RwIm2DQuadBatchDestroy(void)
{
    if (quadBatch.vertices) {
        RwFree(quadBatch.vertices);
    }
    if (quadBatch.indices) {
        RwFree(quadBatch.indices);
    }
    quadBatch.vertices = nullptr;
    quadBatch.indices = nullptr;
    quadBatch.created = FALSE;
}

RwBool RwIm2DQuadBatchIsCreated(void)
{
    return quadBatch.created;
}
