// Tests of the driver's system function: open, start, stop, close and video modes.
#include <gtest/gtest.h>

#include <cstring>

#include "d3d9window.h"
#include "gfx/d3d9/d3d9cpu.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9standard.h"
#include "gfx/d3d9/d3d9state.h"
#include "gfx/d3d9/d3d9videomode.h"

namespace {

HWND Window;

RwBool Request(RwInt32 request, void *out = nullptr, void *inOut = nullptr, RwInt32 in = 0)
{
    return RwD3D9DeviceSystem(request, out, inOut, in);
}

class DeviceSystem : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The driver allocates through the engine's memory functions.
        if (RwEngineGetStatus() == rwENGINESTATUSIDLE)
            RwEngineInit(nullptr, 0, 0x400000);
        if (Window == nullptr)
            Window = KivTestCreateWindow(1024, 768);
    }

    void SetUp() override
    {
        ASSERT_NE(Window, nullptr);
        params.displayID = Window;
    }

    void TearDown() override
    {
        if (rwD3D9Driver.started)
            Request(rwDEVICESYSTEMSTOP);
        if (rwD3D9Driver.d3d)
            Request(rwDEVICESYSTEMCLOSE);
    }

    void Open() { ASSERT_TRUE(Request(rwDEVICESYSTEMOPEN, nullptr, &params)); }

    // Index of the exclusive 1024x768 32-bit mode, or -1.
    RwInt32 FindExclusive1024(void)
    {
        RwInt32 count = 0;
        Request(rwDEVICESYSTEMGETNUMMODES, &count);
        for (RwInt32 i = 0; i < count; i++) {
            RwVideoMode mode;
            if (Request(rwDEVICESYSTEMGETMODEINFO, &mode, nullptr, i) && (mode.flags & rwVIDEOMODEEXCLUSIVE) &&
                mode.width == 1024 && mode.height == 768 && mode.depth == 32)
                return i;
        }
        return -1;
    }

    RwEngineOpenParams params = {nullptr};
};

} // namespace

TEST_F(DeviceSystem, OpenReadsTheDesktopModeAndCloseReleases)
{
    Open();
    EXPECT_NE(rwD3D9Driver.d3d, nullptr);
    EXPECT_EQ(rwD3D9Driver.window, Window);
    EXPECT_EQ(rwD3D9Driver.deviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(rwD3D9Driver.displayMode.width, 1024);
    EXPECT_EQ(rwD3D9Driver.displayMode.height, 768);
    EXPECT_EQ(rwD3D9Driver.displayMode.depth, 32);
    EXPECT_EQ(rwD3D9Driver.displayMode.flags, 0u);
    EXPECT_EQ(rwD3D9Driver.currentVideoMode, 0);
    EXPECT_TRUE(rwD3D9Driver.cpuSSE);
    EXPECT_GT(rwD3D9Driver.totalModeCount, 0);
    EXPECT_TRUE(Request(rwDEVICESYSTEMCLOSE));
    EXPECT_EQ(rwD3D9Driver.d3d, nullptr);
    EXPECT_EQ(rwD3D9Driver.videoModes, nullptr);
}

TEST_F(DeviceSystem, OpenWithoutParametersFails)
{
    EXPECT_FALSE(Request(rwDEVICESYSTEMOPEN, nullptr, nullptr));
    EXPECT_EQ(rwD3D9Driver.d3d, nullptr);
}

TEST_F(DeviceSystem, RegisterCopiesTheDeviceBlock)
{
    RwDevice block;
    std::memset(&block, 0, sizeof(block));
    ASSERT_TRUE(Request(rwDEVICESYSTEMREGISTER, &block));
    EXPECT_EQ(block.gammaCorrection, 1.0f);
    EXPECT_EQ(block.fpSystem, RwD3D9DeviceSystem);
    EXPECT_EQ(block.zBufferNear, 0.0f);
    EXPECT_EQ(block.zBufferFar, 1.0f);
    EXPECT_NE(block.fpRenderStateSet, nullptr);
    EXPECT_NE(block.fpIm2DRenderPrimitive, nullptr);
    EXPECT_EQ(block.fpIm3DRenderLine, nullptr);
    EXPECT_EQ(RwD3D9GetDeviceBlock()->fpSystem, RwD3D9DeviceSystem);
}

TEST_F(DeviceSystem, UnknownAndUnsupportedRequestsFail)
{
    Open();
    for (RwInt32 r : {9, 18, 20, 21, 23, 99, -1})
        EXPECT_FALSE(Request(r)) << r;
    RwUInt16 id = 0;
    EXPECT_TRUE(Request(rwDEVICESYSTEMGETID, &id));
    EXPECT_EQ(id, 2);
}

TEST_F(DeviceSystem, VideoModeListStartsWithTheWindowedDesktop)
{
    Open();
    RwInt32 count = 0;
    ASSERT_TRUE(Request(rwDEVICESYSTEMGETNUMMODES, &count));
    ASSERT_GE(count, 2);
    RwVideoMode mode;
    ASSERT_TRUE(Request(rwDEVICESYSTEMGETMODEINFO, &mode, nullptr, 0));
    EXPECT_EQ(mode.flags, 0);
    EXPECT_EQ(mode.width, 1024);
    EXPECT_EQ(mode.height, 768);
    EXPECT_EQ(mode.depth, 32);
    EXPECT_EQ(mode.format, 0x600);   // desktop in X8R8G8B8
    EXPECT_GE(FindExclusive1024(), 1);
    // Each exclusive (size, format) appears once.
    for (RwInt32 i = 1; i < rwD3D9Driver.numVideoModes; i++) {
        for (RwInt32 j = i + 1; j < rwD3D9Driver.numVideoModes; j++) {
            const RwD3D9VideoModeEntry &a = rwD3D9Driver.videoModes[i];
            const RwD3D9VideoModeEntry &b = rwD3D9Driver.videoModes[j];
            EXPECT_FALSE(a.width == b.width && a.height == b.height && a.format == b.format);
        }
    }
    EXPECT_LE(rwD3D9Driver.numVideoModes, rwD3D9Driver.videoModeCapacity);
}

TEST_F(DeviceSystem, VideoModeIndicesAreRangeChecked)
{
    Open();
    RwInt32 count = 0;
    ASSERT_TRUE(Request(rwDEVICESYSTEMGETNUMMODES, &count));
    RwVideoMode mode;
    EXPECT_FALSE(Request(rwDEVICESYSTEMGETMODEINFO, &mode, nullptr, -1));
    EXPECT_FALSE(Request(rwDEVICESYSTEMGETMODEINFO, &mode, nullptr, count));
    EXPECT_FALSE(Request(rwDEVICESYSTEMUSEMODE, nullptr, nullptr, count));
    EXPECT_FALSE(Request(rwDEVICESYSTEMUSEMODE, nullptr, nullptr, -5));
    RwInt32 current = -1;
    ASSERT_TRUE(Request(rwDEVICESYSTEMGETMODE, &current));
    EXPECT_EQ(current, 0);
}

TEST_F(DeviceSystem, ModeListIsNeverFilledPastItsAllocation)
{
    Open();
    // Pretend the adapter grew modes since the list was sized.
    rwD3D9Driver.totalModeCount = 0;
    ASSERT_TRUE(RwD3D9BuildVideoModes());
    EXPECT_LE(rwD3D9Driver.numVideoModes, 1);
    EXPECT_LE(rwD3D9Driver.numVideoModes, rwD3D9Driver.videoModeCapacity);
}

TEST_F(DeviceSystem, SubSystemsAreTheAdapters)
{
    Open();
    RwUInt32 count = 0;
    ASSERT_TRUE(Request(rwDEVICESYSTEMGETNUMSUBSYSTEMS, &count));
    ASSERT_GE(count, 1u);
    RwSubSystemInfo info;
    std::memset(&info, 'x', sizeof(info));
    ASSERT_TRUE(Request(rwDEVICESYSTEMGETSUBSYSTEMINFO, &info, nullptr, 0));
    EXPECT_LT(std::strlen(info.name), sizeof(info.name));
    EXPECT_FALSE(Request(rwDEVICESYSTEMGETSUBSYSTEMINFO, &info, nullptr, static_cast<RwInt32>(count)));
    EXPECT_FALSE(Request(rwDEVICESYSTEMGETSUBSYSTEMINFO, &info, nullptr, -1));
    EXPECT_FALSE(Request(rwDEVICESYSTEMSETSUBSYSTEM, nullptr, nullptr, static_cast<RwInt32>(count)));
    EXPECT_TRUE(Request(rwDEVICESYSTEMSETSUBSYSTEM, nullptr, nullptr, 0));
    RwInt32 current = -1;
    ASSERT_TRUE(Request(rwDEVICESYSTEMGETCURRENTSUBSYSTEM, &current));
    EXPECT_EQ(current, 0);
    EXPECT_GE(rwD3D9Driver.numVideoModes, 2);
}

TEST_F(DeviceSystem, WindowedStartCreatesTheDeviceAtTheClientSize)
{
    Open();
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTART));
    RwD3D9Driver &d = rwD3D9Driver;
    ASSERT_NE(d.device, nullptr);
    EXPECT_TRUE(d.started);
    EXPECT_TRUE(d.present.Windowed);
    EXPECT_EQ(d.present.SwapEffect, D3DSWAPEFFECT_COPY);
    EXPECT_EQ(d.present.PresentationInterval, D3DPRESENT_INTERVAL_IMMEDIATE);
    EXPECT_EQ(d.present.BackBufferWidth, 1024u);   // the device filled in the client size
    EXPECT_EQ(d.present.hDeviceWindow, Window);
    EXPECT_TRUE(d.present.EnableAutoDepthStencil);
    EXPECT_EQ(d.displayMode.width, 1024);
    EXPECT_EQ(d.displayMode.height, 768);
    EXPECT_NE(d.defaultColorSurface, nullptr);
    EXPECT_NE(d.defaultDepthSurface, nullptr);
    if (d.present.AutoDepthStencilFormat == D3DFMT_D24S8) {
        EXPECT_EQ(d.zBufferDepth, 32);
        EXPECT_TRUE(d.depthHasStencil);
    }
    // A desktop in X8R8G8B8 gets an A8R8G8B8 back buffer when the adapter takes it.
    if (SUCCEEDED(d.d3d->CheckDeviceType(d.adapter, d.deviceType, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, TRUE))) {
        EXPECT_EQ(d.present.BackBufferFormat, D3DFMT_A8R8G8B8);
    }
    RwUInt32 size = 0;
    ASSERT_TRUE(Request(rwDEVICESYSTEMGETMAXTEXTURESIZE, &size));
    EXPECT_EQ(size, d.caps.MaxTextureWidth > d.caps.MaxTextureHeight ? d.caps.MaxTextureWidth
                                                                     : d.caps.MaxTextureHeight);
    RwUInt32 memory = 0;
    EXPECT_TRUE(Request(rwDEVICESYSTEMGETTEXMEMSIZE, &memory));

    EXPECT_FALSE(Request(rwDEVICESYSTEMUSEMODE, nullptr, nullptr, 0)) << "no mode change while started";
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTOP));
    EXPECT_EQ(d.device, nullptr);
    EXPECT_FALSE(d.started);
    EXPECT_TRUE(Request(rwDEVICESYSTEMUSEMODE, nullptr, nullptr, 0));
}

TEST_F(DeviceSystem, FocusInAWindowedModeLeavesTheWindowAlone)
{
    Open();
    EXPECT_FALSE(Request(rwDEVICESYSTEMFOCUS, nullptr, nullptr, 1)) << "no device yet";
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTART));
    EXPECT_TRUE(Request(rwDEVICESYSTEMFOCUS, nullptr, nullptr, 0));
    EXPECT_TRUE(IsWindowVisible(Window));
}

TEST_F(DeviceSystem, SwitchesBetweenExclusiveAndWindowedModes)
{
    Open();
    RwInt32 exclusive = FindExclusive1024();
    ASSERT_GE(exclusive, 1);
    ASSERT_TRUE(Request(rwDEVICESYSTEMUSEMODE, nullptr, nullptr, exclusive));
    EXPECT_EQ(rwD3D9Driver.displayMode.flags, 1u);
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTART));
    D3DPRESENT_PARAMETERS &p = rwD3D9Driver.present;
    EXPECT_FALSE(p.Windowed);
    EXPECT_EQ(p.SwapEffect, D3DSWAPEFFECT_FLIP);
    EXPECT_EQ(p.BackBufferWidth, 1024u);
    EXPECT_EQ(p.BackBufferHeight, 768u);
    EXPECT_EQ(p.BackBufferCount, 1u);
    RwInt32 current = -1;
    Request(rwDEVICESYSTEMGETMODE, &current);
    EXPECT_EQ(current, exclusive);
    // Losing and gaining focus hides and restores the window.
    EXPECT_TRUE(Request(rwDEVICESYSTEMFOCUS, nullptr, nullptr, 0));
    EXPECT_FALSE(IsWindowVisible(Window));
    EXPECT_TRUE(Request(rwDEVICESYSTEMFOCUS, nullptr, nullptr, 1));
    EXPECT_TRUE(IsWindowVisible(Window));
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTOP));

    ASSERT_TRUE(Request(rwDEVICESYSTEMUSEMODE, nullptr, nullptr, 0));
    EXPECT_EQ(rwD3D9Driver.displayMode.flags, 0u);
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTART));
    EXPECT_TRUE(rwD3D9Driver.present.Windowed);
    EXPECT_EQ(rwD3D9Driver.device->TestCooperativeLevel(), D3D_OK);
    ShowWindow(Window, SW_SHOW);
}

TEST_F(DeviceSystem, EmptyWindowAsksForAOnePixelBackBuffer)
{
    Open();
    HWND empty = CreateWindowExA(0, "KivD3D9Test", "empty", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(empty, nullptr);
    rwD3D9Driver.window = empty;
    D3DPRESENT_PARAMETERS p;
    RwD3D9BuildPresentParameters(&p, D3DFMT_X8R8G8B8);
    EXPECT_EQ(p.BackBufferWidth, 1u);
    EXPECT_EQ(p.BackBufferHeight, 1u);
    rwD3D9Driver.window = Window;
    RwD3D9BuildPresentParameters(&p, D3DFMT_X8R8G8B8);
    EXPECT_EQ(p.BackBufferWidth, 0u);
    EXPECT_EQ(p.BackBufferHeight, 0u);
    DestroyWindow(empty);
}

TEST_F(DeviceSystem, SixteenBitDesktopSearchesSixteenBitDepthFormats)
{
    Open();
    D3DPRESENT_PARAMETERS p;
    RwD3D9BuildPresentParameters(&p, D3DFMT_R5G6B5);
    EXPECT_EQ(p.BackBufferFormat, D3DFMT_R5G6B5);
    EXPECT_EQ(rwD3D9Driver.zBufferDepth, 16);
    EXPECT_TRUE(p.AutoDepthStencilFormat == D3DFMT_D15S1 || p.AutoDepthStencilFormat == D3DFMT_D16);
    EXPECT_EQ(rwD3D9Driver.depthHasStencil, p.AutoDepthStencilFormat == D3DFMT_D15S1);
}

TEST(DeviceBehaviour, FlagsFollowTheCapsAndTheMultithreadSwitch)
{
    D3DCAPS9 caps;
    std::memset(&caps, 0, sizeof(caps));
    EXPECT_EQ(RwD3D9BehaviourFlags(&caps, FALSE), static_cast<DWORD>(D3DCREATE_SOFTWARE_VERTEXPROCESSING));
    EXPECT_EQ(RwD3D9BehaviourFlags(&caps, TRUE), 0x24u);
    caps.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    EXPECT_EQ(RwD3D9BehaviourFlags(&caps, TRUE), 0x44u);
    caps.DevCaps |= D3DDEVCAPS_PUREDEVICE;
    EXPECT_EQ(RwD3D9BehaviourFlags(&caps, FALSE), 0x50u);
}

TEST(DeviceFormats, DepthRuleAndRasterFormatCodes)
{
    EXPECT_EQ(RwD3D9FormatDepth(D3DFMT_A8R8G8B8), 32);
    EXPECT_EQ(RwD3D9FormatDepth(D3DFMT_X8R8G8B8), 32);
    EXPECT_EQ(RwD3D9FormatDepth(D3DFMT_A2R10G10B10), 32);
    EXPECT_EQ(RwD3D9FormatDepth(D3DFMT_R5G6B5), 16);
    EXPECT_EQ(RwD3D9FormatDepth(D3DFMT_X1R5G5B5), 16);
    EXPECT_EQ(RwD3D9FormatDepth(D3DFMT_A1R5G5B5), 16);
    EXPECT_EQ(RwD3D9FormatDepth(D3DFMT_A4R4G4B4), 0);
    EXPECT_EQ(RwD3D9VideoModeRasterFormat(D3DFMT_A8R8G8B8), 0x500);
    EXPECT_EQ(RwD3D9VideoModeRasterFormat(D3DFMT_A2R10G10B10), 0x500);
    EXPECT_EQ(RwD3D9VideoModeRasterFormat(D3DFMT_X8R8G8B8), 0x600);
    EXPECT_EQ(RwD3D9VideoModeRasterFormat(D3DFMT_R5G6B5), 0x200);
    EXPECT_EQ(RwD3D9VideoModeRasterFormat(D3DFMT_X1R5G5B5), 0xA00);
    EXPECT_EQ(RwD3D9VideoModeRasterFormat(D3DFMT_A1R5G5B5), 0x100);
    EXPECT_EQ(RwD3D9VideoModeRasterFormat(D3DFMT_L8), 0);
}

TEST_F(DeviceSystem, ControlWordIsSinglePrecisionFromFinishStartUntilStop)
{
    RwUInt16 before = RwFpuGetControlWord();
    Open();
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTART));
    ASSERT_TRUE(Request(rwDEVICESYSTEMFINALIZESTART));
    RwUInt16 running = RwFpuGetControlWord();
    EXPECT_EQ(running & 0x300, 0);
    EXPECT_EQ(running & 0x3F, 0x3F);
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTOP));
    EXPECT_EQ(RwFpuGetControlWord(), before);
    // A stop without a finished start loads nothing.
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTART));
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTOP));
    EXPECT_EQ(RwFpuGetControlWord(), before);
}

TEST_F(DeviceSystem, StopLeavesDeclarationsHeldByOthersValid)
{
    Open();
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTART));
    const D3DVERTEXELEMENT9 elements[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        D3DDECL_END(),
    };
    void *declaration = nullptr;
    ASSERT_TRUE(RwD3D9CreateVertexDeclaration(elements, &declaration));
    ASSERT_NE(declaration, nullptr);
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTOP));
    // The caller's reference is still its own; giving it back frees the object.
    auto *d = static_cast<IDirect3DVertexDeclaration9 *>(declaration);
    EXPECT_EQ(d->AddRef(), 2u);
    EXPECT_EQ(d->Release(), 1u);
    EXPECT_EQ(d->Release(), 0u);
}

TEST_F(DeviceSystem, EngineRunsItsLifeCycleOnTheDriver)
{
    RwUInt16 before = RwFpuGetControlWord();
    ASSERT_EQ(RwEngineGetStatus(), rwENGINESTATUSINITED);
    ASSERT_TRUE(RwEngineOpen(&params));
    EXPECT_EQ(RwEngineInstance->dOpenDevice.fpSystem, RwD3D9DeviceSystem);
    EXPECT_EQ(RwEngineInstance->stdFunc[rwSTANDARDCAMERACLEAR], RwD3D9CameraClear);
    EXPECT_GE(RwEngineGetNumSubSystems(), 1);
    RwSubSystemInfo info;
    EXPECT_NE(RwEngineGetSubSystemInfo(&info, RwEngineGetCurrentSubSystem()), nullptr);
    EXPECT_GE(RwEngineGetNumVideoModes(), 2);
    ASSERT_TRUE(RwEngineSetVideoMode(0));
    RwVideoMode mode;
    ASSERT_NE(RwEngineGetVideoModeInfo(&mode, RwEngineGetCurrentVideoMode()), nullptr);
    EXPECT_EQ(mode.flags & rwVIDEOMODEEXCLUSIVE, 0);

    RwD3D9SetMultithreadSafe(TRUE);
    ASSERT_TRUE(RwEngineStart());
    ASSERT_NE(rwD3D9Driver.device, nullptr);
    D3DDEVICE_CREATION_PARAMETERS creation;
    ASSERT_EQ(rwD3D9Driver.device->GetCreationParameters(&creation), D3D_OK);
    EXPECT_NE(creation.BehaviorFlags & D3DCREATE_MULTITHREADED, 0u);
    EXPECT_EQ(creation.hFocusWindow, Window);
    EXPECT_EQ(RwFpuGetControlWord() & 0x33F, 0x3F);

    ASSERT_TRUE(RwEngineStop());
    EXPECT_EQ(rwD3D9Driver.device, nullptr);
    EXPECT_EQ(RwFpuGetControlWord(), before);
    ASSERT_TRUE(RwEngineClose());
    EXPECT_EQ(rwD3D9Driver.d3d, nullptr);
    EXPECT_EQ(RwEngineGetStatus(), rwENGINESTATUSINITED);
    RwD3D9SetMultithreadSafe(FALSE);
}

TEST_F(DeviceSystem, StartInstallsTheRoutinesTheFeatureFlagsChoose)
{
    struct Case {
        RwBool sse, sse2, has3DNow;
        RwD3D9TransformRoutine point;
    };
    const Case cases[] = {
        {FALSE, FALSE, FALSE, RwV3dTransformPointX87},
        {TRUE, FALSE, FALSE, RwV3dTransformPointSSE},
        {TRUE, TRUE, FALSE, RwV3dTransformPointSSE2},
        {TRUE, TRUE, TRUE, RwV3dTransformPointSSE},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(RwEngineOpen(&params));
        // The flags were probed at open; what finish start reads can be set here.
        rwD3D9Driver.cpuSSE = c.sse;
        rwD3D9Driver.cpuSSE2 = c.sse2;
        rwD3D9Driver.cpu3DNow = c.has3DNow;
        ASSERT_TRUE(RwEngineStart());
        EXPECT_EQ(RwD3D9GetInstalledTransforms()->point, c.point);
        RwMatrix *m = RwMatrixCreate();
        const RwV3d move = {10, 20, 30};
        RwMatrixTranslate(m, &move, rwCOMBINEREPLACE);
        RwV3d p = {1, 2, 3}, out;
        RwV3dTransformPoint(&out, &p, m);
        EXPECT_EQ(out.x, 11.0f);
        EXPECT_EQ(out.y, 22.0f);
        EXPECT_EQ(out.z, 33.0f);
        RwV3d v[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        RwV3dTransformVectors(v, v, 3, m);
        EXPECT_EQ(v[2].z, 1.0f);
        RwMatrixDestroy(m);
        ASSERT_TRUE(RwEngineStop());
        ASSERT_TRUE(RwEngineClose());
    }
}
