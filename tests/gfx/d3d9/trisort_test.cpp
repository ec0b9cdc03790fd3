// Tests of strip conversion, triangle sort and index ranges.
#include <gtest/gtest.h>

#include <vector>

#include "gfx/d3d9/d3d9trisort.h"

namespace {

TEST(TriSort, StripBecomesListWithoutDegenerates)
{
    const RwUInt16 strip[] = {10, 11, 12, 12, 13, 14};
    RwUInt16 out[12] = {};
    // Triangles 0 (10 11 12) and 3 (12 13 14, odd: reversed) survive; 1 and 2 repeat 12.
    ASSERT_EQ(RwD3D9ConvertStripToList(out, strip, 6, 10), 6u);
    const RwUInt16 expected[] = {0, 1, 2, 4, 3, 2};
    EXPECT_EQ(std::vector<RwUInt16>(out, out + 6), std::vector<RwUInt16>(expected, expected + 6));
    const RwUInt16 five[] = {0, 1, 2, 3, 3};
    EXPECT_EQ(RwD3D9ConvertStripToList(out, five, 5, 0), 6u);
    EXPECT_EQ(std::vector<RwUInt16>(out, out + 6), (std::vector<RwUInt16>{0, 1, 2, 3, 2, 1}));
    EXPECT_EQ(RwD3D9ConvertStripToList(out, five, 2, 0), 0u);
}

TEST(TriSort, TrianglesSortBySortedCorners)
{
    RwUInt16 list[] = {0, 1, 3, 2, 1, 0, 0, 1, 2, 5, 4, 4};
    RwD3D9SortTriangles(list, 12);
    // (2,1,0) and (0,1,2) are equal keys; both come before (0,1,3), then (4,4,5).
    for (int t = 0; t < 2; t++) {
        const int s = list[3 * t] + list[3 * t + 1] + list[3 * t + 2];
        EXPECT_EQ(s, 3);
        EXPECT_EQ(list[3 * t + 1], 1);
    }
    EXPECT_EQ(std::vector<RwUInt16>(list + 6, list + 12), (std::vector<RwUInt16>{0, 1, 3, 5, 4, 4}));

    // Exactly two triangles, out of order, swap whole; one stays as it is.
    RwUInt16 pair[] = {6, 8, 7, 2, 1, 3};
    RwD3D9SortTriangles(pair, 6);
    EXPECT_EQ(std::vector<RwUInt16>(pair, pair + 6), (std::vector<RwUInt16>{2, 1, 3, 6, 8, 7}));
    RwUInt16 one[] = {5, 3, 4};
    RwD3D9SortTriangles(one, 3);
    EXPECT_EQ(std::vector<RwUInt16>(one, one + 3), (std::vector<RwUInt16>{5, 3, 4}));
}

TEST(TriSort, IndexRange)
{
    const RwUInt16 indices[] = {7, 3, 9, 3};
    RwUInt32 count = 99, min = 99;
    RwD3D9GetIndexRange(indices, 4, &count, &min);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(min, 3u);
    RwD3D9GetIndexRange(indices, 0, &count, &min);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(min, 0u);
}

}  // namespace
