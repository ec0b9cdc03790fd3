// Keyframe animation toolkit: interpolators that step animations forwards and backwards, blend and copy.
#include "anim.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"

enum : RwInt32 {
    // Beyond this many durations a wrap takes the remainder instead of
    // subtracting one duration at a time.
    rwANIMMAXWRAPSTEPS = 64,
};

static RwAnimKeyFrameHeader *KeyFrame(const RwAnimAnimation *a, RwInt32 n)
{
    return static_cast<RwAnimKeyFrameHeader *>(RwAnimAnimationGetKeyFrame(a, n));
}

static RwAnimInterpFrameHeader *Slot(RwAnimInterpolator *in, RwInt32 n)
{
    return static_cast<RwAnimInterpFrameHeader *>(RwAnimInterpolatorGetInterpFrame(in, n));
}

static uintptr_t KeyFramesEnd(const RwAnimAnimation *a)
{
    return reinterpret_cast<uintptr_t>(a->pFrames) +
           static_cast<uintptr_t>(a->numFrames) * static_cast<uintptr_t>(a->interpInfo->animKeyFrameSize);
}

// Links come from files and may point anywhere: only a link to an earlier
// keyframe of the same array is ever followed.
static bool IsEarlierKeyFrame(const RwAnimAnimation *a, const void *link, const void *keyFrame)
{
    const uintptr_t first = reinterpret_cast<uintptr_t>(a->pFrames);
    const uintptr_t l = reinterpret_cast<uintptr_t>(link);
    return l >= first && l < reinterpret_cast<uintptr_t>(keyFrame) &&
           (l - first) % static_cast<uintptr_t>(a->interpInfo->animKeyFrameSize) == 0;
}

RwAnimInterpolator *RwAnimInterpolatorCreate(RwInt32 numNodes, RwInt32 maxInterpKeyFrameSize)
{
    const unsigned long long bytes =
        sizeof(RwAnimInterpolator) + static_cast<unsigned long long>(numNodes < 0 ? 0 : numNodes) *
                                         static_cast<unsigned long long>(maxInterpKeyFrameSize < 0 ? 0 : maxInterpKeyFrameSize);
    if (numNodes < 0 || maxInterpKeyFrameSize < static_cast<RwInt32>(sizeof(RwAnimInterpFrameHeader)) ||
        maxInterpKeyFrameSize > RwAnimGetLargestInterpKeyFrameSize() || bytes > 0x7FFFFFFFull) {
        RwAnimErrorRaise(E_RW_ANIMBADARGUMENT);
        return nullptr;
    }
    RwAnimInterpolator *in =
        static_cast<RwAnimInterpolator *>(RwMalloc(static_cast<size_t>(bytes), rwMEMHINTDUR_EVENT | rwID_ANIMPLUGIN));
    if (!in) {
        RwErrorRaise(0, E_RW_NOMEM);
        return nullptr;
    }
    // Zeroed so that slots never hold stale bytes before an animation is set.
    std::memset(in, 0, static_cast<size_t>(bytes));
    in->animCallBackTime = -1.0f;
    in->maxInterpKeyFrameSize = maxInterpKeyFrameSize;
    in->currentInterpKeyFrameSize = maxInterpKeyFrameSize;
    in->currentAnimKeyFrameSize = -1;
    in->numNodes = numNodes;
    in->parentAnimation = in;
    return in;
}

// Time 0: every node between its first two keyframes.
static void Restart(RwAnimInterpolator *in)
{
    RwAnimAnimation *a = in->pCurrentAnim;
    const RwInt32 n = in->numNodes;
    in->currentTime = 0.0f;
    for (RwInt32 i = 0; i < n; ++i) {
        RwAnimInterpFrameHeader *slot = Slot(in, i);
        RwAnimKeyFrameHeader *k1 = KeyFrame(a, i);
        RwAnimKeyFrameHeader *k2 = KeyFrame(a, n + i);
        in->keyFrameInterpolateCB(slot, k1, k2, 0.0f, a->customData);
        slot->keyFrame1 = k1;
        slot->keyFrame2 = k2;
    }
    in->pNextFrame = KeyFrame(a, 2 * n);
}

RwBool RwAnimInterpolatorSetCurrentAnim(RwAnimInterpolator *in, RwAnimAnimation *a)
{
    // A scheme whose slots are larger than those allocated would write past
    // them; fewer than two keyframes per node leave slots without a pair.
    if (!in || !a || a->interpInfo->interpKeyFrameSize > in->maxInterpKeyFrameSize ||
        a->numFrames < 2LL * in->numNodes) {
        RwAnimErrorRaise(E_RW_ANIMBADARGUMENT);
        return FALSE;
    }
    const RwAnimInterpolatorInfo *info = a->interpInfo;
    in->pCurrentAnim = a;
    in->currentInterpKeyFrameSize = info->interpKeyFrameSize;
    in->currentAnimKeyFrameSize = info->animKeyFrameSize;
    in->keyFrameApplyCB = info->keyFrameApplyCB;
    in->keyFrameBlendCB = info->keyFrameBlendCB;
    in->keyFrameInterpolateCB = info->keyFrameInterpolateCB;
    in->keyFrameAddCB = info->keyFrameAddCB;
    Restart(in);
    return TRUE;
}

// Moves slots on to the keyframes that the current time has reached.
static void ConsumeKeyFrames(RwAnimInterpolator *in)
{
    const RwAnimAnimation *a = in->pCurrentAnim;
    const RwInt32 size = a->interpInfo->animKeyFrameSize;
    const RwInt32 n = in->numNodes;
    const uintptr_t end = KeyFramesEnd(a);
    RwInt32 search = 0;
    while (reinterpret_cast<uintptr_t>(in->pNextFrame) < end) {
        RwAnimKeyFrameHeader *next = static_cast<RwAnimKeyFrameHeader *>(in->pNextFrame);
        RwAnimKeyFrameHeader *prev = static_cast<RwAnimKeyFrameHeader *>(next->prevFrame);
        if (IsEarlierKeyFrame(a, prev, next)) {
            if (prev->time > in->currentTime) {
                break;
            }
            // One round at most: a keyframe that no slot waits for is skipped.
            for (RwInt32 tries = 0; tries < n; ++tries) {
                RwAnimInterpFrameHeader *slot = Slot(in, search);
                search = search + 1 < n ? search + 1 : 0;
                if (slot->keyFrame2 == prev) {
                    slot->keyFrame1 = prev;
                    slot->keyFrame2 = next;
                    break;
                }
            }
        }
        in->pNextFrame = reinterpret_cast<RwUInt8 *>(next) + size;
    }
}

static void InterpolateAll(RwAnimInterpolator *in)
{
    void *custom = in->pCurrentAnim->customData;
    for (RwInt32 i = 0; i < in->numNodes; ++i) {
        RwAnimInterpFrameHeader *slot = Slot(in, i);
        in->keyFrameInterpolateCB(slot, slot->keyFrame1, slot->keyFrame2, in->currentTime, custom);
    }
}

static void FireCallBacks(RwAnimInterpolator *in, bool timeDue, bool loopDue)
{
    if (timeDue && in->pAnimCallBack && !in->pAnimCallBack(in, in->pAnimCallBackData)) {
        in->pAnimCallBack = nullptr;
        in->animCallBackTime = -1.0f;
    }
    if (loopDue && in->pAnimLoopCallBack && !in->pAnimLoopCallBack(in, in->pAnimLoopCallBackData)) {
        in->pAnimLoopCallBack = nullptr;
    }
}

// time + delta brought into (0, duration] as repeated subtraction of the
// duration would, in a bounded number of steps.
static RwReal WrapForward(RwReal time, RwReal delta, RwReal duration)
{
    RwReal t = time + delta;
    if (!std::isfinite(t) || t / duration > rwANIMMAXWRAPSTEPS) {
        t = std::fmod(time, duration) + std::fmod(delta, duration);
    }
    while (t > duration) {
        t -= duration;
    }
    return t;
}

// time - delta brought into [0, duration) likewise.
static RwReal WrapBackward(RwReal time, RwReal delta, RwReal duration)
{
    RwReal t = time - delta;
    if (!std::isfinite(t) || -t / duration > rwANIMMAXWRAPSTEPS) {
        t = std::fmod(time, duration) - std::fmod(delta, duration);
    }
    while (t < 0.0f) {
        t += duration;
    }
    return t;
}

enum StepCheck { rwSTEPREFUSED, rwSTEPNOTHING, rwSTEPGO };

// Time operations need an animation and a finite delta; a delta of 0 or less,
// or a zero-length animation (which stays at time 0), changes nothing.
static StepCheck CheckStep(const RwAnimInterpolator *in, RwReal delta)
{
    if (!in || !in->pCurrentAnim || !std::isfinite(delta)) {
        return rwSTEPREFUSED;
    }
    if (!(delta > 0.0f) || !(in->pCurrentAnim->duration > 0.0f)) {
        return rwSTEPNOTHING;
    }
    return rwSTEPGO;
}

RwBool RwAnimInterpolatorAddTime(RwAnimInterpolator *in, RwReal delta)
{
    const StepCheck check = CheckStep(in, delta);
    if (check != rwSTEPGO) {
        return check == rwSTEPNOTHING;
    }
    const RwReal duration = in->pCurrentAnim->duration;
    const RwReal callBackTime = in->animCallBackTime;
    bool timeDue = in->currentTime < callBackTime && in->currentTime + delta >= callBackTime;
    bool loopDue = false;
    RwReal t = in->currentTime + delta;
    if (!(t <= duration)) {
        loopDue = true;
        // The first subtraction leaves the largest time of the wrap.
        timeDue = timeDue || (t - duration >= callBackTime);
        t = WrapForward(in->currentTime, delta, duration);
        Restart(in);
    } else if (!in->pNextFrame) {
        Restart(in);    // after a backward step: catch up from the start
    }
    in->currentTime = t;
    ConsumeKeyFrames(in);
    InterpolateAll(in);
    FireCallBacks(in, timeDue, loopDue);
    return TRUE;
}

RwBool RwAnimInterpolatorSubtractTime(RwAnimInterpolator *in, RwReal delta)
{
    const StepCheck check = CheckStep(in, delta);
    if (check != rwSTEPGO) {
        return check == rwSTEPNOTHING;
    }
    const RwReal duration = in->pCurrentAnim->duration;
    const RwReal callBackTime = in->animCallBackTime;
    bool timeDue = in->currentTime > callBackTime && in->currentTime - delta <= callBackTime;
    bool loopDue = false;
    const RwReal t = in->currentTime - delta;
    if (t < 0.0f) {
        const RwReal wrapped = WrapBackward(in->currentTime, delta, duration);
        Restart(in);
        RwAnimInterpolatorAddTime(in, wrapped);
        loopDue = true;
        timeDue = timeDue || wrapped < callBackTime;
    } else {
        in->currentTime = t;
        const RwAnimAnimation *a = in->pCurrentAnim;
        for (RwInt32 i = 0; i < in->numNodes; ++i) {
            RwAnimInterpFrameHeader *slot = Slot(in, i);
            while (t < slot->keyFrame1->time && IsEarlierKeyFrame(a, slot->keyFrame1->prevFrame, slot->keyFrame1)) {
                slot->keyFrame2 = slot->keyFrame1;
                slot->keyFrame1 = static_cast<RwAnimKeyFrameHeader *>(slot->keyFrame1->prevFrame);
            }
            in->keyFrameInterpolateCB(slot, slot->keyFrame1, slot->keyFrame2, t, a->customData);
        }
        in->pNextFrame = nullptr;
    }
    FireCallBacks(in, timeDue, loopDue);
    return TRUE;
}

RwBool RwAnimInterpolatorSetTime(RwAnimInterpolator *in, RwReal time)
{
    if (!in) {
        return FALSE;
    }
    const RwReal difference = time - in->currentTime;
    return difference >= 0.0f ? RwAnimInterpolatorAddTime(in, difference)
                              : RwAnimInterpolatorSubtractTime(in, -difference);
}

// in can stand in for out slot by slot: as many nodes and slots as large.
static bool Covers(const RwAnimInterpolator *in, const RwAnimInterpolator *out)
{
    return in && in->numNodes >= out->numNodes && in->currentInterpKeyFrameSize >= out->currentInterpKeyFrameSize;
}

RwBool RwAnimInterpolatorBlend(RwAnimInterpolator *out, RwAnimInterpolator *in1, RwAnimInterpolator *in2,
                               RwReal alpha)
{
    if (!out || !out->keyFrameBlendCB || !Covers(in1, out) || !Covers(in2, out)) {
        RwAnimErrorRaise(E_RW_ANIMBADARGUMENT);
        return FALSE;
    }
    for (RwInt32 i = 0; i < out->numNodes; ++i) {
        out->keyFrameBlendCB(Slot(out, i), Slot(in1, i), Slot(in2, i), alpha);
    }
    return TRUE;
}

RwBool RwAnimInterpolatorCopy(RwAnimInterpolator *out, RwAnimInterpolator *in)
{
    if (!out || !Covers(in, out)) {
        RwAnimErrorRaise(E_RW_ANIMBADARGUMENT);
        return FALSE;
    }
    if (in != out) {
        const size_t size = static_cast<size_t>(out->currentInterpKeyFrameSize);
        for (RwInt32 i = 0; i < out->numNodes; ++i) {
            std::memcpy(Slot(out, i), Slot(in, i), size);
        }
    }
    return TRUE;
}

RwAnimInterpolator *RwAnimInterpolatorSetTimeCallBack(RwAnimInterpolator *in, RwAnimCallBack callBack,
                                                      RwReal callBackTime, void *data)
{
    in->pAnimCallBack = callBack;
    in->pAnimCallBackData = data;
    in->animCallBackTime = callBack ? callBackTime : -1.0f;
    return in;
}

RwAnimInterpolator *RwAnimInterpolatorSetLoopCallBack(RwAnimInterpolator *in, RwAnimCallBack callBack, void *data)
{
    in->pAnimLoopCallBack = callBack;
    in->pAnimLoopCallBackData = data;
    return in;
}
