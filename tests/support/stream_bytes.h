// Hand-assembled stream bytes for tests: little-endian words, chunk headers,
// and memory streams that read them or collect what is written.
#pragma once

#include <gtest/gtest.h>
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "gfx/core/error.h"
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

// A custom stream's source: the first `end` bytes, handed out `piece` bytes a
// call at most (0: one to seven, in turn), then 0 or, when failing, an error.
struct CustomSource {
    const Bytes *bytes;
    size_t end;
    RwUInt32 piece;
    bool fail;
    size_t at = 0;
    RwUInt32 calls = 0;
};

inline RwUInt32 CustomSourceRead(void *data, void *buffer, RwUInt32 length)
{
    CustomSource *s = static_cast<CustomSource *>(data);
    if (s->at >= s->end) {
        return s->fail ? 0xFFFFFFFFu : 0;
    }
    const size_t piece = s->piece ? s->piece : 1 + s->calls++ % 7;
    const size_t n = std::min({static_cast<size_t>(length), piece, s->end - s->at});
    std::memcpy(buffer, s->bytes->data() + s->at, n);
    s->at += n;
    return static_cast<RwUInt32>(n);
}

inline RwBool CustomSourceSkip(void *data, RwUInt32 offset)
{
    CustomSource *s = static_cast<CustomSource *>(data);
    if (offset > s->end - s->at) {
        s->at = s->end;
        return FALSE;
    }
    s->at += offset;
    return TRUE;
}

inline RwStream *OpenCustomRead(CustomSource *source)
{
    RwStreamCustom custom = {nullptr, CustomSourceRead, nullptr, CustomSourceSkip, source};
    return RwStreamOpen(rwSTREAMCUSTOM, rwSTREAMREAD, &custom);
}

// Reads the bytes, cut at every length, over a memory stream and over custom
// streams whose callback gives one to seven bytes a call or 4096, and ends
// with 0 or an error: each custom read must succeed exactly when the memory
// read does, take the same bytes, and allocate no more than the bytes that
// arrived justify (the read-ahead's first step, or twice what arrived).
template <class Read, class Destroy>
void ExpectCustomReadsAsMemory(Bytes &bytes, Read read, Destroy destroy, const char *what)
{
    const struct {
        RwUInt32 piece;
        bool fail;
    } sources[] = {{0, false}, {4096, false}, {0, true}, {4096, true}};
    for (size_t n = 0; n <= bytes.size(); ++n) {
        RwStream *memory = OpenRead(bytes, n);
        rwTestMemory.largest = 0;
        auto *object = read(memory);
        const size_t largest = rwTestMemory.largest;
        RwUInt32 taken = 0;
        RwStreamGetPosition(memory, &taken);
        RwStreamClose(memory, nullptr);
        const bool read_ = object != nullptr;
        if (object) {
            destroy(object);
        }
        RwErrorGetLast();
        for (const auto &kind : sources) {
            CustomSource source = {&bytes, n, kind.piece, kind.fail};
            RwStream *custom = OpenCustomRead(&source);
            rwTestMemory.largest = 0;
            auto *back = read(custom);
            EXPECT_EQ(read_, back != nullptr) << what << " cut at " << n << " of " << bytes.size() << ", piece "
                                              << kind.piece << (kind.fail ? ", failing" : ", ending");
            RwUInt32 at = 0;
            EXPECT_TRUE(RwStreamGetPosition(custom, &at));
            if (read_ && back) {
                EXPECT_EQ(taken, at) << what << " cut at " << n;
            }
            EXPECT_LE(rwTestMemory.largest, std::max({largest, static_cast<size_t>(0x10000), 2 * n})) << what;
            RwStreamClose(custom, nullptr);
            if (back) {
                destroy(back);
            }
            RwErrorGetLast();
        }
    }
}
