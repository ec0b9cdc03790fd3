#include "imagetestutil.h"

#include <zlib.h>

#include <string>
#include <vector>

#include "gfx/core/pngformat.h"

namespace {

class Png : public ::testing::Test {
protected:
    void SetUp() override
    {
        TakeError();
        RwImageSetPath("");
        liveBefore = allocations.live;
    }
    void TearDown() override
    {
        allocations.failAfter = -1;
        EXPECT_EQ(liveBefore, allocations.live) << "allocations leaked";
    }
    RwInt32 liveBefore = 0;
};

// PNG files assembled from the format's tables: big-endian fields, chunks with CRCs,
// one zlib stream of filtered scanlines as IDAT.
std::string Be32(RwUInt32 v)
{
    std::string s(4, '\0');
    for (RwInt32 i = 0; i < 4; i++)
        s[static_cast<size_t>(i)] = static_cast<char>(v >> (24 - 8 * i));
    return s;
}

std::string Chunk(const char *type, const std::string &data)
{
    std::string body = std::string(type, 4) + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(body.data()), static_cast<uInt>(body.size()));
    return Be32(static_cast<RwUInt32>(data.size())) + body + Be32(static_cast<RwUInt32>(crc));
}

std::string Ihdr(RwUInt32 width, RwUInt32 height, int bitDepth, int colourType, int interlace = 0)
{
    return Chunk("IHDR", Be32(width) + Be32(height) + std::string(1, static_cast<char>(bitDepth)) +
                             std::string(1, static_cast<char>(colourType)) + std::string(2, '\0') +
                             std::string(1, static_cast<char>(interlace)));
}

// rows: each scanline's bytes without the filter byte (filter 0 is added).
std::string Idat(const std::vector<std::string> &rows)
{
    std::string raw;
    for (const std::string &row : rows)
        raw += std::string(1, '\0') + row;
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef *>(&out[0]), &size, reinterpret_cast<const Bytef *>(raw.data()),
              static_cast<uLong>(raw.size()), 9);
    out.resize(size);
    return Chunk("IDAT", out);
}

std::string PngFile(const std::string &header, const std::string &middle, const std::vector<std::string> &rows)
{
    return std::string("\x89PNG\r\n\x1a\n", 8) + header + middle + Idat(rows) + Chunk("IEND", "");
}

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

RwImage *ReadBytes(const std::string &bytes, const char *name = "hand.png")
{
    WriteFileBytes(name, bytes.data(), bytes.size());
    return RwImageReadPng(name);
}

// The chunks of a PNG file: (type, data) in file order.
std::vector<std::pair<std::string, std::string>> Chunks(const std::string &file)
{
    std::vector<std::pair<std::string, std::string>> out;
    size_t pos = 8;
    while (pos + 12 <= file.size()) {
        const RwUInt32 length = (static_cast<RwUInt8>(file[pos]) << 24) | (static_cast<RwUInt8>(file[pos + 1]) << 16) |
                                (static_cast<RwUInt8>(file[pos + 2]) << 8) | static_cast<RwUInt8>(file[pos + 3]);
        out.push_back({file.substr(pos + 4, 4), file.substr(pos + 8, length)});
        pos += 12 + length;
    }
    return out;
}

}  // namespace

// Real files and their independently decoded pixels ----------------------------------------------

namespace {

struct Expected {
    RwInt32 width = 0;
    RwInt32 height = 0;
    RwInt32 depth = 0;
    std::string pixels;
};

bool LoadExpected(const std::string &name, Expected &e)
{
    const std::string bytes = ReadFileBytes(name);
    if (bytes.size() < 12)
        return false;
    memcpy(&e.width, bytes.data(), 4);
    memcpy(&e.height, bytes.data() + 4, 4);
    memcpy(&e.depth, bytes.data() + 8, 4);
    e.pixels = bytes.substr(12);
    return e.pixels.size() == static_cast<size_t>(e.width) * e.height * 4;
}

std::vector<std::string> FilesMatching(const char *pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern, &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

}  // namespace

TEST_F(Png, ReadsEveryReferenceFileAsTheIndependentDecoderDoes)
{
    const std::vector<std::string> names = FilesMatching("data/png/*.rgba");
    ASSERT_GE(names.size(), 55u) << "reference files missing from data/png";
    for (const std::string &rgba : names) {
        const std::string base = rgba.substr(0, rgba.size() - 5);
        Expected e;
        ASSERT_TRUE(LoadExpected("data/png/" + rgba, e)) << rgba;
        RwImage *image = RwImageReadPng(("data/png/" + base + ".png").c_str());
        ASSERT_NE(nullptr, image) << base;
        EXPECT_EQ(e.width, image->width) << base;
        EXPECT_EQ(e.height, image->height) << base;
        EXPECT_EQ(e.depth, image->depth) << base;
        EXPECT_EQ(0u, image->flags & rwIMAGEGAMMACORRECTED);
        RwInt32 wrong = 0;
        for (RwInt32 y = 0; y < e.height && y < image->height; y++)
            for (RwInt32 x = 0; x < e.width && x < image->width; x++) {
                if (image->depth == 4) {
                    EXPECT_LT(image->cpPixels[y * image->stride + x], 16) << base;
                }
                const RwRGBA c = ShownColour(image, x, y);
                const char *p = e.pixels.data() + (static_cast<size_t>(y) * e.width + x) * 4;
                wrong += !SameColour(Rgba(static_cast<RwUInt8>(p[0]), static_cast<RwUInt8>(p[1]),
                                          static_cast<RwUInt8>(p[2]), static_cast<RwUInt8>(p[3])),
                                     c);
            }
        EXPECT_EQ(0, wrong) << base << ": pixels differ";
        RwImageDestroy(image);
    }
}

TEST_F(Png, DamagedReferenceFilesAreRefused)
{
    const std::vector<std::string> names = FilesMatching("data/png/*.png");
    RwInt32 damaged = 0;
    for (const std::string &png : names) {
        const std::string base = png.substr(0, png.size() - 4);
        if (GetFileAttributesA(("data/png/" + base + ".rgba").c_str()) != INVALID_FILE_ATTRIBUTES)
            continue;
        ++damaged;
        RwImage *image = RwImageReadPng(("data/png/" + png).c_str());
        EXPECT_EQ(nullptr, image) << png;
        if (image)
            RwImageDestroy(image);
    }
    EXPECT_GE(damaged, 4);
}

// Hand-assembled files ----------------------------------------------------------------------------

TEST_F(Png, TwoBitPaletteReadsAsFourBitWithGreyRampBeyondFile)
{
    // Four pixels with indices 0, 1, 2, 3 packed into one byte; three PLTE entries and
    // transparency for the first two.
    const std::string file = PngFile(Ihdr(4, 1, 2, 3), Chunk("PLTE", Bytes({10, 20, 30, 40, 50, 60, 70, 80, 90})) +
                                                           Chunk("tRNS", Bytes({0, 128})),
                                     {Bytes({0x1B})});
    RwImage *image = ReadBytes(file);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(4, image->depth);
    EXPECT_EQ(0, image->cpPixels[0]);
    EXPECT_EQ(1, image->cpPixels[1]);
    EXPECT_EQ(2, image->cpPixels[2]);
    EXPECT_EQ(3, image->cpPixels[3]);
    EXPECT_TRUE(SameColour(Rgba(10, 20, 30, 0), image->palette[0]));
    EXPECT_TRUE(SameColour(Rgba(40, 50, 60, 128), image->palette[1]));
    EXPECT_TRUE(SameColour(Rgba(70, 80, 90, 255), image->palette[2]));
    for (RwInt32 i = 3; i < 16; i++)
        EXPECT_TRUE(SameColour(Rgba(static_cast<RwUInt8>(i), static_cast<RwUInt8>(i), static_cast<RwUInt8>(i), 255),
                               image->palette[i]))
            << i;
    RwImageDestroy(image);
}

TEST_F(Png, GreyKeyMakesThatValueTransparent)
{
    const std::string file = PngFile(Ihdr(3, 1, 8, 0), Chunk("tRNS", Bytes({0, 7})), {Bytes({6, 7, 8})});
    RwImage *image = ReadBytes(file);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(8, image->depth);
    EXPECT_TRUE(SameColour(Rgba(7, 7, 7, 0), ShownColour(image, 1, 0)));
    EXPECT_TRUE(SameColour(Rgba(6, 6, 6, 255), ShownColour(image, 0, 0)));
    EXPECT_TRUE(SameColour(Rgba(200, 200, 200, 255), image->palette[200]));
    RwImageDestroy(image);
}

TEST_F(Png, LowDepthGreyKeyIsScaledLikeThePixels)
{
    // Two-bit grey 0, 1, 2, 3 (one byte 0x1B) with key 2: the value 170 is transparent.
    const std::string file = PngFile(Ihdr(4, 1, 2, 0), Chunk("tRNS", Bytes({0, 2})), {Bytes({0x1B})});
    RwImage *image = ReadBytes(file);
    ASSERT_NE(nullptr, image);
    EXPECT_TRUE(SameColour(Rgba(85, 85, 85, 255), ShownColour(image, 1, 0)));
    EXPECT_TRUE(SameColour(Rgba(170, 170, 170, 0), ShownColour(image, 2, 0)));
    EXPECT_TRUE(SameColour(Rgba(255, 255, 255, 255), ShownColour(image, 3, 0)));
    RwImageDestroy(image);
}

TEST_F(Png, SixteenBitGreyKeepsHighByte)
{
    const std::string file =
        PngFile(Ihdr(2, 1, 16, 0), Chunk("tRNS", Bytes({0x12, 0x34})), {Bytes({0x12, 0x34, 0xAB, 0xFF})});
    RwImage *image = ReadBytes(file);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(0x12, image->cpPixels[0]);
    EXPECT_EQ(0xAB, image->cpPixels[1]);
    EXPECT_EQ(0, image->palette[0x12].alpha);
    RwImageDestroy(image);
}

TEST_F(Png, RgbGetsOpaqueFiller)
{
    const std::string file =
        PngFile(Ihdr(2, 1, 8, 2), Chunk("tRNS", Bytes({0, 1, 0, 2, 0, 3})), {Bytes({1, 2, 3, 4, 5, 6})});
    RwImage *image = ReadBytes(file);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(32, image->depth);
    EXPECT_TRUE(SameColour(Rgba(1, 2, 3, 255), ShownColour(image, 0, 0)));
    EXPECT_TRUE(SameColour(Rgba(4, 5, 6, 255), ShownColour(image, 1, 0)));
    RwImageDestroy(image);
}

TEST_F(Png, GreyAlphaSpreadsToRgb)
{
    const std::string file = PngFile(Ihdr(1, 2, 8, 4), "", {Bytes({90, 30}), Bytes({200, 255})});
    RwImage *image = ReadBytes(file);
    ASSERT_NE(nullptr, image);
    EXPECT_TRUE(SameColour(Rgba(90, 90, 90, 30), ShownColour(image, 0, 0)));
    EXPECT_TRUE(SameColour(Rgba(200, 200, 200, 255), ShownColour(image, 0, 1)));
    RwImageDestroy(image);
}

TEST_F(Png, TruncationAtEveryOffsetGivesNothing)
{
    const std::string file = PngFile(Ihdr(4, 2, 8, 6), "", {std::string(16, '\x40'), std::string(16, '\x80')});
    for (size_t cut = 0; cut < file.size(); cut++) {
        RwImage *image = ReadBytes(file.substr(0, cut), "cut.png");
        // The last bytes are the IEND chunk's, which the reader need not see.
        if (cut < file.size() - 12) {
            EXPECT_EQ(nullptr, image) << cut;
        }
        if (image)
            RwImageDestroy(image);
        EXPECT_EQ(liveBefore, allocations.live) << "leak at cut " << cut;
    }
    TakeError();
}

TEST_F(Png, CorruptBytesAnywhereNeverCrash)
{
    const std::string good = PngFile(Ihdr(3, 3, 4, 3, 1), Chunk("PLTE", std::string(48, '\x33')),
                                     {Bytes({0x12}), Bytes({0x45}), Bytes({0x67}), Bytes({0x9A}), Bytes({0xBC}),
                                      Bytes({0x11, 0x20})});
    RwImage *decoded = ReadBytes(good, "flip.png");
    ASSERT_NE(nullptr, decoded);
    // Pass 5 holds (0, 2) and (2, 2); pass 6 (1, 0) and (1, 2); pass 7 the middle row.
    EXPECT_EQ(0x07, decoded->cpPixels[2 * decoded->stride + 2]);
    EXPECT_EQ(0x0B, decoded->cpPixels[2 * decoded->stride + 1]);
    EXPECT_EQ(0x02, decoded->cpPixels[decoded->stride + 2]);
    RwImageDestroy(decoded);
    for (size_t at = 8; at < good.size(); at++) {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ 0x5A);
        RwImage *image = ReadBytes(bad, "flip.png");
        if (image)
            RwImageDestroy(image);
        EXPECT_EQ(liveBefore, allocations.live) << "leak with byte " << at << " changed";
    }
    TakeError();
}

TEST_F(Png, HugeDimensionsAreRefusedWithoutAllocating)
{
    const std::string file = PngFile(Ihdr(100000, 100000, 8, 6), "", {std::string(8, '\0')});
    EXPECT_EQ(nullptr, ReadBytes(file));
    const std::string zero = PngFile(Ihdr(0, 4, 8, 6), "", {std::string(8, '\0')});
    EXPECT_EQ(nullptr, ReadBytes(zero));
    TakeError();
}

TEST_F(Png, OutOfMemoryAtEveryStepReleasesEverything)
{
    // Interlaced, 4 x 2 at 4 bits: passes 1, 4 and 6 give one byte each, pass 7 two.
    const std::string file = PngFile(Ihdr(4, 2, 4, 3, 1), Chunk("PLTE", std::string(48, '\x22')),
                                     {Bytes({0x10}), Bytes({0x20}), Bytes({0x34}), Bytes({0x56, 0x78})});
    WriteFileBytes("oom.png", file.data(), file.size());
    RwInt32 succeeded = 0;
    for (RwInt32 fail = 0; fail < 40; fail++) {
        allocations.failAfter = fail;
        RwImage *image = RwImageReadPng("oom.png");
        allocations.failAfter = -1;
        if (image) {
            ++succeeded;
            RwImageDestroy(image);
        }
        EXPECT_EQ(liveBefore, allocations.live) << "leak when allocation " << fail << " failed";
    }
    EXPECT_GT(succeeded, 0);
    TakeError();
}

TEST_F(Png, ReadRefusesMissingName)
{
    EXPECT_EQ(nullptr, RwImageReadPng(nullptr));
    EXPECT_EQ(E_RW_NULLP, TakeErrorCode());
    EXPECT_EQ(nullptr, RwImageReadPng("no such file.png"));
    TakeError();
}

// Writing -----------------------------------------------------------------------------------------

TEST_F(Png, WideImageIsWrittenAsRgbaAndReadsBack)
{
    RwImage *image = MakeImage(3, 2, 32);
    for (RwInt32 y = 0; y < 2; y++)
        for (RwInt32 x = 0; x < 3; x++)
            *PixelAt(image, x, y) = Rgba(static_cast<RwUInt8>(x * 80), static_cast<RwUInt8>(y * 90), 33,
                                         static_cast<RwUInt8>(x * 40 + y));
    ASSERT_EQ(image, RwImageWritePng(image, "wide.png"));
    const auto chunks = Chunks(ReadFileBytes("wide.png"));
    ASSERT_FALSE(chunks.empty());
    EXPECT_EQ("IHDR", chunks[0].first);
    EXPECT_EQ(Be32(3) + Be32(2) + Bytes({8, 6, 0, 0, 0}), chunks[0].second);
    EXPECT_EQ("IEND", chunks.back().first);
    RwImage *back = RwImageReadPng("wide.png");
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(32, back->depth);
    for (RwInt32 y = 0; y < 2; y++)
        for (RwInt32 x = 0; x < 3; x++)
            EXPECT_TRUE(SameColour(*PixelAt(image, x, y), *PixelAt(back, x, y)));
    RwImageDestroy(back);
    RwImageDestroy(image);
}

TEST_F(Png, FourBitImageRoundTripsWithPaletteAndTransparency)
{
    RwImage *image = MakeImage(5, 3, 4);
    for (RwInt32 i = 0; i < 16; i++)
        image->palette[i] = Rgba(static_cast<RwUInt8>(i * 16), static_cast<RwUInt8>(255 - i), static_cast<RwUInt8>(i),
                                 static_cast<RwUInt8>(i * 17));
    for (RwInt32 y = 0; y < 3; y++)
        for (RwInt32 x = 0; x < 5; x++)
            image->cpPixels[y * image->stride + x] = static_cast<RwUInt8>((x * 3 + y * 5) & 15);
    ASSERT_EQ(image, RwImageWritePng(image, "four.png"));
    const auto chunks = Chunks(ReadFileBytes("four.png"));
    ASSERT_GE(chunks.size(), 4u);
    EXPECT_EQ(Be32(5) + Be32(3) + Bytes({4, 3, 0, 0, 0}), chunks[0].second);
    EXPECT_EQ("PLTE", chunks[1].first);
    EXPECT_EQ(48u, chunks[1].second.size());
    EXPECT_EQ(Bytes({32, 253, 2}), chunks[1].second.substr(6, 3));
    EXPECT_EQ("tRNS", chunks[2].first);
    EXPECT_EQ(16u, chunks[2].second.size());
    RwImage *back = RwImageReadPng("four.png");
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(4, back->depth);
    for (RwInt32 y = 0; y < 3; y++)
        EXPECT_EQ(0, memcmp(image->cpPixels + y * image->stride, back->cpPixels + y * back->stride, 5));
    EXPECT_EQ(0, memcmp(image->palette, back->palette, 64));
    RwImageDestroy(back);
    RwImageDestroy(image);
}

TEST_F(Png, StrayHighNibbleDoesNotSpillIntoNeighbour)
{
    RwImage *image = MakeImage(3, 1, 4);
    image->cpPixels[0] = 0x02;
    image->cpPixels[1] = 0x31;
    image->cpPixels[2] = 0xF5;
    ASSERT_EQ(image, RwImageWritePng(image, "stray.png"));
    RwImage *back = RwImageReadPng("stray.png");
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(0x02, back->cpPixels[0]);
    EXPECT_EQ(0x01, back->cpPixels[1]);
    EXPECT_EQ(0x05, back->cpPixels[2]);
    RwImageDestroy(back);
    RwImageDestroy(image);
}

TEST_F(Png, EightBitImageWritesFullPalette)
{
    RwImage *image = MakeImage(2, 2, 8);
    for (RwInt32 i = 0; i < 256; i++)
        image->palette[i] = Rgba(static_cast<RwUInt8>(i), 0, static_cast<RwUInt8>(~i), static_cast<RwUInt8>(i / 2));
    image->cpPixels[0] = 255;
    image->cpPixels[image->stride + 1] = 128;
    ASSERT_EQ(image, RwImageWritePng(image, "eight.png"));
    const auto chunks = Chunks(ReadFileBytes("eight.png"));
    EXPECT_EQ(768u, chunks[1].second.size());
    EXPECT_EQ(256u, chunks[2].second.size());
    RwImage *back = RwImageReadPng("eight.png");
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(8, back->depth);
    EXPECT_EQ(255, back->cpPixels[0]);
    EXPECT_EQ(128, back->cpPixels[back->stride + 1]);
    EXPECT_EQ(0, memcmp(image->palette, back->palette, 1024));
    RwImageDestroy(back);
    RwImageDestroy(image);
}

TEST_F(Png, WriteWithoutNameIsAFailure)
{
    RwImage *image = MakeImage(1, 1, 32);
    EXPECT_EQ(nullptr, RwImageWritePng(image, nullptr));
    EXPECT_EQ(E_RW_NULLP, TakeErrorCode());
    EXPECT_EQ(nullptr, RwImageWritePng(nullptr, "x.png"));
    RwImageDestroy(image);
}

TEST_F(Png, UnwritableDepthMakesNoFile)
{
    DeleteFileA("odd.png");
    RwImage *image = MakeImage(2, 2, 32);
    image->depth = 16;
    EXPECT_EQ(nullptr, RwImageWritePng(image, "odd.png"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("odd.png"));
    image->depth = 32;
    RwImage *bare = RwImageCreate(2, 2, 32);
    EXPECT_EQ(nullptr, RwImageWritePng(bare, "odd.png"));
    RwImageDestroy(bare);
    RwImageDestroy(image);
    TakeError();
}

TEST_F(Png, WriteIntoMissingFolderFails)
{
    RwImage *image = MakeImage(2, 2, 32);
    EXPECT_EQ(nullptr, RwImageWritePng(image, "no such folder/x.png"));
    RwImageDestroy(image);
    TakeError();
}

TEST_F(Png, WriteOutOfMemoryAtEveryStepReleasesEverything)
{
    RwImage *image = MakeImage(4, 4, 8);
    const RwInt32 live = allocations.live;
    RwInt32 succeeded = 0;
    for (RwInt32 fail = 0; fail < 40; fail++) {
        allocations.failAfter = fail;
        RwImage *result = RwImageWritePng(image, "oomw.png");
        allocations.failAfter = -1;
        succeeded += result != nullptr;
        EXPECT_EQ(live, allocations.live) << "leak when allocation " << fail << " failed";
    }
    EXPECT_GT(succeeded, 0);
    RwImageDestroy(image);
    TakeError();
}

TEST_F(Png, FormatRegisteredAsPngReadsThroughImagePath)
{
    ASSERT_TRUE(RwImageRegisterFormat("png", RwImageReadPng, RwImageWritePng));
    RwImage *image = MakeImage(2, 1, 32);
    *PixelAt(image, 1, 0) = Rgba(9, 8, 7, 6);
    CreateDirectoryA("pngdir", nullptr);
    ASSERT_EQ(image, RwImageWrite(image, "pngdir/via.png"));
    RwImageSetPath("elsewhere/;pngdir/");
    RwImage *back = RwImageRead("via.PNG");
    ASSERT_NE(nullptr, back);
    EXPECT_TRUE(SameColour(Rgba(9, 8, 7, 6), *PixelAt(back, 1, 0)));
    RwImageDestroy(back);
    RwImageDestroy(image);
}

namespace {
::testing::Environment *const engineEnvironment =
    ::testing::AddGlobalTestEnvironment(new ImageEngineEnvironment());
}  // namespace
