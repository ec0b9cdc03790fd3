// Tests of the driver's system function: open, start, stop, close and video modes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

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

// A made-up adapter in front of the real Direct3D object: its own desktop
// format, mode table, identifier and refused depth formats. Devices are still
// created by the real object.
#define KIV_PASS(type, name, params, args)                                                                      \
    type STDMETHODCALLTYPE name params override                                                                 \
    {                                                                                                           \
        return real->name args;                                                                                 \
    }

class FakeAdapter : public IDirect3D9 {
public:
    explicit FakeAdapter(IDirect3D9 *d3d) : real(d3d) {}
    virtual ~FakeAdapter() = default;

    IDirect3D9 *real;
    D3DFORMAT desktop = D3DFMT_X8R8G8B8;
    std::vector<D3DDISPLAYMODE> modes;
    bool refuse32BitDepth = false;
    DWORD vendorId = 0, deviceId = 0;    // 0: the real identifier

    KIV_PASS(HRESULT, QueryInterface, (REFIID riid, void **object), (riid, object))
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    KIV_PASS(HRESULT, RegisterSoftwareDevice, (void *f), (f))
    KIV_PASS(UINT, GetAdapterCount, (), ())
    KIV_PASS(HRESULT, CheckDeviceType, (UINT a, D3DDEVTYPE t, D3DFORMAT f, D3DFORMAT b, WINBOOL w), (a, t, f, b, w))
    KIV_PASS(HRESULT, CheckDeviceMultiSampleType,
             (UINT a, D3DDEVTYPE t, D3DFORMAT f, WINBOOL w, D3DMULTISAMPLE_TYPE m, DWORD *q), (a, t, f, w, m, q))
    KIV_PASS(HRESULT, CheckDepthStencilMatch, (UINT a, D3DDEVTYPE t, D3DFORMAT f, D3DFORMAT rt, D3DFORMAT ds),
             (a, t, f, rt, ds))
    KIV_PASS(HRESULT, CheckDeviceFormatConversion, (UINT a, D3DDEVTYPE t, D3DFORMAT s, D3DFORMAT d), (a, t, s, d))
    KIV_PASS(HMONITOR, GetAdapterMonitor, (UINT a), (a))
    KIV_PASS(HRESULT, CreateDevice,
             (UINT a, D3DDEVTYPE t, HWND w, DWORD flags, D3DPRESENT_PARAMETERS *p, IDirect3DDevice9 **device),
             (a, t, w, flags, p, device))
    HRESULT STDMETHODCALLTYPE GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9 *id) override
    {
        HRESULT hr = real->GetAdapterIdentifier(adapter, flags, id);
        if (vendorId) {
            id->VendorId = vendorId;
            id->DeviceId = deviceId;
        }
        return hr;
    }
    UINT STDMETHODCALLTYPE GetAdapterModeCount(UINT, D3DFORMAT format) override
    {
        UINT n = 0;
        for (const D3DDISPLAYMODE &m : modes)
            n += m.Format == format;
        return n;
    }
    HRESULT STDMETHODCALLTYPE EnumAdapterModes(UINT, D3DFORMAT format, UINT index, D3DDISPLAYMODE *mode) override
    {
        for (const D3DDISPLAYMODE &m : modes) {
            if (m.Format == format && index-- == 0) {
                *mode = m;
                return D3D_OK;
            }
        }
        return D3DERR_INVALIDCALL;
    }
    HRESULT STDMETHODCALLTYPE GetAdapterDisplayMode(UINT, D3DDISPLAYMODE *mode) override
    {
        *mode = {1024, 768, 60, desktop};
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceFormat(UINT a, D3DDEVTYPE t, D3DFORMAT f, DWORD usage, D3DRESOURCETYPE r,
                                                D3DFORMAT check) override
    {
        if (refuse32BitDepth && (check == D3DFMT_D24S8 || check == D3DFMT_D24X4S4 || check == D3DFMT_D32 ||
                                 check == D3DFMT_D24X8))
            return D3DERR_NOTAVAILABLE;
        return real->CheckDeviceFormat(a, t, f, usage, r, check);
    }
    HRESULT STDMETHODCALLTYPE GetDeviceCaps(UINT a, D3DDEVTYPE t, D3DCAPS9 *caps) override
    {
        HRESULT hr = real->GetDeviceCaps(a, t, caps);
        caps->DevCaps2 |= D3DDEVCAPS2_STREAMOFFSET;    // so that dropping it shows
        return hr;
    }
};
#undef KIV_PASS

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
        if (fake)
            rwD3D9Driver.d3d = fake->real;
        delete fake;
        if (rwD3D9Driver.d3d)
            Request(rwDEVICESYSTEMCLOSE);
    }

    void Open() { ASSERT_TRUE(Request(rwDEVICESYSTEMOPEN, nullptr, &params)); }

    // Opens the driver on a made-up adapter.
    FakeAdapter *OpenFake(void)
    {
        Open();
        fake = new FakeAdapter(rwD3D9Driver.d3d);
        rwD3D9Driver.d3d = fake;
        return fake;
    }

    FakeAdapter *fake = nullptr;

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
    EXPECT_FALSE(Request(rwDEVICESYSTEMOPEN, nullptr, nullptr)) << "no window";
    EXPECT_EQ(rwD3D9Driver.d3d, nullptr);
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
    rwD3D9Driver.caps.MaxTextureWidth = 2048;
    rwD3D9Driver.caps.MaxTextureHeight = 4096;
    RwUInt32 size = 0;
    EXPECT_TRUE(Request(rwDEVICESYSTEMGETMAXTEXTURESIZE, &size));
    EXPECT_EQ(size, 4096u);
}

TEST_F(DeviceSystem, VideoModeListStartsWithTheWindowedDesktopAndChecksItsIndices)
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
    EXPECT_FALSE(Request(rwDEVICESYSTEMGETMODEINFO, &mode, nullptr, -1));
    EXPECT_FALSE(Request(rwDEVICESYSTEMGETMODEINFO, &mode, nullptr, count));
    EXPECT_FALSE(Request(rwDEVICESYSTEMUSEMODE, nullptr, nullptr, count));
    EXPECT_FALSE(Request(rwDEVICESYSTEMUSEMODE, nullptr, nullptr, -5));
    RwInt32 current = -1;
    ASSERT_TRUE(Request(rwDEVICESYSTEMGETMODE, &current));
    EXPECT_EQ(current, 0);
    // The adapter grew modes since the list was sized: never filled past its allocation.
    rwD3D9Driver.totalModeCount = 0;
    ASSERT_TRUE(RwD3D9BuildVideoModes());
    EXPECT_LE(rwD3D9Driver.numVideoModes, 1);
    EXPECT_LE(rwD3D9Driver.numVideoModes, rwD3D9Driver.videoModeCapacity);
}

TEST_F(DeviceSystem, ModeListKeepsEachSizeAndFormatOnceAtItsHighestRate)
{
    struct Case {
        D3DFORMAT desktop;
        std::vector<RwVideoMode> expected;   // width, height, depth, flags, refresh, format code
    };
    const Case cases[] = {
        {D3DFMT_X8R8G8B8,
         {{1024, 768, 32, 0, 60, 0x600}, {1024, 768, 16, 1, 75, 0x200}, {1024, 768, 32, 1, 85, 0x600},
          {800, 600, 32, 1, 75, 0x600}}},
        // A desktop outside the display formats gives no windowed entry; the
        // first exclusive mode is merged like the others.
        {D3DFMT_A4R4G4B4,
         {{1024, 768, 16, 1, 75, 0x200}, {1024, 768, 32, 1, 85, 0x600}, {800, 600, 32, 1, 75, 0x600}}},
    };
    FakeAdapter *adapter = OpenFake();
    adapter->modes = {{1024, 768, 60, D3DFMT_R5G6B5}, {1024, 768, 75, D3DFMT_R5G6B5},
                      {1024, 768, 60, D3DFMT_X8R8G8B8}, {1024, 768, 85, D3DFMT_X8R8G8B8},
                      {800, 600, 75, D3DFMT_X8R8G8B8}, {800, 600, 60, D3DFMT_X8R8G8B8}};
    for (const Case &c : cases) {
        adapter->desktop = c.desktop;
        ASSERT_TRUE(Request(rwDEVICESYSTEMSETSUBSYSTEM, nullptr, nullptr, 0));
        EXPECT_EQ(rwD3D9Driver.totalModeCount, 6);
        RwInt32 count = 0;
        ASSERT_TRUE(Request(rwDEVICESYSTEMGETNUMMODES, &count));
        ASSERT_EQ(count, static_cast<RwInt32>(c.expected.size())) << c.desktop;
        for (RwInt32 i = 0; i < count; i++) {
            RwVideoMode mode, want = c.expected[i];
            ASSERT_TRUE(Request(rwDEVICESYSTEMGETMODEINFO, &mode, nullptr, i));
            EXPECT_EQ(std::memcmp(&mode, &want, sizeof(mode)), 0) << c.desktop << " entry " << i;
        }
    }
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

TEST_F(DeviceSystem, DepthSearchFallsBackToSixteenBits)
{
    // A 16-bit desktop, and an adapter that refuses every 32-bit depth format
    // under a 32-bit back buffer, both end in the 16-bit search.
    OpenFake()->refuse32BitDepth = true;
    for (D3DFORMAT desktop : {D3DFMT_R5G6B5, D3DFMT_X8R8G8B8}) {
        D3DPRESENT_PARAMETERS p;
        RwD3D9BuildPresentParameters(&p, desktop);
        EXPECT_EQ(RwD3D9FormatDepth(p.BackBufferFormat), RwD3D9FormatDepth(desktop));
        EXPECT_EQ(rwD3D9Driver.zBufferDepth, 16) << desktop;
        EXPECT_TRUE(p.AutoDepthStencilFormat == D3DFMT_D15S1 || p.AutoDepthStencilFormat == D3DFMT_D16);
        EXPECT_EQ(rwD3D9Driver.depthHasStencil, p.AutoDepthStencilFormat == D3DFMT_D15S1);
    }
}

TEST_F(DeviceSystem, OneAdapterNeverReportsStreamOffsets)
{
    FakeAdapter *adapter = OpenFake();
    adapter->deviceId = 0x5157;
    for (DWORD vendor : {0x1002u, 0x10DEu}) {
        adapter->vendorId = vendor;
        ASSERT_TRUE(Request(rwDEVICESYSTEMSTART));
        EXPECT_EQ((rwD3D9Driver.caps.DevCaps2 & D3DDEVCAPS2_STREAMOFFSET) != 0, vendor != 0x1002) << vendor;
        ASSERT_TRUE(Request(rwDEVICESYSTEMSTOP));
    }
}

namespace {
void *FailingMalloc(size_t, RwUInt32) { return nullptr; }
} // namespace

TEST_F(DeviceSystem, StartThatCannotSetUpItsCachesGivesTheDeviceBack)
{
    Open();
    RwMemoryFunctions saved = RwEngineInstance->memoryFuncs;
    RwEngineInstance->memoryFuncs.rwmalloc = FailingMalloc;
    RwBool started = Request(rwDEVICESYSTEMSTART);
    RwEngineInstance->memoryFuncs = saved;
    EXPECT_FALSE(started);
    EXPECT_FALSE(rwD3D9Driver.started);
    EXPECT_EQ(rwD3D9Driver.device, nullptr);
    EXPECT_TRUE(Request(rwDEVICESYSTEMSTART));
}

TEST(DeviceBehaviour, FlagsFollowTheCapsAndTheMultithreadSwitch)
{
    struct Case {
        DWORD devCaps;
        RwBool multithread;
        DWORD flags;
    };
    const Case cases[] = {
        {0, FALSE, 0x20},
        {0, TRUE, 0x24},
        {D3DDEVCAPS_HWTRANSFORMANDLIGHT, TRUE, 0x44},
        {D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_PUREDEVICE, FALSE, 0x50},
        {D3DDEVCAPS_PUREDEVICE, FALSE, 0x20},
    };
    D3DCAPS9 caps;
    std::memset(&caps, 0, sizeof(caps));
    for (const Case &c : cases) {
        caps.DevCaps = c.devCaps;
        EXPECT_EQ(RwD3D9BehaviourFlags(&caps, c.multithread), c.flags) << c.devCaps;
    }
}

TEST(DeviceFormats, DepthRuleAndRasterFormatCodes)
{
    struct Case {
        D3DFORMAT format;
        RwInt32 depth, code;
    };
    const Case cases[] = {
        {D3DFMT_A8R8G8B8, 32, 0x500}, {D3DFMT_X8R8G8B8, 32, 0x600}, {D3DFMT_A2R10G10B10, 32, 0x500},
        {D3DFMT_R5G6B5, 16, 0x200},   {D3DFMT_X1R5G5B5, 16, 0xA00}, {D3DFMT_A1R5G5B5, 16, 0x100},
        {D3DFMT_A4R4G4B4, 0, 0},      {D3DFMT_L8, 0, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(RwD3D9FormatDepth(c.format), c.depth) << c.format;
        EXPECT_EQ(RwD3D9VideoModeRasterFormat(c.format), c.code) << c.format;
    }
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

// Instance data kept outside the resources arena lives as long as its
// object, which may be destroyed after the device stopped: its delete then
// gives its reference back, so that nothing keeps the stopped device alive,
// and a device started later gets declarations of its own.
TEST_F(DeviceSystem, DeclarationsDeletedAfterTheStopLetTheDeviceGo)
{
    Open();
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTART));
    IDirect3DDevice9 *first = rwD3D9Driver.device;
    first->AddRef();
    const D3DVERTEXELEMENT9 elements[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        D3DDECL_END(),
    };
    void *held = nullptr, *twice = nullptr;
    ASSERT_TRUE(RwD3D9CreateVertexDeclaration(elements, &held));
    ASSERT_TRUE(RwD3D9CreateVertexDeclaration(elements, &twice));
    ASSERT_EQ(held, twice);
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTOP));

    // A device started before the holder lets go shares nothing with it.
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTART));
    void *fresh = nullptr;
    ASSERT_TRUE(RwD3D9CreateVertexDeclaration(elements, &fresh));
    EXPECT_NE(fresh, held);
    IDirect3DDevice9 *owner = nullptr;
    ASSERT_EQ(D3D_OK, static_cast<IDirect3DVertexDeclaration9 *>(fresh)->GetDevice(&owner));
    EXPECT_EQ(owner, rwD3D9Driver.device);
    owner->Release();
    RwD3D9DeleteVertexDeclaration(held);
    RwD3D9DeleteVertexDeclaration(fresh);
    ASSERT_TRUE(Request(rwDEVICESYSTEMSTOP));
    RwD3D9DeleteVertexDeclaration(twice);
    // The test's own reference is the last one on the first device.
    EXPECT_EQ(first->Release(), 0u);
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
    // Finish start installed the routines the probed flags choose.
    const RwD3D9Driver &d = rwD3D9Driver;
    EXPECT_EQ(RwD3D9GetInstalledTransforms()->point, RwD3D9SelectTransforms(d.cpuSSE, d.cpuSSE2, d.cpu3DNow).point);
    RwMatrix *m = RwMatrixCreate();
    const RwV3d move = {10, 20, 30};
    RwMatrixTranslate(m, &move, rwCOMBINEREPLACE);
    RwV3d p = {1, 2, 3}, out;
    RwV3dTransformPoint(&out, &p, m);
    EXPECT_EQ(out.x, 11.0f);
    EXPECT_EQ(out.z, 33.0f);
    RwMatrixDestroy(m);

    ASSERT_TRUE(RwEngineStop());
    EXPECT_EQ(rwD3D9Driver.device, nullptr);
    EXPECT_EQ(RwFpuGetControlWord(), before);
    ASSERT_TRUE(RwEngineClose());
    EXPECT_EQ(rwD3D9Driver.d3d, nullptr);
    EXPECT_EQ(RwEngineGetStatus(), rwENGINESTATUSINITED);
    RwD3D9SetMultithreadSafe(FALSE);
}
