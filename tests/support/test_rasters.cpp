// Rasters in memory for the stand-in driver.
#include "test_rasters.h"

#include <cstring>

#include "gfx/core/image.h"
#include "gfx/core/memory.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "test_driver.h"

namespace {

enum : RwInt32 { maxLevels = 16, nativeNameBytes = 32 };
enum : RwUInt32 { hint = 0x30407 };

struct MemRaster {
    RwInt32 levels;
    RwInt32 width[maxLevels];
    RwInt32 height[maxLevels];
    RwInt32 stride[maxLevels];
    RwUInt8 *pixels[maxLevels];
    RwRGBA palette[256];
    RwInt32 locked;   // level, or -1
    RwInt32 lockMode;
};

struct Settings {
    RwInt32 maxSize = 0;
    RwBool palettes = TRUE;
    RwInt32 failAfter = -1;
} settings;
RwInt32 live = 0;   // survives a re-install

MemRaster *Mem(const RwRaster *raster)
{
    return reinterpret_cast<MemRaster *>(static_cast<uintptr_t>(raster->parent->deviceWord0));
}

RwInt32 BytesPerPixel(RwInt32 depth)
{
    return depth == 32 ? 4 : 1;
}

RwBool Create(void *, void *inOut, RwInt32 flags)
{
    RwRaster *raster = static_cast<RwRaster *>(inOut);
    raster->cType = static_cast<RwUInt8>(flags & rwRASTERTYPEMASK);
    raster->cFlags = static_cast<RwUInt8>(flags & 0xF8);
    if (flags & rwRASTERDONTALLOCATE)
        return TRUE;
    if (settings.failAfter == 0 || raster->width <= 0 || raster->height <= 0)
        return FALSE;
    if (settings.failAfter > 0)
        settings.failAfter--;
    RwInt32 format = flags & 0xFF00;
    if (format & rwRASTERFORMATPAL8)
        raster->depth = 8;
    else if (format & rwRASTERFORMATPAL4)
        raster->depth = 4;
    else
        raster->depth = 32;
    if (!(format & rwRASTERFORMATPIXELFORMATMASK))
        format |= rwRASTERFORMAT8888;
    raster->cFormat = static_cast<RwUInt8>(format >> 8);
    MemRaster *mem = static_cast<MemRaster *>(RwMalloc(sizeof(MemRaster), hint));
    if (!mem)
        return FALSE;
    memset(mem, 0, sizeof(*mem));
    mem->locked = -1;
    RwInt32 w = raster->width, h = raster->height;
    for (;;) {
        const RwInt32 i = mem->levels++;
        mem->width[i] = w;
        mem->height[i] = h;
        mem->stride[i] = RwRoundUp4(w * BytesPerPixel(raster->depth));
        mem->pixels[i] = static_cast<RwUInt8 *>(RwMalloc(static_cast<size_t>(mem->stride[i]) * h, hint));
        if (!mem->pixels[i]) {
            for (RwInt32 j = 0; j < i; j++)
                RwFree(mem->pixels[j]);
            RwFree(mem);
            return FALSE;
        }
        memset(mem->pixels[i], 0, static_cast<size_t>(mem->stride[i]) * h);
        if (!(format & rwRASTERFORMATMIPMAP) || (w == 1 && h == 1) || mem->levels == maxLevels)
            break;
        w = w > 1 ? w / 2 : 1;
        h = h > 1 ? h / 2 : 1;
    }
    raster->deviceWord0 = static_cast<RwUInt32>(reinterpret_cast<uintptr_t>(mem));
    live++;
    return TRUE;
}

RwBool Destroy(void *, void *inOut, RwInt32)
{
    RwRaster *raster = static_cast<RwRaster *>(inOut);
    MemRaster *mem = raster->parent == raster ? Mem(raster) : nullptr;
    if (!mem)
        return TRUE;
    for (RwInt32 i = 0; i < mem->levels; i++)
        RwFree(mem->pixels[i]);
    RwFree(mem);
    raster->deviceWord0 = 0;
    live--;
    return TRUE;
}

RwBool Lock(void *out, void *inOut, RwInt32 in)
{
    RwRaster *raster = static_cast<RwRaster *>(inOut);
    MemRaster *mem = Mem(raster);
    const RwInt32 level = in >> 8;
    if (!mem || mem->locked >= 0 || level >= mem->levels)
        return FALSE;
    mem->locked = level;
    mem->lockMode = in & 0xFF;
    raster->originalWidth = raster->width;
    raster->originalHeight = raster->height;
    raster->width = mem->width[level];
    raster->height = mem->height[level];
    raster->stride = mem->stride[level];
    raster->cpPixels = mem->pixels[level];
    *static_cast<RwUInt8 **>(out) = raster->cpPixels;
    return TRUE;
}

void GenerateIfAutomatic(RwRaster *raster, RwInt32 level, RwInt32 mode)
{
    if (level == 0 && (mode & rwRASTERLOCKWRITE) && (raster->cFormat & (rwRASTERFORMATAUTOMIPMAP >> 8)))
        RwTextureRasterGenerateMipmaps(raster, nullptr);
}

RwBool Unlock(void *, void *inOut, RwInt32)
{
    RwRaster *raster = static_cast<RwRaster *>(inOut);
    MemRaster *mem = Mem(raster);
    if (!mem || mem->locked < 0)
        return FALSE;
    const RwInt32 level = mem->locked;
    raster->width = raster->originalWidth;
    raster->height = raster->originalHeight;
    raster->cpPixels = nullptr;
    mem->locked = -1;
    GenerateIfAutomatic(raster, level, mem->lockMode);
    return TRUE;
}

RwBool LockPalette(void *out, void *inOut, RwInt32)
{
    MemRaster *mem = Mem(static_cast<RwRaster *>(inOut));
    if (!mem)
        return FALSE;
    *static_cast<RwUInt8 **>(out) = reinterpret_cast<RwUInt8 *>(mem->palette);
    return TRUE;
}

RwInt32 CurrentLevel(const MemRaster *mem)
{
    return mem->locked >= 0 ? mem->locked : 0;
}

// Image from raster: a 32-bit image gets colours, a palettised one indices and the palette.
RwBool GetImage(void *out, void *inOut, RwInt32)
{
    RwImage *image = static_cast<RwImage *>(out);
    RwRaster *raster = static_cast<RwRaster *>(inOut);
    MemRaster *mem = Mem(raster);
    const RwInt32 level = CurrentLevel(mem);
    if (image->width != mem->width[level] || image->height != mem->height[level] || !image->cpPixels)
        return FALSE;
    if (image->depth != 32 && (raster->depth == 32 || !image->palette))
        return FALSE;
    for (RwInt32 y = 0; y < image->height; y++) {
        RwUInt8 *dst = image->cpPixels + static_cast<size_t>(y) * image->stride;
        for (RwInt32 x = 0; x < image->width; x++) {
            if (image->depth == 32) {
                const RwRGBA c = RwTestRasterPixel(raster, level, x, y);
                memcpy(dst + 4 * x, &c, 4);
            } else {
                dst[x] = mem->pixels[level][static_cast<size_t>(y) * mem->stride[level] + x];
            }
        }
    }
    if (image->depth != 32)
        memcpy(image->palette, mem->palette, sizeof(RwRGBA) << image->depth);
    return TRUE;
}

RwBool SetImage(void *out, void *inOut, RwInt32)
{
    RwRaster *raster = static_cast<RwRaster *>(out);
    const RwImage *image = static_cast<const RwImage *>(inOut);
    MemRaster *mem = Mem(raster);
    const RwInt32 level = CurrentLevel(mem);
    if (image->width != mem->width[level] || image->height != mem->height[level])
        return FALSE;
    const RwBool indexed = raster->depth != 32;
    if (indexed && (image->depth == 32 || image->depth > raster->depth))
        return FALSE;
    for (RwInt32 y = 0; y < image->height; y++) {
        const RwUInt8 *src = image->cpPixels + static_cast<size_t>(y) * image->stride;
        RwUInt8 *dst = mem->pixels[level] + static_cast<size_t>(y) * mem->stride[level];
        for (RwInt32 x = 0; x < image->width; x++) {
            if (indexed)
                dst[x] = src[x];
            else if (image->depth == 32)
                memcpy(dst + 4 * x, src + 4 * x, 4);
            else
                memcpy(dst + 4 * x, &image->palette[src[x]], 4);
        }
    }
    if (indexed)
        memcpy(mem->palette, image->palette, sizeof(RwRGBA) << image->depth);
    if (mem->locked < 0)
        GenerateIfAutomatic(raster, 0, rwRASTERLOCKWRITE);
    return TRUE;
}

RwBool SetRaster(void *out, void *inOut, RwInt32)
{
    static_cast<RwTexture *>(out)->raster = static_cast<RwRaster *>(inOut);
    return TRUE;
}

RwBool FindFormat(void *out, void *inOut, RwInt32 flags)
{
    RwRaster *scratch = static_cast<RwRaster *>(out);
    const RwImage *image = static_cast<const RwImage *>(inOut);
    scratch->width = image->width;
    scratch->height = image->height;
    while (settings.maxSize > 0 && (scratch->width > settings.maxSize || scratch->height > settings.maxSize)) {
        scratch->width = scratch->width > 1 ? scratch->width / 2 : 1;
        scratch->height = scratch->height > 1 ? scratch->height / 2 : 1;
    }
    RwInt32 format = (flags & (rwRASTERFORMATMIPMAP | rwRASTERFORMATAUTOMIPMAP)) | rwRASTERFORMAT8888;
    scratch->depth = 32;
    if (settings.palettes && image->depth != 32) {
        format |= image->depth == 4 ? rwRASTERFORMATPAL4 : rwRASTERFORMATPAL8;
        scratch->depth = image->depth;
    }
    scratch->cType = static_cast<RwUInt8>(flags & rwRASTERTYPEMASK);
    scratch->cFormat = static_cast<RwUInt8>(format >> 8);
    return TRUE;
}

RwBool MipLevels(void *out, void *inOut, RwInt32)
{
    MemRaster *mem = Mem(static_cast<RwRaster *>(inOut));
    *static_cast<RwInt32 *>(out) = mem ? mem->levels : 1;
    return TRUE;
}

RwBool NativeSize(void *out, void *, RwInt32)
{
    *static_cast<RwInt32 *>(out) = rwCHUNKHEADERSIZE + nativeNameBytes;
    return TRUE;
}

RwBool NativeWrite(void *out, void *inOut, RwInt32)
{
    RwStream *stream = static_cast<RwStream *>(out);
    const RwTexture *texture = static_cast<const RwTexture *>(inOut);
    return RwStreamWriteChunkHeader(stream, rwID_STRUCT, nativeNameBytes) &&
           RwStreamWrite(stream, texture->name, nativeNameBytes);
}

RwBool NativeRead(void *out, void *inOut, RwInt32)
{
    RwStream *stream = static_cast<RwStream *>(out);
    RwChar name[nativeNameBytes + 1] = {};
    RwUInt32 length = 0;
    if (!RwStreamFindChunk(stream, rwID_STRUCT, &length, nullptr) || length != nativeNameBytes ||
        !RwStreamReadExact(stream, name, nativeNameBytes))
        return FALSE;
    RwTexture *texture = RwTextureCreate(nullptr);
    if (!texture)
        return FALSE;
    RwTextureSetName(texture, name);
    *static_cast<RwTexture **>(inOut) = texture;
    return TRUE;
}

}  // namespace

void RwTestRastersInstall(void)
{
    settings = Settings();
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERCREATE, Create);
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERDESTROY, Destroy);
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERLOCK, Lock);
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERUNLOCK, Unlock);
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERLOCKPALETTE, LockPalette);
    RwTestDriverSetStandardFunction(rwSTANDARDIMAGEGETRASTER, GetImage);
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERSETIMAGE, SetImage);
    RwTestDriverSetStandardFunction(rwSTANDARDTEXTURESETRASTER, SetRaster);
    RwTestDriverSetStandardFunction(rwSTANDARDIMAGEFINDRASTERFORMAT, FindFormat);
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERGETMIPLEVELS, MipLevels);
    RwTestDriverSetStandardFunction(rwSTANDARDNATIVETEXTUREGETSIZE, NativeSize);
    RwTestDriverSetStandardFunction(rwSTANDARDNATIVETEXTUREWRITE, NativeWrite);
    RwTestDriverSetStandardFunction(rwSTANDARDNATIVETEXTUREREAD, NativeRead);
}

void RwTestRastersSetMaxSize(RwInt32 maxSize)
{
    settings.maxSize = maxSize;
}

void RwTestRastersSetPalettes(RwBool allowed)
{
    settings.palettes = allowed;
}

void RwTestRastersFailCreate(RwInt32 after)
{
    settings.failAfter = after;
}

RwInt32 RwTestRastersLive(void)
{
    return live;
}

RwRGBA RwTestRasterPixel(const RwRaster *raster, RwInt32 level, RwInt32 x, RwInt32 y)
{
    const MemRaster *mem = Mem(raster);
    const RwUInt8 *p = mem->pixels[level] + static_cast<size_t>(y) * mem->stride[level];
    if (raster->depth != 32)
        return mem->palette[p[x]];
    RwRGBA c;
    memcpy(&c, p + 4 * x, 4);
    return c;
}

RwInt32 RwTestRasterLevels(const RwRaster *raster)
{
    return Mem(raster)->levels;
}
