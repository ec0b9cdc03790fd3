// Tests of the standard-function table, frames on the device and the device reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "d3d9testcamera.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/im3d.h"
#include "gfx/core/raster.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9raster.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/d3d9/d3d9standard.h"
#include "gfx/d3d9/d3d9state.h"
#include "gfx/d3d9/d3d9videomode.h"

namespace {

CountingDevice *Log;    // the device the current test sees, for the restore callback

class DeviceFrame : public CameraDevice {
protected:
    // The whole library on the game's window, with one camera of the window's size.
    static void SetUpTestSuite()
    {
        RwD3D9SetMultithreadSafe(TRUE);
        CameraDevice::SetUpTestSuite();
        RwCameraSetNearClipPlane(camera, 0.05f);
    }

    void SetUp() override
    {
        CameraDevice::SetUp();
        ASSERT_EQ(real->TestCooperativeLevel(), D3D_OK);
        Log = device;
    }

    void TearDown() override
    {
        Log = nullptr;
        CameraDevice::TearDown();
        RwD3D9SetDeviceRestoreCallback(nullptr);
    }

    // Index of the first call of that name at or after `from`, or -1.
    int Find(const std::string &name, size_t from = 0) const
    {
        for (size_t i = from; i < device->calls.size(); i++)
            if (device->calls[i] == name)
                return static_cast<int>(i);
        return -1;
    }

    // Two 64x64 camera textures: one the device can draw into, one it cannot.
    void MakeCameraTextures(RwRaster **drawn, RwRaster **copied)
    {
        *drawn = RwRasterCreate(64, 64, 0, rwRASTERTYPECAMERATEXTURE | rwRASTERFORMAT888);
        device->refuseTargetTextures = true;
        *copied = RwRasterCreate(64, 64, 0, rwRASTERTYPECAMERATEXTURE | rwRASTERFORMAT888);
        device->refuseTargetTextures = false;
        ASSERT_NE(*drawn, nullptr);
        ASSERT_NE(*copied, nullptr);
    }

    // Puts the device into the state that needs a reset: a default-pool
    // resource alive across a reset makes it fail.
    IDirect3DVertexBuffer9 *ForceNotReset(void)
    {
        IDirect3DVertexBuffer9 *pinned = nullptr;
        EXPECT_EQ(real->CreateVertexBuffer(64, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &pinned, nullptr), D3D_OK);
        D3DPRESENT_PARAMETERS p = rwD3D9Driver.present;
        EXPECT_EQ(real->Reset(&p), D3DERR_INVALIDCALL);
        EXPECT_EQ(real->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
        return pinned;
    }
};

// Clears the camera and runs an empty update.
bool RenderFrame(RwCamera *camera, RwRGBA colour)
{
    if (!RwCameraClear(camera, &colour, rwCAMERACLEARIMAGE | rwCAMERACLEARZ))
        return false;
    if (!RwCameraBeginUpdate(camera))
        return false;
    RwCameraEndUpdate(camera);
    return true;
}

// Resizes the window and draws an empty black frame, which resets the device to it.
bool ResizeAndDraw(RwCamera *camera, HWND window, int width, int height)
{
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    KivTestPumpMessages();
    return RenderFrame(camera, {0, 0, 0, 255});
}

// Records the flags of every clear on top of the call names.
class ClearRecorder : public CountingDevice {
public:
    using CountingDevice::CountingDevice;
    std::vector<DWORD> clearFlags;
    HRESULT STDMETHODCALLTYPE Clear(DWORD count, const D3DRECT *rects, DWORD flags, D3DCOLOR colour, float z,
                                    DWORD stencil) override
    {
        clearFlags.push_back(flags);
        return CountingDevice::Clear(count, rects, flags, colour, z, stencil);
    }
};

void NoteCallback(void)
{
    if (Log)
        Log->calls.emplace_back("restore callback");
}

} // namespace

TEST(StandardFunctions, TableLeavesUnsupportedEntriesAtZero)
{
    RwStandardFunc table[rwSTANDARDNUMOFSTANDARD];
    std::memset(table, 0, sizeof(table));
    ASSERT_TRUE(RwD3D9GetStandardFunctions(table, nullptr, rwSTANDARDNUMOFSTANDARD));
    RwStandardFunc zero = reinterpret_cast<RwStandardFunc>(RwReturnZero);
    EXPECT_EQ(table[rwSTANDARDNASTANDARD], zero);
    EXPECT_EQ(table[rwSTANDARDHINTRENDERF2B], zero);
    EXPECT_EQ(table[rwSTANDARDCAMERABEGINUPDATE], RwD3D9CameraBeginUpdate);
    EXPECT_EQ(table[rwSTANDARDCAMERAENDUPDATE], RwD3D9CameraEndUpdate);
    EXPECT_EQ(table[rwSTANDARDRASTERSHOWRASTER], RwD3D9RasterShowRaster);
    EXPECT_EQ(table[rwSTANDARDCAMERACLEAR], RwD3D9CameraClear);
    for (RwStandardFunc f : table)
        EXPECT_NE(f, nullptr);

    // A short table is filled no further.
    std::memset(table, 0, sizeof(table));
    ASSERT_TRUE(RwD3D9GetStandardFunctions(table, nullptr, 5));
    EXPECT_EQ(table[rwSTANDARDCAMERABEGINUPDATE], RwD3D9CameraBeginUpdate);
    for (int i = 5; i < rwSTANDARDNUMOFSTANDARD; i++)
        EXPECT_EQ(table[i], nullptr) << i;
    EXPECT_FALSE(RwD3D9GetStandardFunctions(nullptr, nullptr, 5));
}

TEST_F(DeviceFrame, ResetReleasesResetsRestoresThenCallsBack)
{
    const D3DLIGHT9 light = {D3DLIGHT_DIRECTIONAL, {1, 0.5f, 0.25f, 1}, {}, {}, {}, {0, -1, 0}, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(RwD3D9SetLight(0, &light));
    ASSERT_TRUE(RwD3D9EnableLight(0, TRUE));
    RwD3D9SetCullMode(D3DCULL_NONE);
    RwD3D9FlushRenderStates();

    IDirect3DVertexBuffer9 *pinned = ForceNotReset();
    pinned->Release();
    RwD3D9SetDeviceRestoreCallback(NoteCallback);
    device->ResetLog();
    ASSERT_TRUE(RwD3D9TestDeviceAndBeginScene());

    // Release sequence: everything unbound before the reset.
    int tcl = Find("TestCooperativeLevel");
    int reset = Find("Reset");
    ASSERT_GE(tcl, 0);
    ASSERT_GT(reset, tcl);
    int unbindTexture = Find("SetTexture", tcl);
    int unbindShader = Find("SetVertexShader", tcl);
    EXPECT_GT(unbindTexture, tcl);
    EXPECT_LT(unbindTexture, reset);
    EXPECT_LT(unbindShader, reset);
    EXPECT_EQ(std::count(device->calls.begin(), device->calls.begin() + reset, std::string("SetTexture")), 8);
    EXPECT_EQ(std::count(device->calls.begin(), device->calls.begin() + reset,
                         std::string("SetStreamSource")),
              4);
    // Restore sequence: surfaces read again, states and lights sent again,
    // then the callback, then the scene.
    int target = Find("GetRenderTarget", reset);
    int state = Find("SetRenderState", reset);
    int setLight = Find("SetLight", reset);
    int enable = Find("LightEnable", reset);
    int callback = Find("restore callback", reset);
    int scene = Find("BeginScene", reset);
    EXPECT_GT(target, reset);
    EXPECT_GT(state, target);
    EXPECT_GT(setLight, state);
    EXPECT_GT(enable, setLight);
    EXPECT_GT(callback, enable);
    EXPECT_GT(scene, callback);

    DWORD cull = 0;
    real->GetRenderState(D3DRS_CULLMODE, &cull);
    EXPECT_EQ(cull, static_cast<DWORD>(D3DCULL_NONE)) << "render states are sent again after the reset";
    BOOL on = FALSE;
    real->GetLightEnable(0, &on);
    EXPECT_TRUE(on);
    D3DLIGHT9 back;
    real->GetLight(0, &back);
    EXPECT_EQ(back.Diffuse.g, 0.5f);
    RwD3D9SetCullMode(D3DCULL_CW);
}

TEST_F(DeviceFrame, ClearedColourIsReadBackFromTheDevice)
{
    const RwRGBA colours[] = {{10, 200, 30, 255}, {250, 5, 120, 255}};
    for (const RwRGBA &c : colours) {
        ASSERT_TRUE(RenderFrame(camera, c));
        DWORD expected = (c.red << 16) | (c.green << 8) | c.blue;
        EXPECT_EQ(ReadPixel(0, 0), expected);
        EXPECT_EQ(ReadPixel(1023, 767), expected);
        EXPECT_EQ(ReadPixel(512, 300), expected);
        EXPECT_NE(RwCameraShowRaster(camera, window, 0), nullptr);
        EXPECT_FALSE(rwD3D9Driver.inScene);
    }
    EXPECT_EQ(device->Count("BeginScene"), 2);
    EXPECT_EQ(device->Count("EndScene"), 2);
    EXPECT_EQ(device->Count("Present"), 2);
    EXPECT_EQ(device->Count("Reset"), 0);
}

TEST_F(DeviceFrame, SubRasterCameraClearsOnlyItsRectangle)
{
    const RwRGBA black = {0, 0, 0, 255};
    ASSERT_TRUE(RenderFrame(camera, black));
    RwRaster *whole = camera->frameBuffer;
    RwRaster *part = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    ASSERT_NE(part, nullptr);
    const RwRect rect = {100, 50, 200, 120};
    ASSERT_NE(RwRasterMakeSubRaster(part, whole, &rect), nullptr);
    camera->frameBuffer = part;
    const RwRGBA blue = {0, 0, 255, 255};
    EXPECT_TRUE(RenderFrame(camera, blue));
    camera->frameBuffer = whole;
    EXPECT_EQ(ReadPixel(100, 50), 0x0000FFu);
    EXPECT_EQ(ReadPixel(299, 169), 0x0000FFu);
    EXPECT_EQ(ReadPixel(99, 50), 0u);
    EXPECT_EQ(ReadPixel(300, 170), 0u);
    RwRasterDestroy(part);
    RwCameraShowRaster(camera, window, 0);
}

// A camera texture the device could not make a render target takes the
// cleared picture and the one drawn by copies that keep to the pool rules.
TEST_F(DeviceFrame, CameraTexturesThatCannotBeDrawnIntoReceiveThePicture)
{
    device->refuseTargetTextures = true;
    RwRaster *texture = RwRasterCreate(64, 64, 0, rwRASTERTYPECAMERATEXTURE | rwRASTERFORMAT888);
    device->refuseTargetTextures = false;
    ASSERT_NE(texture, nullptr);
    D3DSURFACE_DESC desc = {};
    static_cast<IDirect3DTexture9 *>(RwD3D9RasterGetExtension(texture)->texture)->GetLevelDesc(0, &desc);
    ASSERT_EQ(0u, desc.Usage & D3DUSAGE_RENDERTARGET);
    RwRaster *whole = camera->frameBuffer;
    camera->frameBuffer = texture;
    device->strictCopies = true;
    device->ResetLog();
    EXPECT_TRUE(RenderFrame(camera, {0, 200, 0, 255}));
    camera->frameBuffer = whole;
    EXPECT_EQ("", device->Refusals());
    // Read back from a back buffer that no longer holds the picture.
    ASSERT_EQ(D3D_OK, real->ColorFill(rwD3D9Driver.defaultColorSurface, nullptr, 0xFF0000FF));
    const RwUInt8 *p = RwRasterLock(texture, 0, rwRASTERLOCKREAD);
    ASSERT_NE(p, nullptr);
    for (int at : {0, 63 * texture->stride + 4 * 63}) {
        RwUInt32 v;
        std::memcpy(&v, p + at, 4);
        EXPECT_EQ(0x00C800u, v & 0xFFFFFF) << at;
    }
    RwRasterUnlock(texture);
    RwRasterDestroy(texture);
    RwCameraShowRaster(camera, window, 0);
}

// The colour of a camera texture's level 0 at (x, y), read through a lock.
static RwUInt32 TexturePixel(RwRaster *texture, int x, int y)
{
    const RwUInt8 *p = RwRasterLock(texture, 0, rwRASTERLOCKREAD);
    RwUInt32 v = 0xDEAD;
    if (p) {
        std::memcpy(&v, p + y * texture->stride + 4 * x, 4);
        RwRasterUnlock(texture);
    }
    return v & 0xFFFFFF;
}

// Clearing a camera texture that cannot be drawn into clears through the back
// buffer, whatever target the camera drawn before left bound: that other
// texture keeps its picture and this one takes the clear colour.
TEST_F(DeviceFrame, ClearingACameraTextureThatCannotBeDrawnIntoLeavesOtherTargetsAlone)
{
    RwRaster *drawn = nullptr, *copied = nullptr;
    ASSERT_NO_FATAL_FAILURE(MakeCameraTextures(&drawn, &copied));
    RwRaster *whole = camera->frameBuffer;
    device->strictCopies = true;
    device->ResetLog();
    camera->frameBuffer = drawn;
    EXPECT_TRUE(RenderFrame(camera, {0, 0, 255, 255}));
    // The back buffer holds something else than either colour.
    ASSERT_EQ(D3D_OK, real->ColorFill(rwD3D9Driver.defaultColorSurface, nullptr, 0xFF00FF00));
    camera->frameBuffer = copied;
    RwRGBA red = {255, 0, 0, 255};
    EXPECT_TRUE(RwCameraClear(camera, &red, rwCAMERACLEARIMAGE | rwCAMERACLEARZ));
    camera->frameBuffer = whole;
    EXPECT_EQ("", device->Refusals());
    for (int at : {0, 63}) {
        EXPECT_EQ(0x0000FFu, TexturePixel(drawn, at, at)) << at;
        EXPECT_EQ(0xFF0000u, TexturePixel(copied, at, at)) << at;
    }
    RwRasterDestroy(copied);
    RwRasterDestroy(drawn);
    RwCameraShowRaster(camera, window, 0);
}

// A begin that fails once it has planned the copy at its end (the device is
// lost at its last check) leaves no copy for the next camera's end: the
// texture drawn next keeps its own picture.
TEST_F(DeviceFrame, ABeginThatFailsLeavesNothingForTheNextCamerasEnd)
{
    RwRaster *drawn = nullptr, *copied = nullptr;
    ASSERT_NO_FATAL_FAILURE(MakeCameraTextures(&drawn, &copied));
    RwRaster *whole = camera->frameBuffer;
    camera->frameBuffer = copied;
    device->loseAtCheck = 2;
    EXPECT_EQ(nullptr, RwCameraBeginUpdate(camera));
    // No update is under way: 2D offsets and fog find no current camera.
    EXPECT_EQ(nullptr, RwEngineInstance->curCamera);
    EXPECT_EQ(nullptr, RwD3D9GetCurrentCamera());
    camera->frameBuffer = drawn;
    EXPECT_TRUE(RwD3D9CheckDeviceReset());
    // The back buffer holds another colour than the texture's.
    ASSERT_EQ(D3D_OK, real->ColorFill(rwD3D9Driver.defaultColorSurface, nullptr, 0xFF00FF00));
    EXPECT_TRUE(RenderFrame(camera, {0, 0, 255, 255}));
    camera->frameBuffer = whole;
    EXPECT_FALSE(device->lost);
    EXPECT_EQ(0x0000FFu, TexturePixel(drawn, 0, 0));
    RwRasterDestroy(copied);
    RwRasterDestroy(drawn);
    RwCameraShowRaster(camera, window, 0);
}

// A clear inside an update whose target the device refuses fails and leaves
// the update's copy at end in place: the texture the update drew still gets
// the picture.
TEST_F(DeviceFrame, AClearWhoseTargetIsRefusedKeepsTheUpdatesCopyAtEnd)
{
    RwRaster *drawn = nullptr, *copied = nullptr;
    ASSERT_NO_FATAL_FAILURE(MakeCameraTextures(&drawn, &copied));
    RwRaster *whole = camera->frameBuffer;
    camera->frameBuffer = copied;
    RwRGBA blue = {0, 0, 255, 255}, red = {255, 0, 0, 255};
    ASSERT_TRUE(RwCameraClear(camera, &blue, rwCAMERACLEARIMAGE | rwCAMERACLEARZ));
    ASSERT_EQ(D3D_OK, real->ColorFill(rwD3D9Driver.defaultColorSurface, nullptr, 0xFF00FF00));
    ASSERT_NE(nullptr, RwCameraBeginUpdate(camera));
    camera->frameBuffer = drawn;
    device->refusedTargets = 1;
    EXPECT_EQ(nullptr, RwCameraClear(camera, &red, rwCAMERACLEARIMAGE));
    camera->frameBuffer = copied;
    RwCameraEndUpdate(camera);
    camera->frameBuffer = whole;
    EXPECT_EQ(0x00FF00u, TexturePixel(copied, 5, 5));
    EXPECT_NE(0xFF0000u, TexturePixel(drawn, 5, 5));
    RwRasterDestroy(copied);
    RwRasterDestroy(drawn);
    RwCameraShowRaster(camera, window, 0);
}

// A loss first seen inside a frame ends the scene the device holds once: the
// frame's show and the reset after it find no scene open.
TEST_F(DeviceFrame, ALossSeenInsideAFrameEndsItsSceneOnce)
{
    RwRGBA grey = {90, 90, 90, 255};
    ASSERT_NE(nullptr, RwCameraBeginUpdate(camera));
    device->loseAtCheck = 1;
    EXPECT_EQ(nullptr, RwCameraClear(camera, &grey, rwCAMERACLEARIMAGE));
    RwCameraEndUpdate(camera);
    RwCameraShowRaster(camera, window, 0);
    ASSERT_TRUE(RenderFrame(camera, grey));
    EXPECT_NE(nullptr, RwCameraShowRaster(camera, window, 0));
    EXPECT_FALSE(device->lost);
    EXPECT_EQ(2, device->Count("BeginScene"));
    EXPECT_EQ(2, device->Count("EndScene"));
}

// A camera whose frame is scaled past any view draws nothing: a square in
// front of it leaves the cleared colour. Scaled back, it draws again.
TEST_F(DeviceFrame, ACameraWithoutAViewDrawsNothing)
{
    RwIm3DVertex square[4] = {};
    const float corners[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
    for (int i = 0; i < 4; i++) {
        square[i].objVertex = {corners[i][0], corners[i][1], 5.0f};
        square[i].color = 0xFFFF0000;
    }
    const RwReal scales[2] = {1e19f, 1.0f};
    const DWORD expected[2] = {0x000000u, 0xFF0000u};
    for (int i = 0; i < 2; ++i) {
        RwMatrix m;
        RwMatrixSetIdentity(&m);
        const RwV3d s = {scales[i], scales[i], scales[i]};
        RwMatrixScale(&m, &s, rwCOMBINEREPLACE);
        RwFrameTransform(cameraFrame, &m, rwCOMBINEREPLACE);
        ASSERT_TRUE(Begin());
        ASSERT_NE(RwIm3DTransform(square, 4, nullptr, 0), nullptr);
        EXPECT_TRUE(RwIm3DRenderPrimitive(rwPRIMTYPETRISTRIP));
        RwIm3DEnd();
        End();
        EXPECT_EQ(i == 0 ? TRUE : FALSE, RwCameraIsBlind(camera));
        EXPECT_EQ(expected[i], ReadPixel(512, 384)) << scales[i];
        RwCameraShowRaster(camera, window, 0);
    }
    RwMatrix identity;
    RwFrameTransform(cameraFrame, RwMatrixSetIdentity(&identity), rwCOMBINEREPLACE);
}

// Transforms and lights the device refuses while the restore sends them back
// are not held as sent (nor a world matrix refused at any time): the next set
// of the same values reaches the device.
TEST_F(DeviceFrame, WhatTheRestoreCouldNotSendIsSentAgain)
{
    const D3DMATRIX view = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 4, 5, 6, 1}}};
    RwMatrix world;
    std::memset(&world, 0, sizeof world);
    world.right = {1, 0, 0};
    world.up = {0, 1, 0};
    world.at = {0, 0, 1};
    world.pos = {7, 8, 9};
    const D3DLIGHT9 light = {D3DLIGHT_DIRECTIONAL, {1, 0.5f, 0.25f, 1}, {}, {}, {}, {0, -1, 0}, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(RwD3D9SetTransform(D3DTS_VIEW, &view));
    ASSERT_TRUE(RwD3D9SetTransformWorld(&world));
    ASSERT_TRUE(RwD3D9SetLight(0, &light));
    ASSERT_TRUE(RwD3D9EnableLight(0, TRUE));
    for (bool *refused : {&device->refuseTransforms, &device->refuseLights, &device->refuseLightEnables}) {
        ForceNotReset()->Release();
        *refused = true;
        EXPECT_FALSE(RwD3D9CheckDeviceReset());
        *refused = false;
        device->ResetLog();
        EXPECT_TRUE(RwD3D9SetTransform(D3DTS_VIEW, &view));
        EXPECT_TRUE(RwD3D9SetTransformWorld(&world));
        EXPECT_TRUE(RwD3D9SetLight(0, &light));
        EXPECT_TRUE(RwD3D9EnableLight(0, TRUE));
        D3DMATRIX back;
        real->GetTransform(D3DTS_VIEW, &back);
        EXPECT_EQ(back._41, 4.0f);
        real->GetTransform(D3DTS_WORLD, &back);
        EXPECT_EQ(back._41, 7.0f);
        BOOL on = FALSE;
        real->GetLightEnable(0, &on);
        EXPECT_TRUE(on);
        D3DLIGHT9 held = {};
        real->GetLight(0, &held);
        EXPECT_EQ(held.Diffuse.g, 0.5f);
        EXPECT_TRUE(RwD3D9CheckDeviceReset());   // restored in full once nothing is refused
    }
    device->refuseTransforms = true;
    EXPECT_FALSE(RwD3D9SetTransformWorld(nullptr));
    device->refuseTransforms = false;
    EXPECT_TRUE(RwD3D9SetTransformWorld(nullptr));
    D3DMATRIX back;
    real->GetTransform(D3DTS_WORLD, &back);
    EXPECT_EQ(back._41, 0.0f);
    RwD3D9EnableLight(0, FALSE);
}

TEST_F(DeviceFrame, BeginUpdateSendsViewAndProjection)
{
    const RwV3d at = {1, 2, -5};
    RwFrameTranslate(cameraFrame, &at, rwCOMBINEREPLACE);
    RwCameraSetProjection(camera, rwPARALLEL);
    RwCameraSetNearClipPlane(camera, 1.0f);
    RwCameraSetFarClipPlane(camera, 11.0f);
    ASSERT_NE(RwCameraBeginUpdate(camera), nullptr);
    RwCameraEndUpdate(camera);
    D3DMATRIX m;
    real->GetTransform(D3DTS_PROJECTION, &m);
    EXPECT_NEAR(m._33, 0.1f, 1e-6f);
    EXPECT_NEAR(m._43, -0.1f, 1e-6f);
    EXPECT_EQ(m._34, 0.0f);
    EXPECT_EQ(m._44, 1.0f);
    EXPECT_EQ(m._11, camera->recipViewWindow.x);
    real->GetTransform(D3DTS_VIEW, &m);
    EXPECT_FLOAT_EQ(m._11, -1.0f);
    EXPECT_FLOAT_EQ(m._22, 1.0f);
    EXPECT_FLOAT_EQ(m._41, 1.0f);
    EXPECT_FLOAT_EQ(m._42, -2.0f);
    EXPECT_FLOAT_EQ(m._43, 5.0f);
    EXPECT_EQ(m._44, 1.0f);
    RwUInt32 fogEnd = 0;
    RwD3D9GetRenderState(D3DRS_FOGEND, &fogEnd);
    float end;
    std::memcpy(&end, &fogEnd, 4);
    EXPECT_EQ(end, 11.0f);
    // Perspective: far / (far - near) and w from z.
    RwCameraSetProjection(camera, rwPERSPECTIVE);
    ASSERT_NE(RwCameraBeginUpdate(camera), nullptr);
    RwCameraEndUpdate(camera);
    real->GetTransform(D3DTS_PROJECTION, &m);
    EXPECT_NEAR(m._33, 1.1f, 1e-6f);
    EXPECT_NEAR(m._43, -1.1f, 1e-6f);
    EXPECT_EQ(m._34, 1.0f);
    EXPECT_EQ(m._44, 0.0f);
    RwCameraShowRaster(camera, window, 0);
    RwCameraSetFarClipPlane(camera, 100.0f);
    RwCameraSetNearClipPlane(camera, 0.05f);
}

// A camera whose begin update finds the device waiting for its reset (a
// shadow camera, drawn without a clear, may be the first) draws with the
// view and projection it sets, not with those the reset dropped.
TEST_F(DeviceFrame, AResetInTheBeginUpdateKeepsTheViewAndProjection)
{
    const RwV3d at = {1, 2, -5};
    RwFrameTranslate(cameraFrame, &at, rwCOMBINEREPLACE);
    IDirect3DVertexBuffer9 *pinned = ForceNotReset();
    pinned->Release();
    ASSERT_NE(RwCameraBeginUpdate(camera), nullptr);
    RwCameraEndUpdate(camera);
    D3DMATRIX m;
    real->GetTransform(D3DTS_VIEW, &m);
    EXPECT_FLOAT_EQ(m._41, 1.0f);
    EXPECT_FLOAT_EQ(m._43, 5.0f);
    real->GetTransform(D3DTS_PROJECTION, &m);
    EXPECT_EQ(m._11, camera->recipViewWindow.x);
    EXPECT_EQ(m._34, 1.0f);
    RwCameraShowRaster(camera, window, 0);
}

TEST_F(DeviceFrame, ZeroDepthRangeIsRefused)
{
    RwCameraSetNearClipPlane(camera, 5.0f);
    RwCameraSetFarClipPlane(camera, 5.0f);
    EXPECT_EQ(RwCameraBeginUpdate(camera), nullptr);
    EXPECT_EQ(device->Count("BeginScene"), 0);
    RwCameraSetNearClipPlane(camera, 0.05f);
    RwCameraSetFarClipPlane(camera, 100.0f);
}

TEST_F(DeviceFrame, TwoCamerasShareOneScene)
{
    ASSERT_NE(RwCameraBeginUpdate(camera), nullptr);
    RwCameraEndUpdate(camera);
    ASSERT_NE(RwCameraBeginUpdate(camera), nullptr);
    RwCameraEndUpdate(camera);
    EXPECT_EQ(device->Count("BeginScene"), 1);
    RwCameraShowRaster(camera, window, 0);
    EXPECT_EQ(device->Count("EndScene"), 1);
}

TEST_F(DeviceFrame, MinimisedWindowSkipsTheFrame)
{
    ShowWindow(window, SW_MINIMIZE);
    KivTestPumpMessages();
    if (!IsIconic(window)) {
        ShowWindow(window, SW_RESTORE);
        GTEST_SKIP() << "the window cannot be minimised here";
    }
    const RwRGBA red = {255, 0, 0, 255};
    EXPECT_EQ(RwCameraClear(camera, const_cast<RwRGBA *>(&red), rwCAMERACLEARIMAGE), nullptr);
    EXPECT_EQ(RwCameraBeginUpdate(camera), nullptr);
    EXPECT_EQ(device->Count("BeginScene"), 0);
    EXPECT_EQ(device->Count("Clear"), 0);
    ShowWindow(window, SW_RESTORE);
    KivTestPumpMessages();
    RwCameraEndUpdate(camera);
}

TEST_F(DeviceFrame, WaitingForTheRetraceResetsOnlyWhenItChanges)
{
    RwCameraShowRaster(camera, window, 1);
    RwCameraShowRaster(camera, window, 1);
    EXPECT_EQ(device->Count("Reset"), 1);
    EXPECT_EQ(rwD3D9Driver.present.PresentationInterval, static_cast<UINT>(D3DPRESENT_INTERVAL_ONE));
    RwCameraShowRaster(camera, window, 0);
    EXPECT_EQ(device->Count("Reset"), 2);
    EXPECT_EQ(rwD3D9Driver.present.PresentationInterval, static_cast<UINT>(D3DPRESENT_INTERVAL_IMMEDIATE));
    EXPECT_EQ(device->Count("Present"), 3);
}

TEST_F(DeviceFrame, ResizedWindowResetsTheDeviceToItsClientSize)
{
    SetWindowPos(window, nullptr, 0, 0, 800, 600, SWP_NOMOVE | SWP_NOZORDER);
    KivTestPumpMessages();
    const RwRGBA green = {0, 255, 0, 255};
    RwCameraClear(camera, const_cast<RwRGBA *>(&green), rwCAMERACLEARIMAGE);
    EXPECT_EQ(device->Count("Reset"), 1);
    EXPECT_EQ(rwD3D9Driver.displayMode.width, 800);
    EXPECT_EQ(rwD3D9Driver.displayMode.height, 600);
    D3DSURFACE_DESC desc;
    rwD3D9Driver.defaultColorSurface->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 800u);
    EXPECT_EQ(desc.Height, 600u);
    EXPECT_EQ(camera->frameBuffer->width, 800);
    EXPECT_EQ(camera->frameBuffer->height, 600);

    SetWindowPos(window, nullptr, 0, 0, 1024, 768, SWP_NOMOVE | SWP_NOZORDER);
    KivTestPumpMessages();
    ASSERT_TRUE(RenderFrame(camera, green));
    EXPECT_EQ(device->Count("Reset"), 2);
    EXPECT_EQ(rwD3D9Driver.displayMode.width, 1024);
    EXPECT_EQ(camera->frameBuffer->width, 1024) << "the camera raster follows the back buffer";
    EXPECT_EQ(ReadPixel(1023, 767), 0x00FF00u);
    EXPECT_EQ(RwD3D9RasterGetExtension(camera->zBuffer)->texture, rwD3D9Driver.defaultDepthSurface);
    RwCameraShowRaster(camera, window, 0);
}

// A resize whose device is lost when asked keeps the old back buffer through
// its reset: the mode still says so, and the next check resizes it.
TEST_F(DeviceFrame, AResizeThatFindsTheDeviceLostIsMadeOnceItIsBack)
{
    SetWindowPos(window, nullptr, 0, 0, 800, 600, SWP_NOMOVE | SWP_NOZORDER);
    KivTestPumpMessages();
    const RwRGBA green = {0, 255, 0, 255};
    device->loseAtCheck = 2;   // the clear's reset check, then the window's
    RwCameraClear(camera, const_cast<RwRGBA *>(&green), rwCAMERACLEARIMAGE);
    ASSERT_EQ(0, device->loseAtCheck);
    ASSERT_TRUE(RenderFrame(camera, green));
    D3DSURFACE_DESC desc;
    rwD3D9Driver.defaultColorSurface->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 800u);
    EXPECT_EQ(rwD3D9Driver.displayMode.width, 800);
    EXPECT_EQ(camera->frameBuffer->width, 800);
    RwCameraShowRaster(camera, window, 0);
    SetWindowPos(window, nullptr, 0, 0, 1024, 768, SWP_NOMOVE | SWP_NOZORDER);
    KivTestPumpMessages();
    ASSERT_TRUE(RenderFrame(camera, green));
    EXPECT_EQ(camera->frameBuffer->width, 1024);
    RwCameraShowRaster(camera, window, 0);
}

// A resize whose restore fails is undone: the window, the back buffer and the
// camera raster all go back to the old size, on that frame and the next.
TEST_F(DeviceFrame, ACameraRasterFollowsTheBackBufferBackWhenAResizeIsUndone)
{
    SetWindowPos(window, nullptr, 0, 0, 800, 600, SWP_NOMOVE | SWP_NOZORDER);
    KivTestPumpMessages();
    device->refusedVertexBuffers = 1;
    const RwRGBA cyan = {0, 255, 255, 255};
    RwCameraClear(camera, const_cast<RwRGBA *>(&cyan), rwCAMERACLEARIMAGE);
    ASSERT_EQ(device->Count("CreateVertexBuffer refused"), 1) << "the restore at 800x600 failed";
    KivTestPumpMessages();
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 1024);
    EXPECT_EQ(rwD3D9Driver.displayMode.width, 1024);
    EXPECT_EQ(rwD3D9Driver.present.BackBufferWidth, 1024u);
    EXPECT_EQ(camera->frameBuffer->width, 1024);
    EXPECT_EQ(camera->frameBuffer->height, 768);
    for (int frame = 0; frame < 2; frame++) {
        ASSERT_TRUE(RenderFrame(camera, cyan));
        EXPECT_EQ(camera->frameBuffer->width, 1024) << "frame " << frame;
        EXPECT_EQ(camera->frameBuffer->height, 768) << "frame " << frame;
        EXPECT_EQ(ReadPixel(1023, 767), 0x00FFFFu) << "frame " << frame;
        RwCameraShowRaster(camera, window, 0);
    }
}

// A camera raster that is not the window's size keeps its proportion to the
// back buffer over any number of resizes, and its own size back each time.
TEST_F(DeviceFrame, ACameraRasterNotTheWindowsSizeKeepsItsProportionAcrossResizes)
{
    RwRaster *odd = RwRasterCreate(1000, 700, 0, rwRASTERTYPECAMERA);
    ASSERT_NE(odd, nullptr);
    const RwRGBA grey = {64, 64, 64, 255};
    const struct {
        int width, height;
    } sizes[] = {{333, 250}, {517, 389}, {999, 101}, {1, 1}};
    for (const auto &size : sizes) {
        SetWindowPos(window, nullptr, 0, 0, size.width, size.height, SWP_NOMOVE | SWP_NOZORDER);
        KivTestPumpMessages();
        ASSERT_NE(RwCameraClear(camera, const_cast<RwRGBA *>(&grey), rwCAMERACLEARIMAGE), nullptr);
        // However small the window, the raster keeps a pixel to draw on.
        EXPECT_EQ(odd->width, std::max(1, 1000 * size.width / 1024)) << size.width;
        EXPECT_EQ(odd->height, std::max(1, 700 * size.height / 768)) << size.height;
        SetWindowPos(window, nullptr, 0, 0, 1024, 768, SWP_NOMOVE | SWP_NOZORDER);
        KivTestPumpMessages();
        ASSERT_NE(RwCameraClear(camera, const_cast<RwRGBA *>(&grey), rwCAMERACLEARIMAGE), nullptr);
        EXPECT_EQ(odd->width, 1000) << "back from " << size.width;
        EXPECT_EQ(odd->height, 700) << "back from " << size.height;
    }
    // Resized by its owner in one direction, it is scaled from its new size.
    odd->width = 500;
    ASSERT_TRUE(ResizeAndDraw(camera, window, 512, 384));
    EXPECT_EQ(odd->width, 250);
    EXPECT_EQ(odd->height, 350);
    // One made in a window a pixel high grows with it, scaled from that window
    // at every resize.
    ASSERT_TRUE(ResizeAndDraw(camera, window, 512, 1));
    RwRaster *thin = RwRasterCreate(500, 1, 0, rwRASTERTYPECAMERA);
    ASSERT_NE(thin, nullptr);
    ASSERT_TRUE(ResizeAndDraw(camera, window, 333, 250));
    ASSERT_TRUE(ResizeAndDraw(camera, window, 1024, 768));
    EXPECT_EQ(thin->width, 1000);
    EXPECT_EQ(thin->height, 768);
    RwRasterDestroy(thin);
    RwRasterDestroy(odd);
}

// A camera raster made after a resize, before the window check that follows
// it, was checked against the client size, which the back buffer takes at that
// check: it keeps the size it was made at and is drawn whole.
TEST_F(DeviceFrame, ACameraRasterMadeBeforeTheWindowCheckKeepsItsSize)
{
    const struct {
        int checkedWidth, width, height;
        RwRGBA colour;
        RwUInt32 shown;
    } cases[] = {
        {1024, 640, 480, {255, 0, 0, 255}, 0xFF0000u},   // made in the window just shrunk
        {512, 1024, 768, {0, 0, 255, 255}, 0x0000FFu},   // made in the window just grown back
    };
    RwRaster *whole = camera->frameBuffer;
    for (const auto &c : cases) {
        SetWindowPos(window, nullptr, 0, 0, c.checkedWidth, c.checkedWidth * 3 / 4, SWP_NOMOVE | SWP_NOZORDER);
        KivTestPumpMessages();
        ASSERT_TRUE(RenderFrame(camera, c.colour));
        SetWindowPos(window, nullptr, 0, 0, c.width, c.height, SWP_NOMOVE | SWP_NOZORDER);
        KivTestPumpMessages();
        RwRaster *made = RwRasterCreate(c.width, c.height, 0, rwRASTERTYPECAMERA);
        ASSERT_NE(made, nullptr) << c.width;
        camera->frameBuffer = made;
        EXPECT_TRUE(RenderFrame(camera, c.colour)) << c.width;
        camera->frameBuffer = whole;
        EXPECT_EQ(made->width, c.width);
        EXPECT_EQ(made->height, c.height);
        EXPECT_EQ(ReadPixel(c.width - 1, c.height - 1), c.shown) << c.width;
        RwRasterDestroy(made);
        RwCameraShowRaster(camera, window, 0);
    }
}

// A sub-raster of the window's camera raster keeps its place in it in
// proportion across resizes, never reaching outside it, and is drawn there.
TEST_F(DeviceFrame, SubRastersOfTheCameraRasterFollowItAcrossResizes)
{
    RwRaster *whole = camera->frameBuffer;
    RwRaster *part = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    RwRaster *dot = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    // Made as another type, it is a camera raster once made on one, and follows too.
    RwRaster *twin = RwRasterCreate(0, 0, 0, rwRASTERTYPENORMAL | rwRASTERDONTALLOCATE);
    ASSERT_TRUE(part && dot && twin);
    const RwRect rect = {512, 384, 512, 384}, pixel = {1000, 700, 1, 1}, corner = {8, 8, 16, 16};
    ASSERT_NE(RwRasterMakeSubRaster(part, whole, &rect), nullptr);
    ASSERT_NE(RwRasterMakeSubRaster(dot, whole, &pixel), nullptr);
    ASSERT_NE(RwRasterMakeSubRaster(twin, whole, &rect), nullptr);
    const struct {
        int width, height;
        RwRect place;
    } cases[] = {
        {800, 600, {400, 300, 400, 300}},
        {333, 250, {166, 125, 167, 125}},
        {1024, 768, {512, 384, 512, 384}},
    };
    const RwRGBA black = {0, 0, 0, 255}, green = {0, 255, 0, 255};
    for (const auto &c : cases) {
        SetWindowPos(window, nullptr, 0, 0, c.width, c.height, SWP_NOMOVE | SWP_NOZORDER);
        KivTestPumpMessages();
        ASSERT_TRUE(RenderFrame(camera, black));
        EXPECT_EQ(part->nOffsetX, c.place.x) << c.width;
        EXPECT_EQ(part->nOffsetY, c.place.y) << c.width;
        EXPECT_EQ(part->width, c.place.w) << c.width;
        EXPECT_EQ(part->height, c.place.h) << c.width;
        EXPECT_EQ(twin->nOffsetX, c.place.x) << c.width;
        EXPECT_EQ(twin->width, c.place.w) << c.width;
        // A pixel whose edges scale to one place keeps its one pixel.
        EXPECT_EQ(dot->width, 1) << c.width;
        EXPECT_EQ(dot->height, 1) << c.width;
        EXPECT_LT(dot->nOffsetX, c.width);
        camera->frameBuffer = part;
        EXPECT_TRUE(RenderFrame(camera, green));
        camera->frameBuffer = whole;
        EXPECT_EQ(ReadPixel(c.width - 1, c.height - 1), 0x00FF00u) << c.width;
        EXPECT_EQ(ReadPixel(c.place.x - 1, c.place.y - 1), 0u) << c.width;
        RwCameraShowRaster(camera, window, 0);
    }
    RwRasterDestroy(part);
    RwRasterDestroy(dot);
    RwRasterDestroy(twin);

    // One made on a raster of another type leaves the rasters a reset
    // restores: once destroyed, none of them is left behind.
    const auto deviceObjects = [] {
        int n = 0;
        RwD3D9RasterForAllDeviceObjects([](RwRaster *, void *count) { ++*static_cast<int *>(count); }, &n);
        return n;
    };
    const int before = deviceObjects();
    RwRaster *texture = RwRasterCreate(64, 64, 0, rwRASTERTYPETEXTURE);
    RwRaster *moved = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    ASSERT_TRUE(texture && moved);
    ASSERT_NE(RwRasterMakeSubRaster(moved, texture, &corner), nullptr);
    RwRasterDestroy(moved);
    RwRasterDestroy(texture);
    EXPECT_EQ(deviceObjects(), before);

    // One made on a camera raster empty in either direction has nowhere to
    // follow it; one whose top its owner emptied stays inside it, empty too.
    RwRaster *flat = RwRasterCreate(300, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    RwRaster *thin = RwRasterCreate(0, 300, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    RwRaster *top = RwRasterCreate(400, 300, 0, rwRASTERTYPECAMERA);
    RwRaster *inFlat = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    RwRaster *inThin = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    RwRaster *inTop = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    ASSERT_TRUE(flat && thin && top && inFlat && inThin && inTop);
    const RwRect some = {10, 20, 30, 40};
    ASSERT_NE(RwRasterMakeSubRaster(inFlat, flat, &some), nullptr);
    ASSERT_NE(RwRasterMakeSubRaster(inThin, thin, &some), nullptr);
    ASSERT_NE(RwRasterMakeSubRaster(inTop, top, &some), nullptr);
    top->width = top->height = 0;
    ASSERT_TRUE(ForceReset());
    for (RwRaster *kept : {inFlat, inThin}) {
        EXPECT_EQ(kept->nOffsetX, 10);
        EXPECT_EQ(kept->width, 30);
    }
    EXPECT_EQ(inTop->nOffsetX, 0);
    EXPECT_EQ(inTop->nOffsetY, 0);
    EXPECT_EQ(inTop->width, 0);
    EXPECT_EQ(inTop->height, 0);
    for (RwRaster *r : {inTop, inThin, inFlat, top, thin, flat})
        RwRasterDestroy(r);

    // One whose top was destroyed has nothing to follow: a raster made in
    // the top's place is not its top.
    RwRaster *gone = RwRasterCreate(400, 300, 0, rwRASTERTYPECAMERA);
    RwRaster *orphan = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    ASSERT_TRUE(gone && orphan);
    ASSERT_NE(RwRasterMakeSubRaster(orphan, gone, &some), nullptr);
    RwRasterDestroy(gone);
    RwRaster *after = RwRasterCreate(200, 150, 0, rwRASTERTYPECAMERA);
    ASSERT_NE(after, nullptr);
    ASSERT_TRUE(ForceReset());
    EXPECT_EQ(orphan->nOffsetX, 10);
    EXPECT_EQ(orphan->nOffsetY, 20);
    EXPECT_EQ(orphan->width, 30);
    EXPECT_EQ(orphan->height, 40);
    RwRasterDestroy(orphan);
    RwRasterDestroy(after);
}

namespace {
RwMemoryFunctions SavedMemory;
// The device list's nodes cannot be had; everything else can.
void *NoListNodes(size_t size, RwUInt32 hint)
{
    return hint == rwD3D9NODEHINT ? nullptr : SavedMemory.rwmalloc(size, hint);
}
} // namespace

// Sub-rasters and camera rasters made while the device list cannot grow are
// refused, the sub-raster as it was; every one made follows the next resize.
TEST_F(DeviceFrame, RastersTheDeviceListCannotHoldAreRefused)
{
    RwRaster *whole = camera->frameBuffer;
    std::vector<RwRaster *> subs, cameras;
    const RwRect rect = {512, 384, 512, 384};
    SavedMemory = RwEngineInstance->memoryFuncs;
    RwEngineInstance->memoryFuncs.rwmalloc = NoListNodes;
    size_t refused = 0;
    for (int i = 0; i < 200; i++) {
        RwRaster *sub = RwRasterCreate(0, 0, 0, rwRASTERTYPENORMAL | rwRASTERDONTALLOCATE);
        if (!sub)
            continue;
        subs.push_back(sub);
        if (!RwRasterMakeSubRaster(sub, whole, &rect)) {
            refused++;
            EXPECT_EQ(sub->parent, sub);
            EXPECT_EQ(sub->cType, rwRASTERTYPENORMAL);
        }
    }
    for (int i = 0; i < 20; i++) {
        RwRaster *made = RwRasterCreate(512, 384, 0, rwRASTERTYPECAMERA);
        refused += made == nullptr;
        if (made)
            cameras.push_back(made);
    }
    EXPECT_EQ(RwD3D9RasterCreateFromD3DFormat(64, 64, D3DFMT_A8R8G8B8, rwRASTERTYPECAMERATEXTURE), nullptr);
    RwEngineInstance->memoryFuncs = SavedMemory;
    EXPECT_GT(refused, 0u) << "the list never had to grow";
    ASSERT_TRUE(ResizeAndDraw(camera, window, 512, 384));
    for (RwRaster *sub : subs) {
        if (sub->parent == sub)
            continue;
        EXPECT_EQ(sub->nOffsetX, 256);
        EXPECT_EQ(sub->width, 256);
        EXPECT_EQ(sub->height, 192);
    }
    for (RwRaster *made : cameras)
        EXPECT_EQ(made->width, 256);
    ASSERT_TRUE(ResizeAndDraw(camera, window, 1024, 768));
    for (RwRaster *r : subs)
        RwRasterDestroy(r);
    for (RwRaster *r : cameras)
        RwRasterDestroy(r);
    RwCameraShowRaster(camera, window, 0);
}

// A sub-raster locked across a resize follows it, and its unlock keeps the
// size it followed to.
TEST_F(DeviceFrame, ASubRasterLockedAcrossAResizeKeepsTheSizeItFollowed)
{
    RwRaster *whole = camera->frameBuffer;
    RwRaster *part = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    ASSERT_NE(part, nullptr);
    const RwRect rect = {512, 384, 512, 384};
    ASSERT_NE(RwRasterMakeSubRaster(part, whole, &rect), nullptr);
    ASSERT_NE(RwRasterLock(part, 0, rwRASTERLOCKREAD), nullptr);
    ASSERT_TRUE(ResizeAndDraw(camera, window, 512, 384));
    EXPECT_EQ(part->width, 256);
    EXPECT_EQ(part->nOffsetX, 256);
    RwRasterUnlock(part);
    EXPECT_EQ(part->nOffsetX, 256);
    EXPECT_EQ(part->nOffsetY, 192);
    EXPECT_EQ(part->width, 256);
    EXPECT_EQ(part->height, 192);
    ASSERT_TRUE(ResizeAndDraw(camera, window, 1024, 768));
    EXPECT_EQ(part->width, 512);
    EXPECT_EQ(part->height, 384);
    RwRasterDestroy(part);
    RwCameraShowRaster(camera, window, 0);
}

TEST_F(DeviceFrame, FramesAreSkippedUntilTheDeviceCanBeReset)
{
    IDirect3DVertexBuffer9 *pinned = ForceNotReset();
    RwD3D9SetDeviceRestoreCallback(NoteCallback);
    device->ResetLog();

    // The reset keeps failing while the resource lives: no clear, no scene, no picture.
    const RwRGBA red = {255, 0, 0, 255};
    EXPECT_EQ(RwCameraClear(camera, const_cast<RwRGBA *>(&red), rwCAMERACLEARIMAGE), nullptr);
    EXPECT_EQ(RwCameraBeginUpdate(camera), nullptr);
    RwCameraEndUpdate(camera);
    EXPECT_EQ(RwCameraShowRaster(camera, window, 0), nullptr);
    EXPECT_FALSE(RwD3D9TestDeviceAndBeginScene());
    EXPECT_EQ(device->Count("Clear"), 0);
    EXPECT_EQ(device->Count("BeginScene"), 0);
    EXPECT_EQ(device->Count("Present"), 0);
    EXPECT_EQ(device->Count("restore callback"), 0);
    EXPECT_GE(device->Count("Reset"), 2);
    EXPECT_FALSE(rwD3D9Driver.inScene);
    EXPECT_TRUE(rwD3D9Driver.resourcesLost);
    // Each refused reset was tried again with the desktop's format.
    EXPECT_EQ(rwD3D9Driver.present.BackBufferFormat, D3DFMT_X8R8G8B8);

    pinned->Release();
    device->ResetLog();
    ASSERT_TRUE(RenderFrame(camera, red));
    EXPECT_EQ(real->TestCooperativeLevel(), D3D_OK);
    EXPECT_FALSE(rwD3D9Driver.resourcesLost);
    EXPECT_EQ(device->Count("Reset"), 1);
    EXPECT_EQ(device->Count("restore callback"), 1);
    EXPECT_EQ(device->Count("BeginScene"), 1);
    EXPECT_EQ(ReadPixel(10, 10), 0xFF0000u);
    EXPECT_NE(RwCameraShowRaster(camera, window, 0), nullptr);
}

TEST_F(DeviceFrame, CameraOnASecondWindowPresentsThroughItsSwapChain)
{
    HWND second = KivTestCreateWindow(320, 240, "KivD3D9Second");
    ASSERT_NE(second, nullptr);
    RwCamera *camera = RwCameraCreate();
    RwFrame *frame = RwFrameCreate();
    RwCameraSetFrame(camera, frame);
    ASSERT_TRUE(RwD3D9CameraCreateSwapChain(camera, second));
    ASSERT_NE(camera->frameBuffer, nullptr);
    EXPECT_EQ(camera->frameBuffer->width, 320);
    EXPECT_EQ(camera->frameBuffer->height, 240);
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(camera->frameBuffer);
    ASSERT_NE(ext->swapChain, nullptr);
    EXPECT_FALSE(RwD3D9CameraCreateSwapChain(camera, window)) << "not for the device window";

    const RwRGBA yellow = {255, 255, 0, 255};
    ASSERT_TRUE(RenderFrame(camera, yellow));
    EXPECT_EQ(::ReadPixel(real, static_cast<IDirect3DSurface9 *>(ext->texture), 319, 239), 0xFFFF00u);
    EXPECT_NE(RwCameraShowRaster(camera, second, 0), nullptr);
    EXPECT_EQ(device->Count("Present"), 0) << "the chain presents, not the device";

    // A resized second window gets a new chain and rasters of its client size.
    SetWindowPos(second, nullptr, 0, 0, 200, 100, SWP_NOMOVE | SWP_NOZORDER);
    KivTestPumpMessages();
    ASSERT_TRUE(RenderFrame(camera, yellow));
    EXPECT_EQ(camera->frameBuffer->width, 200);
    EXPECT_EQ(camera->frameBuffer->height, 100);
    ASSERT_NE(camera->zBuffer, nullptr);
    EXPECT_EQ(camera->zBuffer->width, 200);
    ext = RwD3D9RasterGetExtension(camera->frameBuffer);
    EXPECT_EQ(::ReadPixel(real, static_cast<IDirect3DSurface9 *>(ext->texture), 199, 99), 0xFFFF00u);
    EXPECT_NE(RwCameraShowRaster(camera, second, 0), nullptr);

    RwRasterDestroy(camera->frameBuffer);
    if (camera->zBuffer)
        RwRasterDestroy(camera->zBuffer);
    camera->frameBuffer = camera->zBuffer = nullptr;
    RwCameraSetFrame(camera, nullptr);
    RwCameraDestroy(camera);
    RwFrameDestroy(frame);
    DestroyWindow(second);
}

TEST_F(DeviceFrame, RasterCreationFollowsTheDevice)
{
    RwRaster *tooBig = RwRasterCreate(2048, 2048, 0, rwRASTERTYPECAMERA);
    EXPECT_EQ(tooBig, nullptr);
    RwRaster *empty = RwRasterCreate(0, 16, 0, rwRASTERTYPEZBUFFER);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->cFlags, rwRASTERDONTALLOCATE);
    EXPECT_NE(empty->depth, 0);
    RwRasterDestroy(empty);
    RwRaster *small = RwRasterCreate(64, 32, 0, rwRASTERTYPEZBUFFER);
    ASSERT_NE(small, nullptr);
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(small);
    ASSERT_NE(ext->texture, nullptr);
    EXPECT_NE(ext->texture, rwD3D9Driver.defaultDepthSurface);
    RwRasterDestroy(small);
    EXPECT_EQ(RwD3D9RasterGetExtension(camera->zBuffer)->texture, rwD3D9Driver.defaultDepthSurface);
    EXPECT_EQ(RwD3D9RasterGetExtension(camera->frameBuffer)->d3dFormat, rwD3D9Driver.present.BackBufferFormat);
    EXPECT_EQ(camera->frameBuffer->depth, 32);
}

TEST_F(DeviceFrame, DepthClearTakesTheStencilAlongWhenTheFormatHasOne)
{
    ClearRecorder recorder(real);
    rwD3D9Driver.device = &recorder;
    const RwRGBA grey = {128, 128, 128, 255};
    EXPECT_NE(RwCameraClear(camera, const_cast<RwRGBA *>(&grey), rwCAMERACLEARZ), nullptr);
    EXPECT_NE(RwCameraClear(camera, const_cast<RwRGBA *>(&grey), rwCAMERACLEARIMAGE), nullptr);
    RwBool stencil = rwD3D9Driver.depthHasStencil;
    rwD3D9Driver.depthHasStencil = FALSE;    // as with a D16 depth buffer
    EXPECT_NE(RwCameraClear(camera, const_cast<RwRGBA *>(&grey), rwCAMERACLEARZ), nullptr);
    rwD3D9Driver.depthHasStencil = stencil;
    rwD3D9Driver.device = device;
    ASSERT_EQ(recorder.clearFlags.size(), 3u);
    if (rwD3D9Driver.present.AutoDepthStencilFormat == D3DFMT_D24S8) {
        EXPECT_EQ(recorder.clearFlags[0], static_cast<DWORD>(D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL));
    }
    EXPECT_EQ(recorder.clearFlags[1], static_cast<DWORD>(D3DCLEAR_TARGET));
    EXPECT_EQ(recorder.clearFlags[2], static_cast<DWORD>(D3DCLEAR_ZBUFFER));
}

TEST_F(DeviceFrame, ResizeWhileResetsFailSkipsFramesAndRecovers)
{
    IDirect3DVertexBuffer9 *pinned = nullptr;
    ASSERT_EQ(real->CreateVertexBuffer(64, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &pinned, nullptr), D3D_OK);
    SetWindowPos(window, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
    KivTestPumpMessages();
    const RwRGBA cyan = {0, 255, 255, 255};
    EXPECT_EQ(RwCameraClear(camera, const_cast<RwRGBA *>(&cyan), rwCAMERACLEARIMAGE), nullptr);
    EXPECT_EQ(RwCameraBeginUpdate(camera), nullptr);
    RwCameraEndUpdate(camera);
    EXPECT_EQ(device->Count("Clear"), 0);
    EXPECT_EQ(device->Count("BeginScene"), 0);

    pinned->Release();
    SetWindowPos(window, nullptr, 0, 0, 1024, 768, SWP_NOMOVE | SWP_NOZORDER);
    KivTestPumpMessages();
    ASSERT_TRUE(RenderFrame(camera, cyan));
    EXPECT_EQ(real->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(rwD3D9Driver.displayMode.width, 1024);
    EXPECT_EQ(ReadPixel(1000, 700), 0x00FFFFu);
    EXPECT_NE(RwCameraShowRaster(camera, window, 0), nullptr);
}
