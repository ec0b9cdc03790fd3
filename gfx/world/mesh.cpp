// Mesh module: builders, the triangle order that puts transparent materials last, and list headers.
#include "mesh.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/memory.h"
#include "gfx/core/modules.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "material.h"
#include "meshbuild.h"

struct RwMeshGlobals {
    RwUInt16 serialNum;               // next header's serial number
    RwUInt16 pad;
    RwInt32 primOfType[6];            // by mesh-type slot: 0, 1, 2, 4, 8, 16
    RwUInt16 typeOfPrim[7];           // by primitive code 0..6
};
static_assert(sizeof(RwMeshGlobals) <= 48, "the mesh module registers 48 bytes of globals");

static RwInt32 meshModuleOffset = -1;
static RwInt32 meshModuleOpens = 0;
static RwFreeList builderFreeListSpace;
static RwFreeList *builderFreeList = nullptr;
static RwMeshHeader emptyMeshHeader = {0, 0, 0, 0, 0};
static RwMeshStripBuilder stripBuilder = RwMeshBuildTriStrips;
static RwUInt32 stripBuilderData = 0;

enum : RwInt32 { rwMESHBUILDERSPERBLOCK = 50 };

static RwMeshGlobals *MeshGlobals()
{
    return RwEngineModuleGlobals<RwMeshGlobals>(meshModuleOffset);
}

static void MeshError(RwUInt32 code)
{
    RwErrorRaise(rwID_COREPLUGIN, code);
}

void *RwMeshModuleOpen(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    if (meshModuleOpens == 0) {
        builderFreeList = RwFreeListCreateAndPreallocate(sizeof(RwMeshBuilder), rwMESHBUILDERSPERBLOCK, 4, 1,
                                                         &builderFreeListSpace, rwMEMHINT_MESHFREELIST);
        if (!builderFreeList) {
            return nullptr;
        }
    }
    meshModuleOffset = offset;
    RwMeshGlobals *g = reinterpret_cast<RwMeshGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    g->serialNum = 1;
    static const RwInt32 prims[6] = {rwPRIMTYPETRILIST, rwPRIMTYPETRISTRIP, rwPRIMTYPETRIFAN,
                                     rwPRIMTYPELINELIST, rwPRIMTYPEPOLYLINE, rwPRIMTYPEPOINTLIST};
    static const RwUInt16 types[7] = {0, rwMESHHEADERLINELIST, rwMESHHEADERPOLYLINE, rwMESHHEADERTRILIST,
                                      rwMESHHEADERTRISTRIP, rwMESHHEADERTRIFAN, rwMESHHEADERPOINTLIST};
    std::memcpy(g->primOfType, prims, sizeof prims);
    std::memcpy(g->typeOfPrim, types, sizeof types);
    ++meshModuleOpens;
    return instance;
}

void *RwMeshModuleClose(void *instance, RwInt32 /*offset*/, RwInt32 /*size*/)
{
    if (meshModuleOpens > 0 && --meshModuleOpens == 0 && builderFreeList) {
        RwFreeListDestroy(builderFreeList);
        builderFreeList = nullptr;
    }
    return instance;
}

// Slot of a mesh type in the primitive table, or -1.
static RwInt32 MeshTypeSlot(RwUInt32 meshType)
{
    switch (meshType) {
    case rwMESHHEADERTRILIST: return 0;
    case rwMESHHEADERTRISTRIP: return 1;
    case rwMESHHEADERTRIFAN: return 2;
    case rwMESHHEADERLINELIST: return 3;
    case rwMESHHEADERPOLYLINE: return 4;
    case rwMESHHEADERPOINTLIST: return 5;
    default: return -1;
    }
}

RwInt32 RwMeshTypeGetPrimitive(RwUInt32 meshType)
{
    const RwInt32 slot = MeshTypeSlot(meshType);
    return slot < 0 ? rwPRIMTYPENAPRIMTYPE : MeshGlobals()->primOfType[slot];
}

RwUInt32 RwMeshPrimitiveGetType(RwInt32 primType)
{
    if (primType < rwPRIMTYPELINELIST || primType > rwPRIMTYPEPOINTLIST) {
        return rwMESHHEADERTRILIST;
    }
    return MeshGlobals()->typeOfPrim[primType];
}

void RwMeshSetStripBuilder(RwMeshStripBuilder builder, RwUInt32 data)
{
    stripBuilder = builder ? builder : RwMeshBuildTriStrips;
    stripBuilderData = builder ? data : 0;
}

RwMeshStripBuilder RwMeshGetStripBuilder(RwUInt32 *data)
{
    if (data) {
        *data = stripBuilderData;
    }
    return stripBuilder;
}

RwMeshBuilder *RwMeshBuilderCreate(RwInt32 triangleCount)
{
    if (triangleCount < 0) {
        MeshError(E_RW_NOMEM);
        return nullptr;
    }
    RwMeshBuilder *builder = static_cast<RwMeshBuilder *>(RwFreeListAlloc(builderFreeList, rwMEMHINT_MESH));
    if (!builder) {
        MeshError(E_RW_NOMEM);
        return nullptr;
    }
    builder->capacity = triangleCount;
    builder->numTriangles = 0;
    builder->triangles = nullptr;
    if (triangleCount > 0) {
        builder->triangles = static_cast<RwBuildMeshTriangle *>(
            RwMalloc(sizeof(RwBuildMeshTriangle) * static_cast<size_t>(triangleCount), rwMEMHINT_MESHARRAY));
        if (!builder->triangles) {
            RwFreeListFree(builderFreeList, builder);
            MeshError(E_RW_NOMEM);
            return nullptr;
        }
    }
    return builder;
}

RwMeshBuilder *RwMeshBuilderAddTriangle(RwMeshBuilder *builder, RwMaterial *material, RwInt32 i0, RwInt32 i1,
                                        RwInt32 i2, RwUInt16 k1, RwUInt16 k2, RwUInt16 k3, RwUInt16 k4)
{
    if (builder->numTriangles >= builder->capacity) {
        void *grown = RwRealloc(builder->triangles,
                                sizeof(RwBuildMeshTriangle) * (static_cast<size_t>(builder->capacity) + 1),
                                rwMEMHINT_MESHARRAY);
        if (!grown) {
            MeshError(E_RW_NOMEM);
            return nullptr;
        }
        builder->triangles = static_cast<RwBuildMeshTriangle *>(grown);
        builder->capacity++;
    }
    RwBuildMeshTriangle *t = &builder->triangles[builder->numTriangles++];
    t->vertIndex[0] = static_cast<RwUInt16>(i0);
    t->vertIndex[1] = static_cast<RwUInt16>(i1);
    t->vertIndex[2] = static_cast<RwUInt16>(i2);
    t->pad = 0;
    t->material = material;
    t->key[0] = k1;
    t->key[1] = k2;
    t->key[2] = k3;
    t->key[3] = k4;
    return builder;
}

RwBool RwMeshBuilderDestroy(RwMeshBuilder *builder)
{
    RwFree(builder->triangles);
    RwFreeListFree(builderFreeList, builder);
    return TRUE;
}

RwBool RwMaterialIsTransparent(const RwMaterial *material)
{
    if (!material) {
        return FALSE;
    }
    if (material->color.alpha < 255) {
        return TRUE;
    }
    if (material->texture && material->texture->raster) {
        const RwInt32 format = RwRasterGetFormat(material->texture->raster) & rwRASTERFORMATPIXELFORMATMASK;
        return format == rwRASTERFORMAT1555 || format == rwRASTERFORMAT4444 || format == rwRASTERFORMAT8888;
    }
    return FALSE;
}

// Opaque before transparent, then the keys with k3 strongest, then k4, k2,
// k1. The material's address breaks the remaining ties, so that different
// materials with equal keys still form separate runs, and then the record's
// own address, so that a material's triangles keep their order. A total
// order, also when one material comes with different keys.
static bool MeshOrderLess(const RwBuildMeshTriangle *a, const RwBuildMeshTriangle *b)
{
    const RwUInt32 ka[5] = {RwMaterialIsTransparent(a->material) ? 1u : 0u, a->key[2], a->key[3], a->key[1],
                            a->key[0]};
    const RwUInt32 kb[5] = {RwMaterialIsTransparent(b->material) ? 1u : 0u, b->key[2], b->key[3], b->key[1],
                            b->key[0]};
    for (int i = 0; i < 5; ++i) {
        if (ka[i] != kb[i]) {
            return ka[i] < kb[i];
        }
    }
    if (a->material != b->material) {
        return std::less<const RwMaterial *>()(a->material, b->material);
    }
    return a < b;
}

RwBuildMeshTriangle **RwMeshBuilderSortTriangles(const RwMeshBuilder *builder)
{
    const RwInt32 n = builder->numTriangles;
    RwBuildMeshTriangle **sorted = static_cast<RwBuildMeshTriangle **>(
        RwMalloc(sizeof(RwBuildMeshTriangle *) * static_cast<size_t>(n), rwMEMHINT_MESHTEMP));
    if (!sorted) {
        MeshError(E_RW_NOMEM);
        return nullptr;
    }
    for (RwInt32 i = 0; i < n; ++i) {
        sorted[i] = &builder->triangles[i];
    }
    std::sort(sorted, sorted + n, MeshOrderLess);
    return sorted;
}

RwInt32 RwMeshCountMaterialRuns(RwBuildMeshTriangle *const *sorted, RwInt32 count)
{
    RwInt32 runs = 0;
    for (RwInt32 i = 0; i < count; ++i) {
        if (i == 0 || sorted[i]->material != sorted[i - 1]->material) {
            ++runs;
        }
    }
    return runs;
}

RwMeshHeader *RwMeshHeaderAllocate(RwUInt32 flags, RwInt32 numMeshes, RwUInt32 totalIndices)
{
    if (numMeshes > 0xFFFF) {
        // The header counts its meshes in 16 bits.
        MeshError(E_RW_NOMEM);
        return nullptr;
    }
    const size_t bytes = sizeof(RwMeshHeader) + sizeof(RwMesh) * static_cast<size_t>(numMeshes) +
                         sizeof(RwUInt16) * static_cast<size_t>(totalIndices);
    RwMeshHeader *header = static_cast<RwMeshHeader *>(RwMalloc(bytes, rwMEMHINT_MESH));
    if (!header) {
        MeshError(E_RW_NOMEM);
        return nullptr;
    }
    RwMeshGlobals *g = MeshGlobals();
    header->flags = flags;
    header->numMeshes = static_cast<RwUInt16>(numMeshes);
    header->serialNum = g->serialNum++;
    header->totalIndicesInMesh = totalIndices;
    header->firstMeshOffset = 0;
    return header;
}

// Puts the mesh's triangles in passes: each pass takes, in order, every
// triangle not yet placed that shares no vertex with one placed in the same
// pass. Without scratch memory the mesh keeps its order.
static void ReorderForVertexReuse(RwMesh *mesh)
{
    const RwUInt32 numTris = mesh->numIndices / 3;
    RwUInt16 *copy = static_cast<RwUInt16 *>(RwMalloc(sizeof(RwUInt16) * mesh->numIndices, rwMEMHINT_MESHTEMP));
    RwUInt8 *seen = static_cast<RwUInt8 *>(RwMalloc(65536 / 8 + numTris, rwMEMHINT_MESHTEMP));
    if (!copy || !seen) {
        RwFree(copy);
        RwFree(seen);
        return;
    }
    std::memcpy(copy, mesh->indices, sizeof(RwUInt16) * mesh->numIndices);
    RwUInt8 *bitmap = seen;
    RwUInt8 *placed = seen + 65536 / 8;
    std::memset(placed, 0, numTris);
    RwUInt32 written = 0;
    while (written < numTris) {
        std::memset(bitmap, 0, 65536 / 8);
        for (RwUInt32 t = 0; t < numTris; ++t) {
            const RwUInt16 *v = copy + 3 * t;
            if (placed[t] || (bitmap[v[0] >> 3] & (1 << (v[0] & 7))) || (bitmap[v[1] >> 3] & (1 << (v[1] & 7))) ||
                (bitmap[v[2] >> 3] & (1 << (v[2] & 7)))) {
                continue;
            }
            for (int k = 0; k < 3; ++k) {
                mesh->indices[3 * written + k] = v[k];
                bitmap[v[k] >> 3] = static_cast<RwUInt8>(bitmap[v[k] >> 3] | (1 << (v[k] & 7)));
            }
            placed[t] = 1;
            ++written;
        }
    }
    RwFree(copy);
    RwFree(seen);
}

static RwMeshHeader *BuildTriLists(RwMeshBuilder *builder)
{
    const RwInt32 n = builder->numTriangles;
    RwBuildMeshTriangle **sorted = RwMeshBuilderSortTriangles(builder);
    if (!sorted) {
        return nullptr;
    }
    const RwInt32 runs = RwMeshCountMaterialRuns(sorted, n);
    RwMeshHeader *header = RwMeshHeaderAllocate(rwMESHHEADERTRILIST, runs, 3 * static_cast<RwUInt32>(n));
    if (!header) {
        RwFree(sorted);
        return nullptr;
    }
    RwMesh *meshes = RwMeshHeaderGetMeshes(header);
    RwUInt16 *next = reinterpret_cast<RwUInt16 *>(meshes + runs);
    RwMesh *mesh = meshes - 1;
    for (RwInt32 i = 0; i < n; ++i) {
        const RwBuildMeshTriangle *t = sorted[i];
        if (i == 0 || t->material != sorted[i - 1]->material) {
            ++mesh;
            mesh->indices = next;
            mesh->numIndices = 0;
            mesh->material = t->material;
        }
        for (int k = 0; k < 3; ++k) {
            *next++ = t->vertIndex[k];
        }
        mesh->numIndices += 3;
    }
    RwFree(sorted);
    for (RwInt32 m = 0; m < runs; ++m) {
        ReorderForVertexReuse(&meshes[m]);
    }
    return header;
}

RwMeshHeader *RwMeshHeaderBuild(RwMeshBuilder *builder, RwUInt32 flags)
{
    if (!builder) {
        return nullptr;
    }
    RwMeshHeader *header;
    if (builder->numTriangles == 0) {
        header = &emptyMeshHeader;
    } else if (flags & rwMESHHEADERTRISTRIP) {
        header = stripBuilder(builder, stripBuilderData);
    } else {
        header = BuildTriLists(builder);
    }
    if (!header) {
        return nullptr;
    }
    RwMeshBuilderDestroy(builder);
    return header;
}

RwMeshHeader *RwMeshHeaderGetEmpty(void)
{
    return &emptyMeshHeader;
}

RwBool RwMeshHeaderDestroy(RwMeshHeader *header)
{
    // The shared empty header is told by its address: an allocated header
    // whose fields happen to be zero (a wrapped serial number) is still freed.
    if (header && header != &emptyMeshHeader) {
        RwFree(header);
    }
    return TRUE;
}

RwMeshHeader *RwMeshHeaderForAllMeshes(RwMeshHeader *header, RwMeshCallBack callback, void *data)
{
    RwMesh *meshes = RwMeshHeaderGetMeshes(header);
    for (RwUInt32 i = 0; i < header->numMeshes; ++i) {
        if (!callback(&meshes[i], header, data)) {
            break;
        }
    }
    return header;
}

RwBool RwMeshHeaderIndicesBelow(const RwMeshHeader *header, RwUInt32 vertexCount)
{
    const RwMesh *meshes = RwMeshHeaderGetMeshes(const_cast<RwMeshHeader *>(header));
    for (RwUInt32 m = 0; m < header->numMeshes; ++m) {
        for (RwUInt32 i = 0; meshes[m].indices && i < meshes[m].numIndices; ++i) {
            if (meshes[m].indices[i] >= vertexCount) {
                return FALSE;
            }
        }
    }
    return TRUE;
}
