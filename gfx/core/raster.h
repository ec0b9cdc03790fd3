// Rasters: device surfaces reached through the standard functions, and the drawing-context stack.
#pragma once

#include "rwtypes.h"
#include "plugin.h"

// Raster types (creation flags bits 0-2).
enum : RwInt32 {
    rwRASTERTYPENORMAL = 0x00,
    rwRASTERTYPEZBUFFER = 0x01,
    rwRASTERTYPECAMERA = 0x02,
    rwRASTERTYPETEXTURE = 0x04,
    rwRASTERTYPECAMERATEXTURE = 0x05,
    rwRASTERTYPEMASK = 0x07,
    rwRASTERDONTALLOCATE = 0x80,        // flags byte bit 7: no pixels of its own
};

// Raster format word (creation flags bits 8-15).
enum : RwInt32 {
    rwRASTERFORMATDEFAULT = 0x0000,
    rwRASTERFORMAT1555 = 0x0100,
    rwRASTERFORMAT565 = 0x0200,
    rwRASTERFORMAT4444 = 0x0300,
    rwRASTERFORMATLUM8 = 0x0400,
    rwRASTERFORMAT8888 = 0x0500,
    rwRASTERFORMAT888 = 0x0600,
    rwRASTERFORMAT16 = 0x0700,
    rwRASTERFORMAT24 = 0x0800,
    rwRASTERFORMAT32 = 0x0900,
    rwRASTERFORMAT555 = 0x0A00,
    rwRASTERFORMATAUTOMIPMAP = 0x1000,
    rwRASTERFORMATPAL8 = 0x2000,
    rwRASTERFORMATPAL4 = 0x4000,
    rwRASTERFORMATMIPMAP = 0x8000,
    rwRASTERFORMATPIXELFORMATMASK = 0x0F00,
    rwRASTERFORMATMASK = 0xFF00,
};

// Private flags.
enum : RwUInt8 {
    rwRASTERGAMMACORRECTED = 0x01,
    rwRASTERPIXELLOCKEDREAD = 0x02,
    rwRASTERPIXELLOCKEDWRITE = 0x04,
    rwRASTERPALETTELOCKED = 0x08,
    rwRASTERPALETTELOCKEDWRITE = 0x10,
};

// Lock modes.
enum : RwInt32 {
    rwRASTERLOCKWRITE = 0x01,
    rwRASTERLOCKREAD = 0x02,
    rwRASTERLOCKNOFETCH = 0x04,
    rwRASTERLOCKREADWRITE = 0x03,
};

enum : RwUInt32 { rwMEMHINT_RASTER = 0x30407, rwMEMHINT_RASTERFREELIST = 0x40407 };

// Depth of the drawing-context stack, the null raster included.
enum : RwInt32 { rwRASTERCONTEXTSTACKSIZE = 10 };

struct RwRaster {
    RwRaster *parent;         // owner of the pixels: the raster itself unless it is a sub-raster
    RwUInt8 *cpPixels;        // pixels of the locked level while locked
    RwUInt8 *palette;         // palette while it is locked
    RwInt32 width;
    RwInt32 height;
    RwInt32 depth;
    RwInt32 stride;           // bytes per row while locked
    RwInt16 nOffsetX;         // position inside the top parent
    RwInt16 nOffsetY;
    RwUInt8 cType;
    RwUInt8 cFlags;
    RwUInt8 privateFlags;
    RwUInt8 cFormat;
    RwInt32 originalWidth;    // level-0 size while a lower level is locked
    RwInt32 originalHeight;
    RwUInt32 deviceWord0;     // kept by the device
    RwUInt32 deviceWord1;
};
static_assert(sizeof(RwRaster) == 52, "raster base data is 52 bytes");

RwRaster *RwRasterCreate(RwInt32 width, RwInt32 height, RwInt32 depth, RwInt32 flags);
RwBool RwRasterDestroy(RwRaster *raster);
RwUInt8 *RwRasterLock(RwRaster *raster, RwUInt8 level, RwInt32 lockMode);
// NULL when the device could not keep the pixels written under the lock.
RwRaster *RwRasterUnlock(RwRaster *raster);
RwUInt8 *RwRasterLockPalette(RwRaster *raster, RwInt32 lockMode);
RwRaster *RwRasterUnlockPalette(RwRaster *raster);
RwInt32 RwRasterGetNumLevels(RwRaster *raster);
RwRaster *RwRasterMakeSubRaster(RwRaster *raster, RwRaster *parent, const RwRect *rect);
RwBool RwRasterClearRect(const RwRect *rect, RwInt32 pixelValue);
RwBool RwRasterClear(RwInt32 pixelValue);
// Draws the raster into the current context at (x, y): blended by its alpha,
// scaled into a rectangle, or copied without blending.
RwRaster *RwRasterRender(RwRaster *raster, RwInt32 x, RwInt32 y);
RwRaster *RwRasterRenderScaled(RwRaster *raster, const RwRect *rect);
RwRaster *RwRasterRenderFast(RwRaster *raster, RwInt32 x, RwInt32 y);
RwRaster *RwRasterPushContext(RwRaster *raster);
RwRaster *RwRasterPopContext(void);
RwRaster *RwRasterGetCurrentContext(void);
RwRaster *RwRasterShowRaster(RwRaster *raster, void *dev, RwUInt32 flags);

inline RwRaster *RwRasterGetParent(const RwRaster *raster) { return raster->parent; }
inline RwInt32 RwRasterGetType(const RwRaster *raster) { return raster->cType; }
inline RwInt32 RwRasterGetFormat(const RwRaster *raster) { return static_cast<RwInt32>(raster->cFormat) << 8; }

RwInt32 RwRasterRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                               RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB);
RwInt32 RwRasterGetPluginOffset(RwUInt32 pluginID);
