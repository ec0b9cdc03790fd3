// Hierarchical animation: turning a hierarchy's interpolated keyframes into node and frame matrices.
#include "hanim.h"

#include "gfx/core/engine.h"

// World matrix of a frame without forcing its hierarchy's update: while the
// hierarchy waits on the dirty list, the modelling matrices are multiplied up
// to the top here.
static void WorldMatrixOf(RwFrame *frame, RwMatrix *out)
{
    if (!frame) {
        RwMatrixSetIdentity(out);
        return;
    }
    if (!RwFrameIsDirty(frame)) {
        *out = *RwFrameGetWorldMatrix(frame);
        return;
    }
    *out = frame->modelling;
    for (RwFrame *p = RwFrameGetParent(frame); p; p = RwFrameGetParent(p)) {
        RwMatrix m;
        RwMatrixMultiply(&m, out, &p->modelling);
        *out = m;
    }
}

static void UpdateNodeFrame(RwFrame *frame, RwInt32 flags, const RwMatrix *local, const RwMatrix *node,
                            const RwMatrix *world, bool hasArray)
{
    if (flags & rwHANIMHIERARCHYUPDATEMODELLINGMATRICES) {
        frame->modelling = *local;
        if (!(flags & rwHANIMHIERARCHYUPDATELTMS)) {
            RwFrameMarkDirty(frame);
        }
    }
    if (flags & rwHANIMHIERARCHYUPDATELTMS) {
        if ((flags & rwHANIMHIERARCHYLOCALSPACEMATRICES) && hasArray) {
            RwMatrixMultiply(&frame->ltm, node, world);
        } else {
            frame->ltm = *node;
        }
        frame->object.privateFlags =
            static_cast<RwUInt8>((frame->object.privateFlags & ~rwFRAMEPRIVATESUBTREESYNCLTM) |
                                 rwFRAMEPRIVATESUBTREESYNCOBJ);
    }
}

RwBool RwHAnimHierarchyUpdateMatrices(RwHAnimHierarchy *h)
{
    if (!h || !h->currentAnim) {
        return FALSE;
    }
    const RwInt32 flags = h->flags;
    const bool hasArray = !(flags & rwHANIMHIERARCHYNOMATRICES) && h->pMatrixArray;
    const bool underParent = hasArray && (flags & rwHANIMHIERARCHYSUBHIERARCHY) && h->rootParentOffset >= 0 &&
                             h->parentHierarchy && h->parentHierarchy->pMatrixArray &&
                             h->rootParentOffset < h->parentHierarchy->numNodes;

    RwFrame *owner = h->parentFrame;
    if (underParent && (flags & rwHANIMHIERARCHYUPDATELTMS) && (flags & rwHANIMHIERARCHYLOCALSPACEMATRICES)) {
        owner = h->parentHierarchy->parentFrame;
    }
    RwMatrix world;
    WorldMatrixOf(owner ? RwFrameGetParent(owner) : nullptr, &world);
    RwMatrix start;
    if (!hasArray) {
        start = world;
    } else if (underParent) {
        start = h->parentHierarchy->pMatrixArray[h->rootParentOffset];
    } else if (flags & rwHANIMHIERARCHYLOCALSPACEMATRICES) {
        RwMatrixSetIdentity(&start);
    } else {
        start = world;
    }

    // World matrices written here skip the frame update, but the frames'
    // objects must still hear of the change.
    if ((flags & rwHANIMHIERARCHYUPDATELTMS) && h->parentFrame) {
        RwFrame *root = h->parentFrame->root;
        if (!(root->object.privateFlags & rwFRAMEPRIVATEHIERARCHYSYNC)) {
            RwLinkListAddLLLink(&RwEngineInstance->dirtyFrameList, &root->inDirtyListLink);
            root->object.privateFlags |= rwFRAMEPRIVATEHIERARCHYSYNCOBJ;
        }
    }

    RwAnimInterpolator *in = h->currentAnim;
    const bool inlineApply = !in->keyFrameApplyCB || in->keyFrameApplyCB == RwHAnimKeyFrameToMatrix;
    // Slots smaller than a skeleton slot (a record may ask for them) hold no
    // pose to read in place: those nodes stand at their parent.
    const bool slotHoldsPose =
        in->currentInterpKeyFrameSize >= static_cast<RwInt32>(sizeof(RwHAnimInterpFrame));
    const RwInt32 numNodes = h->numNodes < in->numNodes ? h->numNodes : in->numNodes;
    RwMatrix parent = start;
    RwMatrix stack[rwHANIMSTACKDEPTH];
    RwInt32 depth = 0;
    RwMatrix local;
    RwMatrix scratch;
    for (RwInt32 i = 0; i < numNodes; ++i) {
        void *slot = RwAnimInterpolatorGetInterpFrame(in, i);
        if (inlineApply && !slotHoldsPose) {
            RwMatrixSetIdentity(&local);
        } else if (inlineApply) {
            const RwHAnimInterpFrame *f = static_cast<const RwHAnimInterpFrame *>(slot);
            RwHAnimQuatToMatrix(&local, &f->q, &f->t);
        } else {
            in->keyFrameApplyCB(&local, slot);
        }
        RwMatrix *node = hasArray ? &h->pMatrixArray[i] : &scratch;
        RwMatrixMultiply(node, &local, &parent);
        const RwHAnimNodeInfo *info = &h->pNodeInfo[i];
        if (info->pFrame) {
            UpdateNodeFrame(info->pFrame, flags, &local, node, &world, hasArray);
        }
        switch (info->flags & (rwHANIMPUSHPARENTMATRIX | rwHANIMPOPPARENTMATRIX)) {
        case 0:
            parent = *node;
            break;
        case rwHANIMPOPPARENTMATRIX:
            // A pop with nothing pushed (the last node may carry one) goes
            // back to where the walk started.
            parent = depth > 0 ? stack[--depth] : start;
            break;
        case rwHANIMPUSHPARENTMATRIX:
            if (depth < rwHANIMSTACKDEPTH) {
                stack[depth++] = parent;
            }
            parent = *node;
            break;
        default:
            break;
        }
    }
    return TRUE;
}
