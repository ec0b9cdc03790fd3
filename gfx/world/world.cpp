// World module: world and sector creation and destruction, the tree walks, sector meshes and world rendering.
#include "world.h"

#include <cstring>
#include <initializer_list>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/memory.h"
#include "gfx/core/modules.h"
#include "gfx/core/pipeline.h"
#include "gfx/core/pluginstream.h"
#include "geometry.h"
#include "light.h"
#include "mesh.h"
#include "worldids.h"
#include "worldpipe.h"

enum : RwUInt32 {
    rwWORLDLISTHINT = 0x40507,
    rwWORLDFREELISTHINT = 0x4000B,
};

struct RwWorldListNode {
    RwWorld *world;
    RwUInt32 blockSize;
    RwLLLink link;
};
static_assert(sizeof(RwWorldListNode) == 16, "world-list node is 16 bytes");

struct RwWorldGlobals {
    RwFreeList *nodeFreeList;
    RwLinkList worldList;
};
static_assert(sizeof(RwWorldGlobals) == 12, "world module globals are 12 bytes");

static RwPluginRegistry worldTKList = rwPLUGINREGISTRY_INIT(sizeof(RwWorld));
static RwPluginRegistry sectorTKList = rwPLUGINREGISTRY_INIT(sizeof(RwWorldSector));
static RwInt32 worldModuleOffset = -1;
static RwInt32 worldOpenCount = 0;
static RwInt32 sectorOpenCount = 0;
static RwInt32 binWorldOpenCount = 0;

static RwWorldGlobals *WorldGlobals()
{
    return RwEngineModuleGlobals<RwWorldGlobals>(worldModuleOffset);
}

void *RwWorldModuleOpen(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    worldModuleOffset = offset;
    if (!RwWorldPipelinesOpen()) {
        return nullptr;
    }
    RwWorldGlobals *g = WorldGlobals();
    g->nodeFreeList = RwFreeListCreateAndPreallocate(sizeof(RwWorldListNode), 8, 4, 1, nullptr, rwWORLDFREELISTHINT);
    if (!g->nodeFreeList) {
        RwWorldPipelinesClose();
        return nullptr;
    }
    RwLinkListInitialize(&g->worldList);
    ++worldOpenCount;
    return instance;
}

void *RwWorldModuleClose(void *instance, RwInt32 /*offset*/, RwInt32 /*size*/)
{
    RwWorldGlobals *g = WorldGlobals();
    RwFreeListDestroy(g->nodeFreeList);
    g->nodeFreeList = nullptr;
    RwLinkListInitialize(&g->worldList);
    RwWorldPipelinesClose();
    --worldOpenCount;
    return instance;
}

void *RwSectorModuleOpen(void *instance, RwInt32, RwInt32)
{
    ++sectorOpenCount;
    return instance;
}

void *RwSectorModuleClose(void *instance, RwInt32, RwInt32)
{
    --sectorOpenCount;
    return instance;
}

void *RwBinWorldModuleOpen(void *instance, RwInt32, RwInt32)
{
    ++binWorldOpenCount;
    return instance;
}

void *RwBinWorldModuleClose(void *instance, RwInt32, RwInt32)
{
    --binWorldOpenCount;
    return instance;
}

const RwPluginRegistry *RwWorldGetPluginRegistry(void)
{
    return &worldTKList;
}

const RwPluginRegistry *RwWorldSectorGetPluginRegistry(void)
{
    return &sectorTKList;
}

RwInt32 RwWorldRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                              RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB)
{
    return RwPluginRegistryAddPlugin(&worldTKList, size, pluginID, constructCB, destructCB, copyCB);
}

RwInt32 RwWorldRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                    RwPluginDataChunkWriteCallBack writeCB,
                                    RwPluginDataChunkGetSizeCallBack getSizeCB)
{
    return RwPluginRegistryAddPluginStream(&worldTKList, pluginID, readCB, writeCB, getSizeCB);
}

RwInt32 RwWorldSetStreamRightsCallBack(RwUInt32 pluginID, RwPluginDataChunkRightsCallBack rightsCB)
{
    return RwPluginRegistryAddPluginStreamRightsCallBack(&worldTKList, pluginID, rightsCB);
}

RwInt32 RwWorldGetPluginOffset(RwUInt32 pluginID)
{
    return RwPluginRegistryGetPluginOffset(&worldTKList, pluginID);
}

RwInt32 RwWorldSectorRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                                    RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB)
{
    return RwPluginRegistryAddPlugin(&sectorTKList, size, pluginID, constructCB, destructCB, copyCB);
}

RwInt32 RwWorldSectorRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                          RwPluginDataChunkWriteCallBack writeCB,
                                          RwPluginDataChunkGetSizeCallBack getSizeCB)
{
    return RwPluginRegistryAddPluginStream(&sectorTKList, pluginID, readCB, writeCB, getSizeCB);
}

RwInt32 RwWorldSectorSetStreamRightsCallBack(RwUInt32 pluginID, RwPluginDataChunkRightsCallBack rightsCB)
{
    return RwPluginRegistryAddPluginStreamRightsCallBack(&sectorTKList, pluginID, rightsCB);
}

RwInt32 RwWorldSectorGetPluginOffset(RwUInt32 pluginID)
{
    return RwPluginRegistryGetPluginOffset(&sectorTKList, pluginID);
}

// Depth-first walk over the leaves, left before right, with an explicit stack
// of pending right children. Trees deeper than the stack never get here: the
// reader refuses them and creation makes a single leaf.
template <typename Visit>
static bool ForAllLeaves(RwSector *root, Visit visit)
{
    RwSector *stack[rwMAXSECTORDEPTH];
    RwInt32 depth = 0;
    RwSector *s = root;
    while (s) {
        if (s->type < 0) {
            if (!visit(reinterpret_cast<RwWorldSector *>(s))) {
                return false;
            }
            s = depth > 0 ? stack[--depth] : nullptr;
        } else {
            RwPlaneSector *plane = reinterpret_cast<RwPlaneSector *>(s);
            if (depth == rwMAXSECTORDEPTH) {
                return false;
            }
            stack[depth++] = plane->rightSubTree;
            s = plane->leftSubTree;
        }
    }
    return true;
}

RwInt32 RwSectorTreeDepth(const RwSector *root)
{
    if (!root || root->type < 0) {
        return 0;
    }
    const RwPlaneSector *plane = reinterpret_cast<const RwPlaneSector *>(root);
    const RwInt32 left = RwSectorTreeDepth(plane->leftSubTree);
    const RwInt32 right = RwSectorTreeDepth(plane->rightSubTree);
    return 1 + (left > right ? left : right);
}

void RwWorldListAdd(RwWorld *world, RwUInt32 blockSize)
{
    RwWorldGlobals *g = WorldGlobals();
    RwWorldListNode *node = static_cast<RwWorldListNode *>(RwFreeListAlloc(g->nodeFreeList, rwWORLDLISTHINT));
    if (node) {
        node->world = world;
        node->blockSize = blockSize;
        RwLinkListAppendLLLink(&g->worldList, &node->link);
    }
}

static RwWorldListNode *FindNode(const RwWorld *world)
{
    RwLinkList *list = &WorldGlobals()->worldList;
    for (RwLLLink *l = list->next; l != list; l = l->next) {
        RwWorldListNode *node = rwLLLinkGetData(l, RwWorldListNode, link);
        if (node->world == world) {
            return node;
        }
    }
    return nullptr;
}

static void Unlist(const RwWorld *world)
{
    if (RwWorldListNode *node = FindNode(world)) {
        RwLLLinkRemove(&node->link);
        RwFreeListFree(WorldGlobals()->nodeFreeList, node);
    }
}

void RwWorldFreeUnconstructed(RwWorld *world)
{
    Unlist(world);
    RwFree(world);
}

void RwWorldSectorRelease(RwWorldSector *sector)
{
    if (sector->repEntry) {
        RwResourcesFreeEntry(sector->repEntry);
    }
    RwWorldSectorFreeTies(sector);
    RwPluginRegistryDeInitObject(&sectorTKList, sector);
    if (sector->mesh) {
        RwMeshHeaderDestroy(sector->mesh);
        sector->mesh = nullptr;
    }
}

// Frees a tree whose sectors and arrays were allocated one by one.
static void FreeSeparateTree(RwSector *s)
{
    if (!s) {
        return;
    }
    if (s->type >= 0) {
        RwPlaneSector *plane = reinterpret_cast<RwPlaneSector *>(s);
        FreeSeparateTree(plane->leftSubTree);
        FreeSeparateTree(plane->rightSubTree);
    } else if (s->type == rwSECTORATOMIC) {
        RwWorldSector *sector = reinterpret_cast<RwWorldSector *>(s);
        RwWorldSectorRelease(sector);
        void *arrays[] = {sector->vertices, sector->normals, sector->preLitLum, sector->polygons};
        for (void *a : arrays) {
            if (a) {
                RwFree(a);
            }
        }
        for (RwTexCoords *t : sector->texCoords) {
            if (t) {
                RwFree(t);
            }
        }
    }
    RwFree(s);
}

RwBool RwWorldDestroy(RwWorld *world)
{
    if (!world) {
        return FALSE;
    }
    Unlist(world);
    // Clumps, lights and cameras still in the world leave it, so that none keeps a freed world.
    while (!RwLinkListEmpty(&world->clumpList)) {
        RwWorldRemoveClump(world, rwLLLinkGetData(world->clumpList.next, RwClump, inWorldLink));
    }
    for (RwLinkList *lights : {&world->lightList, &world->directionalLightList}) {
        while (!RwLinkListEmpty(lights)) {
            RwWorldRemoveLight(world, rwLLLinkGetData(lights->next, RwLight, inWorld));
        }
    }
    RwWorldRemoveAllCameras(world);
    // Destroyed by a camera's update in it, the world stops being current
    // before its end: what is drawn meanwhile reads no freed world.
    if (RwEngineInstance && RwEngineInstance->curWorld == world) {
        RwEngineInstance->curWorld = nullptr;
    }
    // Each mesh header is destroyed once, with its sector.
    if (world->object.privateFlags & rwWORLDSINGLEMALLOC) {
        ForAllLeaves(world->rootSector, [](RwWorldSector *sector) {
            if (sector->type == rwSECTORATOMIC) {
                RwWorldSectorRelease(sector);
            }
            return true;
        });
    } else {
        FreeSeparateTree(world->rootSector);
    }
    world->rootSector = nullptr;
    RwMaterialListDeinitialize(&world->matList);
    RwPluginRegistryDeInitObject(&worldTKList, world);
    RwFree(world);
    return TRUE;
}

RwWorld *RwWorldBuildSectorMeshes(RwWorld *world)
{
    const bool built = ForAllLeaves(world->rootSector, [world](RwWorldSector *sector) {
        if (sector->mesh) {
            return true;
        }
        RwMeshBuilder *builder = RwMeshBuilderCreate(sector->polygons ? sector->numPolygons : 0);
        if (!builder) {
            return false;
        }
        if (!RwMeshBuilderAddPolygons(builder, &world->matList, sector->polygons,
                                      sector->polygons ? sector->numPolygons : 0, sector->matListWindowBase)) {
            RwMeshBuilderDestroy(builder);
            return false;
        }
        RwMeshHeader *header = RwMeshHeaderBuild(builder, world->flags & rwGEOMETRYTRISTRIP);
        if (!header) {
            RwMeshBuilderDestroy(builder);
            return false;
        }
        sector->mesh = header;
        return true;
    });
    return built ? world : nullptr;
}

RwWorld *RwWorldCreate(const RwBBox *boundingBox)
{
    if (worldOpenCount <= 0 || !boundingBox) {
        return nullptr;
    }
    RwWorld *world = static_cast<RwWorld *>(RwMalloc(worldTKList.sizeOfStruct, rwMEMHINT_WORLD));
    if (!world) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    RwWorldSector *sector = static_cast<RwWorldSector *>(RwMalloc(sectorTKList.sizeOfStruct, rwMEMHINT_WORLD));
    if (!sector) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        RwFree(world);
        return nullptr;
    }
    std::memset(world, 0, sizeof *world);
    std::memset(sector, 0, sizeof *sector);
    world->object.type = rwWORLD;
    RwMaterialListInitialize(&world->matList);
    world->renderOrder = rwRENDERORDERBACK2FRONT;
    sector->type = rwSECTORATOMIC;
    RwLinkListInitialize(&sector->collAtomicsInWorldSector);
    RwLinkListInitialize(&sector->lightsInWorldSector);
    sector->boundingBox = *boundingBox;
    sector->tightBoundingBox = *boundingBox;
    world->rootSector = reinterpret_cast<RwSector *>(sector);
    world->currentClumpLink = &world->clumpList;
    RwLinkListInitialize(&world->clumpList);
    RwLinkListInitialize(&world->lightList);
    RwLinkListInitialize(&world->directionalLightList);
    world->boundingBox = *boundingBox;
    world->renderCallBack = RwWorldSectorDefaultRenderCallBack;
    RwWorldListAdd(world, static_cast<RwUInt32>(worldTKList.sizeOfStruct));
    const bool worldInit = RwPluginRegistryInitObject(&worldTKList, world) != nullptr;
    if (!worldInit || !RwPluginRegistryInitObject(&sectorTKList, sector)) {
        Unlist(world);
        if (worldInit) {
            RwPluginRegistryDeInitObject(&worldTKList, world);
        }
        RwFree(sector);
        RwFree(world);
        return nullptr;
    }
    if (!RwWorldBuildSectorMeshes(world)) {
        RwWorldDestroy(world);
        return nullptr;
    }
    return world;
}

RwWorld *RwWorldSetSectorRenderCallBack(RwWorld *world, RwWorldSectorCallBackRender callback)
{
    world->renderCallBack = callback ? callback : RwWorldSectorDefaultRenderCallBack;
    return world;
}

RwWorldSector *RwWorldSectorDefaultRenderCallBack(RwWorldSector *sector)
{
    if (sector->numPolygons == 0) {
        return sector;
    }
    RxPipeline *pipeline = sector->pipeline;
    const RwWorld *world = static_cast<const RwWorld *>(RwEngineInstance->curWorld);
    if (!pipeline && world) {
        pipeline = world->pipeline;
    }
    if (!pipeline) {
        pipeline = RwWorldGetDefaultSectorPipeline();
    }
    return RwPipelineExecute(pipeline, sector, TRUE) ? sector : nullptr;
}

RwWorldSector *RwWorldSectorRender(RwWorldSector *sector)
{
    const RwWorld *world = static_cast<const RwWorld *>(RwEngineInstance->curWorld);
    return world ? world->renderCallBack(sector) : nullptr;
}

RwWorldSector *RwWorldRenderSector(RwWorldSector *sector)
{
    if (RwEngineInstance->curWorld && !RwWorldSectorRender(sector)) {
        return sector;
    }
    const RwCamera *camera = RwEngineInstance->curCamera;
    const RwUInt16 frame = static_cast<RwUInt16>(RwEngineInstance->renderFrame);
    RwLinkList *ties = &sector->collAtomicsInWorldSector;
    for (RwLLLink *l = ties->next; l != ties; l = l->next) {
        RwAtomic *atomic = RwTieGetAtomic(l);
        if (!atomic || !(atomic->object.object.flags & rwATOMICRENDER) || atomic->renderFrame == frame) {
            continue;
        }
        if (RwCameraFrustumTestSphere(camera, RwAtomicGetWorldBoundingSphere(atomic)) != rwSPHEREOUTSIDE) {
            atomic->renderCallBack(atomic);
        }
        atomic->renderFrame = frame;
    }
    return sector;
}

RwWorld *RwWorldRender(RwWorld *world)
{
    RwCamera *camera = RwEngineInstance->curCamera;
    if (!camera) {
        return world;
    }
    const RwInt32 count = RwCameraGetFrustumSectorCount(camera);
    for (RwInt32 i = 0; i < count; ++i) {
        RwWorldRenderSector(RwCameraGetFrustumSector(camera, i));
    }
    return world;
}

RwWorld *RwWorldForAllClumps(RwWorld *world, RwClumpCallBack callback, void *data)
{
    RwLinkList *list = &world->clumpList;
    for (RwLLLink *l = list->next; l != list;) {
        RwLLLink *next = l->next;
        if (!callback(rwLLLinkGetData(l, RwClump, inWorldLink), data)) {
            break;
        }
        l = next;
    }
    return world;
}

RwWorld *RwWorldForAllMaterials(RwWorld *world, RwMaterialCallBack callback, void *data)
{
    for (RwInt32 i = 0; i < world->matList.numMaterials; ++i) {
        if (!callback(world->matList.materials[i], data)) {
            break;
        }
    }
    return world;
}

RwWorld *RwWorldForAllWorldSectors(RwWorld *world, RwWorldSectorCallBack callback, void *data)
{
    ForAllLeaves(world->rootSector,
                 [callback, data](RwWorldSector *sector) { return callback(sector, data) != nullptr; });
    return world;
}

RwWorld *RwWorldSectorGetWorld(const RwWorldSector *sector)
{
    if (worldOpenCount <= 0) {
        return nullptr;
    }
    RwLinkList *list = &WorldGlobals()->worldList;
    for (RwLLLink *l = list->next; l != list; l = l->next) {
        RwWorldListNode *node = rwLLLinkGetData(l, RwWorldListNode, link);
        RwWorld *world = node->world;
        if (world->object.privateFlags & rwWORLDSINGLEMALLOC) {
            const RwUInt8 *start = reinterpret_cast<const RwUInt8 *>(world);
            const RwUInt8 *p = reinterpret_cast<const RwUInt8 *>(sector);
            if (p >= start && p < start + node->blockSize) {
                return world;
            }
        } else if (!ForAllLeaves(world->rootSector, [sector](RwWorldSector *s) { return s != sector; })) {
            return world;
        }
    }
    return nullptr;
}

void RwWorldSetSectorBoxes(RwWorld *world)
{
    struct Pending {
        RwSector *sector;
        RwBBox box;
    };
    Pending stack[rwMAXSECTORDEPTH];
    RwInt32 depth = 0;
    RwSector *s = world->rootSector;
    RwBBox box = world->boundingBox;
    while (s) {
        if (s->type < 0) {
            reinterpret_cast<RwWorldSector *>(s)->boundingBox = box;
            if (depth == 0) {
                break;
            }
            --depth;
            s = stack[depth].sector;
            box = stack[depth].box;
            continue;
        }
        if (depth == rwMAXSECTORDEPTH) {
            break;
        }
        RwPlaneSector *plane = reinterpret_cast<RwPlaneSector *>(s);
        RwBBox right = box;
        reinterpret_cast<RwReal *>(&right.inf)[plane->type / 4] = plane->rightValue;
        stack[depth++] = {plane->rightSubTree, right};
        reinterpret_cast<RwReal *>(&box.sup)[plane->type / 4] = plane->leftValue;
        s = plane->leftSubTree;
    }
}
