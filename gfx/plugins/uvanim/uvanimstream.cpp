// UV animation: the material chunk naming the animation of each slot in use.
#include <cstring>

#include "gfx/core/byteorder.h"
#include "gfx/core/error.h"
#include "gfx/core/stream.h"
#include "gfx/plugins/dictionary/dictionary.h"
#include "gfx/world/material.h"
#include "uvanimint.h"

enum : RwUInt32 {
    rwID_STRUCTCHUNK = 1,
};

static RwUInt32 SlotMask(const RwUVAnimMaterialData *data)
{
    RwUInt32 mask = 0;
    for (RwInt32 slot = 0; slot < rwUVANIMNUMSLOTS; ++slot) {
        if (data->interp[slot] && data->interp[slot]->pCurrentAnim) {
            mask |= 1u << slot;
        }
    }
    return mask;
}

static RwUInt32 BitCount(RwUInt32 mask)
{
    RwUInt32 n = 0;
    for (; mask; mask &= mask - 1) {
        ++n;
    }
    return n;
}

static RwStream *Refuse(void)
{
    RwErrorRaise(static_cast<RwInt32>(rwID_UVANIMPLUGIN), E_RP_UVANIM_BADSTREAM);
    return nullptr;
}

RwInt32 RwUVAnimMaterialStreamGetSize(const void *material, RwInt32, RwInt32)
{
    const RwUVAnimMaterialData *data = RwUVAnimMaterialGetData(static_cast<const RwMaterial *>(material));
    const RwUInt32 used = data ? BitCount(SlotMask(data)) : 0;
    return used ? static_cast<RwInt32>(rwCHUNKHEADERSIZE + 4 + rwUVANIMNAMELENGTH * used) : 0;
}

RwStream *RwUVAnimMaterialStreamWrite(RwStream *stream, RwInt32, const void *material, RwInt32, RwInt32)
{
    const RwUVAnimMaterialData *data = RwUVAnimMaterialGetData(static_cast<const RwMaterial *>(material));
    const RwUInt32 mask = SlotMask(data);
    RwUInt8 word[4];
    WriteU32(word, mask);
    if (!RwStreamWriteChunkHeader(stream, rwID_STRUCTCHUNK, 4 + rwUVANIMNAMELENGTH * BitCount(mask)) ||
        !RwStreamWrite(stream, word, 4)) {
        return nullptr;
    }
    for (RwInt32 slot = 0; slot < rwUVANIMNUMSLOTS; ++slot) {
        if ((mask >> slot & 1) &&
            !RwStreamWrite(stream, RwUVAnimGetName(data->interp[slot]->pCurrentAnim), rwUVANIMNAMELENGTH)) {
            return nullptr;
        }
    }
    return stream;
}

RwStream *RwUVAnimMaterialStreamRead(RwStream *stream, RwInt32 length, void *object, RwInt32, RwInt32)
{
    RwMaterial *material = static_cast<RwMaterial *>(object);
    RwUInt32 type = 0, size = 0, version = 0;
    RwUInt8 word[4];
    if (length < static_cast<RwInt32>(rwCHUNKHEADERSIZE + 4) ||
        !RwStreamReadChunkHeaderInfo(stream, &type, &size, &version, nullptr) ||
        !RwStreamReadExact(stream, word, 4)) {
        RwErrorRaise(0, E_RW_READ);
        return nullptr;
    }
    const RwUInt32 mask = ReadU32(word);
    // The struct holds the mask and one name per set bit, inside our chunk.
    if (type != rwID_STRUCTCHUNK || mask >> rwUVANIMNUMSLOTS ||
        size != 4 + rwUVANIMNAMELENGTH * BitCount(mask) ||
        size > static_cast<RwUInt32>(length) - rwCHUNKHEADERSIZE) {
        return Refuse();
    }
    if (!RwChunkVersionAccepted(version)) {
        RwErrorRaise(0, E_RW_BADVERSION);
        return nullptr;
    }
    RwDictionary *dict = RwDictionarySchemaGetCurrent(RwUVAnimGetDictSchema());
    for (RwInt32 slot = 0; slot < rwUVANIMNUMSLOTS; ++slot) {
        if (!(mask >> slot & 1)) {
            continue;
        }
        RwChar name[rwUVANIMNAMELENGTH];
        if (!RwStreamReadExact(stream, name, rwUVANIMNAMELENGTH)) {
            return nullptr;
        }
        if (!std::memchr(name, 0, rwUVANIMNAMELENGTH)) {
            return Refuse();
        }
        RwAnimAnimation *found = dict ? static_cast<RwAnimAnimation *>(RwDictionaryFindNamedEntry(dict, name)) : nullptr;
        RwAnimAnimation *animation = found ? found : RwUVAnimCreateIdentity(name);
        if (!animation) {
            return nullptr;
        }
        RwMaterial *set = RwUVAnimMaterialSetAnim(material, animation, slot);
        if (!found) {
            RwUVAnimDestroy(animation);   // the slot holds its own reference
        }
        if (!set) {
            return nullptr;
        }
    }
    const RwUInt32 rest = static_cast<RwUInt32>(length) - rwCHUNKHEADERSIZE - size;
    if (rest && !RwStreamSkip(stream, rest)) {
        RwErrorRaise(0, E_RW_READ);
        return nullptr;
    }
    return RwUVAnimMaterialEnsureMatrices(material) ? stream : nullptr;
}
