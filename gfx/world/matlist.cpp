// Material lists: arrays of material references and their stream, which writes each material once.
#include "gfx/core/byteorder.h"
#include "gfx/core/error.h"
#include "gfx/core/memory.h"
#include "gfx/core/modules.h"
#include "gfx/core/stream.h"
#include "material.h"
#include "worldids.h"
#include "worldstream.h"

RwMaterialList *RwMaterialListInitialize(RwMaterialList *list)
{
    list->materials = nullptr;
    list->numMaterials = 0;
    list->space = 0;
    return list;
}

RwMaterialList *RwMaterialListDeinitialize(RwMaterialList *list)
{
    if (list->materials) {
        for (RwInt32 i = 0; i < list->numMaterials; ++i) {
            RwMaterialDestroy(list->materials[i]);
            list->materials[i] = nullptr;
        }
        RwFree(list->materials);
    }
    return RwMaterialListInitialize(list);
}

RwInt32 RwMaterialListAppendMaterial(RwMaterialList *list, RwMaterial *material)
{
    if (list->numMaterials >= list->space) {
        const size_t bytes = sizeof(RwMaterial *) * (static_cast<size_t>(list->space) + rwMATERIALLISTGROWTH);
        void *grown = list->materials ? RwRealloc(list->materials, bytes, rwMEMHINT_MATLISTARRAY)
                                      : RwMalloc(bytes, rwMEMHINT_MATLISTARRAY);
        if (!grown) {
            RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
            return -1;
        }
        list->materials = static_cast<RwMaterial **>(grown);
        list->space += rwMATERIALLISTGROWTH;
    }
    RwMaterialAddRef(material);
    list->materials[list->numMaterials] = material;
    return list->numMaterials++;
}

RwInt32 RwMaterialListFindMaterialIndex(const RwMaterialList *list, const RwMaterial *material)
{
    for (RwInt32 i = list->numMaterials - 1; i >= 0; --i) {
        if (list->materials[i] == material) {
            return i;
        }
    }
    return -1;
}

// Entry i's reference: the nearest earlier entry with the same material, or
// -1 for a material's first entry, which is the one written out.
static RwInt32 EarlierEntry(const RwMaterialList *list, RwInt32 i)
{
    for (RwInt32 j = i - 1; j >= 0; --j) {
        if (list->materials[j] == list->materials[i]) {
            return j;
        }
    }
    return -1;
}

RwUInt32 RwMaterialListStreamGetSize(const RwMaterialList *list)
{
    RwUInt32 size = rwCHUNKHEADERSIZE + 4 + 4 * static_cast<RwUInt32>(list->numMaterials);
    for (RwInt32 i = 0; i < list->numMaterials; ++i) {
        if (EarlierEntry(list, i) < 0) {
            size += rwCHUNKHEADERSIZE + RwMaterialStreamGetSize(list->materials[i]);
        }
    }
    return size;
}

const RwMaterialList *RwMaterialListStreamWrite(const RwMaterialList *list, RwStream *stream)
{
    const RwUInt32 structSize = 4 + 4 * static_cast<RwUInt32>(list->numMaterials);
    if (!RwStreamWriteChunkHeader(stream, rwID_MATLIST, RwMaterialListStreamGetSize(list)) ||
        !RwStreamWriteChunkHeader(stream, rwID_STRUCT, structSize)) {
        return nullptr;
    }
    RwUInt8 word[4];
    WriteI32(word, list->numMaterials);
    if (!RwStreamWrite(stream, word, sizeof word)) {
        return nullptr;
    }
    for (RwInt32 i = 0; i < list->numMaterials; ++i) {
        WriteI32(word, EarlierEntry(list, i));
        if (!RwStreamWrite(stream, word, sizeof word)) {
            return nullptr;
        }
    }
    for (RwInt32 i = 0; i < list->numMaterials; ++i) {
        if (EarlierEntry(list, i) < 0 && !RwMaterialStreamWrite(list->materials[i], stream)) {
            return nullptr;
        }
    }
    return list;
}

static RwMaterial *ReadMaterialChunk(RwStream *stream)
{
    if (!RwWorldStreamFindChunk(stream, rwID_MATERIAL, nullptr)) {
        return nullptr;
    }
    return RwMaterialStreamRead(stream);
}

static RwMaterialList *FailListRead(RwMaterialList *list, RwInt32 *refs)
{
    RwFree(refs);
    RwMaterialListDeinitialize(list);
    return nullptr;
}

RwMaterialList *RwMaterialListStreamRead(RwStream *stream, RwMaterialList *list)
{
    RwMaterialListInitialize(list);
    RwUInt32 length = 0;
    if (!RwWorldStreamFindChunk(stream, rwID_STRUCT, &length)) {
        return nullptr;
    }
    RwUInt8 word[4];
    if (length < sizeof word) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    if (!RwStreamReadExact(stream, word, sizeof word)) {
        return nullptr;
    }
    const RwInt32 count = ReadI32(word);
    // The references must fit in the struct, and the struct in the stream.
    if (count < 0 || static_cast<RwUInt32>(count) > (length - sizeof word) / 4 ||
        !RwStreamCanHold(stream, length - sizeof word, 1)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    if (count == 0) {
        return RwStreamSkip(stream, length - sizeof word) ? list : nullptr;
    }
    list->materials = static_cast<RwMaterial **>(
        RwMalloc(sizeof(RwMaterial *) * static_cast<size_t>(count), rwMEMHINT_MATLISTARRAY));
    if (!list->materials) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    list->space = count;
    RwInt32 *refs = static_cast<RwInt32 *>(RwMalloc(sizeof(RwInt32) * static_cast<size_t>(count),
                                                    rwMEMHINT_MATLISTREFS));
    if (!refs) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return FailListRead(list, refs);
    }
    for (RwInt32 i = 0; i < count; ++i) {
        if (!RwStreamReadExact(stream, word, sizeof word)) {
            return FailListRead(list, refs);
        }
        refs[i] = ReadI32(word);
        // Only an earlier entry can be referred to.
        if (refs[i] >= i) {
            RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
            return FailListRead(list, refs);
        }
    }
    const RwUInt32 surplus = length - sizeof word - 4 * static_cast<RwUInt32>(count);
    if (surplus > 0 && !RwStreamSkip(stream, surplus)) {
        return FailListRead(list, refs);
    }
    for (RwInt32 i = 0; i < count; ++i) {
        RwMaterial *material = refs[i] < 0 ? ReadMaterialChunk(stream)
                                           : RwMaterialAddRef(list->materials[refs[i]]);
        if (!material) {
            return FailListRead(list, refs);
        }
        // The list takes its own reference; the one from the read or the
        // add-ref above is dropped again.
        RwMaterialListAppendMaterial(list, material);
        RwMaterialDestroy(material);
    }
    RwFree(refs);
    return list;
}
