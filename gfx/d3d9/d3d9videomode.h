// Adapters as sub-systems, display modes as video modes, and the window size.
#pragma once

#include "d3d9device.h"

// Sum of the adapter's mode counts over the listed mode formats.
RwInt32 RwD3D9CountAdapterModes(void);
// Makes the adapter the one in use: its mode count and its desktop's size,
// refresh rate and format (depth and flags of the display mode stay).
void RwD3D9SelectAdapter(RwUInt32 adapter);
// Builds (or rebuilds) the video-mode list; FALSE when it cannot be allocated.
RwBool RwD3D9BuildVideoModes(void);
void RwD3D9FreeVideoModes(void);

RwBool RwD3D9GetNumVideoModes(RwInt32 *count);
RwBool RwD3D9GetVideoModeInfo(RwVideoMode *mode, RwInt32 index);
RwBool RwD3D9UseVideoMode(RwInt32 index);
RwBool RwD3D9GetSubSystemInfo(RwSubSystemInfo *info, RwInt32 index);
RwBool RwD3D9SetSubSystem(RwInt32 index);

// Raster format code reported for a display format.
RwInt32 RwD3D9VideoModeRasterFormat(D3DFORMAT format);

// TRUE when drawing on the device window may go on (resizes the device to
// the window's client area when it changed).
RwBool RwD3D9CheckWindowSize(void);

// Gives a camera on a window other than the device window its own swap chain,
// frame raster and z raster (windowed modes only).
RwBool RwD3D9CameraCreateSwapChain(void *camera, void *window);
