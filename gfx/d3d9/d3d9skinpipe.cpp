// Skinning pipelines on the device: the all-in-one node, instancing, bone matrices and the processor and shader draws.
#include "d3d9skinpipe.h"

#include <cstring>
#include <initializer_list>

#include "d3d9allinone.h"
#include "d3d9decltype.h"
#include "d3d9device.h"
#include "d3d9lights.h"
#include "d3d9renderstate.h"
#include "d3d9toon.h"
#include "d3d9shaderconst.h"
#include "d3d9skinblend.h"
#include "d3d9standard.h"
#include "d3d9state.h"
#include "d3d9vertexbuffer.h"
#include "gfx/core/engine.h"
#include "gfx/core/pipeline.h"
#include "gfx/plugins/hanim/hanim.h"
#include "gfx/plugins/skin/skin.h"
#include "gfx/plugins/toon/toon.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/mesh.h"
#include "gfx/world/worldpipe.h"

namespace {

enum : RwUInt32 {
    rwFOGENABLE = 14,           // library render states read for the descriptor
    rwFOGTYPE = 16,
};

// What the skin pipeline keeps after the instance header and its meshes.
struct SkinTrailer {
    RwD3D9SkinLayout layout;
    RwUInt32 stride;
    RwUInt32 normalOffset;      // 0: no normals
    RwUInt32 colourOffset;      // 0: no colours
    RwUInt32 texOffset;         // first texture set
    RwUInt32 bufferBytes;       // static space taken
    RwGeometry *geometry;
    const RwSkin *skin;         // the skin the weights and indices were written for
    RwBool remapByUsed;         // indices are used-list positions
    RwBool bindPose;            // the buffer holds unskinned positions
    RwUInt32 texTypes[rwMAXTEXTURECOORDS];
};

RwSkinPipelineSetup setup;
RwD3D9SkinCaps caps;
RwBool ownsShaderState = FALSE;

// Palette cache: recomputed when any of these change. The render frame only moves for
// cameras in a world, so every camera update counts too: a pose may change between updates.
struct PaletteKey {
    const RwHAnimHierarchy *hierarchy;
    const RwSkin *skin;
    const RwFrame *frame;
    RwUInt32 renderFrame;
    RwUInt32 cameraUpdate;
    RwUInt32 count;
};
PaletteKey paletteKey = {};
RwReal boneRows[rwSKINPALETTESIZE * 12];   // the palette as transposed 4x3 rows for the shader

RwD3D9InstanceHeader *Header(RwResourceEntry *entry)
{
    return static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(entry));
}

RwD3D9InstanceMesh *Meshes(RwD3D9InstanceHeader *header)
{
    return reinterpret_cast<RwD3D9InstanceMesh *>(header + 1);
}

SkinTrailer *Trailer(RwD3D9InstanceHeader *header)
{
    return reinterpret_cast<SkinTrailer *>(Meshes(header) + header->numMeshes);
}

RwSkin *GeometrySkin(const RwGeometry *g)
{
    return *reinterpret_cast<RwSkin *const *>(reinterpret_cast<const RwUInt8 *>(g) + setup.geometryOffset);
}

RwHAnimHierarchy *AtomicHierarchy(const RwAtomic *a)
{
    return *reinterpret_cast<RwHAnimHierarchy *const *>(reinterpret_cast<const RwUInt8 *>(a) + setup.atomicOffset);
}

// out = a x b (row vectors), the fourth word of every row 0.
void Multiply(RwMatrix *out, const RwMatrix *a, const RwMatrix *b)
{
    auto xf = [b](const RwV3d &v, RwReal w) {
        return RwV3d{v.x * b->right.x + v.y * b->up.x + v.z * b->at.x + w * b->pos.x,
                     v.x * b->right.y + v.y * b->up.y + v.z * b->at.y + w * b->pos.y,
                     v.x * b->right.z + v.y * b->up.z + v.z * b->at.z + w * b->pos.z};
    };
    RwMatrix r;
    r.right = xf(a->right, 0);
    r.up = xf(a->up, 0);
    r.at = xf(a->at, 0);
    r.pos = xf(a->pos, 1);
    r.flags = r.pad1 = r.pad2 = r.pad3 = 0;
    *out = r;
}

const RwMatrix *AtomicWorld(RwAtomic *atomic)
{
    RwFrame *frame = RwAtomicGetFrame(atomic);
    return frame ? RwFrameGetWorldMatrix(frame) : nullptr;
}

// Palette entry i = inverse bind i x node i (x the inverse of the atomic's
// world matrix unless the nodes are relative to the root), over no more
// nodes than both the hierarchy and the skin have.
RwUInt32 ComputePalette(RwAtomic *atomic, const RwSkin *skin, const RwHAnimHierarchy *h)
{
    const PaletteKey key = {h, skin, RwAtomicGetFrame(atomic), RwEngineInstance->renderFrame,
                            RwD3D9GetCameraUpdateCount(), 0};
    if (key.hierarchy == paletteKey.hierarchy && key.skin == paletteKey.skin && key.frame == paletteKey.frame &&
        key.renderFrame == paletteKey.renderFrame && key.cameraUpdate == paletteKey.cameraUpdate) {
        return paletteKey.count;
    }
    RwMatrix identity;
    RwMatrixSetIdentity(&identity);
    RwMatrix inverse = identity;
    if (const RwMatrix *world = AtomicWorld(atomic)) {
        RwMatrixInvert(&inverse, world);
    }
    RwUInt32 count = static_cast<RwUInt32>(h->numNodes > 0 ? h->numNodes : 0);
    count = count < skin->numBones ? count : skin->numBones;
    count = count < rwSKINPALETTESIZE ? count : rwSKINPALETTESIZE;
    const bool noMatrices = (h->flags & rwHANIMHIERARCHYNOMATRICES) || !h->pMatrixArray;
    const bool local = !noMatrices && (h->flags & rwHANIMHIERARCHYLOCALSPACEMATRICES);
    for (RwUInt32 i = 0; i < count; ++i) {
        const RwMatrix *node = &identity;
        if (noMatrices) {
            // A node whose frame was never attached stays where it was bound.
            if (RwFrame *f = h->pNodeInfo[i].pFrame) {
                node = RwFrameGetWorldMatrix(f);
            }
        } else {
            node = &h->pMatrixArray[i];
        }
        Multiply(&setup.palette[i], &skin->skinToBoneMatrices[i], node);
        if (!local) {
            Multiply(&setup.palette[i], &setup.palette[i], &inverse);
        }
    }
    // Bones past the hierarchy's nodes stay where they were bound, as the
    // shader's rows do: the entries still hold another atomic's matrices.
    RwMatrix bound = {};
    bound.right.x = bound.up.y = bound.at.z = 1.0f;
    for (RwUInt32 i = count; i < rwSKINPALETTESIZE; ++i) {
        setup.palette[i] = bound;
    }
    for (RwUInt32 i = 0; i < rwSKINPALETTESIZE; ++i) {
        const RwMatrix &m = i < count ? setup.palette[i] : identity;
        RwReal *r = boneRows + 12 * i;
        const RwV3d *rows[4] = {&m.right, &m.up, &m.at, &m.pos};
        for (int c = 0; c < 4; ++c) {
            r[c] = reinterpret_cast<const RwReal *>(rows[c])[0];
            r[4 + c] = reinterpret_cast<const RwReal *>(rows[c])[1];
            r[8 + c] = reinterpret_cast<const RwReal *>(rows[c])[2];
        }
    }
    paletteKey = key;
    paletteKey.count = count;
    return count;
}

RwUInt32 HighestUsedBone(const RwSkin *skin)
{
    return skin->numUsedBones ? skin->usedBones[skin->numUsedBones - 1] + 1u : 0u;
}

struct LayoutChoice {
    RwD3D9SkinLayout layout;
    RwBool remapByUsed;
    RwUInt32 shaderBones;       // constant triples the bone upload touches
};

// Decided per atomic at each render: a shared geometry may be drawn by
// atomics that differ in hierarchy and pipeline type.
LayoutChoice ChooseLayout(const RwAtomic *atomic, const RwSkin *skin, const RwHAnimHierarchy *h,
                          const RwD3D9SkinNodeCallbacks *cb, const RwMeshHeader *meshes)
{
    LayoutChoice c = {rwD3D9SKINLAYOUTPROCESSOR, FALSE, 0};
    // Toon ink reads the posed vertices back from the buffer, so an atomic inked by the toon render callback
    // is skinned in place like a toon-typed one, whatever its pipeline type.
    const bool toon = (atomic->pipeline && atomic->pipeline->pluginData == rwSKINTYPETOON) ||
                      atomic->renderCallBack == RwToonAtomicRenderCallBack;
    if (!skin || !h || toon || !caps.hardwareTransform || !caps.vertexShaderSkinning || !cb->descriptor ||
        !cb->lookupShader || !cb->meshDraw || !cb->gatherLights) {
        return c;
    }
    if (skin->numMeshes > 0) {
        // A mesh table that does not cover every mesh cannot say which bones to upload.
        if (skin->numMeshes < meshes->numMeshes) {
            return c;
        }
        c.shaderBones = skin->boneLimit;
    } else {
        c.remapByUsed = static_cast<RwUInt32>(h->numNodes) > caps.maxBones;
        c.shaderBones = c.remapByUsed ? skin->numUsedBones : HighestUsedBone(skin);
    }
    c.layout = c.shaderBones <= caps.maxBones ? rwD3D9SKINLAYOUTSHADER : rwD3D9SKINLAYOUTDYNAMIC;
    return c;
}

// The driver's release; a dynamic layout not yet drawn holds no buffer that
// would tell it the geometry is on the restore list.
void DestroyInstance(RwResourceEntry *entry)
{
    RwD3D9InstanceHeader *header = Header(entry);
    const SkinTrailer *t = Trailer(header);
    if (t->layout == rwD3D9SKINLAYOUTDYNAMIC && t->geometry && !header->vertexStream[0].vertexBuffer) {
        RwGeometryRemoveFromRestoreList(t->geometry);
    }
    RwD3D9InstanceDataDestroy(entry);
}

// Everything but positions and normals, which the skinning writes.
void WriteStaticParts(RwUInt8 *base, const RwGeometry *g, RwD3D9InstanceHeader *header, bool build)
{
    SkinTrailer *t = Trailer(header);
    RwD3D9InstanceMesh *meshes = Meshes(header);
    if (t->colourOffset) {
        for (RwUInt32 m = 0; m < header->numMeshes; ++m) {
            const RwBool alpha = RwD3D9DeclTypeWriteColors(base + t->colourOffset + meshes[m].minVertexIndex * t->stride,
                                                           g->preLitLum + meshes[m].minVertexIndex,
                                                           meshes[m].numVertices, t->stride);
            if (build) {
                meshes[m].vertexAlpha = alpha;
            }
        }
    }
    RwUInt32 offset = t->texOffset;
    for (RwInt32 i = 0; i < g->numTexCoordSets && i < rwMAXTEXTURECOORDS; ++i) {
        offset += RwD3D9DeclTypeWriteTexCoords(t->texTypes[i], base + offset, &g->texCoords[i]->u,
                                               static_cast<RwUInt32>(g->numVertices), t->stride);
    }
}

void WriteBindPose(RwUInt8 *base, const RwGeometry *g, const SkinTrailer *t)
{
    const RwMorphTarget *mt = &g->morphTarget[0];
    const RwUInt32 n = static_cast<RwUInt32>(g->numVertices);
    RwD3D9DeclTypeWriteV3d(D3DDECLTYPE_FLOAT3, base, mt->verts, n, t->stride);
    if (t->normalOffset && mt->normals) {
        const RwUInt32 type = t->layout == rwD3D9SKINLAYOUTSHADER && (caps.declTypes & D3DDTCAPS_DEC3N)
                                  ? D3DDECLTYPE_DEC3N
                                  : D3DDECLTYPE_FLOAT3;
        RwD3D9DeclTypeWriteV3d(type, base + t->normalOffset, mt->normals, n, t->stride);
    }
}

// The bone slot each index names in the shader's constants, times three.
void BuildRemap(RwUInt8 remap[256], const RwSkin *skin, RwBool byUsed)
{
    for (RwUInt32 b = 0; b < 256; ++b) {
        remap[b] = 0;
    }
    if (skin->numMeshes > 0) {
        for (RwUInt32 b = 0; b < skin->numBones; ++b) {
            remap[b] = static_cast<RwUInt8>(skin->boneRemap[b] < 85 ? 3 * skin->boneRemap[b] : 0);
        }
    } else if (byUsed) {
        for (RwUInt32 k = 0; k < skin->numUsedBones && k < 85; ++k) {
            remap[skin->usedBones[k]] = static_cast<RwUInt8>(3 * k);
        }
    } else {
        for (RwUInt32 b = 0; b < 85; ++b) {
            remap[b] = static_cast<RwUInt8>(3 * b);
        }
    }
}

RwUInt32 WeightType(RwUInt32 maxWeights, RwUInt32 types)
{
    if (maxWeights == 2) {
        return (types & D3DDTCAPS_USHORT2N)  ? D3DDECLTYPE_USHORT2N
               : (types & D3DDTCAPS_SHORT2N) ? D3DDECLTYPE_SHORT2N
               : (types & D3DDTCAPS_DEC3N)   ? D3DDECLTYPE_DEC3N
               : (types & D3DDTCAPS_UBYTE4N) ? D3DDECLTYPE_UBYTE4N
                                             : D3DDECLTYPE_D3DCOLOR;
    }
    if (maxWeights == 3 && (types & D3DDTCAPS_DEC3N)) {
        return D3DDECLTYPE_DEC3N;
    }
    return (types & D3DDTCAPS_USHORT4N)  ? D3DDECLTYPE_USHORT4N
           : (types & D3DDTCAPS_SHORT4N) ? D3DDECLTYPE_SHORT4N
           : (types & D3DDTCAPS_UBYTE4N) ? D3DDECLTYPE_UBYTE4N
                                         : D3DDECLTYPE_D3DCOLOR;
}

RwUInt32 IndexType(RwUInt32 maxWeights, RwUInt32 types)
{
    return maxWeights <= 2 ? D3DDECLTYPE_SHORT2 : (types & D3DDTCAPS_UBYTE4) ? D3DDECLTYPE_UBYTE4 : D3DDECLTYPE_SHORT4;
}

RwResourceEntry *Instance(RwAtomic *atomic, RwGeometry *g, const RwSkin *skin, const LayoutChoice &choice)
{
    RwMeshHeader *mh = g->mesh;
    const bool ownByGeometry = g->numMorphTargets == 1;
    RwResourceEntry **ref = ownByGeometry ? &g->repEntry : &atomic->repEntry;
    void *owner = ownByGeometry ? static_cast<void *>(g) : static_cast<void *>(atomic);
    const RwUInt32 numVertices = static_cast<RwUInt32>(g->numVertices);
    const RwInt32 size = static_cast<RwInt32>(sizeof(RwD3D9InstanceHeader) + mh->numMeshes * sizeof(RwD3D9InstanceMesh) +
                                              sizeof(SkinTrailer));
    RwResourceEntry *entry = RwResourcesAllocateEntry(owner, ref, size, DestroyInstance);
    if (!entry) {
        return nullptr;
    }
    RwD3D9InstanceHeader *header = Header(entry);
    std::memset(header, 0, static_cast<size_t>(size));
    header->serialNumber = mh->serialNum;
    header->numMeshes = mh->numMeshes;
    header->totalNumVertex = numVertices;
    SkinTrailer *t = Trailer(header);
    t->layout = choice.layout;
    t->geometry = g;
    t->skin = skin;
    t->remapByUsed = choice.remapByUsed;
    RwD3D9InstanceMesh *meshes = Meshes(header);
    if (!RwD3D9InstanceIndices(header, mh, numVertices, static_cast<RwUInt32>(g->numTriangles))) {
        RwResourcesFreeEntry(entry);
        return nullptr;
    }
    const RwUInt32 numSets = static_cast<RwUInt32>(g->numTexCoordSets);
    for (RwUInt32 i = 0; i < numSets && i < rwMAXTEXTURECOORDS; ++i) {
        t->texTypes[i] = choice.layout == rwD3D9SKINLAYOUTSHADER
                             ? RwD3D9DeclTypeFindForTexCoords(&g->texCoords[i]->u, numVertices)
                             : static_cast<RwUInt32>(D3DDECLTYPE_FLOAT2);
    }
    D3DVERTEXELEMENT9 elements[16];
    RwUInt32 stride = 0;
    const RwUInt32 maxWeights = skin ? skin->maxWeights : 1;
    const RwBool tangents = (RwD3D9GeometryGetInstanceFlags(g) & rwD3D9INSTANCETANGENTS) != 0;
    const RwUInt32 n = RwD3D9SkinBuildDeclaration(elements, choice.layout, g->flags, tangents, numSets, t->texTypes,
                                                  maxWeights, &caps, &stride);
    t->stride = stride;
    for (RwUInt32 e = 0; e < n; ++e) {
        if (elements[e].Usage == D3DDECLUSAGE_NORMAL) {
            t->normalOffset = elements[e].Offset;
        } else if (elements[e].Usage == D3DDECLUSAGE_COLOR) {
            t->colourOffset = elements[e].Offset;
        } else if (elements[e].Usage == D3DDECLUSAGE_TEXCOORD && elements[e].UsageIndex == 0) {
            t->texOffset = elements[e].Offset;
        }
    }
    RwD3D9VertexStream &s = header->vertexStream[0];
    s.stride = stride;
    s.geometryFlags = rwGEOMETRYLOCKALL;
    if (!RwD3D9CreateVertexDeclaration(elements, &header->vertexDeclaration)) {
        RwResourcesFreeEntry(entry);
        return nullptr;
    }
    for (RwUInt32 m = 0; m < header->numMeshes; ++m) {
        meshes[m].baseVertexIndex = meshes[m].minVertexIndex;
    }
    if (choice.layout == rwD3D9SKINLAYOUTDYNAMIC) {
        // Filled into the rotating buffers every frame; listed so that a
        // device reset is followed by instancing again.
        RwGeometryAddToRestoreList(g);
        return entry;
    }
    t->bufferBytes = stride * numVertices;
    s.managed = 1;
    void *data = nullptr;
    if (!RwD3D9CreateVertexBuffer(stride, t->bufferBytes, &s.vertexBuffer, &s.offset) ||
        FAILED(static_cast<IDirect3DVertexBuffer9 *>(s.vertexBuffer)->Lock(s.offset, t->bufferBytes, &data,
                                                                           D3DLOCK_NOSYSLOCK))) {
        RwResourcesFreeEntry(entry);
        return nullptr;
    }
    RwUInt8 *base = static_cast<RwUInt8 *>(data);
    WriteBindPose(base, g, t);
    t->bindPose = TRUE;
    WriteStaticParts(base, g, header, true);
    RwBool written = TRUE;
    if (choice.layout == rwD3D9SKINLAYOUTSHADER) {
        RwUInt32 offset = 0;
        for (RwUInt32 e = 0; e < n; ++e) {
            offset = elements[e].Offset;
            if (elements[e].Usage == D3DDECLUSAGE_BLENDWEIGHT) {
                RwD3D9DeclTypeWriteV4d(elements[e].Type, base + offset, skin->vertexBoneWeights, numVertices, stride);
            } else if (elements[e].Usage == D3DDECLUSAGE_BLENDINDICES) {
                RwUInt8 remap[256];
                BuildRemap(remap, skin, choice.remapByUsed);
                RwD3D9DeclTypeWriteBlendIndices(elements[e].Type, base + offset,
                                                reinterpret_cast<const RwUInt8 *>(skin->vertexBoneIndices), remap,
                                                numVertices, stride);
            } else if (elements[e].Usage == D3DDECLUSAGE_TANGENT) {
                // From the bind pose and the last texture set, as the atomic pipeline does.
                const RwMorphTarget *mt = &g->morphTarget[0];
                const RwUInt32 sets = numSets < RwUInt32{rwMAXTEXTURECOORDS} ? numSets : RwUInt32{rwMAXTEXTURECOORDS};
                written = RwD3D9DeclTypeWriteMeshTangents(elements[e].Type, base + offset, mt->verts, mt->normals,
                                                          nullptr, &g->texCoords[sets - 1]->u, numVertices, mh,
                                                          stride) != 0;
            }
        }
    }
    static_cast<IDirect3DVertexBuffer9 *>(s.vertexBuffer)->Unlock();
    if (!written) {
        RwResourcesFreeEntry(entry);
        return nullptr;
    }
    for (RwUInt32 m = 0; m < header->numMeshes; ++m) {
        meshes[m].baseVertexIndex = s.offset / stride + meshes[m].minVertexIndex;
    }
    return entry;
}

// Blends the vertices on the processor into the instance's own buffer or
// into the rotating dynamic buffers. FALSE when there is nowhere to write.
RwBool SkinOnProcessor(RwAtomic *atomic, RwGeometry *g, const RwSkin *skin, const RwHAnimHierarchy *h,
                       RwD3D9InstanceHeader *header)
{
    SkinTrailer *t = Trailer(header);
    RwD3D9VertexStream &s = header->vertexStream[0];
    const RwUInt32 n = static_cast<RwUInt32>(g->numVertices);
    ComputePalette(atomic, skin, h);
    void *data = nullptr;
    RwUInt32 baseIndex = 0;
    if (t->layout == rwD3D9SKINLAYOUTDYNAMIC) {
        void *vb = nullptr;
        if (!RwD3D9DynamicVertexBufferLock(t->stride, n, &vb, &data, &baseIndex)) {
            return FALSE;
        }
        // One of the rotating buffers: not the entry's to release.
        s.vertexBuffer = vb;
        s.offset = 0;
        s.dynamicLock = 1;
        WriteStaticParts(static_cast<RwUInt8 *>(data), g, header, false);
    } else if (FAILED(static_cast<IDirect3DVertexBuffer9 *>(s.vertexBuffer)
                          ->Lock(s.offset, t->bufferBytes, &data, D3DLOCK_NOSYSLOCK))) {
        return FALSE;
    }
    const RwD3D9SkinBlendJob job = {setup.palette,
                                    g->morphTarget[0].verts,
                                    t->normalOffset ? g->morphTarget[0].normals : nullptr,
                                    skin->vertexBoneIndices,
                                    skin->vertexBoneWeights,
                                    n,
                                    data,
                                    t->stride,
                                    t->normalOffset};
    const RwInt32 single = skin->maxWeights == 1 && skin->numUsedBones == 1 ? skin->usedBones[0] : -1;
    RwD3D9SkinBlend(&job, skin->maxWeights, single, RwEngineInstance->simdAvailable);
    if (t->layout == rwD3D9SKINLAYOUTDYNAMIC) {
        RwD3D9DynamicVertexBufferUnlock(s.vertexBuffer);
        RwD3D9InstanceMesh *meshes = Meshes(header);
        for (RwUInt32 m = 0; m < header->numMeshes; ++m) {
            meshes[m].baseVertexIndex = baseIndex + meshes[m].minVertexIndex;
        }
    } else {
        static_cast<IDirect3DVertexBuffer9 *>(s.vertexBuffer)->Unlock();
        t->bindPose = FALSE;
    }
    return TRUE;
}

void SetStreamsAndDeclaration(RwD3D9InstanceHeader *header)
{
    if (header->indexBuffer) {
        RwD3D9SetIndices(header->indexBuffer);
    }
    RwD3D9SetStreams(header->vertexStream, header->useOffsets);
    RwD3D9SetVertexDeclaration(header->vertexDeclaration);
}

// One light fewer: spots, then points, then directional lights, then fog.
bool DropOneLight(RwD3D9VertexShaderDescriptor *d)
{
    if (d->spotsAndSets & 0x0F) {
        --d->spotsAndSets;
    } else if (d->lights & 0xF0) {
        d->lights = static_cast<RwUInt8>(d->lights - 0x10);
    } else if (d->lights & 0x0F) {
        --d->lights;
    } else if (d->fogAndEffect & 0x03) {
        d->fogAndEffect &= static_cast<RwUInt8>(~0x03);
    } else {
        return false;
    }
    return true;
}

void UploadBones(RwUInt32 base, RwUInt32 slot, RwUInt32 bone, RwUInt32 count)
{
    if (count > 0) {
        RwD3D9SetVertexShaderConstant(base + 3 * slot, boneRows + 12 * bone, 3 * count);
    }
}

// Runs of consecutive bone numbers among the used bones, at their list
// positions or at their bone numbers.
void UploadUsedBones(const RwSkin *skin, RwUInt32 base, RwBool byUsed)
{
    RwUInt32 k = 0;
    while (k < skin->numUsedBones) {
        RwUInt32 len = 1;
        while (k + len < skin->numUsedBones && skin->usedBones[k + len] == skin->usedBones[k] + len) {
            ++len;
        }
        UploadBones(base, byUsed ? k : skin->usedBones[k], skin->usedBones[k], len);
        k += len;
    }
}

void UploadSplitBones(const RwSkin *skin, RwUInt32 base, RwUInt32 mesh)
{
    const RwUInt32 first = skin->meshRuns[2 * mesh], count = skin->meshRuns[2 * mesh + 1];
    for (RwUInt32 r = first; r < first + count; ++r) {
        for (RwUInt32 b = skin->runs[2 * r]; b < RwUInt32(skin->runs[2 * r]) + skin->runs[2 * r + 1]; ++b) {
            UploadBones(base, skin->boneRemap[b], b, 1);
        }
    }
}

void ShaderDraw(RwAtomic *atomic, const RwSkin *skin, const RwHAnimHierarchy *h, RwD3D9InstanceHeader *header,
                const RwD3D9SkinNodeCallbacks *cb, const LayoutChoice &choice)
{
    RwD3D9VertexShaderDescriptor desc = {};
    cb->descriptor(atomic, rwATOMIC, &desc);
    desc.flags = static_cast<RwUInt8>((desc.flags & ~rwD3D9VSWEIGHTSMASK) | ((skin->maxWeights & 7) << 1));
    RwD3D9SetRenderState(D3DRS_CLIPPING, TRUE);
    RwD3D9SetVertexShaderWorldMatrix(AtomicWorld(atomic));
    D3DMATRIX wvp;
    RwD3D9GetWorldViewProjTransposed(&wvp);
    RwD3D9SetVertexShaderConstant(0, &wvp.m[0][0], 4);
    RwReal lightBuffer[4 * rwD3D9VSMAXLIGHTREGISTERS];
    cb->gatherLights(atomic, rwATOMIC, lightBuffer, &desc);
    ComputePalette(atomic, skin, h);
    SetStreamsAndDeclaration(header);
    RwD3D9InstanceMesh *meshes = Meshes(header);
    RwUInt32 lastBase = rwD3D9VSUNUSED;
    RwReal lastAmbient = -1.0f, lastDiffuse = -1.0f;
    RwUInt32 lastLights = 0xFFFFFFFFu;
    for (RwUInt32 m = 0; m < header->numMeshes; ++m) {
        RwD3D9InstanceMesh &mesh = meshes[m];
        const RwMaterial *material = mesh.material;
        RwD3D9SetVertexAlphaEnable(material->color.alpha != 255 || mesh.vertexAlpha);
        RwD3D9VertexShaderRegisters regs;
        void *shader = cb->lookupShader(nullptr, &desc, &regs);
        // Count what the bone upload touches; drop lights until it fits and
        // the generator can make the shader (it takes a limited number of lights).
        while ((!shader || RwD3D9VertexShaderGetNumConstants(&desc) + 3 * choice.shaderBones > caps.maxConstants) &&
               DropOneLight(&desc)) {
            shader = cb->lookupShader(nullptr, &desc, &regs);
        }
        if (!shader || regs.bones == rwD3D9VSUNUSED || regs.bones + 3 * choice.shaderBones > caps.maxConstants) {
            continue;
        }
        const RwUInt32 lightKey = RwD3D9VertexShaderDescriptorKey(&desc) & 0xFFFF;
        if (material->surfaceProps.ambient != lastAmbient || material->surfaceProps.diffuse != lastDiffuse ||
            lightKey != lastLights) {
            RwD3D9SetVertexShaderLightConstants(lightBuffer, &desc, material->surfaceProps.ambient,
                                                material->surfaceProps.diffuse);
            lastAmbient = material->surfaceProps.ambient;
            lastDiffuse = material->surfaceProps.diffuse;
            lastLights = lightKey;
        }
        if (desc.flags & rwD3D9VSMODULATE) {
            RwD3D9SetVertexShaderMaterialColor(&material->color, &regs);
        }
        if (desc.fogAndEffect & 0x03) {
            RwD3D9SetVertexShaderFogConstants(&desc, &regs);
        }
        if (skin->numMeshes > 0) {
            UploadSplitBones(skin, regs.bones, m);
        } else if (regs.bones != lastBase) {
            UploadUsedBones(skin, regs.bones, choice.remapByUsed);
            lastBase = regs.bones;
        }
        mesh.vertexShader = shader;
        cb->meshDraw(header, &mesh, &desc, &regs);
    }
    cb->end();
}

// NORMALIZENORMALS for the fixed-function draw.
void SetNormalize(RwAtomic *atomic)
{
    RwUInt32 lighting = FALSE;
    RwD3D9GetRenderState(D3DRS_LIGHTING, &lighting);
    RwUInt32 value = 0;
    if (lighting) {
        if (caps.hardwareTransform) {
            value = 1;
        } else if (const RwMatrix *m = AtomicWorld(atomic)) {
            if (!(m->flags & (rwMATRIXTYPENORMAL | rwMATRIXINTERNALIDENTITY))) {
                for (const RwV3d *v : {&m->right, &m->up, &m->at}) {
                    const RwReal l = v->x * v->x + v->y * v->y + v->z * v->z;
                    if (l < 0.9f || l > 1.1f) {
                        value = 1;
                    }
                }
            }
        }
    }
    RwD3D9SetRenderState(D3DRS_NORMALIZENORMALS, value);
}

RwBool NodeBody(RxPipelineNode *self, const RxPipelineNodeParam *params)
{
    RwAtomic *atomic = static_cast<RwAtomic *>(params->dataParam);
    const RwD3D9SkinNodeCallbacks *cb = static_cast<const RwD3D9SkinNodeCallbacks *>(self->privateData);
    RwGeometry *g = atomic->geometry;
    if (!g || g->numVertices <= 0 || !g->mesh || g->mesh->numMeshes == 0 || (g->flags & rwGEOMETRYNATIVE) ||
        !g->morphTarget || !g->morphTarget[0].verts) {
        return TRUE;
    }
    RwSkin *skin = GeometrySkin(g);
    const RwHAnimHierarchy *h = AtomicHierarchy(atomic);
    const LayoutChoice choice = ChooseLayout(atomic, skin, h, cb, g->mesh);
    RwResourceEntry *&ref = g->numMorphTargets == 1 ? g->repEntry : atomic->repEntry;
    if (RwResourceEntry *entry = ref) {
        const RwD3D9InstanceHeader *header = Header(entry);
        const SkinTrailer *t = Trailer(Header(entry));
        if (header->serialNumber != g->mesh->serialNum || t->layout != choice.layout || t->skin != skin ||
            (choice.layout == rwD3D9SKINLAYOUTSHADER && t->remapByUsed != choice.remapByUsed) ||
            g->lockedSinceLastInst) {
            RwResourcesFreeEntry(entry);
        } else {
            RwResourcesUseResEntry(entry);
        }
    }
    if (!ref) {
        if (!Instance(atomic, g, skin, choice)) {
            return FALSE;
        }
        g->lockedSinceLastInst = 0;
    }
    RwD3D9InstanceHeader *header = Header(ref);
    if (skin) {
        skin->vertexShaderNumBones = skin->numMeshes > 0 ? skin->boneLimit : skin->numUsedBones;
        skin->useVertexShader = choice.layout == rwD3D9SKINLAYOUTSHADER;
    }
    if (choice.layout == rwD3D9SKINLAYOUTSHADER) {
        ShaderDraw(atomic, skin, h, header, cb, choice);
        return TRUE;
    }
    if (skin && h) {
        if (!SkinOnProcessor(atomic, g, skin, h, header)) {
            return TRUE;
        }
    } else if (!Trailer(header)->bindPose) {
        // Another atomic skinned the shared buffer; this one has no bones.
        void *data = nullptr;
        RwD3D9VertexStream &s = header->vertexStream[0];
        if (SUCCEEDED(static_cast<IDirect3DVertexBuffer9 *>(s.vertexBuffer)
                          ->Lock(s.offset, Trailer(header)->bufferBytes, &data, D3DLOCK_NOSYSLOCK))) {
            WriteBindPose(static_cast<RwUInt8 *>(data), g, Trailer(header));
            static_cast<IDirect3DVertexBuffer9 *>(s.vertexBuffer)->Unlock();
            Trailer(header)->bindPose = TRUE;
        }
    }
    cb->lighting(atomic);
    SetNormalize(atomic);
    RwD3D9SetTransformWorld(AtomicWorld(atomic));
    cb->render(ref, atomic, rwATOMIC, g->flags);
    return TRUE;
}

RwBool ToonNodeInit(RxPipelineNode *node)
{
    RwD3D9SkinNodeCallbacks *cb = static_cast<RwD3D9SkinNodeCallbacks *>(node->privateData);
    // The toon pipeline paints what the processor skinned, and draws no ink
    // itself: the toon render callback does that after this pipeline ran.
    *cb = {RwToonPaintRenderCallBack, RwD3D9AtomicLightingCallback, nullptr, nullptr, nullptr, nullptr, nullptr};
    return TRUE;
}

RwBool NodeInit(RxPipelineNode *node)
{
    RwD3D9SkinNodeCallbacks *cb = static_cast<RwD3D9SkinNodeCallbacks *>(node->privateData);
    *cb = {RwD3D9DefaultRenderCallback, RwD3D9AtomicLightingCallback, nullptr, nullptr, nullptr, nullptr, nullptr};
    if (caps.vertexShaderSkinning) {
        cb->descriptor = RwD3D9SkinDescriptorCallback;
        cb->gatherLights = RwD3D9GatherVertexShaderLights;
        cb->lookupShader = RwD3D9GetVertexShaderForDescriptor;
        cb->meshDraw = RwD3D9RenderMeshWithVertexShader;
        cb->end = RwDoNothing;
    }
    return TRUE;
}

RxPipelineNodeDefinition SkinNodeDefinition(RxPipelineNodeInitFn init)
{
    RxPipelineNodeDefinition definition = {};
    definition.name = "nodeD3D9SkinAtomicAllInOne.csl";
    definition.body = NodeBody;
    definition.pipelineNodeInit = init;
    definition.pipelineNodePrivateDataSize = sizeof(RwD3D9SkinNodeCallbacks);
    return definition;
}

RxPipelineNodeDefinition skinNode = SkinNodeDefinition(NodeInit);
RxPipelineNodeDefinition toonNode = SkinNodeDefinition(ToonNodeInit);

RxPipeline *MakePipeline(RwUInt32 type)
{
    RxPipeline *pipeline = RwPipelineCreate();
    if (!pipeline) {
        return nullptr;
    }
    pipeline->pluginId = rwID_SKINPLUGIN;
    pipeline->pluginData = type;
    RxPipelineNodeDefinition *node = type == rwSKINTYPETOON ? &toonNode : &skinNode;
    if (!RwPipelineLock(pipeline) || !RwPipelineAddFragment(pipeline, nullptr, node, nullptr) ||
        !RwPipelineUnlock(pipeline)) {
        RwPipelineDestroy(pipeline);
        return nullptr;
    }
    return pipeline;
}

} // namespace

RwD3D9SkinCaps *RwD3D9SkinGetCaps(void)
{
    return &caps;
}

void RwD3D9SkinCapsFromDevice(RwD3D9SkinCaps *c, const D3DCAPS9 *d)
{
    *c = {};
    c->hardwareTransform = (d->DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0;
    c->declTypes = d->DeclTypes;
    if (c->hardwareTransform && (d->VertexShaderVersion & 0xFFFF) >= 0x0101 &&
        (d->PixelShaderVersion & 0xFFFF) >= 0x0101) {
        c->vertexShaderSkinning = TRUE;
        c->maxConstants = d->MaxVertexShaderConst < 256 ? d->MaxVertexShaderConst : 256;
        c->maxBones = c->maxConstants > 12 ? (c->maxConstants - 12) / 3 : 0;
    }
}

RwUInt32 RwD3D9SkinBuildDeclaration(D3DVERTEXELEMENT9 *e, RwD3D9SkinLayout layout, RwUInt32 flags, RwBool tangents,
                                    RwUInt32 numTexCoordSets, const RwUInt32 *texTypes, RwUInt32 maxWeights,
                                    const RwD3D9SkinCaps *c, RwUInt32 *stride)
{
    const bool shader = layout == rwD3D9SKINLAYOUTSHADER;
    RwUInt32 n = 0, offset = 0;
    auto add = [&](RwUInt32 type, RwUInt32 usage, RwUInt32 index) {
        e[n++] = {0, static_cast<WORD>(offset), static_cast<BYTE>(type), D3DDECLMETHOD_DEFAULT, static_cast<BYTE>(usage),
                  static_cast<BYTE>(index)};
        offset += RwD3D9DeclTypeGetSize(type);
    };
    const RwUInt32 directionType = shader && (c->declTypes & D3DDTCAPS_DEC3N) ? D3DDECLTYPE_DEC3N : D3DDECLTYPE_FLOAT3;
    add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
    if (flags & rwGEOMETRYNORMALS) {
        add(directionType, D3DDECLUSAGE_NORMAL, 0);
    }
    // Tangents come from the texture coordinates and only the shader reads them.
    if (shader && tangents && numTexCoordSets > 0) {
        add(directionType, D3DDECLUSAGE_TANGENT, 0);
    }
    if (flags & rwGEOMETRYPRELIT) {
        add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
    }
    for (RwUInt32 i = 0; i < numTexCoordSets && i < rwMAXTEXTURECOORDS; ++i) {
        add(texTypes[i], D3DDECLUSAGE_TEXCOORD, i);
    }
    if (shader) {
        if (maxWeights > 1) {
            add(WeightType(maxWeights, c->declTypes), D3DDECLUSAGE_BLENDWEIGHT, 0);
        }
        add(IndexType(maxWeights, c->declTypes), D3DDECLUSAGE_BLENDINDICES, 0);
    }
    e[n] = D3DDECL_END();
    *stride = offset;
    return n;
}

RwD3D9SkinLayout RwD3D9SkinAtomicGetLayout(const RwAtomic *atomic)
{
    const RwGeometry *g = atomic->geometry;
    RwResourceEntry *entry = g && g->numMorphTargets == 1 ? g->repEntry : atomic->repEntry;
    return entry ? Trailer(Header(entry))->layout : rwD3D9SKINLAYOUTNONE;
}

void RwD3D9RenderMeshWithVertexShader(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh,
                                      const RwD3D9VertexShaderDescriptor *, const RwD3D9VertexShaderRegisters *)
{
    RwD3D9RenderMeshWithVertexShader(header, mesh);
}

void RwD3D9SkinDescriptorCallback(const RwAtomic *atomic, RwUInt8, RwD3D9VertexShaderDescriptor *d)
{
    const RwGeometry *g = atomic->geometry;
    std::memset(d, 0, sizeof *d);
    d->spotsAndSets = static_cast<RwUInt8>((g->numTexCoordSets & 0x0F) << 4);
    if (g->flags & rwGEOMETRYPRELIT) {
        d->flags |= rwD3D9VSPRELIT;
    }
    if (g->flags & rwGEOMETRYNORMALS) {
        d->flags |= rwD3D9VSNORMALS | rwD3D9VSNORMALIZE;
    }
    if (g->flags & rwGEOMETRYMODULATEMATERIALCOLOR) {
        d->flags |= rwD3D9VSMODULATE;
    }
    RwInt32 fog = 0, type = 0;
    RwDevice &device = RwEngineInstance->dOpenDevice;
    if (device.fpRenderStateGet && device.fpRenderStateGet(rwFOGENABLE, &fog) && fog &&
        device.fpRenderStateGet(rwFOGTYPE, &type) && type >= 1 && type <= 3) {
        d->fogAndEffect = static_cast<RwUInt8>(type);
    }
}

void RwD3D9SkinPipelinesCreate(const RwSkinPipelineSetup *s, RxPipeline **plain, RxPipeline **toon)
{
    setup = *s;
    paletteKey = {};
    RwD3D9SkinCapsFromDevice(&caps, RwD3D9GetCaps());
    // Until the driver's own atomic pipelines set these up, the skin pipeline does.
    if (RwD3D9VertexShaderGetLevel() == 0 && caps.vertexShaderSkinning) {
        RwD3D9VertexShaderCacheInit();
        RwD3D9LightingStateInit();
        ownsShaderState = TRUE;
    }
    *plain = MakePipeline(rwSKINTYPEGENERIC);
    *toon = s->toon ? MakePipeline(rwSKINTYPETOON) : nullptr;
}

void RwD3D9SkinPipelinesDestroy(RxPipeline *plain, RxPipeline *toon)
{
    for (RxPipeline *p : {plain, toon}) {
        if (p) {
            RwPipelineDestroy(p);
        }
    }
    if (ownsShaderState) {
        RwD3D9VertexShaderCacheTerm();
        RwD3D9LightingStateTerm();
        ownsShaderState = FALSE;
    }
    paletteKey = {};
}
