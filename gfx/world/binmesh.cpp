// Bin-mesh extension data: a mesh header in a stream, with materials as indices into the owner's list.
#include <cstring>

#include "gfx/core/byteorder.h"
#include "gfx/core/error.h"
#include "gfx/core/memory.h"
#include "gfx/core/modules.h"
#include "gfx/core/stream.h"
#include "material.h"
#include "mesh.h"
#include "meshbuild.h"

enum : RwUInt32 {
    rwNATIVEFORMAT = 0x01000000,
    rwBINMESHHEADSIZE = 12,
    rwBINMESHMESHSIZE = 8,
    rwBINMESHBLOCK = 2048,            // indices move in blocks of this many
};

// Geometries and worlds both keep their format flags right after the object
// header; a native owner's meshes carry no indices.
static bool OwnerIsNative(const void *owner)
{
    return owner && (ReadU32(static_cast<const RwUInt8 *>(owner) + sizeof(RwObject)) & rwNATIVEFORMAT) != 0;
}

static void BinMeshError(RwUInt32 code)
{
    RwErrorRaise(rwID_COREPLUGIN, code);
}

RwInt32 RwBinMeshStreamGetSize(const RwMeshHeader *header, const void *owner)
{
    RwInt32 size = rwBINMESHHEADSIZE + rwBINMESHMESHSIZE * header->numMeshes;
    if (!OwnerIsNative(owner)) {
        size += 4 * static_cast<RwInt32>(header->totalIndicesInMesh);
    }
    return size;
}

RwStream *RwBinMeshStreamWrite(const RwMeshHeader *header, const void *owner, RwStream *stream,
                               const RwMaterialList *materialList)
{
    RwUInt8 head[rwBINMESHHEADSIZE];
    WriteU32(head, header->flags);
    WriteU32(head + 4, header->numMeshes);
    WriteU32(head + 8, header->totalIndicesInMesh);
    if (!RwStreamWrite(stream, head, sizeof head)) {
        return nullptr;
    }
    const bool withIndices = !OwnerIsNative(owner);
    const RwMesh *meshes = RwMeshHeaderGetMeshes(const_cast<RwMeshHeader *>(header));
    for (RwUInt32 m = 0; m < header->numMeshes; ++m) {
        const RwMesh &mesh = meshes[m];
        const RwInt32 index = materialList ? RwMaterialListFindMaterialIndex(materialList, mesh.material) : -1;
        RwUInt8 rec[rwBINMESHMESHSIZE];
        WriteU32(rec, mesh.numIndices);
        WriteI32(rec + 4, index < 0 ? 0 : index);
        if (!RwStreamWrite(stream, rec, sizeof rec)) {
            return nullptr;
        }
        for (RwUInt32 done = 0; withIndices && done < mesh.numIndices;) {
            RwUInt8 block[4 * rwBINMESHBLOCK];
            const RwUInt32 n = mesh.numIndices - done < rwBINMESHBLOCK ? mesh.numIndices - done : rwBINMESHBLOCK;
            for (RwUInt32 i = 0; i < n; ++i) {
                WriteU32(block + 4 * i, mesh.indices[done + i]);
            }
            if (!RwStreamWrite(stream, block, 4 * n)) {
                return nullptr;
            }
            done += n;
        }
    }
    return stream;
}

// Reads the mesh's indices, refusing values at or past the limit. They move
// in large blocks of whole words, judged once per block.
static bool ReadIndices(RwStream *stream, RwUInt16 *indices, RwUInt32 count, RwUInt32 limit)
{
    RwUInt32 block[rwBINMESHBLOCK];
    for (RwUInt32 done = 0; done < count;) {
        const RwUInt32 n = count - done < rwBINMESHBLOCK ? count - done : rwBINMESHBLOCK;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        if (!RwStreamReadExact(stream, block, 4 * n)) {
#else
        if (!RwStreamReadInt32(stream, reinterpret_cast<RwInt32 *>(block), 4 * n)) {
#endif
            return false;
        }
        RwUInt32 bad = 0;
        RwUInt16 *out = indices + done;
        for (RwUInt32 i = 0; i < n; ++i) {
            bad |= static_cast<RwUInt32>(block[i] >= limit);
            out[i] = static_cast<RwUInt16>(block[i]);
        }
        if (bad) {
            BinMeshError(E_RW_READ);
            return false;
        }
        done += n;
    }
    return true;
}

RwMeshHeader *RwBinMeshStreamRead(RwStream *stream, const void *owner, const RwMaterialList *materialList,
                                  RwUInt32 vertexLimit)
{
    if (vertexLimit > 0x10000) {
        vertexLimit = 0x10000;
    }
    RwUInt8 head[rwBINMESHHEADSIZE];
    if (!RwStreamReadExact(stream, head, sizeof head)) {
        return nullptr;
    }
    const RwUInt32 flags = ReadU32(head);
    const RwUInt32 numMeshes = ReadU32(head + 4);
    const RwUInt32 totalIndices = ReadU32(head + 8);
    const bool withIndices = !OwnerIsNative(owner);
    // Counts must fit the header's fields and the bytes left in the stream.
    if (numMeshes > 0xFFFF || !RwStreamCanHold(stream, numMeshes, rwBINMESHMESHSIZE) ||
        (withIndices && !RwStreamCanHold(stream, totalIndices, 4)) || totalIndices > 0x3FFFFFFF) {
        BinMeshError(E_RW_READ);
        return nullptr;
    }
    RwMeshHeader *header = RwMeshHeaderAllocate(flags, static_cast<RwInt32>(numMeshes),
                                                withIndices ? totalIndices : 0);
    if (!header) {
        return nullptr;
    }
    header->totalIndicesInMesh = totalIndices;
    RwMesh *meshes = RwMeshHeaderGetMeshes(header);
    RwUInt16 *next = reinterpret_cast<RwUInt16 *>(meshes + numMeshes);
    RwUInt32 indicesLeft = totalIndices;
    const RwInt32 numMaterials = materialList ? materialList->numMaterials : 0;
    for (RwUInt32 m = 0; m < numMeshes; ++m) {
        RwUInt8 rec[rwBINMESHMESHSIZE];
        if (!RwStreamReadExact(stream, rec, sizeof rec)) {
            RwMeshHeaderDestroy(header);
            return nullptr;
        }
        const RwUInt32 count = ReadU32(rec);
        const RwInt32 index = ReadI32(rec + 4);
        // Index 0 with no materials is what the writer puts for a mesh whose
        // material is in no list.
        const bool materialOk = (index >= 0 && index < numMaterials) || (index == 0 && numMaterials == 0);
        if (count > indicesLeft || !materialOk) {
            BinMeshError(E_RW_READ);
            RwMeshHeaderDestroy(header);
            return nullptr;
        }
        indicesLeft -= count;
        meshes[m].numIndices = count;
        meshes[m].material = numMaterials > 0 ? RwMaterialListGetMaterial(materialList, index) : nullptr;
        meshes[m].indices = withIndices ? next : nullptr;
        if (withIndices) {
            if (!ReadIndices(stream, next, count, vertexLimit)) {
                RwMeshHeaderDestroy(header);
                return nullptr;
            }
            next += count;
        }
    }
    if (indicesLeft != 0) {
        // The meshes must account for every index the header announced.
        BinMeshError(E_RW_READ);
        RwMeshHeaderDestroy(header);
        return nullptr;
    }
    return header;
}
