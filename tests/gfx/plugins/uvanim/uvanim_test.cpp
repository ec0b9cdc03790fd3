// Tests of UV animation: keyframe schemes, animation references, material slots, matrices and both stream forms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/core/matrix.h"
#include "gfx/core/started_engine.h"
#include "gfx/core/vector.h"
#include "gfx/plugins/dictionary/dictionary.h"
#include "gfx/plugins/matfx/matfx.h"
#include "gfx/plugins/uvanim/uvanimint.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"
#include "support/hostile_reals.h"
#include "support/stream_bytes.h"
#include "uva_bytes.h"

namespace {

using namespace uvabytes;

void Register()
{
    ASSERT_TRUE(RwWorldPluginAttach());
    ASSERT_TRUE(RwAnimPluginAttach());
    ASSERT_TRUE(RwMatFxPluginAttach());
    ASSERT_TRUE(RwUVAnimPluginAttach());
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Register));

RwDictionary *ReadDictionary(Bytes &bytes, size_t n = ~size_t(0))
{
    auto read = [](RwStream *s) { return RwDictionaryStreamRead(RwUVAnimGetDictSchema(), s); };
    return ReadChunkWith(bytes, 0x2B, read, n);
}

RwAnimAnimation *First(RwDictionary *d)
{
    return static_cast<RwAnimAnimation **>(d->entries->data)[0];
}

RwV3d Apply(const RwMatrix *m, RwReal u, RwReal v)
{
    const RwV3d p = {u, v, 0.0f};
    RwV3d out;
    RwV3dTransformPoint(&out, &p, m);
    return out;
}

class UVAnim : public ::testing::Test {
protected:
    void SetUp() override
    {
        TakeError();
        material = RwMaterialCreate();
        ASSERT_EQ(material, RwMatFxMaterialSetEffects(material, rwMATFXEFFECTUVTRANSFORM));
        live = rwTestMemory.live;
    }
    void TearDown() override { RwMaterialDestroy(material); }
    RwMatFxUVTransformData &Effect()
    {
        return RwMatFxMaterialGetEffectSlot(material, rwMATFXKINDUVTRANSFORM)->data.uvTransform;
    }
    RwMaterial *material = nullptr;
    RwInt32 live = 0;
};

TEST_F(UVAnim, ParametricKeyFramesTurnAboutTheCentreTheShortWay)
{
    RwUVAnimInterpFrame identity = {nullptr, nullptr, {0, 1, 1, 0, 0, 0}};
    RwMatrix m;
    RwUVAnimParamKeyFrameApply(&m, &identity);
    const RwV3d p = Apply(&m, 0.3f, 0.8f);
    EXPECT_NEAR(0.3f, p.x, 1e-5f);
    EXPECT_NEAR(0.8f, p.y, 1e-5f);
    RwUVAnimInterpFrame quarter = {nullptr, nullptr, {1.5707964f, 1, 1, 0, 0, 0}};
    RwUVAnimParamKeyFrameApply(&m, &quarter);
    const RwV3d c = Apply(&m, 0.5f, 0.5f), q = Apply(&m, 1.0f, 0.5f);
    EXPECT_NEAR(0.5f, c.x, 1e-5f);
    EXPECT_NEAR(0.5f, c.y, 1e-5f);
    EXPECT_NEAR(0.0f, (q.x - 0.5f) * 0.5f, 1e-5f);      // perpendicular to (0.5, 0), same length
    EXPECT_NEAR(0.5f, std::fabs(q.y - 0.5f), 1e-5f);
    RwUVAnimKeyFrame a = {nullptr, 0.0f, {3.0f, 1, 1, 0, 0, 0}}, b = {&a, 1.0f, {-3.0f, 1, 1, 0, 0, 0}};
    RwUVAnimInterpFrame out;
    RwUVAnimParamKeyFrameInterpolate(&out, &a, &b, 0.5f, nullptr);
    EXPECT_NEAR(3.14159265f, std::fabs(out.uv[0]), 1e-3f);
    // A difference above +pi goes round the other way too.
    RwUVAnimKeyFrame from = {nullptr, 0.0f, {-3.0f, 1, 1, 0, 0, 0}}, to = {&from, 1.0f, {3.0f, 1, 1, 0, 0, 0}};
    RwUVAnimParamKeyFrameInterpolate(&out, &from, &to, 0.25f, nullptr);
    EXPECT_NEAR(-3.0f - 0.25f * (2.0f * 3.14159265f - 6.0f), out.uv[0], 1e-4f);
    RwUVAnimLinearKeyFrameInterpolate(&out, &a, &b, 0.5f, nullptr);
    EXPECT_NEAR(0.0f, out.uv[0], 1e-6f);
    // Back from a matrix to the same parameters.
    RwReal uv[6];
    RwUVAnimParamKeyFrameFromMatrix(uv, &m);
    EXPECT_NEAR(1.5707964f, uv[0], 1e-5f);
    EXPECT_NEAR(1.0f, uv[1], 1e-5f);
    EXPECT_NEAR(1.0f, uv[2], 1e-5f);
}

TEST_F(UVAnim, IdentityAnimationsAndNames)
{
    const std::string forty(40, 'n');
    RwAnimAnimation *a = RwUVAnimCreateIdentity(forty.c_str());
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(std::string(31, 'n'), RwUVAnimGetName(a));
    EXPECT_EQ(1, RwAnimAnimationGetNumNodes(a));
    EXPECT_EQ(1, RwUVAnimGetCustomData(a)->refCount);
    ASSERT_EQ(material, RwUVAnimMaterialSetAnim(material, a, 0));
    RwUVAnimDestroy(a);
    EXPECT_EQ(nullptr, RwUVAnimMaterialSetAnim(material, a, 8));
    EXPECT_EQ(nullptr, RwUVAnimMaterialSetAnim(material, a, -1));
    RwUVAnimMaterialAddTime(material, 0.5f);
    RwUVAnimMaterialApplyUpdate(material);
    ASSERT_NE(nullptr, Effect().baseTransform);
    EXPECT_EQ(nullptr, Effect().dualTransform);
    const RwV3d p = Apply(Effect().baseTransform, 0.25f, 0.75f);
    EXPECT_NEAR(0.25f, p.x, 1e-6f);
    EXPECT_NEAR(0.75f, p.y, 1e-6f);
}

TEST_F(UVAnim, ChannelOneOnlyHandsNullAndAMatrix)
{
    Bytes bytes = Dictionary({Scroll("side", 1)});
    RwDictionary *d = ReadDictionary(bytes);
    ASSERT_NE(nullptr, d);
    ASSERT_EQ(material, RwUVAnimMaterialSetAnim(material, First(d), 0));
    RwUVAnimMaterialData *data = RwUVAnimMaterialGetData(material);
    EXPECT_EQ(nullptr, data->uv[0]);
    ASSERT_NE(nullptr, data->uv[1]);
    RwUVAnimMaterialAddTime(material, 0.25f);
    RwUVAnimMaterialApplyUpdate(material);
    EXPECT_EQ(nullptr, Effect().baseTransform);
    EXPECT_EQ(data->uv[1], Effect().dualTransform);
    EXPECT_NEAR(0.25f, data->uv[1]->pos.x, 1e-5f);
    // A copy plays from the same point with its own reference and no matrices yet.
    RwMaterial *copy = RwMaterialCreate();
    ASSERT_EQ(copy, RwUVAnimMaterialCopy(copy, material, 0, 40));
    EXPECT_EQ(nullptr, RwUVAnimMaterialGetData(copy)->uv[1]);
    EXPECT_EQ(First(d), RwUVAnimMaterialGetInterpolator(copy, 0)->pCurrentAnim);
    EXPECT_FLOAT_EQ(0.25f, RwUVAnimMaterialGetInterpolator(copy, 0)->currentTime);
    EXPECT_EQ(3, RwUVAnimGetCustomData(First(d))->refCount);
    RwMaterialDestroy(copy);
    // The animation lives until both the dictionary and the material let it go.
    RwDictionaryDestroy(d);
    EXPECT_EQ(1, RwUVAnimGetCustomData(RwUVAnimMaterialGetInterpolator(material, 0)->pCurrentAnim)->refCount);
    RwUVAnimMaterialAddTime(material, 0.25f);
    RwUVAnimMaterialApplyUpdate(material);
    EXPECT_NEAR(0.5f, data->uv[1]->pos.x, 1e-5f);
    RwMaterialDestroy(material);
    material = RwMaterialCreate();
    EXPECT_LE(rwTestMemory.live, live);
    // No UV-transform effect: the update has nothing to hand the matrices to.
    Bytes again = Dictionary({Scroll("side")});
    d = ReadDictionary(again);
    ASSERT_EQ(material, RwUVAnimMaterialSetAnim(material, First(d), 3));
    EXPECT_EQ(material, RwUVAnimMaterialApplyUpdate(material));
    RwDictionaryDestroy(d);
}

TEST_F(UVAnim, ChannelsBeyondTheTwoReadAndAreSkipped)
{
    Bytes bytes = Dictionary({Scroll("far", 2), Scroll("neg", -1)});
    RwDictionary *d = ReadDictionary(bytes);
    ASSERT_NE(nullptr, d);
    RwAnimAnimation **entries = static_cast<RwAnimAnimation **>(d->entries->data);
    ASSERT_EQ(material, RwUVAnimMaterialSetAnim(material, entries[0], 0));
    ASSERT_EQ(material, RwUVAnimMaterialSetAnim(material, entries[1], 1));
    EXPECT_EQ(nullptr, RwUVAnimMaterialGetData(material)->uv[0]);
    RwUVAnimMaterialAddTime(material, 0.5f);
    RwUVAnimMaterialApplyUpdate(material);
    EXPECT_EQ(nullptr, Effect().baseTransform);
    EXPECT_EQ(bytes, WrittenWith([&](RwStream *w) { return RwDictionaryStreamWrite(d, w); }));
    RwDictionaryDestroy(d);
}

TEST_F(UVAnim, NonFiniteTimesValuesOrDurationsAreRefused)
{
    // The duration, then the second keyframe's time and its translation u.
    const Bytes bytes = Scroll("a");
    const size_t keys = 12 + 20 + 68;
    auto read = [](RwStream *s) { return RwStreamFindChunk(s, 0x1B, nullptr, nullptr) ? RwAnimAnimationStreamRead(s) : nullptr; };
    ExpectNonFiniteRefused(bytes, {12 + 16, keys + 32, keys + 32 + 4 + 16}, read);
}

TEST_F(UVAnim, AnimationDestroyReleasesTheCustomDataOfAnyReader)
{
    // More animations than a block of custom data holds, each destroyed as a
    // plain animation: nothing is left behind.
    Bytes bytes = Scroll("motion");
    for (int i = 0; i < 300; ++i) {
        RwAnimAnimation *a = ReadChunkWith(bytes, 0x1B, RwAnimAnimationStreamRead);
        ASSERT_NE(nullptr, a);
        EXPECT_STREQ("motion", RwUVAnimGetName(a));
        RwAnimAnimationDestroy(a);
    }
    EXPECT_EQ(live, rwTestMemory.live);
}

TEST_F(UVAnim, MaterialChunkNamesSlotsAndFindsOrMakesAnimations)
{
    Bytes chunk = Build().Header(1, 4 + 64).U32(0x81).Text("scroll\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 32)
                      .Text("placeholder\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 32);
    Bytes dict = Dictionary({Scroll("scroll")});
    RwDictionary *d = ReadDictionary(dict);
    RwDictionarySchemaSetCurrent(RwUVAnimGetDictSchema(), d);
    const RwInt32 size = static_cast<RwInt32>(chunk.size());
    auto read = [&](RwStream *s) { return RwUVAnimMaterialStreamRead(s, size, material, 0, 40); };
    ASSERT_NE(nullptr, ReadWith(chunk, read));
    RwDictionarySchemaSetCurrent(RwUVAnimGetDictSchema(), nullptr);
    EXPECT_EQ(First(d), RwUVAnimMaterialGetInterpolator(material, 0)->pCurrentAnim);
    RwAnimAnimation *made = RwUVAnimMaterialGetInterpolator(material, 7)->pCurrentAnim;
    EXPECT_STREQ("placeholder", RwUVAnimGetName(made));
    EXPECT_EQ(1, RwUVAnimGetCustomData(made)->refCount);
    EXPECT_EQ(2, RwUVAnimGetCustomData(First(d))->refCount);
    EXPECT_EQ(static_cast<RwInt32>(chunk.size()), RwUVAnimMaterialStreamGetSize(material, 0, 40));
    EXPECT_EQ(chunk, WrittenWith([&](RwStream *w) { return RwUVAnimMaterialStreamWrite(w, 0, material, 0, 40); }));
    RwDictionaryDestroy(d);
    // The slot now holds the only reference: set again there, the animation
    // must survive letting go of itself.
    RwAnimAnimation *held = RwUVAnimMaterialGetInterpolator(material, 0)->pCurrentAnim;
    ASSERT_EQ(1, RwUVAnimGetCustomData(held)->refCount);
    ASSERT_EQ(material, RwUVAnimMaterialSetAnim(material, held, 0));
    EXPECT_EQ(1, RwUVAnimGetCustomData(held)->refCount);
    EXPECT_STREQ("scroll", RwUVAnimGetName(RwUVAnimMaterialGetInterpolator(material, 0)->pCurrentAnim));
    // Masks above slot 7, sizes that disagree with the mask, unterminated names.
    std::vector<Bytes> hostile = {
        Build().Header(1, 4).U32(0x100),
        Build().Header(1, 8).U32(0).U32(0),
        Build().Header(1, 36).U32(1).Text("0123456789012345678901234567890123", 32),
        Build().Header(2, 4).U32(0),
    };
    for (Bytes &h : hostile) {
        RwMaterial *m = RwMaterialCreate();
        for (size_t n = 0; n <= h.size(); ++n) {
            auto read = [&](RwStream *s) { return RwUVAnimMaterialStreamRead(s, static_cast<RwInt32>(n), m, 0, 40); };
            EXPECT_EQ(nullptr, ReadWith(h, read, n));
        }
        EXPECT_FALSE(RwUVAnimMaterialHasAnim(m));
        RwMaterialDestroy(m);
    }
}

TEST_F(UVAnim, KeyFramesLinkedToThemselvesOrAheadReadAndPlay)
{
    // A first keyframe that is its own previous one holds no node; links to
    // the keyframe itself or to a later one are kept and never followed.
    Bytes bytes = Dictionary({
        AnimationChunk("still", rwUVANIMLINEARKEYFRAMES, {{0, {1, 0, 0, 1, 0, 0}, 0}, {1, {1, 0, 0, 1, 1, 0}, 0}}),
        AnimationChunk("self", rwUVANIMLINEARKEYFRAMES, {{0, {1, 0, 0, 1, 0, 0}, -1}, {1, {1, 0, 0, 1, 1, 0}, 1}}),
        AnimationChunk("ahead", rwUVANIMLINEARKEYFRAMES, {{0, {1, 0, 0, 1, 0, 0}, 1}, {1, {1, 0, 0, 1, 1, 0}, 0}}),
        Scroll("scroll"),
    });
    RwDictionary *d = ReadDictionary(bytes);
    ASSERT_NE(nullptr, d);
    RwAnimAnimation **entries = static_cast<RwAnimAnimation **>(d->entries->data);
    EXPECT_EQ(0, RwAnimAnimationGetNumNodes(entries[0]));
    const RwUVAnimKeyFrame *still = static_cast<const RwUVAnimKeyFrame *>(entries[0]->pFrames);
    EXPECT_EQ(&still[0], still[0].prevFrame);
    EXPECT_EQ(&still[0], still[1].prevFrame);
    for (int i = 0; i < 3; ++i) {
        RwMaterial *m = RwMaterialCreate();
        ASSERT_EQ(m, RwMatFxMaterialSetEffects(m, rwMATFXEFFECTUVTRANSFORM));
        ASSERT_EQ(m, RwUVAnimMaterialSetAnim(m, entries[i], 0)) << i;
        for (int step = 0; step < 4; ++step) {
            RwUVAnimMaterialAddTime(m, 0.4f);
            EXPECT_EQ(m, RwUVAnimMaterialApplyUpdate(m)) << i;
        }
        RwMaterialDestroy(m);
    }
    // Two nodes whose later keyframes are reached: node 1's second keyframe
    // is its own previous one, and in the other animation it and the next
    // link to each other. Walking back from them stops at those links.
    const Key n0 = {0, {1, 0, 0, 1, 0, 0}, -1}, n1 = {0, {1, 0, 0, 1, 0, 0}, -1}, n0b = {1, {1, 0, 0, 1, 1, 0}, 0};
    Bytes linked = Dictionary({
        AnimationChunk("own", rwUVANIMLINEARKEYFRAMES, {n0, n1, n0b, {0.5f, {1, 0, 0, 1, 0.5f, 0}, 3},
                                                        {1, {1, 0, 0, 1, 1, 0}, 3}}, {0, 0}),
        AnimationChunk("loop", rwUVANIMLINEARKEYFRAMES, {n0, n1, n0b, {0.5f, {1, 0, 0, 1, 0.5f, 0}, 4},
                                                         {1, {1, 0, 0, 1, 1, 0}, 3}}, {0, 0}),
    });
    RwDictionary *walked = ReadDictionary(linked);
    ASSERT_NE(nullptr, walked);
    RwAnimAnimation **both = static_cast<RwAnimAnimation **>(walked->entries->data);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(2, RwAnimAnimationGetNumNodes(both[i])) << i;
        RwMaterial *m = RwMaterialCreate();
        ASSERT_EQ(m, RwMatFxMaterialSetEffects(m, rwMATFXEFFECTUVTRANSFORM));
        ASSERT_EQ(m, RwUVAnimMaterialSetAnim(m, both[i], 0)) << i;
        RwAnimInterpolator *in = RwUVAnimMaterialGetInterpolator(m, 0);
        for (float t : {0.8f, 0.3f, 0.9f, 0.1f, 0.7f}) {
            EXPECT_TRUE(RwAnimInterpolatorSetTime(in, t)) << i << " " << t;
            EXPECT_EQ(m, RwUVAnimMaterialApplyUpdate(m)) << i;
        }
        RwMaterialDestroy(m);
    }
    RwDictionaryDestroy(walked);
    // The rest of the dictionary plays as ever.
    ASSERT_EQ(material, RwUVAnimMaterialSetAnim(material, entries[3], 0));
    RwUVAnimMaterialAddTime(material, 0.25f);
    RwUVAnimMaterialApplyUpdate(material);
    ASSERT_NE(nullptr, Effect().baseTransform);
    EXPECT_NEAR(0.25f, Effect().baseTransform->pos.x, 1e-5f);
    EXPECT_EQ(bytes, WrittenWith([&](RwStream *w) { return RwDictionaryStreamWrite(d, w); }));
    RwDictionaryDestroy(d);
}

TEST_F(UVAnim, HostileAnimationStreamsAreRefusedWithNothingLeaked)
{
    const Key k0 = {0, {1, 0, 0, 1, 0, 0}, -1};
    std::vector<Bytes> hostile = {
        AnimationChunk("below", rwUVANIMLINEARKEYFRAMES, {k0, {1, {1, 0, 0, 1, 0, 0}, -2}}),
        AnimationChunk("beyond", rwUVANIMLINEARKEYFRAMES, {k0, {1, {1, 0, 0, 1, 0, 0}, 2}}),
        AnimationChunk("0123456789012345678901234567890123", rwUVANIMLINEARKEYFRAMES, {k0, {1, {0}, 0}}),
        AnimationChunk("other", 1, {k0, {1, {0}, 0}}),
    };
    // Nine nodes: keyframes 0-8 at time 0, then one each at time 1.
    std::vector<Key> nine;
    for (RwInt32 i = 0; i < 18; ++i) {
        nine.push_back({i < 9 ? 0.0f : 1.0f, {1, 0, 0, 1, 0, 0}, i < 9 ? -1 : i - 9});
    }
    hostile.push_back(AnimationChunk("nine", rwUVANIMLINEARKEYFRAMES, nine));
    for (Bytes &h : hostile) {
        Bytes bytes = Dictionary({h});
        EXPECT_EQ(nullptr, ReadDictionary(bytes));
    }
    Bytes good = Dictionary({Scroll("a"), Scroll("b")});
    for (size_t n = 0; n < good.size(); ++n) {
        EXPECT_EQ(nullptr, ReadDictionary(good, n)) << n;
    }
    auto found = [](RwStream *s) {
        return RwStreamFindChunk(s, 0x2B, nullptr, nullptr) ? RwDictionaryStreamRead(RwUVAnimGetDictSchema(), s)
                                                            : nullptr;
    };
    ExpectCustomReadsAsMemory(good, found, RwDictionaryDestroy, "UV animations");
    EXPECT_EQ(live, rwTestMemory.live);
    // Round trip: a time-0 keyframe without a previous one writes -1.
    RwDictionary *d = ReadDictionary(good);
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(good, WrittenWith([&](RwStream *w) { return RwDictionaryStreamWrite(d, w); }));
    RwDictionaryDestroy(d);
}

}  // namespace
