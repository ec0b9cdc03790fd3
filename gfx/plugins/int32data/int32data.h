// 32-bit values: one value carried by geometry, world sectors, frames, cameras, lights, materials and textures.
#pragma once

#include "gfx/core/rwtypes.h"
#include "gfx/plugins/userdata/objectkinds.h"

enum : RwUInt32 { rwID_INT32DATAPLUGIN = 0x137 };

struct RwInt32DataExtension {
    RwInt32 value;
};
static_assert(sizeof(RwInt32DataExtension) == 4, "one word");

RwBool RwInt32DataPluginAttach(void);
// The value of an object of the given kind (0 before the attach); set is
// ignored before the attach.
RwInt32 RwInt32DataGet(const void *object, RwPluginObjectKind kind);
void RwInt32DataSet(void *object, RwPluginObjectKind kind, RwInt32 value);
