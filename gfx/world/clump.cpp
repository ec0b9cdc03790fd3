// Clump module: atomics and clumps from their free lists, bounding spheres, cloning and the clump extension.
#include "clump.h"

#include <cstring>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/memory.h"
#include "gfx/core/modules.h"
#include "gfx/core/pipeline.h"
#include "gfx/core/pluginstream.h"
#include "gfx/core/vector.h"
#include "geometry.h"
#include "light.h"
#include "world.h"
#include "worldids.h"
#include "worldpipe.h"

enum : RwUInt32 {
    rwATOMICFREELISTHINT = 0x40010,
    rwCLUMPFREELISTHINT = 0x40014,
    rwATOMICHINT = 0x30014,
    rwCLUMPHINT = 0x30010,
};

struct RwClumpGlobals {
    RwFreeList *atomicFreeList;
    RwFreeList *clumpFreeList;
};
static_assert(sizeof(RwClumpGlobals) == 8, "clump module globals are 8 bytes");

static RwPluginRegistry atomicTKList = rwPLUGINREGISTRY_INIT(sizeof(RwAtomic));
static RwPluginRegistry clumpTKList = rwPLUGINREGISTRY_INIT(sizeof(RwClump));
static RwInt32 clumpModuleOffset = -1;
static RwInt32 clumpOpenCount = 0;
static RwInt32 lightClumpOffset = -1;
static RwInt32 cameraClumpOffset = -1;

static RwClumpGlobals *ClumpGlobals()
{
    return RwEngineModuleGlobals<RwClumpGlobals>(clumpModuleOffset);
}

RwClumpMember *RwLightGetClumpMember(const RwLight *light)
{
    return reinterpret_cast<RwClumpMember *>(const_cast<RwUInt8 *>(reinterpret_cast<const RwUInt8 *>(light)) +
                                             lightClumpOffset);
}

RwClumpMember *RwCameraGetClumpMember(const RwCamera *camera)
{
    return reinterpret_cast<RwClumpMember *>(const_cast<RwUInt8 *>(reinterpret_cast<const RwUInt8 *>(camera)) +
                                             cameraClumpOffset);
}

static void *MemberConstruct(void *object, RwInt32 offset, RwInt32)
{
    std::memset(static_cast<RwUInt8 *>(object) + offset, 0, sizeof(RwClumpMember));
    return object;
}

RwBool RwClumpAttachExtensions(void)
{
    cameraClumpOffset =
        RwCameraRegisterPlugin(sizeof(RwClumpMember), rwID_CLUMPEXTENSION, MemberConstruct, nullptr, nullptr);
    lightClumpOffset =
        RwLightRegisterPlugin(sizeof(RwClumpMember), rwID_CLUMPEXTENSION, MemberConstruct, nullptr, nullptr);
    return cameraClumpOffset >= 0 && lightClumpOffset >= 0;
}

static void DestroyClumpEntry(void *clump, void *)
{
    RwClumpDestroy(static_cast<RwClump *>(clump));
}

static void DestroyAtomicEntry(void *atomic, void *)
{
    RwAtomicDestroy(static_cast<RwAtomic *>(atomic));
}

void *RwClumpModuleOpen(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    clumpModuleOffset = offset;
    RwClumpGlobals *g = ClumpGlobals();
    g->atomicFreeList =
        RwFreeListCreateAndPreallocate(atomicTKList.sizeOfStruct, 128, 4, 1, nullptr, rwATOMICFREELISTHINT);
    if (!g->atomicFreeList) {
        return nullptr;
    }
    g->clumpFreeList =
        RwFreeListCreateAndPreallocate(clumpTKList.sizeOfStruct, 128, 4, 1, nullptr, rwCLUMPFREELISTHINT);
    if (!g->clumpFreeList) {
        RwFreeListDestroy(g->atomicFreeList);
        g->atomicFreeList = nullptr;
        return nullptr;
    }
    ++clumpOpenCount;
    return instance;
}

void *RwClumpModuleClose(void *instance, RwInt32 /*offset*/, RwInt32 /*size*/)
{
    RwClumpGlobals *g = ClumpGlobals();
    RwFreeListForAllUsed(g->clumpFreeList, DestroyClumpEntry, nullptr);
    RwFreeListForAllUsed(g->atomicFreeList, DestroyAtomicEntry, nullptr);
    RwFreeListDestroy(g->clumpFreeList);
    RwFreeListDestroy(g->atomicFreeList);
    g->clumpFreeList = nullptr;
    g->atomicFreeList = nullptr;
    --clumpOpenCount;
    return instance;
}

const RwPluginRegistry *RwAtomicGetPluginRegistry(void)
{
    return &atomicTKList;
}

RwInt32 RwAtomicRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                               RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB)
{
    return RwPluginRegistryAddPlugin(&atomicTKList, size, pluginID, constructCB, destructCB, copyCB);
}

RwInt32 RwAtomicRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                     RwPluginDataChunkWriteCallBack writeCB,
                                     RwPluginDataChunkGetSizeCallBack getSizeCB)
{
    return RwPluginRegistryAddPluginStream(&atomicTKList, pluginID, readCB, writeCB, getSizeCB);
}

RwInt32 RwAtomicSetStreamAlwaysCallBack(RwUInt32 pluginID, RwPluginDataChunkAlwaysCallBack alwaysCB)
{
    return RwPluginRegistryAddPluginStreamAlwaysCallBack(&atomicTKList, pluginID, alwaysCB);
}

RwInt32 RwAtomicSetStreamRightsCallBack(RwUInt32 pluginID, RwPluginDataChunkRightsCallBack rightsCB)
{
    return RwPluginRegistryAddPluginStreamRightsCallBack(&atomicTKList, pluginID, rightsCB);
}

RwInt32 RwAtomicGetPluginOffset(RwUInt32 pluginID)
{
    return RwPluginRegistryGetPluginOffset(&atomicTKList, pluginID);
}

RwInt32 RwClumpRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                              RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB)
{
    return RwPluginRegistryAddPlugin(&clumpTKList, size, pluginID, constructCB, destructCB, copyCB);
}

RwInt32 RwClumpRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                    RwPluginDataChunkWriteCallBack writeCB,
                                    RwPluginDataChunkGetSizeCallBack getSizeCB)
{
    return RwPluginRegistryAddPluginStream(&clumpTKList, pluginID, readCB, writeCB, getSizeCB);
}

const RwPluginRegistry *RwClumpGetPluginRegistry(void)
{
    return &clumpTKList;
}

RwInt32 RwClumpGetPluginOffset(RwUInt32 pluginID)
{
    return RwPluginRegistryGetPluginOffset(&clumpTKList, pluginID);
}

RwObjectHasFrame *RwAtomicSyncCallBack(RwObjectHasFrame *object)
{
    RwAtomic *atomic = reinterpret_cast<RwAtomic *>(object);
    if (atomic->interpolator.flags & rwINTERPOLATORDIRTYSPHERE) {
        RwAtomicUpdateBoundingSphere(atomic);
    }
    atomic->object.object.privateFlags |= rwATOMICPRIVATEWORLDBOUNDDIRTY;
    return object;
}

RwAtomic *RwAtomicCreate(void)
{
    if (clumpOpenCount <= 0) {
        return nullptr;
    }
    RwAtomic *atomic = static_cast<RwAtomic *>(RwFreeListAlloc(ClumpGlobals()->atomicFreeList, rwATOMICHINT));
    if (!atomic) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    std::memset(atomic, 0, sizeof *atomic);
    atomic->object.object.type = rwATOMIC;
    atomic->object.object.flags = rwATOMICCOLLISIONTEST | rwATOMICRENDER;
    atomic->object.object.privateFlags = rwATOMICPRIVATEWORLDBOUNDDIRTY;
    RwObjectHasFrameSetFrame(atomic, nullptr);
    atomic->object.sync = RwAtomicSyncCallBack;
    atomic->renderCallBack = RwAtomicDefaultRenderCallBack;
    atomic->interpolator.flags = rwINTERPOLATORDIRTYINSTANCE | rwINTERPOLATORDIRTYSPHERE;
    atomic->interpolator.time = 1.0f;
    atomic->interpolator.recipTime = 1.0f;
    RwLinkListInitialize(&atomic->llWorldSectorsInAtomic);
    if (!RwPluginRegistryInitObject(&atomicTKList, atomic)) {
        RwFreeListFree(ClumpGlobals()->atomicFreeList, atomic);
        return nullptr;
    }
    return atomic;
}

static void MarkDirtyInWorld(RwAtomic *atomic, bool inWorld)
{
    if (inWorld && RwAtomicGetFrame(atomic)) {
        RwFrameMarkDirty(RwAtomicGetFrame(atomic));
    }
}

RwBool RwAtomicDestroy(RwAtomic *atomic)
{
    if (!atomic || clumpOpenCount <= 0) {
        return FALSE;
    }
    const bool inWorld = RwAtomicGetWorld(atomic) != nullptr;
    RwPluginRegistryDeInitObject(&atomicTKList, atomic);
    if (atomic->repEntry) {
        RwResourcesFreeEntry(atomic->repEntry);
    }
    if (atomic->geometry) {
        RwGeometryDestroy(atomic->geometry);
        atomic->geometry = nullptr;
        MarkDirtyInWorld(atomic, inWorld);
    }
    RwObjectHasFrameReleaseFrame(atomic);
    RwFreeListFree(ClumpGlobals()->atomicFreeList, atomic);
    return TRUE;
}

RwAtomic *RwAtomicSetGeometry(RwAtomic *atomic, RwGeometry *geometry, RwUInt32 flags)
{
    if (atomic->geometry == geometry) {
        return atomic;
    }
    if (geometry) {
        RwGeometryAddRef(geometry);
    }
    // The atomic's own instance was made of the old geometry.
    if (atomic->repEntry) {
        RwResourcesFreeEntry(atomic->repEntry);
    }
    if (atomic->geometry) {
        RwGeometryDestroy(atomic->geometry);
    }
    atomic->geometry = geometry;
    if (!(flags & 1)) {
        if (geometry && geometry->numMorphTargets > 0) {
            atomic->boundingSphere = geometry->morphTarget[0].boundingSphere;
        }
        MarkDirtyInWorld(atomic, RwAtomicGetWorld(atomic) != nullptr);
    }
    return atomic;
}

RwAtomic *RwAtomicSetFrame(RwAtomic *atomic, RwFrame *frame)
{
    RwObjectHasFrameSetFrame(atomic, frame);
    atomic->object.object.privateFlags |= rwATOMICPRIVATEWORLDBOUNDDIRTY;
    return atomic;
}

RwAtomic *RwAtomicUpdateBoundingSphere(RwAtomic *atomic)
{
    const RwGeometry *g = atomic->geometry;
    if (!g || g->numMorphTargets <= 0) {
        return atomic;
    }
    RwInterpolator &in = atomic->interpolator;
    const RwInt32 n = g->numMorphTargets;
    const bool inRange = in.startMorphTarget < n && in.endMorphTarget < n;
    if (inRange && in.startMorphTarget != in.endMorphTarget) {
        const RwSphere &s = g->morphTarget[in.startMorphTarget].boundingSphere;
        const RwSphere &e = g->morphTarget[in.endMorphTarget].boundingSphere;
        const RwReal t = in.position * in.recipTime;
        atomic->boundingSphere.radius = (e.radius - s.radius) * t + s.radius;
        atomic->boundingSphere.center = {s.center.x + (e.center.x - s.center.x) * t,
                                         s.center.y + (e.center.y - s.center.y) * t,
                                         s.center.z + (e.center.z - s.center.z) * t};
    } else {
        atomic->boundingSphere = g->morphTarget[inRange ? in.startMorphTarget : 0].boundingSphere;
    }
    in.flags &= ~static_cast<RwUInt32>(rwINTERPOLATORDIRTYSPHERE);
    atomic->object.object.privateFlags |= rwATOMICPRIVATEWORLDBOUNDDIRTY;
    return atomic;
}

const RwSphere *RwAtomicGetWorldBoundingSphere(RwAtomic *atomic)
{
    if (atomic->interpolator.flags & rwINTERPOLATORDIRTYSPHERE) {
        RwAtomicUpdateBoundingSphere(atomic);
    }
    RwFrame *frame = RwAtomicGetFrame(atomic);
    if (!frame) {
        return &atomic->worldBoundingSphere;
    }
    if (!RwFrameIsDirty(frame) && !(atomic->object.object.privateFlags & rwATOMICPRIVATEWORLDBOUNDDIRTY)) {
        return &atomic->worldBoundingSphere;
    }
    const RwMatrix *m = RwFrameGetWorldMatrix(frame);
    RwV3dTransformPoint(&atomic->worldBoundingSphere.center, &atomic->boundingSphere.center, m);
    if ((m->flags & 3) != 3) {
        const RwReal r = RwV3dDotProduct(&m->right, &m->right);
        const RwReal u = RwV3dDotProduct(&m->up, &m->up);
        const RwReal a = RwV3dDotProduct(&m->at, &m->at);
        RwReal largest = r > u ? r : u;
        largest = largest > a ? largest : a;
        atomic->worldBoundingSphere.radius = atomic->boundingSphere.radius * RwSqrt(largest);
    } else {
        atomic->worldBoundingSphere.radius = atomic->boundingSphere.radius;
    }
    atomic->object.object.privateFlags &= static_cast<RwUInt8>(~rwATOMICPRIVATEWORLDBOUNDDIRTY);
    return &atomic->worldBoundingSphere;
}

RwAtomic *RwAtomicDefaultRenderCallBack(RwAtomic *atomic)
{
    RxPipeline *pipeline = atomic->pipeline ? atomic->pipeline : RwAtomicGetDefaultPipeline();
    return RwPipelineExecute(pipeline, atomic, TRUE) ? atomic : nullptr;
}

RwAtomic *RwAtomicClone(RwAtomic *atomic)
{
    RwAtomic *clone = RwAtomicCreate();
    if (!clone) {
        return nullptr;
    }
    clone->object.object.type = atomic->object.object.type;
    clone->object.object.subType = atomic->object.object.subType;
    clone->object.object.flags = atomic->object.object.flags;
    clone->object.object.privateFlags = atomic->object.object.privateFlags | rwATOMICPRIVATEWORLDBOUNDDIRTY;
    clone->object.object.parent = nullptr;
    RwAtomicSetGeometry(clone, atomic->geometry, 0);
    clone->boundingSphere = atomic->boundingSphere;
    clone->renderCallBack = atomic->renderCallBack;
    clone->pipeline = atomic->pipeline;
    clone->interpolator = atomic->interpolator;
    if (!RwPluginRegistryCopyObject(&atomicTKList, clone, atomic)) {
        RwAtomicDestroy(clone);
        return nullptr;
    }
    return clone;
}

template <typename T>
static RwClump *ForAllMembers(RwClump *clump, RwLinkList *list, RwInt32 offset, T *(*callback)(T *, void *),
                              void *data)
{
    for (RwLLLink *l = list->next; l != list;) {
        RwLLLink *next = l->next;
        T *object = reinterpret_cast<T *>(reinterpret_cast<RwUInt8 *>(rwLLLinkGetData(l, RwClumpMember, inClumpLink)) -
                                          offset);
        if (!callback(object, data)) {
            break;
        }
        l = next;
    }
    return clump;
}

RwClump *RwClumpForAllAtomics(RwClump *clump, RwAtomicCallBack callback, void *data)
{
    RwLinkList *list = &clump->atomicList;
    for (RwLLLink *l = list->next; l != list;) {
        RwLLLink *next = l->next;
        if (!callback(rwLLLinkGetData(l, RwAtomic, inClumpLink), data)) {
            break;
        }
        l = next;
    }
    return clump;
}

RwClump *RwClumpForAllLights(RwClump *clump, RwLightCallBack callback, void *data)
{
    return ForAllMembers(clump, &clump->lightList, lightClumpOffset, callback, data);
}

RwClump *RwClumpForAllCameras(RwClump *clump, RwCameraCallBack callback, void *data)
{
    return ForAllMembers(clump, &clump->cameraList, cameraClumpOffset, callback, data);
}

RwClump *RwClumpAddAtomic(RwClump *clump, RwAtomic *atomic)
{
    RwLinkListAddLLLink(&clump->atomicList, &atomic->inClumpLink);
    atomic->clump = clump;
    RwAtomicFollowClumpWorld(atomic);
    return clump;
}

RwClump *RwClumpRemoveAtomic(RwClump *clump, RwAtomic *atomic)
{
    RwLLLinkRemove(&atomic->inClumpLink);
    atomic->clump = nullptr;
    RwAtomicFollowClumpWorld(atomic);
    return clump;
}

RwClump *RwClumpAddLight(RwClump *clump, RwLight *light)
{
    RwClumpMember *m = RwLightGetClumpMember(light);
    RwLinkListAddLLLink(&clump->lightList, &m->inClumpLink);
    m->clump = clump;
    return clump;
}

RwClump *RwClumpAddCamera(RwClump *clump, RwCamera *camera)
{
    RwClumpMember *m = RwCameraGetClumpMember(camera);
    RwLinkListAddLLLink(&clump->cameraList, &m->inClumpLink);
    m->clump = clump;
    return clump;
}

static RwClump *DefaultClumpCallBack(RwClump *clump, void *)
{
    return clump;
}

RwClump *RwClumpSetCallBack(RwClump *clump, RwClumpCallBack callback)
{
    clump->callback = callback ? callback : DefaultClumpCallBack;
    return clump;
}

RwClump *RwClumpCreate(void)
{
    if (clumpOpenCount <= 0) {
        return nullptr;
    }
    RwClump *clump = static_cast<RwClump *>(RwFreeListAlloc(ClumpGlobals()->clumpFreeList, rwCLUMPHINT));
    if (!clump) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    std::memset(clump, 0, sizeof *clump);
    clump->object.type = rwCLUMP;
    RwLinkListInitialize(&clump->atomicList);
    RwLinkListInitialize(&clump->lightList);
    RwLinkListInitialize(&clump->cameraList);
    clump->callback = DefaultClumpCallBack;
    if (!RwPluginRegistryInitObject(&clumpTKList, clump)) {
        RwFreeListFree(ClumpGlobals()->clumpFreeList, clump);
        return nullptr;
    }
    return clump;
}

RwBool RwClumpDestroy(RwClump *clump)
{
    if (!clump || clumpOpenCount <= 0) {
        return FALSE;
    }
    // A clump destroyed in a world leaves it first: the world keeps no freed clump.
    if (RwWorld *world = RwClumpGetWorld(clump)) {
        RwWorldRemoveClump(world, clump);
    }
    RwPluginRegistryDeInitObject(&clumpTKList, clump);
    while (!RwLinkListEmpty(&clump->atomicList)) {
        RwAtomic *atomic = rwLLLinkGetData(clump->atomicList.next, RwAtomic, inClumpLink);
        RwClumpRemoveAtomic(clump, atomic);
        RwAtomicDestroy(atomic);
    }
    while (!RwLinkListEmpty(&clump->lightList)) {
        RwClumpMember *m = rwLLLinkGetData(clump->lightList.next, RwClumpMember, inClumpLink);
        RwLLLinkRemove(&m->inClumpLink);
        std::memset(m, 0, sizeof *m);
        RwLightDestroy(reinterpret_cast<RwLight *>(reinterpret_cast<RwUInt8 *>(m) - lightClumpOffset));
    }
    while (!RwLinkListEmpty(&clump->cameraList)) {
        RwClumpMember *m = rwLLLinkGetData(clump->cameraList.next, RwClumpMember, inClumpLink);
        RwLLLinkRemove(&m->inClumpLink);
        std::memset(m, 0, sizeof *m);
        RwCameraDestroy(reinterpret_cast<RwCamera *>(reinterpret_cast<RwUInt8 *>(m) - cameraClumpOffset));
    }
    if (RwFrame *frame = RwClumpGetFrame(clump)) {
        RwFrameDestroyHierarchy(frame);
    }
    RwFreeListFree(ClumpGlobals()->clumpFreeList, clump);
    return TRUE;
}

RwClump *RwClumpRender(RwClump *clump)
{
    RwClump *result = clump;
    RwLinkList *list = &clump->atomicList;
    for (RwLLLink *l = list->next; l != list; l = l->next) {
        RwAtomic *atomic = rwLLLinkGetData(l, RwAtomic, inClumpLink);
        if (atomic->object.object.flags & rwATOMICRENDER) {
            if (RwFrame *frame = RwAtomicGetFrame(atomic)) {
                RwFrameGetWorldMatrix(frame);
            }
            if (!atomic->renderCallBack(atomic)) {
                result = nullptr;
            }
        }
    }
    return result;
}

RwClump *RwClumpClone(RwClump *clump)
{
    RwClump *clone = RwClumpCreate();
    if (!clone) {
        return nullptr;
    }
    RwFrame *root = RwClumpGetFrame(clump);
    if (root) {
        RwFrame *copy = RwFrameCloneHierarchy(root);
        if (!copy) {
            RwClumpDestroy(clone);
            return nullptr;
        }
        RwClumpSetFrame(clone, copy);
    }
    // Atomics are added at the head: walking the source backwards keeps its order.
    RwLinkList *list = &clump->atomicList;
    bool complete = true;
    for (RwLLLink *l = list->prev; l != list && complete; l = l->prev) {
        RwAtomic *atomic = rwLLLinkGetData(l, RwAtomic, inClumpLink);
        RwFrame *frame = RwAtomicGetFrame(atomic);
        if (!frame || !root) {
            // A clone without the atomic's frame would be a partial copy.
            RwErrorRaise(rwID_WORLDPLUGIN, E_RP_WORLD_ATOMICNOFRAME);
            complete = false;
            break;
        }
        RwAtomic *atomicClone = RwAtomicClone(atomic);
        if (!atomicClone) {
            complete = false;
            break;
        }
        RwAtomicSetFrame(atomicClone, frame->root);
        RwClumpAddAtomic(clone, atomicClone);
    }
    if (root) {
        RwFrameUpdateRoots(root);
    }
    clone->callback = clump->callback;
    if (!complete || !RwPluginRegistryCopyObject(&clumpTKList, clone, clump)) {
        RwClumpDestroy(clone);
        return nullptr;
    }
    return clone;
}
