// Lights: directional, ambient, point, spot and soft-spot lights, their free list, setters and stream chunk.
#pragma once

#include "gfx/core/frame.h"
#include "gfx/core/plugin.h"
#include "gfx/core/rwtypes.h"

struct RwStream;

enum RwLightType : RwInt32 {
    rwNALIGHTTYPE = 0,
    rwLIGHTDIRECTIONAL = 1,
    rwLIGHTAMBIENT = 2,
    rwLIGHTPOINT = 0x80,
    rwLIGHTSPOT = 0x81,
    rwLIGHTSPOTSOFT = 0x82,
};

// Light flags: a new light has both.
enum : RwUInt8 {
    rwLIGHTLIGHTWORLD = 0x01,
    rwLIGHTLIGHTATOMICS = 0x02,
};

enum : RwUInt32 {
    rwLIGHT = 3,                // object type
    rwID_LIGHT = 0x12,          // light chunk type
    rwID_LIGHTMODULE = 0x505,   // engine module of the lights
    rwLIGHTSTREAMSIZE = 24,     // body of the light struct chunk
};

struct RwLight {
    RwObjectHasFrame object;    // sub-type = light type; private flags 1 when red = green = blue
    RwReal radius;
    RwRGBAReal color;
    RwReal minusCosAngle;       // cone value: minus the cosine of the spot cone angle
    RwLinkList WorldSectorsInLight;
    RwLLLink inWorld;           // zero until the light joins a world
    RwUInt16 lightFrame;        // last lighting pass that handled the light
    RwUInt16 pad;
};
static_assert(sizeof(RwLight) == 64, "light base size is 64 bytes");

void *RwLightModuleOpen(void *instance, RwInt32 offset, RwInt32 size);
void *RwLightModuleClose(void *instance, RwInt32 offset, RwInt32 size);

RwLight *RwLightCreate(RwInt32 type);
RwBool RwLightDestroy(RwLight *light);
RwLight *RwLightSetRadius(RwLight *light, RwReal radius);
RwLight *RwLightSetColor(RwLight *light, const RwRGBAReal *color);
RwReal RwLightGetConeAngle(const RwLight *light);
// NULL, with the light unchanged, for a negative angle, NaN or more than pi/2.
RwLight *RwLightSetConeAngle(RwLight *light, RwReal angle);
RwInt32 RwLightRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                              RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB);
RwInt32 RwLightRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                    RwPluginDataChunkWriteCallBack writeCB,
                                    RwPluginDataChunkGetSizeCallBack getSizeCB);
RwInt32 RwLightGetPluginOffset(RwUInt32 pluginID);
// Reads a light chunk whose header the caller has read.
RwLight *RwLightStreamRead(RwStream *stream);

inline RwLight *RwLightSetFrame(RwLight *light, RwFrame *frame)
{
    RwObjectHasFrameSetFrame(light, frame);
    return light;
}
inline RwFrame *RwLightGetFrame(const RwLight *light) { return RwObjectGetFrame(light); }
inline RwInt32 RwLightGetType(const RwLight *light) { return light->object.object.subType; }
inline RwUInt8 RwLightGetFlags(const RwLight *light) { return light->object.object.flags; }
