// The viewer's sample scene: a textured ground world with objects and a lit, textured model, written for the engine to load; the projected shadow of a model.
#pragma once

#include "gfx/core/rwtypes.h"

// The file names of the sample scene inside its folder.
#define KIV_SAMPLE_TEXTURES "sample.txd"
#define KIV_SAMPLE_WORLD "sample.bsp"
#define KIV_SAMPLE_MODEL "sample.dff"

// Writes the three files into the folder with the library's stream writers
// (the engine must be started: textures are device rasters).
RwBool KivViewerWriteSampleScene(const RwChar *folder);

class CKivClump;
// Gives the model a projected shadow drawn through the shadow model (a second
// copy of it, which stays the caller's and is turned black so that its shadow
// is dark); FALSE when either has no graphics clump.
RwBool KivViewerAddProjectedShadow(CKivClump *model, CKivClump *shadowModel);
