// Fixed-function lighting: the device light of every library light, and the lights enabled per object.
#pragma once

#include "gfx/core/rwtypes.h"

struct RwLight;

// What each light carries for the device (16 bytes).
struct RwD3D9LightData {
    RwInt32 index;          // device light index, -1 until first used
    RwReal constant;        // attenuation terms
    RwReal linear;
    RwReal quadratic;
};
static_assert(sizeof(RwD3D9LightData) == 16, "light extension is 16 bytes");

enum : RwUInt32 { rwID_D3D9LIGHTPLUGIN = 0x505 };

// Registers the light extension before the engine starts; TRUE on success.
RwBool RwD3D9LightPluginAttach(void);
RwD3D9LightData *RwD3D9LightGetData(RwLight *light);

void RwD3D9LightingStateInit(void);
void RwD3D9LightingStateTerm(void);
// The device's limit on active lights; -1 for none.
RwInt32 RwD3D9LightingGetMaxActiveLights(void);

// One object's lighting: begin (ambient back to black), add the lights that
// reach it in the order gathered (directional first), then finish, which
// enables exactly these lights (cut to the device's limit) and sets LIGHTING.
void RwD3D9LightingBegin(void);
// Ambient lights add to the ambient colour; directional ones become device
// lights. FALSE for a light that adds nothing.
RwBool RwD3D9LightingAddGlobalLight(RwLight *light);
// Point and spot lights; FALSE for radius 0 or another kind.
RwBool RwD3D9LightingAddLocalLight(RwLight *light);
void RwD3D9LightingFinish(RwBool lit);
// The lighting callbacks of the world-sector and atomic pipelines: the lights
// of the current world that reach the object, or LIGHTING off.
void RwD3D9WorldSectorLightingCallback(void *sector);
void RwD3D9AtomicLightingCallback(void *atomic);
// Device light indices enabled for the last object (for tests and diagnostics).
RwInt32 RwD3D9LightingGetEnabled(const RwInt32 **indices);
