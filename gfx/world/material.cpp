// Material module: materials from their free list, their references, textures, streams and pipeline rights.
#include "material.h"
#include "gfx/core/pipeline.h"

#include "gfx/core/byteorder.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/finite.h"
#include "gfx/core/memory.h"
#include "gfx/core/modules.h"
#include "gfx/core/pluginstream.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "worldids.h"
#include "worldstream.h"

struct RwMaterialGlobals {
    RwFreeList *materialFreeList;
};
static_assert(sizeof(RwMaterialGlobals) == 4, "the material module registers 4 bytes of globals");

enum : RwUInt32 {
    rwTEXTURECHUNK = 0x06,
};
enum : RwInt32 { rwMATERIALSPERBLOCK = 256 };

static RwPluginRegistry materialTKList = rwPLUGINREGISTRY_INIT(sizeof(RwMaterial));
static RwInt32 materialModuleOffset = -1;
static RwInt32 materialModuleOpens = 0;
static RwFreeList materialFreeListSpace;
static RwSurfaceProperties defaultSurfaceProps = {1.0f, 1.0f, 1.0f};
// Right-to-render chunk of the material being read: the id names the
// extension whose rights callback gets the data word.
static RwUInt32 pendingRightsID = 0;
static RwUInt32 pendingRightsData = 0;

static RwMaterialGlobals *MaterialGlobals()
{
    return RwEngineModuleGlobals<RwMaterialGlobals>(materialModuleOffset);
}

void *RwMaterialModuleOpen(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    materialModuleOffset = offset;
    RwMaterialGlobals *g = MaterialGlobals();
    g->materialFreeList = RwFreeListCreateAndPreallocate(materialTKList.sizeOfStruct, rwMATERIALSPERBLOCK, 4, 1,
                                                         &materialFreeListSpace, rwMEMHINT_MATERIALFREELIST);
    if (!g->materialFreeList) {
        return nullptr;
    }
    ++materialModuleOpens;
    return instance;
}

void *RwMaterialModuleClose(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    RwMaterialGlobals *g = reinterpret_cast<RwMaterialGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    if (g->materialFreeList) {
        RwFreeListDestroy(g->materialFreeList);
        g->materialFreeList = nullptr;
    }
    --materialModuleOpens;
    return instance;
}

const RwSurfaceProperties *RwMaterialGetDefaultSurfaceProperties(void)
{
    return &defaultSurfaceProps;
}

void RwMaterialSetDefaultSurfaceProperties(const RwSurfaceProperties *surfaceProps)
{
    defaultSurfaceProps = *surfaceProps;
}

RwMaterial *RwMaterialCreate(void)
{
    RwMaterial *material = static_cast<RwMaterial *>(RwFreeListAlloc(MaterialGlobals()->materialFreeList,
                                                                     rwMEMHINT_MATERIAL));
    if (!material) {
        return nullptr;
    }
    material->texture = nullptr;
    material->color = {255, 255, 255, 255};
    material->pipeline = nullptr;
    material->surfaceProps = defaultSurfaceProps;
    material->refCount = 1;
    material->pad = 0;
    if (!RwPluginRegistryInitObject(&materialTKList, material)) {
        RwFreeListFree(MaterialGlobals()->materialFreeList, material);
        return nullptr;
    }
    return material;
}

RwBool RwMaterialDestroy(RwMaterial *material)
{
    if (material->refCount != 1) {
        material->refCount--;
        return TRUE;
    }
    RwPluginRegistryDeInitObject(&materialTKList, material);
    if (material->texture) {
        RwTextureDestroy(material->texture);
        material->texture = nullptr;
    }
    RwFreeListFree(MaterialGlobals()->materialFreeList, material);
    return TRUE;
}

RwMaterial *RwMaterialAddRef(RwMaterial *material)
{
    material->refCount++;
    return material;
}

RwMaterial *RwMaterialSetTexture(RwMaterial *material, RwTexture *texture)
{
    // The new reference first: setting the texture the material already has
    // must not free it on the way.
    if (texture) {
        RwTextureAddRef(texture);
    }
    if (material->texture) {
        RwTextureDestroy(material->texture);
    }
    material->texture = texture;
    return material;
}

RwInt32 RwMaterialRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                                 RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB)
{
    return RwPluginRegistryAddPlugin(&materialTKList, size, pluginID, constructCB, destructCB, copyCB);
}

RwInt32 RwMaterialRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                       RwPluginDataChunkWriteCallBack writeCB,
                                       RwPluginDataChunkGetSizeCallBack getSizeCB)
{
    return RwPluginRegistryAddPluginStream(&materialTKList, pluginID, readCB, writeCB, getSizeCB);
}

RwInt32 RwMaterialGetPluginOffset(RwUInt32 pluginID)
{
    return RwPluginRegistryGetPluginOffset(&materialTKList, pluginID);
}

RwInt32 RwMaterialSetStreamRightsCallBack(RwUInt32 pluginID, RwPluginDataChunkRightsCallBack rightsCB)
{
    return RwPluginRegistryAddPluginStreamRightsCallBack(&materialTKList, pluginID, rightsCB);
}

RwUInt32 RwMaterialStreamGetSize(const RwMaterial *material)
{
    RwUInt32 size = rwCHUNKHEADERSIZE + rwMATERIALSTREAMSTRUCTSIZE + rwCHUNKHEADERSIZE +
                    static_cast<RwUInt32>(RwPluginRegistryGetSize(&materialTKList, material));
    if (material->texture) {
        size += rwCHUNKHEADERSIZE + RwTextureStreamGetSize(material->texture);
    }
    return size;
}

const RwMaterial *RwMaterialStreamWrite(const RwMaterial *material, RwStream *stream)
{
    if (!RwStreamWriteChunkHeader(stream, rwID_MATERIAL, RwMaterialStreamGetSize(material)) ||
        !RwStreamWriteChunkHeader(stream, rwID_STRUCT, rwMATERIALSTREAMSTRUCTSIZE)) {
        return nullptr;
    }
    RwUInt8 body[rwMATERIALSTREAMSTRUCTSIZE];
    WriteU32(body, 0);
    WriteU8(body + 4, material->color.red);
    WriteU8(body + 5, material->color.green);
    WriteU8(body + 6, material->color.blue);
    WriteU8(body + 7, material->color.alpha);
    WriteU32(body + 8, 0);
    WriteU32(body + 12, material->texture ? 1 : 0);
    WriteF32(body + 16, material->surfaceProps.ambient);
    WriteF32(body + 20, material->surfaceProps.specular);
    WriteF32(body + 24, material->surfaceProps.diffuse);
    if (!RwStreamWrite(stream, body, sizeof body)) {
        return nullptr;
    }
    if (material->texture && !RwTextureStreamWrite(material->texture, stream)) {
        return nullptr;
    }
    if (!RwPluginRegistryWriteDataChunks(&materialTKList, stream, material)) {
        return nullptr;
    }
    return material;
}

// A chunk cut short fails the material; a texture merely not found leaves it
// untextured.
static RwBool ReadTextureChunk(RwStream *stream, RwMaterial *material)
{
    RwUInt32 length = 0;
    return RwWorldStreamFindChunk(stream, rwTEXTURECHUNK, &length) &&
           RwTextureStreamReadBody(stream, length, &material->texture);
}

RwMaterial *RwMaterialStreamRead(RwStream *stream)
{
    RwUInt32 length = 0;
    if (!RwWorldStreamFindChunk(stream, rwID_STRUCT, &length)) {
        return nullptr;
    }
    // A shorter struct leaves the later fields zero; a longer one's surplus
    // is skipped.
    RwUInt8 body[rwMATERIALSTREAMSTRUCTSIZE] = {};
    const RwUInt32 used = length < sizeof body ? length : static_cast<RwUInt32>(sizeof body);
    if (!RwStreamReadExact(stream, body, used) || (length > used && !RwStreamSkip(stream, length - used))) {
        return nullptr;
    }
    // Ambient, specular and diffuse light the surface.
    RwReal surface[3];
    ReadF32s(body + 16, surface, 3);
    if (!RwStreamRealsFinite(surface, 3)) {
        return nullptr;
    }
    RwMaterial *material = RwMaterialCreate();
    if (!material) {
        return nullptr;
    }
    material->color = {ReadU8(body + 4), ReadU8(body + 5), ReadU8(body + 6), ReadU8(body + 7)};
    material->surfaceProps = {surface[0], surface[1], surface[2]};
    if (ReadU32(body + 12) != 0 && !ReadTextureChunk(stream, material)) {
        RwMaterialDestroy(material);
        return nullptr;
    }
    pendingRightsID = 0;
    pendingRightsData = 0;
    if (!RwPluginRegistryReadDataChunks(&materialTKList, stream, material)) {
        RwMaterialDestroy(material);
        return nullptr;
    }
    if (pendingRightsID != 0) {
        RwPluginRegistryInvokeRights(&materialTKList, pendingRightsID, material, pendingRightsData);
    }
    return material;
}

RwInt32 RwMaterialRightsStreamGetSize(const void *object, RwInt32 /*offset*/, RwInt32 /*size*/)
{
    const RwMaterial *material = static_cast<const RwMaterial *>(object);
    if (material->pipeline && material->pipeline->pluginId != 0) {
        return 8;
    }
    return 0;
}

RwStream *RwMaterialRightsStreamWrite(RwStream *stream, RwInt32 /*length*/, const void *object,
                                      RwInt32 /*offset*/, RwInt32 /*size*/)
{
    const RwMaterial *material = static_cast<const RwMaterial *>(object);
    const RwInt32 words[2] = {static_cast<RwInt32>(material->pipeline->pluginId),
                              static_cast<RwInt32>(material->pipeline->pluginData)};
    return RwStreamWriteInt32(stream, words, sizeof words);
}

RwStream *RwMaterialRightsStreamRead(RwStream *stream, RwInt32 length, void * /*material*/, RwInt32 /*offset*/,
                                     RwInt32 /*size*/)
{
    RwUInt8 words[8];
    const RwUInt32 n = length == 8 ? 8 : 4;
    if (length < 4 || !RwStreamReadExact(stream, words, n)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    pendingRightsID = ReadU32(words);
    if (n == 8) {
        pendingRightsData = ReadU32(words + 4);
    }
    return stream;
}
