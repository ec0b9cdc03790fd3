// Copies between device surfaces that keep to the pool rules of each Direct3D 9 copy call.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include "gfx/core/rwtypes.h"

// A system-memory copy of a whole default-pool surface: a render target
// through GetRenderTargetData, a texture that is not one first stretched into
// a render target where the device can stretch from textures. NULL when it
// cannot be read.
IDirect3DSurface9 *RwD3D9SystemCopyOf(IDirect3DSurface9 *surface);

// Copies the rectangle of `from` to `at` in `to`, a surface the processor can
// lock (managed or system memory). A default-pool source is read into system
// memory first (RwD3D9SystemCopyOf); formats that differ are converted. FALSE
// when either rectangle leaves its surface or a step fails.
RwBool RwD3D9CopyIntoLockable(IDirect3DSurface9 *from, const RECT *rect, IDirect3DSurface9 *to, POINT at);

// StretchRect from a render target into a default-pool surface, through a
// render target of the destination rectangle's size when source and
// destination are the same surface, and then through system memory when the
// destination cannot be drawn into (a camera texture of a format that cannot
// be a render target).
RwBool RwD3D9StretchBetweenTargets(IDirect3DSurface9 *from, const RECT *rect, IDirect3DSurface9 *to,
                                   const RECT *toRect, D3DTEXTUREFILTERTYPE filter);

// ColorFill of a default-pool surface; one that cannot be drawn into is
// filled through a render target and system memory.
RwBool RwD3D9ColorFillSurface(IDirect3DSurface9 *to, const RECT *rect, D3DCOLOR colour);
