// Materials (colour, surface properties, texture, pipeline) and material lists, with their streams.
#pragma once

#include "gfx/core/plugin.h"
#include "gfx/core/rwtypes.h"

struct RwTexture;
struct RwStream;
struct RxPipeline;

struct RwSurfaceProperties {
    RwReal ambient;
    RwReal specular;
    RwReal diffuse;
};
static_assert(sizeof(RwSurfaceProperties) == 12, "three reals");

struct RwMaterial {
    RwTexture *texture;               // one reference held; NULL when untextured
    RwRGBA color;
    RxPipeline *pipeline;             // not referenced; NULL: the default material pipeline
    RwSurfaceProperties surfaceProps;
    RwInt16 refCount;
    RwInt16 pad;
};
static_assert(sizeof(RwMaterial) == 28, "material base data is 28 bytes");

// Every entry holds one reference to its material; a material may stand in
// several entries.
struct RwMaterialList {
    RwMaterial **materials;
    RwInt32 numMaterials;
    RwInt32 space;
};
static_assert(sizeof(RwMaterialList) == 12, "material list is three words");

enum : RwUInt32 {
    rwMEMHINT_MATERIAL = 0x30007,
    rwMEMHINT_MATERIALFREELIST = 0x40007,
    rwMEMHINT_MATLISTARRAY = 0x1030008,
    rwMEMHINT_MATLISTREFS = 0x10501,
};
enum : RwInt32 {
    rwMATERIALSTREAMSTRUCTSIZE = 28,
    rwMATERIALLISTGROWTH = 20,
};

typedef RwMaterial *(*RwMaterialCallBack)(RwMaterial *material, void *data);

// Engine module 0x501 (4 bytes of globals).
void *RwMaterialModuleOpen(void *instance, RwInt32 offset, RwInt32 size);
void *RwMaterialModuleClose(void *instance, RwInt32 offset, RwInt32 size);

RwMaterial *RwMaterialCreate(void);
RwBool RwMaterialDestroy(RwMaterial *material);
RwMaterial *RwMaterialAddRef(RwMaterial *material);
RwMaterial *RwMaterialSetTexture(RwMaterial *material, RwTexture *texture);
RwInt32 RwMaterialRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                                 RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB);
RwInt32 RwMaterialRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                       RwPluginDataChunkWriteCallBack writeCB,
                                       RwPluginDataChunkGetSizeCallBack getSizeCB);
RwInt32 RwMaterialGetPluginOffset(RwUInt32 pluginID);
// The callback that gets the data word when a material's right-to-render
// chunk names the plug-in.
RwInt32 RwMaterialSetStreamRightsCallBack(RwUInt32 pluginID, RwPluginDataChunkRightsCallBack rightsCB);

// The module's default surface properties, copied into every new material.
const RwSurfaceProperties *RwMaterialGetDefaultSurfaceProperties(void);
void RwMaterialSetDefaultSurfaceProperties(const RwSurfaceProperties *surfaceProps);

// Material chunk (0x07): the size of its body, the chunk with its header, and
// the reader that takes the stream just after the header.
RwUInt32 RwMaterialStreamGetSize(const RwMaterial *material);
const RwMaterial *RwMaterialStreamWrite(const RwMaterial *material, RwStream *stream);
RwMaterial *RwMaterialStreamRead(RwStream *stream);

// Callbacks of the pipeline-rights extension (id 0x1F) of materials.
RwInt32 RwMaterialRightsStreamGetSize(const void *material, RwInt32 offset, RwInt32 size);
RwStream *RwMaterialRightsStreamWrite(RwStream *stream, RwInt32 length, const void *material, RwInt32 offset,
                                      RwInt32 size);
RwStream *RwMaterialRightsStreamRead(RwStream *stream, RwInt32 length, void *material, RwInt32 offset,
                                     RwInt32 size);

// Material lists.
RwMaterialList *RwMaterialListInitialize(RwMaterialList *list);
RwMaterialList *RwMaterialListDeinitialize(RwMaterialList *list);
// The caller keeps index within 0 .. count - 1.
inline RwMaterial *RwMaterialListGetMaterial(const RwMaterialList *list, RwInt32 index)
{
    return list->materials[index];
}
inline RwInt32 RwMaterialListGetNumMaterials(const RwMaterialList *list) { return list->numMaterials; }
// Index of the new entry, or -1 when the array cannot grow.
RwInt32 RwMaterialListAppendMaterial(RwMaterialList *list, RwMaterial *material);
// The highest index holding the material, or -1.
RwInt32 RwMaterialListFindMaterialIndex(const RwMaterialList *list, const RwMaterial *material);

// Material-list chunk (0x08), with the same conventions as materials.
RwUInt32 RwMaterialListStreamGetSize(const RwMaterialList *list);
const RwMaterialList *RwMaterialListStreamWrite(const RwMaterialList *list, RwStream *stream);
// Fills an unused (or deinitialised) list; on failure the list is left empty.
RwMaterialList *RwMaterialListStreamRead(RwStream *stream, RwMaterialList *list);
