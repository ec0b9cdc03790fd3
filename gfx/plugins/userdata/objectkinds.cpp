// Registering one extension with its stream callbacks on the seven object kinds that carry per-object plug-in data.
#include "objectkinds.h"

#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/texture.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"

struct RwObjectKindRegistrar {
    RwInt32 (*add)(RwInt32, RwUInt32, RwPluginObjectConstructor, RwPluginObjectDestructor, RwPluginObjectCopy);
    RwInt32 (*addStream)(RwUInt32, RwPluginDataChunkReadCallBack, RwPluginDataChunkWriteCallBack,
                         RwPluginDataChunkGetSizeCallBack);
};

static const RwObjectKindRegistrar registrars[rwNUMOBJECTKINDS] = {
    {RwGeometryRegisterPlugin, RwGeometryRegisterPluginStream},
    {RwWorldSectorRegisterPlugin, RwWorldSectorRegisterPluginStream},
    {RwFrameRegisterPlugin, RwFrameRegisterPluginStream},
    {RwCameraRegisterPlugin, RwCameraRegisterPluginStream},
    {RwLightRegisterPlugin, RwLightRegisterPluginStream},
    {RwMaterialRegisterPlugin, RwMaterialRegisterPluginStream},
    {RwTextureRegisterPlugin, RwTextureRegisterPluginStream},
};

RwBool RwPluginRegisterOnObjectKinds(RwInt32 size, RwUInt32 pluginID, const RwPluginObjectCallBacks &cb,
                                     RwInt32 offsets[rwNUMOBJECTKINDS])
{
    for (RwInt32 kind = 0; kind < rwNUMOBJECTKINDS; ++kind) {
        const RwObjectKindRegistrar &r = registrars[kind];
        offsets[kind] = r.add(size, pluginID, cb.construct, cb.destruct, cb.copy);
        if (offsets[kind] < 0 || r.addStream(pluginID, cb.read, cb.write, cb.getSize) < 0) {
            return FALSE;
        }
    }
    return TRUE;
}
