// Box queries on a world: every static sector triangle that meets an axis-aligned box.
#include "worldqueryint.h"

#include <cmath>

#include "gfx/core/vector.h"
#include "gfx/world/geometry.h"
#include "gfx/world/world.h"

void RwCollisionTriangleSet(RwCollisionTriangle *tri, RwV3d *a, RwV3d *b, RwV3d *c, RwInt32 index)
{
    RwV3d ab, ac, n;
    RwV3dSub(&ab, b, a);
    RwV3dSub(&ac, c, a);
    RwV3dCrossProduct(&n, &ab, &ac);
    const RwReal length = std::sqrt(RwV3dDotProduct(&n, &n));
    if (length > 0.0f) {
        RwV3dScale(&n, &n, 1.0f / length);
    }
    tri->normal = n;
    tri->point = *a;
    tri->index = index;
    tri->vertices[0] = a;
    tri->vertices[1] = b;
    tri->vertices[2] = c;
}

static RwReal Component(const RwV3d &v, int axis)
{
    return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
}

// Separating-axis test: do the projections of the triangle (relative to the
// box centre) and of the box with half extents h onto axis miss each other?
static bool Separated(const RwV3d v[3], const RwV3d &h, const RwV3d &axis)
{
    const RwReal p0 = RwV3dDotProduct(&v[0], &axis);
    const RwReal p1 = RwV3dDotProduct(&v[1], &axis);
    const RwReal p2 = RwV3dDotProduct(&v[2], &axis);
    const RwReal lo = std::fmin(p0, std::fmin(p1, p2));
    const RwReal hi = std::fmax(p0, std::fmax(p1, p2));
    const RwReal r = h.x * std::fabs(axis.x) + h.y * std::fabs(axis.y) + h.z * std::fabs(axis.z);
    return lo > r || hi < -r;
}

// Exact overlap of a triangle and a box, touching included.
static bool TriangleMeetsBox(const RwV3d *a, const RwV3d *b, const RwV3d *c, const RwBBox &box)
{
    const RwV3d centre = {(box.sup.x + box.inf.x) * 0.5f, (box.sup.y + box.inf.y) * 0.5f,
                          (box.sup.z + box.inf.z) * 0.5f};
    const RwV3d h = {(box.sup.x - box.inf.x) * 0.5f, (box.sup.y - box.inf.y) * 0.5f, (box.sup.z - box.inf.z) * 0.5f};
    RwV3d v[3];
    RwV3dSub(&v[0], a, &centre);
    RwV3dSub(&v[1], b, &centre);
    RwV3dSub(&v[2], c, &centre);
    RwV3d e[3];
    RwV3dSub(&e[0], &v[1], &v[0]);
    RwV3dSub(&e[1], &v[2], &v[1]);
    RwV3dSub(&e[2], &v[0], &v[2]);
    static const RwV3d boxAxes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (const RwV3d &axis : boxAxes) {
        if (Separated(v, h, axis)) {
            return false;
        }
    }
    RwV3d normal;
    RwV3dCrossProduct(&normal, &e[0], &e[1]);
    if (Separated(v, h, normal)) {
        return false;
    }
    for (const RwV3d &edge : e) {
        for (const RwV3d &boxAxis : boxAxes) {
            RwV3d axis;
            RwV3dCrossProduct(&axis, &edge, &boxAxis);
            if (Separated(v, h, axis)) {
                return false;
            }
        }
    }
    return true;
}

static bool BoxesMeet(const RwBBox &a, const RwBBox &b)
{
    for (int axis = 0; axis < 3; ++axis) {
        if (Component(a.sup, axis) < Component(b.inf, axis) || Component(b.sup, axis) < Component(a.inf, axis)) {
            return false;
        }
    }
    return true;
}

struct RwBoxQuery {
    RwIntersection *intersection;
    RwIntersectionCallBackWorldTriangle callback;
    void *data;
};

RwWorldSector *RwSectorForAllTriangleHits(RwWorldSector *sector, RwIntersection *intersection, RwTriangleHitTest test,
                                          RwIntersectionCallBackWorldTriangle callback, void *data)
{
    if (!sector->polygons || !sector->vertices) {
        return sector;
    }
    for (RwInt32 i = 0; i < sector->numPolygons; ++i) {
        const RwUInt16 *index = sector->polygons[i].vertIndex;
        if (index[0] >= sector->numVertices || index[1] >= sector->numVertices || index[2] >= sector->numVertices) {
            continue;
        }
        RwV3d *a = &sector->vertices[index[0]];
        RwV3d *b = &sector->vertices[index[1]];
        RwV3d *c = &sector->vertices[index[2]];
        RwReal distance = 0.0f;
        if (!test(*intersection, *a, *b, *c, &distance)) {
            continue;
        }
        RwCollisionTriangle tri;
        RwCollisionTriangleSet(&tri, a, b, c, i);
        if (!callback(intersection, sector, &tri, distance, data)) {
            return nullptr;
        }
    }
    return sector;
}

static bool BoxHit(const RwIntersection &intersection, const RwV3d &a, const RwV3d &b, const RwV3d &c, RwReal *)
{
    return TriangleMeetsBox(&a, &b, &c, intersection.t.box);
}

static RwWorldSector *QuerySector(RwWorldSector *sector, void *data)
{
    RwBoxQuery *q = static_cast<RwBoxQuery *>(data);
    if (!BoxesMeet(sector->boundingBox, q->intersection->t.box)) {
        return sector;
    }
    return RwSectorForAllTriangleHits(sector, q->intersection, BoxHit, q->callback, q->data);
}

RwWorld *RwCollisionWorldForAllIntersections(RwWorld *world, RwIntersection *intersection,
                                             RwIntersectionCallBackWorldTriangle callback, void *data)
{
    if (!world || !intersection || !callback || !world->rootSector) {
        return world;
    }
    if (intersection->type == rwINTERSECTLINE) {
        return RwCollisionWorldForAllLineIntersections(world, intersection, callback, data);
    }
    if (intersection->type != rwINTERSECTBOX) {
        return world;
    }
    RwBoxQuery query = {intersection, callback, data};
    return RwWorldForAllWorldSectors(world, QuerySector, &query);
}
