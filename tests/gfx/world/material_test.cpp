#include <gtest/gtest.h>

#include "gfx/core/pipeline.h"
#include "gfx/core/texture.h"
#include "gfx/world/material.h"
#include "support/hostile_reals.h"
#include "support/stream_bytes.h"
#include "world_modules.h"

namespace {

const RwUInt32 kRightsUser = 0xBE5;
RwUInt32 rightsSeen = 0;
int rightsCalls = 0;
int texturesFreed = 0;

void *CountFreedTexture(void *texture, RwInt32, RwInt32)
{
    ++texturesFreed;
    return texture;
}

RwBool RecordRights(void *, RwInt32, RwInt32, RwUInt32 extraData)
{
    rightsSeen = extraData;
    ++rightsCalls;
    return TRUE;
}

void Register()
{
    RegisterWorldObjectModules();
    counting::offset = RwMaterialRegisterPlugin(4, 0xCA11, counting::Construct, counting::Destruct, nullptr);
    RwMaterialRegisterPluginStream(0xCA11, counting::Read, nullptr, nullptr);
    ASSERT_GE(RwMaterialRegisterPlugin(0, kRightsUser, nullptr, nullptr, nullptr), 0);
    ASSERT_GE(RwMaterialSetStreamRightsCallBack(kRightsUser, RecordRights), 0);
    ASSERT_GE(RwTextureRegisterPlugin(4, 0xF4EE, nullptr, CountFreedTexture, nullptr), 0);
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Register));

RwTexture *NoTexture(const RwChar *, const RwChar *) { return nullptr; }

// Body of a material chunk: the first `size` bytes of a struct with colour
// 11 22 33 44 and surface 0.25, 0.5, 0.75 (then 0xAA filler), an optional
// texture chunk and an empty extension chunk.
Bytes MaterialBody(RwUInt32 size, RwUInt32 textured = 0, const Bytes &texture = Bytes())
{
    Bytes rec = Build().U32(0).U32(0x44332211).U32(0xDEAD).U32(textured);
    PutReals(rec, {0.25f, 0.5f, 0.75f});
    rec.resize(size, 0xAA);
    Bytes b = Build().Header(1, size);
    b.insert(b.end(), rec.begin(), rec.end());
    b.insert(b.end(), texture.begin(), texture.end());
    PutHeader(b, 3, 0);
    return b;
}

// A texture chunk naming "wood" (its declared size may lie).
Bytes TextureChunk(RwUInt32 declared = 0)
{
    Bytes body = Build().Header(1, 4).U32(0x1102).Header(2, 8).Text("wood\0\0\0\0", 8).Header(2, 4).U32(0).Header(3, 0);
    Bytes b = Build().Header(6, declared ? declared : static_cast<RwUInt32>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

class Material : public CountedTest {
protected:
    void SetUp() override
    {
        CountedTest::SetUp();
        RwTextureSetReadCallback(NoTexture);
        dict = RwTextureDictionaryCreate();
        RwTextureDictionarySetCurrent(dict);
        wood = RwTextureCreate(nullptr);
        RwTextureSetName(wood, "wood");
        RwTextureDictionaryAddTexture(dict, wood);
    }
    void TearDown() override
    {
        RwTextureDictionarySetCurrent(nullptr);
        RwTextureDictionaryDestroy(dict);
        RwTextureSetReadCallback(nullptr);
        CountedTest::TearDown();
    }
    RwTextureDictionary *dict = nullptr;
    RwTexture *wood = nullptr;
};

TEST_F(Material, ReferencesOfMaterialsAndTextures)
{
    RwMaterial *m = RwMaterialCreate();
    ASSERT_NE(nullptr, m);
    EXPECT_EQ(0xFFFFFFFFu, *reinterpret_cast<RwUInt32 *>(&m->color));
    EXPECT_EQ(1.0f, m->surfaceProps.ambient);
    EXPECT_EQ(1.0f, m->surfaceProps.specular);
    EXPECT_EQ(1.0f, m->surfaceProps.diffuse);
    RwMaterialAddRef(RwMaterialAddRef(m));
    EXPECT_TRUE(RwMaterialDestroy(m));
    EXPECT_EQ(2, m->refCount);
    RwMaterialSetTexture(m, wood);
    EXPECT_EQ(2, wood->refCount);
    // A texture that only the material holds survives being set again.
    RwTexture *own = RwTextureCreate(nullptr);
    RwMaterialSetTexture(m, own);
    EXPECT_EQ(1, wood->refCount);
    RwTextureDestroy(own);
    texturesFreed = 0;
    RwMaterialSetTexture(m, own);
    EXPECT_EQ(0, texturesFreed);
    EXPECT_EQ(1, own->refCount);
    RwMaterialDestroy(m);
    RwMaterialDestroy(m);
    EXPECT_EQ(1, texturesFreed);
}

TEST_F(Material, StructSizesAndTextures)
{
    struct Case {
        Bytes body;
        bool ok;
        RwReal diffuse;
        RwTexture *texture;
    } cases[] = {
        {MaterialBody(28), true, 0.75f, nullptr},
        {MaterialBody(24), true, 0.0f, nullptr},
        {MaterialBody(36), true, 0.75f, nullptr},   // surplus skipped
        {MaterialBody(28, 1, TextureChunk()), true, 0.75f, wood},
        {MaterialBody(28, 1), false, 0, nullptr},   // texture chunk missing
        {MaterialBody(28, 1, TextureChunk(200)), false, 0, nullptr},
    };
    for (Case &c : cases) {
        RwStream *s = OpenRead(c.body);
        RwMaterial *m = RwMaterialStreamRead(s);
        ASSERT_EQ(c.ok, m != nullptr) << c.body.size();
        if (m) {
            EXPECT_EQ(0u, Unread(s));
            EXPECT_EQ(0x11, m->color.red);
            EXPECT_EQ(0x44, m->color.alpha);
            EXPECT_EQ(0.25f, m->surfaceProps.ambient);
            EXPECT_EQ(c.diffuse, m->surfaceProps.diffuse);
            EXPECT_EQ(c.texture, m->texture);
            RwMaterialDestroy(m);
        } else {
            EXPECT_NE(0x80000000u, TakeErrorCode());
        }
        RwStreamClose(s, nullptr);
        ExpectCustomReadsAsMemory(c.body, RwMaterialStreamRead, RwMaterialDestroy, "material");
    }
    // A texture that is not found leaves the material untextured.
    RwTextureSetName(wood, "oak");
    Bytes body = MaterialBody(28, 1, TextureChunk());
    RwMaterial *m = ReadWith(body, RwMaterialStreamRead);
    ASSERT_NE(nullptr, m);
    EXPECT_EQ(nullptr, m->texture);
    RwMaterialDestroy(m);
    ExpectCustomReadsAsMemory(body, RwMaterialStreamRead, RwMaterialDestroy, "material, texture missing");
}

TEST_F(Material, NonFiniteSurfacePropertiesAreRefused)
{
    ExpectNonFiniteRefused(MaterialBody(28), {28, 32, 36}, RwMaterialStreamRead);
    EXPECT_EQ(0, counting::live);
}

TEST_F(Material, RightsChunkNamesThePipelinesBuilder)
{
    RxPipeline pipeline = {};
    pipeline.pluginId = kRightsUser;
    pipeline.pluginData = 0x5151;
    RwMaterial *m = RwMaterialCreate();
    m->pipeline = &pipeline;
    RwMaterialSetTexture(m, wood);
    Bytes bytes = WrittenWith([&](RwStream *w) { return RwMaterialStreamWrite(m, w); });
    ASSERT_EQ(12 + RwMaterialStreamGetSize(m), bytes.size());
    const Bytes tail = Build().Header(3, 20).Header(0x1F, 8).U32(kRightsUser).U32(0x5151);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), bytes.end() - tail.size()));
    RwMaterial *back = ReadChunkWith(bytes, 7, RwMaterialStreamRead);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(0x5151u, rightsSeen);
    EXPECT_EQ(wood, back->texture);
    EXPECT_EQ(3, wood->refCount);
    RwMaterialDestroy(back);
    // A material read next without rights names no builder.
    const int calls = rightsCalls;
    Bytes plain = MaterialBody(28);
    RwMaterial *other = ReadWith(plain, RwMaterialStreamRead);
    ASSERT_NE(nullptr, other);
    EXPECT_EQ(calls, rightsCalls);
    RwMaterialDestroy(other);
    RwMaterialDestroy(m);
}

TEST_F(Material, ListsWriteEachMaterialOnceAndReadBackReferences)
{
    RwMaterial *a = RwMaterialCreate();
    RwMaterial *b = RwMaterialCreate();
    RwMaterialList list;
    RwMaterialListInitialize(&list);
    for (RwMaterial *m : {a, b, a, a}) {
        RwMaterialListAppendMaterial(&list, m);
    }
    EXPECT_EQ(3, RwMaterialListFindMaterialIndex(&list, a));
    auto write = [&](RwStream *w) { return RwMaterialListStreamWrite(&list, w); };
    Bytes bytes = WrittenWith(write);
    const Bytes head = Build().Header(8, RwMaterialListStreamGetSize(&list)).Header(1, 20).U32(4).U32(-1).U32(-1).U32(0).U32(2).Header(7, RwMaterialStreamGetSize(a));
    ASSERT_EQ(12 + RwMaterialListStreamGetSize(&list), bytes.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));
    RwMaterialListDeinitialize(&list);
    EXPECT_EQ(1, a->refCount);

    ASSERT_NE(nullptr, ReadChunkWith(bytes, 8, [&](RwStream *r) { return RwMaterialListStreamRead(r, &list); }));
    ASSERT_EQ(4, list.numMaterials);
    EXPECT_EQ(list.materials[0], list.materials[2]);
    EXPECT_EQ(list.materials[0], list.materials[3]);
    EXPECT_EQ(3, list.materials[0]->refCount);
    EXPECT_EQ(1, list.materials[1]->refCount);
    RwMaterialListDeinitialize(&list);

    // Growth by twenty; an empty list writes a count and nothing else.
    for (int i = 0; i < 21; ++i) {
        RwMaterialListAppendMaterial(&list, a);
    }
    EXPECT_EQ(40, list.space);
    RwMaterialListDeinitialize(&list);
    EXPECT_EQ(Bytes(Build().Header(8, 16).Header(1, 4).U32(0)), WrittenWith(write));
    RwMaterialDestroy(a);
    RwMaterialDestroy(b);
}

TEST_F(Material, HostileListsAreRefusedWithNothingKept)
{
    const Bytes one = [] {
        Bytes b = MaterialBody(28);
        Bytes c = Build().Header(7, static_cast<RwUInt32>(b.size()));
        c.insert(c.end(), b.begin(), b.end());
        return c;
    }();
    auto list = [&](std::initializer_list<RwUInt32> words, RwUInt32 structSize) {
        Build b;
        b.Header(1, structSize);
        for (RwUInt32 w : words) {
            b.U32(w);
        }
        Bytes out = b;
        out.insert(out.end(), one.begin(), one.end());
        out.insert(out.end(), one.begin(), one.end());
        return out;
    };
    std::vector<Bytes> cases = {
        list({2, RwUInt32(-1), 1}, 12),          // refers to itself
        list({2, RwUInt32(-1), 7}, 12),          // beyond the list
        list({RwUInt32(-3)}, 4),                 // negative count
        list({0x40000000, RwUInt32(-1)}, 8),     // count beyond the struct
        list({2, RwUInt32(-1), RwUInt32(-1)}, 0x7FFFFFF0),
    };
    Bytes good = list({3, RwUInt32(-1), RwUInt32(-1), 1}, 16);
    for (size_t cut = 0; cut < good.size(); ++cut) {
        cases.push_back(Bytes(good.begin(), good.begin() + cut));
    }
    for (Bytes &c : cases) {
        RwMaterialList l = {reinterpret_cast<RwMaterial **>(1), 5, 5};
        RwStream *s = OpenRead(c);
        EXPECT_EQ(nullptr, RwMaterialListStreamRead(s, &l)) << c.size();
        EXPECT_EQ(nullptr, l.materials);
        EXPECT_EQ(0, l.numMaterials + l.space);
        EXPECT_NE(0x80000000u, TakeErrorCode());
        EXPECT_EQ(0, counting::live);
        RwStreamClose(s, nullptr);
    }
    RwMaterialList l;
    RwStream *s = OpenRead(good);
    ASSERT_NE(nullptr, RwMaterialListStreamRead(s, &l));
    EXPECT_EQ(3, l.numMaterials);
    EXPECT_EQ(2, counting::live);
    RwStreamClose(s, nullptr);
    RwMaterialListDeinitialize(&l);
}

}  // namespace
