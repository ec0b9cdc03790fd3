// Plug-in registries: extension blocks appended to every object of a type.
#pragma once

#include "rwtypes.h"

struct RwStream;

typedef void *(*RwPluginObjectConstructor)(void *object, RwInt32 offset, RwInt32 size);
typedef void *(*RwPluginObjectDestructor)(void *object, RwInt32 offset, RwInt32 size);
typedef void *(*RwPluginObjectCopy)(void *dst, const void *src, RwInt32 offset, RwInt32 size);
typedef RwStream *(*RwPluginDataChunkReadCallBack)(RwStream *stream, RwInt32 length, void *object,
                                                    RwInt32 offset, RwInt32 size);
typedef RwStream *(*RwPluginDataChunkWriteCallBack)(RwStream *stream, RwInt32 length, const void *object,
                                                     RwInt32 offset, RwInt32 size);
typedef RwInt32 (*RwPluginDataChunkGetSizeCallBack)(const void *object, RwInt32 offset, RwInt32 size);
typedef RwBool (*RwPluginDataChunkAlwaysCallBack)(void *object, RwInt32 offset, RwInt32 size);
typedef RwBool (*RwPluginDataChunkRightsCallBack)(void *object, RwInt32 offset, RwInt32 size,
                                                  RwUInt32 extraData);

struct RwPluginRegistry;

struct RwPluginEntry {
    RwInt32 offset;
    RwInt32 size;
    RwUInt32 pluginID;
    RwPluginDataChunkReadCallBack readCB;
    RwPluginDataChunkWriteCallBack writeCB;
    RwPluginDataChunkGetSizeCallBack getSizeCB;
    RwPluginDataChunkAlwaysCallBack alwaysCB;
    RwPluginDataChunkRightsCallBack rightsCB;
    RwPluginObjectConstructor constructCB;
    RwPluginObjectDestructor destructCB;
    RwPluginObjectCopy copyCB;
    RwUInt32 reserved;
    RwPluginEntry *nextRegEntry;
    RwPluginEntry *prevRegEntry;
    RwPluginRegistry *parentRegistry;
};
static_assert(sizeof(RwPluginEntry) == 60, "plug-in entry is 60 bytes");

struct RwPluginRegistry {
    RwInt32 sizeOfStruct;     // current size
    RwInt32 origSizeOfStruct; // base size
    RwInt32 maxSizeOfStruct;  // 0 = no limit
    RwInt32 reserved;
    RwPluginEntry *firstRegEntry;
    RwPluginEntry *lastRegEntry;
};
static_assert(sizeof(RwPluginRegistry) == 24, "registry is six words");

// A registry for an object of baseSize bytes, as a static initialiser.
#define rwPLUGINREGISTRY_INIT(baseSize) {(baseSize), (baseSize), 0, 0, nullptr, nullptr}

RwInt32 RwPluginRegistryAddPlugin(RwPluginRegistry *reg, RwInt32 size, RwUInt32 pluginID,
                                  RwPluginObjectConstructor constructCB, RwPluginObjectDestructor destructCB,
                                  RwPluginObjectCopy copyCB);
RwInt32 RwPluginRegistryGetPluginOffset(const RwPluginRegistry *reg, RwUInt32 pluginID);
// Finds the entry of a plug-in id, or NULL.
RwPluginEntry *RwPluginRegistryFindEntry(const RwPluginRegistry *reg, RwUInt32 pluginID);
const RwPluginRegistry *RwPluginRegistryInitObject(const RwPluginRegistry *reg, void *object);
const RwPluginRegistry *RwPluginRegistryDeInitObject(const RwPluginRegistry *reg, void *object);
const RwPluginRegistry *RwPluginRegistryCopyObject(const RwPluginRegistry *reg, void *dst, const void *src);

RwBool RwPluginRegistryOpen(void);
RwBool RwPluginRegistryClose(void);
