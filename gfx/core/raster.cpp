// Rasters: device surfaces reached through the standard functions, and the drawing-context stack.
#include "raster.h"

#include <cstring>

#include "engine.h"
#include "modules.h"

namespace {

struct RwRasterGlobals {
    RwRaster *contextStack[rwRASTERCONTEXTSTACKSIZE];
    RwInt32 stackTop;
    RwRaster nullRaster;
    RwFreeList *rasterFreeList;
};
static_assert(sizeof(RwRasterGlobals) == 100, "raster module globals are 100 bytes");

const RwInt32 rwRASTERPERBLOCK = 128;

}  // namespace

static RwInt32 rasterModuleOffset = -1;
static RwInt32 rasterModuleOpenCount = 0;
static RwPluginRegistry rasterTKList = rwPLUGINREGISTRY_INIT(sizeof(RwRaster));

static RwRasterGlobals *RasterGlobals()
{
    return RwEngineModuleGlobals<RwRasterGlobals>(rasterModuleOffset);
}

RwInt32 RwRasterRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                               RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB)
{
    return RwPluginRegistryAddPlugin(&rasterTKList, size, pluginID, constructCB, destructCB, copyCB);
}

RwInt32 RwRasterGetPluginOffset(RwUInt32 pluginID)
{
    return RwPluginRegistryGetPluginOffset(&rasterTKList, pluginID);
}

RwRaster *RwRasterCreate(RwInt32 width, RwInt32 height, RwInt32 depth, RwInt32 flags)
{
    RwRasterGlobals *g = RasterGlobals();
    RwRaster *raster = static_cast<RwRaster *>(RwFreeListAlloc(g->rasterFreeList, rwMEMHINT_RASTER));
    if (!raster)
        return nullptr;
    memset(raster, 0, sizeof(RwRaster));
    raster->width = width;
    raster->height = height;
    raster->depth = depth;
    raster->parent = raster;
    if (!RwStandardFunction(rwSTANDARDRASTERCREATE, nullptr, raster, flags)) {
        RwFreeListFree(g->rasterFreeList, raster);
        return nullptr;
    }
    if (!RwPluginRegistryInitObject(&rasterTKList, raster)) {
        // The device made its surface already: give it back before the entry goes.
        RwStandardFunction(rwSTANDARDRASTERDESTROY, nullptr, raster, 0);
        RwFreeListFree(g->rasterFreeList, raster);
        return nullptr;
    }
    return raster;
}

RwBool RwRasterDestroy(RwRaster *raster)
{
    if (!raster)
        return FALSE;
    RwPluginRegistryDeInitObject(&rasterTKList, raster);
    RwStandardFunction(rwSTANDARDRASTERDESTROY, nullptr, raster, 0);
    RwFreeListFree(RasterGlobals()->rasterFreeList, raster);
    return TRUE;
}

RwUInt8 *RwRasterLock(RwRaster *raster, RwUInt8 level, RwInt32 lockMode)
{
    RwUInt8 *pixels = nullptr;
    if (!RwStandardFunction(rwSTANDARDRASTERLOCK, &pixels, raster, (static_cast<RwInt32>(level) << 8) + lockMode))
        return nullptr;
    return pixels;
}

RwRaster *RwRasterUnlock(RwRaster *raster)
{
    // NULL when the device could not keep what was written.
    return RwStandardFunction(rwSTANDARDRASTERUNLOCK, nullptr, raster, 0) ? raster : nullptr;
}

RwUInt8 *RwRasterLockPalette(RwRaster *raster, RwInt32 lockMode)
{
    RwUInt8 *palette = nullptr;
    if (!RwStandardFunction(rwSTANDARDRASTERLOCKPALETTE, &palette, raster, lockMode))
        return nullptr;
    return palette;
}

RwRaster *RwRasterUnlockPalette(RwRaster *raster)
{
    RwStandardFunction(rwSTANDARDRASTERUNLOCKPALETTE, nullptr, raster, 0);
    raster->privateFlags &= static_cast<RwUInt8>(~(rwRASTERPALETTELOCKED | rwRASTERPALETTELOCKEDWRITE));
    return raster;
}

RwInt32 RwRasterGetNumLevels(RwRaster *raster)
{
    if (!(raster->cFormat & (rwRASTERFORMATMIPMAP >> 8)))
        return 1;
    RwInt32 numLevels = 0;
    if (!RwStandardFunction(rwSTANDARDRASTERGETMIPLEVELS, &numLevels, raster, 0))
        return -1;
    return numLevels;
}

RwRaster *RwRasterMakeSubRaster(RwRaster *raster, RwRaster *parent, const RwRect *rect)
{
    if (!raster || !parent || !rect || !(raster->cFlags & rwRASTERDONTALLOCATE))
        return nullptr;
    const RwRaster saved = *raster;
    raster->width = rect->w;
    raster->height = rect->h;
    raster->nOffsetX = static_cast<RwInt16>(parent->nOffsetX + rect->x);
    raster->nOffsetY = static_cast<RwInt16>(parent->nOffsetY + rect->y);
    if (!RwStandardFunction(rwSTANDARDRASTERSUBRASTER, raster, parent, 0)) {
        // A refused sub-raster keeps what it was.
        memcpy(raster, &saved, sizeof(RwRaster));
        return nullptr;
    }
    raster->parent = parent->parent;
    return raster;
}

RwBool RwRasterClearRect(const RwRect *rect, RwInt32 pixelValue)
{
    return RwStandardFunction(rwSTANDARDRASTERCLEARRECT, nullptr, const_cast<RwRect *>(rect), pixelValue)
               ? TRUE
               : FALSE;
}

RwBool RwRasterClear(RwInt32 pixelValue)
{
    return RwStandardFunction(rwSTANDARDRASTERCLEAR, nullptr, nullptr, pixelValue) ? TRUE : FALSE;
}

RwRaster *RwRasterRender(RwRaster *raster, RwInt32 x, RwInt32 y)
{
    RwRect at = {x, y, 0, 0};
    return RwStandardFunction(rwSTANDARDRASTERRENDER, raster, &at, 0) ? raster : nullptr;
}

RwRaster *RwRasterRenderScaled(RwRaster *raster, const RwRect *rect)
{
    return RwStandardFunction(rwSTANDARDRASTERRENDERSCALED, raster, const_cast<RwRect *>(rect), 0) ? raster : nullptr;
}

RwRaster *RwRasterRenderFast(RwRaster *raster, RwInt32 x, RwInt32 y)
{
    RwRect at = {x, y, 0, 0};
    return RwStandardFunction(rwSTANDARDRASTERRENDERFAST, raster, &at, 0) ? raster : nullptr;
}

RwRaster *RwRasterPushContext(RwRaster *raster)
{
    RwRasterGlobals *g = RasterGlobals();
    // Entry 0 is the null raster; a push past the last entry would write beyond the stack.
    if (!raster || g->stackTop >= rwRASTERCONTEXTSTACKSIZE - 1)
        return nullptr;
    if (!RwStandardFunction(rwSTANDARDSETRASTERCONTEXT, nullptr, raster, 0))
        return nullptr;
    g->contextStack[++g->stackTop] = raster;
    return raster;
}

RwRaster *RwRasterPopContext(void)
{
    RwRasterGlobals *g = RasterGlobals();
    // The null raster at the bottom is never popped.
    if (g->stackTop <= 0)
        return nullptr;
    RwRaster *popped = g->contextStack[g->stackTop--];
    if (!RwStandardFunction(rwSTANDARDSETRASTERCONTEXT, nullptr, g->contextStack[g->stackTop], 0))
        return nullptr;
    return popped;
}

RwRaster *RwRasterGetCurrentContext(void)
{
    RwRasterGlobals *g = RasterGlobals();
    return g->contextStack[g->stackTop];
}

RwRaster *RwRasterShowRaster(RwRaster *raster, void *dev, RwUInt32 flags)
{
    RwResourcesNextFrame();
    if (!RwStandardFunction(rwSTANDARDRASTERSHOWRASTER, raster, dev, static_cast<RwInt32>(flags)))
        return nullptr;
    return raster;
}

void *RwRasterModuleOpen(void *instance, RwInt32 offset, RwInt32 size)
{
    rasterModuleOffset = offset;
    RwRasterGlobals *g = RasterGlobals();
    memset(g, 0, sizeof(*g));
    g->nullRaster.cFlags = rwRASTERDONTALLOCATE;
    g->stackTop = 0;
    g->contextStack[0] = &g->nullRaster;
    g->rasterFreeList = RwFreeListCreateAndPreallocate(rasterTKList.sizeOfStruct, rwRASTERPERBLOCK, 4, 1, nullptr,
                                                       rwMEMHINT_RASTERFREELIST);
    if (!g->rasterFreeList)
        return nullptr;
    rasterModuleOpenCount++;
    return instance;
}

void *RwRasterModuleClose(void *instance, RwInt32 offset, RwInt32 size)
{
    RwRasterGlobals *g = RasterGlobals();
    if (g->rasterFreeList) {
        RwFreeListDestroy(g->rasterFreeList);
        g->rasterFreeList = nullptr;
    }
    rasterModuleOpenCount--;
    return instance;
}
