// The standard-function table, camera update, clear and show, and device reset.
#include "d3d9standard.h"

#include "d3d9device.h"
#include "d3d9im2d.h"
#include "d3d9raster.h"
#include "d3d9renderstate.h"
#include "d3d9state.h"
#include "d3d9vertexbuffer.h"
#include "d3d9videomode.h"
#include "gfx/core/memory.h"

static void *CurrentCamera;

void *RwD3D9GetCurrentCamera(void)
{
    return CurrentCamera;
}

RwBool RwD3D9GetStandardFunctions(void *tableIn, void *, RwInt32 count)
{
    if (tableIn == nullptr || count < 0)
        return FALSE;
    RwStandardFunc *table = static_cast<RwStandardFunc *>(tableIn);
    RwStandardFunc zero = reinterpret_cast<RwStandardFunc>(RwReturnZero);
    for (RwInt32 i = 0; i < count; i++)
        table[i] = zero;

    struct Entry {
        RwInt32 index;
        RwStandardFunc function;
    };
    const Entry entries[] = {
        {rwSTANDARDCAMERABEGINUPDATE, RwD3D9CameraBeginUpdate},
        {rwSTANDARDCAMERAENDUPDATE, RwD3D9CameraEndUpdate},
        {rwSTANDARDRASTERSHOWRASTER, RwD3D9RasterShowRaster},
        {rwSTANDARDCAMERACLEAR, RwD3D9CameraClear},
    };
    for (const Entry &e : entries) {
        if (e.index < count)
            table[e.index] = e.function;
    }
    return TRUE;
}

void RwD3D9ReadDefaultSurfaces(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    IDirect3DSurface9 *surface = nullptr;
    d.defaultColorSurface = nullptr;
    d.defaultDepthSurface = nullptr;
    if (SUCCEEDED(d.device->GetRenderTarget(0, &surface)) && surface) {
        d.defaultColorSurface = surface;
        surface->Release();
    }
    surface = nullptr;
    if (SUCCEEDED(d.device->GetDepthStencilSurface(&surface)) && surface) {
        d.defaultDepthSurface = surface;
        surface->Release();
    }
}

RwBool RwD3D9ReleaseDeviceResources(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    d.resourcesLost = TRUE;
    RwD3D9StateResetCaches();
    RwD3D9StateUnbindDevice();

    if (rwD3D9Cache.renderTargets[0] != d.defaultColorSurface)
        RwD3D9SetRenderTargetSurface(0, d.defaultColorSurface);
    for (RwUInt32 i = 1; i < rwD3D9NUMRENDERTARGETS; i++) {
        if (rwD3D9Cache.renderTargets[i] != nullptr)
            RwD3D9SetRenderTargetSurface(i, nullptr);
    }
    RwD3D9SetDepthStencilSurface(d.defaultDepthSurface);

    RwD3D9Im2DClose();
    RwD3D9Im3DReleaseBuffers();
    RwD3D9VertexBufferReleaseVideoMemory();
    RwD3D9RasterReleaseDeviceObjects();
    RwFreeListPurgeAll();
    return TRUE;
}

RwBool RwD3D9RestoreDeviceResources(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwD3D9ReadDefaultSurfaces();
    // A reset binds the new back buffer and depth surface.
    RwD3D9StateResetTargets();
    rwD3D9Cache.renderTargets[0] = d.defaultColorSurface;
    rwD3D9Cache.depthSurface = d.defaultDepthSurface;

    RwBool ok = RwD3D9RasterRestoreDeviceObjects() && RwD3D9VertexBufferRestoreVideoMemory();
    if (ok) {
        RwD3D9RenderStateCacheRestore();
        ok = RwD3D9StateRestoreLights() && RwD3D9Im2DOpen() && RwD3D9Im3DCreateBuffers();
    }
    RwD3D9DeviceRestoreCallBack callback = RwD3D9GetDeviceRestoreCallback();
    if (callback)
        callback();
    d.resourcesLost = !ok;
    return ok;
}

// Release, reset and restore. A windowed reset refused because the desktop
// format changed is tried once more with the desktop's format.
static RwBool ResetAndRestore(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwD3D9ReleaseDeviceResources();
    HRESULT hr = d.device->Reset(&d.present);
    if (hr == D3DERR_INVALIDCALL) {
        if (d.displayMode.flags & rwVIDEOMODEEXCLUSIVE) {
            d.inScene = FALSE;
            return FALSE;
        }
        D3DDISPLAYMODE desktop;
        if (SUCCEEDED(d.d3d->GetAdapterDisplayMode(d.adapter, &desktop))) {
            d.displayMode.format = desktop.Format;
            d.present.BackBufferFormat = desktop.Format;
            d.displayMode.depth = RwD3D9FormatDepth(desktop.Format);
        }
        hr = d.device->Reset(&d.present);
    }
    if (FAILED(hr)) {
        d.inScene = FALSE;
        return FALSE;
    }
    return RwD3D9RestoreDeviceResources();
}

RwBool RwD3D9CheckDeviceReset(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (d.device == nullptr)
        return FALSE;
    HRESULT hr = d.device->TestCooperativeLevel();
    if (hr == D3DERR_DEVICENOTRESET) {
        if (!ResetAndRestore())
            return FALSE;
    } else if (FAILED(hr)) {
        d.inScene = FALSE;
        return FALSE;
    } else if (d.resourcesLost) {
        // An earlier reset left the device half restored: do it again rather
        // than draw with missing resources.
        if (!ResetAndRestore())
            return FALSE;
    }
    return TRUE;
}

RwBool RwD3D9TestDeviceAndBeginScene(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (!RwD3D9CheckDeviceReset())
        return FALSE;
    if (!d.inScene) {
        if (SUCCEEDED(d.device->BeginScene()))
            d.inScene = TRUE;
        return d.inScene;
    }
    return TRUE;
}

RwBool RwD3D9CameraBeginUpdate(void *, void *camera, RwInt32)
{
    CurrentCamera = camera;
    return FALSE;
}

RwBool RwD3D9CameraEndUpdate(void *, void *, RwInt32)
{
    CurrentCamera = nullptr;
    return TRUE;
}

RwBool RwD3D9CameraClear(void *, void *, RwInt32)
{
    return FALSE;
}

RwBool RwD3D9RasterShowRaster(void *, void *, RwInt32)
{
    return FALSE;
}
