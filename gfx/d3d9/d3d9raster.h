// The device side of rasters: the raster extension, formats and device objects.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include "gfx/core/rwtypes.h"

struct RwRaster;
struct RwTexture;

// The driver's data on every raster (36 bytes, raster plug-in 0x40C).
struct RwD3D9RasterExtension {
    void *texture;                  // texture, cube texture or surface
    void *palette;                  // RwD3D9Palette or NULL
    RwUInt8 alpha;
    RwUInt8 cube;                   // low nibble: cube texture; high nibble: face
    RwUInt8 automipmapCompressed;   // low nibble: device mip-maps; high nibble: DXT
    RwUInt8 lockedMipLevel;         // 0xFF when none
    IDirect3DSurface9 *lockSurface;
    D3DLOCKED_RECT lockedRect;
    D3DFORMAT d3dFormat;
    IDirect3DSwapChain9 *swapChain;
    HWND window;
};
static_assert(sizeof(RwD3D9RasterExtension) == 36, "raster extension is 36 bytes");

// A camera raster on the device window follows the back buffer through
// resets. It is scaled from the size it was given and the back buffer it was
// given against, never from its last scaled size, so that a raster that is
// not the window's size keeps its proportion over any number of resizes
// (raster plug-in 0x40E, beside the extension).
// A sub-raster of a camera raster keeps its rectangle (x, y, width, height)
// and its top raster's size then (backWidth, backHeight) here, until its
// top is destroyed.
struct RwD3D9CameraShape {
    RwInt32 width, height;           // the size it was given
    RwUInt32 backWidth, backHeight;  // the size it was checked against then; 0: not recorded
    RwInt32 lastWidth, lastHeight;   // the size last given to it here
    RwInt32 x, y;                    // a sub-raster's place in its top raster
};
RwD3D9CameraShape *RwD3D9RasterGetCameraShape(const RwRaster *raster);

// The palette of an 8-bit palettised texture and the number the device knows it by.
struct RwD3D9Palette {
    PALETTEENTRY entries[256];
    RwUInt32 number;
};
static_assert(sizeof(RwD3D9Palette) == 1028, "palette record is 1028 bytes");

enum : RwUInt32 {
    rwID_D3D9RASTEREXT = 0x40C,
    rwID_D3D9CAMERASHAPE = 0x40E,
    rwD3D9ERRORUNSUPPORTED = 0x8000000Du,   // raster type or format this driver does not support
    rwD3D9ERRORDEPTH = 0x8000000Cu,         // pixel depth the converters do not handle
    rwD3D9ERRORLOCKED = 0x8000000Eu,        // already locked, or a type that cannot be locked
    rwD3D9ERRORNOTLOCKED = 0x80000011u,     // not locked, or a type that cannot be unlocked
    rwD3D9ERRORCREATE = 2,                  // device object refused (plug-in id 1)
    rwD3D9NODEHINT = 0x30411,
};

// A row of the Direct3D format table.
struct RwD3D9PixelFormat {
    RwUInt8 alpha;
    RwUInt8 depth;
    RwUInt16 rwFormat;
};

// A row of the colour-code table.
struct RwD3D9CodeInfo {
    D3DFORMAT format;
    RwUInt8 depth;
    RwUInt8 alpha;
};

// Fills the Direct3D format table (once, when the extension is registered).
void RwD3D9FillPixelFormats(void);
// The row of a Direct3D format; all zero for formats outside the table.
RwD3D9PixelFormat RwD3D9GetPixelFormat(D3DFORMAT format);
// The row of the colour code in bits 8-11 of a format word; NULL for codes 11-15.
const RwD3D9CodeInfo *RwD3D9GetCodeInfo(RwInt32 formatWord);
// Every depth-stencil format, the lockable and floating-point ones included.
RwBool RwD3D9IsDepthFormat(D3DFORMAT format);
RwBool RwD3D9IsCompressedFormat(D3DFORMAT format);

// Format checks against the device's adapter and display format.
RwBool RwD3D9CheckTextureFormat(D3DFORMAT format);
RwBool RwD3D9CheckCubeTextureFormat(D3DFORMAT format);
RwBool RwD3D9CheckRenderTargetFormat(D3DFORMAT format);
RwBool RwD3D9CheckRenderTargetCubeFormat(D3DFORMAT format);
RwBool RwD3D9CheckDepthTextureFormat(D3DFORMAT format);
RwBool RwD3D9CheckAutoMipmapFormat(D3DFORMAT format);
RwBool RwD3D9CheckAutoMipmapRenderTargetFormat(D3DFORMAT format);
RwBool RwD3D9CheckAutoMipmapCubeFormat(D3DFORMAT format);
// Texture size the device accepts for the creation flags.
void RwD3D9RasterAdjustSize(RwInt32 *width, RwInt32 *height, RwInt32 flags);

RwD3D9RasterExtension *RwD3D9RasterGetExtension(const RwRaster *raster);
// The raster that owns the device object (parent links followed to the end).
RwRaster *RwD3D9RasterGetTop(const RwRaster *raster);
RwBool RwD3D9RasterIsCompressed(const RwRaster *raster);
RwBool RwD3D9RasterIsCubeMap(const RwRaster *raster);
RwBool RwD3D9TextureHasAlpha(const RwTexture *texture);
void RwD3D9RasterClearAlphaFlag(RwRaster *raster);
// Level surface of a texture raster (for a cube texture the face its
// extension names), with a reference the caller releases; NULL without one.
IDirect3DSurface9 *RwD3D9RasterGetLevelSurface(const RwRaster *raster, RwUInt32 level);
IDirect3DSurface9 *RwD3D9RasterGetTextureSurface(const RwRaster *raster);

// Registers the raster extension with the raster module.
RwBool RwD3D9RasterPluginAttach(void);

RwBool RwD3D9RasterModuleOpen(void);
void RwD3D9RasterModuleClose(void);
// The list of rasters that the reset walks visit, newest first.
typedef void (*RwD3D9RasterCallBack)(RwRaster *raster, void *data);
void RwD3D9RasterForAllDeviceObjects(RwD3D9RasterCallBack callback, void *data);
// Depth-stencil format for z-buffers of the current video mode.
D3DFORMAT RwD3D9ZBufferFormat(void);
// Gives a z-buffer raster its surface: the device's own at the window's client size.
RwBool RwD3D9CreateZBufferSurface(RwRaster *raster);
// The render-target texture of a camera-texture raster (also used after a reset).
RwBool RwD3D9CreateCameraTexture(RwRaster *raster);
// Palette records and the numbers the device knows them by.
RwD3D9Palette *RwD3D9PaletteCreate(void);
void RwD3D9PaletteDestroy(RwD3D9Palette *palette);

// Around a device reset: default-pool objects go before it and come back after.
void RwD3D9RasterReleaseDeviceObjects(void);
RwBool RwD3D9RasterRestoreDeviceObjects(void);

RwRaster *RwD3D9RasterCreateFromD3DFormat(RwInt32 width, RwInt32 height, D3DFORMAT format, RwInt32 flags);
// Rebuilds a palettised raster as a true-colour one.
void RwD3D9RasterConvertToNonPalettized(RwRaster *raster);

// Standard functions.
RwBool RwD3D9RasterCreate(void *unused, void *raster, RwInt32 flags);
RwBool RwD3D9RasterDestroy(void *unused, void *raster, RwInt32 unusedFlags);
RwBool RwD3D9TextureSetRaster(void *texture, void *raster, RwInt32 unused);
RwBool RwD3D9SetRasterContext(void *unused, void *raster, RwInt32 unusedFlags);
RwBool RwD3D9RasterSubRaster(void *subRaster, void *parent, RwInt32 unused);
RwBool RwD3D9RasterGetMipLevels(void *out, void *raster, RwInt32 unused);
RwBool RwD3D9RasterLock(void *pixels, void *raster, RwInt32 modeAndLevel);
RwBool RwD3D9RasterUnlock(void *unused, void *raster, RwInt32 unusedFlags);
RwBool RwD3D9RasterLockPalette(void *palette, void *raster, RwInt32 mode);
RwBool RwD3D9RasterUnlockPalette(void *unused, void *raster, RwInt32 unusedFlags);
RwRaster *RwD3D9GetRasterContext(void);
// Rendering a raster into the current context and clearing it.
RwBool RwD3D9RasterRender(void *raster, void *position, RwInt32 unused);
RwBool RwD3D9RasterRenderScaled(void *raster, void *rect, RwInt32 unused);
RwBool RwD3D9RasterRenderFast(void *raster, void *position, RwInt32 unused);
RwBool RwD3D9RasterClearRect(void *unused, void *rect, RwInt32 pixelValue);
RwBool RwD3D9RasterClear(void *unused, void *unusedToo, RwInt32 pixelValue);
