// 2D brushes: corner colours and UVs, texture, stroke width, shared by reference count.
#include <cstring>

#include "gfx/core/texture.h"
#include "t2dinternal.h"

RwBool Rw2dBrushModuleOpen(void)
{
    rw2dGlobals.brushList =
        RwFreeListCreateAndPreallocate(sizeof(Rw2dBrush), 8, 16, 1, nullptr, rwMEMHINT_2DMODULE);
    return rw2dGlobals.brushList != nullptr;
}

void Rw2dBrushModuleClose(void)
{
    Rw2dFreeListClose(&rw2dGlobals.brushList);
}

Rw2dBrush *Rw2dBrushCreate(void)
{
    Rw2dBrush *b = static_cast<Rw2dBrush *>(Rw2dTake(rw2dGlobals.brushList));
    if (!b)
        return nullptr;
    std::memset(b, 0, sizeof(*b));
    const RwRGBA white = {255, 255, 255, 255};
    const RwV2d zero = {0.0f, 0.0f};
    Rw2dBrushSetRGBA(b, &white, &white, &white, &white);
    Rw2dBrushSetUV(b, &zero, &zero, &zero, &zero);
    b->halfWidth = 0.5f;
    b->refCount = 1;
    return b;
}

Rw2dBrush *Rw2dBrushAddRef(Rw2dBrush *brush)
{
    if (brush)
        brush->refCount++;
    return brush;
}

RwBool Rw2dBrushDestroy(Rw2dBrush *brush)
{
    if (!brush || --brush->refCount > 0)
        return FALSE;
    if (brush->texture)
        RwTextureDestroy(brush->texture);
    RwFreeListFree(rw2dGlobals.brushList, brush);
    return TRUE;
}

static RwRGBAReal Real(const RwRGBA *c)
{
    return {static_cast<RwReal>(c->red), static_cast<RwReal>(c->green), static_cast<RwReal>(c->blue),
            static_cast<RwReal>(c->alpha)};
}

static RwRGBAReal Sub(const RwRGBAReal &a, const RwRGBAReal &b)
{
    return {a.red - b.red, a.green - b.green, a.blue - b.blue, a.alpha - b.alpha};
}

static RwBool IsZero(const RwRGBAReal &c)
{
    return c.red == 0.0f && c.green == 0.0f && c.blue == 0.0f && c.alpha == 0.0f;
}

Rw2dBrush *Rw2dBrushSetRGBA(Rw2dBrush *brush, const RwRGBA *c1, const RwRGBA *c2, const RwRGBA *c3,
                            const RwRGBA *c4)
{
    if (!brush || !c1 || !c2 || !c3 || !c4)
        return nullptr;
    brush->colorA = Real(c4);
    brush->deltaA = Sub(Real(c3), Real(c4));
    brush->colorB = Real(c1);
    brush->deltaB = Sub(Real(c2), Real(c1));
    brush->flat = *c4;
    const RwBool same = std::memcmp(c1, c4, sizeof(RwRGBA)) == 0;
    if (IsZero(brush->deltaA) && IsZero(brush->deltaB) && same)
        brush->flags &= ~rw2DBRUSHGRADIENT;
    else
        brush->flags |= rw2DBRUSHGRADIENT;
    return brush;
}

Rw2dBrush *Rw2dBrushSetUV(Rw2dBrush *brush, const RwV2d *uv1, const RwV2d *uv2, const RwV2d *uv3,
                          const RwV2d *uv4)
{
    if (!brush || !uv1 || !uv2 || !uv3 || !uv4)
        return nullptr;
    brush->uvA = *uv4;
    brush->duvA = {uv3->x - uv4->x, uv3->y - uv4->y};
    brush->uvB = *uv1;
    brush->duvB = {uv2->x - uv1->x, uv2->y - uv1->y};
    if (brush->duvA.x == 0.0f && brush->duvA.y == 0.0f && brush->duvB.x == 0.0f && brush->duvB.y == 0.0f)
        brush->flags &= ~rw2DBRUSHUV;
    else
        brush->flags |= rw2DBRUSHUV;
    return brush;
}

Rw2dBrush *Rw2dBrushSetTexture(Rw2dBrush *brush, RwTexture *texture)
{
    if (!brush)
        return nullptr;
    if (texture) {
        RwTextureAddRef(texture);
        brush->flags |= rw2DBRUSHUV;
    } else {
        brush->flags &= ~rw2DBRUSHUV;
    }
    if (brush->texture)
        RwTextureDestroy(brush->texture);
    brush->texture = texture;
    return brush;
}

Rw2dBrush *Rw2dBrushSetWidth(Rw2dBrush *brush, RwReal halfWidth)
{
    if (brush)
        brush->halfWidth = halfWidth;
    return brush;
}

static RwReal Clamp255(RwReal v)
{
    return v < 0.0f ? 0.0f : (v > 255.0f ? 255.0f : v);
}

// Colours take multiplier and offset and stay in 0..255; the deltas between
// corners are scaled only and keep their sign, so a gradient survives.
Rw2dBrush *Rw2dBrushApplyColorTransform(Rw2dBrush *brush, const RwRGBAReal *m, const RwRGBAReal *o)
{
    if (!brush || !m || !o)
        return nullptr;
    auto colour = [&](RwRGBAReal &c) {
        c = {Clamp255(c.red * m->red + o->red), Clamp255(c.green * m->green + o->green),
             Clamp255(c.blue * m->blue + o->blue), Clamp255(c.alpha * m->alpha + o->alpha)};
    };
    auto delta = [&](RwRGBAReal &c) {
        c = {c.red * m->red, c.green * m->green, c.blue * m->blue, c.alpha * m->alpha};
    };
    colour(brush->colorA);
    colour(brush->colorB);
    delta(brush->deltaA);
    delta(brush->deltaB);
    brush->flat = {static_cast<RwUInt8>(brush->colorA.red), static_cast<RwUInt8>(brush->colorA.green),
                   static_cast<RwUInt8>(brush->colorA.blue), static_cast<RwUInt8>(brush->colorA.alpha)};
    return brush;
}

void Rw2dBrushSaveColors(const Rw2dBrush *brush, Rw2dBrushColors *saved)
{
    *saved = {brush->colorA, brush->deltaA, brush->colorB, brush->deltaB, brush->flat};
}

void Rw2dBrushRestoreColors(Rw2dBrush *brush, const Rw2dBrushColors *saved)
{
    brush->colorA = saved->colorA;
    brush->deltaA = saved->deltaA;
    brush->colorB = saved->colorB;
    brush->deltaB = saved->deltaB;
    brush->flat = saved->flat;
}

RwUInt32 Rw2dPackColor(RwReal r, RwReal g, RwReal b, RwReal a)
{
    auto byte = [](RwReal v) -> RwUInt32 { return static_cast<RwUInt32>(Clamp255(v == v ? v : 0.0f)); };
    return byte(a) << 24 | byte(r) << 16 | byte(g) << 8 | byte(b);
}

void Rw2dBrushSideColor(const Rw2dBrush *brush, RwBool sideA, RwReal s, RwRGBAReal *out)
{
    const RwRGBAReal &c = sideA ? brush->colorA : brush->colorB;
    const RwRGBAReal &d = sideA ? brush->deltaA : brush->deltaB;
    *out = {c.red + d.red * s, c.green + d.green * s, c.blue + d.blue * s, c.alpha + d.alpha * s};
}
