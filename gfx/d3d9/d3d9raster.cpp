// The device side of rasters: the raster extension and its device objects.
#include "d3d9raster.h"

RwBool RwD3D9RasterPluginAttach(void)
{
    return TRUE;
}

RwBool RwD3D9RasterModuleOpen(void)
{
    return TRUE;
}

void RwD3D9RasterModuleClose(void)
{
}

void RwD3D9RasterReleaseDeviceObjects(void)
{
}

RwBool RwD3D9RasterRestoreDeviceObjects(void)
{
    return TRUE;
}
