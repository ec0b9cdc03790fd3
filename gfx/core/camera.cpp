// Camera module: projection, clip distances, view matrix and frustum, update bracket and camera streams.
#include "camera.h"

#include <cfloat>
#include <cmath>

#include "byteorder.h"
#include "engine.h"
#include "error.h"
#include "finite.h"
#include "memory.h"
#include "modules.h"
#include "pluginstream.h"
#include "raster.h"
#include "stream.h"
#include "vector.h"

static RwInt32 cameraModuleOffset = -1;
static RwInt32 cameraModuleOpenCount = 0;
static RwPluginRegistry cameraTKList = rwPLUGINREGISTRY_INIT(sizeof(RwCamera));

enum : RwUInt32 {
    E_RW_BADCAMERAVALUE = 0x80000003u,
    rwCAMERAHINT = rwID_CAMERA,         // memory hints name the camera chunk id
};

struct RwCameraGlobals {
    RwFreeList *cameraFreeList;
};
static_assert(sizeof(RwCameraGlobals) == 4, "camera module globals are one word");

// The free list exists from engine start to stop only; outside that window
// the call fails with the engine-state error.
static RwCameraGlobals *CameraGlobals()
{
    if (cameraModuleOpenCount <= 0) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_BADOPEN);
        return nullptr;
    }
    return RwEngineModuleGlobals<RwCameraGlobals>(cameraModuleOffset);
}

// Maps 1/near (perspective) or near (parallel) just inside the device's
// z-buffer near value and the far distance just inside its far value.
static void UpdateDepthScale(RwCamera *c)
{
    const RwReal z0 = RwEngineInstance->dOpenDevice.zBufferNear;
    const RwReal z1 = RwEngineInstance->dOpenDevice.zBufferFar;
    const RwReal delta = (z1 - z0) * 0.0001f;
    const RwReal lo = z0 + delta;
    const RwReal hi = z1 - delta;
    RwReal n, f;
    if (c->projectionType == rwPARALLEL) {
        n = c->nearPlane;
        f = c->farPlane;
    } else {
        n = 1.0f / c->nearPlane;
        f = 1.0f / c->farPlane;
    }
    const RwReal scale = (hi - lo) / (f - n);
    const RwReal shift = (hi + lo - (n + f) * scale) * 0.5f;
    if (std::isfinite(scale) && std::isfinite(shift)) {
        c->zScale = scale;
        c->zShift = shift;
    } else {
        // Degenerate clip distances: keep the values usable rather than NaN.
        c->zScale = 0.0f;
        c->zShift = lo;
    }
}

static void SetPlane(RwFrustumPlane *p, const RwV3d *normal, const RwV3d *through)
{
    RwV3dScale(&p->plane.normal, normal, RwInvSqrt(RwV3dDotProduct(normal, normal)));
    p->plane.distance = RwV3dDotProduct(&p->plane.normal, through);
    p->closestX = p->plane.normal.x >= 0.0f ? 1 : 0;
    p->closestY = p->plane.normal.y >= 0.0f ? 1 : 0;
    p->closestZ = p->plane.normal.z >= 0.0f ? 1 : 0;
    p->pad = 0;
}

// Normal of the side plane through the edges a-b and a-c: (b - a) x (c - a).
static void SidePlane(RwFrustumPlane *p, const RwV3d *a, const RwV3d *b, const RwV3d *c, const RwV3d *through)
{
    RwV3d ab, ac, n;
    RwV3dSub(&ab, b, a);
    RwV3dSub(&ac, c, a);
    RwV3dCrossProduct(&n, &ab, &ac);
    SetPlane(p, &n, through);
}

static void BuildViewMatrix(RwCamera *cam, const RwMatrix *m)
{
    const RwV3d &R = m->right, &U = m->up, &A = m->at, &P = m->pos;
    const RwV2d &w = cam->viewWindow, &o = cam->viewOffset;
    const RwReal a = -0.5f / w.x;
    const RwReal c = -0.5f / w.y;
    RwReal b, d;
    if (cam->projectionType == rwPARALLEL) {
        b = -o.x * a;
        d = o.y * c;
    } else {
        b = 0.5f - o.x * a;
        d = 0.5f + o.y * c;
    }
    // x' = a cx + b cz + 0.5 - b, y' = c cy + d cz + 0.5 - d, z' = cz, where
    // (cx, cy, cz) are the point's coordinates along R, U, A relative to P.
    const RwReal pr = RwV3dDotProduct(&P, &R);
    const RwReal pu = RwV3dDotProduct(&P, &U);
    const RwReal pa = RwV3dDotProduct(&P, &A);
    RwMatrix &v = cam->viewMatrix;
    v.right = {a * R.x + b * A.x, c * U.x + d * A.x, A.x};
    v.up = {a * R.y + b * A.y, c * U.y + d * A.y, A.y};
    v.at = {a * R.z + b * A.z, c * U.z + d * A.z, A.z};
    v.pos = {-a * pr - b * pa + 0.5f - b, -c * pu - d * pa + 0.5f - d, -pa};
    v.flags = 0;
    RwMatrixClassify(&v, nullptr);
}

static void BuildCorners(RwCamera *cam, const RwMatrix *m)
{
    const RwV2d &w = cam->viewWindow, &o = cam->viewOffset;
    RwV3d *corner = cam->frustumCorners;
    // Window corner order: (+x, +y), (-x, +y), (-x, -y), (+x, -y).
    static const RwReal sx[4] = {1.0f, -1.0f, -1.0f, 1.0f};
    static const RwReal sy[4] = {1.0f, 1.0f, -1.0f, -1.0f};
    if (cam->projectionType == rwPARALLEL) {
        const RwReal depth[2] = {cam->nearPlane, cam->farPlane};
        for (int k = 0; k < 2; ++k) {
            const RwReal z = depth[k];
            for (int i = 0; i < 4; ++i) {
                corner[k * 4 + i] = {(1.0f - z) * -o.x + sx[i] * w.x, (1.0f - z) * o.y + sy[i] * w.y, z};
            }
        }
        RwV3dTransformPoints(corner, corner, 8, m);
        return;
    }
    RwV3d v = {0.0f, 0.0f, 0.0f};
    RwV3dIncrementScaled(&v, &m->right, -o.x);
    RwV3dIncrementScaled(&v, &m->up, o.y);
    RwV3d origin;
    RwV3dAdd(&origin, &m->pos, &v);
    for (int i = 0; i < 4; ++i) {
        RwV3d k = m->at;
        RwV3dIncrementScaled(&k, &m->right, sx[i] * w.x);
        RwV3dIncrementScaled(&k, &m->up, sy[i] * w.y);
        RwV3dSub(&k, &k, &v);
        corner[i] = origin;
        RwV3dIncrementScaled(&corner[i], &k, cam->nearPlane);
        corner[4 + i] = origin;
        RwV3dIncrementScaled(&corner[4 + i], &k, cam->farPlane);
    }
}

static void BuildFrustum(RwCamera *cam, const RwMatrix *m)
{
    BuildViewMatrix(cam, m);
    BuildCorners(cam, m);
    const RwV3d *N = cam->frustumCorners;
    const RwV3d *F = cam->frustumCorners + 4;
    RwFrustumPlane *p = cam->frustumPlanes;
    RwV3d back;
    RwV3dNegate(&back, &m->at);
    SetPlane(&p[rwFRUSTUMPLANEFAR], &m->at, &F[0]);
    SetPlane(&p[rwFRUSTUMPLANENEAR], &back, &N[0]);
    SidePlane(&p[rwFRUSTUMPLANELEFT], &F[1], &N[1], &F[2], &N[1]);
    SidePlane(&p[rwFRUSTUMPLANETOP], &F[1], &F[0], &N[1], &N[1]);
    SidePlane(&p[rwFRUSTUMPLANERIGHT], &F[3], &N[3], &F[0], &N[3]);
    SidePlane(&p[rwFRUSTUMPLANEBOTTOM], &F[3], &F[2], &N[3], &N[3]);
    RwBBoxCalculate(&cam->frustumBoundBox, cam->frustumCorners, 8);
}

// What the driver derives from a camera at every update: its projection's
// elements and, over a fog range that is not empty, the linear-fog constants.
static bool ProjectionFinite(const RwCamera *cam)
{
    const RwReal range = cam->farPlane - cam->nearPlane;
    const RwReal depth = cam->projectionType == rwPARALLEL ? 1.0f / range : cam->farPlane / range;
    const RwReal projection[5] = {cam->viewOffset.x * cam->recipViewWindow.x,
                                  cam->viewOffset.y * cam->recipViewWindow.y, depth, depth * cam->nearPlane, range};
    const RwReal fogRange = cam->farPlane - cam->fogPlane;
    const RwReal fog[2] = {fogRange == 0.0f ? 0.0f : -1.0f / fogRange,
                           fogRange == 0.0f ? 0.0f : cam->farPlane / fogRange};
    return RwRealsFinite(projection, 5) && RwRealsFinite(fog, 2);
}

static bool FrustumValuesFinite(const RwCamera *cam)
{
    const RwMatrix &v = cam->viewMatrix;
    const RwV3d rows[4] = {v.right, v.up, v.at, v.pos};
    if (!RwRealsFinite(&rows[0].x, 12) || !RwRealsFinite(&cam->frustumCorners[0].x, 24) ||
        !RwRealsFinite(&cam->frustumBoundBox.sup.x, 6)) {
        return false;
    }
    for (const RwFrustumPlane &p : cam->frustumPlanes) {
        const RwReal plane[4] = {p.plane.normal.x, p.plane.normal.y, p.plane.normal.z, p.plane.distance};
        if (!RwRealsFinite(plane, 4)) {
            return false;
        }
    }
    return true;
}

// The camera seen from the world matrix m: a view exists only where m can be
// inverted, and everything built from it must be finite.
static bool BuildView(RwCamera *cam, const RwMatrix *m)
{
    if (!ProjectionFinite(cam) || !RwMatrixInvertible(m)) {
        return false;
    }
    BuildFrustum(cam, m);
    return FrustumValuesFinite(cam);
}

// A frustum no sphere or box is inside, and a view matrix that puts every
// point behind the eye: the camera draws nothing rather than infinities.
static void BuildBlindView(RwCamera *cam)
{
    RwMatrix &v = cam->viewMatrix;
    v.right = v.up = v.at = {0.0f, 0.0f, 0.0f};
    v.pos = {0.0f, 0.0f, -1.0f};
    v.flags = 0;
    for (RwFrustumPlane &p : cam->frustumPlanes) {
        p.plane.normal = {0.0f, 0.0f, 0.0f};
        p.plane.distance = -FLT_MAX;
        p.closestX = p.closestY = p.closestZ = 1;
        p.pad = 0;
    }
    for (RwV3d &corner : cam->frustumCorners) {
        corner = {0.0f, 0.0f, 0.0f};
    }
    RwBBoxCalculate(&cam->frustumBoundBox, cam->frustumCorners, 8);
}

RwBool RwCameraIsBlind(const RwCamera *camera)
{
    const RwFrustumPlane &p = camera->frustumPlanes[rwFRUSTUMPLANEFAR];
    return p.plane.distance == -FLT_MAX && p.plane.normal.x == 0.0f && p.plane.normal.y == 0.0f &&
                   p.plane.normal.z == 0.0f
               ? TRUE
               : FALSE;
}

RwObjectHasFrame *RwCameraSync(RwObjectHasFrame *object)
{
    RwCamera *cam = reinterpret_cast<RwCamera *>(object);
    RwFrame *frame = RwCameraGetFrame(cam);
    RwMatrix identity;
    const RwMatrix *m = frame ? RwFrameGetWorldMatrix(frame) : RwMatrixSetIdentity(&identity);
    if (!BuildView(cam, m)) {
        BuildBlindView(cam);
    }
    return object;
}

RwCamera *RwCameraValidateView(RwCamera *camera)
{
    RwCameraSync(&camera->object);
    if (RwCameraIsBlind(camera)) {
        RwErrorRaise(rwID_COREPLUGIN, RwErrorMakeCode(E_RW_BADCAMERAVALUE, "Invalid camera parameters"));
        return nullptr;
    }
    return camera;
}

static RwCamera *MarkFrameDirty(RwCamera *camera)
{
    RwFrame *frame = RwCameraGetFrame(camera);
    if (frame) {
        RwFrameMarkDirty(frame);
    }
    return camera;
}

RwCamera *RwCameraDefaultBeginUpdate(RwCamera *camera)
{
    RwEngineInstance->curCamera = camera;
    RwFrameSyncDirtyList();
    if (!RwStandardFunction(rwSTANDARDCAMERABEGINUPDATE, nullptr, camera, 0)) {
        RwEngineInstance->curCamera = nullptr;   // no update is under way
        return nullptr;
    }
    return camera;
}

RwCamera *RwCameraDefaultEndUpdate(RwCamera *camera)
{
    if (!RwStandardFunction(rwSTANDARDCAMERAENDUPDATE, nullptr, camera, 0)) {
        return nullptr;
    }
    RwEngineInstance->curCamera = nullptr;
    return camera;
}

RwCamera *RwCameraBeginUpdate(RwCamera *camera)
{
    return camera->beginUpdate(camera);
}

RwCamera *RwCameraEndUpdate(RwCamera *camera)
{
    return camera->endUpdate(camera);
}

RwCamera *RwCameraClear(RwCamera *camera, RwRGBA *colour, RwInt32 clearMode)
{
    if (RwStandardFunction(rwSTANDARDCAMERACLEAR, camera, colour, clearMode) <= 0) {
        return nullptr;
    }
    return camera;
}

RwCamera *RwCameraShowRaster(RwCamera *camera, void *deviceWindow, RwUInt32 flags)
{
    if (!camera->frameBuffer) {
        return nullptr;   // nothing to present
    }
    if (!RwRasterShowRaster(camera->frameBuffer, deviceWindow, flags)) {
        return nullptr;
    }
    return camera;
}

RwCamera *RwCameraSetProjection(RwCamera *camera, RwCameraProjection projection)
{
    if (projection != rwPERSPECTIVE && projection != rwPARALLEL) {
        RwErrorRaise(rwID_COREPLUGIN, RwErrorMakeCode(E_RW_BADCAMERAVALUE, "Invalid projection type specified"));
        return nullptr;
    }
    camera->projectionType = projection;
    UpdateDepthScale(camera);
    return MarkFrameDirty(camera);
}

RwCamera *RwCameraSetViewWindow(RwCamera *camera, const RwV2d *viewWindow)
{
    camera->viewWindow = *viewWindow;
    camera->recipViewWindow.x = 1.0f / viewWindow->x;
    camera->recipViewWindow.y = 1.0f / viewWindow->y;
    return MarkFrameDirty(camera);
}

RwCamera *RwCameraSetViewOffset(RwCamera *camera, const RwV2d *offset)
{
    camera->viewOffset = *offset;
    return MarkFrameDirty(camera);
}

RwCamera *RwCameraSetNearClipPlane(RwCamera *camera, RwReal nearClip)
{
    camera->nearPlane = nearClip;
    UpdateDepthScale(camera);
    return MarkFrameDirty(camera);
}

RwCamera *RwCameraSetFarClipPlane(RwCamera *camera, RwReal farClip)
{
    camera->farPlane = farClip;
    UpdateDepthScale(camera);
    return MarkFrameDirty(camera);
}

RwCamera *RwCameraSetFogDistance(RwCamera *camera, RwReal fogDistance)
{
    camera->fogPlane = fogDistance;
    return camera;
}

RwFrustumTestResult RwCameraFrustumTestSphere(const RwCamera *camera, const RwSphere *sphere)
{
    RwFrustumTestResult result = rwSPHEREINSIDE;
    for (const RwFrustumPlane &p : camera->frustumPlanes) {
        const RwReal s = RwV3dDotProduct(&p.plane.normal, &sphere->center) - p.plane.distance;
        if (s > sphere->radius) {
            return rwSPHEREOUTSIDE;
        }
        if (s > -sphere->radius) {
            result = rwSPHEREBOUNDARY;
        }
    }
    return result;
}

RwCamera *RwCameraCreate(void)
{
    const RwCameraGlobals *g = CameraGlobals();
    if (!g) {
        return nullptr;
    }
    RwCamera *cam = static_cast<RwCamera *>(RwFreeListAlloc(g->cameraFreeList, rwMEMHINTDUR_EVENT | rwCAMERAHINT));
    if (!cam) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    rwObjectInitialize(cam, rwCAMERA, 0);
    cam->object.lFrame.next = cam->object.lFrame.prev = nullptr;
    cam->object.sync = RwCameraSync;
    cam->projectionType = rwPERSPECTIVE;
    cam->beginUpdate = RwCameraDefaultBeginUpdate;
    cam->endUpdate = RwCameraDefaultEndUpdate;
    cam->frameBuffer = nullptr;
    cam->zBuffer = nullptr;
    cam->viewWindow = {1.0f, 1.0f};
    cam->recipViewWindow = {1.0f, 1.0f};
    cam->viewOffset = {0.0f, 0.0f};
    cam->nearPlane = 0.05f;
    cam->farPlane = 10.0f;
    cam->fogPlane = 5.0f;
    UpdateDepthScale(cam);
    // Until it hangs on a frame the camera looks down +z from the origin.
    RwMatrix identity;
    BuildFrustum(cam, RwMatrixSetIdentity(&identity));
    cam->viewMatrix.flags = 0;
    if (!RwPluginRegistryInitObject(&cameraTKList, cam)) {
        RwFreeListFree(g->cameraFreeList, cam);
        return nullptr;
    }
    return cam;
}

RwBool RwCameraDestroy(RwCamera *camera)
{
    const RwCameraGlobals *g = CameraGlobals();
    if (!g) {
        return FALSE;
    }
    RwPluginRegistryDeInitObject(&cameraTKList, camera);
    RwObjectHasFrameReleaseFrame(camera);
    if (RwEngineInstance->curCamera == camera) {
        RwEngineInstance->curCamera = nullptr;
    }
    RwFreeListFree(g->cameraFreeList, camera);
    return TRUE;
}

RwInt32 RwCameraRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                               RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB)
{
    return RwPluginRegistryAddPlugin(&cameraTKList, size, pluginID, constructCB, destructCB, copyCB);
}

RwInt32 RwCameraRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                     RwPluginDataChunkWriteCallBack writeCB,
                                     RwPluginDataChunkGetSizeCallBack getSizeCB)
{
    return RwPluginRegistryAddPluginStream(&cameraTKList, pluginID, readCB, writeCB, getSizeCB);
}

RwInt32 RwCameraGetPluginOffset(RwUInt32 pluginID)
{
    return RwPluginRegistryGetPluginOffset(&cameraTKList, pluginID);
}

// A camera needs finite values, a view window it can divide by and near !=
// far (both divide the depth range); a perspective camera also divides by
// near, which must lie in front of it. A parallel one may clip at 0 or behind.
// What is derived from them must be finite too: a denormal window has an
// infinite reciprocal, clip planes far apart an infinite depth range.
static bool CameraValuesUsable(const RwV2d &window, const RwV2d &offset, RwReal nearClip, RwReal farClip,
                               RwReal fog, RwInt32 projection)
{
    const RwReal all[7] = {window.x, window.y, offset.x, offset.y, nearClip, farClip, fog};
    if (!RwRealsFinite(all, 7) || window.x == 0.0f || window.y == 0.0f || nearClip == farClip ||
        (projection != rwPARALLEL && nearClip <= 0.0f)) {
        return false;
    }
    const bool perspective = projection != rwPARALLEL;
    const RwReal derived[5] = {1.0f / window.x, 1.0f / window.y, farClip - nearClip,
                               perspective ? 1.0f / nearClip : 0.0f, perspective ? 1.0f / farClip : 0.0f};
    return RwRealsFinite(derived, 5);
}

RwCamera *RwCameraStreamRead(RwStream *stream)
{
    RwUInt32 length = 0;
    if (!RwStreamFindChunk(stream, rwID_STRUCT, &length, nullptr)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    if (length < rwCAMERASTREAMSIZE) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    RwUInt8 body[rwCAMERASTREAMSIZE];
    if (!RwStreamReadExact(stream, body, sizeof body)) {
        return nullptr;
    }
    if (length > rwCAMERASTREAMSIZE && !RwStreamSkip(stream, length - rwCAMERASTREAMSIZE)) {
        return nullptr;
    }
    const RwV2d window = {ReadF32(body + 0), ReadF32(body + 4)};
    const RwV2d offset = {ReadF32(body + 8), ReadF32(body + 12)};
    const RwReal nearClip = ReadF32(body + 16);
    const RwReal farClip = ReadF32(body + 20);
    const RwReal fog = ReadF32(body + 24);
    const RwInt32 projection = ReadI32(body + 28);
    if (!CameraValuesUsable(window, offset, nearClip, farClip, fog, projection)) {
        RwErrorRaise(rwID_COREPLUGIN, RwErrorMakeCode(E_RW_BADCAMERAVALUE, "Invalid camera parameters"));
        return nullptr;
    }
    if (projection != rwPERSPECTIVE && projection != rwPARALLEL) {
        RwErrorRaise(rwID_COREPLUGIN, RwErrorMakeCode(E_RW_BADCAMERAVALUE, "Invalid projection type specified"));
        return nullptr;
    }
    RwCamera *cam = RwCameraCreate();
    if (!cam) {
        return nullptr;
    }
    if (!RwPluginRegistryReadDataChunks(&cameraTKList, stream, cam)) {
        RwCameraDestroy(cam);
        return nullptr;
    }
    RwCameraSetViewWindow(cam, &window);
    RwCameraSetViewOffset(cam, &offset);
    RwCameraSetNearClipPlane(cam, nearClip);
    RwCameraSetFarClipPlane(cam, farClip);
    cam->fogPlane = fog;
    RwCameraSetProjection(cam, static_cast<RwCameraProjection>(projection));
    // Until it hangs on a frame the camera looks from the origin.
    if (!RwCameraValidateView(cam)) {
        RwCameraDestroy(cam);
        return nullptr;
    }
    return cam;
}

void *RwCameraModuleOpen(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    cameraModuleOffset = offset;
    RwCameraGlobals *g = reinterpret_cast<RwCameraGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    g->cameraFreeList = RwFreeListCreateAndPreallocate(cameraTKList.sizeOfStruct, 4, 16, 1, nullptr,
                                                       rwMEMHINTDUR_GLOBAL | rwCAMERAHINT);
    if (!g->cameraFreeList) {
        return nullptr;
    }
    ++cameraModuleOpenCount;
    return instance;
}

void *RwCameraModuleClose(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    RwCameraGlobals *g = reinterpret_cast<RwCameraGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    if (g->cameraFreeList) {
        RwFreeListDestroy(g->cameraFreeList);
        g->cameraFreeList = nullptr;
    }
    --cameraModuleOpenCount;
    return instance;
}
