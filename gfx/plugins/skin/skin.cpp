// The skin plug-in: its engine globals, the geometry and atomic extensions, skin records and pipeline types.
#include "skin.h"

#include <cstdint>
#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/pipeline.h"
#include "gfx/world/clump.h"
#include "gfx/plugins/toon/toon.h"
#include "gfx/world/geometry.h"
#include "skinint.h"

RwSkinGlobals rwSkinGlobals = {-1, -1, 0, nullptr, nullptr, nullptr, {nullptr, nullptr}};

static RwSkin *&GeometrySkin(const void *geometry)
{
    return *reinterpret_cast<RwSkin **>(reinterpret_cast<uintptr_t>(geometry) + rwSkinGlobals.geometryOffset);
}

static RwHAnimHierarchy *&AtomicHierarchy(const void *atomic)
{
    return *reinterpret_cast<RwHAnimHierarchy **>(reinterpret_cast<uintptr_t>(atomic) + rwSkinGlobals.atomicOffset);
}

RwSkin *RwSkinCreateRecord(RwUInt32 numBones, RwUInt32 usedCapacity, RwUInt32 numVertices)
{
    RwSkin *skin = static_cast<RwSkin *>(RwFreeListAlloc(rwSkinGlobals.pool, rwSKINHINT));
    if (!skin) {
        RwErrorRaise(0, E_RW_NOMEM);
        return nullptr;
    }
    std::memset(skin, 0, sizeof *skin);
    // The used-bone list may be computed from the vertices, and then holds up
    // to one entry per bone whatever count the stream gave.
    const size_t listBytes = usedCapacity > numBones ? usedCapacity : numBones;
    const size_t size = listBytes + 15 + size_t(numBones) * sizeof(RwMatrix) + size_t(numVertices) * 20;
    skin->data = RwMalloc(size, rwSKINHINT);
    if (!skin->data) {
        RwFreeListFree(rwSkinGlobals.pool, skin);
        RwErrorRaise(0, E_RW_NOMEM);
        return nullptr;
    }
    std::memset(skin->data, 0, size);
    RwUInt8 *base = static_cast<RwUInt8 *>(skin->data);
    skin->numBones = numBones;
    skin->usedBones = base;
    skin->skinToBoneMatrices =
        reinterpret_cast<RwMatrix *>((reinterpret_cast<uintptr_t>(base + listBytes) + 15) & ~uintptr_t(15));
    skin->vertexBoneIndices = reinterpret_cast<RwUInt32 *>(skin->skinToBoneMatrices + numBones);
    skin->vertexBoneWeights = reinterpret_cast<RwReal *>(skin->vertexBoneIndices + numVertices);
    skin->maxWeights = 1;
    return skin;
}

void RwSkinDestroyRecord(RwSkin *skin)
{
    if (!skin) {
        return;
    }
    RwFree(skin->data);
    RwFree(skin->boneRemap);
    RwFreeListFree(rwSkinGlobals.pool, skin);
}

void RwSkinSortVertexWeights(RwReal *w, RwUInt32 *indices)
{
    if (w[0] >= 1.0f) {
        return;
    }
    RwUInt8 idx[4];
    for (int j = 0; j < 4; ++j) {
        idx[j] = static_cast<RwUInt8>(*indices >> (8 * j));
    }
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (int j = 0; j < 3; ++j) {
            if (w[j] < w[j + 1]) {
                const RwReal t = w[j];
                w[j] = w[j + 1];
                w[j + 1] = t;
                const RwUInt8 b = idx[j];
                idx[j] = idx[j + 1];
                idx[j + 1] = b;
                swapped = true;
            }
        }
    }
    *indices = RwUInt32(idx[0]) | RwUInt32(idx[1]) << 8 | RwUInt32(idx[2]) << 16 | RwUInt32(idx[3]) << 24;
}

RwUInt32 RwSkinCountWeights(const RwReal *weights, RwUInt32 numVertices)
{
    RwUInt32 n = 1;
    for (RwUInt32 v = 0; v < numVertices; ++v) {
        while (n < rwSKINMAXWEIGHTS && weights[4 * v + n] != 0.0f) {
            ++n;
        }
    }
    return n;
}

static void PrepareSkin(RwSkin *skin, RwUInt32 numVertices)
{
    for (RwUInt32 v = 0; v < numVertices; ++v) {
        RwSkinSortVertexWeights(skin->vertexBoneWeights + 4 * v, skin->vertexBoneIndices + v);
    }
    // Insertion sort: at most 255 entries.
    for (RwUInt32 i = 1; i < skin->numUsedBones; ++i) {
        const RwUInt8 b = skin->usedBones[i];
        RwUInt32 j = i;
        for (; j > 0 && skin->usedBones[j - 1] > b; --j) {
            skin->usedBones[j] = skin->usedBones[j - 1];
        }
        skin->usedBones[j] = b;
    }
}

RwAtomic *RwSkinAtomicSetHAnimHierarchy(RwAtomic *atomic, RwHAnimHierarchy *hierarchy)
{
    AtomicHierarchy(atomic) = hierarchy;
    return atomic;
}

RwHAnimHierarchy *RwSkinAtomicGetHAnimHierarchy(const RwAtomic *atomic)
{
    return AtomicHierarchy(atomic);
}

RwSkin *RwSkinGeometryGetSkin(const RwGeometry *geometry)
{
    return GeometrySkin(geometry);
}

RwGeometry *RwSkinGeometrySetSkin(RwGeometry *geometry, RwSkin *skin)
{
    RwSkin *&slot = GeometrySkin(geometry);
    if (slot && slot != skin) {
        RwSkinDestroyRecord(slot);
    }
    slot = skin;
    if (skin) {
        PrepareSkin(skin, static_cast<RwUInt32>(geometry->numVertices));
    }
    return geometry;
}

RwMatrix *RwSkinGetSkinToBoneMatrices(RwSkin *skin)
{
    return skin->skinToBoneMatrices;
}

RwMatrix *RwSkinGetMatrixPalette(void)
{
    return rwSkinGlobals.palette;
}

RxPipeline *RwSkinGetPipeline(RwInt32 type)
{
    if (type == rwSKINTYPETOON && RwEngineGetPluginOffset(rwID_TOONPLUGIN) >= 0 && rwSkinGlobals.pipelines[1]) {
        return rwSkinGlobals.pipelines[1];
    }
    return rwSkinGlobals.pipelines[0];
}

RwAtomic *RwSkinAtomicSetType(RwAtomic *atomic, RwInt32 type)
{
    // Types 2 and 3 fall back to 1 without their plug-ins; material effects
    // are drawn by the plain pipeline.
    if (type == rwSKINTYPETOON && RwEngineGetPluginOffset(rwID_TOONPLUGIN) >= 0) {
        RwToonSkinAtomicEnable(atomic);
    }
    if (RxPipeline *pipeline = RwSkinGetPipeline(type)) {
        atomic->pipeline = pipeline;
    }
    return atomic;
}

RwInt32 RwSkinAtomicGetType(const RwAtomic *atomic)
{
    const RxPipeline *p = atomic->pipeline;
    return p && p->pluginId == rwID_SKINPLUGIN ? static_cast<RwInt32>(p->pluginData) : 0;
}

static void *SkinOpen(void *instance, RwInt32, RwInt32)
{
    if (rwSkinGlobals.openCount++ > 0) {
        return instance;
    }
    rwSkinGlobals.pool = RwFreeListCreateAndPreallocate(sizeof(RwSkin), 20, 4, 1, nullptr, rwSKINGLOBALHINT);
    rwSkinGlobals.paletteBlock = RwMalloc(rwSKINPALETTESIZE * sizeof(RwMatrix) + 15, rwSKINGLOBALHINT);
    if (!rwSkinGlobals.pool || !rwSkinGlobals.paletteBlock) {
        RwFree(rwSkinGlobals.paletteBlock);
        rwSkinGlobals.paletteBlock = nullptr;
        if (rwSkinGlobals.pool) {
            RwFreeListDestroy(rwSkinGlobals.pool);
        }
        rwSkinGlobals.pool = nullptr;
        rwSkinGlobals.openCount = 0;
        RwErrorRaise(0, E_RW_NOMEM);
        return nullptr;
    }
    rwSkinGlobals.palette = reinterpret_cast<RwMatrix *>(
        (reinterpret_cast<uintptr_t>(rwSkinGlobals.paletteBlock) + 15) & ~uintptr_t(15));
    std::memset(rwSkinGlobals.palette, 0, rwSKINPALETTESIZE * sizeof(RwMatrix));
    const RwSkinPipelineSetup setup = {rwSkinGlobals.geometryOffset, rwSkinGlobals.atomicOffset, rwSkinGlobals.palette,
                                       RwEngineGetPluginOffset(rwID_TOONPLUGIN) >= 0};
    RwD3D9SkinPipelinesCreate(&setup, &rwSkinGlobals.pipelines[0], &rwSkinGlobals.pipelines[1]);
    return instance;
}

static void *SkinClose(void *instance, RwInt32, RwInt32)
{
    if (rwSkinGlobals.openCount <= 0 || --rwSkinGlobals.openCount > 0) {
        return instance;
    }
    RwD3D9SkinPipelinesDestroy(rwSkinGlobals.pipelines[0], rwSkinGlobals.pipelines[1]);
    rwSkinGlobals.pipelines[0] = rwSkinGlobals.pipelines[1] = nullptr;
    RwFreeListDestroy(rwSkinGlobals.pool);
    rwSkinGlobals.pool = nullptr;
    RwFree(rwSkinGlobals.paletteBlock);
    rwSkinGlobals.paletteBlock = nullptr;
    rwSkinGlobals.palette = nullptr;
    return instance;
}

static void *ClearPointer(void *object, RwInt32 offset, RwInt32)
{
    *reinterpret_cast<void **>(static_cast<RwUInt8 *>(object) + offset) = nullptr;
    return object;
}

static void *GeometryDestruct(void *geometry, RwInt32, RwInt32)
{
    RwSkinDestroyRecord(GeometrySkin(geometry));
    GeometrySkin(geometry) = nullptr;
    return geometry;
}

// A geometry copy starts without a skin: the record belongs to one geometry.
static void *GeometryCopy(void *dst, const void *, RwInt32, RwInt32)
{
    GeometrySkin(dst) = nullptr;
    return dst;
}

static void *AtomicCopy(void *dst, const void *src, RwInt32, RwInt32)
{
    AtomicHierarchy(dst) = AtomicHierarchy(src);
    return dst;
}

static RwInt32 AtomicStreamSize(const void *, RwInt32, RwInt32)
{
    return 0;
}

static RwStream *AtomicStreamWrite(RwStream *stream, RwInt32, const void *, RwInt32, RwInt32)
{
    return stream;
}

static RwBool AtomicAlways(void *object, RwInt32, RwInt32)
{
    RwAtomic *atomic = static_cast<RwAtomic *>(object);
    if (atomic->geometry && RwSkinGeometryGetSkin(atomic->geometry)) {
        RwSkinAtomicSetType(atomic, rwSKINTYPEGENERIC);
    }
    return TRUE;
}

static RwBool AtomicRights(void *object, RwInt32, RwInt32, RwUInt32 extraData)
{
    RwAtomic *atomic = static_cast<RwAtomic *>(object);
    if (atomic->geometry && RwSkinGeometryGetSkin(atomic->geometry)) {
        // Only the three known types; anything else is drawn as plain.
        const RwInt32 type = extraData >= rwSKINTYPEGENERIC && extraData <= rwSKINTYPETOON
                                 ? static_cast<RwInt32>(extraData)
                                 : rwSKINTYPEGENERIC;
        RwSkinAtomicSetType(atomic, type);
    }
    return TRUE;
}

RwBool RwSkinPluginAttach(void)
{
    if (RwEngineRegisterPlugin(0, rwID_SKINPLUGIN, SkinOpen, SkinClose) < 0) {
        return FALSE;
    }
    rwSkinGlobals.atomicOffset =
        RwAtomicRegisterPlugin(sizeof(void *), rwID_SKINPLUGIN, ClearPointer, ClearPointer, AtomicCopy);
    rwSkinGlobals.geometryOffset =
        RwGeometryRegisterPlugin(sizeof(void *), rwID_SKINPLUGIN, ClearPointer, GeometryDestruct, GeometryCopy);
    if (rwSkinGlobals.atomicOffset < 0 || rwSkinGlobals.geometryOffset < 0) {
        return FALSE;
    }
    RwAtomicRegisterPluginStream(rwID_SKINPLUGIN, RwSkinAtomicStreamRead, AtomicStreamWrite, AtomicStreamSize);
    RwAtomicSetStreamAlwaysCallBack(rwID_SKINPLUGIN, AtomicAlways);
    RwAtomicSetStreamRightsCallBack(rwID_SKINPLUGIN, AtomicRights);
    RwGeometryRegisterPluginStream(rwID_SKINPLUGIN, RwSkinGeometryStreamRead, RwSkinGeometryStreamWrite,
                                   RwSkinGeometryStreamSize);
    return TRUE;
}
