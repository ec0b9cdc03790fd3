// Texture module internals shared by its source files: globals, registries, error codes.
#pragma once

#include "error.h"
#include "memory.h"
#include "texture.h"

// Error codes raised by the texture module and its streams.
enum : RwUInt32 {
    E_RW_INVRASTERMIPLEVEL = 0x8000000Fu,   // a raster's level count is unavailable
    E_RW_STRINGTOOLONG = 0x8000001Eu,       // a name does not fit its buffer
};
enum : RwInt32 { E_RW_READTEXMASK = 22 };   // no texture for a name (core plug-in id)

// Plug-in id and memory hints of the platform-independent dictionary.
enum : RwUInt32 {
    rwID_PITEXDICTIONARYPLUGIN = 0x1B3,
    rwMEMHINT_PITEXDICTIONARYFUNC = 0x101B3,
    rwMEMHINT_PITEXDICTIONARY = 0x301B3,
};

// Chunk types.
enum : RwUInt32 {
    rwID_TEXTURE = 0x06,
    rwID_TEXTURENATIVE = 0x15,
    rwID_TEXDICTIONARY = 0x16,
    rwID_PITEXDICTIONARY = 0x23,
};

// Loader name buffers, texture chunk name buffers, and the most levels a loader fills.
enum : RwInt32 {
    rwTEXTURELOADERNAMELENGTH = 256,
    rwTEXTURESTREAMNAMELENGTH = 128,
    rwTEXTUREMAXMIPLEVELS = 16,
};

// Raster flags of the loaders.
enum : RwInt32 {
    rwTEXTUREPLAINFLAGS = 0x4,
    rwTEXTUREMIPFLAGS = 0x8004,
    rwTEXTUREAUTOMIPFLAGS = 0x9004,
};

struct RwTextureGlobals {
    RwLinkList texDictList;                        // newest first
    RwFreeList *textureFreeList;
    RwFreeList *texDictFreeList;
    RwTextureDictionary *currentTexDict;
    RwTextureDictionary *defaultTexDict;           // NULL once a caller destroyed it
    RwTextureCallBackRead readCallBack;
    RwTextureCallBackFind findCallBack;
    RwBool haveMipmaps;
    RwBool generateMipmaps;
    RwTextureCallBackMipmapGeneration mipmapGenerationCallBack;
    RwTextureCallBackMipmapName mipmapNameCallBack;
    RwUInt32 reserved;                             // keeps the registered size
};
static_assert(sizeof(RwTextureGlobals) == 52, "texture module globals are 52 bytes");

RwTextureGlobals *RwTextureModuleGlobals(void);
extern RwPluginRegistry rwTextureTKList;
extern RwPluginRegistry rwTexDictTKList;

// Raises an error under the core plug-in id (common codes are stored with id 0).
inline void RwTextureError(RwUInt32 code)
{
    RwErrorRaise(1, code);
}

// Copies a name into a loader buffer of rwTEXTURELOADERNAMELENGTH; a longer
// name is cut and reported. NULL gives the empty name.
void RwTextureCopyLoaderName(RwChar *buffer, const RwChar *name);

// A texture on the raster named as the loader was asked (names cut to 31
// characters, NULL mask as empty); a failure destroys the raster.
RwTexture *RwTextureCreateNamed(RwRaster *raster, const RwChar *name, const RwChar *maskName);

// The filter-and-addressing word of streams: bits 0-7 filter, 8-11 U, 12-15 V.
// A word without V mode takes it from U.
void RwTextureSetStreamFlags(RwTexture *texture, RwUInt32 flags);
RwUInt32 RwTextureGetStreamFlags(const RwTexture *texture);
// Mip-mapping settings for loading a texture with these stream flags; the
// previous settings go to saved[2] for RwTextureRestoreMipmapping.
void RwTextureMipmappingForFlags(RwUInt32 flags, RwBool saved[2]);
void RwTextureRestoreMipmapping(const RwBool saved[2]);

// Struct and names of a texture chunk (the stream after its type-6 header):
// the flags word and two names of at most rwTEXTURESTREAMNAMELENGTH - 1
// characters into buffers of rwTEXTURESTREAMNAMELENGTH.
RwBool RwTextureStreamReadHeader(RwStream *stream, RwUInt32 *flags, RwChar *name, RwChar *maskName);
