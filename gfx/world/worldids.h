// Plug-in ids, engine module ids, chunk types and error codes of the world module.
#pragma once

#include "gfx/core/rwtypes.h"

enum : RwUInt32 {
    rwID_WORLDPLUGIN = 0x02,            // plug-in id of the world module's own errors
    rwID_MATERIALMODULE = 0x501,
    rwID_MESHMODULE = 0x502,
    rwID_GEOMETRYMODULE = 0x503,
    rwID_BINMESHPLUGIN = 0x50E,
    rwID_RIGHTTORENDER = 0x1F,

    // Chunk types.
    rwID_MATERIAL = 0x07,
    rwID_MATLIST = 0x08,
    rwID_GEOMETRY = 0x0F,
};

// Error codes raised with rwID_WORLDPLUGIN.
enum : RwUInt32 {
    E_RW_TOOMANYVERTICES = 6,           // a geometry holds at most 65535 vertices
    E_RW_TOOMANYTEXCOORDSETS = 7,       // a geometry holds at most eight sets
};
