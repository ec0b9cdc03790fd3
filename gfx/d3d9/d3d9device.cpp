// The Direct3D 9 driver's system function: open, start, stop and close of the device.
#include "d3d9device.h"

#include <cstring>

#include "d3d9cpu.h"
#include "d3d9im2d.h"
#include "d3d9raster.h"
#include "d3d9renderstate.h"
#include "d3d9standard.h"
#include "d3d9state.h"
#include "d3d9vertexbuffer.h"
#include "d3d9videomode.h"

RwD3D9Driver rwD3D9Driver;

static RwDevice D3D9DeviceBlock = {
    1.0f,
    RwD3D9DeviceSystem,
    0.0f,
    1.0f,
    RwD3D9RenderStateSetHandler,
    RwD3D9RenderStateGetHandler,
    RwD3D9Im2DRenderLine,
    RwD3D9Im2DRenderTriangle,
    RwD3D9Im2DRenderPrimitive,
    RwD3D9Im2DRenderIndexedPrimitive,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

RwDevice *RwD3D9GetDeviceBlock(void)
{
    return &D3D9DeviceBlock;
}

RwBool RwD3D9DriverRegisterPlugins(void)
{
    return RwD3D9RasterPluginAttach();
}

void RwD3D9SetMultithreadSafe(RwBool flag)
{
    rwD3D9Driver.multithreadSafe = flag;
}

RwInt32 RwD3D9FormatDepth(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A2R10G10B10:
        return 32;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
        return 16;
    default:
        return 0;
    }
}

// TRUE when the depth format goes with the adapter and back-buffer formats.
static RwBool DepthFormatAccepted(D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat, D3DFORMAT depthFormat)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (d.d3d->CheckDeviceFormat(d.adapter, d.deviceType, adapterFormat, D3DUSAGE_DEPTHSTENCIL,
                                 D3DRTYPE_SURFACE, depthFormat) != D3D_OK)
        return FALSE;
    return d.d3d->CheckDepthStencilMatch(d.adapter, d.deviceType, adapterFormat, backBufferFormat,
                                         depthFormat) == D3D_OK;
}

void RwD3D9BuildPresentParameters(D3DPRESENT_PARAMETERS *present, D3DFORMAT desktopFormat)
{
    RwD3D9Driver &d = rwD3D9Driver;
    std::memset(present, 0, sizeof(*present));
    D3DFORMAT candidate;
    if (d.displayMode.flags & rwVIDEOMODEEXCLUSIVE) {
        present->Windowed = FALSE;
        present->BackBufferCount = 1;
        present->FullScreen_RefreshRateInHz = d.displayMode.refreshRate;
        present->PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        present->BackBufferWidth = d.displayMode.width;
        present->BackBufferHeight = d.displayMode.height;
        present->SwapEffect = D3DSWAPEFFECT_FLIP;
        candidate = d.displayMode.format;
    } else {
        present->Windowed = TRUE;
        present->BackBufferCount = 1;
        present->FullScreen_RefreshRateInHz = 0;
        present->PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        present->SwapEffect = D3DSWAPEFFECT_COPY;
        RECT rect = {0, 0, 0, 0};
        if (d.window)
            GetWindowRect(d.window, &rect);
        // Zero asks the device for the client size; an empty window gets one pixel.
        present->BackBufferWidth = (rect.right - rect.left == 0) ? 1 : 0;
        present->BackBufferHeight = (rect.bottom - rect.top == 0) ? 1 : 0;
        candidate = desktopFormat;
    }

    D3DFORMAT backBuffer = candidate;
    if (candidate == D3DFMT_X8R8G8B8 &&
        d.d3d->CheckDeviceType(d.adapter, d.deviceType, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8,
                               present->Windowed) == D3D_OK)
        backBuffer = D3DFMT_A8R8G8B8;
    present->BackBufferFormat = backBuffer;
    present->EnableAutoDepthStencil = TRUE;
    d.zBufferDepth = RwD3D9FormatDepth(backBuffer);

    struct DepthChoice {
        D3DFORMAT format;
        RwBool stencil;
    };
    static const DepthChoice depth32[] = {
        {D3DFMT_D24S8, TRUE},
        {D3DFMT_D24X4S4, TRUE},
        {D3DFMT_D32, FALSE},
        {D3DFMT_D24X8, FALSE},
    };
    if (d.zBufferDepth == 32) {
        for (const DepthChoice &c : depth32) {
            if (DepthFormatAccepted(candidate, backBuffer, c.format)) {
                present->AutoDepthStencilFormat = c.format;
                d.depthHasStencil = c.stencil;
                return;
            }
        }
        d.zBufferDepth = 16;
    }
    if (d.zBufferDepth == 16) {
        if (DepthFormatAccepted(candidate, backBuffer, D3DFMT_D15S1)) {
            present->AutoDepthStencilFormat = D3DFMT_D15S1;
            d.depthHasStencil = TRUE;
        } else {
            present->AutoDepthStencilFormat = D3DFMT_D16;
            d.depthHasStencil = FALSE;
        }
    }
}

DWORD RwD3D9BehaviourFlags(const D3DCAPS9 *caps, RwBool multithread)
{
    DWORD flags = multithread ? D3DCREATE_MULTITHREADED : 0;
    if (caps->DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) {
        if (caps->DevCaps & D3DDEVCAPS_PUREDEVICE)
            flags |= D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE;
        else
            flags |= D3DCREATE_HARDWARE_VERTEXPROCESSING;
    } else {
        flags |= D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    }
    return flags;
}

static RwBool D3D9Open(void *inOut)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (d.d3d != nullptr || inOut == nullptr)
        return FALSE;
    d.window = static_cast<HWND>(static_cast<RwEngineOpenParams *>(inOut)->displayID);
    d.d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (d.d3d == nullptr)
        return FALSE;

    d.deviceType = D3DDEVTYPE_HAL;
    UINT count = d.d3d->GetAdapterCount();
    UINT adapter = 0;
    while (adapter < count && FAILED(d.d3d->GetDeviceCaps(adapter, d.deviceType, &d.caps)))
        adapter++;
    if (adapter >= count) {
        d.d3d->Release();
        d.d3d = nullptr;
        return FALSE;
    }
    RwD3D9SelectAdapter(adapter);
    d.displayMode.depth = RwD3D9FormatDepth(d.displayMode.format);
    d.displayMode.flags = 0;
    d.currentVideoMode = 0;

    RwD3D9CpuProbe();
    return TRUE;
}

static RwBool D3D9Close(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwD3D9FreeVideoModes();
    if (d.d3d) {
        d.d3d->Release();
        d.d3d = nullptr;
    }
    return TRUE;
}

// Caches, device bindings, shared declarations, the device modules and the
// device itself, in the order stop gives them up.
static void ReleaseDevice(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwD3D9StateClose();
    if (d.device) {
        RwD3D9StateUnbindDevice();
        // The immediate-mode buffers give their declarations back first.
        RwD3D9Im2DClose();
        RwD3D9Im3DReleaseBuffers();
        RwD3D9StateReleaseDeclarations();
        RwD3D9RasterModuleClose();
        RwD3D9VertexBufferClose();
        d.device->Release();
        d.device = nullptr;
    }
    d.defaultColorSurface = nullptr;
    d.defaultDepthSurface = nullptr;
    d.inScene = FALSE;
}

static RwBool D3D9Start(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (d.d3d == nullptr || d.device != nullptr)
        return FALSE;

    D3DDISPLAYMODE desktop;
    std::memset(&desktop, 0, sizeof(desktop));
    d.d3d->GetAdapterDisplayMode(d.adapter, &desktop);
    RwD3D9BuildPresentParameters(&d.present, desktop.Format);
    d.present.hDeviceWindow = d.window;

    d.d3d->GetDeviceCaps(d.adapter, d.deviceType, &d.caps);
    D3DADAPTER_IDENTIFIER9 identifier;
    std::memset(&identifier, 0, sizeof(identifier));
    if (SUCCEEDED(d.d3d->GetAdapterIdentifier(d.adapter, 0, &identifier)) &&
        identifier.VendorId == rwD3D9VENDOR_QUIRK && identifier.DeviceId == rwD3D9DEVICE_QUIRK)
        d.caps.DevCaps2 &= ~static_cast<DWORD>(D3DDEVCAPS2_STREAMOFFSET);

    DWORD behaviour = RwD3D9BehaviourFlags(&d.caps, d.multithreadSafe);
    if (FAILED(d.d3d->CreateDevice(d.adapter, d.deviceType, d.window, behaviour, &d.present, &d.device))) {
        d.device = nullptr;
        d.started = FALSE;
        return FALSE;
    }

    if (d.window) {
        RECT client;
        if (GetClientRect(d.window, &client)) {
            d.displayMode.width = client.right;
            d.displayMode.height = client.bottom;
        }
    }
    RwD3D9ReadDefaultSurfaces();

    RwD3D9StateResetTargets();
    d.inScene = FALSE;
    // A device whose modules could not all open would draw without them.
    if (!RwD3D9StateOpen() || !RwD3D9RasterModuleOpen() || !RwD3D9Im2DOpen() || !RwD3D9RenderStateCacheOpen() ||
        !RwD3D9VertexBufferOpen()) {
        ReleaseDevice();
        return FALSE;
    }

    d.started = TRUE;
    return TRUE;
}

static RwBool D3D9Stop(void)
{
    rwD3D9Driver.started = FALSE;
    RwD3D9FreeVideoModes();
    RwD3D9FpuStop();
    ReleaseDevice();
    return TRUE;
}

static RwBool D3D9Focus(RwInt32 gained)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (d.device == nullptr)
        return FALSE;
    if (!(d.displayMode.flags & rwVIDEOMODEEXCLUSIVE))
        return TRUE;
    ShowWindow(d.window, gained ? SW_RESTORE : SW_HIDE);
    return TRUE;
}

RwBool RwD3D9DeviceSystem(RwInt32 request, void *out, void *inOut, RwInt32 in)
{
    RwD3D9Driver &d = rwD3D9Driver;
    switch (request) {
    case rwDEVICESYSTEMOPEN:
        return D3D9Open(inOut);
    case rwDEVICESYSTEMCLOSE:
        return D3D9Close();
    case rwDEVICESYSTEMSTART:
        return D3D9Start();
    case rwDEVICESYSTEMSTOP:
        return D3D9Stop();
    case rwDEVICESYSTEMREGISTER:
        if (out == nullptr)
            return FALSE;
        *static_cast<RwDevice *>(out) = D3D9DeviceBlock;
        return TRUE;
    case rwDEVICESYSTEMGETNUMMODES:
        return RwD3D9GetNumVideoModes(static_cast<RwInt32 *>(out));
    case rwDEVICESYSTEMGETMODEINFO:
        return RwD3D9GetVideoModeInfo(static_cast<RwVideoMode *>(out), in);
    case rwDEVICESYSTEMUSEMODE:
        return RwD3D9UseVideoMode(in);
    case rwDEVICESYSTEMFOCUS:
        return D3D9Focus(in);
    case rwDEVICESYSTEMGETMODE:
        if (out == nullptr)
            return FALSE;
        *static_cast<RwInt32 *>(out) = d.currentVideoMode;
        return TRUE;
    case rwDEVICESYSTEMSTANDARDS:
        return RwD3D9GetStandardFunctions(out, inOut, in);
    case rwDEVICESYSTEMGETTEXMEMSIZE:
        if (out == nullptr || d.device == nullptr)
            return FALSE;
        *static_cast<RwUInt32 *>(out) = d.device->GetAvailableTextureMem();
        return TRUE;
    case rwDEVICESYSTEMGETNUMSUBSYSTEMS:
        if (out == nullptr || d.d3d == nullptr)
            return FALSE;
        *static_cast<RwUInt32 *>(out) = d.d3d->GetAdapterCount();
        return TRUE;
    case rwDEVICESYSTEMGETSUBSYSTEMINFO:
        return RwD3D9GetSubSystemInfo(static_cast<RwSubSystemInfo *>(out), in);
    case rwDEVICESYSTEMGETCURRENTSUBSYSTEM:
        if (out == nullptr)
            return FALSE;
        *static_cast<RwInt32 *>(out) = static_cast<RwInt32>(d.adapter);
        return TRUE;
    case rwDEVICESYSTEMSETSUBSYSTEM:
        return RwD3D9SetSubSystem(in);
    case rwDEVICESYSTEMFINALIZESTART:
        RwD3D9FinishStart();
        return TRUE;
    case rwDEVICESYSTEMGETMAXTEXTURESIZE:
        if (out == nullptr)
            return FALSE;
        *static_cast<RwUInt32 *>(out) = d.caps.MaxTextureWidth > d.caps.MaxTextureHeight
                                            ? d.caps.MaxTextureWidth
                                            : d.caps.MaxTextureHeight;
        return TRUE;
    case rwDEVICESYSTEMGETID:
        if (out == nullptr)
            return FALSE;
        *static_cast<RwUInt16 *>(out) = 2;
        return TRUE;
    default:
        return FALSE;
    }
}
