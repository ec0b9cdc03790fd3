// Extension data in streams: the plug-in stream callbacks of a registry and its extension chunk.
#pragma once

#include "plugin.h"

// Stores the stream callbacks in the entry of an already registered plug-in;
// returns the entry's offset, or -1 when the id is not registered.
RwInt32 RwPluginRegistryAddPluginStream(RwPluginRegistry *reg, RwUInt32 pluginID,
                                        RwPluginDataChunkReadCallBack readCB,
                                        RwPluginDataChunkWriteCallBack writeCB,
                                        RwPluginDataChunkGetSizeCallBack getSizeCB);
RwInt32 RwPluginRegistryAddPluginStreamAlwaysCallBack(RwPluginRegistry *reg, RwUInt32 pluginID,
                                                      RwPluginDataChunkAlwaysCallBack alwaysCB);
RwInt32 RwPluginRegistryAddPluginStreamRightsCallBack(RwPluginRegistry *reg, RwUInt32 pluginID,
                                                      RwPluginDataChunkRightsCallBack rightsCB);

// Bytes of the object's extension sub-chunks (headers included, the
// extension chunk's own header not).
RwInt32 RwPluginRegistryGetSize(const RwPluginRegistry *reg, const void *object);
const RwPluginRegistry *RwPluginRegistryWriteDataChunks(const RwPluginRegistry *reg, RwStream *stream,
                                                        const void *object);
const RwPluginRegistry *RwPluginRegistryReadDataChunks(const RwPluginRegistry *reg, RwStream *stream,
                                                       void *object);
const RwPluginRegistry *RwPluginRegistrySkipDataChunks(const RwPluginRegistry *reg, RwStream *stream);
// Hands extra data to one extension's rights callback; the registry when the
// callback returns a positive value.
const RwPluginRegistry *RwPluginRegistryInvokeRights(const RwPluginRegistry *reg, RwUInt32 pluginID,
                                                     void *object, RwUInt32 extraData);
