// The Direct3D 9 driver's device state, device block and system function.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include "gfx/core/engine.h"

// Display mode the device runs in (or will run in at the next start).
struct RwD3D9DisplayMode {
    RwInt32 width;
    RwInt32 height;
    RwInt32 refreshRate;
    D3DFORMAT format;
    RwInt32 depth;      // 32, 16 or 0 by the display-format depth rule
    RwUInt32 flags;     // bit 0: exclusive full-screen mode
};

// One entry of the video-mode list.
struct RwD3D9VideoModeEntry {
    RwInt32 width;
    RwInt32 height;
    RwInt32 refreshRate;
    D3DFORMAT format;
    RwUInt32 flags;     // 0 windowed on the desktop, 1 exclusive
};
static_assert(sizeof(RwD3D9VideoModeEntry) == 20, "video-mode entry is five words");

// The driver's process-wide device state.
struct RwD3D9Driver {
    HWND window;
    IDirect3D9 *d3d;
    RwUInt32 adapter;
    D3DDEVTYPE deviceType;
    IDirect3DDevice9 *device;
    IDirect3DSurface9 *defaultColorSurface;   // held without a reference
    IDirect3DSurface9 *defaultDepthSurface;   // held without a reference
    RwBool started;
    D3DPRESENT_PARAMETERS present;
    D3DCAPS9 caps;
    RwD3D9DisplayMode displayMode;
    RwInt32 zBufferDepth;
    RwBool depthHasStencil;

    RwInt32 numVideoModes;
    RwInt32 totalModeCount;
    RwInt32 videoModeCapacity;               // entries allocated for the list
    RwD3D9VideoModeEntry *videoModes;
    RwInt32 currentVideoMode;

    RwBool multithreadSafe;
    RwBool cpuMMX;
    RwBool cpuSSE;
    RwBool cpuSSE2;
    RwBool cpu3DNow;
    RwBool inScene;
    // TRUE from a release sequence until a reset and restore both succeeded:
    // nothing may be drawn meanwhile.
    RwBool resourcesLost;
};

extern RwD3D9Driver rwD3D9Driver;

// Behaviour flag and caps bits the start-up reads.
enum : RwUInt32 {
    rwD3D9VENDOR_QUIRK = 0x1002,
    rwD3D9DEVICE_QUIRK = 0x5157,
};

RwBool RwD3D9DeviceSystem(RwInt32 request, void *out, void *inOut, RwInt32 in);
void RwD3D9SetMultithreadSafe(RwBool flag);

// Depth in bits of a display format: 32, 16 or 0.
RwInt32 RwD3D9FormatDepth(D3DFORMAT format);

// Builds the present parameters for the current display mode (exposed for
// tests); desktopFormat is the adapter's current format.
void RwD3D9BuildPresentParameters(D3DPRESENT_PARAMETERS *present, D3DFORMAT desktopFormat);

// Behaviour flags for CreateDevice from the caps and the multithread switch.
DWORD RwD3D9BehaviourFlags(const D3DCAPS9 *caps, RwBool multithread);
