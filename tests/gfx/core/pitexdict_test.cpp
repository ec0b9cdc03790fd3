#include "texturetestutil.h"

#include <string>

#include "gfx/core/texturemodule.h"

namespace {

typedef TextureTest PITexDict;

void Append(Bytes &to, const Bytes &from)
{
    to.insert(to.end(), from.begin(), from.end());
}

// A whole image chunk of one 32-bit colour.
Bytes ImageChunk(RwInt32 width, RwInt32 height, RwRGBA c)
{
    Build b;
    b.Header(0x18, 28 + static_cast<RwUInt32>(width * height * 4)).Header(1, 16);
    for (RwInt32 v : {width, height, 32, width * 4})
        b.U32(static_cast<RwUInt32>(v));
    for (RwInt32 i = 0; i < width * height; i++)
        b.Text(reinterpret_cast<const char *>(&c), 4);
    return b;
}

// A whole texture chunk: struct, flags, name, empty mask, empty extension.
Bytes TextureChunk(RwUInt32 flags, const char *name)
{
    char text[8] = {};
    strncpy(text, name, 7);
    const RwUInt32 padded = static_cast<RwUInt32>((strlen(text) + 4) & ~size_t(3));
    return Build().Header(6, 16 + 12 + padded + 16 + 12).Header(1, 4).U32(flags).Header(2, padded).Text(text, padded)
        .Header(2, 4).U32(0).Header(3, 0);
}

// Layout 1: level count, the images, the texture chunk.
Bytes Layout1Texture(RwUInt32 flags, const char *name, std::initializer_list<RwRGBA> levels, RwInt32 size = 2)
{
    Bytes out = Build().U32(static_cast<RwUInt32>(levels.size()));
    for (RwRGBA c : levels) {
        Append(out, ImageChunk(size, size, c));
        size = size > 1 ? size / 2 : 1;
    }
    Append(out, TextureChunk(flags, name));
    return out;
}

Bytes Dictionary(RwUInt32 count, RwUInt32 layout, std::initializer_list<Bytes> textures)
{
    Bytes out = Build().U32(count | layout << 16);
    for (const Bytes &t : textures)
        Append(out, t);
    return out;
}

RwTextureDictionary *ReadDict(const Bytes &bytes, size_t n = static_cast<size_t>(-1))
{
    return ReadFrom(RwPITextureDictionaryStreamRead, bytes, n);
}

RwTexture *Only(RwTextureDictionary *dict, const char *name)
{
    return RwTextureDictionaryFindTexture(dict, name);
}

const RwRGBA red = Rgba(200, 0, 0, 255), green = Rgba(0, 200, 0, 128), blue = Rgba(0, 0, 200, 255);

}  // namespace

TEST_F(PITexDict, Layout1BuildsRastersFromTheStoredLevels)
{
    RwTextureDictionary *before = RwTextureDictionaryGetCurrent();
    RwTextureDictionary *dict = ReadDict(Dictionary(3, 1,
        {Layout1Texture(0x1104, "mips", {red, green}), Layout1Texture(0x1102, "flat", {blue}),
         Layout1Texture(0x1104, "auto", {green})}));
    ASSERT_NE(nullptr, dict);
    EXPECT_EQ(before, RwTextureDictionaryGetCurrent());
    EXPECT_EQ((std::vector<std::string>{"auto", "flat", "mips"}), Names(dict));
    const RwRaster *mips = Only(dict, "mips")->raster;
    EXPECT_EQ(0x80, mips->cFormat & 0x90);   // mip-mapped, levels given
    EXPECT_EQ(red, RwTestRasterPixel(mips, 0, 1, 1));
    EXPECT_EQ(green, RwTestRasterPixel(mips, 1, 0, 0));
    EXPECT_EQ(0x00, Only(dict, "flat")->raster->cFormat & 0x90);
    const RwRaster *autoRaster = Only(dict, "auto")->raster;
    EXPECT_EQ(0x90, autoRaster->cFormat & 0x90);
    EXPECT_EQ(green, RwTestRasterPixel(autoRaster, 1, 0, 0));   // made by the device
    EXPECT_EQ(4, Only(dict, "auto")->filterMode);
    EXPECT_EQ(0x11, Only(dict, "auto")->addressing);
    RwTextureDictionaryDestroy(dict);
}

TEST_F(PITexDict, Layout0TakesAddressingFromTheOtherModeAndLeavesCurrentAlone)
{
    const struct {
        RwUInt32 flags;
        RwUInt8 addressing;
    } cases[] = {{0x2001, 0x22}, {0x0001, 0x11}, {0x0301, 0x33}, {0x2401, 0x24}};
    for (const auto &c : cases) {
        Bytes record(72, 0);
        memcpy(record.data(), "old", 3);
        memcpy(record.data() + 32, "oldmask", 7);
        Bytes tail = Build().U32(1).U32(c.flags);
        std::copy(tail.begin(), tail.end(), record.begin() + 64);
        Append(record, ImageChunk(1, 1, blue));
        RwTextureDictionary *dict = ReadDict(Dictionary(1, 0, {record}));
        ASSERT_NE(nullptr, dict);
        RwTexture *t = Only(dict, "old");
        ASSERT_NE(nullptr, t);
        EXPECT_EQ(c.addressing, t->addressing) << std::hex << c.flags;
        EXPECT_STREQ("oldmask", t->mask);
        EXPECT_EQ(blue, RwTestRasterPixel(t->raster, 0, 0, 0));
        EXPECT_EQ(Default(), RwTextureDictionaryGetCurrent());
        RwTextureDictionaryDestroy(dict);
    }
}

TEST_F(PITexDict, LevelsOfAnotherSizeThanTheRasterAreResampledIntoTrueColour)
{
    Bytes level = Build().Header(0x18, 28 + 16 + 1024).Header(1, 16).U32(4).U32(4).U32(8).U32(4);
    level.resize(level.size() + 16, 1);
    Bytes palette(1024, 0);
    memcpy(&palette[4], &red, 4);
    Append(level, palette);
    Bytes texture = Build().U32(1);
    Append(texture, level);
    Append(texture, TextureChunk(0x1101, "big"));
    RwTestRastersSetMaxSize(2);
    RwTextureDictionary *dict = ReadDict(Dictionary(1, 1, {texture}));
    ASSERT_NE(nullptr, dict);
    const RwRaster *raster = Only(dict, "big")->raster;
    EXPECT_EQ(2, raster->width);
    EXPECT_EQ(32, raster->depth);
    EXPECT_EQ(red, RwTestRasterPixel(raster, 0, 1, 1));
    RwTextureDictionaryDestroy(dict);
}

TEST_F(PITexDict, GammaCorrectedTexturesWriteBackTheStoredColours)
{
    RwImageSetGamma(2.2f);
    // Channel values whose correction the inverse table undoes exactly.
    const RwRGBA red = Rgba(192, 64, 0, 255), green = Rgba(100, 0, 255, 128), blue = Rgba(0, 192, 100, 255);
    const Bytes stored = Dictionary(2, 1, {Layout1Texture(0x1104, "a", {red, green}), Layout1Texture(0x1101, "b", {blue})});
    RwTextureDictionary *dict = ReadDict(stored);
    ASSERT_NE(nullptr, dict);
    const RwRGBA shown = RwTestRasterPixel(Only(dict, "a")->raster, 0, 0, 0);
    EXPECT_EQ(RwImageGetGammaTable()[192], shown.red);
    RwStream *out = OpenWriteMemory();
    ASSERT_NE(nullptr, RwPITextureDictionaryStreamWrite(dict, out));
    Bytes written = CloseWritten(out);
    RwTextureDictionaryDestroy(dict);
    // Dictionary order from the head is the reverse of the stored order.
    Bytes expected;
    const Bytes payload = Dictionary(2, 1, {Layout1Texture(0x11101, "b", {blue}),
                                            Layout1Texture(0x11104, "a", {red, green})});
    PutHeader(expected, 0x23, static_cast<RwUInt32>(payload.size()));
    Append(expected, payload);
    EXPECT_EQ(expected, written);
    RwTextureDictionary *again = ReadDict(Bytes(written.begin() + 12, written.end()));
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(shown, RwTestRasterPixel(Only(again, "a")->raster, 0, 0, 0));
    RwTextureDictionaryDestroy(again);
}

TEST_F(PITexDict, HostileDictionariesGiveNullAndLeaveNothing)
{
    const struct {
        Bytes bytes;
        RwUInt32 error;
    } cases[] = {
        {Dictionary(1, 1, {Build().U32(0)}), E_RW_INVRASTERMIPLEVEL},
        {Dictionary(1, 1, {Build().U32(17)}), E_RW_INVRASTERMIPLEVEL},
        {Dictionary(0xFFFF, 1, {Layout1Texture(0x1101, "a", {red})}), E_RW_READ},
        {Dictionary(1, 2, {Layout1Texture(0x1101, "a", {red})}), E_RW_BADVERSION},
        {Dictionary(2, 1, {Layout1Texture(0x1101, "a", {red})}), E_RW_ENDOFSTREAM},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(nullptr, ReadDict(c.bytes));
        EXPECT_EQ(c.error, TakeErrorCode());
    }
    const Bytes full = Dictionary(1, 1, {Layout1Texture(0x1104, "a", {red, green})});
    for (size_t cut = 0; cut < full.size(); cut++) {
        EXPECT_EQ(nullptr, ReadDict(full, cut)) << cut;
        TakeError();
    }
    EXPECT_EQ(Default(), RwTextureDictionaryGetCurrent());
}

TEST_F(PITexDict, WritesThatCannotSucceedWriteNothing)
{
    RwTextureDictionary *dict = RwTextureDictionaryCreate();
    RwTextureDictionaryAddTexture(dict, RwTextureCreate(RwRasterCreate(1, 1, 0, rwRASTERTYPETEXTURE)));
    RwTextureDictionaryAddTexture(dict, RwTextureCreate(nullptr));
    RwStream *out = OpenWriteMemory();
    EXPECT_EQ(nullptr, RwPITextureDictionaryStreamWrite(dict, out));
    EXPECT_EQ(E_RW_NULLP, TakeErrorCode());
    EXPECT_TRUE(CloseWritten(out).empty());
    for (RwInt32 i = 0; i < 0x10000; i++)
        RwTextureDictionaryAddTexture(dict, RwTextureCreate(nullptr));
    out = OpenWriteMemory();
    EXPECT_EQ(nullptr, RwPITextureDictionaryStreamWrite(dict, out));
    EXPECT_EQ(E_RW_BADVERSION, TakeErrorCode());
    EXPECT_TRUE(CloseWritten(out).empty());
    RwTextureDictionaryDestroy(dict);
}

namespace {
::testing::Environment *const engineEnvironment = ::testing::AddGlobalTestEnvironment(new TextureEnvironment);
}  // namespace
