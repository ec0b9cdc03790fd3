// Steps shared by the list and strip builders of mesh headers (not for callers outside the mesh module).
#pragma once

#include "mesh.h"

// Pointers to the builder's records in mesh order (opaque before transparent,
// then by key), from the engine allocator; NULL with error 0x80000013.
RwBuildMeshTriangle **RwMeshBuilderSortTriangles(const RwMeshBuilder *builder);
// Number of runs of consecutive records with the same material.
RwInt32 RwMeshCountMaterialRuns(RwBuildMeshTriangle *const *sorted, RwInt32 count);
// A header with room for numMeshes meshes and totalIndices indices, its serial
// number taken from the module's counter; NULL with error 0x80000013.
RwMeshHeader *RwMeshHeaderAllocate(RwUInt32 flags, RwInt32 numMeshes, RwUInt32 totalIndices);
