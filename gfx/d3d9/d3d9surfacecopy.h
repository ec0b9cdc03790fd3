// Copies between device surfaces that keep to the pool rules of each Direct3D 9 copy call.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include "gfx/core/rwtypes.h"

// Copies the rectangle of `from` to `at` in `to`, a surface the processor can
// lock (managed or system memory). A render-target source is read through
// GetRenderTargetData into system memory first, a default-pool texture that
// is not one through a render target where the device can stretch from
// textures; formats that differ are converted. FALSE when either rectangle
// leaves its surface or a step fails.
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
