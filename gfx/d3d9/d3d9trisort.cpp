// Triangle order for instancing: strips into lists, triangle sort and index ranges.
#include "d3d9trisort.h"

#include <cstdlib>
#include <cstring>
#include <utility>

// A triangle's indices in ascending order.
static void SortedCorners(const void *t, RwUInt16 *c)
{
    std::memcpy(c, t, 6);
    if (c[0] > c[1])
        std::swap(c[0], c[1]);
    if (c[1] > c[2])
        std::swap(c[1], c[2]);
    if (c[0] > c[1])
        std::swap(c[0], c[1]);
}

static int CompareTriangles(const void *a, const void *b)
{
    RwUInt16 x[3], y[3];
    SortedCorners(a, x);
    SortedCorners(b, y);
    for (int i = 0; i < 3; i++) {
        if (x[i] != y[i])
            return x[i] < y[i] ? -1 : 1;
    }
    return 0;
}

void RwD3D9SortTriangles(RwUInt16 *indices, RwUInt32 numIndices)
{
    if (indices && numIndices >= 6)
        std::qsort(indices, numIndices / 3, 6, CompareTriangles);
}

void RwD3D9GetIndexRange(const RwUInt16 *indices, RwUInt32 numIndices, RwUInt32 *numVertices, RwUInt32 *minIndex)
{
    if (!indices || numIndices == 0) {
        *numVertices = 0;
        *minIndex = 0;
        return;
    }
    RwUInt16 lo = indices[0], hi = indices[0];
    for (RwUInt32 i = 1; i < numIndices; i++) {
        lo = indices[i] < lo ? indices[i] : lo;
        hi = indices[i] > hi ? indices[i] : hi;
    }
    *numVertices = static_cast<RwUInt32>(hi - lo) + 1;
    *minIndex = lo;
}

RwUInt32 RwD3D9ConvertStripToList(RwUInt16 *dest, const RwUInt16 *strip, RwUInt32 numStrip, RwUInt32 minVertex)
{
    RwUInt32 written = 0;
    for (RwUInt32 i = 0; i + 2 < numStrip; i++) {
        const RwUInt16 a = strip[i], b = strip[i + 1], c = strip[i + 2];
        if (a == b || b == c || a == c)
            continue;
        // Every other triangle of a strip winds the other way.
        const RwUInt16 t[3] = {(i & 1) ? c : a, b, (i & 1) ? a : c};
        for (RwUInt16 index : t)
            dest[written++] = static_cast<RwUInt16>(index - minVertex);
    }
    return written;
}
