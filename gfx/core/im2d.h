// Immediate-mode 2D drawing: screen-space vertices drawn through the device block.
#pragma once

#include "rwtypes.h"

// 28 bytes, as the device reads it: screen position, screen depth, reciprocal
// of the camera-space depth, colour (alpha in the top byte), texture coordinates.
struct RwIm2DVertex {
    RwReal x;
    RwReal y;
    RwReal z;
    RwReal rhw;
    RwUInt32 emissiveColor;
    RwReal u;
    RwReal v;
};
static_assert(sizeof(RwIm2DVertex) == 28, "2D vertex is 28 bytes");

// Screen depths of the near and far z-buffer planes (the device block's values).
RwReal RwIm2DGetNearScreenZ(void);
RwReal RwIm2DGetFarScreenZ(void);

// Draws count vertices as the primitive type (the 3D module's codes: 3
// triangle list, 4 strip, 5 fan...); FALSE when the device refused or the
// engine is not open.
RwBool RwIm2DRenderPrimitive(RwInt32 primType, RwIm2DVertex *vertices, RwInt32 numVertices);
