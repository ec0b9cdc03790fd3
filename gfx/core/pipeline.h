// Object pipelines: node graphs that process one object, their packets, the pipeline heap and render-state vectors.
#pragma once

#include "rwtypes.h"

struct RxPipeline;
struct RxPipelineNode;
struct RxPipelineNodeDefinition;
struct RxPacket;
struct RxHeap;

// What a node body receives: the caller's data and the heap of the run.
struct RxPipelineNodeParam {
    void *dataParam;
    RxHeap *heap;
};

typedef RwBool (*RxNodeBodyFn)(RxPipelineNode *self, const RxPipelineNodeParam *params);
typedef RwBool (*RxNodeInitFn)(RxPipelineNodeDefinition *self);
typedef void (*RxNodeTermFn)(RxPipelineNodeDefinition *self);
typedef RwBool (*RxPipelineNodeInitFn)(RxPipelineNode *self);
typedef void (*RxPipelineNodeTermFn)(RxPipelineNode *self);
typedef RwBool (*RxPipelineNodeConfigFn)(RxPipelineNode *self, RxPipeline *pipeline);
typedef RwUInt32 (*RxConfigMsgHandlerFn)(RxPipelineNode *self, RwUInt32 msg, RwUInt32 intParam, void *ptrParam);

// A kind of data stream; pipelines compare clusters by the address of their definition.
struct RxClusterDefinition {
    const RwChar *name;
    RwUInt32 defaultStride;
    RwUInt32 defaultAttributes;
    const RwChar *attributeSet;
};

// A node definition's cluster of interest.
struct RxClusterRef {
    RxClusterDefinition *clusterDef;
    RwUInt32 forcePresent;      // non-zero: the node keeps a slot for it even when nobody below wants it
    RwUInt32 attributes;
};
static_assert(sizeof(RxClusterRef) == 12, "cluster reference is three words");

// Input requirements and output states of a cluster of interest.
enum : RwUInt32 {
    rxCLREQ_DONTWANT = 0,
    rxCLREQ_REQUIRED = 1,
    rxCLREQ_OPTIONAL = 2,
    rxCLVALID_NOCHANGE = 0,
    rxCLVALID_VALID = 1,
    rxCLVALID_INVALID = 2,
};

struct RxOutputSpec {
    const RwChar *name;
    RwUInt32 *outputClusters;   // one state per cluster of interest
    RwUInt32 allOtherClusters;  // state of every other cluster
};
static_assert(sizeof(RxOutputSpec) == 12, "an output record is three words");

struct RxPipelineNodeDefinition {
    const RwChar *name;
    RxNodeBodyFn body;
    RxNodeInitFn nodeInit;                  // first node of the definition unlocked
    RxNodeTermFn nodeTerm;                  // last node of the definition locked or removed
    RxPipelineNodeInitFn pipelineNodeInit;
    RxPipelineNodeTermFn pipelineNodeTerm;
    RxPipelineNodeConfigFn pipelineNodeConfig;
    RxConfigMsgHandlerFn configMsgIfc;      // not used by the pipeline code
    RwUInt32 numClustersOfInterest;         // at most 32
    RxClusterRef *clustersOfInterest;
    RwUInt32 *inputRequirements;            // one per cluster of interest
    RwUInt32 numOutputs;                    // at most 32
    RxOutputSpec *outputs;
    RwUInt32 pipelineNodePrivateDataSize;
    RwUInt32 editable;                      // the definition lies in engine memory and goes with its last use
    RwInt32 inputPipesCnt;                  // unlocked nodes that use it
};
static_assert(sizeof(RxPipelineNodeDefinition) == 64, "node definition is 16 words");

// Link value of an unconnected output and of a cluster of interest without a slot.
enum : RwUInt32 { rxNODEUNUSED = 0xFFFFFFFFu };

// Requirement record of a node while its pipeline is unlocked.
struct RxPipelineNodeTopSortData {
    RwUInt32 numIns;
    RwUInt32 numInsVisited;
    void *req;
};
static_assert(sizeof(RxPipelineNodeTopSortData) == 12, "resolution record is three words");

struct RxPipelineNode {
    RxPipelineNodeDefinition *nodeDef;
    RwUInt32 numOutputs;
    RwUInt32 *outputs;                      // target node index per output, rxNODEUNUSED when unconnected
    RxClusterDefinition **slotClusterRefs;  // per packet slot, NULL when this node does not see it
    RwUInt32 *slotsContinue;                // [0] outputs every cluster passes; [1 + slot] outputs of the slot
    void *privateData;
    RwUInt32 *inputToClusterSlot;           // per cluster of interest: its slot or rxNODEUNUSED
    RxPipelineNodeTopSortData *topSortData;
    void *initializationData;
    RwUInt32 initializationDataSize;
};
static_assert(sizeof(RxPipelineNode) == 40, "pipeline node is 40 bytes");

struct RxPipelineCluster {
    RxClusterDefinition *clusterRef;
    RwUInt32 creationAttributes;
};

// Input clusters of the entry node, sorted by definition.
struct RxPipelineRequiresCluster {
    RxClusterDefinition *clusterDef;
    RwUInt32 rqdOrOpt;
    RwUInt32 slotIndex;
};
static_assert(sizeof(RxPipelineRequiresCluster) == 12, "input-cluster record is 12 bytes");

// Packet states of a run.
enum : RwUInt32 {
    rxPKST_PACKETLESS = 0,
    rxPKST_UNUSED = 1,
    rxPKST_INUSE = 2,
    rxPKST_PENDING = 3,
};

struct RxPipeline {
    RwBool locked;
    RwUInt32 numNodes;
    RxPipelineNode *nodes;
    RwUInt32 packetNumClusterSlots;
    RwUInt32 embeddedPacketState;
    RxPacket *embeddedPacket;
    RwUInt32 numInputRequirements;
    RxPipelineRequiresCluster *inputRequirements;
    void *superBlock;
    RwUInt32 superBlockSize;
    RwUInt32 entryPoint;
    RwUInt32 pluginId;
    RwUInt32 pluginData;
};
static_assert(sizeof(RxPipeline) == 52, "pipeline is 52 bytes");

// Cluster flags.
enum : RwUInt32 { rxCLFLAGS_EXTERNAL = 0x02 };  // the data is not the heap's: never freed by the pipeline

struct RxCluster {
    RwUInt32 flags;
    void *data;
    void *currentData;
    RwUInt32 numAlloced;
    RwUInt32 numUsed;
    RwUInt32 inUse;             // non-zero while the cluster holds data
    RwUInt32 attributes;
};
static_assert(sizeof(RxCluster) == 28, "cluster is seven words");

struct RxPacket {
    RwUInt16 flags;
    RwUInt16 numClusters;
    RxPipeline *pipeline;
    RwUInt32 *inputToClusterSlot;
    RwUInt32 *slotsContinue;
    RxClusterDefinition **slotClusterRefs;
    RxCluster clusters[1];      // numClusters of them
};
static_assert(offsetof(RxPacket, clusters) == 20, "packet header is 20 bytes");

struct RwRenderStateVector {
    RwUInt32 flags;
    RwInt32 shadeMode;
    RwInt32 srcBlend;
    RwInt32 destBlend;
    void *textureRaster;
    RwInt32 addressModeU;
    RwInt32 addressModeV;
    RwInt32 filterMode;
    RwUInt32 borderColor;
    RwInt32 fogType;
    RwUInt32 fogColor;
};
static_assert(sizeof(RwRenderStateVector) == 44, "render-state vector is 11 words");

// The names other modules know the records by.
typedef RxPipeline RwPipeline;
typedef RxPipelineNode RwPipelineNode;
typedef RxPipelineNodeDefinition RwPipelineNodeDefinition;
typedef RxPacket RwPacket;
typedef RxCluster RwCluster;
typedef RxHeap RwHeap;

// Error codes of the pipeline module (plug-in id 1).
enum : RwInt32 {
    E_RX_CYCLICPIPELINE = 28,
    E_RX_INVALIDREQUIREMENT = 29,
    E_RX_DUPLICATECLUSTER = 30,
    E_RX_NULLCLUSTERDEF = 31,
    E_RX_DEPENDENCYMEMORY = 32,
    E_RX_NODEWITHOUTINPUT = 34,
    E_RX_INVALIDENTRYPOINT = 36,
    E_RX_TOOMANYCLUSTERS = 40,
    E_RX_TOOMANYOUTPUTS = 41,
    E_RX_TOOMANYNODES = 42,
    E_RX_UNLOCKEDPIPE = 52,
    E_RW_BADRENDERSTATEVECTOR = static_cast<RwInt32>(0x80000018u),
};

enum : RwUInt32 {
    rxPIPELINEMAXNODES = 64,
    rxNODEMAXOUTPUTS = 32,
    rxNODEMAXCLUSTERSOFINTEREST = 32,
};

RxPipeline *RwPipelineCreate(void);
void RwPipelineDestroy(RxPipeline *pipeline);
RxPipeline *RwPipelineLock(RxPipeline *pipeline);
RxPipeline *RwPipelineUnlock(RxPipeline *pipeline);
// Appends one node per definition of the NULL-terminated list, each new node's
// first output linked to the next.
RxPipeline *RwPipelineAddFragment(RxPipeline *pipeline, RwUInt32 *firstIndex, RxPipelineNodeDefinition *definition,
                                  ...);
// Appends one unlinked node to a locked pipeline; its index, or -1.
RwInt32 RwPipelineAddNode(RxPipeline *pipeline, RxPipelineNodeDefinition *definition);
// Links output `output` of node `from` to node `to` of a locked pipeline.
RxPipeline *RwPipelineLinkNodes(RxPipeline *pipeline, RwUInt32 from, RwUInt32 output, RwUInt32 to);
RxPipeline *RwPipelineNodeRemove(RxPipelineNode *node, RxPipeline *pipeline);
// Searches the nodes after startNode (all nodes when it is NULL); the index is -1 when none matches.
RxPipelineNode *RwPipelineFindNamedNode(RxPipeline *pipeline, const RwChar *name, RxPipelineNode *startNode,
                                        RwInt32 *outIndex);
// The form that searches from the first node.
inline RxPipelineNode *RwPipelineFindNamedNode(RxPipeline *pipeline, const RwChar *name, RwInt32 *outIndex)
{
    return RwPipelineFindNamedNode(pipeline, name, nullptr, outIndex);
}
RxPipeline *RwPipelineExecute(RxPipeline *pipeline, void *data, RwBool resetHeap);
RxPipelineNode *RwPacketDispatch(RxPipeline *pipeline, RxPipelineNode *node, RwUInt32 output);
// Makes the pipeline's packet live for the node's slots (packet state 2); node bodies call it.
RxPacket *RwPacketCreate(RxPipeline *pipeline, RxPipelineNode *node, RwUInt16 flags);
void RwPacketDestroy(RxPacket *packet);
RxHeap *RwPipelineGetHeap(void);

RwRenderStateVector *RwRenderStateVectorSetDefault(RwRenderStateVector *vector);

// The pipeline heap: a coalescing block heap for cluster data.
RxHeap *RwHeapCreate(RwUInt32 size);
void RwHeapDestroy(RxHeap *heap);
RwBool RwHeapReset(RxHeap *heap);
// A block of at least size bytes (32-byte aligned), or NULL.
void *RwHeapMalloc(RxHeap *heap, RwUInt32 size);
// Ignores pointers that are not live blocks of this heap.
void RwHeapFree(RxHeap *heap, void *block);
// Number of free blocks (one table entry each).
RwUInt32 RwHeapGetFreeBlockCount(const RxHeap *heap);

// Sorts count records of recordSize bytes by their first 32-bit word; keyMask
// holds every key bit that can be set.
void RwRadixExchangeSort(void *base, RwUInt32 count, RwUInt32 recordSize, RwUInt32 keyMask);
