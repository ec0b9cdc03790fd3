// Tests of vertex-shader constants: matrices, lights in object space, uploads and fog.
#include <cmath>
#include <cstring>
#include <vector>
#include <xmmintrin.h>

#include "d3d9testlights.h"
#include "gfx/core/matrix.h"
#include "gfx/d3d9/d3d9im2d.h"
#include "gfx/d3d9/d3d9shaderconst.h"
#include "gfx/d3d9/d3d9state.h"
#include "gfx/d3d9/d3d9vertexshader.h"

namespace {

class ShaderConstants : public LightDevice {
protected:
    void TearDown() override
    {
        RwD3D9SetVertexShaderWorldMatrix(nullptr);
        LightDevice::TearDown();
    }
};

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
    list.push_back(Light(rwLIGHTDIRECTIONAL, {0, 0, 0}, 0, {0.5f, 0.25f, 1.0f, 1}));
    for (int i = 0; i < 16; i++)
        list.push_back(Light(rwLIGHTPOINT, {static_cast<RwReal>(i), 0, 0}, 4.0f + i, {0.5f, 0.25f, 1.0f, 1}));
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
    // So would one too small for its reciprocal, where tiny results are not
    // flushed to zero (this device flushes them; other drivers do not).
    ASSERT_TRUE(Begin());
    const RwReal farPlane = camera->farPlane;
    camera->farPlane = 1.5e-38f;
    camera->fogPlane = 1.4e-38f;
    const unsigned int csr = _mm_getcsr();
    _mm_setcsr(csr & ~static_cast<unsigned int>(_MM_FLUSH_ZERO_ON));
    EXPECT_FALSE(RwD3D9SetVertexShaderFogConstants(&linear, &regs));
    _mm_setcsr(csr);
    camera->farPlane = farPlane;
    End();
    RwCameraSetFogDistance(camera, 0.0f);
    rwD3D9Driver.caps.RasterCaps = rasterCaps;
}

// The generated shader lit by gathered constants: a quad facing the camera is
// white under a light shining onto it and black under one shining away, a
// point light brightens it only within its radius, and a world matrix moves
// the quad and brings the lights into its space.
TEST_F(ShaderConstants, GeneratedShaderIsLitByTheUploadedLights)
{
    RwD3D9VertexShaderCacheInit();
    struct V {
        float x, y, z, nx, ny, nz;
    };
    const V quad[4] = {{-1, -1, 5, 0, 0, -1}, {1, -1, 5, 0, 0, -1}, {-1, 1, 5, 0, 0, -1}, {1, 1, 5, 0, 0, -1}};
    const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                          {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0}, D3DDECL_END()};
    void *declaration = nullptr;
    ASSERT_TRUE(RwD3D9CreateVertexDeclaration(elements, &declaration));
    RwLight *sun = Light(rwLIGHTDIRECTIONAL, {0, 0, 0}, 0, {1, 1, 1, 1});
    RwLight *lamp = Light(rwLIGHTPOINT, {0, 0, 4}, 10.0f, {1, 1, 1, 1});
    RwLight *farLamp = Light(rwLIGHTPOINT, {0, 0, -5.1f}, 10.0f, {1, 1, 1, 1});
    RwLight *spot = Light(rwLIGHTSPOT, {0, 0, 4}, 10.0f, {1, 1, 1, 1});
    RwLight *soft = Light(rwLIGHTSPOTSOFT, {0, 0, 4}, 10.0f, {1, 1, 1, 1});
    RwLight *ahead = Light(rwLIGHTPOINT, {0, 0, 5}, 10.0f, {1, 1, 1, 1});
    RwLightSetConeAngle(spot, 1.2f);
    RwLightSetConeAngle(soft, 1.2f);
    const RwV3d axis = {0, 1, 0};
    RwMatrix *world = RwMatrixCreate();
    struct Case {
        const RwLight *light;
        RwReal turn;
        RwV3d move;     // of the quad, by its world matrix
        DWORD expected;
    } cases[] = {{sun, 0.0f, {0, 0, 0}, 0xFFFFFF}, {sun, 180.0f, {0, 0, 0}, 0x000000},
                 {lamp, 0.0f, {0, 0, 0}, 0x7A7A7A}, {farLamp, 0.0f, {0, 0, 0}, 0},
                 {spot, 0.0f, {0, 0, 0}, 0xFFFFFF}, {soft, 0.0f, {0, 0, 0}, 0x292929},
                 {sun, 0.0f, {10, 0, 0}, 0}, {ahead, 0.0f, {0, 0, 1}, 0x7A7A7A}};
    for (const Case &c : cases) {
        RwFrameRotate(RwLightGetFrame(sun), &axis, c.turn, rwCOMBINEREPLACE);
        RwMatrixTranslate(world, &c.move, rwCOMBINEREPLACE);
        RwD3D9SetVertexShaderWorldMatrix(world);
        ASSERT_TRUE(Begin());
        RwD3D9VertexShaderDescriptor d = {0, 0, rwD3D9VSNORMALS, 0};
        std::vector<RwReal> buffer(rwD3D9VSMAXLIGHTREGISTERS * 4);
        RwD3D9WriteVertexShaderLights(buffer.data(), &d, FALSE, &c.light, 1);
        RwD3D9VertexShaderRegisters r;
        void *shader = RwD3D9GetVertexShaderForDescriptor(nullptr, &d, &r);
        ASSERT_NE(shader, nullptr);
        D3DMATRIX wvp;
        RwD3D9GetWorldViewProjTransposed(&wvp);
        real->SetVertexShaderConstantF(0, &wvp.m[0][0], 4);
        ASSERT_TRUE(RwD3D9SetVertexShaderLightConstants(buffer.data(), &d, 1.0f, 1.0f));
        RwD3D9SetVertexDeclaration(declaration);
        RwD3D9SetVertexShader(shader);
        RwD3D9SetPixelShader(nullptr);
        RwD3D9SetTexture(nullptr, 0);
        RwD3D9SetStageZeroForDiffuse();
        RwD3D9FlushRenderStates();
        real->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V));
        RwD3D9SetStreamSource(0, nullptr, 0, 0);
        RwD3D9SetVertexShader(nullptr);
        End();
        // Lit at the corners and blended: the lamp is sqrt(3) from each, so
        // 1/sqrt(3) - 1/10 of its light; the far lamp reaches none. The
        // corners lie inside the spots' cones (cosine 0.577 against 0.362):
        // the hard edge lets everything through, the soft one a third.
        const DWORD centre = ReadPixel(512, 384);
        EXPECT_TRUE(NearColour(centre, c.expected, 8)) << std::hex << centre;
    }
    RwD3D9VertexShaderCacheTerm();
    RwD3D9DeleteVertexDeclaration(declaration);
    RwD3D9SetVertexShaderWorldMatrix(nullptr);
    RwMatrixDestroy(world);
}

}  // namespace
