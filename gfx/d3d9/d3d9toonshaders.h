// Token code of the toon shaders and the assembly text it was made from.
#pragma once

#include "gfx/core/rwtypes.h"

// Paint pixel shaders by (base texture, coloured): A yes/yes, B no/yes, C yes/no, D no/no.
extern const RwUInt32 *const rwToonPaintShaderTokens[4];
// Ink vertex shaders: per-edge colour, then one ink.
extern const RwUInt32 *const rwToonInkShaderTokens[2];
// Text of the four paint shaders, then the two ink shaders.
extern const RwChar *const rwToonShaderText[6];
