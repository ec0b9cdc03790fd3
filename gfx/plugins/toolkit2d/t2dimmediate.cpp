// Toolkit vertex batches drawn through the library's immediate mode, and the brush texture states.
#include "gfx/core/engine.h"
#include "gfx/core/texture.h"
#include "t2dinternal.h"

RwBool Rw2dImDraw(RwIm3DVertex *vertices, RwInt32 count, RwPrimitiveType primType, const RwUInt16 *indices,
                  RwInt32 numIndices, RwUInt32 flags)
{
    // The device-to-world matrix places the layer in front of the device
    // camera; immediate mode then transforms, clips and draws it like any 3D.
    RwMatrix *deviceToWorld = Rw2dDeviceGetTransform();
    if (!deviceToWorld || count <= 0 || count > rw2DVERTEXBUFFER ||
        !RwIm3DTransform(vertices, static_cast<RwUInt32>(count), deviceToWorld, flags))
        return FALSE;
    const RwBool drawn = RwIm3DRenderIndexedPrimitive(primType, const_cast<RwUInt16 *>(indices), numIndices);
    RwIm3DEnd();
    return drawn;
}

void Rw2dSetTextureStates(RwTexture *texture)
{
    RwRenderStateSetFunction set = RwEngineInstance ? RwEngineInstance->dOpenDevice.fpRenderStateSet : nullptr;
    if (!set)
        return;
    if (!texture) {
        set(1, nullptr);
        return;
    }
    set(1, texture->raster);
    set(9, reinterpret_cast<void *>(static_cast<uintptr_t>(texture->filterMode)));
    const RwUInt32 u = texture->addressing & 0x0F;
    const RwUInt32 v = texture->addressing >> 4;
    set(2, reinterpret_cast<void *>(static_cast<uintptr_t>(u == v ? u : 0)));
}
