// The all-in-one nodes of the default world pipelines: node bodies, the instance builder and the instance destroy.
#include "d3d9allinone.h"

#include <cstring>

#include "d3d9device.h"
#include "d3d9lights.h"
#include "d3d9renderstate.h"
#include "d3d9trisort.h"
#include "d3d9vertexbuffer.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/pipeline.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"
#include "gfx/world/worldpipe.h"

enum : RwUInt32 {
    rwMESHHEADERUNINDEXED = 0x100,
    rwD3D9INSTANCEHINT = 0x3050D,
};

static RwD3D9AllInOneNodeCallbacks *Callbacks(RxPipelineNode *node)
{
    return static_cast<RwD3D9AllInOneNodeCallbacks *>(node->privateData);
}

static RwD3D9InstanceHeader *HeaderOf(RwResourceEntry *entry)
{
    return static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(entry));
}

// ---------------------------------------------------------------------------
// Instance builder

static D3DPRIMITIVETYPE PrimitiveTypeOf(RwUInt32 meshFlags)
{
    switch (RwMeshTypeGetPrimitive(meshFlags & 0xFF)) {
    case rwPRIMTYPELINELIST: return D3DPT_LINELIST;
    case rwPRIMTYPEPOLYLINE: return D3DPT_LINESTRIP;
    case rwPRIMTYPETRISTRIP: return D3DPT_TRIANGLESTRIP;
    case rwPRIMTYPETRIFAN: return D3DPT_TRIANGLEFAN;
    case rwPRIMTYPEPOINTLIST: return D3DPT_POINTLIST;
    default: return D3DPT_TRIANGLELIST;
    }
}

RwUInt32 RwD3D9PrimitiveCountOf(D3DPRIMITIVETYPE type, RwUInt32 n)
{
    switch (type) {
    case D3DPT_LINELIST: return n / 2;
    case D3DPT_LINESTRIP: return n > 0 ? n - 1 : 0;
    case D3DPT_TRIANGLELIST: return n / 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return n > 2 ? n - 2 : 0;
    default: return 0;
    }
}

static void ObjectCounts(void *object, RwUInt8 type, RwUInt32 *numVertices, RwUInt32 *numTriangles)
{
    if (type == rwD3D9OBJECTSECTOR) {
        const RwWorldSector *sector = static_cast<RwWorldSector *>(object);
        *numVertices = sector->numVertices;
        *numTriangles = sector->numPolygons;
    } else {
        const RwGeometry *geometry = static_cast<RwAtomic *>(object)->geometry;
        *numVertices = static_cast<RwUInt32>(geometry->numVertices);
        *numTriangles = static_cast<RwUInt32>(geometry->numTriangles);
    }
}

// The device indices of every mesh, built on the processor (the index buffer
// is write-only), with each mesh's record filled in. FALSE when a mesh names
// vertices the object does not have or memory ran out.
static RwBool BuildIndices(RwD3D9InstanceHeader *header, RwMeshHeader *meshHeader, RwUInt32 numVertices,
                           RwUInt32 numTriangles, RwUInt16 **indicesOut)
{
    RwMesh *meshes = RwMeshHeaderGetMeshes(meshHeader);
    RwD3D9InstanceMesh *out = reinterpret_cast<RwD3D9InstanceMesh *>(header + 1);
    const bool indexed = !(meshHeader->flags & rwMESHHEADERUNINDEXED);
    RwUInt32 total = 0;
    for (RwUInt32 i = 0; i < header->numMeshes; i++) {
        total += meshes[i].numIndices;
    }
    bool convert = false;
    if (indexed && header->primType == D3DPT_TRIANGLESTRIP && 3 * numTriangles < total) {
        convert = true;
        header->primType = D3DPT_TRIANGLELIST;
        total = 0;
        for (RwUInt32 i = 0; i < header->numMeshes; i++) {
            total += meshes[i].numIndices > 2 ? 3 * (meshes[i].numIndices - 2) : 0;
        }
    }
    RwUInt16 *indices = nullptr;
    if (indexed && total > 0) {
        indices = static_cast<RwUInt16 *>(RwMalloc(total * sizeof(RwUInt16), rwD3D9INSTANCEHINT));
        if (!indices) {
            return FALSE;
        }
    }
    RwUInt32 written = 0;
    RwUInt32 running = 0;
    for (RwUInt32 i = 0; i < header->numMeshes; i++) {
        const RwMesh &mesh = meshes[i];
        RwD3D9InstanceMesh &m = out[i];
        m.material = mesh.material;
        m.numIndices = mesh.numIndices;
        if (indexed) {
            RwD3D9GetIndexRange(mesh.indices, mesh.numIndices, &m.numVertices, &m.minVertexIndex);
        } else {
            m.numVertices = mesh.numIndices;
            m.minVertexIndex = running;
            running += mesh.numIndices;
        }
        // Vertex data is read over this range: it must lie inside the object.
        if (m.minVertexIndex + m.numVertices > numVertices) {
            RwFree(indices);
            return FALSE;
        }
        if (indices) {
            RwUInt16 *dest = indices + written;
            m.startIndex = written;
            if (convert) {
                m.numIndices = mesh.numIndices > 2
                                   ? RwD3D9ConvertStripToList(dest, mesh.indices, mesh.numIndices, m.minVertexIndex)
                                   : 0;
            } else {
                for (RwUInt32 k = 0; k < mesh.numIndices; k++) {
                    dest[k] = static_cast<RwUInt16>(mesh.indices[k] - m.minVertexIndex);
                }
            }
            if (header->primType == D3DPT_TRIANGLELIST) {
                RwD3D9SortTriangles(dest, m.numIndices);
            }
            written += m.numIndices;
        } else {
            m.startIndex = 0;
            m.numIndices = 0;
        }
        m.numPrimitives = RwD3D9PrimitiveCountOf(header->primType, indices ? m.numIndices : mesh.numIndices);
    }
    header->totalNumIndex = written;
    *indicesOut = indices;
    return TRUE;
}

static RwBool FillIndexBuffer(RwD3D9InstanceHeader *header, const RwUInt16 *indices)
{
    if (!indices || header->totalNumIndex == 0) {
        return TRUE;
    }
    if (!RwD3D9CreateIndexBuffer(header->totalNumIndex, &header->indexBuffer)) {
        header->indexBuffer = nullptr;
        return FALSE;
    }
    IDirect3DIndexBuffer9 *buffer = static_cast<IDirect3DIndexBuffer9 *>(header->indexBuffer);
    void *data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, 0))) {
        return FALSE;
    }
    std::memcpy(data, indices, header->totalNumIndex * sizeof(RwUInt16));
    buffer->Unlock();
    return TRUE;
}

RwBool RwD3D9InstanceIndices(RwD3D9InstanceHeader *header, RwMeshHeader *meshHeader, RwUInt32 numVertices,
                              RwUInt32 numTriangles)
{
    header->primType = PrimitiveTypeOf(meshHeader->flags);
    RwUInt16 *indices = nullptr;
    const RwBool ok = BuildIndices(header, meshHeader, numVertices, numTriangles, &indices) &&
                      FillIndexBuffer(header, indices);
    RwFree(indices);
    return ok;
}

// ---------------------------------------------------------------------------
// Fill marks
//
// The lock flags and the device-restore marks are kept per geometry, and the
// first atomic drawn clears them; an atomic that owns its own instance (its
// geometry morphs) would keep stale or, after a reset, empty streams. Such an
// instance ends in a fill mark: the fill count when it was last brought up to
// date. A reset, and any atomic taking in the lock flags of a geometry that
// others may share, move the count on, and every instance whose mark is behind
// is written again whole at its next render.

static RwUInt32 instanceFillCount = 1;

static RwUInt32 InstanceSize(RwUInt32 numMeshes)
{
    return sizeof(RwD3D9InstanceHeader) + sizeof(RwD3D9InstanceMesh) * numMeshes;
}

static RwUInt32 *FillMarkOf(RwResourceEntry *entry)
{
    RwD3D9InstanceHeader *header = HeaderOf(entry);
    const RwUInt32 size = InstanceSize(header->numMeshes);
    if (entry->destroyNotify != RwD3D9InstanceDataDestroy ||
        static_cast<RwUInt32>(entry->size) != size + sizeof(RwUInt32)) {
        return nullptr;
    }
    return reinterpret_cast<RwUInt32 *>(reinterpret_cast<RwUInt8 *>(header) + size);
}

RwBool RwD3D9InstanceFillIsCurrent(RwResourceEntry *entry)
{
    const RwUInt32 *mark = FillMarkOf(entry);
    return !mark || *mark == instanceFillCount;
}

void RwD3D9InstanceFillsInvalidate(void)
{
    if (++instanceFillCount == 0) {
        instanceFillCount = 1;   // 0 is the mark of an instance never filled
    }
}

void RwD3D9InstanceFillMarkCurrent(RwResourceEntry *entry, const RwGeometry *geometry)
{
    RwUInt32 *mark = FillMarkOf(entry);
    if (!mark) {
        return;
    }
    // Lock flags taken in here are cleared for the atomics that share the
    // geometry too: their instances must catch up.
    if (geometry->lockedSinceLastInst && geometry->refCount > 1) {
        RwD3D9InstanceFillsInvalidate();
    }
    *mark = instanceFillCount;
}

RwResourceEntry *RwD3D9InstanceBuild(void *object, void *owner, RwUInt8 type, RwResourceEntry **entryRef,
                                     RwMeshHeader *meshHeader, RwD3D9AllInOneInstanceCallBack instance,
                                     RwBool keepOutside)
{
    const bool ownedByAtomic = type == rwD3D9OBJECTATOMIC && owner == object;
    const RwInt32 size =
        static_cast<RwInt32>(InstanceSize(meshHeader->numMeshes) + (ownedByAtomic ? sizeof(RwUInt32) : 0));
    RwResourceEntry *entry = nullptr;
    if (keepOutside) {
        entry = static_cast<RwResourceEntry *>(RwMalloc(sizeof(RwResourceEntry) + size, rwD3D9INSTANCEHINT));
        if (entry) {
            std::memset(entry, 0, sizeof(RwResourceEntry));
            entry->size = size;
            entry->owner = owner;
            entry->ownerRef = entryRef;
            entry->destroyNotify = RwD3D9InstanceDataDestroy;
            *entryRef = entry;
        }
    } else {
        entry = RwResourcesAllocateEntry(owner, entryRef, size, RwD3D9InstanceDataDestroy);
    }
    if (!entry) {
        return nullptr;
    }
    RwD3D9InstanceHeader *header = HeaderOf(entry);
    std::memset(header, 0, size);
    header->serialNumber = meshHeader->serialNum;
    header->numMeshes = meshHeader->numMeshes;
    RwUInt32 numVertices = 0;
    RwUInt32 numTriangles = 0;
    ObjectCounts(object, type, &numVertices, &numTriangles);
    const RwBool ok = RwD3D9InstanceIndices(header, meshHeader, numVertices, numTriangles) && instance &&
                      instance(object, header, FALSE);
    if (!ok) {
        RwResourcesFreeEntry(entry);
        return nullptr;
    }
    return entry;
}

// ---------------------------------------------------------------------------
// Instance data release

// A dynamic stream keeps its record while a device reset has released its
// buffer; it is known by its stride then.
static bool HasDynamicBuffer(const RwD3D9VertexStream &stream)
{
    return !stream.managed && (stream.vertexBuffer || stream.stride);
}

void RwD3D9VertexStreamRelease(RwD3D9VertexStream *stream, RwUInt32 numVertices)
{
    if (stream->managed && stream->vertexBuffer) {
        RwD3D9DestroyVertexBuffer(stream->stride, stream->stride * numVertices, stream->vertexBuffer, stream->offset);
    } else if (HasDynamicBuffer(*stream) && stream->offset == 0 && !stream->dynamicLock) {
        // By the variable, not the buffer: the manager refills the variable
        // after a reset and must not once the stream is gone.
        RwD3D9DynamicVertexBufferDestroyOwned(&stream->vertexBuffer);
    }
    std::memset(stream, 0, sizeof *stream);
}

void RwD3D9InstanceDataDestroy(RwResourceEntry *entry)
{
    RwD3D9InstanceHeader *header = HeaderOf(entry);
    const RwUInt8 ownerType = entry->owner ? *static_cast<const RwUInt8 *>(entry->owner) : 0;
    // An atomic's own instance leaves its geometry listed: other atomics may
    // hold instances of the same morph targets that a reset must refill, and
    // the geometry leaves the list when it is destroyed.
    if (ownerType == rwGEOMETRY &&
        (HasDynamicBuffer(header->vertexStream[0]) || HasDynamicBuffer(header->vertexStream[1]))) {
        RwGeometryRemoveFromRestoreList(static_cast<RwGeometry *>(entry->owner));
    }
    if (header->indexBuffer) {
        static_cast<IDirect3DIndexBuffer9 *>(header->indexBuffer)->Release();
        header->indexBuffer = nullptr;
    }
    if (header->vertexDeclaration) {
        RwD3D9DeleteVertexDeclaration(header->vertexDeclaration);
        header->vertexDeclaration = nullptr;
    }
    for (RwD3D9VertexStream &stream : header->vertexStream) {
        RwD3D9VertexStreamRelease(&stream, header->totalNumVertex);
    }
}

// ---------------------------------------------------------------------------
// Node bodies

static RwBool SerialMatches(RwResourceEntry *entry, const RwMeshHeader *meshHeader)
{
    return HeaderOf(entry)->serialNumber == meshHeader->serialNum;
}

// The world being rendered holds the sector; finding it otherwise walks every world.
const RwWorld *RwD3D9SectorWorld(const RwWorldSector *sector)
{
    const RwWorld *world = static_cast<const RwWorld *>(RwEngineInstance->curWorld);
    return world ? world : RwWorldSectorGetWorld(sector);
}

static RwBool SectorBody(RxPipelineNode *self, const RxPipelineNodeParam *params)
{
    RwD3D9AllInOneNodeCallbacks *cb = Callbacks(self);
    RwWorldSector *sector = static_cast<RwWorldSector *>(params->dataParam);
    if (sector->numVertices == 0 || !sector->mesh || sector->mesh->numMeshes == 0) {
        return TRUE;
    }
    const RwWorld *world = RwD3D9SectorWorld(sector);
    const RwUInt32 flags = world ? world->flags : 0;
    RwResourceEntry *entry = sector->repEntry;
    if (!(flags & rwGEOMETRYNATIVE)) {
        if (entry && SerialMatches(entry, sector->mesh)) {
            RwResourcesUseResEntry(entry);
        } else {
            if (entry) {
                RwResourcesFreeEntry(entry);
            }
            entry = RwD3D9InstanceBuild(sector, sector, rwD3D9OBJECTSECTOR, &sector->repEntry, sector->mesh,
                                        cb->instance, (flags & rwGEOMETRYNATIVEINSTANCE) != 0);
            if (!entry) {
                return FALSE;
            }
        }
    }
    if (!entry || (flags & rwGEOMETRYNATIVEINSTANCE)) {
        return TRUE;
    }
    if (cb->lighting) {
        cb->lighting(sector);
    }
    RwD3D9SetTransformWorld(nullptr);
    RwD3D9SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
    if (cb->render) {
        cb->render(entry, sector, rwD3D9OBJECTSECTOR, flags);
    }
    return TRUE;
}

// A scaled matrix makes the device's normals the wrong length.
static RwBool NeedsNormalize(const RwMatrix *m)
{
    if (m->flags & (rwMATRIXINTERNALIDENTITY | 0x1)) {
        return FALSE;
    }
    const RwV3d *axes[3] = {&m->right, &m->up, &m->at};
    for (const RwV3d *a : axes) {
        const RwReal len = a->x * a->x + a->y * a->y + a->z * a->z;
        if (len < 0.9f || len > 1.1f) {
            return TRUE;
        }
    }
    return FALSE;
}

static RwBool AtomicBody(RxPipelineNode *self, const RxPipelineNodeParam *params)
{
    RwD3D9AllInOneNodeCallbacks *cb = Callbacks(self);
    RwAtomic *atomic = static_cast<RwAtomic *>(params->dataParam);
    RwGeometry *geometry = atomic->geometry;
    if (!geometry || geometry->numVertices == 0 || !geometry->mesh || geometry->mesh->numMeshes == 0) {
        return TRUE;
    }
    const RwUInt32 flags = geometry->flags;
    const bool shared = geometry->numMorphTargets == 1;
    RwResourceEntry **ref = shared ? &geometry->repEntry : &atomic->repEntry;
    RwResourceEntry *entry = geometry->repEntry;
    if (!(flags & rwGEOMETRYNATIVE)) {
        entry = *ref;
        if (entry && SerialMatches(entry, geometry->mesh)) {
            if (geometry->lockedSinceLastInst || !shared) {
                if (cb->reinstance && !cb->reinstance(atomic, entry, cb->instance)) {
                    RwResourcesFreeEntry(entry);
                    return FALSE;
                }
                RwD3D9InstanceFillMarkCurrent(entry, geometry);
                atomic->interpolator.flags &= ~static_cast<RwUInt32>(rwINTERPOLATORDIRTYINSTANCE);
                geometry->lockedSinceLastInst = 0;
            }
            RwResourcesUseResEntry(entry);
        } else {
            if (entry) {
                RwResourcesFreeEntry(entry);
            }
            entry = RwD3D9InstanceBuild(atomic, shared ? static_cast<void *>(geometry) : atomic, rwD3D9OBJECTATOMIC,
                                        ref, geometry->mesh, cb->instance, (flags & rwGEOMETRYNATIVEINSTANCE) != 0);
            if (!entry) {
                return FALSE;
            }
            RwD3D9InstanceFillMarkCurrent(entry, geometry);
            geometry->lockedSinceLastInst = 0;
        }
    } else if (entry && geometry->lockedSinceLastInst) {
        // Read already instanced: only what a reset emptied is written again.
        if (!RwD3D9NativeInstanceRefill(entry)) {
            return FALSE;
        }
        geometry->lockedSinceLastInst = 0;
    }
    if (!entry || (flags & rwGEOMETRYNATIVEINSTANCE)) {
        return TRUE;
    }
    if (cb->lighting) {
        cb->lighting(atomic);
    }
    RwFrame *frame = RwAtomicGetFrame(atomic);
    const RwMatrix *matrix = frame ? RwFrameGetWorldMatrix(frame) : nullptr;
    RwD3D9SetTransformWorld(matrix);
    RwUInt32 lighting = FALSE;
    RwD3D9GetRenderState(D3DRS_LIGHTING, &lighting);
    RwD3D9SetRenderState(D3DRS_NORMALIZENORMALS, lighting && matrix && NeedsNormalize(matrix));
    if (cb->render) {
        cb->render(entry, atomic, rwD3D9OBJECTATOMIC, flags);
    }
    return TRUE;
}

static RwBool SectorNodeInit(RxPipelineNode *self)
{
    *Callbacks(self) = {RwD3D9WorldSectorInstance, nullptr, RwD3D9WorldSectorLightingCallback,
                        RwD3D9DefaultRenderCallback};
    return TRUE;
}

static RwBool AtomicNodeInit(RxPipelineNode *self)
{
    *Callbacks(self) = {RwD3D9AtomicInstance, RwD3D9AtomicReinstance, RwD3D9AtomicLightingCallback,
                        RwD3D9DefaultRenderCallback};
    return TRUE;
}

static RxPipelineNodeDefinition NodeDefinition(const RwChar *name, RxNodeBodyFn body, RxPipelineNodeInitFn init)
{
    RxPipelineNodeDefinition definition = {};
    definition.name = name;
    definition.body = body;
    definition.pipelineNodeInit = init;
    definition.pipelineNodePrivateDataSize = sizeof(RwD3D9AllInOneNodeCallbacks);
    return definition;
}

RxPipelineNodeDefinition *RwD3D9WorldSectorAllInOneNodeGet(void)
{
    static RxPipelineNodeDefinition node =
        NodeDefinition("nodeD3D9WorldSectorAllInOne.csl", SectorBody, SectorNodeInit);
    return &node;
}

RxPipelineNodeDefinition *RwD3D9AtomicAllInOneNodeGet(void)
{
    static RxPipelineNodeDefinition node = NodeDefinition("nodeD3D9AtomicAllInOne.csl", AtomicBody, AtomicNodeInit);
    return &node;
}

RxPipeline *RwD3D9AllInOnePipelineCreate(RxPipelineNodeDefinition *definition, RwUInt32 pluginId,
                                         RxPipelineNode **node)
{
    RxPipeline *pipeline = RwPipelineCreate();
    if (!pipeline) {
        return nullptr;
    }
    pipeline->pluginId = pluginId;
    if (!RwPipelineLock(pipeline) || !RwPipelineAddFragment(pipeline, nullptr, definition, nullptr) ||
        !RwPipelineUnlock(pipeline) || !(*node = RwPipelineFindNamedNode(pipeline, definition->name, nullptr))) {
        RwPipelineDestroy(pipeline);
        return nullptr;
    }
    return pipeline;
}

void RwD3D9AllInOneNodeSetInstanceCallback(RxPipelineNode *node, RwD3D9AllInOneInstanceCallBack callback)
{
    Callbacks(node)->instance = callback;
}

RwD3D9AllInOneInstanceCallBack RwD3D9AllInOneNodeGetInstanceCallback(RxPipelineNode *node)
{
    return Callbacks(node)->instance;
}

void RwD3D9AllInOneNodeSetLightingCallback(RxPipelineNode *node, RwD3D9AllInOneLightingCallBack callback)
{
    Callbacks(node)->lighting = callback;
}

void RwD3D9AllInOneNodeSetRenderCallback(RxPipelineNode *node, RwD3D9AllInOneRenderCallBack callback)
{
    Callbacks(node)->render = callback;
}
