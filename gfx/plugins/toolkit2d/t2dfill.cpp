// Filling and stroking paths: triangle strips of toolkit vertices with brush colours and UVs.
#include <cmath>

#include "t2dinternal.h"

namespace {

// Strips are drawn when this many vertices are pending.
const RwInt32 FillBatch = 254;
const RwInt32 StrokeBatch = 254;

// Index list 0, 1, 2, ... shared by every strip.
const RwUInt16 *StripIndices(void)
{
    static RwUInt16 indices[rw2DVERTEXBUFFER];
    static bool made = false;
    if (!made) {
        for (RwInt32 i = 0; i < rw2DVERTEXBUFFER; i++)
            indices[i] = static_cast<RwUInt16>(i);
        made = true;
    }
    return indices;
}

// Texture coordinates go with the batch only when the brush has a texture.
void DrawStrip(RwInt32 count, const Rw2dBrush *brush)
{
    if (count >= 3)
        Rw2dImDraw(rw2dGlobals.vertices, count, rwPRIMTYPETRISTRIP, StripIndices(), count,
                   brush->texture ? RwUInt32{rwIM3D_VERTEXUV} : 0u);
}

// Draws a full batch; the next strip starts on its last two vertices. Batches
// hold an even count, so the winding of the following triangles is unchanged.
RwInt32 ContinueStrip(RwInt32 pending, const Rw2dBrush *brush)
{
    RwIm3DVertex *v = rw2dGlobals.vertices;
    DrawStrip(pending, brush);
    v[0] = v[pending - 2];
    v[1] = v[pending - 1];
    return 2;
}

RwReal Finite(RwReal v)
{
    return std::isfinite(v) ? v : 0.0f;
}

// Bilinear blend of the brush's two sides at (s, t): t = 0 gives side B.
void FillVertex(RwIm3DVertex *v, const Rw2dBrush *brush, const Rw2dSegment &p, RwReal inset, const Rw2dBBox &box,
                RwReal kx, RwReal ky)
{
    const RwReal x = p.x - p.nx * inset, y = p.y - p.ny * inset;
    const RwReal s = Finite((x - box.minX) * kx), t = Finite((y - box.minY) * ky);
    v->objVertex = {x, y, rw2dGlobals.layerDepth};
    v->objNormal = {0.0f, 0.0f, 0.0f};
    if (brush->flags & rw2DBRUSHGRADIENT) {
        RwRGBAReal a, b;
        Rw2dBrushSideColor(brush, TRUE, s, &a);
        Rw2dBrushSideColor(brush, FALSE, s, &b);
        v->color = Rw2dPackColor((a.red - b.red) * t + b.red, (a.green - b.green) * t + b.green,
                                 (a.blue - b.blue) * t + b.blue, (a.alpha - b.alpha) * t + b.alpha);
    } else {
        v->color = Rw2dPackColor(brush->flat.red, brush->flat.green, brush->flat.blue, brush->flat.alpha);
    }
    const RwReal ua = brush->uvA.x + brush->duvA.x * s, va = brush->uvA.y + brush->duvA.y * s;
    const RwReal ub = brush->uvB.x + brush->duvB.x * s, vb = brush->uvB.y + brush->duvB.y * s;
    v->u = (ua - ub) * t + ub;
    v->v = (va - vb) * t + vb;
}

void StrokeVertex(RwIm3DVertex *v, const Rw2dBrush *brush, const Rw2dSegment &p, RwReal offset, RwBool sideA,
                  RwReal s)
{
    v->objVertex = {p.x + p.nx * offset, p.y + p.ny * offset, rw2dGlobals.layerDepth};
    v->objNormal = {0.0f, 0.0f, 0.0f};
    if (brush->flags & rw2DBRUSHGRADIENT) {
        RwRGBAReal c;
        Rw2dBrushSideColor(brush, sideA, s, &c);
        v->color = Rw2dPackColor(c.red, c.green, c.blue, c.alpha);
    } else {
        v->color = Rw2dPackColor(brush->flat.red, brush->flat.green, brush->flat.blue, brush->flat.alpha);
    }
    v->u = v->v = 0.0f;
    if (brush->flags & rw2DBRUSHUV) {
        const RwV2d &uv = sideA ? brush->uvA : brush->uvB;
        const RwV2d &d = sideA ? brush->duvA : brush->duvB;
        v->u = uv.x + d.x * s;
        v->v = uv.y + d.y * s;
    }
}

// A sub-path with curves is drawn from its flattened copy in the scratch path.
Rw2dPath *Drawable(Rw2dPath *sub)
{
    if (sub->flat)
        return sub;
    Rw2dPath *scratch = Rw2dPathGetScratch();
    if (!scratch || !Rw2dPathFlatten(scratch, sub))
        return nullptr;
    scratch->inset = sub->inset;
    return scratch;
}

} // namespace

Rw2dPath *Rw2dPathFillSubPath(Rw2dPath *path, Rw2dBrush *brush)
{
    if (!path || !brush || !Rw2dDeviceGetTransform())
        return nullptr;
    Rw2dPath *sub = Drawable(path);
    if (!sub)
        return nullptr;
    RwInt32 n = 0;
    const Rw2dSegment *s = Rw2dPathGetSegments(sub, &n);
    if (n < 2)
        return path;
    Rw2dBBox box = {s[0].x, s[0].y, s[0].x, s[0].y};
    Rw2dPathGetBBox(sub, &box);
    // A box without width or height has no area to spread the gradient over.
    const RwReal kx = box.maxX > box.minX ? 1.0f / (box.maxX - box.minX) : 0.0f;
    const RwReal ky = box.maxY > box.minY ? 1.0f / (box.maxY - box.minY) : 0.0f;
    Rw2dSetTextureStates(brush->texture);

    // Zig-zag from both ends: last, first, second-to-last, second, ...
    RwIm3DVertex *v = rw2dGlobals.vertices;
    RwInt32 pending = 0;
    RwInt32 lo = 0, hi = n - 1;
    for (RwInt32 k = 0; lo <= hi; k++) {
        const RwInt32 i = (k & 1) ? lo++ : hi--;
        FillVertex(&v[pending++], brush, s[i], sub->inset, box, kx, ky);
        if (pending >= FillBatch && lo <= hi)
            pending = ContinueStrip(pending, brush);
    }
    DrawStrip(pending, brush);
    return path;
}

Rw2dPath *Rw2dPathFill(Rw2dPath *path, Rw2dBrush *brush)
{
    if (!path || !brush)
        return nullptr;
    for (Rw2dPath *p = path; p; p = p->next)
        if (p->closed)
            Rw2dPathFillSubPath(p, brush);
    return path;
}

Rw2dPath *Rw2dPathStroke(Rw2dPath *path, Rw2dBrush *brush)
{
    if (!path || !brush || !Rw2dDeviceGetTransform())
        return nullptr;
    Rw2dSetTextureStates(brush->texture);
    for (Rw2dPath *p = path; p; p = p->next) {
        Rw2dPath *sub = Drawable(p);
        if (!sub)
            continue;
        RwInt32 n = 0;
        const Rw2dSegment *s = Rw2dPathGetSegments(sub, &n);
        if (n < 2)
            continue;
        const RwReal w = brush->halfWidth, inset = sub->inset;
        const RwReal total = s[n - 1].distance;
        RwIm3DVertex *v = rw2dGlobals.vertices;
        RwInt32 pending = 0;
        for (RwInt32 i = 0; i < n; i++) {
            const RwReal t = total > 0.0f ? Finite(s[i].distance / total) : 0.0f;
            StrokeVertex(&v[pending++], brush, s[i], -(inset + w), TRUE, t);
            StrokeVertex(&v[pending++], brush, s[i], w - inset, FALSE, t);
            if (pending >= StrokeBatch && i + 1 < n)
                pending = ContinueStrip(pending, brush);
        }
        DrawStrip(pending, brush);
    }
    return path;
}
