// The device side of rasters: the raster extension and its device objects.
#pragma once

#include "gfx/core/rwtypes.h"

// Registers the raster extension with the raster module.
RwBool RwD3D9RasterPluginAttach(void);

RwBool RwD3D9RasterModuleOpen(void);
void RwD3D9RasterModuleClose(void);
// Around a device reset: default-pool objects go before it and come back after.
void RwD3D9RasterReleaseDeviceObjects(void);
RwBool RwD3D9RasterRestoreDeviceObjects(void);
