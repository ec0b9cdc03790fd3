#include "imagetestutil.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/core/raster.h"
#include "gfx/core/stream.h"

namespace {

const RwUInt32 pluginID = 0x7F01;
RwInt32 pluginOffset = -1;
RwInt32 constructed = 0;
RwInt32 destructed = 0;

void *ConstructPlugin(void *object, RwInt32 offset, RwInt32 size)
{
    ++constructed;
    *reinterpret_cast<RwUInt32 *>(static_cast<RwUInt8 *>(object) + offset) = 0xC0FFEE;
    return object;
}

void *DestructPlugin(void *object, RwInt32 offset, RwInt32 size)
{
    ++destructed;
    return object;
}

void RegisterImagePlugin()
{
    pluginOffset = RwImageRegisterPlugin(4, pluginID, ConstructPlugin, DestructPlugin, nullptr);
}

class Image : public ::testing::Test {
protected:
    void SetUp() override
    {
        RwTestDriverReset();
        TakeError();
        RwImageSetPath("");
        liveBefore = allocations.live;
    }
    void TearDown() override
    {
        RwImageSetGamma(1.0f);
        allocations.failAfter = -1;
        EXPECT_EQ(liveBefore, allocations.live) << "allocations leaked";
    }
    RwInt32 liveBefore = 0;
};

}  // namespace

// Life cycle and pixels ---------------------------------------------------------------------------

TEST_F(Image, CreateLeavesPixelsForLater)
{
    RwImage *image = RwImageCreate(3, 2, 32);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(0u, image->flags);
    EXPECT_EQ(3, image->width);
    EXPECT_EQ(2, image->height);
    EXPECT_EQ(32, image->depth);
    EXPECT_EQ(0, image->stride);
    EXPECT_EQ(nullptr, image->cpPixels);
    EXPECT_EQ(nullptr, image->palette);
    EXPECT_TRUE(RwImageDestroy(image));
}

TEST_F(Image, PluginDataIsConstructedAndDestructed)
{
    ASSERT_GE(pluginOffset, 28);
    const RwInt32 c = constructed;
    const RwInt32 d = destructed;
    RwImage *image = RwImageCreate(1, 1, 8);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(c + 1, constructed);
    EXPECT_EQ(0xC0FFEEu, *reinterpret_cast<RwUInt32 *>(reinterpret_cast<RwUInt8 *>(image) + pluginOffset));
    RwImageDestroy(image);
    EXPECT_EQ(d + 1, destructed);
    EXPECT_EQ(pluginOffset, RwImageGetPluginOffset(pluginID));
}

TEST_F(Image, FourBitImageHasByteIndicesAndPaletteAfterPixels)
{
    RwImage *image = RwImageCreate(3, 5, 4);
    ASSERT_NE(nullptr, RwImageAllocatePixels(image));
    EXPECT_EQ(4, image->stride);
    EXPECT_EQ(reinterpret_cast<RwRGBA *>(image->cpPixels + 5 * 4), image->palette);
    EXPECT_EQ(rwIMAGEALLOCATED, image->flags & rwIMAGEALLOCATED);
    // The whole block is ours: the last palette entry can be written.
    image->palette[15] = Rgba(1, 2, 3, 4);
    RwImageDestroy(image);
}

TEST_F(Image, StrideIsRowBytesRoundedToFour)
{
    RwImage *wide = MakeImage(3, 2, 32);
    EXPECT_EQ(12, wide->stride);
    EXPECT_EQ(nullptr, wide->palette);
    RwImage *eight = MakeImage(5, 2, 8);
    EXPECT_EQ(8, eight->stride);
    EXPECT_EQ(reinterpret_cast<RwRGBA *>(eight->cpPixels + 16), eight->palette);
    RwImageDestroy(wide);
    RwImageDestroy(eight);
}

TEST_F(Image, AllocateRefusesSizesThatWouldOverflow)
{
    RwImage *image = RwImageCreate(0x10000, 0x10000, 32);
    ASSERT_NE(nullptr, image);
    const RwInt32 live = allocations.live;
    EXPECT_EQ(nullptr, RwImageAllocatePixels(image));
    EXPECT_EQ(E_RW_INVIMAGESIZE, TakeErrorCode());
    EXPECT_EQ(live, allocations.live);
    EXPECT_EQ(nullptr, image->cpPixels);
    image->width = -4;
    image->height = 4;
    EXPECT_EQ(nullptr, RwImageAllocatePixels(image));
    image->width = 4;
    image->height = 0;
    EXPECT_EQ(nullptr, RwImageAllocatePixels(image));
    RwImageDestroy(image);
}

TEST_F(Image, AllocateReportsOutOfMemory)
{
    RwImage *image = RwImageCreate(4, 4, 32);
    allocations.failAfter = 0;
    EXPECT_EQ(nullptr, RwImageAllocatePixels(image));
    allocations.failAfter = -1;
    EXPECT_EQ(E_RW_NOMEM, TakeErrorCode());
    RwImageDestroy(image);
}

TEST_F(Image, FreePixelsLeavesCallerMemoryAlone)
{
    RwUInt8 pixels[16] = {};
    RwRGBA palette[16] = {};
    RwImage *image = RwImageCreate(2, 2, 4);
    image->cpPixels = pixels;
    image->palette = palette;
    image->stride = 4;
    const RwInt32 live = allocations.live;
    RwImageFreePixels(image);
    EXPECT_EQ(nullptr, image->cpPixels);
    EXPECT_EQ(nullptr, image->palette);
    EXPECT_EQ(live, allocations.live);
    image->cpPixels = pixels;
    EXPECT_TRUE(RwImageDestroy(image));   // would free stack memory if it thought it owned it
}

TEST_F(Image, FreePixelsReleasesOwnedBlock)
{
    RwImage *image = RwImageCreate(8, 8, 8);
    const RwInt32 live = allocations.live;
    RwImageAllocatePixels(image);
    EXPECT_EQ(live + 1, allocations.live);
    RwImageFreePixels(image);
    EXPECT_EQ(live, allocations.live);
    EXPECT_EQ(0u, image->flags & rwIMAGEALLOCATED);
    RwImageDestroy(image);
}

// Copies ------------------------------------------------------------------------------------------

TEST_F(Image, CopySameDepthCopiesPaletteAndRows)
{
    RwImage *src = MakeImage(3, 2, 8);
    RwImage *dst = MakeImage(3, 2, 8);
    for (RwInt32 i = 0; i < 256; i++)
        src->palette[i] = Rgba(static_cast<RwUInt8>(i), 1, 2, 3);
    src->cpPixels[0] = 9;
    src->cpPixels[src->stride + 2] = 200;
    src->flags |= rwIMAGEGAMMACORRECTED;
    ASSERT_EQ(dst, RwImageCopy(dst, src));
    EXPECT_EQ(9, dst->cpPixels[0]);
    EXPECT_EQ(200, dst->cpPixels[dst->stride + 2]);
    EXPECT_TRUE(SameColour(Rgba(77, 1, 2, 3), dst->palette[77]));
    EXPECT_EQ(rwIMAGEGAMMACORRECTED, dst->flags & rwIMAGEGAMMACORRECTED);
    RwImageDestroy(src);
    RwImageDestroy(dst);
}

TEST_F(Image, CopyClearsGammaFlagOfPlainSource)
{
    RwImage *src = MakeImage(1, 1, 32);
    RwImage *dst = MakeImage(1, 1, 32);
    dst->flags |= rwIMAGEGAMMACORRECTED;
    RwImageCopy(dst, src);
    EXPECT_EQ(0u, dst->flags & rwIMAGEGAMMACORRECTED);
    RwImageDestroy(src);
    RwImageDestroy(dst);
}

TEST_F(Image, CopyExpandsIndicesThroughSourcePalette)
{
    for (RwInt32 depth : {4, 8}) {
        RwImage *src = MakeImage(2, 1, depth);
        RwImage *dst = MakeImage(2, 1, 32);
        src->palette[3] = Rgba(10, 20, 30, 40);
        src->palette[15] = Rgba(50, 60, 70, 80);
        src->cpPixels[0] = 3;
        src->cpPixels[1] = 15;
        ASSERT_EQ(dst, RwImageCopy(dst, src));
        EXPECT_TRUE(SameColour(Rgba(10, 20, 30, 40), ShownColour(dst, 0, 0)));
        EXPECT_TRUE(SameColour(Rgba(50, 60, 70, 80), ShownColour(dst, 1, 0)));
        RwImageDestroy(src);
        RwImageDestroy(dst);
    }
}

TEST_F(Image, FourBitIndexAboveFifteenStaysInsidePalette)
{
    RwImage *src = MakeImage(1, 1, 4);
    RwImage *dst = MakeImage(1, 1, 32);
    src->palette[15] = Rgba(1, 2, 3, 4);
    src->cpPixels[0] = 0xFF;
    ASSERT_EQ(dst, RwImageCopy(dst, src));
    EXPECT_TRUE(SameColour(Rgba(1, 2, 3, 4), ShownColour(dst, 0, 0)));
    RwImage *eight = MakeImage(1, 1, 8);
    ASSERT_EQ(eight, RwImageCopy(eight, src));
    EXPECT_EQ(15, eight->cpPixels[0]);
    RwImageDestroy(src);
    RwImageDestroy(dst);
    RwImageDestroy(eight);
}

TEST_F(Image, CopyRefusesUnsupportedDepthPair)
{
    RwImage *src = MakeImage(2, 2, 32);
    RwImage *dst = MakeImage(2, 2, 8);
    EXPECT_EQ(nullptr, RwImageCopy(dst, src));
    EXPECT_EQ(E_RW_INVIMAGEFORMAT, TakeErrorCode());
    RwImageDestroy(src);
    RwImageDestroy(dst);
}

TEST_F(Image, CopyRefusesSourceSmallerThanDestination)
{
    RwImage *src = MakeImage(2, 2, 32);
    RwImage *dst = MakeImage(3, 2, 32);
    EXPECT_EQ(nullptr, RwImageCopy(dst, src));
    EXPECT_EQ(E_RW_INVIMAGESIZE, TakeErrorCode());
    RwImage *tall = MakeImage(2, 3, 32);
    EXPECT_EQ(nullptr, RwImageCopy(tall, src));
    RwImage *small = MakeImage(1, 1, 32);
    EXPECT_EQ(small, RwImageCopy(small, src));   // a larger source is fine
    RwImageDestroy(src);
    RwImageDestroy(dst);
    RwImageDestroy(tall);
    RwImageDestroy(small);
}

TEST_F(Image, CopyRefusesImagesWithoutPixels)
{
    RwImage *src = RwImageCreate(2, 2, 32);
    RwImage *dst = MakeImage(2, 2, 32);
    EXPECT_EQ(nullptr, RwImageCopy(dst, src));
    EXPECT_EQ(E_RW_NULLP, TakeErrorCode());
    RwImageDestroy(src);
    RwImageDestroy(dst);
}

// Gamma -------------------------------------------------------------------------------------------

TEST_F(Image, GammaOneGivesIdentityTables)
{
    RwImageSetGamma(1.0f);
    for (RwInt32 i = 0; i < 256; i++) {
        EXPECT_EQ(i, RwImageGetGammaTable()[i]);
        EXPECT_EQ(i, RwImageGetInvGammaTable()[i]);
    }
}

TEST_F(Image, GammaTablesFollowThePowerCurve)
{
    RwImageSetGamma(2.2f);
    EXPECT_FLOAT_EQ(2.2f, RwImageGetGamma());
    EXPECT_EQ(0, RwImageGetGammaTable()[0]);
    EXPECT_EQ(0, RwImageGetInvGammaTable()[0]);
    EXPECT_EQ(255, RwImageGetGammaTable()[255]);
    EXPECT_EQ(255, RwImageGetInvGammaTable()[255]);
    for (RwInt32 i = 1; i < 255; i++) {
        const double x = i / 255.0;
        EXPECT_NEAR(std::floor(std::pow(x, 1 / 2.2) * 255 + 0.5), RwImageGetGammaTable()[i], 1) << i;
        EXPECT_NEAR(std::floor(std::pow(x, 2.2) * 255 + 0.5), RwImageGetInvGammaTable()[i], 1) << i;
    }
    // Well away from rounding edges the values are exact.
    EXPECT_EQ(186, RwImageGetGammaTable()[128]);    // 255 * (128/255)^(1/2.2) = 186.1
    EXPECT_EQ(56, RwImageGetInvGammaTable()[128]);  // 255 * (128/255)^2.2 = 55.98
}

TEST_F(Image, GammaCorrectMapsPaletteColoursNotAlpha)
{
    RwImageSetGamma(2.2f);
    RwImage *image = MakeImage(1, 1, 8);
    image->palette[5] = Rgba(128, 64, 255, 128);
    ASSERT_EQ(image, RwImageGammaCorrect(image));
    const RwUInt8 *t = RwImageGetGammaTable();
    EXPECT_TRUE(SameColour(Rgba(t[128], t[64], 255, 128), image->palette[5]));
    EXPECT_EQ(rwIMAGEGAMMACORRECTED, image->flags & rwIMAGEGAMMACORRECTED);
    // Applied again when asked again: callers look at the flag themselves.
    RwImageGammaCorrect(image);
    EXPECT_EQ(t[t[128]], image->palette[5].red);
    RwImageDestroy(image);
}

TEST_F(Image, GammaCorrectMapsEveryPixelOfWideImage)
{
    RwImageSetGamma(0.5f);
    RwImage *image = MakeImage(2, 2, 32);
    *PixelAt(image, 1, 1) = Rgba(100, 0, 200, 7);
    RwImageGammaCorrect(image);
    const RwUInt8 *t = RwImageGetGammaTable();
    EXPECT_TRUE(SameColour(Rgba(t[100], 0, t[200], 7), *PixelAt(image, 1, 1)));
    RwImageDestroy(image);
}

TEST_F(Image, GammaCorrectRefusesMissingPaletteAndBadDepth)
{
    RwImage *image = RwImageCreate(1, 1, 8);
    EXPECT_EQ(nullptr, RwImageGammaCorrect(image));
    EXPECT_EQ(E_RW_NULLP, TakeErrorCode());
    image->depth = 16;
    EXPECT_EQ(nullptr, RwImageGammaCorrect(image));
    EXPECT_EQ(E_RW_INVIMAGEDEPTH, TakeErrorCode());
    EXPECT_EQ(0u, image->flags & rwIMAGEGAMMACORRECTED);
    image->depth = 32;
    EXPECT_EQ(nullptr, RwImageGammaCorrect(image));
    RwImageDestroy(image);
}

TEST_F(Image, GammaUncorrectWorksInPlace)
{
    RwImageSetGamma(2.2f);
    RwRGBA px[2] = {Rgba(128, 255, 0, 9), Rgba(64, 32, 16, 200)};
    RwImageGammaUncorrectPixels(px, px, 2);
    const RwUInt8 *inv = RwImageGetInvGammaTable();
    EXPECT_TRUE(SameColour(Rgba(inv[128], 255, 0, 9), px[0]));
    EXPECT_TRUE(SameColour(Rgba(inv[64], inv[32], inv[16], 200), px[1]));
}

// Masks -------------------------------------------------------------------------------------------

TEST_F(Image, MakeMaskTakesLargestChannelAsAlpha)
{
    RwImage *wide = MakeImage(1, 1, 32);
    *PixelAt(wide, 0, 0) = Rgba(10, 90, 40, 255);
    RwImageMakeMask(wide);
    EXPECT_EQ(90, PixelAt(wide, 0, 0)->alpha);
    RwImage *pal = MakeImage(1, 1, 4);
    pal->palette[2] = Rgba(7, 3, 200, 0);
    RwImageMakeMask(pal);
    EXPECT_EQ(200, pal->palette[2].alpha);
    RwImageDestroy(wide);
    RwImageDestroy(pal);
}

TEST_F(Image, ApplyMaskTurnsPalettisedImageIntoWideImage)
{
    RwImage *image = MakeImage(2, 1, 8);
    image->palette[1] = Rgba(10, 20, 30, 255);
    image->palette[2] = Rgba(40, 50, 60, 255);
    image->cpPixels[0] = 1;
    image->cpPixels[1] = 2;
    image->flags |= rwIMAGEGAMMACORRECTED;
    RwImage *mask = MakeImage(2, 1, 32);
    *PixelAt(mask, 0, 0) = Rgba(0, 0, 0, 77);
    *PixelAt(mask, 1, 0) = Rgba(0, 0, 0, 99);
    ASSERT_EQ(image, RwImageApplyMask(image, mask));
    EXPECT_EQ(32, image->depth);
    EXPECT_EQ(8, image->stride);
    EXPECT_EQ(nullptr, image->palette);
    EXPECT_EQ(rwIMAGEGAMMACORRECTED, image->flags & rwIMAGEGAMMACORRECTED);
    EXPECT_TRUE(SameColour(Rgba(10, 20, 30, 77), ShownColour(image, 0, 0)));
    EXPECT_TRUE(SameColour(Rgba(40, 50, 60, 99), ShownColour(image, 1, 0)));
    RwImageDestroy(image);
    RwImageDestroy(mask);
}

TEST_F(Image, ApplyMaskTakesAlphaFromMaskPalette)
{
    RwImage *image = MakeImage(2, 1, 32);
    RwImage *mask = MakeImage(2, 1, 4);
    mask->palette[3].alpha = 33;
    mask->palette[15].alpha = 44;
    mask->cpPixels[0] = 3;
    mask->cpPixels[1] = 0xFF;   // a stray high nibble still picks entry 15
    ASSERT_EQ(image, RwImageApplyMask(image, mask));
    EXPECT_EQ(33, PixelAt(image, 0, 0)->alpha);
    EXPECT_EQ(44, PixelAt(image, 1, 0)->alpha);
    RwImageDestroy(image);
    RwImageDestroy(mask);
}

TEST_F(Image, ApplyMaskRefusesDifferentSizes)
{
    RwImage *image = MakeImage(2, 2, 32);
    RwImage *mask = MakeImage(2, 3, 32);
    EXPECT_EQ(nullptr, RwImageApplyMask(image, mask));
    EXPECT_EQ(E_RW_INVIMAGESIZE, TakeErrorCode());
    RwImageDestroy(image);
    RwImageDestroy(mask);
}

TEST_F(Image, ApplyMaskRefusesImageOfOtherDepth)
{
    RwImage *image = MakeImage(2, 2, 32);
    image->depth = 16;
    RwImage *mask = MakeImage(2, 2, 32);
    EXPECT_EQ(nullptr, RwImageApplyMask(image, mask));
    EXPECT_EQ(E_RW_INVIMAGEFORMAT, TakeErrorCode());
    image->depth = 32;
    RwImageDestroy(image);
    RwImageDestroy(mask);
}

// Path, formats and files -------------------------------------------------------------------------

namespace {

std::vector<std::string> candidates;
RwInt32 stopAfter = -1;

const RwChar *RecordCandidate(RwChar *candidate, void *data)
{
    candidates.push_back(candidate);
    if (stopAfter >= 0 && static_cast<RwInt32>(candidates.size()) > stopAfter)
        return nullptr;
    return candidate;
}

std::vector<std::string> Search(const char *name, RwInt32 stop = -1)
{
    candidates.clear();
    stopAfter = stop;
    RwImagePathSearch(name, 5, RecordCandidate, nullptr);
    return candidates;
}

}  // namespace

TEST_F(Image, PathGrowsPastItsFirstSize)
{
    std::string longPath(600, 'p');
    longPath += "/";
    ASSERT_NE(nullptr, RwImageSetPath(longPath.c_str()));
    EXPECT_EQ(longPath, RwImageGetPath());
    RwImageSetPath("a/;b/");
    EXPECT_STREQ("a/;b/", RwImageGetPath());
}

TEST_F(Image, PathSearchTriesElementsLeftToRight)
{
    RwImageSetPath("data/;data/tex/");
    EXPECT_EQ((std::vector<std::string>{"data/wood.png", "data/tex/wood.png"}), Search("wood.png"));
    EXPECT_EQ((std::vector<std::string>{"data/wood.png"}), Search("wood.png", 0));
}

TEST_F(Image, AbsoluteNamesAreTriedAsTheyStand)
{
    RwImageSetPath("data/;data/tex/");
    EXPECT_EQ((std::vector<std::string>{"C:wood.png"}), Search("C:wood.png"));
    EXPECT_EQ((std::vector<std::string>{"\\wood.png"}), Search("\\wood.png"));
    EXPECT_EQ((std::vector<std::string>{"data/1:x.png", "data/tex/1:x.png"}), Search("1:x.png"));
}

TEST_F(Image, EmptyPathTriesTheNameOnly)
{
    EXPECT_EQ((std::vector<std::string>{"wood.png"}), Search("wood.png"));
}

TEST_F(Image, LongNamesGrowTheScratchBuffer)
{
    std::string dir(300, 'd');
    dir += "/";
    RwImageSetPath(dir.c_str());
    std::string name(400, 'n');
    EXPECT_EQ((std::vector<std::string>{dir + name}), Search(name.c_str()));
}

namespace {

std::vector<std::string> readNames;
RwInt32 readFailures = 0;   // reads that return NULL before one succeeds

RwImage *FakeRead(const RwChar *name)
{
    readNames.push_back(name);
    if (readFailures > 0) {
        --readFailures;
        return nullptr;
    }
    return MakeImage(2, 1, 32);
}

RwImage *OtherRead(const RwChar *name)
{
    readNames.push_back(std::string("other:") + name);
    return MakeImage(1, 1, 8);
}

std::vector<std::string> writeNames;

RwImage *FakeWrite(RwImage *image, const RwChar *name)
{
    writeNames.push_back(name);
    return image;
}

RwImage *OtherWrite(RwImage *image, const RwChar *name)
{
    writeNames.push_back(std::string("other:") + name);
    return image;
}

RwImageFormat *FindRecord(const char *lower)
{
    for (RwImageFormat *f = RwImageGetFormatList(); f; f = f->nextFormat)
        if (strcmp(f->lCaseExtension, lower) == 0)
            return f;
    return nullptr;
}

void Touch(const std::string &name)
{
    CreateDirectoryA("imgdir", nullptr);
    CreateDirectoryA("imgdir/tex", nullptr);
    WriteFileBytes(name, "x", 1);
}

}  // namespace

TEST_F(Image, RegisterFormatKeepsBothCases)
{
    ASSERT_TRUE(RwImageRegisterFormat("TgA", FakeRead, FakeWrite));
    RwImageFormat *f = FindRecord(".tga");
    ASSERT_NE(nullptr, f);
    EXPECT_STREQ(".TGA", f->uCaseExtension);
    EXPECT_EQ(f, RwImageGetFormatList());   // newest first
    EXPECT_EQ(FakeRead, f->imageRead);
    EXPECT_EQ(FakeWrite, f->imageWrite);
}

TEST_F(Image, RegisterAgainReplacesOnlyGivenCallbacks)
{
    RwImageRegisterFormat("dup", FakeRead, FakeWrite);
    RwImageRegisterFormat("DUP", OtherRead, nullptr);
    RwImageFormat *f = FindRecord(".dup");
    EXPECT_EQ(OtherRead, f->imageRead);
    EXPECT_EQ(FakeWrite, f->imageWrite);
    RwInt32 count = 0;
    for (RwImageFormat *g = RwImageGetFormatList(); g; g = g->nextFormat)
        count += strcmp(g->lCaseExtension, ".dup") == 0;
    EXPECT_EQ(1, count);
}

TEST_F(Image, LongExtensionIsCutToEighteen)
{
    RwImageRegisterFormat("abcdefghijklmnopqrstuvwxyz", FakeRead, nullptr);
    RwImageFormat *f = FindRecord(".abcdefghijklmnopqr");
    ASSERT_NE(nullptr, f);
    EXPECT_STREQ(".ABCDEFGHIJKLMNOPQR", f->uCaseExtension);
}

TEST_F(Image, ReadMatchesUpperCaseExtensionButNotMixedCase)
{
    RwImageRegisterFormat("fkr", FakeRead, FakeWrite);
    Touch("imgdir/tex.FKR");
    Touch("imgdir/Tex.Fkr");
    readNames.clear();
    RwImage *image = RwImageRead("imgdir/tex.FKR");
    ASSERT_NE(nullptr, image);
    EXPECT_EQ((std::vector<std::string>{"imgdir/tex.FKR"}), readNames);
    RwImageDestroy(image);
    EXPECT_EQ(nullptr, RwImageRead("imgdir/Tex.Fkr"));
    EXPECT_EQ(E_RW_NOERROR, TakeErrorCode());
}

TEST_F(Image, ReadLooksForExtensionInBaseNameOnly)
{
    RwImageRegisterFormat("b/c", FakeRead, nullptr);
    readNames.clear();
    EXPECT_EQ(nullptr, RwImageRead("a.b/c"));
    EXPECT_EQ(nullptr, RwImageRead("noext"));
    EXPECT_EQ(nullptr, RwImageRead("x.unknown"));
    EXPECT_TRUE(readNames.empty());
}

TEST_F(Image, ReadWalksPathUntilAnImageIsMade)
{
    RwImageRegisterFormat("fkr", FakeRead, FakeWrite);
    Touch("imgdir/wood.fkr");
    Touch("imgdir/tex/wood.fkr");
    RwImageSetPath("missing/;imgdir/;imgdir/tex/");
    readNames.clear();
    readFailures = 1;
    RwImage *image = RwImageRead("wood.fkr");
    ASSERT_NE(nullptr, image);
    // The missing folder is not handed to the reader; the first file fails to read.
    EXPECT_EQ((std::vector<std::string>{"imgdir/wood.fkr", "imgdir/tex/wood.fkr"}), readNames);
    RwImageDestroy(image);
    readNames.clear();
    EXPECT_EQ(nullptr, RwImageRead("absent.fkr"));
    EXPECT_TRUE(readNames.empty());
}

TEST_F(Image, ReadWithoutReadCallbackGivesNothing)
{
    RwImageRegisterFormat("wonly", nullptr, FakeWrite);
    Touch("imgdir/a.wonly");
    EXPECT_EQ(nullptr, RwImageRead("imgdir/a.wonly"));
}

TEST_F(Image, WriteUsesNameUnchangedWithoutPathSearch)
{
    RwImageRegisterFormat("fkw", FakeRead, FakeWrite);
    RwImageRegisterFormat("nowrite", FakeRead, nullptr);
    RwImageSetPath("somewhere/");
    RwImage *image = MakeImage(1, 1, 32);
    writeNames.clear();
    EXPECT_EQ(image, RwImageWrite(image, "out/pic.FKW"));
    EXPECT_EQ((std::vector<std::string>{"out/pic.FKW"}), writeNames);
    EXPECT_EQ(nullptr, RwImageWrite(image, "pic.nowrite"));
    EXPECT_EQ(nullptr, RwImageWrite(image, "pic"));
    EXPECT_EQ(nullptr, RwImageWrite(image, "pic.zzz"));
    EXPECT_EQ(nullptr, RwImageWrite(nullptr, "pic.fkw"));
    EXPECT_EQ(1u, writeNames.size());
    RwImageDestroy(image);
}

TEST_F(Image, WritePicksNewestFormatOfAnExtension)
{
    RwImageRegisterFormat("dupw", FakeRead, FakeWrite);
    RwImageRegisterFormat("dupw", nullptr, OtherWrite);
    RwImage *image = MakeImage(1, 1, 32);
    writeNames.clear();
    RwImageWrite(image, "x.dupw");
    EXPECT_EQ((std::vector<std::string>{"other:x.dupw"}), writeNames);
    RwImageDestroy(image);
}

namespace {

RwImage *ReadWhite(const RwChar *name)
{
    RwImage *image = MakeImage(2, 1, 32);
    *PixelAt(image, 0, 0) = Rgba(255, 255, 255, 255);
    *PixelAt(image, 1, 0) = Rgba(0, 128, 0, 255);
    return image;
}

RwImage *ReadWrongSize(const RwChar *name)
{
    return MakeImage(3, 1, 32);
}

}  // namespace

TEST_F(Image, ReadMaskedAppliesMaskFromSecondFile)
{
    RwImageRegisterFormat("msk", ReadWhite, nullptr);
    RwImageRegisterFormat("bad", ReadWrongSize, nullptr);
    Touch("imgdir/pic.msk");
    Touch("imgdir/mask.msk");
    Touch("imgdir/mask.bad");
    RwImage *image = RwImageReadMasked("imgdir/pic.msk", "imgdir/mask.msk");
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(255, PixelAt(image, 0, 0)->alpha);
    EXPECT_EQ(128, PixelAt(image, 1, 0)->alpha);
    RwImageDestroy(image);
    image = RwImageReadMasked("imgdir/pic.msk", "");
    ASSERT_NE(nullptr, image);
    RwImageDestroy(image);
    // Both images are released when the mask is missing or does not fit.
    EXPECT_EQ(nullptr, RwImageReadMasked("imgdir/pic.msk", "imgdir/none.msk"));
    EXPECT_EQ(nullptr, RwImageReadMasked("imgdir/pic.msk", "imgdir/mask.bad"));
}

TEST_F(Image, FindFileExtensionProbesEachFormat)
{
    RwImageRegisterFormat("fx1", FakeRead, nullptr);
    RwImageRegisterFormat("fx2", FakeRead, nullptr);
    Touch("imgdir/tex/stone.fx1");
    RwImageSetPath("imgdir/;imgdir/tex/");
    const RwChar *ext = RwImageFindFileExtension("stone");
    ASSERT_NE(nullptr, ext);
    EXPECT_STRCASEEQ(".fx1", ext);
    EXPECT_EQ(nullptr, RwImageFindFileExtension("nothing"));
}

// Raster glue -------------------------------------------------------------------------------------

namespace {

RwBool FillScratchRaster(void *out, void *inOut, RwInt32 in)
{
    RwRaster *raster = static_cast<RwRaster *>(out);
    raster->width = 64;
    raster->height = 32;
    raster->depth = 8;
    raster->cFormat = 0x25;
    raster->cType = static_cast<RwUInt8>(in & 7);
    return TRUE;
}

}  // namespace

TEST_F(Image, SetFromRasterCarriesGammaFlag)
{
    RwImage *image = MakeImage(1, 1, 32);
    RwRaster raster = {};
    raster.privateFlags = rwRASTERGAMMACORRECTED;
    ASSERT_EQ(image, RwImageSetFromRaster(image, &raster));
    const RwTestDriverStandardCall *call = RwTestDriverGetStandardLog(RwTestDriverGetStandardLogSize() - 1);
    EXPECT_EQ(rwSTANDARDIMAGEGETRASTER, call->index);
    EXPECT_EQ(image, call->out);
    EXPECT_EQ(&raster, call->inOut);
    EXPECT_EQ(rwIMAGEGAMMACORRECTED, image->flags & rwIMAGEGAMMACORRECTED);
    RwTestDriverSetStandardResult(rwSTANDARDIMAGEGETRASTER, FALSE);
    EXPECT_EQ(nullptr, RwImageSetFromRaster(image, &raster));
    RwImageDestroy(image);
}

TEST_F(Image, RasterSetFromImageCarriesGammaFlag)
{
    RwImage *image = MakeImage(1, 1, 32);
    RwRaster raster = {};
    ASSERT_EQ(&raster, RwRasterSetFromImage(&raster, image));
    EXPECT_EQ(0, raster.privateFlags & rwRASTERGAMMACORRECTED);
    image->flags |= rwIMAGEGAMMACORRECTED;
    RwRasterSetFromImage(&raster, image);
    EXPECT_EQ(rwRASTERGAMMACORRECTED, raster.privateFlags & rwRASTERGAMMACORRECTED);
    const RwTestDriverStandardCall *call = RwTestDriverGetStandardLog(RwTestDriverGetStandardLogSize() - 1);
    EXPECT_EQ(rwSTANDARDRASTERSETIMAGE, call->index);
    EXPECT_EQ(&raster, call->out);
    EXPECT_EQ(image, call->inOut);
    RwImageDestroy(image);
}

TEST_F(Image, FindRasterFormatReportsDeviceChoice)
{
    RwTestDriverSetStandardFunction(rwSTANDARDIMAGEFINDRASTERFORMAT, FillScratchRaster);
    RwImage *image = MakeImage(4, 4, 32);
    RwInt32 w = 0, h = 0, d = 0, format = 0;
    ASSERT_EQ(image, RwImageFindRasterFormat(image, rwRASTERTYPETEXTURE, &w, &h, &d, &format));
    EXPECT_EQ(64, w);
    EXPECT_EQ(32, h);
    EXPECT_EQ(8, d);
    EXPECT_EQ(0x2504, format);
    const RwTestDriverStandardCall *call = RwTestDriverGetStandardLog(RwTestDriverGetStandardLogSize() - 1);
    EXPECT_EQ(image, call->inOut);
    EXPECT_EQ(rwRASTERTYPETEXTURE, call->in);
    RwTestDriverSetStandardFunction(rwSTANDARDIMAGEFINDRASTERFORMAT, nullptr);
    RwTestDriverSetStandardResult(rwSTANDARDIMAGEFINDRASTERFORMAT, FALSE);
    EXPECT_EQ(nullptr, RwImageFindRasterFormat(image, rwRASTERTYPETEXTURE, &w, &h, &d, &format));
    RwImageDestroy(image);
}

// Streams -----------------------------------------------------------------------------------------

namespace {

void PutU32(std::vector<RwUInt8> &out, RwUInt32 v)
{
    for (RwInt32 i = 0; i < 4; i++)
        out.push_back(static_cast<RwUInt8>(v >> (8 * i)));
}

// An image chunk body written from the layout: struct chunk, rows, palette.
std::vector<RwUInt8> ImageChunkBody(RwInt32 width, RwInt32 height, RwInt32 depth, RwInt32 stride,
                                    const std::vector<RwUInt8> &rows, const std::vector<RwUInt8> &palette)
{
    std::vector<RwUInt8> out;
    PutU32(out, 1);
    PutU32(out, 16);
    PutU32(out, 0x1C020055);
    PutU32(out, static_cast<RwUInt32>(width));
    PutU32(out, static_cast<RwUInt32>(height));
    PutU32(out, static_cast<RwUInt32>(depth));
    PutU32(out, static_cast<RwUInt32>(stride));
    out.insert(out.end(), rows.begin(), rows.end());
    out.insert(out.end(), palette.begin(), palette.end());
    return out;
}

RwImage *ReadChunk(std::vector<RwUInt8> &bytes)
{
    RwMemory mem = {bytes.data(), static_cast<RwUInt32>(bytes.size())};
    RwStream *stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &mem);
    RwImage *image = RwImageStreamRead(stream);
    RwStreamClose(stream, nullptr);
    return image;
}

}  // namespace

TEST_F(Image, StreamReadsHandAssembledChunk)
{
    std::vector<RwUInt8> rows = {1, 2, 0, 0, 3, 4, 0, 0};
    std::vector<RwUInt8> palette(64);
    palette[4 * 3 + 0] = 9;
    palette[4 * 3 + 3] = 99;
    std::vector<RwUInt8> bytes = ImageChunkBody(2, 2, 4, 4, rows, palette);
    RwImage *image = ReadChunk(bytes);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(2, image->width);
    EXPECT_EQ(4, image->depth);
    EXPECT_EQ(3, image->cpPixels[4]);
    EXPECT_EQ(4, image->cpPixels[5]);
    EXPECT_TRUE(SameColour(Rgba(9, 0, 0, 99), image->palette[3]));
    RwImageDestroy(image);
}

TEST_F(Image, StreamReadsRowsOfOtherStride)
{
    // Stored stride 8 for 1-pixel rows of 32 bits: four padding bytes per row are skipped.
    std::vector<RwUInt8> rows = {1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE, 5, 6, 7, 8, 0xEE, 0xEE, 0xEE, 0xEE};
    std::vector<RwUInt8> bytes = ImageChunkBody(1, 2, 32, 8, rows, {});
    RwImage *image = ReadChunk(bytes);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(4, image->stride);
    EXPECT_TRUE(SameColour(Rgba(5, 6, 7, 8), ShownColour(image, 0, 1)));
    RwImageDestroy(image);
}

TEST_F(Image, StreamRoundTripKeepsPixelsAndPalette)
{
    RwImage *image = MakeImage(3, 2, 8);
    for (RwInt32 i = 0; i < 256; i++)
        image->palette[i] = Rgba(static_cast<RwUInt8>(i), static_cast<RwUInt8>(255 - i), 7, 200);
    for (RwInt32 i = 0; i < image->stride * 2; i++)
        image->cpPixels[i] = static_cast<RwUInt8>(i * 13);
    RwStream *out = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMWRITE, nullptr);
    ASSERT_NE(nullptr, RwImageStreamWrite(image, out));
    RwMemory mem = {nullptr, 0};
    RwStreamClose(out, &mem);
    ASSERT_EQ(12 + RwImageStreamGetSize(image), mem.length);
    EXPECT_EQ(28u + 8 + 1024, RwImageStreamGetSize(image));
    // Header written by hand-checkable fields.
    EXPECT_EQ(0x18, mem.start[0]);
    EXPECT_EQ(1, mem.start[12]);
    EXPECT_EQ(16, mem.start[16]);
    EXPECT_EQ(3, mem.start[24]);
    std::vector<RwUInt8> body(mem.start + 12, mem.start + mem.length);
    RwFree(mem.start);
    RwImage *back = ReadChunk(body);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(0, memcmp(image->cpPixels, back->cpPixels, 16));
    EXPECT_EQ(0, memcmp(image->palette, back->palette, 1024));
    RwImageDestroy(image);
    RwImageDestroy(back);
}

TEST_F(Image, StreamRefusesHostileHeaders)
{
    std::vector<RwUInt8> badDepth = ImageChunkBody(1, 1, 16, 4, {0, 0, 0, 0}, {});
    EXPECT_EQ(nullptr, ReadChunk(badDepth));
    EXPECT_EQ(E_RW_INVIMAGEDEPTH, TakeErrorCode());
    std::vector<RwUInt8> huge = ImageChunkBody(0x40000000, 0x40000000, 32, 16, {}, {});
    EXPECT_EQ(nullptr, ReadChunk(huge));
    EXPECT_EQ(E_RW_INVIMAGESIZE, TakeErrorCode());
    std::vector<RwUInt8> negative = ImageChunkBody(-5, 2, 32, -20, {}, {});
    EXPECT_EQ(nullptr, ReadChunk(negative));
    TakeError();
}

TEST_F(Image, StreamTruncatedAtEveryOffsetFailsCleanly)
{
    std::vector<RwUInt8> rows = {1, 2, 0, 0, 3, 4, 0, 0};
    const std::vector<RwUInt8> full = ImageChunkBody(2, 2, 4, 4, rows, std::vector<RwUInt8>(64, 5));
    for (size_t cut = 0; cut < full.size(); cut++) {
        std::vector<RwUInt8> part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        RwImage *image = ReadChunk(part);
        EXPECT_EQ(nullptr, image) << cut;
        if (image)
            RwImageDestroy(image);
        TakeError();
    }
}

namespace {
::testing::Environment *const engineEnvironment =
    ::testing::AddGlobalTestEnvironment(new ImageEngineEnvironment(RegisterImagePlugin));
}  // namespace
