// Random numbers: the library's additive lagged-feedback generator over 31 words, seeded and warmed up at engine start.
#pragma once

#include "gfx/core/rwtypes.h"

enum : RwUInt32 {
    rwID_RANDOMPLUGIN = 0x10C,
    rwRANDOMTABLEHINT = 0x4010C,
    rwRANDOMTABLESIZE = 31,
    rwRANDOMLAG = 3,                 // front runs this many words ahead of rear
    rwRANDOMWARMUP = 10 * rwRANDOMTABLESIZE,
    rwRANDOMSEED = 0x9A319039u,
};

struct RwRandomState {
    RwUInt32 *table;
    RwUInt32 *front;
    RwUInt32 *rear;
    RwUInt32 *end;                   // just past the last word
};
static_assert(sizeof(RwRandomState) == 16, "random state is four words");

RwBool RwRandomPluginAttach(void);
void *RwRandomPluginOpen(void *instance, RwInt32 offset, RwInt32 size);
void *RwRandomPluginClose(void *instance, RwInt32 offset, RwInt32 size);
// 0 to 0x7FFFFFFF; 0 while the engine is not started.
RwUInt32 RwRandomDraw(void);
// The generator's state, NULL while the engine is not started.
const RwRandomState *RwRandomGetState(void);
