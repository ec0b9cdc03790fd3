// The lights of the current world that reach a world sector or an atomic.
#pragma once

#include "gfx/core/rwtypes.h"

struct RwLight;
struct RwAtomic;
struct RwWorldSector;

// Called per light: global lights (ambient, directional) first, then local
// ones (point, spot), each local light once however many sectors reach it.
typedef void (*RwD3D9LightVisit)(RwLight *light, RwBool local, void *data);

// FALSE, visiting nothing, when no world is current or the object is not lit.
// A sector takes the lights that light the world; an atomic those that light
// atomics: directional and local ones only when its geometry has normals, and
// local ones only when they reach its bounding sphere.
RwBool RwD3D9ForLightsReachingSector(RwWorldSector *sector, RwD3D9LightVisit visit, void *data);
RwBool RwD3D9ForLightsReachingAtomic(RwAtomic *atomic, RwD3D9LightVisit visit, void *data);
