// The device's part of the world pipelines' attach: the device-restore hook that re-instances listed geometries.
#include "d3d9state.h"
#include "gfx/world/worldpipe.h"

static RwD3D9DeviceRestoreCallBack savedRestoreCallback = nullptr;

static void WorldDeviceRestore(void)
{
    if (savedRestoreCallback) {
        savedRestoreCallback();
    }
    RwWorldDeviceRestoreCallback();
}

RwBool RwD3D9WorldPipelineAttach(void)
{
    if (RwD3D9GetDeviceRestoreCallback() != WorldDeviceRestore) {
        savedRestoreCallback = RwD3D9GetDeviceRestoreCallback();
        RwD3D9SetDeviceRestoreCallback(WorldDeviceRestore);
    }
    return TRUE;
}
