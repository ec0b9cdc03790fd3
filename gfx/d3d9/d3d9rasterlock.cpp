// Raster locking, palettes, and the device objects of rasters around a device reset.
#include "d3d9raster.h"

#include <cstdint>

#include "d3d9device.h"
#include "d3d9surfacecopy.h"
#include "gfx/core/error.h"
#include "gfx/core/modules.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"

enum : RwUInt8 {
    rwRASTERPIXELLOCKED = rwRASTERPIXELLOCKEDREAD | rwRASTERPIXELLOCKEDWRITE,
    rwRASTERAUTOMIPMAPBIT = rwRASTERFORMATAUTOMIPMAP >> 8,
};

static RwBool Refuse(RwUInt32 code)
{
    RwErrorRaise(rwID_COREPLUGIN, code);
    return FALSE;
}

static RwBool IsTextureType(RwInt32 type)
{
    return type == rwRASTERTYPENORMAL || type == rwRASTERTYPETEXTURE;
}

// The sub-raster's rectangle in its top raster at the level; NULL for a top raster.
static const RECT *LockRectangle(const RwRaster *raster, RwUInt32 level, RECT *rect)
{
    if (raster->parent == raster)
        return nullptr;
    rect->left = raster->nOffsetX >> level;
    rect->top = raster->nOffsetY >> level;
    RwInt32 w = raster->width >> level, h = raster->height >> level;
    rect->right = rect->left + (w > 0 ? w : 1);
    rect->bottom = rect->top + (h > 0 ? h : 1);
    return rect;
}

// The surface a camera raster stands for, without a reference of its own.
static IDirect3DSurface9 *CameraSurface(const RwRaster *top)
{
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(top);
    if (ext->swapChain)
        return static_cast<IDirect3DSurface9 *>(ext->texture);
    return rwD3D9Driver.defaultColorSurface;
}

// A system-memory copy of a default-pool surface, filled when the lock reads.
static IDirect3DSurface9 *SystemCopy(IDirect3DSurface9 *source, RwBool read)
{
    if (read)
        return RwD3D9SystemCopyOf(source);
    D3DSURFACE_DESC desc;
    IDirect3DSurface9 *copy = nullptr;
    if (source == nullptr || FAILED(source->GetDesc(&desc)) ||
        FAILED(rwD3D9Driver.device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format,
                                                               D3DPOOL_SYSTEMMEM, &copy, nullptr)))
        return nullptr;
    return copy;
}

// A side of a mip level: halved per level, never below a pixel.
static RwInt32 LevelSize(RwInt32 size, RwUInt32 level)
{
    return (size >> level) > 0 ? size >> level : 1;
}

RwBool RwD3D9RasterLock(void *out, void *rasterIn, RwInt32 modeAndLevel)
{
    RwRaster *raster = static_cast<RwRaster *>(rasterIn);
    if (out == nullptr || raster == nullptr)
        return FALSE;
    if (raster->privateFlags & rwRASTERPIXELLOCKED)
        return Refuse(rwD3D9ERRORLOCKED);
    RwInt32 mode = modeAndLevel & 0xFF;
    RwUInt32 level = (static_cast<RwUInt32>(modeAndLevel) >> 8) & 0xFF;
    RwBool write = (mode & rwRASTERLOCKWRITE) != 0;
    // A lock that does not write reads, so that it can be undone.
    RwBool read = (mode & rwRASTERLOCKREAD) || !write;
    DWORD flags = write ? D3DLOCK_NOSYSLOCK : D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK | D3DLOCK_NO_DIRTY_UPDATE;
    RwRaster *top = RwD3D9RasterGetTop(raster);
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    RECT rect;
    const RECT *area = LockRectangle(raster, level, &rect);

    IDirect3DSurface9 *surface = nullptr;
    if (IsTextureType(top->cType)) {
        surface = RwD3D9RasterGetLevelSurface(top, level);
    } else if (top->cType == rwRASTERTYPECAMERATEXTURE || top->cType == rwRASTERTYPECAMERA) {
        IDirect3DSurface9 *source =
            top->cType == rwRASTERTYPECAMERA ? CameraSurface(top) : RwD3D9RasterGetLevelSurface(top, level);
        surface = SystemCopy(source, read);
        if (top->cType == rwRASTERTYPECAMERATEXTURE && source)
            source->Release();
    } else {
        return Refuse(rwD3D9ERRORLOCKED);
    }
    if (surface == nullptr)
        return FALSE;
    if (FAILED(surface->LockRect(&ext->lockedRect, area, flags))) {
        surface->Release();
        return FALSE;
    }
    ext->lockSurface = surface;
    ext->lockedMipLevel = static_cast<RwUInt8>(level);
    raster->cpPixels = static_cast<RwUInt8 *>(ext->lockedRect.pBits);
    raster->originalWidth = raster->width;
    raster->originalHeight = raster->height;
    raster->width = LevelSize(raster->width, level);
    raster->height = LevelSize(raster->height, level);
    raster->stride = ext->lockedRect.Pitch;
    raster->privateFlags |= (read ? rwRASTERPIXELLOCKEDREAD : 0) | (write ? rwRASTERPIXELLOCKEDWRITE : 0);
    *static_cast<RwUInt8 **>(out) = raster->cpPixels;
    return TRUE;
}

// Copies a written system-memory copy back into the render target it was
// taken from; FALSE when the pixels did not arrive.
static RwBool CopyBack(RwRaster *raster, RwRaster *top, IDirect3DSurface9 *copy, RwUInt32 level)
{
    IDirect3DSurface9 *target = top->cType == rwRASTERTYPECAMERA ? CameraSurface(top) : nullptr;
    IDirect3DSurface9 *level0 = nullptr;
    if (top->cType == rwRASTERTYPECAMERATEXTURE)
        target = level0 = RwD3D9RasterGetLevelSurface(top, level);
    RwBool ok = FALSE;
    if (target) {
        RECT rect;
        const RECT *area = LockRectangle(raster, level, &rect);
        POINT point = {area ? area->left : 0, area ? area->top : 0};
        ok = SUCCEEDED(rwD3D9Driver.device->UpdateSurface(copy, area, target, area ? &point : nullptr));
    }
    if (level0)
        level0->Release();
    return ok;
}

RwBool RwD3D9RasterUnlock(void *, void *rasterIn, RwInt32)
{
    RwRaster *raster = static_cast<RwRaster *>(rasterIn);
    if (raster == nullptr)
        return FALSE;
    RwRaster *top = RwD3D9RasterGetTop(raster);
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    RwInt32 type = top->cType;
    if (!(raster->privateFlags & rwRASTERPIXELLOCKED) || ext->lockSurface == nullptr ||
        !(IsTextureType(type) || type == rwRASTERTYPECAMERA || type == rwRASTERTYPECAMERATEXTURE))
        return Refuse(rwD3D9ERRORNOTLOCKED);
    RwBool written = (raster->privateFlags & rwRASTERPIXELLOCKEDWRITE) != 0;
    raster->width = raster->originalWidth;
    raster->height = raster->originalHeight;
    raster->stride = 0;
    raster->cpPixels = nullptr;
    raster->privateFlags &= static_cast<RwUInt8>(~rwRASTERPIXELLOCKED);
    IDirect3DSurface9 *surface = ext->lockSurface;
    ext->lockSurface = nullptr;
    surface->UnlockRect();
    // A write the device refused to take back is reported, not lost quietly.
    const RwBool copied = !written || IsTextureType(type) || CopyBack(raster, top, surface, ext->lockedMipLevel);
    surface->Release();

    // Lower levels follow a written level 0 unless the device makes them itself.
    RwD3D9RasterExtension *topExt = RwD3D9RasterGetExtension(top);
    if (written && (raster->cFormat & rwRASTERAUTOMIPMAPBIT) && ext->lockedMipLevel == 0 &&
        (topExt->automipmapCompressed & 0x0F) == 0) {
        ext->lockedMipLevel = 0xFF;
        RwTextureRasterGenerateMipmaps(top, nullptr);
    }
    return copied;
}

RwBool RwD3D9RasterLockPalette(void *out, void *rasterIn, RwInt32 mode)
{
    RwRaster *raster = static_cast<RwRaster *>(rasterIn);
    if (out == nullptr || raster == nullptr)
        return FALSE;
    RwRaster *top = RwD3D9RasterGetTop(raster);
    RwD3D9Palette *palette = static_cast<RwD3D9Palette *>(RwD3D9RasterGetExtension(top)->palette);
    if (!(IsTextureType(top->cType) || top->cType == rwRASTERTYPECAMERATEXTURE) || palette == nullptr)
        return Refuse(rwD3D9ERRORLOCKED);
    raster->palette = reinterpret_cast<RwUInt8 *>(palette->entries);
    raster->privateFlags |= rwRASTERPALETTELOCKED | ((mode & rwRASTERLOCKWRITE) ? rwRASTERPALETTELOCKEDWRITE : 0);
    *static_cast<RwUInt8 **>(out) = raster->palette;
    return TRUE;
}

RwBool RwD3D9RasterUnlockPalette(void *, void *rasterIn, RwInt32)
{
    RwRaster *raster = static_cast<RwRaster *>(rasterIn);
    if (raster == nullptr)
        return FALSE;
    RwRaster *top = RwD3D9RasterGetTop(raster);
    RwD3D9Palette *palette = static_cast<RwD3D9Palette *>(RwD3D9RasterGetExtension(top)->palette);
    if (!(IsTextureType(top->cType) || top->cType == rwRASTERTYPECAMERATEXTURE))
        return Refuse(rwD3D9ERRORNOTLOCKED);
    if ((raster->privateFlags & rwRASTERPALETTELOCKEDWRITE) && palette)
        rwD3D9Driver.device->SetPaletteEntries(palette->number, palette->entries);
    raster->palette = nullptr;
    raster->privateFlags &= static_cast<RwUInt8>(~(rwRASTERPALETTELOCKED | rwRASTERPALETTELOCKEDWRITE));
    return TRUE;
}

// ---------------------------------------------------------------------------
// Device reset

// The automatic depth surface of the device that was reset: z-buffer rasters
// that used it take the new one.
static IDirect3DSurface9 *ReleasedDefaultDepth;

static void ReleaseRaster(RwRaster *raster, void *)
{
    if (raster->parent != raster)
        return;
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    switch (raster->cType) {
    case rwRASTERTYPENORMAL:
    case rwRASTERTYPETEXTURE:
        if (ext->texture && RwD3D9IsDepthFormat(ext->d3dFormat)) {
            static_cast<IDirect3DTexture9 *>(ext->texture)->Release();
            ext->texture = nullptr;
        }
        break;
    case rwRASTERTYPEZBUFFER:
        if (ext->texture && ext->texture != ReleasedDefaultDepth) {
            static_cast<IDirect3DSurface9 *>(ext->texture)->Release();
            ext->texture = nullptr;
        }
        break;
    case rwRASTERTYPECAMERA:
        // The chain is forgotten once released; the window tells the restore to build a new one.
        if (ext->swapChain) {
            ext->swapChain->Release();
            ext->swapChain = nullptr;
            ext->texture = nullptr;
        }
        break;
    case rwRASTERTYPECAMERATEXTURE:
        if (ext->texture) {
            static_cast<IDirect3DBaseTexture9 *>(ext->texture)->Release();
            ext->texture = nullptr;
        }
        break;
    default:
        break;
    }
}

void RwD3D9RasterReleaseDeviceObjects(void)
{
    ReleasedDefaultDepth = rwD3D9Driver.defaultDepthSurface;
    RwD3D9RasterForAllDeviceObjects(ReleaseRaster, nullptr);
}

static RwBool RestoreSwapChain(RwD3D9RasterExtension *ext)
{
    RwD3D9Driver &d = rwD3D9Driver;
    D3DPRESENT_PARAMETERS p = d.present;
    RECT client = {0, 0, 0, 0};
    GetClientRect(ext->window, &client);
    p.hDeviceWindow = ext->window;
    p.BackBufferWidth = client.right == 0 ? 1 : 0;
    p.BackBufferHeight = client.bottom == 0 ? 1 : 0;
    p.EnableAutoDepthStencil = FALSE;
    if (FAILED(d.device->CreateAdditionalSwapChain(&p, &ext->swapChain))) {
        ext->swapChain = nullptr;
        return FALSE;
    }
    IDirect3DSurface9 *back = nullptr;
    if (FAILED(ext->swapChain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back)))
        return FALSE;
    D3DSURFACE_DESC desc;
    back->GetDesc(&desc);
    ext->texture = back;
    ext->d3dFormat = desc.Format;
    back->Release();
    return TRUE;
}

// size x now / then; a raster that had pixels keeps at least one, so that a
// tiny window still has something to draw on.
static RwInt32 Scaled(RwInt32 size, RwUInt32 now, RwUInt32 then)
{
    const RwInt32 scaled =
        static_cast<RwInt32>(static_cast<std::uint64_t>(static_cast<RwUInt32>(size)) * now / then);
    return scaled == 0 && size > 0 && now > 0 ? 1 : scaled;
}

// Gives a raster the size a reset scaled it to. A locked one shows the locked
// level of that size, and its unlock gives back the scaled size, not the
// one saved at the lock.
static void SetFollowedSize(RwRaster *raster, RwInt32 width, RwInt32 height)
{
    if (raster->privateFlags & rwRASTERPIXELLOCKED) {
        const RwUInt32 level = RwD3D9RasterGetExtension(raster)->lockedMipLevel;
        raster->originalWidth = width;
        raster->originalHeight = height;
        width = LevelSize(width, level);
        height = LevelSize(height, level);
    }
    raster->width = width;
    raster->height = height;
}

// A camera raster on the device window follows the new back buffer: its size
// keeps its proportion to the back buffer and its format becomes the back
// buffer's. A raster whose size is not the one last given to it here was
// resized by its owner, and is taken from there against the mode it was
// drawn in.
static void FollowBackBuffer(RwRaster *raster, RwD3D9RasterExtension *ext)
{
    const RwD3D9Driver &d = rwD3D9Driver;
    RwD3D9CameraShape &shape = *RwD3D9RasterGetCameraShape(raster);
    const RwBool locked = (raster->privateFlags & rwRASTERPIXELLOCKED) != 0;
    RwInt32 width = locked ? raster->originalWidth : raster->width;
    RwInt32 height = locked ? raster->originalHeight : raster->height;
    if (shape.backWidth == 0 || shape.backHeight == 0 || width != shape.lastWidth || height != shape.lastHeight)
        shape = {width,
                 height,
                 static_cast<RwUInt32>(d.displayMode.width),
                 static_cast<RwUInt32>(d.displayMode.height),
                 width,
                 height,
                 0,
                 0};
    if (shape.backWidth != 0)
        width = Scaled(shape.width, d.present.BackBufferWidth, shape.backWidth);
    if (shape.backHeight != 0)
        height = Scaled(shape.height, d.present.BackBufferHeight, shape.backHeight);
    shape.lastWidth = width;
    shape.lastHeight = height;
    SetFollowedSize(raster, width, height);
    RwD3D9PixelFormat info = RwD3D9GetPixelFormat(d.present.BackBufferFormat);
    raster->depth = RwD3D9FormatDepth(d.present.BackBufferFormat);
    raster->cFormat = static_cast<RwUInt8>((raster->cFormat & 0xF0) | (info.rwFormat >> 8));
    ext->d3dFormat = d.present.BackBufferFormat;
    ext->alpha = info.alpha;
}

static RwBool RestoreZBuffer(RwRaster *raster, RwD3D9RasterExtension *ext)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (ext->texture && ext->texture == ReleasedDefaultDepth) {
        RECT client;
        if (d.window && GetClientRect(d.window, &client)) {
            raster->width = client.right;
            raster->height = client.bottom;
        }
        ext->texture = d.defaultDepthSurface;
        ext->d3dFormat = d.present.AutoDepthStencilFormat;
        return TRUE;
    }
    if (ext->texture || (raster->cFlags & rwRASTERDONTALLOCATE))
        return TRUE;
    D3DFORMAT format = RwD3D9ZBufferFormat();
    IDirect3DSurface9 *surface = nullptr;
    if (FAILED(d.device->CreateDepthStencilSurface(raster->width > 0 ? raster->width : 1,
                                                   raster->height > 0 ? raster->height : 1, format,
                                                   d.present.MultiSampleType, d.present.MultiSampleQuality, FALSE,
                                                   &surface, nullptr)))
        return FALSE;
    ext->texture = surface;
    ext->d3dFormat = format;
    return TRUE;
}

static void RestoreRaster(RwRaster *raster, void *data)
{
    RwBool *ok = static_cast<RwBool *>(data);
    if (raster->parent != raster)
        return;
    RwD3D9Driver &d = rwD3D9Driver;
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    switch (raster->cType) {
    case rwRASTERTYPENORMAL:
    case rwRASTERTYPETEXTURE:
        if (ext->texture == nullptr && RwD3D9IsDepthFormat(ext->d3dFormat) &&
            FAILED(d.device->CreateTexture(raster->width, raster->height, 1, D3DUSAGE_DEPTHSTENCIL, ext->d3dFormat,
                                           D3DPOOL_DEFAULT, reinterpret_cast<IDirect3DTexture9 **>(&ext->texture),
                                           nullptr))) {
            ext->texture = nullptr;
            *ok = FALSE;
        }
        if (ext->palette) {
            RwD3D9Palette *palette = static_cast<RwD3D9Palette *>(ext->palette);
            d.device->SetPaletteEntries(palette->number, palette->entries);
        }
        break;
    case rwRASTERTYPEZBUFFER:
        if (!RestoreZBuffer(raster, ext))
            *ok = FALSE;
        break;
    case rwRASTERTYPECAMERA:
        if (ext->window) {
            if (ext->swapChain == nullptr && !RestoreSwapChain(ext))
                *ok = FALSE;
        } else {
            FollowBackBuffer(raster, ext);
        }
        break;
    case rwRASTERTYPECAMERATEXTURE:
        if (ext->texture == nullptr && !(raster->cFlags & rwRASTERDONTALLOCATE) && !RwD3D9CreateCameraTexture(raster))
            *ok = FALSE;
        break;
    default:
        break;
    }
}

// x of a rectangle made on a top raster then wide, on the top now wide.
static RwInt32 ScaledEdge(RwInt32 x, RwInt32 now, RwUInt32 then)
{
    const std::int64_t scaled = static_cast<std::int64_t>(x) * now / static_cast<std::int64_t>(then);
    return static_cast<RwInt32>(scaled < 0 ? 0 : scaled > now ? now : scaled);
}

// A side that had pixels keeps one, inside the top raster.
static void KeepOnePixel(RwInt32 *from, RwInt32 *to, RwInt32 made, RwInt32 topSize)
{
    if (*to > *from || made <= 0 || topSize <= 0)
        return;
    if (*from >= topSize)
        *from = topSize - 1;
    *to = *from + 1;
}

// A sub-raster of a camera raster keeps its place in proportion as its top
// follows the back buffer (edges scaled, so that neighbours still meet), and
// stays inside it. Only those have a shape: one of an empty top has none.
static void FollowTop(RwRaster *raster, void *)
{
    const RwRaster *top = raster->parent;
    const RwD3D9CameraShape &shape = *RwD3D9RasterGetCameraShape(raster);
    if (top == raster || shape.backWidth == 0 || shape.backHeight == 0)
        return;
    RwInt32 left = ScaledEdge(shape.x, top->width, shape.backWidth);
    RwInt32 right = ScaledEdge(shape.x + shape.width, top->width, shape.backWidth);
    RwInt32 upper = ScaledEdge(shape.y, top->height, shape.backHeight);
    RwInt32 lower = ScaledEdge(shape.y + shape.height, top->height, shape.backHeight);
    KeepOnePixel(&left, &right, shape.width, top->width);
    KeepOnePixel(&upper, &lower, shape.height, top->height);
    raster->nOffsetX = static_cast<RwInt16>(top->nOffsetX + left);
    raster->nOffsetY = static_cast<RwInt16>(top->nOffsetY + upper);
    SetFollowedSize(raster, right - left, lower - upper);
}

RwBool RwD3D9RasterRestoreDeviceObjects(void)
{
    RwBool ok = TRUE;
    RwD3D9RasterForAllDeviceObjects(RestoreRaster, &ok);
    // After every top raster has its new size.
    RwD3D9RasterForAllDeviceObjects(FollowTop, nullptr);
    return ok;
}
