// Textures and texture dictionaries: named, reference-counted rasters, the
// current dictionary, the read path by name and their streams.
#pragma once

#include "rwtypes.h"
#include "plugin.h"

struct RwRaster;
struct RwImage;
struct RwStream;
struct RwTextureDictionary;

enum : RwInt32 { rwTEXTUREBASENAMELENGTH = 32 };
enum : RwUInt8 { rwTEXDICTIONARY = 6 };
enum : RwUInt32 {
    rwMEMHINT_TEXTURE = 0x30006,
    rwMEMHINT_TEXDICTIONARY = 0x30016,
    rwMEMHINT_TEXTUREFREELIST = 0x40006,
    rwMEMHINT_TEXDICTIONARYFREELIST = 0x40408,
};

// Filter modes (low byte of the stream's filter-and-addressing word).
enum : RwUInt8 {
    rwFILTERNAFILTERMODE = 0,
    rwFILTERNEAREST = 1,
    rwFILTERLINEAR = 2,
    rwFILTERMIPNEAREST = 3,
    rwFILTERMIPLINEAR = 4,
    rwFILTERLINEARMIPNEAREST = 5,
    rwFILTERLINEARMIPLINEAR = 6,
};

// Addressing modes (a nibble each for U and V).
enum : RwUInt8 {
    rwTEXTUREADDRESSNATEXTUREADDRESS = 0,
    rwTEXTUREADDRESSWRAP = 1,
    rwTEXTUREADDRESSMIRROR = 2,
    rwTEXTUREADDRESSCLAMP = 3,
    rwTEXTUREADDRESSBORDER = 4,
};

struct RwTexture {
    RwRaster *raster;                 // owned; destroyed with the texture
    RwTextureDictionary *dict;        // dictionary holding the texture, or NULL
    RwLLLink lInDictionary;           // position in the dictionary's list
    RwChar name[rwTEXTUREBASENAMELENGTH];
    RwChar mask[rwTEXTUREBASENAMELENGTH];
    RwUInt8 filterMode;               // 1-2 single level, 3-6 use mip levels
    RwUInt8 addressing;               // U in bits 0-3, V in bits 4-7
    RwInt32 refCount;
};
static_assert(sizeof(RwTexture) == 88, "texture base data is 88 bytes");

struct RwTextureDictionary {
    RwObject object;                  // type 6
    RwLinkList texturesInDict;        // newest first
    RwLLLink lInInstance;             // position in the module's dictionary list
};
static_assert(sizeof(RwTextureDictionary) == 24, "dictionary base data is 24 bytes");

typedef RwTexture *(*RwTextureCallBackRead)(const RwChar *name, const RwChar *maskName);
typedef RwTexture *(*RwTextureCallBackFind)(const RwChar *name);
typedef RwTexture *(*RwTextureCallBack)(RwTexture *texture, void *data);
typedef RwTextureDictionary *(*RwTexDictionaryCallBack)(RwTextureDictionary *dict, void *data);
typedef RwBool (*RwTextureCallBackMipmapGeneration)(RwRaster *raster, RwImage *image);
typedef RwBool (*RwTextureCallBackMipmapName)(RwChar *name, RwChar *maskName, RwUInt8 mipLevel,
                                              RwInt32 format);

// Textures.
RwTexture *RwTextureCreate(RwRaster *raster);
RwBool RwTextureDestroy(RwTexture *texture);
RwTexture *RwTextureAddRef(RwTexture *texture);
RwTexture *RwTextureSetName(RwTexture *texture, const RwChar *name);
RwTexture *RwTextureSetMaskName(RwTexture *texture, const RwChar *maskName);
RwTexture *RwTextureSetRaster(RwTexture *texture, RwRaster *raster);
RwTexture *RwTextureRead(const RwChar *name, const RwChar *maskName);
RwInt32 RwTextureRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                                RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB);
RwInt32 RwTextureRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                      RwPluginDataChunkWriteCallBack writeCB,
                                      RwPluginDataChunkGetSizeCallBack getSizeCB);
RwInt32 RwTextureGetPluginOffset(RwUInt32 pluginID);

inline RwRaster *RwTextureGetRaster(const RwTexture *texture) { return texture->raster; }
inline const RwChar *RwTextureGetName(const RwTexture *texture) { return texture->name; }
inline const RwChar *RwTextureGetMaskName(const RwTexture *texture) { return texture->mask; }
inline RwTextureDictionary *RwTextureGetDictionary(const RwTexture *texture) { return texture->dict; }
inline RwUInt8 RwTextureGetFilterMode(const RwTexture *texture) { return texture->filterMode; }
inline RwUInt8 RwTextureGetAddressingU(const RwTexture *texture) { return texture->addressing & 0x0F; }
inline RwUInt8 RwTextureGetAddressingV(const RwTexture *texture) { return texture->addressing >> 4; }

// Read path hooks and mip-level settings.
RwBool RwTextureSetReadCallback(RwTextureCallBackRead callback);
RwTextureCallBackRead RwTextureGetReadCallback(void);
RwBool RwTextureSetFindCallback(RwTextureCallBackFind callback);
RwTextureCallBackFind RwTextureGetFindCallback(void);
RwBool RwTextureSetMipmapGenerationCallback(RwTextureCallBackMipmapGeneration callback);
RwBool RwTextureSetMipmapNameCallback(RwTextureCallBackMipmapName callback);
RwBool RwTextureSetMipmapping(RwBool enable);
RwBool RwTextureGetMipmapping(void);
RwBool RwTextureSetAutoMipmapping(RwBool enable);
RwBool RwTextureGetAutoMipmapping(void);
RwBool RwTextureRasterGenerateMipmaps(RwRaster *raster, RwImage *image);

RwTexture *RwTextureDefaultFind(const RwChar *name);
RwTexture *RwTextureDefaultRead(const RwChar *name, const RwChar *maskName);
RwTexture *RwTextureDefaultReadMipmapped(const RwChar *name, const RwChar *maskName);
RwBool RwTextureDefaultMipmapName(RwChar *name, RwChar *maskName, RwUInt8 mipLevel, RwInt32 format);
RwBool RwTextureDefaultGenerateMipmaps(RwRaster *raster, RwImage *image);
RwImage *RwTextureReadImage(const RwChar *name, const RwChar *maskName, RwInt32 rasterFlags,
                            RwInt32 *width, RwInt32 *height, RwInt32 *depth, RwInt32 *format);
RwBool RwImagePalettizeSet(RwUInt8 *palette, RwImage *keep, RwImage **images, RwInt32 count,
                           RwInt32 depth);

// Dictionaries.
RwTextureDictionary *RwTextureDictionaryCreate(void);
RwBool RwTextureDictionaryDestroy(RwTextureDictionary *dict);
RwTexture *RwTextureDictionaryAddTexture(RwTextureDictionary *dict, RwTexture *texture);
RwTexture *RwTextureDictionaryRemoveTexture(RwTexture *texture);
RwTexture *RwTextureDictionaryFindTexture(RwTextureDictionary *dict, const RwChar *name);
const RwTextureDictionary *RwTextureDictionaryForAllTextures(const RwTextureDictionary *dict,
                                                              RwTextureCallBack callback, void *data);
RwBool RwTextureDictionaryForAllDictionaries(RwTexDictionaryCallBack callback, void *data);
RwTextureDictionary *RwTextureDictionarySetCurrent(RwTextureDictionary *dict);
RwTextureDictionary *RwTextureDictionaryGetCurrent(void);
RwInt32 RwTextureDictionaryRegisterPlugin(RwInt32 size, RwUInt32 pluginID,
                                          RwPluginObjectConstructor constructCB,
                                          RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB);
RwInt32 RwTextureDictionaryRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                                RwPluginDataChunkWriteCallBack writeCB,
                                                RwPluginDataChunkGetSizeCallBack getSizeCB);

// Streams: texture chunks (6), native dictionaries (22) and platform-independent
// dictionaries (0x23). Readers take the stream just after the chunk's header.
RwUInt32 RwTextureStreamGetSize(const RwTexture *texture);
const RwTexture *RwTextureStreamWrite(const RwTexture *texture, RwStream *stream);
RwTexture *RwTextureStreamRead(RwStream *stream);
// Reads a texture chunk's body of length bytes whole, then the texture from
// it: FALSE only when the body cannot be read; a texture not found (or a body
// the texture reader does not take) leaves *texture NULL with the stream in
// step at the chunk's end.
RwBool RwTextureStreamReadBody(RwStream *stream, RwUInt32 length, RwTexture **texture);
RwUInt32 RwTextureDictionaryStreamGetSize(const RwTextureDictionary *dict);
const RwTextureDictionary *RwTextureDictionaryStreamWrite(const RwTextureDictionary *dict, RwStream *stream);
RwTextureDictionary *RwTextureDictionaryStreamRead(RwStream *stream);
RwUInt32 RwPITextureDictionaryStreamGetSize(const RwTextureDictionary *dict);
const RwTextureDictionary *RwPITextureDictionaryStreamWrite(const RwTextureDictionary *dict, RwStream *stream);
RwTextureDictionary *RwPITextureDictionaryStreamRead(RwStream *stream);
RwUInt32 RwImageStreamGetSize(const RwImage *image);
const RwImage *RwImageStreamWrite(const RwImage *image, RwStream *stream);
RwImage *RwImageStreamRead(RwStream *stream);
