// Tests of the 2D toolkit on the stand-in driver: mapping, stack, paths, brushes, objects and fonts.
#include <cmath>
#include <string>
#include <vector>

#include "gfx/plugins/toolkit2d/font2d.h"
#include "toolkit2dtestutil.h"

namespace {

using Toolkit = ToolkitTest;

TEST_F(Toolkit, MetricMapsOneUnitToOnePixelFromTheBottomLeft)
{
    RwV2d xs, ys, origin;
    ASSERT_TRUE(Rw2dDeviceGetStep(&xs, &ys, &origin));
    EXPECT_NEAR(xs.x, 1.0f, 1e-4f);
    EXPECT_NEAR(xs.y, 0.0f, 1e-4f);
    EXPECT_NEAR(ys.x, 0.0f, 1e-4f);
    EXPECT_NEAR(ys.y, 1.0f, 1e-4f);
    EXPECT_NEAR(origin.x, 0.0f, 1e-3f);
    EXPECT_NEAR(origin.y, 0.0f, 1e-3f);
    EXPECT_NEAR(Rw2dDeviceGetFlatTolerance(), 0.25f, 1e-4f);
    // A new device camera records the default metric but keeps the mapping.
    RwReal w, h;
    ASSERT_TRUE(Rw2dDeviceSetCamera(camera));
    Rw2dDeviceGetMetric(nullptr, nullptr, &w, &h);
    EXPECT_NEAR(w, 4.0f / 3.0f, 1e-5f);
    EXPECT_EQ(h, 1.0f);
    Rw2dDeviceGetStep(&xs, nullptr, nullptr);
    EXPECT_NEAR(xs.x, 1.0f, 1e-4f);
    RwCamera *bare = RwCameraCreate();
    EXPECT_FALSE(Rw2dDeviceSetCamera(bare));
    EXPECT_EQ(Rw2dDeviceGetCamera(), camera);
    RwCameraDestroy(bare);
}

TEST_F(Toolkit, StackTakesThirtyOnePushesAndMetricLeavesAFullStackAsItWas)
{
    for (int i = 0; i < 31; i++)
        ASSERT_TRUE(Rw2dCTMPush()) << i;
    Rw2dCTMTranslate(5, 7);
    EXPECT_FALSE(Rw2dCTMPush());
    EXPECT_FALSE(Rw2dCTMPushConcat(nullptr));
    EXPECT_EQ(Rw2dCTMGetDepth(), 31);
    ASSERT_TRUE(Rw2dDeviceSetMetric(0, 0, 640, 480));
    EXPECT_EQ(Rw2dCTMGetDepth(), 31);
    EXPECT_EQ(Rw2dCTMRead()->pos.x, 5.0f);
    EXPECT_EQ(Rw2dCTMRead()->pos.y, 7.0f);
    while (Rw2dCTMPop()) {
    }
    EXPECT_EQ(Rw2dCTMGetDepth(), 0);
}

TEST_F(Toolkit, RectangleNormalsAndCornerMiters)
{
    Rw2dPath *path = Rw2dPathCreate();
    Rw2dPathMoveto(path, 0, 0);
    Rw2dPathLineto(path, 100, 0);
    RwInt32 n;
    Rw2dSegment *s = Rw2dPathGetSegments(path, &n);
    EXPECT_EQ(s[1].nx, 0.0f);
    EXPECT_EQ(s[1].ny, -1.0f);
    Rw2dPathLineto(path, 100, 50);
    Rw2dPathLineto(path, 0, 50);
    Rw2dPathClosepath(path);
    s = Rw2dPathGetSegments(path, &n);
    ASSERT_EQ(n, 5);
    const float corners[5][4] = {{0, 0, -1, -1}, {100, 0, 1, -1}, {100, 50, 1, 1}, {0, 50, -1, 1}, {0, 0, -1, -1}};
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(s[i].x, corners[i][0]);
        EXPECT_EQ(s[i].y, corners[i][1]);
        EXPECT_NEAR(s[i].nx, corners[i][2], 1e-6f) << i;
        EXPECT_NEAR(s[i].ny, corners[i][3], 1e-6f) << i;
    }
    EXPECT_EQ(path->closed, 1);
    EXPECT_EQ(s[4].distance, 300.0f);
    Rw2dPathDestroy(path);
    EXPECT_LE(Leaked(), 0);
}

TEST_F(Toolkit, DegeneratePathsGiveFiniteVertices)
{
    Rw2dBrush *brush = Rw2dBrushCreate();
    const RwRGBA red = {255, 0, 0, 255}, blue = {0, 0, 255, 255};
    Rw2dBrushSetRGBA(brush, &red, &blue, &blue, &red);
    Rw2dPath *paths[4] = {Rw2dPathRect(Rw2dPathCreate(), 10, 10, 0, 20), Rw2dPathRect(Rw2dPathCreate(), 10, 10, 0, 0),
                          Rw2dPathCreate(), Rw2dPathCreate()};
    // Turning back on itself; a line and a curve with no first point.
    Rw2dPathMoveto(paths[2], 0, 0);
    Rw2dPathLineto(paths[2], 10, 0);
    Rw2dPathLineto(paths[2], 0, 0);
    Rw2dPathLineto(paths[2], 0, 0);
    Rw2dPathLineto(paths[3], 5, 5);
    Rw2dPathCurveto(paths[3], 5, 5, 5, 5, 5, 5);
    Rw2dPathClosepath(paths[3]);
    for (Rw2dPath *p : paths) {
        Rw2dPathUnlock(p);
        Rw2dPathFill(p, brush);
        Rw2dPathStroke(p, brush);
        Rw2dPathDestroy(p);
    }
    ASSERT_FALSE(Batches.empty());
    for (const auto &batch : Batches)
        for (const Recorded &v : batch)
            EXPECT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.u) && std::isfinite(v.v));
    Rw2dBrushDestroy(brush);
    EXPECT_LE(Leaked(), 0);
}

TEST_F(Toolkit, CurvesFlattenToOneLineOrAtMostOneHundredTwentyEight)
{
    const struct {
        float c[6];
        RwInt32 lines;
    } cases[] = {{{10, 0, 20, 0, 30, 0}, 1}, {{1e6f, 1e6f, -1e6f, 1e6f, 30, 0}, 128}};
    for (const auto &c : cases) {
        Rw2dPath *path = Rw2dPathCreate();
        Rw2dPathMoveto(path, 0, 0);
        Rw2dPathCurveto(path, c.c[0], c.c[1], c.c[2], c.c[3], c.c[4], c.c[5]);
        Rw2dPath *flat = Rw2dPathFlatten(Rw2dPathGetScratch(), path);
        RwInt32 n;
        Rw2dPathGetSegments(flat, &n);
        EXPECT_EQ(n - 1, c.lines);
        Rw2dPathDestroy(path);
    }
}

TEST_F(Toolkit, FillPutsUVsAndColoursOnTheRightCorners)
{
    Rw2dPath *path = Rw2dPathUnlock(Rw2dPathRect(Rw2dPathCreate(), 0, 0, 100, 50));
    Rw2dBrush *brush = Rw2dBrushCreate();
    const RwV2d uv1 = {0, 1}, uv2 = {1, 1}, uv3 = {1, 0}, uv4 = {0, 0};
    Rw2dBrushSetUV(brush, &uv1, &uv2, &uv3, &uv4);
    Rw2dObject *shape = Rw2dShapeCreate();
    Rw2dShapeAddNode(shape, 1, path, brush);
    const RwRGBAReal half = {1, 1, 1, 0.5f};
    Rw2dObjectSetColorMultiplier(shape, &half);
    Rw2dShapeRender(shape);
    ASSERT_EQ(Batches.size(), 1u);
    EXPECT_EQ(BatchFlags[0] & (rwIM3D_VERTEXUV | rwIM3D_NOCLIP), 0u) << "no texture, clipped";
    for (const Recorded &v : Batches[0]) {
        // Screen y grows downward: 2D y = 50 is screen row 430.
        EXPECT_NEAR(v.v, v.y < 440 ? 0.0f : 1.0f, 1e-6f) << v.y;
        EXPECT_NEAR(v.u, v.x < 50 ? 0.0f : 1.0f, 1e-6f) << v.x;
        EXPECT_EQ(v.colour, 0x7FFFFFFFu);
        EXPECT_TRUE(std::fabs(v.y - 480.0f) < 0.01f || std::fabs(v.y - 430.0f) < 0.01f) << v.y;
    }
    // The brush is shared: the creator's release leaves it with the shape.
    EXPECT_FALSE(Rw2dBrushDestroy(brush));
    EXPECT_EQ(brush->refCount, 1);
    EXPECT_EQ(brush->flat.alpha, 255) << "colours are put back after drawing";
    // An open sub-path is not filled.
    Rw2dPath *open = Rw2dPathCreate();
    Rw2dPathMoveto(open, 0, 0);
    Rw2dPathLineto(open, 10, 0);
    Rw2dPathLineto(open, 10, 10);
    Batches.clear();
    Rw2dPathFill(Rw2dPathUnlock(open), brush);
    EXPECT_TRUE(Batches.empty());
    Rw2dPathDestroy(open);
    EXPECT_TRUE(Rw2dObjectDestroy(shape));
    EXPECT_LE(Leaked(), 0);
}

TEST_F(Toolkit, GradientKeepsItsSlopeUnderTheIdentityTransform)
{
    Rw2dBrush *brush = Rw2dBrushCreate();
    const RwRGBA dark = {0, 0, 0, 255}, light = {200, 200, 200, 255};
    Rw2dBrushSetRGBA(brush, &dark, &light, &light, &dark);
    const RwRGBAReal one = {1, 1, 1, 1}, none = {0, 0, 0, 0};
    Rw2dBrushApplyColorTransform(brush, &one, &none);
    EXPECT_EQ(brush->deltaA.red, 200.0f);
    const RwRGBA falling = {200, 0, 0, 255}, floor = {0, 0, 0, 255};
    Rw2dBrushSetRGBA(brush, &falling, &floor, &floor, &falling);
    Rw2dBrushApplyColorTransform(brush, &one, &none);
    EXPECT_EQ(brush->deltaB.red, -200.0f);
    EXPECT_TRUE(Rw2dBrushDestroy(brush));
}

TEST_F(Toolkit, LongFillContinuesItsStripWithoutAGap)
{
    Rw2dPath *path = Rw2dPathCreate();
    for (int i = 0; i < 600; i++) {
        const float a = 6.2831853f * i / 600;
        i == 0 ? Rw2dPathMoveto(path, 320 + 100 * std::cos(a), 240 + 100 * std::sin(a))
               : Rw2dPathLineto(path, 320 + 100 * std::cos(a), 240 + 100 * std::sin(a));
    }
    Rw2dPathClosepath(path);
    Rw2dBrush *brush = Rw2dBrushCreate();
    Rw2dPathFill(Rw2dPathUnlock(path), brush);
    ASSERT_GE(Batches.size(), 3u);
    size_t total = 0;
    for (size_t b = 0; b < Batches.size(); b++) {
        EXPECT_LE(Batches[b].size(), 254u);
        total += Batches[b].size();
        if (b > 0) {
            const auto &prev = Batches[b - 1];
            EXPECT_EQ(Batches[b][0].x, prev[prev.size() - 2].x);
            EXPECT_EQ(Batches[b][1].y, prev[prev.size() - 1].y);
        }
    }
    EXPECT_EQ(total, 601u + 2 * (Batches.size() - 1));
    Rw2dPathDestroy(path);
    Rw2dBrushDestroy(brush);
}

TEST_F(Toolkit, ScenesOwnInlineChildrenAndRefuseLoops)
{
    Rw2dObject *scene = Rw2dSceneCreate();
    Rw2dObject *inner = Rw2dSceneCreate();
    Rw2dBrush *brush = Rw2dBrushCreate();
    Rw2dObject *shapes[3];
    for (int i = 0; i < 3; i++) {
        shapes[i] = Rw2dShapeCreate();
        Rw2dShapeAddNode(shapes[i], 1, Rw2dPathUnlock(Rw2dPathRect(Rw2dPathCreate(), 10.0f * i, 0, 5, 5)), brush);
        ASSERT_EQ(Rw2dSceneAddChild(i == 2 ? inner : scene, shapes[i]), i == 2 ? inner : scene);
    }
    EXPECT_EQ(Rw2dSceneAddChild(scene, shapes[0]), nullptr);
    EXPECT_EQ(Rw2dSceneAddChild(scene, scene), nullptr);
    ASSERT_EQ(Rw2dSceneAddChild(scene, inner), scene);
    EXPECT_EQ(Rw2dSceneAddChild(inner, scene), nullptr);
    ASSERT_EQ(Rw2dSceneUnlock(inner), inner);
    ASSERT_EQ(Rw2dSceneUnlock(scene), scene);
    Rw2dObjectTranslate(scene, 100, 0);
    Rw2dSceneRender(scene);
    ASSERT_EQ(Batches.size(), 3u);
    // Insertion order: x = 0, 10, then the inner scene's 20, all moved with the scene.
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(Batches[i][1].x, 100 + 10.0f * i, 1e-2f);
    Rw2dBrushDestroy(brush);
    EXPECT_TRUE(Rw2dSceneDestroy(scene));
    EXPECT_LE(Leaked(), 0);
    // The object free list still hands out distinct records.
    Rw2dObject *a = Rw2dObjectAlloc(), *b = Rw2dObjectAlloc();
    EXPECT_NE(a, b);
    Rw2dObjectFree(a);
    Rw2dObjectFree(b);
}

TEST_F(Toolkit, DeepNestingDrawsWhatFitsAndLeavesTheStack)
{
    Rw2dBrush *brush = Rw2dBrushCreate();
    Rw2dObject *leaf = Rw2dShapeCreate();
    Rw2dShapeAddNode(leaf, 1, Rw2dPathUnlock(Rw2dPathRect(Rw2dPathCreate(), 0, 0, 5, 5)), brush);
    Rw2dObject *top = leaf;
    for (int i = 0; i < 40; i++) {
        Rw2dObject *s = Rw2dSceneCreate();
        Rw2dSceneAddChild(s, top);
        top = s;
    }
    Rw2dCTMPush();
    Rw2dSceneRender(top);
    EXPECT_EQ(Rw2dCTMGetDepth(), 1);
    EXPECT_TRUE(Batches.empty());
    Rw2dCTMPop();
    EXPECT_TRUE(Rw2dSceneDestroy(top));
    Rw2dBrushDestroy(brush);
    EXPECT_LE(Leaked(), 0);
}

TEST_F(Toolkit, RenderReusesTheCachedMatrixAndPickRegionsKeepTheStack)
{
    Rw2dObject *region = Rw2dPickRegionCreate(Rw2dPathUnlock(Rw2dPathRect(Rw2dPathCreate(), 0, 0, 10, 10)));
    Rw2dObjectTranslate(region, 100, 0);
    Rw2dObjectRender(region, nullptr, nullptr);
    const RwV2d in = {105, 5}, out = {5, 5};
    EXPECT_TRUE(Rw2dPickRegionIsPointIn(region, &in));
    EXPECT_FALSE(Rw2dPickRegionIsPointIn(region, &out));
    Rw2dCTMPush();
    Rw2dCTMTranslate(50, 0);
    Rw2dObjectRender(region, nullptr, nullptr);
    EXPECT_EQ(region->absMatrix.pos.x, 100.0f) << "no matrix-changed bit: the first render's matrix";
    Rw2dCTMPop();
    EXPECT_TRUE(Batches.empty());
    Rw2dObjectSetVisible(region, 2);
    EXPECT_EQ(region->flags & rw2DOBJECTFLAGVISIBLE, 0u);
    EXPECT_TRUE(Rw2dObjectDestroy(region));
    EXPECT_LE(Leaked(), 0);
}

} // namespace

::testing::Environment *const engineEnvironment = ::testing::AddGlobalTestEnvironment(new TextureEnvironment());
