// The engine-level render-state interface: set and get through the device block.
#include "renderstate.h"

#include "engine.h"

// Both refuse (FALSE) before the engine is open or when the driver left the
// entry empty, instead of calling through a null pointer.
RwBool RwRenderStateSet(RwInt32 state, void *value)
{
    if (!RwEngineInstance || !RwEngineInstance->dOpenDevice.fpRenderStateSet) {
        return FALSE;
    }
    return RwEngineInstance->dOpenDevice.fpRenderStateSet(state, value);
}

RwBool RwRenderStateGet(RwInt32 state, void *value)
{
    if (!RwEngineInstance || !RwEngineInstance->dOpenDevice.fpRenderStateGet) {
        return FALSE;
    }
    return RwEngineInstance->dOpenDevice.fpRenderStateGet(state, value);
}
