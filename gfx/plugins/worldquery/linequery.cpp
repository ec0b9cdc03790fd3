// Line queries: the atomics of a world whose bounding spheres a segment meets, and the triangles of an atomic or of the static world it hits.
#include "worldqueryint.h"

#include <cmath>

#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/vector.h"
#include "gfx/world/geometry.h"
#include "gfx/world/world.h"

// Segment parameter (0 start, 1 end) where the segment enters the sphere;
// 0 when it starts inside; false when it misses.
static bool SegmentEntersSphere(const RwLine &line, const RwSphere &sphere, RwReal *t)
{
    RwV3d d, m;
    RwV3dSub(&d, &line.end, &line.start);
    RwV3dSub(&m, &line.start, &sphere.center);
    const RwReal c = RwV3dDotProduct(&m, &m) - sphere.radius * sphere.radius;
    if (c <= 0.0f) {
        *t = 0.0f;
        return true;
    }
    const RwReal a = RwV3dDotProduct(&d, &d);
    const RwReal b = RwV3dDotProduct(&m, &d);
    const RwReal disc = b * b - a * c;
    if (a <= 0.0f || b >= 0.0f || disc < 0.0f) {
        return false;
    }
    *t = (-b - std::sqrt(disc)) / a;
    return *t <= 1.0f;
}

static RwWorldSector *FirstSector(RwWorldSector *sector, void *data)
{
    *static_cast<RwWorldSector **>(data) = sector;
    return nullptr;
}

struct RwAtomicLineQuery {
    RwIntersection *intersection;
    RwIntersectionCallBackAtomic callback;
    void *data;
    bool stopped;
};

static RwAtomic *QueryAtomic(RwAtomic *atomic, void *data)
{
    RwAtomicLineQuery *q = static_cast<RwAtomicLineQuery *>(data);
    const RwSphere *sphere = RwAtomicGetWorldBoundingSphere(atomic);
    RwReal t;
    if (!sphere || !SegmentEntersSphere(q->intersection->t.line, *sphere, &t)) {
        return atomic;
    }
    RwWorldSector *sector = nullptr;
    RwAtomicForAllWorldSectors(atomic, FirstSector, &sector);
    if (!q->callback(q->intersection, sector, atomic, t, q->data)) {
        q->stopped = true;
        return nullptr;
    }
    return atomic;
}

static RwClump *QueryClump(RwClump *clump, void *data)
{
    RwClumpForAllAtomics(clump, QueryAtomic, data);
    return static_cast<RwAtomicLineQuery *>(data)->stopped ? nullptr : clump;
}

RwWorld *RwWorldForAllAtomicIntersections(RwWorld *world, RwIntersection *intersection,
                                          RwIntersectionCallBackAtomic callback, void *data)
{
    if (!world || !intersection || !callback || intersection->type != rwINTERSECTLINE) {
        return world;
    }
    RwAtomicLineQuery query = {intersection, callback, data, false};
    return RwWorldForAllClumps(world, QueryClump, &query);
}

// Segment parameter of the hit of start + t (end - start) on the triangle,
// from either side; false when it misses or runs parallel.
static bool SegmentHitsTriangle(const RwLine &line, const RwV3d &a, const RwV3d &b, const RwV3d &c, RwReal *t)
{
    RwV3d d, e1, e2, p, s, q;
    RwV3dSub(&d, &line.end, &line.start);
    RwV3dSub(&e1, &b, &a);
    RwV3dSub(&e2, &c, &a);
    RwV3dCrossProduct(&p, &d, &e2);
    const RwReal det = RwV3dDotProduct(&e1, &p);
    if (std::fabs(det) < 1e-12f) {
        return false;
    }
    const RwReal inv = 1.0f / det;
    RwV3dSub(&s, &line.start, &a);
    const RwReal u = RwV3dDotProduct(&s, &p) * inv;
    if (u < 0.0f || u > 1.0f) {
        return false;
    }
    RwV3dCrossProduct(&q, &s, &e1);
    const RwReal v = RwV3dDotProduct(&d, &q) * inv;
    if (v < 0.0f || u + v > 1.0f) {
        return false;
    }
    *t = RwV3dDotProduct(&e2, &q) * inv;
    return *t >= 0.0f && *t <= 1.0f;
}

RwAtomic *RwAtomicForAllIntersections(RwAtomic *atomic, RwIntersection *intersection,
                                      RwIntersectionCallBackGeometryTriangle callback, void *data)
{
    if (!atomic || !intersection || !callback || intersection->type != rwINTERSECTLINE) {
        return atomic;
    }
    const RwGeometry *g = atomic->geometry;
    if (!g || g->numMorphTargets < 1 || !g->morphTarget || !g->morphTarget[0].verts || !g->triangles) {
        return atomic;
    }
    RwFrame *frame = RwAtomicGetFrame(atomic);
    RwMatrix identity;
    const RwMatrix *ltm = frame ? RwFrameGetWorldMatrix(frame) : RwMatrixSetIdentity(&identity);
    const RwV3d *verts = g->morphTarget[0].verts;
    for (RwInt32 i = 0; i < g->numTriangles; ++i) {
        const RwUInt16 *index = g->triangles[i].vertIndex;
        if (index[0] >= g->numVertices || index[1] >= g->numVertices || index[2] >= g->numVertices) {
            continue;
        }
        RwV3d corner[3];
        for (int k = 0; k < 3; ++k) {
            RwV3dTransformPoint(&corner[k], &verts[index[k]], ltm);
        }
        RwReal t;
        if (!SegmentHitsTriangle(intersection->t.line, corner[0], corner[1], corner[2], &t)) {
            continue;
        }
        RwCollisionTriangle tri;
        RwCollisionTriangleSet(&tri, &corner[0], &corner[1], &corner[2], i);
        if (!callback(intersection, &tri, t, data)) {
            break;
        }
    }
    return atomic;
}

// Slab test: does any part of the segment lie inside the box (faces included)?
static bool SegmentMeetsBox(const RwLine &line, const RwBBox &box)
{
    const RwReal start[3] = {line.start.x, line.start.y, line.start.z};
    const RwReal end[3] = {line.end.x, line.end.y, line.end.z};
    const RwReal lo[3] = {box.inf.x, box.inf.y, box.inf.z};
    const RwReal hi[3] = {box.sup.x, box.sup.y, box.sup.z};
    RwReal enter = 0.0f, leave = 1.0f;
    for (int axis = 0; axis < 3; ++axis) {
        const RwReal d = end[axis] - start[axis];
        if (std::fabs(d) < 1e-12f) {
            if (start[axis] < lo[axis] || start[axis] > hi[axis]) {
                return false;
            }
            continue;
        }
        RwReal t0 = (lo[axis] - start[axis]) / d, t1 = (hi[axis] - start[axis]) / d;
        if (t0 > t1) {
            const RwReal swap = t0;
            t0 = t1;
            t1 = swap;
        }
        enter = std::fmax(enter, t0);
        leave = std::fmin(leave, t1);
        if (enter > leave) {
            return false;
        }
    }
    return true;
}

struct RwWorldLineQuery {
    RwIntersection *intersection;
    RwIntersectionCallBackWorldTriangle callback;
    void *data;
};

static bool LineHit(const RwIntersection &intersection, const RwV3d &a, const RwV3d &b, const RwV3d &c,
                    RwReal *distance)
{
    return SegmentHitsTriangle(intersection.t.line, a, b, c, distance);
}

static RwWorldSector *QueryLineSector(RwWorldSector *sector, void *data)
{
    RwWorldLineQuery *q = static_cast<RwWorldLineQuery *>(data);
    if (!SegmentMeetsBox(q->intersection->t.line, sector->boundingBox)) {
        return sector;
    }
    return RwSectorForAllTriangleHits(sector, q->intersection, LineHit, q->callback, q->data);
}

RwWorld *RwCollisionWorldForAllLineIntersections(RwWorld *world, RwIntersection *intersection,
                                                 RwIntersectionCallBackWorldTriangle callback, void *data)
{
    RwWorldLineQuery query = {intersection, callback, data};
    return RwWorldForAllWorldSectors(world, QueryLineSector, &query);
}
