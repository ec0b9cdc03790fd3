// Tests of keyframe scheme 1: its mathematics against double precision and its `.anm` stream form.
#include <gtest/gtest.h>

#include <cmath>

#include "gfx/core/started_engine.h"
#include "quat_reference.h"
#include "support/hostile_reals.h"
#include "support/stream_bytes.h"

namespace {

void Attach()
{
    RwAnimPluginAttach();
    RwHAnimPluginAttach();
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Attach));

::testing::AssertionResult NearQuat(const RefQuat &e, const RwQuat &a, double tolerance)
{
    const double d = std::fabs(e.x - a.x) + std::fabs(e.y - a.y) + std::fabs(e.z - a.z) + std::fabs(e.w - a.w);
    if (d <= tolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "expected (" << e.x << ", " << e.y << ", " << e.z << ", " << e.w
                                         << ") got (" << a.x << ", " << a.y << ", " << a.z << ", " << a.w << ")";
}

RwHAnimKeyFrame Key(RwReal time, RwQuat q, RwV3d t = {0, 0, 0}) { return {nullptr, time, q, t}; }

TEST(HAnimKeyFrame, InterpolatesTheShortWayAndFlipsTheStoredSign)
{
    const RwReal h = std::sqrt(0.5f);
    RwHAnimKeyFrame k1 = Key(1.0f, {0, 0, 0, 1}, {0, 0, 0});
    RwHAnimKeyFrame k2 = Key(3.0f, {0, 0, -h, -h}, {4, 8, -2});   // 90 degrees about z, stored negated
    RwHAnimInterpFrame out;
    RwHAnimKeyFrameInterpolate(&out, &k1, &k2, 2.0f, nullptr);
    EXPECT_TRUE(NearQuat({0, 0, std::sin(0.39269908169872414), std::cos(0.39269908169872414)}, out.q, 1e-6));
    EXPECT_TRUE(NearV3({2, 4, -1}, Ref(out.t), 1e-6));
    EXPECT_TRUE(NearQuat({0, 0, h, h}, k2.q, 0));
}

TEST(HAnimKeyFrame, CloseQuaternionsMixLinearlyAndEqualTimesGiveTheSecond)
{
    RwHAnimKeyFrame k1 = Key(0.0f, {0, 0, 0, 1});
    RwHAnimKeyFrame k2 = Key(1.0f, {0.04f, 0, 0, 0.9992f});   // dot 0.9992
    RwHAnimInterpFrame out;
    RwHAnimKeyFrameInterpolate(&out, &k1, &k2, 0.25f, nullptr);
    EXPECT_FLOAT_EQ(0.25f * 0.04f, out.q.x);
    EXPECT_FLOAT_EQ(0.75f + 0.25f * 0.9992f, out.q.w);
    k1.time = 1.0f;
    RwHAnimKeyFrameInterpolate(&out, &k1, &k2, 1.0f, nullptr);
    EXPECT_TRUE(NearQuat(Ref(k2.q), out.q, 0));
    RwHAnimInterpFrame a = {nullptr, nullptr, {0, 0, 0, 1}, {0, 0, 0}}, b = {nullptr, nullptr, {0, 0, 0, -1}, {2, 2, 2}};
    RwHAnimKeyFrameBlend(&out, &a, &b, 0.5f);
    EXPECT_TRUE(NearQuat({0, 0, 0, 1}, out.q, 1e-6));
    EXPECT_TRUE(NearV3({1, 1, 1}, Ref(out.t), 1e-6));
}

TEST(HAnimKeyFrame, MatrixAddAndInverseAgreeWithDoublePrecision)
{
    TestRandom random(121);
    for (int i = 0; i < 50; ++i) {
        RwHAnimInterpFrame a = {nullptr, nullptr, RandomQuat(random), RandomV3(random)};
        RwHAnimInterpFrame b = {nullptr, nullptr, RandomQuat(random), RandomV3(random)};
        RwMatrix m;
        RwHAnimKeyFrameToMatrix(&m, &a);
        EXPECT_TRUE(NearMatrix(RefFromQuat(Ref(a.q), Ref(a.t)), m, 1e-5));
        EXPECT_EQ(rwMATRIXTYPEORTHONORMAL, m.flags);
        RwHAnimInterpFrame sum;
        RwHAnimKeyFrameAdd(&sum, &a, &b);
        EXPECT_TRUE(NearQuat(RefMultiply(Ref(a.q), Ref(b.q)), sum.q, 1e-5));
        EXPECT_TRUE(NearV3(RefAdd(Ref(a.t), Ref(b.t)), Ref(sum.t), 1e-5));
        RwHAnimInterpFrame relative = sum;
        RwHAnimKeyFrameMulRecip(&relative, &a);     // a^-1 x (a x b) = b
        EXPECT_TRUE(NearQuat(Ref(b.q), relative.q, 1e-5));
        EXPECT_TRUE(NearV3(Ref(b.t), Ref(relative.t), 1e-5));
    }
}

// A scheme 1 animation chunk of one node, two keyframes: the second's
// previous offset is 40 (not a multiple of 36).
Bytes Scheme1Chunk(RwUInt32 secondOffset = 40, RwUInt32 version = 0x100, RwUInt32 scheme = 1, RwUInt32 count = 2)
{
    Build b;
    b.Header(0x1B, 20 + 72).U32(version).U32(scheme).U32(count).U32(0);
    PutReals(b.bytes, {2.0f});
    PutReals(b.bytes, {0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 2.0f, 3.0f});
    b.U32(0);
    PutReals(b.bytes, {2.0f, 0.0f, 0.0f, 1.0f, 0.0f, 4.0f, 5.0f, 6.0f});
    return b.U32(secondOffset);
}

RwAnimAnimation *ReadChunk(Bytes &bytes, size_t n = static_cast<size_t>(-1))
{
    return ReadChunkWith(bytes, 0x1B, RwAnimAnimationStreamRead, n);
}

TEST(HAnimKeyFrame, AnimationChunkReadsRoundsOffsetsAndWritesBack)
{
    Bytes bytes = Scheme1Chunk();
    RwAnimAnimation *a = ReadChunk(bytes);
    ASSERT_NE(nullptr, a);
    const RwHAnimKeyFrame *k = static_cast<RwHAnimKeyFrame *>(a->pFrames);
    EXPECT_EQ(&k[1], k[1].prevFrame);   // 40 rounds down to keyframe 1
    EXPECT_EQ(&k[0], k[0].prevFrame);
    EXPECT_FLOAT_EQ(2.0f, k[1].time);
    EXPECT_TRUE(NearQuat({0, 0, 1, 0}, k[1].q, 0));
    EXPECT_TRUE(NearV3({5, 6, 0}, Ref(RwV3d{k[1].t.y, k[1].t.z, 0}), 0));
    EXPECT_EQ(0, RwAnimAnimationGetNumNodes(a));   // keyframe 0 follows itself
    EXPECT_EQ(Scheme1Chunk(36), WrittenWith([&](RwStream *w) { return RwAnimAnimationStreamWrite(a, w); }));
    RwAnimAnimationDestroy(a);
}

TEST(HAnimKeyFrame, BadChunksFailPromptlyWithoutLeaks)
{
    const RwInt32 live = rwTestMemory.live;
    Bytes bytes = Scheme1Chunk();
    for (size_t n = 0; n < bytes.size(); ++n) {
        EXPECT_EQ(nullptr, ReadChunk(bytes, n)) << n;
    }
    auto found = [](RwStream *s) {
        return RwStreamFindChunk(s, 0x1B, nullptr, nullptr) ? RwAnimAnimationStreamRead(s) : nullptr;
    };
    ExpectCustomReadsAsMemory(bytes, found, RwAnimAnimationDestroy, "animation");
    const struct { Bytes bytes; RwUInt32 code; } cases[] = {
        {Scheme1Chunk(0, 0x101), E_RW_NOERROR},
        {Scheme1Chunk(0, 0x100, 0x55), E_RW_ANIMSCHEMEUNKNOWN},
        {Scheme1Chunk(0, 0x100, 1, 0xFFFFFFFF), E_RW_ANIMBADARGUMENT},
        {Scheme1Chunk(0, 0x100, 1, 0x03000000), E_RW_READ},   // more than the bytes hold
    };
    for (auto c : cases) {
        TakeError();
        EXPECT_EQ(nullptr, ReadChunk(c.bytes));
        EXPECT_EQ(c.code, static_cast<RwUInt32>(TakeError().errorCode));
        EXPECT_LT(rwTestMemory.lastSize, 1000u);
    }
    EXPECT_EQ(live, rwTestMemory.live);
}

TEST(HAnimKeyFrame, NonFiniteDurationsTimesRotationsOrTranslationsAreRefused)
{
    // The duration, then the second keyframe's time, quaternion w and translation z.
    const size_t second = 12 + 20 + 36;
    ExpectNonFiniteRefused(Scheme1Chunk(), {28, second, second + 16, second + 28}, [](RwStream *s) {
        return RwStreamFindChunk(s, 0x1B, nullptr, nullptr) ? RwAnimAnimationStreamRead(s) : nullptr;
    });
}

}  // namespace
