// Shared set-up of the image, raster and PNG tests: a started engine whose allocations are
// counted, a file system over the working folder, and small image helpers.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/filesys.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/stream.h"
#include "gfx/core/win32filesys.h"
#include "support/test_driver.h"

// Live allocations made through the engine's memory functions; tests compare the count
// before and after an operation to find leaks.
struct AllocationCounter {
    RwInt32 live = 0;
    RwInt32 failAfter = -1;   // refuse allocations once this many more succeeded
};
inline AllocationCounter allocations;

inline void *CountingMalloc(size_t size, RwUInt32 hint)
{
    if (allocations.failAfter == 0)
        return nullptr;
    if (allocations.failAfter > 0)
        --allocations.failAfter;
    void *p = malloc(size ? size : 1);
    if (p)
        ++allocations.live;
    return p;
}
inline void CountingFree(void *p)
{
    if (p)
        --allocations.live;
    free(p);
}
inline void *CountingRealloc(void *p, size_t size, RwUInt32 hint)
{
    if (!p)
        return CountingMalloc(size, hint);
    if (allocations.failAfter == 0)
        return nullptr;
    return realloc(p, size ? size : 1);
}
inline void *CountingCalloc(size_t n, size_t size)
{
    void *p = calloc(n ? n : 1, size ? size : 1);
    if (p)
        ++allocations.live;
    return p;
}
inline const RwMemoryFunctions countingFuncs = {CountingMalloc, CountingFree, CountingRealloc, CountingCalloc};

// Starts the engine once for the whole program, with a file system over the working folder.
class ImageEngineEnvironment : public ::testing::Environment {
public:
    typedef void (*RegisterFunction)(void);
    explicit ImageEngineEnvironment(RegisterFunction registerPlugins = nullptr) : registerPlugins_(registerPlugins) {}

    void SetUp() override
    {
        RwTestDriverReset();
        ASSERT_TRUE(RwEngineInit(&countingFuncs, 0, 0));
        if (registerPlugins_)
            registerPlugins_();
        RwEngineOpenParams params = {nullptr};
        ASSERT_TRUE(RwEngineOpen(&params));
        ASSERT_TRUE(RwEngineStart());
        ASSERT_TRUE(RwFileSystemManagerOpen(0));
        RwFileSystem *fs = RwWin32FileSystemCreate(8, "", "work");
        ASSERT_NE(nullptr, fs);
        ASSERT_TRUE(RwFileSystemRegister(fs));
        RwFileSystemSetDefault(fs);
        // Free lists release their first block with its last entry; let that happen now so
        // that later tests see blocks come and go in pairs.
        RwImageDestroy(RwImageCreate(1, 1, 32));
        RwRasterDestroy(RwRasterCreate(0, 0, 0, rwRASTERDONTALLOCATE));
        RwUInt8 byte = 0;
        RwMemory mem = {&byte, 1};
        RwStreamClose(RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &mem), nullptr);
    }
    void TearDown() override
    {
        RwFileSystemManagerClose();
        RwEngineStop();
        RwEngineClose();
        RwEngineTerm();
    }

private:
    RegisterFunction registerPlugins_;
};

inline RwError TakeError()
{
    RwError error;
    RwErrorGet(&error);
    return error;
}

inline RwUInt32 TakeErrorCode()
{
    return static_cast<RwUInt32>(TakeError().errorCode);
}

// An image with its own pixels, every byte zero.
inline RwImage *MakeImage(RwInt32 width, RwInt32 height, RwInt32 depth)
{
    RwImage *image = RwImageCreate(width, height, depth);
    if (image && !RwImageAllocatePixels(image)) {
        RwImageDestroy(image);
        return nullptr;
    }
    if (image) {
        memset(image->cpPixels, 0, static_cast<size_t>(image->stride) * height);
        if (image->palette)
            memset(image->palette, 0, 4u << depth);
    }
    return image;
}

inline RwRGBA Rgba(RwUInt8 r, RwUInt8 g, RwUInt8 b, RwUInt8 a)
{
    RwRGBA c = {r, g, b, a};
    return c;
}

inline RwRGBA *PixelAt(RwImage *image, RwInt32 x, RwInt32 y)
{
    return reinterpret_cast<RwRGBA *>(image->cpPixels + static_cast<size_t>(y) * image->stride) + x;
}

// The colour a pixel shows, through the palette for palettised images.
inline RwRGBA ShownColour(const RwImage *image, RwInt32 x, RwInt32 y)
{
    const RwUInt8 *row = image->cpPixels + static_cast<size_t>(y) * image->stride;
    if (image->depth == 32)
        return Rgba(row[x * 4], row[x * 4 + 1], row[x * 4 + 2], row[x * 4 + 3]);
    return image->palette[row[x]];
}

inline bool SameColour(const RwRGBA &a, const RwRGBA &b)
{
    return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
}

// Writes bytes to a file of the working folder.
inline bool WriteFileBytes(const std::string &name, const void *data, size_t size)
{
    FILE *f = fopen(name.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

inline std::string ReadFileBytes(const std::string &name)
{
    std::string out;
    FILE *f = fopen(name.c_str(), "rb");
    if (!f)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0)
        out.append(buffer, n);
    fclose(f);
    return out;
}
