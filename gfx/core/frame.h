// Frames: the scene-graph nodes with modelling and world matrices and the dirty-frame list.
#pragma once

#include "matrix.h"
#include "plugin.h"
#include "rwtypes.h"

struct RwStream;
struct RwObjectHasFrame;

// Told that the frame's world matrix may have changed; returns the object, or
// NULL when it failed.
typedef RwObjectHasFrame *(*RwObjectHasFrameSyncFunction)(RwObjectHasFrame *object);

// Header of objects that hang on a frame (cameras, lights, atomics); the
// object header's parent is the frame.
struct RwObjectHasFrame {
    RwObject object;
    RwLLLink lFrame;                    // in the frame's object list
    RwObjectHasFrameSyncFunction sync;
};
static_assert(sizeof(RwObjectHasFrame) == 20, "frame-carrying header is 20 bytes");

struct RwFrame {
    RwObject object;                    // type 0; parent is the parent frame
    RwLLLink inDirtyListLink;           // only while a root is on the dirty list
    RwMatrix modelling;                 // relative to the parent
    RwMatrix ltm;                       // world matrix
    RwLinkList objectList;              // RwObjectHasFrame links
    RwFrame *child;
    RwFrame *next;
    RwFrame *root;
};
static_assert(sizeof(RwFrame) == 164, "frame base size is 164 bytes");

// Private flags.
enum : RwUInt8 {
    rwFRAMEPRIVATEHIERARCHYSYNCLTM = 0x01,   // root: world matrices must be recomputed
    rwFRAMEPRIVATEHIERARCHYSYNCOBJ = 0x02,   // root: on the dirty list, objects must be synced
    rwFRAMEPRIVATESUBTREESYNCLTM = 0x04,     // this frame's modelling matrix changed
    rwFRAMEPRIVATESUBTREESYNCOBJ = 0x08,     // this frame's objects must be synced
    rwFRAMEPRIVATEHIERARCHYSYNC = 0x03,
    rwFRAMEPRIVATESUBTREESYNC = 0x0C,
};

enum : RwUInt32 {
    rwID_FRAMELIST = 0x0E,              // frame list chunk type
    rwFRAMELISTENTRYSIZE = 56,          // one frame in a frame-list struct
};

// Frames read from a stream, in stream order.
struct RwFrameList {
    RwFrame **frames;
    RwInt32 numFrames;
};

typedef RwFrame *(*RwFrameCallBack)(RwFrame *frame, void *data);

// Creating, destroying and syncing fail with error 0x80000001 outside engine
// start to stop, where the module has no free list and no dirty list.
RwFrame *RwFrameCreate(void);
RwBool RwFrameDestroy(RwFrame *frame);
RwBool RwFrameDestroyHierarchy(RwFrame *root);
RwFrame *RwFrameAddChild(RwFrame *parent, RwFrame *child);
RwFrame *RwFrameRemoveChild(RwFrame *child);
RwFrame *RwFrameCloneHierarchy(RwFrame *root);
RwFrame *RwFrameUpdateRoots(RwFrame *frame);
RwFrame *RwFrameForAllChildren(RwFrame *frame, RwFrameCallBack callBack, void *data);
RwFrame *RwFrameTranslate(RwFrame *frame, const RwV3d *v, RwOpCombineType combine);
RwFrame *RwFrameScale(RwFrame *frame, const RwV3d *v, RwOpCombineType combine);
RwFrame *RwFrameTransform(RwFrame *frame, const RwMatrix *m, RwOpCombineType combine);
RwFrame *RwFrameRotate(RwFrame *frame, const RwV3d *axis, RwReal angle, RwOpCombineType combine);
RwFrame *RwFrameMarkDirty(RwFrame *frame);
RwMatrix *RwFrameGetWorldMatrix(RwFrame *frame);
RwFrame *RwFrameGetRoot(const RwFrame *frame);
RwBool RwFrameIsDirty(const RwFrame *frame);
RwBool RwFrameSyncDirtyList(void);
RwInt32 RwFrameRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                              RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB);
RwInt32 RwFrameRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                    RwPluginDataChunkWriteCallBack writeCB,
                                    RwPluginDataChunkGetSizeCallBack getSizeCB);
RwInt32 RwFrameGetPluginOffset(RwUInt32 pluginID);

void RwObjectHasFrameSetFrame(void *object, RwFrame *frame);
void RwObjectHasFrameReleaseFrame(void *object);

RwFrameList *RwFrameListStreamRead(RwStream *stream, RwFrameList *frameList);
RwFrameList *RwFrameListDeinitialize(RwFrameList *frameList);

inline RwFrame *RwFrameGetParent(const RwFrame *frame) { return static_cast<RwFrame *>(frame->object.parent); }
inline RwMatrix *RwFrameGetMatrix(RwFrame *frame) { return &frame->modelling; }
inline RwFrame *RwObjectGetFrame(const void *object)
{
    return static_cast<RwFrame *>(static_cast<const RwObject *>(object)->parent);
}
