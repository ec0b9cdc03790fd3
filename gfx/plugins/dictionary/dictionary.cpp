// Named dictionaries: reading, searching, walking, writing and destroying dictionaries of a schema.
#include "dictionary.h"

#include <cstring>

#include "gfx/core/byteorder.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/stream.h"

static RwUInt32 EventHint(const RwDictionarySchema *schema)
{
    return rwMEMHINTDUR_EVENT | schema->dictChunkType;
}

static void **Entries(const RwDictionary *dictionary)
{
    return static_cast<void **>(dictionary->entries->data);
}

RwDictionarySchema *RwDictionarySchemaInit(RwDictionarySchema *schema)
{
    schema->current = nullptr;
    schema->dictionaries = RwGrowArrayCreate(sizeof(RwDictionary *), rwMEMHINTDUR_GLOBAL | schema->dictChunkType);
    return schema->dictionaries ? schema : nullptr;
}

RwBool RwDictionarySchemaDestruct(RwDictionarySchema *schema)
{
    RwGrowArrayDestroy(schema->dictionaries);
    schema->dictionaries = nullptr;
    schema->current = nullptr;
    return TRUE;
}

RwDictionary *RwDictionarySchemaGetCurrent(RwDictionarySchema *schema)
{
    return schema->current;
}

RwDictionarySchema *RwDictionarySchemaSetCurrent(RwDictionarySchema *schema, RwDictionary *dictionary)
{
    schema->current = dictionary;
    return schema;
}

RwBool RwDictionaryDestroy(RwDictionary *dictionary)
{
    RwDictionarySchema *schema = dictionary->schema;
    if (schema->current == dictionary) {
        schema->current = nullptr;
    }
    if (RwGrowArray *list = schema->dictionaries) {
        RwDictionary **all = static_cast<RwDictionary **>(list->data);
        for (RwInt32 i = 0; i < list->count; ++i) {
            if (all[i] == dictionary) {
                all[i] = all[list->count - 1];
                RwGrowArrayRemoveLast(list, 1);
                break;
            }
        }
    }
    void **entries = Entries(dictionary);
    for (RwInt32 i = 0; i < dictionary->entries->count; ++i) {
        schema->destroyCB(entries[i]);
    }
    RwGrowArrayDestroy(dictionary->entries);
    RwFree(dictionary);
    return TRUE;
}

static RwDictionary *CreateListed(RwDictionarySchema *schema)
{
    RwDictionary *d = static_cast<RwDictionary *>(RwMalloc(sizeof(RwDictionary), EventHint(schema)));
    if (!d) {
        RwErrorRaise(static_cast<RwInt32>(rwID_DICTIONARYTOOLKIT), E_RW_NOMEM);
        return nullptr;
    }
    d->schema = schema;
    d->entries = RwGrowArrayCreate(sizeof(void *), EventHint(schema));
    if (!d->entries) {
        RwFree(d);
        return nullptr;
    }
    RwDictionary **slot = schema->dictionaries
                              ? static_cast<RwDictionary **>(
                                    RwGrowArrayAppend(schema->dictionaries, rwMEMHINTDUR_GLOBAL | schema->dictChunkType))
                              : nullptr;
    if (!slot) {
        RwGrowArrayDestroy(d->entries);
        RwFree(d);
        return nullptr;
    }
    *slot = d;
    return d;
}

RwDictionary *RwDictionaryStreamRead(RwDictionarySchema *schema, RwStream *stream)
{
    RwUInt32 length = 0;
    RwUInt32 version = 0;
    if (!RwStreamFindChunk(stream, rwID_STRUCT, &length, &version)) {
        return nullptr;
    }
    if (version < schema->compatibilityVersion) {
        return schema->oldStreamReadCB ? schema->oldStreamReadCB(stream) : nullptr;
    }
    RwUInt8 word[4];
    if (length < sizeof word || !RwStreamReadExact(stream, word, sizeof word) ||
        (length > sizeof word && !RwStreamSkip(stream, length - sizeof word))) {
        return nullptr;
    }
    const RwInt32 count = ReadI32(word);
    // Every entry is at least a chunk header.
    if (count < 0 || !RwStreamCanHold(stream, static_cast<RwUInt32>(count), rwCHUNKHEADERSIZE)) {
        RwErrorRaise(0, E_RW_READ);
        return nullptr;
    }
    RwDictionary *d = CreateListed(schema);
    if (!d) {
        return nullptr;
    }
    for (RwInt32 i = 0; i < count; ++i) {
        void *entry = RwStreamFindChunk(stream, schema->entryChunkType, nullptr, nullptr)
                          ? schema->streamReadCB(stream)
                          : nullptr;
        if (!entry) {
            RwDictionaryDestroy(d);
            return nullptr;
        }
        void **slot = static_cast<void **>(RwGrowArrayAppend(d->entries, EventHint(schema)));
        if (!slot) {
            // Not in the array, so the destroy below would not release it.
            schema->destroyCB(entry);
            RwDictionaryDestroy(d);
            return nullptr;
        }
        *slot = entry;
        schema->addRefCB(entry);
        schema->destroyCB(entry);
    }
    return d;
}

RwUInt32 RwDictionaryStreamGetSize(const RwDictionary *dictionary)
{
    RwUInt32 size = rwCHUNKHEADERSIZE + 4;
    void **entries = Entries(dictionary);
    for (RwInt32 i = 0; i < dictionary->entries->count; ++i) {
        size += rwCHUNKHEADERSIZE + dictionary->schema->streamGetSizeCB(entries[i]);
    }
    return size;
}

// The entries write their own chunk headers.
const RwDictionary *RwDictionaryStreamWrite(const RwDictionary *dictionary, RwStream *stream)
{
    const RwDictionarySchema *schema = dictionary->schema;
    RwUInt8 word[4];
    WriteI32(word, dictionary->entries->count);
    if (!RwStreamWriteChunkHeader(stream, schema->dictChunkType, RwDictionaryStreamGetSize(dictionary)) ||
        !RwStreamWriteChunkHeader(stream, rwID_STRUCT, sizeof word) || !RwStreamWrite(stream, word, sizeof word)) {
        return nullptr;
    }
    void **entries = Entries(dictionary);
    for (RwInt32 i = 0; i < dictionary->entries->count; ++i) {
        if (!schema->streamWriteCB(entries[i], stream)) {
            return nullptr;
        }
    }
    return dictionary;
}

void *RwDictionaryFindNamedEntry(RwDictionary *dictionary, const RwChar *name)
{
    void **entries = Entries(dictionary);
    for (RwInt32 i = 0; i < dictionary->entries->count; ++i) {
        if (std::strcmp(dictionary->schema->getNameCB(entries[i]), name) == 0) {
            return entries[i];
        }
    }
    return nullptr;
}

RwDictionary *RwDictionaryForAllEntries(RwDictionary *dictionary, RwDictionaryEntryCallBack callBack, void *data)
{
    void **entries = Entries(dictionary);
    for (RwInt32 i = 0; i < dictionary->entries->count; ++i) {
        if (!callBack(entries[i], data)) {
            break;
        }
    }
    return dictionary;
}
