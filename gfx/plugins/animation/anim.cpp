// Keyframe animation toolkit: the plug-in, its scheme registry and animations with their stream form.
#include "anim.h"

#include <cstring>

#include "gfx/core/byteorder.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/finite.h"
#include "gfx/core/stream.h"

struct RwAnimGlobals {
    RwInt32 numSchemes;
    RwAnimInterpolatorInfo schemes[rwANIMMAXSCHEMES];
};

static RwInt32 animModuleOffset = -1;

void RwAnimErrorRaise(RwInt32 code)
{
    RwErrorRaise(static_cast<RwInt32>(rwID_ANIMPLUGIN), static_cast<RwUInt32>(code));
}

// NULL until the engine is opened with the plug-in attached: schemes live in
// the engine object.
static RwAnimGlobals *AnimGlobals()
{
    if (animModuleOffset < 0 || RwEngineGetStatus() < rwENGINESTATUSOPENED) {
        return nullptr;
    }
    return RwEngineModuleGlobals<RwAnimGlobals>(animModuleOffset);
}

// Plug-ins attached before this one register their schemes from their own
// open callbacks, which run first, so the open must leave the table alone.
// The engine object is zeroed when it is made, and the close empties the
// table so that a restart can register the same schemes again.
static void *AnimOpen(void *instance, RwInt32 offset, RwInt32)
{
    animModuleOffset = offset;
    return instance;
}

static void *AnimClose(void *instance, RwInt32 offset, RwInt32)
{
    reinterpret_cast<RwAnimGlobals *>(static_cast<RwUInt8 *>(instance) + offset)->numSchemes = 0;
    return instance;
}

RwBool RwAnimPluginAttach(void)
{
    const RwInt32 offset = RwEngineRegisterPlugin(sizeof(RwAnimGlobals), rwID_ANIMPLUGIN, AnimOpen, AnimClose);
    if (offset < 0) {
        return FALSE;
    }
    animModuleOffset = offset;
    return TRUE;
}

RwAnimInterpolatorInfo *RwAnimGetInterpolatorInfo(RwInt32 typeID)
{
    RwAnimGlobals *g = AnimGlobals();
    if (!g) {
        return nullptr;
    }
    for (RwInt32 i = 0; i < g->numSchemes; ++i) {
        if (g->schemes[i].typeID == typeID) {
            return &g->schemes[i];
        }
    }
    return nullptr;
}

RwInt32 RwAnimGetLargestInterpKeyFrameSize(void)
{
    RwAnimGlobals *g = AnimGlobals();
    RwInt32 largest = 0;
    for (RwInt32 i = 0; g && i < g->numSchemes; ++i) {
        largest = g->schemes[i].interpKeyFrameSize > largest ? g->schemes[i].interpKeyFrameSize : largest;
    }
    return largest;
}

RwBool RwAnimRegisterKeyFrameScheme(const RwAnimInterpolatorInfo *info)
{
    RwAnimGlobals *g = AnimGlobals();
    // Slots and keyframes must at least hold their headers.
    if (!g || !info || info->interpKeyFrameSize < static_cast<RwInt32>(sizeof(RwAnimInterpFrameHeader)) ||
        info->animKeyFrameSize < static_cast<RwInt32>(sizeof(RwAnimKeyFrameHeader))) {
        RwAnimErrorRaise(E_RW_ANIMBADARGUMENT);
        return FALSE;
    }
    if (g->numSchemes >= static_cast<RwInt32>(rwANIMMAXSCHEMES)) {
        RwAnimErrorRaise(E_RW_ANIMSCHEMETABLEFULL);
        return FALSE;
    }
    if (RwAnimGetInterpolatorInfo(info->typeID)) {
        RwAnimErrorRaise(E_RW_ANIMSCHEMEDUPLICATE);
        return FALSE;
    }
    g->schemes[g->numSchemes++] = *info;
    return TRUE;
}

// Bytes of an animation of the scheme, or 0 when the count is negative or the
// block would not fit in 31 bits.
static RwUInt32 AnimationBytes(const RwAnimInterpolatorInfo *info, RwInt32 numFrames)
{
    if (numFrames < 0) {
        return 0;
    }
    const RwInt32 custom = info->customDataSize > 0 ? info->customDataSize : 0;
    const unsigned long long bytes = sizeof(RwAnimAnimation) +
                                     static_cast<unsigned long long>(numFrames) * info->animKeyFrameSize + custom;
    return bytes > 0x7FFFFFFFull ? 0 : static_cast<RwUInt32>(bytes);
}

RwAnimAnimation *RwAnimAnimationCreate(RwInt32 typeID, RwInt32 numFrames, RwInt32 flags, RwReal duration)
{
    RwAnimInterpolatorInfo *info = RwAnimGetInterpolatorInfo(typeID);
    if (!info) {
        RwAnimErrorRaise(E_RW_ANIMSCHEMEUNKNOWN);
        return nullptr;
    }
    const RwUInt32 bytes = AnimationBytes(info, numFrames);
    if (bytes == 0) {
        RwAnimErrorRaise(E_RW_ANIMBADARGUMENT);
        return nullptr;
    }
    RwAnimAnimation *a = static_cast<RwAnimAnimation *>(RwMalloc(bytes, rwMEMHINTDUR_EVENT | rwID_ANIMPLUGIN));
    if (!a) {
        RwErrorRaise(0, E_RW_NOMEM);
        return nullptr;
    }
    a->interpInfo = info;
    a->numFrames = numFrames;
    a->flags = flags;
    a->duration = duration;
    a->pFrames = a + 1;
    a->customData = info->customDataSize > 0
                        ? static_cast<RwUInt8 *>(a->pFrames) + static_cast<size_t>(numFrames) * info->animKeyFrameSize
                        : nullptr;
    return a;
}

RwBool RwAnimAnimationDestroy(RwAnimAnimation *animation)
{
    RwFree(animation);
    return TRUE;
}

RwInt32 RwAnimAnimationGetNumNodes(const RwAnimAnimation *animation)
{
    if (!animation || animation->numFrames <= 0) {
        return 0;
    }
    const void *first = animation->pFrames;
    if (static_cast<const RwAnimKeyFrameHeader *>(first)->prevFrame == first) {
        return 0;
    }
    for (RwInt32 i = 1; i < animation->numFrames; ++i) {
        if (static_cast<RwAnimKeyFrameHeader *>(RwAnimAnimationGetKeyFrame(animation, i))->prevFrame == first) {
            return i;
        }
    }
    return 0;   // no second keyframe of node 0: the layout holds no node
}

RwInt32 RwAnimAnimationStreamGetSize(const RwAnimAnimation *animation)
{
    return static_cast<RwInt32>(rwANIMSTREAMHEADERSIZE) + animation->interpInfo->keyFrameStreamGetSizeCB(animation);
}

RwAnimAnimation *RwAnimAnimationStreamRead(RwStream *stream)
{
    RwUInt8 word[4];
    RwInt32 fields[5];
    for (RwInt32 i = 0; i < 5; ++i) {
        if (!RwStreamReadExact(stream, word, sizeof word)) {
            return nullptr;
        }
        fields[i] = ReadI32(word);
        if (i == 0 && fields[0] != static_cast<RwInt32>(rwANIMSTREAMVERSION)) {
            return nullptr;
        }
    }
    RwAnimInterpolatorInfo *info = RwAnimGetInterpolatorInfo(fields[1]);
    if (!info) {
        RwAnimErrorRaise(E_RW_ANIMSCHEMEUNKNOWN);
        return nullptr;
    }
    if (AnimationBytes(info, fields[2]) == 0) {
        RwAnimErrorRaise(E_RW_ANIMBADARGUMENT);
        return nullptr;
    }
    // Ask the scheme what its keyframes take in the stream before allocating
    // for them: a hostile count must not make us allocate what the bytes left
    // could never fill.
    RwReal duration;
    std::memcpy(&duration, &fields[4], sizeof duration);
    if (!RwStreamRealsFinite(&duration, 1)) {
        return nullptr;
    }
    const RwAnimAnimation probe = {info, fields[2], fields[3], duration, nullptr, nullptr};
    const RwInt32 needed = info->keyFrameStreamGetSizeCB(&probe);
    if (needed < 0 || !RwStreamCanHold(stream, static_cast<RwUInt32>(needed), 1)) {
        RwErrorRaise(0, E_RW_READ);
        return nullptr;
    }
    RwAnimAnimation *a = RwAnimAnimationCreate(fields[1], fields[2], fields[3], duration);
    if (!a) {
        return nullptr;
    }
    if (!info->keyFrameStreamReadCB(stream, a)) {
        RwAnimAnimationDestroy(a);
        return nullptr;
    }
    return a;
}

RwBool RwAnimAnimationStreamWrite(const RwAnimAnimation *animation, RwStream *stream)
{
    const RwInt32 size = RwAnimAnimationStreamGetSize(animation);
    if (size < 0 || !RwStreamWriteChunkHeader(stream, rwID_ANIMANIMATION, static_cast<RwUInt32>(size))) {
        return FALSE;
    }
    RwUInt8 body[rwANIMSTREAMHEADERSIZE];
    WriteU32(body, rwANIMSTREAMVERSION);
    WriteI32(body + 4, animation->interpInfo->typeID);
    WriteI32(body + 8, animation->numFrames);
    WriteI32(body + 12, animation->flags);
    WriteF32(body + 16, animation->duration);
    if (!RwStreamWrite(stream, body, sizeof body)) {
        return FALSE;
    }
    return animation->interpInfo->keyFrameStreamWriteCB(animation, stream) ? TRUE : FALSE;
}
