// Growable arrays of fixed-size elements.
#pragma once

#include "rwtypes.h"

struct RwGrowArray {
    void *data;
    RwInt32 count;
    RwInt32 capacity;
    RwInt32 elementSize;
};
static_assert(sizeof(RwGrowArray) == 16, "array header is 16 bytes");

RwGrowArray *RwGrowArrayCreate(RwInt32 elementSize, RwUInt32 hint);
RwBool RwGrowArrayDestroy(RwGrowArray *array);
void RwGrowArrayClear(RwGrowArray *array);
void *RwGrowArrayAppend(RwGrowArray *array, RwUInt32 hint);
void *RwGrowArrayAppendMany(RwGrowArray *array, RwInt32 n, RwUInt32 hint);
RwBool RwGrowArrayRemoveAt(RwGrowArray *array, RwInt32 index);
void RwGrowArrayRemoveLast(RwGrowArray *array, RwInt32 n);
void *RwGrowArrayGetFirst(RwGrowArray *array);
void *RwGrowArrayGetAt(RwGrowArray *array, RwInt32 index);
void *RwGrowArrayGetEnd(RwGrowArray *array);
// Address of the first of the last n elements (n = 0: just past the last);
// NULL when n is negative or above the count.
void *RwGrowArrayGetEnd(RwGrowArray *array, RwInt32 n);
void *RwGrowArrayDetachData(RwGrowArray *array);
// Generic getters of a record's first and second words.
void *RwGetFirstField(const void *record);
RwInt32 RwGetSecondField(const void *record);
