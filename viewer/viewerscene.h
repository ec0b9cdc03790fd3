// The viewer's sample scene: a textured ground world with objects and a lit, textured model, written for the engine to load.
#pragma once

#include "gfx/core/rwtypes.h"

// The file names of the sample scene inside its folder.
#define KIV_SAMPLE_TEXTURES "sample.txd"
#define KIV_SAMPLE_WORLD "sample.bsp"
#define KIV_SAMPLE_MODEL "sample.dff"

// Writes the three files into the folder with the library's stream writers
// (the engine must be started: textures are device rasters).
RwBool KivViewerWriteSampleScene(const RwChar *folder);
