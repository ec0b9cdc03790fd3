// Cameras: projection, view window, clip planes, frustum and the update bracket.
#pragma once

#include "bbox.h"
#include "frame.h"
#include "matrix.h"
#include "plugin.h"
#include "rwtypes.h"

struct RwRaster;
struct RwStream;
struct RwCamera;

typedef RwCamera *(*RwCameraBeginUpdateFunc)(RwCamera *camera);
typedef RwCamera *(*RwCameraEndUpdateFunc)(RwCamera *camera);

enum RwCameraProjection : RwInt32 {
    rwNACAMERAPROJECTION = 0,
    rwPERSPECTIVE = 1,
    rwPARALLEL = 2,
};

// Clear-mode bits of RwCameraClear.
enum : RwInt32 {
    rwCAMERACLEARIMAGE = 0x1,
    rwCAMERACLEARZ = 0x2,
};

// Results of RwCameraFrustumTestSphere.
enum RwFrustumTestResult : RwInt32 {
    rwSPHEREOUTSIDE = 0,
    rwSPHEREBOUNDARY = 1,
    rwSPHEREINSIDE = 2,
};

struct RwPlane {
    RwV3d normal;
    RwReal distance;
};

// A frustum plane; normals point out of the frustum. The closest bytes are 1
// where the normal's component is not negative: they pick the box corner that
// lies furthest along the normal.
struct RwFrustumPlane {
    RwPlane plane;
    RwUInt8 closestX;
    RwUInt8 closestY;
    RwUInt8 closestZ;
    RwUInt8 pad;
};
static_assert(sizeof(RwFrustumPlane) == 20, "frustum plane is five words");

enum : RwInt32 {
    rwFRUSTUMPLANEFAR = 0,
    rwFRUSTUMPLANENEAR = 1,
    rwFRUSTUMPLANELEFT = 2,     // the -x side
    rwFRUSTUMPLANETOP = 3,      // the +y side
    rwFRUSTUMPLANERIGHT = 4,    // the +x side
    rwFRUSTUMPLANEBOTTOM = 5,   // the -y side
};

struct RwCamera {
    RwObjectHasFrame object;            // type 4
    RwInt32 projectionType;
    RwCameraBeginUpdateFunc beginUpdate;
    RwCameraEndUpdateFunc endUpdate;
    RwMatrix viewMatrix;
    RwRaster *frameBuffer;
    RwRaster *zBuffer;
    RwV2d viewWindow;                   // half extents at distance 1
    RwV2d recipViewWindow;
    RwV2d viewOffset;
    RwReal nearPlane;
    RwReal farPlane;
    RwReal fogPlane;
    RwReal zScale;
    RwReal zShift;
    RwFrustumPlane frustumPlanes[6];
    RwBBox frustumBoundBox;
    RwV3d frustumCorners[8];            // near corners, then far corners, same order
};
static_assert(sizeof(RwCamera) == 388, "camera base size is 388 bytes");

enum : RwUInt32 {
    rwCAMERA = 4,                       // object type
    rwID_CAMERA = 0x05,                 // camera chunk type
    rwCAMERASTREAMSIZE = 32,            // body of the camera struct chunk
};

// Both fail with error 0x80000001 outside engine start to stop.
RwCamera *RwCameraCreate(void);
RwBool RwCameraDestroy(RwCamera *camera);
RwCamera *RwCameraBeginUpdate(RwCamera *camera);
RwCamera *RwCameraEndUpdate(RwCamera *camera);
RwCamera *RwCameraDefaultBeginUpdate(RwCamera *camera);
RwCamera *RwCameraDefaultEndUpdate(RwCamera *camera);
RwCamera *RwCameraClear(RwCamera *camera, RwRGBA *colour, RwInt32 clearMode);
RwCamera *RwCameraShowRaster(RwCamera *camera, void *deviceWindow, RwUInt32 flags);
RwCamera *RwCameraSetProjection(RwCamera *camera, RwCameraProjection projection);
RwCamera *RwCameraSetViewWindow(RwCamera *camera, const RwV2d *viewWindow);
RwCamera *RwCameraSetViewOffset(RwCamera *camera, const RwV2d *offset);
RwCamera *RwCameraSetNearClipPlane(RwCamera *camera, RwReal nearClip);
RwCamera *RwCameraSetFarClipPlane(RwCamera *camera, RwReal farClip);
RwCamera *RwCameraSetFogDistance(RwCamera *camera, RwReal fogDistance);
RwFrustumTestResult RwCameraFrustumTestSphere(const RwCamera *camera, const RwSphere *sphere);
RwInt32 RwCameraRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                               RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB);
RwInt32 RwCameraRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                     RwPluginDataChunkWriteCallBack writeCB,
                                     RwPluginDataChunkGetSizeCallBack getSizeCB);
RwInt32 RwCameraGetPluginOffset(RwUInt32 pluginID);
RwCamera *RwCameraStreamRead(RwStream *stream);
// The frame-sync callback every camera starts with: rebuilds the view matrix,
// frustum planes, corners and box from the frame's world matrix.
// A camera whose frame cannot be inverted, or whose view, frustum or
// projection would not be finite there, is given a blind view instead: nothing
// is inside its frustum and every point lies behind it.
RwObjectHasFrame *RwCameraSync(RwObjectHasFrame *object);
// TRUE while the camera has the blind view.
RwBool RwCameraIsBlind(const RwCamera *camera);
// Rebuilds the camera's view from its frame as it is now (from the origin
// without a frame): NULL with error 0x80000003 when it would be blind.
RwCamera *RwCameraValidateView(RwCamera *camera);

inline RwCamera *RwCameraSetFrame(RwCamera *camera, RwFrame *frame)
{
    RwObjectHasFrameSetFrame(camera, frame);
    return camera;
}
inline RwFrame *RwCameraGetFrame(const RwCamera *camera) { return RwObjectGetFrame(camera); }
inline RwCamera *RwCameraSetRaster(RwCamera *camera, RwRaster *raster)
{
    camera->frameBuffer = raster;
    return camera;
}
inline RwCamera *RwCameraSetZRaster(RwCamera *camera, RwRaster *raster)
{
    camera->zBuffer = raster;
    return camera;
}
