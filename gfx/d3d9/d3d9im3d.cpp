// Immediate-mode 3D drawing on the device: the default transform and render pipelines and their buffers.
#include <cstring>

#include "d3d9device.h"
#include "d3d9im2d.h"
#include "d3d9renderstate.h"
#include "d3d9state.h"
#include "d3d9vertexbuffer.h"
#include "gfx/core/modules.h"
#include "gfx/core/im3d.h"

enum : RwUInt32 {
    rwD3D9IM3DMAXINDICES = 65535,
    rwD3D9IM3DEXPANDINDICES = 8,    // small indexed batches are expanded instead
    rwD3D9IM3DTEXTUREDSTRIDE = 24,
    rwD3D9IM3DPLAINSTRIDE = 16,
};

struct Im3DState {
    const RwIm3DTransformRecord *batch;     // seen by the last transform run
    IDirect3DIndexBuffer9 *indexBuffer;
    RwUInt32 nextIndex;
    void *fullDeclaration;
    void *texturedDeclaration;
    void *plainDeclaration;
};

static Im3DState Im3D;

static const D3DVERTEXELEMENT9 FullElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    {0, 28, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};
static const D3DVERTEXELEMENT9 TexturedElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};
static const D3DVERTEXELEMENT9 PlainElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    D3DDECL_END(),
};

static void DeleteDeclaration(void **declaration)
{
    if (*declaration)
        RwD3D9DeleteVertexDeclaration(*declaration);
    *declaration = nullptr;
}

void RwD3D9Im3DReleaseBuffers(void)
{
    if (Im3D.indexBuffer) {
        if (rwD3D9Cache.lastIndexBuffer == Im3D.indexBuffer)
            RwD3D9SetIndices(nullptr);
        Im3D.indexBuffer->Release();
        Im3D.indexBuffer = nullptr;
    }
    Im3D.nextIndex = 0;
    DeleteDeclaration(&Im3D.fullDeclaration);
    DeleteDeclaration(&Im3D.texturedDeclaration);
    DeleteDeclaration(&Im3D.plainDeclaration);
}

RwBool RwD3D9Im3DCreateBuffers(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwD3D9Im3DReleaseBuffers();
    if (!d.device)
        return FALSE;
    const D3DPOOL pool =
        (d.caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) ? D3DPOOL_DEFAULT : D3DPOOL_SYSTEMMEM;
    if (FAILED(d.device->CreateIndexBuffer(rwD3D9IM3DMAXINDICES * sizeof(RwUInt16),
                                           D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, D3DFMT_INDEX16, pool,
                                           &Im3D.indexBuffer, nullptr)) ||
        !RwD3D9CreateVertexDeclaration(FullElements, &Im3D.fullDeclaration) ||
        !RwD3D9CreateVertexDeclaration(TexturedElements, &Im3D.texturedDeclaration) ||
        !RwD3D9CreateVertexDeclaration(PlainElements, &Im3D.plainDeclaration)) {
        RwD3D9Im3DReleaseBuffers();
        return FALSE;
    }
    return TRUE;
}

// The transform node only remembers the batch: the device transforms it.
static RwBool ImmInstanceBody(RxPipelineNode *, const RxPipelineNodeParam *params)
{
    Im3D.batch = static_cast<const RwIm3DTransformRecord *>(params->dataParam);
    return Im3D.batch != nullptr;
}

// Writes the listed vertices (all when list is NULL) in the smaller form.
static void ConvertVertices(RwUInt8 *to, RwUInt32 stride, const RwIm3DVertex *from, const RwUInt16 *list,
                            RwInt32 count)
{
    for (RwInt32 i = 0; i < count; i++, to += stride) {
        const RwIm3DVertex &v = from[list ? list[i] : i];
        std::memcpy(to, &v.objVertex, sizeof(RwV3d));
        std::memcpy(to + 12, &v.color, 4);
        if (stride == rwD3D9IM3DTEXTUREDSTRIDE) {
            std::memcpy(to + 16, &v.u, 4);
            std::memcpy(to + 20, &v.v, 4);
        }
    }
}

// Room for count converted vertices in the shared dynamic buffers, filled and
// bound to stream 0; FALSE when the buffers could not take them.
static RwBool StreamVertices(const RwIm3DTransformRecord &b, RwUInt32 stride, const RwUInt16 *list, RwInt32 count,
                             RwUInt32 *base)
{
    void *buffer = nullptr;
    void *data = nullptr;
    if (!RwD3D9DynamicVertexBufferLock(stride, static_cast<RwUInt32>(count), &buffer, &data, base))
        return FALSE;
    ConvertVertices(static_cast<RwUInt8 *>(data), stride, b.objVerts, list, count);
    RwD3D9DynamicVertexBufferUnlock(buffer);
    RwD3D9SetStreamSource(0, buffer, 0, stride);
    return TRUE;
}

static RwUInt16 *TakeIndices(RwUInt32 n)
{
    void *data = nullptr;
    DWORD flags = D3DLOCK_NOOVERWRITE;
    if (Im3D.nextIndex + n > rwD3D9IM3DMAXINDICES) {
        Im3D.nextIndex = 0;
        flags = D3DLOCK_DISCARD;
    }
    if (FAILED(Im3D.indexBuffer->Lock(Im3D.nextIndex * sizeof(RwUInt16), n * sizeof(RwUInt16), &data, flags)))
        return nullptr;
    return static_cast<RwUInt16 *>(data);
}

// Draws through the dynamic buffers; FALSE asks for the draw from user memory.
static RwBool DrawBuffered(const RwIm3DTransformRecord &b, const RwIm3DRenderRecord &r, D3DPRIMITIVETYPE type,
                           RwUInt32 stride)
{
    const RwInt32 numVerts = static_cast<RwInt32>(b.numVerts);
    RwUInt32 base = 0;
    // A few indices are cheaper expanded than sent through the index buffer.
    if (r.indices && r.numIndices <= static_cast<RwInt32>(rwD3D9IM3DEXPANDINDICES)) {
        if (!StreamVertices(b, stride, r.indices, r.numIndices, &base))
            return FALSE;
        RwD3D9FlushRenderStates();
        return SUCCEEDED(rwD3D9Driver.device->DrawPrimitive(
            type, base, static_cast<UINT>(RwD3D9PrimitiveCount(r.primType, r.numIndices))));
    }
    if (r.indices) {
        const RwUInt32 n = static_cast<RwUInt32>(r.numIndices);
        if (!Im3D.indexBuffer || n > rwD3D9IM3DMAXINDICES || !StreamVertices(b, stride, nullptr, numVerts, &base))
            return FALSE;
        RwUInt16 *to = TakeIndices(n);
        if (!to)
            return FALSE;
        std::memcpy(to, r.indices, n * sizeof(RwUInt16));
        Im3D.indexBuffer->Unlock();
        RwD3D9SetIndices(Im3D.indexBuffer);
        RwD3D9FlushRenderStates();
        const HRESULT hr = rwD3D9Driver.device->DrawIndexedPrimitive(
            type, static_cast<INT>(base), 0, b.numVerts, Im3D.nextIndex,
            static_cast<UINT>(RwD3D9PrimitiveCount(r.primType, r.numIndices)));
        Im3D.nextIndex += n;
        return SUCCEEDED(hr);
    }
    if (!StreamVertices(b, stride, nullptr, numVerts, &base))
        return FALSE;
    RwD3D9FlushRenderStates();
    return SUCCEEDED(rwD3D9Driver.device->DrawPrimitive(
        type, base, static_cast<UINT>(RwD3D9PrimitiveCount(r.primType, numVerts))));
}

static void DrawFromUserMemory(const RwIm3DTransformRecord &b, const RwIm3DRenderRecord &r, D3DPRIMITIVETYPE type)
{
    RwD3D9SetVertexDeclaration(Im3D.fullDeclaration);
    RwD3D9SetStreamSource(0, nullptr, 0, 0);
    RwD3D9SetIndices(nullptr);
    RwD3D9FlushRenderStates();
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    if (r.indices) {
        device->DrawIndexedPrimitiveUP(type, 0, b.numVerts,
                                       static_cast<UINT>(RwD3D9PrimitiveCount(r.primType, r.numIndices)), r.indices,
                                       D3DFMT_INDEX16, b.objVerts, sizeof(RwIm3DVertex));
    } else {
        device->DrawPrimitiveUP(type, static_cast<UINT>(RwD3D9PrimitiveCount(r.primType, b.numVerts)), b.objVerts,
                                sizeof(RwIm3DVertex));
    }
}

static RwBool SubmitNoLightBody(RxPipelineNode *, const RxPipelineNodeParam *params)
{
    const RwIm3DRenderRecord *r = static_cast<const RwIm3DRenderRecord *>(params->dataParam);
    const RwIm3DTransformRecord *b = Im3D.batch;
    if (!r || !b || !rwD3D9Driver.device)
        return FALSE;
    // An index past the batch would make the device read outside the caller's
    // vertices: such a batch is refused before anything is set.
    if (r->indices && !RwD3D9IndicesInRange(r->indices, r->numIndices, static_cast<RwInt32>(b->numVerts)))
        return FALSE;

    const RwBool textured = (r->flags & rwIM3D_VERTEXUV) != 0;
    RwD3D9SetVertexAlphaEnable((r->flags & rwIM3D_ALLOPAQUE) ? FALSE : TRUE);
    RwD3D9SetTransformWorld(r->matrix);
    RwD3D9SetRenderState(D3DRS_LIGHTING, FALSE);
    RwD3D9SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
    RwD3D9SetRenderState(D3DRS_CLIPPING, (r->flags & rwIM3D_NOCLIP) ? FALSE : TRUE);
    RwD3D9SetStageZeroForDiffuse();
    RwD3D9SetVertexDeclaration(textured ? Im3D.texturedDeclaration : Im3D.plainDeclaration);
    RwD3D9SetVertexShader(nullptr);
    RwD3D9SetPixelShader(nullptr);

    const RwInt32 count = r->indices ? r->numIndices : static_cast<RwInt32>(b->numVerts);
    if (b->numVerts == 0 || RwD3D9PrimitiveCount(r->primType, count) == 0)
        return TRUE;
    const D3DPRIMITIVETYPE type = RwD3D9PrimitiveTypeMap(r->primType);
    if (!DrawBuffered(*b, *r, type, textured ? rwD3D9IM3DTEXTUREDSTRIDE : rwD3D9IM3DPLAINSTRIDE))
        DrawFromUserMemory(*b, *r, type);
    return TRUE;
}

static RxPipelineNodeDefinition NodeDefinition(const RwChar *name, RxNodeBodyFn body)
{
    RxPipelineNodeDefinition definition;
    std::memset(&definition, 0, sizeof definition);
    definition.name = name;
    definition.body = body;
    return definition;
}

static RxPipelineNodeDefinition ImmInstanceNode = NodeDefinition("ImmInstance.csl", ImmInstanceBody);
static RxPipelineNodeDefinition SubmitNoLightNode = NodeDefinition("nodeD3D9SubmitNoLight.csl", SubmitNoLightBody);

// A one-node pipeline of plug-in id 1, or NULL.
static RxPipeline *OneNodePipeline(RxPipelineNodeDefinition *definition)
{
    RxPipeline *pipeline = RwPipelineCreate();
    if (!pipeline)
        return nullptr;
    pipeline->pluginId = rwID_COREPLUGIN;
    if (!RwPipelineLock(pipeline) || !RwPipelineAddFragment(pipeline, nullptr, definition, nullptr) ||
        !RwPipelineUnlock(pipeline)) {
        RwPipelineDestroy(pipeline);
        return nullptr;
    }
    return pipeline;
}

RwBool RwD3D9Im3DTransformPipelineCreate(RxPipeline **slot)
{
    *slot = OneNodePipeline(&ImmInstanceNode);
    if (!*slot)
        return FALSE;
    RwIm3DSetTransformPipeline(*slot);
    return TRUE;
}

void RwD3D9Im3DTransformPipelineDestroy(RxPipeline **slot)
{
    // The slot is cleared first, so that restoring the default cannot leave
    // the pipeline about to go in force.
    RxPipeline *pipeline = *slot;
    *slot = nullptr;
    RwIm3DSetTransformPipeline(nullptr);
    if (pipeline)
        RwPipelineDestroy(pipeline);
    Im3D.batch = nullptr;
}

static const RwPrimitiveType DrawnTypes[] = {rwPRIMTYPETRILIST, rwPRIMTYPETRIFAN, rwPRIMTYPETRISTRIP,
                                             rwPRIMTYPELINELIST, rwPRIMTYPEPOLYLINE};
enum : RwUInt32 { rwD3D9IM3DDRAWNSLOTS = sizeof DrawnTypes / sizeof DrawnTypes[0] };

RwBool RwD3D9Im3DRenderPipelinesCreate(RxPipeline **slots)
{
    RxPipeline *pipeline = OneNodePipeline(&SubmitNoLightNode);
    if (!pipeline)
        return FALSE;
    // Point lists get no pipeline: they cannot be drawn.
    for (RwUInt32 i = 0; i < rwD3D9IM3DDRAWNSLOTS; i++)
        slots[i] = pipeline;
    for (RwPrimitiveType type : DrawnTypes)
        RwIm3DSetRenderPipeline(pipeline, type);
    return RwD3D9Im3DCreateBuffers();
}

void RwD3D9Im3DRenderPipelinesDestroy(RxPipeline **slots)
{
    RwD3D9Im3DReleaseBuffers();
    RxPipeline *pipeline = slots[0];
    for (RwUInt32 i = 0; i < rwD3D9IM3DDRAWNSLOTS; i++)
        slots[i] = nullptr;
    for (RwPrimitiveType type : DrawnTypes)
        RwIm3DSetRenderPipeline(nullptr, type);
    if (pipeline)
        RwPipelineDestroy(pipeline);
}
