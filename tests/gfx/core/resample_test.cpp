#include "imagetestutil.h"

#include <cmath>
#include <vector>

#include "gfx/core/resample.h"

namespace {

class Resample : public ::testing::Test {
protected:
    void SetUp() override
    {
        TakeError();
        liveBefore = allocations.live;
    }
    void TearDown() override
    {
        for (RwImage *image : images)
            RwImageDestroy(image);
        EXPECT_EQ(liveBefore, allocations.live) << "allocations leaked";
    }
    RwImage *Wide(RwInt32 width, RwInt32 height)
    {
        RwImage *image = MakeImage(width, height, 32);
        images.push_back(image);
        return image;
    }
    RwImage *Patterned(RwInt32 width, RwInt32 height)
    {
        RwImage *image = Wide(width, height);
        for (RwInt32 y = 0; y < height; y++)
            for (RwInt32 x = 0; x < width; x++)
                *PixelAt(image, x, y) = Rgba(static_cast<RwUInt8>(x * 37 + y * 11), static_cast<RwUInt8>(y * 53 + 7),
                                             static_cast<RwUInt8>((x ^ y) * 29), static_cast<RwUInt8>(255 - x * 9));
        return image;
    }
    std::vector<RwImage *> images;
    RwInt32 liveBefore = 0;
};

// Weights of the source pixels under one destination pixel, written from the filter's
// definition: a span of step - 1 fixed-point units starting at i x step.
std::vector<std::pair<RwInt32, double>> Taps(RwInt32 i, long long step)
{
    std::vector<std::pair<RwInt32, double>> taps;
    const long long start = i * step;
    const long long end = start + step - 1;
    for (long long p = start >> 16; p <= end >> 16; p++) {
        double w;
        if ((start >> 16) == (end >> 16))
            w = (end - start) / 65536.0;
        else if (p == start >> 16)
            w = (((p + 1) << 16) - start) / 65536.0;
        else if (p == end >> 16)
            w = (end - (p << 16)) / 65536.0;
        else
            w = 1.0;
        taps.push_back({static_cast<RwInt32>(p), w});
    }
    return taps;
}

// The box filter in double precision, as a reference.
RwRGBA Reference(RwImage *src, RwInt32 dstW, RwInt32 dstH, RwInt32 i, RwInt32 j)
{
    const long long stepX = static_cast<long long>(static_cast<double>(src->width) / dstW * 65536.0);
    const long long stepY = static_cast<long long>(static_cast<double>(src->height) / dstH * 65536.0);
    double sum[4] = {0, 0, 0, 0};
    for (const auto &ty : Taps(j, stepY))
        for (const auto &tx : Taps(i, stepX)) {
            const RwRGBA c = *PixelAt(src, tx.first, ty.first);
            const double w = tx.second * ty.second;
            sum[0] += c.red * w;
            sum[1] += c.green * w;
            sum[2] += c.blue * w;
            sum[3] += c.alpha * w;
        }
    const double area = (stepX - 1) / 65536.0 * ((stepY - 1) / 65536.0);
    RwUInt8 out[4];
    for (RwInt32 c = 0; c < 4; c++)
        out[c] = static_cast<RwUInt8>(std::min(255.0, std::floor(sum[c] / area + 0.5)));
    return Rgba(out[0], out[1], out[2], out[3]);
}

void ExpectNear(const RwRGBA &expected, const RwRGBA &actual, RwInt32 tolerance, RwInt32 x, RwInt32 y)
{
    EXPECT_NEAR(expected.red, actual.red, tolerance) << x << "," << y;
    EXPECT_NEAR(expected.green, actual.green, tolerance) << x << "," << y;
    EXPECT_NEAR(expected.blue, actual.blue, tolerance) << x << "," << y;
    EXPECT_NEAR(expected.alpha, actual.alpha, tolerance) << x << "," << y;
}

}  // namespace

TEST_F(Resample, HalvingAveragesEachBlockWithShortLastPixel)
{
    RwImage *src = Patterned(4, 4);
    RwImage *dst = Wide(2, 2);
    ASSERT_EQ(dst, RwImageResample(dst, src));
    const double w = 65535.0 / 65536.0;
    for (RwInt32 j = 0; j < 2; j++)
        for (RwInt32 i = 0; i < 2; i++) {
            const RwRGBA a = *PixelAt(src, 2 * i, 2 * j), b = *PixelAt(src, 2 * i + 1, 2 * j);
            const RwRGBA c = *PixelAt(src, 2 * i, 2 * j + 1), d = *PixelAt(src, 2 * i + 1, 2 * j + 1);
            auto mix = [&](double pa, double pb, double pc, double pd) {
                return std::floor((pa + pb * w + pc * w + pd * w * w) / ((1 + w) * (1 + w)) + 0.5);
            };
            const RwRGBA got = *PixelAt(dst, i, j);
            EXPECT_NEAR(mix(a.red, b.red, c.red, d.red), got.red, 1);
            EXPECT_NEAR(mix(a.green, b.green, c.green, d.green), got.green, 1);
            EXPECT_NEAR(mix(a.blue, b.blue, c.blue, d.blue), got.blue, 1);
            EXPECT_NEAR(mix(a.alpha, b.alpha, c.alpha, d.alpha), got.alpha, 1);
        }
}

TEST_F(Resample, UniformBlocksStayExact)
{
    RwImage *src = Wide(4, 4);
    for (RwInt32 y = 0; y < 4; y++)
        for (RwInt32 x = 0; x < 4; x++)
            *PixelAt(src, x, y) = (x < 2) ? Rgba(10, 200, 30, 255) : Rgba(0, 0, 255, 7);
    RwImage *dst = Wide(2, 2);
    RwImageResample(dst, src);
    EXPECT_TRUE(SameColour(Rgba(10, 200, 30, 255), *PixelAt(dst, 0, 1)));
    EXPECT_TRUE(SameColour(Rgba(0, 0, 255, 7), *PixelAt(dst, 1, 0)));
}

TEST_F(Resample, SameSizeCopiesExactly)
{
    RwImage *src = Patterned(7, 5);
    RwImage *dst = Wide(7, 5);
    RwImageResample(dst, src);
    for (RwInt32 y = 0; y < 5; y++)
        for (RwInt32 x = 0; x < 7; x++)
            EXPECT_TRUE(SameColour(*PixelAt(src, x, y), *PixelAt(dst, x, y))) << x << "," << y;
}

TEST_F(Resample, EnlargingByWholeFactorRepeatsPixels)
{
    RwImage *src = Patterned(3, 2);
    RwImage *dst = Wide(6, 6);
    RwImageResample(dst, src);
    for (RwInt32 y = 0; y < 6; y++)
        for (RwInt32 x = 0; x < 6; x++)
            EXPECT_TRUE(SameColour(*PixelAt(src, x / 2, y / 3), *PixelAt(dst, x, y))) << x << "," << y;
}

TEST_F(Resample, UnevenRatiosFollowTheBoxFilter)
{
    RwImage *src = Patterned(7, 5);
    RwImage *dst = Wide(3, 4);
    RwImageResample(dst, src);
    for (RwInt32 y = 0; y < 4; y++)
        for (RwInt32 x = 0; x < 3; x++)
            ExpectNear(Reference(src, 3, 4, x, y), *PixelAt(dst, x, y), 1, x, y);
}

TEST_F(Resample, GammaFlagIsAddedNeverCleared)
{
    RwImage *src = Patterned(2, 2);
    RwImage *dst = Wide(1, 1);
    src->flags |= rwIMAGEGAMMACORRECTED;
    RwImageResample(dst, src);
    EXPECT_EQ(rwIMAGEGAMMACORRECTED, dst->flags & rwIMAGEGAMMACORRECTED);
    src->flags &= ~rwIMAGEGAMMACORRECTED;
    RwImageResample(dst, src);
    EXPECT_EQ(rwIMAGEGAMMACORRECTED, dst->flags & rwIMAGEGAMMACORRECTED);
}

TEST_F(Resample, ZeroSizeIsRefused)
{
    RwImage *src = Patterned(4, 4);
    EXPECT_EQ(nullptr, RwImageCreateResample(src, 0, 4));
    EXPECT_EQ(E_RW_INVIMAGESIZE, TakeErrorCode());
    EXPECT_EQ(nullptr, RwImageCreateResample(src, 4, -1));
    TakeError();
    RwImage *dst = Wide(2, 2);
    dst->width = 0;
    EXPECT_EQ(nullptr, RwImageResample(dst, src));
    EXPECT_EQ(E_RW_INVIMAGESIZE, TakeErrorCode());
    dst->width = 2;
    src->height = 0;
    EXPECT_EQ(nullptr, RwImageResample(dst, src));
    src->height = 4;
    TakeError();
}

TEST_F(Resample, HugeEnlargementStaysInsideSource)
{
    RwImage *src = Patterned(2, 1);
    RwImage *dst = Wide(140000, 1);
    EXPECT_EQ(dst, RwImageResample(dst, src));
}

TEST_F(Resample, OnlyWideImagesResample)
{
    RwImage *src = MakeImage(2, 2, 8);
    images.push_back(src);
    RwImage *dst = Wide(1, 1);
    EXPECT_EQ(nullptr, RwImageResample(dst, src));
    EXPECT_EQ(E_RW_INVIMAGEDEPTH, TakeErrorCode());
}

TEST_F(Resample, CreateResampleExpandsPalettisedSource)
{
    RwImage *src = MakeImage(4, 2, 8);
    images.push_back(src);
    src->palette[1] = Rgba(100, 150, 200, 250);
    memset(src->cpPixels, 1, static_cast<size_t>(src->stride) * 2);
    src->flags |= rwIMAGEGAMMACORRECTED;
    RwImage *dst = RwImageCreateResample(src, 2, 1);
    ASSERT_NE(nullptr, dst);
    images.push_back(dst);
    EXPECT_EQ(32, dst->depth);
    EXPECT_EQ(2, dst->width);
    EXPECT_TRUE(SameColour(Rgba(100, 150, 200, 250), *PixelAt(dst, 1, 0)));
    EXPECT_EQ(rwIMAGEGAMMACORRECTED, dst->flags & rwIMAGEGAMMACORRECTED);
}

TEST_F(Resample, CreateResampleFreesEverythingOnFailure)
{
    RwImage *src = Patterned(4, 4);
    for (RwInt32 fail = 0; fail < 4; fail++) {
        allocations.failAfter = fail;
        RwImage *dst = RwImageCreateResample(src, 2, 2);
        allocations.failAfter = -1;
        if (dst)
            RwImageDestroy(dst);
    }
    RwImage *pal = MakeImage(4, 4, 4);
    images.push_back(pal);
    for (RwInt32 fail = 0; fail < 6; fail++) {
        allocations.failAfter = fail;
        RwImage *dst = RwImageCreateResample(pal, 2, 2);
        allocations.failAfter = -1;
        if (dst)
            RwImageDestroy(dst);
    }
    TakeError();
}

namespace {
::testing::Environment *const engineEnvironment =
    ::testing::AddGlobalTestEnvironment(new ImageEngineEnvironment());
}  // namespace
