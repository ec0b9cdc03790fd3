// World streams: chunk 0x0B with its struct, material list and sector tree, read into one memory block.
#include <cstring>

#include "gfx/core/byteorder.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/finite.h"
#include "gfx/core/memory.h"
#include "gfx/core/modules.h"
#include "gfx/core/pluginstream.h"
#include "gfx/core/stream.h"
#include "geometry.h"
#include "mesh.h"
#include "world.h"
#include "worldids.h"
#include "worldstream.h"

enum : RwUInt32 {
    rwWORLDSTRUCTSIZE = 64,
    rwPLANESTRUCTSIZE = 24,
    rwSECTORSTRUCTSIZE = 44,
    rwPOLYGONORDERVERSION = 0x36002,   // older streams put the material index first
    rwMINSECTORCHUNK = 3 * rwCHUNKHEADERSIZE + rwSECTORSTRUCTSIZE,
    rwMINPLANECHUNK = 2 * rwCHUNKHEADERSIZE + rwPLANESTRUCTSIZE,
};

static bool Native(RwUInt32 format)
{
    return (format & rwGEOMETRYNATIVE) != 0;
}

// Bytes of a world sector's arrays in the stream and in the block.
static uint64_t SectorArrayBytes(RwUInt32 format, RwInt32 sets, uint64_t vertices, uint64_t polygons)
{
    if (Native(format)) {
        return 0;
    }
    uint64_t size = vertices * 12 + (static_cast<uint64_t>(sets) * vertices + polygons) * 8;
    if (format & rwGEOMETRYNORMALS) {
        size += vertices * 4;
    }
    if (format & rwGEOMETRYPRELIT) {
        size += vertices * 4;
    }
    return size;
}

static RwUInt32 SectorStructSize(const RwWorld *world, const RwWorldSector *sector)
{
    return rwSECTORSTRUCTSIZE + static_cast<RwUInt32>(SectorArrayBytes(world->flags, world->numTexCoordSets,
                                                                       sector->numVertices, sector->numPolygons));
}

// Body size of a sector chunk, children included.
static RwUInt32 SectorChunkSize(const RwWorld *world, const RwSector *s)
{
    if (s->type < 0) {
        const RwWorldSector *sector = reinterpret_cast<const RwWorldSector *>(s);
        return rwCHUNKHEADERSIZE + SectorStructSize(world, sector) + rwCHUNKHEADERSIZE +
               static_cast<RwUInt32>(RwPluginRegistryGetSize(RwWorldSectorGetPluginRegistry(), sector));
    }
    const RwPlaneSector *plane = reinterpret_cast<const RwPlaneSector *>(s);
    return rwCHUNKHEADERSIZE + rwPLANESTRUCTSIZE + rwCHUNKHEADERSIZE + SectorChunkSize(world, plane->leftSubTree) +
           rwCHUNKHEADERSIZE + SectorChunkSize(world, plane->rightSubTree);
}

RwUInt32 RwWorldStreamGetSize(const RwWorld *world)
{
    return rwCHUNKHEADERSIZE + rwWORLDSTRUCTSIZE + rwCHUNKHEADERSIZE + RwMaterialListStreamGetSize(&world->matList) +
           rwCHUNKHEADERSIZE + SectorChunkSize(world, world->rootSector) + rwCHUNKHEADERSIZE +
           static_cast<RwUInt32>(RwPluginRegistryGetSize(RwWorldGetPluginRegistry(), world));
}

// The world whose sector is being streamed: the sector's plug-in data is
// sized, written and read against it, wherever the sector's memory lies.
static const RwWorld *streamWorld = nullptr;

namespace {
struct StreamWorldScope {
    const RwWorld *saved;
    explicit StreamWorldScope(const RwWorld *world) : saved(streamWorld) { streamWorld = world; }
    ~StreamWorldScope() { streamWorld = saved; }
};
} // namespace

const RwWorld *RwWorldSectorStreamWorld(const RwWorldSector *sector)
{
    return streamWorld ? streamWorld : RwWorldSectorGetWorld(sector);
}

static bool WriteSector(const RwWorld *world, const RwSector *s, RwStream *stream)
{
    if (s->type < 0) {
        return RwAtomicSectorStreamWrite(reinterpret_cast<const RwWorldSector *>(s), world, stream) != nullptr;
    }
    return RwPlaneSectorStreamWrite(reinterpret_cast<const RwPlaneSector *>(s), world, stream) != nullptr;
}

const RwPlaneSector *RwPlaneSectorStreamWrite(const RwPlaneSector *plane, const RwWorld *world, RwStream *stream)
{
    const StreamWorldScope scope(world);
    RwUInt8 body[rwPLANESTRUCTSIZE];
    WriteI32(body, plane->type);
    WriteF32(body + 4, plane->value);
    WriteU32(body + 8, plane->leftSubTree->type < 0 ? 1 : 0);
    WriteU32(body + 12, plane->rightSubTree->type < 0 ? 1 : 0);
    WriteF32(body + 16, plane->leftValue);
    WriteF32(body + 20, plane->rightValue);
    const RwUInt32 size = SectorChunkSize(world, reinterpret_cast<const RwSector *>(plane));
    const bool ok = RwStreamWriteChunkHeader(stream, rwID_PLANESECT, size) &&
                    RwStreamWriteChunkHeader(stream, rwID_STRUCT, rwPLANESTRUCTSIZE) &&
                    RwStreamWrite(stream, body, sizeof body) && WriteSector(world, plane->leftSubTree, stream) &&
                    WriteSector(world, plane->rightSubTree, stream);
    return ok ? plane : nullptr;
}

const RwWorldSector *RwAtomicSectorStreamWrite(const RwWorldSector *sector, const RwWorld *world, RwStream *stream)
{
    const StreamWorldScope scope(world);
    RwUInt8 body[rwSECTORSTRUCTSIZE] = {};
    WriteU32(body, sector->matListWindowBase);
    WriteU32(body + 4, sector->numPolygons);
    WriteU32(body + 8, sector->numVertices);
    const RwBBox &t = sector->tightBoundingBox;
    const RwReal box[6] = {t.inf.x, t.inf.y, t.inf.z, t.sup.x, t.sup.y, t.sup.z};
    for (int i = 0; i < 6; ++i) {
        WriteF32(body + 12 + 4 * i, box[i]);
    }
    const RwUInt32 size = SectorChunkSize(world, reinterpret_cast<const RwSector *>(sector));
    if (!RwStreamWriteChunkHeader(stream, rwID_ATOMICSECT, size) ||
        !RwStreamWriteChunkHeader(stream, rwID_STRUCT, SectorStructSize(world, sector)) ||
        !RwStreamWrite(stream, body, sizeof body)) {
        return nullptr;
    }
    if (!Native(world->flags) && sector->numVertices > 0) {
        const RwUInt32 v = sector->numVertices;
        if (!RwStreamWriteReal(stream, &sector->vertices->x, 12 * v) ||
            ((world->flags & rwGEOMETRYNORMALS) && !RwStreamWrite(stream, sector->normals, 4 * v)) ||
            ((world->flags & rwGEOMETRYPRELIT) && !RwStreamWrite(stream, sector->preLitLum, 4 * v))) {
            return nullptr;
        }
        for (RwInt32 i = 0; i < world->numTexCoordSets; ++i) {
            if (!RwStreamWriteReal(stream, reinterpret_cast<const RwReal *>(sector->texCoords[i]), 8 * v)) {
                return nullptr;
            }
        }
    }
    if (!Native(world->flags) && sector->numPolygons > 0 &&
        !RwStreamWriteInt16(stream, reinterpret_cast<const RwInt16 *>(sector->polygons), 8u * sector->numPolygons)) {
        return nullptr;
    }
    return RwPluginRegistryWriteDataChunks(RwWorldSectorGetPluginRegistry(), stream, sector) ? sector : nullptr;
}

const RwWorld *RwWorldStreamWrite(const RwWorld *world, RwStream *stream)
{
    RwInt32 counts[4] = {};   // polygons, vertices, plane sectors, world sectors
    struct Counter {
        static void Count(const RwSector *s, RwInt32 *c)
        {
            if (s->type < 0) {
                const RwWorldSector *sector = reinterpret_cast<const RwWorldSector *>(s);
                c[0] += sector->numPolygons;
                c[1] += sector->numVertices;
                c[3] += 1;
            } else {
                c[2] += 1;
                Count(reinterpret_cast<const RwPlaneSector *>(s)->leftSubTree, c);
                Count(reinterpret_cast<const RwPlaneSector *>(s)->rightSubTree, c);
            }
        }
    };
    Counter::Count(world->rootSector, counts);
    RwUInt8 body[rwWORLDSTRUCTSIZE] = {};
    WriteU32(body, world->rootSector->type < 0 ? 1 : 0);
    WriteF32(body + 4, -world->worldOrigin.x);
    WriteF32(body + 8, -world->worldOrigin.y);
    WriteF32(body + 12, -world->worldOrigin.z);
    for (int i = 0; i < 4; ++i) {
        WriteI32(body + 16 + 4 * i, counts[i]);
    }
    const RwUInt32 format = (world->flags & ~static_cast<RwUInt32>(rwGEOMETRYTEXCOORDSETSMASK)) |
                            (static_cast<RwUInt32>(world->numTexCoordSets & 0xFF) << 16) | rwWORLDFORMATEXTENTS;
    WriteU32(body + 36, format);
    const RwBBox &b = world->boundingBox;
    const RwReal box[6] = {b.sup.x, b.sup.y, b.sup.z, b.inf.x, b.inf.y, b.inf.z};
    for (int i = 0; i < 6; ++i) {
        WriteF32(body + 40 + 4 * i, box[i]);
    }
    const RwUInt32 size = RwWorldStreamGetSize(world);
    if (!RwStreamWriteChunkHeader(stream, rwID_WORLD, size) ||
        !RwStreamWriteChunkHeader(stream, rwID_STRUCT, rwWORLDSTRUCTSIZE) ||
        !RwStreamWrite(stream, body, sizeof body) ||
        !RwMaterialListStreamWrite(&world->matList, stream) || !WriteSector(world, world->rootSector, stream) ||
        !RwPluginRegistryWriteDataChunks(RwWorldGetPluginRegistry(), stream, world)) {
        return nullptr;
    }
    return world;
}

static void ReadError(RwUInt32 code = E_RW_READ)
{
    RwErrorRaise(rwID_COREPLUGIN, code);
}

// Reads a struct of at most size bytes into a zeroed area.
static bool ReadStruct(RwStream *stream, RwUInt8 *area, RwUInt32 size, RwUInt32 *version)
{
    RwUInt32 length = 0;
    std::memset(area, 0, size);
    if (!RwWorldStreamFindChecked(stream, rwID_STRUCT, &length, version)) {
        return false;
    }
    if (length > size) {
        ReadError();
        return false;
    }
    return RwStreamReadExact(stream, area, length) != nullptr;
}

static void ReleaseTree(RwSector *s)
{
    if (!s) {
        return;
    }
    if (s->type >= 0) {
        ReleaseTree(reinterpret_cast<RwPlaneSector *>(s)->leftSubTree);
        ReleaseTree(reinterpret_cast<RwPlaneSector *>(s)->rightSubTree);
        return;
    }
    RwWorldSectorRelease(reinterpret_cast<RwWorldSector *>(s));
}

static void *Take(RwWorldStreamCursor *cursor, uint64_t bytes)
{
    void *p = cursor->next;
    cursor->next += bytes;
    return p;
}

static void *TakeArray(RwWorldStreamCursor *cursor, uint64_t bytes)
{
    void *p = cursor->arrays;
    cursor->arrays += bytes;
    return p;
}

static RwSector *ReadSector(RwStream *stream, RwWorldStreamCursor *cursor, RwWorld *world, RwUInt32 format,
                           bool worldSector);

RwWorldSector *RwAtomicSectorStreamRead(RwStream *stream, RwWorldStreamCursor *cursor, RwWorld *world,
                                        RwUInt32 format)
{
    const StreamWorldScope scope(world);
    const RwInt32 sets = RwGeometryFormatTexCoordSets(format);
    if (sets > rwMAXTEXTURECOORDS) {
        RwErrorRaise(rwID_WORLDPLUGIN, E_RW_TOOMANYTEXCOORDSETS);
        return nullptr;
    }
    RwUInt8 body[rwSECTORSTRUCTSIZE];
    RwUInt32 version = 0;
    RwUInt32 length = 0;
    if (!RwWorldStreamFindChecked(stream, rwID_STRUCT, &length, &version)) {
        return nullptr;
    }
    if (length < sizeof body || !RwStreamReadExact(stream, body, sizeof body)) {
        ReadError();
        return nullptr;
    }
    const RwUInt32 base = ReadU32(body);
    const RwUInt32 numPolygons = ReadU32(body + 4);
    const RwUInt32 numVertices = ReadU32(body + 8);
    RwReal box[6];
    ReadF32s(body + 12, box, 6);
    if (!RwStreamRealsFinite(box, 6)) {
        return nullptr;
    }
    // Counts must fit their 16-bit fields and the totals the block was sized for.
    if (cursor->worldSectors <= 0 || base > 0xFFFF || numPolygons > 0xFFFF || numVertices > 0xFFFF ||
        numPolygons > static_cast<RwUInt32>(cursor->polygons) ||
        numVertices > static_cast<RwUInt32>(cursor->vertices)) {
        ReadError();
        return nullptr;
    }
    // The struct holds the arrays the counts call for.
    if (length != rwSECTORSTRUCTSIZE + SectorArrayBytes(format, sets, numVertices, numPolygons)) {
        ReadError();
        return nullptr;
    }
    --cursor->worldSectors;
    cursor->polygons -= static_cast<RwInt32>(numPolygons);
    cursor->vertices -= static_cast<RwInt32>(numVertices);
    const RwInt32 recordSize = RwWorldSectorGetPluginRegistry()->sizeOfStruct;
    RwWorldSector *sector = static_cast<RwWorldSector *>(Take(cursor, recordSize));
    // The caller's block may hold anything: the record starts clear, as in a
    // world's own block, and its plug-in data is then made by the constructors.
    std::memset(sector, 0, static_cast<size_t>(recordSize));
    sector->type = rwSECTORATOMIC;
    sector->matListWindowBase = static_cast<RwUInt16>(base);
    sector->numPolygons = static_cast<RwUInt16>(numPolygons);
    sector->numVertices = static_cast<RwUInt16>(numVertices);
    sector->tightBoundingBox.inf = {box[0], box[1], box[2]};
    sector->tightBoundingBox.sup = {box[3], box[4], box[5]};
    RwLinkListInitialize(&sector->collAtomicsInWorldSector);
    RwLinkListInitialize(&sector->lightsInWorldSector);
    if (!Native(format)) {
        const RwUInt32 v = numVertices;
        if (v > 0) {
            sector->vertices = static_cast<RwV3d *>(TakeArray(cursor, 12 * v));
            if (!RwWorldStreamReadReals(stream, &sector->vertices->x, 12 * v)) {
                return nullptr;
            }
            if (format & rwGEOMETRYNORMALS) {
                sector->normals = static_cast<RwUInt32 *>(TakeArray(cursor, 4 * v));
                if (!RwStreamReadExact(stream, sector->normals, 4 * v)) {
                    return nullptr;
                }
            }
            if (format & rwGEOMETRYPRELIT) {
                sector->preLitLum = static_cast<RwRGBA *>(TakeArray(cursor, 4 * v));
                if (!RwStreamReadExact(stream, sector->preLitLum, 4 * v)) {
                    return nullptr;
                }
            }
            for (RwInt32 i = 0; i < sets; ++i) {
                sector->texCoords[i] = static_cast<RwTexCoords *>(TakeArray(cursor, 8 * v));
                if (!RwWorldStreamReadReals(stream, reinterpret_cast<RwReal *>(sector->texCoords[i]), 8 * v)) {
                    return nullptr;
                }
            }
        }
        if (numPolygons > 0) {
            sector->polygons = static_cast<RwTriangle *>(TakeArray(cursor, 8 * numPolygons));
            RwUInt16 *p = reinterpret_cast<RwUInt16 *>(sector->polygons);
            if (!RwWorldStreamReadInt16s(stream, reinterpret_cast<RwInt16 *>(p), 8 * numPolygons)) {
                return nullptr;
            }
            for (RwUInt32 i = 0; version < rwPOLYGONORDERVERSION && i < numPolygons; ++i) {
                RwUInt16 *q = p + 4 * i;
                const RwUInt16 material = q[0];
                q[0] = q[1];
                q[1] = q[2];
                q[2] = q[3];
                q[3] = material;
            }
            // Every index must name a vertex of the sector (none can without
            // vertices). Checked without branches, the verdict taken once at the end.
            const RwUInt32 limit = v;
            const RwUInt32 materials = static_cast<RwUInt32>(world->matList.numMaterials);
            RwUInt32 bad = 0;
            for (RwUInt32 i = 0; i < numPolygons; ++i, p += 4) {
                bad |= static_cast<RwUInt32>(p[0] >= limit) | static_cast<RwUInt32>(p[1] >= limit) |
                       static_cast<RwUInt32>(p[2] >= limit) | static_cast<RwUInt32>(base + p[3] >= materials);
            }
            if (bad) {
                ReadError();
                return nullptr;
            }
        }
    }
    if (!RwPluginRegistryInitObject(RwWorldSectorGetPluginRegistry(), sector)) {
        return nullptr;
    }
    RwRightsRecord *rights = RwWorldGetRightsRecord(rwRIGHTSSECTOR);
    *rights = {};
    if (!RwPluginRegistryReadDataChunks(RwWorldSectorGetPluginRegistry(), stream, sector)) {
        ReleaseTree(reinterpret_cast<RwSector *>(sector));
        return nullptr;
    }
    if (rights->pluginID) {
        RwPluginRegistryInvokeRights(RwWorldSectorGetPluginRegistry(), rights->pluginID, sector, rights->data);
    }
    return sector;
}

RwPlaneSector *RwPlaneSectorStreamRead(RwStream *stream, RwWorldStreamCursor *cursor, RwWorld *world, RwUInt32 format)
{
    RwUInt8 body[rwPLANESTRUCTSIZE];
    if (!ReadStruct(stream, body, sizeof body, nullptr)) {
        return nullptr;
    }
    const RwInt32 type = ReadI32(body);
    const RwReal values[3] = {ReadF32(body + 4), ReadF32(body + 16), ReadF32(body + 20)};
    // The extents count only in worlds that have them.
    const bool extents = (format & rwWORLDFORMATEXTENTS) != 0;
    if (!RwStreamRealsFinite(values, extents ? 3 : 1)) {
        return nullptr;
    }
    // The walks keep one pending child per level: deeper trees are refused.
    if (cursor->planeSectors <= 0 || cursor->depth >= rwMAXSECTORDEPTH || (type != 0 && type != 4 && type != 8)) {
        ReadError();
        return nullptr;
    }
    --cursor->planeSectors;
    RwPlaneSector *plane = static_cast<RwPlaneSector *>(Take(cursor, sizeof(RwPlaneSector)));
    plane->type = type;
    plane->value = values[0];
    plane->leftValue = extents ? values[1] : plane->value;
    plane->rightValue = extents ? values[2] : plane->value;
    ++cursor->depth;
    plane->leftSubTree = ReadSector(stream, cursor, world, format, ReadU32(body + 8) == 1);
    if (plane->leftSubTree) {
        plane->rightSubTree = ReadSector(stream, cursor, world, format, ReadU32(body + 12) == 1);
        if (!plane->rightSubTree) {
            ReleaseTree(plane->leftSubTree);
        }
    }
    --cursor->depth;
    return plane->leftSubTree && plane->rightSubTree ? plane : nullptr;
}

static RwSector *ReadSector(RwStream *stream, RwWorldStreamCursor *cursor, RwWorld *world, RwUInt32 format,
                           bool worldSector)
{
    if (!RwWorldStreamFindChecked(stream, worldSector ? rwID_ATOMICSECT : rwID_PLANESECT, nullptr, nullptr)) {
        return nullptr;
    }
    return worldSector ? reinterpret_cast<RwSector *>(RwAtomicSectorStreamRead(stream, cursor, world, format))
                       : reinterpret_cast<RwSector *>(RwPlaneSectorStreamRead(stream, cursor, world, format));
}

// Unlinks and frees a world whose tree and plug-ins were released already.
static void FreeHalfRead(RwWorld *world)
{
    world->rootSector = nullptr;
    RwMaterialListDeinitialize(&world->matList);
    RwWorldFreeUnconstructed(world);
}

RwWorld *RwWorldStreamRead(RwStream *stream)
{
    RwUInt8 body[rwWORLDSTRUCTSIZE];
    if (!ReadStruct(stream, body, sizeof body, nullptr)) {
        return nullptr;
    }
    if (ReadU32(body + 32) > 0) {
        ReadError(E_RW_BADVERSION);
        return nullptr;
    }
    // Origin, then bounding box.
    RwReal reals[9];
    ReadF32s(body + 4, reals, 3);
    ReadF32s(body + 40, reals + 3, 6);
    if (!RwStreamRealsFinite(reals, 9)) {
        return nullptr;
    }
    const RwUInt32 format = ReadU32(body + 36);
    const RwInt32 sets = RwGeometryFormatTexCoordSets(format);
    const RwInt32 polygons = ReadI32(body + 16);
    const RwInt32 vertices = ReadI32(body + 20);
    const RwInt32 planes = ReadI32(body + 24);
    const RwInt32 sectors = ReadI32(body + 28);
    if (sets > rwMAXTEXTURECOORDS) {
        RwErrorRaise(rwID_WORLDPLUGIN, E_RW_TOOMANYTEXCOORDSETS);
        return nullptr;
    }
    // A tree of P plane sectors has P + 1 world sectors; the arrays and sector
    // chunks the totals call for must fit in what the stream still holds.
    const uint64_t arrays =
        SectorArrayBytes(format, sets, static_cast<RwUInt32>(vertices), static_cast<RwUInt32>(polygons));
    if (polygons < 0 || vertices < 0 || planes < 0 || sectors != planes + 1 || arrays > 0x7FFFFFFF ||
        !RwStreamCanHold(stream, static_cast<RwUInt32>(arrays), 1) ||
        !RwStreamCanHold(stream, static_cast<RwUInt32>(sectors), rwMINSECTORCHUNK) ||
        !RwStreamCanHold(stream, static_cast<RwUInt32>(planes), rwMINPLANECHUNK)) {
        ReadError();
        return nullptr;
    }
    const uint64_t blockSize = static_cast<uint64_t>(RwWorldGetPluginRegistry()->sizeOfStruct) +
                               static_cast<uint64_t>(RwWorldSectorGetPluginRegistry()->sizeOfStruct) * sectors +
                               sizeof(RwPlaneSector) * static_cast<uint64_t>(planes) + arrays;
    RwWorld *world = blockSize <= 0x7FFFFFFF ? static_cast<RwWorld *>(RwMalloc(blockSize, rwMEMHINT_WORLD)) : nullptr;
    if (!world) {
        ReadError(E_RW_NOMEM);
        return nullptr;
    }
    // The arrays after the objects are read whole: only the objects are cleared.
    std::memset(world, 0, static_cast<size_t>(blockSize - arrays));
    world->object.type = rwWORLD;
    world->object.privateFlags = rwWORLDSINGLEMALLOC;
    world->renderOrder = rwRENDERORDERBACK2FRONT;
    world->flags = format;
    world->worldOrigin = {-reals[0], -reals[1], -reals[2]};
    world->numTexCoordSets = sets;
    RwMaterialListInitialize(&world->matList);
    RwLinkListInitialize(&world->clumpList);
    RwLinkListInitialize(&world->lightList);
    RwLinkListInitialize(&world->directionalLightList);
    world->currentClumpLink = &world->clumpList;
    RwWorldListAdd(world, static_cast<RwUInt32>(blockSize));

    RwWorldStreamCursor cursor = {reinterpret_cast<RwUInt8 *>(world) + RwWorldGetPluginRegistry()->sizeOfStruct,
                          reinterpret_cast<RwUInt8 *>(world) + (blockSize - arrays),
                          sectors, planes, vertices, polygons, 0};
    if (!RwWorldStreamFindChecked(stream, rwID_MATLIST, nullptr) ||
        !RwMaterialListStreamRead(stream, &world->matList)) {
        FreeHalfRead(world);
        return nullptr;
    }
    world->rootSector = ReadSector(stream, &cursor, world, format, ReadU32(body) == 1);
    if (!world->rootSector) {
        FreeHalfRead(world);
        return nullptr;
    }
    world->boundingBox.sup = {reals[3], reals[4], reals[5]};
    world->boundingBox.inf = {reals[6], reals[7], reals[8]};
    RwWorldSetSectorBoxes(world);
    world->renderCallBack = RwWorldSectorDefaultRenderCallBack;
    if (!RwPluginRegistryInitObject(RwWorldGetPluginRegistry(), world)) {
        ReleaseTree(world->rootSector);
        FreeHalfRead(world);
        return nullptr;
    }
    RwRightsRecord *rights = RwWorldGetRightsRecord(rwRIGHTSWORLD);
    *rights = {};
    if (!RwPluginRegistryReadDataChunks(RwWorldGetPluginRegistry(), stream, world)) {
        RwWorldDestroy(world);
        return nullptr;
    }
    if (rights->pluginID) {
        RwPluginRegistryInvokeRights(RwWorldGetPluginRegistry(), rights->pluginID, world, rights->data);
    }
    if (!RwWorldBuildSectorMeshes(world)) {
        RwWorldDestroy(world);
        return nullptr;
    }
    return world;
}
