// Tests of rasters on a real device: formats, locks, images in and out, drawing and device resets.
#include <gtest/gtest.h>

#include <cstring>

#include "d3d9drawtexture.h"
#include "d3d9testdevice.h"
#include "gfx/core/camera.h"
#include "gfx/core/error.h"
#include "gfx/core/filesys.h"
#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/core/win32filesys.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9pixel.h"
#include "gfx/d3d9/d3d9raster.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/d3d9/d3d9standard.h"
#include "gfx/d3d9/d3d9state.h"
#include "gfx/d3d9/d3d9videomode.h"

namespace {

class DeviceRaster : public StartedDevice {
protected:
    void SetUp() override
    {
        StartedDevice::SetUp();
        ASSERT_EQ(rwD3D9Driver.displayMode.depth, 32);
        RwErrorGet();
    }
};

RwUInt32 LastError(void)
{
    return static_cast<RwUInt32>(RwErrorGet().errorCode);
}

// A 32-bit image whose pixel (x, y) is Colour(x, y).
RwRGBA Colour(RwInt32 x, RwInt32 y)
{
    return {static_cast<RwUInt8>(x * 16), static_cast<RwUInt8>(y * 16), static_cast<RwUInt8>(255 - x * 8),
            static_cast<RwUInt8>(x < 8 ? 255 : 64)};
}

// With an alpha of 0 to 255 every pixel takes it.
RwImage *MakeImage(RwInt32 w, RwInt32 h, int alpha = -1)
{
    RwImage *image = RwImageCreate(w, h, 32);
    RwImageAllocatePixels(image);
    for (RwInt32 y = 0; y < h; y++)
        for (RwInt32 x = 0; x < w; x++) {
            RwRGBA c = Colour(x, y);
            if (alpha >= 0)
                c.alpha = static_cast<RwUInt8>(alpha);
            std::memcpy(image->cpPixels + y * image->stride + 4 * x, &c, 4);
        }
    return image;
}

RwRGBA ImageAt(const RwImage *image, RwInt32 x, RwInt32 y)
{
    RwRGBA c;
    std::memcpy(&c, image->cpPixels + y * image->stride + 4 * x, 4);
    return c;
}


} // namespace

TEST_F(DeviceRaster, CreationChoosesFormatsTheDeviceHas)
{
    struct Row {
        RwInt32 flags;
        RwUInt8 format;      // format byte
        RwInt32 depth;
        D3DFORMAT d3dFormat;
        RwUInt8 alpha;
    } rows[] = {
        {rwRASTERTYPETEXTURE, 0x05, 32, D3DFMT_A8R8G8B8, 1},
        {rwRASTERTYPETEXTURE | rwRASTERFORMAT888, 0x06, 32, D3DFMT_X8R8G8B8, 0},
        {rwRASTERTYPENORMAL | rwRASTERFORMAT565, 0x02, 16, D3DFMT_R5G6B5, 0},
        {rwRASTERTYPETEXTURE | rwRASTERFORMAT4444, 0x03, 16, D3DFMT_A4R4G4B4, 1},
        {rwRASTERTYPETEXTURE | rwRASTERFORMAT1555 | rwRASTERFORMATMIPMAP, 0x81, 16, D3DFMT_A1R5G5B5, 1},
        {rwRASTERTYPETEXTURE | rwRASTERFORMAT555, 0x0A, 16, D3DFMT_X1R5G5B5, 0},
        {rwRASTERTYPETEXTURE | rwRASTERFORMATLUM8, 0x04, 8, D3DFMT_L8, 0},
        {rwRASTERTYPECAMERATEXTURE, 0x06, 32, D3DFMT_X8R8G8B8, 0},
        {rwRASTERTYPECAMERATEXTURE | rwRASTERFORMAT8888, 0x05, 32, D3DFMT_A8R8G8B8, 1},
    };
    for (const Row &r : rows) {
        RwRaster *raster = RwRasterCreate(64, 32, 0, r.flags);
        ASSERT_NE(raster, nullptr) << std::hex << r.flags;
        RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
        EXPECT_EQ(raster->cFormat, r.format) << std::hex << r.flags;
        EXPECT_EQ(raster->depth, r.depth) << std::hex << r.flags;
        EXPECT_EQ(ext->d3dFormat, r.d3dFormat) << std::hex << r.flags;
        EXPECT_EQ(ext->alpha, r.alpha) << std::hex << r.flags;
        EXPECT_NE(ext->texture, nullptr);
        EXPECT_EQ(ext->lockedMipLevel, 0xFF);
        RwInt32 levels = RwRasterGetNumLevels(raster);
        EXPECT_EQ(levels, (r.flags & rwRASTERFORMATMIPMAP) ? 7 : 1);
        RwRasterDestroy(raster);
    }

    // Palettes do not exist as textures here: refused without an error of their own.
    EXPECT_EQ(RwRasterCreate(16, 16, 0, rwRASTERTYPETEXTURE | rwRASTERFORMATPAL8 | rwRASTERFORMAT888), nullptr);
    EXPECT_EQ(RwRasterCreate(16, 16, 0, rwRASTERTYPETEXTURE | rwRASTERFORMATPAL8), nullptr);
    EXPECT_EQ(LastError(), 0x80000000u);
    struct Refusal {
        RwInt32 flags;
        RwUInt32 error;
    } refusals[] = {
        {rwRASTERTYPETEXTURE | rwRASTERFORMATPAL4 | rwRASTERFORMAT888, 0x8000000Du},
        {3, 0x8000000Du},
        {rwRASTERTYPETEXTURE | 0x0B00, 0x8000000Du},
        {rwRASTERTYPEZBUFFER | rwRASTERFORMAT16, 0x8000000Du},
        {rwRASTERTYPECAMERA | rwRASTERFORMAT565, 0x8000000Du},
        {rwRASTERTYPECAMERATEXTURE | rwRASTERFORMAT32, 0x8000000Du},
    };
    for (const Refusal &r : refusals) {
        EXPECT_EQ(RwRasterCreate(16, 16, 0, r.flags), nullptr) << std::hex << r.flags;
        EXPECT_EQ(LastError(), r.error) << std::hex << r.flags;
    }

    // An empty raster has no object and depth 16.
    RwRaster *empty = RwRasterCreate(0, 8, 0, rwRASTERTYPETEXTURE | rwRASTERFORMAT565);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->cFlags, rwRASTERDONTALLOCATE);
    EXPECT_EQ(RwD3D9RasterGetExtension(empty)->texture, nullptr);
    RwInt32 levels = -1;
    EXPECT_TRUE(RwD3D9RasterGetMipLevels(&levels, empty, 0));
    EXPECT_EQ(levels, 4);
    RwRasterDestroy(empty);
}

TEST_F(DeviceRaster, LevelLocksShrinkTheRasterAndRefuseTwice)
{
    RwRaster *raster = RwRasterCreate(256, 64, 0, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888 | rwRASTERFORMATMIPMAP);
    ASSERT_NE(raster, nullptr);
    EXPECT_EQ(RwRasterGetNumLevels(raster), 9);
    RwUInt8 *pixels = RwRasterLock(raster, 2, rwRASTERLOCKWRITE);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(raster->width, 64);
    EXPECT_EQ(raster->height, 16);
    EXPECT_GE(raster->stride, 64 * 4);
    EXPECT_EQ(raster->privateFlags & (rwRASTERPIXELLOCKEDREAD | rwRASTERPIXELLOCKEDWRITE), rwRASTERPIXELLOCKEDWRITE);
    std::memset(pixels, 0x5A, 16 * raster->stride);

    RwUInt8 *again = nullptr;
    EXPECT_FALSE(RwD3D9RasterLock(&again, raster, rwRASTERLOCKREAD));
    EXPECT_EQ(LastError(), 0x8000000Eu);
    RwRasterUnlock(raster);
    EXPECT_EQ(raster->width, 256);
    EXPECT_EQ(raster->height, 64);
    EXPECT_EQ(raster->stride, 0);
    EXPECT_EQ(raster->cpPixels, nullptr);
    EXPECT_FALSE(RwD3D9RasterUnlock(nullptr, raster, 0));
    EXPECT_EQ(LastError(), 0x80000011u);

    // What was written is there on a read lock; the smallest level is 1 x 1.
    pixels = RwRasterLock(raster, 2, rwRASTERLOCKREAD);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels[15 * raster->stride + 63 * 4], 0x5A);
    RwRasterUnlock(raster);
    ASSERT_NE(RwRasterLock(raster, 8, rwRASTERLOCKREAD), nullptr);
    EXPECT_EQ(raster->width, 1);
    EXPECT_EQ(raster->height, 1);
    RwRasterUnlock(raster);

    // A z-buffer cannot be locked; a palette lock needs a palette.
    RwRaster *z = RwRasterCreate(64, 64, 0, rwRASTERTYPEZBUFFER);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(RwRasterLock(z, 0, rwRASTERLOCKREAD), nullptr);
    EXPECT_EQ(LastError(), 0x8000000Eu);
    EXPECT_EQ(RwRasterLockPalette(z, rwRASTERLOCKREAD), nullptr);
    EXPECT_EQ(LastError(), 0x8000000Eu);
    EXPECT_FALSE(RwD3D9RasterUnlockPalette(nullptr, z, 0));
    EXPECT_EQ(LastError(), 0x80000011u);
    EXPECT_EQ(RwRasterLockPalette(raster, rwRASTERLOCKREAD), nullptr);
    RwRasterDestroy(z);
    RwRasterDestroy(raster);
}

// An image written into each kind of texture comes back within the format's
// precision, and the device draws those very pixels.
TEST_F(DeviceRaster, ImagesRoundTripAndDrawInEveryTextureFormat)
{
    struct Row {
        RwInt32 code;
        int tolerance;
        bool alpha;        // the format keeps translucency
        RwUInt8 alphaFlag; // the raster's flag after the write
    } rows[] = {
        {rwRASTERFORMAT8888, 0, true, 1}, {rwRASTERFORMAT888, 0, false, 0}, {rwRASTERFORMAT565, 7, false, 0},
        {rwRASTERFORMAT555, 7, false, 0}, {rwRASTERFORMAT4444, 15, true, 1}, {rwRASTERFORMAT1555, 7, false, 1},
    };
    RwImage *image = MakeImage(16, 16);
    for (const Row &r : rows) {
        RwRaster *raster = RwRasterCreate(16, 16, 0, rwRASTERTYPETEXTURE | r.code);
        ASSERT_NE(raster, nullptr);
        ASSERT_NE(RwRasterSetFromImage(raster, image), nullptr) << std::hex << r.code;
        EXPECT_EQ(RwD3D9RasterGetExtension(raster)->alpha, r.alphaFlag) << std::hex << r.code;
        RwImage *back = RwImageCreate(16, 16, 32);
        RwImageAllocatePixels(back);
        ASSERT_NE(RwImageSetFromRaster(back, raster), nullptr);
        for (RwInt32 y = 0; y < 16; y += 5)
            for (RwInt32 x = 0; x < 16; x += 3) {
                RwRGBA want = Colour(x, y), got = ImageAt(back, x, y);
                EXPECT_TRUE(NearChannel(got.red, want.red, r.tolerance) && NearChannel(got.green, want.green, r.tolerance) &&
                            NearChannel(got.blue, want.blue, r.tolerance))
                    << std::hex << r.code << " at " << x << "," << y;
                if (r.alpha) {
                    EXPECT_TRUE(NearChannel(got.alpha, want.alpha, r.tolerance)) << std::hex << r.code;
                }
            }
        EXPECT_TRUE(NearRGB(DrawTexel(raster, 5, 9), Colour(5, 9), r.tolerance + 2))
            << std::hex << r.code;
        RwImageDestroy(back);
        RwRasterDestroy(raster);
    }
    RwImageDestroy(image);
}

TEST_F(DeviceRaster, ConversionsRefuseWhatTheyCannotDo)
{
    RwRaster *raster = RwRasterCreate(16, 16, 0, rwRASTERTYPETEXTURE | rwRASTERFORMAT888);
    ASSERT_NE(raster, nullptr);
    // An image of another size than the raster would be overrun.
    RwImage *small = RwImageCreate(8, 8, 32);
    RwImageAllocatePixels(small);
    EXPECT_EQ(RwImageSetFromRaster(small, raster), nullptr);
    EXPECT_EQ(LastError(), 0x8000000Au);
    EXPECT_EQ(raster->privateFlags, 0);
    // 8-bit images come only from palettised or luminance rasters; 4-bit never.
    RwImage *eight = RwImageCreate(16, 16, 8);
    RwImageAllocatePixels(eight);
    EXPECT_EQ(RwImageSetFromRaster(eight, raster), nullptr);
    EXPECT_EQ(LastError(), 2u);
    RwImage *four = RwImageCreate(16, 16, 4);
    RwImageAllocatePixels(four);
    EXPECT_EQ(RwImageSetFromRaster(four, raster), nullptr);
    EXPECT_EQ(LastError(), 2u);
    RwRasterDestroy(raster);

    // An L8 raster reads back as luminance bytes with a grey ramp.
    RwRaster *lum = RwRasterCreate(16, 16, 0, rwRASTERTYPETEXTURE | rwRASTERFORMATLUM8);
    ASSERT_NE(lum, nullptr);
    RwImage *grey = MakeImage(16, 16, 255);
    ASSERT_NE(RwRasterSetFromImage(lum, grey), nullptr);
    ASSERT_NE(RwImageSetFromRaster(eight, lum), nullptr);
    EXPECT_EQ(eight->cpPixels[3 * eight->stride + 2], RwD3D9Luminance(Colour(2, 3)));
    EXPECT_EQ(eight->palette[77].red, 77);
    EXPECT_EQ(eight->palette[77].alpha, 255);
    RwRasterDestroy(lum);

    // Compressed rasters are neither read nor written.
    RwRaster *dxt = RwD3D9RasterCreateFromD3DFormat(16, 16, D3DFMT_DXT1, rwRASTERTYPETEXTURE);
    ASSERT_NE(dxt, nullptr);
    EXPECT_TRUE(RwD3D9RasterIsCompressed(dxt));
    EXPECT_EQ(dxt->cFormat & 0x0F, rwRASTERFORMAT565 >> 8);
    EXPECT_EQ(RwRasterSetFromImage(dxt, grey), nullptr);
    EXPECT_EQ(LastError(), 2u);
    EXPECT_EQ(RwImageSetFromRaster(small, dxt), nullptr);
    EXPECT_EQ(LastError(), 2u);
    RwRasterDestroy(dxt);

    // A format without a packer reports its failure: nothing was written.
    RwRaster *half = RwD3D9RasterCreateFromD3DFormat(16, 16, D3DFMT_R16F, rwRASTERTYPETEXTURE);
    ASSERT_NE(half, nullptr);
    EXPECT_EQ(RwRasterSetFromImage(half, grey), nullptr);
    EXPECT_EQ(LastError(), 0x8000000Cu);
    EXPECT_EQ(half->privateFlags, 0);
    RwRasterDestroy(half);
    for (RwImage *i : {small, eight, four, grey})
        RwImageDestroy(i);
}

TEST_F(DeviceRaster, FormatChoiceFollowsTheImageAndTheDevice)
{
    RwInt32 w, h, depth, format;
    struct Row {
        RwUInt8 alpha;
        RwInt32 format;
    } rows[] = {{255, rwRASTERFORMAT888}, {128, rwRASTERFORMAT8888}, {0, rwRASTERFORMAT8888}};
    for (const Row &r : rows) {
        RwImage *image = MakeImage(20, 12, r.alpha);
        ASSERT_NE(RwImageFindRasterFormat(image, rwRASTERTYPETEXTURE | rwRASTERFORMATMIPMAP, &w, &h, &depth, &format),
                  nullptr);
        EXPECT_EQ(format, rwRASTERTYPETEXTURE | rwRASTERFORMATMIPMAP | r.format) << int(r.alpha);
        EXPECT_EQ(w, 20);
        EXPECT_EQ(h, 12);
        EXPECT_EQ(depth, 32);
        RwImageDestroy(image);
    }
    // A palettised image keeps its colours in true colour: the device has no palettes.
    RwImage *indexed = RwImageCreate(4, 4, 8);
    RwImageAllocatePixels(indexed);
    std::memset(indexed->cpPixels, 1, 4 * indexed->stride);
    for (int i = 0; i < 256; i++)
        indexed->palette[i] = {static_cast<RwUInt8>(i), 0, 0, 255};
    indexed->palette[200].alpha = 0;   // translucent but unused
    EXPECT_EQ(RwD3D9ImageFindFormat(indexed), rwRASTERFORMATPAL8 | rwRASTERFORMAT888);
    ASSERT_NE(RwImageFindRasterFormat(indexed, rwRASTERTYPETEXTURE, &w, &h, &depth, &format), nullptr);
    EXPECT_EQ(format, rwRASTERTYPETEXTURE | rwRASTERFORMAT888);
    indexed->cpPixels[5] = 200;
    EXPECT_EQ(RwD3D9ImageFindFormat(indexed), rwRASTERFORMATPAL8 | rwRASTERFORMAT8888);

    // And the raster made from that choice draws the palette's colours.
    RwRaster *raster = RwRasterCreate(4, 4, depth, format);
    ASSERT_NE(raster, nullptr);
    indexed->cpPixels[5] = 7;
    ASSERT_NE(RwRasterSetFromImage(raster, indexed), nullptr);
    EXPECT_TRUE(NearRGB(DrawTexel(raster, 1, 1), {7, 0, 0, 255}, 1));
    EXPECT_TRUE(NearRGB(DrawTexel(raster, 0, 0), {1, 0, 0, 255}, 1));
    RwRasterDestroy(raster);
    RwImageDestroy(indexed);

    // Camera textures on a 32-bit display widen 16-bit codes; z-buffers take the mode's depth.
    EXPECT_EQ(RwD3D9RasterFindSupportedFormat(rwRASTERTYPECAMERATEXTURE, rwRASTERFORMAT565), rwRASTERFORMAT888);
    EXPECT_EQ(RwD3D9RasterFindSupportedFormat(rwRASTERTYPECAMERATEXTURE, rwRASTERFORMAT4444), rwRASTERFORMAT8888);
    EXPECT_EQ(RwD3D9RasterFindSupportedFormat(rwRASTERTYPEZBUFFER, 0),
              rwD3D9Driver.zBufferDepth == 32 ? rwRASTERFORMAT32 : rwRASTERFORMAT16);
    EXPECT_EQ(RwD3D9RasterFindSupportedFormat(rwRASTERTYPEZBUFFER, rwRASTERFORMAT565), rwRASTERFORMAT565);
    EXPECT_EQ(LastError(), 0x8000000Du);
}

// Images of a depth the converters have no layout for (neither palette
// indices nor 32-bit colours; depths 1 and 2 come without a palette, which
// must not be read) are taken as opaque by the format choice and
// write nothing into a raster of any depth; the true-colour path marks the
// raster as having alpha, since nothing written says it is opaque.
// An image file wider than the device's textures reads whole whatever the
// device; the texture read from it is fitted to the device.
TEST_F(DeviceRaster, TextureFilesLargerThanTheDeviceTakesAreFittedToIt)
{
    ASSERT_TRUE(RwFileSystemManagerOpen(0));
    RwFileSystem *fs = RwWin32FileSystemCreate(8, "", "work");
    ASSERT_TRUE(fs && RwFileSystemRegister(fs));
    RwFileSystemSetDefault(fs);
    RwImage *image = MakeImage(100, 8);
    const RwRGBA colour = {200, 100, 50, 255};
    for (RwInt32 i = 0; i < 100 * 8; i++)
        std::memcpy(image->cpPixels + 4 * i, &colour, 4);
    ASSERT_EQ(RwImageWritePng(image, "wide.png"), image);
    RwImageDestroy(image);
    RwImageRegisterFormat("png", RwImageReadPng, RwImageWritePng);
    RwImageSetPath("");
    const DWORD width = rwD3D9Driver.caps.MaxTextureWidth, height = rwD3D9Driver.caps.MaxTextureHeight;
    rwD3D9Driver.caps.MaxTextureWidth = rwD3D9Driver.caps.MaxTextureHeight = 64;
    RwImage *read = RwImageReadPng("wide.png");
    RwTexture *texture = RwTextureRead("wide", nullptr);
    rwD3D9Driver.caps.MaxTextureWidth = width;
    rwD3D9Driver.caps.MaxTextureHeight = height;
    RwFileSystemManagerClose();
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->width, 100);
    RwImageDestroy(read);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->raster->width, 64);
    EXPECT_EQ(texture->raster->height, 8);
    EXPECT_TRUE(NearRGB(DrawTexel(texture->raster, 63, 7), colour, 2));
    RwTextureDestroy(texture);
}

TEST_F(DeviceRaster, ImagesOfOtherDepthsWriteNothing)
{
    RwInt32 w, h, depth, format;
    RwImage *green = MakeImage(4, 4, 255);
    const RwRGBA greenColour = {0, 255, 0, 255};
    for (RwInt32 y = 0; y < 4; y++)
        for (RwInt32 x = 0; x < 4; x++)
            std::memcpy(green->cpPixels + y * green->stride + 4 * x, &greenColour, 4);
    for (RwInt32 imageDepth : {24, 16, 2, 1}) {
        RwImage *odd = RwImageCreate(4, 4, imageDepth);
        ASSERT_NE(RwImageAllocatePixels(odd), nullptr);
        ASSERT_EQ(odd->palette, nullptr);
        std::memset(odd->cpPixels, 0x80, static_cast<size_t>(odd->stride) * 4);
        EXPECT_EQ(RwD3D9ImageFindFormat(odd), rwRASTERFORMAT888) << imageDepth;
        for (RwInt32 type : {rwRASTERTYPETEXTURE, rwRASTERTYPENORMAL}) {
            ASSERT_NE(RwImageFindRasterFormat(odd, type, &w, &h, &depth, &format), nullptr) << imageDepth;
            EXPECT_EQ(format, type | rwRASTERFORMAT888) << imageDepth;
            EXPECT_EQ(depth, 32);
        }
        struct Row {
            RwInt32 code;
            RwUInt8 alphaFlag;
        } rows[] = {{rwRASTERFORMAT888, 1}, {rwRASTERFORMAT565, 0}, {rwRASTERFORMATLUM8, 0}};
        for (const Row &r : rows) {
            RwRaster *raster = RwRasterCreate(4, 4, 0, rwRASTERTYPETEXTURE | r.code);
            ASSERT_NE(raster, nullptr);
            ASSERT_NE(RwRasterSetFromImage(raster, green), nullptr);
            const DWORD before = DrawTexel(raster, 2, 1);
            EXPECT_NE(RwRasterSetFromImage(raster, odd), nullptr) << imageDepth << " " << std::hex << r.code;
            EXPECT_EQ(RwD3D9RasterGetExtension(raster)->alpha, r.alphaFlag) << imageDepth << " " << std::hex << r.code;
            EXPECT_EQ(DrawTexel(raster, 2, 1), before) << imageDepth << " " << std::hex << r.code;
            EXPECT_EQ(raster->privateFlags, 0);
            RwRasterDestroy(raster);
        }
        RwImageDestroy(odd);
    }
    RwImageDestroy(green);
}

// A normal raster asked for with a colour code takes the code the image
// chooses, as a texture does: the two codes are not combined into a third.
TEST_F(DeviceRaster, NormalRastersTakeTheColourCodeTheImageChooses)
{
    RwInt32 w, h, depth, format;
    struct Row {
        RwUInt8 alpha;
        RwInt32 requested;
        RwInt32 chosen;
    } rows[] = {
        {255, rwRASTERFORMAT8888, rwRASTERFORMAT888},
        {128, rwRASTERFORMAT888, rwRASTERFORMAT8888},
        {255, rwRASTERFORMAT565 | rwRASTERFORMATMIPMAP, rwRASTERFORMAT888},
        {255, rwRASTERFORMATPAL8 | rwRASTERFORMAT8888, rwRASTERFORMAT888},
    };
    for (const Row &r : rows) {
        RwImage *image = MakeImage(8, 8, r.alpha);
        ASSERT_NE(RwImageFindRasterFormat(image, rwRASTERTYPENORMAL | r.requested, &w, &h, &depth, &format),
                  nullptr);
        EXPECT_EQ(format, rwRASTERTYPENORMAL | r.chosen) << std::hex << r.requested;
        EXPECT_EQ(depth, 32) << std::hex << r.requested;
        RwRaster *raster = RwRasterCreate(w, h, depth, format);
        ASSERT_NE(raster, nullptr) << std::hex << r.requested;
        EXPECT_EQ(RwD3D9RasterGetExtension(raster)->d3dFormat,
                  r.chosen == rwRASTERFORMAT888 ? D3DFMT_X8R8G8B8 : D3DFMT_A8R8G8B8);
        EXPECT_NE(RwRasterSetFromImage(raster, image), nullptr) << std::hex << r.requested;
        EXPECT_TRUE(NearRGB(DrawTexel(raster, 5, 3), Colour(5, 3), 0)) << std::hex << r.requested;
        RwRasterDestroy(raster);
        RwImageDestroy(image);
    }
}

// Palettised images give a camera texture the true-colour code of their
// palette: a render target holds no palette indices.
TEST_F(DeviceRaster, CameraTexturesFromPalettisedImagesHoldTrueColour)
{
    RwInt32 w, h, depth, format;
    for (RwInt32 imageDepth : {8, 4}) {
        for (RwUInt8 alpha : {255, 128}) {
            RwImage *indexed = RwImageCreate(8, 8, imageDepth);
            ASSERT_NE(RwImageAllocatePixels(indexed), nullptr);
            for (RwInt32 i = 0; i < (1 << imageDepth); i++)
                indexed->palette[i] = {static_cast<RwUInt8>(i * 16), 0x40, 0x80, alpha};
            for (RwInt32 y = 0; y < 8; y++)
                for (RwInt32 x = 0; x < 8; x++)
                    indexed->cpPixels[y * indexed->stride + x] = static_cast<RwUInt8>(x + y);
            ASSERT_NE(RwImageFindRasterFormat(indexed, rwRASTERTYPECAMERATEXTURE, &w, &h, &depth, &format), nullptr);
            const RwInt32 code = alpha == 255 ? rwRASTERFORMAT888 : rwRASTERFORMAT8888;
            EXPECT_EQ(format, rwRASTERTYPECAMERATEXTURE | code) << imageDepth << " " << int(alpha);
            EXPECT_EQ(depth, 32) << imageDepth;
            RwRaster *raster = RwRasterCreate(w, h, depth, format);
            ASSERT_NE(raster, nullptr) << imageDepth << " " << std::hex << format;
            EXPECT_NE(RwRasterSetFromImage(raster, indexed), nullptr) << imageDepth;
            EXPECT_TRUE(NearRGB(DrawTexel(raster, 5, 2), indexed->palette[7], 0)) << imageDepth;
            RwRasterDestroy(raster);
            RwImageDestroy(indexed);
        }
    }
}

TEST_F(DeviceRaster, CameraTexturesLockThroughSystemMemoryCopies)
{
    RwRaster *target = RwRasterCreate(32, 32, 0, rwRASTERTYPECAMERATEXTURE | rwRASTERFORMAT888);
    ASSERT_NE(target, nullptr);
    IDirect3DSurface9 *surface = RwD3D9RasterGetTextureSurface(target);
    ASSERT_NE(surface, nullptr);
    rwD3D9Driver.device->ColorFill(surface, nullptr, 0xFF102030);
    surface->Release();

    // A written sub-raster goes back to its own rectangle only.
    RwRaster *part = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERATEXTURE | rwRASTERDONTALLOCATE);
    RwRect rect = {8, 4, 8, 8};
    ASSERT_NE(RwRasterMakeSubRaster(part, target, &rect), nullptr);
    RwUInt8 *pixels = RwRasterLock(part, 0, rwRASTERLOCKWRITE);
    ASSERT_NE(pixels, nullptr);
    for (RwInt32 y = 0; y < 8; y++)
        for (RwInt32 x = 0; x < 8; x++)
            reinterpret_cast<RwUInt32 *>(pixels + y * part->stride)[x] = 0xFFC08040;
    RwRasterUnlock(part);

    pixels = RwRasterLock(target, 0, rwRASTERLOCKREAD);
    ASSERT_NE(pixels, nullptr);
    auto at = [&](int x, int y) { return reinterpret_cast<RwUInt32 *>(pixels + y * target->stride)[x] & 0xFFFFFF; };
    EXPECT_EQ(at(8, 4), 0xC08040u);
    EXPECT_EQ(at(15, 11), 0xC08040u);
    EXPECT_EQ(at(7, 4), 0x102030u);
    EXPECT_EQ(at(16, 11), 0x102030u);
    EXPECT_EQ(at(8, 12), 0x102030u);
    RwRasterUnlock(target);
    RwRasterDestroy(part);
    RwRasterDestroy(target);
}

TEST_F(DeviceRaster, DestroyedRastersAreUnboundAndForgotten)
{
    RwRaster *raster = RwRasterCreate(8, 8, 0, rwRASTERTYPETEXTURE);
    ASSERT_NE(raster, nullptr);
    RwRaster *other = RwRasterCreate(8, 8, 0, rwRASTERTYPETEXTURE);
    ASSERT_TRUE(RwD3D9SetTextureRaster(raster, 0));
    ASSERT_TRUE(RwD3D9SetTextureRaster(raster, 3));
    ASSERT_TRUE(RwD3D9SetTextureRaster(other, 1));
    ASSERT_NE(RwRasterPushContext(raster), nullptr);
    RwRasterDestroy(raster);
    EXPECT_EQ(RwD3D9GetTextureRaster(0), nullptr);
    EXPECT_EQ(RwD3D9GetTextureRaster(3), nullptr);
    EXPECT_EQ(RwD3D9GetTextureRaster(1), other);
    EXPECT_EQ(RwD3D9GetRasterContext(), nullptr);
    IDirect3DBaseTexture9 *bound = reinterpret_cast<IDirect3DBaseTexture9 *>(1);
    rwD3D9Driver.device->GetTexture(0, &bound);
    EXPECT_EQ(bound, nullptr);
    RwRasterPopContext();

    // A sub-raster binds its parent's texture.
    RwRaster *sub = RwRasterCreate(0, 0, 0, rwRASTERDONTALLOCATE | rwRASTERTYPETEXTURE);
    RwRect rect = {2, 2, 4, 4};
    ASSERT_NE(RwRasterMakeSubRaster(sub, other, &rect), nullptr);
    ASSERT_TRUE(RwD3D9SetTextureRaster(sub, 2));
    rwD3D9Driver.device->GetTexture(2, &bound);
    EXPECT_EQ(bound, RwD3D9RasterGetExtension(other)->texture);
    if (bound)
        bound->Release();
    RwRasterDestroy(sub);
    RwD3D9SetTextureRaster(nullptr, 1);
    RwRasterDestroy(other);

    // A sub-raster bound when its parent goes is unbound with it.
    RwRaster *parent = RwRasterCreate(8, 8, 0, rwRASTERTYPETEXTURE);
    sub = RwRasterCreate(0, 0, 0, rwRASTERDONTALLOCATE | rwRASTERTYPETEXTURE);
    ASSERT_NE(RwRasterMakeSubRaster(sub, parent, &rect), nullptr);
    ASSERT_TRUE(RwD3D9SetTextureRaster(sub, 4));
    RwRasterDestroy(parent);
    EXPECT_EQ(RwD3D9GetTextureRaster(4), nullptr);
    bound = reinterpret_cast<IDirect3DBaseTexture9 *>(1);
    rwD3D9Driver.device->GetTexture(4, &bound);
    EXPECT_EQ(bound, nullptr);
    RwRasterDestroy(sub);

    // A bound sub-raster made again on another parent is unbound: the old
    // parent's texture leaves the device, also once that parent is gone, and
    // the next set binds the new parent's.
    auto held = [](DWORD stage) {
        IDirect3DBaseTexture9 *texture = nullptr;
        rwD3D9Driver.device->GetTexture(stage, &texture);
        if (texture)
            texture->Release();
        return static_cast<void *>(texture);
    };
    RwRaster *first = RwRasterCreate(8, 8, 0, rwRASTERTYPETEXTURE);
    RwRaster *second = RwRasterCreate(8, 8, 0, rwRASTERTYPETEXTURE);
    sub = RwRasterCreate(0, 0, 0, rwRASTERDONTALLOCATE | rwRASTERTYPETEXTURE);
    ASSERT_NE(RwRasterMakeSubRaster(sub, first, &rect), nullptr);
    ASSERT_TRUE(RwD3D9SetTextureRaster(sub, 5));
    ASSERT_NE(RwRasterMakeSubRaster(sub, second, &rect), nullptr);
    EXPECT_EQ(held(5), nullptr);
    RwRasterDestroy(first);
    EXPECT_EQ(held(5), nullptr);
    ASSERT_TRUE(RwD3D9SetTextureRaster(sub, 5));
    EXPECT_EQ(held(5), RwD3D9RasterGetExtension(second)->texture);
    RwRasterDestroy(sub);
    RwRasterDestroy(second);

    // Freed palette numbers are handed out again, last freed first.
    RwD3D9Palette *a = RwD3D9PaletteCreate(), *b = RwD3D9PaletteCreate();
    ASSERT_TRUE(a && b);
    RwUInt32 na = a->number, nb = b->number;
    EXPECT_NE(na, nb);
    RwD3D9PaletteDestroy(a);
    RwD3D9PaletteDestroy(b);
    RwD3D9Palette *c = RwD3D9PaletteCreate(), *d = RwD3D9PaletteCreate();
    EXPECT_EQ(c->number, nb);
    EXPECT_EQ(d->number, na);
    RwD3D9PaletteDestroy(c);
    RwD3D9PaletteDestroy(d);
}

// Default-pool objects are given up before a reset and made again after it;
// managed textures keep their pixels.
TEST_F(DeviceRaster, ResetRebuildsDefaultPoolObjects)
{
    RwRaster *target = RwRasterCreate(32, 32, 0, rwRASTERTYPECAMERATEXTURE);
    RwRaster *depthTexture = RwD3D9RasterCreateFromD3DFormat(32, 32, D3DFMT_D24S8, rwRASTERTYPETEXTURE);
    RwRaster *z = RwRasterCreate(48, 48, 0, rwRASTERTYPEZBUFFER);
    RwRaster *windowZ = RwRasterCreate(1024, 768, 0, rwRASTERTYPEZBUFFER);
    RwRaster *managed = RwRasterCreate(8, 8, 0, rwRASTERTYPETEXTURE | rwRASTERFORMAT888);
    ASSERT_TRUE(target && depthTexture && z && windowZ && managed);
    EXPECT_EQ(RwD3D9RasterGetExtension(windowZ)->texture, rwD3D9Driver.defaultDepthSurface);
    RwImage *image = MakeImage(8, 8);
    ASSERT_NE(RwRasterSetFromImage(managed, image), nullptr);
    void *managedTexture = RwD3D9RasterGetExtension(managed)->texture;

    ASSERT_TRUE(RwD3D9ReleaseDeviceResources());
    EXPECT_EQ(RwD3D9RasterGetExtension(target)->texture, nullptr);
    EXPECT_EQ(RwD3D9RasterGetExtension(depthTexture)->texture, nullptr);
    EXPECT_EQ(RwD3D9RasterGetExtension(z)->texture, nullptr);
    // With every default-pool object gone the device resets.
    ASSERT_EQ(rwD3D9Driver.device->Reset(&rwD3D9Driver.present), D3D_OK);
    ASSERT_TRUE(RwD3D9RestoreDeviceResources());

    EXPECT_NE(RwD3D9RasterGetExtension(target)->texture, nullptr);
    EXPECT_NE(RwD3D9RasterGetExtension(depthTexture)->texture, nullptr);
    EXPECT_NE(RwD3D9RasterGetExtension(z)->texture, nullptr);
    EXPECT_EQ(RwD3D9RasterGetExtension(windowZ)->texture, rwD3D9Driver.defaultDepthSurface);
    EXPECT_EQ(RwD3D9RasterGetExtension(managed)->texture, managedTexture);
    EXPECT_TRUE(NearRGB(DrawTexel(managed, 3, 6), Colour(3, 6), 0));
    for (RwRaster *r : {target, depthTexture, z, windowZ, managed})
        RwRasterDestroy(r);
    RwImageDestroy(image);
}

// A reset to a back buffer twice the 1024 x 768 client size the raster was
// checked against doubles a camera raster of the device window (whatever the
// mode says by then); a camera on a second window gets a new swap chain; both
// lock for reading what their back buffers hold.
TEST_F(DeviceRaster, ResetScalesCameraRastersAndRebuildsSwapChains)
{
    RwD3D9Driver &d = rwD3D9Driver;
    HWND second = KivTestCreateWindow(320, 240, "KivD3D9Second");
    ASSERT_NE(second, nullptr);
    RwCamera *camera = RwCameraCreate();
    ASSERT_TRUE(RwD3D9CameraCreateSwapChain(camera, second));
    RwRaster *small = RwRasterCreate(320, 240, 0, rwRASTERTYPECAMERA);
    ASSERT_NE(small, nullptr);
    const D3DPRESENT_PARAMETERS present = d.present;
    const RwD3D9DisplayMode mode = d.displayMode;
    auto reset = [&]() {
        return RwD3D9ReleaseDeviceResources() && d.device->Reset(&d.present) == D3D_OK &&
               RwD3D9RestoreDeviceResources();
    };
    d.displayMode.width = 640;
    d.displayMode.height = 480;
    d.present.BackBufferWidth = 2048;
    d.present.BackBufferHeight = 1536;
    ASSERT_TRUE(reset());
    EXPECT_EQ(small->width, 640);
    EXPECT_EQ(small->height, 480);

    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(camera->frameBuffer);
    ASSERT_NE(ext->swapChain, nullptr);
    ASSERT_NE(ext->texture, nullptr);
    ASSERT_EQ(real->ColorFill(static_cast<IDirect3DSurface9 *>(ext->texture), nullptr, 0xFF00FF00), D3D_OK);
    ASSERT_EQ(real->ColorFill(d.defaultColorSurface, nullptr, 0xFF0000FF), D3D_OK);
    struct Read {
        RwRaster *raster;
        RwInt32 x, y;
        RwUInt32 rgb;
    } reads[] = {{camera->frameBuffer, 319, 239, 0x00FF00}, {small, 639, 479, 0x0000FF}};
    for (const Read &r : reads) {
        RwUInt8 *p = RwRasterLock(r.raster, 0, rwRASTERLOCKREAD);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<RwUInt32 *>(p + r.y * r.raster->stride)[r.x] & 0xFFFFFF, r.rgb);
        RwRasterUnlock(r.raster);
    }

    d.present = present;
    d.displayMode = mode;
    EXPECT_TRUE(reset());
    RwRasterDestroy(small);
    RwRasterDestroy(camera->frameBuffer);
    RwRasterDestroy(camera->zBuffer);
    camera->frameBuffer = camera->zBuffer = nullptr;
    RwCameraDestroy(camera);
    DestroyWindow(second);
}

// Writing level 0 of a raster with the automatic mip-map bit regenerates the
// lower levels once; reading it does not.
TEST_F(DeviceRaster, WrittenLevelZeroRegeneratesLowerLevels)
{
    RwRaster *raster = RwRasterCreate(16, 16, 0, rwRASTERTYPETEXTURE | rwRASTERFORMAT888 | rwRASTERFORMATMIPMAP);
    ASSERT_NE(raster, nullptr);
    // Made without device mip-maps, so that the library makes the levels.
    raster->cFormat |= rwRASTERFORMATAUTOMIPMAP >> 8;
    ASSERT_EQ(RwD3D9RasterGetExtension(raster)->automipmapCompressed & 0x0F, 0);
    static int generated;
    generated = 0;
    RwTextureSetMipmapGenerationCallback([](RwRaster *r, RwImage *i) -> RwBool {
        generated++;
        return RwTextureDefaultGenerateMipmaps(r, i);
    });
    RwImage *image = MakeImage(16, 16, 255);
    for (RwInt32 y = 0; y < 16; y++)
        for (RwInt32 x = 0; x < 16; x++)
            std::memcpy(image->cpPixels + y * image->stride + 4 * x, "\xC0\x40\x20\xFF", 4);
    ASSERT_NE(RwRasterSetFromImage(raster, image), nullptr);
    EXPECT_EQ(generated, 1);
    RwUInt8 *level2 = RwRasterLock(raster, 2, rwRASTERLOCKREAD);
    ASSERT_NE(level2, nullptr);
    EXPECT_EQ(reinterpret_cast<RwUInt32 *>(level2)[3] & 0xFFFFFF, 0xC04020u);
    RwRasterUnlock(raster);
    ASSERT_NE(RwRasterLock(raster, 0, rwRASTERLOCKREAD), nullptr);
    RwRasterUnlock(raster);
    EXPECT_EQ(generated, 1);
    RwTextureSetMipmapGenerationCallback(nullptr);
    RwImageDestroy(image);
    RwRasterDestroy(raster);
}

// On a 16-bit display the choices fall back to 16-bit formats.
TEST_F(DeviceRaster, SixteenBitDisplayChoosesSixteenBitFormats)
{
    RwInt32 saved = rwD3D9Driver.displayMode.depth;
    rwD3D9Driver.displayMode.depth = 16;
    struct Row {
        RwUInt8 alpha;
        RwInt32 format;
    } rows[] = {{255, rwRASTERFORMAT565}, {0, rwRASTERFORMAT1555}, {128, rwRASTERFORMAT4444}};
    for (const Row &r : rows) {
        RwImage *image = MakeImage(4, 4, r.alpha);
        EXPECT_EQ(RwD3D9ImageFindFormat(image), r.format) << int(r.alpha);
        RwImageDestroy(image);
    }
    // Translucent render targets narrow to what the device can draw into.
    RwInt32 translucent = RwD3D9CheckRenderTargetFormat(D3DFMT_A4R4G4B4)   ? rwRASTERFORMAT4444
                          : RwD3D9CheckRenderTargetFormat(D3DFMT_A1R5G5B5) ? rwRASTERFORMAT1555
                                                                           : rwRASTERFORMAT565;
    EXPECT_EQ(RwD3D9RasterFindSupportedFormat(rwRASTERTYPECAMERATEXTURE, rwRASTERFORMAT8888), translucent);
    EXPECT_EQ(RwD3D9RasterFindSupportedFormat(rwRASTERTYPECAMERATEXTURE, rwRASTERFORMAT888), rwRASTERFORMAT565);
    EXPECT_EQ(RwD3D9RasterFindSupportedFormat(rwRASTERTYPECAMERATEXTURE, 0), rwRASTERFORMAT565);
    RwRaster *raster = RwRasterCreate(8, 8, 0, rwRASTERTYPETEXTURE);
    ASSERT_NE(raster, nullptr);
    EXPECT_EQ(raster->cFormat, rwRASTERFORMAT4444 >> 8);
    EXPECT_EQ(raster->depth, 16);
    RwRasterDestroy(raster);
    rwD3D9Driver.displayMode.depth = saved;
}
