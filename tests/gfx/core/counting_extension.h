// A one-word plug-in extension for object tests: it counts live objects and
// copies, can be told to fail its constructor or a copy, and reads its word from the
// object's extension chunk (a word of -1 fails the read).
#pragma once

#include "gfx/core/stream.h"

namespace counting {

inline RwInt32 offset = -1;
inline int live = 0;
inline int copies = 0;
inline int constructionsBeforeFailure = -1;   // -1: never fail
inline int copiesBeforeFailure = -1;          // -1: never fail

inline RwInt32 &Word(void *object) { return *reinterpret_cast<RwInt32 *>(static_cast<RwUInt8 *>(object) + offset); }

inline void *Construct(void *object, RwInt32, RwInt32)
{
    if (constructionsBeforeFailure == 0) {
        return nullptr;
    }
    if (constructionsBeforeFailure > 0) {
        --constructionsBeforeFailure;
    }
    Word(object) = 0;
    ++live;
    return object;
}

inline void *Destruct(void *object, RwInt32, RwInt32)
{
    --live;
    return object;
}

inline void *Copy(void *dst, const void *src, RwInt32, RwInt32)
{
    if (copiesBeforeFailure == 0) {
        return nullptr;
    }
    if (copiesBeforeFailure > 0) {
        --copiesBeforeFailure;
    }
    Word(dst) = Word(const_cast<void *>(src));
    ++copies;
    return dst;
}

inline RwStream *Read(RwStream *stream, RwInt32 length, void *object, RwInt32, RwInt32)
{
    RwUInt8 w[4];
    if (length != 4 || !RwStreamReadExact(stream, w, 4)) {
        return nullptr;
    }
    const RwInt32 v = static_cast<RwInt32>(w[0] | (w[1] << 8) | (w[2] << 16) | (static_cast<RwUInt32>(w[3]) << 24));
    if (v == -1) {
        return nullptr;
    }
    Word(object) = v;
    return stream;
}

inline void Reset()
{
    live = 0;
    copies = 0;
    constructionsBeforeFailure = -1;
    copiesBeforeFailure = -1;
}

}  // namespace counting
