// The device side of rasters: the raster extension and its device objects.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include "gfx/core/rwtypes.h"

struct RwRaster;

// The driver's data on every raster (36 bytes, raster plug-in 0x40C).
struct RwD3D9RasterExtension {
    void *texture;                  // texture, cube texture or surface
    void *palette;                  // palette record or NULL
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

enum : RwUInt32 {
    rwID_D3D9RASTEREXT = 0x40C,
};

// A row of the Direct3D format table.
struct RwD3D9PixelFormat {
    RwUInt8 alpha;
    RwUInt8 depth;
    RwUInt16 rwFormat;
};

// The row of a Direct3D format; all zero for formats outside the table.
RwD3D9PixelFormat RwD3D9GetPixelFormat(D3DFORMAT format);

RwD3D9RasterExtension *RwD3D9RasterGetExtension(const RwRaster *raster);
RwBool RwD3D9RasterIsCompressed(const RwRaster *raster);
// Level-0 surface of a texture raster (for a cube texture the face its
// extension names), with a reference the caller releases; NULL without one.
IDirect3DSurface9 *RwD3D9RasterGetTextureSurface(const RwRaster *raster);

// Registers the raster extension with the raster module.
RwBool RwD3D9RasterPluginAttach(void);

RwBool RwD3D9RasterModuleOpen(void);
void RwD3D9RasterModuleClose(void);
// Around a device reset: default-pool objects go before it and come back after.
void RwD3D9RasterReleaseDeviceObjects(void);
RwBool RwD3D9RasterRestoreDeviceObjects(void);

// Standard functions.
RwBool RwD3D9RasterCreate(void *unused, void *raster, RwInt32 flags);
RwBool RwD3D9RasterDestroy(void *unused, void *raster, RwInt32 unusedFlags);
RwBool RwD3D9SetRasterContext(void *unused, void *raster, RwInt32 unusedFlags);
RwBool RwD3D9RasterSubRaster(void *subRaster, void *parent, RwInt32 unused);
RwBool RwD3D9RasterGetMipLevels(void *out, void *raster, RwInt32 unused);
RwRaster *RwD3D9GetRasterContext(void);
