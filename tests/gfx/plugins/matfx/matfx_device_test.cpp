// Material effects drawn on the Direct3D 9 device: each renderer's picture read back, and its other branches compared.
#include <d3dx9shader.h>

#include <cstring>
#include <vector>

#include "gfx/core/image.h"
#include "gfx/core/matrix.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9allinone.h"
#include "gfx/d3d9/d3d9groundworld.h"
#include "gfx/d3d9/d3d9matfx.h"
#include "gfx/d3d9/d3d9testcamera.h"
#include "gfx/plugins/uvanim/uvanim.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"

namespace {

const int kTolerance = 6;

// A texture of w x h texels given row by row as 0xAARRGGBB, point-sampled and clamped.
RwTexture *MakeTexture(RwInt32 w, RwInt32 h, const std::vector<RwUInt32> &texels)
{
    RwImage *image = RwImageCreate(w, h, 32);
    RwImageAllocatePixels(image);
    for (RwInt32 i = 0; i < w * h; ++i) {
        const RwUInt32 c = texels[static_cast<size_t>(i)];
        RwUInt8 *p = image->cpPixels + (i / w) * image->stride + (i % w) * 4;
        p[0] = static_cast<RwUInt8>(c >> 16), p[1] = static_cast<RwUInt8>(c >> 8), p[2] = static_cast<RwUInt8>(c),
        p[3] = static_cast<RwUInt8>(c >> 24);
    }
    RwRaster *raster = RwRasterCreate(w, h, 32, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888);
    RwRasterSetFromImage(raster, image);
    RwImageDestroy(image);
    RwTexture *texture = RwTextureCreate(raster);
    texture->addressing = 0x33;
    return texture;
}

RwUInt32 Rgb(DWORD pixel) { return pixel & 0xFFFFFF; }

bool Near(DWORD got, RwUInt32 want) { return NearColour(got, want, kTolerance); }

class MatFxDevice : public CameraDevice {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(RwEngineInit(nullptr, 0, 0x400000));
        ASSERT_TRUE(RwWorldPluginAttach());
        ASSERT_TRUE(RwAnimPluginAttach());
        ASSERT_TRUE(RwMatFxPluginAttach());
        ASSERT_TRUE(RwUVAnimPluginAttach());
        CameraDevice::SetUpTestSuite();
        const RwV2d window = {1.0f, 0.75f};
        RwCameraSetViewWindow(camera, &window);
    }

    void SetUp() override
    {
        CameraDevice::SetUp();
        saved = rwMatFxDevice;
        material = RwMaterialCreate();
    }

    void TearDown() override
    {
        RwMaterialDestroy(material);
        rwMatFxDevice = saved;
        CameraDevice::TearDown();
    }

    // A quad filling the screen at distance 1, u running along x, white
    // pre-lit unless lit is asked for, on the effects pipeline.
    RwAtomic *Quad(RwUInt32 flags = rwGEOMETRYPRELIT)
    {
        RwGeometry *g = RwGeometryCreate(4, 2, rwGEOMETRYTEXTURED | rwGEOMETRYNORMALS | flags);
        const RwV3d corners[4] = {{-1, -0.75f, 1}, {1, -0.75f, 1}, {-1, 0.75f, 1}, {1, 0.75f, 1}};
        for (int i = 0; i < 4; ++i) {
            g->morphTarget[0].verts[i] = corners[i];
            g->morphTarget[0].normals[i] = {0, 0, -1};
            g->texCoords[0][i] = {corners[i].x > 0 ? 1.0f : 0.0f, corners[i].y > 0 ? 0.0f : 1.0f};
            if (g->preLitLum) {
                g->preLitLum[i] = {255, 255, 255, 255};
            }
        }
        const RwUInt16 tris[2][3] = {{0, 1, 2}, {1, 3, 2}};
        for (int t = 0; t < 2; ++t) {
            std::memcpy(g->triangles[t].vertIndex, tris[t], sizeof tris[t]);
            RwGeometryTriangleSetMaterial(g, &g->triangles[t], material);
        }
        RwGeometryUnlock(g);
        RwAtomic *atomic = RwAtomicCreate();
        frame = RwFrameCreate();
        RwAtomicSetFrame(atomic, frame);
        RwAtomicSetGeometry(atomic, g, 0);
        RwGeometryDestroy(g);
        RwMatFxAtomicEnableEffects(atomic);
        return atomic;
    }

    void Destroy(RwAtomic *atomic)
    {
        RwAtomicDestroy(atomic);
        RwFrameDestroy(frame);
    }

    // Draws the atomic over a blue clear and reads pixels along the middle row.
    std::vector<DWORD> Draw(RwAtomic *atomic, std::vector<int> xs = {256, 768})
    {
        RwRGBA blue = {0, 0, 255, 255};
        std::vector<DWORD> out;
        if (!RwCameraClear(camera, &blue, rwCAMERACLEARIMAGE | rwCAMERACLEARZ) || !RwCameraBeginUpdate(camera)) {
            return out;
        }
        RwD3D9SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        EXPECT_EQ(atomic, RwAtomicDefaultRenderCallBack(atomic));
        End();
        for (int x : xs) {
            out.push_back(Rgb(ReadPixel(x, 384)));
        }
        return out;
    }

    void SetTexture(RwTexture *texture)
    {
        RwMaterialSetTexture(material, texture);
        RwTextureDestroy(texture);
    }

    // The material with a one-texel base texture and the effects; the slot of the kind asked for.
    RwMatFxEffectSlot *Effects(RwUInt32 texel, RwInt32 effects, RwInt32 kind)
    {
        SetTexture(MakeTexture(1, 1, {texel}));
        RwMatFxMaterialSetEffects(material, effects);
        return RwMatFxMaterialGetEffectSlot(material, kind);
    }

    RwMatFxDeviceGlobals saved;
    RwMaterial *material = nullptr;
    RwFrame *frame = nullptr;
};

TEST_F(MatFxDevice, ShaderTokensAreWhatTheAssemblerMakes)
{
    for (int i = 0; i < rwMATFXNUMSHADERS; ++i) {
        ID3DXBuffer *code = nullptr;
        ASSERT_EQ(D3D_OK, D3DXAssembleShader(rwMatFxShaderText[i], static_cast<UINT>(std::strlen(rwMatFxShaderText[i])),
                                             nullptr, nullptr, 0, &code, nullptr));
        const size_t words = code->GetBufferSize() / 4;
        EXPECT_EQ(0xFFFFu, rwMatFxShaderTokens[i][words - 1]) << i;
        EXPECT_EQ(0, std::memcmp(code->GetBufferPointer(), rwMatFxShaderTokens[i], code->GetBufferSize())) << i;
        code->Release();
        EXPECT_NE(nullptr, rwMatFxDevice.shaders[i]) << i;
    }
}

TEST_F(MatFxDevice, UVTransformShiftsTheTextureUnlessFlaggedIdentity)
{
    SetTexture(MakeTexture(2, 1, {0xFFFF0000, 0xFF00FF00}));
    material->texture->addressing = 0x11;   // wrapped: the shift brings the other half in
    RwMatFxMaterialSetEffects(material, rwMATFXEFFECTUVTRANSFORM);
    RwAtomic *atomic = Quad();
    const std::vector<DWORD> plain = Draw(atomic);
    ASSERT_EQ(2u, plain.size());
    EXPECT_TRUE((plain[0] == 0xFF0000 && plain[1] == 0x00FF00) || (plain[0] == 0x00FF00 && plain[1] == 0xFF0000));
    RwMatrix *shift = RwMatrixCreate();
    shift->pos.x = 0.5f;
    RwMatFxMaterialSetUVTransformMatrices(material, shift, nullptr);
    shift->flags = rwMATRIXIDENTITYFLAGS;
    EXPECT_EQ(plain, Draw(atomic));
    shift->flags = 0;
    const std::vector<DWORD> moved = Draw(atomic);
    EXPECT_EQ(plain[0], moved[1]);
    EXPECT_EQ(plain[1], moved[0]);
    // A UV animation scrolling u by half a turn does the same.
    RwAnimAnimation *scroll = RwUVAnimCreateIdentity("scroll");
    static_cast<RwUVAnimKeyFrame *>(scroll->pFrames)[1].uv[4] = 1.0f;
    ASSERT_EQ(material, RwUVAnimMaterialSetAnim(material, scroll, 0));
    RwUVAnimDestroy(scroll);
    RwUVAnimMaterialAddTime(material, 0.5f);
    RwUVAnimMaterialApplyUpdate(material);
    EXPECT_EQ(moved, Draw(atomic));
    RwMatrixDestroy(shift);
    Destroy(atomic);
}

TEST_F(MatFxDevice, EnvironmentMapAddsItsTexelScaledByTheCoefficient)
{
    RwMatFxEnvMapData &env = Effects(0xFF404040, rwMATFXEFFECTENVMAP, rwMATFXKINDENVMAP)->data.envMap;
    env.texture = MakeTexture(2, 2, {0xFF808080, 0xFF808080, 0xFF808080, 0xFF808080});
    RwAtomic *atomic = Quad();
    env.coef = 0.0f;
    EXPECT_TRUE(Near(Draw(atomic)[0], 0x404040));
    env.coef = 0.5f;
    const DWORD added = Draw(atomic)[0];
    EXPECT_TRUE(Near(added, 0x7F7F7F)) << std::hex << added;
    env.coef = 1.004f;   // clamped to the full texel, not wrapped to nothing
    EXPECT_TRUE(Near(Draw(atomic)[0], 0xC0C0C0));
    // Without MULTIPLYADD the two-pass branch gives the same picture.
    env.coef = 0.5f;
    rwMatFxDevice.multiplyAdd = FALSE;
    EXPECT_TRUE(Near(Draw(atomic)[0], added)) << std::hex << Draw(atomic)[0];
    // A texture with alpha takes the shader, else two passes: texel x alpha x coefficient added.
    RwTextureDestroy(env.texture);
    env.texture = MakeTexture(1, 1, {0x80808080});
    rwMatFxDevice = saved;
    EXPECT_TRUE(Near(Draw(atomic)[0], 0x606060)) << std::hex << Draw(atomic)[0];
    std::memset(rwMatFxDevice.shaders, 0, sizeof rwMatFxDevice.shaders);
    EXPECT_TRUE(Near(Draw(atomic)[0], 0x606060)) << std::hex << Draw(atomic)[0];
    Destroy(atomic);
}

TEST_F(MatFxDevice, BumpMapOfConstantHeightDrawsLikeTheTextureAStepOnlyBesideIt)
{
    RwMatFxBumpMapData &bump = Effects(0xFF606060, rwMATFXEFFECTBUMPMAP, rwMATFXKINDBUMPMAP)->data.bumpMap;
    std::vector<RwUInt32> flat(8, 0x80606060), step(8, 0x00606060);
    for (int i = 4; i < 8; ++i) {
        step[static_cast<size_t>(i)] = 0xFF606060;
    }
    bump.bumpedTexture = MakeTexture(8, 1, flat);
    bump.invBumpWidth = 1.0f / 8;
    bump.coef = -1.0f;
    RwFrame *light = RwFrameCreate();
    const RwV3d away = {1000, 0, 1};
    RwFrameTranslate(light, &away, rwCOMBINEREPLACE);
    bump.frame = light;
    RwAtomic *atomic = Quad();
    const std::vector<int> xs = {64, 192, 448, 576, 832, 960};
    for (DWORD p : Draw(atomic, xs)) {
        EXPECT_TRUE(Near(p, 0x606060)) << std::hex << p;
    }
    // With shaders the instance carries tangents for the light-shifted coordinates.
    EXPECT_EQ(rwMatFxDevice.shaders[0] != nullptr,
              (RwD3D9GeometryGetInstanceFlags(atomic->geometry) & rwD3D9INSTANCETANGENTS) != 0);
    // Emboss in two passes where the device has no shaders.
    void *shaders[rwMATFXNUMSHADERS];
    std::memcpy(shaders, rwMatFxDevice.shaders, sizeof shaders);
    std::memset(rwMatFxDevice.shaders, 0, sizeof shaders);
    for (DWORD p : Draw(atomic, xs)) {
        EXPECT_TRUE(Near(p, 0x606060)) << std::hex << p;
    }
    std::memcpy(rwMatFxDevice.shaders, shaders, sizeof shaders);
    RwTextureDestroy(bump.bumpedTexture);
    bump.bumpedTexture = MakeTexture(8, 1, step);
    const std::vector<DWORD> stepped = Draw(atomic, xs);
    EXPECT_TRUE(Near(stepped[0], 0x606060) && Near(stepped[1], 0x606060));
    EXPECT_TRUE(Near(stepped[4], 0x606060) && Near(stepped[5], 0x606060));
    EXPECT_FALSE(Near(stepped[2], 0x606060) && Near(stepped[3], 0x606060))
        << std::hex << stepped[2] << " " << stepped[3];
    Destroy(atomic);
    RwFrameDestroy(light);
}

// Bump and environment map together: the flat bump draws its texture and the
// environment texel, scaled by its coefficient, is added over it, in one
// shader pass and in the passes of a device without shaders.
TEST_F(MatFxDevice, BumpWithEnvironmentMapAddsTheEnvironmentOverTheBump)
{
    RwMatFxBumpMapData &bump = Effects(0xFF606060, rwMATFXEFFECTBUMPENVMAP, rwMATFXKINDBUMPMAP)->data.bumpMap;
    bump.bumpedTexture = MakeTexture(2, 1, {0x80606060, 0x80606060});
    bump.invBumpWidth = 0.5f;
    bump.coef = -1.0f;
    RwMatFxEnvMapData &env = RwMatFxMaterialGetEffectSlot(material, rwMATFXKINDENVMAP)->data.envMap;
    env.texture = MakeTexture(2, 2, {0xFF808080, 0xFF808080, 0xFF808080, 0xFF808080});
    RwAtomic *atomic = Quad();
    const struct {
        bool shaders;
        float coef;
        RwUInt32 want;
    } cases[] = {{true, 0.5f, 0xA0A0A0}, {true, 0.0f, 0x606060}, {false, 0.5f, 0xA0A0A0}, {false, 0.0f, 0x606060}};
    for (const auto &c : cases) {
        rwMatFxDevice = saved;
        if (!c.shaders) {
            std::memset(rwMatFxDevice.shaders, 0, sizeof rwMatFxDevice.shaders);
        }
        env.coef = c.coef;
        for (DWORD p : Draw(atomic)) {
            EXPECT_TRUE(Near(p, c.want)) << std::hex << p << " shaders " << c.shaders << " coefficient " << c.coef;
        }
    }
    Destroy(atomic);
}

// An environment texture that has no raster is no environment map: the bump
// draws alone, with shaders and without, and a plain environment map draws
// its base texture.
TEST_F(MatFxDevice, EnvironmentTextureWithoutARasterAddsNothing)
{
    RwMatFxBumpMapData &bump = Effects(0xFF606060, rwMATFXEFFECTBUMPENVMAP, rwMATFXKINDBUMPMAP)->data.bumpMap;
    bump.bumpedTexture = MakeTexture(2, 1, {0x80606060, 0x80606060});
    bump.invBumpWidth = 0.5f;
    bump.coef = -1.0f;
    RwMatFxEnvMapData &env = RwMatFxMaterialGetEffectSlot(material, rwMATFXKINDENVMAP)->data.envMap;
    env.texture = RwTextureCreate(nullptr);
    env.coef = 0.5f;
    RwAtomic *atomic = Quad();
    for (bool shaders : {true, false}) {
        rwMatFxDevice = saved;
        if (!shaders) {
            std::memset(rwMatFxDevice.shaders, 0, sizeof rwMatFxDevice.shaders);
        }
        for (DWORD p : Draw(atomic)) {
            EXPECT_TRUE(Near(p, 0x606060)) << std::hex << p << " shaders " << shaders;
        }
    }
    rwMatFxDevice = saved;
    RwTexture *rasterless = env.texture;
    env.texture = nullptr;
    RwMatFxMaterialSetEffects(material, rwMATFXEFFECTENVMAP);
    RwMatFxEnvMapData &alone = RwMatFxMaterialGetEffectSlot(material, rwMATFXKINDENVMAP)->data.envMap;
    alone.texture = rasterless;
    alone.coef = 0.5f;
    for (DWORD p : Draw(atomic)) {
        EXPECT_TRUE(Near(p, 0x606060)) << std::hex << p;
    }
    Destroy(atomic);
}

TEST_F(MatFxDevice, BumpVerticesSkipIndicesOutsideTheMeshAndFlatTangents)
{
    RwMatFxBumpMapData &bump = Effects(0xFF606060, rwMATFXEFFECTBUMPMAP, rwMATFXKINDBUMPMAP)->data.bumpMap;
    bump.bumpedTexture = MakeTexture(1, 1, {0x80606060});
    bump.invBumpWidth = 1.0f;
    bump.coef = -1.0f;
    // No shaders: no tangent stream, so the tangents come from the triangles.
    std::memset(rwMatFxDevice.shaders, 0, sizeof rwMatFxDevice.shaders);
    RwAtomic *atomic = Quad();
    RwGeometry *g = atomic->geometry;
    for (int i = 0; i < 4; ++i) {
        g->texCoords[0][i].v = 0.5f;   // every tangent of length 0
    }
    EXPECT_TRUE(Near(Draw(atomic, {512})[0], 0x606060));
    // The instance stays; the mesh list the tangent walk reads changes under it.
    RwMesh *mesh = RwMeshHeaderGetMeshes(g->mesh);
    mesh->indices[4] = 999;            // outside the vertices
    mesh->numIndices = 5;              // a triangle whose corners run past the list
    // Both triangles of the instance still drawn, one inside each.
    for (DWORD p : Draw(atomic, {256, 768})) {
        EXPECT_TRUE(Near(p, 0x606060)) << std::hex << p;
    }
    Destroy(atomic);
}

TEST_F(MatFxDevice, DualBlendPairsGiveTheirColoursInOneAndTwoPasses)
{
    RwMatFxDualData &dual = Effects(0xFF808080, rwMATFXEFFECTDUAL, rwMATFXKINDDUAL)->data.dual;
    dual.texture = MakeTexture(1, 1, {0x80406080});
    RwAtomic *atomic = Quad();
    // The base raster has alpha, so the mesh blends over the blue clear: an
    // opaque base stays opaque under the half-transparent dual in every path.
    struct Case {
        RwInt32 src, dst;
        RwUInt32 want;
    } cases[] = {
        {9, 1, 0x203040}, {1, 3, 0x203040}, {5, 6, 0x607080}, {9, 3, 0x406080}, {2, 2, 0xC0E0FF}, {1, 5, 0x404040},
    };
    for (const Case &c : cases) {
        RwMatFxMaterialSetDualBlendModes(material, c.src, c.dst);
        const DWORD one = Draw(atomic)[0];
        EXPECT_TRUE(Near(one, c.want)) << c.src << "," << c.dst << " " << std::hex << one;
        rwMatFxDevice.twoTextures = FALSE;
        const DWORD two = Draw(atomic)[0];
        EXPECT_TRUE(Near(two, c.want)) << c.src << "," << c.dst << " two passes " << std::hex << two;
        rwMatFxDevice = saved;
        rwMatFxDevice.blendStages = 3;
        const DWORD three = Draw(atomic)[0];
        EXPECT_TRUE(Near(three, c.want)) << c.src << "," << c.dst << " three stages " << std::hex << three;
        rwMatFxDevice = saved;
    }
    Destroy(atomic);
}

TEST_F(MatFxDevice, DualWithUVTransformMovesTheBaseOnly)
{
    SetTexture(MakeTexture(2, 1, {0xFFFF0000, 0xFF00FF00}));
    material->texture->addressing = 0x11;
    RwMatFxMaterialSetEffects(material, rwMATFXEFFECTDUALUVTRANSFORM);
    RwMatFxDualData &dual = RwMatFxMaterialGetEffectSlot(material, rwMATFXKINDDUAL)->data.dual;
    dual.texture = MakeTexture(1, 1, {0xFFFFFFFF});
    RwMatFxMaterialSetDualBlendModes(material, 9, 1);
    RwAtomic *atomic = Quad();
    const std::vector<DWORD> plain = Draw(atomic);
    RwMatrix *shift = RwMatrixCreate();
    shift->pos.x = 0.5f;
    shift->flags = 0;
    RwMatFxMaterialSetUVTransformMatrices(material, shift, nullptr);
    const std::vector<DWORD> moved = Draw(atomic);
    EXPECT_EQ(plain[0], moved[1]);
    EXPECT_EQ(plain[1], moved[0]);
    RwMatrixDestroy(shift);
    Destroy(atomic);
}

TEST_F(MatFxDevice, LightingOffWithoutPrelightDrawsOpaqueBlack)
{
    Effects(0xFFFFFFFF, rwMATFXEFFECTUVTRANSFORM, rwMATFXKINDUVTRANSFORM);
    RwAtomic *atomic = Quad(0);
    EXPECT_EQ(0u, Draw(atomic)[0]);
    Destroy(atomic);
}

}  // namespace

TEST_F(MatFxDevice, SectorPipelineDrawsTheGroundWithItsEffect)
{
    RwWorld *world = ReadGroundWorld();
    ASSERT_NE(nullptr, world);
    RwWorldAddCamera(world, camera);
    RwMaterial *ground = world->matList.materials[0];
    RwTexture *halves = MakeTexture(2, 1, {0xFFFF0000, 0xFF00FF00});
    halves->addressing = 0x11;
    RwMaterialSetTexture(ground, halves);
    RwTextureDestroy(halves);
    RwMatFxMaterialSetEffects(ground, rwMATFXEFFECTUVTRANSFORM);
    RwWorldSector *sector = reinterpret_cast<RwWorldSector *>(world->rootSector);
    sector->pipeline = rwMatFxPipelines.worldSector;
    auto draw = [&] {
        RwRGBA blue = {0, 0, 255, 255};
        EXPECT_TRUE(RwCameraClear(camera, &blue, rwCAMERACLEARIMAGE | rwCAMERACLEARZ));
        EXPECT_TRUE(RwCameraBeginUpdate(camera));
        RwD3D9SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        EXPECT_EQ(sector, RwWorldSectorDefaultRenderCallBack(sector));
        End();
        return Rgb(ReadPixel(100, 700));
    };
    const RwUInt32 plain = draw();
    EXPECT_TRUE(plain == 0xFF0000u || plain == 0x00FF00u) << std::hex << plain;
    RwMatrix *shift = RwMatrixCreate();
    shift->pos.x = 0.5f;
    shift->flags = 0;
    RwMatFxMaterialSetUVTransformMatrices(ground, shift, nullptr);
    EXPECT_EQ(plain ^ 0xFFFF00u, draw());   // the other texel
    EXPECT_EQ(0x0000FFu, Rgb(ReadPixel(100, 100)));
    RwMatrixDestroy(shift);
    RwWorldRemoveCamera(world, camera);
    RwWorldDestroy(world);
}
