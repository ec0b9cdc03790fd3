// Shared between the world queries' files: the walk over a sector's triangles and the segment walk over a world's.
#pragma once

#include "worldquery.h"

// Every static sector triangle that the intersection's segment crosses, with
// the segment parameter of the hit as distance.
RwWorld *RwCollisionWorldForAllLineIntersections(RwWorld *world, RwIntersection *intersection,
                                                 RwIntersectionCallBackWorldTriangle callback, void *data);

// Whether the shape of the intersection meets the triangle a, b, c; distance
// gets where along the shape, for shapes that have one.
typedef bool (*RwTriangleHitTest)(const RwIntersection &intersection, const RwV3d &a, const RwV3d &b, const RwV3d &c,
                                  RwReal *distance);
// Calls back with every triangle of the sector that the test accepts (its
// index in the sector, pointers to the sector's vertices); NULL when the
// callback stopped the walk.
RwWorldSector *RwSectorForAllTriangleHits(RwWorldSector *sector, RwIntersection *intersection, RwTriangleHitTest test,
                                          RwIntersectionCallBackWorldTriangle callback, void *data);
