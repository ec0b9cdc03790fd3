// Tests of material effects: slots and setters, bumped textures, copies and the material and atomic chunks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/started_engine.h"
#include "gfx/core/texture.h"
#include "gfx/plugins/matfx/matfxint.h"
#include "gfx/world/clump.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"
#include "support/hostile_reals.h"
#include "support/stream_bytes.h"
#include "support/test_rasters.h"

namespace {

void Register()
{
    RwTestRastersInstall();
    ASSERT_TRUE(RwWorldPluginAttach());
    ASSERT_TRUE(RwMatFxPluginAttach());
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Register));

RwTexture *NotFound(const RwChar *, const RwChar *) { return nullptr; }

// A texture chunk naming a four-letter texture.
Bytes TextureChunk(const char *name)
{
    Bytes body = Build().Header(1, 4).U32(0x1102).Header(2, 8).Text(name, 4).U32(0).Header(2, 4).U32(0).Header(3, 0);
    Bytes b = Build().Header(6, static_cast<RwUInt32>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes operator<<(Bytes b, const Bytes &more)
{
    b.insert(b.end(), more.begin(), more.end());
    return b;
}

Bytes Real(float f)
{
    Bytes b;
    PutReals(b, {f});
    return b;
}

class MatFx : public ::testing::Test {
protected:
    void SetUp() override
    {
        TakeError();
        RwTextureSetReadCallback(NotFound);
        dict = RwTextureDictionaryCreate();
        RwTextureDictionarySetCurrent(dict);
        for (const char *name : {"wood", "bump", "envm", "dual"}) {
            RwTexture *t = RwTextureCreate(RwRasterCreate(name[0] == 'w' ? 4 : 2, 2, 32,
                                                          rwRASTERTYPETEXTURE | rwRASTERFORMAT8888));
            RwTextureSetName(t, name);
            RwTextureDictionaryAddTexture(dict, t);
        }
        material = RwMaterialCreate();
        live = rwTestMemory.live;
    }
    void TearDown() override
    {
        RwMaterialDestroy(material);
        RwTextureDictionarySetCurrent(nullptr);
        RwTextureDictionaryDestroy(dict);
        RwTextureSetReadCallback(nullptr);
        EXPECT_EQ(0, RwTestRastersLive());
    }
    RwTexture *Tex(const char *name) { return RwTextureDictionaryFindTexture(dict, name); }
    RwStream *ReadChunk(Bytes &bytes, size_t n = ~size_t(0), RwMaterial *into = nullptr)
    {
        const RwInt32 length = static_cast<RwInt32>(n < bytes.size() ? n : bytes.size());
        RwMaterial *m = into ? into : material;
        auto read = [&](RwStream *s) { return RwMatFxMaterialStreamRead(s, length, m, rwMatFxOffsets.material, 4); };
        return ReadWith(bytes, read, n);
    }
    RwTextureDictionary *dict = nullptr;
    RwMaterial *material = nullptr;
    RwInt32 live = 0;
};

TEST_F(MatFx, HandAssembledChunksOfEachTypeRead)
{
    Bytes bump = Real(0.5f) << Build().U32(1) << TextureChunk("wood") << Build().U32(1) << TextureChunk("bump");
    Bytes env = Real(0.25f) << Build().U32(1).U32(1) << TextureChunk("envm");
    Bytes dual = Build().U32(9).U32(3).U32(1) << TextureChunk("dual");
    struct Case {
        RwInt32 type;
        RwInt32 kinds[2];
        Bytes data;
    } cases[] = {
        {1, {1, 0}, Build().U32(1) << bump << Build().U32(0)},
        {2, {2, 0}, Build().U32(2) << env << Build().U32(0)},
        {3, {1, 2}, Build().U32(1) << bump << Build().U32(2) << env},
        {4, {4, 0}, Build().U32(4) << dual << Build().U32(0)},
        {5, {5, 0}, Build().U32(5).U32(0)},
        {6, {5, 4}, Build().U32(5).U32(4) << dual},
    };
    for (Case &c : cases) {
        RwMaterial *m = RwMaterialCreate();
        Bytes bytes = Build().U32(static_cast<RwUInt32>(c.type)) << c.data;
        ASSERT_NE(nullptr, ReadChunk(bytes, ~size_t(0), m)) << c.type;
        RwMatFxEffectBlock *b = RwMatFxMaterialGetEffects(m);
        EXPECT_EQ(c.type, b->type);
        EXPECT_EQ(c.kinds[0], b->slots[0].kind);
        EXPECT_EQ(c.kinds[1], b->slots[1].kind);
        if (RwMatFxEffectSlot *s = RwMatFxMaterialGetEffectSlot(m, rwMATFXKINDBUMPMAP)) {
            EXPECT_EQ(Tex("wood"), s->data.bumpMap.bumpedTexture);
            EXPECT_EQ(Tex("bump"), s->data.bumpMap.bumpTexture);
            EXPECT_FLOAT_EQ(-0.5f, s->data.bumpMap.coef);
            EXPECT_FLOAT_EQ(0.25f, s->data.bumpMap.invBumpWidth);
        }
        if (RwMatFxEffectSlot *s = RwMatFxMaterialGetEffectSlot(m, rwMATFXKINDENVMAP)) {
            EXPECT_EQ(Tex("envm"), s->data.envMap.texture);
            EXPECT_FLOAT_EQ(0.25f, s->data.envMap.coef);
            EXPECT_EQ(1, s->data.envMap.useFrameBufferAlpha);
        }
        if (RwMatFxEffectSlot *s = RwMatFxMaterialGetEffectSlot(m, rwMATFXKINDDUAL)) {
            EXPECT_EQ(Tex("dual"), s->data.dual.texture);
            EXPECT_EQ(9, s->data.dual.srcBlendMode);
            EXPECT_EQ(3, s->data.dual.dstBlendMode);
        }
        if (RwMatFxEffectSlot *s = RwMatFxMaterialGetEffectSlot(m, rwMATFXKINDUVTRANSFORM)) {
            EXPECT_EQ(nullptr, s->data.uvTransform.baseTransform);
        }
        // Written back at the same size with the bump sign kept, and read again.
        Bytes written = WrittenWith([&](RwStream *w) { return RwMatFxMaterialStreamWrite(w, 0, m, 0, 4); });
        EXPECT_EQ(static_cast<RwInt32>(written.size()), RwMatFxMaterialStreamGetSize(m, 0, 4));
        EXPECT_EQ(bytes.size(), written.size());
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 12, written.begin())) << c.type;
        RwMaterial *again = RwMaterialCreate();
        ASSERT_NE(nullptr, ReadChunk(written, ~size_t(0), again));
        EXPECT_EQ(0, std::memcmp(RwMatFxMaterialGetEffects(m), RwMatFxMaterialGetEffects(again), 52)) << c.type;
        RwMaterialDestroy(again);
        RwMaterialDestroy(m);
    }
    EXPECT_EQ(1, Tex("wood")->refCount);
    EXPECT_EQ(1, Tex("dual")->refCount);
}

TEST_F(MatFx, MissingTextureLeavesTheSlotEmptyOtherErrorsFail)
{
    Bytes bytes = Build().U32(2).U32(2) << Real(1.0f) << Build().U32(0).U32(1) << TextureChunk("lost") << Build().U32(0);
    ASSERT_NE(nullptr, ReadChunk(bytes));
    EXPECT_EQ(nullptr, RwMatFxMaterialGetEffectSlot(material, rwMATFXKINDENVMAP)->data.envMap.texture);
    // Chunks of other types before the texture are stepped over; without a
    // texture chunk in the payload the read fails.
    Bytes other = Build().U32(4).U32(4).U32(5).U32(6).U32(1).Header(7, 4).U32(0xEE) << TextureChunk("dual")
                  << Build().U32(0);
    ASSERT_NE(nullptr, ReadChunk(other));
    EXPECT_EQ(Tex("dual"), RwMatFxMaterialGetEffectSlot(material, rwMATFXKINDDUAL)->data.dual.texture);
    Bytes wrong = Build().U32(4).U32(4).U32(5).U32(6).U32(1).Header(7, 0).U32(0);
    EXPECT_EQ(nullptr, ReadChunk(wrong));
    EXPECT_EQ(E_RW_READ, TakeErrorCode());
}

TEST_F(MatFx, HostileChunksAreRefusedWithNothingKept)
{
    Bytes full = Build().U32(3).U32(1) << Real(0.5f) << Build().U32(1) << TextureChunk("wood") << Build().U32(1)
                 << TextureChunk("bump") << Build().U32(2) << Real(0.25f) << Build().U32(0).U32(1)
                 << TextureChunk("envm");
    for (size_t n = 0; n < full.size(); ++n) {
        RwMaterial *m = RwMaterialCreate();
        EXPECT_EQ(nullptr, ReadChunk(full, n, m)) << n;
        RwMaterialDestroy(m);
    }
    for (const char *name : {"wood", "bump", "envm"}) {
        EXPECT_EQ(1, Tex(name)->refCount) << name;
    }
    Bytes badType = Build().U32(7).U32(0).U32(0);
    Bytes negative = Build().U32(0xFFFFFFFF).U32(0).U32(0);
    Bytes wrongKinds = Build().U32(5).U32(4).U32(0);
    for (Bytes *b : {&badType, &negative, &wrongKinds}) {
        TakeError();
        RwMaterial *m = RwMaterialCreate();
        EXPECT_EQ(nullptr, ReadChunk(*b, ~size_t(0), m));
        EXPECT_EQ(static_cast<RwInt32>(E_RP_MATFX_BADTYPE), TakeError().errorCode);
        RwMaterialDestroy(m);
    }
    EXPECT_EQ(live, rwTestMemory.live);
    // The bump and environment coefficients infinite or not a number.
    const RwInt32 length = static_cast<RwInt32>(full.size());
    ExpectNonFiniteRefused(full, {8, FindReal(full, 0.25f)}, [&](RwStream *s) {
        RwMaterial *m = RwMaterialCreate();
        RwStream *read = RwMatFxMaterialStreamRead(s, length, m, rwMatFxOffsets.material, 4);
        RwMaterialDestroy(m);
        return read;
    });
    for (const char *name : {"wood", "bump", "envm"}) {
        EXPECT_EQ(1, Tex(name)->refCount) << name;
    }
}

TEST_F(MatFx, TypeChangesReleaseTexturesAndKeepTheirLayout)
{
    Bytes bytes = Build().U32(3).U32(1) << Real(0.5f) << Build().U32(1) << TextureChunk("wood") << Build().U32(0)
                  << Build().U32(2) << Real(0.25f) << Build().U32(0).U32(1) << TextureChunk("envm");
    ASSERT_NE(nullptr, ReadChunk(bytes));
    EXPECT_EQ(2, Tex("envm")->refCount);
    ASSERT_EQ(material, RwMatFxMaterialSetEffects(material, 3));
    EXPECT_EQ(2, Tex("envm")->refCount);
    ASSERT_EQ(material, RwMatFxMaterialSetEffects(material, 6));
    EXPECT_EQ(1, Tex("envm")->refCount);
    EXPECT_EQ(1, Tex("wood")->refCount);
    RwMatFxEffectBlock *b = RwMatFxMaterialGetEffects(material);
    EXPECT_EQ(rwMATFXKINDUVTRANSFORM, b->slots[0].kind);
    EXPECT_EQ(rwMATFXKINDDUAL, b->slots[1].kind);
    EXPECT_EQ(5, b->slots[1].data.dual.srcBlendMode);
    EXPECT_EQ(6, b->slots[1].data.dual.dstBlendMode);
    // Setters on kinds the type lacks change nothing.
    EXPECT_EQ(nullptr, RwMatFxMaterialSetBumpTexture(material, Tex("bump")));
    EXPECT_EQ(nullptr, RwMatFxMaterialSetEffects(material, 7));
    ASSERT_EQ(material, RwMatFxMaterialSetEffects(material, 0));
    EXPECT_EQ(0, b->type);
    EXPECT_EQ(nullptr, RwMatFxMaterialSetUVTransformMatrices(material, nullptr, nullptr));
}

TEST_F(MatFx, BumpedTextureNameAlternatesAndResamplesTheHeight)
{
    RwChar name[32];
    RwMatFxBumpedTextureName(name, "ab", "wxyz");
    EXPECT_STREQ("awbxyz", name);
    RwMatFxBumpedTextureName(name, "0123456789abcdefghij", "ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(30u, std::strlen(name));
    // A 2x2 bump of brightness 0x80 over the 4x2 base: alpha 0x80 everywhere.
    RwImage *image = RwImageCreate(2, 2, 32);
    RwImageAllocatePixels(image);
    std::memset(image->cpPixels, 0x80, 2 * image->stride);
    RwRasterSetFromImage(Tex("bump")->raster, image);
    RwImageDestroy(image);
    RwMaterialSetTexture(material, Tex("wood"));
    ASSERT_EQ(material, RwMatFxMaterialSetEffects(material, 1));
    ASSERT_EQ(material, RwMatFxMaterialSetBumpTexture(material, Tex("bump")));
    RwMatFxBumpMapData &b = RwMatFxMaterialGetEffectSlot(material, rwMATFXKINDBUMPMAP)->data.bumpMap;
    ASSERT_NE(nullptr, b.bumpedTexture);
    EXPECT_STREQ("wbouomdp", b.bumpedTexture->name);
    EXPECT_EQ(dict, b.bumpedTexture->dict);
    EXPECT_EQ(4, b.bumpedTexture->raster->width);
    EXPECT_FLOAT_EQ(0.25f, b.invBumpWidth);
    EXPECT_EQ(0x80, RwTestRasterPixel(b.bumpedTexture->raster, 0, 3, 1).alpha);
    // A copy keeps the inverse width and takes its own references.
    RwMaterial *copy = RwMaterialCreate();
    ASSERT_EQ(copy, RwMatFxMaterialCopy(copy, material, 0, 4));
    RwMatFxBumpMapData &c = RwMatFxMaterialGetEffectSlot(copy, rwMATFXKINDBUMPMAP)->data.bumpMap;
    EXPECT_FLOAT_EQ(0.25f, c.invBumpWidth);
    EXPECT_EQ(2, b.bumpedTexture->refCount);
    RwMaterialDestroy(copy);
    EXPECT_EQ(1, b.bumpedTexture->refCount);
    // A second setting finds the bumped texture in the dictionary.
    RwTexture *first = b.bumpedTexture;
    ASSERT_EQ(material, RwMatFxMaterialSetBumpTexture(material, Tex("bump")));
    EXPECT_EQ(first, b.bumpedTexture);
    ASSERT_EQ(material, RwMatFxMaterialSetBumpTexture(material, nullptr));
    EXPECT_EQ(nullptr, b.bumpedTexture);
    EXPECT_FLOAT_EQ(0.25f, b.invBumpWidth);
}

TEST_F(MatFx, AtomicChunkPutsTheAtomicOnTheEffectsPipeline)
{
    RwAtomic *atomic = RwAtomicCreate();
    EXPECT_FALSE(RwMatFxAtomicQueryEffects(atomic));
    const RwInt32 offset = RwAtomicGetPluginOffset(rwID_MATERIALEFFECTSPLUGIN);
    EXPECT_EQ(0, RwMatFxFlagStreamGetSize(atomic, offset, 4));
    Bytes one = Build().U32(1);
    ASSERT_NE(nullptr, ReadWith(one, [&](RwStream *s) { return RwMatFxAtomicStreamRead(s, 4, atomic, offset, 4); }));
    EXPECT_TRUE(RwMatFxAtomicQueryEffects(atomic));
    EXPECT_EQ(rwMatFxPipelines.atomic, atomic->pipeline);
    EXPECT_NE(nullptr, atomic->pipeline);
    EXPECT_EQ(4, RwMatFxFlagStreamGetSize(atomic, offset, 4));
    RwAtomic *clone = RwAtomicClone(atomic);
    EXPECT_TRUE(RwMatFxAtomicQueryEffects(clone));
    EXPECT_EQ(nullptr, ReadWith(one, [&](RwStream *s) { return RwMatFxAtomicStreamRead(s, 2, clone, offset, 4); }, 2));
    RwAtomicDestroy(clone);
    RwAtomicDestroy(atomic);
    // Sectors likewise.
    alignas(4) RwUInt8 sector[512] = {};
    const RwInt32 sectorOffset = RwWorldSectorGetPluginOffset(rwID_MATERIALEFFECTSPLUGIN);
    ASSERT_LE(sectorOffset + 4, 512);
    auto read = [&](RwStream *s) { return RwMatFxSectorStreamRead(s, 4, sector, sectorOffset, 4); };
    ASSERT_NE(nullptr, ReadWith(one, read));
    EXPECT_EQ(rwMatFxPipelines.worldSector, reinterpret_cast<RwWorldSector *>(sector)->pipeline);
    EXPECT_TRUE(RwMatFxWorldSectorQueryEffects(reinterpret_cast<RwWorldSector *>(sector)));
}

TEST_F(MatFx, MaterialStreamCarriesTheEffects)
{
    ASSERT_EQ(material, RwMatFxMaterialSetEffects(material, rwMATFXEFFECTDUAL));
    RwMatFxMaterialGetEffectSlot(material, rwMATFXKINDDUAL)->data.dual.texture = RwTextureAddRef(Tex("dual"));
    RwMatFxMaterialSetDualBlendModes(material, 2, 2);
    Bytes bytes = WrittenWith([&](RwStream *w) { return RwMaterialStreamWrite(material, w); });
    RwMaterial *back = ReadChunkWith(bytes, 7, RwMaterialStreamRead);
    ASSERT_NE(nullptr, back);
    const RwMatFxDualData &d = RwMatFxMaterialGetEffectSlot(back, rwMATFXKINDDUAL)->data.dual;
    EXPECT_EQ(Tex("dual"), d.texture);
    EXPECT_EQ(2, d.srcBlendMode);
    EXPECT_EQ(2, d.dstBlendMode);
    RwMaterialDestroy(back);
    EXPECT_EQ(2, Tex("dual")->refCount);
    auto found = [](RwStream *s) {
        return RwStreamFindChunk(s, 7, nullptr, nullptr) ? RwMaterialStreamRead(s) : nullptr;
    };
    ExpectCustomReadsAsMemory(bytes, found, RwMaterialDestroy, "material with effects");
    EXPECT_EQ(2, Tex("dual")->refCount);
}

}  // namespace
