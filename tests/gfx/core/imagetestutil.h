// Shared set-up of the image, raster and PNG tests: a started engine on counted memory with a
// file system over the working folder, a fixture that checks for leaks, and image helpers.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fstestutil.h"
#include "gfx/core/filesys.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/stream.h"
#include "gfx/core/win32filesys.h"
#include "support/test_driver.h"

// The engine of the whole program, with a file system over the working folder.
class ImageEngineEnvironment : public EngineEnvironment {
public:
    explicit ImageEngineEnvironment(RegisterFunction registerPlugins = nullptr) : EngineEnvironment(registerPlugins) {}

    void SetUp() override
    {
        RwTestDriverReset();
        EngineEnvironment::SetUp();
        ASSERT_TRUE(RwFileSystemManagerOpen(0));
        RwFileSystem *fs = RwWin32FileSystemCreate(8, "", "work");
        ASSERT_NE(nullptr, fs);
        ASSERT_TRUE(RwFileSystemRegister(fs));
        RwFileSystemSetDefault(fs);
        // Free lists release their first block with its last entry; let that happen now so
        // that the tests' leak checks see blocks come and go in pairs.
        RwImageDestroy(RwImageCreate(1, 1, 32));
        RwRasterDestroy(RwRasterCreate(0, 0, 0, rwRASTERDONTALLOCATE));
        RwUInt8 byte = 0;
        RwMemory mem = {&byte, 1};
        RwStreamClose(RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &mem), nullptr);
    }
    void TearDown() override
    {
        RwFileSystemManagerClose();
        EngineEnvironment::TearDown();
    }
};

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

inline bool operator==(const RwRGBA &a, const RwRGBA &b)
{
    return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
}

inline std::ostream &operator<<(std::ostream &out, const RwRGBA &c)
{
    return out << "(" << int(c.red) << ", " << int(c.green) << ", " << int(c.blue) << ", " << int(c.alpha) << ")";
}

// Base of the image tests: no error held at the start, images handed to Keep destroyed at the
// end, no memory failures left armed, gamma back at 1 and no allocation left behind.
class ImageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RwTestDriverReset();
        TakeError();
        RwImageSetPath("");
        liveBefore = rwTestMemory.live;
    }
    void TearDown() override
    {
        for (auto it = kept.rbegin(); it != kept.rend(); ++it)
            RwImageDestroy(*it);
        rwTestMemory.failAfter = -1;
        rwTestMemory.failRealloc = false;
        RwImageSetGamma(1.0f);
        EXPECT_EQ(liveBefore, rwTestMemory.live) << "allocations leaked";
    }
    RwImage *Keep(RwImage *image)
    {
        if (image)
            kept.push_back(image);
        return image;
    }
    RwImage *Owned(RwInt32 width, RwInt32 height, RwInt32 depth) { return Keep(MakeImage(width, height, depth)); }
    // A 32-bit image of one row of these colours.
    RwImage *Row(const std::vector<RwRGBA> &colours)
    {
        RwImage *image = Owned(static_cast<RwInt32>(colours.size()), 1, 32);
        for (size_t i = 0; i < colours.size(); i++)
            *PixelAt(image, static_cast<RwInt32>(i), 0) = colours[i];
        return image;
    }
    std::vector<RwImage *> kept;
    RwInt32 liveBefore = 0;
};

// Writes bytes to a file of the working folder.
inline bool WriteFileBytes(const std::string &name, const std::string &bytes)
{
    FILE *f = fopen(name.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
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
