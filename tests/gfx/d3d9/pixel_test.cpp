// Tests of colour packing and unpacking by library format code and by Direct3D format.
#include <gtest/gtest.h>

#include <cstring>

#include "gfx/core/error.h"
#include "gfx/core/raster.h"
#include "gfx/d3d9/d3d9pixel.h"
#include "gfx/d3d9/d3d9raster.h"

namespace {

RwUInt32 Pack(RwRGBA c, RwInt32 format)
{
    RwUInt32 p = 0xDEADBEEF;
    EXPECT_TRUE(RwD3D9RGBToPixel(&p, &c, format)) << std::hex << format;
    return p;
}

RwRGBA Unpack(RwUInt32 p, RwInt32 format)
{
    RwRGBA c = {1, 2, 3, 4};
    EXPECT_TRUE(RwD3D9PixelToRGB(&c, &p, format)) << std::hex << format;
    return c;
}

bool Same(RwRGBA a, RwRGBA b)
{
    return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
}

} // namespace

TEST(PixelFormat, LibraryCodesPackAndUnpackKnownValues)
{
    const RwRGBA orange = {255, 128, 0, 255};
    struct Row {
        RwInt32 format;
        RwUInt32 pixel;
    } rows[] = {
        {rwRASTERFORMAT565, 0xFC00},        {rwRASTERFORMAT4444, 0xFF80},     {rwRASTERFORMAT1555, 0xFE00},
        {rwRASTERFORMAT888, 0xFFFF8000},    {rwRASTERFORMAT8888, 0xFFFF8000}, {rwRASTERFORMATDEFAULT, 0xFFFF8000},
        {rwRASTERFORMAT555, 0x7E00},        {rwRASTERFORMATLUM8, 152},
        // Palette bits play no part in packing.
        {rwRASTERFORMAT565 | rwRASTERFORMATPAL8, 0xFC00},
    };
    for (const Row &r : rows)
        EXPECT_EQ(Pack(orange, r.format), r.pixel) << std::hex << r.format;
    EXPECT_EQ(Pack({200, 100, 50, 128}, rwRASTERFORMATLUM8), 124u * 128 / 255);

    struct Back {
        RwUInt32 pixel;
        RwInt32 format;
        RwRGBA colour;
    } backs[] = {
        {0x7FFF, rwRASTERFORMAT1555, {248, 248, 248, 0}},
        {0xF123, rwRASTERFORMAT4444, {0x10, 0x20, 0x30, 255}},
        {0x8123, rwRASTERFORMAT4444, {0x10, 0x20, 0x30, 0x80}},
        {0x12345678, rwRASTERFORMAT8888, {0x34, 0x56, 0x78, 0x12}},
        {0x12345678, rwRASTERFORMAT888, {0x34, 0x56, 0x78, 255}},
        {0x1234567A, rwRASTERFORMATLUM8, {0x7A, 0x7A, 0x7A, 255}},
        // A palette index passes through unchanged.
        {0x04030201, rwRASTERFORMAT888 | rwRASTERFORMATPAL8, {1, 2, 3, 4}},
    };
    for (const Back &b : backs)
        EXPECT_TRUE(Same(Unpack(b.pixel, b.format), b.colour)) << std::hex << b.pixel << " " << b.format;

    // Codes without a layout are refused with the unsupported-format code.
    RwErrorGet();
    RwUInt32 p = 0;
    RwRGBA c = orange;
    EXPECT_FALSE(RwD3D9RGBToPixel(&p, &c, rwRASTERFORMAT16));
    EXPECT_EQ(static_cast<RwUInt32>(RwErrorGet().errorCode), 0x8000000Du);
    EXPECT_FALSE(RwD3D9PixelToRGB(&c, &p, rwRASTERFORMATDEFAULT));
    EXPECT_EQ(static_cast<RwUInt32>(RwErrorGet().errorCode), 0x8000000Du);
}

// Every 16-bit value that a format can hold survives unpack and pack unchanged,
// through the library codes and through the Direct3D packers alike.
TEST(PixelFormat, EverySixteenBitValueRoundTrips)
{
    struct Row {
        RwInt32 code;
        D3DFORMAT format;
        RwUInt32 unused;   // bits the format ignores
    } rows[] = {
        {rwRASTERFORMAT565, D3DFMT_R5G6B5, 0},
        {rwRASTERFORMAT555, D3DFMT_X1R5G5B5, 0x8000},
        {rwRASTERFORMAT1555, D3DFMT_A1R5G5B5, 0},
        {rwRASTERFORMAT4444, D3DFMT_A4R4G4B4, 0},
        {0, D3DFMT_X4R4G4B4, 0xF000},
        {0, D3DFMT_A8R3G3B2, 0},
        {0, D3DFMT_A8L8, 0},
        {0, D3DFMT_V8U8, 0},
        {0, D3DFMT_L6V5U5, 0},
    };
    for (const Row &r : rows) {
        RwD3D9PixelPacker pack = RwD3D9PixelPackerForFormat(r.format);
        RwD3D9PixelUnpacker unpack = RwD3D9PixelUnpackerForFormat(r.format);
        ASSERT_NE(pack, nullptr);
        ASSERT_NE(unpack, nullptr);
        int failures = 0;
        for (RwUInt32 p = 0; p < 0x10000 && failures < 3; p++) {
            RwUInt32 want = (p & ~r.unused) | (r.unused == 0xF000 ? 0xF000 : 0);
            RwUInt32 got = pack(unpack(p));
            if (got != want) {
                ADD_FAILURE() << std::hex << r.format << " " << p << " -> " << got;
                failures++;
            }
            if (r.code) {
                RwUInt32 viaCode = Pack(Unpack(p, r.code), r.code);
                if (viaCode != want) {
                    ADD_FAILURE() << std::hex << r.code << " " << p << " -> " << viaCode;
                    failures++;
                }
            }
        }
    }
}

// Hand-computed colours of the Direct3D unpackers and packers, and the formats
// that have none.
TEST(PixelFormat, DirectFormatsFollowTheirLayouts)
{
    struct Row {
        D3DFORMAT format;
        RwUInt32 pixel;
        RwRGBA colour;
    } rows[] = {
        {D3DFMT_R3G3B2, 0xB6, {0xA0, 0xA0, 0x80, 255}},
        {D3DFMT_A8, 0x5A, {255, 255, 255, 0x5A}},
        {D3DFMT_A8B8G8R8, 0x11223344, {0x44, 0x33, 0x22, 0x11}},
        {D3DFMT_X8L8V8U8, 0x11223344, {0x44, 0x33, 0x22, 255}},
        {D3DFMT_A4L4, 0xF3, {0x30, 0x30, 0x30, 255}},
        {D3DFMT_A4L4, 0x73, {0x30, 0x30, 0x30, 0x70}},
        {D3DFMT_L16, 0xAB12, {0xAB, 0xAB, 0xAB, 255}},
        {D3DFMT_CxV8U8, 0x1234, {0x34, 0x12, 0, 255}},
    };
    for (const Row &r : rows) {
        RwD3D9PixelUnpacker unpack = RwD3D9PixelUnpackerForFormat(r.format);
        ASSERT_NE(unpack, nullptr) << r.format;
        EXPECT_TRUE(Same(unpack(r.pixel), r.colour)) << r.format;
    }
    EXPECT_EQ(RwD3D9PixelPackerForFormat(D3DFMT_L8)({200, 100, 50, 128}), 124u * 128 / 255);
    EXPECT_EQ(RwD3D9PixelPackerForFormat(D3DFMT_L16)({255, 255, 255, 255}), 255u * 255);
    EXPECT_EQ(RwD3D9PixelPackerForFormat(D3DFMT_A8B8G8R8)({1, 2, 3, 4}), 0x04030201u);
    for (D3DFORMAT none : {D3DFMT_R8G8B8, D3DFMT_R3G3B2, D3DFMT_A4L4, D3DFMT_A2R10G10B10, D3DFMT_D16, D3DFMT_R16F})
        EXPECT_EQ(RwD3D9PixelPackerForFormat(none), nullptr) << none;
    for (D3DFORMAT none : {D3DFMT_R8G8B8, D3DFMT_A2B10G10R10, D3DFMT_G16R16, D3DFMT_R32F})
        EXPECT_EQ(RwD3D9PixelUnpackerForFormat(none), nullptr) << none;
}

// Every depth-stencil format counts as one, the lockable and floating-point ones too.
TEST(PixelFormat, DepthAndBlockFormatsAreRecognised)
{
    for (D3DFORMAT f : {D3DFMT_D16_LOCKABLE, D3DFMT_D32, D3DFMT_D15S1, D3DFMT_D24S8, D3DFMT_D24X8, D3DFMT_D24X4S4,
                        D3DFMT_D16, D3DFMT_D32F_LOCKABLE, D3DFMT_D24FS8})
        EXPECT_TRUE(RwD3D9IsDepthFormat(f)) << f;
    for (D3DFORMAT f : {D3DFMT_L16, D3DFMT_A8R8G8B8, D3DFMT_P8, D3DFMT_DXT1})
        EXPECT_FALSE(RwD3D9IsDepthFormat(f)) << f;
    for (D3DFORMAT f : {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5})
        EXPECT_TRUE(RwD3D9IsCompressedFormat(f)) << f;
    EXPECT_FALSE(RwD3D9IsCompressedFormat(D3DFMT_UYVY));
    EXPECT_FALSE(RwD3D9IsCompressedFormat(D3DFMT_A8R8G8B8));
}
