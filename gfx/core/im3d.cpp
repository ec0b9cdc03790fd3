// Immediate-mode 3D module: the open batch, its pipelines and the module's open and close.
#include "im3d.h"

#include <cstring>

#include "engine.h"
#include "error.h"
#include "modules.h"

enum : RwUInt32 { rwIM3DNUMRENDERPIPES = 6 };

struct RwIm3DGlobals {
    RxPipeline *currentTransform;
    RxPipeline *currentRender[rwIM3DNUMRENDERPIPES];
    RxPipeline *defaultTransform;
    RxPipeline *defaultRender[rwIM3DNUMRENDERPIPES];
    RwIm3DTransformRecord batch;
};
static_assert(sizeof(RwIm3DGlobals) == 116, "immediate module globals are 116 bytes");

static RwInt32 im3dModuleOffset = -1;
static RwInt32 im3dOpenCount = 0;

static RwIm3DGlobals *Im3DGlobals()
{
    return RwEngineModuleGlobals<RwIm3DGlobals>(im3dModuleOffset);
}

static RwBool Im3DOpen()
{
    return im3dOpenCount > 0 && RwEngineGetStatus() >= rwENGINESTATUSOPENED;
}

// Slot of a primitive type in the render-pipeline tables, or -1.
static RwInt32 RenderSlot(RwInt32 primType)
{
    static const RwInt32 slots[] = {-1, 3, 4, 0, 2, 1, 5};
    return primType >= rwPRIMTYPELINELIST && primType <= rwPRIMTYPEPOINTLIST ? slots[primType] : -1;
}

static void Raise(RwInt32 code)
{
    RwErrorRaise(rwID_COREPLUGIN, static_cast<RwUInt32>(code));
}

void *RwIm3DTransform(void *vertices, RwUInt32 numVertices, RwMatrix *matrix, RwUInt32 flags)
{
    if (numVertices > rwIM3D_MAXVERTICES) {
        Raise(E_RW_IM3DTOOMANYVERTICES);
        return nullptr;
    }
    if (!vertices || !Im3DOpen()) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return nullptr;
    }
    RwIm3DGlobals *g = Im3DGlobals();
    RwIm3DTransformRecord &b = g->batch;
    b.numVerts = numVertices;
    b.objVerts = static_cast<RwIm3DVertex *>(vertices);
    b.stride = sizeof(RwIm3DVertex);
    b.render.matrix = matrix;
    b.render.flags = flags | rwIM3D_VERTEXXYZ | rwIM3D_VERTEXRGBA;
    if (!g->currentTransform || !RwPipelineExecute(g->currentTransform, &b, TRUE)) {
        return nullptr;
    }
    return vertices;
}

RwBool RwIm3DEnd(void)
{
    if (!Im3DOpen() || !Im3DGlobals()->batch.objVerts) {
        return FALSE;
    }
    memset(&Im3DGlobals()->batch, 0, sizeof(RwIm3DTransformRecord));
    return TRUE;
}

// Draws the open batch through the type's render pipeline.
static RwBool RenderBatch(RwInt32 primType, RwUInt16 *indices, RwInt32 numIndices)
{
    if (!Im3DOpen() || !Im3DGlobals()->batch.objVerts) {
        Raise(E_RW_IM3DNOTACTIVE);
        return FALSE;
    }
    // The type is checked before it picks a pipeline; point lists cannot be drawn.
    if (primType < rwPRIMTYPELINELIST || primType > rwPRIMTYPETRIFAN) {
        Raise(E_RW_INVALIDPRIMTYPE);
        return FALSE;
    }
    RwIm3DGlobals *g = Im3DGlobals();
    RwIm3DRenderRecord &r = g->batch.render;
    if (indices) {
        if (numIndices < 0) {
            numIndices = 0;
        }
        if (primType == rwPRIMTYPELINELIST) {
            numIndices -= numIndices % 2;
        } else if (primType == rwPRIMTYPETRILIST) {
            numIndices -= numIndices % 3;
        }
    }
    r.indices = indices;
    r.numIndices = numIndices;
    r.primType = primType;
    r.pipeline = g->currentRender[RenderSlot(primType)];
    if (!r.pipeline) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return FALSE;
    }
    return RwPipelineExecute(r.pipeline, &r, FALSE) ? TRUE : FALSE;
}

RwBool RwIm3DRenderIndexedPrimitive(RwPrimitiveType primType, RwUInt16 *indices, RwInt32 numIndices)
{
    if (!indices) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return FALSE;
    }
    return RenderBatch(primType, indices, numIndices);
}

RwBool RwIm3DRenderPrimitive(RwPrimitiveType primType)
{
    return RenderBatch(primType, nullptr, 0);
}

RxPipeline *RwIm3DSetTransformPipeline(RxPipeline *pipeline)
{
    if (!Im3DOpen()) {
        return nullptr;
    }
    RwIm3DGlobals *g = Im3DGlobals();
    g->currentTransform = pipeline ? pipeline : g->defaultTransform;
    return g->currentTransform;
}

RxPipeline *RwIm3DSetRenderPipeline(RxPipeline *pipeline, RwPrimitiveType primType)
{
    const RwInt32 slot = RenderSlot(primType);
    if (slot < 0) {
        Raise(E_RW_INVALIDPRIMTYPE);
        return nullptr;
    }
    if (!Im3DOpen()) {
        return nullptr;
    }
    RwIm3DGlobals *g = Im3DGlobals();
    g->currentRender[slot] = pipeline ? pipeline : g->defaultRender[slot];
    return g->currentRender[slot];
}

RxPipeline *RwIm3DGetTransformPipeline(void)
{
    return Im3DOpen() ? Im3DGlobals()->currentTransform : nullptr;
}

RxPipeline *RwIm3DGetRenderPipeline(RwPrimitiveType primType)
{
    const RwInt32 slot = RenderSlot(primType);
    return slot >= 0 && Im3DOpen() ? Im3DGlobals()->currentRender[slot] : nullptr;
}

void *RwImmediateModuleOpen(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    im3dModuleOffset = offset;
    ++im3dOpenCount;
    RwIm3DGlobals *g = Im3DGlobals();
    memset(g, 0, sizeof *g);
    if (!RwD3D9Im3DTransformPipelineCreate(&g->defaultTransform) ||
        !RwD3D9Im3DRenderPipelinesCreate(g->defaultRender)) {
        RwD3D9Im3DRenderPipelinesDestroy(g->defaultRender);
        RwD3D9Im3DTransformPipelineDestroy(&g->defaultTransform);
        --im3dOpenCount;
        return nullptr;
    }
    return instance;
}

void *RwImmediateModuleClose(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    im3dModuleOffset = offset;
    RwIm3DGlobals *g = Im3DGlobals();
    RwD3D9Im3DRenderPipelinesDestroy(g->defaultRender);
    RwD3D9Im3DTransformPipelineDestroy(&g->defaultTransform);
    --im3dOpenCount;
    return instance;
}
