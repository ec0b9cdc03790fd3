// The default world pipelines on the device: a world and a lit, textured clump drawn through a camera, and native data.
#include <cstring>

#include "d3d9testcamera.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9allinone.h"
#include "gfx/d3d9/d3d9lights.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"
#include "gfx/world/worldpipe.h"
#include "support/stream_bytes.h"

namespace {

int earlierRestores = 0;

// A world of one sector: a pre-lit, textured ground square at y = -1 in front of the camera.
Bytes GroundWorld()
{
    const RwUInt32 format = 0x40000000 | 0x00010000 | rwGEOMETRYPRELIT | rwGEOMETRYTEXTURED | rwGEOMETRYPOSITIONS;
    Bytes sector;
    for (RwUInt32 v : {0u, 2u, 4u}) {
        Put32(sector, v);
    }
    PutReals(sector, {-20, -1, 0, 20, -1, 40});
    Put32(sector, 0);
    Put32(sector, 0);
    PutReals(sector, {-20, -1, 0, 20, -1, 0, -20, -1, 40, 20, -1, 40});
    for (int i = 0; i < 4; i++) {
        Put32(sector, 0xFFFFFFFF);
    }
    PutReals(sector, {0, 0, 1, 0, 0, 1, 1, 1});
    Put32(sector, 0 | (1u << 16));
    Put32(sector, 2);
    Put32(sector, 1 | (3u << 16));
    Put32(sector, 2);
    Bytes material;
    Put32(material, 0);
    Put32(material, 0xFFFFFFFF);
    Put32(material, 0);
    Put32(material, 0);
    PutReals(material, {1, 1, 1});
    Bytes body;
    PutHeader(body, rwID_STRUCT, 64);
    Put32(body, 1);
    PutReals(body, {0, 0, 0});
    for (RwUInt32 v : {2u, 4u, 0u, 1u, 0u, format}) {
        Put32(body, v);
    }
    PutReals(body, {20, -1, 40, -20, -1, 0});
    PutHeader(body, 8, 12 + 8 + 12 + 12 + 28 + 12);
    PutHeader(body, rwID_STRUCT, 8);
    Put32(body, 1);
    Put32(body, 0xFFFFFFFF);
    PutHeader(body, 7, 12 + 28 + 12);
    PutHeader(body, rwID_STRUCT, 28);
    body.insert(body.end(), material.begin(), material.end());
    PutHeader(body, 3, 0);
    PutHeader(body, 9, static_cast<RwUInt32>(12 + sector.size() + 12));
    PutHeader(body, rwID_STRUCT, static_cast<RwUInt32>(sector.size()));
    body.insert(body.end(), sector.begin(), sector.end());
    PutHeader(body, 3, 0);
    PutHeader(body, 3, 0);
    Bytes world;
    PutHeader(world, 0x0B, static_cast<RwUInt32>(body.size()));
    world.insert(world.end(), body.begin(), body.end());
    return world;
}

class WorldPipelines : public CameraDevice {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 0x400000));
        RwD3D9SetDeviceRestoreCallback([] { ++earlierRestores; });
        ASSERT_TRUE(RwWorldPluginAttach());
        CameraDevice::SetUpTestSuite();
        const RwV2d window = {1.0f, 0.75f};
        RwCameraSetViewWindow(camera, &window);
    }

    void SetUp() override
    {
        CameraDevice::SetUp();
        Bytes bytes = GroundWorld();
        RwStream *in = OpenRead(bytes);
        ASSERT_TRUE(RwStreamFindChunk(in, 0x0B, nullptr, nullptr));
        world = RwWorldStreamRead(in);
        RwStreamClose(in, nullptr);
        ASSERT_NE(world, nullptr);
        groundTexture = Texture({0, 0, 255, 255});
        RwMaterialSetTexture(world->matList.materials[0], groundTexture);
        RwWorldAddCamera(world, camera);
        RwLight *sun = AddLight(rwLIGHTDIRECTIONAL, {1, 1, 1, 1});
        AddLight(rwLIGHTAMBIENT, {0.2f, 0.2f, 0.2f, 1});
        (void)sun;
        clump = Card();
        RwWorldAddClump(world, clump);
        RwFrameSyncDirtyList();
    }

    void TearDown() override
    {
        RwWorldRemoveClump(world, clump);
        RwClumpDestroy(clump);
        for (RwLight *l : lights) {
            RwWorldRemoveLight(world, l);
            RwFrame *f = RwLightGetFrame(l);
            RwLightSetFrame(l, nullptr);
            RwFrameDestroy(f);
            RwLightDestroy(l);
        }
        lights.clear();
        RwWorldRemoveCamera(world, camera);
        RwWorldDestroy(world);
        RwTextureDestroy(groundTexture);
        RwTextureDestroy(cardTexture);
        CameraDevice::TearDown();
    }

    static RwTexture *Texture(RwRGBA colour)
    {
        RwRaster *raster = RwRasterCreate(2, 2, 0, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888);
        RwUInt8 *p = RwRasterLock(raster, 0, rwRASTERLOCKWRITE);
        for (int y = 0; y < 2; y++) {
            RwUInt32 *row = reinterpret_cast<RwUInt32 *>(p + y * raster->stride);
            row[0] = row[1] = 0xFF000000u | (colour.red << 16) | (colour.green << 8) | colour.blue;
        }
        RwRasterUnlock(raster);
        return RwTextureCreate(raster);
    }

    RwLight *AddLight(RwInt32 type, RwRGBAReal colour)
    {
        RwLight *l = RwLightCreate(type);
        RwLightSetFrame(l, RwFrameCreate());
        RwLightSetColor(l, &colour);
        RwWorldAddLight(world, l);
        lights.push_back(l);
        return l;
    }

    // Two squares side by side at z = 5, yellow-textured, facing the camera;
    // the left one's normals face the light, the right one's face away.
    RwClump *Card()
    {
        RwGeometry *g = RwGeometryCreate(8, 4, rwGEOMETRYTEXTURED | rwGEOMETRYNORMALS | rwGEOMETRYLIGHT |
                                                   rwGEOMETRYPOSITIONS);
        RwMorphTarget *m = RwGeometryGetMorphTarget(g, 0);
        const float xs[2][2] = {{-2.0f, -0.2f}, {0.2f, 2.0f}};
        for (int side = 0; side < 2; side++) {
            for (int i = 0; i < 4; i++) {
                const int v = side * 4 + i;
                m->verts[v] = {xs[side][i & 1], (i & 2) ? 0.8f : -0.8f, 5.0f};
                m->normals[v] = {0, 0, side ? 1.0f : -1.0f};
                g->texCoords[0][v] = {static_cast<float>(i & 1), static_cast<float>(i >> 1)};
            }
        }
        RwMaterial *material = RwMaterialCreate();
        cardTexture = Texture({255, 255, 0, 255});
        RwMaterialSetTexture(material, cardTexture);
        for (int t = 0; t < 4; t++) {
            const RwUInt16 b = static_cast<RwUInt16>((t / 2) * 4);
            g->triangles[t] = (t & 1) ? RwTriangle{{static_cast<RwUInt16>(b + 1), static_cast<RwUInt16>(b + 3),
                                                    static_cast<RwUInt16>(b + 2)}, 0}
                                      : RwTriangle{{b, static_cast<RwUInt16>(b + 1), static_cast<RwUInt16>(b + 2)}, 0};
            RwGeometryTriangleSetMaterial(g, &g->triangles[t], material);
        }
        RwMaterialDestroy(material);
        m->boundingSphere = {{0, 0, 5}, 3};
        RwGeometryUnlock(g);
        RwClump *c = RwClumpCreate();
        RwClumpSetFrame(c, RwFrameCreate());
        RwAtomic *a = RwAtomicCreate();
        RwAtomicSetGeometry(a, g, 0);
        RwGeometryDestroy(g);
        RwAtomicSetFrame(a, RwClumpGetFrame(c));
        RwClumpAddAtomic(c, a);
        atomic = a;
        return c;
    }

    void Render()
    {
        RwRGBA black = {0, 0, 0, 255};
        ASSERT_TRUE(RwCameraClear(camera, &black, rwCAMERACLEARIMAGE | rwCAMERACLEARZ));
        ASSERT_TRUE(RwCameraBeginUpdate(camera));
        RwD3D9SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        RwWorldRender(world);
        RwCameraEndUpdate(camera);
    }

    RwWorld *world = nullptr;
    RwClump *clump = nullptr;
    RwAtomic *atomic = nullptr;
    RwTexture *groundTexture = nullptr;
    RwTexture *cardTexture = nullptr;
    std::vector<RwLight *> lights;
};

TEST_F(WorldPipelines, AttachChainsTheRestoreCallbackAndTheRestoreFlagsListedGeometry)
{
    RwD3D9DeviceRestoreCallBack installed = RwD3D9GetDeviceRestoreCallback();
    ASSERT_NE(installed, nullptr);
    RwGeometryAddToRestoreList(atomic->geometry);
    RwGeometryAddToRestoreList(atomic->geometry);
    atomic->geometry->lockedSinceLastInst = 0;
    const int before = earlierRestores;
    installed();
    EXPECT_EQ(before + 1, earlierRestores);
    EXPECT_EQ(rwGEOMETRYLOCKALL, atomic->geometry->lockedSinceLastInst);
    RwGeometryRemoveFromRestoreList(atomic->geometry);
    atomic->geometry->lockedSinceLastInst = 0;
    installed();
    EXPECT_EQ(0, atomic->geometry->lockedSinceLastInst);
}

// The ground shows its texture below the horizon; the card is yellow where
// the light reaches its normals and dim (ambient only) where it does not.
TEST_F(WorldPipelines, WorldAndLitTexturedClumpDrawnThroughTheCamera)
{
    Render();
    const DWORD ground = ReadPixel(512, 700);
    // The camera's x axis points left: negative x lies on the right of the screen.
    const DWORD lit = ReadPixel(624, 384);
    const DWORD dark = ReadPixel(400, 384);
    const DWORD sky = ReadPixel(512, 100);
    EXPECT_TRUE(NearColour(ground, 0x0000FF, 8)) << std::hex << ground;
    EXPECT_TRUE(NearColour(lit, 0xFFFF00, 8)) << std::hex << lit;
    EXPECT_TRUE(NearColour(dark, 0x333300, 8)) << std::hex << dark;
    EXPECT_TRUE(NearColour(sky, 0x000000, 2)) << std::hex << sky;
    // The geometry was instanced once and is shared: a second frame reuses it.
    RwResourceEntry *entry = atomic->geometry->repEntry;
    ASSERT_NE(entry, nullptr);
    Render();
    EXPECT_EQ(entry, atomic->geometry->repEntry);
    EXPECT_TRUE(NearColour(ReadPixel(624, 384), 0xFFFF00, 8));
}

}  // namespace
