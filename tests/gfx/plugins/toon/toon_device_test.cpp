// Toon models drawn on the Direct3D 9 device: ink rings, crease lines and paint, pixels read back.
#include <d3dx9.h>

#include <cmath>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "gfx/core/finite.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9groundworld.h"
#include "gfx/d3d9/d3d9instance.h"
#include "gfx/d3d9/d3d9skinpipe.h"
#include "gfx/d3d9/d3d9testcamera.h"
#include "gfx/d3d9/d3d9toon.h"
#include "gfx/d3d9/d3d9toonshaders.h"
#include "gfx/plugins/hanim/hanim.h"
#include "gfx/plugins/skin/skin.h"
#include "gfx/plugins/skin/skinint.h"
#include "gfx/plugins/toon/toon.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"
#include "gfx/world/worldids.h"
#include "sample/toon_mesh.h"

namespace {

using namespace toonmesh;

const DWORD Blue = 0x0000FF;
const DWORD Red = 0xFF0000;
const DWORD White = 0xFFFFFF;
const DWORD Green = 0x00FF00;

bool Near(DWORD a, DWORD b) { return NearColour(a, b, 24); }

// One material, optionally with a base texture (all texture coordinates 0) and a paint of its own.
RwGeometry *GeometryFor(const Mesh &m, RwUInt32 flags, RwTexture *base, const char *ownPaint)
{
    const RwInt32 v = static_cast<RwInt32>(m.positions.size()), t = static_cast<RwInt32>(m.tris.size() / 3);
    RwGeometry *g = RwGeometryCreate(v, t, rwGEOMETRYPOSITIONS | rwGEOMETRYNORMALS | flags | (base ? RwUInt32(rwGEOMETRYTEXTURED) : 0u));
    RwMaterial *material = RwMaterialCreate();
    if (base) {
        RwMaterialSetTexture(material, base);
        std::memset(g->texCoords[0], 0, v * sizeof(RwTexCoords));
    }
    if (ownPaint) {
        RwToonMaterialSetPaintName(material, ownPaint);
    }
    RwMorphTarget *mt = RwGeometryGetMorphTarget(g, 0);
    std::memcpy(mt->verts, m.positions.data(), v * sizeof(RwV3d));
    std::memcpy(mt->normals, m.normals.data(), v * sizeof(RwV3d));
    mt->boundingSphere = {{0, 0, 0}, 1.8f};
    for (RwInt32 i = 0; i < t; ++i) {
        g->triangles[i] = {{m.tris[3 * i], m.tris[3 * i + 1], m.tris[3 * i + 2]}, 0};
        RwGeometryTriangleSetMaterial(g, &g->triangles[i], material);
    }
    RwMaterialDestroy(material);
    RwGeometryUnlock(g);
    return g;
}

const RwRGBA red = {255, 0, 0, 255};

// The cube scaled by `half` and raised by `rise`.
Mesh Box(RwV3d half, float rise = 0.0f)
{
    Mesh m = Cube();
    for (RwV3d &p : m.positions) {
        p = {p.x * half.x, p.y * half.y + rise, p.z * half.z};
    }
    return m;
}

RwToonInk *MakeInk(const char *name, float width, RwRGBA colour)
{
    RwToonInk *ink = RwToonInkCreate();
    std::strcpy(ink->name, name);
    ink->width = width;
    ink->colour = colour;
    return ink;
}

class ToonDevice : public CameraDevice {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(RwEngineInit(nullptr, 0, 0x400000));
        ASSERT_TRUE(RwWorldPluginAttach());
        ASSERT_TRUE(RwAnimPluginAttach() && RwHAnimPluginAttach() && RwSkinPluginAttach());
        ASSERT_TRUE(RwToonPluginAttach());
        CameraDevice::SetUpTestSuite();
        natural = rwToonDevice;
    }

    void SetUp() override
    {
        CameraDevice::SetUp();
        rwToonDevice.shaderInk = natural.shaderInk;
        rwToonDevice.shaderPaint = natural.shaderPaint;
        rwToonDevice.multiTexture = natural.multiTexture;
    }

    void TearDown() override
    {
        for (RwAtomic *a : atomics) {
            if (RwHAnimHierarchy *h = RwSkinAtomicGetHAnimHierarchy(a)) {
                RwSkinAtomicSetHAnimHierarchy(a, nullptr);
                RwHAnimHierarchyDestroy(h);
            }
            RwFrame *f = RwAtomicGetFrame(a);
            RwGeometry *g = a->geometry;
            RwAtomicSetFrame(a, nullptr);
            RwAtomicDestroy(a);
            RwFrameDestroy(f);
            RwGeometryDestroy(g);
        }
        atomics.clear();
        CameraDevice::TearDown();
    }

    // A toon atomic of the mesh `depth` units in front of the camera, with inks and paints bound.
    RwAtomic *Model(const Mesh &m, RwUInt32 flags, std::vector<RwToonInk *> inks, std::vector<RwToonPaint *> paints = {},
                    RwTexture *base = nullptr, const char *ownPaint = nullptr, float depth = 5.0f)
    {
        RwGeometry *g = GeometryFor(m, flags, base, ownPaint);
        RwToonGeo *toon = ToonFor(m, inks[0]->name, inks[1]->name);
        RwToonGeometrySetToonGeo(g, toon);
        RwToonInkDictionary dictionary = {static_cast<RwInt32>(inks.size()), inks.data()};
        RwToonGeoApplyInkDictionary(toon, &dictionary);
        RwToonPaintDictionary paintDictionary = {static_cast<RwInt32>(paints.size()), paints.data()};
        RwToonGeoApplyPaintDictionary(toon, &paintDictionary);
        RwAtomic *a = RwAtomicCreate();
        RwFrame *f = RwFrameCreate();
        const RwV3d at = {0, 0, depth};
        RwFrameTranslate(f, &at, rwCOMBINEREPLACE);
        RwAtomicSetFrame(a, f);
        RwAtomicSetGeometry(a, g, 0);
        EXPECT_TRUE(RwToonAtomicEnable(a));
        atomics.push_back(a);
        return a;
    }

    // The mesh with its silhouettes and its creases inked red in these widths.
    RwAtomic *Inked(const Mesh &m, float silhouette, float crease, float depth = 5.0f)
    {
        RwToonInk *outline = MakeInk("outline", silhouette, red);
        RwToonInk *creases = MakeInk("crease", crease, red);
        RwAtomic *a = Model(m, 0, {outline, creases}, {}, nullptr, nullptr, depth);
        RwToonInkRelease(outline);
        RwToonInkRelease(creases);
        return a;
    }
    RwAtomic *Outlined(float width) { return Inked(Sphere(), width, 0.0f); }

    // Every vertex on one bone, posed by `pose`; the atomic keeps the toon render callback.
    static RwAtomic *Skinned(RwAtomic *a, const RwMatrix &pose)
    {
        RwGeometry *g = a->geometry;
        RwSkin *skin = RwSkinCreateRecord(1, 1, static_cast<RwUInt32>(g->numVertices));
        skin->numUsedBones = 1;
        RwMatrixSetIdentity(&skin->skinToBoneMatrices[0]);
        for (RwInt32 v = 0; v < g->numVertices; ++v) {
            skin->vertexBoneWeights[4 * v] = 1.0f;
        }
        RwSkinGeometrySetSkin(g, skin);
        RwHAnimHierarchy *h = RwHAnimHierarchyCreate(1, nullptr, nullptr, rwHANIMHIERARCHYLOCALSPACEMATRICES, 36);
        h->pMatrixArray[0] = pose;
        RwSkinAtomicSetHAnimHierarchy(a, h);
        return a;
    }

    // Clears to blue and draws the atomics through their render callbacks; the
    // device records the render states of the callbacks only.
    void Draw()
    {
        RwRGBA blue = {0, 0, 255, 255};
        ASSERT_TRUE(RwCameraClear(camera, &blue, rwCAMERACLEARIMAGE | rwCAMERACLEARZ));
        ASSERT_TRUE(RwCameraBeginUpdate(camera));
        RwD3D9FlushRenderStates();
        device->renderStates.clear();
        for (RwAtomic *a : atomics) {
            a->renderCallBack(a);
        }
        RwCameraEndUpdate(camera);
        frame.clear();
    }

    // A pixel of the back buffer, read once after the last draw.
    DWORD Pixel(int x, int y)
    {
        if (frame.empty())
            frame = ReadPixels(real, rwD3D9Driver.defaultColorSurface);
        return frame.empty() ? 0xDEADBEEF : frame[y * 1024 + x];
    }

    // Red pixels on the row through the centre, right of it: how far the ink ring reaches.
    int RedRun(int y = 384)
    {
        int run = 0;
        for (int x = 512; x < 1024; ++x) {
            run += Near(Pixel(x, y), Red) ? 1 : 0;
        }
        return run;
    }

    // The sphere inked by `first` for the whole model (two inks) or with an ink
    // per edge (three), every vertex's width factor `factor`, drawn with or
    // without the ink shader: how far the ring reaches right of the centre.
    int SphereInkRun(RwBool shader, int inks, RwToonInk *first, float factor = 1.0f)
    {
        std::vector<RwToonInk *> list = {first, MakeInk("b", 0.0f, red), MakeInk("c", 0.0f, red)};
        RwAtomic *a = Model(Sphere(), 0, {list[0], list[1]});
        RwToonGeo *toon = RwToonGeometryGetToonGeo(a->geometry);
        if (inks == 3) {
            RwToonGeoSetNumInks(toon, 3);
            for (int i = 0; i < 3; ++i) {
                std::strcpy(toon->inkNames[i], list[i]->name);
            }
            RwToonInkDictionary d = {3, list.data()};
            RwToonGeoApplyInkDictionary(toon, &d);
        }
        for (RwInt32 v = 0; v < toon->numVertices; ++v) {
            toon->widthFactors[v] = factor;
        }
        for (RwToonInk *k : list) {
            RwToonInkRelease(k);
        }
        rwToonDevice.shaderInk = shader;
        Draw();
        const int reach = RedRun();
        TearDown();
        SetUp();
        return reach;
    }

    static inline RwToonDevice natural;
    std::vector<RwAtomic *> atomics;
    std::vector<DWORD> frame;
};

TEST_F(ToonDevice, SphereInkRingLiesOutsideTheOutlineAndGrowsWithTheInk)
{
    int runs[2] = {};
    const float widths[2] = {8.0f, 24.0f};
    for (int i = 0; i < 2; ++i) {
        Outlined(widths[i]);
        Draw();
        // The sphere's outline: 1 / sqrt(24) of the half-width from the centre, about 104.5 pixels.
        EXPECT_TRUE(Near(Pixel(512, 384), White)) << i;
        EXPECT_TRUE(Near(Pixel(512 + 90, 384), White)) << i;
        EXPECT_TRUE(Near(Pixel(1000, 384), Blue)) << i;
        runs[i] = RedRun();
        EXPECT_TRUE(Near(Pixel(512 + 107, 384), Red)) << i;
        TearDown();
        SetUp();
    }
    EXPECT_GE(runs[0], 2);
    EXPECT_GT(runs[1], runs[0] * 2);
}

TEST_F(ToonDevice, ProcessorAndDeviceInkAgree)
{
    std::vector<int> runs;
    for (RwBool shader : {natural.shaderInk, FALSE}) {
        for (int inks : {2, 3}) {
            runs.push_back(SphereInkRun(shader, inks, MakeInk("a", 16.0f, red)));
        }
    }
    for (int run : runs) {
        EXPECT_NEAR(runs[0], run, 2);
    }
    EXPECT_GT(runs[0], 4);
}

// Depth factors other than 1 and per-vertex widths, on the device and on the
// processor, with one ink for the model and with an ink per edge. The sphere
// (bounds radius 1.8 at depth 5) has its outline near depth 4.8: near factor
// 2 gives 2 - 1.6 / 3.6 there, far factor 11 gives 1 + 10 x 4.5 / 99.5, and
// every vertex's own factor is 1.5. The ring reaches half the width.
TEST_F(ToonDevice, ScaledInkWidthsAgreeOnDeviceAndProcessor)
{
    const auto scaled = [] {
        RwToonInk *ink = MakeInk("a", 16.0f, red);
        ink->nearFactor = 2.0f;
        ink->farFactor = 11.0f;
        return ink;
    };
    const float scale = (2.0f - 1.6f / 3.6f) * (1.0f + 10.0f * 4.5f / 99.5f) * 1.5f;
    EXPECT_NEAR(8, SphereInkRun(natural.shaderInk, 2, MakeInk("a", 16.0f, red)), 1);
    for (RwBool shader : {natural.shaderInk, FALSE}) {
        for (int inks : {2, 3}) {
            const int reach = SphereInkRun(shader, inks, scaled(), 1.5f);
            EXPECT_NEAR(8 * scale, reach, 3) << "shader " << shader << ", inks " << inks;
        }
    }
}

TEST_F(ToonDevice, CubeCreasesFollowVisibleEdgesOnly)
{
    Inked(Cube(), 0.0f, 24.0f);
    Draw();
    // Front face (z = 4) edges at 1/4 of the half-extents: 128 pixels across, 96 up; back face (z = 6) at 85 across.
    EXPECT_TRUE(Near(Pixel(512 + 128, 384), Red));
    EXPECT_TRUE(Near(Pixel(512 - 128, 384), Red));
    EXPECT_TRUE(Near(Pixel(512, 384 - 96), Red));
    EXPECT_TRUE(Near(Pixel(512 + 85, 384), White));
    EXPECT_TRUE(Near(Pixel(512, 384), White));
    EXPECT_TRUE(Near(Pixel(512 + 160, 384), Blue));
}

TEST_F(ToonDevice, InkBehindANearerSurfaceIsHidden)
{
    // A white wall half a unit in front of the model, drawn first: neither its outline nor its creases show.
    for (int i = 0; i < 4; ++i) {
        const bool creases = i & 1;
        Inked(Box({3, 3, 0.05f}), 0.0f, 0.0f, 4.5f);
        Inked(creases ? Cube() : Sphere(), creases ? 0.0f : 24.0f, creases ? 24.0f : 0.0f, 6.0f);
        rwToonDevice.shaderInk = i < 2 ? natural.shaderInk : FALSE;
        Draw();
        EXPECT_EQ(0, RedRun()) << i;
        EXPECT_TRUE(Near(Pixel(512 + 90, 384), White)) << i;
        TearDown();
        SetUp();
    }
}

TEST_F(ToonDevice, NoEdgesDrawNoInkAndLeaveCullingAlone)
{
    RwAtomic *a = Outlined(16.0f);
    RwToonGeoSetEdges(RwToonGeometryGetToonGeo(a->geometry), 0, 0);
    Draw();
    EXPECT_EQ(0, RedRun());
    for (auto &s : device->renderStates) {
        EXPECT_NE(D3DRS_CULLMODE, s.first);
    }
}

TEST_F(ToonDevice, BorderEdgesAreNoSilhouettesAndCountTheirOneTriangle)
{
    RwToonGeo *sphere = RwToonGeometryGetToonGeo(Outlined(16.0f)->geometry);
    for (RwInt32 i = 0; i < sphere->numEdges; ++i) {
        sphere->edges[i].triangle[1] = rwTOONNOINDEX;
    }
    Draw();
    EXPECT_EQ(0, RedRun());
    TearDown();
    SetUp();
    RwToonGeo *cube = RwToonGeometryGetToonGeo(Inked(Cube(), 0.0f, 24.0f)->geometry);
    // Every crease a border of the back face (triangle 2), then of the front face (triangle 0).
    for (RwUInt16 only : {2, 0}) {
        for (RwInt32 i = 0; i < cube->numCreaseEdges; ++i) {
            cube->edges[i].triangle[0] = only;
            cube->edges[i].triangle[1] = rwTOONNOINDEX;
        }
        Draw();
        EXPECT_EQ(only == 0, Near(Pixel(512 + 128, 384), Red)) << only;
        EXPECT_EQ(only == 0, RedRun() > 0) << only;
    }
}

TEST_F(ToonDevice, UnboundInksAndMissingToonDataAreSkipped)
{
    RwAtomic *a = Outlined(16.0f);
    RwToonGeo *toon = RwToonGeometryGetToonGeo(a->geometry);
    RwToonGeoSetNumInks(toon, 4);
    Draw();
    EXPECT_EQ(0, RedRun());
    EXPECT_TRUE(Near(Pixel(512, 384), White));
    RwToonGeometrySetToonGeo(a->geometry, nullptr);
    EXPECT_EQ(a, RwToonAtomicRenderCallBack(a));
}

// A two-texel texture, low u then high u, point-sampled and clamped.
RwTexture *TwoTexels(RwUInt32 low, RwUInt32 high)
{
    RwRaster *raster = RwRasterCreate(2, 1, 32, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888);
    RwUInt32 *texels = reinterpret_cast<RwUInt32 *>(RwRasterLock(raster, 0, rwRASTERLOCKWRITE));
    texels[0] = low;
    texels[1] = high;
    RwRasterUnlock(raster);
    RwTexture *texture = RwTextureCreate(raster);
    texture->filterMode = rwFILTERNEAREST;
    texture->addressing = rwTEXTUREADDRESSCLAMP | (rwTEXTUREADDRESSCLAMP << 4);
    return texture;
}

RwToonPaint *Paint(const char *name, RwTexture *texture)
{
    RwToonPaint *paint = RwToonPaintCreate();
    std::strcpy(paint->name, name);
    paint->type = rwTOONPAINTTEXTURED;
    paint->texture = texture;
    return paint;
}

TEST_F(ToonDevice, LitPaintSplitsHardTowardTheLight)
{
    RwBBox box = {{100, 100, 100}, {-100, -100, -100}};
    RwWorld *world = RwWorldCreate(&box);
    RwLight *light = RwLightCreate(rwLIGHTDIRECTIONAL);
    RwFrame *lightFrame = RwFrameCreate();
    // The light travels along +x: it lights the faces turned to -x, on the screen's right
    // (the device's camera space mirrors x), where u = -n.L passes the texel boundary at 0.5.
    const RwV3d up = {0, 1, 0};
    RwFrameRotate(lightFrame, &up, 90.0f, rwCOMBINEREPLACE);
    RwLightSetFrame(light, lightFrame);
    RwWorldAddLight(world, light);
    RwWorldAddCamera(world, camera);
    RwToonPaint *split = Paint("split", TwoTexels(0xFF000000, 0xFF00FF00));
    RwToonPaint *solid = Paint("solid", TwoTexels(0xFFFF0000, 0xFFFF0000));
    RwToonPaint *bare = Paint("split", nullptr);
    RwTexture *grey = TwoTexels(0xFF808080, 0xFF808080);
    const DWORD darkGreen = 0x008000;
    struct Case {
        const char *what;
        RwUInt32 flags;
        RwToonPaint *paint;
        RwTexture *base;
        const char *own;
        DWORD right, left;
    } cases[] = {
        {"lit", rwGEOMETRYLIGHT, split, nullptr, nullptr, Green, 0},
        {"unlit", 0, split, nullptr, nullptr, White, White},
        {"textureless paint", rwGEOMETRYLIGHT, bare, nullptr, nullptr, White, White},
        {"own paint", rwGEOMETRYLIGHT, split, nullptr, "solid", Red, Red},
        {"own paint not found", rwGEOMETRYLIGHT, split, nullptr, "nothere", Green, 0},
        {"base texture", rwGEOMETRYLIGHT, split, grey, nullptr, darkGreen, 0},
    };
    struct Path {
        RwBool shader, multiTexture;
    } paths[] = {{natural.shaderPaint, natural.multiTexture}, {FALSE, TRUE}, {FALSE, FALSE}};
    for (const Path &path : paths) {
        for (const Case &c : cases) {
            RwToonInk *none = MakeInk("none", 0.0f, red);
            Model(Sphere(32, 48), c.flags, {none, none}, {c.paint, solid}, c.base, c.own);
            RwToonInkRelease(none);
            rwToonDevice.shaderPaint = path.shader;
            rwToonDevice.multiTexture = path.multiTexture;
            Draw();
            EXPECT_TRUE(Near(Pixel(512 + 90, 384), c.right)) << c.what << path.shader << path.multiTexture;
            EXPECT_TRUE(Near(Pixel(512 - 90, 384), c.left)) << c.what << path.shader << path.multiTexture;
            TearDown();
            SetUp();
        }
    }
    // Without a directional light the last light term stays.
    RwWorldRemoveLight(world, light);
    RwToonInk *none = MakeInk("none", 0.0f, red);
    Model(Sphere(32, 48), rwGEOMETRYLIGHT, {none, none}, {split});
    RwToonInkRelease(none);
    Draw();
    EXPECT_TRUE(Near(Pixel(512 + 90, 384), Green));
    for (RwToonPaint *p : {split, solid, bare}) {
        RwToonPaintRelease(p);
    }
    RwTextureDestroy(grey);
    RwWorldRemoveCamera(world, camera);
    RwLightSetFrame(light, nullptr);
    RwLightDestroy(light);
    RwFrameDestroy(lightFrame);
    RwWorldDestroy(world);
}

TEST_F(ToonDevice, CreaseWalksEndOnCyclesAndNearCreasesAreSkipped)
{
    RwAtomic *a = Inked(Cube(), 0.0f, 24.0f);
    RwToonGeo *toon = RwToonGeometryGetToonGeo(a->geometry);
    // Two diagonals (not creases) that lead round to each other from every crease end.
    const RwUInt16 c = static_cast<RwUInt16>(toon->numCreaseEdges);
    for (RwInt32 i = 0; i < c; ++i) {
        std::fill(std::begin(toon->edges[i].link), std::end(toon->edges[i].link), c);
    }
    std::fill(std::begin(toon->edges[c].link), std::end(toon->edges[c].link), static_cast<RwUInt16>(c + 1));
    std::fill(std::begin(toon->edges[c + 1].link), std::end(toon->edges[c + 1].link), c);
    Draw();
    EXPECT_TRUE(Near(Pixel(512 + 128, 384), Red));
    TearDown();
    SetUp();
    // The front face 0.8 from the camera: its creases are not drawn, the back ones face away.
    Inked(Cube(), 0.0f, 24.0f, 1.8f);
    Draw();
    EXPECT_EQ(0, RedRun());
}

TEST_F(ToonDevice, MorphingAtomicReadsPositionsAndNormalsBack)
{
    RwAtomic *a = Outlined(16.0f);
    RwToonGeo *toon = RwToonGeometryGetToonGeo(a->geometry);
    Draw();   // instanced by the toon pipeline's node
    ASSERT_NE(nullptr, a->geometry->repEntry);
    RwD3D9InstanceHeader *header = static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(a->geometry->repEntry));
    std::memset(toon->vertexNormals, 0, toon->numVertices * sizeof(RwV3d));
    const RwV3d *positions = RwToonReadInstancedVertices(toon, header);
    ASSERT_NE(nullptr, positions);
    const RwMorphTarget *mt = RwGeometryGetMorphTarget(a->geometry, 0);
    for (RwInt32 v = 0; v < toon->numVertices; ++v) {
        ASSERT_EQ(mt->verts[v].y, positions[v].y);
        ASSERT_EQ(mt->normals[v].x, toon->vertexNormals[v].x);
    }
    ASSERT_GE(RwGeometryAddMorphTargets(a->geometry, 1), 1);
    std::memcpy(RwGeometryGetMorphTarget(a->geometry, 1)->verts, mt->verts, toon->numVertices * sizeof(RwV3d));
    Draw();
    EXPECT_TRUE(Near(Pixel(512 + 107, 384), Red));
}

// The normals the ink works out or reads back are kept in the toon data, which streams them: vertices
// or a pose at the ends of the finite range must leave only finite normals, so the geometry reads back.
TEST_F(ToonDevice, NormalsOfTheLargestFinitePositionsStayFiniteAndStreamBack)
{
    for (bool skinned : {false, true}) {
        SCOPED_TRACE(skinned);
        RwAtomic *a = Outlined(4.0f);
        RwGeometry *g = a->geometry;
        RwToonGeo *toon = RwToonGeometryGetToonGeo(g);
        if (skinned) {
            RwMatrix huge;
            RwMatrixSetIdentity(&huge);
            huge.right = {3.0e38f, 3.0e38f, 3.0e38f};
            huge.up = {-3.0e38f, -3.0e38f, -3.0e38f};
            RwSkinAtomicSetType(Skinned(a, huge), rwSKINTYPETOON);
        } else {
            RwV3d *verts = RwGeometryGetMorphTarget(g, 0)->verts;
            verts[0] = {3.0e38f, -3.0e38f, 3.0e38f};
            verts[1] = {-3.0e38f, 3.0e38f, -3.0e38f};
            toon->verticesChanged = TRUE;
        }
        Draw();
        EXPECT_TRUE(RwRealsFinite(&toon->triangleNormals[0].x, 3 * static_cast<RwUInt32>(toon->numTriangles)));
        EXPECT_TRUE(RwRealsFinite(&toon->vertexNormals[0].x, 3 * static_cast<RwUInt32>(toon->numVertices)));
        Bytes bytes = WrittenWith([g](RwStream *w) { return RwGeometryStreamWrite(g, w); });
        RwGeometry *back = ReadChunkWith(bytes, rwID_GEOMETRY, RwGeometryStreamRead);
        ASSERT_NE(nullptr, back);
        EXPECT_NE(nullptr, RwToonGeometryGetToonGeo(back));
        RwGeometryDestroy(back);
        TearDown();
        SetUp();
    }
}

TEST_F(ToonDevice, SkinnedToonAtomicInksWhereTheSkinMovedIt)
{
    // One bone moves the sphere 0.6 along x (left on the screen).
    RwMatrix moved;
    RwMatrixSetIdentity(&moved);
    moved.pos.x = 0.6f;
    RwAtomic *a = Skinned(Outlined(16.0f), moved);
    RwSkinAtomicSetType(a, rwSKINTYPETOON);
    ASSERT_EQ(rwSKINTYPETOON, RwSkinAtomicGetType(a));
    ASSERT_EQ(RwToonAtomicRenderCallBack, a->renderCallBack);
    Draw();
    // 0.6 / 5 of the half-width is about 61 pixels.
    EXPECT_TRUE(Near(Pixel(512 - 61, 384), White));
    EXPECT_TRUE(Near(Pixel(512 - 61 + 107, 384), Red));
    EXPECT_TRUE(Near(Pixel(512 + 107, 384), Blue));
}

// A bar standing up from the centre, its bone turning it a quarter turn onto its side (to the screen's right).
RwMatrix QuarterTurn()
{
    RwMatrix m;
    RwMatrixSetIdentity(&m);
    m.right = {0, 1, 0};
    m.up = {-1, 0, 0};
    return m;
}

TEST_F(ToonDevice, PosedSkinInksThePoseNotTheBindShape)
{
    // Toon skin type; its toon data read again after set-up (not marked skinned); back to the plain type with
    // the toon ink kept. The bar's front face is 4.75 away: turned, it reaches 216 pixels right and 20 up.
    for (int kind = 0; kind < 3; ++kind) {
        RwAtomic *a = Skinned(Inked(Box({0.25f, 1, 0.25f}, 1), 24.0f, 0.0f), QuarterTurn());
        RwSkinAtomicSetType(a, rwSKINTYPETOON);
        RwToonGeometryGetToonGeo(a->geometry)->skinned = kind != 1;
        if (kind == 2) {
            RwSkinAtomicSetType(a, rwSKINTYPEGENERIC);
        }
        Draw();
        // The surface lies along the turned bar (white painted, or lit dark by the plain pipeline).
        EXPECT_FALSE(Near(Pixel(512 + 150, 384), Blue)) << kind;
        EXPECT_TRUE(Near(Pixel(512, 384 - 100), Blue)) << kind;
        // Ink beyond its far end and its top edge; none where the standing bar's sides and top would be.
        EXPECT_TRUE(Near(Pixel(512 + 220, 384), Red)) << kind;
        EXPECT_TRUE(Near(Pixel(512 + 150, 384 - 24), Red)) << kind;
        EXPECT_TRUE(Near(Pixel(512 + 30, 384 - 100), Blue)) << kind;
        EXPECT_TRUE(Near(Pixel(512, 384 - 166), Blue)) << kind;
        TearDown();
        SetUp();
    }
}

TEST_F(ToonDevice, ReadBackFindsTheSkinInTheRotatingBuffers)
{
    // A plain skinned atomic with too many bones for the shader is skinned into the rotating buffers:
    // standing first, then turned, so the turned pose does not start the buffer.
    RwMatrix still;
    RwMatrixSetIdentity(&still);
    RwAtomic *a = Skinned(Inked(Box({0.25f, 1, 0.25f}, 1), 0.0f, 0.0f), still);
    a->renderCallBack = RwAtomicDefaultRenderCallBack;
    RwSkinAtomicSetType(a, rwSKINTYPEGENERIC);
    const RwD3D9SkinCaps saved = *RwD3D9SkinGetCaps();
    RwD3D9SkinGetCaps()->maxBones = 0;
    Draw();
    RwSkinAtomicGetHAnimHierarchy(a)->pMatrixArray[0] = QuarterTurn();
    Draw();
    *RwD3D9SkinGetCaps() = saved;
    ASSERT_EQ(rwD3D9SKINLAYOUTDYNAMIC, RwD3D9SkinAtomicGetLayout(a));
    RwD3D9InstanceHeader *header = static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(a->geometry->repEntry));
    const RwD3D9InstanceMesh *mesh = reinterpret_cast<const RwD3D9InstanceMesh *>(header + 1);
    ASSERT_GT(mesh->baseVertexIndex, mesh->minVertexIndex);
    RwToonGeo *toon = RwToonGeometryGetToonGeo(a->geometry);
    const RwV3d *positions = RwToonReadInstancedVertices(toon, header);
    ASSERT_NE(nullptr, positions);
    const RwV3d *bind = RwGeometryGetMorphTarget(a->geometry, 0)->verts;
    for (RwInt32 v = 0; v < toon->numVertices; ++v) {
        EXPECT_NEAR(-bind[v].y, positions[v].x, 1e-5f) << v;
        EXPECT_NEAR(bind[v].x, positions[v].y, 1e-5f) << v;
    }
}

TEST(ToonShaders, TokensAreWhatTheAssemblerMakes)
{
    const RwUInt32 *tokens[6] = {rwToonPaintShaderTokens[0], rwToonPaintShaderTokens[1], rwToonPaintShaderTokens[2],
                                 rwToonPaintShaderTokens[3], rwToonInkShaderTokens[0], rwToonInkShaderTokens[1]};
    for (int i = 0; i < 6; ++i) {
        ID3DXBuffer *code = nullptr;
        ASSERT_EQ(D3D_OK, D3DXAssembleShader(rwToonShaderText[i], static_cast<UINT>(std::strlen(rwToonShaderText[i])),
                                             nullptr, nullptr, 0, &code, nullptr));
        EXPECT_EQ(0, std::memcmp(code->GetBufferPointer(), tokens[i], code->GetBufferSize())) << i;
        code->Release();
    }
}

} // namespace

TEST_F(ToonDevice, SectorPipelinePaintsTheGround)
{
    RwWorld *world = ReadGroundWorld();
    ASSERT_NE(nullptr, world);
    RwWorldAddCamera(world, camera);
    RwWorldSector *sector = reinterpret_cast<RwWorldSector *>(world->rootSector);
    sector->pipeline = rwToonPipelines.sector;
    // Unlit and untextured: plain paint, the white texture factor over the blue clear.
    Draw();
    ASSERT_TRUE(RwCameraBeginUpdate(camera));
    RwD3D9SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    EXPECT_EQ(sector, RwWorldSectorDefaultRenderCallBack(sector));
    RwCameraEndUpdate(camera);
    EXPECT_TRUE(Near(Pixel(512, 700), White)) << std::hex << Pixel(512, 700);
    EXPECT_TRUE(Near(Pixel(512, 100), Blue)) << std::hex << Pixel(512, 100);
    RwWorldRemoveCamera(world, camera);
    RwWorldDestroy(world);
}
