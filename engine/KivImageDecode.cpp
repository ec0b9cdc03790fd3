// PNG decoding through FreeImage into images, rasters and textures of the graphics library.
#include "engine/KivImageDecode.h"

#include <FreeImage.h>

#include "engine/CKivBase.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/resample.h"
#include "gfx/core/texture.h"

namespace {

// A device short of memory for a moment gets a few more tries, never endless ones.
const int kCreateAttempts = 20;

FIBITMAP *LoadPng(const void *bytes, DWORD size)
{
    if (!bytes || size == 0 || size == 0xFFFFFFFF)
        return nullptr;
    FIMEMORY *memory = FreeImage_OpenMemory(static_cast<BYTE *>(const_cast<void *>(bytes)), size);
    if (!memory)
        return nullptr;
    FIBITMAP *dib = FreeImage_LoadFromMemory(FIF_PNG, memory, 0);
    FreeImage_CloseMemory(memory);
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
RwImage *ImageFromBitmap(FIBITMAP *dib, const ColourKey *key)
{
    const int width = static_cast<int>(FreeImage_GetWidth(dib));
    const int height = static_cast<int>(FreeImage_GetHeight(dib));
    const unsigned pitch = FreeImage_GetPitch(dib);
    const BYTE *bits = FreeImage_GetBits(dib);
    RwImage *image = bits && width > 0 && height > 0 ? RwImageCreate(width, height, 32) : nullptr;
    if (!image)
        return nullptr;
    if (!RwImageAllocatePixels(image)) {
        RwImageDestroy(image);
        return nullptr;
    }
    const bool keyed = key && key->enable;
    for (int y = 0; y < height; y++) {
        const BYTE *src = bits + static_cast<size_t>(y) * pitch;
        RwUInt8 *dst = image->cpPixels + static_cast<size_t>(height - 1 - y) * image->stride;
        for (int x = 0; x < width; x++, src += 4, dst += 4) {
            if (keyed && src[FI_RGBA_ALPHA] == 0) {
                dst[0] = key->red;
                dst[1] = key->green;
                dst[2] = key->blue;
                dst[3] = 255;
            } else {
                dst[0] = src[FI_RGBA_RED];
                dst[1] = src[FI_RGBA_GREEN];
                dst[2] = src[FI_RGBA_BLUE];
                dst[3] = src[FI_RGBA_ALPHA];
            }
        }
    }
    return image;
}

void ScaledSize(int width, int height, int mode, int *scaledWidth, int *scaledHeight)
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

RwImage *DecodeImage(const void *bytes, DWORD size, const ColourKey *key)
{
    FIBITMAP *dib = To32Bits(LoadPng(bytes, size));
    if (!dib)
        return nullptr;
    RwImage *image = ImageFromBitmap(dib, key);
    FreeImage_Unload(dib);
    return image;
}

// A texture raster of the scaled size filled from the image; a smaller
// raster is filled from a resampled copy.
RwRaster *RasterFromImage(RwImage *image, int width, int height)
{
    RwImage *source = image;
    if (width != image->width || height != image->height) {
        source = RwImageCreateResample(image, width, height);
        if (!source)
            return nullptr;
    }
    RwRaster *raster = nullptr;
    for (int i = 0; i < kCreateAttempts && !raster; i++) {
        raster = RwRasterCreate(width, height, 32, rwRASTERTYPETEXTURE);
        if (!raster)
            Sleep(1);
    }
    if (raster && !RwRasterSetFromImage(raster, source)) {
        RwRasterDestroy(raster);
        raster = nullptr;
    }
    if (source != image)
        RwImageDestroy(source);
    return raster;
}

} // namespace

int DecodePngRaster(RwRaster **out, const char *, const void *bytes, DWORD size, int mode, const ColourKey *key)
{
    *out = nullptr;
    RwImage *image = DecodeImage(bytes, size, key);
    if (!image)
        return 0;
    int width, height;
    ScaledSize(image->width, image->height, mode, &width, &height);
    *out = RasterFromImage(image, width, height);
    RwImageDestroy(image);
    return *out ? 1 : 0;
}

int DecodePngTexture(RwTexture **out, const char *name, const void *bytes, DWORD size, int mode,
                     const ColourKey *key)
{
    *out = nullptr;
    RwRaster *raster;
    if (!DecodePngRaster(&raster, name, bytes, size, mode, key))
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
    FIBITMAP *dib = LoadPng(bytes, size);
    if (!dib)
        return 0;
    int width, height;
    ScaledSize(static_cast<int>(FreeImage_GetWidth(dib)), static_cast<int>(FreeImage_GetHeight(dib)), mode,
               &width, &height);
    if (width != static_cast<int>(FreeImage_GetWidth(dib)) || height != static_cast<int>(FreeImage_GetHeight(dib))) {
        FIBITMAP *scaled = FreeImage_Rescale(dib, width, height, FILTER_BILINEAR);
        FreeImage_Unload(dib);
        dib = scaled;
    }
    dib = To32Bits(dib);
    if (!dib)
        return 0;
    *out = ImageFromBitmap(dib, nullptr);
    FreeImage_Unload(dib);
    return *out ? 1 : 0;
}
