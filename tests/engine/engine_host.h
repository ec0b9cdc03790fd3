// The game's host for engine tests: a 1024x768 popup window, an engine root on it, file helpers.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/CKivBase.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/d3d9/d3d9window.h"

inline HWND HostWindow()
{
    static HWND window = KivTestCreateWindow(1024, 768, "KivEngineHost");
    return window;
}

inline int InitHost(CKivBase *base, int packedArchive = 0)
{
    return base->Init(HostWindow(), GetModuleHandleA(nullptr), 1024, 768, "kiv test", packedArchive, 0);
}

// One engine root initialised for the whole test program; Base makes it.
template <typename Base = CKivBase>
class HostedEngine : public ::testing::Environment {
public:
    void SetUp() override
    {
        base = new Base;
        ASSERT_EQ(1, InitHost(base));
    }
    void TearDown() override
    {
        base->Shutdown();
        delete base;
    }
    static inline CKivBase *base = nullptr;
};

inline std::string ReadFileBytes(const std::string &name)
{
    std::string bytes;
    FILE *f = fopen(name.c_str(), "rb");
    if (!f)
        return "<missing>";
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0)
        bytes.append(buffer, n);
    fclose(f);
    return bytes;
}

inline void WriteFileBytes(const std::string &name, const std::string &bytes)
{
    FILE *f = fopen(name.c_str(), "wb");
    ASSERT_NE(nullptr, f) << name;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// Little-endian words and reals for hand-assembled streams.
inline void PutU32(std::string &s, unsigned v)
{
    for (int i = 0; i < 4; i++)
        s.push_back(static_cast<char>(v >> (8 * i)));
}
inline void PutF32(std::string &s, float f)
{
    unsigned v;
    memcpy(&v, &f, 4);
    PutU32(s, v);
}
// A chunk header stamped with library version 0x37002, build 0x55.
inline std::string Chunk(unsigned type, const std::string &body)
{
    std::string s;
    PutU32(s, type);
    PutU32(s, static_cast<unsigned>(body.size()));
    PutU32(s, 0x1C020055);
    return s + body;
}

// The RGBA pixels of a raster, rows without padding.
inline std::vector<RwUInt8> RasterPixels(RwRaster *raster)
{
    RwImage *image = RwImageCreate(raster->width, raster->height, 32);
    RwImageAllocatePixels(image);
    RwImageSetFromRaster(image, raster);
    std::vector<RwUInt8> pixels;
    for (int y = 0; y < image->height; y++)
        pixels.insert(pixels.end(), image->cpPixels + y * image->stride,
                      image->cpPixels + y * image->stride + image->width * 4);
    RwImageDestroy(image);
    return pixels;
}
