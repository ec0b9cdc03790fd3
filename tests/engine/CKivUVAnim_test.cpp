// The engine's UV animation files: the first animation of a ".uva" read through the archive, and its texture.
#include "engine_host.h"

#include "engine/CKivUVAnim.h"
#include "gfx/core/texture.h"
#include "gfx/plugins/matfx/matfx.h"
#include "gfx/plugins/uvanim/uvanim.h"
#include "gfx/plugins/uvanim/uva_bytes.h"
#include "gfx/world/material.h"

namespace {

using namespace uvabytes;

auto *const host = HostEngine();

std::string Text(const Bytes &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

TEST(UVAnim, LoadKeepsTheFirstAnimationAndItsTexture)
{
    WriteFileBytes("uvtex/scroll.png", GradientPng(4, 4));
    WriteFileBytes("three.uva", Text(Dictionary({Scroll("first"), Scroll("second"), Scroll("third")})));
    RwTextureDictionary *dict = RwTextureDictionaryCreate();
    RwTextureDictionary *previous = RwTextureDictionaryGetCurrent();
    RwTextureDictionarySetCurrent(dict);
    {
        CKivUVAnim anim;
        ASSERT_EQ(1, anim.Load("three.uva", "scroll", "uvtex/"));
        ASSERT_NE(nullptr, anim.GetAnimation());
        EXPECT_STREQ("first", RwUVAnimGetName(anim.GetAnimation()));
        ASSERT_NE(nullptr, anim.GetTexture());
        EXPECT_EQ(dict, anim.GetTexture()->dict);

        // The material holds its own references: both outlive the handle.
        RwMaterial *material = RwMaterialCreate();
        ASSERT_EQ(material, RwMatFxMaterialSetEffects(material, rwMATFXEFFECTUVTRANSFORM));
        RwMaterialSetTexture(material, anim.GetTexture());
        ASSERT_EQ(material, RwUVAnimMaterialSetAnim(material, anim.GetAnimation(), 0));
        RwAnimAnimation *held = anim.GetAnimation();
        RwTexture *texture = anim.GetTexture();
        anim.Release();
        EXPECT_EQ(nullptr, anim.GetAnimation());
        EXPECT_EQ(1, RwUVAnimGetCustomData(held)->refCount);
        EXPECT_EQ(1, texture->refCount);  // the material's
        EXPECT_EQ(material, RwUVAnimMaterialAddTime(material, 0.5f));
        RwMaterialDestroy(material);

        EXPECT_EQ(nullptr, RwTextureDictionaryFindTexture(dict, "scroll"));

        // A second load replaces the first; the destructor releases it.
        ASSERT_EQ(1, anim.Load("three.uva", "scroll", "uvtex/"));
        ASSERT_EQ(1, anim.Load("three.uva", "scroll", "uvtex/"));
        EXPECT_EQ(1, anim.GetTexture()->refCount);
    }
    EXPECT_EQ(nullptr, RwTextureDictionaryFindTexture(dict, "scroll"));
    RwTextureDictionarySetCurrent(previous);
    RwTextureDictionaryDestroy(dict);
}

TEST(UVAnim, FilesWithoutAnimationsKeepNothing)
{
    WriteFileBytes("uvtex/scroll.png", GradientPng(4, 4));
    Build plain;
    plain.Header(0x16, 4).U32(0);
    WriteFileBytes("plain.uva", Text(plain.bytes));
    WriteFileBytes("empty.uva", Text(Dictionary({})));
    const Bytes whole = Dictionary({Scroll("only")});
    WriteFileBytes("cut.uva", Text(Bytes(whole.begin(), whole.begin() + whole.size() / 2)));
    for (const char *name : {"plain.uva", "empty.uva", "cut.uva", "missing.uva"}) {
        CKivUVAnim anim;
        EXPECT_EQ(0, anim.Load(name, "scroll", "uvtex/")) << name;
        EXPECT_EQ(nullptr, anim.GetAnimation()) << name;
        EXPECT_EQ(nullptr, anim.GetTexture()) << name;
    }
    // An animation without its texture: the dictionary stays for the destructor.
    WriteFileBytes("lonely.uva", Text(whole));
    CKivUVAnim anim;
    EXPECT_EQ(0, anim.Load("lonely.uva", "absent", "uvtex/"));
    EXPECT_NE(nullptr, anim.GetAnimation());
    EXPECT_EQ(nullptr, anim.GetTexture());
}

}  // namespace
