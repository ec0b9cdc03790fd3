// Tests of the render-state cache, engine-level states, texture binding and the material.
#include <algorithm>
#include <cstring>
#include <vector>

#include "d3d9testdevice.h"
#include "gfx/core/matrix.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9raster.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/d3d9/d3d9state.h"

namespace {

class RenderStates : public StartedDevice {
protected:
    void TearDown() override
    {
        // Every test starts from the defaults.
        RwD3D9SetTextureRaster(nullptr, 0);
        RwD3D9RenderStateCacheOpen();
        StartedDevice::TearDown();
    }

    DWORD Wanted(DWORD state)
    {
        RwUInt32 v = 0;
        RwD3D9GetRenderState(state, &v);
        return v;
    }
    DWORD OnDevice(DWORD state)
    {
        DWORD v = 0xDEADBEEF;
        real->GetRenderState(static_cast<D3DRENDERSTATETYPE>(state), &v);
        return v;
    }
    DWORD Sampler(DWORD stage, DWORD type)
    {
        DWORD v = 0xDEADBEEF;
        real->GetSamplerState(stage, static_cast<D3DSAMPLERSTATETYPE>(type), &v);
        return v;
    }
    RwUInt32 Get(RwInt32 code)
    {
        RwUInt32 v = 0xDEADBEEF;
        EXPECT_TRUE(RwD3D9RenderStateGetHandler(code, &v)) << code;
        return v;
    }
};

void *Value(RwUInt32 v)
{
    return reinterpret_cast<void *>(static_cast<uintptr_t>(v));
}

// A raster that stands for a texture of our own making, with or without alpha.
struct FakeTextureRaster {
    RwRaster *raster = nullptr;
    IDirect3DTexture9 *texture = nullptr;

    FakeTextureRaster(IDirect3DDevice9 *device, bool alpha)
    {
        raster = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA);
        device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr);
        if (raster) {
            RwD3D9RasterGetExtension(raster)->texture = texture;
            RwD3D9RasterGetExtension(raster)->alpha = alpha;
        }
    }
    ~FakeTextureRaster()
    {
        if (raster) {
            RwD3D9RasterGetExtension(raster)->texture = nullptr;
            RwRasterDestroy(raster);
        }
        if (texture)
            texture->Release();
    }
};

} // namespace

TEST_F(RenderStates, SetAndRevertBeforeAFlushSendsNothing)
{
    DWORD cull = Wanted(D3DRS_CULLMODE);
    RwD3D9SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    RwD3D9SetRenderState(D3DRS_CULLMODE, cull);
    RwUInt32 op = 0;
    RwD3D9GetTextureStageState(1, D3DTSS_COLOROP, &op);
    RwD3D9SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    RwD3D9SetTextureStageState(1, D3DTSS_COLOROP, op);
    RwD3D9FlushRenderStates();
    EXPECT_TRUE(device->calls.empty());
    EXPECT_EQ(OnDevice(D3DRS_CULLMODE), cull);
}

TEST_F(RenderStates, LastQueuedValueWinsAndEachStateIsSentOnceInQueueOrder)
{
    RwD3D9SetRenderState(D3DRS_FOGCOLOR, 1);
    RwD3D9SetRenderState(D3DRS_TEXTUREFACTOR, 7);
    RwD3D9SetRenderState(D3DRS_FOGCOLOR, 2);
    RwD3D9SetRenderState(D3DRS_FOGCOLOR, 3);
    const RwUInt32 filtered = rwD3D9FilteredStateCalls;
    RwD3D9SetRenderState(D3DRS_TEXTUREFACTOR, 7);   // queued, and never sent before
    EXPECT_EQ(rwD3D9FilteredStateCalls - filtered, 1u) << "a queued value set again is filtered";
    RwD3D9SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 1);
    RwD3D9SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 2);
    RwD3D9FlushRenderStates();
    const std::vector<std::pair<DWORD, DWORD>> expected = {{D3DRS_FOGCOLOR, 3}, {D3DRS_TEXTUREFACTOR, 7}};
    EXPECT_EQ(device->renderStates, expected);
    EXPECT_EQ(device->Count("SetTextureStageState"), 1);
    EXPECT_EQ(OnDevice(D3DRS_FOGCOLOR), 3u);
    DWORD index = 0;
    real->GetTextureStageState(0, D3DTSS_TEXCOORDINDEX, &index);
    EXPECT_EQ(index, 2u);
    device->ResetLog();
    RwD3D9FlushRenderStates();
    EXPECT_TRUE(device->calls.empty());

    // Sampler states go at once, and only when they change.
    RwD3D9SetSamplerState(2, D3DSAMP_BORDERCOLOR, 0x123);
    RwD3D9SetSamplerState(2, D3DSAMP_BORDERCOLOR, 0x123);
    EXPECT_EQ(device->Count("SetSamplerState"), 1);
    EXPECT_EQ(Sampler(2, D3DSAMP_BORDERCOLOR), 0x123u);
}

TEST_F(RenderStates, EngineCodesTranslateToDeviceStatesAndReadBack)
{
    struct Case {
        RwInt32 code;
        RwUInt32 value;
        DWORD state;
        DWORD sent;
    } cases[] = {
        {rwRENDERSTATESHADEMODE, 1, D3DRS_SHADEMODE, D3DSHADE_FLAT},
        {rwRENDERSTATESRCBLEND, 2, D3DRS_SRCBLEND, D3DBLEND_ONE},
        {rwRENDERSTATEDESTBLEND, 10, D3DRS_DESTBLEND, D3DBLEND_INVDESTCOLOR},
        {rwRENDERSTATECULLMODE, 1, D3DRS_CULLMODE, D3DCULL_NONE},
        {rwRENDERSTATEFOGCOLOR, 0xFF112233, D3DRS_FOGCOLOR, 0xFF112233},
        {rwRENDERSTATESTENCILENABLE, 1, D3DRS_STENCILENABLE, TRUE},
        {rwRENDERSTATESTENCILFAIL, 3, D3DRS_STENCILFAIL, D3DSTENCILOP_REPLACE},
        {rwRENDERSTATESTENCILZFAIL, 4, D3DRS_STENCILZFAIL, D3DSTENCILOP_INCRSAT},
        {rwRENDERSTATESTENCILPASS, 8, D3DRS_STENCILPASS, D3DSTENCILOP_DECR},
        {rwRENDERSTATESTENCILFUNCTION, 3, D3DRS_STENCILFUNC, D3DCMP_EQUAL},
        {rwRENDERSTATESTENCILFUNCTIONREF, 7, D3DRS_STENCILREF, 7},
        {rwRENDERSTATESTENCILFUNCTIONMASK, 0x0F, D3DRS_STENCILMASK, 0x0F},
        {rwRENDERSTATESTENCILFUNCTIONWRITEMASK, 0xF0, D3DRS_STENCILWRITEMASK, 0xF0},
        {rwRENDERSTATEALPHATESTFUNCTION, 7, D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL},
        {rwRENDERSTATEALPHATESTFUNCTIONREF, 0x80, D3DRS_ALPHAREF, 0x80},
    };
    for (const Case &c : cases) {
        EXPECT_TRUE(RwD3D9RenderStateSetHandler(c.code, Value(c.value))) << c.code;
        EXPECT_EQ(Get(c.code), c.value) << c.code;
        EXPECT_EQ(Wanted(c.state), c.sent) << c.code;
    }
    RwD3D9FlushRenderStates();
    for (const Case &c : cases)
        EXPECT_EQ(OnDevice(c.state), c.sent) << c.code;

    // Setting the same engine value again queues nothing.
    device->ResetLog();
    for (const Case &c : cases)
        RwD3D9RenderStateSetHandler(c.code, Value(c.value));
    RwD3D9FlushRenderStates();
    EXPECT_TRUE(device->calls.empty());

    RwReal density = 0.25f;
    EXPECT_TRUE(RwD3D9RenderStateSetHandler(rwRENDERSTATEFOGDENSITY, &density));
    RwUInt32 bits;
    std::memcpy(&bits, &density, 4);
    EXPECT_EQ(Get(rwRENDERSTATEFOGDENSITY), bits);
    EXPECT_EQ(Wanted(D3DRS_FOGDENSITY), bits);

    // Any non-zero stencil enable is "on", as the z and alpha enables are.
    for (RwUInt32 enable : {7u, 0u, 7u, 0u}) {
        EXPECT_TRUE(RwD3D9RenderStateSetHandler(rwRENDERSTATESTENCILENABLE, Value(enable)));
        EXPECT_EQ(Get(rwRENDERSTATESTENCILENABLE), enable ? 1u : 0u);
        RwD3D9FlushRenderStates();
        EXPECT_EQ(OnDevice(D3DRS_STENCILENABLE), enable ? 1u : 0u);
    }
}

TEST_F(RenderStates, CodesAndValuesOutsideTheTablesAreRefused)
{
    RwUInt32 out = 0;
    for (RwInt32 code : {0, 18, 19, 31, -1})
        EXPECT_FALSE(RwD3D9RenderStateSetHandler(code, Value(1))) << code;
    for (RwInt32 code : {0, 5, 18, 31})
        EXPECT_FALSE(RwD3D9RenderStateGetHandler(code, &out)) << code;
    EXPECT_FALSE(RwD3D9RenderStateGetHandler(rwRENDERSTATECULLMODE, nullptr));
    struct Case {
        RwInt32 code;
        RwUInt32 value;
    } bad[] = {{rwRENDERSTATESHADEMODE, 3},         {rwRENDERSTATESRCBLEND, 12},
               {rwRENDERSTATECULLMODE, 0},          {rwRENDERSTATESTENCILFAIL, 9},
               {rwRENDERSTATESTENCILFUNCTION, 0},   {rwRENDERSTATEALPHATESTFUNCTION, 9},
               {rwRENDERSTATEFOGTYPE, 4},           {rwRENDERSTATETEXTUREADDRESS, 5},
               {rwRENDERSTATETEXTUREFILTER, 14}};
    for (const Case &c : bad) {
        RwUInt32 before = Get(c.code);
        EXPECT_FALSE(RwD3D9RenderStateSetHandler(c.code, Value(c.value))) << c.code;
        EXPECT_EQ(Get(c.code), before) << c.code;
    }
    EXPECT_FALSE(RwD3D9RenderStateSetHandler(rwRENDERSTATEFOGDENSITY, nullptr));
    EXPECT_TRUE(RwD3D9RenderStateSetHandler(rwRENDERSTATETEXTUREPERSPECTIVE, Value(1)));
    EXPECT_FALSE(RwD3D9RenderStateSetHandler(rwRENDERSTATETEXTUREPERSPECTIVE, Value(0)));
    // Colour and alpha operations the device does not define (a draw with one
    // stops inside Direct3D): the stage keeps its own. Both ends of the range
    // are operations.
    RwD3D9FlushRenderStates();
    EXPECT_TRUE(device->calls.empty());
    for (DWORD end : {D3DTOP_LERP, D3DTOP_DISABLE}) {
        RwD3D9SetTextureStageState(1, D3DTSS_ALPHAOP, end);
        RwD3D9FlushRenderStates();
        DWORD held = 0;
        real->GetTextureStageState(1, D3DTSS_ALPHAOP, &held);
        EXPECT_EQ(held, end);
    }
    device->ResetLog();
    RwUInt32 op = 0;
    RwD3D9GetTextureStageState(0, D3DTSS_COLOROP, &op);
    RwD3D9SetTextureStageState(0, D3DTSS_COLOROP, 0x3F800000);
    RwD3D9SetTextureStageState(0, D3DTSS_ALPHAOP, 0);
    RwD3D9SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_LERP + 1);
    RwUInt32 after = 0;
    RwD3D9GetTextureStageState(0, D3DTSS_COLOROP, &after);
    EXPECT_EQ(after, op);
    RwD3D9FlushRenderStates();
    EXPECT_TRUE(device->calls.empty());
}

TEST_F(RenderStates, DepthTestOffKeepsWritingThroughAnAlwaysCompare)
{
    EXPECT_TRUE(RwD3D9RenderStateSetHandler(rwRENDERSTATEZTESTENABLE, Value(0)));
    EXPECT_EQ(Wanted(D3DRS_ZENABLE), 1u);
    EXPECT_EQ(Wanted(D3DRS_ZFUNC), static_cast<DWORD>(D3DCMP_ALWAYS));
    EXPECT_TRUE(RwD3D9RenderStateSetHandler(rwRENDERSTATEZWRITEENABLE, Value(0)));
    EXPECT_EQ(Wanted(D3DRS_ZENABLE), 0u);
    EXPECT_EQ(Wanted(D3DRS_ZWRITEENABLE), 0u);
    EXPECT_TRUE(RwD3D9RenderStateSetHandler(rwRENDERSTATEZTESTENABLE, Value(1)));
    EXPECT_EQ(Wanted(D3DRS_ZENABLE), 1u);
    EXPECT_EQ(Wanted(D3DRS_ZFUNC), static_cast<DWORD>(D3DCMP_LESSEQUAL));
    EXPECT_EQ(Get(rwRENDERSTATEZWRITEENABLE), 0u);
    EXPECT_EQ(Get(rwRENDERSTATEZTESTENABLE), 1u);
}

TEST_F(RenderStates, StageZeroAlphaAndVertexAlphaDriveBlendingAndAlphaTest)
{
    FakeTextureRaster withAlpha(real, true);
    ASSERT_NE(withAlpha.raster, nullptr);
    EXPECT_TRUE(RwD3D9RenderStateSetHandler(rwRENDERSTATETEXTURERASTER, withAlpha.raster));
    EXPECT_EQ(Wanted(D3DRS_ALPHABLENDENABLE), 1u);
    EXPECT_EQ(Wanted(D3DRS_ALPHATESTENABLE), 1u);
    IDirect3DBaseTexture9 *bound = nullptr;
    real->GetTexture(0, &bound);
    EXPECT_EQ(bound, withAlpha.texture);
    if (bound)
        bound->Release();
    RwRaster *back = nullptr;
    EXPECT_TRUE(RwD3D9RenderStateGetHandler(rwRENDERSTATETEXTURERASTER, &back));
    EXPECT_EQ(back, withAlpha.raster);

    // Binding it again reaches the device no more.
    device->ResetLog();
    RwD3D9SetTextureRaster(withAlpha.raster, 0);
    EXPECT_EQ(device->Count("SetTexture"), 0);

    // "Always" as the alpha-test function leaves alpha test off while blending.
    RwD3D9RenderStateSetHandler(rwRENDERSTATEALPHATESTFUNCTION, Value(8));
    EXPECT_EQ(Wanted(D3DRS_ALPHATESTENABLE), 0u);
    RwD3D9RenderStateSetHandler(rwRENDERSTATEALPHATESTFUNCTION, Value(5));
    EXPECT_EQ(Wanted(D3DRS_ALPHATESTENABLE), 1u);

    EXPECT_TRUE(RwD3D9SetTexture(nullptr, 0));
    EXPECT_EQ(Wanted(D3DRS_ALPHABLENDENABLE), 0u);
    EXPECT_EQ(Wanted(D3DRS_ALPHATESTENABLE), 0u);
    EXPECT_EQ(RwD3D9GetTextureRaster(0), nullptr);

    // With vertex alpha on, unbinding the alpha texture keeps blending.
    RwD3D9SetTextureRaster(withAlpha.raster, 0);
    EXPECT_TRUE(RwD3D9SetVertexAlphaEnable(TRUE));
    RwD3D9SetTexture(nullptr, 0);
    EXPECT_EQ(Wanted(D3DRS_ALPHABLENDENABLE), 1u);
    EXPECT_TRUE(RwD3D9GetVertexAlphaEnable());
    RwD3D9SetVertexAlphaEnable(FALSE);
    EXPECT_EQ(Wanted(D3DRS_ALPHABLENDENABLE), 0u);

    // An opaque raster on stage 0 turns texture alpha off again.
    FakeTextureRaster opaque(real, false);
    RwD3D9SetTextureRaster(withAlpha.raster, 0);
    RwD3D9SetTextureRaster(opaque.raster, 0);
    EXPECT_EQ(Wanted(D3DRS_ALPHABLENDENABLE), 0u);
    EXPECT_FALSE(RwD3D9SetTextureRaster(opaque.raster, rwD3D9TEXTURESTAGES));
}

TEST_F(RenderStates, TextureSamplerSettingsFollowItsFilterAndAddressing)
{
    FakeTextureRaster image(real, false);
    RwTexture texture;
    std::memset(&texture, 0, sizeof(texture));
    texture.raster = image.raster;
    texture.filterMode = 4;       // mip linear: linear, point mips
    texture.addressing = 0x32;    // U mirror, V clamp
    EXPECT_TRUE(RwD3D9SetTexture(&texture, 1));
    EXPECT_EQ(Sampler(1, D3DSAMP_MINFILTER), static_cast<DWORD>(D3DTEXF_LINEAR));
    EXPECT_EQ(Sampler(1, D3DSAMP_MAGFILTER), static_cast<DWORD>(D3DTEXF_LINEAR));
    EXPECT_EQ(Sampler(1, D3DSAMP_MIPFILTER), static_cast<DWORD>(D3DTEXF_POINT));
    EXPECT_EQ(Sampler(1, D3DSAMP_ADDRESSU), static_cast<DWORD>(D3DTADDRESS_MIRROR));
    EXPECT_EQ(Sampler(1, D3DSAMP_ADDRESSV), static_cast<DWORD>(D3DTADDRESS_CLAMP));
    EXPECT_EQ(RwD3D9GetTextureRaster(1), image.raster);

    texture.filterMode = 12;      // anisotropic minification, linear mips
    RwD3D9SetTexture(&texture, 1);
    EXPECT_EQ(Sampler(1, D3DSAMP_MINFILTER), static_cast<DWORD>(D3DTEXF_ANISOTROPIC));
    const bool anisoMag = rwD3D9Driver.caps.TextureFilterCaps & D3DPTFILTERCAPS_MAGFANISOTROPIC;
    EXPECT_EQ(Sampler(1, D3DSAMP_MAGFILTER), static_cast<DWORD>(anisoMag ? D3DTEXF_ANISOTROPIC : D3DTEXF_LINEAR));
    EXPECT_EQ(Sampler(1, D3DSAMP_MIPFILTER), static_cast<DWORD>(D3DTEXF_LINEAR));
    RwD3D9SetTexture(nullptr, 1);

    // Through the engine codes on stage 0: U and V apart make the common address unreadable.
    EXPECT_TRUE(RwD3D9RenderStateSetHandler(rwRENDERSTATETEXTUREADDRESS, Value(3)));
    EXPECT_EQ(Get(rwRENDERSTATETEXTUREADDRESS), 3u);
    EXPECT_TRUE(RwD3D9RenderStateSetHandler(rwRENDERSTATETEXTUREADDRESSU, Value(4)));
    RwUInt32 out = 0xDEAD;
    EXPECT_FALSE(RwD3D9RenderStateGetHandler(rwRENDERSTATETEXTUREADDRESS, &out));
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(Get(rwRENDERSTATETEXTUREADDRESSU), 4u);
    EXPECT_EQ(Get(rwRENDERSTATETEXTUREADDRESSV), 3u);
    EXPECT_EQ(Sampler(0, D3DSAMP_ADDRESSU), static_cast<DWORD>(D3DTADDRESS_BORDER));
    EXPECT_TRUE(RwD3D9RenderStateSetHandler(rwRENDERSTATETEXTUREFILTER, Value(1)));
    EXPECT_EQ(Sampler(0, D3DSAMP_MINFILTER), static_cast<DWORD>(D3DTEXF_POINT));
    EXPECT_EQ(Get(rwRENDERSTATETEXTUREFILTER), 1u);
    EXPECT_TRUE(RwD3D9RenderStateSetHandler(rwRENDERSTATEBORDERCOLOR, Value(0xFF00FF00)));
    EXPECT_EQ(Sampler(0, D3DSAMP_BORDERCOLOR), 0xFF00FF00u);
}

TEST_F(RenderStates, FogFollowsTheDeviceCaps)
{
    const DWORD saved = rwD3D9Driver.caps.RasterCaps;
    rwD3D9Driver.caps.RasterCaps &= ~static_cast<DWORD>(D3DPRASTERCAPS_FOGVERTEX | D3DPRASTERCAPS_FOGTABLE);
    EXPECT_FALSE(RwD3D9RenderStateSetHandler(rwRENDERSTATEFOGENABLE, Value(1))) << "fog it cannot have";
    EXPECT_EQ(Get(rwRENDERSTATEFOGENABLE), 0u);
    EXPECT_EQ(Wanted(D3DRS_FOGENABLE), 0u);

    rwD3D9Driver.caps.RasterCaps = D3DPRASTERCAPS_FOGVERTEX;
    RwD3D9RenderStateSetHandler(rwRENDERSTATEFOGENABLE, Value(1));
    EXPECT_EQ(Wanted(D3DRS_FOGENABLE), 1u);
    RwD3D9RenderStateSetHandler(rwRENDERSTATEFOGTYPE, Value(3));
    EXPECT_EQ(Wanted(D3DRS_FOGVERTEXMODE), static_cast<DWORD>(D3DFOG_EXP2));
    EXPECT_EQ(Wanted(D3DRS_FOGTABLEMODE), static_cast<DWORD>(D3DFOG_NONE));

    rwD3D9Driver.caps.RasterCaps = D3DPRASTERCAPS_FOGTABLE | D3DPRASTERCAPS_WFOG;
    RwD3D9RenderStateSetHandler(rwRENDERSTATEFOGTYPE, Value(2));
    EXPECT_EQ(Wanted(D3DRS_FOGTABLEMODE), static_cast<DWORD>(D3DFOG_EXP));
    EXPECT_EQ(Wanted(D3DRS_FOGVERTEXMODE), static_cast<DWORD>(D3DFOG_NONE));
    EXPECT_EQ(Get(rwRENDERSTATEFOGTYPE), 2u);
    rwD3D9Driver.caps.RasterCaps = saved;
}

TEST_F(RenderStates, SurfacePropertiesBuildTheMaterialOnce)
{
    rwD3D9AmbientColour = {0.5f, 0.25f, 1.0f, 1.0f};
    const RwSurfaceProperties surface = {0.5f, 1.0f, 0.8f};
    struct Case {
        RwRGBA colour;
        RwUInt32 flags;
        D3DCOLORVALUE diffuse, ambient, emissive;
        DWORD ambientState, colourVertex, ambientSource, emissiveSource;
    } cases[] = {
        // Unmodulated, lit: grey diffuse, ambient light scaled by the surface ambient.
        {{10, 20, 30, 40}, 0x00, {0.8f, 0.8f, 0.8f, 1}, {0.25f, 0.125f, 0.5f, 1}, {0, 0, 0, 1},
         0xFFFFFFFF, 0, D3DMCS_MATERIAL, D3DMCS_MATERIAL},
        // White colour counts as unmodulated; pre-lit takes emissive from the vertices.
        {{255, 255, 255, 255}, 0x48, {0.8f, 0.8f, 0.8f, 1}, {0.25f, 0.125f, 0.5f, 1}, {0, 0, 0, 1},
         0xFFFFFFFF, 1, D3DMCS_MATERIAL, D3DMCS_COLOR1},
        // Modulated, pre-lit: the colour lights through emissive.
        {{255, 0, 102, 51}, 0x48, {0.8f, 0, 0.32f, 0.2f}, {0, 0, 0, 1}, {0.5f * 255 * 0.5f / 255, 0, 102 * 0.5f / 255, 1},
         0x33FF0066, 1, D3DMCS_COLOR1, D3DMCS_MATERIAL},
        // Modulated, lit: the colour lights through ambient.
        {{255, 0, 102, 51}, 0x40, {0.8f, 0, 0.32f, 0.2f}, {0.5f * 0.5f, 0, 102 * 0.5f / 255, 1}, {0, 0, 0, 1},
         0xFFFFFFFF, 0, D3DMCS_MATERIAL, D3DMCS_MATERIAL},
    };
    auto sameColour = [](const D3DCOLORVALUE &a, const D3DCOLORVALUE &b) {
        return std::abs(a.r - b.r) < 1e-4f && std::abs(a.g - b.g) < 1e-4f && std::abs(a.b - b.b) < 1e-4f &&
               std::abs(a.a - b.a) < 1e-4f;
    };
    for (const Case &c : cases) {
        device->ResetLog();
        EXPECT_TRUE(RwD3D9SetSurfaceProperties(&surface, &c.colour, c.flags | 0x01));
        EXPECT_TRUE(RwD3D9SetSurfaceProperties(&surface, &c.colour, c.flags));
        EXPECT_EQ(device->Count("SetMaterial"), 1);
        RwD3D9FlushRenderStates();
        D3DMATERIAL9 m;
        real->GetMaterial(&m);
        EXPECT_TRUE(sameColour(m.Diffuse, c.diffuse)) << m.Diffuse.r << " " << m.Diffuse.g << " " << m.Diffuse.b;
        EXPECT_TRUE(sameColour(m.Ambient, c.ambient)) << m.Ambient.r << " " << m.Ambient.g << " " << m.Ambient.b;
        EXPECT_TRUE(sameColour(m.Emissive, c.emissive)) << m.Emissive.r << " " << m.Emissive.g;
        EXPECT_EQ(OnDevice(D3DRS_AMBIENT), c.ambientState);
        EXPECT_EQ(OnDevice(D3DRS_COLORVERTEX), c.colourVertex);
        EXPECT_EQ(OnDevice(D3DRS_AMBIENTMATERIALSOURCE), c.ambientSource);
        EXPECT_EQ(OnDevice(D3DRS_EMISSIVEMATERIALSOURCE), c.emissiveSource);
    }
    // A change of the ambient light alone builds the material again.
    device->ResetLog();
    rwD3D9AmbientColour.red = 0.75f;
    RwD3D9SetSurfaceProperties(&surface, &cases[3].colour, cases[3].flags);
    EXPECT_EQ(device->Count("SetMaterial"), 1);
    EXPECT_FALSE(RwD3D9SetSurfaceProperties(nullptr, &cases[0].colour, 0));
    rwD3D9AmbientColour = {0, 0, 0, 1};
}

// The lighting sets the ambient state between objects; a material whose
// inputs have not changed puts back the states it goes with, without
// building the material again.
TEST_F(RenderStates, AMaterialStillCurrentPutsBackTheStatesOthersChanged)
{
    rwD3D9AmbientColour = {0, 0, 0, 1};
    const RwSurfaceProperties surface = {1.0f, 1.0f, 1.0f};
    const RwRGBA red = {255, 0, 0, 255};
    EXPECT_TRUE(RwD3D9SetSurfaceProperties(&surface, &red, 0x48));
    RwD3D9FlushRenderStates();
    EXPECT_EQ(OnDevice(D3DRS_AMBIENT), 0xFFFF0000u);
    RwD3D9SetRenderState(D3DRS_AMBIENT, 0);
    RwD3D9SetRenderState(D3DRS_COLORVERTEX, FALSE);
    RwD3D9FlushRenderStates();
    EXPECT_EQ(OnDevice(D3DRS_AMBIENT), 0u);
    device->ResetLog();
    EXPECT_TRUE(RwD3D9SetSurfaceProperties(&surface, &red, 0x48));
    RwD3D9FlushRenderStates();
    EXPECT_EQ(OnDevice(D3DRS_AMBIENT), 0xFFFF0000u);
    EXPECT_EQ(OnDevice(D3DRS_COLORVERTEX), 1u);
    EXPECT_EQ(device->Count("SetMaterial"), 0);
    EXPECT_EQ(device->Count("SetRenderState"), 2);
    // The colour-vertex state alone.
    RwD3D9SetRenderState(D3DRS_COLORVERTEX, FALSE);
    EXPECT_TRUE(RwD3D9SetSurfaceProperties(&surface, &red, 0x48));
    RwD3D9FlushRenderStates();
    EXPECT_EQ(OnDevice(D3DRS_COLORVERTEX), 1u);
}

// A material the device refused, and the zero material a reset leaves, are
// no material the cache knows: the next call sends its own, even one made
// from all-zero inputs.
TEST_F(RenderStates, AMaterialTheDeviceMayNotHoldIsSentAgain)
{
    rwD3D9AmbientColour = {0, 0, 0, 1};
    const RwSurfaceProperties surface = {1.0f, 1.0f, 1.0f};
    const RwRGBA red = {255, 0, 0, 255};
    device->refuseMaterials = true;
    EXPECT_FALSE(RwD3D9SetSurfaceProperties(&surface, &red, 0x40));
    device->refuseMaterials = false;
    device->ResetLog();
    EXPECT_TRUE(RwD3D9SetSurfaceProperties(&surface, &red, 0x40));
    EXPECT_EQ(device->Count("SetMaterial"), 1);
    ASSERT_TRUE(ForceReset());
    const RwSurfaceProperties none = {0, 0, 0};
    const RwRGBA clear = {0, 0, 0, 0};
    device->ResetLog();
    EXPECT_TRUE(RwD3D9SetSurfaceProperties(&none, &clear, 0));
    EXPECT_EQ(device->Count("SetMaterial"), 1);
    D3DMATERIAL9 m;
    real->GetMaterial(&m);
    EXPECT_EQ(m.Diffuse.a, 1.0f);
}

TEST_F(RenderStates, VertexAlphaBlendsOnTheDevice)
{
    RwD3D9SetCullMode(D3DCULL_NONE);
    RwD3D9SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    ASSERT_EQ(real->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
    ASSERT_EQ(real->BeginScene(), D3D_OK);
    ScreenVertex quad[4];
    FillQuad(quad, 10, 10, 20, 0x80FF0000);
    RwD3D9FlushRenderStates();
    real->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ScreenVertex));
    RwD3D9SetVertexAlphaEnable(TRUE);
    FillQuad(quad, 40, 10, 20, 0x80FF0000);
    RwD3D9FlushRenderStates();
    real->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ScreenVertex));
    real->EndScene();
    EXPECT_TRUE(NearColour(ReadPixel(20, 20), 0xFF0000)) << std::hex << ReadPixel(20, 20);
    EXPECT_TRUE(NearColour(ReadPixel(50, 20), 0x800000)) << std::hex << ReadPixel(50, 20);
    EXPECT_EQ(ReadPixel(5, 5), 0u);
}

TEST_F(RenderStates, AResetSendsTheEngineValuesAgain)
{
    RwD3D9SetCullMode(D3DCULL_NONE);
    RwD3D9SetVertexAlphaEnable(TRUE);
    RwD3D9RenderStateSetHandler(rwRENDERSTATEFOGCOLOR, Value(0xFF445566));
    RwD3D9RenderStateSetHandler(rwRENDERSTATETEXTUREFILTER, Value(1));
    RwD3D9RenderStateSetHandler(rwRENDERSTATETEXTUREADDRESSU, Value(D3DTADDRESS_CLAMP));
    RwD3D9RenderStateSetHandler(rwRENDERSTATESTENCILFUNCTIONWRITEMASK, Value(0));
    RwD3D9SetRenderState(D3DRS_FOGSTART, 0x3F800000);
    RwD3D9SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);   // a raw state the engine does not keep
    RwD3D9SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    RwD3D9FlushRenderStates();
    ASSERT_TRUE(ForceReset());
    EXPECT_EQ(OnDevice(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_NONE));
    EXPECT_EQ(OnDevice(D3DRS_ALPHABLENDENABLE), 1u);
    EXPECT_EQ(OnDevice(D3DRS_FOGCOLOR), 0xFF445566u);
    EXPECT_EQ(OnDevice(D3DRS_FOGSTART), 0x3F800000u);
    EXPECT_EQ(OnDevice(D3DRS_LIGHTING), 0u);
    EXPECT_EQ(OnDevice(D3DRS_STENCILWRITEMASK), 0u) << "a reset device holds all ones";
    EXPECT_EQ(OnDevice(D3DRS_FILLMODE), static_cast<DWORD>(D3DFILL_SOLID));
    EXPECT_EQ(Sampler(0, D3DSAMP_MINFILTER), static_cast<DWORD>(D3DTEXF_POINT));
    EXPECT_EQ(Sampler(0, D3DSAMP_ADDRESSU), static_cast<DWORD>(D3DTADDRESS_CLAMP)) << "a reset device wraps";
    DWORD op = 0;
    real->GetTextureStageState(3, D3DTSS_COLOROP, &op);
    EXPECT_EQ(op, static_cast<DWORD>(D3DTOP_DISABLE));
    // A stage state set again as before the reset reaches the device.
    RwD3D9SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    RwD3D9FlushRenderStates();
    real->GetTextureStageState(1, D3DTSS_COLORARG1, &op);
    EXPECT_EQ(op, static_cast<DWORD>(D3DTA_DIFFUSE)) << "a reset device takes the texture";
    EXPECT_EQ(Get(rwRENDERSTATECULLMODE), 1u);
}

// A reset before any camera update sends no fog range: nobody asked for one,
// and the "not sent" marker is no value (the device keeps 0 and 1.0).
TEST_F(RenderStates, AResetSendsOnlyValuesSomeoneAskedFor)
{
    for (int reset = 0; reset < 2; reset++) {
        ASSERT_TRUE(ForceReset());
        EXPECT_EQ(OnDevice(D3DRS_FOGSTART), 0u) << "reset " << reset;
        EXPECT_EQ(OnDevice(D3DRS_FOGEND), 0x3F800000u) << "reset " << reset;
    }
}

// Outside code given the device may change anything: the next draw finds
// every state, sampler state, stage texture and the material as the engine
// has them, though the engine's setters, given what they hold, send nothing;
// a state nobody set keeps what the outside code left.
TEST_F(RenderStates, HandingOutTheDeviceSendsEveryHeldStateAgain)
{
    FakeTextureRaster fake(real, false);
    rwD3D9AmbientColour = {0, 0, 0, 1};
    const RwSurfaceProperties surface = {1.0f, 1.0f, 1.0f};
    const RwRGBA red = {255, 0, 0, 255};
    auto engineSets = [&] {
        RwD3D9SetCullMode(D3DCULL_NONE);
        RwD3D9SetRenderState(D3DRS_TEXTUREFACTOR, 0x11223344);
        RwD3D9SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TFACTOR);
        ASSERT_TRUE(RwD3D9SetTextureRaster(fake.raster, 0));
        RwD3D9RenderStateSetHandler(rwRENDERSTATETEXTUREADDRESSU, Value(D3DTADDRESS_CLAMP));
        ASSERT_TRUE(RwD3D9SetSurfaceProperties(&surface, &red, 0x40));
        RwD3D9FlushRenderStates();
    };
    engineSets();
    D3DMATERIAL9 held;
    real->GetMaterial(&held);

    IDirect3DDevice9 *outside = RwD3D9GetCurrentD3DDevice();
    ASSERT_NE(outside, nullptr);
    outside->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    outside->SetRenderState(D3DRS_TEXTUREFACTOR, 0);
    outside->SetRenderState(D3DRS_FOGSTART, 0x40000000);
    outside->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    outside->SetTexture(0, nullptr);
    outside->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    const D3DMATERIAL9 zero = {};
    outside->SetMaterial(&zero);

    engineSets();
    EXPECT_EQ(OnDevice(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_NONE));
    EXPECT_EQ(OnDevice(D3DRS_TEXTUREFACTOR), 0x11223344u);
    EXPECT_EQ(OnDevice(D3DRS_FOGSTART), 0x40000000u) << "a state nobody set is not sent";
    DWORD arg = 0;
    real->GetTextureStageState(1, D3DTSS_COLORARG1, &arg);
    EXPECT_EQ(arg, static_cast<DWORD>(D3DTA_TFACTOR));
    IDirect3DBaseTexture9 *bound = nullptr;
    real->GetTexture(0, &bound);
    EXPECT_EQ(bound, fake.texture);
    if (bound)
        bound->Release();
    EXPECT_EQ(Sampler(0, D3DSAMP_ADDRESSU), static_cast<DWORD>(D3DTADDRESS_CLAMP));
    D3DMATERIAL9 m;
    real->GetMaterial(&m);
    EXPECT_EQ(std::memcmp(&m, &held, sizeof m), 0);
    // Sent once: the cache holds what the device holds again.
    device->ResetLog();
    RwD3D9FlushRenderStates();
    EXPECT_TRUE(device->calls.empty());
}

// A reset device has no texture bound: the texture bound before the reset
// is bound again by the first set after it.
TEST_F(RenderStates, ATextureBoundBeforeAResetIsBoundAgainAfterIt)
{
    RwRaster *raster = RwRasterCreate(2, 2, 0, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888);
    ASSERT_NE(raster, nullptr);
    ASSERT_TRUE(RwD3D9SetTextureRaster(raster, 0));
    ASSERT_TRUE(ForceReset());
    ASSERT_TRUE(RwD3D9SetTextureRaster(raster, 0));
    IDirect3DBaseTexture9 *bound = nullptr;
    real->GetTexture(0, &bound);
    EXPECT_EQ(bound, RwD3D9RasterGetExtension(raster)->texture);
    if (bound)
        bound->Release();
    RwD3D9SetTextureRaster(nullptr, 0);
    RwRasterDestroy(raster);
}

TEST_F(RenderStates, EverySetterGivenWhatItHoldsCountsAFilteredCallAndSendsNothing)
{
    FakeTextureRaster fake(real, false);
    const RwSurfaceProperties surface = {1.0f, 1.0f, 1.0f};
    const RwRGBA colour = {255, 0, 0, 255};
    const D3DMATRIX view = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 5, 1}}};
    D3DLIGHT9 light = {};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Direction = {0, -1, 0};
    RwMatrix world = {};
    world.right = {1, 0, 0}, world.up = {0, 1, 0}, world.at = {0, 0, 1}, world.pos = {3, 0, 0};
    const struct {
        const char *name;
        void (*set)(RwRaster *, const RwSurfaceProperties *, const RwRGBA *, const D3DMATRIX *, const D3DLIGHT9 *,
                    const RwMatrix *);
    } setters[] = {
        {"table state", [](auto...) { RwD3D9SetSrcBlend(D3DBLEND_ONE); }},
        {"raw state", [](auto...) { RwD3D9SetStencilReference(7); }},
        {"texture raster", [](RwRaster *r, auto...) { RwD3D9SetTextureRaster(r, 0); }},
        {"material", [](RwRaster *, const RwSurfaceProperties *s, const RwRGBA *c, auto...) {
             RwD3D9SetSurfaceProperties(s, c, 0x40);
         }},
        {"vertex format", [](auto...) { RwD3D9SetFVF(D3DFVF_XYZ); }},
        {"stream", [](auto...) { RwD3D9SetStreamSource(1, nullptr, 0, 0); }},
        {"transform", [](RwRaster *, const RwSurfaceProperties *, const RwRGBA *, const D3DMATRIX *m, auto...) {
             RwD3D9SetTransform(D3DTS_VIEW, m);
         }},
        {"world", [](RwRaster *, const RwSurfaceProperties *, const RwRGBA *, const D3DMATRIX *, const D3DLIGHT9 *,
                     const RwMatrix *w) { RwD3D9SetTransformWorld(w); }},
        {"light", [](RwRaster *, const RwSurfaceProperties *, const RwRGBA *, const D3DMATRIX *,
                     const D3DLIGHT9 *l, auto...) { RwD3D9SetLight(0, l); }},
        {"light switch", [](auto...) { RwD3D9EnableLight(0, TRUE); }},
    };
    for (const auto &s : setters) {
        s.set(fake.raster, &surface, &colour, &view, &light, &world);
        RwD3D9FlushRenderStates();
        const size_t calls = device->calls.size();
        const RwUInt32 filtered = rwD3D9FilteredStateCalls;
        s.set(fake.raster, &surface, &colour, &view, &light, &world);
        RwD3D9FlushRenderStates();
        EXPECT_EQ(device->calls.size(), calls) << s.name;
        EXPECT_EQ(rwD3D9FilteredStateCalls - filtered, 1u) << s.name;
    }
    RwD3D9EnableLight(0, FALSE);
}

namespace {

// Every render state, texture-stage state and sampler state a Direct3D 9
// device defines: the ones the cache can be asked to hold.
const DWORD DeviceRenderStates[] = {
    7,   8,   9,   14,  15,  16,  19,  20,  22,  23,  24,  25,  26,  27,  28,  29,  34,  35,  36,  37,
    38,  48,  52,  53,  54,  55,  56,  57,  58,  59,  60,  128, 129, 130, 131, 132, 133, 134, 135, 136,
    137, 139, 140, 141, 142, 143, 145, 146, 147, 148, 151, 152, 154, 155, 156, 157, 158, 159, 160, 161,
    162, 163, 166, 167, 168, 170, 171, 172, 173, 174, 175, 176, 178, 179, 180, 181, 182, 183, 184, 185,
    186, 187, 188, 189, 190, 191, 192, 193, 194, 195, 198, 199, 200, 201, 202, 203, 204, 205, 206, 207,
    208, 209,
};
// The colour and alpha operations (1 and 4) take only the operations the
// device defines, and are left out of the sweeps of any value.
const DWORD DeviceStageStates[] = {2, 3, 5, 6, 7, 8, 9, 10, 11, 22, 23, 24, 26, 27, 28, 32};

struct StateMismatch {
    const char *kind;
    DWORD stage, state, value;
};

} // namespace

// Whatever value a state takes, the marker the cache uses for "not sent"
// included, it reaches the device on first use, and again when set after a
// reset; the engine's own border colour and stencil reference come back by
// themselves.
TEST_F(RenderStates, EveryCachedStateReachesTheDeviceWhateverItsValueAndAfterEveryReset)
{
    std::vector<StateMismatch> wrong;
    auto setAll = [](DWORD value) {
        for (DWORD s : DeviceRenderStates)
            RwD3D9SetRenderState(s, value);
        for (DWORD stage = 0; stage < rwD3D9TEXTURESTAGES; stage++) {
            for (DWORD t : DeviceStageStates)
                RwD3D9SetTextureStageState(stage, t, value);
            for (DWORD t = 1; t < rwD3D9SAMPLERSTATES; t++)
                RwD3D9SetSamplerState(stage, t, value);
        }
        RwD3D9FlushRenderStates();
    };
    auto check = [&](DWORD value) {
        for (DWORD s : DeviceRenderStates)
            if (OnDevice(s) != value)
                wrong.push_back({"render", 0, s, value});
        for (DWORD stage = 0; stage < rwD3D9TEXTURESTAGES; stage++) {
            for (DWORD t : DeviceStageStates) {
                DWORD v = 0xDEADBEEF;
                real->GetTextureStageState(stage, static_cast<D3DTEXTURESTAGESTATETYPE>(t), &v);
                if (v != value)
                    wrong.push_back({"stage", stage, t, value});
            }
            for (DWORD t = 1; t < rwD3D9SAMPLERSTATES; t++)
                if (Sampler(stage, t) != value)
                    wrong.push_back({"sampler", stage, t, value});
        }
    };
    for (DWORD value : {0xFFFFFFFFu, 0u, 0x3F800000u, 0xFFFFFFFFu}) {
        setAll(value);
        check(value);
        ASSERT_TRUE(ForceReset());
        setAll(value);
        check(value);
    }
    for (const StateMismatch &m : wrong)
        ADD_FAILURE() << m.kind << " state " << m.state << " of stage " << m.stage << " does not hold " << std::hex
                      << m.value;

    RwD3D9RenderStateCacheOpen();
    ASSERT_TRUE(RwD3D9RenderStateSetHandler(rwRENDERSTATEBORDERCOLOR, Value(0xFFFFFFFF)));
    ASSERT_TRUE(RwD3D9RenderStateSetHandler(rwRENDERSTATESTENCILFUNCTIONREF, Value(0xFFFFFFFF)));
    RwD3D9FlushRenderStates();
    for (int reset = 0; reset < 2; reset++) {
        ASSERT_TRUE(ForceReset());
        EXPECT_EQ(Sampler(0, D3DSAMP_BORDERCOLOR), 0xFFFFFFFFu) << "reset " << reset;
        EXPECT_EQ(OnDevice(D3DRS_STENCILREF), 0xFFFFFFFFu) << "reset " << reset;
        EXPECT_EQ(Get(rwRENDERSTATEBORDERCOLOR), 0xFFFFFFFFu);
    }

    // A new or reset device holds a fog colour of 0: the default is not sent.
    device->renderStates.clear();
    RwD3D9RenderStateCacheOpen();
    ASSERT_FALSE(device->renderStates.empty());
    for (const auto &sent : device->renderStates)
        EXPECT_NE(sent.first, static_cast<DWORD>(D3DRS_FOGCOLOR));
}
