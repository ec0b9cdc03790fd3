// Tests of 2D immediate-mode drawing on the device: pixels, buffers, offsets and refusals.
#include <vector>

#include "d3d9testcamera.h"
#include "gfx/core/im3d.h"
#include "gfx/d3d9/d3d9im2d.h"

namespace {

struct V2D {
    float x, y, z, rhw;
    DWORD colour;
    float u, v;
};
static_assert(sizeof(V2D) == 28, "2D vertex is 28 bytes");

// Corners of a square: top-left, top-right, bottom-left, bottom-right.
std::vector<V2D> Square(float x, float y, float size, DWORD colour)
{
    return {{x, y, 0.5f, 1, colour, 0, 0},
            {x + size, y, 0.5f, 1, colour, 0, 0},
            {x, y + size, 0.5f, 1, colour, 0, 0},
            {x + size, y + size, 0.5f, 1, colour, 0, 0}};
}

class Im2D : public CameraDevice {};

TEST_F(Im2D, EveryEntryPointDrawsItsPixels)
{
    std::vector<V2D> s = Square(100, 100, 40, 0xFF00FF00);
    std::vector<V2D> six = {s[0], s[1], s[2], s[2], s[1], s[3]};
    RwUInt16 quad[6] = {0, 1, 2, 2, 1, 3};
    RwUInt16 direct[6] = {0, 1, 2, 3, 4, 5};
    // Two triangles, a strip, indices over fewer vertices (the index buffer)
    // and as many indices as vertices (expanded).
    for (int c = 0; c < 4; c++) {
        SCOPED_TRACE(c);
        ASSERT_TRUE(Begin());
        device->ResetLog();
        if (c == 0)
            EXPECT_TRUE(RwD3D9Im2DRenderTriangle(s.data(), 4, 0, 1, 2) && RwD3D9Im2DRenderTriangle(s.data(), 4, 2, 1, 3));
        else if (c == 1)
            EXPECT_TRUE(RwD3D9Im2DRenderPrimitive(rwPRIMTYPETRISTRIP, s.data(), 4));
        else
            EXPECT_TRUE(RwD3D9Im2DRenderIndexedPrimitive(rwPRIMTYPETRILIST, c == 2 ? s.data() : six.data(),
                                                         c == 2 ? 4 : 6, c == 2 ? quad : direct, 6));
        EXPECT_EQ(device->Count("DrawIndexedPrimitive"), c == 2 ? 1 : 0);
        End();
        EXPECT_TRUE(NearColour(ReadPixel(110, 130), 0x00FF00));
        EXPECT_TRUE(NearColour(ReadPixel(135, 105), 0x00FF00));
        EXPECT_EQ(ReadPixel(150, 150), 0u);
    }
    // A line lights the pixels it crosses.
    std::vector<V2D> line = {{300, 200.5f, 0.5f, 1, 0xFFFF0000, 0, 0}, {400, 200.5f, 0.5f, 1, 0xFFFF0000, 0, 0}};
    ASSERT_TRUE(Begin());
    EXPECT_TRUE(RwD3D9Im2DRenderLine(line.data(), 2, 0, 1));
    End();
    EXPECT_TRUE(NearColour(ReadPixel(350, 200), 0xFF0000));
}

TEST_F(Im2D, BadBatchesAreRefusedAndDrawNothing)
{
    std::vector<V2D> s = Square(0, 0, 8, 0xFFFFFFFF);
    std::vector<RwUInt16> many(10002);
    for (size_t i = 0; i < many.size(); i++)
        many[i] = static_cast<RwUInt16>(i % 4);
    RwUInt16 outside[6] = {0, 1, 2, 2, 1, 4};
    ASSERT_TRUE(Begin());
    device->ResetLog();
    EXPECT_FALSE(RwD3D9Im2DRenderIndexedPrimitive(rwPRIMTYPETRILIST, s.data(), 4, many.data(), 10002));
    EXPECT_FALSE(RwD3D9Im2DRenderIndexedPrimitive(rwPRIMTYPETRILIST, s.data(), 4, outside, 6));
    EXPECT_FALSE(RwD3D9Im2DRenderLine(s.data(), 4, 0, 4));
    EXPECT_FALSE(RwD3D9Im2DRenderTriangle(s.data(), 4, -1, 1, 2));
    EXPECT_FALSE(RwD3D9Im2DRenderPrimitive(99, s.data(), 4));
    EXPECT_FALSE(RwD3D9Im2DRenderPrimitive(rwPRIMTYPETRILIST, nullptr, 4));
    EXPECT_FALSE(RwD3D9Im2DRenderPrimitive(rwPRIMTYPETRILIST, s.data(), 2));
    End();
    EXPECT_EQ(device->Count("DrawPrimitive") + device->Count("DrawIndexedPrimitive"), 0);
}

TEST_F(Im2D, SubRasterCameraMovesEveryVertexByItsOffset)
{
    RwRaster *whole = camera->frameBuffer;
    RwRaster *part = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    const RwRect rect = {16, 8, 200, 100};
    ASSERT_NE(RwRasterMakeSubRaster(part, whole, &rect), nullptr);
    RwRGBA black = {0, 0, 0, 255};
    RwCameraClear(camera, &black, rwCAMERACLEARIMAGE);
    camera->frameBuffer = part;
    std::vector<V2D> s = Square(0, 0, 10, 0xFF0000FF);
    ASSERT_NE(RwCameraBeginUpdate(camera), nullptr);
    EXPECT_TRUE(RwD3D9Im2DRenderPrimitive(rwPRIMTYPETRISTRIP, s.data(), 4));
    RwCameraEndUpdate(camera);
    camera->frameBuffer = whole;
    RwRasterDestroy(part);
    EXPECT_TRUE(NearColour(ReadPixel(17, 9), 0x0000FF));
    EXPECT_TRUE(NearColour(ReadPixel(25, 17), 0x0000FF));
    EXPECT_EQ(ReadPixel(27, 19), 0u);
}

TEST_F(Im2D, OwnVertexBufferAppendsThenWrapsWithDiscard)
{
    const DWORD caps = rwD3D9Driver.caps.DevCaps;
    rwD3D9Driver.caps.DevCaps &= ~static_cast<DWORD>(D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    ASSERT_TRUE(RwD3D9Im2DOpen());
    EXPECT_TRUE(RwD3D9Im2DUsesOwnVertexBuffer());
    if (RwD3D9Im2DUsesOwnVertexBuffer()) {
        std::vector<V2D> lines(9360, {2000, 2000, 0.5f, 1, 0, 0, 0});
        ASSERT_TRUE(Begin());
        EXPECT_TRUE(RwD3D9Im2DRenderPrimitive(rwPRIMTYPELINELIST, lines.data(), 9360));
        EXPECT_EQ(RwD3D9Im2DGetNextVertex(), 9360u);
        EXPECT_TRUE(RwD3D9Im2DRenderLine(lines.data(), 2, 0, 1));
        EXPECT_EQ(RwD3D9Im2DGetNextVertex(), 9362u);
        EXPECT_TRUE(RwD3D9Im2DRenderLine(lines.data(), 2, 0, 1));
        EXPECT_EQ(RwD3D9Im2DGetNextVertex(), 2u);
        // More than the buffer holds is refused, not written past its end.
        std::vector<V2D> tooMany(9363, lines[0]);
        EXPECT_FALSE(RwD3D9Im2DRenderPrimitive(rwPRIMTYPELINELIST, tooMany.data(), 9363));
        End();
    }
    rwD3D9Driver.caps.DevCaps = caps;
    ASSERT_TRUE(RwD3D9Im2DOpen());
    EXPECT_FALSE(RwD3D9Im2DUsesOwnVertexBuffer());
}

TEST_F(Im2D, DrawsAgainAfterDeviceReset)
{
    ASSERT_TRUE(ForceReset());
    std::vector<V2D> s = Square(500, 300, 20, 0xFFFFFF00);
    RwUInt16 quad[6] = {0, 1, 2, 2, 1, 3};
    ASSERT_TRUE(Begin());
    EXPECT_TRUE(RwD3D9Im2DRenderIndexedPrimitive(rwPRIMTYPETRILIST, s.data(), 4, quad, 6));
    End();
    EXPECT_TRUE(NearColour(ReadPixel(510, 310), 0xFFFF00));
}

}  // namespace
