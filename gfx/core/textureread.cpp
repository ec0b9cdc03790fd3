// Default texture loader: image files on the image path, masks, fitting to the device, palettes.
#include <cstring>

#include "engine.h"
#include "image.h"
#include "palquant.h"
#include "raster.h"
#include "resample.h"
#include "rwstring.h"
#include "texturemodule.h"

enum : RwUInt32 { rwMEMHINT_TEXTUREFUNC = 0x10408 };

// Appends the extension under which the name exists on the image path; a
// name whose extension would not fit is refused rather than cut.
static RwBool AppendFileExtension(RwChar *buffer)
{
    const RwChar *extension = RwImageFindFileExtension(buffer);
    if (!extension)
        return TRUE;
    if (strlen(buffer) + strlen(extension) >= rwTEXTURELOADERNAMELENGTH) {
        RwTextureError(RwErrorMakeCode(E_RW_STRINGTOOLONG, buffer, rwTEXTURELOADERNAMELENGTH,
                                       rwTEXTURELOADERNAMELENGTH - 1));
        return FALSE;
    }
    strcat(buffer, extension);
    return TRUE;
}

static RwImage *NewImage(RwInt32 width, RwInt32 height, RwInt32 depth)
{
    RwImage *image = RwImageCreate(width, height, depth);
    if (image && !RwImageAllocatePixels(image)) {
        RwImageDestroy(image);
        return nullptr;
    }
    return image;
}

// A palettised image of the given depth whose colours come from a 32-bit
// image through a freshly resolved palette; NULL when the quantiser fails.
static RwImage *Quantise(const RwImage *wide, RwInt32 depth)
{
    RwPalQuant *pq = static_cast<RwPalQuant *>(RwMalloc(sizeof(RwPalQuant), rwMEMHINT_TEXTUREFUNC));
    if (!pq)
        return nullptr;
    RwImage *result = nullptr;
    if (RwPalQuantInit(pq)) {
        RwPalQuantAddImage(pq, wide, 1.0f);
        result = NewImage(wide->width, wide->height, depth);
        if (result) {
            RwPalQuantResolvePalette(result->palette, 1 << depth, pq);
            RwPalQuantMatchImage(result->cpPixels, result->stride, depth, FALSE, pq, wide);
            result->flags |= wide->flags & rwIMAGEGAMMACORRECTED;
        }
        RwPalQuantTerm(pq);
    }
    RwFree(pq);
    return result;
}

// The image resampled to width x height; palettised images come back
// palettised at their depth when the quantiser allows. The source is consumed.
static RwImage *FitImage(RwImage *image, RwInt32 width, RwInt32 height)
{
    const RwInt32 depthRead = image->depth;
    RwImage *wide = RwImageCreateResample(image, width, height);
    RwImageDestroy(image);
    if (!wide)
        return nullptr;
    if (depthRead != 4 && depthRead != 8)
        return wide;
    RwImage *narrow = Quantise(wide, depthRead);
    if (!narrow)
        return wide;
    RwImageDestroy(wide);
    return narrow;
}

RwImage *RwTextureReadImage(const RwChar *name, const RwChar *maskName, RwInt32 rasterFlags, RwInt32 *width,
                            RwInt32 *height, RwInt32 *depth, RwInt32 *format)
{
    if (!name || !width || !height || !depth || !format) {
        RwTextureError(E_RW_NULLP);
        return nullptr;
    }
    RwChar nameBuffer[rwTEXTURELOADERNAMELENGTH];
    RwChar maskBuffer[rwTEXTURELOADERNAMELENGTH];
    RwTextureCopyLoaderName(nameBuffer, name);
    RwTextureCopyLoaderName(maskBuffer, maskName);
    if (!AppendFileExtension(nameBuffer) || (maskBuffer[0] && !AppendFileExtension(maskBuffer)))
        return nullptr;
    RwImage *image = RwImageReadMasked(nameBuffer, maskBuffer);
    if (!image)
        return nullptr;
    if (*width == 0 || *height == 0) {
        if (!RwImageFindRasterFormat(image, rasterFlags, width, height, depth, format)) {
            RwImageDestroy(image);
            RwTextureError(E_RW_INVIMAGEFORMAT);
            return nullptr;
        }
    }
    if (image->width == *width && image->height == *height)
        return image;
    return FitImage(image, *width, *height);
}

RwBool RwTextureDefaultMipmapName(RwChar *name, RwChar *maskName, RwUInt8 mipLevel, RwInt32 format)
{
    static const RwChar digits[] = "0123456789abcdef";
    if (mipLevel < 1 || mipLevel >= rwTEXTUREMAXMIPLEVELS)
        return TRUE;
    const RwChar suffix[3] = {'m', digits[mipLevel], '\0'};
    // The loader's buffers hold rwTEXTURELOADERNAMELENGTH characters: a name
    // with no room for the suffix would name another level's file.
    const RwBool withMask = maskName && maskName[0];
    if (!name || strlen(name) + 2 >= rwTEXTURELOADERNAMELENGTH ||
        (withMask && strlen(maskName) + 2 >= rwTEXTURELOADERNAMELENGTH)) {
        RwTextureError(RwErrorMakeCode(E_RW_STRINGTOOLONG, name, rwTEXTURELOADERNAMELENGTH,
                                       rwTEXTURELOADERNAMELENGTH - 1));
        return FALSE;
    }
    strcat(name, suffix);
    if (withMask)
        strcat(maskName, suffix);
    return TRUE;
}

// Every image indexes one palette of the first image's depth, which fits the
// target depth. A palette holds 2^(its image's depth) entries: a 4-bit
// image's palette is compared over its 16 entries, never past them.
static RwBool SamePalettes(RwImage **images, RwInt32 count, RwInt32 depth)
{
    const RwImage *first = images[0];
    if ((first->depth != 4 && first->depth != 8) || first->depth > depth)
        return FALSE;
    const size_t bytes = sizeof(RwRGBA) << first->depth;
    for (RwInt32 i = 0; i < count; i++) {
        if (!images[i]->palette || images[i]->depth != first->depth)
            return FALSE;
        if (i > 0 && memcmp(images[i]->palette, first->palette, bytes) != 0)
            return FALSE;
    }
    return TRUE;
}

RwBool RwImagePalettizeSet(RwUInt8 *palette, RwImage *keep, RwImage **images, RwInt32 count, RwInt32 depth)
{
    if (!palette || !images || count <= 0 || (depth != 4 && depth != 8)) {
        RwTextureError(E_RW_NULLP);
        return FALSE;
    }
    RwRGBA *colours = reinterpret_cast<RwRGBA *>(palette);
    if (SamePalettes(images, count, depth)) {
        memcpy(colours, images[0]->palette, sizeof(RwRGBA) << images[0]->depth);
        return TRUE;
    }
    RwPalQuant *pq = static_cast<RwPalQuant *>(RwMalloc(sizeof(RwPalQuant), rwMEMHINT_TEXTUREFUNC));
    if (!pq) {
        RwTextureError(E_RW_NOMEM);
        return FALSE;
    }
    RwBool ok = RwPalQuantInit(pq);
    if (ok) {
        for (RwInt32 i = 0; i < count; i++)
            RwPalQuantAddImage(pq, images[i], 1.0f);
        RwPalQuantResolvePalette(colours, 1 << depth, pq);
        for (RwInt32 i = 0; ok && i < count; i++) {
            RwImage *old = images[i];
            RwImage *indexed = NewImage(old->width, old->height, depth);
            if (!indexed) {
                ok = FALSE;
                break;
            }
            RwPalQuantMatchImage(indexed->cpPixels, indexed->stride, depth, FALSE, pq, old);
            indexed->palette = colours;   // shared by every level; not the image's own
            indexed->flags |= old->flags & rwIMAGEGAMMACORRECTED;
            images[i] = indexed;
            if (old != keep)
                RwImageDestroy(old);
        }
        RwPalQuantTerm(pq);
    }
    RwFree(pq);
    return ok;
}

// Palette of a raster format, as an image depth: 8, 4, or 0 when not palettised.
static RwInt32 PaletteDepth(const RwRaster *raster)
{
    if (raster->cFormat & (rwRASTERFORMATPAL8 >> 8))
        return 8;
    if (raster->cFormat & (rwRASTERFORMATPAL4 >> 8))
        return 4;
    return 0;
}

RwTexture *RwTextureDefaultRead(const RwChar *name, const RwChar *maskName)
{
    RwTextureGlobals *g = RwTextureModuleGlobals();
    if (g->haveMipmaps)
        return RwTextureDefaultReadMipmapped(name, maskName);
    RwChar nameBuffer[rwTEXTURELOADERNAMELENGTH];
    RwChar maskBuffer[rwTEXTURELOADERNAMELENGTH];
    RwTextureCopyLoaderName(nameBuffer, name);
    RwTextureCopyLoaderName(maskBuffer, maskName);
    g->mipmapNameCallBack(nameBuffer, maskBuffer, 0, rwTEXTUREPLAINFLAGS);
    RwInt32 width = 0, height = 0, depth = 0, format = 0;
    RwImage *image = RwTextureReadImage(nameBuffer, maskBuffer, rwTEXTUREPLAINFLAGS, &width, &height, &depth, &format);
    if (!image)
        return nullptr;
    RwRaster *raster = RwRasterCreate(width, height, depth, format);
    if (!raster) {
        RwImageDestroy(image);
        return nullptr;
    }
    RwRGBA palette[256];
    const RwInt32 paletteDepth = PaletteDepth(raster);
    if (paletteDepth && !RwImagePalettizeSet(reinterpret_cast<RwUInt8 *>(palette), nullptr, &image, 1, paletteDepth)) {
        RwImageDestroy(image);
        RwRasterDestroy(raster);
        return nullptr;
    }
    RwImageGammaCorrect(image);
    const RwBool set = RwRasterSetFromImage(raster, image) != nullptr;
    RwImageDestroy(image);
    if (!set) {
        RwRasterDestroy(raster);
        return nullptr;
    }
    return RwTextureCreateNamed(raster, name, maskName);
}
