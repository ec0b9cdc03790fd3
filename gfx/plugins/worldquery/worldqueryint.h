// Shared between the world queries' files: the segment walk over a world's static triangles.
#pragma once

#include "worldquery.h"

// Every static sector triangle that the intersection's segment crosses, with
// the segment parameter of the hit as distance.
RwWorld *RwCollisionWorldForAllLineIntersections(RwWorld *world, RwIntersection *intersection,
                                                 RwIntersectionCallBackWorldTriangle callback, void *data);
