// Raster rendering and clearing: surface copies, textured screen quads, clears and locked fills.
#include <cstring>

#include "d3d9device.h"
#include "d3d9im2d.h"
#include "d3d9pixel.h"
#include "d3d9raster.h"
#include "d3d9renderstate.h"
#include "d3d9standard.h"
#include "d3d9state.h"
#include "d3d9surfacecopy.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/modules.h"
#include "gfx/core/raster.h"

// An immediate-mode 2D vertex.
struct RwD3D9QuadVertex {
    RwReal x, y, z, rhw;
    RwUInt32 colour;
    RwReal u, v;
};
static_assert(sizeof(RwD3D9QuadVertex) == 28, "2D vertex is 28 bytes");

static RwD3D9QuadVertex QuadVertices[4];

enum : RwInt32 { rwD3D9PRIMTRISTRIP = 4 };

static RwBool RefuseCombination(void)
{
    RwErrorMakeCode(rwD3D9ERRORCREATE, "SRC, DST Raster render combination not supported");
    RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORCREATE);
    return FALSE;
}

static RwBool RefuseClear(void)
{
    RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORUNSUPPORTED);
    return FALSE;
}

// The surface a raster's pixels live in, with a reference for the caller.
static IDirect3DSurface9 *SurfaceOf(const RwRaster *raster)
{
    const RwRaster *top = RwD3D9RasterGetTop(raster);
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(top);
    IDirect3DSurface9 *surface = nullptr;
    if ((top->cType & rwRASTERTYPEMASK) == rwRASTERTYPECAMERA) {
        surface = ext->swapChain ? static_cast<IDirect3DSurface9 *>(ext->texture) : rwD3D9Driver.defaultColorSurface;
        if (surface) {
            surface->AddRef();
        }
    } else if ((top->cType & rwRASTERTYPEMASK) == rwRASTERTYPEZBUFFER) {
        surface = static_cast<IDirect3DSurface9 *>(ext->texture);
        if (surface) {
            surface->AddRef();
        }
    } else {
        surface = RwD3D9RasterGetLevelSurface(top, 0);
    }
    return surface;
}

static bool IsCameraKind(RwUInt8 type)
{
    return type == rwRASTERTYPECAMERA || type == rwRASTERTYPECAMERATEXTURE;
}

static D3DTEXTUREFILTERTYPE StretchFilter(RwBool scaled)
{
    const DWORD caps = rwD3D9Driver.caps.StretchRectFilterCaps;
    if (!scaled && (caps & (D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MAGFPOINT))) {
        return D3DTEXF_POINT;
    }
    if (scaled && (caps & (D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFLINEAR))) {
        return D3DTEXF_LINEAR;
    }
    return D3DTEXF_NONE;
}

static RwBool RwD3D9RasterCopySurface(RwRaster *source, const RwRect *rect, RwBool scaled)
{
    RwRaster *context = RwD3D9GetRasterContext();
    IDirect3DSurface9 *from = SurfaceOf(source);
    IDirect3DSurface9 *to = SurfaceOf(context);
    RwBool ok = FALSE;
    if (from && to) {
        const RECT src = {source->nOffsetX, source->nOffsetY, source->nOffsetX + source->width,
                          source->nOffsetY + source->height};
        RECT dst;
        dst.left = context->nOffsetX + rect->x;
        dst.top = context->nOffsetY + rect->y;
        dst.right = dst.left + (scaled ? rect->w : source->width);
        dst.bottom = dst.top + (scaled ? rect->h : source->height);
        // Only a camera reaches a camera context here (other sources draw
        // quads); textures are managed and take everything through locks.
        ok = IsCameraKind(context->cType)
                 ? RwD3D9StretchBetweenTargets(from, &src, to, &dst, StretchFilter(scaled))
                 : RwD3D9CopyIntoLockable(from, &src, to, {dst.left, dst.top});
    }
    if (from) {
        from->Release();
    }
    if (to) {
        to->Release();
    }
    return ok;
}

// Draws the source over the rectangle of the current viewport as a textured
// quad, the touched states put back afterwards.
static void DrawQuad(RwRaster *source, const RwRect *rect, RwBool scaled, RwBool blend)
{
    RwRaster *top = RwD3D9RasterGetTop(source);
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(top);
    const RwReal x = static_cast<RwReal>(rect->x);
    const RwReal y = static_cast<RwReal>(rect->y);
    const RwReal w = static_cast<RwReal>(scaled ? rect->w : source->width);
    const RwReal h = static_cast<RwReal>(scaled ? rect->h : source->height);
    const RwReal W = static_cast<RwReal>(top->width);
    const RwReal H = static_cast<RwReal>(top->height);
    const RwReal u0 = source->nOffsetX / W;
    const RwReal v0 = source->nOffsetY / H;
    const RwReal u1 = (source->nOffsetX + source->width) / W;
    const RwReal v1 = (source->nOffsetY + source->height) / H;
    QuadVertices[0] = {x, y, 0.0f, 1.0f, 0xFFFFFFFF, u0, v0};
    QuadVertices[1] = {x, y + h, 0.0f, 1.0f, 0xFFFFFFFF, u0, v1};
    QuadVertices[2] = {x + w, y, 0.0f, 1.0f, 0xFFFFFFFF, u1, v0};
    QuadVertices[3] = {x + w, y + h, 0.0f, 1.0f, 0xFFFFFFFF, u1, v1};

    const RwInt32 saved[] = {rwRENDERSTATESRCBLEND, rwRENDERSTATEDESTBLEND, rwRENDERSTATEVERTEXALPHAENABLE,
                             rwRENDERSTATEFOGENABLE, rwRENDERSTATETEXTUREFILTER, rwRENDERSTATETEXTUREADDRESSU,
                             rwRENDERSTATETEXTUREADDRESSV};
    RwUInt32 values[7] = {};
    for (int i = 0; i < 7; i++) {
        RwD3D9RenderStateGetHandler(saved[i], &values[i]);
    }
    RwRaster *savedRaster = RwD3D9GetTextureRaster(0);
    RwUInt32 zEnable = 0;
    RwUInt32 cull = 0;
    RwD3D9GetRenderState(D3DRS_ZENABLE, &zEnable);
    RwD3D9GetRenderState(D3DRS_CULLMODE, &cull);

    RwD3D9SetTextureRaster(top, 0);
    if (blend && ext->alpha) {
        RwD3D9SetVertexAlphaEnable(TRUE);
        RwD3D9SetSrcBlend(5);
        RwD3D9SetDestBlend(6);
    } else {
        RwD3D9SetVertexAlphaEnable(FALSE);
    }
    const RwUInt32 off = 0;
    const RwUInt32 filter = scaled ? 2 : 1;
    const RwUInt32 clamp = 3;
    RwD3D9RenderStateSetHandler(rwRENDERSTATEFOGENABLE, reinterpret_cast<void *>(static_cast<uintptr_t>(off)));
    RwD3D9RenderStateSetHandler(rwRENDERSTATETEXTUREFILTER, reinterpret_cast<void *>(static_cast<uintptr_t>(filter)));
    RwD3D9RenderStateSetHandler(rwRENDERSTATETEXTUREADDRESS, reinterpret_cast<void *>(static_cast<uintptr_t>(clamp)));
    RwD3D9SetRenderState(D3DRS_ZENABLE, FALSE);
    RwD3D9SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    RwD3D9Im2DRenderPrimitive(rwD3D9PRIMTRISTRIP, QuadVertices, 4);

    RwD3D9SetRenderState(D3DRS_ZENABLE, zEnable);
    RwD3D9SetRenderState(D3DRS_CULLMODE, cull);
    for (int i = 0; i < 5; i++) {
        RwD3D9RenderStateSetHandler(saved[i], reinterpret_cast<void *>(static_cast<uintptr_t>(values[i])));
    }
    RwD3D9SetTextureRaster(savedRaster, 0);
    for (int i = 5; i < 7; i++) {
        RwD3D9RenderStateSetHandler(saved[i], reinterpret_cast<void *>(static_cast<uintptr_t>(values[i])));
    }
}

static RwBool RwD3D9RasterRenderQuad(RwRaster *source, const RwRect *rect, RwBool scaled, RwBool blend)
{
    // A reset here replaces the device's surfaces: it comes before the depth
    // surface to put back is taken.
    const RwBool drawing = RwD3D9TestDeviceAndBeginScene();
    RwRaster *context = RwD3D9GetRasterContext();
    RwBool switched = FALSE;
    if (context->cType == rwRASTERTYPECAMERATEXTURE) {
        switched = RwD3D9SetRenderTarget(0, context);
    }
    if (!switched) {
        RwD3D9SetRenderTargetSurface(0, rwD3D9Driver.defaultColorSurface);
    }
    IDirect3DSurface9 *depth = rwD3D9Cache.depthSurface;
    RwD3D9SetDepthStencilSurface(nullptr);
    const D3DVIEWPORT9 viewport = {static_cast<DWORD>(context->nOffsetX), static_cast<DWORD>(context->nOffsetY),
                                   static_cast<DWORD>(context->width), static_cast<DWORD>(context->height), 0.0f,
                                   1.0f};
    RwD3D9SetViewport(&viewport);
    if (drawing) {
        if (context->cType == rwRASTERTYPECAMERATEXTURE && !switched) {
            // The back buffer stands in for the texture: it first takes what
            // the texture holds, so that only the quad's pixels change there.
            const RwRect whole = {0, 0, context->width, context->height};
            DrawQuad(context, &whole, FALSE, FALSE);
        }
        DrawQuad(source, rect, scaled, blend);
    }
    if (context->cType == rwRASTERTYPECAMERA) {
        // 3D drawing that follows in the same update keeps its depth test.
        RwD3D9SetDepthStencilSurface(depth);
        return drawing;
    }
    if (switched) {
        RwD3D9SetRenderTargetSurface(0, rwD3D9Driver.defaultColorSurface);
        RwD3D9SetDepthStencilSurface(rwD3D9Driver.defaultDepthSurface);
        return drawing;
    }
    // The quad went into the back buffer: carry that rectangle over to the
    // context's own texture, where it was meant to go. The back buffer keeps
    // its own depth surface, as after drawing into the texture itself.
    RwD3D9SetDepthStencilSurface(rwD3D9Driver.defaultDepthSurface);
    IDirect3DSurface9 *target = SurfaceOf(context);
    RwBool copied = FALSE;
    if (target && drawing) {
        const RECT area = {context->nOffsetX, context->nOffsetY, context->nOffsetX + context->width,
                           context->nOffsetY + context->height};
        copied = RwD3D9StretchBetweenTargets(rwD3D9Driver.defaultColorSurface, &area, target, &area,
                                             StretchFilter(scaled));
    }
    if (target) {
        target->Release();
    }
    return copied;
}

static RwBool RwD3D9RasterRenderGeneric(RwRaster *source, const RwRect *rect, RwBool scaled, RwBool blend)
{
    if (!source || !rect) {
        return FALSE;
    }
    RwRaster *context = RwD3D9GetRasterContext();
    if (!context) {
        return RefuseCombination();
    }
    const RwUInt8 to = context->cType;
    const RwUInt8 from = source->cType & rwRASTERTYPEMASK;
    const bool toPlain = to == rwRASTERTYPENORMAL || to == rwRASTERTYPETEXTURE;
    const bool toCamera = IsCameraKind(to);
    if (!(toPlain || toCamera) || from == rwRASTERTYPEZBUFFER || from > rwRASTERTYPECAMERATEXTURE) {
        return RefuseCombination();
    }
    if (from == 3) {
        return TRUE;
    }
    if (toCamera && from != rwRASTERTYPECAMERA) {
        RwD3D9RasterRenderQuad(source, rect, scaled, blend);
        return TRUE;
    }
    return RwD3D9RasterCopySurface(source, rect, scaled) ? TRUE : RefuseCombination();
}

RwBool RwD3D9RasterRender(void *raster, void *position, RwInt32)
{
    const RwInt32 *at = static_cast<const RwInt32 *>(position);
    const RwRect rect = {at ? at[0] : 0, at ? at[1] : 0, 0, 0};
    return RwD3D9RasterRenderGeneric(static_cast<RwRaster *>(raster), at ? &rect : nullptr, FALSE, TRUE);
}

RwBool RwD3D9RasterRenderScaled(void *raster, void *rect, RwInt32)
{
    return RwD3D9RasterRenderGeneric(static_cast<RwRaster *>(raster), static_cast<const RwRect *>(rect), TRUE, TRUE);
}

RwBool RwD3D9RasterRenderFast(void *raster, void *position, RwInt32)
{
    const RwInt32 *at = static_cast<const RwInt32 *>(position);
    const RwRect rect = {at ? at[0] : 0, at ? at[1] : 0, 0, 0};
    return RwD3D9RasterRenderGeneric(static_cast<RwRaster *>(raster), at ? &rect : nullptr, FALSE, FALSE);
}

// ---------------------------------------------------------------------------
// Clearing

// The nearest palette entry by the squared distance of the four bytes; the
// first of equal entries, an exact match ending the search.
static RwUInt8 NearestEntry(const RwD3D9Palette *palette, RwUInt32 value)
{
    const RwUInt8 want[4] = {static_cast<RwUInt8>(value), static_cast<RwUInt8>(value >> 8),
                             static_cast<RwUInt8>(value >> 16), static_cast<RwUInt8>(value >> 24)};
    RwUInt32 best = 0xFFFFFFFFu;
    RwUInt8 index = 0;
    for (int i = 0; i < 256; i++) {
        const PALETTEENTRY &e = palette->entries[i];
        const RwUInt8 have[4] = {e.peRed, e.peGreen, e.peBlue, e.peFlags};
        RwUInt32 sum = 0;
        for (int k = 0; k < 4; k++) {
            const int d = static_cast<int>(have[k]) - want[k];
            sum += static_cast<RwUInt32>(d * d);
        }
        if (sum < best) {
            best = sum;
            index = static_cast<RwUInt8>(i);
            if (sum == 0) {
                break;
            }
        }
    }
    return index;
}

// The part of the rectangle that lies inside a raster of w x h.
static bool Clip(const RwRect *in, RwInt32 w, RwInt32 h, RwRect *out)
{
    RwInt32 x0 = in->x < 0 ? 0 : in->x;
    RwInt32 y0 = in->y < 0 ? 0 : in->y;
    const long long x1 = static_cast<long long>(in->x) + in->w;
    const long long y1 = static_cast<long long>(in->y) + in->h;
    const RwInt32 xe = x1 > w ? w : static_cast<RwInt32>(x1);
    const RwInt32 ye = y1 > h ? h : static_cast<RwInt32>(y1);
    if (xe <= x0 || ye <= y0) {
        return false;
    }
    *out = {x0, y0, xe - x0, ye - y0};
    return true;
}

static RwBool FillLocked(RwRaster *context, const RwRect *rect, RwUInt32 value)
{
    RwUInt8 *pixels = nullptr;
    if (!RwD3D9RasterLock(&pixels, context, rwRASTERLOCKWRITE)) {
        return RefuseClear();
    }
    RwRect r = {};
    const bool inside = Clip(rect, context->width, context->height, &r);
    RwBool ok = TRUE;
    const RwInt32 depth = context->depth;
    RwUInt8 index = 0;
    if (depth == 8) {
        const RwD3D9Palette *palette =
            static_cast<const RwD3D9Palette *>(RwD3D9RasterGetExtension(RwD3D9RasterGetTop(context))->palette);
        // Without a palette there is nothing to match the value against.
        if (!palette) {
            ok = FALSE;
        } else {
            index = NearestEntry(palette, value);
        }
    } else if (depth != 16 && depth != 32) {
        ok = FALSE;
    }
    for (RwInt32 y = 0; ok && inside && y < r.h; y++) {
        RwUInt8 *row = pixels + static_cast<size_t>(r.y + y) * context->stride;
        for (RwInt32 x = r.x; x < r.x + r.w; x++) {
            if (depth == 32) {
                std::memcpy(row + 4 * x, &value, 4);
            } else if (depth == 16) {
                const RwUInt16 low = static_cast<RwUInt16>(value);
                std::memcpy(row + 2 * x, &low, 2);
            } else {
                row[x] = index;
            }
        }
    }
    RwD3D9RasterUnlock(nullptr, context, 0);
    return ok ? TRUE : RefuseClear();
}

static RwBool RwD3D9RasterFillRect(const RwRect *rect, RwUInt32 value)
{
    RwRaster *context = RwD3D9GetRasterContext();
    if (!context || !rect) {
        return RefuseClear();
    }
    D3DCOLOR colour = value;
    if (context->depth != 32) {
        RwRGBA rgba = {};
        RwUInt32 packed = 0;
        RwInt32 format = context->cFormat << 8;
        RwD3D9PixelToRGB(&rgba, &value, format);
        RwD3D9RGBToPixel(&packed, &rgba, rwRASTERFORMAT8888);
        colour = packed;
    }
    const RwRaster *top = RwD3D9RasterGetTop(context);
    RwRect clipped;
    if (!Clip(rect, context->width, context->height, &clipped)) {
        return TRUE;
    }
    const D3DRECT area = {context->nOffsetX + clipped.x, context->nOffsetY + clipped.y,
                          context->nOffsetX + clipped.x + clipped.w, context->nOffsetY + clipped.y + clipped.h};
    const RECT fill = {area.x1, area.y1, area.x2, area.y2};
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    switch (context->cType) {
    case rwRASTERTYPECAMERA:
        RwD3D9SetRenderTargetSurface(0, rwD3D9Driver.defaultColorSurface);
        RwD3D9SetDepthStencilSurface(rwD3D9Driver.defaultDepthSurface);
        device->Clear(1, &area, D3DCLEAR_TARGET, colour, 1.0f, 0);
        return TRUE;
    case rwRASTERTYPEZBUFFER:
        RwD3D9SetDepthStencilSurface(static_cast<IDirect3DSurface9 *>(RwD3D9RasterGetExtension(top)->texture));
        device->Clear(1, &area, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        RwD3D9SetDepthStencilSurface(rwD3D9Driver.defaultDepthSurface);
        return TRUE;
    case rwRASTERTYPECAMERATEXTURE:
    case rwRASTERTYPENORMAL:
    case rwRASTERTYPETEXTURE: {
        IDirect3DSurface9 *surface = SurfaceOf(context);
        if (!surface) {
            return RefuseClear();
        }
        D3DSURFACE_DESC desc;
        surface->GetDesc(&desc);
        if (context->cType == rwRASTERTYPECAMERATEXTURE || desc.Pool == D3DPOOL_DEFAULT) {
            RwD3D9ColorFillSurface(surface, &fill, colour);
            surface->Release();
            return TRUE;
        }
        surface->Release();
        return FillLocked(context, rect, value);
    }
    default:
        return RefuseClear();
    }
}

RwBool RwD3D9RasterClearRect(void *, void *rect, RwInt32 value)
{
    return RwD3D9RasterFillRect(static_cast<const RwRect *>(rect), static_cast<RwUInt32>(value));
}

RwBool RwD3D9RasterClear(void *, void *, RwInt32 value)
{
    RwRaster *context = RwD3D9GetRasterContext();
    if (!context) {
        return RefuseClear();
    }
    const RwRect whole = {0, 0, context->width, context->height};
    return RwD3D9RasterFillRect(&whole, static_cast<RwUInt32>(value));
}
