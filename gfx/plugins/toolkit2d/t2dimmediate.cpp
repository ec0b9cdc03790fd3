// Toolkit vertices projected through the device camera onto the immediate 2D entry points.
#include "gfx/core/engine.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/core/vector.h"
#include "t2dinternal.h"

namespace {

// Screen-space vertex as the device block's 2D entries take it.
struct ScreenVertex {
    RwReal x, y, z, recipZ;
    RwUInt32 color;
    RwReal u, v;
};
static_assert(sizeof(ScreenVertex) == 28, "2D vertex is 28 bytes");

// Camera space to the camera raster's pixels, with the camera's depth mapping.
void Project(const RwCamera *camera, RwReal width, RwReal height, const RwV3d &p, ScreenVertex *out)
{
    const RwBool parallel = camera->projectionType == rwPARALLEL;
    const RwReal w = parallel ? 1.0f : p.z;
    const RwReal recip = w != 0.0f ? 1.0f / w : 0.0f;
    // Camera x grows to the left of the screen.
    const RwReal nx = camera->recipViewWindow.x * (-p.x * recip + camera->viewOffset.x * (p.z * recip - recip));
    const RwReal ny = camera->recipViewWindow.y * (p.y * recip + camera->viewOffset.y * (p.z * recip - recip));
    out->x = (nx + 1.0f) * 0.5f * width;
    out->y = (1.0f - ny) * 0.5f * height;
    out->z = parallel ? p.z * camera->zScale + camera->zShift : recip * camera->zScale + camera->zShift;
    out->recipZ = recip;
}

} // namespace

RwBool Rw2dImDraw(const Rw2dVertex *vertices, RwInt32 count, RwInt32 primType, const RwUInt16 *indices,
                  RwInt32 numIndices)
{
    const RwCamera *camera = rw2dGlobals.camera;
    RwMatrix *deviceToWorld = Rw2dDeviceGetTransform();
    if (!camera || !deviceToWorld || !RwEngineInstance || count <= 0 || count > rw2DVERTEXBUFFER)
        return FALSE;
    const RwDevice &device = RwEngineInstance->dOpenDevice;
    // The device transformation ends in the camera's own space.
    const RwMatrix *toCamera = &rw2dGlobals.device;
    const RwReal width = static_cast<RwReal>(camera->frameBuffer->width);
    const RwReal height = static_cast<RwReal>(camera->frameBuffer->height);
    ScreenVertex screen[rw2DVERTEXBUFFER];
    for (RwInt32 i = 0; i < count; i++) {
        RwV3d p;
        RwV3dTransformPoint(&p, &vertices[i].position, toCamera);
        Project(camera, width, height, p, &screen[i]);
        screen[i].color = vertices[i].color;
        screen[i].u = vertices[i].u;
        screen[i].v = vertices[i].v;
    }
    if (indices) {
        if (!device.fpIm2DRenderIndexedPrimitive)
            return FALSE;
        return device.fpIm2DRenderIndexedPrimitive(primType, screen, count, const_cast<RwUInt16 *>(indices),
                                                   numIndices);
    }
    if (!device.fpIm2DRenderPrimitive)
        return FALSE;
    return device.fpIm2DRenderPrimitive(primType, screen, count);
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
