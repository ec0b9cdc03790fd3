// Tests of the keyframe animation toolkit: schemes, animations and their stream form, interpolators.
#include <gtest/gtest.h>

#include <cmath>

#include "gfx/core/engine.h"
#include "gfx/plugins/animation/anim.h"
#include "gfx/core/started_engine.h"
#include "support/test_random.h"

namespace {

// A scheme of one real per node, linear between keyframes.
struct ScalarKey {
    ScalarKey *prev;
    RwReal time;
    RwReal value;
};
struct ScalarSlot {
    ScalarKey *k1, *k2;
    RwReal value;
};
const RwInt32 kScalar = 0x77;

void ScalarInterpolate(void *out, void *a, void *b, RwReal time, void *)
{
    const ScalarKey *k1 = static_cast<ScalarKey *>(a), *k2 = static_cast<ScalarKey *>(b);
    const RwReal span = k2->time - k1->time;
    const RwReal u = span > 0 ? (time - k1->time) / span : 1.0f;
    static_cast<ScalarSlot *>(out)->value = k1->value + (k2->value - k1->value) * u;
}
void ScalarBlend(void *out, void *a, void *b, RwReal f)
{
    const RwReal va = static_cast<ScalarSlot *>(a)->value, vb = static_cast<ScalarSlot *>(b)->value;
    static_cast<ScalarSlot *>(out)->value = va + (vb - va) * f;
}
RwAnimInterpolatorInfo Scheme(RwInt32 id, RwInt32 custom = 0)
{
    return {id, sizeof(ScalarSlot), sizeof(ScalarKey), nullptr, ScalarBlend, ScalarInterpolate, nullptr, nullptr,
            nullptr, nullptr, nullptr, custom};
}

// Stands for a plug-in attached before the toolkit that registers its scheme
// from its own open, which runs before the toolkit's.
void *EarlyOpen(void *instance, RwInt32, RwInt32)
{
    const RwAnimInterpolatorInfo info = Scheme(kScalar);
    return RwAnimRegisterKeyFrameScheme(&info) ? instance : nullptr;
}

void Attach()
{
    RwEngineRegisterPlugin(0, 0xF1, EarlyOpen, nullptr);
    RwAnimPluginAttach();
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Attach));

// Two nodes: node 0 keys at 0, 1, 2, 4 with value = time; node 1 keys at 0,
// 3, 4 with value = 10 x time. Later keyframes in the order of the time of
// the keyframe they follow.
RwAnimAnimation *MakeAnimation(RwReal duration = 4.0f)
{
    RwAnimAnimation *a = RwAnimAnimationCreate(kScalar, 7, 0, duration);
    ScalarKey *k = static_cast<ScalarKey *>(a->pFrames);
    const struct { RwReal time, value; int prev; } table[7] = {
        {0, 0, -1}, {0, 0, -1}, {1, 1, 0}, {3, 30, 1}, {2, 2, 2}, {4, 4, 4}, {4, 40, 3}};
    for (int i = 0; i < 7; ++i) {
        k[i] = {table[i].prev < 0 ? nullptr : &k[table[i].prev], table[i].time, table[i].value};
    }
    return a;
}

RwReal Value(RwAnimInterpolator *in, int node)
{
    return static_cast<ScalarSlot *>(RwAnimInterpolatorGetInterpFrame(in, node))->value;
}

struct Player {
    RwAnimAnimation *anim = MakeAnimation();
    RwAnimInterpolator *in = RwAnimInterpolatorCreate(2, sizeof(ScalarSlot));
    Player() { EXPECT_TRUE(RwAnimInterpolatorSetCurrentAnim(in, anim)); }
    ~Player()
    {
        RwFree(in);
        RwAnimAnimationDestroy(anim);
    }
    void ExpectAt(RwReal t)
    {
        EXPECT_NEAR(t, in->currentTime, 1e-5);
        EXPECT_NEAR(t, Value(in, 0), 1e-5);
        EXPECT_NEAR(10 * t, Value(in, 1), 1e-4);
    }
};

int loops = 0, timeCalls = 0;
RwAnimInterpolator *CountLoop(RwAnimInterpolator *in, void *) { return ++loops, in; }
RwAnimInterpolator *CountTime(RwAnimInterpolator *in, void *keep) { return ++timeCalls, keep ? in : nullptr; }

TEST(AnimScheme, EarlyRegistrationSurvivesOpenAndRestart)
{
    ASSERT_NE(nullptr, RwAnimGetInterpolatorInfo(kScalar));
    ASSERT_TRUE(RwEngineStop());
    ASSERT_TRUE(RwEngineStart());   // fails if the re-registration is refused
    EXPECT_NE(nullptr, RwAnimGetInterpolatorInfo(kScalar));
}

TEST(AnimScheme, SeventeenthAndDuplicateSchemesAreRefused)
{
    RwAnimInterpolatorInfo info = Scheme(kScalar);
    EXPECT_FALSE(RwAnimRegisterKeyFrameScheme(&info));
    EXPECT_EQ(E_RW_ANIMSCHEMEDUPLICATE, TakeError().errorCode);
    for (RwInt32 id = 100; id < 115; ++id) {
        info = Scheme(id, 8);
        ASSERT_TRUE(RwAnimRegisterKeyFrameScheme(&info)) << id;
    }
    info = Scheme(115);
    EXPECT_FALSE(RwAnimRegisterKeyFrameScheme(&info));
    EXPECT_EQ(E_RW_ANIMSCHEMETABLEFULL, TakeError().errorCode);
    RwAnimAnimation *a = RwAnimAnimationCreate(100, 3, 0, 1.0f);
    EXPECT_EQ(static_cast<RwUInt8 *>(a->pFrames) + 3 * sizeof(ScalarKey), a->customData);
    RwAnimAnimationDestroy(a);
}

TEST(AnimAnimation, CreateLaysOutCustomDataAndCountsNodes)
{
    RwAnimAnimation *a = MakeAnimation();
    EXPECT_EQ(nullptr, a->customData);
    EXPECT_EQ(2, RwAnimAnimationGetNumNodes(a));
    static_cast<ScalarKey *>(a->pFrames)->prev = static_cast<ScalarKey *>(a->pFrames);
    EXPECT_EQ(0, RwAnimAnimationGetNumNodes(a));
    RwAnimAnimationDestroy(a);
    EXPECT_EQ(nullptr, RwAnimAnimationCreate(0x55, 2, 0, 1.0f));
    EXPECT_EQ(E_RW_ANIMSCHEMEUNKNOWN, TakeError().errorCode);
    for (RwInt32 count : {-1, 0x7FFFFFFF, 0x0AAAAAAB}) {
        EXPECT_EQ(nullptr, RwAnimAnimationCreate(kScalar, count, 0, 1.0f)) << count;
        EXPECT_EQ(E_RW_ANIMBADARGUMENT, TakeError().errorCode);
    }
}

// Exactly reaching the duration does not wrap; passing it wraps with one
// loop callback per call, however many durations the delta spans.
TEST(AnimInterpolator, WrapsWithOneLoopCallBackPerCall)
{
    const struct { RwReal delta, time; int loops; } steps[] = {
        {1.5f, 1.5f, 0}, {2.5f, 4.0f, 0}, {4.5f, 0.5f, 1}, {10.25f, 2.75f, 2}, {-3.0f, 3.75f, 3}};
    Player p;
    RwAnimInterpolatorSetLoopCallBack(p.in, CountLoop, nullptr);
    loops = 0;
    for (auto &step : steps) {
        if (step.delta > 0) {
            RwAnimInterpolatorAddTime(p.in, step.delta);
        } else {
            RwAnimInterpolatorSubtractTime(p.in, -step.delta);
        }
        p.ExpectAt(step.time);
        EXPECT_EQ(step.loops, loops);
    }
}

TEST(AnimInterpolator, HugeDeltasAndEmptyDurationsEnd)
{
    Player p;
    for (RwReal d : {1e30f, 3e38f}) {
        EXPECT_TRUE(RwAnimInterpolatorAddTime(p.in, d));
        EXPECT_TRUE(p.in->currentTime >= 0.0f && p.in->currentTime <= 4.0f) << p.in->currentTime;
        EXPECT_TRUE(RwAnimInterpolatorSubtractTime(p.in, d));
        EXPECT_TRUE(p.in->currentTime >= 0.0f && p.in->currentTime <= 4.0f) << p.in->currentTime;
    }
    EXPECT_FALSE(RwAnimInterpolatorAddTime(p.in, INFINITY));
    p.anim->duration = 0.0f;
    RwAnimInterpolatorSetCurrentAnim(p.in, p.anim);
    EXPECT_TRUE(RwAnimInterpolatorAddTime(p.in, 5.0f));
    EXPECT_TRUE(RwAnimInterpolatorSubtractTime(p.in, 5.0f));
    EXPECT_EQ(0.0f, p.in->currentTime);
    RwAnimInterpolator *idle = RwAnimInterpolatorCreate(2, sizeof(ScalarSlot));
    EXPECT_FALSE(RwAnimInterpolatorAddTime(idle, 1.0f));
    EXPECT_FALSE(RwAnimInterpolatorSetTime(idle, 1.0f));
    EXPECT_EQ(0.0f, idle->currentTime);
    RwFree(idle);
}

TEST(AnimInterpolator, BackwardsThenForwardsEqualsForwards)
{
    TestRandom random(18);
    Player p, q;
    for (int i = 0; i < 200; ++i) {
        const RwReal t = static_cast<RwReal>(random.Below(4001)) / 1000.0f;
        if (random.Below(3) == 0) {
            RwAnimInterpolatorSubtractTime(p.in, static_cast<RwReal>(random.Below(9000)) / 1000.0f);
        }
        RwAnimInterpolatorSetTime(p.in, t);
        RwAnimInterpolatorSetCurrentAnim(q.in, q.anim);
        RwAnimInterpolatorAddTime(q.in, t);
        ASSERT_NEAR(Value(q.in, 0), Value(p.in, 0), 1e-5) << t;
        ASSERT_NEAR(Value(q.in, 1), Value(p.in, 1), 1e-4) << t;
        p.ExpectAt(t);
    }
}

TEST(AnimInterpolator, TimeCallBackFiresOnCrossingAndZeroDropsIt)
{
    Player p;
    timeCalls = 0;
    RwAnimInterpolatorSetTimeCallBack(p.in, CountTime, 1.5f, p.in);
    RwAnimInterpolatorAddTime(p.in, 1.0f);
    EXPECT_EQ(0, timeCalls);
    RwAnimInterpolatorAddTime(p.in, 1.0f);
    EXPECT_EQ(1, timeCalls);
    RwAnimInterpolatorSubtractTime(p.in, 1.0f);   // back across it
    EXPECT_EQ(2, timeCalls);
    RwAnimInterpolatorSetTimeCallBack(p.in, CountTime, 1.5f, nullptr);
    RwAnimInterpolatorAddTime(p.in, 4.0f);        // crosses once, then wraps
    RwAnimInterpolatorAddTime(p.in, 4.0f);
    EXPECT_EQ(3, timeCalls);
    EXPECT_EQ(nullptr, p.in->pAnimCallBack);
}

// Reaching the callback time exactly counts as reaching it, also when the
// step wraps past the duration and lands on it in the next round.
TEST(AnimInterpolator, TimeCallBackFiresOnLandingExactlyOnItsTime)
{
    Player p;
    timeCalls = 0;
    RwAnimInterpolatorSetTimeCallBack(p.in, CountTime, 1.5f, p.in);
    RwAnimInterpolatorAddTime(p.in, 0.5f);
    EXPECT_EQ(0, timeCalls);
    RwAnimInterpolatorAddTime(p.in, 1.0f);
    p.ExpectAt(1.5f);
    EXPECT_EQ(1, timeCalls);
    RwAnimInterpolatorAddTime(p.in, 1.5f);
    EXPECT_EQ(1, timeCalls);
    RwAnimInterpolatorAddTime(p.in, 2.5f);   // 3.0 + 2.5 wraps to exactly 1.5
    p.ExpectAt(1.5f);
    EXPECT_EQ(2, timeCalls);
}

TEST(AnimInterpolator, RefusesAnimationsItCannotHold)
{
    RwAnimAnimation *a = MakeAnimation();
    RwAnimInterpolator *many = RwAnimInterpolatorCreate(4, sizeof(ScalarSlot));   // 7 < 2 x 4 keyframes
    RwAnimInterpolator *small = RwAnimInterpolatorCreate(2, 8);                   // slots too small
    EXPECT_FALSE(RwAnimInterpolatorSetCurrentAnim(many, a));
    EXPECT_FALSE(RwAnimInterpolatorSetCurrentAnim(small, a));
    EXPECT_EQ(nullptr, small->pCurrentAnim);
    EXPECT_EQ(8, small->currentInterpKeyFrameSize);
    EXPECT_EQ(nullptr, RwAnimInterpolatorCreate(-1, 12));
    EXPECT_EQ(nullptr, RwAnimInterpolatorCreate(0x10000000, 0x100));
    // Slots larger than every registered scheme's could never be used.
    EXPECT_EQ(static_cast<RwInt32>(sizeof(ScalarSlot)), RwAnimGetLargestInterpKeyFrameSize());
    EXPECT_EQ(nullptr, RwAnimInterpolatorCreate(1, sizeof(ScalarSlot) + 1));
    RwFree(many);
    RwFree(small);
    RwAnimAnimationDestroy(a);
}

TEST(AnimInterpolator, BlendAndCopyNeedInputsAsLargeAsTheOutput)
{
    Player a, b;
    RwAnimInterpolatorAddTime(b.in, 2.0f);
    RwAnimInterpolator *one = RwAnimInterpolatorCreate(1, sizeof(ScalarSlot));
    EXPECT_TRUE(RwAnimInterpolatorBlend(a.in, a.in, b.in, 0.25f));
    EXPECT_FLOAT_EQ(0.5f, Value(a.in, 0));
    EXPECT_FLOAT_EQ(5.0f, Value(a.in, 1));
    EXPECT_FALSE(RwAnimInterpolatorBlend(a.in, one, b.in, 0.5f));
    EXPECT_FALSE(RwAnimInterpolatorCopy(a.in, one));
    EXPECT_TRUE(RwAnimInterpolatorCopy(a.in, b.in));
    EXPECT_FLOAT_EQ(20.0f, Value(a.in, 1));
    RwFree(one);
}

TEST(AnimInterpolator, HostileLinksAreNeverFollowed)
{
    Player p;
    ScalarKey *k = static_cast<ScalarKey *>(p.anim->pFrames);
    ScalarKey junk = {nullptr, 0, 0};
    k[0].prev = &junk;                                                     // first keyframes: anything
    k[4].prev = &k[6];                                                     // a later keyframe
    k[5].prev = reinterpret_cast<ScalarKey *>(reinterpret_cast<RwUInt8 *>(&k[2]) + 4);   // misaligned
    k[6].prev = &k[2];                                                     // no slot waits for it
    RwAnimInterpolatorSetCurrentAnim(p.in, p.anim);
    for (int i = 0; i < 20; ++i) {
        RwAnimInterpolatorAddTime(p.in, 0.7f);
        RwAnimInterpolatorSubtractTime(p.in, 0.3f);
        ASSERT_TRUE(std::isfinite(Value(p.in, 0)) && std::isfinite(Value(p.in, 1)));
    }
}

}  // namespace
