// Tests of the skin plug-in: the skin chunk in geometry streams, the older atomic layout, types and copies.
#include <gtest/gtest.h>

#include <vector>

#include "gfx/core/pluginstream.h"
#include "gfx/core/started_engine.h"
#include "gfx/plugins/skin/skin.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/world.h"
#include "support/hostile_reals.h"
#include "support/stream_bytes.h"

namespace {

void Attach()
{
    ASSERT_TRUE(RwWorldPluginAttach());
    ASSERT_TRUE(RwSkinPluginAttach());
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Attach));

RwUInt32 Bits(float f)
{
    RwUInt32 u;
    std::memcpy(&u, &f, 4);
    return u;
}

// Skin payload: header word, used list, per vertex an index word and four
// weights, per bone a matrix (translation b on x), then the split data.
struct SkinChunk {
    RwUInt32 bones = 2, used = 2, maxWeights = 2;
    std::vector<RwUInt8> usedList = {0, 1};
    std::vector<RwUInt32> indices = {0x00000100, 0x00000001, 0x00000000};
    std::vector<std::vector<float>> weights = {{0.75f, 0.25f, 0, 0}, {0.2f, 0.5f, 0.3f, 0}, {1, 0, 0, 0}};
    std::vector<RwUInt32> split = {0, 0, 0};
    std::vector<RwUInt8> splitBlock;

    Bytes Payload() const
    {
        Build b;
        b.U32(bones | used << 8 | maxWeights << 16);
        b.bytes.insert(b.bytes.end(), usedList.begin(), usedList.end());
        for (RwUInt32 w : indices) {
            b.U32(w);
        }
        for (const auto &w : weights) {
            PutReals(b.bytes, {w[0], w[1], w[2], w[3]});
        }
        for (RwUInt32 i = 0; i < bones; ++i) {
            PutReals(b.bytes, {1, 0, 0});
            b.U32(3);
            PutReals(b.bytes, {0, 1, 0, 0, 0, 0, 1, 0, float(i), 0, 0, 0});
        }
        for (RwUInt32 w : split) {
            b.U32(w);
        }
        b.bytes.insert(b.bytes.end(), splitBlock.begin(), splitBlock.end());
        return b;
    }
};

// A geometry chunk body (after its header): three vertices, no triangles,
// one morph target with positions, no materials, then the extension.
Bytes Geometry(const Bytes &skin, RwUInt32 numVertices = 3, RwUInt32 format = 0x02)
{
    Build b;
    b.Header(1, 16 + 24 + 12 * numVertices).U32(format).U32(0).U32(numVertices).U32(1);
    b.U32(0).U32(0).U32(0).U32(0).U32(1).U32(0);
    for (RwUInt32 i = 0; i < 3 * numVertices; ++i) {
        b.U32(Bits(float(i)));
    }
    b.Header(8, 12 + 4).Header(1, 4).U32(0);
    if (skin.empty()) {
        b.Header(3, 0);
        return b;
    }
    b.Header(3, 12 + static_cast<RwUInt32>(skin.size())).Header(0x116, static_cast<RwUInt32>(skin.size()));
    Bytes out = b;
    out.insert(out.end(), skin.begin(), skin.end());
    return out;
}

// The payload of the last skin chunk in written bytes (empty when none).
Bytes SkinPayload(const Bytes &written)
{
    for (size_t at = written.size() >= 12 ? written.size() - 12 : 0; at-- > 0;) {
        if (written[at] == 0x16 && written[at + 1] == 0x01 && written[at + 2] == 0 && written[at + 3] == 0 &&
            written[at + 8] == 0x55 && written[at + 11] == 0x1C) {
            return Bytes(written.begin() + at + 12, written.end());
        }
    }
    return Bytes();
}

class Skin : public ::testing::Test {
protected:
    void SetUp() override
    {
        TakeError();
        blocks = rwTestMemory.live;
    }
    void TearDown() override { EXPECT_LE(rwTestMemory.live, blocks) << "blocks leaked"; }
    static RwGeometry *Read(Bytes bytes, size_t n = static_cast<size_t>(-1))
    {
        return ReadWith(bytes, RwGeometryStreamRead, n);
    }
    static Bytes Written(const RwGeometry *g)
    {
        return WrittenWith([&](RwStream *w) { return RwGeometryStreamWrite(g, w); });
    }
    RwInt32 blocks = 0;
};

TEST_F(Skin, HandAssembledChunkReadsSortedAndWritesBack)
{
    SkinChunk c;
    c.indices[2] = 0xFFFFFF00;              // stray bones of unweighted slots become bone 0
    RwGeometry *g = Read(Geometry(c.Payload()));
    ASSERT_NE(nullptr, g);
    RwSkin *skin = RwSkinGeometryGetSkin(g);
    ASSERT_NE(nullptr, skin);
    EXPECT_EQ(2u, skin->numBones);
    EXPECT_EQ(2u, skin->maxWeights);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(skin->skinToBoneMatrices) % 16);
    EXPECT_EQ(1.0f, RwSkinGetSkinToBoneMatrices(skin)[1].pos.x);
    // (0.2, 0.5, 0.3, 0) on bones (1, 0, 0, 0) sorts to (0.5, 0.3, 0.2, 0) on (0, 0, 1, 0).
    const RwReal *w = skin->vertexBoneWeights + 4;
    EXPECT_EQ(0.5f, w[0]);
    EXPECT_EQ(0.3f, w[1]);
    EXPECT_EQ(0.2f, w[2]);
    EXPECT_EQ(0.0f, w[3]);
    EXPECT_EQ(0x00010000u, skin->vertexBoneIndices[1]);
    EXPECT_EQ(0x00000100u, skin->vertexBoneIndices[0]);     // already in order
    EXPECT_EQ(0u, skin->vertexBoneIndices[2]);
    EXPECT_EQ(RwSkinGeometryStreamGetSize(g), static_cast<RwInt32>(c.Payload().size()));
    // Written back the sorted vertex comes out sorted; everything else as read.
    c.indices = {0x00000100, 0x00010000, 0};
    c.weights[1] = {0.5f, 0.3f, 0.2f, 0};
    EXPECT_EQ(c.Payload(), SkinPayload(Written(g)));
    RwGeometryDestroy(g);
    // Without a skin nothing is written.
    g = Read(Geometry({}));
    ASSERT_NE(nullptr, g);
    EXPECT_EQ(0, RwSkinGeometryStreamGetSize(g));
    EXPECT_EQ(Bytes(), SkinPayload(Written(g)));
    RwGeometryDestroy(g);
}

TEST_F(Skin, SplitDataAndComputedCountsRoundTrip)
{
    SkinChunk c;
    c.bones = 3;
    c.maxWeights = 0;                       // computed: 3
    c.used = 0;                             // computed from the weights
    c.usedList.clear();
    c.indices = {0x00000102, 0x00000001, 0x00010200};
    c.weights = {{0.6f, 0.4f, 0, 0}, {0.2f, 0.5f, 0.3f, 0}, {1, 0, 0, 0}};
    c.split = {2, 1, 2};
    c.splitBlock = {0, 1, 7, /*mesh*/ 0, 2, /*runs*/ 0, 1, 1, 1};
    RwGeometry *g = Read(Geometry(c.Payload()));
    ASSERT_NE(nullptr, g);
    RwSkin *skin = RwSkinGeometryGetSkin(g);
    EXPECT_EQ(3u, skin->maxWeights);
    ASSERT_EQ(3u, skin->numUsedBones);
    EXPECT_EQ(0, skin->usedBones[0]);       // first use order was 2, 1, 0 then sorted
    EXPECT_EQ(2, skin->usedBones[2]);
    EXPECT_EQ(2.0f, skin->skinToBoneMatrices[2].pos.x) << "used list ran into the matrices";
    EXPECT_EQ(2u, skin->boneLimit);
    EXPECT_EQ(1u, skin->numMeshes);
    EXPECT_EQ(7, skin->boneRemap[2]);
    EXPECT_EQ(1, skin->runs[2]);
    Bytes once = Written(g);
    RwGeometry *again = Read(Bytes(once.begin() + 12, once.end()));
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(once, Written(again));
    RwGeometryDestroy(again);
    RwGeometryDestroy(g);
}

TEST_F(Skin, TruncatedAndHostileChunksFailWithoutLeaks)
{
    std::vector<Bytes> cases;
    const Bytes good = SkinChunk().Payload();
    for (size_t n = 1; n < good.size(); ++n) {
        cases.push_back(Bytes(good.begin(), good.begin() + n));     // headers agree with the short payload
    }
    auto with = [](auto change) {
        SkinChunk c;
        change(c);
        return c.Payload();
    };
    cases.push_back(with([](SkinChunk &c) { c.maxWeights = 5; }));
    cases.push_back(with([](SkinChunk &c) { c.indices[0] = 0x00000200; }));    // weighted slot on bone 2 of 2
    cases.push_back(with([](SkinChunk &c) { c.usedList[1] = 2; }));
    cases.push_back(good);
    cases.back()[0] = 255;                                                      // matrices beyond the chunk
    cases.push_back(with([](SkinChunk &c) { c.split = {2, 0x7FFFFFFF, 0x7FFFFFFF}; }));
    cases.push_back(with([](SkinChunk &c) { c.split = {2, 1, 0xFFFFFFFF}; }));
    auto split = [&](std::vector<RwUInt32> head, std::vector<RwUInt8> block) {
        return with([&](SkinChunk &c) {
            c.split = head;
            c.splitBlock = block;
        });
    };
    cases.push_back(split({2, 1, 1}, {0, 1, 0, 2, 0, 1}));         // mesh names runs past the table
    cases.push_back(split({2, 1, 1}, {0, 1, 0, 1, 1, 2}));         // run past the bones
    cases.push_back(split({1, 1, 1}, {0, 1, 0, 1, 0, 2}));         // remapped slot 1 at the limit 1
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(nullptr, Read(Geometry(cases[i]))) << "case " << i;
        EXPECT_EQ(E_RW_READ, TakeErrorCode()) << "case " << i;
    }
    EXPECT_EQ(nullptr, Read(Geometry(good, 3, 0x01000002))) << "native geometry";
    const Bytes whole = Geometry(good);
    for (size_t n = 0; n < whole.size(); ++n) {
        EXPECT_EQ(nullptr, Read(whole, n)) << "cut at " << n;
    }
    TakeError();
}

TEST_F(Skin, NonFiniteWeightsOrSkinToBoneMatricesAreRefused)
{
    const Bytes payload = SkinChunk().Payload();
    const Bytes bytes = Geometry(payload);
    // Behind the head, two used bones and three index words: the weights,
    // then the matrices.
    const size_t weights = bytes.size() - payload.size() + 4 + 2 + 12, matrices = weights + 48;
    ExpectNonFiniteRefused(bytes, {weights + 4 * 5, matrices, matrices + 64 + 48}, RwGeometryStreamRead);
}

// An atomic chunk body with the geometry from the list and these extension chunks.
Bytes Atomic(const Bytes &extension)
{
    Build b;
    b.Header(1, 16).U32(0).U32(0).U32(5).U32(0).Header(3, static_cast<RwUInt32>(extension.size()));
    Bytes out = b;
    out.insert(out.end(), extension.begin(), extension.end());
    return out;
}

RwAtomic *ReadAtomic(Bytes bytes, RwGeometry *geometry)
{
    RwFrameList frames = {nullptr, 0};
    RwGeometryList geometries = {&geometry, 1};
    return ReadWith(bytes, [&](RwStream *s) { return RwAtomicStreamRead(s, &frames, &geometries); });
}

TEST_F(Skin, OlderAtomicLayoutSkinsABareGeometry)
{
    Build old;
    old.U32(2).U32(0xDEAD).U32(0x00000001).U32(0x00000100).U32(0);
    PutReals(old.bytes, {0.2f, 0.8f, 0, 0, 0.4f, 0.6f, 0, 0, 1, 0, 0, 0});
    for (int b = 0; b < 2; ++b) {
        old.U32(0).U32(0).U32(0);
        PutReals(old.bytes, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 0, 0, 0});
    }
    Bytes chunk = Build().Header(0x116, static_cast<RwUInt32>(old.bytes.size()));
    chunk.insert(chunk.end(), old.bytes.begin(), old.bytes.end());
    RwGeometry *g = Read(Geometry({}));
    RwAtomic *a = ReadAtomic(Atomic(chunk), g);
    ASSERT_NE(nullptr, a);
    RwSkin *skin = RwSkinGeometryGetSkin(g);
    ASSERT_NE(nullptr, skin);
    EXPECT_EQ(2u, skin->maxWeights);
    EXPECT_EQ(2u, skin->numUsedBones);
    EXPECT_EQ(0x00000001u << 8, skin->vertexBoneIndices[0]);   // 0.8 on bone 0 first
    EXPECT_EQ(5.0f, skin->skinToBoneMatrices[1].pos.x);
    EXPECT_EQ(rwSKINTYPEGENERIC, RwSkinAtomicGetType(a));
    // A geometry that has a skin keeps it; a hostile bone count fails.
    RwAtomic *b = ReadAtomic(Atomic(chunk), g);
    EXPECT_EQ(skin, RwSkinGeometryGetSkin(g));
    RwAtomicDestroy(b);
    RwGeometry *bare = Read(Geometry({}));
    Bytes hostile = chunk;
    hostile[12 + 1] = 0x01;                 // 258 bones
    EXPECT_EQ(nullptr, ReadAtomic(Atomic(hostile), bare));
    EXPECT_EQ(nullptr, RwSkinGeometryGetSkin(bare));
    TakeError();
    RwGeometryDestroy(bare);
    RwAtomicDestroy(a);
    RwGeometryDestroy(g);
}

TEST_F(Skin, RightsTypesFallBackAndCopiesKeepOrDropTheirData)
{
    RwGeometry *g = Read(Geometry(SkinChunk().Payload()));
    RwHAnimHierarchy *h = reinterpret_cast<RwHAnimHierarchy *>(0x1000);
    for (RwUInt32 type : {1u, 2u, 3u, 0u, 7u}) {
        Bytes rights = Build().Header(0x1F, 8).U32(0x116).U32(type);
        RwAtomic *a = ReadAtomic(Atomic(rights), g);
        ASSERT_NE(nullptr, a);
        EXPECT_EQ(rwSKINTYPEGENERIC, RwSkinAtomicGetType(a)) << type;  // no material effects or toon here
        RwSkinAtomicSetHAnimHierarchy(a, h);
        RwAtomic *clone = RwAtomicClone(a);
        EXPECT_EQ(h, RwSkinAtomicGetHAnimHierarchy(clone));
        RwAtomicDestroy(clone);
        RwAtomicDestroy(a);
    }
    RwAtomic *plain = RwAtomicCreate();
    EXPECT_EQ(0, RwSkinAtomicGetType(plain));
    EXPECT_EQ(nullptr, RwSkinAtomicGetHAnimHierarchy(plain));
    RwAtomicDestroy(plain);
    RwGeometry *copy = Read(Geometry({}));
    RwPluginRegistryCopyObject(RwGeometryGetPluginRegistry(), copy, g);
    EXPECT_EQ(nullptr, RwSkinGeometryGetSkin(copy));
    RwGeometryDestroy(copy);
    RwGeometryDestroy(g);
}

} // namespace
