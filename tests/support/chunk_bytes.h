// Nested chunks for hand-assembled plug-in test streams.
#pragma once

#include <initializer_list>

#include "support/stream_bytes.h"

namespace chunkbytes {

// The parts one after the other.
inline Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// A chunk: its header (default stamp), then the body.
inline Bytes Chunk(RwUInt32 type, const Bytes &body)
{
    return Cat({Build().Header(type, static_cast<RwUInt32>(body.size())), body});
}

}  // namespace chunkbytes
