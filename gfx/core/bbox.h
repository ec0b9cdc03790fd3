// Axis-aligned bounding boxes.
#pragma once

#include "rwtypes.h"

// sup holds the maxima, inf the minima.
struct RwBBox {
    RwV3d sup;
    RwV3d inf;
};
static_assert(sizeof(RwBBox) == 24, "bounding box is two vectors");

RwBBox *RwBBoxCalculate(RwBBox *box, const RwV3d *points, RwInt32 count);
RwBBox *RwBBoxInitialize(RwBBox *box, const RwV3d *point);
RwBBox *RwBBoxAddPoint(RwBBox *box, const RwV3d *point);
RwBool RwBBoxContainsPoint(const RwBBox *box, const RwV3d *point);
