// PNG decoding through FreeImage into images, rasters and textures of the graphics library.
#pragma once

#include <windows.h>

#include "gfx/core/rwtypes.h"

struct RwImage;
struct RwRaster;
struct RwTexture;
struct KivPngPixels;

// With enable non-zero, fully transparent pixels become opaque key colour.
struct ColourKey {
    int enable;
    RwUInt8 red;
    RwUInt8 green;
    RwUInt8 blue;
};
static_assert(sizeof(ColourKey) == 8, "colour key is a flag and three bytes, padded to 8");

// Every decoder reads the bytes as PNG whatever the name says. mode 1 scales
// by the engine's image scale, any other value by its texture scale (never
// below 1x1). Each returns 1 with the new object in out, or 0 with out null
// and nothing left behind when the bytes do not decode or memory runs out.

// A texture named name, filter mode = the low byte of the texture-read mode,
// added to the current dictionary when there is one.
int DecodePngTexture(RwTexture **out, const char *name, const void *bytes, DWORD size, int mode,
                     const ColourKey *key);
// The same texture from a raster made by the steps below; the raster is the
// texture's, or destroyed on failure.
int TextureFromPngRaster(RwTexture **out, const char *name, RwRaster *raster);
int DecodePngTextureNoKey(RwTexture **out, const char *name, const void *bytes, DWORD size, int mode);
// A 32-bit texture raster only.
int DecodePngRaster(RwRaster **out, const char *name, const void *bytes, DWORD size, int mode,
                    const ColourKey *key);
// DecodePngRaster in steps, so a loading thread holds the render lock only
// briefly. The pixels (key applied, scaled size chosen) are decoded with no
// lock; RasterFromPngPixels makes and fills the raster under it. A loading
// thread instead makes the raster under the lock and copies the pixels in
// without it, the raster being nobody else's yet (a reset never releases a
// plain texture's device texture); the copy gives 0 when the pixels need
// scaling not yet made (ReducePngPixels) or the raster is of another kind:
// FillPngRaster, under the lock, then fills it through an image. Null or 0
// on failure.
KivPngPixels *DecodePngPixels(const void *bytes, DWORD size, int mode, const ColourKey *key);
RwRaster *RasterFromPngPixels(const KivPngPixels *pixels);
RwRaster *CreatePngRaster(const KivPngPixels *pixels);
// Makes the picture of the scaled size now, with no lock (the fill under the
// lock then only copies it); 1 when it is ready, 0 when memory ran out.
int ReducePngPixels(KivPngPixels *pixels);
// 1 when the pixels have the size a read in the mode gives at the engine's
// present scales.
int PngPixelsFit(const KivPngPixels *pixels, int mode);
int CopyPngPixels(RwRaster *raster, const KivPngPixels *pixels);
int FillPngRaster(RwRaster *raster, const KivPngPixels *pixels);
void FreePngPixels(KivPngPixels *pixels);
// The bytes the decoded picture holds (0 for none).
size_t PngPixelBytes(const KivPngPixels *pixels);
// A 32-bit image of the scaled size, box-filtered down (or up) from the picture.
int DecodePngImage(RwImage **out, const char *name, const void *bytes, DWORD size, int mode);
