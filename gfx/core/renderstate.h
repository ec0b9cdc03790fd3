// The engine-level render-state interface: set and get through the device block.
#pragma once

#include "rwtypes.h"

// Codes as the device block's entries number them (the driver's table lists
// every code); the value is passed as a pointer-sized integer, or a raster.
RwBool RwRenderStateSet(RwInt32 state, void *value);
RwBool RwRenderStateGet(RwInt32 state, void *value);
