// The standard-function table, camera update, clear and show, and device reset.
#include "d3d9standard.h"

#include "d3d9device.h"
#include "d3d9im2d.h"
#include "d3d9nativetexture.h"
#include "d3d9pixel.h"
#include "d3d9raster.h"
#include "d3d9renderstate.h"
#include "d3d9shaderconst.h"
#include "d3d9state.h"
#include "d3d9surfacecopy.h"
#include "d3d9vertexbuffer.h"
#include "d3d9videomode.h"
#include <cstring>

#include "d3d9cpu.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/memory.h"
#include "gfx/core/raster.h"

static void *CurrentCamera;
static RwUInt32 CameraUpdates;

RwUInt32 RwD3D9GetCameraUpdateCount(void)
{
    return CameraUpdates;
}

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
        {rwSTANDARDRGBTOPIXEL, RwD3D9RGBToPixel},
        {rwSTANDARDPIXELTORGB, RwD3D9PixelToRGB},
        {rwSTANDARDRASTERCREATE, RwD3D9RasterCreate},
        {rwSTANDARDRASTERDESTROY, RwD3D9RasterDestroy},
        {rwSTANDARDIMAGEGETRASTER, RwD3D9ImageGetFromRaster},
        {rwSTANDARDRASTERSETIMAGE, RwD3D9RasterSetFromImage},
        {rwSTANDARDTEXTURESETRASTER, RwD3D9TextureSetRaster},
        {rwSTANDARDIMAGEFINDRASTERFORMAT, RwD3D9ImageFindRasterFormat},
        {rwSTANDARDCAMERAENDUPDATE, RwD3D9CameraEndUpdate},
        {rwSTANDARDSETRASTERCONTEXT, RwD3D9SetRasterContext},
        {rwSTANDARDRASTERSUBRASTER, RwD3D9RasterSubRaster},
        {rwSTANDARDRASTERCLEARRECT, RwD3D9RasterClearRect},
        {rwSTANDARDRASTERCLEAR, RwD3D9RasterClear},
        {rwSTANDARDRASTERRENDER, RwD3D9RasterRender},
        {rwSTANDARDRASTERRENDERSCALED, RwD3D9RasterRenderScaled},
        {rwSTANDARDRASTERRENDERFAST, RwD3D9RasterRenderFast},
        {rwSTANDARDRASTERLOCK, RwD3D9RasterLock},
        {rwSTANDARDRASTERUNLOCK, RwD3D9RasterUnlock},
        {rwSTANDARDRASTERSHOWRASTER, RwD3D9RasterShowRaster},
        {rwSTANDARDCAMERACLEAR, RwD3D9CameraClear},
        {rwSTANDARDRASTERLOCKPALETTE, RwD3D9RasterLockPalette},
        {rwSTANDARDRASTERUNLOCKPALETTE, RwD3D9RasterUnlockPalette},
        {rwSTANDARDNATIVETEXTUREGETSIZE, RwD3D9NativeTextureGetSize},
        {rwSTANDARDNATIVETEXTUREREAD, RwD3D9NativeTextureRead},
        {rwSTANDARDNATIVETEXTUREWRITE, RwD3D9NativeTextureWrite},
        {rwSTANDARDRASTERGETMIPLEVELS, RwD3D9RasterGetMipLevels},
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
    // Objects made outside the driver (fonts) let go of the device first.
    RwD3D9DeviceRestoreCallBack callback = RwD3D9GetDeviceReleaseCallback();
    if (callback)
        callback();
    d.resourcesLost = TRUE;
    // A reset must not happen inside a scene.
    if (d.inScene) {
        d.device->EndScene();
        d.inScene = FALSE;
    }
    RwD3D9StateResetCachesForReset();
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
    // The reset device holds default states, transforms and lights whatever
    // else failed: each cache sends its own back, so that none of them claims
    // what the device does not hold.
    RwD3D9RenderStateCacheRestore();
    ok = RwD3D9StateRestoreTransforms() && ok;
    ok = RwD3D9StateRestoreLights() && ok;
    ok = ok && RwD3D9Im2DOpen() && RwD3D9Im3DCreateBuffers();
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

RwBool RwD3D9ResetDevice(void)
{
    return rwD3D9Driver.device != nullptr && ResetAndRestore();
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
        // The scene the device holds is closed: a reset made later must not
        // find it open, and the next frame opens its own.
        if (d.inScene) {
            d.device->EndScene();
            d.inScene = FALSE;
        }
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

// ---------------------------------------------------------------------------
// Camera update, clear and show

enum : RwUInt32 {
    rwD3D9POINTFILTERCAPS = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MAGFPOINT,
};
enum : RwInt32 {
    rwD3D9CLEARSTENCIL = 0x4,        // clear-mode bit beside image and z
    rwD3D9FLIPWAITVSYNC = 0x1,       // show flag: wait for the vertical retrace
};

static RwBool CopyAtEnd;

static RwUInt32 RealBits(RwReal value)
{
    RwUInt32 bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

// Surface of the camera's z raster (its level-0 surface when it is a texture), with a reference.
static IDirect3DSurface9 *ZRasterSurface(RwCamera *camera)
{
    if (camera->zBuffer == nullptr)
        return nullptr;
    RwRaster *top = camera->zBuffer->parent;
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(top);
    if (ext->texture == nullptr)
        return nullptr;
    if (top->cType == rwRASTERTYPEZBUFFER) {
        IDirect3DSurface9 *surface = static_cast<IDirect3DSurface9 *>(ext->texture);
        surface->AddRef();
        return surface;
    }
    return RwD3D9RasterGetTextureSurface(top);
}

static D3DTEXTUREFILTERTYPE StretchFilter(void)
{
    return (rwD3D9Driver.caps.StretchRectFilterCaps & rwD3D9POINTFILTERCAPS) ? D3DTEXF_POINT : D3DTEXF_NONE;
}

// Copies the raster's rectangle of the back buffer into a camera texture.
static void CopyBackBufferInto(RwRaster *raster, IDirect3DSurface9 *surface)
{
    RECT rect = {raster->nOffsetX, raster->nOffsetY, raster->nOffsetX + raster->width,
                 raster->nOffsetY + raster->height};
    RwD3D9StretchBetweenTargets(rwD3D9Driver.defaultColorSurface, &rect, surface, &rect, StretchFilter());
}

static void SetViewport(RwRaster *raster, RwBool origin)
{
    D3DVIEWPORT9 viewport;
    viewport.X = origin ? 0 : static_cast<DWORD>(static_cast<RwInt32>(raster->nOffsetX));
    viewport.Y = origin ? 0 : static_cast<DWORD>(static_cast<RwInt32>(raster->nOffsetY));
    viewport.Width = raster->width;
    viewport.Height = raster->height;
    viewport.MinZ = 0.0f;
    viewport.MaxZ = 1.0f;
    RwD3D9SetViewport(&viewport);
}

// Targets of a camera on a second window: its swap chain's back buffer and
// the camera's z raster; FALSE when the window has no area.
static RwBool SetSwapChainTargets(RwCamera *camera)
{
    RwRaster *raster = camera->frameBuffer;
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster->parent);
    RECT client;
    if (!GetClientRect(ext->window, &client) || client.right == 0 || client.bottom == 0)
        return FALSE;
    if (client.right == raster->width && client.bottom == raster->height) {
        RwRaster *z = camera->zBuffer;
        if (z && z->parent == z && (z->width != client.right || z->height != client.bottom)) {
            RwRasterDestroy(z);
            camera->zBuffer = RwRasterCreate(client.right, client.bottom, 0, rwRASTERTYPEZBUFFER);
        }
    } else if (raster->parent == raster) {
        if (!RwD3D9CameraCreateSwapChain(camera, ext->window))
            return FALSE;
        raster = camera->frameBuffer;
        ext = RwD3D9RasterGetExtension(raster);
    }
    RwD3D9SetRenderTargetSurface(0, static_cast<IDirect3DSurface9 *>(ext->texture));
    IDirect3DSurface9 *depth = ZRasterSurface(camera);
    RwD3D9SetDepthStencilSurface(depth);
    if (depth)
        depth->Release();
    return TRUE;
}

// Render target and depth for a camera texture; sets the copy-at-end flag when
// the texture cannot be drawn into, and then the picture goes to the back
// buffer's own surfaces, never to a target that an earlier camera left bound.
static RwBool SetCameraTextureTargets(RwCamera *camera)
{
    RwD3D9Driver &d = rwD3D9Driver;
    IDirect3DSurface9 *surface = RwD3D9RasterGetTextureSurface(camera->frameBuffer->parent);
    if (surface == nullptr)
        return FALSE;
    D3DSURFACE_DESC desc;
    surface->GetDesc(&desc);
    // A target the device refuses leaves the last one bound: nothing may be
    // drawn or cleared there.
    RwBool bound;
    if (!(desc.Usage & D3DUSAGE_RENDERTARGET)) {
        CopyAtEnd = TRUE;
        bound = RwD3D9SetRenderTargetSurface(0, d.defaultColorSurface);
        RwD3D9SetDepthStencilSurface(d.defaultDepthSurface);
    } else {
        bound = RwD3D9SetRenderTargetSurface(0, surface);
        IDirect3DSurface9 *depth = ZRasterSurface(camera);
        RwD3D9SetDepthStencilSurface(depth);
        if (depth)
            depth->Release();
    }
    surface->Release();
    return bound;
}

// Targets of a raster drawn straight into the back buffer: the device's own
// colour and depth surfaces. A camera raster on the device window first makes
// the device follow the window's size; FALSE when there is nothing to draw on.
static RwBool SetBackBufferTargets(const RwRaster *top)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (top->cType == rwRASTERTYPECAMERA && !RwD3D9CheckWindowSize())
        return FALSE;
    RwD3D9SetRenderTargetSurface(0, d.defaultColorSurface);
    RwD3D9SetDepthStencilSurface(d.defaultDepthSurface);
    return TRUE;
}

static RwBool BeginTargets(RwCamera *camera);

static RwBool BeginUpdate(RwCamera *camera)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (camera == nullptr || camera->frameBuffer == nullptr || d.device == nullptr)
        return FALSE;
    // Nothing may touch targets of a device that still needs its reset, and
    // a reset forgets every transform: it comes before the view is set.
    if (!RwD3D9CheckDeviceReset())
        return FALSE;

    // A zero depth range has no projection.
    RwReal range = camera->farPlane - camera->nearPlane;
    if (range == 0.0f)
        return FALSE;

    // A camera without a view draws nothing: every point goes behind the eye
    // of a plain projection, where it is clipped.
    if (RwCameraIsBlind(camera)) {
        const D3DMATRIX behind = {{{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, 1}}};
        const D3DMATRIX plain = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}};
        RwD3D9SetTransform(D3DTS_VIEW, &behind);
        RwD3D9SetTransform(D3DTS_PROJECTION, &plain);
        return BeginTargets(camera);
    }

    // View: the inverted camera frame with x mirrored into Direct3D's left-handed space.
    RwFrame *frame = RwObjectGetFrame(camera);
    if (frame) {
        RwMatrix inverse;
        RwMatrixInvert(&inverse, RwFrameGetWorldMatrix(frame));
        D3DMATRIX view = {{{-inverse.right.x, inverse.right.y, inverse.right.z, 0.0f, -inverse.up.x, inverse.up.y,
                            inverse.up.z, 0.0f, -inverse.at.x, inverse.at.y, inverse.at.z, 0.0f, -inverse.pos.x,
                            inverse.pos.y, inverse.pos.z, 1.0f}}};
        RwD3D9SetTransform(D3DTS_VIEW, &view);
    }

    D3DMATRIX projection = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}};
    projection._11 = camera->recipViewWindow.x;
    projection._22 = camera->recipViewWindow.y;
    projection._31 = camera->viewOffset.x * projection._11;
    projection._32 = camera->viewOffset.y * projection._22;
    projection._41 = -projection._31;
    projection._42 = -projection._32;
    if (camera->projectionType == rwPARALLEL) {
        projection._33 = 1.0f / range;
        projection._34 = 0.0f;
        projection._44 = 1.0f;
    } else {
        projection._33 = camera->farPlane / range;
        projection._34 = 1.0f;
        projection._44 = 0.0f;
    }
    projection._43 = -projection._33 * camera->nearPlane;
    RwD3D9SetTransform(D3DTS_PROJECTION, &projection);
    return BeginTargets(camera);
}

// The camera's render targets, viewport and fog range, then the scene.
static RwBool BeginTargets(RwCamera *camera)
{
    RwRaster *raster = camera->frameBuffer;
    RwRaster *top = raster->parent;
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(top);
    if (top->cType == rwRASTERTYPECAMERA && ext->window) {
        if (!SetSwapChainTargets(camera))
            return FALSE;
        raster = camera->frameBuffer;
    } else if (top->cType == rwRASTERTYPECAMERATEXTURE) {
        if (!SetCameraTextureTargets(camera))
            return FALSE;
    } else if (!SetBackBufferTargets(top)) {
        return FALSE;
    }
    SetViewport(raster, FALSE);
    RwD3D9SetRenderState(D3DRS_FOGSTART, RealBits(camera->fogPlane));
    RwD3D9SetRenderState(D3DRS_FOGEND, RealBits(camera->farPlane));
    return RwD3D9TestDeviceAndBeginScene();
}

RwBool RwD3D9CameraBeginUpdate(void *, void *cameraIn, RwInt32)
{
    RwCamera *camera = static_cast<RwCamera *>(cameraIn);
    RwFpuForceSinglePrecision();
    CurrentCamera = camera;
    CameraUpdates++;
    RwD3D9VertexShaderNewCamera();
    if (BeginUpdate(camera))
        return TRUE;
    // No end update follows a failed begin: nothing of this one may be left
    // for the next camera's end to act on.
    CopyAtEnd = FALSE;
    CurrentCamera = nullptr;
    return FALSE;
}

RwBool RwD3D9CameraEndUpdate(void *, void *, RwInt32)
{
    RwCamera *camera = static_cast<RwCamera *>(CurrentCamera);
    if (camera && camera->frameBuffer && CopyAtEnd) {
        RwRaster *raster = camera->frameBuffer;
        if (raster->parent->cType == rwRASTERTYPECAMERATEXTURE && !rwD3D9Driver.resourcesLost) {
            IDirect3DSurface9 *surface = RwD3D9RasterGetTextureSurface(raster->parent);
            if (surface) {
                CopyBackBufferInto(raster, surface);
                surface->Release();
            }
        }
    }
    CopyAtEnd = FALSE;
    CurrentCamera = nullptr;
    return TRUE;
}

RwBool RwD3D9CameraClear(void *cameraIn, void *colourIn, RwInt32 clearMode)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwCamera *camera = static_cast<RwCamera *>(cameraIn);
    if (camera == nullptr || camera->frameBuffer == nullptr || d.device == nullptr)
        return FALSE;
    D3DCOLOR colour = 0;
    if ((clearMode & rwCAMERACLEARIMAGE) && colourIn) {
        const RwRGBA *c = static_cast<const RwRGBA *>(colourIn);
        colour = D3DCOLOR_ARGB(c->alpha, c->red, c->green, c->blue);
    }
    // Clearing a device that needs its reset would touch released surfaces.
    if (!RwD3D9CheckDeviceReset())
        return FALSE;

    RwRaster *raster = camera->frameBuffer;
    RwRaster *top = raster->parent;
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(top);
    DWORD flags = 0;
    IDirect3DSurface9 *copyTarget = nullptr;
    if (top->cType == rwRASTERTYPECAMERA && ext->window) {
        if (!SetSwapChainTargets(camera))
            return FALSE;
        raster = camera->frameBuffer;
        SetViewport(raster, TRUE);
        flags = clearMode & (D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL);
    } else if (top->cType == rwRASTERTYPECAMERATEXTURE) {
        // One that cannot be drawn into is cleared in the back buffer and
        // copied from there, as its picture is at end update.
        // An update this clear runs inside keeps its own copy at end.
        RwBool copy = CopyAtEnd;
        CopyAtEnd = FALSE;
        const RwBool targets = SetCameraTextureTargets(camera);
        if (targets && CopyAtEnd)
            copyTarget = RwD3D9RasterGetTextureSurface(top);
        CopyAtEnd = copy;
        if (!targets)
            return FALSE;
        SetViewport(raster, FALSE);
        flags = clearMode & (D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL);
        if (camera->zBuffer == nullptr)
            flags &= ~static_cast<DWORD>(D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL);
    } else {
        if (!SetBackBufferTargets(top))
            return FALSE;
        SetViewport(raster, FALSE);
        if (clearMode & rwCAMERACLEARIMAGE)
            flags |= D3DCLEAR_TARGET;
        if (clearMode & rwCAMERACLEARZ)
            flags |= D3DCLEAR_ZBUFFER;
        if ((clearMode & (rwCAMERACLEARZ | rwD3D9CLEARSTENCIL)) && d.depthHasStencil)
            flags |= D3DCLEAR_STENCIL;
    }
    if (flags)
        d.device->Clear(0, nullptr, flags, colour, 1.0f, 0);
    if (copyTarget) {
        CopyBackBufferInto(raster, copyTarget);
        copyTarget->Release();
    }
    return TRUE;
}

RwBool RwD3D9RasterShowRaster(void *rasterIn, void *, RwInt32 flags)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (d.device == nullptr)
        return FALSE;
    if (d.inScene) {
        d.device->EndScene();
        d.inScene = FALSE;
    }
    // A device that still needs its reset shows nothing.
    if (!RwD3D9CheckDeviceReset())
        return FALSE;

    RwBool vsync = (flags & rwD3D9FLIPWAITVSYNC) != 0;
    UINT wanted = d.present.PresentationInterval;
    if (vsync && wanted == D3DPRESENT_INTERVAL_IMMEDIATE)
        wanted = D3DPRESENT_INTERVAL_ONE;
    else if (!vsync && wanted == D3DPRESENT_INTERVAL_ONE)
        wanted = D3DPRESENT_INTERVAL_IMMEDIATE;
    if (wanted != d.present.PresentationInterval) {
        d.present.PresentationInterval = wanted;
        RwD3D9ReleaseDeviceResources();
        if (SUCCEEDED(d.device->Reset(&d.present)))
            RwD3D9RestoreDeviceResources();
        else
            return FALSE;
    }

    HRESULT hr;
    RwRaster *raster = static_cast<RwRaster *>(rasterIn);
    IDirect3DSwapChain9 *chain = raster ? RwD3D9RasterGetExtension(raster->parent)->swapChain : nullptr;
    if (chain)
        hr = chain->Present(nullptr, nullptr, nullptr, nullptr, 0);
    else
        hr = d.device->Present(nullptr, nullptr, nullptr, nullptr);
    if (hr == D3DERR_DEVICELOST && d.device->TestCooperativeLevel() == D3DERR_DEVICENOTRESET) {
        RwD3D9ReleaseDeviceResources();
        hr = d.device->Reset(&d.present);
        if (SUCCEEDED(hr))
            RwD3D9RestoreDeviceResources();
    }
    RwD3D9DynamicVertexBufferNewFrame();
    return SUCCEEDED(hr);
}
