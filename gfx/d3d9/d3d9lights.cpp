// Fixed-function lighting: the device light of every library light, and the lights enabled per object.
#include "d3d9lights.h"

#include <cstring>

#include "d3d9device.h"
#include "d3d9lightwalk.h"
#include "d3d9renderstate.h"
#include "d3d9state.h"
#include "gfx/core/frame.h"
#include "gfx/core/memory.h"
#include "gfx/world/light.h"

enum : RwUInt32 {
    rwD3D9LIGHTLISTHINT = 0x103050D,
    rwD3D9FREEINDEXSTEP = 256,
    rwD3D9ENABLEDSTEP = 8,
};

struct IndexList {
    RwInt32 *entries;
    RwInt32 count;
    RwInt32 capacity;
};

struct LightingState {
    RwBool open;
    IndexList freeIndices;
    RwInt32 nextIndex;          // never used yet
    IndexList current;          // enabled for the object being lit
    IndexList previous;         // enabled for the object before
    RwInt32 maxActive;
    RwInt32 globalsAdded;
    D3DLIGHT9 directional;
    D3DLIGHT9 local;
};

static LightingState Lighting;
static RwInt32 LightDataOffset = -1;

RwD3D9LightData *RwD3D9LightGetData(RwLight *light)
{
    return LightDataOffset < 0 ? nullptr
                               : reinterpret_cast<RwD3D9LightData *>(reinterpret_cast<RwUInt8 *>(light) +
                                                                     LightDataOffset);
}

static void FreeList(IndexList *list)
{
    if (list->entries)
        RwFree(list->entries);
    std::memset(list, 0, sizeof *list);
}

static RwBool Append(IndexList *list, RwInt32 value, RwInt32 step)
{
    if (list->count == list->capacity) {
        const size_t bytes = static_cast<size_t>(list->capacity + step) * sizeof(RwInt32);
        void *grown = list->entries ? RwRealloc(list->entries, bytes, rwD3D9LIGHTLISTHINT)
                                    : RwMalloc(bytes, rwD3D9LIGHTLISTHINT);
        if (!grown)
            return FALSE;
        list->entries = static_cast<RwInt32 *>(grown);
        list->capacity += step;
    }
    list->entries[list->count++] = value;
    return TRUE;
}

static bool Contains(const IndexList &list, RwInt32 value)
{
    for (RwInt32 i = 0; i < list.count; i++) {
        if (list.entries[i] == value)
            return true;
    }
    return false;
}

static void Remove(IndexList *list, RwInt32 value)
{
    for (RwInt32 i = 0; i < list->count; i++) {
        if (list->entries[i] == value) {
            list->entries[i] = list->entries[--list->count];
            return;
        }
    }
}

static RwInt32 TakeIndex(RwD3D9LightData *data)
{
    if (data->index < 0) {
        if (Lighting.freeIndices.count > 0)
            data->index = Lighting.freeIndices.entries[--Lighting.freeIndices.count];
        else
            data->index = Lighting.nextIndex++;
    }
    return data->index;
}

static void ReturnIndex(RwInt32 index)
{
    // A light destroyed while enabled would stay lit on the device.
    if (Contains(Lighting.previous, index)) {
        Remove(&Lighting.previous, index);
        if (rwD3D9Driver.device)
            RwD3D9EnableLight(index, FALSE);
    }
    Remove(&Lighting.current, index);
    if (!Lighting.open)
        return;
    if (Lighting.freeIndices.count == Lighting.nextIndex - 1) {
        // The last index in use: numbering starts again.
        FreeList(&Lighting.freeIndices);
        Lighting.nextIndex = 0;
        return;
    }
    Append(&Lighting.freeIndices, index, rwD3D9FREEINDEXSTEP);
}

static void *LightDataConstruct(void *object, RwInt32 offset, RwInt32)
{
    RwD3D9LightData *data = reinterpret_cast<RwD3D9LightData *>(static_cast<RwUInt8 *>(object) + offset);
    *data = {-1, 1.0f, 0.0f, 5.0f};
    return object;
}

static void *LightDataDestruct(void *object, RwInt32 offset, RwInt32)
{
    RwD3D9LightData *data = reinterpret_cast<RwD3D9LightData *>(static_cast<RwUInt8 *>(object) + offset);
    if (data->index >= 0)
        ReturnIndex(data->index);
    data->index = -1;
    return object;
}

// A copy takes the attenuation but not the device index: two lights on one
// device slot would overwrite each other.
static void *LightDataCopy(void *dst, const void *src, RwInt32 offset, RwInt32)
{
    const RwD3D9LightData *from =
        reinterpret_cast<const RwD3D9LightData *>(static_cast<const RwUInt8 *>(src) + offset);
    RwD3D9LightData *to = reinterpret_cast<RwD3D9LightData *>(static_cast<RwUInt8 *>(dst) + offset);
    *to = *from;
    to->index = -1;
    return dst;
}

RwBool RwD3D9LightPluginAttach(void)
{
    LightDataOffset = RwLightRegisterPlugin(sizeof(RwD3D9LightData), rwID_D3D9LIGHTPLUGIN, LightDataConstruct,
                                            LightDataDestruct, LightDataCopy);
    return LightDataOffset >= 0;
}

static void ResetTemplates(void)
{
    const D3DCOLORVALUE black = {0.0f, 0.0f, 0.0f, 1.0f};
    std::memset(&Lighting.directional, 0, sizeof(D3DLIGHT9));
    Lighting.directional.Type = D3DLIGHT_DIRECTIONAL;
    Lighting.directional.Diffuse = Lighting.directional.Specular = Lighting.directional.Ambient = black;
    std::memset(&Lighting.local, 0, sizeof(D3DLIGHT9));
    Lighting.local.Type = D3DLIGHT_POINT;
    Lighting.local.Diffuse = Lighting.local.Specular = Lighting.local.Ambient = black;
    Lighting.local.Falloff = 1.0f;
}

void RwD3D9LightingStateInit(void)
{
    RwD3D9LightingStateTerm();
    const DWORD max = rwD3D9Driver.caps.MaxActiveLights;
    Lighting.maxActive = max == 0 ? -1 : static_cast<RwInt32>(max);
    rwD3D9AmbientColour = {0.0f, 0.0f, 0.0f, 1.0f};
    ResetTemplates();
    Lighting.open = TRUE;
}

void RwD3D9LightingStateTerm(void)
{
    FreeList(&Lighting.freeIndices);
    FreeList(&Lighting.current);
    FreeList(&Lighting.previous);
    Lighting.open = FALSE;
}

RwInt32 RwD3D9LightingGetMaxActiveLights(void)
{
    return Lighting.maxActive;
}

void RwD3D9LightingBegin(void)
{
    rwD3D9AmbientColour = {0.0f, 0.0f, 0.0f, 1.0f};
    Lighting.current.count = 0;
    Lighting.globalsAdded = 0;
}

static D3DCOLORVALUE ColourOf(const RwLight *light)
{
    return {light->color.red, light->color.green, light->color.blue, 1.0f};
}

static D3DVECTOR Vector(const RwV3d &v)
{
    return {v.x, v.y, v.z};
}

// Sends the light to the device under the light's index and lists it.
static RwBool Send(RwLight *light, const D3DLIGHT9 &d3dLight)
{
    RwD3D9LightData *data = RwD3D9LightGetData(light);
    if (!data || !Lighting.open)
        return FALSE;
    const RwInt32 index = TakeIndex(data);
    if (!RwD3D9SetLight(index, &d3dLight))
        return FALSE;
    if (!Contains(Lighting.current, index))
        return Append(&Lighting.current, index, rwD3D9ENABLEDSTEP);
    return TRUE;
}

RwBool RwD3D9LightingAddGlobalLight(RwLight *light)
{
    if (!light)
        return FALSE;
    Lighting.globalsAdded++;
    if (RwLightGetType(light) != rwLIGHTDIRECTIONAL) {
        rwD3D9AmbientColour.red += light->color.red;
        rwD3D9AmbientColour.green += light->color.green;
        rwD3D9AmbientColour.blue += light->color.blue;
        return TRUE;
    }
    RwFrame *frame = RwLightGetFrame(light);
    if (!frame)
        return FALSE;
    D3DLIGHT9 &d = Lighting.directional;
    d.Diffuse = ColourOf(light);
    d.Direction = Vector(RwFrameGetWorldMatrix(frame)->at);
    return Send(light, d);
}

RwBool RwD3D9LightingAddLocalLight(RwLight *light)
{
    if (!light || !(light->radius > 0.0f))
        return FALSE;
    const RwInt32 type = RwLightGetType(light);
    RwFrame *frame = RwLightGetFrame(light);
    if ((type != rwLIGHTPOINT && type != rwLIGHTSPOT && type != rwLIGHTSPOTSOFT) || !frame)
        return FALSE;
    const RwD3D9LightData *data = RwD3D9LightGetData(light);
    if (!data)
        return FALSE;
    const RwMatrix *m = RwFrameGetWorldMatrix(frame);
    D3DLIGHT9 &d = Lighting.local;
    d.Diffuse = ColourOf(light);
    d.Position = Vector(m->pos);
    d.Range = light->radius;
    d.Attenuation0 = data->constant;
    d.Attenuation1 = data->linear / light->radius;
    d.Attenuation2 = data->quadratic / (light->radius * light->radius);
    if (type == rwLIGHTPOINT) {
        d.Type = D3DLIGHT_POINT;
        d.Direction = {0.0f, 0.0f, 0.0f};
        d.Theta = d.Phi = 0.0f;
    } else {
        d.Type = D3DLIGHT_SPOT;
        d.Direction = Vector(m->at);
        // The device takes cones of at most half a turn.
        RwReal cone = RwLightGetConeAngle(light);
        const RwReal quarter = 1.5707964f;
        cone = cone >= 0.0f ? (cone > quarter ? quarter : cone) : 0.0f;
        d.Phi = 2.0f * cone;
        if (type == rwLIGHTSPOTSOFT)
            d.Theta = 0.0f;
        else
            d.Theta = d.Phi < 3.1415927f ? d.Phi : d.Phi - 0.001f;
    }
    return Send(light, d);
}

void RwD3D9LightingFinish(RwBool lit)
{
    if (!lit) {
        RwD3D9SetRenderState(D3DRS_LIGHTING, FALSE);
        return;
    }
    if (Lighting.globalsAdded == 0)
        RwD3D9SetRenderState(D3DRS_AMBIENT, 0);
    IndexList &cur = Lighting.current;
    if (Lighting.maxActive >= 0 && cur.count > Lighting.maxActive)
        cur.count = Lighting.maxActive;
    for (RwInt32 i = 0; i < Lighting.previous.count; i++) {
        if (!Contains(cur, Lighting.previous.entries[i]))
            RwD3D9EnableLight(Lighting.previous.entries[i], FALSE);
    }
    for (RwInt32 i = 0; i < cur.count; i++)
        RwD3D9EnableLight(cur.entries[i], TRUE);
    const IndexList swap = Lighting.previous;
    Lighting.previous = cur;
    Lighting.current = swap;
    Lighting.current.count = 0;
    RwD3D9SetRenderState(D3DRS_LIGHTING, TRUE);
}

static void AddToDevice(RwLight *light, RwBool local, void *added)
{
    if (local ? RwD3D9LightingAddLocalLight(light) : RwD3D9LightingAddGlobalLight(light))
        ++*static_cast<RwInt32 *>(added);
}

void RwD3D9WorldSectorLightingCallback(void *sector)
{
    RwD3D9LightingBegin();
    RwInt32 added = 0;
    if (RwD3D9ForLightsReachingSector(static_cast<RwWorldSector *>(sector), AddToDevice, &added) && added == 0)
        RwD3D9SetRenderState(D3DRS_AMBIENT, 0);
    RwD3D9LightingFinish(added > 0);
}

void RwD3D9AtomicLightingCallback(void *atomic)
{
    RwD3D9LightingBegin();
    RwInt32 added = 0;
    RwD3D9LightingFinish(RwD3D9ForLightsReachingAtomic(static_cast<RwAtomic *>(atomic), AddToDevice, &added));
}

RwInt32 RwD3D9LightingGetEnabled(const RwInt32 **indices)
{
    *indices = Lighting.previous.entries;
    return Lighting.previous.count;
}
