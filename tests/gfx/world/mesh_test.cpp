#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <vector>

#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/world/material.h"
#include "gfx/world/mesh.h"
#include "support/test_random.h"
#include "world_modules.h"

namespace {

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(RegisterMeshModule));

typedef std::array<RwUInt16, 3> Tri;

// A triangle turned so that its smallest index comes first, winding kept.
Tri Canonical(RwUInt16 a, RwUInt16 b, RwUInt16 c)
{
    if (b < a && b < c) {
        return {b, c, a};
    }
    if (c < a && c < b) {
        return {c, a, b};
    }
    return {a, b, c};
}

// (material, triangle) pairs that a header draws, degenerate ones left out.
typedef std::multiset<std::pair<const RwMaterial *, Tri>> TriSet;

TriSet Drawn(RwMeshHeader *header)
{
    TriSet out;
    RwMesh *meshes = RwMeshHeaderGetMeshes(header);
    for (RwUInt32 m = 0; m < header->numMeshes; ++m) {
        const RwUInt16 *v = meshes[m].indices;
        const RwUInt32 n = meshes[m].numIndices;
        const bool strip = header->flags == rwMESHHEADERTRISTRIP;
        for (RwUInt32 k = 0; k + 2 < n; k += strip ? 1 : 3) {
            RwUInt16 a = v[k], b = v[k + 1], c = v[k + 2];
            if (strip && (k & 1)) {
                std::swap(a, b);
            }
            if (a != b && b != c && a != c) {
                out.insert({meshes[m].material, Canonical(a, b, c)});
            }
        }
    }
    return out;
}

class Mesh : public ::testing::Test {
protected:
    void SetUp() override
    {
        TakeError();
        live = rwTestMemory.live;
        for (RwMaterial &m : mats) {
            m = RwMaterial();
            m.color = {255, 255, 255, 255};
        }
    }
    void TearDown() override
    {
        rwTestMemory.failHint = 0;
        EXPECT_LE(rwTestMemory.live, live) << "blocks leaked";   // emptied free-list blocks may go
    }
    // A builder of the triangles, each with its material's index as key k1.
    RwMeshBuilder *Builder(const std::vector<std::pair<int, Tri>> &tris)
    {
        RwMeshBuilder *b = RwMeshBuilderCreate(static_cast<RwInt32>(tris.size()));
        for (const auto &t : tris) {
            RwMeshBuilderAddTriangle(b, &mats[t.first], t.second[0], t.second[1], t.second[2],
                                     static_cast<RwUInt16>(t.first), 0, 0, 0);
        }
        return b;
    }
    RwInt32 live = 0;
    RwMaterial mats[4];
};

TEST_F(Mesh, ZeroTrianglesGiveTheSharedEmptyHeader)
{
    RwMeshHeader *h = RwMeshHeaderBuild(RwMeshBuilderCreate(0), rwMESHHEADERTRISTRIP);
    EXPECT_EQ(RwMeshHeaderGetEmpty(), h);
    EXPECT_EQ(0u, h->numMeshes + h->flags + h->totalIndicesInMesh + h->serialNum);
    EXPECT_TRUE(RwMeshHeaderDestroy(h));
    EXPECT_EQ(nullptr, RwMeshHeaderBuild(nullptr, 0));
}

TEST_F(Mesh, SmallStripCases)
{
    struct Case {
        std::vector<std::pair<int, Tri>> tris;
        std::vector<RwUInt16> strip;
    } cases[] = {
        {{{0, {4, 5, 6}}}, {4, 5, 6}},
        {{{0, {0, 1, 2}}, {0, {2, 1, 3}}}, {3, 2, 1, 0}},
        // Sharing (1, 2) in the same direction: no neighbours, so two strips
        // bridged by degenerate triangles.
        {{{0, {0, 1, 2}}, {0, {1, 2, 3}}}, {1, 2, 3, 3, 0, 0, 0, 1, 2}},
    };
    for (const Case &c : cases) {
        RwMeshHeader *h = RwMeshHeaderBuild(Builder(c.tris), rwMESHHEADERTRISTRIP);
        ASSERT_NE(nullptr, h);
        EXPECT_EQ(rwMESHHEADERTRISTRIP, h->flags);
        ASSERT_EQ(1u, h->numMeshes);
        RwMesh *m = RwMeshHeaderGetMeshes(h);
        EXPECT_EQ(c.strip, std::vector<RwUInt16>(m->indices, m->indices + m->numIndices));
        EXPECT_EQ(h->totalIndicesInMesh, m->numIndices);
        RwMeshHeaderDestroy(h);
    }
}

TEST_F(Mesh, ListsPutTrianglesThatShareNoVertexFirst)
{
    RwMeshHeader *h = RwMeshHeaderBuild(Builder({{0, {0, 1, 2}}, {0, {2, 3, 4}}, {0, {5, 6, 7}}}), 0);
    ASSERT_NE(nullptr, h);
    RwMesh *m = RwMeshHeaderGetMeshes(h);
    EXPECT_EQ((std::vector<RwUInt16>{0, 1, 2, 5, 6, 7, 2, 3, 4}),
              std::vector<RwUInt16>(m->indices, m->indices + m->numIndices));
    EXPECT_EQ(9u, h->totalIndicesInMesh);
    RwMeshHeaderDestroy(h);
}

TEST_F(Mesh, TransparentMaterialsComeLastThenKeysDecide)
{
    RwRaster raster = RwRaster();
    RwTexture texture = RwTexture();
    texture.raster = &raster;
    mats[0].color.alpha = 254;
    mats[3].texture = &texture;
    for (RwUInt8 format : {0x01, 0x03, 0x05}) {
        raster.cFormat = format;
        EXPECT_TRUE(RwMaterialIsTransparent(&mats[3])) << int(format);
    }
    raster.cFormat = 0x02 | 0x80;   // 565, mip-mapped
    EXPECT_FALSE(RwMaterialIsTransparent(&mats[3]));
    // Keys: material 1 has the larger k1, material 2 the larger k3; k3 counts
    // more, so 1 comes before 2; 0 is transparent and comes last.
    RwMeshBuilder *b = RwMeshBuilderCreate(1);   // grows past its room
    RwMeshBuilderAddTriangle(b, &mats[0], 0, 1, 2, 0, 0, 0, 0);
    RwMeshBuilderAddTriangle(b, &mats[2], 0, 1, 2, 0, 0, 1, 0);
    RwMeshBuilderAddTriangle(b, &mats[1], 0, 1, 2, 9, 0, 0, 0);
    RwMeshBuilderAddTriangle(b, &mats[3], 0, 1, 2, 5, 0, 0, 0);
    EXPECT_EQ(4, b->capacity);
    RwMeshHeader *h = RwMeshHeaderBuild(b, 0);
    ASSERT_EQ(4u, h->numMeshes);
    RwMesh *m = RwMeshHeaderGetMeshes(h);
    EXPECT_EQ(&mats[3], m[0].material);
    EXPECT_EQ(&mats[1], m[1].material);
    EXPECT_EQ(&mats[2], m[2].material);
    EXPECT_EQ(&mats[0], m[3].material);
    RwMeshHeaderDestroy(h);
}

TEST_F(Mesh, SerialNumbersAndPrimitiveTables)
{
    RwMeshHeader *a = RwMeshHeaderBuild(Builder({{0, {0, 1, 2}}}), 0);
    RwMeshHeader *b = RwMeshHeaderBuild(Builder({{0, {0, 1, 2}}}), 1);
    EXPECT_EQ(a->serialNum + 1, b->serialNum);
    RwMeshHeaderDestroy(a);
    RwMeshHeaderDestroy(b);
    const std::pair<RwUInt32, RwInt32> table[] = {{0, 3}, {1, 4}, {2, 5}, {4, 1}, {8, 2}, {16, 6}};
    for (const auto &t : table) {
        EXPECT_EQ(t.second, RwMeshTypeGetPrimitive(t.first));
        EXPECT_EQ(t.first, RwMeshPrimitiveGetType(t.second));
    }
    EXPECT_EQ(0, RwMeshTypeGetPrimitive(3));
}

TEST_F(Mesh, AllocationFailuresLeaveTheBuilderToTheCaller)
{
    for (RwUInt32 hint : {rwMEMHINT_MESHTEMP, rwMEMHINT_MESH}) {
        for (RwUInt32 flags : {0u, 1u}) {
            RwMeshBuilder *b = Builder({{0, {0, 1, 2}}, {1, {2, 1, 3}}});
            rwTestMemory.failHint = hint;
            EXPECT_EQ(nullptr, RwMeshHeaderBuild(b, flags));
            EXPECT_EQ(E_RW_NOMEM, TakeErrorCode());
            rwTestMemory.failHint = 0;
            RwMeshBuilderDestroy(b);
        }
    }
    rwTestMemory.failHint = rwMEMHINT_MESHARRAY;
    EXPECT_EQ(nullptr, RwMeshBuilderCreate(5));
    RwMeshBuilder *b = RwMeshBuilderCreate(0);
    EXPECT_EQ(nullptr, RwMeshBuilderAddTriangle(b, &mats[0], 0, 1, 2, 0, 0, 0, 0));
    EXPECT_EQ(0, b->numTriangles);
    RwMeshBuilderDestroy(b);
}

// Random patches of a triangulated grid, some triangles turned over and
// materials mixed: every header draws exactly the input triangles with their
// windings, whatever the builder and the strip mode.
TEST_F(Mesh, HeadersDrawExactlyTheInputTriangles)
{
    TestRandom rnd(1234);
    for (int round = 0; round < 200; ++round) {
        const int w = 2 + rnd.Below(7), h = 2 + rnd.Below(7);
        std::vector<std::pair<int, Tri>> tris;
        for (int y = 0; y + 1 < h; ++y) {
            for (int x = 0; x + 1 < w; ++x) {
                const RwUInt16 a = y * w + x, b = a + 1, c = a + w, d = c + 1;
                for (Tri t : {Tri{a, c, b}, Tri{b, c, d}}) {
                    if (rnd.Below(5) == 0) {
                        continue;
                    }
                    if (rnd.Below(6) == 0) {
                        std::swap(t[1], t[2]);
                    }
                    tris.push_back({static_cast<int>(rnd.Below(round % 3 + 1)), t});
                }
            }
        }
        TriSet expected;
        for (const auto &t : tris) {
            expected.insert({&mats[t.first], Canonical(t.second[0], t.second[1], t.second[2])});
        }
        for (RwUInt32 mode : {0u, 1u}) {
            RwMeshSetStripBuilder(RwMeshBuildTriStrips, mode);
            for (RwUInt32 flags : {0u, 1u}) {
                RwMeshHeader *header = RwMeshHeaderBuild(Builder(tris), flags);
                ASSERT_NE(nullptr, header);
                EXPECT_EQ(expected, Drawn(header)) << "round " << round << " mode " << mode << " flags " << flags;
                std::set<const RwMaterial *> seen;
                for (RwUInt32 m = 0; m < header->numMeshes; ++m) {
                    EXPECT_TRUE(seen.insert(RwMeshHeaderGetMeshes(header)[m].material).second);
                }
                RwMeshHeaderDestroy(header);
            }
        }
        RwMeshSetStripBuilder(nullptr, 0);
    }
}

}  // namespace
