// Material effects: the bump texture of a material and the bumped texture built from it (colour plus height as alpha).
#include <cstring>

#include "gfx/core/error.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/resample.h"
#include "gfx/core/texture.h"
#include "gfx/world/material.h"
#include "matfxint.h"

enum : RwInt32 {
    rwMATFXBUMPEDNAMELIMIT = 30,    // characters written before the name stops growing
};

void RwMatFxBumpedTextureName(RwChar *out, const RwChar *baseName, const RwChar *bumpName)
{
    RwInt32 n = 0;
    const RwChar *a = baseName, *b = bumpName;
    while ((*a || *b) && n < rwMATFXBUMPEDNAMELIMIT) {
        if (*a) {
            out[n++] = *a++;
        }
        if (*b) {
            out[n++] = *b++;
        }
    }
    out[n] = '\0';
}

// A 32-bit image of a raster's pixels, or NULL.
static RwImage *ImageOfRaster(RwRaster *raster)
{
    RwImage *image = RwImageCreate(raster->width, raster->height, 32);
    if (image && RwImageAllocatePixels(image) && RwImageSetFromRaster(image, raster)) {
        return image;
    }
    if (image) {
        RwImageDestroy(image);
    }
    return nullptr;
}

static RwImage *WhiteImage(RwInt32 width, RwInt32 height)
{
    RwImage *image = RwImageCreate(width, height, 32);
    if (!image || !RwImageAllocatePixels(image)) {
        if (image) {
            RwImageDestroy(image);
        }
        return nullptr;
    }
    for (RwInt32 y = 0; y < height; ++y) {
        std::memset(image->cpPixels + y * image->stride, 0xFF, static_cast<size_t>(width) * 4);
    }
    return image;
}

// The base image with the bump image's brightness as alpha; both are
// destroyed.
static RwImage *Combine(RwImage *base, RwImage *bump)
{
    if (bump->width != base->width || bump->height != base->height) {
        RwImage *fitted = RwImageCreate(base->width, base->height, 32);
        if (!fitted || !RwImageAllocatePixels(fitted) || !RwImageResample(fitted, bump)) {
            if (fitted) {
                RwImageDestroy(fitted);
            }
            RwImageDestroy(bump);
            RwImageDestroy(base);
            return nullptr;
        }
        RwImageDestroy(bump);
        bump = fitted;
    }
    RwImageMakeMask(bump);
    RwImageApplyMask(base, bump);
    RwImageDestroy(bump);
    return base;
}

static RwTexture *TextureOfImage(RwImage *image, const RwTexture *source)
{
    RwInt32 width, height, depth, format;
    if (!RwImageFindRasterFormat(image, rwRASTERTYPETEXTURE, &width, &height, &depth, &format)) {
        return nullptr;
    }
    if (source->raster->cFormat & (rwRASTERFORMATMIPMAP >> 8)) {
        format |= rwRASTERFORMATMIPMAP | rwRASTERFORMATAUTOMIPMAP;
    }
    RwRaster *raster = RwRasterCreate(width, height, depth, format);
    if (!raster) {
        return nullptr;
    }
    RwTexture *texture = RwRasterSetFromImage(raster, image) ? RwTextureCreate(raster) : nullptr;
    if (!texture) {
        RwRasterDestroy(raster);
        return nullptr;
    }
    texture->filterMode = source->filterMode;
    const RwUInt8 u = RwTextureGetAddressingU(source), v = RwTextureGetAddressingV(source);
    texture->addressing = u == v ? source->addressing : 0;
    return texture;
}

RwTexture *RwMatFxCreateBumpedTexture(RwTexture *base, RwTexture *bump)
{
    if (!bump || !bump->raster || (base && !base->raster) || RwMatFxRasterIsCompressed(bump->raster) ||
        (base && RwMatFxRasterIsCompressed(base->raster))) {
        return nullptr;
    }
    RwImage *bumpImage = ImageOfRaster(bump->raster);
    if (!bumpImage) {
        return nullptr;
    }
    RwImage *baseImage = base ? ImageOfRaster(base->raster) : WhiteImage(bumpImage->width, bumpImage->height);
    if (!baseImage) {
        RwImageDestroy(bumpImage);
        return nullptr;
    }
    RwImage *combined = Combine(baseImage, bumpImage);
    if (!combined) {
        return nullptr;
    }
    const RwTexture *source = base ? base : bump;
    RwTexture *texture = TextureOfImage(combined, source);
    RwImageDestroy(combined);
    if (texture) {
        RwChar name[rwTEXTUREBASENAMELENGTH];
        RwMatFxBumpedTextureName(name, base ? base->name : bump->name, bump->name);
        RwTextureSetName(texture, name);
    }
    return texture;
}

RwReal RwMatFxInverseWidth(const RwTexture *texture)
{
    return texture && texture->raster && texture->raster->width > 0 ? 1.0f / texture->raster->width : 0.0f;
}

RwMaterial *RwMatFxMaterialSetBumpTexture(RwMaterial *material, RwTexture *bumpTexture)
{
    RwMatFxEffectSlot *slot = RwMatFxMaterialGetEffectSlot(material, rwMATFXKINDBUMPMAP);
    if (!slot) {
        return nullptr;
    }
    RwMatFxBumpMapData &b = slot->data.bumpMap;
    RwMatFxReplaceTexture(&b.bumpTexture, nullptr);
    RwMatFxReplaceTexture(&b.bumpedTexture, nullptr);
    b.invBumpWidth = 0.0f;
    RwTexture *base = material->texture;
    if (!bumpTexture) {
        b.invBumpWidth = RwMatFxInverseWidth(base);
        return material;
    }
    RwMatFxReplaceTexture(&b.bumpTexture, bumpTexture);
    // A raster of width 0 (or none) would give an infinite inverse width.
    if (RwMatFxInverseWidth(bumpTexture) == 0.0f || (base && RwMatFxInverseWidth(base) == 0.0f)) {
        return material;
    }
    RwChar name[rwTEXTUREBASENAMELENGTH];
    RwMatFxBumpedTextureName(name, base ? base->name : bumpTexture->name, bumpTexture->name);
    RwTextureDictionary *dict = RwTextureDictionaryGetCurrent();
    RwTexture *bumped = dict ? RwTextureDictionaryFindTexture(dict, name) : nullptr;
    if (bumped) {
        RwTextureAddRef(bumped);
    } else {
        bumped = RwMatFxCreateBumpedTexture(base, bumpTexture);
        if (!bumped) {
            return material;
        }
        if (dict) {
            RwTextureDictionaryAddTexture(dict, bumped);
        }
    }
    b.bumpedTexture = bumped;
    b.invBumpWidth = RwMatFxInverseWidth(bumped);
    return material;
}
