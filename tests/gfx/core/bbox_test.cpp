#include <gtest/gtest.h>

#include "gfx/core/bbox.h"

namespace {

TEST(BBox, CalculateSpansAllPoints)
{
    const RwV3d pts[4] = {{1, 2, 3}, {-1, 5, 0}, {4, -2, 1}, {0, 0, 9}};
    RwBBox box;
    EXPECT_EQ(&box, RwBBoxCalculate(&box, pts, 4));
    EXPECT_EQ(4.0f, box.sup.x);
    EXPECT_EQ(5.0f, box.sup.y);
    EXPECT_EQ(9.0f, box.sup.z);
    EXPECT_EQ(-1.0f, box.inf.x);
    EXPECT_EQ(-2.0f, box.inf.y);
    EXPECT_EQ(0.0f, box.inf.z);
}

TEST(BBox, SinglePointGivesDegenerateBox)
{
    const RwV3d p = {1, -2, 3};
    RwBBox box;
    RwBBoxCalculate(&box, &p, 1);
    EXPECT_EQ(box.sup.x, box.inf.x);
    EXPECT_EQ(-2.0f, box.sup.y);
    EXPECT_EQ(-2.0f, box.inf.y);
}

TEST(BBox, EmptyPointSetGivesBoxAtOrigin)
{
    RwBBox box = {{7, 7, 7}, {7, 7, 7}};
    RwBBoxCalculate(&box, nullptr, 0);
    EXPECT_EQ(0.0f, box.sup.x);
    EXPECT_EQ(0.0f, box.inf.z);
}

TEST(BBox, AddPointGrowsOnlyWhereOutside)
{
    const RwV3d a = {0, 0, 0};
    RwBBox box;
    RwBBoxInitialize(&box, &a);
    const RwV3d b = {2, -1, 0};
    EXPECT_EQ(&box, RwBBoxAddPoint(&box, &b));
    EXPECT_EQ(2.0f, box.sup.x);
    EXPECT_EQ(0.0f, box.sup.y);
    EXPECT_EQ(-1.0f, box.inf.y);
    EXPECT_EQ(0.0f, box.inf.x);
    EXPECT_TRUE(RwBBoxContainsPoint(&box, &b));
    const RwV3d c = {3, 0, 0};
    EXPECT_FALSE(RwBBoxContainsPoint(&box, &c));
}

}  // namespace
