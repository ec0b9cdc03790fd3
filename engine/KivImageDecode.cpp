// PNG decoding through FreeImage into images, rasters and textures of the graphics library.
#include "engine/KivImageDecode.h"

#include <FreeImage.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/CKivBase.h"
#include "engine/KivPngScreen.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/resample.h"
#include "gfx/core/texture.h"

namespace {

// A device short of memory for a moment gets a few more tries, never endless ones.
const int kCreateAttempts = 20;

// FreeImage keys a 1-, 2- or 4-bit grey file's transparent value as it stands
// in the file, but gives the pixels expanded to 8 bits: the key is expanded too
// (only where FreeImage keyed at all: it expands 2-bit grey without a key as well).
void KeyExpandedGrey(FIBITMAP *dib, int greyKey)
{
    if (greyKey < 0 || FreeImage_GetImageType(dib) != FIT_BITMAP || FreeImage_GetBPP(dib) != 8 ||
        FreeImage_GetTransparencyCount(dib) == 0)
        return;
    BYTE table[256];
    memset(table, 0xFF, sizeof(table));
    table[greyKey] = 0;
    FreeImage_SetTransparencyTable(dib, table, 256);
}

FIBITMAP *LoadPng(const void *bytes, DWORD size)
{
    KivPngScreened png;
    if (size == 0xFFFFFFFF || !KivPngScreen(bytes, size, &png))
        return nullptr;
    FIMEMORY *memory = FreeImage_OpenMemory(png.bytes, png.size);
    FIBITMAP *dib = memory ? FreeImage_LoadFromMemory(FIF_PNG, memory, 0) : nullptr;
    if (memory)
        FreeImage_CloseMemory(memory);
    if (dib)
        KeyExpandedGrey(dib, png.greyKey);
    KivPngScreenRelease(&png);
    return dib;
}

// Takes dib over; the 32-bit form or null. 16-bit grey has no direct 32-bit
// conversion: it goes through 8 bits.
FIBITMAP *To32Bits(FIBITMAP *dib)
{
    if (!dib || (FreeImage_GetImageType(dib) == FIT_BITMAP && FreeImage_GetBPP(dib) == 32))
        return dib;
    FIBITMAP *converted = nullptr;
    if (FreeImage_GetImageType(dib) == FIT_UINT16) {
        FIBITMAP *grey = FreeImage_ConvertTo8Bits(dib);
        if (grey) {
            converted = FreeImage_ConvertTo32Bits(grey);
            FreeImage_Unload(grey);
        }
    } else {
        converted = FreeImage_ConvertTo32Bits(dib);
    }
    FreeImage_Unload(dib);
    return converted;
}

// The bitmap's rows run bottom to top in blue, green, red, alpha; the image's
// top to bottom in red, green, blue, alpha.
void CopyBitmapRows(FIBITMAP *dib, RwImage *image)
{
    const int width = image->width, height = image->height;
    const unsigned pitch = FreeImage_GetPitch(dib);
    const BYTE *bits = FreeImage_GetBits(dib);
    for (int y = 0; y < height; y++) {
        const BYTE *src = bits + static_cast<size_t>(y) * pitch;
        RwUInt8 *dst = image->cpPixels + static_cast<size_t>(height - 1 - y) * image->stride;
        for (int x = 0; x < width; x++, src += 4, dst += 4) {
            dst[0] = src[FI_RGBA_RED];
            dst[1] = src[FI_RGBA_GREEN];
            dst[2] = src[FI_RGBA_BLUE];
            dst[3] = src[FI_RGBA_ALPHA];
        }
    }
}

RwImage *ImageFromBitmap(FIBITMAP *dib)
{
    const int width = static_cast<int>(FreeImage_GetWidth(dib));
    const int height = static_cast<int>(FreeImage_GetHeight(dib));
    RwImage *image = FreeImage_GetBits(dib) && width > 0 && height > 0 ? RwImageCreate(width, height, 32) : nullptr;
    if (!image)
        return nullptr;
    if (!RwImageAllocatePixels(image)) {
        RwImageDestroy(image);
        return nullptr;
    }
    CopyBitmapRows(dib, image);
    return image;
}

// A 32-bit image on pixels of the caller's own (malloc), made without the
// library's free lists, so that no lock is needed; null pixels when memory ran out.
RwImage PlainImage(int width, int height)
{
    RwImage image = {0, width, height, 32, width * 4, nullptr, nullptr};
    image.cpPixels = static_cast<RwUInt8 *>(malloc(static_cast<size_t>(width) * 4 * static_cast<size_t>(height)));
    return image;
}

// A picture's size by the engine's scale for the mode, never below 1x1.
void ScaledSize(unsigned width, unsigned height, int mode, int *scaledWidth, int *scaledHeight)
{
    const CKivBase *base = CKivBase::GetInstance();
    const float scale = !base ? 1.0f : mode == 1 ? base->GetImageScale() : base->GetTextureScale();
    *scaledWidth = static_cast<int>(static_cast<float>(width) * scale);
    *scaledHeight = static_cast<int>(static_cast<float>(height) * scale);
    if (*scaledWidth == 0)
        *scaledWidth = 1;
    if (*scaledHeight == 0)
        *scaledHeight = 1;
}

void ScaledSize(FIBITMAP *dib, int mode, int *scaledWidth, int *scaledHeight)
{
    ScaledSize(FreeImage_GetWidth(dib), FreeImage_GetHeight(dib), mode, scaledWidth, scaledHeight);
}

RwRaster *CreateTextureRaster(int width, int height)
{
    RwRaster *raster = nullptr;
    for (int i = 0; i < kCreateAttempts && !raster; i++) {
        raster = RwRasterCreate(width, height, 32, rwRASTERTYPETEXTURE);
        if (!raster)
            Sleep(1);
    }
    return raster;
}

// Keyed pixels become opaque key colour in the bitmap itself, so neither
// raster fill has to know the key.
void ApplyKey(FIBITMAP *dib, const ColourKey *key)
{
    if (!key || !key->enable)
        return;
    const unsigned width = FreeImage_GetWidth(dib), height = FreeImage_GetHeight(dib);
    for (unsigned y = 0; y < height; y++) {
        BYTE *pixel = FreeImage_GetScanLine(dib, static_cast<int>(y));
        for (unsigned x = 0; x < width; x++, pixel += 4) {
            if (pixel[FI_RGBA_ALPHA] == 0) {
                pixel[FI_RGBA_RED] = key->red;
                pixel[FI_RGBA_GREEN] = key->green;
                pixel[FI_RGBA_BLUE] = key->blue;
                pixel[FI_RGBA_ALPHA] = 255;
            }
        }
    }
}

// The raster's pixels when it is a plain 8888 one (blue, green, red, alpha
// in memory, as the bitmap lies); null for any other kind.
RwUInt8 *Lock8888(RwRaster *raster)
{
    const RwInt32 kind = RwRasterGetFormat(raster) & (rwRASTERFORMATPIXELFORMATMASK | rwRASTERFORMATPAL8 |
                                                      rwRASTERFORMATPAL4 | rwRASTERFORMATMIPMAP);
    return kind == rwRASTERFORMAT8888 ? RwRasterLock(raster, 0, rwRASTERLOCKWRITE | rwRASTERLOCKNOFETCH) : nullptr;
}

// The bitmap's rows copied straight in, bottom row last.
bool FillFromBitmap(RwRaster *raster, FIBITMAP *dib)
{
    RwUInt8 *pixels = Lock8888(raster);
    if (!pixels)
        return false;
    const int width = raster->width, height = raster->height;
    for (int y = 0; y < height; y++)
        memcpy(pixels + static_cast<size_t>(height - 1 - y) * raster->stride, FreeImage_GetScanLine(dib, y),
               static_cast<size_t>(width) * 4);
    RwRasterUnlock(raster);
    return true;
}

// The image's red, green, blue, alpha rows, top first, in the raster's order.
bool FillFromImage(RwRaster *raster, const RwImage *image)
{
    RwUInt8 *pixels = Lock8888(raster);
    if (!pixels)
        return false;
    for (int y = 0; y < image->height; y++) {
        const RwUInt8 *src = image->cpPixels + static_cast<size_t>(y) * image->stride;
        RwUInt8 *dst = pixels + static_cast<size_t>(y) * raster->stride;
        for (int x = 0; x < image->width; x++, src += 4, dst += 4) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            dst[3] = src[3];
        }
    }
    RwRasterUnlock(raster);
    return true;
}

} // namespace

struct KivPngPixels {
    FIBITMAP *dib;      // 32 bits, key applied; null once reduced
    int width;          // the raster's scaled size
    int height;
    int sourceWidth;    // the picture's own size
    int sourceHeight;
    RwImage reduced;    // the picture at the scaled size (malloc'd pixels), once made
};

KivPngPixels *DecodePngPixels(const void *bytes, DWORD size, int mode, const ColourKey *key)
{
    FIBITMAP *dib = To32Bits(LoadPng(bytes, size));
    KivPngPixels *pixels = dib ? new (std::nothrow) KivPngPixels{dib, 0, 0, 0, 0, {}} : nullptr;
    if (!pixels) {
        if (dib)
            FreeImage_Unload(dib);
        return nullptr;
    }
    ApplyKey(dib, key);
    pixels->sourceWidth = static_cast<int>(FreeImage_GetWidth(dib));
    pixels->sourceHeight = static_cast<int>(FreeImage_GetHeight(dib));
    ScaledSize(dib, mode, &pixels->width, &pixels->height);
    return pixels;
}

// The same box filter a fill under the lock would run, on memory of our own.
int ReducePngPixels(KivPngPixels *pixels)
{
    if (!pixels || !pixels->dib)
        return pixels != nullptr;
    if (pixels->width == pixels->sourceWidth && pixels->height == pixels->sourceHeight)
        return 1;
    RwImage source = PlainImage(pixels->sourceWidth, pixels->sourceHeight);
    RwImage reduced = PlainImage(pixels->width, pixels->height);
    int made = 0;
    if (source.cpPixels && reduced.cpPixels && FreeImage_GetBits(pixels->dib)) {
        CopyBitmapRows(pixels->dib, &source);
        made = RwImageResample(&reduced, &source) != nullptr;
    }
    free(source.cpPixels);
    if (!made) {
        free(reduced.cpPixels);
        return 0;
    }
    pixels->reduced = reduced;
    FreeImage_Unload(pixels->dib);
    pixels->dib = nullptr;
    return 1;
}

int PngPixelsFit(const KivPngPixels *pixels, int mode)
{
    if (!pixels)
        return 0;
    int width, height;
    ScaledSize(static_cast<unsigned>(pixels->sourceWidth), static_cast<unsigned>(pixels->sourceHeight), mode, &width,
               &height);
    return width == pixels->width && height == pixels->height;
}

RwRaster *CreatePngRaster(const KivPngPixels *pixels)
{
    return pixels ? CreateTextureRaster(pixels->width, pixels->height) : nullptr;
}

int CopyPngPixels(RwRaster *raster, const KivPngPixels *pixels)
{
    if (!raster || !pixels || raster->width != pixels->width || raster->height != pixels->height)
        return 0;
    if (!pixels->dib)
        return FillFromImage(raster, &pixels->reduced);
    return pixels->width == static_cast<int>(FreeImage_GetWidth(pixels->dib)) &&
           pixels->height == static_cast<int>(FreeImage_GetHeight(pixels->dib)) && FillFromBitmap(raster, pixels->dib);
}

// One smaller than the picture is filled from a resampled image of it.
int FillPngRaster(RwRaster *raster, const KivPngPixels *pixels)
{
    if (!raster || !pixels)
        return 0;
    if (!pixels->dib)
        return RwRasterSetFromImage(raster, const_cast<RwImage *>(&pixels->reduced)) ? 1 : 0;
    RwImage *image = ImageFromBitmap(pixels->dib);
    const bool fullSize = image && image->width == pixels->width && image->height == pixels->height;
    RwImage *source = image && !fullSize ? RwImageCreateResample(image, pixels->width, pixels->height) : image;
    const bool filled = source && RwRasterSetFromImage(raster, source);
    if (source && source != image)
        RwImageDestroy(source);
    if (image)
        RwImageDestroy(image);
    return filled ? 1 : 0;
}

RwRaster *RasterFromPngPixels(const KivPngPixels *pixels)
{
    RwRaster *raster = CreatePngRaster(pixels);
    if (raster && !CopyPngPixels(raster, pixels) && !FillPngRaster(raster, pixels)) {
        RwRasterDestroy(raster);
        raster = nullptr;
    }
    return raster;
}

size_t PngPixelBytes(const KivPngPixels *pixels)
{
    if (!pixels)
        return 0;
    if (!pixels->dib)
        return static_cast<size_t>(pixels->reduced.stride) * static_cast<size_t>(pixels->reduced.height);
    return static_cast<size_t>(FreeImage_GetPitch(pixels->dib)) * FreeImage_GetHeight(pixels->dib);
}

void FreePngPixels(KivPngPixels *pixels)
{
    if (!pixels)
        return;
    if (pixels->dib)
        FreeImage_Unload(pixels->dib);
    free(pixels->reduced.cpPixels);
    delete pixels;
}

int DecodePngRaster(RwRaster **out, const char *, const void *bytes, DWORD size, int mode, const ColourKey *key)
{
    KivPngPixels *pixels = DecodePngPixels(bytes, size, mode, key);
    *out = RasterFromPngPixels(pixels);
    FreePngPixels(pixels);
    return *out ? 1 : 0;
}

int DecodePngTexture(RwTexture **out, const char *name, const void *bytes, DWORD size, int mode,
                     const ColourKey *key)
{
    *out = nullptr;
    RwRaster *raster;
    if (!DecodePngRaster(&raster, name, bytes, size, mode, key))
        return 0;
    return TextureFromPngRaster(out, name, raster);
}

int TextureFromPngRaster(RwTexture **out, const char *name, RwRaster *raster)
{
    *out = nullptr;
    if (!raster)
        return 0;
    RwTexture *texture = nullptr;
    for (int i = 0; i < kCreateAttempts && !texture; i++) {
        texture = RwTextureCreate(raster);
        if (!texture)
            Sleep(1);
    }
    if (!texture) {
        RwRasterDestroy(raster);
        return 0;
    }
    texture->filterMode = static_cast<RwUInt8>(CKivBase::GetTextureReadMode() & 0xFF);
    RwTextureSetName(texture, name ? name : "");
    if (RwTextureDictionary *dict = RwTextureDictionaryGetCurrent())
        RwTextureDictionaryAddTexture(dict, texture);
    *out = texture;
    return 1;
}

int DecodePngTextureNoKey(RwTexture **out, const char *name, const void *bytes, DWORD size, int mode)
{
    return DecodePngTexture(out, name, bytes, size, mode, nullptr);
}

int DecodePngImage(RwImage **out, const char *, const void *bytes, DWORD size, int mode)
{
    *out = nullptr;
    FIBITMAP *dib = To32Bits(LoadPng(bytes, size));
    if (!dib)
        return 0;
    int width, height;
    ScaledSize(dib, mode, &width, &height);
    RwImage *image = ImageFromBitmap(dib);
    FreeImage_Unload(dib);
    // The library's resampler reports a failed allocation; FreeImage's does not.
    if (image && (width != image->width || height != image->height)) {
        RwImage *scaled = RwImageCreateResample(image, width, height);
        RwImageDestroy(image);
        image = scaled;
    }
    *out = image;
    return *out ? 1 : 0;
}
