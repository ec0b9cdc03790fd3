// Where a tooltip that follows a model part finds it: the engine's current world.
#pragma once

#include "engine/gui/CKivGuiTooltipManager.h"

// The atomic named part of the clump named model in the current world, and
// that world's camera; 0 when any of them is missing.
int KivWorldFollowResolve(const char *model, const char *part, GuiFollowTarget *out);
