// Engine viewports: own rasters, sub-viewports over a parent's, texture viewports.
#include "engine_host.h"

#include "engine/CKivViewport.h"
#include "gfx/core/raster.h"

namespace {

auto *const host = HostEngine();

TEST(Viewport, CreateMakesTheRequestedRasters)
{
    const struct {
        int depth, texture;
    } rows[] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (const auto &r : rows) {
        CKivViewport viewport;
        ASSERT_EQ(1, viewport.Create(HostWindow(), 64, 32, r.depth, r.texture));
        EXPECT_FLOAT_EQ(0.5f, viewport.GetAspect());
        ASSERT_NE(nullptr, viewport.GetRaster());
        EXPECT_EQ(rwRASTERTYPECAMERA, RwRasterGetType(viewport.GetRaster()));
        EXPECT_EQ(r.depth != 0, viewport.GetZRaster() != nullptr);
        if (viewport.GetZRaster()) {
            EXPECT_EQ(rwRASTERTYPEZBUFFER, RwRasterGetType(viewport.GetZRaster()));
        }
        EXPECT_EQ(r.texture != 0, viewport.GetTextureRaster() != nullptr);
        if (viewport.GetTextureRaster()) {
            EXPECT_EQ(rwRASTERTYPECAMERATEXTURE, RwRasterGetType(viewport.GetTextureRaster()));
            EXPECT_EQ(64, viewport.GetTextureRaster()->width);
        }
    }
}

TEST(Viewport, SubViewportsAreWindowsIntoTheParent)
{
    CKivViewport parent;
    ASSERT_EQ(1, parent.Create(HostWindow(), 128, 64, 1, 0));
    CKivViewport sub;
    const RwRect rect = {8, 4, 32, 16};
    ASSERT_EQ(1, sub.CreateSubViewport(&parent, &rect, 1));
    EXPECT_FLOAT_EQ(0.5f, sub.GetAspect());
    EXPECT_EQ(parent.GetRaster(), RwRasterGetParent(sub.GetRaster()));
    EXPECT_EQ(parent.GetZRaster(), RwRasterGetParent(sub.GetZRaster()));
    EXPECT_EQ(8, sub.GetRaster()->nOffsetX);
    EXPECT_EQ(32, sub.GetRaster()->width);

    const RwRect moved = {16, 16, 64, 16};
    ASSERT_EQ(1, sub.MoveSubViewport(&parent, &moved));
    EXPECT_FLOAT_EQ(0.25f, sub.GetAspect());
    EXPECT_EQ(16, sub.GetRaster()->nOffsetY);
    EXPECT_EQ(64, sub.GetZRaster()->width);

    CKivViewport bare;
    ASSERT_EQ(1, bare.Create(HostWindow(), 32, 32, 0, 0));
    EXPECT_EQ(0, sub.CreateSubViewport(&bare, &rect, 1));   // no depth raster to share
    EXPECT_EQ(0, sub.CreateSubViewport(nullptr, &rect, 0));
    EXPECT_EQ(nullptr, sub.GetRaster());

    CKivViewport texture;
    ASSERT_EQ(1, texture.CreateTextureViewport(HostWindow(), 64, 64, 1));
    EXPECT_EQ(rwRASTERTYPECAMERATEXTURE, RwRasterGetType(texture.GetRaster()));
    EXPECT_NE(nullptr, texture.GetZRaster());
    EXPECT_EQ(nullptr, texture.GetTextureRaster());
}

} // namespace
