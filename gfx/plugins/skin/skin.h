// Skinning: vertices bound to the bones of a hierarchy, the geometry and atomic extensions and their streams.
#pragma once

#include "gfx/core/matrix.h"
#include "gfx/core/rwtypes.h"

struct RwAtomic;
struct RwGeometry;
struct RwHAnimHierarchy;
struct RwStream;
struct RxPipeline;

enum : RwUInt32 {
    rwID_SKINPLUGIN = 0x116,
    rwID_MATFXPLUGIN = 0x120,
    rwSKINHINT = 0x30000 | rwID_SKINPLUGIN,
    rwSKINGLOBALHINT = 0x40000 | rwID_SKINPLUGIN,
    rwSKINPALETTESIZE = 256,            // matrices in the shared palette
    rwSKINMAXWEIGHTS = 4,
    rwSKINOLDMAXBONES = 256,            // the older atomic-stored layout's bone count limit
};

// Pipeline types of a skinned atomic.
enum RwSkinType : RwInt32 {
    rwSKINTYPENATYPE = 0,
    rwSKINTYPEGENERIC = 1,
    rwSKINTYPEMATFX = 2,
    rwSKINTYPETOON = 3,
    rwSKINTYPEMAX = 4,
};

// A skin: bones, the bones vertices use, inverse bind matrices, four bone
// indices and weights per vertex, and the optional split data that tells the
// shader path which bones each mesh needs (64 bytes).
struct RwSkin {
    RwUInt32 numBones;
    RwUInt32 numUsedBones;
    RwUInt8 *usedBones;                 // sorted ascending
    RwMatrix *skinToBoneMatrices;       // numBones, 16-byte aligned
    RwUInt32 maxWeights;                // 1..4
    RwUInt32 *vertexBoneIndices;        // index j in bits 8j..8j+7
    RwReal *vertexBoneWeights;          // four per vertex, in index order
    RwUInt32 vertexShaderNumBones;      // set when the pipeline instances
    RwBool useVertexShader;             // likewise
    RwUInt32 boneLimit;                 // split data; 0 without
    RwUInt32 numMeshes;
    RwUInt32 numRuns;
    RwUInt8 *boneRemap;                 // numBones slots, then the mesh table, then the run table
    RwUInt8 *meshRuns;                  // per mesh: first run, run count
    RwUInt8 *runs;                      // per run: first bone, bone count
    void *data;                         // the block holding the arrays above
};
static_assert(sizeof(RwSkin) == 64, "skin record is 64 bytes");

RwBool RwSkinPluginAttach(void);

RwAtomic *RwSkinAtomicSetHAnimHierarchy(RwAtomic *atomic, RwHAnimHierarchy *hierarchy);
RwHAnimHierarchy *RwSkinAtomicGetHAnimHierarchy(const RwAtomic *atomic);
RwSkin *RwSkinGeometryGetSkin(const RwGeometry *geometry);
// Stores the skin (a different one already there is destroyed); a skin
// stored is prepared: weights sorted per vertex, used bones sorted.
RwGeometry *RwSkinGeometrySetSkin(RwGeometry *geometry, RwSkin *skin);
RwMatrix *RwSkinGetSkinToBoneMatrices(RwSkin *skin);
RwAtomic *RwSkinAtomicSetType(RwAtomic *atomic, RwInt32 type);
RwInt32 RwSkinAtomicGetType(const RwAtomic *atomic);

// Sorts one vertex's four weights descending, moving its index bytes along,
// unless the first weight is 1.0 or more.
void RwSkinSortVertexWeights(RwReal *weights, RwUInt32 *indices);
// The matrix of the largest weight a vertex needs (1..4) from its weights.
RwUInt32 RwSkinCountWeights(const RwReal *weights, RwUInt32 numVertices);

// Skin chunk inside geometry streams: bytes, writer, reader.
RwInt32 RwSkinGeometryStreamGetSize(const RwGeometry *geometry);

// The shared 256-matrix palette of the pipelines, NULL while the plug-in is closed.
RwMatrix *RwSkinGetMatrixPalette(void);
// The pipeline of a type after the fall-back rule (NULL when it could not be made).
RxPipeline *RwSkinGetPipeline(RwInt32 type);

// Where the driver finds what the plug-in keeps on geometries and atomics.
struct RwSkinPipelineSetup {
    RwInt32 geometryOffset;             // RwSkin * inside every geometry
    RwInt32 atomicOffset;               // RwHAnimHierarchy * inside every atomic
    RwMatrix *palette;                  // 256 matrices, 16-byte aligned
    RwBool toon;                        // make the toon pipeline too
};
// Supplied by the device driver (or the stand-in driver in tests): the skin
// pipelines made at the plug-in's first open and destroyed at its last close.
// A pipeline that cannot be made is left NULL.
void RwD3D9SkinPipelinesCreate(const RwSkinPipelineSetup *setup, RxPipeline **plain, RxPipeline **toon);
void RwD3D9SkinPipelinesDestroy(RxPipeline *plain, RxPipeline *toon);
