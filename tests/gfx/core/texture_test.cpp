#include "texturetestutil.h"

#include <string>
#include <vector>

#include "gfx/core/texturemodule.h"

namespace {

const RwUInt32 pluginID = 0x7F11;
RwInt32 pluginOffset = -1;
RwInt32 destructed = 0;
bool failExtensionRead = false;

RwUInt32 &PluginWord(RwTexture *t)
{
    return *reinterpret_cast<RwUInt32 *>(reinterpret_cast<RwUInt8 *>(t) + pluginOffset);
}

void RegisterTexturePlugin()
{
    pluginOffset = RwTextureRegisterPlugin(
        4, pluginID,
        [](void *o, RwInt32 off, RwInt32) -> void * {
            *reinterpret_cast<RwUInt32 *>(static_cast<RwUInt8 *>(o) + off) = 0;
            return o;
        },
        [](void *o, RwInt32, RwInt32) -> void * {
            ++destructed;
            return o;
        },
        nullptr);
    // The word travels in streams when it is not zero.
    RwTextureRegisterPluginStream(
        pluginID,
        [](RwStream *s, RwInt32, void *o, RwInt32 off, RwInt32) -> RwStream * {
            return failExtensionRead ? nullptr
                                     : RwStreamReadExact(s, static_cast<RwUInt8 *>(o) + off, 4);
        },
        [](RwStream *s, RwInt32, const void *o, RwInt32 off, RwInt32) {
            return RwStreamWrite(s, static_cast<const RwUInt8 *>(o) + off, 4);
        },
        [](const void *o, RwInt32 off, RwInt32) -> RwInt32 {
            return *reinterpret_cast<const RwUInt32 *>(static_cast<const RwUInt8 *>(o) + off) ? 4 : 0;
        });
}

typedef TextureTest Texture;

RwInt32 callbackReads = 0;
RwBool mipmappingSeen = FALSE, autoSeen = FALSE;

RwTexture *CountingRead(const RwChar *name, const RwChar *)
{
    ++callbackReads;
    mipmappingSeen = RwTextureGetMipmapping();
    autoSeen = RwTextureGetAutoMipmapping();
    if (strcmp(name, "missing") == 0)
        return nullptr;
    RwTexture *t = RwTextureCreate(nullptr);
    RwTextureSetName(t, name);
    return t;
}

// A texture chunk's payload from the layout: struct, flags, name, mask, extension.
Bytes TextureChunkBody(RwUInt32 flags, const std::string &name, const std::string &mask, const Bytes &extension = {})
{
    Build b;
    b.Header(1, 4).U32(flags);
    for (const std::string *s : {&name, &mask}) {
        const size_t padded = (s->size() + 4) & ~size_t(3);
        std::string text = *s;
        text.resize(padded, '\0');
        b.Header(2, static_cast<RwUInt32>(padded)).Text(text.data(), padded);
    }
    b.Header(3, static_cast<RwUInt32>(extension.size()));
    b.bytes.insert(b.bytes.end(), extension.begin(), extension.end());
    return b;
}

RwTexture *ReadTextureChunk(const Bytes &bytes, size_t n = static_cast<size_t>(-1))
{
    return ReadFrom(RwTextureStreamRead, bytes, n);
}

}  // namespace

TEST_F(Texture, LivesUntilItsLastReferenceAndKeepsNamesInTheirFields)
{
    RwRaster *raster = RwRasterCreate(4, 4, 0, rwRASTERTYPETEXTURE);
    RwTexture *t = RwTextureCreate(raster);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(raster, t->raster);
    EXPECT_EQ(rwFILTERNEAREST, t->filterMode);
    EXPECT_EQ(0x11, t->addressing);
    EXPECT_EQ(1, t->refCount);
    EXPECT_EQ(nullptr, t->dict);
    const RwInt32 before = destructed;
    RwTextureAddRef(t);
    EXPECT_TRUE(RwTextureDestroy(t));
    EXPECT_EQ(1, RwTestRastersLive());
    EXPECT_TRUE(RwTextureDestroy(t));
    EXPECT_EQ(before + 1, destructed);
    EXPECT_EQ(0, RwTestRastersLive());
    // Names of 32 or more characters are cut to 31 and reported.
    t = RwTextureCreate(nullptr);
    const std::string fits(31, 'a'), tooLong = std::string(31, 'b') + "cd";
    RwTextureSetName(t, fits.c_str());
    EXPECT_EQ(E_RW_NOERROR, TakeErrorCode());
    EXPECT_EQ(fits, t->name);
    RwTextureSetMaskName(t, tooLong.c_str());
    EXPECT_EQ(E_RW_STRINGTOOLONG, TakeErrorCode());
    EXPECT_EQ(std::string(31, 'b'), t->mask);
    RwTextureDestroy(t);
}

TEST_F(Texture, DictionariesKeepNewestFirstAndFoldOnlyAsciiLetters)
{
    RwTextureDictionary *a = RwTextureDictionaryCreate(), *b = RwTextureDictionaryCreate();
    RwTexture *wood = RwTextureSetName(RwTextureCreate(nullptr), "Wood");
    RwTexture *stone = RwTextureSetName(RwTextureCreate(nullptr), "\xB0\x61");   // a code-page 949 pair
    RwTextureDictionaryAddTexture(a, wood);
    RwTextureDictionaryAddTexture(a, stone);
    EXPECT_EQ((std::vector<std::string>{"\xB0\x61", "Wood"}), Names(a));
    const struct {
        const char *name;
        RwTexture *found;
    } cases[] = {{"WOOD", wood}, {"wood", wood}, {"Wood ", nullptr}, {"Wood1", nullptr},
                 {"\xB0\x61", stone}, {"\xB0\x41", nullptr}};
    for (const auto &c : cases)
        EXPECT_EQ(c.found, RwTextureDictionaryFindTexture(a, c.name)) << c.name;
    RwTextureDictionaryAddTexture(b, wood);
    EXPECT_EQ(b, wood->dict);
    EXPECT_EQ((std::vector<std::string>{"\xB0\x61"}), Names(a));
    RwTextureDictionaryRemoveTexture(stone);
    EXPECT_TRUE(Names(a).empty());
    EXPECT_EQ(nullptr, stone->dict);
    RwTextureDestroy(stone);
    RwTextureDictionaryDestroy(a);
    RwTextureDictionaryDestroy(b);
}

TEST_F(Texture, DestroyedDictionaryLeavesHeldTexturesDetachedAndAlive)
{
    RwTextureDictionary *dict = RwTextureDictionaryCreate();
    RwTextureDictionarySetCurrent(dict);
    RwTexture *held = RwTextureCreate(RwRasterCreate(2, 2, 0, rwRASTERTYPETEXTURE));
    RwTextureDictionaryAddTexture(dict, held);
    RwTextureDictionaryAddTexture(dict, RwTextureCreate(nullptr));
    RwTextureAddRef(held);   // as a material would
    EXPECT_TRUE(RwTextureDictionaryDestroy(dict));
    EXPECT_EQ(nullptr, RwTextureDictionaryGetCurrent());
    EXPECT_EQ(1, held->refCount);
    EXPECT_EQ(nullptr, held->dict);
    EXPECT_EQ(&held->lInDictionary, held->lInDictionary.next);
    // A new dictionary may reuse the freed entry; the held texture must not be in it.
    RwTextureDictionary *next = RwTextureDictionaryCreate();
    EXPECT_TRUE(Names(next).empty());
    RwTextureDestroy(held);
    RwTextureDictionaryDestroy(next);
}

TEST_F(Texture, WalksSurviveTheCallbackDestroyingAndStopAtNull)
{
    RwTextureDictionary *dict = RwTextureDictionaryCreate();
    for (const char *n : {"a", "b", "c"})
        RwTextureDictionaryAddTexture(dict, RwTextureSetName(RwTextureCreate(nullptr), n));
    RwInt32 visited = 0;
    RwTextureDictionaryForAllTextures(
        dict,
        [](RwTexture *t, void *data) -> RwTexture * {
            ++*static_cast<RwInt32 *>(data);
            const bool last = strcmp(t->name, "b") == 0;
            RwTextureDestroy(t);
            return last ? nullptr : t;
        },
        &visited);
    EXPECT_EQ(2, visited);
    EXPECT_EQ((std::vector<std::string>{"a"}), Names(dict));
    RwTextureDictionaryDestroy(dict);
}

TEST_F(Texture, ReadSharesFoundTexturesAndPutsNewOnesInTheCurrentDictionary)
{
    RwTextureSetReadCallback(CountingRead);
    RwTextureDictionary *older = RwTextureDictionaryCreate(), *newer = RwTextureDictionaryCreate();
    RwTextureDictionaryAddTexture(older, RwTextureSetName(RwTextureCreate(nullptr), "rock"));
    RwTexture *newest = RwTextureDictionaryAddTexture(newer, RwTextureSetName(RwTextureCreate(nullptr), "ROCK"));
    // No current dictionary: every dictionary is searched, newest first; nothing moves.
    RwTextureDictionarySetCurrent(nullptr);
    callbackReads = 0;
    EXPECT_EQ(newest, RwTextureRead("Rock", nullptr));
    EXPECT_EQ(2, newest->refCount);
    EXPECT_EQ(newer, newest->dict);
    RwTextureDestroy(newest);
    RwTexture *loose = RwTextureRead("sand", nullptr);
    EXPECT_EQ(nullptr, loose->dict);
    RwTextureDestroy(loose);
    // A current dictionary is the only one searched, and receives new textures.
    RwTextureDictionarySetCurrent(older);
    RwTexture *grass = RwTextureRead("grass", "");
    EXPECT_EQ(older, grass->dict);
    EXPECT_EQ(1, grass->refCount);
    EXPECT_EQ(2, callbackReads);
    EXPECT_EQ(nullptr, RwTextureRead("missing", nullptr));
    const RwError e = TakeError();
    EXPECT_EQ(1, e.pluginID);
    EXPECT_EQ(E_RW_READTEXMASK, e.errorCode);
    RwTextureDictionaryDestroy(older);
    RwTextureDictionaryDestroy(newer);
}

TEST_F(Texture, DefaultReadLoadsImageFilesIntoDeviceRasters)
{
    PutTestImage("brick", 4, 2, Rgba(10, 20, 30, 40));
    PutTestImage("pal", 2, 2, Rgba(1, 2, 3, 4), 8);
    RwTexture *brick = RwTextureRead("brick", nullptr);
    ASSERT_NE(nullptr, brick);
    EXPECT_STREQ("brick", brick->name);
    EXPECT_EQ(Default(), brick->dict);
    EXPECT_EQ(4, brick->raster->width);
    EXPECT_EQ(Rgba(10, 20, 30, 40), RwTestRasterPixel(brick->raster, 0, 3, 1));
    EXPECT_EQ(brick, RwTextureRead("BRICK", nullptr));
    RwTexture *pal = RwTextureRead("pal", nullptr);
    ASSERT_NE(nullptr, pal);
    EXPECT_EQ(8, pal->raster->depth);
    EXPECT_EQ(Rgba(1, 2, 3, 4), RwTestRasterPixel(pal->raster, 0, 1, 1));
    // A name longer than the loader's buffer is cut (and then not found).
    EXPECT_EQ(nullptr, RwTextureRead(std::string(300, 'x').c_str(), nullptr));
    EXPECT_EQ(E_RW_STRINGTOOLONG, TakeErrorCode());
    RwTestRastersFailCreate(0);
    RwTextureDestroy(pal);
    EXPECT_EQ(nullptr, RwTextureRead("pal", nullptr));
    TakeError();
    RwTextureDestroy(brick);
    RwTextureDestroy(brick);
}

TEST_F(Texture, ChunkFlagsSetModesAndMipmappingForTheLoad)
{
    RwTextureSetReadCallback(CountingRead);
    RwTexture *t = ReadTextureChunk(TextureChunkBody(0x0203, "ground", ""));
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(3, t->filterMode);
    EXPECT_EQ(0x22, t->addressing);
    EXPECT_TRUE(mipmappingSeen);
    EXPECT_TRUE(autoSeen);
    EXPECT_FALSE(RwTextureGetMipmapping());
    RwTexture *again = ReadTextureChunk(TextureChunkBody(0x10206, "GROUND", "mask"));
    EXPECT_EQ(t, again);
    EXPECT_EQ(3, t->filterMode);   // an existing texture keeps its modes
    RwTextureDestroy(ReadTextureChunk(TextureChunkBody(0x10206, "other", "")));
    EXPECT_TRUE(mipmappingSeen);
    EXPECT_FALSE(autoSeen);
    RwTextureDestroy(t);
    RwTextureDestroy(t);
}

TEST_F(Texture, ChunkRoundTripMatchesTheLayout)
{
    RwTexture *t = RwTextureSetName(RwTextureCreate(RwRasterCreate(2, 2, 0, rwRASTERTYPETEXTURE)), "tile");
    RwTextureSetMaskName(t, "tilemask");
    t->filterMode = rwFILTERLINEAR;
    t->addressing = 0x31;
    PluginWord(t) = 0xA1B2C3D4;
    RwStream *out = OpenWriteMemory();
    ASSERT_NE(nullptr, RwTextureStreamWrite(t, out));
    const Bytes written = CloseWritten(out);
    Bytes expected;
    const Bytes body = TextureChunkBody(0x13102, "tile", "tilemask", Build().Header(pluginID, 4).U32(0xA1B2C3D4));
    PutHeader(expected, 6, static_cast<RwUInt32>(body.size()));
    expected.insert(expected.end(), body.begin(), body.end());
    EXPECT_EQ(expected, written);
    EXPECT_EQ(body.size(), RwTextureStreamGetSize(t));
    RwTextureDestroy(t);
    // Read back through a read callback: flags and extension data come back.
    RwTextureSetReadCallback(CountingRead);
    RwTexture *back = ReadTextureChunk(body);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(rwFILTERLINEAR, back->filterMode);
    EXPECT_EQ(0x31, back->addressing);
    EXPECT_EQ(0xA1B2C3D4u, PluginWord(back));
    RwTextureDestroy(back);
}

TEST_F(Texture, HostileChunksGiveNullAndLeaveNothing)
{
    RwTextureSetReadCallback(CountingRead);
    const Bytes full = TextureChunkBody(0x1101, "leaf", "m", Build().Header(pluginID, 4).U32(7));
    for (size_t cut = 0; cut < full.size(); cut++) {
        EXPECT_EQ(nullptr, ReadTextureChunk(full, cut)) << cut;
        TakeError();
    }
    EXPECT_TRUE(Names(Default()).empty());
    // A 300-character name is refused before anything is loaded.
    callbackReads = 0;
    EXPECT_EQ(nullptr, ReadTextureChunk(TextureChunkBody(0x1101, std::string(300, 'n'), "")));
    EXPECT_EQ(E_RW_STRINGTOOLONG, TakeErrorCode());
    EXPECT_EQ(0, callbackReads);
    // Extension data that cannot be read gives back the reference the read took.
    failExtensionRead = true;
    EXPECT_EQ(nullptr, ReadTextureChunk(full));
    failExtensionRead = false;
    EXPECT_TRUE(Names(Default()).empty());
    TakeError();
}

namespace {

// A native texture chunk as the stand-in device writes it: a struct chunk of the 32-byte name.
Bytes NativeTexture(const char *name, const Bytes &extension)
{
    char field[32] = {};
    strcpy(field, name);
    Build b;
    b.Header(0x15, 44 + 12 + static_cast<RwUInt32>(extension.size())).Header(1, 32).Text(field, 32);
    b.Header(3, static_cast<RwUInt32>(extension.size()));
    b.bytes.insert(b.bytes.end(), extension.begin(), extension.end());
    return b;
}

Bytes NativeDictionary(RwUInt32 deviceID, const Bytes &textures, RwUInt32 count = 2)
{
    Bytes out = Build().Header(1, 4).U32(count | deviceID << 16);
    out.insert(out.end(), textures.begin(), textures.end());
    const Bytes tail = Build().Header(3, 0);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

RwTextureDictionary *ReadNative(const Bytes &bytes, size_t n = static_cast<size_t>(-1))
{
    return ReadFrom(RwTextureDictionaryStreamRead, bytes, n);
}

}  // namespace

TEST_F(Texture, NativeDictionaryRoundTripGoesThroughTheDevice)
{
    RwTextureDictionary *dict = RwTextureDictionaryCreate();
    RwTextureDictionaryAddTexture(dict, RwTextureSetName(RwTextureCreate(nullptr), "one"));
    PluginWord(RwTextureDictionaryAddTexture(dict, RwTextureSetName(RwTextureCreate(nullptr), "two"))) = 5;
    RwStream *out = OpenWriteMemory();
    ASSERT_NE(nullptr, RwTextureDictionaryStreamWrite(dict, out));
    const Bytes written = CloseWritten(out);
    RwTextureDictionaryDestroy(dict);
    Bytes textures = NativeTexture("two", Build().Header(pluginID, 4).U32(5));
    const Bytes second = NativeTexture("one", {});
    textures.insert(textures.end(), second.begin(), second.end());
    const Bytes body = NativeDictionary(rwTESTDRIVERDEVICEID, textures);
    Bytes expected = Build().Header(0x16, static_cast<RwUInt32>(body.size()));
    expected.insert(expected.end(), body.begin(), body.end());
    EXPECT_EQ(expected, written);
    // Read back at the head: the order reverses; extension data comes along.
    RwTextureDictionary *back = ReadNative(body);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ((std::vector<std::string>{"one", "two"}), Names(back));
    EXPECT_EQ(5u, PluginWord(RwTextureDictionaryFindTexture(back, "two")));
    RwTextureDictionaryDestroy(back);
    // Another device's dictionary is not read; one written on device 0 is.
    EXPECT_EQ(nullptr, ReadNative(NativeDictionary(3, textures)));
    EXPECT_EQ(E_RW_NOERROR, TakeErrorCode());
    RwTextureDictionaryDestroy(ReadNative(NativeDictionary(0, textures)));
    for (size_t cut = 0; cut < body.size(); cut++) {
        EXPECT_EQ(nullptr, ReadNative(body, cut)) << cut;
        TakeError();
    }
    EXPECT_EQ(nullptr, ReadNative(NativeDictionary(0, textures, 0xFFFF)));
    TakeError();
}

namespace {
::testing::Environment *const engineEnvironment =
    ::testing::AddGlobalTestEnvironment(new TextureEnvironment(RegisterTexturePlugin));
}  // namespace
