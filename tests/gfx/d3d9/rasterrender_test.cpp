// Tests of rendering rasters into other rasters and of clearing them, on the device.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "d3d9testdevice.h"
#include "gfx/core/error.h"
#include "gfx/core/raster.h"
#include "gfx/d3d9/d3d9raster.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/d3d9/d3d9state.h"

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
    static RwRaster *Filled(RwInt32 size, RwUInt32 value, RwInt32 format = rwRASTERFORMAT8888,
                            RwInt32 type = rwRASTERTYPETEXTURE)
    {
        RwRaster *r = RwRasterCreate(size, size, 0, type | format);
        RwUInt8 *p = RwRasterLock(r, 0, rwRASTERLOCKWRITE);
        for (RwInt32 y = 0; y < size; y++) {
            for (RwInt32 x = 0; x < size; x++) {
                std::memcpy(p + y * r->stride + x * (r->depth / 8), &value, r->depth / 8);
            }
        }
        RwRasterUnlock(r);
        return r;
    }

    void EndScene()
    {
        if (rwD3D9Driver.inScene) {
            real->EndScene();
            rwD3D9Driver.inScene = FALSE;
        }
    }

    // A raster of the kind, size x size, cleared to the colour; a camera is the
    // window's rectangle of that size at (size x 20, size x 20).
    RwRaster *Make(RwUInt8 type, RwInt32 size, RwUInt32 rgb)
    {
        RwRaster *r = nullptr;
        if (type == rwRASTERTYPECAMERA) {
            r = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
            RwRect at = {size * 20, size * 20, size, size};
            RwRasterMakeSubRaster(r, screen, &at);
        } else if (type == rwRASTERTYPECAMERATEXTURE) {
            r = RwRasterCreate(size, size, 0, rwRASTERTYPECAMERATEXTURE | rwRASTERFORMAT888);
        } else {
            return Filled(size, 0xFF000000 | rgb, rwRASTERFORMAT8888, type);
        }
        RwRasterPushContext(r);
        RwRasterClear(static_cast<RwInt32>(0xFF000000 | rgb));
        RwRasterPopContext();
        return r;
    }

    // The RGB of a pixel of a raster, read through a lock.
    static RwUInt32 Pixel(RwRaster *raster, RwInt32 x, RwInt32 y)
    {
        RwUInt8 *p = RwRasterLock(raster, 0, rwRASTERLOCKREAD);
        if (!p)
            return 0xDEADBEEF;
        RwUInt32 v;
        std::memcpy(&v, p + y * raster->stride + 4 * x, 4);
        RwRasterUnlock(raster);
        return v & 0xFFFFFF;
    }

    // A camera texture that cannot be drawn into: the device would not make
    // it a render target.
    RwRaster *PlainCameraTexture(RwInt32 size)
    {
        device->refuseTargetTextures = true;
        RwRaster *r = RwRasterCreate(size, size, 0, rwRASTERTYPECAMERATEXTURE | rwRASTERFORMAT888);
        device->refuseTargetTextures = false;
        D3DSURFACE_DESC desc = {};
        if (r)
            static_cast<IDirect3DTexture9 *>(RwD3D9RasterGetExtension(r)->texture)->GetLevelDesc(0, &desc);
        EXPECT_EQ(0u, desc.Usage & D3DUSAGE_RENDERTARGET);
        return r;
    }

    // An 8 x 8 source landed at (4, 4) of a context of the background.
    static void ExpectLanded(RwRaster *context, RwUInt32 source, RwUInt32 background, const std::string &what)
    {
        EXPECT_EQ(Pixel(context, 4, 4), source) << what;
        EXPECT_EQ(Pixel(context, 11, 11), source) << what;
        EXPECT_EQ(Pixel(context, 3, 3), background) << what;
        EXPECT_EQ(Pixel(context, 12, 11), background) << what;
    }

    RwRaster *screen = nullptr;
};

const char *KindName(RwUInt8 type)
{
    static const char *names[] = {"normal", "z-buffer", "camera", "3", "texture", "camera texture"};
    return names[type];
}

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

// Every pairing that the table sends to a copy or a quad lands the source's
// pixels in the context, by all three calls, on a device that refuses copies
// outside their pool rules: render targets into textures through system
// memory, textures through locks, render targets among themselves by
// StretchRect.
TEST_F(RasterRender, EveryCopyAndQuadPairingLandsItsPixels)
{
    device->strictCopies = true;
    const RwUInt8 kinds[] = {rwRASTERTYPENORMAL, rwRASTERTYPETEXTURE, rwRASTERTYPECAMERA, rwRASTERTYPECAMERATEXTURE};
    const RwUInt32 source = 0xC08040, background = 0x204060;
    for (int call = 0; call < 3; call++) {
        for (RwUInt8 to : kinds) {
            for (RwUInt8 from : kinds) {
                RwRaster *context = Make(to, 16, background);
                RwRaster *raster = Make(from, 8, source);
                ASSERT_TRUE(context && raster);
                device->ResetLog();
                ASSERT_TRUE(RwRasterPushContext(context));
                const RwRect at = {4, 4, 8, 8};
                RwRaster *done = call == 0   ? RwRasterRender(raster, 4, 4)
                                 : call == 1 ? RwRasterRenderScaled(raster, &at)
                                             : RwRasterRenderFast(raster, 4, 4);
                RwRasterPopContext();
                EndScene();
                const std::string what = std::string(KindName(from)) + " into " + KindName(to) + " by call " +
                                         std::to_string(call);
                EXPECT_NE(done, nullptr) << what;
                EXPECT_EQ("", device->Refusals()) << what;
                ExpectLanded(context, source, background, what);
                RwRasterDestroy(raster);
                RwRasterDestroy(context);
            }
        }
    }

    // A part of a texture copied within that texture.
    RwRaster *texture = Make(rwRASTERTYPETEXTURE, 16, background);
    RwRaster *corner = RwRasterCreate(0, 0, 0, rwRASTERTYPETEXTURE | rwRASTERDONTALLOCATE);
    const RwRect cornerRect = {0, 0, 4, 4};
    ASSERT_NE(RwRasterMakeSubRaster(corner, texture, &cornerRect), nullptr);
    ASSERT_TRUE(RwRasterPushContext(corner));
    RwRasterClear(static_cast<RwInt32>(0xFF000000 | source));
    RwRasterPopContext();
    ASSERT_TRUE(RwRasterPushContext(texture));
    EXPECT_NE(RwRasterRender(corner, 8, 8), nullptr);
    RwRasterPopContext();
    EXPECT_EQ(Pixel(texture, 8, 8), source);
    EXPECT_EQ(Pixel(texture, 11, 11), source);
    EXPECT_EQ(Pixel(texture, 7, 7), background);
    EXPECT_EQ(Pixel(texture, 12, 12), background);
    RwRasterDestroy(corner);
    RwRasterDestroy(texture);
}

// A camera texture the device could not make a render target is a plain
// default-pool texture: clears, camera copies and quads still reach it, on a
// device that keeps to the pool rules (through a render target and system
// memory, never by StretchRect or ColorFill into it).
TEST_F(RasterRender, CameraTexturesThatCannotBeDrawnIntoTakeClearsCopiesAndQuads)
{
    const RwUInt32 source = 0xC08040, background = 0x204060;
    for (RwUInt8 from : {rwRASTERTYPECAMERA, rwRASTERTYPETEXTURE, rwRASTERTYPECAMERATEXTURE}) {
        RwRaster *context = PlainCameraTexture(16);
        RwRaster *raster = Make(from, 8, source);
        ASSERT_TRUE(context && raster);
        device->strictCopies = true;
        device->ResetLog();
        ASSERT_TRUE(RwRasterPushContext(context));
        EXPECT_TRUE(RwRasterClear(static_cast<RwInt32>(0xFF000000 | background)));
        EXPECT_NE(RwRasterRender(raster, 4, 4), nullptr) << KindName(from);
        RwRasterPopContext();
        EndScene();
        EXPECT_EQ("", device->Refusals()) << KindName(from);
        EXPECT_EQ(rwD3D9Cache.depthSurface, rwD3D9Driver.defaultDepthSurface) << KindName(from);
        ExpectLanded(context, source, background, KindName(from));
        RwRasterDestroy(raster);
        RwRasterDestroy(context);
    }

    // As a source it is read through a render target, where the device can
    // stretch from textures.
    if (!(rwD3D9Driver.caps.DevCaps2 & D3DDEVCAPS2_CAN_STRETCHRECT_FROM_TEXTURES))
        return;
    RwRaster *plain = PlainCameraTexture(8);
    ASSERT_NE(plain, nullptr);
    ASSERT_TRUE(RwRasterPushContext(plain));
    RwRasterClear(static_cast<RwInt32>(0xFF000000 | source));
    RwRasterPopContext();
    RwRaster *texture = Make(rwRASTERTYPETEXTURE, 16, background);
    device->strictCopies = true;
    device->ResetLog();
    ASSERT_TRUE(RwRasterPushContext(texture));
    EXPECT_NE(RwRasterRender(plain, 4, 4), nullptr);
    RwRasterPopContext();
    EXPECT_EQ("", device->Refusals());
    ExpectLanded(texture, source, background, "as a source");
    RwRasterDestroy(texture);
    RwRasterDestroy(plain);
}

// A cleared z-buffer holds depth 1.0 over its rectangle: a quad at depth 0.5
// shows there and not where the depth stayed 0.
TEST_F(RasterRender, ClearingAZBufferSetsDepthOne)
{
    RwRaster *depth = RwRasterCreate(1024, 768, 0, rwRASTERTYPEZBUFFER);
    ASSERT_NE(depth, nullptr);
    ASSERT_EQ(real->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 0.0f, 0), D3D_OK);
    ASSERT_TRUE(RwRasterPushContext(depth));
    const RwRect left = {0, 0, 512, 768};
    EXPECT_TRUE(RwRasterClearRect(&left, 0x12345678));
    RwRasterPopContext();
    RwD3D9SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    RwD3D9SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    RwD3D9SetCullMode(D3DCULL_NONE);
    RwD3D9SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    ASSERT_EQ(real->BeginScene(), D3D_OK);
    ScreenVertex quad[4];
    FillQuad(quad, 100, 100, 800, 0xFFFF0000);
    RwD3D9FlushRenderStates();
    real->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ScreenVertex));
    real->EndScene();
    EXPECT_TRUE(NearColour(ReadPixel(300, 300), 0xFF0000)) << std::hex << ReadPixel(300, 300);
    EXPECT_TRUE(NearColour(ReadPixel(700, 300), 0x000000)) << std::hex << ReadPixel(700, 300);
    RwRasterDestroy(depth);
}

// A quad drawn into the camera while the device waits for its reset (inside
// a camera update, after a loss) resets it first: the depth surface it puts
// back for the 3D drawing that follows is the reset device's, not the one the
// reset released.
TEST_F(RasterRender, AQuadThatResetsTheDevicePutsBackItsDepthSurface)
{
    RwRaster *red = Filled(4, 0xFFFF0000);
    ASSERT_TRUE(RwRasterPushContext(screen));
    RwD3D9SetDepthStencilSurface(rwD3D9Driver.defaultDepthSurface);
    device->lost = true;
    EXPECT_TRUE(RwRasterRender(red, 100, 100));
    RwRasterPopContext();
    EXPECT_FALSE(device->lost);
    IDirect3DSurface9 *bound = nullptr;
    ASSERT_EQ(real->GetDepthStencilSurface(&bound), D3D_OK);
    bound->Release();
    EXPECT_EQ(bound, rwD3D9Driver.defaultDepthSurface);
    EXPECT_EQ(rwD3D9Cache.depthSurface, rwD3D9Driver.defaultDepthSurface);
    EndScene();
    EXPECT_TRUE(NearColour(ReadPixel(101, 101), 0xFF0000, 4)) << std::hex << ReadPixel(101, 101);
    RwRasterDestroy(red);
}

}  // namespace
