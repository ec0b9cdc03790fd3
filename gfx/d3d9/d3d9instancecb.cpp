// The vertex side of instancing: declarations and vertex data of world sectors and atomics.
#include <cstdlib>
#include <cstring>

#include "d3d9allinone.h"
#include "d3d9decltype.h"
#include "d3d9device.h"
#include "d3d9vertexbuffer.h"
#include "gfx/core/pipeline.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"
#include "gfx/world/worldpipe.h"

enum : RwUInt32 {
    rwD3D9MAXELEMENTS = 16,
    rwD3D9PIPELINESKINNEDPLUGIN = 0x12E,   // pipelines that take a single stream
};

// A declaration in the making and the streams it spreads over.
struct DeclBuild {
    D3DVERTEXELEMENT9 elements[rwD3D9MAXELEMENTS];
    RwUInt32 count;
    RwUInt32 stride[2];
    RwUInt16 lock[2];
};

static void AddElement(DeclBuild *d, RwUInt32 stream, RwUInt32 type, RwUInt32 usage, RwUInt32 usageIndex,
                       RwUInt16 lock)
{
    D3DVERTEXELEMENT9 &e = d->elements[d->count++];
    e.Stream = static_cast<WORD>(stream);
    e.Offset = static_cast<WORD>(d->stride[stream]);
    e.Type = static_cast<BYTE>(type);
    e.Method = D3DDECLMETHOD_DEFAULT;
    e.Usage = static_cast<BYTE>(usage);
    e.UsageIndex = static_cast<BYTE>(usageIndex);
    d->stride[stream] += RwD3D9DeclTypeGetSize(type);
    d->lock[stream] |= lock;
}

static void EndElements(D3DVERTEXELEMENT9 *elements, RwUInt32 count)
{
    elements[count] = D3DDECL_END();
}

// DEC3N only where the caps say so: creation accepts it on devices that decode it wrongly.
static RwUInt32 NormalType(void)
{
    return (rwD3D9Driver.caps.DeclTypes & D3DDTCAPS_DEC3N) ? D3DDECLTYPE_DEC3N : D3DDECLTYPE_FLOAT3;
}

// The element of a usage, or NULL.
static const D3DVERTEXELEMENT9 *FindElement(const D3DVERTEXELEMENT9 *elements, RwUInt32 usage, RwUInt32 index)
{
    for (; elements->Stream != 0xFF; elements++) {
        if (elements->Usage == usage && elements->UsageIndex == index) {
            return elements;
        }
    }
    return nullptr;
}

static RwBool WriteTangents(RwUInt8 *base, const D3DVERTEXELEMENT9 *e, RwUInt32 stride, const RwV3d *positions,
                            const RwV3d *normals, const RwUInt8 *packed, const RwReal *uv, RwUInt32 numVertices,
                            RwMeshHeader *meshHeader)
{
    return RwD3D9DeclTypeWriteMeshTangents(e->Type, base + e->Offset, positions, normals, packed, uv, numVertices,
                                           meshHeader, stride) != 0;
}

static RwBool LockRange(void *buffer, RwUInt32 offset, RwUInt32 size, DWORD flags, RwUInt8 **data)
{
    void *p = nullptr;
    IDirect3DVertexBuffer9 *vb = static_cast<IDirect3DVertexBuffer9 *>(buffer);
    if (FAILED(vb->Lock(offset, size, &p, flags))) {
        return FALSE;
    }
    if (p == nullptr) {
        vb->Unlock();
        return FALSE;
    }
    *data = static_cast<RwUInt8 *>(p);
    return TRUE;
}

// ---------------------------------------------------------------------------
// World sectors: one static stream

RwBool RwD3D9WorldSectorInstance(void *object, RwD3D9InstanceHeader *header, RwBool)
{
    RwWorldSector *sector = static_cast<RwWorldSector *>(object);
    const RwWorld *world = RwD3D9SectorWorld(sector);
    if (!world) {
        return FALSE;
    }
    const RwUInt32 flags = world->flags;
    const RwUInt32 n = sector->numVertices;
    header->totalNumVertex = n;
    DeclBuild d = {};
    AddElement(&d, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0, rwGEOMETRYLOCKVERTICES);
    const bool normals = (flags & rwGEOMETRYNORMALS) && sector->normals;
    const bool prelit = (flags & rwGEOMETRYPRELIT) && sector->preLitLum;
    const RwUInt32 sets = (flags & rwGEOMETRYTEXTURED2) ? 2 : (flags & rwGEOMETRYTEXTURED) ? 1 : 0;
    if (normals) {
        AddElement(&d, 0, NormalType(), D3DDECLUSAGE_NORMAL, 0, rwGEOMETRYLOCKNORMALS);
    }
    if (prelit) {
        AddElement(&d, 0, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0, rwGEOMETRYLOCKPRELIGHT);
    }
    for (RwUInt32 i = 0; i < sets; i++) {
        if (sector->texCoords[i]) {
            AddElement(&d, 0, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, i, static_cast<RwUInt16>(0x10 << i));
        }
    }
    const RwUInt32 tangentSet = sets == 2 && sector->texCoords[1] ? 1 : 0;
    const bool tangents = (RwD3D9WorldSectorGetInstanceFlags(sector) & rwD3D9INSTANCETANGENTS) && sets > 0 &&
                          sector->texCoords[tangentSet];
    if (tangents) {
        AddElement(&d, 0, NormalType(), D3DDECLUSAGE_TANGENT, 0, 0);
    }
    EndElements(d.elements, d.count);

    RwD3D9VertexStream &stream = header->vertexStream[0];
    if (!RwD3D9CreateVertexDeclaration(d.elements, &header->vertexDeclaration) ||
        !RwD3D9CreateVertexBuffer(d.stride[0], d.stride[0] * n, &stream.vertexBuffer, &stream.offset)) {
        return FALSE;
    }
    stream.stride = d.stride[0];
    stream.geometryFlags = d.lock[0];
    stream.managed = 1;
    header->useOffsets = FALSE;
    RwD3D9InstanceMesh *meshes = reinterpret_cast<RwD3D9InstanceMesh *>(header + 1);
    for (RwUInt32 i = 0; i < header->numMeshes; i++) {
        meshes[i].baseVertexIndex = stream.offset / stream.stride + meshes[i].minVertexIndex;
    }

    RwUInt8 *v = nullptr;
    if (!LockRange(stream.vertexBuffer, stream.offset, stream.stride * n, D3DLOCK_NOSYSLOCK, &v)) {
        return FALSE;
    }
    const RwUInt32 stride = stream.stride;
    RwBool ok = TRUE;
    for (const D3DVERTEXELEMENT9 *e = d.elements; e->Stream != 0xFF; e++) {
        RwUInt8 *at = v + e->Offset;
        switch (e->Usage) {
        case D3DDECLUSAGE_POSITION: RwD3D9DeclTypeWriteV3d(e->Type, at, sector->vertices, n, stride); break;
        case D3DDECLUSAGE_NORMAL:
            RwD3D9DeclTypeWritePackedNormals(e->Type, at, reinterpret_cast<const RwUInt8 *>(sector->normals), n,
                                             stride);
            break;
        case D3DDECLUSAGE_COLOR:
            for (RwUInt32 i = 0; i < header->numMeshes; i++) {
                RwD3D9InstanceMesh &m = meshes[i];
                m.vertexAlpha = RwD3D9DeclTypeWriteColors(at + m.minVertexIndex * stride,
                                                          sector->preLitLum + m.minVertexIndex, m.numVertices, stride);
            }
            break;
        case D3DDECLUSAGE_TEXCOORD:
            RwD3D9DeclTypeWriteTexCoords(e->Type, at, &sector->texCoords[e->UsageIndex][0].u, n, stride);
            break;
        case D3DDECLUSAGE_TANGENT:
            ok = WriteTangents(v, e, stride, sector->vertices, nullptr,
                               reinterpret_cast<const RwUInt8 *>(sector->normals), &sector->texCoords[tangentSet][0].u,
                               n, sector->mesh);
            break;
        default: break;
        }
    }
    static_cast<IDirect3DVertexBuffer9 *>(stream.vertexBuffer)->Unlock();
    return ok;
}

// ---------------------------------------------------------------------------
// Atomics: one static stream, or a dynamic stream for the data that changes

static bool DeviceHasTnL(void)
{
    return (rwD3D9Driver.caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0;
}

static bool DeviceHasStreamOffsets(void)
{
    return (rwD3D9Driver.caps.DevCaps2 & D3DDEVCAPS2_STREAMOFFSET) != 0;
}

// Builds the declaration and takes the vertex space; FALSE on any failure.
static RwBool AtomicBuildStreams(RwAtomic *atomic, RwD3D9InstanceHeader *header, DeclBuild *d)
{
    RwGeometry *g = atomic->geometry;
    const RwUInt32 n = static_cast<RwUInt32>(g->numVertices);
    const RwUInt32 instanceFlags = RwD3D9GeometryGetInstanceFlags(g);
    RwUInt16 dynamic = static_cast<RwUInt16>(instanceFlags & rwD3D9INSTANCELOCKMASK);
    const bool morphs = g->numMorphTargets > 1;
    const bool single = (!morphs && dynamic == 0) || !DeviceHasTnL() ||
                        (atomic->pipeline && atomic->pipeline->pluginId == rwD3D9PIPELINESKINNEDPLUGIN);
    if (morphs) {
        dynamic |= rwGEOMETRYLOCKVERTICES | rwGEOMETRYLOCKNORMALS;
    }
    auto streamOf = [&](RwUInt16 lock) -> RwUInt32 { return single ? 0 : (lock & dynamic) ? 0 : 1; };
    AddElement(d, streamOf(rwGEOMETRYLOCKVERTICES), D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0,
               rwGEOMETRYLOCKVERTICES);
    if ((g->flags & rwGEOMETRYNORMALS) && g->morphTarget[0].normals) {
        AddElement(d, streamOf(rwGEOMETRYLOCKNORMALS), NormalType(), D3DDECLUSAGE_NORMAL, 0, rwGEOMETRYLOCKNORMALS);
    }
    if ((g->flags & rwGEOMETRYPRELIT) && g->preLitLum) {
        AddElement(d, streamOf(rwGEOMETRYLOCKPRELIGHT), D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0,
                   rwGEOMETRYLOCKPRELIGHT);
    }
    RwUInt32 sets = 0;
    for (RwInt32 i = 0; i < g->numTexCoordSets && i < rwMAXTEXTURECOORDS && g->texCoords[i]; i++, sets++) {
        const RwUInt16 lock = static_cast<RwUInt16>(0x10 << i);
        AddElement(d, streamOf(lock), D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, i, lock);
    }
    if ((instanceFlags & rwD3D9INSTANCETANGENTS) && sets > 0) {
        AddElement(d, single ? 0 : (dynamic & 0xFF2) ? 0 : 1, NormalType(), D3DDECLUSAGE_TANGENT, 0, 0);
    }
    std::qsort(d->elements, d->count, sizeof(D3DVERTEXELEMENT9), RwD3D9VertexElementCompare);
    EndElements(d->elements, d->count);
    if (!RwD3D9CreateVertexDeclaration(d->elements, &header->vertexDeclaration)) {
        return FALSE;
    }
    if (!single) {
        RwGeometryAddToRestoreList(g);
    }
    for (RwUInt32 s = 0; s < 2; s++) {
        RwD3D9VertexStream &stream = header->vertexStream[s];
        if (d->stride[s] == 0) {
            continue;
        }
        stream.stride = d->stride[s];
        stream.geometryFlags = d->lock[s];
        const bool managed = single || (s == 1 && DeviceHasStreamOffsets());
        stream.managed = managed ? 1 : 0;
        const RwBool made = managed ? RwD3D9CreateVertexBuffer(stream.stride, stream.stride * n, &stream.vertexBuffer,
                                                               &stream.offset)
                                    : RwD3D9DynamicVertexBufferCreate(stream.stride * n, &stream.vertexBuffer);
        if (!made) {
            stream.vertexBuffer = nullptr;
            return FALSE;
        }
    }
    const bool two = header->vertexStream[0].vertexBuffer && header->vertexStream[1].vertexBuffer;
    header->useOffsets = two && DeviceHasStreamOffsets();
    const RwD3D9VertexStream &first = header->vertexStream[header->vertexStream[0].vertexBuffer ? 0 : 1];
    RwD3D9InstanceMesh *meshes = reinterpret_cast<RwD3D9InstanceMesh *>(header + 1);
    for (RwUInt32 i = 0; i < header->numMeshes; i++) {
        meshes[i].baseVertexIndex =
            two ? meshes[i].minVertexIndex : first.offset / first.stride + meshes[i].minVertexIndex;
    }
    return TRUE;
}

static void ReadBackElements(const RwD3D9InstanceHeader *header, DeclBuild *d)
{
    UINT count = rwD3D9MAXELEMENTS;
    IDirect3DVertexDeclaration9 *decl = static_cast<IDirect3DVertexDeclaration9 *>(header->vertexDeclaration);
    if (!decl || FAILED(decl->GetDeclaration(d->elements, &count)) || count == 0) {
        EndElements(d->elements, 0);
    }
}

RwBool RwD3D9AtomicInstance(void *object, RwD3D9InstanceHeader *header, RwBool reinstance)
{
    RwAtomic *atomic = static_cast<RwAtomic *>(object);
    RwGeometry *g = atomic->geometry;
    const RwUInt32 n = static_cast<RwUInt32>(g->numVertices);
    DeclBuild d = {};
    RwUInt32 lockSet = rwGEOMETRYLOCKALL;
    if (!reinstance) {
        header->totalNumVertex = n;
        RwD3D9VertexStreamRelease(&header->vertexStream[0], n);
        RwD3D9VertexStreamRelease(&header->vertexStream[1], n);
        if (!AtomicBuildStreams(atomic, header, &d)) {
            return FALSE;
        }
    } else {
        ReadBackElements(header, &d);
        lockSet = g->lockedSinceLastInst;
    }

    RwUInt8 *data[2] = {nullptr, nullptr};
    for (RwUInt32 s = 0; s < 2; s++) {
        RwD3D9VertexStream &stream = header->vertexStream[s];
        if (!stream.vertexBuffer) {
            continue;
        }
        const bool whole = reinstance ? (lockSet == rwGEOMETRYLOCKALL || (lockSet & stream.geometryFlags)) : true;
        if (!whole) {
            continue;
        }
        DWORD flags = D3DLOCK_NOSYSLOCK;
        if (!stream.managed && reinstance) {
            flags |= D3DLOCK_DISCARD;
            lockSet |= stream.geometryFlags;
        }
        if (!LockRange(stream.vertexBuffer, stream.managed ? stream.offset : 0, stream.stride * n, flags, &data[s])) {
            // A stream left unwritten (a discarded one holds nothing at all)
            // must not be drawn: the caller frees the instance and the next
            // render builds it again.
            if (s == 1 && data[0]) {
                static_cast<IDirect3DVertexBuffer9 *>(header->vertexStream[0].vertexBuffer)->Unlock();
            }
            return FALSE;
        }
    }
    auto target = [&](const D3DVERTEXELEMENT9 *e, RwUInt32 lock) -> RwUInt8 * {
        if (!e || !(lockSet & lock) || !data[e->Stream]) {
            return nullptr;
        }
        return data[e->Stream] + e->Offset;
    };
    auto strideOf = [&](const D3DVERTEXELEMENT9 *e) { return header->vertexStream[e->Stream].stride; };

    // Morph targets: interpolated when the interpolator sits between two.
    RwUInt32 start = atomic->interpolator.startMorphTarget;
    RwUInt32 end = atomic->interpolator.endMorphTarget;
    if (start >= static_cast<RwUInt32>(g->numMorphTargets) || end >= static_cast<RwUInt32>(g->numMorphTargets)) {
        start = end = 0;
    }
    const RwReal t = atomic->interpolator.position * atomic->interpolator.recipTime;
    const RwMorphTarget &from = g->morphTarget[start];
    const RwMorphTarget &to = g->morphTarget[end];
    const D3DVERTEXELEMENT9 *pos = FindElement(d.elements, D3DDECLUSAGE_POSITION, 0);
    const D3DVERTEXELEMENT9 *nrm = FindElement(d.elements, D3DDECLUSAGE_NORMAL, 0);
    const bool blend = g->numMorphTargets > 1 && start != end && t != 0.0f;
    if (RwUInt8 *at = from.verts ? target(pos, rwGEOMETRYLOCKVERTICES) : nullptr) {
        if (blend) {
            RwD3D9DeclTypeWriteInterpolatedV3d(pos->Type, at, from.verts, to.verts, t, n, strideOf(pos));
        } else {
            RwD3D9DeclTypeWriteV3d(pos->Type, at, from.verts, n, strideOf(pos));
        }
    }
    if (RwUInt8 *at = target(nrm, rwGEOMETRYLOCKNORMALS)) {
        if (blend && to.normals) {
            RwD3D9DeclTypeWriteInterpolatedV3d(nrm->Type, at, from.normals, to.normals, t, n, strideOf(nrm));
        } else if (from.normals) {
            RwD3D9DeclTypeWriteV3d(nrm->Type, at, from.normals, n, strideOf(nrm));
        }
    }
    RwD3D9InstanceMesh *meshes = reinterpret_cast<RwD3D9InstanceMesh *>(header + 1);
    const D3DVERTEXELEMENT9 *col = FindElement(d.elements, D3DDECLUSAGE_COLOR, 0);
    if (RwUInt8 *at = target(col, rwGEOMETRYLOCKPRELIGHT)) {
        const RwUInt32 stride = strideOf(col);
        for (RwUInt32 i = 0; i < header->numMeshes; i++) {
            RwD3D9InstanceMesh &m = meshes[i];
            m.vertexAlpha = RwD3D9DeclTypeWriteColors(at + m.minVertexIndex * stride, g->preLitLum + m.minVertexIndex,
                                                      m.numVertices, stride);
        }
    }
    RwUInt32 lastSet = 0;
    for (RwUInt32 i = 0; i < rwMAXTEXTURECOORDS; i++) {
        const D3DVERTEXELEMENT9 *e = FindElement(d.elements, D3DDECLUSAGE_TEXCOORD, i);
        if (!e || !g->texCoords[i]) {
            continue;
        }
        lastSet = i;
        if (RwUInt8 *at = target(e, static_cast<RwUInt16>(0x10 << i))) {
            RwD3D9DeclTypeWriteTexCoords(e->Type, at, &g->texCoords[i][0].u, n, strideOf(e));
        }
    }
    RwBool ok = TRUE;
    const D3DVERTEXELEMENT9 *tan = FindElement(d.elements, D3DDECLUSAGE_TANGENT, 0);
    if (tan && from.verts && data[tan->Stream] && (lockSet & 0xFF2)) {
        ok = WriteTangents(data[tan->Stream], tan, strideOf(tan), from.verts, from.normals, nullptr,
                           &g->texCoords[lastSet][0].u, n, g->mesh);
    }
    for (RwUInt32 s = 0; s < 2; s++) {
        if (data[s]) {
            static_cast<IDirect3DVertexBuffer9 *>(header->vertexStream[s].vertexBuffer)->Unlock();
        }
    }
    return ok;
}

RwBool RwD3D9AtomicReinstance(void *object, RwResourceEntry *entry, RwD3D9AllInOneInstanceCallBack instance)
{
    RwAtomic *atomic = static_cast<RwAtomic *>(object);
    RwGeometry *g = atomic->geometry;
    RwD3D9InstanceHeader *header = static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(entry));
    if (g->numMorphTargets == 1) {
        return instance(atomic, header, TRUE);
    }
    // Behind on fills (a reset, or a lock another atomic took in): everything.
    const bool behind = !RwD3D9InstanceFillIsCurrent(entry);
    if (!(atomic->interpolator.flags & rwINTERPOLATORDIRTYINSTANCE) && g->lockedSinceLastInst == 0 && !behind) {
        return TRUE;
    }
    const RwUInt16 saved = g->lockedSinceLastInst;
    g->lockedSinceLastInst = behind ? static_cast<RwUInt16>(rwGEOMETRYLOCKALL)
                                    : static_cast<RwUInt16>(saved | rwGEOMETRYLOCKVERTICES | rwGEOMETRYLOCKNORMALS);
    const RwBool ok = instance(atomic, header, TRUE);
    g->lockedSinceLastInst = saved;
    return ok;
}
