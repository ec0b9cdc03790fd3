// Texture dictionaries: named-texture containers, the current dictionary and the walks.
#include <cstring>

#include "engine.h"
#include "pluginstream.h"
#include "rwstring.h"
#include "texturemodule.h"

RwPluginRegistry rwTexDictTKList = rwPLUGINREGISTRY_INIT(sizeof(RwTextureDictionary));

static RwTexture *TextureOfLink(RwLLLink *link)
{
    return rwLLLinkGetData(link, RwTexture, lInDictionary);
}

RwInt32 RwTextureDictionaryRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                                          RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB)
{
    return RwPluginRegistryAddPlugin(&rwTexDictTKList, size, pluginID, constructCB, destructCB, copyCB);
}

RwInt32 RwTextureDictionaryRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                                RwPluginDataChunkWriteCallBack writeCB,
                                                RwPluginDataChunkGetSizeCallBack getSizeCB)
{
    return RwPluginRegistryAddPluginStream(&rwTexDictTKList, pluginID, readCB, writeCB, getSizeCB);
}

RwTextureDictionary *RwTextureDictionaryCreate(void)
{
    RwTextureGlobals *g = RwTextureModuleGlobals();
    RwTextureDictionary *dict =
        static_cast<RwTextureDictionary *>(RwFreeListAlloc(g->texDictFreeList, rwMEMHINT_TEXDICTIONARY));
    if (!dict) {
        RwTextureError(E_RW_NOMEM);
        return nullptr;
    }
    rwObjectInitialize(dict, rwTEXDICTIONARY, 0);
    RwLinkListInitialize(&dict->texturesInDict);
    RwLinkListAddLLLink(&g->texDictList, &dict->lInInstance);
    if (!RwPluginRegistryInitObject(&rwTexDictTKList, dict)) {
        RwLLLinkRemove(&dict->lInInstance);
        RwFreeListFree(g->texDictFreeList, dict);
        return nullptr;
    }
    return dict;
}

RwBool RwTextureDictionaryDestroy(RwTextureDictionary *dict)
{
    if (!dict) {
        RwTextureError(E_RW_NULLP);
        return FALSE;
    }
    RwTextureGlobals *g = RwTextureModuleGlobals();
    if (g->currentTexDict == dict)
        g->currentTexDict = nullptr;
    if (g->defaultTexDict == dict)
        g->defaultTexDict = nullptr;
    // Each texture is detached before its reference goes, so one that others
    // still hold never points at this dictionary once it is freed.
    while (!RwLinkListEmpty(&dict->texturesInDict)) {
        RwTexture *texture = TextureOfLink(dict->texturesInDict.next);
        RwTextureDictionaryRemoveTexture(texture);
        RwTextureDestroy(texture);
    }
    RwPluginRegistryDeInitObject(&rwTexDictTKList, dict);
    RwLLLinkRemove(&dict->lInInstance);
    RwFreeListFree(g->texDictFreeList, dict);
    return TRUE;
}

RwTexture *RwTextureDictionaryAddTexture(RwTextureDictionary *dict, RwTexture *texture)
{
    if (!dict || !texture) {
        RwTextureError(E_RW_NULLP);
        return nullptr;
    }
    RwTextureDictionaryRemoveTexture(texture);
    texture->dict = dict;
    RwLinkListAddLLLink(&dict->texturesInDict, &texture->lInDictionary);
    return texture;
}

RwTexture *RwTextureDictionaryRemoveTexture(RwTexture *texture)
{
    if (!texture) {
        RwTextureError(E_RW_NULLP);
        return nullptr;
    }
    if (texture->dict) {
        RwLLLinkRemove(&texture->lInDictionary);
        RwLinkListInitialize(&texture->lInDictionary);
        texture->dict = nullptr;
    }
    return texture;
}

RwTexture *RwTextureDictionaryFindTexture(RwTextureDictionary *dict, const RwChar *name)
{
    if (!dict || !name) {
        RwTextureError(E_RW_NULLP);
        return nullptr;
    }
    for (RwLLLink *l = dict->texturesInDict.next; l != &dict->texturesInDict; l = l->next) {
        RwTexture *texture = TextureOfLink(l);
        if (RwStringCompareNoCase(texture->name, name) == 0)
            return texture;
    }
    return nullptr;
}

const RwTextureDictionary *RwTextureDictionaryForAllTextures(const RwTextureDictionary *dict,
                                                              RwTextureCallBack callback, void *data)
{
    if (!dict || !callback) {
        RwTextureError(E_RW_NULLP);
        return nullptr;
    }
    const RwLLLink *end = &dict->texturesInDict;
    for (RwLLLink *l = end->next; l != end;) {
        RwLLLink *next = l->next;   // the callback may destroy or move this texture
        if (!callback(TextureOfLink(l), data))
            break;
        l = next;
    }
    return dict;
}

RwBool RwTextureDictionaryForAllDictionaries(RwTexDictionaryCallBack callback, void *data)
{
    if (!callback) {
        RwTextureError(E_RW_NULLP);
        return FALSE;
    }
    RwLinkList *list = &RwTextureModuleGlobals()->texDictList;
    for (RwLLLink *l = list->next; l != list;) {
        RwLLLink *next = l->next;
        if (!callback(rwLLLinkGetData(l, RwTextureDictionary, lInInstance), data))
            break;
        l = next;
    }
    return TRUE;
}

RwTextureDictionary *RwTextureDictionarySetCurrent(RwTextureDictionary *dict)
{
    RwTextureModuleGlobals()->currentTexDict = dict;
    return dict;
}

RwTextureDictionary *RwTextureDictionaryGetCurrent(void)
{
    return RwTextureModuleGlobals()->currentTexDict;
}
