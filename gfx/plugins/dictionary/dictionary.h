// Named dictionaries: lists of named, reference-counted entries of one schema, read from streams.
#pragma once

#include "gfx/core/growarray.h"
#include "gfx/core/rwtypes.h"

struct RwStream;
struct RwDictionary;

enum : RwUInt32 {
    rwID_DICTIONARYTOOLKIT = 0x1BF,     // plug-in id of the toolkit's error records
};

typedef void *(*RwDictionaryEntryAddRefCallBack)(void *entry);
typedef RwBool (*RwDictionaryEntryDestroyCallBack)(void *entry);
typedef const RwChar *(*RwDictionaryEntryGetNameCallBack)(void *entry);
typedef RwUInt32 (*RwDictionaryEntryStreamGetSizeCallBack)(const void *entry);
typedef void *(*RwDictionaryEntryStreamReadCallBack)(RwStream *stream);
typedef RwDictionary *(*RwDictionaryOldStreamReadCallBack)(RwStream *stream);
typedef const void *(*RwDictionaryEntryStreamWriteCallBack)(const void *entry, RwStream *stream);
typedef void *(*RwDictionaryEntryCallBack)(void *entry, void *data);

// One static record per kind of dictionary.
struct RwDictionarySchema {
    const RwChar *name;
    RwUInt32 dictChunkType;
    RwUInt32 entryChunkType;
    RwUInt32 compatibilityVersion;          // minimum version of the struct chunk
    RwGrowArray *dictionaries;              // every live dictionary of the schema
    RwDictionary *current;
    RwDictionaryEntryAddRefCallBack addRefCB;
    RwDictionaryEntryDestroyCallBack destroyCB;     // drops one reference
    RwDictionaryEntryGetNameCallBack getNameCB;
    RwDictionaryEntryStreamGetSizeCallBack streamGetSizeCB;
    RwDictionaryEntryStreamReadCallBack streamReadCB;   // a new entry with one reference
    RwDictionaryOldStreamReadCallBack oldStreamReadCB;  // may be NULL
    RwDictionaryEntryStreamWriteCallBack streamWriteCB;
};
static_assert(sizeof(RwDictionarySchema) == 52, "schema is thirteen words");

struct RwDictionary {
    RwDictionarySchema *schema;
    RwGrowArray *entries;                   // entry pointers; one reference each
};
static_assert(sizeof(RwDictionary) == 8, "dictionary is two words");

RwDictionarySchema *RwDictionarySchemaInit(RwDictionarySchema *schema);
RwBool RwDictionarySchemaDestruct(RwDictionarySchema *schema);
RwDictionary *RwDictionarySchemaGetCurrent(RwDictionarySchema *schema);
RwDictionarySchema *RwDictionarySchemaSetCurrent(RwDictionarySchema *schema, RwDictionary *dictionary);

// The stream stands just after the header of a dictionary chunk.
RwDictionary *RwDictionaryStreamRead(RwDictionarySchema *schema, RwStream *stream);
// Writes the whole dictionary chunk, header included.
const RwDictionary *RwDictionaryStreamWrite(const RwDictionary *dictionary, RwStream *stream);
// Body bytes of the dictionary chunk.
RwUInt32 RwDictionaryStreamGetSize(const RwDictionary *dictionary);
void *RwDictionaryFindNamedEntry(RwDictionary *dictionary, const RwChar *name);
RwDictionary *RwDictionaryForAllEntries(RwDictionary *dictionary, RwDictionaryEntryCallBack callBack, void *data);
RwBool RwDictionaryDestroy(RwDictionary *dictionary);
