// Hand-assembled stream bytes and memory streams for reader tests.
#pragma once

#include <cstring>
#include <vector>

#include "gfx/core/memory.h"
#include "gfx/core/stream.h"

// Chunk version stamp for library 0x37002 build 0x55.
const RwUInt32 kStamp = 0x1C020055;

struct Bytes {
    std::vector<RwUInt8> data;

    Bytes &U32(RwUInt32 v)
    {
        for (int i = 0; i < 4; ++i) {
            data.push_back(static_cast<RwUInt8>(v >> (8 * i)));
        }
        return *this;
    }
    Bytes &I32(RwInt32 v) { return U32(static_cast<RwUInt32>(v)); }
    Bytes &F32(float f)
    {
        RwUInt32 u;
        std::memcpy(&u, &f, 4);
        return U32(u);
    }
    Bytes &Header(RwUInt32 type, RwUInt32 size, RwUInt32 stamp = kStamp) { return U32(type).U32(size).U32(stamp); }
    Bytes &Append(const Bytes &other)
    {
        data.insert(data.end(), other.data.begin(), other.data.end());
        return *this;
    }
    RwUInt32 Size() const { return static_cast<RwUInt32>(data.size()); }
};

// A read stream over the first n bytes (all when n is negative).
inline RwStream *OpenRead(const Bytes &b, RwInt32 n = -1)
{
    RwMemory mem = {const_cast<RwUInt8 *>(b.data.data()), n < 0 ? b.Size() : static_cast<RwUInt32>(n)};
    return RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &mem);
}

inline RwStream *OpenWrite()
{
    RwMemory mem = {nullptr, 0};
    return RwStreamOpen(rwSTREAMMEMORY, rwSTREAMWRITE, &mem);
}

// Closes a write stream and returns what was written.
inline std::vector<RwUInt8> CloseWrite(RwStream *stream)
{
    RwMemory mem = {nullptr, 0};
    RwStreamClose(stream, &mem);
    std::vector<RwUInt8> out(mem.start, mem.start + mem.length);
    RwFree(mem.start);
    return out;
}

inline RwUInt32 Remaining(RwStream *stream)
{
    RwUInt32 n = 0;
    RwStreamGetRemaining(stream, &n);
    return n;
}
