// Toon pipelines on the device: their build and teardown, read-back of instanced vertices and the toon render callback.
#include <windows.h>
#include <d3d9.h>

#include <cstring>
#include <functional>

#include "d3d9allinone.h"
#include "d3d9decltype.h"
#include "d3d9device.h"
#include "d3d9instance.h"
#include "d3d9renderstate.h"
#include "d3d9state.h"
#include "d3d9toon.h"
#include "d3d9toonshaders.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/finite.h"
#include "gfx/core/frame.h"
#include "gfx/core/memory.h"
#include "gfx/core/pipeline.h"
#include "gfx/plugins/skin/skin.h"
#include "gfx/plugins/toon/toon.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/mesh.h"

RwToonDevice rwToonDevice = {};

namespace {

enum : RwUInt32 {
    MEMHINT_READBACK = 0x4012E,
};

// The driver's all-in-one node painting instead of lighting.
RxPipeline *PaintPipeline(RxPipelineNodeDefinition *definition)
{
    RxPipelineNode *node = nullptr;
    RxPipeline *pipeline = RwD3D9AllInOnePipelineCreate(definition, rwID_TOONPLUGIN, &node);
    if (pipeline) {
        RwD3D9AllInOneNodeSetLightingCallback(node, nullptr);
        RwD3D9AllInOneNodeSetRenderCallback(node, RwToonPaintRenderCallBack);
    }
    return pipeline;
}

// Where the draws find vertex 0 of the stream: the meshes' base vertex says where the vertices went, a static
// buffer's own region or this frame's room in a rotating buffer (whose stream offset stays 0).
RwUInt32 FirstVertexByte(const RwD3D9InstanceHeader *header, const RwD3D9VertexStream &stream)
{
    const RwD3D9InstanceMesh *mesh = reinterpret_cast<const RwD3D9InstanceMesh *>(header + 1);
    const RwUInt32 first = header->numMeshes > 0 && mesh->baseVertexIndex > mesh->minVertexIndex
                               ? mesh->baseVertexIndex - mesh->minVertexIndex
                               : 0;
    return (header->useOffsets ? stream.offset : 0) + first * stream.stride;
}

RwBool ShaderVersions(RwUInt32 vs, RwUInt32 ps)
{
    const D3DCAPS9 *caps = RwD3D9GetCaps();
    return caps && caps->VertexShaderVersion >= vs && caps->PixelShaderVersion >= ps;
}

} // namespace

RwBool RwToonPipelinesCreate(void)
{
    rwToonDevice = {};
    rwToonDevice.multiTexture = TRUE;
    if (!rwD3D9Driver.device) {
        return TRUE;
    }
    rwToonPipelines.atomic = PaintPipeline(RwD3D9AtomicAllInOneNodeGet());
    rwToonPipelines.sector = PaintPipeline(RwD3D9WorldSectorAllInOneNodeGet());
    if (!rwToonPipelines.atomic) {
        return FALSE;
    }
    const D3DCAPS9 *caps = RwD3D9GetCaps();
    rwToonDevice.multiTexture = caps && caps->MaxSimultaneousTextures > 1;
    if (ShaderVersions(D3DVS_VERSION(1, 1), D3DPS_VERSION(2, 0))) {
        RwBool made = TRUE;
        for (RwInt32 i = 0; i < 4; ++i) {
            made = RwD3D9CreatePixelShader(rwToonPaintShaderTokens[i], &rwToonDevice.paintShaders[i]) && made;
        }
        rwToonDevice.shaderPaint = made;
    }
    return RwToonInkResourcesCreate();
}

RwBool RwToonPipelinesDestroy(void)
{
    for (void *&shader : rwToonDevice.paintShaders) {
        if (shader) {
            RwD3D9DeleteShader(shader);
            shader = nullptr;
        }
    }
    for (RxPipeline *&pipeline : {std::ref(rwToonPipelines.atomic), std::ref(rwToonPipelines.sector)}) {
        if (pipeline) {
            RwPipelineDestroy(pipeline);
            pipeline = nullptr;
        }
    }
    RwFree(rwToonDevice.readBack);
    rwToonDevice.readBack = nullptr;
    RwToonInkResourcesDestroy();
    return TRUE;
}

RwV3d *RwToonReadInstancedVertices(RwToonGeo *toon, RwD3D9InstanceHeader *header)
{
    if (!toon || !header || header->totalNumVertex == 0 || !header->vertexDeclaration ||
        !header->vertexStream[0].vertexBuffer) {
        return nullptr;
    }
    if (!rwToonDevice.readBack) {
        rwToonDevice.readBack =
            static_cast<RwV3d *>(RwMalloc(sizeof(RwV3d) * rwTOONMAXVERTICES, MEMHINT_READBACK));
        if (!rwToonDevice.readBack) {
            return nullptr;
        }
    }
    D3DVERTEXELEMENT9 elements[MAXD3DDECLLENGTH + 1];
    UINT count = MAXD3DDECLLENGTH + 1;
    IDirect3DVertexDeclaration9 *declaration = static_cast<IDirect3DVertexDeclaration9 *>(header->vertexDeclaration);
    if (FAILED(declaration->GetDeclaration(elements, &count))) {
        return nullptr;
    }
    const D3DVERTEXELEMENT9 *position = nullptr;
    const D3DVERTEXELEMENT9 *normal = nullptr;
    for (UINT i = 0; i < count && elements[i].Stream != 0xFF; ++i) {
        if (elements[i].Stream != 0) {
            continue;
        }
        if (elements[i].Usage == D3DDECLUSAGE_POSITION && elements[i].UsageIndex == 0) {
            position = &elements[i];
        } else if (elements[i].Usage == D3DDECLUSAGE_NORMAL && elements[i].UsageIndex == 0) {
            normal = &elements[i];
        }
    }
    const RwD3D9VertexStream &stream = header->vertexStream[0];
    const RwUInt8 *data = nullptr;
    IDirect3DVertexBuffer9 *vb = static_cast<IDirect3DVertexBuffer9 *>(stream.vertexBuffer);
    // Read only: the buffer is not marked changed, so the device keeps its copy.
    if (!position || FAILED(vb->Lock(FirstVertexByte(header, stream), header->totalNumVertex * stream.stride,
                                     reinterpret_cast<void **>(const_cast<RwUInt8 **>(&data)),
                                     D3DLOCK_NOSYSLOCK | D3DLOCK_READONLY))) {
        return nullptr;
    }
    // Never more than the buffers hold: positions to the read-back size, normals to the toon data's V.
    const RwUInt32 positions = header->totalNumVertex < static_cast<RwUInt32>(rwTOONMAXVERTICES) ? header->totalNumVertex : static_cast<RwUInt32>(rwTOONMAXVERTICES);
    const RwUInt32 normals = header->totalNumVertex < static_cast<RwUInt32>(toon->numVertices)
                                 ? header->totalNumVertex
                                 : static_cast<RwUInt32>(toon->numVertices);
    for (RwUInt32 v = 0; v < positions; ++v) {
        RwD3D9DeclTypeReadV3d(position->Type, data + v * stream.stride + position->Offset, &rwToonDevice.readBack[v]);
    }
    // The toon data keeps (and streams) these normals, and its reader takes finite reals only: a
    // pose at the ends of the finite range may skin a normal out of it, which then points nowhere.
    for (RwUInt32 v = 0; normal && v < normals; ++v) {
        RwV3d &n = toon->vertexNormals[v];
        RwD3D9DeclTypeReadV3d(normal->Type, data + v * stream.stride + normal->Offset, &n);
        if (!RwRealsFinite(&n.x, 3)) {
            n = {0.0f, 0.0f, 0.0f};
        }
    }
    vb->Unlock();
    return rwToonDevice.readBack;
}

RwAtomic *RwToonAtomicRenderCallBack(RwAtomic *atomic)
{
    RwGeometry *g = atomic ? atomic->geometry : nullptr;
    RwToonGeo *toon = RwToonGeometryGetToonGeo(g);
    RwCamera *camera = static_cast<RwCamera *>(RwEngineInstance->curCamera);
    if (!toon) {
        return atomic ? RwAtomicDefaultRenderCallBack(atomic) : nullptr;
    }
    RwToonRenderCallBack surface = toon->savedRenderCallBack ? toon->savedRenderCallBack : RwAtomicDefaultRenderCallBack;
    surface(atomic);
    if (!camera || !RwCameraGetFrame(camera) || !RwAtomicGetFrame(atomic)) {
        return atomic;
    }
    const RwV3d *positions = RwGeometryGetMorphTarget(g, 0)->verts;
    const RwV3d *normals = toon->vertexNormals;
    RwBool stale = FALSE;
    // A skinning pipeline writes the pose into the instanced buffer whether or not this toon data was
    // marked skinned (toon data read again after set-up is not).
    const RwBool skinned = toon->skinned || (atomic->pipeline && atomic->pipeline->pluginId == rwID_SKINPLUGIN);
    if (g->numMorphTargets >= 2 || skinned) {
        RwResourceEntry *entry = g->numMorphTargets >= 2 && atomic->repEntry ? atomic->repEntry : g->repEntry;
        positions = entry ? RwToonReadInstancedVertices(
                                toon, static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(entry)))
                          : nullptr;
        stale = TRUE;
    } else if (toon->verticesChanged) {
        if (RwGeometryGetMorphTarget(g, 0)->normals) {
            normals = RwGeometryGetMorphTarget(g, 0)->normals;
        }
        toon->verticesChanged = FALSE;
        stale = TRUE;
    }
    if (!positions) {
        return atomic;
    }
    RwToonGeoUpdateInks(toon, atomic);
    RwMatrix inverse;
    RwMatrix objectToCamera;
    const RwMatrix *world = RwFrameGetWorldMatrix(RwAtomicGetFrame(atomic));
    RwMatrixInvert(&inverse, RwFrameGetWorldMatrix(RwCameraGetFrame(camera)));
    RwMatrixMultiply(&objectToCamera, world, &inverse);
    RwUInt32 shade = 0;
    RwUInt32 dither = 0;
    RwD3D9GetRenderState(D3DRS_SHADEMODE, &shade);
    RwD3D9GetRenderState(D3DRS_DITHERENABLE, &dither);
    RwD3D9SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    RwD3D9SetRenderState(D3DRS_DITHERENABLE, FALSE);
    RwD3D9SetTexture(nullptr, 0);
    RwToonRenderSilhouettes(toon, positions, normals, stale, &objectToCamera, world);
    RwToonRenderCreases(toon, positions, &objectToCamera);
    RwD3D9SetRenderState(D3DRS_SHADEMODE, shade);
    RwD3D9SetRenderState(D3DRS_DITHERENABLE, dither);
    return atomic;
}
