// Engine cameras: projection from the field of view, look-at, screen projection, model files, after-image.
#include "engine_host.h"

#include <cmath>

#include "engine/CKivCamera.h"
#include "engine/CKivViewport.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/raster.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9readback.h"

namespace {

auto *const host = HostEngine();

CKivViewport *EngineViewport() { return HostedEngine<>::base->GetViewport(); }

const float kPi = 3.14159265f;

TEST(Camera, FieldOfViewChoosesProjectionAndViewWindow)
{
    const struct {
        float fov;
        int projection;
        float x, y;
    } rows[] = {{kPi / 2, rwPERSPECTIVE, 1.0f, 0.75f}, {0.0f, rwPARALLEL, 1.0f, 1.0f}, {-1.0f, rwPARALLEL, 1.0f, 1.0f}};
    for (const auto &r : rows) {
        CKivCamera camera("Scene");
        ASSERT_EQ(1, camera.Create(1.0f, 100.0f, r.fov, EngineViewport()));
        RwCamera *rw = camera.GetCamera();
        EXPECT_EQ(r.projection, rw->projectionType) << r.fov;
        EXPECT_NEAR(r.x, rw->viewWindow.x, 1e-5f);
        EXPECT_NEAR(r.y, rw->viewWindow.y, 1e-5f);
        EXPECT_EQ(EngineViewport()->GetRaster(), rw->frameBuffer);
        EXPECT_NE(nullptr, RwCameraGetFrame(rw));

        EXPECT_EQ(1, camera.SetViewport(nullptr));
        EXPECT_EQ(rwPARALLEL, rw->projectionType);
        EXPECT_EQ(nullptr, rw->frameBuffer);
        EXPECT_EQ(nullptr, rw->zBuffer);
        EXPECT_FLOAT_EQ(1.0f, rw->viewWindow.y);
    }
}

TEST(Camera, LookAtPlacesTheFrameAndProjectsPoints)
{
    CKivCamera camera;
    const RwV3d eye = {0, 0, -10}, target = {0, 0, 0}, up = {0, 1, 0};
    ASSERT_EQ(1, camera.CreateLookAt(&eye, &target, &up, 1.0f, 100.0f, kPi / 2, EngineViewport()));
    const RwMatrix *m = camera.GetLTM();
    ASSERT_NE(nullptr, m);
    EXPECT_NEAR(1.0f, m->right.x, 1e-5f);
    EXPECT_NEAR(1.0f, m->up.y, 1e-5f);
    EXPECT_NEAR(1.0f, m->at.z, 1e-5f);
    EXPECT_NEAR(-10.0f, m->pos.z, 1e-5f);

    const struct {
        RwV3d world, screen;
    } rows[] = {
        {{0, 0, 0}, {512, 384, 10}},
        {{5, 0, 0}, {256, 384, 10}},
        {{0, 5, 0}, {512, 640, 10}},
        {{0, 1, -20}, {512, 435.2f, -10}},   // behind: mirrored, negative depth
    };
    for (const auto &r : rows) {
        RwV3d out;
        camera.WorldToScreen(&out, &r.world);
        EXPECT_NEAR(r.screen.x, out.x, 1e-3f);
        EXPECT_NEAR(r.screen.y, out.y, 1e-3f);
        EXPECT_NEAR(r.screen.z, out.z, 1e-4f);
    }

    const RwV3d yAxis = {0, 1, 0};
    camera.SetRotation(&yAxis, 90.0f);   // keeps the position
    m = camera.GetWorldMatrix();
    EXPECT_NEAR(-10.0f, m->pos.z, 1e-5f);
    EXPECT_NEAR(0.0f, m->at.z, 1e-5f);

    // A parent frame's placement is undone: look-at is in world space.
    RwFrame *parent = RwFrameCreate();
    const RwV3d shift = {100, 0, 0};
    RwFrameTranslate(parent, &shift, rwCOMBINEREPLACE);
    RwFrameAddChild(parent, RwCameraGetFrame(camera.GetCamera()));
    ASSERT_EQ(1, camera.SetLookAt(&eye, &target, &up));
    EXPECT_NEAR(0.0f, camera.GetWorldMatrix()->pos.x, 1e-5f);
    RwFrameRemoveChild(RwCameraGetFrame(camera.GetCamera()));
    RwFrameDestroy(parent);
}

// A frame scaled later past any view (so small its inverse overflows, or to
// nothing) projects no point: the screen position is zero, never infinite or
// not a number.
TEST(Camera, AFrameScaledPastAViewProjectsNoPoint)
{
    CKivCamera camera;
    const RwV3d eye = {0, 0, -10}, target = {0, 0, 0}, up = {0, 1, 0};
    ASSERT_EQ(1, camera.CreateLookAt(&eye, &target, &up, 1.0f, 100.0f, kPi / 2, EngineViewport()));
    for (float scale : {1e-39f, 0.0f}) {
        const RwV3d s = {scale, scale, scale};
        RwFrameScale(RwCameraGetFrame(camera.GetCamera()), &s, rwCOMBINEPRECONCAT);
        RwV3d out;
        camera.WorldToScreen(&out, &target);
        EXPECT_EQ(0.0f, out.x) << scale;
        EXPECT_EQ(0.0f, out.y) << scale;
        EXPECT_EQ(0.0f, out.z) << scale;
        ASSERT_EQ(1, camera.SetLookAt(&eye, &target, &up));
        camera.WorldToScreen(&out, &target);
        EXPECT_NEAR(512.0f, out.x, 1e-3f) << scale;
    }
}

std::string CameraFile(float windowX)
{
    std::string body;
    for (float f : {windowX, windowX * 0.75f, 0.0f, 0.0f, 1.0f, 500.0f, 250.0f})
        PutF32(body, f);
    PutU32(body, rwPERSPECTIVE);
    return Chunk(0x05, Chunk(0x01, body) + Chunk(0x03, ""));
}

TEST(Camera, LoadReadsABareCameraChunk)
{
    const std::string file = CameraFile(0.5f);
    WriteFileBytes("camera.dff", file);
    CKivCamera camera;
    ASSERT_EQ(1, camera.Load("camera.dff"));
    RwCamera *rw = camera.GetCamera();
    ASSERT_NE(nullptr, rw);
    EXPECT_NE(nullptr, RwCameraGetFrame(rw));   // a bare chunk has none of its own
    EXPECT_FLOAT_EQ(500.0f, rw->farPlane);
    EXPECT_FLOAT_EQ(0.5f, rw->viewWindow.x);
    EXPECT_NEAR(2.0f * std::atan(0.5f), camera.GetFieldOfView(), 1e-5f);   // 4:3 needs no correction
    EXPECT_EQ(1, camera.SetViewport(EngineViewport()));
    EXPECT_EQ(1, camera.Load("camera.dff"));   // a second load replaces the first
    rw = camera.GetCamera();

    // Truncated, empty of cameras, missing: refused, the old camera kept.
    for (size_t cut = 0; cut < file.size(); cut += 3) {
        WriteFileBytes("cut.dff", file.substr(0, cut));
        EXPECT_EQ(0, camera.Load("cut.dff")) << cut;
    }
    WriteFileBytes("cut.dff", Chunk(0x12, std::string(24, '\0')));
    EXPECT_EQ(0, camera.Load("cut.dff"));
    EXPECT_EQ(0, camera.Load("absent.dff"));
    EXPECT_EQ(rw, camera.GetCamera());
}

// On a 16:9 viewport a camera file's field of view widens by (3/4) / (9/16);
// the view window and the screen projection follow the viewport's aspect,
// one unit the same number of pixels across and up.
TEST(Camera, LoadFitsTheFieldOfViewToAWideViewport)
{
    CKivBase *base = HostedEngine<>::base;
    CKivViewport *screen = base->GetViewport();
    CKivViewport wide;
    const RwRect band = {0, 96, 1024, 576};
    ASSERT_EQ(1, wide.CreateSubViewport(screen, &band, 1));
    WriteFileBytes("camera.dff", CameraFile(0.5f));
    CKivCamera camera;
    base->SetViewport(&wide);
    const int loaded = camera.Load("camera.dff");
    base->SetViewport(screen);
    ASSERT_EQ(1, loaded);
    ASSERT_EQ(1, camera.SetViewport(&wide));
    const float fov = 2.0f * std::atan(0.5f) * 0.75f / 0.5625f, t = std::tan(fov / 2);
    EXPECT_NEAR(fov, camera.GetFieldOfView(), 1e-5f);
    EXPECT_NEAR(t, camera.GetCamera()->viewWindow.x, 1e-5f);
    EXPECT_NEAR(0.5625f * t, camera.GetCamera()->viewWindow.y, 1e-5f);
    const RwV3d point = {1, 1, 10};
    RwV3d out;
    camera.WorldToScreen(&out, &point);
    EXPECT_NEAR(512.0f - 51.2f / t, out.x, 1e-3f);
    EXPECT_NEAR(288.0f + 51.2f / t, out.y, 1e-3f);
}

TEST(Camera, LoadTakesTheFirstCameraOfAModel)
{
    // The camera hangs two frames deep; the model's first child frame leads.
    // The clump walks its cameras newest first.
    WriteFileBytes("model.dff", ModelFile({{-1, 0, 0, 0}, {0, 0, 0, -10}, {1, 5, 0, 0}}, {},
                                          {{0, CameraFile(0.5f)}, {2, CameraFile(1.0f)}}));
    CKivCamera camera;
    ASSERT_EQ(1, camera.Load("model.dff"));
    ASSERT_NE(nullptr, camera.GetModel());
    EXPECT_FLOAT_EQ(1.0f, camera.GetCamera()->viewWindow.x);
    EXPECT_NEAR(kPi / 2, camera.GetFieldOfView(), 1e-5f);
    EXPECT_FLOAT_EQ(5.0f, camera.GetWorldMatrix()->pos.x);
    const RwMatrix *ltm = camera.GetLTM();
    EXPECT_FLOAT_EQ(0.0f, ltm->pos.x);
    EXPECT_FLOAT_EQ(-10.0f, ltm->pos.z);

    WriteFileBytes("model.dff", ModelFile({{-1, 0, 0, 0}}, {}, {}));
    EXPECT_EQ(0, camera.Load("model.dff"));   // a model without cameras
    EXPECT_NE(nullptr, camera.GetModel());
}

TEST(Camera, AfterImageBlendsTheCameraTextureOverTheFrame)
{
    CKivCamera camera;
    ASSERT_EQ(1, camera.Create(1.0f, 100.0f, kPi / 2, EngineViewport()));
    camera.DrawAfterImage();   // flag clear: nothing happens
    ASSERT_EQ(1, camera.SetRenderToTexture(1));
    EXPECT_EQ(EngineViewport()->GetTextureRaster(), camera.GetCamera()->frameBuffer);
    RwRGBA red = {255, 0, 0, 255}, blue = {0, 0, 255, 255};
    RwCameraClear(camera.GetCamera(), &red, rwCAMERACLEARIMAGE);
    camera.SetRenderToTexture(0);
    RwCameraClear(camera.GetCamera(), &blue, rwCAMERACLEARIMAGE | rwCAMERACLEARZ);
    camera.SetRenderToTexture(1);
    camera.SetAfterImageAlpha(102);   // 0.4
    camera.DrawAfterImage();
    EXPECT_EQ(EngineViewport()->GetRaster(), camera.GetCamera()->frameBuffer);
    const DWORD pixel = ReadPixel(rwD3D9Driver.device, rwD3D9Driver.defaultColorSurface, 500, 300);
    EXPECT_NEAR(102, static_cast<int>(pixel >> 16 & 0xFF), 4) << std::hex << pixel;
    EXPECT_NEAR(0, static_cast<int>(pixel >> 8 & 0xFF), 4);
    EXPECT_NEAR(153, static_cast<int>(pixel & 0xFF), 4);

    CKivViewport plain;
    ASSERT_EQ(1, plain.Create(HostWindow(), 64, 64, 0, 0));
    camera.SetViewport(&plain);
    EXPECT_EQ(0, camera.SetRenderToTexture(1));   // no camera texture to render to
    camera.SetViewport(EngineViewport());
}

} // namespace
