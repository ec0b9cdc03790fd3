#include "imagetestutil.h"

#include <cmath>
#include <vector>

#include "gfx/core/resample.h"

namespace {

class Resample : public ImageTest {
protected:
    RwImage *Patterned(RwInt32 width, RwInt32 height)
    {
        RwImage *image = Owned(width, height, 32);
        for (RwInt32 y = 0; y < height; y++)
            for (RwInt32 x = 0; x < width; x++)
                *PixelAt(image, x, y) = Rgba(static_cast<RwUInt8>(x * 37 + y * 11), static_cast<RwUInt8>(y * 53 + 7),
                                             static_cast<RwUInt8>((x ^ y) * 29), static_cast<RwUInt8>(255 - x * 9));
        return image;
    }
};

}  // namespace

TEST_F(Resample, HalvingAveragesEachBlockWithShortLastPixel)
{
    RwImage *src = Patterned(4, 4);
    RwImage *dst = Owned(2, 2, 32);
    ASSERT_EQ(dst, RwImageResample(dst, src));
    // Each block's second row and column weigh 65535/65536.
    const double w = 65535.0 / 65536.0;
    for (RwInt32 j = 0; j < 2; j++)
        for (RwInt32 i = 0; i < 2; i++) {
            const RwUInt8 *a = &PixelAt(src, 2 * i, 2 * j)->red, *b = &PixelAt(src, 2 * i + 1, 2 * j)->red;
            const RwUInt8 *c = &PixelAt(src, 2 * i, 2 * j + 1)->red, *d = &PixelAt(src, 2 * i + 1, 2 * j + 1)->red;
            const RwUInt8 *got = &PixelAt(dst, i, j)->red;
            for (RwInt32 ch = 0; ch < 4; ch++)
                EXPECT_NEAR(std::floor((a[ch] + (b[ch] + c[ch]) * w + d[ch] * w * w) / ((1 + w) * (1 + w)) + 0.5),
                            got[ch], 1)
                    << i << "," << j << " channel " << ch;
        }
}

TEST_F(Resample, UnevenRatioWeighsPartlyCoveredPixels)
{
    // Three pixels to two: step 98304. Pixel 0 takes source 0 whole and 32767/65536 of
    // source 1; pixel 1 takes 32768/65536 of source 1 and 65535/65536 of source 2; both
    // divide by 98303/65536.
    RwImage *src = Row({Rgba(0, 200, 255, 255), Rgba(98, 100, 255, 0), Rgba(200, 50, 255, 255)});
    RwImage *dst = Owned(2, 1, 32);
    ASSERT_EQ(dst, RwImageResample(dst, src));
    EXPECT_EQ(Rgba(33, 167, 255, 170), *PixelAt(dst, 0, 0));
    EXPECT_EQ(Rgba(166, 67, 255, 170), *PixelAt(dst, 1, 0));
}

TEST_F(Resample, SameSizeCopiesAndWholeFactorsRepeatExactly)
{
    RwImage *src = Patterned(3, 2);
    const struct {
        RwInt32 width, height;
    } sizes[] = {{3, 2}, {6, 6}, {3, 8}};
    for (const auto &s : sizes) {
        RwImage *dst = Owned(s.width, s.height, 32);
        ASSERT_EQ(dst, RwImageResample(dst, src));
        const RwInt32 fx = s.width / 3, fy = s.height / 2;
        for (RwInt32 y = 0; y < s.height; y++)
            for (RwInt32 x = 0; x < s.width; x++)
                EXPECT_EQ(*PixelAt(src, x / fx, y / fy), *PixelAt(dst, x, y)) << s.width << "x" << s.height;
    }
    // Uniform blocks stay exact when halving.
    RwImage *blocks = Owned(4, 4, 32);
    for (RwInt32 y = 0; y < 4; y++)
        for (RwInt32 x = 0; x < 4; x++)
            *PixelAt(blocks, x, y) = (x < 2) ? Rgba(10, 200, 30, 255) : Rgba(0, 0, 255, 7);
    RwImage *half = Owned(2, 2, 32);
    RwImageResample(half, blocks);
    EXPECT_EQ(Rgba(10, 200, 30, 255), *PixelAt(half, 0, 1));
    EXPECT_EQ(Rgba(0, 0, 255, 7), *PixelAt(half, 1, 0));
}

TEST_F(Resample, GammaFlagIsAddedNeverCleared)
{
    RwImage *src = Patterned(2, 2);
    RwImage *dst = Owned(1, 1, 32);
    src->flags |= rwIMAGEGAMMACORRECTED;
    RwImageResample(dst, src);
    EXPECT_EQ(rwIMAGEGAMMACORRECTED, dst->flags & rwIMAGEGAMMACORRECTED);
    src->flags &= ~rwIMAGEGAMMACORRECTED;
    RwImageResample(dst, src);
    EXPECT_EQ(rwIMAGEGAMMACORRECTED, dst->flags & rwIMAGEGAMMACORRECTED);
}

TEST_F(Resample, RefusesZeroSizesAndPalettisedImages)
{
    RwImage *src = Patterned(4, 4);
    EXPECT_EQ(nullptr, RwImageCreateResample(src, 0, 4));
    EXPECT_EQ(E_RW_INVIMAGESIZE, TakeErrorCode());
    EXPECT_EQ(nullptr, RwImageCreateResample(src, 4, -1));
    EXPECT_EQ(E_RW_INVIMAGESIZE, TakeErrorCode());
    RwImage *dst = Owned(2, 2, 32);
    dst->width = 0;   // would divide by zero
    EXPECT_EQ(nullptr, RwImageResample(dst, src));
    EXPECT_EQ(E_RW_INVIMAGESIZE, TakeErrorCode());
    dst->width = 2;
    src->height = 0;
    EXPECT_EQ(nullptr, RwImageResample(dst, src));
    EXPECT_EQ(E_RW_INVIMAGESIZE, TakeErrorCode());
    EXPECT_EQ(nullptr, RwImageResample(dst, Owned(2, 2, 8)));
    EXPECT_EQ(E_RW_INVIMAGEDEPTH, TakeErrorCode());
    src->height = 4;
}

TEST_F(Resample, RunningOutOfMemoryIsAnErrorNeverAnException)
{
    RwImage *src = Patterned(4, 4);
    RwImage *dst = Owned(2, 2, 32);
    // The span tables are the resampler's one allocation.
    rwTestMemory.failAfter = 0;
    EXPECT_EQ(nullptr, RwImageResample(dst, src));
    rwTestMemory.failAfter = -1;
    EXPECT_EQ(E_RW_NOMEM, TakeErrorCode());
    // A reduction from a width no table could cover is refused before any pixel is read.
    src->width = 0x7FFFFFFF;
    EXPECT_EQ(nullptr, RwImageResample(Owned(1, 1, 32), src));
    EXPECT_EQ(nullptr, RwImageCreateResample(src, 1, 1));
    src->width = 4;
    EXPECT_EQ(E_RW_NOMEM, TakeErrorCode());
}

TEST_F(Resample, HugeEnlargementStaysInsideSource)
{
    RwImage *src = Patterned(2, 1);
    RwImage *dst = Owned(140000, 1, 32);
    EXPECT_EQ(dst, RwImageResample(dst, src));
    EXPECT_EQ(*PixelAt(src, 1, 0), *PixelAt(dst, 139999, 0));
}

TEST_F(Resample, CreateResampleExpandsPalettisedSource)
{
    RwImage *src = Owned(4, 2, 8);
    src->palette[1] = Rgba(100, 150, 200, 250);
    memset(src->cpPixels, 1, static_cast<size_t>(src->stride) * 2);
    src->flags |= rwIMAGEGAMMACORRECTED;
    RwImage *dst = Keep(RwImageCreateResample(src, 2, 1));
    ASSERT_NE(nullptr, dst);
    EXPECT_EQ(32, dst->depth);
    EXPECT_EQ(2, dst->width);
    EXPECT_EQ(Rgba(100, 150, 200, 250), *PixelAt(dst, 1, 0));
    EXPECT_EQ(rwIMAGEGAMMACORRECTED, dst->flags & rwIMAGEGAMMACORRECTED);
}

TEST_F(Resample, CreateResampleFreesEverythingOnFailure)
{
    for (RwImage *src : {Patterned(4, 4), Owned(4, 4, 4)}) {
        for (RwInt32 fail = 0; fail < 6; fail++) {
            const RwInt32 live = rwTestMemory.live;
            rwTestMemory.failAfter = fail;
            RwImage *dst = RwImageCreateResample(src, 2, 2);
            rwTestMemory.failAfter = -1;
            if (dst)
                RwImageDestroy(dst);
            EXPECT_EQ(live, rwTestMemory.live) << src->depth << " failing after " << fail;
        }
    }
    TakeError();
}

namespace {
::testing::Environment *const engineEnvironment =
    ::testing::AddGlobalTestEnvironment(new ImageEngineEnvironment());
}  // namespace
