// Textures: reference-counted named rasters, the read path by name, the hooks and the module.
#include "texture.h"

#include <cstring>

#include "engine.h"
#include "modules.h"
#include "pluginstream.h"
#include "raster.h"
#include "rwstring.h"
#include "texturemodule.h"

static RwInt32 textureModuleOffset = -1;
static RwInt32 textureModuleOpenCount = 0;
RwPluginRegistry rwTextureTKList = rwPLUGINREGISTRY_INIT(sizeof(RwTexture));

enum : RwInt32 { rwTEXTUREPERBLOCK = 64, rwTEXDICTIONARYPERBLOCK = 8 };

RwTextureGlobals *RwTextureModuleGlobals(void)
{
    return RwEngineModuleGlobals<RwTextureGlobals>(textureModuleOffset);
}

RwInt32 RwTextureRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                                RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB)
{
    return RwPluginRegistryAddPlugin(&rwTextureTKList, size, pluginID, constructCB, destructCB, copyCB);
}

RwInt32 RwTextureRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                      RwPluginDataChunkWriteCallBack writeCB,
                                      RwPluginDataChunkGetSizeCallBack getSizeCB)
{
    return RwPluginRegistryAddPluginStream(&rwTextureTKList, pluginID, readCB, writeCB, getSizeCB);
}

RwInt32 RwTextureGetPluginOffset(RwUInt32 pluginID)
{
    return RwPluginRegistryGetPluginOffset(&rwTextureTKList, pluginID);
}

RwTexture *RwTextureCreate(RwRaster *raster)
{
    RwTextureGlobals *g = RwTextureModuleGlobals();
    RwTexture *texture = static_cast<RwTexture *>(RwFreeListAlloc(g->textureFreeList, rwMEMHINT_TEXTURE));
    if (!texture) {
        RwTextureError(E_RW_NOMEM);
        return nullptr;
    }
    texture->raster = raster;
    texture->dict = nullptr;
    RwLinkListInitialize(&texture->lInDictionary);
    // Whole fields are zero: the device writes them to native streams as they are.
    memset(texture->name, 0, sizeof(texture->name));
    memset(texture->mask, 0, sizeof(texture->mask));
    texture->filterMode = rwFILTERNEAREST;
    texture->addressing = (rwTEXTUREADDRESSWRAP << 4) | rwTEXTUREADDRESSWRAP;
    texture->refCount = 1;
    if (!RwPluginRegistryInitObject(&rwTextureTKList, texture)) {
        RwFreeListFree(g->textureFreeList, texture);
        return nullptr;
    }
    return texture;
}

RwBool RwTextureDestroy(RwTexture *texture)
{
    if (!texture) {
        RwTextureError(E_RW_NULLP);
        return FALSE;
    }
    if (--texture->refCount > 0)
        return TRUE;
    // Destructors may look the texture up or take references; it must still look alive.
    texture->refCount = 1;
    RwPluginRegistryDeInitObject(&rwTextureTKList, texture);
    RwTextureDictionaryRemoveTexture(texture);
    if (texture->raster) {
        RwRasterDestroy(texture->raster);
        texture->raster = nullptr;
    }
    texture->refCount = 0;
    RwFreeListFree(RwTextureModuleGlobals()->textureFreeList, texture);
    return TRUE;
}

RwTexture *RwTextureAddRef(RwTexture *texture)
{
    if (!texture) {
        RwTextureError(E_RW_NULLP);
        return nullptr;
    }
    texture->refCount++;
    return texture;
}

// Copies a name into a 32-character field, cutting and reporting a longer one.
static void SetNameField(RwChar *field, const RwChar *name)
{
    if (!name)
        name = "";
    if (name == field)
        return;
    memset(field, 0, rwTEXTUREBASENAMELENGTH);
    if (!RwStringCopyBounded(field, rwTEXTUREBASENAMELENGTH, name))
        RwTextureError(RwErrorMakeCode(E_RW_STRINGTOOLONG, name, rwTEXTUREBASENAMELENGTH,
                                       rwTEXTUREBASENAMELENGTH - 1, name[rwTEXTUREBASENAMELENGTH - 1]));
}

RwTexture *RwTextureSetName(RwTexture *texture, const RwChar *name)
{
    if (!texture) {
        RwTextureError(E_RW_NULLP);
        return nullptr;
    }
    SetNameField(texture->name, name);
    return texture;
}

RwTexture *RwTextureSetMaskName(RwTexture *texture, const RwChar *maskName)
{
    if (!texture) {
        RwTextureError(E_RW_NULLP);
        return nullptr;
    }
    SetNameField(texture->mask, maskName);
    return texture;
}

RwTexture *RwTextureSetRaster(RwTexture *texture, RwRaster *raster)
{
    if (!texture) {
        RwTextureError(E_RW_NULLP);
        return nullptr;
    }
    if (!raster) {
        texture->raster = nullptr;
        return texture;
    }
    if (RwStandardFunction(rwSTANDARDTEXTURESETRASTER, texture, raster, 0) <= 0)
        return nullptr;
    return texture;
}

RwTexture *RwTextureCreateNamed(RwRaster *raster, const RwChar *name, const RwChar *maskName)
{
    RwTexture *texture = RwTextureCreate(raster);
    if (!texture) {
        RwRasterDestroy(raster);
        return nullptr;
    }
    SetNameField(texture->name, name);
    SetNameField(texture->mask, maskName);
    return texture;
}

void RwTextureCopyLoaderName(RwChar *buffer, const RwChar *name)
{
    if (!RwStringCopyBounded(buffer, rwTEXTURELOADERNAMELENGTH, name ? name : ""))
        RwTextureError(RwErrorMakeCode(E_RW_STRINGTOOLONG, name, rwTEXTURELOADERNAMELENGTH,
                                       rwTEXTURELOADERNAMELENGTH - 1));
}

void RwTextureSetStreamFlags(RwTexture *texture, RwUInt32 flags)
{
    RwUInt32 u = (flags >> 8) & 0x0F;
    RwUInt32 v = (flags >> 12) & 0x0F;
    if (v == 0)
        v = u;
    texture->filterMode = static_cast<RwUInt8>(flags & 0xFF);
    texture->addressing = static_cast<RwUInt8>((v << 4) | u);
}

RwUInt32 RwTextureGetStreamFlags(const RwTexture *texture)
{
    return texture->filterMode | (static_cast<RwUInt32>(texture->addressing & 0x0F) << 8) |
           (static_cast<RwUInt32>(texture->addressing >> 4) << 12);
}

void RwTextureMipmappingForFlags(RwUInt32 flags, RwBool saved[2])
{
    RwTextureGlobals *g = RwTextureModuleGlobals();
    saved[0] = g->haveMipmaps;
    saved[1] = g->generateMipmaps;
    const RwUInt32 filter = flags & 0xFF;
    const RwBool mip = filter >= rwFILTERMIPNEAREST && filter <= rwFILTERLINEARMIPLINEAR;
    g->haveMipmaps = mip;
    g->generateMipmaps = mip && !(flags & 0x10000);
}

void RwTextureRestoreMipmapping(const RwBool saved[2])
{
    RwTextureGlobals *g = RwTextureModuleGlobals();
    g->haveMipmaps = saved[0];
    g->generateMipmaps = saved[1];
}

// Read path ---------------------------------------------------------------------------------------

RwTexture *RwTextureRead(const RwChar *name, const RwChar *maskName)
{
    if (!name) {
        RwTextureError(E_RW_NULLP);
        return nullptr;
    }
    RwTextureGlobals *g = RwTextureModuleGlobals();
    RwTexture *texture = g->findCallBack(name);
    if (texture) {
        texture->refCount++;
        return texture;
    }
    texture = g->readCallBack(name, maskName);
    if (!texture) {
        RwTextureError(RwErrorMakeCode(E_RW_READTEXMASK, name, maskName ? maskName : "(null)"));
        return nullptr;
    }
    if (g->currentTexDict)
        RwTextureDictionaryAddTexture(g->currentTexDict, texture);
    return texture;
}

RwTexture *RwTextureDefaultFind(const RwChar *name)
{
    RwTextureGlobals *g = RwTextureModuleGlobals();
    if (g->currentTexDict)
        return RwTextureDictionaryFindTexture(g->currentTexDict, name);
    for (RwLLLink *l = g->texDictList.next; l != &g->texDictList; l = l->next) {
        RwTexture *found = RwTextureDictionaryFindTexture(rwLLLinkGetData(l, RwTextureDictionary, lInInstance), name);
        if (found)
            return found;
    }
    return nullptr;
}

RwBool RwTextureSetReadCallback(RwTextureCallBackRead callback)
{
    RwTextureModuleGlobals()->readCallBack = callback ? callback : RwTextureDefaultRead;
    return TRUE;
}

RwTextureCallBackRead RwTextureGetReadCallback(void)
{
    return RwTextureModuleGlobals()->readCallBack;
}

RwBool RwTextureSetFindCallback(RwTextureCallBackFind callback)
{
    RwTextureModuleGlobals()->findCallBack = callback ? callback : RwTextureDefaultFind;
    return TRUE;
}

RwTextureCallBackFind RwTextureGetFindCallback(void)
{
    return RwTextureModuleGlobals()->findCallBack;
}

RwBool RwTextureSetMipmapGenerationCallback(RwTextureCallBackMipmapGeneration callback)
{
    RwTextureModuleGlobals()->mipmapGenerationCallBack = callback ? callback : RwTextureDefaultGenerateMipmaps;
    return TRUE;
}

RwBool RwTextureSetMipmapNameCallback(RwTextureCallBackMipmapName callback)
{
    RwTextureModuleGlobals()->mipmapNameCallBack = callback ? callback : RwTextureDefaultMipmapName;
    return TRUE;
}

RwBool RwTextureSetMipmapping(RwBool enable)
{
    RwTextureModuleGlobals()->haveMipmaps = enable;
    return TRUE;
}

RwBool RwTextureGetMipmapping(void)
{
    return RwTextureModuleGlobals()->haveMipmaps;
}

RwBool RwTextureSetAutoMipmapping(RwBool enable)
{
    RwTextureModuleGlobals()->generateMipmaps = enable;
    return TRUE;
}

RwBool RwTextureGetAutoMipmapping(void)
{
    return RwTextureModuleGlobals()->generateMipmaps;
}

RwBool RwTextureRasterGenerateMipmaps(RwRaster *raster, RwImage *image)
{
    return RwTextureModuleGlobals()->mipmapGenerationCallBack(raster, image) > 0;
}

// Module ------------------------------------------------------------------------------------------

void *RwTextureModuleOpen(void *instance, RwInt32 offset, RwInt32 size)
{
    textureModuleOffset = offset;
    RwTextureGlobals *g = RwTextureModuleGlobals();
    memset(g, 0, sizeof(*g));
    g->textureFreeList = RwFreeListCreateAndPreallocate(rwTextureTKList.sizeOfStruct, rwTEXTUREPERBLOCK, 4, 1,
                                                        nullptr, rwMEMHINT_TEXTUREFREELIST);
    if (!g->textureFreeList)
        return nullptr;
    g->texDictFreeList = RwFreeListCreateAndPreallocate(rwTexDictTKList.sizeOfStruct, rwTEXDICTIONARYPERBLOCK, 4,
                                                        1, nullptr, rwMEMHINT_TEXDICTIONARYFREELIST);
    if (!g->texDictFreeList) {
        RwFreeListDestroy(g->textureFreeList);
        g->textureFreeList = nullptr;
        return nullptr;
    }
    RwLinkListInitialize(&g->texDictList);
    textureModuleOpenCount++;
    g->defaultTexDict = RwTextureDictionaryCreate();
    if (!g->defaultTexDict) {
        RwFreeListDestroy(g->texDictFreeList);
        RwFreeListDestroy(g->textureFreeList);
        g->texDictFreeList = g->textureFreeList = nullptr;
        textureModuleOpenCount--;
        return nullptr;
    }
    g->currentTexDict = g->defaultTexDict;
    g->readCallBack = RwTextureDefaultRead;
    g->findCallBack = RwTextureDefaultFind;
    g->mipmapGenerationCallBack = RwTextureDefaultGenerateMipmaps;
    g->mipmapNameCallBack = RwTextureDefaultMipmapName;
    g->haveMipmaps = FALSE;
    g->generateMipmaps = FALSE;
    return instance;
}

void *RwTextureModuleClose(void *instance, RwInt32 offset, RwInt32 size)
{
    RwTextureGlobals *g = RwTextureModuleGlobals();
    // The default dictionary, and any a caller forgot, go with their textures
    // so that no raster outlives the device.
    while (!RwLinkListEmpty(&g->texDictList))
        RwTextureDictionaryDestroy(rwLLLinkGetData(g->texDictList.next, RwTextureDictionary, lInInstance));
    g->defaultTexDict = nullptr;
    g->currentTexDict = nullptr;
    RwFreeListDestroy(g->texDictFreeList);
    RwFreeListDestroy(g->textureFreeList);
    g->texDictFreeList = g->textureFreeList = nullptr;
    textureModuleOpenCount--;
    return instance;
}
