// Tests of native texture chunks: sizes, hand-assembled bytes, round trips and hostile input.
#include <gtest/gtest.h>

#include <cstring>

#include "d3d9drawtexture.h"
#include "d3d9testdevice.h"
#include "gfx/core/counting_extension.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9nativetexture.h"
#include "support/stream_bytes.h"

namespace {

class NativeTexture : public StartedDevice {
protected:
    // Rasters are counted through an extension, so that a refused chunk shows any raster it leaves.
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(RwEngineInit(nullptr, 0, 0x400000));
        counting::offset = RwRasterRegisterPlugin(4, 0xFFF0, counting::Construct, counting::Destruct, counting::Copy);
        ASSERT_GE(counting::offset, 0);
        StartedDevice::SetUpTestSuite();
    }
};

RwUInt32 Size(RwTexture *texture)
{
    RwUInt32 size = 0;
    EXPECT_TRUE(RwD3D9NativeTextureGetSize(&size, texture, 0));
    return size;
}

Bytes Write(RwTexture *texture)
{
    return WrittenWith([&](RwStream *s) { return RwD3D9NativeTextureWrite(s, texture, 0); });
}

RwTexture *Read(Bytes &bytes, size_t n = static_cast<size_t>(-1))
{
    return ReadWith(bytes, [](RwStream *s) {
        RwTexture *texture = nullptr;
        return RwD3D9NativeTextureRead(s, &texture, 0) ? texture : nullptr;
    }, n);
}

// The 72- and 16-byte blocks, as the chunk layout gives them.
Bytes Blocks(RwUInt32 sampling, const char *name, RwUInt32 format, RwUInt32 d3dFormat, int w, int h, int depth,
             int levels, int type, int flags)
{
    Build b;
    b.U32(9).U32(sampling);
    char field[64] = {};
    std::strncpy(field, name, 32);
    b.Text(field, 64);
    b.U32(format).U32(d3dFormat);
    b.U32(static_cast<RwUInt32>(w | h << 16));
    b.U32(static_cast<RwUInt32>(depth | levels << 8 | type << 16 | flags << 24));
    return b;
}

Bytes Chunk(const Bytes &body, RwUInt32 stamp = 0x1C020055)
{
    Bytes bytes = Build().Header(1, static_cast<RwUInt32>(body.size()), stamp);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

// Every byte of every level of every face, read through locks.
Bytes Pixels(RwRaster *raster, int faces)
{
    Bytes all;
    for (int face = 0; face < faces; face++) {
        RwD3D9RasterGetExtension(raster)->cube = static_cast<RwUInt8>((face << 4) | (faces > 1));
        for (int level = 0; level < RwRasterGetNumLevels(raster); level++) {
            RwUInt8 *p = RwRasterLock(raster, static_cast<RwUInt8>(level), rwRASTERLOCKREAD);
            EXPECT_NE(p, nullptr);
            if (p == nullptr)
                continue;
            int rows = RwD3D9RasterIsCompressed(raster) ? (raster->height + 3) / 4 : raster->height;
            all.insert(all.end(), p, p + rows * raster->stride);
            RwRasterUnlock(raster);
        }
    }
    RwD3D9RasterGetExtension(raster)->cube &= 0x0F;
    return all;
}

// Fills every level with bytes that differ from level to level and row to row.
void Fill(RwRaster *raster)
{
    for (int level = 0; level < RwRasterGetNumLevels(raster); level++) {
        RwUInt8 *p = RwRasterLock(raster, static_cast<RwUInt8>(level), rwRASTERLOCKWRITE);
        ASSERT_NE(p, nullptr);
        int rows = RwD3D9RasterIsCompressed(raster) ? (raster->height + 3) / 4 : raster->height;
        for (int i = 0; i < rows * raster->stride; i++)
            p[i] = static_cast<RwUInt8>(i * 7 + level * 31);
        RwRasterUnlock(raster);
    }
}

} // namespace

TEST_F(NativeTexture, SizesCountHeaderBlocksAndEveryLevel)
{
    RwTexture *empty = RwTextureCreate(nullptr);
    EXPECT_EQ(Size(empty), 84u);
    RwTextureDestroy(empty);

    RwRaster *raster = RwRasterCreate(64, 64, 0, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888 | rwRASTERFORMATMIPMAP);
    ASSERT_NE(raster, nullptr);
    RwTexture *texture = RwTextureCreate(raster);
    EXPECT_EQ(Size(texture), 100u + 7 * 4 + 21844);
    RwTextureDestroy(texture);

    // Partial block rows count whole: 8 x 8 DXT1 levels hold 2, 1, 1 and 1 block rows.
    RwRaster *dxt = RwD3D9RasterCreateFromD3DFormat(8, 8, D3DFMT_DXT1, rwRASTERTYPETEXTURE | rwRASTERFORMATMIPMAP);
    ASSERT_NE(dxt, nullptr);
    texture = RwTextureCreate(dxt);
    EXPECT_EQ(Size(texture), 100u + 4 * 4 + 2 * 16 + 8 + 8 + 8);
    RwTextureDestroy(texture);
}

TEST_F(NativeTexture, WrittenBytesFollowTheLayoutAndReadBack)
{
    RwRaster *raster = RwRasterCreate(64, 64, 0, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888 | rwRASTERFORMATMIPMAP);
    ASSERT_NE(raster, nullptr);
    Fill(raster);
    RwTexture *texture = RwTextureCreate(raster);
    RwTextureSetName(texture, "brick");
    RwTextureSetMaskName(texture, "brickmask");
    texture->filterMode = rwFILTERLINEARMIPLINEAR;
    texture->addressing = rwTEXTUREADDRESSCLAMP | rwTEXTUREADDRESSWRAP << 4;
    Bytes bytes = Write(texture);
    ASSERT_EQ(bytes.size(), Size(texture));

    Bytes want = Build().Header(1, static_cast<RwUInt32>(bytes.size() - 12));
    Build body;
    body.U32(9).U32(0x1306).Text("brick\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 32);
    body.Text("brickmask\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 32);
    body.U32(0x8500).U32(21).U32(64 | 64 << 16).U32(32 | 7 << 8 | 4 << 16 | 1 << 24).U32(64 * 256);
    want.insert(want.end(), body.bytes.begin(), body.bytes.end());
    ASSERT_GE(bytes.size(), want.size());
    EXPECT_TRUE(std::equal(want.begin(), want.end(), bytes.begin()));

    RwTexture *back = Read(bytes);
    ASSERT_NE(back, nullptr);
    EXPECT_STREQ(back->name, "brick");
    EXPECT_STREQ(back->mask, "brickmask");
    EXPECT_EQ(back->filterMode, rwFILTERLINEARMIPLINEAR);
    EXPECT_EQ(back->addressing, texture->addressing);
    EXPECT_EQ(back->raster->cFormat, raster->cFormat);
    EXPECT_EQ(RwD3D9RasterGetExtension(back->raster)->alpha, 1);
    EXPECT_EQ(Pixels(back->raster, 1), Pixels(raster, 1));
    EXPECT_EQ(Write(back), bytes);
    RwTextureDestroy(back);
    RwTextureDestroy(texture);
}

// Block-compressed and cube textures come back level for level and face for face.
TEST_F(NativeTexture, CompressedAndCubeTexturesRoundTrip)
{
    RwRaster *dxt = RwD3D9RasterCreateFromD3DFormat(8, 8, D3DFMT_DXT5, rwRASTERTYPETEXTURE | rwRASTERFORMATMIPMAP);
    ASSERT_NE(dxt, nullptr);
    Fill(dxt);
    RwTexture *texture = RwTextureCreate(dxt);
    Bytes bytes = Write(texture);
    RwTexture *back = Read(bytes);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(RwD3D9RasterIsCompressed(back->raster));
    EXPECT_EQ(RwD3D9RasterGetExtension(back->raster)->d3dFormat, D3DFMT_DXT5);
    EXPECT_EQ(Pixels(back->raster, 1), Pixels(dxt, 1));
    RwTextureDestroy(back);
    RwTextureDestroy(texture);

    // A 4 x 4 A8R8G8B8 cube: six faces of one level, each face its own colour.
    Build cube;
    Bytes blocks = Blocks(0x1102, "sky", rwRASTERFORMAT8888, 21, 4, 4, 32, 1, 4, 0x03);
    cube.bytes = blocks;
    for (int face = 0; face < 6; face++) {
        cube.U32(64);
        for (int i = 0; i < 16; i++)
            cube.U32(0xFF000000u | static_cast<RwUInt32>(face * 40) << 16 | static_cast<RwUInt32>(i));
    }
    Bytes cubeBytes = Chunk(cube.bytes);
    back = Read(cubeBytes);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(RwD3D9RasterIsCubeMap(back->raster));
    Bytes faces = Pixels(back->raster, 6);
    ASSERT_EQ(faces.size(), 6u * 64);
    EXPECT_EQ(faces[5 * 64 + 2], 200);   // red of face 5
    EXPECT_EQ(faces[5 * 64 + 4], 1);     // blue of its second pixel
    EXPECT_EQ(Write(back), cubeBytes);
    RwTextureDestroy(back);
}

// Formats the device has no textures for arrive as A8R8G8B8 with the same colours.
TEST_F(NativeTexture, PalettisedAndMissingFormatsAreExpanded)
{
    Build p8;
    p8.bytes = Blocks(0x0001, "pal", rwRASTERFORMATPAL8 | rwRASTERFORMAT8888, 41, 4, 2, 8, 1, 4, 0x01);
    for (int i = 0; i < 256; i++)
        p8.U32(static_cast<RwUInt32>(i | (255 - i) << 8 | 7 << 16 | (128 + i / 2) << 24));
    p8.U32(8).Text("\x00\x01\x02\x03\xFA\xFB\xFC\xFF", 8);
    Bytes bytes = Chunk(p8.bytes);
    RwTexture *texture = Read(bytes);
    ASSERT_NE(texture, nullptr);
    RwRaster *raster = texture->raster;
    EXPECT_EQ(RwD3D9RasterGetExtension(raster)->d3dFormat, D3DFMT_A8R8G8B8);
    EXPECT_EQ(RwD3D9RasterGetExtension(raster)->alpha, 1);
    RwUInt8 *p = RwRasterLock(raster, 0, rwRASTERLOCKREAD);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<RwUInt32 *>(p)[2], 0x8102FD07u);  // entry 2: a 129, r 2, g 253, b 7
    EXPECT_EQ(reinterpret_cast<RwUInt32 *>(p + raster->stride)[3], 0xFFFF0007u);
    RwRasterUnlock(raster);
    EXPECT_TRUE(NearRGB(DrawTexel(raster, 1, 1), {251, 4, 7, 255}, 1));
    RwTextureDestroy(texture);

    // 24-bit pixels stored with a padded pitch of 8 bytes a row.
    Build rgb;
    rgb.bytes = Blocks(0x0001, "rgb", 0, 20, 2, 2, 24, 1, 4, 0x00);
    rgb.U32(16).Text("\x10\x20\x30\x40\x50\x60\0\0\x70\x80\x90\xA0\xB0\xC0\0\0", 16);
    bytes = Chunk(rgb.bytes);
    texture = Read(bytes);
    ASSERT_NE(texture, nullptr);
    EXPECT_TRUE(NearRGB(DrawTexel(texture->raster, 1, 0), {0x60, 0x50, 0x40, 255}, 1));
    EXPECT_TRUE(NearRGB(DrawTexel(texture->raster, 0, 1), {0x90, 0x80, 0x70, 255}, 1));
    EXPECT_EQ(RwD3D9RasterGetExtension(texture->raster)->alpha, 0);
    RwTextureDestroy(texture);
}

TEST_F(NativeTexture, MalformedChunksAreRefusedWithoutLeaks)
{
    Build good;
    good.bytes = Blocks(0x0001, "0123456789abcdef0123456789abcdef", rwRASTERFORMAT8888, 21, 2, 2, 32, 1, 4, 0x01);
    good.U32(16).Text("abcdefghijklmnop", 16);
    Bytes bytes = Chunk(good.bytes);
    RwTexture *texture = Read(bytes);
    ASSERT_NE(texture, nullptr);
    // A name that fills its field is cut, never read past.
    EXPECT_EQ(std::strlen(texture->name), 31u);
    RwTextureDestroy(texture);
    const int live = counting::live;

    for (size_t n = 0; n < bytes.size(); n++)
        EXPECT_EQ(Read(bytes, n), nullptr) << n;

    struct Case {
        const char *what;
        size_t offset;     // into the chunk
        RwUInt32 value;
    } cases[] = {
        {"platform 8", 12, 8},
        {"version below", 8, RwChunkVersionStamp(0x34FFF, 0x55)},
        {"version above", 8, RwChunkVersionStamp(0x37003, 0x55)},
        {"hardware mip-maps the raster lacks", 12 + 84, 0x05040120},
        {"level count zero", 12 + 84, 0x01040020},
        {"count beyond the stream", 12 + 88, 0xFFFFFFF0},
        {"count not whole rows", 12 + 88, 15},
        {"zero width", 12 + 80, 0x00020000},
    };
    for (const Case &c : cases) {
        Bytes bad = bytes;
        for (int i = 0; i < 4; i++)
            bad[c.offset + i] = static_cast<unsigned char>(c.value >> (8 * i));
        EXPECT_EQ(Read(bad), nullptr) << c.what;
    }
    EXPECT_EQ(counting::live, live);
}

// A camera texture (type 5) is filled through a render target: a chunk that
// also claims a cube or block compression, which only managed textures have,
// is refused rather than read into a texture whose pixels never arrive.
TEST_F(NativeTexture, CameraTexturesThatClaimCubesOrCompressionAreRefused)
{
    auto chunk = [](RwUInt32 format, RwUInt32 d3dFormat, int type, int flags, int faces, RwUInt32 count) {
        Build b;
        b.bytes = Blocks(0x0001, "target", format, d3dFormat, 4, 4, 32, 1, type, flags);
        for (int face = 0; face < faces; face++) {
            b.U32(count);
            for (RwUInt32 i = 0; i < count; i++)
                b.bytes.push_back(static_cast<unsigned char>(0x40 + i));
        }
        return Chunk(b.bytes);
    };
    const RwUInt32 dxt1 = static_cast<RwUInt32>(D3DFMT_DXT1);
    device->strictCopies = true;
    const int live = counting::live;
    Bytes compressed = chunk(rwRASTERFORMAT565, dxt1, rwRASTERTYPECAMERATEXTURE, 0x08, 1, 8);
    Bytes cube = chunk(rwRASTERFORMAT8888, 21, rwRASTERTYPECAMERATEXTURE, 0x03, 6, 64);
    EXPECT_EQ(Read(compressed), nullptr);
    EXPECT_EQ(Read(cube), nullptr);
    EXPECT_EQ(counting::live, live);

    // The same chunks as ordinary textures load, and so does a plain camera texture.
    Bytes texture = chunk(rwRASTERFORMAT565, dxt1, rwRASTERTYPETEXTURE, 0x08, 1, 8);
    Bytes camera = chunk(rwRASTERFORMAT8888, 21, rwRASTERTYPECAMERATEXTURE, 0x01, 1, 64);
    RwTexture *read = Read(texture);
    ASSERT_NE(read, nullptr);
    EXPECT_TRUE(RwD3D9RasterIsCompressed(read->raster));
    RwTextureDestroy(read);
    read = Read(camera);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(Write(read), camera);   // the pixels reached the texture
    RwTextureDestroy(read);
    EXPECT_EQ("", device->Refusals());

    // A camera texture whose pixels the device does not take back is no texture.
    device->refuseSurfaceUpdates = true;
    EXPECT_EQ(Read(camera), nullptr);
    device->refuseSurfaceUpdates = false;
    EXPECT_EQ(counting::live, live);
}

// An unlock whose written pixels cannot be copied back into the camera
// texture they belong to says so, and still leaves the raster unlocked.
TEST_F(NativeTexture, UnlocksWhoseCopyBackFailsReportIt)
{
    RwRaster *raster = RwRasterCreate(4, 4, 0, rwRASTERTYPECAMERATEXTURE | rwRASTERFORMAT8888);
    ASSERT_NE(raster, nullptr);
    device->refuseSurfaceUpdates = true;
    ASSERT_NE(RwRasterLock(raster, 0, rwRASTERLOCKWRITE), nullptr);
    EXPECT_EQ(RwRasterUnlock(raster), nullptr);
    device->refuseSurfaceUpdates = false;
    ASSERT_NE(RwRasterLock(raster, 0, rwRASTERLOCKWRITE), nullptr);
    EXPECT_EQ(RwRasterUnlock(raster), raster);
    // A lock that only read has nothing to copy back.
    device->refuseSurfaceUpdates = true;
    ASSERT_NE(RwRasterLock(raster, 0, rwRASTERLOCKREAD), nullptr);
    EXPECT_EQ(RwRasterUnlock(raster), raster);
    device->refuseSurfaceUpdates = false;
    RwRasterDestroy(raster);
}

// Every level's count must cover its rows and stay inside the locked level;
// the chunk must hold the levels before any texture is made for them.
TEST_F(NativeTexture, LevelCountsMustFitTheirLevel)
{
    // 2 x 2 A8R8G8B8: rows of 8 bytes.
    auto square = [](RwUInt32 count, RwUInt32 bytes) {
        Build b;
        b.bytes = Blocks(0x0001, "square", rwRASTERFORMAT8888, 21, 2, 2, 32, 1, 4, 0x01);
        b.U32(count);
        for (RwUInt32 i = 0; i < bytes; i++)
            b.bytes.push_back(static_cast<unsigned char>(i));
        return Chunk(b.bytes);
    };
    const int live = counting::live;
    struct Case {
        const char *what;
        RwUInt32 count, bytes;
    } refused[] = {
        {"rows longer than the locked pitch", 32, 32},
        {"rows shorter than their pixels", 8, 8},
    };
    for (const Case &c : refused) {
        Bytes bytes = square(c.count, c.bytes);
        EXPECT_EQ(Read(bytes), nullptr) << c.what;
    }
    EXPECT_EQ(counting::live, live);

    // The blocks, then faces x one level of count bytes.
    auto levels = [](const Bytes &blocks, int faces, RwUInt32 count) {
        Build b;
        b.bytes = blocks;
        for (int face = 0; face < faces; face++) {
            b.U32(count);
            b.bytes.resize(b.bytes.size() + count, 0xAB);
        }
        return Chunk(b.bytes);
    };
    // An 8192 x 8192 header over 8 KB of pixels: no texture is made at all.
    Bytes hugeBytes = levels(Blocks(0x0001, "huge", rwRASTERFORMAT8888, 21, 8192, 8192, 32, 1, 4, 0x01), 1, 8192);
    device->ResetLog();
    EXPECT_EQ(Read(hugeBytes), nullptr);
    EXPECT_EQ(device->Count("CreateTexture"), 0);
    EXPECT_EQ(counting::live, live);

    // Cube faces are square: a 4 x 64 cube would pour 64 rows into faces of 4.
    Bytes tallBytes = levels(Blocks(0x1102, "tall", rwRASTERFORMAT8888, 21, 4, 64, 32, 1, 4, 0x03), 6, 64 * 16);
    device->ResetLog();
    EXPECT_EQ(Read(tallBytes), nullptr);
    EXPECT_EQ(device->Count("CreateCubeTexture"), 0);
    EXPECT_EQ(counting::live, live);

    // A texture's raster is never the screen: a DXT1 "camera" 16 x 4096 would
    // pour 1024 block rows into the 768 rows of the back buffer.
    const RwUInt32 backBuffer = RwD3D9GetPixelFormat(rwD3D9Driver.present.BackBufferFormat).rwFormat;
    Bytes screenBytes = levels(Blocks(0x1102, "screen", backBuffer, static_cast<RwUInt32>(D3DFMT_DXT1), 16, 4096, 16, 1,
                                      rwRASTERTYPECAMERA, 0x08),
                               1, 1024 * 32);
    EXPECT_EQ(Read(screenBytes), nullptr);
    EXPECT_EQ(counting::live, live);
}

// A DXT1 texture 8 x 24 has a third level of 2 x 6, two block rows of one
// block; a file whose count names one of them (pitch x height / 4) loads
// with the missing row cleared, and is written back with the whole count.
TEST_F(NativeTexture, CompressedLevelsOneBlockRowShortStillLoad)
{
    const size_t level2 = 12 + 88 + 4 + 96 + 4 + 24;   // where the third level's count lies
    Build b;
    b.bytes = Blocks(0x0001, "short", rwRASTERFORMAT565 | rwRASTERFORMATMIPMAP, static_cast<RwUInt32>(D3DFMT_DXT1),
                     8, 24, 16, 4, 4, 0x08);
    b.U32(96);
    b.bytes.resize(b.bytes.size() + 96, 0x11);
    b.U32(24);
    b.bytes.resize(b.bytes.size() + 24, 0x22);
    b.U32(8).Text("abcdefgh", 8);
    b.U32(8).Text("ABCDEFGH", 8);
    Bytes bytes = Chunk(b.bytes);
    RwTexture *texture = Read(bytes);
    ASSERT_NE(texture, nullptr);
    Bytes pixels = Pixels(texture->raster, 1);
    ASSERT_EQ(pixels.size(), 96u + 24 + 16 + 8);
    EXPECT_EQ(Bytes(pixels.begin() + 120, pixels.end()), Bytes({'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0, 0, 0, 0,
                                                                 0, 0, 0, 0, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}));
    Bytes written = Write(texture);
    ASSERT_EQ(written.size(), bytes.size() + 8);
    EXPECT_EQ(written[level2], 16);
    RwTextureDestroy(texture);

    // The whole count reads as it stands; other counts do not.
    RwTexture *whole = Read(written);
    EXPECT_NE(whole, nullptr);
    if (whole)
        RwTextureDestroy(whole);
    for (RwUInt32 count : {15u, 17u, 24u}) {
        Bytes bad = written;
        bad[level2] = static_cast<unsigned char>(count);
        EXPECT_EQ(Read(bad), nullptr) << count;
    }
}
