// Tests of the 32-bit value plug-in: its 4-byte block, zero writing nothing, copies and short or long blocks.
#include <gtest/gtest.h>

#include <functional>

#include "gfx/core/started_engine.h"
#include "gfx/plugins/int32data/int32data.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"
#include "support/stream_bytes.h"

namespace {

void Attach()
{
    ASSERT_TRUE(RwWorldPluginAttach());
    ASSERT_TRUE(RwInt32DataPluginAttach());
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Attach));

Bytes MaterialBytes(RwInt32 value)
{
    RwMaterial *m = RwMaterialCreate();
    RwInt32DataSet(m, rwKINDMATERIAL, value);
    Bytes bytes = WrittenWith([&](RwStream *s) { return RwMaterialStreamWrite(m, s); });
    RwMaterialDestroy(m);
    return bytes;
}

RwMaterial *ReadMaterial(Bytes &bytes) { return ReadChunkWith(bytes, 7, RwMaterialStreamRead); }

// A plain material chunk whose extension holds the given 0x137 payload.
Bytes MaterialWith(const Bytes &payload)
{
    const RwUInt32 n = static_cast<RwUInt32>(payload.size());
    Build b;
    b.Header(7, 12 + 28 + 12 + 12 + n).Header(1, 28).U32(0).U32(0xFFFFFFFF).U32(0).U32(0).U32(0).U32(0).U32(0);
    b.Header(3, 12 + n).Header(0x137, n);
    Bytes out = b;
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

TEST(Int32Data, ZeroWritesNoBlockAndNegativeValuesRoundTrip)
{
    const Bytes plain = MaterialBytes(0);
    EXPECT_EQ(Build().Header(3, 0).bytes, Bytes(plain.end() - 12, plain.end()));
    // The plain material with its chunk 16 bytes longer and the block added.
    Bytes expected(plain.begin(), plain.end() - 12);
    expected[4] += 16;
    expected.insert(expected.end(), {3, 0, 0, 0, 16, 0, 0, 0, 0x55, 0, 2, 0x1C, 0x37, 1, 0, 0, 4, 0, 0, 0, 0x55, 0, 2,
                                     0x1C, 0xFB, 0xFF, 0xFF, 0xFF});
    Bytes written = MaterialBytes(-5);
    EXPECT_EQ(expected, written);
    RwMaterial *m = ReadMaterial(written);
    ASSERT_NE(nullptr, m);
    EXPECT_EQ(-5, RwInt32DataGet(m, rwKINDMATERIAL));
    RwMaterialDestroy(m);
}

TEST(Int32Data, ShortBlocksFailAndLongOnesAreSkipped)
{
    const RwInt32 live = rwTestMemory.live;
    for (RwUInt32 n = 0; n < 4; ++n) {
        Bytes bytes = MaterialWith(Bytes(n, 0x11));
        EXPECT_EQ(nullptr, ReadMaterial(bytes)) << n;
        EXPECT_EQ(live, rwTestMemory.live);
    }
    TakeError();
    Bytes bytes = MaterialWith(Build().U32(42).U32(0xDEADBEEF).U32(7));
    RwMaterial *m = ReadMaterial(bytes);
    ASSERT_NE(nullptr, m);
    EXPECT_EQ(42, RwInt32DataGet(m, rwKINDMATERIAL));
    RwMaterialDestroy(m);
}

TEST(Int32Data, EveryKindCarriesAndCopiesItsValue)
{
    const RwBBox box = {{1, 1, 1}, {-1, -1, -1}};
    RwWorld *w = RwWorldCreate(&box);
    RwGeometry *g = RwGeometryCreateEmpty(1.0f);
    RwFrame *f = RwFrameCreate();
    void *objects[] = {g, w->rootSector, f};
    const RwPluginObjectKind kinds[] = {rwKINDGEOMETRY, rwKINDWORLDSECTOR, rwKINDFRAME};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(0, RwInt32DataGet(objects[i], kinds[i]));
        RwInt32DataSet(objects[i], kinds[i], 100 + i);
        EXPECT_EQ(100 + i, RwInt32DataGet(objects[i], kinds[i]));
    }
    RwFrame *copy = RwFrameCloneHierarchy(f);
    EXPECT_EQ(102, RwInt32DataGet(copy, rwKINDFRAME));
    RwFrameDestroy(copy);
    RwFrameDestroy(f);
    RwGeometryDestroy(g);
    RwWorldDestroy(w);
}

}  // namespace
