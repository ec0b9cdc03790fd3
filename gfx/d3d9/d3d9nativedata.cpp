// The native-data extension: the instanced form of a geometry or world sector in a stream, with CPU-side copies.
#include <cstdint>
#include <cstring>

#include "d3d9allinone.h"
#include "d3d9decltype.h"
#include "d3d9device.h"
#include "d3d9vertexbuffer.h"
#include "gfx/core/byteorder.h"
#include "gfx/core/error.h"
#include "gfx/core/stream.h"
#include "gfx/world/geometry.h"
#include "gfx/world/world.h"
#include "gfx/world/worldpipe.h"
#include "gfx/world/worldstream.h"

enum : RwUInt32 {
    rwD3D9PLATFORMID = 9,
    rwD3D9NATIVEHINT = 0x3050D,
    rwD3D9MAXNATIVEELEMENTS = 64,
    rwD3D9STREAMRECORD = 16,
};

// Everything the geometry and sector forms differ in.
struct NativeOwner {
    void *owner;
    RwResourceEntry **entryRef;
    const RwMaterialList *matList;
    RwBool native;
    RwBool staticBuffers;   // vertex data goes into the shared static buffers
    RwUInt32 numVertices;   // the owner's own count; 0 when it has none
};

static NativeOwner OfGeometry(const RwGeometry *g)
{
    RwGeometry *geometry = const_cast<RwGeometry *>(g);
    return {geometry, &geometry->repEntry, &geometry->matList, (geometry->flags & rwGEOMETRYNATIVE) != 0,
            geometry->numMorphTargets < 2, static_cast<RwUInt32>(geometry->numVertices)};
}

static NativeOwner OfSector(const RwWorldSector *s)
{
    RwWorldSector *sector = const_cast<RwWorldSector *>(s);
    const RwWorld *world = RwWorldSectorStreamWorld(sector);
    return {sector, &sector->repEntry, world ? &world->matList : nullptr,
            world && (world->flags & rwGEOMETRYNATIVE), TRUE, sector->numVertices};
}

static RwD3D9InstanceHeader *HeaderOf(RwResourceEntry *entry)
{
    return static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(entry));
}

static RwD3D9InstanceMesh *MeshesOf(RwD3D9InstanceHeader *header)
{
    return reinterpret_cast<RwD3D9InstanceMesh *>(header + 1);
}

// An entry read from a stream keeps what followed the header (elements,
// indices, stream records and vertex data) behind it: the device's buffers
// are write-only. Such an entry lies outside the arena and its unused back
// link names that copy.
static const RwUInt8 *CopyOf(RwResourceEntry *entry)
{
    const RwUInt8 *copy = reinterpret_cast<const RwUInt8 *>(RwResourceEntryData(entry)) + entry->size;
    return !entry->link.next && entry->link.prev == reinterpret_cast<const RwLLLink *>(copy) ? copy : nullptr;
}

// Where the parts of a copy lie; FALSE when they do not fit its length.
struct NativeSections {
    RwUInt32 numElements;
    const RwUInt8 *elements;
    const RwUInt8 *indices;
    const RwUInt8 *records[2];
    const RwUInt8 *vertices[2];
    RwUInt32 length;
};

static RwBool FindSections(const RwD3D9InstanceHeader *header, const RwUInt8 *p, RwUInt32 length,
                           NativeSections *s)
{
    *s = {};
    RwUInt32 at = 0;
    auto take = [&](uint64_t bytes) -> const RwUInt8 * {
        if (at + bytes > length) {
            return nullptr;
        }
        const RwUInt8 *where = p + at;
        at += static_cast<RwUInt32>(bytes);
        return where;
    };
    const RwUInt8 *count = take(4);
    if (!count) {
        return FALSE;
    }
    s->numElements = ReadU32(count);
    if (s->numElements == 0 || s->numElements > rwD3D9MAXNATIVEELEMENTS ||
        !(s->elements = take(8ull * s->numElements))) {
        return FALSE;
    }
    if (header->totalNumIndex != 0 && !(s->indices = take(2ull * header->totalNumIndex))) {
        return FALSE;
    }
    for (int n = 0; n < 2; n++) {
        if (!(s->records[n] = take(rwD3D9STREAMRECORD))) {
            return FALSE;
        }
        if (ReadU32(s->records[n]) != 0 &&
            !(s->vertices[n] = take(static_cast<uint64_t>(ReadU32(s->records[n] + 8)) * header->totalNumVertex))) {
            return FALSE;
        }
    }
    s->length = at;
    return TRUE;
}

static RwUInt32 DeclarationElements(const RwD3D9InstanceHeader *header, D3DVERTEXELEMENT9 *elements)
{
    UINT count = rwD3D9MAXNATIVEELEMENTS;
    IDirect3DVertexDeclaration9 *decl = static_cast<IDirect3DVertexDeclaration9 *>(header->vertexDeclaration);
    if (!decl || FAILED(decl->GetDeclaration(elements, &count))) {
        return 0;
    }
    return count;
}

static RwInt32 NativeSize(const NativeOwner &o)
{
    RwResourceEntry *entry = *o.entryRef;
    if (!o.native || !entry) {
        return 0;
    }
    RwD3D9InstanceHeader *header = HeaderOf(entry);
    D3DVERTEXELEMENT9 elements[rwD3D9MAXNATIVEELEMENTS];
    // Platform id, S and E: what the chunk holds besides the parts counted here.
    RwUInt32 size = entry->size + 12 + 8 * DeclarationElements(header, elements) + 2 * rwD3D9STREAMRECORD;
    if (header->totalNumIndex != 0) {
        size += 2 * header->totalNumIndex;
    }
    for (const RwD3D9VertexStream &stream : header->vertexStream) {
        if (stream.vertexBuffer) {
            size += stream.stride * header->totalNumVertex;
        }
    }
    return static_cast<RwInt32>(size + 12);
}

// The bytes of one part: from the copy, or read from a buffer the processor may read.
static RwStream *WriteIndices(RwStream *stream, const RwD3D9InstanceHeader *header, const RwUInt8 *copy)
{
    const RwUInt32 bytes = 2 * header->totalNumIndex;
    if (copy) {
        return RwStreamWrite(stream, copy, bytes);
    }
    IDirect3DIndexBuffer9 *buffer = static_cast<IDirect3DIndexBuffer9 *>(header->indexBuffer);
    void *data = nullptr;
    if (!buffer || FAILED(buffer->Lock(0, 0, &data, D3DLOCK_READONLY))) {
        return nullptr;
    }
    RwStream *ok = RwStreamWrite(stream, data, bytes);
    buffer->Unlock();
    return ok;
}

static RwStream *WriteVertices(RwStream *stream, const RwD3D9InstanceHeader *header, const RwD3D9VertexStream &vs,
                               const RwUInt8 *copy)
{
    const RwUInt32 bytes = vs.stride * header->totalNumVertex;
    if (copy) {
        return RwStreamWrite(stream, copy, bytes);
    }
    // A dynamic buffer cannot be read back.
    IDirect3DVertexBuffer9 *buffer = static_cast<IDirect3DVertexBuffer9 *>(vs.vertexBuffer);
    void *data = nullptr;
    if (!vs.managed || FAILED(buffer->Lock(vs.offset, bytes, &data, D3DLOCK_NOSYSLOCK | D3DLOCK_READONLY))) {
        return nullptr;
    }
    RwStream *ok = RwStreamWrite(stream, data, bytes);
    buffer->Unlock();
    return ok;
}

static RwStream *NativeWrite(RwStream *stream, const NativeOwner &o)
{
    RwResourceEntry *entry = *o.entryRef;
    if (!o.native || !entry) {
        return stream;
    }
    RwD3D9InstanceHeader *header = HeaderOf(entry);
    const RwUInt8 *copy = CopyOf(entry);
    NativeSections sections = {};
    if (copy && !FindSections(header, copy, 0xFFFFFFFFu, &sections)) {
        return nullptr;
    }
    D3DVERTEXELEMENT9 elements[rwD3D9MAXNATIVEELEMENTS];
    const RwUInt32 numElements = DeclarationElements(header, elements);
    if (numElements == 0) {
        return nullptr;
    }
    // The header goes out with material indices and no device pointers; the
    // instance itself is never touched.
    const RwUInt32 size = static_cast<RwUInt32>(entry->size);
    RwUInt8 *bytes = static_cast<RwUInt8 *>(RwMalloc(size, rwD3D9NATIVEHINT));
    if (!bytes) {
        RwErrorRaise(0, E_RW_NOMEM);
        return nullptr;
    }
    std::memcpy(bytes, header, size);
    RwD3D9InstanceHeader *out = reinterpret_cast<RwD3D9InstanceHeader *>(bytes);
    out->indexBuffer = nullptr;
    out->vertexDeclaration = nullptr;
    for (RwD3D9VertexStream &vs : out->vertexStream) {
        vs.vertexBuffer = nullptr;
    }
    RwD3D9InstanceMesh *meshes = MeshesOf(out);
    for (RwUInt32 i = 0; i < out->numMeshes; i++) {
        const RwInt32 index = meshes[i].material ? RwMaterialListFindMaterialIndex(o.matList, meshes[i].material) : -1;
        meshes[i].material = reinterpret_cast<RwMaterial *>(static_cast<intptr_t>(index));
        meshes[i].vertexShader = nullptr;
    }
    RwUInt8 words[8];
    WriteU32(words, rwD3D9PLATFORMID);
    WriteU32(words + 4, size);
    const RwUInt32 payload = static_cast<RwUInt32>(NativeSize(o)) - 12;
    RwUInt8 count[4];
    WriteU32(count, numElements);
    bool ok = RwStreamWriteChunkHeader(stream, rwID_STRUCT, payload) && RwStreamWrite(stream, words, 8) &&
              RwStreamWrite(stream, bytes, size) && RwStreamWrite(stream, count, 4) &&
              RwStreamWrite(stream, elements, 8 * numElements);
    RwFree(bytes);
    if (ok && header->totalNumIndex != 0) {
        ok = WriteIndices(stream, header, sections.indices) != nullptr;
    }
    for (int n = 0; ok && n < 2; n++) {
        const RwD3D9VertexStream &vs = header->vertexStream[n];
        RwUInt8 record[rwD3D9STREAMRECORD];
        WriteU32(record, vs.vertexBuffer ? 1 : 0);
        WriteU32(record + 4, vs.offset);
        WriteU32(record + 8, vs.stride);
        WriteU16(record + 12, vs.geometryFlags);
        record[14] = vs.managed;
        record[15] = vs.dynamicLock;
        ok = RwStreamWrite(stream, record, sizeof record) &&
             (!vs.vertexBuffer || WriteVertices(stream, header, vs, sections.vertices[n]));
    }
    return ok ? stream : nullptr;
}

// ---------------------------------------------------------------------------
// Reading

// Every mesh draws only indices and vertices the data holds.
static RwBool MeshesFit(RwD3D9InstanceHeader *header, const NativeSections &s, const NativeOwner &o)
{
    if (header->primType < D3DPT_POINTLIST || header->primType > D3DPT_TRIANGLEFAN) {
        return FALSE;
    }
    const RwUInt32 v = header->totalNumVertex;
    if (v == 0 || (!s.vertices[0] && !s.vertices[1])) {
        return FALSE;
    }
    RwD3D9InstanceMesh *meshes = MeshesOf(header);
    for (RwUInt32 i = 0; i < header->numMeshes; i++) {
        const RwD3D9InstanceMesh &m = meshes[i];
        const RwInt32 material = static_cast<RwInt32>(reinterpret_cast<intptr_t>(m.material));
        if (static_cast<uint64_t>(m.minVertexIndex) + m.numVertices > v ||
            (material >= 0 && (!o.matList || material >= o.matList->numMaterials)) || material < -1) {
            return FALSE;
        }
        if (s.indices) {
            if (static_cast<uint64_t>(m.startIndex) + m.numIndices > header->totalNumIndex ||
                m.numPrimitives > RwD3D9PrimitiveCountOf(header->primType, m.numIndices)) {
                return FALSE;
            }
            for (RwUInt32 k = 0; k < m.numIndices; k++) {
                if (ReadU16(s.indices + 2 * (m.startIndex + k)) >= m.numVertices) {
                    return FALSE;
                }
            }
        } else if (m.numPrimitives > RwD3D9PrimitiveCountOf(header->primType, m.numVertices)) {
            return FALSE;
        }
    }
    return TRUE;
}

// Every element reads inside a vertex of a stream that is there; the last ends the list.
static RwBool ElementsFit(const NativeSections &s)
{
    for (RwUInt32 i = 0; i < s.numElements; i++) {
        const RwUInt8 *e = s.elements + 8 * i;
        const RwUInt16 stream = ReadU16(e);
        if (i + 1 == s.numElements) {
            return stream == 0xFF;
        }
        const RwUInt32 size = RwD3D9DeclTypeGetSize(e[4]);
        if (stream > 1 || !s.vertices[stream] || size == 0 || ReadU16(e + 2) + size > ReadU32(s.records[stream] + 8)) {
            return FALSE;
        }
    }
    return FALSE;
}

// Copies a stream's vertex data into its space; a dynamic buffer is discarded whole.
static RwBool FillStream(const RwD3D9VertexStream &vs, const RwUInt8 *vertices, RwUInt32 numVertices)
{
    const RwUInt32 bytes = vs.stride * numVertices;
    IDirect3DVertexBuffer9 *buffer = static_cast<IDirect3DVertexBuffer9 *>(vs.vertexBuffer);
    void *data = nullptr;
    const DWORD flags = vs.managed ? D3DLOCK_NOSYSLOCK : (D3DLOCK_NOSYSLOCK | D3DLOCK_DISCARD);
    if (FAILED(buffer->Lock(vs.managed ? vs.offset : 0, bytes, &data, flags))) {
        return FALSE;
    }
    std::memcpy(data, vertices, bytes);
    buffer->Unlock();
    return TRUE;
}

static RwBool MakeDeviceObjects(RwD3D9InstanceHeader *header, const NativeSections &s, const NativeOwner &o)
{
    D3DVERTEXELEMENT9 elements[rwD3D9MAXNATIVEELEMENTS];
    std::memcpy(elements, s.elements, 8 * s.numElements);
    if (!RwD3D9CreateVertexDeclaration(elements, &header->vertexDeclaration)) {
        header->vertexDeclaration = nullptr;
        return FALSE;
    }
    if (s.indices) {
        void *data = nullptr;
        if (!RwD3D9CreateIndexBuffer(header->totalNumIndex, &header->indexBuffer)) {
            header->indexBuffer = nullptr;
            return FALSE;
        }
        IDirect3DIndexBuffer9 *buffer = static_cast<IDirect3DIndexBuffer9 *>(header->indexBuffer);
        if (FAILED(buffer->Lock(0, 0, &data, 0))) {
            return FALSE;
        }
        std::memcpy(data, s.indices, 2 * header->totalNumIndex);
        buffer->Unlock();
    }
    for (int n = 0; n < 2; n++) {
        RwD3D9VertexStream &vs = header->vertexStream[n];
        vs.offset = ReadU32(s.records[n] + 4);
        vs.stride = ReadU32(s.records[n] + 8);
        vs.geometryFlags = ReadU16(s.records[n] + 12);
        vs.dynamicLock = 0;
        if (!s.vertices[n]) {
            vs.offset = 0;
            continue;
        }
        const RwUInt32 bytes = vs.stride * header->totalNumVertex;
        if (vs.stride == 0 || vs.stride > 0xFF) {
            return FALSE;
        }
        vs.managed = o.staticBuffers ? 1 : 0;
        const RwBool made = o.staticBuffers
                                ? RwD3D9CreateVertexBuffer(vs.stride, bytes, &vs.vertexBuffer, &vs.offset)
                                : RwD3D9DynamicVertexBufferCreate(bytes, &vs.vertexBuffer);
        if (!made) {
            vs.vertexBuffer = nullptr;
            return FALSE;
        }
        if (!o.staticBuffers) {
            vs.offset = 0;
        }
        if (!FillStream(vs, s.vertices[n], header->totalNumVertex)) {
            return FALSE;
        }
    }
    RwD3D9InstanceMesh *meshes = MeshesOf(header);
    const bool two = s.vertices[0] && s.vertices[1];
    if (!two) {
        header->useOffsets = FALSE;
    } else if (rwD3D9Driver.caps.DevCaps2 & D3DDEVCAPS2_STREAMOFFSET) {
        header->useOffsets = TRUE;
    }
    const RwD3D9VertexStream &first = header->vertexStream[s.vertices[0] ? 0 : 1];
    for (RwUInt32 i = 0; i < header->numMeshes; i++) {
        meshes[i].baseVertexIndex = meshes[i].minVertexIndex + (two ? 0 : first.offset / first.stride);
    }
    return TRUE;
}

static RwBool HasDynamicStream(const RwD3D9InstanceHeader *header)
{
    return (header->vertexStream[0].vertexBuffer && !header->vertexStream[0].managed) ||
           (header->vertexStream[1].vertexBuffer && !header->vertexStream[1].managed);
}

RwBool RwD3D9NativeInstanceRefill(RwResourceEntry *entry)
{
    RwD3D9InstanceHeader *header = HeaderOf(entry);
    const RwUInt8 *copy = CopyOf(entry);
    NativeSections sections = {};
    if (!copy || !HasDynamicStream(header)) {
        return TRUE;
    }
    if (!FindSections(header, copy, 0xFFFFFFFFu, &sections)) {
        return FALSE;
    }
    for (int n = 0; n < 2; n++) {
        const RwD3D9VertexStream &vs = header->vertexStream[n];
        if (vs.vertexBuffer && !vs.managed && sections.vertices[n] &&
            !FillStream(vs, sections.vertices[n], header->totalNumVertex)) {
            return FALSE;
        }
    }
    return TRUE;
}

static RwStream *NativeRead(RwStream *stream, const NativeOwner &o)
{
    RwUInt32 length = 0;
    RwUInt32 version = 0;
    if (!RwStreamFindChunk(stream, rwID_STRUCT, &length, &version)) {
        return nullptr;
    }
    if (!RwChunkVersionAccepted(version)) {
        RwErrorRaise(0, E_RW_BADVERSION);
        return nullptr;
    }
    RwUInt8 words[8];
    if (length < 8 || !RwStreamReadExact(stream, words, 8) || ReadU32(words) != rwD3D9PLATFORMID) {
        return nullptr;
    }
    const RwUInt32 size = ReadU32(words + 4);
    const uint64_t rest = static_cast<uint64_t>(length) - 8 - size;
    if (size < sizeof(RwD3D9InstanceHeader) || (size - sizeof(RwD3D9InstanceHeader)) % sizeof(RwD3D9InstanceMesh) ||
        static_cast<uint64_t>(size) + 8 > length || !RwStreamCanHold(stream, static_cast<RwUInt32>(length - 8), 1)) {
        RwErrorRaise(0, E_RW_READ);
        return nullptr;
    }
    RwResourceEntry *entry = static_cast<RwResourceEntry *>(
        RwMalloc(sizeof(RwResourceEntry) + size + static_cast<RwUInt32>(rest), rwD3D9NATIVEHINT));
    if (!entry) {
        RwErrorRaise(0, E_RW_NOMEM);
        return nullptr;
    }
    RwD3D9InstanceHeader *header = HeaderOf(entry);
    RwUInt8 *copy = reinterpret_cast<RwUInt8 *>(header) + size;
    // Nothing the stream put in a pointer field may reach the destroy callback.
    std::memset(entry, 0, sizeof(RwResourceEntry));
    entry->size = static_cast<RwInt32>(size);
    entry->owner = o.owner;
    entry->link.prev = reinterpret_cast<RwLLLink *>(copy);
    const bool readAll = RwStreamReadExact(stream, header, size) != nullptr;
    header->indexBuffer = nullptr;
    header->vertexDeclaration = nullptr;
    header->vertexStream[0].vertexBuffer = header->vertexStream[1].vertexBuffer = nullptr;
    RwD3D9InstanceMesh *meshes = MeshesOf(header);
    const RwUInt32 numMeshes = (size - sizeof(RwD3D9InstanceHeader)) / sizeof(RwD3D9InstanceMesh);
    for (RwUInt32 i = 0; i < numMeshes; i++) {
        meshes[i].vertexShader = nullptr;
    }
    entry->destroyNotify = RwD3D9InstanceDataDestroy;
    NativeSections sections = {};
    bool ok = readAll && header->numMeshes == numMeshes &&
              RwStreamReadExact(stream, copy, static_cast<RwUInt32>(rest)) &&
              FindSections(header, copy, static_cast<RwUInt32>(rest), &sections) && MeshesFit(header, sections, o) &&
              ElementsFit(sections);
    if (!ok) {
        // The header holds material indices: no pointer was taken yet.
        for (RwUInt32 i = 0; i < numMeshes; i++) {
            meshes[i].material = nullptr;
        }
        RwErrorRaise(0, E_RW_READ);
    }
    ok = ok && MakeDeviceObjects(header, sections, o);
    if (!ok) {
        RwResourcesFreeEntry(entry);
        return nullptr;
    }
    for (RwUInt32 i = 0; i < numMeshes; i++) {
        const RwInt32 index = static_cast<RwInt32>(reinterpret_cast<intptr_t>(meshes[i].material));
        meshes[i].material = index >= 0 ? RwMaterialListGetMaterial(o.matList, index) : nullptr;
    }
    if (*o.entryRef) {
        RwResourcesFreeEntry(*o.entryRef);
    }
    entry->ownerRef = o.entryRef;
    *o.entryRef = entry;
    // A reset empties dynamic buffers: the restore marks the geometry and its
    // next render fills them again from the copy.
    if (!o.staticBuffers && HasDynamicStream(header)) {
        RwGeometryAddToRestoreList(static_cast<RwGeometry *>(o.owner));
    }
    return stream;
}

RwStream *RwGeometryNativeStreamWrite(RwStream *stream, const RwGeometry *geometry)
{
    return NativeWrite(stream, OfGeometry(geometry));
}

RwStream *RwGeometryNativeStreamRead(RwStream *stream, RwGeometry *geometry)
{
    return NativeRead(stream, OfGeometry(geometry));
}

RwInt32 RwGeometryNativeStreamGetSize(const RwGeometry *geometry)
{
    return NativeSize(OfGeometry(geometry));
}

RwStream *RwWorldSectorNativeStreamWrite(RwStream *stream, const RwWorldSector *sector)
{
    return NativeWrite(stream, OfSector(sector));
}

RwStream *RwWorldSectorNativeStreamRead(RwStream *stream, RwWorldSector *sector)
{
    return NativeRead(stream, OfSector(sector));
}

RwInt32 RwWorldSectorNativeStreamGetSize(const RwWorldSector *sector)
{
    return NativeSize(OfSector(sector));
}
