// Processor skinning: vertices and normals blended by a palette of bone matrices, plain and SIMD.
#pragma once

#include "gfx/core/matrix.h"
#include "gfx/core/rwtypes.h"

// One run of vertices to skin into a vertex stream: positions at dest and,
// with normals, normals normalOffset bytes further, one vertex every stride bytes.
struct RwD3D9SkinBlendJob {
    const RwMatrix *palette;        // 16-byte aligned; the SIMD variants need the fourth row words 0
    const RwV3d *positions;
    const RwV3d *normals;           // NULL: positions only
    const RwUInt32 *indices;        // four bone index bytes per vertex
    const RwReal *weights;          // four weights per vertex
    RwUInt32 numVertices;
    void *dest;
    RwUInt32 stride;
    RwUInt32 normalOffset;
};

// Weights 1: each vertex by the matrix of its first index, or by bone
// `singleBone` for all when it is not negative. 2 and 4: the weighted sum of
// the first two (and the third and fourth when above 0) bone transforms; a
// first weight of 1.0 or more takes the first bone alone. Normals are blended
// by the 3x3 parts and not renormalised.
void RwD3D9SkinBlend1(const RwD3D9SkinBlendJob *job, RwInt32 singleBone, RwBool simd);
void RwD3D9SkinBlend2(const RwD3D9SkinBlendJob *job, RwBool simd);
void RwD3D9SkinBlend4(const RwD3D9SkinBlendJob *job, RwBool simd);
// The routine for a skin's maximum weights (above 2: four; 1 with one used bone: that bone).
void RwD3D9SkinBlend(const RwD3D9SkinBlendJob *job, RwUInt32 maxWeights, RwInt32 singleBone, RwBool simd);
