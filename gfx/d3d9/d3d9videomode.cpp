// Adapters as sub-systems, display modes as video modes, and the window size.
#include "d3d9videomode.h"

#include <cstring>

#include "d3d9raster.h"
#include "d3d9standard.h"
#include "gfx/core/camera.h"
#include "gfx/core/memory.h"
#include "gfx/core/raster.h"
#include "gfx/core/rwstring.h"

static const D3DFORMAT ModeFormats[] = {D3DFMT_R5G6B5, D3DFMT_X8R8G8B8, D3DFMT_A2R10G10B10};

enum : RwUInt32 { rwD3D9VIDEOMODEHINT = 0x1040411 };

RwInt32 RwD3D9CountAdapterModes(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwInt32 total = 0;
    for (D3DFORMAT format : ModeFormats)
        total += static_cast<RwInt32>(d.d3d->GetAdapterModeCount(d.adapter, format));
    return total;
}

void RwD3D9SelectAdapter(RwUInt32 adapter)
{
    RwD3D9Driver &d = rwD3D9Driver;
    d.adapter = adapter;
    d.totalModeCount = RwD3D9CountAdapterModes();
    D3DDISPLAYMODE mode;
    std::memset(&mode, 0, sizeof(mode));
    d.d3d->GetAdapterDisplayMode(d.adapter, &mode);
    d.displayMode.width = mode.Width;
    d.displayMode.height = mode.Height;
    d.displayMode.refreshRate = mode.RefreshRate;
    d.displayMode.format = mode.Format;
}

void RwD3D9FreeVideoModes(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (d.videoModes)
        RwFree(d.videoModes);
    d.videoModes = nullptr;
    d.numVideoModes = 0;
    d.videoModeCapacity = 0;
}

// The windowed entry needs a desktop in one of the display formats.
static RwBool DesktopFormatUsable(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A2R10G10B10:
        return TRUE;
    default:
        return FALSE;
    }
}

RwBool RwD3D9BuildVideoModes(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (d.d3d == nullptr)
        return FALSE;
    RwInt32 capacity = d.totalModeCount + 1;
    size_t bytes = static_cast<size_t>(capacity) * sizeof(RwD3D9VideoModeEntry);
    void *list = d.videoModes ? RwRealloc(d.videoModes, bytes, rwD3D9VIDEOMODEHINT)
                              : RwMalloc(bytes, rwD3D9VIDEOMODEHINT);
    if (list == nullptr)
        return FALSE;
    d.videoModes = static_cast<RwD3D9VideoModeEntry *>(list);
    d.videoModeCapacity = capacity;

    RwD3D9VideoModeEntry *entries = d.videoModes;
    RwInt32 count = 0;
    D3DDISPLAYMODE mode;
    std::memset(&mode, 0, sizeof(mode));
    d.d3d->GetAdapterDisplayMode(d.adapter, &mode);
    if (DesktopFormatUsable(mode.Format)) {
        entries[0].width = mode.Width;
        entries[0].height = mode.Height;
        entries[0].refreshRate = mode.RefreshRate;
        entries[0].format = mode.Format;
        entries[0].flags = 0;
        count = 1;
    }
    // Without a windowed entry the exclusive modes start at 0, and the first
    // of them must be merged with like any other.
    const RwInt32 firstExclusive = count;

    for (D3DFORMAT format : ModeFormats) {
        UINT n = d.d3d->GetAdapterModeCount(d.adapter, format);
        for (UINT i = 0; i < n; i++) {
            // The adapter may report more modes than it did when the list was sized.
            if (count >= capacity)
                break;
            if (FAILED(d.d3d->EnumAdapterModes(d.adapter, format, i, &mode)))
                continue;
            RwD3D9VideoModeEntry entry = {static_cast<RwInt32>(mode.Width), static_cast<RwInt32>(mode.Height),
                                          static_cast<RwInt32>(mode.RefreshRate), mode.Format, 1};
            RwBool merged = FALSE;
            for (RwInt32 j = firstExclusive; j < count; j++) {
                RwD3D9VideoModeEntry &e = entries[j];
                if (e.width == entry.width && e.height == entry.height && e.format == entry.format) {
                    if (entry.refreshRate > e.refreshRate)
                        e.refreshRate = entry.refreshRate;
                    merged = TRUE;
                    break;
                }
            }
            if (!merged)
                entries[count++] = entry;
        }
    }

    if (count > 0 && count < capacity) {
        void *shrunk = RwRealloc(d.videoModes, static_cast<size_t>(count) * sizeof(RwD3D9VideoModeEntry),
                                 rwD3D9VIDEOMODEHINT);
        if (shrunk) {
            d.videoModes = static_cast<RwD3D9VideoModeEntry *>(shrunk);
            d.videoModeCapacity = count;
        }
    }
    d.numVideoModes = count;
    return TRUE;
}

static RwBool EnsureVideoModes(void)
{
    if (rwD3D9Driver.videoModes)
        return TRUE;
    return RwD3D9BuildVideoModes();
}

RwBool RwD3D9GetNumVideoModes(RwInt32 *count)
{
    if (count == nullptr || !EnsureVideoModes())
        return FALSE;
    *count = rwD3D9Driver.numVideoModes;
    return TRUE;
}

RwInt32 RwD3D9VideoModeRasterFormat(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_A2R10G10B10:
        return 0x500;
    case D3DFMT_X8R8G8B8:
        return 0x600;
    case D3DFMT_R5G6B5:
        return 0x200;
    case D3DFMT_X1R5G5B5:
        return 0xA00;
    case D3DFMT_A1R5G5B5:
        return 0x100;
    default:
        return 0;
    }
}

RwBool RwD3D9GetVideoModeInfo(RwVideoMode *mode, RwInt32 index)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (mode == nullptr || !EnsureVideoModes())
        return FALSE;
    if (index < 0 || index >= d.numVideoModes)
        return FALSE;
    const RwD3D9VideoModeEntry &e = d.videoModes[index];
    mode->width = e.width;
    mode->height = e.height;
    mode->depth = RwD3D9FormatDepth(e.format);
    mode->flags = static_cast<RwInt32>(e.flags);
    mode->refRate = e.refreshRate;
    mode->format = RwD3D9VideoModeRasterFormat(e.format);
    return TRUE;
}

RwBool RwD3D9UseVideoMode(RwInt32 index)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (d.started || !EnsureVideoModes())
        return FALSE;
    if (index < 0 || index >= d.numVideoModes)
        return FALSE;
    const RwD3D9VideoModeEntry &e = d.videoModes[index];
    d.currentVideoMode = index;
    d.displayMode.width = e.width;
    d.displayMode.height = e.height;
    d.displayMode.refreshRate = e.refreshRate;
    d.displayMode.format = e.format;
    d.displayMode.flags = e.flags;
    d.displayMode.depth = RwD3D9FormatDepth(e.format);
    return TRUE;
}

RwBool RwD3D9GetSubSystemInfo(RwSubSystemInfo *info, RwInt32 index)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (info == nullptr || d.d3d == nullptr || index < 0 ||
        static_cast<UINT>(index) >= d.d3d->GetAdapterCount())
        return FALSE;
    D3DADAPTER_IDENTIFIER9 identifier;
    std::memset(&identifier, 0, sizeof(identifier));
    if (FAILED(d.d3d->GetAdapterIdentifier(index, 0, &identifier)))
        return FALSE;
    identifier.Description[sizeof(identifier.Description) - 1] = '\0';
    RwStringCopyBounded(info->name, sizeof(info->name), identifier.Description);
    return TRUE;
}

RwBool RwD3D9SetSubSystem(RwInt32 index)
{
    RwD3D9Driver &d = rwD3D9Driver;
    // The device, once created, stays on its adapter until it stops.
    if (d.d3d == nullptr || d.started || index < 0 || static_cast<UINT>(index) >= d.d3d->GetAdapterCount())
        return FALSE;
    RwD3D9SelectAdapter(static_cast<RwUInt32>(index));
    return RwD3D9BuildVideoModes();
}

// Puts a windowed device back to the display mode's size and fits the window to it.
static RwBool RecoverWindowSize(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (d.displayMode.flags & rwVIDEOMODEEXCLUSIVE)
        return FALSE;
    d.present.BackBufferWidth = d.displayMode.width;
    d.present.BackBufferHeight = d.displayMode.height;
    if (FAILED(d.device->Reset(&d.present)))
        return FALSE;

    RECT client;
    GetClientRect(d.window, &client);
    RECT rect = {client.left, client.top, client.left + d.displayMode.width, client.top + d.displayMode.height};
    LONG style = GetWindowLongA(d.window, GWL_STYLE);
    if (style & WS_MAXIMIZE) {
        style &= ~WS_MAXIMIZE;
        SetWindowLongA(d.window, GWL_STYLE, style);
    }
    AdjustWindowRectEx(&rect, style, GetMenu(d.window) != nullptr, GetWindowLongA(d.window, GWL_EXSTYLE));
    SetWindowPos(d.window, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    RwD3D9RestoreDeviceResources();
    return TRUE;
}

RwBool RwD3D9CheckWindowSize(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RECT client;
    if (!GetClientRect(d.window, &client) || client.right == 0 || client.bottom == 0 || IsIconic(d.window))
        return FALSE;
    if (client.right == d.displayMode.width && client.bottom == d.displayMode.height)
        return TRUE;

    RwD3D9ReleaseDeviceResources();
    const RwBool usable = SUCCEEDED(d.device->TestCooperativeLevel());
    const RwBool windowed = !(d.displayMode.flags & rwVIDEOMODEEXCLUSIVE);
    if (usable && windowed) {
        d.present.BackBufferWidth = client.right;
        d.present.BackBufferHeight = client.bottom;
    }
    if (SUCCEEDED(d.device->Reset(&d.present))) {
        if (RwD3D9RestoreDeviceResources()) {
            // A windowed device found lost was reset at its old size: the
            // mode keeps that size, so that the next check resizes it.
            if (usable || !windowed) {
                d.displayMode.width = client.right;
                d.displayMode.height = client.bottom;
            }
            return TRUE;
        }
        RwD3D9ReleaseDeviceResources();
    }
    return RecoverWindowSize();
}

RwBool RwD3D9CameraCreateSwapChain(void *cameraIn, void *windowIn)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwCamera *camera = static_cast<RwCamera *>(cameraIn);
    HWND window = static_cast<HWND>(windowIn);
    if (camera == nullptr || window == nullptr || window == d.window || d.device == nullptr ||
        (d.displayMode.flags & rwVIDEOMODEEXCLUSIVE))
        return FALSE;
    RECT rect;
    GetWindowRect(window, &rect);
    if (camera->frameBuffer) {
        RwRasterDestroy(camera->frameBuffer);
        camera->frameBuffer = nullptr;
    }
    if (camera->zBuffer) {
        RwRasterDestroy(camera->zBuffer);
        camera->zBuffer = nullptr;
    }

    D3DPRESENT_PARAMETERS p = d.present;
    p.BackBufferWidth = (rect.right - rect.left == 0) ? 1 : 0;
    p.BackBufferHeight = (rect.bottom - rect.top == 0) ? 1 : 0;
    p.hDeviceWindow = window;
    p.EnableAutoDepthStencil = FALSE;
    IDirect3DSwapChain9 *chain = nullptr;
    if (FAILED(d.device->CreateAdditionalSwapChain(&p, &chain)))
        return FALSE;
    IDirect3DSurface9 *back = nullptr;
    if (FAILED(chain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back))) {
        chain->Release();
        return FALSE;
    }
    D3DSURFACE_DESC desc;
    back->GetDesc(&desc);

    RwRaster *raster = RwRasterCreate(desc.Width, desc.Height, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    if (raster) {
        RwD3D9PixelFormat info = RwD3D9GetPixelFormat(desc.Format);
        raster->width = desc.Width;
        raster->height = desc.Height;
        raster->depth = info.depth;
        raster->cFormat = static_cast<RwUInt8>(info.rwFormat >> 8);
        RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
        ext->texture = back;
        ext->alpha = info.alpha;
        ext->d3dFormat = desc.Format;
        ext->window = window;
        ext->swapChain = chain;
        camera->frameBuffer = raster;
        RwRaster *z = RwRasterCreate(desc.Width, desc.Height, 0, rwRASTERTYPEZBUFFER);
        if (z)
            camera->zBuffer = z;
    } else {
        chain->Release();
    }
    back->Release();
    return raster != nullptr;
}
