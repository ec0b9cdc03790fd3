// 2D objects: the common record, its operations and the render protocol.
#include <cstring>

#include "gfx/core/engine.h"
#include "t2dinternal.h"

RwBool Rw2dObjectModuleOpen(void)
{
    rw2dGlobals.objectList =
        RwFreeListCreateAndPreallocate(sizeof(Rw2dObject), 32, 16, 1, nullptr, rwMEMHINT_2DMODULE);
    return rw2dGlobals.objectList != nullptr;
}

void Rw2dObjectModuleClose(void)
{
    Rw2dFreeListClose(&rw2dGlobals.objectList);
}

Rw2dObject *Rw2dObjectAlloc(void)
{
    return static_cast<Rw2dObject *>(Rw2dTake(rw2dGlobals.objectList));
}

void Rw2dObjectFree(Rw2dObject *object)
{
    if (object && rw2dGlobals.objectList)
        RwFreeListFree(rw2dGlobals.objectList, object);
}

Rw2dObject *Rw2dObjectInit(Rw2dObject *object, RwInt32 type)
{
    if (!object)
        return nullptr;
    std::memset(object, 0, sizeof(*object));
    object->type = type;
    object->depth = rw2DOBJECTDEPTH;
    object->flags = rw2DOBJECTFLAGMATRIXCHANGED | rw2DOBJECTFLAGVISIBLE;
    RwMatrixSetIdentity(&object->matrix);
    RwMatrixSetIdentity(&object->absMatrix);
    object->colorMult = {1.0f, 1.0f, 1.0f, 1.0f};
    object->colorOffs = {0.0f, 0.0f, 0.0f, 0.0f};
    return object;
}

Rw2dObject *Rw2dObjectCopy(Rw2dObject *to, const Rw2dObject *from)
{
    if (!to || !from)
        return nullptr;
    std::memcpy(to, from, sizeof(*to));
    return to;
}

RwBool Rw2dObjectDestroyInPlace(Rw2dObject *object)
{
    if (!object)
        return FALSE;
    switch (object->type) {
    case rw2DOBJECTSCENE: return Rw2dSceneDestroyInPlace(object);
    case rw2DOBJECTSHAPE: return Rw2dShapeDestroyInPlace(object);
    case rw2DOBJECTPICKREGION: return Rw2dPickRegionDestroyInPlace(object);
    case rw2DOBJECTSTRING: return Rw2dStringDestroyInPlace(object);
    default: return FALSE;
    }
}

RwBool Rw2dObjectDestroy(Rw2dObject *object)
{
    if (!Rw2dObjectDestroyInPlace(object))
        return FALSE;
    Rw2dObjectFree(object);
    return TRUE;
}

Rw2dObject *Rw2dObjectRender(Rw2dObject *object, const RwRGBAReal *parentMult, const RwRGBAReal *parentOffs)
{
    if (!object)
        return nullptr;
    static const RwRGBAReal one = {1.0f, 1.0f, 1.0f, 1.0f};
    static const RwRGBAReal zero = {0.0f, 0.0f, 0.0f, 0.0f};
    const RwRGBAReal *mult = parentMult ? parentMult : &one;
    const RwRGBAReal *offs = parentOffs ? parentOffs : &zero;
    switch (object->type) {
    case 0: return object;
    case rw2DOBJECTSCENE: return Rw2dSceneRenderKind(object, mult, offs);
    case rw2DOBJECTSHAPE: return Rw2dShapeRenderKind(object, mult, offs);
    case rw2DOBJECTPICKREGION: return Rw2dPickRegionRenderKind(object, mult, offs);
    case rw2DOBJECTSTRING: return Rw2dStringRenderKind(object, mult, offs);
    default: return nullptr;
    }
}

RwBool Rw2dObjectBeginRender(Rw2dObject *object, RwBool *recomputed)
{
    *recomputed = FALSE;
    if (!(object->flags & rw2DOBJECTFLAGVISIBLE))
        return FALSE;
    // A transformation that cannot be pushed draws nothing and pops nothing.
    if (object->flags & rw2DOBJECTFLAGMATRIXCHANGED) {
        if (!Rw2dCTMPushConcat(&object->matrix))
            return FALSE;
        RwMatrixCopy(&object->absMatrix, Rw2dCTMRead());
        object->flags &= ~rw2DOBJECTFLAGMATRIXCHANGED;
        *recomputed = TRUE;
        return TRUE;
    }
    return Rw2dCTMPushSet(&object->absMatrix);
}

void Rw2dObjectEffectiveColor(const Rw2dObject *object, const RwRGBAReal *pm, const RwRGBAReal *po,
                              RwRGBAReal *mult, RwRGBAReal *offs)
{
    const RwRGBAReal &m = object->colorMult;
    const RwRGBAReal &o = object->colorOffs;
    *mult = {m.red * pm->red, m.green * pm->green, m.blue * pm->blue, m.alpha * pm->alpha};
    *offs = {o.red * pm->red + po->red * 255.0f, o.green * pm->green + po->green * 255.0f,
             o.blue * pm->blue + po->blue * 255.0f, o.alpha * pm->alpha + po->alpha * 255.0f};
}

Rw2dObject *Rw2dObjectSetVisible(Rw2dObject *object, RwInt32 flag)
{
    if (!object)
        return nullptr;
    if (flag == 1)
        object->flags |= rw2DOBJECTFLAGVISIBLE;
    else
        object->flags &= ~rw2DOBJECTFLAGVISIBLE;
    return object;
}

RwMatrix *Rw2dObjectGetMatrix(Rw2dObject *object)
{
    return object ? &object->matrix : nullptr;
}

Rw2dObject *Rw2dObjectMarkMatrixChanged(Rw2dObject *object)
{
    if (object)
        object->flags |= rw2DOBJECTFLAGMATRIXCHANGED;
    return object;
}

Rw2dObject *Rw2dObjectSetIdentity(Rw2dObject *object)
{
    if (!object)
        return nullptr;
    RwMatrixSetIdentity(&object->matrix);
    return Rw2dObjectMarkMatrixChanged(object);
}

Rw2dObject *Rw2dObjectScale(Rw2dObject *object, RwReal sx, RwReal sy)
{
    if (!object)
        return nullptr;
    const RwV3d s = {sx, sy, 1.0f};
    RwMatrixScale(&object->matrix, &s, rwCOMBINEPRECONCAT);
    return Rw2dObjectMarkMatrixChanged(object);
}

Rw2dObject *Rw2dObjectTranslate(Rw2dObject *object, RwReal tx, RwReal ty)
{
    if (!object)
        return nullptr;
    const RwV3d t = {tx, ty, 0.0f};
    RwMatrixTranslate(&object->matrix, &t, rwCOMBINEPRECONCAT);
    return Rw2dObjectMarkMatrixChanged(object);
}

Rw2dObject *Rw2dObjectRotate(Rw2dObject *object, RwReal degrees)
{
    if (!object)
        return nullptr;
    const RwV3d axis = {0.0f, 0.0f, 1.0f};
    RwMatrixRotate(&object->matrix, &axis, degrees, rwCOMBINEPRECONCAT);
    return Rw2dObjectMarkMatrixChanged(object);
}

RwRGBAReal *Rw2dObjectGetColorMultiplier(Rw2dObject *object)
{
    return object ? &object->colorMult : nullptr;
}

Rw2dObject *Rw2dObjectSetColorMultiplier(Rw2dObject *object, const RwRGBAReal *multiplier)
{
    if (!object || !multiplier)
        return nullptr;
    object->colorMult = *multiplier;
    object->flags |= rw2DOBJECTFLAGCOLORCHANGED;
    return object;
}
