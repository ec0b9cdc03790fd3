// Finite reals: readers check what they hand to geometry, lighting or timing.
#pragma once

#include "rwtypes.h"

// TRUE when none of the count reals is infinite or not a number.
RwBool RwRealsFinite(const RwReal *values, RwUInt32 count);
// The same for stream readers: FALSE also records E_RW_NONFINITE.
RwBool RwStreamRealsFinite(const RwReal *values, RwUInt32 count);
