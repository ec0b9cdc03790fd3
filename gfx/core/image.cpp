// Images: device-independent pixel blocks, gamma, masks, the search path and image file formats.
#include "image.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "byteorder.h"
#include "engine.h"
#include "filesys.h"
#include "modules.h"
#include "raster.h"
#include "stream.h"

namespace {

struct RwImageGlobals {
    RwFreeList *imageFreeList;
    RwChar *imagePath;
    RwInt32 imagePathSize;
    RwUInt8 gammaTable[256];
    RwUInt8 invGammaTable[256];
    RwReal gammaVal;
    RwChar *scratchMem;
    RwInt32 scratchMemSize;
    RwFreeList *imageFormatFreeList;
    RwImageFormat *imageFormatList;
};
static_assert(sizeof(RwImageGlobals) == 544, "image module globals are 544 bytes");

// Largest pixel block an image may ask for; anything larger is a corrupt size.
const int64_t rwIMAGEMAXBYTES = 0x7FFFFFF0;

// Free-list block sizes.
const RwInt32 rwIMAGEPERBLOCK = 128;
const RwInt32 rwIMAGEFORMATPERBLOCK = 128;
const RwInt32 rwIMAGEINITIALBUFFER = 256;

}  // namespace

static RwInt32 imageModuleOffset = -1;
static RwInt32 imageModuleOpenCount = 0;
static RwPluginRegistry imageTKList = rwPLUGINREGISTRY_INIT(sizeof(RwImage));

static RwImageGlobals *ImageGlobals()
{
    return RwEngineModuleGlobals<RwImageGlobals>(imageModuleOffset);
}

static void RaiseError(RwUInt32 code)
{
    RwErrorRaise(rwID_IMAGEMODULE, code);
}

static RwInt32 PaletteEntries(RwInt32 depth)
{
    return (depth == 4 || depth == 8) ? (1 << depth) : 0;
}

// A 4-bit image keeps one index per byte; only the low nibble is a valid index.
static RwUInt32 IndexMask(RwInt32 depth)
{
    return depth == 4 ? 0x0Fu : 0xFFu;
}

RwInt32 RwImageRowBytes(RwInt32 width, RwInt32 depth)
{
    return ((depth + 7) >> 3) * width;
}

RwInt32 RwImageRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                              RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB)
{
    return RwPluginRegistryAddPlugin(&imageTKList, size, pluginID, constructCB, destructCB, copyCB);
}

RwInt32 RwImageGetPluginOffset(RwUInt32 pluginID)
{
    return RwPluginRegistryGetPluginOffset(&imageTKList, pluginID);
}

RwImage *RwImageCreate(RwInt32 width, RwInt32 height, RwInt32 depth)
{
    RwImage *image = static_cast<RwImage *>(RwFreeListAlloc(ImageGlobals()->imageFreeList, rwMEMHINT_IMAGE));
    if (!image) {
        RaiseError(E_RW_NOMEM);
        return nullptr;
    }
    image->flags = 0;
    image->width = width;
    image->height = height;
    image->depth = depth;
    image->stride = 0;
    image->cpPixels = nullptr;
    image->palette = nullptr;
    if (!RwPluginRegistryInitObject(&imageTKList, image)) {
        RwFreeListFree(ImageGlobals()->imageFreeList, image);
        return nullptr;
    }
    return image;
}

RwBool RwImageDestroy(RwImage *image)
{
    if (!image) {
        RaiseError(E_RW_NULLP);
        return FALSE;
    }
    RwImageFreePixels(image);
    RwPluginRegistryDeInitObject(&imageTKList, image);
    RwFreeListFree(ImageGlobals()->imageFreeList, image);
    return TRUE;
}

RwImage *RwImageAllocatePixels(RwImage *image)
{
    if (!image) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    if (image->depth <= 0 || image->depth > 32) {
        RaiseError(E_RW_INVIMAGEDEPTH);
        return nullptr;
    }
    // Sizes come from files too: refuse what cannot be held instead of wrapping around.
    const int64_t rowBytes = static_cast<int64_t>((image->depth + 7) >> 3) * image->width;
    const int64_t stride = (rowBytes + 3) & ~static_cast<int64_t>(3);
    const int64_t paletteBytes = static_cast<int64_t>(PaletteEntries(image->depth)) * 4;
    if (image->width <= 0 || image->height <= 0 || stride * image->height + paletteBytes > rwIMAGEMAXBYTES) {
        RaiseError(E_RW_INVIMAGESIZE);
        return nullptr;
    }
    const size_t pixelBytes = static_cast<size_t>(stride * image->height);
    RwUInt8 *block = static_cast<RwUInt8 *>(RwMalloc(pixelBytes + static_cast<size_t>(paletteBytes), rwMEMHINT_IMAGE));
    if (!block) {
        RaiseError(E_RW_NOMEM);
        return nullptr;
    }
    RwImageFreePixels(image);
    image->stride = static_cast<RwInt32>(stride);
    image->cpPixels = block;
    image->palette = paletteBytes ? reinterpret_cast<RwRGBA *>(block + pixelBytes) : nullptr;
    image->flags |= rwIMAGEALLOCATED;
    return image;
}

RwImage *RwImageFreePixels(RwImage *image)
{
    if (!image) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    // Pixels that the caller pointed the image at (a raster, a shared palette) are not ours.
    if (image->flags & rwIMAGEALLOCATED)
        RwFree(image->cpPixels);
    image->cpPixels = nullptr;
    image->palette = nullptr;
    image->flags &= ~rwIMAGEALLOCATED;
    return image;
}

// Expands palettised rows into RGBA through the source palette.
static void ExpandThroughPalette(RwImage *dest, const RwImage *source)
{
    const RwUInt32 mask = IndexMask(source->depth);
    for (RwInt32 y = 0; y < dest->height; y++) {
        const RwUInt8 *src = source->cpPixels + static_cast<size_t>(y) * source->stride;
        RwRGBA *dst = reinterpret_cast<RwRGBA *>(dest->cpPixels + static_cast<size_t>(y) * dest->stride);
        for (RwInt32 x = 0; x < dest->width; x++)
            dst[x] = source->palette[src[x] & mask];
    }
}

RwImage *RwImageCopy(RwImage *destImage, const RwImage *sourceImage)
{
    if (!destImage || !sourceImage || !destImage->cpPixels || !sourceImage->cpPixels) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    // The destination's size is copied, so the source must cover it.
    if (sourceImage->width < destImage->width || sourceImage->height < destImage->height) {
        RaiseError(E_RW_INVIMAGESIZE);
        return nullptr;
    }
    const RwInt32 sd = sourceImage->depth;
    const RwInt32 dd = destImage->depth;
    if (sd == dd) {
        const RwInt32 entries = PaletteEntries(sd);
        if (entries && destImage->palette && sourceImage->palette)
            memcpy(destImage->palette, sourceImage->palette, static_cast<size_t>(entries) * sizeof(RwRGBA));
        const size_t rowBytes = static_cast<size_t>(RwImageRowBytes(destImage->width, dd));
        for (RwInt32 y = 0; y < destImage->height; y++)
            memmove(destImage->cpPixels + static_cast<size_t>(y) * destImage->stride,
                    sourceImage->cpPixels + static_cast<size_t>(y) * sourceImage->stride, rowBytes);
    } else if (sd == 4 && dd == 8) {
        for (RwInt32 y = 0; y < destImage->height; y++) {
            const RwUInt8 *src = sourceImage->cpPixels + static_cast<size_t>(y) * sourceImage->stride;
            RwUInt8 *dst = destImage->cpPixels + static_cast<size_t>(y) * destImage->stride;
            for (RwInt32 x = 0; x < destImage->width; x++)
                dst[x] = src[x] & 0x0F;
        }
    } else if ((sd == 4 || sd == 8) && dd == 32) {
        if (!sourceImage->palette) {
            RaiseError(E_RW_NULLP);
            return nullptr;
        }
        ExpandThroughPalette(destImage, sourceImage);
    } else {
        RaiseError(E_RW_INVIMAGEFORMAT);
        return nullptr;
    }
    destImage->flags = (destImage->flags & ~rwIMAGEGAMMACORRECTED) | (sourceImage->flags & rwIMAGEGAMMACORRECTED);
    return destImage;
}

// Gamma -------------------------------------------------------------------------------------------

static RwUInt8 GammaEntry(RwInt32 i, RwReal exponent)
{
    const RwReal x = static_cast<RwReal>(i) * 0.003921569f;
    const RwReal v = static_cast<RwReal>(pow(static_cast<double>(x), static_cast<double>(exponent))) * 255.0f + 0.5f;
    if (v <= 0.0f)
        return 0;
    if (v >= 255.0f)
        return 255;
    return static_cast<RwUInt8>(static_cast<RwInt32>(v));
}

RwBool RwImageSetGamma(RwReal gammaValue)
{
    RwImageGlobals *g = ImageGlobals();
    g->gammaVal = gammaValue;
    g->gammaTable[0] = 0;
    g->invGammaTable[0] = 0;
    for (RwInt32 i = 1; i < 256; i++) {
        g->gammaTable[i] = GammaEntry(i, 1.0f / gammaValue);
        g->invGammaTable[i] = GammaEntry(i, gammaValue);
    }
    return TRUE;
}

RwReal RwImageGetGamma(void)
{
    return ImageGlobals()->gammaVal;
}

const RwUInt8 *RwImageGetGammaTable(void)
{
    return ImageGlobals()->gammaTable;
}

const RwUInt8 *RwImageGetInvGammaTable(void)
{
    return ImageGlobals()->invGammaTable;
}

RwImage *RwImageGammaCorrect(RwImage *image)
{
    if (!image) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    const RwUInt8 *table = ImageGlobals()->gammaTable;
    if (image->depth == 4 || image->depth == 8) {
        if (!image->palette) {
            RaiseError(E_RW_NULLP);
            return nullptr;
        }
        const RwInt32 entries = PaletteEntries(image->depth);
        for (RwInt32 i = 0; i < entries; i++) {
            RwRGBA &c = image->palette[i];
            c.red = table[c.red];
            c.green = table[c.green];
            c.blue = table[c.blue];
        }
    } else if (image->depth == 32) {
        if (!image->cpPixels) {
            RaiseError(E_RW_NULLP);
            return nullptr;
        }
        for (RwInt32 y = 0; y < image->height; y++) {
            RwRGBA *row = reinterpret_cast<RwRGBA *>(image->cpPixels + static_cast<size_t>(y) * image->stride);
            for (RwInt32 x = 0; x < image->width; x++) {
                row[x].red = table[row[x].red];
                row[x].green = table[row[x].green];
                row[x].blue = table[row[x].blue];
            }
        }
    } else {
        RaiseError(E_RW_INVIMAGEDEPTH);
        return nullptr;
    }
    image->flags |= rwIMAGEGAMMACORRECTED;
    return image;
}

void RwImageGammaUncorrectPixels(RwRGBA *destPixels, const RwRGBA *sourcePixels, RwInt32 numPixels)
{
    const RwUInt8 *table = ImageGlobals()->invGammaTable;
    for (RwInt32 i = 0; i < numPixels; i++) {
        const RwRGBA c = sourcePixels[i];
        destPixels[i].red = table[c.red];
        destPixels[i].green = table[c.green];
        destPixels[i].blue = table[c.blue];
        destPixels[i].alpha = c.alpha;
    }
}

// Masks -------------------------------------------------------------------------------------------

static void MakeAlphaFromColour(RwRGBA &c)
{
    RwUInt8 m = c.red > c.green ? c.red : c.green;
    if (c.blue > m)
        m = c.blue;
    c.alpha = m;
}

RwImage *RwImageMakeMask(RwImage *image)
{
    if (!image) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    if ((image->depth == 4 || image->depth == 8) && image->palette) {
        const RwInt32 entries = PaletteEntries(image->depth);
        for (RwInt32 i = 0; i < entries; i++)
            MakeAlphaFromColour(image->palette[i]);
    } else if (image->depth == 32 && image->cpPixels) {
        for (RwInt32 y = 0; y < image->height; y++) {
            RwRGBA *row = reinterpret_cast<RwRGBA *>(image->cpPixels + static_cast<size_t>(y) * image->stride);
            for (RwInt32 x = 0; x < image->width; x++)
                MakeAlphaFromColour(row[x]);
        }
    }
    return image;
}

// Turns a palettised image into a 32-bit one in place. The new pixels are made before the old
// ones are let go, so a failure leaves the image as it was.
static RwImage *ConvertTo32(RwImage *image)
{
    RwImage *wide = RwImageCreate(image->width, image->height, 32);
    if (!wide)
        return nullptr;
    if (!RwImageAllocatePixels(wide) || !RwImageCopy(wide, image)) {
        RwImageDestroy(wide);
        return nullptr;
    }
    RwImageFreePixels(image);
    image->depth = 32;
    image->stride = wide->stride;
    image->cpPixels = wide->cpPixels;
    image->palette = nullptr;
    image->flags |= rwIMAGEALLOCATED;
    wide->cpPixels = nullptr;
    wide->flags &= ~rwIMAGEALLOCATED;
    RwImageDestroy(wide);
    return image;
}

RwImage *RwImageApplyMask(RwImage *image, const RwImage *mask)
{
    if (!image || !mask || !image->cpPixels || !mask->cpPixels) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    if (image->width != mask->width || image->height != mask->height) {
        RaiseError(E_RW_INVIMAGESIZE);
        return nullptr;
    }
    const RwBool maskPalettised = mask->depth == 4 || mask->depth == 8;
    if ((!maskPalettised && mask->depth != 32) || (maskPalettised && !mask->palette)) {
        RaiseError(maskPalettised ? static_cast<RwUInt32>(E_RW_NULLP) : static_cast<RwUInt32>(E_RW_INVIMAGEFORMAT));
        return nullptr;
    }
    if (image->depth == 4 || image->depth == 8) {
        if (!ConvertTo32(image))
            return nullptr;
    } else if (image->depth != 32) {
        RaiseError(E_RW_INVIMAGEFORMAT);
        return nullptr;
    }
    // An image used as its own mask has just become 32-bit: look at the mask as it is now.
    const RwBool fromPalette = mask->depth == 4 || mask->depth == 8;
    const RwUInt32 indexMask = IndexMask(mask->depth);
    for (RwInt32 y = 0; y < image->height; y++) {
        RwRGBA *dst = reinterpret_cast<RwRGBA *>(image->cpPixels + static_cast<size_t>(y) * image->stride);
        const RwUInt8 *src = mask->cpPixels + static_cast<size_t>(y) * mask->stride;
        for (RwInt32 x = 0; x < image->width; x++) {
            if (fromPalette)
                dst[x].alpha = mask->palette[src[x] & indexMask].alpha;
            else
                dst[x].alpha = src[x * 4 + 3];
        }
    }
    return image;
}

// Search path and formats -------------------------------------------------------------------------

// Makes the scratch buffer hold at least size bytes.
static RwChar *GrowScratch(RwInt32 size)
{
    RwImageGlobals *g = ImageGlobals();
    if (size > g->scratchMemSize) {
        RwChar *mem = static_cast<RwChar *>(RwRealloc(g->scratchMem, static_cast<size_t>(size), rwMEMHINT_IMAGESCRATCH));
        if (!mem) {
            RaiseError(E_RW_NOMEM);
            return nullptr;
        }
        g->scratchMem = mem;
        g->scratchMemSize = size;
    }
    return g->scratchMem;
}

const RwChar *RwImageSetPath(const RwChar *path)
{
    if (!path) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    RwImageGlobals *g = ImageGlobals();
    const RwInt32 size = static_cast<RwInt32>(strlen(path)) + 1;
    if (size > g->imagePathSize) {
        RwChar *mem = static_cast<RwChar *>(RwRealloc(g->imagePath, static_cast<size_t>(size), rwMEMHINT_IMAGEPATH));
        if (!mem) {
            RaiseError(E_RW_NOMEM);
            return nullptr;
        }
        g->imagePath = mem;
        g->imagePathSize = size;
    }
    // The caller may hand back (part of) the buffer itself, so the copy may overlap.
    memmove(g->imagePath, path, static_cast<size_t>(size));
    return path;
}

RwChar *RwImageGetPath(void)
{
    return ImageGlobals()->imagePath;
}

static RwBool IsAbsolutePath(const RwChar *name)
{
    if (name[0] == '\\')
        return TRUE;
    const RwChar c = name[0];
    return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && name[1] == ':';
}

const RwChar *RwImagePathSearch(const RwChar *name, RwInt32 extraLength, RwImagePathSearchCallBack callBack,
                                void *data)
{
    const RwChar *path = ImageGlobals()->imagePath;
    const RwInt32 nameLength = static_cast<RwInt32>(strlen(name));
    if (IsAbsolutePath(name) || path[0] == '\0') {
        RwChar *candidate = GrowScratch(nameLength + extraLength + 1);
        if (!candidate)
            return nullptr;
        memcpy(candidate, name, static_cast<size_t>(nameLength) + 1);
        callBack(candidate, data);
        return name;
    }
    const RwChar *element = path;
    for (;;) {
        const RwChar *end = strchr(element, ';');
        const RwInt32 elementLength = end ? static_cast<RwInt32>(end - element) : static_cast<RwInt32>(strlen(element));
        RwChar *candidate = GrowScratch(elementLength + nameLength + extraLength + 1);
        if (!candidate)
            return nullptr;
        // The buffer may have moved, and the path lives elsewhere, so copy from the path itself.
        memcpy(candidate, element, static_cast<size_t>(elementLength));
        memcpy(candidate + elementLength, name, static_cast<size_t>(nameLength) + 1);
        if (!callBack(candidate, data))
            return name;
        if (!end)
            return name;
        element = end + 1;
    }
}

RwBool RwImageRegisterFormat(const RwChar *extension, RwImageCallBackRead imageRead,
                             RwImageCallBackWrite imageWrite)
{
    if (!extension) {
        RaiseError(E_RW_NULLP);
        return FALSE;
    }
    RwImageGlobals *g = ImageGlobals();
    RwChar lower[rwIMAGEFORMATEXTLEN];
    RwChar upper[rwIMAGEFORMATEXTLEN];
    lower[0] = upper[0] = '.';
    RwInt32 n = 0;
    for (; n < rwIMAGEFORMATMAXEXT && extension[n]; n++) {
        const RwChar c = extension[n];
        lower[n + 1] = (c >= 'A' && c <= 'Z') ? static_cast<RwChar>(c - 'A' + 'a') : c;
        upper[n + 1] = (c >= 'a' && c <= 'z') ? static_cast<RwChar>(c - 'a' + 'A') : c;
    }
    lower[n + 1] = upper[n + 1] = '\0';

    for (RwImageFormat *f = g->imageFormatList; f; f = f->nextFormat) {
        if (strcmp(f->lCaseExtension, lower) == 0) {
            if (imageRead)
                f->imageRead = imageRead;
            if (imageWrite)
                f->imageWrite = imageWrite;
            return TRUE;
        }
    }
    RwImageFormat *f = static_cast<RwImageFormat *>(RwFreeListAlloc(g->imageFormatFreeList, rwMEMHINT_IMAGEFORMAT));
    if (!f)
        return FALSE;
    memcpy(f->lCaseExtension, lower, sizeof(lower));
    memcpy(f->uCaseExtension, upper, sizeof(upper));
    f->imageRead = imageRead;
    f->imageWrite = imageWrite;
    f->nextFormat = g->imageFormatList;
    g->imageFormatList = f;
    return TRUE;
}

RwImageFormat *RwImageGetFormatList(void)
{
    return ImageGlobals()->imageFormatList;
}

static RwImageFormat *FindFormat(const RwChar *extension)
{
    for (RwImageFormat *f = ImageGlobals()->imageFormatList; f; f = f->nextFormat)
        if (strcmp(f->lCaseExtension, extension) == 0 || strcmp(f->uCaseExtension, extension) == 0)
            return f;
    return nullptr;
}

// The extension of the base name (text from its last "."), or NULL.
static const RwChar *BaseNameExtension(const RwChar *name)
{
    const RwChar *base = name;
    for (const RwChar sep : {':', '/', '\\'}) {
        const RwChar *s = strrchr(base, sep);
        if (s)
            base = s + 1;
    }
    return strrchr(base, '.');
}

namespace {
struct ReadSearch {
    RwImageCallBackRead read;
    RwImage *image;
};
struct ExtensionSearch {
    const RwChar *found;
};
}  // namespace

static const RwChar *ReadCandidate(RwChar *candidate, void *data)
{
    ReadSearch *search = static_cast<ReadSearch *>(data);
    if (RwFexist(candidate)) {
        search->image = search->read(candidate);
        if (search->image)
            return nullptr;
    }
    return candidate;
}

RwImage *RwImageRead(const RwChar *imageName)
{
    if (!imageName)
        return nullptr;
    const RwChar *extension = BaseNameExtension(imageName);
    if (!extension)
        return nullptr;
    RwImageFormat *format = FindFormat(extension);
    if (!format || !format->imageRead)
        return nullptr;
    ReadSearch search = {format->imageRead, nullptr};
    RwImagePathSearch(imageName, 5, ReadCandidate, &search);
    return search.image;
}

RwImage *RwImageWrite(RwImage *image, const RwChar *imageName)
{
    if (!image || !imageName)
        return nullptr;
    const RwChar *extension = strrchr(imageName, '.');
    if (!extension)
        return nullptr;
    for (RwImageFormat *f = ImageGlobals()->imageFormatList; f; f = f->nextFormat) {
        if ((strcmp(f->lCaseExtension, extension) == 0 || strcmp(f->uCaseExtension, extension) == 0) &&
            f->imageWrite)
            return f->imageWrite(image, imageName);
    }
    return nullptr;
}

RwImage *RwImageReadMasked(const RwChar *imageName, const RwChar *maskName)
{
    RwImage *image = RwImageRead(imageName);
    if (!image)
        return nullptr;
    if (!maskName || maskName[0] == '\0')
        return image;
    RwImage *mask = RwImageRead(maskName);
    if (!mask) {
        RwImageDestroy(image);
        return nullptr;
    }
    const RwBool ok = RwImageMakeMask(mask) && RwImageApplyMask(image, mask);
    RwImageDestroy(mask);
    if (!ok) {
        RwImageDestroy(image);
        return nullptr;
    }
    return image;
}

static const RwChar *ExtensionCandidate(RwChar *candidate, void *data)
{
    ExtensionSearch *search = static_cast<ExtensionSearch *>(data);
    const size_t length = strlen(candidate);
    for (RwImageFormat *f = ImageGlobals()->imageFormatList; f; f = f->nextFormat) {
        for (const RwChar *ext : {static_cast<const RwChar *>(f->lCaseExtension),
                                  static_cast<const RwChar *>(f->uCaseExtension)}) {
            strcpy(candidate + length, ext);
            const RwBool exists = RwFexist(candidate);
            candidate[length] = '\0';
            if (exists) {
                search->found = ext;
                return nullptr;
            }
        }
    }
    return candidate;
}

const RwChar *RwImageFindFileExtension(const RwChar *imageName)
{
    if (!imageName)
        return nullptr;
    ExtensionSearch search = {nullptr};
    RwImagePathSearch(imageName, rwIMAGEFORMATEXTLEN, ExtensionCandidate, &search);
    return search.found;
}

// Raster glue -------------------------------------------------------------------------------------

RwImage *RwImageSetFromRaster(RwImage *image, RwRaster *raster)
{
    if (!image || !raster) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    if (!RwStandardFunction(rwSTANDARDIMAGEGETRASTER, image, raster, 0))
        return nullptr;
    if (raster->privateFlags & rwRASTERGAMMACORRECTED)
        image->flags |= rwIMAGEGAMMACORRECTED;
    return image;
}

RwRaster *RwRasterSetFromImage(RwRaster *raster, RwImage *image)
{
    if (!image || !raster) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    if (!RwStandardFunction(rwSTANDARDRASTERSETIMAGE, raster, image, 0))
        return nullptr;
    if (image->flags & rwIMAGEGAMMACORRECTED)
        raster->privateFlags |= rwRASTERGAMMACORRECTED;
    return raster;
}

RwImage *RwImageFindRasterFormat(RwImage *image, RwInt32 rasterType, RwInt32 *width, RwInt32 *height,
                                 RwInt32 *depth, RwInt32 *format)
{
    if (!image || !width || !height || !depth || !format) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    RwRaster scratch;
    memset(&scratch, 0, sizeof(scratch));
    scratch.parent = &scratch;
    if (!RwStandardFunction(rwSTANDARDIMAGEFINDRASTERFORMAT, &scratch, image, rasterType))
        return nullptr;
    *width = scratch.width;
    *height = scratch.height;
    *depth = scratch.depth;
    *format = (static_cast<RwInt32>(scratch.cFormat) << 8) | scratch.cType;
    return image;
}

// Streams -----------------------------------------------------------------------------------------

// Image chunk: struct chunk of width, height, depth and stride, the rows, then the palette.
enum : RwUInt32 { rwIMAGESTRUCTSIZE = 16 };

static RwUInt32 StreamPaletteBytes(RwInt32 depth)
{
    return depth <= 8 ? (4u << depth) : 0u;
}

RwUInt32 RwImageStreamGetSize(const RwImage *image)
{
    return rwCHUNKHEADERSIZE + rwIMAGESTRUCTSIZE + static_cast<RwUInt32>(image->stride) * image->height +
           StreamPaletteBytes(image->depth);
}

const RwImage *RwImageStreamWrite(const RwImage *image, RwStream *stream)
{
    if (!image || !stream || !image->cpPixels || (image->depth <= 8 && !image->palette)) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    RwUInt8 header[rwIMAGESTRUCTSIZE];
    WriteI32(header, image->width);
    WriteI32(header + 4, image->height);
    WriteI32(header + 8, image->depth);
    WriteI32(header + 12, image->stride);
    if (!RwStreamWriteChunkHeader(stream, rwID_IMAGE, RwImageStreamGetSize(image)) ||
        !RwStreamWriteChunkHeader(stream, rwID_STRUCT, rwIMAGESTRUCTSIZE) ||
        !RwStreamWrite(stream, header, rwIMAGESTRUCTSIZE) ||
        !RwStreamWrite(stream, image->cpPixels, static_cast<RwUInt32>(image->stride) * image->height))
        return nullptr;
    // Palette entries are four bytes R, G, B, A, the same in memory and in the file.
    if (image->depth <= 8 && !RwStreamWrite(stream, image->palette, StreamPaletteBytes(image->depth)))
        return nullptr;
    return image;
}

RwImage *RwImageStreamRead(RwStream *stream)
{
    RwUInt32 length = 0;
    RwUInt32 version = 0;
    if (!RwStreamFindChunk(stream, rwID_STRUCT, &length, &version))
        return nullptr;
    if (length < rwIMAGESTRUCTSIZE) {
        RaiseError(E_RW_READ);
        return nullptr;
    }
    RwUInt8 header[rwIMAGESTRUCTSIZE];
    if (!RwStreamReadExact(stream, header, rwIMAGESTRUCTSIZE) ||
        (length > rwIMAGESTRUCTSIZE && !RwStreamSkip(stream, length - rwIMAGESTRUCTSIZE)))
        return nullptr;
    const RwInt32 width = ReadI32(header);
    const RwInt32 height = ReadI32(header + 4);
    const RwInt32 depth = ReadI32(header + 8);
    const RwInt32 storedStride = ReadI32(header + 12);
    if (depth != 4 && depth != 8 && depth != 32) {
        RaiseError(E_RW_INVIMAGEDEPTH);
        return nullptr;
    }
    // A row must fit its stride, and the rows must fit what the stream still holds.
    if (width <= 0 || height <= 0 || storedStride < static_cast<int64_t>((depth + 7) >> 3) * width ||
        static_cast<int64_t>(storedStride) * height > rwIMAGEMAXBYTES) {
        RaiseError(E_RW_INVIMAGESIZE);
        return nullptr;
    }
    // The palette follows the rows: both are there before the block is made.
    if (!RwStreamCanHold(stream, 1, static_cast<RwUInt32>(storedStride * height) + StreamPaletteBytes(depth))) {
        RaiseError(E_RW_READ);
        return nullptr;
    }
    RwImage *image = RwImageCreate(width, height, depth);
    if (!image)
        return nullptr;
    if (!RwImageAllocatePixels(image)) {
        RwImageDestroy(image);
        return nullptr;
    }
    RwBool ok = TRUE;
    if (storedStride == image->stride) {
        ok = RwStreamReadExact(stream, image->cpPixels, static_cast<RwUInt32>(image->stride) * height) != nullptr;
    } else {
        // Rows stored with another padding: keep what fits, skip the rest.
        const RwInt32 keep = storedStride < image->stride ? storedStride : image->stride;
        for (RwInt32 y = 0; ok && y < height; y++) {
            RwUInt8 *row = image->cpPixels + static_cast<size_t>(y) * image->stride;
            memset(row + keep, 0, static_cast<size_t>(image->stride - keep));
            ok = RwStreamReadExact(stream, row, static_cast<RwUInt32>(keep)) != nullptr;
            if (ok && storedStride > keep)
                ok = RwStreamSkip(stream, static_cast<RwUInt32>(storedStride - keep)) != nullptr;
        }
    }
    if (ok && depth <= 8)
        ok = RwStreamReadExact(stream, image->palette, StreamPaletteBytes(depth)) != nullptr;
    if (!ok) {
        RwImageDestroy(image);
        return nullptr;
    }
    return image;
}

// Module ------------------------------------------------------------------------------------------

void *RwImageModuleOpen(void *instance, RwInt32 offset, RwInt32 size)
{
    imageModuleOffset = offset;
    RwImageGlobals *g = ImageGlobals();
    memset(g, 0, sizeof(*g));
    g->imageFreeList = RwFreeListCreateAndPreallocate(imageTKList.sizeOfStruct, rwIMAGEPERBLOCK, 4, 1, nullptr,
                                                      rwMEMHINT_IMAGEFREELIST);
    if (!g->imageFreeList)
        return nullptr;
    g->imageFormatFreeList = RwFreeListCreateAndPreallocate(sizeof(RwImageFormat), rwIMAGEFORMATPERBLOCK, 4, 1,
                                                            nullptr, rwMEMHINT_IMAGEFORMATFREELIST);
    if (!g->imageFormatFreeList) {
        RwFreeListDestroy(g->imageFreeList);
        return nullptr;
    }
    g->imagePath = static_cast<RwChar *>(RwMalloc(rwIMAGEINITIALBUFFER, rwMEMHINT_IMAGEPATH));
    if (!g->imagePath) {
        RwFreeListDestroy(g->imageFormatFreeList);
        RwFreeListDestroy(g->imageFreeList);
        return nullptr;
    }
    g->imagePath[0] = '\0';
    g->imagePathSize = rwIMAGEINITIALBUFFER;
    RwImageSetGamma(1.0f);
    g->imageFormatList = nullptr;
    g->scratchMem = static_cast<RwChar *>(RwMalloc(rwIMAGEINITIALBUFFER, rwMEMHINT_IMAGESCRATCH));
    if (!g->scratchMem) {
        RwFree(g->imagePath);
        RwFreeListDestroy(g->imageFormatFreeList);
        RwFreeListDestroy(g->imageFreeList);
        return nullptr;
    }
    g->scratchMemSize = rwIMAGEINITIALBUFFER;
    imageModuleOpenCount++;
    return instance;
}

void *RwImageModuleClose(void *instance, RwInt32 offset, RwInt32 size)
{
    RwImageGlobals *g = ImageGlobals();
    RwFree(g->scratchMem);
    g->scratchMem = nullptr;
    g->scratchMemSize = 0;
    RwFree(g->imagePath);
    g->imagePath = nullptr;
    g->imagePathSize = 0;
    while (RwImageFormat *f = g->imageFormatList) {
        g->imageFormatList = f->nextFormat;
        RwFreeListFree(g->imageFormatFreeList, f);
    }
    RwFreeListDestroy(g->imageFormatFreeList);
    g->imageFormatFreeList = nullptr;
    RwFreeListDestroy(g->imageFreeList);
    g->imageFreeList = nullptr;
    imageModuleOpenCount--;
    return instance;
}
