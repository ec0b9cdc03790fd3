#include "imagetestutil.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include "gfx/core/palquant.h"

namespace {

class PalQuant : public ImageTest {
protected:
    void SetUp() override
    {
        ImageTest::SetUp();
        ASSERT_TRUE(RwPalQuantInit(&pq));
    }
    void TearDown() override
    {
        EXPECT_TRUE(RwPalQuantTerm(&pq));
        ImageTest::TearDown();
    }
    std::vector<RwUInt8> Match(const RwImage *image)
    {
        std::vector<RwUInt8> out(static_cast<size_t>(image->width) * image->height, 0xEE);
        RwPalQuantMatchImage(out.data(), image->width, 8, FALSE, &pq, image);
        return out;
    }
    RwPalQuant pq;
    RwRGBA palette[256];
};

// Order of colour cells in the tree, written from the key layout: one nibble per level,
// most significant channel bits first, red in the nibble's bit 3 down to alpha in bit 0.
std::vector<RwInt32> CellPath(const RwRGBA &c)
{
    std::vector<RwInt32> path;
    for (RwInt32 level = 0; level < 6; level++) {
        const RwInt32 bit = 7 - level;
        path.push_back((((c.red >> bit) & 1) << 3) | (((c.green >> bit) & 1) << 2) | (((c.blue >> bit) & 1) << 1) |
                       ((c.alpha >> bit) & 1));
    }
    return path;
}

// Mean of one channel as the palette stores it: trunc(mean / 255 x 255.99).
RwInt32 StoredMean(double mean)
{
    return std::min(255, static_cast<RwInt32>(mean / 255.0 * 255.99));
}

double Distance(const RwRGBA &a, const RwRGBA &b)
{
    const double dr = a.red - b.red, dg = a.green - b.green, db = a.blue - b.blue, da = a.alpha - b.alpha;
    return std::sqrt(dr * dr + dg * dg + db * db + da * da);
}

}  // namespace

TEST_F(PalQuant, FewCellsGetOneEntryEachInKeyOrder)
{
    const std::vector<RwRGBA> colours = {Rgba(255, 0, 0, 255), Rgba(0, 255, 0, 255), Rgba(0, 0, 252, 255),
                                         Rgba(0, 0, 0, 0), Rgba(128, 128, 128, 255), Rgba(4, 8, 12, 16)};
    RwImage *image = Row(colours);
    RwPalQuantAddImage(&pq, image, 1.0f);
    ASSERT_EQ(6, RwPalQuantResolvePalette(palette, 256, &pq));

    std::vector<RwRGBA> sorted = colours;
    std::sort(sorted.begin(), sorted.end(),
              [](const RwRGBA &a, const RwRGBA &b) { return CellPath(a) < CellPath(b); });
    for (size_t i = 0; i < sorted.size(); i++)
        EXPECT_EQ(sorted[i], palette[i]) << i;
    for (RwInt32 i = 6; i < 256; i++)
        EXPECT_EQ(Rgba(0, 0, 0, 0), palette[i]);
    const std::vector<RwUInt8> indices = Match(image);
    for (size_t i = 0; i < colours.size(); i++)
        EXPECT_EQ(colours[i], palette[indices[i]]) << i;
}

TEST_F(PalQuant, ColoursOfOneCellShareIndexAndWeightedMean)
{
    RwImage *a = Row({Rgba(100, 100, 100, 255)});
    RwImage *b = Row({Rgba(103, 101, 102, 255)});
    RwPalQuantAddImage(&pq, a, 3.0f);
    RwPalQuantAddImage(&pq, b, 1.0f);
    ASSERT_EQ(1, RwPalQuantResolvePalette(palette, 16, &pq));
    EXPECT_EQ(StoredMean((3 * 100 + 103) / 4.0), palette[0].red);
    EXPECT_EQ(StoredMean((3 * 100 + 101) / 4.0), palette[0].green);
    EXPECT_EQ(StoredMean((3 * 100 + 102) / 4.0), palette[0].blue);
    EXPECT_EQ(255, palette[0].alpha);
    EXPECT_EQ(0, Match(a)[0]);
    EXPECT_EQ(0, Match(b)[0]);
}

TEST_F(PalQuant, ManyColoursIntoSixteenEntries)
{
    RwImage *image = Owned(32, 32, 32);
    for (RwInt32 y = 0; y < 32; y++)
        for (RwInt32 x = 0; x < 32; x++)
            *PixelAt(image, x, y) = Rgba(static_cast<RwUInt8>(x * 8), static_cast<RwUInt8>(y * 8),
                                         static_cast<RwUInt8>((x + y) * 4), 255);
    RwPalQuantAddImage(&pq, image, 1.0f);
    ASSERT_EQ(16, RwPalQuantResolvePalette(palette, 16, &pq));
    const std::vector<RwUInt8> indices = Match(image);
    std::set<RwUInt8> used(indices.begin(), indices.end());
    EXPECT_EQ(16u, used.size());
    double total = 0;
    for (RwInt32 y = 0; y < 32; y++)
        for (RwInt32 x = 0; x < 32; x++) {
            const RwUInt8 index = indices[static_cast<size_t>(y * 32 + x)];
            ASSERT_LT(index, 16);
            total += Distance(*PixelAt(image, x, y), palette[index]);
        }
    // Sixteen boxes over a 256 x 256 ramp: each pixel lies within a box of about 64 x 64.
    EXPECT_LT(total / 1024, 40.0);
}

TEST_F(PalQuant, TwoClustersGetTheirMeans)
{
    RwImage *image = Owned(16, 2, 32);
    for (RwInt32 x = 0; x < 16; x++) {
        *PixelAt(image, x, 0) = Rgba(static_cast<RwUInt8>(16 + x), 20, 24, 255);
        *PixelAt(image, x, 1) = Rgba(static_cast<RwUInt8>(200 + x), 180, 160, 255);
    }
    RwPalQuantAddImage(&pq, image, 1.0f);
    ASSERT_EQ(2, RwPalQuantResolvePalette(palette, 2, &pq));
    const std::vector<RwUInt8> indices = Match(image);
    const RwUInt8 dark = indices[0];
    const RwUInt8 light = indices[16];
    EXPECT_NE(dark, light);
    for (RwInt32 x = 0; x < 16; x++) {
        EXPECT_EQ(dark, indices[static_cast<size_t>(x)]);
        EXPECT_EQ(light, indices[static_cast<size_t>(16 + x)]);
    }
    EXPECT_NEAR(StoredMean(23.5), palette[dark].red, 1);
    EXPECT_NEAR(20, palette[dark].green, 1);
    EXPECT_NEAR(StoredMean(207.5), palette[light].red, 1);
    EXPECT_NEAR(StoredMean(160), palette[light].blue, 1);
}

TEST_F(PalQuant, MatchPacksFourBitIndicesAndTakesNearestForUnknownColours)
{
    RwImage *image = Row({Rgba(0, 0, 0, 255), Rgba(255, 255, 255, 255), Rgba(255, 255, 255, 255)});
    RwPalQuantAddImage(&pq, image, 1.0f);
    ASSERT_EQ(2, RwPalQuantResolvePalette(palette, 16, &pq));
    const std::vector<RwUInt8> plain = Match(image);
    RwUInt8 packed[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    RwPalQuantMatchImage(packed, 4, 4, TRUE, &pq, image);
    EXPECT_EQ(plain[0] | (plain[1] << 4), packed[0]);
    EXPECT_EQ(plain[2], packed[1]);
    EXPECT_EQ(0xAA, packed[2]);
    RwUInt8 unpacked[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    RwPalQuantMatchImage(unpacked, 4, 4, FALSE, &pq, image);
    EXPECT_EQ(plain[1], unpacked[1]);
    // Colours that were never added have no leaf of their own.
    RwImage *other = Row({Rgba(250, 250, 250, 255), Rgba(10, 10, 10, 255), Rgba(150, 150, 150, 255),
                          Rgba(20, 20, 20, 200)});
    EXPECT_EQ((std::vector<RwUInt8>{plain[1], plain[0], plain[1], plain[0]}), Match(other));
}

TEST_F(PalQuant, PalettisedImagesAddTheirPaletteColoursOthersNothing)
{
    RwImage *eight = Owned(2, 1, 8);
    eight->palette[7] = Rgba(40, 80, 120, 255);
    eight->palette[9] = Rgba(200, 100, 0, 255);
    eight->cpPixels[0] = 7;
    eight->cpPixels[1] = 9;
    RwImage *four = Owned(1, 1, 4);
    four->palette[15] = Rgba(0, 252, 0, 128);
    four->cpPixels[0] = 0xFF;   // only the low nibble is an index
    RwImage *odd = Owned(2, 2, 32);
    odd->depth = 16;
    for (const RwImage *image : {eight, four, odd, Keep(RwImageCreate(4, 4, 32))})
        RwPalQuantAddImage(&pq, image, 1.0f);
    odd->depth = 32;
    ASSERT_EQ(3, RwPalQuantResolvePalette(palette, 256, &pq));
    EXPECT_EQ(eight->palette[7], palette[Match(eight)[0]]);
    EXPECT_EQ(eight->palette[9], palette[Match(eight)[1]]);
    EXPECT_EQ(four->palette[15], palette[Match(four)[0]]);
}

namespace {
::testing::Environment *const engineEnvironment =
    ::testing::AddGlobalTestEnvironment(new ImageEngineEnvironment());
}  // namespace
