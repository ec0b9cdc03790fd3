// 2D scenes: objects that hold other objects and draw them in depth order.
#include <cstring>

#include "gfx/core/engine.h"
#include "t2dinternal.h"

namespace {

Rw2dSceneData *Data(Rw2dObject *scene)
{
    return scene && scene->type == rw2DOBJECTSCENE ? Rw2dSceneGetData(scene) : nullptr;
}

RwBool IsLocked(const Rw2dObject *scene)
{
    return (scene->flags & rw2DOBJECTFLAGKIND) != 0;
}

// Child i of a scene as stored (pointer or inline record).
Rw2dObject *StoredChild(Rw2dObject *scene, RwInt32 i)
{
    Rw2dSceneData *d = Rw2dSceneGetData(scene);
    if (IsLocked(scene))
        return static_cast<Rw2dObject **>(d->children->data)[i];
    return static_cast<Rw2dObject *>(d->children->data) + i;
}

// TRUE when `wanted` is `object` or lies anywhere below it.
RwBool Contains(Rw2dObject *object, const Rw2dObject *wanted, RwInt32 depth)
{
    if (object == wanted)
        return TRUE;
    if (object->type != rw2DOBJECTSCENE || depth > 64)
        return FALSE;
    Rw2dSceneData *d = Rw2dSceneGetData(object);
    for (RwInt32 i = 0; d->children && i < d->count; i++)
        if (Contains(StoredChild(object, i), wanted, depth + 1))
            return TRUE;
    return FALSE;
}

RwBool BuildIndex(Rw2dObject *scene)
{
    Rw2dSceneData *d = Rw2dSceneGetData(scene);
    RwGrowArray *index = RwGrowArrayCreate(sizeof(Rw2dDepthEntry), rwMEMHINT_2DOBJECT);
    if (!index)
        return FALSE;
    if (d->count > 0) {
        Rw2dDepthEntry *e =
            static_cast<Rw2dDepthEntry *>(RwGrowArrayAppendMany(index, d->count, rwMEMHINT_2DOBJECT));
        if (!e) {
            RwGrowArrayDestroy(index);
            return FALSE;
        }
        for (RwInt32 i = 0; i < d->count; i++)
            e[i] = {StoredChild(scene, i), StoredChild(scene, i)->depth};
        for (RwInt32 i = 0; i < d->count; i++)
            for (RwInt32 j = i + 1; j < d->count; j++)
                if (e[j].depth < e[i].depth) {
                    const Rw2dDepthEntry t = e[i];
                    e[i] = e[j];
                    e[j] = t;
                }
    }
    d->depthIndex = index;
    d->resort = 0;
    return TRUE;
}

} // namespace

Rw2dObject *Rw2dSceneCreate(void)
{
    Rw2dObject *scene = Rw2dObjectInit(Rw2dObjectAlloc(), rw2DOBJECTSCENE);
    if (!scene)
        return nullptr;
    Rw2dSceneData *d = Rw2dSceneGetData(scene);
    d->children = RwGrowArrayCreate(sizeof(Rw2dObject *), rwMEMHINT_2DOBJECT);
    if (!d->children) {
        Rw2dObjectFree(scene);
        return nullptr;
    }
    scene->flags |= rw2DOBJECTFLAGKIND;
    return scene;
}

Rw2dObject *Rw2dSceneAddChild(Rw2dObject *scene, Rw2dObject *object)
{
    Rw2dSceneData *d = Data(scene);
    if (!d || !object || !IsLocked(scene))
        return nullptr;
    // Twice in one scene, or a scene inside itself, would be destroyed twice
    // or drawn without end.
    for (RwInt32 i = 0; i < d->count; i++)
        if (StoredChild(scene, i) == object)
            return nullptr;
    if (Contains(object, scene, 0))
        return nullptr;
    Rw2dObject **slot = static_cast<Rw2dObject **>(RwGrowArrayAppend(d->children, rwMEMHINT_2DOBJECT));
    if (!slot)
        return nullptr;
    *slot = object;
    d->count++;
    return scene;
}

Rw2dObject *Rw2dSceneLock(Rw2dObject *scene)
{
    Rw2dSceneData *d = Data(scene);
    if (!d)
        return nullptr;
    if (IsLocked(scene))
        return scene;
    RwGrowArray *pointers = RwGrowArrayCreate(sizeof(Rw2dObject *), rwMEMHINT_2DOBJECT);
    if (!pointers)
        return nullptr;
    for (RwInt32 i = 0; i < d->count; i++) {
        Rw2dObject *copy = Rw2dObjectCopy(Rw2dObjectAlloc(), StoredChild(scene, i));
        Rw2dObject **slot =
            copy ? static_cast<Rw2dObject **>(RwGrowArrayAppend(pointers, rwMEMHINT_2DOBJECT)) : nullptr;
        if (!slot) {
            Rw2dObjectFree(copy);
            for (RwInt32 j = 0; j < pointers->count; j++)
                Rw2dObjectFree(static_cast<Rw2dObject **>(pointers->data)[j]);
            RwGrowArrayDestroy(pointers);
            return nullptr;
        }
        *slot = copy;
    }
    RwGrowArrayDestroy(d->children);
    if (d->depthIndex)
        RwGrowArrayDestroy(d->depthIndex);
    d->children = pointers;
    d->depthIndex = nullptr;
    scene->flags |= rw2DOBJECTFLAGKIND;
    return scene;
}

Rw2dObject *Rw2dSceneUnlock(Rw2dObject *scene)
{
    Rw2dSceneData *d = Data(scene);
    if (!d)
        return nullptr;
    if (!IsLocked(scene))
        return scene;
    RwGrowArray *inline_ = RwGrowArrayCreate(sizeof(Rw2dObject), rwMEMHINT_2DOBJECT);
    Rw2dObject *records =
        inline_ && d->count > 0 ? static_cast<Rw2dObject *>(RwGrowArrayAppendMany(inline_, d->count, rwMEMHINT_2DOBJECT))
                                : nullptr;
    if (!inline_ || (d->count > 0 && !records)) {
        if (inline_)
            RwGrowArrayDestroy(inline_);
        return nullptr;
    }
    RwGrowArray *pointers = d->children;
    for (RwInt32 i = 0; i < d->count; i++)
        Rw2dObjectCopy(&records[i], static_cast<Rw2dObject **>(pointers->data)[i]);
    d->children = inline_;
    scene->flags &= ~rw2DOBJECTFLAGKIND;
    if (!BuildIndex(scene)) {
        // Back to the pointers: the children stay where the caller put them.
        d->children = pointers;
        RwGrowArrayDestroy(inline_);
        scene->flags |= rw2DOBJECTFLAGKIND;
        return nullptr;
    }
    for (RwInt32 i = 0; i < d->count; i++)
        Rw2dObjectFree(static_cast<Rw2dObject **>(pointers->data)[i]);
    RwGrowArrayDestroy(pointers);
    return scene;
}

RwBool Rw2dSceneDestroyInPlace(Rw2dObject *scene)
{
    Rw2dSceneData *d = Data(scene);
    if (!d)
        return FALSE;
    if (d->depthIndex)
        RwGrowArrayDestroy(d->depthIndex);
    d->depthIndex = nullptr;
    RwBool ok = TRUE;
    // Inline children are destroyed where they lie; a locked scene's children
    // are records of their own.
    for (RwInt32 i = 0; i < d->count; i++) {
        Rw2dObject *child = StoredChild(scene, i);
        ok = (IsLocked(scene) ? Rw2dObjectDestroy(child) : Rw2dObjectDestroyInPlace(child)) && ok;
    }
    if (d->children)
        RwGrowArrayDestroy(d->children);
    d->children = nullptr;
    d->count = 0;
    return ok;
}

RwBool Rw2dSceneDestroy(Rw2dObject *scene)
{
    if (!Data(scene))
        return FALSE;
    const RwBool ok = Rw2dSceneDestroyInPlace(scene);
    Rw2dObjectFree(scene);
    return ok;
}

RwInt32 Rw2dSceneGetNumChildren(Rw2dObject *scene)
{
    Rw2dSceneData *d = Data(scene);
    return d ? d->count : 0;
}

Rw2dObject *Rw2dSceneGetChild(Rw2dObject *scene, RwInt32 index)
{
    Rw2dSceneData *d = Data(scene);
    if (!d || index < 0 || index >= d->count)
        return nullptr;
    if (!IsLocked(scene) && d->depthIndex)
        return static_cast<Rw2dDepthEntry *>(d->depthIndex->data)[index].object;
    return StoredChild(scene, index);
}

Rw2dObject *Rw2dSceneRenderKind(Rw2dObject *scene, const RwRGBAReal *pm, const RwRGBAReal *po)
{
    RwBool recomputed;
    if (!Rw2dObjectBeginRender(scene, &recomputed))
        return scene;
    const RwRGBAReal &m = scene->colorMult;
    const RwRGBAReal &o = scene->colorOffs;
    const RwReal k = 0.003921569f;
    const RwRGBAReal mult = {m.red * pm->red, m.green * pm->green, m.blue * pm->blue, m.alpha * pm->alpha};
    const RwRGBAReal offs = {o.red * pm->red * k + po->red, o.green * pm->green * k + po->green,
                             o.blue * pm->blue * k + po->blue, o.alpha * pm->alpha * k + po->alpha};
    const RwInt32 n = Rw2dSceneGetNumChildren(scene);
    for (RwInt32 i = 0; i < n; i++) {
        Rw2dObject *child = Rw2dSceneGetChild(scene, i);
        if (recomputed)
            child->flags |= rw2DOBJECTFLAGMATRIXCHANGED;
        Rw2dObjectRender(child, &mult, &offs);
    }
    Rw2dCTMPop();
    return scene;
}

Rw2dObject *Rw2dSceneRender(Rw2dObject *scene)
{
    return Data(scene) ? Rw2dObjectRender(scene, nullptr, nullptr) : nullptr;
}
