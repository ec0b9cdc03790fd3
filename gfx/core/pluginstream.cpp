// Extension data in streams: the plug-in stream callbacks of a registry and its extension chunk.
#include "pluginstream.h"

#include "error.h"
#include "modules.h"
#include "stream.h"

static void ExtensionError(RwUInt32 code)
{
    RwErrorRaise(rwID_COREPLUGIN, code);
}

RwInt32 RwPluginRegistryAddPluginStream(RwPluginRegistry *reg, RwUInt32 pluginID,
                                        RwPluginDataChunkReadCallBack readCB,
                                        RwPluginDataChunkWriteCallBack writeCB,
                                        RwPluginDataChunkGetSizeCallBack getSizeCB)
{
    RwPluginEntry *entry = RwPluginRegistryFindEntry(reg, pluginID);
    if (!entry) {
        return -1;
    }
    entry->readCB = readCB;
    entry->writeCB = writeCB;
    entry->getSizeCB = getSizeCB;
    return entry->offset;
}

RwInt32 RwPluginRegistryAddPluginStreamAlwaysCallBack(RwPluginRegistry *reg, RwUInt32 pluginID,
                                                      RwPluginDataChunkAlwaysCallBack alwaysCB)
{
    RwPluginEntry *entry = RwPluginRegistryFindEntry(reg, pluginID);
    if (!entry) {
        return -1;
    }
    entry->alwaysCB = alwaysCB;
    return entry->offset;
}

RwInt32 RwPluginRegistryAddPluginStreamRightsCallBack(RwPluginRegistry *reg, RwUInt32 pluginID,
                                                      RwPluginDataChunkRightsCallBack rightsCB)
{
    RwPluginEntry *entry = RwPluginRegistryFindEntry(reg, pluginID);
    if (!entry) {
        return -1;
    }
    entry->rightsCB = rightsCB;
    return entry->offset;
}

// Payload bytes that one extension writes for the object: only extensions
// that can both size and write their data count, so that the declared size
// always matches what is written.
static RwInt32 EntryDataSize(const RwPluginEntry *entry, const void *object)
{
    if (!entry->getSizeCB || !entry->writeCB) {
        return 0;
    }
    RwInt32 size = entry->getSizeCB(object, entry->offset, entry->size);
    return size > 0 ? size : 0;
}

RwInt32 RwPluginRegistryGetSize(const RwPluginRegistry *reg, const void *object)
{
    if (!reg) {
        return 0;
    }
    RwInt32 total = 0;
    for (const RwPluginEntry *entry = reg->firstRegEntry; entry; entry = entry->nextRegEntry) {
        RwInt32 size = EntryDataSize(entry, object);
        if (size > 0) {
            total += size + static_cast<RwInt32>(rwCHUNKHEADERSIZE);
        }
    }
    return total;
}

const RwPluginRegistry *RwPluginRegistryWriteDataChunks(const RwPluginRegistry *reg, RwStream *stream,
                                                        const void *object)
{
    if (!reg || !stream) {
        ExtensionError(E_RW_NULLP);
        return nullptr;
    }
    const RwUInt32 total = static_cast<RwUInt32>(RwPluginRegistryGetSize(reg, object));
    if (!RwStreamWriteChunkHeader(stream, rwID_EXTENSION, total)) {
        return nullptr;
    }
    RwUInt32 written = 0;
    for (const RwPluginEntry *entry = reg->firstRegEntry; entry; entry = entry->nextRegEntry) {
        RwInt32 size = EntryDataSize(entry, object);
        if (size <= 0) {
            continue;
        }
        const RwUInt32 length = static_cast<RwUInt32>(size);
        // An extension whose size changed since the total was taken would
        // make the chunk lie about its length.
        if (length > total - written || rwCHUNKHEADERSIZE > total - written - length) {
            ExtensionError(E_RW_WRITEFAILED);
            return nullptr;
        }
        if (!RwStreamWriteChunkHeader(stream, entry->pluginID, length)) {
            return nullptr;
        }
        RwUInt32 start;
        const RwBool tracked = RwStreamGetPosition(stream, &start);
        if (!entry->writeCB(stream, size, object, entry->offset, entry->size)) {
            return nullptr;
        }
        RwUInt32 end;
        if (tracked && RwStreamGetPosition(stream, &end) && end - start != length) {
            ExtensionError(E_RW_WRITEFAILED);
            return nullptr;
        }
        written += rwCHUNKHEADERSIZE + length;
    }
    if (written != total) {
        ExtensionError(E_RW_WRITEFAILED);
        return nullptr;
    }
    return reg;
}

// Runs one extension's reader over its sub-chunk and leaves the stream at
// the sub-chunk's end whatever the reader consumed: a reader that reads short
// is skipped forward, one that reads beyond its sub-chunk fails.
static RwBool ReadSubChunk(const RwPluginEntry *entry, RwStream *stream, RwUInt32 length, void *object)
{
    RwUInt32 start;
    const RwBool tracked = RwStreamGetPosition(stream, &start);
    if (!entry->readCB(stream, static_cast<RwInt32>(length), object, entry->offset, entry->size)) {
        return FALSE;
    }
    RwUInt32 end;
    if (!tracked || !RwStreamGetPosition(stream, &end)) {
        return TRUE;
    }
    RwUInt32 consumed = end - start;
    if (consumed > length) {
        ExtensionError(E_RW_READ);
        return FALSE;
    }
    return RwStreamSkip(stream, length - consumed) != nullptr;
}

const RwPluginRegistry *RwPluginRegistryReadDataChunks(const RwPluginRegistry *reg, RwStream *stream,
                                                       void *object)
{
    if (!reg || !stream) {
        ExtensionError(E_RW_NULLP);
        return nullptr;
    }
    RwUInt32 remaining;
    if (!RwStreamFindChunk(stream, rwID_EXTENSION, &remaining, nullptr)) {
        return nullptr;
    }
    while (remaining > 0) {
        RwUInt32 type;
        RwUInt32 length;
        if (remaining < rwCHUNKHEADERSIZE || !RwStreamReadChunkHeaderInfo(stream, &type, &length, nullptr, nullptr)) {
            ExtensionError(E_RW_READ);
            return nullptr;
        }
        remaining -= rwCHUNKHEADERSIZE;
        // A reader may allocate for its length: the bytes must be there first.
        if (length > remaining || length > 0x7FFFFFFFu || !RwStreamCanHold(stream, length, 1)) {
            ExtensionError(E_RW_READ);
            return nullptr;
        }
        const RwPluginEntry *entry = RwPluginRegistryFindEntry(reg, type);
        if (entry && entry->readCB) {
            if (!ReadSubChunk(entry, stream, length, object)) {
                return nullptr;
            }
        } else if (!RwStreamSkip(stream, length)) {
            return nullptr;
        }
        remaining -= length;
    }
    for (const RwPluginEntry *entry = reg->firstRegEntry; entry; entry = entry->nextRegEntry) {
        if (entry->alwaysCB && !entry->alwaysCB(object, entry->offset, entry->size)) {
            return nullptr;
        }
    }
    return reg;
}

const RwPluginRegistry *RwPluginRegistrySkipDataChunks(const RwPluginRegistry *reg, RwStream *stream)
{
    if (!reg || !stream) {
        ExtensionError(E_RW_NULLP);
        return nullptr;
    }
    // Like a chunk search, but the version of a chunk that is only passed
    // over does not matter.
    RwUInt32 type;
    RwUInt32 length;
    while (RwStreamReadChunkHeaderInfo(stream, &type, &length, nullptr, nullptr)) {
        if (!RwStreamSkip(stream, length)) {
            return nullptr;
        }
        if (type == rwID_EXTENSION) {
            return reg;
        }
    }
    return nullptr;
}

const RwPluginRegistry *RwPluginRegistryInvokeRights(const RwPluginRegistry *reg, RwUInt32 pluginID,
                                                     void *object, RwUInt32 extraData)
{
    const RwPluginEntry *entry = RwPluginRegistryFindEntry(reg, pluginID);
    if (!entry || !entry->rightsCB) {
        return nullptr;
    }
    if (entry->rightsCB(object, entry->offset, entry->size, extraData) <= 0) {
        return nullptr;
    }
    return reg;
}
