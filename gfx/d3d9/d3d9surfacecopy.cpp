// Copies between device surfaces that keep to the pool rules of each Direct3D 9 copy call.
#include "d3d9surfacecopy.h"

#include <d3dx9tex.h>

#include <cstring>

#include "d3d9device.h"
#include "d3d9raster.h"

static bool Lockable(const D3DSURFACE_DESC &desc)
{
    return desc.Pool == D3DPOOL_MANAGED || desc.Pool == D3DPOOL_SYSTEMMEM || desc.Pool == D3DPOOL_SCRATCH;
}

static bool IsRenderTarget(const D3DSURFACE_DESC &desc)
{
    return desc.Pool == D3DPOOL_DEFAULT && (desc.Usage & D3DUSAGE_RENDERTARGET) != 0;
}

static bool Inside(const RECT &r, const D3DSURFACE_DESC &desc)
{
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
           static_cast<UINT>(r.right) <= desc.Width && static_cast<UINT>(r.bottom) <= desc.Height;
}

// Bytes and rows of a rectangle of w x h pixels as a lock lays them out;
// 0 bytes for a format whose size is not known.
static void Layout(D3DFORMAT format, LONG w, LONG h, RwUInt32 *bytes, RwUInt32 *rows)
{
    const RwUInt32 width = static_cast<RwUInt32>(w);
    const RwUInt32 height = static_cast<RwUInt32>(h);
    if (RwD3D9IsCompressedFormat(format)) {
        *bytes = (width + 3) / 4 * (format == D3DFMT_DXT1 ? 8 : 16);
        *rows = (height + 3) / 4;
        return;
    }
    *bytes = width * RwD3D9GetPixelFormat(format).depth / 8;
    *rows = height;
}

// Row by row between two lockable surfaces of one format; D3DX converts
// between formats.
static RwBool CopyLocked(IDirect3DSurface9 *from, const RECT &rect, D3DFORMAT fromFormat, IDirect3DSurface9 *to,
                         const RECT &toRect, D3DFORMAT toFormat)
{
    if (fromFormat != toFormat) {
        return SUCCEEDED(D3DXLoadSurfaceFromSurface(to, nullptr, &toRect, from, nullptr, &rect, D3DX_FILTER_NONE, 0));
    }
    RwUInt32 bytes = 0, rows = 0;
    Layout(fromFormat, rect.right - rect.left, rect.bottom - rect.top, &bytes, &rows);
    D3DLOCKED_RECT src, dst;
    if (bytes == 0 || FAILED(from->LockRect(&src, &rect, D3DLOCK_READONLY))) {
        return FALSE;
    }
    if (FAILED(to->LockRect(&dst, &toRect, 0))) {
        from->UnlockRect();
        return FALSE;
    }
    for (RwUInt32 y = 0; y < rows; y++) {
        std::memcpy(static_cast<BYTE *>(dst.pBits) + y * dst.Pitch, static_cast<const BYTE *>(src.pBits) + y * src.Pitch,
                    bytes);
    }
    to->UnlockRect();
    from->UnlockRect();
    return TRUE;
}

static IDirect3DSurface9 *SystemSurface(UINT width, UINT height, D3DFORMAT format)
{
    IDirect3DSurface9 *surface = nullptr;
    if (FAILED(rwD3D9Driver.device->CreateOffscreenPlainSurface(width, height, format, D3DPOOL_SYSTEMMEM, &surface,
                                                                  nullptr))) {
        return nullptr;
    }
    return surface;
}

// A render target of w x h in the format, or NULL.
static IDirect3DSurface9 *TargetSurface(LONG w, LONG h, D3DFORMAT format)
{
    IDirect3DSurface9 *surface = nullptr;
    if (w <= 0 || h <= 0 ||
        FAILED(rwD3D9Driver.device->CreateRenderTarget(static_cast<UINT>(w), static_cast<UINT>(h), format,
                                                       D3DMULTISAMPLE_NONE, 0, FALSE, &surface, nullptr))) {
        return nullptr;
    }
    return surface;
}

IDirect3DSurface9 *RwD3D9SystemCopyOf(IDirect3DSurface9 *surface)
{
    D3DSURFACE_DESC desc;
    if (!surface || FAILED(surface->GetDesc(&desc))) {
        return nullptr;
    }
    IDirect3DSurface9 *staging = SystemSurface(desc.Width, desc.Height, desc.Format);
    IDirect3DSurface9 *between = nullptr;
    IDirect3DSurface9 *target = surface;
    if (staging && !IsRenderTarget(desc)) {
        // A texture that cannot be drawn into is read through a render
        // target, where the device can stretch from textures.
        const bool stretches = desc.Pool == D3DPOOL_DEFAULT &&
                               (rwD3D9Driver.caps.DevCaps2 & D3DDEVCAPS2_CAN_STRETCHRECT_FROM_TEXTURES);
        between = stretches ? TargetSurface(static_cast<LONG>(desc.Width), static_cast<LONG>(desc.Height), desc.Format)
                            : nullptr;
        target = between && SUCCEEDED(rwD3D9Driver.device->StretchRect(surface, nullptr, between, nullptr,
                                                                       D3DTEXF_NONE))
                     ? between
                     : nullptr;
    }
    if (staging && (!target || FAILED(rwD3D9Driver.device->GetRenderTargetData(target, staging)))) {
        staging->Release();
        staging = nullptr;
    }
    if (between) {
        between->Release();
    }
    return staging;
}

RwBool RwD3D9CopyIntoLockable(IDirect3DSurface9 *from, const RECT *rect, IDirect3DSurface9 *to, POINT at)
{
    D3DSURFACE_DESC fromDesc, toDesc;
    if (!from || !to || FAILED(from->GetDesc(&fromDesc)) || FAILED(to->GetDesc(&toDesc)) || !Lockable(toDesc)) {
        return FALSE;
    }
    const RECT toRect = {at.x, at.y, at.x + (rect->right - rect->left), at.y + (rect->bottom - rect->top)};
    if (!Inside(*rect, fromDesc) || !Inside(toRect, toDesc)) {
        return FALSE;
    }
    if (Lockable(fromDesc) && from != to) {
        return CopyLocked(from, *rect, fromDesc.Format, to, toRect, toDesc.Format);
    }
    // A surface in the default pool is read into system memory whole; a
    // surface locks once at a time, so a copy within one goes through system
    // memory too.
    IDirect3DSurface9 *staging = nullptr;
    RECT stagingRect = *rect;
    if (fromDesc.Pool == D3DPOOL_DEFAULT) {
        staging = RwD3D9SystemCopyOf(from);
    } else if (Lockable(fromDesc)) {
        stagingRect = {0, 0, rect->right - rect->left, rect->bottom - rect->top};
        staging = SystemSurface(static_cast<UINT>(stagingRect.right), static_cast<UINT>(stagingRect.bottom),
                                fromDesc.Format);
        if (staging && !CopyLocked(from, *rect, fromDesc.Format, staging, stagingRect, fromDesc.Format)) {
            staging->Release();
            staging = nullptr;
        }
    }
    if (!staging) {
        return FALSE;
    }
    const RwBool ok = CopyLocked(staging, stagingRect, fromDesc.Format, to, toRect, toDesc.Format);
    staging->Release();
    return ok;
}

// A default-pool surface that cannot be drawn into takes pixels only from
// system memory: the whole of the render target goes there, to `at`.
static RwBool SendToPlain(IDirect3DSurface9 *target, IDirect3DSurface9 *to, POINT at)
{
    IDirect3DSurface9 *staging = RwD3D9SystemCopyOf(target);
    const RwBool ok = staging && SUCCEEDED(rwD3D9Driver.device->UpdateSurface(staging, nullptr, to, &at));
    if (staging) {
        staging->Release();
    }
    return ok;
}

RwBool RwD3D9StretchBetweenTargets(IDirect3DSurface9 *from, const RECT *rect, IDirect3DSurface9 *to,
                                   const RECT *toRect, D3DTEXTUREFILTERTYPE filter)
{
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    D3DSURFACE_DESC desc;
    if (!from || !to || !toRect || FAILED(to->GetDesc(&desc))) {
        return FALSE;
    }
    const bool target = IsRenderTarget(desc);
    if (from != to && target) {
        return SUCCEEDED(device->StretchRect(from, rect, to, toRect, filter));
    }
    // One surface may not be both ends, and one that cannot be drawn into is
    // filled from system memory: the rectangle goes through a render target
    // of the destination's size first.
    IDirect3DSurface9 *between = TargetSurface(toRect->right - toRect->left, toRect->bottom - toRect->top, desc.Format);
    RwBool ok = between && SUCCEEDED(device->StretchRect(from, rect, between, nullptr, filter));
    if (ok) {
        ok = target ? SUCCEEDED(device->StretchRect(between, nullptr, to, toRect, D3DTEXF_NONE))
                    : SendToPlain(between, to, {toRect->left, toRect->top});
    }
    if (between) {
        between->Release();
    }
    return ok;
}

RwBool RwD3D9ColorFillSurface(IDirect3DSurface9 *to, const RECT *rect, D3DCOLOR colour)
{
    D3DSURFACE_DESC desc;
    if (!to || !rect || FAILED(to->GetDesc(&desc))) {
        return FALSE;
    }
    if (IsRenderTarget(desc)) {
        return SUCCEEDED(rwD3D9Driver.device->ColorFill(to, rect, colour));
    }
    IDirect3DSurface9 *between = TargetSurface(rect->right - rect->left, rect->bottom - rect->top, desc.Format);
    const RwBool ok = between && SUCCEEDED(rwD3D9Driver.device->ColorFill(between, nullptr, colour)) &&
                      SendToPlain(between, to, {rect->left, rect->top});
    if (between) {
        between->Release();
    }
    return ok;
}
