#include <gtest/gtest.h>

#include "gfx/core/bbox.h"

namespace {

bool SameV3(const RwV3d &a, const RwV3d &b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

TEST(BBox, CalculateSpansThePointsPerAxis)
{
    const RwV3d pts[4] = {{1, 2, 3}, {-1, 5, 0}, {4, -2, 1}, {0, 0, 9}};
    const struct {
        RwInt32 count;
        RwV3d sup, inf;
    } cases[] = {
        {4, {4, 5, 9}, {-1, -2, 0}},
        {1, {1, 2, 3}, {1, 2, 3}},
        {0, {0, 0, 0}, {0, 0, 0}},   // no points: a box at the origin, not garbage
    };
    for (const auto &c : cases) {
        RwBBox box = {{7, 7, 7}, {7, 7, 7}};
        EXPECT_EQ(&box, RwBBoxCalculate(&box, pts, c.count));
        EXPECT_TRUE(SameV3(c.sup, box.sup)) << c.count;
        EXPECT_TRUE(SameV3(c.inf, box.inf)) << c.count;
    }
}

TEST(BBox, AddPointGrowsOnlyWhereOutside)
{
    const RwV3d a = {0, 0, 0}, b = {2, -1, 0}, c = {3, 0, 0};
    RwBBox box;
    RwBBoxInitialize(&box, &a);
    EXPECT_EQ(&box, RwBBoxAddPoint(&box, &b));
    EXPECT_TRUE(SameV3({2, 0, 0}, box.sup));
    EXPECT_TRUE(SameV3({0, -1, 0}, box.inf));
    EXPECT_TRUE(RwBBoxContainsPoint(&box, &b));
    EXPECT_FALSE(RwBBoxContainsPoint(&box, &c));
}

// Points on each of the six faces lie inside; a step beyond any face does not.
TEST(BBox, ContainsPointsOnEveryFace)
{
    const RwBBox box = {{1, 2, 3}, {-1, -2, -3}};
    RwReal RwV3d::*const axes[3] = {&RwV3d::x, &RwV3d::y, &RwV3d::z};
    for (int axis = 0; axis < 3; axis++) {
        for (int side = 0; side < 2; side++) {
            RwV3d on = {0, 0, 0};
            on.*axes[axis] = side ? box.sup.*axes[axis] : box.inf.*axes[axis];
            EXPECT_TRUE(RwBBoxContainsPoint(&box, &on)) << axis << " " << side;
            on.*axes[axis] += side ? 0.5f : -0.5f;
            EXPECT_FALSE(RwBBoxContainsPoint(&box, &on)) << axis << " " << side;
        }
    }
}

}  // namespace
