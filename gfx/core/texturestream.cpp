// Texture chunks (a texture by name) and native texture dictionaries written by the device.
#include <cstring>

#include "byteorder.h"
#include "engine.h"
#include "pluginstream.h"
#include "raster.h"
#include "stream.h"
#include "texturemodule.h"

enum : RwUInt32 {
    rwTEXTURESTRUCTSIZE = 4,
    rwTEXTUREHASNOAUTOMIP = 0x10000,   // flags bit: the raster lacks automatic mip levels
    rwTEXDICTIONARYSTRUCTSIZE = 4,
    rwTEXDICTIONARYMAXCOUNT = 0xFFFF,
    rwTEXTURECHUNKHINT = 0x10007,   // a texture chunk's body held while it is read
};

// Texture chunks ----------------------------------------------------------------------------------

// One name of a texture chunk; a name longer than its buffer is refused.
static RwBool ReadName(RwStream *stream, RwChar *name)
{
    RwChar buffer[rwTEXTURESTREAMNAMELENGTH + 1];
    if (!RwStringStreamFindAndRead(buffer, sizeof(buffer), stream))
        return FALSE;
    if (strlen(buffer) >= rwTEXTURESTREAMNAMELENGTH) {
        RwTextureError(RwErrorMakeCode(E_RW_STRINGTOOLONG, buffer, rwTEXTURESTREAMNAMELENGTH,
                                       rwTEXTURESTREAMNAMELENGTH - 1));
        return FALSE;
    }
    memcpy(name, buffer, rwTEXTURESTREAMNAMELENGTH);
    return TRUE;
}

RwBool RwTextureStreamReadHeader(RwStream *stream, RwUInt32 *flags, RwChar *name, RwChar *maskName)
{
    RwUInt32 length = 0;
    if (!RwStreamFindChunk(stream, rwID_STRUCT, &length, nullptr))
        return FALSE;
    // A shorter body leaves the upper bytes zero; a longer one's tail is not ours.
    RwUInt8 body[rwTEXTURESTRUCTSIZE] = {0, 0, 0, 0};
    const RwUInt32 kept = length < rwTEXTURESTRUCTSIZE ? length : rwTEXTURESTRUCTSIZE;
    if ((kept && !RwStreamReadExact(stream, body, kept)) || (length > kept && !RwStreamSkip(stream, length - kept)))
        return FALSE;
    *flags = ReadU32(body);
    return ReadName(stream, name) && ReadName(stream, maskName);
}

RwUInt32 RwTextureStreamGetSize(const RwTexture *texture)
{
    return rwCHUNKHEADERSIZE + rwTEXTURESTRUCTSIZE + RwStringStreamGetSize(texture->name) + rwCHUNKHEADERSIZE +
           RwStringStreamGetSize(texture->mask) + rwCHUNKHEADERSIZE +
           static_cast<RwUInt32>(RwPluginRegistryGetSize(&rwTextureTKList, texture)) + rwCHUNKHEADERSIZE;
}

const RwTexture *RwTextureStreamWrite(const RwTexture *texture, RwStream *stream)
{
    if (!texture || !stream) {
        RwTextureError(E_RW_NULLP);
        return nullptr;
    }
    RwUInt32 flags = RwTextureGetStreamFlags(texture);
    if (texture->raster && !(texture->raster->cFormat & (rwRASTERFORMATAUTOMIPMAP >> 8)))
        flags |= rwTEXTUREHASNOAUTOMIP;
    RwUInt8 body[rwTEXTURESTRUCTSIZE];
    WriteU32(body, flags);
    if (!RwStreamWriteChunkHeader(stream, rwID_TEXTURE, RwTextureStreamGetSize(texture)) ||
        !RwStreamWriteChunkHeader(stream, rwID_STRUCT, rwTEXTURESTRUCTSIZE) ||
        !RwStreamWrite(stream, body, rwTEXTURESTRUCTSIZE) || !RwStringStreamWrite(texture->name, stream) ||
        !RwStringStreamWrite(texture->mask, stream) ||
        !RwPluginRegistryWriteDataChunks(&rwTextureTKList, stream, texture))
        return nullptr;
    return texture;
}

RwTexture *RwTextureStreamRead(RwStream *stream)
{
    if (!stream) {
        RwTextureError(E_RW_NULLP);
        return nullptr;
    }
    RwUInt32 flags = 0;
    RwChar name[rwTEXTURESTREAMNAMELENGTH];
    RwChar maskName[rwTEXTURESTREAMNAMELENGTH];
    if (!RwTextureStreamReadHeader(stream, &flags, name, maskName))
        return nullptr;
    RwBool saved[2];
    RwTextureMipmappingForFlags(flags, saved);
    RwTexture *texture = RwTextureRead(name, maskName);
    RwTextureRestoreMipmapping(saved);
    if (!texture) {
        RwPluginRegistrySkipDataChunks(&rwTextureTKList, stream);
        return nullptr;
    }
    RwBool ok;
    if (texture->refCount == 1) {
        RwTextureSetStreamFlags(texture, flags);
        ok = RwPluginRegistryReadDataChunks(&rwTextureTKList, stream, texture) != nullptr;
    } else {
        ok = RwPluginRegistrySkipDataChunks(&rwTextureTKList, stream) != nullptr;
    }
    if (!ok) {
        // The reference this read took goes back; others keep theirs.
        RwTextureDestroy(texture);
        return nullptr;
    }
    return texture;
}

RwBool RwTextureStreamReadBody(RwStream *stream, RwUInt32 length, RwTexture **texture)
{
    *texture = nullptr;
    if (!RwStreamCanHold(stream, length, 1)) {
        RwTextureError(E_RW_READ);
        return FALSE;
    }
    RwUInt8 *body = static_cast<RwUInt8 *>(RwMalloc(length ? length : 1, rwTEXTURECHUNKHINT));
    if (!body) {
        RwTextureError(E_RW_NOMEM);
        return FALSE;
    }
    if (!RwStreamReadExact(stream, body, length)) {
        RwFree(body);
        return FALSE;
    }
    RwMemory memory = {body, length};
    RwStream *inner = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory);
    if (!inner) {
        RwFree(body);
        return FALSE;
    }
    *texture = RwTextureStreamRead(inner);
    RwStreamClose(inner, nullptr);
    RwFree(body);
    return TRUE;
}

// Native dictionaries -----------------------------------------------------------------------------

static RwUInt32 CountTextures(const RwTextureDictionary *dict)
{
    RwUInt32 count = 0;
    for (const RwLLLink *l = dict->texturesInDict.next; l != &dict->texturesInDict; l = l->next)
        count++;
    return count;
}

static RwUInt32 NativeSize(const RwTexture *texture)
{
    RwInt32 size = 0;
    RwStandardFunction(rwSTANDARDNATIVETEXTUREGETSIZE, &size, const_cast<RwTexture *>(texture), 0);
    return static_cast<RwUInt32>(size);
}

static RwUInt16 RunningDeviceID(void)
{
    RwUInt16 id = 0;
    if (!RwEngineDeviceRequest(&RwEngineInstance->dOpenDevice, rwDEVICESYSTEMGETID, &id, nullptr, 0))
        return 0;
    return id & 0xFF;
}

RwUInt32 RwTextureDictionaryStreamGetSize(const RwTextureDictionary *dict)
{
    RwUInt32 size = rwCHUNKHEADERSIZE + rwTEXDICTIONARYSTRUCTSIZE;
    for (const RwLLLink *l = dict->texturesInDict.next; l != &dict->texturesInDict; l = l->next) {
        const RwTexture *texture = rwLLLinkGetData(const_cast<RwLLLink *>(l), RwTexture, lInDictionary);
        size += NativeSize(texture) + rwCHUNKHEADERSIZE +
                static_cast<RwUInt32>(RwPluginRegistryGetSize(&rwTextureTKList, texture)) + rwCHUNKHEADERSIZE;
    }
    return size + static_cast<RwUInt32>(RwPluginRegistryGetSize(&rwTexDictTKList, dict)) + rwCHUNKHEADERSIZE;
}

const RwTextureDictionary *RwTextureDictionaryStreamWrite(const RwTextureDictionary *dict, RwStream *stream)
{
    if (!dict || !stream) {
        RwTextureError(E_RW_NULLP);
        return nullptr;
    }
    // Counted before anything is written, so a refused dictionary leaves no partial chunk.
    const RwUInt32 count = CountTextures(dict);
    if (count > rwTEXDICTIONARYMAXCOUNT)
        return nullptr;
    RwUInt8 body[rwTEXDICTIONARYSTRUCTSIZE];
    WriteU16(body, static_cast<RwUInt16>(count));
    WriteU16(body + 2, RunningDeviceID());
    if (!RwStreamWriteChunkHeader(stream, rwID_TEXDICTIONARY, RwTextureDictionaryStreamGetSize(dict)) ||
        !RwStreamWriteChunkHeader(stream, rwID_STRUCT, rwTEXDICTIONARYSTRUCTSIZE) ||
        !RwStreamWrite(stream, body, rwTEXDICTIONARYSTRUCTSIZE))
        return nullptr;
    for (const RwLLLink *l = dict->texturesInDict.next; l != &dict->texturesInDict; l = l->next) {
        RwTexture *texture = rwLLLinkGetData(const_cast<RwLLLink *>(l), RwTexture, lInDictionary);
        const RwUInt32 size = NativeSize(texture) + rwCHUNKHEADERSIZE +
                              static_cast<RwUInt32>(RwPluginRegistryGetSize(&rwTextureTKList, texture));
        if (!RwStreamWriteChunkHeader(stream, rwID_TEXTURENATIVE, size) ||
            !RwStandardFunction(rwSTANDARDNATIVETEXTUREWRITE, stream, texture, 0) ||
            !RwPluginRegistryWriteDataChunks(&rwTextureTKList, stream, texture))
            return nullptr;
    }
    if (!RwPluginRegistryWriteDataChunks(&rwTexDictTKList, stream, dict))
        return nullptr;
    return dict;
}

// One texture of a native dictionary, or NULL with nothing left behind.
static RwTexture *ReadNativeTexture(RwStream *stream)
{
    if (!RwStreamFindChunk(stream, rwID_TEXTURENATIVE, nullptr, nullptr))
        return nullptr;
    RwTexture *texture = nullptr;
    if (!RwStandardFunction(rwSTANDARDNATIVETEXTUREREAD, stream, &texture, 0) || !texture)
        return nullptr;
    if (!RwPluginRegistryReadDataChunks(&rwTextureTKList, stream, texture)) {
        RwTextureDestroy(texture);
        return nullptr;
    }
    return texture;
}

RwTextureDictionary *RwTextureDictionaryStreamRead(RwStream *stream)
{
    if (!stream) {
        RwTextureError(E_RW_NULLP);
        return nullptr;
    }
    RwUInt32 length = 0;
    if (!RwStreamFindChunk(stream, rwID_STRUCT, &length, nullptr))
        return nullptr;
    RwUInt8 body[rwTEXDICTIONARYSTRUCTSIZE];
    if (length < rwTEXDICTIONARYSTRUCTSIZE) {
        RwTextureError(E_RW_READ);
        return nullptr;
    }
    if (!RwStreamReadExact(stream, body, rwTEXDICTIONARYSTRUCTSIZE) ||
        (length > rwTEXDICTIONARYSTRUCTSIZE && !RwStreamSkip(stream, length - rwTEXDICTIONARYSTRUCTSIZE)))
        return nullptr;
    const RwUInt32 count = ReadU16(body);
    const RwUInt32 storedID = ReadU16(body + 2);
    const RwUInt32 runningID = RunningDeviceID();
    if (storedID != 0 && runningID != 0 && storedID != runningID)
        return nullptr;
    // Every texture needs at least a chunk header.
    if (!RwStreamCanHold(stream, count, rwCHUNKHEADERSIZE)) {
        RwTextureError(E_RW_READ);
        return nullptr;
    }
    RwTextureDictionary *dict = RwTextureDictionaryCreate();
    if (!dict)
        return nullptr;
    for (RwUInt32 i = 0; i < count; i++) {
        RwTexture *texture = ReadNativeTexture(stream);
        if (!texture) {
            RwTextureDictionaryDestroy(dict);
            return nullptr;
        }
        RwTextureDictionaryAddTexture(dict, texture);
    }
    if (!RwPluginRegistryReadDataChunks(&rwTexDictTKList, stream, dict)) {
        RwTextureDictionaryDestroy(dict);
        return nullptr;
    }
    return dict;
}
