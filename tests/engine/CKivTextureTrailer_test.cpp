// Texture trailers: frame timing and wrapping, stalled trailers, and trailers bound to a clump's material.
#include "engine_host.h"
#include "sample/engine_scene.h"

#include <cfloat>

#include "engine/CKivClump.h"
#include "engine/CKivTextureTrailer.h"
#include "gfx/core/texture.h"
#include "gfx/world/clump.h"
#include "gfx/world/material.h"

namespace {

auto *const host = HostEngine();

RwTexture *const kA = reinterpret_cast<RwTexture *>(0x10);
RwTexture *const kB = reinterpret_cast<RwTexture *>(0x20);
RwTexture *const kC = reinterpret_cast<RwTexture *>(0x30);

TEST(Trailer, FramesAdvanceAndWrapKeepingTheRemainder)
{
    CKivTextureTrailer trailer;
    EXPECT_EQ(nullptr, trailer.GetCurrentTexture());
    trailer.Update(1.0f);   // empty: nothing happens
    trailer.AddFrame("first", kA, 0.1f);
    trailer.AddFrame("second", kB, 0.2f);
    trailer.Update(0.25f);
    EXPECT_EQ(kB, trailer.GetCurrentTexture());
    EXPECT_NEAR(0.15f, trailer.GetTime(), 1e-5f);
    trailer.Update(0.1f);
    EXPECT_EQ(kA, trailer.GetCurrentTexture());
    EXPECT_NEAR(0.05f, trailer.GetTime(), 1e-5f);
    trailer.Reset();
    trailer.Update(0.1f);   // a duration equal to the time stays current
    EXPECT_EQ(kA, trailer.GetCurrentTexture());
}

TEST(Trailer, SameNameReplacesAndRestartsWithoutResettingTime)
{
    CKivTextureTrailer trailer;
    trailer.AddFrame("first", kA, 0.1f);
    trailer.AddFrame("second", kB, 0.2f);
    trailer.Update(0.15f);
    trailer.AddFrame("second", kC, 0.5f);
    EXPECT_EQ(2, trailer.GetFrameCount());
    EXPECT_EQ(kA, trailer.GetCurrentTexture());
    EXPECT_NEAR(0.05f, trailer.GetTime(), 1e-5f);
    EXPECT_EQ(kC, trailer.FindFrame("second")->texture);
    EXPECT_EQ(nullptr, trailer.FindFrame(nullptr));
    EXPECT_EQ(nullptr, trailer.FindFrame("SECOND"));
    const std::string longName(100, 'n');
    trailer.AddFrame(longName.c_str(), kA, 1.0f);
    trailer.AddFrame(longName.c_str(), kB, 1.0f);
    EXPECT_EQ(63u, strlen(trailer.FindFrame(longName.substr(0, 63).c_str())->name));
    trailer.Clear();
    EXPECT_EQ(0, trailer.GetFrameCount());
    EXPECT_EQ(nullptr, trailer.GetCurrentTexture());
}

// Durations without a positive one stop the trailer; a huge step costs one round.
TEST(Trailer, StalledAndHugeStepsEnd)
{
    const struct {
        float first, second, dt;
        RwTexture *shown;
    } cases[] = {
        {0.0f, 0.0f, 1.0f, kA}, {-1.0f, 0.0f, 5.0f, kA}, {-1.0f, 0.5f, 0.75f, kB},
        {0.1f, 0.2f, 3.0e7f, nullptr}, {0.1f, 0.2f, FLT_MAX, nullptr},
    };
    for (const auto &c : cases) {
        CKivTextureTrailer trailer;
        trailer.AddFrame("a", kA, c.first);
        trailer.AddFrame("b", kB, c.second);
        trailer.Update(c.dt);
        if (c.shown) {
            EXPECT_EQ(c.shown, trailer.GetCurrentTexture()) << c.first << " " << c.second;
        }
        EXPECT_LE(trailer.GetTime(), c.dt);
    }
    CKivTextureTrailer exact;
    exact.AddFrame("a", kA, 0.25f);
    exact.AddFrame("b", kB, 0.25f);
    exact.Update(1.0f);   // two whole rounds end on the last frame's boundary
    EXPECT_EQ(kB, exact.GetCurrentTexture());
    EXPECT_NEAR(0.25f, exact.GetTime(), 1e-6f);
}

RwTexture *MakeTexture(const char *name)
{
    RwTexture *texture = RwTextureCreate(nullptr);
    RwTextureSetName(texture, name);
    return texture;
}

TEST(Trailer, BoundTrailersDriveTheMaterialUntilUnbound)
{
    KivTestQuad quad;
    quad.name = "_headShape";
    WriteFileBytes("head.dff", KivTestModel({{quad, {0, 0, 0}}}));
    CKivClump clump;
    ASSERT_EQ(1, clump.Load("head.dff", nullptr));
    RwTexture *smile = MakeTexture("smile"), *frown = MakeTexture("frown");
    CKivTextureTrailer trailer;
    EXPECT_EQ(0, clump.SetTextureTrailer("_headShape", &trailer));   // no texture to show yet
    trailer.AddFrame("smile", smile, 0.1f);
    trailer.AddFrame("frown", frown, 0.1f);
    EXPECT_EQ(0, clump.SetTextureTrailer("absent", &trailer));
    ASSERT_EQ(1, clump.SetTextureTrailer("_headShape", &trailer));
    RwMaterial *material = clump.FindAtomic("_headShape")->geometry->matList.materials[0];
    EXPECT_EQ(smile, material->texture);
    clump.Update(0.15f);
    EXPECT_EQ(frown, material->texture);
    EXPECT_EQ(2, frown->refCount);
    clump.RemoveTextureTrailer(&trailer);
    clump.Update(0.1f);
    EXPECT_EQ(frown, material->texture);
    EXPECT_EQ(1, smile->refCount);
    clump.Destroy();
    EXPECT_EQ(1, frown->refCount);
    RwTextureDestroy(smile);
    RwTextureDestroy(frown);
}

} // namespace
