// Skin streams: the skin chunk inside geometry streams and the older layout stored with atomics.
#include <cstdint>
#include <cstring>

#include "gfx/core/byteorder.h"
#include "gfx/core/error.h"
#include "gfx/core/finite.h"
#include "gfx/core/memory.h"
#include "gfx/core/stream.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "skinint.h"

enum : RwUInt32 {
    rwSKINHEADSIZE = 4,
    rwSKINSPLITHEADSIZE = 12,
    rwSKINVERTEXSIZE = 20,          // four index bytes and four weights
    rwSKINMATRIXSIZE = 64,
    rwSKINOLDHEADSIZE = 8,
    rwSKINOLDBONESIZE = 12 + 64,    // skipped words, then the matrix
};

static RwStream *Fail(RwSkin *skin)
{
    RwSkinDestroyRecord(skin);
    RwErrorRaise(0, E_RW_READ);
    return nullptr;
}

static bool ReadIndicesAndWeights(RwStream *stream, RwSkin *skin, RwUInt32 numVertices)
{
    if (!RwStreamReadExact(stream, skin->vertexBoneIndices, numVertices * 4) ||
        !RwStreamReadExact(stream, skin->vertexBoneWeights, numVertices * 16)) {
        return false;
    }
    for (RwUInt32 i = 0; i < numVertices; ++i) {
        skin->vertexBoneIndices[i] = ReadU32(&skin->vertexBoneIndices[i]);
    }
    for (RwUInt32 i = 0; i < numVertices * 4; ++i) {
        skin->vertexBoneWeights[i] = ReadF32(&skin->vertexBoneWeights[i]);
    }
    if (!RwStreamRealsFinite(skin->vertexBoneWeights, numVertices * 4)) {
        return false;
    }
    // A weighted slot must name a bone; an unweighted one's stray index
    // becomes bone 0 so that no later pass can index past the matrices.
    for (RwUInt32 v = 0; v < numVertices; ++v) {
        RwUInt32 word = skin->vertexBoneIndices[v];
        for (RwUInt32 j = 0; j < 4; ++j) {
            const RwUInt32 bone = (word >> (8 * j)) & 0xFF;
            if (bone < skin->numBones) {
                continue;
            }
            if (skin->vertexBoneWeights[4 * v + j] != 0.0f) {
                return false;
            }
            word &= ~(0xFFu << (8 * j));
        }
        skin->vertexBoneIndices[v] = word;
    }
    return true;
}

// The bones used with a non-zero weight, in order of first use.
static void ComputeUsedBones(RwSkin *skin, RwUInt32 numVertices)
{
    bool seen[256] = {};
    skin->numUsedBones = 0;
    for (RwUInt32 v = 0; v < numVertices; ++v) {
        for (RwUInt32 j = 0; j < skin->maxWeights; ++j) {
            const RwUInt32 bone = (skin->vertexBoneIndices[v] >> (8 * j)) & 0xFF;
            if (skin->vertexBoneWeights[4 * v + j] != 0.0f && !seen[bone]) {
                seen[bone] = true;
                skin->usedBones[skin->numUsedBones++] = static_cast<RwUInt8>(bone);
            }
        }
    }
}

static bool ReadMatrix(RwStream *stream, RwMatrix *m)
{
    RwUInt8 raw[rwSKINMATRIXSIZE];
    if (!RwStreamReadExact(stream, raw, sizeof raw)) {
        return false;
    }
    // Rows of reals with the flags and pad words between them, as stored.
    RwUInt32 words[16];
    for (RwUInt32 i = 0; i < 16; ++i) {
        words[i] = ReadU32(raw + 4 * i);
    }
    std::memcpy(m, words, sizeof words);
    const RwReal rows[12] = {m->right.x, m->right.y, m->right.z, m->up.x,  m->up.y,  m->up.z,
                             m->at.x,    m->at.y,    m->at.z,    m->pos.x, m->pos.y, m->pos.z};
    return RwStreamRealsFinite(rows, 12) != FALSE;
}

// Every run inside the run table, every bone of a run below the bone count,
// every remapped slot below the bone limit.
static bool SplitDataSound(const RwSkin *skin)
{
    for (RwUInt32 m = 0; m < skin->numMeshes; ++m) {
        if (RwUInt32(skin->meshRuns[2 * m]) + skin->meshRuns[2 * m + 1] > skin->numRuns) {
            return false;
        }
    }
    for (RwUInt32 r = 0; r < skin->numRuns; ++r) {
        const RwUInt32 first = skin->runs[2 * r], count = skin->runs[2 * r + 1];
        if (first + count > skin->numBones) {
            return false;
        }
        for (RwUInt32 b = first; b < first + count; ++b) {
            if (skin->boneRemap[b] >= skin->boneLimit) {
                return false;
            }
        }
    }
    return true;
}

static bool ReadSplitData(RwStream *stream, RwSkin *skin, uint64_t room)
{
    RwUInt8 head[rwSKINSPLITHEADSIZE];
    if (room < rwSKINSPLITHEADSIZE || !RwStreamReadExact(stream, head, sizeof head)) {
        return false;
    }
    room -= rwSKINSPLITHEADSIZE;
    const RwInt32 boneLimit = ReadI32(head), numMeshes = ReadI32(head + 4), numRuns = ReadI32(head + 8);
    if (numMeshes < 1) {
        return true;
    }
    if (boneLimit < 0 || numRuns < 0) {
        return false;
    }
    const uint64_t size = skin->numBones + (uint64_t(numMeshes) + uint64_t(numRuns)) * 2;
    if (size > room) {
        return false;
    }
    skin->boneRemap = static_cast<RwUInt8 *>(RwMalloc(static_cast<size_t>(size), rwSKINHINT));
    if (!skin->boneRemap) {
        RwErrorRaise(0, E_RW_NOMEM);
        return false;
    }
    skin->boneLimit = static_cast<RwUInt32>(boneLimit);
    skin->numMeshes = static_cast<RwUInt32>(numMeshes);
    skin->numRuns = static_cast<RwUInt32>(numRuns);
    skin->meshRuns = skin->boneRemap + skin->numBones;
    skin->runs = skin->meshRuns + 2 * skin->numMeshes;
    return RwStreamReadExact(stream, skin->boneRemap, static_cast<RwUInt32>(size)) && SplitDataSound(skin);
}

RwStream *RwSkinGeometryStreamRead(RwStream *stream, RwInt32 length, void *object, RwInt32, RwInt32)
{
    RwGeometry *geometry = static_cast<RwGeometry *>(object);
    RwUInt8 head[rwSKINHEADSIZE];
    // Pre-instanced geometries are not stored by this system.
    if ((geometry->flags & rwGEOMETRYNATIVE) || length < static_cast<RwInt32>(rwSKINHEADSIZE) ||
        !RwStreamReadExact(stream, head, sizeof head)) {
        return Fail(nullptr);
    }
    const RwUInt32 numBones = head[0], numUsed = head[1], maxWeights = head[2];
    const RwUInt32 numVertices = static_cast<RwUInt32>(geometry->numVertices > 0 ? geometry->numVertices : 0);
    // The fixed parts must lie inside the chunk before anything is allocated.
    const uint64_t fixed = uint64_t(rwSKINHEADSIZE) + numUsed + uint64_t(numVertices) * rwSKINVERTEXSIZE +
                           uint64_t(numBones) * rwSKINMATRIXSIZE + rwSKINSPLITHEADSIZE;
    if (maxWeights > rwSKINMAXWEIGHTS || fixed > static_cast<RwUInt32>(length) ||
        !RwStreamCanHold(stream, static_cast<RwUInt32>(fixed - rwSKINHEADSIZE), 1)) {
        return Fail(nullptr);
    }
    RwSkin *skin = RwSkinCreateRecord(numBones, numUsed, numVertices);
    if (!skin) {
        return nullptr;
    }
    skin->numUsedBones = numUsed;
    if (!RwStreamReadExact(stream, skin->usedBones, numUsed) ||
        !ReadIndicesAndWeights(stream, skin, numVertices)) {
        return Fail(skin);
    }
    skin->maxWeights = maxWeights ? maxWeights : RwSkinCountWeights(skin->vertexBoneWeights, numVertices);
    if (numUsed == 0) {
        ComputeUsedBones(skin, numVertices);
    }
    for (RwUInt32 i = 0; i < skin->numUsedBones; ++i) {
        if (skin->usedBones[i] >= numBones) {
            return Fail(skin);
        }
    }
    for (RwUInt32 b = 0; b < numBones; ++b) {
        if (!ReadMatrix(stream, &skin->skinToBoneMatrices[b])) {
            return Fail(skin);
        }
    }
    if (!ReadSplitData(stream, skin, static_cast<RwUInt32>(length) - (fixed - rwSKINSPLITHEADSIZE))) {
        return Fail(skin);
    }
    RwSkinGeometrySetSkin(geometry, skin);
    return stream;
}

RwInt32 RwSkinGeometryStreamGetSize(const RwGeometry *geometry)
{
    const RwSkin *skin = RwSkinGeometryGetSkin(geometry);
    if (!skin) {
        return 0;
    }
    RwInt32 size = static_cast<RwInt32>(rwSKINHEADSIZE + skin->numUsedBones + geometry->numVertices * rwSKINVERTEXSIZE +
                                        skin->numBones * rwSKINMATRIXSIZE + rwSKINSPLITHEADSIZE);
    if (skin->numMeshes > 0) {
        size += static_cast<RwInt32>(skin->numBones + (skin->numMeshes + skin->numRuns) * 2);
    }
    return size;
}

RwInt32 RwSkinGeometryStreamSize(const void *geometry, RwInt32, RwInt32)
{
    return RwSkinGeometryStreamGetSize(static_cast<const RwGeometry *>(geometry));
}

// Values one by one in stream byte order.
template <class T, void (*Put)(void *, T)>
static RwStream *WriteAll(RwStream *stream, const T *values, RwUInt32 count)
{
    for (RwUInt32 i = 0; i < count; ++i) {
        RwUInt8 raw[4];
        Put(raw, values[i]);
        if (!RwStreamWrite(stream, raw, 4)) {
            return nullptr;
        }
    }
    return stream;
}

static RwStream *WriteMatrix(RwStream *stream, const RwMatrix *m)
{
    RwUInt8 raw[rwSKINMATRIXSIZE];
    RwUInt32 words[16];
    std::memcpy(words, m, sizeof words);
    for (RwUInt32 i = 0; i < 16; ++i) {
        WriteU32(raw + 4 * i, words[i]);
    }
    return RwStreamWrite(stream, raw, sizeof raw);
}

RwStream *RwSkinGeometryStreamWrite(RwStream *stream, RwInt32, const void *object, RwInt32, RwInt32)
{
    const RwGeometry *geometry = static_cast<const RwGeometry *>(object);
    const RwSkin *skin = RwSkinGeometryGetSkin(geometry);
    if (!skin) {
        return stream;
    }
    const RwUInt32 numVertices = static_cast<RwUInt32>(geometry->numVertices);
    const RwUInt32 head = skin->numBones | skin->numUsedBones << 8 | skin->maxWeights << 16;
    if (!WriteAll<RwUInt32, WriteU32>(stream, &head, 1) || !RwStreamWrite(stream, skin->usedBones, skin->numUsedBones) ||
        !WriteAll<RwUInt32, WriteU32>(stream, skin->vertexBoneIndices, numVertices) ||
        !WriteAll<RwReal, WriteF32>(stream, skin->vertexBoneWeights, numVertices * 4)) {
        return nullptr;
    }
    for (RwUInt32 b = 0; b < skin->numBones; ++b) {
        if (!WriteMatrix(stream, &skin->skinToBoneMatrices[b])) {
            return nullptr;
        }
    }
    const RwUInt32 split[3] = {skin->boneLimit, skin->numMeshes, skin->numRuns};
    if (!WriteAll<RwUInt32, WriteU32>(stream, split, 3)) {
        return nullptr;
    }
    if (skin->numMeshes > 0 &&
        !RwStreamWrite(stream, skin->boneRemap, skin->numBones + (skin->numMeshes + skin->numRuns) * 2)) {
        return nullptr;
    }
    return stream;
}

RwStream *RwSkinAtomicStreamRead(RwStream *stream, RwInt32 length, void *object, RwInt32, RwInt32)
{
    RwAtomic *atomic = static_cast<RwAtomic *>(object);
    RwGeometry *geometry = atomic->geometry;
    // A geometry that brought its own skin wins; the extension reader skips
    // what this callback leaves unread.
    if (!geometry || RwSkinGeometryGetSkin(geometry)) {
        return stream;
    }
    RwUInt8 head[rwSKINOLDHEADSIZE];
    if (length < static_cast<RwInt32>(rwSKINOLDHEADSIZE) || !RwStreamReadExact(stream, head, sizeof head)) {
        return Fail(nullptr);
    }
    const RwInt32 numBones = ReadI32(head);
    const RwUInt32 numVertices = static_cast<RwUInt32>(geometry->numVertices > 0 ? geometry->numVertices : 0);
    if (numBones < 0 || numBones > static_cast<RwInt32>(rwSKINOLDMAXBONES) ||
        uint64_t(rwSKINOLDHEADSIZE) + uint64_t(numVertices) * rwSKINVERTEXSIZE +
                uint64_t(numBones) * rwSKINOLDBONESIZE >
            static_cast<RwUInt32>(length)) {
        return Fail(nullptr);
    }
    RwSkin *skin = RwSkinCreateRecord(static_cast<RwUInt32>(numBones), static_cast<RwUInt32>(numBones), numVertices);
    if (!skin) {
        return nullptr;
    }
    if (!ReadIndicesAndWeights(stream, skin, numVertices)) {
        return Fail(skin);
    }
    skin->maxWeights = RwSkinCountWeights(skin->vertexBoneWeights, numVertices);
    ComputeUsedBones(skin, numVertices);
    for (RwInt32 b = 0; b < numBones; ++b) {
        if (!RwStreamSkip(stream, 12) || !ReadMatrix(stream, &skin->skinToBoneMatrices[b])) {
            return Fail(skin);
        }
    }
    RwSkinGeometrySetSkin(geometry, skin);
    return stream;
}
