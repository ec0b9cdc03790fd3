// The device's part of the world pipelines' attach: its light and instancing extensions and the device-restore hook.
#include "d3d9allinone.h"
#include "d3d9lights.h"
#include "d3d9state.h"
#include "gfx/world/worldpipe.h"

static RwD3D9DeviceRestoreCallBack savedRestoreCallback = nullptr;

static void WorldDeviceRestore(void)
{
    if (savedRestoreCallback) {
        savedRestoreCallback();
    }
    RwWorldDeviceRestoreCallback();
    // Every instance an atomic owns is refilled at its next render, even where
    // its geometry could not be listed for restores.
    RwD3D9InstanceFillsInvalidate();
}

RwBool RwD3D9WorldPipelineAttach(void)
{
    const RwBool attached = RwD3D9LightPluginAttach() && RwD3D9InstanceFlagsPluginAttach();
    if (RwD3D9GetDeviceRestoreCallback() != WorldDeviceRestore) {
        savedRestoreCallback = RwD3D9GetDeviceRestoreCallback();
        RwD3D9SetDeviceRestoreCallback(WorldDeviceRestore);
    }
    return attached;
}
