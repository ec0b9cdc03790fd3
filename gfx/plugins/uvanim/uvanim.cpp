// UV animation: the plug-in, animations with their references, and the material's slots and UV matrices.
#include <cstdint>
#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/matrix.h"
#include "gfx/core/memory.h"
#include "gfx/plugins/dictionary/dictionary.h"
#include "gfx/plugins/matfx/matfx.h"
#include "gfx/world/material.h"
#include "uvanimint.h"

enum : RwInt32 {
    rwUVANIMDICTVERSION = 0x36000,
};

static RwInt32 materialOffset = -1;

static void *AddRefEntry(void *entry) { return RwUVAnimAddRef(static_cast<RwAnimAnimation *>(entry)); }
static RwBool DestroyEntry(void *entry) { return RwUVAnimDestroy(static_cast<RwAnimAnimation *>(entry)); }
static const RwChar *EntryName(void *entry) { return RwUVAnimGetName(static_cast<RwAnimAnimation *>(entry)); }
static RwUInt32 EntrySize(const void *entry)
{
    return static_cast<RwUInt32>(RwAnimAnimationStreamGetSize(static_cast<const RwAnimAnimation *>(entry)));
}
static const void *WriteEntry(const void *entry, RwStream *stream)
{
    return RwAnimAnimationStreamWrite(static_cast<const RwAnimAnimation *>(entry), stream) ? entry : nullptr;
}

static bool IsUVScheme(const RwAnimAnimation *animation)
{
    return animation->interpInfo->typeID == rwUVANIMLINEARKEYFRAMES ||
           animation->interpInfo->typeID == rwUVANIMPARAMKEYFRAMES;
}

// Animations of other schemes carry no UV custom data: not entries of ours.
static void *ReadEntry(RwStream *stream)
{
    RwAnimAnimation *animation = RwAnimAnimationStreamRead(stream);
    if (animation && !IsUVScheme(animation)) {
        RwAnimAnimationDestroy(animation);
        RwErrorRaise(static_cast<RwInt32>(rwID_UVANIMPLUGIN), E_RP_UVANIM_BADSTREAM);
        return nullptr;
    }
    return animation;
}

static RwDictionarySchema uvSchema = {
    "UVAnim",     rwID_UVANIMDICT, rwID_ANIMANIMATION, rwUVANIMDICTVERSION, nullptr, nullptr, AddRefEntry,
    DestroyEntry, EntryName,       EntrySize,          ReadEntry,           nullptr, WriteEntry,
};

RwDictionarySchema *RwUVAnimGetDictSchema(void) { return &uvSchema; }

// The custom data lives in the animation's own block, behind the keyframes,
// so that it goes with the animation whoever destroys it.
RwUVAnimCustomData *RwUVAnimInitCustomData(RwAnimAnimation *animation)
{
    RwUVAnimCustomData *data = RwUVAnimGetCustomData(animation);
    std::memset(data, 0, sizeof *data);
    data->refCount = 1;
    return data;
}

const RwChar *RwUVAnimGetName(const RwAnimAnimation *animation)
{
    return RwUVAnimGetCustomData(animation)->name;
}

RwAnimAnimation *RwUVAnimAddRef(RwAnimAnimation *animation)
{
    RwUVAnimGetCustomData(animation)->refCount++;
    return animation;
}

RwBool RwUVAnimDestroy(RwAnimAnimation *animation)
{
    if (--RwUVAnimGetCustomData(animation)->refCount <= 0) {
        RwAnimAnimationDestroy(animation);
    }
    return TRUE;
}

RwAnimAnimation *RwUVAnimCreateIdentity(const RwChar *name)
{
    RwAnimAnimation *animation = RwAnimAnimationCreate(rwUVANIMLINEARKEYFRAMES, 2, 0, 1.0f);
    if (!animation) {
        return nullptr;
    }
    RwUVAnimCustomData *data = RwUVAnimInitCustomData(animation);
    std::strncpy(data->name, name ? name : "", rwUVANIMNAMELENGTH - 1);
    RwUVAnimKeyFrame *frames = static_cast<RwUVAnimKeyFrame *>(animation->pFrames);
    const RwUVAnimKeyFrame identity = {nullptr, 0.0f, {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f}};
    frames[0] = identity;
    frames[1] = identity;
    frames[1].prevFrame = &frames[0];
    frames[1].time = 1.0f;
    return animation;
}

RwUVAnimMaterialData *RwUVAnimMaterialGetData(const RwMaterial *material)
{
    return material && materialOffset >= 0
               ? reinterpret_cast<RwUVAnimMaterialData *>(reinterpret_cast<uintptr_t>(material) + materialOffset)
               : nullptr;
}

void RwUVAnimMaterialClearSlot(RwUVAnimMaterialData *data, RwInt32 slot)
{
    if (RwAnimInterpolator *in = data->interp[slot]) {
        if (in->pCurrentAnim) {
            RwUVAnimDestroy(in->pCurrentAnim);
        }
        RwFree(in);
        data->interp[slot] = nullptr;
    }
}

RwMaterial *RwUVAnimMaterialEnsureMatrices(RwMaterial *material)
{
    RwUVAnimMaterialData *data = RwUVAnimMaterialGetData(material);
    if (!data) {
        return nullptr;
    }
    bool used[2] = {false, false};
    for (RwAnimInterpolator *in : data->interp) {
        if (in && in->pCurrentAnim) {
            const RwUVAnimCustomData *custom = RwUVAnimGetCustomData(in->pCurrentAnim);
            for (RwInt32 n = 0; n < in->numNodes && n < rwUVANIMMAXNODES; ++n) {
                const RwInt32 c = custom->nodeToUVChannel[n];
                if (c == 0 || c == 1) {
                    used[c] = true;
                }
            }
        }
    }
    for (int c = 0; c < 2; ++c) {
        if (used[c] && !data->uv[c]) {
            data->uv[c] = RwMatrixCreate();
            if (!data->uv[c]) {
                return nullptr;
            }
        } else if (!used[c] && data->uv[c]) {
            RwMatrixDestroy(data->uv[c]);
            data->uv[c] = nullptr;
        }
    }
    return material;
}

// An interpolator of the animation in the slot, which must be free.
static bool FillSlot(RwUVAnimMaterialData *data, RwAnimAnimation *animation, RwInt32 slot)
{
    const RwInt32 nodes = RwAnimAnimationGetNumNodes(animation);
    RwAnimInterpolator *in = RwAnimInterpolatorCreate(nodes, animation->interpInfo->interpKeyFrameSize);
    if (!in) {
        return false;
    }
    if (!RwAnimInterpolatorSetCurrentAnim(in, animation)) {
        RwFree(in);
        return false;
    }
    data->interp[slot] = in;
    return true;
}

RwMaterial *RwUVAnimMaterialSetAnim(RwMaterial *material, RwAnimAnimation *animation, RwInt32 slot)
{
    RwUVAnimMaterialData *data = RwUVAnimMaterialGetData(material);
    if (!data || !animation || !IsUVScheme(animation) || slot < 0 || slot >= rwUVANIMNUMSLOTS) {
        RwErrorRaise(static_cast<RwInt32>(rwID_UVANIMPLUGIN), E_RP_UVANIM_BADSLOT);
        return nullptr;
    }
    // A slot in use lets its animation go rather than leak it.
    RwUVAnimAddRef(animation);
    RwUVAnimMaterialClearSlot(data, slot);
    if (!FillSlot(data, animation, slot)) {
        RwUVAnimDestroy(animation);
        return nullptr;
    }
    if (!RwUVAnimMaterialEnsureMatrices(material)) {
        RwFree(data->interp[slot]);
        data->interp[slot] = nullptr;
        RwUVAnimDestroy(animation);
        return nullptr;
    }
    return material;
}

RwAnimInterpolator *RwUVAnimMaterialGetInterpolator(const RwMaterial *material, RwInt32 slot)
{
    RwUVAnimMaterialData *data = RwUVAnimMaterialGetData(material);
    return data && slot >= 0 && slot < rwUVANIMNUMSLOTS ? data->interp[slot] : nullptr;
}

RwBool RwUVAnimMaterialHasAnim(const RwMaterial *material)
{
    const RwUVAnimMaterialData *data = RwUVAnimMaterialGetData(material);
    if (data) {
        for (const RwAnimInterpolator *in : data->interp) {
            if (in) {
                return TRUE;
            }
        }
    }
    return FALSE;
}

RwMaterial *RwUVAnimMaterialAddTime(RwMaterial *material, RwReal seconds)
{
    RwUVAnimMaterialData *data = RwUVAnimMaterialGetData(material);
    if (!data) {
        return nullptr;
    }
    for (RwAnimInterpolator *in : data->interp) {
        if (in) {
            RwAnimInterpolatorAddTime(in, seconds);
        }
    }
    return material;
}

RwMaterial *RwUVAnimMaterialApplyUpdate(RwMaterial *material)
{
    RwUVAnimMaterialData *data = RwUVAnimMaterialGetData(material);
    if (!data) {
        return nullptr;
    }
    for (RwMatrix *m : data->uv) {
        if (m) {
            RwMatrixSetIdentity(m);
        }
    }
    for (RwAnimInterpolator *in : data->interp) {
        if (!in || !in->pCurrentAnim) {
            continue;
        }
        const RwUVAnimCustomData *custom = RwUVAnimGetCustomData(in->pCurrentAnim);
        for (RwInt32 n = 0; n < in->numNodes && n < rwUVANIMMAXNODES; ++n) {
            const RwInt32 c = custom->nodeToUVChannel[n];
            if (c < 0 || c > 1 || !data->uv[c]) {
                continue;
            }
            RwMatrix node;
            in->keyFrameApplyCB(&node, RwAnimInterpolatorGetInterpFrame(in, n));
            RwMatrixTransform(data->uv[c], &node, rwCOMBINEPRECONCAT);
        }
    }
    // A material without a UV-transform effect keeps no matrices: nothing to hand.
    RwMatFxMaterialSetUVTransformMatrices(material, data->uv[0], data->uv[1]);
    return material;
}

static void *MaterialConstruct(void *material, RwInt32, RwInt32)
{
    std::memset(RwUVAnimMaterialGetData(static_cast<RwMaterial *>(material)), 0, sizeof(RwUVAnimMaterialData));
    return material;
}

static void *MaterialDestruct(void *material, RwInt32, RwInt32)
{
    RwUVAnimMaterialData *data = RwUVAnimMaterialGetData(static_cast<RwMaterial *>(material));
    for (RwMatrix *&m : data->uv) {
        if (m) {
            RwMatrixDestroy(m);
            m = nullptr;
        }
    }
    for (RwInt32 slot = 0; slot < rwUVANIMNUMSLOTS; ++slot) {
        RwUVAnimMaterialClearSlot(data, slot);
    }
    return material;
}

void *RwUVAnimMaterialCopy(void *dst, const void *src, RwInt32, RwInt32)
{
    RwUVAnimMaterialData *d = RwUVAnimMaterialGetData(static_cast<RwMaterial *>(dst));
    const RwUVAnimMaterialData *s = RwUVAnimMaterialGetData(static_cast<const RwMaterial *>(src));
    for (RwInt32 slot = 0; slot < rwUVANIMNUMSLOTS; ++slot) {
        RwAnimInterpolator *from = s->interp[slot];
        if (!from || !from->pCurrentAnim) {
            continue;
        }
        RwAnimInterpolator *in = RwAnimInterpolatorCreate(from->numNodes, from->maxInterpKeyFrameSize);
        if (!in || !RwAnimInterpolatorSetCurrentAnim(in, from->pCurrentAnim) || !RwAnimInterpolatorCopy(in, from)) {
            if (in) {
                RwFree(in);
            }
            for (RwInt32 made = 0; made < slot; ++made) {
                RwUVAnimMaterialClearSlot(d, made);
            }
            return nullptr;
        }
        in->currentTime = from->currentTime;
        in->pNextFrame = from->pNextFrame;
        RwUVAnimAddRef(from->pCurrentAnim);
        RwUVAnimMaterialClearSlot(d, slot);
        d->interp[slot] = in;
    }
    return dst;
}

static void *UVAnimOpen(void *instance, RwInt32, RwInt32)
{
    if (!RwDictionarySchemaInit(&uvSchema) || !RwAnimRegisterKeyFrameScheme(&rwUVAnimLinearScheme) ||
        !RwAnimRegisterKeyFrameScheme(&rwUVAnimParamScheme)) {
        RwDictionarySchemaDestruct(&uvSchema);
        return nullptr;
    }
    return instance;
}

static void *UVAnimClose(void *instance, RwInt32, RwInt32)
{
    RwDictionarySchemaDestruct(&uvSchema);
    return instance;
}

RwBool RwUVAnimPluginAttach(void)
{
    if (RwEngineRegisterPlugin(0, rwID_UVANIMPLUGIN, UVAnimOpen, UVAnimClose) < 0) {
        return FALSE;
    }
    materialOffset = RwMaterialRegisterPlugin(sizeof(RwUVAnimMaterialData), rwID_UVANIMPLUGIN, MaterialConstruct,
                                              MaterialDestruct, RwUVAnimMaterialCopy);
    return materialOffset >= 0 &&
           RwMaterialRegisterPluginStream(rwID_UVANIMPLUGIN, RwUVAnimMaterialStreamRead, RwUVAnimMaterialStreamWrite,
                                          RwUVAnimMaterialStreamGetSize) >= 0;
}
