// Pixel formats on the device: packing colours, images to and from rasters, format choice.
#include "d3d9pixel.h"

#include <cstring>

#include "d3d9device.h"
#include "d3d9raster.h"
#include "gfx/core/error.h"
#include "gfx/core/image.h"
#include "gfx/core/modules.h"
#include "gfx/core/palquant.h"
#include "gfx/core/raster.h"
#include "gfx/core/resample.h"

enum : RwInt32 {
    rwRASTERFORMATPALETTES = rwRASTERFORMATPAL8 | rwRASTERFORMATPAL4,
    rwRASTERFORMATMIPBITS = rwRASTERFORMATMIPMAP | rwRASTERFORMATAUTOMIPMAP,
};
enum : RwUInt32 { rwD3D9CALLHINT = 0x10411 };   // scratch memory that lives inside one call

static RwRGBA Colour(RwUInt32 r, RwUInt32 g, RwUInt32 b, RwUInt32 a)
{
    return {static_cast<RwUInt8>(r), static_cast<RwUInt8>(g), static_cast<RwUInt8>(b), static_cast<RwUInt8>(a)};
}

RwUInt32 RwD3D9Luminance(RwRGBA c)
{
    return (30u * c.red + 59u * c.green + 11u * c.blue) / 100u;
}

// ---------------------------------------------------------------------------
// Unpackers and packers by Direct3D format

static RwRGBA UnpackA8R8G8B8(RwUInt32 p) { return Colour(p >> 16, p >> 8, p, p >> 24); }
static RwRGBA UnpackX8R8G8B8(RwUInt32 p) { return Colour(p >> 16, p >> 8, p, 255); }
static RwRGBA UnpackR5G6B5(RwUInt32 p) { return Colour((p >> 8) & 0xF8, (p >> 3) & 0xFC, p << 3, 255); }
static RwRGBA UnpackX1R5G5B5(RwUInt32 p) { return Colour((p >> 7) & 0xF8, (p >> 2) & 0xF8, p << 3, 255); }
static RwRGBA UnpackA1R5G5B5(RwUInt32 p)
{
    return Colour((p >> 7) & 0xF8, (p >> 2) & 0xF8, p << 3, (p & 0x8000) ? 255 : 0);
}
static RwRGBA UnpackA4R4G4B4(RwUInt32 p)
{
    return Colour((p >> 4) & 0xF0, p & 0xF0, p << 4, (p & 0xF000) == 0xF000 ? 255 : (p >> 8) & 0xF0);
}
static RwRGBA UnpackR3G3B2(RwUInt32 p) { return Colour(p & 0xE0, (p & 0x1C) << 3, p << 6, 255); }
static RwRGBA UnpackA8(RwUInt32 p) { return Colour(255, 255, 255, p); }
static RwRGBA UnpackA8R3G3B2(RwUInt32 p) { return Colour(p & 0xE0, (p & 0x1C) << 3, p << 6, p >> 8); }
static RwRGBA UnpackX4R4G4B4(RwUInt32 p) { return Colour((p >> 4) & 0xF0, p & 0xF0, p << 4, 255); }
static RwRGBA UnpackA8B8G8R8(RwUInt32 p) { return Colour(p, p >> 8, p >> 16, p >> 24); }
static RwRGBA UnpackX8B8G8R8(RwUInt32 p) { return Colour(p, p >> 8, p >> 16, 255); }
static RwRGBA UnpackL8(RwUInt32 p) { return Colour(p, p, p, 255); }
static RwRGBA UnpackA8L8(RwUInt32 p) { return Colour(p, p, p, p >> 8); }
static RwRGBA UnpackA4L4(RwUInt32 p) { return Colour(p << 4, p << 4, p << 4, (p & 0xFF) >= 240 ? 255 : p & 0xF0); }
static RwRGBA UnpackV8U8(RwUInt32 p) { return Colour(p, p >> 8, 0, 255); }
static RwRGBA UnpackL6V5U5(RwUInt32 p) { return Colour((p & 0x1F) << 3, (p >> 2) & 0xF8, (p >> 8) & 0xFC, 255); }
static RwRGBA UnpackL16(RwUInt32 p) { return Colour(p >> 8, p >> 8, p >> 8, 255); }

static RwUInt32 PackA8R8G8B8(RwRGBA c) { return c.alpha << 24 | c.red << 16 | c.green << 8 | c.blue; }
static RwUInt32 PackX8R8G8B8(RwRGBA c) { return 0xFF000000u | c.red << 16 | c.green << 8 | c.blue; }
static RwUInt32 PackR5G6B5(RwRGBA c) { return (c.red & 0xF8) << 8 | (c.green & 0xFC) << 3 | c.blue >> 3; }
static RwUInt32 PackX1R5G5B5(RwRGBA c) { return (c.red & 0xF8) << 7 | (c.green & 0xF8) << 2 | c.blue >> 3; }
static RwUInt32 PackA1R5G5B5(RwRGBA c) { return (c.alpha & 0x80) << 8 | PackX1R5G5B5(c); }
static RwUInt32 PackA4R4G4B4(RwRGBA c)
{
    return (c.alpha & 0xF0) << 8 | (c.red & 0xF0) << 4 | (c.green & 0xF0) | c.blue >> 4;
}
static RwUInt32 PackA8R3G3B2(RwRGBA c) { return c.alpha << 8 | (c.red & 0xE0) | (c.green & 0xE0) >> 3 | c.blue >> 6; }
static RwUInt32 PackX4R4G4B4(RwRGBA c) { return 0xF000u | (c.red & 0xF0) << 4 | (c.green & 0xF0) | c.blue >> 4; }
static RwUInt32 PackA8B8G8R8(RwRGBA c) { return c.alpha << 24 | c.blue << 16 | c.green << 8 | c.red; }
static RwUInt32 PackX8B8G8R8(RwRGBA c) { return 0xFF000000u | c.blue << 16 | c.green << 8 | c.red; }
static RwUInt32 PackL8(RwRGBA c) { return RwD3D9Luminance(c) * c.alpha / 255; }
static RwUInt32 PackA8L8(RwRGBA c) { return RwD3D9Luminance(c) | c.alpha << 8; }
static RwUInt32 PackV8U8(RwRGBA c) { return c.red | c.green << 8; }
static RwUInt32 PackL6V5U5(RwRGBA c) { return (c.blue & 0xFC) << 8 | (c.green & 0xF8) << 2 | c.red >> 3; }
static RwUInt32 PackL16(RwRGBA c)
{
    return ((30u * c.red + 59u * c.green + 11u * c.blue) * c.alpha / 25500u) * 255u;
}

RwD3D9PixelUnpacker RwD3D9PixelUnpackerForFormat(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_A8R8G8B8: return UnpackA8R8G8B8;
    case D3DFMT_X8R8G8B8: return UnpackX8R8G8B8;
    case D3DFMT_R5G6B5: return UnpackR5G6B5;
    case D3DFMT_X1R5G5B5: return UnpackX1R5G5B5;
    case D3DFMT_A1R5G5B5: return UnpackA1R5G5B5;
    case D3DFMT_A4R4G4B4: return UnpackA4R4G4B4;
    case D3DFMT_R3G3B2: return UnpackR3G3B2;
    case D3DFMT_A8: return UnpackA8;
    case D3DFMT_A8R3G3B2: return UnpackA8R3G3B2;
    case D3DFMT_X4R4G4B4: return UnpackX4R4G4B4;
    case D3DFMT_A8B8G8R8:
    case D3DFMT_Q8W8V8U8: return UnpackA8B8G8R8;
    case D3DFMT_X8B8G8R8:
    case D3DFMT_X8L8V8U8: return UnpackX8B8G8R8;
    case D3DFMT_L8: return UnpackL8;
    case D3DFMT_A8L8: return UnpackA8L8;
    case D3DFMT_A4L4: return UnpackA4L4;
    case D3DFMT_V8U8:
    case D3DFMT_CxV8U8: return UnpackV8U8;
    case D3DFMT_L6V5U5: return UnpackL6V5U5;
    case D3DFMT_L16: return UnpackL16;
    default: return nullptr;
    }
}

RwD3D9PixelPacker RwD3D9PixelPackerForFormat(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_A8R8G8B8: return PackA8R8G8B8;
    case D3DFMT_X8R8G8B8: return PackX8R8G8B8;
    case D3DFMT_R5G6B5: return PackR5G6B5;
    case D3DFMT_X1R5G5B5: return PackX1R5G5B5;
    case D3DFMT_A1R5G5B5: return PackA1R5G5B5;
    case D3DFMT_A4R4G4B4: return PackA4R4G4B4;
    case D3DFMT_A8R3G3B2: return PackA8R3G3B2;
    case D3DFMT_X4R4G4B4: return PackX4R4G4B4;
    case D3DFMT_A8B8G8R8:
    case D3DFMT_Q8W8V8U8: return PackA8B8G8R8;
    case D3DFMT_X8B8G8R8:
    case D3DFMT_X8L8V8U8: return PackX8B8G8R8;
    case D3DFMT_L8: return PackL8;
    case D3DFMT_A8L8: return PackA8L8;
    case D3DFMT_V8U8:
    case D3DFMT_CxV8U8: return PackV8U8;
    case D3DFMT_L6V5U5: return PackL6V5U5;
    case D3DFMT_L16: return PackL16;
    default: return nullptr;
    }
}

// ---------------------------------------------------------------------------
// The two colour standard functions

RwBool RwD3D9RGBToPixel(void *out, void *in, RwInt32 format)
{
    if (out == nullptr || in == nullptr)
        return FALSE;
    const RwRGBA c = *static_cast<const RwRGBA *>(in);
    RwUInt32 pixel;
    switch (format & rwRASTERFORMATPIXELFORMATMASK) {
    case rwRASTERFORMATDEFAULT:
    case rwRASTERFORMAT8888: pixel = PackA8R8G8B8(c); break;
    case rwRASTERFORMAT888: pixel = PackX8R8G8B8(c); break;
    case rwRASTERFORMAT555: pixel = (c.red >> 3) << 10 | (c.green >> 3) << 5 | c.blue >> 3; break;
    case rwRASTERFORMATLUM8: pixel = PackL8(c); break;
    case rwRASTERFORMAT565: pixel = (c.red >> 3) << 11 | (c.green >> 2) << 5 | c.blue >> 3; break;
    case rwRASTERFORMAT1555:
        pixel = (c.alpha & 0x80) << 8 | (c.red >> 3) << 10 | (c.green >> 3) << 5 | c.blue >> 3;
        break;
    case rwRASTERFORMAT4444: pixel = (c.alpha >> 4) << 12 | (c.red >> 4) << 8 | (c.green >> 4) << 4 | c.blue >> 4; break;
    default:
        RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORUNSUPPORTED);
        return FALSE;
    }
    *static_cast<RwUInt32 *>(out) = pixel;
    return TRUE;
}

RwBool RwD3D9PixelToRGB(void *out, void *in, RwInt32 format)
{
    if (out == nullptr || in == nullptr)
        return FALSE;
    const RwUInt32 p = *static_cast<const RwUInt32 *>(in);
    RwRGBA *c = static_cast<RwRGBA *>(out);
    // A palettised value is an index and passes through.
    if (format & rwRASTERFORMATPAL8) {
        std::memcpy(c, &p, sizeof(*c));
        return TRUE;
    }
    switch (format & rwRASTERFORMATPIXELFORMATMASK) {
    case rwRASTERFORMAT8888: *c = UnpackA8R8G8B8(p); return TRUE;
    case rwRASTERFORMAT888: *c = UnpackX8R8G8B8(p); return TRUE;
    case rwRASTERFORMAT555: *c = UnpackX1R5G5B5(p); return TRUE;
    case rwRASTERFORMAT1555: *c = UnpackA1R5G5B5(p); return TRUE;
    case rwRASTERFORMAT565: *c = UnpackR5G6B5(p); return TRUE;
    case rwRASTERFORMAT4444: *c = UnpackA4R4G4B4(p); return TRUE;
    case rwRASTERFORMATLUM8: *c = UnpackL8(p & 0xFF); return TRUE;
    default:
        RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORUNSUPPORTED);
        return FALSE;
    }
}

// ---------------------------------------------------------------------------
// Pixel access by size

static RwUInt32 ReadPixel(const RwUInt8 *p, RwInt32 bytes)
{
    switch (bytes) {
    case 1: return p[0];
    case 2: return p[0] | p[1] << 8;
    case 3: return p[0] | p[1] << 8 | p[2] << 16;
    default: return p[0] | p[1] << 8 | p[2] << 16 | static_cast<RwUInt32>(p[3]) << 24;
    }
}

static void WritePixel(RwUInt8 *p, RwInt32 bytes, RwUInt32 v)
{
    for (RwInt32 i = 0; i < bytes; i++)
        p[i] = static_cast<RwUInt8>(v >> (8 * i));
}

// Only these image depths have a layout the converters know: palette
// indices (4 and 8) or colours (32).
static RwBool KnownImageDepth(const RwImage *image)
{
    return image->depth == 4 || image->depth == 8 || image->depth == 32;
}

// The colour at (x, y) of a 32-bit image.
static RwRGBA ImagePixel(const RwImage *image, RwInt32 x, RwInt32 y)
{
    RwRGBA c;
    std::memcpy(&c, image->cpPixels + static_cast<size_t>(y) * image->stride + 4 * x, sizeof(c));
    return c;
}

static void SetImagePixel(RwImage *image, RwInt32 x, RwInt32 y, RwRGBA c)
{
    std::memcpy(image->cpPixels + static_cast<size_t>(y) * image->stride + 4 * x, &c, sizeof(c));
}

// Copies index rows between a palettised image and an 8-bit raster.
static void CopyIndices(RwUInt8 *dst, RwInt32 dstStride, const RwUInt8 *src, RwInt32 srcStride, RwInt32 width,
                        RwInt32 height)
{
    if (dstStride == srcStride && srcStride == width) {
        std::memcpy(dst, src, static_cast<size_t>(width) * height);
        return;
    }
    for (RwInt32 y = 0; y < height; y++)
        std::memcpy(dst + static_cast<size_t>(y) * dstStride, src + static_cast<size_t>(y) * srcStride, width);
}

// Gives up the pixel and palette locks that a conversion took itself.
static void UnlockTaken(RwRaster *raster, RwBool pixels, RwBool palette)
{
    if (palette)
        RwRasterUnlockPalette(raster);
    if (pixels)
        RwRasterUnlock(raster);
}

static void RaiseDepth(void)
{
    RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORDEPTH);
}

static void RaiseConversion(const char *message)
{
    RwErrorMakeCode(rwD3D9ERRORCREATE, message);
    RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORCREATE);
}

// ---------------------------------------------------------------------------
// Image from raster

// Fills a 32-bit image from the locked raster, one unpacker per pixel.
static RwBool ImageFromRasterUnpacked(RwImage *image, const RwRaster *raster, RwD3D9PixelUnpacker unpack,
                                      RwInt32 bytes)
{
    if (unpack == nullptr) {
        RaiseDepth();
        return FALSE;
    }
    for (RwInt32 y = 0; y < raster->height; y++) {
        const RwUInt8 *row = raster->cpPixels + static_cast<size_t>(y) * raster->stride;
        for (RwInt32 x = 0; x < raster->width; x++)
            SetImagePixel(image, x, y, unpack(ReadPixel(row + x * bytes, bytes)));
    }
    return TRUE;
}

static RwRGBA UnpackA2R10G10B10(RwUInt32 p) { return Colour(p >> 22, p >> 12, p >> 2, (p >> 30) * 85); }

static RwBool ImageFromRaster32(RwImage *image, const RwRaster *raster, D3DFORMAT format)
{
    RwInt32 code = (raster->cFormat << 8) & rwRASTERFORMATPIXELFORMATMASK;
    if (code == 0) {
        if (raster->depth == 4 || raster->depth == 8)
            return ImageFromRasterUnpacked(image, raster, RwD3D9PixelUnpackerForFormat(format), 1);
        if (raster->depth == 16 || raster->depth == 32)
            return ImageFromRasterUnpacked(image, raster, RwD3D9PixelUnpackerForFormat(format), raster->depth / 8);
        RaiseDepth();
        return FALSE;
    }
    switch (raster->depth) {
    case 4:
    case 8: {
        const RwRGBA *palette = reinterpret_cast<const RwRGBA *>(raster->palette);
        for (RwInt32 y = 0; y < raster->height; y++) {
            const RwUInt8 *row = raster->cpPixels + static_cast<size_t>(y) * raster->stride;
            for (RwInt32 x = 0; x < raster->width; x++)
                SetImagePixel(image, x, y, palette ? palette[row[x]] : Colour(row[x], row[x], row[x], 255));
        }
        return TRUE;
    }
    case 16: {
        const RwD3D9CodeInfo *info = RwD3D9GetCodeInfo(code);
        RwD3D9PixelUnpacker unpack = RwD3D9PixelUnpackerForFormat(info ? info->format : format);
        return ImageFromRasterUnpacked(image, raster, unpack ? unpack : RwD3D9PixelUnpackerForFormat(format), 2);
    }
    case 24:
    case 32:
        if (format == D3DFMT_A2R10G10B10)
            return ImageFromRasterUnpacked(image, raster, UnpackA2R10G10B10, 4);
        return ImageFromRasterUnpacked(image, raster, RwD3D9PixelUnpackerForFormat(format), raster->depth / 8);
    default:
        RaiseDepth();
        return FALSE;
    }
}

static RwBool ImageFromRaster8(RwImage *image, const RwRaster *raster)
{
    if (raster->depth != 8 || (raster->cFormat & 0x0F) == 0) {
        RaiseConversion("Conversion from non palettised rasters to 8bit images is not supported");
        return FALSE;
    }
    CopyIndices(image->cpPixels, image->stride, raster->cpPixels, raster->stride, raster->width, raster->height);
    if (raster->palette) {
        std::memcpy(image->palette, raster->palette, 256 * sizeof(RwRGBA));
    } else {
        for (RwInt32 i = 0; i < 256; i++)
            image->palette[i] = Colour(i, i, i, 255);
    }
    return TRUE;
}

RwBool RwD3D9ImageGetFromRaster(void *imageIn, void *rasterIn, RwInt32)
{
    RwImage *image = static_cast<RwImage *>(imageIn);
    RwRaster *raster = static_cast<RwRaster *>(rasterIn);
    if (image == nullptr || raster == nullptr)
        return FALSE;
    RwRaster *top = RwD3D9RasterGetTop(raster);
    if (RwD3D9RasterIsCompressed(top)) {
        RaiseConversion("Conversion from compressed rasters is not supported.");
        return FALSE;
    }
    if (image->depth == 4) {
        RaiseConversion("Conversion from rasters to 4bit images is not supported");
        return FALSE;
    }
    RwBool lockedHere = FALSE, paletteHere = FALSE;
    if (!(raster->privateFlags & rwRASTERPIXELLOCKEDREAD)) {
        if (RwRasterLock(raster, 0, rwRASTERLOCKREAD) == nullptr)
            return FALSE;
        lockedHere = TRUE;
    }
    if ((raster->cFormat & (rwRASTERFORMATPALETTES >> 8)) && !(raster->privateFlags & rwRASTERPALETTELOCKED)) {
        if (RwRasterLockPalette(raster, rwRASTERLOCKREAD))
            paletteHere = TRUE;
    }
    RwBool ok;
    if (image->cpPixels == nullptr || image->width != raster->width || image->height != raster->height) {
        // The rows are copied whole: an image of another size would be overrun.
        RwErrorRaise(0, E_RW_INVIMAGESIZE);
        ok = FALSE;
    } else if (image->depth == 32) {
        ok = ImageFromRaster32(image, raster, RwD3D9RasterGetExtension(top)->d3dFormat);
    } else if (image->depth == 8) {
        ok = ImageFromRaster8(image, raster);
    } else {
        RaiseDepth();
        ok = FALSE;
    }
    UnlockTaken(raster, lockedHere, paletteHere);
    return ok;
}

// ---------------------------------------------------------------------------
// Raster from image

// Sets the alpha flag of the raster, and of its parent when it ends set.
static void SetRasterAlpha(RwRaster *raster, RwBool alpha)
{
    RwD3D9RasterGetExtension(raster)->alpha = alpha ? 1 : 0;
    if (alpha)
        RwD3D9RasterGetExtension(RwD3D9RasterGetTop(raster))->alpha = 1;
}

// Packs every pixel of the image into the locked raster, through a lookup
// for palettised images. Images of other depths write nothing.
static RwBool PackImage(RwRaster *raster, const RwImage *image, RwD3D9PixelPacker pack, RwInt32 bytes)
{
    if (pack == nullptr) {
        RaiseDepth();
        return FALSE;
    }
    if (!KnownImageDepth(image))
        return TRUE;
    RwUInt32 lookup[256];
    if (image->depth != 32) {
        for (RwInt32 i = 0; i < (1 << image->depth); i++)
            lookup[i] = pack(image->palette[i]);
    }
    for (RwInt32 y = 0; y < raster->height; y++) {
        RwUInt8 *row = raster->cpPixels + static_cast<size_t>(y) * raster->stride;
        const RwUInt8 *src = image->cpPixels + static_cast<size_t>(y) * image->stride;
        for (RwInt32 x = 0; x < raster->width; x++) {
            RwUInt32 v;
            if (image->depth == 32) {
                RwRGBA c;
                std::memcpy(&c, src + 4 * x, sizeof(c));
                v = pack(c);
            } else {
                v = lookup[src[x] & ((1 << image->depth) - 1)];
            }
            WritePixel(row + x * bytes, bytes, v);
        }
    }
    return TRUE;
}

static RwBool RasterFromImage32(RwRaster *raster, const RwImage *image, D3DFORMAT format)
{
    RwInt32 code = (raster->cFormat << 8) & rwRASTERFORMATPIXELFORMATMASK;
    RwD3D9PixelPacker pack;
    RwBool alpha;
    if (code == rwRASTERFORMAT888) {
        pack = PackX8R8G8B8;
        alpha = FALSE;
    } else if (code == rwRASTERFORMAT8888) {
        pack = PackA8R8G8B8;
        alpha = TRUE;
    } else {
        pack = RwD3D9PixelPackerForFormat(format);
        alpha = RwD3D9GetPixelFormat(format).alpha;
    }
    if (!KnownImageDepth(image)) {
        // Nothing is written, so nothing says the pixels are opaque.
        SetRasterAlpha(raster, TRUE);
        return TRUE;
    }
    if (!PackImage(raster, image, pack, raster->depth / 8))
        return FALSE;
    SetRasterAlpha(raster, alpha);
    return TRUE;
}

// Quantises a 32-bit image into an index image of the raster's size and depth.
static RwImage *QuantiseImage(RwRaster *raster, const RwImage *image)
{
    RwImage *indices = RwImageCreate(raster->width, raster->height, raster->depth);
    if (indices == nullptr)
        return nullptr;
    if (!RwImageAllocatePixels(indices)) {
        RwImageDestroy(indices);
        return nullptr;
    }
    RwPalQuant *pq = static_cast<RwPalQuant *>(RwMalloc(sizeof(RwPalQuant), rwD3D9CALLHINT));
    if (pq == nullptr || !RwPalQuantInit(pq)) {
        RwFree(pq);
        RwImageDestroy(indices);
        return nullptr;
    }
    RwPalQuantAddImage(pq, image, 1.0f);
    RwPalQuantResolvePalette(indices->palette, 1 << raster->depth, pq);
    RwPalQuantMatchImage(indices->cpPixels, indices->stride, indices->depth, FALSE, pq, image);
    RwPalQuantTerm(pq);
    RwFree(pq);
    return indices;
}

static RwBool RasterFromImage8(RwRaster *raster, const RwImage *image)
{
    if ((raster->cFormat << 8 & rwRASTERFORMATPIXELFORMATMASK) == rwRASTERFORMATLUM8)
        return PackImage(raster, image, PackL8, 1);
    if (image->depth == 32) {
        RwImage *indices = QuantiseImage(raster, image);
        if (indices == nullptr)
            return FALSE;
        RwRaster *top = RwD3D9RasterGetTop(raster);
        RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(top);
        // A quantised palette without translucent entries needs no alpha.
        if (ext->alpha && (RwD3D9ImageFindFormat(indices) & rwRASTERFORMATPIXELFORMATMASK) == rwRASTERFORMAT888) {
            top->cFormat = static_cast<RwUInt8>((top->cFormat & 0xF0) | (rwRASTERFORMAT888 >> 8));
            raster->cFormat = top->cFormat;
            ext->alpha = 0;
            RwD3D9RasterGetExtension(raster)->alpha = 0;
        }
        RwBool ok = RasterFromImage8(raster, indices);
        RwImageDestroy(indices);
        return ok;
    }
    if (!KnownImageDepth(image))
        return TRUE;
    CopyIndices(raster->cpPixels, raster->stride, image->cpPixels, image->stride, raster->width, raster->height);
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    if (ext->lockedMipLevel == 0 && raster->palette)
        std::memcpy(raster->palette, image->palette, (static_cast<size_t>(1) << image->depth) * sizeof(RwRGBA));
    return TRUE;
}

// The alpha flag a raster takes before it is written from the image.
static RwBool AlphaForImage(const RwRaster *raster, const RwImage *image)
{
    const RwRaster *top = RwD3D9RasterGetTop(raster);
    D3DFORMAT format = RwD3D9RasterGetExtension(top)->d3dFormat;
    RwInt32 code = (raster->cFormat << 8) & rwRASTERFORMATPIXELFORMATMASK;
    if (raster->cType == rwRASTERTYPENORMAL) {
        const RwD3D9CodeInfo *info = RwD3D9GetCodeInfo(RwD3D9ImageFindFormat(image));
        return info && info->alpha;
    }
    if (format == D3DFMT_P8)
        return code == rwRASTERFORMAT8888;
    return RwD3D9GetPixelFormat(format).alpha;
}

RwBool RwD3D9RasterSetFromImage(void *rasterIn, void *imageIn, RwInt32)
{
    RwRaster *raster = static_cast<RwRaster *>(rasterIn);
    RwImage *image = static_cast<RwImage *>(imageIn);
    if (raster == nullptr || image == nullptr || image->cpPixels == nullptr)
        return FALSE;
    RwRaster *top = RwD3D9RasterGetTop(raster);
    if (RwD3D9RasterIsCompressed(top)) {
        RaiseConversion("Conversion to compressed rasters is not supported.");
        return FALSE;
    }
    SetRasterAlpha(raster, AlphaForImage(raster, image));

    RwImage *resampled = nullptr;
    if (image->width != raster->width || image->height != raster->height) {
        resampled = RwImageCreateResample(image, raster->width, raster->height);
        if (resampled == nullptr)
            return FALSE;
        image = resampled;
    }
    RwBool lockedHere = FALSE, paletteHere = FALSE, ok = TRUE;
    if (!(raster->privateFlags & rwRASTERPIXELLOCKEDWRITE)) {
        ok = RwRasterLock(raster, 0, rwRASTERLOCKWRITE | rwRASTERLOCKNOFETCH) != nullptr;
        lockedHere = ok;
    }
    if (ok && (raster->cFormat & (rwRASTERFORMATPALETTES >> 8)) &&
        !(raster->privateFlags & rwRASTERPALETTELOCKEDWRITE)) {
        ok = RwRasterLockPalette(raster, rwRASTERLOCKWRITE | rwRASTERLOCKNOFETCH) != nullptr;
        paletteHere = ok;
    }
    if (ok) {
        // The locked level's size may be smaller than the image's.
        if (image->width < raster->width || image->height < raster->height) {
            RwErrorRaise(0, E_RW_INVIMAGESIZE);
            ok = FALSE;
        } else if (raster->depth == 4 || raster->depth == 8) {
            ok = RasterFromImage8(raster, image);
        } else if (raster->depth == 16) {
            ok = PackImage(raster, image, RwD3D9PixelPackerForFormat(RwD3D9RasterGetExtension(top)->d3dFormat), 2);
        } else if (raster->depth == 24 || raster->depth == 32) {
            ok = RasterFromImage32(raster, image, RwD3D9RasterGetExtension(top)->d3dFormat);
        } else {
            // Wider formats have no packer: nothing would be written.
            RaiseDepth();
            ok = FALSE;
        }
    }
    UnlockTaken(raster, lockedHere, paletteHere);
    if (resampled)
        RwImageDestroy(resampled);
    return ok;
}

// ---------------------------------------------------------------------------
// Format choice

static RwBool DeepDisplay(void)
{
    return rwD3D9Driver.displayMode.depth > 16;
}

// 4444 when the device has it, else 1555.
static RwInt32 AlphaFallback(void)
{
    return RwD3D9CheckTextureFormat(D3DFMT_A4R4G4B4) ? rwRASTERFORMAT4444 : rwRASTERFORMAT1555;
}

static RwInt32 Best8888(void)
{
    return DeepDisplay() && RwD3D9CheckTextureFormat(D3DFMT_A8R8G8B8) ? rwRASTERFORMAT8888 : AlphaFallback();
}

static RwInt32 Best888(void)
{
    return DeepDisplay() && RwD3D9CheckTextureFormat(D3DFMT_X8R8G8B8) ? rwRASTERFORMAT888 : rwRASTERFORMAT565;
}

// Palettised images: 8888 with the palette bit when a used entry is translucent.
static RwInt32 FindPalettisedFormat(const RwImage *image, RwInt32 paletteBit)
{
    RwInt32 entries = 1 << image->depth;
    RwBool translucent = FALSE;
    for (RwInt32 i = 0; i < entries && !translucent; i++)
        translucent = image->palette[i].alpha < 255;
    if (!translucent)
        return rwRASTERFORMAT888 | paletteBit;
    for (RwInt32 y = 0; y < image->height; y++) {
        const RwUInt8 *row = image->cpPixels + static_cast<size_t>(y) * image->stride;
        for (RwInt32 x = 0; x < image->width; x++) {
            if (image->palette[row[x] & (entries - 1)].alpha < 255)
                return rwRASTERFORMAT8888 | paletteBit;
        }
    }
    return rwRASTERFORMAT888 | paletteBit;
}

RwInt32 RwD3D9ImageFindFormat(const RwImage *image)
{
    if (image->depth == 8)
        return FindPalettisedFormat(image, rwRASTERFORMATPAL8);
    if (image->depth == 4)
        return FindPalettisedFormat(image, rwRASTERFORMATPAL4);
    if (image->depth != 32)
        return Best888();   // no alpha the converters could read
    RwBool cutOut = FALSE;
    for (RwInt32 y = 0; y < image->height; y++) {
        for (RwInt32 x = 0; x < image->width; x++) {
            RwUInt8 a = ImagePixel(image, x, y).alpha;
            if (a >= 16 && a < 255)
                return Best8888();
            cutOut = cutOut || a < 16;
        }
    }
    if (!cutOut)
        return Best888();
    if (!DeepDisplay())
        return rwRASTERFORMAT1555;
    return RwD3D9CheckTextureFormat(D3DFMT_A8R8G8B8) ? rwRASTERFORMAT8888 : rwRASTERFORMAT1555;
}

static RwInt32 WithCode(RwInt32 word, RwInt32 code)
{
    return (word & ~rwRASTERFORMATPIXELFORMATMASK) | code;
}

static RwInt32 SupportedTextureFormat(RwInt32 word)
{
    const RwD3D9Driver &d = rwD3D9Driver;
    RwBool paletteAlpha = (d.caps.TextureCaps & D3DPTEXTURECAPS_ALPHAPALETTE) != 0;
    RwInt32 code = word & rwRASTERFORMATPIXELFORMATMASK;
    if (word & rwRASTERFORMATPAL4)
        word = (word & ~rwRASTERFORMATPAL4) | rwRASTERFORMATPAL8;
    if (word & rwRASTERFORMATPAL8) {
        if (RwD3D9CheckTextureFormat(D3DFMT_P8)) {
            if (code == 0)
                return WithCode(word, paletteAlpha ? rwRASTERFORMAT8888 : rwRASTERFORMAT888);
            if (code != rwRASTERFORMAT8888 || paletteAlpha)
                return word;
        }
        // Without device palettes the raster holds true colour.
        word &= ~rwRASTERFORMATPAL8;
        if (code == rwRASTERFORMAT888)
            return WithCode(word, Best888());
        if (code == rwRASTERFORMAT8888)
            return WithCode(word, Best8888());
    }
    switch (code) {
    case rwRASTERFORMATDEFAULT:
        if (RwD3D9CheckTextureFormat(D3DFMT_A8R8G8B8))
            return WithCode(word, rwRASTERFORMAT8888);
        return WithCode(word, AlphaFallback());
    case rwRASTERFORMAT8888:
        return RwD3D9CheckTextureFormat(D3DFMT_A8R8G8B8) ? word : WithCode(word, AlphaFallback());
    case rwRASTERFORMAT888:
        return RwD3D9CheckTextureFormat(D3DFMT_X8R8G8B8) ? word : WithCode(word, rwRASTERFORMAT565);
    case rwRASTERFORMAT4444:
        return RwD3D9CheckTextureFormat(D3DFMT_A4R4G4B4) ? word : WithCode(word, rwRASTERFORMAT1555);
    case rwRASTERFORMATLUM8:
        if (RwD3D9CheckTextureFormat(D3DFMT_L8))
            return word;
        return WithCode(word, RwD3D9CheckTextureFormat(D3DFMT_X8R8G8B8) ? rwRASTERFORMAT888 : rwRASTERFORMAT565);
    default:
        return word;
    }
}

static RwInt32 SupportedCameraTextureFormat(RwInt32 word)
{
    RwInt32 code = word & rwRASTERFORMATPIXELFORMATMASK;
    RwBool mode16 = rwD3D9Driver.displayMode.depth == 16;
    if (code == 0) {
        if (!mode16 && RwD3D9CheckRenderTargetFormat(D3DFMT_X8R8G8B8))
            return WithCode(word, rwRASTERFORMAT888);
        return WithCode(word, rwRASTERFORMAT565);
    }
    const RwD3D9CodeInfo *info = RwD3D9GetCodeInfo(code);
    RwInt32 depth = info ? info->depth : 0;
    if (mode16) {
        if (depth == 32) {
            if (code == rwRASTERFORMAT8888)
                word = WithCode(word, rwRASTERFORMAT4444);
            else if (code == rwRASTERFORMAT888)
                word = WithCode(word, rwRASTERFORMAT565);
            else
                word = rwRASTERFORMAT565;
        }
        code = word & rwRASTERFORMATPIXELFORMATMASK;
        if (code == rwRASTERFORMAT4444 && !RwD3D9CheckRenderTargetFormat(D3DFMT_A4R4G4B4))
            word = WithCode(word, code = rwRASTERFORMAT1555);
        if (code == rwRASTERFORMAT1555 && !RwD3D9CheckRenderTargetFormat(D3DFMT_A1R5G5B5))
            word = WithCode(word, rwRASTERFORMAT565);
        return word;
    }
    if (depth == 16) {
        if (code == rwRASTERFORMAT4444 || code == rwRASTERFORMAT1555)
            word = WithCode(word, rwRASTERFORMAT8888);
        else if (code == rwRASTERFORMAT565)
            word = WithCode(word, rwRASTERFORMAT888);
        else
            word = rwRASTERFORMAT888;
    }
    if ((word & rwRASTERFORMATPIXELFORMATMASK) == rwRASTERFORMAT8888 &&
        !RwD3D9CheckRenderTargetFormat(D3DFMT_A8R8G8B8))
        word = WithCode(word, rwRASTERFORMAT888);
    return word;
}

RwInt32 RwD3D9RasterFindSupportedFormat(RwInt32 type, RwInt32 word)
{
    const RwD3D9Driver &d = rwD3D9Driver;
    RwInt32 code = word & rwRASTERFORMATPIXELFORMATMASK;
    switch (type) {
    case rwRASTERTYPENORMAL:
    case rwRASTERTYPETEXTURE:
        return SupportedTextureFormat(word);
    case rwRASTERTYPEZBUFFER:
        if (code) {
            RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORUNSUPPORTED);
            return word;
        }
        return d.zBufferDepth == 16 ? rwRASTERFORMAT16 : d.zBufferDepth == 32 ? rwRASTERFORMAT32 : word;
    case rwRASTERTYPECAMERA:
        if (code) {
            RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORUNSUPPORTED);
            return word;
        }
        return word | RwD3D9GetPixelFormat(d.present.BackBufferFormat).rwFormat;
    case rwRASTERTYPECAMERATEXTURE:
        return SupportedCameraTextureFormat(word);
    default:
        RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORUNSUPPORTED);
        return word;
    }
}

void RwD3D9RasterSetFormatInfo(RwRaster *record, RwInt32 flags)
{
    record->cType = static_cast<RwUInt8>(flags & rwRASTERTYPEMASK);
    record->cFlags = static_cast<RwUInt8>(flags & 0xF8);
    RwInt32 format = RwD3D9RasterFindSupportedFormat(record->cType, flags);
    record->cFormat = static_cast<RwUInt8>(format >> 8);
    // A palettised raster holds one index byte a pixel whatever its colour code.
    const RwD3D9CodeInfo *info = RwD3D9GetCodeInfo(format);
    record->depth = (format & rwRASTERFORMATPALETTES) ? 8 : info ? info->depth : 0;
}

RwBool RwD3D9ImageFindRasterFormat(void *recordIn, void *imageIn, RwInt32 flags)
{
    RwRaster *record = static_cast<RwRaster *>(recordIn);
    const RwImage *image = static_cast<const RwImage *>(imageIn);
    if (record == nullptr || image == nullptr)
        return FALSE;
    record->width = image->width;
    record->height = image->height;
    record->depth = 0;
    RwInt32 type = flags & rwRASTERTYPEMASK;
    switch (type) {
    case rwRASTERTYPENORMAL:
        RwD3D9RasterAdjustSize(&record->width, &record->height, flags);
        // The image's choice of colour code and palette takes the place of
        // any requested one: two codes ORed together name a third format.
        RwD3D9RasterSetFormatInfo(record, RwD3D9ImageFindFormat(image) |
                                              (flags & ~(rwRASTERFORMATMIPBITS | rwRASTERFORMATPIXELFORMATMASK |
                                                         rwRASTERFORMATPALETTES)));
        return TRUE;
    case rwRASTERTYPEZBUFFER:
    case rwRASTERTYPECAMERA:
        RwD3D9RasterSetFormatInfo(record, flags);
        return TRUE;
    case rwRASTERTYPETEXTURE:
        RwD3D9RasterAdjustSize(&record->width, &record->height, flags);
        RwD3D9RasterSetFormatInfo(record, type | RwD3D9ImageFindFormat(image) | (flags & rwRASTERFORMATMIPBITS));
        return TRUE;
    case rwRASTERTYPECAMERATEXTURE:
        // A render target holds colours, never palette indices: a palettised
        // image gives the colour code of its palette alone.
        RwD3D9RasterAdjustSize(&record->width, &record->height, flags);
        RwD3D9RasterSetFormatInfo(record, type | (RwD3D9ImageFindFormat(image) & ~rwRASTERFORMATPALETTES) |
                                              (flags & rwRASTERFORMATMIPBITS));
        return TRUE;
    default:
        RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORUNSUPPORTED);
        return FALSE;
    }
}
