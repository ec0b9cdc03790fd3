#include <gtest/gtest.h>

#include <cmath>

#include "gfx/core/counting_extension.h"
#include "gfx/core/started_engine.h"
#include "gfx/world/light.h"
#include "support/stream_bytes.h"

namespace {

const RwUInt32 kExtensionID = 0x11E7;

// The world module is not attached here: the light module is registered alone.
void RegisterLights()
{
    ASSERT_GE(RwEngineRegisterPlugin(4, rwID_LIGHTMODULE, RwLightModuleOpen, RwLightModuleClose), 0);
    counting::offset = RwLightRegisterPlugin(4, kExtensionID, counting::Construct, counting::Destruct, nullptr);
    ASSERT_GE(counting::offset, 64);
    RwLightRegisterPluginStream(kExtensionID, counting::Read, nullptr, nullptr);
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(RegisterLights));

class Light : public ::testing::Test {
protected:
    void SetUp() override
    {
        counting::Reset();
        TakeError();
    }
    void TearDown() override
    {
        EXPECT_EQ(0, counting::live) << "lights leaked";
        TakeError();
    }
};

TEST_F(Light, NewLightDefaultsAndTheEnginesLightFrame)
{
    const RwUInt32 renderFrame = RwEngineInstance->renderFrame;
    RwEngineInstance->lightFrame = 7;
    RwLight *spot = RwLightCreate(rwLIGHTSPOT);
    ASSERT_NE(nullptr, spot);
    EXPECT_EQ(rwLIGHT, spot->object.object.type);
    EXPECT_EQ(rwLIGHTSPOT, RwLightGetType(spot));
    EXPECT_EQ(3, RwLightGetFlags(spot));
    EXPECT_EQ(1, spot->object.object.privateFlags);
    EXPECT_EQ(nullptr, RwLightGetFrame(spot));
    EXPECT_EQ(0.0f, spot->radius);
    EXPECT_EQ(0.0f, spot->minusCosAngle);
    const RwReal colour[4] = {spot->color.red, spot->color.green, spot->color.blue, spot->color.alpha};
    for (RwReal c : colour) {
        EXPECT_EQ(1.0f, c);
    }
    EXPECT_TRUE(RwLinkListEmpty(&spot->WorldSectorsInLight));
    EXPECT_EQ(nullptr, spot->inWorld.next);
    EXPECT_EQ(6, spot->lightFrame);
    EXPECT_EQ(renderFrame, RwEngineInstance->renderFrame);
    EXPECT_EQ(1, counting::live);

    RwEngineInstance->lightFrame = 0;
    RwLight *ambient = RwLightCreate(rwLIGHTAMBIENT);
    EXPECT_EQ(0xFFFF, ambient->lightFrame);
    EXPECT_TRUE(RwLightDestroy(ambient));
    EXPECT_TRUE(RwLightDestroy(spot));
}

TEST_F(Light, ColourFlagRadiusAndFrame)
{
    RwLight *light = RwLightCreate(rwLIGHTPOINT);
    const struct {
        RwRGBAReal colour;
        RwUInt8 flag;
    } colours[] = {{{0.5f, 0.5f, 0.5f, 1}, 1}, {{0.5f, 0.5f, 0.6f, 1}, 0}, {{0.5f, 0.4f, 0.5f, 0}, 0}, {{0, 0, 0, 0}, 1}};
    for (const auto &c : colours) {
        EXPECT_EQ(light, RwLightSetColor(light, &c.colour));
        EXPECT_EQ(c.flag, light->object.object.privateFlags);
        EXPECT_EQ(c.colour.alpha, light->color.alpha);
    }
    EXPECT_EQ(light, RwLightSetRadius(light, 3.5f));   // no frame: only stored
    EXPECT_EQ(3.5f, light->radius);

    RwFrame *frame = RwFrameCreate();
    RwLightSetFrame(light, frame);
    RwFrameSyncDirtyList();
    ASSERT_FALSE(RwFrameIsDirty(frame));
    RwLightSetRadius(light, 9.0f);
    EXPECT_TRUE(RwFrameIsDirty(frame));
    RwFrameSyncDirtyList();
    RwLightDestroy(light);
    EXPECT_TRUE(RwLinkListEmpty(&frame->objectList));
    RwFrameDestroy(frame);
}

TEST_F(Light, ConeAngleAcceptsZeroToHalfPi)
{
    RwLight *light = RwLightCreate(rwLIGHTSPOTSOFT);
    EXPECT_EQ(light, RwLightSetConeAngle(light, 1.5707964f));
    EXPECT_NEAR(0.0f, light->minusCosAngle, 1e-6);
    EXPECT_NEAR(1.5707964f, RwLightGetConeAngle(light), 1e-6);
    EXPECT_EQ(light, RwLightSetConeAngle(light, 0.0f));
    EXPECT_EQ(-1.0f, light->minusCosAngle);
    EXPECT_EQ(0.0f, RwLightGetConeAngle(light));
    EXPECT_EQ(light, RwLightSetConeAngle(light, 0.5f));
    for (RwReal bad : {-0.001f, 1.5708f, std::nanf(""), INFINITY}) {
        EXPECT_EQ(nullptr, RwLightSetConeAngle(light, bad)) << bad;
        EXPECT_FLOAT_EQ(-std::cos(0.5f), light->minusCosAngle);
    }
    RwLightDestroy(light);
}

// A light chunk's body: struct chunk of structSize bytes (the first 24 from the
// table, the rest 0xEE), then the extension chunk with the counting word.
Bytes LightBody(RwUInt32 structSize, RwUInt8 type, RwUInt8 flags, RwInt32 word = 0, RwUInt32 stamp = 0x1C020055)
{
    Bytes b;
    PutHeader(b, 1, structSize, stamp);
    Bytes s;
    PutReals(s, {2.5f, 0.25f, 0.5f, 0.75f, -0.5f});
    s.push_back(flags);
    s.push_back(0xAA);
    s.push_back(type);
    s.push_back(0xAA);
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
        RwReal wantBlue;
    } cases[] = {
        {24, 0x81, 2, 0x81, 2, 0.75f},
        {20, 0x81, 2, 0, 0, 0.75f},    // no flags or type bytes
        {32, 0x80, 1, 0x80, 1, 0.75f}, // longer struct: the surplus is skipped
        {12, 1, 1, 0, 0, 0.0f},
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
        EXPECT_EQ(2.5f, light->radius);
        EXPECT_EQ(c.wantBlue, light->color.blue);
        EXPECT_EQ(1.0f, light->color.alpha);
        EXPECT_EQ(0, light->object.object.privateFlags);
        EXPECT_EQ(c.size >= 20 ? -0.5f : 0.0f, light->minusCosAngle);
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
        {Build().Header(2, 0).U32(0), 0},                   // no struct chunk
    };
    for (const auto &c : cases) {
        Bytes b = c.bytes;
        RwStream *s = OpenRead(b);
        EXPECT_EQ(nullptr, RwLightStreamRead(s));
        const RwUInt32 error = TakeErrorCode();
        if (c.error) {
            EXPECT_EQ(c.error, error);
        }
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
}

TEST_F(Light, ModuleCloseDestroysLeftOverLights)
{
    RwFrame *frame = RwFrameCreate();
    RwLightSetFrame(RwLightCreate(rwLIGHTDIRECTIONAL), frame);
    RwLightCreate(rwLIGHTPOINT);
    ASSERT_EQ(2, counting::live);
    RwFrameSyncDirtyList();
    ASSERT_TRUE(RwEngineStop());
    EXPECT_EQ(0, counting::live);
    EXPECT_EQ(nullptr, RwLightCreate(rwLIGHTPOINT));
    ASSERT_TRUE(RwEngineStart());
    RwLight *light = RwLightCreate(rwLIGHTPOINT);
    EXPECT_NE(nullptr, light);
    RwLightDestroy(light);
}

}  // namespace
