// The blob shadow: a texture laid straight down onto the world's own triangles around a point.
#pragma once

#include "gfx/core/rwtypes.h"

struct RwWorld;
struct RwTexture;
class CKivCamera;

class CKivSimpleShadow
{
public:
    CKivSimpleShadow() = default;
    virtual ~CKivSimpleShadow() = default;

    // Draws every shadow of the deriving class; the argument is its own business.
    virtual void DrawShadows(void *context) = 0;

    // Inside an update of the camera. Without a texture the blob is a
    // half-dark disc of the radius; with a radius of 0 or less nothing is drawn.
    void RenderShadow(RwWorld *world, const RwV3d *centre, float radius, float depth, RwTexture *texture,
                      CKivCamera *camera);
};
