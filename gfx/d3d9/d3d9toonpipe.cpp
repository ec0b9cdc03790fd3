// Toon pipelines on the device: their build and teardown, the atomic's instanced form, read-back and the toon render callback.
#include <windows.h>
#include <d3d9.h>

#include <cstring>
#include <functional>

#include "d3d9device.h"
#include "d3d9instance.h"
#include "d3d9renderstate.h"
#include "d3d9state.h"
#include "d3d9toon.h"
#include "d3d9toonshaders.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/memory.h"
#include "gfx/core/pipeline.h"
#include "gfx/plugins/toon/toon.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/mesh.h"

RwToonDevice rwToonDevice = {};

namespace {

enum : RwUInt32 {
    MEMHINT_READBACK = 0x4012E,
    INSTANCESTRIDE = 32,            // position, normal, one texture-coordinate pair
};

const D3DVERTEXELEMENT9 instanceElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

void *instanceDeclaration = nullptr;

void ReleaseInstance(RwResourceEntry *entry)
{
    RwD3D9InstanceHeader *header = static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(entry));
    if (header->vertexStream[0].vertexBuffer) {
        static_cast<IDirect3DVertexBuffer9 *>(header->vertexStream[0].vertexBuffer)->Release();
    }
    if (header->indexBuffer) {
        static_cast<IDirect3DIndexBuffer9 *>(header->indexBuffer)->Release();
    }
}

RwBool FillVertices(const RwGeometry *g, IDirect3DVertexBuffer9 *vb)
{
    RwReal *out = nullptr;
    if (FAILED(vb->Lock(0, 0, reinterpret_cast<void **>(&out), 0))) {
        return FALSE;
    }
    const RwMorphTarget *mt = RwGeometryGetMorphTarget(g, 0);
    for (RwInt32 v = 0; v < g->numVertices; ++v, out += 8) {
        const RwV3d zero = {0.0f, 0.0f, 0.0f};
        const RwV3d &p = mt->verts ? mt->verts[v] : zero;
        const RwV3d &n = mt->normals ? mt->normals[v] : zero;
        const RwTexCoords uv = g->texCoords[0] ? g->texCoords[0][v] : RwTexCoords{0.0f, 0.0f};
        const RwReal vertex[8] = {p.x, p.y, p.z, n.x, n.y, n.z, uv.u, uv.v};
        std::memcpy(out, vertex, sizeof vertex);
    }
    vb->Unlock();
    return TRUE;
}

// One vertex stream and one index buffer of the mesh header's indices, mesh after mesh.
RwD3D9InstanceHeader *Instance(RwGeometry *g)
{
    RwMeshHeader *mesh = g->mesh;
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    if (!mesh || !device || g->numVertices <= 0 || mesh->totalIndicesInMesh == 0) {
        return nullptr;
    }
    const RwInt32 size = static_cast<RwInt32>(sizeof(RwD3D9InstanceHeader) + mesh->numMeshes * sizeof(RwD3D9InstanceMesh));
    RwResourceEntry *entry = RwResourcesAllocateEntry(g, &g->repEntry, size, ReleaseInstance);
    if (!entry) {
        return nullptr;
    }
    RwD3D9InstanceHeader *header = static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(entry));
    std::memset(header, 0, static_cast<size_t>(size));
    IDirect3DVertexBuffer9 *vb = nullptr;
    RwUInt16 *indices = nullptr;
    if (FAILED(device->CreateVertexBuffer(g->numVertices * INSTANCESTRIDE, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED,
                                          &vb, nullptr))) {
        RwResourcesFreeEntry(entry);
        return nullptr;
    }
    header->vertexStream[0] = {vb, 0, INSTANCESTRIDE, static_cast<RwUInt16>(g->flags), 1, 0};
    if (!FillVertices(g, vb) || !RwD3D9CreateIndexBuffer(mesh->totalIndicesInMesh, &header->indexBuffer) ||
        FAILED(static_cast<IDirect3DIndexBuffer9 *>(header->indexBuffer)
                   ->Lock(0, 0, reinterpret_cast<void **>(&indices), 0))) {
        RwResourcesFreeEntry(entry);
        return nullptr;
    }
    const RwBool strip = (mesh->flags & rwMESHHEADERTRISTRIP) != 0;
    header->primType = strip ? D3DPT_TRIANGLESTRIP : D3DPT_TRIANGLELIST;
    header->numMeshes = mesh->numMeshes;
    header->vertexDeclaration = instanceDeclaration;
    header->totalNumVertex = static_cast<RwUInt32>(g->numVertices);
    header->totalNumIndex = mesh->totalIndicesInMesh;
    RwD3D9InstanceMesh *out = reinterpret_cast<RwD3D9InstanceMesh *>(header + 1);
    const RwMesh *meshes = RwMeshHeaderGetMeshes(mesh);
    RwUInt32 start = 0;
    for (RwUInt32 i = 0; i < mesh->numMeshes; ++i) {
        const RwUInt32 n = meshes[i].numIndices;
        std::memcpy(indices + start, meshes[i].indices, n * sizeof(RwUInt16));
        out[i] = {n, 0, meshes[i].material, FALSE, nullptr, 0, static_cast<RwUInt32>(g->numVertices), start,
                  strip ? (n > 2 ? n - 2 : 0) : n / 3};
        start += n;
    }
    static_cast<IDirect3DIndexBuffer9 *>(header->indexBuffer)->Unlock();
    return header;
}

// The toon atomic pipeline's node: instance when needed, place the atomic, paint it.
RwBool AtomicBody(RxPipelineNode *, const RxPipelineNodeParam *params)
{
    RwAtomic *atomic = static_cast<RwAtomic *>(params->dataParam);
    RwD3D9InstanceHeader *header = RwToonAtomicInstance(atomic);
    if (!header) {
        return TRUE;
    }
    RwD3D9SetTransformWorld(RwFrameGetWorldMatrix(RwAtomicGetFrame(atomic)));
    RwD3D9SetRenderState(D3DRS_LIGHTING, FALSE);
    RwToonPaintRenderCallBack(header, atomic, rpATOMIC, atomic->geometry->flags);
    return TRUE;
}

// Sectors are drawn by the world's own pipeline until the driver's sector instancing exists.
RwBool SectorBody(RxPipelineNode *, const RxPipelineNodeParam *) { return TRUE; }

RxPipelineNodeDefinition Node(const RwChar *name, RxNodeBodyFn body)
{
    RxPipelineNodeDefinition definition = {};
    definition.name = name;
    definition.body = body;
    return definition;
}

RxPipelineNodeDefinition atomicNode = Node("ToonAtomic", AtomicBody);
RxPipelineNodeDefinition sectorNode = Node("ToonWorldSector", SectorBody);

RxPipeline *OneNodePipeline(RxPipelineNodeDefinition *definition)
{
    RxPipeline *pipeline = RwPipelineCreate();
    if (!pipeline) {
        return nullptr;
    }
    pipeline->pluginId = rwID_TOONPLUGIN;
    if (!RwPipelineLock(pipeline) || !RwPipelineAddFragment(pipeline, nullptr, definition, nullptr) ||
        !RwPipelineUnlock(pipeline)) {
        RwPipelineDestroy(pipeline);
        return nullptr;
    }
    return pipeline;
}

RwBool ShaderVersions(RwUInt32 vs, RwUInt32 ps)
{
    const D3DCAPS9 *caps = RwD3D9GetCaps();
    return caps && caps->VertexShaderVersion >= vs && caps->PixelShaderVersion >= ps;
}

} // namespace

RwD3D9InstanceHeader *RwToonAtomicInstance(RwAtomic *atomic)
{
    RwGeometry *g = atomic ? atomic->geometry : nullptr;
    if (!g) {
        return nullptr;
    }
    if (g->repEntry && g->lockedSinceLastInst) {
        RwResourcesFreeEntry(g->repEntry);
    }
    RwD3D9InstanceHeader *header = g->repEntry ? static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(g->repEntry))
                                               : Instance(g);
    if (header) {
        g->lockedSinceLastInst = 0;
        RwResourcesUseResEntry(g->repEntry);
    }
    return header;
}

RwBool RwToonPipelinesCreate(void)
{
    rwToonDevice = {};
    rwToonDevice.multiTexture = TRUE;
    if (!rwD3D9Driver.device) {
        return TRUE;
    }
    rwToonPipelines.atomic = OneNodePipeline(&atomicNode);
    rwToonPipelines.sector = OneNodePipeline(&sectorNode);
    if (!rwToonPipelines.atomic || !RwD3D9CreateVertexDeclaration(instanceElements, &instanceDeclaration)) {
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
    if (instanceDeclaration) {
        RwD3D9DeleteVertexDeclaration(instanceDeclaration);
        instanceDeclaration = nullptr;
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
        if (elements[i].Stream != 0 || elements[i].Type != D3DDECLTYPE_FLOAT3) {
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
    if (!position || FAILED(vb->Lock(stream.offset, header->totalNumVertex * stream.stride,
                                     reinterpret_cast<void **>(const_cast<RwUInt8 **>(&data)), D3DLOCK_NOSYSLOCK))) {
        return nullptr;
    }
    // Never more than the buffers hold: positions to the read-back size, normals to the toon data's V.
    const RwUInt32 positions = header->totalNumVertex < static_cast<RwUInt32>(rwTOONMAXVERTICES) ? header->totalNumVertex : static_cast<RwUInt32>(rwTOONMAXVERTICES);
    const RwUInt32 normals = header->totalNumVertex < static_cast<RwUInt32>(toon->numVertices)
                                 ? header->totalNumVertex
                                 : static_cast<RwUInt32>(toon->numVertices);
    for (RwUInt32 v = 0; v < positions; ++v) {
        std::memcpy(&rwToonDevice.readBack[v], data + v * stream.stride + position->Offset, sizeof(RwV3d));
    }
    for (RwUInt32 v = 0; normal && v < normals; ++v) {
        std::memcpy(&toon->vertexNormals[v], data + v * stream.stride + normal->Offset, sizeof(RwV3d));
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
    if (g->numMorphTargets >= 2 || toon->skinned) {
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
