// Platform-independent texture dictionaries: device-independent images per mip level in streams.
#include <cstring>

#include "byteorder.h"
#include "engine.h"
#include "image.h"
#include "pluginstream.h"
#include "raster.h"
#include "resample.h"
#include "stream.h"
#include "texturemodule.h"

enum : RwUInt32 {
    rwPIHEADERSIZE = 4,
    rwPILAYOUT0RECORDSIZE = 72,
    rwPIMAXTEXTURES = 0xFFFF,
    rwPIIMAGESTRUCTSIZE = 16,
};

static void PIError(RwUInt32 code)
{
    RwErrorRaise(rwID_PITEXDICTIONARYPLUGIN, code);
}

static RwInt32 PaletteDepth(const RwRaster *raster)
{
    if (raster->cFormat & (rwRASTERFORMATPAL4 >> 8))
        return 4;
    if (raster->cFormat & (rwRASTERFORMATPAL8 >> 8))
        return 8;
    return 0;
}

// Reading ---------------------------------------------------------------------------------------

static void DestroyImages(RwImage **images, RwInt32 count)
{
    for (RwInt32 i = 0; i < count; i++) {
        if (images[i])
            RwImageDestroy(images[i]);
        images[i] = nullptr;
    }
}

// A raster holding the level images, in the format the device prefers. The
// images are destroyed whatever happens.
static RwRaster *BuildRaster(RwImage **images, RwInt32 count, RwUInt8 filterMode)
{
    RwInt32 flags = rwTEXTUREMIPFLAGS;
    if (count == 1)
        flags = (filterMode == rwFILTERNEAREST || filterMode == rwFILTERLINEAR) ? rwTEXTUREPLAINFLAGS
                                                                                 : rwTEXTUREAUTOMIPFLAGS;
    RwInt32 width = images[0]->width, height = images[0]->height, depth = images[0]->depth, format = 0;
    RwRaster *raster = nullptr;
    if (RwImageFindRasterFormat(images[0], flags, &width, &height, &depth, &format))
        raster = RwRasterCreate(width, height, depth, format | flags);
    if (raster && (raster->width != images[0]->width || raster->height != images[0]->height)) {
        // Resampled levels are 32-bit: a palettised raster cannot take them.
        if (PaletteDepth(raster)) {
            RwRasterDestroy(raster);
            raster = RwRasterCreate(width, height, 32, rwRASTERFORMAT8888 | flags);
            if (!raster)
                raster = RwRasterCreate(width, height, 16, rwRASTERFORMAT1555 | flags);
        }
        RwInt32 levelWidth = width, levelHeight = height;
        for (RwInt32 i = 0; raster && i < count; i++) {
            RwImage *resampled = RwImageCreateResample(images[i], levelWidth, levelHeight);
            if (!resampled) {
                RwRasterDestroy(raster);
                raster = nullptr;
                break;
            }
            RwImageDestroy(images[i]);
            images[i] = resampled;
            levelWidth = levelWidth > 1 ? levelWidth / 2 : 1;
            levelHeight = levelHeight > 1 ? levelHeight / 2 : 1;
        }
    }
    if (!raster) {
        DestroyImages(images, count);
        return nullptr;
    }
    const RwInt32 levels = RwRasterGetNumLevels(raster);
    const RwInt32 fill = levels < count ? levels : count;
    const RwUInt8 savedFormat = raster->cFormat;
    if (count >= 2)
        raster->cFormat &= static_cast<RwUInt8>(~(rwRASTERFORMATAUTOMIPMAP >> 8));
    RwBool ok = fill > 0;
    for (RwInt32 i = 0; ok && i < fill; i++) {
        ok = RwRasterLock(raster, static_cast<RwUInt8>(i), rwRASTERLOCKWRITE) != nullptr;
        if (ok) {
            ok = RwRasterSetFromImage(raster, images[i]) != nullptr;
            RwRasterUnlock(raster);
        }
    }
    raster->cFormat = savedFormat;
    DestroyImages(images, count);
    if (!ok) {
        RwRasterDestroy(raster);
        return nullptr;
    }
    return raster;
}

// Level count of a stored texture: 1 to 16, else the dictionary is malformed.
static RwBool ReadLevelCount(RwUInt32 stored, RwInt32 *count)
{
    if (stored < 1 || stored > static_cast<RwUInt32>(rwTEXTUREMAXMIPLEVELS)) {
        PIError(RwErrorMakeCode(E_RW_INVRASTERMIPLEVEL, "Level count out of range"));
        return FALSE;
    }
    *count = static_cast<RwInt32>(stored);
    return TRUE;
}

// The level images of one texture, gamma-corrected when asked.
static RwBool ReadImages(RwStream *stream, RwImage **images, RwInt32 count, RwBool correct)
{
    for (RwInt32 i = 0; i < count; i++) {
        if (!RwStreamFindChunk(stream, rwID_IMAGE, nullptr, nullptr) || !(images[i] = RwImageStreamRead(stream))) {
            DestroyImages(images, i);
            return FALSE;
        }
        if (correct && !(images[i]->flags & rwIMAGEGAMMACORRECTED))
            RwImageGammaCorrect(images[i]);
    }
    return TRUE;
}

// Layout 0: a fixed record, then the images. FALSE only when the stream itself
// is unusable; a texture the device cannot take is left out.
static RwBool ReadLayout0Texture(RwStream *stream, RwTextureDictionary *dict)
{
    RwUInt8 record[rwPILAYOUT0RECORDSIZE];
    if (!RwStreamReadExact(stream, record, rwPILAYOUT0RECORDSIZE))
        return FALSE;
    RwInt32 count = 0;
    if (!ReadLevelCount(ReadU32(record + 64), &count))
        return FALSE;
    RwImage *images[rwTEXTUREMAXMIPLEVELS] = {};
    if (!ReadImages(stream, images, count, FALSE))
        return FALSE;
    const RwUInt32 flags = ReadU32(record + 68);
    RwUInt32 u = (flags >> 8) & 0x0F, v = (flags >> 12) & 0x0F;
    if (u == 0)
        u = v ? v : static_cast<RwUInt32>(rwTEXTUREADDRESSWRAP);
    if (v == 0)
        v = u;
    RwRaster *raster = BuildRaster(images, count, static_cast<RwUInt8>(flags & 0xFF));
    RwTexture *texture = raster ? RwTextureCreate(raster) : nullptr;
    if (!texture) {
        if (raster)
            RwRasterDestroy(raster);
        return TRUE;
    }
    RwChar name[rwTEXTUREBASENAMELENGTH + 1] = {};
    RwChar mask[rwTEXTUREBASENAMELENGTH + 1] = {};
    memcpy(name, record, rwTEXTUREBASENAMELENGTH);
    memcpy(mask, record + rwTEXTUREBASENAMELENGTH, rwTEXTUREBASENAMELENGTH);
    RwTextureSetName(texture, name);
    RwTextureSetMaskName(texture, mask);
    RwTextureSetStreamFlags(texture, (flags & 0xFF) | (u << 8) | (v << 12));
    RwTextureDictionaryAddTexture(dict, texture);
    return TRUE;
}

// Layout 1: level count, images, then a texture chunk with names and extension data.
static RwTexture *ReadLayout1Texture(RwStream *stream)
{
    RwUInt8 word[4];
    RwInt32 count = 0;
    if (!RwStreamReadExact(stream, word, 4) || !ReadLevelCount(ReadU32(word), &count))
        return nullptr;
    RwImage **images =
        static_cast<RwImage **>(RwMalloc(sizeof(RwImage *) * static_cast<size_t>(count), rwMEMHINT_PITEXDICTIONARYFUNC));
    if (!images) {
        PIError(E_RW_NOMEM);
        return nullptr;
    }
    RwTexture *texture = nullptr;
    RwUInt32 flags = 0;
    RwChar name[rwTEXTURESTREAMNAMELENGTH];
    RwChar mask[rwTEXTURESTREAMNAMELENGTH];
    if (ReadImages(stream, images, count, TRUE)) {
        if (RwStreamFindChunk(stream, rwID_TEXTURE, nullptr, nullptr) &&
            RwTextureStreamReadHeader(stream, &flags, name, mask))
            texture = RwTextureCreate(nullptr);
        if (texture) {
            RwTextureSetName(texture, name);
            RwTextureSetMaskName(texture, mask);
            RwTextureSetStreamFlags(texture, flags);
            RwRaster *raster = BuildRaster(images, count, texture->filterMode);
            if (!raster || !RwTextureSetRaster(texture, raster)) {
                if (raster)
                    RwRasterDestroy(raster);
                RwTextureDestroy(texture);
                texture = nullptr;
            }
        } else {
            DestroyImages(images, count);
        }
    }
    RwFree(images);
    if (texture && !RwPluginRegistryReadDataChunks(&rwTextureTKList, stream, texture)) {
        RwTextureDestroy(texture);
        texture = nullptr;
    }
    return texture;
}

RwTextureDictionary *RwPITextureDictionaryStreamRead(RwStream *stream)
{
    if (!stream) {
        PIError(E_RW_NULLP);
        return nullptr;
    }
    RwUInt8 header[rwPIHEADERSIZE];
    if (!RwStreamReadExact(stream, header, rwPIHEADERSIZE))
        return nullptr;
    const RwUInt32 count = ReadU16(header);
    const RwUInt32 layout = ReadU16(header + 2);
    if (layout > 1) {
        PIError(RwErrorMakeCode(E_RW_BADVERSION, "Unknown dictionary layout"));
        return nullptr;
    }
    // Every texture starts with at least a level count.
    if (!RwStreamCanHold(stream, count, 4)) {
        PIError(E_RW_READ);
        return nullptr;
    }
    RwTextureDictionary *dict = RwTextureDictionaryCreate();
    if (!dict)
        return nullptr;
    RwBool ok = TRUE;
    if (layout == 0) {
        for (RwUInt32 i = 0; ok && i < count; i++)
            ok = ReadLayout0Texture(stream, dict);
    } else {
        // Extension readers of the textures see the new dictionary as current.
        RwTextureDictionary *previous = RwTextureDictionaryGetCurrent();
        RwTextureDictionarySetCurrent(dict);
        for (RwUInt32 i = 0; ok && i < count; i++) {
            RwTexture *texture = ReadLayout1Texture(stream);
            ok = texture != nullptr;
            if (ok)
                RwTextureDictionaryAddTexture(dict, texture);
        }
        RwTextureDictionarySetCurrent(previous);
    }
    if (!ok) {
        RwTextureDictionaryDestroy(dict);
        return nullptr;
    }
    return dict;
}

// Writing ---------------------------------------------------------------------------------------

// Level count of a texture that can be written, or 0 (error recorded).
static RwInt32 WritableLevels(const RwTexture *texture)
{
    if (!texture->raster) {
        PIError(RwErrorMakeCode(E_RW_NULLP, "Texture without raster"));
        return 0;
    }
    const RwInt32 levels = RwRasterGetNumLevels(texture->raster);
    if (levels < 1 || levels > rwTEXTUREMAXMIPLEVELS) {
        PIError(RwErrorMakeCode(E_RW_INVRASTERMIPLEVEL, "Level count unavailable"));
        return 0;
    }
    return levels;
}

static RwInt32 ImageDepthOf(const RwRaster *raster)
{
    const RwInt32 depth = PaletteDepth(raster);
    return depth ? depth : 32;
}

// Bytes of one stored texture, or 0 when it cannot be written.
static RwUInt32 TextureSize(const RwTexture *texture)
{
    const RwInt32 levels = WritableLevels(texture);
    if (!levels)
        return 0;
    RwRaster *raster = texture->raster;
    const RwInt32 depth = ImageDepthOf(raster);
    RwUInt32 size = 4 + RwTextureStreamGetSize(texture) + rwCHUNKHEADERSIZE;
    for (RwInt32 i = 0; i < levels; i++) {
        if (!RwRasterLock(raster, static_cast<RwUInt8>(i), rwRASTERLOCKREAD)) {
            PIError(RwErrorMakeCode(E_RW_INVRASTERMIPLEVEL, "Level cannot be locked"));
            return 0;
        }
        const RwUInt32 stride = static_cast<RwUInt32>(RwRoundUp4(RwImageRowBytes(raster->width, depth)));
        size += rwCHUNKHEADERSIZE + rwCHUNKHEADERSIZE + rwPIIMAGESTRUCTSIZE + stride * raster->height +
                (depth <= 8 ? 4u << depth : 0u);
        RwRasterUnlock(raster);
    }
    return size;
}

// Texture count of a dictionary that can be written, or -1 (error recorded).
static RwInt32 WritableCount(const RwTextureDictionary *dict)
{
    RwInt32 count = 0;
    for (const RwLLLink *l = dict->texturesInDict.next; l != &dict->texturesInDict; l = l->next)
        count++;
    if (count > static_cast<RwInt32>(rwPIMAXTEXTURES)) {
        PIError(RwErrorMakeCode(E_RW_BADVERSION, "Too many textures in dictionary (> 65536)"));
        return -1;
    }
    return count;
}

RwUInt32 RwPITextureDictionaryStreamGetSize(const RwTextureDictionary *dict)
{
    if (!dict || WritableCount(dict) < 0)
        return 0;
    RwUInt32 size = rwPIHEADERSIZE;
    for (const RwLLLink *l = dict->texturesInDict.next; l != &dict->texturesInDict; l = l->next) {
        const RwUInt32 one = TextureSize(rwLLLinkGetData(const_cast<RwLLLink *>(l), RwTexture, lInDictionary));
        if (!one)
            return 0;
        size += one;
    }
    return size;
}

// The image of one level as it was before gamma correction.
static RwImage *LevelImage(RwRaster *raster, RwInt32 level)
{
    if (!RwRasterLock(raster, static_cast<RwUInt8>(level), rwRASTERLOCKREAD))
        return nullptr;
    RwImage *image = RwImageCreate(raster->width, raster->height, ImageDepthOf(raster));
    if (image && (!RwImageAllocatePixels(image) || !RwImageSetFromRaster(image, raster))) {
        RwImageDestroy(image);
        image = nullptr;
    }
    RwRasterUnlock(raster);
    if (!image || !(image->flags & rwIMAGEGAMMACORRECTED))
        return image;
    if (image->depth == 4 || image->depth == 8) {
        RwImageGammaUncorrectPixels(image->palette, image->palette, 1 << image->depth);
    } else if (image->depth == 32) {
        for (RwInt32 y = 0; y < image->height; y++) {
            RwRGBA *row = reinterpret_cast<RwRGBA *>(image->cpPixels + static_cast<size_t>(y) * image->stride);
            RwImageGammaUncorrectPixels(row, row, image->width);
        }
    } else {
        PIError(E_RW_INVIMAGEDEPTH);
        return image;
    }
    image->flags &= ~rwIMAGEGAMMACORRECTED;
    return image;
}

static RwBool WriteTexture(const RwTexture *texture, RwStream *stream)
{
    const RwInt32 levels = RwRasterGetNumLevels(texture->raster);
    RwUInt8 word[4];
    WriteU32(word, static_cast<RwUInt32>(levels));
    if (!RwStreamWrite(stream, word, 4))
        return FALSE;
    for (RwInt32 i = 0; i < levels; i++) {
        RwImage *image = LevelImage(texture->raster, i);
        const RwBool written = image && RwImageStreamWrite(image, stream);
        if (image)
            RwImageDestroy(image);
        if (!written)
            return FALSE;
    }
    return RwTextureStreamWrite(texture, stream) != nullptr;
}

const RwTextureDictionary *RwPITextureDictionaryStreamWrite(const RwTextureDictionary *dict, RwStream *stream)
{
    if (!dict || !stream) {
        PIError(E_RW_NULLP);
        return nullptr;
    }
    // Everything is checked before the first byte goes out, so a dictionary
    // that cannot be written leaves no partial chunk behind.
    const RwInt32 count = WritableCount(dict);
    const RwUInt32 size = count < 0 ? 0 : RwPITextureDictionaryStreamGetSize(dict);
    if (!size)
        return nullptr;
    RwUInt8 header[rwPIHEADERSIZE];
    WriteU32(header, static_cast<RwUInt32>(count) | (1u << 16));
    if (!RwStreamWriteChunkHeader(stream, rwID_PITEXDICTIONARY, size) ||
        !RwStreamWrite(stream, header, rwPIHEADERSIZE))
        return nullptr;
    for (const RwLLLink *l = dict->texturesInDict.next; l != &dict->texturesInDict; l = l->next)
        if (!WriteTexture(rwLLLinkGetData(const_cast<RwLLLink *>(l), RwTexture, lInDictionary), stream))
            return nullptr;
    return dict;
}
