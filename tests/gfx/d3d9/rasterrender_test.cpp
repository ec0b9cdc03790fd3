// Tests of rendering rasters into other rasters and of clearing them, on the device.
#include <gtest/gtest.h>

#include <cstring>

#include "d3d9testdevice.h"
#include "gfx/core/error.h"
#include "gfx/core/raster.h"
#include "gfx/d3d9/d3d9raster.h"

namespace {

class RasterRender : public StartedDevice {
protected:
    void SetUp() override
    {
        StartedDevice::SetUp();
        RwErrorGet();
        screen = RwRasterCreate(1024, 768, 0, rwRASTERTYPECAMERA);
        ASSERT_NE(screen, nullptr);
    }
    void TearDown() override
    {
        while (RwRasterPopContext()) {
        }
        RwRasterDestroy(screen);
        StartedDevice::TearDown();
    }

    // A small texture of one 32-bit value.
    static RwRaster *Filled(RwInt32 size, RwUInt32 value, RwInt32 format = rwRASTERFORMAT8888)
    {
        RwRaster *r = RwRasterCreate(size, size, 0, rwRASTERTYPETEXTURE | format);
        RwUInt8 *p = RwRasterLock(r, 0, rwRASTERLOCKWRITE);
        for (RwInt32 y = 0; y < size; y++) {
            for (RwInt32 x = 0; x < size; x++) {
                std::memcpy(p + y * r->stride + x * (r->depth / 8), &value, r->depth / 8);
            }
        }
        RwRasterUnlock(r);
        return r;
    }

    RwRaster *screen = nullptr;
};

TEST_F(RasterRender, TexturesDrawIntoTheCameraAsQuadsAndZBuffersAreRefused)
{
    RwRaster *red = Filled(4, 0xFFFF0000);
    RwRaster *depth = RwRasterCreate(1024, 768, 0, rwRASTERTYPEZBUFFER);
    ASSERT_TRUE(RwRasterPushContext(screen));
    ASSERT_TRUE(RwRasterClear(0xFF000000));
    EXPECT_TRUE(RwRasterRender(red, 100, 100));
    const RwRect stretched = {200, 200, 50, 50};
    EXPECT_TRUE(RwRasterRenderScaled(red, &stretched));
    EXPECT_TRUE(RwRasterRenderFast(red, 300, 300));
    EXPECT_EQ(RwRasterRender(depth, 0, 0), nullptr);
    EXPECT_EQ(static_cast<RwInt32>(rwD3D9ERRORCREATE), RwErrorGet().errorCode);
    const RwRect corner = {500, 500, 10, 10};
    EXPECT_TRUE(RwRasterClearRect(&corner, 0xFF00FF00));
    RwRasterPopContext();
    if (rwD3D9Driver.inScene) {
        real->EndScene();
        rwD3D9Driver.inScene = FALSE;
    }
    struct Probe {
        int x, y;
        DWORD rgb;
    } probes[] = {{101, 101, 0xFF0000}, {106, 106, 0}, {245, 245, 0xFF0000}, {255, 255, 0},
                  {301, 301, 0xFF0000}, {505, 505, 0x00FF00}, {512, 512, 0}};
    for (const Probe &p : probes) {
        EXPECT_TRUE(NearColour(ReadPixel(p.x, p.y), p.rgb, 4)) << p.x << " " << std::hex << ReadPixel(p.x, p.y);
    }
    // A z-buffer context takes nothing.
    ASSERT_TRUE(RwRasterPushContext(depth));
    EXPECT_EQ(RwRasterRender(red, 0, 0), nullptr);
    RwRasterPopContext();
    RwRasterDestroy(depth);
    RwRasterDestroy(red);
}

// Managed textures are filled through a lock: 16-bit pixels take the low
// half of the value, 8-bit ones the nearest palette entry, and rectangles
// reaching outside are cut to the raster.
TEST_F(RasterRender, ClearsFillLockedTexturesInsideTheirBounds)
{
    RwRaster *wide = Filled(4, 0, rwRASTERFORMAT565);
    ASSERT_TRUE(RwRasterPushContext(wide));
    const RwRect middle = {1, 1, 2, 2};
    EXPECT_TRUE(RwRasterClearRect(&middle, 0x1234F800));
    const RwRect beyond = {3, -5, 100, 6};
    EXPECT_TRUE(RwRasterClearRect(&beyond, 0x001F));
    RwRasterPopContext();
    RwUInt8 *p = RwRasterLock(wide, 0, rwRASTERLOCKREAD);
    auto at = [&](int x, int y) {
        RwUInt16 v;
        std::memcpy(&v, p + y * wide->stride + 2 * x, 2);
        return v;
    };
    EXPECT_EQ(0xF800, at(1, 1));
    EXPECT_EQ(0xF800, at(2, 2));
    EXPECT_EQ(0, at(0, 0));
    EXPECT_EQ(0, at(1, 3));
    EXPECT_EQ(0x001F, at(3, 0));
    EXPECT_EQ(0, at(3, 1));
    RwRasterUnlock(wide);
    RwRasterDestroy(wide);

    // 8-bit pixels take the nearest palette entry (this device has no
    // palettised textures: an 8-bit luminance texture carries the record).
    RwRaster *indexed = RwRasterCreate(4, 4, 0, rwRASTERTYPETEXTURE | rwRASTERFORMATLUM8);
    ASSERT_NE(indexed, nullptr);
    ASSERT_EQ(8, indexed->depth);
    RwD3D9Palette palette = {};
    for (int i = 0; i < 256; i++) {
        palette.entries[i] = {static_cast<BYTE>(i), 0, 0, 255};
    }
    palette.entries[200] = palette.entries[5];
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(indexed);
    ext->palette = &palette;
    struct Case {
        RwUInt32 value;
        RwUInt8 index;
    } cases[] = {{0xFF000005, 5}, {0xFF000709, 9}, {0xFF0000FF, 255}};
    const RwRect all = {0, 0, 4, 4};
    for (const Case &c : cases) {
        ASSERT_TRUE(RwRasterPushContext(indexed));
        EXPECT_TRUE(RwRasterClearRect(&all, static_cast<RwInt32>(c.value)));
        RwRasterPopContext();
        RwUInt8 *q = RwRasterLock(indexed, 0, rwRASTERLOCKREAD);
        EXPECT_EQ(c.index, q[3 * indexed->stride + 3]) << std::hex << c.value;
        RwRasterUnlock(indexed);
    }
    // Without a palette there is nothing to match: refused.
    ext->palette = nullptr;
    ASSERT_TRUE(RwRasterPushContext(indexed));
    EXPECT_FALSE(RwRasterClearRect(&all, 0));
    EXPECT_EQ(static_cast<RwInt32>(rwD3D9ERRORUNSUPPORTED), RwErrorGet().errorCode);
    RwRasterPopContext();
    RwRasterDestroy(indexed);
}

}  // namespace
