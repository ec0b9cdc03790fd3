// Bounding volumes over a graphics clump, and the look-at matrix.
#include "engine/KivBounds.h"

#include <cmath>

#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/vector.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"

namespace {

struct SphereBox {
    RwBBox box;
    int count;
};

void Widen(RwBBox *box, const RwV3d *low, const RwV3d *high)
{
    box->inf.x = std::fmin(box->inf.x, low->x);
    box->inf.y = std::fmin(box->inf.y, low->y);
    box->inf.z = std::fmin(box->inf.z, low->z);
    box->sup.x = std::fmax(box->sup.x, high->x);
    box->sup.y = std::fmax(box->sup.y, high->y);
    box->sup.z = std::fmax(box->sup.z, high->z);
}

RwAtomic *AddSphere(RwAtomic *atomic, void *data)
{
    SphereBox *state = static_cast<SphereBox *>(data);
    if (!RwAtomicGetFrame(atomic))
        return atomic;
    const RwSphere *sphere = RwAtomicGetWorldBoundingSphere(atomic);
    const RwV3d r = {sphere->radius, sphere->radius, sphere->radius};
    RwV3d low, high;
    RwV3dSub(&low, &sphere->center, &r);
    RwV3dAdd(&high, &sphere->center, &r);
    if (state->count++ == 0) {
        state->box.inf = low;
        state->box.sup = high;
    }
    Widen(&state->box, &low, &high);
    return atomic;
}

// The box of the atomics' world spheres; 0 when there is none.
int SpheresBox(RwClump *clump, RwBBox *box)
{
    SphereBox state = {};
    RwClumpForAllAtomics(clump, AddSphere, &state);
    *box = state.box;
    return state.count;
}

void ToRootSpace(RwSphere *sphere, RwClump *clump)
{
    RwMatrix inverse;
    RwMatrixInvert(&inverse, RwFrameGetWorldMatrix(RwClumpGetFrame(clump)));
    RwV3dTransformPoint(&sphere->center, &sphere->center, &inverse);
}

} // namespace

RwSphere *ClumpGetBoundingSphere(RwSphere *out, RwClump *clump)
{
    RwBBox box;
    if (!SpheresBox(clump, &box)) {
        out->center = RwClumpGetFrame(clump) ? RwFrameGetWorldMatrix(RwClumpGetFrame(clump))->pos : RwV3d{};
        out->radius = 0.0f;
        return out;
    }
    RwV3d diagonal;
    RwV3dAdd(&out->center, &box.sup, &box.inf);
    RwV3dScale(&out->center, &out->center, 0.5f);
    RwV3dSub(&diagonal, &box.sup, &box.inf);
    out->radius = RwV3dLength(&diagonal) * 0.5f;
    return out;
}

RwSphere *ClumpGetLocalBoundingSphere(RwSphere *out, RwClump *clump)
{
    ClumpGetBoundingSphere(out, clump);
    if (RwClumpGetFrame(clump))
        ToRootSpace(out, clump);
    return out;
}

RwSphere *ClumpGetBoundingSphereAround(RwSphere *out, RwClump *clump, const RwV3d *point)
{
    RwBBox box = {*point, *point};
    RwBBox spheres;
    if (SpheresBox(clump, &spheres))
        Widen(&box, &spheres.inf, &spheres.sup);
    const float distances[6] = {box.sup.x - point->x, box.sup.y - point->y, box.sup.z - point->z,
                                point->x - box.inf.x, point->y - box.inf.y, point->z - box.inf.z};
    out->radius = 0.0f;
    for (float d : distances)
        out->radius = std::fmax(out->radius, d);
    out->center = *point;
    if (RwClumpGetFrame(clump))
        ToRootSpace(out, clump);
    return out;
}

RwBBox *ClumpGetBoundingBox(RwBBox *out, RwClump *clump)
{
    struct State {
        RwBBox *box;
        int count;
    } state = {out, 0};
    *out = RwBBox{};
    RwClumpForAllAtomics(
        clump,
        [](RwAtomic *atomic, void *data) {
            State *s = static_cast<State *>(data);
            RwGeometry *geometry = atomic->geometry;
            RwFrame *frame = RwAtomicGetFrame(atomic);
            if (!geometry || !frame || geometry->numMorphTargets < 1 || !geometry->morphTarget[0].verts ||
                geometry->numVertices < 1)
                return atomic;
            RwBBox local;
            RwBBoxCalculate(&local, geometry->morphTarget[0].verts, geometry->numVertices);
            RwV3d corners[2];
            RwV3dTransformPoint(&corners[0], &local.sup, RwFrameGetWorldMatrix(frame));
            RwV3dTransformPoint(&corners[1], &local.inf, RwFrameGetWorldMatrix(frame));
            for (const RwV3d &corner : corners) {
                if (s->count++ == 0)
                    s->box->sup = s->box->inf = corner;
                Widen(s->box, &corner, &corner);
            }
            return atomic;
        },
        &state);
    return out;
}

RwMatrix *MatrixLookAt(RwMatrix *out, const RwV3d *eye, const RwV3d *target, const RwV3d *up)
{
    RwV3d at, right, newUp;
    RwV3dSub(&at, target, eye);
    RwV3dNormalize(&at, &at);
    RwV3dCrossProduct(&right, up, &at);
    RwV3dNormalize(&right, &right);
    RwV3dCrossProduct(&newUp, &at, &right);
    out->right = right;
    out->up = newUp;
    out->at = at;
    out->pos = *eye;
    RwMatrixMarkChanged(out);
    return out;
}
