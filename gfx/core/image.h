// Images: device-independent pixel blocks, gamma, masks, the search path and image file formats.
#pragma once

#include "rwtypes.h"
#include "plugin.h"

struct RwRaster;
struct RwStream;

// Image flags.
enum : RwUInt32 {
    rwIMAGEALLOCATED = 0x1,        // the image owns its pixel block (and the palette after it)
    rwIMAGEGAMMACORRECTED = 0x2,   // pixel values are gamma-corrected
};

// Image module error codes (common codes, stored with plug-in id 0).
enum : RwUInt32 {
    E_RW_INVIMAGEDEPTH = 0x80000008u,   // depth is not 4, 8 or 32
    E_RW_INVIMAGEFORMAT = 0x80000009u,  // unsupported depth pair, no raster format for an image
    E_RW_INVIMAGESIZE = 0x8000000Au,    // sizes do not fit together
};

// Memory hints of the image module.
enum : RwUInt32 {
    rwMEMHINT_IMAGE = 0x30018,             // image objects and pixel blocks
    rwMEMHINT_IMAGEFREELIST = 0x40018,
    rwMEMHINT_IMAGESCRATCH = 0x1040018,    // file-name scratch buffer
    rwMEMHINT_IMAGEFORMAT = 0x30406,
    rwMEMHINT_IMAGEFORMATFREELIST = 0x40406,
    rwMEMHINT_IMAGEPATH = 0x1040406,
};

struct RwImage {
    RwUInt32 flags;
    RwInt32 width;
    RwInt32 height;
    RwInt32 depth;       // bits per pixel: 4, 8 or 32
    RwInt32 stride;      // bytes from one row to the next
    RwUInt8 *cpPixels;   // first row; 32-bit pixels are R, G, B, A; 4/8-bit pixels one index byte
    RwRGBA *palette;     // 2^depth entries for 4- and 8-bit images, else NULL
};
static_assert(sizeof(RwImage) == 28, "image base data is 28 bytes");

typedef RwImage *(*RwImageCallBackRead)(const RwChar *imageName);
typedef RwImage *(*RwImageCallBackWrite)(RwImage *image, const RwChar *imageName);

enum : RwInt32 { rwIMAGEFORMATEXTLEN = 20, rwIMAGEFORMATMAXEXT = 18 };

// One registered image file format.
struct RwImageFormat {
    RwChar lCaseExtension[rwIMAGEFORMATEXTLEN];   // "." + extension, lower case
    RwChar uCaseExtension[rwIMAGEFORMATEXTLEN];   // the same in upper case
    RwImageCallBackRead imageRead;
    RwImageCallBackWrite imageWrite;
    RwImageFormat *nextFormat;
};
static_assert(sizeof(RwImageFormat) == 52, "format record is 52 bytes");

// Called with each candidate file name of a path search; NULL ends the walk.
typedef const RwChar *(*RwImagePathSearchCallBack)(RwChar *candidate, void *data);

// Life cycle and pixels.
RwImage *RwImageCreate(RwInt32 width, RwInt32 height, RwInt32 depth);
RwBool RwImageDestroy(RwImage *image);
RwImage *RwImageAllocatePixels(RwImage *image);
RwImage *RwImageFreePixels(RwImage *image);
RwImage *RwImageCopy(RwImage *destImage, const RwImage *sourceImage);
// Bytes one row of pixels needs (without the stride's padding).
RwInt32 RwImageRowBytes(RwInt32 width, RwInt32 depth);

// Gamma.
RwBool RwImageSetGamma(RwReal gammaValue);
RwReal RwImageGetGamma(void);
const RwUInt8 *RwImageGetGammaTable(void);
const RwUInt8 *RwImageGetInvGammaTable(void);
RwImage *RwImageGammaCorrect(RwImage *image);
void RwImageGammaUncorrectPixels(RwRGBA *destPixels, const RwRGBA *sourcePixels, RwInt32 numPixels);

// Masks.
RwImage *RwImageMakeMask(RwImage *image);
RwImage *RwImageApplyMask(RwImage *image, const RwImage *mask);

// Search path, formats and files.
const RwChar *RwImageSetPath(const RwChar *path);
RwChar *RwImageGetPath(void);
const RwChar *RwImagePathSearch(const RwChar *name, RwInt32 extraLength, RwImagePathSearchCallBack callBack,
                                void *data);
RwBool RwImageRegisterFormat(const RwChar *extension, RwImageCallBackRead imageRead,
                             RwImageCallBackWrite imageWrite);
RwImageFormat *RwImageGetFormatList(void);
RwImage *RwImageRead(const RwChar *imageName);
RwImage *RwImageWrite(RwImage *image, const RwChar *imageName);
RwImage *RwImageReadMasked(const RwChar *imageName, const RwChar *maskName);
const RwChar *RwImageFindFileExtension(const RwChar *imageName);

// Raster glue through the device's standard functions.
RwImage *RwImageSetFromRaster(RwImage *image, RwRaster *raster);
RwRaster *RwRasterSetFromImage(RwRaster *raster, RwImage *image);
RwImage *RwImageFindRasterFormat(RwImage *image, RwInt32 rasterType, RwInt32 *width, RwInt32 *height,
                                 RwInt32 *depth, RwInt32 *format);

// Streams (image chunk, type 24).
enum : RwUInt32 { rwID_IMAGE = 0x18 };
RwUInt32 RwImageStreamGetSize(const RwImage *image);
const RwImage *RwImageStreamWrite(const RwImage *image, RwStream *stream);
RwImage *RwImageStreamRead(RwStream *stream);

// Plug-in registry of images.
RwInt32 RwImageRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                              RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB);
RwInt32 RwImageGetPluginOffset(RwUInt32 pluginID);
