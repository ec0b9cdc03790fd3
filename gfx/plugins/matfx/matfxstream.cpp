// Material effects: the material chunk with its effect slots and textures, and the atomic and sector flag chunks.
#include <cstdint>
#include <cstring>

#include "gfx/core/byteorder.h"
#include "gfx/core/error.h"
#include "gfx/core/finite.h"
#include "gfx/core/memory.h"
#include "gfx/core/raster.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/core/texturemodule.h"
#include "gfx/world/clump.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"
#include "matfxint.h"

namespace {

// Reads inside the plug-in's chunk: nothing is read past its payload.
struct ChunkReader {
    RwStream *stream;
    RwUInt32 remaining;

    bool Word(RwUInt32 *value)
    {
        RwUInt8 bytes[4];
        if (remaining < 4 || !RwStreamReadExact(stream, bytes, 4)) {
            RwErrorRaise(0, E_RW_READ);
            return false;
        }
        remaining -= 4;
        *value = ReadU32(bytes);
        return true;
    }
    bool Real(RwReal *value)
    {
        RwUInt32 bits;
        if (!Word(&bits)) {
            return false;
        }
        std::memcpy(value, &bits, sizeof *value);
        return RwStreamRealsFinite(value, 1) != FALSE;
    }
    bool Int(RwInt32 *value)
    {
        RwUInt32 bits;
        if (!Word(&bits)) {
            return false;
        }
        *value = static_cast<RwInt32>(bits);
        return true;
    }

    // The next texture chunk, other chunks stepped over as a chunk search
    // does, all inside the payload; the header is consumed.
    bool FindTextureChunk(RwUInt32 *size, RwUInt32 *version)
    {
        for (;;) {
            RwUInt32 type = 0;
            if (remaining < rwCHUNKHEADERSIZE ||
                !RwStreamReadChunkHeaderInfo(stream, &type, size, version, nullptr)) {
                return false;
            }
            remaining -= rwCHUNKHEADERSIZE;
            if (*size > remaining) {
                return false;
            }
            if (type == rwID_TEXTURE) {
                return true;
            }
            if (*size > 0 && !RwStreamSkip(stream, *size)) {
                return false;
            }
            remaining -= *size;
        }
    }

    // A has-texture flag and, when set, a texture chunk. A texture found
    // nowhere leaves *texture NULL and is no failure.
    bool Texture(RwTexture **texture)
    {
        *texture = nullptr;
        RwUInt32 present;
        if (!Word(&present)) {
            return false;
        }
        if (!present) {
            return true;
        }
        RwUInt32 size = 0, version = 0;
        if (!FindTextureChunk(&size, &version)) {
            RwErrorRaise(0, E_RW_READ);
            return false;
        }
        if (!RwChunkVersionAccepted(version)) {
            RwErrorRaise(0, E_RW_BADVERSION);
            return false;
        }
        RwUInt32 start = 0, end = 0;
        const bool located = RwStreamGetPosition(stream, &start);
        // An error held from before would hide the texture reader's own.
        RwError before = RwErrorGet();
        *texture = RwTextureStreamRead(stream);
        if (!*texture) {
            RwError error = RwErrorGet();
            if (error.errorCode != static_cast<RwInt32>(E_RW_NOERROR) && error.errorCode != E_RW_READTEXMASK) {
                RwErrorSet(&error);
                return false;
            }
        }
        if (before.errorCode != static_cast<RwInt32>(E_RW_NOERROR)) {
            RwErrorSet(&before);
        }
        // The texture's own reader searches for its parts: it must not have
        // gone past the chunk it was given.
        if (located && RwStreamGetPosition(stream, &end)) {
            const RwUInt32 used = end - start;
            if (used > size || (used < size && !RwStreamSkip(stream, size - used))) {
                RwMatFxReplaceTexture(texture, nullptr);
                RwErrorRaise(0, E_RW_READ);
                return false;
            }
        }
        remaining -= size;
        return true;
    }
};

bool ReadBumpMap(ChunkReader &in, RwMaterial *material, RwMatFxEffectSlot *slot)
{
    RwReal coef;
    RwTexture *bumped = nullptr, *bump = nullptr;
    if (!in.Real(&coef) || !in.Texture(&bumped)) {
        return false;
    }
    if (!in.Texture(&bump)) {
        RwMatFxReplaceTexture(&bumped, nullptr);
        return false;
    }
    RwMatFxSlotReleaseTextures(slot);
    RwMatFxBumpMapData &b = slot->data.bumpMap;
    b.coef = -coef;
    b.invBumpWidth = 0.0f;
    if (bumped) {
        b.bumpedTexture = bumped;
        b.bumpTexture = bump;
        b.invBumpWidth = RwMatFxInverseWidth(bumped);
    } else if (bump) {
        RwMatFxMaterialSetBumpTexture(material, bump);
        RwTextureDestroy(bump);
    }
    return true;
}

bool ReadEnvMap(ChunkReader &in, RwMatFxEffectSlot *slot)
{
    RwReal coef;
    RwInt32 useAlpha;
    RwTexture *texture;
    if (!in.Real(&coef) || !in.Int(&useAlpha) || !in.Texture(&texture)) {
        return false;
    }
    RwMatFxEnvMapData &e = slot->data.envMap;
    RwMatFxReplaceTexture(&e.texture, nullptr);
    e.texture = texture;
    e.coef = coef;
    e.useFrameBufferAlpha = useAlpha;
    return true;
}

bool ReadDual(ChunkReader &in, RwMaterial *material, RwMatFxEffectSlot *slot)
{
    RwInt32 src, dst;
    RwTexture *texture;
    if (!in.Int(&src) || !in.Int(&dst) || !in.Texture(&texture)) {
        return false;
    }
    RwMatFxReplaceTexture(&slot->data.dual.texture, nullptr);
    slot->data.dual.texture = texture;
    RwMatFxMaterialSetDualBlendModes(material, src, dst);
    return true;
}

RwStream *Refuse()
{
    RwErrorRaise(static_cast<RwInt32>(rwID_MATERIALEFFECTSPLUGIN), E_RP_MATFX_BADTYPE);
    return nullptr;
}

// Bytes of a has-texture flag and the texture's chunk.
RwInt32 TextureSize(const RwTexture *texture)
{
    return 4 + (texture ? rwCHUNKHEADERSIZE + static_cast<RwInt32>(RwTextureStreamGetSize(texture)) : 0);
}

bool WriteWord(RwStream *stream, RwUInt32 value)
{
    RwUInt8 bytes[4];
    WriteU32(bytes, value);
    return RwStreamWrite(stream, bytes, 4) != nullptr;
}

bool WriteReal(RwStream *stream, RwReal value)
{
    RwUInt32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return WriteWord(stream, bits);
}

bool WriteTexture(RwStream *stream, const RwTexture *texture)
{
    return WriteWord(stream, texture ? 1 : 0) && (!texture || RwTextureStreamWrite(texture, stream));
}

RwStream *ReadFlag(RwStream *stream, RwInt32 length, void *object, bool atomic)
{
    RwUInt8 bytes[4];
    if (length < 4 || !RwStreamReadExact(stream, bytes, 4) || (length > 4 && !RwStreamSkip(stream, length - 4))) {
        RwErrorRaise(0, E_RW_READ);
        return nullptr;
    }
    if (ReadU32(bytes)) {
        if (atomic) {
            RwMatFxAtomicEnableEffects(static_cast<RwAtomic *>(object));
        } else {
            RwMatFxWorldSectorEnableEffects(static_cast<RwWorldSector *>(object));
        }
    }
    return stream;
}

}  // namespace

RwStream *RwMatFxMaterialStreamRead(RwStream *stream, RwInt32 length, void *object, RwInt32, RwInt32)
{
    RwMaterial *material = static_cast<RwMaterial *>(object);
    ChunkReader in = {stream, length > 0 ? static_cast<RwUInt32>(length) : 0u};
    RwInt32 type, kinds[2];
    if (!in.Int(&type)) {
        return nullptr;
    }
    if (!RwMatFxTypeKinds(type, kinds)) {
        return Refuse();
    }
    if (!RwMatFxMaterialSetEffects(material, type)) {
        return nullptr;
    }
    RwMatFxEffectBlock *block = RwMatFxMaterialGetEffects(material);
    for (int i = 0; i < 2; ++i) {
        RwInt32 kind;
        if (!in.Int(&kind)) {
            return nullptr;
        }
        if (kind != kinds[i]) {
            return Refuse();
        }
        RwMatFxEffectSlot *slot = block ? &block->slots[i] : nullptr;
        bool ok = true;
        switch (kind) {
        case rwMATFXKINDBUMPMAP: ok = ReadBumpMap(in, material, slot); break;
        case rwMATFXKINDENVMAP: ok = ReadEnvMap(in, slot); break;
        case rwMATFXKINDDUAL: ok = ReadDual(in, material, slot); break;
        case rwMATFXKINDUVTRANSFORM:
            slot->data.uvTransform.baseTransform = nullptr;
            slot->data.uvTransform.dualTransform = nullptr;
            break;
        default: break;
        }
        if (!ok) {
            return nullptr;
        }
    }
    if (in.remaining && !RwStreamSkip(stream, in.remaining)) {
        RwErrorRaise(0, E_RW_READ);
        return nullptr;
    }
    return stream;
}

RwInt32 RwMatFxMaterialStreamGetSize(const void *material, RwInt32, RwInt32)
{
    const RwMatFxEffectBlock *block = RwMatFxMaterialGetEffects(static_cast<const RwMaterial *>(material));
    if (!block || block->type == rwMATFXEFFECTNULL) {
        return 0;
    }
    RwInt32 size = 4;
    for (const RwMatFxEffectSlot &slot : block->slots) {
        size += 4;
        switch (slot.kind) {
        case rwMATFXKINDBUMPMAP:
            size += 4 + TextureSize(slot.data.bumpMap.bumpedTexture) + TextureSize(slot.data.bumpMap.bumpTexture);
            break;
        case rwMATFXKINDENVMAP: size += 8 + TextureSize(slot.data.envMap.texture); break;
        case rwMATFXKINDDUAL: size += 8 + TextureSize(slot.data.dual.texture); break;
        default: break;
        }
    }
    return size;
}

RwStream *RwMatFxMaterialStreamWrite(RwStream *stream, RwInt32, const void *material, RwInt32, RwInt32)
{
    const RwMatFxEffectBlock *block = RwMatFxMaterialGetEffects(static_cast<const RwMaterial *>(material));
    if (!block || !WriteWord(stream, static_cast<RwUInt32>(block->type))) {
        return nullptr;
    }
    for (const RwMatFxEffectSlot &slot : block->slots) {
        bool ok = WriteWord(stream, static_cast<RwUInt32>(slot.kind));
        switch (slot.kind) {
        case rwMATFXKINDBUMPMAP:
            // Held negated: the file keeps the value it was read with.
            ok = ok && WriteReal(stream, -slot.data.bumpMap.coef) &&
                 WriteTexture(stream, slot.data.bumpMap.bumpedTexture) &&
                 WriteTexture(stream, slot.data.bumpMap.bumpTexture);
            break;
        case rwMATFXKINDENVMAP:
            ok = ok && WriteReal(stream, slot.data.envMap.coef) &&
                 WriteWord(stream, static_cast<RwUInt32>(slot.data.envMap.useFrameBufferAlpha)) &&
                 WriteTexture(stream, slot.data.envMap.texture);
            break;
        case rwMATFXKINDDUAL:
            ok = ok && WriteWord(stream, static_cast<RwUInt32>(slot.data.dual.srcBlendMode)) &&
                 WriteWord(stream, static_cast<RwUInt32>(slot.data.dual.dstBlendMode)) &&
                 WriteTexture(stream, slot.data.dual.texture);
            break;
        default: break;
        }
        if (!ok) {
            return nullptr;
        }
    }
    return stream;
}

RwStream *RwMatFxAtomicStreamRead(RwStream *stream, RwInt32 length, void *atomic, RwInt32, RwInt32)
{
    return ReadFlag(stream, length, atomic, true);
}

RwStream *RwMatFxSectorStreamRead(RwStream *stream, RwInt32 length, void *sector, RwInt32, RwInt32)
{
    return ReadFlag(stream, length, sector, false);
}

RwStream *RwMatFxFlagStreamWrite(RwStream *stream, RwInt32, const void *object, RwInt32 offset, RwInt32)
{
    const RwInt32 flag = *reinterpret_cast<const RwInt32 *>(reinterpret_cast<uintptr_t>(object) + offset);
    return WriteWord(stream, flag ? 1u : 0u) ? stream : nullptr;
}

RwInt32 RwMatFxFlagStreamGetSize(const void *object, RwInt32 offset, RwInt32)
{
    return *reinterpret_cast<const RwInt32 *>(reinterpret_cast<uintptr_t>(object) + offset) ? 4 : 0;
}
