// The blob shadow: a texture laid straight down onto the world's own triangles around a point.
#include "engine/CKivSimpleShadow.h"

#include "engine/CKivCamera.h"
#include "engine/KivShadowBatch.h"
#include "gfx/core/texture.h"
#include "gfx/core/vector.h"
#include "gfx/plugins/worldquery/worldquery.h"

namespace {

struct Blob {
    RwV3d centre;
    float radius;
};

RwCollisionTriangle *LayBlob(RwIntersection *, RwWorldSector *, RwCollisionTriangle *triangle, RwReal, void *data)
{
    const Blob *blob = static_cast<const Blob *>(data);
    // Facing down: dot(normal, (0, -1, 0)) > 0.
    if (-triangle->normal.y > 0.0f)
        return triangle;
    RwIm3DVertex vertices[3];
    for (int i = 0; i < 3; i++) {
        const RwV3d *v = triangle->vertices[i];
        RwIm3DVertex &out = vertices[i];
        out.objVertex = *v;
        RwV3dIncrementScaled(&out.objVertex, &triangle->normal, 0.1f);
        out.objNormal = triangle->normal;
        out.color = 0xFFFFFFFFu;
        out.u = (v->x - blob->centre.x) / (2.0f * blob->radius) + 0.5f;
        out.v = (v->z - blob->centre.z) / (2.0f * blob->radius) + 0.5f;
    }
    KivGetShadowBatch().Add(vertices);
    return triangle;
}

} // namespace

void CKivSimpleShadow::RenderShadow(RwWorld *world, const RwV3d *centre, float radius, float depth,
                                    RwTexture *texture, CKivCamera *camera)
{
    if (!world || !centre || !camera || !texture || !texture->raster || !(radius > 0.0f))
        return;
    if (!camera->BeginUpdate())
        return;
    KivShadowStatesBegin(texture->raster, 5, 6);
    Blob blob = {*centre, radius};
    RwIntersection box = {};
    box.type = rwINTERSECTBOX;
    box.t.box.sup = {centre->x + radius, centre->y, centre->z + radius};
    box.t.box.inf = {centre->x - radius, centre->y - depth, centre->z - radius};
    RwCollisionWorldForAllIntersections(world, &box, LayBlob, &blob);
    KivShadowStatesEnd();
    camera->EndUpdate();
}
