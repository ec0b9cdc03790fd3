// Chunk search for the stream readers of world objects.
#pragma once

#include "gfx/core/error.h"
#include "gfx/core/finite.h"
#include "gfx/core/modules.h"
#include "gfx/core/stream.h"

struct RwWorld;
struct RwWorldSector;

// The world a sector's plug-in data is streamed against: the one whose sector
// is being read or written, else the world that holds the sector.
const RwWorld *RwWorldSectorStreamWorld(const RwWorldSector *sector);

// Finds the next chunk of the type; an absent one is a read error (E_RW_READ,
// kept behind any error the search itself recorded, such as a bad version).
inline RwBool RwWorldStreamFindChunk(RwStream *stream, RwUInt32 type, RwUInt32 *length)
{
    if (RwStreamFindChunk(stream, type, length, nullptr)) {
        return TRUE;
    }
    RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
    return FALSE;
}

// The same for a chunk whose version a reader must accept (error 0x80000004
// for one it must not); the version found goes to *version when asked.
inline RwBool RwWorldStreamFindChecked(RwStream *stream, RwUInt32 type, RwUInt32 *length, RwUInt32 *version = nullptr)
{
    RwUInt32 stamp = 0;
    if (!RwStreamFindChunk(stream, type, length, &stamp)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return FALSE;
    }
    if (version) {
        *version = stamp;
    }
    if (!RwChunkVersionAccepted(stamp)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_BADVERSION);
        return FALSE;
    }
    return TRUE;
}

// Arrays of 32- and 16-bit values: on a little-endian host the stream bytes
// are the values, so they are read straight into place. Reals must be finite
// (E_RW_NONFINITE otherwise): they become positions, normals and coordinates.
inline RwStream *RwWorldStreamReadReals(RwStream *stream, RwReal *values, RwUInt32 bytes)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    RwStream *read = RwStreamReadExact(stream, values, bytes);
#else
    RwStream *read = RwStreamReadReal(stream, values, bytes);
#endif
    return read && RwStreamRealsFinite(values, bytes / sizeof(RwReal)) ? read : nullptr;
}

inline RwStream *RwWorldStreamReadInt16s(RwStream *stream, RwInt16 *values, RwUInt32 bytes)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return RwStreamReadExact(stream, values, bytes);
#else
    return RwStreamReadInt16(stream, values, bytes);
#endif
}
