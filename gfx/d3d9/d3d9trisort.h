// Triangle order for instancing: strips into lists, triangle sort and index ranges.
#pragma once

#include "gfx/core/rwtypes.h"

// Sorts a triangle list in place by its triangles' sorted indices.
void RwD3D9SortTriangles(RwUInt16 *indices, RwUInt32 numIndices);
// Number of vertices the indices span and the smallest; 0 and 0 for none.
void RwD3D9GetIndexRange(const RwUInt16 *indices, RwUInt32 numIndices, RwUInt32 *numVertices, RwUInt32 *minIndex);
// Writes the strip's non-degenerate triangles as a list (room for 3 x
// (numStrip - 2) indices), each index less minVertex; returns the count written.
RwUInt32 RwD3D9ConvertStripToList(RwUInt16 *dest, const RwUInt16 *strip, RwUInt32 numStrip, RwUInt32 minVertex);
