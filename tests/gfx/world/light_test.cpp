#include <gtest/gtest.h>

#include <cmath>

#include "gfx/world/light.h"
#include "support/hostile_reals.h"
#include "support/stream_bytes.h"
#include "world_modules.h"

namespace {

const RwUInt32 kExtensionID = 0x11E7;

void RegisterLights()
{
    RegisterWorldObjectModules();
    counting::offset = RwLightRegisterPlugin(4, kExtensionID, counting::Construct, counting::Destruct, nullptr);
    RwLightRegisterPluginStream(kExtensionID, counting::Read, nullptr, nullptr);
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(RegisterLights));

class Light : public ::testing::Test {
protected:
    void SetUp() override { counting::Reset(); }
    void TearDown() override
    {
        EXPECT_EQ(0, counting::live) << "lights leaked";
        TakeError();
    }
};

TEST_F(Light, NewLightsAndSetters)
{
    RwEngineInstance->lightFrame = 7;
    RwLight *light = RwLightCreate(rwLIGHTSPOT);
    ASSERT_NE(nullptr, light);
    EXPECT_EQ(rwLIGHT, light->object.object.type);
    EXPECT_EQ(rwLIGHTSPOT, RwLightGetType(light));
    EXPECT_EQ(3, RwLightGetFlags(light));
    EXPECT_EQ(1, light->object.object.privateFlags);
    EXPECT_EQ(1.0f, light->color.red * light->color.green * light->color.blue * light->color.alpha);
    EXPECT_EQ(0.0f, light->radius + light->minusCosAngle);
    EXPECT_TRUE(RwLinkListEmpty(&light->WorldSectorsInLight));
    EXPECT_EQ(6, light->lightFrame);   // the light counter, not the render frame
    EXPECT_EQ(1, counting::live);

    const struct {
        RwRGBAReal colour;
        RwUInt8 flag;
    } colours[] = {{{0.5f, 0.5f, 0.5f, 1}, 1}, {{0.5f, 0.5f, 0.6f, 1}, 0}, {{0.5f, 0.4f, 0.5f, 0}, 0}};
    for (const auto &c : colours) {
        EXPECT_EQ(light, RwLightSetColor(light, &c.colour));
        EXPECT_EQ(c.flag, light->object.object.privateFlags);
    }

    EXPECT_EQ(light, RwLightSetConeAngle(light, 1.5707964f));
    EXPECT_NEAR(0.0f, light->minusCosAngle, 1e-6);
    EXPECT_NEAR(1.5707964f, RwLightGetConeAngle(light), 1e-6);
    EXPECT_EQ(light, RwLightSetConeAngle(light, 0.0f));
    EXPECT_EQ(-1.0f, light->minusCosAngle);
    EXPECT_EQ(0.0f, RwLightGetConeAngle(light));
    for (RwReal bad : {-0.001f, 1.5708f, std::nanf(""), INFINITY}) {
        EXPECT_EQ(nullptr, RwLightSetConeAngle(light, bad)) << bad;
        EXPECT_EQ(-1.0f, light->minusCosAngle);
    }

    EXPECT_EQ(light, RwLightSetRadius(light, 3.5f));   // no frame: only stored
    EXPECT_EQ(3.5f, light->radius);
    RwFrame *frame = RwFrameCreate();
    RwLightSetFrame(light, frame);
    RwFrameSyncDirtyList();
    RwLightSetRadius(light, 9.0f);
    EXPECT_TRUE(RwFrameIsDirty(frame));
    RwFrameSyncDirtyList();
    EXPECT_TRUE(RwLightDestroy(light));
    EXPECT_TRUE(RwLinkListEmpty(&frame->objectList));
    RwFrameDestroy(frame);
}

// A light chunk's body: struct chunk of structSize bytes (the first 24 from the
// table, the rest 0xEE), then the extension chunk with the counting word.
Bytes LightBody(RwUInt32 structSize, RwUInt8 type, RwUInt8 flags, RwInt32 word, RwUInt32 stamp = 0x1C020055)
{
    Bytes b;
    PutHeader(b, 1, structSize, stamp);
    Bytes s;
    PutReals(s, {2.5f, 0.25f, 0.5f, 0.75f, -0.5f});
    s.insert(s.end(), {flags, 0xAA, type, 0xAA});
    s.resize(structSize > s.size() ? structSize : s.size(), 0xEE);
    b.insert(b.end(), s.begin(), s.begin() + structSize);
    PutHeader(b, 3, word ? 16 : 0);
    if (word) {
        PutHeader(b, kExtensionID, 4);
        Put32(b, static_cast<RwUInt32>(word));
    }
    return b;
}

TEST_F(Light, StreamReadsHandAssembledLights)
{
    const struct {
        RwUInt32 size;
        RwUInt8 type, flags, wantType, wantFlags;
    } cases[] = {
        {24, 0x81, 2, 0x81, 2},
        {20, 0x81, 2, 0, 0},    // no flags or type bytes
        {32, 0x80, 1, 0x80, 1}, // longer struct: the surplus is skipped
    };
    for (const auto &c : cases) {
        Bytes b = LightBody(c.size, c.type, c.flags, 17);
        RwStream *s = OpenRead(b);
        RwLight *light = RwLightStreamRead(s);
        ASSERT_NE(nullptr, light) << c.size;
        EXPECT_EQ(0u, Unread(s)) << c.size;
        RwStreamClose(s, nullptr);
        EXPECT_EQ(c.wantType, RwLightGetType(light));
        EXPECT_EQ(c.wantFlags, RwLightGetFlags(light));
        const RwReal got[6] = {light->radius, light->color.red, light->color.green, light->color.blue,
                               light->color.alpha, light->minusCosAngle};
        const RwReal want[6] = {2.5f, 0.25f, 0.5f, 0.75f, 1.0f, -0.5f};
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(want[i], got[i]) << i;
        }
        EXPECT_EQ(0, light->object.object.privateFlags);
        EXPECT_EQ(17, counting::Word(light));
        RwLightDestroy(light);
    }
}

TEST_F(Light, StreamHostileInputLeavesNoLight)
{
    const struct {
        Bytes bytes;
        RwUInt32 error;
    } cases[] = {
        {LightBody(24, 1, 3, 0, 0x0C020055), 0x80000004},   // version 0x34002
        {LightBody(24, 1, 3, -1), 0},                       // failing extension read
    };
    for (const auto &c : cases) {
        Bytes b = c.bytes;
        RwStream *s = OpenRead(b);
        EXPECT_EQ(nullptr, RwLightStreamRead(s));
        const RwUInt32 error = TakeErrorCode();
        EXPECT_TRUE(!c.error || c.error == error) << error;
        EXPECT_EQ(0, counting::live);
        RwStreamClose(s, nullptr);
    }
    Bytes whole = LightBody(24, 0x80, 3, 5);
    for (size_t n = 0; n < whole.size(); ++n) {
        RwStream *s = OpenRead(whole, n);
        EXPECT_EQ(nullptr, RwLightStreamRead(s)) << n;
        EXPECT_NE(0x80000000u, TakeErrorCode()) << n;
        EXPECT_EQ(0, counting::live) << n;
        RwStreamClose(s, nullptr);
    }
    ExpectCustomReadsAsMemory(whole, RwLightStreamRead, RwLightDestroy, "light");
}

TEST_F(Light, NonFiniteRadiusColourOrConeIsRefused)
{
    ExpectNonFiniteRefused(LightBody(24, 0x80, 3, 5), {12, 16, 20, 24, 28}, RwLightStreamRead);
    EXPECT_EQ(0, counting::live);
}

TEST_F(Light, ModuleCloseDestroysLeftOverLights)
{
    RwLightCreate(rwLIGHTDIRECTIONAL);
    RwLightCreate(rwLIGHTPOINT);
    ASSERT_EQ(2, counting::live);
    ASSERT_TRUE(RwEngineStop());
    EXPECT_EQ(0, counting::live);
    EXPECT_EQ(nullptr, RwLightCreate(rwLIGHTPOINT));
    ASSERT_TRUE(RwEngineStart());
    RwLight *light = RwLightCreate(rwLIGHTPOINT);
    EXPECT_NE(nullptr, light);
    RwLightDestroy(light);
}

}  // namespace
