// Picking lines: the segment from the near to the far clip plane under one pixel of a camera.
#include "gfx/core/camera.h"
#include "gfx/core/raster.h"
#include "gfx/core/vector.h"
#include "worldquery.h"

// The point at depth z along the camera's at axis that lands on the screen
// fraction (u, v), inverting the camera's view matrix: screen x grows against
// the right axis and screen y against the up axis; a perspective eye sits at
// (-offset.x, offset.y) in the camera's plane, a parallel view shears by the
// offset towards depth 1.
static void PointAtDepth(const RwCamera *camera, const RwMatrix *m, RwReal u, RwReal v, RwReal z, RwV3d *out)
{
    const RwV2d &w = camera->viewWindow;
    const RwV2d &o = camera->viewOffset;
    RwReal x, y;
    if (camera->projectionType == rwPARALLEL) {
        x = (1.0f - 2.0f * u) * w.x - o.x * (1.0f - z);
        y = (1.0f - 2.0f * v) * w.y + o.y * (1.0f - z);
    } else {
        x = (1.0f - 2.0f * u) * w.x * z + o.x * (z - 1.0f);
        y = (1.0f - 2.0f * v) * w.y * z - o.y * (z - 1.0f);
    }
    *out = m->pos;
    RwV3dIncrementScaled(out, &m->right, x);
    RwV3dIncrementScaled(out, &m->up, y);
    RwV3dIncrementScaled(out, &m->at, z);
}

RwLine *RwCameraComputePixelRay(const RwCamera *camera, RwLine *line, const RwV2d *pixel)
{
    if (!camera || !line || !pixel || !camera->frameBuffer || camera->frameBuffer->width <= 0 ||
        camera->frameBuffer->height <= 0) {
        return nullptr;
    }
    RwMatrix identity;
    RwFrame *frame = RwCameraGetFrame(camera);
    const RwMatrix *m = frame ? RwFrameGetWorldMatrix(frame) : RwMatrixSetIdentity(&identity);
    const RwReal u = pixel->x / static_cast<RwReal>(camera->frameBuffer->width);
    const RwReal v = pixel->y / static_cast<RwReal>(camera->frameBuffer->height);
    PointAtDepth(camera, m, u, v, camera->nearPlane, &line->start);
    PointAtDepth(camera, m, u, v, camera->farPlane, &line->end);
    return line;
}
