// Engine worlds: loads, registries and their messages, picking, and frames read back: transparency order, additive parts, shadows.
#include "engine_host.h"
#include "sample/engine_scene.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/CGameCharacterManager.h"
#include "engine/CKivAlphaManager.h"
#include "engine/CKivCamera.h"
#include "engine/CKivClump.h"
#include "engine/CKivLight.h"
#include "engine/CKivShadow.h"
#include "engine/CKivViewport.h"
#include "engine/CKivWorld.h"
#include "engine/KivDebug.h"
#include "engine/KivWorldFollow.h"
#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiSystem.h"
#include "engine/gui/CKivGuiTooltipManager.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"
#include "gfx/core/raster.h"
#include "gfx/core/renderstate.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/d3d9/d3d9skinpipe.h"
#include "gfx/d3d9/d3d9standard.h"
#include "gfx/plugins/hanim/dff_bytes.h"
#include "gfx/plugins/skin/skinint.h"
#include "gfx/world/clump.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"
#include "gfx/world/worldids.h"
#include "tests/gfx/d3d9/d3d9readback.h"
#include "tests/support/failnew/fail_new.h"
#include "tests/support/failnew/malloc_probe.h"

namespace {

auto *const host = ::testing::AddGlobalTestEnvironment(new HostedEngine<>);

const float kPi = 3.14159265f;

std::string messages;

void Collect(const char *text)
{
    messages += text;
}

struct Rgb {
    int r, g, b;
};

Rgb Pixel(int x, int y)
{
    const DWORD p = ReadPixel(rwD3D9Driver.device, rwD3D9Driver.defaultColorSurface, x, y);
    return {static_cast<int>(p >> 16 & 0xFF), static_cast<int>(p >> 8 & 0xFF), static_cast<int>(p & 0xFF)};
}

void ExpectPixel(Rgb expected, int x, int y, int tolerance = 8)
{
    const Rgb p = Pixel(x, y);
    EXPECT_NEAR(expected.r, p.r, tolerance) << x << "," << y;
    EXPECT_NEAR(expected.g, p.g, tolerance) << x << "," << y;
    EXPECT_NEAR(expected.b, p.b, tolerance) << x << "," << y;
}

CKivClump *LoadPart(const char *file, const KivTestQuad &quad, RwV3d position)
{
    WriteFileBytes(file, KivTestModel({{quad, position}}));
    CKivClump *clump = new CKivClump(file);
    EXPECT_EQ(1, clump->Load(file, nullptr));
    return clump;
}

// A white ground at y = 0 seen straight down from the camera at height 20
// (25.6 pixels per unit at the ground, x to the left on screen).
class WorldScene : public ::testing::Test {
protected:
    void SetUp() override
    {
        messages.clear();
        previousSink = KivDebugSetSink(Collect);
        WriteFileBytes("ground.bsp", Ground());
        world = new CKivWorld("Scene");
        ASSERT_EQ(1, world->Load("ground.bsp", nullptr, nullptr));
        world->SetClearColor({0, 0, 0, 255});
        camera = new CKivCamera("eye");
        Look(20.0f);
        ASSERT_EQ(1, world->AddCamera(camera));
        world->SetCamera(camera);
        CKivBase::GetInstance()->SetCurrentWorld(world);
    }

    virtual std::string Ground() { return KivTestGround(50.0f, 0.0f, 30.0f); }

    void Look(float height)
    {
        const RwV3d eye = {0, height, 0}, target = {0, 0, 0}, up = {0, 0, 1};
        if (!camera->GetCamera())
            ASSERT_EQ(1, camera->CreateLookAt(&eye, &target, &up, 0.5f, 1000.0f, kPi / 2,
                                              CKivBase::GetInstance()->GetViewport()));
        else
            camera->SetLookAt(&eye, &target, &up);
    }

    void TearDown() override
    {
        for (CKivClump *clump : clumps) {
            world->RemoveClump(clump);
            delete clump;
        }
        for (CKivLight *light : lights) {
            world->RemoveLight(light);
            delete light;
        }
        delete shadowModel;
        world->RemoveCamera(camera);
        CKivBase::GetInstance()->SetCurrentWorld(nullptr);
        delete world;
        delete camera;
        EXPECT_EQ("", messages);
        KivDebugSetSink(previousSink);
    }

    CKivClump *Add(const char *file, const KivTestQuad &quad, RwV3d position)
    {
        CKivClump *clump = LoadPart(file, quad, position);
        EXPECT_EQ(1, world->AddClump(clump));
        clumps.push_back(clump);
        return clump;
    }

    // A directional light shining straight down.
    CKivLight *Sun()
    {
        WriteFileBytes("sun.dff", KivTestDirectionalLightFile());
        CKivLight *light = new CKivLight("sun");
        EXPECT_EQ(1, light->Load("sun.dff"));
        KivTestShineDown(RwLightGetFrame(light->GetLight()));
        EXPECT_EQ(1, world->AddLight(light));
        lights.push_back(light);
        return light;
    }

    // A hidden bone shape at height 5 casting through a black shadow model,
    // transparent by name so that it must draw into the shadow, not the view.
    CKivClump *Caster()
    {
        KivTestQuad hidden, black;
        hidden.name = "Bip01 Spine";
        hidden.half = black.half = 2.0f;
        black.prelit = false;
        black.material = "_t";
        CKivClump *caster = Add("caster.dff", hidden, {0, 5, 0});
        shadowModel = LoadPart("shade.dff", black, {0, 5, 0});
        EXPECT_EQ(1, caster->CreateShadow(shadowModel, 1000.0f));
        return caster;
    }

    int Render()
    {
        return CKivBase::GetInstance()->RenderWorld();
    }

    KivDebugSink previousSink = nullptr;
    CKivWorld *world = nullptr;
    CKivCamera *camera = nullptr;
    std::vector<CKivClump *> clumps;
    std::vector<CKivLight *> lights;
    CKivClump *shadowModel = nullptr;
};

TEST_F(WorldScene, TranslucentClumpsBlendFarthestFirst)
{
    // Added nearest first; distances to the camera 1, 3 and 5.
    KivTestQuad blue, green, red;
    blue.colour = {0, 0, 255, 128};
    green.colour = {0, 255, 0, 128};
    red.colour = {255, 0, 0, 128};
    blue.half = green.half = red.half = 0.5f;
    Add("blue.dff", blue, {0, 19, 0});
    Add("green.dff", green, {0, 17, 0});
    Add("red.dff", red, {0, 15, 0});
    ASSERT_EQ(1, Render());
    // white, then red, green and blue each over half of what lies below
    ExpectPixel({64, 96, 159}, 512, 384);
    ExpectPixel({255, 255, 255}, 100, 384);
    EXPECT_EQ(0u, world->GetAlphaManager()->GetCount());
}

TEST_F(WorldScene, AdditivePartsBrightenWhatLiesBelow)
{
    KivTestQuad dark, glow;
    dark.colour = {50, 50, 50, 255};
    glow.colour = {0, 0, 200, 128};
    glow.material = "_Add";
    Add("dark.dff", dark, {0, 10, 0});
    CKivClump *clump = Add("glow.dff", glow, {0, 15, 0});
    ASSERT_EQ(1, Render());
    ExpectPixel({50, 50, 150}, 512, 384);
    // Ordinary blending once the flag is cleared.
    clump->SetAlphaAttribute(0);
    ASSERT_EQ(1, Render());
    ExpectPixel({25, 25, 125}, 512, 384);
}

// Linear fog from the camera's fog distance 10 to its far plane 30: the
// ground at 20 and a translucent part at 19 both fade halfway to blue; the
// frame after fog is switched off is clear again.
TEST_F(WorldScene, FogFadesTheGroundAndTheTransparentPass)
{
    KivTestQuad black;
    black.colour = {0, 0, 0, 128};
    black.half = 0.5f;
    Add("black.dff", black, {0, 1, 0});
    RwCamera *rw = camera->GetCamera();
    RwCameraSetFarClipPlane(rw, 30.0f);
    RwCameraSetFogDistance(rw, 10.0f);
    world->SetFogColor({0, 0, 255, 255});
    world->SetFog(1);
    ASSERT_EQ(1, Render());
    ExpectPixel({128, 128, 255}, 100, 384, 10);
    // Black fogged by 11/20 toward blue, half over the fogged ground.
    ExpectPixel({64, 64, 185}, 512, 384, 10);
    RwBool fog = TRUE;
    RwRenderStateGet(rwRENDERSTATEFOGENABLE, &fog);
    EXPECT_FALSE(fog);
    world->SetFog(0);
    ASSERT_EQ(1, Render());
    ExpectPixel({255, 255, 255}, 100, 384);
    ExpectPixel({128, 128, 128}, 512, 384);
    RwCameraSetFarClipPlane(rw, 1000.0f);
}

TEST_F(WorldScene, WithoutAnAlphaManagerTransparentPartsAreNotDrawn)
{
    KivTestQuad red;
    red.colour = {255, 0, 0, 128};
    CKivClump *clump = Add("red.dff", red, {0, 15, 0});
    CKivBase *base = CKivBase::GetInstance();
    CKivAlphaManager *previous = base->GetAlphaManager();
    base->SetAlphaManager(nullptr);
    RwRGBA black = {0, 0, 0, 255};
    RwCameraClear(camera->GetCamera(), &black, 3);
    ASSERT_NE(nullptr, RwCameraBeginUpdate(camera->GetCamera()));
    clump->Render();
    RwCameraEndUpdate(camera->GetCamera());
    base->SetAlphaManager(previous);
    EXPECT_EQ(0u, world->GetAlphaManager()->GetCount());
    ExpectPixel({0, 0, 0}, 512, 384);
    // With the world's manager the same part is drawn, blended over the ground.
    ASSERT_EQ(1, Render());
    ExpectPixel({255, 128, 128}, 512, 384);
}

TEST_F(WorldScene, ACasterDarkensTheGroundUnderItFadingWithDistance)
{
    Sun();
    CKivClump *caster = Caster();
    // The first frame measures the caster; the texture then fits it.
    ASSERT_EQ(1, Render());
    ASSERT_EQ(1, Render());
    // Under it: 1 - 150/255 at intensity (400 - 15) / 400.
    const int under = static_cast<int>(255 * (1 - 150.0 / 255 * 385 / 400));
    ExpectPixel({under, under, under}, 512, 384, 14);
    ExpectPixel({255, 255, 255}, 512 + 180, 384);
    ExpectPixel({255, 255, 255}, 512, 384 + 180);
    EXPECT_GT(caster->GetShadow()->GetTriangleCount(), 0);

    Look(200.0f);   // intensity (400 - 195) / 400
    ASSERT_EQ(1, Render());
    const int farther = static_cast<int>(255 * (1 - 150.0 / 255 * 205 / 400));
    ExpectPixel({farther, farther, farther}, 512, 384, 14);
    Look(420.0f);   // beyond 0.4 of the far clip
    ASSERT_EQ(1, Render());
    ExpectPixel({255, 255, 255}, 512, 384);

    // Shadows off in the engine root: none drawn.
    Look(20.0f);
    CKivBase::GetInstance()->SetShadowSwitch(0);
    ASSERT_EQ(1, Render());
    CKivBase::GetInstance()->SetShadowSwitch(1);
    ExpectPixel({255, 255, 255}, 512, 384);
}

TEST_F(WorldScene, ShadowsDrawAfterTheDeviceIsReset)
{
    Sun();
    Caster();
    ASSERT_EQ(1, Render());
    // A resource of the default pool held across a reset makes a windowed device lost.
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    IDirect3DVertexBuffer9 *pinned = nullptr;
    ASSERT_EQ(D3D_OK, device->CreateVertexBuffer(64, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &pinned, nullptr));
    D3DPRESENT_PARAMETERS p = rwD3D9Driver.present;
    device->Reset(&p);
    pinned->Release();
    ASSERT_EQ(D3DERR_DEVICENOTRESET, device->TestCooperativeLevel());
    ASSERT_TRUE(RwD3D9CheckDeviceReset());
    ASSERT_EQ(1, Render());
    ASSERT_EQ(1, Render());
    EXPECT_LT(Pixel(512, 384).r, 160);
}

// A black strip along x over [-2, 2], 1 wide, under a root at height 5: the
// half below x = 0 hangs on bone 0 (node at x = -2), the rest on its child
// bone 1 (node at the root). Both windings, so it shows from either side.
std::string SkinnedStrip(const char *name)
{
    RwGeometry *g = RwGeometryCreate(8, 8, rwGEOMETRYPOSITIONS | rwGEOMETRYNORMALS | rwGEOMETRYMODULATEMATERIALCOLOR);
    RwMaterial *material = RwMaterialCreate();
    material->color = {0, 0, 0, 255};
    RwSkin *skin = RwSkinCreateRecord(2, 2, 8);
    skin->maxWeights = 1;
    skin->numUsedBones = 2;
    for (int b = 0; b < 2; b++) {
        skin->usedBones[b] = static_cast<RwUInt8>(b);
        RwMatrixSetIdentity(&skin->skinToBoneMatrices[b]);
        skin->skinToBoneMatrices[b].pos.x = b ? 0.0f : 2.0f;
        RwMatrixMarkChanged(&skin->skinToBoneMatrices[b]);
    }
    const RwUInt16 tris[4][3] = {{0, 2, 1}, {1, 2, 3}, {0, 1, 2}, {1, 3, 2}};
    for (int v = 0; v < 8; v++) {
        const int bone = v / 4;
        g->morphTarget[0].verts[v] = {(v & 1) ? 2.0f * bone : 2.0f * bone - 2.0f, 0.0f, (v & 2) ? 0.5f : -0.5f};
        g->morphTarget[0].normals[v] = {0.0f, 1.0f, 0.0f};
        skin->vertexBoneIndices[v] = static_cast<RwUInt32>(bone);
        skin->vertexBoneWeights[4 * v] = 1.0f;
        const int t = v;   // eight triangles, four per half
        const int base = 4 * (t / 4);
        g->triangles[t] = {{static_cast<RwUInt16>(base + tris[t % 4][0]), static_cast<RwUInt16>(base + tris[t % 4][1]),
                            static_cast<RwUInt16>(base + tris[t % 4][2])},
                           0};
        RwGeometryTriangleSetMaterial(g, &g->triangles[t], material);
    }
    RwMaterialDestroy(material);
    g->morphTarget[0].boundingSphere = {{0, 0, 0}, 2.1f};
    if (name)
        KivTestAddString(g, rwKINDGEOMETRY, name);
    RwGeometryUnlock(g);
    RwSkinGeometrySetSkin(g, skin);
    const std::string geometry = KivTestWritten(g);
    RwGeometryDestroy(g);

    RwFrame *root = RwFrameCreate(), *bone0 = RwFrameCreate(), *bone1 = RwFrameCreate();
    const RwV3d up = {0, 5, 0}, left = {-2, 0, 0}, back = {2, 0, 0};
    RwFrameTranslate(root, &up, rwCOMBINEREPLACE);
    RwFrameTranslate(bone0, &left, rwCOMBINEREPLACE);
    RwFrameTranslate(bone1, &back, rwCOMBINEREPLACE);
    RwFrameAddChild(root, bone0);
    RwFrameAddChild(bone0, bone1);
    RwHAnimFrameSetID(bone0, 1);
    RwHAnimFrameSetID(bone1, 2);
    const RwInt32 ids[2] = {1, 2}, flags[2] = {0, rwHANIMPOPPARENTMATRIX};
    RwHAnimFrameSetHierarchy(bone0, RwHAnimHierarchyCreate(2, flags, ids, 0, 36));
    const Bytes rights = Build().Header(0x1F, 8).U32(rwID_SKINPLUGIN).U32(rwSKINTYPEGENERIC);
    const Bytes dff = DffClump(DffFrameList({root, bone0, bone1}), {Bytes(geometry.begin(), geometry.end())}, {0},
                               rights);
    RwFrameDestroyHierarchy(root);
    return std::string(dff.begin(), dff.end());
}

TEST_F(WorldScene, ASkinnedCasterShadowsItsPoseNotItsBindPose)
{
    Sun();
    // The caster is a hidden bone shape; its shadow model the same strip, shown.
    WriteFileBytes("skinned.dff", SkinnedStrip("Bip01 Arm"));
    WriteFileBytes("skinshade.dff", SkinnedStrip(nullptr));
    CKivClump *caster = new CKivClump("skinned");
    ASSERT_EQ(1, caster->Load("skinned.dff", nullptr));
    clumps.push_back(caster);
    ASSERT_EQ(1, world->AddClump(caster));
    shadowModel = new CKivClump("skinshade");
    ASSERT_EQ(1, shadowModel->Load("skinshade.dff", nullptr));
    ASSERT_EQ(1, caster->CreateShadow(shadowModel, 1000.0f));
    // Bone 1 turned a quarter about y: its half now runs from the root towards -z.
    RwHAnimHierarchy *h = caster->GetHierarchy();
    ASSERT_NE(nullptr, h);
    RwMatrixSetIdentity(&h->pMatrixArray[0]);
    h->pMatrixArray[0].pos = {-2, 5, 0};
    RwMatrixSetIdentity(&h->pMatrixArray[1]);
    h->pMatrixArray[1].right = {0, 0, -1};
    h->pMatrixArray[1].at = {1, 0, 0};
    h->pMatrixArray[1].pos = {0, 5, 0};
    for (int b = 0; b < 2; b++)
        RwMatrixMarkChanged(&h->pMatrixArray[b]);

    ASSERT_EQ(1, Render());
    ASSERT_EQ(1, Render());
    RwAtomic *drawn = nullptr;
    RwClumpForAllAtomics(shadowModel->GetClump(), [](RwAtomic *a, void *out) {
        *static_cast<RwAtomic **>(out) = a;
        return a;
    }, &drawn);
    ASSERT_NE(nullptr, drawn);
    EXPECT_EQ(rwD3D9SKINLAYOUTSHADER, RwD3D9SkinAtomicGetLayout(drawn));
    // Bone 0's half at x = -1.5 and the turned half at z = -1.5 shade the
    // ground; where the bind pose had bone 1's half (x = 1.5) stays lit.
    EXPECT_LT(Pixel(512 + 38, 384).r, 160);
    EXPECT_LT(Pixel(512, 384 + 38).r, 160);
    ExpectPixel({255, 255, 255}, 512 - 38, 384);
    ExpectPixel({255, 255, 255}, 512, 384 - 38);
}

class Blobs : public CGameCharacterManager {
};

const RwRGBA kGrass = {90, 170, 70, 255};

// The same view over a lit ground that wears a grass texture.
class GrassScene : public WorldScene {
protected:
    std::string Ground() override
    {
        RwImage *image = RwImageCreate(4, 4, 32);
        RwImageAllocatePixels(image);
        for (int i = 0; i < 16; i++)
            std::memcpy(image->cpPixels + (i / 4) * image->stride + 4 * (i % 4), &kGrass, 4);
        EXPECT_NE(nullptr, RwImageWritePng(image, "grass.png"));
        RwImageDestroy(image);
        return KivTestGround(50.0f, 0.0f, 30.0f, 1, 1, true, "grass");
    }

    // The frame as a grab of it keeps it, alpha included.
    std::vector<RwRGBA> Grab()
    {
        RwRaster *raster = camera->GetCamera()->frameBuffer;
        RwImage *image = RwImageCreate(raster->width, raster->height, 32);
        std::vector<RwRGBA> pixels;
        if (image && RwImageAllocatePixels(image) && RwImageSetFromRaster(image, raster)) {
            for (int y = 0; y < raster->height; y++) {
                const RwRGBA *row = reinterpret_cast<const RwRGBA *>(image->cpPixels + y * image->stride);
                pixels.insert(pixels.end(), row, row + raster->width);
            }
        }
        RwImageDestroy(image);
        width = raster->width;
        return pixels;
    }

    int width = 0;
};

TEST_F(GrassScene, ShadowsDarkenTexturedGroundAndLeaveTheFrameOpaque)
{
    Sun();
    Caster();
    ASSERT_EQ(1, Render());
    ASSERT_EQ(1, Render());
    // A half-dark blob 6 units to the screen's right.
    RwTexture *texture = KivTestBlobTexture(4, 0x80000000u);
    const RwV3d point = {-6, 3, 0};
    Blobs().RenderShadow(world->GetWorld(), &point, 3.0f, 10.0f, texture, camera);
    RwTextureDestroy(texture);
    RwUInt32 channels = 0;   // what draws next writes all channels again
    RwD3D9GetRenderState(D3DRS_COLORWRITEENABLE, &channels);
    EXPECT_EQ(0xFu, channels);
    const std::vector<RwRGBA> frame = Grab();
    ASSERT_FALSE(frame.empty());
    // Under the caster: the grass times 1 - 150/255 at intensity 385/400.
    const float kept = 1.0f - 150.0f / 255 * 385 / 400;
    const RwRGBA under = frame[384 * width + 512], blob = frame[384 * width + 512 + 154];
    EXPECT_NEAR(kGrass.red * kept, under.red, 10);
    EXPECT_NEAR(kGrass.green * kept, under.green, 10);
    EXPECT_NEAR(kGrass.blue * kept, under.blue, 10);
    EXPECT_NEAR(kGrass.green * 127 / 255, blob.green, 10);
    // Darkening changes colour only: everywhere in and beside the shadow the
    // frame stays opaque, and beside it the grass is as it was.
    const struct { int x, y; bool shaded; } points[] = {
        {512, 384, true}, {512 + 30, 384 + 30, true}, {512 + 154, 384, true}, {512, 384 + 180, false},
        {512 - 300, 384 - 300, false}, {100, 700, false}};
    for (const auto &p : points) {
        const RwRGBA c = frame[p.y * width + p.x];
        EXPECT_EQ(255, static_cast<int>(c.alpha)) << p.x << "," << p.y;
        EXPECT_LE(c.red, kGrass.red + 2) << p.x << "," << p.y;
        EXPECT_LE(c.green, kGrass.green + 2) << p.x << "," << p.y;
        EXPECT_LE(c.blue, kGrass.blue + 2) << p.x << "," << p.y;
        if (!p.shaded) {
            EXPECT_NEAR(kGrass.red, c.red, 3) << p.x << "," << p.y;
            EXPECT_NEAR(kGrass.green, c.green, 3) << p.x << "," << p.y;
            EXPECT_NEAR(kGrass.blue, c.blue, 3) << p.x << "," << p.y;
        }
    }
}

TEST_F(WorldScene, ABlobLiesUnderItsPoint)
{
    RwTexture *texture = KivTestBlobTexture(4, 0xFF000000u);
    Blobs blobs;
    const RwV3d point = {-6, 3, 0};   // 6 units to the screen's right
    ASSERT_EQ(1, Render());
    RwCamera *rw = camera->GetCamera();
    RwCameraSetFarClipPlane(rw, 1000.0f);
    blobs.RenderShadow(world->GetWorld(), &point, 3.0f, 10.0f, texture, camera);
    ExpectPixel({0, 0, 0}, 512 + 154, 384, 24);
    ExpectPixel({255, 255, 255}, 512, 384);
    ExpectPixel({255, 255, 255}, 512 + 154 + 90, 384);

    // No radius or a floor deeper than the depth: the floor stays.
    const RwV3d high = {6, 30, 0};
    ASSERT_EQ(1, Render());
    blobs.RenderShadow(world->GetWorld(), &high, 3.0f, 10.0f, texture, camera);
    const RwV3d left = {6, 3, 0};
    blobs.RenderShadow(world->GetWorld(), &left, 0.0f, 10.0f, texture, camera);
    ExpectPixel({255, 255, 255}, 512 - 154, 384);
    // No texture: the ground half dark within the radius only, though its
    // triangles reach far beyond (the corners of the blob's square stay lit).
    blobs.RenderShadow(world->GetWorld(), &left, 3.0f, 10.0f, nullptr, camera);
    ExpectPixel({127, 127, 127}, 512 - 154, 384);
    ExpectPixel({127, 127, 127}, 512 - 154 + 60, 384);
    for (const int dx : {-70, 70})
        for (const int dy : {-70, 70})
            ExpectPixel({255, 255, 255}, 512 - 154 + dx, 384 + dy);
    ExpectPixel({255, 255, 255}, 512 - 154 - 90, 384);

    // The character manager: one blob under each held character's pelvis.
    KivTestQuad body;
    body.name = "Bip01";
    CKivClump *character = Add("character.dff", body, {-6, 3, 0});
    RwFrame *pelvis = character->GetFirstChildFrame();
    KivTestAddString(pelvis, rwKINDFRAME, "Bip01 Pelvis");
    blobs.AddCharacter(character);
    blobs.SetScene(world->GetWorld(), camera);
    ASSERT_EQ(1, Render());
    blobs.DrawShadows(nullptr);   // the game passes no texture
    ExpectPixel({127, 127, 127}, 512 + 154, 384);
    ASSERT_EQ(1, Render());
    blobs.SetShadowTexture(texture);
    blobs.DrawShadows(nullptr);
    ExpectPixel({0, 0, 0}, 512 + 154, 384, 24);
    RwTextureDestroy(texture);
}

TEST_F(WorldScene, PicksSkipTransparentParts)
{
    KivTestQuad solid, glass;
    glass.material = "_t";
    CKivClump *floor = Add("solid.dff", solid, {0, 10, 0});
    Add("glass.dff", glass, {0, 15, 0});
    ASSERT_EQ(1, Render());
    EXPECT_EQ(floor, world->PickClump(512, 384));
    EXPECT_EQ(nullptr, world->PickClump(100, 100));
    world->SetCamera(nullptr);
    EXPECT_EQ(nullptr, world->PickClump(512, 384));
    EXPECT_EQ(1, world->Render());   // no camera: nothing drawn
    world->SetCamera(camera);
}

// Where the GUI owns the mouse nothing in the world is picked: a dialog under
// it, an open modal dialog of kind 1 or 3, or the mouse-block flag at 1.
TEST_F(WorldScene, PicksNothingWhereTheGuiOwnsTheMouse)
{
    CKivClump *floor = Add("floor.dff", KivTestQuad(), {0, 10, 0});
    CKivGuiSystem *gui = CKivBase::GetInstance()->GetGuiSystem();
    ASSERT_EQ(CKivGuiSystem::GetInstance(), gui);
    CKivGuiDialog *dialog = new CKivGuiDialog(900);
    dialog->SetLocation(462, 334);
    dialog->SetSize(100, 100);
    gui->AddDialog(dialog);
    const struct {
        int mouseX, kind, visible, blocked;
        bool picked;
    } cases[] = {
        {512, 0, 1, 0, false}, {10, 0, 1, 0, true},  {512, 0, 0, 0, true}, {10, 1, 1, 0, false},
        {10, 3, 1, 0, false},  {10, 2, 1, 0, true},  {10, 1, 0, 0, true},  {10, 0, 1, 1, false},
        {10, 0, 1, 2, true},
    };
    for (const auto &c : cases) {
        gui->MsgProc(nullptr, WM_MOUSEMOVE, 0, MAKELPARAM(c.mouseX, 384));
        dialog->SetModalKind(c.kind);
        dialog->SetVisible(c.visible);
        gui->SetMouseBlocked(c.blocked);
        EXPECT_EQ(c.picked ? floor : nullptr, world->PickClump(512, 384))
            << c.mouseX << " kind " << c.kind << " visible " << c.visible << " blocked " << c.blocked;
    }
    gui->SetMouseBlocked(0);
    delete dialog;
    EXPECT_EQ(floor, world->PickClump(512, 384));
}

// Screen positions through the world's camera (straight down from 20, 25.6
// pixels per unit at the ground, x to the left, z up), with y counted
// upward as the 2D toolkit does.
TEST_F(WorldScene, ScreenPositionsOfPartsAndPointsAbove)
{
    KivTestQuad mark;
    mark.name = "mark";
    CKivClump *clump = Add("marked.dff", mark, {3, 10, 2});
    ASSERT_EQ(1, Render());   // frames up to date
    // Beside the part's frame by 1.8 of its radius, 10 units below the camera.
    RwAtomic *atomic = clump->FindAtomic("mark");
    ASSERT_NE(nullptr, atomic);
    const float beside = 3.0f + 1.8f * RwAtomicGetWorldBoundingSphere(atomic)->radius;
    RwV2d at = clump->GetAtomicScreenPosition("mark");
    EXPECT_NEAR(512.0f - beside * 51.2f, at.x, 0.01f);
    EXPECT_NEAR(384.0f + 2 * 51.2f, at.y, 0.01f);
    at = clump->GetAtomicScreenPosition("none");
    EXPECT_EQ(-1.0f, at.x);
    // The root at the origin raised by 15: the middle of a 1024 x 768 screen.
    at = clump->GetScreenPositionAbove(15.0f, 1024.0f, 768.0f);
    EXPECT_NEAR(512.5f, at.x, 0.01f);
    EXPECT_NEAR(384.5f, at.y, 0.01f);
    const RwV3d aside = {-5, 0, 2};   // at the ground: 128 pixels right, 51.2 up
    clump->SetPosition(&aside);
    clump->UpdateObjects();
    ASSERT_EQ(1, Render());
    at = clump->GetScreenPositionAbove(0.0f, 1024.0f, 768.0f);
    EXPECT_NEAR(640.5f, at.x, 0.01f);
    EXPECT_NEAR(384.5f + 51.2f, at.y, 0.01f);
    // Out of the camera's view: none.
    const RwV3d away = {500, 0, 0};
    clump->SetPosition(&away);
    clump->UpdateObjects();
    ASSERT_EQ(1, Render());
    at = clump->GetAtomicScreenPosition("mark");
    EXPECT_EQ(-1.0f, at.x);
    EXPECT_EQ(-1.0f, at.y);
}

// Followed tooltips find their part in the current world without a lookup of the caller's.
TEST_F(WorldScene, FollowedPartsAreFoundInTheCurrentWorld)
{
    EXPECT_EQ(&KivWorldFollowResolve, CKivGuiTooltipManager::GetFollowResolver());
    KivTestQuad head;
    head.name = "head";
    CKivClump *hero = Add("hero.dff", head, {0, 5, 0});
    GuiFollowTarget t = {};
    ASSERT_EQ(1, KivWorldFollowResolve("hero.dff", "head", &t));
    EXPECT_EQ(hero->FindAtomic("head"), t.atomic);
    EXPECT_EQ(camera, t.camera);
    EXPECT_EQ(0, KivWorldFollowResolve("hero.dff", "hand", &t));
    EXPECT_EQ(0, KivWorldFollowResolve("nobody", "head", &t));
    world->SetCamera(nullptr);
    EXPECT_EQ(0, KivWorldFollowResolve("hero.dff", "head", &t));
    world->SetCamera(camera);
    CKivBase::GetInstance()->SetCurrentWorld(nullptr);
    EXPECT_EQ(0, KivWorldFollowResolve("hero.dff", "head", &t));
    CKivBase::GetInstance()->SetCurrentWorld(world);
}

TEST_F(WorldScene, RegistryMisuseIsReportedWithNames)
{
    CKivClump *first = Add("first.dff", KivTestQuad(), {0, 5, 0});
    first->SetTypeName("avatar");
    CKivClump twin("FIRST.DFF");
    twin.SetTypeName("npc");
    EXPECT_EQ(0, world->AddClump(&twin));   // same name, and no graphics clump either
    EXPECT_EQ(0, world->RemoveClump(&twin));   // another object of that name: silent
    CKivClump stranger("stranger");
    EXPECT_EQ(0, world->RemoveClump(&stranger));
    EXPECT_EQ(0, world->AddCamera(camera));
    EXPECT_EQ(first, world->FindClump("First.DFF"));
    EXPECT_EQ(">>>>>>>>>> You already added the clump(npc:first.dff) to the world(scene)!!!\n"
              ">>>>>>>>>> You can't remove the clump(:stranger). There isn't it in the world(scene)!!!\n"
              ">>>>>>>>>> You already added the camera(eye) to the world(scene)!!!\n",
              messages);
    messages.clear();

    // Names of any length reach the messages whole.
    std::string longName(400, 'q');
    CKivClump longOne(longName.c_str());
    world->RemoveClump(&longOne);
    EXPECT_NE(std::string::npos, messages.find(longName));
    messages.clear();
    // An object without a graphics object is refused.
    CKivClump empty("empty");
    EXPECT_EQ(0, world->AddClump(&empty));
    EXPECT_EQ("", messages);
}

TEST_F(WorldScene, DestroyingARegisteredClumpLeavesTheWorldFirst)
{
    CKivClump *clump = LoadPart("gone.dff", KivTestQuad(), {0, 5, 0});
    ASSERT_EQ(1, world->AddClump(clump));
    RwClump *rw = clump->GetClump();
    delete clump;
    EXPECT_EQ(">>>>>>>>>> You must remove the clump(:gone.dff) from the world!!!\n", messages);
    messages.clear();
    EXPECT_EQ(nullptr, world->FindClump("gone.dff"));
    int inWorld = 0;
    RwWorldForAllClumps(world->GetWorld(), [](RwClump *c, void *n) { ++*static_cast<int *>(n); return c; }, &inWorld);
    EXPECT_EQ(0, inWorld);
    (void)rw;
    EXPECT_EQ(1, Render());
}

// The caster's shadow model deleted first: the caster draws no model that is
// gone (no freed block is touched), and casts no shadow until it has one again.
TEST_F(WorldScene, AShadowWhoseModelIsDeletedIsNotDrawn)
{
    GuardFreedBegin();
    Sun();
    CKivClump *caster = Caster();
    ASSERT_EQ(1, Render());
    delete shadowModel;
    shadowModel = nullptr;
    ASSERT_EQ(1, Render());
    ASSERT_EQ(1, Render());
    EXPECT_EQ(0, GuardFreedEnd());
    ExpectPixel({255, 255, 255}, 512, 384);
    KivTestQuad black;
    black.prelit = false;
    black.half = 2.0f;
    shadowModel = LoadPart("shade.dff", black, {0, 5, 0});
    ASSERT_EQ(1, caster->CreateShadow(shadowModel, 1000.0f));
    ASSERT_EQ(1, Render());
    ASSERT_EQ(1, Render());
    EXPECT_GT(caster->GetShadow()->GetTriangleCount(), 0);
}

DWORD WINAPI DeleteClump(void *clump)
{
    delete static_cast<CKivClump *>(clump);
    return 0;
}

// A model deleted on a loading thread while a frame holds the render lock
// waits for the frame: the frame draws the shadow whole, and once it ends
// the model goes and no shadow keeps it.
TEST_F(WorldScene, AModelDeletedOnAnotherThreadWaitsForTheFrame)
{
    Sun();
    CKivClump *caster = Caster();
    ASSERT_EQ(1, Render());
    CKivBase *base = CKivBase::GetInstance();
    base->Lock();
    HANDLE thread = CreateThread(nullptr, 0, DeleteClump, shadowModel, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread, 100));
    EXPECT_EQ(1, Render());
    const int under = static_cast<int>(255 * (1 - 150.0 / 255 * 385 / 400));
    ExpectPixel({under, under, under}, 512, 384, 14);
    base->Unlock();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(thread, 5000));
    CloseHandle(thread);
    shadowModel = nullptr;
    ASSERT_EQ(1, Render());
    ExpectPixel({255, 255, 255}, 512, 384);
    EXPECT_NE(nullptr, caster->GetShadow());
}

// A camera whose graphics camera was never made is refused and not kept:
// deleting it leaves the world nothing that points at it.
TEST_F(WorldScene, AnUncreatedCameraIsNotKept)
{
    CKivCamera *raw = new CKivCamera("raw");
    EXPECT_EQ(0, world->AddCamera(raw));
    EXPECT_EQ(nullptr, world->FindCamera("raw"));
    delete raw;
    EXPECT_EQ(camera, world->FindCamera("eye"));
    EXPECT_EQ(1, Render());
}

// Shadows leave the list of shadows whole in any order: the newest deleted,
// then the next, then a clump (the list walked for it) touch no freed shadow.
TEST_F(WorldScene, ShadowsLeaveTheirListInAnyOrder)
{
    GuardFreedBegin();
    CKivShadow *shadows[3] = {new CKivShadow, new CKivShadow, new CKivShadow};
    delete shadows[2];
    delete shadows[1];
    delete LoadPart("walked.dff", KivTestQuad(), {0, 5, 0});
    delete shadows[0];
    EXPECT_EQ(0, GuardFreedEnd());
}

// A world loaded again in place takes its registered camera, clumps and
// lights along: none stays in the graphics world that the load destroyed.
TEST_F(WorldScene, LoadingAgainMovesTheRegisteredObjectsIntoTheNewWorld)
{
    KivTestQuad dark;
    dark.colour = {50, 50, 50, 255};
    CKivClump *part = Add("dark.dff", dark, {0, 10, 0});
    CKivLight *sun = Sun();
    RwWorld *old = world->GetWorld();
    WriteFileBytes("small.bsp", KivTestGround(5.0f, 0.0f, 3.0f));
    ASSERT_EQ(1, world->Load("small.bsp", nullptr, nullptr));
    RwWorld *now = world->GetWorld();
    ASSERT_NE(old, now);
    EXPECT_EQ(now, RwCameraGetWorld(camera->GetCamera()));
    EXPECT_EQ(now, RwClumpGetWorld(part->GetClump()));
    EXPECT_EQ(now, RwLightGetWorld(sun->GetLight()));
    EXPECT_EQ(1, now->numClumpsInWorld);
    Look(21.0f);
    Look(20.0f);
    ASSERT_EQ(1, Render());
    ExpectPixel({50, 50, 50}, 512, 384);   // the part, through the moved camera
    ExpectPixel({255, 255, 255}, 512 + 100, 384);   // the new ground
    ExpectPixel({0, 0, 0}, 100, 384);   // beyond it: the old ground is gone
}

// A world of its own on a small ground, its messages collected from now on.
CKivWorld *OwnWorld(const char *name, KivDebugSink *previous)
{
    messages.clear();
    *previous = KivDebugSetSink(Collect);
    WriteFileBytes("ground.bsp", KivTestGround(10.0f, 0.0f, 5.0f));
    CKivWorld *world = new CKivWorld(name);
    EXPECT_EQ(1, world->Load("ground.bsp", nullptr, nullptr));
    return world;
}

TEST(World, DestroyWarnsInOrderAndTakesEverythingOut)
{
    KivDebugSink previous = nullptr;
    CKivWorld *world = OwnWorld("Old", &previous);
    ASSERT_NE(nullptr, world->GetWorld());
    CKivCamera a("a"), b("b");
    for (CKivCamera *c : {&a, &b}) {
        ASSERT_EQ(1, c->Create(1.0f, 100.0f, 1.0f, CKivBase::GetInstance()->GetViewport()));
        ASSERT_EQ(1, world->AddCamera(c));
    }
    CKivClump *clump = LoadPart("kept.dff", KivTestQuad(), {0, 1, 0});
    ASSERT_EQ(1, world->AddClump(clump));
    // The world's pass made its alpha manager current.
    CKivBase *base = CKivBase::GetInstance();
    world->SetCamera(&a);
    world->Render();
    EXPECT_EQ(world->GetAlphaManager(), base->GetAlphaManager());
    delete world;
    EXPECT_NE(std::string::npos, messages.find("camera(a) from the world(old)"));
    const size_t clumpAt = messages.find(">>>>>>>>>> You must remove the clump(:kept.dff) from the world(old)!!!\n");
    EXPECT_NE(std::string::npos, clumpAt);
    EXPECT_LT(messages.find("camera(b)"), clumpAt);
    EXPECT_EQ(base->GetOwnAlphaManager(), base->GetAlphaManager());
    EXPECT_EQ(nullptr, clump->GetWorld());
    EXPECT_EQ(nullptr, a.GetWorld());
    messages.clear();
    delete clump;   // no world left to warn about
    EXPECT_EQ("", messages);
    KivDebugSetSink(previous);
}

// Objects renamed while registered: a lookup finds the name each holds now,
// and the world lets go of them by identity (a removal, their deletion, its
// own) whatever their names became.
TEST(World, RenamedObjectsAreFoundByTheirNamesAndLetGoByIdentity)
{
    KivDebugSink previous = nullptr;
    CKivWorld *world = OwnWorld("Renames", &previous);
    ASSERT_NE(nullptr, world->GetWorld());
    CKivClump *kept = LoadPart("kept.dff", KivTestQuad(), {0, 1, 0});
    CKivClump *gone = LoadPart("gone.dff", KivTestQuad(), {0, 2, 0});
    CKivLight *lamp = new CKivLight("lamp"), *torch = new CKivLight("torch");
    const RwRGBAReal grey = {0.5f, 0.5f, 0.5f, 1.0f};
    for (CKivLight *light : {lamp, torch}) {
        ASSERT_EQ(1, light->Create(&grey));
        ASSERT_EQ(1, world->AddLight(light));
    }
    ASSERT_EQ(1, world->AddClump(kept));
    ASSERT_EQ(1, world->AddClump(gone));
    kept->SetName("Moved");
    gone->SetName("Away");
    lamp->SetName("Beam");
    EXPECT_EQ(nullptr, world->FindClump("kept.dff"));
    EXPECT_EQ(kept, world->FindClump("MOVED"));
    EXPECT_EQ(nullptr, world->FindLight("lamp"));
    EXPECT_EQ(lamp, world->FindLight("beam"));
    // The old name is free again.
    CKivClump *newcomer = LoadPart("kept.dff", KivTestQuad(), {0, 3, 0});
    EXPECT_EQ(1, world->AddClump(newcomer));
    EXPECT_EQ(newcomer, world->FindClump("kept.dff"));
    delete newcomer;
    EXPECT_EQ(1, world->RemoveLight(lamp));
    EXPECT_EQ(nullptr, lamp->GetWorld());
    EXPECT_EQ(nullptr, RwLightGetWorld(lamp->GetLight()));
    EXPECT_EQ(nullptr, world->FindLight("beam"));
    ASSERT_EQ(1, world->AddLight(lamp));
    // Deleted while registered, under their new names: the world keeps neither.
    delete gone;
    delete torch;
    EXPECT_EQ(nullptr, world->FindClump("away"));
    EXPECT_EQ(nullptr, world->FindLight("torch"));
    messages.clear();
    delete world;
    EXPECT_NE(std::string::npos, messages.find("clump(:moved) from the world(renames)"));
    EXPECT_NE(std::string::npos, messages.find("light(beam) from the world(renames)"));
    EXPECT_EQ(std::string::npos, messages.find("away"));
    EXPECT_EQ(std::string::npos, messages.find("torch"));
    EXPECT_EQ(nullptr, kept->GetWorld());
    EXPECT_EQ(nullptr, lamp->GetWorld());
    messages.clear();
    delete kept;
    delete lamp;
    EXPECT_EQ("", messages);
    KivDebugSetSink(previous);
}

// An object is in one world at a time: a camera the graphics library moves to
// a second world leaves the first one's registry (and its current camera) as
// it goes; a clump or light already in a world stays there. Deleting them
// then leaves neither world pointing at them.
TEST(World, AnObjectAddedToASecondWorldIsHeldByOneOnly)
{
    GuardFreedBegin();
    KivDebugSink previous = nullptr;
    CKivWorld *first = OwnWorld("First", &previous);
    KivDebugSink collecting = nullptr;
    CKivWorld *second = OwnWorld("Second", &collecting);
    CKivCamera *camera = new CKivCamera("eye");
    ASSERT_EQ(1, camera->Create(1.0f, 100.0f, 1.0f, CKivBase::GetInstance()->GetViewport()));
    CKivClump *clump = LoadPart("kept.dff", KivTestQuad(), {0, 1, 0});
    CKivLight *light = new CKivLight("lamp");
    const RwRGBAReal grey = {0.5f, 0.5f, 0.5f, 1.0f};
    ASSERT_EQ(1, light->Create(&grey));
    ASSERT_EQ(1, first->AddCamera(camera));
    ASSERT_EQ(1, first->AddClump(clump));
    ASSERT_EQ(1, first->AddLight(light));
    first->SetCamera(camera);
    clump->SetName("Renamed");
    EXPECT_EQ(1, second->AddCamera(camera));
    EXPECT_EQ(0, second->AddClump(clump));
    EXPECT_EQ(0, second->AddLight(light));
    EXPECT_EQ(second, camera->GetWorld());
    EXPECT_EQ(nullptr, first->FindCamera("eye"));
    EXPECT_EQ(nullptr, first->GetCamera());
    EXPECT_EQ(camera, second->FindCamera("eye"));
    EXPECT_EQ(first, clump->GetWorld());
    EXPECT_EQ(clump, first->FindClump("renamed"));
    EXPECT_EQ(nullptr, second->FindClump("renamed"));
    EXPECT_EQ(first, light->GetWorld());
    delete camera;
    delete clump;
    delete light;
    messages.clear();
    delete first;
    delete second;
    EXPECT_EQ(0, GuardFreedEnd());
    EXPECT_EQ("", messages);
    KivDebugSetSink(previous);
}

// A solid texture of its own size, so that which copy a world holds shows.
RwTexture *SolidTexture(const char *name, int width, int height, RwRGBA colour)
{
    RwRaster *raster = RwRasterCreate(width, height, 32, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888);
    RwImage *image = RwImageCreate(width, height, 32);
    RwImageAllocatePixels(image);
    for (int i = 0; i < width * height; i++)
        std::memcpy(image->cpPixels + (i / width) * image->stride + 4 * (i % width), &colour, 4);
    RwRasterSetFromImage(raster, image);
    RwImageDestroy(image);
    RwTexture *texture = RwTextureCreate(raster);
    RwTextureSetName(texture, name);
    return texture;
}

// A platform-independent dictionary file written by the library.
void WriteDictionary(const char *file, std::initializer_list<RwTexture *> textures)
{
    RwTextureDictionary *dict = RwTextureDictionaryCreate();
    for (RwTexture *texture : textures)
        RwTextureDictionaryAddTexture(dict, texture);
    WriteFileBytes(file, KivTestWrite([dict](RwStream *s) { RwPITextureDictionaryStreamWrite(dict, s); }));
    RwTextureDictionaryDestroy(dict);
}

RwTexture *Held(const CKivWorld &world, const char *name)
{
    return RwTextureDictionaryFindTexture(world.GetTextureDictionary(), name);
}

TEST(World, LoadTakesTheTexturesOfTheDictionaryOfItsQuality)
{
    // The ground's texture exists only in the dictionaries, at a size of each
    // variant's own; no image file of it lies anywhere.
    CKivBase *base = CKivBase::GetInstance();
    remove("townonly.png");
    WriteFileBytes("town.bsp", KivTestGround(10.0f, 0.0f, 5.0f, 1, 1, true, "townonly"));
    const char *files[3] = {"town.txd", "town_1.txd", "town_2.txd"};
    const int widths[3] = {16, 8, 4};
    for (int q = 0; q < 3; q++)
        WriteDictionary(files[q], {SolidTexture("townonly", widths[q], widths[q] / 2, kGrass)});
    for (int q = 0; q < 3; q++) {
        base->SetTextureQuality(q);
        CKivWorld world;
        EXPECT_EQ(1, world.Load("town.bsp", "town.txd", nullptr)) << q;
        RwTexture *held = Held(world, "townonly");
        ASSERT_NE(nullptr, held) << q;
        EXPECT_EQ(widths[q], held->raster->width) << q;
        EXPECT_EQ(held, world.GetWorld()->matList.materials[0]->texture) << q;
    }
    base->SetTextureQuality(0);
}

TEST(World, LoadSurvivesMissingFiles)
{
    CKivBase *base = CKivBase::GetInstance();
    remove("gone.txd");
    CKivWorld plain, tiny;
    EXPECT_EQ(1, plain.Load(nullptr, "gone.txd", nullptr));   // missing: an empty one
    EXPECT_NE(nullptr, plain.GetTextureDictionary());
    base->SetTextureQuality(2);
    EXPECT_EQ(1, tiny.Load(nullptr, "a", nullptr));   // shorter than an extension
    base->SetTextureQuality(0);
    EXPECT_NE(nullptr, tiny.GetTextureDictionary());
    CKivWorld broken;
    EXPECT_EQ(0, broken.Load("missing.bsp", nullptr, nullptr));
    WriteFileBytes("cut.bsp", KivTestGround(10.0f, 0.0f, 5.0f).substr(0, 40));
    EXPECT_EQ(0, broken.Load("cut.bsp", nullptr, nullptr));
    EXPECT_EQ(nullptr, broken.GetWorld());
    EXPECT_EQ(1, broken.Render());   // neither camera nor world
}

// Level tools.

// Each sector as bytes: box, vertices, then polygons with their materials.
std::vector<std::string> Sectors(RwWorld *world)
{
    std::vector<std::string> sectors;
    RwWorldForAllWorldSectors(world, [](RwWorldSector *sector, void *data) {
        std::string bytes(reinterpret_cast<const char *>(&sector->boundingBox), sizeof(RwBBox));
        bytes.append(reinterpret_cast<const char *>(sector->vertices), sector->numVertices * sizeof(RwV3d));
        for (int i = 0; i < sector->numPolygons; i++)
            bytes.append(reinterpret_cast<const char *>(&sector->polygons[i]), sizeof(RwTriangle));
        static_cast<std::vector<std::string> *>(data)->push_back(bytes);
        return sector;
    }, &sectors);
    return sectors;
}

TEST(WorldTools, WrittenWorldsReadBackWithTheSameSectors)
{
    WriteFileBytes("tiles.bsp", KivTestGround(8.0f, 0.0f, 4.0f, 4, 2));
    CKivWorld original, copy;
    ASSERT_EQ(1, original.Load("tiles.bsp", nullptr, nullptr));
    remove("tiles-copy.bsp");
    ASSERT_EQ(1, original.WriteWorld("tiles-copy.bsp"));
    ASSERT_EQ(1, copy.Load("tiles-copy.bsp", nullptr, nullptr));
    EXPECT_EQ(4u, Sectors(copy.GetWorld()).size());
    EXPECT_EQ(Sectors(original.GetWorld()), Sectors(copy.GetWorld()));
    EXPECT_EQ(0, original.WriteWorld("no such folder/tiles.bsp"));
    EXPECT_EQ(0, original.WriteWorld("Z:\\dev\\full"));
    EXPECT_EQ(0, original.WriteTriangles("Z:\\dev\\full"));

    // An empty world is one sector over its box, once per object.
    const RwBBox box = {{3, 2, 1}, {-3, -2, -1}}, inverted = {{-3, 2, 1}, {3, -2, -1}};
    CKivWorld empty, wrong, reread;
    EXPECT_EQ(0, wrong.CreateEmpty(&inverted));
    ASSERT_EQ(1, empty.CreateEmpty(&box));
    EXPECT_EQ(0, empty.CreateEmpty(&box));
    EXPECT_NE(nullptr, empty.GetTextureDictionary());
    ASSERT_EQ(1, empty.WriteWorld("empty.bsp"));
    ASSERT_EQ(1, reread.Load("empty.bsp", nullptr, nullptr));
    const std::vector<std::string> sectors = Sectors(reread.GetWorld());
    ASSERT_EQ(1u, sectors.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&box), sizeof box), sectors[0]);
}

TEST(WorldTools, ReducedDictionariesLoadAtQualitiesOneAndTwo)
{
    CKivBase *base = CKivBase::GetInstance();
    const RwRGBA stone = {120, 110, 100, 255};
    WriteDictionary("tools.txd", {SolidTexture("wide", 16, 8, kGrass), SolidTexture("thin", 3, 1, stone)});
    remove("tools_1.txd");
    remove("tools_2.txd");
    {
        CKivWorld source;
        ASSERT_EQ(1, source.Load(nullptr, "tools.txd", nullptr));
        EXPECT_EQ(0, CKivWorld().WriteReducedDictionaries());   // no dictionary file to name them after
        ASSERT_EQ(1, source.WriteReducedDictionaries());
    }
    const struct { int wide[2], thin[2]; } sizes[3] = {{{16, 8}, {3, 1}}, {{8, 4}, {1, 1}}, {{4, 2}, {1, 1}}};
    for (int q = 0; q < 3; q++) {
        base->SetTextureQuality(q);
        CKivWorld world;
        ASSERT_EQ(1, world.Load(nullptr, "tools.txd", nullptr));
        RwTexture *wide = Held(world, "wide"), *thin = Held(world, "thin");
        ASSERT_NE(nullptr, wide) << q;
        ASSERT_NE(nullptr, thin) << q;
        EXPECT_EQ(sizes[q].wide[0], wide->raster->width) << q;
        EXPECT_EQ(sizes[q].wide[1], wide->raster->height) << q;
        EXPECT_EQ(sizes[q].thin[0], thin->raster->width) << q;
        EXPECT_EQ(sizes[q].thin[1], thin->raster->height) << q;
        const std::vector<RwUInt8> pixels = RasterPixels(wide->raster);
        EXPECT_NEAR(kGrass.green, pixels[1], 2) << q;
        EXPECT_NEAR(stone.red, RasterPixels(thin->raster)[0], 2) << q;
    }
    // A reduced dictionary (quality 2 is still set), or the empty one
    // standing in for a missing file, is never written over the full one.
    const std::string full = ReadFileBytes("tools.txd");
    for (const char *file : {"tools.txd", "absent.txd"}) {
        CKivWorld reduced;
        remove("absent.txd");
        ASSERT_EQ(1, reduced.Load(nullptr, file, nullptr));
        EXPECT_EQ(0, reduced.WriteReducedDictionaries()) << file;
    }
    base->SetTextureQuality(0);
    CKivWorld absent;
    ASSERT_EQ(1, absent.Load(nullptr, "absent.txd", nullptr));
    EXPECT_EQ(0, absent.WriteReducedDictionaries());
    EXPECT_TRUE(full == ReadFileBytes("tools.txd"));
    EXPECT_EQ("<missing>", ReadFileBytes("absent.txd"));

    // The current dictionary in the device's own form.
    CKivWorld world;
    ASSERT_EQ(1, world.Load(nullptr, "tools.txd", nullptr));
    RwTextureDictionary *previous = RwTextureDictionaryGetCurrent();
    RwTextureDictionarySetCurrent(world.GetTextureDictionary());
    remove("native.txd");
    const int written = world.WriteCurrentDictionary("native.txd");
    RwTextureDictionarySetCurrent(previous);
    ASSERT_EQ(1, written);
    std::string bytes = ReadFileBytes("native.txd");
    RwMemory memory = {reinterpret_cast<RwUInt8 *>(&bytes[0]), static_cast<RwUInt32>(bytes.size())};
    RwStream *stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory);
    ASSERT_TRUE(RwStreamFindChunk(stream, 0x16, nullptr, nullptr));   // the native dictionary chunk
    RwTextureDictionary *native = RwTextureDictionaryStreamRead(stream);
    RwStreamClose(stream, nullptr);
    ASSERT_NE(nullptr, native);
    RwTexture *wide = RwTextureDictionaryFindTexture(native, "wide");
    ASSERT_NE(nullptr, wide);
    EXPECT_EQ(16, wide->raster->width);
    EXPECT_NE(nullptr, RwTextureDictionaryFindTexture(native, "thin"));
    RwTextureDictionaryDestroy(native);
}

TEST(WorldTools, TheTriangleDumpListsEverySectorsTriangles)
{
    // Two sectors, x below and above 0, each a square of two triangles at y = 0.5.
    WriteFileBytes("pair.bsp", KivTestGround(2.0f, 0.5f, 3.0f, 2, 1, false));
    CKivWorld world;
    ASSERT_EQ(1, world.Load("pair.bsp", nullptr, nullptr));
    remove("pair.tri");
    ASSERT_EQ(1, world.WriteTriangles("pair.tri"));
    std::string expected;
    PutU32(expected, 4);
    for (float x0 : {-2.0f, 0.0f}) {
        const float x1 = x0 + 2.0f;
        const float corners[4][3] = {{x0, 0.5f, -2}, {x1, 0.5f, -2}, {x0, 0.5f, 2}, {x1, 0.5f, 2}};
        PutU32(expected, 2);
        for (int corner : {0, 2, 1, 1, 2, 3}) {
            for (float f : corners[corner])
                PutF32(expected, f);
        }
    }
    EXPECT_EQ(expected, ReadFileBytes("pair.tri"));
    EXPECT_EQ(0, CKivWorld().WriteTriangles("none.tri"));   // no world
}

// A large dump goes out in pieces, never through one buffer of its size.
TEST(WorldTools, ALargeTriangleDumpStreamsOut)
{
    WriteFileBytes("large.bsp", KivTestGround(8.0f, 0.0f, 4.0f, 4, 16));
    CKivWorld world;
    ASSERT_EQ(1, world.Load("large.bsp", nullptr, nullptr));
    std::string expected;
    PutU32(expected, 4 * 1024);
    RwWorldForAllWorldSectors(world.GetWorld(), [](RwWorldSector *sector, void *data) {
        std::string &out = *static_cast<std::string *>(data);
        PutU32(out, sector->numPolygons);
        for (int i = 0; i < sector->numPolygons; i++) {
            for (RwUInt16 corner : sector->polygons[i].vertIndex) {
                for (float f : {sector->vertices[corner].x, sector->vertices[corner].y, sector->vertices[corner].z})
                    PutF32(out, f);
            }
        }
        return sector;
    }, &expected);
    ASSERT_EQ(4u + 4 * (4 + 1024 * 36), expected.size());
    MallocProbeResetLargest();
    ASSERT_EQ(1, world.WriteTriangles("large.tri"));
    EXPECT_GT(16u * 1024, MallocProbeLargest());
    EXPECT_TRUE(expected == ReadFileBytes("large.tri"));
}

TEST_F(WorldScene, SightLinesStopAtTheStaticWorld)
{
    // The camera is at height 20 over the middle of the ground (half size 50).
    const struct {
        RwV3d point;
        int seen;
    } cases[] = {
        {{3, 1, 0}, 1},       // above the ground
        {{3, 0, 0}, 1},       // on it
        {{0, -5, 0}, 0},      // below it
        {{10, -1, 10}, 0},
        {{100, -5, 0}, 1},    // under, but seen past its edge
        {{NAN, 1, 0}, 0},     // nowhere
        {{0, -INFINITY, 0}, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.seen, world->IsInSight(&c.point)) << c.point.x << "," << c.point.y << "," << c.point.z;
    // From just above the ground: along it, and down through it far off.
    Look(1.0f);
    const RwV3d along = {40, 1, 0}, through = {40, -1, 0}, grazed = {47, 0, 13}, below = {47, -0.01f, 13};
    EXPECT_EQ(1, world->IsInSight(&along));
    EXPECT_EQ(0, world->IsInSight(&through));
    EXPECT_EQ(1, world->IsInSight(&grazed));
    EXPECT_EQ(0, world->IsInSight(&below));
    Look(20.0f);
    world->SetCamera(nullptr);
    EXPECT_EQ(0, world->IsInSight(&cases[0].point));
    world->SetCamera(camera);
}

RwAtomic *FirstAtomic(CKivClump *clump)
{
    RwAtomic *first = nullptr;
    RwClumpForAllAtomics(clump->GetClump(), [](RwAtomic *a, void *out) {
        *static_cast<RwAtomic **>(out) = a;
        return static_cast<RwAtomic *>(nullptr);
    }, &first);
    return first;
}

TEST_F(WorldScene, FlagsFollowTheMaterialNamePrefixes)
{
    // The world's material named by case; a second material on the last
    // sector's polygons, and a clump of two named materials.
    const struct {
        const char *name;
        RwInt32 flags;
    } cases[] = {
        {"_f", kKivNameFlagF}, {"_Fog", kKivNameFlagF}, {"_n", kKivNameFlagN}, {"_T", kKivNameFlagTransparent},
        {"_add", kKivNameFlagAdditive}, {"_L", kKivNameFlagL}, {"x_t", 0}, {"_", 0}, {"_z", 0}, {"", 0},
    };
    RwWorld *rw = world->GetWorld();
    auto name = [rw](const char *text) {
        RwUserDataExtensionEmpty(RwUserDataGetExtension(rw->matList.materials[0], rwKINDMATERIAL));
        KivTestAddString(rw->matList.materials[0], rwKINDMATERIAL, text);
    };
    RwMaterial *second = RwMaterialCreate();
    KivTestAddString(second, rwKINDMATERIAL, "_n");
    ASSERT_GE(RwMaterialListAppendMaterial(&rw->matList, second), 0);
    RwMaterialDestroy(second);
    std::vector<RwWorldSector *> sectors;
    RwWorldForAllWorldSectors(rw, [](RwWorldSector *sector, void *data) {
        static_cast<std::vector<RwWorldSector *> *>(data)->push_back(sector);
        return sector;
    }, &sectors);
    ASSERT_EQ(1u, sectors.size());
    for (const auto &c : cases) {
        name(c.name);
        ASSERT_EQ(1, world->FlagFromMaterialNames());
        EXPECT_EQ(c.flags, CKivWorld::GetSectorFlags(sectors[0])) << c.name;
    }
    // Only the materials a sector's polygons use count.
    name("_t");
    ASSERT_EQ(1, world->FlagFromMaterialNames());
    EXPECT_EQ(kKivNameFlagTransparent, CKivWorld::GetSectorFlags(sectors[0]));
    sectors[0]->polygons[0].matIndex = 1;
    ASSERT_EQ(1, world->FlagFromMaterialNames());
    EXPECT_EQ(kKivNameFlagN | kKivNameFlagTransparent, CKivWorld::GetSectorFlags(sectors[0]));

    KivTestQuad glass;
    glass.material = "_t";
    glass.second = "_Light";
    CKivClump *clump = Add("glass.dff", glass, {0, 5, 0});
    KivTestQuad plain;
    CKivClump *other = Add("plain.dff", plain, {0, 6, 0});
    ASSERT_EQ(1, world->FlagFromMaterialNames());
    EXPECT_EQ(kKivNameFlagTransparent | kKivNameFlagL, CKivWorld::GetAtomicFlags(FirstAtomic(clump)));
    EXPECT_EQ(0, CKivWorld::GetAtomicFlags(FirstAtomic(other)));
    EXPECT_EQ(0, CKivWorld().FlagFromMaterialNames());   // no world

    // The sector's flags go with it into the file.
    ASSERT_EQ(1, world->WriteWorld("flagged.bsp"));
    CKivWorld copy;
    ASSERT_EQ(1, copy.Load("flagged.bsp", nullptr, nullptr));
    RwWorldSector *read = nullptr;
    RwWorldForAllWorldSectors(copy.GetWorld(), [](RwWorldSector *sector, void *data) {
        *static_cast<RwWorldSector **>(data) = sector;
        return sector;
    }, &read);
    EXPECT_EQ(kKivNameFlagN | kKivNameFlagTransparent, CKivWorld::GetSectorFlags(read));
}

} // namespace
