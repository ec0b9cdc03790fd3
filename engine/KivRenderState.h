// Render states set by value, as the engine sets them.
#pragma once

#include <cstdint>

#include "gfx/core/renderstate.h"
#include "gfx/d3d9/d3d9renderstate.h"

inline void KivSetState(RwInt32 state, RwUInt32 value)
{
    RwRenderStateSet(state, reinterpret_cast<void *>(static_cast<uintptr_t>(value)));
}
