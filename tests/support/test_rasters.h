// Rasters in memory for the stand-in driver: the raster, image and texture
// standard functions served from plain pixel blocks, so that code above the
// device can be tested without one.
//
// Rasters are 8888 (depth 32, pixels R, G, B, A like 32-bit images) or
// palettised (depth 4 or 8, one index byte per pixel, 256 RGBA entries).
// Mip-mapped rasters have every level down to 1x1. Blocks come from the
// engine's allocator, so the test memory counts them. Native textures are a
// struct chunk holding the texture's 32-byte name.
#pragma once

#include "gfx/core/engine.h"
#include "gfx/core/raster.h"

// Installs the functions in the stand-in driver (after RwTestDriverReset) and
// clears the settings below.
void RwTestRastersInstall(void);

// What the device chooses for an image (standard function 9): sizes halved
// until they are at most maxSize (0: any size); palettised images keep their
// palette depth unless palettes are off.
void RwTestRastersSetMaxSize(RwInt32 maxSize);
void RwTestRastersSetPalettes(RwBool allowed);
// The next `after` creations succeed, then every one fails (-1: none fails).
void RwTestRastersFailCreate(RwInt32 after);

RwInt32 RwTestRastersLive(void);
// Colour of a pixel of a level, through the palette for palettised rasters.
RwRGBA RwTestRasterPixel(const RwRaster *raster, RwInt32 level, RwInt32 x, RwInt32 y);
RwInt32 RwTestRasterLevels(const RwRaster *raster);
