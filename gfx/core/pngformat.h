// PNG image files through libpng: the read and write callbacks of the "png" image format.
#pragma once

#include "rwtypes.h"

struct RwImage;

enum : RwUInt32 {
    rwID_PNGIMAGEPLUGIN = 0x10D,   // plug-in id of the errors recorded here
    rwMEMHINT_PNG = 0x3010D,       // libpng's memory, row and palette buffers
};

// A new image from the named PNG file, or NULL.
RwImage *RwImageReadPng(const RwChar *imageName);
// Writes the image as a PNG file; the image, or NULL when nothing (or not all) was written.
RwImage *RwImageWritePng(RwImage *image, const RwChar *imageName);
