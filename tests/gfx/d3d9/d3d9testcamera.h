// A started device with one camera of the window's size, for tests that draw through a camera update.
#pragma once

#include "d3d9testdevice.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/raster.h"
#include "gfx/d3d9/d3d9renderstate.h"

class CameraDevice : public StartedDevice {
protected:
    static void SetUpTestSuite()
    {
        StartedDevice::SetUpTestSuite();
        camera = RwCameraCreate();
        cameraFrame = RwFrameCreate();
        ASSERT_NE(camera, nullptr);
        RwCameraSetFrame(camera, cameraFrame);
        camera->frameBuffer = RwRasterCreate(1024, 768, 0, rwRASTERTYPECAMERA);
        camera->zBuffer = RwRasterCreate(1024, 768, 0, rwRASTERTYPEZBUFFER);
        ASSERT_NE(camera->frameBuffer, nullptr);
        RwCameraSetNearClipPlane(camera, 0.5f);
        RwCameraSetFarClipPlane(camera, 100.0f);
    }

    static void TearDownTestSuite()
    {
        RwRasterDestroy(camera->frameBuffer);
        RwRasterDestroy(camera->zBuffer);
        camera->frameBuffer = camera->zBuffer = nullptr;
        RwCameraSetFrame(camera, nullptr);
        RwCameraDestroy(camera);
        RwFrameDestroy(cameraFrame);
        StartedDevice::TearDownTestSuite();
    }

    // Clears to black and begins the camera's update with culling off.
    bool Begin()
    {
        RwRGBA black = {0, 0, 0, 255};
        if (!RwCameraClear(camera, &black, rwCAMERACLEARIMAGE | rwCAMERACLEARZ) || !RwCameraBeginUpdate(camera))
            return false;
        RwD3D9SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        return true;
    }
    void End() { RwCameraEndUpdate(camera); }

    static inline RwCamera *camera;
    static inline RwFrame *cameraFrame;
};
