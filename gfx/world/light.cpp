// Light module: light objects from their free list, their setters, plug-in registry and light chunks.
#include "light.h"

#include <cmath>
#include <cstring>

#include "gfx/core/byteorder.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/finite.h"
#include "gfx/core/memory.h"
#include "gfx/core/modules.h"
#include "gfx/core/pluginstream.h"
#include "gfx/core/stream.h"

enum : RwUInt32 {
    rwLIGHTFREELISTHINT = rwMEMHINTDUR_GLOBAL | rwID_LIGHT,
    rwLIGHTHINT = rwMEMHINTDUR_EVENT | rwID_LIGHT,
    rwLIGHTTANGENTVERSION = 0x30300,    // older chunks store the cone as a tangent
};

static RwPluginRegistry lightTKList = rwPLUGINREGISTRY_INIT(sizeof(RwLight));
static RwInt32 lightModuleOffset = -1;
static RwInt32 lightOpenCount = 0;
static RwFreeList lightFreeListSpace;

struct RwLightGlobals {
    RwFreeList *lightFreeList;
};
static_assert(sizeof(RwLightGlobals) == 4, "light module globals are one word");

static RwLightGlobals *LightGlobals()
{
    return RwEngineModuleGlobals<RwLightGlobals>(lightModuleOffset);
}

static RwObjectHasFrame *LightSync(RwObjectHasFrame *object)
{
    return object;
}

static void SetColorFlag(RwLight *light)
{
    const RwRGBAReal &c = light->color;
    light->object.object.privateFlags = c.red == c.green && c.red == c.blue ? 1 : 0;
}

RwLight *RwLightCreate(RwInt32 type)
{
    if (lightOpenCount <= 0 || RwEngineGetStatus() < rwENGINESTATUSOPENED) {
        return nullptr;
    }
    RwLight *light = static_cast<RwLight *>(RwFreeListAlloc(LightGlobals()->lightFreeList, rwLIGHTHINT));
    if (!light) {
        return nullptr;
    }
    rwObjectInitialize(light, rwLIGHT, static_cast<RwUInt8>(type));
    light->object.object.flags = rwLIGHTLIGHTWORLD | rwLIGHTLIGHTATOMICS;
    light->object.lFrame.next = light->object.lFrame.prev = nullptr;
    light->object.sync = LightSync;
    light->radius = 0.0f;
    light->color = {1.0f, 1.0f, 1.0f, 1.0f};
    SetColorFlag(light);
    light->minusCosAngle = 0.0f;
    RwLinkListInitialize(&light->WorldSectorsInLight);
    light->inWorld.next = light->inWorld.prev = nullptr;
    light->lightFrame = static_cast<RwUInt16>(RwEngineInstance->lightFrame - 1);
    light->pad = 0;
    if (!RwPluginRegistryInitObject(&lightTKList, light)) {
        RwFreeListFree(LightGlobals()->lightFreeList, light);
        return nullptr;
    }
    return light;
}

RwBool RwLightDestroy(RwLight *light)
{
    if (!light || lightOpenCount <= 0) {
        return FALSE;   // after the module closed, its free list took the light with it
    }
    RwPluginRegistryDeInitObject(&lightTKList, light);
    RwObjectHasFrameReleaseFrame(light);
    RwFreeListFree(LightGlobals()->lightFreeList, light);
    return TRUE;
}

RwLight *RwLightSetRadius(RwLight *light, RwReal radius)
{
    light->radius = radius;
    if (RwFrame *frame = RwLightGetFrame(light)) {
        RwFrameMarkDirty(frame);
    }
    return light;
}

RwLight *RwLightSetColor(RwLight *light, const RwRGBAReal *color)
{
    light->color = *color;
    SetColorFlag(light);
    return light;
}

RwReal RwLightGetConeAngle(const RwLight *light)
{
    return std::acos(-light->minusCosAngle);
}

RwLight *RwLightSetConeAngle(RwLight *light, RwReal angle)
{
    if (!(angle >= 0.0f && angle <= 1.5707964f)) {
        return nullptr;
    }
    light->minusCosAngle = -std::cos(angle);
    return light;
}

RwInt32 RwLightRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                              RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB)
{
    return RwPluginRegistryAddPlugin(&lightTKList, size, pluginID, constructCB, destructCB, copyCB);
}

RwInt32 RwLightRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                    RwPluginDataChunkWriteCallBack writeCB,
                                    RwPluginDataChunkGetSizeCallBack getSizeCB)
{
    return RwPluginRegistryAddPluginStream(&lightTKList, pluginID, readCB, writeCB, getSizeCB);
}

RwInt32 RwLightGetPluginOffset(RwUInt32 pluginID)
{
    return RwPluginRegistryGetPluginOffset(&lightTKList, pluginID);
}

RwLight *RwLightStreamRead(RwStream *stream)
{
    RwUInt32 length = 0, version = 0;
    if (!RwStreamFindChunk(stream, rwID_STRUCT, &length, &version)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    if (!RwChunkVersionAccepted(version)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_BADVERSION);
        return nullptr;
    }
    // A longer struct is read to the record's size and the rest skipped.
    RwUInt8 body[rwLIGHTSTREAMSIZE] = {};
    const RwUInt32 take = length < rwLIGHTSTREAMSIZE ? length : rwLIGHTSTREAMSIZE;
    if (!RwStreamReadExact(stream, body, take)) {
        return nullptr;
    }
    if (length > take && !RwStreamSkip(stream, length - take)) {
        return nullptr;
    }
    // Radius, colour and cone.
    const RwReal values[5] = {ReadF32(body + 0), ReadF32(body + 4), ReadF32(body + 8), ReadF32(body + 12),
                              ReadF32(body + 16)};
    if (!RwStreamRealsFinite(values, 5)) {
        return nullptr;
    }
    RwLight *light = RwLightCreate(ReadU8(body + 22));
    if (!light) {
        return nullptr;
    }
    light->radius = values[0];
    light->color.red = values[1];
    light->color.green = values[2];
    light->color.blue = values[3];
    const RwReal cone = values[4];
    light->minusCosAngle = version < rwLIGHTTANGENTVERSION ? -std::sqrt(1.0f / (cone * cone + 1.0f)) : cone;
    SetColorFlag(light);
    light->object.object.flags = ReadU8(body + 20);
    if (!RwPluginRegistryReadDataChunks(&lightTKList, stream, light)) {
        RwLightDestroy(light);
        return nullptr;
    }
    return light;
}

static void DestroyLeftOver(void *entry, void *)
{
    RwLightDestroy(static_cast<RwLight *>(entry));
}

void *RwLightModuleOpen(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    lightModuleOffset = offset;
    RwLightGlobals *g = LightGlobals();
    g->lightFreeList = RwFreeListCreateAndPreallocate(lightTKList.sizeOfStruct, 32, 4, 1, &lightFreeListSpace,
                                                      rwLIGHTFREELISTHINT);
    if (!g->lightFreeList) {
        return nullptr;
    }
    ++lightOpenCount;
    return instance;
}

void *RwLightModuleClose(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    lightModuleOffset = offset;
    RwLightGlobals *g = LightGlobals();
    if (g->lightFreeList) {
        RwFreeListForAllUsed(g->lightFreeList, DestroyLeftOver, nullptr);
        RwFreeListDestroy(g->lightFreeList);
        g->lightFreeList = nullptr;
    }
    --lightOpenCount;
    return instance;
}
