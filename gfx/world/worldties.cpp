// World membership: world extensions of cameras, atomics, clumps and lights, sector ties and frustum sector lists.
#include <cstring>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/memory.h"
#include "gfx/core/modules.h"
#include "gfx/core/vector.h"
#include "light.h"
#include "world.h"
#include "worldids.h"

enum : RwUInt32 {
    rwTIEFREELISTHINT = 0x40507,
    rwTIEHINT = 0x30507,
    rwFRUSTUMLISTHINT = 0x1030507,
    rwFRUSTUMLISTGROWTH = 50,
    E_RP_WORLD_INWORLD = 8,           // the object is in a world already
};

struct RwWorldTiesGlobals {
    RwFreeList *atomicTieFreeList;
    RwFreeList *lightTieFreeList;
    RwUInt32 clumpVisitCounter;
};
static_assert(sizeof(RwWorldTiesGlobals) == 12, "world-ties globals are 12 bytes");

struct RwCameraWorldExt {
    RwWorldSector **frustumSectors;
    RwInt32 space;
    RwInt32 count;
    RwWorld *world;
    RwCameraBeginUpdateFunc beginUpdate;
    RwCameraEndUpdateFunc endUpdate;
    RwObjectHasFrameSyncFunction sync;
    RwLLLink inWorld;                    // in the world's camera list, so that the world can send it away
};
static_assert(sizeof(RwCameraWorldExt) == 36, "camera world extension is 36 bytes");

// A world's cameras, as its clumps and lights are listed in the world itself.
struct RwWorldCameraExt {
    RwLinkList cameras;
};
static_assert(sizeof(RwWorldCameraExt) == 8, "world camera list is 8 bytes");

struct RwObjectWorldExt {
    RwWorld *world;
    RwObjectHasFrameSyncFunction sync;   // atomics and lights
};
static_assert(sizeof(RwObjectWorldExt) == 8, "world extension is 8 bytes");

struct RwClumpWorldExt {
    RwWorld *world;
    RwUInt32 visitStamp;
};
static_assert(sizeof(RwClumpWorldExt) == 8, "clump world extension is 8 bytes");

static RwInt32 tiesModuleOffset = -1;
static RwBool tiesOpen = FALSE;
static RwInt32 cameraExtOffset = -1;
static RwInt32 atomicExtOffset = -1;
static RwInt32 clumpExtOffset = -1;
static RwInt32 lightExtOffset = -1;
static RwInt32 worldExtOffset = -1;

static RwWorldTiesGlobals *TiesGlobals()
{
    return RwEngineModuleGlobals<RwWorldTiesGlobals>(tiesModuleOffset);
}

template <typename Ext>
static Ext *ExtOf(const void *object, RwInt32 offset)
{
    return reinterpret_cast<Ext *>(const_cast<RwUInt8 *>(static_cast<const RwUInt8 *>(object)) + offset);
}
static RwCameraWorldExt *CameraExt(const RwCamera *c) { return ExtOf<RwCameraWorldExt>(c, cameraExtOffset); }
static RwObjectWorldExt *AtomicExt(const RwAtomic *a) { return ExtOf<RwObjectWorldExt>(a, atomicExtOffset); }
static RwClumpWorldExt *ClumpExt(const RwClump *c) { return ExtOf<RwClumpWorldExt>(c, clumpExtOffset); }
static RwObjectWorldExt *LightExt(const RwLight *l) { return ExtOf<RwObjectWorldExt>(l, lightExtOffset); }
static RwWorldCameraExt *WorldExt(const RwWorld *w) { return ExtOf<RwWorldCameraExt>(w, worldExtOffset); }

RwWorld *RwAtomicGetWorld(const RwAtomic *atomic) { return AtomicExt(atomic)->world; }
RwWorld *RwClumpGetWorld(const RwClump *clump) { return ClumpExt(clump)->world; }
RwWorld *RwLightGetWorld(const RwLight *light) { return LightExt(light)->world; }
RwWorld *RwCameraGetWorld(const RwCamera *camera) { return CameraExt(camera)->world; }

RwInt32 RwCameraGetFrustumSectorCount(const RwCamera *camera)
{
    return CameraExt(camera)->count;
}

RwWorldSector *RwCameraGetFrustumSector(const RwCamera *camera, RwInt32 index)
{
    return CameraExt(camera)->frustumSectors[index];
}

static void *TiesModuleOpen(void *instance, RwInt32 offset, RwInt32)
{
    tiesModuleOffset = offset;
    RwWorldTiesGlobals *g = TiesGlobals();
    g->atomicTieFreeList = RwFreeListCreateAndPreallocate(sizeof(RwTie), 256, 4, 1, nullptr, rwTIEFREELISTHINT);
    if (!g->atomicTieFreeList) {
        return nullptr;
    }
    g->lightTieFreeList = RwFreeListCreateAndPreallocate(sizeof(RwTie), 32, 4, 1, nullptr, rwTIEFREELISTHINT);
    if (!g->lightTieFreeList) {
        RwFreeListDestroy(g->atomicTieFreeList);
        return nullptr;
    }
    g->clumpVisitCounter = 0;
    tiesOpen = TRUE;
    RwEngineInstance->renderFrame = (RwEngineInstance->renderFrame & 0xFFFF0000u) | 1u;
    return instance;
}

static void *TiesModuleClose(void *instance, RwInt32, RwInt32)
{
    RwWorldTiesGlobals *g = TiesGlobals();
    RwFreeListDestroy(g->lightTieFreeList);
    RwFreeListDestroy(g->atomicTieFreeList);
    g->lightTieFreeList = g->atomicTieFreeList = nullptr;
    tiesOpen = FALSE;
    return instance;
}

// Unlinks every tie on an object's tie list from both lists and frees it.
static void FreeObjectTies(RwLinkList *objectTies, RwFreeList *freeList)
{
    // After the module closed, its free lists took the ties with them.
    if (!tiesOpen) {
        RwLinkListInitialize(objectTies);
        return;
    }
    while (!RwLinkListEmpty(objectTies)) {
        RwTie *tie = rwLLLinkGetData(objectTies->next, RwTie, lObject);
        RwLLLinkRemove(&tie->lWorldSector);
        RwLLLinkRemove(&tie->lObject);
        RwFreeListFree(freeList, tie);
    }
}

void RwAtomicFreeTies(RwAtomic *atomic)
{
    FreeObjectTies(&atomic->llWorldSectorsInAtomic, tiesOpen ? TiesGlobals()->atomicTieFreeList : nullptr);
}

static void FreeLightTies(RwLight *light)
{
    FreeObjectTies(&light->WorldSectorsInLight, tiesOpen ? TiesGlobals()->lightTieFreeList : nullptr);
}

void RwWorldSectorFreeTies(RwWorldSector *sector)
{
    RwLinkList *lists[2] = {&sector->collAtomicsInWorldSector, &sector->lightsInWorldSector};
    if (!tiesOpen) {
        RwLinkListInitialize(lists[0]);
        RwLinkListInitialize(lists[1]);
        return;
    }
    RwFreeList *freeLists[2] = {TiesGlobals()->atomicTieFreeList, TiesGlobals()->lightTieFreeList};
    for (int i = 0; i < 2; ++i) {
        while (!RwLinkListEmpty(lists[i])) {
            RwTie *tie = rwLLLinkGetData(lists[i]->next, RwTie, lWorldSector);
            RwLLLinkRemove(&tie->lWorldSector);
            RwLLLinkRemove(&tie->lObject);
            RwFreeListFree(freeLists[i], tie);
        }
    }
}

static RwReal Axis(const RwV3d &v, RwInt32 type)
{
    return reinterpret_cast<const RwReal *>(&v)[type / 4];
}

// Ties the object to every world sector the box overlaps.
static bool TieToSectors(RwWorld *world, const RwBBox &box, void *object, RwLinkList *objectTies, bool light)
{
    RwFreeList *freeList = light ? TiesGlobals()->lightTieFreeList : TiesGlobals()->atomicTieFreeList;
    RwSector *stack[rwMAXSECTORDEPTH];
    RwInt32 depth = 0;
    RwSector *s = world->rootSector;
    while (s) {
        if (s->type < 0) {
            RwWorldSector *sector = reinterpret_cast<RwWorldSector *>(s);
            RwTie *tie = static_cast<RwTie *>(RwFreeListAlloc(freeList, rwTIEHINT));
            if (!tie) {
                RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
                return false;
            }
            tie->object = object;
            tie->worldSector = sector;
            RwLinkListAddLLLink(light ? &sector->lightsInWorldSector : &sector->collAtomicsInWorldSector,
                                &tie->lWorldSector);
            RwLinkListAddLLLink(objectTies, &tie->lObject);
            s = depth > 0 ? stack[--depth] : nullptr;
            continue;
        }
        const RwPlaneSector *plane = reinterpret_cast<const RwPlaneSector *>(s);
        if (Axis(box.inf, plane->type) < plane->leftValue) {
            if (Axis(box.sup, plane->type) > plane->rightValue && depth < rwMAXSECTORDEPTH) {
                stack[depth++] = plane->rightSubTree;
            }
            s = plane->leftSubTree;
        } else if (Axis(box.sup, plane->type) > plane->rightValue) {
            s = plane->rightSubTree;
        } else {
            s = depth > 0 ? stack[--depth] : nullptr;
        }
    }
    return true;
}

static RwObjectHasFrame *AtomicTieSync(RwObjectHasFrame *object)
{
    RwAtomic *atomic = reinterpret_cast<RwAtomic *>(object);
    RwObjectWorldExt *ext = AtomicExt(atomic);
    if (!ext->sync(object)) {
        return nullptr;
    }
    if (!ext->world) {
        return object;
    }
    RwAtomicFreeTies(atomic);
    const RwSphere *sphere = RwAtomicGetWorldBoundingSphere(atomic);
    const RwV3d &c = sphere->center;
    const RwReal r = sphere->radius;
    const RwBBox box = {{c.x + r, c.y + r, c.z + r}, {c.x - r, c.y - r, c.z - r}};
    return TieToSectors(ext->world, box, atomic, &atomic->llWorldSectorsInAtomic, false) ? object : nullptr;
}

static RwObjectHasFrame *LightTieSync(RwObjectHasFrame *object)
{
    RwLight *light = reinterpret_cast<RwLight *>(object);
    RwObjectWorldExt *ext = LightExt(light);
    if (!ext->sync(object)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return nullptr;
    }
    RwFrame *frame = RwLightGetFrame(light);
    if (!ext->world || !frame || RwLightGetType(light) < rwLIGHTPOINT) {
        return object;
    }
    FreeLightTies(light);
    const RwV3d &p = RwFrameGetWorldMatrix(frame)->pos;
    const RwReal r = light->radius;
    const RwBBox box = {{p.x + r, p.y + r, p.z + r}, {p.x - r, p.y - r, p.z - r}};
    return TieToSectors(ext->world, box, light, &light->WorldSectorsInLight, true) ? object : nullptr;
}

static void AppendFrustumSector(RwCameraWorldExt *ext, RwWorldSector *sector, bool *full)
{
    if (*full) {
        return;
    }
    if (ext->count == ext->space) {
        const RwInt32 space = ext->space + rwFRUSTUMLISTGROWTH;
        void *grown = ext->frustumSectors
                          ? RwRealloc(ext->frustumSectors, sizeof(RwWorldSector *) * space, rwFRUSTUMLISTHINT)
                          : RwMalloc(sizeof(RwWorldSector *) * space, rwFRUSTUMLISTHINT);
        if (!grown) {
            RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
            *full = true;
            return;
        }
        ext->frustumSectors = static_cast<RwWorldSector **>(grown);
        ext->space = space;
    }
    ext->frustumSectors[ext->count++] = sector;
}

static bool BoxInFrustum(const RwCamera *camera, const RwBBox &box)
{
    const RwV3d *corners = &box.sup;   // [0] sup, [1] inf
    for (const RwFrustumPlane &p : camera->frustumPlanes) {
        const RwV3d corner = {corners[p.closestX].x, corners[p.closestY].y, corners[p.closestZ].z};
        if (RwV3dDotProduct(&p.plane.normal, &corner) - p.plane.distance > 0.0f) {
            return false;
        }
    }
    return true;
}

static void BuildFrustumList(RwCamera *camera, RwCameraWorldExt *ext)
{
    const RwWorld *world = ext->world;
    const RwV3d &eye = RwFrameGetWorldMatrix(RwCameraGetFrame(camera))->pos;
    const RwBBox &fbox = camera->frustumBoundBox;
    const bool backToFront = world->renderOrder == rwRENDERORDERBACK2FRONT;
    RwSector *stack[rwMAXSECTORDEPTH];
    RwInt32 depth = 0;
    bool full = false;
    ext->count = 0;
    RwSector *s = world->rootSector;
    while (s) {
        if (s->type < 0) {
            RwWorldSector *sector = reinterpret_cast<RwWorldSector *>(s);
            if (BoxInFrustum(camera, sector->boundingBox)) {
                AppendFrustumSector(ext, sector, &full);
            }
            s = depth > 0 ? stack[--depth] : nullptr;
            continue;
        }
        const RwPlaneSector *plane = reinterpret_cast<const RwPlaneSector *>(s);
        const bool below = Axis(fbox.inf, plane->type) < plane->leftValue;
        const bool above = plane->rightValue < Axis(fbox.sup, plane->type);
        if (below && above && depth < rwMAXSECTORDEPTH) {
            const bool cameraAbove = Axis(eye, plane->type) > plane->value;
            // Back to front: the far side first; front to back: the near side.
            const bool leftFirst = backToFront ? cameraAbove : !cameraAbove;
            stack[depth++] = leftFirst ? plane->rightSubTree : plane->leftSubTree;
            s = leftFirst ? plane->leftSubTree : plane->rightSubTree;
        } else {
            s = below ? plane->leftSubTree : plane->rightSubTree;
        }
    }
    RwStandardFunction(rwSTANDARDHINTRENDERF2B, nullptr, nullptr, world->renderOrder == rwRENDERORDERFRONT2BACK);
}

static RwObjectHasFrame *CameraTieSync(RwObjectHasFrame *object)
{
    RwCamera *camera = reinterpret_cast<RwCamera *>(object);
    RwCameraWorldExt *ext = CameraExt(camera);
    if (!ext->sync(object)) {
        return nullptr;
    }
    if (ext->world && RwCameraGetFrame(camera)) {
        BuildFrustumList(camera, ext);
    }
    return object;
}

static RwCamera *CameraWorldBeginUpdate(RwCamera *camera)
{
    RwCameraWorldExt *ext = CameraExt(camera);
    RwEngineInstance->curWorld = ext->world;
    if (ext->world) {
        RwEngineInstance->renderFrame =
            (RwEngineInstance->renderFrame & 0xFFFF0000u) | ((RwEngineInstance->renderFrame + 1) & 0xFFFFu);
    }
    return ext->beginUpdate(camera);
}

static RwCamera *CameraWorldEndUpdate(RwCamera *camera)
{
    RwEngineInstance->curWorld = nullptr;
    return CameraExt(camera)->endUpdate(camera);
}

// A copy of an object in a world joins that world.
template <typename T, RwWorld *(*GetWorld)(const T *), RwWorld *(*Add)(RwWorld *, T *)>
static void *CopyIntoWorld(void *dst, const void *src, RwInt32, RwInt32)
{
    if (RwWorld *world = GetWorld(static_cast<const T *>(src))) {
        Add(world, static_cast<T *>(dst));
    }
    return dst;
}

static void *CameraExtConstruct(void *object, RwInt32, RwInt32)
{
    RwCamera *camera = static_cast<RwCamera *>(object);
    RwCameraWorldExt *ext = CameraExt(camera);
    *ext = {nullptr, 0, 0, nullptr, camera->beginUpdate, camera->endUpdate, camera->object.sync, {nullptr, nullptr}};
    camera->beginUpdate = CameraWorldBeginUpdate;
    camera->endUpdate = CameraWorldEndUpdate;
    camera->object.sync = CameraTieSync;
    return object;
}

static void *CameraExtDestruct(void *object, RwInt32, RwInt32)
{
    RwCamera *camera = static_cast<RwCamera *>(object);
    RwCameraWorldExt *ext = CameraExt(camera);
    // A camera destroyed in a world leaves it, so that the world's list holds no freed camera.
    if (ext->world) {
        RwWorldRemoveCamera(ext->world, camera);
    }
    if (ext->frustumSectors) {
        RwFree(ext->frustumSectors);
    }
    camera->beginUpdate = ext->beginUpdate;
    camera->endUpdate = ext->endUpdate;
    camera->object.sync = ext->sync;
    *ext = {};
    return object;
}

static void *AtomicExtConstruct(void *object, RwInt32, RwInt32)
{
    RwAtomic *atomic = static_cast<RwAtomic *>(object);
    *AtomicExt(atomic) = {nullptr, atomic->object.sync};
    atomic->object.sync = AtomicTieSync;
    atomic->renderFrame = static_cast<RwUInt16>(RwEngineInstance->renderFrame - 1);
    return object;
}

static void *AtomicExtDestruct(void *object, RwInt32, RwInt32)
{
    RwAtomic *atomic = static_cast<RwAtomic *>(object);
    RwAtomicFreeTies(atomic);
    atomic->object.sync = AtomicExt(atomic)->sync;
    AtomicExt(atomic)->world = nullptr;
    return object;
}

static void *ClumpExtConstruct(void *object, RwInt32, RwInt32)
{
    *ClumpExt(static_cast<RwClump *>(object)) = {nullptr, 0};
    return object;
}

static void *WorldExtConstruct(void *object, RwInt32, RwInt32)
{
    RwLinkListInitialize(&WorldExt(static_cast<RwWorld *>(object))->cameras);
    return object;
}

static void *LightExtConstruct(void *object, RwInt32, RwInt32)
{
    RwLight *light = static_cast<RwLight *>(object);
    *LightExt(light) = {nullptr, light->object.sync};
    light->object.sync = LightTieSync;
    return object;
}

static void *LightExtDestruct(void *object, RwInt32, RwInt32)
{
    RwLight *light = static_cast<RwLight *>(object);
    // A light destroyed in a world leaves it, so that the world's list holds no freed light.
    if (LightExt(light)->world) {
        RwWorldRemoveLight(LightExt(light)->world, light);
    }
    FreeLightTies(light);
    light->object.sync = LightExt(light)->sync;
    return object;
}

RwBool RwWorldRegisterWorldTies(void)
{
    if (RwEngineRegisterPlugin(sizeof(RwWorldTiesGlobals), rwID_WORLDOBJMODULE, TiesModuleOpen, TiesModuleClose) < 0) {
        return FALSE;
    }
    cameraExtOffset = RwCameraRegisterPlugin(sizeof(RwCameraWorldExt), rwID_WORLDOBJMODULE, CameraExtConstruct,
                                             CameraExtDestruct,
                                             CopyIntoWorld<RwCamera, RwCameraGetWorld, RwWorldAddCamera>);
    atomicExtOffset = RwAtomicRegisterPlugin(sizeof(RwObjectWorldExt), rwID_WORLDOBJMODULE, AtomicExtConstruct,
                                             AtomicExtDestruct, nullptr);
    clumpExtOffset =
        RwClumpRegisterPlugin(sizeof(RwClumpWorldExt), rwID_WORLDOBJMODULE, ClumpExtConstruct, nullptr,
                              CopyIntoWorld<RwClump, RwClumpGetWorld, RwWorldAddClump>);
    lightExtOffset = RwLightRegisterPlugin(sizeof(RwObjectWorldExt), rwID_WORLDOBJMODULE, LightExtConstruct,
                                           LightExtDestruct,
                                           CopyIntoWorld<RwLight, RwLightGetWorld, RwWorldAddLight>);
    worldExtOffset = RwWorldRegisterPlugin(sizeof(RwWorldCameraExt), rwID_WORLDOBJMODULE, WorldExtConstruct, nullptr,
                                           nullptr);
    return cameraExtOffset >= 0 && atomicExtOffset >= 0 && clumpExtOffset >= 0 && lightExtOffset >= 0 &&
           worldExtOffset >= 0;
}

RwWorld *RwWorldAddLight(RwWorld *world, RwLight *light)
{
    if (LightExt(light)->world) {
        RwErrorRaise(rwID_WORLDPLUGIN, E_RP_WORLD_INWORLD);
        return nullptr;
    }
    LightExt(light)->world = world;
    if (RwLightGetType(light) >= rwLIGHTPOINT) {
        if (RwFrame *frame = RwLightGetFrame(light)) {
            RwFrameMarkDirty(frame);
        }
        RwLinkListAddLLLink(&world->lightList, &light->inWorld);
    } else {
        RwLinkListAddLLLink(&world->directionalLightList, &light->inWorld);
    }
    return world;
}

RwWorld *RwWorldRemoveLight(RwWorld *world, RwLight *light)
{
    if (LightExt(light)->world != world) {
        RwErrorRaise(rwID_WORLDPLUGIN, E_RP_WORLD_NOTINWORLD);
        return nullptr;
    }
    LightExt(light)->world = nullptr;
    FreeLightTies(light);
    RwLLLinkRemove(&light->inWorld);
    light->inWorld.next = light->inWorld.prev = nullptr;
    return world;
}

RwWorld *RwWorldAddCamera(RwWorld *world, RwCamera *camera)
{
    RwCameraWorldExt *ext = CameraExt(camera);
    if (RwFrame *frame = RwCameraGetFrame(camera)) {
        RwFrameMarkDirty(frame);
    }
    // A camera in another world moves: it is listed in one world only, and
    // its frustum list, made of the old world's sectors, is dropped.
    if (ext->world) {
        RwLLLinkRemove(&ext->inWorld);
        if (ext->world != world) {
            ext->count = 0;
        }
    }
    ext->world = world;
    RwLinkListAddLLLink(&WorldExt(world)->cameras, &ext->inWorld);
    return world;
}

RwWorld *RwWorldRemoveCamera(RwWorld *world, RwCamera *camera)
{
    RwCameraWorldExt *ext = CameraExt(camera);
    if (!ext->world) {
        return nullptr;
    }
    RwLLLinkRemove(&ext->inWorld);
    ext->inWorld.next = ext->inWorld.prev = nullptr;
    ext->world = nullptr;
    ext->count = 0;
    return world;
}

void RwWorldRemoveAllCameras(RwWorld *world)
{
    RwLinkList *cameras = &WorldExt(world)->cameras;
    while (!RwLinkListEmpty(cameras)) {
        RwCameraWorldExt *ext = rwLLLinkGetData(cameras->next, RwCameraWorldExt, inWorld);
        RwWorldRemoveCamera(world, reinterpret_cast<RwCamera *>(reinterpret_cast<RwUInt8 *>(ext) - cameraExtOffset));
    }
}

// An atomic leaves its world: its instance data and ties go with it.
static void AtomicLeaveWorld(RwAtomic *atomic)
{
    if (atomic->repEntry) {
        RwResourcesFreeEntry(atomic->repEntry);
    }
    RwAtomicFreeTies(atomic);
    AtomicExt(atomic)->world = nullptr;
}

void RwAtomicFollowClumpWorld(RwAtomic *atomic)
{
    RwWorld *world = atomic->clump ? ClumpExt(atomic->clump)->world : nullptr;
    RwObjectWorldExt *ext = AtomicExt(atomic);
    if (ext->world == world) {
        return;
    }
    if (ext->world) {
        AtomicLeaveWorld(atomic);
    }
    ext->world = world;
    if (world) {
        if (RwFrame *frame = RwAtomicGetFrame(atomic)) {
            RwFrameMarkDirty(frame);
        }
    }
}

RwWorld *RwWorldAddClump(RwWorld *world, RwClump *clump)
{
    RwClumpWorldExt *ext = ClumpExt(clump);
    if (ext->world) {
        RwErrorRaise(rwID_WORLDPLUGIN, E_RP_WORLD_INWORLD);
        return nullptr;
    }
    RwLinkListAddLLLink(&world->clumpList, &clump->inWorldLink);
    ++world->numClumpsInWorld;
    ext->world = world;
    RwLinkList *atomics = &clump->atomicList;
    for (RwLLLink *l = atomics->next; l != atomics; l = l->next) {
        RwAtomic *atomic = rwLLLinkGetData(l, RwAtomic, inClumpLink);
        AtomicExt(atomic)->world = world;
        if (RwFrame *frame = RwAtomicGetFrame(atomic)) {
            RwFrameMarkDirty(frame);
        }
    }
    RwClumpForAllLights(clump, [](RwLight *light, void *w) {
        if (!LightExt(light)->world) {
            RwWorldAddLight(static_cast<RwWorld *>(w), light);
        }
        return light;
    }, world);
    RwClumpForAllCameras(clump, [](RwCamera *camera, void *w) {
        RwWorldAddCamera(static_cast<RwWorld *>(w), camera);
        return camera;
    }, world);
    if (RwFrame *frame = RwClumpGetFrame(clump)) {
        RwMatrixClassify(&frame->modelling, nullptr);
        RwFrameMarkDirty(frame);
    }
    ext->visitStamp = TiesGlobals()->clumpVisitCounter;
    return world;
}

RwWorld *RwWorldRemoveClump(RwWorld *world, RwClump *clump)
{
    RwClumpWorldExt *ext = ClumpExt(clump);
    if (!ext->world) {
        RwErrorRaise(rwID_WORLDPLUGIN, E_RP_WORLD_NOTINWORLD);
        return nullptr;
    }
    --world->numClumpsInWorld;
    if (world->currentClumpLink == &clump->inWorldLink) {
        world->currentClumpLink = clump->inWorldLink.next;
    }
    RwLLLinkRemove(&clump->inWorldLink);
    RwLinkList *atomics = &clump->atomicList;
    for (RwLLLink *l = atomics->next; l != atomics; l = l->next) {
        RwAtomic *atomic = rwLLLinkGetData(l, RwAtomic, inClumpLink);
        if (AtomicExt(atomic)->world == world) {
            AtomicLeaveWorld(atomic);
        }
    }
    RwClumpForAllLights(clump, [](RwLight *light, void *w) {
        if (LightExt(light)->world == w) {
            RwWorldRemoveLight(static_cast<RwWorld *>(w), light);
        }
        return light;
    }, world);
    RwClumpForAllCameras(clump, [](RwCamera *camera, void *w) {
        if (CameraExt(camera)->world == w) {
            RwWorldRemoveCamera(static_cast<RwWorld *>(w), camera);
        }
        return camera;
    }, world);
    ext->world = nullptr;
    return world;
}

RwAtomic *RwAtomicForAllWorldSectors(RwAtomic *atomic, RwWorldSectorCallBack callback, void *data)
{
    RwLinkList *list = &atomic->llWorldSectorsInAtomic;
    for (RwLLLink *l = list->next; l != list;) {
        RwLLLink *next = l->next;
        if (!callback(rwLLLinkGetData(l, RwTie, lObject)->worldSector, data)) {
            break;
        }
        l = next;
    }
    return atomic;
}

// Calls visit for each object tied on the sector list; a cursor tie after the
// current one lets the callback remove ties, the current one included.
template <typename Visit>
static bool ForAllTied(RwLinkList *list, Visit visit)
{
    RwTie cursor = {};
    for (RwLLLink *l = list->next; l != list;) {
        RwTie *tie = rwLLLinkGetData(l, RwTie, lWorldSector);
        if (!tie->object) {
            l = l->next;
            continue;
        }
        cursor.lWorldSector.next = l->next;
        cursor.lWorldSector.prev = l;
        l->next->prev = &cursor.lWorldSector;
        l->next = &cursor.lWorldSector;
        const bool go = visit(tie->object);
        l = cursor.lWorldSector.next;
        RwLLLinkRemove(&cursor.lWorldSector);
        if (!go) {
            return false;
        }
    }
    return true;
}

RwWorldSector *RwWorldSectorForAllAtomics(RwWorldSector *sector, RwAtomicCallBack callback, void *data)
{
    ForAllTied(&sector->collAtomicsInWorldSector,
               [callback, data](void *object) { return callback(static_cast<RwAtomic *>(object), data) != nullptr; });
    return sector;
}

RwWorldSector *RwWorldSectorForAllLights(RwWorldSector *sector, RwLightCallBack callback, void *data)
{
    if (!ForAllTied(&sector->lightsInWorldSector,
                    [callback, data](void *object) {
                        return callback(static_cast<RwLight *>(object), data) != nullptr;
                    })) {
        return sector;
    }
    RwWorld *world = RwWorldSectorGetWorld(sector);
    if (!world) {
        return sector;
    }
    RwLinkList *list = &world->directionalLightList;
    for (RwLLLink *l = list->next; l != list;) {
        RwLLLink *next = l->next;
        if (!callback(rwLLLinkGetData(l, RwLight, inWorld), data)) {
            break;
        }
        l = next;
    }
    return sector;
}

RwCamera *RwCameraForAllSectorsInFrustum(RwCamera *camera, RwWorldSectorCallBack callback, void *data)
{
    RwCameraWorldExt *ext = CameraExt(camera);
    for (RwInt32 i = 0; i < ext->count; ++i) {
        if (!callback(ext->frustumSectors[i], data)) {
            break;
        }
    }
    return camera;
}

RwCamera *RwCameraForAllClumpsInFrustum(RwCamera *camera, void *data)
{
    const RwUInt32 stamp = ++TiesGlobals()->clumpVisitCounter;
    RwCameraWorldExt *ext = CameraExt(camera);
    for (RwInt32 i = 0; i < ext->count; ++i) {
        const bool go = ForAllTied(&ext->frustumSectors[i]->collAtomicsInWorldSector, [camera, stamp, data](void *o) {
            RwAtomic *atomic = static_cast<RwAtomic *>(o);
            RwClump *clump = atomic->clump;
            if (!clump || ClumpExt(clump)->visitStamp == stamp ||
                RwCameraFrustumTestSphere(camera, RwAtomicGetWorldBoundingSphere(atomic)) == rwSPHEREOUTSIDE) {
                return true;
            }
            ClumpExt(clump)->visitStamp = stamp;
            return clump->callback(clump, data) != nullptr;
        });
        if (!go) {
            break;
        }
    }
    return camera;
}
