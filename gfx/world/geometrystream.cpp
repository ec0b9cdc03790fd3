// Geometry streams: chunk 0x0F with its struct, material list and extension data, and the bin-mesh callbacks.
#include <cstring>

#include "gfx/core/byteorder.h"
#include "gfx/core/error.h"
#include "gfx/core/finite.h"
#include "gfx/core/modules.h"
#include "gfx/core/pluginstream.h"
#include "gfx/core/stream.h"
#include "geometry.h"
#include "mesh.h"
#include "worldids.h"
#include "worldstream.h"

enum : RwUInt32 {
    rwGEOMETRYSTREAMHEADSIZE = 16,
    rwMORPHTARGETSTREAMSIZE = 24,
    rwRECORDBLOCK = 960,              // a multiple of every record size below
};

static bool HasVertexArrays(RwUInt32 flags, RwInt32 numVertices)
{
    return !(flags & rwGEOMETRYNATIVE) && numVertices > 0;
}

// Struct bytes of a geometry with these counts, every morph target carrying
// the arrays the format gives it.
static uint64_t StructSize(RwUInt32 flags, RwInt32 numVertices, RwInt32 numTriangles, RwInt32 sets,
                           RwInt32 numMorphTargets)
{
    uint64_t size = rwGEOMETRYSTREAMHEADSIZE;
    uint64_t perTarget = rwMORPHTARGETSTREAMSIZE;
    if (HasVertexArrays(flags, numVertices)) {
        const uint64_t v = static_cast<uint64_t>(numVertices);
        if (flags & rwGEOMETRYPRELIT) {
            size += 4 * v;
        }
        size += 8 * (static_cast<uint64_t>(sets) * v + static_cast<uint64_t>(numTriangles));
        perTarget += (flags & rwGEOMETRYNORMALS) ? 24 * v : 12 * v;
    }
    return size + perTarget * static_cast<uint64_t>(numMorphTargets);
}

RwUInt32 RwGeometryStreamGetSize(const RwGeometry *geometry)
{
    const uint64_t structSize = StructSize(geometry->flags, geometry->numVertices, geometry->numTriangles,
                                           geometry->numTexCoordSets, geometry->numMorphTargets);
    return static_cast<RwUInt32>(structSize) + rwCHUNKHEADERSIZE + RwMaterialListStreamGetSize(&geometry->matList) +
           rwCHUNKHEADERSIZE + static_cast<RwUInt32>(RwPluginRegistryGetSize(RwGeometryGetPluginRegistry(), geometry)) +
           rwCHUNKHEADERSIZE;
}

// Streams count records of size bytes through a block buffer; put fills
// record i at the given place.
template <typename Put>
static bool WriteRecords(RwStream *stream, RwUInt32 count, RwUInt32 size, Put put)
{
    RwUInt8 block[rwRECORDBLOCK];
    const RwUInt32 perBlock = rwRECORDBLOCK / size;
    for (RwUInt32 done = 0; done < count;) {
        const RwUInt32 n = count - done < perBlock ? count - done : perBlock;
        for (RwUInt32 i = 0; i < n; ++i) {
            put(done + i, block + i * size);
        }
        if (!RwStreamWrite(stream, block, n * size)) {
            return false;
        }
        done += n;
    }
    return true;
}

static bool WriteV3ds(RwStream *stream, const RwV3d *v, RwUInt32 count)
{
    return WriteRecords(stream, count, 12, [v](RwUInt32 i, RwUInt8 *p) {
        WriteF32(p, v[i].x);
        WriteF32(p + 4, v[i].y);
        WriteF32(p + 8, v[i].z);
    });
}

static bool ReadV3ds(RwStream *stream, RwV3d *v, RwUInt32 count)
{
    return RwWorldStreamReadReals(stream, &v->x, 12 * count) != nullptr;
}

static bool WriteVertexArrays(const RwGeometry *g, RwStream *stream)
{
    const RwUInt32 v = static_cast<RwUInt32>(g->numVertices);
    if ((g->flags & rwGEOMETRYPRELIT) && !WriteRecords(stream, v, 4, [g](RwUInt32 i, RwUInt8 *p) {
            const RwRGBA &c = g->preLitLum[i];
            p[0] = c.red;
            p[1] = c.green;
            p[2] = c.blue;
            p[3] = c.alpha;
        })) {
        return false;
    }
    for (RwInt32 s = 0; s < g->numTexCoordSets; ++s) {
        const RwTexCoords *uv = g->texCoords[s];
        if (!WriteRecords(stream, v, 8, [uv](RwUInt32 i, RwUInt8 *p) {
                WriteF32(p, uv[i].u);
                WriteF32(p + 4, uv[i].v);
            })) {
            return false;
        }
    }
    // Each triangle as two words: (vertex 0 << 16 | vertex 1), (vertex 2 << 16 | material).
    return WriteRecords(stream, static_cast<RwUInt32>(g->numTriangles), 8, [g](RwUInt32 i, RwUInt8 *p) {
        const RwTriangle &t = g->triangles[i];
        WriteU32(p, static_cast<RwUInt32>(t.vertIndex[0]) << 16 | t.vertIndex[1]);
        WriteU32(p + 4, static_cast<RwUInt32>(t.vertIndex[2]) << 16 | t.matIndex);
    });
}

const RwGeometry *RwGeometryStreamWrite(const RwGeometry *geometry, RwStream *stream)
{
    const RwGeometry *g = geometry;
    const uint64_t structSize = StructSize(g->flags, g->numVertices, g->numTriangles, g->numTexCoordSets,
                                           g->numMorphTargets);
    if (!RwStreamWriteChunkHeader(stream, rwID_GEOMETRY, RwGeometryStreamGetSize(g)) ||
        !RwStreamWriteChunkHeader(stream, rwID_STRUCT, static_cast<RwUInt32>(structSize))) {
        return nullptr;
    }
    RwUInt8 head[rwGEOMETRYSTREAMHEADSIZE];
    WriteU32(head, (g->flags & ~rwGEOMETRYTEXCOORDSETSMASK) | (static_cast<RwUInt32>(g->numTexCoordSets) << 16));
    WriteI32(head + 4, g->numTriangles);
    WriteI32(head + 8, g->numVertices);
    WriteI32(head + 12, g->numMorphTargets);
    if (!RwStreamWrite(stream, head, sizeof head)) {
        return nullptr;
    }
    if (HasVertexArrays(g->flags, g->numVertices) && !WriteVertexArrays(g, stream)) {
        return nullptr;
    }
    const RwUInt32 v = static_cast<RwUInt32>(g->numVertices);
    for (RwInt32 i = 0; i < g->numMorphTargets; ++i) {
        const RwMorphTarget &mt = g->morphTarget[i];
        RwUInt8 rec[rwMORPHTARGETSTREAMSIZE];
        WriteF32(rec, mt.boundingSphere.center.x);
        WriteF32(rec + 4, mt.boundingSphere.center.y);
        WriteF32(rec + 8, mt.boundingSphere.center.z);
        WriteF32(rec + 12, mt.boundingSphere.radius);
        WriteU32(rec + 16, mt.verts ? 1 : 0);
        WriteU32(rec + 20, mt.normals ? 1 : 0);
        if (!RwStreamWrite(stream, rec, sizeof rec) || (mt.verts && !WriteV3ds(stream, mt.verts, v)) ||
            (mt.normals && !WriteV3ds(stream, mt.normals, v))) {
            return nullptr;
        }
    }
    if (!RwMaterialListStreamWrite(&g->matList, stream) ||
        !RwPluginRegistryWriteDataChunks(RwGeometryGetPluginRegistry(), stream, g)) {
        return nullptr;
    }
    return geometry;
}

// The arrays are read straight into place; only the triangles need their
// words' halves swapped.
static bool ReadVertexArrays(RwGeometry *g, RwStream *stream)
{
    const RwUInt32 v = static_cast<RwUInt32>(g->numVertices);
    if ((g->flags & rwGEOMETRYPRELIT) && !RwStreamReadExact(stream, g->preLitLum, 4 * v)) {
        return false;
    }
    for (RwInt32 s = 0; s < g->numTexCoordSets; ++s) {
        if (!RwWorldStreamReadReals(stream, &g->texCoords[s]->u, 8 * v)) {
            return false;
        }
    }
    // Each triangle comes as two words: (vertex 0 << 16 | vertex 1), (vertex 2 << 16 | material).
    const RwUInt32 n = static_cast<RwUInt32>(g->numTriangles);
    RwUInt16 *p = reinterpret_cast<RwUInt16 *>(g->triangles);
    if (n > 0 && !RwWorldStreamReadInt16s(stream, reinterpret_cast<RwInt16 *>(p), 8 * n)) {
        return false;
    }
    RwUInt32 bad = 0;
    for (RwUInt32 i = 0; i < n; ++i, p += 4) {
        const RwUInt16 v1 = p[0];
        const RwUInt16 material = p[2];
        p[0] = p[1];
        p[1] = v1;
        p[2] = p[3];
        p[3] = material;
        bad |= static_cast<RwUInt32>(p[0] >= v) | static_cast<RwUInt32>(p[1] >= v) | static_cast<RwUInt32>(p[2] >= v);
    }
    if (bad) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return false;
    }
    return true;
}

// Morph-target records must announce exactly the arrays the format gives.
static bool ReadMorphTargets(RwGeometry *g, RwStream *stream)
{
    const RwUInt32 v = static_cast<RwUInt32>(g->numVertices);
    for (RwInt32 i = 0; i < g->numMorphTargets; ++i) {
        RwMorphTarget &mt = g->morphTarget[i];
        RwUInt8 rec[rwMORPHTARGETSTREAMSIZE];
        if (!RwStreamReadExact(stream, rec, sizeof rec)) {
            return false;
        }
        if ((ReadU32(rec + 16) != 0) != (mt.verts != nullptr) || (ReadU32(rec + 20) != 0) != (mt.normals != nullptr)) {
            RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
            return false;
        }
        const RwReal sphere[4] = {ReadF32(rec), ReadF32(rec + 4), ReadF32(rec + 8), ReadF32(rec + 12)};
        if (!RwStreamRealsFinite(sphere, 4)) {
            return false;
        }
        mt.boundingSphere = {{sphere[0], sphere[1], sphere[2]}, sphere[3]};
        if ((mt.verts && !ReadV3ds(stream, mt.verts, v)) || (mt.normals && !ReadV3ds(stream, mt.normals, v))) {
            return false;
        }
    }
    return true;
}

static bool MaterialIndicesValid(const RwGeometry *g)
{
    for (RwInt32 i = 0; g->triangles && i < g->numTriangles; ++i) {
        const RwUInt16 m = g->triangles[i].matIndex;
        if (m != rwGEOMETRYNOMATERIAL && m >= g->matList.numMaterials) {
            return false;
        }
    }
    return true;
}

static RwGeometry *FailRead(RwGeometry *g)
{
    g->refCount = 1;
    RwGeometryDestroy(g);
    return nullptr;
}

RwGeometry *RwGeometryStreamRead(RwStream *stream)
{
    RwUInt32 length = 0;
    if (!RwWorldStreamFindChunk(stream, rwID_STRUCT, &length)) {
        return nullptr;
    }
    RwUInt8 head[rwGEOMETRYSTREAMHEADSIZE];
    if (length < sizeof head) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    if (!RwStreamReadExact(stream, head, sizeof head)) {
        return nullptr;
    }
    const RwUInt32 format = ReadU32(head);
    RwInt32 numTriangles = ReadI32(head + 4);
    const RwInt32 numVertices = ReadI32(head + 8);
    const RwInt32 numMorphTargets = ReadI32(head + 12);
    const RwInt32 sets = RwGeometryFormatTexCoordSets(format);
    // Everything the counts announce must lie in the struct, and the struct in
    // the stream, before anything is allocated for them.
    if (numTriangles < 0 || numVertices < 0 || numVertices > rwGEOMETRYMAXVERTICES || numMorphTargets < 1 ||
        sets > rwMAXTEXTURECOORDS || StructSize(format, numVertices, numTriangles, sets, numMorphTargets) > length ||
        !RwStreamCanHold(stream, length - sizeof head, 1)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    const RwUInt32 surplus =
        length - static_cast<RwUInt32>(StructSize(format, numVertices, numTriangles, sets, numMorphTargets));
    // Without vertices the stream carries no triangles: none are made.
    if (!HasVertexArrays(format, numVertices) && !(format & rwGEOMETRYNATIVE)) {
        numTriangles = 0;
    }
    RwGeometry *g = RwGeometryCreateUncleared(numVertices, numTriangles, format, numMorphTargets);
    if (!g) {
        return nullptr;
    }
    if ((HasVertexArrays(g->flags, numVertices) && !ReadVertexArrays(g, stream)) || !ReadMorphTargets(g, stream) ||
        (surplus > 0 && !RwStreamSkip(stream, surplus))) {
        return FailRead(g);
    }
    if (!RwWorldStreamFindChunk(stream, rwID_MATLIST, nullptr)) {
        return FailRead(g);
    }
    if (!RwMaterialListStreamRead(stream, &g->matList)) {
        return FailRead(g);
    }
    if (!MaterialIndicesValid(g)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return FailRead(g);
    }
    if (!RwPluginRegistryReadDataChunks(RwGeometryGetPluginRegistry(), stream, g) || !RwGeometryUnlock(g)) {
        return FailRead(g);
    }
    return g;
}

RwStream *RwGeometryBinMeshStreamRead(RwStream *stream, RwInt32 /*length*/, void *object, RwInt32 /*offset*/,
                                      RwInt32 /*size*/)
{
    RwGeometry *g = static_cast<RwGeometry *>(object);
    // The meshes may only name vertices the geometry has.
    RwMeshHeader *header = RwBinMeshStreamRead(stream, g, &g->matList, static_cast<RwUInt32>(g->numVertices));
    if (!header) {
        return nullptr;
    }
    RwMeshHeaderDestroy(g->mesh);
    g->mesh = header;
    return stream;
}

RwStream *RwGeometryBinMeshStreamWrite(RwStream *stream, RwInt32 /*length*/, const void *object,
                                       RwInt32 /*offset*/, RwInt32 /*size*/)
{
    const RwGeometry *g = static_cast<const RwGeometry *>(object);
    return g->mesh ? RwBinMeshStreamWrite(g->mesh, g, stream, &g->matList) : stream;
}

RwInt32 RwGeometryBinMeshStreamGetSize(const void *object, RwInt32 /*offset*/, RwInt32 /*size*/)
{
    const RwGeometry *g = static_cast<const RwGeometry *>(object);
    return g->mesh ? RwBinMeshStreamGetSize(g->mesh, g) : 0;
}
