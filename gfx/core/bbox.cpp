// Axis-aligned bounding boxes: built from points and grown point by point.
#include "bbox.h"

RwBBox *RwBBoxInitialize(RwBBox *box, const RwV3d *point)
{
    box->sup = *point;
    box->inf = *point;
    return box;
}

RwBBox *RwBBoxAddPoint(RwBBox *box, const RwV3d *point)
{
    if (point->x < box->inf.x) box->inf.x = point->x;
    if (point->y < box->inf.y) box->inf.y = point->y;
    if (point->z < box->inf.z) box->inf.z = point->z;
    if (point->x > box->sup.x) box->sup.x = point->x;
    if (point->y > box->sup.y) box->sup.y = point->y;
    if (point->z > box->sup.z) box->sup.z = point->z;
    return box;
}

// An empty point set gives a box at the origin rather than garbage.
RwBBox *RwBBoxCalculate(RwBBox *box, const RwV3d *points, RwInt32 count)
{
    if (count <= 0) {
        const RwV3d origin = {0.0f, 0.0f, 0.0f};
        return RwBBoxInitialize(box, &origin);
    }
    RwBBoxInitialize(box, &points[0]);
    for (RwInt32 i = 1; i < count; ++i) {
        RwBBoxAddPoint(box, &points[i]);
    }
    return box;
}

RwBool RwBBoxContainsPoint(const RwBBox *box, const RwV3d *point)
{
    return point->x >= box->inf.x && point->x <= box->sup.x && point->y >= box->inf.y &&
           point->y <= box->sup.y && point->z >= box->inf.z && point->z <= box->sup.z;
}
