// Little-endian field access on byte buffers, for reading and writing file records field by field.
#pragma once

#include <cstring>
#include "rwtypes.h"

// Every multi-byte value in the library's files is little-endian; these helpers
// assemble and split values byte by byte so that no record is ever copied as a
// whole struct and no alignment is assumed.

inline RwUInt8 ReadU8(const void *p)
{
    return *static_cast<const RwUInt8 *>(p);
}

inline RwUInt16 ReadU16(const void *p)
{
    const RwUInt8 *b = static_cast<const RwUInt8 *>(p);
    return static_cast<RwUInt16>(b[0] | (b[1] << 8));
}

inline RwUInt32 ReadU32(const void *p)
{
    const RwUInt8 *b = static_cast<const RwUInt8 *>(p);
    return static_cast<RwUInt32>(b[0]) | (static_cast<RwUInt32>(b[1]) << 8) |
           (static_cast<RwUInt32>(b[2]) << 16) | (static_cast<RwUInt32>(b[3]) << 24);
}

inline RwInt16 ReadI16(const void *p)
{
    return static_cast<RwInt16>(ReadU16(p));
}

inline RwInt32 ReadI32(const void *p)
{
    return static_cast<RwInt32>(ReadU32(p));
}

inline RwReal ReadF32(const void *p)
{
    RwUInt32 bits = ReadU32(p);
    RwReal value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

// count reals stored one after the other.
inline void ReadF32s(const void *p, RwReal *values, int count)
{
    for (int i = 0; i < count; ++i) {
        values[i] = ReadF32(static_cast<const RwUInt8 *>(p) + 4 * i);
    }
}

inline void WriteU8(void *p, RwUInt8 value)
{
    *static_cast<RwUInt8 *>(p) = value;
}

inline void WriteU16(void *p, RwUInt16 value)
{
    RwUInt8 *b = static_cast<RwUInt8 *>(p);
    b[0] = static_cast<RwUInt8>(value);
    b[1] = static_cast<RwUInt8>(value >> 8);
}

inline void WriteU32(void *p, RwUInt32 value)
{
    RwUInt8 *b = static_cast<RwUInt8 *>(p);
    b[0] = static_cast<RwUInt8>(value);
    b[1] = static_cast<RwUInt8>(value >> 8);
    b[2] = static_cast<RwUInt8>(value >> 16);
    b[3] = static_cast<RwUInt8>(value >> 24);
}

inline void WriteI16(void *p, RwInt16 value)
{
    WriteU16(p, static_cast<RwUInt16>(value));
}

inline void WriteI32(void *p, RwInt32 value)
{
    WriteU32(p, static_cast<RwUInt32>(value));
}

inline void WriteF32(void *p, RwReal value)
{
    RwUInt32 bits;
    std::memcpy(&bits, &value, sizeof(bits));
    WriteU32(p, bits);
}
