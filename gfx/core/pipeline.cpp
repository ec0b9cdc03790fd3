// Pipeline module: creation, locking and editing, execution, packet dispatch and the default render-state vector.
#include <cstdarg>
#include <cstring>

#include "engine.h"
#include "error.h"
#include "memory.h"
#include "modules.h"
#include "pipelineint.h"

enum : RwUInt32 {
    rxPIPEFREELISTHINT = rwMEMHINTDUR_GLOBAL | rwID_PIPEMODULE,
    rxPIPEHINT = rwMEMHINTDUR_EVENT | rwID_PIPEMODULE,
    rxPIPEHEAPSIZE = 4096,
};

struct RxPipelineGlobals {
    RwFreeList *pipelineFreeList;
    RwRenderStateVector defaultRenderState;
    RwUInt32 maxNodesPerPipeline;
    RwBool open;
    RxHeap *heap;
    RxPipeline *executing;          // the pipeline running now
    RwBool success;
    RxPipelineNodeParam params;
};
static_assert(sizeof(RxPipelineGlobals) <= 96, "fits the pipeline module's engine globals");

static RwInt32 pipelineModuleOffset = -1;

static RxPipelineGlobals *PipeGlobals()
{
    return RwEngineModuleGlobals<RxPipelineGlobals>(pipelineModuleOffset);
}

static RwBool PipeModuleOpen()
{
    return pipelineModuleOffset >= 0 && RwEngineGetStatus() >= rwENGINESTATUSOPENED && PipeGlobals()->open;
}

RwRenderStateVector *RwRenderStateVectorSetDefault(RwRenderStateVector *vector)
{
    if (!vector) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return nullptr;
    }
    if (pipelineModuleOffset < 0 || RwEngineGetStatus() < rwENGINESTATUSOPENED) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_BADRENDERSTATEVECTOR);   // no module vector yet
        return nullptr;
    }
    RwRenderStateVector *own = &PipeGlobals()->defaultRenderState;
    if (RwEngineGetStatus() == rwENGINESTATUSSTARTED) {
        if (vector != own) {
            *vector = *own;
        }
        return vector;
    }
    if (vector != own) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_BADRENDERSTATEVECTOR);
        return nullptr;
    }
    own->flags = 7;
    own->shadeMode = 2;
    own->srcBlend = 5;
    own->destBlend = 6;
    own->textureRaster = nullptr;
    own->addressModeU = 1;
    own->addressModeV = 1;
    own->filterMode = 2;
    own->borderColor = 0xFFFFFFFFu;
    own->fogType = 0;
    own->fogColor = 0xFFFFFFFFu;
    return vector;
}

void *RwPipelineModuleOpen(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    pipelineModuleOffset = offset;
    RxPipelineGlobals *g = PipeGlobals();
    if (g->open) {
        return nullptr;
    }
    memset(g, 0, sizeof *g);
    g->heap = RwHeapCreate(rxPIPEHEAPSIZE);
    if (!g->heap) {
        return nullptr;
    }
    g->pipelineFreeList = RwFreeListCreateAndPreallocate(sizeof(RxPipeline), 64, 4, 1, nullptr, rxPIPEFREELISTHINT);
    if (!g->pipelineFreeList) {
        RwHeapDestroy(g->heap);
        g->heap = nullptr;
        return nullptr;
    }
    g->maxNodesPerPipeline = rxPIPELINEMAXNODES;
    RwRenderStateVectorSetDefault(&g->defaultRenderState);
    g->open = TRUE;
    return instance;
}

void *RwPipelineModuleClose(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    pipelineModuleOffset = offset;
    RxPipelineGlobals *g = PipeGlobals();
    if (g->open) {
        RwFreeListDestroy(g->pipelineFreeList);
        RwHeapDestroy(g->heap);
        g->pipelineFreeList = nullptr;
        g->heap = nullptr;
        g->open = FALSE;
    }
    return instance;
}

RxHeap *RwPipelineGetHeap(void)
{
    return PipeModuleOpen() ? PipeGlobals()->heap : nullptr;
}

RxPipeline *RwPipelineCreate(void)
{
    RxPipeline *pipeline = PipeModuleOpen()
                               ? static_cast<RxPipeline *>(RwFreeListAlloc(PipeGlobals()->pipelineFreeList, rxPIPEHINT))
                               : nullptr;
    if (!pipeline) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    memset(pipeline, 0, sizeof *pipeline);
    return pipeline;
}

void RwPipelineNodeRelease(RxPipelineNode *node)
{
    RxPipelineNodeDefinition *def = node->nodeDef;
    if (!def) {
        return;
    }
    if (def->pipelineNodeTerm) {
        def->pipelineNodeTerm(node);
    }
    if (--def->inputPipesCnt == 0 && def->nodeTerm) {
        def->nodeTerm(def);
    }
}

static void FreeEditableDefinition(RxPipeline *pipeline, RxPipelineNodeDefinition *def, RwUInt32 except)
{
    if (!def || !def->editable || def->inputPipesCnt != 0) {
        return;
    }
    // Another node of this pipeline may still name it.
    for (RwUInt32 i = 0; i < pipeline->numNodes; ++i) {
        if (i != except && pipeline->nodes[i].nodeDef == def) {
            return;
        }
    }
    RwFree(def);
}

RxPipeline *RwPipelineNodeRemove(RxPipelineNode *node, RxPipeline *pipeline)
{
    if (!pipeline || !node || node < pipeline->nodes || node >= pipeline->nodes + pipeline->numNodes) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return nullptr;
    }
    const RwUInt32 index = static_cast<RwUInt32>(node - pipeline->nodes);
    RxPipelineNodeDefinition *def = node->nodeDef;
    if (!pipeline->locked) {
        // Only the last node can leave an executable pipeline: links name the others.
        if (index + 1 != pipeline->numNodes) {
            RwErrorRaise(rwID_COREPLUGIN, E_RX_UNLOCKEDPIPE);
            return nullptr;
        }
        RwPipelineNodeRelease(node);
        FreeEditableDefinition(pipeline, def, index);
        memset(node, 0, sizeof *node);
        --pipeline->numNodes;
        return pipeline;
    }
    FreeEditableDefinition(pipeline, def, index);
    void *block = pipeline->superBlock;
    const RwUInt32 last = pipeline->numNodes - 1;
    for (RwUInt32 i = index; i < last; ++i) {
        memcpy(RwPipelineEditOutputs(block, i), RwPipelineEditOutputs(block, i + 1), rxEDITOUTPUTSLOT);
        *RwPipelineEditSortData(block, i) = *RwPipelineEditSortData(block, i + 1);
        pipeline->nodes[i] = pipeline->nodes[i + 1];
        pipeline->nodes[i].outputs = RwPipelineEditOutputs(block, i);
        pipeline->nodes[i].topSortData = RwPipelineEditSortData(block, i);
    }
    memset(&pipeline->nodes[last], 0, sizeof(RxPipelineNode));
    pipeline->numNodes = last;
    for (RwUInt32 i = 0; i < last; ++i) {
        RxPipelineNode &n = pipeline->nodes[i];
        for (RwUInt32 o = 0; o < n.numOutputs; ++o) {
            if (n.outputs[o] == index) {
                n.outputs[o] = rxNODEUNUSED;
            } else if (n.outputs[o] != rxNODEUNUSED && n.outputs[o] > index) {
                --n.outputs[o];
            }
        }
    }
    if (pipeline->entryPoint > index) {
        --pipeline->entryPoint;
    }
    return pipeline;
}

void RwPipelineDestroy(RxPipeline *pipeline)
{
    if (!pipeline || !PipeModuleOpen()) {
        return;   // after the module closed, its free list took the pipeline with it
    }
    // From the last node, so closing a gap in the editing layout moves nothing.
    while (pipeline->numNodes > 0) {
        RwPipelineNodeRemove(&pipeline->nodes[pipeline->numNodes - 1], pipeline);
    }
    RwFree(pipeline->superBlock);
    RwFreeListFree(PipeGlobals()->pipelineFreeList, pipeline);
}

void *RwPipelineCopyNodes(RxPipeline *pipeline)
{
    void *block = RwMalloc(rxEDITBLOCKSIZE, rxPIPEEDITHINT);
    if (!block) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    memset(block, 0, rxEDITBLOCKSIZE);
    RxPipelineNode *nodes = static_cast<RxPipelineNode *>(block);
    for (RwUInt32 i = 0; i < pipeline->numNodes; ++i) {
        const RxPipelineNode &from = pipeline->nodes[i];
        RxPipelineNode &to = nodes[i];
        to.nodeDef = from.nodeDef;
        to.numOutputs = from.numOutputs;
        to.outputs = RwPipelineEditOutputs(block, i);
        for (RwUInt32 o = 0; o < rxNODEMAXOUTPUTS; ++o) {
            to.outputs[o] = o < from.numOutputs ? from.outputs[o] : rxNODEUNUSED;
        }
        to.topSortData = RwPipelineEditSortData(block, i);
    }
    return block;
}

RxPipeline *RwPipelineLock(RxPipeline *pipeline)
{
    if (!pipeline) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return nullptr;
    }
    if (pipeline->locked) {
        return pipeline;
    }
    void *block = RwPipelineCopyNodes(pipeline);
    if (!block) {
        return nullptr;
    }
    if (pipeline->superBlock) {
        for (RwUInt32 i = 0; i < pipeline->numNodes; ++i) {
            RwPipelineNodeRelease(&pipeline->nodes[i]);
        }
        RwFree(pipeline->superBlock);
    }
    pipeline->superBlock = block;
    pipeline->superBlockSize = rxEDITBLOCKSIZE;
    pipeline->nodes = static_cast<RxPipelineNode *>(block);
    pipeline->embeddedPacket = nullptr;
    pipeline->embeddedPacketState = rxPKST_PACKETLESS;
    pipeline->packetNumClusterSlots = 0;
    pipeline->numInputRequirements = 0;
    pipeline->inputRequirements = nullptr;
    pipeline->locked = TRUE;
    return pipeline;
}

// Nodes are added and linked only while the pipeline is locked.
static RwBool Editable(const RxPipeline *pipeline)
{
    if (!pipeline) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return FALSE;
    }
    if (!pipeline->locked) {
        RwErrorRaise(rwID_COREPLUGIN, E_RX_UNLOCKEDPIPE);
        return FALSE;
    }
    return TRUE;
}

RwInt32 RwPipelineAddNode(RxPipeline *pipeline, RxPipelineNodeDefinition *def)
{
    if (!Editable(pipeline)) {
        return -1;
    }
    if (!def) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return -1;
    }
    if (def->numOutputs > rxNODEMAXOUTPUTS) {
        RwErrorRaise(rwID_COREPLUGIN, E_RX_TOOMANYOUTPUTS);
        return -1;
    }
    if (def->numClustersOfInterest > rxNODEMAXCLUSTERSOFINTEREST) {
        RwErrorRaise(rwID_COREPLUGIN, E_RX_TOOMANYCLUSTERS);
        return -1;
    }
    if (def->numOutputs >= PipeGlobals()->maxNodesPerPipeline ||
        pipeline->numNodes >= PipeGlobals()->maxNodesPerPipeline) {
        RwErrorRaise(rwID_COREPLUGIN, E_RX_TOOMANYNODES);
        return -1;
    }
    const RwUInt32 index = pipeline->numNodes;
    RxPipelineNode &node = pipeline->nodes[index];
    memset(&node, 0, sizeof node);
    node.nodeDef = def;
    node.numOutputs = def->numOutputs;
    node.outputs = RwPipelineEditOutputs(pipeline->superBlock, index);
    memset(node.outputs, 0xFF, rxEDITOUTPUTSLOT);
    node.topSortData = RwPipelineEditSortData(pipeline->superBlock, index);
    memset(node.topSortData, 0, sizeof *node.topSortData);
    ++pipeline->numNodes;
    return static_cast<RwInt32>(index);
}

RxPipeline *RwPipelineLinkNodes(RxPipeline *pipeline, RwUInt32 from, RwUInt32 output, RwUInt32 to)
{
    if (!Editable(pipeline)) {
        return nullptr;
    }
    if (from >= pipeline->numNodes || to >= pipeline->numNodes || output >= pipeline->nodes[from].numOutputs ||
        pipeline->nodes[from].outputs[output] != rxNODEUNUSED) {
        return nullptr;
    }
    pipeline->nodes[from].outputs[output] = to;
    return pipeline;
}

RxPipeline *RwPipelineAddFragment(RxPipeline *pipeline, RwUInt32 *firstIndex, RxPipelineNodeDefinition *definition,
                                  ...)
{
    if (!Editable(pipeline)) {
        return nullptr;
    }
    RxPipelineNodeDefinition *defs[rxPIPELINEMAXNODES + 1];
    RwUInt32 count = 0;
    va_list args;
    va_start(args, definition);
    for (RxPipelineNodeDefinition *d = definition; d; d = va_arg(args, RxPipelineNodeDefinition *)) {
        if (count > rxPIPELINEMAXNODES) {
            break;   // already too many: the count check below refuses it
        }
        defs[count++] = d;
    }
    va_end(args);
    if (count == 0) {
        return nullptr;
    }
    if (pipeline->numNodes + count > PipeGlobals()->maxNodesPerPipeline) {
        RwErrorRaise(rwID_COREPLUGIN, E_RX_TOOMANYNODES);
        return nullptr;
    }
    const RwUInt32 first = pipeline->numNodes;
    bool ok = true;
    for (RwUInt32 i = 0; i < count && ok; ++i) {
        ok = RwPipelineAddNode(pipeline, defs[i]) >= 0 &&
             (i == 0 || RwPipelineLinkNodes(pipeline, first + i - 1, 0, first + i) != nullptr);
    }
    if (!ok) {
        while (pipeline->numNodes > first) {
            RwPipelineNodeRemove(&pipeline->nodes[pipeline->numNodes - 1], pipeline);
        }
        return nullptr;
    }
    if (firstIndex) {
        *firstIndex = first;
    }
    return pipeline;
}

RxPipelineNode *RwPipelineFindNamedNode(RxPipeline *pipeline, const RwChar *name, RxPipelineNode *startNode,
                                        RwInt32 *outIndex)
{
    if (outIndex) {
        *outIndex = -1;
    }
    if (!pipeline || !name || pipeline->numNodes == 0) {
        return nullptr;
    }
    RwUInt32 i = 0;
    if (startNode) {
        if (startNode < pipeline->nodes || startNode >= pipeline->nodes + pipeline->numNodes) {
            return nullptr;
        }
        i = static_cast<RwUInt32>(startNode - pipeline->nodes) + 1;
    }
    for (; i < pipeline->numNodes; ++i) {
        const RxPipelineNodeDefinition *def = pipeline->nodes[i].nodeDef;
        if (def && def->name && RwEngineInstance->stringFuncs.vecStrcmp(def->name, name) == 0) {
            if (outIndex) {
                *outIndex = static_cast<RwInt32>(i);
            }
            return &pipeline->nodes[i];
        }
    }
    return nullptr;
}

static void ReleaseCluster(RxCluster *cluster, RxHeap *heap)
{
    if (!(cluster->flags & rxCLFLAGS_EXTERNAL) && cluster->data) {
        RwHeapFree(heap, cluster->data);
    }
    cluster->flags = 0;
    cluster->data = nullptr;
    cluster->numAlloced = 0;
    cluster->numUsed = 0;
    cluster->inUse = 0;
}

RxPacket *RwPacketCreate(RxPipeline *pipeline, RxPipelineNode *node, RwUInt16 flags)
{
    if (!pipeline || !node || !pipeline->embeddedPacket) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return nullptr;
    }
    RxPacket *packet = pipeline->embeddedPacket;
    packet->flags = flags;
    packet->inputToClusterSlot = node->inputToClusterSlot;
    packet->slotsContinue = node->slotsContinue;
    packet->slotClusterRefs = node->slotClusterRefs;
    pipeline->embeddedPacketState = rxPKST_INUSE;
    return packet;
}

void RwPacketDestroy(RxPacket *packet)
{
    if (!packet) {
        return;
    }
    RxHeap *heap = RwPipelineGetHeap();
    packet->pipeline->embeddedPacketState = rxPKST_UNUSED;
    for (RwUInt32 s = 0; s < packet->numClusters; ++s) {
        if (packet->clusters[s].inUse) {
            ReleaseCluster(&packet->clusters[s], heap);
        }
    }
    packet->flags = 0;
}

RxPipelineNode *RwPacketDispatch(RxPipeline *pipeline, RxPipelineNode *node, RwUInt32 output)
{
    if (!pipeline || !node || output >= node->numOutputs || node->outputs[output] >= pipeline->numNodes) {
        return nullptr;
    }
    RxPipelineNode *target = &pipeline->nodes[node->outputs[output]];
    if (pipeline->embeddedPacketState < rxPKST_INUSE) {
        return target;
    }
    RxPacket *packet = pipeline->embeddedPacket;
    const RwUInt32 bit = 1u << output;
    if (!(node->slotsContinue[0] & bit)) {
        RxHeap *heap = RwPipelineGetHeap();
        for (RwUInt32 s = packet->numClusters; s-- > 0;) {
            if (packet->clusters[s].inUse && !(node->slotsContinue[1 + s] & bit)) {
                ReleaseCluster(&packet->clusters[s], heap);
            }
        }
    }
    packet->inputToClusterSlot = target->inputToClusterSlot;
    packet->slotsContinue = target->slotsContinue;
    packet->slotClusterRefs = target->slotClusterRefs;
    pipeline->embeddedPacketState = rxPKST_PENDING;
    return target;
}

RxPipeline *RwPipelineExecute(RxPipeline *pipeline, void *data, RwBool resetHeap)
{
    if (!pipeline || !PipeModuleOpen()) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return nullptr;
    }
    if (pipeline->locked || pipeline->numNodes == 0) {
        return nullptr;   // nothing executable
    }
    RxPipelineGlobals *g = PipeGlobals();
    if (resetHeap && RwHeapIsDirty(g->heap)) {
        RwHeapReset(g->heap);
    }
    // A body may execute another pipeline: the outer run's state comes back afterwards.
    RxPipeline *const outerPipeline = g->executing;
    const RwBool outerSuccess = g->success;
    const RxPipelineNodeParam outerParams = g->params;

    g->executing = pipeline;
    g->success = TRUE;
    g->params.dataParam = data;
    g->params.heap = g->heap;
    pipeline->embeddedPacketState = rxPKST_PACKETLESS;
    RxPipelineNode *entry = &pipeline->nodes[pipeline->entryPoint];
    if (!entry->nodeDef->body || !entry->nodeDef->body(entry, &g->params)) {
        g->success = FALSE;
    }
    if (pipeline->embeddedPacketState > rxPKST_UNUSED) {
        pipeline->embeddedPacketState = rxPKST_INUSE;
        RwPacketDestroy(pipeline->embeddedPacket);
    }
    const RwBool success = g->success;
    g->executing = outerPipeline;
    g->success = outerSuccess;
    g->params = outerParams;
    return success ? pipeline : nullptr;
}
