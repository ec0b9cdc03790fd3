// The standard-function table, camera update, clear and show, and device reset.
#pragma once

#include "gfx/core/rwtypes.h"

// Request 11: fills `count` entries of the table.
RwBool RwD3D9GetStandardFunctions(void *table, void *unused, RwInt32 count);

// Reads the device's back buffer 0 and automatic depth surface (no references kept).
void RwD3D9ReadDefaultSurfaces(void);

// Release and restore sequences around a device reset.
RwBool RwD3D9ReleaseDeviceResources(void);
RwBool RwD3D9RestoreDeviceResources(void);
// Resets a device that reports it can be reset and restores what it held;
// FALSE while the device is lost or the reset or restore failed.
RwBool RwD3D9CheckDeviceReset(void);
// Releases, resets and restores the device now, as after a loss; FALSE when
// the reset or the restore failed (the next check tries again).
RwBool RwD3D9ResetDevice(void);
RwBool RwD3D9TestDeviceAndBeginScene(void);

RwBool RwD3D9CameraBeginUpdate(void *out, void *camera, RwInt32 in);
RwBool RwD3D9CameraEndUpdate(void *out, void *inOut, RwInt32 in);
RwBool RwD3D9CameraClear(void *camera, void *colour, RwInt32 clearMode);
RwBool RwD3D9RasterShowRaster(void *raster, void *inOut, RwInt32 flags);

// The camera between begin update and end update.
void *RwD3D9GetCurrentCamera(void);
// Camera updates begun so far (wrapping): what is worked out once per update is keyed by it.
RwUInt32 RwD3D9GetCameraUpdateCount(void);
