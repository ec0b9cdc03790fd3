// PNG image files through libpng: the read and write callbacks of the "png" image format.
#pragma once

#include "rwtypes.h"

struct RwImage;

enum : RwUInt32 {
    rwID_PNGIMAGEPLUGIN = 0x10D,   // plug-in id of the errors recorded here
    rwMEMHINT_PNG = 0x3010D,       // libpng's memory, row and palette buffers
};

// Images read are at most this many pixels (4096 x 4096: 64 MB at 32 bits).
enum : RwUInt32 { rwPNGMAXPIXELS = 4096u * 4096u };
// Whether an image of width x height may be read: within rwPNGMAXPIXELS
// whatever the device (the texture path fits it to the device's sizes).
RwBool RwPngSizeHeld(RwUInt32 width, RwUInt32 height);
// Whether height rows of rowBytes each could come out of dataBytes of
// compressed data: deflate expands at most 1032 times.
RwBool RwPngRowsFitData(uint64_t rowBytes, RwUInt32 height, RwUInt32 dataBytes);
// The filtered bytes of an image's rows (a filter byte each, every pass of an
// interlaced image counted): what its image data inflates to.
uint64_t RwPngImageDataBytes(RwUInt32 width, RwUInt32 height, RwInt32 pixelBits, RwBool interlaced);
// The 8-bit grey of a grey sample of the file's bit depth, as the reader shows
// it and keys it (16-bit samples keep their high byte).
RwInt32 RwPngGreyTo8(RwInt32 sample, RwInt32 bitDepth);

// A new image from the named PNG file, or NULL.
RwImage *RwImageReadPng(const RwChar *imageName);
// Writes the image as a PNG file; the image, or NULL when nothing (or not all) was written.
RwImage *RwImageWritePng(RwImage *image, const RwChar *imageName);
