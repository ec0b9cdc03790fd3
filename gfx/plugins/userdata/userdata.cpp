// User data: the plug-in, its extension on seven object kinds, and the operations on arrays.
#include "userdata.h"

#include <cstdint>
#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/memory.h"

static RwInt32 offsets[rwNUMOBJECTKINDS] = {-1, -1, -1, -1, -1, -1, -1};

RwUserDataExtension *RwUserDataGetExtension(const void *object, RwPluginObjectKind kind)
{
    if (!object || offsets[kind] < 0) {
        return nullptr;
    }
    return reinterpret_cast<RwUserDataExtension *>(reinterpret_cast<uintptr_t>(object) + offsets[kind]);
}

static RwUserDataExtension *At(const void *object, RwInt32 offset)
{
    return reinterpret_cast<RwUserDataExtension *>(reinterpret_cast<uintptr_t>(object) + offset);
}

static RwChar *Duplicate(const RwChar *text)
{
    const size_t n = strlen(text) + 1;
    RwChar *copy = static_cast<RwChar *>(RwMalloc(n, rwUSERDATANAMEHINT));
    if (copy) {
        memcpy(copy, text, n);
    }
    return copy;
}

static void FreeSlot(RwUserDataArray *slot)
{
    RwFree(slot->name);
    if (slot->format == rwUSERDATASTRING && slot->data) {
        RwChar **strings = static_cast<RwChar **>(slot->data);
        for (RwInt32 i = 0; i < slot->numElements; ++i) {
            RwFree(strings[i]);
        }
    }
    RwFree(slot->data);
    memset(slot, 0, sizeof *slot);
}

void RwUserDataExtensionEmpty(RwUserDataExtension *ext)
{
    for (RwInt32 i = 0; i < ext->numArrays; ++i) {
        FreeSlot(&ext->arrays[i]);
    }
    RwFree(ext->arrays);
    ext->arrays = nullptr;
    ext->numArrays = 0;
}

// A free slot, growing the table by one when none is; -1 without memory.
static RwInt32 FreeSlotIndex(RwUserDataExtension *ext)
{
    for (RwInt32 i = 0; i < ext->numArrays; ++i) {
        if (!ext->arrays[i].data) {
            return i;
        }
    }
    const size_t bytes = sizeof(RwUserDataArray) * (static_cast<size_t>(ext->numArrays) + 1);
    void *grown = ext->arrays ? RwRealloc(ext->arrays, bytes, rwUSERDATAHINT) : RwMalloc(bytes, rwUSERDATAHINT);
    if (!grown) {
        return -1;
    }
    ext->arrays = static_cast<RwUserDataArray *>(grown);
    memset(&ext->arrays[ext->numArrays], 0, sizeof(RwUserDataArray));
    return ext->numArrays++;
}

RwInt32 RwUserDataExtensionAddArray(RwUserDataExtension *ext, const RwChar *name, RwUserDataFormat format,
                                    RwInt32 numElements)
{
    if (!ext || format < rwUSERDATAINT || format > rwUSERDATASTRING || numElements < 0 || numElements > 0x3FFFFFFF) {
        return -1;
    }
    const RwInt32 index = FreeSlotIndex(ext);
    if (index < 0) {
        return -1;
    }
    RwUserDataArray *slot = &ext->arrays[index];
    // Arrays are found by name: one whose name could not be copied is not added.
    RwChar *copy = name ? Duplicate(name) : nullptr;
    if (name && !copy) {
        return -1;
    }
    // A zero-element array still needs a block to mark its slot taken.
    const size_t bytes = numElements > 0 ? 4 * static_cast<size_t>(numElements) : 4;
    slot->data = RwMalloc(bytes, rwUSERDATAHINT);
    if (!slot->data) {
        RwFree(copy);
        return -1;
    }
    memset(slot->data, 0, bytes);
    slot->name = copy;
    slot->format = format;
    slot->numElements = numElements;
    return index;
}

void RwUserDataExtensionRemoveArray(RwUserDataExtension *ext, RwInt32 index)
{
    if (!ext || index < 0 || index >= ext->numArrays) {
        return;
    }
    FreeSlot(&ext->arrays[index]);
    memmove(&ext->arrays[index], &ext->arrays[index + 1],
            sizeof(RwUserDataArray) * static_cast<size_t>(ext->numArrays - 1 - index));
    memset(&ext->arrays[ext->numArrays - 1], 0, sizeof(RwUserDataArray));
}

RwInt32 RwUserDataExtensionGetArrayCount(const RwUserDataExtension *ext)
{
    RwInt32 count = 0;
    for (RwInt32 i = 0; ext && i < ext->numArrays; ++i) {
        count += ext->arrays[i].data != nullptr;
    }
    return count;
}

RwUserDataArray *RwUserDataExtensionGetArray(const RwUserDataExtension *ext, RwInt32 index)
{
    return ext && index >= 0 && index < ext->numArrays ? &ext->arrays[index] : nullptr;
}

void RwUserDataArraySetElement(RwUserDataArray *a, RwInt32 index, RwUInt32 value)
{
    // A string stored here becomes the array's; the one it replaces goes
    // back to the caller, who may be moving it to another element.
    static_cast<RwUInt32 *>(a->data)[index] = value;
}

RwInt32 RwUserDataGeometryAddArray(RwGeometry *geometry, const RwChar *name, RwUserDataFormat format,
                                   RwInt32 numElements)
{
    return RwUserDataExtensionAddArray(RwUserDataGetExtension(geometry, rwKINDGEOMETRY), name, format, numElements);
}

RwInt32 RwUserDataFrameAddArray(RwFrame *frame, const RwChar *name, RwUserDataFormat format, RwInt32 numElements)
{
    return RwUserDataExtensionAddArray(RwUserDataGetExtension(frame, rwKINDFRAME), name, format, numElements);
}

RwGeometry *RwUserDataGeometryRemoveArray(RwGeometry *geometry, RwInt32 index)
{
    RwUserDataExtensionRemoveArray(RwUserDataGetExtension(geometry, rwKINDGEOMETRY), index);
    return geometry;
}

RwInt32 RwUserDataGeometryGetArrayCount(const RwGeometry *geometry)
{
    return RwUserDataExtensionGetArrayCount(RwUserDataGetExtension(geometry, rwKINDGEOMETRY));
}

RwInt32 RwUserDataFrameGetArrayCount(const RwFrame *frame)
{
    return RwUserDataExtensionGetArrayCount(RwUserDataGetExtension(frame, rwKINDFRAME));
}

RwInt32 RwUserDataMaterialGetArrayCount(const RwMaterial *material)
{
    return RwUserDataExtensionGetArrayCount(RwUserDataGetExtension(material, rwKINDMATERIAL));
}

RwUserDataArray *RwUserDataGeometryGetArray(const RwGeometry *geometry, RwInt32 index)
{
    return RwUserDataExtensionGetArray(RwUserDataGetExtension(geometry, rwKINDGEOMETRY), index);
}

RwUserDataArray *RwUserDataFrameGetArray(const RwFrame *frame, RwInt32 index)
{
    return RwUserDataExtensionGetArray(RwUserDataGetExtension(frame, rwKINDFRAME), index);
}

RwUserDataArray *RwUserDataMaterialGetArray(const RwMaterial *material, RwInt32 index)
{
    return RwUserDataExtensionGetArray(RwUserDataGetExtension(material, rwKINDMATERIAL), index);
}

static void *Construct(void *object, RwInt32 offset, RwInt32)
{
    At(object, offset)->numArrays = 0;
    At(object, offset)->arrays = nullptr;
    return object;
}

static void *Destruct(void *object, RwInt32 offset, RwInt32)
{
    RwUserDataExtensionEmpty(At(object, offset));
    return object;
}

// Deep copy of one occupied slot; FALSE without memory (the slot then holds
// what was copied so far, for the caller to free).
static RwBool CopySlot(RwUserDataArray *to, const RwUserDataArray *from)
{
    to->format = from->format;
    to->numElements = from->numElements;
    if (from->name && !(to->name = Duplicate(from->name))) {
        return FALSE;
    }
    const size_t bytes = from->numElements > 0 ? 4 * static_cast<size_t>(from->numElements) : 4;
    if (!(to->data = RwMalloc(bytes, rwUSERDATAHINT))) {
        return FALSE;
    }
    if (from->format != rwUSERDATASTRING) {
        memcpy(to->data, from->data, bytes);
        return TRUE;
    }
    memset(to->data, 0, bytes);
    RwChar *const *src = static_cast<RwChar *const *>(from->data);
    RwChar **dst = static_cast<RwChar **>(to->data);
    for (RwInt32 i = 0; i < from->numElements; ++i) {
        if (src[i] && !(dst[i] = Duplicate(src[i]))) {
            return FALSE;
        }
    }
    return TRUE;
}

static void *Copy(void *dst, const void *src, RwInt32 offset, RwInt32)
{
    RwUserDataExtension *to = At(dst, offset);
    const RwUserDataExtension *from = At(src, offset);
    RwUserDataExtensionEmpty(to);
    if (from->numArrays <= 0) {
        return dst;
    }
    const size_t bytes = sizeof(RwUserDataArray) * static_cast<size_t>(from->numArrays);
    if (!(to->arrays = static_cast<RwUserDataArray *>(RwMalloc(bytes, rwUSERDATAHINT)))) {
        return nullptr;
    }
    memset(to->arrays, 0, bytes);
    to->numArrays = from->numArrays;
    for (RwInt32 i = 0; i < from->numArrays; ++i) {
        // A free source slot stays wholly free in the copy.
        if (from->arrays[i].data && !CopySlot(&to->arrays[i], &from->arrays[i])) {
            RwUserDataExtensionEmpty(to);
            return nullptr;
        }
    }
    return dst;
}

static RwInt32 StreamSize(const void *object, RwInt32 offset, RwInt32)
{
    return RwUserDataStreamGetSize(At(object, offset));
}

static RwStream *StreamWrite(RwStream *stream, RwInt32, const void *object, RwInt32 offset, RwInt32)
{
    return RwUserDataStreamWrite(stream, At(object, offset));
}

static RwStream *StreamRead(RwStream *stream, RwInt32 length, void *object, RwInt32 offset, RwInt32)
{
    return RwUserDataStreamRead(stream, length, At(object, offset));
}

RwBool RwUserDataPluginAttach(void)
{
    if (RwEngineRegisterPlugin(0, rwID_USERDATAPLUGIN, nullptr, nullptr) < 0) {
        return FALSE;
    }
    const RwPluginObjectCallBacks callbacks = {Construct, Destruct, Copy, StreamRead, StreamWrite, StreamSize};
    return RwPluginRegisterOnObjectKinds(sizeof(RwUserDataExtension), rwID_USERDATAPLUGIN, callbacks, offsets);
}
