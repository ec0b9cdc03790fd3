#include "texturetestutil.h"

#include <string>

#include "gfx/core/filesys.h"
#include "gfx/core/texturemodule.h"

namespace {

typedef TextureTest TextureMip;

const RwRGBA level0 = Rgba(200, 10, 10, 255), level1 = Rgba(10, 200, 10, 255), level2 = Rgba(10, 10, 200, 255);

void PutLevels(const std::string &name, RwInt32 depth = 32)
{
    PutTestImage(name, 4, 4, level0, depth);
    PutTestImage(name + "m1", 2, 2, level1, depth);
    PutTestImage(name + "m2", 1, 1, level2, depth);
}

RwFileSystemExistsFunction SavedExists;

// Names of the loader's longest lengths exist, with any extension.
RwBool LongNamesExist(RwFileSystem *fs, const RwChar *path)
{
    return strlen(path) >= 250 ? TRUE : SavedExists(fs, path);
}

}  // namespace

TEST_F(TextureMip, LevelNamesGetAnMAndTheLevelDigit)
{
    const struct {
        const char *name, *mask;
        RwUInt8 level;
        const char *wantName, *wantMask;
    } cases[] = {{"brick", "", 3, "brickm3", ""},     {"brick", "edge", 10, "brickma", "edgema"},
                 {"brick", "edge", 15, "brickmf", "edgemf"}, {"brick", "edge", 0, "brick", "edge"},
                 {"brick", "edge", 16, "brick", "edge"}};
    for (const auto &c : cases) {
        RwChar name[256], mask[256];
        strcpy(name, c.name);
        strcpy(mask, c.mask);
        EXPECT_TRUE(RwTextureDefaultMipmapName(name, mask, c.level, rwTEXTUREMIPFLAGS));
        EXPECT_STREQ(c.wantName, name);
        EXPECT_STREQ(c.wantMask, mask);
    }
    // No room for the suffix: refused, the buffer untouched.
    RwChar full[256];
    memset(full, 'a', 254);
    full[254] = '\0';
    EXPECT_FALSE(RwTextureDefaultMipmapName(full, nullptr, 1, rwTEXTUREMIPFLAGS));
    EXPECT_EQ(254u, strlen(full));
    EXPECT_EQ(E_RW_STRINGTOOLONG, TakeErrorCode());
}

TEST_F(TextureMip, LoaderReadsOneFilePerLevel)
{
    PutLevels("wall");
    PutLevels("pwall", 8);
    RwTextureSetMipmapping(TRUE);
    for (const char *name : {"wall", "pwall"}) {
        RwTexture *t = RwTextureRead(name, nullptr);
        ASSERT_NE(nullptr, t) << name;
        ASSERT_EQ(3, RwTestRasterLevels(t->raster));
        EXPECT_EQ(level0, RwTestRasterPixel(t->raster, 0, 3, 3));
        EXPECT_EQ(level1, RwTestRasterPixel(t->raster, 1, 1, 1));
        EXPECT_EQ(level2, RwTestRasterPixel(t->raster, 2, 0, 0));
        EXPECT_STREQ(name, t->name);
        RwTextureDestroy(t);
    }
}

TEST_F(TextureMip, MissingLevelFileFailsTheWholeRead)
{
    PutTestImage("gap", 4, 4, level0);
    PutTestImage("gapm1", 2, 2, level1);
    DeleteFileA("gapm2.tft");
    RwTextureSetMipmapping(TRUE);
    EXPECT_EQ(nullptr, RwTextureRead("gap", nullptr));
    EXPECT_EQ(E_RW_READTEXMASK, TakeError().errorCode);
    EXPECT_TRUE(Names(Default()).empty());
}

TEST_F(TextureMip, AutomaticLevelsAreMadeFromLevelZeroAndCorrectedOnce)
{
    PutTestImage("auto", 4, 2, Rgba(64, 128, 192, 255));
    RwImageSetGamma(2.2f);
    const RwUInt8 *table = RwImageGetGammaTable();
    RwTextureSetMipmapping(TRUE);
    RwTextureSetAutoMipmapping(TRUE);
    RwTexture *t = RwTextureRead("auto", nullptr);
    ASSERT_NE(nullptr, t);
    EXPECT_TRUE(t->raster->cFormat & (rwRASTERFORMATAUTOMIPMAP >> 8));
    ASSERT_EQ(3, RwTestRasterLevels(t->raster));
    const RwRGBA corrected = Rgba(table[64], table[128], table[192], 255);
    for (RwInt32 level = 0; level < 3; level++)
        EXPECT_EQ(corrected, RwTestRasterPixel(t->raster, level, 0, 0)) << level;
    RwTextureDestroy(t);
}

TEST_F(TextureMip, GenerationFromAPalettisedImageSharesOnePalette)
{
    RwRaster *raster = RwRasterCreate(4, 4, 0, rwRASTERTYPETEXTURE | rwRASTERFORMATPAL8 | rwRASTERFORMATMIPMAP);
    RwImage *image = MakeImage(4, 4, 8);
    image->palette[0] = level2;
    EXPECT_TRUE(RwTextureRasterGenerateMipmaps(raster, image));
    for (RwInt32 level = 0; level < 3; level++)
        EXPECT_EQ(level2, RwTestRasterPixel(raster, level, 0, 0)) << level;
    EXPECT_EQ(8, image->depth);   // the caller's image is left to the caller
    RwImageDestroy(image);
    // A 32-bit image is used as it is, and left whole to its caller.
    RwRaster *wide = RwRasterCreate(4, 4, 0, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888 | rwRASTERFORMATMIPMAP);
    RwImage *full = MakeImage(4, 4, 32);
    for (RwInt32 y = 0; y < 4; y++)
        for (RwInt32 x = 0; x < 4; x++)
            *PixelAt(full, x, y) = level1;
    const RwInt32 live = rwTestMemory.live;
    EXPECT_TRUE(RwTextureRasterGenerateMipmaps(wide, full));
    EXPECT_EQ(live, rwTestMemory.live);
    EXPECT_EQ(32, full->depth);
    EXPECT_EQ(level1, *PixelAt(full, 3, 3));
    for (RwInt32 level = 0; level < 3; level++)
        EXPECT_EQ(level1, RwTestRasterPixel(wide, level, 0, 0)) << level;
    RwImageDestroy(full);
    RwRasterDestroy(wide);
    // A device that cannot lock a level makes generation fail without leaking.
    RwTestDriverSetStandardResult(rwSTANDARDRASTERLOCK, FALSE);
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERLOCK, nullptr);
    EXPECT_FALSE(RwTextureRasterGenerateMipmaps(raster, nullptr));
    RwTestRastersInstall();
    RwRasterDestroy(raster);
}

TEST_F(TextureMip, PalettizeSetKeepsMatchingPalettesAndQuantisesTheRest)
{
    RwImage *images[2] = {MakeImage(2, 2, 8), MakeImage(1, 1, 8)};
    images[0]->palette[3] = images[1]->palette[3] = level1;
    RwRGBA palette[256];
    ASSERT_TRUE(RwImagePalettizeSet(reinterpret_cast<RwUInt8 *>(palette), nullptr, images, 2, 8));
    EXPECT_EQ(level1, palette[3]);
    EXPECT_EQ(8, images[1]->depth);
    // Different colours: both images become 4-bit indices into one shared palette.
    RwImage *keep = MakeImage(2, 1, 32);
    *PixelAt(keep, 0, 0) = level0;
    *PixelAt(keep, 1, 0) = level2;
    RwImageDestroy(images[0]);
    images[0] = keep;
    ASSERT_TRUE(RwImagePalettizeSet(reinterpret_cast<RwUInt8 *>(palette), keep, images, 2, 4));
    EXPECT_NE(keep, images[0]);
    for (RwImage *image : images) {
        EXPECT_EQ(4, image->depth);
        EXPECT_EQ(palette, image->palette);
    }
    EXPECT_EQ(level0, ShownColour(images[0], 0, 0));
    EXPECT_EQ(level2, ShownColour(images[0], 1, 0));
    for (RwImage *image : {keep, images[0], images[1]})
        RwImageDestroy(image);
}

// A palette has as many entries as its image's depth gives: two 4-bit images
// agree on their 16 colours whatever lies behind them, and a 4-bit and an
// 8-bit image never share one palette.
TEST_F(TextureMip, PalettizeSetComparesPalettesOfTheImagesOwnDepth)
{
    RwRGBA backing[2][256];
    for (RwInt32 i = 0; i < 256; i++) {
        backing[0][i] = Rgba(static_cast<RwUInt8>(i), 0, 0, 255);
        backing[1][i] = i < 16 ? backing[0][i] : Rgba(0, static_cast<RwUInt8>(i), 0, 255);
    }
    RwImage *images[2] = {MakeImage(2, 2, 4), MakeImage(1, 1, 4)};
    RwImage *made[2] = {images[0], images[1]};
    RwRGBA *own[2] = {images[0]->palette, images[1]->palette};
    images[0]->palette = backing[0];
    images[1]->palette = backing[1];
    images[0]->cpPixels[1] = 15;
    RwRGBA palette[256];
    ASSERT_TRUE(RwImagePalettizeSet(reinterpret_cast<RwUInt8 *>(palette), nullptr, images, 2, 8));
    // (Images that were replaced are gone: stop before touching them again.)
    ASSERT_EQ(made[0], images[0]);
    ASSERT_EQ(made[1], images[1]);
    EXPECT_EQ(4, images[0]->depth);
    EXPECT_EQ(backing[0][15], palette[15]);
    EXPECT_EQ(Rgba(15, 0, 0, 255), ShownColour(images[0], 1, 0));

    // Equal first 16 entries, but the 8-bit image indexes 256: quantised.
    RwImage *wide = MakeImage(1, 1, 8);
    wide->palette = backing[0];
    wide->cpPixels[0] = 200;
    images[1] = wide;
    ASSERT_TRUE(RwImagePalettizeSet(reinterpret_cast<RwUInt8 *>(palette), made[0], images, 2, 8));
    ASSERT_NE(made[0], images[0]);
    ASSERT_NE(wide, images[1]);
    EXPECT_EQ(palette, images[1]->palette);
    EXPECT_EQ(Rgba(200, 0, 0, 255), ShownColour(images[1], 0, 0));
    RwImageDestroy(images[0]);
    RwImageDestroy(images[1]);
    made[0]->palette = own[0];
    made[1]->palette = own[1];
    RwImageDestroy(made[0]);
    RwImageDestroy(made[1]);
}

TEST_F(TextureMip, ReadImageFitsPalettisedImagesAndKeepsTheirDepth)
{
    PutTestImage("small", 4, 4, level1, 4);
    RwInt32 w = 2, h = 2, d = 0, f = 0;
    RwImage *image = RwTextureReadImage("small", nullptr, rwTEXTUREPLAINFLAGS, &w, &h, &d, &f);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(4, image->depth);
    EXPECT_EQ(2, image->width);
    EXPECT_EQ(level1, ShownColour(image, 1, 1));
    RwImageDestroy(image);
    // The device chooses the size when none is given.
    RwTestRastersSetMaxSize(1);
    w = h = 0;
    image = RwTextureReadImage("small", "", rwTEXTUREPLAINFLAGS, &w, &h, &d, &f);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(1, w);
    EXPECT_EQ(1, image->height);
    RwImageDestroy(image);
    RwTestDriverSetStandardFunction(rwSTANDARDIMAGEFINDRASTERFORMAT, nullptr);
    RwTestDriverSetStandardResult(rwSTANDARDIMAGEFINDRASTERFORMAT, FALSE);
    w = h = 0;
    EXPECT_EQ(nullptr, RwTextureReadImage("small", nullptr, rwTEXTUREPLAINFLAGS, &w, &h, &d, &f));
    EXPECT_EQ(E_RW_INVIMAGEFORMAT, TakeErrorCode());
    // A name that fits the loader's buffer only without its extension is
    // refused, not overrun.
    RwFileSystem *fs = RwFileSystemGetDefault();
    ASSERT_NE(nullptr, fs);
    SavedExists = fs->fExists;
    fs->fExists = LongNamesExist;
    const std::string longName(252, 'n');
    image = RwTextureReadImage(longName.c_str(), nullptr, rwTEXTUREPLAINFLAGS, &w, &h, &d, &f);
    fs->fExists = SavedExists;
    EXPECT_EQ(nullptr, image);
    EXPECT_EQ(E_RW_STRINGTOOLONG, TakeErrorCode());
}

namespace {
::testing::Environment *const engineEnvironment = ::testing::AddGlobalTestEnvironment(new TextureEnvironment);
}  // namespace
