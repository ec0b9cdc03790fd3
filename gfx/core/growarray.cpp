// Growable arrays of fixed-size elements.
#include "growarray.h"

#include <cstring>

#include "engine.h"
#include "modules.h"

enum : RwInt32 {
    rwGROWARRAYINITIAL = 20,
    rwGROWARRAYMAXBYTES = 0x40000000,
};

static void RaiseNoMem(void)
{
    RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
}

static RwUInt8 *ElementAt(const RwGrowArray *array, RwInt32 index)
{
    return static_cast<RwUInt8 *>(array->data) + static_cast<size_t>(index) * array->elementSize;
}

// Reallocates the data to newCapacity elements; the array is unchanged on failure.
static RwBool Resize(RwGrowArray *array, RwInt32 newCapacity, RwUInt32 hint)
{
    if (newCapacity <= 0 || newCapacity > rwGROWARRAYMAXBYTES / array->elementSize) {
        RaiseNoMem();
        return FALSE;
    }
    size_t bytes = static_cast<size_t>(newCapacity) * array->elementSize;
    void *data = array->data ? RwRealloc(array->data, bytes, hint) : RwMalloc(bytes, hint);
    if (!data) {
        RaiseNoMem();
        return FALSE;
    }
    array->data = data;
    array->capacity = newCapacity;
    return TRUE;
}

RwGrowArray *RwGrowArrayCreate(RwInt32 elementSize, RwUInt32 hint)
{
    if (elementSize <= 0 || elementSize > rwGROWARRAYMAXBYTES / rwGROWARRAYINITIAL) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return nullptr;
    }
    RwGrowArray *array = static_cast<RwGrowArray *>(RwMalloc(sizeof(RwGrowArray), rwMEMHINTDUR_EVENT));
    if (!array) {
        RaiseNoMem();
        return nullptr;
    }
    array->count = 0;
    array->capacity = rwGROWARRAYINITIAL;
    array->elementSize = elementSize;
    array->data = RwMalloc(static_cast<size_t>(rwGROWARRAYINITIAL) * elementSize, hint | rwMEMHINTFLAG_RESIZABLE);
    if (!array->data) {
        RaiseNoMem();
        RwFree(array);
        return nullptr;
    }
    return array;
}

RwBool RwGrowArrayDestroy(RwGrowArray *array)
{
    if (!array) {
        return FALSE;
    }
    if (array->data && array->capacity) {
        RwFree(array->data);
    }
    RwFree(array);
    return TRUE;
}

void RwGrowArrayClear(RwGrowArray *array)
{
    if (array) {
        array->count = 0;
    }
}

void *RwGrowArrayAppend(RwGrowArray *array, RwUInt32 hint)
{
    if (!array) {
        return nullptr;
    }
    if (array->count >= array->capacity &&
        !Resize(array, array->capacity + array->capacity / 4 + (array->capacity < 4 ? 1 : 0), hint)) {
        return nullptr;
    }
    return ElementAt(array, array->count++);
}

void *RwGrowArrayAppendMany(RwGrowArray *array, RwInt32 n, RwUInt32 hint)
{
    if (!array || n < 0) {
        return nullptr;
    }
    if (n > rwGROWARRAYMAXBYTES - array->capacity) {
        RaiseNoMem();
        return nullptr;
    }
    if (array->count + n >= array->capacity &&
        !Resize(array, array->capacity + array->capacity / 4 + n, hint)) {
        return nullptr;
    }
    RwUInt8 *first = ElementAt(array, array->count);
    array->count += n;
    return first;
}

RwBool RwGrowArrayRemoveAt(RwGrowArray *array, RwInt32 index)
{
    if (!array || index < 0 || index >= array->count) {
        return FALSE;
    }
    size_t tail = static_cast<size_t>(array->count - index - 1) * array->elementSize;
    memmove(ElementAt(array, index), ElementAt(array, index + 1), tail);
    --array->count;
    return TRUE;
}

void RwGrowArrayRemoveLast(RwGrowArray *array, RwInt32 n)
{
    if (!array || n <= 0) {
        return;
    }
    array->count = n >= array->count ? 0 : array->count - n;
}

void *RwGrowArrayGetFirst(RwGrowArray *array)
{
    return (array && array->count != 0) ? array->data : nullptr;
}

void *RwGrowArrayGetAt(RwGrowArray *array, RwInt32 index)
{
    if (!array || index < 0 || index >= array->count) {
        return nullptr;
    }
    return ElementAt(array, index);
}

void *RwGrowArrayGetEnd(RwGrowArray *array, RwInt32 n)
{
    if (!array || !array->data || n < 0 || n > array->count) {
        return nullptr;
    }
    return ElementAt(array, array->count - n);
}

void *RwGrowArrayGetEnd(RwGrowArray *array)
{
    return RwGrowArrayGetEnd(array, 0);
}

void *RwGrowArrayDetachData(RwGrowArray *array)
{
    if (!array) {
        return nullptr;
    }
    void *data = array->data;
    if (array->count == 0 && data) {
        RwFree(data);
        data = nullptr;
    }
    RwFree(array);
    return data;
}

void *RwGetFirstField(const void *record)
{
    return *static_cast<void *const *>(record);
}

RwInt32 RwGetSecondField(const void *record)
{
    return static_cast<const RwInt32 *>(record)[1];
}
