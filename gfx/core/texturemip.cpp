// Mip-mapped textures: the loader that reads one file per level, and lower levels made from level 0.
#include <cstring>

#include "engine.h"
#include "image.h"
#include "raster.h"
#include "resample.h"
#include "texturemodule.h"

enum : RwInt32 { rwLOCKWRITENOFETCH = rwRASTERLOCKWRITE | rwRASTERLOCKNOFETCH };

static RwInt32 PaletteDepthOfFormat(RwUInt8 cFormat)
{
    if (cFormat & (rwRASTERFORMATPAL8 >> 8))
        return 8;
    if (cFormat & (rwRASTERFORMATPAL4 >> 8))
        return 4;
    return 0;
}

// Level count of a raster, clamped to the loader's level array; 0 when unknown.
static RwInt32 LevelsToFill(RwRaster *raster)
{
    const RwInt32 levels = RwRasterGetNumLevels(raster);
    if (levels <= 0)
        return 0;
    return levels < rwTEXTUREMAXMIPLEVELS ? levels : rwTEXTUREMAXMIPLEVELS;
}

static void DestroyImages(RwImage **images, RwInt32 count, const RwImage *keep)
{
    for (RwInt32 i = 0; i < count; i++) {
        if (images[i] && images[i] != keep)
            RwImageDestroy(images[i]);
        images[i] = nullptr;
    }
}

// Palettised rasters share one palette over all levels; its colours are
// corrected once. Other levels are corrected one by one, unless already done.
static RwBool PrepareLevels(RwRaster *raster, RwImage **images, RwInt32 count, const RwImage *keep, RwRGBA *palette)
{
    const RwInt32 paletteDepth = PaletteDepthOfFormat(raster->cFormat);
    if (paletteDepth) {
        if (!RwImagePalettizeSet(reinterpret_cast<RwUInt8 *>(palette), const_cast<RwImage *>(keep), images, count,
                                 paletteDepth))
            return FALSE;
        if (!(images[0]->flags & rwIMAGEGAMMACORRECTED))
            RwImageGammaCorrect(images[0]);
        return TRUE;
    }
    for (RwInt32 i = 0; i < count; i++)
        if (!(images[i]->flags & rwIMAGEGAMMACORRECTED))
            RwImageGammaCorrect(images[i]);
    return TRUE;
}

// Writes each level from its image; FALSE as soon as one is refused.
static RwBool WriteLevels(RwRaster *raster, RwImage **images, RwInt32 count)
{
    for (RwInt32 i = 0; i < count; i++) {
        if (!RwRasterLock(raster, static_cast<RwUInt8>(i), rwLOCKWRITENOFETCH))
            continue;
        const RwBool set = RwRasterSetFromImage(raster, images[i]) != nullptr;
        RwRasterUnlock(raster);
        if (!set)
            return FALSE;
    }
    return TRUE;
}

// Size and format of one level, learnt through a lock.
static RwBool LevelFormat(RwRaster *raster, RwInt32 level, RwInt32 lockMode, RwInt32 *width, RwInt32 *height,
                          RwInt32 *depth, RwInt32 *format)
{
    if (!RwRasterLock(raster, static_cast<RwUInt8>(level), lockMode))
        return FALSE;
    *width = raster->width;
    *height = raster->height;
    *depth = raster->depth;
    *format = (static_cast<RwInt32>(raster->cFormat) << 8) | raster->cType;
    RwRasterUnlock(raster);
    return TRUE;
}

RwTexture *RwTextureDefaultReadMipmapped(const RwChar *name, const RwChar *maskName)
{
    RwTextureGlobals *g = RwTextureModuleGlobals();
    const RwInt32 flags = g->generateMipmaps ? rwTEXTUREAUTOMIPFLAGS : rwTEXTUREMIPFLAGS;
    RwChar nameBuffer[rwTEXTURELOADERNAMELENGTH];
    RwChar maskBuffer[rwTEXTURELOADERNAMELENGTH];
    RwTextureCopyLoaderName(nameBuffer, name);
    RwTextureCopyLoaderName(maskBuffer, maskName);
    g->mipmapNameCallBack(nameBuffer, maskBuffer, 0, flags);
    RwInt32 width = 0, height = 0, depth = 0, format = 0;
    RwImage *images[rwTEXTUREMAXMIPLEVELS] = {};
    images[0] = RwTextureReadImage(nameBuffer, maskBuffer, flags, &width, &height, &depth, &format);
    if (!images[0])
        return nullptr;
    RwRaster *raster = RwRasterCreate(width, height, depth, format);
    if (!raster) {
        RwImageDestroy(images[0]);
        return nullptr;
    }
    RwInt32 count = 1;
    RwBool ok = TRUE;
    if (!(format & rwRASTERFORMATMIPMAP)) {
        RwImageGammaCorrect(images[0]);
        ok = RwRasterSetFromImage(raster, images[0]) != nullptr;
    } else if (format & rwRASTERFORMATAUTOMIPMAP) {
        // The device makes and corrects the lower levels when level 0 is unlocked.
        ok = RwRasterSetFromImage(raster, images[0]) != nullptr;
    } else {
        count = LevelsToFill(raster);
        ok = count > 0;
        for (RwInt32 i = 1; ok && i < count; i++) {
            RwTextureCopyLoaderName(nameBuffer, name);
            RwTextureCopyLoaderName(maskBuffer, maskName);
            RwInt32 w, h, d, f;
            ok = g->mipmapNameCallBack(nameBuffer, maskBuffer, static_cast<RwUInt8>(i), flags) &&
                 LevelFormat(raster, i, rwLOCKWRITENOFETCH, &w, &h, &d, &f);
            if (ok)
                images[i] = RwTextureReadImage(nameBuffer, maskBuffer, flags, &w, &h, &d, &f);
            ok = ok && images[i];
        }
        RwRGBA palette[256];
        ok = ok && PrepareLevels(raster, images, count, nullptr, palette) && WriteLevels(raster, images, count);
    }
    DestroyImages(images, rwTEXTUREMAXMIPLEVELS, nullptr);
    if (!ok) {
        RwRasterDestroy(raster);
        return nullptr;
    }
    return RwTextureCreateNamed(raster, name, maskName);
}

RwBool RwTextureDefaultGenerateMipmaps(RwRaster *raster, RwImage *image)
{
    if (!raster) {
        RwTextureError(E_RW_NULLP);
        return FALSE;
    }
    RwImage *images[rwTEXTUREMAXMIPLEVELS] = {};
    if (image && image->depth == 32) {
        images[0] = image;
    } else {
        RwImage *wide = RwImageCreate(raster->width, raster->height, 32);
        if (!wide || !RwImageAllocatePixels(wide) ||
            !(image ? RwImageCopy(wide, image) != nullptr : RwImageSetFromRaster(wide, raster) != nullptr)) {
            if (wide)
                RwImageDestroy(wide);
            return FALSE;
        }
        images[0] = wide;
    }
    // Writing the levels must not make the device generate them again.
    const RwUInt8 savedFormat = raster->cFormat;
    raster->cFormat &= static_cast<RwUInt8>(~(rwRASTERFORMATAUTOMIPMAP >> 8));
    const RwInt32 count = LevelsToFill(raster);
    RwBool ok = count > 0;
    for (RwInt32 i = 1; ok && i < count; i++) {
        RwInt32 w, h, d, f;
        ok = LevelFormat(raster, i, rwRASTERLOCKREAD, &w, &h, &d, &f);
        if (ok)
            images[i] = RwImageCreateResample(images[i - 1], w, h);
        ok = ok && images[i];
    }
    RwRGBA palette[256];
    ok = ok && PrepareLevels(raster, images, count, image, palette) && WriteLevels(raster, images, count);
    DestroyImages(images, rwTEXTUREMAXMIPLEVELS, image);
    raster->cFormat = savedFormat;
    return ok;
}
