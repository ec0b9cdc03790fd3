// Keyframe animation toolkit: keyframe schemes, animations, their stream form and interpolators.
#pragma once

#include "gfx/core/rwtypes.h"

struct RwStream;
struct RwAnimAnimation;
struct RwAnimInterpolator;

enum : RwUInt32 {
    rwID_ANIMPLUGIN = 0x1B7,
    rwID_ANIMANIMATION = 0x1B,          // chunk type of an animation
    rwANIMSTREAMVERSION = 0x100,        // body version of an animation chunk
    rwANIMMAXSCHEMES = 16,
    rwANIMSTREAMHEADERSIZE = 20,        // version, scheme, keyframes, flags, duration
};

// Error codes recorded under the toolkit's plug-in id.
enum : RwInt32 {
    E_RW_ANIMSCHEMEDUPLICATE = 0,
    E_RW_ANIMSCHEMETABLEFULL = 1,
    E_RW_ANIMSCHEMEUNKNOWN = 2,
    E_RW_ANIMBADARGUMENT = 3,           // a count, size or pairing the toolkit cannot use
};

// Every stored keyframe begins with this header.
struct RwAnimKeyFrameHeader {
    void *prevFrame;        // the keyframe of the same node that this one follows
    RwReal time;
};
static_assert(sizeof(RwAnimKeyFrameHeader) == 8, "keyframe header is two words");

// Every interpolator slot begins with this header.
struct RwAnimInterpFrameHeader {
    RwAnimKeyFrameHeader *keyFrame1;
    RwAnimKeyFrameHeader *keyFrame2;
};
static_assert(sizeof(RwAnimInterpFrameHeader) == 8, "slot header is two words");

typedef void (*RwAnimKeyFrameApplyCallBack)(void *result, void *slot);
typedef void (*RwAnimKeyFrameBlendCallBack)(void *out, void *in1, void *in2, RwReal alpha);
typedef void (*RwAnimKeyFrameInterpolateCallBack)(void *out, void *keyFrame1, void *keyFrame2, RwReal time,
                                                   void *customData);
typedef void (*RwAnimKeyFrameAddCallBack)(void *out, void *in1, void *in2);
typedef void (*RwAnimKeyFrameMulRecipCallBack)(void *frame, void *start);
typedef RwAnimAnimation *(*RwAnimKeyFrameStreamReadCallBack)(RwStream *stream, RwAnimAnimation *animation);
typedef RwBool (*RwAnimKeyFrameStreamWriteCallBack)(const RwAnimAnimation *animation, RwStream *stream);
typedef RwInt32 (*RwAnimKeyFrameStreamGetSizeCallBack)(const RwAnimAnimation *animation);

// A keyframe scheme: the layout and mathematics of one kind of keyframe.
struct RwAnimInterpolatorInfo {
    RwInt32 typeID;
    RwInt32 interpKeyFrameSize;
    RwInt32 animKeyFrameSize;
    RwAnimKeyFrameApplyCallBack keyFrameApplyCB;
    RwAnimKeyFrameBlendCallBack keyFrameBlendCB;
    RwAnimKeyFrameInterpolateCallBack keyFrameInterpolateCB;
    RwAnimKeyFrameAddCallBack keyFrameAddCB;
    RwAnimKeyFrameMulRecipCallBack keyFrameMulRecipCB;
    RwAnimKeyFrameStreamReadCallBack keyFrameStreamReadCB;
    RwAnimKeyFrameStreamWriteCallBack keyFrameStreamWriteCB;
    RwAnimKeyFrameStreamGetSizeCallBack keyFrameStreamGetSizeCB;
    RwInt32 customDataSize;
};
static_assert(sizeof(RwAnimInterpolatorInfo) == 48, "scheme is twelve words");

// Header, keyframes and custom data in one allocation.
struct RwAnimAnimation {
    RwAnimInterpolatorInfo *interpInfo;
    RwInt32 numFrames;
    RwInt32 flags;
    RwReal duration;
    void *pFrames;
    void *customData;
};
static_assert(sizeof(RwAnimAnimation) == 24, "animation header is six words");

// Time and loop callbacks; returning NULL removes the callback.
typedef RwAnimInterpolator *(*RwAnimCallBack)(RwAnimInterpolator *interpolator, void *data);

// Header and one slot per node in one allocation (freed with RwFree).
struct RwAnimInterpolator {
    RwAnimAnimation *pCurrentAnim;
    RwReal currentTime;
    void *pNextFrame;                   // next keyframe to consume; NULL after a backward step
    RwAnimCallBack pAnimCallBack;
    void *pAnimCallBackData;
    RwReal animCallBackTime;            // -1 when there is no time callback
    RwAnimCallBack pAnimLoopCallBack;
    void *pAnimLoopCallBackData;
    RwInt32 maxInterpKeyFrameSize;
    RwInt32 currentInterpKeyFrameSize;
    RwInt32 currentAnimKeyFrameSize;
    RwInt32 numNodes;
    RwBool isSubInterpolator;
    RwInt32 offsetInParent;
    RwAnimInterpolator *parentAnimation;
    RwAnimKeyFrameApplyCallBack keyFrameApplyCB;
    RwAnimKeyFrameBlendCallBack keyFrameBlendCB;
    RwAnimKeyFrameInterpolateCallBack keyFrameInterpolateCB;
    RwAnimKeyFrameAddCallBack keyFrameAddCB;
};
static_assert(sizeof(RwAnimInterpolator) == 76, "interpolator header is 19 words");

RwBool RwAnimPluginAttach(void);

RwBool RwAnimRegisterKeyFrameScheme(const RwAnimInterpolatorInfo *info);
// The registered scheme with that id, or NULL.
RwAnimInterpolatorInfo *RwAnimGetInterpolatorInfo(RwInt32 typeID);
// The largest slot any registered scheme fills (0 without schemes).
RwInt32 RwAnimGetLargestInterpKeyFrameSize(void);

RwAnimAnimation *RwAnimAnimationCreate(RwInt32 typeID, RwInt32 numFrames, RwInt32 flags, RwReal duration);
RwBool RwAnimAnimationDestroy(RwAnimAnimation *animation);
RwInt32 RwAnimAnimationGetNumNodes(const RwAnimAnimation *animation);
// The stream stands behind the chunk header of an animation chunk.
RwAnimAnimation *RwAnimAnimationStreamRead(RwStream *stream);
RwBool RwAnimAnimationStreamWrite(const RwAnimAnimation *animation, RwStream *stream);
RwInt32 RwAnimAnimationStreamGetSize(const RwAnimAnimation *animation);

// Refused when the slot size is below a slot header or above every
// registered scheme's slots: no animation could use it.
RwAnimInterpolator *RwAnimInterpolatorCreate(RwInt32 numNodes, RwInt32 maxInterpKeyFrameSize);
RwBool RwAnimInterpolatorSetCurrentAnim(RwAnimInterpolator *interpolator, RwAnimAnimation *animation);
RwBool RwAnimInterpolatorAddTime(RwAnimInterpolator *interpolator, RwReal delta);
RwBool RwAnimInterpolatorSubtractTime(RwAnimInterpolator *interpolator, RwReal delta);
RwBool RwAnimInterpolatorSetTime(RwAnimInterpolator *interpolator, RwReal time);
RwBool RwAnimInterpolatorBlend(RwAnimInterpolator *out, RwAnimInterpolator *in1, RwAnimInterpolator *in2,
                               RwReal alpha);
RwBool RwAnimInterpolatorCopy(RwAnimInterpolator *out, RwAnimInterpolator *in);
// Time callback fired when playback crosses callBackTime; loop callback fired
// when the time wraps. A NULL callback removes it.
RwAnimInterpolator *RwAnimInterpolatorSetTimeCallBack(RwAnimInterpolator *interpolator, RwAnimCallBack callBack,
                                                      RwReal callBackTime, void *data);
RwAnimInterpolator *RwAnimInterpolatorSetLoopCallBack(RwAnimInterpolator *interpolator, RwAnimCallBack callBack,
                                                      void *data);

// Records an error of the toolkit (plug-in id 0x1B7).
void RwAnimErrorRaise(RwInt32 code);

// Slot n of an interpolator, spaced by the current slot size.
inline void *RwAnimInterpolatorGetInterpFrame(RwAnimInterpolator *interpolator, RwInt32 n)
{
    return reinterpret_cast<RwUInt8 *>(interpolator + 1) + n * interpolator->currentInterpKeyFrameSize;
}
// Keyframe n of an animation.
inline void *RwAnimAnimationGetKeyFrame(const RwAnimAnimation *animation, RwInt32 n)
{
    return static_cast<RwUInt8 *>(animation->pFrames) + n * animation->interpInfo->animKeyFrameSize;
}
