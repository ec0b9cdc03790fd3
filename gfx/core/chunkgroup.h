// The chunk-group module: its pool of 33-byte chunk-group records.
#pragma once

#include "memory.h"

// The pool while the engine is started, NULL otherwise.
RwFreeList *RwChunkGroupGetFreeList(void);
