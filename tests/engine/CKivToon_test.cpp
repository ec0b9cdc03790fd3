// Toon set-up: dictionaries loaded through the archive, toon rendering applied to and removed from atomics.
#include "engine_host.h"

#include <cstring>

#include "engine/CKivClump.h"
#include "engine/CKivToon.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/core/frame.h"
#include "gfx/core/pipeline.h"
#include "gfx/plugins/skin/skin.h"
#include "gfx/plugins/skin/skinint.h"
#include "gfx/plugins/toon/toon.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"

namespace {

auto *const host = HostEngine();

std::string Name(const char *name)
{
    std::string s(name);
    s.resize(32, '\0');
    return s;
}

std::string InkFile()
{
    std::string dict, ink;
    PutU32(dict, 0x56780001);
    PutU32(dict, 1);
    PutU32(ink, 0x12340002);
    ink += Name("outline");
    for (float f : {2.0f, 0.0f, 1.0f, 1.0f})
        PutF32(ink, f);
    return Chunk(1, dict) + Chunk(1, ink);
}

std::string PaintFile()
{
    std::string dict, paint;
    PutU32(dict, 0xBCDE0001);
    PutU32(dict, 1);
    PutU32(paint, 0x43210001);
    PutU32(paint, 0);
    paint += Name("shade");
    return Chunk(1, dict) + Chunk(1, paint);
}

class Toon : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFileBytes("toon_test.ink", InkFile());
        WriteFileBytes("toon_test.pnt", PaintFile());
        CKivBase::SetTextureReadMode(2);
    }
    void TearDown() override
    {
        DeleteFileA("toon_test.ink");
        DeleteFileA("toon_test.pnt");
    }
};

// A paint with a texture chunk naming the picture.
std::string TexturedPaintFile(const char *texture)
{
    std::string dict, paint, name(texture), flags;
    PutU32(dict, 0xBCDE0001);
    PutU32(dict, 1);
    PutU32(paint, 0x43210001);
    PutU32(paint, 1);
    paint += Name("shade");
    PutU32(flags, 0x1102);
    name.resize((name.size() + 4) & ~3u, '\0');
    const std::string body = Chunk(1, flags) + Chunk(2, name) + Chunk(2, std::string(4, '\0')) + Chunk(3, "");
    return Chunk(1, dict) + Chunk(1, paint) + Chunk(6, body);
}

DWORD WINAPI LoadTexturedToon(void *toon)
{
    return static_cast<CKivToon *>(toon)->Load("toon_test.ink", "toon_textured.pnt", "tex/");
}

// The read mode a toon load sets for its paint's texture is never seen by
// another thread's read: at a quarter texture size, the main thread's read
// during the load is a quarter size and linear.
TEST_F(Toon, AToonLoadsReadModeIsSeenByNoOtherRead)
{
    WriteFileBytes("tex/toonpaint.png", GradientPng(1024, 1024));
    WriteFileBytes("tex/toonbeside.png", GradientPng(64, 64));
    WriteFileBytes("toon_textured.pnt", TexturedPaintFile("toonpaint"));
    CKivBase *base = CKivBase::GetInstance();
    base->SetTextureQuality(2);
    CKivToon toon;
    HANDLE loader = CreateThread(nullptr, 102400, LoadTexturedToon, &toon, 0, nullptr);
    bool seen = false;
    for (DWORD start = GetTickCount(); !seen && GetTickCount() - start < 5000; SwitchToThread())
        seen = CKivBase::GetTextureReadMode() == 1;
    EXPECT_TRUE(seen);
    RwTexture *beside = base->ReadTexture("toonbeside", "tex/");
    DWORD loaded = 0;
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(loader, 10000));
    GetExitCodeThread(loader, &loaded);
    CloseHandle(loader);
    base->SetTextureQuality(0);
    EXPECT_EQ(1u, loaded);
    ASSERT_NE(nullptr, beside);
    EXPECT_EQ(16, RwTextureGetRaster(beside)->width);
    EXPECT_EQ(2, RwTextureGetFilterMode(beside));
    EXPECT_EQ(2, CKivBase::GetTextureReadMode());
    ASSERT_NE(nullptr, toon.GetPaintDictionary());
    ASSERT_NE(nullptr, toon.GetPaintDictionary()->paints[0]->texture);
    toon.Release();
    base->ReleaseTexture("toonbeside");
    base->ReleaseTexture("toonpaint");
    DeleteFileA("toon_textured.pnt");
}

TEST_F(Toon, LoadsRestoreTheReadModeAndAnInkOnlyLoadLeavesThePaintsOut)
{
    CKivToon toon;
    ASSERT_EQ(1, toon.Load("toon_test.ink", nullptr, nullptr));
    ASSERT_NE(nullptr, toon.GetInkDictionary());
    EXPECT_EQ(1, toon.GetInkDictionary()->count);
    EXPECT_EQ(nullptr, toon.GetPaintDictionary());
    EXPECT_EQ(2, CKivBase::GetTextureReadMode());
    ASSERT_EQ(1, toon.Load("toon_test.ink", "toon_test.pnt", "tex/"));
    EXPECT_EQ(1, toon.GetPaintDictionary()->count);

    WriteFileBytes("toon_bad.ink", InkFile().substr(0, 30));
    const char *cases[][2] = {{"missing.ink", nullptr}, {"toon_bad.ink", nullptr}, {"toon_test.ink", "missing.pnt"}};
    for (const auto &c : cases) {
        CKivToon failed;
        EXPECT_EQ(0, failed.Load(c[0], c[1], ""));
        EXPECT_EQ(2, CKivBase::GetTextureReadMode()) << c[0];
    }
    DeleteFileA("toon_bad.ink");
}

// An atomic on its own frame in the clump; with toon data naming "outline" and "shade" when asked.
RwAtomic *AddAtomic(RwClump *clump, bool toonData)
{
    RwGeometry *g = RwGeometryCreate(3, 1, rwGEOMETRYPOSITIONS);
    if (toonData) {
        RwToonGeo *t = RwToonGeoCreate(3, 1);
        std::strcpy(t->inkNames[0], "outline");
        std::strcpy(t->paintName, "shade");
        RwToonGeometrySetToonGeo(g, t);
    }
    RwAtomic *a = RwAtomicCreate();
    RwAtomicSetFrame(a, RwFrameCreate());
    RwAtomicSetGeometry(a, g, 0);
    RwGeometryDestroy(g);
    RwClumpAddAtomic(clump, a);
    return a;
}

void DestroyClump(RwClump *clump)
{
    RwClumpForAllAtomics(
        clump,
        [](RwAtomic *a, void *) {
            RwFrame *f = RwAtomicGetFrame(a);
            RwAtomicSetFrame(a, nullptr);
            RwFrameDestroy(f);
            return a;
        },
        nullptr);
    RwClumpDestroy(clump);
}

TEST_F(Toon, ApplyAndRemoveFollowTheSkipRules)
{
    CKivToon toon;
    ASSERT_EQ(1, toon.Load("toon_test.ink", "toon_test.pnt", ""));
    RwClump *clump = RwClumpCreate();
    RwClumpSetFrame(clump, RwFrameCreate());
    RwAtomic *shown = AddAtomic(clump, true);
    RwAtomic *plain = AddAtomic(clump, false);
    RwAtomic *hidden = AddAtomic(clump, true);
    hidden->renderCallBack = CKivClump::NullRenderCallBack;
    ASSERT_EQ(1, toon.ApplyToClump(clump));
    RwToonGeo *t = RwToonGeometryGetToonGeo(shown->geometry);
    EXPECT_EQ(RwToonAtomicRenderCallBack, shown->renderCallBack);
    EXPECT_EQ(rwToonPipelines.atomic, shown->pipeline);
    EXPECT_EQ(toon.GetInkDictionary()->inks[0], t->inks[0]);
    EXPECT_EQ(toon.GetPaintDictionary()->paints[0], t->paint);
    EXPECT_EQ(RwAtomicDefaultRenderCallBack, plain->renderCallBack);
    EXPECT_EQ(nullptr, plain->pipeline);
    EXPECT_EQ(CKivClump::NullRenderCallBack, hidden->renderCallBack);
    EXPECT_EQ(nullptr, RwToonGeometryGetToonGeo(hidden->geometry)->inks[0]);
    toon.Release();
    ASSERT_EQ(1, toon.RemoveFromClump(clump));
    EXPECT_EQ(RwAtomicDefaultRenderCallBack, shown->renderCallBack);
    EXPECT_EQ(nullptr, shown->pipeline);
    // Bound inks and paints outlive the toon that bound them.
    EXPECT_STREQ("outline", t->inks[0]->name);
    EXPECT_STREQ("shade", t->paint->name);
    DestroyClump(clump);
}

TEST_F(Toon, SkinnedAtomicsSwitchOnlyFromThePlainType)
{
    CKivToon toon;
    ASSERT_EQ(1, toon.Load("toon_test.ink", nullptr, nullptr));
    RwClump *clump = RwClumpCreate();
    RwClumpSetFrame(clump, RwFrameCreate());
    RwAtomic *atomics[2] = {AddAtomic(clump, true), AddAtomic(clump, true)};
    for (RwAtomic *a : atomics) {
        RwSkinGeometrySetSkin(a->geometry, RwSkinCreateRecord(1, 1, 3));
    }
    RwSkinAtomicSetType(atomics[0], rwSKINTYPEGENERIC);
    // Without the effects plug-in type 2 falls back to 1: a pipeline that says 2 stands in.
    RxPipeline *matfx = RwPipelineCreate();
    matfx->pluginId = rwID_SKINPLUGIN;
    matfx->pluginData = rwSKINTYPEMATFX;
    atomics[1]->pipeline = matfx;
    toon.ApplyToClump(clump);
    EXPECT_EQ(rwSKINTYPETOON, RwSkinAtomicGetType(atomics[0]));
    EXPECT_TRUE(RwToonGeometryGetToonGeo(atomics[0]->geometry)->skinned);
    EXPECT_EQ(RwToonAtomicRenderCallBack, atomics[0]->renderCallBack);
    EXPECT_EQ(matfx, atomics[1]->pipeline);
    EXPECT_NE(nullptr, RwToonGeometryGetToonGeo(atomics[1]->geometry)->inks[0]);
    toon.RemoveFromAtomic(atomics[0]);
    EXPECT_EQ(rwSKINTYPEGENERIC, RwSkinAtomicGetType(atomics[0]));
    DestroyClump(clump);
    RwPipelineDestroy(matfx);
}

} // namespace
