// What the toon plug-in's own files share.
#pragma once

#include "gfx/core/rwtypes.h"

// Records an error of the toon plug-in with its message.
void RwToonError(RwUInt32 code, const RwChar *message);
