// Bounding volumes over a graphics clump, and the look-at matrix.
#pragma once

#include "gfx/core/bbox.h"
#include "gfx/core/rwtypes.h"

struct RwClump;
struct RwMatrix;

// World-space sphere around every atomic's world sphere (half the box
// diagonal); a clump without atomics gives its root position and radius 0.
RwSphere *ClumpGetBoundingSphere(RwSphere *out, RwClump *clump);
// The same with the centre in the root frame's local space.
RwSphere *ClumpGetLocalBoundingSphere(RwSphere *out, RwClump *clump);
// Centred on the point: the radius reaches the farthest face of the atomics'
// box; the centre goes into the root frame's local space.
RwSphere *ClumpGetBoundingSphereAround(RwSphere *out, RwClump *clump, const RwV3d *point);
// The world box of every atomic's vertices; an empty clump gives an empty box at the origin.
RwBBox *ClumpGetBoundingBox(RwBBox *out, RwClump *clump);
RwMatrix *MatrixLookAt(RwMatrix *out, const RwV3d *eye, const RwV3d *target, const RwV3d *up);
