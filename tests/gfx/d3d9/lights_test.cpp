// Tests of fixed-function lighting: device light indices, the enabled set per object and lit pixels.
#include <vector>

#include "d3d9testlights.h"
#include "gfx/d3d9/d3d9im2d.h"
#include "gfx/d3d9/d3d9state.h"

namespace {

class Lights : public LightDevice {
protected:
    void SetUp() override
    {
        LightDevice::SetUp();
        liveBefore = rwTestMemory.live;
        RwD3D9LightingStateInit();
    }
    void TearDown() override
    {
        while (!lights.empty())
            Destroy(lights.back());
        RwD3D9LightingStateTerm();
        EXPECT_EQ(rwTestMemory.live, liveBefore) << "lighting state leaked";
        LightDevice::TearDown();
    }

    std::vector<RwInt32> Enabled()
    {
        const RwInt32 *e;
        const RwInt32 n = RwD3D9LightingGetEnabled(&e);
        return std::vector<RwInt32>(e, e + n);
    }
    BOOL DeviceEnabled(RwInt32 index)
    {
        BOOL on = FALSE;
        real->GetLightEnable(index, &on);
        return on;
    }

    RwInt32 liveBefore = 0;
};

TEST_F(Lights, IndicesAreReusedAndRestartWhenTheLastGoes)
{
    RwLight *a = Light(rwLIGHTDIRECTIONAL), *b = Light(rwLIGHTDIRECTIONAL), *c = Light(rwLIGHTDIRECTIONAL);
    RwD3D9LightingBegin();
    for (RwLight *l : {a, b, c})
        EXPECT_TRUE(RwD3D9LightingAddGlobalLight(l));
    RwD3D9LightingFinish(TRUE);
    EXPECT_EQ(RwD3D9LightGetData(c)->index, 2);
    EXPECT_TRUE(DeviceEnabled(1));
    // A destroyed enabled light is switched off and its index reused.
    Destroy(b);
    EXPECT_FALSE(DeviceEnabled(1));
    RwLight *d = Light(rwLIGHTPOINT);
    RwD3D9LightingBegin();
    EXPECT_TRUE(RwD3D9LightingAddLocalLight(d));
    RwD3D9LightingFinish(TRUE);
    EXPECT_EQ(RwD3D9LightGetData(d)->index, 1);
    for (RwLight *l : {a, d, c})
        Destroy(l);
    RwLight *e = Light(rwLIGHTDIRECTIONAL);
    RwD3D9LightingBegin();
    RwD3D9LightingAddGlobalLight(e);
    RwD3D9LightingFinish(TRUE);
    EXPECT_EQ(RwD3D9LightGetData(e)->index, 0);
    EXPECT_EQ(RwD3D9LightGetData(e)->quadratic, 5.0f);
}

TEST_F(Lights, OnlyTheDeviceMaximumIsEnabledAndLeftoversGoOff)
{
    rwD3D9Driver.caps.MaxActiveLights = 2;
    RwD3D9LightingStateInit();
    EXPECT_EQ(RwD3D9LightingGetMaxActiveLights(), 2);
    RwLight *l[3] = {Light(rwLIGHTDIRECTIONAL), Light(rwLIGHTDIRECTIONAL), Light(rwLIGHTPOINT)};
    RwD3D9LightingBegin();
    for (RwLight *x : {l[0], l[1]})
        RwD3D9LightingAddGlobalLight(x);
    RwD3D9LightingAddLocalLight(l[2]);
    RwD3D9LightingFinish(TRUE);
    EXPECT_EQ(Enabled(), (std::vector<RwInt32>{0, 1}));
    EXPECT_FALSE(DeviceEnabled(2));
    RwD3D9LightingBegin();
    RwD3D9LightingAddLocalLight(l[2]);
    RwD3D9LightingFinish(TRUE);
    EXPECT_EQ(Enabled(), (std::vector<RwInt32>{2}));
    EXPECT_FALSE(DeviceEnabled(0));
    EXPECT_FALSE(DeviceEnabled(1));
    EXPECT_TRUE(DeviceEnabled(2));
    rwD3D9Driver.caps.MaxActiveLights = 8;
    RwD3D9LightingStateInit();
}

TEST_F(Lights, LocalLightsMapOntoDeviceLights)
{
    RwLight *spot = Light(rwLIGHTSPOT, {1, 2, 3}, 10.0f);
    spot->minusCosAngle = 1.0f;     // a full turn of cone: clamped to half a turn
    RwLight *soft = Light(rwLIGHTSPOTSOFT, {0, 0, 0}, 4.0f);
    RwLightSetConeAngle(soft, 0.5f);
    RwLight *none = Light(rwLIGHTPOINT, {0, 0, 0}, 0.0f);
    RwD3D9LightingBegin();
    EXPECT_TRUE(RwD3D9LightingAddLocalLight(spot));
    EXPECT_TRUE(RwD3D9LightingAddLocalLight(soft));
    EXPECT_FALSE(RwD3D9LightingAddLocalLight(none));
    EXPECT_FALSE(RwD3D9LightingAddLocalLight(Light(rwLIGHTDIRECTIONAL)));
    RwD3D9LightingFinish(TRUE);
    D3DLIGHT9 d;
    real->GetLight(RwD3D9LightGetData(spot)->index, &d);
    EXPECT_EQ(d.Type, D3DLIGHT_SPOT);
    EXPECT_NEAR(d.Phi, 3.1415927f, 1e-5f);
    EXPECT_NEAR(d.Theta, d.Phi - 0.001f, 1e-5f);
    EXPECT_EQ(d.Position.z, 3.0f);
    EXPECT_EQ(d.Range, 10.0f);
    EXPECT_NEAR(d.Attenuation2, 0.05f, 1e-7f);
    real->GetLight(RwD3D9LightGetData(soft)->index, &d);
    EXPECT_EQ(d.Theta, 0.0f);
    EXPECT_NEAR(d.Phi, 1.0f, 1e-5f);
}

// A quad facing the camera, lit by a directional light shining one way or the other.
TEST_F(Lights, DirectionalLightBrightensTheSideItFaces)
{
    struct V {
        float x, y, z, nx, ny, nz;
    };
    const V quad[4] = {{-1, -1, 5, 0, 0, -1}, {1, -1, 5, 0, 0, -1}, {-1, 1, 5, 0, 0, -1}, {1, 1, 5, 0, 0, -1}};
    RwLight *sun = Light(rwLIGHTDIRECTIONAL);
    D3DMATERIAL9 material = {};
    material.Diffuse = {1, 1, 1, 1};
    DWORD seen[2];
    for (int side = 0; side < 2; side++) {
        // The frame's at vector is the light's direction: +z shines onto the quad's face.
        const RwV3d axis = {0, 1, 0};
        RwFrameRotate(RwLightGetFrame(sun), &axis, side ? 180.0f : 0.0f, rwCOMBINEREPLACE);
        ASSERT_TRUE(Begin());
        real->SetMaterial(&material);
        RwD3D9LightingBegin();
        RwD3D9LightingAddGlobalLight(sun);
        RwD3D9LightingFinish(TRUE);
        RwD3D9SetTransformWorld(nullptr);
        RwD3D9SetVertexShader(nullptr);
        RwD3D9SetPixelShader(nullptr);
        RwD3D9SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
        RwD3D9SetTexture(nullptr, 0);
        RwD3D9SetStageZeroForDiffuse();
        RwD3D9FlushRenderStates();
        real->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V));
        RwD3D9SetStreamSource(0, nullptr, 0, 0);
        End();
        seen[side] = ReadPixel(512, 384);
    }
    EXPECT_TRUE(NearColour(seen[0], 0xFFFFFF, 8)) << std::hex << seen[0];
    EXPECT_TRUE(NearColour(seen[1], 0x000000, 8)) << std::hex << seen[1];
}

}  // namespace
