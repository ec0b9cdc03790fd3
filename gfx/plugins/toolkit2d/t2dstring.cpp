// Text strings and pick regions: the two object kinds the system itself never creates.
#include <cstring>

#include "font2d.h"
#include "gfx/core/engine.h"
#include "gfx/core/vector.h"
#include "t2dinternal.h"

RwBool Rw2dStringModuleOpen(void)
{
    Rw2dGlobals &g = rw2dGlobals;
    g.string8List = RwFreeListCreateAndPreallocate(8, 32, 4, 1, nullptr, rwMEMHINT_2DMODULE);
    g.string20List = RwFreeListCreateAndPreallocate(20, 32, 4, 1, nullptr, rwMEMHINT_2DMODULE);
    if (g.string8List && g.string20List)
        return TRUE;
    Rw2dStringModuleClose();
    return FALSE;
}

void Rw2dStringModuleClose(void)
{
    Rw2dGlobals &g = rw2dGlobals;
    Rw2dFreeListClose(&g.string8List);
    Rw2dFreeListClose(&g.string20List);
}

Rw2dObject *Rw2dStringCreate(Rw2dFont *font, const RwChar *string, RwInt32 bytes, RwReal height, Rw2dBrush *brush)
{
    if (!font || !string || !brush || bytes < 0 || !rw2dGlobals.string8List)
        return nullptr;
    Rw2dObject *object = Rw2dObjectInit(Rw2dObjectAlloc(), rw2DOBJECTSTRING);
    if (!object)
        return nullptr;
    // Two zero bytes end the copy whatever the font's unit size.
    RwChar *copy = static_cast<RwChar *>(RwMalloc(static_cast<size_t>(bytes) + 2, rwMEMHINT_2DOBJECT));
    Rw2dFontRef *ref = static_cast<Rw2dFontRef *>(Rw2dTake(rw2dGlobals.string8List));
    if (!copy || !ref) {
        RwFree(copy);
        if (ref)
            RwFreeListFree(rw2dGlobals.string8List, ref);
        Rw2dObjectFree(object);
        return nullptr;
    }
    std::memcpy(copy, string, static_cast<size_t>(bytes));
    copy[bytes] = copy[bytes + 1] = 0;
    *ref = {nullptr, font};
    *Rw2dStringGetData(object) = {copy, Rw2dBrushAddRef(brush), height, ref};
    return object;
}

RwBool Rw2dStringDestroyInPlace(Rw2dObject *object)
{
    Rw2dStringData *d = Rw2dStringGetData(object);
    if (d->string)
        RwFree(d->string);
    if (d->brush)
        Rw2dBrushDestroy(d->brush);
    if (d->fontRef && rw2dGlobals.string8List)
        RwFreeListFree(rw2dGlobals.string8List, d->fontRef);
    *d = {nullptr, nullptr, 0.0f, nullptr};
    return TRUE;
}

Rw2dObject *Rw2dStringRenderKind(Rw2dObject *object, const RwRGBAReal *pm, const RwRGBAReal *po)
{
    if (object->flags & rw2DOBJECTFLAGSTRINGHIDDEN)
        return object;
    Rw2dStringData *d = Rw2dStringGetData(object);
    // Nothing to draw with: no string, font or brush.
    if (!d->string || !d->brush || !d->fontRef || !d->fontRef->font)
        return object;
    RwBool recomputed;
    if (!Rw2dObjectBeginRender(object, &recomputed))
        return object;
    RwRGBAReal mult, offs;
    Rw2dObjectEffectiveColor(object, pm, po, &mult, &offs);
    Rw2dBrushColors saved;
    Rw2dBrushSaveColors(d->brush, &saved);
    Rw2dBrushApplyColorTransform(d->brush, &mult, &offs);
    RwV2d anchor = {0.0f, 0.0f};
    Rw2dFontShow(d->fontRef->font, d->string, d->height, &anchor, d->brush);
    Rw2dCTMPop();
    Rw2dBrushRestoreColors(d->brush, &saved);
    return object;
}

// Pick regions ------------------------------------------------------------------------------------

Rw2dObject *Rw2dPickRegionCreate(Rw2dPath *path)
{
    if (!path)
        return nullptr;
    Rw2dObject *object = Rw2dObjectInit(Rw2dObjectAlloc(), rw2DOBJECTPICKREGION);
    if (!object)
        return nullptr;
    Rw2dPickRegionData *d = Rw2dPickRegionGetData(object);
    d->path = path;
    RwMatrixSetIdentity(&d->inverse);
    return object;
}

RwBool Rw2dPickRegionDestroyInPlace(Rw2dObject *object)
{
    Rw2dPickRegionData *d = Rw2dPickRegionGetData(object);
    if (d->path)
        Rw2dPathDestroy(d->path);
    d->path = nullptr;
    return TRUE;
}

Rw2dObject *Rw2dPickRegionRenderKind(Rw2dObject *object, const RwRGBAReal *, const RwRGBAReal *)
{
    RwBool recomputed;
    if (!Rw2dObjectBeginRender(object, &recomputed))
        return object;
    if (recomputed)
        RwMatrixInvert(&Rw2dPickRegionGetData(object)->inverse, &object->absMatrix);
    Rw2dCTMPop();
    return object;
}

// Even-odd crossing test over every closed sub-path, in the region's own space.
RwBool Rw2dPickRegionIsPointIn(Rw2dObject *region, const RwV2d *point)
{
    if (!region || region->type != rw2DOBJECTPICKREGION || !point)
        return FALSE;
    Rw2dPickRegionData *d = Rw2dPickRegionGetData(region);
    const RwV3d in = {point->x, point->y, 0.0f};
    RwV3d p;
    RwV3dTransformPoint(&p, &in, &d->inverse);
    RwBool inside = FALSE;
    for (Rw2dPath *sub = d->path; sub; sub = sub->next) {
        RwInt32 n = 0;
        const Rw2dSegment *s = Rw2dPathGetSegments(sub, &n);
        for (RwInt32 i = 0, j = n - 1; sub->closed && i < n; j = i++) {
            if ((s[i].y > p.y) != (s[j].y > p.y) &&
                p.x < (s[j].x - s[i].x) * (p.y - s[i].y) / (s[j].y - s[i].y) + s[i].x)
                inside = !inside;
        }
    }
    return inside;
}
