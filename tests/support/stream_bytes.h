// Hand-assembled stream bytes for tests: little-endian words, chunk headers,
// and memory streams that read them or collect what is written.
#pragma once

#include <gtest/gtest.h>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "gfx/core/memory.h"
#include "gfx/core/stream.h"
#include "support/test_memory.h"

typedef std::vector<unsigned char> Bytes;

inline void Put32(Bytes &bytes, RwUInt32 value)
{
    for (int i = 0; i < 4; i++) {
        bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
}

// A chunk header; the default stamp is that of version 0x37002, build 0x55.
inline void PutHeader(Bytes &bytes, RwUInt32 type, RwUInt32 size, RwUInt32 stamp = 0x1C020055)
{
    Put32(bytes, type);
    Put32(bytes, size);
    Put32(bytes, stamp);
}

inline void PutReals(Bytes &bytes, std::initializer_list<float> values)
{
    for (float v : values) {
        RwUInt32 u;
        std::memcpy(&u, &v, sizeof u);
        Put32(bytes, u);
    }
}

inline void PutText(Bytes &bytes, const char *text, size_t n)
{
    bytes.insert(bytes.end(), text, text + n);
}

// The same in one expression: Build().Header(2, 8).Text("abcde\0\0\0", 8).U32(0).
struct Build {
    Bytes bytes;

    Build &U32(RwUInt32 value)
    {
        Put32(bytes, value);
        return *this;
    }
    Build &Header(RwUInt32 type, RwUInt32 size, RwUInt32 stamp = 0x1C020055)
    {
        PutHeader(bytes, type, size, stamp);
        return *this;
    }
    Build &Text(const char *text, size_t n)
    {
        PutText(bytes, text, n);
        return *this;
    }
    operator Bytes() const { return bytes; }
};

// A memory stream that reads the bytes (which must outlive it), or only their
// first n bytes.
inline RwStream *OpenRead(Bytes &bytes, size_t n = static_cast<size_t>(-1))
{
    RwMemory memory = {bytes.data(), static_cast<RwUInt32>(n < bytes.size() ? n : bytes.size())};
    return RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory);
}

inline RwStream *OpenWriteMemory()
{
    RwMemory memory = {nullptr, 0};
    return RwStreamOpen(rwSTREAMMEMORY, rwSTREAMWRITE, &memory);
}

// Bytes a read stream has not yet handed out.
inline RwUInt32 Unread(RwStream *stream)
{
    RwUInt32 n = 0;
    RwStreamGetRemaining(stream, &n);
    return n;
}

// The largest allocation read(stream) makes over the bytes, the stream's own not
// counted: a reader must never ask for more than the bytes could fill.
template <class Read>
size_t LargestRequestReading(Bytes &bytes, Read read)
{
    RwStream *stream = OpenRead(bytes);
    rwTestMemory.largest = 0;
    read(stream);
    const size_t largest = rwTestMemory.largest;
    RwStreamClose(stream, nullptr);
    return largest;
}

// What read(stream) returns over the bytes (or their first n); the stream is closed after.
template <class Read>
auto ReadWith(Bytes &bytes, Read read, size_t n = static_cast<size_t>(-1))
{
    RwStream *stream = OpenRead(bytes, n);
    auto result = read(stream);
    RwStreamClose(stream, nullptr);
    return result;
}

// The same from the first chunk of the type on (NULL when there is none).
template <class Read>
auto ReadChunkWith(Bytes &bytes, RwUInt32 type, Read read, size_t n = static_cast<size_t>(-1))
{
    auto found = [&](RwStream *s) { return RwStreamFindChunk(s, type, nullptr, nullptr) ? read(s) : nullptr; };
    return ReadWith(bytes, found, n);
}

// Closes a memory stream opened for writing and returns what it holds; the
// buffer goes back to the library's allocator.
inline Bytes CloseWritten(RwStream *stream)
{
    RwMemory memory = {nullptr, 0};
    EXPECT_TRUE(RwStreamClose(stream, &memory));
    Bytes bytes(memory.start, memory.start + memory.length);
    RwFree(memory.start);
    return bytes;
}

// What write(stream) puts into a memory stream; the write must succeed.
template <class Write>
Bytes WrittenWith(Write write)
{
    RwStream *stream = OpenWriteMemory();
    EXPECT_TRUE(write(stream));
    return CloseWritten(stream);
}
