// The alpha manager: farthest first, stable on ties, the blend of each atomic's flags (through the emitters of particle systems), depth test around the pass.
#include "engine_host.h"

#include <cstddef>
#include <utility>

#include "engine/CKivAlphaManager.h"
#include "gfx/core/engine.h"
#include "gfx/plugins/userdata/userdata.h"
#include "gfx/plugins/worldquery/worldquery.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "support/failnew/fail_new.h"

namespace {

auto *const host = HostEngine();

std::vector<std::pair<RwInt32, RwUInt32>> states;
RwRenderStateSetFunction realSet = nullptr;

RwBool Record(RwInt32 state, void *value)
{
    states.emplace_back(state, static_cast<RwUInt32>(reinterpret_cast<uintptr_t>(value)));
    return realSet(state, value);
}

// An atomic drawn by the callback of table index `callback`, with blend flags.
RwAtomic *Deferred(RwUInt32 callback, RwUInt32 flags, bool withArray = true)
{
    RwAtomic *atomic = RwAtomicCreate();
    RwGeometry *g = RwGeometryCreate(0, 0, 0);
    if (withArray) {
        const RwInt32 i = RwUserDataGeometryAddArray(g, "render", rwUSERDATAINT, 2);
        RwUserDataArraySetElement(RwUserDataGeometryGetArray(g, i), 0, callback);
        RwUserDataArraySetElement(RwUserDataGeometryGetArray(g, i), 1, flags);
    }
    RwAtomicSetGeometry(atomic, g, 0);
    RwGeometryDestroy(g);
    return atomic;
}

// The destination blends of the pass, in order (one per atomic drawn).
std::vector<RwUInt32> DestBlends(bool skipLast = true)
{
    std::vector<RwUInt32> blends;
    for (const auto &s : states) {
        if (s.first == 11)
            blends.push_back(s.second);
    }
    if (skipLast && !blends.empty())
        blends.pop_back();   // the pass ends on inverse source alpha
    return blends;
}

class AlphaPass : public ::testing::Test {
protected:
    void SetUp() override
    {
        realSet = RwEngineInstance->dOpenDevice.fpRenderStateSet;
        RwEngineInstance->dOpenDevice.fpRenderStateSet = Record;
        states.clear();
    }
    void TearDown() override
    {
        RwEngineInstance->dOpenDevice.fpRenderStateSet = realSet;
        for (RwAtomic *a : atomics)
            RwAtomicDestroy(a);
    }
    RwAtomic *Make(RwUInt32 flags, bool withArray = true)
    {
        atomics.push_back(Deferred(1, flags, withArray));
        return atomics.back();
    }
    std::vector<RwAtomic *> atomics;
};

TEST_F(AlphaPass, FarthestFirstAndStableOnTies)
{
    CKivAlphaManager manager;
    manager.Add(Make(1), 1.0f);   // additive
    manager.Add(Make(0), 5.0f);
    manager.Add(Make(1), 3.0f);
    manager.Add(Make(0), 3.0f);   // same distance, added later
    manager.Render(1);
    EXPECT_EQ((std::vector<RwUInt32>{6, 2, 6, 2}), DestBlends());
    EXPECT_EQ(0u, manager.GetCount());
    for (const auto &s : states) {
        if (s.first == 10) {
            EXPECT_EQ(5u, s.second);
        }
    }
    EXPECT_EQ(6, states.front().first);
    EXPECT_EQ(1u, states.front().second);
}

TEST_F(AlphaPass, WithoutDepthTestItIsTurnedBackOn)
{
    CKivAlphaManager manager;
    manager.Add(Make(0), 2.0f);
    manager.Render(0);
    EXPECT_EQ(std::make_pair(6, 0u), states.front());
    EXPECT_EQ(std::make_pair(6, 1u), states.back());
}

TEST_F(AlphaPass, AtomicsWithoutTheirArrayOrGeometryAreDropped)
{
    CKivAlphaManager manager;
    manager.Add(Make(1, false), 4.0f);
    manager.Add(nullptr, 3.0f);
    RwAtomic *bare = RwAtomicCreate();
    manager.Add(bare, 2.0f);
    manager.Add(Make(1), 1.0f);
    manager.Render(1);
    EXPECT_EQ((std::vector<RwUInt32>{2}), DestBlends());
    RwAtomicDestroy(bare);
    // An unknown callback index draws with the library default, never a stored address.
    states.clear();
    RwAtomic *odd = Deferred(0xDEADBEEF, 0);
    atomics.push_back(odd);
    manager.Add(odd, 1.0f);
    manager.Render(1);
    EXPECT_EQ((std::vector<RwUInt32>{6}), DestBlends());
}

TEST_F(AlphaPass, AnAtomicTheQueueCannotTakeIsDroppedWithoutThrowing)
{
    CKivAlphaManager manager;
    manager.Add(Make(0), 2.0f);
    RwAtomic *late = Make(1);
    int added = -1;
    FailNewBegin(0);
    try {
        added = manager.Add(late, 1.0f);
    } catch (const std::bad_alloc &) {
    }
    FailNewEnd();
    EXPECT_EQ(0, added);
    manager.Render(1);
    EXPECT_EQ((std::vector<RwUInt32>{6}), DestBlends());
}

// An emitter whose render settings lie behind one more word, as a property table places them.
struct Emitter {
    RwParticleEmitter head;
    RwUInt32 other;
    RwParticleRenderSettings render;
};

TEST_F(AlphaPass, ParticleAtomicsTakeTheirBlendThroughTheirEmitters)
{
    RwUInt32 offsets[] = {offsetof(Emitter, render)};
    RwInt32 ids[] = {rwPARTICLEPROPERTYRENDER};
    const RwParticlePropertyTable table = {offsets, ids, 1}, without = {offsets, ids, 0};
    Emitter sparks = {}, smoke = {}, glow = {};
    sparks.head = {&smoke.head, &table};
    sparks.render.flags = 0x3;
    smoke.head = {nullptr, &without};
    glow.head = {nullptr, &table};
    glow.render = {1, 1, FALSE, 0};
    RwAtomic *additive = Make(1), *blended = Make(0);
    ASSERT_TRUE(RwParticleAtomicSetEmitter(additive, &sparks.head));
    ASSERT_TRUE(RwParticleAtomicSetEmitter(blended, &glow.head));
    CKivAlphaManager manager;
    manager.Add(additive, 3.0f);
    manager.Add(blended, 2.0f);
    manager.Add(Make(1), 1.0f);
    manager.Render(1);
    const auto settings = [](const RwParticleRenderSettings &r) {
        return std::vector<RwUInt32>{static_cast<RwUInt32>(r.srcBlend), static_cast<RwUInt32>(r.destBlend),
                                     static_cast<RwUInt32>(r.externalBlend), r.flags};
    };
    EXPECT_EQ((std::vector<RwUInt32>{5, 2, 1, 0x10000003}), settings(sparks.render));
    EXPECT_EQ((std::vector<RwUInt32>{0, 0, 0, 0}), settings(smoke.render));   // no render property
    EXPECT_EQ((std::vector<RwUInt32>{5, 6, 1, 0x10000000}), settings(glow.render));
    // Only the atomic that is no particle system set the blend states.
    EXPECT_EQ((std::vector<RwUInt32>{2}), DestBlends());
    RwParticleAtomicSetEmitter(additive, nullptr);
    RwParticleAtomicSetEmitter(blended, nullptr);
}

} // namespace
