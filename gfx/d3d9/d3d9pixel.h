// Pixel formats on the device: packing colours, images to and from rasters, format choice.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include "gfx/core/rwtypes.h"

struct RwImage;
struct RwRaster;

typedef RwUInt32 (*RwD3D9PixelPacker)(RwRGBA colour);
typedef RwRGBA (*RwD3D9PixelUnpacker)(RwUInt32 pixel);

// The packer or unpacker of a Direct3D format; NULL when there is none.
RwD3D9PixelPacker RwD3D9PixelPackerForFormat(D3DFORMAT format);
RwD3D9PixelUnpacker RwD3D9PixelUnpackerForFormat(D3DFORMAT format);

// (30 red + 59 green + 11 blue) / 100.
RwUInt32 RwD3D9Luminance(RwRGBA colour);

// Format word that suits an image on this device.
RwInt32 RwD3D9ImageFindFormat(const RwImage *image);
// A format word the device supports for the raster type, by the fallback chains.
RwInt32 RwD3D9RasterFindSupportedFormat(RwInt32 type, RwInt32 format);
// Fills a raster format record (type, flags, format byte, depth) from creation flags.
void RwD3D9RasterSetFormatInfo(RwRaster *record, RwInt32 flags);

// Standard functions.
RwBool RwD3D9RGBToPixel(void *pixel, void *colour, RwInt32 format);
RwBool RwD3D9PixelToRGB(void *colour, void *pixel, RwInt32 format);
RwBool RwD3D9ImageGetFromRaster(void *image, void *raster, RwInt32 unused);
RwBool RwD3D9RasterSetFromImage(void *raster, void *image, RwInt32 unused);
RwBool RwD3D9ImageFindRasterFormat(void *record, void *image, RwInt32 flags);
