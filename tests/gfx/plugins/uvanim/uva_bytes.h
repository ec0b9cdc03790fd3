// UV animation dictionaries (".uva" content) assembled from the format's tables.
#pragma once

#include <cstring>
#include <vector>

#include "gfx/plugins/uvanim/uvanim.h"
#include "support/stream_bytes.h"

namespace uvabytes {

struct Key {
    float time;
    float c[6];
    RwInt32 prev;
};

// An animation chunk (0x1B) of a UV scheme, written from the format's tables.
inline Bytes AnimationChunk(const char *name, RwInt32 scheme, const std::vector<Key> &keys,
                     std::vector<RwInt32> channels = {0}, float duration = 1.0f)
{
    Build b;
    b.Header(0x1B, 20 + 68 + 32 * static_cast<RwUInt32>(keys.size()));
    b.U32(0x100).U32(static_cast<RwUInt32>(scheme)).U32(static_cast<RwUInt32>(keys.size())).U32(0);
    PutReals(b.bytes, {duration});
    b.U32(0);
    char padded[32] = {};
    std::memcpy(padded, name, std::strlen(name) < 32 ? std::strlen(name) : 32);
    b.Text(padded, 32);
    channels.resize(8, 0);
    for (RwInt32 c : channels) {
        b.U32(static_cast<RwUInt32>(c));
    }
    for (const Key &k : keys) {
        PutReals(b.bytes, {k.time, k.c[0], k.c[1], k.c[2], k.c[3], k.c[4], k.c[5]});
        b.U32(static_cast<RwUInt32>(k.prev));
    }
    return b;
}

// Translation u from 0 to 1 over a second, on channel `channel`.
inline Bytes Scroll(const char *name, RwInt32 channel = 0)
{
    return AnimationChunk(name, rwUVANIMLINEARKEYFRAMES,
                          {{0, {1, 0, 0, 1, 0, 0}, -1}, {1, {1, 0, 0, 1, 1, 0}, 0}}, {channel});
}

inline Bytes Dictionary(const std::vector<Bytes> &entries)
{
    Build body;
    body.Header(1, 4).U32(static_cast<RwUInt32>(entries.size()));
    for (const Bytes &e : entries) {
        body.bytes.insert(body.bytes.end(), e.begin(), e.end());
    }
    Build all;
    all.Header(0x2B, static_cast<RwUInt32>(body.bytes.size()));
    all.bytes.insert(all.bytes.end(), body.bytes.begin(), body.bytes.end());
    return all;
}

}  // namespace uvabytes
