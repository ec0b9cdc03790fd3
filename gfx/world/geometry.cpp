// Geometry module: creation in one block, morph targets, references, locking and the mesh build on unlock.
#include "geometry.h"

#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/memory.h"
#include "gfx/core/modules.h"
#include "gfx/core/pluginstream.h"
#include "gfx/core/texture.h"
#include "mesh.h"
#include "worldids.h"
#include "worldpipe.h"

struct RwGeometryGlobals {
    RwInt32 reserved;
};
static_assert(sizeof(RwGeometryGlobals) == 4, "the geometry module registers 4 bytes of globals");

static RwPluginRegistry geometryTKList = rwPLUGINREGISTRY_INIT(sizeof(RwGeometry));
static RwInt32 geometryModuleOffset = -1;
static RwInt32 geometryModuleOpens = 0;

void *RwGeometryModuleOpen(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    geometryModuleOffset = offset;
    ++geometryModuleOpens;
    return instance;
}

void *RwGeometryModuleClose(void *instance, RwInt32 /*offset*/, RwInt32 /*size*/)
{
    --geometryModuleOpens;
    return instance;
}

const RwPluginRegistry *RwGeometryGetPluginRegistry(void)
{
    return &geometryTKList;
}

RwInt32 RwGeometryRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                                 RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB)
{
    return RwPluginRegistryAddPlugin(&geometryTKList, size, pluginID, constructCB, destructCB, copyCB);
}

RwInt32 RwGeometryRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                       RwPluginDataChunkWriteCallBack writeCB,
                                       RwPluginDataChunkGetSizeCallBack getSizeCB)
{
    return RwPluginRegistryAddPluginStream(&geometryTKList, pluginID, readCB, writeCB, getSizeCB);
}

RwInt32 RwGeometryGetPluginOffset(RwUInt32 pluginID)
{
    return RwPluginRegistryGetPluginOffset(&geometryTKList, pluginID);
}

RwInt32 RwGeometryFormatTexCoordSets(RwUInt32 format)
{
    const RwInt32 sets = static_cast<RwInt32>((format & rwGEOMETRYTEXCOORDSETSMASK) >> 16);
    if (sets != 0) {
        return sets;
    }
    if (format & rwGEOMETRYTEXTURED2) {
        return 2;
    }
    return (format & rwGEOMETRYTEXTURED) ? 1 : 0;
}

static RwInt32 AddMorphTargets(RwGeometry *geometry, RwInt32 count, bool clear);

// A stream reader overwrites every array it asks for, so it skips the clearing.
static RwGeometry *Create(RwInt32 numVerts, RwInt32 numTriangles, RwUInt32 format, RwInt32 numMorphTargets, bool clear)
{
    if (numVerts < 0 || numTriangles < 0 || numMorphTargets < 1) {
        return nullptr;
    }
    if (numVerts > rwGEOMETRYMAXVERTICES) {
        RwErrorRaise(rwID_WORLDPLUGIN, E_RW_TOOMANYVERTICES);
        return nullptr;
    }
    const RwInt32 sets = RwGeometryFormatTexCoordSets(format);
    if (sets > rwMAXTEXTURECOORDS) {
        // The geometry has room for eight sets only.
        RwErrorRaise(rwID_WORLDPLUGIN, E_RW_TOOMANYTEXCOORDSETS);
        return nullptr;
    }
    RwUInt32 flags = (format & rwGEOMETRYCREATEFLAGSMASK) | (format & rwGEOMETRYNATIVEFLAGSMASK);
    if (sets == 1) {
        flags |= rwGEOMETRYTEXTURED;
    } else if (sets > 1) {
        flags |= rwGEOMETRYTEXTURED2;
    }
    const bool native = (flags & rwGEOMETRYNATIVE) != 0;
    const RwInt32 base = geometryTKList.sizeOfStruct;
    uint64_t size = static_cast<uint64_t>(base);
    if (!native) {
        if (flags & rwGEOMETRYPRELIT) {
            size += static_cast<uint64_t>(numVerts) * sizeof(RwRGBA);
        }
        size += static_cast<uint64_t>(sets) * numVerts * sizeof(RwTexCoords);
        size += static_cast<uint64_t>(numTriangles) * sizeof(RwTriangle);
    }
    RwGeometry *g = size > 0x7FFFFFFF ? nullptr
                                       : static_cast<RwGeometry *>(RwMalloc(static_cast<size_t>(size),
                                                                            rwMEMHINT_GEOMETRY));
    if (!g) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    // Zeroed whole, so that no triangle starts with stray vertex indices.
    std::memset(g, 0, clear ? static_cast<size_t>(size) : static_cast<size_t>(base));
    rwObjectInitialize(g, rwGEOMETRY, 0);
    g->flags = flags;
    g->refCount = 1;
    g->numTriangles = numTriangles;
    g->numVertices = numVerts;
    g->numTexCoordSets = sets;
    RwMaterialListInitialize(&g->matList);
    if (!native) {
        RwUInt8 *next = reinterpret_cast<RwUInt8 *>(g) + base;
        if ((flags & rwGEOMETRYPRELIT) && numVerts > 0) {
            g->preLitLum = reinterpret_cast<RwRGBA *>(next);
            next += sizeof(RwRGBA) * numVerts;
        }
        for (RwInt32 i = 0; i < sets && numVerts > 0; ++i) {
            g->texCoords[i] = reinterpret_cast<RwTexCoords *>(next);
            next += sizeof(RwTexCoords) * numVerts;
        }
        if (numTriangles > 0) {
            g->triangles = reinterpret_cast<RwTriangle *>(next);
            for (RwInt32 i = 0; clear && i < numTriangles; ++i) {
                g->triangles[i].matIndex = rwGEOMETRYNOMATERIAL;
            }
        }
    }
    if (AddMorphTargets(g, numMorphTargets, clear) < 0) {
        RwMaterialListDeinitialize(&g->matList);
        RwFree(g);
        return nullptr;
    }
    if (!RwPluginRegistryInitObject(&geometryTKList, g)) {
        RwFree(g->morphTarget);
        RwMaterialListDeinitialize(&g->matList);
        RwFree(g);
        return nullptr;
    }
    return g;
}

RwGeometry *RwGeometryCreate(RwInt32 numVerts, RwInt32 numTriangles, RwUInt32 format)
{
    return Create(numVerts, numTriangles, format, 1, true);
}

RwGeometry *RwGeometryCreateUncleared(RwInt32 numVerts, RwInt32 numTriangles, RwUInt32 format,
                                      RwInt32 numMorphTargets)
{
    return Create(numVerts, numTriangles, format, numMorphTargets, false);
}

RwGeometry *RwGeometryCreateEmpty(RwReal radius)
{
    RwGeometry *g = RwGeometryCreate(0, 0, 0);
    if (!g) {
        return nullptr;
    }
    g->morphTarget[0].boundingSphere = {{0.0f, 0.0f, 0.0f}, radius};
    if (!RwGeometryUnlock(g)) {
        RwGeometryDestroy(g);
        return nullptr;
    }
    return g;
}

// Bytes of one morph target in the morph-target block: its record, then its
// positions and normals.
static uint64_t MorphTargetSize(const RwGeometry *g)
{
    uint64_t size = sizeof(RwMorphTarget);
    if (!(g->flags & rwGEOMETRYNATIVE)) {
        const uint64_t array = sizeof(RwV3d) * static_cast<uint64_t>(g->numVertices);
        size += (g->flags & rwGEOMETRYNORMALS) ? 2 * array : array;
    }
    return size;
}

RwInt32 RwGeometryAddMorphTargets(RwGeometry *geometry, RwInt32 count)
{
    return AddMorphTargets(geometry, count, true);
}

static RwInt32 AddMorphTargets(RwGeometry *geometry, RwInt32 count, bool clear)
{
    if (count < 0) {
        return -1;
    }
    const RwInt32 old = geometry->numMorphTargets;
    const uint64_t perTarget = MorphTargetSize(geometry);
    const uint64_t total = perTarget * (static_cast<uint64_t>(old) + count);
    void *block = nullptr;
    if (total <= 0x7FFFFFFF) {
        block = geometry->morphTarget ? RwRealloc(geometry->morphTarget, static_cast<size_t>(total), rwMEMHINT_GEOMETRY)
                                      : RwMalloc(static_cast<size_t>(total), rwMEMHINT_GEOMETRY);
    }
    if (!block) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return -1;
    }
    RwUInt8 *bytes = static_cast<RwUInt8 *>(block);
    const size_t arrays = static_cast<size_t>(perTarget) - sizeof(RwMorphTarget);
    const RwInt32 numTargets = old + count;
    // The old targets' arrays move up past the new records, then the new
    // targets' arrays follow them.
    std::memmove(bytes + sizeof(RwMorphTarget) * numTargets, bytes + sizeof(RwMorphTarget) * old, arrays * old);
    if (clear) {
        std::memset(bytes + sizeof(RwMorphTarget) * numTargets + arrays * old, 0, arrays * count);
    }
    RwMorphTarget *targets = static_cast<RwMorphTarget *>(block);
    const size_t vertexBytes = sizeof(RwV3d) * static_cast<size_t>(geometry->numVertices);
    RwUInt8 *data = bytes + sizeof(RwMorphTarget) * numTargets;
    const bool hasArrays = !(geometry->flags & rwGEOMETRYNATIVE) && geometry->numVertices > 0;
    for (RwInt32 i = 0; i < numTargets; ++i) {
        if (i >= old) {
            targets[i].parentGeom = geometry;
            targets[i].boundingSphere = {{0.0f, 0.0f, 0.0f}, 0.0f};
        }
        targets[i].verts = hasArrays ? reinterpret_cast<RwV3d *>(data) : nullptr;
        targets[i].normals = nullptr;
        data += hasArrays ? vertexBytes : 0;
        if (hasArrays && (geometry->flags & rwGEOMETRYNORMALS)) {
            targets[i].normals = reinterpret_cast<RwV3d *>(data);
            data += vertexBytes;
        }
    }
    geometry->morphTarget = targets;
    geometry->numMorphTargets = numTargets;
    return old;
}

RwGeometry *RwGeometryAddRef(RwGeometry *geometry)
{
    geometry->refCount++;
    return geometry;
}

RwBool RwGeometryDestroy(RwGeometry *geometry)
{
    if (geometry->refCount > 1) {
        geometry->refCount--;
        return TRUE;
    }
    if (geometry->repEntry) {
        RwResourcesFreeEntry(geometry->repEntry);
        geometry->repEntry = nullptr;
    }
    // Instances owned by atomics may have left it listed for device restores.
    RwGeometryRemoveFromRestoreList(geometry);
    RwGeometryLock(geometry, rwGEOMETRYLOCKALL);
    geometry->mesh = nullptr;
    RwPluginRegistryDeInitObject(&geometryTKList, geometry);
    RwFree(geometry->morphTarget);
    RwMaterialListDeinitialize(&geometry->matList);
    RwFree(geometry);
    return TRUE;
}

RwGeometry *RwGeometryLock(RwGeometry *geometry, RwUInt16 lockMode)
{
    geometry->lockedSinceLastInst = static_cast<RwUInt16>(geometry->lockedSinceLastInst | lockMode);
    if ((lockMode & rwGEOMETRYLOCKPOLYGONS) && geometry->mesh) {
        RwMeshHeaderDestroy(geometry->mesh);
        geometry->mesh = nullptr;
    }
    return geometry;
}

// Index of item in the list of first occurrences, appended when new.
static RwUInt16 FirstOccurrence(const void **list, RwInt32 *count, const void *item)
{
    for (RwInt32 i = 0; i < *count; ++i) {
        if (list[i] == item) {
            return static_cast<RwUInt16>(i);
        }
    }
    list[*count] = item;
    return static_cast<RwUInt16>((*count)++);
}

// Sort keys of each material list entry: the first entry holding the same
// material (so that a material named twice still makes one mesh), then the
// indices of its texture, raster and pipeline among those that triangles met
// before.
struct UnlockKeys {
    const void **textures;
    const void **rasters;
    const void **pipelines;
    RwUInt16 (*keys)[4];
    RwUInt8 *known;
    RwInt32 counts[3];
};

static const RwUInt16 *MaterialKeys(UnlockKeys *k, const RwMaterialList *list, RwInt32 index)
{
    if (!k->known[index]) {
        const RwMaterial *material = list->materials[index];
        const RwRaster *raster = material->texture ? material->texture->raster : nullptr;
        RwInt32 first = 0;
        while (list->materials[first] != material) {
            ++first;
        }
        k->keys[index][0] = static_cast<RwUInt16>(first);
        k->keys[index][1] = FirstOccurrence(k->textures, &k->counts[0], material->texture);
        k->keys[index][2] = FirstOccurrence(k->rasters, &k->counts[1], raster);
        k->keys[index][3] = FirstOccurrence(k->pipelines, &k->counts[2], material->pipeline);
        k->known[index] = 1;
    }
    return k->keys[index];
}

RwMeshBuilder *RwMeshBuilderAddPolygons(RwMeshBuilder *builder, const RwMaterialList *matList,
                                        const RwTriangle *triangles, RwInt32 numTriangles, RwInt32 materialBase)
{
    const RwInt32 numMaterials = matList->numMaterials;
    if (numMaterials == 0 || !triangles) {
        return builder;   // no triangle can name a material
    }
    const size_t m = static_cast<size_t>(numMaterials);
    UnlockKeys k = {};
    k.textures = static_cast<const void **>(RwMalloc(sizeof(void *) * m, rwMEMHINT_UNLOCKTEXTURES));
    RwUInt8 *scratch = static_cast<RwUInt8 *>(
        RwMalloc(sizeof(void *) * 2 * m + sizeof(RwUInt16) * 4 * m + m, rwMEMHINT_UNLOCKLISTS));
    if (!k.textures || !scratch) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        RwFree(k.textures);
        RwFree(scratch);
        return nullptr;
    }
    k.rasters = reinterpret_cast<const void **>(scratch);
    k.pipelines = k.rasters + m;
    k.keys = reinterpret_cast<RwUInt16(*)[4]>(k.pipelines + m);
    k.known = reinterpret_cast<RwUInt8 *>(k.keys + m);
    std::memset(k.known, 0, m);
    for (RwInt32 i = 0; i < numTriangles && builder; ++i) {
        const RwTriangle &t = triangles[i];
        const RwInt32 index = materialBase + t.matIndex;
        // Triangles without a material (or naming none that exists) are not drawn.
        if (t.matIndex == rwGEOMETRYNOMATERIAL || index >= numMaterials) {
            continue;
        }
        RwMaterial *material = matList->materials[index];
        const RwUInt16 *keys = MaterialKeys(&k, matList, index);
        builder = RwMeshBuilderAddTriangle(builder, material, t.vertIndex[0], t.vertIndex[1], t.vertIndex[2],
                                           keys[0], keys[1], keys[2], keys[3]);
    }
    RwFree(k.textures);
    RwFree(scratch);
    return builder;
}

static RwMeshBuilder *CollectTriangles(const RwGeometry *geometry, RwMeshBuilder *builder)
{
    return RwMeshBuilderAddPolygons(builder, &geometry->matList, geometry->triangles, geometry->numTriangles, 0);
}

RwGeometry *RwGeometryUnlock(RwGeometry *geometry)
{
    if (geometry->mesh) {
        return geometry;
    }
    RwMeshBuilder *builder = RwMeshBuilderCreate(geometry->triangles ? geometry->numTriangles : 0);
    if (!builder) {
        return nullptr;
    }
    if (!CollectTriangles(geometry, builder)) {
        RwMeshBuilderDestroy(builder);
        return nullptr;
    }
    RwMeshHeader *header = RwMeshHeaderBuild(builder, geometry->flags & rwGEOMETRYTRISTRIP);
    if (!header) {
        RwMeshBuilderDestroy(builder);
        return nullptr;
    }
    geometry->mesh = header;
    return geometry;
}

RwGeometry *RwGeometryTriangleSetMaterial(RwGeometry *geometry, RwTriangle *triangle, RwMaterial *material)
{
    if (!material) {
        triangle->matIndex = rwGEOMETRYNOMATERIAL;
        return geometry;
    }
    RwInt32 index = RwMaterialListFindMaterialIndex(&geometry->matList, material);
    if (index < 0) {
        index = RwMaterialListAppendMaterial(&geometry->matList, material);
        if (index < 0) {
            return nullptr;
        }
    }
    triangle->matIndex = static_cast<RwUInt16>(index);
    return geometry;
}

RwGeometry *RwGeometryForAllMaterials(RwGeometry *geometry, RwMaterialCallBack callback, void *data)
{
    for (RwInt32 i = 0; i < geometry->matList.numMaterials; ++i) {
        if (!callback(geometry->matList.materials[i], data)) {
            break;
        }
    }
    return geometry;
}
