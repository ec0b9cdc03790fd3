#include <gtest/gtest.h>

#include <cmath>

#include "counting_extension.h"
#include "gfx/core/camera.h"
#include "gfx/core/finite.h"
#include "gfx/core/vector.h"
#include "gfx/core/raster.h"
#include "matrix_reference.h"
#include "started_engine.h"
#include "support/stream_bytes.h"

namespace {

const RwUInt32 kExtensionID = 0xCA11;

void RegisterExtension()
{
    counting::offset = RwCameraRegisterPlugin(4, kExtensionID, counting::Construct, counting::Destruct, nullptr);
    RwCameraRegisterPluginStream(kExtensionID, counting::Read, nullptr, nullptr);
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(RegisterExtension));

class Camera : public ::testing::Test {
protected:
    void SetUp() override
    {
        RwTestDriverReset();
        counting::Reset();
        TakeError();
    }
    void TearDown() override
    {
        RwTestDriverReset();
        RwFrameSyncDirtyList();
        EXPECT_EQ(0, counting::live) << "cameras leaked";
        TakeError();
    }
};

// A camera on a frame turned and moved away from the origin, with the given
// projection, view window, offset and clip distances, synced.
struct Rig {
    RwCamera *camera;
    RwFrame *frame;
    RefMatrix world = RefRotation({1, 2, 3}, 40, {5, -2, 7});

    Rig(RwCameraProjection projection, RwV2d window, RwV2d offset, RwReal nearClip, RwReal farClip)
    {
        camera = RwCameraCreate();
        frame = RwFrameCreate();
        const RwMatrix m = MakeMatrix(world, 3);
        RwFrameTransform(frame, &m, rwCOMBINEREPLACE);
        RwCameraSetFrame(camera, frame);
        RwCameraSetProjection(camera, projection);
        RwCameraSetViewWindow(camera, &window);
        RwCameraSetViewOffset(camera, &offset);
        RwCameraSetNearClipPlane(camera, nearClip);
        RwCameraSetFarClipPlane(camera, farClip);
        RwFrameSyncDirtyList();
    }
    ~Rig()
    {
        RwCameraDestroy(camera);
        RwFrameDestroy(frame);
    }
};

// Window, reciprocals, offset, near, far and fog as stored, and projection.
void ExpectCameraValues(const RwCamera *c, const RwReal (&expected)[9], RwInt32 projection)
{
    const RwReal stored[9] = {c->viewWindow.x, c->viewWindow.y, c->recipViewWindow.x, c->recipViewWindow.y,
                              c->viewOffset.x, c->viewOffset.y, c->nearPlane,        c->farPlane, c->fogPlane};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(expected[i], stored[i]) << i;
    }
    EXPECT_EQ(projection, c->projectionType);
}

TEST_F(Camera, NewCameraDefaultsAndSetters)
{
    RwCamera *c = RwCameraCreate();
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(1, counting::live);
    ExpectCameraValues(c, {1, 1, 1, 1, 0, 0, 0.05f, 10, 5}, rwPERSPECTIVE);
    EXPECT_EQ(nullptr, RwCameraShowRaster(c, nullptr, 0));   // no frame buffer yet

    const RwV2d w = {0.5f, 0.25f};
    EXPECT_EQ(c, RwCameraSetViewWindow(c, &w));
    ExpectCameraValues(c, {0.5f, 0.25f, 2, 4, 0, 0, 0.05f, 10, 5}, rwPERSPECTIVE);
    for (RwInt32 bad : {3, 0}) {
        EXPECT_EQ(nullptr, RwCameraSetProjection(c, static_cast<RwCameraProjection>(bad)));
        EXPECT_EQ(0x80000003u, TakeErrorCode());
        EXPECT_EQ(rwPERSPECTIVE, c->projectionType);
    }

    // Every setter queues the camera's frame so that the frustum is rebuilt.
    RwFrame *f = RwFrameCreate();
    RwCameraSetFrame(c, f);
    using Setter = void (*)(RwCamera *);
    const Setter setters[] = {
        [](RwCamera *cam) { RwCameraSetViewWindow(cam, &cam->viewWindow); },
        [](RwCamera *cam) { RwCameraSetViewOffset(cam, &cam->viewOffset); },
        [](RwCamera *cam) { RwCameraSetNearClipPlane(cam, 0.5f); },
        [](RwCamera *cam) { RwCameraSetFarClipPlane(cam, 50.0f); },
        [](RwCamera *cam) { RwCameraSetProjection(cam, rwPARALLEL); },
    };
    for (Setter s : setters) {
        RwFrameSyncDirtyList();
        s(c);
        EXPECT_TRUE(RwFrameIsDirty(f));
    }
    EXPECT_TRUE(RwCameraDestroy(c));
    EXPECT_TRUE(RwLinkListEmpty(&f->objectList));
    RwFrameDestroy(f);
}

TEST_F(Camera, DepthRangeMapsClipDistancesJustInsideTheZBuffer)
{
    RwCamera *c = RwCameraCreate();
    RwDevice &device = RwEngineInstance->dOpenDevice;
    ASSERT_EQ(0.0f, device.zBufferNear);
    ASSERT_EQ(1.0f, device.zBufferFar);
    const struct {
        RwCameraProjection projection;
        RwReal nearClip, farClip, z0, z1;
    } cases[] = {
        {rwPERSPECTIVE, 0.05f, 10, 0, 1}, {rwPERSPECTIVE, 1, 100, 0, 1}, {rwPARALLEL, 1, 100, 0, 1},
        {rwPERSPECTIVE, 1, 100, 10, 20},  {rwPARALLEL, 0, 100, 10, 20},
    };
    for (const auto &k : cases) {
        device.zBufferNear = k.z0;
        device.zBufferFar = k.z1;
        RwCameraSetNearClipPlane(c, k.nearClip);
        RwCameraSetFarClipPlane(c, k.farClip);
        RwCameraSetProjection(c, k.projection);
        const bool persp = k.projection == rwPERSPECTIVE;
        const double n = persp ? 1.0 / k.nearClip : k.nearClip, f = persp ? 1.0 / k.farClip : k.farClip;
        const double delta = (k.z1 - k.z0) * 0.0001;
        EXPECT_NEAR(k.z0 + delta, c->zScale * n + c->zShift, 1e-4 * (k.z1 - k.z0)) << k.nearClip << k.z0;
        EXPECT_NEAR(k.z1 - delta, c->zScale * f + c->zShift, 1e-4 * (k.z1 - k.z0)) << k.farClip << k.z0;
    }
    device.zBufferNear = 0.0f;
    device.zBufferFar = 1.0f;
    RwCameraSetNearClipPlane(c, 100.0f);   // equal to far: still finite
    EXPECT_TRUE(std::isfinite(c->zScale) && std::isfinite(c->zShift));
    RwCameraDestroy(c);
}

TEST_F(Camera, FramelessCameraLooksDownZWithCornersInWindowOrder)
{
    RwCamera *c = RwCameraCreate();
    RwCameraSetNearClipPlane(c, 1.0f);
    const RwV2d w = {2, 1};
    RwCameraSetViewWindow(c, &w);
    RwCameraSync(&c->object);
    const RefV3 corners[8] = {{2, 1, 1},     {-2, 1, 1},     {-2, -1, 1},     {2, -1, 1},
                              {20, 10, 10}, {-20, 10, 10}, {-20, -10, 10}, {20, -10, 10}};
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(NearV3(corners[i], Ref(c->frustumCorners[i]), 1e-5)) << i;
    }
    EXPECT_TRUE(NearV3({20, 10, 10}, Ref(c->frustumBoundBox.sup), 1e-5));
    EXPECT_TRUE(NearV3({-20, -10, 1}, Ref(c->frustumBoundBox.inf), 1e-5));
    // Normals point out of the frustum (far, near, -x, +y, +x, -y); the corner
    // selectors are 1 where a normal's component is not negative.
    const RefV3 normals[6] = {{0, 0, 1}, {0, 0, -1}, {-1, 0, -2}, {0, 1, -1}, {1, 0, -2}, {0, -1, -1}};
    for (int i = 0; i < 6; ++i) {
        const RwFrustumPlane &p = c->frustumPlanes[i];
        EXPECT_TRUE(NearV3(RefScale(normals[i], 1 / std::sqrt(RefDot(normals[i], normals[i]))), Ref(p.plane.normal),
                           1e-3)) << i;
        EXPECT_EQ(normals[i].x >= 0, p.closestX) << i;
        EXPECT_EQ(normals[i].y >= 0, p.closestY) << i;
        EXPECT_EQ(normals[i].z >= 0, p.closestZ) << i;
    }

    const struct {
        RwSphere sphere;
        RwFrustumTestResult result;
    } spheres[] = {
        {{{0, 0, 11}, 1}, rwSPHEREBOUNDARY},   // exactly its radius beyond the far plane
        {{{0, 0, 10}, 1}, rwSPHEREBOUNDARY},
        {{{0, 0, 11.5f}, 1}, rwSPHEREOUTSIDE},
        {{{0, 0, 5}, 0.1f}, rwSPHEREINSIDE},
        {{{0, 0, -1}, 0.5f}, rwSPHEREOUTSIDE},
    };
    for (const auto &s : spheres) {
        EXPECT_EQ(s.result, RwCameraFrustumTestSphere(c, &s.sphere)) << s.sphere.center.z;
    }
    RwCameraDestroy(c);
}

// Positive inside the view volume, in camera space: rays from the apex
// (-o.x, o.y, 0) through (+-w.x, +-w.y, 1) for a perspective camera; boxes of
// half size w around (-o.x (1 - z), o.y (1 - z)) for a parallel one.
double InsideMargin(const RwCamera *c, RefV3 p)
{
    const double scale = c->projectionType == rwPERSPECTIVE ? p.z : 1.0;
    const double cx = p.x + c->viewOffset.x * (1 - p.z), cy = p.y - c->viewOffset.y * (1 - p.z);
    return std::min(std::min(p.z - c->nearPlane, c->farPlane - p.z),
                    std::min(scale * c->viewWindow.x - std::fabs(cx), scale * c->viewWindow.y - std::fabs(cy)));
}

TEST_F(Camera, FrustumSeparatesPointsLikeTheReferenceVolume)
{
    const Rig rigs[2] = {{rwPERSPECTIVE, {0.6f, 0.45f}, {0.2f, -0.1f}, 0.5f, 20},
                         {rwPARALLEL, {3, 2}, {0.5f, 0.25f}, 1, 15}};
    for (const Rig &rig : rigs) {
        const RwCamera *c = rig.camera;
        auto expectSide = [&](RefV3 p, RwFrustumTestResult expected, const char *what) {
            const RwSphere s = {MakeV3(RefTransformPoint(p, rig.world)), expected == rwSPHEREINSIDE ? 0.001f : 0.0f};
            EXPECT_EQ(expected, RwCameraFrustumTestSphere(c, &s))
                << what << " " << p.x << " " << p.y << " " << p.z << " projection " << c->projectionType;
        };
        // Just inside and just outside the centre of each face.
        const double n = c->nearPlane, f = c->farPlane, mid = (n + f) / 2, eps = 0.02;
        const double s = c->projectionType == rwPERSPECTIVE ? mid : 1.0;
        const double ox = c->viewOffset.x, oy = c->viewOffset.y;
        const double sx = s * c->viewWindow.x, sy = s * c->viewWindow.y;
        const RefV3 faces[6][2] = {
            {{-ox * (1 - f), oy * (1 - f), f - eps}, {0, 0, 2 * eps}},
            {{-ox * (1 - n), oy * (1 - n), n + eps}, {0, 0, -2 * eps}},
            {{-ox * (1 - mid) - sx + eps, oy * (1 - mid), mid}, {-2 * eps, 0, 0}},
            {{-ox * (1 - mid), oy * (1 - mid) + sy - eps, mid}, {0, 2 * eps, 0}},
            {{-ox * (1 - mid) + sx - eps, oy * (1 - mid), mid}, {2 * eps, 0, 0}},
            {{-ox * (1 - mid), oy * (1 - mid) - sy + eps, mid}, {0, -2 * eps, 0}},
        };
        for (const auto &face : faces) {
            ASSERT_GT(InsideMargin(c, face[0]), 0.0);
            ASSERT_LT(InsideMargin(c, RefAdd(face[0], face[1])), 0.0);
            expectSide(face[0], rwSPHEREINSIDE, "face");
            expectSide(RefAdd(face[0], face[1]), rwSPHEREOUTSIDE, "face");
        }
        // Points scattered around the volume, away from its boundary.
        RwUInt32 seed = 12345;
        auto rnd = [&seed](double lo, double hi) {
            seed = seed * 1664525u + 1013904223u;
            return lo + (hi - lo) * ((seed >> 8) / 16777216.0);
        };
        const double spanX = (c->projectionType == rwPERSPECTIVE ? f : 1.0) * c->viewWindow.x + std::fabs(ox) * f + 1;
        const double spanY = (c->projectionType == rwPERSPECTIVE ? f : 1.0) * c->viewWindow.y + std::fabs(oy) * f + 1;
        int counts[2] = {0, 0};
        for (int i = 0; i < 4000; ++i) {
            const RefV3 p = {rnd(-spanX, spanX), rnd(-spanY, spanY), rnd(-1, f + 1)};
            const double margin = InsideMargin(c, p);
            if (std::fabs(margin) >= 0.02) {
                ++counts[margin > 0];
                expectSide(p, margin > 0 ? rwSPHEREINSIDE : rwSPHEREOUTSIDE, "scattered");
            }
        }
        EXPECT_GT(counts[0], 100);
        EXPECT_GT(counts[1], 100);
    }
}

TEST_F(Camera, ViewMatrixMapsTheWindowToTheUnitSquare)
{
    for (RwCameraProjection projection : {rwPERSPECTIVE, rwPARALLEL}) {
        const Rig rig(projection, {0.8f, 0.5f}, {0.3f, 0.2f}, 2, 12);
        const RefV3 screen[4] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
        for (int i = 0; i < 8; ++i) {
            RefV3 v = RefTransformPoint(Ref(rig.camera->frustumCorners[i]), Ref(rig.camera->viewMatrix));
            if (projection == rwPERSPECTIVE) {
                v = {v.x / v.z, v.y / v.z, v.z};
            }
            const RefV3 expected = {screen[i % 4].x, screen[i % 4].y, i < 4 ? 2.0 : 12.0};
            EXPECT_TRUE(NearV3(expected, v, 1e-4)) << projection << " corner " << i;
        }
        EXPECT_EQ(0u, rig.camera->viewMatrix.flags & 0x20000);
    }
}

RwCamera *seenCurrent = nullptr;
bool seenDirtyListEmpty = false;
RwBool RecordBegin(void *, void *inOut, RwInt32)
{
    seenCurrent = RwEngineInstance->curCamera;
    seenDirtyListEmpty = RwLinkListEmpty(&RwEngineInstance->dirtyFrameList);
    return inOut != nullptr;
}

TEST_F(Camera, BeginUpdateSyncsMovedFramesBeforeTheDriverAndEndClearsCurrent)
{
    const Rig rig(rwPERSPECTIVE, {1, 1}, {0, 0}, 0.05f, 10);
    RwCamera *c = rig.camera;
    const RwV3d before = c->frustumCorners[0];
    const RwV3d t = {0, 0, 100};
    RwFrameTranslate(rig.frame, &t, rwCOMBINEPOSTCONCAT);
    RwTestDriverSetStandardFunction(rwSTANDARDCAMERABEGINUPDATE, RecordBegin);
    EXPECT_EQ(c, RwCameraBeginUpdate(c));
    EXPECT_EQ(c, seenCurrent);
    EXPECT_TRUE(seenDirtyListEmpty);
    EXPECT_FLOAT_EQ(before.z + 100, c->frustumCorners[0].z);
    ASSERT_EQ(1, RwTestDriverGetStandardCount(rwSTANDARDCAMERABEGINUPDATE));
    const RwTestDriverStandardCall *call = RwTestDriverGetStandardLog(0);
    EXPECT_EQ(nullptr, call->out);
    EXPECT_EQ(c, call->inOut);
    EXPECT_EQ(0, call->in);
    EXPECT_EQ(c, RwCameraEndUpdate(c));
    EXPECT_EQ(nullptr, RwEngineInstance->curCamera);
    EXPECT_EQ(1, RwTestDriverGetStandardCount(rwSTANDARDCAMERAENDUPDATE));

    // Refusals by the driver fail the bracket.
    RwTestDriverReset();
    RwTestDriverSetStandardResult(rwSTANDARDCAMERABEGINUPDATE, FALSE);
    EXPECT_EQ(nullptr, RwCameraBeginUpdate(c));
    EXPECT_EQ(nullptr, RwEngineInstance->curCamera);
    RwTestDriverSetStandardResult(rwSTANDARDCAMERABEGINUPDATE, TRUE);
    ASSERT_EQ(c, RwCameraBeginUpdate(c));
    RwTestDriverSetStandardResult(rwSTANDARDCAMERAENDUPDATE, FALSE);
    EXPECT_EQ(nullptr, RwCameraEndUpdate(c));
    EXPECT_EQ(c, RwEngineInstance->curCamera);
    RwCamera *other = RwCameraCreate();
    ASSERT_EQ(other, RwCameraBeginUpdate(other));
    RwCameraDestroy(other);   // destroying the current camera clears it
    EXPECT_EQ(nullptr, RwEngineInstance->curCamera);
}

// Camera struct: window, offset, near, far, fog, projection, any extra bytes;
// then the extension chunk with the counting extension's word (none for 0).
Bytes CameraChunk(std::initializer_list<float> reals, RwInt32 projection, RwInt32 word = 0, RwUInt32 extra = 0,
                  RwUInt32 stamp = 0x1C020055)
{
    Bytes b;
    PutHeader(b, 1, 4 * static_cast<RwUInt32>(reals.size()) + 4 + extra, stamp);
    PutReals(b, reals);
    Put32(b, static_cast<RwUInt32>(projection));
    b.insert(b.end(), extra, 0xEE);
    PutHeader(b, 3, word ? 16 : 0);
    if (word) {
        PutHeader(b, kExtensionID, 4);
        Put32(b, static_cast<RwUInt32>(word));
    }
    return b;
}

// A frame scaled past what a view can be built from (or to nothing) leaves
// its camera blind: no sphere is inside its frustum and its view puts every
// point behind it, all finite. Scaled back, it sees again. A scale whose
// inverse is finite keeps its view.
TEST_F(Camera, AFrameWithoutAViewLeavesItsCameraBlindUntilItHasOne)
{
    Rig rig(rwPERSPECTIVE, {1, 0.75f}, {0, 0}, 0.1f, 100);
    const RwSphere ahead = {{0, 0, 0}, 1e30f};
    EXPECT_FALSE(RwCameraIsBlind(rig.camera));
    EXPECT_EQ(rig.camera, RwCameraValidateView(rig.camera));
    const RwV3d large = {7e12f, 7e12f, 7e12f};
    RwFrameScale(rig.frame, &large, rwCOMBINEPRECONCAT);
    RwFrameSyncDirtyList();
    EXPECT_FALSE(RwCameraIsBlind(rig.camera));
    for (RwReal scale : {1e19f, 0.0f}) {
        const RwV3d v = {scale, scale, scale};
        RwFrameScale(rig.frame, &v, rwCOMBINEPRECONCAT);
        RwFrameSyncDirtyList();
        EXPECT_TRUE(RwCameraIsBlind(rig.camera)) << scale;
        EXPECT_EQ(rwSPHEREOUTSIDE, RwCameraFrustumTestSphere(rig.camera, &ahead)) << scale;
        const RwMatrix &m = rig.camera->viewMatrix;
        EXPECT_TRUE(RwRealsFinite(&m.right.x, 3) && RwRealsFinite(&m.pos.x, 3)) << scale;
        RwV3d seen;
        RwV3dTransformPoint(&seen, &ahead.center, &m);
        EXPECT_LT(seen.z, 0.0f) << scale;
        EXPECT_EQ(nullptr, RwCameraValidateView(rig.camera)) << scale;
        EXPECT_EQ(0x80000003u, TakeErrorCode()) << scale;
        const RwMatrix back = MakeMatrix(rig.world, 3);
        RwFrameTransform(rig.frame, &back, rwCOMBINEREPLACE);
        RwFrameSyncDirtyList();
        EXPECT_FALSE(RwCameraIsBlind(rig.camera)) << scale;
    }
}

TEST_F(Camera, StreamReadsHandAssembledCameras)
{
    Bytes b = CameraChunk({0.5f, 0.25f, 0.1f, -0.2f, 0.5f, 100, 50}, 2, 42, 8);
    RwStream *s = OpenRead(b);
    RwCamera *c = RwCameraStreamRead(s);
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(0u, Unread(s));
    RwStreamClose(s, nullptr);
    ExpectCameraValues(c, {0.5f, 0.25f, 2, 4, 0.1f, -0.2f, 0.5f, 100, 50}, rwPARALLEL);
    EXPECT_EQ(42, counting::Word(c));
    EXPECT_NEAR(0.0001, c->zScale * 0.5 + c->zShift, 1e-5);
    RwCameraDestroy(c);

    Bytes eyeLevel = CameraChunk({1, 1, 0, 0, 0, 10, 5}, 2);   // a parallel camera may clip at the eye
    s = OpenRead(eyeLevel);
    c = RwCameraStreamRead(s);
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(0.0f, c->nearPlane);
    RwCameraDestroy(c);
    RwStreamClose(s, nullptr);

    Bytes noFog = CameraChunk({1, 1, 0, 0, 0.1f, 10, 10}, 1);   // fog at the far plane
    s = OpenRead(noFog);
    c = RwCameraStreamRead(s);
    ASSERT_NE(nullptr, c);
    RwCameraDestroy(c);
    RwStreamClose(s, nullptr);
}

TEST_F(Camera, StreamHostileInputLeavesNoCamera)
{
    const float nan = std::nanf("");
    const struct {
        Bytes bytes;
        RwUInt32 error;
    } cases[] = {
        {CameraChunk({0, 1, 0, 0, 0.1f, 10, 5}, 1), 0x80000003},   // window it cannot divide by
        {CameraChunk({1, 0, 0, 0, 0.1f, 10, 5}, 1), 0x80000003},
        {CameraChunk({1, 1, 0, 0, 0, 10, 5}, 1), 0x80000003},      // perspective near at the eye
        {CameraChunk({1, 1, 0, 0, -1, 10, 5}, 1), 0x80000003},
        {CameraChunk({1, 1, 0, 0, 10, 10, 5}, 2), 0x80000003},     // near = far
        {CameraChunk({1, 1, 0, 0, 0.1f, 10, 5}, 3), 0x80000003},   // projection
        {CameraChunk({1, 1, 0, 0, 0.1f, 10, 5}, 0), 0x80000003},
        {CameraChunk({nan, 1, 0, 0, 0.1f, 10, 5}, 1), 0x80000003},
        {CameraChunk({1, 1, 0, 0, nan, 10, 5}, 1), 0x80000003},
        {CameraChunk({1, 1, 0, 0, 0.1f, INFINITY, 5}, 1), 0x80000003},
        // Finite values whose derived values are not.
        {CameraChunk({1e-45f, 1, 0, 0, 0.1f, 10, 5}, 1), 0x80000003},     // reciprocal of the window
        {CameraChunk({1, 1, 0, 0, 1e-45f, 10, 5}, 1), 0x80000003},        // reciprocal of near
        {CameraChunk({1, 1, 0, 0, -3e38f, 3e38f, 5}, 2), 0x80000003},     // far - near
        {CameraChunk({2, 2, 0, 0, 1e-30f, 3e38f, 5}, 1), 0x80000003},     // far corners, so the side planes
        // What the driver derives at each update: a parallel depth scale over a
        // denormal range, the offset over a tiny window, the linear-fog scale
        // over a denormal fog range (an empty one has no fog and is read).
        {CameraChunk({1, 1, 0, 0, 0, 1e-40f, 1e-40f}, 2), 0x80000003},
        {CameraChunk({1e-30f, 1, 1e10f, 0, 0.1f, 10, 10}, 1), 0x80000003},
        {CameraChunk({1, 1, 0, 0, 0, 1.5e-38f, 1.4e-38f}, 2), 0x80000003},
        {CameraChunk({1, 1, 0, 0, 0.1f, 10}, 1), 0x8000001A},                  // 28-byte struct
        {CameraChunk({1, 1, 0, 0, 0.1f, 10, 5}, 1, 0, 0, 0x34F), 0x80000004},  // version 0x34F00
        {CameraChunk({1, 1, 0, 0, 0.1f, 10, 5}, 1, -1), 0},                    // failing extension
    };
    for (auto c : cases) {
        RwStream *s = OpenRead(c.bytes);
        EXPECT_EQ(nullptr, RwCameraStreamRead(s));
        const RwUInt32 error = TakeErrorCode();
        if (c.error) {
            EXPECT_EQ(c.error, error);
        }
        EXPECT_EQ(0, counting::live);
        RwStreamClose(s, nullptr);
    }
    Bytes whole = CameraChunk({1, 1, 0, 0, 0.1f, 10, 5}, 1, 9);
    for (size_t n = 0; n < whole.size(); ++n) {
        RwStream *s = OpenRead(whole, n);
        EXPECT_EQ(nullptr, RwCameraStreamRead(s)) << n;
        EXPECT_NE(0x80000000u, TakeErrorCode()) << n;
        EXPECT_EQ(0, counting::live) << n;
        RwStreamClose(s, nullptr);
    }
    ExpectCustomReadsAsMemory(whole, RwCameraStreamRead, RwCameraDestroy, "camera");
}

}  // namespace
