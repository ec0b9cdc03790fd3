// Hierarchical animation: node ids on frames, skeleton hierarchies, keyframe scheme 1 and the matrix update.
#pragma once

#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/plugins/animation/anim.h"

enum : RwUInt32 {
    rwID_HANIMPLUGIN = 0x11E,
    rwHANIMSTREAMVERSION = 0x100,           // version of the frame extension record
};

enum : RwInt32 {
    rwHANIMKEYFRAMESCHEME = 1,
    rwHANIMKEYFRAMESTREAMSIZE = 36,         // time, quaternion, translation, previous offset
    rwHANIMSTACKDEPTH = 32,                 // parent matrices a node table may push
};

// Hierarchy flags.
enum : RwInt32 {
    rwHANIMHIERARCHYSUBHIERARCHY = 0x01,            // part of a parent's arrays; never streamed or copied
    rwHANIMHIERARCHYNOMATRICES = 0x02,              // results go to the node frames only
    rwHANIMHIERARCHYUPDATEMODELLINGMATRICES = 0x1000,
    rwHANIMHIERARCHYUPDATELTMS = 0x2000,
    rwHANIMHIERARCHYLOCALSPACEMATRICES = 0x4000,    // the matrix array is relative to the root
    // Flags only the program sets: a file cannot take a hierarchy's arrays away.
    rwHANIMHIERARCHYPROGRAMFLAGS = rwHANIMHIERARCHYSUBHIERARCHY | rwHANIMHIERARCHYNOMATRICES,
};

// Node flags.
enum : RwInt32 {
    rwHANIMPOPPARENTMATRIX = 0x01,
    rwHANIMPUSHPARENTMATRIX = 0x02,
};

struct RwQuat {
    RwReal x, y, z, w;
};

struct RwHAnimNodeInfo {
    RwInt32 nodeID;
    RwInt32 nodeIndex;
    RwInt32 flags;
    RwFrame *pFrame;        // set by RwHAnimHierarchyAttach
};
static_assert(sizeof(RwHAnimNodeInfo) == 16, "node record is four words");

struct RwHAnimHierarchy {
    RwInt32 flags;
    RwInt32 numNodes;
    RwMatrix *pMatrixArray;             // 16-byte aligned inside pMatrixArrayUnaligned
    void *pMatrixArrayUnaligned;
    RwHAnimNodeInfo *pNodeInfo;
    RwFrame *parentFrame;               // the frame that owns the hierarchy
    RwHAnimHierarchy *parentHierarchy;  // itself unless a sub-hierarchy
    RwInt32 rootParentOffset;           // parent's matrix a sub-hierarchy hangs under, -1 none
    RwAnimInterpolator *currentAnim;
};
static_assert(sizeof(RwHAnimHierarchy) == 36, "hierarchy record is 36 bytes");

// Stored keyframe of scheme 1.
struct RwHAnimKeyFrame {
    RwHAnimKeyFrame *prevFrame;
    RwReal time;
    RwQuat q;
    RwV3d t;
};
static_assert(sizeof(RwHAnimKeyFrame) == 36, "scheme 1 keyframe is 36 bytes");

// Interpolator slot of scheme 1.
struct RwHAnimInterpFrame {
    RwHAnimKeyFrame *keyFrame1;
    RwHAnimKeyFrame *keyFrame2;
    RwQuat q;
    RwV3d t;
};
static_assert(sizeof(RwHAnimInterpFrame) == 36, "scheme 1 slot is 36 bytes");

RwBool RwHAnimPluginAttach(void);

// nodeFlags and nodeIDs may be NULL (zeros). Refused (NULL) when the flags
// push deeper than the matrix stack, or when the slot size is larger than
// every registered keyframe scheme's.
RwHAnimHierarchy *RwHAnimHierarchyCreate(RwInt32 numNodes, const RwInt32 *nodeFlags, const RwInt32 *nodeIDs,
                                         RwInt32 flags, RwInt32 maxInterpKeyFrameSize);
// The subtree of a top-level hierarchy's node as a hierarchy of its own that
// shares the parent's matrix array and node table and has its own
// interpolator. It belongs to the caller and must go before its parent.
RwHAnimHierarchy *RwHAnimHierarchyCreateSubHierarchy(RwHAnimHierarchy *parent, RwInt32 startNode, RwInt32 flags,
                                                     RwInt32 maxInterpKeyFrameSize);
// Frees a hierarchy (a frame that owns it loses it); TRUE.
RwBool RwHAnimHierarchyDestroy(RwHAnimHierarchy *hierarchy);
RwHAnimHierarchy *RwHAnimHierarchyAttach(RwHAnimHierarchy *hierarchy);
RwBool RwHAnimHierarchyUpdateMatrices(RwHAnimHierarchy *hierarchy);
// Index of the node with that id, or -1.
RwInt32 RwHAnimIDGetIndex(const RwHAnimHierarchy *hierarchy, RwInt32 id);

RwHAnimHierarchy *RwHAnimFrameGetHierarchy(RwFrame *frame);
// The frame becomes the hierarchy's owner (it is destroyed with the frame);
// refused when the frame owns another one.
RwFrame *RwHAnimFrameSetHierarchy(RwFrame *frame, RwHAnimHierarchy *hierarchy);
RwInt32 RwHAnimFrameGetID(RwFrame *frame);
RwFrame *RwHAnimFrameSetID(RwFrame *frame, RwInt32 id);

// The frame extension's record as frame-list writers stream it: its bytes
// (0 when nothing is written) and the record itself.
RwInt32 RwHAnimFrameStreamGetSize(const RwFrame *frame);
RwStream *RwHAnimFrameStreamWrite(const RwFrame *frame, RwStream *stream);

// Keyframe scheme 1.
void RwHAnimKeyFrameToMatrix(void *matrix, void *slot);
void RwHAnimKeyFrameBlend(void *out, void *in1, void *in2, RwReal alpha);
void RwHAnimKeyFrameInterpolate(void *out, void *keyFrame1, void *keyFrame2, RwReal time, void *customData);
void RwHAnimKeyFrameAdd(void *out, void *in1, void *in2);
void RwHAnimKeyFrameMulRecip(void *frame, void *start);
RwAnimAnimation *RwHAnimKeyFrameStreamRead(RwStream *stream, RwAnimAnimation *animation);
RwBool RwHAnimKeyFrameStreamWrite(const RwAnimAnimation *animation, RwStream *stream);
RwInt32 RwHAnimKeyFrameStreamGetSize(const RwAnimAnimation *animation);
extern const RwAnimInterpolatorInfo rwHAnimKeyFrameScheme;

// Rotation of the (not normalised) quaternion followed by the translation.
inline void RwHAnimQuatToMatrix(RwMatrix *m, const RwQuat *q, const RwV3d *t)
{
    const RwReal x2 = q->x + q->x, y2 = q->y + q->y, z2 = q->z + q->z;
    const RwReal xx = q->x * x2, yy = q->y * y2, zz = q->z * z2;
    const RwReal xy = q->x * y2, xz = q->x * z2, yz = q->y * z2;
    const RwReal wx = q->w * x2, wy = q->w * y2, wz = q->w * z2;
    m->right.x = 1.0f - (yy + zz);
    m->right.y = xy + wz;
    m->right.z = xz - wy;
    m->up.x = xy - wz;
    m->up.y = 1.0f - (xx + zz);
    m->up.z = yz + wx;
    m->at.x = xz + wy;
    m->at.y = yz - wx;
    m->at.z = 1.0f - (xx + yy);
    m->pos = *t;
    m->flags = rwMATRIXTYPEORTHONORMAL;
    m->pad1 = m->pad2 = m->pad3 = 0;
}
