// Native texture streams: textures stored as the device's own locked pixel blocks.
#pragma once

#include "gfx/core/rwtypes.h"

enum : RwUInt32 {
    rwD3D9NATIVEPLATFORM = 9,
    rwD3D9NATIVEBLOCKSIZE = 72,    // platform, sampling word, name and mask name
    rwD3D9NATIVERASTERSIZE = 16,   // the raster's description
};

// Standard functions.
RwBool RwD3D9NativeTextureGetSize(void *size, void *texture, RwInt32 unused);
RwBool RwD3D9NativeTextureRead(void *stream, void *texture, RwInt32 unused);
RwBool RwD3D9NativeTextureWrite(void *stream, void *texture, RwInt32 unused);
