// The 2D quad batch buffers that the engine root creates at start-up.
#pragma once

#include "rwtypes.h"

// Vertex buffer of 4096 28-byte vertices and index buffer of 6144 16-bit
// indices; a second create while they exist keeps them.
RwBool RwIm2DQuadBatchCreate(void);
void RwIm2DQuadBatchDestroy(void);
RwBool RwIm2DQuadBatchIsCreated(void);
