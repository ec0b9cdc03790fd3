// The blob shadow: a texture laid straight down onto the world's own triangles around a point.
#include "engine/CKivSimpleShadow.h"

#include "engine/CKivCamera.h"
#include "engine/KivShadowBatch.h"
#include "gfx/core/texture.h"
#include "gfx/core/vector.h"
#include "gfx/plugins/worldquery/worldquery.h"

namespace {

// Without a texture the blob is this colour (black at half strength) on the
// part of each triangle inside an octagon around the circle of the radius.
const RwUInt32 kBlobColour = 0x80000000u;
const int kOctagonSides = 8;
const int kMaxClipped = 3 + kOctagonSides;   // each side adds at most one corner
const float kDiagonal = 0.70710678f;
// The outward normals of the octagon's sides in the ground plane (x, z).
const float kSideNormals[kOctagonSides][2] = {{1, 0},  {kDiagonal, kDiagonal},   {0, 1},  {-kDiagonal, kDiagonal},
                                              {-1, 0}, {-kDiagonal, -kDiagonal}, {0, -1}, {kDiagonal, -kDiagonal}};

struct Blob {
    RwV3d centre;
    float radius;
    bool textured;
};

RwIm3DVertex BlobVertex(const Blob &blob, const RwV3d &position, const RwV3d &normal, RwUInt32 colour)
{
    RwIm3DVertex out;
    out.objVertex = position;
    RwV3dIncrementScaled(&out.objVertex, &normal, 0.1f);
    out.objNormal = normal;
    out.color = colour;
    out.u = (position.x - blob.centre.x) / (2.0f * blob.radius) + 0.5f;
    out.v = (position.z - blob.centre.z) / (2.0f * blob.radius) + 0.5f;
    return out;
}

// Cuts the polygon down to the part inside the octagon (seen from above); the corners left.
int ClipToOctagon(const Blob &blob, RwV3d *polygon, int count)
{
    RwV3d kept[kMaxClipped];
    for (int side = 0; side < kOctagonSides && count >= 3; side++) {
        const float nx = kSideNormals[side][0], nz = kSideNormals[side][1];
        auto outside = [&](const RwV3d &p) {
            return (p.x - blob.centre.x) * nx + (p.z - blob.centre.z) * nz - blob.radius;
        };
        int n = 0;
        for (int i = 0; i < count; i++) {
            const RwV3d &p = polygon[i], &q = polygon[(i + 1) % count];
            const float dp = outside(p), dq = outside(q);
            if (dp <= 0.0f)
                kept[n++] = p;
            if ((dp <= 0.0f) != (dq <= 0.0f)) {
                const float t = dp / (dp - dq);
                kept[n++] = {p.x + t * (q.x - p.x), p.y + t * (q.y - p.y), p.z + t * (q.z - p.z)};
            }
        }
        for (int i = 0; i < n; i++)
            polygon[i] = kept[i];
        count = n;
    }
    return count >= 3 ? count : 0;
}

RwCollisionTriangle *LayBlob(RwIntersection *, RwWorldSector *, RwCollisionTriangle *triangle, RwReal, void *data)
{
    const Blob *blob = static_cast<const Blob *>(data);
    // Facing down: dot(normal, (0, -1, 0)) > 0.
    if (-triangle->normal.y > 0.0f)
        return triangle;
    if (blob->textured) {
        RwIm3DVertex vertices[3];
        for (int i = 0; i < 3; i++)
            vertices[i] = BlobVertex(*blob, *triangle->vertices[i], triangle->normal, 0xFFFFFFFFu);
        KivGetShadowBatch().Add(vertices);
        return triangle;
    }
    // A triangle wider than the blob would be darkened whole: only its part under the blob is drawn.
    RwV3d polygon[kMaxClipped] = {*triangle->vertices[0], *triangle->vertices[1], *triangle->vertices[2]};
    const int corners = ClipToOctagon(*blob, polygon, 3);
    for (int i = 1; i + 1 < corners; i++) {
        const RwIm3DVertex fan[3] = {BlobVertex(*blob, polygon[0], triangle->normal, kBlobColour),
                                     BlobVertex(*blob, polygon[i], triangle->normal, kBlobColour),
                                     BlobVertex(*blob, polygon[i + 1], triangle->normal, kBlobColour)};
        KivGetShadowBatch().Add(fan);
    }
    return triangle;
}

} // namespace

void CKivSimpleShadow::RenderShadow(RwWorld *world, const RwV3d *centre, float radius, float depth,
                                    RwTexture *texture, CKivCamera *camera)
{
    if (!world || !centre || !camera || !(radius > 0.0f))
        return;
    if (!camera->BeginUpdate())
        return;
    // Without a texture no raster is bound: the blob is drawn in its own colour.
    RwRaster *raster = texture ? texture->raster : nullptr;
    KivShadowStatesBegin(raster, 5, 6);
    Blob blob = {*centre, radius, raster != nullptr};
    RwIntersection box = {};
    box.type = rwINTERSECTBOX;
    box.t.box.sup = {centre->x + radius, centre->y, centre->z + radius};
    box.t.box.inf = {centre->x - radius, centre->y - depth, centre->z - radius};
    RwCollisionWorldForAllIntersections(world, &box, LayBlob, &blob);
    KivShadowStatesEnd();
    camera->EndUpdate();
}
