// Default world pipelines: one-node pipelines made at the world module's open, the current ones and the restore list.
#include "worldpipe.h"

#include "gfx/core/engine.h"
#include "gfx/core/memory.h"
#include "gfx/core/pipeline.h"
#include "geometry.h"

enum : RwUInt32 {
    rwRESTORELISTHINT = 0x3050D,
    rwWORLDPIPELINEPLUGINID = 2,
};

struct RwRestoreNode {
    RwGeometry *geometry;
    RwRestoreNode *next;
};
static_assert(sizeof(RwRestoreNode) == 8, "restore node is 8 bytes");

// Words of the world's share of the pipeline globals.
struct RwWorldPipeGlobals {
    RxPipeline *currentAtomicPipeline;
    RxPipeline *currentSectorPipeline;
    RwFreeList *restoreFreeList;
    RwRestoreNode *restoreList;
    RwUInt32 spare[2];
    RxPipeline *defaultAtomicPipeline;
    RxPipeline *defaultSectorPipeline;
    RwUInt32 spare2;
};
static_assert(sizeof(RwWorldPipeGlobals) == 36, "nine words");

static RwWorldPipeGlobals pipes;

static RxPipeline *MakeOneNodePipeline(RxPipelineNodeDefinition *definition)
{
    RxPipeline *pipeline = RwPipelineCreate();
    if (!pipeline) {
        return nullptr;
    }
    pipeline->pluginId = rwWORLDPIPELINEPLUGINID;
    if (!RwPipelineLock(pipeline) || !RwPipelineAddFragment(pipeline, nullptr, definition, nullptr) ||
        !RwPipelineUnlock(pipeline)) {
        RwPipelineDestroy(pipeline);
        return nullptr;
    }
    return pipeline;
}

RwBool RwAtomicPipelineCreateDefault(void)
{
    pipes.defaultAtomicPipeline = MakeOneNodePipeline(RwD3D9AtomicAllInOneNodeGet());
    if (!pipes.defaultAtomicPipeline) {
        return FALSE;
    }
    RwAtomicSetDefaultPipeline(nullptr);
    RwD3D9LightingStateInit();
    RwD3D9VertexShaderCacheInit();
    return TRUE;
}

RwBool RwWorldSectorPipelineCreateDefault(void)
{
    pipes.defaultSectorPipeline = MakeOneNodePipeline(RwD3D9WorldSectorAllInOneNodeGet());
    if (!pipes.defaultSectorPipeline) {
        return FALSE;
    }
    RwWorldSetDefaultSectorPipeline(nullptr);
    return TRUE;
}

void RwAtomicPipelineDestroyDefault(void)
{
    while (RwRestoreNode *node = pipes.restoreList) {
        pipes.restoreList = node->next;
        RwFreeListFree(pipes.restoreFreeList, node);
    }
    if (pipes.restoreFreeList) {
        RwFreeListDestroy(pipes.restoreFreeList);
        pipes.restoreFreeList = nullptr;
    }
    if (pipes.defaultAtomicPipeline) {
        RwD3D9VertexShaderCacheTerm();
        RwD3D9LightingStateTerm();
        RwPipelineDestroy(pipes.defaultAtomicPipeline);
    }
    pipes.defaultAtomicPipeline = nullptr;
    pipes.currentAtomicPipeline = nullptr;
}

void RwWorldSectorPipelineDestroyDefault(void)
{
    if (pipes.defaultSectorPipeline) {
        RwPipelineDestroy(pipes.defaultSectorPipeline);
    }
    pipes.defaultSectorPipeline = nullptr;
    pipes.currentSectorPipeline = nullptr;
}

RwBool RwWorldPipelinesOpen(void)
{
    pipes = RwWorldPipeGlobals{};
    if (RwReturnTrue() && RwAtomicPipelineCreateDefault() && RwWorldSectorPipelineCreateDefault()) {
        return TRUE;
    }
    RwWorldPipelinesClose();
    return FALSE;
}

void RwWorldPipelinesClose(void)
{
    RwWorldSectorPipelineDestroyDefault();
    RwAtomicPipelineDestroyDefault();
    // The spare slots hold nothing to destroy.
    RwDoNothing();
}

RwBool RwWorldPipelineAttach(void)
{
    return RwD3D9WorldPipelineAttach();
}

void RwAtomicSetDefaultPipeline(RxPipeline *pipeline)
{
    pipes.currentAtomicPipeline = pipeline ? pipeline : pipes.defaultAtomicPipeline;
}

void RwWorldSetDefaultSectorPipeline(RxPipeline *pipeline)
{
    pipes.currentSectorPipeline = pipeline ? pipeline : pipes.defaultSectorPipeline;
}

RxPipeline *RwAtomicGetDefaultPipeline(void)
{
    return pipes.currentAtomicPipeline;
}

RxPipeline *RwWorldGetDefaultSectorPipeline(void)
{
    return pipes.currentSectorPipeline;
}

void RwGeometryAddToRestoreList(RwGeometry *geometry)
{
    for (RwRestoreNode *n = pipes.restoreList; n; n = n->next) {
        if (n->geometry == geometry) {
            return;
        }
    }
    if (!pipes.restoreFreeList) {
        pipes.restoreFreeList = RwFreeListCreate(sizeof(RwRestoreNode), 128, 4, rwRESTORELISTHINT);
        if (!pipes.restoreFreeList) {
            return;
        }
    }
    RwRestoreNode *node = static_cast<RwRestoreNode *>(RwFreeListAlloc(pipes.restoreFreeList, rwRESTORELISTHINT));
    if (node) {
        node->geometry = geometry;
        node->next = pipes.restoreList;
        pipes.restoreList = node;
    }
}

void RwGeometryRemoveFromRestoreList(RwGeometry *geometry)
{
    for (RwRestoreNode **at = &pipes.restoreList; *at; at = &(*at)->next) {
        if ((*at)->geometry == geometry) {
            RwRestoreNode *node = *at;
            *at = node->next;
            RwFreeListFree(pipes.restoreFreeList, node);
            return;
        }
    }
}

void RwWorldDeviceRestoreCallback(void)
{
    for (RwRestoreNode *n = pipes.restoreList; n; n = n->next) {
        n->geometry->lockedSinceLastInst = rwGEOMETRYLOCKALL;
    }
}
