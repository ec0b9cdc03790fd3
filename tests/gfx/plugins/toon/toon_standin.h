// Counters of the toon stand-ins.
#pragma once

#include "gfx/core/rwtypes.h"

extern RwInt32 toonStandInCreates;
extern RwInt32 toonStandInDestroys;
extern RwInt32 toonStandInRenders;
