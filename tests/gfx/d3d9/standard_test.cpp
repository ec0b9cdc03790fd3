// Tests of the standard-function table, frames on the device and the device reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "countingdevice.h"
#include "d3d9window.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/d3d9/d3d9standard.h"
#include "gfx/d3d9/d3d9state.h"

namespace {

HWND Window;
CountingDevice *Log;    // the device the current test sees, for the restore callback

class DeviceFrame : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (RwEngineGetStatus() == rwENGINESTATUSIDLE)
            RwEngineInit(nullptr, 0, 0x400000);
        Window = KivTestCreateWindow(1024, 768);
        RwEngineOpenParams params = {Window};
        ASSERT_TRUE(RwD3D9DeviceSystem(rwDEVICESYSTEMOPEN, nullptr, &params, 0));
        ASSERT_TRUE(RwD3D9DeviceSystem(rwDEVICESYSTEMSTART, nullptr, nullptr, 0));
    }

    static void TearDownTestSuite()
    {
        RwD3D9DeviceSystem(rwDEVICESYSTEMSTOP, nullptr, nullptr, 0);
        RwD3D9DeviceSystem(rwDEVICESYSTEMCLOSE, nullptr, nullptr, 0);
        DestroyWindow(Window);
    }

    void SetUp() override
    {
        real = rwD3D9Driver.device;
        ASSERT_NE(real, nullptr);
        ASSERT_EQ(real->TestCooperativeLevel(), D3D_OK);
        counting = new CountingDevice(real);
        rwD3D9Driver.device = counting;
        Log = counting;
    }

    void TearDown() override
    {
        if (rwD3D9Driver.inScene) {
            real->EndScene();
            rwD3D9Driver.inScene = FALSE;
        }
        rwD3D9Driver.device = real;
        Log = nullptr;
        delete counting;
        RwD3D9SetDeviceRestoreCallback(nullptr);
    }

    // Index of the first call of that name at or after `from`, or -1.
    int Find(const std::string &name, size_t from = 0) const
    {
        for (size_t i = from; i < counting->calls.size(); i++)
            if (counting->calls[i] == name)
                return static_cast<int>(i);
        return -1;
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

    IDirect3DDevice9 *real = nullptr;
    CountingDevice *counting = nullptr;
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
}

TEST(StandardFunctions, ShortTableIsFilledNoFurther)
{
    RwStandardFunc table[rwSTANDARDNUMOFSTANDARD];
    std::memset(table, 0, sizeof(table));
    ASSERT_TRUE(RwD3D9GetStandardFunctions(table, nullptr, 5));
    EXPECT_EQ(table[rwSTANDARDCAMERABEGINUPDATE], RwD3D9CameraBeginUpdate);
    for (int i = 5; i < rwSTANDARDNUMOFSTANDARD; i++)
        EXPECT_EQ(table[i], nullptr) << i;
    EXPECT_FALSE(RwD3D9GetStandardFunctions(nullptr, nullptr, 5));
}

TEST_F(DeviceFrame, UsableDeviceOpensOneSceneForSeveralCameras)
{
    ASSERT_TRUE(RwD3D9TestDeviceAndBeginScene());
    ASSERT_TRUE(RwD3D9TestDeviceAndBeginScene());
    EXPECT_EQ(counting->Count("BeginScene"), 1);
    EXPECT_EQ(counting->Count("Reset"), 0);
    EXPECT_TRUE(rwD3D9Driver.inScene);
}

TEST_F(DeviceFrame, FramesAreSkippedUntilTheDeviceCanBeReset)
{
    IDirect3DVertexBuffer9 *pinned = ForceNotReset();
    RwD3D9SetDeviceRestoreCallback(NoteCallback);
    counting->ResetLog();

    // The reset keeps failing while the resource lives: no scene, no drawing.
    EXPECT_FALSE(RwD3D9TestDeviceAndBeginScene());
    EXPECT_FALSE(RwD3D9TestDeviceAndBeginScene());
    EXPECT_EQ(counting->Count("BeginScene"), 0);
    EXPECT_EQ(counting->Count("restore callback"), 0);
    EXPECT_GE(counting->Count("Reset"), 2);
    EXPECT_FALSE(rwD3D9Driver.inScene);
    EXPECT_TRUE(rwD3D9Driver.resourcesLost);

    pinned->Release();
    counting->ResetLog();
    ASSERT_TRUE(RwD3D9TestDeviceAndBeginScene());
    EXPECT_EQ(real->TestCooperativeLevel(), D3D_OK);
    EXPECT_FALSE(rwD3D9Driver.resourcesLost);
    EXPECT_EQ(counting->Count("Reset"), 1);
    EXPECT_EQ(counting->Count("restore callback"), 1);
    EXPECT_EQ(counting->Count("BeginScene"), 1);
}

TEST_F(DeviceFrame, ResetReleasesResetsRestoresThenCallsBack)
{
    const D3DLIGHT9 light = {D3DLIGHT_DIRECTIONAL, {1, 0.5f, 0.25f, 1}, {}, {}, {}, {0, -1, 0}, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(RwD3D9SetLight(0, &light));
    ASSERT_TRUE(RwD3D9EnableLight(0, TRUE));
    RwD3D9SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    RwD3D9FlushRenderStates();

    IDirect3DVertexBuffer9 *pinned = ForceNotReset();
    pinned->Release();
    RwD3D9SetDeviceRestoreCallback(NoteCallback);
    counting->ResetLog();
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
    EXPECT_EQ(std::count(counting->calls.begin(), counting->calls.begin() + reset, std::string("SetTexture")), 8);
    EXPECT_EQ(std::count(counting->calls.begin(), counting->calls.begin() + reset,
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
}

TEST_F(DeviceFrame, LostDeviceIsNeverCleared)
{
    IDirect3DVertexBuffer9 *pinned = ForceNotReset();
    counting->ResetLog();
    RwRGBA colour = {255, 0, 0, 255};
    (void)colour;
    EXPECT_FALSE(RwD3D9CheckDeviceReset());
    EXPECT_EQ(counting->Count("Clear"), 0);
    pinned->Release();
    EXPECT_TRUE(RwD3D9CheckDeviceReset());
    EXPECT_EQ(real->TestCooperativeLevel(), D3D_OK);
}
