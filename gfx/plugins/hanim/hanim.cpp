// Hierarchical animation: the plug-in, the frame extension and its stream form, and hierarchy life.
#include "hanim.h"

#include <cstdint>
#include <cstring>

#include "gfx/core/byteorder.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/memory.h"
#include "gfx/core/stream.h"

struct RwHAnimFrameExtension {
    RwInt32 id;                     // -1: the frame is no node
    RwHAnimHierarchy *hierarchy;    // owned by this frame
};
static_assert(sizeof(RwHAnimFrameExtension) == 8, "frame extension is two words");

enum : RwUInt32 {
    rwHANIMHINT = rwID_HANIMPLUGIN,
    rwHANIMPOOLBLOCK = 128,
    rwHANIMNODERECORDSIZE = 12,     // id, index, flags in the frame stream
    rwHANIMRECORDHEADSIZE = 12,     // version, id, node count
    rwHANIMRECORDROOTSIZE = 20,     // ... flags, maximum slot size
};

static RwInt32 frameOffset = -1;
static RwFreeList *hierarchyPool = nullptr;

static RwHAnimFrameExtension *Extension(const void *frame)
{
    return reinterpret_cast<RwHAnimFrameExtension *>(reinterpret_cast<uintptr_t>(frame) + frameOffset);
}

// FALSE when the flags push more parent matrices than the update's stack holds.
static bool StackFits(RwInt32 numNodes, const RwInt32 *flags, RwInt32 stride)
{
    RwInt32 depth = 0;
    for (RwInt32 i = 0; i < numNodes; ++i) {
        const RwInt32 f = flags[i * stride] & (rwHANIMPUSHPARENTMATRIX | rwHANIMPOPPARENTMATRIX);
        if (f == rwHANIMPUSHPARENTMATRIX && ++depth > rwHANIMSTACKDEPTH) {
            return false;
        }
        if (f == rwHANIMPOPPARENTMATRIX && depth > 0) {
            --depth;
        }
    }
    return true;
}

static RwHAnimHierarchy *TakeRecord(RwInt32 numNodes, RwInt32 flags, RwInt32 maxInterpKeyFrameSize)
{
    RwHAnimHierarchy *h = static_cast<RwHAnimHierarchy *>(RwFreeListAlloc(hierarchyPool, rwMEMHINTDUR_EVENT | rwHANIMHINT));
    if (!h) {
        RwErrorRaise(0, E_RW_NOMEM);
        return nullptr;
    }
    std::memset(h, 0, sizeof *h);
    h->currentAnim = RwAnimInterpolatorCreate(numNodes, maxInterpKeyFrameSize);
    if (!h->currentAnim) {
        RwFreeListFree(hierarchyPool, h);
        return nullptr;
    }
    h->flags = flags;
    h->numNodes = numNodes;
    h->parentHierarchy = h;
    h->rootParentOffset = -1;
    return h;
}

// A top-level hierarchy with its own arrays; node table zeroed, frames NULL.
static RwHAnimHierarchy *NewHierarchy(RwInt32 numNodes, RwInt32 flags, RwInt32 maxInterpKeyFrameSize)
{
    // Sub-hierarchies are made only from a parent: a top-level one flagged so
    // would never free its arrays.
    flags &= ~rwHANIMHIERARCHYSUBHIERARCHY;
    // A slot larger than every keyframe scheme's could never be filled.
    if (numNodes <= 0 || numNodes > (0x7FFFFFFF - 15) / static_cast<RwInt32>(sizeof(RwMatrix)) ||
        maxInterpKeyFrameSize <= 0 || maxInterpKeyFrameSize > RwAnimGetLargestInterpKeyFrameSize()) {
        RwErrorRaise(0, E_RW_READ);
        return nullptr;
    }
    RwHAnimHierarchy *h = TakeRecord(numNodes, flags, maxInterpKeyFrameSize);
    if (!h) {
        return nullptr;
    }
    const size_t n = static_cast<size_t>(numNodes);
    h->pNodeInfo = static_cast<RwHAnimNodeInfo *>(RwMalloc(n * sizeof(RwHAnimNodeInfo), rwMEMHINTDUR_EVENT | rwHANIMHINT));
    if (!(flags & rwHANIMHIERARCHYNOMATRICES)) {
        h->pMatrixArrayUnaligned = RwMalloc(n * sizeof(RwMatrix) + 15, rwMEMHINTDUR_EVENT | rwHANIMHINT);
        h->pMatrixArray = reinterpret_cast<RwMatrix *>((reinterpret_cast<uintptr_t>(h->pMatrixArrayUnaligned) + 15) &
                                                       ~static_cast<uintptr_t>(15));
    }
    if (!h->pNodeInfo || (!(flags & rwHANIMHIERARCHYNOMATRICES) && !h->pMatrixArrayUnaligned)) {
        RwErrorRaise(0, E_RW_NOMEM);
        RwHAnimHierarchyDestroy(h);
        return nullptr;
    }
    std::memset(h->pNodeInfo, 0, n * sizeof(RwHAnimNodeInfo));
    for (RwInt32 i = 0; i < numNodes; ++i) {
        h->pNodeInfo[i].nodeIndex = i;
    }
    if (h->pMatrixArray) {
        for (RwInt32 i = 0; i < numNodes; ++i) {
            RwMatrixSetIdentity(&h->pMatrixArray[i]);
        }
    }
    return h;
}

RwHAnimHierarchy *RwHAnimHierarchyCreate(RwInt32 numNodes, const RwInt32 *nodeFlags, const RwInt32 *nodeIDs,
                                         RwInt32 flags, RwInt32 maxInterpKeyFrameSize)
{
    if (nodeFlags && numNodes > 0 && !StackFits(numNodes, nodeFlags, 1)) {
        RwErrorRaise(0, E_RW_READ);
        return nullptr;
    }
    RwHAnimHierarchy *h = NewHierarchy(numNodes, flags, maxInterpKeyFrameSize);
    if (!h) {
        return nullptr;
    }
    for (RwInt32 i = 0; i < numNodes; ++i) {
        h->pNodeInfo[i].flags = nodeFlags ? nodeFlags[i] : 0;
        h->pNodeInfo[i].nodeID = nodeIDs ? nodeIDs[i] : 0;
    }
    return h;
}

RwHAnimHierarchy *RwHAnimHierarchyCreateSubHierarchy(RwHAnimHierarchy *parent, RwInt32 startNode, RwInt32 flags,
                                                     RwInt32 maxInterpKeyFrameSize)
{
    if (!parent || (parent->flags & rwHANIMHIERARCHYSUBHIERARCHY) || startNode < 0 ||
        startNode >= parent->numNodes) {
        RwErrorRaise(0, E_RW_NULLP);
        return nullptr;
    }
    // Walk the node flags as the update does, tracking parent indices: the
    // subtree is the run of nodes after startNode whose parent lies inside it.
    RwInt32 stack[rwHANIMSTACKDEPTH];
    RwInt32 depth = 0;
    RwInt32 current = -1;
    RwInt32 rootParent = -1;
    RwInt32 count = 0;
    for (RwInt32 i = 0; i < parent->numNodes; ++i) {
        if (i == startNode) {
            rootParent = current;
        } else if (i > startNode) {
            if (current < startNode) {
                break;
            }
        }
        if (i >= startNode) {
            ++count;
        }
        switch (parent->pNodeInfo[i].flags & (rwHANIMPUSHPARENTMATRIX | rwHANIMPOPPARENTMATRIX)) {
        case 0:
            current = i;
            break;
        case rwHANIMPOPPARENTMATRIX:
            current = depth > 0 ? stack[--depth] : -1;
            break;
        case rwHANIMPUSHPARENTMATRIX:
            if (depth < rwHANIMSTACKDEPTH) {
                stack[depth++] = current;
            }
            current = i;
            break;
        default:
            break;
        }
    }
    flags |= rwHANIMHIERARCHYSUBHIERARCHY | (parent->flags & rwHANIMHIERARCHYNOMATRICES);
    RwHAnimHierarchy *h = TakeRecord(count, flags, maxInterpKeyFrameSize);
    if (!h) {
        return nullptr;
    }
    h->pMatrixArray = parent->pMatrixArray ? parent->pMatrixArray + startNode : nullptr;
    h->pNodeInfo = parent->pNodeInfo + startNode;
    h->parentFrame = parent->pNodeInfo[startNode].pFrame;
    h->parentHierarchy = parent;
    h->rootParentOffset = rootParent;
    return h;
}

RwBool RwHAnimHierarchyDestroy(RwHAnimHierarchy *h)
{
    if (!h) {
        return TRUE;
    }
    if (h->parentFrame && Extension(h->parentFrame)->hierarchy == h) {
        Extension(h->parentFrame)->hierarchy = nullptr;
    }
    if (!(h->flags & rwHANIMHIERARCHYSUBHIERARCHY)) {
        RwFree(h->pMatrixArrayUnaligned);
        RwFree(h->pNodeInfo);
    }
    RwFree(h->currentAnim);
    RwFreeListFree(hierarchyPool, h);
    return TRUE;
}

RwInt32 RwHAnimIDGetIndex(const RwHAnimHierarchy *h, RwInt32 id)
{
    for (RwInt32 i = 0; i < h->numNodes; ++i) {
        if (h->pNodeInfo[i].nodeID == id) {
            return i;
        }
    }
    return -1;
}

RwHAnimHierarchy *RwHAnimHierarchyAttach(RwHAnimHierarchy *h)
{
    RwFrame *top = h->parentFrame;
    // Depth-first over the root frame and all its descendants, without recursion.
    for (RwFrame *f = top; f;) {
        const RwInt32 id = Extension(f)->id;
        for (RwInt32 i = 0; i < h->numNodes; ++i) {
            if (h->pNodeInfo[i].nodeID == id) {
                h->pNodeInfo[i].pFrame = f;
            }
        }
        RwFrameMarkDirty(f);
        if (f->child) {
            f = f->child;
            continue;
        }
        while (f != top && !f->next) {
            f = RwFrameGetParent(f);
        }
        f = f == top ? nullptr : f->next;
    }
    return h;
}

RwHAnimHierarchy *RwHAnimFrameGetHierarchy(RwFrame *frame)
{
    return Extension(frame)->hierarchy;
}

RwFrame *RwHAnimFrameSetHierarchy(RwFrame *frame, RwHAnimHierarchy *h)
{
    RwHAnimFrameExtension *ext = Extension(frame);
    if (ext->hierarchy && ext->hierarchy != h) {
        RwErrorRaise(0, E_RW_NULLP);
        return nullptr;
    }
    ext->hierarchy = h;
    if (h) {
        h->parentFrame = frame;
    }
    return frame;
}

RwInt32 RwHAnimFrameGetID(RwFrame *frame)
{
    return Extension(frame)->id;
}

RwFrame *RwHAnimFrameSetID(RwFrame *frame, RwInt32 id)
{
    Extension(frame)->id = id;
    return frame;
}

static void *FrameConstruct(void *frame, RwInt32, RwInt32)
{
    Extension(frame)->id = -1;
    Extension(frame)->hierarchy = nullptr;
    return frame;
}

static void *FrameDestruct(void *frame, RwInt32, RwInt32)
{
    RwHAnimFrameExtension *ext = Extension(frame);
    if (RwHAnimHierarchy *h = ext->hierarchy) {
        for (RwInt32 i = 0; i < h->numNodes; ++i) {
            h->pNodeInfo[i].pFrame = nullptr;
        }
        if (h->parentFrame == frame) {
            RwHAnimHierarchyDestroy(h);
        }
    }
    ext->id = -1;
    ext->hierarchy = nullptr;
    return frame;
}

static void *FrameCopy(void *dst, const void *src, RwInt32, RwInt32)
{
    const RwHAnimFrameExtension *from = Extension(src);
    RwHAnimFrameExtension *to = Extension(dst);
    to->id = from->id;
    const RwHAnimHierarchy *h = from->hierarchy;
    if (!h || (h->flags & rwHANIMHIERARCHYSUBHIERARCHY)) {
        return dst;
    }
    RwHAnimHierarchy *copy = NewHierarchy(h->numNodes, h->flags, h->currentAnim->maxInterpKeyFrameSize);
    if (!copy) {
        return nullptr;
    }
    for (RwInt32 i = 0; i < h->numNodes; ++i) {
        copy->pNodeInfo[i] = h->pNodeInfo[i];
        copy->pNodeInfo[i].pFrame = nullptr;
    }
    to->hierarchy = copy;
    copy->parentFrame = static_cast<RwFrame *>(dst);
    return dst;
}

// A hierarchy streams with its root frame; a sub-hierarchy never streams.
static const RwHAnimHierarchy *StreamedHierarchy(const void *frame)
{
    const RwHAnimHierarchy *h = Extension(frame)->hierarchy;
    return h && !(h->flags & rwHANIMHIERARCHYSUBHIERARCHY) ? h : nullptr;
}

RwInt32 RwHAnimFrameStreamGetSize(const RwFrame *frame)
{
    if (const RwHAnimHierarchy *h = StreamedHierarchy(frame)) {
        return static_cast<RwInt32>(rwHANIMRECORDROOTSIZE + rwHANIMNODERECORDSIZE * h->numNodes);
    }
    return Extension(frame)->id == -1 && !Extension(frame)->hierarchy ? 0 : static_cast<RwInt32>(rwHANIMRECORDHEADSIZE);
}

RwStream *RwHAnimFrameStreamWrite(const RwFrame *frame, RwStream *stream)
{
    const RwHAnimHierarchy *h = StreamedHierarchy(frame);
    RwUInt8 head[rwHANIMRECORDROOTSIZE];
    WriteU32(head, rwHANIMSTREAMVERSION);
    WriteI32(head + 4, Extension(frame)->id);
    WriteI32(head + 8, h ? h->numNodes : 0);
    if (!h) {
        return RwStreamWrite(stream, head, rwHANIMRECORDHEADSIZE);
    }
    WriteI32(head + 12, h->flags);
    WriteI32(head + 16, h->currentAnim->maxInterpKeyFrameSize);
    if (!RwStreamWrite(stream, head, rwHANIMRECORDROOTSIZE)) {
        return nullptr;
    }
    for (RwInt32 i = 0; i < h->numNodes; ++i) {
        RwUInt8 rec[rwHANIMNODERECORDSIZE];
        WriteI32(rec, h->pNodeInfo[i].nodeID);
        WriteI32(rec + 4, h->pNodeInfo[i].nodeIndex);
        WriteI32(rec + 8, h->pNodeInfo[i].flags);
        if (!RwStreamWrite(stream, rec, sizeof rec)) {
            return nullptr;
        }
    }
    return stream;
}

static RwInt32 FrameStreamSize(const void *frame, RwInt32, RwInt32)
{
    return RwHAnimFrameStreamGetSize(static_cast<const RwFrame *>(frame));
}

static RwStream *FrameStreamWrite(RwStream *stream, RwInt32, const void *frame, RwInt32, RwInt32)
{
    return RwHAnimFrameStreamWrite(static_cast<const RwFrame *>(frame), stream);
}

static RwStream *ReadFailed(RwUInt32 code)
{
    RwErrorRaise(0, code);
    return nullptr;
}

static RwStream *FrameStreamRead(RwStream *stream, RwInt32 length, void *frame, RwInt32, RwInt32)
{
    RwUInt8 head[rwHANIMRECORDROOTSIZE];
    if (length < static_cast<RwInt32>(rwHANIMRECORDHEADSIZE)) {
        return ReadFailed(E_RW_READ);
    }
    if (!RwStreamReadExact(stream, head, rwHANIMRECORDHEADSIZE)) {
        return nullptr;
    }
    if (ReadU32(head) != rwHANIMSTREAMVERSION) {
        return ReadFailed(E_RW_BADVERSION);
    }
    RwHAnimFrameExtension *ext = Extension(frame);
    ext->id = ReadI32(head + 4);
    const RwInt32 numNodes = ReadI32(head + 8);
    if (numNodes == 0) {
        return stream;
    }
    // The node records must lie inside the chunk; this also bounds every
    // allocation made for them. A second record for the frame is refused.
    if (numNodes < 0 || ext->hierarchy || length < static_cast<RwInt32>(rwHANIMRECORDROOTSIZE) ||
        numNodes > (length - static_cast<RwInt32>(rwHANIMRECORDROOTSIZE)) / static_cast<RwInt32>(rwHANIMNODERECORDSIZE)) {
        return ReadFailed(E_RW_READ);
    }
    if (!RwStreamReadExact(stream, head + rwHANIMRECORDHEADSIZE, rwHANIMRECORDROOTSIZE - rwHANIMRECORDHEADSIZE)) {
        return nullptr;
    }
    const RwInt32 flags = ReadI32(head + 12) & ~static_cast<RwInt32>(rwHANIMHIERARCHYPROGRAMFLAGS);
    RwHAnimHierarchy *h = NewHierarchy(numNodes, flags, ReadI32(head + 16));
    if (!h) {
        return nullptr;
    }
    for (RwInt32 i = 0; i < numNodes; ++i) {
        RwUInt8 rec[rwHANIMNODERECORDSIZE];
        if (!RwStreamReadExact(stream, rec, sizeof rec)) {
            RwHAnimHierarchyDestroy(h);
            return nullptr;
        }
        h->pNodeInfo[i].nodeID = ReadI32(rec);
        // The stored index is written back as read; nothing looks a node up by it.
        h->pNodeInfo[i].nodeIndex = ReadI32(rec + 4);
        h->pNodeInfo[i].flags = ReadI32(rec + 8);
    }
    if (!StackFits(numNodes, &h->pNodeInfo[0].flags, sizeof(RwHAnimNodeInfo) / sizeof(RwInt32))) {
        RwHAnimHierarchyDestroy(h);
        return ReadFailed(E_RW_READ);
    }
    ext->hierarchy = h;
    h->parentFrame = static_cast<RwFrame *>(frame);
    return stream;
}

static void *HAnimOpen(void *instance, RwInt32, RwInt32)
{
    hierarchyPool = RwFreeListCreateAndPreallocate(sizeof(RwHAnimHierarchy), rwHANIMPOOLBLOCK, 4, 1, nullptr,
                                                   rwMEMHINTDUR_GLOBAL | rwHANIMHINT);
    if (!hierarchyPool) {
        return nullptr;
    }
    if (!RwAnimRegisterKeyFrameScheme(&rwHAnimKeyFrameScheme)) {
        RwFreeListDestroy(hierarchyPool);
        hierarchyPool = nullptr;
        return nullptr;
    }
    return instance;
}

static void *HAnimClose(void *instance, RwInt32, RwInt32)
{
    if (hierarchyPool) {
        RwFreeListDestroy(hierarchyPool);
        hierarchyPool = nullptr;
    }
    return instance;
}

RwBool RwHAnimPluginAttach(void)
{
    if (RwEngineRegisterPlugin(0, rwID_HANIMPLUGIN, HAnimOpen, HAnimClose) < 0) {
        return FALSE;
    }
    frameOffset = RwFrameRegisterPlugin(sizeof(RwHAnimFrameExtension), rwID_HANIMPLUGIN, FrameConstruct,
                                        FrameDestruct, FrameCopy);
    if (frameOffset < 0) {
        return FALSE;
    }
    return RwFrameRegisterPluginStream(rwID_HANIMPLUGIN, FrameStreamRead, FrameStreamWrite, FrameStreamSize) >= 0;
}
