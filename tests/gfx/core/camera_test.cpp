#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/raster.h"
#include "matrix_reference.h"
#include "started_engine.h"
#include "stream_bytes.h"

namespace {

// A camera extension that counts live cameras; its stream data is one word,
// and a word of -1 makes the read fail.
const RwUInt32 kCamPluginID = 0xCA11;
RwInt32 camOffset = -1;
int liveCameras = 0;

void *CamConstruct(void *object, RwInt32 offset, RwInt32)
{
    *reinterpret_cast<RwInt32 *>(static_cast<RwUInt8 *>(object) + offset) = 0;
    ++liveCameras;
    return object;
}

void *CamDestruct(void *object, RwInt32, RwInt32)
{
    --liveCameras;
    return object;
}

RwStream *CamRead(RwStream *stream, RwInt32 length, void *object, RwInt32 offset, RwInt32)
{
    RwUInt8 w[4];
    if (length != 4 || !RwStreamReadExact(stream, w, 4)) {
        return nullptr;
    }
    const RwInt32 v = static_cast<RwInt32>(w[0] | (w[1] << 8) | (w[2] << 16) | (static_cast<RwUInt32>(w[3]) << 24));
    if (v == -1) {
        return nullptr;
    }
    *reinterpret_cast<RwInt32 *>(static_cast<RwUInt8 *>(object) + offset) = v;
    return stream;
}

void RegisterCamPlugin()
{
    camOffset = RwCameraRegisterPlugin(4, kCamPluginID, CamConstruct, CamDestruct, nullptr);
    RwCameraRegisterPluginStream(kCamPluginID, CamRead, nullptr, nullptr);
}

RwInt32 CamData(RwCamera *c) { return *reinterpret_cast<RwInt32 *>(reinterpret_cast<RwUInt8 *>(c) + camOffset); }

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(RegisterCamPlugin));

class Camera : public ::testing::Test {
protected:
    void SetUp() override
    {
        RwTestDriverReset();
        liveCameras = 0;
        TakeError();
    }
    void TearDown() override
    {
        RwTestDriverReset();
        RwFrameSyncDirtyList();
        EXPECT_EQ(0, liveCameras) << "cameras leaked";
        TakeError();
    }
};

TEST_F(Camera, CreateGivesDefaults)
{
    RwCamera *c = RwCameraCreate();
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(1, liveCameras);
    EXPECT_EQ(4, c->object.object.type);
    EXPECT_EQ(rwPERSPECTIVE, c->projectionType);
    EXPECT_FLOAT_EQ(0.05f, c->nearPlane);
    EXPECT_FLOAT_EQ(10.0f, c->farPlane);
    EXPECT_FLOAT_EQ(5.0f, c->fogPlane);
    EXPECT_EQ(1.0f, c->viewWindow.x);
    EXPECT_EQ(1.0f, c->viewWindow.y);
    EXPECT_EQ(1.0f, c->recipViewWindow.x);
    EXPECT_EQ(0.0f, c->viewOffset.x);
    EXPECT_EQ(nullptr, c->frameBuffer);
    EXPECT_EQ(nullptr, c->zBuffer);
    EXPECT_EQ(nullptr, RwCameraGetFrame(c));
    EXPECT_EQ(0u, c->viewMatrix.flags);
    EXPECT_TRUE(RwCameraDestroy(c));
}

TEST_F(Camera, ViewWindowStoresReciprocals)
{
    RwCamera *c = RwCameraCreate();
    const RwV2d w = {0.5f, 0.25f};
    EXPECT_EQ(c, RwCameraSetViewWindow(c, &w));
    EXPECT_EQ(2.0f, c->recipViewWindow.x);
    EXPECT_EQ(4.0f, c->recipViewWindow.y);
    RwCameraDestroy(c);
}

TEST_F(Camera, DepthRangeMapsClipDistancesJustInsideTheZBuffer)
{
    RwCamera *c = RwCameraCreate();
    ASSERT_EQ(0.0f, RwEngineInstance->dOpenDevice.zBufferNear);
    ASSERT_EQ(1.0f, RwEngineInstance->dOpenDevice.zBufferFar);
    EXPECT_NEAR(0.0001, c->zScale / c->nearPlane + c->zShift, 1e-6);
    EXPECT_NEAR(0.9999, c->zScale / c->farPlane + c->zShift, 1e-6);
    RwCameraSetNearClipPlane(c, 1.0f);
    RwCameraSetFarClipPlane(c, 100.0f);
    EXPECT_NEAR(0.0001, c->zScale * 1.0 + c->zShift, 1e-6);
    EXPECT_NEAR(0.9999, c->zScale * 0.01 + c->zShift, 1e-6);
    RwCameraSetProjection(c, rwPARALLEL);
    EXPECT_NEAR(0.0001, c->zScale * 1.0 + c->zShift, 1e-5);
    EXPECT_NEAR(0.9999, c->zScale * 100.0 + c->zShift, 1e-5);

    RwEngineInstance->dOpenDevice.zBufferNear = 10.0f;
    RwEngineInstance->dOpenDevice.zBufferFar = 20.0f;
    RwCameraSetProjection(c, rwPERSPECTIVE);
    EXPECT_NEAR(10.001, c->zScale * 1.0 + c->zShift, 1e-4);
    EXPECT_NEAR(19.999, c->zScale * 0.01 + c->zShift, 1e-4);
    RwEngineInstance->dOpenDevice.zBufferNear = 0.0f;
    RwEngineInstance->dOpenDevice.zBufferFar = 1.0f;
    RwCameraDestroy(c);
}

TEST_F(Camera, EqualClipDistancesKeepDepthFinite)
{
    RwCamera *c = RwCameraCreate();
    RwCameraSetNearClipPlane(c, 10.0f);
    EXPECT_TRUE(std::isfinite(c->zScale));
    EXPECT_TRUE(std::isfinite(c->zShift));
    RwCameraDestroy(c);
}

TEST_F(Camera, InvalidProjectionIsRefused)
{
    RwCamera *c = RwCameraCreate();
    EXPECT_EQ(nullptr, RwCameraSetProjection(c, static_cast<RwCameraProjection>(3)));
    const RwError e = TakeError();
    EXPECT_EQ(static_cast<RwInt32>(0x80000003u), e.errorCode);
    EXPECT_EQ(rwPERSPECTIVE, c->projectionType);
    EXPECT_EQ(nullptr, RwCameraSetProjection(c, rwNACAMERAPROJECTION));
    RwCameraDestroy(c);
}

TEST_F(Camera, SettersMarkTheFrameDirty)
{
    RwCamera *c = RwCameraCreate();
    RwFrame *f = RwFrameCreate();
    RwCameraSetFrame(c, f);
    const RwV2d v = {0.3f, 0.2f};
    using Setter = void (*)(RwCamera *, const RwV2d &);
    const Setter setters[] = {
        [](RwCamera *cam, const RwV2d &x) { RwCameraSetViewWindow(cam, &x); },
        [](RwCamera *cam, const RwV2d &x) { RwCameraSetViewOffset(cam, &x); },
        [](RwCamera *cam, const RwV2d &x) { RwCameraSetNearClipPlane(cam, x.x); },
        [](RwCamera *cam, const RwV2d &x) { RwCameraSetFarClipPlane(cam, x.x * 100); },
        [](RwCamera *cam, const RwV2d &) { RwCameraSetProjection(cam, rwPARALLEL); },
    };
    for (Setter s : setters) {
        RwFrameSyncDirtyList();
        ASSERT_FALSE(RwFrameIsDirty(f));
        s(c, v);
        EXPECT_TRUE(RwFrameIsDirty(f));
    }
    RwCameraDestroy(c);
    EXPECT_TRUE(RwLinkListEmpty(&f->objectList));
    RwFrameDestroy(f);
}

TEST_F(Camera, SphereAtExactlyRadiusOutsideIsCrossing)
{
    RwCamera *c = RwCameraCreate();   // no frame: looks down +z from the origin
    const RwSphere touching = {{0, 0, 11}, 1};
    EXPECT_EQ(rwSPHEREBOUNDARY, RwCameraFrustumTestSphere(c, &touching));
    const RwSphere beyond = {{0, 0, 11.5f}, 1};
    EXPECT_EQ(rwSPHEREOUTSIDE, RwCameraFrustumTestSphere(c, &beyond));
    const RwSphere inside = {{0, 0, 5}, 0.1f};
    EXPECT_EQ(rwSPHEREINSIDE, RwCameraFrustumTestSphere(c, &inside));
    const RwSphere behind = {{0, 0, -1}, 0.5f};
    EXPECT_EQ(rwSPHEREOUTSIDE, RwCameraFrustumTestSphere(c, &behind));
    RwCameraDestroy(c);
}

TEST_F(Camera, CornersComeNearFirstInWindowOrder)
{
    RwCamera *c = RwCameraCreate();
    RwCameraSetNearClipPlane(c, 1.0f);
    const RwV2d w = {2, 1};
    RwCameraSetViewWindow(c, &w);
    RwCameraSync(&c->object);
    const RwV3d *k = c->frustumCorners;
    EXPECT_TRUE(NearV3({2, 1, 1}, Ref(k[0]), 1e-6));
    EXPECT_TRUE(NearV3({-2, 1, 1}, Ref(k[1]), 1e-6));
    EXPECT_TRUE(NearV3({-2, -1, 1}, Ref(k[2]), 1e-6));
    EXPECT_TRUE(NearV3({2, -1, 1}, Ref(k[3]), 1e-6));
    EXPECT_TRUE(NearV3({20, 10, 10}, Ref(k[4]), 1e-5));
    EXPECT_TRUE(NearV3({-20, -10, 10}, Ref(k[6]), 1e-5));
    EXPECT_TRUE(NearV3({20, 10, 10}, Ref(c->frustumBoundBox.sup), 1e-5));
    EXPECT_TRUE(NearV3({-20, -10, 1}, Ref(c->frustumBoundBox.inf), 1e-5));
    // Normals point out of the frustum; the corner selectors follow their signs.
    const RwFrustumPlane &left = c->frustumPlanes[rwFRUSTUMPLANELEFT];
    EXPECT_LT(left.plane.normal.x, 0.0f);
    EXPECT_EQ(0, left.closestX);
    EXPECT_EQ(0, left.closestZ);
    EXPECT_EQ(1, c->frustumPlanes[rwFRUSTUMPLANEFAR].closestZ);
    RwCameraDestroy(c);
}

// The view volume in camera space, from the window corners: rays from the
// apex (-o.x, o.y, 0) through (+-w.x, +-w.y, 1) for a perspective camera;
// boxes of half size w around (-o.x (1 - z), o.y (1 - z)) for a parallel one.
// Returns the signed distance-like margin: positive inside.
double InsideMargin(const RwCamera *c, RefV3 p)
{
    const double ox = c->viewOffset.x, oy = c->viewOffset.y;
    const double wx = c->viewWindow.x, wy = c->viewWindow.y;
    const double scale = c->projectionType == rwPERSPECTIVE ? p.z : 1.0;
    const double cx = p.x + ox * (1 - p.z);
    const double cy = p.y - oy * (1 - p.z);
    double m = std::min(p.z - c->nearPlane, c->farPlane - p.z);
    m = std::min(m, scale * wx - std::fabs(cx));
    m = std::min(m, scale * wy - std::fabs(cy));
    return m;
}

void CheckFrustumAgainstReference(RwCamera *c, const RefMatrix &frame)
{
    // Face centres just inside and just outside each face.
    const double n = c->nearPlane, f = c->farPlane, mid = (n + f) / 2;
    const double wx = c->viewWindow.x, wy = c->viewWindow.y;
    const double s = c->projectionType == rwPERSPECTIVE ? mid : 1.0;
    const double ox = c->viewOffset.x, oy = c->viewOffset.y;
    const double cxMid = -ox * (1 - mid), cyMid = oy * (1 - mid);
    const double eps = 0.02;
    struct Probe {
        RefV3 in, out;
    };
    const Probe probes[6] = {
        {{-ox * (1 - f), oy * (1 - f), f - eps}, {-ox * (1 - f), oy * (1 - f), f + eps}},
        {{-ox * (1 - n), oy * (1 - n), n + eps}, {-ox * (1 - n), oy * (1 - n), n - eps}},
        {{cxMid - s * wx + eps, cyMid, mid}, {cxMid - s * wx - eps, cyMid, mid}},
        {{cxMid, cyMid + s * wy - eps, mid}, {cxMid, cyMid + s * wy + eps, mid}},
        {{cxMid + s * wx - eps, cyMid, mid}, {cxMid + s * wx + eps, cyMid, mid}},
        {{cxMid, cyMid - s * wy + eps, mid}, {cxMid, cyMid - s * wy - eps, mid}},
    };
    for (int i = 0; i < 6; ++i) {
        ASSERT_GT(InsideMargin(c, probes[i].in), 0.0) << i;
        ASSERT_LT(InsideMargin(c, probes[i].out), 0.0) << i;
        const RefV3 in = RefTransformPoint(probes[i].in, frame);
        const RefV3 out = RefTransformPoint(probes[i].out, frame);
        const RwSphere sIn = {{float(in.x), float(in.y), float(in.z)}, 0.001f};
        const RwSphere sOut = {{float(out.x), float(out.y), float(out.z)}, 0.001f};
        EXPECT_EQ(rwSPHEREINSIDE, RwCameraFrustumTestSphere(c, &sIn)) << "plane " << i;
        EXPECT_EQ(rwSPHEREOUTSIDE, RwCameraFrustumTestSphere(c, &sOut)) << "plane " << i;
    }
    // Random points well away from the boundary.
    RwUInt32 seed = 12345;
    auto rnd = [&seed](double lo, double hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * ((seed >> 8) / 16777216.0);
    };
    const double spanX = (c->projectionType == rwPERSPECTIVE ? f : 1.0) * wx + std::fabs(ox) * f + 1;
    const double spanY = (c->projectionType == rwPERSPECTIVE ? f : 1.0) * wy + std::fabs(oy) * f + 1;
    int inside = 0, outside = 0;
    for (int i = 0; i < 4000; ++i) {
        const RefV3 p = {rnd(-spanX, spanX), rnd(-spanY, spanY), rnd(-1, f + 1)};
        const double margin = InsideMargin(c, p);
        if (std::fabs(margin) < 0.02) {
            continue;
        }
        const RefV3 w = RefTransformPoint(p, frame);
        const RwSphere sp = {{float(w.x), float(w.y), float(w.z)}, 0.0f};
        const RwFrustumTestResult r = RwCameraFrustumTestSphere(c, &sp);
        if (margin > 0) {
            ++inside;
            EXPECT_EQ(rwSPHEREINSIDE, r) << p.x << " " << p.y << " " << p.z;
        } else {
            ++outside;
            EXPECT_EQ(rwSPHEREOUTSIDE, r) << p.x << " " << p.y << " " << p.z;
        }
    }
    EXPECT_GT(inside, 100);
    EXPECT_GT(outside, 100);
}

RefMatrix CameraFrameMatrix() { return RefRotation({1, 2, 3}, 40, {5, -2, 7}); }

RwCamera *CameraOnFrame(RwFrame **frameOut)
{
    RwCamera *c = RwCameraCreate();
    RwFrame *f = RwFrameCreate();
    const RwMatrix m = MakeMatrix(CameraFrameMatrix(), 3);
    RwFrameTransform(f, &m, rwCOMBINEREPLACE);
    RwCameraSetFrame(c, f);
    *frameOut = f;
    return c;
}

TEST_F(Camera, PerspectiveWithOffsetFrustumMatchesReference)
{
    RwFrame *f;
    RwCamera *c = CameraOnFrame(&f);
    const RwV2d w = {0.6f, 0.45f};
    const RwV2d o = {0.2f, -0.1f};
    RwCameraSetViewWindow(c, &w);
    RwCameraSetViewOffset(c, &o);
    RwCameraSetNearClipPlane(c, 0.5f);
    RwCameraSetFarClipPlane(c, 20.0f);
    RwFrameSyncDirtyList();
    CheckFrustumAgainstReference(c, CameraFrameMatrix());
    RwCameraDestroy(c);
    RwFrameDestroy(f);
}

TEST_F(Camera, ParallelWithOffsetFrustumMatchesReference)
{
    RwFrame *f;
    RwCamera *c = CameraOnFrame(&f);
    const RwV2d w = {3, 2};
    const RwV2d o = {0.5f, 0.25f};
    RwCameraSetProjection(c, rwPARALLEL);
    RwCameraSetViewWindow(c, &w);
    RwCameraSetViewOffset(c, &o);
    RwCameraSetNearClipPlane(c, 1.0f);
    RwCameraSetFarClipPlane(c, 15.0f);
    RwFrameSyncDirtyList();
    CheckFrustumAgainstReference(c, CameraFrameMatrix());
    RwCameraDestroy(c);
    RwFrameDestroy(f);
}

// Screen position of a world point under the view matrix.
RefV3 Project(const RwCamera *c, const RwV3d &world, bool divide)
{
    const RefV3 v = RefTransformPoint(Ref(world), Ref(c->viewMatrix));
    return divide ? RefV3{v.x / v.z, v.y / v.z, v.z} : v;
}

TEST_F(Camera, ViewMatrixMapsTheWindowToTheUnitSquare)
{
    const bool perspective[2] = {true, false};
    for (bool persp : perspective) {
        RwFrame *f;
        RwCamera *c = CameraOnFrame(&f);
        if (!persp) {
            RwCameraSetProjection(c, rwPARALLEL);
        }
        const RwV2d w = {0.8f, 0.5f};
        const RwV2d o = {0.3f, 0.2f};
        RwCameraSetViewWindow(c, &w);
        RwCameraSetViewOffset(c, &o);
        RwCameraSetNearClipPlane(c, 2.0f);
        RwCameraSetFarClipPlane(c, 12.0f);
        RwFrameSyncDirtyList();
        const RefV3 screen[4] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
        for (int i = 0; i < 8; ++i) {
            RefV3 expected = screen[i % 4];
            expected.z = i < 4 ? 2.0 : 12.0;
            EXPECT_TRUE(NearV3(expected, Project(c, c->frustumCorners[i], persp), 1e-4))
                << (persp ? "perspective " : "parallel ") << i;
        }
        EXPECT_EQ(0u, c->viewMatrix.flags & 0x20000);
        RwCameraDestroy(c);
        RwFrameDestroy(f);
    }
}

TEST_F(Camera, MovingTheFrameRebuildsTheFrustumAtBeginUpdate)
{
    RwCamera *c = RwCameraCreate();
    RwFrame *f = RwFrameCreate();
    RwCameraSetFrame(c, f);
    ASSERT_TRUE(RwCameraBeginUpdate(c));
    ASSERT_TRUE(RwCameraEndUpdate(c));
    const RwV3d before = c->frustumCorners[0];
    const RwV3d t = {0, 0, 100};
    RwFrameTranslate(f, &t, rwCOMBINEPOSTCONCAT);
    ASSERT_TRUE(RwCameraBeginUpdate(c));
    EXPECT_FLOAT_EQ(before.z + 100, c->frustumCorners[0].z);
    const RwSphere atOldPlace = {{0, 0, 5}, 0.1f};
    EXPECT_EQ(rwSPHEREOUTSIDE, RwCameraFrustumTestSphere(c, &atOldPlace));
    ASSERT_TRUE(RwCameraEndUpdate(c));
    RwCameraDestroy(c);
    RwFrameDestroy(f);
}

RwCamera *seenCurrent = nullptr;
bool seenDirtyListEmpty = false;
RwBool RecordBegin(void *, void *inOut, RwInt32)
{
    seenCurrent = RwEngineInstance->curCamera;
    seenDirtyListEmpty = RwLinkListEmpty(&RwEngineInstance->dirtyFrameList);
    return inOut != nullptr;
}

TEST_F(Camera, BeginUpdateSyncsFramesBeforeTheDriverAndEndClearsCurrent)
{
    RwCamera *c = RwCameraCreate();
    RwFrame *f = RwFrameCreate();
    RwCameraSetFrame(c, f);
    RwFrame *other = RwFrameCreate();
    const RwV3d t = {1, 0, 0};
    RwFrameTranslate(other, &t, rwCOMBINEREPLACE);
    RwTestDriverSetStandardFunction(rwSTANDARDCAMERABEGINUPDATE, RecordBegin);
    EXPECT_EQ(c, RwCameraBeginUpdate(c));
    EXPECT_EQ(c, seenCurrent);
    EXPECT_TRUE(seenDirtyListEmpty);
    EXPECT_EQ(c, RwEngineInstance->curCamera);
    ASSERT_EQ(1, RwTestDriverGetStandardCount(rwSTANDARDCAMERABEGINUPDATE));
    const RwTestDriverStandardCall *call = RwTestDriverGetStandardLog(0);
    EXPECT_EQ(nullptr, call->out);
    EXPECT_EQ(c, call->inOut);
    EXPECT_EQ(0, call->in);
    EXPECT_EQ(c, RwCameraEndUpdate(c));
    EXPECT_EQ(nullptr, RwEngineInstance->curCamera);
    EXPECT_EQ(1, RwTestDriverGetStandardCount(rwSTANDARDCAMERAENDUPDATE));
    RwCameraDestroy(c);
    RwFrameDestroy(f);
    RwFrameDestroy(other);
}

TEST_F(Camera, DriverRefusalsFailTheUpdate)
{
    RwCamera *c = RwCameraCreate();
    RwTestDriverSetStandardResult(rwSTANDARDCAMERABEGINUPDATE, FALSE);
    EXPECT_EQ(nullptr, RwCameraBeginUpdate(c));
    EXPECT_EQ(nullptr, RwEngineInstance->curCamera);
    RwTestDriverSetStandardResult(rwSTANDARDCAMERABEGINUPDATE, TRUE);
    ASSERT_EQ(c, RwCameraBeginUpdate(c));
    RwTestDriverSetStandardResult(rwSTANDARDCAMERAENDUPDATE, FALSE);
    EXPECT_EQ(nullptr, RwCameraEndUpdate(c));
    EXPECT_EQ(c, RwEngineInstance->curCamera);
    RwTestDriverSetStandardResult(rwSTANDARDCAMERAENDUPDATE, TRUE);
    EXPECT_EQ(c, RwCameraEndUpdate(c));
    RwCameraDestroy(c);
}

TEST_F(Camera, ClearPassesCameraColourAndModeToTheDriver)
{
    RwCamera *c = RwCameraCreate();
    RwRGBA colour = {1, 2, 3, 4};
    EXPECT_EQ(c, RwCameraClear(c, &colour, rwCAMERACLEARIMAGE | rwCAMERACLEARZ));
    ASSERT_EQ(1, RwTestDriverGetStandardCount(rwSTANDARDCAMERACLEAR));
    const RwTestDriverStandardCall *call = RwTestDriverGetStandardLog(0);
    EXPECT_EQ(c, call->out);
    EXPECT_EQ(&colour, call->inOut);
    EXPECT_EQ(3, call->in);
    RwTestDriverSetStandardResult(rwSTANDARDCAMERACLEAR, FALSE);
    EXPECT_EQ(nullptr, RwCameraClear(c, &colour, rwCAMERACLEARZ));
    RwCameraDestroy(c);
}

TEST_F(Camera, ShowRasterPresentsTheFrameBuffer)
{
    RwCamera *c = RwCameraCreate();
    void *window = reinterpret_cast<void *>(0x5678);
    EXPECT_EQ(nullptr, RwCameraShowRaster(c, window, 1));
    EXPECT_EQ(0, RwTestDriverGetStandardCount(rwSTANDARDRASTERSHOWRASTER));
    RwRaster *r = RwRasterCreate(64, 32, 0, 2);
    ASSERT_NE(nullptr, r);
    RwCameraSetRaster(c, r);
    EXPECT_EQ(c, RwCameraShowRaster(c, window, 1));
    ASSERT_EQ(1, RwTestDriverGetStandardCount(rwSTANDARDRASTERSHOWRASTER));
    bool seen = false;
    for (RwInt32 i = 0; i < RwTestDriverGetStandardLogSize(); ++i) {
        const RwTestDriverStandardCall *call = RwTestDriverGetStandardLog(i);
        if (call->index == rwSTANDARDRASTERSHOWRASTER) {
            seen = true;
            EXPECT_EQ(r, call->out);
            EXPECT_EQ(window, call->inOut);
            EXPECT_EQ(1, call->in);
        }
    }
    EXPECT_TRUE(seen);
    RwTestDriverSetStandardResult(rwSTANDARDRASTERSHOWRASTER, FALSE);
    EXPECT_EQ(nullptr, RwCameraShowRaster(c, window, 0));
    RwCameraDestroy(c);
    RwRasterDestroy(r);
}

TEST_F(Camera, DestroyingTheCurrentCameraClearsIt)
{
    RwCamera *c = RwCameraCreate();
    ASSERT_EQ(c, RwCameraBeginUpdate(c));
    RwCameraDestroy(c);
    EXPECT_EQ(nullptr, RwEngineInstance->curCamera);
}

TEST_F(Camera, PluginOffsetsAreStable)
{
    EXPECT_EQ(camOffset, RwCameraGetPluginOffset(kCamPluginID));
    EXPECT_GE(camOffset, static_cast<RwInt32>(sizeof(RwCamera)));
    EXPECT_EQ(-1, RwCameraRegisterPluginStream(0x9999, CamRead, nullptr, nullptr));
}

// Camera struct: window, offset, near, far, fog, projection; then extensions.
Bytes CameraChunk(float wx, float wy, float ox, float oy, float n, float f, float fog, RwInt32 proj,
                  RwInt32 extData = 0, RwUInt32 extraBytes = 0)
{
    Bytes b;
    b.Header(1, 32 + extraBytes).F32(wx).F32(wy).F32(ox).F32(oy).F32(n).F32(f).F32(fog).I32(proj);
    for (RwUInt32 i = 0; i < extraBytes; i += 4) {
        b.U32(0xEEEEEEEE);
    }
    if (extData) {
        b.Header(3, 16).Header(kCamPluginID, 4).I32(extData);
    } else {
        b.Header(3, 0);
    }
    return b;
}

class CameraStream : public Camera {};

TEST_F(CameraStream, ReadsHandAssembledCamera)
{
    const Bytes b = CameraChunk(0.5f, 0.25f, 0.1f, -0.2f, 0.5f, 100.0f, 50.0f, 2, 42);
    RwStream *s = OpenRead(b);
    RwCamera *c = RwCameraStreamRead(s);
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(0u, Remaining(s));
    EXPECT_EQ(0.5f, c->viewWindow.x);
    EXPECT_EQ(0.25f, c->viewWindow.y);
    EXPECT_EQ(2.0f, c->recipViewWindow.x);
    EXPECT_EQ(4.0f, c->recipViewWindow.y);
    EXPECT_EQ(0.1f, c->viewOffset.x);
    EXPECT_EQ(-0.2f, c->viewOffset.y);
    EXPECT_EQ(0.5f, c->nearPlane);
    EXPECT_EQ(100.0f, c->farPlane);
    EXPECT_EQ(50.0f, c->fogPlane);
    EXPECT_EQ(rwPARALLEL, c->projectionType);
    EXPECT_EQ(42, CamData(c));
    EXPECT_NEAR(0.0001, c->zScale * 0.5 + c->zShift, 1e-5);
    RwCameraDestroy(c);
    RwStreamClose(s, nullptr);
}

TEST_F(CameraStream, LongerStructIsReadToTheRecord)
{
    const Bytes b = CameraChunk(1, 1, 0, 0, 0.1f, 10, 5, 1, 7, 8);
    RwStream *s = OpenRead(b);
    RwCamera *c = RwCameraStreamRead(s);
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(7, CamData(c));
    EXPECT_EQ(0u, Remaining(s));
    RwCameraDestroy(c);
    RwStreamClose(s, nullptr);
}

TEST_F(CameraStream, UnusableValuesAreRefused)
{
    const float nan = std::nanf("");
    const Bytes bad[] = {
        CameraChunk(0, 1, 0, 0, 0.1f, 10, 5, 1),     CameraChunk(1, 0, 0, 0, 0.1f, 10, 5, 1),
        CameraChunk(1, 1, 0, 0, 0, 10, 5, 1),        CameraChunk(1, 1, 0, 0, -1, 10, 5, 2),
        CameraChunk(1, 1, 0, 0, 10, 10, 5, 1),       CameraChunk(1, 1, 0, 0, 0.1f, 10, 5, 3),
        CameraChunk(1, 1, 0, 0, 0.1f, 10, 5, 0),     CameraChunk(nan, 1, 0, 0, 0.1f, 10, 5, 1),
        CameraChunk(1, 1, 0, 0, nan, 10, 5, 1),      CameraChunk(1, 1, 0, 0, 0.1f, INFINITY, 5, 1),
    };
    int i = 0;
    for (const Bytes &b : bad) {
        RwStream *s = OpenRead(b);
        EXPECT_EQ(nullptr, RwCameraStreamRead(s)) << i;
        EXPECT_EQ(static_cast<RwInt32>(0x80000003u), TakeError().errorCode) << i;
        EXPECT_EQ(0, liveCameras) << i;
        RwStreamClose(s, nullptr);
        ++i;
    }
}

TEST_F(CameraStream, FailedExtensionDestroysTheCamera)
{
    const Bytes b = CameraChunk(1, 1, 0, 0, 0.1f, 10, 5, 1, -1);
    RwStream *s = OpenRead(b);
    EXPECT_EQ(nullptr, RwCameraStreamRead(s));
    EXPECT_EQ(0, liveCameras);
    RwStreamClose(s, nullptr);
}

TEST_F(CameraStream, ShortStructAndWrongVersionAreRefused)
{
    Bytes shortStruct;
    shortStruct.Header(1, 28).F32(1).F32(1).F32(0).F32(0).F32(0.1f).F32(10).F32(5).Header(3, 0);
    RwStream *s = OpenRead(shortStruct);
    EXPECT_EQ(nullptr, RwCameraStreamRead(s));
    EXPECT_EQ(static_cast<RwInt32>(0x8000001Au), TakeError().errorCode);
    RwStreamClose(s, nullptr);

    Bytes old;
    old.Header(1, 32, 0x34FFF >> 8).F32(1).F32(1).F32(0).F32(0).F32(0.1f).F32(10).F32(5).I32(1).Header(3, 0);
    s = OpenRead(old);
    EXPECT_EQ(nullptr, RwCameraStreamRead(s));
    EXPECT_EQ(static_cast<RwInt32>(0x80000004u), TakeError().errorCode);
    RwStreamClose(s, nullptr);
    EXPECT_EQ(0, liveCameras);
}

TEST_F(CameraStream, TruncationAtEveryOffsetLeavesNoCamera)
{
    const Bytes b = CameraChunk(1, 1, 0, 0, 0.1f, 10, 5, 1, 9);
    for (RwUInt32 n = 0; n < b.Size(); ++n) {
        RwStream *s = OpenRead(b, static_cast<RwInt32>(n));
        EXPECT_EQ(nullptr, RwCameraStreamRead(s)) << n;
        EXPECT_NE(static_cast<RwInt32>(0x80000000u), TakeError().errorCode) << n;
        EXPECT_EQ(0, liveCameras) << n;
        RwStreamClose(s, nullptr);
    }
}

}  // namespace
