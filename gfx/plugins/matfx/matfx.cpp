// Material effects: the plug-in, its extensions, effect blocks and their setters.
#include "matfx.h"

#include <cstdint>
#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/memory.h"
#include "gfx/core/texture.h"
#include "gfx/world/clump.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"
#include "matfxint.h"

enum : RwInt32 {
    rwMATFXBLOCKSPERPOOL = 128,
};

RwMatFxPipelineSet rwMatFxPipelines = {nullptr, nullptr};

RwMatFxOffsets rwMatFxOffsets = {-1, -1, -1};
static RwInt32 openCount = 0;
static RwFreeList *blockPool = nullptr;

static RwMatFxEffectBlock **BlockRef(const void *material)
{
    return reinterpret_cast<RwMatFxEffectBlock **>(reinterpret_cast<uintptr_t>(material) + rwMatFxOffsets.material);
}

static RwInt32 *FlagRef(const void *object, RwInt32 offset)
{
    return reinterpret_cast<RwInt32 *>(reinterpret_cast<uintptr_t>(object) + offset);
}

RwBool RwMatFxTypeKinds(RwInt32 type, RwInt32 kinds[2])
{
    static const RwInt32 table[rwMATFXEFFECTMAX + 1][2] = {
        {rwMATFXKINDEMPTY, rwMATFXKINDEMPTY},   {rwMATFXKINDBUMPMAP, rwMATFXKINDEMPTY},
        {rwMATFXKINDENVMAP, rwMATFXKINDEMPTY},  {rwMATFXKINDBUMPMAP, rwMATFXKINDENVMAP},
        {rwMATFXKINDDUAL, rwMATFXKINDEMPTY},    {rwMATFXKINDUVTRANSFORM, rwMATFXKINDEMPTY},
        {rwMATFXKINDUVTRANSFORM, rwMATFXKINDDUAL},
    };
    if (type < 0 || type > rwMATFXEFFECTMAX) {
        return FALSE;
    }
    kinds[0] = table[type][0];
    kinds[1] = table[type][1];
    return TRUE;
}

RwMatFxEffectBlock *RwMatFxMaterialGetEffects(const RwMaterial *material)
{
    return material && rwMatFxOffsets.material >= 0 ? *BlockRef(material) : nullptr;
}

RwMatFxEffectType RwMatFxMaterialGetEffectType(const RwMaterial *material)
{
    const RwMatFxEffectBlock *block = RwMatFxMaterialGetEffects(material);
    return block ? static_cast<RwMatFxEffectType>(block->type) : rwMATFXEFFECTNULL;
}

static void ReleaseTexture(RwTexture **texture)
{
    if (*texture) {
        RwTextureDestroy(*texture);
        *texture = nullptr;
    }
}

void RwMatFxSlotReleaseTextures(RwMatFxEffectSlot *slot)
{
    switch (slot->kind) {
    case rwMATFXKINDBUMPMAP:
        ReleaseTexture(&slot->data.bumpMap.bumpedTexture);
        ReleaseTexture(&slot->data.bumpMap.bumpTexture);
        break;
    case rwMATFXKINDENVMAP:
        ReleaseTexture(&slot->data.envMap.texture);
        break;
    case rwMATFXKINDDUAL:
        ReleaseTexture(&slot->data.dual.texture);
        break;
    default:
        break;
    }
}

void RwMatFxMaterialClearEffects(RwMatFxEffectBlock *block)
{
    if (!block) {
        return;
    }
    RwMatFxSlotReleaseTextures(&block->slots[0]);
    RwMatFxSlotReleaseTextures(&block->slots[1]);
    std::memset(block, 0, sizeof *block);
}

static RwMatFxEffectBlock *EnsureBlock(RwMaterial *material)
{
    RwMatFxEffectBlock **ref = BlockRef(material);
    if (!*ref) {
        if (!blockPool) {
            RwErrorRaise(0, E_RW_BADOPEN);
            return nullptr;
        }
        *ref = static_cast<RwMatFxEffectBlock *>(RwFreeListAlloc(blockPool, rwMEMHINTDUR_EVENT | rwMATFXHINT));
        if (!*ref) {
            RwErrorRaise(0, E_RW_NOMEM);
            return nullptr;
        }
        std::memset(*ref, 0, sizeof **ref);
    }
    return *ref;
}

RwMaterial *RwMatFxMaterialSetEffects(RwMaterial *material, RwInt32 type)
{
    RwInt32 kinds[2];
    if (!material || rwMatFxOffsets.material < 0 || !RwMatFxTypeKinds(type, kinds)) {
        RwErrorRaise(static_cast<RwInt32>(rwID_MATERIALEFFECTSPLUGIN), E_RP_MATFX_BADTYPE);
        return nullptr;
    }
    if (type == rwMATFXEFFECTNULL && !*BlockRef(material)) {
        return material;
    }
    RwMatFxEffectBlock *block = EnsureBlock(material);
    if (!block) {
        return nullptr;
    }
    if (type == block->type && type != rwMATFXEFFECTNULL) {
        return material;   // the same type keeps its slots' data
    }
    RwMatFxMaterialClearEffects(block);
    block->type = type;
    for (int i = 0; i < 2; ++i) {
        block->slots[i].kind = kinds[i];
        if (kinds[i] == rwMATFXKINDDUAL) {
            block->slots[i].data.dual.srcBlendMode = 5;
            block->slots[i].data.dual.dstBlendMode = 6;
        }
    }
    return material;
}

RwMatFxEffectSlot *RwMatFxMaterialGetEffectSlot(const RwMaterial *material, RwInt32 kind)
{
    RwMatFxEffectBlock *block = RwMatFxMaterialGetEffects(material);
    if (!block || kind == rwMATFXKINDEMPTY) {
        return nullptr;
    }
    for (RwMatFxEffectSlot &slot : block->slots) {
        if (slot.kind == kind) {
            return &slot;
        }
    }
    return nullptr;
}

RwMaterial *RwMatFxMaterialSetUVTransformMatrices(RwMaterial *material, RwMatrix *base, RwMatrix *dual)
{
    RwMatFxEffectSlot *slot = RwMatFxMaterialGetEffectSlot(material, rwMATFXKINDUVTRANSFORM);
    if (!slot) {
        return nullptr;
    }
    slot->data.uvTransform.baseTransform = base;
    slot->data.uvTransform.dualTransform = dual;
    return material;
}

RwMaterial *RwMatFxMaterialSetDualBlendModes(RwMaterial *material, RwInt32 srcBlend, RwInt32 dstBlend)
{
    RwMatFxEffectSlot *slot = RwMatFxMaterialGetEffectSlot(material, rwMATFXKINDDUAL);
    if (!slot) {
        return nullptr;
    }
    slot->data.dual.srcBlendMode = srcBlend;
    slot->data.dual.dstBlendMode = dstBlend;
    return material;
}

// Replaces a held texture by another, taking the new reference first so that
// the same texture survives.
void RwMatFxReplaceTexture(RwTexture **held, RwTexture *texture)
{
    if (texture) {
        RwTextureAddRef(texture);
    }
    ReleaseTexture(held);
    *held = texture;
}

static void CopySlot(RwMatFxEffectSlot *d, const RwMatFxEffectSlot *s)
{
    switch (s->kind) {
    case rwMATFXKINDBUMPMAP:
        RwMatFxReplaceTexture(&d->data.bumpMap.bumpedTexture, s->data.bumpMap.bumpedTexture);
        RwMatFxReplaceTexture(&d->data.bumpMap.bumpTexture, s->data.bumpMap.bumpTexture);
        d->data.bumpMap.frame = s->data.bumpMap.frame;
        d->data.bumpMap.coef = s->data.bumpMap.coef;
        d->data.bumpMap.invBumpWidth = s->data.bumpMap.invBumpWidth;
        break;
    case rwMATFXKINDENVMAP:
        RwMatFxReplaceTexture(&d->data.envMap.texture, s->data.envMap.texture);
        d->data.envMap.frame = s->data.envMap.frame;
        d->data.envMap.coef = s->data.envMap.coef;
        d->data.envMap.useFrameBufferAlpha = s->data.envMap.useFrameBufferAlpha;
        break;
    case rwMATFXKINDDUAL:
        RwMatFxReplaceTexture(&d->data.dual.texture, s->data.dual.texture);
        d->data.dual.srcBlendMode = s->data.dual.srcBlendMode;
        d->data.dual.dstBlendMode = s->data.dual.dstBlendMode;
        break;
    case rwMATFXKINDUVTRANSFORM:
        d->data.uvTransform = s->data.uvTransform;
        break;
    default:
        break;
    }
}

static void *MaterialConstruct(void *material, RwInt32, RwInt32)
{
    *BlockRef(material) = nullptr;
    return material;
}

static void *MaterialDestruct(void *material, RwInt32, RwInt32)
{
    RwMatFxEffectBlock **ref = BlockRef(material);
    if (*ref) {
        RwMatFxMaterialClearEffects(*ref);
        if (blockPool) {
            RwFreeListFree(blockPool, *ref);
        }
        *ref = nullptr;
    }
    return material;
}

void *RwMatFxMaterialCopy(void *dst, const void *src, RwInt32, RwInt32)
{
    const RwMatFxEffectBlock *s = *BlockRef(src);
    if (!s) {
        return dst;
    }
    RwMaterial *d = static_cast<RwMaterial *>(dst);
    if (!RwMatFxMaterialSetEffects(d, s->type)) {
        return nullptr;
    }
    RwMatFxEffectBlock *block = *BlockRef(d);
    for (int i = 0; i < 2 && block; ++i) {
        CopySlot(&block->slots[i], &s->slots[i]);
    }
    return dst;
}

static void *FlagConstruct(void *object, RwInt32 offset, RwInt32)
{
    *FlagRef(object, offset) = 0;
    return object;
}

static void *FlagCopy(void *dst, const void *src, RwInt32 offset, RwInt32)
{
    if (*FlagRef(src, offset)) {
        *FlagRef(dst, offset) = 1;
    }
    return dst;
}

RwAtomic *RwMatFxAtomicSetPipeline(RwAtomic *atomic)
{
    atomic->pipeline = rwMatFxPipelines.atomic;
    return atomic;
}

RwWorldSector *RwMatFxWorldSectorSetPipeline(RwWorldSector *sector)
{
    sector->pipeline = rwMatFxPipelines.worldSector;
    return sector;
}

// Puts the object on its effects pipeline once; NULL without the plug-in.
template <class Object>
static Object *EnableEffects(Object *object, RwInt32 offset, Object *(*setPipeline)(Object *))
{
    if (!object || offset < 0) {
        return nullptr;
    }
    RwInt32 *flag = FlagRef(object, offset);
    if (!*flag) {
        setPipeline(object);
        *flag = 1;
    }
    return object;
}

static RwBool QueryEffects(const void *object, RwInt32 offset)
{
    return object && offset >= 0 && *FlagRef(object, offset) ? TRUE : FALSE;
}

RwAtomic *RwMatFxAtomicEnableEffects(RwAtomic *atomic)
{
    return EnableEffects(atomic, rwMatFxOffsets.atomic, RwMatFxAtomicSetPipeline);
}

RwBool RwMatFxAtomicQueryEffects(const RwAtomic *atomic)
{
    return QueryEffects(atomic, rwMatFxOffsets.atomic);
}

RwWorldSector *RwMatFxWorldSectorEnableEffects(RwWorldSector *sector)
{
    return EnableEffects(sector, rwMatFxOffsets.sector, RwMatFxWorldSectorSetPipeline);
}

RwBool RwMatFxWorldSectorQueryEffects(const RwWorldSector *sector)
{
    return QueryEffects(sector, rwMatFxOffsets.sector);
}

static void *MatFxOpen(void *instance, RwInt32, RwInt32)
{
    if (openCount == 0) {
        blockPool = RwFreeListCreateAndPreallocate(sizeof(RwMatFxEffectBlock), rwMATFXBLOCKSPERPOOL, 4, 1, nullptr,
                                                   rwMEMHINTDUR_GLOBAL | rwMATFXHINT);
        if (!blockPool) {
            return nullptr;
        }
        if (!RwMatFxPipelinesCreate()) {
            RwFreeListDestroy(blockPool);
            blockPool = nullptr;
            return nullptr;
        }
    }
    ++openCount;
    return instance;
}

// The pool goes only with the last close: blocks of materials that outlive
// an inner close stay valid.
static void *MatFxClose(void *instance, RwInt32, RwInt32)
{
    if (openCount > 0 && --openCount == 0) {
        RwMatFxPipelinesDestroy();
        if (blockPool) {
            RwFreeListDestroy(blockPool);
            blockPool = nullptr;
        }
    }
    return instance;
}

RwBool RwMatFxPluginAttach(void)
{
    if (RwEngineRegisterPlugin(0, rwID_MATERIALEFFECTSPLUGIN, MatFxOpen, MatFxClose) < 0) {
        return FALSE;
    }
    rwMatFxOffsets.material = RwMaterialRegisterPlugin(sizeof(RwMatFxEffectBlock *), rwID_MATERIALEFFECTSPLUGIN,
                                                       MaterialConstruct, MaterialDestruct, RwMatFxMaterialCopy);
    if (rwMatFxOffsets.material < 0 ||
        RwMaterialRegisterPluginStream(rwID_MATERIALEFFECTSPLUGIN, RwMatFxMaterialStreamRead,
                                       RwMatFxMaterialStreamWrite, RwMatFxMaterialStreamGetSize) < 0) {
        return FALSE;
    }
    rwMatFxOffsets.atomic = RwAtomicRegisterPlugin(sizeof(RwInt32), rwID_MATERIALEFFECTSPLUGIN, FlagConstruct,
                                                   FlagConstruct, FlagCopy);
    if (rwMatFxOffsets.atomic < 0 ||
        RwAtomicRegisterPluginStream(rwID_MATERIALEFFECTSPLUGIN, RwMatFxAtomicStreamRead, RwMatFxFlagStreamWrite,
                                     RwMatFxFlagStreamGetSize) < 0) {
        return FALSE;
    }
    rwMatFxOffsets.sector = RwWorldSectorRegisterPlugin(sizeof(RwInt32), rwID_MATERIALEFFECTSPLUGIN, FlagConstruct,
                                                        FlagConstruct, FlagCopy);
    return rwMatFxOffsets.sector >= 0 &&
           RwWorldSectorRegisterPluginStream(rwID_MATERIALEFFECTSPLUGIN, RwMatFxSectorStreamRead,
                                             RwMatFxFlagStreamWrite, RwMatFxFlagStreamGetSize) >= 0;
}
