// The default world pipelines on the device: a world and a lit, textured clump drawn through a camera, and native data.
#include <algorithm>
#include <cstring>

#include "d3d9testlights.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9allinone.h"
#include "gfx/d3d9/d3d9lights.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"
#include "gfx/world/worldpipe.h"
#include "d3d9failnextlock.h"
#include "d3d9groundworld.h"
#include "support/stream_bytes.h"

namespace {

int earlierRestores = 0;

class WorldPipelines : public CameraDevice {
protected:
    static void SetUpTestSuite() { Start(0x400000); }

    static void Start(RwUInt32 arenaSize)
    {
        ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, arenaSize));
        RwD3D9SetDeviceRestoreCallback([] { ++earlierRestores; });
        ASSERT_TRUE(RwWorldPluginAttach());
        CameraDevice::SetUpTestSuite();
        const RwV2d window = {1.0f, 0.75f};
        RwCameraSetViewWindow(camera, &window);
    }

    void SetUp() override
    {
        CameraDevice::SetUp();
        world = ReadGroundWorld();
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
        for (RwLight *l : lights)
            DestroyLight(world, l);
        lights.clear();
        RwWorldRemoveCamera(world, camera);
        RwWorldDestroy(world);
        RwTextureDestroy(groundTexture);
        RwTextureDestroy(cardTexture);
        cardTexture = nullptr;
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
        RwMaterial *material = RwMaterialCreate();
        if (!cardTexture)
            cardTexture = Texture({255, 255, 0, 255});
        RwMaterialSetTexture(material, cardTexture);
        RwClump *c = Squares(rwGEOMETRYTEXTURED | rwGEOMETRYNORMALS | rwGEOMETRYLIGHT | rwGEOMETRYPOSITIONS, material,
                             material);
        RwMaterialDestroy(material);
        return c;
    }

    // The card's two squares with the format flags and a material each (the
    // left one is on the right of the screen); `halves` keeps only the
    // lower triangle of each square. `atomic` becomes the new atomic.
    RwClump *Squares(RwUInt32 flags, RwMaterial *left, RwMaterial *right, bool halves = false)
    {
        const int triangles = halves ? 2 : 4;
        RwGeometry *g = RwGeometryCreate(8, triangles, flags);
        RwMorphTarget *m = RwGeometryGetMorphTarget(g, 0);
        const float xs[2][2] = {{-2.0f, -0.2f}, {0.2f, 2.0f}};
        for (int side = 0; side < 2; side++) {
            for (int i = 0; i < 4; i++) {
                const int v = side * 4 + i;
                m->verts[v] = {xs[side][i & 1], (i & 2) ? 0.8f : -0.8f, 5.0f};
                if (m->normals)
                    m->normals[v] = {0, 0, side ? 1.0f : -1.0f};
                if (g->texCoords[0])
                    g->texCoords[0][v] = {static_cast<float>(i & 1), static_cast<float>(i >> 1)};
            }
        }
        for (int t = 0; t < triangles; t++) {
            const int square = halves ? t : t / 2;
            const RwUInt16 b = static_cast<RwUInt16>(square * 4);
            g->triangles[t] = (!halves && (t & 1))
                                  ? RwTriangle{{static_cast<RwUInt16>(b + 1), static_cast<RwUInt16>(b + 3),
                                                static_cast<RwUInt16>(b + 2)}, 0}
                                  : RwTriangle{{b, static_cast<RwUInt16>(b + 1), static_cast<RwUInt16>(b + 2)}, 0};
            RwGeometryTriangleSetMaterial(g, &g->triangles[t], square ? right : left);
        }
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

    // Puts a clump of Squares in place of the card.
    void ReplaceCard(RwClump *with)
    {
        RwWorldRemoveClump(world, clump);
        RwClumpDestroy(clump);
        clump = with;
        RwWorldAddClump(world, clump);
        RwFrameSyncDirtyList();
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

// Positions named by the instancing flags go into a dynamic stream that a
// lock rewrites without rebuilding the instance; an object neither lit nor
// pre-lit is drawn as a black silhouette.
TEST_F(WorldPipelines, DynamicPositionsAreRewrittenAndUnlitObjectsDrawBlack)
{
    RwGeometry *g = atomic->geometry;
    RwD3D9GeometrySetInstanceFlags(g, rwGEOMETRYLOCKVERTICES);
    Render();
    RwResourceEntry *entry = g->repEntry;
    ASSERT_NE(entry, nullptr);
    const RwD3D9InstanceHeader *h = static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(entry));
    EXPECT_EQ(0, h->vertexStream[0].managed);
    EXPECT_EQ(rwGEOMETRYLOCKVERTICES, h->vertexStream[0].geometryFlags);
    EXPECT_EQ(12u, h->vertexStream[0].stride);
    EXPECT_NE(h->vertexStream[1].vertexBuffer, nullptr);
    EXPECT_TRUE(NearColour(ReadPixel(624, 420), 0xFFFF00, 8));

    RwGeometryLock(g, rwGEOMETRYLOCKVERTICES);
    RwMorphTarget *m = RwGeometryGetMorphTarget(g, 0);
    for (int v = 0; v < 4; v++) {
        m->verts[v].y += 2.0f;
    }
    RwGeometryUnlock(g);
    Render();
    EXPECT_EQ(entry, g->repEntry);
    EXPECT_EQ(0, g->lockedSinceLastInst);
    EXPECT_TRUE(NearColour(ReadPixel(624, 180), 0xFFFF00, 8));
    EXPECT_TRUE(NearColour(ReadPixel(624, 420), 0x0000FF, 8));

    g->flags &= ~rwGEOMETRYLIGHT;
    Render();
    EXPECT_TRUE(NearColour(ReadPixel(624, 180), 0x000000, 2));
    EXPECT_TRUE(NearColour(ReadPixel(400, 450), 0x000000, 2));
    EXPECT_TRUE(NearColour(ReadPixel(624, 420), 0x0000FF, 8));
}

// A morphing geometry's instance belongs to its atomic and follows the
// interpolator: halfway between a target and one 2 units higher, the lit
// square stands 1 unit up; back at the start it is where it was.
TEST_F(WorldPipelines, MorphTargetsAreInterpolatedIntoTheDynamicStream)
{
    RwGeometry *g = atomic->geometry;
    ASSERT_EQ(1, RwGeometryAddMorphTargets(g, 1));
    RwMorphTarget *from = RwGeometryGetMorphTarget(g, 0);
    RwMorphTarget *to = RwGeometryGetMorphTarget(g, 1);
    for (int v = 0; v < 8; v++) {
        to->verts[v] = from->verts[v];
        to->verts[v].y += v < 4 ? 2.0f : 0.0f;
        to->normals[v] = from->normals[v];
    }
    to->boundingSphere = from->boundingSphere;
    RwInterpolator &i = atomic->interpolator;
    i = {rwINTERPOLATORDIRTYINSTANCE, 0, 1, 1.0f, 1.0f, 0.5f};
    Render();
    EXPECT_EQ(g->repEntry, nullptr);
    ASSERT_NE(atomic->repEntry, nullptr);
    EXPECT_TRUE(NearColour(ReadPixel(624, 280), 0xFFFF00, 8));
    EXPECT_TRUE(NearColour(ReadPixel(624, 420), 0x0000FF, 8));
    i.position = 0.0f;
    i.flags |= rwINTERPOLATORDIRTYINSTANCE;
    Render();
    EXPECT_TRUE(NearColour(ReadPixel(624, 280), 0x000000, 2));
    EXPECT_TRUE(NearColour(ReadPixel(624, 420), 0xFFFF00, 8));
}

// The bytes a stream holds after a write through fn.
template <typename Fn>
Bytes Written(Fn fn)
{
    RwStream *out = OpenWriteMemory();
    RwMemory memory = {nullptr, 0};
    const bool ok = fn(out) != nullptr;
    RwStreamClose(out, &memory);
    Bytes b(memory.start, memory.start + memory.length);
    RwFree(memory.start);
    return ok ? b : Bytes();
}

// The instanced card goes out as native data laid out as the table says,
// comes back into device buffers with a CPU-side copy, draws the same
// picture, and writes the same bytes again; damaged data is refused.
TEST_F(WorldPipelines, NativeDataRoundTripsAndDraws)
{
    RwGeometry *g = atomic->geometry;
    EXPECT_EQ(0, RwGeometryNativeStreamGetSize(g));
    EXPECT_TRUE(Written([&](RwStream *o) { return RwGeometryNativeStreamWrite(o, g); }).empty());
    Render();
    g->flags |= rwGEOMETRYNATIVE;
    Bytes bytes = Written([&](RwStream *o) { return RwGeometryNativeStreamWrite(o, g); });
    ASSERT_EQ(static_cast<size_t>(RwGeometryNativeStreamGetSize(g)), bytes.size());
    auto u32 = [&](const Bytes &b, size_t at) {
        return static_cast<RwUInt32>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
    };
    const RwUInt32 S = 64 + 36;
    EXPECT_EQ(1u, u32(bytes, 0));
    EXPECT_EQ(bytes.size() - 12, u32(bytes, 4));
    EXPECT_EQ(0x1C020055u, u32(bytes, 8));
    EXPECT_EQ(9u, u32(bytes, 12));
    EXPECT_EQ(S, u32(bytes, 16));
    EXPECT_EQ(1u, u32(bytes, 20 + 4));                   // mesh count
    EXPECT_EQ(12u, u32(bytes, 20 + 56));                 // total indices: four triangles
    EXPECT_EQ(8u, u32(bytes, 20 + 60));                  // total vertices
    EXPECT_EQ(0u, u32(bytes, 20 + 64 + 8));              // material 0 by its index
    const RwUInt32 E = u32(bytes, 20 + S);
    EXPECT_EQ(4u, E);                                    // position, normal, texture set, end
    const size_t record0 = 20 + S + 4 + 8 * E + 2 * 12;
    EXPECT_NE(0u, u32(bytes, record0));
    const RwUInt32 stride = u32(bytes, record0 + 8);
    EXPECT_EQ(record0 + 16 + 8 * stride + 16, bytes.size());
    EXPECT_EQ(0u, u32(bytes, record0 + 16 + 8 * stride));   // no second stream

    RwStream *in = OpenRead(bytes);
    ASSERT_EQ(RwGeometryNativeStreamRead(in, g), in);
    RwStreamClose(in, nullptr);
    const RwD3D9InstanceHeader *h = static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(g->repEntry));
    EXPECT_EQ(1, h->vertexStream[0].managed);
    EXPECT_EQ(g->matList.materials[0], reinterpret_cast<const RwD3D9InstanceMesh *>(h + 1)->material);
    Render();
    EXPECT_TRUE(NearColour(ReadPixel(624, 384), 0xFFFF00, 8));
    EXPECT_TRUE(NearColour(ReadPixel(400, 384), 0x333300, 8));
    // Written again from the copy: the same bytes but where the new vertex
    // space lies (the stream offsets and the base vertex index).
    Bytes again = Written([&](RwStream *o) { return RwGeometryNativeStreamWrite(o, g); });
    ASSERT_EQ(bytes.size(), again.size());
    for (size_t at : {size_t(20 + 20), size_t(20 + 64 + 20), record0 + 4}) {
        std::memset(&bytes[at], 0, 4);
        std::memset(&again[at], 0, 4);
    }
    EXPECT_EQ(bytes, again);

    // Hostile data: cut anywhere, another platform, a bad version, an index
    // past its mesh's vertices, an element without its stream. The instance
    // in place is kept.
    RwResourceEntry *kept = g->repEntry;
    const RwInt32 live = rwTestMemory.live;
    Bytes other = bytes, old = bytes, wild = bytes, stray = bytes;
    stray[20 + S + 4] = 1;   // the position element in a stream that is not there
    other[12] = 8;
    old[8] = 0;
    old[9] = 0;
    old[10] = 0;
    old[11] = 0x10;
    wild[20 + S + 4 + 8 * E] = 8;
    for (Bytes *b : {&other, &old, &wild, &stray}) {
        in = OpenRead(*b);
        EXPECT_EQ(RwGeometryNativeStreamRead(in, g), nullptr);
        RwStreamClose(in, nullptr);
    }
    EXPECT_EQ(static_cast<RwInt32>(0x80000004u), RwErrorGet().errorCode);
    for (size_t n = 0; n < bytes.size(); n++) {
        in = OpenRead(bytes, n);
        EXPECT_EQ(RwGeometryNativeStreamRead(in, g), nullptr) << n;
        RwStreamClose(in, nullptr);
    }
    EXPECT_EQ(kept, g->repEntry);
    EXPECT_EQ(live, rwTestMemory.live);
    RwErrorGet();
    g->flags &= ~rwGEOMETRYNATIVE;

    // A sector of a native world: into the shared static buffers, and drawn.
    RwWorldSector *sector = reinterpret_cast<RwWorldSector *>(world->rootSector);
    world->flags |= rwGEOMETRYNATIVE;
    Bytes ground = Written([&](RwStream *o) { return RwWorldSectorNativeStreamWrite(o, sector); });
    ASSERT_EQ(static_cast<size_t>(RwWorldSectorNativeStreamGetSize(sector)), ground.size());
    in = OpenRead(ground);
    ASSERT_EQ(RwWorldSectorNativeStreamRead(in, sector), in);
    RwStreamClose(in, nullptr);
    h = static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(sector->repEntry));
    EXPECT_EQ(1, h->vertexStream[0].managed);
    Render();
    EXPECT_TRUE(NearColour(ReadPixel(512, 700), 0x0000FF, 8));
    world->flags &= ~rwGEOMETRYNATIVE;
}

const RwD3D9InstanceHeader *HeaderOf(const RwResourceEntry *entry)
{
    return static_cast<const RwD3D9InstanceHeader *>(RwResourceEntryData(const_cast<RwResourceEntry *>(entry)));
}

// A rewrite whose dynamic stream cannot be locked (its contents are gone
// after a failed discard) is not drawn: the instance is freed and the next
// render builds it again from the geometry as it now stands.
TEST_F(WorldPipelines, AStreamThatCannotBeLockedIsBuiltAgainOnTheNextRender)
{
    RwGeometry *g = atomic->geometry;
    RwD3D9GeometrySetInstanceFlags(g, rwGEOMETRYLOCKVERTICES);
    Render();
    ASSERT_NE(g->repEntry, nullptr);
    IDirect3DVertexBuffer9 *dynamic =
        static_cast<IDirect3DVertexBuffer9 *>(HeaderOf(g->repEntry)->vertexStream[0].vertexBuffer);
    ASSERT_NE(dynamic, nullptr);
    RwGeometryLock(g, rwGEOMETRYLOCKVERTICES);
    RwMorphTarget *m = RwGeometryGetMorphTarget(g, 0);
    for (int v = 0; v < 4; v++) {
        m->verts[v].y += 2.0f;
    }
    RwGeometryUnlock(g);

    FailNextLock(dynamic);
    Render();
    EXPECT_TRUE(LockFailed(dynamic));
    EXPECT_EQ(g->repEntry, nullptr);
    EXPECT_TRUE(NearColour(ReadPixel(624, 180), 0x000000, 2));
    EXPECT_TRUE(NearColour(ReadPixel(624, 420), 0x0000FF, 8));
    Render();
    EXPECT_NE(g->repEntry, nullptr);
    EXPECT_TRUE(NearColour(ReadPixel(624, 180), 0xFFFF00, 8));
    EXPECT_TRUE(NearColour(ReadPixel(624, 420), 0x0000FF, 8));
}

const RwD3D9InstanceMesh *MeshOf(const RwD3D9InstanceHeader *h, const RwMaterial *material)
{
    const RwD3D9InstanceMesh *meshes = reinterpret_cast<const RwD3D9InstanceMesh *>(h + 1);
    for (RwUInt32 i = 0; i < h->numMeshes; i++)
        if (meshes[i].material == material)
            return &meshes[i];
    return nullptr;
}

// Strips joined by degenerate triangles hold more than three indices a
// triangle: they are drawn as a triangle list of just the two triangles.
TEST_F(WorldPipelines, JoinedStripsAreDrawnAsTriangleLists)
{
    RwMaterial *material = RwMaterialCreate();
    RwMaterialSetTexture(material, cardTexture);
    ReplaceCard(Squares(rwGEOMETRYTRISTRIP | rwGEOMETRYTEXTURED | rwGEOMETRYNORMALS | rwGEOMETRYLIGHT |
                            rwGEOMETRYPOSITIONS,
                        material, material, true));
    RwMaterialDestroy(material);
    const RwMesh *strip = RwMeshHeaderGetMeshes(atomic->geometry->mesh);
    ASSERT_EQ(rwPRIMTYPETRISTRIP, RwMeshTypeGetPrimitive(atomic->geometry->mesh->flags & 0xFF));
    ASSERT_GT(strip->numIndices, 6u);
    Render();
    const RwD3D9InstanceHeader *h = HeaderOf(atomic->geometry->repEntry);
    EXPECT_EQ(D3DPT_TRIANGLELIST, h->primType);
    EXPECT_EQ(6u, h->totalNumIndex);
    EXPECT_TRUE(NearColour(ReadPixel(676, 425), 0xFFFF00, 8));   // the lit square's lower triangle
    EXPECT_TRUE(NearColour(ReadPixel(573, 343), 0x000000, 2));   // its upper half is not drawn
}

// Pre-lit meshes: one whose colours carry alpha blends, one whose material
// colour is not white takes it through the texture factor.
TEST_F(WorldPipelines, PreLitMeshesBlendTheirAlphaAndTakeTheMaterialColour)
{
    RwMaterial *plain = RwMaterialCreate();
    RwMaterial *tinted = RwMaterialCreate();
    tinted->color = {0, 255, 255, 255};
    ReplaceCard(Squares(rwGEOMETRYPRELIT | rwGEOMETRYPOSITIONS | rwGEOMETRYMODULATEMATERIALCOLOR, plain, tinted));
    RwGeometry *g = atomic->geometry;
    for (int v = 0; v < 8; v++)
        g->preLitLum[v] = v < 4 ? RwRGBA{255, 255, 0, 128} : RwRGBA{255, 255, 255, 255};
    Render();
    const RwD3D9InstanceHeader *h = HeaderOf(g->repEntry);
    ASSERT_TRUE(MeshOf(h, plain) && MeshOf(h, tinted));
    EXPECT_TRUE(MeshOf(h, plain)->vertexAlpha);
    EXPECT_FALSE(MeshOf(h, tinted)->vertexAlpha);
    EXPECT_TRUE(NearColour(ReadPixel(624, 384), 0x808000, 8)) << std::hex << ReadPixel(624, 384);
    EXPECT_TRUE(NearColour(ReadPixel(400, 384), 0x00FFFF, 8)) << std::hex << ReadPixel(400, 384);
    RwMaterialDestroy(plain);
    RwMaterialDestroy(tinted);
}

// A pre-lit, lit card and ground modulated by a red material, in a world
// lit by one point light behind the card: no ambient light, so the lighting
// clears the ambient state before each object, and the material, unchanged
// from frame to frame, must put its colour back there every frame.
TEST_F(WorldPipelines, PreLitColoursLastWithoutAmbientLight)
{
    for (RwLight *l : lights)
        DestroyLight(world, l);
    lights.clear();
    RwLight *point = AddLight(rwLIGHTPOINT, {1, 1, 1, 1});
    RwLightSetRadius(point, 50.0f);
    const RwV3d behind = {0, 0, 10};
    RwFrameTranslate(RwLightGetFrame(point), &behind, rwCOMBINEREPLACE);
    RwMaterial *red = RwMaterialCreate();
    red->color = {255, 0, 0, 255};
    ReplaceCard(Squares(rwGEOMETRYPRELIT | rwGEOMETRYPOSITIONS | rwGEOMETRYNORMALS | rwGEOMETRYLIGHT |
                            rwGEOMETRYMODULATEMATERIALCOLOR,
                        red, red));
    RwMaterialDestroy(red);
    for (int v = 0; v < 8; v++)
        atomic->geometry->preLitLum[v] = {255, 255, 255, 255};
    RwMaterial *ground = world->matList.materials[0];
    RwMaterialSetTexture(ground, nullptr);
    ground->color = {255, 0, 0, 255};
    world->flags |= rwGEOMETRYLIGHT | rwGEOMETRYMODULATEMATERIALCOLOR;
    for (int frame = 0; frame < 3; frame++) {
        Render();
        // The square whose normals face away from the light, and the ground.
        EXPECT_TRUE(NearColour(ReadPixel(624, 384), 0xFF0000, 8)) << frame << " " << std::hex << ReadPixel(624, 384);
        EXPECT_TRUE(NearColour(ReadPixel(512, 700), 0xFF0000, 8)) << frame << " " << std::hex << ReadPixel(512, 700);
    }
    world->flags &= ~(rwGEOMETRYLIGHT | rwGEOMETRYMODULATEMATERIALCOLOR);
}

// A scaled atomic's normals are scaled by the device's transform: they are
// normalised again, so the lit square stays fully lit at twice the size.
TEST_F(WorldPipelines, ScaledAtomicsHaveTheirNormalsNormalised)
{
    const RwV3d twice = {2, 2, 2};
    RwFrameScale(RwAtomicGetFrame(atomic), &twice, rwCOMBINEREPLACE);
    RwFrameSyncDirtyList();
    device->renderStates.clear();
    Render();
    EXPECT_TRUE(NearColour(ReadPixel(624, 384), 0xFFFF00, 8)) << std::hex << ReadPixel(624, 384);
    const auto normalised = std::find(device->renderStates.begin(), device->renderStates.end(),
                                      std::make_pair(static_cast<DWORD>(D3DRS_NORMALIZENORMALS), DWORD(TRUE)));
    EXPECT_NE(normalised, device->renderStates.end());
}

// Meshes built again (a new serial number) make the next render build the
// instance again from the geometry as it stands.
TEST_F(WorldPipelines, NewMeshesRebuildTheInstance)
{
    RwGeometry *g = atomic->geometry;
    Render();
    ASSERT_NE(g->repEntry, nullptr);
    RwMorphTarget *m = RwGeometryGetMorphTarget(g, 0);
    for (int v = 0; v < 4; v++)
        m->verts[v].y += 2.0f;
    Render();
    EXPECT_TRUE(NearColour(ReadPixel(624, 180), 0x000000, 2)) << "no lock, same meshes: the instance stands";
    g->mesh->serialNum++;
    Render();
    EXPECT_EQ(HeaderOf(g->repEntry)->serialNumber, g->mesh->serialNum);
    EXPECT_TRUE(NearColour(ReadPixel(624, 180), 0xFFFF00, 8));
}

// Two cards share a geometry of two morph targets, each atomic with its own
// dynamic instance. Destroying one leaves the geometry listed for device
// restores, so after a reset the other is refilled and drawn again.
TEST_F(WorldPipelines, AMorphingCardLeftAloneIsRefilledAfterAReset)
{
    RwGeometry *g = atomic->geometry;
    ASSERT_EQ(1, RwGeometryAddMorphTargets(g, 1));
    RwClump *twin = RwClumpClone(clump);
    ASSERT_NE(twin, nullptr);
    RwWorldAddClump(world, twin);
    RwFrameSyncDirtyList();
    Render();
    Render();   // built, then drawn as it stands
    ASSERT_NE(atomic->repEntry, nullptr);
    ASSERT_EQ(0, HeaderOf(atomic->repEntry)->vertexStream[0].managed);
    EXPECT_TRUE(NearColour(ReadPixel(624, 384), 0xFFFF00, 8));
    RwWorldRemoveClump(world, twin);
    RwClumpDestroy(twin);
    ASSERT_TRUE(ForceReset());
    Render();
    EXPECT_TRUE(NearColour(ReadPixel(624, 384), 0xFFFF00, 8)) << std::hex << ReadPixel(624, 384);
}

// An atomic's instance of a morphing geometry leaves the geometry listed for
// device restores (other atomics may share it); the geometry leaves the list
// when it is destroyed, so a reset after that writes nothing into it.
TEST_F(WorldPipelines, ADestroyedMorphingGeometryLeavesTheRestoreList)
{
    RwAtomic *kept = atomic;
    RwClump *doomed = Card();
    RwGeometry *g = atomic->geometry;
    ASSERT_EQ(1, RwGeometryAddMorphTargets(g, 1));
    for (RwInt32 v = 0; v < g->numVertices; v++) {
        RwGeometryGetMorphTarget(g, 1)->verts[v] = RwGeometryGetMorphTarget(g, 0)->verts[v];
        RwGeometryGetMorphTarget(g, 1)->normals[v] = RwGeometryGetMorphTarget(g, 0)->normals[v];
    }
    RwWorldAddClump(world, doomed);
    RwFrameSyncDirtyList();
    Render();
    ASSERT_NE(atomic->repEntry, nullptr);
    ASSERT_EQ(0, HeaderOf(atomic->repEntry)->vertexStream[0].managed);
    atomic = kept;
    rwTestMemory.quarantine = true;
    RwWorldRemoveClump(world, doomed);
    RwClumpDestroy(doomed);
    ASSERT_TRUE(ForceReset());
    rwTestMemory.quarantine = false;
    EXPECT_EQ(0, RwTestMemoryReleaseQuarantine()) << "the reset wrote into the freed geometry";
}

// Two cards share a geometry of two morph targets, the twin 2 units up, each
// atomic with its own dynamic instance: a reset and a lock of the geometry
// reach both, not only the one drawn first.
TEST_F(WorldPipelines, EveryAtomicOfAMorphingGeometryIsRefilled)
{
    RwGeometry *g = atomic->geometry;
    ASSERT_EQ(1, RwGeometryAddMorphTargets(g, 1));
    RwClump *twin = RwClumpClone(clump);
    ASSERT_NE(twin, nullptr);
    const RwV3d up = {0, 2, 0};
    RwFrameTranslate(RwClumpGetFrame(twin), &up, rwCOMBINEREPLACE);
    RwWorldAddClump(world, twin);
    RwFrameSyncDirtyList();
    auto both = [&](DWORD colour) {
        return NearColour(ReadPixel(624, 384), colour, 8) && NearColour(ReadPixel(624, 180), colour, 8);
    };
    Render();
    Render();
    EXPECT_TRUE(both(0xFFFF00));
    // The lit square turns its normals away from the light.
    RwGeometryLock(g, rwGEOMETRYLOCKNORMALS);
    for (int v = 0; v < 4; v++)
        RwGeometryGetMorphTarget(g, 0)->normals[v] = {0, 0, 1};
    RwGeometryUnlock(g);
    Render();
    EXPECT_TRUE(both(0x333300)) << std::hex << ReadPixel(624, 384) << " " << ReadPixel(624, 180);
    ASSERT_TRUE(ForceReset());
    Render();
    EXPECT_TRUE(both(0x333300)) << std::hex << ReadPixel(624, 384) << " " << ReadPixel(624, 180);
    RwWorldRemoveClump(world, twin);
    RwClumpDestroy(twin);
}

// A native geometry of two morph targets (only a hand-made file has one)
// reads into a dynamic buffer, which a reset empties: the copy kept from the
// read fills it again.
TEST_F(WorldPipelines, NativeDynamicStreamsAreRefilledAfterAReset)
{
    RwGeometry *g = atomic->geometry;
    Render();
    ASSERT_EQ(1, RwGeometryAddMorphTargets(g, 1));
    g->flags |= rwGEOMETRYNATIVE;
    Bytes bytes = Written([&](RwStream *o) { return RwGeometryNativeStreamWrite(o, g); });
    RwStream *in = OpenRead(bytes);
    ASSERT_EQ(RwGeometryNativeStreamRead(in, g), in);
    RwStreamClose(in, nullptr);
    ASSERT_EQ(0, HeaderOf(g->repEntry)->vertexStream[0].managed);
    Render();
    EXPECT_TRUE(NearColour(ReadPixel(624, 384), 0xFFFF00, 8));
    ASSERT_TRUE(ForceReset());
    Render();
    EXPECT_TRUE(NearColour(ReadPixel(624, 384), 0xFFFF00, 8)) << std::hex << ReadPixel(624, 384);
    g->flags &= ~rwGEOMETRYNATIVE;
}

// Ambient, directional and point lights added and removed between frames,
// drawn once straight through and once with the driver resetting the device
// before every third frame (ten resets, more than the device's eight light
// slots): every frame shows what it shows without resets. The resets take
// turns: forced; after a loss that a Present reports; after one that lasts a
// frame and whose first two resets fail (the frames between are skipped).
TEST_F(WorldPipelines, LightsRemovedBeforeResetsLightAsBeforeAfterThem)
{
    struct Kind {
        RwInt32 type;
        RwRGBAReal colour;
        RwV3d at;
    } const kinds[4] = {{rwLIGHTAMBIENT, {0.1f, 0.1f, 0.1f, 1}, {0, 0, 0}},
                        {rwLIGHTDIRECTIONAL, {0.3f, 0, 0.3f, 1}, {0, 0, 0}},
                        {rwLIGHTPOINT, {0, 0.4f, 0, 1}, {0, 0, 10}},
                        {rwLIGHTPOINT, {0.4f, 0.2f, 0, 1}, {1, 1, 0}}};
    auto run = [&](bool resets) {
        for (RwLight *l : lights)
            DestroyLight(world, l);
        lights.clear();
        std::vector<DWORD> seen;
        RwLight *live[4] = {};
        RwUInt32 seed = 12345;
        for (int frame = 0; frame < 30; frame++) {
            seed = seed * 1103515245u + 12345u;
            for (int k = 0; k < 4; k++) {
                const bool wanted = (seed >> (16 + k)) & 1;
                if (wanted && !live[k]) {
                    live[k] = AddLight(kinds[k].type, kinds[k].colour);
                    RwLightSetRadius(live[k], 50.0f);
                    RwFrameTranslate(RwLightGetFrame(live[k]), &kinds[k].at, rwCOMBINEREPLACE);
                } else if (!wanted && live[k]) {
                    lights.erase(std::find(lights.begin(), lights.end(), live[k]));
                    DestroyLight(world, live[k]);
                    live[k] = nullptr;
                }
            }
            RwFrameSyncDirtyList();
            const int turn = frame / 3 % 3;
            if (resets && frame % 3 == 2 && turn == 0) {
                EXPECT_TRUE(ForceReset());
            }
            RwRGBA black = {0, 0, 0, 255};
            for (int skipped = 0; skipped < 4 && !RwCameraClear(camera, &black, rwCAMERACLEARIMAGE); skipped++)
                RwCameraShowRaster(camera, window, 0);
            Render();
            seen.push_back(ReadPixel(624, 384));
            seen.push_back(ReadPixel(400, 384));
            if (resets && frame % 3 == 1 && turn > 0) {
                device->loseAtPresent = true;
                device->lostChecks = turn - 1;
                device->refusedResets = 2 * (turn - 1);
            }
            RwCameraShowRaster(camera, window, 0);
        }
        EXPECT_FALSE(device->lost);
        for (RwLight *l : lights)
            DestroyLight(world, l);
        lights.clear();
        return seen;
    };
    const std::vector<DWORD> straight = run(false), reset = run(true);
    // Ten resets through the device, and the six it refused.
    EXPECT_EQ(device->Count("Reset"), 16);
    for (size_t i = 0; i < straight.size(); i++)
        EXPECT_EQ(straight[i], reset[i]) << "frame " << i / 2 << std::hex << ": " << straight[i] << " " << reset[i];
}

// A reset inside a camera update (the raster renderer checks the device
// there) keeps the camera's view and projection, and what follows in the
// update, with a light added and the material changed, draws as without it.
TEST_F(WorldPipelines, AResetInsideACameraUpdateLeavesTheRestAsWithoutIt)
{
    RwSurfaceProperties &surface = atomic->geometry->matList.materials[0]->surfaceProps;
    auto run = [&](bool reset) {
        surface.diffuse = 1.0f;
        RwRGBA black = {0, 0, 0, 255};
        EXPECT_TRUE(RwCameraClear(camera, &black, rwCAMERACLEARIMAGE | rwCAMERACLEARZ));
        EXPECT_TRUE(RwCameraBeginUpdate(camera));
        RwWorldRender(world);
        device->lost = reset;
        EXPECT_TRUE(RwD3D9TestDeviceAndBeginScene());
        RwLight *point = AddLight(rwLIGHTPOINT, {0, 0.5f, 0, 1});
        RwLightSetRadius(point, 30.0f);
        const RwV3d at = {0, 0, 2};
        RwFrameTranslate(RwLightGetFrame(point), &at, rwCOMBINEREPLACE);
        RwFrameSyncDirtyList();
        surface.diffuse = 0.5f;
        // The reset left nothing of the picture or its depth.
        RwCameraClear(camera, &black, rwCAMERACLEARIMAGE | rwCAMERACLEARZ);
        RwD3D9SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        RwWorldRender(world);
        RwCameraEndUpdate(camera);
        lights.erase(std::find(lights.begin(), lights.end(), point));
        DestroyLight(world, point);
        return ReadPixels(real, rwD3D9Driver.defaultColorSurface);
    };
    const std::vector<DWORD> straight = run(false), reset = run(true);
    ASSERT_EQ(device->Count("Reset"), 1);
    ASSERT_EQ(straight.size(), reset.size());
    size_t differ = 0;
    for (size_t i = 0; i < straight.size(); i++)
        differ += straight[i] != reset[i];
    EXPECT_EQ(differ, 0u) << std::hex << straight[384 * 1024 + 624] << " " << reset[384 * 1024 + 624];
    surface.diffuse = 1.0f;
}

// A light the device refused leaves the light it held, which a reset gives
// back as it was. After a hand-out no record holds a known light: a reset
// enables none (the device would enable a default light of its own), not
// even one set again but not enabled, and none is enabled until set again.
TEST_F(WorldPipelines, ARestoreEnablesNoRecordWithoutALight)
{
    D3DLIGHT9 light = {};
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = {1, 1, 1, 1};
    light.Range = 10.0f;
    light.Attenuation0 = 1.0f;
    const RwInt32 index = RwD3D9GetNumLights() + 1;
    ASSERT_TRUE(RwD3D9SetLight(index, &light));
    ASSERT_TRUE(RwD3D9EnableLight(index, TRUE));
    D3DLIGHT9 refused = light;
    refused.Attenuation0 = -1.0f;
    ASSERT_FALSE(RwD3D9SetLight(index, &refused));
    ASSERT_TRUE(ForceReset());
    BOOL on = FALSE;
    D3DLIGHT9 held = {};
    EXPECT_TRUE(SUCCEEDED(real->GetLightEnable(index, &on)) && on);
    real->GetLight(index, &held);
    EXPECT_EQ(held.Attenuation0, 1.0f);
    EXPECT_EQ(RwD3D9GetLightRecord(index)->enabled, 1);

    const RwInt32 setAgain = index + 1;
    ASSERT_TRUE(RwD3D9SetLight(setAgain, &light));
    ASSERT_TRUE(RwD3D9EnableLight(setAgain, TRUE));
    RwD3D9GetCurrentD3DDevice();
    light.Diffuse = {1, 0, 0, 1};
    ASSERT_TRUE(RwD3D9SetLight(setAgain, &light));
    ASSERT_TRUE(ForceReset());
    for (RwInt32 i : {index, setAgain}) {
        on = TRUE;
        EXPECT_TRUE(FAILED(real->GetLightEnable(i, &on)) || !on) << i;
        EXPECT_EQ(RwD3D9GetLightRecord(i)->enabled, 0) << i;
    }
    EXPECT_FALSE(RwD3D9EnableLight(index, TRUE));
    EXPECT_TRUE(FAILED(real->GetLightEnable(index, &on)) || !on);
    EXPECT_TRUE(RwD3D9EnableLight(setAgain, TRUE));
    real->GetLight(setAgain, &held);
    EXPECT_EQ(held.Diffuse.g, 0.0f);
    RwD3D9EnableLight(setAgain, FALSE);
}

// Instances outside an arena are plain blocks of the engine's allocator, so
// the test memory sees every write into one that was freed.
class WorldPipelinesWithoutArena : public WorldPipelines {
protected:
    static void SetUpTestSuite() { Start(0); }
};

// A card destroyed while the device is lost gives its dynamic buffer back
// and leaves the restore list: the restore neither refills its freed stream
// record nor marks its freed geometry, and refills the card that remains.
TEST_F(WorldPipelinesWithoutArena, ObjectsDestroyedWhileTheDeviceIsLostGiveTheirBuffersBack)
{
    RwAtomic *kept = atomic;
    RwD3D9GeometrySetInstanceFlags(kept->geometry, rwGEOMETRYLOCKVERTICES);
    RwClump *doomed = Card();
    RwD3D9GeometrySetInstanceFlags(atomic->geometry, rwGEOMETRYLOCKVERTICES);
    RwWorldAddClump(world, doomed);
    RwFrameSyncDirtyList();
    Render();
    ASSERT_NE(kept->geometry->repEntry, nullptr);
    ASSERT_NE(atomic->geometry->repEntry, nullptr);
    const RwD3D9InstanceHeader *h = HeaderOf(kept->geometry->repEntry);
    ASSERT_EQ(0, h->vertexStream[0].managed);

    rwTestMemory.quarantine = true;
    ASSERT_TRUE(RwD3D9ReleaseDeviceResources());
    EXPECT_EQ(h->vertexStream[0].vertexBuffer, nullptr);
    RwWorldRemoveClump(world, doomed);
    RwClumpDestroy(doomed);
    ASSERT_EQ(D3D_OK, real->Reset(&rwD3D9Driver.present));
    ASSERT_TRUE(RwD3D9RestoreDeviceResources());
    rwTestMemory.quarantine = false;
    EXPECT_EQ(0, RwTestMemoryReleaseQuarantine());
    EXPECT_NE(h->vertexStream[0].vertexBuffer, nullptr);
    EXPECT_EQ(rwGEOMETRYLOCKALL, kept->geometry->lockedSinceLastInst);
    atomic = kept;
    Render();
    EXPECT_TRUE(NearColour(ReadPixel(624, 384), 0xFFFF00, 8));
}

}  // namespace
