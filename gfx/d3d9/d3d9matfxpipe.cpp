// Material effects on the device: capabilities, shaders, the two pipelines and the instancing of their objects.
#include <cstring>
#include <initializer_list>

#include "d3d9device.h"
#include "d3d9decltype.h"
#include "d3d9lights.h"
#include "d3d9matfx.h"
#include "d3d9raster.h"
#include "d3d9renderstate.h"
#include "d3d9state.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/memory.h"
#include "gfx/core/pipeline.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"

RwMatFxDeviceGlobals rwMatFxDevice;

namespace {

// The vertices and meshes of an atomic's geometry or of a world sector.
struct InstanceSource {
    RwInt32 numVertices;
    const RwV3d *positions;
    const RwV3d *normals;
    const RwUInt8 *packedNormals;
    const RwRGBA *prelit;
    const RwTexCoords *texCoords[2];
    RwInt32 numTexCoordSets;
    RwMeshHeader *meshes;
};

// The instance entry: the driver's header, its meshes, and the buffers we own.
struct InstanceExtra {
    IDirect3DVertexBuffer9 *vertexBuffer;
    IDirect3DIndexBuffer9 *indexBuffer;
    void *declaration;
};

InstanceExtra *Extra(RwD3D9InstanceHeader *header)
{
    return reinterpret_cast<InstanceExtra *>(reinterpret_cast<RwD3D9InstanceMesh *>(header + 1) + header->numMeshes);
}

void DestroyInstance(RwResourceEntry *entry)
{
    RwD3D9InstanceHeader *header = static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(entry));
    InstanceExtra *extra = Extra(header);
    if (rwD3D9Cache.lastIndexBuffer == extra->indexBuffer) {
        rwD3D9Cache.lastIndexBuffer = rwD3D9UNKNOWN;
    }
    if (rwD3D9Cache.streams[0].vertexBuffer == extra->vertexBuffer) {
        rwD3D9Cache.streams[0].vertexBuffer = rwD3D9UNKNOWN;
    }
    if (extra->vertexBuffer) {
        extra->vertexBuffer->Release();
    }
    if (extra->indexBuffer) {
        extra->indexBuffer->Release();
    }
    if (extra->declaration) {
        RwD3D9DeleteVertexDeclaration(extra->declaration);
    }
}

bool NeedsTangents(const RwMeshHeader *meshes)
{
    if (!rwMatFxDevice.shaders[0]) {
        return false;
    }
    const RwMesh *mesh = RwMeshHeaderGetMeshes(const_cast<RwMeshHeader *>(meshes));
    for (RwUInt32 i = 0; i < meshes->numMeshes; ++i) {
        const RwInt32 type = RwMatFxMaterialGetEffectType(mesh[i].material);
        if (type == rwMATFXEFFECTBUMPMAP || type == rwMATFXEFFECTBUMPENVMAP) {
            return true;
        }
    }
    return false;
}

void AddElement(D3DVERTEXELEMENT9 *elements, RwUInt32 *n, RwUInt32 *offset, BYTE type, BYTE usage, BYTE index,
                RwUInt32 size)
{
    elements[(*n)++] = {0, static_cast<WORD>(*offset), type, D3DDECLMETHOD_DEFAULT, usage, index};
    *offset += size;
}

// Vertex stream 0 with the source's arrays; the declaration's elements are
// returned with their offsets.
bool FillVertices(const InstanceSource &src, bool tangents, D3DPRIMITIVETYPE primType, RwD3D9InstanceHeader *header,
                  InstanceExtra *extra)
{
    D3DVERTEXELEMENT9 elements[8];
    RwUInt32 n = 0, stride = 0, normalAt = 0, colourAt = 0, uvAt[2] = {0, 0}, tangentAt = 0;
    AddElement(elements, &n, &stride, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0, 12);
    const bool normals = src.normals || src.packedNormals;
    if (normals) {
        normalAt = stride;
        AddElement(elements, &n, &stride, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0, 12);
    }
    if (src.prelit) {
        colourAt = stride;
        AddElement(elements, &n, &stride, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0, 4);
    }
    for (RwInt32 set = 0; set < src.numTexCoordSets; ++set) {
        uvAt[set] = stride;
        AddElement(elements, &n, &stride, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(set), 8);
    }
    tangents = tangents && normals && src.numTexCoordSets > 0;
    if (tangents) {
        tangentAt = stride;
        AddElement(elements, &n, &stride, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TANGENT, 0, 12);
    }
    elements[n++] = D3DDECL_END();
    if (!RwD3D9CreateVertexDeclaration(elements, &extra->declaration)) {
        return false;
    }
    const RwUInt32 count = static_cast<RwUInt32>(src.numVertices);
    // Readable (no write-only use): the bump renderer reads the vertices back.
    if (FAILED(rwD3D9Driver.device->CreateVertexBuffer(count * stride, 0, 0, D3DPOOL_MANAGED, &extra->vertexBuffer,
                                                       nullptr))) {
        extra->vertexBuffer = nullptr;
        return false;
    }
    void *data = nullptr;
    if (FAILED(extra->vertexBuffer->Lock(0, 0, &data, 0))) {
        return false;
    }
    RwUInt8 *v = static_cast<RwUInt8 *>(data);
    RwD3D9DeclTypeWriteV3d(D3DDECLTYPE_FLOAT3, v, src.positions, count, stride);
    if (src.normals) {
        RwD3D9DeclTypeWriteV3d(D3DDECLTYPE_FLOAT3, v + normalAt, src.normals, count, stride);
    } else if (src.packedNormals) {
        RwD3D9DeclTypeWritePackedNormals(D3DDECLTYPE_FLOAT3, v + normalAt, src.packedNormals, count, stride);
    }
    if (src.prelit) {
        RwD3D9DeclTypeWriteColors(v + colourAt, src.prelit, count, stride);
    }
    for (RwInt32 set = 0; set < src.numTexCoordSets; ++set) {
        RwD3D9DeclTypeWriteTexCoords(D3DDECLTYPE_FLOAT2, v + uvAt[set], &src.texCoords[set]->u, count, stride);
    }
    if (tangents) {
        RwD3D9TangentMesh tangentMeshes[64];
        RwUInt32 numTangentMeshes = 0;
        RwMesh *mesh = RwMeshHeaderGetMeshes(src.meshes);
        for (RwUInt32 i = 0; i < src.meshes->numMeshes && numTangentMeshes < 64; ++i) {
            tangentMeshes[numTangentMeshes++] = {mesh[i].indices, mesh[i].numIndices, 0};
        }
        RwD3D9DeclTypeWriteTangents(D3DDECLTYPE_FLOAT3, v + tangentAt, src.positions, src.normals, src.packedNormals,
                                    &src.texCoords[0]->u, count, primType, tangentMeshes, numTangentMeshes, stride);
    }
    extra->vertexBuffer->Unlock();
    header->vertexStream[0] = {extra->vertexBuffer, 0, stride, 0, 1, 0};
    header->vertexDeclaration = extra->declaration;
    return true;
}

bool FillMeshes(const InstanceSource &src, RwD3D9InstanceHeader *header, InstanceExtra *extra)
{
    RwMesh *mesh = RwMeshHeaderGetMeshes(src.meshes);
    RwD3D9InstanceMesh *out = reinterpret_cast<RwD3D9InstanceMesh *>(header + 1);
    const RwUInt32 total = src.meshes->totalIndicesInMesh;
    void *buffer = nullptr;
    if (total == 0 || !RwD3D9CreateIndexBuffer(total, &buffer)) {
        return false;
    }
    extra->indexBuffer = static_cast<IDirect3DIndexBuffer9 *>(buffer);
    void *data = nullptr;
    if (FAILED(extra->indexBuffer->Lock(0, 0, &data, 0))) {
        return false;
    }
    RwUInt16 *indices = static_cast<RwUInt16 *>(data);
    RwUInt32 start = 0;
    const bool strip = (src.meshes->flags & rwMESHHEADERTRISTRIP) != 0;
    for (RwUInt32 i = 0; i < src.meshes->numMeshes; ++i) {
        const RwUInt32 count = start + mesh[i].numIndices <= total ? mesh[i].numIndices : 0;
        RwUInt32 low = 0xFFFF, high = 0;
        RwBool alpha = FALSE;
        for (RwUInt32 k = 0; k < count; ++k) {
            const RwUInt16 index = static_cast<RwUInt16>(
                mesh[i].indices[k] < src.numVertices ? mesh[i].indices[k] : 0);
            indices[start + k] = index;
            low = index < low ? index : low;
            high = index > high ? index : high;
            if (src.prelit && src.prelit[index].alpha != 255) {
                alpha = TRUE;
            }
        }
        const RwUInt32 primitives = strip ? (count >= 3 ? count - 2 : 0) : count / 3;
        out[i] = {count, count ? low : 0, mesh[i].material, alpha, nullptr, 0, count ? high - low + 1 : 0, start,
                  primitives};
        start += count;
    }
    extra->indexBuffer->Unlock();
    header->indexBuffer = extra->indexBuffer;
    header->primType = strip ? D3DPT_TRIANGLESTRIP : D3DPT_TRIANGLELIST;
    header->totalNumIndex = start;
    return true;
}

// A new instance entry for the source, or NULL.
RwResourceEntry *Instance(void *owner, RwResourceEntry **ref, const InstanceSource &src, bool tangents)
{
    if (!src.meshes || src.numVertices <= 0 || !src.positions) {
        return nullptr;
    }
    const RwInt32 size = static_cast<RwInt32>(sizeof(RwD3D9InstanceHeader) +
                                              src.meshes->numMeshes * sizeof(RwD3D9InstanceMesh) +
                                              sizeof(InstanceExtra));
    RwResourceEntry *entry = RwResourcesAllocateEntry(owner, ref, size, DestroyInstance);
    if (!entry) {
        return nullptr;
    }
    RwD3D9InstanceHeader *header = static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(entry));
    std::memset(header, 0, static_cast<size_t>(size));
    header->numMeshes = src.meshes->numMeshes;
    header->serialNumber = src.meshes->serialNum;
    header->totalNumVertex = static_cast<RwUInt32>(src.numVertices);
    InstanceExtra *extra = Extra(header);
    const D3DPRIMITIVETYPE primType =
        (src.meshes->flags & rwMESHHEADERTRISTRIP) ? D3DPT_TRIANGLESTRIP : D3DPT_TRIANGLELIST;
    if (!FillMeshes(src, header, extra) || !FillVertices(src, tangents, primType, header, extra)) {
        RwResourcesFreeEntry(entry);
        return nullptr;
    }
    return entry;
}

InstanceSource GeometrySource(const RwGeometry *g)
{
    InstanceSource src = {};
    src.numVertices = g->numVertices;
    if (g->numMorphTargets > 0) {
        src.positions = g->morphTarget[0].verts;
        src.normals = g->morphTarget[0].normals;
    }
    src.prelit = g->preLitLum;
    src.numTexCoordSets = g->numTexCoordSets > 2 ? 2 : g->numTexCoordSets;
    for (RwInt32 i = 0; i < src.numTexCoordSets; ++i) {
        src.texCoords[i] = g->texCoords[i];
    }
    src.meshes = g->mesh;
    return src;
}

InstanceSource SectorSource(const RwWorldSector *s)
{
    InstanceSource src = {};
    src.numVertices = s->numVertices;
    src.positions = s->vertices;
    src.packedNormals = reinterpret_cast<const RwUInt8 *>(s->normals);
    src.prelit = s->preLitLum;
    src.numTexCoordSets = s->texCoords[0] ? (s->texCoords[1] ? 2 : 1) : 0;
    src.texCoords[0] = s->texCoords[0];
    src.texCoords[1] = s->texCoords[1];
    src.meshes = s->mesh;
    return src;
}

const RwMatrix *IdentityMatrix(void)
{
    static RwMatrix identity = {{1, 0, 0}, rwMATRIXIDENTITYFLAGS, {0, 1, 0}, 0, {0, 0, 1}, 0, {0, 0, 0}, 0};
    return &identity;
}

RwBool AtomicBody(RxPipelineNode *, const RxPipelineNodeParam *params)
{
    RwAtomic *atomic = static_cast<RwAtomic *>(params->dataParam);
    RwGeometry *g = atomic->geometry;
    if (!g || !g->mesh) {
        return TRUE;
    }
    const RwBool reinstance = g->repEntry && g->lockedSinceLastInst;
    if (!g->repEntry || reinstance) {
        RwD3D9InstanceHeader unused = {};
        if (!RwMatFxAtomicInstanceCallback(atomic, &unused, reinstance)) {
            return FALSE;
        }
    }
    RwResourcesUseResEntry(g->repEntry);
    RwFrame *frame = RwAtomicGetFrame(atomic);
    RwD3D9SetTransformWorld(frame ? RwFrameGetWorldMatrix(frame) : IdentityMatrix());
    RwD3D9AtomicLightingCallback(atomic);
    RwMatFxSetDrawnMeshes(g->mesh);
    RwMatFxRenderCallback(static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(g->repEntry)), atomic, rpATOMIC,
                          g->flags);
    RwMatFxSetDrawnMeshes(nullptr);
    return TRUE;
}

RwBool SectorBody(RxPipelineNode *, const RxPipelineNodeParam *params)
{
    RwWorldSector *sector = static_cast<RwWorldSector *>(params->dataParam);
    if (!sector->mesh) {
        return TRUE;
    }
    if (!sector->repEntry) {
        RwD3D9InstanceHeader unused = {};
        if (!RwMatFxWorldSectorInstanceCallback(sector, &unused, FALSE)) {
            return FALSE;
        }
    }
    RwResourcesUseResEntry(sector->repEntry);
    RwD3D9SetTransformWorld(IdentityMatrix());
    const RwWorld *world = static_cast<const RwWorld *>(RwEngineInstance->curWorld);
    const RwUInt32 flags = world ? world->flags : 0;
    RwD3D9WorldSectorLightingCallback(sector);
    RwMatFxSetDrawnMeshes(sector->mesh);
    RwMatFxRenderCallback(static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(sector->repEntry)), sector, 0,
                          flags);
    RwMatFxSetDrawnMeshes(nullptr);
    return TRUE;
}

RxPipelineNodeDefinition atomicNode = {"nodeMatFxAtomicAllInOne.csl", AtomicBody};
RxPipelineNodeDefinition sectorNode = {"nodeMatFxWorldSectorAllInOne.csl", SectorBody};

RxPipeline *MakePipeline(RxPipelineNodeDefinition *definition)
{
    RxPipeline *pipeline = RwPipelineCreate();
    if (!pipeline) {
        return nullptr;
    }
    pipeline->pluginId = rwID_MATERIALEFFECTSPLUGIN;
    if (!RwPipelineLock(pipeline) || !RwPipelineAddFragment(pipeline, nullptr, definition, nullptr) ||
        !RwPipelineUnlock(pipeline)) {
        RwPipelineDestroy(pipeline);
        return nullptr;
    }
    return pipeline;
}

}  // namespace

// The driver's all-in-one instancing is not there yet: these make the
// instance themselves, with the tangent stream when a bump map can use it.
RwBool RwMatFxAtomicInstanceCallback(void *object, RwD3D9InstanceHeader *, RwBool reinstance)
{
    RwAtomic *atomic = static_cast<RwAtomic *>(object);
    RwGeometry *g = atomic->geometry;
    if (reinstance && g->repEntry) {
        RwResourcesFreeEntry(g->repEntry);
        g->repEntry = nullptr;
    }
    g->lockedSinceLastInst = 0;
    return Instance(g, &g->repEntry, GeometrySource(g), NeedsTangents(g->mesh)) != nullptr;
}

RwBool RwMatFxWorldSectorInstanceCallback(void *object, RwD3D9InstanceHeader *, RwBool)
{
    RwWorldSector *sector = static_cast<RwWorldSector *>(object);
    return Instance(sector, &sector->repEntry, SectorSource(sector), NeedsTangents(sector->mesh)) != nullptr;
}

void RwMatFxDeviceOpen(void)
{
    std::memset(&rwMatFxDevice, 0, sizeof rwMatFxDevice);
    rwMatFxDevice.texMatrix._33 = 1.0f;
    const D3DCAPS9 *caps = RwD3D9GetCaps();
    if (!caps || !rwD3D9Driver.device) {
        return;
    }
    rwMatFxDevice.twoTextures = caps->MaxSimultaneousTextures >= 2;
    rwMatFxDevice.multiplyAdd = (caps->TextureOpCaps & D3DTEXOPCAPS_MULTIPLYADD) != 0;
    rwMatFxDevice.modulate2x = (caps->TextureOpCaps & D3DTEXOPCAPS_MODULATE2X) != 0;
    rwMatFxDevice.blendStages = caps->MaxTextureBlendStages;
    rwMatFxDevice.pixelShaders = caps->PixelShaderVersion >= D3DPS_VERSION(1, 1);
    rwMatFxDevice.validateDual = TRUE;
    rwMatFxDevice.validateEnvAdd = TRUE;
    if (rwMatFxDevice.blendStages < 2) {
        rwMatFxDevice.twoTextures = rwMatFxDevice.multiplyAdd = rwMatFxDevice.modulate2x = FALSE;
        rwMatFxDevice.validateDual = rwMatFxDevice.validateEnvAdd = FALSE;
    }
    if (rwMatFxDevice.pixelShaders) {
        for (RwInt32 i = 0; i < rwMATFXNUMSHADERS; ++i) {
            if (!RwD3D9CreatePixelShader(reinterpret_cast<const RwUInt32 *>(rwMatFxShaderTokens[i]),
                                         &rwMatFxDevice.shaders[i])) {
                rwMatFxDevice.shaders[i] = nullptr;
            }
        }
    }
}

void RwMatFxDeviceClose(void)
{
    for (void *&shader : rwMatFxDevice.shaders) {
        if (shader) {
            if (rwD3D9Cache.lastPixelShader == shader) {
                RwD3D9SetPixelShader(nullptr);
            }
            RwD3D9DeleteShader(shader);
            shader = nullptr;
        }
    }
}

RwBool RwMatFxPipelinesCreate(void)
{
    rwMatFxPipelines.atomic = MakePipeline(&atomicNode);
    rwMatFxPipelines.worldSector = MakePipeline(&sectorNode);
    if (!rwMatFxPipelines.atomic || !rwMatFxPipelines.worldSector) {
        RwMatFxPipelinesDestroy();
        return FALSE;
    }
    RwMatFxDeviceOpen();
    return TRUE;
}

void RwMatFxPipelinesDestroy(void)
{
    for (RxPipeline **p : {&rwMatFxPipelines.atomic, &rwMatFxPipelines.worldSector}) {
        if (*p) {
            RwPipelineDestroy(*p);
            *p = nullptr;
        }
    }
    RwMatFxDeviceClose();
}

RwBool RwMatFxRasterIsCompressed(const RwRaster *raster)
{
    return RwD3D9RasterIsCompressed(raster);
}
