#include "imagetestutil.h"

#include <cmath>
#include <string>
#include <vector>

#include "support/stream_bytes.h"

namespace {

const RwUInt32 pluginID = 0x7F01;
RwInt32 pluginOffset = -1;
RwInt32 destructed = 0;

void *ConstructPlugin(void *object, RwInt32 offset, RwInt32 size)
{
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

typedef ImageTest Image;

}  // namespace

// Life cycle and pixels ---------------------------------------------------------------------------

TEST_F(Image, CreateRunsPluginConstructorsAndDestroyTheDestructors)
{
    ASSERT_GE(pluginOffset, 28);
    RwImage *image = RwImageCreate(3, 2, 32);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(nullptr, image->cpPixels);
    EXPECT_EQ(0xC0FFEEu, *reinterpret_cast<RwUInt32 *>(reinterpret_cast<RwUInt8 *>(image) + pluginOffset));
    const RwInt32 before = destructed;
    EXPECT_TRUE(RwImageDestroy(image));
    EXPECT_EQ(before + 1, destructed);
}

TEST_F(Image, PixelBlockHasRoundedStrideAndPaletteAfterRows)
{
    const struct {
        RwInt32 width, height, depth, stride;
    } cases[] = {{3, 5, 4, 4}, {3, 2, 32, 12}, {5, 2, 8, 8}, {1, 1, 8, 4}};
    for (const auto &c : cases) {
        RwImage *image = Owned(c.width, c.height, c.depth);
        ASSERT_NE(nullptr, image);
        EXPECT_EQ(c.stride, image->stride) << c.depth;
        EXPECT_EQ(rwIMAGEALLOCATED, image->flags & rwIMAGEALLOCATED);
        if (c.depth == 32) {
            EXPECT_EQ(nullptr, image->palette);
        } else {
            EXPECT_EQ(reinterpret_cast<RwRGBA *>(image->cpPixels + c.stride * c.height), image->palette);
            image->palette[(1 << c.depth) - 1] = Rgba(1, 2, 3, 4);   // the whole palette is ours
        }
    }
}

TEST_F(Image, AllocateRefusesHostileSizesAndReportsOutOfMemory)
{
    const struct {
        RwInt32 width, height;
    } sizes[] = {{0x10000, 0x10000}, {-4, 4}, {4, 0}, {0x7FFFFFFF, 1}};
    RwImage *image = Keep(RwImageCreate(1, 1, 32));
    for (const auto &s : sizes) {
        image->width = s.width;
        image->height = s.height;
        const RwInt32 live = rwTestMemory.live;
        EXPECT_EQ(nullptr, RwImageAllocatePixels(image)) << s.width << "x" << s.height;
        EXPECT_EQ(E_RW_INVIMAGESIZE, TakeErrorCode());
        EXPECT_EQ(live, rwTestMemory.live);
    }
    image->width = image->height = 4;
    rwTestMemory.failAfter = 0;
    EXPECT_EQ(nullptr, RwImageAllocatePixels(image));
    EXPECT_EQ(E_RW_NOMEM, TakeErrorCode());
}

TEST_F(Image, PixelsSetByTheCallerAreNeverFreed)
{
    RwUInt8 pixels[16] = {};
    RwRGBA palette[16] = {};
    RwImage *image = RwImageCreate(2, 2, 4);
    image->cpPixels = pixels;
    image->palette = palette;
    RwImageFreePixels(image);
    EXPECT_EQ(nullptr, image->cpPixels);
    EXPECT_EQ(nullptr, image->palette);
    image->cpPixels = pixels;
    EXPECT_TRUE(RwImageDestroy(image));   // would free stack memory if it thought it owned it
}

// Copies ------------------------------------------------------------------------------------------

TEST_F(Image, CopyConvertsEverySupportedDepthPair)
{
    const struct {
        RwInt32 from, to;
    } pairs[] = {{4, 4}, {8, 8}, {32, 32}, {4, 8}, {4, 32}, {8, 32}};
    const RwRGBA a = Rgba(10, 20, 30, 40), b = Rgba(50, 60, 70, 80);
    for (const auto &p : pairs) {
        RwImage *src = Owned(3, 2, p.from);
        RwImage *dst = Owned(2, 2, p.to);   // a wider source is fine: the destination's size is copied
        if (p.from == 32) {
            *PixelAt(src, 1, 0) = b;
            *PixelAt(src, 1, 1) = a;
        } else {
            src->palette[15] = b;
            src->palette[3] = a;
            // A converted 4-bit index keeps its low nibble only.
            src->cpPixels[1] = (p.from == 4 && p.to != 4) ? 0xFF : 15;
            src->cpPixels[src->stride + 1] = 3;
        }
        src->flags |= rwIMAGEGAMMACORRECTED;
        ASSERT_EQ(dst, RwImageCopy(dst, src)) << p.from << "->" << p.to;
        EXPECT_EQ(rwIMAGEGAMMACORRECTED, dst->flags & rwIMAGEGAMMACORRECTED);
        if (p.from == 4 && p.to == 8) {
            EXPECT_EQ(15, dst->cpPixels[1]);
            EXPECT_EQ(3, dst->cpPixels[dst->stride + 1]);
            EXPECT_EQ(Rgba(0, 0, 0, 0), dst->palette[15]);   // indices only, no palette
            continue;
        }
        EXPECT_EQ(b, ShownColour(dst, 1, 0)) << p.from << "->" << p.to;
        EXPECT_EQ(a, ShownColour(dst, 1, 1)) << p.from << "->" << p.to;
    }
    // A plain source clears the destination's gamma flag.
    RwImage *plain = Owned(1, 1, 32);
    RwImage *flagged = Owned(1, 1, 32);
    flagged->flags |= rwIMAGEGAMMACORRECTED;
    RwImageCopy(flagged, plain);
    EXPECT_EQ(0u, flagged->flags & rwIMAGEGAMMACORRECTED);
}

TEST_F(Image, CopyRefusesWhatItCannotDo)
{
    const struct {
        RwInt32 srcWidth, srcDepth, dstWidth, dstDepth;
        bool srcPixels;
        RwUInt32 error;
    } cases[] = {
        {2, 32, 2, 8, true, E_RW_INVIMAGEFORMAT},   {2, 8, 2, 4, true, E_RW_INVIMAGEFORMAT},
        {2, 32, 3, 32, true, E_RW_INVIMAGESIZE},    {2, 32, 2, 32, false, E_RW_NULLP},
    };
    for (const auto &c : cases) {
        RwImage *src = c.srcPixels ? Owned(c.srcWidth, 2, c.srcDepth) : Keep(RwImageCreate(c.srcWidth, 2, c.srcDepth));
        RwImage *dst = Owned(c.dstWidth, 2, c.dstDepth);
        EXPECT_EQ(nullptr, RwImageCopy(dst, src)) << c.srcDepth << "->" << c.dstDepth;
        EXPECT_EQ(c.error, TakeErrorCode());
    }
}

// Gamma -------------------------------------------------------------------------------------------

TEST_F(Image, GammaTablesFollowThePowerCurve)
{
    RwImageSetGamma(1.0f);
    for (RwInt32 i = 0; i < 256; i++) {
        ASSERT_EQ(i, RwImageGetGammaTable()[i]);
        ASSERT_EQ(i, RwImageGetInvGammaTable()[i]);
    }
    RwImageSetGamma(2.2f);
    EXPECT_FLOAT_EQ(2.2f, RwImageGetGamma());
    for (RwInt32 i = 1; i < 256; i++) {
        const double x = i / 255.0;
        EXPECT_NEAR(std::floor(std::pow(x, 1 / 2.2) * 255 + 0.5), RwImageGetGammaTable()[i], 1) << i;
        EXPECT_NEAR(std::floor(std::pow(x, 2.2) * 255 + 0.5), RwImageGetInvGammaTable()[i], 1) << i;
    }
    EXPECT_EQ(0, RwImageGetGammaTable()[0]);
    EXPECT_EQ(186, RwImageGetGammaTable()[128]);    // 255 * (128/255)^(1/2.2) = 186.1
    EXPECT_EQ(56, RwImageGetInvGammaTable()[128]);  // 255 * (128/255)^2.2 = 55.98
}

TEST_F(Image, GammaCorrectMapsColoursNotAlphaEachTimeItIsAsked)
{
    RwImageSetGamma(2.2f);
    const RwUInt8 *t = RwImageGetGammaTable();
    RwImage *pal = Owned(1, 1, 8);
    pal->palette[255] = Rgba(128, 64, 255, 128);
    RwImage *wide = Owned(2, 2, 32);
    *PixelAt(wide, 1, 1) = Rgba(100, 0, 200, 7);
    for (RwImage *image : {pal, wide}) {
        ASSERT_EQ(image, RwImageGammaCorrect(image));
        EXPECT_EQ(rwIMAGEGAMMACORRECTED, image->flags & rwIMAGEGAMMACORRECTED);
    }
    EXPECT_EQ(Rgba(t[128], t[64], 255, 128), pal->palette[255]);
    EXPECT_EQ(Rgba(t[100], 0, t[200], 7), *PixelAt(wide, 1, 1));
    RwImageGammaCorrect(pal);   // callers look at the flag themselves
    EXPECT_EQ(t[t[128]], pal->palette[255].red);

    RwRGBA px[2] = {Rgba(128, 255, 0, 9), Rgba(64, 32, 16, 200)};
    RwImageGammaUncorrectPixels(px, px, 2);
    const RwUInt8 *inv = RwImageGetInvGammaTable();
    EXPECT_EQ(Rgba(inv[128], 255, 0, 9), px[0]);
    EXPECT_EQ(Rgba(inv[64], inv[32], inv[16], 200), px[1]);
}

TEST_F(Image, GammaCorrectRefusesMissingPixelsAndOtherDepths)
{
    const struct {
        RwInt32 depth;
        RwUInt32 error;
    } cases[] = {{4, E_RW_NULLP}, {8, E_RW_NULLP}, {32, E_RW_NULLP}, {16, E_RW_INVIMAGEDEPTH}};
    for (const auto &c : cases) {
        RwImage *image = Keep(RwImageCreate(1, 1, c.depth));
        EXPECT_EQ(nullptr, RwImageGammaCorrect(image)) << c.depth;
        EXPECT_EQ(c.error, TakeErrorCode());
        EXPECT_EQ(0u, image->flags & rwIMAGEGAMMACORRECTED);
    }
}

// Masks -------------------------------------------------------------------------------------------

TEST_F(Image, ApplyMaskTurnsPalettisedImageIntoWideImage)
{
    RwImage *image = Owned(2, 1, 8);
    image->palette[1] = Rgba(10, 20, 30, 255);
    image->palette[2] = Rgba(40, 50, 60, 255);
    image->cpPixels[0] = 1;
    image->cpPixels[1] = 2;
    image->flags |= rwIMAGEGAMMACORRECTED;
    RwImage *mask = Row({Rgba(0, 0, 0, 77), Rgba(0, 0, 0, 99)});
    ASSERT_EQ(image, RwImageApplyMask(image, mask));
    EXPECT_EQ(32, image->depth);
    EXPECT_EQ(8, image->stride);
    EXPECT_EQ(nullptr, image->palette);
    EXPECT_EQ(rwIMAGEGAMMACORRECTED, image->flags & rwIMAGEGAMMACORRECTED);
    EXPECT_EQ(Rgba(10, 20, 30, 77), ShownColour(image, 0, 0));
    EXPECT_EQ(Rgba(40, 50, 60, 99), ShownColour(image, 1, 0));
}

TEST_F(Image, MaskAlphaIsLargestChannelOfMaskColour)
{
    RwImage *mask = Owned(3, 1, 4);
    mask->palette[3] = Rgba(7, 3, 200, 0);
    mask->palette[15] = Rgba(10, 90, 40, 255);
    mask->cpPixels[0] = 3;
    mask->cpPixels[1] = 0xFF;   // a stray high nibble still picks entry 15
    RwImage *wideMask = Row({Rgba(1, 2, 3, 0), Rgba(10, 90, 40, 255), Rgba(0, 0, 0, 255)});
    for (RwImage *m : {mask, wideMask})
        ASSERT_EQ(m, RwImageMakeMask(m));
    EXPECT_EQ(200, mask->palette[3].alpha);
    EXPECT_EQ(90, PixelAt(wideMask, 1, 0)->alpha);
    RwImage *image = Owned(3, 1, 32);
    ASSERT_EQ(image, RwImageApplyMask(image, mask));
    EXPECT_EQ(200, PixelAt(image, 0, 0)->alpha);
    EXPECT_EQ(90, PixelAt(image, 1, 0)->alpha);
    ASSERT_EQ(image, RwImageApplyMask(image, wideMask));
    EXPECT_EQ(3, PixelAt(image, 0, 0)->alpha);
    EXPECT_EQ(0, PixelAt(image, 2, 0)->alpha);
    // A palettised image used as its own mask keeps its alpha.
    RwImage *self = Owned(2, 1, 8);
    self->palette[1] = Rgba(10, 20, 30, 40);
    self->cpPixels[1] = 1;
    ASSERT_EQ(self, RwImageApplyMask(self, self));
    EXPECT_EQ(Rgba(10, 20, 30, 40), ShownColour(self, 1, 0));
}

TEST_F(Image, ApplyMaskRefusesOtherSizesAndDepths)
{
    const struct {
        RwInt32 imageDepth, maskHeight, maskDepth;
        RwUInt32 error;
    } cases[] = {{32, 3, 32, E_RW_INVIMAGESIZE}, {16, 2, 32, E_RW_INVIMAGEFORMAT}, {32, 2, 16, E_RW_INVIMAGEFORMAT}};
    for (const auto &c : cases) {
        RwImage *image = Owned(2, 2, 32);
        RwImage *mask = Owned(2, c.maskHeight, 32);
        image->depth = c.imageDepth;
        mask->depth = c.maskDepth;
        EXPECT_EQ(nullptr, RwImageApplyMask(image, mask)) << c.imageDepth << " " << c.maskDepth;
        EXPECT_EQ(c.error, TakeErrorCode());
        EXPECT_EQ(c.imageDepth, image->depth);
        image->depth = mask->depth = 32;
    }
}

// Path, formats and files -------------------------------------------------------------------------

namespace {

std::vector<std::string> candidates;
size_t stopAfter = 0;

const RwChar *RecordCandidate(RwChar *candidate, void *data)
{
    candidates.push_back(candidate);
    return candidates.size() == stopAfter ? nullptr : candidate;
}

}  // namespace

TEST_F(Image, PathSearchTriesElementsLeftToRightAndAbsoluteNamesAlone)
{
    const std::string longDir = std::string(300, 'd') + "/";
    const std::string longName(400, 'n');
    const struct {
        std::string path, name;
        size_t stop;
        std::vector<std::string> tried;
    } cases[] = {
        {"data/;data/tex/", "wood.png", 0, {"data/wood.png", "data/tex/wood.png"}},
        {"data/;data/tex/", "wood.png", 1, {"data/wood.png"}},
        {"data/;data/tex/", "C:wood.png", 0, {"C:wood.png"}},
        {"data/;data/tex/", "\\wood.png", 0, {"\\wood.png"}},
        {"data/;data/tex/", "1:x.png", 0, {"data/1:x.png", "data/tex/1:x.png"}},
        {"a/;", "x", 0, {"a/x", "x"}},
        {"", "wood.png", 0, {"wood.png"}},
        {longDir, longName, 0, {longDir + longName}},   // grows the scratch buffer
    };
    for (const auto &c : cases) {
        ASSERT_NE(nullptr, RwImageSetPath(c.path.c_str()));
        EXPECT_EQ(c.path, RwImageGetPath());
        candidates.clear();
        stopAfter = c.stop;
        RwImagePathSearch(c.name.c_str(), 5, RecordCandidate, nullptr);
        EXPECT_EQ(c.tried, candidates) << c.path << " + " << c.name.substr(0, 10);
    }
}

TEST_F(Image, PathAndScratchBufferReportOutOfMemory)
{
    RwImageSetPath("keep/");
    rwTestMemory.failRealloc = true;
    const std::string huge(5000, 'p');
    EXPECT_EQ(nullptr, RwImageSetPath(huge.c_str()));
    EXPECT_EQ(E_RW_NOMEM, TakeErrorCode());
    EXPECT_STREQ("keep/", RwImageGetPath());
    candidates.clear();
    EXPECT_EQ(nullptr, RwImagePathSearch(huge.c_str(), 5, RecordCandidate, nullptr));
    EXPECT_EQ(E_RW_NOMEM, TakeErrorCode());
    EXPECT_TRUE(candidates.empty());
    rwTestMemory.failRealloc = false;
    // The path may be set from itself.
    RwImageSetPath("abc/;def/");
    RwImageSetPath(RwImageGetPath() + 5);
    EXPECT_STREQ("def/", RwImageGetPath());
}

namespace {

std::vector<std::string> calls;
RwInt32 readFailures = 0;   // reads that return NULL before one succeeds

RwImage *FakeRead(const RwChar *name)
{
    calls.push_back(name);
    if (readFailures > 0) {
        --readFailures;
        return nullptr;
    }
    RwImage *image = MakeImage(2, 1, 32);
    *PixelAt(image, 0, 0) = Rgba(255, 255, 255, 255);
    *PixelAt(image, 1, 0) = Rgba(0, 128, 0, 255);
    return image;
}

RwImage *OtherRead(const RwChar *name)
{
    return MakeImage(3, 1, 32);
}

RwImage *FakeWrite(RwImage *image, const RwChar *name)
{
    calls.push_back(name);
    return image;
}

RwImage *OtherWrite(RwImage *image, const RwChar *name)
{
    calls.push_back(std::string("other:") + name);
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
    WriteFileBytes(name, "x");
}

}  // namespace

TEST_F(Image, RegisterFormatKeepsBothCasesAndReplacesOnlyGivenCallbacks)
{
    ASSERT_TRUE(RwImageRegisterFormat("TgA", FakeRead, FakeWrite));
    RwImageFormat *f = FindRecord(".tga");
    ASSERT_NE(nullptr, f);
    EXPECT_STREQ(".TGA", f->uCaseExtension);
    EXPECT_EQ(f, RwImageGetFormatList());   // newest first
    ASSERT_TRUE(RwImageRegisterFormat("tga", OtherRead, nullptr));
    EXPECT_EQ(f, FindRecord(".tga"));
    EXPECT_EQ(OtherRead, f->imageRead);
    EXPECT_EQ(FakeWrite, f->imageWrite);
    EXPECT_EQ(f, RwImageGetFormatList());   // no second record

    RwImageRegisterFormat("abcdefghijklmnopqrstuvwxyz", FakeRead, nullptr);
    f = FindRecord(".abcdefghijklmnopqr");
    ASSERT_NE(nullptr, f);
    EXPECT_STREQ(".ABCDEFGHIJKLMNOPQR", f->uCaseExtension);
}

TEST_F(Image, ReadMatchesExtensionOfBaseNameInEitherCase)
{
    RwImageRegisterFormat("fkr", FakeRead, FakeWrite);
    RwImageRegisterFormat("b/c", FakeRead, nullptr);
    RwImageRegisterFormat("wonly", nullptr, FakeWrite);
    const struct {
        const char *name;
        bool read;
    } cases[] = {{"imgdir/tex.FKR", true}, {"imgdir/tex.fkr", true}, {"imgdir/Tex.Fkr", false},
                 {"a.b/c", false},         {"imgdir/noext", false},  {"imgdir/x.unknown", false},
                 {"imgdir/a.wonly", false}};
    for (const auto &c : cases) {
        Touch(c.name);
        calls.clear();
        RwImage *image = Keep(RwImageRead(c.name));
        EXPECT_EQ(c.read, image != nullptr) << c.name;
        EXPECT_EQ(c.read ? std::vector<std::string>{c.name} : std::vector<std::string>{}, calls) << c.name;
        EXPECT_EQ(E_RW_NOERROR, TakeErrorCode());
    }
}

TEST_F(Image, ReadWalksPathUntilAnImageIsMade)
{
    RwImageRegisterFormat("fkr", FakeRead, FakeWrite);
    Touch("imgdir/wood.fkr");
    Touch("imgdir/tex/wood.fkr");
    RwImageSetPath("missing/;imgdir/;imgdir/tex/");
    calls.clear();
    readFailures = 1;
    ASSERT_NE(nullptr, Keep(RwImageRead("wood.fkr")));
    // The missing folder is not handed to the reader; the first file fails to read.
    EXPECT_EQ((std::vector<std::string>{"imgdir/wood.fkr", "imgdir/tex/wood.fkr"}), calls);
    calls.clear();
    EXPECT_EQ(nullptr, RwImageRead("absent.fkr"));
    EXPECT_TRUE(calls.empty());
}

TEST_F(Image, WriteUsesNameUnchangedAndNewestFormatWithWriter)
{
    RwImageRegisterFormat("fkw", FakeRead, FakeWrite);
    RwImageRegisterFormat("fkw", nullptr, OtherWrite);
    RwImageRegisterFormat("nowrite", FakeRead, nullptr);
    RwImageSetPath("somewhere/");
    RwImage *image = Owned(1, 1, 32);
    calls.clear();
    EXPECT_EQ(image, RwImageWrite(image, "out/pic.FKW"));
    EXPECT_EQ((std::vector<std::string>{"other:out/pic.FKW"}), calls);
    for (const char *name : {"pic.nowrite", "pic", "pic.zzz"})
        EXPECT_EQ(nullptr, RwImageWrite(image, name)) << name;
    EXPECT_EQ(nullptr, RwImageWrite(nullptr, "pic.fkw"));
    EXPECT_EQ(1u, calls.size());
}

TEST_F(Image, ReadMaskedAppliesMaskFromSecondFile)
{
    RwImageRegisterFormat("msk", FakeRead, nullptr);
    RwImageRegisterFormat("bad", OtherRead, nullptr);
    for (const char *name : {"imgdir/pic.msk", "imgdir/mask.msk", "imgdir/mask.bad"})
        Touch(name);
    RwImage *image = Keep(RwImageReadMasked("imgdir/pic.msk", "imgdir/mask.msk"));
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(255, PixelAt(image, 0, 0)->alpha);
    EXPECT_EQ(128, PixelAt(image, 1, 0)->alpha);
    EXPECT_NE(nullptr, Keep(RwImageReadMasked("imgdir/pic.msk", "")));
    EXPECT_NE(nullptr, Keep(RwImageReadMasked("imgdir/pic.msk", nullptr)));
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

TEST_F(Image, RasterTransfersGoToDeviceAndCarryGammaFlag)
{
    RwImage *image = Owned(1, 1, 32);
    RwRaster raster = {};
    ASSERT_EQ(&raster, RwRasterSetFromImage(&raster, image));
    EXPECT_EQ(0, raster.privateFlags & rwRASTERGAMMACORRECTED);
    image->flags |= rwIMAGEGAMMACORRECTED;
    RwRasterSetFromImage(&raster, image);
    EXPECT_EQ(rwRASTERGAMMACORRECTED, raster.privateFlags & rwRASTERGAMMACORRECTED);

    RwImage *back = Owned(1, 1, 32);
    ASSERT_EQ(back, RwImageSetFromRaster(back, &raster));
    EXPECT_EQ(rwIMAGEGAMMACORRECTED, back->flags & rwIMAGEGAMMACORRECTED);

    RwTestDriverSetStandardResult(rwSTANDARDIMAGEGETRASTER, FALSE);
    RwTestDriverSetStandardResult(rwSTANDARDRASTERSETIMAGE, FALSE);
    EXPECT_EQ(nullptr, RwImageSetFromRaster(back, &raster));
    EXPECT_EQ(nullptr, RwRasterSetFromImage(&raster, image));
}

// Streams -----------------------------------------------------------------------------------------

namespace {

// An image chunk's payload written from the layout: struct chunk, rows, palette.
Bytes ImageChunkBody(RwInt32 width, RwInt32 height, RwInt32 depth, RwInt32 stride, const Bytes &rows,
                     const Bytes &palette)
{
    Bytes out;
    PutHeader(out, 1, 16);
    for (RwInt32 v : {width, height, depth, stride})
        Put32(out, static_cast<RwUInt32>(v));
    out.insert(out.end(), rows.begin(), rows.end());
    out.insert(out.end(), palette.begin(), palette.end());
    return out;
}

RwImage *ReadChunk(Bytes bytes)
{
    RwStream *stream = OpenRead(bytes);
    RwImage *image = RwImageStreamRead(stream);
    RwStreamClose(stream, nullptr);
    return image;
}

}  // namespace

TEST_F(Image, StreamReadsHandAssembledChunks)
{
    Bytes palette(64);
    palette[4 * 3 + 0] = 9;
    palette[4 * 3 + 3] = 99;
    RwImage *image = Keep(ReadChunk(ImageChunkBody(2, 2, 4, 4, {1, 2, 0, 0, 3, 4, 0, 0}, palette)));
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(2, image->width);
    EXPECT_EQ(4, image->depth);
    EXPECT_EQ(3, image->cpPixels[4]);
    EXPECT_EQ(4, image->cpPixels[5]);
    EXPECT_EQ(Rgba(9, 0, 0, 99), image->palette[3]);
    // Stored stride 8 for 1-pixel rows of 32 bits: four padding bytes per row are skipped.
    image = Keep(ReadChunk(ImageChunkBody(1, 2, 32, 8, {1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE, 5, 6, 7, 8, 0xEE}, {})));
    EXPECT_EQ(nullptr, image);   // one row short
    TakeError();
    image = Keep(ReadChunk(
        ImageChunkBody(1, 2, 32, 8, {1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE, 5, 6, 7, 8, 0xEE, 0xEE, 0xEE, 0xEE}, {})));
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(4, image->stride);
    EXPECT_EQ(Rgba(5, 6, 7, 8), ShownColour(image, 0, 1));
    // Stored stride 3 for rows of three 8-bit pixels: the padding of each row is zero.
    image = Keep(ReadChunk(ImageChunkBody(3, 2, 8, 3, {7, 8, 9, 10, 11, 12}, Bytes(1024, 1))));
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(10, image->cpPixels[4]);
    EXPECT_EQ(0, image->cpPixels[7]);
}

TEST_F(Image, StreamRoundTripKeepsPixelsAndPalette)
{
    RwImage *image = Owned(3, 2, 8);
    for (RwInt32 i = 0; i < 256; i++)
        image->palette[i] = Rgba(static_cast<RwUInt8>(i), static_cast<RwUInt8>(255 - i), 7, 200);
    for (RwInt32 i = 0; i < image->stride * 2; i++)
        image->cpPixels[i] = static_cast<RwUInt8>(i * 13);
    RwStream *out = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMWRITE, nullptr);
    ASSERT_NE(nullptr, RwImageStreamWrite(image, out));
    const Bytes written = CloseWritten(out);
    EXPECT_EQ(28u + 8 + 1024, RwImageStreamGetSize(image));
    Bytes expected;
    PutHeader(expected, 0x18, 28 + 8 + 1024);
    const Bytes body = ImageChunkBody(3, 2, 8, 4, Bytes(image->cpPixels, image->cpPixels + 8),
                                      Bytes(reinterpret_cast<RwUInt8 *>(image->palette),
                                            reinterpret_cast<RwUInt8 *>(image->palette) + 1024));
    expected.insert(expected.end(), body.begin(), body.end());
    EXPECT_EQ(expected, written);
    RwImage *back = Keep(ReadChunk(body));
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(0, memcmp(image->cpPixels, back->cpPixels, 8));
    EXPECT_EQ(0, memcmp(image->palette, back->palette, 1024));
    Bytes chunk = written;
    auto found = [](RwStream *s) {
        return RwStreamFindChunk(s, 0x18, nullptr, nullptr) ? RwImageStreamRead(s) : nullptr;
    };
    ExpectCustomReadsAsMemory(chunk, found, RwImageDestroy, "image");
}

TEST_F(Image, StreamRefusesHostileHeadersAndTruncation)
{
    const struct {
        RwInt32 width, height, depth, stride;
        RwUInt32 error;
    } cases[] = {{1, 1, 16, 4, E_RW_INVIMAGEDEPTH},
                 {0x40000000, 0x40000000, 32, 16, E_RW_INVIMAGESIZE},
                 {-5, 2, 32, -20, E_RW_INVIMAGESIZE},
                 {-5, 2, 32, 20, E_RW_INVIMAGESIZE},
                 {3, 2, 8, 2, E_RW_INVIMAGESIZE},   // a row longer than its stride
                 // Sizes a 92-byte chunk claims but cannot fill: refused before any pixel block.
                 {1, 0x100000, 32, 4, E_RW_READ},
                 {4, 0x1FFFFFF, 32, 16, E_RW_READ},
                 {4, 16, 8, 4, E_RW_READ}};   // rows there, palette missing
    for (const auto &c : cases) {
        Bytes bytes = ImageChunkBody(c.width, c.height, c.depth, c.stride, Bytes(64), {});
        EXPECT_LE(LargestRequestReading(bytes, [this](RwStream *s) { EXPECT_EQ(nullptr, Keep(RwImageStreamRead(s))); }),
                  bytes.size());
        EXPECT_EQ(c.error, TakeErrorCode()) << c.width << " " << c.depth;
    }
    const Bytes full = ImageChunkBody(2, 2, 4, 4, {1, 2, 0, 0, 3, 4, 0, 0}, Bytes(64, 5));
    for (size_t cut = 0; cut < full.size(); cut++) {
        EXPECT_EQ(nullptr, Keep(ReadChunk(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)))))
            << cut;
        TakeError();
    }
}

namespace {
::testing::Environment *const engineEnvironment =
    ::testing::AddGlobalTestEnvironment(new ImageEngineEnvironment(RegisterImagePlugin));
}  // namespace
