// Pipeline internals shared by the editing and the unlocking code: the editing layout of the node block.
#pragma once

#include "pipeline.h"

// While a pipeline is locked its block holds, for every possible node, the
// entry, a slot of 32 output links and a resolution record.
enum : RwUInt32 {
    rxEDITOUTPUTSLOT = rxNODEMAXOUTPUTS * sizeof(RwUInt32),
    rxEDITNODEBYTES = sizeof(RxPipelineNode) + rxEDITOUTPUTSLOT + sizeof(RxPipelineNodeTopSortData),
    rxEDITBLOCKSIZE = rxPIPELINEMAXNODES * rxEDITNODEBYTES,
    rxPIPEEDITHINT = 0x1030409,
    rxPIPEUNLOCKHINT = 0x1040409,
    rxPIPESCRATCHHINT = 0x10409,
};
static_assert(rxEDITNODEBYTES == 180, "180 bytes per possible node while editing");

inline RwUInt32 *RwPipelineEditOutputs(void *block, RwUInt32 index)
{
    return reinterpret_cast<RwUInt32 *>(static_cast<RwUInt8 *>(block) + rxPIPELINEMAXNODES * sizeof(RxPipelineNode) +
                                        index * rxEDITOUTPUTSLOT);
}

inline RxPipelineNodeTopSortData *RwPipelineEditSortData(void *block, RwUInt32 index)
{
    return reinterpret_cast<RxPipelineNodeTopSortData *>(
               static_cast<RwUInt8 *>(block) + rxPIPELINEMAXNODES * (sizeof(RxPipelineNode) + rxEDITOUTPUTSLOT)) +
           index;
}

// Rewrites the nodes into a new editing-layout block; the old block stays
// the caller's. NULL when memory runs out.
void *RwPipelineCopyNodes(RxPipeline *pipeline);
// Runs the node's term, lowers its definition's use count and runs the
// definition's term when it reaches zero.
void RwPipelineNodeRelease(RxPipelineNode *node);
// Whether blocks were taken since the last reset.
RwBool RwHeapIsDirty(const RxHeap *heap);
