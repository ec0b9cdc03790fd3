// Byte arrays for the archive tests, assembled by hand from the format tables.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

struct Bytes
{
    std::vector<uint8_t> b;

    std::string Str() const { return std::string(b.begin(), b.end()); }

    void U8(uint8_t v) { b.push_back(v); }
    void U16(uint16_t v)
    {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v)
    {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void U32s(std::initializer_list<uint32_t> values)
    {
        for (uint32_t v : values)
            U32(v);
    }
    // A zero-padded 256-byte name field.
    void Name(const char *s)
    {
        const size_t at = b.size();
        b.resize(at + 256, 0);
        std::memcpy(&b[at], s, std::min<size_t>(std::strlen(s), 255));
    }
    void Raw(const char *s)
    {
        while (*s)
            U8(static_cast<uint8_t>(*s++));
    }
    // A storage record: state byte, offset (low, high), size (low, high), spare word.
    void Record(uint8_t state, uint32_t offset, uint32_t size)
    {
        U8(state);
        U32s({offset, 0, size, 0, 0});
    }
    void Patch16(size_t at, uint16_t v)
    {
        b[at] = static_cast<uint8_t>(v);
        b[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    // Overwrites a 256-byte name field.
    void PatchName(size_t at, const char *s)
    {
        std::memset(&b[at], 0, 256);
        std::memcpy(&b[at], s, std::min<size_t>(std::strlen(s), 256));
    }
    void Patch(size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
};
