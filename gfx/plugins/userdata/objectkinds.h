// The seven object kinds that carry per-object plug-in data, and registering one extension on all of them.
#pragma once

#include "gfx/core/plugin.h"

// In registration order.
enum RwPluginObjectKind : RwInt32 {
    rwKINDGEOMETRY,
    rwKINDWORLDSECTOR,
    rwKINDFRAME,
    rwKINDCAMERA,
    rwKINDLIGHT,
    rwKINDMATERIAL,
    rwKINDTEXTURE,
    rwNUMOBJECTKINDS
};

struct RwPluginObjectCallBacks {
    RwPluginObjectConstructor construct;
    RwPluginObjectDestructor destruct;
    RwPluginObjectCopy copy;
    RwPluginDataChunkReadCallBack read;
    RwPluginDataChunkWriteCallBack write;
    RwPluginDataChunkGetSizeCallBack getSize;
};

// For each kind in order: the extension, then its stream callbacks; the
// offsets land in offsets[kind]. FALSE at the first negative offset.
RwBool RwPluginRegisterOnObjectKinds(RwInt32 size, RwUInt32 pluginID, const RwPluginObjectCallBacks &callbacks,
                                     RwInt32 offsets[rwNUMOBJECTKINDS]);
