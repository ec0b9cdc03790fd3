// The engine's reads and writes of user-data arrays: first strings that name things, the "render" and "KivClump" arrays.
#include "engine/KivUserData.h"

#include <cctype>
#include <cstring>

#include "engine/CKivClump.h"
#include "gfx/plugins/toon/toon.h"
#include "gfx/plugins/userdata/userdata.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"

static const char *FirstString(const RwUserDataArray *array)
{
    if (!array || array->format != rwUSERDATASTRING || array->numElements < 1 || !array->data)
        return nullptr;
    return static_cast<const char *const *>(array->data)[0];
}

const char *KivMaterialFirstString(const RwMaterial *material)
{
    return material && RwUserDataMaterialGetArrayCount(material) > 0
               ? FirstString(RwUserDataMaterialGetArray(material, 0))
               : nullptr;
}

const char *KivGeometryFirstString(const RwGeometry *geometry)
{
    return geometry && RwUserDataGeometryGetArrayCount(geometry) > 0
               ? FirstString(RwUserDataGeometryGetArray(geometry, 0))
               : nullptr;
}

const char *KivFrameFirstString(const RwFrame *frame)
{
    return frame && RwUserDataFrameGetArrayCount(frame) > 0 ? FirstString(RwUserDataFrameGetArray(frame, 0))
                                                            : nullptr;
}

int KivTransparentNameKind(const char *name)
{
    if (!name || name[0] != '_')
        return 0;
    const int second = tolower(static_cast<unsigned char>(name[1]));
    return second == 't' ? 1 : second == 'a' ? 2 : 0;
}

int KivGeometryHasTransparentName(const RwGeometry *geometry)
{
    if (!geometry || geometry->matList.numMaterials < 1)
        return 0;
    return KivTransparentNameKind(KivMaterialFirstString(geometry->matList.materials[0])) != 0;
}

int KivIsBoneShape(const RwAtomic *atomic)
{
    const char *name = KivGeometryFirstString(atomic->geometry);
    return name && toupper(static_cast<unsigned char>(name[0])) == 'B' &&
           toupper(static_cast<unsigned char>(name[1])) == 'I' && toupper(static_cast<unsigned char>(name[2])) == 'P';
}

static RwUserDataArray *FindInt(RwUserDataArray *(*get)(const void *, RwInt32), const void *object, RwInt32 count,
                                const char *name, int minElements, int *index)
{
    for (RwInt32 i = 0; i < count; i++) {
        RwUserDataArray *array = get(object, i);
        if (array && array->format == rwUSERDATAINT && array->name && !strcmp(array->name, name) && array->data &&
            array->numElements >= minElements) {
            if (index)
                *index = i;
            return array;
        }
    }
    return nullptr;
}

static RwUserDataArray *GeometryArray(const void *object, RwInt32 i)
{
    return RwUserDataGeometryGetArray(static_cast<const RwGeometry *>(object), i);
}

static RwUserDataArray *FrameArray(const void *object, RwInt32 i)
{
    return RwUserDataFrameGetArray(static_cast<const RwFrame *>(object), i);
}

RwUserDataArray *KivGeometryFindIntArray(const RwGeometry *geometry, const char *name, int minElements, int *index)
{
    if (!geometry)
        return nullptr;
    return FindInt(GeometryArray, geometry, RwUserDataGeometryGetArrayCount(geometry), name, minElements, index);
}

RwUserDataArray *KivFrameFindIntArray(const RwFrame *frame, const char *name, int minElements)
{
    if (!frame)
        return nullptr;
    return FindInt(FrameArray, frame, RwUserDataFrameGetArrayCount(frame), name, minElements, nullptr);
}

void KivGeometryDropRenderArrays(RwGeometry *geometry)
{
    if (!geometry)
        return;
    // Any format and size: a streamed "render" array is never trusted.
    for (RwInt32 i = RwUserDataGeometryGetArrayCount(geometry) - 1; i >= 0; i--) {
        const RwUserDataArray *array = RwUserDataGeometryGetArray(geometry, i);
        if (array && array->name && !strcmp(array->name, "render"))
            RwUserDataGeometryRemoveArray(geometry, i);
    }
}

static const RwAtomicCallBackRender kRenderCallBacks[] = {
    RwAtomicDefaultRenderCallBack,
    CKivClump::NullRenderCallBack,
    RwToonAtomicRenderCallBack,
};

RwUInt32 KivRenderCallBackIndex(RwAtomicCallBackRender callback)
{
    for (RwUInt32 i = 0; i < sizeof(kRenderCallBacks) / sizeof(kRenderCallBacks[0]); i++) {
        if (kRenderCallBacks[i] == callback)
            return i;
    }
    return 0;
}

RwAtomicCallBackRender KivRenderCallBackFromIndex(RwUInt32 index)
{
    return index < sizeof(kRenderCallBacks) / sizeof(kRenderCallBacks[0]) ? kRenderCallBacks[index]
                                                                           : RwAtomicDefaultRenderCallBack;
}

RwAtomicCallBackRender AtomicGetSavedRenderCallBack(const RwAtomic *atomic)
{
    if (!atomic || atomic->renderCallBack != CKivClump::AlphaRenderCallBack)
        return nullptr;
    const RwUserDataArray *array = KivGeometryFindIntArray(atomic->geometry, "render", 2, nullptr);
    return array ? KivRenderCallBackFromIndex(RwUserDataArrayGetElement(array, 0)) : nullptr;
}

void AtomicRemoveRenderArray(RwAtomic *atomic)
{
    int index = -1;
    // A clone's atomics share the geometry and still need the array.
    if (atomic->geometry && atomic->geometry->refCount <= 1 &&
        KivGeometryFindIntArray(atomic->geometry, "render", 0, &index))
        RwUserDataGeometryRemoveArray(atomic->geometry, index);
}

void AtomicRestoreRenderCallBack(RwAtomic *atomic)
{
    RwAtomicCallBackRender saved = AtomicGetSavedRenderCallBack(atomic);
    if (!saved)
        return;
    atomic->renderCallBack = saved;
    AtomicRemoveRenderArray(atomic);
}
