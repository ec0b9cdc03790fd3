// Tests of vertex-shader constants: matrices, lights in object space, uploads and fog.
#include <cmath>
#include <cstring>
#include <vector>

#include <d3dx9math.h>

#include "d3d9testcamera.h"
#include "gfx/core/matrix.h"
#include "gfx/d3d9/d3d9shaderconst.h"
#include "gfx/d3d9/d3d9state.h"
#include "gfx/d3d9/d3d9vertexshader.h"
#include "gfx/world/light.h"

namespace {

class ShaderConstants : public CameraDevice {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(RwEngineInit(nullptr, 0, 0x400000));
        ASSERT_GE(RwEngineRegisterPlugin(4, rwID_LIGHTMODULE, RwLightModuleOpen, RwLightModuleClose), 0);
        CameraDevice::SetUpTestSuite();
    }
    void TearDown() override
    {
        RwD3D9SetVertexShaderWorldMatrix(nullptr);
        for (RwLight *l : lights) {
            RwFrame *f = RwLightGetFrame(l);
            RwLightSetFrame(l, nullptr);
            RwFrameDestroy(f);
            RwLightDestroy(l);
        }
        CameraDevice::TearDown();
    }

    RwLight *Light(RwInt32 type, RwV3d at, RwReal radius, RwRGBAReal colour = {0.5f, 0.25f, 1.0f, 1.0f})
    {
        RwLight *l = RwLightCreate(type);
        RwFrame *f = RwFrameCreate();
        RwFrameTranslate(f, &at, rwCOMBINEREPLACE);
        RwLightSetFrame(l, f);
        RwLightSetRadius(l, radius);
        RwLightSetColor(l, &colour);
        lights.push_back(l);
        return l;
    }

    std::vector<RwLight *> lights;
};

void ExpectMatrixNear(const D3DMATRIX &a, const D3DMATRIX &b)
{
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++)
            EXPECT_NEAR(a.m[r][c], b.m[r][c], 1e-5f) << r << "," << c;
}

TEST_F(ShaderConstants, WorldViewProjectionIsTheTransposedProduct)
{
    ASSERT_TRUE(Begin());
    D3DXMATRIX view, projection, vp, expected;
    RwD3D9GetTransform(D3DTS_VIEW, &view);
    RwD3D9GetTransform(D3DTS_PROJECTION, &projection);
    D3DXMatrixMultiply(&vp, &view, &projection);
    D3DXMatrixTranspose(&expected, &vp);
    D3DMATRIX out;
    RwD3D9GetWorldViewProjTransposed(&out);
    ExpectMatrixNear(out, expected);
    // With a world matrix: transpose(world x view x projection).
    RwMatrix *world = RwMatrixCreate();
    const RwV3d move = {1, 2, 3};
    RwMatrixTranslate(world, &move, rwCOMBINEREPLACE);
    RwD3D9SetVertexShaderWorldMatrix(world);
    D3DXMATRIX w, wvp;
    D3DXMatrixTranslation(&w, 1, 2, 3);
    D3DXMatrixMultiply(&wvp, &w, &vp);
    D3DXMatrixTranspose(&expected, &wvp);
    RwD3D9GetWorldViewProjTransposed(&out);
    ExpectMatrixNear(out, expected);
    D3DXMatrixTranspose(&expected, &projection);
    RwD3D9GetProjectionTransposed(&out);
    ExpectMatrixNear(out, expected);
    End();
    RwD3D9SetVertexShaderWorldMatrix(nullptr);
    RwMatrixDestroy(world);
}

TEST_F(ShaderConstants, ScaledWorldMovesLightsIntoObjectSpace)
{
    RwMatrix *world = RwMatrixCreate();
    const RwV3d two = {2, 2, 2}, move = {4, 0, 0};
    RwMatrixScale(world, &two, rwCOMBINEREPLACE);
    RwMatrixTranslate(world, &move, rwCOMBINEPOSTCONCAT);
    RwD3D9SetVertexShaderWorldMatrix(world);
    const RwV3d dir = {0, 0, 1}, point = {6, 2, 0};
    RwV3d out;
    RwD3D9ObjectSpaceDirection(&out, &dir);
    EXPECT_NEAR(out.z, 1.0f, 1e-3f);
    RwD3D9ObjectSpacePoint(&out, &point);
    EXPECT_NEAR(out.x, 1.0f, 1e-5f);
    EXPECT_NEAR(out.y, 1.0f, 1e-5f);
    EXPECT_NEAR(RwD3D9ObjectSpaceRadius(10.0f), 5.0f, 1e-4f);
    RwD3D9SetVertexShaderWorldMatrix(nullptr);
    RwD3D9ObjectSpacePoint(&out, &point);
    EXPECT_EQ(out.x, 6.0f);
    EXPECT_EQ(RwD3D9ObjectSpaceRadius(10.0f), 10.0f);
    RwMatrixDestroy(world);
}

TEST_F(ShaderConstants, LightsAreWrittenInRegisterOrderAndCut)
{
    std::vector<const RwLight *> list;
    list.push_back(Light(rwLIGHTAMBIENT, {0, 0, 0}, 0, {0.25f, 0.25f, 0.25f, 1}));
    list.push_back(Light(rwLIGHTDIRECTIONAL, {0, 0, 0}, 0));
    for (int i = 0; i < 16; i++)
        list.push_back(Light(rwLIGHTPOINT, {static_cast<RwReal>(i), 0, 0}, 4.0f + i));
    RwLight *soft = Light(rwLIGHTSPOTSOFT, {0, 0, 0}, 2.0f);
    RwLightSetConeAngle(soft, 0.01f);   // narrow: hard-edge factors
    RwLight *wide = Light(rwLIGHTSPOTSOFT, {0, 0, 0}, 2.0f);
    RwLightSetConeAngle(wide, 1.0471976f);  // cosine 0.5
    list.push_back(soft);
    list.push_back(wide);
    RwD3D9VertexShaderDescriptor d = {0xFF, 0x3F, 0, 0};
    std::vector<RwReal> buffer(rwD3D9VSMAXLIGHTREGISTERS * 4);
    RwReal *end = RwD3D9WriteVertexShaderLights(buffer.data(), &d, FALSE, list.data(),
                                                static_cast<RwUInt32>(list.size()));
    EXPECT_EQ(d.lights, 0xF1);              // one directional, 15 points
    EXPECT_EQ(d.spotsAndSets, 0x32);        // the sets stay, two spots
    const int registers = 1 + 2 + (4 + 30) + (1 + 8);
    EXPECT_EQ(end - buffer.data(), registers * 4);
    const RwReal *r = buffer.data();
    EXPECT_EQ(r[0], 0.25f);
    EXPECT_EQ(r[3], 1.0f);                  // not pre-lit
    EXPECT_EQ(r[4 * 2 + 2], 1.0f);          // directional colour after its direction
    EXPECT_NEAR(r[4 * 3 + 0], 1.0f / 4.0f, 1e-6f);    // first point group's radii
    EXPECT_NEAR(r[4 * 3 + 3], 1.0f / 7.0f, 1e-6f);
    EXPECT_EQ(r[4 * 4 + 0], 0.0f);          // first point's position x
    const int spots = 3 + 34;
    const RwReal *softCone = r + 4 * (spots + 3);
    EXPECT_NEAR(softCone[0], 999.99994f, 1e-3f);
    const RwReal *wideCone = r + 4 * (spots + 7);
    EXPECT_NEAR(wideCone[0], 2.0f, 1e-4f);
    EXPECT_NEAR(wideCone[1], -1.0f, 1e-4f);

    // The upload scales ambient and colours only.
    ASSERT_TRUE(RwD3D9SetVertexShaderLightConstants(buffer.data(), &d, 2.0f, 0.5f));
    float back[4 * 8];
    real->GetVertexShaderConstantF(4, back, 8);
    EXPECT_EQ(back[0], 0.5f);
    EXPECT_EQ(back[4 * 2 + 2], 0.5f);
    EXPECT_NEAR(back[4 * 3 + 0], 0.25f, 1e-6f);
    EXPECT_EQ(back[4 * 5 + 0], 0.25f);      // first point colour red halved
}

TEST_F(ShaderConstants, MaterialAndFogRegisters)
{
    RwD3D9VertexShaderRegisters regs;
    std::memset(&regs, 0xFF, sizeof regs);
    regs.materialColor = 20;
    regs.fog = 21;
    const RwRGBA colour = {255, 0, 51, 255};
    ASSERT_TRUE(RwD3D9SetVertexShaderMaterialColor(&colour, &regs));
    float c[4];
    real->GetVertexShaderConstantF(20, c, 1);
    EXPECT_NEAR(c[2], 0.2f, 1e-6f);
    const DWORD rasterCaps = rwD3D9Driver.caps.RasterCaps;
    rwD3D9Driver.caps.RasterCaps &= ~static_cast<DWORD>(D3DPRASTERCAPS_WFOG);
    RwD3D9VertexShaderDescriptor linear = {0, 0, 0, 1};
    RwCameraSetFogDistance(camera, 50.0f);
    ASSERT_TRUE(Begin());
    EXPECT_TRUE(RwD3D9SetVertexShaderFogConstants(&linear, &regs));
    real->GetVertexShaderConstantF(21, c, 1);
    EXPECT_NEAR(c[0], -1.0f / 50.0f, 1e-6f);
    EXPECT_NEAR(c[1], 2.0f, 1e-6f);
    EXPECT_EQ(c[3], 1.0f);
    End();
    // An empty fog range would divide by zero: refused.
    RwCameraSetFogDistance(camera, 100.0f);
    ASSERT_TRUE(Begin());
    EXPECT_FALSE(RwD3D9SetVertexShaderFogConstants(&linear, &regs));
    End();
    RwCameraSetFogDistance(camera, 0.0f);
    rwD3D9Driver.caps.RasterCaps = rasterCaps;
}

}  // namespace
